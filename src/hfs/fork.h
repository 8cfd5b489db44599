#pragma once
// Following a fork's extents and copying its bytes out in whole-block transfers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <array>

#include "common/result.h"
#include "hfs/catalog_layout.h"
#include "hfs/volume.h"

namespace quarry {

using ExtentRecord = std::array<uint8_t, kExtentRecordSize>;

inline ExtentRecord extentRecordAt(const uint8_t* p) {
    ExtentRecord r{};
    for (size_t i = 0; i < r.size(); ++i) r[i] = p[i];
    return r;
}
inline uint16_t extentStart(const ExtentRecord& r, int i) { return loadBE16(r.data() + 4 * i); }
inline uint16_t extentCount(const ExtentRecord& r, int i) { return loadBE16(r.data() + 4 * i + 2); }

// Where the bytes of a fork go: a PC file, a port, a work file.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False when the bytes could not be written; error() then says why.
    virtual bool write(const uint8_t* data, size_t length) = 0;
    // Passes on what is still held back; false when that cannot be written.
    virtual bool flush() { return true; }
    virtual std::string error() const = 0;
};

// Writes to an open file descriptor, gathering small writes into larger ones. The owner calls
// flush() before it closes the descriptor.
class FdSink : public ByteSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}
    bool write(const uint8_t* data, size_t length) override;
    bool flush() override;
    std::string error() const override { return error_; }

private:
    bool writeThrough(const uint8_t* data, size_t length);

    static constexpr size_t kGather = 256 * 1024;
    int fd_;
    std::vector<uint8_t> pending_;
    std::string error_;
};

// What a fork copy does with a sector that cannot be read. By default the copy of the fork
// stops there with a fault naming the sector, so that no copy is ever completed with bytes that
// were not read. A caller that prefers a finished file with a gap passes an UnreadableSectors: each
// such 512-byte sector is written as zeros and its number appended to `sectors`.
struct UnreadableSectors {
    std::vector<uint32_t> sectors;  // absolute 512-byte sector numbers, in the order met
};

// Appends exactly the first byteCount bytes of the fork to sink, continuing in the
// extents-overflow tree after the third extent. fileID and forkType serve the overflow lookups.
// With `zeroFill`, unreadable sectors are written as zeros and recorded there.
Status readForkToFile(const VolumeContext& context, const ExtentRecord& extents, ByteSink& sink, uint32_t fileID,
                      uint32_t byteCount, uint8_t forkType, UnreadableSectors* zeroFill = nullptr);
// Appends byteCount bytes read from allocation block startBlock on.
Status readBlocksToFile(const VolumeContext& context, ByteSink& sink, uint32_t startBlock, uint32_t byteCount,
                        UnreadableSectors* zeroFill = nullptr);
// The extent record that continues the fork at fork-relative allocation block startBlock.
std::optional<ExtentRecord> findExtentRecord(const VolumeContext& context, uint32_t fileID, uint32_t startBlock, uint8_t forkType);
// The absolute sector holding the fork's 512-byte unit index, or 0 past the fork's extents.
uint32_t forkSectorAt(const VolumeContext& context, uint32_t index, const ExtentRecord& extents, uint32_t fileID, uint8_t forkType);

}  // namespace quarry
