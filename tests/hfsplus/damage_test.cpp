// The HFS+ reader on changed copies of hfsplus.iso: damage planted in the catalog and in a file's
// extents is named (tree, node, record) and ends only the walk that met it.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "hfs/byte_order.h"
#include "hfsplus/names.h"
#include "hfsplus/oracle.h"  // tests/hfsplus
#include "support/fixture_path.h"
#include "support/hfsplus_image.h"
#include "support/memory_sink.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

using hfsplus::CatalogRecord;

const std::string kImage = fixturePath("hfsplus.iso");

// The image's bytes and where its volume and catalog lie, read with the published layout alone.
struct RawImage {
    std::vector<uint8_t> bytes;
    uint64_t volume = 0;      // the HFS+ partition's first byte
    uint32_t blockSize = 0;
    uint64_t catalog = 0;     // the catalog's first byte (xorriso writes it in one extent)
    uint32_t nodeSize = 0;

    RawImage() {
        std::ifstream in(kImage, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        volume = applePartitionStart(kImage);
        const uint8_t* h = header();
        blockSize = loadBE32(h + 40);
        catalog = volume + uint64_t{loadBE32(h + 272 + 16)} * blockSize;
        nodeSize = loadBE16(node(0) + 32);
    }
    uint8_t* header() { return bytes.data() + volume + 1024; }
    uint8_t* node(uint32_t n) { return bytes.data() + catalog + uint64_t{n} * nodeSize; }
    uint32_t root() { return loadBE32(node(0) + 16); }
    uint32_t firstLeaf() { return loadBE32(node(0) + 24); }
    uint32_t nodes() { return loadBE32(node(0) + 36); }
    std::string write(const TempDir& dir, const char* name) const {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // The leaf record of the root's entry `name` (ASCII): where its record data begins.
    uint8_t* rootEntryData(const std::string& name) {
        std::vector<uint8_t> key{0, 0, 0, 2, 0, static_cast<uint8_t>(name.size())};
        for (char c : name) key.insert(key.end(), {0, static_cast<uint8_t>(c)});
        for (uint32_t n = 1; n < nodes(); ++n) {
            uint8_t* nd = node(n);
            if (nd[8] != 0xFF) continue;  // leaves only
            auto at = std::search(nd, nd + nodeSize, key.begin(), key.end());
            if (at != nd + nodeSize) return at + loadBE16(at - 2);
        }
        return nullptr;
    }
};

// Walks every folder from the root; returns the faults met, each walk going on past the others.
std::vector<std::string> walkEverything(hfsplus::Volume& volume) {
    std::vector<std::string> faults;
    std::function<void(uint32_t, int)> folder = [&](uint32_t id, int depth) {
        std::vector<uint32_t> folders;
        Status s = volume.forEachEntry(id, [&](const CatalogRecord& r) {
            if (r.isFolder()) folders.push_back(r.id);
            return true;
        });
        if (!s) faults.push_back(s.fault());
        if (depth < 8)
            for (uint32_t f : folders) folder(f, depth + 1);
    };
    folder(hfsplus::cnid::kRootFolder, 0);
    return faults;
}

bool mentions(const std::vector<std::string>& texts, const std::string& part) {
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

class HfsPlusDamage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sound.volume) << sound.fault;
        Result<std::optional<CatalogRecord>> many = sound->lookup(2, "Many");
        ASSERT_TRUE(many && many->has_value());
        manyId = (*many)->id;
        ASSERT_GE(raw.nodeSize, 512u);
    }
    HfsPlusImage sound{kImage};
    RawImage raw;
    TempDir dir;
    uint32_t manyId = 0;
};

