#include "device/image_adapter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/text.h"
#include "device/containers/open_image.h"
#include "device/scsi_cdb.h"

namespace quarry {
namespace {

constexpr const char* kManagerId = "QUARRY IMAGES";
constexpr const char* kVendor = "QUARRY  ";
constexpr const char* kRevision = "1.0 ";
// SCSI-2 standard INQUIRY data, response data format 2.
constexpr uint8_t kInquiryVersion = 0x02;
constexpr uint8_t kInquiryResponseFormat = 0x02;

const std::string kNoPath;

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The product identification: the file's name in the one-byte character set of the INQUIRY
// data, cut or padded with blanks to 16 characters. A character without a one-byte form shows as
// '?', because a zero byte would end the name early in the drive list.
std::string productName(const std::string& path) {
    std::string name = utf8ToAnsi(baseName(path));
    std::replace(name.begin(), name.end(), '\0', '?');
    name.resize(scsi::inquiry::kProductLength, ' ');
    return name;
}

Fault openFault(const std::string& path, const std::string& reason) { return Fault{"cannot open " + path + ": " + reason}; }

}  // namespace

ImageAdapter::~ImageAdapter() = default;

Result<int> ImageAdapter::addImage(const std::string& path, ImageAccess access) {
    if (images_.size() >= kMaxImages) {
        return openFault(path, "the image adapter already holds " + std::to_string(kMaxImages) + " images");
    }
    Result<OpenedImage> opened = openImage(path, access);
    if (!opened) return Fault{opened.fault()};
    return addOpened(std::move(*opened), path, access);
}

Result<std::vector<int>> ImageAdapter::addImages(const std::string& path, ImageAccess access, const std::string& member, size_t* left) {
    if (images_.size() >= kMaxImages) {
        return openFault(path, "the image adapter already holds " + std::to_string(kMaxImages) + " images");
    }
    Result<std::vector<OpenedImage>> opened = openImages(path, access, member);
    if (!opened) return Fault{opened.fault()};
    std::vector<int> targets;
    if (left) *left = 0;
    for (OpenedImage& image : *opened) {
        if (images_.size() >= kMaxImages) {
            if (left) ++*left;
            continue;
        }
        targets.push_back(*addOpened(std::move(image), path, access));
    }
    return targets;
}

Result<int> ImageAdapter::addOpened(OpenedImage opened, const std::string& path, ImageAccess access) {
    if (images_.size() >= kMaxImages) {
        return openFault(path, "the image adapter already holds " + std::to_string(kMaxImages) + " images");
    }
    Image image;
    image.size = opened.source->size();
    image.source = std::move(opened.source);
    image.format = std::move(opened.format);
    image.warnings = std::move(opened.warnings);
    image.path = path;
    image.member = std::move(opened.member);
    image.product = productName(image.member.empty() ? path : image.member);
    image.access = access;
    images_.push_back(std::move(image));
    return static_cast<int>(images_.size() - 1);
}

const std::string& ImageAdapter::imageMember(int target) const {
    return target >= 0 && static_cast<size_t>(target) < images_.size() ? images_[static_cast<size_t>(target)].member : kNoPath;
}

const std::vector<std::string>& ImageAdapter::imageWarnings(int target) const {
    static const std::vector<std::string> kNone;
    return target >= 0 && static_cast<size_t>(target) < images_.size() ? images_[static_cast<size_t>(target)].warnings : kNone;
}

const std::string& ImageAdapter::imageFormat(int target) const {
    return target >= 0 && static_cast<size_t>(target) < images_.size() ? images_[static_cast<size_t>(target)].format : kNoPath;
}

uint64_t ImageAdapter::mediumBytes(uint8_t target) { return imageSize(target); }

uint64_t ImageAdapter::imageSize(int target) const {
    return target >= 0 && static_cast<size_t>(target) < images_.size() ? images_[static_cast<size_t>(target)].size : 0;
}

const std::string& ImageAdapter::imagePath(int target) const {
    return target >= 0 && static_cast<size_t>(target) < images_.size() ? images_[static_cast<size_t>(target)].path : kNoPath;
}

std::optional<MediumFile> ImageAdapter::mediumFile(uint8_t target) const {
    if (target >= images_.size() || !images_[target].format.empty()) return std::nullopt;
    const Image& image = images_[target];
    return image.source->mediumFile();
}

std::string ImageAdapter::managerId() const { return kManagerId; }

int ImageAdapter::deviceType(uint8_t target) { return target < images_.size() ? kDeviceTypeCdrom : -1; }

uint8_t ImageAdapter::execute(uint8_t target, ScsiCommand& command) {
    if (target >= images_.size()) return aspi::kNoDevice;
    const Image& image = images_[target];
    const uint8_t opcode = command.cdb[scsi::cdb6::kOpcode];
    if (opcode == scsi::kTestUnitReady) return aspi::kCompleted;
    if (opcode == scsi::kInquiry) return inquiry(image, command);
    if (opcode == scsi::kReadCapacity10) {
        // The medium's size as a drive reports it: the last 2048-byte block, partial ones counted.
        const uint64_t blocks = (image.size + kBlockSize - 1) / kBlockSize;
        if (blocks == 0 || blocks > 0xFFFFFFFFu || command.buffer == nullptr || command.bufferLength < scsi::capacity::kReplyLength)
            return aspi::kError;
        scsi::writeBe32(command.buffer + scsi::capacity::kLastBlock, static_cast<uint32_t>(blocks - 1));
        scsi::writeBe32(command.buffer + scsi::capacity::kBlockLength, kBlockSize);
        return aspi::kCompleted;
    }
    // What was written is on the medium only once the file system says so.
    if (opcode == scsi::kSynchronizeCache10) return image.source->flush() ? aspi::kCompleted : aspi::kError;

    const std::optional<scsi::BlockTransfer> transfer = scsi::decodeBlockTransfer(command);
    // Anything else is what a drive answers with CHECK CONDITION, ILLEGAL REQUEST.
    if (!transfer) return aspi::kError;
    // An empty file is a drive without a medium: nothing on it can be read.
    if (image.size == 0) return aspi::kError;
    // A read-only medium refuses a write before any data moves, whatever the buffer.
    if (transfer->kind == scsi::TransferKind::Write && image.access != ImageAccess::ReadWrite) {
        return aspi::kWriteProtected;
    }
    uint64_t length = uint64_t{transfer->blockCount} * kBlockSize;
    if (length > 0 && command.buffer == nullptr) return aspi::kError;
    if (length > command.bufferLength) {
        // A read into a buffer shorter than the blocks asked for gets what fits, as the data
        // phase of a host adapter stops at the end of its buffer. This is how the probes, which
        // count in 512-byte device blocks, read the start of a 2048-byte medium. A short write
        // would leave part of a block undefined and is refused.
        if (transfer->kind == scsi::TransferKind::Write) return aspi::kError;
        length = command.bufferLength;
    }
    // READ(10) and WRITE(10) with a length of 0 move nothing and succeed.
    if (length == 0) return aspi::kCompleted;
    const uint64_t offset = uint64_t{transfer->firstBlock} * kBlockSize;
    if (transfer->kind == scsi::TransferKind::Read) return read(image, offset, length, command.buffer);
    return write(image, offset, length, command.buffer);
}

uint8_t ImageAdapter::inquiry(const Image& image, ScsiCommand& command) const {
    if (command.cdbLength < scsi::kSixByteCdbLength) return aspi::kError;
    if (command.cdb[scsi::inquiry::kFlags] & scsi::inquiry::kVitalProductData) return aspi::kError;

    uint8_t data[scsi::inquiry::kStandardLength] = {};
    data[scsi::inquiry::kDeviceType] = kDeviceTypeCdrom;
    data[scsi::inquiry::kRemovable] = scsi::inquiry::kRemovableMedium;
    data[scsi::inquiry::kVersion] = kInquiryVersion;
    data[scsi::inquiry::kResponseFormat] = kInquiryResponseFormat;
    data[scsi::inquiry::kAdditionalLength] = scsi::inquiry::kStandardLength - (scsi::inquiry::kAdditionalLength + 1);
    std::memcpy(data + scsi::inquiry::kVendor, kVendor, scsi::inquiry::kVendorLength);
    std::memcpy(data + scsi::inquiry::kProduct, image.product.data(), scsi::inquiry::kProductLength);
    std::memcpy(data + scsi::inquiry::kRevision, kRevision, scsi::inquiry::kRevisionLength);

    // A drive sends what the allocation length allows of the data it has.
    const size_t allocation = scsi::readBe16(command.cdb.data() + scsi::inquiry::kAllocationLength);
    const size_t length = std::min(allocation, sizeof data);
    if (length > command.bufferLength || (length > 0 && command.buffer == nullptr)) return aspi::kError;
    std::memcpy(command.buffer, data, length);
    return aspi::kCompleted;
}

uint64_t ImageAdapter::blocksEnd(const Image& image) { return (image.size + kBlockSize - 1) / kBlockSize * kBlockSize; }

uint8_t ImageAdapter::readRaw(const Image& image, uint64_t offset, uint64_t length, uint8_t* buffer) {
    // A block that lies past the end of the image was never read from a disc: it cannot be
    // read, so that an image cut short is never taken for a volume ending in zeros. Only the
    // last block's tail, in an image whose size is not a whole number of blocks, reads as zeros.
    if (offset > blocksEnd(image) || length > blocksEnd(image) - offset) return aspi::kError;
    return image.source->read(offset, length, buffer) ? aspi::kCompleted : aspi::kError;
}

std::vector<std::string> ImageAdapter::takeReadWarnings() {
    std::vector<std::string> warnings;
    for (Image& image : images_)
        if (std::string warning = image.source->takeReadWarning(); !warning.empty()) warnings.push_back(std::move(warning));
    return warnings;
}

uint8_t ImageAdapter::read(const Image& image, uint64_t offset, uint64_t length, uint8_t* buffer) const {
    const uint8_t status = readAhead(image, offset, length, buffer);
    // Only what the reader receives counts as read; blocks read ahead count once they are served.
    if (status == aspi::kCompleted) image.source->served(offset, length);
    return status;
}

uint8_t ImageAdapter::readAhead(const Image& image, uint64_t offset, uint64_t length, uint8_t* buffer) const {
    // Files are read in runs of a few blocks per request; reading ahead in larger pieces keeps
    // the number of system calls, which dominates the time of a long copy, low.
    if (length >= kReadAheadBytes) return readRaw(image, offset, length, buffer);
    ReadAhead& ahead = image.ahead;
    const bool cached = ahead.length > 0 && offset >= ahead.offset && length <= ahead.length &&
                        offset - ahead.offset <= ahead.length - length;
    // Only a read that goes on from the one before it reads ahead: scattered reads (a commit
    // reading what it is about to overwrite) take what they ask for. The piece read ahead grows
    // with the run of sequential reads, so that a short run (a commit's few consecutive
    // sectors) does not read a long way ahead for nothing.
    const bool sequential = offset == ahead.lastEnd;
    ahead.streak = sequential ? ahead.streak + 1 : 0;
    ahead.lastEnd = offset + length;
    if (!cached && !sequential) return readRaw(image, offset, length, buffer);
    if (!cached) {
        ahead.bytes.resize(kReadAheadBytes);
        ahead.length = 0;
        const uint64_t window = std::max(length, std::min(kReadAheadBytes, kFirstReadAhead << std::min<uint32_t>(ahead.streak - 1, 4)));
        // Reading ahead stops at the image's last block, which the blocks asked for may pass.
        const uint64_t aheadLength = offset >= blocksEnd(image) ? 0 : std::min(window, blocksEnd(image) - offset);
        // A container may fail to give one piece of what lies ahead (a damaged chunk); the blocks
        // asked for are then read alone, so that only they can fail.
        if (aheadLength < length || readRaw(image, offset, aheadLength, ahead.bytes.data()) != aspi::kCompleted)
            return readRaw(image, offset, length, buffer);
        ahead.offset = offset;
        ahead.length = aheadLength;
    }
    std::memcpy(buffer, ahead.bytes.data() + (offset - ahead.offset), length);
    return aspi::kCompleted;
}

uint8_t ImageAdapter::write(const Image& image, uint64_t offset, uint64_t length, const uint8_t* buffer) const {
    // The medium does not grow: a block past its end cannot be written, as it cannot be read.
    // The last block's tail past the end reads back as zeros, so zeros there are already
    // "written"; anything else would be lost, and the write is refused whole.
    if (offset > blocksEnd(image) || length > blocksEnd(image) - offset) return aspi::kError;
    const uint64_t inside = offset >= image.size ? 0 : std::min(length, image.size - offset);
    if (std::any_of(buffer + inside, buffer + length, [](uint8_t b) { return b != 0; })) return aspi::kError;

    if (!image.source->write(offset, inside, buffer)) {
        image.ahead.length = 0;  // what the file holds now is not known
        return aspi::kError;
    }
    // What was read ahead takes the written bytes, so that the commit's next read-modify-write
    // does not read the whole piece again.
    ReadAhead& ahead = image.ahead;
    const uint64_t from = std::max(offset, ahead.offset), to = std::min(offset + length, ahead.offset + ahead.length);
    if (ahead.length > 0 && from < to) std::memcpy(ahead.bytes.data() + (from - ahead.offset), buffer + (from - offset), to - from);
    return aspi::kCompleted;
}

}  // namespace quarry
