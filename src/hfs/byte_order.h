#pragma once
// Big-endian access to the medium's structures. Every integer in an MDB, a partition map, a
// B-tree node, a key or a record is stored big-endian; structures stay in memory in that form
// and are read and changed through these helpers.

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarry {

constexpr uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
constexpr uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

inline uint16_t loadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void storeBE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void storeBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline void incrementBE16(uint8_t* p) { storeBE16(p, static_cast<uint16_t>(loadBE16(p) + 1)); }
inline uint16_t decrementBE16(uint8_t* p) {
    const auto v = static_cast<uint16_t>(loadBE16(p) - 1);
    storeBE16(p, v);
    return v;
}
inline void incrementBE32(uint8_t* p) { storeBE32(p, loadBE32(p) + 1); }
inline uint32_t decrementBE32(uint8_t* p) {
    const uint32_t v = loadBE32(p) - 1;
    storeBE32(p, v);
    return v;
}

// A bounds-checked cursor over a byte span. Reads past the end yield 0 and are remembered, so a
// decoder can read a record in a straight line and check once at the end.
class BeReader {
public:
    explicit BeReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint8_t u8(size_t off) {
        if (!fits(off, 1)) return 0;
        return bytes_[off];
    }
    uint16_t be16(size_t off) {
        if (!fits(off, 2)) return 0;
        return loadBE16(bytes_.data() + off);
    }
    uint32_t be32(size_t off) {
        if (!fits(off, 4)) return 0;
        return loadBE32(bytes_.data() + off);
    }
    bool ok() const { return !overrun_; }

private:
    bool fits(size_t off, size_t len) {
        if (off > bytes_.size() || len > bytes_.size() - off) {
            overrun_ = true;
            return false;
        }
        return true;
    }

    std::span<const uint8_t> bytes_;
    bool overrun_ = false;
};

}  // namespace quarry
