// DART images written here around HFS floppies made by hfsutils, with this file's own packers:
// DART's run-length code of words and an LZSS + adaptive Huffman (LZHUF) encoder written apart
// from the decoder. The adapter must serve each floppy byte for byte, quarry-cli must copy from
// the image what hcopy copies from the floppy, and damage must be named where it lies.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "device/containers/dart.h"
#include "device/containers/image_source.h"
#include "device/device_test_support.h"
#include "device/image_adapter.h"
#include "device/scsi_cdb.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

constexpr size_t kChunkData = 20480, kChunkBytes = 20960;
enum Packing : uint8_t { kFast = 0, kBest = 1, kNone = 2 };

std::string be16Of(unsigned v) { return {static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)}; }

// DART's "fast" code: a negative count repeats the word after it, a positive one counts the
// words that follow as they are.
std::string packFast(const std::string& chunk) {
    std::string out, literal;
    const auto flush = [&] {
        if (!literal.empty()) out += be16Of(static_cast<unsigned>(literal.size() / 2)) + literal;
        literal.clear();
    };
    for (size_t i = 0, run; i < chunk.size(); i += run) {
        for (run = 2; i + run < chunk.size() && chunk.compare(i + run, 2, chunk, i, 2) == 0;) run += 2;
        if (run >= 6) flush(), out += be16Of(static_cast<unsigned>(0x10000 - run / 2)) + chunk.substr(i, 2);
        else literal += chunk.substr(i, run);
    }
    flush();
    return out;
}

// LZHUF as DART uses it: a window of 4096 bytes that starts as zeros with 60 bytes ahead of its
// end, matches of 3 to 60 bytes; literals and lengths in one adaptive Huffman code, a match's
// distance less one as six upper bits in a fixed code and six lower bits plain.
class LzhEncoder {
public:
    // Every leaf starts with weight 1, paired in order under the inner nodes up to the root.
    LzhEncoder() {
        for (int i = 0; i < kSymbols; ++i) weight_[i] = 1, down_[i] = i + kNodes, up_[i + kNodes] = i;
        for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) weight_[j] = weight_[i] + weight_[i + 1], down_[j] = i, up_[i] = up_[i + 1] = j;
        weight_[kNodes] = 0xFFFF;
        up_[kRoot] = 0;
    }
    std::string pack(const std::string& chunk) {
        const std::string text = std::string(kWindow - kAhead, '\0') + chunk;
        std::vector<int> head(1 << 16, -1), previous(text.size(), -1);
        const auto key = [&](size_t p) { return (uint8_t(text[p]) << 8 ^ uint8_t(text[p + 1]) << 4 ^ uint8_t(text[p + 2])) & 0xFFFF; };
        const auto insert = [&](size_t p) {
            if (p + 2 >= text.size()) return;
            previous[p] = head[key(p)];
            head[key(p)] = static_cast<int>(p);
        };
        for (size_t p = 0; p < kWindow - kAhead; ++p) insert(p);
        for (size_t p = kWindow - kAhead; p < text.size();) {
            size_t best = 0, distance = 0;
            const size_t most = std::min(kAhead, text.size() - p);
            int tries = 256;
            for (int q = p + 2 < text.size() ? head[key(p)] : -1; q >= 0 && tries-- > 0; q = previous[static_cast<size_t>(q)]) {
                if (p - static_cast<size_t>(q) > kWindow - kAhead) break;
                size_t n = 0;
                while (n < most && text[static_cast<size_t>(q) + n] == text[p + n]) ++n;
                if (n > best) best = n, distance = p - static_cast<size_t>(q);
            }
            if (best < 3) {
                symbol(static_cast<uint8_t>(text[p]));
                best = 1;
            } else {
                symbol(static_cast<int>(256 + best - 3));
                const size_t d = distance - 1;
                putUpper(static_cast<int>(d >> 6));
                bits(static_cast<uint32_t>(d & 0x3F), 6);
            }
            for (size_t k = 0; k < best; ++k) insert(p + k);
            p += best;
        }
        if (filled_ > 0) out_ += static_cast<char>(byte_ << (8 - filled_));
        return out_;
    }

