#include "copy/fork_formats.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/containers/fork_layout.h"
#include "volume/byte_sink.h"

namespace quarry {
namespace {

using namespace forklayout;

void put32(uint8_t* out, uint64_t v) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

std::string leadingBlanksRemoved(const std::string& s) {
    const size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first);
}

Status writeAll(ByteSink& sink, const uint8_t* data, size_t length) {
    if (length > 0 && !sink.write(data, length)) return Fault{"cannot write: " + sink.error()};
    return Status::ok();
}

Status writeZeros(ByteSink& sink, size_t length) {
    static constexpr std::array<uint8_t, kMacBinaryHeaderSize> zeros{};
    return writeAll(sink, zeros.data(), std::min(length, zeros.size()));
}

size_t paddingTo128(uint32_t length) {
    return (kMacBinaryHeaderSize - length % kMacBinaryHeaderSize) % kMacBinaryHeaderSize;
}

Status copyFork(const VolumeEntry& file, const ForkCopier& forks, ForkKind fork, ByteSink& sink) {
    return file.fork(fork).logical == 0 ? Status::ok() : forks(fork, sink);
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    put32(b, v);
    out.insert(out.end(), b, b + 4);
}

// A Macintosh date as AppleSingle's seconds from 2000. Dates before 13 December 1931 do not
// fit its signed 32 bits and are written as unknown rather than as a wrong date.
uint32_t appleSingleDate(uint32_t macSeconds) {
    if (macSeconds == 0) return as::kUnknownDate;
    const int64_t seconds = int64_t{macSeconds} - as::kMacSecondsAt2000;
    if (seconds <= INT32_MIN) return as::kUnknownDate;
    return static_cast<uint32_t>(static_cast<int32_t>(seconds));
}

struct Entry {
    uint32_t id;
    std::vector<uint8_t> bytes;  // the entry's bytes when they are not a fork
    uint32_t length;
    ForkKind forkKind = ForkKind::Data;
    bool fork = false;
};

// The entries both formats carry, then the forks each asks for, in the order written.
std::vector<Entry> appleEntries(const VolumeEntry& file, bool withDataFork) {
    std::vector<Entry> entries;
    entries.push_back({as::kRealName, std::vector<uint8_t>(file.macName.begin(), file.macName.end()),
                       static_cast<uint32_t>(file.macName.size())});
    std::vector<uint8_t> dates;
    put32(dates, appleSingleDate(file.created.wallClock()));
    put32(dates, appleSingleDate(file.modified.wallClock()));
    put32(dates, appleSingleDate(file.backedUp.wallClock()));
    put32(dates, as::kUnknownDate);  // HFS keeps no access date
    entries.push_back({as::kFileDates, dates, as::kFileDatesSize});
    std::vector<uint8_t> finder(file.finderInfo.begin(), file.finderInfo.end());
    finder.insert(finder.end(), file.extendedFinderInfo.begin(), file.extendedFinderInfo.end());
    entries.push_back({as::kFinderInfo, finder, as::kFinderInfoSize});
    // The resource fork comes after the small entries, and the data fork last, so that both
    // stream straight from the volume.
    entries.push_back({as::kResourceFork, {}, static_cast<uint32_t>(file.rsrc.logical), ForkKind::Resource, true});
    if (withDataFork)
        entries.push_back({as::kDataFork, {}, static_cast<uint32_t>(file.data.logical), ForkKind::Data, true});
    return entries;
}

Status writeAppleFile(const VolumeEntry& file, uint32_t magic, bool withDataFork, const ForkCopier& forks, ByteSink& sink) {
    const std::vector<Entry> entries = appleEntries(file, withDataFork);
    std::vector<uint8_t> head;
    put32(head, magic);
    put32(head, as::kVersion2);
    head.resize(head.size() + 16, 0);
    head.push_back(0);
    head.push_back(static_cast<uint8_t>(entries.size()));
    uint32_t offset = static_cast<uint32_t>(as::kHeaderSize + as::kDescriptorSize * entries.size());
    for (const Entry& e : entries) {
        put32(head, e.id);
        put32(head, offset);
        put32(head, e.length);
        offset += e.length;
    }
    for (const Entry& e : entries)
        if (!e.fork) head.insert(head.end(), e.bytes.begin(), e.bytes.end());
    if (Status s = writeAll(sink, head.data(), head.size()); !s) return s;
    for (const Entry& e : entries)
        if (e.fork)
            if (Status s = copyFork(file, forks, e.forkKind, sink); !s) return s;
    return Status::ok();
}

// BinHex's two encoding stages in one sink: the run-length stage and the six-bit stage, with
// the CRC of the section (header or fork) being written. Bytes arrive in the fork reader's
// transfers; a run or a character group that spans two transfers is carried over.
class BinHexSink : public ByteSink {
public:
    explicit BinHexSink(ByteSink& out) : out_(out) { text_.reserve(kTextChunk + hqx::kLineLength); }

