// The dump window's state: its lines checked against the fork bytes hcopy (and for MFS the tests'
// own reader) extracts, the scroll arithmetic (up to an HFS+ fork past 4 GiB), the fork switch,
// and what a damaged length or a failed read leaves on the screen.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <tuple>

#include "common/text.h"
#include "dump/dump_model.h"
#include "hfs/fork.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::MountedImage;

std::string basic() { return test::fixturePath("basic.hfs"); }

// The byte a dump line shows at column j of its hexadecimal part.
int hexByte(const DumpLine& line, size_t j) {
    return std::stoi(std::string(line.data() + 9 + 3 * j + (j >= 8 ? 1 : 0), 2), nullptr, 16);
}

std::string decimal8(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08u", v % 100000000u);
    return text;
}

// Checks the 32 lines on the screen: offsets from the position on, bytes equal to the fork's
// within both its lengths, zeros from zerosFrom (by default the physical length) on.
void expectScreen(const DumpModel& model, const std::string& fork, uint32_t zerosFrom = ~0u) {
    SCOPED_TRACE("position " + std::to_string(model.position));
    zerosFrom = std::min(zerosFrom, model.forkLength);
    for (int i = 0; i < kDumpLineCount; ++i) {
        const DumpLine line = dumpLine(model, i);
        const uint32_t offset = model.position + 16u * static_cast<uint32_t>(i);
        ASSERT_EQ(std::string(line.data(), 8), decimal8(offset));
        ASSERT_EQ(line[kDumpLineLength], '\0');
        for (size_t j = 0; j < 16; ++j) {
            const uint32_t at = offset + static_cast<uint32_t>(j);
            const int want = at >= zerosFrom ? 0 : at < fork.size() ? static_cast<uint8_t>(fork[at]) : -1;
            if (want >= 0) {
                ASSERT_EQ(hexByte(line, j), want) << "fork offset " << at;
            }
        }
    }
}

TEST(DumpLines, ShowTheBytesHcopyReadsEverywhereInTheFork) {
    struct Case {
        const char* image;
        const char* name;
        int forkCommand;
    };
    const Case cases[] = {
        {"basic.hfs", "Big Forks", dumpcmd::kData},
        {"basic.hfs", "Big Forks", dumpcmd::kResource},
        {"basic.hfs", "Puzzle", dumpcmd::kResource},
        {"fragmented.hfs", "Scattered Data", dumpcmd::kData},
        {"fragmented.hfs", "Scattered Resource", dumpcmd::kResource},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " " + c.name + " command " + std::to_string(c.forkCommand));
        const std::string image = test::fixturePath(c.image);
        const std::string macPath = std::string(":") + c.name;
        const std::string fork = c.forkCommand == dumpcmd::kData ? test::hcopyData(image, macPath) : test::hcopyResource(image, macPath);
        ASSERT_FALSE(fork.empty());
        MountedImage m(image);
        DumpModel model;
        ASSERT_EQ(openDump(m.session, model, c.name), DumpOpen::Shown);
        ASSERT_EQ(dumpCommand(m.session, model, c.forkCommand), DumpReply::Repaint);
        ASSERT_GE(model.forkLength, fork.size());
        expectScreen(model, fork);

        // Screen by screen to the end, then back up line by line over a window boundary.
        uint32_t last = ~0u;
        while (model.position != last) {
            last = model.position;
            scrollDump(m.session, model, ScrollRequest::PageDown);
            expectScreen(model, fork);
        }
        for (int k = 0; k < 9; ++k) {
            scrollDump(m.session, model, ScrollRequest::LineUp);
            expectScreen(model, fork);
        }
        // Jumps that land deep in the fork without passing the places before them.
        for (uint32_t thumb : {model.scrollMaximum, model.scrollMaximum / 2, model.scrollMaximum / 3 + 1, 1u, 0u}) {
            scrollDump(m.session, model, ScrollRequest::Thumb, thumb);
            expectScreen(model, fork);
        }
        scrollDump(m.session, model, ScrollRequest::Bottom);
        expectScreen(model, fork);
        EXPECT_TRUE(model.readFault.empty()) << model.readFault;
    }
}

