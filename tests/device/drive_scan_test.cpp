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

Row rowOf(std::initializer_list<uint8_t> head, std::initializer_list<std::pair<size_t, std::string>> fields = {}) {
    Row r{};
    std::copy(head.begin(), head.end(), r.begin());
    for (const auto& [offset, bytes] : fields) std::memcpy(r.data() + offset, bytes.data(), bytes.size());
    return r;
}

ScriptedTarget device(uint8_t type, const char* vendor = "SEAGATE", const char* product = "ST32550N") {
    ScriptedTarget t = ScriptedTarget::cdrom(vendor, product, "0021");
    t.deviceType = type;
    return t;
}

TEST(ScanScsiBus, WritesAdapterRowsCdromRowsAndTheEndRow) {
    ScriptedBus bus;
    ScriptedAdapter& first = bus.addAdapter("ASPI for WIN32");
    first.addTarget(0, device(kDeviceTypeDisk));
    first.addTarget(1, device(1));  // a tape
    first.addTarget(3, ScriptedTarget::cdrom("SONY", "CDU-76S", "1.0g"));
    bus.addAdapter("A-LONG-MANAGER-ID-CUT").addTarget(2, device(kDeviceTypeDisk));
    ScsiDeviceTable table;
    table.rows[7].fill(0x77);  // the scan clears what an earlier one left
    bus.device.targetId = 5;

    EXPECT_EQ(ScanScsiBus(bus.device, table), 0x0201);
    EXPECT_EQ(bus.device.targetId, 0);
    EXPECT_EQ(table.rows[0], rowOf({0, 2, 0xFF}, {{12, "ASPI for WIN32"}}));
    EXPECT_EQ(table.rows[1], rowOf({0, 5, 3}, {{3, "SONY    "}, {12, "CDU-76S         "}, {29, "1.0g"}}));
    // An adapter without a CD-ROM keeps its row but lists nothing; its identification is cut.
    EXPECT_EQ(table.rows[2], rowOf({1, 1, 0xFF}, {{12, "A-LONG-MANAGER-I"}}));
    EXPECT_EQ(table.rows[3], rowOf({0xFF}));
    for (size_t r = 4; r < kDeviceTableRows; ++r) EXPECT_EQ(table.rows[r], Row{}) << "row " << r;
    // Only the CD-ROM is asked for its identification: INQUIRY for 100 bytes.
    ASSERT_EQ(first.commands().size(), 1u);
    EXPECT_EQ(first.commands()[0].target, 3);
    EXPECT_EQ(first.commands()[0].cdb, (devicetest::Bytes{0x12, 0, 0, 0, 0x64, 0}));
    EXPECT_EQ(first.commands()[0].bufferLength, 100u);
    EXPECT_EQ(first.commands()[0].direction, DataDirection::None);
    EXPECT_TRUE(bus.adapter(1).commands().empty());
    EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{"[0|3] SONY - CDU-76S         "});
}

TEST(ScanScsiBus, DriveThatNeverAnswersInquiryIsStillListed) {
    for (const auto& [failures, entry] : std::vector<std::pair<int, std::string>>{{4, "[0|2] PLEXTOR - CD-ROM PX-4XCS  "}, {5, "[0|2] - "}}) {
        ScriptedBus bus;
        ScriptedAdapter& adapter = bus.addAdapter();
        adapter.addTarget(2, ScriptedTarget::cdrom("PLEXTOR", "CD-ROM PX-4XCS", "1.01"));
        adapter.failNext(failures, aspi::kError);
        ScsiDeviceTable table;
        EXPECT_EQ(ScanScsiBus(bus.device, table), 0x0101);
        EXPECT_EQ(adapter.commands().size(), 5u) << failures;
        EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{entry});
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
    EXPECT_EQ(table.rows[24], rowOf({0xFF}));
    EXPECT_EQ(DriveEntryTexts(table).size(), 21u);
    EXPECT_TRUE(bus.adapter(3).commands().empty());
}

TEST(DriveEntryTexts, VendorLosesTrailingBlanksProductKeepsThem) {
    struct Case {
        const char *vendor, *product, *entry;
    };
    const Case cases[] = {
        {"MATSHITA", "CD-ROM CR-8005  ", "[0|0] MATSHITA - CD-ROM CR-8005  "},
        {"HP      ", "C4324/C4325     ", "[0|0] HP - C4324/C4325     "},
        {"A B", "X               ", "[0|0] A B - X               "},
        {"", "", "[0|0] - "},
    };
    for (const Case& c : cases) {
        ScsiDeviceTable table;
        table.rows[0] = rowOf({0, kDeviceTypeCdrom, 0}, {{3, c.vendor}, {12, c.product}});
        table.rows[1][0] = 0xFF;
        EXPECT_EQ(DriveEntryTexts(table), std::vector<std::string>{c.entry}) << c.vendor;
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
