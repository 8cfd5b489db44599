#pragma once
// Apple Data Compression, the oldest of the compressions UDIF images use. No library carries it.

#include <cstddef>
#include <cstdint>

#include "common/result.h"

namespace quarry {

// Decompresses `in` into exactly `outLength` bytes at `out`; a stream that asks to copy from
// before its start, runs past `out`, or ends short of it is a fault.
Status adcDecompress(const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength);

}  // namespace quarry
