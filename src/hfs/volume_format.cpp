#include "hfs/volume_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/charset.h"
#include "common/text.h"
#include "device/containers/diskcopy.h"
#include "hfs/byte_order.h"
#include "hfs/catalog_layout.h"
#include "hfs/volume.h"

namespace quarry {
namespace {

constexpr uint64_t kSmallest = 400 * 1024;                  // the 400K floppy
constexpr uint64_t kLargest = uint64_t{2} * 1024 * 1024 * 1024;  // 65,535 blocks of 32K, and a little
constexpr uint32_t kMaxBlocks = 0xFFFF;
constexpr uint32_t kBitmapSector = 3;
constexpr uint32_t kBitsPerSector = kSectorSize * 8;
constexpr uint32_t kRootParentId = 1;     // the root folder's parent, which is no folder
constexpr uint32_t kRootFolderId = 2;
constexpr uint32_t kFirstFreeId = 16;     // catalog IDs below are Apple's
constexpr size_t kHeaderMapBytes = 256;   // the node map in the header node
constexpr size_t kMapRecordBytes = 492;   // the node map in each map node
constexpr uint8_t kCatalogKeyMax = 37;
constexpr uint8_t kExtentsKeyMax = 7;

using Node = std::array<uint8_t, kNodeSize>;

// Sets a node's descriptor: its type, height and records, one at each of `offsets`, with the
// free space at freeAt.
void describeNode(Node& nd, uint8_t type, uint8_t height, std::initializer_list<uint16_t> offsets, uint16_t freeAt) {
    nd[node::kType] = type;
    nd[node::kHeight] = height;
    storeBE16(nd.data() + node::kNumRecords, static_cast<uint16_t>(offsets.size()));
    size_t slot = kNodeSize - 2;
    for (uint16_t offset : offsets) {
        storeBE16(nd.data() + slot, offset);
        slot -= 2;
    }
    storeBE16(nd.data() + slot, freeAt);
}

// A tree of `nodes` nodes holding nothing yet: the header node, then the map nodes that the
// header's map needs beside it, all linked and marked in use with the `usedAfter` nodes after them.
std::vector<Node> emptyTree(uint32_t nodes, uint8_t keyMax, uint32_t usedAfter) {
    const uint32_t mapNodes = nodes > kHeaderMapBytes * 8 ? (nodes - kHeaderMapBytes * 8 + kMapRecordBytes * 8 - 1) / (kMapRecordBytes * 8) : 0;
    std::vector<Node> out(1 + mapNodes + usedAfter, Node{});
    Node& head = out[0];
    describeNode(head, node::kTypeHeader, 0, {node::kFirstRecord, 120, header::kMap}, header::kMap + kHeaderMapBytes);
    storeBE16(head.data() + header::kNodeSize, kNodeSize);
    storeBE16(head.data() + header::kMaxKeyLen, keyMax);
    storeBE32(head.data() + header::kTotalNodes, nodes);
    const uint32_t used = 1 + mapNodes + usedAfter;
    storeBE32(head.data() + header::kFreeNodes, nodes - used);
    // Every node in use lies within the header's map: 2,048 nodes are far more than map nodes.
    for (uint32_t n = 0; n < used; ++n) head[header::kMap + n / 8] |= static_cast<uint8_t>(0x80 >> (n % 8));
    for (uint32_t m = 1; m <= mapNodes; ++m) {
        storeBE32(out[m - 1].data() + node::kFLink, m);
        storeBE32(out[m].data() + node::kBLink, m - 1 == 0 ? 0 : m - 1);
        describeNode(out[m], node::kTypeMap, 0, {node::kFirstRecord}, node::kFirstRecord + kMapRecordBytes);
    }
    return out;
}

// The catalog's one leaf: the root folder (ID 2, in parent 1, named as the volume) and its thread.
Node rootLeaf(std::string_view macName, uint32_t created) {
    Node nd{};
    uint8_t* at = nd.data() + node::kFirstRecord;
    // Folder record: its key (length, reserved byte, parent, name) padded to an even length,
    // the pad counted in the length as the Macintosh counts it.
    const size_t keyLength = catkey::kName + macName.size();
    at[catkey::kKeyLength] = static_cast<uint8_t>((keyLength - 1) | 1);
    storeBE32(at + catkey::kParentId, kRootParentId);
    at[catkey::kNameLength] = static_cast<uint8_t>(macName.size());
    std::memcpy(at + catkey::kName, macName.data(), macName.size());
    uint8_t* folder = at + keyLength + keyLength % 2;
    folder[0] = catrec::kFolder;
    storeBE32(folder + catrec::kDirId, kRootFolderId);
    storeBE32(folder + catrec::kDirCreated, created);
    storeBE32(folder + catrec::kDirModified, created);
    const auto second = static_cast<uint16_t>(folder + catrec::kFolderSize - nd.data());
    // Thread record: the key of the root's ID and no name, then the parent and the name.
    uint8_t* thread = nd.data() + second;
    thread[catkey::kKeyLength] = catkey::kMinKeyLength | 1;
    storeBE32(thread + catkey::kParentId, kRootFolderId);
    uint8_t* data = thread + catkey::kMinKeyLength + 2;
    data[0] = catrec::kFolderThread;
    storeBE32(data + catrec::kThreadParentId, kRootParentId);
    data[catrec::kThreadName] = static_cast<uint8_t>(macName.size());
    std::memcpy(data + catrec::kThreadName + 1, macName.data(), macName.size());
    const auto end = static_cast<uint16_t>(data + catrec::kThreadSize - nd.data());
    describeNode(nd, node::kTypeLeaf, 1, {node::kFirstRecord, second}, end);
    return nd;
}

Status writeAll(int fd, const uint8_t* data, size_t length, uint64_t offset) {
    for (size_t done = 0; done < length;) {
        const ssize_t put = ::pwrite(fd, data + done, length - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return Fault{put < 0 ? std::strerror(errno) : "nothing written"};
        done += static_cast<size_t>(put);
    }
    return Status::ok();
}

}  // namespace

Result<HfsLayout> hfsLayout(uint64_t bytes) {
    if (bytes % kSectorSize != 0) return Fault{"a volume is a whole number of 512-byte sectors"};
    if (bytes < kSmallest) return Fault{"an HFS volume takes at least 400K"};
    if (bytes > kLargest) return Fault{"an HFS volume holds at most 2 GB"};
    HfsLayout l;
    l.sectors = bytes / kSectorSize;
    // Boot blocks, MDB and bitmap before the blocks; the alternate MDB and a spare sector after.
    const uint64_t sectorsPerBlock = (l.sectors + 0xFFFF) / 0x10000;
    l.blockSize = static_cast<uint32_t>(sectorsPerBlock * kSectorSize);
    auto blocksAfter = [&](uint64_t start) { return static_cast<uint32_t>(std::min<uint64_t>(kMaxBlocks, (l.sectors - start - 2) / sectorsPerBlock)); };
    const uint32_t atMost = blocksAfter(kBitmapSector);
    l.allocStart = kBitmapSector + (atMost + kBitsPerSector - 1) / kBitsPerSector;
    l.blocks = blocksAfter(l.allocStart);
    l.treeBlocks = l.blocks / 128;
    return l;
}

Result<uint64_t> parseVolumeSize(std::string_view text) {
    uint64_t number = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        number = number * 10 + static_cast<uint64_t>(text[i] - '0');
        if (number > kLargest) return Fault{"an HFS volume holds at most 2 GB"};
    }
    const std::string_view unit = text.substr(i);
    uint64_t scale = 0;
    if (unit.empty()) scale = 1;
    else if (unit == "k" || unit == "K") scale = 1024;
    else if (unit == "m" || unit == "M") scale = 1024 * 1024;
    else if (unit == "g" || unit == "G") scale = 1024 * 1024 * 1024;
    if (i == 0 || scale == 0) return Fault{"a size is a number, with K, M or G after it for those units (800k, 20M)"};
    if (number > kLargest / scale) return Fault{"an HFS volume holds at most 2 GB"};
    return number * scale;
}

Result<std::string> macVolumeName(std::string_view typed) {
    const std::string ansi = utf8ToAnsi(typed);
    const std::string mac = TranslateName(ansi, AnsiToMac);
    if (ansi.find(':') != std::string::npos || mac.empty() || mac.size() > mdb::kMaxVolumeName)
        return Fault{"a volume's name has 1 to 27 characters and no ':'"};
    if (mac.size() != ansi.size()) return Fault{"a character of the name is not one a Macintosh name can hold"};
    return mac;
}

bool namesDiskCopyImage(std::string_view path) {
    auto endsWith = [&](std::string_view end) {
        if (path.size() < end.size()) return false;
        for (size_t i = 0; i < end.size(); ++i) {
            const char c = path[path.size() - end.size() + i];
            if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != end[i]) return false;
        }
        return true;
    };
    return endsWith(".dc42") || endsWith(".image");
}

