#pragma once
// UDIF disk images (.dmg): chunks of 512-byte sectors, raw, zero-filled or compressed (zlib,
// bzip2, ADC), listed per partition in "blkx" tables of an XML property list that a 512-byte
// "koly" trailer at the end of the file points to. Chunks are decompressed when read, a few
// kept in a small cache.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/result.h"
#include "device/containers/image_source.h"

namespace quarry {

constexpr size_t kKolySize = 512;

enum class KolyPlace { None, AtEnd, CutShort };
// Where a koly trailer lies in the last 512 bytes of a file: at their start as it should, or
// later, in a file that was cut short.
KolyPlace findKoly(const uint8_t* tail, size_t length);

Result<OpenedImage> openUdif(std::shared_ptr<FileHandle> file, uint64_t fileSize);

}  // namespace quarry
