// The sector source and the ASPI calls: what reaches a scripted drive, and what comes back.

#include "device/sector_source.h"

#include <gtest/gtest.h>

#include "device/aspi.h"
#include "device/device_test_support.h"
#include "device/scsi_cdb.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

using devicetest::Bytes;
using devicetest::patternedMedium;
using devicetest::patternedSector;

constexpr uint8_t kDrive = 3;

// One drive at adapter 0, target 3, selected: a CD-ROM of 64 patterned sectors, or a drive of
// 16 sectors in 512-byte blocks as the generic path and the probes see it.
struct Drive : devicetest::ScriptedBus {
    ScriptedAdapter& drive;
    explicit Drive(uint32_t blockSize = kCdBlockSize) : drive(addAdapter()) {
        ScriptedTarget t = ScriptedTarget::cdrom("SONY", "CDU-76S", "1.0g", patternedMedium(blockSize == kCdBlockSize ? 64 : 16));
        t.blockSize = blockSize;
        drive.addTarget(kDrive, t);
        select(0, kDrive);
    }
    Bytes read(uint32_t sector, uint16_t* status = nullptr) {
        Bytes bytes(kSectorSize, 0xEE);
        const uint16_t result = ReadSector(device, sector, bytes.data());
        if (status) *status = result;
        return bytes;
    }
    Bytes& medium() { return drive.target(kDrive).medium; }
};

Bytes read6(uint32_t block, uint8_t count = 1) {
    return {0x08, static_cast<uint8_t>(block >> 16), static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block), count, 0};
}

