#include "common/log_file.h"

#include "common/text.h"

namespace quarry {

void LogFile::write(std::string_view utf8) {
    if (!stream) return;
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

void LogFile::writeAnsi(std::string_view ansi) { write(ansiToUtf8(ansi)); }

void CloseLogFile(LogFile& log) {
    if (!log.stream) return;
    std::fclose(log.stream);
    log.stream = nullptr;
}

void WriteLogTimestamp(std::FILE* stream, std::time_t now, std::string_view note) {
    std::tm tm{};
    localtime_r(&now, &tm);
    std::fprintf(stream, "<%d/%d/%d - %2d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                 tm.tm_sec);
    std::fwrite(note.data(), 1, note.size(), stream);
    std::fputc('\n', stream);
}

void CloseLogAtExit(LogFile& log, std::string_view note) {
    if (!log.stream) return;
    WriteLogTimestamp(log.stream, std::time(nullptr), note);
    CloseLogFile(log);
}

}  // namespace quarry
