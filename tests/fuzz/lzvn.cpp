// Fuzz harness: an LZVN stream as a compressed file's chunk holds it.
//
// Input: two bytes giving the output's length (little-endian, in units of two bytes, so up to
// 128 KiB: a chunk is 64 KiB), then the stream. The decoder must end with the output filled or
// with a fault, never reading or writing outside its spans.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hfsplus/lzvn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t length = (size_t{data[0]} | size_t{data[1]} << 8) * 2;
    std::vector<uint8_t> out(length);
    (void)quarry::decodeLzvn(std::span(data + 2, size - 2), out);
    return 0;
}
