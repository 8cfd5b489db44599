#pragma once
// What the image adapter reads its blocks from. A plain image is a file served byte for byte; a
// container (DiskCopy 4.2, DART, BIN/CUE, UDIF, a gzip or zip wrapper) is a file whose medium has
// to be found, cut out or decompressed first. Each kind is an ImageSource, so the adapter above serves
// 2048-byte blocks the same way whatever the file holds.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "device/scsi_bus.h"

namespace quarry {

enum class ImageAccess { ReadOnly, ReadWrite };

class ImageSource {
public:
    virtual ~ImageSource() = default;

    // Bytes of the medium.
    virtual uint64_t size() const = 0;
    // Fills `length` bytes from `offset` of the medium. Bytes past its end read as zeros (the
    // image adapter asks for them only in the tail of the medium's last 2048-byte block).
    Status read(uint64_t offset, uint64_t length, uint8_t* out);
    // Only plain images and DiskCopy 4.2 images take writes; the other containers refuse them.
    virtual Status write(uint64_t offset, uint64_t length, const uint8_t* in);
    virtual Status flush() { return Status::ok(); }

    // A source that checks what it reads (the EDC of raw CD sectors) serves damaged data as it
    // was read and tells about it afterwards. The adapter reads ahead of what it is asked for, so
    // it names the ranges it actually handed to a reader, and only damage inside them is told.
    virtual void served(uint64_t /*offset*/, uint64_t /*length*/) {}
    // One message naming the damage served since the last call and not named before; empty
    // when there is none.
    virtual std::string takeReadWarning() { return {}; }
    // The file the medium lies in as it is; none for a source that unpacks or checks it.
    virtual std::optional<MediumFile> mediumFile() const { return std::nullopt; }

protected:
    // Reads a range that lies wholly inside the medium.
    virtual Status readInside(uint64_t offset, uint64_t length, uint8_t* out) = 0;
};

// An open file descriptor, closed when the last source using it goes.
class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int fd() const { return fd_; }
    // Reads exactly `length` bytes at `offset`; fewer bytes in the file is a fault.
    Status readExactly(uint64_t offset, uint64_t length, uint8_t* out) const;
    // Reads what is there of `length` bytes at `offset` and returns how many.
    Result<uint64_t> readSome(uint64_t offset, uint64_t length, uint8_t* out) const;

private:
    int fd_;
};

// A window of a file served as it is: a plain image (offset 0, the whole file), the data of a
// DiskCopy image, a MODE1/2048 track.
class FileSource : public ImageSource {
public:
    FileSource(std::shared_ptr<FileHandle> file, uint64_t start, uint64_t size, ImageAccess access)
        : file_(std::move(file)), start_(start), size_(size), access_(access) {}
    uint64_t size() const override { return size_; }
    Status write(uint64_t offset, uint64_t length, const uint8_t* in) override;
    Status flush() override;
    std::optional<MediumFile> mediumFile() const override { return MediumFile{file_->fd(), start_, size_}; }

protected:
    Status readInside(uint64_t offset, uint64_t length, uint8_t* out) override;

private:
    std::shared_ptr<FileHandle> file_;
    uint64_t start_;
    uint64_t size_;
    ImageAccess access_;
};

// An image file opened for the adapter: the medium it holds, what kind of file held it, and
// what the person should hear about it that does not stop it from being read.
struct OpenedImage {
    std::unique_ptr<ImageSource> source;
    std::string format;                 // "DiskCopy 4.2", "UDIF", ... ; empty for a plain image
    std::vector<std::string> warnings;  // e.g. a DiskCopy data checksum that does not match
    std::string member;                 // its name inside the zip archive that held it; else empty
};

// A file in the system's temporary directory that holds an unwrapped image. Its name is removed
// as soon as it is made, so the bytes go away when the image is closed, even when the program
// is killed.
Result<std::shared_ptr<FileHandle>> makeAnonymousTempFile();

// Big-endian fields of container headers, read from a span the caller has checked.
inline uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
inline uint64_t be64(const uint8_t* p) { return uint64_t{be32(p)} << 32 | be32(p + 4); }

}  // namespace quarry
