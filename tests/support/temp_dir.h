#pragma once
// A private directory for one test under $TMPDIR (or /tmp), removed with everything in it when
// the object goes out of scope, optionally the current directory meanwhile; and what tests read
// back from the files they made.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quarry::test {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        path_ = std::string(base && *base ? base : "/tmp") + "/quarry-test.XXXXXX";
        if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp " + path_ + " failed");
    }
    ~TempDir() {
        std::error_code ignored;  // a leftover folder is harmless
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of an entry inside the directory; nothing is created.
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

// Copies, logs and the target chooser work in the process's current directory. A test that moves
// it puts it back when it ends, so that the tests after it start where they expect.
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

// A private directory that is the current one for the life of the object.
struct CurrentTempDir : TempDir {
    CurrentTempDir() { std::filesystem::current_path(path()); }
    WorkingDirectoryGuard guard;  // goes back before the directory is removed
};

// The bytes of a file; empty when it cannot be read.
inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every path below root, relative to it.
inline std::set<std::string> tree(const std::string& root) {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        out.insert(std::filesystem::relative(e.path(), root).string());
    return out;
}

}  // namespace quarry::test
