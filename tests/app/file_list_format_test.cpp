// The text formats of the file list: sizes, dates and space.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/file_list.h"
#include "app/session.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

std::string sizeField(uint32_t value) {
    char record[entry::kSize];
    std::memset(record, ' ', sizeof record);
    FormatSizeField(record, entry::kDataSizeEnd, value);
    return std::string(record + entry::kDataSize, entry::kSizeWidth);
}

TEST(FormatSizeField, RightAlignsAndScales) {
    // The field's last character is a space: digits end one position before it.
    EXPECT_EQ(sizeField(0), "      0 ");
    EXPECT_EQ(sizeField(6), "      6 ");
    EXPECT_EQ(sizeField(9'999'999), "9999999 ");
    EXPECT_EQ(sizeField(12'345'678), " 12056k ");
    EXPECT_EQ(sizeField(1'023'999'999), "999999k ");
    // Kilobyte counts of seven digits would leave the field; they show in megabytes.
    EXPECT_EQ(sizeField(1'024'000'000), "   976M ");
    EXPECT_EQ(sizeField(4'294'967'295u), "  4095M ");
}

// Seconds from 1904 of a UTC calendar date, computed independently of the code under test.
uint32_t macTime(int y, int mo, int d, int h, int mi) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    return static_cast<uint32_t>(timegm(&tm) + 2082844800LL);
}

TEST(FormatMacDate, ShowsTheStoredWallClockTime) {
    EXPECT_EQ(FormatMacDate(macTime(1996, 3, 5, 14, 7)), "03/05/96 14:07");
    EXPECT_EQ(FormatMacDate(macTime(2001, 12, 31, 23, 59)), "12/31/01 23:59");
    // Dates before 1970 show as stored too; 0 is the first second of 1904.
    EXPECT_EQ(FormatMacDate(0), "01/01/04 00:00");
    EXPECT_EQ(FormatMacDate(2082844800u), "01/01/70 00:00");
    EXPECT_EQ(FormatMacDate(macTime(1965, 7, 20, 8, 15)), "07/20/65 08:15");
    EXPECT_EQ(FormatMacDate(0xFFFFFFFFu), "02/06/40 06:28");
    const MacCalendar c = MacTimeToCalendar(macTime(2001, 7, 4, 9, 30));
    EXPECT_EQ(c.year, 101);
    EXPECT_EQ(c.month, 7);
    EXPECT_EQ(c.day, 4);
}

TEST(SpaceTexts, FollowTheMdbFigures) {
    test::RecordingUi ui;
    Session s(ui);
    VolumeState& v = s.volume;
    v.allocBlockSize = 2048;
    storeBE16(v.mdbCopy.data() + mdb::kAllocBlocks, 20000);
    storeBE16(v.mdbCopy.data() + mdb::kFreeBlocks, 1000);
    storeBE32(v.mdbCopy.data() + mdb::kCatalogSize, 1048576);
    storeBE32(v.mdbCopy.data() + mdb::kExtentsSize, 524288);
    EXPECT_EQ(FreeSpaceText(s), "KB free :     2001k");
    // (19000 × 2048 − 1048576 − 524288) / 1024 = 36464
    EXPECT_EQ(UsedSpaceText(s), "KB used :    36464k");
}

}  // namespace
}  // namespace quarry
