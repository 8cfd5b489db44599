// Finding the volume on the medium (bare volumes, old-style and Apple partition maps, driver
// descriptors) and what a mount leaves behind; and damaged volumes, each of which ends with a
// clear message naming the place and exit status 1 from quarry-cli, never with a crash, a hang
// or a listing made of garbage.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "app/mount.h"
#include "commands/volume_changes.h"
#include "common/charset.h"
#include "common/messages.h"
#include "hfs/btree.h"
#include "hfs/fork.h"
#include "hfs/volume_check.h"
#include "app/file_list.h"
#include "app/navigation.h"
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

// The media the test builder wraps around a volume are also read by hfsutils, where it reads
// them, so that a builder fault cannot pass for a mount that finds the volume.
TEST(Mount, FindsTheVolumeBehindEveryKindOfMap) {
    MountedImage bare(test::fixturePath("basic.hfs"));
    const std::vector<std::string> expected = rootNames(bare);
    const uint16_t allocStart = bare.session.volume.mdb16(mdb::kAllocStart);
    EXPECT_EQ(bare.session.volume.mdbSector, 2u);
    EXPECT_EQ(bare.session.volume.firstBlockSector, allocStart);
    std::vector<std::string> docs;
    for (const auto& e : test::hlsList(test::fixturePath("basic.hfs"), ":Docs")) docs.push_back(e.name);

    struct Case {
        const char* what;
        Bytes medium;
        uint32_t partitionStart;
        uint16_t deviceBlockSize;
        int hfsutilsPartition;  // 0: hfsutils does not read this map
    };
    const Bytes volume = basicVolume();
    const uint32_t volumeSectors = static_cast<uint32_t>(volume.size() / 512);
    std::vector<Case> cases = {{"old-style map", test::Medium(64).oldStyleMap(64).place(64, volume).bytes(), 64, 512, 0},
                               {"1024-byte blocks and a partition map", test::behindPartitionMap(volume, 96, 1024), 96, 1024, 1}};
    {
        // The first entry after sector 1 whose type begins with "Apple_HFS" wins; only nine
        // bytes are compared, so a longer type matches too. hfsutils takes only "Apple_HFS"
        // itself: its first partition is the second volume, which lists alike.
        Bytes other = volume;
        HfsImage(other).setMdb16(test::mdb::kDrNmFls, 0);
        test::Medium m(200 + 2 * volumeSectors);
        m.driverDescriptor(512, 200 + 2 * volumeSectors)
            .partitionMap({{"Driver", "Apple_Driver43", 32, 32}, {"Free", "Apple_Free", 64, 36},
                           {"Mac", "Apple_HFS_Hybrid", 100, volumeSectors}, {"Second", "Apple_HFS", 100 + volumeSectors, volumeSectors}})
            .place(100, volume)
            .place(100 + volumeSectors, other);
        cases.push_back({"several partitions", m.bytes(), 100, 512, 1});
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
        if (c.hfsutilsPartition == 0) continue;
        EXPECT_EQ(test::hmountVolumeName(dir.file("medium.img"), c.hfsutilsPartition), "Test Vol");
        std::vector<std::string> theirs;
        for (const auto& e : test::hlsList(dir.file("medium.img"), ":Docs", c.hfsutilsPartition)) theirs.push_back(e.name);
        EXPECT_EQ(theirs, docs);
    }
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

// Where fragmented.hfs is cut in the tests of an image cut short: 2048 bytes into F087.
constexpr size_t kFragmentedCut = 411648;

struct DamageCase {
    const char* what;
    const char* fixture;
    std::function<void(Bytes&, HfsImage&)> damage;
    std::vector<std::string> lines;
    const char* message;  // expected in standard error; the run ends with status 1
    // What the damage leaves readable, as hfsutils paths: a folder (ending in ":") lists every
    // name hls lists on the undamaged volume, a file copies to hcopy's bytes of its data fork.
    std::vector<std::string> readable = {};
};

// Checks each readable path of the damaged image against hfsutils on the undamaged one: a
// folder's path (ending in ":") is listed with DIR, a file's copied with COPY, each after the CD
// lines that reach its folder from the root.
void expectReadable(const std::string& damaged, const std::string& sound, const std::vector<std::string>& readable) {
    for (const std::string& path : readable) {
        SCOPED_TRACE("still readable: " + path);
        const bool folder = path.back() == ':';
        std::vector<std::string> names;
        std::istringstream in(path.substr(1));
        for (std::string name; std::getline(in, name, ':');) names.push_back(name);
        TempDir target;
        std::vector<std::string> args = {"--to", target.path(), damaged, "CD \\"};
        for (size_t i = 0; i + (folder ? 0 : 1) < names.size(); ++i) args.push_back("CD \"" + macNameToUtf8(names[i]) + "\"");
        args.push_back(folder ? "DIR" : "COPY \"" + macNameToUtf8(names.back()) + "\"");
        const test::ProcessResult r = test::runCli(args);
        if (folder) {
            const std::vector<std::string> listed = test::firstFields(r.out);
            std::set<std::string> expected;
            for (const test::OracleEntry& e : test::hlsList(sound, path)) expected.insert(macNameToUtf8(e.name));
            EXPECT_FALSE(expected.empty());
            EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected) << r.err;
        } else {
            const std::set<std::string> copied = test::tree(target.path());
            ASSERT_EQ(copied.size(), 1u) << r.err;
            EXPECT_EQ(test::slurp(target.file(*copied.begin())), test::hcopyData(sound, path)) << r.err;
        }
    }
}

