#pragma once
// A small builder for the test media that the tools cannot make: an HFS volume placed behind an
// old-style (TS) partition map or behind a driver descriptor and an Apple partition map, and a
// view of a volume that reads and patches its master directory block (MDB), its B-tree nodes and
// its catalog records in place, so that a test can start from a volume hfsutils made and bend
// exactly one thing.
//
// Everything works on bytes in memory; readFile and writeFile move them to and from disk. All
// integers are big-endian. An access outside the bytes, or a structure that is not what the
// caller asked for, throws std::out_of_range or std::runtime_error with the place named
// ("catalog node 40 lies past the tree's 22 nodes"): GoogleTest reports that as a failure of the
// test, and a wrong offset in a test can never write outside the image. Read what you need
// before breaking a structure: the lookups walk the same links that a patch may have broken.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarry::test {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSectorSize = 512;  // partition maps and the MDB count in 512-byte sectors
constexpr uint32_t kNodeSize = 512;    // every HFS B-tree node

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);

uint8_t readU8(const Bytes& bytes, size_t at);
uint16_t readBe16(const Bytes& bytes, size_t at);
uint32_t readBe32(const Bytes& bytes, size_t at);
void writeU8(Bytes& bytes, size_t at, uint8_t value);
void writeBe16(Bytes& bytes, size_t at, uint16_t value);
void writeBe32(Bytes& bytes, size_t at, uint32_t value);
void writeText(Bytes& bytes, size_t at, std::string_view text);  // the characters, no length byte

// Seconds since 1904-01-01 00:00:00, the Macintosh's wall-clock date format.
uint32_t macDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// ---------------------------------------------------------------------------------------------
// Media: partition maps in front of a volume.

// Driver descriptor record, sector 0.
namespace ddr {
constexpr size_t kSbSig = 0;       // "ER"
constexpr size_t kSbBlkSize = 2;   // u16 device block size
constexpr size_t kSbBlkCount = 4;  // u32 device block count
}  // namespace ddr

// Apple partition map entry, one per sector from sector 1 on.
namespace pm {
constexpr size_t kPmSig = 0;          // "PM"
constexpr size_t kPmMapBlkCnt = 4;    // u32 entries in the map
constexpr size_t kPmPyPartStart = 8;  // u32 first sector of the partition
constexpr size_t kPmPartBlkCnt = 12;  // u32 sectors in the partition
constexpr size_t kPmPartName = 16;    // 32 bytes, zero-padded
constexpr size_t kPmParType = 48;     // 32 bytes, zero-padded
constexpr size_t kFieldLength = 32;
}  // namespace pm

// Old-style partition map, sector 1.
namespace tsmap {
constexpr size_t kSig = 0;    // "TS"
constexpr size_t kStart = 2;  // u32 first sector of the partition
}  // namespace tsmap

struct PartitionEntry {
    std::string name;
    std::string type;          // "Apple_HFS", "Apple_Free", "Apple_Driver43", ... (at most 32 bytes)
    uint32_t startSector = 0;  // written as given: 512-byte sectors from the start of the medium
    uint32_t sectorCount = 0;
};

// A medium of 512-byte sectors assembled piece by piece. Pieces may not overlap.
class Medium {
public:
    explicit Medium(uint32_t sectorCount);

    // Copies `bytes` to the medium from `sector` on, growing the medium when they reach past it.
    Medium& place(uint32_t sector, const Bytes& bytes);
    // Sector 0: "ER", the device block size and block count.
    Medium& driverDescriptor(uint16_t blockSize, uint32_t blockCount);
    // Sector 1: "TS" and the start sector of the first partition.
    Medium& oldStyleMap(uint32_t startSector);
    // Sectors 1..n: the map's own entry ("Apple_partition_map", covering sectors 1..n), then
    // `entries` in order. Each entry carries `entryCount` as its map size; by default the true
    // count (the map's own entry included).
    Medium& partitionMap(const std::vector<PartitionEntry>& entries,
                         std::optional<uint32_t> entryCount = std::nullopt);

