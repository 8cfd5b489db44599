// Finding the volume on the medium (bare volumes, old-style and Apple partition maps, driver
// descriptors) and what a mount leaves behind; and damaged volumes, each of which ends with a
// clear message naming the place and exit status 1 from quarry-cli, never with a crash, a hang
// or a listing made of garbage.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/mount.h"
#include "commands/volume_changes.h"
#include "hfs/btree.h"
#include "support/cli_run.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::Bytes;
using test::HfsImage;
using test::MountedImage;
using test::TempDir;
using test::Tree;

Bytes basicVolume() { return test::readFile(test::fixturePath("basic.hfs")); }

std::vector<std::string> rootNames(MountedImage& m) {
    std::vector<std::string> names;
    const FileList& l = m.list();
    for (uint16_t i = 0; i < l.entryCount; ++i) names.push_back(l.entries[i].name());
    return names;
}

TEST(Mount, FindsTheVolumeBehindEveryKindOfMap) {
    MountedImage bare(test::fixturePath("basic.hfs"));
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
        HfsImage(other).setMdb16(test::mdb::kDrNmFls, 0);
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
    test::Medium m(64);
    m.partitionMap({{"Extra", "Apple_Free", 64, static_cast<uint32_t>(volume.size() / 512)}}).place(64, volume);
    test::writeFile(dir.file("nohfs.img"), m.bytes());
    MountedImage mounted(dir.file("nohfs.img"), test::MountExpected::No);
    // Without an HFS entry the MDB is looked for at sector 2, where the map goes on.
    EXPECT_EQ(mounted.mountResult, 0);
    EXPECT_EQ(mounted.session.device.targetId, kNoSelection);
}

