#include "cli/cli_ui.h"

#include <unistd.h>

#include <signal.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "common/messages.h"

namespace quarry::cli {
namespace {

// Status texts that report a failure; other status texts describe work in progress, which a
// terminal program has no status bar for.
constexpr std::array<Msg, 3> kFailureStatus = {Msg::MediaUnreadable, Msg::MsDosVolume, Msg::NoSelection};

constexpr int kBarWidth = 40;
// Copies shorter than this many 2048-byte blocks (2 MB) finish before a bar would help.
constexpr uint32_t kProgressMinimumBlocks = 1024;
constexpr const char* kCopyStatusPrefix = "Copy of ";

volatile sig_atomic_t gInterrupted = 0;

void onInterrupt(int) { gInterrupted = 1; }

}  // namespace

CliUi::CliUi(bool answerYes) : answerYes_(answerYes), progressOnTerminal_(isatty(STDERR_FILENO) != 0) {}

void CliUi::report(const std::string& text) {
    endProgress();
    std::fprintf(stderr, "%s : %s\n", kProgramTitle, text.c_str());
    std::fflush(stderr);
    reported_ = true;
}

void CliUi::reportAside(const std::string& text) {
    const bool was = reported_;
    report(text);
    reported_ = was;
}

bool CliUi::takeReported() {
    const bool was = reported_;
    reported_ = false;
    return was;
}

void installInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
}

bool CliUi::escapeAbortRequested() {
    if (!gInterrupted) return false;
    gInterrupted = 0;
    const char* question = messageText(Msg::AbortQuestion);
    endProgress();
    if (!isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s : %s [Yes]\n", kProgramTitle, question);
        return true;
    }
    std::fprintf(stderr, "%s : %s [y/N] ", kProgramTitle, question);
    std::fflush(stderr);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin)) return true;
    return answer[0] == 'y' || answer[0] == 'Y';
}

void CliUi::setStatusText(const char* left, const char* /*right*/) {
    if (!left) return;
    if (std::strncmp(left, kCopyStatusPrefix, std::strlen(kCopyStatusPrefix)) == 0) {
        endProgress();
        std::printf("%s\n", left);
        std::fflush(stdout);
        return;
    }
    for (Msg m : kFailureStatus)
        if (std::strcmp(left, messageText(m)) == 0) report(left);
}

void CliUi::showTimedMessage(const std::string& text) {
    report(text);
    if (log_ && log_->isOpen()) log_->write("#" + text + "\n");
}
void CliUi::showMessageBox(const std::string& text) { report(text); }

bool CliUi::ask(const std::string& text, Question kind) {
    const char* answer = answerYes_ ? (kind == Question::YesNo ? "Yes" : "OK") : (kind == Question::YesNo ? "No" : "Cancel");
    endProgress();
    std::fprintf(stderr, "%s : %s [%s]\n", kProgramTitle, text.c_str(), answer);
    std::fflush(stderr);
    return answerYes_;
}

void CliUi::fatalError(const std::string& text) {
    report(text);
    fatal_ = true;
}

void CliUi::paintProgressBar(uint32_t remaining, uint32_t total) {
    if (total < kProgressMinimumBlocks || !progressOnTerminal_) return;
    const uint32_t percent = static_cast<uint32_t>((uint64_t{total} - remaining) * 100 / total);
    const int filled = static_cast<int>(percent * kBarWidth / 100);
    std::fprintf(stderr, "\r[%.*s%*s] %3u%%", filled, "########################################", kBarWidth - filled, "", percent);
    std::fflush(stderr);
    progressShown_ = true;
}

void CliUi::endProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    progressShown_ = false;
}

bool CliUi::takePosted(int& command) {
    if (posted_.empty()) return false;
    command = posted_.front();
    posted_.pop_front();
    return true;
}

}  // namespace quarry::cli
