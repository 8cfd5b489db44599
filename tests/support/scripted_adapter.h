#pragma once
// The scripted adapter of the tests: targets with a chosen device type, INQUIRY identification
// and an in-memory medium, a record of every command that reaches them, and failures on demand.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device/scsi_bus.h"

namespace quarry {

struct ScriptedTarget {
    uint8_t deviceType = kDeviceTypeCdrom;
    std::string vendor;    // INQUIRY identification, padded with blanks to 8 / 16 / 4 bytes
    std::string product;
    std::string revision;
    uint32_t blockSize = 2048;
    // The medium's bytes; reads past its end give zeros, writes past it fail.
    std::vector<uint8_t> medium;
    // Writes end with the write-protect status and leave the medium alone.
    bool writeProtected = false;

    static ScriptedTarget cdrom(std::string vendor, std::string product, std::string revision,
                                std::vector<uint8_t> medium = {}) {
        return {kDeviceTypeCdrom, std::move(vendor), std::move(product), std::move(revision), 2048, std::move(medium)};
    }
};

struct RecordedCommand {
    uint8_t target = 0;
    std::vector<uint8_t> cdb;  // cdbLength bytes
    DataDirection direction = DataDirection::None;
    uint32_t bufferLength = 0;
    uint8_t status = 0;  // what the adapter answered
};

class ScriptedAdapter : public HostAdapter {
public:
    explicit ScriptedAdapter(std::string managerId = "SCRIPTED");

    // Puts a device at the target id (0..7), replacing one that was there.
    ScriptedTarget& addTarget(uint8_t target, ScriptedTarget device);
    ScriptedTarget& target(uint8_t target);

    // The next `count` commands, whatever they are, end with `status` and move no data.
    void failNext(int count, uint8_t status);
    // Every READ or WRITE whose block range touches `block` ends with `status`, `times` times
    // (or always when times is negative).
    void failBlock(uint32_t block, uint8_t status, int times = -1);
    // The nth WRITE from now (1 = the next) ends with `status` and leaves the medium alone.
    void failWrite(int nth, uint8_t status) {
        failWriteIn_ = nth;
        failWriteStatus_ = status;
    }

    // A cut: the first `blocks` blocks that WRITE commands send from now reach the medium, and
    // every block after them is lost while the commands still succeed, as when the power fails or
    // the process is killed: whoever wrote them never learns of it.
    void cutAfterBlocks(uint64_t blocks) { cutAfter_ = blocks; }
    // The blocks WRITE commands sent since the last reset, lost ones included: a change run once
    // whole tells how many blocks its commit writes.
    uint64_t blocksWritten() const { return blocksWritten_; }
    void resetBlocksWritten() { blocksWritten_ = 0; }

    const std::vector<RecordedCommand>& commands() const { return commands_; }
    void clearCommands() { commands_.clear(); }

    std::string managerId() const override { return managerId_; }
    int deviceType(uint8_t target) override;
    uint8_t execute(uint8_t target, ScsiCommand& command) override;

private:
    struct BlockFailure {
        uint32_t block = 0;
        uint8_t status = 0;
        int times = -1;
    };

    uint8_t run(ScriptedTarget& device, ScsiCommand& command);
    std::optional<uint8_t> scriptedFailure(const ScsiCommand& command);

    std::string managerId_;
    std::map<uint8_t, ScriptedTarget> targets_;
    std::vector<RecordedCommand> commands_;
    int failNextCount_ = 0;
    uint8_t failNextStatus_ = 0;
    int failWriteIn_ = 0;
    uint8_t failWriteStatus_ = 0;
    std::vector<BlockFailure> blockFailures_;
    std::optional<uint64_t> cutAfter_;
    uint64_t blocksWritten_ = 0;
};

}  // namespace quarry
