// The sector source and the ASPI calls: what reaches a scripted drive, and what comes back.

#include "device/sector_source.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/aspi.h"
#include "device/device_test_support.h"
#include "device/scsi_cdb.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

using devicetest::cdb;
using devicetest::patternedMedium;
using devicetest::patternedSector;
using devicetest::ScriptedBus;

constexpr uint8_t kDrive = 3;

// One CD-ROM drive at adapter 0, target 3, holding 64 patterned sectors, and selected.
struct CdBus : ScriptedBus {
    ScriptedAdapter& drive;
    CdBus() : drive(addAdapter()) {
        drive.addTarget(kDrive, ScriptedTarget::cdrom("SONY", "CDU-76S", "1.0g", patternedMedium(64)));
        select(0, kDrive);
    }
    std::vector<uint8_t> read(uint32_t sector, uint16_t* status = nullptr) {
        std::vector<uint8_t> bytes(kSectorSize, 0xEE);
        const uint16_t result = ReadSector(device, sector, bytes.data());
        if (status) *status = result;
        return bytes;
    }
};

TEST(CdSectorCache, FourSectorsOfABlockCostOneRead6) {
    CdBus bus;
    for (uint32_t sector = 8; sector <= 11; ++sector) {
        uint16_t status = 0xFFFF;
        EXPECT_EQ(bus.read(sector, &status), patternedSector(sector)) << "sector " << sector;
        EXPECT_EQ(status, 0);
    }
    ASSERT_EQ(bus.drive.commands().size(), 1u);
    const RecordedCommand& sent = bus.drive.commands()[0];
    EXPECT_EQ(sent.target, kDrive);
    EXPECT_EQ(sent.cdb, cdb({0x08, 0x00, 0x00, 0x02, 0x01, 0x00}));
    EXPECT_EQ(sent.direction, DataDirection::In);
    EXPECT_EQ(sent.bufferLength, kCdBlockSize);
}

TEST(CdSectorCache, HoldsOnlyOneBlock) {
    CdBus bus;
    for (uint32_t sector : {8u, 12u, 8u}) EXPECT_EQ(bus.read(sector), patternedSector(sector));
    ASSERT_EQ(bus.drive.commands().size(), 3u);
    EXPECT_EQ(bus.drive.commands()[0].cdb[3], 2);
    EXPECT_EQ(bus.drive.commands()[1].cdb[3], 3);
    EXPECT_EQ(bus.drive.commands()[2].cdb[3], 2);
}

TEST(CdSectorCache, BlockAddressFillsThreeBytes) {
    CdBus bus;
    bus.drive.target(kDrive).medium.clear();  // reads past the end give zeros
    const uint32_t block = 0x1A2B3C;
    EXPECT_EQ(bus.read(block * 4 + 1), std::vector<uint8_t>(kSectorSize, 0));
    ASSERT_EQ(bus.drive.commands().size(), 1u);
    EXPECT_EQ(bus.drive.commands()[0].cdb, cdb({0x08, 0x1A, 0x2B, 0x3C, 0x01, 0x00}));
}

TEST(CdSectorCache, BlockBeyondSixByteAddressingIsRefusedNotWrapped) {
    // Block 2^21 would land on block 0 with a logical unit of 1; nothing must be sent.
    CdBus bus;
    uint16_t status = 0;
    bus.read((scsi::cdb6::kMaxBlock + 1) * 4, &status);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(bus.drive.commands().empty());
}

class FailedCdRead : public testing::TestWithParam<uint8_t> {};

TEST_P(FailedCdRead, ReachesTheCallerAndLeavesNoBlockCached) {
    CdBus bus;
    bus.drive.failNext(1, GetParam());
    uint16_t status = 0;
    bus.read(9, &status);
    EXPECT_EQ(status, GetParam());

    // The next read of the same block goes to the drive again and gets the real bytes.
    EXPECT_EQ(bus.read(9, &status), patternedSector(9));
    EXPECT_EQ(status, 0);
    ASSERT_EQ(bus.drive.commands().size(), 2u);
    EXPECT_EQ(bus.drive.commands()[1].cdb, cdb({0x08, 0x00, 0x00, 0x02, 0x01, 0x00}));
}

