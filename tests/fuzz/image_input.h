#pragma once
// What the harnesses that mount an input share: the input served by the image adapter from a
// memfd, as an image file named on the command line is served, with its drive selected as at
// start-up; and a sink that only counts what a fork reader gives it.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "hfs/fork.h"
#include "support/recording_ui.h"

namespace quarry::fuzz {

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

}  // namespace quarry::fuzz
