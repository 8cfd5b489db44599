// Finding the volume on the medium: bare volumes, old-style and Apple partition maps, driver
// descriptors; and what a mount leaves behind.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/mount.h"
#include "hfs/btree.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::Bytes;
using test::MountedImage;
using test::TempDir;

Bytes basicVolume() { return test::readFile(test::fixturePath("basic.hfs")); }

std::vector<std::string> rootNames(MountedImage& m) {
    std::vector<std::string> names;
    const FileList& l = m.list();
    for (uint16_t i = 0; i < l.entryCount; ++i) names.push_back(l.entries[i].name());
    return names;
}

TEST(Mount, FindsTheVolumeBehindEveryKindOfMap) {
    MountedImage bare(test::fixturePath("basic.hfs"));
    ASSERT_EQ(bare.mountResult, 1);
    const std::vector<std::string> expected = rootNames(bare);
    const uint16_t allocStart = bare.session.volume.mdb16(mdb::kAllocStart);
    EXPECT_EQ(bare.session.volume.mdbSector, 2u);
    EXPECT_EQ(bare.session.volume.firstBlockSector, allocStart);

    struct Case {
        const char* what;
        Bytes medium;
        uint32_t partitionStart;
        uint16_t deviceBlockSize;
    };
    const Bytes volume = basicVolume();
    const uint32_t volumeSectors = static_cast<uint32_t>(volume.size() / 512);
    std::vector<Case> cases = {{"old-style map", test::behindOldStyleMap(volume, 64), 64, 512},
                               {"1024-byte blocks and a partition map", test::behindPartitionMap(volume, 96, 1024), 96, 1024}};
    {
        // The first entry after sector 1 whose type begins with "Apple_HFS" wins; only nine
        // bytes are compared, so a longer type matches too.
        Bytes other = volume;
        test::HfsImage(other).setMdb16(test::mdb::kDrNmFls, 0);
        test::Medium m(200 + 2 * volumeSectors);
        m.driverDescriptor(512, 200 + 2 * volumeSectors)
            .partitionMap({{"Driver", "Apple_Driver43", 32, 32}, {"Free", "Apple_Free", 64, 36},
                           {"Mac", "Apple_HFS_Hybrid", 100, volumeSectors}, {"Second", "Apple_HFS", 100 + volumeSectors, volumeSectors}})
            .place(100, volume)
            .place(100 + volumeSectors, other);
        cases.push_back({"several partitions", m.bytes(), 100, 512});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        test::writeFile(dir.file("medium.img"), c.medium);
        MountedImage m(dir.file("medium.img"));
        ASSERT_EQ(m.mountResult, 1) << m.session.volume.mountFault;
        EXPECT_EQ(m.session.volume.mdbSector, c.partitionStart + 2);
        EXPECT_EQ(m.session.volume.firstBlockSector, static_cast<int32_t>(c.partitionStart + allocStart));
        EXPECT_EQ(m.session.device.deviceBlockSize, c.deviceBlockSize);
        EXPECT_EQ(rootNames(m), expected);
        EXPECT_EQ(m.session.volume.mdb16(mdb::kRootFiles), bare.session.volume.mdb16(mdb::kRootFiles));
    }
}

TEST(Mount, APartitionMapWithoutHfsEntryIsNoVolume) {
    const Bytes volume = basicVolume();
    TempDir dir;
    test::writeFile(dir.file("nohfs.img"),
                    test::Medium(64).partitionMap({{"Extra", "Apple_Free", 64, static_cast<uint32_t>(volume.size() / 512)}}).place(64, volume).bytes());
    MountedImage mounted(dir.file("nohfs.img"));
    // Without an HFS entry the MDB is looked for at sector 2, where the map goes on.
    EXPECT_EQ(mounted.mountResult, 0);
    EXPECT_EQ(mounted.session.device.targetId, kNoSelection);
}

TEST(Mount, ClearsAFreeNodeCountAboveTheNodeCount) {
    Bytes volume = basicVolume();
    test::HfsImage image(volume);
    image.setHeader32(test::Tree::Catalog, test::btheader::kFreeNodes, image.header32(test::Tree::Catalog, test::btheader::kTotalNodes) + 5);
    TempDir dir;
    test::writeFile(dir.file("free.hfs"), volume);
    MountedImage m(dir.file("free.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    EXPECT_EQ(loadBE32(m.session.volume.catalog.header.data() + header::kFreeNodes), 0u);
}

TEST(Mount, WorkFilesLiveInTheTemporaryDirectoryAndGoAtRemountAndExit) {
    TempDir tmp;
    const char* old = getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", tmp.path().c_str(), 1);
    std::string catalogPath, extentsPath;
    {
        MountedImage m(test::fixturePath("fragmented.hfs"));
        ASSERT_EQ(m.mountResult, 1);
        catalogPath = m.session.volume.catalog.workPath;
        EXPECT_EQ(catalogPath.rfind(tmp.path() + "/CAT", 0), 0u) << catalogPath;
        EXPECT_TRUE(std::filesystem::exists(catalogPath));
        // The extents tree is copied only when a fork needs it.
        EXPECT_FALSE(m.session.volume.extents.hasWorkFile());
        ASSERT_TRUE(copyExtentsTree(m.session.volumeContext()));
        extentsPath = m.session.volume.extents.workPath;
        EXPECT_EQ(extentsPath.rfind(tmp.path() + "/EXT", 0), 0u) << extentsPath;

        ASSERT_EQ(mountVolume(m.session), 1);
        EXPECT_FALSE(std::filesystem::exists(catalogPath));
        EXPECT_FALSE(std::filesystem::exists(extentsPath));
        catalogPath = m.session.volume.catalog.workPath;
        EXPECT_TRUE(std::filesystem::exists(catalogPath));
    }
    EXPECT_FALSE(std::filesystem::exists(catalogPath));
    if (old) setenv("TMPDIR", saved.c_str(), 1);
    else unsetenv("TMPDIR");
}

TEST(Mount, AnotherDriveReplacesTheVolume) {
    MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    auto& images = static_cast<ImageAdapter&>(*m.bus.adapters[0]);
    ASSERT_TRUE(images.addImage(test::fixturePath("hybrid.iso"), ImageAccess::ReadOnly));
    m.ui.driveChoice = 1;
    ASSERT_EQ(SelectCdromDrive(m.session.device, m.table, m.ui), 1);
    ASSERT_EQ(m.session.device.targetId, 1);
    ASSERT_EQ(mountVolume(m.session), 1);
    EXPECT_EQ(m.session.volume.volumeName(), test::hmountVolumeName(test::fixturePath("hybrid.iso")));
    EXPECT_NE(m.find("Docs"), nullptr);
    EXPECT_EQ(m.find("aardvark"), nullptr);
}

}  // namespace
}  // namespace quarry
