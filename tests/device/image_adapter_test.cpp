// The image adapter over real files in a temporary directory.

#include "device/image_adapter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "device/device_test_support.h"
#include "device/drive_scan.h"
#include "device/scsi_cdb.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;
using devicetest::patternedMedium;
using devicetest::patternedSector;

constexpr uint32_t kBlock = ImageAdapter::kBlockSize;

class ImageAdapterTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quarry-image-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string makeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    static std::vector<uint8_t> fileBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static ScsiCommand read10(uint32_t block, uint16_t count, std::vector<uint8_t>& buffer) {
        return transfer(scsi::kRead10, block, count, buffer, DataDirection::In);
    }
    static ScsiCommand write10(uint32_t block, uint16_t count, std::vector<uint8_t>& buffer) {
        return transfer(scsi::kWrite10, block, count, buffer, DataDirection::Out);
    }
    static ScsiCommand six(uint8_t opcode, uint32_t block, uint8_t count, std::vector<uint8_t>& buffer) {
        ScsiCommand c;
        c.cdb = {opcode, static_cast<uint8_t>(block >> 16), static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block), count, 0};
        c.cdbLength = 6;
        c.buffer = buffer.data();
        c.bufferLength = static_cast<uint32_t>(buffer.size());
        return c;
    }

    fs::path dir_;

private:
    static ScsiCommand transfer(uint8_t opcode, uint32_t block, uint16_t count, std::vector<uint8_t>& buffer, DataDirection direction) {
        ScsiCommand c;
        c.cdb[0] = opcode;
        scsi::writeBe32(c.cdb.data() + 2, block);
        scsi::writeBe16(c.cdb.data() + 7, count);
        c.cdbLength = 10;
        c.direction = direction;
        c.buffer = buffer.data();
        c.bufferLength = static_cast<uint32_t>(buffer.size());
        return c;
    }
};

TEST_F(ImageAdapterTest, ReadsTheFilesBytesAndZerosPastItsEnd) {
    // 10 sectors and a half: the last block is partly outside the file.
    std::vector<uint8_t> medium = patternedMedium(11);
    medium.resize(5376);
    ImageAdapter images;
    ASSERT_EQ(images.addImage(makeFile("disk.iso", medium), ImageAccess::ReadOnly).value(), 0);
    EXPECT_EQ(images.imageSize(0), 5376u);

    std::vector<uint8_t> buffer(3 * kBlock, 0xEE);
    ScsiCommand whole = read10(0, 3, buffer);
    ASSERT_EQ(images.execute(0, whole), aspi::kCompleted);
    EXPECT_TRUE(std::equal(medium.begin(), medium.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + 5376, buffer.end(), [](uint8_t b) { return b == 0; }));

    std::vector<uint8_t> one(kBlock, 0xEE);
    ScsiCommand second = six(scsi::kRead6, 1, 1, one);
    ASSERT_EQ(images.execute(0, second), aspi::kCompleted);
    EXPECT_TRUE(std::equal(one.begin(), one.end(), medium.begin() + kBlock));

    ScsiCommand beyond = read10(1000, 1, one);
    ASSERT_EQ(images.execute(0, beyond), aspi::kCompleted);
    EXPECT_EQ(one, std::vector<uint8_t>(kBlock, 0));
}

