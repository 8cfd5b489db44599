#include "device/containers/open_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "device/containers/cd_image.h"
#include "device/containers/diskcopy.h"
#include "device/containers/udif.h"
#include "device/partition_scan.h"

namespace quarry {
namespace {

constexpr size_t kHeadLength = 4096;
constexpr uint8_t kGzipMagic[] = {0x1F, 0x8B};
constexpr uint8_t kZipMagic[] = {'P', 'K', 0x03, 0x04};
// A wrapper inside a wrapper is unwrapped too (a zipped .dmg.gz), but not without end.
constexpr int kMaxWrapping = 2;
constexpr size_t kCopyPiece = 1 << 16;
// Each file of a zip archive is unpacked to learn whether it holds a volume; an archive of more
// files than this is opened only by naming the member.
constexpr size_t kMaxZipMembers = 64;

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

using ZipArchive = std::unique_ptr<zip_t, void (*)(zip_t*)>;

Result<ZipArchive> openZip(const FileHandle& file) {
    const int fd = ::dup(file.fd());
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) return Fault{std::strerror(errno)};
    int error = 0;
    ZipArchive archive(zip_fdopen(fd, ZIP_RDONLY, &error), zip_discard);
    if (!archive) {
        ::close(fd);
        zip_error_t why;
        zip_error_init_with_code(&why, error);
        Fault fault{std::string("The zip file is damaged: ") + zip_error_strerror(&why)};
        zip_error_fini(&why);
        return fault;
    }
    return archive;
}

struct ZipMember {
    zip_uint64_t index = 0;
    std::string name;
};

// The members that may be images: folders and the resource-fork shadows that the Finder adds to
// archives under __MACOSX/ are not.
std::vector<ZipMember> fileMembers(zip_t* archive) {
    std::vector<ZipMember> members;
    const zip_int64_t entries = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const std::string name = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0) ?: "";
        if (name.empty() || name.back() == '/' || name.rfind("__MACOSX/", 0) == 0) continue;
        members.push_back({static_cast<zip_uint64_t>(i), name});
    }
    return members;
}

std::string lastPart(const std::string& name) { return name.substr(name.find_last_of('/') + 1); }

// The member a person named: by its whole name in the archive, or by its last part when no
// other member's last part is the same.
Result<ZipMember> namedMember(const std::vector<ZipMember>& members, const std::string& wanted) {
    std::vector<const ZipMember*> byLastPart;
    for (const ZipMember& m : members) {
        if (m.name == wanted) return m;
        if (lastPart(m.name) == wanted) byLastPart.push_back(&m);
    }
    if (byLastPart.size() == 1) return *byLastPart.front();
    if (byLastPart.size() > 1) return Fault{"The zip file holds several members named \"" + wanted + "\"; name one by its whole path in the archive"};
    return Fault{"The zip file holds no member named \"" + wanted + "\""};
}