private:
    static constexpr size_t kWindow = 4096, kAhead = 60;
    static constexpr int kSymbols = 314, kNodes = 2 * kSymbols - 1, kRoot = kNodes - 1;

    void bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            byte_ = byte_ << 1 | (value >> i & 1);
            if (++filled_ == 8) out_ += static_cast<char>(byte_), byte_ = 0, filled_ = 0;
        }
    }
    // Codes of 3 to 8 bits for the upper six bits: 1, 3, 8, 12, 24 and 16 values of each length,
    // handed out in order from the top of an 8-bit space.
    void putUpper(int upper) {
        const int perLength[] = {1, 3, 8, 12, 24, 16};
        int value = 0, start = 0;
        for (int i = 0; i < 6; ++i) {
            const int length = 3 + i;
            for (int c = 0; c < perLength[i]; ++c, ++value, start += 1 << (8 - length))
                if (value == upper) return bits(static_cast<uint32_t>(start >> (8 - length)), length);
        }
    }
    // The path from the root to the symbol's leaf, then the counts raised along it.
    void symbol(int s) {
        std::vector<int> path;
        for (int node = up_[s + kNodes]; node != kRoot; node = up_[node]) path.push_back(node - down_[up_[node]]);
        for (auto it = path.rbegin(); it != path.rend(); ++it) bits(static_cast<uint32_t>(*it), 1);
        int node = up_[s + kNodes];
        do {
            const uint32_t raised = ++weight_[node];
            if (raised <= weight_[node + 1]) continue;
            int swap = node + 1;
            while (weight_[swap + 1] < raised) ++swap;
            std::swap(weight_[node], weight_[swap]);
            const int mine = down_[node], theirs = down_[swap];
            for (auto [children, owner] : {std::pair{mine, swap}, std::pair{theirs, node}}) {
                up_[children] = owner;
                if (children < kNodes) up_[children + 1] = owner;
            }
            down_[node] = theirs;
            down_[swap] = mine;
            node = swap;
        } while ((node = up_[node]) != 0);
    }

    std::array<uint32_t, kNodes + 1> weight_{};
    std::array<int, kNodes> down_{};
    std::array<int, kNodes + kSymbols> up_{};
    std::string out_;
    uint32_t byte_ = 0;
    int filled_ = 0;
};

// Random bytes; or, `sparse`, 16 random bytes in every 64 and zeros between, which both packings
// make smaller.
std::string randomBytes(size_t n, uint32_t pattern, bool sparse = false) {
    std::mt19937 random(pattern);
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        if (!sparse || i % 64 < 16) s[i] = static_cast<char>(random());
    return s;
}

struct Dart {
    std::string bytes;
    std::vector<size_t> chunkAt;  // where each chunk lies in the file
};

// A DART file of the disk: the header, then each chunk of 40 sectors and their tags (random
// here, which must never be served), packed; one that does not get smaller is stored. A chunk
// may be spoilt: left out with length 0, or its packed bytes cut to half with the length to match.
enum class Spoil { None, Missing, Halved };
Dart makeDart(const std::string& disk, Packing packing, uint8_t type, Spoil spoil = Spoil::None, size_t spoilt = 0) {
    const size_t kilobytes = disk.size() / 1024, entries = kilobytes == 1440 ? 72 : 40;
    std::string header = std::string(1, static_cast<char>(packing)) + static_cast<char>(type) + be16Of(static_cast<unsigned>(kilobytes));
    Dart d;
    std::string body;
    for (size_t i = 0; i < entries; ++i) {
        if (i * kChunkData >= disk.size() || (spoil == Spoil::Missing && i == spoilt)) {
            header += be16Of(0);
            d.chunkAt.push_back(0);
            continue;
        }
        const std::string chunk = disk.substr(i * kChunkData, kChunkData) + randomBytes(kChunkBytes - kChunkData, static_cast<uint32_t>(i));
        std::string packed = packing == kFast ? packFast(chunk) : packing == kBest ? LzhEncoder().pack(chunk) : chunk;
        unsigned length = static_cast<unsigned>(packing == kFast ? packed.size() / 2 : packed.size());
        if (packed.size() >= kChunkBytes && packing != kNone) packed = chunk, length = 0xFFFF;
        if (spoil == Spoil::Halved && i == spoilt) packed.resize(packed.size() / 4 * 2), length = static_cast<unsigned>(packing == kFast ? packed.size() / 2 : packed.size());
        header += be16Of(length);
        d.chunkAt.push_back(body.size());
        body += packed;
    }
    for (size_t& at : d.chunkAt) at += header.size();
    d.bytes = header + body;
    return d;
}

