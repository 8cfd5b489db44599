#include "support/image_builder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

#include "support/fixture_path.h"

namespace quarry::test {
namespace {

constexpr size_t kNodeSize = 512;  // every HFS B-tree node
// Node descriptor: ndFLink at 0, ndType at 8, ndNHeight at 9, ndNRecs at 10, records from 14;
// record 0's offset is the node's last u16.
constexpr size_t kNumRecords = 10, kFirstRecord = 14, kOffsetTableEnd = kNodeSize - 2;
constexpr uint8_t kIndexNode = 0x00;
// MDB: drAlBlSt (u16 first sector of allocation block 0), drXTFlSize and drXTExtRec.
constexpr size_t kDrAlBlSt = 28, kDrXTFlSize = 130, kDrXTExtRec = 134;

void checkRange(const Bytes& bytes, size_t at, size_t width) {
    if (at > bytes.size() || width > bytes.size() - at)
        throw std::out_of_range("access of " + std::to_string(width) + " bytes at offset " + std::to_string(at) + " outside the " +
                                std::to_string(bytes.size()) + "-byte image");
}

void writeText(Bytes& bytes, size_t at, std::string_view text) {
    checkRange(bytes, at, text.size());
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// Size of a catalog record's data by type (folder, file, two kinds of thread).
size_t catalogDataSize(uint8_t type) { return type == 1 ? 70 : type == 2 ? 102 : type == 3 || type == 4 ? 46 : 0; }

}  // namespace

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

std::string bentFixture(const TempDir& dir, const std::string& fixture, const std::function<void(Bytes&)>& bend) {
    Bytes bytes = readFile(fixturePath(fixture.c_str()));
    bend(bytes);
    writeFile(dir.file(fixture), bytes);
    return dir.file(fixture);
}

uint32_t readBe(const Bytes& bytes, size_t at, size_t width) {
    checkRange(bytes, at, width);
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) value = value << 8 | bytes[at + i];
    return value;
}

uint32_t be32(std::string_view bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes.at(at + i));
    return value;
}

void writeBe(Bytes& bytes, size_t at, size_t width, uint32_t value) {
    checkRange(bytes, at, width);
    for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

// ---------------------------------------------------------------------------------------------
// Media.

size_t Medium::claim(uint32_t firstSector, uint32_t count) {
    if (size_t{firstSector} + count > used_.size()) {
        used_.resize(size_t{firstSector} + count, false);
        bytes_.resize(used_.size() * kSectorSize, 0);
    }
    for (uint32_t s = firstSector; s < firstSector + count; ++s) {
        if (used_[s]) throw std::runtime_error("pieces of the medium overlap at sector " + std::to_string(s));
        used_[s] = true;
    }
    return size_t{firstSector} * kSectorSize;
}

Medium& Medium::place(uint32_t sector, const Bytes& bytes) {
    const size_t at = claim(sector, static_cast<uint32_t>((bytes.size() + kSectorSize - 1) / kSectorSize));
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at));
    return *this;
}

Medium& Medium::driverDescriptor(uint16_t blockSize, uint32_t blockCount) {
    claim(0, 1);
    writeText(bytes_, 0, "ER");  // sbSig, sbBlkSize, sbBlkCount
    writeBe(bytes_, 2, 2, blockSize);
    writeBe(bytes_, 4, 4, blockCount);
    return *this;
}

Medium& Medium::oldStyleMap(uint32_t startSector) {
    const size_t at = claim(1, 1);
    writeText(bytes_, at, "TS");
    writeBe(bytes_, at + 2, 4, startSector);
    return *this;
}

Medium& Medium::partitionMap(const std::vector<PartitionEntry>& entries) {
    const auto mapSectors = static_cast<uint32_t>(entries.size() + 1);
    claim(1, mapSectors);
    std::vector<PartitionEntry> all{{"Apple", "Apple_partition_map", 1, mapSectors}};
    all.insert(all.end(), entries.begin(), entries.end());
    for (size_t i = 0; i < all.size(); ++i) {
        const PartitionEntry& e = all[i];
        if (e.name.size() > 32 || e.type.size() > 32) throw std::out_of_range("partition name or type over 32 bytes");
        const size_t at = (i + 1) * kSectorSize;  // pmSig, pmMapBlkCnt, pmPyPartStart, pmPartBlkCnt, pmPartName, pmParType
        writeText(bytes_, at, "PM");
        writeBe(bytes_, at + 4, 4, mapSectors);
        writeBe(bytes_, at + 8, 4, e.startSector);
        writeBe(bytes_, at + 12, 4, e.sectorCount);
        writeText(bytes_, at + 16, e.name);
        writeText(bytes_, at + 48, e.type);
    }
    return *this;
}

Bytes behindPartitionMap(const Bytes& volume, uint32_t startSector, uint16_t blockSize) {
    Medium medium(startSector);
    medium.partitionMap({{"Macintosh", "Apple_HFS", startSector, static_cast<uint32_t>((volume.size() + kSectorSize - 1) / kSectorSize)}})
        .place(startSector, volume);
    return medium.driverDescriptor(blockSize, static_cast<uint32_t>(medium.bytes().size() / blockSize)).bytes();
}

