#include "hfsplus/decmpfs.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "hfsplus/lzvn.h"

namespace quarry {
namespace {

// Offsets in the attribute's header.
namespace hdr {
constexpr size_t kMagic = 0;  // compression_magic
constexpr size_t kType = 4;   // compression_type
constexpr size_t kSize = 8;   // uncompressed_size
}  // namespace hdr

// The resource-fork header of type 4 (big-endian, Classic Mac OS resource-fork form).
namespace rsrc {
constexpr size_t kHeaderSize = 16;
constexpr size_t kDataOffset = 0;  // where the resource data begins
constexpr size_t kDataLength = 8;  // bytes of resource data
}  // namespace rsrc

enum class Method { Zlib, Lzvn, Stored };

// The marks a chunk or inline data begins with when it holds its bytes uncompressed.
constexpr uint8_t kLzvnStored = 0x06;
constexpr uint8_t kCopyStored = 0xCC;
bool zlibStored(uint8_t first) { return (first & 0x0F) == 0x0F; }

// No chunk of 64 KiB is larger than that plus its stored mark when written by Apple's code; a
// little more is allowed, but a chunk that claims far more is damage, and its buffer is not
// allocated.
constexpr uint64_t kMaxChunkBytes = 2 * decmpfs::kChunkSize;
// Inline data is decoded into a buffer of the declared size, which must be one the data can
// produce: deflate expands at most 1032 to 1, LZVN at most 271 bytes from a 2-byte match.
constexpr uint64_t kMaxInlineRatio = 1100;
// The chunk tables are read in pieces of this size, so that the table's memory grows only with
// bytes that were really read from the medium, whatever length a damaged fork claims.
constexpr size_t kTablePiece = 65536;

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t le64(const uint8_t* p) { return uint64_t{le32(p)} | uint64_t{le32(p + 4)} << 32; }
uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

Method methodOf(uint32_t type) {
    switch (type) {
    case 3:
    case 4:
        return Method::Zlib;
    case 7:
    case 8:
        return Method::Lzvn;
    default:
        return Method::Stored;
    }
}

std::string n(uint64_t v) { return std::to_string(v); }

// Inflates a zlib stream that must produce exactly out.size() bytes. Bytes after the stream's
// end are ignored: Apple's chunks may be padded.
Status inflateExactly(std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (in.size() > UINT_MAX || out.size() > UINT_MAX) return Fault{"zlib data too large"};
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return Fault{"zlib could not start"};
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_FINISH);
    if (rc != Z_STREAM_END && rc != Z_DATA_ERROR && rc != Z_MEM_ERROR && z.avail_out == 0) {
        // Output full: the stream may still hold its end, or more bytes than expected.
        uint8_t extra = 0;
        z.next_out = &extra;
        z.avail_out = 1;
        rc = inflate(&z, Z_FINISH);
        if (z.avail_out == 0) {
            inflateEnd(&z);
            return Fault{"zlib data decodes to more than the " + n(out.size()) + " bytes expected"};
        }
    }
    const uint64_t produced = z.total_out;
    const std::string message = z.msg ? z.msg : "";
    inflateEnd(&z);
    if (rc == Z_STREAM_END) {
        if (produced != out.size())
            return Fault{"zlib data decodes to " + n(produced) + " bytes where " + n(out.size()) + " were expected"};
        return Status::ok();
    }
    if (rc == Z_DATA_ERROR) return Fault{"zlib data damaged after " + n(produced) + " bytes of output: " + message};
    if (rc == Z_MEM_ERROR) return Fault{"zlib ran out of memory"};
    return Fault{"zlib data ends after " + n(produced) + " of " + n(out.size()) + " bytes"};
}

// Decodes one unit (inline data or one chunk) of `method` into out.
Status decodeUnit(Method method, std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (in.empty()) return Fault{"no data"};
    const uint8_t first = in[0];
    const bool stored = (method == Method::Zlib && zlibStored(first)) || (method == Method::Lzvn && first == kLzvnStored) ||
                        (method == Method::Stored && first == kCopyStored && in.size() == out.size() + 1);
    if (stored || method == Method::Stored) {
        const std::span<const uint8_t> bytes = stored ? in.subspan(1) : in;
        if (bytes.size() != out.size())
            return Fault{"stored data holds " + n(bytes.size()) + " bytes where " + n(out.size()) + " were expected"};
        std::copy(bytes.begin(), bytes.end(), out.begin());
        return Status::ok();
    }
    if (method == Method::Zlib) return inflateExactly(in, out);
    return decodeLzvn(in, out);
}

}  // namespace

Result<DecmpfsHeader> parseDecmpfsHeader(std::span<const uint8_t> attribute) {
    if (attribute.size() < decmpfs::kHeaderSize)
        return Fault{"compression attribute: " + n(attribute.size()) + " bytes, shorter than its 16-byte header"};
    const uint32_t magic = le32(attribute.data() + hdr::kMagic);
    if (magic != decmpfs::kMagic) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", magic);
        return Fault{std::string("compression attribute: magic ") + text + " is not 'fpmc'"};
    }
    return DecmpfsHeader{le32(attribute.data() + hdr::kType), le64(attribute.data() + hdr::kSize)};
}

