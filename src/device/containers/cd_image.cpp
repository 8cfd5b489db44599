#include "device/containers/cd_image.h"

#include <fcntl.h>
#include <libcue.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "device/containers/cd_edc.h"

namespace quarry {
namespace {

// The layout of a 2352-byte sector: 12 bytes of sync pattern, a 4-byte header (minute, second,
// frame, mode); in mode 1 the user data follows, in mode 2 form 1 (CD-ROM XA) an 8-byte
// subheader comes first.
namespace cdsector {
constexpr uint32_t kRawSize = 2352;
constexpr size_t kSyncLength = 12;
constexpr size_t kMode = 15;
constexpr size_t kMode1Data = 16;
constexpr size_t kMode2Form1Data = 24;
constexpr size_t kMode2Data2336 = 8;  // MODE2/2336 files keep the subheader but no sync or header
constexpr uint32_t kUserSize = 2048;
constexpr uint8_t kSync[kSyncLength] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
}  // namespace cdsector

// Cue sheets are a few lines per track; anything much bigger is something else.
constexpr uint64_t kMaxCueSheet = 64 * 1024;

Fault damaged(const std::string& why) { return Fault{"The BIN/CUE image is damaged: " + why}; }

// Where a raw sector keeps its error detection code, and over which bytes it was taken.
struct EdcPlace {
    size_t coveredFrom;
    size_t coveredLength;
    size_t storedAt;
    bool mode2;  // a mode 2 sector: form 2 sectors among them are not checked
};
constexpr EdcPlace kMode1Edc{0, 2064, 2064, false};
constexpr EdcPlace kMode2Form1Edc{16, 2056, 2072, true};
// A mode 2 sector's submode byte (in the subheader) marks form 2, whose sectors keep an optional
// EDC elsewhere, taken over other bytes.
constexpr size_t kSubmode = 18;
constexpr uint8_t kSubmodeForm2 = 0x20;

// Damaged sectors are named in full up to this many; the rest are counted.
constexpr size_t kSectorsNamed = 10;
// Raw sectors read from the file at once: few system calls, a buffer of 150 KB.
constexpr uint64_t kSectorsPerRead = 64;

// The user data of each sector of a track, `dataOffset` bytes into sectors of `sectorSize`.
// Raw sectors are checked against their EDC as they are read; one that fails is still served as
// read (a rip with a damaged sector is worth reading all the same), and named afterwards.
class CdTrackSource : public ImageSource {
public:
    CdTrackSource(std::shared_ptr<FileHandle> file, uint64_t start, uint64_t sectors, uint32_t sectorSize, uint32_t dataOffset,
                  std::optional<EdcPlace> edc)
        : file_(std::move(file)), start_(start), sectors_(sectors), sectorSize_(sectorSize), dataOffset_(dataOffset), edc_(edc) {}
    uint64_t size() const override { return sectors_ * cdsector::kUserSize; }

    void served(uint64_t offset, uint64_t length) override {
        if (length == 0) return;
        const uint64_t first = offset / cdsector::kUserSize, last = (offset + length - 1) / cdsector::kUserSize;
        for (auto it = failed_.lower_bound(first); it != failed_.end() && *it <= last; ++it)
            if (named_.insert(*it).second) unnamed_.insert(*it);
    }

