#pragma once
// The mounted volume: where it lies on the medium, its master directory block (MDB), and the
// two B-trees copied into local work files.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/result.h"
#include "common/ui_port.h"
#include "device/sector_source.h"
#include "hfs/catalog_layout.h"

namespace quarry {

// Master directory block fields, offsets from the start of the MDB.
namespace mdb {
inline constexpr size_t kSignature = 0;       // drSigWord, "BD"
inline constexpr size_t kCreated = 2;         // drCrDate
inline constexpr size_t kModified = 6;        // drLsMod
inline constexpr size_t kAttributes = 10;     // drAtrb
inline constexpr uint16_t kHardwareLocked = 0x0080;  // drAtrb: set by the medium (a CD)
// drAtrb: set while no change is under way. Each commit clears it before its first write and
// sets it with its last, as Mac OS does between mount and unmount; a volume without it was cut
// off in the middle of a change.
inline constexpr uint16_t kCleanlyUnmounted = 0x0100;
inline constexpr uint16_t kSoftwareLocked = 0x8000;  // drAtrb: set by the person
inline constexpr size_t kRootFiles = 12;      // drNmFls: files in the root folder
inline constexpr size_t kBitmapStart = 14;    // drVBMSt: first sector of the volume bitmap
inline constexpr size_t kAllocPointer = 16;   // drAllocPtr: where the next search for free blocks starts
inline constexpr size_t kAllocBlocks = 18;    // drNmAlBlks: allocation blocks on the volume
inline constexpr size_t kAllocBlockSize = 20; // drAlBlkSiz
inline constexpr size_t kClumpSize = 24;      // drClpSiz
inline constexpr size_t kAllocStart = 28;     // drAlBlSt: sector of allocation block 0
inline constexpr size_t kNextCatalogId = 30;  // drNxtCNID
inline constexpr size_t kFreeBlocks = 34;     // drFreeBks
inline constexpr size_t kVolumeName = 36;     // drVN: length byte, then up to 27 characters
inline constexpr size_t kExtentsClump = 74;   // drXTClpSiz
inline constexpr size_t kCatalogClump = 78;   // drCTClpSiz
inline constexpr size_t kRootFolders = 82;    // drNmRtDirs
inline constexpr size_t kFileCount = 84;      // drFilCnt
inline constexpr size_t kFolderCount = 88;    // drDirCnt
inline constexpr size_t kExtentsSize = 130;   // drXTFlSize
inline constexpr size_t kExtentsExtents = 134;// drXTExtRec
inline constexpr size_t kCatalogSize = 146;   // drCTFlSize
inline constexpr size_t kCatalogExtents = 150;// drCTExtRec
inline constexpr size_t kMaxVolumeName = 27;
}  // namespace mdb

// A B-tree copied into a work file: node n lies at byte n × 512 of the file.
struct BTreeFile {
    std::array<uint8_t, kNodeSize> node{};    // the node last read: the current node
    std::array<uint8_t, kNodeSize> header{};  // node 0, read once when the work file is made
    uint32_t nodeNumber = 0;
    uint16_t recordIndex = 0;  // the cursor within the current node (catalog only)
    uint32_t treeSize = 0;     // bytes of the tree file
    int workFile = -1;         // descriptor of the work file; -1 = no work file yet
    bool isCatalog = false;
    std::string workPath;
    // Why the search now running (or the last one) failed on a damaged tree: each search starts
    // with it empty, and one that meets a damaged node returns none and leaves the reason here.
    std::string fault;
    // Every place of damage met in this tree since the volume was mounted, each once, in the
    // order met. It outlives the searches (and a reload of the tree after a failed load), so
    // that a volume on which damage was seen is never changed, and so that each place is told
    // to the person once: `damageReported` of them have been.
    std::vector<std::string> damage;
    size_t damageReported = 0;

    // Once a tree is first changed it lives in memory (the work file keeps it as last
    // committed): the nodes changed since the last commit keep their committed bytes in `saved`,
    // so an abandoned or failed change is undone and the commit writes exactly the nodes that
    // differ. See hfs/tree_edit.h.
    std::vector<uint8_t> edit;
    std::unordered_map<uint32_t, std::array<uint8_t, kNodeSize>> saved;
    std::array<uint8_t, kNodeSize> savedHeader{};
    uint32_t committedNodes = 0;
    std::vector<uint8_t> nodeUsed;  // the node map, one flag per node
    std::vector<uint32_t> mapNodes; // the map nodes after the header node, in chain order
    uint32_t freeHint = 1;          // no node below this one is free
    // The nodes that the tree on the medium uses (its node map and every node its index
    // reaches): a commit never writes over one of them. See hfs/tree_shadow.h.
    std::vector<uint8_t> committedUsed;
    // For each node, the node that holds the previous version of what it holds, written by the
    // commit before; a later commit puts the node's next version back there, where often the
    // bytes are the same already.
    std::vector<uint32_t> partner;
    // True where the partner holds this node's bytes already, each node number in them put back
    // to its partner: a commit that sends the node and its neighbours back writes nothing there.
    std::vector<uint8_t> partnerHoldsIt;
    // The links of each node as the last commit left it, numbered as then, and whether it is an
    // index node: what the next commit needs of a node it did not change, without reading it.
    struct NodeLinks {
        uint32_t forward = 0;
        uint32_t backward = 0;
        uint32_t parent = 0;  // the index node that names it; 0 for the root
        bool index = false;
    };
    std::vector<NodeLinks> nodeLinks;
    // True once a commit wrote the node map: it marks exactly node 0, the map nodes and the
    // nodes the index reaches, and the edits keep it so, so the commit need not walk the index.
    bool mapIsTree = false;
    // The highest catalog ID that the catalog's records use, found when the tree was loaded into
    // memory (catalog only).
    uint32_t highestCatalogId = 0;

