#include "device/containers/dart.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace quarry {
namespace {

// Offsets of the DART header fields, all big-endian, and the sizes of its chunks.
namespace dart {
constexpr size_t kCompression = 0;  // srcCmp: how the chunks are packed
constexpr size_t kDiskType = 1;     // srcType: the kind of disk that was read
constexpr size_t kDiskSize = 2;     // srcSize: the disk's size in KB
constexpr size_t kLengths = 4;      // bLength: one 16-bit length per chunk
constexpr uint8_t kFast = 0, kBest = 1, kNone = 2;
// The length array has room for the chunks of an 800K disk, or of a 1440K one.
constexpr size_t kSmallDiskChunks = 40, kLargeDiskChunks = 72;
constexpr uint16_t kLargeDiskKilobytes = 1440;
// A chunk that packing did not make smaller is stored as it is, whatever the packing.
constexpr uint16_t kStoredChunk = 0xFFFF;
constexpr size_t kSectorSize = 512, kTagSize = 12, kChunkSectors = 40;
constexpr size_t kChunkData = kChunkSectors * kSectorSize;                 // 20480 bytes of sectors
constexpr size_t kChunkBytes = kChunkSectors * (kSectorSize + kTagSize);  // then their tags: 20960
}  // namespace dart

// The kinds of disk DART read, each with the sizes it came in.
struct DiskKind {
    uint8_t type;
    uint16_t kilobytes;
};
constexpr DiskKind kDiskKinds[] = {
    {1, 400}, {1, 800},    // Macintosh
    {2, 400}, {2, 800},    // Lisa
    {3, 800},              // Apple II
    {16, 1440},            // Macintosh, high density
    {17, 720}, {18, 1440}, // MS-DOS
};

const char* packingName(uint8_t compression) {
    return compression == dart::kFast ? "run-length (\"fast\")" : compression == dart::kBest ? "LZH (\"best\")" : "no";
}

Fault damaged(const std::string& why) { return Fault{"The DART image is damaged: " + why}; }

std::string sectorsOf(size_t chunk) {
    return "chunk " + std::to_string(chunk) + " (sectors " + std::to_string(chunk * dart::kChunkSectors) + " to " +
           std::to_string((chunk + 1) * dart::kChunkSectors - 1) + ")";
}

// What the first bytes say of the disk; nothing when they are not a DART header.
struct Layout {
    uint8_t compression = 0;
    size_t headerSize = 0;
    size_t chunks = 0;  // chunks the disk fills; the length array may have more, all zero
    std::vector<uint16_t> lengths;
};

std::optional<Layout> layoutOf(const uint8_t* head, size_t length) {
    if (length < dart::kLengths) return std::nullopt;
    Layout l;
    l.compression = head[dart::kCompression];
    const uint8_t type = head[dart::kDiskType];
    const uint16_t kilobytes = be16(head + dart::kDiskSize);
    const bool known = std::any_of(std::begin(kDiskKinds), std::end(kDiskKinds),
                                   [&](const DiskKind& k) { return k.type == type && k.kilobytes == kilobytes; });
    if (l.compression > dart::kNone || !known) return std::nullopt;
    const size_t entries = kilobytes == dart::kLargeDiskKilobytes ? dart::kLargeDiskChunks : dart::kSmallDiskChunks;
    l.headerSize = dart::kLengths + 2 * entries;
    if (length < l.headerSize) return std::nullopt;
    l.chunks = kilobytes * size_t{1024} / dart::kChunkData;
    for (size_t i = 0; i < entries; ++i) l.lengths.push_back(be16(head + dart::kLengths + 2 * i));
    // DART leaves the lengths past a small disk's last chunk zero: one more sign of a real header.
    if (std::any_of(l.lengths.begin() + static_cast<std::ptrdiff_t>(l.chunks), l.lengths.end(), [](uint16_t n) { return n != 0; }))
        return std::nullopt;
    return l;
}

// The bytes a chunk takes in the file (0 for a chunk that is not there), or nothing for a
// length that no chunk of the packing has. The run-length code counts 16-bit words, LZH counts
// bytes; a packed chunk is shorter than the stored one, or DART would have stored it.
std::optional<uint64_t> bytesInFile(uint8_t compression, uint16_t length) {
    if (length == 0) return 0;
    if (length == dart::kStoredChunk) return dart::kChunkBytes;
    if (compression == dart::kFast && 2u * length < dart::kChunkBytes) return 2u * length;
    if (compression == dart::kBest && length < dart::kChunkBytes) return length;
    if (compression == dart::kNone && length == dart::kChunkBytes) return length;
    return std::nullopt;
}

// The disk, unpacked at open; the chunks that did not unpack cannot be read.
class DartSource : public ImageSource {
public:
    DartSource(std::vector<uint8_t> disk, std::vector<std::string> badChunks) : disk_(std::move(disk)), badChunks_(std::move(badChunks)) {}
    uint64_t size() const override { return disk_.size(); }

protected:
    Status readInside(uint64_t offset, uint64_t length, uint8_t* out) override {
        for (uint64_t chunk = offset / dart::kChunkData; chunk <= (offset + length - 1) / dart::kChunkData; ++chunk)
            if (!badChunks_[chunk].empty()) return Fault{badChunks_[chunk]};
        std::memcpy(out, disk_.data() + offset, length);
        return Status::ok();
    }

private:
    std::vector<uint8_t> disk_;
    std::vector<std::string> badChunks_;  // why each chunk cannot be read; empty for a good one
};

// "Best" packing is LZSS over a 4096-byte window with matches of 3 to 60 bytes. Literal bytes and
// match lengths share one adaptive Huffman code of 314 symbols; a match's distance follows, its
// upper six bits in a fixed code of 3 to 8 bits and its lower six bits as they are. Bits are read
// from the most significant bit of each byte.
namespace lzh {
constexpr size_t kWindow = 4096;
constexpr size_t kLongest = 60;
constexpr size_t kThreshold = 2;  // matches of this length or shorter are sent as literals
constexpr int kSymbols = 256 - static_cast<int>(kThreshold) + static_cast<int>(kLongest);
constexpr int kNodes = 2 * kSymbols - 1;
constexpr int kRoot = kNodes - 1;

// The fixed code of a distance's upper six bits, as a table over the next eight bits of input:
// the value they start with, and how many bits its code takes. Values 0..63 take codes of
// increasing length, a given number of values per length.
struct UpperCode {
    std::array<uint8_t, 256> value{}, bits{};
};
constexpr UpperCode makeUpperCode() {
    constexpr std::pair<int, int> kCodesPerLength[] = {{3, 1}, {4, 3}, {5, 8}, {6, 12}, {7, 24}, {8, 16}};
    UpperCode t;
    int value = 0, next = 0;
    for (const auto& [bits, count] : kCodesPerLength)
        for (int c = 0; c < count; ++c, ++value)
            for (int k = 0; k < 1 << (8 - bits); ++k, ++next) {
                t.value[static_cast<size_t>(next)] = static_cast<uint8_t>(value);
                t.bits[static_cast<size_t>(next)] = static_cast<uint8_t>(bits);
            }
    return t;
}
constexpr UpperCode kUpperCode = makeUpperCode();

class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> in) : in_(in) {}
    unsigned bit() {
        if (at_ >= in_.size() * 8) {
            overran_ = true;
            return 0;
        }
        const unsigned b = in_[at_ / 8] >> (7 - at_ % 8) & 1;
        ++at_;
        return b;
    }
    unsigned bits(int count) {
        unsigned v = 0;
        while (count-- > 0) v = v << 1 | bit();
        return v;
    }
    bool overran() const { return overran_; }

private:
    std::span<const uint8_t> in_;
    size_t at_ = 0;
    bool overran_ = false;
};