TEST(DamagedVolume, EndsWithAMessageAndStatusOne) {
    const DamageCase cases[] = {
        {"leaf chain loops back to the folder's first leaf", "many.hfs",
         [](Bytes&, HfsImage& img) {
             // A leaf whose records all belong to the folder leads back to the folder's first.
             std::vector<uint32_t> leaves;
             for (const auto& kid : img.children(img.lookup(":Big Folder").id))
                 if (leaves.empty() || leaves.back() != kid.node) leaves.push_back(kid.node);
             ASSERT_GE(leaves.size(), 3u);
             img.setForwardLink(Tree::Catalog, leaves[leaves.size() - 2], leaves.front());
         },
         {"CD \"Big Folder\"", "DIR"}, "leaf chain loops back to node",
         // Names are looked up through the index, which the broken link does not lead astray.
         {":", ":Thirty-Six:", ":Thirty-Seven:", ":Big Folder:Sub M:", ":Big Folder:Entry 120", ":Read Me"}},
        {"record offset outside the node", "basic.hfs",
         [](Bytes&, HfsImage& img) { img.setRecordOffset(Tree::Catalog, img.lookup(":Docs").node, 1, 600); },
         {"DIR", "CD Docs", "DIR"}, "record 1 offset 600 outside the node", {":Puzzle", ":Read Me", ":aardvark"}},
        {"record count larger than the node", "basic.hfs",
         [](Bytes&, HfsImage& img) { img.setRecordCount(Tree::Catalog, img.lookup(":Puzzle").node, 300); }, {"DIR"},
         "record count 300 exceeds what the node can hold",
         {":Docs:", ":Docs:Old Drafts:", ":aardvark", ":Big Forks", ":Hidden", ":Thirty-One Characters Long Name"}},
        {"index node pointing at itself", "many.hfs",
         [](Bytes& b, HfsImage& img) {
             const uint32_t root = img.header32(Tree::Catalog, test::btheader::kRoot);
             for (const auto& rec : img.catalogRecords(root)) test::writeBe(b, rec.dataOffset, 4, root);
         },
         {"DIR"}, "index leads back to node"},
        {"catalog extent past the end of the volume", "basic.hfs",
         [](Bytes&, HfsImage& img) { img.setMdb16(test::mdb::kDrCTExtRec, 0xFF00); }, {"DIR"}, "lies past the end of the volume"},
        {"catalog without a first extent", "basic.hfs", [](Bytes&, HfsImage& img) { img.setMdb16(test::mdb::kDrCTExtRec + 2, 0); },
         {"DIR"}, "Error reading data. Restart the program."},
        {"catalog larger than the volume", "basic.hfs",
         [](Bytes&, HfsImage& img) { img.setMdb32(test::mdb::kDrCTFlSize, 0xFFFFFE00u); }, {"DIR"}, "larger than the volume"},
        // A volume claimed far larger than its medium, whose catalog would fill a work file with
        // a gigabyte of the zeros read past the medium's end.
        {"catalog larger than the medium", "basic.hfs",
         [](Bytes&, HfsImage& img) {
             img.setMdb16(test::mdb::kDrNmAlBlks, 0xFFFF);
             img.setMdb32(test::mdb::kDrAlBlkSiz, 32768);
             img.setMdb32(test::mdb::kDrCTFlSize, 0x40000000u);
         },
         {"DIR"}, "catalog tree of 1073741824 bytes is larger than the medium"},
        {"root node past the end of the tree", "basic.hfs",
         [](Bytes&, HfsImage& img) { img.setHeader32(Tree::Catalog, test::btheader::kRoot, 5000); }, {"DIR"},
         "root or first leaf lies past the end of the tree"},
        {"header node of another type", "basic.hfs",
         [](Bytes& b, HfsImage& img) { test::writeBe(b, img.nodeOffset(Tree::Catalog, 0) + test::node::kType, 1, test::node::kLeafNode); },
         {"DIR"}, "catalog node 0: not a header node"},
        {"allocation block size of zero", "basic.hfs", [](Bytes&, HfsImage& img) { img.setMdb32(test::mdb::kDrAlBlkSiz, 0); },
         {"DIR"}, "allocation block size 0 is not a multiple of 512"},
        {"name longer than its key", "basic.hfs",
         [](Bytes& b, HfsImage& img) { test::writeBe(b, img.lookup(":Locked").offset + test::catkey::kNameLength, 1, 40); }, {"DIR"},
         "does not fit its key", {":Docs:", ":Puzzle", ":Read Me", ":aardvark"}},
        {"MDB signature gone", "basic.hfs", [](Bytes& b, HfsImage&) { test::writeBe(b, 1024, 2, 0); }, {"DIR"},
         "This CD-ROM is not a Macintosh HFS volume."},
        {"partition map entry of the volume broken", "basic.hfs",
         [](Bytes& b, HfsImage&) {
             b = test::behindPartitionMap(b, 96);
             test::writeBe(b, 2 * 512, 2, 0);
         },
         {"DIR"}, "This CD-ROM is not a Macintosh HFS volume."},
        {"extents tree header node of another type", "fragmented.hfs",
         [](Bytes& b, HfsImage& img) { test::writeBe(b, img.nodeOffset(Tree::Extents, 0) + test::node::kType, 1, test::node::kLeafNode); },
         {"CD Filler", "COPY F001", "CD ..", "COPY \"Scattered Data\""}, "This volume is damaged: extents node 0: not a header node",
         {":", ":Filler:", ":Filler:F001", ":Scattered Resource"}},
        {"overflow extent past the end of the volume", "fragmented.hfs",
         [](Bytes& b, HfsImage& img) {
             const uint32_t leaf = img.header32(Tree::Extents, 24);  // first leaf
             const size_t at = img.nodeOffset(Tree::Extents, leaf);
             test::writeBe(b, at + test::readBe(b, at + 510, 2) + 8, 2, 0xFF00);  // first record's first extent
         },
         // A record that sends a fork off the volume is damage of the extents tree.
         {"COPY \"Scattered Data\""},
         "This volume is damaged: extents node 1: record 0: extent of 8 blocks at block 65280 lies past the end of the volume",
         {":", ":Filler:", ":Filler:F001", ":Scattered Resource"}},
        {"folder thread of another type", "basic.hfs",
         [](Bytes& b, HfsImage& img) {
             const uint32_t docs = img.lookup(":Docs").id;
             for (const auto& r : img.catalogRecords(img.children(docs).front().node))
                 if (r.parentId == docs && r.name.empty()) test::writeBe(b, r.dataOffset, 1, 9);
         },
         {"CD Docs", "DIR"}, "unknown record type 9", {":Puzzle", ":Read Me", ":aardvark"}},
        {"leaf node of another type inside a folder's chain", "many.hfs",
         [](Bytes& b, HfsImage& img) {
             const auto kids = img.children(img.lookup(":Big Folder").id);
             test::writeBe(b, img.nodeOffset(Tree::Catalog, kids.back().node) + test::node::kType, 1, 0);
         },
         {"CD \"Big Folder\"", "DIR"}, "leaf chain reaches a node that is not a leaf",
         {":", ":Thirty-Seven:", ":Big Folder:Entry 060", ":Read Me"}},
        {"unknown record type", "basic.hfs", [](Bytes& b, HfsImage& img) { test::writeBe(b, img.lookup(":Hidden").dataOffset, 1, 9); },
         {"DIR"}, "unknown record type 9", {":Docs:", ":Docs:Old Drafts:", ":Puzzle", ":Read Me", ":aardvark"}},
        // The 800 KB volume cut 2 KB into F087 (AnImageCutShortFailsTheForksThatReachPastItsEnd);
        // its allocation blocks end 1 KB before the file did, ahead of the alternate MDB.
        {"image cut short", "fragmented.hfs", [](Bytes& b, HfsImage&) { b.resize(kFragmentedCut); }, {"CD Filler", "COPY F087"},
         "The image ends at byte 411648, before the end of its volume at byte 818176: what lies beyond cannot be read.",
         {":", ":Filler:", ":Filler:F085", ":Scattered Resource"}},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir, target;
        const std::string image = test::bentFixture(dir, c.fixture, [&](Bytes& b) {
            HfsImage img(b);
            c.damage(b, img);
        });
        // The lines run twice: each place of damage is said once, and the second round still
        // gets what the first got.
        std::vector<std::string> args = {"--to", target.path(), image};
        for (int round = 0; round < 2; ++round) args.insert(args.end(), c.lines.begin(), c.lines.end());
        const test::ProcessResult r = test::runCli(args);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        const size_t at = r.err.find(c.message);
        ASSERT_NE(at, std::string::npos) << "stderr: " << r.err;
        const size_t lineStart = r.err.rfind('\n', at) == std::string::npos ? 0 : r.err.rfind('\n', at) + 1;
        const std::string line = r.err.substr(lineStart, r.err.find('\n', at) - lineStart + 1);
        if (line.find(messageText(Msg::VolumeDamaged)) != std::string::npos || line.find("The image ends") != std::string::npos) {
            EXPECT_EQ(r.err.find(line, lineStart + 1), std::string::npos) << "said twice: " << r.err;
        }
        EXPECT_EQ(r.err.rfind("Quarry - : ", 0), 0u) << r.err;

        // Opened for writing, with every question answered yes, the damaged volume still keeps
        // every byte: a change after the damage is refused.
        const std::string before = test::slurp(image);
        std::vector<std::string> change = {"--write", "--yes", "--to", target.path(), image};
        change.insert(change.end(), c.lines.begin(), c.lines.end());
        change.push_back("MD Fresh");
        const test::ProcessResult w = test::runCli(change);
        EXPECT_EQ(w.exitCode, 1) << w.err;
        EXPECT_TRUE(test::slurp(image) == before) << "the damaged image was changed: " << w.err;

        expectReadable(image, test::fixturePath(c.fixture), c.readable);
    }
}

