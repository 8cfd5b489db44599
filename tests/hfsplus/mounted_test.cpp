// HFS+ and HFSX volumes as quarry-cli mounts them, every file copied, held to the builder's
// manifests and to 7-Zip's extraction; links and case through the mount; and quarry-cli's
// answers on them.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "copy/sha256_sink.h"
#include "hfsplus/hfsplus_volume.h"
#include "hfsplus/names.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using Strings = std::vector<std::string>;

// One file or folder as a reader gives it: a folder, or the data fork's length and SHA-256 and
// the resource fork's SHA-256 ("-" where it has none).
struct Seen {
    bool folder = false;
    uint64_t size = 0;
    std::string data = "-", rsrc = "-";
};
using Tree = std::map<std::string, Seen>;

std::string digestOf(std::string_view bytes) {
    if (bytes.empty()) return "-";
    Sha256Sink sink;
    sink.write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return sink.hex();
}

// The builder's manifest (fixtures/README.md), as a reader of the volume behind the seam must
// show it: the private folders hidden, a folder hard link entered as its folder, a symbolic
// link's data fork its target, a compressed file at its uncompressed length with no resource
// fork of its own, LZFSE refused.
Tree manifestTree(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    Tree tree;
    const std::string privateDirs = ".HFS+ Private Directory Data^/";
    std::map<std::string, std::string> folderLinks;  // link path -> dir_N
    std::map<std::string, Tree> linkedFolders;       // dir_N -> what it holds
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string kind, size, data, rsrc, note, name;
        for (std::string* field : {&kind, &size, &data, &rsrc, &note}) std::getline(fields, *field, '\t');
        std::getline(fields, name);
        name = hfsplus::toNfc(name);
        Seen s{kind == "d", kind == "d" ? 0 : std::stoull(size), data, rsrc};
        if (note.rfind("decmpfs type ", 0) == 0) {
            const int type = std::stoi(note.substr(13));
            if (type % 2 == 0) s.rsrc = "-";
            if (type == 11) s.data = "refused: File " + name + " uses LZFSE compression, which Quarry does not read";
        }
        if (s.folder) s = Seen{true};
        // A reader gives no bytes of an empty fork.
        const std::string emptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
        if (s.data == emptyDigest) s.data = "-";
        if (s.rsrc == emptyDigest) s.rsrc = "-";
        // The builder names no bytes of its own for the journal's files: their length must do.
        if (!s.folder && s.size > 0 && data == "-") s.data = "any";
        if (note.rfind("folder hard link -> ", 0) == 0) {
            folderLinks[name] = note.substr(20);
            s = Seen{true};
        }
        if (name.rfind(privateDirs, 0) == 0) {
            const std::string inside = name.substr(privateDirs.size());
            const size_t slash = inside.find('/');
            if (slash != std::string::npos) linkedFolders[inside.substr(0, slash)][inside.substr(slash)] = s;
            continue;
        }
        if (name.rfind("^^^^HFS+ Private Data", 0) == 0 || name + "/" == privateDirs) continue;
        tree[name] = s;
    }
    for (const auto& [link, dir] : folderLinks)
        for (const auto& [inside, s] : linkedFolders[dir]) tree[link + inside] = s;
    return tree;
}

// 7-Zip's extraction with its resource fork streams ("NAME:rsrc"), below the volume's name.
Tree sevenZipTree(const std::string& image) {
    test::TempDir out;
    const Strings argv{"7zz", "x", "-sns", "-tHFS", "-o" + out.path(), image};
    const test::ProcessResult r = test::runProcess(argv, {"LC_ALL=C.UTF-8"});
    EXPECT_TRUE(r.succeeded()) << r.describe(argv);
    Tree tree;
    std::filesystem::path root;
    for (const auto& top : std::filesystem::directory_iterator(out.path())) root = top.path();
    for (const auto& f : std::filesystem::recursive_directory_iterator(root)) {
        std::string path = hfsplus::toNfc(std::filesystem::relative(f.path(), root).string());
        if (f.is_directory()) {
            tree[path].folder = true;
            continue;
        }
        const std::string bytes = test::slurp(f.path().string());
        const std::string hex = digestOf(bytes);
        if (path.size() > 5 && path.ends_with(":rsrc")) {
            tree[path.substr(0, path.size() - 5)].rsrc = hex;
        } else {
            tree[path].size = bytes.size();
            tree[path].data = hex;
        }
    }
    return tree;
}

