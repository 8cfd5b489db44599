#include "device/containers/open_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "device/containers/cd_image.h"
#include "device/containers/dart.h"
#include "device/containers/diskcopy.h"
#include "device/containers/fork_readers.h"
#include "device/containers/ndif.h"
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

// A disk lies in the file where a disk lies on its medium (an HFS or HFS+ volume's header at byte
// 1024, an Apple partition map's driver descriptor at 0, an ISO 9660 descriptor at 32769 when
// the head reaches that far): such a file is never taken for a MacBinary, AppleSingle or BinHex
// file, whatever its first 64 KB happen to hold (a BinHex text kept on a small volume can lie
// there).
constexpr size_t kIsoIdentifier = 16 * 2048 + 1;
bool holdsDisk(const std::vector<uint8_t>& head) {
    constexpr size_t kVolumeHeader = 1024;
    const auto at = [&](size_t offset, const char* sign) {
        const size_t length = std::strlen(sign);
        return head.size() >= offset + length && std::memcmp(&head[offset], sign, length) == 0;
    };
    return at(0, "ER") || at(0, "LK") || at(kVolumeHeader, "BD") || at(kVolumeHeader, "H+") || at(kVolumeHeader, "HX") ||
           at(kIsoIdentifier, "CD001");
}

Result<OpenedImage> openContent(std::shared_ptr<FileHandle> file, uint64_t start, uint64_t size, const std::string& path,
                                ImageAccess access, int wrapping);
Result<OpenedImage> openContent(std::shared_ptr<FileHandle> file, const std::string& path, ImageAccess access, int wrapping);

// A file's bytes from `start` copied into a temporary file of their own, for the containers
// that read a file from its start.
Result<std::shared_ptr<FileHandle>> copyOut(const FileHandle& file, uint64_t start, uint64_t size) {
    Result<std::shared_ptr<FileHandle>> out = makeAnonymousTempFile();
    if (!out) return out;
    std::vector<uint8_t> piece(kCopyPiece);
    for (uint64_t done = 0; done < size;) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(piece.size(), size - done));
        if (Status s = file.readExactly(start + done, length, piece.data()); !s) return Fault{s.fault()};
        if (Status put = writeAll((*out)->fd(), piece.data(), length); !put) return Fault{put.fault()};
        done += length;
    }
    return out;
}

// A fork's bytes in memory: the resource fork, where an NDIF image keeps its block map.
Result<std::vector<uint8_t>> forkInMemory(const ForkBytes& fork, const FileHandle* file) {
    // Disk Copy's resource forks hold a block map of a few kilobytes; a fork far larger than any
    // map is not read into memory.
    constexpr uint64_t kLargestResourceFork = 16u << 20;
    if (fork.inMemory) return fork.decoded;
    if (fork.length > kLargestResourceFork)
        return Fault{"resource fork of " + std::to_string(fork.length) + " bytes is larger than a disk image's"};
    std::vector<uint8_t> bytes(static_cast<size_t>(fork.length));
    if (file) {
        if (Status s = file->readExactly(fork.offset, bytes.size(), bytes.data()); !s) return Fault{"resource fork cannot be read: " + s.fault()};
        return bytes;
    }
    size_t done = 0;
    Status s = ForEachForkChunk(fork, [&](const uint8_t* p, size_t n) {
        std::memcpy(bytes.data() + done, p, n);
        done += n;
        return Status::ok();
    });
    if (!s) return Fault{"resource fork cannot be read: " + s.fault()};
    return bytes;
}