void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The decoders against the packers, on chunks of the kinds a floppy holds and the extremes.
TEST(Dart, UnpacksWhatThePackersMade) {
    const std::string floppy = test::slurp(test::fixturePath("basic.hfs"));
    ASSERT_EQ(floppy.size(), 1474560u);
    const std::string tags(kChunkBytes - kChunkData, '\0');
    const std::pair<const char*, std::string> chunks[] = {
        {"zeros", std::string(kChunkBytes, '\0')},
        {"random", randomBytes(kChunkBytes, 7)},
        {"boot blocks and the catalog", floppy.substr(0, kChunkData) + tags},
        {"files", floppy.substr(3 * kChunkData, kChunkData) + tags},
        {"one word repeated", [] { std::string s; while (s.size() < kChunkBytes) s += "\x12\x34"; return s; }()},
        {"a long text", [] { std::string s; for (int i = 0; s.size() < kChunkBytes; ++i) s += "line " + std::to_string(i % 97) + ";"; return s.substr(0, kChunkBytes); }()},
    };
    for (const auto& [name, chunk] : chunks) {
        SCOPED_TRACE(name);
        ASSERT_EQ(chunk.size(), kChunkBytes);
        const auto bytes = [](const std::string& s) { return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
        std::vector<uint8_t> out(kChunkBytes);
        const std::string fast = packFast(chunk), best = LzhEncoder().pack(chunk);
        ASSERT_TRUE(unpackDartFast(bytes(fast), out)) << "fast";
        EXPECT_EQ(std::memcmp(out.data(), chunk.data(), kChunkBytes), 0) << "fast";
        std::fill(out.begin(), out.end(), 0xEE);
        const Status unpacked = unpackDartBest(bytes(best), out);
        ASSERT_TRUE(unpacked) << unpacked.fault();
        EXPECT_EQ(std::memcmp(out.data(), chunk.data(), kChunkBytes), 0) << "best";
        if (std::string(name) != "random") {
            EXPECT_LT(best.size(), chunk.size() / 2) << "the encoder found no matches";
        }
        // One byte short, the code runs out before the chunk is full.
        EXPECT_FALSE(unpackDartBest(bytes(best).first(best.size() - 1), out));
        EXPECT_FALSE(unpackDartFast(bytes(fast).first(fast.size() - 2), out));
    }
}

// An HFS floppy made by hformat, holding a file of sparse random bytes, one of random bytes (whose
// chunks are stored), a text and two files with resource forks from the basic fixture.
std::string makeFloppy(const test::TempDir& dir, size_t kilobytes) {
    const std::string image = dir.file("floppy" + std::to_string(kilobytes) + ".hfs");
    writeFile(image, std::string(kilobytes * 1024, '\0'));
    EXPECT_TRUE(test::runProcess({"hformat", "-l", "Floppy", image}, {"HOME=" + dir.path()}).succeeded());
    writeFile(dir.file("sparse"), randomBytes(kilobytes * 1024 / 4, 11, true));
    writeFile(dir.file("random"), randomBytes(50000, 12));
    writeFile(dir.file("text"), "A few words of text.\r");
    const std::vector<std::string> forks = test::hcopyMacBinaries(test::fixturePath("basic.hfs"), {":Puzzle", ":Resource Only"});
    writeFile(dir.file("puzzle.bin"), forks[0]);
    writeFile(dir.file("rsrc.bin"), forks[1]);
    EXPECT_TRUE(test::hfsutilsChange(image, {{"hcopy", "-r", dir.file("sparse"), ":Sparse"},
                                             {"hcopy", "-r", dir.file("random"), ":Random"},
                                             {"hcopy", "-r", dir.file("text"), ":Text"},
                                             {"hcopy", "-m", dir.file("puzzle.bin"), ":"},
                                             {"hcopy", "-m", dir.file("rsrc.bin"), ":"}}));
    return image;
}

// quarry-cli's MacBinary II copies of the root's files, by Macintosh name, with its exit status
// and what it said on standard error.
struct Copies {
    std::map<std::string, std::string> files;
    int exitCode;
    std::string err;
};
Copies copyAll(const std::string& image) {
    test::TempDir target;
    const test::ProcessResult run = test::runCli({"--binary-format", "mb2", "--to", target.path(), image, "COPY /B /F *"});
    Copies c{{}, run.exitCode, run.err};
    for (const auto& [mac, pc] : test::copiesReported(run.out))
        if (std::filesystem::exists(target.file(pc))) c.files[mac] = test::slurp(target.file(pc));
    return c;
}

const char* const kFloppyFiles[] = {"Sparse", "Random", "Text", "Puzzle", "Resource Only"};

// Each packing of each size of floppy: the adapter serves the floppy byte for byte and no tag,
// quarry-cli lists the image as it lists the floppy and copies each file as hcopy does.
TEST(Dart, ServesTheFloppyAndCopiesAsHfsutils) {
    test::TempDir dir;
    const std::string basic = test::fixturePath("basic.hfs");
    // hformat makes nothing smaller than 800K: the 400K disk is the first half of the 800K one,
    // served but not mounted.
    const std::string floppies[] = {makeFloppy(dir, 800), dir.file("half.img"), basic};
    writeFile(floppies[1], test::slurp(floppies[0]).substr(0, 400 * 1024));
    struct Case {
        int floppy;
        Packing packing;
        uint8_t type;
    };
    const Case cases[] = {{0, kFast, 1}, {0, kBest, 1}, {0, kNone, 1}, {1, kBest, 2}, {1, kFast, 1}, {2, kBest, 16}, {2, kFast, 16}, {2, kNone, 16}};
    for (const Case& c : cases) {
        const std::string& floppy = floppies[c.floppy];
        SCOPED_TRACE(floppy + " packing " + std::to_string(c.packing));
        const std::string disk = test::slurp(floppy);
        const std::string file = dir.file("image.dart");
        const Dart dart = makeDart(disk, c.packing, c.type);
        writeFile(file, dart.bytes);
        // The random file's chunks do not get smaller, and are stored.
        if (c.floppy == 0 && c.packing != kNone) {
            bool stored = false;
            for (size_t i = 4; i < 84; i += 2) stored |= dart.bytes.compare(i, 2, "\xFF\xFF") == 0;
            EXPECT_TRUE(stored);
        }

        ImageAdapter images;
        ASSERT_TRUE(images.addImage(file, ImageAccess::ReadOnly));
        EXPECT_EQ(images.imageFormat(0), "DART");
        EXPECT_EQ(images.imageWarnings(0), std::vector<std::string>{});
        EXPECT_TRUE(devicetest::served(images) == disk) << "the sectors served differ from the floppy";
        if (c.floppy == 1) continue;

        EXPECT_EQ(test::runCli({file, "DIR"}).out, test::runCli({floppy, "DIR"}).out);
        const Copies copies = copyAll(file);
        EXPECT_EQ(copies.exitCode, 0) << copies.err;
        if (floppy == basic) {
            EXPECT_EQ(copies.files, copyAll(floppy).files);
            continue;
        }
        std::vector<std::string> paths;
        for (const char* name : kFloppyFiles) paths.push_back(std::string(":") + name);
        const std::vector<std::string> theirs = test::hcopyMacBinaries(floppy, paths);
        ASSERT_EQ(copies.files.size(), std::size(kFloppyFiles));
        for (size_t i = 0; i < std::size(kFloppyFiles); ++i) EXPECT_TRUE(copies.files.at(kFloppyFiles[i]) == theirs[i]) << kFloppyFiles[i];
    }
    // The image opens only for reading.
    const test::ProcessResult written = test::runCli({"--write", dir.file("image.dart"), "DIR"});
    EXPECT_EQ(written.err, "Quarry - : cannot open " + dir.file("image.dart") + ": a DART image opens only for reading\n");
}

// A chunk that does not unpack, or is not there, leaves its 40 sectors unreadable and is named
// once at open; files elsewhere on the disk still copy as hcopy copies them.
TEST(Dart, ABadChunkLosesOnlyItsSectors) {
    test::TempDir dir;
    const std::string floppy = makeFloppy(dir, 800);
    const std::string disk = test::slurp(floppy);
    // Where the sparse file's bytes lie on the floppy, found by content.
    const size_t at = disk.find(randomBytes(800 * 1024 / 4, 11, true).substr(0, 4096));
    ASSERT_NE(at, std::string::npos);
    const size_t bad = at / kChunkData + 1;
    const std::string sectors = "chunk " + std::to_string(bad) + " (sectors " + std::to_string(bad * 40) + " to " + std::to_string(bad * 40 + 39) + ")";
    struct Case {
        const char* what;
        Packing packing;
        Spoil spoil;
        std::string warning;  // its start
    };
    const Case cases[] = {
        {"a run of no words", kFast, Spoil::None, sectors + " does not unpack: the run at byte 0 has no words"},
        {"LZH cut short", kBest, Spoil::Halved, sectors + " does not unpack: the LZH code ends after "},
        {"a missing chunk", kFast, Spoil::Missing, sectors + " is not in the image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dart d = makeDart(disk, c.packing, 1, c.spoil, bad);
        if (c.spoil == Spoil::None) d.bytes[d.chunkAt[bad]] = d.bytes[d.chunkAt[bad] + 1] = '\0';
        const std::string file = dir.file("bad.dart");
        writeFile(file, d.bytes);
        ImageAdapter images;
        ASSERT_TRUE(images.addImage(file, ImageAccess::ReadOnly));
        ASSERT_EQ(images.imageWarnings(0).size(), 1u);
        const std::string warning = "The DART image is damaged: " + c.warning;
        EXPECT_EQ(images.imageWarnings(0)[0].substr(0, warning.size()), warning);
        EXPECT_NE(images.imageWarnings(0)[0].find("; those sectors cannot be read"), std::string::npos);
        // A chunk is ten 2048-byte blocks: the chunk's last fails, the next chunk's first is read.
        std::vector<uint8_t> block(2048);
        for (const auto& [number, status] : {std::pair{uint32_t(bad * 10 + 9), aspi::kError}, std::pair{uint32_t(bad * 10 + 10), aspi::kCompleted}}) {
            ScsiCommand read = devicetest::commandOf(devicetest::transferCdb(scsi::kRead10, number, 1), DataDirection::In, 2048, block.data());
            EXPECT_EQ(images.execute(0, read), status) << "block " << number;
        }

        Copies copies = copyAll(file);
        EXPECT_EQ(copies.exitCode, 1);
        EXPECT_EQ(copies.err.rfind("Quarry - : " + warning, 0), 0u) << copies.err;
        EXPECT_EQ(copies.files.count("Sparse"), 0u);
        for (const char* name : {"Random", "Text", "Puzzle", "Resource Only"})
            EXPECT_TRUE(copies.files[name] == test::hcopyMacBinaries(floppy, {std::string(":") + name})[0]) << name;
    }
}

// A header that fits no DART image is not taken for one; a DART header that does not fit its
// file is refused with what is wrong.
TEST(Dart, DamagedHeadersAreRefusedOrNotTakenForDart) {
    test::TempDir dir;
    const std::string disk = test::slurp(makeFloppy(dir, 800)).substr(0, 400 * 1024);
    const Dart good = makeDart(disk, kFast, 1);
    const size_t body = good.bytes.size() - 84;
    const auto lengthOf = [&](size_t chunk) { return unsigned{uint8_t(good.bytes[4 + 2 * chunk])} << 8 | uint8_t(good.bytes[5 + 2 * chunk]); };
    const auto change = [&](size_t offset, const std::string& bytes) { std::string s = good.bytes; s.replace(offset, bytes.size(), bytes); return s; };
    struct Case {
        const char* what;
        std::string bytes;
        std::string message;  // empty: not DART
    };
    const Case cases[] = {
        {"cut short", good.bytes.substr(0, good.bytes.size() - 100),
         "its chunks take " + std::to_string(body) + " bytes after the header, but the file holds " + std::to_string(body - 100) + " (it is cut short)"},
        {"bytes after the last chunk", good.bytes + "extra",
         "its chunks take " + std::to_string(body) + " bytes after the header, but the file holds " + std::to_string(body + 5)},
        {"a length too long for the packing", change(4 + 2 * 3, be16Of(kChunkBytes / 2)),
         "chunk 3 (sectors 120 to 159) has length 10480, which no chunk with run-length (\"fast\") packing has"},
        {"a length one word longer", change(4 + 2 * 19, be16Of(lengthOf(19) + 1)),
         "its chunks take " + std::to_string(body + 2) + " bytes after the header, but the file holds " + std::to_string(body) + " (it is cut short)"},
        {"an unknown packing", change(0, "\x03"), ""},
        {"an unknown kind of disk", change(1, "\x04"), ""},
        {"a size no disk has", change(2, be16Of(500)), ""},
        {"a 1440K disk of an 800K kind", change(2, be16Of(1440)), ""},
        {"a length past a 400K disk's chunks", change(4 + 2 * 20, be16Of(100)), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir.file("damaged.dart");
        writeFile(file, c.bytes);
        ImageAdapter images;
        const Result<int> opened = images.addImage(file, ImageAccess::ReadOnly);
        if (c.message.empty()) {
            ASSERT_TRUE(opened) << opened.fault();
            EXPECT_EQ(images.imageFormat(0), "");
            continue;
        }
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.fault(), "The DART image is damaged: " + c.message);
        const test::ProcessResult run = test::runCli({file, "DIR"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, "Quarry - : The DART image is damaged: " + c.message + "\n");
    }
}

}  // namespace
}  // namespace quarry
