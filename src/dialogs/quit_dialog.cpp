#include "dialogs/quit_dialog.h"

#include "common/ui_port.h"
#include "app/dialog_controls.h"

namespace quarry {

std::optional<int> QuitDialogPress(UiPort& ui, int control) {
    switch (control) {
        case quitdlg::kYes:
        case dlg::kOk:
        case dlg::kEnter: return 1;
        case quitdlg::kNo:
        case dlg::kCancel:
        case dlg::kEscape:
        case dlg::kSystemClose: return 0;
        case dlg::kHelp: ui.openHelp("dlg_QUIT"); break;
        default: break;
    }
    return std::nullopt;
}

}  // namespace quarry