TEST_F(HfsPlusDamage, ARecordOffsetOutsideItsNodeIsNamedAndEndsOnlyTheWalksThatMeetIt) {
    const uint32_t leaf = raw.firstLeaf();
    storeBE16(raw.node(leaf) + raw.nodeSize - 4, static_cast<uint16_t>(raw.nodeSize - 3));  // record 1
    HfsPlusImage damaged(raw.write(dir, "offset.iso"));
    ASSERT_TRUE(damaged.volume) << damaged.fault;  // the root's leaf is lost, not the volume
    const std::string place = "catalog node " + std::to_string(leaf) + ": record 1 offset " + std::to_string(raw.nodeSize - 3) +
                              " outside the node";
    Result<std::vector<CatalogRecord>> root = damaged->entries(2);
    ASSERT_FALSE(root);
    EXPECT_EQ(root.fault(), place);
    EXPECT_TRUE(mentions(damaged->damage(), place));
    // A folder whose records lie in the last leaves (the one made last, of the highest ID) is
    // read as before.
    Result<std::vector<CatalogRecord>> rootEntries = sound->entries(2);
    ASSERT_TRUE(rootEntries);
    uint32_t last = 0;
    for (const CatalogRecord& r : *rootEntries)
        if (r.isFolder()) last = std::max(last, r.id);
    Result<std::vector<CatalogRecord>> before = sound->entries(last);
    Result<std::vector<CatalogRecord>> after = damaged->entries(last);
    ASSERT_TRUE(before && after) << after.fault();
    ASSERT_EQ(after->size(), before->size());
    EXPECT_EQ(after->front().storedName, before->front().storedName);
}

TEST_F(HfsPlusDamage, AnIndexPointerBackToTheRootEndsTheDescent) {
    const uint32_t root = raw.root();
    uint8_t* nd = raw.node(root);
    ASSERT_EQ(nd[8], 0) << "the catalog needs an index node for this test";
    const uint16_t count = loadBE16(nd + 10);
    const uint16_t last = loadBE16(nd + raw.nodeSize - 2 - 2 * (count - 1));
    storeBE32(nd + last + 2 + loadBE16(nd + last), root);
    HfsPlusImage damaged(raw.write(dir, "cycle.iso"));
    const std::vector<std::string> faults = damaged.volume ? walkEverything(*damaged) : std::vector<std::string>{damaged.fault};
    const std::string place = "catalog node " + std::to_string(root) + ": index leads back to node " + std::to_string(root);
    EXPECT_TRUE(mentions(faults, place)) << (faults.empty() ? "no fault" : faults.front());
    if (damaged.volume) {
        EXPECT_TRUE(mentions(damaged->damage(), place));
    }
}

TEST_F(HfsPlusDamage, ALeafChainThatLoopsIsNamedWhereItTurnsBack) {
    for (uint32_t n = 1; n < raw.nodes(); ++n)
        if (raw.node(n)[8] == 0xFF) storeBE32(raw.node(n), n);  // every leaf's forward link to itself
    HfsPlusImage damaged(raw.write(dir, "chain.iso"));
    ASSERT_TRUE(damaged.volume) << damaged.fault;
    // The 300 files of Many, with their threads, fill several leaves.
    Result<std::vector<CatalogRecord>> many = damaged->entries(manyId);
    ASSERT_FALSE(many);
    EXPECT_NE(many.fault().find("leaf chain loops back to node"), std::string::npos) << many.fault();
}

TEST_F(HfsPlusDamage, AnExtentPastTheVolumesEndIsAFaultOfThatForkOnly) {
    uint8_t* data = raw.rootEntryData("big.bin");
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(loadBE16(data), 2);  // a file record
    storeBE32(data + 88 + 16 + 4, 0x7FFFFFF0);  // the data fork's first extent's block count
    HfsPlusImage damaged(raw.write(dir, "extent.iso"));
    ASSERT_TRUE(damaged.volume) << damaged.fault;
    Result<std::optional<CatalogRecord>> big = damaged->lookup(2, "big.bin");
    ASSERT_TRUE(big && big->has_value());
    hfsplus::ForkReader reader = damaged->fork(**big, hfsplus::ForkKind::Data);
    MemorySink sink;
    Status s = reader.copyTo(sink);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.fault(), "file " + std::to_string((*big)->id) + ", data fork: extent of 2147483632 blocks at block " +
                             std::to_string((*big)->dataFork.extents[0].startBlock) + " lies past the end of the volume (" +
                             std::to_string(damaged->figures().totalBlocks) + " blocks)");
    EXPECT_TRUE(sink.bytes.empty());
    // The other files read as before.
    Result<std::optional<CatalogRecord>> readMe = damaged->lookup(2, "Read Me");
    ASSERT_TRUE(readMe && readMe->has_value());
    MemorySink text;
    ASSERT_TRUE(damaged->fork(**readMe, hfsplus::ForkKind::Data).copyTo(text));
    EXPECT_EQ(std::string(text.bytes.begin(), text.bytes.end()), "Read me first.\r");
}