// The adaptive Huffman tree. Nodes are kept in order of their counts; each internal node names
// the first of its two children, which lie side by side; a leaf names its symbol plus kNodes.
// After each symbol its leaf's count and those of its ancestors go up by one, and a node whose
// count passes the next node's trades places with the last node of the lower count. LZHUF halves
// all counts once the root's reaches 0x8000; a chunk is at most 20960 symbols, and the root
// starts at 314, so that never happens within one.
class AdaptiveCode {
public:
    AdaptiveCode() {
        for (int i = 0; i < kSymbols; ++i) {
            count_[i] = 1;
            child_[i] = i + kNodes;
            parent_[i + kNodes] = i;
        }
        for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
            count_[j] = count_[i] + count_[i + 1];
            child_[j] = i;
            parent_[i] = parent_[i + 1] = j;
        }
        count_[kNodes] = 0xFFFF;  // stops the search for a node's new place
        parent_[kRoot] = 0;
    }

    int decode(BitReader& in) {
        int node = child_[kRoot];
        // The tree is never deeper than it has nodes; the bound only keeps a broken one finite.
        for (int depth = 0; node < kNodes && depth < kNodes; ++depth) node = child_[node + static_cast<int>(in.bit())];
        const int symbol = std::clamp(node - kNodes, 0, kSymbols - 1);
        update(symbol);
        return symbol;
    }

