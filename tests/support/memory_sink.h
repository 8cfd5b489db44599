#pragma once
// A byte sink that keeps what it receives, for tests of fork reading.

#include <cstdint>
#include <string>
#include <vector>

#include "hfs/fork.h"

namespace quarry::test {

struct MemorySink : ByteSink {
    bool write(const uint8_t* data, size_t length) override {
        if (failAfter >= 0 && bytes.size() + length > static_cast<size_t>(failAfter)) return false;
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    std::string error() const override { return "No space left on device"; }

    std::vector<uint8_t> bytes;
    long failAfter = -1;  // refuse a write that would take the total past this many bytes; -1 never
};

}  // namespace quarry::test
