#include "gui/dialog_base.h"

#include "gui/qt_ui.h"

namespace quarry::gui {

QuarryDialog::QuarryDialog(QWidget* owner, const char* templateName, const QString& title, QtUi& ui)
    : QDialog(owner), ui_(ui) {
    setObjectName(templateName);
    setWindowTitle(title);
    // "DLG_OPT" opens the help key "dlg_OPT".
    helpKey_ = QString(templateName).replace(0, 3, "dlg");
}

QPushButton* QuarryDialog::addButton(int id, const QString& caption) {
    auto* b = numbered(new QPushButton(caption, this), id);
    b->setAutoDefault(false);
    return b;
}

QPushButton* QuarryDialog::helpButton() {
    QPushButton* b = addButton(kHelp, tr("Help"));
    connect(b, &QPushButton::clicked, this, [this] { ui_.openHelp(helpKey_.toStdString()); });
    return b;
}

}  // namespace quarry::gui
