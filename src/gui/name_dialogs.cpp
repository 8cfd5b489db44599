#include "gui/name_dialogs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace quarry::gui {

PcNameDialog::PcNameDialog(QWidget* owner, QtUi& ui, const QString& name)
    : QuarryDialog(owner, "DLG_REN", tr("File name on the DOS volume"), ui) {
    setHelpKey("dlg_NOMD");
    auto* old = numbered(new QLabel(name, this), kOldName);
    edit_ = numbered(new QLineEdit(name, this), kNewName);
    edit_->setMinimumWidth(280);
    QPushButton* ok = addButton(kOk, tr("OK"));
    ok->setDefault(true);
    QPushButton* cancel = addButton(kCancel, tr("Cancel"));
    connect(ok, &QPushButton::clicked, this, [this] {
        name_ = edit_->text();
        done(1);
    });
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    row->addWidget(helpButton());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(old);
    layout->addWidget(edit_);
    layout->addLayout(row);
}

}  // namespace quarry::gui
