// The HFS+ reader and the HFS+ volume check on volumes that real tools and the fixture builder
// wrote, and on copies of them with damage planted by the published layout alone (not through the
// reader): the reader names each fault (tree, node, record) and ends only the walk that met it;
// the check finds what the reader passes over.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "hfs/byte_order.h"
#include "hfsplus/names.h"
#include "hfsplus/oracle.h"  // tests/hfsplus
#include "hfsplus/volume_check.h"
#include "support/fixture_path.h"
#include "support/hfsplus_image.h"
#include "support/memory_sink.h"
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

struct SoundCase {
    const char* image;
    uint64_t start;              // byte of the volume (or its wrapper); UINT64_MAX: the Apple_HFS partition
    const char* note;            // a note the check must give, or ""
};

TEST(HfsPlusVolumeCheck, VolumesOfRealToolsAndTheBuilderAreSound) {
    const SoundCase cases[] = {
        // xorriso leaves a block marked in use that no fork holds: harmless on a volume it locks.
        {"hfsplus.iso", UINT64_MAX, "allocation file: 1 block(s) marked in use that no fork holds"},
        {"hfsplus/forks.hfsp", 0, ""},
        {"hfsplus/links.hfsp", 0, ""},
        {"hfsplus/compressed.hfsp", 0, ""},
        {"hfsplus/case.hfsx", 0, ""},
        {"hfsplus/journaled.hfsp", 0, "journal: transactions not yet written to the volume are pending"},
        {"hfsplus/huge.hfsp", 0, ""},
        {"hfsplus/wrapped.hfs", 0, ""},
        {"hfsplus/apm.img", 64 * 512, ""},
        {"hfsplus/apm.img", 2112 * 512, ""},
        {"hfsplus/gpt.img", 2048 * 512, ""},
        {"hfsplus/mbr.img", 2048 * 512, ""},
    };
    for (const SoundCase& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " at " + std::to_string(c.start));
        const std::string path = fixturePath(c.image);
        HfsPlusImage image(path, c.start == UINT64_MAX ? applePartitionStart(path) : c.start);
        ASSERT_TRUE(image.volume) << image.fault;
        const VolumeCheckResult result = hfsplus::checkVolume(*image.medium, *image.volume);
        EXPECT_TRUE(result.sound()) << lines(result.problems);
        if (*c.note) EXPECT_NE(std::find(result.notes.begin(), result.notes.end(), c.note), result.notes.end()) << lines(result.notes);
        else EXPECT_TRUE(result.notes.empty()) << lines(result.notes);
    }
}

// A volume's bytes, read and changed by the published layout alone.
constexpr size_t kExtentsFork = 192, kCatalogFork = 272, kAttributesFork = 352;  // in the volume header

struct Raw {
    std::vector<uint8_t> bytes;
    uint64_t volume;  // the volume's first byte: its Apple_HFS partition, or 0

