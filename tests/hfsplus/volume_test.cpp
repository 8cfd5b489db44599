// The HFS+ reader against independent readers of the same volume: xorriso wrote hfsplus.iso,
// 7-Zip lists it, Sleuth Kit walks its catalog and shows its records and its bitmap.

#include <gtest/gtest.h>

#include <functional>

#include "hfsplus/names.h"
#include "support/fixture_path.h"
#include "support/hfsplus_image.h"
#include "support/memory_sink.h"
#include "hfsplus/oracle.h"  // tests/hfsplus

namespace quarry::test {
namespace {

using hfsplus::CatalogRecord;
using hfsplus::ForkKind;

const std::string kImage = fixturePath("hfsplus.iso");

// Every entry under the root in the order of the walk (a folder, then what it holds), by path
// "VOLUME/folder/name" with names as stored (UTF-8 of the UTF-16, not normalised), as 7-Zip
// prints them.
std::vector<std::pair<std::string, CatalogRecord>> walkAll(hfsplus::Volume& volume) {
    std::vector<std::pair<std::string, CatalogRecord>> all;
    std::function<void(uint32_t, const std::string&)> folder = [&](uint32_t id, const std::string& path) {
        Status s = volume.forEachEntry(id, [&](const CatalogRecord& r) {
            const std::string p = path + "/" + hfsplus::utf16ToUtf8(r.storedName);
            all.emplace_back(p, r);
            if (r.isFolder()) folder(r.id, p);
            return true;
        });
        EXPECT_TRUE(s) << s.fault();
    };
    folder(hfsplus::cnid::kRootFolder, volume.name());
    return all;
}

std::vector<uint8_t> forkBytes(hfsplus::Volume& volume, const CatalogRecord& r, ForkKind kind) {
    MemorySink sink;
    hfsplus::ForkReader reader = volume.fork(r, kind);
    Status s = reader.copyTo(sink);
    EXPECT_TRUE(s) << s.fault();
    return sink.bytes;
}

class HfsPlusVolume : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(image.volume) << image.fault; }
    HfsPlusImage image{kImage};
};

// Dates as 7-Zip lists them; the walk's order and IDs as Sleuth Kit's. (Names, kinds, sizes and
// bytes are held to 7-Zip's extraction through the mount, tests/hfsplus/mounted_test.cpp.)
TEST_F(HfsPlusVolume, EveryEntryDatedAsSevenZipListsItInTheOrderSleuthKitWalks) {
    const auto listed = sevenZipListing(kImage);
    const auto walk = walkAll(*image);
    ASSERT_EQ(walk.size() + 1, listed.size());  // 7-Zip lists the volume itself too
    std::vector<FlsEntry> order;
    for (const auto& [path, r] : walk) {
        SCOPED_TRACE(path);
        order.push_back({r.isFolder() ? 'd' : 'r', r.id});
        auto it = listed.find(path);
        ASSERT_NE(it, listed.end());
        EXPECT_EQ(utcText(r.contentModified), it->second.modified);
        EXPECT_EQ(utcText(r.created), it->second.created);
    }
    EXPECT_EQ(order, sleuthKitWalk(kImage, applePartitionStart(kImage)));
    // The dates the fixture gave, so that a date read from the wrong field cannot pass.
    EXPECT_EQ(listed.at("HFSPLUS/Read Me").modified, "1999-12-31 23:59:58");
    EXPECT_EQ(listed.at("HFSPLUS/big.bin").modified, "2001-02-03 04:05:06");
}

