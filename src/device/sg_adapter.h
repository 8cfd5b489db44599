#pragma once
// The SCSI generic adapter: real drives through Linux SG_IO on /dev/sg* nodes. Each node opened
// is one target; its device type comes from an INQUIRY sent when it is opened.
//
//     if (auto drives = SgAdapter::scan(); drives->targetCount() > 0) bus.adapters.push_back(std::move(drives));

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "device/scsi_bus.h"

namespace quarry {

// What the sense data of a failed command says, as far as the bus cares.
enum class SenseVerdict {
    Error,           // any other failure
    Recovered,       // RECOVERED ERROR: the command succeeded after the drive's own retries
    WriteProtected,  // DATA PROTECT: the medium refuses writes
    InvalidOpcode,   // ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE
};

// Reads fixed (0x70/0x71) and descriptor (0x72/0x73) format sense data; Error for anything
// shorter than its sense key and additional sense code or of another format.
SenseVerdict classifySense(const uint8_t* sense, size_t length);

// The data direction SG_IO needs. A request block with direction flags 0 leaves it to the
// command (INQUIRY is sent that way): WRITE commands send data, everything else with a buffer
// receives it.
DataDirection directionForCommand(const ScsiCommand& command);

// What the SG_IO header says once a command has ended: whether the driver, the host and the
// drive all reported success, the residual count (bytes of the data phase the drive did not
// move; negative when it had more than the buffer took) and the sense data it wrote.
struct SgReply {
    bool ok = false;
    int resid = 0;
    std::vector<uint8_t> sense;
};
// One SG_IO call for the command as it stands; nothing when the call itself failed.
using SgExchange = std::function<std::optional<SgReply>(ScsiCommand& command)>;

struct SgDrive {
    uint32_t blockSize = 2048;  // the drive's logical block, from READ CAPACITY
    bool writable = false;
};
struct SgOutcome {
    uint8_t status = 0;
    SenseVerdict sense = SenseVerdict::Error;
};

// Runs one command on a drive through `exchange` and decides how it ended, as the image adapter
// would answer it: a READ into a buffer shorter than the blocks it asks for (the probes ask a
// 2048-byte drive for 512 bytes) reads whole blocks and gets what fits; a WRITE shorter than its
// blocks is refused before it reaches the drive, and so is every WRITE to a drive not opened for
// writing; a block transfer whose data phase ended early (a positive residual) failed.
SgOutcome runSgCommand(ScsiCommand& command, const SgDrive& drive, const SgExchange& exchange);

class SgAdapter : public HostAdapter {
public:
    static constexpr size_t kMaxTargets = kTargetsPerAdapter;
    static constexpr int kScannedNodes = 16;  // /dev/sg0 .. /dev/sg15

    ~SgAdapter() override;
    SgAdapter(const SgAdapter&) = delete;
    SgAdapter& operator=(const SgAdapter&) = delete;

    // Opens the named nodes as targets 0, 1, ... in order; fails on the first that cannot be
    // opened as a SCSI generic device, or when more than kMaxTargets are named. Unless the
    // drives are opened writable, every WRITE is answered with the write-protect status before
    // it reaches the drive: nothing is written to a medium the person did not open for writing.
    static Result<std::unique_ptr<SgAdapter>> open(const std::vector<std::string>& paths, bool writable = false);
    // Every node of /dev/sg0 .. /dev/sg15 that opens, at most kMaxTargets; the adapter may hold
    // no target at all.
    static std::unique_ptr<SgAdapter> scan();

    size_t targetCount() const { return nodes_.size(); }

    std::string managerId() const override;
    int deviceType(uint8_t target) override;
    uint8_t execute(uint8_t target, ScsiCommand& command) override;

private:
    struct Node {
        int fd = -1;
        std::string path;
        int deviceType = -1;
        // Set once the drive has refused a six-byte READ or WRITE; later ones go out in the
        // 10-byte form at once.
        bool tenByteOnly = false;
        uint32_t blockSize = 2048;
    };

    SgAdapter() = default;
    bool writable_ = false;
    static Result<Node> openNode(const std::string& path);
    static SgOutcome send(int fd, ScsiCommand& command, const SgDrive& drive);

    std::vector<Node> nodes_;
};

}  // namespace quarry
