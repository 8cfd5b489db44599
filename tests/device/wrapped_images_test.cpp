// Disk images carried in the Macintosh's file forms by other tools: hfsutils' hcopy -m
// (MacBinary II) and -b (BinHex), macutils' binhex, and Quarry's own COPY writers for
// AppleSingle and AppleDouble, of files put on an HFS volume with hcopy. Inside them: the
// fixture volume bare, in DiskCopy 4.2, gzipped, and as a Disk Copy 6 (NDIF) image in chunks
// that tests/fixtures/containers.pl builds with its block map in the resource fork. Each must
// open as the volume inside, listed by quarry-cli as the bare volume is; damaged ones are
// refused with their message, and no fixture image is ever taken for a wrapper.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "device/containers/open_image.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

const std::string kScripts = std::string(QUARRY_SAMPLE_DIR) + "/../tests/fixtures/";

// The files the tests open, made once: an HFS volume holding the images, and what the tools
// make of them.
class WrappedImages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        const std::vector<std::string> env = {"HOME=" + dir_->path(), "TZ=UTC"};
        const auto run = [&](const std::vector<std::string>& argv) {
            const test::ProcessResult r = test::runProcess(argv, env);
            ASSERT_TRUE(r.succeeded()) << r.describe(argv);
        };
        const auto sh = [&](const std::string& command) { run({"sh", "-c", "cd \"$0\" && " + command, dir_->path()}); };
        const std::string basic = test::fixturePath("basic.hfs");
        sh("gzip -c " + basic + " > basic.gz");
        for (const std::string& damage : {std::string(), std::string("past-end"), std::string("kind-81"), std::string("no-end")}) {
            const std::string name = damage.empty() ? "Disk" : damage;
            run({"perl", kScripts + "containers.pl", "ndif", basic, dir_->file(name + ".data"), dir_->file(name + ".bcem"), damage});
            run({"perl", kScripts + "macfiles.pl", "rsrcfork", dir_->file(name + ".rsrc"), "bcem:128:" + dir_->file(name + ".bcem")});
            run({"perl", kScripts + "macfiles.pl", "macbinary", dir_->file(name + ".img.bin"), name + ".img", "rohd", "dCpy",
                 dir_->file(name + ".data"), dir_->file(name + ".rsrc"), "2001-02-03 04:05:06", "2001-02-03 04:05:06"});
        }
        run({"perl", kScripts + "macfiles.pl", "macbinary", dir_->file("Bare.img.bin"), "Bare.img", "rohd", "dCpy", dir_->file("Disk.data"),
             "-", "2001-02-03 04:05:06", "2001-02-03 04:05:06"});
        sh("head -c 8388608 /dev/zero > vol.hfs && hformat -l Wrap vol.hfs >/dev/null && hmount vol.hfs >/dev/null"
           " && hcopy -r " + basic + " :Basic.img && hcopy -r " + test::fixturePath("containers/basic.dc42") +
           " :Basic.dc42 && hcopy -r basic.gz :Basic.gz && hcopy -m Disk.img.bin :"
           " && for f in Basic.img Basic.dc42 Basic.gz; do hattrib -t dImg -c dCpy :$f; done");
        for (const char* name : {"Basic.img", "Basic.dc42", "Basic.gz", "Disk.img"}) {
            const std::string n = name;
            sh("hcopy -m :" + n + " " + n + ".mb2 && hcopy -b :" + n + " " + n + ".hqx && binhex " + n + ".mb2 > " + n + ".mhqx");
        }
        run({"humount", dir_->file("vol.hfs")});
        for (const char* form : {"applesingle", "appledouble"})
            run({QUARRY_CLI_PATH, "--to", dir_->file(form), "--binary-format", form, dir_->file("vol.hfs"), "COPY /B *"});
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // A file the tools made; a name ending in '*' is the one file starting so (COPY adds the
    // extensions its naming gives the file's type to the name).
    static std::string file(const std::string& name) {
        if (name.empty() || name.back() != '*') return dir_->file(name);
        const fs::path prefix = dir_->file(name.substr(0, name.size() - 1));
        for (const auto& e : fs::directory_iterator(prefix.parent_path()))
            if (e.path().filename().string().rfind(prefix.filename().string(), 0) == 0) return e.path().string();
        return prefix.string();
    }

    static test::TempDir* dir_;
};
test::TempDir* WrappedImages::dir_ = nullptr;

// The medium a source serves, whole.
std::string served(ImageSource& source) {
    std::string bytes(source.size(), '\0');
    const Status s = source.read(0, bytes.size(), reinterpret_cast<uint8_t*>(bytes.data()));
    EXPECT_TRUE(s) << s.fault();
    return bytes;
}

