#pragma once
// Forks of an HFS+ volume: the fork data of a catalog record or a special file, the runs of the
// medium its bytes lie in (its eight extents, then the records of an overflow tree), and reading
// them. Lengths and offsets are 64-bit throughout: a fork may hold more than 4 GiB.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "hfs/fork.h"
#include "hfsplus/layout.h"
#include "hfsplus/medium.h"

namespace quarry::hfsplus {

// A run of allocation blocks.
struct Extent {
    uint32_t startBlock = 0;
    uint32_t blockCount = 0;
    bool operator==(const Extent&) const = default;
};
using ExtentRecord = std::array<Extent, kExtentsPerRecord>;
ExtentRecord extentRecordAt(const uint8_t* p);

struct ForkData {
    uint64_t logicalSize = 0;  // bytes of the fork
    uint32_t clumpSize = 0;
    uint32_t totalBlocks = 0;  // allocation blocks of the fork, in all its extents
    ExtentRecord extents{};    // the first eight
};
ForkData forkDataAt(const uint8_t* p);

// Where the volume's allocation blocks lie on the medium.
struct VolumeGeometry {
    uint64_t start = 0;        // byte of the medium where the volume (its block 0) begins
    uint32_t blockSize = 0;
    uint32_t totalBlocks = 0;
    uint64_t blockOffset(uint32_t block) const { return start + uint64_t{block} * blockSize; }
    uint64_t endOffset() const { return start + uint64_t{totalBlocks} * blockSize; }
};

// A stretch of the medium that holds consecutive bytes of a fork.
struct MediumRun {
    uint64_t mediumOffset = 0;  // bytes from the start of the medium
    uint64_t forkOffset = 0;    // bytes from the start of the fork
    uint64_t length = 0;
};

// Continues a fork past the extents known so far: the record whose first extent begins at fork
// block `startBlock`, none when the tree holds none, a fault when the tree is damaged.
using OverflowLookup = std::function<Result<std::optional<ExtentRecord>>(uint32_t startBlock)>;

class ForkReader {
public:
    // `what` names the fork in messages ("file 27, data fork").
    ForkReader(Medium& medium, VolumeGeometry geometry, const ForkData& fork, std::string what,
               OverflowLookup overflow = {});

    uint64_t length() const { return fork_.logicalSize; }
    const ForkData& forkData() const { return fork_; }
    const std::string& what() const { return what_; }

    // The runs of the medium holding the fork's bytes, in the fork's order, together exactly its
    // length. A fault for an extent past the end of the volume, a damaged overflow tree, or
    // extents that end before the fork's length.
    Result<std::vector<MediumRun>> runs();
    // Reads out.size() bytes from byte `offset` of the fork, which must lie inside it.
    Status read(uint64_t offset, std::span<uint8_t> out);
    // Appends `length` bytes from byte `offset` on (to the fork's end by default) to the sink.
    Status copyTo(ByteSink& sink, uint64_t offset = 0, uint64_t length = UINT64_MAX);

private:
    Status checkExtent(const Extent& e) const;
    // Follows the extents once; later reads use the runs found.
    Status findRuns();

    Medium& medium_;
    VolumeGeometry geometry_;
    ForkData fork_;
    std::string what_;
    OverflowLookup overflow_;
    std::optional<std::vector<MediumRun>> runs_;
};

}  // namespace quarry::hfsplus
