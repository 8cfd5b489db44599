#include "dialogs/command_line_dialog.h"

#include "app/navigation.h"
#include "app/session.h"
#include "commands/command_line.h"
#include "common/text.h"
#include "app/dialog_controls.h"

namespace quarry {

std::optional<int> CommandLineDialogPress(Session& session, int control, std::string_view utf8Text) {
    switch (control) {
        case commanddlg::kExecute:
        case dlg::kEnter:
            // The command language works in the program's Windows character set, or in UTF-8 on
            // a volume whose names are Unicode; the field is cut in characters before any
            // conversion, so no character is split.
            ExecuteCommandText(session, TypedText(session, leadingCharacters(utf8Text, commanddlg::kFieldLength)));
            return 1;
        case dlg::kCancel:
        case dlg::kEscape:
        case dlg::kSystemClose: return 0;
        case dlg::kHelp: session.ui.openHelp("dlg_COMM"); break;
        default: break;
    }
    return std::nullopt;
}

}  // namespace quarry
