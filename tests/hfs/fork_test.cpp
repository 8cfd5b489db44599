// Reading forks: the whole-block reading of a run of sectors, checked by the commands that reach
// a scripted drive, and extents past the volume. The bytes of whole forks are compared with
// hcopy's by the copies (tests/copy) and the dump (tests/app).

#include <gtest/gtest.h>

#include "device/device_test_support.h"
#include "hfs/fork.h"
#include "support/memory_sink.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

using test::MemorySink;

// A scripted CD-ROM of 256 patterned sectors whose allocation blocks are single sectors from
// sector 0.
struct ScriptedVolume : devicetest::ScriptedBus {
    ScriptedAdapter& adapter = addAdapter();
    devicetest::Bytes medium = devicetest::patternedMedium(256);
    test::RecordingUi ui;
    VolumeState volume;
    bool ending = false;
    MemorySink sink;

    ScriptedVolume() {
        adapter.addTarget(0, ScriptedTarget::cdrom("QUARRY", "TEST", "1.0", medium));
        select(0, 0);
        volume.firstBlockSector = 0;
        volume.allocBlockSize = 512;
        volume.sectorsPerBlock = 1;
        storeBE16(volume.mdbCopy.data() + mdb::kAllocBlocks, 256);
    }

    VolumeContext context() { return {volume, device, ui, ending}; }
    devicetest::Bytes slice(size_t sector, size_t bytes) const {
        return {medium.begin() + static_cast<long>(sector * 512), medium.begin() + static_cast<long>(sector * 512 + bytes)};
    }
    Status blocks(uint32_t sector, uint32_t bytes) { return readBlocksToFile(context(), sink, sector, bytes); }
};

TEST(ReadBlocksToFile, HeadBodyAndTailGoThroughTheRightCommands) {
    struct Case {
        const char* what;
        uint32_t sector, bytes;
        std::vector<std::vector<uint8_t>> expected;
    };
    const Case cases[] = {
        // Sectors 6 and 7 singly (one READ of block 1 through the cache), blocks 2 and 3 in one
        // request, then sectors 16 and 17 singly (one READ of block 4).
        {"6000 bytes from sector 6", 6, 6000, {{0x08, 0, 0, 1, 1, 0}, {0x08, 0, 0, 2, 2, 0}, {0x08, 0, 0, 4, 1, 0}}},
        {"100 bytes from sector 1", 1, 100, {{0x08, 0, 0, 0, 1, 0}}},
        {"nothing at all", 5, 0, {}},
        // 20 whole blocks: requests of 8, 8 and 4.
        {"40960 aligned bytes", 8, 40960, {{0x08, 0, 0, 2, 8, 0}, {0x08, 0, 0, 10, 8, 0}, {0x08, 0, 0, 18, 4, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedVolume v;
        ASSERT_TRUE(v.blocks(c.sector, c.bytes));
        EXPECT_EQ(v.cdbs(), c.expected);
        EXPECT_EQ(v.sink.bytes, v.slice(c.sector, c.bytes));
    }
}

TEST(ReadBlocksToFile, ProgressBarOnlyForRunsLongerThanFiveBuffers) {
    ScriptedVolume shortRun, longRun;
    ASSERT_TRUE(shortRun.blocks(0, 320 * 512));
    EXPECT_TRUE(shortRun.ui.progress.empty());
    ASSERT_TRUE(longRun.blocks(0, 333 * 512));
    ASSERT_FALSE(longRun.ui.progress.empty());
    EXPECT_EQ(longRun.ui.progress.front(), (std::pair<uint32_t, uint32_t>{83, 83}));
    EXPECT_GT(longRun.ui.cursorSteps, 0);
}

TEST(ReadBlocksToFile, AFailedReadOrWriteIsReportedNotWrittenAsData) {
    ScriptedVolume v;
    v.adapter.failBlock(11, aspi::kError);
    // Blocks 2..9 arrive in the first request; the second (blocks 10..13) fails, and is read
    // again a sector at a time up to the first sector that cannot be read, which is named.
    Status s = v.blocks(8, 12 * 2048);
    ASSERT_FALSE(s);
    EXPECT_NE(s.fault().find("read error at sector 44"), std::string::npos) << s.fault();
    EXPECT_EQ(v.ui.beeps, 1);
    EXPECT_EQ(v.sink.bytes, v.slice(8, 9 * 2048));

    ScriptedVolume full;
    full.sink.failAfter = 1000;
    s = full.blocks(0, 8192);
    ASSERT_FALSE(s);
    EXPECT_NE(s.fault().find("No space left"), std::string::npos);
}

TEST(ReadForkToFile, RefusesExtentsPastTheEndOfTheVolume) {
    ScriptedVolume v;
    ExtentRecord rec{};
    storeBE16(rec.data(), 250);
    storeBE16(rec.data() + 2, 20);  // blocks 250..269 of a 256-block volume
    Status s = readForkToFile(v.context(), rec, v.sink, 99, 20 * 512, kDataFork);
    ASSERT_FALSE(s);
    EXPECT_NE(s.fault().find("past the end of the volume"), std::string::npos) << s.fault();
    EXPECT_TRUE(v.adapter.commands().empty());
}

}  // namespace
}  // namespace quarry
