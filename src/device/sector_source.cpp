#include "device/sector_source.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/messages.h"
#include "common/ui_port.h"
#include "device/scsi_cdb.h"

namespace quarry {
namespace {

// Sense data is asked for, as the request blocks always did, but nobody reads it.
constexpr uint8_t kSenseLength = 20;

constexpr uint32_t kSectorsPerCdBlock = kCdBlockSize / kSectorSize;
constexpr unsigned kSectorToCdBlockShift = 2;
static_assert(uint32_t{1} << kSectorToCdBlockShift == kSectorsPerCdBlock);

// The PC boot record in the first 512 bytes of the medium.
namespace boot {
constexpr size_t kJump = 0;
constexpr uint8_t kShortJump = 0xEB;
constexpr size_t kByte29 = 29;  // read by the mount only through the probe's result
constexpr size_t kSignature = 510;
constexpr uint8_t kSignature0 = 0x55;
constexpr uint8_t kSignature1 = 0xAA;
constexpr size_t kRecordLength = 512;
}  // namespace boot

// The probe results the mount and the menu commands look for.
constexpr int kNoBootRecord = 0;
constexpr int kBootRecordWithoutJump = -2;
constexpr int kWriteProtectedMedium = aspi::kWriteProtected;
constexpr int kWritableMedium = 0;

uint8_t lowByte(uint32_t value) { return static_cast<uint8_t>(value); }

// Sends a request block and waits for it. ASPI says that a command has ended only through the
// status byte; SendAspiCommand never leaves it pending, so the poll ends at once.
void runRequest(DeviceState& device, ScsiRequestBlock& block) {
    if (device.bus == nullptr) {
        block.status = aspi::kInvalidAdapter;
        return;
    }
    SendAspiCommand(*device.bus, block);
    while (block.status == aspi::kPending) {
    }
}

// Fills a cleared request block with the READ/WRITE of a sector request. The six-byte command
// goes out wherever it can say what is asked, so that a drive sees what it was always sent;
// its block address has only 21 bits (the top three of byte 1 are the logical unit of SCSI-1)
// and its length byte counts to 256, which stops it at 4 GiB of 2048-byte blocks. Past that,
// or for more than 256 blocks at once, the ten-byte command carries a 32-bit address and a
// 16-bit count.
void fillTransferBlock(ScsiRequestBlock& block, const SectorRequest& request, uint32_t unitSize) {
    block = ScsiRequestBlock{};
    const bool read = request.command == cmd::kRead6;
    block.command = srb::kExecuteScsi;
    block.adapter = lowByte(request.hostAdapter);
    block.flags = read ? srb::kDirectionIn : srb::kDirectionOut;
    block.target = lowByte(request.target);
    block.bufferLength = uint32_t{request.count} * unitSize;
    block.buffer = request.buffer;
    block.senseLength = kSenseLength;
    if (request.sector <= scsi::cdb6::kMaxBlock && request.count <= scsi::cdb6::kZeroLengthBlocks) {
        block.cdbLength = scsi::kSixByteCdbLength;
        block.cdb[scsi::cdb6::kOpcode] = lowByte(request.command);
        block.cdb[scsi::cdb6::kAddressHigh] = lowByte(request.sector >> 16);
        block.cdb[scsi::cdb6::kAddressMid] = lowByte(request.sector >> 8);
        block.cdb[scsi::cdb6::kAddressLow] = lowByte(request.sector);
        // 0 here means 256 blocks.
        block.cdb[scsi::cdb6::kLength] = lowByte(request.count);
        return;
    }
    block.cdbLength = scsi::kTenByteCdbLength;
    block.cdb[scsi::cdb10::kOpcode] = read ? scsi::kRead10 : scsi::kWrite10;
    scsi::writeBe32(block.cdb.data() + scsi::cdb10::kAddress, request.sector);
    scsi::writeBe16(block.cdb.data() + scsi::cdb10::kLength, request.count);
}

}  // namespace

int InitAspi(DeviceState& device, UiPort& ui) {
    const uint32_t info = device.bus != nullptr ? GetAspiSupportInfo(*device.bus) : 0;
    if (lowByte(info >> srb::kSupportStatusShift) != aspi::kCompleted) {
        ui.fatalError(messageText(Msg::AspiInitFailed));
        return -1;
    }
    return static_cast<int>(info & srb::kSupportCountMask);
}

uint8_t InquireHostAdapter(DeviceState& device, uint8_t adapter, char managerId[16], uint8_t unique[16]) {
    ScsiRequestBlock& block = device.sharedSrb;
    block = ScsiRequestBlock{};
    block.command = srb::kHostAdapterInquiry;
    block.adapter = adapter;
    runRequest(device, block);
    std::copy(block.managerId.begin(), block.managerId.end(), managerId);
    std::copy(block.adapterUnique.begin(), block.adapterUnique.end(), unique);
    return block.adapterCount;
}

uint16_t GetDeviceType(DeviceState& device, uint8_t adapter, uint8_t target) {
    ScsiRequestBlock& block = device.sharedSrb;
    block = ScsiRequestBlock{};
    block.command = srb::kGetDeviceType;
    block.adapter = adapter;
    block.target = target;
    runRequest(device, block);
    return block.status == aspi::kCompleted ? block.deviceType : uint16_t{0xFFFF};
}

uint8_t InquireDevice(DeviceState& device, uint8_t adapter, uint8_t target, uint8_t* buffer) {
    ScsiRequestBlock& block = device.sharedSrb;
    block = ScsiRequestBlock{};
    block.command = srb::kExecuteScsi;
    block.adapter = adapter;
    block.target = target;
    block.bufferLength = kInquiryReplyLength;
    block.buffer = buffer;
    block.cdbLength = scsi::kSixByteCdbLength;
    block.cdb[scsi::cdb6::kOpcode] = scsi::kInquiry;
    scsi::writeBe16(block.cdb.data() + scsi::inquiry::kAllocationLength, static_cast<uint16_t>(kInquiryReplyLength));
    runRequest(device, block);
    return block.status;
}

uint8_t TransferDeviceBlocks(DeviceState& device, SectorRequest& request) {
    ScsiRequestBlock& block = device.sharedSrb;
    fillTransferBlock(block, request, device.deviceBlockSize);
    runRequest(device, block);
    return block.status;
}

uint16_t TransferCdBlocks(DeviceState& device, SectorRequest& request) {
    // Bulk reads come here between sector reads that use the shared block, so this one keeps
    // a request block of its own.
    ScsiRequestBlock block;
    fillTransferBlock(block, request, kCdBlockSize);
    runRequest(device, block);
    return block.status == aspi::kCompleted ? 0 : block.status;
}

uint16_t ReadCdSector(DeviceState& device, SectorRequest& request) {
    // The cache holds one block as read, so this source serves single-sector reads only. A
    // write or a multi-sector request would need a read-modify-write of the block or a bypass of
    // the cache; until the changing operations need that path it is refused untouched, rather
    // than sent with the wrong length or served from a stale cache.
    if (request.command != cmd::kRead6 || request.count != 1) return aspi::kInvalidCommand;
    if (device.cdBlockCache.size() != kCdBlockSize) device.cdBlockCache.assign(kCdBlockSize, 0);

    const uint32_t block = request.sector >> kSectorToCdBlockShift;
    uint16_t status = 0;
    if (block != device.cdBlockKey) {
        device.cdBlockKey = block;
        const uint32_t sector = request.sector;
        uint8_t* const buffer = request.buffer;
        request.sector = block;
        request.buffer = device.cdBlockCache.data();
        request.hostAdapter = device.hostAdapterId;
        status = TransferCdBlocks(device, request);
        request.sector = sector;
        request.buffer = buffer;
        // A failed read leaves the cache buffer holding partial or old bytes; keeping the key
        // would serve them as this block, with success, at the next read.
        if (status != 0) device.cdBlockKey = kNoCachedBlock;
    }
    // The caller's buffer is filled whatever the status, as callers have always seen it.
    if (request.buffer != nullptr) {
        const uint32_t offset = (request.sector % kSectorsPerCdBlock) * kSectorSize;
        std::memcpy(request.buffer, device.cdBlockCache.data() + offset, kSectorSize);
    }
    return status;
}

uint16_t TransferWithRetry(DeviceState& device, SectorRequest& request) {
    request.hostAdapter = device.hostAdapterId;
    if (request.command == cmd::kGenericRead) request.command = cmd::kRead6;
    if (request.command == cmd::kGenericWrite) request.command = cmd::kWrite6;
    uint8_t status = aspi::kPending;
    for (int attempt = 0; attempt < kTransferAttempts; ++attempt) {
        status = TransferDeviceBlocks(device, request);
        if (status == aspi::kCompleted) return 0;
    }
    return status;
}

int ProbeDosBootRecord(DeviceState& device) {
    // One device block, but never less than the boot record the tests look at.
    std::vector<uint8_t> block(std::max<size_t>(device.deviceBlockSize, boot::kRecordLength), 0);
    SectorRequest request;
    request.command = cmd::kRead6;
    request.target = device.targetId;
    request.sector = 0;
    request.count = 1;
    request.buffer = block.data();
    // A failed read leaves the buffer cleared, which reads as "no boot record".
    (void)TransferWithRetry(device, request);

    if (block[boot::kSignature] != boot::kSignature0 || block[boot::kSignature + 1] != boot::kSignature1) {
        return kNoBootRecord;
    }
    if (block[boot::kJump] != boot::kShortJump) return kBootRecordWithoutJump;
    return -static_cast<int>(block[boot::kByte29]);
}

int ProbeWriteProtection(DeviceState& device, uint8_t target, uint8_t* buffer) {
    SectorRequest request;
    request.command = cmd::kGenericRead;
    request.hostAdapter = device.hostAdapterId;
    request.target = target;
    request.sector = 0;
    request.count = 1;
    request.buffer = buffer;
    if (TransferWithRetry(device, request) != 0) return kWritableMedium;
    // Block 0 goes back exactly as it was read, so a writable medium is left unchanged.
    request.command = cmd::kGenericWrite;
    return TransferWithRetry(device, request) == aspi::kWriteProtected ? kWriteProtectedMedium : kWritableMedium;
}

namespace {

// Moves whole 2048-byte blocks, a few per request.
uint16_t transferBlocks(DeviceState& device, uint16_t command, uint32_t block, uint32_t count, uint8_t* buffer) {
    constexpr uint32_t kBlocksPerRequest = 16;
    while (count > 0) {
        const uint32_t n = std::min(count, kBlocksPerRequest);
        SectorRequest request{command, device.hostAdapterId, device.targetId, block, static_cast<uint16_t>(n), buffer};
        if (const uint16_t status = TransferCdBlocks(device, request); status != 0) return status;
        block += n;
        count -= n;
        buffer += size_t{n} * kCdBlockSize;
    }
    return 0;
}

}  // namespace

uint16_t ReadSectors(DeviceState& device, uint32_t sector, uint32_t count, uint8_t* buffer) {
    if (count == 0) return 0;
    const uint32_t first = sector / kSectorsPerCdBlock;
    // Summed in 64 bits: a run that ends at the last 512-byte sector a 32-bit number can name
    // would otherwise wrap round to block 0.
    const auto last = static_cast<uint32_t>((uint64_t{sector} + count - 1) / kSectorsPerCdBlock);
    std::vector<uint8_t> blocks(size_t{last - first + 1} * kCdBlockSize);
    if (const uint16_t status = transferBlocks(device, cmd::kRead6, first, last - first + 1, blocks.data()); status != 0)
        return status;
    std::memcpy(buffer, blocks.data() + size_t{sector % kSectorsPerCdBlock} * kSectorSize, size_t{count} * kSectorSize);
    return 0;
}

uint16_t WriteSectors(DeviceState& device, uint32_t sector, uint32_t count, const uint8_t* data) {
    if (count == 0) return 0;
    // Whatever the cache held of these blocks is about to be out of date.
    device.cdBlockKey = kNoCachedBlock;
    const uint32_t first = sector / kSectorsPerCdBlock;
    // Summed in 64 bits: a run that ends at the last 512-byte sector a 32-bit number can name
    // would otherwise wrap round to block 0.
    const auto last = static_cast<uint32_t>((uint64_t{sector} + count - 1) / kSectorsPerCdBlock);
    std::vector<uint8_t> blocks(size_t{last - first + 1} * kCdBlockSize);
    const bool partFirst = sector % kSectorsPerCdBlock != 0;
    const bool partLast = (uint64_t{sector} + count) % kSectorsPerCdBlock != 0;
    if (partFirst || (partLast && last == first)) {
        if (const uint16_t status = transferBlocks(device, cmd::kRead6, first, 1, blocks.data()); status != 0) return status;
    }
    if (partLast && last != first) {
        if (const uint16_t status = transferBlocks(device, cmd::kRead6, last, 1, blocks.data() + size_t{last - first} * kCdBlockSize);
            status != 0)
            return status;
    }
    std::memcpy(blocks.data() + size_t{sector % kSectorsPerCdBlock} * kSectorSize, data, size_t{count} * kSectorSize);
    return transferBlocks(device, cmd::kWrite6, first, last - first + 1, blocks.data());
}

uint64_t MediumSectors(DeviceState& device) {
    uint8_t reply[scsi::capacity::kReplyLength] = {};
    ScsiRequestBlock block;
    block.command = srb::kExecuteScsi;
    block.adapter = device.hostAdapterId;
    block.target = device.targetId;
    block.flags = srb::kDirectionIn;
    block.buffer = reply;
    block.bufferLength = sizeof reply;
    block.cdbLength = scsi::kTenByteCdbLength;
    block.cdb[scsi::cdb10::kOpcode] = scsi::kReadCapacity10;
    runRequest(device, block);
    if (block.status != aspi::kCompleted) return 0;
    const uint64_t blocks = uint64_t{scsi::readBe32(reply + scsi::capacity::kLastBlock)} + 1;
    return blocks * scsi::readBe32(reply + scsi::capacity::kBlockLength) / kSectorSize;
}

uint64_t ImageBytes(DeviceState& device) {
    if (device.bus == nullptr || device.hostAdapterId >= device.bus->adapters.size()) return 0;
    return device.bus->adapters[device.hostAdapterId]->mediumBytes(device.targetId);
}

uint16_t SynchronizeMedium(DeviceState& device) {
    ScsiRequestBlock block;
    block.command = srb::kExecuteScsi;
    block.adapter = device.hostAdapterId;
    block.target = device.targetId;
    block.cdbLength = scsi::kTenByteCdbLength;
    block.cdb[scsi::cdb10::kOpcode] = scsi::kSynchronizeCache10;
    runRequest(device, block);
    return block.status == aspi::kCompleted ? 0 : block.status;
}

uint16_t ReadSector(DeviceState& device, uint32_t sector, uint8_t* buffer) {
    if (device.sectorSource == nullptr) return aspi::kInvalidCommand;
    SectorRequest request;
    request.command = cmd::kRead6;
    request.hostAdapter = device.hostAdapterId;
    request.target = device.targetId;
    request.sector = sector;
    request.count = 1;
    request.buffer = buffer;
    return device.sectorSource(device, request);
}

std::optional<MediumFile> SelectedMediumFile(const DeviceState& device) {
    if (!device.bus || device.hostAdapterId >= device.bus->adapters.size()) return std::nullopt;
    // Only the program's own sector source reads the medium as it lies; another one installed
    // in its place (a test's) decides what every read returns.
    if (device.sectorSource != ReadCdSector) return std::nullopt;
    return device.bus->adapters[device.hostAdapterId]->mediumFile(device.targetId);
}

}  // namespace quarry