// The disk of a Mac file's forks: an NDIF image when the resource fork holds a block map, else
// whatever the data fork holds. `title` names the wrapper in the format and in messages.
Result<OpenedImage> openForks(const std::string& title, const std::vector<uint8_t>& resourceFork, const std::array<uint8_t, 16>& finderInfo,
                              std::shared_ptr<FileHandle> data, uint64_t dataStart, uint64_t dataLength, const std::string& path,
                              int wrapping) {
    Result<std::optional<std::vector<uint8_t>>> blockMap = findResource(resourceFork, kBlockMapResource);
    if (!blockMap) return Fault{"The " + title + " file's " + blockMap.fault()};
    if (*blockMap) {
        Result<std::unique_ptr<ImageSource>> ndif = openNdif(std::move(data), dataStart, dataLength, **blockMap);
        if (!ndif) return Fault{ndif.fault()};
        OpenedImage image;
        image.source = std::move(*ndif);
        image.format = title + ", NDIF";
        return image;
    }
    if (dataLength == 0) return Fault{"The " + title + " file holds no data fork, so no disk image"};
    Result<OpenedImage> image = openContent(std::move(data), dataStart, dataLength, path, ImageAccess::ReadOnly, wrapping + 1);
    if (!image) return image;
    // Disk Copy's own files whose data fork holds neither a volume nor a container Quarry knows
    // are NDIF images in chunks, whose map went missing with the resource fork.
    const bool diskCopy = std::memcmp(finderInfo.data() + 4, "dCpy", 4) == 0;
    if (diskCopy && image->format.empty()) {
        std::vector<uint8_t> head(kIsoIdentifier + 5);
        if (Status s = image->source->read(0, head.size(), head.data()); !s) return Fault{s.fault()};
        if (!holdsDisk(head))
            return Fault{"The NDIF image's data fork holds no volume: its block map is in the resource fork, which this " + title +
                         " file does not carry"};
    }
    image->format = image->format.empty() ? title : title + ", " + image->format;
    return image;
}

// A disk image inside MacBinary, AppleSingle or BinHex: nothing when the file is in none of
// them. The data fork of MacBinary and AppleSingle is served where it lies; BinHex's is decoded
// into a temporary file.
Result<std::optional<OpenedImage>> openMacFile(const std::shared_ptr<FileHandle>& file, const std::string& path, ImageAccess access,
                                               int wrapping) {
    std::shared_ptr<FileHandle> decoded;
    const ForkTaker takeDataFork = [&](const uint8_t* bytes, size_t length) -> Status {
        if (!decoded) {
            Result<std::shared_ptr<FileHandle>> made = makeAnonymousTempFile();
            if (!made) return Fault{made.fault()};
            decoded = *made;
        }
        return writeAll(decoded->fd(), bytes, length);
    };
    Result<std::optional<MacFileParts>> parts = ReadOpenMacFile(file->fd(), std::filesystem::path(path).filename().string(), takeDataFork);
    if (!parts) return Fault{parts.fault()};
    if (!*parts) return std::optional<OpenedImage>();
    const MacFileParts& mac = **parts;
    const std::string title(BinaryFormatTitle(mac.format));
    if (access == ImageAccess::ReadWrite) return openFault(path, "a " + title + " file opens only for reading");
    if (wrapping >= kMaxWrapping) return Fault{"The image is wrapped in too many files"};
    Result<std::vector<uint8_t>> resourceFork = forkInMemory(mac.rsrc, file.get());
    if (!resourceFork) return Fault{"The " + title + " file's " + resourceFork.fault()};
    // An empty BinHex data fork made no temporary file.
    const bool inTemp = mac.data.inMemory;
    if (inTemp && !decoded) return Fault{"The " + title + " file holds no data fork, so no disk image"};
    Result<OpenedImage> image = openForks(title, *resourceFork, mac.finderInfo, inTemp ? decoded : file, inTemp ? 0 : mac.data.offset,
                                          mac.data.length, path, wrapping);
    if (!image) return Fault{image.fault()};
    return std::optional<OpenedImage>(std::move(*image));
}

