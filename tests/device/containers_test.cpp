// Containers made by tests/fixtures/containers.pl from fixture volumes: the adapter must serve
// exactly the volume inside (checked against bchunk and dmg2img where they read the container),
// and quarry-cli must list and copy from it what it lists and copies from the bare volume.
// Damaged containers must be refused with their message.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "device/containers/image_source.h"
#include "device/device_test_support.h"
#include "device/image_adapter.h"
#include "device/scsi_cdb.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

std::string container(const std::string& name) { return test::fixturePath("containers/") + name; }

enum class Oracle { None, Bchunk, Dmg2img };

struct Wrapped {
    std::string file;  // in containers/
    const char* bare;  // the fixture volume it was made from
    uint64_t skip;     // where the medium served begins in the bare image (a chosen partition)
    uint64_t size;     // bytes served
    Oracle oracle;     // bchunk reads the cue sheet and the .bin beside it
    std::vector<std::string> wrappings = {};  // the same file again inside these (".gz", ".zip"), for no oracle
};

constexpr uint64_t kFloppy = 1474560, kHybrid = 1210368;
constexpr uint64_t kHybridHfsStart = 16 * 512, kHybridHfsSize = 1748 * 512;  // tests/fixtures/README.md

const Wrapped kWrapped[] = {
    {"basic.dc42", "basic.hfs", 0, kFloppy, Oracle::None, {".gz"}},
    {"bad-checksum.dc42", "basic.hfs", 0, kFloppy, Oracle::None},
    {"hybrid-mode1.cue", "hybrid.iso", 0, kHybrid, Oracle::Bchunk},
    {"hybrid-mode2.cue", "hybrid.iso", 0, kHybrid, Oracle::Bchunk},
    {"hybrid-mode1.bin", "hybrid.iso", 0, kHybrid, Oracle::None, {".gz"}},
    {"hybrid-mode2.bin", "hybrid.iso", 0, kHybrid, Oracle::None, {".gz"}},
    {"hybrid-mixed.cue", "hybrid.iso", 0, kHybrid, Oracle::None},
    {"hybrid-2048.cue", "hybrid.iso", 0, kHybrid, Oracle::None},
    // libcue reads past what it cannot parse; what it said about it must not reach the person.
    {"bad-syntax.cue", "hybrid.iso", 0, kHybrid, Oracle::None},
    {"basic-raw.dmg", "basic.hfs", 0, kFloppy, Oracle::Dmg2img, {".gz"}},
    {"basic-zlib.dmg", "basic.hfs", 0, kFloppy, Oracle::Dmg2img, {".gz"}},
    {"basic-bzip2.dmg", "basic.hfs", 0, kFloppy, Oracle::Dmg2img, {".gz"}},
    {"basic-adc.dmg", "basic.hfs", 0, kFloppy, Oracle::Dmg2img, {".gz", ".zip"}},
    {"hybrid-parts.dmg", "hybrid.iso", kHybridHfsStart, kHybridHfsSize, Oracle::Dmg2img, {".gz"}},
};

// What the other tool makes of the container, cut to the medium the adapter serves.
std::string oracleBytes(const Wrapped& w, const test::TempDir& dir) {
    std::vector<std::string> argv;
    std::string out;
    if (w.oracle == Oracle::Bchunk) {
        std::string bin = container(w.file);
        bin.replace(bin.size() - 3, 3, "bin");
        argv = {"bchunk", bin, container(w.file), dir.file("track")};
        out = dir.file("track01.iso");
    } else {
        argv = {"dmg2img", "-s", container(w.file), dir.file("disk.img")};
        out = dir.file("disk.img");
    }
    const test::ProcessResult run = test::runProcess(argv);
    EXPECT_TRUE(run.succeeded()) << run.describe(argv);
    const std::string bytes = test::slurp(out);
    return bytes.size() < w.skip ? std::string() : bytes.substr(w.skip, w.size);
}

// quarry-cli's listing and a MacBinary copy of everything, with what it said on standard error.
struct CliRun {
    std::string out, err;
    std::set<std::string> files;
    std::string copied;
};
CliRun listAndCopy(const std::string& image) {
    test::TempDir target;
    const test::ProcessResult run = test::runCli({"--to", target.path(), image, "DIR", "COPY /B *"});
    EXPECT_EQ(run.exitCode, 0) << image << ": " << run.err;
    CliRun r{run.out, run.err, test::tree(target.path()), {}};
    for (const std::string& f : r.files)
        if (std::filesystem::is_regular_file(target.file(f))) r.copied += f + "\n" + test::slurp(target.file(f));
    return r;
}

uint32_t statedChecksum(const std::string& dc42) { return be32(reinterpret_cast<const uint8_t*>(test::slurp(dc42).data()) + 72); }