private:
    void update(int symbol) {
        int node = parent_[symbol + kNodes];
        do {
            const uint32_t raised = ++count_[node];
            int last = node + 1;
            if (raised > count_[last]) {
                while (raised > count_[++last]) {
                }
                --last;
                count_[node] = count_[last];
                count_[last] = raised;
                const int a = child_[node];
                parent_[a] = last;
                if (a < kNodes) parent_[a + 1] = last;
                const int b = child_[last];
                child_[last] = a;
                parent_[b] = node;
                if (b < kNodes) parent_[b + 1] = node;
                child_[node] = b;
                node = last;
            }
            node = parent_[node];
        } while (node != 0);
    }

    std::array<uint32_t, kNodes + 1> count_{};
    std::array<int, kNodes> child_{};
    std::array<int, kNodes + kSymbols> parent_{};
};
}  // namespace lzh

Status unpackChunk(uint8_t compression, uint16_t length, std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (length == dart::kStoredChunk || compression == dart::kNone) {
        std::copy(in.begin(), in.end(), out.begin());
        return Status::ok();
    }
    return compression == dart::kFast ? unpackDartFast(in, out) : unpackDartBest(in, out);
}

}  // namespace

Status unpackDartFast(std::span<const uint8_t> in, std::span<uint8_t> out) {
    size_t at = 0, put = 0;
    while (put < out.size()) {
        if (in.size() - at < 2) return Fault{"the run-length code ends after " + std::to_string(put) + " of " + std::to_string(out.size()) + " bytes"};
        const auto count = static_cast<int16_t>(be16(in.data() + at));
        const auto fault = [&, run = at](const char* what) { return Fault{"the run at byte " + std::to_string(run) + " " + what}; };
        at += 2;
        // A positive count is of words that follow as they are; a negative one repeats the one word that follows.
        const size_t bytes = 2 * static_cast<size_t>(count < 0 ? -int{count} : int{count});
        if (count == 0) return fault("has no words");
        if (bytes > out.size() - put) return fault("passes the chunk's end");
        const size_t taken = count > 0 ? bytes : 2;
        if (taken > in.size() - at) return fault("passes the code's end");
        if (count > 0) {
            std::memcpy(out.data() + put, in.data() + at, bytes);
        } else {
            for (size_t i = 0; i < bytes; i += 2) std::memcpy(out.data() + put + i, in.data() + at, 2);
        }
        at += taken;
        put += bytes;
    }
    return Status::ok();
}

