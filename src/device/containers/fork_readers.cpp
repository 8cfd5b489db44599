#include "device/containers/fork_readers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <string_view>

#include "device/containers/fork_layout.h"
#include "device/containers/image_source.h"

namespace quarry {
namespace {

using namespace forklayout;

inline constexpr size_t kChunkSize = 1 << 20;

std::string fileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string hex16(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

uint64_t roundedTo128(uint64_t length) { return (length + 127) / 128 * 128; }

// A PC file opened for reading at chosen offsets; faults name the file as a person knows it.
class PcFile {
public:
    static Result<PcFile> open(const std::string& path) {
        PcFile file(path);
        // Without O_NONBLOCK a FIFO given by mistake would hold the open until something wrote to it.
        file.fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (file.fd_ < 0 || ::fstat(file.fd_, &st) != 0) return file.cannotRead(std::strerror(errno));
        if (!S_ISREG(st.st_mode)) return file.cannotRead("not a regular file");
        file.size_ = static_cast<uint64_t>(st.st_size);
        return file;
    }
    // A file already open (a temporary one has no name to open it by); `name` is what faults
    // call it. The descriptor is duplicated, so the caller keeps its own.
    static Result<PcFile> borrow(int fd, const std::string& name) {
        PcFile file(name);
        file.fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        struct stat st {};
        if (file.fd_ < 0 || ::fstat(file.fd_, &st) != 0) return file.cannotRead(std::strerror(errno));
        file.size_ = static_cast<uint64_t>(st.st_size);
        return file;
    }
    PcFile(PcFile&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_), size_(other.size_) { other.fd_ = -1; }
    PcFile& operator=(PcFile&&) = delete;
    ~PcFile() {
        if (fd_ >= 0) ::close(fd_);
    }

    uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }
    std::string name() const { return fileNameOf(path_); }

    // Exactly `length` bytes from `offset`. A file that has become shorter since it was opened
    // is a fault, not a fork with zeros at its end.
    Status read(uint64_t offset, size_t length, uint8_t* out) const {
        for (size_t done = 0; done < length;) {
            const ssize_t got = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return cannotRead(std::strerror(errno));
            if (got == 0)
                return cannotRead("the file ends at byte " + std::to_string(offset + done) + ", before byte " +
                                  std::to_string(offset + length));
            done += static_cast<size_t>(got);
        }
        return Status::ok();
    }

    Fault cannotRead(const std::string& why) const { return Fault{"Cannot read " + name() + ": " + why}; }
    Fault damaged(const std::string& why) const { return Fault{name() + ": " + why}; }

private:
    explicit PcFile(std::string path) : path_(std::move(path)) {}

    std::string path_;
    int fd_ = -1;
    uint64_t size_ = 0;
};

ForkBytes forkRange(const PcFile& file, uint64_t offset, uint64_t length) {
    ForkBytes fork;
    fork.path = file.path();
    fork.offset = offset;
    fork.length = length;
    return fork;
}

// A Macintosh date as the MacBinary header holds it: zero means none.
std::optional<uint32_t> macBinaryDate(uint32_t macSeconds) {
    return macSeconds == 0 ? std::nullopt : std::optional<uint32_t>(macSeconds);
}

// AppleSingle's seconds from 2000, read as the writer wrote them: the Macintosh's wall clock.
// A date before 1904 or after 2040 has no Macintosh form and counts as unknown.
std::optional<uint32_t> appleSingleDate(uint32_t stored) {
    if (stored == as::kUnknownDate) return std::nullopt;
    const int64_t macSeconds = int64_t{static_cast<int32_t>(stored)} + as::kMacSecondsAt2000;
    if (macSeconds <= 0 || macSeconds > int64_t{UINT32_MAX}) return std::nullopt;
    return static_cast<uint32_t>(macSeconds);
}

// ---- MacBinary ---------------------------------------------------------------------------

using MacBinaryHead = std::array<uint8_t, kMacBinaryHeaderSize>;

// Where a version's forks lie: the data fork after the header and any secondary header, the
// resource fork after the data fork padded to 128 bytes.
struct MacBinaryForks {
    uint64_t dataOffset, dataLength, rsrcOffset, rsrcLength;
    // The bytes up to the end of the last fork that holds any.
    uint64_t end() const { return rsrcLength > 0 ? rsrcOffset + rsrcLength : dataOffset + dataLength; }
};

MacBinaryForks macBinaryForks(const MacBinaryHead& h, bool secondaryHeader) {
    MacBinaryForks f{};
    f.dataOffset = kMacBinaryHeaderSize + (secondaryHeader ? roundedTo128(be16(&h[mb::kSecondaryHeader])) : 0);
    f.dataLength = be32(&h[mb::kDataLength]);
    f.rsrcOffset = f.dataOffset + roundedTo128(f.dataLength);
    f.rsrcLength = be32(&h[mb::kRsrcLength]);
    return f;
}

bool macBinaryCrcMatches(const MacBinaryHead& h) { return Crc16Xmodem(h.data(), mb::kCrc) == be16(&h[mb::kCrc]); }

bool nameLengthValid(const MacBinaryHead& h) { return h[mb::kNameLength] >= 1 && h[mb::kNameLength] <= mb::kMaxName; }

// MacBinary I has no signature and no CRC: only zeros where its header has nothing and forks
// that end where the file does tell it from other data. The file may stop after the last fork
// or run on to its padding (the program's own writer does the one, most others the other), and
// a name holds no NUL. A plain file passing all of that by chance is very unlikely.
bool looksLikeMacBinaryI(const MacBinaryHead& h, uint64_t fileSize) {
    if (h[mb::kZeroFill2] != 0 || !nameLengthValid(h)) return false;
    const auto name = std::span(h).subspan(mb::kName, h[mb::kNameLength]);
    if (std::find(name.begin(), name.end(), 0) != name.end()) return false;
    for (size_t i = mb::kVersionIZeroFrom; i <= mb::kVersionIZeroTo; ++i)
        if (h[i] != 0) return false;
    const MacBinaryForks f = macBinaryForks(h, false);
    if (f.dataLength > mb::kVersionIMaxFork || f.rsrcLength > mb::kVersionIMaxFork) return false;
    const uint64_t padded = f.rsrcOffset + roundedTo128(f.rsrcLength);
    return fileSize >= f.end() && fileSize <= padded;
}

// The version of MacBinary the header is in, if any. MacBinary III's signature and II's CRC
// are sure signs; MacBinary I is taken only when `allowVersionI`.
std::optional<BinaryFormat> macBinaryVersion(const MacBinaryHead& h, uint64_t fileSize, bool allowVersionI) {
    if (fileSize < kMacBinaryHeaderSize || h[mb::kOldVersion] != 0 || h[mb::kZeroFill] != 0) return std::nullopt;
    if (std::memcmp(&h[mb::kSignature], "mBIN", 4) == 0) return BinaryFormat::MacBinaryIII;
    // An all-zero header has a matching CRC too, so the name must be there as well.
    if (nameLengthValid(h) && h[mb::kZeroFill2] == 0 && macBinaryCrcMatches(h)) return BinaryFormat::MacBinaryII;
    if (allowVersionI && looksLikeMacBinaryI(h, fileSize)) return BinaryFormat::MacBinaryI;
    return std::nullopt;
}

Result<MacFileParts> readMacBinary(const PcFile& file, const MacBinaryHead& h, BinaryFormat version) {
    const std::string title(BinaryFormatTitle(version));
    if (version == BinaryFormat::MacBinaryIII) {
        if (!macBinaryCrcMatches(h))
            return file.damaged(title + " header CRC " + hex16(Crc16Xmodem(h.data(), mb::kCrc)) + ", expected " +
                                hex16(be16(&h[mb::kCrc])));
        if (!nameLengthValid(h))
            return file.damaged(title + " header gives a name of " + std::to_string(h[mb::kNameLength]) + " characters");
    }
    const MacBinaryForks f = macBinaryForks(h, version != BinaryFormat::MacBinaryI);
    // Checked for II and III here; MacBinary I was only recognised when its forks fit.
    for (const auto& [what, offset, length] : {std::tuple{"data", f.dataOffset, f.dataLength}, std::tuple{"resource", f.rsrcOffset, f.rsrcLength}})
        if (length > 0 && offset + length > file.size())
            return file.damaged(title + " " + what + " fork of " + std::to_string(length) + " bytes at byte " + std::to_string(offset) +
                                " runs past the end of the file (" + std::to_string(file.size()) + " bytes)");

    MacFileParts parts;
    parts.format = version;
    parts.macName.assign(reinterpret_cast<const char*>(&h[mb::kName]), h[mb::kNameLength]);
    std::memcpy(parts.finderInfo.data(), &h[mb::kTypeAndCreator], 8);
    parts.finderInfo[finfo::kFlags] = h[mb::kFlagsHigh];
    if (version != BinaryFormat::MacBinaryI) parts.finderInfo[finfo::kFlags + 1] = h[mb::kFlagsLow];
    std::memcpy(&parts.finderInfo[finfo::kLocation], &h[mb::kLocation], 4);
    std::memcpy(&parts.finderInfo[finfo::kFolder], &h[mb::kFolder], 2);
    if (version == BinaryFormat::MacBinaryIII) {
        parts.extendedFinderInfo[finfo::kScript] = h[mb::kScript];
        parts.extendedFinderInfo[finfo::kExtendedFlags] = h[mb::kExtendedFlags];
    }
    parts.locked = (h[mb::kProtected] & 0x01) != 0;
    parts.created = macBinaryDate(be32(&h[mb::kCreated]));
    parts.modified = macBinaryDate(be32(&h[mb::kModified]));
    parts.data = forkRange(file, f.dataOffset, f.dataLength);
    parts.rsrc = forkRange(file, f.rsrcOffset, f.rsrcLength);
    return parts;
}

// ---- AppleSingle and AppleDouble ----------------------------------------------------------

enum class AppleFileRole { Single, DoubleHeader };

// The AppleSingle or AppleDouble file's entries. Faults name the form by its magic number.
// Nothing when the magic number is not the one `role` asks for, or when an AppleSingle file
// read as an AppleDouble header holds a data fork (it is then a file of its own).
Result<std::optional<MacFileParts>> readAppleFile(const PcFile& file, AppleFileRole role) {
    std::array<uint8_t, as::kHeaderSize> head{};
    if (file.size() < head.size()) return std::optional<MacFileParts>();
    if (Status s = file.read(0, head.size(), head.data()); !s) return Fault{s.fault()};
    const uint32_t magic = be32(&head[as::kMagic]);
    const bool single = magic == as::kSingleMagic;
    if (!single && !(role == AppleFileRole::DoubleHeader && magic == as::kDoubleMagic)) return std::optional<MacFileParts>();
    const std::string title = single ? "AppleSingle" : "AppleDouble";
    const uint32_t version = be32(&head[as::kVersion]);
    if (version != as::kVersion1 && version != as::kVersion2)
        return file.damaged(title + " version " + std::to_string(version >> 16) + "." + std::to_string(version & 0xFFFF) +
                            " is not one this program reads");

    const size_t count = be16(&head[as::kEntryCount]);
    if (count * as::kDescriptorSize > file.size() - as::kHeaderSize)
        return file.damaged(title + " entry table of " + std::to_string(count) + " entries runs past the end of the file");
    std::vector<uint8_t> table(count * as::kDescriptorSize);
    if (Status s = file.read(as::kHeaderSize, table.size(), table.data()); !s) return Fault{s.fault()};

    MacFileParts parts;
    parts.format = single ? BinaryFormat::AppleSingle : BinaryFormat::AppleDouble;
    bool dataFork = false;
    // Reads up to `most` bytes of an entry; the small entries are read whole or in part,
    // never more than their fixed size.
    auto entryBytes = [&](uint64_t offset, uint64_t length, size_t most) -> Result<std::vector<uint8_t>> {
        std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(length, most)));
        if (Status s = file.read(offset, bytes.size(), bytes.data()); !s) return Fault{s.fault()};
        return bytes;
    };
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* d = &table[i * as::kDescriptorSize];
        const uint32_t id = be32(d), offset = be32(d + 4), length = be32(d + 8);
        if (offset > file.size() || length > file.size() - offset)
            return file.damaged(title + " entry " + std::to_string(id) + " of " + std::to_string(length) + " bytes at byte " +
                                std::to_string(offset) + " runs past the end of the file (" + std::to_string(file.size()) +
                                " bytes)");
        switch (id) {
            case as::kDataFork:
                parts.data = forkRange(file, offset, length);
                dataFork = true;
                break;
            case as::kResourceFork: parts.rsrc = forkRange(file, offset, length); break;
            case as::kRealName: {
                if (length > as::kMaxName)
                    return file.damaged(title + " real name of " + std::to_string(length) + " bytes; a name has at most " +
                                        std::to_string(as::kMaxName));
                auto name = entryBytes(offset, length, as::kMaxName);
                if (!name) return Fault{name.fault()};
                parts.macName.assign(name->begin(), name->end());
                break;
            }
            case as::kFileDates: {
                auto dates = entryBytes(offset, length, 4 * as::kDateCount);
                if (!dates) return Fault{dates.fault()};
                std::optional<uint32_t>* fields[] = {&parts.created, &parts.modified, &parts.backedUp};
                for (size_t k = 0; k < as::kDateCount && 4 * k + 4 <= dates->size(); ++k)
                    *fields[k] = appleSingleDate(be32(dates->data() + 4 * k));
                break;
            }
            case as::kFinderInfo: {
                // macOS appends its extended attributes to this entry in "._" files; the Finder's
                // 32 bytes come first.
                auto info = entryBytes(offset, length, as::kFinderInfoSize);
                if (!info) return Fault{info.fault()};
                const size_t first = std::min(info->size(), parts.finderInfo.size());
                std::copy_n(info->begin(), first, parts.finderInfo.begin());
                std::copy(info->begin() + static_cast<std::ptrdiff_t>(first), info->end(), parts.extendedFinderInfo.begin());
                break;
            }
            // Comments, icons, and other systems' information, version 1's file information
            // (dates and attributes in the home file system's own form) among them.
            default: break;
        }
    }
    if (role == AppleFileRole::DoubleHeader && dataFork) return std::optional<MacFileParts>();
    return std::optional<MacFileParts>(std::move(parts));
}