std::string hex32(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

// The adapter serves the bare volume's bytes, as bchunk and dmg2img read them; quarry-cli lists
// and copies from the container what it does from the bare volume, where the kernel's copy must
// not take the container's own bytes. A wrong DiskCopy checksum is told, and the run goes on.
TEST(Containers, ServeTheVolumeInsideAsTheBareOneAndTheOtherTools) {
    std::vector<Wrapped> all;
    for (const Wrapped& w : kWrapped) {
        all.push_back(w);
        for (const std::string& wrapping : w.wrappings) all.push_back({w.file + wrapping, w.bare, w.skip, w.size, Oracle::None});
    }
    std::map<std::string, CliRun> bare;
    for (const Wrapped& w : all) {
        SCOPED_TRACE(w.file);
        ImageAdapter images;
        ASSERT_TRUE(images.addImage(container(w.file), ImageAccess::ReadOnly));
        EXPECT_EQ(images.imageSize(0), w.size);
        std::string expected = test::slurp(test::fixturePath(w.bare)).substr(w.skip, w.size);
        expected.resize((w.size + 2047) / 2048 * 2048, '\0');
        const std::string bytes = devicetest::served(images);
        EXPECT_TRUE(bytes == expected) << "the blocks served differ from " << w.bare;
        // The BINs carry the EDC that Digest::CRC computed: every sector passes the check.
        EXPECT_EQ(images.takeReadWarnings(), std::vector<std::string>{});
        if (w.oracle != Oracle::None) {
            test::TempDir dir;
            std::string other = oracleBytes(w, dir);
            other.resize(bytes.size(), '\0');
            EXPECT_TRUE(bytes == other) << "the blocks served differ from what " << (w.oracle == Oracle::Bchunk ? "bchunk" : "dmg2img") << " makes";
        }

        if (!bare.count(w.bare)) bare[w.bare] = listAndCopy(test::fixturePath(w.bare));
        const CliRun& want = bare[w.bare];
        ASSERT_GT(want.files.size(), 5u) << "nothing was copied from " << w.bare;
        const CliRun got = listAndCopy(container(w.file));
        EXPECT_EQ(got.out, want.out);
        EXPECT_EQ(got.files, want.files);
        EXPECT_TRUE(got.copied == want.copied) << "the copies differ";
        EXPECT_EQ(got.err, std::string(w.file) != "bad-checksum.dc42"
                               ? ""
                               : "Quarry - : The DiskCopy image is damaged: data checksum " + hex32(statedChecksum(container("basic.dc42"))) +
                                     " where the header says " + hex32(statedChecksum(container("bad-checksum.dc42"))) + "\n");
    }
}

constexpr const char* kEdcWarning = "The BIN/CUE image's sectors 4, 300 fail their EDC check: the data read may be damaged";

TEST(Containers, SectorsThatFailTheirEdcAreServedAsStoredAndNamedOnce) {
    test::TempDir dir;
    const test::ProcessResult run = test::runProcess({"bchunk", container("bad-edc.bin"), container("bad-edc.cue"), dir.file("track")});
    ASSERT_TRUE(run.succeeded()) << run.err;
    const std::string converted = test::slurp(dir.file("track01.iso"));
    ASSERT_NE(converted, test::slurp(test::fixturePath("hybrid.iso"))) << "the damage lies outside the user data";
    for (const char* file : {"bad-edc.cue", "bad-edc.bin"}) {
        SCOPED_TRACE(file);
        ImageAdapter images;
        ASSERT_TRUE(images.addImage(container(file), ImageAccess::ReadOnly));
        EXPECT_EQ(images.takeReadWarnings(), std::vector<std::string>{});
        // Byte for byte as stored, as bchunk (which ignores the EDC) converts it.
        EXPECT_TRUE(devicetest::served(images) == converted);
        EXPECT_EQ(images.takeReadWarnings(), std::vector<std::string>{kEdcWarning});
        devicetest::served(images);
        EXPECT_EQ(images.takeReadWarnings(), std::vector<std::string>{}) << "each sector is named once";
    }
    // The mount reads sector 4, where the volume begins, and not sector 300: DIR names the one.
    // The run fails, even when it ends with QUIT.
    const test::ProcessResult dirRun = test::runCli({"--yes", container("bad-edc.cue"), "DIR", "QUIT"});
    EXPECT_EQ(dirRun.exitCode, 1);
    EXPECT_EQ(dirRun.err,
              "Quarry - : The BIN/CUE image's sector 4 fails its EDC check: the data read may be damaged\n"
              "Quarry - : Do you really want to quit? [Yes]\n");
    EXPECT_EQ(dirRun.out, test::runCli({test::fixturePath("hybrid.iso"), "DIR"}).out);
}

// Sectors of a copy of a good BIN changed in place: which are checked, and how many are named.
TEST(Containers, WhichSectorsTheEdcCheckNames) {
    // A byte of the raw sector changed, or with kClearEdc the mode 1 EDC cleared to zero.
    constexpr size_t kClearEdc = SIZE_MAX;
    struct Change {
        uint64_t sector;
        size_t at;
        uint8_t mask;
    };
    struct Case {
        const char* bin;
        std::vector<Change> changes;
        std::vector<std::string> warnings;
        bool mountOnly = false;  // quarry-cli's DIR reads the image, rather than every block in turn
    };
    std::vector<Change> thirteen;
    for (uint64_t sector = 20; sector < 33; ++sector) thirteen.push_back({sector, 1000, 0x01});
    const Case cases[] = {
        {"hybrid-mode1.bin", thirteen,
         {"The BIN/CUE image's sectors 20, 21, 22, 23, 24, 25, 26, 27, 28, 29 and 3 more fail their EDC check: the data read may be damaged"}},
        // In mode 2 form 1 the subheader is covered too, and the sync and header are not.
        {"hybrid-mode2.bin", {{7, 16, 0x01}, {9, 2071, 0x80}, {11, 3, 0xFF}, {12, 14, 0x01}},
         {"The BIN/CUE image's sectors 7, 9 fail their EDC check: the data read may be damaged"}},
        // A stored EDC of zero is none; a form 2 sector keeps its EDC elsewhere.
        {"hybrid-mode1.bin", {{5, kClearEdc, 0}, {5, 2000, 0x10}, {6, 2063, 0x02}},
         {"The BIN/CUE image's sector 6 fails its EDC check: the data read may be damaged"}},
        {"hybrid-mode2.bin", {{8, 18, 0x20}, {8, 500, 0x04}}, {}},
        // Sector 60 is read ahead with the volume's first sector, but it is not served.
        {"hybrid-mode1.bin", {{4, 1000, 0x01}, {60, 1000, 0x01}},
         {"The BIN/CUE image's sector 4 fails its EDC check: the data read may be damaged"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.warnings.empty() ? "form 2" : c.warnings[0]);
        test::TempDir dir;
        std::string bin = test::slurp(container(c.bin));
        for (const Change& change : c.changes) {
            if (change.at == kClearEdc) std::fill_n(bin.begin() + static_cast<ptrdiff_t>(change.sector * 2352 + 2064), 4, '\0');
            else bin[change.sector * 2352 + change.at] ^= static_cast<char>(change.mask);
        }
        std::ofstream(dir.file("changed.bin"), std::ios::binary) << bin;
        if (c.mountOnly) {
            std::string said;
            for (const std::string& warning : c.warnings) said += "Quarry - : " + warning + "\n";
            EXPECT_EQ(test::runCli({dir.file("changed.bin"), "DIR"}).err, said);
            continue;
        }
        ImageAdapter images;
        ASSERT_TRUE(images.addImage(dir.file("changed.bin"), ImageAccess::ReadOnly));
        devicetest::served(images);
        EXPECT_EQ(images.takeReadWarnings(), c.warnings);
    }
}

TEST(Containers, DamagedOnesAreRefusedWithTheirMessage) {
    struct Damaged {
        std::vector<std::string> args;  // before the image
        const char* file;
        std::string message;
        std::string environment;
    };
    const Damaged cases[] = {
        {{}, "cut.dc42", "The DiskCopy image is damaged: the header says 1474560 data bytes and 0 tag bytes, but the file holds only 737280 after the header", ""},
        {{}, "cut-trailer.dmg", "The UDIF image is damaged: its koly trailer is cut short", ""},
        {{}, "bad-plist.dmg", "The UDIF image is damaged: its property list is not well-formed XML (line 35)", ""},
        {{}, "bad-offset.dmg", "The UDIF image is damaged: blkx table 0 (disk image (Apple_HFS : 0)) chunk 1 lies at bytes 10", ""},
        {{}, "lzfse.dmg", "The UDIF image uses LZFSE compression, which Quarry does not support", ""},
        {{}, "cut.dmg.gz", "The gzip file is damaged: unexpected end of file", ""},
        {{}, "no-image.zip", "The zip file holds 2 files, and none of them holds a Macintosh volume", ""},
        {{"--member", "Disks/hybrid.iso"}, "several.zip", "The zip file holds no member named \"Disks/hybrid.iso\"", ""},
        {{"--member", "hybrid.iso"}, "basic.dc42", "cannot open " + container("basic.dc42") + ": only a zip file has members to choose from", ""},
        {{}, "missing-bin.cue", "cannot open " + container("missing.bin") + ", the track file the cue sheet names: No such file or directory", ""},
        {{"--write"}, "basic-raw.dmg", "cannot open " + container("basic-raw.dmg") + ": a UDIF image opens only for reading", ""},
        {{}, "basic.dc42.gz", "cannot make a temporary file in /nonexistent/tmp: No such file or directory", "TMPDIR=/nonexistent/tmp"},
    };
    for (const Damaged& d : cases) {
        SCOPED_TRACE(d.file);
        std::vector<std::string> argv = {QUARRY_CLI_PATH};
        argv.insert(argv.end(), d.args.begin(), d.args.end());
        argv.insert(argv.end(), {container(d.file), "DIR"});
        const test::ProcessResult run = test::runProcess(argv, {test::testTimeZone(), d.environment.empty() ? "QUARRY_UNUSED=" : d.environment});
        EXPECT_EQ(run.exitCode, 1);
        // Where a chunk lies depends on how well the volume compressed; the message is matched up to there.
        EXPECT_EQ(run.err.substr(0, std::min(run.err.size(), 11 + d.message.size())), "Quarry - : " + d.message);
        EXPECT_EQ(run.err.back(), '\n');
        EXPECT_EQ(run.out, "");
    }
}

// A zip archive of several files opens the image among them, and of several images each one by
// its name: quarry-cli lists them without --member, the adapter makes each a drive of its own.
// What lies under __MACOSX/ is never taken, though it holds a volume here.
TEST(Containers, ZipsOfSeveralFilesOpenTheirImages) {
    const std::string basicListing = test::runCli({test::fixturePath("basic.hfs"), "DIR"}).out;
    const std::string hybridListing = test::runCli({test::fixturePath("hybrid.iso"), "DIR"}).out;
    ASSERT_NE(basicListing, hybridListing);

    const test::ProcessResult listed = test::runCli({container("several.zip"), "DIR"});
    EXPECT_EQ(listed.exitCode, 1);
    EXPECT_EQ(listed.out, "basic.dc42\ndisks/hybrid.iso\n");
    EXPECT_EQ(listed.err, "Quarry - : " + container("several.zip") + " holds 2 Macintosh volumes; name the one to open with --member NAME:\n");

    struct Named {
        std::vector<std::string> args;
        const std::string& listing;
    };
    const Named cases[] = {
        {{"--member", "basic.dc42", container("several.zip")}, basicListing},
        {{"--member", "disks/hybrid.iso", container("several.zip")}, hybridListing},
        {{"--member", "hybrid.iso", container("several.zip")}, hybridListing},  // its last part
        {{container("one-image.zip")}, basicListing},
    };
    for (const Named& n : cases) {
        std::vector<std::string> args = n.args;
        SCOPED_TRACE(args.front());
        args.push_back("DIR");
        const test::ProcessResult run = test::runCli(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, n.listing);
    }

    // The report names the member its byte runs lie in.
    test::TempDir dir;
    ASSERT_EQ(test::runCli({"--member", "hybrid.iso", "--dfxml", dir.file("r.xml"), container("several.zip")}).exitCode, 0);
    EXPECT_NE(test::slurp(dir.file("r.xml")).find("<container>zip</container>\n  <member>disks/hybrid.iso</member>"), std::string::npos);

    ImageAdapter images;
    Result<std::vector<int>> targets = images.addImages(container("several.zip"), ImageAccess::ReadOnly);
    ASSERT_TRUE(targets) << targets.fault();
    ASSERT_EQ(*targets, (std::vector<int>{0, 1}));
    EXPECT_EQ(images.imageMember(1), "disks/hybrid.iso");
    EXPECT_EQ(test::slurp(test::fixturePath("hybrid.iso")), devicetest::served(images, 1).substr(0, images.imageSize(1)));
    uint8_t reply[36] = {};
    ScsiCommand inquiry = devicetest::commandOf({scsi::kInquiry, 0, 0, 0, sizeof reply, 0}, DataDirection::In, sizeof reply, reply);
    ASSERT_EQ(images.execute(1, inquiry), aspi::kCompleted);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply) + 16, 16), "hybrid.iso      ");
    // Images past the adapter's last target are counted, not opened.
    size_t left = 0;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(images.addImages(container("several.zip"), ImageAccess::ReadOnly, {}, &left));
    ASSERT_TRUE(images.addImage(test::fixturePath("basic.hfs"), ImageAccess::ReadOnly));
    ASSERT_EQ(images.addImages(container("several.zip"), ImageAccess::ReadOnly, {}, &left)->size(), 1u);
    EXPECT_EQ(left, 1u);
    EXPECT_EQ(images.imageMember(7), "basic.dc42");
    EXPECT_FALSE(images.addImages(container("several.zip"), ImageAccess::ReadOnly));
}

}  // namespace
}  // namespace quarry
