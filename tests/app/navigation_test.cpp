// The current folder and its list: the log line of a mount, the catalog searches behind each
// move, and the text formats of the list's sizes and dates, HFS's and HFS+'s. The names and IDs
// each move leaves are checked on every folder of the names volumes (catalog_order_test.cpp in
// tests/hfs), each folder's list in catalog order against the catalog (listing_oracle_test.cpp).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/file_list.h"
#include "app/mount.h"
#include "app/navigation.h"
#include "hfs/btree.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"
#include "volume/mounted_volume.h"

namespace quarry {
namespace {

using test::MountedImage;

// (The lines of CD, CD .. and CD \ in the log: CopyLog in tests/copy.)
TEST(Navigation, AMountIsLogged) {
    test::TempDir dir;
    MountedImage m(test::fixturePath("basic.hfs"));
    m.session.log.stream = std::fopen(dir.file("quarry.log").c_str(), "wb");
    ASSERT_NE(m.session.log.stream, nullptr);
    ASSERT_EQ(mountVolume(m.session), 1);
    std::fclose(m.session.log.stream);
    m.session.log.stream = nullptr;
    EXPECT_EQ(test::slurp(dir.file("quarry.log")), "*log Test Vol\n");
}

std::string keyName(const uint8_t* key) {
    return key ? std::string(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key)) : "(none)";
}

TEST(CatalogSearch, FindsRecordsByNameKindAndParent) {
    MountedImage m(test::fixturePath("basic.hfs"));
    VolumeState& v = m.session.volume;
    const struct {
        const char* name;
        int kind;
        const char* found;
    } cases[] = {
        {"PUZZLE", want::kFile, "Puzzle"}, {"Puzzle", want::kFolder, "(none)"}, {"Docs", want::kAny, "Docs"},
        {"Read Me   ", want::kFile, "Read Me"}, {"ca*", want::kAny, "Caf\x8E Menu"}, {"*", want::kAny, "aardvark"},
        // A name that sorts before every name of the folder is given up at once.
        {"!", want::kAny, "(none)"},
    };
    for (const auto& c : cases) {
        const uint8_t* nd = findCatalogRecord(v, c.name, c.kind, kRootDirId);
        EXPECT_EQ(keyName(nd ? currentRecordKey(v.catalog) : nullptr), c.found) << c.name;
    }
    ASSERT_NE(findCatalogRecord(v, "Docs", want::kFolder, kRootDirId), nullptr);
    const uint32_t docsId = loadBE32(recordData(currentRecordKey(v.catalog)) + catrec::kDirId);

    // A name after every name of the folder goes before the next folder's first record, or after
    // the leaf's last record. (Names within a folder: every folder of the names volumes in
    // tests/hfs/catalog_order_test.cpp.)
    const uint8_t* nd = findInsertPosition(v, "Zzz", docsId);
    ASSERT_NE(nd, nullptr);
    if (v.catalog.recordIndex != kAppendIndex) {
        EXPECT_NE(catalogKeyParent(nd + nodeRecordOffset(nd, v.catalog.recordIndex)), docsId);
    } else {
        EXPECT_EQ(catalogKeyParent(nd + nodeRecordOffset(nd, static_cast<uint16_t>(nodeRecordCount(nd) - 1))), docsId);
    }
    // Under the root's parent: the first leaf, first record.
    ASSERT_NE(findInsertPosition(v, "Anything", kRootParentId), nullptr);
    EXPECT_EQ(v.catalog.nodeNumber, loadBE32(v.catalog.header.data() + header::kFirstLeaf));
    EXPECT_EQ(v.catalog.recordIndex, 0);
}

TEST(ListFormats, SizesRightAlignedAndScaled) {
    const auto sizeField = [](uint32_t value) {
        char record[entry::kSize];
        std::memset(record, ' ', sizeof record);
        FormatSizeField(record, entry::kDataSizeEnd, value);
        return std::string(record + entry::kDataSize, entry::kSizeWidth);
    };
    // The field's last character is a space: digits end one position before it. Kilobyte
    // counts of seven digits would leave the field; they show in megabytes.
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "      0 "},           {6, "      6 "},           {9'999'999, "9999999 "}, {12'345'678, " 12056k "},
        {1'023'999'999, "999999k "}, {1'024'000'000, "   976M "}, {4'294'967'295u, "  4095M "}};
    for (const auto& [value, text] : cases) EXPECT_EQ(sizeField(value), text) << value;
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

TEST(ListFormats, DatesShowTheStoredWallClockTime) {
    EXPECT_EQ(FormatMacDate(macTime(1996, 3, 5, 14, 7)), "03/05/96 14:07");
    // The ends of the range and 1970 show as stored too (dates before 1970 and after 2000 on a
    // volume: the root's listing in tests/cli); 0 is the first second of 1904.
    EXPECT_EQ(FormatMacDate(0), "01/01/04 00:00");
    EXPECT_EQ(FormatMacDate(2082844800u), "01/01/70 00:00");
    EXPECT_EQ(FormatMacDate(0xFFFFFFFFu), "02/06/40 06:28");
}

// An HFS date is the wall clock as stored, whatever the PC's zone; an HFS+ date is a UTC instant
// and shows as the PC's zone has it.
TEST(EntryDates, WallClockAsStoredUtcInTheLocalZone) {
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    ::setenv("TZ", "EST5", 1);
    ::tzset();
    constexpr uint32_t k2000 = 3029529600u;  // 2000-01-01 00:00 from 1904
    EXPECT_EQ((EntryDate{k2000, EntryDate::Clock::WallClock}).wallClock(), k2000);
    EXPECT_EQ((EntryDate{k2000, EntryDate::Clock::Utc}).wallClock(), k2000 - 5 * 3600);
    EXPECT_EQ((EntryDate{0, EntryDate::Clock::Utc}).wallClock(), 0u);
    // A zone with summer time takes the offset of the date itself, not of today.
    ::setenv("TZ", "EST5EDT,M4.1.0,M10.5.0", 1);
    ::tzset();
    constexpr uint32_t kJuly2000 = k2000 + 182 * 86400;
    EXPECT_EQ((EntryDate{k2000, EntryDate::Clock::Utc}).wallClock(), k2000 - 5 * 3600);
    EXPECT_EQ((EntryDate{kJuly2000, EntryDate::Clock::Utc}).wallClock(), kJuly2000 - 4 * 3600);
    if (before) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace quarry