// Every wrapper of every image serves the bare volume's bytes and lists as it does.
TEST_F(WrappedImages, OpenAsTheVolumeInside) {
    struct Case {
        std::string file, format;
    };
    const Case cases[] = {
        {"Basic.img.mb2", "MacBinary II"},
        {"Basic.dc42.mb2", "MacBinary II, DiskCopy 4.2"},
        {"Basic.gz.mb2", "MacBinary II, gzip"},
        {"Disk.img.mb2", "MacBinary II, NDIF"},
        {"Basic.img.hqx", "BinHex 4.0"},
        {"Basic.dc42.hqx", "BinHex 4.0, DiskCopy 4.2"},
        {"Basic.gz.hqx", "BinHex 4.0, gzip"},
        {"Disk.img.hqx", "BinHex 4.0, NDIF"},
        {"Basic.img.mhqx", "BinHex 4.0"},
        {"Disk.img.mhqx", "BinHex 4.0, NDIF"},
        {"applesingle/Basic.img.as", "AppleSingle"},
        {"applesingle/Basic.dc42*", "AppleSingle, DiskCopy 4.2"},
        {"applesingle/Disk.img.as", "AppleSingle, NDIF"},
        {"appledouble/Disk.img", "NDIF"},
        {"appledouble/Basic.img", ""},
    };
    const std::string bare = test::slurp(test::fixturePath("basic.hfs"));
    const test::ProcessResult bareListing = test::runCli({test::fixturePath("basic.hfs"), "DIR"});
    ASSERT_TRUE(bareListing.succeeded());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Result<OpenedImage> image = openImage(file(c.file), ImageAccess::ReadOnly);
        ASSERT_TRUE(image) << image.fault();
        EXPECT_EQ(image->format, c.format);
        EXPECT_TRUE(served(*image->source) == bare) << "the medium served differs from basic.hfs";
        const test::ProcessResult listing = test::runCli({file(c.file), "DIR"});
        EXPECT_EQ(listing.exitCode, 0) << listing.err;
        EXPECT_EQ(listing.err, "");
        EXPECT_EQ(listing.out, bareListing.out);
    }
}

// Wrapped images are read-only, and damage is named rather than served.
TEST_F(WrappedImages, RefuseWritesAndDamage) {
    // Cut in the middle of the data fork; one character of the BinHex text changed in the
    // middle of the data fork, which either breaks its CRC or shifts a run so that the text
    // ends early.
    const std::string mb2 = test::slurp(file("Basic.img.mb2"));
    std::ofstream(file("cut.bin"), std::ios::binary) << mb2.substr(0, mb2.size() / 2);
    std::string hqx = test::slurp(file("Basic.img.hqx"));
    size_t at = hqx.size() / 2;
    while (!std::isalnum(static_cast<unsigned char>(hqx[at]))) ++at;
    hqx[at] = hqx[at] == 'A' ? 'B' : 'A';
    std::ofstream(file("changed.hqx"), std::ios::binary) << hqx;

    // The resource fork cut before its map.
    const std::string rsrc = test::slurp(file("Disk.rsrc"));
    std::ofstream(file("cut.rsrc"), std::ios::binary) << rsrc.substr(0, rsrc.size() - 40);
    const std::vector<std::string> macbinary = {"perl", kScripts + "macfiles.pl", "macbinary", file("cut-map.bin"), "Disk.img", "rohd", "dCpy",
                                                file("Disk.data"), file("cut.rsrc"), "2001-02-03 04:05:06", "2001-02-03 04:05:06"};
    ASSERT_TRUE(test::runProcess(macbinary).succeeded());

    struct Case {
        std::string file;
        ImageAccess access;
        std::string message;  // a part of the fault
    };
    const Case cases[] = {
        {"Basic.img.mb2", ImageAccess::ReadWrite, "a MacBinary II file opens only for reading"},
        {"appledouble/Disk.img", ImageAccess::ReadWrite, "an NDIF image opens only for reading"},
        {"cut.bin", ImageAccess::ReadOnly, "cut.bin: MacBinary II data fork of 1474560 bytes at byte 128 runs past the end of the file"},
        {"changed.hqx", ImageAccess::ReadOnly, "changed.hqx: BinHex "},
        {"past-end.img.bin", ImageAccess::ReadOnly, "The NDIF image is damaged: the chunk at sector 64 lies past the end of the data fork"},
        {"kind-81.img.bin", ImageAccess::ReadOnly, "The NDIF image holds chunks of kind 0x81 (at sector 0), which Quarry does not read"},
        {"no-end.img.bin", ImageAccess::ReadOnly, "The NDIF image is damaged: its block map has no end entry"},
        {"cut-map.bin", ImageAccess::ReadOnly, "The MacBinary II file's resource fork is damaged: its map lies past the end of the fork"},
        {"Bare.img.bin", ImageAccess::ReadOnly, "its block map is in the resource fork, which this MacBinary II file does not carry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Result<OpenedImage> image = openImage(file(c.file), c.access);
        ASSERT_FALSE(image);
        EXPECT_NE(image.fault().find(c.message), std::string::npos) << image.fault();
    }
    // Without its "._" file the chunked data fork is what the file holds: it opens, and its
    // volume is cut short where the first compressed chunk begins.
    fs::remove(file("appledouble/._Disk.img"));
    Result<OpenedImage> alone = openImage(file("appledouble/Disk.img"), ImageAccess::ReadOnly);
    ASSERT_TRUE(alone) << alone.fault();
    EXPECT_EQ(alone->format, "");
    EXPECT_EQ(alone->source->size(), fs::file_size(file("Disk.data")));
}

// A volume's first 64 KB may hold anything its files do, and an image whose boot blocks are
// zeros starts like MacBinary: none of the fixtures' images may be taken for a wrapper.
TEST(WrappedImageRecognition, NoFixtureImageIsTakenForAWrapper) {
    int opened = 0;
    for (const auto& entry : fs::recursive_directory_iterator(test::fixturePath(""))) {
        if (!entry.is_regular_file()) continue;
        Result<OpenedImage> image = openImage(entry.path().string(), ImageAccess::ReadOnly);
        if (!image) continue;
        ++opened;
        for (const char* wrapper : {"MacBinary", "AppleSingle", "BinHex", "NDIF"})
            EXPECT_EQ(image->format.find(wrapper), std::string::npos) << entry.path() << ": " << image->format;
    }
    EXPECT_GT(opened, 20);
}

}  // namespace
}  // namespace quarry
