#include "volume/byte_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quarry {

bool FdSink::writeThrough(const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd_, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = std::strerror(errno);
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool FdSink::write(const uint8_t* data, size_t length) {
    if (!error_.empty()) return false;
    if (pending_.size() + length > kGather && !flush()) return false;
    if (length >= kGather) return writeThrough(data, length);
    pending_.insert(pending_.end(), data, data + length);
    return true;
}

bool FdSink::flush() {
    if (!error_.empty()) return false;
    const bool ok = writeThrough(pending_.data(), pending_.size());
    pending_.clear();
    return ok;
}

Result<bool> FdSink::copyFromFile(int fd, uint64_t offset, uint64_t length) {
    if (kernelRefused_) return false;
    if (!flush()) return Fault{error_};
    const off_t before = ::lseek(fd_, 0, SEEK_CUR);
    if (before < 0) {
        kernelRefused_ = true;  // a port or a pipe: written to as a stream
        return false;
    }
    auto in = static_cast<off64_t>(offset);
    uint64_t done = 0;
    while (done < length) {
        const ssize_t n = kernelCopy_(fd, &in, fd_, nullptr, static_cast<size_t>(length - done), 0);
        if (n > 0) {
            done += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // A full disk or a file-size limit is the write's failure, as it would be for write().
        if (n < 0 && (errno == ENOSPC || errno == EFBIG || errno == EDQUOT)) {
            error_ = std::strerror(errno);
            return Fault{error_};
        }
        // Anything else (refused, or the image ends early) is left to the reading copy, which
        // says what is wrong with the medium; what the kernel appended is taken back first.
        kernelRefused_ = n < 0;
        if (done > 0 && (::ftruncate(fd_, before) != 0 || ::lseek(fd_, before, SEEK_SET) != before)) {
            error_ = std::strerror(errno);
            return Fault{error_};
        }
        return false;
    }
    return true;
}

}  // namespace quarry