TEST_F(HfsPlusDamage, HeaderNodeFieldsThatCannotBeAreRefusedOrBounded) {
    // A node size that is no power of two: no catalog, no volume.
    storeBE16(raw.node(0) + 32, 3000);
    HfsPlusImage badSize(raw.write(dir, "size.iso"));
    EXPECT_FALSE(badSize.volume);
    EXPECT_EQ(badSize.fault, "catalog node 0: node size 3000 is not a power of two from 512 to 32768");
    // Four billion nodes claimed: only those the fork holds are read, and the walk goes on.
    storeBE16(raw.node(0) + 32, static_cast<uint16_t>(raw.nodeSize));
    storeBE32(raw.node(0) + 36, 0xFFFFFFFF);
    HfsPlusImage huge(raw.write(dir, "nodes.iso"));
    ASSERT_TRUE(huge.volume) << huge.fault;
    EXPECT_TRUE(mentions(huge->damage(), "catalog node 0: the header counts 4294967295 nodes"));
    EXPECT_TRUE(walkEverything(*huge).empty());
}

TEST_F(HfsPlusDamage, TheJournalsStateIsReadInEitherByteOrder) {
    // xorriso writes no journal: one is planted in the blocks its bitmap leaves free, the info
    // block at 1824 and the journal's header at the start of block 1825.
    const uint32_t infoBlock = 1824;
    const uint64_t journalOffset = uint64_t{1825} * raw.blockSize;
    storeBE32(raw.header() + 4, loadBE32(raw.header() + 4) | (1u << 13));
    storeBE32(raw.header() + 12, infoBlock);
    uint8_t* info = raw.bytes.data() + raw.volume + uint64_t{infoBlock} * raw.blockSize;
    storeBE32(info, 1);  // the journal lies in this volume
    storeBE32(info + 36, static_cast<uint32_t>(journalOffset >> 32));
    storeBE32(info + 40, static_cast<uint32_t>(journalOffset));
    storeBE32(info + 48, 4096);
    uint8_t* head = raw.bytes.data() + raw.volume + journalOffset;
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
        HfsPlusImage journaled(raw.write(dir, "journal.iso"));
        ASSERT_TRUE(journaled.volume) << journaled.fault;
        EXPECT_TRUE(journaled->figures().journaled);
        EXPECT_EQ(journaled->figures().journalPending, c.pending) << c.big << " " << c.end;
        EXPECT_EQ(journaled->figures().journalNote, "");
    }
    // A header that is none is said, not taken for an empty journal.
    head[0] = 0;
    HfsPlusImage broken(raw.write(dir, "journal.iso"));
    ASSERT_TRUE(broken.volume) << broken.fault;
    EXPECT_EQ(broken->figures().journalNote, "the journal header at byte " + std::to_string(journalOffset) +
                                                 " of the volume is not one");
}

