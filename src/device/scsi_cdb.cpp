#include "device/scsi_cdb.h"

namespace quarry::scsi {

std::optional<BlockTransfer> decodeBlockTransfer(const ScsiCommand& command) {
    const uint8_t* cdb = command.cdb.data();
    BlockTransfer transfer;
    switch (cdb[cdb6::kOpcode]) {
    case kRead6:
    case kWrite6:
        if (command.cdbLength < kSixByteCdbLength) return std::nullopt;
        transfer.kind = cdb[cdb6::kOpcode] == kRead6 ? TransferKind::Read : TransferKind::Write;
        transfer.firstBlock = uint32_t{static_cast<uint8_t>(cdb[cdb6::kAddressHigh] & cdb6::kAddressHighMask)} << 16 |
                              uint32_t{cdb[cdb6::kAddressMid]} << 8 | uint32_t{cdb[cdb6::kAddressLow]};
        transfer.blockCount = cdb[cdb6::kLength] == 0 ? cdb6::kZeroLengthBlocks : cdb[cdb6::kLength];
        return transfer;
    case kRead10:
    case kWrite10:
        if (command.cdbLength < kTenByteCdbLength) return std::nullopt;
        transfer.kind = cdb[cdb10::kOpcode] == kRead10 ? TransferKind::Read : TransferKind::Write;
        transfer.firstBlock = readBe32(cdb + cdb10::kAddress);
        transfer.blockCount = readBe16(cdb + cdb10::kLength);
        return transfer;
    default:
        return std::nullopt;
    }
}

std::optional<ScsiCommand> tenByteEquivalent(const ScsiCommand& command) {
    const uint8_t opcode = command.cdb[cdb6::kOpcode];
    if (opcode != kRead6 && opcode != kWrite6) return std::nullopt;
    const std::optional<BlockTransfer> transfer = decodeBlockTransfer(command);
    if (!transfer) return std::nullopt;

    ScsiCommand wide = command;
    wide.cdb = {};
    wide.cdbLength = kTenByteCdbLength;
    wide.cdb[cdb10::kOpcode] = opcode == kRead6 ? kRead10 : kWrite10;
    writeBe32(wide.cdb.data() + cdb10::kAddress, transfer->firstBlock);
    writeBe16(wide.cdb.data() + cdb10::kLength, static_cast<uint16_t>(transfer->blockCount));
    wide.cdb[cdb10::kControl] = command.cdb[cdb6::kControl];
    return wide;
}

}  // namespace quarry::scsi
