// The HFS+ reader and the HFS+ volume check on copies of volumes that real tools and the fixture
// builder wrote, with damage planted by the published layout alone (not through the reader): the
// reader names each fault (tree, node, record) and ends only the walk that met it; the check finds
// what the reader passes over (the sound volumes pass quarry-cli's --check, mounted_test.cpp).
// Then forks out of the ordinary: an attribute's own fork, a fork past 4 GiB, neighbouring extents.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "copy/sha256_sink.h"
#include "hfs/byte_order.h"
#include "hfsplus/names.h"
#include "hfsplus/volume_check.h"
#include "support/fixture_path.h"
#include "support/hfsplus_image.h"
#include "support/image_builder.h"
#include "support/memory_sink.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

using hfsplus::CatalogRecord;

std::string lines(const std::vector<std::string>& all) {
    std::string out;
    for (const std::string& line : all) out += line + "\n";
    return out;
}

bool mentions(const std::vector<std::string>& texts, const std::string& part) {
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

// A volume's bytes, read and changed by the published layout alone.
constexpr size_t kExtentsFork = 192, kCatalogFork = 272, kAttributesFork = 352;  // in the volume header

struct Raw {
    std::vector<uint8_t> bytes;
    uint64_t volume;  // the volume's first byte: its Apple_HFS partition, or 0

    explicit Raw(const char* fixture) : bytes(readFile(fixturePath(fixture))), volume(applePartitionStart(fixturePath(fixture))) {}
    uint8_t* at(uint64_t offset) { return bytes.data() + volume + offset; }
    uint8_t* header() { return at(1024); }
    uint32_t blockSize() { return loadBE32(header() + 40); }
    uint8_t* block(uint64_t n) { return at(n * blockSize()); }
    uint8_t* alternate() { return block(loadBE32(header() + 44)) - 1024; }
    // A special file's first extent (xorriso and the builder write each tree in one).
    uint8_t* tree(size_t forkAt) { return block(loadBE32(header() + forkAt + 16)); }
    uint32_t nodeSize() { return loadBE16(tree(kCatalogFork) + 32); }
    uint32_t catalogHeader(size_t field) { return loadBE32(tree(kCatalogFork) + field); }  // root 16, first leaf 24, nodes 36
    uint8_t* catalogNode(uint32_t n) { return tree(kCatalogFork) + uint64_t{n} * nodeSize(); }
    // Where the record data of the catalog key with `name` (ASCII) begins; parent 0 means any.
    uint8_t* record(const std::string& name, uint32_t parent = 0) {
        std::vector<uint8_t> tail{0, static_cast<uint8_t>(name.size())};
        for (char c : name) tail.insert(tail.end(), {0, static_cast<uint8_t>(c)});
        for (uint32_t n = 1; n < catalogHeader(36); ++n) {
            uint8_t* node = catalogNode(n);
            if (node[8] != 0xFF) continue;
            for (uint8_t* at = node; (at = std::search(at, node + nodeSize(), tail.begin(), tail.end())) != node + nodeSize(); ++at)
                if (parent == 0 || loadBE32(at - 4) == parent) return at + tail.size();
        }
        ADD_FAILURE() << "no catalog record " << name;
        return nullptr;
    }
    // Where the extents-tree key of a file's data fork from `startBlock` on begins (the builder
    // writes each tree in one extent).
    uint8_t* overflowKey(uint32_t id, uint32_t startBlock) {
        uint8_t key[12] = {0, 10};
        storeBE32(key + 4, id);
        storeBE32(key + 8, startBlock);
        uint8_t* end = tree(kExtentsFork) + loadBE32(header() + kExtentsFork + 4);  // the low word of its length
        uint8_t* at = std::search(tree(kExtentsFork), end, key, key + 12);
        if (at == end) ADD_FAILURE() << "no extents key " << id << "/" << startBlock;
        return at;
    }
    std::string write(const TempDir& dir, const char* name = "planted") const {
        const std::string path = dir.file(name);
        writeFile(path, bytes);
        return path;
    }
};

// Walks every folder from the root and reads every file's data fork, each walk going on past the
// others' faults; returns those faults (and, asked, the volume's damage).
enum class WithDamage { No, Yes };
std::vector<std::string> readEverything(hfsplus::Volume& volume, WithDamage withDamage) {
    std::vector<std::string> faults;
    std::vector<CatalogRecord> files;
    std::function<void(uint32_t, int)> folder = [&](uint32_t id, int depth) {
        std::vector<uint32_t> folders;
        Status s = volume.forEachEntry(id, [&](const CatalogRecord& r) {
            if (r.isFolder()) folders.push_back(r.id);
            else files.push_back(r);
            return true;
        });
        if (!s) faults.push_back(s.fault());
        if (depth < 8)
            for (uint32_t f : folders) folder(f, depth + 1);
    };
    folder(hfsplus::cnid::kRootFolder, 0);
    for (const CatalogRecord& f : files) {
        MemorySink sink;
        // A fork that cannot be read whole gives none of its bytes.
        if (Status s = volume.fork(f, hfsplus::ForkKind::Data).copyTo(sink); !s)
            faults.push_back(sink.bytes.empty() ? s.fault() : "file " + std::to_string(f.id) + " gave bytes before its fault");
    }
    if (withDamage == WithDamage::Yes)
        for (const std::string& d : volume.damage()) faults.push_back(d);
    return faults;
}

// What a reader gives of an entry: a folder's names, or a file's bytes, or the fault met.
std::string contents(hfsplus::Volume& volume, const CatalogRecord& entry) {
    std::string out;
    if (entry.isFolder()) {
        Result<std::vector<CatalogRecord>> all = volume.entries(entry.id);
        if (!all) return all.fault();
        for (const CatalogRecord& r : *all) out += hfsplus::utf16ToUtf8(r.storedName) + "\n";
        return out;
    }
    MemorySink sink;
    Status s = volume.fork(entry, hfsplus::ForkKind::Data).copyTo(sink);
    return s ? std::string(sink.bytes.begin(), sink.bytes.end()) : s.fault();
}

struct Planting {
    const char* what;
    const char* image;
    std::function<std::string(Raw&)> plant;  // returns the fault the reader must name, or ""
    const char* problem;                     // part of a problem the check must report ("": any; null: none asked)
    const char* survivor = nullptr;          // a root entry that reads as on the sound volume ("*": all)
    bool inDamage = false;                   // the fault is also among the volume's damage
};

TEST(HfsPlusDamage, PlantedDamageIsNamedByTheReaderAndFoundByTheCheck) {
    const Planting plantings[] = {
        // The reader's own faults, on xorriso's volume.
        {"a record offset outside its node", "hfsplus.iso",
         [](Raw& r) {
             const uint32_t leaf = r.catalogHeader(24), outside = r.nodeSize() - 3;
             storeBE16(r.catalogNode(leaf) + r.nodeSize() - 4, static_cast<uint16_t>(outside));  // record 1
             return "catalog node " + std::to_string(leaf) + ": record 1 offset " + std::to_string(outside) + " outside the node";
         },
         "", "\u65E5\u672C\u8A9E"},  // made last, of the highest ID: its records lie in the last leaves
        {"an index pointer back to the root", "hfsplus.iso",
         [](Raw& r) {
             const uint32_t root = r.catalogHeader(16);
             uint8_t* node = r.catalogNode(root);
             const uint16_t last = loadBE16(node + r.nodeSize() - 2 * loadBE16(node + 10));  // the last record
             storeBE32(node + last + 2 + loadBE16(node + last), root);
             return "catalog node " + std::to_string(root) + ": index leads back to node " + std::to_string(root);
         },
         ""},
        {"a leaf chain that loops", "hfsplus.iso",
         [](Raw& r) {
             for (uint32_t n = 1; n < r.catalogHeader(36); ++n)
                 if (r.catalogNode(n)[8] == 0xFF) storeBE32(r.catalogNode(n), n);  // every leaf's forward link to itself
             return std::string("leaf chain loops back to node");
         },
         ""},
        {"an extent past the volume's end", "hfsplus.iso",
         [](Raw& r) {
             uint8_t* file = r.record("big.bin", 2);
             storeBE32(file + 88 + 16 + 4, 0x7FFFFFF0);  // the data fork's first extent's block count
             return "file " + std::to_string(loadBE32(file + 8)) + ", data fork: extent of 2147483632 blocks at block " +
                    std::to_string(loadBE32(file + 88 + 16)) + " lies past the end of the volume (" +
                    std::to_string(loadBE32(r.header() + 44)) + " blocks)";
         },
         "", "Read Me"},
        {"a node size that is no power of two", "hfsplus.iso",
         [](Raw& r) {
             storeBE16(r.tree(kCatalogFork) + 32, 3000);
             return std::string("catalog node 0: node size 3000 is not a power of two from 512 to 32768");
         },
         ""},
        // Only the nodes the fork holds are read, and the walks go on.
        {"four billion nodes claimed", "hfsplus.iso",
         [](Raw& r) {
             storeBE32(r.tree(kCatalogFork) + 36, 0xFFFFFFFF);
             return std::string("catalog node 0: the header counts 4294967295 nodes");
         },
         "header: counts 4294967295 nodes, the tree's fork holds", "*"},
        // Fragmented.bin's extents past its first eight are in the extents tree's first leaf.
        {"an overflow extent past the volume's end", "hfsplus/forks.hfsp",
         [](Raw& r) {
             const uint32_t id = loadBE32(r.record("Fragmented.bin", 2) + 8);
             uint8_t* key = r.overflowKey(id, 8);
             storeBE32(key + 12 + 4, 0x10000000);  // its first extent's block count
             return "file " + std::to_string(id) + ", data fork: extents node " +
                    std::to_string((key - r.tree(kExtentsFork)) / loadBE16(r.tree(kExtentsFork) + 32)) +
                    ": record 0: extent of 268435456 blocks at block " + std::to_string(loadBE32(key + 12)) +
                    " lies past the end of the volume";
         },
         nullptr, "Read Me.txt", true},
        {"an overflow record that is not found", "hfsplus/forks.hfsp",
         [](Raw& r) {
             const uint32_t id = loadBE32(r.record("Fragmented.bin", 2) + 8);
             storeBE32(r.overflowKey(id, 8) + 8, 9);  // its key's first block, still in order
             return "file " + std::to_string(id) + ", data fork: its extents end at byte " + std::to_string(8 * r.blockSize()) +
                    ", before its length of 229253 bytes";
         },
         nullptr},
        // What only the check finds, on the builder's volumes.
        {"an index key out of order", "hfsplus/case.hfsx",
         [](Raw& r) {
             uint8_t* root = r.catalogNode(r.catalogHeader(16));
             storeBE32(root + loadBE16(root + r.nodeSize() - 4) + 2, 0);  // the second index key's parent ID below the first's
             return "";
         },
         "keys out of order at record 1"},
        {"a file record whose thread is gone", "hfsplus/forks.hfsp", [](Raw& r) { storeBE32(r.record("Read Me.txt", 2) + 8, 9999); return ""; },
         "catalog: file 9999 has no thread"},
        {"a block in two forks", "hfsplus/forks.hfsp",
         [](Raw& r) {
             // Read Me.txt's one extent moved onto the catalog's first block.
             storeBE32(r.record("Read Me.txt", 2) + 88 + 16, loadBE32(r.header() + kCatalogFork + 16));
             return "";
         },
         "also belongs to catalog tree"},
        {"a wrong link count", "hfsplus/links.hfsp", [](Raw& r) { storeBE32(r.record("iNode21") + 32 + 12, 3); return ""; },
         "hard link target iNode21: link count 3, 2 link(s) lead to it"},
        {"a broken decmpfs magic", "hfsplus/compressed.hfsp",
         [](Raw& r) {
             const std::string magic = "fpmc";
             auto at = std::search(r.bytes.begin(), r.bytes.end(), magic.begin(), magic.end());
             EXPECT_NE(at, r.bytes.end());
             if (at != r.bytes.end()) at[3] = 'X';
             return "";
         },
         "decmpfs header without its magic"},
        {"a wrong valence", "hfsplus/forks.hfsp", [](Raw& r) { storeBE32(r.record("Forks", 1) + 4, 99); return ""; },
         "catalog: folder 2 has valence 99"},
        {"a broken sibling link", "hfsplus/links.hfsp", [](Raw& r) { storeBE32(r.catalogNode(r.catalogHeader(24)), 0); return ""; },
         "sibling links"},
        {"the root node free in the node map", "hfsplus/links.hfsp",
         [](Raw& r) {
             const uint32_t root = r.catalogHeader(16);
             uint8_t* map = r.tree(kCatalogFork) + loadBE16(r.tree(kCatalogFork) + r.nodeSize() - 6);
             map[root / 8] &= static_cast<uint8_t>(~(0x80 >> (root % 8)));
             return "";
         },
         "in use but free in the node map"},
        {"an alternate header disagreeing", "hfsplus/links.hfsp",
         [](Raw& r) { storeBE32(r.alternate() + 16, loadBE32(r.header() + 16) + 1); return ""; },
         "creation date differs from the volume header's"},
    };
    for (const Planting& p : plantings) {
        SCOPED_TRACE(p.what);
        TempDir dir;
        Raw raw(p.image);
        const std::string fault = p.plant(raw);
        HfsPlusImage image(raw.write(dir), raw.volume);
        if (!image.volume) {
            EXPECT_FALSE(fault.empty()) << image.fault;
            EXPECT_NE(image.fault.find(fault), std::string::npos) << image.fault;
            continue;
        }
        if (!fault.empty()) {
            const std::vector<std::string> faults = readEverything(*image, WithDamage::Yes);
            EXPECT_TRUE(mentions(faults, fault)) << lines(faults);
            // The damage names the place alone, not the file that led there.
            if (p.inDamage) {
                EXPECT_TRUE(mentions(image->damage(), fault.substr(fault.find(": ") + 2))) << lines(image->damage());
            }
        }
        if (p.survivor && *p.survivor == '*') {
            EXPECT_EQ(lines(readEverything(*image, WithDamage::No)), "");
        } else if (p.survivor) {
            HfsPlusImage sound(fixturePath(p.image), raw.volume);
            ASSERT_TRUE(sound.volume) << sound.fault;
            Result<std::optional<CatalogRecord>> entry = sound->lookup(hfsplus::cnid::kRootFolder, p.survivor);
            ASSERT_TRUE(entry && entry->has_value());
            EXPECT_EQ(contents(*image, **entry), contents(*sound, **entry));
        }
        if (!p.problem) continue;
        const VolumeCheckResult result = hfsplus::checkVolume(*image.medium, *image.volume);
        EXPECT_FALSE(result.sound());
        EXPECT_TRUE(mentions(result.problems, p.problem)) << lines(result.problems);
    }
}

TEST(HfsPlusDamage, TheJournalsStateIsReadInEitherByteOrder) {
    // journaled.hfsp's journal header written anew in either byte order, with its transactions
    // written or pending (an end past 4 GiB of the journal counts whole).
    Raw raw("hfsplus/journaled.hfsp");
    TempDir dir;
    const uint8_t* info = raw.block(loadBE32(raw.header() + 12));  // the journal info block
    const uint64_t journalOffset = uint64_t{loadBE32(info + 36)} << 32 | loadBE32(info + 40);
    uint8_t* head = raw.at(journalOffset);
    struct Case {
        bool big;
        uint64_t start, end;
        bool pending;
    };
    for (const Case& c : {Case{true, 512, 512, false}, Case{true, 512, 8192, true}, Case{false, 0x1000, 0x1000, false},
                          Case{false, 0x1000, 0x100001000, true}}) {
        auto put = [&](size_t at, uint64_t v, int width) {
            for (int i = 0; i < width; ++i) head[at + i] = static_cast<uint8_t>(v >> 8 * (c.big ? width - 1 - i : i));
        };
        put(0, 0x4A4E4C78, 4);  // the magic, then the endian mark
        put(4, 0x12345678, 4);
        put(8, c.start, 8);
        put(16, c.end, 8);
        HfsPlusImage journaled(raw.write(dir), 0);
        ASSERT_TRUE(journaled.volume) << journaled.fault;
        EXPECT_TRUE(journaled->figures().journaled);
        EXPECT_EQ(journaled->figures().journalPending, c.pending) << c.big << " " << c.end;
        EXPECT_EQ(journaled->figures().journalNote, "");
    }
    // A header that is none is said, not taken for an empty journal.
    head[0] = 0;
    HfsPlusImage broken(raw.write(dir), 0);
    ASSERT_TRUE(broken.volume) << broken.fault;
    EXPECT_EQ(broken->figures().journalNote, "the journal header at byte " + std::to_string(journalOffset) + " of the volume is not one");
}

// The builder's forks.hfsp gives the folder Documents an attribute inline and one in a fork of its own.
TEST(HfsPlusForks, AttributesInlineAndInAForkAreWhatSevenZipExtracts) {
    const std::string path = fixturePath("hfsplus/forks.hfsp");
    HfsPlusImage image(path);
    ASSERT_TRUE(image.volume) << image.fault;
    Result<std::optional<CatalogRecord>> folder = image->lookup(hfsplus::cnid::kRootFolder, "Documents");
    ASSERT_TRUE(folder && folder->has_value());
    const uint32_t id = (*folder)->id;
    Result<std::vector<hfsplus::Attribute>> all = image->attributes(id);
    ASSERT_TRUE(all) << all.fault();
    std::map<std::string, std::string> mine, extracted;  // name -> bytes
    for (const hfsplus::Attribute& a : *all) {
        Result<std::vector<uint8_t>> b = image->attributeBytes(id, a, 1 << 20);
        ASSERT_TRUE(b) << b.fault();
        mine[hfsplus::utf16ToUtf8(a.name)] = std::string(b->begin(), b->end());
    }
    // 7-Zip extracts each as a stream "Documents:NAME".
    TempDir out;
    const std::vector<std::string> argv{"7zz", "x", "-sns", "-tHFS", "-o" + out.path(), path};
    ASSERT_TRUE(runProcess(argv, {"LC_ALL=C.UTF-8"}).succeeded());
    for (const auto& f : std::filesystem::directory_iterator(out.file("Forks")))
        if (const std::string name = f.path().filename().string(); name.starts_with("Documents:"))
            extracted[name.substr(10)] = slurp(f.path().string());
    EXPECT_EQ(extracted.size(), 2u);
    EXPECT_EQ(mine, extracted);
    Result<std::optional<hfsplus::Attribute>> fork = image->attribute(id, u"com.example.fork");
    ASSERT_TRUE(fork && fork->has_value() && (*fork)->fork);
    EXPECT_FALSE(image->attributeBytes(id, **fork, 9999));  // past the limit
    Result<std::optional<hfsplus::Attribute>> none = image->attribute(hfsplus::cnid::kRootFolder, u"com.example.note");
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->has_value());
    EXPECT_TRUE(image->damage().empty()) << image->damage().front();
}

