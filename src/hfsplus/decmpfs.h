#pragma once
// Files that HFS+ stores compressed (Mac OS X 10.6 and later). Such a file has an empty data
// fork, the "compressed" flag in its BSD flags and an extended attribute "com.apple.decmpfs"
// that begins with a 16-byte header, all little-endian:
//
//   0  compression magic   'fpmc' (0x636D7066)
//   4  compression type    odd: the data follows the header in the attribute ("inline");
//                          even: the data lies in the file's resource fork, in 64 KiB chunks
//   8  uncompressed size   64 bits
//
//   type  3 / 4   zlib          inline: a first byte whose low nibble is 0xF marks stored bytes
//   type  7 / 8   LZVN          inline: a first byte 0x06 marks stored bytes
//   type  9 / 10  stored        inline: a first byte 0xCC, then the bytes
//   type 11 / 12  LZFSE         not read: Debian carries no LZFSE library
//
// Resource-fork layouts. Type 4 keeps the resource-fork form of Classic Mac OS: a 16-byte
// big-endian header (data offset, map offset, data length, map length), and at the data offset
// one resource: its big-endian length, then a little-endian chunk count and that many (offset,
// length) pairs, offsets counted from the chunk count. Types 8 and 10 begin the fork with a
// little-endian table of chunk-count + 1 offsets: the first is the table's own length (where the
// first chunk starts), each later one where a chunk ends. Every chunk but the last decodes to
// 64 KiB; a chunk whose first byte is the stored mark (0xFF-low-nibble for zlib, 0x06 for LZVN)
// holds its bytes as they are after that mark.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "common/result.h"

namespace quarry {

namespace decmpfs {
constexpr size_t kHeaderSize = 16;
constexpr uint32_t kMagic = 0x636D7066;  // "fpmc" as stored, "cmpf" read little-endian
constexpr uint64_t kChunkSize = 65536;
}  // namespace decmpfs

struct DecmpfsHeader {
    uint32_t type = 0;              // compression type
    uint64_t uncompressedSize = 0;  // the file's length as the Finder shows it
};

// Reads the header alone: what a listing needs for the file's length. A short attribute or a
// wrong magic is a fault; the type is not judged here.
Result<DecmpfsHeader> parseDecmpfsHeader(std::span<const uint8_t> attribute);

// The resource fork of the compressed file, as its reader gives it: its logical length, and a
// read of `out.size()` bytes at a byte offset inside that length (a fault where the medium cannot
// be read).
struct ResourceForkSource {
    uint64_t length = 0;
    std::function<Status(uint64_t offset, std::span<uint8_t> out)> read;
};

// An open compressed file. Inline data is decoded whole when the file is opened (it is bounded
// by the attribute's size); resource-fork data is decoded one 64 KiB chunk at a time when it is
// read, the last chunk decoded being kept, so a file read from start to end decodes each chunk
// once and a dump window's random read decodes only the chunk that holds it.
class CompressedFile {
public:
    // Parses the attribute and, for the resource-fork types, the fork's chunk table, checking
    // every count and offset against the fork's length. Faults name what is wrong: a damaged
    // header, a table that does not fit the fork or the file's size, a type Quarry does not
    // read ("uses LZFSE compression, which Quarry does not read"); the caller adds the file's
    // name.
    static Result<CompressedFile> open(std::span<const uint8_t> attribute, ResourceForkSource fork);

    uint32_t type() const { return type_; }
    uint64_t size() const { return size_; }
    bool inResourceFork() const { return type_ % 2 == 0; }
    // Inline data is one chunk of the whole file.
    size_t chunkCount() const { return inResourceFork() ? chunks_.size() : 1; }

    // The decoded bytes of one chunk; valid until the next call of chunk() or read().
    Result<std::span<const uint8_t>> chunk(size_t index);
    // Fills `out` with the file's bytes from `offset`; the range must lie inside size().
    Status read(uint64_t offset, std::span<uint8_t> out);

private:
    struct Chunk {
        uint64_t offset;  // in the resource fork
        uint32_t length;  // compressed bytes
    };
    CompressedFile() = default;
    Status decodeInline(std::span<const uint8_t> data);
    Status readZlibTable();
    Status readOffsetTable();
    Status decodeChunk(size_t index);

    uint32_t type_ = 0;
    uint64_t size_ = 0;
    ResourceForkSource fork_;
    std::vector<Chunk> chunks_;
    std::vector<uint8_t> decoded_;  // the inline file, or the chunk `decodedIndex_`
    size_t decodedIndex_ = SIZE_MAX;
    std::vector<uint8_t> packed_;   // the compressed bytes of the chunk being decoded
};

}  // namespace quarry
