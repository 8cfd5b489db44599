#include "dialogs/volume_info.h"

#include "app/session.h"

namespace quarry {

std::vector<VolumeInfoValue> VolumeInfoValues(const Session& session) {
    const VolumeState& v = session.volume;
    const uint32_t blockSize = v.allocBlockSize;
    const uint32_t first = static_cast<uint32_t>(v.firstBlockSector);
    // A driver descriptor's block size is checked at mount; 512 stands in should it ever be 0.
    const uint32_t deviceBlock = session.device.deviceBlockSize ? session.device.deviceBlockSize : 512;
    return {
        {500, "Volume Size:", v.mdb16(mdb::kAllocBlocks) * blockSize},
        {501, "Free space:", v.mdb16(mdb::kFreeBlocks) * blockSize},
        {503, "Number of files:", v.mdb32(mdb::kFileCount)},
        {504, "Number of folders:", v.mdb32(mdb::kFolderCount)},
        {505, "Next File ID:", v.mdb32(mdb::kNextCatalogId)},
        {502, "MDB Offset:", v.mdbSector},
        {506, "Partitions:", session.device.partitionCount},
        {507, "Cluster Size:", v.mdb32(mdb::kAllocBlockSize)},
        {508, "Number of Sectors:", v.mdb16(mdb::kAllocBlocks) * v.sectorsPerBlock},
        {511, "Extensions Offset:", v.mdb16(mdb::kExtentsExtents) * v.sectorsPerBlock + first},
        {512, "Extensions Size (sectors):", v.mdb32(mdb::kExtentsSize) / deviceBlock},
        {509, "Catalog Offset:", v.mdb16(mdb::kCatalogExtents) * v.sectorsPerBlock + first},
        {510, "Catalog Size (sectors):", v.mdb32(mdb::kCatalogSize) / deviceBlock},
    };
}

}  // namespace quarry