// A sector past the end of an image cannot be read: a fork that reaches there is not copied
// (nothing of it stays, and the first such sector is named), or with --keep-going is copied with zeros there and each such sector
// named; what lies wholly before the end copies as hcopy reads the complete image. The check
// calls the volume damaged.
TEST(DamagedVolume, AnImageCutShortFailsTheForksThatReachPastItsEnd) {
    const std::string sound = test::fixturePath("fragmented.hfs");
    // A cut at a 2048-byte block, and one a sector further, whose last block's tail the image
    // serves as zeros: the fork's sectors there are no more readable than those past it.
    for (const size_t cut : {kFragmentedCut, kFragmentedCut + test::kSectorSize}) {
        SCOPED_TRACE("cut at byte " + std::to_string(cut));
        TempDir dir;
        std::map<std::string, std::vector<uint32_t>> sectors;  // of each copied data fork, in order
        const std::string image = test::bentFixture(dir, "fragmented.hfs", [&](Bytes& b) {
            const HfsImage img(b);
            for (const char* name : {"F081", "F083", "F085", "F087", "F089"})
                sectors[name] = img.forkSectors(img.lookup(std::string(":Filler:") + name), test::Fork::Data);
            b.resize(cut);
        });
        ASSERT_EQ(sectors["F087"].front() * test::kSectorSize + 2048, kFragmentedCut) << "the cut is no longer inside F087";
        const uint32_t cutSector = static_cast<uint32_t>(cut / test::kSectorSize);

        for (const bool keepGoing : {false, true}) {
            SCOPED_TRACE(keepGoing ? "--keep-going" : "stopping at the first unreadable sector");
            TempDir target;
            std::vector<std::string> args = {"--to", target.path(), image, "CD Filler", "COPY F08*"};
            if (keepGoing) args.insert(args.begin(), "--keep-going");
            const test::ProcessResult r = test::runCli(args);
            EXPECT_EQ(r.exitCode, 1) << r.err;
            std::set<std::string> expectedFiles;
            size_t named = 0;
            for (const auto& [name, forkSectors] : sectors) {
                std::string bytes = test::hcopyData(sound, ":Filler:" + name);
                const bool past = forkSectors.back() >= cutSector;
                for (size_t i = 0; i < forkSectors.size(); ++i) {
                    if (forkSectors[i] < cutSector) continue;
                    std::fill_n(bytes.begin() + static_cast<long>(i * test::kSectorSize), test::kSectorSize, '\0');
                    const std::string line =
                        "Unreadable sector written as zeros: sector " + std::to_string(forkSectors[i]) + " of \"" + name + "\"";
                    EXPECT_EQ(r.err.find(line) != std::string::npos, keepGoing) << line << "\n" << r.err;
                    ++named;
                }
                if (past && !keepGoing) {
                    // The copy stops at the first sector that cannot be read, and names it.
                    const uint32_t first = *std::lower_bound(forkSectors.begin(), forkSectors.end(), cutSector);
                    EXPECT_NE(r.err.find(name + ".txt\": read error at sector " + std::to_string(first) + " "), std::string::npos)
                        << r.err;
                    continue;
                }
                expectedFiles.insert(name + ".txt");
                EXPECT_TRUE(test::slurp(target.file(name + ".txt")) == bytes) << name;
            }
            EXPECT_EQ(test::tree(target.path()), expectedFiles);
            EXPECT_EQ(named, 4u + 8u - (cut - kFragmentedCut) / test::kSectorSize);
        }

        const test::ProcessResult check = test::runCli({"--check", image});
        EXPECT_EQ(check.exitCode, 1);
        EXPECT_NE(check.out.find("The image ends at byte " + std::to_string(cut)), std::string::npos) << check.out;
    }
}

