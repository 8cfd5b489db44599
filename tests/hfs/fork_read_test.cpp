// Whole-block reading of a run of sectors, checked by the commands that reach a scripted drive.

#include <gtest/gtest.h>

#include <memory>

#include "app/session.h"
#include "device/scripted_adapter.h"
#include "hfs/fork.h"
#include "support/memory_sink.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

using test::MemorySink;
using test::RecordingUi;

std::vector<uint8_t> patterned(size_t bytes) {
    std::vector<uint8_t> m(bytes);
    for (size_t i = 0; i < bytes; ++i) m[i] = static_cast<uint8_t>((i / 512) * 31 + i * 7 + (i >> 11));
    return m;
}

// A session reading a scripted CD-ROM whose allocation blocks are single sectors from sector 0.
struct ScriptedVolume {
    RecordingUi ui;
    Session session{ui};
    ScsiBus bus;
    ScriptedAdapter* adapter = nullptr;
    std::vector<uint8_t> medium = patterned(2048 * 64);

    ScriptedVolume() {
        auto a = std::make_unique<ScriptedAdapter>();
        a->addTarget(0, ScriptedTarget::cdrom("QUARRY", "TEST", "1.0", medium));
        adapter = a.get();
        bus.adapters.push_back(std::move(a));
        DeviceState& d = session.device;
        d.bus = &bus;
        d.hostAdapterId = 0;
        d.targetId = 0;
        d.sectorSource = ReadCdSector;
        d.cdBlockCache.assign(kCdBlockSize, 0);
        VolumeState& v = session.volume;
        v.firstBlockSector = 0;
        v.allocBlockSize = 512;
        v.sectorsPerBlock = 1;
        storeBE16(v.mdbCopy.data() + mdb::kAllocBlocks, static_cast<uint16_t>(medium.size() / 512));
    }

    std::vector<std::vector<uint8_t>> cdbs() const {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& c : adapter->commands()) out.push_back(c.cdb);
        return out;
    }
    std::vector<uint8_t> slice(size_t sector, size_t bytes) const {
        return {medium.begin() + static_cast<long>(sector * 512), medium.begin() + static_cast<long>(sector * 512 + bytes)};
    }
};

using Cdbs = std::vector<std::vector<uint8_t>>;