// ---------------------------------------------------------------------------------------------
// The volume.

size_t HfsImage::blockOffset(uint32_t block) const {
    return volumeOffset_ + size_t{readBe(medium_, volumeOffset_ + 1024 + kDrAlBlSt, 2)} * kSectorSize +
           size_t{block} * mdb32(mdb::kDrAlBlkSiz);
}

std::vector<Extent> HfsImage::extentRecord(size_t at) const {
    std::vector<Extent> extents;
    for (size_t i = 0; i < 3 && readBe(medium_, at + 4 * i + 2, 2) != 0; ++i)
        extents.push_back({static_cast<uint16_t>(readBe(medium_, at + 4 * i, 2)),
                           static_cast<uint16_t>(readBe(medium_, at + 4 * i + 2, 2))});
    return extents;
}

size_t HfsImage::nodeOffset(Tree tree, uint32_t n) const {
    const std::string what = std::string(tree == Tree::Catalog ? "catalog" : "extents") + " node " + std::to_string(n);
    const uint32_t blockSize = mdb32(mdb::kDrAlBlkSiz);
    if (n >= mdb32(tree == Tree::Catalog ? mdb::kDrCTFlSize : kDrXTFlSize) / kNodeSize)
        throw std::out_of_range(what + " lies past its tree");
    if (blockSize == 0 || blockSize % kNodeSize != 0) throw std::runtime_error("allocation block size is not a multiple of 512");
    size_t forkBlock = size_t{n} * kNodeSize / blockSize;
    // The trees of the fixtures the tests patch lie within their three MDB extents.
    for (const Extent& e : extentRecord(volumeOffset_ + 1024 + (tree == Tree::Catalog ? mdb::kDrCTExtRec : kDrXTExtRec))) {
        if (forkBlock < e.blockCount)
            return blockOffset(e.startBlock + static_cast<uint32_t>(forkBlock)) + size_t{n} * kNodeSize % blockSize;
        forkBlock -= e.blockCount;
    }
    throw std::out_of_range(what + " lies past the tree's MDB extents");
}

void HfsImage::setRecordOffset(Tree tree, uint32_t n, uint16_t record, uint16_t value) {
    if (record >= kOffsetTableEnd / 2) throw std::out_of_range("record index " + std::to_string(record));
    writeBe(medium_, nodeOffset(tree, n) + kOffsetTableEnd - 2 * size_t{record}, 2, value);
}

std::vector<std::pair<uint32_t, std::vector<size_t>>> HfsImage::leaves(Tree tree) const {
    std::vector<std::pair<uint32_t, std::vector<size_t>>> chain;
    std::set<uint32_t> seen;
    // From the header's bthFNode along each node's ndFLink.
    for (uint32_t n = readBe(medium_, nodeOffset(tree, 0) + 24, 4); n != 0; n = readBe(medium_, nodeOffset(tree, n), 4)) {
        const size_t base = nodeOffset(tree, n);
        if (!seen.insert(n).second || readBe(medium_, base + node::kType, 1) != node::kLeafNode)
            throw std::runtime_error("a leaf chain loops or leaves the leaves at node " + std::to_string(n));
        std::vector<size_t> records;
        const size_t count = readBe(medium_, base + kNumRecords, 2);
        for (size_t i = 0; i < count; ++i) records.push_back(base + readBe(medium_, base + kOffsetTableEnd - 2 * i, 2));
        chain.emplace_back(n, std::move(records));
    }
    return chain;
}

