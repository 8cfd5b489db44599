// Symbolic links of an HFS+ volume copied to the PC: one that stays inside the copy's target is
// made a link there; one that could lead out of it never is, and becomes a file holding its path.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "copy/copy_engine.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

TEST(SymbolicLinkCopy, InsideMadeALinkOutsideAFileOfItsPath) {
    test::TempDir dir;
    const auto r = test::runCli({"--to", dir.path(), test::fixturePath("hfsplus/links.hfsp"), "COPY *"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    const fs::path link = fs::path(dir.path()) / "Link to Report";
    ASSERT_TRUE(fs::is_symlink(link)) << r.err;
    EXPECT_EQ(fs::read_symlink(link), "Documents/Report.txt");
    // Through the link, the copy of the file it names.
    EXPECT_EQ(test::slurp(link.string()).size(), 2500u);
    EXPECT_EQ(test::slurp(link.string()), test::slurp(dir.path() + "/Documents/Report.txt"));

    // A file, so it takes its type's extension.
    const fs::path dangling = fs::path(dir.path()) / "Dangling.txt";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dangling)));
    EXPECT_EQ(test::slurp(dangling.string()), "/nowhere/at all");
    EXPECT_NE(r.err.find("Symbolic link \"Dangling\" leads outside the copy, to \"/nowhere/at all\": it is copied as a "
                         "file holding that path."),
              std::string::npos)
        << r.err;
}

TEST(SymbolicLinkCopy, WhichTargetsStayInside) {
    struct Case {
        std::string target;
        size_t depth;
        bool inside;
    };
    const Case cases[] = {
        {"Documents/Report.txt", 0, true}, {"./a/./b/", 0, true}, {".", 0, true}, {"../x", 1, true},
        {"../../x", 2, true},              {"./../x", 1, true},
        // Absolute, empty, above the target, or through a NUL the PC would cut the path at.
        {"/etc/passwd", 3, false}, {"", 1, false}, {"../x", 0, false}, {"../../x", 1, false},
        {std::string("a\0/../../x", 10), 3, false}, {std::string(4096, 'a'), 0, false},
        // A ".." after a name: that name could itself be a link leading elsewhere.
        {"a/../b", 1, false}, {"a/..", 2, false}, {"./a/../../x", 3, false}};
    for (const Case& c : cases)
        EXPECT_EQ(SymbolicLinkStaysInside(c.target, c.depth), c.inside) << '"' << c.target << "\" at depth " << c.depth;
}

}  // namespace
}  // namespace quarry
