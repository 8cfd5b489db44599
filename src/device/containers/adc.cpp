#include "device/containers/adc.h"

#include <cstring>
#include <string>

namespace quarry {

// Each code begins with one byte:
//   1nnnnnnn            n+1 literal bytes follow (1..128)
//   01nnnnnn hhhhhhhh llllllll   copy n+4 bytes (4..67) from distance hl+1 (1..65536)
//   00nnnndd dddddddd   copy n+3 bytes (3..18) from distance d+1 (1..1024)
// A copy may overlap what it produces; that is how a run of one byte is coded, so it goes a byte
// at a time.
Status adcDecompress(const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength) {
    size_t i = 0, o = 0;
    while (i < inLength && o < outLength) {
        const uint8_t code = in[i++];
        if (code & 0x80) {
            const size_t count = (code & 0x7F) + 1u;
            if (count > inLength - i) return Fault{"ADC literal run past the end of the chunk at byte " + std::to_string(i - 1)};
            if (count > outLength - o) return Fault{"ADC data longer than its chunk"};
            std::memcpy(out + o, in + i, count);
            i += count;
            o += count;
            continue;
        }
        size_t count, distance;
        if (code & 0x40) {
            if (inLength - i < 2) return Fault{"ADC copy cut short at byte " + std::to_string(i - 1)};
            count = (code & 0x3Fu) + 4;
            distance = (size_t{in[i]} << 8 | in[i + 1]) + 1;
            i += 2;
        } else {
            if (inLength - i < 1) return Fault{"ADC copy cut short at byte " + std::to_string(i - 1)};
            count = ((code >> 2) & 0x0Fu) + 3;
            distance = (size_t{code & 0x03u} << 8 | in[i]) + 1;
            i += 1;
        }
        if (distance > o) return Fault{"ADC copy from before the start of the chunk at byte " + std::to_string(o)};
        if (count > outLength - o) return Fault{"ADC data longer than its chunk"};
        for (size_t k = 0; k < count; ++k, ++o) out[o] = out[o - distance];
    }
    if (o != outLength) return Fault{"ADC data ends after " + std::to_string(o) + " of " + std::to_string(outLength) + " bytes"};
    return Status::ok();
}

}  // namespace quarry
