#pragma once
// "Target Directory" (DLG_DEST): walks the PC's directories and drives to choose where copies
// go, and makes new directories there (DLG_NOUV).

#include <memory>
#include <string>

#include "gui/dialog_base.h"

class QLabel;
class QListWidget;
class QLineEdit;

namespace quarry {
struct Session;
class TargetChooser;
}  // namespace quarry

namespace quarry::gui {

// The moves, the ends and help are the chooser's (dialogs/target_chooser.h).
class TargetDialog : public ModelDialog {
    Q_OBJECT
public:
    static constexpr int kPath = 1131;
    static constexpr int kDirectories = 1133;
    static constexpr int kDrives = 1134;

    // openingCommand: 106 before a copy, 124 from the Options menu. macintoshDevice: the image
    // or device the volume is read from, which cannot become the target.
    TargetDialog(QWidget* owner, QtUi& ui, Session& session, int openingCommand, const std::string& macintoshDevice);
    ~TargetDialog() override;

protected:
    std::optional<int> pressControl(int control) override;
    void refresh() override;

private:
    void createNew();

    std::unique_ptr<TargetChooser> chooser_;
    QLabel* path_;
    QListWidget* directories_;
    QListWidget* drives_;
};

// "New Directory" (DLG_NOUV): a name proposed, edited, confirmed. The target chooser's "Create
// new" asks with it.
class NewDirectoryDialog : public QuarryDialog {
    Q_OBJECT
public:
    static constexpr int kNameLabel = 515;
    static constexpr int kName = 503;
    NewDirectoryDialog(QWidget* owner, QtUi& ui, const QString& proposal, int maxLength);
    QString name() const;

private:
    QLineEdit* edit_;
};

}  // namespace quarry::gui
