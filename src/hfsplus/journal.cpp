#include "hfsplus/journal.h"

#include <algorithm>
#include <cstring>

#include "hfsplus/layout.h"

namespace quarry::hfsplus {
namespace {

// The most a replay reads. Real journals hold a few megabytes of pending metadata; a header
// claiming more than this is damage, or a journal no Mac would have left.
constexpr uint64_t kMaxPendingBytes = 64ull << 20;

// The journal's own checksum: over the bytes given, with the checksum field zeroed.
int32_t journalChecksum(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    for (uint8_t b : bytes) sum = (sum << 8) ^ (sum + b);
    return static_cast<int32_t>(~sum);
}

// Fields in the byte order the journal's endian field gave.
struct Order {
    bool big = true;
    uint16_t u16(const uint8_t* p) const { return big ? loadBE16(p) : loadLE16(p); }
    uint32_t u32(const uint8_t* p) const { return big ? loadBE32(p) : loadLE32(p); }
    uint64_t u64(const uint8_t* p) const { return big ? loadBE64(p) : loadLE64(p); }
};

Order orderOf(std::span<const uint8_t> head) {
    return Order{loadBE32(&head[journal::kHeaderEndianAt]) == journal::kHeaderEndian};
}

bool checksumMatches(std::span<const uint8_t> bytes, size_t field, const Order& order) {
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    std::fill_n(copy.begin() + static_cast<ptrdiff_t>(field), 4, uint8_t{0});
    return static_cast<int32_t>(order.u32(&bytes[field])) == journalChecksum(copy);
}

// The journal's circular buffer: bytes after its header block up to its size, read on from the
// end at the first byte after the header.
class Circle {
public:
    Circle(Medium& medium, uint64_t at, const JournalHeader& h) : medium_(medium), at_(at), h_(h) {}

    Status read(uint64_t position, std::span<uint8_t> out) const {
        size_t done = 0;
        while (done < out.size()) {
            // Every position lies inside the journal (parseJournalHeader, advance); one that
            // does not would read nothing for ever.
            if (position < h_.unit || position >= h_.size) return Fault{"journal position " + std::to_string(position) + " outside it"};
            const uint64_t room = h_.size - position;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(room, out.size() - done));
            if (Status s = medium_.read(at_ + position, out.subspan(done, n)); !s) return s;
            done += n;
            position = advance(position, n);
        }
        return Status::ok();
    }
    uint64_t advance(uint64_t position, uint64_t bytes) const {
        const uint64_t ring = h_.size - h_.unit;
        position += bytes % ring;
        return position >= h_.size ? position - ring : position;
    }
    uint64_t distance(uint64_t from, uint64_t to) const { return to >= from ? to - from : h_.size - from + (to - h_.unit); }

private:
    Medium& medium_;
    uint64_t at_;
    const JournalHeader& h_;
};

}  // namespace

Result<JournalHeader> parseJournalHeader(std::span<const uint8_t> bytes) {
    if (bytes.size() < journal::kHeaderFixed) return Fault{"the journal header is cut short"};
    const Order order = orderOf(bytes);
    if (order.u32(&bytes[journal::kHeaderEndianAt]) != journal::kHeaderEndian ||
        order.u32(&bytes[journal::kHeaderMagicAt]) != journal::kHeaderMagic)
        return Fault{"the journal header is not one"};
    if (!checksumMatches(bytes.first(journal::kHeaderFixed), journal::kHeaderChecksum, order))
        return Fault{"the journal header's checksum does not match"};
    JournalHeader h;
    h.start = order.u64(&bytes[journal::kHeaderStart]);
    h.end = order.u64(&bytes[journal::kHeaderEnd]);
    h.size = order.u64(&bytes[journal::kHeaderJournalSize]);
    h.blockListSize = order.u32(&bytes[journal::kHeaderListSize]);
    h.unit = order.u32(&bytes[journal::kHeaderUnit]);
    if (h.unit < 512 || h.unit > 65536 || (h.unit & (h.unit - 1)) != 0)
        return Fault{"the journal's block size " + std::to_string(h.unit) + " is no power of two from 512 to 65536"};
    if (h.blockListSize < journal::kListInfo + 2 * journal::kInfoEntrySize || h.blockListSize > (1u << 20) ||
        h.blockListSize % h.unit != 0)
        return Fault{"the journal's block list size " + std::to_string(h.blockListSize) + " is not one"};
    if (h.size <= h.unit || h.size % h.unit != 0) return Fault{"the journal's size " + std::to_string(h.size) + " is not one"};
    for (uint64_t at : {h.start, h.end})
        if (at < h.unit || at >= h.size)
            return Fault{"the journal's transactions are said to lie at byte " + std::to_string(at) + ", outside it"};
    return h;
}

