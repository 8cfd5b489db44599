#include "gui/attribute_dialogs.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/session.h"
#include "commands/attributes.h"
#include "copy/copy_engine.h"
#include "gui/qt_ui.h"

namespace quarry::gui {
namespace {

QLineEdit* field(QWidget* parent, int id, const QString& text, int maxLength = 0) {
    auto* e = numbered(new QLineEdit(text, parent), id);
    if (maxLength > 0) e->setMaxLength(maxLength);
    return e;
}

}  // namespace

AttributesDialog::AttributesDialog(QWidget* owner, QtUi& ui, const Session& session, const CatalogEntry& file)
    : QuarryDialog(owner, "DLG_ATTR", tr("File Attributes"), ui) {
    const FileAttributes a = fileAttributesOf(file);
    auto* form = new QFormLayout;
    form->addRow(tr("Name"), field(this, attrctl::kName, toQt(a.name), kAttributeNameLimit));
    form->addRow(tr("Creator"), field(this, attrctl::kCreator, toQt(a.creator), 4));
    form->addRow(tr("Filetype"), field(this, attrctl::kType, toQt(a.type), 4));
    auto dateRow = [&](int first, const std::array<uint32_t, 5>& values) {
        auto* row = new QHBoxLayout;
        for (int i = 0; i < 5; ++i) {
            QLineEdit* e = field(this, first + i, QString::number(values[static_cast<size_t>(i)]));
            e->setMaximumWidth(48);
            row->addWidget(e);
        }
        return row;
    };
    form->addRow(tr("Creation Date"), dateRow(attrctl::kCreatedFirst, a.created));
    form->addRow(tr("Last Mod. Date"), dateRow(attrctl::kModifiedFirst, a.modified));
    form->addRow(tr("Data fork"), numbered(new QLabel(QString::number(a.dataLength), this), attrctl::kDataLength));
    form->addRow(tr("Resource fork"), numbered(new QLabel(QString::number(a.rsrcLength), this), attrctl::kRsrcLength));

    QPushButton* identification = addButton(attrctl::kIdentification, tr("Identification"));
    identification->setEnabled(false);
    QPushButton* advanced = addButton(attrctl::kAdvanced, tr("Advanced"));
    QPushButton* write = addButton(attrctl::kWrite, tr("Write"));
    write->setEnabled(false);
    QPushButton* quit = addButton(attrctl::kQuit, tr("Quit"));
    quit->setDefault(true);
    connect(advanced, &QPushButton::clicked, this, [this, &session, file] {
        AdvancedAttributesDialog page(this, ui_, session, file);
        page.exec();
    });
    connect(quit, &QPushButton::clicked, this, [this] { done(0); });
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {identification, advanced, write, quit, helpButton()}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

AdvancedAttributesDialog::AdvancedAttributesDialog(QWidget* owner, QtUi& ui, const Session& session, const CatalogEntry& file)
    : QuarryDialog(owner, "DLG_ATT2", tr("For spelunking fans..."), ui) {
    const AdvancedAttributes a = advancedAttributesOf(file, session.volume.sectorsPerBlock);
    auto* form = new QFormLayout;
    form->addRow(tr("Filename"), numbered(new QLabel(toQt(a.name), this), attrctl::kName));
    form->addRow(tr("File #"), numbered(new QLabel(QString::number(a.fileNumber), this), attrctl::kFileNumber));
    form->addRow(tr("Data extents"), numbered(new QLabel(toQt(a.dataExtents), this), attrctl::kDataExtents));
    form->addRow(tr("Ressource extents"), numbered(new QLabel(toQt(a.rsrcExtents), this), attrctl::kRsrcExtents));
    QPushButton* ok = addButton(attrctl::kOk, tr("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(1); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(helpButton());
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

void showAttributesOf(QWidget* owner, QtUi& ui, Session& session, const std::string& macName) {
    ShowFileAttributes(session, macName, [&](const CatalogEntry& file) {
        AttributesDialog dialog(owner, ui, session, file);
        dialog.exec();
    });
}

}  // namespace quarry::gui