// ---- BinHex 4.0 ---------------------------------------------------------------------------

// The bytes a BinHex text stands for: its characters read six bits each (line breaks and
// blanks between them ignored) up to the closing colon, and the runs expanded. The text is read
// from the file in pieces, so only the decoded forks take memory.
class BinHexDecoder {
public:
    BinHexDecoder(const PcFile& file, uint64_t start) : file_(file), position_(start) {}

    // The next byte; false at the end of the text or at a fault, which fault() then holds.
    bool next(uint8_t& out) {
        if (repeats_ > 0) {
            --repeats_;
            out = last_;
            return true;
        }
        for (;;) {
            uint8_t byte;
            if (!encoded(byte)) return false;
            if (byte != hqx::kRunMarker) {
                out = last_ = byte;
                haveLast_ = true;
                return true;
            }
            uint8_t count;
            if (!encoded(count)) return false;
            if (count == 0) {  // the marker byte itself
                out = last_ = hqx::kRunMarker;
                haveLast_ = true;
                return true;
            }
            if (!haveLast_) return fail("a run of " + std::to_string(count) + " bytes repeats no byte");
            // The count includes the byte already given; a count of 1 adds nothing.
            if (count >= 2) {
                repeats_ = count - 2u;
                out = last_;
                return true;
            }
        }
    }

