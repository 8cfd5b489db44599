#pragma once
// A UI port for tests: records every call and answers questions and the drive dialog from
// values the test sets beforehand.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/ui_port.h"

namespace quarry::test {

class RecordingUi : public UiPort {
public:
    struct StatusCall {
        bool leftSet;
        std::string left;
        bool rightSet;
        std::string right;
    };

    void setStatusText(const char* left, const char* right) override {
        statusCalls.push_back({left != nullptr, left ? left : "", right != nullptr, right ? right : ""});
        if (!left) statusLeft.clear();
        else if (*left) statusLeft = left;
        statusRight = right ? right : "";
    }
    void showTimedMessage(const std::string& text) override { timedMessages.push_back(text); }
    void showMessageBox(const std::string& text) override { messageBoxes.push_back(text); }
    bool ask(const std::string& text, Question) override {
        questions.push_back(text);
        if (answers.empty()) return false;
        bool a = answers.front();
        answers.pop_front();
        return a;
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
    void openHelp(const std::string& key) override { helpKeys.push_back(key); }
    std::optional<std::string> askPcFileName(const std::string& name) override {
        pcNameQuestions.push_back(name);
        if (pcNameAnswers.empty()) return std::nullopt;
        auto a = pcNameAnswers.front();
        pcNameAnswers.pop_front();
        return a;
    }
    bool chooseTargetDirectory() override {
        ++targetDialogs;
        return targetAnswer;
    }
    int chooseDrive(const std::vector<std::string>& entries) override {
        driveDialogs.push_back(entries);
        return driveChoice;
    }

    // Answers given to ask(), in order; false once they run out.
    std::deque<bool> answers;
    // Answers of the rename-on-the-fly dialog, in order; nothing (skip) once they run out.
    std::deque<std::optional<std::string>> pcNameAnswers;
    std::vector<std::string> pcNameQuestions;
    bool targetAnswer = true;
    int targetDialogs = 0;
    // Index chooseDrive() returns; -1 cancels.
    int driveChoice = 0;
    // escapeAbortRequested() turns true after this many polls; -1 never.
    int abortAfterPolls = -1;

    std::vector<StatusCall> statusCalls;
    std::string statusLeft, statusRight;
    std::vector<std::string> timedMessages, messageBoxes, questions, fatalErrors, helpKeys;
    std::vector<std::pair<uint32_t, uint32_t>> progress;
    std::vector<int> invalidatedRows, postedCommands;
    std::vector<std::pair<int, bool>> menuChecks;
    std::vector<std::vector<std::string>> driveDialogs;
    std::string windowTitle;
    int cursorSteps = 0, escapePolls = 0, beeps = 0, commandStateUpdates = 0;
};

}  // namespace quarry::test
