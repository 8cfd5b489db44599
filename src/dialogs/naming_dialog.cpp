#include "dialogs/naming_dialog.h"

#include "app/session.h"
#include "app/dialog_controls.h"

namespace quarry {

NamingOptionsDialogModel::NamingOptionsDialogModel(Session& session)
    : session_(session), remembered_(session.settings.destinationSetting & 0xFF),
      rememberedFormat_(session.settings.binaryFormat), rememberedMfsFolders_(session.settings.mfsFolders) {}

int NamingOptionsDialogModel::checkedButton() const {
    return namingdlg::kLongNames + (session_.settings.destinationSetting & 0xFF);
}

int NamingOptionsDialogModel::checkedFormatButton() const {
    return namingdlg::kMacBinaryI + static_cast<int>(session_.settings.binaryFormat);
}

bool NamingOptionsDialogModel::mfsFoldersChecked() const { return session_.settings.mfsFolders; }

std::optional<int> NamingOptionsDialogModel::press(int control) {
    AppSettings& settings = session_.settings;
    if (control >= namingdlg::kMacBinaryI && control <= namingdlg::kBinHex) {
        settings.binaryFormat = static_cast<BinaryFormat>(control - namingdlg::kMacBinaryI);
        return std::nullopt;
    }
    switch (control) {
        case namingdlg::kLongNames:
        case namingdlg::kShortNames:
        case namingdlg::kRenameOnTheFly:
            settings.setNamingMode(static_cast<NamingMode>(control - namingdlg::kLongNames));
            break;
        case namingdlg::kMfsFolders: settings.mfsFolders = !settings.mfsFolders; break;
        case dlg::kOk:
        case dlg::kEnter: return 1;
        case dlg::kCancel:
        case dlg::kEscape:
            settings.destinationSetting = static_cast<uint16_t>((settings.destinationSetting & 0xFF00) | remembered_);
            settings.binaryFormat = rememberedFormat_;
            settings.mfsFolders = rememberedMfsFolders_;
            return 0;
        case dlg::kSystemClose: return 0;
        case dlg::kHelp: session_.ui.openHelp("dlg_OPT"); break;
        default: break;
    }
    return std::nullopt;
}

}  // namespace quarry
