#pragma once
// The sector source: every byte of the Macintosh volume reaches the program through one
// replaceable entry that takes a SectorRequest. Sectors are 512-byte units from the start of
// the medium; the CD-ROM source serves them out of the drive's 2048-byte blocks through a
// one-block cache.

#include <cstdint>
#include <optional>
#include <vector>

#include "device/aspi.h"
#include "device/scsi_bus.h"

namespace quarry {

class UiPort;

namespace cmd {
inline constexpr uint16_t kGenericRead = 2;   // translated to kRead6 on the generic path
inline constexpr uint16_t kGenericWrite = 3;  // translated to kWrite6 on the generic path
// A read or a write of a sector request. It goes out as READ(6)/WRITE(6) where the six-byte
// command can hold its block and count, else as READ(10)/WRITE(10).
inline constexpr uint16_t kRead6 = 0x08;
inline constexpr uint16_t kWrite6 = 0x0A;
}  // namespace cmd

inline constexpr uint32_t kSectorSize = 512;
inline constexpr uint32_t kCdBlockSize = 2048;
inline constexpr uint8_t kNoSelection = 0xFF;
inline constexpr uint32_t kNoCachedBlock = 0xFFFFFFFF;
// Sizes the transfer buffer of the bulk run transfer.
inline constexpr uint16_t kTransferSectors = 64;
// InquireDevice asks for this many bytes; its buffer must hold at least as many.
inline constexpr uint32_t kInquiryReplyLength = 100;
// The generic path tries a transfer this often before it gives up.
inline constexpr int kTransferAttempts = 20;

struct SectorRequest {
    uint16_t command = cmd::kRead6;
    uint16_t hostAdapter = 0;
    uint16_t target = 0;
    // 512-byte sector on the CD path, device block on the generic path. In 512-byte sectors
    // 32 bits reach 2 TiB, which is as far as the program reads a medium; the 2048-byte
    // blocks sent to the drive then stay below 2^30, well inside READ(10)'s address.
    uint32_t sector = 0;
    uint16_t count = 1;
    uint8_t* buffer = nullptr;
};

struct DeviceState;
using SectorSourceFn = uint16_t (*)(DeviceState&, SectorRequest&);

struct DeviceState {
    ScsiBus* bus = nullptr;
    SectorSourceFn sectorSource = nullptr;
    uint8_t hostAdapterId = kNoSelection;
    uint8_t targetId = kNoSelection;
    uint16_t deviceBlockSize = kSectorSize;
    uint16_t transferSectors = kTransferSectors;
    std::vector<uint8_t> cdBlockCache;  // 2048 bytes once the CD source is installed
    uint32_t cdBlockKey = kNoCachedBlock;
    ScsiRequestBlock sharedSrb;
    // The device record's partition count, shown by the volume information sheet.
    uint32_t partitionCount = 1;
};

// Returns the adapter count; ends the program through the UI port when the manager fails (no
// bus installed), and then returns -1 so the caller stops.
int InitAspi(DeviceState& device, UiPort& ui);
uint8_t InquireHostAdapter(DeviceState& device, uint8_t adapter, char managerId[16], uint8_t unique[16]);
uint16_t GetDeviceType(DeviceState& device, uint8_t adapter, uint8_t target);
uint8_t InquireDevice(DeviceState& device, uint8_t adapter, uint8_t target, uint8_t* buffer);

// READ/WRITE (six- or ten-byte, see cmd::kRead6) of request.count device blocks (DeviceBlockSize bytes each) through the
// shared request block; returns the raw status byte (1 = done).
uint8_t TransferDeviceBlocks(DeviceState& device, SectorRequest& request);
// The same in 2048-byte blocks through a request block of its own; returns 0 when done, else
// the status byte.
uint16_t TransferCdBlocks(DeviceState& device, SectorRequest& request);
// The CD-ROM sector source: one 512-byte sector per call (command READ(6), count 1) served
// through the one-block cache.
uint16_t ReadCdSector(DeviceState& device, SectorRequest& request);
// The generic path: command 2/3 become READ(6)/WRITE(6) in the caller's record, and the
// transfer is tried up to kTransferAttempts times. 0 when done, else the last status.
uint16_t TransferWithRetry(DeviceState& device, SectorRequest& request);

// 0 when block 0 carries no PC boot record, -2 when it carries one without a short jump, else
// minus its byte 29.
int ProbeDosBootRecord(DeviceState& device);
// 3 when the medium refuses the write-back of block 0 as write-protected, else 0 (also when
// even the read fails). buffer holds one device block.
int ProbeWriteProtection(DeviceState& device, uint8_t target, uint8_t* buffer);

// Reads count 512-byte sectors from sector on, in whole 2048-byte blocks of the selected drive,
// past the one-block cache. 0 when done, else the status of the failed transfer.
uint16_t ReadSectors(DeviceState& device, uint32_t sector, uint32_t count, uint8_t* buffer);
// Writes count 512-byte sectors from sector on. A 2048-byte block that the run covers only in
// part is read first and written back whole with the new sectors in it; the one-block cache is
// emptied. 0 when done, else the status of the failed transfer (aspi::kWriteProtected for a
// medium that refuses writes).
uint16_t WriteSectors(DeviceState& device, uint32_t sector, uint32_t count, const uint8_t* data);
// The medium's size in 512-byte sectors as the selected drive reports it (READ CAPACITY); 0 when
// the drive cannot say.
uint64_t MediumSectors(DeviceState& device);
// The medium's size in bytes when the selected target is an image, which knows it to the byte;
// 0 for a drive.
uint64_t ImageBytes(DeviceState& device);
// Asks the drive to put everything it was sent on the medium (SYNCHRONIZE CACHE); 0 when done.
uint16_t SynchronizeMedium(DeviceState& device);

// The file the selected drive's medium lies in as it is (a plain image); none for a drive, a
// container, or a test's scripted bus.
std::optional<MediumFile> SelectedMediumFile(const DeviceState& device);

// Reads one 512-byte sector of the selected drive through the installed sector source (command
// READ(6), count 1); non-zero when it fails or no source is installed.
uint16_t ReadSector(DeviceState& device, uint32_t sector, uint8_t* buffer);

}  // namespace quarry
