// Reading forks: the whole-block reading of a run of sectors, checked by the commands that reach
// a scripted drive, and extents past the volume. The bytes of whole forks are compared with
// hcopy's by the copies (tests/copy) and the dump (tests/app); the test builder's reading of
// them, here.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "device/device_test_support.h"
#include "hfs/btree.h"
#include "hfs/fork.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/memory_sink.h"
#include "support/mounted_image.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::MemorySink;

// Stand-ins for copy_file_range: the kernel's own, counted; one that refuses as another file
// system would; one that copies part of a piece and then refuses.
int kernelCalls = 0;
ssize_t countedCopy(int in, off64_t* inOff, int out, off64_t* outOff, size_t n, unsigned flags) {
    ++kernelCalls;
    return ::copy_file_range(in, inOff, out, outOff, n, flags);
}
ssize_t refusedCopy(int, off64_t*, int, off64_t*, size_t, unsigned) {
    ++kernelCalls;
    errno = EXDEV;
    return -1;
}
ssize_t brokenOffCopy(int in, off64_t* inOff, int out, off64_t* outOff, size_t n, unsigned flags) {
    if (++kernelCalls == 1) return ::copy_file_range(in, inOff, out, outOff, std::max<size_t>(1, n / 2), flags);
    errno = EOPNOTSUPP;
    return -1;
}

struct ForkOf {
    ExtentRecord extents;
    uint32_t id, length, physical;
};
ForkOf forkOf(test::MountedImage& m, const char* name, uint8_t fork) {
    EXPECT_NE(findCatalogRecord(m.session.volume, name, want::kFile, m.session.dir.currentDirID), nullptr) << name;
    const uint8_t* data = recordData(currentRecordKey(m.session.volume.catalog));
    const bool rsrc = fork == kResourceFork;
    return {extentRecordAt(data + (rsrc ? catrec::kRsrcExtents : catrec::kDataExtents)), loadBE32(data + catrec::kFileId),
            loadBE32(data + (rsrc ? catrec::kRsrcLength : catrec::kDataLength)),
            loadBE32(data + (rsrc ? catrec::kRsrcPhysical : catrec::kDataPhysical))};
}

// The fork copied into a PC file after a header of four bytes, through the kernel stand-in
// `copy`: the result and the file's bytes.
std::pair<Status, std::string> copyThroughKernel(test::MountedImage& m, const ForkOf& f, uint8_t fork, FdSink::KernelCopyFn copy,
                                                 const std::string& out) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0);
    FdSink sink(fd);
    sink.setKernelCopy(copy);
    EXPECT_EQ(::write(fd, "head", 4), 4);
    kernelCalls = 0;
    Status s = readForkToFile(m.session.volumeContext(), f.extents, sink, f.id, f.length, fork);
    EXPECT_TRUE(sink.flush());
    ::close(fd);
    return {s, test::slurp(out)};
}

