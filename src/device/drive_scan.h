#pragma once
// Finding the CD-ROM drives on the bus and choosing one.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/sector_source.h"

namespace quarry {

class UiPort;

inline constexpr size_t kDeviceTableRows = 25;
inline constexpr size_t kDeviceRowSize = 34;

struct ScsiDeviceTable {
    std::array<std::array<uint8_t, kDeviceRowSize>, kDeviceTableRows> rows{};
};

// Walks every host adapter and targets 0..7, filling the table with an adapter row per adapter,
// a row per CD-ROM drive and the end row; sets TargetId to 0 first. The scan stops when the table
// is full. High byte: number of host adapters; low byte: number of CD-ROM rows.
uint16_t ScanScsiBus(DeviceState& device, ScsiDeviceTable& table);
// "[a|t] VENDOR - PRODUCT         " for each CD-ROM row, in table order.
std::vector<std::string> DriveEntryTexts(const ScsiDeviceTable& table);
void PrepareCdAccess(DeviceState& device);
// 1 when a drive was chosen (HostAdapterId and TargetId set), 0 when none was found or the user
// cancelled. A single drive is taken without asking; more go to UiPort::chooseDrive, sorted.
// Cancelling, or adapters without any CD-ROM drive, leave both ids at kNoSelection. The one-block
// cache is emptied, since the drive or its medium may have changed.
int SelectCdromDrive(DeviceState& device, ScsiDeviceTable& table, UiPort& ui);

}  // namespace quarry
