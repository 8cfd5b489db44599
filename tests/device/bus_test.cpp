// The bus as the program sees it: the sector source and its one-block cache, the ASPI calls, the
// probes, the bus scan with its table and entry texts, and the choice of a drive; against
// scripted drives, and against a sparse image past 4 GiB.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "device/aspi.h"
#include "device/device_test_support.h"
#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "device/scsi_cdb.h"
#include "device/sector_source.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using devicetest::Bytes;
using devicetest::patternedMedium;
using devicetest::patternedSector;
using devicetest::ScriptedBus;
using devicetest::transferCdb;

constexpr uint8_t kDrive = 3;

// One drive at adapter 0, target 3, selected: a CD-ROM of 64 patterned sectors, or a drive of
// 16 sectors in 512-byte blocks as the generic path and the probes see it.
struct Drive : ScriptedBus {
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

Bytes read6(uint32_t block, uint8_t count = 1) { return transferCdb(scsi::kRead6, block, count); }

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
        {"the last sector of 32 bits", {0xFFFFFFFF}, {transferCdb(scsi::kRead10, 0x3FFFFFFF)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Drive bus;
        for (uint32_t sector : c.sectors) {
            uint16_t status = 0xFFFF;
            const Bytes bytes = bus.read(sector, &status);
            EXPECT_EQ(status, 0) << sector;
            EXPECT_EQ(bytes, sector < 64 ? patternedSector(sector) : Bytes(kSectorSize, 0)) << sector;
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
TEST(CdSectorCache, AFailedReadReachesTheCallerAndLeavesNoBlockCached) {
    for (const uint8_t failure : {aspi::kAborted, aspi::kError, aspi::kInvalidCommand, aspi::kNoDevice}) {
        SCOPED_TRACE(int{failure});
        Drive bus;
        uint16_t status = 0;
        for (const auto& [failed, next] : {std::pair{9u, 9u}, std::pair{12u, 13u}}) {
            bus.drive.failNext(1, failure);
            bus.read(failed, &status);
            EXPECT_EQ(status, failure);
            EXPECT_EQ(bus.read(next, &status), patternedSector(next));
            EXPECT_EQ(status, 0);
        }
        EXPECT_EQ(bus.cdbs(), (std::vector<Bytes>{read6(2), read6(2), read6(3), read6(3)}));
    }
}

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

// The generic path rewrites commands 2 and 3 in the caller's record and tries up to twenty times;
// TransferDeviceBlocks sizes the buffer in device blocks and returns the raw status (1 when done).
TEST(TransferWithRetry, TranslatesGenericCommandsAndTriesUpToTwentyTimes) {
    struct Case {
        uint16_t command, translated;
        int failures;
        uint16_t result;
        size_t tries;
    };
    for (const Case c : {Case{cmd::kGenericRead, cmd::kRead6, 0, 0, 1}, Case{cmd::kGenericWrite, cmd::kWrite6, 1, 0, 2},
                         Case{cmd::kRead6, cmd::kRead6, 19, 0, 20}, Case{cmd::kWrite6, cmd::kWrite6, 20, aspi::kError, 20},
                         Case{cmd::kGenericRead, cmd::kRead6, 25, aspi::kError, 20}}) {
        SCOPED_TRACE(testing::Message() << c.command << ", " << c.failures << " failures");
        const bool write = c.translated == cmd::kWrite6;
        Drive bus(kSectorSize);
        bus.drive.failNext(c.failures, aspi::kError);
        Bytes buffer = write ? patternedMedium(3, 0, 2) : Bytes(3 * kSectorSize, 0xEE);
        SectorRequest request{c.command, 7, kDrive, 2, 3, buffer.data()};
        EXPECT_EQ(TransferWithRetry(bus.device, request), c.result);
        EXPECT_EQ(request.command, c.translated);
        EXPECT_EQ(request.hostAdapter, 0) << "the selected adapter replaces the request's";
        EXPECT_EQ(bus.cdbs(), std::vector<Bytes>(c.tries, transferCdb(static_cast<uint8_t>(c.translated), 2, 3)));
        EXPECT_EQ(bus.drive.commands()[0].direction, write ? DataDirection::Out : DataDirection::In);
        EXPECT_EQ(bus.drive.commands()[0].bufferLength, 3 * kSectorSize);
        EXPECT_EQ(buffer == patternedMedium(3, 0, 2), write || c.result == 0);
        if (c.failures < kTransferAttempts) {
            EXPECT_EQ(TransferDeviceBlocks(bus.device, request), aspi::kCompleted);
        }
    }
}

// The six-byte form goes out wherever it can hold the block and the count, as drives were always
// sent it; past 21 bits of address or 256 blocks the ten-byte form carries them whole.
TEST(TransferDeviceBlocks, SixBytesWhereTheyFitTenBeyond) {
    struct Case {
        uint16_t command;
        uint32_t block;
        uint16_t count;
        Bytes cdb;
    };
    const Case cases[] = {
        {cmd::kRead6, scsi::cdb6::kMaxBlock, 256, read6(scsi::cdb6::kMaxBlock, 0)},
        {cmd::kRead6, scsi::cdb6::kMaxBlock + 1, 1, transferCdb(scsi::kRead10, scsi::cdb6::kMaxBlock + 1)},
        {cmd::kRead6, 0, 257, transferCdb(scsi::kRead10, 0, 257)},
        {cmd::kRead6, 0xFEDCBA98, 0xFFFF, transferCdb(scsi::kRead10, 0xFEDCBA98, 0xFFFF)},
        {cmd::kWrite6, 0x12345678, 2, transferCdb(scsi::kWrite10, 0x12345678, 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.command << " " << c.block << " " << c.count);
        Drive bus(kSectorSize);
        Bytes buffer(size_t{c.count} * kSectorSize, 0xEE);
        SectorRequest request{c.command, 0, kDrive, c.block, c.count, buffer.data()};
        const uint8_t status = TransferDeviceBlocks(bus.device, request);
        ASSERT_EQ(bus.drive.commands().size(), 1u);
        const RecordedCommand& sent = bus.drive.commands()[0];
        EXPECT_EQ(sent.cdb, c.cdb);
        EXPECT_EQ(sent.bufferLength, buffer.size());
        EXPECT_EQ(sent.direction, c.command == cmd::kRead6 ? DataDirection::In : DataDirection::Out);
        if (c.command == cmd::kRead6) {
            EXPECT_EQ(status, aspi::kCompleted);
            const Bytes expected = c.block == 0 ? patternedMedium(16) : Bytes(kSectorSize, 0);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
        }
    }
}

// A sparse image of 4 GiB and a little, served by the image adapter as the program reads every
// medium: patterned sectors on both sides of 4 GiB and in the last, partial block read back
// exactly, a write lands where it was aimed, and nothing past the last block reads.
TEST(ImagePast4GiB, ReadsAndWritesThroughTheSectorSource) {
    constexpr uint64_t kFourGiB = uint64_t{1} << 32;
    constexpr auto kAt4GiB = static_cast<uint32_t>(kFourGiB / kSectorSize);
    constexpr uint32_t kLastSector = kAt4GiB + 13;  // holds 488 bytes
    constexpr uint32_t kBlocks = kAt4GiB / 4 + 4;
    test::TempDir dir;
    const std::string path = dir.file("big.iso");
    const Bytes around = patternedMedium(12, 0, kAt4GiB - 4);
    Bytes last = patternedSector(kLastSector);
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::ftruncate(file, static_cast<off_t>(kFourGiB + 3 * kCdBlockSize + 1000)), 0);
    ASSERT_EQ(::pwrite(file, around.data(), around.size(), off_t{kAt4GiB - 4} * kSectorSize), static_cast<ssize_t>(around.size()));
    ASSERT_EQ(::pwrite(file, last.data(), 488, off_t{kLastSector} * kSectorSize), 488);
    ScriptedBus bus;
    auto images = std::make_unique<ImageAdapter>();
    ASSERT_TRUE(images->addImage(path, ImageAccess::ReadWrite));
    bus.bus.adapters.push_back(std::move(images));
    bus.select(0, 0);

    EXPECT_EQ(ImageBytes(bus.device), kFourGiB + 3 * kCdBlockSize + 1000);
    EXPECT_EQ(MediumSectors(bus.device), uint64_t{kBlocks} * 4);
    Bytes sector(kSectorSize), run(12 * kSectorSize);
    ASSERT_EQ(ReadSectors(bus.device, kAt4GiB - 4, 12, run.data()), 0);
    EXPECT_EQ(run, around);
    ASSERT_EQ(ReadSector(bus.device, kLastSector, sector.data()), 0);
    std::fill(last.begin() + 488, last.end(), 0);
    EXPECT_EQ(sector, last);
    // An image cut short is never read as zeros.
    EXPECT_NE(ReadSector(bus.device, kBlocks * 4, sector.data()), 0);
    EXPECT_EQ(ReadSectors(bus.device, kLastSector, 3, run.data()), 0);  // to the end of the last block
    EXPECT_NE(ReadSectors(bus.device, kLastSector, 4, run.data()), 0);

    // Two sectors in the middle of the first block past 4 GiB: its other two stay as they were,
    // and nothing reaches the start of the image, where an address cut to 32 bits would write.
    const Bytes written = patternedMedium(2, 77, kAt4GiB + 1);
    ASSERT_EQ(WriteSectors(bus.device, kAt4GiB + 1, 2, written.data()), 0);
    ASSERT_EQ(ReadSector(bus.device, kAt4GiB + 2, sector.data()), 0);
    EXPECT_EQ(sector, patternedSector(kAt4GiB + 2, 77));
    Bytes onDisk(4 * kSectorSize), start(kCdBlockSize, 0xEE);
    ASSERT_EQ(::pread(file, onDisk.data(), onDisk.size(), static_cast<off_t>(kFourGiB)), static_cast<ssize_t>(onDisk.size()));
    ASSERT_EQ(::pread(file, start.data(), start.size(), 0), static_cast<ssize_t>(start.size()));
    ::close(file);
    Bytes expected = patternedMedium(4, 0, kAt4GiB);
    std::copy(written.begin(), written.end(), expected.begin() + kSectorSize);
    EXPECT_EQ(onDisk, expected);
    EXPECT_EQ(start, Bytes(kCdBlockSize, 0));
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
        expected.insert(expected.end(), c.writes, transferCdb(scsi::kWrite6, 0));
        EXPECT_EQ(bus.cdbs(), expected) << c.what;
        EXPECT_EQ(bus.medium(), c.emptyMedium ? Bytes{} : patternedMedium(16)) << c.what;
    }
}

TEST(Aspi, InitAndRequestBlocksForAdaptersAndDevices) {
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

    // InitAspi counts the adapters; a bus without adapters is no missing manager, a missing bus is.
    test::RecordingUi ui;
    ScriptedBus empty;
    EXPECT_EQ(InitAspi(empty.device, ui), 0);
    EXPECT_EQ(InitAspi(bus.device, ui), 2);
    EXPECT_TRUE(ui.fatalErrors.empty());
    bus.device.bus = nullptr;
    EXPECT_EQ(InitAspi(bus.device, ui), -1);
    EXPECT_EQ(ui.fatalErrors, std::vector<std::string>{"Error initializing the ASPI manager."});
}

ScriptedTarget device(uint8_t type, const char* vendor = "SEAGATE", const char* product = "ST32550N") {
    ScriptedTarget t = ScriptedTarget::cdrom(vendor, product, "0021");
    t.deviceType = type;
    return t;
}

TEST(ScanScsiBus, ListsTheCdromsAndAsksOnlyThemForTheirIdentification) {
    ScriptedBus bus;
    ScriptedAdapter& first = bus.addAdapter("ASPI for WIN32");
    first.addTarget(0, device(kDeviceTypeDisk));
    first.addTarget(1, device(1));  // a tape
    first.addTarget(3, ScriptedTarget::cdrom("SONY", "CDU-76S", "1.0g"));
    bus.addAdapter("A-LONG-MANAGER-ID-CUT").addTarget(2, device(kDeviceTypeDisk));
    ScsiDeviceTable table;
    bus.device.targetId = 5;

    EXPECT_EQ(ScanScsiBus(bus.device, table), 0x0201);
    EXPECT_EQ(bus.device.targetId, 0);
    // Only the CD-ROM is asked for its identification: INQUIRY for 100 bytes.
    ASSERT_EQ(first.commands().size(), 1u);
    const RecordedCommand& inquiry = first.commands()[0];
    EXPECT_EQ(std::tie(inquiry.target, inquiry.cdb, inquiry.bufferLength, inquiry.direction),
              std::tuple(3, Bytes{0x12, 0, 0, 0, 0x64, 0}, 100u, DataDirection::None));
    EXPECT_TRUE(bus.adapter(1).commands().empty());
    EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{"[0|3] SONY - CDU-76S         "});
}

TEST(ScanScsiBus, FullTableEndsTheScanWithoutWritingPastIt) {
    ScriptedBus bus;
    for (int a = 0; a < 4; ++a) {
        ScriptedAdapter& adapter = bus.addAdapter();
        for (uint8_t t = 0; t < kTargetsPerAdapter; ++t) adapter.addTarget(t, ScriptedTarget::cdrom("V", "P", "R"));
    }
    ScsiDeviceTable table;
    // Three adapters fit: 1 + 8, 1 + 8, 1 + 5 rows, and the end row in the last place.
    EXPECT_EQ(ScanScsiBus(bus.device, table), 3 << 8 | 21);
    EXPECT_EQ(DriveEntryTexts(table).size(), 21u);
    EXPECT_TRUE(bus.adapter(3).commands().empty());
}

// The entry texts of the drives found, from their blank-padded INQUIRY fields: the vendor loses
// its trailing blanks, the product keeps them. A drive that never answers INQUIRY in five tries
// is listed all the same.
TEST(ScanScsiBus, EntryTextsOfTheDrivesFound) {
    struct Case {
        const char *vendor, *product;
        int failures;
        size_t commands;
        const char* entry;
    };
    for (const Case c : {Case{"MATSHITA", "CD-ROM CR-8005", 0, 1, "[0|2] MATSHITA - CD-ROM CR-8005  "},
                         Case{"A B", "X", 0, 1, "[0|2] A B - X               "},
                         Case{"PLEXTOR", "CD-ROM PX-4XCS", 4, 5, "[0|2] PLEXTOR - CD-ROM PX-4XCS  "},
                         Case{"PLEXTOR", "CD-ROM PX-4XCS", 5, 5, "[0|2] - "}}) {
        ScriptedBus bus;
        ScriptedAdapter& adapter = bus.addAdapter();
        adapter.addTarget(2, ScriptedTarget::cdrom(c.vendor, c.product, "1.01"));
        adapter.failNext(c.failures, aspi::kError);
        ScsiDeviceTable table;
        EXPECT_EQ(ScanScsiBus(bus.device, table), 0x0101) << c.entry;
        EXPECT_EQ(adapter.commands().size(), c.commands) << c.entry;
        EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{c.entry});
    }
    EXPECT_TRUE(DriveEntryTexts(ScsiDeviceTable{}).empty()) << "a table never scanned";
}

TEST(SelectCdromDrive, ChoosesAmongTwoDrivesAndReadsTheChosenOnesBlocks) {
    ScriptedBus bus;
    bus.addAdapter().addTarget(3, ScriptedTarget::cdrom("SONY", "CDU-76S", "1.0g", patternedMedium(8, 1)));
    bus.addAdapter().addTarget(0, ScriptedTarget::cdrom("NEC", "CD-ROM DRIVE:501", "3.0", patternedMedium(8, 2)));
    test::RecordingUi ui;
    ScsiDeviceTable table;
    std::vector<uint8_t> sector(kSectorSize);
    // A new choice is never served from the previous drive's cached block.
    for (int choice : {0, 1}) {
        ui.driveChoice = choice;
        ASSERT_EQ(SelectCdromDrive(bus.device, table, ui), 1);
        EXPECT_EQ(bus.device.hostAdapterId, choice);
        EXPECT_EQ(bus.device.targetId, choice == 0 ? 3 : 0);
        ASSERT_EQ(ReadSector(bus.device, 1, sector.data()), 0);
        EXPECT_EQ(sector, patternedSector(1, static_cast<uint8_t>(choice + 1)));
    }
    EXPECT_EQ(ui.driveDialogs, std::vector<std::vector<std::string>>(
                                   2, {"[0|3] SONY - CDU-76S         ", "[1|0] NEC - CD-ROM DRIVE:501"}));
    ui.driveChoice = -1;
    EXPECT_EQ(SelectCdromDrive(bus.device, table, ui), 0);
    EXPECT_EQ(bus.device.hostAdapterId, kNoSelection);
    EXPECT_EQ(bus.device.targetId, kNoSelection);
}

TEST(SelectCdromDrive, WithoutAChoiceNoDialog) {
    struct Case {
        const char* what;
        int adapters;
        bool cdrom;
        int result;
        uint8_t adapterAfter, targetAfter;
    };
    // A single drive is taken. With no adapter the scan has set the target to 0 and the adapter
    // is left as it was; with adapters but no CD-ROM no drive stays selected.
    for (const Case c : {Case{"one drive", 2, true, 1, 1, 6}, Case{"no adapter", 0, false, 0, 4, 0},
                         Case{"no CD-ROM", 2, false, 0, kNoSelection, kNoSelection}}) {
        ScriptedBus bus;
        for (int a = 0; a < c.adapters; ++a) bus.addAdapter().addTarget(0, device(kDeviceTypeDisk));
        if (c.cdrom) bus.adapter(1).addTarget(6, ScriptedTarget::cdrom("SONY", "CDU-76S", "1.0g"));
        bus.select(4, 5);
        test::RecordingUi ui;
        ScsiDeviceTable table;
        EXPECT_EQ(SelectCdromDrive(bus.device, table, ui), c.result) << c.what;
        EXPECT_TRUE(ui.driveDialogs.empty()) << c.what;
        EXPECT_EQ(bus.device.hostAdapterId, c.adapterAfter) << c.what;
        EXPECT_EQ(bus.device.targetId, c.targetAfter) << c.what;
    }
}

}  // namespace
}  // namespace quarry