    bool write(const uint8_t* data, size_t length) override {
        crc_ = Crc16Xmodem(data, length, crc_);
        for (size_t i = 0; i < length; ++i)
            if (!compress(data[i])) return false;
        return true;
    }
    std::string error() const override { return out_.error(); }

    // Ends a section with its CRC, which is encoded like the section but not counted in a CRC.
    bool endSection() {
        const uint16_t crc = crc_;
        crc_ = 0;
        return compress(static_cast<uint8_t>(crc >> 8)) && compress(static_cast<uint8_t>(crc));
    }

    // The pending run, the last bits, the closing colon.
    bool finish() {
        if (!endRun()) return false;
        // Two bytes left over end in a whole group of four characters, as though a zero byte
        // followed, and one byte in two characters: what hfsutils writes, so that the two
        // programs' files are the same. Readers stop at the resource fork's CRC.
        if (bitCount_ == 4) {
            character((bits_ << 2) & 0x3F);
            character(0);
        } else if (bitCount_ == 2) {
            character((bits_ << 4) & 0x3F);
        }
        bitCount_ = 0;
        if (column_ == hqx::kLineLength) {
            text_.push_back('\n');
            column_ = 0;
        }
        text_.append(":\n");
        return drain();
    }

    // The line that tells a person what the text is, and the colon that opens the encoding.
    void start() {
        text_.assign(hqx::kIntroductionLine);
        text_.push_back(':');
        column_ = 1;
    }

private:
    static constexpr size_t kTextChunk = 64 * 1024;

    bool compress(uint8_t byte) {
        if (runLength_ > 0 && byte == runByte_ && runLength_ < hqx::kLongestRun) {
            ++runLength_;
            return true;
        }
        if (!endRun()) return false;
        runByte_ = byte;
        runLength_ = 1;
        return true;
    }

    bool endRun() {
        if (runLength_ == 0) return true;
        if (runLength_ >= hqx::kShortestRun) {
            literal(runByte_);
            encode(hqx::kRunMarker);
            encode(static_cast<uint8_t>(runLength_));
        } else {
            for (unsigned i = 0; i < runLength_; ++i) literal(runByte_);
        }
        runLength_ = 0;
        return text_.size() < kTextChunk || drain();
    }

    // The marker byte itself is written as the marker and a zero length.
    void literal(uint8_t byte) {
        encode(byte);
        if (byte == hqx::kRunMarker) encode(0);
    }

    void encode(uint8_t byte) {
        bits_ = (bits_ << 8) | byte;
        bitCount_ += 8;
        while (bitCount_ >= 6) {
            bitCount_ -= 6;
            character((bits_ >> bitCount_) & 0x3F);
        }
        bits_ &= (1u << bitCount_) - 1;
    }

    void character(uint32_t sixBits) {
        if (column_ == hqx::kLineLength) {
            text_.push_back('\n');
            column_ = 0;
        }
        text_.push_back(hqx::kDigits[sixBits]);
        ++column_;
    }

    bool drain() {
        const bool ok = out_.write(reinterpret_cast<const uint8_t*>(text_.data()), text_.size());
        text_.clear();
        return ok;
    }

    ByteSink& out_;
    std::string text_;
    uint16_t crc_ = 0;
    uint8_t runByte_ = 0;
    unsigned runLength_ = 0;
    uint32_t bits_ = 0;
    unsigned bitCount_ = 0;
    unsigned column_ = 0;
};

}  // namespace