// The resource fork an AppleDouble sidecar holds (entry 2), "-" when it holds none.
std::string sidecarResource(const std::string& path) {
    const std::string b = test::slurp(path);
    auto be32 = [&](size_t at) { return at + 4 > b.size() ? 0u : uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 | uint32_t(uint8_t(b[at + 2])) << 8 | uint8_t(b[at + 3]); };
    const size_t entries = b.size() < 26 ? 0 : (uint8_t(b[24]) << 8 | uint8_t(b[25]));
    for (size_t i = 0; i < entries; ++i)
        if (be32(26 + 12 * i) == 2 && be32(26 + 12 * i + 4) + be32(26 + 12 * i + 8) <= b.size())
            return digestOf(std::string_view(b).substr(be32(26 + 12 * i + 4), be32(26 + 12 * i + 8)));
    return "-";
}

// The volume as quarry-cli mounts it (the partition scan, then the volume behind the seam), every
// file copied by COPY /B in AppleDouble: each holds the bytes expected, under its Unicode name
// (with the type's extension where the name has none), its resource fork in the "._" file beside
// it, and each folder is made; a file the volume cannot give is named and not made.
void expectCopied(const std::string& image, const Tree& expected, Strings options = {}) {
    test::TempDir dir;
    options.insert(options.end(), {"-q", "--binary-format", "appledouble", "--to", dir.path(), image, "COPY /B *"});
    const auto r = test::runCli(options);
    std::map<std::string, std::string> made, folders;  // PC path (NFC) -> real path
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir.path())) {
        const std::string path = hfsplus::toNfc(std::filesystem::relative(f.path(), dir.path()).string());
        if (f.is_directory()) folders[path] = f.path().string();
        else if (f.is_regular_file() && f.path().filename().string().rfind("._", 0) != 0) made[path] = f.path().string();
    }
    size_t files = 0;
    for (const auto& [path, want] : expected) {
        if (want.folder) {
            EXPECT_TRUE(folders.contains(path)) << path;
            continue;
        }
        auto at = made.find(path);
        if (at == made.end()) {
            at = made.lower_bound(path + ".");
            if (at != made.end() && (at->first.rfind(path + ".", 0) != 0 || at->first.size() > path.size() + 4)) at = made.end();
        }
        if (want.data.rfind("refused: ", 0) == 0) {
            EXPECT_EQ(at, made.end()) << path;
            EXPECT_NE(r.err.find(want.data.substr(9)), std::string::npos) << r.err;
            continue;
        }
        ASSERT_NE(at, made.end()) << image << ": " << path << " was not copied; " << r.err;
        ++files;
        const std::filesystem::path pc(at->second);
        EXPECT_EQ(std::filesystem::file_size(pc), want.size) << path;
        if (want.data != "any") {
            EXPECT_EQ(digestOf(test::slurp(at->second)), want.data) << path;
        }
        EXPECT_EQ(sidecarResource((pc.parent_path() / ("._" + pc.filename().string())).string()), want.rsrc) << path;
    }
    EXPECT_EQ(made.size(), files) << image;
}

TEST(HfsPlusMounted, EveryEntryAndForkCopiedAsTheBuilderWroteIt) {
    struct Case {
        const char* image;
        const char* manifest;
        Strings options;
    };
    const Case cases[] = {
        {"forks.hfsp", "forks.hfsp.manifest", {}}, {"links.hfsp", "links.hfsp.manifest", {}},
        {"compressed.hfsp", "compressed.hfsp.manifest", {}}, {"case.hfsx", "case.hfsx.manifest", {}},
        {"journaled.hfsp", "journaled.hfsp.replayed.manifest", {}},  // as its journal leaves it
        // The wrapper's embedded volume, never the wrapper's own file.
        {"wrapped.hfs", "wrapped.hfs.manifest", {}},
        // The first HFS+ partition, the second chosen, and classic HFS chosen behind it.
        {"apm.img", "apm.img.manifest.1", {}}, {"apm.img", "apm.img.manifest.2", {"--partition", "3"}},
        {"apm.img", "apm.img.manifest.3", {"--partition", "4"}},
        {"gpt.img", "gpt.img.manifest", {}}, {"mbr.img", "mbr.img.manifest", {}},
        // In a UDIF of every chunk kind, and gzipped.
        {"../containers/hfsplus-apm.dmg", "apm.img.manifest.1", {}},
        {"../containers/hfsplus-apm.dmg", "apm.img.manifest.2", {"--partition", "3"}},
        {"../containers/hfsplus-forks.hfsp.gz", "forks.hfsp.manifest", {}},
    };
    const std::string dir = test::fixturePath("hfsplus") + "/";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " as " + c.manifest);
        expectCopied(dir + c.image, manifestTree(dir + c.manifest), c.options);
    }
}

