// Which paths of an HFS+ symbolic link stay inside a copy's target, so that the link is made a
// link on the PC; the copies themselves are a row of tests/cli/cli_test.cpp.

#include <gtest/gtest.h>

#include <string>

#include "copy/copy_engine.h"

namespace quarry {
namespace {

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
