// Compressed HFS+ files: attributes and resource forks laid out as the published layout has them,
// their chunks made by zlib's own compress2 (an encoder independent of Quarry) or the tests' LZVN
// encoder, read back whole and through windows; and damaged ones, each refused with its fault.

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "hfsplus/decmpfs.h"
#include "support/lzvn_encoder.h"

namespace quarry {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kChunk = 65536;

void putLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putBe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void appendLe32(Bytes& b, uint32_t v) {
    b.resize(b.size() + 4);
    putLe32(b, b.size() - 4, v);
}

Bytes attribute(uint32_t type, uint64_t size, const Bytes& data = {}) {
    Bytes a(16);
    a[0] = 'f', a[1] = 'p', a[2] = 'm', a[3] = 'c';
    putLe32(a, 4, type);
    putLe32(a, 8, static_cast<uint32_t>(size));
    putLe32(a, 12, static_cast<uint32_t>(size >> 32));
    a.insert(a.end(), data.begin(), data.end());
    return a;
}

Bytes zlib(const Bytes& data) {
    uLongf length = compressBound(data.size());
    Bytes out(length);
    EXPECT_EQ(compress2(out.data(), &length, data.data(), data.size(), 9), Z_OK);
    out.resize(length);
    return out;
}
Bytes marked(uint8_t mark, const Bytes& data) {
    Bytes out{mark};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}
// Apple's writers store a chunk that does not shrink, behind the method's stored mark.
Bytes zlibChunk(const Bytes& data) {
    Bytes z = zlib(data);
    return z.size() < data.size() ? z : marked(0xFF, data);
}
Bytes lzvnChunk(const Bytes& data) {
    Bytes z = test::encodeLzvn(data);
    return z.size() < data.size() ? z : marked(0x06, data);
}

std::vector<Bytes> chunksOf(const Bytes& data, const std::function<Bytes(const Bytes&)>& pack) {
    std::vector<Bytes> chunks;
    for (size_t at = 0; at < data.size(); at += kChunk)
        chunks.push_back(pack(Bytes(data.begin() + at, data.begin() + std::min(data.size(), at + kChunk))));
    return chunks;
}

// Type 4: the resource-fork header, 0x100 bytes of header area, the one resource (its length,
// the chunk count and the table, the chunks), then a resource map.
Bytes zlibFork(const std::vector<Bytes>& chunks) {
    Bytes resource;
    appendLe32(resource, static_cast<uint32_t>(chunks.size()));
    uint32_t offset = static_cast<uint32_t>(4 + 8 * chunks.size());
    for (const Bytes& c : chunks) {
        appendLe32(resource, offset);
        appendLe32(resource, static_cast<uint32_t>(c.size()));
        offset += static_cast<uint32_t>(c.size());
    }
    for (const Bytes& c : chunks) resource.insert(resource.end(), c.begin(), c.end());
    Bytes fork(0x100 + 4);
    const uint32_t dataLength = static_cast<uint32_t>(4 + resource.size());
    putBe32(fork, 0, 0x100);
    putBe32(fork, 4, 0x100 + dataLength);
    putBe32(fork, 8, dataLength);
    putBe32(fork, 12, 50);
    putBe32(fork, 0x100, static_cast<uint32_t>(resource.size()));
    fork.insert(fork.end(), resource.begin(), resource.end());
    Bytes map(50);
    map[30] = 'c', map[31] = 'm', map[32] = 'p', map[33] = 'f';
    fork.insert(fork.end(), map.begin(), map.end());
    return fork;
}

// Types 8 and 10: the table of chunk ends, led by its own length.
Bytes offsetFork(const std::vector<Bytes>& chunks) {
    Bytes fork;
    uint32_t end = static_cast<uint32_t>(4 * (chunks.size() + 1));
    appendLe32(fork, end);
    for (const Bytes& c : chunks) appendLe32(fork, end += static_cast<uint32_t>(c.size()));
    for (const Bytes& c : chunks) fork.insert(fork.end(), c.begin(), c.end());
    return fork;
}

// The fork as the HFS+ reader serves it; every read is noted.
struct Fork {
    Bytes bytes;
    std::vector<std::pair<uint64_t, size_t>> reads;
    ResourceForkSource source() {
        return {bytes.size(), [this](uint64_t offset, std::span<uint8_t> out) -> Status {
                    reads.emplace_back(offset, out.size());
                    if (offset > bytes.size() || out.size() > bytes.size() - offset) return Fault{"read past the fork"};
                    std::copy_n(bytes.begin() + static_cast<long>(offset), out.size(), out.begin());
                    return Status::ok();
                }};
    }
};

Bytes sample(size_t length, unsigned start) {
    Bytes b(length);
    std::mt19937 random(start);
    const std::string words = "the quick brown fox jumps over the lazy dog; ";
    for (size_t i = 0; i < length; ++i) {
        // Compressible text with stretches of random bytes that zlib and LZVN keep stored.
        const bool noise = (i / kChunk) % 3 == 1 && (i % kChunk) < 40000;
        b[i] = noise ? static_cast<uint8_t>(random()) : static_cast<uint8_t>(words[(i + i / 777) % words.size()]);
    }
    return b;
}

Bytes readAll(CompressedFile& file) {
    Bytes out(file.size());
    const Status s = file.read(0, out);
    EXPECT_TRUE(s) << s.fault();
    return out;
}

// Inline zlib, LZVN and stored data of the builder's compressed.hfsp are read through the mount
// as 7-Zip reads them (tests/hfsplus/mounted_test.cpp); here LZVN's own stored mark, and zeros
// that compress a thousandfold: 1 MB from about a kilobyte of attribute.
TEST(Decmpfs, InlineDataStoredOrFarSmallerThanTheFile) {
    const Bytes data = sample(3000, 1), zeros(1 << 20, 0);
    for (const auto& [plain, attr] : {std::pair{data, attribute(7, data.size(), marked(0x06, data))},
                                      std::pair{zeros, attribute(3, zeros.size(), zlib(zeros))}}) {
        auto file = CompressedFile::open(attr, {});
        ASSERT_TRUE(file) << file.fault();
        EXPECT_EQ(file->chunkCount(), 1u);
        EXPECT_EQ(readAll(*file), plain);
        Bytes window(100);
        ASSERT_TRUE(file->read(plain.size() - 100, window));
        EXPECT_TRUE(std::equal(window.begin(), window.end(), plain.end() - 100));
    }
}

TEST(Decmpfs, ResourceForkChunksDecodeWholeAndThroughWindows) {
    struct Case {
        const char* what;
        uint32_t type;
        size_t length;
        std::function<Bytes(const std::vector<Bytes>&)> layout;
        std::function<Bytes(const Bytes&)> pack;
    };
    const auto raw = [](const Bytes& b) { return b; };
    const Case cases[] = {
        {"zlib, 4 chunks, one stored", 4, 3 * kChunk + 1234, zlibFork, zlibChunk},
        {"zlib, exactly 2 chunks", 4, 2 * kChunk, zlibFork, zlibChunk},
        {"zlib, one byte", 4, 1, zlibFork, zlibChunk},
        {"zlib, empty", 4, 0, zlibFork, zlibChunk},
        {"LZVN, 4 chunks, one stored", 8, 3 * kChunk + 77, offsetFork, lzvnChunk},
        {"LZVN, chunk boundary - 1", 8, kChunk - 1, offsetFork, lzvnChunk},
        {"LZVN, empty", 8, 0, offsetFork, lzvnChunk},
        {"stored chunks", 10, 2 * kChunk + 5, offsetFork, raw},
        {"stored chunks behind 0xCC", 10, kChunk + 5, offsetFork, [](const Bytes& b) { return marked(0xCC, b); }},
    };
    for (const Case& c : cases) {
        const Bytes data = sample(c.length, static_cast<unsigned>(c.length));
        Fork fork{c.layout(chunksOf(data, c.pack)), {}};
        auto file = CompressedFile::open(attribute(c.type, data.size()), fork.source());
        ASSERT_TRUE(file) << c.what << ": " << file.fault();
        EXPECT_EQ(file->chunkCount(), (c.length + kChunk - 1) / kChunk) << c.what;
        EXPECT_EQ(readAll(*file), data) << c.what;
        // Windows across chunk ends, read out of order.
        for (uint64_t at : {uint64_t{kChunk - 10}, uint64_t{0}, uint64_t{2 * kChunk - 1}, uint64_t{kChunk + 3}}) {
            if (at >= c.length) continue;
            Bytes window(std::min<uint64_t>(300, c.length - at));
            const Status s = file->read(at, window);
            ASSERT_TRUE(s) << c.what << " at " << at << ": " << s.fault();
            EXPECT_TRUE(std::equal(window.begin(), window.end(), data.begin() + static_cast<long>(at))) << c.what << " at " << at;
        }
    }
}

// A window reads only the chunk that holds it, and reading on inside that chunk reads nothing more.
TEST(Decmpfs, AWindowDecodesOnlyItsChunk) {
    const Bytes data = sample(5 * kChunk, 9);
    const std::vector<Bytes> chunks = chunksOf(data, lzvnChunk);
    Fork fork{offsetFork(chunks), {}};
    auto file = CompressedFile::open(attribute(8, data.size()), fork.source());
    ASSERT_TRUE(file) << file.fault();
    fork.reads.clear();
    Bytes window(64);
    ASSERT_TRUE(file->read(3 * kChunk + 100, window));
    ASSERT_TRUE(file->read(3 * kChunk + 5000, window));
    ASSERT_EQ(fork.reads.size(), 1u);
    uint64_t chunk3 = 4 * 6;
    for (int i = 0; i < 3; ++i) chunk3 += chunks[i].size();
    EXPECT_EQ(fork.reads[0], (std::pair<uint64_t, size_t>{chunk3, chunks[3].size()}));
    EXPECT_TRUE(std::equal(window.begin(), window.end(), data.begin() + 3 * kChunk + 5000));
}

TEST(Decmpfs, DamageAndUnreadTypesAreFaults) {
    const Bytes data = sample(2 * kChunk + 10, 3);
    const std::vector<Bytes> zchunks = chunksOf(data, zlibChunk);
    const std::vector<Bytes> vchunks = chunksOf(data, lzvnChunk);
    const Bytes good4 = zlibFork(zchunks);
    const Bytes good8 = offsetFork(vchunks);
    const auto with = [](Bytes b, const std::function<void(Bytes&)>& change) {
        change(b);
        return b;
    };
    struct Case {
        const char* what;
        Bytes attr;
        Bytes fork;
        const char* fault;
        bool atOpen;  // or when the file is read
    };
    const Bytes text = sample(1000, 4);
    const Case cases[] = {
        {"short attribute", Bytes(12, 0), {}, "12 bytes, shorter than its 16-byte header", true},
        {"wrong magic", with(attribute(3, 0), [](Bytes& b) { b[0] = 'x'; }), {}, "is not 'fpmc'", true},
        {"LZFSE inline", attribute(11, 10, Bytes(10)), {}, "uses LZFSE compression, which Quarry does not read", true},
        {"LZFSE fork", attribute(12, 10), good8, "uses LZFSE compression, which Quarry does not read", true},
        {"unknown type", attribute(5, 10), {}, "uses compression type 5, which Quarry does not read", true},
        {"inline size beyond what the data can hold", attribute(3, uint64_t{1} << 40, zlib(text)), {},
         "declares 1099511627776 bytes, more than its", true},
        {"inline size larger than the data decodes", attribute(3, 1001, zlib(text)), {}, "decodes to 1000 bytes where 1001 were expected", true},
        {"inline size smaller than the data decodes", attribute(3, 999, zlib(text)), {}, "decodes to more than the 999", true},
        {"inline zlib damaged", with(attribute(3, 1000, zlib(text)), [](Bytes& b) { b[20] ^= 0xFF; }), {}, "zlib data", true},
        {"inline LZVN damaged", attribute(7, 1000, Bytes{0x1E}), {}, "0x1E is not a defined opcode", true},
        {"inline stored of the wrong size", attribute(9, 5, marked(0xCC, Bytes(6))), {}, "stored data holds", true},
        {"inline stored without its mark", attribute(9, 5, Bytes(5)), {}, "does not begin with its 0xCC mark", true},
        {"inline without data", attribute(3, 5), {}, "no data", true},
        {"fork shorter than its header", attribute(4, data.size()), Bytes(10), "shorter than its 16-byte header", true},
        {"data offset past the fork", attribute(4, data.size()), with(good4, [](Bytes& b) { putBe32(b, 0, 0x7FFFFFF0); }),
         "does not lie inside the fork", true},
        {"chunk count past the resource", attribute(4, data.size()),
         with(good4, [](Bytes& b) { putLe32(b, 0x104, 0x10000000); }), "a table of 268435456 chunks does not fit", true},
        {"chunk count not the file's", attribute(4, data.size() + kChunk), good4,
         "3 chunks cannot hold the file's 196618 bytes", true},
        {"chunk past the resource", attribute(4, data.size()),
         with(good4, [](Bytes& b) { putLe32(b, 0x108 + 8, 0x00FFFFFF); }), "chunk 1 (", true},
        {"offset table longer than the fork", attribute(8, data.size()),
         with(good8, [](Bytes& b) { putLe32(b, 0, 0xFFFFFFF0); }), "does not fit the fork's", true},
        {"offsets going backwards", attribute(8, data.size()), with(good8, [](Bytes& b) { putLe32(b, 8, 20); }),
         "chunk 1 (bytes", true},
        {"last chunk past the fork", attribute(8, data.size()),
         with(good8, [](Bytes& b) { b.resize(b.size() - 1); }), "chunk 2 (bytes", true},
        {"zlib chunk damaged", attribute(4, data.size()),
         with(good4, [&](Bytes& b) { b[0x104 + 4 + 3 * 8 + 6] ^= 0x55; }), "chunk 0 (", false},
        {"LZVN chunk damaged", attribute(8, data.size()), with(good8, [&](Bytes& b) { b[16] = 0x70; }),
         "chunk 0 (", false},
        {"stored chunk of the wrong size", attribute(10, 2 * kChunk + 10),
         offsetFork({Bytes(kChunk), Bytes(kChunk - 1), Bytes(10)}), "stored data holds 65535 bytes where 65536", false},
    };
    for (const Case& c : cases) {
        Fork fork{c.fork, {}};
        auto file = CompressedFile::open(c.attr, fork.source());
        std::string fault;
        if (c.atOpen) {
            ASSERT_FALSE(file) << c.what;
            fault = file.fault();
        } else {
            ASSERT_TRUE(file) << c.what << ": " << file.fault();
            Bytes all(file->size());
            const Status s = file->read(0, all);
            ASSERT_FALSE(s) << c.what;
            fault = s.fault();
        }
        EXPECT_NE(fault.find(c.fault), std::string::npos) << c.what << ": " << fault;
    }

    // A read past the end, and a fork the medium cannot give, are faults too.
    Fork fork{good8, {}};
    auto file = CompressedFile::open(attribute(8, data.size()), fork.source());
    ASSERT_TRUE(file) << file.fault();
    Bytes two(2);
    EXPECT_FALSE(file->read(data.size() - 1, two));
    ResourceForkSource broken{good8.size(), [](uint64_t, std::span<uint8_t>) -> Status { return Fault{"sector 99 unreadable"}; }};
    auto unreadable = CompressedFile::open(attribute(8, data.size()), broken);
    ASSERT_FALSE(unreadable);
    EXPECT_NE(unreadable.fault().find("sector 99 unreadable"), std::string::npos);
}

}  // namespace
}  // namespace quarry