    const Bytes& bytes() const { return bytes_; }
    uint32_t sectorCount() const { return static_cast<uint32_t>(bytes_.size() / kSectorSize); }

private:
    void claim(uint32_t firstSector, uint32_t count, const char* what);

    Bytes bytes_;
    std::vector<bool> used_;
};

// The usual layouts: the volume at `startSector` behind a TS map, or behind a driver descriptor
// (block size `blockSize`, block count = the medium's size in those blocks) and an Apple
// partition map whose only partition, "Apple_HFS", holds the volume.
Bytes behindOldStyleMap(const Bytes& volume, uint32_t startSector);
Bytes behindPartitionMap(const Bytes& volume, uint32_t startSector, uint16_t blockSize = 512);

// ---------------------------------------------------------------------------------------------
// The volume.

// Master directory block, 1024 bytes into the volume. Offsets from its start.
namespace mdb {
constexpr size_t kDrSigWord = 0;        // "BD"
constexpr size_t kDrCrDate = 2;         // u32 volume created
constexpr size_t kDrLsMod = 6;          // u32 volume last modified
constexpr size_t kDrAtrb = 10;          // u16 volume attributes
constexpr size_t kDrNmFls = 12;         // u16 files in the root folder
constexpr size_t kDrVBMSt = 14;         // u16 first sector of the volume bitmap
constexpr size_t kDrNmAlBlks = 18;      // u16 allocation blocks on the volume
constexpr size_t kDrAlBlkSiz = 20;      // u32 allocation block size in bytes
constexpr size_t kDrClpSiz = 24;        // u32 default clump size
constexpr size_t kDrAlBlSt = 28;        // u16 first sector of allocation block 0
constexpr size_t kDrNxtCNID = 30;       // u32 next unused catalog node ID
constexpr size_t kDrFreeBks = 34;       // u16 free allocation blocks
constexpr size_t kDrVN = 36;            // volume name: length byte, up to 27 characters
constexpr size_t kDrNmRtDirs = 82;      // u16 folders in the root folder
constexpr size_t kDrFilCnt = 84;        // u32 files on the volume
constexpr size_t kDrDirCnt = 88;        // u32 folders on the volume
constexpr size_t kDrXTFlSize = 130;     // u32 extents tree size in bytes
constexpr size_t kDrXTExtRec = 134;     // 3 extents of the extents tree
constexpr size_t kDrCTFlSize = 146;     // u32 catalog tree size in bytes
constexpr size_t kDrCTExtRec = 150;     // 3 extents of the catalog tree
constexpr size_t kVolumeOffset = 1024;  // where the MDB lies in the volume
}  // namespace mdb

// B-tree node descriptor, at the start of every node.
namespace node {
constexpr size_t kFLink = 0;        // u32 next node of the same level, 0 = none
constexpr size_t kBLink = 4;        // u32 previous node of the same level, 0 = none
constexpr size_t kType = 8;         // u8, below
constexpr size_t kHeight = 9;       // u8 level, 1 for leaves
constexpr size_t kNumRecords = 10;  // u16
constexpr size_t kFirstRecord = 14;
constexpr uint8_t kIndexNode = 0x00;
constexpr uint8_t kHeaderNode = 0x01;
constexpr uint8_t kMapNode = 0x02;
constexpr uint8_t kLeafNode = 0xFF;
}  // namespace node

// B-tree header record, in node 0. Offsets from the start of the node.
namespace btheader {
constexpr size_t kDepth = 14;         // u16
constexpr size_t kRoot = 16;          // u32 root node
constexpr size_t kLeafRecords = 20;   // u32
constexpr size_t kFirstLeaf = 24;     // u32
constexpr size_t kLastLeaf = 28;      // u32
constexpr size_t kNodeSize = 32;      // u16
constexpr size_t kMaxKeyLength = 34;  // u16
constexpr size_t kTotalNodes = 36;    // u32
constexpr size_t kFreeNodes = 40;     // u32
constexpr size_t kNodeMap = 248;      // node allocation bitmap
}  // namespace btheader

