#include "device/partition_scan.h"

#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "common/charset.h"

namespace quarry {
namespace {

// Apple partition map: the driver descriptor in block 0 and one entry per map block from block 1.
namespace ddm {
constexpr size_t kBlockSize = 2;  // sbBlkSize: bytes per block of the map's numbers
}
namespace pm {
constexpr size_t kMapBlockCount = 4;  // pmMapBlkCnt: entries in the map
constexpr size_t kStart = 8;          // pmPyPartStart: first block of the partition
constexpr size_t kBlockCount = 12;    // pmPartBlkCnt: blocks in the partition
constexpr size_t kName = 16;          // pmPartName, 32 bytes
constexpr size_t kType = 48;          // pmParType, 32 bytes
constexpr uint32_t kMaxEntries = 1024;  // Apple's tools make 63; far more is damage
}  // namespace pm

// GUID partition table (little-endian).
namespace gpt {
constexpr size_t kHeaderSize = 12;    // bytes of the header that its CRC covers
constexpr size_t kHeaderCrc = 16;
constexpr size_t kEntriesLba = 72;    // first sector of the entry array
constexpr size_t kEntryCount = 80;
constexpr size_t kEntrySize = 84;
constexpr size_t kEntriesCrc = 88;
constexpr size_t kMinHeader = 92;
constexpr uint32_t kMaxEntries = 4096;  // tools make 128
constexpr uint32_t kMaxEntrySize = 4096;
// Entry fields.
constexpr size_t kTypeGuid = 0;
constexpr size_t kFirstLba = 32;
constexpr size_t kLastLba = 40;
constexpr size_t kName = 56;  // 36 UTF-16LE code units
constexpr size_t kNameUnits = 36;
}  // namespace gpt

// Master boot record.
namespace mbr {
constexpr size_t kEntries = 446;
constexpr size_t kEntrySize = 16;
constexpr size_t kStatus = 0;
constexpr size_t kType = 4;
constexpr size_t kFirstSector = 8;
constexpr size_t kSectors = 12;
constexpr uint8_t kProtective = 0xEE;
}  // namespace mbr

// The volume signatures, at byte 1024 of the partition.
namespace mdb {
constexpr size_t kOffset = 1024;
constexpr size_t kAllocBlockSize = 0x14;  // drAlBlkSiz
constexpr size_t kAllocStart = 0x1C;      // drAlBlSt: first allocation block, in 512-byte sectors
constexpr size_t kEmbedSig = 0x7C;        // drEmbedSigWord
constexpr size_t kEmbedStart = 0x7E;      // drEmbedExtent.startBlock
constexpr size_t kEmbedCount = 0x80;      // drEmbedExtent.blockCount
}  // namespace mdb
constexpr size_t kApfsMagicOffset = 32;  // nx_magic of the container superblock

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint64_t le64(const uint8_t* p) { return uint64_t{le32(p)} | uint64_t{le32(p + 4)} << 32; }

std::string n(uint64_t v) { return std::to_string(v); }

// Reads a whole range, or says it lies past the medium.
Status readRange(uint64_t medium, const MediumRead& read, uint64_t offset, std::span<uint8_t> out) {
    if (offset > medium || out.size() > medium - offset)
        return Fault{"bytes " + n(offset) + " to " + n(offset + out.size()) + " lie past the medium's end at " + n(medium)};
    return read(offset, out);
}

// A fixed-width text field of the Apple map, up to its first NUL, as UTF-8.
std::string macField(const uint8_t* p, size_t width) {
    size_t length = 0;
    while (length < width && p[length] != 0) ++length;
    return macNameToUtf8(std::string_view(reinterpret_cast<const char*>(p), length));
}

// GUIDs are stored with their first three fields little-endian and the rest as bytes.
std::string guidText(const uint8_t* p) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", le32(p), le16(p + 4), le16(p + 6),
                  p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
    return text;
}

std::string utf16leName(const uint8_t* p, size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = le16(p + 2 * i);
        if (c == 0) break;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
            const uint32_t low = le16(p + 2 * i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone surrogate
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void addNote(FoundVolume& v, const std::string& sentence) {
    if (!v.note.empty()) v.note += " ";
    v.note += sentence;
}

// Adds a partition found in a map, with its kind, unless it is empty.
void addPartition(std::vector<FoundVolume>& out, FoundVolume v, uint64_t medium, const MediumRead& read) {
    if (v.start > medium || v.length > medium - v.start)
        addNote(v, "The partition ends at byte " + n(v.start + v.length) + ", past the medium's end at byte " + n(medium) + ".");
    recogniseVolume(v, [&](uint64_t offset, std::span<uint8_t> bytes) { return readRange(medium, read, offset, bytes); });
    out.push_back(std::move(v));
}

// Apple partition map. Returns true when the medium has one (and `out` then holds its entries).
Result<bool> scanAppleMap(uint64_t medium, const MediumRead& read, std::vector<FoundVolume>& out) {
    std::array<uint8_t, 512> block{};
    if (!readRange(medium, read, 0, block)) return false;
    uint32_t descriptorBlock = 512;
    if (block[0] == 'E' && block[1] == 'R') descriptorBlock = be16(block.data() + ddm::kBlockSize);
    // Where the entries lie: in 512-byte blocks from byte 512 (as genisoimage and xorriso write
    // them by default, and as CDs whose descriptor announces 2048-byte blocks often have them),
    // or in blocks of the descriptor's size (xorriso -apm-block-size 2048). Their numbers count
    // blocks of that same size.
    uint32_t mapBlock = 0;
    for (uint32_t candidate : {512u, descriptorBlock}) {
        if (candidate < 512 || candidate > 4096 || candidate % 512 != 0) continue;
        std::array<uint8_t, 2> sig{};
        if (readRange(medium, read, candidate, sig) && sig[0] == 'P' && sig[1] == 'M') {
            mapBlock = candidate;
            break;
        }
    }
    if (mapBlock == 0) return false;
    if (!readRange(medium, read, mapBlock, block)) return false;
    const uint32_t count = be32(block.data() + pm::kMapBlockCount);
    if (count == 0 || count > pm::kMaxEntries || uint64_t{count} + 1 > medium / mapBlock)
        return Fault{"Apple partition map: its first entry counts " + n(count) + " entries, which the map cannot hold"};
    for (uint32_t i = 1; i <= count; ++i) {
        if (Status s = readRange(medium, read, uint64_t{i} * mapBlock, block); !s)
            return Fault{"Apple partition map: entry " + n(i) + ": " + s.fault()};
        // A map is contiguous; a block that is no entry ends it whatever the count said.
        if (block[0] != 'P' || block[1] != 'M') break;
        FoundVolume v;
        v.scheme = PartitionScheme::AppleMap;
        v.index = i;
        v.start = uint64_t{be32(block.data() + pm::kStart)} * mapBlock;
        v.length = uint64_t{be32(block.data() + pm::kBlockCount)} * mapBlock;
        v.name = macField(block.data() + pm::kName, 32);
        v.type = macField(block.data() + pm::kType, 32);
        if (v.length == 0 || v.type == "Apple_Free") continue;
        addPartition(out, std::move(v), medium, read);
    }
    return true;
}

// GUID partition table, with its header in the second sector of 512 or 4096 bytes.
Result<bool> scanGpt(uint64_t medium, const MediumRead& read, std::vector<FoundVolume>& out) {
    for (uint32_t sector : {512u, 4096u}) {
        std::vector<uint8_t> header(sector);
        if (!readRange(medium, read, sector, header) || std::memcmp(header.data(), "EFI PART", 8) != 0) continue;
        const std::string where = "GPT (" + n(sector) + "-byte sectors)";
        const uint32_t headerSize = le32(header.data() + gpt::kHeaderSize);
        if (headerSize < gpt::kMinHeader || headerSize > sector)
            return Fault{where + ": header size " + n(headerSize) + " is not one a header can have"};
        const uint32_t storedCrc = le32(header.data() + gpt::kHeaderCrc);
        std::memset(header.data() + gpt::kHeaderCrc, 0, 4);
        if (crc32(0, header.data(), headerSize) != storedCrc) return Fault{where + ": the header's CRC does not match it"};
        const uint64_t entriesLba = le64(header.data() + gpt::kEntriesLba);
        const uint32_t count = le32(header.data() + gpt::kEntryCount);
        const uint32_t entrySize = le32(header.data() + gpt::kEntrySize);
        if (count > gpt::kMaxEntries || entrySize < 128 || entrySize > gpt::kMaxEntrySize || entrySize % 8 != 0)
            return Fault{where + ": " + n(count) + " entries of " + n(entrySize) + " bytes is not a table a GPT can have"};
        const uint64_t tableBytes = uint64_t{count} * entrySize;
        if (entriesLba == 0 || entriesLba > medium / sector || tableBytes > medium - entriesLba * sector)
            return Fault{where + ": the entry table at sector " + n(entriesLba) + " (" + n(tableBytes) +
                         " bytes) lies past the medium's end"};
        std::vector<uint8_t> table(static_cast<size_t>(tableBytes));
        if (Status s = read(entriesLba * sector, table); !s) return Fault{where + ": entry table: " + s.fault()};
        if (crc32(0, table.data(), static_cast<uInt>(table.size())) != le32(header.data() + gpt::kEntriesCrc))
            return Fault{where + ": the entry table's CRC does not match it"};
        static const uint8_t unused[16] = {};
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = table.data() + size_t{i} * entrySize;
            if (std::memcmp(e + gpt::kTypeGuid, unused, 16) == 0) continue;
            const uint64_t first = le64(e + gpt::kFirstLba);
            const uint64_t last = le64(e + gpt::kLastLba);
            FoundVolume v;
            v.scheme = PartitionScheme::Gpt;
            v.index = i + 1;
            v.type = guidText(e + gpt::kTypeGuid);
            v.name = utf16leName(e + gpt::kName, gpt::kNameUnits);
            if (last < first || last >= UINT64_MAX / sector) {
                addNote(v, "Its sectors " + n(first) + " to " + n(last) + " are no range.");
                v.start = first <= UINT64_MAX / sector ? first * sector : UINT64_MAX;
                out.push_back(std::move(v));
                continue;
            }
            v.start = first * sector;
            v.length = (last - first + 1) * sector;
            addPartition(out, std::move(v), medium, read);
        }
        return true;
    }
    return false;
}

// Master boot record: four primary entries. A boot sector of a volume also ends in 0x55AA, so
// the entries must look like entries (status 0 or 0x80, sectors inside the 32-bit range) for
// the sector to count as a map.
Result<bool> scanMbr(uint64_t medium, const MediumRead& read, std::vector<FoundVolume>& out, bool& protective) {
    std::array<uint8_t, 512> sector{};
    if (!readRange(medium, read, 0, sector) || sector[510] != 0x55 || sector[511] != 0xAA) return false;
    bool any = false;
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t* e = sector.data() + mbr::kEntries + i * mbr::kEntrySize;
        if (e[mbr::kStatus] != 0 && e[mbr::kStatus] != 0x80) return false;
        if (e[mbr::kType] == 0) continue;
        if (le32(e + mbr::kFirstSector) == 0 || le32(e + mbr::kSectors) == 0) return false;
        any = true;
        if (e[mbr::kType] == mbr::kProtective) protective = true;
    }
    if (!any || protective) return any;
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t* e = sector.data() + mbr::kEntries + i * mbr::kEntrySize;
        if (e[mbr::kType] == 0) continue;
        FoundVolume v;
        v.scheme = PartitionScheme::Mbr;
        v.index = static_cast<uint32_t>(i + 1);
        v.start = uint64_t{le32(e + mbr::kFirstSector)} * 512;
        v.length = uint64_t{le32(e + mbr::kSectors)} * 512;
        char type[8];
        std::snprintf(type, sizeof type, "0x%02X", e[mbr::kType]);
        v.type = type;
        if (e[mbr::kType] == 0x05 || e[mbr::kType] == 0x0F || e[mbr::kType] == 0x85)
            addNote(v, "An extended partition: the partitions inside it are not listed.");
        addPartition(out, std::move(v), medium, read);
    }
    return true;
}

}  // namespace