    // The most bytes the rest of the text can stand for.
    uint64_t mostBytesLeft() const {
        const uint64_t characters = file_.size() - std::min(file_.size(), position_) + (buffer_.size() - used_);
        return (characters * 6 / 8 + 1) * hqx::kMostExpansion + repeats_;
    }
    bool failed() const { return !fault_.empty(); }
    const std::string& fault() const { return fault_; }

private:
    bool fail(const std::string& why) {
        if (fault_.empty()) fault_ = why;
        return false;
    }

    // The next character of the text; false at its end.
    bool character(char& c) {
        if (used_ == buffer_.size()) {
            if (position_ >= file_.size()) return false;
            buffer_.resize(static_cast<size_t>(std::min<uint64_t>(kChunkSize, file_.size() - position_)));
            if (Status s = file_.read(position_, buffer_.size(), reinterpret_cast<uint8_t*>(buffer_.data())); !s)
                return fail(s.fault());
            position_ += buffer_.size();
            used_ = 0;
        }
        c = buffer_[used_++];
        return true;
    }

    bool encoded(uint8_t& out) {
        while (bitCount_ < 8) {
            char c;
            do {
                if (ended_ || !character(c)) return false;
            } while (c == '\r' || c == '\n' || c == ' ' || c == '\t');
            if (c == hqx::kFrame) {
                ended_ = true;
                return false;
            }
            const auto code = static_cast<unsigned char>(c);
            const uint8_t digit = hqx::kDigitValues[code];
            if (digit == hqx::kNotADigit) {
                const uint64_t at = position_ - (buffer_.size() - used_) - 1;
                return fail("BinHex text holds " + (code >= 0x21 && code < 0x7F ? "'" + std::string(1, c) + "'" : "byte " + std::to_string(code)) +
                            " at byte " + std::to_string(at) + ", which is not a BinHex character");
            }
            bits_ = (bits_ << 6) | digit;
            bitCount_ += 6;
        }
        bitCount_ -= 8;
        out = static_cast<uint8_t>(bits_ >> bitCount_);
        bits_ &= (1u << bitCount_) - 1;
        return true;
    }

