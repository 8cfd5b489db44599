#pragma once
// The error detection code of a CD-ROM data sector (ECMA-130, 14.3): a CRC-32 with the
// polynomial x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1 (0x8001801B), least significant bit
// of each byte first, starting from 0 and with no final inversion. A mode 1 sector keeps it over
// bytes 0-2063 at byte 2064, a mode 2 form 1 (CD-ROM XA) sector over bytes 16-2071 at byte
// 2072, both little-endian.

#include <cstddef>
#include <cstdint>

namespace quarry {

uint32_t cdEdc(const uint8_t* bytes, size_t length);

}  // namespace quarry
