#include "dialogs/volume_info.h"

#include "app/session.h"

namespace quarry {

std::vector<VolumeInfoValue> VolumeInfoValues(const Session& session) {
    const VolumeFigures f = session.mounted ? session.mounted->figures() : VolumeFigures{};
    // A driver descriptor's block size is checked at mount; 512 stands in should it ever be 0.
    const uint32_t deviceBlock = session.device.deviceBlockSize ? session.device.deviceBlockSize : 512;
    return {
        {500, "Volume Size:", f.totalBlocks * f.blockSize},
        {501, "Free space:", f.freeBlocks * f.blockSize},
        {503, "Number of files:", f.fileCount},
        {504, "Number of folders:", f.folderCount},
        {505, "Next File ID:", f.nextCatalogId},
        {502, "MDB Offset:", f.headerSector},
        {506, "Partitions:", session.device.partitionCount},
        {507, "Cluster Size:", f.blockSize},
        {508, "Number of Sectors:", f.totalBlocks * f.sectorsPerBlock},
        {511, "Extensions Offset:", f.extentsSector},
        {512, "Extensions Size (sectors):", f.extentsBytes / deviceBlock},
        {509, "Catalog Offset:", f.catalogSector},
        {510, "Catalog Size (sectors):", f.catalogBytes / deviceBlock},
    };
}

}  // namespace quarry
