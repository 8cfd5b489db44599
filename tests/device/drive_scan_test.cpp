// The bus scan, its table and entry texts, and the choice of a drive.

#include "device/drive_scan.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/device_test_support.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

using devicetest::patternedMedium;
using devicetest::patternedSector;
using devicetest::ScriptedBus;

using Row = std::array<uint8_t, kDeviceRowSize>;

Row rowOf(std::initializer_list<std::pair<size_t, std::string>> fields) {
    Row r{};
    for (const auto& [offset, bytes] : fields) std::memcpy(r.data() + offset, bytes.data(), bytes.size());
    return r;
}

std::string bytes(std::initializer_list<uint8_t> b) { return std::string(b.begin(), b.end()); }

ScriptedTarget disk() {
    ScriptedTarget t = ScriptedTarget::cdrom("SEAGATE", "ST32550N", "0021");
    t.deviceType = kDeviceTypeDisk;
    return t;
}

TEST(ScanScsiBus, WritesAdapterRowCdromRowAndEndRow) {
    ScriptedBus bus;
    bus.addAdapter("ASPI for WIN32").addTarget(3, ScriptedTarget::cdrom("SONY", "CDU-76S", "1.0g"));
    ScsiDeviceTable table;
    table.rows[7].fill(0x77);  // the scan clears what an earlier one left
    bus.device.targetId = 5;

    EXPECT_EQ(ScanScsiBus(bus.device, table), 0x0101);
    EXPECT_EQ(bus.device.targetId, 0);
    EXPECT_EQ(table.rows[0], rowOf({{0, bytes({0, 2, 0xFF})}, {12, "ASPI for WIN32"}}));
    EXPECT_EQ(table.rows[1], rowOf({{0, bytes({0, 5, 3})}, {3, "SONY    "}, {12, "CDU-76S         "}, {29, "1.0g"}}));
    EXPECT_EQ(table.rows[2], rowOf({{0, bytes({0xFF})}}));
    for (size_t r = 3; r < kDeviceTableRows; ++r) EXPECT_EQ(table.rows[r], Row{}) << "row " << r;

    EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{"[0|3] SONY - CDU-76S         "});
}

TEST(ScanScsiBus, ListsOnlyCdromsAndAsksOnlyThemForIdentification) {
    ScriptedBus bus;
    ScriptedAdapter& adapter = bus.addAdapter();
    adapter.addTarget(0, disk());
    ScriptedTarget tape = disk();
    tape.deviceType = 1;
    adapter.addTarget(1, tape);
    adapter.addTarget(4, ScriptedTarget::cdrom("TOSHIBA", "CD-ROM XM-3401TA", "0283"));
    ScsiDeviceTable table;

    EXPECT_EQ(ScanScsiBus(bus.device, table), 0x0101);
    EXPECT_EQ(table.rows[0][1], 2) << "the adapter counts itself and its one CD-ROM";
    EXPECT_EQ(table.rows[1][2], 4);
    EXPECT_EQ(table.rows[2][0], 0xFF);
    ASSERT_EQ(adapter.commands().size(), 1u);
    EXPECT_EQ(adapter.commands()[0].target, 4);
    EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{"[0|4] TOSHIBA - CD-ROM XM-3401TA"});
}

TEST(ScanScsiBus, AdapterWithoutCdromKeepsItsRowButListsNothing) {
    ScriptedBus bus;
    bus.addAdapter("FIRST").addTarget(1, ScriptedTarget::cdrom("NEC", "CD-ROM DRIVE:84", "1.0"));
    bus.addAdapter("SECOND").addTarget(2, disk());
    ScsiDeviceTable table;

    EXPECT_EQ(ScanScsiBus(bus.device, table), 0x0201);
    EXPECT_EQ(table.rows[2], rowOf({{0, bytes({1, 1, 0xFF})}, {12, "SECOND"}}));
    EXPECT_EQ(table.rows[3], rowOf({{0, bytes({0xFF})}}));
    EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{"[0|1] NEC - CD-ROM DRIVE:84 "});
}

