// The partition scan on media made by real tools (xorriso, genisoimage, hformat, sgdisk, sfdisk),
// with 7-Zip's listing of each map (7zz l -slt) as the oracle for every partition's start and
// length; and damaged maps built from those, each refused with its message.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "device/partition_scan.h"
#include "support/fixture_path.h"
#include "support/run_process.h"

namespace quarry {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

MediumRead reader(const Bytes& medium) {
    return [&medium](uint64_t offset, std::span<uint8_t> out) -> Status {
        if (offset > medium.size() || out.size() > medium.size() - offset) return Fault{"past the image"};
        std::memcpy(out.data(), medium.data() + offset, out.size());
        return Status::ok();
    };
}

Result<std::vector<FoundVolume>> scan(const Bytes& medium) { return scanPartitions(medium.size(), reader(medium)); }

// 7-Zip's partitions of an image: path -> (offset, size). Paths without a type ("3") are the
// unallocated gaps 7-Zip lists after an MBR's entries, not entries.
struct SevenZipPart {
    std::string path;
    uint64_t offset = 0;
    uint64_t size = 0;
};
std::vector<SevenZipPart> sevenZip(const std::string& type, const std::string& image) {
    const auto r = test::runProcess({"7zz", "l", "-slt", "-t" + type, image});
    EXPECT_TRUE(r.started && (r.exitCode == 0 || r.exitCode == 2)) << r.describe({"7zz", image}) << r.out;
    std::vector<SevenZipPart> parts;
    std::istringstream lines(r.out);
    std::string line;
    bool inList = false;
    while (std::getline(lines, line)) {
        if (line == "----------") inList = true;
        if (!inList) continue;
        if (line.rfind("Path = ", 0) == 0) parts.push_back({line.substr(7)});
        else if (!parts.empty() && line.rfind("Size = ", 0) == 0) parts.back().size = std::stoull(line.substr(7));
        else if (!parts.empty() && line.rfind("Offset = ", 0) == 0) parts.back().offset = std::stoull(line.substr(9));
    }
    std::erase_if(parts, [](const SevenZipPart& p) { return p.path.find('.') == std::string::npos; });
    return parts;
}

struct Expected {
    uint32_t index;
    VolumeKind kind;
    const char* name;
    const char* type;
};

struct MapCase {
    const char* fixture;
    const char* sevenZipType;
    PartitionScheme scheme;
    std::vector<Expected> expected;  // every entry the scan must list, in order
};

void PrintTo(const MapCase& c, std::ostream* os) { *os << c.fixture; }

const char* const kHfsGuid = "48465300-0000-11AA-AA11-00306543ECAC";
const char* const kApfsGuid = "7C3457EF-0000-11AA-AA11-00306543ECAC";

class PartitionScanMaps : public ::testing::TestWithParam<MapCase> {};

TEST_P(PartitionScanMaps, AgreeWithSevenZipAndNameEachVolume) {
    const MapCase& c = GetParam();
    const std::string path = test::fixturePath(c.fixture);
    const Bytes medium = load(path);
    ASSERT_FALSE(medium.empty()) << path;
    auto found = scan(medium);
    ASSERT_TRUE(found) << found.fault();
    const std::vector<FoundVolume>& volumes = *found;

    // Same partitions as 7-Zip: each of its starts and lengths, and nothing it does not list.
    const auto parts = sevenZip(c.sevenZipType, path);
    ASSERT_FALSE(parts.empty());
    ASSERT_EQ(volumes.size(), parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(volumes[i].start, parts[i].offset) << parts[i].path;
        EXPECT_EQ(volumes[i].length, parts[i].size) << parts[i].path;
        EXPECT_EQ(volumes[i].scheme, c.scheme);
        // 7-Zip names APM partitions "name.type" and GPT ones "index.name.type", index from 0.
        std::string prefix;
        if (c.scheme == PartitionScheme::AppleMap) prefix = volumes[i].name + ".";
        if (c.scheme == PartitionScheme::Gpt) prefix = std::to_string(volumes[i].index - 1) + "." + volumes[i].name + ".";
        EXPECT_EQ(parts[i].path.rfind(prefix, 0), 0u) << parts[i].path;
    }
    // The kinds, names and types of what the tools put there.
    ASSERT_EQ(volumes.size(), c.expected.size());
    for (size_t i = 0; i < volumes.size(); ++i) {
        const Expected& e = c.expected[i];
        EXPECT_EQ(volumes[i].index, e.index) << i;
        EXPECT_EQ(volumes[i].kind, e.kind) << i << ": " << kindName(volumes[i].kind);
        EXPECT_EQ(volumes[i].name, e.name) << i;
        EXPECT_EQ(volumes[i].type, e.type) << i;
        EXPECT_EQ(volumes[i].volumeStart, volumes[i].start);
        EXPECT_TRUE(volumes[i].note.empty()) << volumes[i].note;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, PartitionScanMaps,
    ::testing::Values(
        MapCase{"partitions/apm-xorriso.iso", "APM", PartitionScheme::AppleMap,
                {{1, VolumeKind::Other, "Apple", "Apple_partition_map"},
                 {2, VolumeKind::Other, "Gap0", "ISO9660_data"},
                 {3, VolumeKind::HfsPlus, "HFSPLUS_Hybrid", "Apple_HFS"},
                 {4, VolumeKind::Other, "Gap1", "ISO9660_data"}}},
        MapCase{"partitions/apm-xorriso-2048.iso", "APM", PartitionScheme::AppleMap,
                {{1, VolumeKind::Other, "Apple", "Apple_partition_map"},
                 {2, VolumeKind::Other, "Gap0", "ISO9660_data"},
                 {3, VolumeKind::HfsPlus, "HFSPLUS_Hybrid", "Apple_HFS"},
                 {4, VolumeKind::Other, "Gap1", "ISO9660_data"}}},
        MapCase{"partitions/gpt.img", "GPT", PartitionScheme::Gpt,
                {{1, VolumeKind::Hfs, "Classic", kHfsGuid},
                 {2, VolumeKind::HfsPlus, "Plus", kHfsGuid},
                 {3, VolumeKind::Apfs, "Container", kApfsGuid},
                 {4, VolumeKind::Other, "Data", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}}},
        MapCase{"partitions/gpt-4096.img", "GPT", PartitionScheme::Gpt,
                {{1, VolumeKind::Hfs, "Classic", kHfsGuid},
                 {2, VolumeKind::HfsPlus, "Plus", kHfsGuid},
                 {3, VolumeKind::Apfs, "Container", kApfsGuid},
                 {4, VolumeKind::Other, "Data", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}}},
        MapCase{"partitions/mbr.img", "MBR", PartitionScheme::Mbr,
                {{1, VolumeKind::HfsPlus, "", "0xAF"}, {2, VolumeKind::Other, "", "0x0B"}, {3, VolumeKind::Hfs, "", "0xAF"}}}),
    [](const ::testing::TestParamInfo<MapCase>& info) {
        std::string name = info.param.fixture;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

// 7-Zip does not open genisoimage's map (it refuses the driver descriptor's block count), so the
// volume found there is checked by its own content: the MDB's name is the one genisoimage was given.
TEST(PartitionScan, GenisoimageHybridHoldsItsNamedHfsVolume) {
    const Bytes medium = load(test::fixturePath("hybrid.iso"));
    auto found = scan(medium);
    ASSERT_TRUE(found) << found.fault();
    ASSERT_EQ(found->size(), 2u);
    EXPECT_EQ((*found)[0].type, "Apple_partition_map");
    const FoundVolume& v = (*found)[1];
    EXPECT_EQ(v.scheme, PartitionScheme::AppleMap);
    EXPECT_EQ(v.index, 2u);
    EXPECT_EQ(v.type, "Apple_HFS");
    EXPECT_EQ(v.kind, VolumeKind::Hfs);
    ASSERT_LE(v.start + v.length, medium.size());
    const uint8_t* mdb = medium.data() + v.volumeStart + 1024;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mdb + 0x25), mdb[0x24]), "Quarry Hybrid");
}

TEST(PartitionScan, BareAndWrappedVolumes) {
    struct Case {
        const char* fixture;
        VolumeKind kind;
    };
    for (const Case& c : {Case{"basic.hfs", VolumeKind::Hfs}, Case{"partitions/plus.hfs", VolumeKind::HfsPlus}}) {
        const Bytes medium = load(test::fixturePath(c.fixture));
        auto found = scan(medium);
        ASSERT_TRUE(found) << found.fault();
        ASSERT_EQ(found->size(), 1u) << c.fixture;
        const FoundVolume& v = found->front();
        EXPECT_EQ(v.scheme, PartitionScheme::Bare);
        EXPECT_EQ(v.kind, c.kind) << c.fixture;
        EXPECT_EQ(v.start, 0u);
        EXPECT_EQ(v.length, medium.size());
    }
    // A plain ISO 9660 image and a FAT floppy hold no volume the scan knows.
    for (const char* other : {"plain.iso", "msdos-floppy.img"}) {
        auto found = scan(load(test::fixturePath(other)));
        ASSERT_TRUE(found) << other << ": " << found.fault();
        EXPECT_TRUE(found->empty()) << other;
    }
    // The HFS+ volume inside the wrapper (which 7-Zip lists, see make_fixtures.sh) is the very
    // volume 7-Zip cut out of the xorriso image.
    const Bytes wrapped = load(test::fixturePath("partitions/wrapped.hfs"));
    const Bytes plus = load(test::fixturePath("partitions/plus.hfs"));
    auto found = scan(wrapped);
    ASSERT_TRUE(found) << found.fault();
    ASSERT_EQ(found->size(), 1u);
    const FoundVolume& v = found->front();
    EXPECT_EQ(v.kind, VolumeKind::WrappedHfsPlus);
    ASSERT_LE(v.volumeStart + plus.size(), wrapped.size());
    EXPECT_GE(v.volumeLength, plus.size());
    EXPECT_LT(v.volumeLength, plus.size() + 4096);
    EXPECT_TRUE(std::equal(plus.begin(), plus.end(), wrapped.begin() + static_cast<long>(v.volumeStart)));
}

void putLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putBe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
// The GPT header's CRC after a change to it (header at byte 512, 92 bytes).
void resealGpt(Bytes& b) {
    putLe32(b, 512 + 16, 0);
    putLe32(b, 512 + 16, static_cast<uint32_t>(crc32(0, b.data() + 512, 92)));
}

TEST(PartitionScan, DamagedMapsAreRefusedOrNoted) {
    const Bytes gpt = load(test::fixturePath("partitions/gpt.img"));
    const Bytes apm = load(test::fixturePath("partitions/apm-xorriso.iso"));
    const Bytes mbr = load(test::fixturePath("partitions/mbr.img"));
    ASSERT_FALSE(gpt.empty() || apm.empty() || mbr.empty());
    const auto with = [](Bytes b, const std::function<void(Bytes&)>& change) {
        change(b);
        return b;
    };
    struct Case {
        const char* what;
        Bytes medium;
        const char* fault;
    };
    const Case refused[] = {
        {"APM counting a million entries", with(apm, [](Bytes& b) { putBe32(b, 512 + 4, 1000000); }),
         "Apple partition map: its first entry counts 1000000 entries"},
        {"GPT header changed after its CRC", with(gpt, [](Bytes& b) { b[512 + 40] ^= 1; }), "the header's CRC does not match"},
        {"GPT with a hundred thousand entries", with(gpt, [](Bytes& b) { putLe32(b, 512 + 80, 100000), resealGpt(b); }),
         "100000 entries of 128 bytes is not a table"},
        {"GPT entries of 16 bytes", with(gpt, [](Bytes& b) { putLe32(b, 512 + 84, 16), resealGpt(b); }), "of 16 bytes is not"},
        {"GPT table past the end", with(gpt, [](Bytes& b) { putLe32(b, 512 + 72, 0x7FFFFFF0), resealGpt(b); }),
         "lies past the medium's end"},
        {"GPT entry changed after its CRC", with(gpt, [](Bytes& b) { b[1024 + 56] = 'X'; }), "the entry table's CRC does not match"},
        {"protective MBR without GPT", with(gpt, [](Bytes& b) { std::memset(b.data() + 512, 0, 512); }),
         "a protective entry (0xEE) announces a GPT"},
    };
    for (const Case& c : refused) {
        auto found = scan(c.medium);
        ASSERT_FALSE(found) << c.what;
        EXPECT_NE(found.fault().find(c.fault), std::string::npos) << c.what << ": " << found.fault();
    }

    // A map whose partition runs past an image cut short lists it with a note.
    Bytes cut(mbr.begin(), mbr.begin() + 2 * 1024 * 1024 + 4096);
    auto found = scan(cut);
    ASSERT_TRUE(found) << found.fault();
    ASSERT_EQ(found->size(), 3u);
    EXPECT_NE(found->back().note.find("past the medium's end"), std::string::npos) << found->back().note;
    EXPECT_TRUE(found->front().note.empty());
    // An Apple map that ends before its count is read up to its last entry.
    auto shortMap = scan(with(apm, [](Bytes& b) { std::memset(b.data() + 4 * 512, 0, 512); }));
    ASSERT_TRUE(shortMap) << shortMap.fault();
    EXPECT_EQ(shortMap->size(), 3u);
    // A wrapper whose embedded volume lies past its partition stays an HFS volume, with a note.
    const Bytes wrapped = with(load(test::fixturePath("partitions/wrapped.hfs")), [](Bytes& b) { b[1024 + 0x80] = 0x7F; });
    auto odd = scan(wrapped);
    ASSERT_TRUE(odd) << odd.fault();
    ASSERT_EQ(odd->size(), 1u);
    EXPECT_EQ(odd->front().kind, VolumeKind::Hfs);
    EXPECT_NE(odd->front().note.find("does not lie inside the partition"), std::string::npos);
    // So does one whose embedded volume has lost its header.
    const Bytes headless = with(load(test::fixturePath("partitions/wrapped.hfs")),
                                [](Bytes& b) { b[16 * 512 + 2 * 4096 + 1024] = 0; });
    auto stale = scan(headless);
    ASSERT_TRUE(stale) << stale.fault();
    ASSERT_EQ(stale->size(), 1u);
    EXPECT_EQ(stale->front().kind, VolumeKind::Hfs);
    EXPECT_NE(stale->front().note.find("no HFS+ volume header there"), std::string::npos) << stale->front().note;
}

}  // namespace
}  // namespace quarry
