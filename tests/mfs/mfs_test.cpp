// MFS floppies made by fixtures/mfs_build.py from the published layout, mounted by quarry-cli and
// held to what the same script's independent reader finds on them: listings, INFO, copies in
// MacBinary byte for byte, the Desktop file's folders, refusals that leave the image alone, and
// the check naming each planted fault.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "support/cli_run.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using nlohmann::json;
using Strings = std::vector<std::string>;

const std::string kScript = std::string(QUARRY_SAMPLE_DIR) + "/../tests/fixtures/mfs_build.py";

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> out;
    for (const std::string& line : test::outputLines(text))
        if (!line.empty()) out.push_back(json::parse(line));
    return out;
}

// The image the plan describes, made in dir.
std::string buildImage(const test::TempDir& dir, const json& plan, const std::string& name = "mfs.img") {
    const std::string planPath = dir.file(name + ".json");
    std::ofstream(planPath) << plan.dump();
    const Strings argv{"python3", kScript, "build", planPath, dir.file(name)};
    const test::ProcessResult r = test::runProcess(argv);
    EXPECT_TRUE(r.succeeded()) << r.describe(argv);
    return dir.file(name);
}

// The reader's view: the volume's line first, then one line per file.
std::vector<json> readImage(const std::string& image) {
    const Strings argv{"python3", kScript, "read", image};
    const test::ProcessResult r = test::runProcess(argv);
    EXPECT_TRUE(r.succeeded()) << r.describe(argv);
    return jsonLines(r.out);
}

json fork(int length, int pattern) { return {{"len", length}, {"pattern", pattern}}; }

// A few files of every kind: text, both forks, an empty one, a locked one, an application of
// many blocks given from both ends of the volume, so that its chain is not contiguous.
json fewFiles(int size) {
    return {{"size", size}, {"name", "Old Disk"}, {"created", 1900000000}, {"backup", 1910000000}, {"scatter", true},
            {"files",
             {{{"name", "Read Me"}, {"type", "TEXT"}, {"creator", "MACA"}, {"flags", 0x0100}, {"created", 1800000000},
               {"modified", 1850000000}, {"data", {{"text", "Hello from 1984\r"}}}, {"rsrc", fork(3000, 2)}},
              {{"name", "MacPaint"}, {"type", "APPL"}, {"creator", "MPNT"}, {"flags", 0x2000}, {"created", 1700000000},
               {"modified", 1750000000}, {"data", fork(size == 400 ? 70000 : 150000, 3)}, {"rsrc", fork(20000, 4)}, {"locked", true}},
              {{"name", "Empty"}, {"type", "TEXT"}, {"creator", "????"}},
              {{"name", "Notes \u008E"}, {"type", "TEXT"}, {"creator", "EDIT"}, {"data", fork(5000, 5)}}}}};
}

TEST(Mfs, FilesListedCopiedAndCountedAsTheReaderFindsThem) {
    for (const int size : {400, 800}) {
        SCOPED_TRACE(size);
        test::TempDir dir, out;
        const std::string image = buildImage(dir, fewFiles(size));
        const std::vector<json> seen = readImage(image);
        ASSERT_EQ(seen.size(), 5u);
        const json& volume = seen[0];

        const test::ProcessResult r = test::runCli({"-q", "--binary-format", "mb2", "--to", out.path(), image, "INFO", "DIR", "COPY /B *"});
        ASSERT_TRUE(r.succeeded()) << r.err;
        const std::string info = r.out;
        EXPECT_NE(info.find("Number of files:\t4\n"), std::string::npos) << info;
        EXPECT_NE(info.find("Free space:\t" + std::to_string(volume["free"].get<int>() * volume["block_size"].get<int>())),
                  std::string::npos) << info;
        for (size_t i = 1; i < seen.size(); ++i) {
            const std::string name = seen[i]["name"];
            EXPECT_NE(info.find("\n" + name.substr(0, 4)), std::string::npos) << name << " not listed";
        }

        // Every file's MacBinary, read back by the script, is what the reader finds on the volume.
        Strings copies{"python3", kScript, "macbinary"};
        for (const auto& f : std::filesystem::directory_iterator(out.path())) copies.push_back(f.path().string());
        ASSERT_EQ(copies.size(), 7u);
        const test::ProcessResult decoded = test::runProcess(copies);
        ASSERT_TRUE(decoded.succeeded()) << decoded.describe(copies);
        std::set<std::string> ours, theirs;
        // MacBinary's "protected" flag is not the Finder's lock, which it does not carry.
        for (json j : jsonLines(decoded.out)) {
            j.erase("locked");
            ours.insert(j.dump());
        }
        for (size_t i = 1; i < seen.size(); ++i) {
            json f = seen[i];
            for (const char* key : {"number", "path", "locked"}) f.erase(key);
            theirs.insert(f.dump());
        }
        EXPECT_EQ(ours, theirs);
    }
}