// One member unpacked into a temporary file.
Result<std::shared_ptr<FileHandle>> unpackMember(zip_t* archive, zip_uint64_t index) {
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> entry(zip_fopen_index(archive, index, 0), zip_fclose);
    if (!entry) return Fault{std::string("The zip file is damaged: ") + zip_strerror(archive)};
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

using Media = std::vector<OpenedImage>;

Result<Media> openContent(std::shared_ptr<FileHandle> file, const std::string& path, ImageAccess access, int wrapping,
                          const std::string& member);

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The media of a zip archive: its one file, whatever that holds; of several files, those that
// hold a Macintosh volume, each named by its member (a text file or a picture beside the images
// is not one); or the one member named.
Result<Media> openZipMembers(const FileHandle& file, const std::string& path, int wrapping, const std::string& member) {
    Result<ZipArchive> archive = openZip(file);
    if (!archive) return Fault{archive.fault()};
    std::vector<ZipMember> members = fileMembers(archive->get());
    if (!member.empty()) {
        Result<ZipMember> named = namedMember(members, member);
        if (!named) return Fault{named.fault()};
        members = {*named};
    }
    if (members.empty()) return Fault{"The zip file holds no files"};
    if (members.size() > kMaxZipMembers)
        return Fault{"The zip file holds " + std::to_string(members.size()) + " files; Quarry looks for images among at most " +
                     std::to_string(kMaxZipMembers) + ", so name the member to open"};
    Media media;
    std::vector<std::string> unreadable;
    for (const ZipMember& m : members) {
        Result<std::shared_ptr<FileHandle>> inner = unpackMember(archive->get(), m.index);
        if (!inner) return Fault{inner.fault()};
        Result<Media> opened = openContent(std::move(*inner), path, ImageAccess::ReadOnly, wrapping + 1, {});
        if (opened && opened->size() != 1)
            opened = Fault{"it holds " + std::to_string(opened->size()) + " images of its own"};
        if (members.size() == 1) {
            if (!opened) return Fault{opened.fault()};
        } else if (!opened) {
            unreadable.push_back(m.name + " (" + opened.fault() + ")");
            continue;
        } else if (!holdsMacintoshVolume(*opened->front().source)) {
            continue;
        }
        OpenedImage& image = opened->front();
        if (image.format.empty()) image.format = "zip";
        image.member = m.name;
        media.push_back(std::move(image));
    }
    if (media.empty()) {
        std::string why = "The zip file holds " + std::to_string(members.size()) + " files, and none of them holds a Macintosh volume";
        if (!unreadable.empty()) why += "; these could not be read: " + joined(unreadable);
        return Fault{why};
    }
    return media;
}

Result<Media> openContent(std::shared_ptr<FileHandle> file, const std::string& path, ImageAccess access, int wrapping,
                          const std::string& member) {
    Result<uint64_t> size = sizeOf(*file);
    if (!size) return openFault(path, size.fault());
    std::vector<uint8_t> head(std::min<uint64_t>(kHeadLength, *size));
    Result<uint64_t> got = file->readSome(0, head.size(), head.data());
    if (!got) return openFault(path, got.fault());
    head.resize(*got);
    const auto startsWith = [&](const uint8_t* magic, size_t length) { return head.size() >= length && std::memcmp(head.data(), magic, length) == 0; };

    const bool gzip = startsWith(kGzipMagic, sizeof kGzipMagic), zip = startsWith(kZipMagic, sizeof kZipMagic);
    if (!member.empty() && !zip) return openFault(path, "only a zip file has members to choose from");
    if (gzip || zip) {
        if (access == ImageAccess::ReadWrite) return openFault(path, std::string("a ") + (gzip ? "gzip" : "zip") + " file opens only for reading");
        if (wrapping >= kMaxWrapping) return Fault{"The image is wrapped in too many compressed files"};
        if (zip) return openZipMembers(*file, path, wrapping, member);
        Result<std::shared_ptr<FileHandle>> inner = gunzip(*file);
        if (!inner) return Fault{inner.fault()};
        Result<Media> media = openContent(std::move(*inner), path, ImageAccess::ReadOnly, wrapping + 1, {});
        if (media)
            for (OpenedImage& image : *media)
                if (image.format.empty()) image.format = "gzip";
        return media;
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
    } else if (looksLikeDiskCopy(head.data(), head.size())) {
        image = openDiskCopy(file, *size, access);
    } else if (looksLikeRawCdSector(head.data(), head.size())) {
        image = openRawCdBin(file, *size);
    } else if (wrapping == 0 && looksLikeCueSheet(head.data(), head.size(), *size)) {
        image = openCueSheet(*file, *size, path);
    } else {
        image->source = std::make_unique<FileSource>(file, 0, *size, access);
    }
    if (!image) return Fault{image.fault()};
    // A DiskCopy 4.2 image holds its disk as it is, and takes writes; the others pack theirs.
    if (access == ImageAccess::ReadWrite && !image->format.empty() && image->format != "DiskCopy 4.2")
        return openFault(path, "a " + image->format + " image opens only for reading");
    Media media;
    media.push_back(std::move(*image));
    return media;
}

Result<std::shared_ptr<FileHandle>> openFile(const std::string& path, ImageAccess access) {
    const int flags = (access == ImageAccess::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) return openFault(path, std::strerror(errno));
    auto file = std::make_shared<FileHandle>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) return openFault(path, std::strerror(errno));
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
        return openFault(path, S_ISDIR(info.st_mode) ? "is a directory" : "not an image file or block device");
    return file;
}

}  // namespace

bool holdsMacintoshVolume(ImageSource& medium) {
    Result<std::vector<FoundVolume>> found = scanPartitions(
        medium.size(), [&](uint64_t offset, std::span<uint8_t> out) { return medium.read(offset, out.size(), out.data()); });
    return found && std::any_of(found->begin(), found->end(), [](const FoundVolume& v) { return v.kind != VolumeKind::Other; });
}

Result<std::vector<OpenedImage>> openImages(const std::string& path, ImageAccess access, const std::string& member) {
    Result<std::shared_ptr<FileHandle>> file = openFile(path, access);
    if (!file) return Fault{file.fault()};
    return openContent(std::move(*file), path, access, 0, member);
}

Result<OpenedImage> openImage(const std::string& path, ImageAccess access) {
    Result<std::vector<OpenedImage>> media = openImages(path, access);
    if (!media) return Fault{media.fault()};
    if (media->size() > 1) {
        std::vector<std::string> names;
        for (const OpenedImage& image : *media) names.push_back(image.member);
        return openFault(path, "the zip file holds " + std::to_string(media->size()) + " Macintosh volumes (" + joined(names) +
                                   "); open one of them by its name");
    }
    return std::move(media->front());
}

}  // namespace quarry
