#pragma once
// What the copy engine works with: the volume it copies from, its own running state, the
// settings that shape a copy (mode, naming, port) and the log.

#include <array>
#include <cstdint>
#include <string>

#include "common/log_file.h"
#include "device/containers/fork_layout.h"
#include "copy/manifest.h"
#include "copy/type_creator.h"
#include "common/ui_port.h"
#include "volume/mounted_volume.h"

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

// What a copy does at a sector it cannot read: stop that file and remove what was written of it
// (the program's choice, so that no copy looks whole that is not), or, as quarry-cli's
// --keep-going asks, write zeros there, name the sector and finish the file.
enum class ReadErrors : uint8_t { StopFile, WriteZeros };

struct CopySettings {
    uint16_t optionWord = opt::kCopyData;
    // Low byte: naming mode; second byte: output port (0 = file, 1-3 LPT1-LPT3, 4-7 COM1-COM4).
    uint16_t destinationSetting = 0;
    ReadErrors readErrors = ReadErrors::StopFile;
    BinaryFormat binaryFormat = BinaryFormat::MacBinaryI;

    NamingMode namingMode() const { return static_cast<NamingMode>(destinationSetting & 0xFF); }
    void setNamingMode(NamingMode mode) {
        destinationSetting = static_cast<uint16_t>((destinationSetting & 0xFF00) | static_cast<uint8_t>(mode));
    }
    void setCopyMode(uint16_t mode) {
        optionWord = static_cast<uint16_t>((optionWord & ~opt::kCopyModeMask) | mode);
    }
};

// The state of copies to the PC.
struct CopyState {
    // Files met by copy operations in this process; never reset. Collision suffixes come from it.
    uint16_t fileCounter = 0;
    TypeCreatorTable types;
    // Whether the target's file system takes long names; decided at start-up.
    bool longNamesAvailable = true;
    // The devices behind the output ports: none for 0 (files), LPT1-LPT3, COM1-COM4.
    std::array<std::string, 8> portDevices = {"", "/dev/lp0", "/dev/lp1", "/dev/lp2",
                                              "/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"};
    // The result of the last copy by pattern: 0xFFFF when nothing matched.
    uint16_t lastResult = 0;
    // Files and folders that were not copied whole (a read or write error, no room, a name
    // taken, a folder cut short by damage, sectors written as zeros, a port that failed), so
    // that a front end can report a run as failed; never reset.
    uint32_t failures = 0;
    // The checksum manifest, when one was asked for.
    ChecksumManifest manifest;
    // Where the copy being made stands, when the front end shows it.
    bool showingProgress = false;
    CopyProgress progress;
    // The PC directory a copy is filling, relative to the directory it started in (its
    // target): "" there, else ending with "/". The manifest names files by it.
    std::string pcFolder;
};

struct CopyContext {
    MountedVolume* mounted;  // the volume copied from; none while nothing is mounted
    UiPort& port;
    bool& endingFlag;  // set by a fatal error, so that long work stops at its next step
    CopyState& state;
    const CopySettings& settings;
    LogFile& log;

    // Only a copy reaches for the volume, and no copy is asked for without one.
    MountedVolume& volume() const { return *mounted; }
    UiPort& ui() const { return port; }
    bool ending() const { return endingFlag; }
    void fatal(const std::string& text) const {
        endingFlag = true;
        port.fatalError(text);
    }
};

}  // namespace quarry
