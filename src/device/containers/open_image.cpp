#include "device/containers/open_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "device/containers/cd_image.h"
#include "device/containers/dart.h"
#include "device/containers/diskcopy.h"
#include "device/containers/udif.h"

namespace quarry {
namespace {

constexpr size_t kHeadLength = 4096;
constexpr uint8_t kGzipMagic[] = {0x1F, 0x8B};
constexpr uint8_t kZipMagic[] = {'P', 'K', 0x03, 0x04};
// A wrapper inside a wrapper is unwrapped too (a zipped .dmg.gz), but not without end.
constexpr int kMaxWrapping = 2;
constexpr size_t kCopyPiece = 1 << 16;

Fault openFault(const std::string& path, const std::string& reason) { return Fault{"cannot open " + path + ": " + reason}; }

Status writeAll(int fd, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        const ssize_t put = ::write(fd, bytes, length);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return Fault{std::string("cannot write the temporary file: ") + std::strerror(errno)};
        bytes += put;
        length -= static_cast<size_t>(put);
    }
    return Status::ok();
}

// A gzip file is not seekable, so its image is unpacked once into a temporary file.
Result<std::shared_ptr<FileHandle>> gunzip(const FileHandle& file) {
    const int fd = ::dup(file.fd());
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) return Fault{std::strerror(errno)};
    std::unique_ptr<gzFile_s, int (*)(gzFile)> gz(gzdopen(fd, "rb"), gzclose);
    if (!gz) {
        ::close(fd);
        return Fault{"The gzip file cannot be read"};
    }
    Result<std::shared_ptr<FileHandle>> out = makeAnonymousTempFile();
    if (!out) return out;
    std::vector<uint8_t> piece(kCopyPiece);
    for (;;) {
        const int got = gzread(gz.get(), piece.data(), static_cast<unsigned>(piece.size()));
        int code = Z_OK;
        const char* why = gzerror(gz.get(), &code);
        if (got < 0 || (code != Z_OK && code != Z_STREAM_END)) {
            // zlib names the stream after its descriptor ("<fd:4>: "), which tells the person nothing.
            std::string text = why;
            if (text.rfind("<fd:", 0) == 0 && text.find(": ") != std::string::npos) text.erase(0, text.find(": ") + 2);
            return Fault{"The gzip file is damaged: " + text};
        }
        if (got == 0) break;
        if (Status put = writeAll((*out)->fd(), piece.data(), static_cast<size_t>(got)); !put) return Fault{put.fault()};
    }
    return out;
}

// A zip archive holding one image: that image, unpacked into a temporary file.
Result<std::shared_ptr<FileHandle>> unzip(const FileHandle& file) {
    const int fd = ::dup(file.fd());
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) return Fault{std::strerror(errno)};
    int error = 0;
    std::unique_ptr<zip_t, void (*)(zip_t*)> archive(zip_fdopen(fd, ZIP_RDONLY, &error), zip_discard);
    if (!archive) {
        ::close(fd);
        zip_error_t why;
        zip_error_init_with_code(&why, error);
        Fault fault{std::string("The zip file is damaged: ") + zip_error_strerror(&why)};
        zip_error_fini(&why);
        return fault;
    }
    // Folders and the resource-fork shadows that the Finder adds to archives are not images.
    std::vector<zip_uint64_t> images;
    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const std::string name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0) ?: "";
        if (name.empty() || name.back() == '/' || name.rfind("__MACOSX/", 0) == 0) continue;
        images.push_back(static_cast<zip_uint64_t>(i));
    }
    if (images.size() != 1)
        return Fault{"The zip file holds " + std::to_string(images.size()) + " files; Quarry opens a zip file that holds one image"};
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> entry(zip_fopen_index(archive.get(), images[0], 0), zip_fclose);
    if (!entry) return Fault{std::string("The zip file is damaged: ") + zip_strerror(archive.get())};
    Result<std::shared_ptr<FileHandle>> out = makeAnonymousTempFile();
    if (!out) return out;
    std::vector<uint8_t> piece(kCopyPiece);
    for (;;) {
        const zip_int64_t got = zip_fread(entry.get(), piece.data(), piece.size());
        if (got < 0) return Fault{std::string("The zip file is damaged: ") + zip_file_strerror(entry.get())};
        if (got == 0) break;
        if (Status put = writeAll((*out)->fd(), piece.data(), static_cast<size_t>(got)); !put) return Fault{put.fault()};
    }
    return out;
}

