#pragma once
// Runs a command-line tool for a test and collects what it printed. The command is started
// directly (no shell), so arguments may hold spaces and raw Macintosh bytes as they are.

#include <string>
#include <vector>

namespace quarry::test {

struct ProcessResult {
    bool started = false;  // false when the program could not be started at all
    int exitCode = -1;     // the exit status; -1 when the process ended on a signal
    std::string out;       // standard output
    std::string err;       // standard error

    bool succeeded() const { return started && exitCode == 0; }
    // "hls -l :Docs (exit 1): <stderr>", for failure messages.
    std::string describe(const std::vector<std::string>& argv) const;
};

// Runs argv[0] (looked up in PATH) with standard input from /dev/null. `environment` holds
// NAME=VALUE settings that replace or extend the test's own environment.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {});

}  // namespace quarry::test
