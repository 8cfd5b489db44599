// HFS+ and HFSX volumes mounted as the programs mount them (the partition scan, then the volume
// behind the seam), every entry walked and every fork read, held to the builder's manifests and
// to 7-Zip's extraction; and quarry-cli's answers on them.

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
#include "support/memory_sink.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using Strings = std::vector<std::string>;

// One file or folder as a reader gives it: "d" for a folder, else the data fork's length and
// SHA-256 and the resource fork's SHA-256 ("-" where it has none).
struct Seen {
    bool folder = false;
    uint64_t size = 0;
    std::string data = "-", rsrc = "-";
    bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << (s.folder ? "d" : "f " + std::to_string(s.size) + " " + s.data + " " + s.rsrc);
}
using Tree = std::map<std::string, Seen>;

std::string digest(MountedVolume& volume, const VolumeEntry& e, ForkKind fork) {
    std::unique_ptr<ForkReader> reader = volume.openFork(e, fork);
    if (reader->length() == 0) return "-";
    Sha256Sink sink;
    if (Status s = reader->copyTo(sink); !s) return "refused: " + s.fault();
    return sink.hex();
}

// Every entry below folder `id`, by NFC path, its forks read whole.
void walk(MountedVolume& volume, uint32_t id, const std::string& prefix, Tree& tree, int depth = 0) {
    ASSERT_LT(depth, 32) << "folders nest too deep at " << prefix;
    std::vector<VolumeEntry> entries;
    EXPECT_TRUE(volume.visitFolder(id, [&](const VolumeEntry& e) {
        entries.push_back(e);
        return true;
    })) << volume.lastFault();
    for (const VolumeEntry& e : entries) {
        const std::string path = prefix + e.name;
        if (e.isFolder()) {
            tree[path].folder = true;
            walk(volume, e.id, path + "/", tree, depth + 1);
        } else {
            tree[path] = {false, e.data.logical, digest(volume, e, ForkKind::Data), digest(volume, e, ForkKind::Resource)};
        }
    }
}

Tree mountedTree(const std::string& image, std::optional<uint32_t> partition = std::nullopt) {
    test::MountedImage m(image, test::MountExpected::No);
    m.session.partitionChoice = partition;
    if (partition) m.mountResult = mountVolume(m.session);
    Tree tree;
    if (m.mountResult != 1 || !m.session.mounted) {
        ADD_FAILURE() << image << " does not mount: " << MountFailureText(m.session);
        return tree;
    }
    walk(*m.session.mounted, kRootDirId, "", tree);
    return tree;
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
        // The builder names no bytes of its own for the journal's files.
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

TEST(HfsPlusMounted, EveryEntryAndForkAsTheBuilderWroteIt) {
    struct Case {
        const char* image;
        const char* manifest;
        std::optional<uint32_t> partition;
    };
    const Case cases[] = {
        {"forks.hfsp", "forks.hfsp.manifest", {}}, {"links.hfsp", "links.hfsp.manifest", {}},
        {"compressed.hfsp", "compressed.hfsp.manifest", {}}, {"case.hfsx", "case.hfsx.manifest", {}},
        {"journaled.hfsp", "journaled.hfsp.replayed.manifest", {}},  // as its journal leaves it
        // The wrapper's embedded volume, never the wrapper's own file.
        {"wrapped.hfs", "wrapped.hfs.manifest", {}},
        // The first HFS+ partition, the second chosen, and classic HFS chosen behind it.
        {"apm.img", "apm.img.manifest.1", {}}, {"apm.img", "apm.img.manifest.2", 3}, {"apm.img", "apm.img.manifest.3", 4},
        {"gpt.img", "gpt.img.manifest", {}}, {"mbr.img", "mbr.img.manifest", {}},
        // In a UDIF of every chunk kind, and gzipped.
        {"../containers/hfsplus-apm.dmg", "apm.img.manifest.1", {}}, {"../containers/hfsplus-apm.dmg", "apm.img.manifest.2", 3},
        {"../containers/hfsplus-forks.hfsp.gz", "forks.hfsp.manifest", {}},
    };
    const std::string dir = test::fixturePath("hfsplus") + "/";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " as " + c.manifest);
        const Tree mounted = mountedTree(dir + c.image, c.partition);
        Tree expected = manifestTree(dir + c.manifest);
        for (auto& [path, s] : expected)
            if (s.data == "any" && mounted.contains(path)) s.data = mounted.at(path).data;
        EXPECT_EQ(mounted, expected);
    }
}