    const PcFile& file_;
    uint64_t position_;  // of the next piece to read
    std::string buffer_;
    size_t used_ = 0;
    bool ended_ = false;
    uint32_t bits_ = 0;
    unsigned bitCount_ = 0;
    uint8_t last_ = 0;
    bool haveLast_ = false;
    unsigned repeats_ = 0;
    std::string fault_;
};

// Where the encoded text starts (just after the colon that opens it), if the head of the file
// holds BinHex's introduction at the start of a line; a fault when no colon follows it.
Result<std::optional<uint64_t>> binHexStart(const PcFile& file, std::string_view head) {
    size_t at = 0;
    for (;; ++at) {
        at = head.find(hqx::kIntroductionStart, at);
        if (at == std::string_view::npos) return std::optional<uint64_t>();
        if (at == 0 || head[at - 1] == '\n' || head[at - 1] == '\r') break;
    }
    // The first line after the introduction that starts with a colon. Lines between are mail
    // or news text, which the writers of the time let through.
    char previous = '\0';
    std::array<uint8_t, 4096> piece{};
    for (uint64_t offset = at; offset < file.size();) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(piece.size(), file.size() - offset));
        if (Status s = file.read(offset, length, piece.data()); !s) return Fault{s.fault()};
        for (size_t i = 0; i < length; ++i) {
            if (piece[i] == hqx::kFrame && (previous == '\n' || previous == '\r')) return std::optional<uint64_t>(offset + i + 1);
            previous = static_cast<char>(piece[i]);
        }
        offset += length;
    }
    return file.damaged("no line starting with ':' follows the BinHex introduction");
}

