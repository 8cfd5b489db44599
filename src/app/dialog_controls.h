#pragma once
// What the dialog models share: the numbers of the controls that every dialog has, and the
// numbers that stand for the keyboard and for the window's close box. Edit fields are cut with
// leadingCharacters (common/text.h).
//
// A model's press(control) returns the dialog's result when the press ends the dialog, and
// nothing when the dialog stays open; the front end only binds its widgets to these numbers.

namespace quarry::dlg {

// Enter and Esc arrive as the dialog's "OK" and "Cancel" commands, not as a click of the
// default button, because several dialogs give Enter a meaning of its own.
inline constexpr int kEnter = 1;
inline constexpr int kEscape = 2;
// Close in the window's system menu or its title bar.
inline constexpr int kSystemClose = -1;
inline constexpr int kCancel = 100;
inline constexpr int kOk = 101;
inline constexpr int kHelp = 149;

}  // namespace quarry::dlg
