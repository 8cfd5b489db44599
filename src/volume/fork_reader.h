#pragma once
// One fork of a file of a mounted volume: its bytes copied out whole, read a 512-byte unit at a
// time, and the runs of the medium they lie in.

#include <cstdint>
#include <vector>

#include "common/result.h"
#include "volume/byte_sink.h"

namespace quarry {

inline constexpr uint32_t kForkUnitSize = 512;

class ForkReader {
public:
    virtual ~ForkReader() = default;
    // Bytes of the fork, and bytes the volume allocated to it.
    virtual uint64_t length() const = 0;
    virtual uint64_t physicalLength() const = 0;
    // Appends exactly length() bytes to sink in whole-block transfers (or by the kernel's copy
    // where the medium is a plain image and the sink takes it). Unreadable sectors stop the copy
    // with a fault naming the sector unless `zeroFill` is given; each is then written as zeros and
    // recorded there.
    virtual Status copyTo(ByteSink& sink, UnreadableSectors* zeroFill = nullptr) = 0;
    // Reads the 512-byte unit `index` of the fork's allocated bytes into out. False past the
    // fork's storage; a fault when the unit's place cannot be found or its sector cannot be read.
    virtual Result<bool> readUnit(uint64_t index, uint8_t* out) = 0;
    // The runs of the medium that hold the fork's bytes, in the fork's order; they hold fewer
    // bytes than length() when the fork's storage ends early. A fork that is not stored plainly
    // (compressed) has none.
    virtual Result<std::vector<ForkRun>> runs() = 0;
    // The runs of all the storage the volume allocated to the fork (physicalLength()).
    virtual Result<std::vector<ForkRun>> allocatedRuns() = 0;
};

}  // namespace quarry