TEST_P(FailedCdRead, DoesNotServeThePreviousBlockAsTheFailedOne) {
    CdBus bus;
    bus.read(8);  // block 2 in the cache buffer
    bus.drive.failNext(1, GetParam());
    uint16_t status = 0;
    bus.read(12, &status);  // block 3 fails
    EXPECT_EQ(status, GetParam());
    EXPECT_EQ(bus.read(13, &status), patternedSector(13));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(bus.drive.commands().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, FailedCdRead,
                         testing::Values(aspi::kAborted, aspi::kError, aspi::kInvalidCommand, aspi::kNoDevice));

TEST(CdSectorCache, RefusesWritesAndMultiSectorRequestsUntouched) {
    struct Case {
        uint16_t command;
        uint16_t count;
    };
    for (const Case c : {Case{cmd::kWrite6, 1}, Case{cmd::kRead6, 2}, Case{cmd::kRead6, 0}, Case{cmd::kGenericRead, 1}}) {
        CdBus bus;
        bus.read(8);
        bus.drive.clearCommands();
        std::vector<uint8_t> buffer(4 * kSectorSize, 0x5A);
        SectorRequest request{c.command, 0, kDrive, 40, c.count, buffer.data()};
        EXPECT_EQ(ReadCdSector(bus.device, request), aspi::kInvalidCommand) << c.command << "/" << c.count;
        EXPECT_TRUE(bus.drive.commands().empty());
        EXPECT_EQ(buffer, std::vector<uint8_t>(4 * kSectorSize, 0x5A));
        // The cached block is still block 2.
        EXPECT_EQ(bus.read(10), patternedSector(10));
        EXPECT_TRUE(bus.drive.commands().empty());
    }
}

TEST(CdSectorCache, UsesTheSelectedAdapterWhateverTheRequestSays) {
    CdBus bus;
    ScriptedAdapter& second = bus.addAdapter("SECOND");
    second.addTarget(kDrive, ScriptedTarget::cdrom("B", "B", "1", patternedMedium(8, 99)));
    bus.select(1, kDrive);
    std::vector<uint8_t> buffer(kSectorSize);
    SectorRequest request{cmd::kRead6, 0, kDrive, 5, 1, buffer.data()};
    EXPECT_EQ(ReadCdSector(bus.device, request), 0);
    EXPECT_EQ(buffer, patternedSector(5, 99));
    EXPECT_EQ(request.hostAdapter, 1);
    EXPECT_EQ(request.sector, 5u);
    EXPECT_EQ(request.buffer, buffer.data());
    EXPECT_TRUE(bus.drive.commands().empty());
}

TEST(CdSectorCache, WithoutADriveSelectedReadsFail) {
    struct Case {
        uint8_t adapter, target, status;
    };
    for (const Case c : {Case{0, kNoSelection, aspi::kNoDevice}, Case{kNoSelection, kNoSelection, aspi::kInvalidAdapter},
                         Case{0, 6, aspi::kNoDevice}}) {
        CdBus bus;
        bus.select(c.adapter, c.target);
        uint16_t status = 0;
        bus.read(0, &status);
        EXPECT_EQ(status, c.status) << int{c.adapter} << "/" << int{c.target};
    }
}

TEST(SectorSource, ReadSectorNeedsAnInstalledSource) {
    CdBus bus;
    bus.device.sectorSource = nullptr;
    uint16_t status = 0;
    bus.read(0, &status);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(bus.drive.commands().empty());
}

// A 512-byte-block drive on the generic path, as the probes see the device.
struct GenericBus : ScriptedBus {
    ScriptedAdapter& drive;
    GenericBus() : drive(addAdapter()) {
        ScriptedTarget disk = ScriptedTarget::cdrom("X", "Y", "Z", patternedMedium(16));
        disk.blockSize = kSectorSize;
        drive.addTarget(kDrive, disk);
        select(0, kDrive);
        device.deviceBlockSize = kSectorSize;
    }
};

TEST(TransferWithRetry, TriesUpToTwentyTimes) {
    struct Case {
        int failures;
        uint16_t result;
        size_t commands;
    };
    for (const Case c : {Case{0, 0, 1}, Case{1, 0, 2}, Case{19, 0, 20}, Case{20, aspi::kError, 20}, Case{25, aspi::kError, 20}}) {
        GenericBus bus;
        bus.drive.failNext(c.failures, aspi::kError);
        std::vector<uint8_t> buffer(kSectorSize);
        SectorRequest request{cmd::kGenericRead, 0, kDrive, 3, 1, buffer.data()};
        EXPECT_EQ(TransferWithRetry(bus.device, request), c.result) << c.failures << " failures";
        EXPECT_EQ(bus.drive.commands().size(), c.commands) << c.failures << " failures";
        if (c.result == 0) {
            EXPECT_EQ(buffer, patternedSector(3));
        }
    }
}

TEST(TransferWithRetry, TranslatesGenericCommandsInTheCallersRecord) {
    struct Case {
        uint16_t command, translated;
        DataDirection direction;
    };
    for (const Case c : {Case{cmd::kGenericRead, cmd::kRead6, DataDirection::In}, Case{cmd::kGenericWrite, cmd::kWrite6, DataDirection::Out},
                         Case{cmd::kRead6, cmd::kRead6, DataDirection::In}, Case{cmd::kWrite6, cmd::kWrite6, DataDirection::Out}}) {
        GenericBus bus;
        std::vector<uint8_t> buffer = patternedSector(2);
        SectorRequest request{c.command, 7, kDrive, 2, 1, buffer.data()};
        EXPECT_EQ(TransferWithRetry(bus.device, request), 0);
        EXPECT_EQ(request.command, c.translated);
        EXPECT_EQ(request.hostAdapter, 0) << "the selected adapter replaces the request's";
        ASSERT_EQ(bus.drive.commands().size(), 1u);
        EXPECT_EQ(bus.drive.commands()[0].cdb, cdb({static_cast<uint8_t>(c.translated), 0, 0, 2, 1, 0}));
        EXPECT_EQ(bus.drive.commands()[0].direction, c.direction);
    }
}

TEST(TransferDeviceBlocks, SizesTheBufferInDeviceBlocksAndReturnsTheRawStatus) {
    GenericBus bus;
    std::vector<uint8_t> buffer(3 * kSectorSize);
    SectorRequest request{cmd::kRead6, 0, kDrive, 2, 3, buffer.data()};
    EXPECT_EQ(TransferDeviceBlocks(bus.device, request), aspi::kCompleted);
    EXPECT_EQ(bus.drive.commands()[0].bufferLength, 3 * kSectorSize);
    EXPECT_EQ(bus.drive.commands()[0].cdb, cdb({0x08, 0x00, 0x00, 0x02, 0x03, 0x00}));
    for (uint32_t s = 0; s < 3; ++s)
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + s * kSectorSize, buffer.begin() + (s + 1) * kSectorSize), patternedSector(2 + s));

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
        GenericBus bus;
        std::vector<uint8_t>& medium = bus.drive.target(kDrive).medium;
        medium[0] = static_cast<uint8_t>(c.jump);
        medium[29] = static_cast<uint8_t>(c.byte29);
        medium[510] = static_cast<uint8_t>(c.signature0);
        medium[511] = static_cast<uint8_t>(c.signature1);
        if (c.readFails) bus.drive.failBlock(0, aspi::kError);
        EXPECT_EQ(ProbeDosBootRecord(bus.device), c.expected) << c.what;
        ASSERT_FALSE(bus.drive.commands().empty());
        EXPECT_EQ(bus.drive.commands()[0].cdb, cdb({0x08, 0, 0, 0, 1, 0})) << c.what;
    }
}

