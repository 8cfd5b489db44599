// The dump window's state: its lines checked against the fork bytes hcopy extracts, the scroll
// arithmetic, the fork switch, and what a short or failed read leaves on the screen.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "common/text.h"
#include "dump/dump_model.h"
#include "hfs/fork.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::MountedImage;

// The resource fork inside a MacBinary II file: after the 128-byte header and the data fork
// padded to 128 bytes.
std::string resourceOfMacBinary(const std::string& mb) {
    auto be32 = [&](size_t at) {
        return (uint32_t{static_cast<uint8_t>(mb[at])} << 24) | (uint32_t{static_cast<uint8_t>(mb[at + 1])} << 16) |
               (uint32_t{static_cast<uint8_t>(mb[at + 2])} << 8) | static_cast<uint8_t>(mb[at + 3]);
    };
    if (mb.size() < 128) return {};
    const uint32_t dataLen = be32(83), rsrcLen = be32(87);
    return mb.substr(128 + (dataLen + 127) / 128 * 128, rsrcLen);
}

// The byte a dump line shows at column j of its hexadecimal part.
int hexByte(const DumpLine& line, size_t j) {
    const size_t at = 9 + 3 * j + (j >= 8 ? 1 : 0);
    return std::stoi(std::string(line.data() + at, 2), nullptr, 16);
}

std::string offsetText(const DumpLine& line) { return std::string(line.data(), 8); }

std::string decimal8(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08u", v % 100000000u);
    return text;
}

// Checks the 32 lines on the screen: offsets from the position on, bytes equal to the fork's
// within both its lengths, zeros from its physical length on.
void expectScreen(const DumpModel& model, const std::string& fork) {
    SCOPED_TRACE("position " + std::to_string(model.position));
    for (int i = 0; i < kDumpLineCount; ++i) {
        const DumpLine line = dumpLine(model, i);
        const uint32_t offset = model.position + 16u * static_cast<uint32_t>(i);
        ASSERT_EQ(offsetText(line), decimal8(offset));
        ASSERT_EQ(line[kDumpLineLength], '\0');
        for (size_t j = 0; j < 16; ++j) {
            const uint32_t at = offset + static_cast<uint32_t>(j);
            if (at < fork.size() && at < model.forkLength) {
                ASSERT_EQ(hexByte(line, j), static_cast<uint8_t>(fork[at])) << "fork offset " << at;
            } else if (at >= model.forkLength) {
                ASSERT_EQ(hexByte(line, j), 0) << "fork offset " << at;
            }
        }
    }
}

// Mounts a copy of a fixture after patch has changed it.
struct PatchedImage {
    test::TempDir dir;
    std::unique_ptr<MountedImage> mounted;

    PatchedImage(const char* fixture, const std::function<void(test::Bytes&)>& patch) {
        test::Bytes bytes = test::readFile(test::fixturePath(fixture));
        patch(bytes);
        const std::string path = dir.file("patched.hfs");
        test::writeFile(path, bytes);
        mounted = std::make_unique<MountedImage>(path);
    }
};

// Gives the data fork of a basic.hfs file another physical length.
std::function<void(test::Bytes&)> dataPhysicalLength(const char* macPath, uint32_t length) {
    return [=](test::Bytes& b) {
        test::HfsImage img(b);
        img.setRecordData32(img.lookup(macPath), test::catfile::kDataPhysicalLength, length);
    };
}

