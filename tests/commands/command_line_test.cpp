// Parsing the command language: words, abbreviations, switches and arguments.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/settings.h"
#include "commands/command_line.h"

namespace quarry {
namespace {

struct ParseCase {
    const char* line;
    int code;
    std::optional<std::string> first;
    std::optional<std::string> second;
};

TEST(ParseCommandLine, WordsArgumentsAndTheCdForms) {
    const ParseCase cases[] = {
        {"cd", word::kCd, std::nullopt, std::nullopt},
        {"CD", word::kCd, std::nullopt, std::nullopt},
        {"Cd Docs", word::kCd, "Docs", std::nullopt},
        {"c", word::kCopy, std::nullopt, std::nullopt},
        {"CD..", word::kCdParent, std::nullopt, std::nullopt},
        {"cd ..", word::kCdParent, std::nullopt, std::nullopt},
        {"CD\\", word::kCdRoot, std::nullopt, std::nullopt},
        {"CD ..\\x", word::kCdParent, "x", std::nullopt},
        {"COPY .login", word::kCopy, "login", std::nullopt},
        {"COPY \"Read Me\" C:\\DOCS", word::kCopy, "Read Me", "C:\\DOCS"},
        {"COPY \"Read Me", word::kCopy, "Read Me", std::nullopt},
        {"DIR\tA*", word::kDir, "A*", std::nullopt},
        {"DIR a b c d", word::kDir, "a", "b"},
        {"   INFO", word::kInfo, std::nullopt, std::nullopt},
        {"HELP", word::kHelp, std::nullopt, std::nullopt},
        {"?", word::kHelp, std::nullopt, std::nullopt},
        {"CL", word::kCls, std::nullopt, std::nullopt},
        {"L", word::kLog, std::nullopt, std::nullopt},
        {"LO", word::kLog, std::nullopt, std::nullopt},
        {"LOC", word::kLock, std::nullopt, std::nullopt},
        {"U", word::kUnlock, std::nullopt, std::nullopt},
        {"COPYX", word::kNone, std::nullopt, std::nullopt},
        {"XYZZY", word::kNone, std::nullopt, std::nullopt},
        {"", word::kNone, std::nullopt, std::nullopt},
        {"/B", word::kNone, std::nullopt, std::nullopt},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.line);
        AppSettings settings;
        const ParsedCommand p = ParseCommandLine(settings, c.line);
        EXPECT_EQ(p.code, c.code);
        EXPECT_EQ(p.firstArg, c.first);
        EXPECT_EQ(p.secondArg, c.second);
    }
}

TEST(ParseCommandLine, SwitchesChangeTheSettingsEvenForUnknownWords) {
    AppSettings settings;
    ParseCommandLine(settings, "X /B");
    EXPECT_EQ(settings.optionWord & opt::kCopyModeMask, opt::kCopyMacBinary);
    ParseCommandLine(settings, "X -d");
    EXPECT_EQ(settings.optionWord & opt::kCopyModeMask, opt::kCopyData);
    ParseCommandLine(settings, "DIR /r /A");
    EXPECT_EQ(settings.optionWord & opt::kCopyModeMask, opt::kCopyResource);
    EXPECT_EQ(settings.optionWord & (opt::kExtendedListing | opt::kSignatureListing),
              opt::kExtendedListing | opt::kSignatureListing);
    ParseCommandLine(settings, "DIR /E");
    EXPECT_EQ(settings.optionWord & (opt::kExtendedListing | opt::kSignatureListing), opt::kExtendedListing);
    ParseCommandLine(settings, "DIR /S /F /Q");
    EXPECT_EQ(settings.optionWord & (opt::kExtendedListing | opt::kSignatureListing), 0);
    EXPECT_NE(settings.optionWord & opt::kFilesOnly, 0);
    // A line that starts with a switch has no command word and changes nothing.
    AppSettings untouched;
    ParseCommandLine(untouched, "/B");
    EXPECT_EQ(untouched.optionWord, AppSettings{}.optionWord);
    // A switch character at the very end is ignored.
    EXPECT_EQ(ParseCommandLine(untouched, "DIR /").code, word::kDir);
}

TEST(MacNameFromInput, TrimsAndTranslates) {
    EXPECT_EQ(MacNameFromInput("Docs   "), "Docs");
    EXPECT_EQ(MacNameFromInput("Tr\xE8s"), "Tr\x8F" "s");  // è in Windows-1252 is 0x8F on the Macintosh
    EXPECT_EQ(MacNameFromInput("a:b"), "a");               // the colon ends a Macintosh name
}

}  // namespace
}  // namespace quarry