// Catalog key, at the start of every catalog record.
namespace catkey {
constexpr size_t kKeyLength = 0;   // u8, not counting itself
constexpr size_t kParentId = 2;    // u32
constexpr size_t kNameLength = 6;  // u8
constexpr size_t kName = 7;        // up to 31 bytes
}  // namespace catkey

// Catalog record data (after the key). The first byte is the record type.
namespace catrec {
constexpr uint8_t kFolder = 1;
constexpr uint8_t kFile = 2;
constexpr uint8_t kFolderThread = 3;
constexpr uint8_t kFileThread = 4;
}  // namespace catrec

namespace catfile {
constexpr size_t kType = 0;                 // u8 record type (2)
constexpr size_t kFlags = 2;                // u8, bit 0 = locked
constexpr size_t kFinderType = 4;           // 4 bytes, in the Finder information
constexpr size_t kFinderCreator = 8;        // 4 bytes
constexpr size_t kFinderFlags = 12;         // u16
constexpr size_t kFileId = 20;              // u32
constexpr size_t kDataLogicalLength = 26;   // u32
constexpr size_t kDataPhysicalLength = 30;  // u32
constexpr size_t kRsrcLogicalLength = 36;   // u32
constexpr size_t kRsrcPhysicalLength = 40;  // u32
constexpr size_t kCreated = 44;             // u32 date
constexpr size_t kModified = 48;            // u32 date
constexpr size_t kDataExtents = 74;         // 3 extents
constexpr size_t kRsrcExtents = 86;         // 3 extents
}  // namespace catfile

namespace catfolder {
constexpr size_t kType = 0;       // u8 record type (1)
constexpr size_t kValence = 4;    // u16 entries in the folder
constexpr size_t kFolderId = 6;   // u32
constexpr size_t kCreated = 10;   // u32 date
constexpr size_t kModified = 14;  // u32 date
}  // namespace catfolder

namespace catthread {
constexpr size_t kType = 0;       // u8 record type (3 or 4)
constexpr size_t kParentId = 10;  // u32 the parent of the thread's folder or file
constexpr size_t kName = 14;      // its name: length byte, up to 31 characters
}  // namespace catthread

// Extents-overflow key; the extent record follows it at offset 8.
namespace extkey {
constexpr size_t kKeyLength = 0;   // u8, 7
constexpr size_t kForkType = 1;    // u8, 0x00 data, 0xFF resource
constexpr size_t kFileId = 2;      // u32
constexpr size_t kStartBlock = 6;  // u16 fork-relative allocation block the record begins at
constexpr size_t kExtents = 8;
}  // namespace extkey

enum class Tree { Catalog, Extents };
enum class Fork : uint8_t { Data = 0x00, Resource = 0xFF };

struct Extent {
    uint16_t startBlock = 0;
    uint16_t blockCount = 0;
    bool operator==(const Extent&) const = default;
};

// One record of a catalog node as read by HfsImage.
struct CatalogRecord {
    uint32_t node = 0;      // node number in the catalog tree
    uint16_t index = 0;     // record index in the node
    size_t offset = 0;      // byte offset of the record (its key) in the medium
    size_t dataOffset = 0;  // byte offset of the record's data, after the key, in the medium
    uint32_t parentId = 0;
    std::string name;    // raw Macintosh bytes; empty for threads
    uint8_t type = 0;    // catrec::k*; 0 in an index node
    uint32_t id = 0;     // folder ID or file ID; 0 for threads
    uint32_t child = 0;  // index nodes: the node the record points to
};

// A view of an HFS volume that starts `volumeOffset` bytes into `medium`. It keeps a reference
// to the bytes: patches change them in place.
class HfsImage {
public:
    explicit HfsImage(Bytes& medium, size_t volumeOffset = 0);

