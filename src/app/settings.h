#pragma once
// The process-wide settings record: options, naming mode and output port, the file list.

#include <cstdint>

#include "app/file_list.h"

namespace quarry {

// Bits of the option word.
namespace opt {
inline constexpr uint16_t kCopyData = 0x0001;
inline constexpr uint16_t kCopyResource = 0x0002;
inline constexpr uint16_t kCopyMacBinary = 0x0004;
inline constexpr uint16_t kCopyModeMask = kCopyData | kCopyResource | kCopyMacBinary;
inline constexpr uint16_t kFilesOnly = 0x0100;
inline constexpr uint16_t kExtendedListing = 0x0200;
inline constexpr uint16_t kSignatureListing = 0x0800;
}  // namespace opt

enum class NamingMode : uint8_t { Long = 0, Short = 1, AskEachFile = 2 };

struct AppSettings {
    uint16_t optionWord = opt::kCopyData;
    // Low byte: naming mode; second byte: output port (0 = file, 1-3 LPT1-LPT3, 4-7 COM1-COM4).
    uint16_t destinationSetting = 0;
    FileList list;
    // "Use Current Directory": copies go to the current directory without asking for a target.
    bool useCurrentDirectory = false;

    NamingMode namingMode() const { return static_cast<NamingMode>(destinationSetting & 0xFF); }
    void setNamingMode(NamingMode mode) {
        destinationSetting = static_cast<uint16_t>((destinationSetting & 0xFF00) | static_cast<uint8_t>(mode));
    }
    void setCopyMode(uint16_t mode) {
        optionWord = static_cast<uint16_t>((optionWord & ~opt::kCopyModeMask) | mode);
    }
};

}  // namespace quarry