// (The owner and group are held to istat through quarry-cli, tests/cli/hfsplus_cli_test.cpp.)
TEST_F(HfsPlusVolume, TypesCreatorsEncodingsAndDatesAreWhatSleuthKitShows) {
    struct Case {
        const char* name;
        const char* type;
        const char* creator;
    };
    // The first three were given types by xorriso's -hfsplus-file-creator-type; the rest have none.
    const Case cases[] = {{"Read Me", "TEXT", "ttxt"}, {"big.bin", "APPL", "????"}, {"MIXED", "????", "????"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<std::optional<CatalogRecord>> found = image->lookup(hfsplus::cnid::kRootFolder, c.name);
        ASSERT_TRUE(found && found->has_value());
        const CatalogRecord& r = **found;
        const std::string shown = sleuthKitRecord(kImage, applePartitionStart(kImage), r.id);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08x", r.fileType());
        EXPECT_NE(shown.find("File type:\t" + std::string(hex) + "  " + c.type), std::string::npos) << shown;
        std::snprintf(hex, sizeof hex, "%08x", r.creator());
        EXPECT_NE(shown.find("File creator:\t" + std::string(hex) + "  " + c.creator), std::string::npos) << shown;
        EXPECT_NE(shown.find("Text encoding:\t" + std::to_string(r.textEncoding) + " "), std::string::npos) << shown;
        EXPECT_NE(shown.find("Content Modified:\t" + utcText(r.contentModified)), std::string::npos) << shown;
        EXPECT_FALSE(r.locked());
    }
}

TEST_F(HfsPlusVolume, AForkOfManyBlocksLiesInTheBlocksSleuthKitLists) {
    Result<std::optional<CatalogRecord>> big = image->lookup(hfsplus::cnid::kRootFolder, "big.bin");
    ASSERT_TRUE(big && big->has_value());
    hfsplus::ForkReader reader = image->fork(**big, ForkKind::Data);
    Result<std::vector<hfsplus::MediumRun>> runs = reader.runs();
    ASSERT_TRUE(runs) << runs.fault();
    const hfsplus::VolumeGeometry& g = image->geometry();
    std::vector<uint32_t> blocks;
    uint64_t total = 0;
    for (const hfsplus::MediumRun& run : *runs) {
        EXPECT_EQ(run.forkOffset, total);
        total += run.length;
        for (uint64_t at = 0; at < run.length; at += g.blockSize)
            blocks.push_back(static_cast<uint32_t>((run.mediumOffset - g.start + at) / g.blockSize));
    }
    EXPECT_EQ(total, 3000000u);
    // istat prints "Data Fork Blocks:" and then ranges "55-1519" or single blocks.
    const std::string shown = sleuthKitRecord(kImage, applePartitionStart(kImage), (*big)->id);
    std::vector<uint32_t> listed;
    std::istringstream in(shown.substr(shown.find("Data Fork Blocks:") + 17));
    std::string word;
    while (in >> word && std::isdigit(static_cast<unsigned char>(word[0]))) {
        const size_t dash = word.find('-');
        const uint32_t first = static_cast<uint32_t>(std::stoul(word));
        const uint32_t last = dash == std::string::npos ? first : static_cast<uint32_t>(std::stoul(word.substr(dash + 1)));
        for (uint32_t b = first; b <= last; ++b) listed.push_back(b);
    }
    EXPECT_EQ(blocks, listed);
    // A read across the fork's middle, and one that reaches past its end.
    std::vector<uint8_t> middle(5000);
    ASSERT_TRUE(reader.read(1234567, middle));
    const std::vector<uint8_t> whole = forkBytes(*image, **big, ForkKind::Data);
    EXPECT_TRUE(std::equal(middle.begin(), middle.end(), whole.begin() + 1234567));
    Status past = reader.read(2999999, std::span(middle.data(), 2));
    ASSERT_FALSE(past);
    EXPECT_NE(past.fault().find("reach past its end"), std::string::npos) << past.fault();
}

TEST_F(HfsPlusVolume, FiguresAreThoseOfTheHeaderAndTheOtherReaders) {
    const hfsplus::VolumeFigures& f = image->figures();
    EXPECT_EQ(f.location.volumeStart, applePartitionStart(kImage));
    EXPECT_FALSE(f.journaled);
    // 7-Zip: "Cluster Size = 2048", "Free Space = 0" (the file and folder counts are held to
    // 7-Zip's through quarry-cli's INFO, tests/hfsplus/mounted_test.cpp).
    const std::vector<std::string> argv{"7zz", "l", "-slt", "-tHFS", kImage};
    const std::string listing = runProcess(argv, kOracleEnvironment).out;
    EXPECT_NE(listing.find("Cluster Size = " + std::to_string(f.blockSize) + "\n"), std::string::npos);
    EXPECT_NE(listing.find("Free Space = " + std::to_string(uint64_t{f.freeBlocks} * f.blockSize) + "\n"), std::string::npos);
    EXPECT_GT(f.nextCatalogId, 335u);
    // Each block of the bitmap as Sleuth Kit's blkls reads it ("1829|f"). xorriso leaves its
    // last eight blocks unmarked while its header counts no block free, so the header is no
    // oracle for the bitmap.
    const std::vector<std::string> blkls{"blkls", "-f", "hfs", "-o", std::to_string(f.location.volumeStart / 512), "-l", "-e", kImage};
    ProcessResult blocks = runProcess(blkls, kOracleEnvironment);
    ASSERT_TRUE(blocks.succeeded()) << blocks.describe(blkls);
    std::istringstream lines(blocks.out);
    std::string line;
    uint32_t listed = 0;
    uint64_t allocated = 0;
    while (std::getline(lines, line)) {
        const size_t bar = line.find('|');
        if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0])) || bar == std::string::npos) continue;
        const auto block = static_cast<uint32_t>(std::stoul(line));
        Result<bool> inUse = image->blockInUse(block);
        ASSERT_TRUE(inUse) << inUse.fault();
        EXPECT_EQ(*inUse, line.substr(bar + 1) == "a") << "block " << block;
        allocated += *inUse;
        ++listed;
    }
    EXPECT_EQ(listed, f.totalBlocks);
    Result<uint64_t> used = image->usedBlockCount();
    ASSERT_TRUE(used) << used.fault();
    EXPECT_EQ(*used, allocated);
    EXPECT_FALSE(image->blockInUse(f.totalBlocks));
    EXPECT_TRUE(image->damage().empty()) << image->damage().front();
}

