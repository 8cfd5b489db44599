#pragma once
// Where the build put the volumes made by tests/fixtures/make_fixtures.sh.

#include <string>

namespace quarry::test {

inline std::string fixturePath(const char* name) { return std::string(QUARRY_FIXTURE_DIR) + "/" + name; }

}  // namespace quarry::test