TEST(DumpLines, ShowTheBytesHcopyReadsEverywhereInTheFork) {
    struct Case {
        const char* image;
        const char* name;
        int forkCommand;  // 100 data, 101 resource
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
        const std::string fork = c.forkCommand == dumpcmd::kData
                                     ? test::hcopyData(image, macPath)
                                     : resourceOfMacBinary(test::hcopyMacBinary(image, macPath));
        ASSERT_FALSE(fork.empty());
        MountedImage m(image);
        ASSERT_EQ(m.mountResult, 1);
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
            EXPECT_EQ(model.scrollBarPosition(), model.position / model.scrollUnit);
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

TEST(DumpScroll, UnitAndMaximumFitTheScrollBar) {
    struct Case {
        uint32_t length;
        uint32_t unit;
        uint32_t maximum;
    };
    const Case cases[] = {
        {5120, 128, 40},
        {32767u * 128, 128, 32767},         // the most steps a unit of 128 can serve
        {32768u * 128, 256, 16384},         // one byte more per step takes the next unit
        {8388608, 384, 21846},              // the remainder adds a step
        {0xFFFFFFFFu, 131072, 32768},       // a unit of 16 bits would have wrapped round
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        PatchedImage p("basic.hfs", dataPhysicalLength(":Big Forks", c.length));
        DumpModel model;
        ASSERT_EQ(openDump(p.mounted->session, model, "Big Forks"), DumpOpen::Shown);
        EXPECT_EQ(model.forkLength, c.length);
        EXPECT_EQ(model.scrollUnit, c.unit);
        EXPECT_EQ(model.scrollMaximum, c.maximum);
    }
}

TEST(DumpScroll, RequestsMoveThePositionAsTheWindowDoes) {
    // Big Forks: a data fork of 5120 allocated bytes, scroll unit 128.
    struct Case {
        uint32_t from;
        ScrollRequest request;
        uint32_t thumb;
        uint32_t to;
    };
    const Case cases[] = {
        {0, ScrollRequest::LineUp, 0, 0},
        {128, ScrollRequest::LineUp, 0, 0},
        {512, ScrollRequest::LineUp, 0, 384},
        {512, ScrollRequest::PageUp, 0, 512},  // a page up needs more than a page above
        {640, ScrollRequest::PageUp, 0, 128},
        {0, ScrollRequest::LineDown, 0, 128},
        {4992, ScrollRequest::LineDown, 0, 5120},
        {5120, ScrollRequest::LineDown, 0, 5120},
        {4096, ScrollRequest::PageDown, 0, 4608},
        {4608, ScrollRequest::PageDown, 0, 4608},  // a page down needs more than a page below
        {2560, ScrollRequest::Top, 0, 0},
        {0, ScrollRequest::Bottom, 0, 4608},
        {0, ScrollRequest::Thumb, 17, 17 * 128},
        {0, ScrollRequest::Thumb, 999, 5120},  // a thumb past the range stops at its end
    };
    MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    const std::string fork = test::hcopyData(test::fixturePath("basic.hfs"), ":Big Forks");
    DumpModel model;
    ASSERT_EQ(openDump(m.session, model, "Big Forks"), DumpOpen::Shown);
    ASSERT_EQ(model.forkLength, 5120u);
    for (const Case& c : cases) {
        SCOPED_TRACE("from " + std::to_string(c.from) + " request " + std::to_string(static_cast<int>(c.request)));
        scrollDump(m.session, model, ScrollRequest::Thumb, c.from / model.scrollUnit);
        ASSERT_EQ(model.position, c.from);
        scrollDump(m.session, model, c.request, c.thumb);
        EXPECT_EQ(model.position, c.to);
        EXPECT_EQ(model.scrollBarPosition(), c.to / 128);
        expectScreen(model, fork);
    }
}

TEST(DumpScroll, BottomOfA1536ByteForkShowsItsLastScreen) {
    // The resource fork of Big Forks holds 1500 bytes in three 512-byte blocks.
    const std::string image = test::fixturePath("basic.hfs");
    const std::string fork = resourceOfMacBinary(test::hcopyMacBinary(image, ":Big Forks"));
    MountedImage m(image);
    DumpModel model;
    ASSERT_EQ(openDump(m.session, model, "Big Forks"), DumpOpen::Shown);
    dumpCommand(m.session, model, dumpcmd::kResource);
    ASSERT_EQ(model.forkLength, 1536u);
    scrollDump(m.session, model, ScrollRequest::Bottom);
    EXPECT_EQ(model.position, 1024u);
    EXPECT_EQ(offsetText(dumpLine(model, 0)), "00001024");
    EXPECT_EQ(offsetText(dumpLine(model, 31)), "00001520");
    expectScreen(model, fork);
}

TEST(DumpScroll, PastTheExtentsAndPastTheEndNothingRunsAway) {
    // A data fork that claims 8 MB of allocated space but owns 10 blocks: the rest reads as
    // zeros, and the thumb's last step lies past the fork's end.
    PatchedImage p("basic.hfs", dataPhysicalLength(":Big Forks", 8388608));
    Session& s = p.mounted->session;
    DumpModel model;
    ASSERT_EQ(openDump(s, model, "Big Forks"), DumpOpen::Shown);
    scrollDump(s, model, ScrollRequest::Thumb, 10000);
    EXPECT_EQ(model.position, 10000u * 384);
    for (int i = 0; i < kDumpLineCount; ++i)
        for (size_t j = 0; j < 16; ++j) ASSERT_EQ(hexByte(dumpLine(model, i), j), 0);
    EXPECT_TRUE(model.readFault.empty()) << model.readFault;

    scrollDump(s, model, ScrollRequest::Thumb, model.scrollMaximum);
    const uint32_t end = model.scrollMaximum * model.scrollUnit;
    ASSERT_GT(end, model.forkLength);
    for (ScrollRequest r : {ScrollRequest::LineDown, ScrollRequest::PageDown}) {
        scrollDump(s, model, r);
        EXPECT_EQ(model.position, end);
    }
    scrollDump(s, model, ScrollRequest::Bottom);
    EXPECT_EQ(model.position, 8388608u - 512);
}

TEST(DumpScroll, ALengthThatEndsInsideASectorShowsNoByteBeyondIt) {
    // Physical lengths are whole allocation blocks; these damaged records end inside a sector
    // while the extents go on. Within the length every byte shows, beyond it only zeros.
    struct Case {
        uint32_t length;
        ScrollRequest request;
        uint32_t thumb;
        uint32_t position;
    };
    const Case cases[] = {
        {4700, ScrollRequest::Bottom, 0, 4608},  // 92 bytes of the last sector, then zeros
        {1000, ScrollRequest::Thumb, 8, 1024},   // the thumb's end lies past the length
    };
    const std::string fork = test::hcopyData(test::fixturePath("basic.hfs"), ":Big Forks");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        PatchedImage p("basic.hfs", dataPhysicalLength(":Big Forks", c.length));
        DumpModel model;
        ASSERT_EQ(openDump(p.mounted->session, model, "Big Forks"), DumpOpen::Shown);
        scrollDump(p.mounted->session, model, c.request, c.thumb);
        EXPECT_EQ(model.position, c.position);
        expectScreen(model, fork);
    }
}

TEST(DumpScroll, AnEmptyForkStaysAtItsStart) {
    MountedImage m(test::fixturePath("basic.hfs"));
    DumpModel model;
    ASSERT_EQ(openDump(m.session, model, "Empty File"), DumpOpen::Shown);
    EXPECT_FALSE(model.dataEnabled);
    EXPECT_FALSE(model.resourceEnabled);
    EXPECT_FALSE(model.dataChecked);
    EXPECT_TRUE(model.resourceChecked);
    EXPECT_EQ(model.forkLength, 0u);
    EXPECT_EQ(model.scrollMaximum, 0u);
    for (ScrollRequest r : {ScrollRequest::Bottom, ScrollRequest::LineDown, ScrollRequest::PageDown,
                            ScrollRequest::LineUp, ScrollRequest::Thumb}) {
        scrollDump(m.session, model, r, 5);
        EXPECT_EQ(model.position, 0u) << static_cast<int>(r);
    }
    // Greyed items send nothing.
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kData), DumpReply::Ignored);
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kResource), DumpReply::Ignored);
    for (int i = 0; i < kDumpLineCount; ++i) {
        const DumpLine line = dumpLine(model, i);
        EXPECT_EQ(std::string(line.data(), 58),
                  decimal8(16u * static_cast<uint32_t>(i)) + " 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00 ");
        EXPECT_EQ(std::string(line.data() + 58, 22), "________________      ");
    }
}