// The builder's huge.hfsp: Huge.bin's second extent begins one block past 4 GiB of the fork; the
// manifest notes the SHA-256 of its last 1000 bytes, as Sleuth Kit reads them.
TEST(HfsPlusForks, AForkPastFourGigabytesIsReadWithItsOffsetsWhole) {
    const std::string path = fixturePath("hfsplus/huge.hfsp");
    HfsPlusImage image(path);
    ASSERT_TRUE(image.volume) << image.fault;
    Result<std::optional<CatalogRecord>> huge = image->lookup(hfsplus::cnid::kRootFolder, "Huge.bin");
    ASSERT_TRUE(huge && huge->has_value());
    const uint64_t length = (*huge)->dataFork.logicalSize;
    hfsplus::ForkReader reader = image->fork(**huge, hfsplus::ForkKind::Data);
    Result<std::vector<hfsplus::MediumRun>> runs = reader.runs();
    ASSERT_TRUE(runs) << runs.fault();
    ASSERT_EQ(runs->size(), 2u);
    const uint64_t second = runs->back().forkOffset;
    EXPECT_GT(second, uint64_t{1} << 32);
    EXPECT_EQ(second + runs->back().length, length);
    std::istringstream manifest(slurp(path + ".manifest"));  // its first line is Huge.bin's
    std::string kind, size, data, rsrc, note;
    for (std::string* field : {&kind, &size, &data, &rsrc, &note}) std::getline(manifest, *field, '\t');
    EXPECT_EQ(std::to_string(length), size);
    Sha256Sink tail;
    ASSERT_TRUE(reader.copyTo(tail, length - 1000, 1000));
    EXPECT_EQ("tail " + tail.hex(), note);
    // Across the two extents only zeros: an offset cut to 32 bits would reach the first block's text.
    std::vector<uint8_t> across(8192, 0xEE);
    ASSERT_TRUE(reader.read(second - 4096, across));
    EXPECT_EQ(across, std::vector<uint8_t>(8192, 0));
    EXPECT_FALSE(reader.read(length - 2, std::span(across.data(), 3)));
}

