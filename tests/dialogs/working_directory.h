#pragma once
// The dialogs move the process's current directory; a test that lets them do so puts it back
// when it ends, so the tests after it start where they expect.

#include <unistd.h>

#include <filesystem>
#include <string>

namespace quarry::test {

class WorkingDirectoryGuard {
public:
    WorkingDirectoryGuard() : saved_(std::filesystem::current_path()) {}
    ~WorkingDirectoryGuard() {
        std::error_code ignored;  // a directory removed meanwhile leaves nowhere better to go
        std::filesystem::current_path(saved_, ignored);
    }
    WorkingDirectoryGuard(const WorkingDirectoryGuard&) = delete;
    WorkingDirectoryGuard& operator=(const WorkingDirectoryGuard&) = delete;

private:
    std::filesystem::path saved_;
};

inline std::string CurrentDirectory() { return std::filesystem::current_path().string(); }

}  // namespace quarry::test
