#include "support/lzvn_encoder.h"

#include <algorithm>
#include <unordered_map>

namespace quarry::test {
namespace {

class Writer {
public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}

    // Literals alone: 1110LLLL (1-15) or 11100000 LLLLLLLL (16-271).
    void literals(const uint8_t* p, size_t count) {
        while (count > 0) {
            const size_t now = std::min<size_t>(count, 271);
            counted(0xE0, now);
            out_.insert(out_.end(), p, p + now);
            p += now;
            count -= now;
        }
    }

    // A match of `length` (3 or more) at `distance`, carrying the 0-3 literals before it.
    void match(const uint8_t* lits, size_t litCount, size_t length, size_t distance) {
        const size_t l = litCount;
        size_t m = 0;
        if (distance == previous_ && l >= 1 && fitsShortForm(l, std::min<size_t>(length, 10))) {
            m = std::min<size_t>(length, 10);
            out_.push_back(static_cast<uint8_t>(l << 6 | (m - 3) << 3 | 6));  // previous distance
        } else if (distance < 0x600 && fitsShortForm(l, std::min<size_t>(length, 10)) && length <= 10) {
            m = length;
            out_.push_back(static_cast<uint8_t>(l << 6 | (m - 3) << 3 | distance >> 8));  // small distance
            out_.push_back(static_cast<uint8_t>(distance));
        } else if (distance < 0x4000) {
            m = std::min<size_t>(length, 34);
            const unsigned mm = static_cast<unsigned>(m - 3);
            out_.push_back(static_cast<uint8_t>(0xA0 | l << 3 | mm >> 2));  // medium distance
            const unsigned word = static_cast<unsigned>(distance << 2 | (mm & 3));
            out_.push_back(static_cast<uint8_t>(word));
            out_.push_back(static_cast<uint8_t>(word >> 8));
        } else {
            m = std::min<size_t>(length, 10);
            while (!fitsShortForm(l, m)) --m;
            out_.push_back(static_cast<uint8_t>(l << 6 | (m - 3) << 3 | 7));  // large distance
            out_.push_back(static_cast<uint8_t>(distance));
            out_.push_back(static_cast<uint8_t>(distance >> 8));
        }
        out_.insert(out_.end(), lits, lits + l);
        previous_ = distance;
        // The rest at the same distance: 1111MMMM (1-15) or 11110000 MMMMMMMM (16-271).
        for (size_t rest = length - m; rest > 0;) {
            const size_t now = std::min<size_t>(rest, 271);
            counted(0xF0, now);
            rest -= now;
        }
    }

    void end() {
        out_.push_back(0x06);
        out_.insert(out_.end(), 7, 0);
    }

private:
    // A count of 1-271 in the opcode's low nibble (1-15) or in the byte after it (16-271).
    void counted(uint8_t opcode, size_t count) {
        out_.push_back(static_cast<uint8_t>(count < 16 ? opcode | count : opcode));
        if (count >= 16) out_.push_back(static_cast<uint8_t>(count - 16));
    }

    // The one-byte forms LLMMMxxx leave some combinations to other opcodes: L=1 with M 9-10
    // (0x70-0x7F), L=2 with M 7-10 (medium distance), L=3 with M 5-10 (0xD0-0xFF); L=0 with
    // the previous distance is the end mark, the nops and undefined codes, which the caller
    // avoids by asking for literals.
    static bool fitsShortForm(size_t l, size_t m) {
        const size_t mmm = m - 3;
        return !(l == 1 && mmm >= 6) && !(l == 2 && mmm >= 4) && !(l == 3 && mmm >= 2);
    }

    std::vector<uint8_t>& out_;
    size_t previous_ = 0;
};

}  // namespace

std::vector<uint8_t> encodeLzvn(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    Writer w(out);
    std::unordered_map<uint32_t, size_t> last;  // 3-byte sequence -> where it was last seen
    size_t literalStart = 0;
    size_t i = 0;
    while (i + 3 <= data.size()) {
        const uint32_t key = uint32_t{data[i]} | uint32_t{data[i + 1]} << 8 | uint32_t{data[i + 2]} << 16;
        const auto found = last.find(key);
        const bool seen = found != last.end();
        const size_t from = seen ? found->second : 0;
        last[key] = i;
        if (!seen || i - from > 0xFFFF) {
            ++i;
            continue;
        }
        size_t length = 0;
        while (i + length < data.size() && data[from + length] == data[i + length]) ++length;
        // Literals beyond the three an opcode carries go first on their own.
        size_t pending = i - literalStart;
        if (pending > 3) {
            w.literals(data.data() + literalStart, pending - 3);
            literalStart = i - 3;
            pending = 3;
        }
        w.match(data.data() + literalStart, pending, length, i - from);
        for (size_t k = i + 1; k < i + length && k + 3 <= data.size(); ++k)
            last[uint32_t{data[k]} | uint32_t{data[k + 1]} << 8 | uint32_t{data[k + 2]} << 16] = k;
        i += length;
        literalStart = i;
    }
    w.literals(data.data() + literalStart, data.size() - literalStart);
    w.end();
    return out;
}

}  // namespace quarry::test