void recogniseVolume(FoundVolume& v, const MediumRead& read) {
    v.kind = VolumeKind::Other;
    v.volumeStart = v.start;
    v.volumeLength = v.length;
    std::array<uint8_t, 512> h{};
    if (v.length >= mdb::kOffset + h.size()) {
        if (Status s = read(v.start + mdb::kOffset, h); !s) {
            addNote(v, "Its volume header cannot be read: " + s.fault() + ".");
            return;
        }
        const uint16_t sig = be16(h.data());
        const uint16_t version = be16(h.data() + 2);
        if (sig == 0x482B && version == 4) v.kind = VolumeKind::HfsPlus;       // "H+"
        else if (sig == 0x4858 && version == 5) v.kind = VolumeKind::Hfsx;     // "HX"
        else if (sig == 0xD2D7) v.kind = VolumeKind::Mfs;
        else if (sig == 0x4244) {                                              // "BD"
            v.kind = VolumeKind::Hfs;
            if (be16(h.data() + mdb::kEmbedSig) == 0x482B) {
                const uint64_t blockSize = be32(h.data() + mdb::kAllocBlockSize);
                const uint64_t start = uint64_t{be16(h.data() + mdb::kAllocStart)} * 512 +
                                       uint64_t{be16(h.data() + mdb::kEmbedStart)} * blockSize;
                const uint64_t length = uint64_t{be16(h.data() + mdb::kEmbedCount)} * blockSize;
                if (blockSize == 0 || blockSize % 512 != 0 || start > v.length || length > v.length - start ||
                    length < mdb::kOffset + 512) {
                    addNote(v, "Its MDB announces an embedded HFS+ volume (" + n(length) + " bytes at byte " + n(start) +
                                   ") that does not lie inside the partition.");
                } else {
                    // The wrapper's fields may outlive the volume they pointed to; only an HFS+
                    // header where they point makes this a wrapped volume.
                    std::array<uint8_t, 4> inner{};
                    if (read(v.start + start + mdb::kOffset, inner) && be16(inner.data()) == 0x482B &&
                        be16(inner.data() + 2) == 4) {
                        v.kind = VolumeKind::WrappedHfsPlus;
                        v.volumeStart = v.start + start;
                        v.volumeLength = length;
                    } else {
                        addNote(v, "Its MDB announces an embedded HFS+ volume at byte " + n(start) +
                                       ", but there is no HFS+ volume header there.");
                    }
                }
            }
        }
    }
    if (v.kind == VolumeKind::Other && v.length >= kApfsMagicOffset + 4) {
        std::array<uint8_t, 4> magic{};
        if (read(v.start + kApfsMagicOffset, magic) && std::memcmp(magic.data(), "NXSB", 4) == 0) v.kind = VolumeKind::Apfs;
    }
}

