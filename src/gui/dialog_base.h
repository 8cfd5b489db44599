#pragma once
// What every dialog of the program shares: its template name, controls named by their control
// numbers (tests find them so), and the help button 149 that opens the dialog's help key.

#include <QDialog>
#include <QPushButton>

#include <optional>

#include "app/dialog_controls.h"

namespace quarry::gui {

class QtUi;

class QuarryDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kCancel = dlg::kCancel;
    static constexpr int kOk = dlg::kOk;
    static constexpr int kHelp = dlg::kHelp;

    QuarryDialog(QWidget* owner, const char* templateName, const QString& title, QtUi& ui);
    // Dialogs that share a template but not a help page name their key.
    void setHelpKey(const QString& key) { helpKey_ = key; }
    // The control with this number, as a test or a binding finds it.
    template <class T = QWidget>
    T* control(int id) const {
        return findChild<T*>(QString::number(id));
    }

protected:
    QPushButton* addButton(int id, const QString& caption);
    QPushButton* helpButton();
    // The help button's click: opens the dialog's help key.
    virtual void helpRequested();
    QtUi& ui_;

private:
    QString helpKey_;
};

// A dialog whose behaviour is a core model's. Its buttons, Enter, Esc, the close box and the
// help button reach the model as control numbers (dialogs/dialog_controls.h); the model decides
// what each of them does and whether the dialog ends, and with what result. The dialog only
// shows the model's state again after a press that leaves it open.
class ModelDialog : public QuarryDialog {
    Q_OBJECT
public:
    using QuarryDialog::QuarryDialog;

protected:
    // The model's answer to control: the dialog's result when the press ends it.
    virtual std::optional<int> pressControl(int control) = 0;
    virtual void refresh() {}
    void press(int control);
    // A button whose click presses its own control number.
    QPushButton* addPressButton(int id, const QString& caption);

    void helpRequested() override;
    // QDialog's Esc.
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

// Gives a widget its control number.
template <class T>
T* numbered(T* widget, int id) {
    widget->setObjectName(QString::number(id));
    return widget;
}

}  // namespace quarry::gui