TEST_F(HfsPlusDamage, AttributesInlineAndInForksAreTheOnes7ZipLists) {
    // xorriso writes no attributes tree: one of two 4096-byte nodes is planted in the blocks its
    // bitmap leaves free (1824 on), with two attributes of "Read Me": com.apple.ResourceFork in
    // a fork (big.bin's blocks) and com.example.note inline.
    Result<std::optional<CatalogRecord>> readMe = sound->lookup(2, "Read Me");
    Result<std::optional<CatalogRecord>> big = sound->lookup(2, "big.bin");
    ASSERT_TRUE(readMe && readMe->has_value() && big && big->has_value());
    const uint32_t id = (*readMe)->id;
    constexpr uint32_t kNode = 4096;
    uint8_t* tree = raw.bytes.data() + raw.volume + uint64_t{1824} * raw.blockSize;
    std::fill_n(tree, 2 * kNode, 0);
    auto offsets = [&](uint8_t* node, std::initializer_list<uint16_t> offs) {
        size_t i = 0;
        for (uint16_t o : offs) storeBE16(node + kNode - 2 - 2 * i++, o);
    };
    tree[8] = 1;                                  // header node
    storeBE16(tree + 10, 3);
    storeBE16(tree + 14, 1);                      // depth
    storeBE32(tree + 16, 1);                      // root
    storeBE32(tree + 20, 2);                      // leaf records
    storeBE32(tree + 24, 1);                      // first leaf
    storeBE32(tree + 28, 1);                      // last leaf
    storeBE16(tree + 32, kNode);
    storeBE16(tree + 34, 266);                    // maximum key length
    storeBE32(tree + 36, 2);                      // nodes
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
    storeBE32(leaf + at, 0x20);                   // fork data
    storeBE32(leaf + at + 8 + 4, 0);
    storeBE32(leaf + at + 8 + 4, 3000000);        // logical size, low word
    storeBE32(leaf + at + 8 + 12, (*big)->dataFork.totalBlocks);
    storeBE32(leaf + at + 8 + 16, (*big)->dataFork.extents[0].startBlock);
    storeBE32(leaf + at + 8 + 20, (*big)->dataFork.extents[0].blockCount);
    at += 88;
    key(u"com.example.note");
    storeBE32(leaf + at, 0x10);                   // inline data
    storeBE32(leaf + at + 12, 6);
    std::memcpy(leaf + at + 16, "a note", 6);
    at += 24;
    recordAt.push_back(static_cast<uint16_t>(at));
    offsets(leaf, {recordAt[0], recordAt[1], recordAt[2]});
    uint8_t* fork = raw.header() + 352;           // the attributes file's fork data
    storeBE32(fork + 4, 2 * kNode);
    storeBE32(fork + 12, 4);
    storeBE32(fork + 16, 1824);
    storeBE32(fork + 20, 4);
    const std::string path = raw.write(dir, "attributes.iso");

    HfsPlusImage image(path);
    ASSERT_TRUE(image.volume) << image.fault;
    ASSERT_NE(image->attributesTree(), nullptr);
    Result<std::vector<hfsplus::Attribute>> all = image->attributes(id);
    ASSERT_TRUE(all) << all.fault();
    // 7-Zip lists them as streams "HFSPLUS/Read Me:NAME" with their sizes.
    std::map<std::string, uint64_t> listed, mine;
    const auto sevenZip = sevenZipListing(path, SevenZipStreams::Yes);
    for (const auto& [p, e] : sevenZip)
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
    MemorySink bigBytes;
    ASSERT_TRUE(image->fork(**big, hfsplus::ForkKind::Data).copyTo(bigBytes));
    EXPECT_EQ(bytes["com.apple.ResourceFork"], bigBytes.bytes);
    Result<std::optional<hfsplus::Attribute>> one = image->attribute(id, u"com.example.note");
    ASSERT_TRUE(one && one->has_value());
    EXPECT_FALSE(image->attributeBytes(id, **one, 5));  // past the limit
    Result<std::optional<hfsplus::Attribute>> none = image->attribute((*big)->id, u"com.example.note");
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->has_value());
    EXPECT_TRUE(image->damage().empty()) << image->damage().front();
}