Status formatHfsImage(const std::string& path, std::string_view macName, uint64_t bytes, uint32_t created) {
    if (macName.empty() || macName.size() > mdb::kMaxVolumeName || macName.find(':') != std::string_view::npos)
        return Fault{"a volume's name has 1 to 27 characters and no ':'"};
    Result<HfsLayout> layout = hfsLayout(bytes);
    if (!layout) return Fault{layout.fault()};
    const HfsLayout& l = *layout;
    // A DiskCopy 4.2 image: its header, then the disk.
    const bool diskCopy = namesDiskCopyImage(path);
    if (diskCopy && !diskCopyHeader(macName, static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX)), 0))
        return Fault{"a DiskCopy 4.2 image (.dc42, .image) holds a disk of 400K, 720K, 800K or 1440K"};
    const uint64_t base = diskCopy ? kDiskCopyHeaderSize : 0;

    std::array<uint8_t, kSectorSize> mdbSector{};
    uint8_t* m = mdbSector.data();
    std::memcpy(m + mdb::kSignature, "BD", 2);
    storeBE32(m + mdb::kCreated, created);
    storeBE32(m + mdb::kModified, created);
    storeBE16(m + mdb::kAttributes, mdb::kCleanlyUnmounted);
    storeBE16(m + mdb::kBitmapStart, kBitmapSector);
    storeBE16(m + mdb::kAllocPointer, static_cast<uint16_t>(2 * l.treeBlocks));
    storeBE16(m + mdb::kAllocBlocks, static_cast<uint16_t>(l.blocks));
    storeBE32(m + mdb::kAllocBlockSize, l.blockSize);
    storeBE32(m + mdb::kClumpSize, 4 * l.blockSize);
    storeBE16(m + mdb::kAllocStart, static_cast<uint16_t>(l.allocStart));
    storeBE32(m + mdb::kNextCatalogId, kFirstFreeId);
    storeBE16(m + mdb::kFreeBlocks, static_cast<uint16_t>(l.blocks - 2 * l.treeBlocks));
    m[mdb::kVolumeName] = static_cast<uint8_t>(macName.size());
    std::memcpy(m + mdb::kVolumeName + 1, macName.data(), macName.size());
    const uint32_t treeBytes = l.treeBlocks * l.blockSize;
    storeBE32(m + mdb::kExtentsClump, treeBytes);
    storeBE32(m + mdb::kCatalogClump, treeBytes);
    storeBE32(m + mdb::kExtentsSize, treeBytes);
    storeBE16(m + mdb::kExtentsExtents + 2, static_cast<uint16_t>(l.treeBlocks));
    storeBE32(m + mdb::kCatalogSize, treeBytes);
    storeBE16(m + mdb::kCatalogExtents, static_cast<uint16_t>(l.treeBlocks));
    storeBE16(m + mdb::kCatalogExtents + 2, static_cast<uint16_t>(l.treeBlocks));

    // The bitmap marks both trees' blocks, the first 2 × treeBlocks.
    std::vector<uint8_t> bitmap(size_t{l.allocStart - kBitmapSector} * kSectorSize, 0);
    for (uint32_t b = 0; b < 2 * l.treeBlocks; ++b) bitmap[b / 8] |= static_cast<uint8_t>(0x80 >> (b % 8));

    const uint32_t treeNodes = treeBytes / kNodeSize;
    const std::vector<Node> extents = emptyTree(treeNodes, kExtentsKeyMax, 0);
    std::vector<Node> catalog = emptyTree(treeNodes, kCatalogKeyMax, 1);
    const auto leaf = static_cast<uint32_t>(catalog.size() - 1);
    catalog[leaf] = rootLeaf(macName, created);
    uint8_t* head = catalog[0].data();
    storeBE16(head + header::kDepth, 1);
    storeBE32(head + header::kRoot, leaf);
    storeBE32(head + header::kLeafRecords, 2);
    storeBE32(head + header::kFirstLeaf, leaf);
    storeBE32(head + header::kLastLeaf, leaf);

    // The file: made here, or one that is there and empty; anything else is left alone.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const bool made = fd >= 0;
    if (!made && errno == EEXIST) fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return Fault{path + ": " + std::strerror(errno)};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) {
        ::close(fd);
        return Fault{path + ": the file exists and is not empty; a new volume is made only in a new or empty file"};
    }
    Status written = [&]() -> Status {
        // The whole length is taken now, so that a disk too small says so before anything is put.
        if (const int e = ::posix_fallocate(fd, 0, static_cast<off_t>(base + bytes)); e != 0) {
            if (e != EOPNOTSUPP && e != EINVAL) return Fault{std::strerror(e)};
            if (::ftruncate(fd, static_cast<off_t>(base + bytes)) != 0) return Fault{std::strerror(errno)};
        }
        const uint64_t blocksAt = base + uint64_t{l.allocStart} * kSectorSize;
        auto put = [&](const std::vector<Node>& nodes, uint64_t at) -> Status {
            for (size_t n = 0; n < nodes.size(); ++n)
                if (Status s = writeAll(fd, nodes[n].data(), kNodeSize, at + n * kNodeSize); !s) return s;
            return Status::ok();
        };
        if (Status s = writeAll(fd, mdbSector.data(), kSectorSize, base + 2 * kSectorSize); !s) return s;
        if (Status s = writeAll(fd, bitmap.data(), bitmap.size(), base + uint64_t{kBitmapSector} * kSectorSize); !s) return s;
        if (Status s = put(extents, blocksAt); !s) return s;
        if (Status s = put(catalog, blocksAt + treeBytes); !s) return s;
        if (Status s = writeAll(fd, mdbSector.data(), kSectorSize, base + (l.sectors - 2) * kSectorSize); !s) return s;
        if (diskCopy) {
            // A floppy's data is summed in memory: at most 1440K.
            std::vector<uint8_t> disk(bytes);
            if (::pread(fd, disk.data(), disk.size(), static_cast<off_t>(base)) != static_cast<ssize_t>(disk.size()))
                return Fault{"cannot read the new disk back"};
            const auto header = diskCopyHeader(macName, static_cast<uint32_t>(bytes), diskCopyChecksum(disk.data(), disk.size()));
            if (Status s = writeAll(fd, header->data(), header->size(), 0); !s) return s;
        }
        return ::fsync(fd) == 0 ? Status::ok() : Status{Fault{std::strerror(errno)}};
    }();
    if (!written) {
        // Nothing half made is left behind: the file goes away, or back to empty.
        if (made) ::unlink(path.c_str());
        else if (::ftruncate(fd, 0) != 0) written = Fault{written.fault() + "; the file could not be made empty again"};
        ::close(fd);
        return Fault{path + ": " + written.fault()};
    }
    if (::close(fd) != 0) return Fault{path + ": " + std::strerror(errno)};
    return Status::ok();
}

}  // namespace quarry