Result<uint64_t> sizeOf(const FileHandle& file) {
    const off_t end = ::lseek(file.fd(), 0, SEEK_END);
    if (end < 0) return Fault{std::strerror(errno)};
    return static_cast<uint64_t>(end);
}

Result<OpenedImage> openContent(std::shared_ptr<FileHandle> file, const std::string& path, ImageAccess access, int wrapping) {
    Result<uint64_t> size = sizeOf(*file);
    if (!size) return openFault(path, size.fault());
    std::vector<uint8_t> head(std::min<uint64_t>(kHeadLength, *size));
    Result<uint64_t> got = file->readSome(0, head.size(), head.data());
    if (!got) return openFault(path, got.fault());
    head.resize(*got);
    const auto startsWith = [&](const uint8_t* magic, size_t length) { return head.size() >= length && std::memcmp(head.data(), magic, length) == 0; };

    const bool gzip = startsWith(kGzipMagic, sizeof kGzipMagic), zip = startsWith(kZipMagic, sizeof kZipMagic);
    if (gzip || zip) {
        if (access == ImageAccess::ReadWrite) return openFault(path, std::string("a ") + (gzip ? "gzip" : "zip") + " file opens only for reading");
        if (wrapping >= kMaxWrapping) return Fault{"The image is wrapped in too many compressed files"};
        Result<std::shared_ptr<FileHandle>> inner = gzip ? gunzip(*file) : unzip(*file);
        if (!inner) return Fault{inner.fault()};
        Result<OpenedImage> image = openContent(std::move(*inner), path, ImageAccess::ReadOnly, wrapping + 1);
        if (image && image->format.empty()) image->format = gzip ? "gzip" : "zip";
        return image;
    }

    Result<OpenedImage> image = OpenedImage{};
    uint8_t tail[kKolySize];
    const uint64_t tailLength = std::min<uint64_t>(kKolySize, *size);
    Result<uint64_t> tailGot = file->readSome(*size - tailLength, tailLength, tail);
    if (!tailGot) return openFault(path, tailGot.fault());
    const KolyPlace koly = findKoly(tail, *tailGot);
    if (koly == KolyPlace::CutShort) return Fault{"The UDIF image is damaged: its koly trailer is cut short"};
    if (koly == KolyPlace::AtEnd) {
        image = openUdif(file, *size);
    } else if (looksLikeDart(head.data(), head.size())) {
        image = openDart(file, *size);
    } else if (looksLikeDiskCopy(head.data(), head.size())) {
        image = openDiskCopy(file, *size, access);
    } else if (looksLikeRawCdSector(head.data(), head.size())) {
        image = openRawCdBin(file, *size);
    } else if (wrapping == 0 && looksLikeCueSheet(head.data(), head.size(), *size)) {
        image = openCueSheet(*file, *size, path);
    } else {
        image->source = std::make_unique<FileSource>(file, 0, *size, access);
    }
    // A DiskCopy 4.2 image holds its disk as it is, and takes writes; the others pack theirs.
    if (image && access == ImageAccess::ReadWrite && !image->format.empty() && image->format != "DiskCopy 4.2")
        return openFault(path, "a " + image->format + " image opens only for reading");
    return image;
}

}  // namespace

Result<OpenedImage> openImage(const std::string& path, ImageAccess access) {
    const int flags = (access == ImageAccess::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) return openFault(path, std::strerror(errno));
    auto file = std::make_shared<FileHandle>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) return openFault(path, std::strerror(errno));
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
        return openFault(path, S_ISDIR(info.st_mode) ? "is a directory" : "not an image file or block device");
    return openContent(std::move(file), path, access, 0);
}

}  // namespace quarry
