#pragma once
// Command descriptor blocks of the few SCSI commands that cross the bus: their operation codes,
// the byte offsets of their fields, and the decoding and re-encoding the adapters share.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/scsi_bus.h"

namespace quarry::scsi {

inline constexpr uint8_t kTestUnitReady = 0x00;
inline constexpr uint8_t kRead6 = 0x08;
inline constexpr uint8_t kWrite6 = 0x0A;
inline constexpr uint8_t kInquiry = 0x12;
inline constexpr uint8_t kRead10 = 0x28;
inline constexpr uint8_t kWrite10 = 0x2A;
inline constexpr uint8_t kSynchronizeCache10 = 0x35;
inline constexpr uint8_t kReadCapacity10 = 0x25;

// READ CAPACITY(10)'s reply: the last block's address and the block length, big-endian.
namespace capacity {
inline constexpr size_t kLastBlock = 0;
inline constexpr size_t kBlockLength = 4;
inline constexpr size_t kReplyLength = 8;
}  // namespace capacity

inline constexpr uint8_t kSixByteCdbLength = 6;
inline constexpr uint8_t kTenByteCdbLength = 10;

// READ(6) and WRITE(6). Byte 1 shares its top three bits with the logical unit number of SCSI-1,
// so only 21 bits of block address fit.
namespace cdb6 {
inline constexpr size_t kOpcode = 0;
inline constexpr size_t kAddressHigh = 1;  // block address bits 16..20
inline constexpr size_t kAddressMid = 2;   // bits 8..15
inline constexpr size_t kAddressLow = 3;   // bits 0..7
inline constexpr size_t kLength = 4;       // transfer length in blocks
inline constexpr size_t kControl = 5;
inline constexpr uint8_t kAddressHighMask = 0x1F;
inline constexpr uint32_t kMaxBlock = 0x1FFFFF;
// A length byte of 0 asks for 256 blocks, not none.
inline constexpr uint32_t kZeroLengthBlocks = 256;
}  // namespace cdb6

// READ(10) and WRITE(10).
namespace cdb10 {
inline constexpr size_t kOpcode = 0;
inline constexpr size_t kFlags = 1;
inline constexpr size_t kAddress = 2;  // big-endian, 4 bytes
inline constexpr size_t kGroup = 6;
inline constexpr size_t kLength = 7;   // big-endian, 2 bytes; 0 transfers nothing
inline constexpr size_t kControl = 9;
}  // namespace cdb10

// INQUIRY: the command and the standard data it returns.
namespace inquiry {
inline constexpr size_t kFlags = 1;
inline constexpr uint8_t kVitalProductData = 0x01;  // EVPD: asks for a vital product data page
// SCSI-2 knew only byte 4; later revisions widened the allocation length to bytes 3..4, whose
// low byte is that same byte 4.
inline constexpr size_t kAllocationLength = 3;

inline constexpr size_t kDeviceType = 0;  // peripheral qualifier bits 5..7, device type bits 0..4
inline constexpr uint8_t kDeviceTypeMask = 0x1F;
inline constexpr uint8_t kQualifierMask = 0xE0;
inline constexpr size_t kRemovable = 1;
inline constexpr uint8_t kRemovableMedium = 0x80;
inline constexpr size_t kVersion = 2;
inline constexpr size_t kResponseFormat = 3;
inline constexpr size_t kAdditionalLength = 4;  // bytes that follow this one
inline constexpr size_t kVendor = 8;
inline constexpr size_t kVendorLength = 8;
inline constexpr size_t kProduct = 16;
inline constexpr size_t kProductLength = 16;
inline constexpr size_t kRevision = 32;
inline constexpr size_t kRevisionLength = 4;
inline constexpr size_t kStandardLength = 36;
}  // namespace inquiry

enum class TransferKind { Read, Write };

struct BlockTransfer {
    TransferKind kind = TransferKind::Read;
    uint32_t firstBlock = 0;
    uint32_t blockCount = 0;
};

// The block range of a READ(6), READ(10), WRITE(6) or WRITE(10); nothing for any other command
// or for a CDB shorter than its operation code requires.
std::optional<BlockTransfer> decodeBlockTransfer(const ScsiCommand& command);

// The 10-byte form of a READ(6) or WRITE(6), for drives that refuse the six-byte commands;
// nothing for any other command. The logical unit bits of byte 1 are dropped and a length byte of
// 0 becomes 256 blocks, so the resent command moves the same bytes.
std::optional<ScsiCommand> tenByteEquivalent(const ScsiCommand& command);

inline uint32_t readBe32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
inline uint16_t readBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline void writeBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline void writeBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

}  // namespace quarry::scsi
