// New volumes: laid out as hformat lays them out, byte for byte apart from the dates; hfsutils
// reads and goes on changing them; what cannot be made leaves no file behind and says why.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "hfs/byte_order.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

// The volume's first sectors (boot blocks, MDB, bitmap, both trees) and its last two (the
// alternate MDB and a spare), with the dates a formatting stamps (the MDB's two, each copy's,
// and the root folder's) made zero. The rest of a new volume is zeros, which is checked too.
std::string layoutOf(const std::string& image) {
    std::ifstream in(image, std::ios::binary);
    std::string head(512 * 3, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    auto* m = reinterpret_cast<const uint8_t*>(head.data() + 1024);
    const uint64_t alloc = uint64_t{loadBE16(m + 28)} * 512, blockSize = loadBE32(m + 20);
    const uint64_t trees = 2 * (uint64_t{loadBE16(m + 150)}) * blockSize;  // the catalog follows the extents tree
    const uint64_t size = std::filesystem::file_size(image);
    std::string out(alloc + trees, '\0');
    in.seekg(0);
    in.read(out.data(), static_cast<std::streamsize>(out.size()));
    std::string rest(1 << 20, '\0');
    for (uint64_t at = out.size(); at < size - 1024; at += rest.size()) {
        rest.assign(std::min<uint64_t>(rest.size(), size - 1024 - at), '\0');
        in.read(rest.data(), static_cast<std::streamsize>(rest.size()));
        if (rest.find_first_not_of('\0') != std::string::npos) return image + ": bytes past the trees at " + std::to_string(at);
    }
    std::string tail(1024, '\0');
    in.read(tail.data(), 1024);
    out += tail;
    for (size_t mdb : {size_t{1024}, out.size() - 1024}) std::fill_n(out.begin() + static_cast<long>(mdb) + 2, 8, '\0');
    auto* u = reinterpret_cast<const uint8_t*>(out.data());
    const size_t leaf = alloc + trees / 2 + size_t{loadBE32(u + alloc + trees / 2 + 16)} * 512;  // the catalog's root
    std::fill_n(out.begin() + static_cast<long>(leaf + 14 + 12 + 10), 8, '\0');  // dirCrDat, dirMdDat of "Test"
    return out;
}

TEST(NewVolume, LaidOutAsHformatAndChangedByBothPrograms) {
    TempDir dir;
    // The floppies, a volume of 512-byte blocks and bitmap sectors to match, and one of 16K
    // blocks whose trees need map nodes.
    for (const char* size : {"800k", "1440k", "20M", "1G"}) {
        SCOPED_TRACE(size);
        const std::string ours = dir.path() + "/ours.img", theirs = dir.path() + "/theirs.img";
        std::filesystem::remove(ours);
        std::filesystem::remove(theirs);
        const ProcessResult made = runCli({"--new-volume", "Test", "--size", size, ours});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        EXPECT_EQ(made.out + made.err, "");
        std::ofstream{theirs};
        std::filesystem::resize_file(theirs, std::filesystem::file_size(ours));
        ASSERT_TRUE(runProcess({"hformat", "-l", "Test", theirs}, {"HOME=" + dir.path()}).succeeded());
        EXPECT_TRUE(layoutOf(ours) == layoutOf(theirs));
    }
    // The lines run on the new volume, written; hfsutils goes on from there, and Quarry after it.
    const std::string image = dir.path() + "/work.img";
    const std::string pcFile = dir.path() + "/note.txt";
    std::ofstream(pcFile) << "a note";
    ProcessResult r = runCli({"--new-volume", "Work Disk", "--size", "1440k", image, "MD Letters", "CD Letters", "MD Old"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(hmountVolumeName(image), "Work Disk");
    ASSERT_TRUE(hfsutilsChange(image, {{"hmkdir", ":Letters:New"}, {"hcopy", "-r", pcFile, ":Letters:Note"}}));
    r = runCli({"--write", image, "CD Letters", "REN Note Kept", "RD Old"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(hlsTree(image), (std::vector<std::string>{":Letters\td 2", ":Letters:Kept\tf 6 0", ":Letters:New\td 0"}));
    EXPECT_EQ(runCli({"--check", image}).exitCode, 0);
    // hfsutils takes no volume below 800K; the 400K floppy is checked by Quarry alone.
    const std::string small = dir.path() + "/small.img";
    r = runCli({"--new-volume", "Small", "--size", "400k", small, "MD A", "DIR"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::filesystem::file_size(small), 400u * 1024);
    EXPECT_EQ(runCli({"--check", small}).exitCode, 0);
}

TEST(NewVolume, RefusedWithTheReasonAndNoFileLeft) {
    TempDir dir;
    const std::string image = dir.path() + "/new.img";
    struct Case {
        std::vector<std::string> args;
        std::string says;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {{"--new-volume", "X", "--size", "12q", image}, "quarry-cli: --size 12q: a size is a number, with K, M or G after it for those units (800k, 20M)\n", 2},
        {{"--new-volume", "X", "--size", "300k", image}, "quarry-cli: --size 300k: an HFS volume takes at least 400K\n", 2},
        {{"--new-volume", "X", "--size", "3G", image}, "quarry-cli: --size 3G: an HFS volume holds at most 2 GB\n", 2},
        {{"--new-volume", "X", "--size", "800001", image}, "quarry-cli: --size 800001: a volume is a whole number of 512-byte sectors\n", 2},
        {{"--new-volume", "X", image}, "quarry-cli: --new-volume and --size go together\n", 2},
        {{"--new-volume", "A:B", "--size", "800k", image}, "quarry-cli: --new-volume A:B: a volume's name has 1 to 27 characters and no ':'\n", 2},
        {{"--new-volume", std::string(28, 'n'), "--size", "800k", image}, "quarry-cli: --new-volume " + std::string(28, 'n') + ": a volume's name has 1 to 27 characters and no ':'\n", 2},
        {{"--new-volume", "A\xE2\x9C\x93", "--size", "800k", image}, "quarry-cli: --new-volume A\xE2\x9C\x93: a character of the name is not one a Macintosh name can hold\n", 2},
        {{"--new-volume", "X", "--size", "800k", dir.path()}, "quarry-cli: " + dir.path() + ": Is a directory\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args.back());
        const ProcessResult r = runCli(c.args);
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_FALSE(std::filesystem::exists(image));
    }
    // A file that holds anything is kept as it was.
    std::ofstream(image) << "keep me";
    ProcessResult r = runCli({"--new-volume", "X", "--size", "800k", image});
    EXPECT_EQ(r.err, "quarry-cli: " + image + ": the file exists and is not empty; a new volume is made only in a new or empty file\n");
    EXPECT_EQ(slurp(image), "keep me");
    // A disk that cannot take the volume (here a limit on the size of files): the reason, and
    // the file made for it is gone again.
    std::filesystem::remove(image);
    r = runProcess({"sh", "-c", "ulimit -f 100 && exec \"$0\" --new-volume X --size 800k \"$1\"", QUARRY_CLI_PATH, image});
    EXPECT_EQ(r.err, "quarry-cli: " + image + ": File too large\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(image));
}

// DiskCopy 4.2 images, new or old, take changes; their header is what an independent writer
// (tests/fixtures/containers.pl) makes of the same disk, checksum included, after every change.
TEST(NewVolume, DiskCopyImagesAreMadeAndChanged) {
    TempDir dir;
    auto expectHeaderOfItsDisk = [&](const std::string& image) {
        const std::string bytes = slurp(image);
        std::ofstream(dir.file("disk.raw"), std::ios::binary) << bytes.substr(84);
        ASSERT_TRUE(runProcess({"perl", std::string(QUARRY_SAMPLE_DIR) + "/../tests/fixtures/containers.pl", "dc42", dir.file("disk.raw"),
                                dir.file("expected.dc42")})
                        .succeeded());
        // All but the name, which that writer chooses itself, and the disk's kind, which it
        // always gives as 1440K.
        const std::string expected = slurp(dir.file("expected.dc42"));
        EXPECT_TRUE(expected.substr(64, 16) == bytes.substr(64, 16) && expected.substr(82) == bytes.substr(82)) << image;
    };
    const std::string image = dir.file("Transfer.image");
    ProcessResult r = runCli({"--new-volume", "Transfer", "--size", "800k", image, "MD Letters"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectHeaderOfItsDisk(image);
    EXPECT_EQ(slurp(image).substr(0, 9), "\x08Transfer");
    EXPECT_EQ(slurp(image).substr(80, 2), "\x01\x22");  // an 800K disk of the Macintosh
    EXPECT_EQ(hlsTree(dir.file("disk.raw")), (std::vector<std::string>{":Letters\td 0"}));

    const std::string old = dir.file("basic.dc42");
    std::filesystem::copy_file(fixturePath("containers/basic.dc42"), old);
    r = runCli({"--write", old, "MD New", "REN aardvark Aardvark"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expectHeaderOfItsDisk(old);
    EXPECT_EQ(hlsLookup(dir.file("disk.raw"), {":New"})[0].has_value(), true);
    EXPECT_EQ(runCli({"--check", old}).exitCode, 0);

    r = runCli({"--new-volume", "Big", "--size", "20M", dir.file("big.dc42")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("a DiskCopy 4.2 image (.dc42, .image) holds a disk of 400K, 720K, 800K or 1440K"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("big.dc42")));
}

}  // namespace
}  // namespace quarry::test
