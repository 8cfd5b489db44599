#include "support/run_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string_view>

#include "support/temp_dir.h"

extern char** environ;

namespace quarry::test {

std::string ProcessResult::describe(const std::vector<std::string>& argv) const {
    std::string text;
    for (const auto& a : argv) text += (text.empty() ? "" : " ") + a;
    return text + (started ? " (exit " + std::to_string(exitCode) + "): " + err : ": could not be started");
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
    ProcessResult result;
    if (argv.empty()) return result;
    // The test's environment with `environment` in place of variables of the same name.
    auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        bool replaced = false;
        for (const auto& o : environment) replaced = replaced || nameOf(o) == nameOf(*e);
        if (!replaced) env.emplace_back(*e);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<std::string> args = argv;
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> p;
        for (auto& s : strings) p.push_back(s.data());
        p.push_back(nullptr);
        return p;
    };
    auto argp = pointers(args), envp = pointers(env);

    // Output goes to files, so that neither stream can block the other.
    TempDir dir;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawnError = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) return result;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.started = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(dir.file("out"));
    result.err = slurp(dir.file("err"));
    return result;
}

}  // namespace quarry::test
