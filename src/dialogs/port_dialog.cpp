#include "dialogs/port_dialog.h"

#include "app/session.h"
#include "app/dialog_controls.h"

namespace quarry {

int OutputPortsDialogModel::checkedButton() const { return portdlg::kFile + (session_.settings.destinationSetting >> 8); }

std::optional<int> OutputPortsDialogModel::press(int control) {
    AppSettings& settings = session_.settings;
    if (control >= portdlg::kFile && control <= portdlg::kLastPort) {
        const unsigned port = static_cast<unsigned>(control - portdlg::kFile);
        settings.destinationSetting = static_cast<uint16_t>((settings.destinationSetting & 0x00FF) | (port << 8));
        return std::nullopt;
    }
    switch (control) {
        case dlg::kOk:
        case dlg::kEnter: return 1;
        case dlg::kCancel:
        case dlg::kEscape:
        case dlg::kSystemClose: return 0;
        case dlg::kHelp: session_.ui.openHelp("dlg_PORT"); break;
        default: break;
    }
    return std::nullopt;
}

}  // namespace quarry