TEST(CdSectorCache, ReadsEachBlockOnceWhileItIsCached) {
    struct Case {
        const char* what;
        std::vector<uint32_t> sectors;
        std::vector<Bytes> cdbs;
    };
    const uint32_t far = 0x1A2B3C;
    const Case cases[] = {
        {"four sectors of a block", {8, 9, 10, 11}, {read6(2)}},
        {"one block at a time", {8, 12, 8}, {read6(2), read6(3), read6(2)}},
        {"a block address of three bytes, past the medium", {far * 4 + 1}, {read6(far)}},
        // Block 2^21 would land on block 0 with a logical unit of 1: nothing is sent.
        {"a block beyond six-byte addressing", {(scsi::cdb6::kMaxBlock + 1) * 4}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Drive bus;
        for (uint32_t sector : c.sectors) {
            uint16_t status = 0xFFFF;
            const Bytes bytes = bus.read(sector, &status);
            EXPECT_EQ(status != 0, sector / 4 > scsi::cdb6::kMaxBlock) << sector;
            if (status == 0) {
                EXPECT_EQ(bytes, sector < 64 ? patternedSector(sector) : Bytes(kSectorSize, 0)) << sector;
            }
        }
        EXPECT_EQ(bus.cdbs(), c.cdbs);
        for (const RecordedCommand& sent : bus.drive.commands()) {
            EXPECT_EQ(sent.target, kDrive);
            EXPECT_EQ(sent.direction, DataDirection::In);
            EXPECT_EQ(sent.bufferLength, kCdBlockSize);
        }
    }
}

// A failed read reaches the caller and leaves no block cached: neither the failed block nor
// the one read before it is served in its place.
class FailedCdRead : public testing::TestWithParam<uint8_t> {};

TEST_P(FailedCdRead, ReachesTheCallerAndLeavesNoBlockCached) {
    Drive bus;
    uint16_t status = 0;
    bus.drive.failNext(1, GetParam());
    bus.read(9, &status);
    EXPECT_EQ(status, GetParam());
    EXPECT_EQ(bus.read(9, &status), patternedSector(9));
    EXPECT_EQ(status, 0);
    bus.drive.failNext(1, GetParam());
    bus.read(12, &status);
    EXPECT_EQ(status, GetParam());
    EXPECT_EQ(bus.read(13, &status), patternedSector(13));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(bus.cdbs(), (std::vector<Bytes>{read6(2), read6(2), read6(3), read6(3)}));
}

INSTANTIATE_TEST_SUITE_P(Statuses, FailedCdRead, testing::Values(aspi::kAborted, aspi::kError, aspi::kInvalidCommand, aspi::kNoDevice));

TEST(CdSectorCache, RefusesWritesAndMultiSectorRequestsUntouched) {
    for (const auto& [command, count] : std::vector<std::pair<uint16_t, uint16_t>>{
             {cmd::kWrite6, 1}, {cmd::kRead6, 2}, {cmd::kRead6, 0}, {cmd::kGenericRead, 1}}) {
        Drive bus;
        bus.read(8);
        bus.drive.clearCommands();
        Bytes buffer(4 * kSectorSize, 0x5A);
        SectorRequest request{command, 0, kDrive, 40, count, buffer.data()};
        EXPECT_EQ(ReadCdSector(bus.device, request), aspi::kInvalidCommand) << command << "/" << count;
        EXPECT_EQ(buffer, Bytes(4 * kSectorSize, 0x5A));
        EXPECT_EQ(bus.read(10), patternedSector(10));  // block 2 is still the cached one
        EXPECT_TRUE(bus.drive.commands().empty());
    }
}

TEST(CdSectorCache, ReadsFromTheSelectedDriveOrFails) {
    Drive bus;
    bus.addAdapter("SECOND").addTarget(kDrive, ScriptedTarget::cdrom("B", "B", "1", patternedMedium(8, 99)));
    bus.select(1, kDrive);
    Bytes buffer(kSectorSize);
    SectorRequest request{cmd::kRead6, 0, kDrive, 5, 1, buffer.data()};
    EXPECT_EQ(ReadCdSector(bus.device, request), 0);
    EXPECT_EQ(buffer, patternedSector(5, 99));
    EXPECT_EQ(request.hostAdapter, 1) << "the selected adapter, whatever the request said";
    EXPECT_EQ(request.sector, 5u);
    EXPECT_EQ(request.buffer, buffer.data());
    EXPECT_TRUE(bus.drive.commands().empty());

    struct Case {
        uint8_t adapter, target, status;
        bool source;
    };
    for (const Case c : {Case{0, kNoSelection, aspi::kNoDevice, true}, Case{kNoSelection, kNoSelection, aspi::kInvalidAdapter, true},
                         Case{0, 6, aspi::kNoDevice, true}, Case{0, kDrive, aspi::kInvalidCommand, false}}) {
        Drive none;
        none.select(c.adapter, c.target);
        if (!c.source) none.device.sectorSource = nullptr;
        uint16_t status = 0;
        none.read(0, &status);
        EXPECT_EQ(status, c.status) << int{c.adapter} << "/" << int{c.target};
    }
}

TEST(TransferWithRetry, TriesUpToTwentyTimes) {
    struct Case {
        int failures;
        uint16_t result;
        size_t commands;
    };
    for (const Case c : {Case{0, 0, 1}, Case{1, 0, 2}, Case{19, 0, 20}, Case{20, aspi::kError, 20}, Case{25, aspi::kError, 20}}) {
        Drive bus(kSectorSize);
        bus.drive.failNext(c.failures, aspi::kError);
        Bytes buffer(kSectorSize);
        SectorRequest request{cmd::kGenericRead, 0, kDrive, 3, 1, buffer.data()};
        EXPECT_EQ(TransferWithRetry(bus.device, request), c.result) << c.failures << " failures";
        EXPECT_EQ(bus.drive.commands().size(), c.commands) << c.failures << " failures";
        EXPECT_EQ(buffer == patternedSector(3), c.result == 0);
    }
}

TEST(TransferWithRetry, TranslatesGenericCommandsInTheCallersRecord) {
    struct Case {
        uint16_t command, translated;
        DataDirection direction;
    };
    for (const Case c : {Case{cmd::kGenericRead, cmd::kRead6, DataDirection::In}, Case{cmd::kGenericWrite, cmd::kWrite6, DataDirection::Out},
                         Case{cmd::kRead6, cmd::kRead6, DataDirection::In}, Case{cmd::kWrite6, cmd::kWrite6, DataDirection::Out}}) {
        Drive bus(kSectorSize);
        Bytes buffer = patternedSector(2);
        SectorRequest request{c.command, 7, kDrive, 2, 1, buffer.data()};
        EXPECT_EQ(TransferWithRetry(bus.device, request), 0);
        EXPECT_EQ(request.command, c.translated);
        EXPECT_EQ(request.hostAdapter, 0) << "the selected adapter replaces the request's";
        ASSERT_EQ(bus.drive.commands().size(), 1u);
        EXPECT_EQ(bus.drive.commands()[0].cdb, (Bytes{static_cast<uint8_t>(c.translated), 0, 0, 2, 1, 0}));
        EXPECT_EQ(bus.drive.commands()[0].direction, c.direction);
    }
}

TEST(TransferDeviceBlocks, SizesTheBufferInDeviceBlocksAndReturnsTheRawStatus) {
    Drive bus(kSectorSize);
    Bytes buffer(3 * kSectorSize);
    SectorRequest request{cmd::kRead6, 0, kDrive, 2, 3, buffer.data()};
    EXPECT_EQ(TransferDeviceBlocks(bus.device, request), aspi::kCompleted);
    EXPECT_EQ(bus.drive.commands()[0].bufferLength, 3 * kSectorSize);
    EXPECT_EQ(bus.cdbs(), std::vector<Bytes>{read6(2, 3)});
    EXPECT_EQ(buffer, patternedMedium(3, 0, 2));
    bus.drive.failNext(1, aspi::kAborted);
    EXPECT_EQ(TransferDeviceBlocks(bus.device, request), aspi::kAborted);
}

TEST(ProbeDosBootRecord, ReadsTheAnswerFromBlockZero) {
    struct Case {
        const char* what;
        int jump, signature0, signature1, byte29;
        bool readFails;
        int expected;
    };
    const Case cases[] = {
        {"no signature", 0xEB, 0x00, 0x00, 7, false, 0},
        {"half a signature", 0xEB, 0x55, 0x00, 7, false, 0},
        {"signature, no short jump", 0xE9, 0x55, 0xAA, 7, false, -2},
        {"boot record", 0xEB, 0x55, 0xAA, 7, false, -7},
        {"boot record, byte 29 zero", 0xEB, 0x55, 0xAA, 0, false, 0},
        {"boot record, byte 29 high", 0xEB, 0x55, 0xAA, 0xF8, false, -0xF8},
        {"unreadable", 0xEB, 0x55, 0xAA, 7, true, 0},
    };
    for (const Case& c : cases) {
        Drive bus(kSectorSize);
        bus.medium()[0] = static_cast<uint8_t>(c.jump);
        bus.medium()[29] = static_cast<uint8_t>(c.byte29);
        bus.medium()[510] = static_cast<uint8_t>(c.signature0);
        bus.medium()[511] = static_cast<uint8_t>(c.signature1);
        if (c.readFails) bus.drive.failBlock(0, aspi::kError);
        EXPECT_EQ(ProbeDosBootRecord(bus.device), c.expected) << c.what;
        ASSERT_FALSE(bus.drive.commands().empty());
        EXPECT_EQ(bus.cdbs()[0], read6(0)) << c.what;
    }
}

TEST(ProbeWriteProtection, ThreeOnlyWhenTheWriteBackIsRefusedAsProtected) {
    struct Case {
        const char* what;
        bool readFails, writeProtected, emptyMedium;
        int expected;
        size_t reads, writes;  // each tried up to kTransferAttempts times
    };
    const Case cases[] = {
        {"write-protected", false, true, false, aspi::kWriteProtected, 1, kTransferAttempts},
        // The block goes back as it was read, so a writable medium is left unchanged.
        {"writable", false, false, false, 0, 1, 1},
        {"unreadable: no write after a failed read", true, true, false, 0, kTransferAttempts, 0},
        // An empty medium reads as zeros, and every write to it ends with a plain error.
        {"other write errors", false, false, true, 0, 1, kTransferAttempts},
    };
    for (const Case& c : cases) {
        Drive bus(kSectorSize);
        if (c.readFails) bus.drive.failBlock(0, aspi::kError);
        bus.drive.target(kDrive).writeProtected = c.writeProtected;
        if (c.emptyMedium) bus.medium().clear();
        Bytes buffer(kSectorSize);
        EXPECT_EQ(ProbeWriteProtection(bus.device, kDrive, buffer.data()), c.expected) << c.what;
        std::vector<Bytes> expected(c.reads, read6(0));
        expected.insert(expected.end(), c.writes, Bytes{0x0A, 0, 0, 0, 1, 0});
        EXPECT_EQ(bus.cdbs(), expected) << c.what;
        EXPECT_EQ(bus.medium(), c.emptyMedium ? Bytes{} : patternedMedium(16)) << c.what;
    }
}

TEST(Aspi, RequestBlocksForAdaptersAndDevices) {
    Drive bus;
    bus.addAdapter("A-LONG-MANAGER-ID-CUT");
    char manager[16];
    uint8_t unique[16];
    EXPECT_EQ(InquireHostAdapter(bus.device, 1, manager, unique), 2);
    EXPECT_EQ(std::string(manager, 16), "A-LONG-MANAGER-I");
    EXPECT_EQ(InquireHostAdapter(bus.device, 2, manager, unique), 0);
    EXPECT_EQ(bus.device.sharedSrb.status, aspi::kInvalidAdapter);
    EXPECT_EQ(GetDeviceType(bus.device, 0, kDrive), kDeviceTypeCdrom);
    for (auto [adapter, target] : std::vector<std::pair<uint8_t, uint8_t>>{{0, 2}, {0, kNoSelection}, {2, kDrive}})
        EXPECT_EQ(GetDeviceType(bus.device, adapter, target), 0xFFFF) << int{adapter} << "/" << int{target};

    // Unknown request blocks and empty CDBs are refused before they reach a drive.
    ScsiRequestBlock block;
    block.command = 7;
    SendAspiCommand(bus.bus, block);
    EXPECT_EQ(block.status, aspi::kInvalidCommand);
    block = ScsiRequestBlock{};
    block.command = srb::kExecuteScsi;
    block.target = kDrive;
    SendAspiCommand(bus.bus, block);
    EXPECT_EQ(block.status, aspi::kInvalidCommand);
    EXPECT_TRUE(bus.drive.commands().empty());
}

TEST(InitAspi, ReportsTheAdapterCountOrEndsTheProgram) {
    test::RecordingUi ui;
    devicetest::ScriptedBus bus;
    EXPECT_EQ(InitAspi(bus.device, ui), 0) << "a bus without adapters is no missing manager";
    bus.addAdapter();
    bus.addAdapter();
    EXPECT_EQ(InitAspi(bus.device, ui), 2);
    EXPECT_TRUE(ui.fatalErrors.empty());
    bus.device.bus = nullptr;
    EXPECT_EQ(InitAspi(bus.device, ui), -1);
    EXPECT_EQ(ui.fatalErrors, std::vector<std::string>{"Error initializing the ASPI manager."});
}

}  // namespace
}  // namespace quarry
