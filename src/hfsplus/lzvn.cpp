#include "hfsplus/lzvn.h"

#include <cstdio>
#include <string>

namespace quarry {
namespace {

enum class Op {
    SmallDistance,
    MediumDistance,
    LargeDistance,
    PreviousDistance,
    SmallLiteral,
    LargeLiteral,
    SmallMatch,
    LargeMatch,
    Nop,
    End,
    Undefined,
};

Op classify(uint8_t c) {
    if (c >= 0xF0) return c == 0xF0 ? Op::LargeMatch : Op::SmallMatch;
    if (c >= 0xE0) return c == 0xE0 ? Op::LargeLiteral : Op::SmallLiteral;
    if (c >= 0xD0) return Op::Undefined;
    if (c >= 0xA0 && c < 0xC0) return Op::MediumDistance;
    if (c >= 0x70 && c < 0x80) return Op::Undefined;
    switch (c & 7) {
    case 7:
        return Op::LargeDistance;
    case 6:
        // With no literals and the smallest match lengths, the "previous distance" pattern is
        // taken by the end mark and the two nops; the larger match lengths there are unused.
        if (c == 0x06) return Op::End;
        if (c == 0x0E || c == 0x16) return Op::Nop;
        if (c < 0x40) return Op::Undefined;
        return Op::PreviousDistance;
    default:
        return Op::SmallDistance;
    }
}

std::string hex(uint8_t c) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", c);
    return text;
}

Fault fault(size_t at, const std::string& what) {
    return Fault{"LZVN stream: opcode at byte " + std::to_string(at) + " " + what};
}

}  // namespace

Status decodeLzvn(std::span<const uint8_t> in, std::span<uint8_t> out) {
    size_t ip = 0;
    size_t op = 0;
    size_t previous = 0;  // no match has set a distance yet
    for (;;) {
        if (ip >= in.size())
            return Fault{"LZVN stream: ends at byte " + std::to_string(ip) + " without its end-of-stream mark"};
        const size_t at = ip;
        const uint8_t c = in[ip];
        const size_t left = in.size() - ip;
        size_t head = 1;
        size_t literals = 0;
        size_t match = 0;
        size_t distance = previous;
        switch (classify(c)) {
        case Op::SmallDistance:
            head = 2;
            if (left < head) break;
            literals = c >> 6;
            match = ((c >> 3) & 7) + 3;
            distance = size_t{c & 7u} << 8 | in[ip + 1];
            break;
        case Op::MediumDistance: {
            head = 3;
            if (left < head) break;
            const unsigned word = in[ip + 1] | unsigned{in[ip + 2]} << 8;
            literals = (c >> 3) & 3;
            match = ((size_t{c & 7u} << 2) | (word & 3)) + 3;
            distance = word >> 2;
            break;
        }
        case Op::LargeDistance:
            head = 3;
            if (left < head) break;
            literals = c >> 6;
            match = ((c >> 3) & 7) + 3;
            distance = in[ip + 1] | size_t{in[ip + 2]} << 8;
            break;
        case Op::PreviousDistance:
            literals = c >> 6;
            match = ((c >> 3) & 7) + 3;
            break;
        case Op::SmallLiteral:
            literals = c & 15;
            break;
        case Op::LargeLiteral:
            head = 2;
            if (left < head) break;
            literals = size_t{in[ip + 1]} + 16;
            break;
        case Op::SmallMatch:
            match = c & 15;
            break;
        case Op::LargeMatch:
            head = 2;
            if (left < head) break;
            match = size_t{in[ip + 1]} + 16;
            break;
        case Op::Nop:
            ++ip;
            continue;
        case Op::End:
            if (op != out.size())
                return fault(at, "ends the stream after " + std::to_string(op) + " bytes of output where " +
                                     std::to_string(out.size()) + " were expected");
            return Status::ok();
        case Op::Undefined:
            return fault(at, hex(c) + " is not a defined opcode");
        }
        if (left < head) return fault(at, "(" + hex(c) + ") is cut short by the end of the stream");
        ip += head;

        if (literals > in.size() - ip)
            return fault(at, "carries " + std::to_string(literals) + " literal bytes past the end of the stream");
        if (literals > out.size() - op)
            return fault(at, "writes past the " + std::to_string(out.size()) + " bytes of output expected");
        for (size_t i = 0; i < literals; ++i) out[op + i] = in[ip + i];
        ip += literals;
        op += literals;

        if (match == 0) continue;
        if (distance == 0)
            return fault(at, "copies a match without a distance");
        if (distance > op)
            return fault(at, "copies from " + std::to_string(distance) + " bytes back, before the start of the output (" +
                                 std::to_string(op) + " bytes written)");
        if (match > out.size() - op)
            return fault(at, "writes past the " + std::to_string(out.size()) + " bytes of output expected");
        // Byte by byte: a match may overlap the bytes it writes (a distance of 1 repeats a byte).
        for (size_t i = 0; i < match; ++i) out[op + i] = out[op + i - distance];
        op += match;
        previous = distance;
    }
}

}  // namespace quarry
