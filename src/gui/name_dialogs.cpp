#include "gui/name_dialogs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace quarry::gui {

RenameDialog::RenameDialog(QWidget* owner, QtUi& ui, const QString& title, const QString& helpKey,
                           const QString& name, int maxLength)
    : QuarryDialog(owner, "DLG_REN", title, ui) {
    setHelpKey(helpKey);
    auto* oldLabel = numbered(new QLabel(tr("Old name"), this), kOldNameLabel);
    auto* old = numbered(new QLabel(name, this), kOldName);
    auto* newLabel = numbered(new QLabel(tr("New name"), this), kNewNameLabel);
    edit_ = numbered(new QLineEdit(name, this), kNewName);
    if (maxLength > 0) edit_->setMaxLength(maxLength);
    newLabel->setBuddy(edit_);
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
    layout->addWidget(oldLabel);
    layout->addWidget(old);
    layout->addWidget(newLabel);
    layout->addWidget(edit_);
    layout->addLayout(row);
}

}  // namespace quarry::gui
