#pragma once
// What the harnesses that mount an input share: the bounds on their work; the input served by the
// image adapter from a memfd, as an image file named on the command line is served, with its drive
// selected as at start-up; a sink that only counts what a fork reader gives it; the check that
// each place of damage is told once.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "hfs/fork.h"
#include "support/recording_ui.h"

namespace quarry::fuzz {

// Bounds on the work for one input, so that a volume claiming millions of entries or forks of
// gigabytes keeps the fuzzer fast; everything below them is the reader's own.
constexpr int kMaxEntries = 2000;
constexpr int kMaxDepth = 12;
constexpr uint64_t kReadBudget = 4u << 20;

class DiscardSink : public ByteSink {
public:
    bool write(const uint8_t*, size_t length) override {
        written += length;
        return true;
    }
    std::string error() const override { return {}; }
    uint64_t written = 0;
};

// False when the adapter refuses the input: a file that looks like a container (zip, gzip, UDIF,
// DiskCopy, a cue sheet) and is damaged is refused with its message, as both programs refuse it.
inline bool selectInput(const uint8_t* data, size_t size, DeviceState& device, ScsiBus& bus, ScsiDeviceTable& table,
                        UiPort& ui) {
    static const int fd = memfd_create("fuzz-image", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0) __builtin_trap();
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) __builtin_trap();
        done += static_cast<size_t>(n);
    }
    auto adapter = std::make_unique<ImageAdapter>();
    if (!adapter->addImage("/proc/self/fd/" + std::to_string(fd), ImageAccess::ReadOnly)) return false;
    bus.adapters.push_back(std::move(adapter));
    device.bus = &bus;
    PrepareCdAccess(device);
    if (SelectCdromDrive(device, table, ui) != 1) __builtin_trap();
    return true;
}

// Each place of damage is told once.
inline void expectEachOnce(std::vector<std::string> reports) {
    std::sort(reports.begin(), reports.end());
    if (std::adjacent_find(reports.begin(), reports.end()) != reports.end()) __builtin_trap();
}

}  // namespace quarry::fuzz
