#include "copy/manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "copy/copy_context.h"
#include "copy/sha256_sink.h"

namespace quarry {
namespace {

constexpr size_t kDigestHexLength = 64;
// Files are read back in pieces of this size: large enough that the digest, not the calls,
// sets the pace, small enough to stay in the cache.
constexpr size_t kReadBackChunk = 1 << 20;
// A line longer than this cannot be sha256sum's: it is the digest and a path of at most
// PATH_MAX bytes, each of which its escaping may double.
constexpr size_t kLongestLine = kDigestHexLength + 3 + 2 * 4096;

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Reads fd to its end and says whether every line is a manifest's. Only the current line is
// held, so a large file that is not a manifest is refused at its first line, not read whole.
Result<bool> holdsOnlyManifestLines(int fd) {
    std::string line;
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fault{systemError("cannot read")};
        if (n == 0) break;
        for (const char c : std::string_view(chunk, static_cast<size_t>(n))) {
            if (c != '\n') {
                if (line.size() == kLongestLine) return false;
                line.push_back(c);
                continue;
            }
            if (!IsManifestLine(line)) return false;
            line.clear();
        }
    }
    // A last line without its LF still counts, as sha256sum reads it.
    return line.empty() || IsManifestLine(line);
}

}  // namespace

ChecksumManifest::~ChecksumManifest() { (void)close(); }

Status ChecksumManifest::open(const std::string& path) {
    if (isOpen()) return Fault{"a checksum manifest is open already: " + name_};
    // Read and write through one descriptor, so that the file whose lines were checked is the
    // one that is emptied.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Fault{systemError("cannot open the checksum manifest " + path)};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const Fault fault{systemError("cannot open the checksum manifest " + path)};
        ::close(fd);
        return fault;
    }
    // Only a regular file holds lines to check; a pipe or a device (/dev/stdout) is written as
    // it is.
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        Result<bool> manifest = holdsOnlyManifestLines(fd);
        std::string why;
        if (!manifest) why = "cannot replace the checksum manifest " + path + ": " + manifest.fault();
        else if (!*manifest) why = path + " is not a checksum manifest: it is left as it is, and nothing is copied";
        else if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) why = systemError("cannot empty the checksum manifest " + path);
        if (!why.empty()) {
            ::close(fd);
            return Fault{why};
        }
    }
    fd_ = fd;
    name_ = path;
    fileCount_ = 0;
    return Status::ok();
}

Status ChecksumManifest::add(const std::string& file, std::string_view listed) {
    if (!isOpen()) return Status::ok();
    // The copy has just closed the file it made; a link put there since is not followed.
    const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return Fault{systemError("cannot read back \"" + file + "\" for the checksum manifest")};
    Sha256Sink digest;
    buffer_.resize(kReadBackChunk);
    int readError = 0;
    bool hashed = digest.error().empty();
    while (hashed) {
        const ssize_t n = ::read(in, buffer_.data(), buffer_.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readError = errno;
        if (n <= 0) break;
        hashed = digest.write(buffer_.data(), static_cast<size_t>(n));
    }
    ::close(in);
    if (readError != 0) {
        errno = readError;
        return Fault{systemError("cannot read back \"" + file + "\" for the checksum manifest")};
    }
    const std::string hex = hashed ? digest.hex() : std::string();
    if (hex.size() != kDigestHexLength) return Fault{"cannot compute the SHA-256 of \"" + file + "\""};
    // One write per line, so that a manifest cut short by a crash ends with whole lines.
    if (!writeAll(fd_, ManifestLine(hex, listed))) return Fault{systemError("cannot write to the checksum manifest " + name_)};
    ++fileCount_;
    return Status::ok();
}

Status ChecksumManifest::close() {
    if (!isOpen()) return Status::ok();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return Fault{systemError("cannot write to the checksum manifest " + name_)};
    return Status::ok();
}

std::string ManifestLine(std::string_view hexDigest, std::string_view path) {
    const bool escaped = path.find_first_of("\\\n\r") != std::string_view::npos;
    std::string line;
    if (escaped) line.push_back('\\');
    line.append(hexDigest);
    line.append("  ");
    for (const char c : path) {
        if (!escaped) line.push_back(c);
        else if (c == '\\') line.append("\\\\");
        else if (c == '\n') line.append("\\n");
        else if (c == '\r') line.append("\\r");
        else line.push_back(c);
    }
    line.push_back('\n');
    return line;
}

bool IsManifestLine(std::string_view line) {
    if (!line.empty() && line.front() == '\\') line.remove_prefix(1);
    if (line.size() < kDigestHexLength + 3) return false;
    for (size_t i = 0; i < kDigestHexLength; ++i)
        if (!isHexDigit(line[i])) return false;
    // Two spaces in text mode, a space and a star in binary mode.
    return line[kDigestHexLength] == ' ' && (line[kDigestHexLength + 1] == ' ' || line[kDigestHexLength + 1] == '*');
}

std::string ManifestNameForLog(const std::string& logName) {
    constexpr std::string_view kExtension = ".sha256";
    const size_t base = logName.find_last_of('/') + 1;  // 0 without a folder
    const size_t dot = logName.rfind('.');
    std::string name = dot != std::string::npos && dot > base ? logName.substr(0, dot) : logName;
    name += kExtension;
    // A log that is itself named .sha256 keeps its name; the manifest goes beside it.
    if (name == logName) name += kExtension;
    return name;
}

void AddToManifest(const CopyContext& context, const std::string& pcName) {
    ChecksumManifest& manifest = context.state.manifest;
    if (!manifest.isOpen()) return;
    if (Status s = manifest.add(pcName, context.state.pcFolder + pcName); !s) {
        ++context.state.failures;
        context.ui().showTimedMessage(s.fault());
    }
}

}  // namespace quarry
