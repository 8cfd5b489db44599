// Copies made by quarry-cli, read back by independent tools: fork bytes as hcopy extracts them,
// MacBinary files as lsar and unar read them, checksum manifests as sha256sum checks them.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "common/charset.h"
#include "copy/copy_context.h"
#include "copy/copy_engine.h"
#include "copy/manifest.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

std::string trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// "Copy of "Mac" to "PC"" lines: Macintosh name (UTF-8) to PC name.
std::map<std::string, std::string> copiesReported(const std::string& out) {
    std::map<std::string, std::string> m;
    std::regex line("Copy of \"(.*)\" to \"(.*)\"");
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) {
        std::smatch match;
        if (std::regex_match(l, match, line)) m[match[1]] = match[2];
    }
    return m;
}

// Copies every file of every folder of image, folder by folder, in mode (/D or /R), and checks
// each copy against extract(image, hfs path).
void copyEveryFolderAndCompare(const std::string& image, const std::string& mode,
                               const std::function<std::string(const std::string&, const std::string&)>& extract) {
    std::vector<std::pair<std::string, std::vector<std::string>>> pending = {{":", {}}};
    int files = 0;
    while (!pending.empty()) {
        auto [hfsPath, cdLines] = pending.back();
        pending.pop_back();
        SCOPED_TRACE("folder " + hfsPath);
        test::TempDir target;
        std::vector<std::string> args = {"--to", target.path(), image};
        args.insert(args.end(), cdLines.begin(), cdLines.end());
        args.push_back("COPY " + mode + " /F *");
        const auto r = test::runCli(args);
        ASSERT_TRUE(r.succeeded()) << r.err;
        const auto copies = copiesReported(r.out);
        for (const auto& entry : test::hlsList(image, hfsPath)) {
            const std::string path = hfsPath == ":" ? ":" + entry.name : hfsPath + ":" + entry.name;
            if (entry.isFolder) {
                auto lines = cdLines;
                lines.push_back("CD \"" + macNameToUtf8(entry.name) + "\"");
                pending.push_back({path, lines});
                continue;
            }
            const std::string expected = extract(image, path);
            // Names are shown without their leading and trailing blanks.
            auto it = copies.find(trimmed(macNameToUtf8(entry.name)));
            if (expected.empty()) {
                // An empty fork is reported and not copied.
                EXPECT_EQ(it, copies.end()) << path;
                continue;
            }
            ASSERT_NE(it, copies.end()) << path << "\n" << r.out;
            EXPECT_EQ(test::slurp(target.file(it->second)), expected) << path;
            ++files;
        }
    }
    EXPECT_GT(files, 0);
}

TEST(CopyMatchesHcopy, DataAndResourceForks) {
    for (const char* image : {"basic.hfs", "fragmented.hfs", "hybrid.iso"}) {
        SCOPED_TRACE(image);
        copyEveryFolderAndCompare(test::fixturePath(image), "/D", test::hcopyData);
        copyEveryFolderAndCompare(test::fixturePath(image), "/R", test::hcopyResource);
    }
}

// The entries of lsarContents in lsar's JSON, as it lays them out: each object opens with a line
// "    {" and holds its fields, one a line, six spaces in.
std::vector<std::map<std::string, std::string>> lsarEntries(const std::string& path) {
    const auto r = test::runProcess({"lsar", "-j", path}, {"TZ=UTC"});
    EXPECT_TRUE(r.succeeded()) << r.err;
    std::vector<std::map<std::string, std::string>> entries;
    std::istringstream in(r.out);
    const std::regex field("      \"(\\w+)\": \"?([^\"]*?)\"?,?");
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (line == "    {") entries.emplace_back();
        else if (!entries.empty() && std::regex_match(line, m, field)) entries.back()[m[1]] = m[2];
    }
    return entries;
}

uint32_t fourCharCode(const std::string& s) {
    uint32_t code = 0;
    for (unsigned char c : s) code = code << 8 | c;
    return code;
}

