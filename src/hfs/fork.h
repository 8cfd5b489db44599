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
    // Appends `length` bytes of the file `fd` from `offset` on by the kernel's own copy. True
    // when they were appended; false when this sink or the kernel cannot do it (nothing is then
    // appended, and the caller reads and writes the bytes itself); a fault when writing failed.
    virtual Result<bool> copyFromFile(int /*fd*/, uint64_t /*offset*/, uint64_t /*length*/) { return false; }
};

// Writes to an open file descriptor, gathering small writes into larger ones. The owner calls
// flush() before it closes the descriptor.
class FdSink : public ByteSink {
public:
    // The kernel's file-to-file copy, copy_file_range(2) unless a test puts another in.
    using KernelCopyFn = decltype(&::copy_file_range);

    explicit FdSink(int fd) : fd_(fd), kernelCopy_(&::copy_file_range) {}
    bool write(const uint8_t* data, size_t length) override;
    bool flush() override;
    std::string error() const override { return error_; }
    Result<bool> copyFromFile(int fd, uint64_t offset, uint64_t length) override;
    void setKernelCopy(KernelCopyFn copy) { kernelCopy_ = copy; }

private:
    bool writeThrough(const uint8_t* data, size_t length);

    static constexpr size_t kGather = 256 * 1024;
    int fd_;
    KernelCopyFn kernelCopy_;
    // Once the kernel has refused (another file system, a port, an old kernel), it is not asked
    // again for this file.
    bool kernelRefused_ = false;
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
// With `zeroFill`, unreadable sectors are written as zeros and recorded there. When the medium
// is a plain image file and the sink takes it, each run is copied by the kernel; a run past the
// end of the image is then a read error before anything of the fork is written.
Status readForkToFile(const VolumeContext& context, const ExtentRecord& extents, ByteSink& sink, uint32_t fileID,
                      uint32_t byteCount, uint8_t forkType, UnreadableSectors* zeroFill = nullptr);
// Appends byteCount bytes read from allocation block startBlock on.
Status readBlocksToFile(const VolumeContext& context, ByteSink& sink, uint32_t startBlock, uint32_t byteCount,
                        UnreadableSectors* zeroFill = nullptr);
// A stretch of the medium holding consecutive bytes of a fork.
struct ForkRun {
    uint64_t mediumOffset = 0;  // bytes from the start of the medium
    uint64_t forkOffset = 0;    // bytes from the start of the fork
    uint32_t length = 0;
};
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
