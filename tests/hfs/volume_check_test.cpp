// The volume check, as quarry-cli --check runs it: every volume hfsutils and genisoimage made is
// sound, and each damage bent into a copy of one is found and named, with nothing else reported.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>

#include "hfs/volume_check.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::Bytes;
using test::HfsImage;
using test::Tree;

using Lines = std::vector<std::string>;

// MDB fields the builder does not name.
constexpr size_t kDrVBMSt = 14;  // first sector of the bitmap
constexpr size_t kDrFreeBks = 34;
constexpr size_t kDrFilCnt = 84;
constexpr size_t kDepth = 14;       // header record: bthDepth
constexpr size_t kFirstLeaf = 24;   // bthFNode
constexpr size_t kThreadParent = 10;

uint32_t mdb16(const Bytes& b, size_t field) { return test::readBe(b, 1024 + field, 2); }

// Byte and mask of an allocation block's bit in the bitmap of a bare volume.
std::pair<size_t, uint8_t> bitmapBit(const Bytes& b, uint32_t block) {
    return {size_t{mdb16(b, kDrVBMSt)} * test::kSectorSize + block / 8, static_cast<uint8_t>(0x80 >> (block % 8))};
}

// The thread record of folder `id`.
test::CatalogRecord threadOf(const HfsImage& img, uint32_t id) {
    const uint32_t nodes = img.header32(Tree::Catalog, test::btheader::kTotalNodes);
    for (uint32_t n = 1; n < nodes; ++n)
        for (const auto& r : img.catalogRecords(n))
            if (r.type == 3 && r.parentId == id) return r;
    throw std::runtime_error("no thread for folder " + std::to_string(id));
}

// quarry-cli --check: its status, the problem lines on standard output, the notes on standard error.
test::ProcessResult check(const std::string& image) { return test::runCli({"--check", image}); }

