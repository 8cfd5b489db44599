#include "support/image_builder.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

namespace quarry::test {
namespace {

constexpr uint32_t kCatalogFileId = 4;  // the catalog tree's file ID, as in its overflow records
constexpr uint32_t kRootParentId = 1;   // parent of the root folder
constexpr size_t kExtentRecordSize = 12;
constexpr size_t kOffsetTableEnd = kNodeSize - 2;  // record 0's offset is the node's last u16

void checkRange(const Bytes& bytes, size_t at, size_t width) {
    if (at > bytes.size() || width > bytes.size() - at)
        throw std::out_of_range("access of " + std::to_string(width) + " bytes at offset " +
                                std::to_string(at) + " outside the " + std::to_string(bytes.size()) +
                                "-byte image");
}

std::string treeName(Tree tree) { return tree == Tree::Catalog ? "catalog" : "extents"; }

// Size of a catalog record's data, by type; the patches refuse fields beyond it.
size_t catalogDataSize(uint8_t type) {
    switch (type) {
        case catrec::kFolder:
            return 70;
        case catrec::kFile:
            return 102;
        case catrec::kFolderThread:
        case catrec::kFileThread:
            return 46;
        default:
            return 0;
    }
}

// The record data follows the key, at an even offset.
size_t keyedDataOffset(size_t recordOffset, uint8_t keyLength) {
    return recordOffset + ((static_cast<size_t>(keyLength) + 2) & ~size_t{1});
}

std::vector<Extent> readExtentRecord(const Bytes& bytes, size_t at) {
    std::vector<Extent> extents;
    for (size_t i = 0; i < 3; ++i) {
        Extent e{readBe16(bytes, at + 4 * i), readBe16(bytes, at + 4 * i + 2)};
        if (e.blockCount == 0) break;
        extents.push_back(e);
    }
    return extents;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Bytes.

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

uint8_t readU8(const Bytes& bytes, size_t at) {
    checkRange(bytes, at, 1);
    return bytes[at];
}

uint16_t readBe16(const Bytes& bytes, size_t at) {
    checkRange(bytes, at, 2);
    return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

uint32_t readBe32(const Bytes& bytes, size_t at) {
    checkRange(bytes, at, 4);
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) |
           bytes[at + 3];
}

void writeU8(Bytes& bytes, size_t at, uint8_t value) {
    checkRange(bytes, at, 1);
    bytes[at] = value;
}

void writeBe16(Bytes& bytes, size_t at, uint16_t value) {
    checkRange(bytes, at, 2);
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
}

void writeBe32(Bytes& bytes, size_t at, uint32_t value) {
    checkRange(bytes, at, 4);
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void writeText(Bytes& bytes, size_t at, std::string_view text) {
    checkRange(bytes, at, text.size());
    for (size_t i = 0; i < text.size(); ++i) bytes[at + i] = static_cast<uint8_t>(text[i]);
}

uint32_t macDate(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok() || year < 1904 || year > 2040)
        throw std::out_of_range("date outside the Macintosh's range");
    const auto days = (sys_days{date} - sys_days{std::chrono::year{1904} / January / 1}).count();
    return static_cast<uint32_t>(days * 86400 + hour * 3600 + minute * 60 + second);
}

// ---------------------------------------------------------------------------------------------
// Media.

Medium::Medium(uint32_t sectorCount)
    : bytes_(size_t{sectorCount} * kSectorSize, 0), used_(sectorCount, false) {}

void Medium::claim(uint32_t firstSector, uint32_t count, const char* what) {
    if (size_t{firstSector} + count > used_.size()) {
        used_.resize(size_t{firstSector} + count, false);
        bytes_.resize(used_.size() * kSectorSize, 0);
    }
    for (uint32_t s = firstSector; s < firstSector + count; ++s) {
        if (used_[s]) throw std::runtime_error(std::string(what) + " overlaps sector " + std::to_string(s));
        used_[s] = true;
    }
}

Medium& Medium::place(uint32_t sector, const Bytes& bytes) {
    const auto sectors = static_cast<uint32_t>((bytes.size() + kSectorSize - 1) / kSectorSize);
    claim(sector, sectors, "placed bytes");
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + size_t{sector} * kSectorSize);
    return *this;
}

Medium& Medium::driverDescriptor(uint16_t blockSize, uint32_t blockCount) {
    claim(0, 1, "driver descriptor");
    writeText(bytes_, ddr::kSbSig, "ER");
    writeBe16(bytes_, ddr::kSbBlkSize, blockSize);
    writeBe32(bytes_, ddr::kSbBlkCount, blockCount);
    return *this;
}

Medium& Medium::oldStyleMap(uint32_t startSector) {
    claim(1, 1, "old-style partition map");
    writeText(bytes_, kSectorSize + tsmap::kSig, "TS");
    writeBe32(bytes_, kSectorSize + tsmap::kStart, startSector);
    return *this;
}

Medium& Medium::partitionMap(const std::vector<PartitionEntry>& entries, std::optional<uint32_t> entryCount) {
    const auto mapSectors = static_cast<uint32_t>(entries.size() + 1);
    claim(1, mapSectors, "partition map");
    std::vector<PartitionEntry> all{{"Apple", "Apple_partition_map", 1, mapSectors}};
    all.insert(all.end(), entries.begin(), entries.end());
    for (size_t i = 0; i < all.size(); ++i) {
        const PartitionEntry& e = all[i];
        if (e.name.size() > pm::kFieldLength || e.type.size() > pm::kFieldLength)
            throw std::out_of_range("partition name or type longer than 32 bytes");
        const size_t at = (i + 1) * kSectorSize;
        writeText(bytes_, at + pm::kPmSig, "PM");
        writeBe32(bytes_, at + pm::kPmMapBlkCnt, entryCount.value_or(mapSectors));
        writeBe32(bytes_, at + pm::kPmPyPartStart, e.startSector);
        writeBe32(bytes_, at + pm::kPmPartBlkCnt, e.sectorCount);
        writeText(bytes_, at + pm::kPmPartName, e.name);
        writeText(bytes_, at + pm::kPmParType, e.type);
    }
    return *this;
}

Bytes behindOldStyleMap(const Bytes& volume, uint32_t startSector) {
    Medium medium(startSector);
    medium.oldStyleMap(startSector).place(startSector, volume);
    return medium.bytes();
}

Bytes behindPartitionMap(const Bytes& volume, uint32_t startSector, uint16_t blockSize) {
    const auto volumeSectors = static_cast<uint32_t>((volume.size() + kSectorSize - 1) / kSectorSize);
    Medium medium(startSector);
    medium.partitionMap({{"Macintosh", "Apple_HFS", startSector, volumeSectors}}).place(startSector, volume);
    const auto blocks = static_cast<uint32_t>(medium.bytes().size() / blockSize);
    medium.driverDescriptor(blockSize, blocks);
    return medium.bytes();
}

// ---------------------------------------------------------------------------------------------
// The volume.

HfsImage::HfsImage(Bytes& medium, size_t volumeOffset) : medium_(medium), volumeOffset_(volumeOffset) {
    checkRange(medium_, mdbOffset(), kSectorSize);
}

bool HfsImage::hasSignature() const {
    return readU8(medium_, mdbOffset()) == 'B' && readU8(medium_, mdbOffset() + 1) == 'D';
}

uint16_t HfsImage::mdb16(size_t field) const { return readBe16(medium_, mdbOffset() + field); }
uint32_t HfsImage::mdb32(size_t field) const { return readBe32(medium_, mdbOffset() + field); }
void HfsImage::setMdb16(size_t field, uint16_t value) { writeBe16(medium_, mdbOffset() + field, value); }
void HfsImage::setMdb32(size_t field, uint32_t value) { writeBe32(medium_, mdbOffset() + field, value); }

std::string HfsImage::volumeName() const {
    const size_t length = std::min<size_t>(readU8(medium_, mdbOffset() + mdb::kDrVN), 27);
    std::string name;
    for (size_t i = 0; i < length; ++i)
        name += static_cast<char>(readU8(medium_, mdbOffset() + mdb::kDrVN + 1 + i));
    return name;
}

size_t HfsImage::blockOffset(uint32_t block) const {
    return volumeOffset_ + size_t{mdb16(mdb::kDrAlBlSt)} * kSectorSize +
           size_t{block} * mdb32(mdb::kDrAlBlkSiz);
}

std::vector<Extent> HfsImage::treeExtents(Tree tree) const {
    const size_t record = tree == Tree::Catalog ? mdb::kDrCTExtRec : mdb::kDrXTExtRec;
    std::vector<Extent> first = readExtentRecord(medium_, mdbOffset() + record);
    // The extents tree cannot describe itself: its three MDB extents are all it has.
    if (tree == Tree::Extents) return first;
    return withOverflow(std::move(first), kCatalogFileId, Fork::Data);
}

uint32_t HfsImage::nodeCount(Tree tree) const {
    return mdb32(tree == Tree::Catalog ? mdb::kDrCTFlSize : mdb::kDrXTFlSize) / kNodeSize;
}

size_t HfsImage::nodeOffset(Tree tree, uint32_t n) const {
    if (n >= nodeCount(tree))
        throw std::out_of_range(treeName(tree) + " node " + std::to_string(n) + " lies past the tree's " +
                                std::to_string(nodeCount(tree)) + " nodes");
    const uint32_t blockSize = mdb32(mdb::kDrAlBlkSiz);
    if (blockSize == 0 || blockSize % kNodeSize != 0)
        throw std::runtime_error("allocation block size " + std::to_string(blockSize) +
                                 " is not a multiple of 512");
    const size_t forkByte = size_t{n} * kNodeSize;
    size_t forkBlock = forkByte / blockSize;
    for (const Extent& e : treeExtents(tree)) {
        if (forkBlock < e.blockCount) {
            const size_t at =
                blockOffset(e.startBlock + static_cast<uint32_t>(forkBlock)) + forkByte % blockSize;
            checkRange(medium_, at, kNodeSize);
            return at;
        }
        forkBlock -= e.blockCount;
    }
    throw std::out_of_range(treeName(tree) + " node " + std::to_string(n) + " lies past the tree's extents");
}

uint32_t HfsImage::forwardLink(Tree tree, uint32_t n) const {
    return readBe32(medium_, nodeOffset(tree, n) + node::kFLink);
}
uint32_t HfsImage::backwardLink(Tree tree, uint32_t n) const {
    return readBe32(medium_, nodeOffset(tree, n) + node::kBLink);
}
uint8_t HfsImage::nodeType(Tree tree, uint32_t n) const {
    return readU8(medium_, nodeOffset(tree, n) + node::kType);
}
uint16_t HfsImage::recordCount(Tree tree, uint32_t n) const {
    return readBe16(medium_, nodeOffset(tree, n) + node::kNumRecords);
}

uint16_t HfsImage::recordOffset(Tree tree, uint32_t n, uint16_t record) const {
    if (record > kOffsetTableEnd / 2) throw std::out_of_range("record index " + std::to_string(record));
    return readBe16(medium_, nodeOffset(tree, n) + kOffsetTableEnd - 2 * size_t{record});
}

void HfsImage::setForwardLink(Tree tree, uint32_t n, uint32_t value) {
    writeBe32(medium_, nodeOffset(tree, n) + node::kFLink, value);
}
void HfsImage::setBackwardLink(Tree tree, uint32_t n, uint32_t value) {
    writeBe32(medium_, nodeOffset(tree, n) + node::kBLink, value);
}
void HfsImage::setRecordCount(Tree tree, uint32_t n, uint16_t value) {
    writeBe16(medium_, nodeOffset(tree, n) + node::kNumRecords, value);
}

void HfsImage::setRecordOffset(Tree tree, uint32_t n, uint16_t record, uint16_t value) {
    if (record > kOffsetTableEnd / 2) throw std::out_of_range("record index " + std::to_string(record));
    writeBe16(medium_, nodeOffset(tree, n) + kOffsetTableEnd - 2 * size_t{record}, value);
}

uint16_t HfsImage::header16(Tree tree, size_t field) const {
    return readBe16(medium_, headerOffset(tree) + field);
}
uint32_t HfsImage::header32(Tree tree, size_t field) const {
    return readBe32(medium_, headerOffset(tree) + field);
}
void HfsImage::setHeader16(Tree tree, size_t field, uint16_t value) {
    writeBe16(medium_, headerOffset(tree) + field, value);
}
void HfsImage::setHeader32(Tree tree, size_t field, uint32_t value) {
    writeBe32(medium_, headerOffset(tree) + field, value);
}

std::vector<uint32_t> HfsImage::leafChain(Tree tree) const {
    std::vector<uint32_t> chain;
    std::set<uint32_t> seen;
    for (uint32_t n = header32(tree, btheader::kFirstLeaf); n != 0; n = forwardLink(tree, n)) {
        if (!seen.insert(n).second)
            throw std::runtime_error(treeName(tree) + " leaf chain returns to node " + std::to_string(n));
        if (nodeType(tree, n) != node::kLeafNode)
            throw std::runtime_error(treeName(tree) + " node " + std::to_string(n) +
                                     " in the leaf chain is no leaf");
        chain.push_back(n);
    }
    return chain;
}

std::vector<CatalogRecord> HfsImage::catalogRecords(uint32_t n) const {
    const size_t base = nodeOffset(Tree::Catalog, n);
    const uint8_t type = nodeType(Tree::Catalog, n);
    if (type != node::kLeafNode && type != node::kIndexNode)
        throw std::runtime_error("catalog node " + std::to_string(n) + " is neither leaf nor index node");
    std::vector<CatalogRecord> records;
    const uint16_t count = recordCount(Tree::Catalog, n);
    for (uint16_t i = 0; i < count; ++i) {
        const uint16_t offset = recordOffset(Tree::Catalog, n, i);
        const std::string where = "catalog node " + std::to_string(n) + " record " + std::to_string(i);
        if (offset < node::kFirstRecord || offset >= kOffsetTableEnd - 2 * size_t{count})
            throw std::runtime_error(where + ": offset " + std::to_string(offset) + " outside the records");
        CatalogRecord r;
        r.node = n;
        r.index = i;
        r.offset = base + offset;
        const uint8_t keyLength = readU8(medium_, r.offset + catkey::kKeyLength);
        const uint8_t nameLength = readU8(medium_, r.offset + catkey::kNameLength);
        if (nameLength > 31 || size_t{nameLength} + catkey::kName - 1 > keyLength)
            throw std::runtime_error(where + ": name longer than its key");
        r.parentId = readBe32(medium_, r.offset + catkey::kParentId);
        for (size_t c = 0; c < nameLength; ++c)
            r.name += static_cast<char>(readU8(medium_, r.offset + catkey::kName + c));
        r.dataOffset = keyedDataOffset(r.offset, keyLength);
        if (type == node::kIndexNode) {
            r.child = readBe32(medium_, r.dataOffset);
        } else {
            r.type = readU8(medium_, r.dataOffset);
            if (r.type == catrec::kFolder) r.id = readBe32(medium_, r.dataOffset + catfolder::kFolderId);
            if (r.type == catrec::kFile) r.id = readBe32(medium_, r.dataOffset + catfile::kFileId);
        }
        const size_t dataSize = type == node::kIndexNode ? 4 : catalogDataSize(r.type);
        if (r.dataOffset + dataSize > base + kNodeSize)
            throw std::runtime_error(where + ": data runs past the node");
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<CatalogRecord> HfsImage::catalogLeafRecords() const {
    std::vector<CatalogRecord> all;
    for (uint32_t n : leafChain(Tree::Catalog)) {
        std::vector<CatalogRecord> records = catalogRecords(n);
        all.insert(all.end(), records.begin(), records.end());
    }
    return all;
}

std::vector<CatalogRecord> HfsImage::children(uint32_t folderId) const {
    std::vector<CatalogRecord> found;
    for (CatalogRecord& r : catalogLeafRecords())
        if (r.parentId == folderId && (r.type == catrec::kFolder || r.type == catrec::kFile))
            found.push_back(std::move(r));
    return found;
}

CatalogRecord HfsImage::lookup(std::string_view macPath) const {
    const std::vector<CatalogRecord> records = catalogLeafRecords();
    auto find = [&](uint32_t parent, std::string_view name) -> const CatalogRecord* {
        for (const CatalogRecord& r : records)
            if (r.parentId == parent && r.name == name &&
                (r.type == catrec::kFolder || r.type == catrec::kFile))
                return &r;
        return nullptr;
    };
    const CatalogRecord* current = nullptr;
    for (const CatalogRecord& r : records)
        if (r.parentId == kRootParentId && r.type == catrec::kFolder) current = &r;
    if (!current) throw std::runtime_error("the catalog has no root folder record");

    std::string_view rest = macPath;
    if (!rest.empty() && rest.front() == ':') rest.remove_prefix(1);
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string_view name = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        if (current->type != catrec::kFolder)
            throw std::runtime_error("path " + std::string(macPath) + " goes through a file");
        current = find(current->id, name);
        if (!current) throw std::runtime_error("no catalog record for " + std::string(macPath));
    }
    return *current;
}

void HfsImage::checkRecordField(const CatalogRecord& record, size_t field, size_t width) const {
    if (field + width > catalogDataSize(record.type))
        throw std::out_of_range("field at " + std::to_string(field) + " outside a catalog record of type " +
                                std::to_string(record.type));
}

uint16_t HfsImage::recordData16(const CatalogRecord& record, size_t field) const {
    checkRecordField(record, field, 2);
    return readBe16(medium_, record.dataOffset + field);
}

uint32_t HfsImage::recordData32(const CatalogRecord& record, size_t field) const {
    checkRecordField(record, field, 4);
    return readBe32(medium_, record.dataOffset + field);
}

void HfsImage::setRecordData16(const CatalogRecord& record, size_t field, uint16_t value) {
    checkRecordField(record, field, 2);
    writeBe16(medium_, record.dataOffset + field, value);
}

void HfsImage::setRecordData32(const CatalogRecord& record, size_t field, uint32_t value) {
    checkRecordField(record, field, 4);
    writeBe32(medium_, record.dataOffset + field, value);
}

void HfsImage::setDates(const CatalogRecord& record, std::optional<uint32_t> created,
                        std::optional<uint32_t> modified) {
    const bool file = record.type == catrec::kFile;
    if (!file && record.type != catrec::kFolder)
        throw std::runtime_error("dates belong to files and folders");
    if (created) setRecordData32(record, file ? catfile::kCreated : catfolder::kCreated, *created);
    if (modified) setRecordData32(record, file ? catfile::kModified : catfolder::kModified, *modified);
}

void HfsImage::setExtent(const CatalogRecord& file, Fork fork, int index, Extent extent) {
    if (file.type != catrec::kFile || index < 0 || index > 2) throw std::out_of_range("no such file extent");
    const size_t record = fork == Fork::Data ? catfile::kDataExtents : catfile::kRsrcExtents;
    setRecordData16(file, record + 4 * static_cast<size_t>(index), extent.startBlock);
    setRecordData16(file, record + 4 * static_cast<size_t>(index) + 2, extent.blockCount);
}

std::optional<std::vector<Extent>> HfsImage::overflowRecord(uint32_t fileId, Fork fork,
                                                            uint32_t startBlock) const {
    if (header32(Tree::Extents, btheader::kFirstLeaf) == 0) return std::nullopt;
    for (uint32_t n : leafChain(Tree::Extents)) {
        const size_t base = nodeOffset(Tree::Extents, n);
        for (uint16_t i = 0; i < recordCount(Tree::Extents, n); ++i) {
            const size_t at = base + recordOffset(Tree::Extents, n, i);
            if (at + extkey::kExtents + kExtentRecordSize > base + kNodeSize)
                throw std::runtime_error("extents node " + std::to_string(n) + " record " +
                                         std::to_string(i) + " runs past the node");
            if (readU8(medium_, at + extkey::kForkType) == static_cast<uint8_t>(fork) &&
                readBe32(medium_, at + extkey::kFileId) == fileId &&
                readBe16(medium_, at + extkey::kStartBlock) == startBlock)
                return readExtentRecord(medium_, at + extkey::kExtents);
        }
    }
    return std::nullopt;
}

std::vector<Extent> HfsImage::withOverflow(std::vector<Extent> extents, uint32_t fileId, Fork fork) const {
    // Only a full record of three extents can be continued in the overflow tree.
    size_t lastRecordSize = extents.size();
    while (lastRecordSize == 3) {
        uint32_t covered = 0;
        for (const Extent& e : extents) covered += e.blockCount;
        std::optional<std::vector<Extent>> more = overflowRecord(fileId, fork, covered);
        if (!more || more->empty()) break;
        lastRecordSize = more->size();
        extents.insert(extents.end(), more->begin(), more->end());
        if (extents.size() > 3 * 65536) throw std::runtime_error("overflow records do not end");
    }
    return extents;
}

std::vector<Extent> HfsImage::forkExtents(const CatalogRecord& file, Fork fork) const {
    if (file.type != catrec::kFile) throw std::runtime_error("only a file record has forks");
    const size_t record = fork == Fork::Data ? catfile::kDataExtents : catfile::kRsrcExtents;
    checkRecordField(file, record, kExtentRecordSize);
    return withOverflow(readExtentRecord(medium_, file.dataOffset + record), file.id, fork);
}

Bytes HfsImage::readFork(const CatalogRecord& file, Fork fork) const {
    const size_t length =
        recordData32(file, fork == Fork::Data ? catfile::kDataLogicalLength : catfile::kRsrcLogicalLength);
    const uint32_t blockSize = mdb32(mdb::kDrAlBlkSiz);
    Bytes bytes;
    for (const Extent& e : forkExtents(file, fork)) {
        const size_t at = blockOffset(e.startBlock);
        const size_t size = size_t{e.blockCount} * blockSize;
        checkRange(medium_, at, size);
        bytes.insert(bytes.end(), medium_.begin() + static_cast<std::ptrdiff_t>(at),
                     medium_.begin() + static_cast<std::ptrdiff_t>(at + size));
        if (bytes.size() >= length) break;
    }
    if (bytes.size() < length) throw std::runtime_error("fork extents end before its logical length");
    bytes.resize(length);
    return bytes;
}

}  // namespace quarry::test