TEST_F(HfsPlusDamage, AForkOfMoreThanFourGigabytesIsReadWithItsOffsetsWhole) {
    // The volume grown to 1.75 Mi blocks (3.5 GiB, a sparse file: the drive's six-byte reads
    // reach 4 GiB) and big.bin to 5 GiB + 3 bytes: its own 1465 blocks, then the same 800,000
    // blocks from block 1,000,000 three times (a reader need not mind), then 219,976 of them
    // again, the last three bytes "END".
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    constexpr uint64_t kLength = 5 * kGiB + 3;
    constexpr uint32_t kStart = 1000000;
    storeBE32(raw.header() + 44, 1835008);
    uint8_t* data = raw.rootEntryData("big.bin");
    ASSERT_NE(data, nullptr);
    uint8_t* fork = data + 88;
    ASSERT_EQ(loadBE32(fork + 16 + 4), 1465u);
    storeBE32(fork, static_cast<uint32_t>(kLength >> 32));
    storeBE32(fork + 4, static_cast<uint32_t>(kLength));
    storeBE32(fork + 12, static_cast<uint32_t>((kLength + raw.blockSize - 1) / raw.blockSize));
    const uint32_t counts[] = {800000, 800000, 800000, 219976};
    for (int e = 0; e < 4; ++e) {
        storeBE32(fork + 24 + 8 * e, kStart);
        storeBE32(fork + 28 + 8 * e, counts[e]);
    }
    const std::string path = raw.write(dir, "huge.iso");
    std::filesystem::resize_file(path, raw.volume + uint64_t{1835008} * raw.blockSize);
    const uint64_t lastRun = uint64_t{1465 + 3 * 800000} * raw.blockSize;
    const uint64_t endAt = raw.volume + uint64_t{kStart} * raw.blockSize + (kLength - 3 - lastRun);
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(endAt));
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
    EXPECT_EQ(runs->back().mediumOffset, raw.volume + uint64_t{kStart} * raw.blockSize);
    EXPECT_EQ(runs->back().forkOffset, lastRun);
    EXPECT_EQ(runs->back().length, kLength - lastRun);
    std::vector<uint8_t> tail(3);
    Status read = reader.read(kLength - 3, tail);
    ASSERT_TRUE(read) << read.fault();
    EXPECT_EQ(std::string(tail.begin(), tail.end()), "END");
    // A read across two extents past 4 GiB of the fork gives the same bytes as one at their
    // common start on the medium.
    const uint64_t seam = uint64_t{1465 + 2 * 800000} * raw.blockSize;
    std::vector<uint8_t> across(4096), again(4096);
    ASSERT_TRUE(reader.read(seam - 2048, across));
    ASSERT_TRUE(reader.read(uint64_t{1465 + 800000} * raw.blockSize - 2048, again));
    EXPECT_EQ(across, again);
    EXPECT_FALSE(reader.read(kLength - 2, tail));
}