// An MFS floppy from the tests' builder, its application's forks scattered over the volume: the
// screens show the bytes the builder's own reader follows the block map to.
TEST(DumpLines, ShowTheForksOfAnMfsFloppyAsItsReaderReadsThem) {
    const std::string script = std::string(QUARRY_SAMPLE_DIR) + "/../tests/fixtures/mfs_build.py";
    test::TempDir dir;
    std::ofstream(dir.file("plan.json")) << R"({"scatter": true, "files": [{"name": "Filler", "data": {"len": 9000, "pattern": 1}},
        {"name": "MacPaint", "type": "APPL", "data": {"len": 70000, "pattern": 3}, "rsrc": {"len": 20000, "pattern": 4}}]})";
    ASSERT_TRUE(test::runProcess({"python3", script, "build", dir.file("plan.json"), dir.file("mfs.img")}).succeeded());
    MountedImage m(dir.file("mfs.img"));
    for (const auto& [which, command] : {std::pair{"data", dumpcmd::kData}, std::pair{"rsrc", dumpcmd::kResource}}) {
        SCOPED_TRACE(which);
        ASSERT_TRUE(test::runProcess({"python3", script, "fork", dir.file("mfs.img"), "MacPaint", which, dir.file(which)}).succeeded());
        const std::string fork = test::slurp(dir.file(which));
        DumpModel model;
        ASSERT_EQ(openDump(m.session, model, "MacPaint"), DumpOpen::Shown);
        ASSERT_EQ(dumpCommand(m.session, model, command), DumpReply::Repaint);
        for (uint32_t thumb : {0u, model.scrollMaximum / 3 + 1, model.scrollMaximum / 2, model.scrollMaximum}) {
            scrollDump(m.session, model, ScrollRequest::Thumb, thumb);
            expectScreen(model, fork);
        }
        EXPECT_TRUE(model.readFault.empty()) << model.readFault;
    }
}

// Where each request takes the position from a thumb position, on Big Forks' data fork (10
// blocks, 5000 bytes) with its physical length as stored and damaged, patched into a copy of
// basic.hfs: the scroll unit and range that fit the scroll bar, and each screen's bytes. Within
// the length every byte shows; past it, and past the fork's extents, only zeros.
TEST(DumpScroll, RequestsMoveThePositionAndDamagedLengthsNeitherRunAwayNorShowStrayBytes) {
    using R = ScrollRequest;
    struct Step {
        uint32_t from;
        ScrollRequest request;
        uint32_t thumb;
        uint32_t to;
    };
    const struct {
        uint32_t length, unit, maximum;
        std::vector<Step> steps;
    } cases[] = {
        {5120, 128, 40,
         {{0, R::LineUp, 0, 0}, {128, R::LineUp, 0, 0}, {512, R::LineUp, 0, 384},
          {512, R::PageUp, 0, 512},  // a page up needs more than a page above
          {640, R::PageUp, 0, 128}, {0, R::LineDown, 0, 128}, {4992, R::LineDown, 0, 5120}, {5120, R::LineDown, 0, 5120},
          {4096, R::PageDown, 0, 4608},
          {4608, R::PageDown, 0, 4608},  // a page down needs more than a page below
          {2560, R::Top, 0, 0}, {0, R::Bottom, 0, 4608}, {0, R::Thumb, 17, 17 * 128},
          {0, R::Thumb, 999, 5120}}},  // a thumb past the range stops at its end
        {32767u * 128, 128, 32767, {}},  // the most steps a unit of 128 can serve
        {32768u * 128, 256, 16384, {}},  // one byte more per step takes the next unit
        // 8 MB: the remainder adds a step, whose end lies past the fork's end.
        {8388608, 384, 21846,
         {{0, R::Thumb, 10000, 10000u * 384}, {0, R::Thumb, 21846, 21846u * 384}, {21846u * 384, R::LineDown, 0, 21846u * 384},
          {21846u * 384, R::PageDown, 0, 21846u * 384}, {0, R::Bottom, 0, 8388608u - 512}}},
        {0xFFFFFFFFu, 131072, 32768, {{0, R::Bottom, 0, 0xFFFFFFFFu - 511}}},  // a 16-bit unit would wrap
        // Lengths that end inside a sector while the extents go on.
        {4700, 128, 37, {{0, R::Bottom, 0, 4608}}},
        {1000, 128, 8, {{0, R::Thumb, 8, 1024}}},
    };
    const std::string fork = test::hcopyData(basic(), ":Big Forks");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        test::TempDir dir;
        MountedImage m(test::bentFixture(dir, "basic.hfs", [&](test::Bytes& b) {
            test::HfsImage img(b);
            img.setRecordData32(img.lookup(":Big Forks"), test::catfile::kDataPhysicalLength, c.length);
        }));
        Session& s = m.session;
        DumpModel model;
        ASSERT_EQ(openDump(s, model, "Big Forks"), DumpOpen::Shown);
        EXPECT_EQ(std::tuple(model.forkLength, model.scrollUnit, model.scrollMaximum), std::tuple(c.length, c.unit, c.maximum));
        for (const Step& step : c.steps) {
            SCOPED_TRACE("from " + std::to_string(step.from) + " request " + std::to_string(static_cast<int>(step.request)));
            scrollDump(s, model, ScrollRequest::Thumb, step.from / model.scrollUnit);
            ASSERT_EQ(model.position, step.from);
            scrollDump(s, model, step.request, step.thumb);
            EXPECT_EQ(model.position, step.to);
            expectScreen(model, fork, 5120);
            EXPECT_TRUE(model.readFault.empty()) << model.readFault;
        }
    }
}

