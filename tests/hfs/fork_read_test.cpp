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
using Cdbs = std::vector<std::vector<uint8_t>>;

// A session reading a scripted CD-ROM of 256 sectors whose allocation blocks are single sectors
// from sector 0.
struct ScriptedVolume {
    test::RecordingUi ui;
    Session session{ui};
    ScsiBus bus;
    ScriptedAdapter* adapter = nullptr;
    std::vector<uint8_t> medium = std::vector<uint8_t>(2048 * 64);
    MemorySink sink;

    ScriptedVolume() {
        for (size_t i = 0; i < medium.size(); ++i) medium[i] = static_cast<uint8_t>((i / 512) * 31 + i * 7 + (i >> 11));
        auto a = std::make_unique<ScriptedAdapter>();
        a->addTarget(0, ScriptedTarget::cdrom("QUARRY", "TEST", "1.0", medium));
        adapter = a.get();
        bus.adapters.push_back(std::move(a));
        DeviceState& d = session.device;
        d.bus = &bus;
        d.hostAdapterId = d.targetId = 0;
        d.sectorSource = ReadCdSector;
        d.cdBlockCache.assign(kCdBlockSize, 0);
        session.volume.firstBlockSector = 0;
        session.volume.allocBlockSize = 512;
        session.volume.sectorsPerBlock = 1;
        storeBE16(session.volume.mdbCopy.data() + mdb::kAllocBlocks, static_cast<uint16_t>(medium.size() / 512));
    }

    Cdbs cdbs() const {
        Cdbs out;
        for (const auto& c : adapter->commands()) out.push_back(c.cdb);
        return out;
    }
    std::vector<uint8_t> slice(size_t sector, size_t bytes) const {
        return {medium.begin() + static_cast<long>(sector * 512), medium.begin() + static_cast<long>(sector * 512 + bytes)};
    }
    Status blocks(uint32_t sector, uint32_t bytes) { return readBlocksToFile(session.volumeContext(), sink, sector, bytes); }
    Status fork(std::initializer_list<uint16_t> extents, uint32_t bytes) {
        ExtentRecord rec{};
        int i = 0;
        for (uint16_t v : extents) storeBE16(rec.data() + 2 * i++, v);
        return readForkToFile(session.volumeContext(), rec, sink, 99, bytes, kDataFork);
    }
};

TEST(ReadBlocksToFile, HeadBodyAndTailGoThroughTheRightCommands) {
    struct Case {
        const char* what;
        uint32_t sector, bytes;
        Cdbs expected;
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
    v.adapter->failBlock(11, aspi::kError);
    // Blocks 2..9 arrive in the first request; the second (blocks 10..13) fails.
    Status s = v.blocks(8, 12 * 2048);
    ASSERT_FALSE(s);
    EXPECT_NE(s.fault().find("read error at sector 40"), std::string::npos) << s.fault();
    EXPECT_EQ(v.ui.beeps, 1);
    EXPECT_EQ(v.sink.bytes, v.slice(8, 8 * 2048));

    ScriptedVolume full;
    full.sink.failAfter = 1000;
    s = full.blocks(0, 8192);
    ASSERT_FALSE(s);
    EXPECT_NE(s.fault().find("No space left"), std::string::npos);
}

TEST(ReadForkToFile, FollowsExtentsAndStopsAtTheLogicalLength) {
    ScriptedVolume v;
    ASSERT_TRUE(v.fork({10, 2, 40, 3, 5, 1}, 5 * 512 + 17));
    std::vector<uint8_t> expected = v.slice(10, 1024), more = v.slice(40, 1536), last = v.slice(5, 17);
    expected.insert(expected.end(), more.begin(), more.end());
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(v.sink.bytes, expected);

    // Blocks 250..269 of a 256-block volume: refused before anything is read.
    ScriptedVolume past;
    Status s = past.fork({250, 20}, 20 * 512);
    ASSERT_FALSE(s);
    EXPECT_NE(s.fault().find("past the end of the volume"), std::string::npos) << s.fault();
    EXPECT_TRUE(past.adapter->commands().empty());
}

TEST(ForkSectorAt, MapsUnitsThroughTheThreeExtents) {
    ScriptedVolume v;
    v.session.volume.firstBlockSector = 100;
    v.session.volume.sectorsPerBlock = 4;
    ExtentRecord rec{};
    storeBE16(rec.data(), 10);
    storeBE16(rec.data() + 2, 2);
    storeBE16(rec.data() + 4, 40);
    storeBE16(rec.data() + 6, 1);
    for (auto [unit, sector] : std::vector<std::pair<uint32_t, uint32_t>>{{0, 140}, {7, 147}, {8, 260}, {11, 263}})
        EXPECT_EQ(forkSectorAt(v.session.volumeContext(), unit, rec, 99, kDataFork), sector) << unit;
}

}  // namespace
}  // namespace quarry