// The AppleDouble "._" file beside an image, when it carries an NDIF block map: the image then
// opens through it. Nothing when there is no such file or it holds no block map.
Result<std::optional<OpenedImage>> openWithAppleDouble(const std::shared_ptr<FileHandle>& file, uint64_t size, const std::string& path,
                                                       ImageAccess access) {
    const std::filesystem::path data(path);
    const std::string header = (data.parent_path() / ("._" + data.filename().string())).string();
    std::error_code error;
    if (!std::filesystem::is_regular_file(header, error)) return std::optional<OpenedImage>();
    Result<std::optional<MacFileParts>> parts = ReadAppleDouble(path, header);
    if (!parts) return Fault{parts.fault()};
    if (!*parts) return std::optional<OpenedImage>();
    Result<std::vector<uint8_t>> resourceFork = forkInMemory((*parts)->rsrc, nullptr);
    if (!resourceFork) return Fault{"The AppleDouble file's " + resourceFork.fault()};
    Result<std::optional<std::vector<uint8_t>>> blockMap = findResource(*resourceFork, kBlockMapResource);
    if (!blockMap) return Fault{"The AppleDouble file's " + blockMap.fault()};
    if (!*blockMap) return std::optional<OpenedImage>();
    if (access == ImageAccess::ReadWrite) return openFault(path, "an NDIF image opens only for reading");
    Result<std::unique_ptr<ImageSource>> ndif = openNdif(file, 0, size, **blockMap);
    if (!ndif) return Fault{ndif.fault()};
    OpenedImage image;
    image.source = std::move(*ndif);
    image.format = "NDIF";
    return std::optional<OpenedImage>(std::move(image));
}

using Media = std::vector<OpenedImage>;

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
        Result<OpenedImage> opened = openContent(std::move(*inner), path, ImageAccess::ReadOnly, wrapping + 1);
        if (members.size() == 1) {
            if (!opened) return Fault{opened.fault()};
        } else if (!opened) {
            unreadable.push_back(m.name + " (" + opened.fault() + ")");
            continue;
        } else if (!holdsMacintoshVolume(*opened->source)) {
            continue;
        }
        if (opened->format.empty()) opened->format = "zip";
        opened->member = m.name;
        media.push_back(std::move(*opened));
    }
    if (media.empty()) {
        std::string why = "The zip file holds " + std::to_string(members.size()) + " files, and none of them holds a Macintosh volume";
        if (!unreadable.empty()) why += "; these could not be read: " + joined(unreadable);
        return Fault{why};
    }
    return media;
}

// The one image of a zip archive inside another file.
Result<OpenedImage> openZippedImage(const FileHandle& file, const std::string& path, int wrapping) {
    Result<Media> media = openZipMembers(file, path, wrapping, {});
    if (!media) return Fault{media.fault()};
    if (media->size() > 1) {
        std::vector<std::string> names;
        for (const OpenedImage& image : *media) names.push_back(image.member);
        return openFault(path, "the zip file holds " + std::to_string(media->size()) + " Macintosh volumes (" + joined(names) +
                                   "); open one of them by its name");
    }
    return std::move(media->front());
}

Result<OpenedImage> openContent(std::shared_ptr<FileHandle> file, const std::string& path, ImageAccess access, int wrapping) {
    Result<uint64_t> size = sizeOf(*file);
    if (!size) return openFault(path, size.fault());
    return openContent(std::move(file), 0, *size, path, access, wrapping);
}