    explicit Raw(const char* fixture) : volume(applePartitionStart(fixturePath(fixture))) {
        std::ifstream in(fixturePath(fixture), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
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
    std::string write(const TempDir& dir, const char* name = "planted") const {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
        {"a wrong free count", "hfsplus/forks.hfsp", [](Raw& r) { storeBE32(r.header() + 48, loadBE32(r.header() + 48) + 1); return ""; },
         "free blocks, the allocation file has"},
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

// A B-tree header node's fields for a tree of one leaf, node 1, after the header node.
void oneLeafAfterTheHeader(uint8_t* header, uint32_t leafRecords) {
    storeBE16(header + 14, 1);            // depth
    for (size_t field : {16, 24, 28}) storeBE32(header + field, 1);  // root, first and last leaf
    storeBE32(header + 20, leafRecords);
    storeBE32(header + 36, 2);            // nodes
}

TEST(HfsPlusDamage, TheJournalsStateIsReadInEitherByteOrder) {
    // journaled.hfsp's journal header written anew in either byte order, with its transactions
    // written or pending (an end past 4 GiB of the journal counts whole).
    Raw raw("hfsplus/journaled.hfsp");
    TempDir dir;
    const uint8_t* info = raw.block(loadBE32(raw.header() + 12));  // the journal info block
    const uint64_t journalOffset = uint64_t{loadBE32(info + 36)} << 32 | loadBE32(info + 40);
    uint8_t* head = raw.at(journalOffset);
    auto plant = [&](bool big, uint64_t start, uint64_t end) {
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) head[at + i] = static_cast<uint8_t>(v >> (big ? 24 - 8 * i : 8 * i));
        };
        auto put64 = [&](size_t at, uint64_t v) {
            put32(at + (big ? 0 : 4), static_cast<uint32_t>(v >> 32));
            put32(at + (big ? 4 : 0), static_cast<uint32_t>(v));
        };
        put32(0, 0x4A4E4C78);
        put32(4, 0x12345678);
        put64(8, start);
        put64(16, end);
    };
    struct Case {
        bool big;
        uint64_t start, end;
        bool pending;
    };
    for (const Case& c : {Case{true, 512, 512, false}, Case{true, 512, 8192, true}, Case{false, 0x1000, 0x1000, false},
                          Case{false, 0x1000, 0x100001000, true}}) {
        plant(c.big, c.start, c.end);
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

TEST(HfsPlusDamage, AttributesInlineAndInForksAreTheOnes7ZipLists) {
    // xorriso writes no attributes tree: one of two 4096-byte nodes is planted in the blocks its
    // bitmap leaves free (1824 on), with two attributes of "Read Me": com.apple.ResourceFork in
    // a fork (big.bin's blocks) and com.example.note inline.
    Raw raw("hfsplus.iso");
    TempDir dir;
    const uint32_t id = loadBE32(raw.record("Read Me", 2) + 8), bigId = loadBE32(raw.record("big.bin", 2) + 8);
    constexpr uint32_t kNode = 4096;
    uint8_t* tree = raw.block(1824);
    std::fill_n(tree, 2 * kNode, 0);
    auto offsets = [&](uint8_t* node, std::initializer_list<uint16_t> offs) {
        size_t i = 0;
        for (uint16_t o : offs) storeBE16(node + kNode - 2 - 2 * i++, o);
    };
    tree[8] = 1;                                  // header node
    storeBE16(tree + 10, 3);
    oneLeafAfterTheHeader(tree, 2);
    storeBE16(tree + 32, kNode);
    storeBE16(tree + 34, 266);                    // maximum key length
    storeBE32(tree + 52, 6);                      // big keys, variable index keys
    offsets(tree, {14, 120, 248, 256});
    uint8_t* leaf = tree + kNode;
    leaf[8] = 0xFF;
    leaf[9] = 1;
    storeBE16(leaf + 10, 2);
    size_t at = 14;
    std::vector<uint16_t> recordAt;
    auto key = [&](const std::u16string& name) {
        recordAt.push_back(static_cast<uint16_t>(at));
        storeBE16(leaf + at, static_cast<uint16_t>(12 + 2 * name.size()));
        storeBE32(leaf + at + 4, id);
        storeBE16(leaf + at + 12, static_cast<uint16_t>(name.size()));
        for (size_t i = 0; i < name.size(); ++i) storeBE16(leaf + at + 14 + 2 * i, name[i]);
        at += 14 + 2 * name.size();
    };
    key(u"com.apple.ResourceFork");
    storeBE32(leaf + at, 0x20);                   // fork data: big.bin's
    std::memcpy(leaf + at + 8, raw.record("big.bin", 2) + 88, 80);
    at += 88;
    key(u"com.example.note");
    storeBE32(leaf + at, 0x10);                   // inline data
    storeBE32(leaf + at + 12, 6);
    std::memcpy(leaf + at + 16, "a note", 6);
    at += 24;
    recordAt.push_back(static_cast<uint16_t>(at));
    offsets(leaf, {recordAt[0], recordAt[1], recordAt[2]});
    uint8_t* fork = raw.header() + kAttributesFork;
    storeBE32(fork + 4, 2 * kNode);
    storeBE32(fork + 12, 4);
    storeBE32(fork + 16, 1824);
    storeBE32(fork + 20, 4);
    const std::string path = raw.write(dir);

    HfsPlusImage image(path);
    ASSERT_TRUE(image.volume) << image.fault;
    ASSERT_NE(image->attributesTree(), nullptr);
    Result<std::vector<hfsplus::Attribute>> all = image->attributes(id);
    ASSERT_TRUE(all) << all.fault();
    // 7-Zip lists them as streams "HFSPLUS/Read Me:NAME" with their sizes.
    std::map<std::string, uint64_t> listed, mine;
    for (const auto& [p, e] : sevenZipListing(path, SevenZipStreams::Yes))
        if (p.rfind("HFSPLUS/Read Me:", 0) == 0) listed[p.substr(16)] = e.size;
    std::map<std::string, std::vector<uint8_t>> bytes;
    for (const hfsplus::Attribute& a : *all) {
        Result<std::vector<uint8_t>> b = image->attributeBytes(id, a, 1 << 22);
        ASSERT_TRUE(b) << b.fault();
        mine[hfsplus::utf16ToUtf8(a.name)] = b->size();
        bytes[hfsplus::utf16ToUtf8(a.name)] = *b;
    }
    EXPECT_EQ(mine, listed);
    EXPECT_EQ(std::string(bytes["com.example.note"].begin(), bytes["com.example.note"].end()), "a note");
    const uint8_t* bigBytes = raw.block(loadBE32(raw.record("big.bin", 2) + 88 + 16));  // in one extent
    EXPECT_TRUE(bytes["com.apple.ResourceFork"] == std::vector<uint8_t>(bigBytes, bigBytes + 3000000));
    Result<std::optional<hfsplus::Attribute>> one = image->attribute(id, u"com.example.note");
    ASSERT_TRUE(one && one->has_value());
    EXPECT_FALSE(image->attributeBytes(id, **one, 5));  // past the limit
    Result<std::optional<hfsplus::Attribute>> none = image->attribute(bigId, u"com.example.note");
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->has_value());
    EXPECT_TRUE(image->damage().empty()) << image->damage().front();
}

TEST(HfsPlusDamage, AForkOfMoreThanFourGigabytesIsReadWithItsOffsetsWhole) {
    // The volume grown to 1.75 Mi blocks (3.5 GiB, a sparse file) and big.bin to 5 GiB + 3 bytes:
    // its own 1465 blocks, then the same 800,000 blocks from block 1,000,000 three times (a reader
    // need not mind), then 219,976 of them again, the last three bytes "END".
    constexpr uint64_t kLength = (uint64_t{5} << 30) + 3;
    constexpr uint32_t kStart = 1000000;
    Raw raw("hfsplus.iso");
    TempDir dir;
    const uint64_t blockSize = raw.blockSize();
    storeBE32(raw.header() + 44, 1835008);
    uint8_t* fork = raw.record("big.bin", 2) + 88;
    ASSERT_EQ(loadBE32(fork + 16 + 4), 1465u);
    storeBE32(fork, static_cast<uint32_t>(kLength >> 32));
    storeBE32(fork + 4, static_cast<uint32_t>(kLength));
    storeBE32(fork + 12, static_cast<uint32_t>((kLength + blockSize - 1) / blockSize));
    const uint32_t counts[] = {800000, 800000, 800000, 219976};
    for (int e = 0; e < 4; ++e) {
        storeBE32(fork + 24 + 8 * e, kStart);
        storeBE32(fork + 28 + 8 * e, counts[e]);
    }
    const std::string path = raw.write(dir, "huge.iso");
    std::filesystem::resize_file(path, raw.volume + 1835008 * blockSize);
    const uint64_t lastRun = (1465 + 3 * 800000) * blockSize;
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(raw.volume + kStart * blockSize + (kLength - 3 - lastRun)));
        f.write("END", 3);
    }
    HfsPlusImage image(path);
    ASSERT_TRUE(image.volume) << image.fault;
    Result<std::optional<CatalogRecord>> big = image->lookup(2, "big.bin");
    ASSERT_TRUE(big && big->has_value());
    EXPECT_EQ((*big)->dataFork.logicalSize, kLength);
    hfsplus::ForkReader reader = image->fork(**big, hfsplus::ForkKind::Data);
    Result<std::vector<hfsplus::MediumRun>> runs = reader.runs();
    ASSERT_TRUE(runs) << runs.fault();
    ASSERT_EQ(runs->size(), 5u);
    EXPECT_EQ(runs->back().mediumOffset, raw.volume + kStart * blockSize);
    EXPECT_EQ(runs->back().forkOffset, lastRun);
    EXPECT_EQ(runs->back().length, kLength - lastRun);
    std::vector<uint8_t> tail(3);
    Status read = reader.read(kLength - 3, tail);
    ASSERT_TRUE(read) << read.fault();
    EXPECT_EQ(std::string(tail.begin(), tail.end()), "END");
    // A read across two extents past 4 GiB of the fork gives the same bytes as one at their
    // common start on the medium.
    std::vector<uint8_t> across(4096), again(4096);
    ASSERT_TRUE(reader.read((1465 + 2 * 800000) * blockSize - 2048, across));
    ASSERT_TRUE(reader.read((1465 + 800000) * blockSize - 2048, again));
    EXPECT_EQ(across, again);
    EXPECT_FALSE(reader.read(kLength - 2, tail));
}

TEST(HfsPlusDamage, AForkGoesOnThroughTheExtentsOverflowTree) {
    // big.bin's 1465 blocks given as eight one-block extents in its catalog record and the rest
    // in a record of the extents tree, whose one header node gains a leaf in block 1824 (free in
    // xorriso's bitmap). (The builder's forks.hfsp holds such forks to 7-Zip through the mount.)
    Raw raw("hfsplus.iso");
    TempDir dir;
    uint8_t* file = raw.record("big.bin", 2);
    const uint32_t id = loadBE32(file + 8), first = loadBE32(file + 88 + 16), blockSize = raw.blockSize();
    const uint8_t* sound = raw.block(first);
    const std::vector<uint8_t> bytes(sound, sound + 3000000);
    for (uint32_t e = 0; e < 8; ++e) {
        storeBE32(file + 88 + 16 + 8 * e, first + e);
        storeBE32(file + 88 + 20 + 8 * e, 1);
    }
    uint8_t* extentsFork = raw.header() + kExtentsFork;
    uint8_t* head = raw.block(loadBE32(extentsFork + 16));
    ASSERT_EQ(loadBE32(extentsFork + 4), blockSize) << "xorriso's extents tree is no longer one block";
    storeBE32(extentsFork + 4, 2 * blockSize);
    storeBE32(extentsFork + 12, 2);
    storeBE32(extentsFork + 24, 1824);
    storeBE32(extentsFork + 28, 1);
    ASSERT_EQ(loadBE16(head + 32), blockSize);  // one node per block
    oneLeafAfterTheHeader(head, 1);
    uint8_t* leaf = raw.block(1824);
    std::fill_n(leaf, blockSize, 0);
    leaf[8] = 0xFF;
    leaf[9] = 1;
    storeBE16(leaf + 10, 1);
    storeBE16(leaf + 14, 10);                    // key length; data fork; file; start block 8
    storeBE32(leaf + 18, id);
    storeBE32(leaf + 22, 8);
    storeBE32(leaf + 26, first + 8);
    storeBE32(leaf + 30, 1465 - 8);
    storeBE16(leaf + blockSize - 2, 14);
    storeBE16(leaf + blockSize - 4, 90);
    // Read whole, the eight one-block extents and the rest, neighbours on the medium, as one run;
    // the overflow record's extent sent past the end of the volume, a fault of the tree's leaf;
    // no overflow record at all, extents that end before the fork does.
    const std::string past = "file " + std::to_string(id) +
                             ", data fork: extents node 1: record 0: extent of 268435456 blocks at block " +
                             std::to_string(first + 8) + " lies past the end of the volume";
    const std::string missing = "file " + std::to_string(id) + ", data fork: its extents end at byte " +
                                std::to_string(8 * blockSize) + ", before its length of 3000000 bytes";
    for (const std::string& fault : {std::string(), past, missing}) {
        SCOPED_TRACE(fault);
        if (fault == past) storeBE32(leaf + 30, 0x10000000);
        if (fault == missing) storeBE32(leaf + 18, 1);
        HfsPlusImage image(raw.write(dir));
        ASSERT_TRUE(image.volume) << image.fault;
        Result<std::optional<CatalogRecord>> big = image->lookup(2, "big.bin");
        ASSERT_TRUE(big && big->has_value());
        hfsplus::ForkReader reader = image->fork(**big, hfsplus::ForkKind::Data);
        Result<std::vector<hfsplus::MediumRun>> runs = reader.runs();
        if (!fault.empty()) {
            ASSERT_FALSE(runs);
            EXPECT_EQ(runs.fault(), fault);
            if (fault == past) {
                EXPECT_TRUE(mentions(image->damage(), "extents node 1: record 0: extent of 268435456 blocks"));
            }
            continue;
        }
        ASSERT_TRUE(runs) << runs.fault();
        EXPECT_EQ(runs->size(), 1u);
        MemorySink mine;
        ASSERT_TRUE(reader.copyTo(mine));
        EXPECT_TRUE(mine.bytes == bytes);
        EXPECT_TRUE(image->damage().empty()) << image->damage().front();
    }
}

TEST(HfsPlusVolumeCheck, NamesInAppleOrder) {
    using hfsplus::NameComparison;
    // NUL after every other unit (the private folders sort last), case folded, the joiners and
    // the byte order mark passed over, shorter before longer; HFSX compares units as numbers.
    using namespace std::literals;
    EXPECT_GT(hfsplus::compareNames(u"\0\0\0\0HFS+ Private Data"sv, u"zzz", NameComparison::CaseFolding), 0);
    EXPECT_EQ(hfsplus::compareNames(u"README", u"readme", NameComparison::CaseFolding), 0);
    EXPECT_EQ(hfsplus::compareNames(u"Ab\u200Dc\uFEFF", u"abC", NameComparison::CaseFolding), 0);
    EXPECT_EQ(hfsplus::compareNames(u"\u0394\u0416\u00C6", u"\u03B4\u0436\u00E6", NameComparison::CaseFolding), 0);
    // Letters with a decomposition are not folded: they never occur in a stored name.
    EXPECT_LT(hfsplus::compareNames(u"\u00C9", u"\u00E9", NameComparison::CaseFolding), 0);
    EXPECT_LT(hfsplus::compareNames(u"\u0419", u"\u0439", NameComparison::CaseFolding), 0);
    EXPECT_LT(hfsplus::compareNames(u"ab", u"abc", NameComparison::CaseFolding), 0);
    EXPECT_LT(hfsplus::compareNames(u"_x", u"a", NameComparison::CaseFolding), 0);  // '_' before 'a', after 'A'
    EXPECT_LT(hfsplus::compareNames(u"README", u"ReadMe", NameComparison::Binary), 0);
}

}  // namespace
}  // namespace quarry::test