// One section's bytes, handed to `take` in pieces, and the CRC after them (CRC-16/XMODEM: the
// value BinHex's definition gets by running its CRC over two zero bytes in the CRC's place).
// `crc` covers what of the section was read before.
Status readBinHexSection(const PcFile& file, BinHexDecoder& decoder, const char* what, uint64_t length, const ForkTaker& take,
                         uint16_t crc = 0) {
    auto cutShort = [&] {
        return decoder.failed() ? file.damaged(decoder.fault()) : file.damaged(std::string("BinHex text ends in the ") + what);
    };
    // Handed on as bytes arrive rather than held whole, so that a length the text does not bear
    // out costs nothing, and a disk image in the data fork need not fit in memory.
    std::vector<uint8_t> piece;
    piece.reserve(static_cast<size_t>(std::min<uint64_t>(length, 64 * 1024)));
    auto handOn = [&]() -> Status {
        crc = Crc16Xmodem(piece.data(), piece.size(), crc);
        Status s = piece.empty() ? Status::ok() : take(piece.data(), piece.size());
        piece.clear();
        return s;
    };
    uint8_t byte;
    for (uint64_t i = 0; i < length; ++i) {
        if (!decoder.next(byte)) return cutShort();
        piece.push_back(byte);
        if (piece.size() == piece.capacity())
            if (Status s = handOn(); !s) return s;
    }
    if (Status s = handOn(); !s) return s;
    uint8_t crcBytes[2];
    if (!decoder.next(crcBytes[0]) || !decoder.next(crcBytes[1])) return cutShort();
    const uint16_t stored = be16(crcBytes);
    if (stored != crc) return file.damaged(std::string("BinHex ") + what + " CRC " + hex16(crc) + ", expected " + hex16(stored));
    return Status::ok();
}

