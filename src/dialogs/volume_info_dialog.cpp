#include "dialogs/volume_info_dialog.h"

#include "common/ui_port.h"
#include "app/dialog_controls.h"

namespace quarry {

std::optional<int> VolumeInfoDialogPress(UiPort& ui, int control) {
    switch (control) {
        case dlg::kOk:
        case dlg::kEnter: return 1;
        case dlg::kSystemClose: return 0;
        case dlg::kHelp: ui.openHelp("dlg_INFO"); break;
        default: break;
    }
    return std::nullopt;
}

}  // namespace quarry
