#include "hfs/volume_commit.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "common/messages.h"
#include "hfs/fork.h"
#include "hfs/tree_edit.h"
#include "hfs/tree_shadow.h"
#include "hfs/volume_edit.h"
#include "hfs/volume_recount.h"

namespace quarry {
namespace {

using MdbBytes = std::array<uint8_t, kSectorSize>;

// One sector that the commit writes, and where its new bytes are.
struct SectorWrite {
    uint32_t sector = 0;
    const uint8_t* data = nullptr;
};

// Consecutive sectors of one stage, written with one request and kept as they were before.
struct WriteRun {
    uint32_t sector = 0;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> before;
};

std::vector<WriteRun> runsOf(std::vector<SectorWrite> stage) {
    std::vector<WriteRun> runs;
    std::sort(stage.begin(), stage.end(), [](const SectorWrite& a, const SectorWrite& b) { return a.sector < b.sector; });
    for (const SectorWrite& w : stage) {
        if (runs.empty() || runs.back().sector + runs.back().bytes.size() / kSectorSize != w.sector ||
            runs.back().bytes.size() >= 64 * kSectorSize) {
            runs.push_back(WriteRun{w.sector, {}, {}});
        }
        runs.back().bytes.insert(runs.back().bytes.end(), w.data, w.data + kSectorSize);
    }
    return runs;
}

Fault notWritten(const std::string& reason) { return Fault{std::string(messageText(Msg::VolumeNotWritten)) + " " + reason}; }

Status nodeSector(const VolumeContext& context, const BTreeFile& tree, const NodeWrite& w, std::vector<SectorWrite>& out) {
    const size_t field = tree.isCatalog ? mdb::kCatalogExtents : mdb::kExtentsExtents;
    const ExtentRecord extents = extentRecordAt(context.volume.mdbCopy.data() + field);
    const uint32_t sector = forkSectorAt(context, w.node, extents, tree.isCatalog ? kCatalogFileId : kExtentsFileId, kDataFork);
    if (sector == 0)
        return notWritten(std::string(tree.isCatalog ? "catalog" : "extents") + " node " + std::to_string(w.node) +
                          " lies outside the tree's extents");
    out.push_back({sector, w.bytes.data()});
    return Status::ok();
}

Status nodeSectors(const VolumeContext& context, const BTreeFile& tree, const std::vector<NodeWrite>& nodes,
                   std::vector<SectorWrite>& out) {
    for (const NodeWrite& w : nodes)
        if (Status s = nodeSector(context, tree, w, out); !s) return s;
    return Status::ok();
}

// The bitmap sectors in which bits differ from against.
void bitmapSectors(const VolumeState& volume, const std::vector<uint8_t>& bits, const std::vector<uint8_t>& against,
                   std::vector<SectorWrite>& out) {
    for (size_t at = 0; at + kSectorSize <= bits.size(); at += kSectorSize)
        if (std::memcmp(bits.data() + at, against.data() + at, kSectorSize) != 0)
            out.push_back({bitmapFirstSector(volume) + static_cast<uint32_t>(at / kSectorSize), bits.data() + at});
}

void copyField(MdbBytes& to, const std::array<uint8_t, 512>& from, size_t offset, size_t width) {
    std::memcpy(to.data() + offset, from.data() + offset, width);
}

// Blocks held by the catalog's extents in the MDB: a catalog larger than those continues in the
// extents tree, which must hold the new extent before the MDB gives the catalog its size.
uint32_t catalogBlocksInMdb(const VolumeState& volume) {
    uint32_t blocks = 0;
    for (int i = 0; i < 3; ++i) blocks += loadBE16(volume.mdbCopy.data() + mdb::kCatalogExtents + 4 * i + 2);
    return blocks;
}

// Writes the stages in order, each put on the medium before the next; on a failure puts back
// everything written, newest first.
Status writeStages(const VolumeContext& context, std::vector<std::vector<WriteRun>>& stages) {
    for (auto& stage : stages)
        for (WriteRun& run : stage) {
            run.before.resize(run.bytes.size());
            const auto count = static_cast<uint32_t>(run.bytes.size() / kSectorSize);
            if (uint16_t status = ReadSectors(context.device, run.sector, count, run.before.data()); status != 0)
                return notWritten(statusReason(status, run.sector, "read"));
        }
    std::vector<const WriteRun*> written;
    auto putBack = [&](uint16_t status, uint32_t sector) {
        for (size_t j = written.size(); j-- > 0;)
            (void)WriteSectors(context.device, written[j]->sector, static_cast<uint32_t>(written[j]->before.size() / kSectorSize),
                               written[j]->before.data());
        (void)SynchronizeMedium(context.device);
        return notWritten(statusReason(status, sector, "write"));
    };
    for (const auto& stage : stages) {
        if (stage.empty()) continue;
        for (const WriteRun& run : stage) {
            written.push_back(&run);
            const auto count = static_cast<uint32_t>(run.bytes.size() / kSectorSize);
            if (uint16_t status = WriteSectors(context.device, run.sector, count, run.bytes.data()); status != 0)
                return putBack(status, run.sector);
        }
        if (uint16_t status = SynchronizeMedium(context.device); status != 0) return putBack(status, stage.back().sector);
    }
    return Status::ok();
}

}  // namespace

Status flushVolume(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    if (!volumeChangeOpen(volume)) return Status::ok();
    beginVolumeChange(volume);
    context.ui.setStatusText(messageText(Msg::UpdatingDisk), nullptr);

    const bool wasClean = (loadBE16(volume.mdbBefore.data() + mdb::kAttributes) & mdb::kCleanlyUnmounted) != 0;
    if (!wasClean) {
        if (Status s = recountVolume(context); !s) return s;
    }
    // The catalog first: growing, it may add its new extent to the extents tree.
    Result<TreeCommitPlan> catalog = planTreeCommit(context, volume.catalog);
    if (!catalog) return Fault{catalog.fault()};
    Result<TreeCommitPlan> extents = planTreeCommit(context, volume.extents);
    if (!extents) return Fault{extents.fault()};
    const bool bitmapChanged = !volume.bitmap.empty() && volume.bitmap != volume.bitmapBefore;
    if (!catalog->changed && !extents->changed && !bitmapChanged && volume.mdbCopy == volume.mdbBefore) {
        discardVolumeChange(volume);
        return Status::ok();
    }

    // The MDB as each stage leaves it.
    MdbBytes opened = volume.mdbBefore;
    storeBE16(opened.data() + mdb::kAttributes, static_cast<uint16_t>(loadBE16(opened.data() + mdb::kAttributes) & ~mdb::kCleanlyUnmounted));
    copyField(opened, volume.mdbCopy, mdb::kNextCatalogId, 4);
    MdbBytes grown = opened;
    copyField(grown, volume.mdbCopy, mdb::kExtentsSize, 4);
    copyField(grown, volume.mdbCopy, mdb::kExtentsExtents, kExtentRecordSize);
    copyField(grown, volume.mdbCopy, mdb::kCatalogExtents, kExtentRecordSize);
    const bool catalogGrew = volume.mdb32(mdb::kCatalogSize) != loadBE32(volume.mdbBefore.data() + mdb::kCatalogSize);
    const bool catalogSizeWaits = catalogGrew && volume.mdb32(mdb::kCatalogSize) > catalogBlocksInMdb(volume) * volume.allocBlockSize;
    if (!catalogSizeWaits) copyField(grown, volume.mdbCopy, mdb::kCatalogSize, 4);
    MdbBytes sized = grown;
    copyField(sized, volume.mdbCopy, mdb::kCatalogSize, 4);
    uint8_t* final = volume.mdbCopy.data();
    storeBE32(final + mdb::kModified, macTimeNow());
    storeBE16(final + mdb::kAttributes, static_cast<uint16_t>(volume.mdb16(mdb::kAttributes) | mdb::kCleanlyUnmounted));

    std::vector<uint8_t> taken = volume.bitmap;
    for (size_t i = 0; i < taken.size() && i < volume.bitmapBefore.size(); ++i) taken[i] |= volume.bitmapBefore[i];

    std::vector<std::vector<SectorWrite>> stages(12);
    if (!taken.empty()) bitmapSectors(volume, taken, volume.bitmapBefore, stages[1]);
    // Without blocks taken, the first writes go to tree nodes that the trees on the medium do not
    // use, which no reader sees: the MDB without its "cleanly unmounted" bit goes with them.
    if (opened != volume.mdbBefore) stages[stages[1].empty() ? 1 : 0].push_back({volume.mdbSector, opened.data()});
    for (const auto* plan : {&*extents, &*catalog}) {
        const BTreeFile& tree = plan == &*catalog ? volume.catalog : volume.extents;
        if (Status s = nodeSectors(context, tree, plan->fresh, stages[1]); !s) return s;
    }
    if (grown != opened) stages[2].push_back({volume.mdbSector, grown.data()});
    // A change that takes records out of the extents tree switches the catalog first: the
    // records go once nothing uses them. Otherwise the extents tree has its new records first.
    const uint32_t extentsRecordsBefore = loadBE32(volume.extents.savedHeader.data() + header::kLeafRecords);
    const bool extentsFirst =
        catalogSizeWaits || !extents->changed || loadBE32(extents->header.bytes.data() + header::kLeafRecords) >= extentsRecordsBefore;
    const TreeCommitPlan* order[2] = {&*extents, &*catalog};
    if (!extentsFirst) std::swap(order[0], order[1]);
    // Each tree's map nodes just before its switch, once the MDB gives the tree the size that a
    // new map node may lie in.
    for (int i = 0; i < 2; ++i) {
        if (!order[i]->changed) continue;
        const BTreeFile& tree = order[i] == &*catalog ? volume.catalog : volume.extents;
        if (Status s = nodeSectors(context, tree, order[i]->maps, stages[3 + 4 * i]); !s) return s;
        if (Status s = nodeSectors(context, tree, order[i]->links, stages[4 + 4 * i]); !s) return s;
        if (Status s = nodeSector(context, tree, order[i]->header, stages[5 + 4 * i]); !s) return s;
    }
    if (sized != grown) stages[6].push_back({volume.mdbSector, sized.data()});
    for (const auto* plan : {&*extents, &*catalog}) {
        const BTreeFile& tree = plan == &*catalog ? volume.catalog : volume.extents;
        if (Status s = nodeSectors(context, tree, plan->frees, stages[10]); !s) return s;
    }
    if (!taken.empty()) bitmapSectors(volume, volume.bitmap, taken, stages[10]);
    if (std::optional<uint32_t> alternate = alternateMdbSector(context)) stages[11].push_back({*alternate, final});
    stages[11].push_back({volume.mdbSector, final});

    std::vector<std::vector<WriteRun>> runs;
    for (auto& stage : stages) runs.push_back(runsOf(std::move(stage)));
    if (Status s = writeStages(context, runs); !s) return s;

    Status local = adoptTreeCommit(volume.extents, *extents);
    if (Status s = adoptTreeCommit(volume.catalog, *catalog); !s && local) local = s;
    volume.bitmap.clear();
    volume.sharedBlocks.clear();
    volume.bitmapBefore.clear();
    volume.mdbBefore = volume.mdbCopy;
    volume.changeOpen = false;
    if (!wasClean) context.ui.showMessageBox(messageText(Msg::VolumeRepaired));
    return local;
}

}  // namespace quarry
