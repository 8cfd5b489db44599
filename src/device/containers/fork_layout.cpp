#include "device/containers/fork_layout.h"

namespace quarry {
namespace {

// The CRC a byte adds, one entry per value of the register's high byte, so that the forks'
// CRCs cost a lookup per byte rather than eight shifts.
constexpr std::array<uint16_t, 256> kCrcTable = [] {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        table[i] = crc;
    }
    return table;
}();
}  // namespace

uint16_t Crc16Xmodem(const uint8_t* data, size_t length, uint16_t crc) {
    for (size_t i = 0; i < length; ++i) crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

namespace {
struct FormatName {
    BinaryFormat format;
    std::string_view option;
    std::string_view title;
};
constexpr FormatName kFormatNames[] = {
    {BinaryFormat::MacBinaryI, "mb1", "MacBinary I"},      {BinaryFormat::MacBinaryII, "mb2", "MacBinary II"},
    {BinaryFormat::MacBinaryIII, "mb3", "MacBinary III"},  {BinaryFormat::AppleDouble, "appledouble", "AppleDouble"},
    {BinaryFormat::AppleSingle, "applesingle", "AppleSingle"}, {BinaryFormat::BinHex, "binhex", "BinHex 4.0"},
};

}  // namespace

std::optional<BinaryFormat> BinaryFormatNamed(std::string_view name) {
    for (const FormatName& f : kFormatNames)
        if (f.option == name) return f.format;
    return std::nullopt;
}

std::string_view BinaryFormatTitle(BinaryFormat format) {
    for (const FormatName& f : kFormatNames)
        if (f.format == format) return f.title;
    return {};
}

}  // namespace quarry