TEST_F(HfsPlusDamage, AForkGoesOnThroughTheExtentsOverflowTreeAs7ZipReadsIt) {
    // big.bin's 1465 blocks given as eight one-block extents in its catalog record and the rest
    // in a record of the extents tree, whose one header node gains a leaf in block 1824 (free in
    // xorriso's bitmap).
    Result<std::optional<CatalogRecord>> big = sound->lookup(2, "big.bin");
    ASSERT_TRUE(big && big->has_value());
    const uint32_t first = (*big)->dataFork.extents[0].startBlock;
    uint8_t* data = raw.rootEntryData("big.bin");
    ASSERT_NE(data, nullptr);
    for (uint32_t e = 0; e < 8; ++e) {
        storeBE32(data + 88 + 16 + 8 * e, first + e);
        storeBE32(data + 88 + 20 + 8 * e, 1);
    }
    uint8_t* extentsFork = raw.header() + 192;
    const uint32_t headerBlock = loadBE32(extentsFork + 16);
    ASSERT_EQ(loadBE32(extentsFork + 4), raw.blockSize) << "xorriso's extents tree is no longer one block";
    storeBE32(extentsFork + 4, 2 * raw.blockSize);
    storeBE32(extentsFork + 12, 2);
    storeBE32(extentsFork + 24, 1824);
    storeBE32(extentsFork + 28, 1);
    uint8_t* head = raw.bytes.data() + raw.volume + uint64_t{headerBlock} * raw.blockSize;
    ASSERT_EQ(loadBE16(head + 32), raw.blockSize);  // one node per block
    storeBE16(head + 14, 1);                         // depth
    storeBE32(head + 16, 1);                         // root
    storeBE32(head + 20, 1);                         // leaf records
    storeBE32(head + 24, 1);                         // first leaf
    storeBE32(head + 28, 1);                         // last leaf
    storeBE32(head + 36, 2);                         // nodes
    uint8_t* leaf = raw.bytes.data() + raw.volume + uint64_t{1824} * raw.blockSize;
    std::fill_n(leaf, raw.blockSize, 0);
    leaf[8] = 0xFF;
    leaf[9] = 1;
    storeBE16(leaf + 10, 1);
    storeBE16(leaf + 14, 10);                        // key length; data fork; file; start block 8
    storeBE32(leaf + 18, (*big)->id);
    storeBE32(leaf + 22, 8);
    storeBE32(leaf + 26, first + 8);
    storeBE32(leaf + 30, 1465 - 8);
    storeBE16(leaf + raw.blockSize - 2, 14);
    storeBE16(leaf + raw.blockSize - 4, 90);
    const std::string path = raw.write(dir, "overflow.iso");

    HfsPlusImage image(path);
    ASSERT_TRUE(image.volume) << image.fault;
    Result<std::optional<CatalogRecord>> moved = image->lookup(2, "big.bin");
    ASSERT_TRUE(moved && moved->has_value());
    hfsplus::ForkReader reader = image->fork(**moved, hfsplus::ForkKind::Data);
    MemorySink mine;
    Status s = reader.copyTo(mine);
    ASSERT_TRUE(s) << s.fault();
    TempDir out;
    const std::vector<std::string> argv{"7zz", "x", "-y", "-tHFS", "-o" + out.path(), path, "HFSPLUS/big.bin"};
    ProcessResult r = runProcess(argv, kOracleEnvironment);
    ASSERT_TRUE(r.started && r.exitCode <= 1) << r.describe(argv);
    std::ifstream in(out.file("HFSPLUS/big.bin"), std::ios::binary);
    const std::vector<uint8_t> extracted{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(extracted.size(), 3000000u);
    EXPECT_EQ(mine.bytes, extracted);
    // The eight one-block extents are neighbours on the medium, and so is the rest: one run.
    Result<std::vector<hfsplus::MediumRun>> runs = reader.runs();
    ASSERT_TRUE(runs);
    EXPECT_EQ(runs->size(), 1u);
    EXPECT_TRUE(image->damage().empty()) << image->damage().front();

    // The overflow record's extent sent past the end of the volume: a fault of the tree's leaf.
    storeBE32(leaf + 30, 0x10000000);
    HfsPlusImage damaged(raw.write(dir, "overflow-past.iso"));
    ASSERT_TRUE(damaged.volume) << damaged.fault;
    Result<std::optional<CatalogRecord>> again = damaged->lookup(2, "big.bin");
    ASSERT_TRUE(again && again->has_value());
    Result<std::vector<hfsplus::MediumRun>> past = damaged->fork(**again, hfsplus::ForkKind::Data).runs();
    ASSERT_FALSE(past);
    EXPECT_EQ(past.fault(), "file " + std::to_string((*again)->id) +
                                ", data fork: extents node 1: record 0: extent of 268435456 blocks at block " +
                                std::to_string(first + 8) + " lies past the end of the volume");
    EXPECT_TRUE(mentions(damaged->damage(), "extents node 1: record 0: extent of 268435456 blocks"));
    // And no record at all: the extents end before the fork does.
    storeBE32(leaf + 18, 1);
    HfsPlusImage missing(raw.write(dir, "overflow-missing.iso"));
    ASSERT_TRUE(missing.volume) << missing.fault;
    Result<std::optional<CatalogRecord>> third = missing->lookup(2, "big.bin");
    ASSERT_TRUE(third && third->has_value());
    past = missing->fork(**third, hfsplus::ForkKind::Data).runs();
    ASSERT_FALSE(past);
    EXPECT_EQ(past.fault(), "file " + std::to_string((*third)->id) + ", data fork: its extents end at byte " +
                                std::to_string(8 * raw.blockSize) + ", before its length of 3000000 bytes");
}

}  // namespace
}  // namespace quarry::test
