#pragma once
// The one way the core talks to a person. The desktop program, quarry-cli and the tests each
// implement it. Every text that crosses this boundary is UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarry {

enum class Question { OkCancel, YesNo };

// Where a copy of several files stands: told before each file and once more after the last.
struct CopyProgress {
    uint32_t filesDone = 0;
    uint32_t filesFound = 0;
    uint64_t bytesDone = 0;  // fork bytes of the files done
    std::string current;     // the file now being copied; empty after the last
};

class UiPort {
public:
    virtual ~UiPort() = default;

    // The two texts of the status bar. A null left clears the left text, an empty one keeps it;
    // a null right clears the right text.
    virtual void setStatusText(const char* left, const char* right) = 0;
    // A notice that closes itself after five seconds when nobody answers.
    virtual void showTimedMessage(const std::string& text) = 0;
    // Something a command did otherwise than asked that is no failure (a name made legal): a
    // timed notice unless the front end says it aside.
    virtual void notice(const std::string& text) { showTimedMessage(text); }
    // A message box with an OK button only.
    virtual void showMessageBox(const std::string& text) = 0;
    // A question; true for OK or Yes.
    virtual bool ask(const std::string& text, Question kind) = 0;
    // Shows the text and asks the program to end with exit code 1. The core returns at once
    // after calling it; the front end ends the process when control comes back to it.
    virtual void fatalError(const std::string& text) = 0;

    virtual void stepWaitCursor() = 0;
    virtual bool escapeAbortRequested() = 0;
    virtual void paintProgressBar(uint32_t remaining, uint32_t total) = 0;
    // A front end that shows where a copy of many files stands says so; the copy then counts
    // the files it will copy first, which costs a walk of the catalog.
    virtual bool wantsCopyProgress() { return false; }
    virtual void copyProgress(const CopyProgress& /*progress*/) {}
    virtual void beep() = 0;

    // Row 255 invalidates the whole list.
    virtual void invalidateListRow(int row) = 0;
    virtual void updateCommandStates() = 0;
    // Sets or clears the check mark of a menu item.
    virtual void setMenuCheck(int command, bool checked) = 0;
    virtual void setWindowTitle(const std::string& title) = 0;
    // Queues a main-window command (101..143); it runs after the current one has returned.
    virtual void postCommand(int command) = 0;
    virtual void openHelp(const std::string& key) = 0;

    // The rename-on-the-fly dialog, "File name on the DOS volume": the name to give the PC file,
    // whole as typed (AskPcFileName keeps its first 30 characters), or nothing when the file is
    // to be skipped.
    virtual std::optional<std::string> askPcFileName(const std::string& name) = 0;

    // The target-directory chooser before a copy: false when the person cancels.
    virtual bool chooseTargetDirectory() = 0;

    // The drive dialog: returns the index of the chosen entry, or -1 for Cancel.
    virtual int chooseDrive(const std::vector<std::string>& entries) = 0;
};

}  // namespace quarry