TEST(ProbeWriteProtection, ZeroWhenEvenTheReadFails) {
    GenericBus bus;
    bus.drive.failBlock(0, aspi::kError);
    bus.drive.target(kDrive).writeProtected = true;
    std::vector<uint8_t> buffer(kSectorSize);
    EXPECT_EQ(ProbeWriteProtection(bus.device, kDrive, buffer.data()), 0);
    for (const RecordedCommand& sent : bus.drive.commands()) EXPECT_EQ(sent.cdb[0], 0x08) << "no write after a failed read";
}

TEST(ProbeWriteProtection, ThreeOnAWriteProtectedMedium) {
    GenericBus bus;
    bus.drive.target(kDrive).writeProtected = true;
    std::vector<uint8_t> buffer(kSectorSize);
    EXPECT_EQ(ProbeWriteProtection(bus.device, kDrive, buffer.data()), aspi::kWriteProtected);
    EXPECT_EQ(bus.drive.target(kDrive).medium, patternedMedium(16));
}

TEST(ProbeWriteProtection, ZeroOnAWritableMediumWhichItLeavesUnchanged) {
    GenericBus bus;
    std::vector<uint8_t> buffer(kSectorSize);
    EXPECT_EQ(ProbeWriteProtection(bus.device, kDrive, buffer.data()), 0);
    const std::vector<RecordedCommand>& sent = bus.drive.commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].cdb, cdb({0x08, 0, 0, 0, 1, 0}));
    EXPECT_EQ(sent[1].cdb, cdb({0x0A, 0, 0, 0, 1, 0}));
    EXPECT_EQ(bus.drive.target(kDrive).medium, patternedMedium(16));
}

