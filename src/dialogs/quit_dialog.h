#pragma once
// "Exit Program", which asks before the program ends: every close request of the main window
// opens it.

#include <optional>

namespace quarry {

class UiPort;

namespace quitdlg {
inline constexpr int kYes = 128;
inline constexpr int kNo = 129;
inline constexpr int kQuestionText = 510;
inline constexpr const char* kQuestion = "Do you really want to quit?";
}  // namespace quitdlg

// "Exit Program": Yes, OK and Enter (Yes is the default button) end with 1, and the program
// ends; No, Cancel, Esc and the close box end with 0, and it goes on. Help opens "dlg_QUIT".
std::optional<int> QuitDialogPress(UiPort& ui, int control);

}  // namespace quarry
