#include "hfs/volume_edit.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/messages.h"
#include "hfs/btree.h"
#include "hfs/fork.h"
#include "hfs/tree_edit.h"
#include "hfs/volume_recount.h"

namespace quarry {
namespace {

// Allocation looks for free runs from this block on; it never hands out a block below it.
constexpr uint32_t kFirstAllocatedBlock = 40;
constexpr uint32_t kBitsPerSector = kSectorSize * 8;
constexpr size_t kExtentSlots = 3;
constexpr uint8_t kSectorOffsetInPartition = 2;  // the MDB's sector in its partition

uint32_t bitmapSectorCount(const VolumeState& volume) {
    return (uint32_t{volume.mdb16(mdb::kAllocBlocks)} + kBitsPerSector - 1) / kBitsPerSector;
}

bool blockUsed(const VolumeState& volume, uint32_t block) {
    return (volume.bitmap[block / 8] & (0x80 >> (block % 8))) != 0;
}


void markBlocks(VolumeState& volume, BlockRun run) {
    for (uint32_t b = run.start; b < uint32_t{run.start} + run.count; ++b)
        volume.bitmap[b / 8] |= static_cast<uint8_t>(0x80 >> (b % 8));
}

// The first free run of count blocks from block 40 on, or failing that the first of at least
// shortest blocks.
std::optional<BlockRun> findFreeRun(const VolumeState& volume, uint32_t count, uint32_t shortest,
                                    uint32_t from = kFirstAllocatedBlock) {
    const uint32_t end = volume.mdb16(mdb::kAllocBlocks);
    if (count == 0 || count > 0xFFFF) return std::nullopt;
    uint32_t i = from;
    while (i < end) {
        while (i < end && blockTaken(volume, i)) ++i;
        uint32_t j = i;
        while (j < end && j - i < count && !blockTaken(volume, j)) ++j;
        if (j > i && (j - i == count || j - i >= shortest))
            return BlockRun{static_cast<uint16_t>(i), static_cast<uint16_t>(j - i)};
        i = j;
    }
    return std::nullopt;
}

size_t treeSizeField(const BTreeFile& tree) { return tree.isCatalog ? mdb::kCatalogSize : mdb::kExtentsSize; }
size_t treeExtentsField(const BTreeFile& tree) { return tree.isCatalog ? mdb::kCatalogExtents : mdb::kExtentsExtents; }
uint32_t treeFileId(const BTreeFile& tree) { return tree.isCatalog ? kCatalogFileId : kExtentsFileId; }

bool forkHasOverflow(const VolumeContext& context, uint32_t fileID, uint32_t firstOverflowBlock) {
    return findExtentRecord(context, fileID, firstOverflowBlock, kDataFork).has_value();
}

// Records a run that a tree grew into: the last extent grows when the run follows it, else the
// first empty slot of the MDB's record takes it, else (the catalog only) the extents tree.
Status recordTreeExtent(const VolumeContext& context, BTreeFile& tree, BlockRun run, uint16_t forkBlock) {
    uint8_t* record = context.volume.mdbCopy.data() + treeExtentsField(tree);
    uint32_t blocksInRecord = 0;
    size_t used = 0;
    while (used < kExtentSlots && loadBE16(record + 4 * used + 2) != 0) blocksInRecord += loadBE16(record + 4 * used + 2), ++used;
    const bool overflow = used == kExtentSlots && forkHasOverflow(context, treeFileId(tree), blocksInRecord);
    if (used > 0 && !overflow) {
        uint8_t* last = record + 4 * (used - 1);
        if (uint32_t{loadBE16(last)} + loadBE16(last + 2) == run.start && uint32_t{loadBE16(last + 2)} + run.count <= 0xFFFF) {
            storeBE16(last + 2, static_cast<uint16_t>(loadBE16(last + 2) + run.count));
            return Status::ok();
        }
    }
    if (used < kExtentSlots) {
        storeBE16(record + 4 * used, run.start);
        storeBE16(record + 4 * used + 2, run.count);
        return Status::ok();
    }
    // The extents tree must be found from the MDB alone: its own extents never overflow.
    if (!tree.isCatalog) return Fault{"the extents tree cannot grow past the three extents of the MDB"};
    return addExtentRecord(context, run, kCatalogFileId, forkBlock, kDataFork);
}

}  // namespace

bool blockTaken(const VolumeState& volume, uint32_t block) {
    return blockUsed(volume, block) ||
           (block / 8 < volume.bitmapBefore.size() && (volume.bitmapBefore[block / 8] & (0x80 >> (block % 8))) != 0);
}

std::string statusReason(uint16_t status, uint32_t sector, const char* doing) {
    if (status == aspi::kWriteProtected) return "the medium is write-protected";
    return std::string(doing) + " error at sector " + std::to_string(sector) + " (status " + std::to_string(status) + ")";
}

uint32_t bitmapFirstSector(const VolumeState& volume) {
    return volume.mdbSector - kSectorOffsetInPartition + volume.mdb16(mdb::kBitmapStart);
}

Status beginExtentsEdit(const VolumeContext& context) {
    BTreeFile& tree = context.volume.extents;
    if (!tree.hasWorkFile()) {
        if (Status s = copyExtentsTree(context); !s) return s;
    }
    // A tree on which damage was met is never changed.
    if (const std::string damage = tree.firstDamage(); !damage.empty()) return Fault{damage};
    return beginTreeEdit(tree);
}

namespace {

std::array<uint8_t, extkey::kKeyLengthValue + 1> extentKey(uint32_t fileID, uint8_t forkType, uint16_t startBlock) {
    std::array<uint8_t, extkey::kKeyLengthValue + 1> key{};
    key[extkey::kKeyLength] = extkey::kKeyLengthValue;
    key[extkey::kForkType] = forkType;
    storeBE32(key.data() + extkey::kFileId, fileID);
    storeBE16(key.data() + extkey::kStartBlock, startBlock);
    return key;
}

}  // namespace

uint32_t macTimeOf(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    // The local wall-clock time read as if it were UTC gives the seconds HFS stores.
    const int64_t seconds = static_cast<int64_t>(timegm(&local)) + kMacEpochOffset;
    return seconds < 0 ? 0 : seconds > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(seconds);
}

uint32_t macTimeNow() { return macTimeOf(std::time(nullptr)); }

void beginVolumeChange(VolumeState& volume) {
    if (volume.changeOpen) return;
    volume.changeOpen = true;
    volume.mdbBefore = volume.mdbCopy;
}

bool volumeChangeOpen(const VolumeState& volume) {
    return volume.changeOpen || volume.catalog.changed() || volume.extents.changed();
}

Status loadVolumeBitmap(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    beginVolumeChange(volume);
    if (!volume.bitmap.empty()) return Status::ok();
    std::vector<uint8_t> bits(size_t{bitmapSectorCount(volume)} * kSectorSize);
    if (bits.empty()) return Fault{"the volume has no allocation blocks"};
    const uint32_t first = bitmapFirstSector(volume);
    if (uint16_t status = ReadSectors(context.device, first, bitmapSectorCount(volume), bits.data()); status != 0)
        return Fault{"cannot read the volume bitmap: " + statusReason(status, first, "read")};
    volume.bitmapBefore = bits;
    volume.bitmap = std::move(bits);
    return Status::ok();
}

std::optional<BlockRun> allocateBlocks(VolumeState& volume, uint32_t count, uint32_t shortest) {
    if (volume.bitmap.empty()) return std::nullopt;
    std::optional<BlockRun> run = findFreeRun(volume, count, std::min(count, shortest));
    if (run) markBlocks(volume, *run);
    return run;
}

std::optional<std::vector<BlockRun>> allocateForkBlocks(VolumeState& volume, uint32_t count) {
    std::vector<BlockRun> runs;
    if (count == 0) return runs;
    if (volume.bitmap.empty()) return std::nullopt;
    if (std::optional<BlockRun> whole = findFreeRun(volume, count, count, 0)) {
        markBlocks(volume, *whole);
        return std::vector<BlockRun>{*whole};
    }
    uint32_t free = 0;
    for (uint32_t b = 0; b < volume.mdb16(mdb::kAllocBlocks) && free < count; ++b) free += blockTaken(volume, b) ? 0 : 1;
    if (free < count) return std::nullopt;
    for (uint32_t left = count; left > 0;) {
        const std::optional<BlockRun> run = findFreeRun(volume, left, 1, 0);
        if (!run) break;  // counted above, so never
        markBlocks(volume, *run);
        runs.push_back(*run);
        left -= run->count;
    }
    return runs;
}

uint32_t freeBlocks(VolumeState& volume, BlockRun run) {
    uint32_t freed = 0;
    const uint32_t end = std::min<uint32_t>(uint32_t{run.start} + run.count, volume.mdb16(mdb::kAllocBlocks));
    for (uint32_t b = run.start; b < end; ++b) {
        if (!blockUsed(volume, b)) continue;
        volume.bitmap[b / 8] &= static_cast<uint8_t>(~(0x80 >> (b % 8)));
        ++freed;
    }
    return freed;
}

Status extendTree(const VolumeContext& context, BTreeFile& tree, uint32_t nodes) {
    VolumeState& volume = context.volume;
    // A catalog may have to grow while only its records were being changed: the bitmap is
    // loaded then.
    if (Status s = loadVolumeBitmap(context); !s) return s;
    // A block that a damaged fork claims while the bitmap has it free must not go to the tree.
    Result<std::string> claimed = claimedFreeBlock(context);
    if (!claimed) return Fault{claimed.fault()};
    if (!claimed->empty()) {
        treeFault(volume.catalog, *claimed);
        return Fault{std::string(messageText(Msg::VolumeDamaged)) + " " + *claimed + "; it is not changed."};
    }
    const uint32_t blockSize = volume.allocBlockSize;
    const uint32_t wanted =
        std::clamp<uint32_t>(nodes > 0 ? (nodes * kNodeSize + blockSize - 1) / blockSize : 2 * (tree.treeSize / blockSize), 1, 0xFFFF);
    // Growing by less than was wanted is better than not growing: take the first run of
    // reasonable length, else any free block.
    std::optional<BlockRun> run = allocateBlocks(volume, wanted);
    if (!run) run = allocateBlocks(volume, wanted, 1);
    if (!run) return Fault{tree.isCatalog ? messageText(Msg::CatalogNotExtended) : messageText(Msg::NoSpaceOnVolume)};
    const auto forkBlock = static_cast<uint16_t>(tree.treeSize / blockSize);
    if (Status s = recordTreeExtent(context, tree, *run, forkBlock); !s) {
        freeBlocks(volume, *run);
        return s;
    }
    uint8_t* mdbBytes = volume.mdbCopy.data();
    storeBE16(mdbBytes + mdb::kFreeBlocks, static_cast<uint16_t>(volume.mdb16(mdb::kFreeBlocks) - std::min(run->count, volume.mdb16(mdb::kFreeBlocks))));
    storeBE32(mdbBytes + treeSizeField(tree), tree.treeSize + uint32_t{run->count} * blockSize);
    addTreeNodes(tree, uint32_t{run->count} * blockSize / kNodeSize);
    return Status::ok();
}

Status addExtentRecord(const VolumeContext& context, BlockRun extent, uint32_t fileID, uint16_t startBlock,
                       uint8_t forkType) {
    beginVolumeChange(context.volume);
    if (Status s = beginExtentsEdit(context); !s) return s;
    BTreeFile& tree = context.volume.extents;
    const auto key = extentKey(fileID, forkType, startBlock);
    if (loadBE32(tree.header.data() + header::kRoot) != 0) {
        Result<RecordPlace> place = locateRecord(tree, key.data());
        if (!place) return Fault{place.fault()};
        if (place->found) return Fault{"extents tree: file " + std::to_string(fileID) + " has a record at block " + std::to_string(startBlock) + " already"};
        // The record before the new key's place is the fork's last one when it is the fork's.
        uint32_t n = place->node;
        int index = place->index - 1;
        if (index < 0) {
            n = loadBE32(viewNode(tree, n) + node::kBLink);
            index = n != 0 && viewNode(tree, n) ? nodeRecordCount(viewNode(tree, n)) - 1 : -1;
        }
        if (index >= 0) {
            const uint8_t* nd = viewNode(tree, n);
            const uint8_t* prior = nd + nodeRecordOffset(nd, static_cast<uint16_t>(index));
            uint8_t* slots = editNode(tree, n) + nodeRecordOffset(nd, static_cast<uint16_t>(index)) + extkey::kRecordData;
            if (loadBE32(prior + extkey::kFileId) == fileID && prior[extkey::kForkType] == forkType) {
                uint32_t end = loadBE16(prior + extkey::kStartBlock);
                for (size_t i = 0; i < kExtentSlots; ++i) {
                    const uint16_t count = loadBE16(slots + 4 * i + 2);
                    if (count == 0) {
                        if (end != startBlock) break;
                        storeBE16(slots + 4 * i, extent.start);
                        storeBE16(slots + 4 * i + 2, extent.count);
                        return Status::ok();
                    }
                    end += count;
                }
            }
        }
    }
    uint8_t data[kExtentRecordSize] = {};
    storeBE16(data, extent.start);
    storeBE16(data + 2, extent.count);
    return insertRecord(context, tree, key.data(), data, sizeof data);
}

Result<uint32_t> removeExtentRecords(const VolumeContext& context, uint32_t fileID, uint8_t forkType) {
    if (Status s = beginExtentsEdit(context); !s) return Fault{s.fault()};
    if (Status s = loadVolumeBitmap(context); !s) return Fault{s.fault()};
    BTreeFile& tree = context.volume.extents;
    uint32_t freed = 0;
    const auto key = extentKey(fileID, forkType, 0);
    // Each deletion rebuilds the index, so the fork's first remaining record is looked up anew;
    // every round deletes one record, and the tree holds finitely many.
    while (loadBE32(tree.header.data() + header::kRoot) != 0) {
        Result<RecordPlace> place = locateRecord(tree, key.data());
        if (!place) return Fault{place.fault()};
        uint32_t n = place->node;
        uint16_t index = place->index;
        const uint8_t* nd = viewNode(tree, n);
        if (index >= nodeRecordCount(nd)) {
            n = nodeForwardLink(nd);
            if (n == 0 || !viewNode(tree, n)) break;
            nd = viewNode(tree, n);
            index = 0;
        }
        const uint8_t* rec = nd + nodeRecordOffset(nd, index);
        if (loadBE32(rec + extkey::kFileId) != fileID || rec[extkey::kForkType] != forkType) break;
        for (size_t i = 0; i < kExtentSlots; ++i) {
            const uint8_t* slot = rec + extkey::kRecordData + 4 * i;
            freed += freeBlocks(context.volume, BlockRun{loadBE16(slot), loadBE16(slot + 2)});
        }
        if (Status s = deleteRecord(context, tree, n, index); !s) return Fault{s.fault()};
    }
    return freed;
}

Status insertCatalogRecord(const VolumeContext& context, const uint8_t* key, const uint8_t* data, size_t length) {
    beginVolumeChange(context.volume);
    return insertRecord(context, context.volume.catalog, key, data, length);
}

Status insertThreadRecord(const VolumeContext& context, const uint8_t* key, const uint8_t* data) {
    return insertCatalogRecord(context, key, data, catrec::kThreadSize);
}

Status deleteCurrentRecord(const VolumeContext& context) {
    beginVolumeChange(context.volume);
    BTreeFile& tree = context.volume.catalog;
    return deleteRecord(context, tree, tree.nodeNumber, tree.recordIndex);
}

Status renameRecord(const VolumeContext& context, std::string_view newName) {
    BTreeFile& tree = context.volume.catalog;
    const uint8_t* key = currentRecordKey(tree);
    if (!key) return Fault{"catalog: no current record to rename"};
    if (newName.empty() || newName.size() > kMaxNameLength) return Fault{"a name has 1 to 31 characters"};
    const uint8_t type = recordType(key);
    const size_t length = type == catrec::kFolder ? catrec::kFolderSize : catrec::kFileSize;
    std::vector<uint8_t> data(recordData(key), recordData(key) + length);
    uint8_t newKey[catkey::kName + kMaxNameLength] = {};
    std::memcpy(newKey + catkey::kParentId, key + catkey::kParentId, 4);
    newKey[catkey::kNameLength] = static_cast<uint8_t>(newName.size());
    std::memcpy(newKey + catkey::kName, newName.data(), newName.size());
    newKey[catkey::kKeyLength] = static_cast<uint8_t>(catkey::kMinKeyLength + newName.size());
    if (Status s = deleteCurrentRecord(context); !s) return s;
    return insertCatalogRecord(context, newKey, data.data(), data.size());
}

namespace {

std::optional<uint32_t> findAlternateMdb(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    const uint32_t allocEnd = static_cast<uint32_t>(volume.firstBlockSector) + volume.mdb16(mdb::kAllocBlocks) * volume.sectorsPerBlock;
    if (volume.partitionSectors > kSectorOffsetInPartition) {
        const uint32_t sector = volume.partitionStart + volume.partitionSectors - kSectorOffsetInPartition;
        if (sector >= allocEnd) return sector;
        return std::nullopt;
    }
    // Without a partition map the volume ends where the medium ends, which the drive does not
    // say; the alternate MDB that the formatting program wrote there tells it. It lies after the
    // allocation area, at most an allocation block and the two closing sectors away.
    std::optional<uint32_t> found;
    std::array<uint8_t, kSectorSize> sector{};
    for (uint32_t s = allocEnd; s < allocEnd + volume.sectorsPerBlock + 4; ++s) {
        if (ReadSectors(context.device, s, 1, sector.data()) != 0) break;
        if (sector[0] == 'B' && sector[1] == 'D' &&
            std::memcmp(sector.data() + mdb::kCreated, volume.mdbCopy.data() + mdb::kCreated, 4) == 0)
            found = s;
    }
    return found;
}

}  // namespace

std::optional<uint32_t> alternateMdbSector(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    if (!volume.alternateMdb) volume.alternateMdb = findAlternateMdb(context);
    return *volume.alternateMdb;
}

void discardVolumeChange(VolumeState& volume) {
    abandonTreeEdit(volume.catalog);
    abandonTreeEdit(volume.extents);
    if (volume.changeOpen) volume.mdbCopy = volume.mdbBefore;
    volume.bitmap.clear();
    volume.sharedBlocks.clear();
    volume.bitmapBefore.clear();
    volume.changeOpen = false;
}

}  // namespace quarry