TEST(ScanScsiBus, DriveThatNeverAnswersInquiryIsStillListed) {
    struct Case {
        int failures;
        size_t inquiries;
        const char* entry;
    };
    for (const Case c : {Case{4, 5, "[0|2] PLEXTOR - CD-ROM PX-4XCS  "}, Case{5, 5, "[0|2] - "}}) {
        ScriptedBus bus;
        ScriptedAdapter& adapter = bus.addAdapter();
        adapter.addTarget(2, ScriptedTarget::cdrom("PLEXTOR", "CD-ROM PX-4XCS", "1.01"));
        adapter.failNext(c.failures, aspi::kError);
        ScsiDeviceTable table;
        EXPECT_EQ(ScanScsiBus(bus.device, table), 0x0101);
        EXPECT_EQ(adapter.commands().size(), c.inquiries) << c.failures;
        EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{c.entry});
    }
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
    EXPECT_EQ(table.rows[18][0], 2);
    EXPECT_EQ(table.rows[18][1], 6);
    EXPECT_EQ(table.rows[23][2], 4);
    EXPECT_EQ(table.rows[24], rowOf({{0, bytes({0xFF})}}));
    EXPECT_EQ(DriveEntryTexts(table).size(), 21u);
    EXPECT_TRUE(bus.adapter(3).commands().empty());
}

TEST(DriveEntryTexts, VendorLosesTrailingBlanksProductKeepsThem) {
    struct Case {
        const char* vendor;
        const char* product;
        const char* entry;
    };
    const Case cases[] = {
        {"MATSHITA", "CD-ROM CR-8005  ", "[0|0] MATSHITA - CD-ROM CR-8005  "},
        {"HP      ", "C4324/C4325     ", "[0|0] HP - C4324/C4325     "},
        {"A B", "X", "[0|0] A B - X               "},
        {"", "", "[0|0] - "},
    };
    for (const Case& c : cases) {
        ScsiDeviceTable table;
        Row& r = table.rows[0];
        r[1] = kDeviceTypeCdrom;
        std::memcpy(r.data() + 3, c.vendor, std::strlen(c.vendor));
        std::memcpy(r.data() + 12, c.product, std::strlen(c.product));
        if (std::strlen(c.product) == 1) std::memset(r.data() + 13, ' ', 15);
        table.rows[1][0] = 0xFF;
        EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{c.entry}) << c.vendor;
    }
}

TEST(DriveEntryTexts, UnscannedTableHasNoEntries) { EXPECT_TRUE(DriveEntryTexts(ScsiDeviceTable{}).empty()); }

TEST(SelectCdromDrive, SingleDriveIsTakenWithoutAsking) {
    ScriptedBus bus;
    bus.addAdapter();
    bus.addAdapter().addTarget(6, ScriptedTarget::cdrom("SONY", "CDU-76S", "1.0g"));
    test::RecordingUi ui;
    ScsiDeviceTable table;
    EXPECT_EQ(SelectCdromDrive(bus.device, table, ui), 1);
    EXPECT_TRUE(ui.driveDialogs.empty());
    EXPECT_EQ(bus.device.hostAdapterId, 1);
    EXPECT_EQ(bus.device.targetId, 6);
}

struct TwoDrives : ScriptedBus {
    test::RecordingUi ui;
    ScsiDeviceTable table;
    TwoDrives() {
        addAdapter().addTarget(3, ScriptedTarget::cdrom("SONY", "CDU-76S", "1.0g", patternedMedium(8, 1)));
        addAdapter().addTarget(0, ScriptedTarget::cdrom("NEC", "CD-ROM DRIVE:501", "3.0", patternedMedium(8, 2)));
        device.sectorSource = ReadCdSector;
    }
};

