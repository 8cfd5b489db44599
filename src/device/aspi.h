#pragma once
// ASPI-shaped entry points over the ScsiBus: the support-information call and the request
// blocks for host adapter inquiry, get device type and execute SCSI command. The fields mirror
// the published request blocks; completion is reported in the status byte, which callers poll.

#include <array>
#include <cstdint>

#include "device/scsi_bus.h"

namespace quarry {

namespace srb {
inline constexpr uint8_t kHostAdapterInquiry = 0;
inline constexpr uint8_t kGetDeviceType = 1;
inline constexpr uint8_t kExecuteScsi = 2;
inline constexpr uint8_t kDirectionIn = 0x08;
inline constexpr uint8_t kDirectionOut = 0x10;
inline constexpr uint8_t kDirectionMask = kDirectionIn | kDirectionOut;
// The support-information word carries the completion status above the adapter count.
inline constexpr unsigned kSupportStatusShift = 8;
inline constexpr uint32_t kSupportCountMask = 0xFF;
}  // namespace srb

struct ScsiRequestBlock {
    uint8_t command = 0;
    uint8_t status = aspi::kPending;
    uint8_t adapter = 0;
    uint8_t flags = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    // host adapter inquiry reply
    uint8_t adapterCount = 0;
    std::array<char, 16> managerId{};
    std::array<uint8_t, 16> adapterUnique{};
    // get device type reply
    uint8_t deviceType = 0;
    // execute SCSI command
    uint32_t bufferLength = 0;
    uint8_t* buffer = nullptr;
    uint8_t senseLength = 0;
    uint8_t cdbLength = 0;
    std::array<uint8_t, 16> cdb{};
};

// The support-information word: completion status in bits 8..15, adapter count in bits 0..7.
// A bus with no adapter at all still answers "completed" with a count of 0, so that the program
// reaches its "no drive" path instead of reporting a missing manager.
uint32_t GetAspiSupportInfo(const ScsiBus& bus);
// Sends one request block; the status byte says how it ended. Every adapter runs a command to
// completion before it returns, so the status is never left pending and a caller's poll of it
// ends at once.
void SendAspiCommand(ScsiBus& bus, ScsiRequestBlock& block);

}  // namespace quarry
