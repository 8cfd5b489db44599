#include "gui/option_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "dialogs/log_dialog.h"
#include "dialogs/naming_dialog.h"
#include "dialogs/port_dialog.h"
#include "gui/qt_ui.h"

namespace quarry::gui {
namespace {

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QWidget* b : buttons) row->addWidget(b);
    return row;
}

}  // namespace

NamingDialog::NamingDialog(QWidget* owner, QtUi& ui, Session& session)
    : ModelDialog(owner, "DLG_OPT", tr("Advanced copy options"), ui),
      model_(std::make_unique<NamingOptionsDialogModel>(session)) {
    auto* group = new QButtonGroup(this);
    auto* column = new QVBoxLayout;
    const std::pair<int, const char*> radios[] = {
        {namingdlg::kLongNames, "Long file names"}, {namingdlg::kShortNames, "Short file names"},
        {namingdlg::kRenameOnTheFly, "Renaming on the fly"}};
    for (auto [id, caption] : radios) {
        auto* r = numbered(new QRadioButton(tr(caption), this), id);
        r->setChecked(model_->checkedButton() == id);
        group->addButton(r, id);
        column->addWidget(r);
        connect(r, &QRadioButton::clicked, this, [this, id] { press(id); });
    }
    // The form of binary copies, beside the naming that its extensions join.
    auto* formats = new QGroupBox(tr("Binary copy format"), this);
    auto* formatColumn = new QVBoxLayout(formats);
    auto* formatGroup = new QButtonGroup(this);
    const std::pair<int, const char*> formatRadios[] = {
        {namingdlg::kMacBinaryI, "MacBinary I"},
        {namingdlg::kMacBinaryI + 1, "MacBinary II"},
        {namingdlg::kMacBinaryI + 2, "MacBinary III"},
        {namingdlg::kMacBinaryI + 3, "AppleDouble (\"._\" file beside the data fork)"},
        {namingdlg::kMacBinaryI + 4, "AppleSingle (.as)"},
        {namingdlg::kBinHex, "BinHex 4.0 (.hqx)"}};
    for (auto [id, caption] : formatRadios) {
        auto* r = numbered(new QRadioButton(tr(caption), this), id);
        r->setChecked(model_->checkedFormatButton() == id);
        formatGroup->addButton(r, id);
        formatColumn->addWidget(r);
        connect(r, &QRadioButton::clicked, this, [this, id] { press(id); });
    }
    // MFS keeps no folders; the Finder's Desktop file does. A mounted MFS volume is mounted again
    // when the box changes (MainWindow).
    auto* mfsFolders = numbered(new QCheckBox(tr("Show the Desktop file's folders on MFS volumes"), this), namingdlg::kMfsFolders);
    mfsFolders->setChecked(model_->mfsFoldersChecked());
    connect(mfsFolders, &QCheckBox::clicked, this, [this] { press(namingdlg::kMfsFolders); });
    QPushButton* ok = addPressButton(kOk, tr("OK"));
    ok->setDefault(true);
    QPushButton* cancel = addPressButton(kCancel, tr("Cancel"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(column);
    layout->addWidget(formats);
    layout->addWidget(mfsFolders);
    layout->addLayout(buttonRow({ok, cancel, helpButton()}));
}

NamingDialog::~NamingDialog() = default;

std::optional<int> NamingDialog::pressControl(int control) { return model_->press(control); }

PortDialog::PortDialog(QWidget* owner, QtUi& ui, Session& session)
    : ModelDialog(owner, "DLG_PORT", tr("Output Ports"), ui), model_(std::make_unique<OutputPortsDialogModel>(session)) {
    auto* group = new QButtonGroup(this);
    auto radio = [&](int id, const char* caption) {
        auto* r = numbered(new QRadioButton(tr(caption), this), id);
        r->setChecked(model_->checkedButton() == id);
        group->addButton(r, id);
        connect(r, &QRadioButton::clicked, this, [this, id] { press(id); });
        return r;
    };
    auto* file = new QGroupBox(tr(" MS-DOS File: "), this);
    (new QVBoxLayout(file))->addWidget(radio(500, "File"));
    auto* serial = new QGroupBox(tr("Serial ports"), this);
    auto* serialColumn = new QVBoxLayout(serial);
    for (int id = 504; id <= 507; ++id) serialColumn->addWidget(radio(id, id == 504 ? "COM1" : id == 505 ? "COM2" : id == 506 ? "COM3" : "COM4"));
    auto* parallel = new QGroupBox(tr("Parallel ports"), this);
    auto* parallelColumn = new QVBoxLayout(parallel);
    for (int id = 501; id <= 503; ++id) parallelColumn->addWidget(radio(id, id == 501 ? "LPT1" : id == 502 ? "LPT2" : "LPT3"));
    QPushButton* ok = addPressButton(kOk, tr("OK"));
    ok->setDefault(true);
    QPushButton* cancel = addPressButton(kCancel, tr("Cancel"));
    auto* groups = new QHBoxLayout;
    groups->addWidget(file);
    groups->addWidget(serial);
    groups->addWidget(parallel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addLayout(buttonRow({ok, cancel, helpButton()}));
}

PortDialog::~PortDialog() = default;

std::optional<int> PortDialog::pressControl(int control) { return model_->press(control); }

LogDialog::LogDialog(QWidget* owner, QtUi& ui, Session& session)
    : ModelDialog(owner, "DLG_FLOG", tr("Log File Management"), ui), model_(std::make_unique<LogFileDialogModel>(session)) {
    name_ = numbered(new QLineEdit(toQt(model_->nameText()), this), logdlg::kNameField);
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& t) { model_->setNameText(t.toStdString()); });
    QPushButton* create = addPressButton(logdlg::kCreate, tr("Create"));
    create->setDefault(true);
    QPushButton* open = addPressButton(logdlg::kOpen, tr("Open"));
    QPushButton* closeLog = addPressButton(logdlg::kClose, tr("Close"));
    QPushButton* ok = addPressButton(kOk, tr("OK"));
    QPushButton* cancel = addPressButton(kCancel, tr("Cancel"));
    // A SHA-256 line for every file copied while the log is open, in a file beside it.
    manifest_ = numbered(new QCheckBox(tr("Checksum manifest"), this), logdlg::kManifest);
    connect(manifest_, &QCheckBox::clicked, this, [this] { press(logdlg::kManifest); });
    auto* field = new QHBoxLayout;
    field->addWidget(new QLabel(tr("File:"), this));
    field->addWidget(name_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(field);
    layout->addWidget(manifest_);
    layout->addLayout(buttonRow({create, open, closeLog}));
    layout->addLayout(buttonRow({ok, cancel, helpButton()}));
    refresh();
}

LogDialog::~LogDialog() = default;

std::optional<int> LogDialog::pressControl(int control) { return model_->press(control); }

void LogDialog::refresh() {
    name_->setText(toQt(model_->nameText()));
    control<QPushButton>(logdlg::kCreate)->setEnabled(model_->createEnabled());
    control<QPushButton>(logdlg::kOpen)->setEnabled(model_->openEnabled());
    control<QPushButton>(logdlg::kClose)->setEnabled(model_->closeEnabled());
    manifest_->setChecked(model_->manifestChecked());
    manifest_->setEnabled(model_->manifestEnabled());
}

}  // namespace quarry::gui
