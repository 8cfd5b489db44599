#pragma once
// Where the fields of MacBinary, AppleSingle/AppleDouble and BinHex lie, and the Finder
// information they carry: the one layout that the copy layer's writers (copy/fork_formats.cpp)
// write and fork_readers.cpp reads, for PUT and for disk images wrapped in these forms.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quarry {

// The form of a binary copy (/B). MacBinary I is the program's own and stays the default;
// the others are what today's tools read: MacBinary II and III with their CRC, AppleDouble's
// "._" pair, AppleSingle and BinHex 4.0.
enum class BinaryFormat : uint8_t { MacBinaryI, MacBinaryII, MacBinaryIII, AppleDouble, AppleSingle, BinHex };

inline constexpr size_t kMacBinaryHeaderSize = 128;

// CRC-16/XMODEM (polynomial 0x1021, initial value 0), as MacBinary II and BinHex use it.
uint16_t Crc16Xmodem(const uint8_t* data, size_t length, uint16_t crc = 0);

// quarry-cli's names of the formats: mb1, mb2, mb3, appledouble, applesingle, binhex.
std::optional<BinaryFormat> BinaryFormatNamed(std::string_view name);
// The name a person reads: "MacBinary II", "AppleDouble" ...
std::string_view BinaryFormatTitle(BinaryFormat format);

}  // namespace quarry

namespace quarry::forklayout {

// MacBinary header fields (the MacBinary I, II and III documents' offsets).
namespace mb {
inline constexpr size_t kOldVersion = 0;  // zero in every version
inline constexpr size_t kNameLength = 1;
inline constexpr size_t kName = 2;
inline constexpr size_t kMaxName = 63;
inline constexpr size_t kTypeAndCreator = 65;  // fdType, fdCreator
inline constexpr size_t kType = 65;
inline constexpr size_t kCreator = 69;
inline constexpr size_t kFlagsHigh = 73;       // fdFlags' high byte
inline constexpr size_t kZeroFill = 74;        // zero in every version
inline constexpr size_t kLocation = 75;        // fdLocation
inline constexpr size_t kFolder = 79;          // fdFldr
inline constexpr size_t kProtected = 81;       // bit 0: the file is locked
inline constexpr size_t kZeroFill2 = 82;       // zero in every version
inline constexpr size_t kDataLength = 83;
inline constexpr size_t kRsrcLength = 87;
inline constexpr size_t kCreated = 91;
inline constexpr size_t kModified = 95;
inline constexpr size_t kFlagsLow = 101;  // fdFlags' low byte, from version II on
inline constexpr size_t kSignature = 102;  // "mBIN" in MacBinary III
inline constexpr size_t kScript = 106;     // fdScript, MacBinary III
inline constexpr size_t kExtendedFlags = 107;  // fdXFlags, MacBinary III
inline constexpr size_t kSecondaryHeader = 120;  // length of a header after this one, version II on
inline constexpr size_t kWriterVersion = 122;
inline constexpr size_t kReaderVersion = 123;
inline constexpr size_t kCrc = 124;
inline constexpr uint8_t kVersionII = 129;
inline constexpr uint8_t kVersionIII = 130;
// MacBinary I leaves everything from the low flag byte to the CRC zero. Readers that take a
// file for MacBinary I without a CRC to go by ask for that.
inline constexpr size_t kVersionIZeroFrom = 101;
inline constexpr size_t kVersionIZeroTo = 125;
// The old readers' limit on a fork of MacBinary I, which keeps a data file that happens to have
// zeros in the right places from passing for one.
inline constexpr uint32_t kVersionIMaxFork = 8u << 20;
}  // namespace mb

// Fields of the Finder information (FInfo) and the extended Finder information (FXInfo).
namespace finfo {
inline constexpr size_t kFlags = 8;          // fdFlags
inline constexpr size_t kLocation = 10;      // fdLocation
inline constexpr size_t kFolder = 14;        // fdFldr
inline constexpr size_t kScript = 8;         // FXInfo's fdScript
inline constexpr size_t kExtendedFlags = 9;  // FXInfo's fdXFlags
}  // namespace finfo

// AppleSingle and AppleDouble (Apple's "AppleSingle/AppleDouble Formats for Foreign Files
// Developer's Note", versions 1 and 2): a 26-byte header, 12-byte entry descriptors, then the
// entries wherever the descriptors place them.
namespace as {
inline constexpr uint32_t kSingleMagic = 0x00051600;
inline constexpr uint32_t kDoubleMagic = 0x00051607;
inline constexpr uint32_t kVersion1 = 0x00010000;
inline constexpr uint32_t kVersion2 = 0x00020000;
inline constexpr size_t kMagic = 0;
inline constexpr size_t kVersion = 4;
inline constexpr size_t kEntryCount = 24;
inline constexpr size_t kHeaderSize = 26;      // magic, version, 16 bytes of filler, entry count
inline constexpr size_t kDescriptorSize = 12;  // entry ID, offset, length
inline constexpr uint32_t kDataFork = 1;
inline constexpr uint32_t kResourceFork = 2;
inline constexpr uint32_t kRealName = 3;
inline constexpr uint32_t kFileDates = 8;   // creation, modification, backup, access
inline constexpr uint32_t kFinderInfo = 9;  // FInfo and FXInfo
inline constexpr size_t kFileDatesSize = 16;
inline constexpr size_t kFinderInfoSize = 32;
inline constexpr size_t kDateCount = 3;     // the access date has no place in a Macintosh file
inline constexpr size_t kMaxName = 255;
// Dates count seconds from 2000-01-01 00:00 as a signed number; this one means "unknown".
inline constexpr uint32_t kUnknownDate = 0x80000000u;
inline constexpr int64_t kMacSecondsAt2000 = 3029529600;
}  // namespace as

// BinHex 4.0.
namespace hqx {
// The line that opens the text as this program writes it, and the start of it that every
// writer keeps: they went on in their own words, "with BinHex 4.0)" (BinHex itself, hfsutils),
// "; you knew that already.)" (macutils).
inline constexpr std::string_view kIntroductionLine = "(This file must be converted with BinHex 4.0)\n";
inline constexpr std::string_view kIntroductionStart = "(This file must be converted";
inline constexpr char kDigits[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
// Each character's six bits, or kNotADigit.
inline constexpr uint8_t kNotADigit = 0xFF;
inline constexpr std::array<uint8_t, 256> kDigitValues = [] {
    std::array<uint8_t, 256> values{};
    values.fill(kNotADigit);
    for (uint8_t i = 0; i < 64; ++i) values[static_cast<unsigned char>(kDigits[i])] = i;
    return values;
}();
inline constexpr char kFrame = ':';
inline constexpr uint8_t kRunMarker = 0x90;
// A run is written as the byte, the marker and its length when it is at least this long; a
// run is at most 255 bytes, and a longer one starts again with the byte.
inline constexpr unsigned kShortestRun = 4;
inline constexpr unsigned kLongestRun = 255;
inline constexpr unsigned kLineLength = 64;
inline constexpr size_t kMaxName = 63;
// The most bytes one encoded byte can stand for: a run marker and its count repeat the byte
// before them up to 254 more times, and they take two encoded bytes.
inline constexpr uint64_t kMostExpansion = 128;
// The type, creator, flags and fork lengths after the name and its version byte.
inline constexpr size_t kHeaderTail = 4 + 4 + 2 + 4 + 4;
// How far into a file the introduction is looked for: mail and news headers come before it.
inline constexpr size_t kSearchedHead = 64 * 1024;
}  // namespace hqx

}  // namespace quarry::forklayout