std::string digestOf(std::string_view bytes) {
    if (bytes.empty()) return "-";
    Sha256Sink sink;
    sink.write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return sink.hex();
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

// Every file copied by quarry-cli's COPY /B in AppleDouble holds the bytes the oracle gives,
// under its Unicode name (with the type's extension where the name has none), its resource
// fork in the "._" file beside it; a file the volume cannot give is named and not made.
void expectCopied(const std::string& image, const Tree& expected) {
    test::TempDir dir;
    const auto r = test::runCli({"-q", "--binary-format", "appledouble", "--to", dir.path(), image, "COPY /B *"});
    std::map<std::string, std::string> made;  // PC path (NFC) -> real path
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir.path()))
        if (f.is_regular_file() && f.path().filename().string().rfind("._", 0) != 0)
            made[hfsplus::toNfc(std::filesystem::relative(f.path(), dir.path()).string())] = f.path().string();
    size_t files = 0;
    for (const auto& [path, want] : expected) {
        if (want.folder) continue;
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
        EXPECT_EQ(digestOf(test::slurp(at->second)), want.data) << path;
        EXPECT_EQ(sidecarResource((pc.parent_path() / ("._" + pc.filename().string())).string()), want.rsrc) << path;
    }
    EXPECT_EQ(made.size(), files) << image;
}

TEST(HfsPlusMounted, BuilderVolumesCopiedAsTheirManifestsSay) {
    for (const char* image : {"forks.hfsp", "links.hfsp", "compressed.hfsp", "case.hfsx", "wrapped.hfs"}) {
        const std::string path = test::fixturePath("hfsplus") + "/" + image;
        expectCopied(path, manifestTree(path + ".manifest"));
    }
}

// xorriso's volume walked through the mount and copied as 7-Zip extracts it, and counted by INFO.
TEST(HfsPlusMounted, XorrisoVolumeAsSevenZipExtractsIt) {
    const std::string image = test::fixturePath("hfsplus.iso");
    const Tree seven = sevenZipTree(image);
    EXPECT_GT(seven.size(), 300u);
    EXPECT_EQ(mountedTree(image), seven);
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
    // A volume past 4 GiB mounts (its catalog lies past 4 GiB of the medium), and its size is its
    // whole image, not what 32 bits keep of it.
    const std::string huge = test::fixturePath("hfsplus/huge.hfsp");
    const auto h = test::runCli({huge, "INFO"});
    ASSERT_EQ(h.exitCode, 0) << h.err;
    EXPECT_NE(h.out.find("Volume Size:\t" + std::to_string(std::filesystem::file_size(huge)) + "\n"), std::string::npos)
        << h.out;
}

TEST(HfsPlusMounted, LinksLeadToTheirTargetsAndHfsxTellsCaseApart) {
    test::MountedImage m(test::fixturePath("hfsplus/links.hfsp"));
    MountedVolume& volume = *m.session.mounted;
    const auto link = volume.findEntry(kRootDirId, "link to*", NameMatch::Pattern);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->kind, EntryKind::SymbolicLink);
    // (Its target is held to quarry-cli's sheet, tests/cli/hfsplus_cli_test.cpp.)
    EXPECT_EQ(volume.findEntry(kRootDirId, "Dangling", NameMatch::Pattern)->linkTarget, "/nowhere/at all");
    // The folder links lead to one folder, and ".." from it leads back to where the link lies
    // (the hard links' bytes are held to the manifest above).
    const auto docs = volume.findEntry(kRootDirId, "Documents", NameMatch::Pattern);
    ASSERT_TRUE(docs);
    const auto again = volume.findEntry(docs->id, "Shared Again", NameMatch::Pattern);
    ASSERT_TRUE(again && again->isFolder());
    EXPECT_EQ(volume.parentOf(again->id), docs->id);
    const auto shared = volume.findEntry(kRootDirId, "Shared Folder Link", NameMatch::Pattern);
    EXPECT_EQ(shared->id, again->id);
    EXPECT_EQ(volume.parentOf(shared->id), kRootDirId);
    EXPECT_EQ(volume.folderOfId(shared->id)->name, "Shared Folder Link");

    // HFSX compares names exactly (HFS+ folds case, tests/hfsplus/volume_test.cpp).
    test::MountedImage x(test::fixturePath("hfsplus/case.hfsx"));
    MountedVolume& hfsx = *x.session.mounted;
    EXPECT_EQ(hfsx.format(), VolumeFormat::Hfsx);
    EXPECT_TRUE(hfsx.figures().caseSensitive);
    for (const char* name : {"README", "ReadMe", "readme"}) EXPECT_EQ(hfsx.findEntry(kRootDirId, name, NameMatch::Pattern)->name, name);
    EXPECT_FALSE(hfsx.findEntry(kRootDirId, "Readme", NameMatch::Pattern));
    EXPECT_EQ(hfsx.findEntry(kRootDirId, "Read*", NameMatch::Pattern)->name, "ReadMe");
    // An entry's key finds it again exactly.
    const auto dir = hfsx.findEntry(kRootDirId, "dir", NameMatch::Pattern);
    ASSERT_TRUE(dir);
    EXPECT_EQ(hfsx.findEntry(kRootDirId, dir->key, NameMatch::Exact)->id, dir->id);
}