TEST_F(ImageAdapterTest, RefusesWhatItCannotServeSafely) {
    ImageAdapter images;
    ASSERT_TRUE(images.addImage(makeFile("a.iso", patternedMedium(8)), ImageAccess::ReadOnly));
    struct Case {
        const char* what;
        ScsiCommand command;
        uint8_t status;
    };
    std::vector<uint8_t> shortBuffer(kBlock - 1);
    std::vector<uint8_t> blocks255(255 * kBlock);
    std::vector<uint8_t> blocks256(256 * kBlock);
    std::vector<uint8_t> none;
    ScsiCommand unknown = six(0x25, 0, 0, shortBuffer);  // READ CAPACITY is not served
    ScsiCommand ready = six(scsi::kTestUnitReady, 0, 0, none);
    ScsiCommand vpd = six(scsi::kInquiry, 0, 36, blocks255);
    vpd.cdb[1] = 1;
    const Case cases[] = {
        {"READ(6) of 256 blocks", six(scsi::kRead6, 0, 0, blocks256), aspi::kCompleted},
        {"READ(10) of no block", read10(0, 0, none), aspi::kCompleted},
        {"unknown opcode", unknown, aspi::kError},
        {"vital product data", vpd, aspi::kError},
        {"test unit ready", ready, aspi::kCompleted},
    };
    for (Case c : cases) EXPECT_EQ(images.execute(0, c.command), c.status) << c.what;

    // READ(6) with a count of 0 moves 256 blocks: the last block of the buffer is reached
    // (it lies past the end of the 8-block medium, so it reads as zeros).
    std::fill(blocks256.begin(), blocks256.end(), 0xEE);
    ScsiCommand all = six(scsi::kRead6, 0, 0, blocks256);
    EXPECT_EQ(images.execute(0, all), aspi::kCompleted);
    EXPECT_EQ(blocks256.back(), 0);

    // A read into a short buffer gets what fits, as the probes' 512-byte reads need.
    ScsiCommand shortRead = six(scsi::kRead6, 0, 1, shortBuffer);
    EXPECT_EQ(images.execute(0, shortRead), aspi::kCompleted);
    const std::vector<uint8_t> medium = patternedMedium(8);
    EXPECT_TRUE(std::equal(shortBuffer.begin(), shortBuffer.end(), medium.begin()));

    ScsiCommand elsewhere = read10(0, 0, none);
    EXPECT_EQ(images.execute(1, elsewhere), aspi::kNoDevice);
    EXPECT_EQ(images.deviceType(0), kDeviceTypeCdrom);
    EXPECT_EQ(images.deviceType(1), -1);
}

TEST_F(ImageAdapterTest, ReadOnlyImageRefusesWritesAsWriteProtected) {
    const std::vector<uint8_t> medium = patternedMedium(8);
    const std::string path = makeFile("ro.iso", medium);
    ImageAdapter images;
    ASSERT_TRUE(images.addImage(path, ImageAccess::ReadOnly));
    std::vector<uint8_t> block(kBlock, 0x11);
    ScsiCommand w10 = write10(1, 1, block);
    ScsiCommand w6 = six(scsi::kWrite6, 1, 1, block);
    EXPECT_EQ(images.execute(0, w10), aspi::kWriteProtected);
    EXPECT_EQ(images.execute(0, w6), aspi::kWriteProtected);
    EXPECT_EQ(fileBytes(path), medium);
}

TEST_F(ImageAdapterTest, ReadWriteImageTakesWritesInsideTheMedium) {
    std::vector<uint8_t> medium = patternedMedium(10);  // two and a half blocks
    const std::string path = makeFile("rw.hfs", medium);
    ImageAdapter images;
    ASSERT_TRUE(images.addImage(path, ImageAccess::ReadWrite));

    std::vector<uint8_t> block(kBlock, 0x5C);
    ScsiCommand first = six(scsi::kWrite6, 0, 1, block);
    ASSERT_EQ(images.execute(0, first), aspi::kCompleted);
    std::fill(medium.begin(), medium.begin() + kBlock, 0x5C);
    EXPECT_EQ(fileBytes(path), medium);

    // The last block lies half outside the file: zeros there change nothing and are taken,
    // anything else would be lost and is refused whole.
    std::vector<uint8_t> tail(kBlock, 0);
    std::fill(tail.begin(), tail.begin() + 1024, 0xA7);
    ScsiCommand zerosOutside = write10(2, 1, tail);
    ASSERT_EQ(images.execute(0, zerosOutside), aspi::kCompleted);
    std::fill(medium.begin() + 2 * kBlock, medium.end(), 0xA7);
    EXPECT_EQ(fileBytes(path), medium);

    tail.back() = 1;
    ScsiCommand dataOutside = write10(2, 1, tail);
    EXPECT_EQ(images.execute(0, dataOutside), aspi::kError);
    ScsiCommand pastTheEnd = write10(7, 1, tail);
    EXPECT_EQ(images.execute(0, pastTheEnd), aspi::kError);
    EXPECT_EQ(fileBytes(path), medium);
}

TEST_F(ImageAdapterTest, OpeningFailsWithAClearFault) {
    ImageAdapter images;
    const std::string missing = (dir_ / "missing.iso").string();
    Result<int> result = images.addImage(missing, ImageAccess::ReadOnly);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.fault(), "cannot open " + missing + ": No such file or directory");

    Result<int> folder = images.addImage(dir_.string(), ImageAccess::ReadOnly);
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.fault(), "cannot open " + dir_.string() + ": is a directory");

    const std::string path = makeFile("one.iso", patternedMedium(4));
    for (int n = 0; n < 8; ++n) ASSERT_EQ(images.addImage(path, ImageAccess::ReadOnly).value(), n);
    Result<int> ninth = images.addImage(path, ImageAccess::ReadOnly);
    ASSERT_FALSE(ninth);
    EXPECT_EQ(ninth.fault(), "cannot open " + path + ": the image adapter already holds 8 images");
    EXPECT_EQ(images.imageCount(), 8u);
}

