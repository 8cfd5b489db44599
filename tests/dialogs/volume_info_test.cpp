// The volume's figures from its MDB and its placement: the information sheet, and the free and
// used space of the main window's header.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/file_list.h"
#include "app/session.h"
#include "dialogs/volume_info.h"
#include "hfs/hfs_volume.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

TEST(VolumeFigures, InformationSheetAndSpaceTexts) {
    test::RecordingUi ui;
    Session s(ui);
    VolumeState& v = s.volume;
    // A partition at sector 96 whose allocation block 0 is at sector 122 of it.
    v.mdbSector = 98;
    v.firstBlockSector = 96 + 122;
    v.allocBlockSize = 2048;
    v.sectorsPerBlock = 4;
    uint8_t* m = v.mdbCopy.data();
    storeBE16(m + mdb::kAllocBlocks, 20000);
    storeBE32(m + mdb::kAllocBlockSize, 2048);
    storeBE16(m + mdb::kFreeBlocks, 100);
    storeBE32(m + mdb::kFileCount, 345);
    storeBE32(m + mdb::kFolderCount, 67);
    storeBE32(m + mdb::kNextCatalogId, 900);
    storeBE32(m + mdb::kCatalogSize, 1048576);
    storeBE16(m + mdb::kCatalogExtents, 10);
    storeBE32(m + mdb::kExtentsSize, 65536);
    storeBE16(m + mdb::kExtentsExtents, 2);
    s.mounted = std::make_unique<HfsVolume>(s.volumeContext());

    std::map<std::string, uint32_t> got;
    for (const auto& value : VolumeInfoValues(s)) got[value.label] = value.value;
    EXPECT_EQ(got, (std::map<std::string, uint32_t>{
                       {"Volume Size:", 40960000u}, {"Free space:", 204800u}, {"Number of files:", 345u},
                       {"Number of folders:", 67u}, {"Next File ID:", 900u}, {"MDB Offset:", 98u}, {"Partitions:", 1u},
                       {"Cluster Size:", 2048u}, {"Number of Sectors:", 80000u}, {"Catalog Offset:", 258u},
                       {"Catalog Size (sectors):", 2048u}, {"Extensions Offset:", 96u + 122 + 8},
                       {"Extensions Size (sectors):", 128u}}));
    EXPECT_EQ(FreeSpaceText(s), "KB free :      201k");
    // (19900 × 2048 − 1048576 − 65536) / 1024 = 38712
    EXPECT_EQ(UsedSpaceText(s), "KB used :    38712k");
}

}  // namespace
}  // namespace quarry