// Eight extents, each the neighbour of the one before on the medium, make one run.
TEST(HfsPlusForks, NeighbouringExtentsMakeOneRun) {
    Raw raw("hfsplus.iso");
    TempDir dir;
    uint8_t* extents = raw.record("big.bin", 2) + 88 + 16;
    const uint32_t first = loadBE32(extents), count = loadBE32(extents + 4);
    for (uint32_t e = 0; e < 8; ++e) {
        storeBE32(extents + 8 * e, first + e);
        storeBE32(extents + 8 * e + 4, e < 7 ? 1 : count - 7);
    }
    HfsPlusImage image(raw.write(dir)), sound(fixturePath("hfsplus.iso"));
    ASSERT_TRUE(image.volume && sound.volume) << image.fault << sound.fault;
    Result<std::optional<CatalogRecord>> big = image->lookup(2, "big.bin");
    ASSERT_TRUE(big && big->has_value());
    Result<std::vector<hfsplus::MediumRun>> runs = image->fork(**big, hfsplus::ForkKind::Data).runs();
    ASSERT_TRUE(runs) << runs.fault();
    EXPECT_EQ(runs->size(), 1u);
    EXPECT_EQ(contents(*image, **big), contents(*sound, **big));
}

}  // namespace
}  // namespace quarry::test
