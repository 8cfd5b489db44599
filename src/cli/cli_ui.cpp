#include "cli/cli_ui.h"

#include <sys/ioctl.h>
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

// A copy that ends within this time shows no progress line at all.
constexpr auto kProgressDelay = std::chrono::seconds(1);
// The line is drawn again at most this often, so that drawing costs nothing measurable.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

std::string byteText(double bytes) {
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    int u = 0;
    while (bytes >= 1000 && u < 4) {
        bytes /= 1000;
        ++u;
    }
    char text[32];
    std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
    return text;
}

int terminalColumns() {
    struct winsize size {};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}
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
        if (quiet_) return;
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
    // The run of the file being copied, in 2048-byte blocks, as far as it has come.
    if (!progressOnTerminal_ || progress_.current.empty() || remaining > total) return;
    drawProgressLine(uint64_t{total - remaining} * 2048);
}

void CliUi::copyProgress(const CopyProgress& progress) {
    if (!progressOnTerminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (progress_.current.empty() && progress.filesDone == 0) copyStarted_ = now;
    progress_ = progress;
    if (progress.current.empty()) {
        endProgress();
        return;
    }
    drawProgressLine(0);
}

void CliUi::drawProgressLine(uint64_t bytesInFile) {
    const auto now = std::chrono::steady_clock::now();
    if (now - copyStarted_ < kProgressDelay || (progressShown_ && now - lastDrawn_ < kProgressInterval)) return;
    lastDrawn_ = now;
    const uint64_t bytes = progress_.bytesDone + bytesInFile;
    const double seconds = std::chrono::duration<double>(now - copyStarted_).count();
    std::string line = std::to_string(progress_.filesDone) + "/" + std::to_string(progress_.filesFound) + " files  " +
                       byteText(static_cast<double>(bytes)) + "  " + byteText(static_cast<double>(bytes) / seconds) + "/s  ";
    // The name is cut to what the terminal's line holds, so that the line is rewritten in place.
    const size_t columns = static_cast<size_t>(terminalColumns()) - 1;
    std::string name = progress_.current;
    size_t cut = 0, shown = 0;
    while (cut < name.size() && line.size() + shown < columns) {
        ++cut;
        while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) ++cut;
        ++shown;
    }
    line += name.substr(0, cut);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
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
