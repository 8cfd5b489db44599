#pragma once
// The rename layout (DLG_REN): the old name 516 under "Old name" 511, the new name in edit 502
// under "New name" 512. It asks for the new name of an entry of the volume ("Rename file or
// folder") and for the name of a copy on the PC ("File name on the DOS volume").

#include "gui/dialog_base.h"

class QLineEdit;

namespace quarry::gui {

class RenameDialog : public QuarryDialog {
    Q_OBJECT
public:
    static constexpr int kOldName = 516;
    static constexpr int kNewName = 502;
    static constexpr int kOldNameLabel = 511;
    static constexpr int kNewNameLabel = 512;

    // maxLength 0 leaves the field without a limit.
    RenameDialog(QWidget* owner, QtUi& ui, const QString& title, const QString& helpKey, const QString& name,
                 int maxLength = 0);
    QString name() const { return name_; }

private:
    QLineEdit* edit_;
    QString name_;
};

}  // namespace quarry::gui
