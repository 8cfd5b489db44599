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
#include <vector>

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

// The user data of each sector of a track, `dataOffset` bytes into sectors of `sectorSize`.
class CdTrackSource : public ImageSource {
public:
    CdTrackSource(std::shared_ptr<FileHandle> file, uint64_t start, uint64_t sectors, uint32_t sectorSize, uint32_t dataOffset)
        : file_(std::move(file)), start_(start), sectors_(sectors), sectorSize_(sectorSize), dataOffset_(dataOffset) {}
    uint64_t size() const override { return sectors_ * cdsector::kUserSize; }

protected:
    Status readInside(uint64_t offset, uint64_t length, uint8_t* out) override {
        while (length > 0) {
            const uint64_t sector = offset / cdsector::kUserSize;
            const uint64_t within = offset % cdsector::kUserSize;
            const uint64_t piece = std::min<uint64_t>(length, cdsector::kUserSize - within);
            Result<uint64_t> got = file_->readSome(start_ + sector * sectorSize_ + dataOffset_ + within, piece, out);
            if (!got) return Fault{got.fault()};
            std::memset(out + *got, 0, piece - *got);
            out += piece;
            offset += piece;
            length -= piece;
        }
        return Status::ok();
    }

private:
    std::shared_ptr<FileHandle> file_;
    uint64_t start_;
    uint64_t sectors_;
    uint32_t sectorSize_;
    uint32_t dataOffset_;
};

struct TrackLayout {
    uint32_t sectorSize;
    uint32_t dataOffset;
};

std::optional<TrackLayout> layoutOf(TrackMode mode) {
    switch (mode) {
    case MODE_MODE1: return TrackLayout{cdsector::kUserSize, 0};
    case MODE_MODE1_RAW: return TrackLayout{cdsector::kRawSize, cdsector::kMode1Data};
    case MODE_MODE2: return TrackLayout{2336, cdsector::kMode2Data2336};
    case MODE_MODE2_RAW: return TrackLayout{cdsector::kRawSize, cdsector::kMode2Form1Data};
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
    const uint32_t dataOffset = header[cdsector::kMode] == 1 ? cdsector::kMode1Data : cdsector::kMode2Form1Data;
    image.source = std::make_unique<CdTrackSource>(std::move(file), 0, fileSize / cdsector::kRawSize, cdsector::kRawSize, dataOffset);
    return image;
}

bool looksLikeCueSheet(const uint8_t* head, size_t length, uint64_t fileSize) {
    if (fileSize > kMaxCueSheet || length == 0) return false;
    std::string text(reinterpret_cast<const char*>(head), length);
    if (text.find('\0') != std::string::npos) return false;
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text.find("FILE") != std::string::npos && text.find("TRACK") != std::string::npos;
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
        image.source = std::make_unique<CdTrackSource>(std::move(bin), start, sectors, layout->sectorSize, layout->dataOffset);
        return image;
    }
    return Fault{"The cue sheet names no data track, only audio"};
}

}  // namespace quarry
