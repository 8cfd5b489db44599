#include "hfs/volume.h"

#include <unistd.h>

#include <cstring>

#include "common/messages.h"
#include "common/work_file.h"
#include "hfs/btree.h"
#include "hfs/fork.h"

namespace quarry {
namespace {

// Driver descriptor (sector 0), old-style map (sector 1) and Apple partition map entries.
namespace ddm {
inline constexpr uint8_t kSignature[2] = {'E', 'R'};
inline constexpr size_t kBlockSize = 2;   // sbBlkSize
inline constexpr size_t kBlockCount = 4;  // sbBlkCount
}  // namespace ddm
namespace tsmap {
inline constexpr uint8_t kSignature[2] = {'T', 'S'};
inline constexpr size_t kStart = 2;
}  // namespace tsmap
namespace pmap {
inline constexpr uint8_t kSignature[2] = {'P', 'M'};
inline constexpr size_t kMapEntries = 4;  // pmMapBlkCnt
inline constexpr size_t kStart = 8;       // pmPyPartStart
inline constexpr size_t kSize = 12;       // pmPartBlkCnt
inline constexpr size_t kType = 48;       // pmParType
inline constexpr char kHfsType[] = "Apple_HFS";
}  // namespace pmap
inline constexpr uint8_t kMdbSignature[2] = {'B', 'D'};
inline constexpr uint32_t kMdbOffsetInPartition = 2;

bool startsWith(const uint8_t* p, const uint8_t (&sig)[2]) { return p[0] == sig[0] && p[1] == sig[1]; }

void closeTree(BTreeFile& tree) {
    if (tree.hasWorkFile()) {
        ::close(tree.workFile);
        ::unlink(tree.workPath.c_str());
    }
    tree.workFile = -1;
    tree.workPath.clear();
    tree.fault.clear();
    tree.edit.clear();
    tree.saved.clear();
    tree.committedNodes = 0;
    tree.nodeUsed.clear();
    tree.mapNodes.clear();
    tree.committedUsed.clear();
    tree.partner.clear();
    tree.partnerHoldsIt.clear();
    tree.nodeLinks.clear();
    tree.mapIsTree = false;
}

// Makes a tree's work file and copies the tree into it from its MDB extents.
Status copyTree(const VolumeContext& context, BTreeFile& tree, const char* prefix, size_t sizeField,
                size_t extentsField, uint32_t fileID) {
    VolumeState& volume = context.volume;
    closeTree(tree);
    tree.nodeNumber = 0;
    tree.recordIndex = 0;
    tree.treeSize = volume.mdb32(sizeField);
    const uint64_t volumeBytes = uint64_t{volume.mdb16(mdb::kAllocBlocks)} * volume.allocBlockSize;
    if (tree.treeSize > volumeBytes)
        return Fault{std::string(tree.isCatalog ? "catalog" : "extents") + " tree of " + std::to_string(tree.treeSize) +
                     " bytes is larger than the volume"};
    // A damaged MDB can claim a volume far larger than its medium; the work file would then be
    // filled with gigabytes of the zeros read past the medium's end.
    if (volume.mediumSectors != 0 && tree.treeSize > volume.mediumSectors * kSectorSize)
        return Fault{std::string(tree.isCatalog ? "catalog" : "extents") + " tree of " + std::to_string(tree.treeSize) +
                     " bytes is larger than the medium (" + std::to_string(volume.mediumSectors * kSectorSize) + " bytes)"};
    tree.workFile = CreateWorkFile(context.ui, tree.workPath, prefix, tree.treeSize);
    if (!tree.hasWorkFile()) return Fault{messageText(Msg::NoTempSpace)};
    FdSink sink(tree.workFile);
    const ExtentRecord extents = extentRecordAt(volume.mdbCopy.data() + extentsField);
    Status s = readForkToFile(context, extents, sink, fileID, tree.treeSize, kDataFork);
    if (s && !sink.flush()) s = Fault{"cannot write: " + sink.error()};
    if (!s) {
        // A work file that cannot be written is the PC's trouble, not the volume's.
        if (!sink.error().empty()) {
            volume.mountFaultIsLocal = true;
            return Fault{"cannot write the work file " + tree.workPath + ": " + sink.error()};
        }
        return s;
    }
    if (pread(tree.workFile, tree.header.data(), kNodeSize, 0) != static_cast<ssize_t>(kNodeSize))
        return Fault{std::string(tree.isCatalog ? "catalog" : "extents") + " tree is shorter than one node"};
    uint8_t* head = tree.header.data();
    if (head[node::kType] != node::kTypeHeader)
        return Fault{std::string(tree.isCatalog ? "catalog" : "extents") + " node 0: not a header node"};
    if (loadBE16(head + header::kNodeSize) != kNodeSize)
        return Fault{std::string(tree.isCatalog ? "catalog" : "extents") + " node 0: node size " +
                     std::to_string(loadBE16(head + header::kNodeSize)) + " is not 512"};
    if (loadBE32(head + header::kFreeNodes) > loadBE32(head + header::kTotalNodes)) storeBE32(head + header::kFreeNodes, 0);
    return Status::ok();
}

// A volume whose allocation arithmetic cannot work is no volume at all: refusing it here keeps
// every later address computation sound.
std::string checkMdb(const VolumeState& volume) {
    const uint16_t blockSize = static_cast<uint16_t>(volume.mdb32(mdb::kAllocBlockSize));
    if (blockSize == 0 || blockSize % kSectorSize != 0)
        return "allocation block size " + std::to_string(volume.mdb32(mdb::kAllocBlockSize)) + " is not a multiple of 512";
    if (volume.mdb16(mdb::kAllocStart) <= kMdbOffsetInPartition) return "allocation area starts before the MDB";
    if (volume.mdb16(mdb::kAllocStart) < volume.mdb16(mdb::kBitmapStart)) return "allocation area starts before the bitmap";
    return {};
}

}  // namespace

std::string VolumeState::volumeName() const {
    const size_t len = std::min<size_t>(mdbCopy[mdb::kVolumeName], mdb::kMaxVolumeName);
    return std::string(reinterpret_cast<const char*>(mdbCopy.data() + mdb::kVolumeName + 1), len);
}

void closeWorkFiles(VolumeState& volume) {
    closeTree(volume.catalog);
    closeTree(volume.extents);
    for (BTreeFile* tree : {&volume.catalog, &volume.extents}) {
        tree->damage.clear();
        tree->damageReported = 0;
    }
    volume.bitmap.clear();
    volume.sharedBlocks.clear();
    volume.bitmapBefore.clear();
    volume.changeOpen = false;
    volume.alternateMdb.reset();
}

std::string firstVolumeDamage(const VolumeState& volume) {
    std::string first = volume.catalog.firstDamage();
    return first.empty() ? volume.extents.firstDamage() : first;
}

uint64_t volumeEndByte(const VolumeState& volume) {
    if (!volume.mounted()) return 0;
    return uint64_t{static_cast<uint32_t>(volume.firstBlockSector)} * kSectorSize +
           uint64_t{volume.mdb16(mdb::kAllocBlocks)} * volume.allocBlockSize;
}

std::string imageCutShort(const VolumeState& volume) { return volume.mounted() ? volume.cutShort : std::string(); }

namespace {

// genisoimage lets the last allocation block of a CD's volume reach past the end of the image
// (into the padding that -no-pad leaves out) and writes the alternate MDB in the block before
// it; that last block is never given to a file. An image that ends at most one allocation block
// short of the blocks, with the alternate MDB among its last sectors, holds its volume whole.
bool endsWithAlternateMdb(const VolumeContext& context) {
    const VolumeState& volume = context.volume;
    const uint64_t allocEnd = volumeEndByte(volume) / kSectorSize;
    const uint64_t imageEnd = volume.imageBytes / kSectorSize;
    if (allocEnd - imageEnd > volume.sectorsPerBlock) return false;
    std::array<uint8_t, kSectorSize> sector{};
    for (uint64_t s = imageEnd > volume.sectorsPerBlock + 4 ? imageEnd - volume.sectorsPerBlock - 4 : 0; s < imageEnd; ++s) {
        if (ReadSector(context.device, static_cast<uint32_t>(s), sector.data()) != 0) return false;
        if (startsWith(sector.data(), kMdbSignature) &&
            std::memcmp(sector.data() + mdb::kCreated, volume.mdbCopy.data() + mdb::kCreated, 4) == 0)
            return true;
    }
    return false;
}

// What imageCutShort says of the volume just located. The two sectors a formatting program
// keeps after the allocation blocks (the alternate MDB and a spare) are not counted, as
// genisoimage keeps no such sectors.
std::string cutShortText(const VolumeContext& context) {
    const VolumeState& volume = context.volume;
    const uint64_t end = volumeEndByte(volume);
    if (volume.imageBytes == 0 || volume.imageBytes >= end || endsWithAlternateMdb(context)) return {};
    return "The image ends at byte " + std::to_string(volume.imageBytes) + ", before the end of its volume at byte " +
           std::to_string(end) + ": what lies beyond cannot be read.";
}

}  // namespace

uint32_t readVolumeHeader(const VolumeContext& context) {
    DeviceState& device = context.device;
    VolumeState& volume = context.volume;
    uint8_t* buf = volume.sectorBuffer.data();
    if (ReadSector(device, 0, buf) != 0) {
        context.ui.setStatusText(messageText(Msg::MediaUnreadable), nullptr);
        return 0;
    }
    if (startsWith(buf, ddm::kSignature)) {
        volume.deviceBlockCount = loadBE32(buf + ddm::kBlockCount);
        // A block size the buffers cannot hold would break every later computation with it;
        // such a descriptor is taken for its block count only.
        const uint16_t blockSize = loadBE16(buf + ddm::kBlockSize);
        volume.descriptorBlockSize = blockSize;
        if (blockSize >= kSectorSize && blockSize <= volume.sectorBuffer.size() && blockSize % kSectorSize == 0)
            device.deviceBlockSize = blockSize;
    }
    uint32_t partitionStart = 0;
    volume.partitionStart = 0;
    volume.partitionSectors = 0;
    if (ReadSector(device, 1, buf) != 0) return 0;
    if (volume.chosenPartition) {
        partitionStart = volume.chosenPartition->start;
        volume.partitionSectors = volume.chosenPartition->sectors;
    } else if (startsWith(buf, tsmap::kSignature)) {
        partitionStart = loadBE32(buf + tsmap::kStart);
    } else if (startsWith(buf, pmap::kSignature)) {
        const uint32_t entries = loadBE32(buf + pmap::kMapEntries);
        // A map is contiguous: the search also ends at the first sector that is not an entry,
        // so a damaged entry count cannot make it read the whole medium.
        for (uint32_t i = 0; i < entries; ++i) {
            if (ReadSector(device, 2 + i, buf) != 0 || !startsWith(buf, pmap::kSignature)) break;
            if (std::memcmp(buf + pmap::kType, pmap::kHfsType, sizeof(pmap::kHfsType) - 1) == 0) {
                partitionStart = loadBE32(buf + pmap::kStart);
                volume.partitionSectors = loadBE32(buf + pmap::kSize);
                break;
            }
        }
    } else {
        if (ReadSector(device, 2, buf) != 0 || !startsWith(buf, kMdbSignature)) return 0;
    }
    // Sector numbers are 32-bit; a start this close to the limit cannot hold a volume.
    if (partitionStart > 0x7FFFFFFFu - 0x10000u) return 0;
    volume.partitionStart = partitionStart;
    volume.mdbSector = partitionStart + kMdbOffsetInPartition;
    if (ReadSector(device, volume.mdbSector, buf) != 0) return 0;
    std::memcpy(volume.mdbCopy.data(), buf, volume.mdbCopy.size());
    return startsWith(volume.mdbCopy.data(), kMdbSignature) ? volume.mdbSector : 0;
}

void locateVolume(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    volume.firstBlockSector = static_cast<int32_t>(readVolumeHeader(context));
    context.ui.stepWaitCursor();
    if (volume.firstBlockSector == 0) {
        volume.firstBlockSector = ProbeDosBootRecord(context.device);
        context.ui.stepWaitCursor();
        return;
    }
    if (volume.firstBlockSector < 0) return;
    volume.mdbSector = static_cast<uint32_t>(volume.firstBlockSector);
    if (std::string fault = checkMdb(volume); !fault.empty()) {
        volume.mountFault = "MDB at sector " + std::to_string(volume.mdbSector) + ": " + fault;
        volume.firstBlockSector = 0;
        return;
    }
    const uint16_t allocStart = volume.mdb16(mdb::kAllocStart);
    volume.firstBlockSector += allocStart - static_cast<int32_t>(kMdbOffsetInPartition);
    volume.bitmapSectors = static_cast<uint16_t>(allocStart - volume.mdb16(mdb::kBitmapStart));
    volume.allocBlockSize = volume.mdb32(mdb::kAllocBlockSize) & 0xFFFF;
    volume.sectorsPerBlock = volume.allocBlockSize / kSectorSize;
}

int copyCatalogTree(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    closeTree(volume.extents);
    context.ui.setStatusText(messageText(Msg::CopyingCatalog), nullptr);
    if (loadBE16(volume.mdbCopy.data() + mdb::kCatalogExtents + 2) == 0) {
        context.fatal(messageText(Msg::CatalogEmpty));
        volume.mountFault = messageText(Msg::CatalogEmpty);
        return 0;
    }
    if (Status s = copyTree(context, volume.catalog, "CAT", mdb::kCatalogSize, mdb::kCatalogExtents, kCatalogFileId); !s) {
        volume.mountFault = s.fault();
        return 0;
    }
    const uint8_t* head = volume.catalog.header.data();
    if (loadBE32(head + header::kRoot) >= volume.catalog.nodeCount() ||
        loadBE32(head + header::kFirstLeaf) >= volume.catalog.nodeCount()) {
        volume.mountFault = "catalog node 0: root or first leaf lies past the end of the tree";
        return 0;
    }
    return 1;
}

Status copyExtentsTree(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    context.ui.setStatusText(messageText(Msg::CopyingExtents), nullptr);
    const bool localBefore = volume.mountFaultIsLocal;
    volume.mountFaultIsLocal = false;
    Status s = copyTree(context, volume.extents, "EXT", mdb::kExtentsSize, mdb::kExtentsExtents, kExtentsFileId);
    const bool local = volume.mountFaultIsLocal || (!s && s.fault() == messageText(Msg::NoTempSpace));
    volume.mountFaultIsLocal = localBefore;
    if (!s) {
        // A tree that did not load whole is not kept: a later search would read the nodes it
        // did get as if they were the tree. The next need loads it again, and meets the same
        // fault, which is then told once more to the search but not to the person.
        closeTree(volume.extents);
        if (local) volume.extents.fault = s.fault();
        else treeFault(volume.extents, s.fault());
    }
    return s;
}

int loadVolume(const VolumeContext& context) {
    VolumeState& volume = context.volume;
    volume.mountFault.clear();
    volume.mountFaultIsLocal = false;
    volume.deviceBlockCount = 0;
    volume.descriptorBlockSize = 0;
    volume.mediumSectors = MediumSectors(context.device);
    volume.imageBytes = ImageBytes(context.device);
    volume.cutShort.clear();
    volume.cutShortTold = false;
    // Device blocks are 512 bytes until this medium's own driver descriptor says otherwise; the
    // size the previous medium announced would refuse writes to this one and make the probes read
    // in its blocks.
    context.device.deviceBlockSize = static_cast<uint16_t>(kSectorSize);
    // A block cached from the previous medium must not answer for the new one.
    context.device.cdBlockKey = kNoCachedBlock;
    closeWorkFiles(volume);

    context.ui.setStatusText(messageText(Msg::AnalyzingVolume), messageText(Msg::PleaseWait));
    context.ui.stepWaitCursor();
    locateVolume(context);
    if (volume.firstBlockSector == 0) {
        context.device.targetId = kNoSelection;
        return 0;
    }
    if (volume.firstBlockSector < 0) {
        context.ui.setStatusText(messageText(Msg::MsDosVolume), nullptr);
        return volume.firstBlockSector;
    }
    volume.cutShort = cutShortText(context);
    if (!copyCatalogTree(context)) {
        // A catalog that reaches past the end of an image cut short may be lost for that
        // reason, which the fault then also says.
        if (std::string cut = imageCutShort(volume); !cut.empty() && !volume.mountFaultIsLocal) {
            cut[0] = 't';
            volume.mountFault += "; " + cut;
        }
        volume.firstBlockSector = 0;
        context.device.targetId = kNoSelection;
        return 0;
    }
    return 1;
}

}  // namespace quarry