Result<CompressedFile> CompressedFile::open(std::span<const uint8_t> attribute, ResourceForkSource fork) {
    auto header = parseDecmpfsHeader(attribute);
    if (!header) return Fault{header.fault()};
    CompressedFile file;
    file.type_ = header->type;
    file.size_ = header->uncompressedSize;
    switch (file.type_) {
    case 3:
    case 7:
    case 9:
        if (Status s = file.decodeInline(attribute.subspan(decmpfs::kHeaderSize)); !s) return Fault{s.fault()};
        return file;
    case 4:
    case 8:
    case 10: {
        if (!fork.read) return Fault{"compressed data: the resource fork cannot be read"};
        file.fork_ = std::move(fork);
        Status s = file.type_ == 4 ? file.readZlibTable() : file.readOffsetTable();
        if (!s) return Fault{s.fault()};
        return file;
    }
    case 11:
    case 12:
        return Fault{"uses LZFSE compression, which Quarry does not read"};
    default:
        return Fault{"uses compression type " + n(file.type_) + ", which Quarry does not read"};
    }
}

Status CompressedFile::decodeInline(std::span<const uint8_t> data) {
    // The buffer is allocated before decoding: a size no data of this length could produce is
    // refused first, so a damaged header cannot make it huge.
    if (size_ / kMaxInlineRatio > data.size())
        return Fault{"compressed data: declares " + n(size_) + " bytes, more than its " + n(data.size()) +
                     " bytes of data can hold"};
    // Chunks of type 10 may be written bare, but inline data of type 9 always carries its mark.
    if (type_ == 9 && (data.empty() || data[0] != kCopyStored))
        return Fault{"compressed data (type 9): does not begin with its 0xCC mark"};
    decoded_.assign(static_cast<size_t>(size_), 0);
    if (Status s = decodeUnit(methodOf(type_), data, decoded_); !s) {
        decoded_.clear();
        return Fault{"compressed data (type " + n(type_) + "): " + s.fault()};
    }
    decodedIndex_ = 0;
    return Status::ok();
}

// Type 4: the resource-fork header, then the resource holding the chunk table.
Status CompressedFile::readZlibTable() {
    const uint64_t forkLength = fork_.length;
    uint8_t head[rsrc::kHeaderSize];
    if (forkLength < sizeof head)
        return Fault{"resource fork: " + n(forkLength) + " bytes, shorter than its 16-byte header"};
    if (Status s = fork_.read(0, head); !s) return Fault{"resource fork: " + s.fault()};
    const uint64_t dataOffset = be32(head + rsrc::kDataOffset);
    const uint64_t dataLength = be32(head + rsrc::kDataLength);
    if (dataOffset < sizeof head || dataOffset > forkLength || dataLength > forkLength - dataOffset)
        return Fault{"resource fork: its data (" + n(dataLength) + " bytes at byte " + n(dataOffset) +
                     ") does not lie inside the fork's " + n(forkLength) + " bytes"};
    // The resource: its length, the chunk count, the (offset, length) pairs.
    uint8_t start[8];
    if (dataLength < sizeof start) return Fault{"resource fork: its data is too short to hold a chunk table"};
    if (Status s = fork_.read(dataOffset, start); !s) return Fault{"resource fork: " + s.fault()};
    const uint64_t resourceLength = be32(start);
    const uint64_t count = le32(start + 4);
    if (resourceLength < 4 || resourceLength > dataLength - 4)
        return Fault{"resource fork: the compressed resource's length " + n(resourceLength) +
                     " does not fit the fork's data of " + n(dataLength) + " bytes"};
    const uint64_t base = dataOffset + 4;  // chunk offsets count from here (the chunk count)
    if (count > (resourceLength - 4) / 8)
        return Fault{"resource fork: a table of " + n(count) + " chunks does not fit the resource's " +
                     n(resourceLength) + " bytes"};
    if (count != (size_ + decmpfs::kChunkSize - 1) / decmpfs::kChunkSize)
        return Fault{"resource fork: " + n(count) + " chunks cannot hold the file's " + n(size_) + " bytes"};
    std::vector<uint8_t> piece;
    for (uint64_t done = 0; done < count;) {
        const uint64_t now = std::min<uint64_t>(count - done, kTablePiece / 8);
        piece.resize(static_cast<size_t>(now * 8));
        if (Status s = fork_.read(base + 4 + done * 8, piece); !s) return Fault{"resource fork: chunk table: " + s.fault()};
        for (uint64_t i = 0; i < now; ++i) {
            const uint64_t offset = le32(piece.data() + i * 8);
            const uint64_t length = le32(piece.data() + i * 8 + 4);
            const uint64_t index = done + i;
            if (offset > resourceLength || length > resourceLength - offset || length == 0 || length > kMaxChunkBytes)
                return Fault{"resource fork: chunk " + n(index) + " (" + n(length) + " bytes at byte " + n(offset) +
                             " of the resource) does not lie inside the resource's " + n(resourceLength) + " bytes"};
            chunks_.push_back({base + offset, static_cast<uint32_t>(length)});
        }
        done += now;
    }
    return Status::ok();
}

