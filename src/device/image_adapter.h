#pragma once
// The image adapter: each image file or block device put on it is one target that behaves as a
// CD-ROM drive serving 2048-byte blocks. This is how a disk image reaches the program through the
// same bus scan, drive choice and sector source as a real drive.
//
//     auto images = std::make_unique<ImageAdapter>();
//     Result<int> target = images->addImage("/tmp/disk.hfs", ImageAccess::ReadOnly);
//     bus.adapters.push_back(std::move(images));   // the scan lists it as "[n|t] QUARRY - disk.hfs"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "device/containers/image_source.h"
#include "device/scsi_bus.h"

namespace quarry {

class ImageAdapter : public HostAdapter {
public:
    static constexpr size_t kMaxImages = kTargetsPerAdapter;
    static constexpr uint32_t kBlockSize = 2048;

    ImageAdapter() = default;
    ~ImageAdapter() override;
    ImageAdapter(const ImageAdapter&) = delete;
    ImageAdapter& operator=(const ImageAdapter&) = delete;

    // Opens an image file or block device as the next free target and returns its target number.
    // Containers (DiskCopy 4.2, DART, BIN/CUE, UDIF, gzip, zip) are recognised by their content and
    // serve the medium they hold.
    Result<int> addImage(const std::string& path, ImageAccess access);
    // Opens every medium the file holds as a target of its own, in the file's order: one for an
    // image, each member that holds a Macintosh volume for a zip archive of several (only the
    // member named, when `member` names one). Each target's product identification is its
    // member's name. Media past the adapter's last free target are not opened; `left` counts them.
    Result<std::vector<int>> addImages(const std::string& path, ImageAccess access, const std::string& member = {},
                                       size_t* left = nullptr);

    size_t imageCount() const { return images_.size(); }
    // Bytes of the image, as found when it was opened; 0 for a target that holds none.
    uint64_t imageSize(int target) const;
    const std::string& imagePath(int target) const;
    // What the person should hear about an image that opened all the same (a DiskCopy checksum
    // that does not match), and the kind of container it is ("" for a plain image).
    const std::vector<std::string>& imageWarnings(int target) const;
    const std::string& imageFormat(int target) const;
    // Puts a medium opened from `path` on the next free target.
    Result<int> addOpened(OpenedImage opened, const std::string& path, ImageAccess access);
    // The member of a zip archive the target serves; empty for any other image.
    const std::string& imageMember(int target) const;

    std::string managerId() const override;
    int deviceType(uint8_t target) override;
    uint8_t execute(uint8_t target, ScsiCommand& command) override;
    // Each damaged sector is named once while the image is open, after the read that served it.
    std::vector<std::string> takeReadWarnings() override;
    uint64_t mediumBytes(uint8_t target) override;
    // A plain image's file; none for a container.
    std::optional<MediumFile> mediumFile(uint8_t target) const override;

private:
    static constexpr uint64_t kReadAheadBytes = 256 * 1024;
    // The first read ahead of a run of sequential reads; each one after it doubles.
    static constexpr uint64_t kFirstReadAhead = 16 * 1024;

    struct ReadAhead {
        std::vector<uint8_t> bytes;
        uint64_t offset = 0;
        uint64_t length = 0;  // 0: nothing read ahead
        uint64_t lastEnd = 0;  // where the last read ended
        uint32_t streak = 0;   // sequential reads in a row up to the last one
    };

    struct Image {
        std::unique_ptr<ImageSource> source;
        std::string format;
        std::vector<std::string> warnings;
        std::string path;
        std::string member;
        std::string product;  // 16 bytes of INQUIRY product identification
        ImageAccess access = ImageAccess::ReadOnly;
        uint64_t size = 0;
        mutable ReadAhead ahead;
    };

    // Where the image's last block ends: its size, rounded up to whole blocks.
    static uint64_t blocksEnd(const Image& image);
    static uint8_t readRaw(const Image& image, uint64_t offset, uint64_t length, uint8_t* buffer);

    uint8_t inquiry(const Image& image, ScsiCommand& command) const;
    uint8_t read(const Image& image, uint64_t offset, uint64_t length, uint8_t* buffer) const;
    uint8_t readAhead(const Image& image, uint64_t offset, uint64_t length, uint8_t* buffer) const;
    uint8_t write(const Image& image, uint64_t offset, uint64_t length, const uint8_t* buffer) const;

    std::vector<Image> images_;
};

}  // namespace quarry
