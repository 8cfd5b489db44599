#pragma once
// Reading the forms that the copy layer writes (copy/fork_formats.h) back: a PC file in
// MacBinary I, II or III, AppleSingle or BinHex 4.0, or an AppleDouble pair, recognised by its
// content (never by its name), as the forks and Finder information of one Macintosh file. PUT
// takes files in with it, and the image opener unwraps disk images with it.
//
//     Result<std::optional<MacFileParts>> parts = ReadMacFile("/home/me/Game.bin");
//     if (parts && *parts) ForEachForkChunk((*parts)->data, [&](const uint8_t* p, size_t n) { ... });
//
// Forks that lie whole in a file (MacBinary, AppleSingle, AppleDouble) are named by their byte
// range and read when they are copied; BinHex's are decoded into memory.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "device/containers/fork_layout.h"

namespace quarry {

// One fork: `length` bytes from `offset` of the file `path`, or, when `inMemory`, the bytes
// of `decoded`.
struct ForkBytes {
    std::string path;
    uint64_t offset = 0;
    uint64_t length = 0;
    bool inMemory = false;
    std::vector<uint8_t> decoded;
};

// A Macintosh file as a PC file carries it.
struct MacFileParts {
    BinaryFormat format = BinaryFormat::MacBinaryI;
    std::string macName;                           // Macintosh Roman; empty when the form names none
    std::array<uint8_t, 16> finderInfo{};          // type, creator, Finder flags, location, folder
    std::array<uint8_t, 16> extendedFinderInfo{};  // FXInfo, where the form keeps it
    // Macintosh seconds of the wall clock; nothing where the form keeps no date or holds zero
    // (MacBinary) or "unknown" (AppleSingle) there.
    std::optional<uint32_t> created, modified, backedUp;
    bool locked = false;
    ForkBytes data, rsrc;
};

// The file at path in one of the single-file forms, recognised by its content: nothing when it
// is in none of them; a fault naming what is wrong when it is one but damaged (a CRC that does
// not match, forks that run past the end of the file, a BinHex text cut short).
// MacBinary I carries neither signature nor CRC: it is taken only with zeros wherever its header
// has nothing, forks of at most 8 MB and a file that ends after the last fork or its padding;
// anything else is nothing rather than a fault. MacBinary II whose CRC does not match is not
// MacBinary II.
Result<std::optional<MacFileParts>> ReadMacFile(const std::string& path);
// Where a fork's bytes are handed as they are decoded.
using ForkTaker = std::function<Status(const uint8_t*, size_t)>;
// The same for a file already open, which faults call `name`: a disk image wrapped in one of the
// forms. BinHex's data fork is handed to takeDataFork as it is decoded rather than kept (its
// ForkBytes then has the length and no bytes); the other forms' forks are byte ranges of fd,
// to be read there (their path is only the name, so ForEachForkChunk cannot read them).
Result<std::optional<MacFileParts>> ReadOpenMacFile(int fd, const std::string& name, const ForkTaker& takeDataFork);
// The AppleDouble pair: the data file and its "._" file (AppleDouble version 1 or 2, or an
// AppleSingle header holding no data fork). Nothing when headerPath is not AppleDouble.
Result<std::optional<MacFileParts>> ReadAppleDouble(const std::string& dataPath, const std::string& headerPath);

// Hands the fork's bytes to take in chunks of at most 1 MB, in order; stops at the first
// fault (take's or a read's: "Cannot read file.bin: ...").
Status ForEachForkChunk(const ForkBytes& fork, const std::function<Status(const uint8_t*, size_t)>& take);

}  // namespace quarry
