#pragma once
// What the dialog models share: the numbers of the controls that every dialog has, the numbers
// that stand for the keyboard and for the window's close box, and how an edit field is cut.
//
// A model's press(control) returns the dialog's result when the press ends the dialog, and
// nothing when the dialog stays open; the front end only binds its widgets to these numbers.

#include <cstddef>
#include <string>
#include <string_view>

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

// The first count characters of a UTF-8 edit text. Fields are limited in characters, as a
// person counts them, so a multi-byte character is never cut in half.
std::string LeadingCharacters(std::string_view utf8, size_t count);

}  // namespace quarry::dlg