TEST(DumpForks, OpenOnTheForkWithSpaceAndSwitchBetweenThem) {
    struct Case {
        const char* name;
        bool dataEnabled, resourceEnabled, dataChecked, resourceChecked;
    };
    const Case cases[] = {
        {"Big Forks", true, true, true, false},
        {"Read Me", true, false, true, false},
        {"Resource Only", false, true, false, true},
    };
    MountedImage m(test::fixturePath("basic.hfs"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DumpModel model;
        ASSERT_EQ(openDump(m.session, model, c.name), DumpOpen::Shown);
        EXPECT_EQ(model.dataEnabled, c.dataEnabled);
        EXPECT_EQ(model.resourceEnabled, c.resourceEnabled);
        EXPECT_EQ(model.dataChecked, c.dataChecked);
        EXPECT_EQ(model.resourceChecked, c.resourceChecked);
        EXPECT_EQ(model.fork, c.dataChecked ? DumpFork::Data : DumpFork::Resource);
    }

    const std::string image = test::fixturePath("basic.hfs");
    const std::string data = test::hcopyData(image, ":Big Forks");
    const std::string rsrc = resourceOfMacBinary(test::hcopyMacBinary(image, ":Big Forks"));
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
    EXPECT_TRUE(model.resourceChecked);
    EXPECT_FALSE(model.dataChecked);
    EXPECT_EQ(model.position, 0u);
    EXPECT_EQ(model.forkLength, 1536u);
    EXPECT_EQ(model.scrollMaximum, 12u);
    EXPECT_EQ(model.scrollBarPosition(), 0u);
    expectScreen(model, rsrc);
    scrollDump(m.session, model, ScrollRequest::LineDown);
    expectScreen(model, rsrc);
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kData), DumpReply::Repaint);
    EXPECT_TRUE(model.dataChecked);
    EXPECT_FALSE(model.resourceChecked);
    EXPECT_EQ(model.forkLength, 5120u);
    expectScreen(model, data);
}

