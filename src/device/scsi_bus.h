#pragma once
// The SCSI bus as the program sees it: host adapters, each with targets 0..7 that answer
// SCSI commands. Three kinds of adapter stand behind this interface: the image adapter (image
// files and block devices that behave as CD-ROM drives), the Linux SCSI generic adapter (real
// drives through SG_IO) and the scripted adapter of the tests (tests/support/scripted_adapter.h).

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quarry {

// Status bytes of a request block, as the ASPI manager reports them.
namespace aspi {
inline constexpr uint8_t kPending = 0x00;
inline constexpr uint8_t kCompleted = 0x01;
inline constexpr uint8_t kAborted = 0x02;
// A write refused because the medium is write-protected. The write-protection probe looks for
// exactly this value.
inline constexpr uint8_t kWriteProtected = 0x03;
inline constexpr uint8_t kError = 0x04;
inline constexpr uint8_t kInvalidCommand = 0x80;
inline constexpr uint8_t kInvalidAdapter = 0x81;
inline constexpr uint8_t kNoDevice = 0x82;
}  // namespace aspi

// Targets 0..7 of the narrow bus; the program never looks past them.
inline constexpr uint8_t kTargetsPerAdapter = 8;

// SCSI peripheral device types that matter here.
inline constexpr uint8_t kDeviceTypeDisk = 0;
inline constexpr uint8_t kDeviceTypeCdrom = 5;

enum class DataDirection { None, In, Out };

// A medium that lies byte for byte in a file of the PC (a plain image): the file's descriptor,
// where the medium starts in it and the medium's size. A copy hands runs of it to the kernel.
struct MediumFile {
    int fd = -1;
    uint64_t start = 0;
    uint64_t size = 0;
};

struct ScsiCommand {
    std::array<uint8_t, 16> cdb{};
    uint8_t cdbLength = 0;
    DataDirection direction = DataDirection::None;
    uint8_t* buffer = nullptr;
    uint32_t bufferLength = 0;
};

class HostAdapter {
public:
    virtual ~HostAdapter() = default;
    // The 16-byte manager identification of the host adapter inquiry.
    virtual std::string managerId() const = 0;
    // Peripheral device type of the target, or -1 when no device answers there.
    virtual int deviceType(uint8_t target) = 0;
    // Runs one command to completion and returns the request block's status byte.
    virtual uint8_t execute(uint8_t target, ScsiCommand& command) = 0;
    // What the person should hear about data that was read all the same, but may be damaged
    // (an image's sectors that fail their EDC check), since the last call: one message per
    // target that has something to say.
    virtual std::vector<std::string> takeReadWarnings() { return {}; }
    // The medium's size in bytes when the adapter knows it to the byte (an image file); 0 when
    // only READ CAPACITY can tell, in whole blocks (a drive).
    virtual uint64_t mediumBytes(uint8_t /*target*/) { return 0; }
    // The file the target's medium lies in, when it lies in one as it is; none for a drive or
    // a container, whose bytes have to go through the adapter.
    virtual std::optional<MediumFile> mediumFile(uint8_t /*target*/) const { return std::nullopt; }
};

struct ScsiBus {
    std::vector<std::unique_ptr<HostAdapter>> adapters;
};

}  // namespace quarry