TEST(MacBinaryCopies, ReadBackByLsarAndUnar) {
    const std::string image = test::fixturePath("basic.hfs");
    test::TempDir target;
    const auto r = test::runCli({"--to", target.path(), image, "COPY /B /F *"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    const auto copies = copiesReported(r.out);
    // Dates set by the fixtures, as the Macintosh stored them.
    const std::map<std::string, std::pair<std::string, std::string>> fixedDates = {
        {"Puzzle", {"1992-05-17 09:30:00 +0000", "1993-11-02 14:45:10 +0000"}},
        {"Big Forks", {"2001-03-04 05:06:07 +0000", "2001-03-04 06:07:08 +0000"}},
    };
    int checked = 0;
    for (const auto& o : test::hlsList(image, ":")) {
        if (o.isFolder) continue;
        SCOPED_TRACE(o.name);
        const auto it = copies.find(trimmed(macNameToUtf8(o.name)));
        ASSERT_NE(it, copies.end());
        const std::string path = target.file(it->second);
        const auto entries = lsarEntries(path);
        ASSERT_FALSE(entries.empty()) << "lsar does not take " << it->second << " for MacBinary";
        const auto& data = entries[0];
        EXPECT_EQ(data.at("XADFileType"), std::to_string(fourCharCode(o.type)));
        EXPECT_EQ(data.at("XADFileCreator"), std::to_string(fourCharCode(o.creator)));
        // lsar lists a fork only when it holds bytes.
        uint32_t dataLength = 0, rsrc = 0;
        for (const auto& e : entries)
            (e.count("XADIsResourceFork") ? rsrc : dataLength) = static_cast<uint32_t>(std::stoul(e.at("MacDataLength")));
        EXPECT_EQ(dataLength, o.dataSize);
        EXPECT_EQ(rsrc, o.rsrcSize);
        if (auto d = fixedDates.find(o.name); d != fixedDates.end()) {
            EXPECT_EQ(data.at("XADCreationDate"), d->second.first);
            EXPECT_EQ(data.at("XADLastModificationDate"), d->second.second);
        }
        // unar takes the forks apart again: the data fork as the file, the resource fork at the
        // end of an AppleDouble ".rsrc" beside it.
        test::TempDir out;
        const auto u = test::runProcess({"unar", "-q", "-f", "-k", "visible", "-o", out.path(), path}, {"TZ=UTC"});
        ASSERT_TRUE(u.succeeded()) << u.err;
        const std::string hfsPath = ":" + o.name;
        std::string dataBytes, rsrcBytes;
        for (const auto& f : fs::directory_iterator(out.path())) {
            const std::string content = test::slurp(f.path());
            if (f.path().extension() == ".rsrc") rsrcBytes = content;
            else dataBytes = content;
        }
        EXPECT_EQ(dataBytes, test::hcopyData(image, hfsPath));
        const std::string expectedRsrc = test::hcopyResource(image, hfsPath);
        ASSERT_GE(rsrcBytes.size(), expectedRsrc.size());
        EXPECT_EQ(rsrcBytes.substr(rsrcBytes.size() - expectedRsrc.size()), expectedRsrc);
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

TEST(MacBinaryCopies, LayoutAndFinderFlags) {
    // A colour label lives in the low byte of the Finder flags.
    test::TempDir dir;
    const std::string image = test::bentFixture(dir, "basic.hfs", [](test::Bytes& b) {
        test::HfsImage img(b);
        img.setRecordData16(img.lookup(":Puzzle"), test::catfile::kFinderFlags, 0x200C);
    });
    const auto r = test::runCli({"--to", dir.path(), image, "COPY /B Puzzle"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    const std::string mb = test::slurp(dir.file("Puzzle.com"));
    // 128 + 1200 data + 80 zeros to the next multiple of 128 + 1080 resource bytes.
    ASSERT_EQ(mb.size(), 128u + 1280 + 1080);
    EXPECT_EQ(mb.substr(1328, 80), std::string(80, '\0'));
    // The high byte of the flags is kept; the low byte has no place in this header and byte 74
    // stays zero, so that readers take the file for MacBinary.
    EXPECT_EQ(static_cast<uint8_t>(mb[73]), 0x20);
    EXPECT_EQ(mb.substr(74, 1), std::string(1, '\0'));
    EXPECT_EQ(mb.substr(99, 29), std::string(29, '\0'));
    const auto entries = lsarEntries(dir.file("Puzzle.com"));
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].at("XADFinderFlags"), std::to_string(0x2000));
    // The header agrees with hcopy's MacBinary II header on every field both write.
    const std::string theirs = test::hcopyMacBinary(image, ":Puzzle");
    ASSERT_GE(theirs.size(), 128u);
    EXPECT_EQ(mb.substr(1, 82), theirs.substr(1, 82));
    EXPECT_EQ(mb.substr(83, 16), theirs.substr(83, 16));
    // hcopy pads the resource fork as well; the bytes up to its end are the same.
    EXPECT_EQ(mb.substr(128), theirs.substr(128, mb.size() - 128));
}

// sha256sum -c --strict on manifest, run in dir as a person checking a copy would.
test::ProcessResult sha256sumCheck(const std::string& dir, const std::string& manifest) {
    return test::runProcess({"sh", "-c", "cd \"$1\" && exec sha256sum -c --strict \"$2\"", "sh", dir, manifest}, {"LC_ALL=C"});
}

// The paths a manifest lists, its escapes undone.
std::vector<std::string> manifestPaths(const std::string& manifest) {
    std::vector<std::string> paths;
    std::istringstream in(test::slurp(manifest));
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(IsManifestLine(line)) << line;
        const bool escaped = !line.empty() && line[0] == '\\';
        std::string path;
        for (size_t i = (escaped ? 1 : 0) + 66; i < line.size(); ++i) {
            if (!escaped || line[i] != '\\' || i + 1 == line.size()) {
                path.push_back(line[i]);
                continue;
            }
            const char c = line[++i];
            path.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c);
        }
        paths.push_back(path);
    }
    return paths;
}

std::set<std::string> regularFiles(const std::string& root) {
    std::set<std::string> out;
    for (const std::string& path : test::tree(root))
        if (fs::is_regular_file(root + "/" + path)) out.insert(path);
    return out;
}

// A whole volume copied with a manifest: sha256sum checks every line from the target, every
// file written has exactly one line, and a byte changed in one file fails that line alone. A
// fork format is one more row: its switch in `copy`, its option in `options`.
TEST(ChecksumManifests, VerifiedBySha256sumForEveryFileWritten) {
    struct Case {
        const char* image;
        std::vector<std::string> options;
        const char* copy;
    };
    const Case cases[] = {
        {"basic.hfs", {}, "COPY /D *"},
        {"basic.hfs", {}, "COPY /R *"},
        {"basic.hfs", {}, "COPY /B *"},
        {"basic.hfs", {"--names", "short"}, "COPY /B *"},
        {"hostile.hfs", {}, "COPY /D *"},
        {"fragmented.hfs", {}, "COPY /B *"},
    };
    for (const Case& c : cases) {
        std::string what = std::string(c.image) + " " + c.copy;
        for (const std::string& o : c.options) what += " " + o;
        SCOPED_TRACE(what);
        test::TempDir outer;
        const std::string target = outer.file("target"), manifest = outer.file("copy.sha256");
        fs::create_directory(target);
        std::vector<std::string> args = {"--to", target, "--manifest", manifest};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {test::fixturePath(c.image), c.copy});
        const auto r = test::runCli(args);
        ASSERT_TRUE(r.succeeded()) << r.err;

        const std::vector<std::string> paths = manifestPaths(manifest);
        const std::set<std::string> files = regularFiles(target);
        EXPECT_GE(files.size(), 3u);
        EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()), files);
        EXPECT_EQ(paths.size(), files.size()) << "a file listed twice";
        const auto check = sha256sumCheck(target, manifest);
        EXPECT_TRUE(check.succeeded()) << check.out << check.err;

        // One byte changed in the middle of the largest file.
        std::string changed;
        for (const std::string& f : files)
            if (changed.empty() || fs::file_size(target + "/" + f) > fs::file_size(target + "/" + changed)) changed = f;
        std::fstream file(target + "/" + changed, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(static_cast<std::streamoff>(fs::file_size(target + "/" + changed) / 2));
        const char old = static_cast<char>(file.peek());
        file.seekp(file.tellg());
        file.put(static_cast<char>(old ^ 0x01));
        file.close();
        const auto after = sha256sumCheck(target, manifest);
        EXPECT_EQ(after.exitCode, 1) << after.out;
        std::vector<std::string> failed;
        std::istringstream out(after.out);
        for (std::string line; std::getline(out, line);)
            if (line.size() < 4 || line.substr(line.size() - 4) != ": OK") failed.push_back(line);
        EXPECT_EQ(failed, (std::vector<std::string>{changed + ": FAILED"})) << after.out;
    }
}