    bool hasSignature() const;  // the MDB begins with "BD"
    size_t mdbOffset() const { return volumeOffset_ + mdb::kVolumeOffset; }
    uint16_t mdb16(size_t field) const;
    uint32_t mdb32(size_t field) const;
    void setMdb16(size_t field, uint16_t value);
    void setMdb32(size_t field, uint32_t value);
    std::string volumeName() const;
    // Byte offset in the medium of allocation block `block`.
    size_t blockOffset(uint32_t block) const;

    // Byte offset in the medium of node `n`, through the tree's MDB extents and, past them,
    // its extents-overflow records. Throws for a node past the tree's size.
    size_t nodeOffset(Tree tree, uint32_t n) const;
    uint32_t nodeCount(Tree tree) const;  // from the tree's size in the MDB
    uint32_t forwardLink(Tree tree, uint32_t n) const;
    uint32_t backwardLink(Tree tree, uint32_t n) const;
    uint8_t nodeType(Tree tree, uint32_t n) const;
    uint16_t recordCount(Tree tree, uint32_t n) const;
    uint16_t recordOffset(Tree tree, uint32_t n, uint16_t record) const;  // from the node's start
    void setForwardLink(Tree tree, uint32_t n, uint32_t value);
    void setBackwardLink(Tree tree, uint32_t n, uint32_t value);
    void setRecordCount(Tree tree, uint32_t n, uint16_t value);
    void setRecordOffset(Tree tree, uint32_t n, uint16_t record, uint16_t value);

    // Fields of the header record in node 0 (btheader::k*).
    uint16_t header16(Tree tree, size_t field) const;
    uint32_t header32(Tree tree, size_t field) const;
    void setHeader16(Tree tree, size_t field, uint16_t value);
    void setHeader32(Tree tree, size_t field, uint32_t value);

    // The leaf nodes from the header's first leaf along the forward links.
    std::vector<uint32_t> leafChain(Tree tree) const;
    // The records of one catalog node, leaf or index.
    std::vector<CatalogRecord> catalogRecords(uint32_t n) const;
    // Every catalog leaf record, in leaf-chain (catalog) order.
    std::vector<CatalogRecord> catalogLeafRecords() const;
    // The folder and file records whose parent is `folderId`, in catalog order.
    std::vector<CatalogRecord> children(uint32_t folderId) const;
    // The file or folder record at an hfsutils-style path (":" root, ":Docs:Manual"); names are
    // compared byte for byte.
    CatalogRecord lookup(std::string_view macPath) const;

    // Fields of a record's data (catfile::k*, catfolder::k*, catthread::k*).
    uint16_t recordData16(const CatalogRecord& record, size_t field) const;
    uint32_t recordData32(const CatalogRecord& record, size_t field) const;
    void setRecordData16(const CatalogRecord& record, size_t field, uint16_t value);
    void setRecordData32(const CatalogRecord& record, size_t field, uint32_t value);
    // Creation and modification dates of a file or folder record (macDate values).
    void setDates(const CatalogRecord& record, std::optional<uint32_t> created,
                  std::optional<uint32_t> modified);
    // One of the three extents stored in a file record.
    void setExtent(const CatalogRecord& file, Fork fork, int index, Extent extent);

    // All extents of a file's fork: the three of its record, then its overflow records.
    std::vector<Extent> forkExtents(const CatalogRecord& file, Fork fork) const;
    // The fork's bytes, cut to its logical length.
    Bytes readFork(const CatalogRecord& file, Fork fork) const;

private:
    std::vector<Extent> treeExtents(Tree tree) const;
    std::vector<Extent> withOverflow(std::vector<Extent> first, uint32_t fileId, Fork fork) const;
    std::optional<std::vector<Extent>> overflowRecord(uint32_t fileId, Fork fork, uint32_t startBlock) const;
    size_t headerOffset(Tree tree) const { return nodeOffset(tree, 0); }
    void checkRecordField(const CatalogRecord& record, size_t field, size_t width) const;

    Bytes& medium_;
    size_t volumeOffset_;
};

}  // namespace quarry::test
