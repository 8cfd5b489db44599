#pragma once
// The values of the volume information sheet, computed once when it opens.

#include <cstdint>
#include <string>
#include <vector>

namespace quarry {

struct Session;

struct VolumeInfoValue {
    int control;
    const char* label;
    uint64_t value;
};

// In the sheet's order. Products and sums are 32-bit unsigned, as the sheet shows them.
std::vector<VolumeInfoValue> VolumeInfoValues(const Session& session);

}  // namespace quarry