std::array<uint8_t, kMacBinaryHeaderSize> MacBinaryHeader(const VolumeEntry& file, BinaryFormat format) {
    std::array<uint8_t, kMacBinaryHeaderSize> h{};
    const uint8_t* info = file.finderInfo.data();
    const std::string name = leadingBlanksRemoved(file.macName);
    const size_t len = std::min(name.size(), mb::kMaxName);
    h[mb::kNameLength] = static_cast<uint8_t>(len);
    std::memcpy(h.data() + mb::kName, name.data(), len);
    std::memcpy(h.data() + mb::kType, info, 8);  // type and creator
    // The Finder flags' high byte has its place at 73. Byte 74 must stay zero, and so must the
    // bytes from 99 on in a header without version bytes, or readers do not take the file for
    // MacBinary at all: MacBinary I has no place for the low byte (colour label and desktop
    // bits); II and III keep it at 101.
    h[mb::kFlagsHigh] = info[finfo::kFlags];
    std::memcpy(h.data() + mb::kLocation, info + finfo::kLocation, 4);
    put32(h.data() + mb::kDataLength, file.data.logical);
    put32(h.data() + mb::kRsrcLength, file.rsrc.logical);
    put32(h.data() + mb::kCreated, file.created.wallClock());
    put32(h.data() + mb::kModified, file.modified.wallClock());
    if (format == BinaryFormat::MacBinaryI) return h;

    h[mb::kFlagsLow] = info[finfo::kFlags + 1];
    h[mb::kWriterVersion] = mb::kVersionII;
    h[mb::kReaderVersion] = mb::kVersionII;
    if (format == BinaryFormat::MacBinaryIII) {
        std::memcpy(h.data() + mb::kSignature, "mBIN", 4);
        h[mb::kScript] = file.extendedFinderInfo[finfo::kScript];
        h[mb::kExtendedFlags] = file.extendedFinderInfo[finfo::kExtendedFlags];
        h[mb::kWriterVersion] = mb::kVersionIII;
    }
    const uint16_t crc = Crc16Xmodem(h.data(), mb::kCrc);
    h[mb::kCrc] = static_cast<uint8_t>(crc >> 8);
    h[mb::kCrc + 1] = static_cast<uint8_t>(crc);
    return h;
}

Status WriteMacBinary(const VolumeEntry& file, BinaryFormat format, const ForkCopier& forks, ByteSink& sink) {
    const auto header = MacBinaryHeader(file, format);
    if (Status s = writeAll(sink, header.data(), header.size()); !s) return s;
    const uint32_t data = static_cast<uint32_t>(file.data.logical);
    const uint32_t rsrc = static_cast<uint32_t>(file.rsrc.logical);
    if (Status s = copyFork(file, forks, ForkKind::Data, sink); !s) return s;
    // MacBinary I pads the data fork only when a resource fork follows it; II and III pad every
    // fork, as their documents ask and as hfsutils writes them.
    const bool padAll = format != BinaryFormat::MacBinaryI;
    if (padAll || rsrc > 0)
        if (Status s = writeZeros(sink, paddingTo128(data)); !s) return s;
    if (Status s = copyFork(file, forks, ForkKind::Resource, sink); !s) return s;
    if (padAll) return writeZeros(sink, paddingTo128(rsrc));
    return Status::ok();
}

Status WriteAppleSingle(const VolumeEntry& file, const ForkCopier& forks, ByteSink& sink) {
    return writeAppleFile(file, as::kSingleMagic, true, forks, sink);
}

Status WriteAppleDoubleHeader(const VolumeEntry& file, const ForkCopier& forks, ByteSink& sink) {
    return writeAppleFile(file, as::kDoubleMagic, false, forks, sink);
}

Status WriteBinHex(const VolumeEntry& file, const ForkCopier& forks, ByteSink& sink) {
    BinHexSink hqxSink(sink);
    hqxSink.start();
    const uint8_t* info = file.finderInfo.data();
    const size_t len = std::min(file.macName.size(), hqx::kMaxName);
    std::vector<uint8_t> header;
    header.push_back(static_cast<uint8_t>(len));
    header.insert(header.end(), file.macName.begin(), file.macName.begin() + static_cast<std::ptrdiff_t>(len));
    header.push_back(0);  // version
    header.insert(header.end(), info, info + 8);  // type and creator
    header.insert(header.end(), info + finfo::kFlags, info + finfo::kFlags + 2);
    put32(header, static_cast<uint32_t>(file.data.logical));
    put32(header, static_cast<uint32_t>(file.rsrc.logical));
    auto failed = [&] { return Status(Fault{"cannot write: " + sink.error()}); };
    if (!hqxSink.write(header.data(), header.size()) || !hqxSink.endSection()) return failed();
    if (Status s = copyFork(file, forks, ForkKind::Data, hqxSink); !s) return s;
    if (!hqxSink.endSection()) return failed();
    if (Status s = copyFork(file, forks, ForkKind::Resource, hqxSink); !s) return s;
    if (!hqxSink.endSection() || !hqxSink.finish()) return failed();
    return Status::ok();
}

std::string_view BinaryFormatExtension(BinaryFormat format) {
    switch (format) {
        case BinaryFormat::AppleSingle: return "as";
        case BinaryFormat::BinHex: return "hqx";
        default: return {};
    }
}

}  // namespace quarry
