#include "device/containers/ndif.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/containers/adc.h"

namespace quarry {
namespace {

// A resource fork (Inside Macintosh: More Macintosh Toolbox, "Resource Manager"): a 16-byte
// header giving where the resource data and the map lie; the map holds the type list, whose
// entries point to reference lists, whose entries give each resource's place in the data.
namespace rsrc {
constexpr size_t kHeaderSize = 16;       // data offset, map offset, data length, map length
constexpr size_t kTypeListOffset = 24;   // in the map: where the type list lies, from the map's start
constexpr size_t kTypeEntrySize = 8;     // type, count - 1, reference list offset (from the type list)
constexpr size_t kReferenceSize = 12;    // ID, name offset, attributes, 3-byte data offset, handle
constexpr size_t kReferenceDataOffset = 5;
}  // namespace rsrc

// The block map: a 128-byte header holding the disk's sector count, then 12-byte entries of
// the first sector (high 24 bits) and the chunk's kind (low 8 bits), the chunk's offset in the
// data fork and its stored length. A chunk's sectors run to the next entry's first sector; the
// entry of kind kEnd stands at the disk's sector count.
namespace bcem {
constexpr size_t kHeaderSize = 128;
constexpr size_t kSectorCount = 68;
constexpr size_t kEntrySize = 12;
constexpr uint8_t kZeroFill = 0x00;
constexpr uint8_t kRaw = 0x02;
constexpr uint8_t kAdc = 0x83;
constexpr uint8_t kEnd = 0xFF;
}  // namespace bcem

constexpr uint64_t kSectorSize = 512;
// The largest chunk that is decompressed whole into memory; Disk Copy writes chunks of a few
// dozen sectors, so a map that asks for more is damaged or hostile.
constexpr uint64_t kLargestCompressedChunk = 16u << 20;

Fault damaged(const std::string& why) { return Fault{"The NDIF image is damaged: " + why}; }
Fault forkDamaged(const std::string& why) { return Fault{"resource fork is damaged: " + why}; }

std::string hex8(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

struct Chunk {
    uint64_t sector;   // first sector
    uint64_t sectors;
    uint8_t kind;
    uint64_t offset;   // in the data fork
    uint64_t length;   // stored bytes
};

class NdifSource : public ImageSource {
public:
    NdifSource(std::shared_ptr<FileHandle> file, uint64_t dataStart, std::vector<Chunk> chunks, uint64_t sectors)
        : file_(std::move(file)), dataStart_(dataStart), chunks_(std::move(chunks)), sectors_(sectors) {}
    uint64_t size() const override { return sectors_ * kSectorSize; }

protected:
    Status readInside(uint64_t offset, uint64_t length, uint8_t* out) override {
        while (length > 0) {
            const uint64_t sector = offset / kSectorSize;
            // The map was checked to cover every sector from 0 in order, so a chunk holds it.
            auto it = std::upper_bound(chunks_.begin(), chunks_.end(), sector, [](uint64_t s, const Chunk& c) { return s < c.sector; });
            const Chunk& chunk = *--it;
            const uint64_t within = offset - chunk.sector * kSectorSize;
            const uint64_t piece = std::min(length, chunk.sectors * kSectorSize - within);
            if (chunk.kind == bcem::kZeroFill) {
                std::memset(out, 0, piece);
            } else if (chunk.kind == bcem::kRaw) {
                if (Status s = file_->readExactly(dataStart_ + chunk.offset + within, piece, out); !s) return damaged(s.fault());
            } else {
                if (Status s = decode(static_cast<size_t>(it - chunks_.begin())); !s) return s;
                std::memcpy(out, decoded_.data() + within, piece);
            }
            out += piece;
            offset += piece;
            length -= piece;
        }
        return Status::ok();
    }

private:
    // The adapter reads a chunk's sectors in order, a few at a time: the last chunk decoded is kept.
    Status decode(size_t index) {
        if (decodedIndex_ == index) return Status::ok();
        const Chunk& chunk = chunks_[index];
        std::vector<uint8_t> packed(chunk.length);
        if (Status s = file_->readExactly(dataStart_ + chunk.offset, packed.size(), packed.data()); !s) return damaged(s.fault());
        decoded_.resize(chunk.sectors * kSectorSize);
        decodedIndex_ = SIZE_MAX;
        if (Status s = adcDecompress(packed.data(), packed.size(), decoded_.data(), decoded_.size()); !s)
            return damaged("the ADC chunk at sector " + std::to_string(chunk.sector) + ": " + s.fault());
        decodedIndex_ = index;
        return Status::ok();
    }

    std::shared_ptr<FileHandle> file_;
    uint64_t dataStart_;
    std::vector<Chunk> chunks_;
    uint64_t sectors_;
    std::vector<uint8_t> decoded_;
    size_t decodedIndex_ = SIZE_MAX;
};

}  // namespace

Result<std::optional<std::vector<uint8_t>>> findResource(const std::vector<uint8_t>& fork, uint32_t type) {
    if (fork.empty()) return std::optional<std::vector<uint8_t>>();
    if (fork.size() < rsrc::kHeaderSize) return forkDamaged("its header is cut short");
    const uint8_t* f = fork.data();
    const uint64_t dataOffset = be32(f), mapOffset = be32(f + 4), mapLength = be32(f + 12);
    if (mapOffset > fork.size() || mapLength > fork.size() - mapOffset || mapLength < rsrc::kTypeListOffset + 2)
        return forkDamaged("its map lies past the end of the fork");
    const uint8_t* map = f + mapOffset;
    const uint64_t typeList = be16(map + rsrc::kTypeListOffset);
    if (typeList + 2 > mapLength) return forkDamaged("its type list lies outside the map");
    // The count is stored less one: 0xFFFF is an empty list.
    const unsigned types = (be16(map + typeList) + 1u) & 0xFFFF;
    for (unsigned t = 0; t < types; ++t) {
        const uint64_t entry = typeList + 2 + t * rsrc::kTypeEntrySize;
        if (entry + rsrc::kTypeEntrySize > mapLength) return forkDamaged("its type list runs past the map");
        if (be32(map + entry) != type) continue;
        // Only the first resource of the type is wanted.
        const uint64_t reference = typeList + be16(map + entry + 6);
        if (reference + rsrc::kReferenceSize > mapLength) return forkDamaged("a reference lies outside the map");
        const uint8_t* r = map + reference + rsrc::kReferenceDataOffset;
        const uint64_t at = dataOffset + ((uint64_t{r[0]} << 16) | (uint64_t{r[1]} << 8) | r[2]);
        if (at > fork.size() || fork.size() - at < 4) return forkDamaged("a resource lies past the end of the fork");
        const uint64_t length = be32(f + at);
        if (length > fork.size() - at - 4) return forkDamaged("a resource of " + std::to_string(length) + " bytes runs past the end of the fork");
        return std::optional<std::vector<uint8_t>>(std::in_place, fork.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                                   fork.begin() + static_cast<std::ptrdiff_t>(at + 4 + length));
    }
    return std::optional<std::vector<uint8_t>>();
}

Result<std::unique_ptr<ImageSource>> openNdif(std::shared_ptr<FileHandle> file, uint64_t dataStart, uint64_t dataLength,
                                              const std::vector<uint8_t>& blockMap) {
    if (blockMap.size() < bcem::kHeaderSize) return damaged("its block map is cut short");
    const uint64_t sectors = be32(blockMap.data() + bcem::kSectorCount);
    std::vector<Chunk> chunks;
    bool ended = false;
    for (size_t at = bcem::kHeaderSize; !ended && blockMap.size() - at >= bcem::kEntrySize; at += bcem::kEntrySize) {
        const uint8_t* e = blockMap.data() + at;
        const uint64_t first = be32(e) >> 8;
        const uint8_t kind = e[3];
        const uint64_t offset = be32(e + 4), length = be32(e + 8);
        const uint64_t expected = chunks.empty() ? 0 : chunks.back().sector;
        if (first > sectors)
            return damaged("its block map places a chunk at sector " + std::to_string(first) + ", past the disk's " +
                           std::to_string(sectors) + " sectors");
        if ((chunks.empty() && first != 0) || (!chunks.empty() && first <= expected))
            return damaged("its block map places a chunk at sector " + std::to_string(first) + " out of order");
        if (!chunks.empty()) chunks.back().sectors = first - chunks.back().sector;
        if (kind == bcem::kEnd) {
            if (first != sectors)
                return damaged("its block map ends at sector " + std::to_string(first) + " of " + std::to_string(sectors));
            ended = true;
            break;
        }
        if (kind != bcem::kZeroFill && kind != bcem::kRaw && kind != bcem::kAdc)
            return Fault{"The NDIF image holds chunks of kind " + hex8(kind) + " (at sector " + std::to_string(first) +
                         "), which Quarry does not read"};
        if (kind != bcem::kZeroFill && (offset > dataLength || length > dataLength - offset))
            return damaged("the chunk at sector " + std::to_string(first) + " lies past the end of the data fork (" +
                           std::to_string(dataLength) + " bytes)");
        chunks.push_back({first, 0, kind, offset, length});
    }
    if (!ended) return damaged("its block map has no end entry");
    if (chunks.empty()) return damaged("its block map holds no chunk");
    for (const Chunk& c : chunks) {
        const uint64_t bytes = c.sectors * kSectorSize;
        if (c.kind == bcem::kRaw && c.length < bytes)
            return damaged("the chunk at sector " + std::to_string(c.sector) + " holds " + std::to_string(c.length) + " bytes of " +
                           std::to_string(bytes));
        // ADC at its worst adds a byte to every 128 it cannot shorten.
        if (c.kind == bcem::kAdc && (bytes > kLargestCompressedChunk || c.length > bytes + bytes / 128 + 1))
            return damaged("the ADC chunk at sector " + std::to_string(c.sector) + " is " + std::to_string(bytes) + " bytes in " +
                           std::to_string(c.length) + ", more than any Disk Copy writes");
    }
    return std::unique_ptr<ImageSource>(std::make_unique<NdifSource>(std::move(file), dataStart, std::move(chunks), sectors));
}

}  // namespace quarry
