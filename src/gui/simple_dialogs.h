#pragma once
// The small dialogs whose behaviour lives in the core already: drive choice, volume
// information, quit, command line.

#include <string>
#include <vector>

#include "gui/dialog_base.h"

class QComboBox;
class QLineEdit;

namespace quarry {
struct Session;
}

namespace quarry::gui {

// "Select CD-ROM Drive" (DLG_CD): a sorted drop-down list 999, OK, Cancel, help.
class DriveDialog : public QuarryDialog {
    Q_OBJECT
public:
    DriveDialog(QWidget* owner, QtUi& ui, const std::vector<std::string>& entries);
    // The index into entries of the chosen one, or -1.
    int chosen() const { return chosen_; }

private:
    QComboBox* list_;
    std::vector<std::string> entries_;
    int chosen_ = -1;
};

// "Informations about the Macintosh volume" (DLG_INFO): thirteen values, OK. Esc does nothing.
class VolumeInfoDialog : public QuarryDialog {
    Q_OBJECT
public:
    VolumeInfoDialog(QWidget* owner, QtUi& ui, const Session& session);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// "Exit Program" (DLG_QUIT): Yes 128 (default), No 129.
class QuitDialog : public QuarryDialog {
    Q_OBJECT
public:
    static constexpr int kYes = 128;
    static constexpr int kNo = 129;
    QuitDialog(QWidget* owner, QtUi& ui);
};

// "Command line" (DLG_COMM): edit 150, Execute 153 (default), Cancel 100.
class CommandLineDialog : public QuarryDialog {
    Q_OBJECT
public:
    static constexpr int kEdit = 150;
    static constexpr int kExecute = 153;
    CommandLineDialog(QWidget* owner, QtUi& ui, Session& session);

private:
    QLineEdit* edit_;
};

}  // namespace quarry::gui
