// The character tables, checked against the C library's own Mac OS Roman and Windows-1252
// converters.

#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>
#include <set>

#include "common/text.h"
#include "common/charset.h"

namespace quarry {
namespace {

std::optional<uint8_t> convertByte(const char* from, const char* to, uint8_t b) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    char in = static_cast<char>(b), out[8] = {};
    char* ip = &in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || sizeof out - ol != 1) return std::nullopt;
    return static_cast<uint8_t>(out[0]);
}

TEST(CharacterTables, AgreeWithTheSystemConvertersWhereBothNameACharacter) {
    // Characters the tables deliberately render by a look-alike: dashes as hyphens, Y-diaeresis
    // as Y, the currency sign, circumflex and tilde accents, quotes and the dotless i.
    const std::set<uint8_t> lookAlikes = {0xD0, 0xD1, 0xD9, 0xDA, 0xDB, 0xF5, 0xF6, 0xF7, 0xFB, 0xFD};
    int compared = 0;
    for (int b = 0x20; b < 0x100; ++b) {
        const uint8_t ours = MacToAnsi[b];
        if (ours == '_' || lookAlikes.count(static_cast<uint8_t>(b))) continue;
        const auto theirs = convertByte("MACINTOSH", "CP1252", static_cast<uint8_t>(b));
        ASSERT_TRUE(theirs.has_value()) << std::hex << b;
        EXPECT_EQ(ours, *theirs) << "Macintosh byte 0x" << std::hex << b;
        ++compared;
    }
    EXPECT_GT(compared, 170);

    // Typed text: every Windows character the table admits reaches its Macintosh twin.
    const std::set<uint8_t> typedLookAlikes = {0x9B, 0xA4, 0xA6, 0xAD, 0xB2, 0xB3, 0xB4, 0xD7, 0xDD, 0xFD, 0xFE};
    for (int a = 0x20; a < 0x100; ++a) {
        const uint8_t ours = AnsiToMac[a];
        if (ours == 0 || typedLookAlikes.count(static_cast<uint8_t>(a))) continue;
        const auto theirs = convertByte("CP1252", "MACINTOSH", static_cast<uint8_t>(a));
        ASSERT_TRUE(theirs.has_value()) << std::hex << a;
        EXPECT_EQ(ours, *theirs) << "Windows byte 0x" << std::hex << a;
    }
}

TEST(CharacterTables, NamesReachTheScreenAsUtf8) {
    EXPECT_EQ(macNameToUtf8("Caf\x8E"), "Caf\xC3\xA9");
    EXPECT_EQ(macNameToUtf8("\x80pfel"), "\xC3\x84pfel");
    // Control characters and the backslash become underscores; MacToAnsi never ends a name.
    EXPECT_EQ(macNameToUtf8(std::string("a\x01" "b\\c", 5)), "a_b_c");
    EXPECT_EQ(utf8ToAnsi("Tr\xC3\xA8s \xE2\x82\xAC"), "Tr\xE8s \x80");
    EXPECT_EQ(ansiToUtf8("\x80\x99"), "\xE2\x82\xAC\xE2\x84\xA2");
    // A character Windows-1252 lacks becomes 0, which ends a typed Macintosh name.
    EXPECT_EQ(utf8ToAnsi("a\xE4\xB8\xADz"), std::string("a\0z", 3));
    EXPECT_EQ(TranslateName(utf8ToAnsi("a\xE4\xB8\xADz"), AnsiToMac), "a");
}

}  // namespace
}  // namespace quarry
