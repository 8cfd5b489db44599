#pragma once
// A private directory for one test, made under $TMPDIR (or /tmp) and removed with everything in
// it when the object goes out of scope.

#include <string>
#include <string_view>

namespace quarry::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of an entry inside the directory; nothing is created.
    std::string file(std::string_view name) const;

private:
    std::string path_;
};

}  // namespace quarry::test
