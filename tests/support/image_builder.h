#pragma once
// A small builder for test media the tools cannot make: an HFS volume behind an old-style (TS)
// partition map or behind a driver descriptor and an Apple partition map, and a view of a volume
// that reads and patches its master directory block (MDB), B-tree nodes and catalog records in
// place, so that a test can start from a volume hfsutils made and bend exactly one thing.
//
// Everything works on bytes in memory, big-endian. An access outside the bytes or a structure
// that is not what the caller asked for throws, naming the place: GoogleTest reports that as a
// failure, and a wrong offset in a test never writes outside the image. Read what you need
// before breaking a structure: the lookups walk the links a patch may have broken.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace quarry::test {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSectorSize = 512;  // partition maps and the MDB count in 512-byte sectors

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
// A copy of the fixture volume `fixture` in `dir`, under the same name, with `bend` applied to its
// bytes before they are written; the copy's path.
std::string bentFixture(const TempDir& dir, const std::string& fixture, const std::function<void(Bytes&)>& bend);
// A big-endian integer of `width` bytes (1, 2 or 4) at `at`.
uint32_t readBe(const Bytes& bytes, size_t at, size_t width);
// A big-endian 32-bit field of bytes a tool wrote (a MacBinary header, an AppleSingle table).
uint32_t be32(std::string_view bytes, size_t at);
void writeBe(Bytes& bytes, size_t at, size_t width, uint32_t value);

struct PartitionEntry {
    std::string name;
    std::string type;          // "Apple_HFS", "Apple_Free", ... (at most 32 bytes)
    uint32_t startSector = 0;  // 512-byte sectors from the start of the medium
    uint32_t sectorCount = 0;
};

// A medium of 512-byte sectors assembled piece by piece; pieces may not overlap.
class Medium {
public:
    explicit Medium(uint32_t sectorCount) : bytes_(size_t{sectorCount} * kSectorSize), used_(sectorCount) {}
    // Copies `bytes` to the medium from `sector` on, growing it when they reach past its end.
    Medium& place(uint32_t sector, const Bytes& bytes);
    // Sector 0: "ER", the device block size and block count.
    Medium& driverDescriptor(uint16_t blockSize, uint32_t blockCount);
    // Sector 1: "TS" and the start sector of the partition.
    Medium& oldStyleMap(uint32_t startSector);
    // Sectors 1..n: the map's own entry ("Apple_partition_map"), then `entries` in order.
    Medium& partitionMap(const std::vector<PartitionEntry>& entries);

    const Bytes& bytes() const { return bytes_; }
    uint32_t sectorCount() const { return static_cast<uint32_t>(bytes_.size() / kSectorSize); }

private:
    size_t claim(uint32_t firstSector, uint32_t count);
    Bytes bytes_;
    std::vector<bool> used_;
};

// The volume at `startSector` behind a driver descriptor (block size `blockSize`, as many blocks
// as the medium holds) and an Apple map with one "Apple_HFS" entry.
Bytes behindPartitionMap(const Bytes& volume, uint32_t startSector, uint16_t blockSize = 512);

namespace mdb {  // master directory block fields, from its start 1024 bytes into the volume
constexpr size_t kDrNmFls = 12;      // u16 files in the root folder
constexpr size_t kDrNmAlBlks = 18;   // u16 allocation blocks on the volume
constexpr size_t kDrAlBlkSiz = 20;   // u32 allocation block size in bytes
constexpr size_t kDrCTFlSize = 146;  // u32 catalog tree size in bytes
constexpr size_t kDrCTExtRec = 150;  // 3 extents of the catalog tree
}  // namespace mdb

namespace node {  // the B-tree node descriptor, at the start of every node
constexpr size_t kType = 8;  // u8
constexpr uint8_t kLeafNode = 0xFF;
}  // namespace node

namespace btheader {  // the B-tree header record, in node 0; offsets from the start of the node
constexpr size_t kRoot = 16;        // u32
constexpr size_t kTotalNodes = 36;  // u32
constexpr size_t kFreeNodes = 40;   // u32
}  // namespace btheader

namespace catkey {  // length byte, reserved byte, u32 parent ID, name length byte, name
constexpr size_t kNameLength = 6;
}  // namespace catkey

namespace catrec {  // record types: the first byte of a catalog record's data
constexpr uint8_t kFolder = 1;
constexpr uint8_t kFile = 2;
}  // namespace catrec

namespace catfile {  // fields of a file record's data
constexpr size_t kFinderType = 4;           // 4 bytes, then the creator
constexpr size_t kDataLogicalLength = 26;   // u32
constexpr size_t kDataPhysicalLength = 30;  // u32
constexpr size_t kRsrcLogicalLength = 36;   // u32
constexpr size_t kDataExtents = 74;         // three (start block, block count) pairs of u16
constexpr size_t kRsrcExtents = 86;
}  // namespace catfile

