// The dialog models: what each press of the naming-options, output-ports and command-line
// dialogs does, and how those and the quit, volume-information and attribute dialogs end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/session.h"
#include "commands/attributes.h"
#include "dialogs/command_line_dialog.h"
#include "app/dialog_controls.h"
#include "dialogs/naming_dialog.h"
#include "dialogs/port_dialog.h"
#include "dialogs/quit_dialog.h"
#include "dialogs/volume_info_dialog.h"
#include "support/recording_ui.h"

namespace quarry {
namespace {

struct PressCase {
    const char* what;
    uint16_t before;           // the destination setting at opening
    std::vector<int> presses;  // the last one ends the dialog
    int result;
    uint16_t after;
};

TEST(NamingOptionsDialog, CancelRestoresTheModeAndNeverThePort) {
    const PressCase cases[] = {
        {"OK keeps", 0x0300, {401, dlg::kOk}, 1, 0x0301},
        {"Enter keeps", 0x0000, {402, dlg::kEnter}, 1, 0x0002},
        {"Cancel restores", 0x0300, {401, 402, dlg::kCancel}, 0, 0x0300},
        {"Esc restores", 0x0501, {400, dlg::kEscape}, 0, 0x0501},
        {"the close box keeps", 0x0300, {402, dlg::kSystemClose}, 0, 0x0302},
    };
    for (const PressCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::RecordingUi ui;
        Session s(ui);
        s.settings.destinationSetting = c.before;
        NamingOptionsDialogModel model(s);
        EXPECT_EQ(model.checkedButton(), 400 + (c.before & 0xFF));
        std::optional<int> result;
        for (int control : c.presses) {
            ASSERT_FALSE(result.has_value());
            result = model.press(control);
        }
        EXPECT_EQ(result, std::optional<int>(c.result));
        EXPECT_EQ(s.settings.destinationSetting, c.after);
    }
}

TEST(NamingOptionsDialog, ARadioButtonTakesEffectAtOnce) {
    test::RecordingUi ui;
    Session s(ui);
    NamingOptionsDialogModel model(s);
    EXPECT_EQ(model.press(namingdlg::kRenameOnTheFly), std::nullopt);
    EXPECT_EQ(s.settings.namingMode(), NamingMode::AskEachFile);
    EXPECT_EQ(model.checkedButton(), namingdlg::kRenameOnTheFly);
    EXPECT_EQ(model.press(dlg::kHelp), std::nullopt);
    EXPECT_EQ(ui.helpKeys, (std::vector<std::string>{"dlg_OPT"}));
}

TEST(OutputPortsDialog, AClickedPortStaysWhateverEndsTheDialog) {
    const PressCase cases[] = {
        {"OK", 0x0001, {502, dlg::kOk}, 1, 0x0201},
        {"Cancel keeps COM2", 0x0001, {505, dlg::kCancel}, 0, 0x0501},
        {"Esc keeps COM4", 0x0002, {501, 507, dlg::kEscape}, 0, 0x0702},
        {"the close box keeps File", 0x0300, {500, dlg::kSystemClose}, 0, 0x0000},
        {"Cancel without a click", 0x0401, {dlg::kCancel}, 0, 0x0401},
    };
    for (const PressCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::RecordingUi ui;
        Session s(ui);
        s.settings.destinationSetting = c.before;
        OutputPortsDialogModel model(s);
        EXPECT_EQ(model.checkedButton(), 500 + (c.before >> 8));
        std::optional<int> result;
        for (int control : c.presses) {
            ASSERT_FALSE(result.has_value());
            result = model.press(control);
            if (!result) {
                EXPECT_EQ(model.checkedButton(), control);
            }
        }
        EXPECT_EQ(result, std::optional<int>(c.result));
        EXPECT_EQ(s.settings.destinationSetting, c.after);
    }
}

// The dialogs whose presses change nothing but how they end: each control that ends the
// dialog, each that leaves it open, and the help key.
TEST(DialogPress, EachControlEndsTheDialogOrLeavesItOpen) {
    using Press = std::optional<int> (*)(UiPort&, int);
    struct Case {
        const char* dialog;
        Press press;
        std::vector<std::pair<int, std::optional<int>>> results;  // control, result
        const char* helpKey;
    };
    const std::optional<int> open;
    const Case cases[] = {
        {"DLG_QUIT",
         QuitDialogPress,
         {{quitdlg::kYes, 1}, {dlg::kOk, 1}, {dlg::kEnter, 1}, {quitdlg::kNo, 0}, {dlg::kCancel, 0}, {dlg::kEscape, 0},
          {dlg::kSystemClose, 0}, {quitdlg::kQuestionText, open}},
         "dlg_QUIT"},
        // The sheet has no Cancel, so Esc does nothing.
        {"DLG_INFO",
         VolumeInfoDialogPress,
         {{dlg::kOk, 1}, {dlg::kEnter, 1}, {dlg::kSystemClose, 0}, {dlg::kEscape, open}, {dlg::kCancel, open}},
         "dlg_INFO"},
        // Write and Identification are disabled; Advanced is shown by the front end.
        {"DLG_ATTR",
         AttributesDialogPress,
         {{attrctl::kQuit, 0}, {dlg::kEnter, 0}, {dlg::kEscape, 0}, {dlg::kSystemClose, 0}, {attrctl::kWrite, open},
          {attrctl::kIdentification, open}, {attrctl::kAdvanced, open}},
         "dlg_ATTR"},
        // Esc ends the second page as OK does; only the close box ends it with 0.
        {"DLG_ATT2",
         AdvancedAttributesDialogPress,
         {{attrctl::kOk, 1}, {dlg::kEnter, 1}, {dlg::kEscape, 1}, {dlg::kSystemClose, 0}},
         "dlg_ATT2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialog);
        test::RecordingUi ui;
        for (const auto& [control, result] : c.results) EXPECT_EQ(c.press(ui, control), result) << control;
        EXPECT_TRUE(ui.helpKeys.empty());
        EXPECT_EQ(c.press(ui, dlg::kHelp), open);
        EXPECT_EQ(ui.helpKeys, std::vector<std::string>{c.helpKey});
    }
}

TEST(CommandLineDialog, ExecuteRunsTheLineAndCancelRunsNothing) {
    // A line with an unknown word still applies its switch; the switch shows that it ran.
    struct Case {
        int control;
        std::string text;
        std::optional<int> result;
        bool macBinary;
    };
    const std::string padded = "X" + std::string(77, ' ') + "/B";  // the switch starts at the 79th character
    const std::string accented = "X\xC3\xA9" + std::string(75, ' ') + "/B";  // 79 characters, 80 bytes
    const Case cases[] = {
        {commanddlg::kExecute, "X /B", 1, true},  {dlg::kEnter, "x /b", 1, true},
        {dlg::kCancel, "X /B", 0, false},          {dlg::kEscape, "X /B", 0, false},
        {dlg::kSystemClose, "X /B", 0, false},     {commanddlg::kExecute, padded, 1, false},
        {commanddlg::kExecute, accented, 1, true}, {commanddlg::kExecute, "", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        SCOPED_TRACE(c.text);
        test::RecordingUi ui;
        Session s(ui);
        EXPECT_EQ(CommandLineDialogPress(s, c.control, c.text), c.result);
        EXPECT_EQ((s.settings.optionWord & opt::kCopyMacBinary) != 0, c.macBinary);
        // Whatever the line held, an executed line refreshes the window.
        EXPECT_EQ(ui.commandStateUpdates, c.result == 1 ? 1 : 0);
    }
}

}  // namespace
}  // namespace quarry
