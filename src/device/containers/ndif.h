#pragma once
// Disk Copy 6's images (NDIF, ".img", ".smi"): the disk in the data fork, either as it is or in
// chunks that a block map in the resource fork (the 'bcem' resource) places, some of them
// zero-filled or compressed with ADC. The resource fork travels in MacBinary, AppleSingle,
// BinHex or an AppleDouble "._" file; open_image.cpp finds it there and hands it over.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "common/result.h"
#include "device/containers/image_source.h"

namespace quarry {

// The Resource Manager's four-character type of the block map.
inline constexpr uint32_t kBlockMapResource = 0x6263656D;  // 'bcem'

// The data of the first resource of `type` in a resource fork held in memory: nothing when the
// fork holds none; a fault ("resource fork is damaged: ...") when the fork's map is damaged.
Result<std::optional<std::vector<uint8_t>>> findResource(const std::vector<uint8_t>& fork, uint32_t type);

// The disk an NDIF block map describes: its chunks lie in the data fork, `dataLength` bytes from
// `dataStart` of `file`. Faults read "The NDIF image is damaged: ...".
Result<std::unique_ptr<ImageSource>> openNdif(std::shared_ptr<FileHandle> file, uint64_t dataStart, uint64_t dataLength,
                                              const std::vector<uint8_t>& blockMap);

}  // namespace quarry