    std::string takeReadWarning() override {
        if (unnamed_.empty()) return {};
        // Sectors are named as the file numbers them, which is where a person looks for them.
        const uint64_t firstInFile = start_ / sectorSize_;
        std::string list;
        size_t shown = 0;
        for (uint64_t sector : unnamed_) {
            if (shown == kSectorsNamed) break;
            list += (shown++ ? ", " : "") + std::to_string(firstInFile + sector);
        }
        if (unnamed_.size() > shown) list += " and " + std::to_string(unnamed_.size() - shown) + " more";
        const bool one = unnamed_.size() == 1;
        unnamed_.clear();
        return std::string("The BIN/CUE image's ") + (one ? "sector " : "sectors ") + list + (one ? " fails its" : " fail their") +
               " EDC check: the data read may be damaged";
    }

protected:
    Status readInside(uint64_t offset, uint64_t length, uint8_t* out) override {
        while (length > 0) {
            const uint64_t first = offset / cdsector::kUserSize;
            const uint64_t within = offset % cdsector::kUserSize;
            const uint64_t count = std::min(kSectorsPerRead, (within + length + cdsector::kUserSize - 1) / cdsector::kUserSize);
            raw_.resize(kSectorsPerRead * sectorSize_);
            Result<uint64_t> got = file_->readSome(start_ + first * sectorSize_, count * sectorSize_, raw_.data());
            if (!got) return Fault{got.fault()};
            // A file cut short in its last sector reads as zeros past its end.
            std::memset(raw_.data() + *got, 0, count * sectorSize_ - *got);
            for (uint64_t i = 0; i < count && length > 0; ++i) {
                const uint8_t* sector = raw_.data() + i * sectorSize_;
                if (edc_) check(first + i, sector);
                const uint64_t skip = i == 0 ? within : 0;
                const uint64_t piece = std::min<uint64_t>(length, cdsector::kUserSize - skip);
                std::memcpy(out, sector + dataOffset_ + skip, piece);
                out += piece;
                offset += piece;
                length -= piece;
            }
        }
        return Status::ok();
    }

private:
    void check(uint64_t sector, const uint8_t* raw) {
        if (edc_->mode2 && (raw[kSubmode] & kSubmodeForm2)) return;
        const uint8_t* at = raw + edc_->storedAt;
        const uint32_t stored = uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
        // Many rippers and image converters leave the EDC zero: there is nothing to check.
        if (stored == 0) return;
        if (cdEdc(raw + edc_->coveredFrom, edc_->coveredLength) == stored) failed_.erase(sector);
        else failed_.insert(sector);
    }

