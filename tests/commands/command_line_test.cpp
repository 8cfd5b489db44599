// Parsing the command language: words, abbreviations, switches and arguments.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/command_ids.h"
#include "app/session.h"
#include "app/settings.h"
#include "commands/command_line.h"
#include "copy/copy_engine.h"
#include "dialogs/working_directory.h"
#include "app/navigation.h"
#include "support/fixture_path.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

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

TEST(DispatchCommand, EachWordPostsItsCommandsInOrderOrActsItself) {
    using namespace command;
    struct Case {
        const char* line;
        const char* word;          // the table's word for the line's code
        std::vector<int> posted;   // in order
        const char* folderAfter;   // the current folder's name afterwards; every line starts in Docs
        int beeps = 0;
        std::vector<std::pair<int, bool>> menuChecks = {};
        size_t filesCopied = 0;
        // The result of a copy by pattern; kDone (0) too when none ran.
        uint16_t copyResult = copyresult::kDone;
    };
    const Case cases[] = {
        // COPY without a name copies the selection in the current copy mode, which it posts
        // first so that the menu's check marks follow the switches.
        {"COPY", "COPY", {kDataForkMode, kCopyToPc}, "Docs"},
        {"COPY /R", "COPY", {kResourceForkMode, kCopyToPc}, "Docs"},
        {"c /b", "COPY", {kMacBinaryMode, kCopyToPc}, "Docs"},
        {"COPY /B /D", "COPY", {kDataForkMode, kCopyToPc}, "Docs"},
        {"COPY Manual", "COPY", {}, "Docs", 0, {}, 1},
        {"COPY Nowhere", "COPY", {}, "Docs", 0, {}, 0, copyresult::kNothing},
        {"CD", "CD", {kOpenFolder}, "Docs"},
        {"CD old*", "CD", {}, "Old Drafts"},
        {"CD Nowhere", "CD", {}, "Docs", 1},
        {"CD ..", "CD ..", {}, "Root  "},
        {"CD \\", "CD \\", {}, "Root  "},
        {"DIR", "DIR", {}, "Docs", 0, {{kExtendedListing, false}}},
        {"DIR /E M*", "DIR", {}, "Docs", 0, {{kExtendedListing, true}}},
        {"HELP", "HELP", {kHelpIndex}, "Docs"},
        {"?", "HELP", {kHelpIndex}, "Docs"},
        {"QUIT", "QUIT", {kExit}, "Docs"},
        {"LOG", "LOG", {kSelectDrive}, "Docs"},
        // ATTRIB shows the selection; a name on the line is not used.
        {"ATTRIB", "ATTRIB", {kAttributes}, "Docs"},
        {"ATTRIB Manual", "ATTRIB", {kAttributes}, "Docs"},
        {"OPTIONS", "OPTIONS", {kFileNaming}, "Docs"},
        {"INFO", "INFO", {kVolumeInfo}, "Docs"},
        // Words that do nothing at all, with an argument or without.
        {"TYPE Manual", "TYPE", {}, "Docs"},
        {"CLS", "CLS", {}, "Docs"},
        {"VERIFY", "VERIFY", {}, "Docs"},
        {"NEXT", "NEXT", {}, "Docs"},
        {"LOCK Manual", "LOCK", {}, "Docs"},
        {"UNLOCK", "UNLOCK", {}, "Docs"},
        {"MODE", "MODE", {}, "Docs"},
        {"REP", "REP", {}, "Docs"},
        // SWAP without a name does nothing either; an unknown word is never dispatched, and does
        // nothing when it is.
        {"SWAP", "SWAP", {}, "Docs"},
        {"XYZZY", nullptr, {}, "Docs"},
    };
    test::WorkingDirectoryGuard guard;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        // Copies land in a directory of their own.
        test::TempDir target;
        std::filesystem::current_path(target.path());
        test::MountedImage m(test::fixturePath("basic.hfs"));
        ASSERT_EQ(m.mountResult, 1);
        ASSERT_TRUE(enterDirectory(m.session, "Docs"));
        m.ui.menuChecks.clear();

        const ParsedCommand parsed = ParseCommandLine(m.session.settings, c.line);
        const char* word = CommandWordText(parsed.code);
        EXPECT_EQ(word ? std::string(word) : "(none)", c.word ? std::string(c.word) : "(none)");
        EXPECT_EQ(DispatchCommand(m.session, parsed), 1);
        EXPECT_EQ(m.ui.postedCommands, c.posted);
        EXPECT_EQ(m.session.dir.currentName, c.folderAfter);
        EXPECT_EQ(m.ui.beeps, c.beeps);
        EXPECT_EQ(m.ui.menuChecks, c.menuChecks);
        EXPECT_EQ(m.session.copy.lastResult, c.copyResult);
        const auto copied = std::filesystem::directory_iterator(target.path());
        EXPECT_EQ(static_cast<size_t>(std::distance(begin(copied), end(copied))), c.filesCopied);
        // The dispatcher asks nothing and reports through the operations it calls only.
        EXPECT_TRUE(m.ui.questions.empty());
        EXPECT_TRUE(m.ui.messageBoxes.empty());
        EXPECT_TRUE(m.ui.timedMessages.empty());
        EXPECT_TRUE(m.ui.fatalErrors.empty());
    }
}

TEST(MacNameFromInput, TrimsAndTranslates) {
    EXPECT_EQ(MacNameFromInput("Docs   "), "Docs");
    EXPECT_EQ(MacNameFromInput("Tr\xE8s"), "Tr\x8F" "s");  // è in Windows-1252 is 0x8F on the Macintosh
    EXPECT_EQ(MacNameFromInput("a:b"), "a");               // the colon ends a Macintosh name
}

}  // namespace
}  // namespace quarry
