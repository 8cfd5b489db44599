// The host adapters: the image adapter over real files in a temporary directory, and the pure
// parts of the SCSI generic adapter with the CDB decoding both share (real drives are out of
// reach of the tests).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/device_test_support.h"
#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "device/scsi_cdb.h"
#include "device/sg_adapter.h"
#include "support/image_builder.h"
#include "support/scripted_adapter.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using devicetest::Bytes;
using devicetest::commandOf;
using devicetest::patternedMedium;

constexpr uint32_t kBlock = ImageAdapter::kBlockSize;

struct Images : ImageAdapter {
    test::TempDir dir;
    // Puts a file with these bytes on the adapter; its target number, or -1.
    int add(const std::string& name, const Bytes& bytes, ImageAccess access = ImageAccess::ReadOnly) {
        test::writeFile(dir.file(name), bytes);
        const Result<int> target = addImage(dir.file(name), access);
        return target ? target.value() : -1;
    }
    Bytes file(const std::string& name) const { return test::readFile(dir.file(name)); }
    // A READ or WRITE of `count` blocks from `block` in the six- or ten-byte form.
    uint8_t transfer(uint8_t opcode, uint32_t block, uint16_t count, Bytes& buffer, uint8_t target = 0) {
        ScsiCommand c = commandOf(devicetest::transferCdb(opcode, block, count), DataDirection::None,
                                  static_cast<uint32_t>(buffer.size()), buffer.data());
        return execute(target, c);
    }
};

// (A partial last block, and blocks past the end alone or in a run, are read through the sector
// source in bus_test.cpp's ImagePast4GiB.)
TEST(ImageAdapter, ReadsInEitherFormAndIntoAShortBuffer) {
    const Bytes medium = patternedMedium(256 * 4);
    Images images;
    ASSERT_EQ(images.add("big.iso", medium), 0);
    EXPECT_EQ(images.imageSize(0), medium.size());
    // READ(6) with a count of 0 moves 256 blocks, up to the last block of the buffer.
    Bytes blocks256(256 * kBlock, 0xEE), one(kBlock, 0xEE);
    EXPECT_EQ(images.transfer(scsi::kRead6, 0, 0, blocks256), aspi::kCompleted);
    EXPECT_EQ(blocks256, medium);
    ASSERT_EQ(images.transfer(scsi::kRead10, 1, 1, one), aspi::kCompleted);
    EXPECT_EQ(one, Bytes(medium.begin() + kBlock, medium.begin() + 2 * kBlock));
    // A read into a short buffer gets what fits, as the probes' 512-byte reads need.
    Bytes shortBuffer(kBlock - 1);
    EXPECT_EQ(images.transfer(scsi::kRead6, 0, 1, shortBuffer), aspi::kCompleted);
    EXPECT_EQ(shortBuffer, Bytes(medium.begin(), medium.begin() + kBlock - 1));
}

TEST(ImageAdapter, AnswersOtherCommandsAsADriveWould) {
    Images images;
    ASSERT_EQ(images.add("caf\xC3\xA9 \xE2\x98\x95.img", patternedMedium(8)), 0);
    Bytes none, data(100);
    EXPECT_EQ(images.transfer(scsi::kRead10, 0, 0, none), aspi::kCompleted) << "READ(10) of no block";
    EXPECT_EQ(images.transfer(scsi::kTestUnitReady, 0, 0, none), aspi::kCompleted);
    EXPECT_EQ(images.transfer(0x1B, 0, 0, data), aspi::kError) << "START STOP UNIT is not served";
    // READ CAPACITY: the last of the medium's two 2048-byte blocks, and the block length.
    ASSERT_EQ(images.transfer(scsi::kReadCapacity10, 0, 0, data), aspi::kCompleted);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 8), Bytes({0, 0, 0, 1, 0, 0, 8, 0}));
    EXPECT_EQ(images.transfer(scsi::kRead10, 0, 0, none, 1), aspi::kNoDevice);
    EXPECT_EQ(images.deviceType(0), kDeviceTypeCdrom);
    EXPECT_EQ(images.deviceType(1), -1);

    // INQUIRY: the file's name cut or padded to 16 characters, '?' for what has no one-byte form.
    ASSERT_EQ(images.transfer(scsi::kInquiry, 0, 100, data), aspi::kCompleted);
    EXPECT_EQ(data[0], kDeviceTypeCdrom);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "QUARRY  ");
    EXPECT_EQ(std::string(data.begin() + 16, data.begin() + 32), "caf\xE9 ?.img      ");
    EXPECT_EQ(data[4] + 5, 36) << "additional length";
    ScsiCommand vpd = commandOf({scsi::kInquiry, 1, 0, 0, 36, 0}, DataDirection::None, 100, data.data());
    EXPECT_EQ(images.execute(0, vpd), aspi::kError) << "vital product data";
}