// Damage met is kept from the mount on, whatever searches run after it, while what the volume
// check meets (it reads every node) is its own report; an extents tree that did not load is
// not kept half-loaded but loaded, and refused, again at the next need.
TEST(DamagedVolume, DamageMetIsKeptUntilTheNextMount) {
    TempDir dir;
    MountedImage m(test::bentFixture(dir, "fragmented.hfs", [](Bytes& b) {
        HfsImage img(b);
        test::writeBe(b, img.nodeOffset(Tree::Extents, 0) + test::node::kType, 1, test::node::kLeafNode);
        test::writeBe(b, img.lookup(":Filler:F185").dataOffset, 1, 9);
    }));
    VolumeState& volume = m.session.volume;
    ASSERT_TRUE(TakeDamageReports(m.session).empty());
    (void)checkVolume(m.session.volumeContext());
    EXPECT_EQ(firstVolumeDamage(volume), "");
    EXPECT_TRUE(TakeDamageReports(m.session).empty());

    const VolumeContext context = m.session.volumeContext();
    for (int need = 0; need < 2; ++need) {
        EXPECT_FALSE(findExtentRecord(context, 16, 4, kDataFork));
        EXPECT_EQ(volume.extents.fault, "extents node 0: not a header node");
        EXPECT_FALSE(volume.extents.hasWorkFile());
    }
    ASSERT_TRUE(enterDirectory(m.session, "Filler"));
    BuildFileList(m.session, nullptr);
    EXPECT_NE(volume.catalog.fault, "");
    // A search that works afterwards clears its own fault, not the damage met.
    ASSERT_TRUE(findCatalogRecord(volume, "F001", want::kFile, m.session.dir.currentDirID));
    EXPECT_EQ(volume.catalog.fault, "");
    EXPECT_EQ(volume.extents.firstDamage(), "extents node 0: not a header node");
    const std::vector<std::string> said = TakeDamageReports(m.session);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_NE(said[0].find("unknown record type 9"), std::string::npos) << said[0];
    EXPECT_EQ(said[1], "This volume is damaged: extents node 0: not a header node");
    (void)checkVolume(m.session.volumeContext());
    EXPECT_TRUE(TakeDamageReports(m.session).empty());
    EXPECT_NE(firstVolumeDamage(volume), "");
    ASSERT_EQ(mountVolume(m.session), 1);
    EXPECT_EQ(firstVolumeDamage(volume), "");
}

