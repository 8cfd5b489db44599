#pragma once
// A UI port for tests: records every call and answers questions, the rename dialog, the target
// chooser and the drive dialog from values the test sets beforehand.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/ui_port.h"

namespace quarry::test {

class RecordingUi : public UiPort {
public:
    void setStatusText(const char* left, const char*) override {
        if (!left) statusLeft.clear();
        else if (*left) statusLeft = left;
    }
    void showTimedMessage(const std::string& text) override { timedMessages.push_back(text); }
    void showMessageBox(const std::string& text) override { messageBoxes.push_back(text); }
    bool ask(const std::string& text, Question) override {
        questions.push_back(text);
        return next(answers).value_or(false);
    }
    void fatalError(const std::string& text) override { fatalErrors.push_back(text); }
    void stepWaitCursor() override { ++cursorSteps; }
    bool escapeAbortRequested() override {
        ++escapePolls;
        return abortAfterPolls >= 0 && escapePolls > abortAfterPolls;
    }
    void paintProgressBar(uint32_t remaining, uint32_t total) override { progress.push_back({remaining, total}); }
    void beep() override { ++beeps; }
    void invalidateListRow(int row) override { invalidatedRows.push_back(row); }
    void updateCommandStates() override { ++commandStateUpdates; }
    void setMenuCheck(int command, bool checked) override { menuChecks.push_back({command, checked}); }
    void setWindowTitle(const std::string& title) override { windowTitle = title; }
    void postCommand(int command) override { postedCommands.push_back(command); }
    void openHelp(const std::string&) override {}
    std::optional<std::string> askPcFileName(const std::string& name) override {
        pcNameQuestions.push_back(name);
        return next(pcNameAnswers).value_or(std::nullopt);
    }
    bool chooseTargetDirectory() override {
        ++targetDialogs;
        return targetAnswer;
    }
    int chooseDrive(const std::vector<std::string>& entries) override {
        driveDialogs.push_back(entries);
        return driveChoice;
    }

    std::deque<bool> answers;  // answers given to ask(), in order; false once they run out
    // Answers of the rename-on-the-fly dialog, in order; nothing (skip) once they run out.
    std::deque<std::optional<std::string>> pcNameAnswers;
    bool targetAnswer = true;
    int driveChoice = 0;       // what chooseDrive() returns; -1 cancels
    int abortAfterPolls = -1;  // escapeAbortRequested() turns true after this many polls; -1 never

    std::string statusLeft, windowTitle;
    std::vector<std::string> timedMessages, messageBoxes, questions, fatalErrors, pcNameQuestions;
    std::vector<std::pair<uint32_t, uint32_t>> progress;
    std::vector<int> invalidatedRows, postedCommands;
    std::vector<std::pair<int, bool>> menuChecks;
    std::vector<std::vector<std::string>> driveDialogs;
    int targetDialogs = 0, cursorSteps = 0, escapePolls = 0, beeps = 0, commandStateUpdates = 0;

private:
    template <class T>
    static std::optional<T> next(std::deque<T>& queue) {
        if (queue.empty()) return std::nullopt;
        T value = std::move(queue.front());
        queue.pop_front();
        return value;
    }
};

}  // namespace quarry::test
