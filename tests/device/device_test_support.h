#pragma once
// What the device tests share: media whose every sector can be recognised, and a bus of scripted
// adapters with the CD-ROM sector source installed as at start-up.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "device/image_adapter.h"
#include "device/scsi_cdb.h"
#include "device/sector_source.h"
#include "support/scripted_adapter.h"

namespace quarry::devicetest {

using Bytes = std::vector<uint8_t>;

// 512-byte sectors numbered from `first`: no two sectors of a small medium are alike, so a
// shifted or misplaced copy shows.
inline Bytes patternedMedium(uint32_t sectors, uint8_t salt = 0, uint32_t first = 0) {
    Bytes medium(size_t{sectors} * kSectorSize);
    for (size_t i = 0; i < medium.size(); ++i) {
        const auto s = static_cast<uint32_t>(first + i / kSectorSize), o = static_cast<uint32_t>(i % kSectorSize);
        medium[i] = static_cast<uint8_t>(s * 37 + o * 13 + (o >> 8) + salt);
    }
    return medium;
}

inline Bytes patternedSector(uint32_t sector, uint8_t salt = 0) { return patternedMedium(1, salt, sector); }

// A READ or WRITE CDB of `count` blocks from `block`: the ten-byte form for READ(10) and
// WRITE(10), the six-byte one (the count cut to a byte) for any other opcode.
inline Bytes transferCdb(uint8_t opcode, uint32_t block, uint16_t count = 1) {
    const auto at = [](uint32_t v, int shift) { return static_cast<uint8_t>(v >> shift); };
    if (opcode == scsi::kRead10 || opcode == scsi::kWrite10)
        return {opcode, 0, at(block, 24), at(block, 16), at(block, 8), at(block, 0), 0, at(count, 8), at(count, 0), 0};
    return {opcode, at(block, 16), at(block, 8), at(block, 0), at(count, 0), 0};
}

inline ScsiCommand commandOf(const Bytes& cdb, DataDirection direction = DataDirection::None, uint32_t length = 0, uint8_t* buffer = nullptr) {
    ScsiCommand c;
    std::copy(cdb.begin(), cdb.end(), c.cdb.begin());
    c.cdbLength = static_cast<uint8_t>(cdb.size());
    c.direction = direction;
    c.bufferLength = length;
    c.buffer = buffer;
    return c;
}

// Every block the adapter serves for an image, read eight at a time as the mount reads them.
inline std::string served(ImageAdapter& images, uint8_t target = 0) {
    std::string bytes((images.imageSize(target) + 2047) / 2048 * 2048, '\0');
    for (uint32_t block = 0; block * 2048ull < bytes.size(); block += 8) {
        const uint32_t count = std::min<uint32_t>(8, static_cast<uint32_t>(bytes.size() / 2048 - block));
        ScsiCommand c = commandOf(transferCdb(scsi::kRead10, block, static_cast<uint16_t>(count)), DataDirection::In, count * 2048,
                                  reinterpret_cast<uint8_t*>(bytes.data()) + block * 2048ull);
        EXPECT_EQ(images.execute(target, c), aspi::kCompleted) << "block " << block;
    }
    return bytes;
}

struct ScriptedBus {
    ScsiBus bus;
    DeviceState device;

    ScriptedBus() {
        device.bus = &bus;
        device.sectorSource = ReadCdSector;
        device.cdBlockCache.assign(kCdBlockSize, 0);
    }
    ScriptedAdapter& addAdapter(std::string managerId = "SCRIPTED") {
        bus.adapters.push_back(std::make_unique<ScriptedAdapter>(std::move(managerId)));
        return adapter(bus.adapters.size() - 1);
    }
    ScriptedAdapter& adapter(size_t n) { return static_cast<ScriptedAdapter&>(*bus.adapters.at(n)); }
    void select(uint8_t adapter, uint8_t target) {
        device.hostAdapterId = adapter;
        device.targetId = target;
    }
    // The CDBs that reached adapter n, in order.
    std::vector<Bytes> cdbs(size_t n = 0) {
        std::vector<Bytes> out;
        for (const RecordedCommand& c : adapter(n).commands()) out.push_back(c.cdb);
        return out;
    }
};

}  // namespace quarry::devicetest
