#include "hfsplus/medium.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "volume/fork_reader.h"

namespace quarry::hfsplus {

DeviceMedium::DeviceMedium(DeviceState& device) : device_(device) {
    size_ = ImageBytes(device);
    if (size_ == 0) size_ = MediumSectors(device) * kSectorSize;
}

Status DeviceMedium::readBlocks(uint64_t block, uint32_t count, uint8_t* buffer) {
    while (count > 0) {
        const uint32_t n = std::min(count, kBlocksPerRequest);
        // Device blocks are numbered in 32 bits: 8 TiB of 2048-byte blocks.
        if (block + n > 0xFFFFFFFFull)
            return Fault{"byte " + std::to_string(block * kCdBlockSize) + " lies beyond what a drive can address"};
        SectorRequest request{cmd::kRead6, device_.hostAdapterId, device_.targetId, static_cast<uint32_t>(block),
                              static_cast<uint16_t>(n), buffer};
        if (const uint16_t status = TransferCdBlocks(device_, request); status != 0)
            return Fault{"read error at byte " + std::to_string(block * kCdBlockSize) + " (status " + std::to_string(status) + ")"};
        block += n;
        count -= n;
        buffer += size_t{n} * kCdBlockSize;
    }
    return Status::ok();
}

Status DeviceMedium::read(uint64_t offset, std::span<uint8_t> out) {
    if (out.empty()) return Status::ok();
    if (offset > UINT64_MAX - out.size()) return Fault{"byte " + std::to_string(offset) + " lies beyond any medium"};
    const uint64_t first = offset / kCdBlockSize;
    const uint64_t last = (offset + out.size() - 1) / kCdBlockSize;
    const uint64_t windowEnd = windowBlock_ + window_.size() / kCdBlockSize;
    if (first >= windowBlock_ && last < windowEnd) {
        std::memcpy(out.data(), window_.data() + (offset - windowBlock_ * kCdBlockSize), out.size());
        return Status::ok();
    }
    const uint64_t blocks = last - first + 1;
    if (blocks <= kWindowBlocks) {
        // The window reaches on past the request, but never past the medium's last block, which
        // the drive would refuse.
        uint64_t take = kWindowBlocks;
        if (size_ != 0) {
            const uint64_t mediumBlocks = (size_ + kCdBlockSize - 1) / kCdBlockSize;
            take = std::clamp<uint64_t>(mediumBlocks > first ? mediumBlocks - first : 0, blocks, kWindowBlocks);
        }
        window_.resize(take * kCdBlockSize);
        if (Status s = readBlocks(first, static_cast<uint32_t>(take), window_.data()); !s) {
            window_.clear();
            return s;
        }
        windowBlock_ = first;
        std::memcpy(out.data(), window_.data() + (offset - first * kCdBlockSize), out.size());
        return Status::ok();
    }
    // A long read goes straight through, in pieces, with its unaligned ends through a block buffer.
    std::vector<uint8_t> piece(size_t{kBlocksPerRequest} * kCdBlockSize);
    uint64_t done = 0;
    while (done < out.size()) {
        const uint64_t at = offset + done;
        const uint64_t block = at / kCdBlockSize;
        const uint64_t skip = at % kCdBlockSize;
        const uint64_t want = std::min<uint64_t>(out.size() - done, piece.size() - skip);
        const auto count = static_cast<uint32_t>((skip + want + kCdBlockSize - 1) / kCdBlockSize);
        if (Status s = readBlocks(block, count, piece.data()); !s) return s;
        std::memcpy(out.data() + done, piece.data() + skip, want);
        done += want;
    }
    return Status::ok();
}

void readSectorBySector(Medium& medium, uint64_t at, std::span<uint8_t> piece, UnreadableSectors& zeroFill) {
    for (size_t off = 0; off < piece.size(); off += kForkUnitSize) {
        const auto part = piece.subspan(off, std::min<size_t>(kForkUnitSize, piece.size() - off));
        if (!medium.read(at + off, part)) {
            std::fill(part.begin(), part.end(), uint8_t{0});
            zeroFill.sectors.push_back(static_cast<uint32_t>((at + off) / kForkUnitSize));
        }
    }
}

}  // namespace quarry::hfsplus