TEST(HfsPlusMounted, NeverChanged) {
    // Every changing word is refused with the format's name, and the image keeps its bytes.
    for (const char* fixture : {"hfsplus/forks.hfsp", "hfsplus/case.hfsx"}) {
        test::TempDir dir;
        const std::string image = dir.file("volume");
        std::filesystem::copy_file(test::fixturePath(fixture), image);
        const std::string before = test::slurp(image);
        const auto r = test::runCli({"--write", "--yes", image, "MD New", "DEL Empty", "REN README X"});
        EXPECT_EQ(r.exitCode, 1);
        const std::string refusal = std::string("Quarry - : Quarry changes HFS volumes only; this ") +
                                    (std::string(fixture).ends_with("hfsx") ? "HFSX" : "HFS+") + " volume is not changed.\n";
        EXPECT_EQ(r.err, refusal + refusal + refusal);
        EXPECT_TRUE(test::slurp(image) == before);
    }
}

TEST(HfsPlusMounted, WhatQuarryCliSaysOfTheMedium) {
    const std::string dir = test::fixturePath("hfsplus") + "/";
    // The other volumes are named; they fail no run.
    auto r = test::runCli({dir + "apm.img", "DIR"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "Quarry - : Partition 2 is mounted. The medium also holds partition 3 (HFS+, \"Second\"), partition 4 "
                     "(HFS, \"Classic\").\n");
    EXPECT_EQ(test::firstFields(r.out), Strings{"one.txt"});
    r = test::runCli({"--partition", "3", dir + "apm.img", "DIR"});
    EXPECT_EQ(test::firstFields(r.out), Strings{"two.txt"});
    r = test::runCli({"--partition", "9", dir + "apm.img", "DIR"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Quarry - : The medium holds no HFS or HFS+ volume at partition 9.\n");
    for (const char* apfs : {"apfs.img", "apfs-container.img"}) {
        r = test::runCli({dir + apfs, "DIR"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "Quarry - : This is an APFS volume, which Quarry does not read.\n");
    }
    // --check runs the HFS+ check: a sound volume passes, one free block miscounted does not.
    r = test::runCli({"--check", dir + "forks.hfsp"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    test::TempDir cut;
    const std::string miscounted = cut.file("forks.hfsp");
    std::string bytes = test::slurp(dir + "forks.hfsp");
    ++bytes[1024 + 48 + 3];  // the low byte of the header's free-block count
    std::ofstream(miscounted, std::ios::binary) << bytes;
    r = test::runCli({"--check", miscounted});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("free blocks, the allocation file has"), std::string::npos) << r.out;
    // Names reach the terminal as NFC UTF-8, beyond what Macintosh Roman holds.
    r = test::runCli({test::fixturePath("hfsplus.iso"), "DIR"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const Strings names = test::firstFields(r.out);
    for (const char* name : {"Caf\u00e9", "R\u00e9sum\u00e9 na\u00efve", "\u65e5\u672c\u8a9e", "\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

}  // namespace
}  // namespace quarry
