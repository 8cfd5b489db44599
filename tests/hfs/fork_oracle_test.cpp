// Fork bytes read by Quarry, compared with what hcopy extracts from the same volume, including
// forks that continue in the extents-overflow tree.

#include <gtest/gtest.h>

#include "hfs/btree.h"
#include "hfs/fork.h"
#include "app/navigation.h"
#include "support/hfs_oracle.h"
#include "support/memory_sink.h"
#include "support/mounted_image.h"

namespace quarry {
namespace {

using test::MountedImage;

struct FileFork {
    ExtentRecord extents;
    uint32_t fileID;
    uint32_t length;
};

FileFork forkOf(MountedImage& m, const std::string& name, uint8_t forkType) {
    const uint8_t* nd = findCatalogRecord(m.session.volume, name, want::kFile, m.session.dir.currentDirID);
    EXPECT_NE(nd, nullptr) << name;
    if (!nd) return {};
    const uint8_t* data = recordData(currentRecordKey(m.session.volume.catalog));
    const bool rsrc = forkType == kResourceFork;
    return {extentRecordAt(data + (rsrc ? catrec::kRsrcExtents : catrec::kDataExtents)), loadBE32(data + catrec::kFileId),
            loadBE32(data + (rsrc ? catrec::kRsrcLength : catrec::kDataLength))};
}

std::string readFork(MountedImage& m, const std::string& name, uint8_t forkType) {
    const FileFork f = forkOf(m, name, forkType);
    test::MemorySink sink;
    Status s = readForkToFile(m.session.volumeContext(), f.extents, sink, f.fileID, f.length, forkType);
    EXPECT_TRUE(s) << s.fault();
    return std::string(sink.bytes.begin(), sink.bytes.end());
}

TEST(ForkBytes, MatchHcopyForEveryKindOfFork) {
    struct Case {
        const char* image;
        const char* folder;  // entered first, or nullptr
        const char* name;
        const char* hfsPath;
    };
    const Case cases[] = {
        {"basic.hfs", nullptr, "Big Forks", ":Big Forks"},         {"basic.hfs", nullptr, "Puzzle", ":Puzzle"},
        {"basic.hfs", nullptr, "Resource Only", ":Resource Only"}, {"basic.hfs", nullptr, "Empty File", ":Empty File"},
        {"basic.hfs", "Docs", "Read Me", ":Docs:Read Me"},         {"hybrid.iso", "Apps", "Tool", ":Apps:Tool"},
        {"fragmented.hfs", nullptr, "Scattered Data", ":Scattered Data"},
        {"fragmented.hfs", nullptr, "Scattered Resource", ":Scattered Resource"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " " + c.hfsPath);
        const std::string image = test::fixturePath(c.image);
        MountedImage m(image);
        ASSERT_EQ(m.mountResult, 1);
        if (c.folder) {
            ASSERT_TRUE(enterDirectory(m.session, c.folder));
        }
        EXPECT_EQ(readFork(m, c.name, kDataFork), test::hcopyData(image, c.hfsPath));
        EXPECT_EQ(readFork(m, c.name, kResourceFork), test::resourceOfMacBinary(test::hcopyMacBinary(image, c.hfsPath)));
    }
}

TEST(ForkBytes, OverflowExtentsAreLookedUpInTheExtentsTree) {
    const std::string image = test::fixturePath("fragmented.hfs");
    MountedImage m(image);
    ASSERT_EQ(m.mountResult, 1);
    EXPECT_FALSE(m.session.volume.extents.hasWorkFile());
    const std::string data = readFork(m, "Scattered Data", kDataFork);
    EXPECT_TRUE(m.session.volume.extents.hasWorkFile());
    ASSERT_EQ(data, test::hcopyData(image, ":Scattered Data"));

    // Every 512-byte unit of the fork maps to the sector that holds those bytes, past the
    // record's three extents too; past the fork's extents there is no sector.
    const FileFork f = forkOf(m, "Scattered Data", kDataFork);
    const uint32_t units = f.length / 512;
    uint8_t sector[512];
    for (uint32_t i = 0; i < units; ++i) {
        const uint32_t s = forkSectorAt(m.session.volumeContext(), i, f.extents, f.fileID, kDataFork);
        ASSERT_NE(s, 0u) << "unit " << i;
        ASSERT_EQ(ReadSector(m.session.device, s, sector), 0);
        ASSERT_EQ(std::string(reinterpret_cast<char*>(sector), 512), data.substr(size_t{i} * 512, 512)) << "unit " << i;
    }
    const uint32_t allocated = f.length / m.session.volume.allocBlockSize * m.session.volume.sectorsPerBlock;
    EXPECT_EQ(forkSectorAt(m.session.volumeContext(), allocated + 1000, f.extents, f.fileID, kDataFork), 0u);
}

}  // namespace
}  // namespace quarry
