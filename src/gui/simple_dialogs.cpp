#include "gui/simple_dialogs.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>

#include "app/session.h"
#include "commands/command_line.h"
#include "common/text.h"
#include "dialogs/volume_info.h"
#include "gui/qt_ui.h"

namespace quarry::gui {
namespace {

constexpr int kDriveList = 999;
constexpr int kQuitText = 510;
constexpr int kQuitAbout = 508;

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QWidget* b : buttons) row->addWidget(b);
    return row;
}

}  // namespace

DriveDialog::DriveDialog(QWidget* owner, QtUi& ui, const std::vector<std::string>& entries)
    : QuarryDialog(owner, "DLG_CD", tr("Select CD-ROM Drive"), ui), entries_(entries) {
    list_ = numbered(new QComboBox(this), kDriveList);
    // The list shows its entries sorted; the choice is mapped back to the scan's order.
    std::vector<std::string> sorted = entries;
    std::sort(sorted.begin(), sorted.end());
    for (const std::string& e : sorted) list_->addItem(toQt(e));
    list_->setCurrentIndex(0);
    QPushButton* ok = addButton(kOk, tr("OK"));
    ok->setDefault(true);
    QPushButton* cancel = addButton(kCancel, tr("Cancel"));
    connect(ok, &QPushButton::clicked, this, [this] {
        const std::string text = list_->currentText().toStdString();
        auto it = std::find(entries_.begin(), entries_.end(), text);
        chosen_ = it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
        done(chosen_ >= 0 ? 1 : 0);
    });
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttonRow({ok, cancel, helpButton()}));
}

VolumeInfoDialog::VolumeInfoDialog(QWidget* owner, QtUi& ui, const Session& session)
    : QuarryDialog(owner, "DLG_INFO", tr("Informations about the Macintosh volume"), ui) {
    auto* form = new QFormLayout;
    for (const VolumeInfoValue& v : VolumeInfoValues(session)) {
        auto* value = numbered(new QLabel(QString::number(v.value), this), v.control);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        form->addRow(tr(v.label), value);
    }
    QPushButton* ok = addButton(kOk, tr("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(1); });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttonRow({ok, helpButton()}));
}

void VolumeInfoDialog::keyPressEvent(QKeyEvent* event) {
    // The sheet has no Cancel: Esc leaves it open.
    if (event->key() == Qt::Key_Escape) return;
    QuarryDialog::keyPressEvent(event);
}

QuitDialog::QuitDialog(QWidget* owner, QtUi& ui) : QuarryDialog(owner, "DLG_QUIT", tr("Exit Program"), ui) {
    auto* question = numbered(new QLabel(tr("Do you really want to quit?"), this), kQuitText);
    auto* about = numbered(new QLabel(tr("Quarry\nGets files off classic Macintosh volumes.\nRelease 0.1"), this), kQuitAbout);
    QPushButton* yes = addButton(kYes, tr("Yes"));
    yes->setDefault(true);
    QPushButton* no = addButton(kNo, tr("No"));
    connect(yes, &QPushButton::clicked, this, [this] { done(1); });
    connect(no, &QPushButton::clicked, this, [this] { done(0); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(about);
    layout->addLayout(buttonRow({yes, no, helpButton()}));
}

CommandLineDialog::CommandLineDialog(QWidget* owner, QtUi& ui, Session& session)
    : QuarryDialog(owner, "DLG_COMM", tr("Command line"), ui) {
    edit_ = numbered(new QLineEdit(this), kEdit);
    edit_->setMaxLength(static_cast<int>(kCommandTextMax));
    edit_->setMinimumWidth(360);
    QPushButton* execute = addButton(kExecute, tr("Execute"));
    execute->setDefault(true);
    QPushButton* cancel = addButton(kCancel, tr("Cancel"));
    connect(execute, &QPushButton::clicked, this, [this, &session] {
        ExecuteCommandText(session, utf8ToAnsi(edit_->text().toStdString()));
        done(1);
    });
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edit_);
    layout->addLayout(buttonRow({execute, cancel, helpButton()}));
}

}  // namespace quarry::gui
