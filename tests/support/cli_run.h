#pragma once
// Runs the quarry-cli this build made.

#include <string>
#include <vector>

#include "support/run_process.h"

namespace quarry::test {

inline ProcessResult runCli(std::vector<std::string> args) {
    args.insert(args.begin(), QUARRY_CLI_PATH);
    return runProcess(args, {"TZ=UTC"});
}

// Feeds `input` to quarry-cli on standard input.
inline ProcessResult runCliWithInput(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv = {"sh", "-c", "printf '%s' \"$QUARRY_INPUT\" | \"$QUARRY_CLI\" \"$@\"", "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, {"TZ=UTC", "QUARRY_INPUT=" + input, std::string("QUARRY_CLI=") + QUARRY_CLI_PATH});
}

}  // namespace quarry::test