// An HFS+ fork of 4 GiB and 12,388 bytes: the dump's 32-bit offsets show its first 4 GiB less
// one byte, never the length cut to its low 32 bits.
TEST(DumpScroll, AForkPastFourGigabytesShowsAllThatOffsetsCanName) {
    MountedImage m(test::fixturePath("hfsplus/huge.hfsp"));
    const FileList& list = m.list();
    uint16_t huge = 0;
    while (huge < list.entryCount && list.shownNameOf(huge) != "Huge.bin") ++huge;
    ASSERT_LT(huge, list.entryCount);
    DumpModel dump;
    ASSERT_EQ(openDump(m.session, dump, list.keyOf(huge)), DumpOpen::Shown);
    EXPECT_EQ(dump.forkLength, 0xFFFF'FFFFu);
    scrollDump(m.session, dump, ScrollRequest::Bottom);
    EXPECT_LT(dump.position, dump.forkLength);
    EXPECT_EQ(dump.readFault, "");
}

TEST(DumpForks, OpenOnTheForkWithSpaceSwitchAndShowAnEmptyOne) {
    const struct {
        const char* name;
        bool dataEnabled, resourceEnabled, dataChecked, resourceChecked;
    } cases[] = {
        {"Big Forks", true, true, true, false},
        {"Read Me", true, false, true, false},
        {"Resource Only", false, true, false, true},
        {"Empty File", false, false, false, true},
    };
    MountedImage m(basic());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DumpModel model;
        ASSERT_EQ(openDump(m.session, model, c.name), DumpOpen::Shown);
        EXPECT_EQ(std::tie(model.dataEnabled, model.resourceEnabled, model.dataChecked, model.resourceChecked),
                  std::tie(c.dataEnabled, c.resourceEnabled, c.dataChecked, c.resourceChecked));
        EXPECT_EQ(model.fork, c.dataChecked ? DumpFork::Data : DumpFork::Resource);
    }
    // A name that is no file closes the window.
    for (const char* name : {"Docs", "No Such File"}) {
        DumpModel model;
        EXPECT_EQ(openDump(m.session, model, name), DumpOpen::NotFound) << name;
    }

    const std::string data = test::hcopyData(basic(), ":Big Forks");
    const std::string rsrc = test::hcopyResource(basic(), ":Big Forks");
    DumpModel model;
    ASSERT_EQ(openDump(m.session, model, "Big Forks"), DumpOpen::Shown);
    // Choosing the fork already shown changes nothing.
    scrollDump(m.session, model, ScrollRequest::Thumb, 21);
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kData), DumpReply::Repaint);
    EXPECT_EQ(model.position, 21u * 128);
    // The other fork starts at its beginning, with its own length and range; nothing of the
    // screen left in the data fork may show in it.
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kResource), DumpReply::Repaint);
    EXPECT_EQ(model.fork, DumpFork::Resource);
    EXPECT_EQ(std::tuple(model.dataChecked, model.resourceChecked, model.position, model.forkLength, model.scrollMaximum),
              std::tuple(false, true, 0u, 1536u, 12u));
    expectScreen(model, rsrc);
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kData), DumpReply::Repaint);
    EXPECT_EQ(std::tuple(model.dataChecked, model.resourceChecked, model.forkLength), std::tuple(true, false, 5120u));
    expectScreen(model, data);

    // An empty fork stays at its start and shows zeros.
    ASSERT_EQ(openDump(m.session, model, "Empty File"), DumpOpen::Shown);
    EXPECT_EQ(std::tuple(model.forkLength, model.scrollMaximum), std::tuple(0u, 0u));
    for (ScrollRequest r : {ScrollRequest::Bottom, ScrollRequest::LineDown, ScrollRequest::PageDown,
                            ScrollRequest::LineUp, ScrollRequest::Thumb}) {
        scrollDump(m.session, model, r, 5);
        EXPECT_EQ(model.position, 0u) << static_cast<int>(r);
    }
    // Greyed items send nothing, nor does a command of another window.
    for (int command : {dumpcmd::kData, dumpcmd::kResource, 115})
        EXPECT_EQ(dumpCommand(m.session, model, command), DumpReply::Ignored) << command;
    for (int i = 0; i < kDumpLineCount; ++i)
        EXPECT_EQ(std::string(dumpLine(model, i).data(), kDumpLineLength),
                  decimal8(16u * static_cast<uint32_t>(i)) +
                      " 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00 ________________      ");
}

