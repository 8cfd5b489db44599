// The changing commands against hfsutils: what quarry-cli changes, hfsutils reads, and can go on
// changing; what Quarry refuses or fails to write leaves the medium byte for byte as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "commands/volume_changes.h"
#include "hfs/btree.h"
#include "hfs/volume_check.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

bool checkedSound(const std::string& image) {
    const ProcessResult r = runCli({"--check", image});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    return r.exitCode == 0;
}

// Whether a line of hlsTree is the entry at `path` or one inside it.
bool within(const std::string& line, const std::string& path) {
    return line.compare(0, path.size(), path) == 0 && (line[path.size()] == ':' || line[path.size()] == '\t');
}

// The tree with every path that begins with `from` (a whole name) beginning with `to` instead.
std::vector<std::string> renamed(std::vector<std::string> tree, const std::string& from, const std::string& to) {
    for (std::string& line : tree)
        if (within(line, from)) line = to + line.substr(from.size());
    std::sort(tree.begin(), tree.end());
    return tree;
}

std::vector<std::string> without(std::vector<std::string> tree, const std::string& path) {
    tree.erase(std::remove_if(tree.begin(), tree.end(), [&](const std::string& l) { return within(l, path); }), tree.end());
    return tree;
}

std::vector<std::string> with(std::vector<std::string> tree, const std::string& line) {
    tree.push_back(line);
    std::sort(tree.begin(), tree.end());
    return tree;
}

// A folder's line carries its valence, which changes with its entries.
std::vector<std::string> valence(std::vector<std::string> tree, const std::string& folder, int count) {
    for (std::string& line : tree)
        if (line.compare(0, folder.size() + 3, folder + "\td ") == 0) line = folder + "\td " + std::to_string(count);
    return tree;
}

