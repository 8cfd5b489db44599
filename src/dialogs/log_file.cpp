#include "dialogs/log_file.h"

#include "common/text.h"

namespace quarry {

void LogFile::write(std::string_view utf8) {
    if (!stream) return;
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

void LogFile::writeAnsi(std::string_view ansi) { write(ansiToUtf8(ansi)); }

}  // namespace quarry