TEST(DumpLineFormat, OffsetsHexAndCharacterColumns) {
    // Bytes: 'A', 0x00, 0x0D, 0x80 ('Ä' on the Macintosh, 'Ç' in DOS), 0xE9, 0xB0, 0x3A, 0xFF,
    // then 0x20..0x27.
    const uint8_t bytes[16] = {0x41, 0x00, 0x0D, 0x80, 0xE9, 0xB0, 0x3A, 0xFF, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27};
    const std::string hex = " 41 00 0d 80 e9 b0 3a ff  20 21 22 23 24 25 26 27 ", mac = "A__\xC4\xC8_:_ !\"#$%&'";
    const struct {
        uint32_t offset;
        uint32_t radix;
        DumpCharset charset;
        std::string offsetText, characters;
    } cases[] = {
        {0, 10, DumpCharset::AsciiMacintosh, "00000000", mac},
        {0, 10, DumpCharset::AnsiWindows, "00000000", "A \x0D\x80\xE9\xB0:\xFF !\"#$%&'"},
        {0, 10, DumpCharset::AsciiDos, "00000000", "A \x0D\xC7_  _ !\"#$%&'"},
        {123456789, 10, DumpCharset::AsciiMacintosh, "23456789", mac},  // only the low eight digits of a long offset
        {0xABCDEF12, 16, DumpCharset::AsciiMacintosh, "abcdef12", mac},
    };
    for (const auto& c : cases) {
        DumpLine line;
        line.fill('#');
        FormatDumpLine(line, bytes, c.offset, c.radix, c.charset);
        EXPECT_EQ(std::string(line.data(), kDumpLineLength), c.offsetText + hex + c.characters + "      ") << c.offsetText;
        EXPECT_EQ(line[kDumpLineLength], '\0');
    }
}

TEST(DumpLineFormat, DosCharactersAreThoseOfCodePage437) {
    // Every character the DOS set shows is the code page 437 character of its byte (oemToUtf8
    // is the reference), except those it blots out with "_" and one the table has always
    // shown wrongly: 0xAC, "1/4" in code page 437, comes out as the Windows "3/4".
    int shown = 0;
    for (int b = 0; b < 256; ++b) {
        const uint8_t c = DosToAnsi[b];
        if (c == 0 || (c == 0x5F && b != 0x5F)) continue;
        ++shown;
        const std::string want = b == 0xAC ? "\xC2\xBE" : oemToUtf8(std::string(1, static_cast<char>(b)));
        EXPECT_EQ(ansiToUtf8(std::string(1, static_cast<char>(c))), want) << "byte " << b;
    }
    // 0x0A and 0x0D, the printable ASCII but the colon, DEL, and 47 letters and signs above.
    EXPECT_EQ(shown, 2 + 94 + 1 + 47);
    for (int b = 0xB0; b < 0xE0; ++b) EXPECT_EQ(DosToAnsi[b], 0) << "byte " << b;
}

