#pragma once
// Where the bytes of a fork go (a PC file, a port, a digest), and what a copy does with the
// sectors it cannot read. Every volume format's fork readers write through these.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace quarry {

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

// A stretch of the medium holding consecutive bytes of a fork.
struct ForkRun {
    uint64_t mediumOffset = 0;  // bytes from the start of the medium
    uint64_t forkOffset = 0;    // bytes from the start of the fork
    uint64_t length = 0;
};

}  // namespace quarry