TEST(DumpOpening, ANameThatIsNoFileClosesTheWindow) {
    MountedImage m(test::fixturePath("basic.hfs"));
    for (const char* name : {"Docs", "Empty Folder", "No Such File"}) {
        DumpModel model;
        EXPECT_EQ(openDump(m.session, model, name), DumpOpen::NotFound) << name;
    }
}

TEST(DumpCommands, ChangeTheDisplayOrCloseTheWindow) {
    MountedImage m(test::fixturePath("basic.hfs"));
    DumpModel model;
    ASSERT_EQ(openDump(m.session, model, "Big Forks"), DumpOpen::Shown);
    EXPECT_EQ(model.radix, 10u);
    EXPECT_EQ(model.charset, DumpCharset::AsciiMacintosh);
    // The third line at position 0, by radix.
    EXPECT_EQ(offsetText(dumpLine(model, 2)), "00000032");
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kHexadecimal), DumpReply::Repaint);
    EXPECT_EQ(offsetText(dumpLine(model, 2)), "00000020");
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kDecimal), DumpReply::Repaint);
    EXPECT_EQ(offsetText(dumpLine(model, 2)), "00000032");

    // The fork begins with a zero byte.
    ASSERT_EQ(hexByte(dumpLine(model, 0), 0), 0);
    EXPECT_EQ(dumpLine(model, 0)[58], '_');
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kAnsiWindows), DumpReply::Repaint);
    EXPECT_EQ(dumpLine(model, 0)[58], ' ');
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kAsciiDos), DumpReply::Repaint);
    EXPECT_EQ(dumpLine(model, 0)[58], ' ');

    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kFileParameter), DumpReply::FileParameter);
    EXPECT_EQ(dumpCommand(m.session, model, dumpcmd::kBackToMainScreen), DumpReply::Close);
    EXPECT_EQ(dumpCommand(m.session, model, 115), DumpReply::Ignored);
}

