#pragma once
// What the device tests share: media whose every sector can be recognised, and a bus of scripted
// adapters. The UI port they use is the recording one of tests/support.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/scripted_adapter.h"
#include "device/sector_source.h"

namespace quarry::devicetest {

// Byte `offset` of 512-byte sector `sector` of a patterned medium: no two sectors of a small
// medium are alike, and a shifted or misplaced copy shows.
inline uint8_t patternByte(uint32_t sector, uint32_t offset, uint8_t salt = 0) {
    return static_cast<uint8_t>(sector * 37 + offset * 13 + (offset >> 8) + salt);
}

inline std::vector<uint8_t> patternedMedium(uint32_t sectors, uint8_t salt = 0) {
    std::vector<uint8_t> medium(size_t{sectors} * kSectorSize);
    for (uint32_t s = 0; s < sectors; ++s)
        for (uint32_t i = 0; i < kSectorSize; ++i) medium[size_t{s} * kSectorSize + i] = patternByte(s, i, salt);
    return medium;
}

inline std::vector<uint8_t> patternedSector(uint32_t sector, uint8_t salt = 0) {
    std::vector<uint8_t> bytes(kSectorSize);
    for (uint32_t i = 0; i < kSectorSize; ++i) bytes[i] = patternByte(sector, i, salt);
    return bytes;
}

// A bus of scripted adapters and the device state that reads from it, with the CD-ROM sector
// source installed as at start-up.
struct ScriptedBus {
    ScsiBus bus;
    DeviceState device;

    ScriptedBus() {
        device.bus = &bus;
        device.sectorSource = ReadCdSector;
        device.cdBlockCache.assign(kCdBlockSize, 0);
    }

    ScriptedAdapter& addAdapter(std::string managerId = "SCRIPTED") {
        auto adapter = std::make_unique<ScriptedAdapter>(std::move(managerId));
        ScriptedAdapter& added = *adapter;
        bus.adapters.push_back(std::move(adapter));
        return added;
    }

    ScriptedAdapter& adapter(size_t n) { return static_cast<ScriptedAdapter&>(*bus.adapters.at(n)); }

    void select(uint8_t adapter, uint8_t target) {
        device.hostAdapterId = adapter;
        device.targetId = target;
    }
};

inline std::vector<uint8_t> cdb(std::initializer_list<uint8_t> bytes) { return bytes; }

}  // namespace quarry::devicetest
