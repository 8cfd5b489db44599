// The HFS+ reader and quarry-cli's --json walk against independent readers of the same volume:
// xorriso wrote hfsplus.iso, 7-Zip lists it, Sleuth Kit walks its catalog and shows its records
// and its bitmap.

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "hfsplus/names.h"
#include "hfsplus/volume_check.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfsplus_image.h"
#include "support/memory_sink.h"
#include "support/run_process.h"

namespace quarry::test {
namespace {

using hfsplus::CatalogRecord;
using hfsplus::ForkKind;

const std::string kImage = fixturePath("hfsplus.iso");

// What an oracle prints of hfsplus.iso (its HFS+ partition for Sleuth Kit's tools), in UTC.
std::string oracle(std::vector<std::string> argv, const std::string& after = "") {
    if (argv[0] != "7zz") argv.insert(argv.begin() + 1, {"-f", "hfs", "-o", std::to_string(applePartitionStart(kImage) / 512)});
    argv.push_back(kImage);
    if (!after.empty()) argv.push_back(after);
    const ProcessResult r = runProcess(argv, {"LC_ALL=C.UTF-8", "TZ=UTC"});
    if (!r.succeeded()) ADD_FAILURE() << r.describe(argv);
    return r.out;
}

// Path -> "created modified", from 7-Zip's listing; the first path element is the volume's name.
std::map<std::string, std::string> sevenZipDates(const std::string& listing) {
    std::map<std::string, std::string> dates;
    std::istringstream in(listing.substr(std::min(listing.size(), listing.find("----------"))));
    std::string path, created;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("Path = ")) path = line.substr(7);
        else if (line.starts_with("Created = ")) created = line.substr(10);
        else if (line.starts_with("Modified = ") && !path.empty()) dates[path] = created + " " + line.substr(11);
    }
    return dates;
}

// quarry-cli's --json walk: every entry dated as 7-Zip lists it, in the order and with the IDs
// Sleuth Kit walks. (Names, kinds, sizes and bytes are held to 7-Zip's extraction through
// quarry-cli's copies, tests/hfsplus/mounted_test.cpp.)
TEST(HfsPlusJson, EveryEntryDatedAsSevenZipListsItInTheOrderSleuthKitWalks) {
    std::map<std::string, std::string> listed;  // NFC path -> "created modified"
    for (const auto& [path, dates] : sevenZipDates(oracle({"7zz", "l", "-slt", "-tHFS"}))) listed[hfsplus::toNfc(path)] = dates;
    const ProcessResult r = runCli({"--json", kImage});
    ASSERT_TRUE(r.succeeded()) << r.err;
    const auto sevenZipForm = [](const nlohmann::json& date) {  // "2001-02-03T04:05:06Z"
        std::string text = date.get<std::string>();
        text[10] = ' ';
        text.pop_back();
        return text;
    };
    std::string order;
    size_t entries = 0;
    for (const std::string& line : outputLines(r.out)) {
        const nlohmann::json e = nlohmann::json::parse(line);
        std::string path = "HFSPLUS";
        for (const auto& name : e["path"]) path += "/" + name.get<std::string>();
        SCOPED_TRACE(path);
        ++entries;
        order += std::string(e["kind"] == "folder" ? "d" : "r") + " " + std::to_string(e["id"].get<uint32_t>()) + "\n";
        auto it = listed.find(path);
        ASSERT_NE(it, listed.end());
        EXPECT_EQ(sevenZipForm(e["created"]) + " " + sevenZipForm(e["modified"]), it->second);
    }
    EXPECT_EQ(entries + 1, listed.size());  // 7-Zip lists the volume itself too
    // fls -r: "r/r 16:\tname", "+ d/d 18:\tname" one level down, and so on; the special files that
    // Sleuth Kit shows in the root are no entries of the catalog.
    std::string walked;
    std::istringstream fls(oracle({"fls", "-r"}));
    for (std::string line; std::getline(fls, line);) {
        const size_t at = line.find_first_of("dr");
        if (at == std::string::npos || line.find('\t') == std::string::npos) continue;
        const auto id = std::stoul(line.substr(at + 4));
        if (id >= hfsplus::cnid::kFirstUser) walked += line.substr(at, 1) + " " + std::to_string(id) + "\n";
    }
    EXPECT_EQ(order, walked);
    // The dates the fixture gave, so that a date read from the wrong field cannot pass.
    EXPECT_EQ(listed.at("HFSPLUS/Read Me").substr(20), "1999-12-31 23:59:58");
    EXPECT_EQ(listed.at("HFSPLUS/big.bin").substr(20), "2001-02-03 04:05:06");
}

