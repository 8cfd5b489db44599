#pragma once
// What every dialog of the program shares: its template name, controls named by their control
// numbers (tests find them so), and the help button 149 that opens the dialog's help key.

#include <QDialog>
#include <QPushButton>

namespace quarry::gui {

class QtUi;

class QuarryDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kCancel = 100;
    static constexpr int kOk = 101;
    static constexpr int kHelp = 149;

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
    QtUi& ui_;

private:
    QString helpKey_;
};

// Gives a widget its control number.
template <class T>
T* numbered(T* widget, int id) {
    widget->setObjectName(QString::number(id));
    return widget;
}

}  // namespace quarry::gui