// Names sha256sum writes escaped: a CR or LF typed when renaming on the fly reaches the PC name
// as typed, and a backslash can be in a file's name on this system.
TEST(ChecksumManifests, NamesWithBackslashCrAndLfAreEscapedAsSha256sumReadsThem) {
    test::CurrentTempDir target;
    test::TempDir dir;
    test::MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_TRUE(m.session.copy.manifest.open(dir.file("names.sha256")));
    m.session.settings.setNamingMode(NamingMode::AskEachFile);
    m.ui.pcNameAnswers = {std::string("two\nlines.txt"), std::string("carriage\rreturn.txt"), std::string("plain.txt")};
    for (const char* name : {"Puzzle", "aardvark", "Read Me"}) CopyMacEntries(m.session.copyContext(), kRootDirId, name);
    { std::ofstream("back\\slash") << "typed here"; }
    ASSERT_TRUE(m.session.copy.manifest.add("back\\slash", "back\\slash"));
    EXPECT_EQ(m.session.copy.manifest.fileCount(), 4u);
    ASSERT_TRUE(m.session.copy.manifest.close());
    EXPECT_EQ(m.session.copy.failures, 0u);

    const std::string text = test::slurp(dir.file("names.sha256"));
    EXPECT_NE(text.find("  two\\nlines.txt\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  carriage\\rreturn.txt\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  back\\\\slash\n"), std::string::npos) << text;
    EXPECT_EQ(manifestPaths(dir.file("names.sha256")).size(), 4u);
    const auto check = sha256sumCheck(target.path(), dir.file("names.sha256"));
    EXPECT_TRUE(check.succeeded()) << check.out << check.err;
    EXPECT_EQ(std::count(check.out.begin(), check.out.end(), '\n'), 4) << check.out;
}

}  // namespace
}  // namespace quarry
