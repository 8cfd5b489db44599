#pragma once
// The UI port of the desktop program: the core's calls on the shell, carried out with Qt.

#include <QObject>
#include <QString>

#include "common/ui_port.h"
#include "gui/wait_cursor.h"

namespace quarry {
struct Session;
}

namespace quarry::gui {

class MainWindow;

class QtUi : public QObject, public UiPort {
    Q_OBJECT
public:
    QtUi();

    void attach(Session* session, MainWindow* window);
    MainWindow* window() const { return window_; }

    void setStatusText(const char* left, const char* right) override;
    void showTimedMessage(const std::string& text) override;
    void showMessageBox(const std::string& text) override;
    bool ask(const std::string& text, Question kind) override;
    void fatalError(const std::string& text) override;
    void stepWaitCursor() override;
    bool escapeAbortRequested() override;
    void paintProgressBar(uint32_t remaining, uint32_t total) override;
    void beep() override;
    void invalidateListRow(int row) override;
    void updateCommandStates() override;
    void setMenuCheck(int command, bool checked) override;
    void setWindowTitle(const std::string& title) override;
    void postCommand(int command) override;
    void openHelp(const std::string& key) override;
    std::optional<std::string> askPcFileName(const std::string& name) override;
    bool chooseTargetDirectory() override;
    int chooseDrive(const std::vector<std::string>& entries) override;

    // Ends a long operation: the cursor comes back and input reaches the widgets again.
    void endBusy();
    bool fatalReported() const { return fatal_; }
    WaitCursor& waitCursor() { return cursor_; }

    // Tests answer questions and dialogs through these instead of a person.
    struct Script {
        bool active = false;
        std::vector<bool> answers;
    };
    Script script;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A box shown during long work needs the person's keys and clicks: the filter that holds
    // them back steps aside while it is open.
    class InputForBox {
    public:
        explicit InputForBox(QtUi& ui);
        ~InputForBox();
        InputForBox(const InputForBox&) = delete;
        InputForBox& operator=(const InputForBox&) = delete;

    private:
        QtUi& ui_;
        bool wasBusy_;
    };

    Session* session_ = nullptr;
    MainWindow* window_ = nullptr;
    WaitCursor cursor_;
    bool busy_ = false;
    bool escapePressed_ = false;
    bool fatal_ = false;
};

inline QString toQt(const std::string& utf8) { return QString::fromUtf8(utf8.c_str(), static_cast<int>(utf8.size())); }

}  // namespace quarry::gui
