#pragma once
// Runs the quarry-cli this build made, in the test's own time zone: UTC unless the run names
// another (the date tests run under several, tests/CMakeLists.txt).

#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"

namespace quarry::test {

inline std::string testTimeZone() {
    const char* zone = std::getenv("TZ");
    return std::string("TZ=") + (zone && *zone ? zone : "UTC");
}

inline ProcessResult runCli(std::vector<std::string> args) {
    args.insert(args.begin(), QUARRY_CLI_PATH);
    return runProcess(args, {testTimeZone()});
}

// Feeds `input` to quarry-cli on standard input.
inline ProcessResult runCliWithInput(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv = {"sh", "-c", "printf '%s' \"$QUARRY_INPUT\" | \"$QUARRY_CLI\" \"$@\"", "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, {testTimeZone(), "QUARRY_INPUT=" + input, std::string("QUARRY_CLI=") + QUARRY_CLI_PATH});
}

// What it printed, line by line; a line's tab-separated fields; the first field of every line
// (the names of a listing, the labels of a sheet).
inline std::vector<std::string> outputLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}
inline std::vector<std::string> tabFields(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) out.push_back(line.substr(start, tab - start));
    out.push_back(line.substr(start));
    return out;
}
inline std::vector<std::string> firstFields(const std::string& text) {
    std::vector<std::string> out;
    for (const std::string& line : outputLines(text)) out.push_back(tabFields(line)[0]);
    return out;
}

// The copies a run reported in its lines "Copy of "MAC" to "PC"": each Macintosh name (UTF-8,
// without its leading and trailing blanks) to the name of its PC file.
inline std::map<std::string, std::string> copiesReported(const std::string& text) {
    std::map<std::string, std::string> copies;
    const std::regex line("Copy of \"(.*)\" to \"(.*)\"");
    std::smatch m;
    for (const std::string& l : outputLines(text))
        if (std::regex_match(l, m, line)) copies[m[1]] = m[2];
    return copies;
}

}  // namespace quarry::test
