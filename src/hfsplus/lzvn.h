#pragma once
// LZVN, the byte-oriented LZ77 coding that HFS+ file compression (decmpfs types 7 and 8) uses for
// each 64 KiB chunk. A stream is a run of opcodes, each an opcode byte and its operands followed
// by the literal bytes it carries; it ends at the end-of-stream opcode (0x06, which Apple's
// encoder pads with seven zero bytes).
//
//   small distance   LLMMMDDD DDDDDDDD + L literals        L 0-3, match MMM+3, distance 11 bits
//   medium distance  101LLMMM DDDDDDMM DDDDDDDD + literals  match (MMM<<2|MM)+3, distance 14 bits
//   large distance   LLMMM111 DDDDDDDD DDDDDDDD + literals  distance 16 bits, little-endian
//   previous dist.   LLMMM110 + literals                   the distance of the last match
//   small literal    1110LLLL + L literals                 L 1-15
//   large literal    11100000 LLLLLLLL + L+16 literals
//   small match      1111MMMM                              M 1-15 at the previous distance
//   large match      11110000 MMMMMMMM                     M+16 at the previous distance
//   nop              0x0E, 0x16;  end of stream  0x06
//   undefined        0x1E 0x26 0x2E 0x36 0x3E, 0x70-0x7F, 0xD0-0xDF
//
// In the forms with literals, the literals come first and the match follows them. A distance
// counts back from the next byte to be written; a match may overlap the bytes it writes.

#include <cstdint>
#include <span>

#include "common/result.h"

namespace quarry {

// Decodes one LZVN stream, which must fill `out` exactly and then end with its end-of-stream
// opcode (bytes after that opcode are padding and not read). Every operand, literal run and
// distance is checked against the stream and the output: a damaged or hostile stream gives a
// fault naming the opcode and its byte offset, never a read or write outside the two spans.
// Each opcode consumes at least one input byte, so decoding ends after at most in.size() steps.
Status decodeLzvn(std::span<const uint8_t> in, std::span<uint8_t> out);

}  // namespace quarry
