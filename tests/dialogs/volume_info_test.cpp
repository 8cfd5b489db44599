// The figures of the volume information sheet.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/session.h"
#include "dialogs/volume_info.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

TEST(VolumeInfoValues, ComputesTheSheetFromTheMdbAndThePlacement) {
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

    std::map<std::string, uint32_t> got;
    std::vector<int> order;
    for (const auto& value : VolumeInfoValues(s)) {
        got[value.label] = value.value;
        order.push_back(value.control);
    }
    EXPECT_EQ(order, (std::vector<int>{500, 501, 503, 504, 505, 502, 506, 507, 508, 511, 512, 509, 510}));
    EXPECT_EQ(got["Volume Size:"], 40960000u);
    EXPECT_EQ(got["Free space:"], 204800u);
    EXPECT_EQ(got["Number of files:"], 345u);
    EXPECT_EQ(got["Number of folders:"], 67u);
    EXPECT_EQ(got["Next File ID:"], 900u);
    EXPECT_EQ(got["MDB Offset:"], 98u);
    EXPECT_EQ(got["Partitions:"], 1u);
    EXPECT_EQ(got["Cluster Size:"], 2048u);
    EXPECT_EQ(got["Number of Sectors:"], 80000u);
    EXPECT_EQ(got["Catalog Offset:"], 258u);
    EXPECT_EQ(got["Catalog Size (sectors):"], 2048u);
    EXPECT_EQ(got["Extensions Offset:"], 96u + 122 + 8);
    EXPECT_EQ(got["Extensions Size (sectors):"], 128u);
}

}  // namespace
}  // namespace quarry