namespace catfolder {  // fields of a folder record's data
constexpr size_t kValence = 4;  // u16 entries in the folder
}  // namespace catfolder

enum class Tree { Catalog, Extents };
enum class Fork : uint8_t { Data = 0x00, Resource = 0xFF };

struct Extent {
    uint16_t startBlock = 0;
    uint16_t blockCount = 0;
    bool operator==(const Extent&) const = default;
};

// One record of a catalog node as HfsImage reads it.
struct CatalogRecord {
    uint32_t node = 0;      // node number in the catalog tree
    uint16_t index = 0;     // record index in the node
    size_t offset = 0;      // byte offset of the record (its key) in the medium
    size_t dataOffset = 0;  // byte offset of the record's data, after the key, in the medium
    uint32_t parentId = 0;
    std::string name;    // raw Macintosh bytes; empty for threads
    uint8_t type = 0;    // catrec::k*, threads 3 and 4; 0 in an index node
    uint32_t id = 0;     // folder ID or file ID; 0 for threads
    uint32_t child = 0;  // index nodes: the node the record points to
};

// A view of an HFS volume that starts `volumeOffset` bytes into `medium`; patches change the
// bytes in place.
class HfsImage {
public:
    explicit HfsImage(Bytes& medium, size_t volumeOffset = 0) : medium_(medium), volumeOffset_(volumeOffset) {}

    uint32_t mdb32(size_t field) const { return readBe(medium_, volumeOffset_ + 1024 + field, 4); }
    void setMdb16(size_t field, uint16_t value) { writeBe(medium_, volumeOffset_ + 1024 + field, 2, value); }
    void setMdb32(size_t field, uint32_t value) { writeBe(medium_, volumeOffset_ + 1024 + field, 4, value); }

    // Byte offset in the medium of node `n`, through the tree's MDB extents. Throws for a node
    // past the tree's size or extents.
    size_t nodeOffset(Tree tree, uint32_t n) const;
    void setForwardLink(Tree tree, uint32_t n, uint32_t value) { writeBe(medium_, nodeOffset(tree, n), 4, value); }
    void setRecordCount(Tree tree, uint32_t n, uint16_t value) { writeBe(medium_, nodeOffset(tree, n) + 10, 2, value); }
    // The offset of record `record`, in the table at the end of the node.
    void setRecordOffset(Tree tree, uint32_t n, uint16_t record, uint16_t value);
    // Fields of the header record in node 0 (btheader::k*).
    uint32_t header32(Tree tree, size_t field) const { return readBe(medium_, nodeOffset(tree, 0) + field, 4); }
    void setHeader32(Tree tree, size_t field, uint32_t value) { writeBe(medium_, nodeOffset(tree, 0) + field, 4, value); }

    // The records of one catalog node, leaf or index.
    std::vector<CatalogRecord> catalogRecords(uint32_t n) const;
    // The folder and file records whose parent is `folderId`, in catalog (leaf chain) order.
    std::vector<CatalogRecord> children(uint32_t folderId) const;
    // The file or folder record at an hfsutils-style path (":" root, ":Docs:Manual").
    CatalogRecord lookup(std::string_view macPath) const;

    // Fields of a record's data (catfile::k*, catfolder::k*), refused beyond the record.
    uint32_t recordData16(const CatalogRecord& r, size_t field) const { return readBe(medium_, fieldAt(r, field, 2), 2); }
    uint32_t recordData32(const CatalogRecord& r, size_t field) const { return readBe(medium_, fieldAt(r, field, 4), 4); }
    void setRecordData16(const CatalogRecord& r, size_t field, uint16_t v) { writeBe(medium_, fieldAt(r, field, 2), 2, v); }
    void setRecordData32(const CatalogRecord& r, size_t field, uint32_t v) { writeBe(medium_, fieldAt(r, field, 4), 4, v); }

    // All extents of a file's fork: the three of its record, then its overflow records.
    std::vector<Extent> forkExtents(const CatalogRecord& file, Fork fork) const;
    // The fork's bytes, cut to its logical length.
    Bytes readFork(const CatalogRecord& file, Fork fork) const;
    // The 512-byte sectors of the medium that the fork's allocation blocks cover, in fork order.
    std::vector<uint32_t> forkSectors(const CatalogRecord& file, Fork fork) const;

private:
    size_t blockOffset(uint32_t block) const;
    std::vector<Extent> extentRecord(size_t at) const;
    // The nodes of a tree's leaf chain, each with its record offsets.
    std::vector<std::pair<uint32_t, std::vector<size_t>>> leaves(Tree tree) const;
    size_t fieldAt(const CatalogRecord& record, size_t field, size_t width) const;

    Bytes& medium_;
    size_t volumeOffset_;
};

}  // namespace quarry::test
