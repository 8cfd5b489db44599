// The pure parts of the SCSI generic adapter and the CDB decoding the adapters share. Real
// drives are out of reach of the tests.

#include "device/sg_adapter.h"

#include <gtest/gtest.h>

#include "device/device_test_support.h"
#include "device/scsi_cdb.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using devicetest::Bytes;

ScsiCommand commandOf(const Bytes& bytes, DataDirection direction = DataDirection::None, uint32_t length = 0) {
    ScsiCommand c;
    std::copy(bytes.begin(), bytes.end(), c.cdb.begin());
    c.cdbLength = static_cast<uint8_t>(bytes.size());
    c.direction = direction;
    c.bufferLength = length;
    return c;
}

TEST(TenByteEquivalent, RewritesSixByteReadsAndWritesOnly) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{0x08, 0x00, 0x00, 0x02, 0x01, 0x00}, {0x28, 0, 0x00, 0x00, 0x00, 0x02, 0, 0x00, 0x01, 0x00}},
        {{0x0A, 0x1F, 0xFF, 0xFE, 0x08, 0x00}, {0x2A, 0, 0x00, 0x1F, 0xFF, 0xFE, 0, 0x00, 0x08, 0x00}},
        // The logical unit bits go; a length of 0 is 256 blocks; the control byte stays.
        {{0x08, 0xE1, 0x23, 0x45, 0x00, 0x80}, {0x28, 0, 0x00, 0x01, 0x23, 0x45, 0, 0x01, 0x00, 0x80}},
        // Other commands, ten-byte ones and cut ones have no equivalent.
        {{0x12, 0, 0, 0, 100, 0}, {}}, {{0x28, 0, 0, 0, 0, 2, 0, 0, 1, 0}, {}}, {{0x00, 0, 0, 0, 0, 0}, {}}, {{0x08, 0, 0}, {}},
    };
    uint8_t buffer[4];
    for (const auto& [six, ten] : cases) {
        ScsiCommand command = commandOf(six, DataDirection::In, 4096);
        command.buffer = buffer;
        const std::optional<ScsiCommand> rewritten = scsi::tenByteEquivalent(command);
        ASSERT_EQ(rewritten.has_value(), !ten.empty()) << int{six[0]};
        if (!rewritten) continue;
        EXPECT_EQ(Bytes(rewritten->cdb.begin(), rewritten->cdb.begin() + rewritten->cdbLength), ten);
        EXPECT_EQ(rewritten->buffer, buffer);
        EXPECT_EQ(rewritten->bufferLength, 4096u);
        EXPECT_EQ(rewritten->direction, DataDirection::In);
    }
}

TEST(DecodeBlockTransfer, ReadsBothForms) {
    struct Case {
        Bytes bytes;
        scsi::TransferKind kind;
        uint32_t first, count;
    };
    const Case cases[] = {
        {{0x08, 0x00, 0x00, 0x02, 0x01, 0x00}, scsi::TransferKind::Read, 2, 1},
        {{0x08, 0x3F, 0x12, 0x34, 0x00, 0x00}, scsi::TransferKind::Read, 0x1F1234, 256},
        {{0x0A, 0x00, 0x01, 0x00, 0x10, 0x00}, scsi::TransferKind::Write, 0x100, 16},
        {{0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0x01, 0x02, 0}, scsi::TransferKind::Read, 0x12345678, 0x102},
        {{0x2A, 0, 0, 0, 0, 9, 0, 0, 0, 0}, scsi::TransferKind::Write, 9, 0},
    };
    for (const Case& c : cases) {
        const std::optional<scsi::BlockTransfer> t = scsi::decodeBlockTransfer(commandOf(c.bytes));
        ASSERT_TRUE(t) << int{c.bytes[0]};
        EXPECT_EQ(t->kind, c.kind);
        EXPECT_EQ(t->firstBlock, c.first);
        EXPECT_EQ(t->blockCount, c.count);
    }
    EXPECT_FALSE(scsi::decodeBlockTransfer(commandOf({0x28, 0, 0, 0, 0, 9})));
    EXPECT_FALSE(scsi::decodeBlockTransfer(commandOf({0x12, 0, 0, 0, 36, 0})));
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

}  // namespace
}  // namespace quarry
