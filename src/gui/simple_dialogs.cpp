#include "gui/simple_dialogs.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>

#include "dialogs/command_line_dialog.h"
#include "dialogs/quit_dialog.h"
#include "dialogs/volume_info.h"
#include "dialogs/volume_info_dialog.h"
#include "gui/qt_ui.h"

namespace quarry::gui {
namespace {

constexpr int kDriveList = 999;
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
    : ModelDialog(owner, "DLG_INFO", tr("Informations about the Macintosh volume"), ui) {
    auto* form = new QFormLayout;
    for (const VolumeInfoValue& v : VolumeInfoValues(session)) {
        auto* value = numbered(new QLabel(QString::number(v.value), this), v.control);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        form->addRow(tr(v.label), value);
    }
    QPushButton* ok = addPressButton(kOk, tr("OK"));
    ok->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttonRow({ok, helpButton()}));
}

std::optional<int> VolumeInfoDialog::pressControl(int control) { return VolumeInfoDialogPress(ui_, control); }

QuitDialog::QuitDialog(QWidget* owner, QtUi& ui) : ModelDialog(owner, "DLG_QUIT", tr("Exit Program"), ui) {
    auto* question = numbered(new QLabel(tr(quitdlg::kQuestion), this), quitdlg::kQuestionText);
    auto* about = numbered(new QLabel(tr("Quarry\nGets files off classic Macintosh volumes.\nRelease 0.1"), this), kQuitAbout);
    QPushButton* yes = addPressButton(quitdlg::kYes, tr("Yes"));
    yes->setDefault(true);
    QPushButton* no = addPressButton(quitdlg::kNo, tr("No"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(about);
    layout->addLayout(buttonRow({yes, no, helpButton()}));
}

std::optional<int> QuitDialog::pressControl(int control) { return QuitDialogPress(ui_, control); }

CommandLineDialog::CommandLineDialog(QWidget* owner, QtUi& ui, Session& session)
    : ModelDialog(owner, "DLG_COMM", tr("Command line"), ui), session_(session) {
    edit_ = numbered(new QLineEdit(this), commanddlg::kCommandField);
    edit_->setMaxLength(static_cast<int>(commanddlg::kFieldLength));
    edit_->setMinimumWidth(360);
    QPushButton* execute = addPressButton(commanddlg::kExecute, tr("Execute"));
    execute->setDefault(true);
    QPushButton* cancel = addPressButton(kCancel, tr("Cancel"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edit_);
    layout->addLayout(buttonRow({execute, cancel, helpButton()}));
}

std::optional<int> CommandLineDialog::pressControl(int control) {
    return CommandLineDialogPress(session_, control, edit_->text().toStdString());
}

}  // namespace quarry::gui
