#include "device/containers/image_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quarry {

Status ImageSource::read(uint64_t offset, uint64_t length, uint8_t* out) {
    const uint64_t inside = offset >= size() ? 0 : std::min(length, size() - offset);
    std::memset(out + inside, 0, length - inside);
    return inside == 0 ? Status::ok() : readInside(offset, inside, out);
}

Status ImageSource::write(uint64_t, uint64_t, const uint8_t*) { return Fault{"a container image is read-only"}; }

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

Result<uint64_t> FileHandle::readSome(uint64_t offset, uint64_t length, uint8_t* out) const {
    uint64_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return Fault{std::strerror(errno)};
        }
        if (got == 0) break;
        done += static_cast<uint64_t>(got);
    }
    return done;
}

Status FileHandle::readExactly(uint64_t offset, uint64_t length, uint8_t* out) const {
    Result<uint64_t> got = readSome(offset, length, out);
    if (!got) return Fault{got.fault()};
    if (*got != length) return Fault{"the file ends at byte " + std::to_string(offset + *got)};
    return Status::ok();
}

Status FileSource::readInside(uint64_t offset, uint64_t length, uint8_t* out) {
    // A file that shrank since it was opened has lost what lay past its new end: that cannot
    // be read, and is never served as zeros.
    return file_->readExactly(start_ + offset, length, out);
}

Status FileSource::write(uint64_t offset, uint64_t length, const uint8_t* in) {
    if (access_ != ImageAccess::ReadWrite) return ImageSource::write(offset, length, in);
    uint64_t done = 0;
    while (done < length) {
        const ssize_t put = ::pwrite(file_->fd(), in + done, length - done, static_cast<off_t>(start_ + offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return Fault{std::strerror(errno)};
        }
        if (put == 0) return Fault{"nothing written"};
        done += static_cast<uint64_t>(put);
    }
    return Status::ok();
}

Status FileSource::flush() {
    if (access_ != ImageAccess::ReadWrite) return Status::ok();
    return ::fdatasync(file_->fd()) == 0 ? Status::ok() : Status{Fault{std::strerror(errno)}};
}

Result<std::shared_ptr<FileHandle>> makeAnonymousTempFile() {
    const char* base = std::getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/quarry-image-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return Fault{"cannot make a temporary file in " + name.substr(0, name.rfind('/')) + ": " + std::strerror(errno)};
    ::unlink(name.c_str());
    return std::make_shared<FileHandle>(fd);
}

}  // namespace quarry