// A taker that keeps the bytes in `out`.
ForkTaker keptIn(std::vector<uint8_t>& out) {
    return [&out](const uint8_t* p, size_t n) {
        out.insert(out.end(), p, p + n);
        return Status::ok();
    };
}

Result<MacFileParts> readBinHex(const PcFile& file, uint64_t start, const ForkTaker* takeDataFork) {
    constexpr uint32_t kLargestFork = 0x7FFFFFFF;
    BinHexDecoder decoder(file, start);
    // The header: the name's length and the name, a version byte, type, creator, Finder flags
    // and the forks' lengths. Its length depends on its first byte.
    std::vector<uint8_t> header(1);
    if (!decoder.next(header[0]))
        return decoder.failed() ? file.damaged(decoder.fault()) : file.damaged("BinHex text ends in the header");
    const size_t nameLength = header[0];
    const uint16_t lengthCrc = Crc16Xmodem(header.data(), 1);
    if (Status s = readBinHexSection(file, decoder, "header", nameLength + 1 + hqx::kHeaderTail, keptIn(header), lengthCrc); !s)
        return Fault{s.fault()};
    if (nameLength > hqx::kMaxName)
        return file.damaged("BinHex header gives a name of " + std::to_string(nameLength) + " characters");
    // The section read the whole tail, so both lengths lie inside the header.
    const size_t tail = 1 + nameLength + 1;
    const uint32_t dataLength = be32(header.data() + tail + 10), rsrcLength = be32(header.data() + tail + 14);
    // Each fork's length is held against what the rest of the text could stand for before any
    // byte of it is decoded.
    // A fork past 2 GB, which no HFS fork holds, is refused too: decoded into memory, it could
    // take many times the text's own size.
    for (const auto& [what, length] : {std::pair{"data", dataLength}, std::pair{"resource", rsrcLength}}) {
        if (length > decoder.mostBytesLeft())
            return file.damaged("BinHex header gives a " + std::string(what) + " fork of " + std::to_string(length) +
                                " bytes, more than the rest of the text can hold");
        if (length > kLargestFork)
            return file.damaged("BinHex header gives a " + std::string(what) + " fork of " + std::to_string(length) +
                                " bytes, more than an HFS fork holds");
    }

    MacFileParts parts;
    parts.format = BinaryFormat::BinHex;
    parts.macName.assign(header.begin() + 1, header.begin() + 1 + static_cast<std::ptrdiff_t>(nameLength));
    std::copy_n(header.begin() + static_cast<std::ptrdiff_t>(tail), 10, parts.finderInfo.begin());  // type, creator, flags
    parts.data.inMemory = parts.rsrc.inMemory = true;
    parts.data.path = parts.rsrc.path = file.path();
    const ForkTaker dataTaker = takeDataFork ? *takeDataFork : keptIn(parts.data.decoded);
    if (Status s = readBinHexSection(file, decoder, "data fork", dataLength, dataTaker); !s) return Fault{s.fault()};
    if (Status s = readBinHexSection(file, decoder, "resource fork", rsrcLength, keptIn(parts.rsrc.decoded)); !s) return Fault{s.fault()};
    parts.data.length = takeDataFork ? dataLength : parts.data.decoded.size();
    parts.rsrc.length = parts.rsrc.decoded.size();
    return parts;
}