Result<std::vector<FoundVolume>> scanPartitions(uint64_t mediumBytes, const MediumRead& read) {
    std::vector<FoundVolume> volumes;
    auto apple = scanAppleMap(mediumBytes, read, volumes);
    if (!apple) return Fault{apple.fault()};
    if (*apple) return volumes;
    auto guid = scanGpt(mediumBytes, read, volumes);
    if (!guid) return Fault{guid.fault()};
    if (*guid) return volumes;
    bool protective = false;
    auto pc = scanMbr(mediumBytes, read, volumes, protective);
    if (!pc) return Fault{pc.fault()};
    if (protective) return Fault{"MBR: a protective entry (0xEE) announces a GPT, but no GPT header was found"};
    if (*pc) return volumes;
    FoundVolume bare;
    bare.length = mediumBytes;
    recogniseVolume(bare, [&](uint64_t offset, std::span<uint8_t> bytes) { return readRange(mediumBytes, read, offset, bytes); });
    if (bare.kind != VolumeKind::Other) volumes.push_back(std::move(bare));
    return volumes;
}

const char* schemeName(PartitionScheme scheme) {
    switch (scheme) {
    case PartitionScheme::Bare: return "bare";
    case PartitionScheme::AppleMap: return "Apple partition map";
    case PartitionScheme::Gpt: return "GPT";
    case PartitionScheme::Mbr: return "MBR";
    }
    return "?";
}

const char* kindName(VolumeKind kind) {
    switch (kind) {
    case VolumeKind::Hfs: return "HFS";
    case VolumeKind::WrappedHfsPlus: return "HFS+ in an HFS wrapper";
    case VolumeKind::HfsPlus: return "HFS+";
    case VolumeKind::Hfsx: return "HFSX";
    case VolumeKind::Mfs: return "MFS";
    case VolumeKind::Apfs: return "APFS";
    case VolumeKind::Other: return "other";
    }
    return "?";
}

}  // namespace quarry
