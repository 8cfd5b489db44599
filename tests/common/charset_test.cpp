// The character tables, checked against the C library's own Mac OS Roman and Windows-1252
// converters.

#include <gtest/gtest.h>
#include <iconv.h>

#include <map>
#include <optional>
#include <set>

#include "common/text.h"
#include "common/charset.h"

namespace quarry {
namespace {

// The one byte the C library's converter makes of byte b, if it makes exactly one.
std::optional<uint8_t> convertByte(const char* from, const char* to, uint8_t b) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    char in = static_cast<char>(b), out[8] = {}, *ip = &in, *op = out;
    size_t il = 1, ol = sizeof out;
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    return r == static_cast<size_t>(-1) || sizeof out - ol != 1 ? std::nullopt : std::optional<uint8_t>(static_cast<uint8_t>(out[0]));
}

TEST(CharacterTables, AgreeWithTheSystemConvertersWhereBothNameACharacter) {
    struct Direction {
        const CharTable& table;
        const char *from, *to;
        uint8_t none;                  // what the table gives for a character it has no twin for
        std::set<uint8_t> lookAlikes;  // rendered by a look-alike on purpose
        int atLeast;
    };
    const Direction directions[] = {
        // Dashes as hyphens, Y-diaeresis as Y, the currency sign, circumflex and tilde accents,
        // quotes and the dotless i.
        {MacToAnsi, "MACINTOSH", "CP1252", '_', {0xD0, 0xD1, 0xD9, 0xDA, 0xDB, 0xF5, 0xF6, 0xF7, 0xFB, 0xFD}, 171},
        // Typed text: every Windows character the table admits reaches its Macintosh twin.
        {AnsiToMac, "CP1252", "MACINTOSH", 0, {0x9B, 0xA4, 0xA6, 0xAD, 0xB2, 0xB3, 0xD7, 0xDD, 0xFD, 0xFE}, 1},
    };
    for (const Direction& d : directions) {
        int compared = 0;
        for (int b = 0x20; b < 0x100; ++b) {
            if (d.table[b] == d.none || d.lookAlikes.count(static_cast<uint8_t>(b))) continue;
            const auto theirs = convertByte(d.from, d.to, static_cast<uint8_t>(b));
            ASSERT_TRUE(theirs.has_value()) << d.from << " byte 0x" << std::hex << b;
            EXPECT_EQ(d.table[b], *theirs) << d.from << " byte 0x" << std::hex << b;
            ++compared;
        }
        EXPECT_GE(compared, d.atLeast) << d.from;
    }
}

// A name the list shows can be typed back: each Macintosh character that MacToAnsi shows as a
// Windows character of its own comes back from that character, through the UTF-8 on the screen.
// Characters shown alike (control characters as "_", dashes as "-") cannot, nor can ":", which
// no Macintosh name holds.
TEST(CharacterTables, EveryNameShownCanBeTypedBack) {
    std::map<uint8_t, int> showing;
    for (int m = 1; m < 0x100; ++m) ++showing[MacToAnsi[m]];
    int checked = 0;
    for (int m = 1; m < 0x100; ++m) {
        if (m == ':' || showing[MacToAnsi[m]] > 1) continue;
        const std::string name(1, static_cast<char>(m));
        EXPECT_EQ(TranslateName(utf8ToAnsi(macNameToUtf8(name)), AnsiToMac), name) << "Macintosh byte 0x" << std::hex << m;
        ++checked;
    }
    EXPECT_GE(checked, 170);
}

// Accented names reach the screen as quarry-cli's listings show them (tests/hfs/volume_test.cpp).
TEST(CharacterTables, NamesReachTheScreenAsUtf8) {
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