TEST(DumpLineFormat, ScreenTextKeepsEightyColumns) {
    const uint8_t bytes[16] = {0x09, 0x0A, 0x0D, 0x1B, 0x7F, 0x81, 0x8D, 0xE9, 0x80, 0x41, 0, 0, 0, 0, 0, 0};
    for (DumpCharset set : {DumpCharset::AsciiMacintosh, DumpCharset::AnsiWindows, DumpCharset::AsciiDos}) {
        DumpLine line;
        FormatDumpLine(line, bytes, 0, 16, set);
        const std::string text = dumpLineToUtf8(line);
        size_t characters = 0;
        for (unsigned char ch : text) {
            if ((ch & 0xC0) != 0x80) ++characters;
            EXPECT_FALSE(ch < 0x20 || ch == 0x7F) << static_cast<int>(set);
        }
        EXPECT_EQ(characters, kDumpLineLength) << static_cast<int>(set);
        EXPECT_EQ(text.find("\xC2\x81"), std::string::npos);  // no C1 control either
        if (set == DumpCharset::AnsiWindows) {
            EXPECT_EQ(text.substr(58), "       \xC3\xA9\xE2\x82\xAC" "A" "            ");
        }
    }
}

// A sector source that fails for the sectors in failing and, as a careless driver might,
// leaves garbage in the caller's buffer when it does.
std::set<uint32_t> failing;
SectorSourceFn realSource = nullptr;
uint16_t flakySource(DeviceState& device, SectorRequest& request) {
    if (failing.count(request.sector)) {
        std::fill_n(request.buffer, kSectorSize, 0xEE);
        return 4;
    }
    return realSource(device, request);
}

// Big Forks opened with the data fork's sector `unit` failing.
struct FlakyDump {
    MountedImage m{basic()};
    Session& s = m.session;
    DumpModel model;
    uint32_t bad = 0;

    explicit FlakyDump(uint32_t unit) {
        EXPECT_EQ(openDump(s, model, "Big Forks"), DumpOpen::Shown);
        // The sector that holds the unit, from the runs the fork lies in.
        Result<std::vector<ForkRun>> runs = s.mounted->openFork(model.file, ForkKind::Data)->runs();
        EXPECT_TRUE(runs);
        const uint64_t at = uint64_t{unit} * 512;
        for (const ForkRun& run : *runs)
            if (at >= run.forkOffset && at - run.forkOffset < run.length)
                bad = static_cast<uint32_t>((run.mediumOffset + at - run.forkOffset) / 512);
        EXPECT_NE(bad, 0u);
        realSource = s.device.sectorSource;
        failing = {bad};
        s.device.sectorSource = flakySource;
        s.device.cdBlockKey = kNoCachedBlock;
    }
    void recover() {
        s.device.sectorSource = realSource;
        failing.clear();
    }
};

TEST(DumpRead, AFailedReadShowsZerosAndSaysWhere) {
    const std::string fork = test::hcopyData(basic(), ":Big Forks");
    FlakyDump d(4);
    // A reload from 1536 reads 1536..2047 and stops at 2048, the failing unit; the screen from
    // 1792 on shows the bytes before it and zeros, not what the failed read left behind.
    scrollDump(d.s, d.model, ScrollRequest::Thumb, 14);
    EXPECT_NE(d.model.readFault.find("sector " + std::to_string(d.bad)), std::string::npos) << d.model.readFault;
    EXPECT_EQ(d.model.windowEnd, 2048u);
    expectScreen(d.model, fork, 2048);
    // The medium recovers: stepping past the short window's end reads again.
    d.recover();
    scrollDump(d.s, d.model, ScrollRequest::Thumb, 17);
    EXPECT_TRUE(d.model.readFault.empty()) << d.model.readFault;
    expectScreen(d.model, fork);

    // After a short read the window ends before the position that comes next; comparing
    // "window end - position" without checking the order first would wrap round and show the
    // stale buffer from an offset past the read bytes.
    FlakyDump shortRead(1);
    scrollDump(shortRead.s, shortRead.model, ScrollRequest::LineDown);  // reload from 0 stops at 512
    EXPECT_EQ(shortRead.model.windowEnd, 512u);
    shortRead.recover();
    scrollDump(shortRead.s, shortRead.model, ScrollRequest::Thumb, 6);  // 768: past the window's end
    EXPECT_EQ(shortRead.model.position, 768u);
    expectScreen(shortRead.model, fork);
}

}  // namespace
}  // namespace quarry
