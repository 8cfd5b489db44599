#pragma once
// The main window: menu bar, function buttons, the header with space and names, the list of the
// current folder in three listing modes, and the status bar with its progress bar.

#include <QHash>
#include <QMainWindow>
#include <QString>
#include <string>
#include <vector>

#include "app/main_window_model.h"
#include "device/image_adapter.h"

class QAction;
class QMenu;
class QPushButton;

namespace quarry {
struct Session;
}

namespace quarry::gui {

class QtUi;
class ClientArea;
struct Drives;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 425;

    MainWindow(Session& session, QtUi& ui);

    Session& session() { return session_; }
    MainWindowModel& model() { return model_; }
    // Shows the enabled and checked states the model holds on the menus and buttons.
    void applyStates();
    void setContextMenuShown(bool shown) { contextMenuShown_ = shown; }
    bool contextMenuShown() const { return contextMenuShown_; }
    QtUi& ui() { return ui_; }
    ClientArea* client() const { return client_; }
    QAction* action(int command) const { return actions_.value(command, nullptr); }
    QMenu* contextMenu() const { return contextMenu_; }
    QPushButton* functionButton(int command) const;
    int lineHeight() const;

    // Runs a main-window command: menus, keys, buttons and the command line all come here.
    void runCommand(int command);
    // Re-reads the enabling and check states from the session.
    void updateCommandStates();
    void setMenuCheck(int command, bool checked);

    void setStatus(const QString& left, const QString& right);
    const QString& statusLeft() const { return statusLeft_; }
    const QString& statusRight() const { return statusRight_; }
    void setProgress(uint32_t remaining, uint32_t total);
    void clearProgress();
    int progressPercent() const { return progressPercent_; }
    void invalidateListRow(int row);

    void setDrives(Drives* drives) { drives_ = drives; }
    // Mounts the selected drive as at start-up and shows the outcome on the status bar.
    void mountSelected();
    // Shows each place of damage met since the last call in a message box, over the list, then
    // the read warnings below.
    void reportDamage();
    // Shows in a message box each warning about damaged data that the mount or the command just
    // run read (sectors of an image that fail their EDC check).
    void showReadWarnings();
    // Puts an image on the image adapter, selects it and mounts it (Open Image..., drops).
    bool openImage(const QString& path, ImageAccess access = ImageAccess::ReadOnly);
    // The file chooser of "Open Image...", with its check box "Open for writing": the chosen
    // image, or an empty path when the person cancels.
    static QString chooseImage(QWidget* owner, ImageAccess& access);
    // "New Volume...": asks for the name, the size and the file, makes the volume and opens it
    // for writing.
    void newVolume();
    // The image file or device the mounted volume is read from, when it is one.
    std::string macintoshDevice() const;

signals:
    void commandFinished(int command);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    void buildButtons();
    void runDialogCommand(int command);
    void afterDriveChoice(int chosen);
    bool quitConfirmed();

    Session& session_;
    QtUi& ui_;
    Drives* drives_ = nullptr;
    MainWindowModel model_;
    bool contextMenuShown_ = false;
    ClientArea* client_;
    QHash<int, QAction*> actions_;
    QMenu* fileMenu_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    std::vector<QPushButton*> buttons_;
    QString statusLeft_;
    QString statusRight_;
    int progressPercent_ = -1;
    bool closing_ = false;
};

}  // namespace quarry::gui