TEST(ProbeWriteProtection, ZeroWhenTheWriteFailsOtherwise) {
    GenericBus bus;
    std::vector<uint8_t> buffer(kSectorSize);
    // An empty medium reads as zeros, and every write to it ends with a plain error.
    bus.drive.target(kDrive).medium.clear();
    EXPECT_EQ(ProbeWriteProtection(bus.device, kDrive, buffer.data()), 0);
    EXPECT_EQ(bus.drive.commands().size(), 1u + kTransferAttempts);
}

TEST(Aspi, InquireDeviceSendsInquiryForOneHundredBytes) {
    CdBus bus;
    uint8_t buffer[150] = {};
    EXPECT_EQ(InquireDevice(bus.device, 0, kDrive, buffer), aspi::kCompleted);
    ASSERT_EQ(bus.drive.commands().size(), 1u);
    const RecordedCommand& sent = bus.drive.commands()[0];
    EXPECT_EQ(sent.cdb, cdb({0x12, 0x00, 0x00, 0x00, 0x64, 0x00}));
    EXPECT_EQ(sent.bufferLength, 100u);
    EXPECT_EQ(sent.direction, DataDirection::None);
    EXPECT_EQ(buffer[0], kDeviceTypeCdrom);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 8), 8), "SONY    ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 16), 16), "CDU-76S         ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 32), 4), "1.0g");
}

TEST(Aspi, HostAdapterInquiryAndDeviceType) {
    CdBus bus;
    bus.addAdapter("A-LONG-MANAGER-ID-CUT");
    char manager[16];
    uint8_t unique[16];
    EXPECT_EQ(InquireHostAdapter(bus.device, 0, manager, unique), 2);
    EXPECT_EQ(std::string(manager, 16), std::string("SCRIPTED\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(InquireHostAdapter(bus.device, 1, manager, unique), 2);
    EXPECT_EQ(std::string(manager, 16), "A-LONG-MANAGER-I");
    EXPECT_EQ(InquireHostAdapter(bus.device, 2, manager, unique), 0);
    EXPECT_EQ(bus.device.sharedSrb.status, aspi::kInvalidAdapter);

    EXPECT_EQ(GetDeviceType(bus.device, 0, kDrive), kDeviceTypeCdrom);
    EXPECT_EQ(GetDeviceType(bus.device, 0, 2), 0xFFFF);
    EXPECT_EQ(GetDeviceType(bus.device, 0, kNoSelection), 0xFFFF);
    EXPECT_EQ(GetDeviceType(bus.device, 2, kDrive), 0xFFFF);
}

TEST(Aspi, ExecuteTakesItsDirectionFromTheFlags) {
    struct Case {
        uint8_t flags;
        DataDirection direction;
    };
    for (const Case c : {Case{srb::kDirectionIn, DataDirection::In}, Case{srb::kDirectionOut, DataDirection::Out},
                         Case{0, DataDirection::None}}) {
        CdBus bus;
        uint8_t buffer[kCdBlockSize] = {};
        ScsiRequestBlock block;
        block.command = srb::kExecuteScsi;
        block.target = kDrive;
        block.flags = c.flags;
        block.buffer = buffer;
        block.bufferLength = sizeof buffer;
        block.cdbLength = 6;
        block.cdb[0] = 0x00;  // TEST UNIT READY
        SendAspiCommand(bus.bus, block);
        EXPECT_EQ(block.status, aspi::kCompleted);
        ASSERT_EQ(bus.drive.commands().size(), 1u);
        EXPECT_EQ(bus.drive.commands()[0].direction, c.direction);
        EXPECT_EQ(bus.drive.commands()[0].bufferLength, kCdBlockSize);
    }
}

TEST(Aspi, UnknownRequestBlocksAndEmptyCdbsAreInvalid) {
    CdBus bus;
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
    ScriptedBus bus;
    EXPECT_EQ(InitAspi(bus.device, ui), 0) << "a bus without adapters is no missing manager";
    bus.addAdapter();
    bus.addAdapter();
    EXPECT_EQ(InitAspi(bus.device, ui), 2);
    EXPECT_TRUE(ui.fatalErrors.empty());

    bus.device.bus = nullptr;
    EXPECT_EQ(InitAspi(bus.device, ui), -1);
    ASSERT_EQ(ui.fatalErrors.size(), 1u);
    EXPECT_EQ(ui.fatalErrors[0], "Error initializing the ASPI manager.");
}

}  // namespace
}  // namespace quarry
