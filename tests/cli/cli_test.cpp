// quarry-cli as scripts use it: its output lines, its messages and its exit status.

#include <gtest/gtest.h>

#include <sstream>

#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::runCli;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

TEST(Cli, DirPrintsOneTabSeparatedLinePerEntry) {
    const std::string image = test::fixturePath("basic.hfs");
    const auto r = runCli({image, "CD Docs", "DIR"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(r.err, "");
    const auto out = lines(r.out);
    const auto oracle = test::hlsList(image, ":Docs");
    ASSERT_EQ(out.size(), oracle.size());
    // Catalog order: Manual, Old Drafts, Read Me.
    const auto manual = fields(out[0]);
    ASSERT_EQ(manual.size(), 6u);
    EXPECT_EQ(manual[0], "Manual");
    EXPECT_EQ(manual[3], "TEXTttxt");
    const auto drafts = fields(out[1]);
    ASSERT_EQ(drafts.size(), 6u);
    EXPECT_EQ(drafts[0], "Old Drafts");
    EXPECT_EQ(drafts[1], "<DIR>");
    EXPECT_EQ(drafts[2], "");
    EXPECT_EQ(drafts[3], "[3]");
    EXPECT_EQ(drafts[4].size(), 14u);
    EXPECT_EQ(fields(out[2])[0], "Read Me");
}

TEST(Cli, NamesAreUtf8AndFixedDatesShowAsStored) {
    const auto r = runCli({test::fixturePath("basic.hfs"), "DIR"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    // Macintosh Roman 0x80 and 0x8E come out as UTF-8 Ä and é.
    EXPECT_NE(r.out.find("\xC3\x84pfel\t12\t0\tTEXTttxt\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Caf\xC3\xA9 Menu\t"), std::string::npos);
    EXPECT_NE(r.out.find("Puzzle\t1200\t1080\tAPPLMACS\t05/17/92 09:30\t11/02/93 14:45\n"), std::string::npos);
    EXPECT_NE(r.out.find("Old Timer\t127\t0\tTEXTttxt\t07/20/65 12:00\t12/31/69 23:59\n"), std::string::npos);
    // The name's own trailing space is kept; only the fields' padding goes.
    EXPECT_NE(r.out.find("Trailing Space \t29\t"), std::string::npos);
}

TEST(Cli, NavigationPatternsAndEmptyLists) {
    const std::string image = test::fixturePath("basic.hfs");
    const auto r = runCli({image, "cd do*", "CD \"Old Drafts\"", "DIR", "CD ..", "DIR D*", "CD \\", "CD \"Empty Folder\"",
                           "DIR", "CD \\", "CD Nowhere", "DIR zzz*"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    // A folder that is not there is named, and the run goes on where it was.
    EXPECT_EQ(r.err, "Quarry - : No such folder: Nowhere\n");
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 6u) << r.out;
    // "cd do*" enters Docs whatever the case; Old Drafts holds three entries.
    EXPECT_EQ(fields(out[0])[0], "Archive");
    EXPECT_EQ(fields(out[1])[0], "Draft 1");
    EXPECT_EQ(fields(out[2])[0], "Draft 2");
    // Back in Docs nothing begins with D; the empty folder and a pattern without match list
    // nothing either.
    EXPECT_EQ(out[3], "[No file]");
    EXPECT_EQ(out[4], "[No file]");
    EXPECT_EQ(out[5], "[No file]");

    // Names whose first characters the catalog sorts away from their byte values; each folder
    // is empty, the root is not.
    const auto names = runCli({test::fixturePath("names-5.hfs"), "CD [older", "DIR", "CD \\", "CD \u00dfolder", "DIR",
                               "CD \\", "CD Tolder", "DIR", "CD ..", "CD Zolder", "DIR"});
    ASSERT_TRUE(names.succeeded()) << names.err;
    EXPECT_EQ(names.err, "");
    EXPECT_EQ(lines(names.out), std::vector<std::string>(4, "[No file]"));
}

TEST(Cli, InfoPrintsTheSheetInItsOrder) {
    const auto r = runCli({test::fixturePath("basic.hfs"), "INFO"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    const auto out = lines(r.out);
    const std::vector<std::string> labels = {
        "Volume Size:", "Free space:", "Number of files:", "Number of folders:", "Next File ID:", "MDB Offset:",
        "Partitions:", "Cluster Size:", "Number of Sectors:", "Extensions Offset:", "Extensions Size (sectors):",
        "Catalog Offset:", "Catalog Size (sectors):"};
    ASSERT_EQ(out.size(), labels.size());
    for (size_t i = 0; i < labels.size(); ++i) EXPECT_EQ(fields(out[i])[0], labels[i]);
    // 2874 blocks of 512 bytes; the MDB in sector 2 of a bare volume.
    EXPECT_EQ(out[0], "Volume Size:\t1471488");
    EXPECT_EQ(out[5], "MDB Offset:\t2");
    EXPECT_EQ(out[7], "Cluster Size:\t512");
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

TEST(Cli, ListsEveryFolderOfAHybridCd) {
    const std::string image = test::fixturePath("hybrid.iso");
    const auto r = runCli({image, "DIR"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(lines(r.out).size(), test::hlsList(image, ":").size());
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
        {test::fixturePath("truncated.hfs"), "This volume is damaged:"},
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

TEST(Cli, UsageErrorsEndWithStatusTwo) {
    EXPECT_EQ(runCli({}).exitCode, 2);
    EXPECT_EQ(runCli({"--bogus", test::fixturePath("basic.hfs")}).exitCode, 2);
    const auto help = runCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: quarry-cli"), std::string::npos);
}

}  // namespace
}  // namespace quarry
