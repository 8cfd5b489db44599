// What the seam says without a volume: the refusal of a format that is not changed, and the
// two kinds of entry dates. The entries of HFS volumes behind it are compared with hls in
// listing_oracle_test.cpp.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "volume/mounted_volume.h"

namespace quarry {
namespace {

TEST(VolumeFormats, AFormatThatIsNotChangedIsRefusedByName) {
    // The HFS+ refusal is checked end to end in tests/hfsplus/mounted_test.cpp.
    EXPECT_EQ(refuseChangeOf(VolumeFormat::Mfs).fault(), "Quarry changes HFS volumes only; this MFS volume is not changed.");
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
