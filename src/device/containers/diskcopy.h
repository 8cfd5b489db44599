#pragma once
// DiskCopy 4.2 images: an 84-byte header, the disk's data, then its tags (the 12 bytes per
// sector that Lisa and old Macintosh file systems kept beside each sector).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "common/result.h"
#include "device/containers/image_source.h"

namespace quarry {

constexpr size_t kDiskCopyHeaderSize = 84;

bool looksLikeDiskCopy(const uint8_t* head, size_t length);
// Opened for writing, the disk's data takes writes and each flush writes the data checksum
// again, so that what DiskCopy and emulators check matches what the disk holds.
Result<OpenedImage> openDiskCopy(std::shared_ptr<FileHandle> file, uint64_t fileSize, ImageAccess access = ImageAccess::ReadOnly);

// The header of a DiskCopy 4.2 image of a 400K, 720K, 800K or 1440K disk without tags (the
// disk kind follows from the size); nothing for any other size.
std::optional<std::array<uint8_t, kDiskCopyHeaderSize>> diskCopyHeader(std::string_view name, uint32_t dataSize, uint32_t checksum);

// The checksum DiskCopy keeps of the data: each big-endian 16-bit word added, then the 32-bit
// sum rotated right by one bit.
uint32_t diskCopyChecksum(const uint8_t* bytes, size_t length, uint32_t sum = 0);

}  // namespace quarry
