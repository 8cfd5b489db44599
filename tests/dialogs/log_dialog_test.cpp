// The log dialog creating, opening and closing real log files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/session.h"
#include "app/dialog_controls.h"
#include "dialogs/log_dialog.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"
#include "working_directory.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

// The log's name is relative to the current directory, as the target chooser leaves it.
class LogDialogTest : public ::testing::Test {
protected:
    LogDialogTest() : session(ui) { fs::current_path(dir.path()); }
    ~LogDialogTest() override { CloseLogFile(session.log); }

    std::string contents(const std::string& name) {
        std::ifstream in(dir.file(name), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    struct Enabled {
        bool create, open, close;
        bool operator==(const Enabled&) const = default;
    };
    static Enabled enabled(const LogFileDialogModel& m) { return {m.createEnabled(), m.openEnabled(), m.closeEnabled()}; }

    test::WorkingDirectoryGuard guard;
    test::TempDir dir;
    test::RecordingUi ui;
    Session session;
};

TEST_F(LogDialogTest, OpenAppendsCreateEmpties) {
    std::ofstream(dir.file("old.log"), std::ios::binary) << "*log Old\n";
    {
        LogFileDialogModel model(session);
        model.setNameText("old.log");
        EXPECT_EQ(model.press(dlg::kEnter), std::nullopt);
        EXPECT_EQ(model.press(logdlg::kOpen), std::nullopt);
        ASSERT_TRUE(session.log.isOpen());
        session.log.write("*cd Games\r\n");
        EXPECT_EQ(model.press(logdlg::kClose), std::nullopt);
        EXPECT_FALSE(session.log.isOpen());
    }
    EXPECT_EQ(contents("old.log"), "*log Old\n*cd Games\r\n");
    {
        LogFileDialogModel model(session);
        EXPECT_EQ(model.nameText(), "old.log");
        EXPECT_EQ(model.press(logdlg::kCreate), std::nullopt);
        ASSERT_TRUE(session.log.isOpen());
        EXPECT_EQ(contents("old.log"), "");
        session.log.write("Mac->PC\n");
        EXPECT_EQ(model.press(logdlg::kClose), std::nullopt);
    }
    EXPECT_EQ(contents("old.log"), "Mac->PC\n");
    // Open makes a file that is missing.
    LogFileDialogModel model(session);
    model.setNameText("new.log");
    EXPECT_EQ(model.press(logdlg::kOpen), std::nullopt);
    EXPECT_TRUE(fs::exists(dir.file("new.log")));
}

TEST_F(LogDialogTest, ButtonsAreEnabledByWhetherTheLogIsOpen) {
    const Enabled closed{true, true, false};
    const Enabled open{false, false, true};
    LogFileDialogModel first(session);
    EXPECT_EQ(enabled(first), closed);
    first.press(logdlg::kCreate);
    EXPECT_EQ(enabled(first), open);
    // Every later opening of the dialog finds the log open.
    LogFileDialogModel second(session);
    EXPECT_EQ(enabled(second), open);
    second.press(logdlg::kClose);
    EXPECT_EQ(enabled(second), closed);
    EXPECT_EQ(enabled(LogFileDialogModel(session)), closed);
}

TEST_F(LogDialogTest, EveryWayOutEndsWithZeroAndUndoesNothing) {
    for (int control : {dlg::kOk, dlg::kCancel, dlg::kEscape, dlg::kSystemClose}) {
        SCOPED_TRACE(control);
        LogFileDialogModel model(session);
        const bool wasOpen = session.log.isOpen();
        model.press(wasOpen ? logdlg::kClose : logdlg::kOpen);
        EXPECT_EQ(model.press(control), std::optional<int>(0));
        EXPECT_EQ(session.log.isOpen(), !wasOpen);

        ui.menuChecks.clear();
        FinishLogFileCommand(session);
        EXPECT_EQ(ui.menuChecks, (std::vector<std::pair<int, bool>>{{logdlg::kLogFileItem, !wasOpen}}));
    }
}

TEST_F(LogDialogTest, TheNameFieldTakesTwelveCharacters) {
    struct Case {
        const char* typed;
        const char* name;
    };
    const Case cases[] = {
        {"journal1.log", "journal1.log"},
        {"", "journal1.log"},  // an empty field keeps the name the log had
        {"journal2.logfile", "journal2.log"},
        {"\xC3\xA9t\xC3\xA9-1996.log!", "\xC3\xA9t\xC3\xA9-1996.log"},  // été: 3 characters, 5 bytes
    };
    LogFileDialogModel model(session);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        model.setNameText(c.typed);
        EXPECT_EQ(model.press(dlg::kEnter), std::nullopt);
        EXPECT_EQ(session.log.name, c.name);
        EXPECT_EQ(model.nameText(), c.name);
    }
}

TEST_F(LogDialogTest, CreateTakesTheFieldWithoutEnter) {
    LogFileDialogModel model(session);
    model.setNameText("typed.log");
    model.press(logdlg::kCreate);
    EXPECT_EQ(session.log.name, "typed.log");
    EXPECT_TRUE(fs::exists(dir.file("typed.log")));
    EXPECT_FALSE(fs::exists(dir.file(kDefaultLogFileName)));
}

TEST_F(LogDialogTest, ALogThatCannotBeOpenedEndsTheProgram) {
    LogFileDialogModel model(session);
    model.setNameText("nodir/x.log");
    EXPECT_EQ(model.press(logdlg::kCreate), std::optional<int>(0));
    EXPECT_TRUE(session.ending);
    ASSERT_EQ(ui.fatalErrors.size(), 1u);
    EXPECT_EQ(ui.fatalErrors[0].rfind("Error opening file:nodir/x.log", 0), 0u) << ui.fatalErrors[0];
    EXPECT_FALSE(session.log.isOpen());
}

}  // namespace
}  // namespace quarry
