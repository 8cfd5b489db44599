#include "gui/attribute_dialogs.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <map>
#include <string>

#include "app/session.h"
#include "commands/attributes.h"
#include "commands/main_changes.h"
#include "copy/copy_engine.h"
#include "gui/qt_ui.h"

namespace quarry::gui {
namespace {

// The signatures hold four characters.
constexpr int kSignatureLength = 4;

QLineEdit* editField(QWidget* parent, int id, int maxLength = 0) {
    auto* e = numbered(new QLineEdit(parent), id);
    if (maxLength > 0) e->setMaxLength(maxLength);
    return e;
}

QLabel* staticField(QWidget* parent, int id) { return numbered(new QLabel(parent), id); }

// Puts each value into the control that shows it.
void fill(QWidget* dialog, const std::vector<DialogField>& fields) {
    for (const DialogField& f : fields) {
        QWidget* w = dialog->findChild<QWidget*>(QString::number(f.control));
        if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(toQt(f.text));
        else if (auto* label = qobject_cast<QLabel*>(w)) label->setText(toQt(f.text));
    }
}

}  // namespace

AttributesDialog::AttributesDialog(QWidget* owner, QtUi& ui, Session& session, const VolumeEntry& file, CommandStates* states)
    : ModelDialog(owner, "DLG_ATTR", tr(attrtext::kTitle), ui), session_(session), file_(file), states_(states) {
    auto* form = new QFormLayout;
    form->addRow(tr(attrtext::kFileName), editField(this, attrctl::kName, kAttributeNameLimit));
    form->addRow(tr(attrtext::kCreator), editField(this, attrctl::kCreator, kSignatureLength));
    form->addRow(tr(attrtext::kType), editField(this, attrctl::kType, kSignatureLength));
    auto dateRow = [&](int first) {
        auto* row = new QHBoxLayout;
        for (int i = 0; i < 5; ++i) {
            QLineEdit* e = editField(this, first + i);
            e->setMaximumWidth(48);
            row->addWidget(e);
        }
        return row;
    };
    form->addRow(tr(attrtext::kCreated), dateRow(attrctl::kCreatedFirst));
    form->addRow(tr(attrtext::kModified), dateRow(attrctl::kModifiedFirst));
    form->addRow(tr(attrtext::kDataLength), staticField(this, attrctl::kDataLength));
    form->addRow(tr(attrtext::kRsrcLength), staticField(this, attrctl::kRsrcLength));
    fill(this, fileAttributesOf(file).fields());

    QPushButton* identification = addPressButton(attrctl::kIdentification, tr(attrtext::kIdentification));
    identification->setEnabled(false);
    // "Advanced" shows the second page and stays in this one: the front end's part, not the
    // model's.
    QPushButton* advanced = addButton(attrctl::kAdvanced, tr(attrtext::kAdvanced));
    QPushButton* write = addPressButton(attrctl::kWrite, tr(attrtext::kWrite));
    write->setEnabled(AttributeSheetWritable(session));
    QPushButton* quit = addPressButton(attrctl::kQuit, tr(attrtext::kQuit));
    quit->setDefault(true);
    connect(advanced, &QPushButton::clicked, this, [this, &session, file] {
        AdvancedAttributesDialog page(this, ui_, session, file);
        page.exec();
    });
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {identification, advanced, write, quit, helpButton()}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

std::optional<int> AttributesDialog::pressControl(int control) {
    if (control != attrctl::kWrite) return AttributesDialogPress(ui_, control);
    std::map<int, std::string> typed;
    for (QLineEdit* edit : findChildren<QLineEdit*>()) typed[edit->objectName().toInt()] = edit->text().toStdString();
    if (!WriteAttributeSheet(session_, states_, file_, typed)) return std::nullopt;
    return 0;
}

AdvancedAttributesDialog::AdvancedAttributesDialog(QWidget* owner, QtUi& ui, const Session& session, const VolumeEntry& file)
    : ModelDialog(owner, "DLG_ATT2", tr(attrtext::kAdvancedTitle), ui) {
    auto* form = new QFormLayout;
    form->addRow(tr(attrtext::kFileName), staticField(this, attrctl::kName));
    form->addRow(tr(attrtext::kFileNumber), staticField(this, attrctl::kFileNumber));
    form->addRow(tr(attrtext::kDataExtents), staticField(this, attrctl::kDataExtents));
    form->addRow(tr(attrtext::kRsrcExtents), staticField(this, attrctl::kRsrcExtents));
    if (file.posix) {
        form->addRow(tr(attrtext::kOwner), staticField(this, attrctl::kOwner));
        form->addRow(tr(attrtext::kGroup), staticField(this, attrctl::kGroup));
        form->addRow(tr(attrtext::kMode), staticField(this, attrctl::kMode));
    }
    if (!file.linkTarget.empty()) form->addRow(tr(attrtext::kLinkTarget), staticField(this, attrctl::kLinkTarget));
    fill(this, advancedAttributesOf(*session.mounted, file).fields());
    QPushButton* ok = addPressButton(attrctl::kOk, tr(attrtext::kOk));
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(helpButton());
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

std::optional<int> AdvancedAttributesDialog::pressControl(int control) {
    return AdvancedAttributesDialogPress(ui_, control);
}

void showAttributesOf(QWidget* owner, QtUi& ui, Session& session, const std::string& key, CommandStates* states) {
    ShowFileAttributes(session, key, [&](const VolumeEntry& file) {
        AttributesDialog dialog(owner, ui, session, file, states);
        dialog.exec();
    });
}

}  // namespace quarry::gui