// xorriso's volume copied as 7-Zip extracts it, and counted by INFO.
TEST(HfsPlusMounted, XorrisoVolumeAsSevenZipExtractsIt) {
    const std::string image = test::fixturePath("hfsplus.iso");
    const Tree seven = sevenZipTree(image);
    EXPECT_GT(seven.size(), 300u);
    expectCopied(image, seven);
    // The header's counts are what 7-Zip extracts; the Finder type and creator are those given
    // to xorriso (fixtures/make_fixtures.sh).
    const auto folders = std::count_if(seven.begin(), seven.end(), [](const auto& e) { return e.second.folder; });
    const auto r = test::runCli({image, "INFO", "ATTRIB \"read me\""});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Number of files:\t" + std::to_string(seven.size() - folders) + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Number of folders:\t" + std::to_string(folders) + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Cluster Size:\t2048\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Name\tRead Me\nCreator\tttxt\nFiletype\tTEXT\n"), std::string::npos) << r.out;
}

// A folder reached through a hard link: ".." from it leads back to where the link lies, and the
// link's name stands for it there, so that a move up from inside it comes back to the link. (The
// links are copied as links, or as files naming their targets, in tests/cli/cli_test.cpp.)
TEST(HfsPlusMounted, FolderLinksLeadBackToWhereTheyLie) {
    test::MountedImage m(test::fixturePath("hfsplus/links.hfsp"));
    MountedVolume& volume = *m.session.mounted;
    const auto docs = volume.findEntry(kRootDirId, "Documents", NameMatch::Pattern);
    ASSERT_TRUE(docs);
    const auto again = volume.findEntry(docs->id, "Shared Again", NameMatch::Pattern);
    ASSERT_TRUE(again && again->isFolder());
    EXPECT_EQ(volume.parentOf(again->id), docs->id);
    const auto shared = volume.findEntry(kRootDirId, "Shared Folder Link", NameMatch::Pattern);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->id, again->id);
    EXPECT_EQ(volume.parentOf(shared->id), kRootDirId);
    EXPECT_EQ(volume.folderOfId(shared->id)->name, "Shared Folder Link");
}

