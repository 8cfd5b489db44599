#include "gui/target_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "dialogs/target_chooser.h"
#include "gui/qt_ui.h"

namespace quarry::gui {

TargetDialog::TargetDialog(QWidget* owner, QtUi& ui, Session& session, int openingCommand,
                           const std::string& macintoshDevice)
    : ModelDialog(owner, "DLG_DEST", tr("Target Directory"), ui),
      chooser_(std::make_unique<TargetChooser>(session, openingCommand, MountedPcDrives, macintoshDevice)) {
    path_ = numbered(new QLabel(this), kPath);
    directories_ = numbered(new QListWidget(this), kDirectories);
    drives_ = numbered(new QListWidget(this), kDrives);
    QPushButton* root = addPressButton(target::kRootButton, tr(" [:\\]"));
    QPushButton* parent = addPressButton(target::kParentButton, tr(" [..]"));
    // "Create new" needs the new-directory dialog's answer before the chooser can act.
    QPushButton* create = addButton(target::kCreateNew, tr("Create new"));
    QPushButton* confirm = addPressButton(target::kConfirm, toQt(chooser_->confirmCaption()));
    confirm->setDefault(true);
    QPushButton* cancel = addPressButton(kCancel, tr("Cancel"));
    connect(create, &QPushButton::clicked, this, &TargetDialog::createNew);
    connect(directories_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        chooser_->openDirectoryRow(static_cast<size_t>(directories_->row(item)));
        refresh();
    });
    connect(drives_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        chooser_->openDriveRow(static_cast<size_t>(drives_->row(item)));
        refresh();
    });

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Path :"), this), 0, 0);
    grid->addWidget(path_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(tr("Directories"), this), 1, 0, 1, 2);
    grid->addWidget(new QLabel(tr("Drives"), this), 1, 2);
    grid->addWidget(directories_, 2, 0, 1, 2);
    grid->addWidget(drives_, 2, 2);
    auto* moves = new QHBoxLayout;
    for (QPushButton* b : {root, parent, create}) moves->addWidget(b);
    moves->addStretch();
    auto* ends = new QHBoxLayout;
    ends->addStretch();
    for (QPushButton* b : {confirm, cancel, helpButton()}) ends->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(moves);
    layout->addLayout(ends);
    resize(460, 360);
    refresh();
}

TargetDialog::~TargetDialog() = default;

void TargetDialog::refresh() {
    path_->setText(toQt(chooser_->pathText()));
    directories_->clear();
    for (const std::string& row : chooser_->directoryRows()) directories_->addItem(toQt(row));
    drives_->clear();
    for (const std::string& row : chooser_->driveRows()) drives_->addItem(toQt(row));
    drives_->setCurrentRow(chooser_->currentDrive());
}

std::optional<int> TargetDialog::pressControl(int control) { return chooser_->press(control); }

void TargetDialog::createNew() {
    NewDirectoryDialog ask(this, ui_, target::kNewDirectoryProposal, static_cast<int>(target::kNewDirectoryNameMax));
    if (ask.exec() != 1) return;
    chooser_->createDirectory(ask.name().toStdString());
    refresh();
}

NewDirectoryDialog::NewDirectoryDialog(QWidget* owner, QtUi& ui, const QString& proposal, int maxLength)
    : QuarryDialog(owner, "DLG_NOUV", tr("New Directory"), ui) {
    auto* label = numbered(new QLabel(tr("Directory Name:"), this), kNameLabel);
    edit_ = numbered(new QLineEdit(proposal, this), kName);
    label->setBuddy(edit_);
    edit_->setMaxLength(maxLength);
    edit_->selectAll();
    QPushButton* ok = addButton(kOk, tr("OK"));
    ok->setDefault(true);
    QPushButton* cancel = addButton(kCancel, tr("Cancel"));
    connect(ok, &QPushButton::clicked, this, [this] { done(1); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* b : {ok, cancel, helpButton()}) row->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addLayout(row);
}

QString NewDirectoryDialog::name() const { return edit_->text(); }

}  // namespace quarry::gui
