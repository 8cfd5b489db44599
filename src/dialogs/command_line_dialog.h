#pragma once
// "Command line": one line of the command language, executed when the person presses
// Execute or Enter; the dialog then closes. The field is empty at every opening.

#include <cstddef>
#include <optional>
#include <string_view>

namespace quarry {

struct Session;

namespace commanddlg {
inline constexpr int kCommandField = 150;
inline constexpr int kExecute = 153;
// The field takes this many characters.
inline constexpr size_t kFieldLength = 79;
}  // namespace commanddlg

// Execute (153) and Enter run utf8Text (the field) and end with 1, whatever the line held;
// Cancel, Esc and the close box end with 0 and run nothing. Help opens "dlg_COMM".
std::optional<int> CommandLineDialogPress(Session& session, int control, std::string_view utf8Text);

}  // namespace quarry
