#pragma once
// Where an HFS+ volume's bytes come from: any number of bytes at a byte offset of the medium.
// The program reads them through the selected drive (DeviceMedium); the volume code asks no more
// of the medium than this, so it reads a volume wherever it lies.

#include <cstdint>
#include <span>
#include <vector>

#include "common/result.h"
#include "device/sector_source.h"
#include "volume/byte_sink.h"

namespace quarry::hfsplus {

class Medium {
public:
    virtual ~Medium() = default;
    // Fills `out` with the medium's bytes from byte `offset` on; a fault names the place that
    // could not be read.
    virtual Status read(uint64_t offset, std::span<uint8_t> out) = 0;
    // Bytes of the medium; 0 when the drive cannot say.
    virtual uint64_t size() const = 0;
};

// The selected drive of a DeviceState: whole 2048-byte blocks through the CD transfer, as the HFS
// fork reads do, with a window of recent blocks kept so that neighbouring B-tree nodes cost one
// transfer.
class DeviceMedium : public Medium {
public:
    explicit DeviceMedium(DeviceState& device);
    Status read(uint64_t offset, std::span<uint8_t> out) override;
    uint64_t size() const override { return size_; }

private:
    static constexpr uint32_t kWindowBlocks = 32;
    static constexpr uint32_t kBlocksPerRequest = 16;

    Status readBlocks(uint64_t block, uint32_t count, uint8_t* buffer);

    DeviceState& device_;
    uint64_t size_ = 0;
    std::vector<uint8_t> window_;
    uint64_t windowBlock_ = 0;  // the device block at the window's start
};

// Reads a piece that would not read whole a sector at a time; each sector that still fails reads
// as zeros, and is named in zeroFill.
void readSectorBySector(Medium& medium, uint64_t at, std::span<uint8_t> piece, UnreadableSectors& zeroFill);

}  // namespace quarry::hfsplus
