#include "device/containers/cd_edc.h"

#include <array>

namespace quarry {
namespace {

// The polynomial with its bits reversed, as a CRC taken least significant bit first uses it.
constexpr uint32_t kReflectedPolynomial = 0xD8018001;

// Slicing by eight: table k gives the CRC of a byte followed by k zero bytes, so eight bytes
// are folded in with eight independent look-ups. A CRC taken a byte at a time made reading a
// large BIN image several times slower than reading the same volume bare.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables makeTables() {
    Tables t{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t crc = b;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? kReflectedPolynomial : 0);
        t[0][b] = crc;
    }
    for (size_t k = 1; k < t.size(); ++k)
        for (uint32_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr Tables kTables = makeTables();

}  // namespace

uint32_t cdEdc(const uint8_t* p, size_t length) {
    uint32_t crc = 0;
    for (; length >= 8; p += 8, length -= 8) {
        const uint32_t low = crc ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
        crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^ kTables[4][low >> 24] ^
              kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
    }
    for (; length > 0; ++p, --length) crc = (crc >> 8) ^ kTables[0][(crc ^ *p) & 0xFF];
    return crc;
}

}  // namespace quarry