TEST_F(ImageAdapterTest, ReadWriteOpenOfAReadOnlyFileFails) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens any file for writing";
    const std::string path = makeFile("locked.iso", patternedMedium(4));
    ::chmod(path.c_str(), 0444);
    ImageAdapter images;
    Result<int> result = images.addImage(path, ImageAccess::ReadWrite);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.fault(), "cannot open " + path + ": Permission denied");
}

// Through the bus as the program uses it: scan, choice, and sectors through the one-block cache.
TEST_F(ImageAdapterTest, ImageIsFoundSelectedAndReadAsACdromDrive) {
    auto owned = std::make_unique<ImageAdapter>();
    ASSERT_TRUE(owned->addImage(makeFile("Macintosh CD-ROM image.toast", patternedMedium(20)), ImageAccess::ReadOnly));
    ScsiBus bus;
    bus.adapters.push_back(std::move(owned));
    DeviceState device;
    device.bus = &bus;
    test::RecordingUi ui;
    ASSERT_GE(InitAspi(device, ui), 1);
    PrepareCdAccess(device);
    ScsiDeviceTable table;
    ASSERT_EQ(SelectCdromDrive(device, table, ui), 1);

    EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{"[0|0] QUARRY - Macintosh CD-ROM"});
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(table.rows[0].data() + 12)), "QUARRY IMAGES");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(table.rows[1].data() + 29)), "1.0 ");
    for (uint32_t sector : {0u, 7u, 19u}) {
        std::vector<uint8_t> bytes(kSectorSize);
        ASSERT_EQ(ReadSector(device, sector, bytes.data()), 0);
        EXPECT_EQ(bytes, patternedSector(sector)) << sector;
    }
}

TEST_F(ImageAdapterTest, ShortNameIsPaddedAndUnnamedCharactersShowAsQuestionMarks) {
    ImageAdapter images;
    ASSERT_TRUE(images.addImage(makeFile("caf\xC3\xA9 \xE2\x98\x95.img", patternedMedium(4)), ImageAccess::ReadOnly));
    std::vector<uint8_t> data(100);
    ScsiCommand inquiry = six(scsi::kInquiry, 0, 100, data);
    ASSERT_EQ(images.execute(0, inquiry), aspi::kCompleted);
    EXPECT_EQ(data[0], kDeviceTypeCdrom);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data.data() + 8), 8), "QUARRY  ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data.data() + 16), 16), "caf\xE9 ?.img      ");
    EXPECT_EQ(data[4] + 5, 36) << "additional length";
}

// hformat writes an HFS volume of 512-byte sectors; its master directory block must come out of
// sector 2 through the image adapter and the one-block cache.
TEST_F(ImageAdapterTest, VolumeMadeByHformatShowsItsMasterDirectoryBlock) {
    if (std::system("command -v hformat >/dev/null 2>&1") != 0) GTEST_SKIP() << "hformat not installed";
    const std::string path = makeFile("vol.hfs", std::vector<uint8_t>(800 * 1024));
    const std::string command = "HOME='" + dir_.string() + "' hformat -l 'Quarry Test' '" + path + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);

    auto owned = std::make_unique<ImageAdapter>();
    ASSERT_TRUE(owned->addImage(path, ImageAccess::ReadOnly));
    ScsiBus bus;
    bus.adapters.push_back(std::move(owned));
    DeviceState device;
    device.bus = &bus;
    test::RecordingUi ui;
    PrepareCdAccess(device);
    ScsiDeviceTable table;
    ASSERT_EQ(SelectCdromDrive(device, table, ui), 1);

    std::vector<uint8_t> mdb(kSectorSize);
    ASSERT_EQ(ReadSector(device, 2, mdb.data()), 0);
    EXPECT_EQ(mdb[0], 'B');  // drSigWord 0x4244
    EXPECT_EQ(mdb[1], 'D');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(mdb.data() + 0x25), mdb[0x24]), "Quarry Test");  // drVN
}

}  // namespace
}  // namespace quarry