Result<PendingBlocks> readPendingBlocks(Medium& medium, uint64_t volumeStart, uint64_t volumeBytes, uint64_t journalOffset,
                                        const JournalHeader& h) {
    if (journalOffset > volumeBytes || h.size > volumeBytes - journalOffset)
        return Fault{"the journal runs past the end of the volume"};
    std::vector<uint8_t> head(journal::kHeaderFixed);
    if (Status s = medium.read(volumeStart + journalOffset, head); !s) return Fault{"journal header: " + s.fault()};
    const Order order = orderOf(head);
    const Circle circle(medium, volumeStart + journalOffset, h);

    PendingBlocks pending;
    pending.unit = h.unit;
    const uint64_t pendingBytes = circle.distance(h.start, h.end);
    if (pendingBytes > kMaxPendingBytes)
        return Fault{"the journal holds " + std::to_string(pendingBytes) + " bytes of transactions, more than Quarry replays"};
    std::vector<uint8_t> list(h.blockListSize);
    uint64_t at = h.start;
    for (uint64_t read = 0; read < pendingBytes;) {
        const std::string where = "journal block list at byte " + std::to_string(at) + ": ";
        if (Status s = circle.read(at, list); !s) return Fault{where + s.fault()};
        if (!checksumMatches(std::span(list).first(journal::kListChecksumBytes), journal::kListChecksum, order))
            return Fault{where + "its checksum does not match"};
        const uint16_t count = order.u16(&list[journal::kListCount]);
        const uint32_t used = order.u32(&list[journal::kListBytesUsed]);
        if (count == 0 || journal::kListInfo + size_t{count} * journal::kInfoEntrySize > list.size())
            return Fault{where + std::to_string(count) + " blocks do not fit in the list"};
        if (used < h.blockListSize || used > pendingBytes - read) return Fault{where + "it runs past the last transaction"};
        // Entry 0 is the list's own; each later one names a block, whose bytes follow the list in turn.
        uint64_t data = h.blockListSize;
        for (uint16_t i = 1; i < count; ++i) {
            const uint8_t* entry = &list[journal::kListInfo + size_t{i} * journal::kInfoEntrySize];
            const uint64_t home = order.u64(entry + journal::kInfoBlock);
            const uint32_t bytes = order.u32(entry + journal::kInfoBytes);
            if (bytes == 0 || bytes % h.unit != 0 || bytes > used - data)
                return Fault{where + "block " + std::to_string(i) + " of " + std::to_string(bytes) + " bytes does not fit"};
            if (home != journal::kKilledBlock) {
                if (home > volumeBytes / h.unit || bytes > volumeBytes - home * h.unit)
                    return Fault{where + "block " + std::to_string(i) + " lies outside the volume"};
                // A unit at a time: a block's length is the journal's word, and memory follows
                // only what is read.
                for (uint32_t u = 0; u < bytes / h.unit; ++u) {
                    std::vector<uint8_t>& unit = pending.units[home + u];
                    unit.resize(h.unit);
                    if (Status s = circle.read(circle.advance(at, data + uint64_t{u} * h.unit), unit); !s)
                        return Fault{where + s.fault()};
                }
            }
            data += bytes;
        }
        ++pending.blockLists;
        at = circle.advance(at, used);
        read += used;
    }
    return pending;
}

Status JournalMedium::read(uint64_t offset, std::span<uint8_t> out) {
    if (Status s = base_.read(offset, out); !s) return s;
    if (out.empty() || offset + out.size() <= volumeStart_) return Status::ok();
    const uint64_t unit = pending_.unit;
    const uint64_t from = offset > volumeStart_ ? offset - volumeStart_ : 0;
    const uint64_t to = offset + out.size() - volumeStart_;  // past the last byte, from the volume's start
    for (auto it = pending_.units.lower_bound(from / unit); it != pending_.units.end() && it->first * unit < to; ++it) {
        const uint64_t begin = std::max(it->first * unit, from);
        const uint64_t end = std::min(it->first * unit + unit, to);
        std::memcpy(out.data() + (volumeStart_ + begin - offset), it->second.data() + (begin - it->first * unit), end - begin);
    }
    return Status::ok();
}

}  // namespace quarry::hfsplus