class HfsPlusVolume : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(image.volume) << image.fault; }
    HfsPlusImage image{kImage};
};

// Each record's type, creator and text encoding, and the blocks its data fork lies in, as Sleuth
// Kit's istat shows them; reads inside the fork and past its end. (The owner and group are held to
// istat through quarry-cli, tests/cli/cli_test.cpp.)
TEST_F(HfsPlusVolume, RecordsAndForksAreWhatSleuthKitShows) {
    struct Case {
        const char* name;
        const char* type;
        const char* creator;
    };
    // The first two were given types by xorriso's -hfsplus-file-creator-type; MIXED has none.
    // big.bin's fork is of many blocks.
    const Case cases[] = {{"Read Me", "TEXT", "ttxt"}, {"big.bin", "APPL", "????"}, {"MIXED", "????", "????"}};
    const hfsplus::VolumeGeometry& g = image->geometry();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<std::optional<CatalogRecord>> found = image->lookup(hfsplus::cnid::kRootFolder, c.name);
        ASSERT_TRUE(found && found->has_value());
        const CatalogRecord& r = **found;
        const std::string shown = oracle({"istat"}, std::to_string(r.id));
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08x", r.fileType());
        EXPECT_NE(shown.find("File type:\t" + std::string(hex) + "  " + c.type), std::string::npos) << shown;
        std::snprintf(hex, sizeof hex, "%08x", r.creator());
        EXPECT_NE(shown.find("File creator:\t" + std::string(hex) + "  " + c.creator), std::string::npos) << shown;
        EXPECT_NE(shown.find("Text encoding:\t" + std::to_string(r.textEncoding) + " "), std::string::npos) << shown;
        EXPECT_FALSE(r.locked());

        hfsplus::ForkReader reader = image->fork(r, ForkKind::Data);
        Result<std::vector<hfsplus::MediumRun>> runs = reader.runs();
        ASSERT_TRUE(runs) << runs.fault();
        std::vector<uint32_t> blocks, listed;
        uint64_t total = 0;
        for (const hfsplus::MediumRun& run : *runs) {
            EXPECT_EQ(run.forkOffset, total);
            total += run.length;
            for (uint64_t at = 0; at < run.length; at += g.blockSize)
                blocks.push_back(static_cast<uint32_t>((run.mediumOffset - g.start + at) / g.blockSize));
        }
        EXPECT_EQ(total, r.dataFork.logicalSize);
        // istat prints "Data Fork Blocks:" and then ranges "55-1519" or single blocks.
        std::istringstream in(shown.substr(shown.find("Data Fork Blocks:") + 17));
        for (std::string word; in >> word && std::isdigit(static_cast<unsigned char>(word[0]));) {
            const size_t dash = word.find('-');
            const auto first = static_cast<uint32_t>(std::stoul(word));
            const auto last = dash == std::string::npos ? first : static_cast<uint32_t>(std::stoul(word.substr(dash + 1)));
            for (uint32_t b = first; b <= last; ++b) listed.push_back(b);
        }
        EXPECT_EQ(blocks, listed);
        MemorySink whole;
        ASSERT_TRUE(reader.copyTo(whole));
        const uint64_t at = total / 3;
        std::vector<uint8_t> middle(std::min<uint64_t>(5000, total - at));
        ASSERT_TRUE(reader.read(at, middle));
        EXPECT_TRUE(std::equal(middle.begin(), middle.end(), whole.bytes.begin() + static_cast<long>(at)));
        Status past = reader.read(total - 1, std::span(middle.data(), 2));
        ASSERT_FALSE(past);
        EXPECT_NE(past.fault().find("reach past its end"), std::string::npos) << past.fault();
    }
}