size_t countLines(const std::vector<std::string>& tree, const std::string& prefix) {
    return static_cast<size_t>(std::count_if(tree.begin(), tree.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

TEST(VolumeChanges, WhatQuarryCliChangesHfsutilsReadsAndGoesOnChanging) {
    TempDir dir;
    const std::string image = writableCopy(dir, "basic.hfs");
    const std::vector<std::string> before = hlsTree(image);
    ASSERT_FALSE(before.empty());

    const ProcessResult r =
        runCli({"--write", "--yes", "--log", dir.file("changes.log"), image, "MD \"NEW THINGS\"", "CD Docs", "DEL Manual",
                "CD ..", "RD \"Empty Folder\"", "REN Puzzle Jigsaw", "REN Docs Papers", "SWAP \"Big Forks\"", "CD Papers",
                "RD \"Old Drafts\"", "CD \\", "REN T* Tr*", "REN Locked Locked", "REN \"Old Timer\" \"Tr\u00e8s   \"", "REN Hidden H:x"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "Quarry - : The directory is not empty. [OK]\n");

    // Every change as hfsutils sees it, and nothing else changed.
    std::vector<std::string> expected = with(before, ":New things\td 0");
    expected = without(without(without(expected, ":Docs:Manual"), ":Empty Folder"), ":Docs:Old Drafts");
    expected = valence(expected, ":Docs", 1);
    expected = renamed(renamed(expected, ":Puzzle", ":Jigsaw"), ":Docs", ":Papers");
    expected = renamed(expected, ":Thirty-One Characters Long Name", ":Trhirty-One Characters Long Nam");
    expected = renamed(expected, ":Trailing Space ", ":Trrailing Space ");
    // A new name loses its trailing blanks and what follows a colon; è is 0x8F on the Macintosh.
    expected = renamed(renamed(expected, ":Old Timer", ":Tr\x8Fs"), ":Hidden", ":H");
    std::replace(expected.begin(), expected.end(), std::string(":Big Forks\tf 5000 1500"), std::string(":Big Forks\tf 1500 5000"));
    const std::vector<std::string> after = hlsTree(image);
    EXPECT_EQ(after, expected);
    EXPECT_EQ(hcopyData(image, ":Big Forks"), hcopyResource(fixturePath("basic.hfs"), ":Big Forks"));
    EXPECT_EQ(hcopyData(image, ":Jigsaw"), hcopyData(fixturePath("basic.hfs"), ":Puzzle"));
    EXPECT_EQ(hcopyData(image, ":Papers:Read Me"), hcopyData(fixturePath("basic.hfs"), ":Docs:Read Me"));

    // One log line per change, in the order made; a folder's contents before the folder.
    const std::string log = slurp(dir.file("changes.log"));
    size_t at = 0;
    for (const char* entry : {"*md New things\r\n", "*cd Docs\r\n", "*del Manual\r\n", "*rd Empty Folder\r\n",
                              "*ren Puzzle\tJigsaw\r\n", "*ren Docs\tPapers\r\n", "*rd Old Drafts\r\n", "*cd Old Drafts\r\n",
                              "*del Draft 1\r\n", "*ren Thirty-One Characters Long Name\tTrhirty-One Characters Long Nam\r\n"}) {
        const size_t found = log.find(entry, at);
        EXPECT_NE(found, std::string::npos) << entry << " not in order in:\n" << log;
        at = found == std::string::npos ? at : found;
    }
    EXPECT_EQ(log.find("*ren Locked"), std::string::npos) << "a rename to the same name is no change";

    // The alternate MDB in the volume's second-to-last sector is written with the MDB.
    const std::string bytes = slurp(image);
    EXPECT_TRUE(bytes.substr(bytes.size() - 1024, 512) == bytes.substr(1024, 512));

    // The renamed folder's thread names it: hfsutils builds the path of a folder from threads.
    ASSERT_TRUE(checkedSound(image));
    ASSERT_TRUE(hfsutilsChange(image, {{"hmkdir", ":From hfsutils"},
                                       {"hcopy", "-r", dir.file("changes.log"), ":From hfsutils:log"},
                                       {"hdel", ":Jigsaw"},
                                       {"hrmdir", ":New things"},
                                       {"hcd", ":Papers"},
                                       {"hmkdir", "Inside"}}));
    expected = with(with(with(without(without(after, ":Jigsaw"), ":New things"), ":From hfsutils\td 1"),
                         ":From hfsutils:log\tf " + std::to_string(log.size()) + " 0"),
                    ":Papers:Inside\td 0");
    EXPECT_EQ(hlsTree(image), valence(expected, ":Papers", 2));
    EXPECT_TRUE(checkedSound(image));

    // And Quarry again, after hfsutils.
    EXPECT_EQ(runCli({"--write", "--yes", image, "RD \"From hfsutils\"", "CD Papers", "MD Later"}).exitCode, 0);
    EXPECT_EQ(hlsTree(image), valence(with(without(valence(expected, ":Papers", 2), ":From hfsutils"), ":Papers:Later\td 0"), ":Papers", 3));
    EXPECT_TRUE(checkedSound(image));
}

// Folders whose threads another tool ended after their names take longer names: the threads are
// written whole again, and hfsutils, which builds paths from threads, finds them under the new ones.
TEST(VolumeChanges, FoldersWithShortThreadsTakeLongerNames) {
    TempDir dir;
    const std::string image = writableCopy(dir, "short-threads.hfs");
    const std::vector<std::string> before = hlsTree(image);
    const ProcessResult r = runCli({"--write", image, "CD Docs", "REN \"Old Drafts\" \"Drafts kept for later\"", "CD \\",
                                    "REN Docs \"All the documents\""});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(hlsTree(image), renamed(renamed(before, ":Docs:Old Drafts", ":Docs:Drafts kept for later"), ":Docs", ":All the documents"));
    EXPECT_TRUE(checkedSound(image));
}

// What Quarry refuses leaves the image byte for byte as it was, and says why: read-only and
// locked media, names taken, a folder not empty, and damage the change would spread. A file whose
// record claims blocks it cannot hold is not deleted: freeing them would give other files' or the
// catalog's blocks to the next change. A catalog damaged where no search of the change goes (its
// last leaf, past the root folder's records), or whose next catalog ID is taken, is not changed:
// the change would lay records out from offsets past their node, put them where no search finds
// them, or give the new folder another item's ID.
TEST(VolumeChanges, RefusalsLeaveTheImageAsItWas) {
    using Bend = std::function<void(Bytes&)>;
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> lines;
        std::string says;  // standard error after the title; for damage, a part of it
        Bend bend = nullptr;
        const char* fixture = "basic.hfs";  // another fixture volume, as its tool made it
    };
    const std::vector<std::string> write = {"--write", "--yes"};
    // drAtrb, 10 bytes into the MDB: locked by the person (bit 15) or by the medium (bit 7).
    auto locked = [](uint16_t bit) -> Bend { return [bit](Bytes& b) { writeBe(b, 1024 + 10, 2, readBe(b, 1024 + 10, 2) | bit); }; };
    auto puzzle = [&](const char* says, std::function<void(HfsImage&, const CatalogRecord&)> bend) {
        return Case{write, {"DEL Puzzle"}, says, [bend](Bytes& b) {
                        HfsImage v(b);
                        bend(v, v.lookup(":Puzzle"));
                    }};
    };
    // The damage lies in the last leaf, past the records of the root folder, which MD searches.
    auto lastLeaf = [&](const char* says, std::function<void(HfsImage&, Bytes&, uint32_t)> bend) {
        return Case{write, {"MD A"}, says, [bend](Bytes& b) {
                        HfsImage v(b);
                        const uint32_t n = v.header32(Tree::Catalog, header::kLastLeaf);
                        for (const CatalogRecord& r : v.catalogRecords(n)) ASSERT_GT(r.parentId, 2u);
                        bend(v, b, n);
                    }, "many.hfs"};
    };
    // Record `i` of node n, as an offset within the node.
    auto offsetIn = [](HfsImage& v, uint32_t n, uint16_t i) {
        return static_cast<uint16_t>(v.catalogRecords(n).at(i).offset - v.nodeOffset(Tree::Catalog, n));
    };
    const std::string isLocked = "The volume is locked; it is not changed.\n";
    const Case cases[] = {
        {{}, {"MD Fresh"}, "Write-protected media. [Cancel]\nQuarry - : MD Fresh: not carried out\n"},
        {{"--yes"}, {"MD Fresh"}, "Write-protected media. [OK]\nQuarry - : The volume could not be written: the medium is write-protected\n"},
        {{"--write"}, {"MD docs"}, "A directory exists already with this name.\n"},
        {{"--write"}, {"MD \"read me\""}, "A directory exists already with this name.\n"},
        {{"--write"}, {"REN Puzzle \"READ ME\""}, "An entry exists already with this name.\n"},
        {{"--write"}, {"RD Docs"}, "The directory is not empty. [Cancel]\nQuarry - : RD Docs: not carried out\n"},
        {{"--write"}, {"RD Puzzle"}, "RD Puzzle: not carried out\n"},
        {{"--write"}, {"DEL Nothing*"}, ""},
        {{"--write"}, {"SWAP Nothing"}, "SWAP Nothing: not carried out\n"},
        // A fork with extents beyond its catalog record is not swapped.
        {{"--write"}, {"SWAP \"Scattered Data\""}, "SWAP \"Scattered Data\": not carried out\n", nullptr, "fragmented.hfs"},
        // Locked media are refused before anything is asked; genisoimage sets both bits.
        {write, {"MD Fresh"}, isLocked, locked(0x8000)},
        {write, {"DEL Puzzle"}, isLocked, locked(0x0080)},
        {write, {"MD Fresh"}, isLocked, nullptr, "hybrid.iso"},
        // Media of 1024-byte sectors (a driver descriptor says so) are refused before anything else.
        {write, {"MD Fresh"}, "Write functions are not yet validated for media with 1024 bytes/sector.\n",
         [](Bytes& b) { b = behindPartitionMap(b, 96, 1024); }},
        // The catalog's second extent in the MDB (drCTExtRec at 150), which the mount does not
        // read while the first holds the whole catalog: a run past the last block, blocks of the
        // extents tree. A commit would write nodes there.
        {write, {"MD Fresh"}, "catalog: its blocks 0-65279 run past the volume's 2874 blocks",
         [](Bytes& b) { writeBe(b, 1024 + 154, 4, 65280); }},
        {write, {"MD Fresh"}, "catalog: its blocks 0-4 are also the extents tree's", [](Bytes& b) { writeBe(b, 1024 + 154, 4, 5); }},
        // A bitmap (drVBMSt) that runs into the allocation blocks, which its next write would overwrite.
        {write, {"MD Fresh"}, "MDB: the allocation blocks start at sector 4, inside the bitmap (sectors 4-4)",
         [](Bytes& b) { writeBe(b, 1024 + 14, 2, 4); }},
        // A run past the last block, the catalog's first block (drCTExtRec), more blocks than
        // the physical length.
        puzzle("file 17: its resource fork's blocks 48-30047 run past the volume's 2874 blocks",
               [](HfsImage& v, const CatalogRecord& f) { v.setRecordData16(f, catfile::kRsrcExtents + 2, 30000); }),
        puzzle("file 17: its resource fork's blocks 22-24 belong to a B-tree", [](HfsImage& v, const CatalogRecord& f) {
            v.setRecordData16(f, catfile::kRsrcExtents, static_cast<uint16_t>(v.mdb32(150) >> 16));
        }),
        puzzle("file 17: its data fork's extents hold 1536 bytes, its physical length is 0",
               [](HfsImage& v, const CatalogRecord& f) { v.setRecordData32(f, catfile::kDataPhysicalLength, 0); }),
        // Blocks of another file (cross-linked): freeing them would hand out what "Read Me" holds.
        puzzle("file 17: its data fork's block 44 belongs to another file or a tree too", [](HfsImage& v, const CatalogRecord& f) {
            v.setRecordData16(f, catfile::kDataExtents, v.forkExtents(v.lookup(":Read Me"), Fork::Data).at(0).startBlock);
        }),
        // A block of the file that the bitmap has free (drVBMSt): deleting another file after
        // it is refused too, as the volume is known to be damaged now.
        {write, {"DEL Puzzle", "DEL \"Read Me\""}, "file 17: its data fork's block 45 is free in the bitmap; it is not changed.",
         [](Bytes& b) {
             HfsImage v(b);
             const uint32_t block = v.forkExtents(v.lookup(":Puzzle"), Fork::Data).at(0).startBlock;
             b.at(readBe(b, 1024 + 14, 2) * 512 + block / 8) &= static_cast<uint8_t>(~(0x80 >> (block % 8)));
         }},
        // A record offset past the next, a record of no bytes, a lost back link, a header whose
        // last leaf is the first, index records whose children are swapped, a next catalog ID
        // (drNxtCNID) that a file has.
        lastLeaf("record 2 offset", [&](HfsImage& v, Bytes&, uint32_t n) { v.setRecordOffset(Tree::Catalog, n, 1, offsetIn(v, n, 2) + 2); }),
        lastLeaf("record 2 offset", [&](HfsImage& v, Bytes&, uint32_t n) { v.setRecordOffset(Tree::Catalog, n, 1, offsetIn(v, n, 2)); }),
        lastLeaf("leaf 52 is not linked to the leaves beside it",
                 [](HfsImage& v, Bytes& b, uint32_t n) { writeBe(b, v.nodeOffset(Tree::Catalog, n) + quarry::node::kBLink, 4, 0); }),
        lastLeaf("the header's first and last leaves are not the ends of the leaf chain", [](HfsImage& v, Bytes&, uint32_t) {
            v.setHeader32(Tree::Catalog, header::kLastLeaf, v.header32(Tree::Catalog, header::kFirstLeaf));
        }),
        lastLeaf("belongs to a later node", [](HfsImage& v, Bytes& b, uint32_t) {
            const std::vector<CatalogRecord> index = v.catalogRecords(v.header32(Tree::Catalog, btheader::kRoot));
            ASSERT_GE(index.size(), 3u);
            writeBe(b, index[1].dataOffset, 4, index[2].child);
            writeBe(b, index[2].dataOffset, 4, index[1].child);
        }),
        lastLeaf("the next catalog ID", [](HfsImage& v, Bytes&, uint32_t) { v.setMdb32(30, v.lookup(":Read Me").id); }),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines[0] + " on " + c.fixture + ": " + c.says);
        TempDir dir;
        const std::string image = c.bend ? bentFixture(dir, c.fixture, c.bend) : writableCopy(dir, c.fixture);
        const std::string before = slurp(image);
        std::vector<std::string> args = c.options;
        args.push_back(image);
        args.insert(args.end(), c.lines.begin(), c.lines.end());
        const ProcessResult r = runCli(args);
        if (c.says.ends_with('\n') || c.says.empty()) {
            EXPECT_EQ(r.err, (c.says.empty() ? "" : "Quarry - : ") + c.says);
        } else {
            EXPECT_EQ(r.err.rfind("Quarry - : This volume is damaged: ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        }
        EXPECT_EQ(r.exitCode, c.says.empty() ? 0 : 1);
        EXPECT_TRUE(slurp(image) == before) << "the image changed";
    }
    // The volume the damage rows bend is changed when sound.
    TempDir dir;
    const std::string sound = writableCopy(dir, "many.hfs");
    EXPECT_EQ(runCli({"--write", "--yes", sound, "MD A"}).exitCode, 0);
    EXPECT_TRUE(checkedSound(sound));
    EXPECT_EQ(countLines(hlsTree(sound), ":A"), 1u);
}

// A word that is no command fails the run wherever it stands; a change carried out does not,
// whatever an earlier line said.
TEST(VolumeChanges, TheExitStatusDoesNotHangOnTheOrderOfTheLines) {
    const std::vector<std::string> made = with(hlsTree(fixturePath("basic.hfs")), ":Y\td 0");
    const std::pair<std::vector<std::string>, int> runs[] = {
        {{"FOO", "MD Y"}, 1}, {{"MD Y", "FOO"}, 1}, {{"FOO", "MD Y", "QUIT"}, 1},
        {{"CD Nowhere", "CD \\", "MD Y"}, 0}, {{"HELP", "MD Y"}, 0}, {{"MD Y", "HELP"}, 0},
    };
    for (const auto& [lines, status] : runs) {
        TempDir dir;
        std::vector<std::string> args = {"--write", "--yes", writableCopy(dir, "basic.hfs")};
        args.insert(args.end(), lines.begin(), lines.end());
        EXPECT_EQ(runCli(args).exitCode, status) << lines[0] << " " << lines[1];
        EXPECT_EQ(hlsTree(args[2]), made) << lines[0] << " " << lines[1];
    }
}

// A medium that refuses the third write of a commit: everything written before it is put back.
TEST(VolumeChanges, AFailedWriteLeavesTheMediumAsItWasAndSaysSo) {
    const std::string original = slurp(fixturePath("basic.hfs"));
    MountedImage m("basic.hfs", std::vector<uint8_t>(original.begin(), original.end()));
    ASSERT_EQ(m.mountResult, 1);
    Session& session = m.session;
    RecordingUi& ui = m.ui;
    auto medium = [&] { return std::string(m.drive().target(2).medium.begin(), m.drive().target(2).medium.end()); };
    auto makeTwo = [&] {
        return ApplyVolumeChange(session, [&]() -> Status {
            if (Status s = MakeDirectory(session, "First"); !s) return s;
            return MakeDirectory(session, "Second");
        });
    };
    m.drive().failWrite(3, aspi::kError);
    EXPECT_FALSE(makeTwo());
    EXPECT_TRUE(medium() == original);
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].rfind("The volume could not be written: write error at sector ", 0), 0u) << ui.messageBoxes[0];
    // The volume was read again from the medium: the list shows what the medium holds.
    const FileList& list = session.settings.list;
    EXPECT_FALSE(std::any_of(list.entries.begin(), list.entries.begin() + list.entryCount,
                             [](const ListEntry& e) { return e.name() == "First"; }));

    // The same change, written whole, is what hfsutils reads.
    ASSERT_TRUE(makeTwo());
    TempDir dir;
    const std::string written = dir.file("written.hfs");
    std::ofstream(written, std::ios::binary) << medium();
    const std::vector<std::string> tree = hlsTree(written);
    EXPECT_EQ(std::count(tree.begin(), tree.end(), ":First\td 0") + std::count(tree.begin(), tree.end(), ":Second\td 0"), 2);
    EXPECT_TRUE(checkedSound(written));
}

// Forks that go on in the extents tree, free space in short runs, a catalog that must grow into
// them: what Quarry frees, allocates and records there, hfsutils finds.
TEST(VolumeChanges, FragmentedVolumesAndACatalogGrowingPastItsThreeExtents) {
    TempDir dir;
    const std::string image = writableCopy(dir, "fragmented.hfs");
    // Deleting both files frees every block of both forks, those of the extents tree included.
    const uint64_t freeBefore = hmountFreeBytes(image);
    ProcessResult r = runCli({"--write", image, "DEL Scattered*"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(hmountFreeBytes(image), freeBefore + 40960 + 512 + 24576);
    ASSERT_TRUE(checkedSound(image));

    // 300 new folders: the catalog grows in the short free runs, past the MDB's three extents.
    std::string lines;
    for (int i = 0; i < 300; ++i) lines += "MD \"Folder " + std::to_string(1000 + i) + " with a long name\"\n";
    r = runCliWithInput({"--write", image}, lines);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(readBe(readFile(image), 1024 + mdb::kDrCTExtRec + 10, 2), 0u) << "the catalog still fits its first two extents";
    {
        MountedImage mounted(image);
        ASSERT_TRUE(copyExtentsTree(mounted.session.volumeContext()));
        EXPECT_GE(loadBE32(mounted.session.volume.extents.header.data() + header::kLeafRecords), 1u)
            << "the catalog's further extents are not in the extents tree";
    }
    EXPECT_TRUE(checkedSound(image));
    std::vector<std::string> tree = hlsTree(image);
    EXPECT_EQ(countLines(tree, ":Folder 1"), 300u);

    // hfsutils goes on: it grows the catalog the same way and fills the freed space.
    const std::string data = dir.file("data");
    std::ofstream(data, std::ios::binary) << std::string(60000, 'q');
    ASSERT_TRUE(hfsutilsChange(image, {{"hmkdir", ":After"}, {"hcopy", "-r", data, ":After:data"}, {"hrmdir", ":Folder 1000 with a long name"}}));
    tree = hlsTree(image);
    EXPECT_EQ(countLines(tree, ":Folder 1"), 299u);
    EXPECT_EQ(hcopyData(image, ":After:data"), std::string(60000, 'q'));
    EXPECT_TRUE(checkedSound(image));

    // Folders until the volume is full: the extents tree's leaf fills and splits on the way, and
    // the change that finds no block left is refused whole. (The catalog keeps room for a copy
    // of itself, where each commit writes its new version: the volume is full for it sooner than
    // for hfsutils.)
    size_t made = 0;
    {
        MountedImage mounted(image, MountExpected::Yes, ImageAccess::ReadWrite);
        ASSERT_EQ(mounted.mountResult, 1);
        while (made < 5000 && ApplyVolumeChange(mounted.session, [&] {
                   return MakeDirectory(mounted.session, "More " + std::to_string(made) + " with a long name too");
               }))
            ++made;
        EXPECT_EQ(mounted.ui.messageBoxes, std::vector<std::string>{"There is no room on the volume for the new copy of its "
                                                                     "catalog that a change writes beside the old one; the "
                                                                     "volume is not changed."});
        ASSERT_TRUE(copyExtentsTree(mounted.session.volumeContext()));
        EXPECT_GE(loadBE16(mounted.session.volume.extents.header.data() + header::kDepth), 2u);
    }
    EXPECT_GT(made, 50u);
    EXPECT_TRUE(checkedSound(image));
    EXPECT_EQ(countLines(hlsTree(image), ":More "), made);
    ASSERT_TRUE(hfsutilsChange(image, {{"hdel", ":After:data"}, {"hrmdir", ":More 0 with a long name too"}, {"hmkdir", ":Last"}}));
    EXPECT_TRUE(checkedSound(image));
}

// A catalog of more than 2,048 nodes keeps its node map in map nodes: one that hfsutils made is
// changed through them, and one that Quarry grows gets them from Quarry.
TEST(VolumeChanges, CatalogsBeyondTheHeaderNodesMap) {
    TempDir dir;
    const std::string image = writableCopy(dir, "crowded.hfs");
    std::string lines = "DEL f2*\n";
    for (int i = 0; i < 1000; ++i) lines += "MD \"New " + std::to_string(i) + "\"\n";
    const ProcessResult r = runCliWithInput({"--write", image}, lines);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> tree = hlsTree(image);
    EXPECT_EQ(countLines(tree, ":f2"), 0u);
    EXPECT_EQ(countLines(tree, ":f"), 15000u - 1111u);
    EXPECT_EQ(countLines(tree, ":New "), 1000u);
    EXPECT_TRUE(checkedSound(image));
    ASSERT_TRUE(hfsutilsChange(image, {{"hmkdir", ":After"}, {"hdel", ":f1"}, {"hrmdir", ":New 7"}}));
    EXPECT_EQ(hlsTree(image).size(), tree.size() - 1);
    EXPECT_TRUE(checkedSound(image));

    // A small volume whose catalog Quarry grows past 2,048 nodes in one change.
    const std::string grown = dir.file("grown.hfs");
    std::ofstream(grown, std::ios::binary) << std::string(8 << 20, '\0');
    ASSERT_TRUE(runProcess({"hformat", "-l", "Grown", grown}, {"HOME=" + dir.path()}).succeeded());
    {
        MountedImage mounted(grown, MountExpected::Yes, ImageAccess::ReadWrite);
        ASSERT_EQ(mounted.mountResult, 1);
        ASSERT_TRUE(ApplyVolumeChange(mounted.session, [&]() -> Status {
            for (int i = 0; i < 4000; ++i)
                if (Status s = MakeDirectory(mounted.session, "Folder number " + std::to_string(i)); !s) return s;
            return Status::ok();
        }));
        EXPECT_GT(loadBE32(mounted.session.volume.catalog.header.data() + header::kTotalNodes), 2048u);
        EXPECT_NE(loadBE32(mounted.session.volume.catalog.header.data() + quarry::node::kFLink), 0u) << "no map node";
    }
    EXPECT_TRUE(checkedSound(grown));
    ASSERT_TRUE(hfsutilsChange(grown, {{"hmkdir", ":One more"}, {"hrmdir", ":Folder number 17"}}));
    tree = hlsTree(grown);
    EXPECT_EQ(countLines(tree, ":Folder number "), 3999u);
    EXPECT_EQ(countLines(tree, ":One more"), 1u);
    EXPECT_TRUE(checkedSound(grown));
}

}  // namespace
}  // namespace quarry::test
