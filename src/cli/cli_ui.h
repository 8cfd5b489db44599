#pragma once
// The UI port of quarry-cli: messages go to standard error prefixed with the program title,
// questions are answered from the --yes option, posted commands wait in a queue.

#include <chrono>
#include <deque>
#include <string>

#include "common/ui_port.h"
#include "common/log_file.h"

namespace quarry::cli {

// Installs the Ctrl-C handler that escapeAbortRequested() answers to.
void installInterruptHandler();

class CliUi : public UiPort {
public:
    explicit CliUi(bool answerYes);

    // Unanswered notices are written to the log with "#", as when nobody acknowledges them.
    void setLog(LogFile* log) { log_ = log; }
    // Without the "Copy of ... to ..." lines (--quiet).
    void setQuiet(bool quiet) { quiet_ = quiet; }

    void setStatusText(const char* left, const char* right) override;
    void showTimedMessage(const std::string& text) override;
    void notice(const std::string& text) override { reportAside(text); }
    void showMessageBox(const std::string& text) override;
    bool ask(const std::string& text, Question kind) override;
    void fatalError(const std::string& text) override;
    void stepWaitCursor() override {}
    // Ctrl-C plays the part of Esc.
    bool escapeAbortRequested() override;
    void paintProgressBar(uint32_t remaining, uint32_t total) override;
    // On a terminal a copy that runs longer than a second shows one line on standard error:
    // files done of files found, bytes, rate and the file being copied.
    bool wantsCopyProgress() override { return progressOnTerminal_; }
    void copyProgress(const CopyProgress& progress) override;
    // A terminal bell would say nothing; the beep is remembered for the caller to explain.
    void beep() override { beeped_ = true; }
    void invalidateListRow(int) override {}
    void updateCommandStates() override {}
    void setMenuCheck(int, bool) override {}
    void setWindowTitle(const std::string&) override {}
    void postCommand(int command) override { posted_.push_back(command); }
    void openHelp(const std::string&) override {}
    std::optional<std::string> askPcFileName(const std::string&) override { return std::nullopt; }
    // The target is the directory given with --to, made current before the first line.
    bool chooseTargetDirectory() override { return true; }
    int chooseDrive(const std::vector<std::string>&) override { return 0; }

    // Prints one message line to standard error.
    void report(const std::string& text);
    // Prints a message line that is no complaint about the command being run (damage met on
    // the volume, damaged sectors read), so it does not make that command look failed.
    void reportAside(const std::string& text);
    bool takePosted(int& command);
    // Forgets the commands posted so far.
    void dropPosted() { posted_.clear(); }
    bool fatal() const { return fatal_; }
    // True once a failure has been shown since the last call.
    bool takeReported();
    // True once the core has beeped since the last call.
    bool takeBeep() {
        const bool was = beeped_;
        beeped_ = false;
        return was;
    }
    void endProgress();

private:
    bool answerYes_;
    // Asked once: the bar is drawn only on a terminal.
    bool progressOnTerminal_;
    LogFile* log_ = nullptr;
    bool fatal_ = false;
    bool reported_ = false;
    bool beeped_ = false;
    bool progressShown_ = false;
    bool quiet_ = false;
    void drawProgressLine(uint64_t bytesInFile);
    CopyProgress progress_;
    std::chrono::steady_clock::time_point copyStarted_;
    std::chrono::steady_clock::time_point lastDrawn_;
    std::deque<int> posted_;
};

}  // namespace quarry::cli
