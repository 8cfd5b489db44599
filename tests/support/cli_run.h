#pragma once
// Runs the quarry-cli this build made, in the test's own time zone: UTC unless the run names
// another (the date tests run under several, tests/CMakeLists.txt).

#include <cstdlib>
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

}  // namespace quarry::test