TEST(SelectCdromDrive, TwoDrivesAreOfferedInOrderAndTheChoiceIsRead) {
    TwoDrives bus;
    bus.ui.driveChoice = 1;
    EXPECT_EQ(SelectCdromDrive(bus.device, bus.table, bus.ui), 1);
    ASSERT_EQ(bus.ui.driveDialogs.size(), 1u);
    EXPECT_EQ(bus.ui.driveDialogs[0],
              (std::vector<std::string>{"[0|3] SONY - CDU-76S         ", "[1|0] NEC - CD-ROM DRIVE:501"}));
    EXPECT_EQ(bus.device.hostAdapterId, 1);
    EXPECT_EQ(bus.device.targetId, 0);

    bus.ui.driveChoice = 0;
    EXPECT_EQ(SelectCdromDrive(bus.device, bus.table, bus.ui), 1);
    EXPECT_EQ(bus.device.hostAdapterId, 0);
    EXPECT_EQ(bus.device.targetId, 3);
}

TEST(SelectCdromDrive, CancelLeavesNoDriveSelected) {
    TwoDrives bus;
    bus.select(0, 3);
    bus.ui.driveChoice = -1;
    EXPECT_EQ(SelectCdromDrive(bus.device, bus.table, bus.ui), 0);
    EXPECT_EQ(bus.ui.driveDialogs.size(), 1u);
    EXPECT_EQ(bus.device.hostAdapterId, kNoSelection);
    EXPECT_EQ(bus.device.targetId, kNoSelection);
}

TEST(SelectCdromDrive, NothingToChooseEndsWithoutADialog) {
    struct Case {
        const char* what;
        int adapters;
        uint8_t adapterAfter, targetAfter;
    };
    // With no adapter the scan has set the target to 0 and the adapter is left as it was; with
    // adapters but no CD-ROM no drive stays selected.
    for (const Case c : {Case{"no adapter", 0, 4, 0}, Case{"no CD-ROM", 2, kNoSelection, kNoSelection}}) {
        ScriptedBus bus;
        for (int a = 0; a < c.adapters; ++a) bus.addAdapter().addTarget(0, disk());
        bus.select(4, 5);
        test::RecordingUi ui;
        ScsiDeviceTable table;
        EXPECT_EQ(SelectCdromDrive(bus.device, table, ui), 0) << c.what;
        EXPECT_TRUE(ui.driveDialogs.empty()) << c.what;
        EXPECT_EQ(bus.device.hostAdapterId, c.adapterAfter) << c.what;
        EXPECT_EQ(bus.device.targetId, c.targetAfter) << c.what;
    }
}

TEST(SelectCdromDrive, NewChoiceIsNotServedFromThePreviousDrivesCachedBlock) {
    TwoDrives bus;
    std::vector<uint8_t> sector(kSectorSize);
    bus.ui.driveChoice = 0;
    ASSERT_EQ(SelectCdromDrive(bus.device, bus.table, bus.ui), 1);
    ASSERT_EQ(ReadSector(bus.device, 1, sector.data()), 0);
    EXPECT_EQ(sector, patternedSector(1, 1));

    bus.ui.driveChoice = 1;
    ASSERT_EQ(SelectCdromDrive(bus.device, bus.table, bus.ui), 1);
    ASSERT_EQ(ReadSector(bus.device, 1, sector.data()), 0);
    EXPECT_EQ(sector, patternedSector(1, 2));
}

TEST(PrepareCdAccess, InstallsTheCdSourceAndKeepsItsCache) {
    ScriptedBus bus;
    bus.device.sectorSource = nullptr;
    bus.device.cdBlockCache.clear();
    bus.device.deviceBlockSize = 2048;
    PrepareCdAccess(bus.device);
    EXPECT_EQ(bus.device.sectorSource, &ReadCdSector);
    EXPECT_EQ(bus.device.deviceBlockSize, 512);
    EXPECT_EQ(bus.device.transferSectors, 64);
    ASSERT_EQ(bus.device.cdBlockCache.size(), kCdBlockSize);
    const uint8_t* cache = bus.device.cdBlockCache.data();
    PrepareCdAccess(bus.device);
    EXPECT_EQ(bus.device.cdBlockCache.data(), cache);
}

}  // namespace
}  // namespace quarry
