#pragma once
// An HFS+ volume of an image file, read as the program reads it: the image on the image adapter,
// the drive selected through the bus scan, the volume mounted through a DeviceMedium.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "hfsplus/volume.h"
#include "support/recording_ui.h"

namespace quarry::test {

// The byte where the first Apple_HFS partition of an Apple partition map begins, read from the
// image file itself so that the tests do not lean on the reader they check; 0 without a map.
inline uint64_t applePartitionStart(const std::string& image) {
    std::ifstream in(image, std::ios::binary);
    auto be = [](const unsigned char* p, int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
        return v;
    };
    unsigned char block[512];
    if (!in.read(reinterpret_cast<char*>(block), sizeof block) || block[0] != 'E' || block[1] != 'R') return 0;
    const uint64_t blockSize = be(block + 2, 2);
    for (uint64_t entry = 1; entry < 64; ++entry) {
        in.seekg(static_cast<std::streamoff>(entry * blockSize));
        if (!in.read(reinterpret_cast<char*>(block), sizeof block) || block[0] != 'P' || block[1] != 'M') return 0;
        if (std::string(reinterpret_cast<char*>(block + 48), 9) == "Apple_HFS") return be(block + 8, 4) * blockSize;
    }
    return 0;
}

struct HfsPlusImage {
    RecordingUi ui;
    DeviceState device;
    ScsiBus bus;
    ScsiDeviceTable table;
    std::unique_ptr<hfsplus::DeviceMedium> medium;
    std::unique_ptr<hfsplus::Volume> volume;
    std::string fault;  // why the volume did not mount

    // The volume at byte `start` of the image (the first Apple_HFS partition when none is given).
    explicit HfsPlusImage(const std::string& image, std::optional<uint64_t> start = std::nullopt) {
        auto adapter = std::make_unique<ImageAdapter>();
        if (auto target = adapter->addImage(image, ImageAccess::ReadOnly); !target) {
            fault = target.fault();
            return;
        }
        bus.adapters.push_back(std::move(adapter));
        device.bus = &bus;
        PrepareCdAccess(device);
        if (SelectCdromDrive(device, table, ui) != 1) {
            fault = "the adapter offers no drive";
            return;
        }
        medium = std::make_unique<hfsplus::DeviceMedium>(device);
        auto opened = hfsplus::Volume::open(*medium, start.value_or(applePartitionStart(image)));
        if (!opened) {
            fault = opened.fault();
            return;
        }
        volume = std::move(*opened);
    }
    hfsplus::Volume& operator*() { return *volume; }
    hfsplus::Volume* operator->() { return volume.get(); }
};

}  // namespace quarry::test