TEST(ImageAdapter, WritesOnlyToReadWriteImagesAndOnlyInsideTheMedium) {
    Images images;
    Bytes medium = patternedMedium(10);  // two and a half blocks
    ASSERT_EQ(images.add("ro.iso", medium), 0);
    ASSERT_EQ(images.add("rw.hfs", medium, ImageAccess::ReadWrite), 1);
    Bytes block(kBlock, 0x5C);
    EXPECT_EQ(images.transfer(scsi::kWrite10, 1, 1, block), aspi::kWriteProtected);
    EXPECT_EQ(images.transfer(scsi::kWrite6, 1, 1, block), aspi::kWriteProtected);
    EXPECT_EQ(images.file("ro.iso"), medium);

    ASSERT_EQ(images.transfer(scsi::kWrite6, 0, 1, block, 1), aspi::kCompleted);
    std::fill(medium.begin(), medium.begin() + kBlock, 0x5C);
    EXPECT_EQ(images.file("rw.hfs"), medium);
    // The last block lies half outside the file: zeros there change nothing and are taken,
    // anything else would be lost and is refused whole.
    Bytes tail(kBlock, 0);
    std::fill(tail.begin(), tail.begin() + 1024, 0xA7);
    ASSERT_EQ(images.transfer(scsi::kWrite10, 2, 1, tail, 1), aspi::kCompleted);
    std::fill(medium.begin() + 2 * kBlock, medium.end(), 0xA7);
    EXPECT_EQ(images.file("rw.hfs"), medium);
    tail.back() = 1;
    EXPECT_EQ(images.transfer(scsi::kWrite10, 2, 1, tail, 1), aspi::kError);
    EXPECT_EQ(images.transfer(scsi::kWrite10, 7, 1, tail, 1), aspi::kError);
    EXPECT_EQ(images.file("rw.hfs"), medium);
}

// (A missing image and a folder are refused through quarry-cli in tests/cli/cli_test.cpp.)
TEST(ImageAdapter, OpeningFailsWithAClearFault) {
    Images images;
    const std::string locked = images.dir.file("locked.iso");
    test::writeFile(locked, patternedMedium(4));
    ::chmod(locked.c_str(), 0444);
    if (::geteuid() != 0) {  // root opens any file for writing
        EXPECT_EQ(images.addImage(locked, ImageAccess::ReadWrite).fault(), "cannot open " + locked + ": Permission denied");
    }
    for (int n = 0; n < 8; ++n) ASSERT_EQ(images.add("one.iso", patternedMedium(4)), n);
    const std::string path = images.dir.file("one.iso");
    EXPECT_EQ(images.addImage(path, ImageAccess::ReadOnly).fault(), "cannot open " + path + ": the image adapter already holds 8 images");
    EXPECT_EQ(images.imageCount(), 8u);
}