TEST(DumpLineFormat, OffsetsHexAndCharacterColumns) {
    struct Case {
        uint32_t offset;
        uint32_t radix;
        DumpCharset charset;
        const char* text;  // the 80 characters
    };
    // Bytes: 'A', 0x00, 0x0D, 0x80 ('Ä' on the Macintosh, 'Ç' in DOS), 0xE9, 0xB0, 0x3A, 0xFF,
    // then 0x20..0x27.
    const uint8_t bytes[16] = {0x41, 0x00, 0x0D, 0x80, 0xE9, 0xB0, 0x3A, 0xFF, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27};
    const Case cases[] = {
        {0, 10, DumpCharset::AsciiMacintosh,
         "00000000 41 00 0d 80 e9 b0 3a ff  20 21 22 23 24 25 26 27 A__\xC4\xC8_:_ !\"#$%&'      "},
        {0, 10, DumpCharset::AnsiWindows,
         "00000000 41 00 0d 80 e9 b0 3a ff  20 21 22 23 24 25 26 27 A \x0D\x80\xE9\xB0:\xFF !\"#$%&'      "},
        {0, 10, DumpCharset::AsciiDos,
         "00000000 41 00 0d 80 e9 b0 3a ff  20 21 22 23 24 25 26 27 A \x0D\xC7_  _ !\"#$%&'      "},
        // Only the low eight digits of a long offset.
        {123456789, 10, DumpCharset::AsciiMacintosh,
         "23456789 41 00 0d 80 e9 b0 3a ff  20 21 22 23 24 25 26 27 A__\xC4\xC8_:_ !\"#$%&'      "},
        {0xABCDEF12, 16, DumpCharset::AsciiMacintosh,
         "abcdef12 41 00 0d 80 e9 b0 3a ff  20 21 22 23 24 25 26 27 A__\xC4\xC8_:_ !\"#$%&'      "},
    };
    for (const Case& c : cases) {
        DumpLine line;
        line.fill('#');
        FormatDumpLine(line, bytes, c.offset, c.radix, c.charset);
        EXPECT_EQ(std::string(line.data(), kDumpLineLength), std::string(c.text, kDumpLineLength)) << c.text;
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
    }
    DumpLine line;
    FormatDumpLine(line, bytes, 0, 16, DumpCharset::AnsiWindows);
    EXPECT_EQ(dumpLineToUtf8(line).substr(58), "       \xC3\xA9\xE2\x82\xAC" "A" "            ");
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

TEST(DumpRead, AFailedReadShowsZerosAndSaysWhere) {
    const std::string image = test::fixturePath("basic.hfs");
    const std::string fork = test::hcopyData(image, ":Big Forks");
    MountedImage m(image);
    Session& s = m.session;
    DumpModel model;
    ASSERT_EQ(openDump(s, model, "Big Forks"), DumpOpen::Shown);
    const uint32_t bad = forkSectorAt(s.volumeContext(), 4, model.currentExtents(), model.file.data32(catrec::kFileId), kDataFork);
    ASSERT_NE(bad, 0u);
    realSource = s.device.sectorSource;
    failing = {bad};
    s.device.sectorSource = flakySource;
    s.device.cdBlockKey = kNoCachedBlock;

    // A reload from 1536 reads 1536..2047 and stops at 2048, the failing unit; the screen from
    // 1792 on shows the bytes before it and zeros, not what the failed read left behind.
    scrollDump(s, model, ScrollRequest::Thumb, 14);
    EXPECT_NE(model.readFault.find("sector " + std::to_string(bad)), std::string::npos) << model.readFault;
    EXPECT_EQ(model.windowEnd, 2048u);
    for (int i = 0; i < kDumpLineCount; ++i) {
        const DumpLine line = dumpLine(model, i);
        const uint32_t offset = 1792 + 16u * static_cast<uint32_t>(i);
        for (size_t j = 0; j < 16; ++j) {
            const int want = offset + j < 2048 ? static_cast<uint8_t>(fork[offset + j]) : 0;
            ASSERT_EQ(hexByte(line, j), want) << "fork offset " << offset + j;
        }
    }
    // The medium recovers: stepping past the short window's end reads again.
    s.device.sectorSource = realSource;
    failing.clear();
    scrollDump(s, model, ScrollRequest::Thumb, 17);
    EXPECT_TRUE(model.readFault.empty()) << model.readFault;
    expectScreen(model, fork);
}

TEST(DumpRead, APositionPastAShortWindowReloads) {
    // After a short read the window ends before the position that comes next; comparing
    // "window end - position" without checking the order first would wrap round and show the
    // stale buffer from an offset past the read bytes.
    const std::string image = test::fixturePath("basic.hfs");
    const std::string fork = test::hcopyData(image, ":Big Forks");
    MountedImage m(image);
    Session& s = m.session;
    DumpModel model;
    ASSERT_EQ(openDump(s, model, "Big Forks"), DumpOpen::Shown);
    const uint32_t bad = forkSectorAt(s.volumeContext(), 1, model.currentExtents(), model.file.data32(catrec::kFileId), kDataFork);
    realSource = s.device.sectorSource;
    failing = {bad};
    s.device.sectorSource = flakySource;
    s.device.cdBlockKey = kNoCachedBlock;
    scrollDump(s, model, ScrollRequest::LineDown);  // reload from 0 stops at 512
    EXPECT_EQ(model.windowEnd, 512u);
    s.device.sectorSource = realSource;
    failing.clear();
    scrollDump(s, model, ScrollRequest::Thumb, 6);  // 768: past the window's end
    EXPECT_EQ(model.position, 768u);
    expectScreen(model, fork);
}

TEST(DumpWindow, TitleNamesTheFile) {
    EXPECT_EQ(dumpWindowTitle("Caf\x8e Menu"), "Dumping file \"Caf\xC3\xA9 Menu\"");
}

}  // namespace
}  // namespace quarry
