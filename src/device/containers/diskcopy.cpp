#include "device/containers/diskcopy.h"

#include <cstdio>
#include <vector>

namespace quarry {
namespace {

// Offsets of the DiskCopy 4.2 header fields, all big-endian.
namespace dc42 {
constexpr size_t kNameLength = 0;      // Pascal string, up to 63 characters
constexpr size_t kMaxName = 63;
constexpr size_t kDataSize = 64;       // bytes of disk data
constexpr size_t kTagSize = 68;        // bytes of tags
constexpr size_t kDataChecksum = 72;
constexpr size_t kPrivate = 82;        // always 0x0100
constexpr uint16_t kPrivateValue = 0x0100;
constexpr uint32_t kSectorSize = 512;
}  // namespace dc42

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

Fault damaged(const std::string& why) { return Fault{"The DiskCopy image is damaged: " + why}; }

}  // namespace

uint32_t diskCopyChecksum(const uint8_t* bytes, size_t length, uint32_t sum) {
    for (size_t i = 0; i + 1 < length; i += 2) {
        sum += be16(bytes + i);
        sum = sum >> 1 | sum << 31;
    }
    return sum;
}

bool looksLikeDiskCopy(const uint8_t* head, size_t length) {
    if (length < kDiskCopyHeaderSize) return false;
    const uint32_t dataSize = be32(head + dc42::kDataSize);
    return head[dc42::kNameLength] <= dc42::kMaxName && be16(head + dc42::kPrivate) == dc42::kPrivateValue &&
           dataSize > 0 && dataSize % dc42::kSectorSize == 0;
}

Result<OpenedImage> openDiskCopy(std::shared_ptr<FileHandle> file, uint64_t fileSize) {
    uint8_t header[kDiskCopyHeaderSize];
    if (Status read = file->readExactly(0, sizeof header, header); !read) return damaged(read.fault());
    const uint64_t dataSize = be32(header + dc42::kDataSize);
    const uint64_t tagSize = be32(header + dc42::kTagSize);
    if (kDiskCopyHeaderSize + dataSize + tagSize > fileSize)
        return damaged("the header says " + std::to_string(dataSize) + " data bytes and " + std::to_string(tagSize) +
                       " tag bytes, but the file holds only " + std::to_string(fileSize - kDiskCopyHeaderSize) + " after the header");

    OpenedImage image;
    image.format = "DiskCopy 4.2";
    // The whole data is read once for its checksum, a piece at a time.
    std::vector<uint8_t> piece(1 << 20);
    uint32_t sum = 0;
    for (uint64_t done = 0; done < dataSize;) {
        const uint64_t length = std::min<uint64_t>(piece.size(), dataSize - done);
        if (Status read = file->readExactly(kDiskCopyHeaderSize + done, length, piece.data()); !read) return damaged(read.fault());
        sum = diskCopyChecksum(piece.data(), length, sum);
        done += length;
    }
    // Emulators and later tools wrote to such disks without mending the checksum, and the volume
    // inside is often sound: the person hears of it and the image opens all the same.
    if (const uint32_t stated = be32(header + dc42::kDataChecksum); sum != stated)
        image.warnings.push_back(damaged("data checksum " + hex32(sum) + " where the header says " + hex32(stated)).what);
    image.source = std::make_unique<FileSource>(std::move(file), kDiskCopyHeaderSize, dataSize, ImageAccess::ReadOnly);
    return image;
}

}  // namespace quarry
