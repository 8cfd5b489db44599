// Checks of the tests' own tools: the image builder's layouts and patches are compared with what
// hfsutils reads from the result, and the hfsutils oracle with what the builder reads, so that
// neither can drift into agreeing with a mistake of the code they are used to test.

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <set>
#include <string>

#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

std::string text(const Bytes& bytes, size_t at, size_t n) {
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
}

std::string asString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

const OracleEntry* entryNamed(const std::vector<OracleEntry>& entries, const std::string& name) {
    for (const auto& e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

// Every folder under `folder`, as (hfsutils path, folder ID), the folder itself first.
void collectFolders(const HfsImage& image, const std::string& path, uint32_t folderId,
                    std::vector<std::pair<std::string, uint32_t>>& out) {
    out.emplace_back(path, folderId);
    for (const CatalogRecord& r : image.children(folderId))
        if (r.type == catrec::kFolder)
            collectFolders(image, (path == ":" ? ":" : path + ":") + r.name, r.id, out);
}

TEST(ImageBuilder, PartitionMapPlacesTheVolumeWhereHfsutilsFindsIt) {
    const Bytes volume = readFile(fixturePath("basic.hfs"));
    const Bytes medium = behindPartitionMap(volume, 64);

    EXPECT_EQ(text(medium, 0, 2), "ER");
    EXPECT_EQ(readBe16(medium, 2), 512);
    EXPECT_EQ(readBe32(medium, 4), medium.size() / 512);
    EXPECT_EQ(text(medium, 512, 2), "PM");
    EXPECT_EQ(readBe32(medium, 512 + 4), 2u);
    EXPECT_EQ(text(medium, 512 + 48, 20), std::string("Apple_partition_map\0", 20));
    EXPECT_EQ(text(medium, 1024, 2), "PM");
    EXPECT_EQ(readBe32(medium, 1024 + 8), 64u);
    EXPECT_EQ(readBe32(medium, 1024 + 12), volume.size() / 512);
    EXPECT_EQ(text(medium, 1024 + 48, 10), std::string("Apple_HFS\0", 10));
    EXPECT_EQ(text(medium, 66 * 512, 2), "BD");

    TempDir dir;
    writeFile(dir.file("wrapped.img"), medium);
    EXPECT_EQ(hmountVolumeName(dir.file("wrapped.img")), "Test Vol");
    const auto wrapped = hlsList(dir.file("wrapped.img"), ":Docs");
    const auto bare = hlsList(fixturePath("basic.hfs"), ":Docs");
    ASSERT_EQ(wrapped.size(), bare.size());
    for (size_t i = 0; i < bare.size(); ++i) EXPECT_EQ(wrapped[i].name, bare[i].name);
}

TEST(ImageBuilder, SeveralPartitionsEachHoldTheirVolume) {
    const Bytes basic = readFile(fixturePath("basic.hfs"));
    const Bytes many = readFile(fixturePath("many.hfs"));
    const uint32_t first = 64, second = 64 + static_cast<uint32_t>(basic.size() / 512);
    Medium medium(8);
    medium
        .partitionMap({{"Extra", "Apple_Free", 4, 60},
                       {"First", "Apple_HFS", first, static_cast<uint32_t>(basic.size() / 512)},
                       {"Second", "Apple_HFS", second, static_cast<uint32_t>(many.size() / 512)}})
        .place(first, basic)
        .place(second, many);
    medium.driverDescriptor(1024, medium.sectorCount() / 2);
    Bytes bytes = medium.bytes();

    EXPECT_EQ(readBe16(bytes, 2), 1024);
    for (uint32_t entry = 1; entry <= 4; ++entry) EXPECT_EQ(readBe32(bytes, entry * 512 + 4), 4u);
    EXPECT_EQ(HfsImage(bytes, size_t{second} * 512).volumeName(), "Many Files");
    EXPECT_THROW(Medium(8).oldStyleMap(1).place(1, basic), std::runtime_error);

    TempDir dir;
    writeFile(dir.file("two.img"), bytes);
    EXPECT_EQ(hmountVolumeName(dir.file("two.img"), 2), "Many Files");
    EXPECT_NE(entryNamed(hlsList(dir.file("two.img"), ":", 2), "Thirty-Six"), nullptr);
}

TEST(ImageBuilder, OldStyleMapNamesTheVolumeStart) {
    Bytes medium = behindOldStyleMap(readFile(fixturePath("basic.hfs")), 40);
    EXPECT_EQ(text(medium, 512, 2), "TS");
    EXPECT_EQ(readBe32(medium, 514), 40u);
    EXPECT_EQ(text(medium, 42 * 512, 2), "BD");
    HfsImage image(medium, 40 * 512);
    EXPECT_TRUE(image.hasSignature());
    EXPECT_EQ(image.volumeName(), "Test Vol");
    EXPECT_EQ(image.lookup(":Docs:Old Drafts:Draft 2").type, catrec::kFile);
}

// The builder's catalog reader and hls must agree on every folder of every HFS fixture: names,
// IDs, kinds, sizes, types and valences.
TEST(HfsImage, CatalogAgreesWithHlsOnEveryFixture) {
    const std::vector<std::pair<std::string, size_t>> volumes{{"basic.hfs", 0},
                                                              {"many.hfs", 0},
                                                              {"fragmented.hfs", 0},
                                                              {"catalog-overflow.hfs", 0},
                                                              {"hybrid.iso", 16 * 512}};
    for (const auto& [fixture, offset] : volumes) {
        SCOPED_TRACE(fixture);
        Bytes bytes = readFile(fixturePath(fixture.c_str()));
        HfsImage image(bytes, offset);
        std::vector<std::pair<std::string, uint32_t>> folders;
        collectFolders(image, ":", 2, folders);
        for (const auto& [path, id] : folders) {
            SCOPED_TRACE(path);
            const auto records = image.children(id);
            const auto listed = hlsList(fixturePath(fixture.c_str()), path);
            ASSERT_EQ(listed.size(), records.size());
            std::map<uint32_t, const OracleEntry*> byId;
            for (const auto& e : listed) byId[e.catalogId] = &e;
            for (const CatalogRecord& r : records) {
                ASSERT_TRUE(byId.count(r.id)) << r.name;
                const OracleEntry& e = *byId[r.id];
                EXPECT_EQ(e.name, r.name);
                EXPECT_EQ(e.isFolder, r.type == catrec::kFolder);
                if (e.isFolder) {
                    EXPECT_EQ(e.valence, image.recordData16(r, catfolder::kValence));
                } else {
                    EXPECT_EQ(e.dataSize, image.recordData32(r, catfile::kDataLogicalLength));
                    EXPECT_EQ(e.rsrcSize, image.recordData32(r, catfile::kRsrcLogicalLength));
                    EXPECT_EQ(e.type, text(bytes, r.dataOffset + catfile::kFinderType, 4));
                    EXPECT_EQ(e.creator, text(bytes, r.dataOffset + catfile::kFinderCreator, 4));
                }
            }
        }
    }
}

TEST(HfsImage, PatchedDatesShowInHls) {
    Bytes bytes = readFile(fixturePath("basic.hfs"));
    HfsImage image(bytes);
    image.setDates(image.lookup(":Read Me"), macDate(1965, 7, 20, 12, 0), macDate(2001, 3, 4, 5, 6));
    image.setDates(image.lookup(":Docs"), macDate(1904, 1, 1), macDate(1999, 12, 31, 23, 59));
    // A date a day old shows as a time of day; hls reads the wall-clock time as UTC here.
    const std::time_t yesterday = std::time(nullptr) - 86400;
    std::tm utc{};
    gmtime_r(&yesterday, &utc);
    image.setDates(image.lookup(":Empty Folder"), std::nullopt,
                   macDate(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min));
    TempDir dir;
    writeFile(dir.file("dated.hfs"), bytes);

    const auto root = hlsList(dir.file("dated.hfs"), ":");
    const OracleEntry* readMe = entryNamed(root, "Read Me");
    ASSERT_NE(readMe, nullptr);
    EXPECT_EQ(readMe->modified.text, "Mar  4  2001");
    EXPECT_EQ(readMe->modified.year, 2001);
    EXPECT_EQ(readMe->created.text, "Jul 20  1965");
    const OracleEntry* docs = entryNamed(root, "Docs");
    ASSERT_NE(docs, nullptr);
    EXPECT_EQ(docs->modified.text, "Dec 31  1999");
    EXPECT_EQ(docs->created.text, "Jan  1  1904");
    const OracleEntry* recent = entryNamed(root, "Empty Folder");
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(recent->modified.year, -1);
    EXPECT_EQ(recent->modified.month, utc.tm_mon + 1);
    EXPECT_EQ(recent->modified.day, utc.tm_mday);
    EXPECT_EQ(recent->modified.hour, utc.tm_hour);
    EXPECT_EQ(recent->modified.minute, utc.tm_min);
}

TEST(HfsImage, PatchedRecordFieldsShowInHls) {
    Bytes bytes = readFile(fixturePath("basic.hfs"));
    HfsImage image(bytes);
    const CatalogRecord manual = image.lookup(":Docs:Manual");
    image.setRecordData32(manual, catfile::kDataLogicalLength, 10);
    image.setRecordData32(manual, catfile::kRsrcLogicalLength, 7);
    writeText(bytes, manual.dataOffset + catfile::kFinderType, "PICT");
    writeText(bytes, manual.dataOffset + catfile::kFinderCreator, "8BIM");
    image.setRecordData16(manual, catfile::kFinderFlags, 0x4000);  // invisible
    writeU8(bytes, manual.dataOffset + catfile::kFlags, 0x01);     // locked
    image.setRecordData16(image.lookup(":Docs:Old Drafts"), catfolder::kValence, 77);
    EXPECT_THROW(image.setRecordData32(image.lookup(":Docs:Old Drafts"), 68, 0), std::out_of_range);
    TempDir dir;
    writeFile(dir.file("patched.hfs"), bytes);

    const auto docs = hlsList(dir.file("patched.hfs"), ":Docs");
    const OracleEntry* m = entryNamed(docs, "Manual");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->dataSize, 10u);
    EXPECT_EQ(m->rsrcSize, 7u);
    EXPECT_EQ(m->type, "PICT");
    EXPECT_EQ(m->creator, "8BIM");
    EXPECT_TRUE(m->invisible);
    EXPECT_TRUE(m->locked);
    const OracleEntry* drafts = entryNamed(docs, "Old Drafts");
    ASSERT_NE(drafts, nullptr);
    EXPECT_EQ(drafts->valence, 77u);
}

TEST(HfsImage, ForksThroughOverflowExtentsMatchHcopy) {
    Bytes bytes = readFile(fixturePath("fragmented.hfs"));
    HfsImage image(bytes);
    EXPECT_GE(image.header32(Tree::Extents, btheader::kLeafRecords), 2u);

    const CatalogRecord data = image.lookup(":Scattered Data");
    EXPECT_GT(image.forkExtents(data, Fork::Data).size(), 3u);
    EXPECT_EQ(asString(image.readFork(data, Fork::Data)),
              hcopyData(fixturePath("fragmented.hfs"), ":Scattered Data"));

    const CatalogRecord rsrc = image.lookup(":Scattered Resource");
    EXPECT_GT(image.forkExtents(rsrc, Fork::Resource).size(), 3u);
    const std::string macBinary = hcopyMacBinary(fixturePath("fragmented.hfs"), ":Scattered Resource");
    ASSERT_GE(macBinary.size(), 128u);
    const Bytes header(macBinary.begin(), macBinary.begin() + 128);
    const size_t dataLength = readBe32(header, 83), rsrcLength = readBe32(header, 87);
    const size_t rsrcStart = 128 + (dataLength + 127) / 128 * 128;
    ASSERT_GE(macBinary.size(), rsrcStart + rsrcLength);
    EXPECT_EQ(asString(image.readFork(rsrc, Fork::Resource)), macBinary.substr(rsrcStart, rsrcLength));
}

TEST(HfsImage, CatalogNodesPastTheMdbExtentsComeFromTheOverflowTree) {
    Bytes bytes = readFile(fixturePath("catalog-overflow.hfs"));
    HfsImage image(bytes);
    uint32_t mdbNodes = 0;
    for (int i = 0; i < 3; ++i)
        mdbNodes += readBe16(bytes, image.mdbOffset() + mdb::kDrCTExtRec + 4 * i + 2) *
                    image.mdb32(mdb::kDrAlBlkSiz) / kNodeSize;
    ASSERT_LT(mdbNodes, image.nodeCount(Tree::Catalog));

    uint32_t records = 0;
    bool pastMdbExtents = false;
    for (uint32_t n : image.leafChain(Tree::Catalog)) {
        records += image.recordCount(Tree::Catalog, n);
        pastMdbExtents = pastMdbExtents || n >= mdbNodes;
    }
    EXPECT_TRUE(pastMdbExtents);
    EXPECT_EQ(records, image.header32(Tree::Catalog, btheader::kLeafRecords));
}

// many.hfs exists for its shape: keep it from quietly losing that shape.
TEST(HfsImage, ManyHasADeepIndexAndFoldersAcrossLeaves) {
    Bytes bytes = readFile(fixturePath("many.hfs"));
    HfsImage image(bytes);
    std::set<uint32_t> leaves;
    for (const CatalogRecord& r : image.children(image.lookup(":Big Folder").id)) leaves.insert(r.node);
    EXPECT_GT(leaves.size(), 1u);
    EXPECT_EQ(image.recordData16(image.lookup(":Thirty-Six"), catfolder::kValence), 36);
    EXPECT_EQ(image.recordData16(image.lookup(":Thirty-Seven"), catfolder::kValence), 37);

    const uint16_t depth = image.header16(Tree::Catalog, btheader::kDepth);
    EXPECT_GE(depth, 3);
    uint32_t n = image.header32(Tree::Catalog, btheader::kRoot);
    for (uint16_t level = depth; level > 1; --level) {
        ASSERT_EQ(image.nodeType(Tree::Catalog, n), node::kIndexNode) << "level " << level;
        EXPECT_EQ(readU8(bytes, image.nodeOffset(Tree::Catalog, n) + node::kHeight), level);
        n = image.catalogRecords(n).front().child;
    }
    EXPECT_EQ(n, image.header32(Tree::Catalog, btheader::kFirstLeaf));
}

// hfsutils reads a folder along the leaf chain: cutting the chain or a record count where the
// builder says must shorten what hls lists.
TEST(HfsImage, LinkAndCountPatchesLandWhereHfsutilsReadsThem) {
    Bytes bytes = readFile(fixturePath("many.hfs"));
    HfsImage image(bytes);
    const CatalogRecord firstEntry = image.lookup(":Big Folder:Entry 001");
    std::vector<CatalogRecord> inFirstLeaf;
    for (const CatalogRecord& r : image.children(image.lookup(":Big Folder").id))
        if (r.node == firstEntry.node) inFirstLeaf.push_back(r);
    ASSERT_FALSE(inFirstLeaf.empty());

    Bytes cut = bytes;
    HfsImage(cut).setForwardLink(Tree::Catalog, firstEntry.node, 0);
    EXPECT_EQ(readBe32(cut, image.nodeOffset(Tree::Catalog, firstEntry.node)), 0u);
    TempDir dir;
    writeFile(dir.file("cut.hfs"), cut);
    EXPECT_EQ(hlsList(dir.file("cut.hfs"), ":Big Folder").size(), inFirstLeaf.size());

    Bytes fewer = bytes;
    HfsImage(fewer).setRecordCount(Tree::Catalog, firstEntry.node, firstEntry.index);
    writeFile(dir.file("fewer.hfs"), fewer);
    const auto listed = hlsList(dir.file("fewer.hfs"), ":Big Folder");
    EXPECT_EQ(entryNamed(listed, "Entry 001"), nullptr);
    EXPECT_NE(entryNamed(listed, "Entry 120"), nullptr);
}

}  // namespace
}  // namespace quarry::test
