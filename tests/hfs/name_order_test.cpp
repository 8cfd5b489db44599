// Macintosh name order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hfs/byte_order.h"
#include "hfs/name_order.h"

namespace quarry {
namespace {

int sign(int v) { return (v > 0) - (v < 0); }

std::vector<uint8_t> key(uint32_t parent, const std::string& name) {
    std::vector<uint8_t> k(7 + name.size());
    k[0] = static_cast<uint8_t>(6 + name.size());
    storeBE32(k.data() + 2, parent);
    k[6] = static_cast<uint8_t>(name.size());
    for (size_t i = 0; i < name.size(); ++i) k[7 + i] = static_cast<uint8_t>(name[i]);
    return k;
}

TEST(NameOrder, ComparesByWeight) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"readme", "README", 0},           // case does not matter
        {"Read Me", "read me", 0},
        {"e", "\x8E", -1},                 // é sorts after e ...
        {"\x8E", "f", -1},                 // ... and before f
        {"A", "\x80", -1},                 // Ä after A
        {"\x80", "B", -1},
        {"abc", "abcd", -1},               // a prefix sorts first
        {"abcd", "abc", 1},
        {"", "", 0},
        {"", "a", -1},
        {"[x", "(x", 0},                   // [ weighs as (
        {"\"", "\xD2", -1},                // curly quote after the straight one
        {"\xD2", "#", -1},
        {"Zebra", "apple", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(sign(compareNames(c.a, c.b)), c.expected);
    }
}

TEST(NameOrder, RecordNameTrimsSpacesAndHonoursTheStar) {
    struct Case {
        std::string searched;
        std::string stored;
        int expected;
    };
    const Case cases[] = {
        {"Docs   ", "Docs", 0},
        {"Docs", "Docs  ", 0},
        {"do*", "Documents", 0},
        {"DO*", "dog", 0},
        {"do*", "Disk", 1},
        {"do*", "Eve", -1},
        {"*", "anything", 0},
        {"Doc", "Docs", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.searched + " vs " + c.stored);
        std::string s = c.searched;
        auto k = key(2, c.stored);
        EXPECT_EQ(sign(compareRecordName(s, k.data())), c.expected);
    }
    std::string trimmed = "Docs  ";
    auto k = key(2, "Docs");
    compareRecordName(trimmed, k.data());
    EXPECT_EQ(trimmed, "Docs");
}

}  // namespace
}  // namespace quarry
