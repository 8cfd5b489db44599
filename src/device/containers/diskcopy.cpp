#include "device/containers/diskcopy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
constexpr size_t kDiskFormat = 80;     // 0 400K GCR, 1 800K GCR, 2 720K MFM, 3 1440K MFM
constexpr size_t kFormatByte = 81;     // 0x12 for a 400K Macintosh disk, 0x22 for larger ones
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

// The sum of the data, read a piece at a time.
Result<uint32_t> dataChecksum(const FileHandle& file, uint64_t dataSize) {
    std::vector<uint8_t> piece(1 << 20);
    uint32_t sum = 0;
    for (uint64_t done = 0; done < dataSize;) {
        const uint64_t length = std::min<uint64_t>(piece.size(), dataSize - done);
        if (Status read = file.readExactly(kDiskCopyHeaderSize + done, length, piece.data()); !read) return Fault{read.fault()};
        sum = diskCopyChecksum(piece.data(), length, sum);
        done += length;
    }
    return sum;
}

// The disk's data, written in place; each flush sums it again into the header.
class DiskCopySource : public FileSource {
public:
    DiskCopySource(std::shared_ptr<FileHandle> file, uint64_t dataSize)
        : FileSource(file, kDiskCopyHeaderSize, dataSize, ImageAccess::ReadWrite), file_(std::move(file)), dataSize_(dataSize) {}

    Status flush() override {
        Result<uint32_t> sum = dataChecksum(*file_, dataSize_);
        if (!sum) return Fault{sum.fault()};
        const uint8_t field[4] = {static_cast<uint8_t>(*sum >> 24), static_cast<uint8_t>(*sum >> 16), static_cast<uint8_t>(*sum >> 8),
                                  static_cast<uint8_t>(*sum)};
        if (::pwrite(file_->fd(), field, sizeof field, dc42::kDataChecksum) != sizeof field) return Fault{std::strerror(errno)};
        return FileSource::flush();
    }

private:
    std::shared_ptr<FileHandle> file_;
    uint64_t dataSize_;
};

}  // namespace

std::optional<std::array<uint8_t, kDiskCopyHeaderSize>> diskCopyHeader(std::string_view name, uint32_t dataSize, uint32_t checksum) {
    struct Kind {
        uint32_t bytes;
        uint8_t format, formatByte;
    };
    constexpr Kind kKinds[] = {{409600, 0, 0x12}, {819200, 1, 0x22}, {737280, 2, 0x22}, {1474560, 3, 0x22}};
    const Kind* kind = std::find_if(std::begin(kKinds), std::end(kKinds), [&](const Kind& k) { return k.bytes == dataSize; });
    if (kind == std::end(kKinds)) return std::nullopt;
    std::array<uint8_t, kDiskCopyHeaderSize> h{};
    const size_t length = std::min(name.size(), dc42::kMaxName);
    h[dc42::kNameLength] = static_cast<uint8_t>(length);
    std::copy_n(name.begin(), length, h.begin() + 1);
    for (const auto& [offset, value] : {std::pair{dc42::kDataSize, dataSize}, std::pair{dc42::kDataChecksum, checksum}})
        for (size_t i = 0; i < 4; ++i) h[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    h[dc42::kDiskFormat] = kind->format;
    h[dc42::kFormatByte] = kind->formatByte;
    h[dc42::kPrivate] = dc42::kPrivateValue >> 8;
    return h;
}

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

Result<OpenedImage> openDiskCopy(std::shared_ptr<FileHandle> file, uint64_t fileSize, ImageAccess access) {
    uint8_t header[kDiskCopyHeaderSize];
    if (Status read = file->readExactly(0, sizeof header, header); !read) return damaged(read.fault());
    const uint64_t dataSize = be32(header + dc42::kDataSize);
    const uint64_t tagSize = be32(header + dc42::kTagSize);
    if (kDiskCopyHeaderSize + dataSize + tagSize > fileSize)
        return damaged("the header says " + std::to_string(dataSize) + " data bytes and " + std::to_string(tagSize) +
                       " tag bytes, but the file holds only " + std::to_string(fileSize - kDiskCopyHeaderSize) + " after the header");

    OpenedImage image;
    image.format = "DiskCopy 4.2";
    // The whole data is read once for its checksum.
    Result<uint32_t> sum = dataChecksum(*file, dataSize);
    if (!sum) return damaged(sum.fault());
    // Emulators and later tools wrote to such disks without mending the checksum, and the volume
    // inside is often sound: the person hears of it and the image opens all the same.
    if (const uint32_t stated = be32(header + dc42::kDataChecksum); *sum != stated)
        image.warnings.push_back(damaged("data checksum " + hex32(*sum) + " where the header says " + hex32(stated)).what);
    if (access == ImageAccess::ReadWrite) image.source = std::make_unique<DiskCopySource>(std::move(file), dataSize);
    else image.source = std::make_unique<FileSource>(std::move(file), kDiskCopyHeaderSize, dataSize, ImageAccess::ReadOnly);
    return image;
}

}  // namespace quarry