// A damaged leaf in the middle of the root's chain (the one of "Empty File"): a whole listing,
// and the --json report, stop there, with what came before it, but names and patterns are
// looked up through the index and reach the entries after it.
TEST(DamagedVolume, NamesAndPatternsReachPastADamagedLeaf) {
    test::TempDir dir;
    const std::string sound = test::fixturePath("basic.hfs");
    const std::string image =
        test::bentFixture(dir, "basic.hfs", [](Bytes& b) { test::writeBe(b, HfsImage(b).lookup(":Empty File").dataOffset, 1, 9); });
    const struct {
        const char* line;
        const char* copies;  // the file the line copies; none for a listing
        const char* lists;   // the names a listing prints, one a line
    } cases[] = {
        {"COPY Pu*", ":Puzzle", nullptr},
        {"COPY lo*", ":Locked", nullptr},
        {"DIR R*", nullptr, "Read Me\nResource Only\n"},
        {"DIR", nullptr, "aardvark\n\xc3\x84pfel\nBig Forks\nCaf\xc3\xa9 Menu\nDocs\nEither/Or\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TempDir target;
        const test::ProcessResult r = test::runCli({"--to", target.path(), image, c.line});
        // The mount's own listing of the root meets the damage first.
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "Quarry - : This volume is damaged: catalog node 8: record 0: unknown record type 9\n");
        if (c.copies) {
            const std::set<std::string> copied = test::tree(target.path());
            ASSERT_EQ(copied.size(), 1u) << r.err;
            EXPECT_EQ(test::slurp(target.file(*copied.begin())), test::hcopyData(sound, c.copies));
        } else {
            std::string names;
            for (const std::string& name : test::firstFields(r.out)) names += name + "\n";
            EXPECT_EQ(names, c.lists);
        }
    }
    // The report of the whole volume lists what it read before the damage, and says it.
    const test::ProcessResult json = test::runCli({"--json", image});
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_EQ(json.err, "Quarry - : This volume is damaged: catalog node 8: record 0: unknown record type 9\n");
    EXPECT_EQ(json.out.rfind("{\"path\":[\"aardvark\"],", 0), 0u) << json.out;
}

}  // namespace
}  // namespace quarry