// Out of a plain image the kernel copies each run into the PC file, after what was written
// before it; where it refuses, at once or after part of a run, the fork is read instead. The
// file equals what the reading copy gives and what hcopy extracts. (quarry-cli's copies, which
// take this path, are compared with hcopy for every fork in tests/copy; the image's bytes at
// each fork's runs, through the DFXML report, in listing_oracle_test.cpp.)
TEST(KernelCopy, EqualsTheReadingCopyAndHcopy) {
    const struct {
        FdSink::KernelCopyFn copy;
        int kernelCallsExpected;  // -1: at least one per run
    } cases[] = {{countedCopy, -1}, {refusedCopy, 1}, {brokenOffCopy, 2}};
    test::TempDir dir;
    const std::string image = test::fixturePath("fragmented.hfs");
    test::MountedImage m(image);
    const ForkOf f = forkOf(m, "Scattered Data", kDataFork);  // 11 extents, 8 in the overflow tree
    const std::string expected = test::hcopyData(image, ":Scattered Data");
    Result<std::vector<ForkRun>> runs = forkRuns(m.session.volumeContext(), f.extents, f.id, f.length, kDataFork);
    ASSERT_TRUE(runs) << runs.fault();
    MemorySink reading;
    ASSERT_TRUE(readForkToFile(m.session.volumeContext(), f.extents, reading, f.id, f.length, kDataFork));
    EXPECT_EQ(std::string(reading.bytes.begin(), reading.bytes.end()), expected);
    for (const auto& c : cases) {
        SCOPED_TRACE("kernel calls " + std::to_string(c.kernelCallsExpected));
        const auto [s, bytes] = copyThroughKernel(m, f, kDataFork, c.copy, dir.file("fork"));
        EXPECT_TRUE(s) << s.fault();
        EXPECT_EQ(bytes, "head" + expected);
        if (c.kernelCallsExpected < 0) {
            EXPECT_GE(kernelCalls, static_cast<int>(runs->size()));
        } else {
            EXPECT_EQ(kernelCalls, c.kernelCallsExpected);
        }
    }
    // The test builder, through which other tests plant damage in forks, follows the overflow
    // extents as hcopy does.
    test::Bytes bytes = test::readFile(image);
    const test::HfsImage builder(bytes);
    for (const auto& [path, fork] : {std::pair{":Scattered Data", test::Fork::Data}, std::pair{":Scattered Resource", test::Fork::Resource}}) {
        const test::CatalogRecord file = builder.lookup(path);
        EXPECT_GT(builder.forkExtents(file, fork).size(), 3u) << path;
        const test::Bytes read = builder.readFork(file, fork);
        EXPECT_EQ(std::string(read.begin(), read.end()),
                  fork == test::Fork::Data ? expected : test::hcopyResource(image, path)) << path;
    }
}

// The kernel's copy takes its offsets in 64 bits: a run that crosses 4 GiB of a sparse image
// arrives whole, not from the image's start.
TEST(KernelCopy, ARunAcross4GiBComesFromWhereItLies) {
    constexpr uint64_t kFourGiB = uint64_t{1} << 32;
    test::TempDir dir;
    const std::string image = dir.file("big.img"), out = dir.file("out");
    const devicetest::Bytes bytes = devicetest::patternedMedium(6, 5);
    const int in = ::open(image.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(in, 0);
    ASSERT_EQ(::ftruncate(in, static_cast<off_t>(kFourGiB + 4096)), 0);
    ASSERT_EQ(::pwrite(in, bytes.data(), bytes.size(), static_cast<off_t>(kFourGiB - 1000)), static_cast<ssize_t>(bytes.size()));
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    FdSink sink(fd);
    Result<bool> copied = sink.copyFromFile(in, kFourGiB - 1000, bytes.size());
    ::close(fd);
    ::close(in);
    ASSERT_TRUE(copied) << copied.fault();
    EXPECT_TRUE(*copied);
    EXPECT_EQ(test::slurp(out), std::string(bytes.begin(), bytes.end()));
}

// A fork with a run past the end of a cut-short image is not handed to the kernel at all: it
// is read through the drive, which refuses what lies past the end as a read error, and the copy
// ends as the reading copy does.
TEST(KernelCopy, ARunPastTheImageEndFailsAsAReadErrorOnBothPaths) {
    test::TempDir dir;
    const std::string cut = dir.file("cut.hfs");
    std::filesystem::copy_file(test::fixturePath("basic.hfs"), cut);
    uint64_t lastRun = 0;
    {
        test::MountedImage whole(cut);
        const ForkOf f = forkOf(whole, "Big Forks", kResourceFork);
        Result<std::vector<ForkRun>> runs = forkRuns(whole.session.volumeContext(), f.extents, f.id, f.length, kResourceFork);
        ASSERT_TRUE(runs && !runs->empty());
        lastRun = runs->back().mediumOffset;
    }
    std::filesystem::resize_file(cut, lastRun + 512);
    test::MountedImage m(cut);
    const ForkOf f = forkOf(m, "Big Forks", kResourceFork);
    MemorySink reading;
    const Status read = readForkToFile(m.session.volumeContext(), f.extents, reading, f.id, f.length, kResourceFork);
    const Status copied = copyThroughKernel(m, f, kResourceFork, countedCopy, dir.file("out")).first;
    EXPECT_EQ(kernelCalls, 0);
    ASSERT_FALSE(read);
    ASSERT_FALSE(copied);
    EXPECT_EQ(copied.fault(), read.fault());
    EXPECT_NE(read.fault().find("read error at sector"), std::string::npos) << read.fault();
}

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

}  // namespace
}  // namespace quarry