std::vector<CatalogRecord> HfsImage::catalogRecords(uint32_t n) const {
    const size_t base = nodeOffset(Tree::Catalog, n);
    const uint32_t type = readBe(medium_, base + node::kType, 1);
    if (type != node::kLeafNode && type != kIndexNode)
        throw std::runtime_error("catalog node " + std::to_string(n) + " is no leaf or index node");
    std::vector<CatalogRecord> records;
    const size_t count = readBe(medium_, base + kNumRecords, 2);
    for (uint16_t i = 0; i < count; ++i) {
        CatalogRecord r;
        r.node = n, r.index = i, r.offset = base + readBe(medium_, base + kOffsetTableEnd - 2 * size_t{i}, 2);
        const std::string where = "catalog node " + std::to_string(n) + " record " + std::to_string(i);
        if (r.offset < base + kFirstRecord || r.offset >= base + kOffsetTableEnd - 2 * count)
            throw std::runtime_error(where + ": offset outside the records");
        const uint32_t keyLength = readBe(medium_, r.offset, 1), nameLength = readBe(medium_, r.offset + catkey::kNameLength, 1);
        if (nameLength > 31 || nameLength + 6 > keyLength) throw std::runtime_error(where + ": name longer than its key");
        r.parentId = readBe(medium_, r.offset + 2, 4);
        const auto name = medium_.begin() + static_cast<std::ptrdiff_t>(r.offset + 7);
        r.name.assign(name, name + nameLength);
        r.dataOffset = r.offset + ((keyLength + 2) & ~size_t{1});  // the data follows the key at an even offset
        if (type == kIndexNode) {
            r.child = readBe(medium_, r.dataOffset, 4);
        } else {
            r.type = static_cast<uint8_t>(readBe(medium_, r.dataOffset, 1));
            // dirDirID at 6 of a folder, filFlNum at 20 of a file
            if (r.type == catrec::kFolder || r.type == catrec::kFile)
                r.id = readBe(medium_, r.dataOffset + (r.type == catrec::kFolder ? 6 : 20), 4);
        }
        if (r.dataOffset + (type == kIndexNode ? 4 : catalogDataSize(r.type)) > base + kNodeSize)
            throw std::runtime_error(where + ": data runs past the node");
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<CatalogRecord> HfsImage::children(uint32_t folderId) const {
    std::vector<CatalogRecord> found;
    for (const auto& [n, offsets] : leaves(Tree::Catalog))
        for (CatalogRecord& r : catalogRecords(n))
            if (r.parentId == folderId && (r.type == catrec::kFolder || r.type == catrec::kFile)) found.push_back(std::move(r));
    return found;
}

CatalogRecord HfsImage::lookup(std::string_view macPath) const {
    std::vector<CatalogRecord> level = children(1);  // the root folder's parent is 1
    if (level.size() != 1 || level[0].type != catrec::kFolder) throw std::runtime_error("the catalog has no root folder record");
    CatalogRecord current = level[0];
    if (!macPath.empty() && macPath.front() == ':') macPath.remove_prefix(1);
    while (!macPath.empty()) {
        const size_t colon = macPath.find(':');
        const std::string_view name = macPath.substr(0, colon);
        macPath = colon == std::string_view::npos ? std::string_view{} : macPath.substr(colon + 1);
        if (current.type != catrec::kFolder) throw std::runtime_error("a path goes through file " + current.name);
        level = children(current.id);
        const auto it = std::find_if(level.begin(), level.end(), [&](const CatalogRecord& r) { return r.name == name; });
        if (it == level.end()) throw std::runtime_error("no catalog record for " + std::string(name));
        current = *it;
    }
    return current;
}

size_t HfsImage::fieldAt(const CatalogRecord& record, size_t field, size_t width) const {
    if (field + width > catalogDataSize(record.type))
        throw std::out_of_range("field at " + std::to_string(field) + " outside a catalog record of type " + std::to_string(record.type));
    return record.dataOffset + field;
}

std::vector<Extent> HfsImage::forkExtents(const CatalogRecord& file, Fork fork) const {
    // filExtRec at 74, filRExtRec at 86. Only a full record of three extents is continued in the
    // overflow tree, by a record keyed (fork type, file ID, start block) with the fork's
    // allocation blocks covered so far.
    std::vector<Extent> extents = extentRecord(fieldAt(file, fork == Fork::Data ? 74 : 86, 12));
    for (size_t last = extents.size(); last == 3 && extents.size() < 3 * 65536;) {
        uint32_t covered = 0;
        for (const Extent& e : extents) covered += e.blockCount;
        last = 0;
        for (const auto& [n, offsets] : leaves(Tree::Extents)) {
            for (size_t at : offsets) {
                if (readBe(medium_, at + 1, 1) != static_cast<uint8_t>(fork) || readBe(medium_, at + 2, 4) != file.id ||
                    readBe(medium_, at + 6, 2) != covered)
                    continue;
                const std::vector<Extent> more = extentRecord(at + 8);
                extents.insert(extents.end(), more.begin(), more.end());
                last = more.size();
            }
        }
    }
    return extents;
}

std::vector<uint32_t> HfsImage::forkSectors(const CatalogRecord& file, Fork fork) const {
    const uint32_t perBlock = mdb32(mdb::kDrAlBlkSiz) / kSectorSize;
    std::vector<uint32_t> sectors;
    for (const Extent& e : forkExtents(file, fork))
        for (uint32_t i = 0; i < e.blockCount * perBlock; ++i)
            sectors.push_back(static_cast<uint32_t>(blockOffset(e.startBlock) / kSectorSize) + i);
    return sectors;
}

Bytes HfsImage::readFork(const CatalogRecord& file, Fork fork) const {
    const size_t length = recordData32(file, fork == Fork::Data ? catfile::kDataLogicalLength : catfile::kRsrcLogicalLength);
    Bytes bytes;
    for (const Extent& e : forkExtents(file, fork)) {
        const size_t at = blockOffset(e.startBlock), size = size_t{e.blockCount} * mdb32(mdb::kDrAlBlkSiz);
        checkRange(medium_, at, size);
        const auto start = medium_.begin() + static_cast<std::ptrdiff_t>(at);
        bytes.insert(bytes.end(), start, start + static_cast<std::ptrdiff_t>(size));
    }
    if (bytes.size() < length) throw std::runtime_error("fork extents end before its logical length");
    bytes.resize(length);
    return bytes;
}

}  // namespace quarry::test