TEST_F(HfsPlusVolume, FiguresAreThoseOfTheHeaderAndTheOtherReaders) {
    const hfsplus::VolumeFigures& f = image->figures();
    EXPECT_EQ(f.location.volumeStart, applePartitionStart(kImage));
    EXPECT_FALSE(f.journaled);
    // 7-Zip: "Cluster Size = 2048", "Free Space = 0" (the file and folder counts are held to
    // 7-Zip's through quarry-cli's INFO, tests/hfsplus/mounted_test.cpp).
    const std::string listing = oracle({"7zz", "l", "-slt", "-tHFS"});
    EXPECT_NE(listing.find("Cluster Size = " + std::to_string(f.blockSize) + "\n"), std::string::npos);
    EXPECT_NE(listing.find("Free Space = " + std::to_string(uint64_t{f.freeBlocks} * f.blockSize) + "\n"), std::string::npos);
    EXPECT_GT(f.nextCatalogId, 335u);
    // Each block of the bitmap as Sleuth Kit's blkls reads it ("1829|f"). xorriso leaves its
    // last eight blocks unmarked while its header counts no block free, so the header is no
    // oracle for the bitmap.
    std::istringstream lines(oracle({"blkls", "-l", "-e"}));
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

// Names in Apple's order: NUL after every other unit (the private folders sort last), case folded
// one character at a time, the joiners and the byte order mark passed over, shorter before
// longer; letters with a decomposition are not folded, as they never occur in a stored name.
// HFSX compares units as numbers. A typed pattern matches as the names compare.
TEST(HfsPlusNames, CompareAndMatchInAppleOrder) {
    using hfsplus::NameComparison;
    using namespace std::literals;
    constexpr auto kFold = NameComparison::CaseFolding, kBinary = NameComparison::Binary;
    const struct {
        std::u16string_view a, b;
        NameComparison comparison;
        int order;  // the sign of compareNames
    } ordered[] = {
        {u"\0\0\0\0HFS+ Private Data"sv, u"zzz", kFold, 1},
        {u"README", u"readme", kFold, 0},
        {u"Ab\u200Dc\uFEFF", u"abC", kFold, 0},
        {u"\u0394\u0416\u00C6", u"\u03B4\u0436\u00E6", kFold, 0},
        {u"\u00C9", u"\u00E9", kFold, -1},
        {u"\u0419", u"\u0439", kFold, -1},
        {u"ab", u"abc", kFold, -1},
        {u"_x", u"a", kFold, -1},  // '_' before 'a', after 'A'
        {u"README", u"ReadMe", kBinary, -1},
    };
    for (const auto& c : ordered) {
        const int order = hfsplus::compareNames(c.a, c.b, c.comparison);
        EXPECT_EQ((order > 0) - (order < 0), c.order) << hfsplus::utf16ToUtf8(c.a);
    }
    const struct {
        const char* typed;
        const char16_t* stored;
        NameComparison comparison;
        bool matches;
    } patterns[] = {
        {"STRA\u00DFE", u"Stra\u00DFe", kFold, true},
        {"strasse", u"Stra\u00DFe", kFold, false},  // no "ss" for "ß"
        {"\u03A3\u039F\u03A6\u039F\u03A3", u"\u03C3\u03BF\u03C6\u03BF\u03C3", kFold, true},
        {"a\uFEFFb", u"AB", kFold, true},
        {"a\uFEFFb", u"ab", kBinary, false},
        {"\u00C5*", u"A\u030Angstr\u00F6m", kBinary, true},
        {"\u00E5*", u"A\u030Angstr\u00F6m", kBinary, false},
        {"x", u"", kFold, false},
        {"\xFF\xFE", u"\u00FF", kFold, false},  // typed bytes that are no UTF-8
    };
    for (const auto& c : patterns) EXPECT_EQ(hfsplus::NamePattern(c.typed, c.comparison).matches(c.stored), c.matches) << c.typed;
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