// What quarry-cli says of each medium: the other volumes are named and fail no run; the HFS+
// check passes the volumes of real tools and the builder, and not one free block miscounted; names reach the terminal as NFC
// UTF-8, beyond what Macintosh Roman holds; a volume past 4 GiB mounts (its catalog lies past
// 4 GiB of the medium) at the size of its whole image; every changing word is refused with the
// format's name, and the image keeps its bytes.
TEST(HfsPlusMounted, WhatQuarryCliSaysOfTheMedium) {
    const std::string dir = test::fixturePath("hfsplus") + "/", huge = dir + "huge.hfsp";
    test::TempDir copies;
    const std::string miscounted = copies.file("miscounted.hfsp"), plus = copies.file("plus"), hfsx = copies.file("hfsx");
    std::string bytes = test::slurp(dir + "forks.hfsp");
    std::ofstream(plus, std::ios::binary) << bytes;
    ++bytes[1024 + 48 + 3];  // the low byte of the header's free-block count
    std::ofstream(miscounted, std::ios::binary) << bytes;
    std::filesystem::copy_file(dir + "case.hfsx", hfsx);
    const auto refused = [](const std::string& format) {
        const std::string line = "Quarry - : Quarry changes HFS volumes only; this " + format + " volume is not changed.\n";
        return line + line + line;
    };
    const Strings changes = {"MD New", "DEL Empty", "REN README X"};
    struct Run {
        Strings args;
        int exitCode;
        std::string err;
        std::optional<Strings> names;  // the first field of every output line
        Strings has = {};              // parts of the output
    };
    const std::string second = "Quarry - : Partition 2 is mounted. The medium also holds partition 3 (HFS+, \"Second\"), partition 4 "
                               "(HFS, \"Classic\").\n";
    const std::string third = "Quarry - : Partition 3 is mounted. The medium also holds partition 2 (HFS+, \"First\"), partition 4 "
                              "(HFS, \"Classic\").\n";
    std::vector<Run> runs = {
        {{dir + "apm.img", "DIR"}, 0, second, Strings{"one.txt"}},
        {{"--partition", "3", dir + "apm.img", "DIR"}, 0, third, Strings{"two.txt"}},
        {{"--partition", "9", dir + "apm.img", "DIR"}, 1, "Quarry - : The medium holds no HFS or HFS+ volume at partition 9.\n", Strings{}},
        {{dir + "apfs.img", "DIR"}, 1, "Quarry - : This is an APFS volume, which Quarry does not read.\n", Strings{}},
        {{dir + "apfs-container.img", "DIR"}, 1, "Quarry - : This is an APFS volume, which Quarry does not read.\n", Strings{}},
        // xorriso leaves a block marked in use that no fork holds: harmless on a volume it locks.
        {{"--check", test::fixturePath("hfsplus.iso")}, 0, "note: allocation file: 1 block(s) marked in use that no fork holds\n",
         Strings{}},
        {{"--check", dir + "apm.img"}, 0, second, Strings{}},
        {{"--check", "--partition", "3", dir + "apm.img"}, 0, third, Strings{}},
        {{"--check", miscounted}, 1, "", std::nullopt, {"free blocks, the allocation file has"}},
        {{test::fixturePath("hfsplus.iso"), "DIR"}, 0, "", std::nullopt,
         {"\nCaf\u00e9\t", "\nR\u00e9sum\u00e9 na\u00efve\t", "\n\u65e5\u672c\u8a9e\t", "\n\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430\t"}},
        {{huge, "INFO"}, 0, "", std::nullopt, {"Volume Size:\t" + std::to_string(std::filesystem::file_size(huge)) + "\n"}},
        // HFS+ names typed as the Macintosh matches them: case folded, a zero-width joiner passed
        // over, composed or not (xorriso stores them decomposed), the accent counting, the whole name
        // without '*', matches in catalog order (xorriso renamed the second "Mixed" to "Mixed_"); a
        // folder's valence, and ".." back. (Other scripts: tests/cli/cli_test.cpp.)
        {{test::fixturePath("hfsplus.iso"), "DIR \"Read Me\"", "DIR \"read me\"", "DIR \"READ ME\"", "DIR \"Re\u200Dad Me\"", "DIR Read",
          "DIR Read*", "DIR caf\u00E9", "DIR CAFE\u0301", "DIR cafe", "DIR mixed", "DIR MIXED_", "DIR m*", "DIR zz*", "CD docs",
          "DIR Z\u00DCRICH", "DIR zurich", "DIR deep", "CD ..", "DIR docs"},
         0, "",
         Strings{"Read Me", "Read Me", "Read Me", "Read Me", "[No file]", "Read Me", "Caf\u00E9", "Caf\u00E9", "[No file]", "MIXED",
                 "Mixed_", "Many", "MIXED", "Mixed_", "[No file]", "Z\u00FCrich", "[No file]", "Deep", "Docs"},
         {"Docs\t<DIR>\t\t[4]\t"}},
        // HFSX compares names exactly (HFS+ folds case, tests/hfsplus/volume_test.cpp): "dir" is
        // not "Dir", whose inner file is half as long.
        {{dir + "case.hfsx", "DIR README", "DIR ReadMe", "DIR readme", "DIR Readme", "DIR Read*", "CD dir", "DIR"}, 0, "",
         Strings{"README", "ReadMe", "readme", "[No file]", "ReadMe", "inner"}, {"\ninner\t20\t"}},
        {{"--write", "--yes", plus, changes[0], changes[1], changes[2]}, 1, refused("HFS+"), Strings{}},
        {{"--write", "--yes", hfsx, changes[0], changes[1], changes[2]}, 1, refused("HFSX"), Strings{}},
    };
    // The builder's other volumes are sound (journaled.hfsp's check: tests/hfsplus/journal_test.cpp).
    for (const char* sound : {"forks.hfsp", "links.hfsp", "compressed.hfsp", "case.hfsx", "huge.hfsp", "wrapped.hfs", "gpt.img", "mbr.img"})
        runs.push_back({{"--check", dir + sound}, 0, "", Strings{}});
    for (const Run& run : runs) {
        SCOPED_TRACE(testing::PrintToString(run.args));
        const auto r = test::runCli(run.args);
        EXPECT_EQ(r.exitCode, run.exitCode) << r.err;
        EXPECT_EQ(r.err, run.err);
        if (run.names) {
            EXPECT_EQ(test::firstFields(r.out), *run.names) << r.out;
        }
        for (const std::string& part : run.has) EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
    }
    EXPECT_TRUE(test::slurp(plus) == test::slurp(dir + "forks.hfsp"));
    EXPECT_TRUE(test::slurp(hfsx) == test::slurp(dir + "case.hfsx"));
}

}  // namespace
}  // namespace quarry
