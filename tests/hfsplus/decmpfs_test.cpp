// Compressed HFS+ files: the attributes and resource forks of the builder's compressed.hfsp (whose
// files 7-Zip and Sleuth Kit decode as its manifest says, fixtures/hfsplus_check.sh, and quarry-cli
// copies so, tests/hfsplus/mounted_test.cpp) decoded through windows out of order, as they decode
// whole; and damaged copies of them, each refused with its fault.

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hfsplus/decmpfs.h"
#include "support/fixture_path.h"
#include "support/hfsplus_image.h"
#include "support/memory_sink.h"

namespace quarry {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kChunk = 65536;

void putLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes attribute(uint32_t type, uint64_t size, const Bytes& data = {}) {
    Bytes a{'f', 'p', 'm', 'c', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
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
// Types 8 and 10: the table of chunk ends, led by its own length.
Bytes offsetFork(const std::vector<Bytes>& chunks) {
    Bytes fork(4 * (chunks.size() + 1));
    uint32_t end = static_cast<uint32_t>(fork.size());
    putLe32(fork, 0, end);
    for (size_t i = 0; i < chunks.size(); ++i) {
        putLe32(fork, 4 * (i + 1), end += static_cast<uint32_t>(chunks[i].size()));
        fork.insert(fork.end(), chunks[i].begin(), chunks[i].end());
    }
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

// A compressed file of compressed.hfsp as the HFS+ reader hands it over: its com.apple.decmpfs
// attribute and its resource fork.
struct Compressed {
    Bytes attr, fork;
};
const std::map<std::string, Compressed>& compressedFiles() {
    static const std::map<std::string, Compressed> files = [] {
        const std::string path = test::fixturePath("hfsplus/compressed.hfsp");
        std::map<std::string, Compressed> all;
        test::HfsPlusImage image(path);
        EXPECT_TRUE(image.volume) << image.fault;
        if (!image.volume) return all;
        std::ifstream manifest(path + ".manifest");
        for (std::string line; std::getline(manifest, line);) {
            std::istringstream in(line);
            std::string kind, size, digest, rsrc, note, name;
            for (std::string* field : {&kind, &size, &digest, &rsrc, &note, &name}) std::getline(in, *field, '\t');
            if (!note.starts_with("decmpfs type") || note == "decmpfs type 11") continue;
            Result<std::optional<hfsplus::CatalogRecord>> r = image->lookup(hfsplus::cnid::kRootFolder, name);
            EXPECT_TRUE(r && r->has_value()) << name;
            if (!r || !r->has_value()) continue;
            Result<std::optional<hfsplus::Attribute>> a = image->attribute((*r)->id, u"com.apple.decmpfs");
            EXPECT_TRUE(a && a->has_value()) << name;
            if (!a || !a->has_value()) continue;
            Result<Bytes> attr = image->attributeBytes((*r)->id, **a, 4096);
            test::MemorySink fork;
            EXPECT_TRUE(attr && image->fork(**r, hfsplus::ForkKind::Resource).copyTo(fork)) << name;
            all[name] = {attr ? *attr : Bytes{}, fork.bytes};
        }
        return all;
    }();
    return files;
}

TEST(Decmpfs, EveryFormDecodesThroughWindowsAsWhole) {
    ASSERT_EQ(compressedFiles().size(), 17u);
    for (const auto& [name, c] : compressedFiles()) {
        SCOPED_TRACE(name);
        Fork fork{c.fork, {}};
        auto file = CompressedFile::open(c.attr, fork.source());
        ASSERT_TRUE(file) << file.fault();
        const uint64_t size = file->size();
        EXPECT_EQ(file->chunkCount(), c.fork.empty() ? 1 : (size + kChunk - 1) / kChunk);
        Bytes all(size);
        ASSERT_TRUE(file->read(0, all));
        // Windows across chunk ends, read out of order.
        for (uint64_t at : {uint64_t{kChunk - 10}, uint64_t{0}, uint64_t{2 * kChunk - 1}, uint64_t{kChunk + 3}, size - std::min<uint64_t>(size, 100)}) {
            if (at >= size) continue;
            Bytes window(std::min<uint64_t>(300, size - at));
            const Status s = file->read(at, window);
            ASSERT_TRUE(s) << at << ": " << s.fault();
            EXPECT_TRUE(std::equal(window.begin(), window.end(), all.begin() + static_cast<long>(at))) << at;
        }
        // A window reads only the chunk that holds it, and reading on inside that chunk reads
        // nothing more.
        if (size <= 2 * kChunk + 5064 || c.fork.empty()) continue;
        Bytes window(64);
        ASSERT_TRUE(file->read(0, window));
        fork.reads.clear();
        ASSERT_TRUE(file->read(2 * kChunk + 100, window));
        ASSERT_TRUE(file->read(2 * kChunk + 5000, window));
        EXPECT_TRUE(std::equal(window.begin(), window.end(), all.begin() + 2 * kChunk + 5000));
        ASSERT_EQ(fork.reads.size(), 1u);
        EXPECT_LE(fork.reads[0].second, kChunk + 1);
    }
}

TEST(Decmpfs, DamageAndUnreadTypesAreFaults) {
    // zlib-rsrc.txt: 200000 bytes in 4 chunks behind a resource map (resource data from 0x100,
    // chunk count at 0x104); lzvn-rsrc.txt: 150000 bytes in 3 chunks behind an offset table.
    const Compressed& zlibFile = compressedFiles().at("zlib-rsrc.txt");
    const Compressed& lzvnFile = compressedFiles().at("lzvn-rsrc.txt");
    const Bytes& good4 = zlibFile.fork;
    const Bytes& good8 = lzvnFile.fork;
    const auto with = [](Bytes b, const std::function<void(Bytes&)>& change) {
        change(b);
        return b;
    };
    const auto putBe32 = [](Bytes& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    struct Case {
        const char* what;
        Bytes attr;
        Bytes fork;
        const char* fault;
        bool atOpen;  // or when the file is read
    };
    Bytes text(1000);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>("fork and record "[i % 16]);
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
        {"fork shorter than its header", zlibFile.attr, Bytes(10), "shorter than its 16-byte header", true},
        {"data offset past the fork", zlibFile.attr, with(good4, [&](Bytes& b) { putBe32(b, 0, 0x7FFFFFF0); }),
         "does not lie inside the fork", true},
        {"chunk count past the resource", zlibFile.attr, with(good4, [](Bytes& b) { putLe32(b, 0x104, 0x10000000); }),
         "a table of 268435456 chunks does not fit", true},
        {"chunk count not the file's", attribute(4, 200000 + kChunk), good4, "4 chunks cannot hold the file's 265536 bytes", true},
        {"chunk past the resource", zlibFile.attr, with(good4, [](Bytes& b) { putLe32(b, 0x108 + 8, 0x00FFFFFF); }), "chunk 1 (",
         true},
        {"offset table longer than the fork", lzvnFile.attr, with(good8, [](Bytes& b) { putLe32(b, 0, 0xFFFFFFF0); }),
         "does not fit the fork's", true},
        {"offsets going backwards", lzvnFile.attr, with(good8, [](Bytes& b) { putLe32(b, 8, 20); }), "chunk 1 (bytes", true},
        {"last chunk past the fork", lzvnFile.attr, with(good8, [](Bytes& b) { b.resize(b.size() - 1); }), "chunk 2 (bytes", true},
        {"zlib chunk damaged", zlibFile.attr, with(good4, [](Bytes& b) { b[0x104 + 4 + 4 * 8 + 6] ^= 0x55; }), "chunk 0 (", false},
        {"LZVN chunk damaged", lzvnFile.attr, with(good8, [](Bytes& b) { b[16] = 0x70; }), "chunk 0 (", false},
        {"stored chunk of the wrong size", attribute(10, 2 * kChunk + 10), offsetFork({Bytes(kChunk), Bytes(kChunk - 1), Bytes(10)}),
         "stored data holds 65535 bytes where 65536", false},
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

    // Chunks of type 10 stored whole without the mark are read as they are. A read past the end,
    // and a fork the medium cannot give, are faults.
    Bytes plain(kChunk + 5);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7);
    Fork raw{offsetFork({Bytes(plain.begin(), plain.begin() + kChunk), Bytes(plain.begin() + kChunk, plain.end())}), {}};
    auto file = CompressedFile::open(attribute(10, plain.size()), raw.source());
    ASSERT_TRUE(file) << file.fault();
    Bytes all(plain.size()), two(2);
    ASSERT_TRUE(file->read(0, all));
    EXPECT_EQ(all, plain);
    EXPECT_FALSE(file->read(plain.size() - 1, two));
    ResourceForkSource broken{good8.size(), [](uint64_t, std::span<uint8_t>) -> Status { return Fault{"sector 99 unreadable"}; }};
    auto unreadable = CompressedFile::open(lzvnFile.attr, broken);
    ASSERT_FALSE(unreadable);
    EXPECT_NE(unreadable.fault().find("sector 99 unreadable"), std::string::npos);
}

}  // namespace
}  // namespace quarry