// The image in `size` bytes from `start` of the file: the whole file, or the data fork of a
// MacBinary or AppleSingle file. A plain image there is served where it lies; the containers,
// which read a file from its start, get a copy of those bytes.
Result<OpenedImage> openContent(std::shared_ptr<FileHandle> file, uint64_t start, uint64_t size, const std::string& path,
                                ImageAccess access, int wrapping) {
    std::vector<uint8_t> head(std::min<uint64_t>(kHeadLength, size));
    Result<uint64_t> got = file->readSome(start, head.size(), head.data());
    if (!got) return openFault(path, got.fault());
    head.resize(*got);
    const auto startsWith = [&](const uint8_t* magic, size_t length) { return head.size() >= length && std::memcmp(head.data(), magic, length) == 0; };

    const bool gzip = startsWith(kGzipMagic, sizeof kGzipMagic), zip = startsWith(kZipMagic, sizeof kZipMagic);
    uint8_t tail[kKolySize];
    const uint64_t tailLength = std::min<uint64_t>(kKolySize, size);
    Result<uint64_t> tailGot = file->readSome(start + size - tailLength, tailLength, tail);
    if (!tailGot) return openFault(path, tailGot.fault());
    const KolyPlace koly = findKoly(tail, std::min(*tailGot, tailLength));
    if (start != 0) {
        const bool plain = !gzip && !zip && koly == KolyPlace::None && !looksLikeDiskCopy(head.data(), head.size()) &&
                           !looksLikeDart(head.data(), head.size()) && !looksLikeRawCdSector(head.data(), head.size());
        if (plain) {
            OpenedImage image;
            image.source = std::make_unique<FileSource>(file, start, size, ImageAccess::ReadOnly);
            return image;
        }
        Result<std::shared_ptr<FileHandle>> inner = copyOut(*file, start, size);
        if (!inner) return Fault{inner.fault()};
        return openContent(std::move(*inner), 0, size, path, access, wrapping);
    }

    if (gzip || zip) {
        if (access == ImageAccess::ReadWrite) return openFault(path, std::string("a ") + (gzip ? "gzip" : "zip") + " file opens only for reading");
        if (wrapping >= kMaxWrapping) return Fault{"The image is wrapped in too many compressed files"};
        if (zip) return openZippedImage(*file, path, wrapping);
        Result<std::shared_ptr<FileHandle>> inner = gunzip(*file);
        if (!inner) return Fault{inner.fault()};
        Result<OpenedImage> image = openContent(std::move(*inner), path, ImageAccess::ReadOnly, wrapping + 1);
        if (image && image->format.empty()) image->format = "gzip";
        return image;
    }

    if (!holdsDisk(head) && !looksLikeDiskCopy(head.data(), head.size()) && !looksLikeDart(head.data(), head.size()) &&
        !looksLikeRawCdSector(head.data(), head.size())) {
        Result<std::optional<OpenedImage>> unwrapped = openMacFile(file, path, access, wrapping);
        if (!unwrapped) return Fault{unwrapped.fault()};
        if (*unwrapped) return std::move(**unwrapped);
    }
    // An NDIF image's data fork may start with its disk's first sectors as they are.
    if (wrapping == 0) {
        Result<std::optional<OpenedImage>> unwrapped = openWithAppleDouble(file, size, path, access);
        if (!unwrapped) return Fault{unwrapped.fault()};
        if (*unwrapped) return std::move(**unwrapped);
    }

    Result<OpenedImage> image = OpenedImage{};
    if (koly == KolyPlace::CutShort) return Fault{"The UDIF image is damaged: its koly trailer is cut short"};
    if (koly == KolyPlace::AtEnd) {
        image = openUdif(file, size);
    } else if (looksLikeDart(head.data(), head.size())) {
        image = openDart(file, size);
    } else if (looksLikeDiskCopy(head.data(), head.size())) {
        image = openDiskCopy(file, size, access);
    } else if (looksLikeRawCdSector(head.data(), head.size())) {
        image = openRawCdBin(file, size);
    } else if (wrapping == 0 && looksLikeCueSheet(head.data(), head.size(), size)) {
        image = openCueSheet(*file, size, path);
    } else {
        image->source = std::make_unique<FileSource>(file, 0, size, access);
    }
    // A DiskCopy 4.2 image holds its disk as it is, and takes writes; the others pack theirs.
    if (image && access == ImageAccess::ReadWrite && !image->format.empty() && image->format != "DiskCopy 4.2")
        return openFault(path, "a " + image->format + " image opens only for reading");
    return image;
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
    uint8_t magic[sizeof kZipMagic] = {};
    Result<uint64_t> got = (*file)->readSome(0, sizeof magic, magic);
    if (!got) return openFault(path, got.fault());
    if (*got == sizeof magic && std::memcmp(magic, kZipMagic, sizeof magic) == 0) {
        if (access == ImageAccess::ReadWrite) return openFault(path, "a zip file opens only for reading");
        return openZipMembers(**file, path, 0, member);
    }
    if (!member.empty()) return openFault(path, "only a zip file has members to choose from");
    Result<OpenedImage> image = openContent(std::move(*file), path, access, 0);
    if (!image) return Fault{image.fault()};
    Media media;
    media.push_back(std::move(*image));
    return media;
}

Result<OpenedImage> openImage(const std::string& path, ImageAccess access) {
    Result<std::shared_ptr<FileHandle>> file = openFile(path, access);
    if (!file) return Fault{file.fault()};
    return openContent(std::move(*file), path, access, 0);
}

}  // namespace quarry