std::string joined(const Lines& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

TEST(VolumeCheck, VolumesTheToolsMadeAreSound) {
    std::vector<std::string> images = {QUARRY_SAMPLE_DIR "/sample.hfs"};
    for (const char* name : {"basic.hfs", "many.hfs", "fragmented.hfs", "catalog-overflow.hfs", "hostile.hfs", "order.hfs",
                             "names-1.hfs", "names-2.hfs", "names-3.hfs", "names-4.hfs", "names-5.hfs", "crowded.hfs", "hybrid.iso",
                             "names.iso", "padded.iso", "short-threads.hfs", "unpadded.iso"})
        images.push_back(test::fixturePath(name));
    for (const std::string& image : images) {
        SCOPED_TRACE(image);
        const auto r = check(image);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
        // genisoimage marks every block used on its locked hybrids, and machfs ends threads after
        // their names: notes, not problems.
        if (image.ends_with(".iso")) {
            EXPECT_NE(r.err.find("note: locked volume: "), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err, image.ends_with("short-threads.hfs") ? "note: catalog node 1 record 1: thread record shorter than 46 "
                                                                  "bytes, holding its whole name (and 4 more)\n"
                                                                : "");
        }
    }
    // A volume name longer than its field allows is shown cut, and named by a note, not refused.
    test::TempDir named;
    const auto longName = check(test::bentFixture(named, "basic.hfs", [](test::Bytes& b) { b[1024 + 36] = 40; }));
    EXPECT_EQ(std::tuple(longName.exitCode, longName.out), std::tuple(0, std::string()));
    EXPECT_EQ(longName.err, "note: MDB: volume name of 40 characters, longer than 27; its first 27 are shown\n");
    // On a CD whose driver descriptor counts 2048-byte blocks, the medium's size is taken in them.
    test::TempDir dir;
    test::writeFile(dir.file("apm2048.img"), test::behindPartitionMap(test::readFile(test::fixturePath("basic.hfs")), 64, 2048));
    EXPECT_EQ(check(dir.file("apm2048.img")).out, "");
    // What is no HFS volume, and lines after --check, are refused.
    EXPECT_EQ(check(test::fixturePath("plain.iso")).exitCode, 1);
    EXPECT_EQ(test::runCli({"--check", test::fixturePath("basic.hfs"), "DIR"}).exitCode, 2);
}

struct Damage {
    const char* what;
    const char* image;
    // Bends the copy and returns the problem lines the check must report, exactly.
    std::function<Lines(Bytes&, HfsImage&)> apply;
};

const Damage kDamages[] = {
    {"alternate MDB of another layout", "basic.hfs",
     [](Bytes& b, HfsImage&) {
         // hformat puts the alternate MDB in the volume's second-to-last sector.
         const size_t alternate = b.size() - 2 * test::kSectorSize;
         test::writeBe(b, alternate + test::mdb::kDrNmAlBlks, 2, mdb16(b, test::mdb::kDrNmAlBlks) - 1);
         return Lines{"alternate MDB at sector " + std::to_string(alternate / test::kSectorSize) +
                      ": allocation blocks differs from the MDB's"};
     }},
    {"wrong valence", "basic.hfs",
     [](Bytes&, HfsImage& img) {
         const auto docs = img.lookup(":Docs");
         img.setRecordData16(docs, test::catfolder::kValence, 5);
         return Lines{"catalog: folder " + std::to_string(docs.id) + " has valence 5 but holds 3 entries"};
     }},
    {"wrong file count", "basic.hfs",
     [](Bytes&, HfsImage& img) {
         const uint32_t files = img.mdb32(kDrFilCnt);
         img.setMdb32(kDrFilCnt, files + 1);
         return Lines{"MDB: file count " + std::to_string(files + 1) + ", the catalog holds " + std::to_string(files)};
     }},
    {"wrong root file count", "basic.hfs",
     [](Bytes& b, HfsImage& img) {
         const uint32_t files = mdb16(b, test::mdb::kDrNmFls);
         img.setMdb16(test::mdb::kDrNmFls, static_cast<uint16_t>(files - 1));
         return Lines{"MDB: root file count " + std::to_string(files - 1) + ", the catalog holds " + std::to_string(files)};
     }},
    {"swapped pair of keys", "many.hfs",
     [](Bytes& b, HfsImage& img) {
         const auto kids = img.children(img.lookup(":Big Folder").id);
         for (size_t i = 0; i + 1 < kids.size(); ++i) {
             const auto &a = kids[i], &c = kids[i + 1];
             if (a.node != c.node || a.index == 0 || a.type != test::catrec::kFile || c.type != test::catrec::kFile) continue;
             // Two file records with names of one length are the same size: swap them whole.
             const size_t size = c.offset - a.offset;
             std::swap_ranges(b.begin() + static_cast<long>(a.offset), b.begin() + static_cast<long>(a.offset + size),
                              b.begin() + static_cast<long>(c.offset));
             return Lines{"catalog node " + std::to_string(a.node) + ": keys out of order at record " + std::to_string(c.index)};
         }
         throw std::runtime_error("no pair of files inside one leaf");
     }},
    {"bitmap bit cleared under a file", "basic.hfs",
     [](Bytes& b, HfsImage& img) {
         const auto file = img.lookup(":Read Me");
         const uint32_t block = img.forkExtents(file, test::Fork::Data).at(0).startBlock;
         const auto [at, mask] = bitmapBit(b, block);
         b[at] &= static_cast<uint8_t>(~mask);
         img.setMdb16(kDrFreeBks, static_cast<uint16_t>(mdb16(b, kDrFreeBks) + 1));
         return Lines{"file " + std::to_string(file.id) + " data fork: allocation block " +
                      std::to_string(block) + " is free in the bitmap"};
     }},
    {"bitmap bit set for nothing", "basic.hfs",
     [](Bytes& b, HfsImage& img) {
         const uint32_t last = mdb16(b, test::mdb::kDrNmAlBlks) - 1;  // basic.hfs is far from full
         const auto [at, mask] = bitmapBit(b, last);
         if (b[at] & mask) throw std::runtime_error("the last block is in use");
         b[at] |= mask;
         img.setMdb16(kDrFreeBks, static_cast<uint16_t>(mdb16(b, kDrFreeBks) - 1));
         return Lines{"bitmap: allocation block " + std::to_string(last) + " is in use but no fork or tree holds it"};
     }},
    {"free count against the bitmap", "basic.hfs",
     [](Bytes& b, HfsImage& img) {
         const uint32_t free = mdb16(b, kDrFreeBks);
         img.setMdb16(kDrFreeBks, static_cast<uint16_t>(free - 2));
         return Lines{"MDB: " + std::to_string(free - 2) + " free blocks, the bitmap has " + std::to_string(free) + " clear"};
     }},
    {"broken backward link", "basic.hfs",
     [](Bytes& b, HfsImage& img) {
         const uint32_t first = img.header32(Tree::Catalog, kFirstLeaf);
         const uint32_t second = static_cast<uint32_t>(test::readBe(b, img.nodeOffset(Tree::Catalog, first), 4));
         test::writeBe(b, img.nodeOffset(Tree::Catalog, second) + 4, 4, 0);
         return Lines{"catalog node " + std::to_string(second) + ": backward link 0, the chain comes from " +
                      std::to_string(first)};
     }},
    {"leaf chain loop", "basic.hfs",
     [](Bytes& b, HfsImage& img) {
         const uint32_t first = img.header32(Tree::Catalog, kFirstLeaf);
         const uint32_t second = static_cast<uint32_t>(test::readBe(b, img.nodeOffset(Tree::Catalog, first), 4));
         img.setForwardLink(Tree::Catalog, second, first);
         return Lines{"catalog node " + std::to_string(second) + ": leaf chain loops back to node " + std::to_string(first),
                      "catalog node 0: last leaf " + std::to_string(img.header32(Tree::Catalog, 28)) + ", the leaf chain ends at " +
                      std::to_string(second)};
     }},
    {"index key differs from its child's first key", "many.hfs",
     [](Bytes& b, HfsImage& img) {
         const auto root = img.catalogRecords(img.header32(Tree::Catalog, test::btheader::kRoot));
         // Index keys keep their full length, so a shorter name still sorts after the key before it.
         const auto& r = root.at(root.size() - 1);
         test::writeBe(b, r.offset + test::catkey::kNameLength, 1, static_cast<uint32_t>(r.name.size() - 1));
         return Lines{"catalog node " + std::to_string(r.node) + ": index key for node " +
                      std::to_string(r.child) + " differs from its first key"};
     }},
    {"missing thread", "basic.hfs",
     [](Bytes& b, HfsImage& img) {
         const uint32_t id = img.lookup(":Docs:Old Drafts").id;
         test::writeBe(b, threadOf(img, id).dataOffset, 1, 4);  // now a file thread
         return Lines{"catalog: thread for file " + std::to_string(id) + " without a file record",
                      "catalog: folder " + std::to_string(id) + " has no thread"};
     }},
    {"thread names another parent", "basic.hfs",
     [](Bytes& b, HfsImage& img) {
         const auto drafts = img.lookup(":Docs:Old Drafts");
         test::writeBe(b, threadOf(img, drafts.id).dataOffset + kThreadParent, 4, 2);
         return Lines{"catalog: folder " + std::to_string(drafts.id) + ": its thread names parent 2, its record lies in " +
                      std::to_string(drafts.parentId)};
     }},
    {"free node count of the catalog", "basic.hfs",
     [](Bytes&, HfsImage& img) {
         const uint32_t free = img.header32(Tree::Catalog, test::btheader::kFreeNodes);
         img.setHeader32(Tree::Catalog, test::btheader::kFreeNodes, free + 1);
         return Lines{"catalog node 0: header counts " + std::to_string(free + 1) + " free nodes, the map " + std::to_string(free)};
     }},
    {"logical length past the physical one", "basic.hfs",
     [](Bytes&, HfsImage& img) {
         const auto file = img.lookup(":Read Me");
         const uint32_t physical = img.recordData32(file, test::catfile::kDataPhysicalLength);
         img.setRecordData32(file, test::catfile::kDataLogicalLength, physical + 1);
         return Lines{"file " + std::to_string(file.id) + " data fork: logical length " +
                      std::to_string(physical + 1) + " exceeds its physical length " + std::to_string(physical)};
     }},
    {"depth against the root's height", "basic.hfs",
     [](Bytes& b, HfsImage& img) {
         test::writeBe(b, img.nodeOffset(Tree::Catalog, 0) + kDepth, 2, 3);
         return Lines{"catalog node 0: depth 3, the root's height is 2"};
     }},
    {"overflow record out of step with its fork", "fragmented.hfs",
     [](Bytes& b, HfsImage& img) {
         const uint32_t leaf = img.header32(Tree::Extents, kFirstLeaf);
         const size_t node = img.nodeOffset(Tree::Extents, leaf);
         const uint32_t count = test::readBe(b, node + 10, 2);
         const size_t key = node + test::readBe(b, node + test::kSectorSize - 2 * count, 2);  // the last record
         const uint32_t start = test::readBe(b, key + 6, 2);
         test::writeBe(b, key + 6, 2, start + 1);
         const uint32_t file = test::readBe(b, key + 2, 4);
         const char* fork = test::readBe(b, key + 1, 1) ? " resource fork" : " data fork";
         return Lines{"extents: record for file " + std::to_string(file) + fork + " starts at fork block " +
                      std::to_string(start + 1) + ", the extents before it end at " + std::to_string(start)};
     }},
};

TEST(VolumeCheck, FindsEachDamage) {
    test::TempDir dir;
    for (const Damage& d : kDamages) {
        std::vector<std::string> expected;
        const std::string copy = test::bentFixture(dir, d.image, [&](Bytes& b) {
            HfsImage img(b);
            expected = d.apply(b, img);
        });
        const auto r = check(copy);
        EXPECT_EQ(r.exitCode, 1) << d.what;
        EXPECT_EQ(r.out, joined(expected)) << d.what;
    }
}

// Garbage over the records of any one catalog node is found, and the check ends without a crash
// or a hang however the links and offsets it meets are bent.
TEST(VolumeCheck, GarbageInAnyCatalogNodeIsFound) {
    test::TempDir dir;
    const Bytes original = test::readFile(test::fixturePath("basic.hfs"));
    const uint32_t nodes = HfsImage(*std::make_unique<Bytes>(original)).header32(Tree::Catalog, test::btheader::kTotalNodes);
    uint32_t state = 20240607, checked = 0;
    for (uint32_t n = 0; n < nodes; ++n) {
        Bytes bytes = original;
        HfsImage img(bytes);
        const size_t at = img.nodeOffset(Tree::Catalog, n);
        if (std::all_of(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + 512),
                        [](uint8_t v) { return v == 0; }))
            continue;  // a free node: nothing reads it
        for (size_t i = 0; i < 64; ++i) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            bytes[at + 14 + i] = static_cast<uint8_t>(state);
        }
        const std::string copy = dir.file("node" + std::to_string(n) + ".hfs");
        test::writeFile(copy, bytes);
        test::MountedImage m(copy, test::MountExpected::No);
        if (m.mountResult != 1) continue;  // the mount refused it already
        EXPECT_FALSE(checkVolume(m.session.volumeContext()).problems.empty()) << "node " << n;
        ++checked;
    }
    // The nodes outside the root folder's listing pass the mount: nine of basic.hfs's.
    EXPECT_GE(checked, 5u) << checked << " of " << nodes;
}

}  // namespace
}  // namespace quarry
