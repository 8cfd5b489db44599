#pragma once
// The small dialogs: drive choice, and volume information, quit and command line, whose
// behaviour is their core models' (dialogs/volume_info_dialog.h, quit_dialog.h,
// command_line_dialog.h).

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

// "Informations about the Macintosh volume" (DLG_INFO): thirteen values, OK.
class VolumeInfoDialog : public ModelDialog {
    Q_OBJECT
public:
    VolumeInfoDialog(QWidget* owner, QtUi& ui, const Session& session);

protected:
    std::optional<int> pressControl(int control) override;
};

// "Exit Program" (DLG_QUIT): Yes 128 (default), No 129.
class QuitDialog : public ModelDialog {
    Q_OBJECT
public:
    QuitDialog(QWidget* owner, QtUi& ui);

protected:
    std::optional<int> pressControl(int control) override;
};

// "Command line" (DLG_COMM): edit 150, Execute 153 (default), Cancel 100.
class CommandLineDialog : public ModelDialog {
    Q_OBJECT
public:
    CommandLineDialog(QWidget* owner, QtUi& ui, Session& session);

protected:
    std::optional<int> pressControl(int control) override;

private:
    Session& session_;
    QLineEdit* edit_;
};

}  // namespace quarry::gui