// Each CDB's block range, and the ten-byte form of a six-byte transfer, which must name the
// same range.
TEST(ScsiCdb, BlockTransfersDecodeAndSixByteOnesRewriteToTen) {
    using scsi::TransferKind;
    struct Case {
        Bytes cdb, ten;                             // ten: empty where there is no rewriting
        std::optional<TransferKind> kind;           // none: no block transfer
        uint32_t first = 0, count = 0;
    };
    const Case cases[] = {
        {{0x08, 0x00, 0x00, 0x02, 0x01, 0x00}, {0x28, 0, 0x00, 0x00, 0x00, 0x02, 0, 0x00, 0x01, 0x00}, TransferKind::Read, 2, 1},
        {{0x0A, 0x1F, 0xFF, 0xFE, 0x08, 0x00}, {0x2A, 0, 0x00, 0x1F, 0xFF, 0xFE, 0, 0x00, 0x08, 0x00}, TransferKind::Write, 0x1FFFFE, 8},
        // The logical unit bits go; a length of 0 is 256 blocks; the control byte stays.
        {{0x08, 0xE1, 0x23, 0x45, 0x00, 0x80}, {0x28, 0, 0x00, 0x01, 0x23, 0x45, 0, 0x01, 0x00, 0x80}, TransferKind::Read, 0x12345, 256},
        {{0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0x01, 0x02, 0}, {}, TransferKind::Read, 0x12345678, 0x102},
        {{0x2A, 0, 0, 0, 0, 9, 0, 0, 0, 0}, {}, TransferKind::Write, 9, 0},
        // Other commands and cut ones are neither.
        {{0x12, 0, 0, 0, 100, 0}, {}, {}}, {{0x00, 0, 0, 0, 0, 0}, {}, {}}, {{0x08, 0, 0}, {}, {}}, {{0x28, 0, 0, 0, 0, 9}, {}, {}},
    };
    uint8_t buffer[4];
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.cdb[0]} << "/" << c.cdb.size());
        ScsiCommand command = commandOf(c.cdb, DataDirection::In, 4096, buffer);
        std::vector<ScsiCommand> forms{command};
        const std::optional<ScsiCommand> rewritten = scsi::tenByteEquivalent(command);
        ASSERT_EQ(rewritten.has_value(), !c.ten.empty());
        if (rewritten) {
            EXPECT_EQ(Bytes(rewritten->cdb.begin(), rewritten->cdb.begin() + rewritten->cdbLength), c.ten);
            EXPECT_EQ(std::tie(rewritten->buffer, rewritten->bufferLength, rewritten->direction),
                      std::tie(command.buffer, command.bufferLength, command.direction));
            forms.push_back(*rewritten);
        }
        for (const ScsiCommand& form : forms) {
            const std::optional<scsi::BlockTransfer> t = scsi::decodeBlockTransfer(form);
            ASSERT_EQ(t.has_value(), c.kind.has_value());
            if (t) {
                EXPECT_EQ(std::tuple(t->kind, t->firstBlock, t->blockCount), std::tuple(*c.kind, c.first, c.count));
            }
        }
    }
}

TEST(ClassifySense, FindsTheCasesTheBusActsOn) {
    auto fixed = [](uint8_t code, uint8_t key, uint8_t asc, size_t length = 18) {
        Bytes s(18, 0);
        s[0] = code;
        s[2] = key;
        s[7] = 10;
        s[12] = asc;
        s.resize(length);
        return s;
    };
    const std::tuple<const char*, Bytes, SenseVerdict> cases[] = {
        {"invalid opcode", fixed(0x70, 0x05, 0x20), SenseVerdict::InvalidOpcode},
        {"invalid opcode, valid bit, deferred", fixed(0xF1, 0x05, 0x20), SenseVerdict::InvalidOpcode},
        {"invalid field in CDB", fixed(0x70, 0x05, 0x24), SenseVerdict::Error},
        {"medium error", fixed(0x70, 0x03, 0x11), SenseVerdict::Error},
        {"data protect", fixed(0x70, 0x07, 0x27), SenseVerdict::WriteProtected},
        {"recovered", fixed(0x70, 0x01, 0x17), SenseVerdict::Recovered},
        {"key beside flag bits", fixed(0x70, 0x25, 0x20), SenseVerdict::InvalidOpcode},
        {"descriptor format", {0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0}, SenseVerdict::InvalidOpcode},
        {"descriptor, data protect", {0x72, 0x07, 0x27, 0x00}, SenseVerdict::WriteProtected},
        {"fixed, cut before the ASC", fixed(0x70, 0x05, 0x20, 12), SenseVerdict::Error},
        {"descriptor, cut before the ASC", {0x72, 0x05}, SenseVerdict::Error},
        {"vendor format", {0x7F, 0x05, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20}, SenseVerdict::Error},
        {"nothing", {}, SenseVerdict::Error},
    };
    for (const auto& [what, sense, verdict] : cases) EXPECT_EQ(classifySense(sense.data(), sense.size()), verdict) << what;
}

