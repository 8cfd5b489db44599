#include "device/containers/udif.h"

#include <bzlib.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "device/containers/adc.h"

namespace quarry {
namespace {

// The koly trailer, all fields big-endian.
namespace koly {
constexpr uint8_t kSignature[4] = {'k', 'o', 'l', 'y'};
constexpr size_t kVersion = 4;          // 4
constexpr size_t kHeaderSize = 8;       // 512
constexpr size_t kDataForkOffset = 24;
constexpr size_t kDataForkLength = 32;
constexpr size_t kXmlOffset = 216;      // the property list
constexpr size_t kXmlLength = 224;
constexpr uint32_t kVersionValue = 4;
}  // namespace koly

// A blkx table ("mish"): a 204-byte header, then 40-byte chunk entries.
namespace mish {
constexpr uint8_t kSignature[4] = {'m', 'i', 's', 'h'};
constexpr size_t kSectorCount = 16;     // sectors of the partition
constexpr size_t kChunkCount = 200;
constexpr size_t kHeaderSize = 204;
constexpr size_t kChunkSize = 40;
// fields of a chunk entry
constexpr size_t kType = 0;
constexpr size_t kSector = 8;           // first sector, from the start of the partition
constexpr size_t kSectors = 16;
constexpr size_t kOffset = 24;          // where its bytes lie in the data fork
constexpr size_t kLength = 32;
}  // namespace mish

enum ChunkType : uint32_t {
    kZeroFill = 0x00000000,
    kRaw = 0x00000001,
    kIgnored = 0x00000002,  // free space: reads as zeros
    kAdc = 0x80000004,
    kZlib = 0x80000005,
    kBzip2 = 0x80000006,
    kLzfse = 0x80000007,
    kLzma = 0x80000008,
    kComment = 0x7FFFFFFE,
    kTerminator = 0xFFFFFFFF,
};

constexpr uint64_t kSectorSize = 512;
constexpr uint64_t kMaxPlist = 64 * 1024 * 1024;
// A compressed chunk is decompressed whole. Apple's tools write chunks of 2,048 sectors at most;
// a table asking for far more is not trusted with that much memory.
constexpr uint64_t kMaxChunkSectors = 32768;
constexpr size_t kCachedChunks = 4;

Fault damaged(const std::string& why) { return Fault{"The UDIF image is damaged: " + why}; }

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

struct Chunk {
    uint32_t type;
    uint64_t sector;   // first sector on the medium served
    uint64_t sectors;
    uint64_t offset;   // in the file
    uint64_t length;
};

struct Partition {
    std::string name;
    std::vector<uint8_t> table;
};

// --- the property list -------------------------------------------------------------------

const xmlNode* nextElement(const xmlNode* node) {
    while (node && node->type != XML_ELEMENT_NODE) node = node->next;
    return node;
}

bool named(const xmlNode* node, const char* name) {
    return node && xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

std::string textOf(const xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

// The value that follows <key>name</key> in a <dict>, or null.
const xmlNode* dictValue(const xmlNode* dict, const char* name) {
    if (!named(dict, "dict")) return nullptr;
    for (const xmlNode* key = nextElement(dict->children); key; key = nextElement(key->next)) {
        const xmlNode* value = nextElement(key->next);
        if (named(key, "key") && textOf(key) == name) return value;
        key = value;
        if (!key) break;
    }
    return nullptr;
}

std::optional<std::vector<uint8_t>> base64Decode(const std::string& text) {
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else if (c == '=' || std::isspace(static_cast<unsigned char>(c))) continue;
        else return std::nullopt;
        bits = bits << 6 | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(bits >> 16));
            out.push_back(static_cast<uint8_t>(bits >> 8));
            out.push_back(static_cast<uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1) return std::nullopt;
    if (count >= 2) out.push_back(static_cast<uint8_t>(bits >> (count == 2 ? 4 : 10)));
    if (count == 3) out.push_back(static_cast<uint8_t>(bits >> 2));
    return out;
}

Result<std::vector<Partition>> readPlist(const std::string& xml) {
    std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    if (!doc) {
        const xmlError* error = xmlGetLastError();
        return damaged("its property list is not well-formed XML" +
                       (error ? " (line " + std::to_string(error->line) + ")" : std::string()));
    }
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    const xmlNode* blkx = named(root, "plist") ? dictValue(dictValue(nextElement(root->children), "resource-fork"), "blkx") : nullptr;
    if (!named(blkx, "array")) return damaged("its property list has no blkx table");
    std::vector<Partition> partitions;
    for (const xmlNode* entry = nextElement(blkx->children); entry; entry = nextElement(entry->next)) {
        const xmlNode* data = dictValue(entry, "Data");
        std::optional<std::vector<uint8_t>> table = data ? base64Decode(textOf(data)) : std::nullopt;
        if (!table) return damaged("blkx entry " + std::to_string(partitions.size()) + " has no readable Data");
        const xmlNode* name = dictValue(entry, "Name");
        if (!name) name = dictValue(entry, "CFName");
        partitions.push_back({name ? textOf(name) : std::string(), std::move(*table)});
    }
    if (partitions.empty()) return damaged("its blkx table is empty");
    return partitions;
}

// --- the chunks ---------------------------------------------------------------------------

// Chunks of one partition, checked against the data fork and each other.
Status readChunks(const Partition& partition, size_t index, uint64_t forkStart, uint64_t forkLength, std::vector<Chunk>& chunks) {
    const std::string where = "blkx table " + std::to_string(index) + (partition.name.empty() ? "" : " (" + partition.name + ")");
    const std::vector<uint8_t>& t = partition.table;
    if (t.size() < mish::kHeaderSize || std::memcmp(t.data(), mish::kSignature, 4) != 0) return damaged(where + " is not a mish table");
    const uint64_t sectors = be64(t.data() + mish::kSectorCount);
    const uint32_t count = be32(t.data() + mish::kChunkCount);
    if (count > (t.size() - mish::kHeaderSize) / mish::kChunkSize)
        return damaged(where + " lists " + std::to_string(count) + " chunks but holds only " +
                       std::to_string((t.size() - mish::kHeaderSize) / mish::kChunkSize));
    uint64_t next = 0;
    for (uint32_t n = 0; n < count; ++n) {
        const uint8_t* e = t.data() + mish::kHeaderSize + size_t{n} * mish::kChunkSize;
        const Chunk chunk{be32(e + mish::kType), be64(e + mish::kSector), be64(e + mish::kSectors), be64(e + mish::kOffset), be64(e + mish::kLength)};
        const std::string which = where + " chunk " + std::to_string(n);
        if (chunk.type == kTerminator) break;
        if (chunk.type == kComment) continue;
        if (chunk.type == kLzfse || chunk.type == kLzma)
            return Fault{"The UDIF image uses " + std::string(chunk.type == kLzfse ? "LZFSE" : "LZMA") +
                         " compression, which Quarry does not support"};
        if (chunk.type != kZeroFill && chunk.type != kRaw && chunk.type != kIgnored && chunk.type != kAdc && chunk.type != kZlib &&
            chunk.type != kBzip2)
            return Fault{"The UDIF image uses chunks of type " + hex32(chunk.type) + ", which Quarry does not know"};
        if (chunk.sector != next)
            return damaged(which + " starts at sector " + std::to_string(chunk.sector) + " where " + std::to_string(next) + " was expected");
        if (chunk.sectors > sectors - std::min(sectors, next) || (chunk.sectors == 0 && chunk.type != kZeroFill && chunk.type != kIgnored))
            return damaged(which + " runs past the " + std::to_string(sectors) + " sectors of its partition");
        next += chunk.sectors;
        if (chunk.type == kZeroFill || chunk.type == kIgnored) {
            chunks.push_back(chunk);
            continue;
        }
        if (chunk.length > forkLength || chunk.offset > forkLength - chunk.length)
            return damaged(which + " lies at bytes " + std::to_string(chunk.offset) + "-" + std::to_string(chunk.offset + chunk.length) +
                           ", outside the data fork of " + std::to_string(forkLength) + " bytes");
        if (chunk.type == kRaw && chunk.length != chunk.sectors * kSectorSize)
            return damaged(which + " holds " + std::to_string(chunk.length) + " raw bytes for " + std::to_string(chunk.sectors) + " sectors");
        if (chunk.type != kRaw && (chunk.sectors > kMaxChunkSectors || chunk.length > kMaxChunkSectors * kSectorSize * 2))
            return damaged(which + " is a compressed chunk of " + std::to_string(chunk.sectors) + " sectors, more than Quarry decompresses at once");
        Chunk placed = chunk;
        placed.offset += forkStart;
        chunks.push_back(placed);
    }
    if (next != sectors) return damaged(where + " covers " + std::to_string(next) + " of its " + std::to_string(sectors) + " sectors");
    return Status::ok();
}

class UdifSource : public ImageSource {
public:
    UdifSource(std::shared_ptr<FileHandle> file, std::vector<Chunk> chunks, uint64_t sectors)
        : file_(std::move(file)), chunks_(std::move(chunks)), sectors_(sectors) {}
    uint64_t size() const override { return sectors_ * kSectorSize; }

protected:
    Status readInside(uint64_t offset, uint64_t length, uint8_t* out) override {
        while (length > 0) {
            const uint64_t sector = offset / kSectorSize;
            // The chunk holding this sector: the last one starting at or before it.
            auto it = std::upper_bound(chunks_.begin(), chunks_.end(), sector, [](uint64_t s, const Chunk& c) { return s < c.sector; });
            if (it == chunks_.begin()) return Fault{"no chunk holds sector " + std::to_string(sector)};
            const Chunk& chunk = *--it;
            const uint64_t within = offset - chunk.sector * kSectorSize;
            const uint64_t chunkBytes = chunk.sectors * kSectorSize;
            if (within >= chunkBytes) return Fault{"no chunk holds sector " + std::to_string(sector)};
            const uint64_t piece = std::min(length, chunkBytes - within);
            if (chunk.type == kZeroFill || chunk.type == kIgnored) {
                std::memset(out, 0, piece);
            } else if (chunk.type == kRaw) {
                if (Status read = file_->readExactly(chunk.offset + within, piece, out); !read) return damaged(read.fault());
            } else {
                Result<const std::vector<uint8_t>*> bytes = decoded(static_cast<size_t>(it - chunks_.begin()));
                if (!bytes) return Fault{bytes.fault()};
                std::memcpy(out, (*bytes)->data() + within, piece);
            }
            out += piece;
            offset += piece;
            length -= piece;
        }
        return Status::ok();
    }

private:
    struct Cached {
        size_t chunk;
        std::vector<uint8_t> bytes;
    };

    Result<const std::vector<uint8_t>*> decoded(size_t index) {
        for (auto it = cache_.begin(); it != cache_.end(); ++it) {
            if (it->chunk != index) continue;
            cache_.splice(cache_.begin(), cache_, it);  // most recently used first
            return &cache_.front().bytes;
        }
        const Chunk& chunk = chunks_[index];
        std::vector<uint8_t> packed(chunk.length);
        if (Status read = file_->readExactly(chunk.offset, chunk.length, packed.data()); !read) return damaged(read.fault());
        std::vector<uint8_t> bytes(chunk.sectors * kSectorSize);
        if (Status unpacked = decompress(chunk.type, packed, bytes); !unpacked)
            return damaged("the chunk at sector " + std::to_string(chunk.sector) + ": " + unpacked.fault());
        if (cache_.size() >= kCachedChunks) cache_.pop_back();
        cache_.push_front({index, std::move(bytes)});
        return &cache_.front().bytes;
    }

    static Status decompress(uint32_t type, const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
        if (type == kAdc) return adcDecompress(in.data(), in.size(), out.data(), out.size());
        if (type == kZlib) {
            uLongf length = out.size();
            const int result = ::uncompress(out.data(), &length, in.data(), in.size());
            if (result != Z_OK) return Fault{std::string("zlib: ") + zError(result)};
            if (length != out.size()) return Fault{"zlib data ends after " + std::to_string(length) + " of " + std::to_string(out.size()) + " bytes"};
            return Status::ok();
        }
        unsigned int length = static_cast<unsigned int>(out.size());
        const int result = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &length,
                                                       const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                                       static_cast<unsigned int>(in.size()), 0, 0);
        if (result != BZ_OK) return Fault{"bzip2 error " + std::to_string(result)};
        if (length != out.size()) return Fault{"bzip2 data ends after " + std::to_string(length) + " of " + std::to_string(out.size()) + " bytes"};
        return Status::ok();
    }

    std::shared_ptr<FileHandle> file_;
    std::vector<Chunk> chunks_;
    uint64_t sectors_;
    std::list<Cached> cache_;
};

}  // namespace

KolyPlace findKoly(const uint8_t* tail, size_t length) {
    for (size_t at = 0; at + 12 <= length; ++at) {
        if (std::memcmp(tail + at, koly::kSignature, 4) != 0) continue;
        if (be32(tail + at + koly::kVersion) != koly::kVersionValue || be32(tail + at + koly::kHeaderSize) != kKolySize) continue;
        return at == 0 && length == kKolySize ? KolyPlace::AtEnd : KolyPlace::CutShort;
    }
    return KolyPlace::None;
}

Result<OpenedImage> openUdif(std::shared_ptr<FileHandle> file, uint64_t fileSize) {
    uint8_t trailer[kKolySize];
    if (Status read = file->readExactly(fileSize - kKolySize, kKolySize, trailer); !read) return damaged(read.fault());
    const uint64_t body = fileSize - kKolySize;
    const uint64_t forkStart = be64(trailer + koly::kDataForkOffset);
    const uint64_t forkLength = be64(trailer + koly::kDataForkLength);
    if (forkStart > body || forkLength > body - forkStart)
        return damaged("the koly trailer puts the data fork at bytes " + std::to_string(forkStart) + "-" + std::to_string(forkStart + forkLength) +
                       ", past the end of the file");
    const uint64_t xmlStart = be64(trailer + koly::kXmlOffset);
    const uint64_t xmlLength = be64(trailer + koly::kXmlLength);
    if (xmlLength == 0 || xmlLength > kMaxPlist || xmlStart > body || xmlLength > body - xmlStart)
        return damaged("the koly trailer puts the property list at bytes " + std::to_string(xmlStart) + "-" + std::to_string(xmlStart + xmlLength) +
                       ", outside the file");
    std::string xml(xmlLength, '\0');
    if (Status read = file->readExactly(xmlStart, xmlLength, reinterpret_cast<uint8_t*>(xml.data())); !read) return damaged(read.fault());
    Result<std::vector<Partition>> partitions = readPlist(xml);
    if (!partitions) return Fault{partitions.fault()};

    // An image of a whole disk lists its partitions apart (driver map, partition map, the
    // volumes, free space). Its one HFS or HFS+ volume is what the person wants; with none, or
    // with several (which the partition map then names, and of which --partition chooses), the
    // partitions are served one after another as the whole disk they came from.
    std::vector<size_t> chosen;
    for (size_t i = 0; i < partitions->size(); ++i)
        if ((*partitions)[i].name.find("Apple_HFS") != std::string::npos) chosen.push_back(i);
    if (chosen.size() != 1) {
        chosen.clear();
        for (size_t i = 0; i < partitions->size(); ++i) chosen.push_back(i);
    }

    std::vector<Chunk> chunks;
    uint64_t sectors = 0;
    for (const size_t index : chosen) {
        std::vector<Chunk> own;
        if (Status read = readChunks((*partitions)[index], index, forkStart, forkLength, own); !read) return Fault{read.fault()};
        for (Chunk& chunk : own) {
            chunk.sector += sectors;
            chunks.push_back(chunk);
        }
        sectors += be64((*partitions)[index].table.data() + mish::kSectorCount);
    }
    // Empty zero-fill entries hold no sector; dropping them keeps one chunk per sector.
    chunks.erase(std::remove_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.sectors == 0; }), chunks.end());
    OpenedImage image;
    image.format = "UDIF";
    image.source = std::make_unique<UdifSource>(std::move(file), std::move(chunks), sectors);
    return image;
}

}  // namespace quarry