Status unpackDartBest(std::span<const uint8_t> in, std::span<uint8_t> out) {
    using namespace lzh;
    // DART starts the window with zeros, where LZHUF started it with spaces.
    std::array<uint8_t, kWindow> window{};
    size_t r = kWindow - kLongest;
    lzh::BitReader bits(in);
    AdaptiveCode code;
    size_t put = 0;
    const auto emit = [&](uint8_t b) {
        out[put++] = b;
        window[r] = b;
        r = (r + 1) % kWindow;
    };
    while (put < out.size()) {
        const int symbol = code.decode(bits);
        if (symbol < 256) {
            emit(static_cast<uint8_t>(symbol));
        } else {
            const unsigned head = bits.bits(8);
            const unsigned extra = kUpperCode.bits[head] - 2u;
            const unsigned lower = (head << extra | bits.bits(static_cast<int>(extra))) & 0x3F;
            const size_t distance = (size_t{kUpperCode.value[head]} << 6 | lower) + 1;
            const size_t length = static_cast<size_t>(symbol) - 256 + kThreshold + 1;
            if (length > out.size() - put) return Fault{"a match at byte " + std::to_string(put) + " passes the chunk's end"};
            const size_t from = (r + kWindow - distance) % kWindow;
            for (size_t k = 0; k < length; ++k) emit(window[(from + k) % kWindow]);
        }
        if (bits.overran()) return Fault{"the LZH code ends after " + std::to_string(put) + " of " + std::to_string(out.size()) + " bytes"};
    }
    return Status::ok();
}

bool looksLikeDart(const uint8_t* head, size_t length) { return layoutOf(head, length).has_value(); }

Result<OpenedImage> openDart(std::shared_ptr<FileHandle> file, uint64_t fileSize) {
    std::vector<uint8_t> header(4 + 2 * dart::kLargeDiskChunks);
    Result<uint64_t> got = file->readSome(0, header.size(), header.data());
    if (!got) return damaged(got.fault());
    const std::optional<Layout> layout = layoutOf(header.data(), *got);
    if (!layout) return damaged("its header is cut short");

    std::vector<uint64_t> starts;  // of each chunk, after the header
    uint64_t packed = 0;
    for (size_t i = 0; i < layout->chunks; ++i) {
        const std::optional<uint64_t> bytes = bytesInFile(layout->compression, layout->lengths[i]);
        if (!bytes)
            return damaged(sectorsOf(i) + " has length " + std::to_string(layout->lengths[i]) + ", which no chunk with " +
                           packingName(layout->compression) + " packing has");
        starts.push_back(packed);
        packed += *bytes;
    }
    if (fileSize - layout->headerSize != packed)
        return damaged("its chunks take " + std::to_string(packed) + " bytes after the header, but the file holds " +
                       std::to_string(fileSize - layout->headerSize) + (fileSize - layout->headerSize < packed ? " (it is cut short)" : ""));

    std::vector<uint8_t> stored(packed);
    if (Status read = file->readExactly(layout->headerSize, packed, stored.data()); !read) return damaged(read.fault());

    OpenedImage image;
    image.format = "DART";
    std::vector<uint8_t> disk(layout->chunks * dart::kChunkData);
    std::vector<std::string> badChunks(layout->chunks);
    std::vector<uint8_t> chunk(dart::kChunkBytes);
    for (size_t i = 0; i < layout->chunks; ++i) {
        const uint16_t length = layout->lengths[i];
        Status unpacked = length == 0 ? Status{Fault{"is not in the image"}} : Status::ok();
        if (unpacked) {
            const std::span<const uint8_t> in(stored.data() + starts[i], *bytesInFile(layout->compression, length));
            Status done = unpackChunk(layout->compression, length, in, chunk);
            if (!done) unpacked = Fault{"does not unpack: " + done.fault()};
        }
        if (!unpacked) {
            badChunks[i] = damaged(sectorsOf(i) + " " + unpacked.fault()).what;
            image.warnings.push_back(badChunks[i] + "; those sectors cannot be read");
            continue;
        }
        // The tags after the sectors are of no use to the file systems read here.
        std::copy_n(chunk.begin(), dart::kChunkData, disk.begin() + static_cast<std::ptrdiff_t>(i * dart::kChunkData));
    }
    image.source = std::make_unique<DartSource>(std::move(disk), std::move(badChunks));
    return image;
}

}  // namespace quarry