    // The first damage met since the mount; empty while none was.
    std::string firstDamage() const { return damage.empty() ? std::string() : damage.front(); }
    uint32_t nodeCount() const { return treeSize / kNodeSize; }
    bool hasWorkFile() const { return workFile >= 0; }
    bool inMemory() const { return !edit.empty(); }
    bool changed() const { return inMemory() && (!saved.empty() || header != savedHeader); }
};

struct VolumeState {
    VolumeState() { catalog.isCatalog = true; }

    uint32_t deviceBlockCount = 0;  // from the driver descriptor; 0 without one
    uint16_t descriptorBlockSize = 0;  // the descriptor's block size, whatever the device uses
    uint64_t mediumSectors = 0;     // the medium's size as the drive reports it; 0 unknown
    uint64_t imageBytes = 0;        // the size of the image the volume is read from; 0 for a drive
    std::string cutShort;           // what imageCutShort says, found at the mount
    // True when 512-byte sectors [first, first + count) reach past the image's end. An image
    // whose size is not a whole number of 2048-byte blocks serves the last block's tail as
    // zeros, since a volume may end there; a fork sector in that tail was never read from a
    // disc all the same, and is read as a sector that cannot be read.
    bool pastImageEnd(uint64_t first, uint64_t count) const {
        return imageBytes != 0 && (first + count) * 512 > imageBytes;
    }
    bool cutShortTold = false;      // the person heard it
    // Sector of allocation block 0 once mounted. Also the mount status: 0 = no Macintosh
    // volume, negative = MS-DOS volume, positive = mounted.
    int32_t firstBlockSector = 0;
    uint32_t mdbSector = 0;
    uint32_t allocBlockSize = 0;
    uint32_t sectorsPerBlock = 0;
    uint16_t bitmapSectors = 0;
    std::array<uint8_t, 1024> sectorBuffer{};
    std::array<uint8_t, 512> mdbCopy{};
    BTreeFile catalog;
    BTreeFile extents;
    // Sectors in the partition before the volume's own: the partition map entry's start.
    uint32_t partitionStart = 0;
    // Sectors of the HFS partition from its map entry; 0 without a partition map.
    uint32_t partitionSectors = 0;
    // The partition to mount (start and sectors), when the mount has chosen one other than the
    // first Apple_HFS entry of an Apple map (another partition, or one behind a GPT or an MBR).
    struct Partition {
        uint32_t start = 0;
        uint32_t sectors = 0;
    };
    std::optional<Partition> chosenPartition;

    // While a change is open: the volume bitmap (one bit per allocation block, the first block
    // in the top bit of byte 0) once loaded, and the MDB and bitmap as they were on the medium.
    std::vector<uint8_t> bitmap;
    std::vector<uint8_t> bitmapBefore;
    std::array<uint8_t, 512> mdbBefore{};
    bool changeOpen = false;
    // While a change is open, once a delete has asked (hfs/volume_recount.h): one flag per
    // allocation block that more than one fork or tree claims.
    std::vector<uint8_t> sharedBlocks;
    // Where the alternate MDB lies, once a commit or a check has looked (hfs/volume_edit.h).
    std::optional<std::optional<uint32_t>> alternateMdb;

    // Why the last mount failed, when the medium holds a volume that cannot be used.
    std::string mountFault;
    // True when the mount failed on the PC side (a work file that cannot be written).
    bool mountFaultIsLocal = false;

    bool mounted() const { return firstBlockSector > 0; }
    uint16_t mdb16(size_t off) const { return loadBE16(mdbCopy.data() + off); }
    uint32_t mdb32(size_t off) const { return loadBE32(mdbCopy.data() + off); }
    // The volume name as stored, in the Macintosh character set.
    std::string volumeName() const;
    // Locked by the medium or by the person: Mac OS changes nothing on it, nor does this program.
    bool locked() const { return (mdb16(mdb::kAttributes) & (mdb::kHardwareLocked | mdb::kSoftwareLocked)) != 0; }
};

// What the volume code works with: the volume, the medium it is read from, and the person,
// reached through the UI port. A fatal error also sets `ending`, so that long work stops at its
// next step.
struct VolumeContext {
    VolumeState& volume;
    DeviceState& device;
    UiPort& ui;
    bool& ending;

    void fatal(const std::string& text) const {
        ending = true;
        ui.fatalError(text);
    }
};

// Finds the volume on the medium, reads its MDB and copies the catalog into its work file: 1
// when that worked, 0 when no usable Macintosh volume was found (volume.mountFault says why
// when there is a reason to give), negative for an MS-DOS volume.
int loadVolume(const VolumeContext& context);
void locateVolume(const VolumeContext& context);
uint32_t readVolumeHeader(const VolumeContext& context);
int copyCatalogTree(const VolumeContext& context);
Status copyExtentsTree(const VolumeContext& context);
// Closes and deletes both work files (at re-mount and at exit), and forgets the damage met.
void closeWorkFiles(VolumeState& volume);
// The first damage met on the volume since its mount, in either tree; empty while none was.
std::string firstVolumeDamage(const VolumeState& volume);
// Where the mounted volume ends, in bytes from the start of the medium: the end of its
// allocation blocks, as its MDB places them.
uint64_t volumeEndByte(const VolumeState& volume);
// "The image ends at byte N, before the end of its volume at byte M: ..." when the mounted
// volume lies partly past the end of its image file, which cannot be read; empty otherwise
// (also for a CD whose last allocation block genisoimage let reach past the image's end).
std::string imageCutShort(const VolumeState& volume);

}  // namespace quarry
