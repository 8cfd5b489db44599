#pragma once
// The forms a binary copy takes: both forks and the Finder information in one file
// (MacBinary I, II and III, AppleSingle, BinHex 4.0) or in a pair (AppleDouble: the data fork
// as a plain file and a "._" file beside it with everything else).
//
// Every writer streams: the forks pass through in the fork reader's transfers, so a fork of any
// size costs only the reader's buffer.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "common/result.h"
#include "copy/copy_context.h"
#include "device/containers/fork_layout.h"
#include "volume/volume_entry.h"

namespace quarry {

class ByteSink;

// Appends one fork of the file to sink.
using ForkCopier = std::function<Status(ForkKind fork, ByteSink& sink)>;

// The 128-byte MacBinary header of the file in the given version.
std::array<uint8_t, kMacBinaryHeaderSize> MacBinaryHeader(const VolumeEntry& file,
                                                          BinaryFormat format = BinaryFormat::MacBinaryI);
// MacBinary I, II or III: the header and both forks. MacBinary I leaves the resource fork
// unpadded, as it always has; II and III pad both forks to 128 bytes, as their readers expect.
Status WriteMacBinary(const VolumeEntry& file, BinaryFormat format, const ForkCopier& forks, ByteSink& sink);
// AppleSingle version 2: real name, dates, Finder information, resource fork, data fork.
Status WriteAppleSingle(const VolumeEntry& file, const ForkCopier& forks, ByteSink& sink);
// The "._" file of AppleDouble version 2: real name, dates, Finder information and the resource
// fork. The data fork is the plain file beside it.
Status WriteAppleDoubleHeader(const VolumeEntry& file, const ForkCopier& forks, ByteSink& sink);
// BinHex 4.0: the header, the data fork and the resource fork, each with its CRC, run-length
// encoded and written six bits to a character in lines of 64.
Status WriteBinHex(const VolumeEntry& file, const ForkCopier& forks, ByteSink& sink);

// The extension the format adds to a PC name ("as", "hqx"), or an empty view.
std::string_view BinaryFormatExtension(BinaryFormat format);
// True for AppleDouble, which writes two files where the others write one.
inline bool WritesPair(BinaryFormat format) { return format == BinaryFormat::AppleDouble; }
// The prefix of AppleDouble's second file, as macOS, netatalk and Samba name it.
inline constexpr std::string_view kAppleDoublePrefix = "._";

}  // namespace quarry
