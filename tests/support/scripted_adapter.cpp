#include "support/scripted_adapter.h"

#include <algorithm>
#include <cstring>
#include <cassert>

#include "device/scsi_cdb.h"

namespace quarry {
namespace {

void putField(uint8_t* out, const std::string& text, size_t length) {
    std::memset(out, ' ', length);
    std::memcpy(out, text.data(), std::min(text.size(), length));
}

}  // namespace

ScriptedAdapter::ScriptedAdapter(std::string managerId) : managerId_(std::move(managerId)) {}

ScriptedTarget& ScriptedAdapter::addTarget(uint8_t target, ScriptedTarget device) {
    assert(target < kTargetsPerAdapter && "a target id of the narrow bus");
    return targets_[target] = std::move(device);
}

ScriptedTarget& ScriptedAdapter::target(uint8_t target) { return targets_.at(target); }

void ScriptedAdapter::failNext(int count, uint8_t status) {
    failNextCount_ = count;
    failNextStatus_ = status;
}

void ScriptedAdapter::failBlock(uint32_t block, uint8_t status, int times) {
    blockFailures_.push_back({block, status, times});
}

int ScriptedAdapter::deviceType(uint8_t target) {
    const auto found = targets_.find(target);
    return found == targets_.end() ? -1 : found->second.deviceType;
}

uint8_t ScriptedAdapter::execute(uint8_t target, ScsiCommand& command) {
    RecordedCommand record;
    record.target = target;
    record.cdb.assign(command.cdb.begin(), command.cdb.begin() + std::min<size_t>(command.cdbLength, command.cdb.size()));
    record.direction = command.direction;
    record.bufferLength = command.bufferLength;

    const auto found = targets_.find(target);
    if (found == targets_.end()) {
        record.status = aspi::kNoDevice;
    } else if (std::optional<uint8_t> failure = scriptedFailure(command)) {
        record.status = *failure;
    } else {
        record.status = run(found->second, command);
    }
    commands_.push_back(record);
    return record.status;
}

std::optional<uint8_t> ScriptedAdapter::scriptedFailure(const ScsiCommand& command) {
    if (failNextCount_ > 0) {
        --failNextCount_;
        return failNextStatus_;
    }
    const std::optional<scsi::BlockTransfer> transfer = scsi::decodeBlockTransfer(command);
    if (!transfer) return std::nullopt;
    if (transfer->kind == scsi::TransferKind::Write && failWriteIn_ > 0 && --failWriteIn_ == 0) return failWriteStatus_;
    for (BlockFailure& failure : blockFailures_) {
        const bool touches = failure.block >= transfer->firstBlock && failure.block - transfer->firstBlock < transfer->blockCount;
        if (!touches || failure.times == 0) continue;
        if (failure.times > 0) --failure.times;
        return failure.status;
    }
    return std::nullopt;
}

uint8_t ScriptedAdapter::run(ScriptedTarget& device, ScsiCommand& command) {
    const uint8_t opcode = command.cdb[scsi::cdb6::kOpcode];
    if (opcode == scsi::kTestUnitReady || opcode == scsi::kSynchronizeCache10) return aspi::kCompleted;
    if (opcode == scsi::kReadCapacity10) {
        const uint64_t blocks = device.blockSize == 0 ? 0 : (device.medium.size() + device.blockSize - 1) / device.blockSize;
        if (blocks == 0 || command.buffer == nullptr || command.bufferLength < scsi::capacity::kReplyLength) return aspi::kError;
        scsi::writeBe32(command.buffer + scsi::capacity::kLastBlock, static_cast<uint32_t>(blocks - 1));
        scsi::writeBe32(command.buffer + scsi::capacity::kBlockLength, device.blockSize);
        return aspi::kCompleted;
    }
    if (opcode == scsi::kInquiry) {
        uint8_t data[scsi::inquiry::kStandardLength] = {};
        data[scsi::inquiry::kDeviceType] = device.deviceType;
        data[scsi::inquiry::kAdditionalLength] = scsi::inquiry::kStandardLength - (scsi::inquiry::kAdditionalLength + 1);
        putField(data + scsi::inquiry::kVendor, device.vendor, scsi::inquiry::kVendorLength);
        putField(data + scsi::inquiry::kProduct, device.product, scsi::inquiry::kProductLength);
        putField(data + scsi::inquiry::kRevision, device.revision, scsi::inquiry::kRevisionLength);
        const size_t length = std::min<size_t>(scsi::readBe16(command.cdb.data() + scsi::inquiry::kAllocationLength), sizeof data);
        if (length > command.bufferLength || command.buffer == nullptr) return aspi::kError;
        std::memcpy(command.buffer, data, length);
        return aspi::kCompleted;
    }

    const std::optional<scsi::BlockTransfer> transfer = scsi::decodeBlockTransfer(command);
    if (!transfer) return aspi::kError;
    const uint64_t length = uint64_t{transfer->blockCount} * device.blockSize;
    if (length > command.bufferLength || (length > 0 && command.buffer == nullptr)) return aspi::kError;
    if (length == 0) return aspi::kCompleted;
    const uint64_t offset = uint64_t{transfer->firstBlock} * device.blockSize;
    const uint64_t size = device.medium.size();

    if (transfer->kind == scsi::TransferKind::Read) {
        std::memset(command.buffer, 0, length);
        if (offset < size) std::memcpy(command.buffer, device.medium.data() + offset, std::min(length, size - offset));
        return aspi::kCompleted;
    }
    if (device.writeProtected) return aspi::kWriteProtected;
    if (offset > size || length > size - offset) return aspi::kError;
    blocksWritten_ += transfer->blockCount;
    uint64_t reaching = transfer->blockCount;
    if (cutAfter_) {
        reaching = std::min(reaching, *cutAfter_);
        *cutAfter_ -= reaching;
    }
    std::memcpy(device.medium.data() + offset, command.buffer, reaching * device.blockSize);
    return aspi::kCompleted;
}

}  // namespace quarry
