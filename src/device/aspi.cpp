#include "device/aspi.h"

#include <algorithm>
#include <limits>

namespace quarry {
namespace {

HostAdapter* adapterAt(ScsiBus& bus, uint8_t number) {
    return number < bus.adapters.size() ? bus.adapters[number].get() : nullptr;
}

uint8_t adapterCount(const ScsiBus& bus) {
    // The count travels in one byte of the reply.
    return static_cast<uint8_t>(std::min<size_t>(bus.adapters.size(), std::numeric_limits<uint8_t>::max()));
}

DataDirection directionFromFlags(uint8_t flags) {
    switch (flags & srb::kDirectionMask) {
    case srb::kDirectionIn:
        return DataDirection::In;
    case srb::kDirectionOut:
        return DataDirection::Out;
    default:
        // Flags 0 leave the direction to the command itself (INQUIRY is sent that way).
        return DataDirection::None;
    }
}

void inquireHostAdapter(ScsiBus& bus, HostAdapter& adapter, ScsiRequestBlock& block) {
    block.adapterCount = adapterCount(bus);
    const std::string id = adapter.managerId();
    block.managerId.fill(0);
    std::copy_n(id.begin(), std::min(id.size(), block.managerId.size()), block.managerId.begin());
    block.status = aspi::kCompleted;
}

void getDeviceType(HostAdapter& adapter, ScsiRequestBlock& block) {
    const int type = block.target < kTargetsPerAdapter ? adapter.deviceType(block.target) : -1;
    if (type < 0) {
        block.status = aspi::kNoDevice;
        return;
    }
    block.deviceType = static_cast<uint8_t>(type);
    block.status = aspi::kCompleted;
}

void executeScsi(HostAdapter& adapter, ScsiRequestBlock& block) {
    if (block.target >= kTargetsPerAdapter) {
        block.status = aspi::kNoDevice;
        return;
    }
    ScsiCommand command;
    if (block.cdbLength == 0 || block.cdbLength > command.cdb.size()) {
        block.status = aspi::kInvalidCommand;
        return;
    }
    std::copy_n(block.cdb.begin(), block.cdbLength, command.cdb.begin());
    command.cdbLength = block.cdbLength;
    command.direction = directionFromFlags(block.flags);
    command.buffer = block.buffer;
    command.bufferLength = block.bufferLength;
    const uint8_t status = adapter.execute(block.target, command);
    // A pending answer would leave the caller polling forever; every adapter finishes before
    // it returns, so a pending status can only be an adapter's fault.
    block.status = status == aspi::kPending ? aspi::kError : status;
}

}  // namespace

uint32_t GetAspiSupportInfo(const ScsiBus& bus) {
    return uint32_t{aspi::kCompleted} << srb::kSupportStatusShift | adapterCount(bus);
}

void SendAspiCommand(ScsiBus& bus, ScsiRequestBlock& block) {
    block.status = aspi::kPending;
    if (block.command != srb::kHostAdapterInquiry && block.command != srb::kGetDeviceType &&
        block.command != srb::kExecuteScsi) {
        block.status = aspi::kInvalidCommand;
        return;
    }
    HostAdapter* adapter = adapterAt(bus, block.adapter);
    if (adapter == nullptr) {
        block.adapterCount = 0;
        block.status = aspi::kInvalidAdapter;
        return;
    }
    switch (block.command) {
    case srb::kHostAdapterInquiry:
        inquireHostAdapter(bus, *adapter, block);
        break;
    case srb::kGetDeviceType:
        getDeviceType(*adapter, block);
        break;
    default:
        executeScsi(*adapter, block);
        break;
    }
}

}  // namespace quarry
