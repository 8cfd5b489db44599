// The command language: parsing its words, abbreviations, switches and arguments, what each word
// does, the command-line dialog; and the attribute dialogs' values and presses.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/command_ids.h"
#include "app/session.h"
#include "app/settings.h"
#include "commands/attributes.h"
#include "commands/command_line.h"
#include "copy/copy_engine.h"
#include "dialogs/command_line_dialog.h"
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
    // The option word the line's switches leave behind in fresh settings.
    uint16_t optionWord = opt::kCopyData;
};

TEST(ParseCommandLine, WordsArgumentsSwitchesAndTheCdForms) {
    using namespace opt;
    const std::nullopt_t none = std::nullopt;
    const ParseCase cases[] = {
        {"cd", word::kCd, none, none},           {"CD", word::kCd, none, none},
        {"Cd Docs", word::kCd, "Docs", none},    {"c", word::kCopy, none, none},
        {"CD..", word::kCdParent, none, none},   {"cd ..", word::kCdParent, none, none},
        {"CD\\", word::kCdRoot, none, none},    {"CD ..\\x", word::kCdParent, "x", none},
        {"COPY .login", word::kCopy, "login", none},
        {"COPY \"Read Me\" C:\\DOCS", word::kCopy, "Read Me", "C:\\DOCS"},
        {"COPY \"Read Me", word::kCopy, "Read Me", none},
        // An empty quoted argument holds nothing typed: it is absent, though it takes its slot.
        {"CD \"\"", word::kCd, none, none},    {"COPY \"\" x", word::kCopy, none, "x"},
        {"COPY \"", word::kCopy, none, none},
        {"DIR\tA*", word::kDir, "A*", none},     {"DIR a b c d", word::kDir, "a", "b"},
        {"   INFO", word::kInfo, none, none},    {"HELP", word::kHelp, none, none},
        {"?", word::kHelp, none, none},          {"CL", word::kCls, none, none},
        {"L", word::kLog, none, none},           {"LO", word::kLog, none, none},
        {"LOC", word::kLock, none, none},        {"U", word::kUnlock, none, none},
        {"COPYX", word::kNone, none, none},      {"XYZZY", word::kNone, none, none},
        {"", word::kNone, none, none},
        // Switches change the settings even for unknown words, the last copy mode winning; a
        // line that starts with a switch has no command word and changes nothing; a switch
        // character at the very end is ignored.
        {"X /B", word::kNone, none, none, kCopyMacBinary},
        {"X /B -d", word::kNone, none, none, kCopyData},
        {"DIR /r /A", word::kDir, none, none, kCopyResource | kExtendedListing | kSignatureListing},
        {"DIR /A /E", word::kDir, none, none, kCopyData | kExtendedListing},
        {"DIR /A /S /F /Q", word::kDir, none, none, kCopyData | kFilesOnly},
        {"/B", word::kNone, none, none},         {"DIR /", word::kDir, none, none},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.line);
        AppSettings settings;
        const ParsedCommand p = ParseCommandLine(settings, c.line);
        EXPECT_EQ(p.code, c.code);
        EXPECT_EQ(p.firstArg, c.first);
        EXPECT_EQ(p.secondArg, c.second);
        EXPECT_EQ(settings.optionWord, c.optionWord);
    }
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
        {"COPY", "COPY", {kDataForkMode, kCopyToPc}, "Docs"},    {"COPY /R", "COPY", {kResourceForkMode, kCopyToPc}, "Docs"},
        {"c /b", "COPY", {kMacBinaryMode, kCopyToPc}, "Docs"},   {"COPY /B /D", "COPY", {kDataForkMode, kCopyToPc}, "Docs"},
        {"COPY Manual", "COPY", {}, "Docs", 0, {}, 1},           {"COPY Nowhere", "COPY", {}, "Docs", 0, {}, 0, copyresult::kNothing},
        {"CD", "CD", {kOpenFolder}, "Docs"},                    {"CD old*", "CD", {}, "Old Drafts"},
        {"CD Nowhere", "CD", {}, "Docs", 1},                    {"CD ..", "CD ..", {}, "Root  "},
        {"CD \\", "CD \\", {}, "Root  "},                       {"DIR", "DIR", {}, "Docs", 0, {{kExtendedListing, false}}},
        {"DIR /E M*", "DIR", {}, "Docs", 0, {{kExtendedListing, true}}},
        {"HELP", "HELP", {kHelpIndex}, "Docs"},                 {"?", "HELP", {kHelpIndex}, "Docs"},
        {"QUIT", "QUIT", {kExit}, "Docs"},                      {"LOG", "LOG", {kSelectDrive}, "Docs"},
        // ATTRIB shows the selection; a name on the line is not used.
        {"ATTRIB", "ATTRIB", {kAttributes}, "Docs"},            {"ATTRIB Manual", "ATTRIB", {kAttributes}, "Docs"},
        {"OPTIONS", "OPTIONS", {kFileNaming}, "Docs"},          {"INFO", "INFO", {kVolumeInfo}, "Docs"},
        // Words that do nothing at all, with an argument or without; SWAP without a name too. An
        // unknown word is never dispatched, and does nothing when it is.
        {"TYPE Manual", "TYPE", {}, "Docs"}, {"CLS", "CLS", {}, "Docs"},     {"VERIFY", "VERIFY", {}, "Docs"},
        {"NEXT", "NEXT", {}, "Docs"},        {"LOCK Manual", "LOCK", {}, "Docs"}, {"UNLOCK", "UNLOCK", {}, "Docs"},
        {"MODE", "MODE", {}, "Docs"},        {"REP", "REP", {}, "Docs"},     {"SWAP", "SWAP", {}, "Docs"},
        {"XYZZY", nullptr, {}, "Docs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        test::CurrentTempDir target;  // copies land in a directory of their own
        test::MountedImage m(test::fixturePath("basic.hfs"));
        ASSERT_TRUE(enterDirectory(m.session, "Docs"));
        m.ui.menuChecks.clear();

        const ParsedCommand parsed = ParseCommandLine(m.session.settings, c.line);
        const char* word = CommandWordText(parsed.code);
        EXPECT_EQ(word ? std::string(word) : "(none)", c.word ? std::string(c.word) : "(none)");
        DispatchCommand(m.session, parsed);
        EXPECT_EQ(m.ui.postedCommands, c.posted);
        EXPECT_EQ(m.session.dir.currentName, c.folderAfter);
        EXPECT_EQ(m.ui.beeps, c.beeps);
        EXPECT_EQ(m.ui.menuChecks, c.menuChecks);
        EXPECT_EQ(m.session.copy.lastResult, c.copyResult);
        const auto copied = std::filesystem::directory_iterator(target.path());
        EXPECT_EQ(static_cast<size_t>(std::distance(begin(copied), end(copied))), c.filesCopied);
        // The dispatcher asks nothing and reports through the operations it calls only.
        EXPECT_TRUE(m.ui.questions.empty() && m.ui.messageBoxes.empty() && m.ui.timedMessages.empty() && m.ui.fatalErrors.empty());
    }
}