Result<std::optional<MacFileParts>> recognised(Result<MacFileParts> parts) {
    if (!parts) return Fault{parts.fault()};
    return std::optional<MacFileParts>(std::move(*parts));
}

Result<std::optional<MacFileParts>> readMacFile(const PcFile& file, const ForkTaker* takeDataFork) {
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(file.size(), hqx::kSearchedHead)));
    if (Status s = file.read(0, head.size(), head.data()); !s) return Fault{s.fault()};

    // The sure signs first, MacBinary I's guess last: an AppleSingle header could pass for it.
    MacBinaryHead mbHead{};
    std::copy_n(head.begin(), std::min(head.size(), mbHead.size()), mbHead.begin());
    if (auto version = macBinaryVersion(mbHead, file.size(), false)) return recognised(readMacBinary(file, mbHead, *version));
    if (auto apple = readAppleFile(file, AppleFileRole::Single); !apple || *apple) return apple;
    auto start = binHexStart(file, std::string_view(reinterpret_cast<const char*>(head.data()), head.size()));
    if (!start) return Fault{start.fault()};
    if (*start) return recognised(readBinHex(file, **start, takeDataFork));
    if (auto version = macBinaryVersion(mbHead, file.size(), true)) return recognised(readMacBinary(file, mbHead, *version));
    return std::optional<MacFileParts>();
}

}  // namespace

Result<std::optional<MacFileParts>> ReadMacFile(const std::string& path) {
    auto opened = PcFile::open(path);
    if (!opened) return Fault{opened.fault()};
    return readMacFile(*opened, nullptr);
}

Result<std::optional<MacFileParts>> ReadOpenMacFile(int fd, const std::string& name, const ForkTaker& takeDataFork) {
    auto borrowed = PcFile::borrow(fd, name);
    if (!borrowed) return Fault{borrowed.fault()};
    return readMacFile(*borrowed, &takeDataFork);
}

Result<std::optional<MacFileParts>> ReadAppleDouble(const std::string& dataPath, const std::string& headerPath) {
    auto header = PcFile::open(headerPath);
    if (!header) return Fault{header.fault()};
    auto parts = readAppleFile(*header, AppleFileRole::DoubleHeader);
    if (!parts || !*parts) return parts;
    auto data = PcFile::open(dataPath);
    if (!data) return Fault{data.fault()};
    (*parts)->format = BinaryFormat::AppleDouble;
    (*parts)->data = forkRange(*data, 0, data->size());
    return parts;
}

Status ForEachForkChunk(const ForkBytes& fork, const std::function<Status(const uint8_t*, size_t)>& take) {
    if (fork.inMemory) {
        for (size_t done = 0; done < fork.decoded.size();) {
            const size_t length = std::min(kChunkSize, fork.decoded.size() - done);
            if (Status s = take(fork.decoded.data() + done, length); !s) return s;
            done += length;
        }
        return Status::ok();
    }
    if (fork.length == 0) return Status::ok();
    auto opened = PcFile::open(fork.path);
    if (!opened) return Fault{opened.fault()};
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(kChunkSize, fork.length)));
    for (uint64_t done = 0; done < fork.length;) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(buffer.size(), fork.length - done));
        if (Status s = opened->read(fork.offset + done, length, buffer.data()); !s) return s;
        if (Status s = take(buffer.data(), length); !s) return s;
        done += length;
    }
    return Status::ok();
}

}  // namespace quarry
