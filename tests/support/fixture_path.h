#pragma once
// Where the build put the volumes made by tests/fixtures/make_fixtures.sh, and copies of them
// that a test may change.

#include <cctype>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace quarry::test {

inline std::string fixturePath(const char* name) { return std::string(QUARRY_FIXTURE_DIR) + "/" + name; }

inline std::string writableCopy(const TempDir& dir, const char* fixture) {
    const std::string copy = dir.file(fixture);
    std::filesystem::copy_file(fixturePath(fixture), copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    return copy;
}

// A test name for a fixture given as a parameter ("basic.hfs" gives "basic_hfs").
struct FixtureParamName {
    template <typename Info>
    std::string operator()(const Info& info) const {
        std::string n = info.param;
        for (char& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return n;
    }
};

}  // namespace quarry::test