// The command-line dialog runs the field's first 78 characters, cut in characters before the
// conversion to the Windows character set. A line with an unknown word still applies its
// switch, which shows that it ran.
TEST(CommandLineDialog, ExecuteRunsTheFieldsFirst78Characters) {
    const std::pair<std::string, bool> cases[] = {
        {"x /b", true},
        {"X" + std::string(77, ' ') + "/B", false},           // the switch starts at the 79th character
        {"X\xC3\xA9" + std::string(75, ' ') + "/B", true},    // 79 characters, 80 bytes
        {"", false},
    };
    for (const auto& [text, macBinary] : cases) {
        SCOPED_TRACE(text);
        test::RecordingUi ui;
        Session s(ui);
        EXPECT_EQ(CommandLineDialogPress(s, commanddlg::kExecute, text), std::optional<int>(1));
        EXPECT_EQ((s.settings.optionWord & opt::kCopyMacBinary) != 0, macBinary);
        // Whatever the line held, an executed line refreshes the window.
        EXPECT_EQ(ui.commandStateUpdates, 1);
    }
}

// The attribute sheets' values on real volumes, extents in sectors from the first allocation
// block included, are checked against hls and the test builder through quarry-cli's ATTRIB
// (tests/hfs/listing_oracle_test.cpp) and the desktop dialog (tests/gui); here what the volumes
// cannot show, and which file a name finds.
TEST(FileAttributes, ASignatureEndsAtANul) {
    // A signature of NULs shows nothing; one with a NUL inside ends there.
    VolumeEntry file;
    std::memcpy(file.finderInfo.data() + 4, "AB\0D", 4);
    const FileAttributes a = fileAttributesOf(file);
    EXPECT_EQ(a.type, "");
    EXPECT_EQ(a.creator, "AB");
}

TEST(FileAttributes, ATypedNameIsAPatternAListNameIsExact) {
    const struct {
        const char* name;
        NameMatch match;
        const char* shown;  // nullptr: nothing is shown
    } cases[] = {
        // Typed names, patterns, are checked through quarry-cli's ATTRIB; a pattern finds files only.
        {"Do*", NameMatch::Pattern, nullptr},
        {"Docs", NameMatch::Exact, nullptr},
        // From the list a "*" is part of the name.
        {"Why? [Draft] *", NameMatch::Exact, "Why? [Draft] *"},
        {"Why*", NameMatch::Exact, nullptr},
    };
    test::MountedImage m(test::fixturePath("basic.hfs"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> shown;
        EXPECT_EQ(ShowFileAttributes(m.session, c.name, [&](const VolumeEntry& e) { shown.push_back(e.macName); }, c.match), 0);
        EXPECT_EQ(shown, c.shown ? std::vector<std::string>{c.shown} : std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace quarry
