#pragma once
// An LZVN encoder for the tests, written from the format's opcode table (see hfsplus/lzvn.h)
// without looking at the decoder: greedy matching over a hash of 3-byte sequences, each match
// written in the smallest opcode form that can carry it. It makes streams of every opcode kind
// from ordinary data; its output is checked by decoding it, so a fault in either shows.

#include <cstdint>
#include <vector>

namespace quarry::test {

// Encodes `data` as one LZVN stream ending with the end-of-stream mark and its seven zero bytes
// of padding, as Apple's encoder ends them.
std::vector<uint8_t> encodeLzvn(const std::vector<uint8_t>& data);

}  // namespace quarry::test
