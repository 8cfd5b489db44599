#pragma once
// Following a fork's extents and copying its bytes out in whole-block transfers.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <array>

#include "common/result.h"
#include "hfs/catalog_layout.h"
#include "hfs/volume.h"
#include "volume/byte_sink.h"

namespace quarry {

using ExtentRecord = std::array<uint8_t, kExtentRecordSize>;

inline ExtentRecord extentRecordAt(const uint8_t* p) {
    ExtentRecord r{};
    for (size_t i = 0; i < r.size(); ++i) r[i] = p[i];
    return r;
}
inline uint16_t extentStart(const ExtentRecord& r, int i) { return loadBE16(r.data() + 4 * i); }
inline uint16_t extentCount(const ExtentRecord& r, int i) { return loadBE16(r.data() + 4 * i + 2); }

// Appends exactly the first byteCount bytes of the fork to sink, continuing in the
// extents-overflow tree after the third extent. fileID and forkType serve the overflow lookups.
// With `zeroFill`, unreadable sectors are written as zeros and recorded there. When the medium
// is a plain image file and the sink takes it, each run is copied by the kernel; a run past the
// end of the image is then a read error before anything of the fork is written.
Status readForkToFile(const VolumeContext& context, const ExtentRecord& extents, ByteSink& sink, uint32_t fileID,
                      uint32_t byteCount, uint8_t forkType, UnreadableSectors* zeroFill = nullptr);
// Appends byteCount bytes read from allocation block startBlock on.
Status readBlocksToFile(const VolumeContext& context, ByteSink& sink, uint32_t startBlock, uint32_t byteCount,
                        UnreadableSectors* zeroFill = nullptr);
// The runs of the medium that hold the fork's first byteCount bytes, in the fork's order: one
// per extent, the last clipped to the length. They hold fewer bytes when the fork's extents end
// before its length. A fault for an extent past the end of the volume or a damaged overflow tree.
Result<std::vector<ForkRun>> forkRuns(const VolumeContext& context, const ExtentRecord& extents, uint32_t fileID,
                                      uint32_t byteCount, uint8_t forkType);

// The extent record that continues the fork at fork-relative allocation block startBlock.
std::optional<ExtentRecord> findExtentRecord(const VolumeContext& context, uint32_t fileID, uint32_t startBlock, uint8_t forkType);
// The absolute sector holding the fork's 512-byte unit index, or 0 past the fork's extents.
uint32_t forkSectorAt(const VolumeContext& context, uint32_t index, const ExtentRecord& extents, uint32_t fileID, uint8_t forkType);

}  // namespace quarry
