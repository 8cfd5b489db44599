#include "gui/dialog_base.h"

#include <QCloseEvent>
#include <QKeyEvent>

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
    connect(b, &QPushButton::clicked, this, [this] { helpRequested(); });
    return b;
}

void QuarryDialog::helpRequested() { ui_.openHelp(helpKey_.toStdString()); }

void ModelDialog::press(int control) {
    const std::optional<int> result = pressControl(control);
    if (result) done(*result);
    else refresh();
}

QPushButton* ModelDialog::addPressButton(int id, const QString& caption) {
    QPushButton* b = addButton(id, caption);
    connect(b, &QPushButton::clicked, this, [this, id] { press(id); });
    return b;
}

void ModelDialog::helpRequested() { press(dlg::kHelp); }

void ModelDialog::reject() { press(dlg::kEscape); }

void ModelDialog::keyPressEvent(QKeyEvent* event) {
    // Enter is the dialog's own command, not a click of the default button: in several dialogs
    // it means something else. It arrives here from any child that leaves it alone, an edit
    // field included.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && mods == Qt::NoModifier) {
        press(dlg::kEnter);
        return;
    }
    QuarryDialog::keyPressEvent(event);
}

void ModelDialog::closeEvent(QCloseEvent* event) {
    // A dialog that is already hidden is being torn down with its owner; the model has ended.
    if (!isVisible()) {
        event->accept();
        return;
    }
    const std::optional<int> result = pressControl(dlg::kSystemClose);
    if (!result) {
        event->ignore();
        refresh();
        return;
    }
    // Accepting the event hides the dialog, which ends exec() with this result.
    setResult(*result);
    event->accept();
}

}  // namespace quarry::gui
