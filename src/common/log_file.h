#pragma once
// The optional log file: a journal of what was done with the volume, written as lines of the
// command language. Every logged action appends its entry while the log is open; the entries
// are written in UTF-8 on this platform, with the line ends each entry has (some CR LF, some LF).

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace quarry {

inline constexpr const char* kDefaultLogFileName = "quarryrm.log";
inline constexpr size_t kLogFileNameMax = 12;

struct LogFile {
    std::FILE* stream = nullptr;
    // Relative to the current directory unless a path is given.
    std::string name = kDefaultLogFileName;

    bool isOpen() const { return stream != nullptr; }
    // Appends UTF-8 text as it stands, line ends included.
    void write(std::string_view utf8);
    // Appends text in the program's Windows character set, converted to UTF-8.
    void writeAnsi(std::string_view ansi);
};

void CloseLogFile(LogFile& log);
// "<" and the local date and time, "%d/%d/%d - %2d:%02d:%02d", then note (what else the
// closing record states, empty for nothing) and "\n".
void WriteLogTimestamp(std::FILE* stream, std::time_t now, std::string_view note = {});
// At program end: the closing record, then the log is closed.
void CloseLogAtExit(LogFile& log, std::string_view note = {});

}  // namespace quarry