// Types 8 and 10: a table of offsets at the start of the fork.
Status CompressedFile::readOffsetTable() {
    const uint64_t forkLength = fork_.length;
    uint8_t first[4];
    if (forkLength < sizeof first) return Fault{"resource fork: " + n(forkLength) + " bytes, too short for a chunk table"};
    if (Status s = fork_.read(0, first); !s) return Fault{"resource fork: " + s.fault()};
    const uint64_t tableLength = le32(first);
    if (tableLength < 4 || tableLength % 4 != 0 || tableLength > forkLength)
        return Fault{"resource fork: a chunk table of " + n(tableLength) + " bytes does not fit the fork's " +
                     n(forkLength) + " bytes"};
    const uint64_t count = tableLength / 4 - 1;
    if (count != (size_ + decmpfs::kChunkSize - 1) / decmpfs::kChunkSize)
        return Fault{"resource fork: " + n(count) + " chunks cannot hold the file's " + n(size_) + " bytes"};
    uint64_t previous = tableLength;  // the first chunk begins after the table
    std::vector<uint8_t> piece;
    for (uint64_t done = 0; done < count;) {
        const uint64_t now = std::min<uint64_t>(count - done, kTablePiece / 4);
        piece.resize(static_cast<size_t>(now * 4));
        if (Status s = fork_.read(4 + done * 4, piece); !s) return Fault{"resource fork: chunk table: " + s.fault()};
        for (uint64_t i = 0; i < now; ++i) {
            const uint64_t end = le32(piece.data() + i * 4);
            const uint64_t index = done + i;
            if (end <= previous || end > forkLength || end - previous > kMaxChunkBytes)
                return Fault{"resource fork: chunk " + n(index) + " (bytes " + n(previous) + " to " + n(end) +
                             ") does not lie inside the fork's " + n(forkLength) + " bytes"};
            chunks_.push_back({previous, static_cast<uint32_t>(end - previous)});
            previous = end;
        }
        done += now;
    }
    return Status::ok();
}

Status CompressedFile::decodeChunk(size_t index) {
    if (decodedIndex_ == index) return Status::ok();
    const Chunk& c = chunks_[index];
    const uint64_t start = uint64_t{index} * decmpfs::kChunkSize;
    const size_t expected = static_cast<size_t>(std::min<uint64_t>(decmpfs::kChunkSize, size_ - start));
    decodedIndex_ = SIZE_MAX;  // a failed decode leaves no chunk claimed
    packed_.resize(c.length);
    const std::string where = "chunk " + n(index) + " (" + n(c.length) + " bytes at byte " + n(c.offset) +
                              " of the resource fork): ";
    if (Status s = fork_.read(c.offset, packed_); !s) return Fault{where + s.fault()};
    decoded_.resize(expected);
    if (Status s = decodeUnit(methodOf(type_), packed_, decoded_); !s) return Fault{where + s.fault()};
    decodedIndex_ = index;
    return Status::ok();
}

Result<std::span<const uint8_t>> CompressedFile::chunk(size_t index) {
    if (!inResourceFork()) {
        if (index != 0) return Fault{"chunk " + n(index) + " past the last"};
        return std::span<const uint8_t>(decoded_);
    }
    if (index >= chunks_.size()) return Fault{"chunk " + n(index) + " past the last"};
    if (Status s = decodeChunk(index); !s) return Fault{s.fault()};
    return std::span<const uint8_t>(decoded_);
}

Status CompressedFile::read(uint64_t offset, std::span<uint8_t> out) {
    if (offset > size_ || out.size() > size_ - offset)
        return Fault{"read of " + n(out.size()) + " bytes at byte " + n(offset) + " past the file's " + n(size_) + " bytes"};
    if (out.empty()) return Status::ok();
    if (!inResourceFork()) {
        std::memcpy(out.data(), decoded_.data() + offset, out.size());
        return Status::ok();
    }
    size_t done = 0;
    while (done < out.size()) {
        const uint64_t at = offset + done;
        const size_t index = static_cast<size_t>(at / decmpfs::kChunkSize);
        if (Status s = decodeChunk(index); !s) return s;
        const size_t within = static_cast<size_t>(at % decmpfs::kChunkSize);
        const size_t now = std::min(out.size() - done, decoded_.size() - within);
        std::memcpy(out.data() + done, decoded_.data() + within, now);
        done += now;
    }
    return Status::ok();
}

}  // namespace quarry
