// quarry-cli on HFS+: names typed in any script reach the volume as UTF-8 and match as the
// Macintosh matches them there (by Unicode's case folding), and the advanced sheet shows what
// HFS+ records beyond HFS.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using Strings = std::vector<std::string>;

TEST(HfsPlusCli, TypedOnHfsPlusInAnyScript) {
    test::TempDir dir;
    const auto r = test::runCli({"-q", "--to", dir.path(), test::fixturePath("hfsplus.iso"), "DIR Ελλ*", "CD 日本語", "DIR",
                                 "ATTRIB ファ*", "COPY ファイル.txt", "CD \\", "CD кириллица", "DIR", "COPY ФАЙЛ",
                                 "CD \\", "COPY \"résumé NAÏVE\"", "CD Ελληνικό"});
    ASSERT_EQ(r.err, "Quarry - : No such folder: Ελληνικό\n");
    const Strings names = test::firstFields(r.out);
    // The pattern finds the Greek folder; Japanese and Cyrillic folders open, the latter typed
    // in lower case; each file is found and copied under its own name.
    ASSERT_GE(names.size(), 3u) << r.out;
    // xorriso stores the tonos as U+030D, which no composition takes back.
    EXPECT_EQ(names[0], "Ελληνικα\u030D");
    EXPECT_EQ(names[1], "ファイル.txt");
    EXPECT_NE(r.out.find("ファイル.txt"), std::string::npos);
    EXPECT_EQ(names.back(), "Файл") << r.out;
    EXPECT_EQ(test::slurp(dir.path() + "/ファイル.txt"), "file\n");
    // A name without an extension takes its type's, here the table's first.
    EXPECT_EQ(test::slurp(dir.path() + "/Файл.txt"), "file\n");
    EXPECT_EQ(test::slurp(dir.path() + "/Résumé naïve.txt"), "decomposed\n");
}

// The advanced sheet of an HFS+ file: its eight first extents, its owner, group and mode as
// Sleuth Kit's istat reads them, and a symbolic link's target (in --json too).
TEST(HfsPlusCli, AdvancedSheetOfHfsPlusFiles) {
    const std::string links = test::fixturePath("hfsplus/links.hfsp");
    auto r = test::runCli({links, "ATTRIB \"link to report\""});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_NE(r.out.find("Link to\tDocuments/Report.txt\n"), std::string::npos) << r.out;
    const auto istat = test::runProcess({"istat", "-f", "hfs", links, "18"});
    ASSERT_TRUE(istat.succeeded()) << istat.err;
    std::string owner, group, mode;
    for (const std::string& line : test::outputLines(r.out)) {
        const Strings f = test::tabFields(line);
        if (f.size() == 2 && f[0] == "Owner") owner = f[1];
        if (f.size() == 2 && f[0] == "Group") group = f[1];
        if (f.size() == 2 && f[0] == "Mode") mode = f[1];
    }
    EXPECT_NE(istat.out.find("uid / gid: " + owner + " / " + group + "\n"), std::string::npos) << istat.out << r.out;
    // istat gives the mode as ls does: a link's "l" and its permission bits.
    ASSERT_EQ(mode.size(), 6u);
    const unsigned bits = std::stoul(mode, nullptr, 8);
    std::string ls = (bits & 0170000) == 0120000 ? "l" : "?";
    for (int i = 8; i >= 0; --i) ls += (bits >> i & 1) ? "rwx"[(8 - i) % 3] : '-';
    EXPECT_NE(istat.out.find("Mode:\t" + ls + "\n"), std::string::npos) << istat.out << mode;

    r = test::runCli({"--json", links});
    EXPECT_NE(r.out.find("\"path\":[\"Link to Report\"],\"kind\":\"file\",\"id\":18"), std::string::npos);
    EXPECT_NE(r.out.find("\"link\":\"Documents/Report.txt\""), std::string::npos) << r.out;

    // One block to an extent: the sheet shows eight, as the record holds them.
    r = test::runCli({test::fixturePath("hfsplus/forks.hfsp"), "ATTRIB Fragmented.bin"});
    for (const std::string& line : test::outputLines(r.out)) {
        const Strings f = test::tabFields(line);
        if (f[0] == "Data extents") EXPECT_EQ(std::count(f[1].begin(), f[1].end(), '/'), 8) << f[1];
    }
    EXPECT_NE(r.out.find("Data extents\t"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace quarry
