// The changing commands against hfsutils: what quarry-cli changes, hfsutils reads, and can go on
// changing; what Quarry refuses or fails to write leaves the medium byte for byte as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "commands/volume_changes.h"
#include "device/scripted_adapter.h"
#include "hfs/volume_check.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

// A writable copy of a fixture volume.
std::string writableCopy(const TempDir& dir, const char* fixture) {
    const std::string path = dir.file(fixture);
    std::filesystem::copy_file(fixturePath(fixture), path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    return path;
}

bool checkedSound(const std::string& image) {
    const ProcessResult r = runCli({"--check", image});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    return r.exitCode == 0;
}

// The tree with every path that begins with `from` (a whole name) beginning with `to` instead.
std::vector<std::string> renamed(std::vector<std::string> tree, const std::string& from, const std::string& to) {
    for (std::string& line : tree) {
        if (line.compare(0, from.size(), from) == 0 && (line[from.size()] == ':' || line[from.size()] == '\t'))
            line = to + line.substr(from.size());
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

std::vector<std::string> without(std::vector<std::string> tree, const std::string& path) {
    tree.erase(std::remove_if(tree.begin(), tree.end(),
                              [&](const std::string& l) {
                                  return l.compare(0, path.size(), path) == 0 && (l[path.size()] == ':' || l[path.size()] == '\t');
                              }),
               tree.end());
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

TEST(VolumeChanges, WhatQuarryCliChangesHfsutilsReadsAndGoesOnChanging) {
    TempDir dir;
    const std::string image = writableCopy(dir, "basic.hfs");
    const std::vector<std::string> before = hlsTree(image);
    ASSERT_FALSE(before.empty());
    const std::string bigForks = hcopyMacBinary(image, ":Big Forks");

    const ProcessResult r =
        runCli({"--write", "--yes", "--log", dir.file("changes.log"), image, "MD \"NEW THINGS\"", "CD Docs", "DEL Manual",
                "CD ..", "RD \"Empty Folder\"", "REN Puzzle Jigsaw", "REN Docs Papers", "SWAP \"Big Forks\"", "CD Papers",
                "RD \"Old Drafts\"", "CD \\", "REN T* Tr*"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "Quarry - : The directory is not empty. [OK]\n");

    // Every change as hfsutils sees it, and nothing else changed.
    std::vector<std::string> expected = with(before, ":New things\td 0");
    expected = without(without(without(expected, ":Docs:Manual"), ":Empty Folder"), ":Docs:Old Drafts");
    expected = valence(expected, ":Docs", 1);
    expected = renamed(renamed(expected, ":Puzzle", ":Jigsaw"), ":Docs", ":Papers");
    expected = renamed(expected, ":Thirty-One Characters Long Name", ":Trhirty-One Characters Long Nam");
    expected = renamed(expected, ":Trailing Space ", ":Trrailing Space ");
    std::replace(expected.begin(), expected.end(), std::string(":Big Forks\tf 5000 1500"), std::string(":Big Forks\tf 1500 5000"));
    const std::vector<std::string> after = hlsTree(image);
    EXPECT_EQ(after, expected);
    EXPECT_EQ(hcopyData(image, ":Big Forks"), resourceOfMacBinary(bigForks));
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

TEST(VolumeChanges, RefusalsAndReadOnlyMediaLeaveTheImageAsItWas) {
    TempDir dir;
    const std::string image = writableCopy(dir, "basic.hfs");
    const std::string original = slurp(image);
    struct Case {
        std::vector<std::string> options;
        const char* line;
        const char* says;  // standard error, after the title
    };
    const Case cases[] = {
        {{}, "MD Fresh", "Write-protected media. [Cancel]\nQuarry - : MD Fresh: not carried out\n"},
        {{"--yes"}, "MD Fresh",
         "Write-protected media. [OK]\nQuarry - : The volume could not be written: the medium is write-protected\n"},
        {{"--write"}, "MD docs", "A directory exists already with this name.\n"},
        {{"--write"}, "MD \"read me\"", "A directory exists already with this name.\n"},
        {{"--write"}, "REN Puzzle \"READ ME\"", "An entry exists already with this name.\n"},
        {{"--write"}, "RD Docs", "The directory is not empty. [Cancel]\nQuarry - : RD Docs: not carried out\n"},
        {{"--write"}, "RD Puzzle", "RD Puzzle: not carried out\n"},
        {{"--write"}, "DEL Nothing*", ""},
        {{"--write"}, "SWAP Nothing", "SWAP Nothing: not carried out\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back(image);
        args.push_back(c.line);
        const ProcessResult r = runCli(args);
        EXPECT_EQ(r.err, std::string(*c.says ? "Quarry - : " : "") + c.says) << c.line;
        EXPECT_EQ(r.exitCode, *c.says ? 1 : 0) << c.line;
        EXPECT_TRUE(slurp(image) == original) << c.line << " changed the image";
    }
}

// A medium that refuses the third write of a commit: everything written before it is put back.
TEST(VolumeChanges, AFailedWriteLeavesTheMediumAsItWasAndSaysSo) {
    const std::string original = slurp(fixturePath("basic.hfs"));
    RecordingUi ui;
    Session session{ui};
    ScsiBus bus;
    auto adapter = std::make_unique<ScriptedAdapter>();
    ScriptedAdapter& drive = *adapter;
    drive.addTarget(2, ScriptedTarget::cdrom("QUARRY", "basic.hfs", "1.0", std::vector<uint8_t>(original.begin(), original.end())));
    bus.adapters.push_back(std::move(adapter));
    session.device.bus = &bus;
    ScsiDeviceTable table;
    PrepareCdAccess(session.device);
    ASSERT_EQ(SelectCdromDrive(session.device, table, ui), 1);
    session.device.deviceBlockSize = 512;
    initVolumeBuffers(session);
    ASSERT_EQ(mountVolume(session), 1);

    auto medium = [&] { return std::string(drive.target(2).medium.begin(), drive.target(2).medium.end()); };
    auto makeTwo = [&] {
        return ApplyVolumeChange(session, [&]() -> Status {
            if (Status s = MakeDirectory(session, "First"); !s) return s;
            return MakeDirectory(session, "Second");
        });
    };
    drive.failWrite(3, aspi::kError);
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

}  // namespace
}  // namespace quarry::test
