#pragma once
// DiskCopy 4.2 images: an 84-byte header, the disk's data, then its tags (the 12 bytes per
// sector that Lisa and old Macintosh file systems kept beside each sector).

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/result.h"
#include "device/containers/image_source.h"

namespace quarry {

constexpr size_t kDiskCopyHeaderSize = 84;

bool looksLikeDiskCopy(const uint8_t* head, size_t length);
Result<OpenedImage> openDiskCopy(std::shared_ptr<FileHandle> file, uint64_t fileSize);

// The checksum DiskCopy keeps of the data: each big-endian 16-bit word added, then the 32-bit
// sum rotated right by one bit.
uint32_t diskCopyChecksum(const uint8_t* bytes, size_t length, uint32_t sum = 0);

}  // namespace quarry
