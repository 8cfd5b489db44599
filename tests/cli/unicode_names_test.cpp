// Names typed on an HFS+ volume reach it as UTF-8 and match as the Macintosh matches them
// there, case-insensitively by Unicode's case folding: names in any script can be typed.

#include <gtest/gtest.h>

#include <string>

#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using Strings = std::vector<std::string>;

TEST(UnicodeNames, TypedOnHfsPlusInAnyScript) {
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

}  // namespace
}  // namespace quarry
