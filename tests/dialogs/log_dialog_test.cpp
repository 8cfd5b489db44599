// The log dialog creating, opening and closing real log files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/dialog_controls.h"
#include "app/session.h"
#include "copy/manifest.h"
#include "dialogs/log_dialog.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

// The log's name is relative to the current directory, as the target chooser leaves it.
class LogDialogTest : public ::testing::Test {
protected:
    LogDialogTest() : session(ui) {}
    ~LogDialogTest() override {
        CloseLogFile(session.log);
        (void)session.copy.manifest.close();
    }

    std::string contents(const std::string& name) { return test::slurp(dir.file(name)); }

    test::CurrentTempDir dir;
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
        // Create, were it pressed while the log is open, keeps the log as it is.
        EXPECT_EQ(model.press(logdlg::kCreate), std::nullopt);
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
    // Open makes a file that is missing; Create takes the field without Enter.
    for (int control : {logdlg::kOpen, logdlg::kCreate}) {
        LogFileDialogModel model(session);
        const std::string name = control == logdlg::kOpen ? "new.log" : "typed.log";
        model.setNameText(name);
        EXPECT_EQ(model.press(control), std::nullopt);
        EXPECT_EQ(session.log.name, name);
        EXPECT_TRUE(fs::exists(dir.file(name)));
        model.press(logdlg::kClose);
    }
    EXPECT_FALSE(fs::exists(dir.file(kDefaultLogFileName)));
}

TEST_F(LogDialogTest, TheNameFieldTakesTwelveCharacters) {
    const std::pair<const char*, const char*> cases[] = {
        {"journal1.log", "journal1.log"},
        {"", "journal1.log"},  // an empty field keeps the name the log had
        {"journal2.logfile", "journal2.log"},
        {"\xC3\xA9t\xC3\xA9-1996.log!", "\xC3\xA9t\xC3\xA9-1996.log"},  // été: 3 characters, 5 bytes
    };
    LogFileDialogModel model(session);
    for (const auto& [typed, name] : cases) {
        SCOPED_TRACE(typed);
        model.setNameText(typed);
        EXPECT_EQ(model.press(dlg::kEnter), std::nullopt);
        EXPECT_EQ(session.log.name, name);
        EXPECT_EQ(model.nameText(), name);
    }
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

TEST_F(LogDialogTest, TheManifestBoxKeepsAManifestBesideTheLog) {
    const std::pair<const char*, const char*> names[] = {
        {"quarryrm.log", "quarryrm.sha256"}, {"journal", "journal.sha256"}, {"run.sha256", "run.sha256.sha256"},
        {"logs.d/run", "logs.d/run.sha256"}, {".log", ".log.sha256"}};
    for (const auto& [log, manifest] : names) EXPECT_EQ(ManifestNameForLog(log), manifest) << log;

    // (The box's state before and after Create, which a person cannot change while the log is
    // open: the desktop's log dialog in tests/gui.)
    LogFileDialogModel model(session);
    model.press(logdlg::kManifest);
    // A person's file where the manifest would go: refused with a message, and no log either.
    std::ofstream(dir.file("quarryrm.sha256")) << "shopping list\n";
    EXPECT_EQ(model.press(logdlg::kCreate), std::nullopt);
    EXPECT_FALSE(session.log.isOpen());
    EXPECT_FALSE(fs::exists(dir.file("quarryrm.log")));
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0], "quarryrm.sha256 is not a checksum manifest: it is left as it is, and nothing is copied");
    EXPECT_EQ(contents("quarryrm.sha256"), "shopping list\n");

    fs::remove(dir.file("quarryrm.sha256"));
    EXPECT_EQ(model.press(logdlg::kCreate), std::nullopt);
    ASSERT_TRUE(session.log.isOpen());
    ASSERT_TRUE(session.copy.manifest.isOpen());
    std::ofstream(dir.file("copied.txt")) << "bytes";
    ASSERT_TRUE(session.copy.manifest.add(dir.file("copied.txt"), "copied.txt"));
    // Close writes the closing record, which names the manifest, and closes both.
    model.press(logdlg::kClose);
    EXPECT_FALSE(session.log.isOpen());
    EXPECT_FALSE(session.copy.manifest.isOpen());
    EXPECT_TRUE(model.manifestEnabled());
    const std::string log = contents("quarryrm.log");
    EXPECT_EQ(log.substr(0, 1), "<");
    EXPECT_EQ(log.substr(log.size() - 36), " - manifest quarryrm.sha256: 1 file\n") << log;
    EXPECT_EQ(contents("quarryrm.sha256"), "277089d91c0bdf4f2e6862ba7e4a07605119431f5d13f726dd352b06f1b206a9  copied.txt\n");
}

}  // namespace
}  // namespace quarry