TEST(Mount, ClearsAFreeNodeCountAboveTheNodeCount) {
    TempDir dir;
    MountedImage m(test::bentFixture(dir, "basic.hfs", [](Bytes& b) {
        HfsImage image(b);
        image.setHeader32(Tree::Catalog, test::btheader::kFreeNodes, image.header32(Tree::Catalog, test::btheader::kTotalNodes) + 5);
    }));
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

TEST(Mount, ADriverDescriptorsBlockSizeEndsWithItsMedium) {
    // A medium whose driver descriptor says 1024 first, then media without one: each mount
    // starts again from 512-byte device blocks, so the next medium is neither refused for
    // writing nor probed in the first one's blocks.
    TempDir dir;
    test::writeFile(dir.file("k.img"), test::behindPartitionMap(basicVolume(), 96, 1024));
    std::filesystem::copy_file(test::fixturePath("basic.hfs"), dir.file("basic.hfs"));
    const struct {
        std::string image;
        int mountResult;
    } next[] = {{dir.file("basic.hfs"), 1}, {test::fixturePath("msdos.img"), -1}};
    for (const auto& n : next) {
        SCOPED_TRACE(n.image);
        MountedImage m(dir.file("k.img"));
        ASSERT_EQ(m.session.device.deviceBlockSize, 1024);
        auto& images = static_cast<ImageAdapter&>(*m.bus.adapters[0]);
        ASSERT_TRUE(images.addImage(n.image, ImageAccess::ReadWrite));
        m.ui.driveChoice = 1;
        ASSERT_EQ(SelectCdromDrive(m.session.device, m.table, m.ui), 1);
        const int r = mountVolume(m.session);
        EXPECT_EQ(r > 0 ? 1 : r < 0 ? -1 : 0, n.mountResult);
        EXPECT_EQ(m.session.device.deviceBlockSize, 512);
        EXPECT_TRUE(WriteGuardAllows(m.session));
        EXPECT_TRUE(m.ui.messageBoxes.empty()) << m.ui.messageBoxes.front();
    }
}

struct DamageCase {
    const char* what;
    const char* fixture;
    std::function<void(Bytes&)> damage;
    std::vector<std::string> lines;
    const char* message;  // expected in standard error
};

TEST(DamagedVolume, EndsWithAMessageAndStatusOne) {
    const DamageCase cases[] = {
        {"leaf chain loops back to the folder's first leaf", "many.hfs",
         [](Bytes& b) {
             HfsImage img(b);
             // A leaf whose records all belong to the folder leads back to the folder's first.
             std::vector<uint32_t> leaves;
             for (const auto& kid : img.children(img.lookup(":Big Folder").id))
                 if (leaves.empty() || leaves.back() != kid.node) leaves.push_back(kid.node);
             ASSERT_GE(leaves.size(), 3u);
             img.setForwardLink(Tree::Catalog, leaves[leaves.size() - 2], leaves.front());
         },
         {"CD \"Big Folder\"", "DIR"}, "leaf chain loops back to node"},
        {"record offset outside the node", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setRecordOffset(Tree::Catalog, HfsImage(b).lookup(":Docs").node, 1, 600); },
         {"DIR", "CD Docs", "DIR"}, "record 1 offset 600 outside the node"},
        {"record count larger than the node", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setRecordCount(Tree::Catalog, HfsImage(b).lookup(":Puzzle").node, 300); }, {"DIR"},
         "record count 300 exceeds what the node can hold"},
        {"index node pointing at itself", "many.hfs",
         [](Bytes& b) {
             HfsImage img(b);
             const uint32_t root = img.header32(Tree::Catalog, test::btheader::kRoot);
             for (const auto& rec : img.catalogRecords(root)) test::writeBe(b, rec.dataOffset, 4, root);
         },
         {"DIR"}, "index leads back to node"},
        {"catalog extent past the end of the volume", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setMdb16(test::mdb::kDrCTExtRec, 0xFF00); }, {"DIR"}, "lies past the end of the volume"},
        {"catalog without a first extent", "basic.hfs", [](Bytes& b) { HfsImage(b).setMdb16(test::mdb::kDrCTExtRec + 2, 0); },
         {"DIR"}, "Error reading data. Restart the program."},
        {"catalog larger than the volume", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setMdb32(test::mdb::kDrCTFlSize, 0xFFFFFE00u); }, {"DIR"}, "larger than the volume"},
        // A volume claimed far larger than its medium, whose catalog would fill a work file with
        // a gigabyte of the zeros read past the medium's end.
        {"catalog larger than the medium", "basic.hfs",
         [](Bytes& b) {
             HfsImage img(b);
             img.setMdb16(test::mdb::kDrNmAlBlks, 0xFFFF);
             img.setMdb32(test::mdb::kDrAlBlkSiz, 32768);
             img.setMdb32(test::mdb::kDrCTFlSize, 0x40000000u);
         },
         {"DIR"}, "catalog tree of 1073741824 bytes is larger than the medium"},
        {"root node past the end of the tree", "basic.hfs",
         [](Bytes& b) { HfsImage(b).setHeader32(Tree::Catalog, test::btheader::kRoot, 5000); }, {"DIR"},
         "root or first leaf lies past the end of the tree"},
        {"header node of another type", "basic.hfs",
         [](Bytes& b) { test::writeBe(b, HfsImage(b).nodeOffset(Tree::Catalog, 0) + test::node::kType, 1, test::node::kLeafNode); },
         {"DIR"}, "catalog node 0: not a header node"},
        {"allocation block size of zero", "basic.hfs", [](Bytes& b) { HfsImage(b).setMdb32(test::mdb::kDrAlBlkSiz, 0); },
         {"DIR"}, "allocation block size 0 is not a multiple of 512"},
        {"name longer than its key", "basic.hfs",
         [](Bytes& b) { test::writeBe(b, HfsImage(b).lookup(":Locked").offset + test::catkey::kNameLength, 1, 40); }, {"DIR"},
         "does not fit its key"},
        {"MDB signature gone", "basic.hfs", [](Bytes& b) { test::writeBe(b, 1024, 2, 0); }, {"DIR"},
         "This CD-ROM is not a Macintosh HFS volume."},
        {"partition map entry of the volume broken", "basic.hfs",
         [](Bytes& b) {
             b = test::behindPartitionMap(b, 96);
             test::writeBe(b, 2 * 512, 2, 0);
         },
         {"DIR"}, "This CD-ROM is not a Macintosh HFS volume."},
        {"extents tree header node of another type", "fragmented.hfs",
         [](Bytes& b) { test::writeBe(b, HfsImage(b).nodeOffset(Tree::Extents, 0) + test::node::kType, 1, test::node::kLeafNode); },
         {"CD Filler", "COPY F001", "CD ..", "COPY \"Scattered Data\""}, "This volume is damaged: extents node 0: not a header node"},
        {"overflow extent past the end of the volume", "fragmented.hfs",
         [](Bytes& b) {
             HfsImage img(b);
             const uint32_t leaf = img.header32(Tree::Extents, 24);  // first leaf
             const size_t at = img.nodeOffset(Tree::Extents, leaf);
             test::writeBe(b, at + test::readBe(b, at + 510, 2) + 8, 2, 0xFF00);  // first record's first extent
         },
         {"COPY \"Scattered Data\""}, "Error copying \"Scattered Data\" to \"Scattered Data.txt\": extent of 8 blocks at block 65280 lies past the end"},
        {"folder thread of another type", "basic.hfs",
         [](Bytes& b) {
             HfsImage img(b);
             const uint32_t docs = img.lookup(":Docs").id;
             for (const auto& r : img.catalogRecords(img.children(docs).front().node))
                 if (r.parentId == docs && r.name.empty()) test::writeBe(b, r.dataOffset, 1, 9);
         },
         {"CD Docs", "DIR"}, "unknown record type 9"},
        {"leaf node of another type inside a folder's chain", "many.hfs",
         [](Bytes& b) {
             HfsImage img(b);
             const auto kids = img.children(img.lookup(":Big Folder").id);
             test::writeBe(b, img.nodeOffset(Tree::Catalog, kids.back().node) + test::node::kType, 1, 0);
         },
         {"CD \"Big Folder\"", "DIR"}, "leaf chain reaches a node that is not a leaf"},
        {"unknown record type", "basic.hfs", [](Bytes& b) { test::writeBe(b, HfsImage(b).lookup(":Hidden").dataOffset, 1, 9); },
         {"DIR"}, "unknown record type 9"},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        std::vector<std::string> args = {test::bentFixture(dir, c.fixture, c.damage)};
        args.insert(args.end(), c.lines.begin(), c.lines.end());
        const test::ProcessResult r = test::runCli(args);
        ASSERT_TRUE(r.started);
        // Damage that ends the run and a fork's own damage, which fails its copy while the run
        // goes on, both end with status 1.
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << "stderr: " << r.err;
        EXPECT_EQ(r.err.rfind("Quarry - : ", 0), 0u) << r.err;
    }
}

}  // namespace
}  // namespace quarry
