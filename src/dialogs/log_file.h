#pragma once
// The optional log file. Every logged action appends its entry while it is open; the entries
// are written in UTF-8 on this platform.

#include <cstdio>
#include <string>
#include <string_view>

namespace quarry {

struct LogFile {
    std::FILE* stream = nullptr;
    std::string path;

    bool isOpen() const { return stream != nullptr; }
    // Appends UTF-8 text as it stands, line ends included.
    void write(std::string_view utf8);
    // Appends text in the program's Windows character set, converted to UTF-8.
    void writeAnsi(std::string_view ansi);
};

}  // namespace quarry