TEST(ReadBlocksToFile, HeadBodyAndTailGoThroughTheRightCommands) {
    struct Case {
        const char* what;
        uint32_t sector;
        uint32_t bytes;
        Cdbs expected;
    };
    const Case cases[] = {
        // Sectors 6 and 7 singly (one READ of block 1 through the cache), blocks 2 and 3 in one
        // request, then sectors 16 and 17 singly (one READ of block 4).
        {"6000 bytes from sector 6", 6, 6000,
         {{0x08, 0, 0, 1, 1, 0}, {0x08, 0, 0, 2, 2, 0}, {0x08, 0, 0, 4, 1, 0}}},
        {"100 bytes from sector 1", 1, 100, {{0x08, 0, 0, 0, 1, 0}}},
        {"nothing at all", 5, 0, {}},
        // 20 whole blocks: requests of 8, 8 and 4.
        {"40960 aligned bytes", 8, 40960, {{0x08, 0, 0, 2, 8, 0}, {0x08, 0, 0, 10, 8, 0}, {0x08, 0, 0, 18, 4, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedVolume v;
        MemorySink sink;
        ASSERT_TRUE(readBlocksToFile(v.session.volumeContext(), sink, c.sector, c.bytes));
        EXPECT_EQ(v.cdbs(), c.expected);
        EXPECT_EQ(sink.bytes, v.slice(c.sector, c.bytes));
    }
}

TEST(ReadBlocksToFile, ProgressBarOnlyForRunsLongerThanFiveBuffers) {
    ScriptedVolume shortRun;
    MemorySink a;
    ASSERT_TRUE(readBlocksToFile(shortRun.session.volumeContext(), a, 0, 320 * 512));
    EXPECT_TRUE(shortRun.ui.progress.empty());

    ScriptedVolume longRun;
    MemorySink b;
    ASSERT_TRUE(readBlocksToFile(longRun.session.volumeContext(), b, 0, 333 * 512));
    ASSERT_FALSE(longRun.ui.progress.empty());
    EXPECT_EQ(longRun.ui.progress.front(), (std::pair<uint32_t, uint32_t>{83, 83}));
    EXPECT_GT(longRun.ui.cursorSteps, 0);
}

TEST(ReadBlocksToFile, AFailedReadIsReportedNotWrittenAsData) {
    ScriptedVolume v;
    v.adapter->failBlock(11, aspi::kError);
    MemorySink sink;
    // Blocks 2..9 arrive in the first request; the second (blocks 10..13) fails.
    Status s = readBlocksToFile(v.session.volumeContext(), sink, 8, 12 * 2048);
    ASSERT_FALSE(s);
    EXPECT_NE(s.fault().find("read error at sector 40"), std::string::npos) << s.fault();
    EXPECT_EQ(v.ui.beeps, 1);
    EXPECT_EQ(sink.bytes, v.slice(8, 8 * 2048));
}

TEST(ReadBlocksToFile, AFailedWriteStopsTheRun) {
    ScriptedVolume v;
    MemorySink sink;
    sink.failAfter = 1000;
    Status s = readBlocksToFile(v.session.volumeContext(), sink, 0, 8192);
    ASSERT_FALSE(s);
    EXPECT_NE(s.fault().find("No space left"), std::string::npos);
}

TEST(ReadForkToFile, FollowsExtentsAndStopsAtTheLogicalLength) {
    ScriptedVolume v;
    // Extents: 2 blocks at 10, 3 blocks at 40, 1 block at 5.
    ExtentRecord rec{};
    const uint16_t ext[6] = {10, 2, 40, 3, 5, 1};
    for (int i = 0; i < 6; ++i) storeBE16(rec.data() + 2 * i, ext[i]);
    MemorySink sink;
    ASSERT_TRUE(readForkToFile(v.session.volumeContext(), rec, sink, 99, 5 * 512 + 17, kDataFork));
    std::vector<uint8_t> expected = v.slice(10, 1024);
    auto more = v.slice(40, 1536);
    expected.insert(expected.end(), more.begin(), more.end());
    auto last = v.slice(5, 17);
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(sink.bytes, expected);
}

TEST(ReadForkToFile, RefusesExtentsPastTheEndOfTheVolume) {
    ScriptedVolume v;
    ExtentRecord rec{};
    storeBE16(rec.data(), 250);
    storeBE16(rec.data() + 2, 20);  // blocks 250..269 of a 256-block volume
    MemorySink sink;
    Status s = readForkToFile(v.session.volumeContext(), rec, sink, 99, 20 * 512, kDataFork);
    ASSERT_FALSE(s);
    EXPECT_NE(s.fault().find("past the end of the volume"), std::string::npos) << s.fault();
    EXPECT_TRUE(v.adapter->commands().empty());
}

TEST(ForkSectorAt, MapsUnitsThroughTheThreeExtents) {
    ScriptedVolume v;
    v.session.volume.firstBlockSector = 100;
    v.session.volume.sectorsPerBlock = 4;
    ExtentRecord rec{};
    const uint16_t ext[6] = {10, 2, 40, 1, 0, 0};
    for (int i = 0; i < 6; ++i) storeBE16(rec.data() + 2 * i, ext[i]);
    EXPECT_EQ(forkSectorAt(v.session.volumeContext(), 0, rec, 99, kDataFork), 100u + 40);
    EXPECT_EQ(forkSectorAt(v.session.volumeContext(), 7, rec, 99, kDataFork), 100u + 47);
    EXPECT_EQ(forkSectorAt(v.session.volumeContext(), 8, rec, 99, kDataFork), 100u + 160);
    EXPECT_EQ(forkSectorAt(v.session.volumeContext(), 11, rec, 99, kDataFork), 100u + 163);
}

}  // namespace
}  // namespace quarry