// (Other scripts typed in another case are looked up through quarry-cli: tests/cli/hfsplus_cli_test.cpp.)
TEST_F(HfsPlusVolume, LookupsFoldCaseAndIgnoreWhatHfsPlusIgnores) {
    struct Case {
        uint32_t folder;  // 0: the Docs folder
        const char* typed;
        const char* found;  // its shown name; nullptr when nothing matches
    };
    const Case cases[] = {
        {2, "Read Me", "Read Me"},
        {2, "read me", "Read Me"},
        {2, "READ ME", "Read Me"},
        {2, "Re\u200Dad Me", "Read Me"},          // a zero-width joiner is ignored
        {2, "Read", nullptr},                      // no '*': the whole name
        {2, "Read*", "Read Me"},
        {2, "caf\u00E9", "Caf\u00E9"},             // typed composed, stored decomposed
        {2, "CAFE\u0301", "Caf\u00E9"},
        {2, "cafe", nullptr},                      // the accent counts
        {2, "mixed", "MIXED"},                     // xorriso renamed the second "Mixed" to "Mixed_"
        {2, "MIXED_", "Mixed_"},
        {2, "m*", "Many"},                         // the first match in catalog order
        {2, "zz*", nullptr},
        {0, "Z\u00DCRICH", "Z\u00FCrich"},
        {0, "zurich", nullptr},
        {0, "deep", "Deep"},
    };
    Result<std::optional<CatalogRecord>> docs = image->lookup(2, "docs");
    ASSERT_TRUE(docs && docs->has_value());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Result<std::optional<CatalogRecord>> found = image->lookup(c.folder ? c.folder : (*docs)->id, c.typed);
        ASSERT_TRUE(found) << found.fault();
        if (!c.found) {
            EXPECT_FALSE(found->has_value()) << (*found)->name;
            continue;
        }
        ASSERT_TRUE(found->has_value());
        EXPECT_EQ((*found)->name, c.found);
    }
    // "*" is the folder's first entry, the one the walk gives first.
    Result<std::optional<CatalogRecord>> first = image->lookup(2, "*");
    Result<std::vector<CatalogRecord>> all = image->entries(2);
    ASSERT_TRUE(first && first->has_value() && all && !all->empty());
    EXPECT_EQ((*first)->id, all->front().id);
    // A record found again by its ID.
    Result<CatalogRecord> again = image->record((*docs)->id);
    ASSERT_TRUE(again) << again.fault();
    EXPECT_EQ(again->name, "Docs");
    EXPECT_EQ(again->parentId, 2u);
    EXPECT_EQ(again->valence, 4u);
}

TEST(HfsPlusNames, CaseFoldingLowersOneCharacterAtATime) {
    using hfsplus::NameComparison;
    using hfsplus::NamePattern;
    const struct {
        const char* typed;
        const char16_t* stored;
        NameComparison comparison;
        bool matches;
    } cases[] = {
        {"STRA\u00DFE", u"Stra\u00DFe", NameComparison::CaseFolding, true},
        {"strasse", u"Stra\u00DFe", NameComparison::CaseFolding, false},  // no "ss" for "ß"
        {"\u03A3\u039F\u03A6\u039F\u03A3", u"\u03C3\u03BF\u03C6\u03BF\u03C3", NameComparison::CaseFolding, true},
        {"a\uFEFFb", u"AB", NameComparison::CaseFolding, true},
        {"a\uFEFFb", u"ab", NameComparison::Binary, false},
        {"\u00C5*", u"A\u030Angstr\u00F6m", NameComparison::Binary, true},
        {"\u00E5*", u"A\u030Angstr\u00F6m", NameComparison::Binary, false},
        {"x", u"", NameComparison::CaseFolding, false},
        {"\xFF\xFE", u"\u00FF", NameComparison::CaseFolding, false},  // typed bytes that are no UTF-8
    };
    for (const auto& c : cases)
        EXPECT_EQ(NamePattern(c.typed, c.comparison).matches(c.stored), c.matches) << c.typed;
}

TEST(HfsPlusNames, MacintoshNamesComeThroughTheRecordsEncoding) {
    EXPECT_EQ(hfsplus::toMacEncoding("Caf\u00E9 \u00A9", 0), "Caf\x8E \xA9");
    EXPECT_EQ(hfsplus::toMacEncoding("\u65E5\u672C", 0), "??");  // Mac Roman has no kanji
    EXPECT_EQ(hfsplus::toMacEncoding("\u0424\u0430\u0439\u043B", 7), "\x94\xE0\xE9\xEB");  // Mac Cyrillic
    EXPECT_EQ(hfsplus::toMacEncoding("\u0424", 0), "?");
    // Unpaired surrogates as stored become U+FFFD rather than bytes that are no UTF-8.
    EXPECT_EQ(hfsplus::utf16ToUtf8(u"a\xD800" "b"), "a\uFFFDb");
    EXPECT_EQ(hfsplus::utf16ToUtf8(u"\U0001F600"), "\U0001F600");
}

}  // namespace
}  // namespace quarry::test
