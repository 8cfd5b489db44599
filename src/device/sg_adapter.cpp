#include "device/sg_adapter.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device/scsi_cdb.h"

namespace quarry {
namespace {

constexpr const char* kManagerId = "LINUX SG_IO";
constexpr const char* kNodePrefix = "/dev/sg";
// A command that has not ended after this long is taken as failed; the slowest thing a drive
// does here is spin up a disc.
constexpr unsigned kTimeoutMs = 30000;
constexpr size_t kSenseBufferLength = 32;
// The sg driver version that brought SG_IO.
constexpr int kMinimumSgVersion = 30000;
constexpr unsigned char kSgInterfaceId = 'S';

namespace sense {
constexpr uint8_t kResponseCodeMask = 0x7F;
constexpr uint8_t kFixedCurrent = 0x70;
constexpr uint8_t kFixedDeferred = 0x71;
constexpr uint8_t kDescriptorCurrent = 0x72;
constexpr uint8_t kDescriptorDeferred = 0x73;
constexpr size_t kFixedKey = 2;
constexpr size_t kFixedAsc = 12;
constexpr size_t kDescriptorKey = 1;
constexpr size_t kDescriptorAsc = 2;
constexpr uint8_t kKeyMask = 0x0F;

constexpr uint8_t kRecoveredError = 0x1;
constexpr uint8_t kIllegalRequest = 0x5;
constexpr uint8_t kDataProtect = 0x7;
constexpr uint8_t kAscInvalidOpcode = 0x20;
}  // namespace sense

constexpr uint32_t kDiskBlockSize = 512;
constexpr uint32_t kCdromBlockSize = 2048;
constexpr uint32_t kLargestBlockSize = 65536;

Fault openFault(const std::string& path, const std::string& reason) { return Fault{"cannot open " + path + ": " + reason}; }

int toSgDirection(DataDirection direction) {
    switch (direction) {
    case DataDirection::In:
        return SG_DXFER_FROM_DEV;
    case DataDirection::Out:
        return SG_DXFER_TO_DEV;
    default:
        return SG_DXFER_NONE;
    }
}

}  // namespace

SenseVerdict classifySense(const uint8_t* data, size_t length) {
    if (data == nullptr || length == 0) return SenseVerdict::Error;
    uint8_t key = 0;
    uint8_t asc = 0;
    switch (data[0] & sense::kResponseCodeMask) {
    case sense::kFixedCurrent:
    case sense::kFixedDeferred:
        if (length <= sense::kFixedAsc) return SenseVerdict::Error;
        key = data[sense::kFixedKey] & sense::kKeyMask;
        asc = data[sense::kFixedAsc];
        break;
    case sense::kDescriptorCurrent:
    case sense::kDescriptorDeferred:
        if (length <= sense::kDescriptorAsc) return SenseVerdict::Error;
        key = data[sense::kDescriptorKey] & sense::kKeyMask;
        asc = data[sense::kDescriptorAsc];
        break;
    default:
        return SenseVerdict::Error;
    }
    if (key == sense::kRecoveredError) return SenseVerdict::Recovered;
    if (key == sense::kDataProtect) return SenseVerdict::WriteProtected;
    if (key == sense::kIllegalRequest && asc == sense::kAscInvalidOpcode) return SenseVerdict::InvalidOpcode;
    return SenseVerdict::Error;
}

DataDirection directionForCommand(const ScsiCommand& command) {
    if (command.direction != DataDirection::None || command.bufferLength == 0) return command.direction;
    const uint8_t opcode = command.cdb[scsi::cdb6::kOpcode];
    return opcode == scsi::kWrite6 || opcode == scsi::kWrite10 ? DataDirection::Out : DataDirection::In;
}

SgOutcome runSgCommand(ScsiCommand& command, const SgDrive& drive, const SgExchange& exchange) {
    SgOutcome outcome;
    outcome.status = aspi::kError;
    const DataDirection direction = directionForCommand(command);
    if (!drive.writable && direction == DataDirection::Out) {
        outcome.status = aspi::kWriteProtected;
        return outcome;
    }
    const std::optional<scsi::BlockTransfer> transfer = scsi::decodeBlockTransfer(command);
    const uint64_t asked = transfer ? uint64_t{transfer->blockCount} * drive.blockSize : 0;
    // A drive sends whole blocks; a host adapter whose buffer ends before them reports an
    // overrun, and the command fails. The blocks are read whole here and what fits is passed on.
    std::vector<uint8_t> whole;
    ScsiCommand sent = command;
    if (transfer && asked > command.bufferLength) {
        if (transfer->kind == scsi::TransferKind::Write || command.buffer == nullptr) return outcome;
        whole.resize(asked);
        sent.buffer = whole.data();
        sent.bufferLength = static_cast<uint32_t>(asked);
    }
    const std::optional<SgReply> reply = exchange(sent);
    if (!reply) return outcome;
    if (reply->ok) {
        // Part of a block transfer's buffer that the drive never filled is not data.
        if (transfer && reply->resid > 0) return outcome;
        if (!whole.empty()) std::memcpy(command.buffer, whole.data(), command.bufferLength);
        outcome.status = aspi::kCompleted;
        return outcome;
    }
    outcome.sense = classifySense(reply->sense.data(), reply->sense.size());
    switch (outcome.sense) {
    case SenseVerdict::Recovered:
        if (transfer && reply->resid > 0) break;
        if (!whole.empty()) std::memcpy(command.buffer, whole.data(), command.bufferLength);
        outcome.status = aspi::kCompleted;
        break;
    case SenseVerdict::WriteProtected:
        // The bus reports a refused write with the status the write-protection probe looks for.
        outcome.status = aspi::kWriteProtected;
        break;
    default:
        break;
    }
    return outcome;
}

SgAdapter::~SgAdapter() {
    for (const Node& node : nodes_) ::close(node.fd);
}

Result<SgAdapter::Node> SgAdapter::openNode(const std::string& path) {
    // Writes need a read-write descriptor; a node the user may only read still serves reads.
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return openFault(path, std::strerror(errno));
    int version = 0;
    if (::ioctl(fd, SG_GET_VERSION_NUM, &version) < 0 || version < kMinimumSgVersion) {
        ::close(fd);
        return openFault(path, "not a SCSI generic device");
    }

    Node node;
    node.fd = fd;
    node.path = path;
    uint8_t data[scsi::inquiry::kStandardLength] = {};
    ScsiCommand inquiry;
    inquiry.cdb[scsi::cdb6::kOpcode] = scsi::kInquiry;
    scsi::writeBe16(inquiry.cdb.data() + scsi::inquiry::kAllocationLength, sizeof data);
    inquiry.cdbLength = scsi::kSixByteCdbLength;
    inquiry.direction = DataDirection::In;
    inquiry.buffer = data;
    inquiry.bufferLength = sizeof data;
    // A node whose logical unit is not connected (qualifier bits set) answers for no device.
    const SgDrive reader{kDiskBlockSize, false};
    if (send(fd, inquiry, reader).status == aspi::kCompleted && (data[scsi::inquiry::kDeviceType] & scsi::inquiry::kQualifierMask) == 0) {
        node.deviceType = data[scsi::inquiry::kDeviceType] & scsi::inquiry::kDeviceTypeMask;
    }
    // The drive's block length decides how much a read of whole blocks moves. Without a medium
    // the drive cannot say; CD-ROM drives then count in 2048-byte blocks, others in 512.
    node.blockSize = node.deviceType == kDeviceTypeCdrom ? kCdromBlockSize : kDiskBlockSize;
    uint8_t capacity[scsi::capacity::kReplyLength] = {};
    ScsiCommand readCapacity;
    readCapacity.cdb[scsi::cdb10::kOpcode] = scsi::kReadCapacity10;
    readCapacity.cdbLength = scsi::kTenByteCdbLength;
    readCapacity.direction = DataDirection::In;
    readCapacity.buffer = capacity;
    readCapacity.bufferLength = sizeof capacity;
    if (send(fd, readCapacity, reader).status == aspi::kCompleted) {
        const uint32_t length = scsi::readBe32(capacity + scsi::capacity::kBlockLength);
        if (length >= kDiskBlockSize && length <= kLargestBlockSize && length % kDiskBlockSize == 0) node.blockSize = length;
    }
    return node;
}

Result<std::unique_ptr<SgAdapter>> SgAdapter::open(const std::vector<std::string>& paths, bool writable) {
    if (paths.size() > kMaxTargets) {
        return Fault{"the SCSI generic adapter takes at most " + std::to_string(kMaxTargets) + " drives"};
    }
    std::unique_ptr<SgAdapter> adapter(new SgAdapter());
    adapter->writable_ = writable;
    for (const std::string& path : paths) {
        Result<Node> node = openNode(path);
        if (!node) return Fault{node.fault()};
        adapter->nodes_.push_back(std::move(node.value()));
    }
    return adapter;
}

std::unique_ptr<SgAdapter> SgAdapter::scan() {
    std::unique_ptr<SgAdapter> adapter(new SgAdapter());
    for (int n = 0; n < kScannedNodes && adapter->nodes_.size() < kMaxTargets; ++n) {
        Result<Node> node = openNode(kNodePrefix + std::to_string(n));
        if (node) adapter->nodes_.push_back(std::move(node.value()));
    }
    return adapter;
}

std::string SgAdapter::managerId() const { return kManagerId; }

int SgAdapter::deviceType(uint8_t target) { return target < nodes_.size() ? nodes_[target].deviceType : -1; }

SgOutcome SgAdapter::send(int fd, ScsiCommand& command, const SgDrive& drive) {
    return runSgCommand(command, drive, [fd](ScsiCommand& sent) -> std::optional<SgReply> {
        uint8_t senseData[kSenseBufferLength] = {};
        sg_io_hdr_t header{};
        header.interface_id = kSgInterfaceId;
        header.cmdp = sent.cdb.data();
        header.cmd_len = sent.cdbLength;
        header.dxfer_direction = toSgDirection(directionForCommand(sent));
        header.dxferp = sent.buffer;
        header.dxfer_len = sent.bufferLength;
        header.sbp = senseData;
        header.mx_sb_len = sizeof senseData;
        header.timeout = kTimeoutMs;
        if (::ioctl(fd, SG_IO, &header) < 0) return std::nullopt;
        SgReply reply;
        reply.ok = (header.info & SG_INFO_OK_MASK) == SG_INFO_OK;
        reply.resid = header.resid;
        reply.sense.assign(senseData, senseData + std::min<size_t>(header.sb_len_wr, sizeof senseData));
        return reply;
    });
}

uint8_t SgAdapter::execute(uint8_t target, ScsiCommand& command) {
    if (target >= nodes_.size()) return aspi::kNoDevice;
    Node& node = nodes_[target];
    const SgDrive drive{node.blockSize, writable_};
    if (node.tenByteOnly) {
        if (std::optional<ScsiCommand> wide = scsi::tenByteEquivalent(command)) return send(node.fd, *wide, drive).status;
    }
    const SgOutcome outcome = send(node.fd, command, drive);
    if (outcome.sense != SenseVerdict::InvalidOpcode || outcome.status == aspi::kCompleted) return outcome.status;
    // Many ATAPI drives behind SCSI translation know only the 10-byte READ and WRITE.
    std::optional<ScsiCommand> wide = scsi::tenByteEquivalent(command);
    if (!wide) return outcome.status;
    node.tenByteOnly = true;
    return send(node.fd, *wide, drive).status;
}

}  // namespace quarry