TEST(Mfs, FullDirectoryAndNamesOf255Characters) {
    test::TempDir dir;
    json files = json::array();
    // Names of 29 characters make entries of 80 bytes: six to a sector, 72 in twelve sectors.
    for (int i = 0; i < 72; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "File number %03d of the disk.", i);
        files.push_back({{"name", name}, {"data", {{"text", name}}}});
    }
    const std::string image = buildImage(dir, {{"files", files}}, "full.img");
    const test::ProcessResult r = test::runCli({"-q", image, "DIR"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    Strings listed = test::firstFields(r.out), expected;
    for (const json& f : files) expected.push_back(f["name"]);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(test::runCli({"--check", image}).exitCode, 0);
    // One more does not fit in the directory.
    files.push_back({{"name", "One too many"}});
    const std::string plan = dir.file("over.json");
    std::ofstream(plan) << json{{"files", files}}.dump();
    EXPECT_FALSE(test::runProcess({"python3", kScript, "build", plan, dir.file("over.img")}).succeeded());

    // Names of 255 characters, copied out under names the PC takes, their bytes whole.
    test::TempDir out;
    const std::string a(255, 'a'), b = std::string(250, 'b') + ".text";
    const std::string longImage = buildImage(dir, {{"files", {{{"name", a}, {"data", fork(900, 8)}}, {{"name", b}, {"data", fork(1200, 9)}}}}}, "long.img");
    const test::ProcessResult copied = test::runCli({"-q", "--to", out.path(), longImage, "COPY /D *"});
    ASSERT_TRUE(copied.succeeded()) << copied.err;
    std::set<std::string> sizes;
    for (const auto& f : std::filesystem::directory_iterator(out.path())) {
        EXPECT_LE(f.path().filename().string().size(), 255u);
        sizes.insert(std::to_string(std::filesystem::file_size(f.path())));
    }
    EXPECT_EQ(sizes, (std::set<std::string>{"900", "1200"}));
}

// The Finder's folders, from the Desktop file, only when asked for.
TEST(Mfs, DesktopFoldersWithTheOption) {
    test::TempDir dir;
    json plan = fewFiles(400);
    plan["files"][0]["folder"] = 5;
    plan["files"][1]["folder"] = 6;
    plan["files"][3]["folder"] = -3;  // the trash: shown in the root
    plan["folders"] = {{{"id", 5}, {"parent", 0}, {"name", "Documents"}}, {{"id", 6}, {"parent", 5}, {"name", "Apps"}}};
    const std::string image = buildImage(dir, plan);
    const std::vector<json> seen = readImage(image);
    auto pathOf = [&](const std::string& name) {
        for (const json& f : seen) if (f.contains("path") && f["name"] == name) return f["path"].get<std::string>();
        return std::string();
    };
    ASSERT_EQ(pathOf("MacPaint"), "Documents/Apps/MacPaint");

    const test::ProcessResult flat = test::runCli({"-q", image, "DIR"});
    EXPECT_EQ(test::firstFields(flat.out).size(), 5u) << flat.out;
    const test::ProcessResult folders =
        test::runCli({"-q", "--mfs-folders", "--to", dir.path(), image, "DIR", "CD Documents", "DIR", "CD apps", "DIR", "CD ..", "CD ..",
                      "COPY Documents"});
    ASSERT_TRUE(folders.succeeded()) << folders.err;
    const Strings lines = test::firstFields(folders.out);
    // Root: the folder, then the files outside it; Documents: its folder, then Read Me; Apps.
    EXPECT_EQ(lines, (Strings{"Documents", "Empty", "Notes \u00E9", "Desktop", "Apps", "Read Me", "MacPaint"}))
        << folders.out;
    EXPECT_TRUE(std::filesystem::exists(dir.file("Documents/Apps")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("Documents/Read Me.txt")));

    // Folders that lie inside themselves: the flat list, and a notice.
    plan["folders"] = {{{"id", 5}, {"parent", 6}, {"name", "Documents"}}, {{"id", 6}, {"parent", 5}, {"name", "Apps"}}};
    const std::string looped = buildImage(dir, plan, "loop.img");
    const test::ProcessResult fallback = test::runCli({"-q", "--mfs-folders", looped, "DIR"});
    EXPECT_EQ(test::firstFields(fallback.out).size(), 5u) << fallback.out;
    EXPECT_NE(fallback.err.find("inside itself"), std::string::npos) << fallback.err;
}

TEST(Mfs, ChangesRefusedAndTheImageLeftAlone) {
    test::TempDir dir;
    const std::string image = buildImage(dir, fewFiles(400));
    const std::string before = test::slurp(image);
    for (const std::string line : {"DEL \"Read Me\"", "MD New", "REN Empty Full", "SETATTR Empty type=ABCD"}) {
        const test::ProcessResult r = test::runCli({"--write", "--yes", image, line});
        EXPECT_EQ(r.exitCode, 1) << line;
        EXPECT_NE(r.err.find("Quarry changes HFS volumes only; this MFS volume is not changed."), std::string::npos) << line << r.err;
    }
    EXPECT_TRUE(test::slurp(image) == before);
}

TEST(Mfs, CheckNamesEachPlantedFault) {
    test::TempDir dir;
    const test::ProcessResult clean = test::runCli({"--check", buildImage(dir, fewFiles(400))});
    EXPECT_EQ(clean.exitCode, 0) << clean.out;
    EXPECT_EQ(clean.out, "");
    const std::pair<const char*, const char*> faults[] = {
        {"loop", "its chain comes back to block"},
        {"two-chains", "is in two chains"},
        {"cross", "crosses the sector's end"},
        {"file-count", "drNmFls counts 5 files, the directory holds 4"},
        {"free-count", "drFreeBks counts"},
        {"next-number", "is not below drNxtFNum (1)"},
        {"orphan", "is marked in use, and no file's fork holds it"},
    };
    for (const auto& [fault, said] : faults) {
        json plan = fewFiles(400);
        plan["faults"] = {fault};
        const test::ProcessResult r = test::runCli({"--check", buildImage(dir, plan, std::string(fault) + ".img")});
        EXPECT_EQ(r.exitCode, 1) << fault;
        EXPECT_NE(r.out.find(said), std::string::npos) << fault << ":\n" << r.out;
    }
}

TEST(Mfs, DiskCopyImageOfAnMfsFloppy) {
    test::TempDir dir;
    const std::string image = buildImage(dir, fewFiles(400));
    const std::string wrapped = dir.file("mfs.dc42");
    const Strings argv{"perl", std::string(QUARRY_SAMPLE_DIR) + "/../tests/fixtures/containers.pl", "dc42", image, wrapped};
    ASSERT_TRUE(test::runProcess(argv).succeeded());
    const test::ProcessResult bare = test::runCli({"-q", image, "DIR"}), inside = test::runCli({"-q", wrapped, "DIR"});
    ASSERT_TRUE(inside.succeeded()) << inside.err;
    EXPECT_EQ(inside.out, bare.out);
    EXPECT_EQ(test::firstFields(inside.out).size(), 4u);
}

}  // namespace
}  // namespace quarry