TEST(DirectionForCommand, FollowsTheFlagsOrElseTheCommand) {
    const std::tuple<Bytes, DataDirection, uint32_t, DataDirection> cases[] = {
        {{0x12, 0, 0, 0, 100, 0}, DataDirection::None, 100, DataDirection::In},
        {{0x0A, 0, 0, 0, 1, 0}, DataDirection::None, 2048, DataDirection::Out},
        {{0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, DataDirection::None, 2048, DataDirection::Out},
        {{0x08, 0, 0, 0, 1, 0}, DataDirection::None, 2048, DataDirection::In},
        {{0x00, 0, 0, 0, 0, 0}, DataDirection::None, 0, DataDirection::None},
        {{0x08, 0, 0, 0, 1, 0}, DataDirection::Out, 2048, DataDirection::Out},
    };
    for (const auto& [bytes, given, length, expected] : cases)
        EXPECT_EQ(directionForCommand(commandOf(bytes, given, length)), expected) << int{bytes[0]};
}

TEST(SgAdapter, OpeningFailsWithAClearFault) {
    test::TempDir dir;
    const std::string missing = dir.file("no-such-sg"), plain = dir.file("plain");
    std::ofstream(plain) << "not a device";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{missing}, "cannot open " + missing + ": No such file or directory"},
        {{plain}, "cannot open " + plain + ": not a SCSI generic device"},
        {std::vector<std::string>(9, missing), "the SCSI generic adapter takes at most 8 drives"},
    };
    for (const auto& [paths, fault] : cases) {
        Result<std::unique_ptr<SgAdapter>> opened = SgAdapter::open(paths);
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.fault(), fault);
    }
    Result<std::unique_ptr<SgAdapter>> empty = SgAdapter::open({});
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty.value()->targetCount(), 0u);
    EXPECT_EQ(empty.value()->deviceType(0), -1);
    ScsiCommand ready = commandOf({0, 0, 0, 0, 0, 0});
    EXPECT_EQ(empty.value()->execute(0, ready), aspi::kNoDevice);
}

// A 2048-byte drive behind SG_IO: the probes' 512-byte reads are asked of it as whole blocks,
// a write of part of a block is refused whole, and a residual is the part of the buffer the
// drive did not fill.
TEST(SgAdapter, ResidualsAndShortBuffersAreDecidedAsTheImageAdapterDoes) {
    const auto read6 = [](uint8_t blocks, uint32_t length) { return commandOf({scsi::kRead6, 0, 0, 0, blocks, 0}, DataDirection::In, length); };
    const ScsiCommand write512 = commandOf({scsi::kWrite6, 0, 0, 0, 1, 0}, DataDirection::Out, 512);
    const ScsiCommand inquiry = commandOf({scsi::kInquiry, 0, 0, 0, 0, 0}, DataDirection::In, 36);
    const Bytes dataProtect = {0x70, 0, 0x07, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x27, 0};
    const Bytes recovered = {0x70, 0, 0x01, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x17, 0};
    const struct {
        const char* what;
        ScsiCommand command;
        bool writable;
        std::optional<SgReply> reply;
        uint32_t sentLength;  // the data phase the drive was asked for; 0: nothing was sent
        uint8_t status;
    } cases[] = {
        {"whole blocks moved", read6(1, 2048), false, SgReply{true, 0, {}}, 2048, aspi::kCompleted},
        {"a block short of the buffer", read6(2, 4096), false, SgReply{true, 2048, {}}, 4096, aspi::kError},
        {"512 bytes of a 2048-byte block", read6(1, 512), false, SgReply{true, 0, {}}, 2048, aspi::kCompleted},
        {"a short write", write512, true, SgReply{true, 0, {}}, 0, aspi::kError},
        {"a write to a drive not opened for it", write512, false, SgReply{true, 0, {}}, 0, aspi::kWriteProtected},
        {"INQUIRY with less than asked", inquiry, false, SgReply{true, 20, {}}, 36, aspi::kCompleted},
        {"recovered error", read6(1, 2048), false, SgReply{false, 0, recovered}, 2048, aspi::kCompleted},
        {"data protect", read6(1, 2048), false, SgReply{false, 0, dataProtect}, 2048, aspi::kWriteProtected},
        {"the call failed", read6(1, 2048), false, std::nullopt, 2048, aspi::kError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes buffer(c.command.bufferLength, 0xEE);
        ScsiCommand command = c.command;
        command.buffer = buffer.data();
        uint32_t sent = 0;
        const SgOutcome outcome = runSgCommand(command, SgDrive{2048, c.writable}, [&](ScsiCommand& s) {
            sent = s.bufferLength;
            std::fill_n(s.buffer, s.bufferLength - std::max(c.reply ? c.reply->resid : 0, 0), uint8_t{0x5A});
            return c.reply;
        });
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(sent, c.sentLength);
        if (c.status == aspi::kCompleted && scsi::decodeBlockTransfer(command)) {
            EXPECT_EQ(buffer, Bytes(buffer.size(), 0x5A));
        }
    }
}

}  // namespace
}  // namespace quarry
