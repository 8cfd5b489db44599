#pragma once
// The name dialogs: the rename layout (old name 516, new name 502) used for the name of a copy
// on the PC ("File name on the DOS volume").

#include "gui/dialog_base.h"

class QLineEdit;

namespace quarry::gui {

class PcNameDialog : public QuarryDialog {
    Q_OBJECT
public:
    static constexpr int kOldName = 516;
    static constexpr int kNewName = 502;

    PcNameDialog(QWidget* owner, QtUi& ui, const QString& name);
    QString name() const { return name_; }

private:
    QLineEdit* edit_;
    QString name_;
};

}  // namespace quarry::gui