    std::shared_ptr<FileHandle> file_;
    uint64_t start_;
    uint64_t sectors_;
    uint32_t sectorSize_;
    uint32_t dataOffset_;
    std::optional<EdcPlace> edc_;
    std::vector<uint8_t> raw_;
    // Sectors of the track whose EDC failed when last read, those already named to the person,
    // and those served since the last warning that were not named before.
    std::set<uint64_t> failed_, named_, unnamed_;
};

struct TrackLayout {
    uint32_t sectorSize;
    uint32_t dataOffset;
    std::optional<EdcPlace> edc;
};

std::optional<TrackLayout> layoutOf(TrackMode mode) {
    switch (mode) {
    case MODE_MODE1: return TrackLayout{cdsector::kUserSize, 0, std::nullopt};
    case MODE_MODE1_RAW: return TrackLayout{cdsector::kRawSize, cdsector::kMode1Data, kMode1Edc};
    case MODE_MODE2: return TrackLayout{2336, cdsector::kMode2Data2336, std::nullopt};
    case MODE_MODE2_RAW: return TrackLayout{cdsector::kRawSize, cdsector::kMode2Form1Data, kMode2Form1Edc};
    default: return std::nullopt;
    }
}

// libcue's scanner writes what it cannot read to standard error ("bad character 'g'"). The core
// speaks to the person only through its faults, so standard error is closed to it meanwhile.
Cd* parseQuietly(const std::string& text) {
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    Cd* cd = cue_parse_string(text.c_str());
    std::fflush(stderr);
    if (saved >= 0) {
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    if (null >= 0) ::close(null);
    return cd;
}

bool hasSync(const uint8_t* sector) { return std::memcmp(sector, cdsector::kSync, cdsector::kSyncLength) == 0; }

}  // namespace

bool looksLikeRawCdSector(const uint8_t* head, size_t length) {
    return length > cdsector::kMode && hasSync(head) && (head[cdsector::kMode] == 1 || head[cdsector::kMode] == 2);
}

Result<OpenedImage> openRawCdBin(std::shared_ptr<FileHandle> file, uint64_t fileSize) {
    uint8_t header[cdsector::kMode + 1];
    if (Status read = file->readExactly(0, sizeof header, header); !read) return damaged(read.fault());
    OpenedImage image;
    image.format = "BIN";
    const std::optional<TrackLayout> layout = layoutOf(header[cdsector::kMode] == 1 ? MODE_MODE1_RAW : MODE_MODE2_RAW);
    image.source = std::make_unique<CdTrackSource>(std::move(file), 0, fileSize / cdsector::kRawSize, layout->sectorSize,
                                                   layout->dataOffset, layout->edc);
    return image;
}

// A cue sheet's commands each begin a line; "FILE" and "TRACK" merely somewhere in a text (a
// BinHex file's "(This file must be converted …") do not make one.
bool looksLikeCueSheet(const uint8_t* head, size_t length, uint64_t fileSize) {
    if (fileSize > kMaxCueSheet || length == 0) return false;
    const std::string text(reinterpret_cast<const char*>(head), length);
    if (text.find('\0') != std::string::npos) return false;
    bool file = false, track = false;
    for (size_t line = 0; line < text.size();) {
        size_t end = text.find_first_of("\r\n", line);
        if (end == std::string::npos) end = text.size();
        const size_t first = text.find_first_not_of(" \t", line);
        if (first < end) {
            std::string command = text.substr(first, std::min(end, text.find_first_of(" \t", first)) - first);
            std::transform(command.begin(), command.end(), command.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            file = file || command == "FILE";
            track = track || command == "TRACK";
        }
        line = end + 1;
    }
    return file && track;
}

Result<OpenedImage> openCueSheet(const FileHandle& cue, uint64_t fileSize, const std::string& path) {
    std::string text(fileSize, '\0');
    if (Status read = cue.readExactly(0, fileSize, reinterpret_cast<uint8_t*>(text.data())); !read) return damaged(read.fault());
    std::unique_ptr<Cd, void (*)(Cd*)> cd(parseQuietly(text), cd_delete);
    if (!cd) return damaged("the cue sheet cannot be read");

    const int tracks = cd_get_ntrack(cd.get());
    for (int number = 1; number <= tracks; ++number) {
        const Track* track = cd_get_track(cd.get(), number);
        if (!track || track_get_mode(track) == MODE_AUDIO) continue;
        const std::optional<TrackLayout> layout = layoutOf(track_get_mode(track));
        if (!layout) return Fault{"The BIN/CUE image's first data track (track " + std::to_string(number) + ") has a sector mode Quarry does not support"};
        const char* name = track_get_filename(track);
        if (!name || !*name) return damaged("track " + std::to_string(number) + " names no file");
        std::string binPath = name;
        if (binPath[0] != '/') {
            const size_t slash = path.find_last_of('/');
            binPath = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + binPath;
        }
        const int fd = ::open(binPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return Fault{"cannot open " + binPath + ", the track file the cue sheet names: " + std::strerror(errno)};
        auto bin = std::make_shared<FileHandle>(fd);
        const off_t end = ::lseek(fd, 0, SEEK_END);
        if (end < 0) return Fault{"cannot open " + binPath + ": " + std::strerror(errno)};
        const uint64_t binSize = static_cast<uint64_t>(end);

        // libcue counts in frames of the track's own sector size from the start of its file; the
        // last track of a file has no length and runs to its end.
        const long startFrame = track_get_start(track);
        const uint64_t start = static_cast<uint64_t>(std::max(0L, startFrame)) * layout->sectorSize;
        if (start >= binSize) return damaged("track " + std::to_string(number) + " starts past the end of " + binPath);
        const long length = track_get_length(track);
        const uint64_t available = (binSize - start) / layout->sectorSize;
        const uint64_t sectors = length > 0 ? std::min<uint64_t>(static_cast<uint64_t>(length), available) : available;
        if (layout->sectorSize == cdsector::kRawSize) {
            uint8_t first[cdsector::kMode + 1];
            if (Status read = bin->readExactly(start, sizeof first, first); !read) return damaged(read.fault());
            if (!hasSync(first)) return damaged("track " + std::to_string(number) + " does not begin with a sector's sync pattern");
        }
        OpenedImage image;
        image.format = "BIN/CUE";
        image.source = std::make_unique<CdTrackSource>(std::move(bin), start, sectors, layout->sectorSize, layout->dataOffset, layout->edc);
        return image;
    }
    return Fault{"The cue sheet names no data track, only audio"};
}

}  // namespace quarry
