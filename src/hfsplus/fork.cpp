#include "hfsplus/fork.h"

#include <algorithm>

namespace quarry::hfsplus {

ExtentRecord extentRecordAt(const uint8_t* p) {
    ExtentRecord r{};
    for (int i = 0; i < kExtentsPerRecord; ++i) r[i] = {loadBE32(p + 8 * i), loadBE32(p + 8 * i + 4)};
    return r;
}

ForkData forkDataAt(const uint8_t* p) {
    ForkData f;
    f.logicalSize = loadBE64(p + forkdata::kLogicalSize);
    f.clumpSize = loadBE32(p + forkdata::kClumpSize);
    f.totalBlocks = loadBE32(p + forkdata::kTotalBlocks);
    f.extents = extentRecordAt(p + forkdata::kExtents);
    return f;
}

ForkReader::ForkReader(Medium& medium, VolumeGeometry geometry, const ForkData& fork, std::string what, OverflowLookup overflow)
    : medium_(medium), geometry_(geometry), fork_(fork), what_(std::move(what)), overflow_(std::move(overflow)) {}

Status ForkReader::checkExtent(const Extent& e) const {
    if (uint64_t{e.startBlock} + e.blockCount > geometry_.totalBlocks)
        return Fault{what_ + ": extent of " + std::to_string(e.blockCount) + " blocks at block " + std::to_string(e.startBlock) +
                     " lies past the end of the volume (" + std::to_string(geometry_.totalBlocks) + " blocks)"};
    return Status::ok();
}

Result<std::vector<MediumRun>> ForkReader::runs() {
    if (Status s = findRuns(); !s) return Fault{s.fault()};
    return *runs_;
}

Status ForkReader::findRuns() {
    if (runs_) return Status::ok();
    std::vector<MediumRun> runs;
    const uint64_t size = fork_.logicalSize;
    if (geometry_.blockSize == 0) return Fault{what_ + ": the volume has no block size"};
    uint64_t covered = 0;  // bytes of the fork that the extents met so far hold
    uint64_t blocks = 0;   // allocation blocks of those extents
    ExtentRecord record = fork_.extents;
    while (covered < size) {
        bool full = true;
        for (const Extent& e : record) {
            if (e.blockCount == 0) {
                full = false;
                break;
            }
            if (Status s = checkExtent(e); !s) return Fault{s.fault()};
            const uint64_t bytes = uint64_t{e.blockCount} * geometry_.blockSize;
            const uint64_t take = std::min(bytes, size - covered);
            if (!runs.empty() && runs.back().mediumOffset + runs.back().length == geometry_.blockOffset(e.startBlock))
                runs.back().length += take;  // neighbouring extents make one run
            else
                runs.push_back({geometry_.blockOffset(e.startBlock), covered, take});
            covered += take;
            blocks += e.blockCount;
            if (covered == size) break;
        }
        if (covered == size) break;
        const std::string ends = what_ + ": its extents end at byte " + std::to_string(covered) + ", before its length of " +
                                 std::to_string(size) + " bytes";
        // A record with an empty slot is the fork's last; so is one that no overflow tree continues.
        if (!full || !overflow_) return Fault{ends};
        if (blocks > UINT32_MAX) return Fault{what_ + ": more blocks than a volume can hold"};
        Result<std::optional<ExtentRecord>> next = overflow_(static_cast<uint32_t>(blocks));
        if (!next) return Fault{what_ + ": " + next.fault()};
        if (!next->has_value()) return Fault{ends};
        // Each record found starts further into the fork than the one before, so the walk ends.
        record = **next;
    }
    runs_ = std::move(runs);
    return Status::ok();
}

Status ForkReader::read(uint64_t offset, std::span<uint8_t> out) {
    if (offset > fork_.logicalSize || out.size() > fork_.logicalSize - offset)
        return Fault{what_ + ": " + std::to_string(out.size()) + " bytes at byte " + std::to_string(offset) +
                     " reach past its end at byte " + std::to_string(fork_.logicalSize)};
    if (out.empty()) return Status::ok();
    if (Status s = findRuns(); !s) return s;
    const std::vector<MediumRun>& all = *runs_;
    auto it = std::upper_bound(all.begin(), all.end(), offset,
                               [](uint64_t off, const MediumRun& r) { return off < r.forkOffset; });
    size_t done = 0;
    for (--it; done < out.size(); ++it) {
        const uint64_t at = offset + done;
        const uint64_t into = at - it->forkOffset;
        const uint64_t n = std::min<uint64_t>(it->length - into, out.size() - done);
        if (Status s = medium_.read(it->mediumOffset + into, out.subspan(done, n)); !s) return Fault{what_ + ": " + s.fault()};
        done += n;
    }
    return Status::ok();
}

Status ForkReader::copyTo(ByteSink& sink, uint64_t offset, uint64_t length) {
    if (offset > fork_.logicalSize) return Fault{what_ + ": byte " + std::to_string(offset) + " lies past its end"};
    length = std::min(length, fork_.logicalSize - offset);
    constexpr uint64_t kPiece = 256 * 1024;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min(kPiece, length)));
    for (uint64_t done = 0; done < length;) {
        const auto n = static_cast<size_t>(std::min(kPiece, length - done));
        if (Status s = read(offset + done, std::span(buffer.data(), n)); !s) return s;
        if (!sink.write(buffer.data(), n)) return Fault{"cannot write: " + sink.error()};
        done += n;
    }
    return Status::ok();
}

}  // namespace quarry::hfsplus
