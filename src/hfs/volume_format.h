#pragma once
// Making a new, empty HFS volume in an image file, laid out as the Macintosh lays out a disk it
// initialises: boot blocks (left empty), the MDB at sector 2, the volume bitmap from sector 3,
// the allocation blocks, then the alternate MDB in the second-to-last sector. The extents tree
// and the catalog come first in the allocation blocks, each a 128th of them; the catalog holds
// the root folder and its thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace quarry {

// Where a volume of a given size puts its parts.
struct HfsLayout {
    uint64_t sectors = 0;      // of the whole volume
    uint32_t blockSize = 0;    // bytes per allocation block: a multiple of 512
    uint32_t blocks = 0;       // allocation blocks, at most 65,535
    uint32_t allocStart = 0;   // sector of allocation block 0
    uint32_t treeBlocks = 0;   // blocks of the extents tree, and as many of the catalog
};

// The layout of a volume of `bytes` bytes: the smallest allocation block that keeps their
// number within 65,535. A size that is not a whole number of sectors, below 400K or above 2 GB
// is refused with the reason.
Result<HfsLayout> hfsLayout(uint64_t bytes);

// A size as typed: a number of bytes, or of K, M or G with that letter after it ("800k", "20M").
Result<uint64_t> parseVolumeSize(std::string_view text);

// A volume's name as typed (UTF-8) in the Macintosh character set, through the Windows set as
// every typed name: a name with ':' or with a character neither set has is refused.
Result<std::string> macVolumeName(std::string_view typed);

// True for a name that asks for a DiskCopy 4.2 image: one ending in ".dc42" or ".image", in any
// case.
bool namesDiskCopyImage(std::string_view path);

// Writes a new volume named macName (Macintosh characters, 1 to 27, no ':') of `bytes` bytes
// into the file at path, made when missing; a file that holds anything is refused, left as it
// was. `created` is the Macintosh time of the volume and its root folder. A path that names a
// DiskCopy 4.2 image gets the volume behind that header, with its checksum (400K, 720K, 800K
// and 1440K disks only). Should a write fail,
// a file this made is removed again and one that was empty is made empty again.
Status formatHfsImage(const std::string& path, std::string_view macName, uint64_t bytes, uint32_t created);

}  // namespace quarry
