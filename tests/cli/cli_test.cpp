// quarry-cli as scripts use it: its output lines, its messages and its exit status.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <map>
#include <tuple>

#include "common/charset.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::firstFields;
using test::runCli;
using Strings = std::vector<std::string>;
const auto lines = test::outputLines;
const auto fields = test::tabFields;

// DIR prints one tab-separated line per entry; CD moves by name and pattern and names a folder
// that is not there.
TEST(Cli, DirAndCd) {
    const std::string image = test::fixturePath("basic.hfs");
    const auto r = runCli({image, "CD Docs", "DIR"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(r.err, "");
    const auto out = lines(r.out);
    ASSERT_EQ(firstFields(r.out), (Strings{"Manual", "Old Drafts", "Read Me"}));  // catalog order
    const auto manual = fields(out[0]), drafts = fields(out[1]);
    ASSERT_EQ(manual.size(), 6u);
    EXPECT_EQ(manual[3], "TEXTttxt");
    ASSERT_EQ(drafts.size(), 6u);
    EXPECT_EQ(Strings(drafts.begin(), drafts.begin() + 4), (Strings{"Old Drafts", "<DIR>", "", "[3]"}));
    EXPECT_EQ(drafts[4].size(), 14u);

    const auto root = runCli({image, "DIR"});
    ASSERT_TRUE(root.succeeded()) << root.err;
    // Macintosh Roman 0x80 and 0x8E come out as UTF-8 Ä and é; fixed dates show as stored.
    EXPECT_NE(root.out.find("\xC3\x84pfel\t12\t0\tTEXTttxt\t"), std::string::npos) << root.out;
    EXPECT_NE(root.out.find("Caf\xC3\xA9 Menu\t"), std::string::npos);
    EXPECT_NE(root.out.find("Puzzle\t1200\t1080\tAPPLMACS\t05/17/92 09:30\t11/02/93 14:45\n"), std::string::npos);
    EXPECT_NE(root.out.find("Old Timer\t127\t0\tTEXTttxt\t07/20/65 12:00\t12/31/69 23:59\n"), std::string::npos);
    // The name's own trailing space is kept; only the fields' padding goes.
    EXPECT_NE(root.out.find("Trailing Space \t29\t"), std::string::npos);

    const auto moves = runCli({image, "cd do*", "CD \"Old Drafts\"", "DIR", "CD ..", "DIR D*", "CD \\", "CD \"Empty Folder\"",
                           "DIR", "CD \\", "CD Nowhere", "CD Puzzle", "DIR zzz*"});
    ASSERT_TRUE(moves.succeeded()) << moves.err;
    // A folder that is not there, or a file, is named, and the run goes on where it was.
    EXPECT_EQ(moves.err, "Quarry - : No such folder: Nowhere\nQuarry - : No such folder: Puzzle\n");
    // "cd do*" enters Docs whatever the case; Old Drafts holds three entries. Back in Docs
    // nothing begins with D; the empty folder and a pattern without match list nothing either.
    EXPECT_EQ(firstFields(moves.out), (Strings{"Archive", "Draft 1", "Draft 2", "[No file]", "[No file]", "[No file]"})) << moves.out;

    // Names whose first characters the catalog sorts away from their byte values; each folder
    // is empty, the root is not.
    // The list shows Macintosh 0xAA and 0xAB as \u2122 and \u00b4; typed, they name those folders.
    const auto names = runCli({test::fixturePath("names-5.hfs"), "CD [older", "DIR", "CD \\", "CD \u00dfolder", "DIR",
                               "CD \\", "CD Tolder", "DIR", "CD ..", "CD Zolder", "DIR", "CD \\", "CD \u2122older", "DIR",
                               "CD \\", "CD \u00b4older", "DIR"});
    ASSERT_TRUE(names.succeeded()) << names.err;
    EXPECT_EQ(names.err, "");
    EXPECT_EQ(lines(names.out), Strings(6, "[No file]"));
}

TEST(Cli, InfoPrintsTheSheetInItsOrder) {
    const auto r = runCli({test::fixturePath("basic.hfs"), "INFO"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    ASSERT_EQ(firstFields(r.out),
              (Strings{"Volume Size:", "Free space:", "Number of files:", "Number of folders:", "Next File ID:", "MDB Offset:",
                       "Partitions:", "Cluster Size:", "Number of Sectors:", "Extensions Offset:", "Extensions Size (sectors):",
                       "Catalog Offset:", "Catalog Size (sectors):"}));
    // The figures are the sheet's (tests/dialogs, and the desktop's INFO in tests/gui).
    EXPECT_EQ(lines(r.out)[0], "Volume Size:\t1471488");
}

// The labels of the two attribute sheets, in the dialogs' order: "File Attributes", then
// "Advanced".
const Strings kSheetLabels = {
    "Name", "Creator", "Filetype", "Creation Date", "Last Mod. Date", "Data fork", "Resource fork",
    "Filename", "File #", "Data extents", "Ressource extents"};

// The ATTRIB sheets of the output, one label-to-value map per file. Fails the test when the
// lines do not come in whole sheets with the labels in order.
std::vector<std::map<std::string, std::string>> attributeSheets(const std::string& out) {
    const auto all = lines(out);
    EXPECT_EQ(all.size() % kSheetLabels.size(), 0u) << out;
    std::vector<std::map<std::string, std::string>> sheets;
    for (size_t i = 0; i + kSheetLabels.size() <= all.size(); i += kSheetLabels.size()) {
        std::map<std::string, std::string>& sheet = sheets.emplace_back();
        for (size_t j = 0; j < kSheetLabels.size(); ++j) {
            const auto f = fields(all[i + j]);
            EXPECT_EQ(f.size(), 2u) << all[i + j];
            EXPECT_EQ(f[0], kSheetLabels[j]);
            sheet[f[0]] = f.size() > 1 ? f[1] : "";
        }
    }
    return sheets;
}

// A date field (day, month, years since 1900, hour, minute) against what hls shows of the date:
// the day and month, and the year or the time.
void expectDateAsHlsShowsIt(const std::string& sheetText, const test::HlsDate& hls) {
    SCOPED_TRACE(sheetText + " against hls " + hls.text);
    int d[5];
    ASSERT_EQ(std::sscanf(sheetText.c_str(), "%d %d %d %d %d", &d[0], &d[1], &d[2], &d[3], &d[4]), 5);
    ASSERT_TRUE(hls.year >= 0 || hls.hour >= 0);
    EXPECT_EQ(std::tuple(d[0], d[1]), std::tuple(hls.day, hls.month));
    if (hls.year >= 0) {
        EXPECT_EQ(d[2] + 1900, hls.year);
    }
    if (hls.hour >= 0) {
        EXPECT_EQ(std::tuple(d[3], d[4]), std::tuple(hls.hour, hls.minute));
    }
}

std::string extentsText(const std::vector<test::Extent>& extents, uint32_t sectorsPerBlock) {
    std::string out;
    for (size_t i = 0; i < 3; ++i) {
        const test::Extent e = i < extents.size() ? extents[i] : test::Extent{};
        if (i > 0) out += ", ";
        out += std::to_string(e.startBlock * sectorsPerBlock) + "/" + std::to_string(e.blockCount * sectorsPerBlock);
    }
    return out;
}

TEST(Cli, AttribPrintsBothSheetsAsHfsutilsSeesThem) {
    struct Case {
        const char* image;
        const char* folder;  // hfsutils path of the folder whose files are asked for
        size_t volumeOffset;
    };
    // Every file of the root of basic.hfs (invisible, locked, empty, resource-only, names with
    // accents, wildcards and a trailing space), a hybrid CD's application in a subfolder, and
    // forks that continue in the extents-overflow tree.
    const Case cases[] = {{"basic.hfs", ":", 0}, {"hybrid.iso", ":Apps", 16 * 512}, {"fragmented.hfs", ":", 0}};
    // The dates the fixture script wrote, whole, where hls shows a year or a time: day, month,
    // years since 1900, hour, minute.
    const std::map<std::string, std::pair<std::string, std::string>> fixedDates = {
        {"Big Forks", {"4 3 101 5 6", "4 3 101 6 7"}},   {"Puzzle", {"17 5 92 9 30", "2 11 93 14 45"}},
        {"Old Timer", {"20 7 65 12 0", "31 12 69 23 59"}}, {"Resource Only", {"3 2 98 4 5", "3 2 98 4 5"}},
        {"Tool", {"9 8 96 10 11", "2 1 97 3 4"}}};
    size_t dated = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " " + c.folder);
        const std::string image = test::fixturePath(c.image);
        std::vector<test::OracleEntry> files;
        for (const test::OracleEntry& o : test::hlsList(image, c.folder))
            if (!o.isFolder) files.push_back(o);
        ASSERT_FALSE(files.empty());
        const std::string folder = c.folder;
        // The builder's paths: ":Name" in the root, ":Apps:Name" below it.
        const std::string pathPrefix = folder == ":" ? "" : folder;
        std::vector<std::string> args = {image};
        if (!pathPrefix.empty()) args.push_back("CD \"" + folder.substr(1) + "\"");
        for (const test::OracleEntry& o : files) args.push_back("ATTRIB \"" + macNameToUtf8(o.name) + "\"");
        const auto r = runCli(args);
        ASSERT_TRUE(r.succeeded()) << r.err;
        EXPECT_EQ(r.err, "");
        const auto sheets = attributeSheets(r.out);
        ASSERT_EQ(sheets.size(), files.size()) << r.out;

        test::Bytes bytes = test::readFile(image);
        const test::HfsImage img(bytes, c.volumeOffset);
        const uint32_t sectorsPerBlock = img.mdb32(test::mdb::kDrAlBlkSiz) / 512;
        for (size_t i = 0; i < files.size(); ++i) {
            const test::OracleEntry& o = files[i];
            std::map<std::string, std::string> sheet = sheets[i];
            SCOPED_TRACE(macNameToUtf8(o.name));
            EXPECT_EQ(sheet["Name"], macNameToUtf8(o.name));
            EXPECT_EQ(sheet["Filename"], sheet["Name"]);
            EXPECT_EQ(sheet["Creator"], o.creator);
            EXPECT_EQ(sheet["Filetype"], o.type);
            EXPECT_EQ(sheet["Data fork"], std::to_string(o.dataSize));
            EXPECT_EQ(sheet["Resource fork"], std::to_string(o.rsrcSize));
            expectDateAsHlsShowsIt(sheet["Creation Date"], o.created);
            expectDateAsHlsShowsIt(sheet["Last Mod. Date"], o.modified);
            if (const auto d = fixedDates.find(o.name); d != fixedDates.end()) {
                EXPECT_EQ(sheet["Creation Date"], d->second.first);
                EXPECT_EQ(sheet["Last Mod. Date"], d->second.second);
                ++dated;
            }
            EXPECT_EQ(sheet["File #"], std::to_string(o.catalogId));
            // Only the three extents of the catalog record, as the dialog shows them.
            const test::CatalogRecord rec = img.lookup(pathPrefix + ":" + o.name);
            EXPECT_EQ(sheet["Data extents"], extentsText(img.forkExtents(rec, test::Fork::Data), sectorsPerBlock));
            EXPECT_EQ(sheet["Ressource extents"],
                      extentsText(img.forkExtents(rec, test::Fork::Resource), sectorsPerBlock));
        }
    }
    EXPECT_EQ(dated, fixedDates.size());
}

TEST(Cli, AttribFindsTheFileAsTypedAndNamesWhatIsNotThere) {
    const std::string image = test::fixturePath("basic.hfs");
    const auto r = runCli({image, "ATTRIB e*", "a puzzle", "ATTRIB *", "ATTRIB Docs", "ATTRIB \"No Such File\"",
                           "ATTRIB", "CD Docs", "ATTRIB read*", "ATTRIB Puzzle"});
    // A name that is not there, a folder and a missing name are said, and the run goes on.
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(r.err,
              "Quarry - : No such file: Docs\n"
              "Quarry - : No such file: No Such File\n"
              "Quarry - : usage: ATTRIB name\n"
              "Quarry - : No such file: Puzzle\n");
    const auto sheets = attributeSheets(r.out);
    ASSERT_EQ(sheets.size(), 4u) << r.out;
    // "e*" is the first file in catalog order whose name begins with e (Either/Or, before Empty
    // File); the case of a typed name does not matter; "*" is the first file of the folder.
    auto idOf = [&](const char* path) {
        const auto o = test::hlsList(image, path);
        return o.size() == 1 ? std::to_string(o.front().catalogId) : std::string("?");
    };
    EXPECT_EQ(sheets[0].at("Name"), "Either/Or");
    EXPECT_EQ(sheets[0].at("File #"), idOf(":Either/Or"));
    EXPECT_EQ(sheets[1].at("Name"), "Puzzle");
    EXPECT_EQ(sheets[2].at("Name"), "aardvark");
    // In Docs, "read*" is Docs' own Read Me, not the root's.
    EXPECT_EQ(sheets[3].at("Name"), "Read Me");
    EXPECT_EQ(sheets[3].at("File #"), idOf(":Docs:Read Me"));
    EXPECT_NE(sheets[3].at("File #"), idOf(":Read Me"));
}

TEST(Cli, WordsItCannotCarryOutAreSaidAndTheRunGoesOn) {
    struct Case {
        const char* line;
        const char* message;  // after "Quarry - : "; nullptr: nothing is said
    };
    const Case cases[] = {
        // Dialogs and the help viewer of the desktop program; abbreviations name their word.
        {"HELP", "HELP needs the desktop program"},      {"?", "HELP needs the desktop program"},
        {"l", "LOG needs the desktop program"},          {"OPTIONS", "OPTIONS needs the desktop program"},
        {"opt short", "OPTIONS needs the desktop program"},
        // The list's selection: with a name both run.
        {"CD", "CD without a name needs the desktop program"},
        {"CD \"\"", "CD without a name needs the desktop program"},
        {"COPY", "COPY without a name needs the desktop program"},
        {"C /B", "COPY without a name needs the desktop program"},
        {"ATTRIB", "usage: ATTRIB name"},
        // Accepted and ignored by the desktop program too.
        {"TYPE Manual", "TYPE does nothing in either program"}, {"CLS", "CLS does nothing in either program"},
        {"VERIFY", "VERIFY does nothing in either program"},    {"NEXT", "NEXT does nothing in either program"},
        {"LOC", "LOCK does nothing in either program"},         {"UNLOCK", "UNLOCK does nothing in either program"},
        {"MODE", "MODE does nothing in either program"},        {"REP", "REP does nothing in either program"},
        {"SWAP", "usage: SWAP name"}, {"REN Manual", "usage: REN old new"}, {"rd", "usage: RD name"},
        {"XYZZY /B", "Not a command: XYZZY"}, {"/R", "Not a command: /R"}, {"", nullptr}, {"   ", nullptr},
    };
    test::TempDir target;
    std::vector<std::string> args = {"--to", target.path(), test::fixturePath("basic.hfs"), "CD Docs"};
    std::string expected;
    for (const Case& c : cases) {
        args.push_back(c.line);
        if (c.message) expected += std::string("Quarry - : ") + c.message + "\n";
    }
    args.push_back("DIR");
    const auto r = runCli(args);
    // The words that are no command fail the run; the others do not (VolumeChanges tests HELP).
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, expected);
    // LOG did not mount the volume again and CD did not move: the run ends in Docs. Nothing was
    // copied and no sheet printed.
    EXPECT_EQ(firstFields(r.out), (Strings{"Manual", "Old Drafts", "Read Me"})) << r.out;
    EXPECT_TRUE(std::filesystem::is_empty(target.path()));
}

TEST(Cli, ReadsLinesFromStandardInput) {
    const auto r = test::runCliWithInput({test::fixturePath("basic.hfs")}, "CD Docs\r\nDIR\n\nQUIT\nDIR\n");
    // QUIT is refused without --yes, so the last DIR runs too.
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(lines(r.out).size(), 6u) << r.out;
    EXPECT_NE(r.err.find("Do you really want to quit? [No]"), std::string::npos) << r.err;

    const auto yes = test::runCliWithInput({"--yes", test::fixturePath("basic.hfs")}, "CD Docs\nQUIT\nDIR\n");
    ASSERT_TRUE(yes.succeeded()) << yes.err;
    EXPECT_EQ(yes.out, "");
}

TEST(Cli, BadSourcesEndWithAMessageAndStatusOne) {
    struct Case {
        std::string source;
        const char* message;
    };
    test::TempDir dir;
    const Case cases[] = {
        {dir.file("missing.iso"), "cannot open"},
        {dir.path(), "is a directory"},
        {test::fixturePath("empty.img"), "This media can't be read."},
        {test::fixturePath("random.img"), "This CD-ROM is not a Macintosh HFS volume."},
        {test::fixturePath("plain.iso"), "This CD-ROM is not a Macintosh HFS volume."},
        {test::fixturePath("msdos.img"), "This is a MS-DOS formatted volume."},
        // A boot record whose byte 29 is 0 (no hidden sectors, as on a floppy) does not count as
        // MS-DOS: the medium is simply not HFS.
        {test::fixturePath("msdos-floppy.img"), "This CD-ROM is not a Macintosh HFS volume."},
        // What lies past the end of an image cut short cannot be read: here, most of the catalog.
        {test::fixturePath("truncated.hfs"), "; the image ends at byte 16384, before the end of its volume at byte 1473536: what lies beyond cannot be read."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const auto r = runCli({c.source, "DIR", "CD Docs", "DIR"});
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.rfind("Quarry - : ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// --quiet drops the "Copy of ... to ..." lines, --verbose keeps them; standard error, not a
// terminal here, gets no progress line either way.
TEST(Cli, QuietAndVerboseCopies) {
    struct Case {
        Strings options;
        size_t copyLines;
    };
    const Case cases[] = {{{}, 2}, {{"--quiet"}, 0}, {{"--verbose"}, 2}, {{"--verbose", "--quiet"}, 0}, {{"--quiet", "--verbose"}, 2}};
    for (const Case& c : cases) {
        test::TempDir dir;
        Strings args = c.options;
        args.insert(args.end(), {"--to", dir.path(), test::fixturePath("basic.hfs"), "COPY \"Big Forks\"", "COPY Puzzle"});
        const auto r = runCli(args);
        const Strings out = lines(r.out);
        SCOPED_TRACE(testing::PrintToString(c.options));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(static_cast<size_t>(std::count_if(out.begin(), out.end(), [](const std::string& l) { return l.rfind("Copy of", 0) == 0; })), c.copyLines) << r.out;
        EXPECT_EQ(std::filesystem::file_size(dir.file("Big Forks.txt")), 5000u);
    }
}

TEST(Cli, UsageErrorsEndWithStatusTwo) {
    EXPECT_EQ(runCli({}).exitCode, 2);
    EXPECT_EQ(runCli({"--bogus", test::fixturePath("basic.hfs")}).exitCode, 2);
    const auto format = runCli({"--binary-format", "mb4", test::fixturePath("basic.hfs"), "DIR"});
    EXPECT_EQ(format.exitCode, 2);
    EXPECT_NE(format.err.find("--binary-format takes mb1, mb2, mb3, appledouble, applesingle or binhex"), std::string::npos) << format.err;
    for (const Strings& args : {Strings{"--json", "IMAGE", "DIR"}, Strings{"--hash", "IMAGE"}, Strings{"--dfxml", "out.xml", "--check", "IMAGE"},
                                Strings{"--json", "--dfxml", "out.xml", "IMAGE"}, Strings{"--dfxml"}}) {
        Strings withImage = args;
        std::replace(withImage.begin(), withImage.end(), std::string("IMAGE"), test::fixturePath("basic.hfs"));
        EXPECT_EQ(runCli(withImage).exitCode, 2) << withImage[0] << " " << withImage[1];
    }
    const auto help = runCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: quarry-cli"), std::string::npos);
}

}  // namespace
}  // namespace quarry
