#pragma once
// Scratch files of the volume code and the free-space test of the PC side.

#include <cstdint>
#include <string>

namespace quarry {

class UiPort;

// True when the file system holding path has room for bytes: whole clusters of the request are
// strictly fewer than the free clusters.
bool HasFreeSpace(const std::string& path, uint64_t bytes);

// A new, uniquely named file in the system's temporary directory whose name begins with prefix.
// Returns its descriptor, or -1 after reporting a fatal error through the UI port.
int CreateWorkFile(UiPort& ui, std::string& pathOut, const char* prefix, uint64_t bytes);

}  // namespace quarry
