#pragma once
// Copies sent straight to a printer or serial port instead of a file.

#include <array>

namespace quarry {

struct CopyContext;

// Indexed by the port byte of the destination setting; 0 is a normal copy to files.
inline constexpr std::array<const char*, 8> OutputPortNames = {"", "LPT1", "LPT2", "LPT3", "COM1", "COM2", "COM3", "COM4"};

// Opens the device behind port index 1..7 for writing. -1 after a fatal error when it cannot.
int OpenOutputPort(const CopyContext& context, int port);
// The port index of a name such as "COM2" (any case), or -1.
int PortIndexOf(const char* name);

}  // namespace quarry
