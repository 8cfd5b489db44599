// The partition scan on media made by real tools (xorriso, genisoimage, hformat, sgdisk, sfdisk),
// with 7-Zip's listing of each map (7zz l -slt) as the oracle for every partition's start and
// length; and damaged maps built from those, each refused with its message.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "device/partition_scan.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/run_process.h"

namespace quarry {
namespace {

using test::Bytes;

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

const char* const kHfsGuid = "48465300-0000-11AA-AA11-00306543ECAC";
const char* const kApfsGuid = "7C3457EF-0000-11AA-AA11-00306543ECAC";

TEST(PartitionScan, MapsOfRealToolsAgreeWithSevenZipAndNameEachVolume) {
    // The two Apple maps differ in block size only, the two GPTs in sector size only.
    const std::vector<Expected> xorrisoMap{{1, VolumeKind::Other, "Apple", "Apple_partition_map"},
                                           {2, VolumeKind::Other, "Gap0", "ISO9660_data"},
                                           {3, VolumeKind::HfsPlus, "HFSPLUS_Hybrid", "Apple_HFS"},
                                           {4, VolumeKind::Other, "Gap1", "ISO9660_data"}};
    const std::vector<Expected> gpt{{1, VolumeKind::Hfs, "Classic", kHfsGuid},
                                    {2, VolumeKind::HfsPlus, "Plus", kHfsGuid},
                                    {3, VolumeKind::Apfs, "Container", kApfsGuid},
                                    {4, VolumeKind::Other, "Data", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}};
    struct MapCase {
        const char* fixture;
        const char* sevenZipType;
        PartitionScheme scheme;
        std::vector<Expected> expected;  // every entry the scan must list, in order
    };
    const MapCase cases[] = {
        {"partitions/apm-xorriso.iso", "APM", PartitionScheme::AppleMap, xorrisoMap},
        {"partitions/apm-xorriso-2048.iso", "APM", PartitionScheme::AppleMap, xorrisoMap},
        {"partitions/gpt.img", "GPT", PartitionScheme::Gpt, gpt},
        {"partitions/gpt-4096.img", "GPT", PartitionScheme::Gpt, gpt},
        {"partitions/mbr.img", "MBR", PartitionScheme::Mbr,
         {{1, VolumeKind::HfsPlus, "", "0xAF"}, {2, VolumeKind::Other, "", "0x0B"}, {3, VolumeKind::Hfs, "", "0xAF"}}},
    };
    for (const MapCase& c : cases) {
        SCOPED_TRACE(c.fixture);
        const std::string path = test::fixturePath(c.fixture);
        const Bytes medium = test::readFile(path);
        ASSERT_FALSE(medium.empty());
        auto found = scan(medium);
        ASSERT_TRUE(found) << found.fault();
        const std::vector<FoundVolume>& volumes = *found;
        // Same partitions as 7-Zip: each of its starts and lengths, and nothing it does not list;
        // and the kinds, names and types of what the tools put there.
        const auto parts = sevenZip(c.sevenZipType, path);
        ASSERT_EQ(volumes.size(), parts.size());
        ASSERT_EQ(volumes.size(), c.expected.size());
        for (size_t i = 0; i < parts.size(); ++i) {
            EXPECT_EQ(volumes[i].start, parts[i].offset) << parts[i].path;
            EXPECT_EQ(volumes[i].length, parts[i].size) << parts[i].path;
            EXPECT_EQ(volumes[i].scheme, c.scheme);
            // 7-Zip names APM partitions "name.type" and GPT ones "index.name.type", index from 0.
            std::string prefix;
            if (c.scheme == PartitionScheme::AppleMap) prefix = volumes[i].name + ".";
            if (c.scheme == PartitionScheme::Gpt) prefix = std::to_string(volumes[i].index - 1) + "." + volumes[i].name + ".";
            EXPECT_EQ(parts[i].path.rfind(prefix, 0), 0u) << parts[i].path;
            const Expected& e = c.expected[i];
            EXPECT_EQ(volumes[i].index, e.index) << i;
            EXPECT_EQ(volumes[i].kind, e.kind) << i << ": " << kindName(volumes[i].kind);
            EXPECT_EQ(volumes[i].name, e.name) << i;
            EXPECT_EQ(volumes[i].type, e.type) << i;
            EXPECT_EQ(volumes[i].volumeStart, volumes[i].start);
            EXPECT_TRUE(volumes[i].note.empty()) << volumes[i].note;
        }
    }
}

// (Bare volumes, and media that hold none, are mounted or refused through quarry-cli in
// tests/cli/cli_test.cpp and the HFS+ tests.)
TEST(PartitionScan, GenisoimageMapAndAWrappedVolume) {
    // 7-Zip does not open genisoimage's map (it refuses the driver descriptor's block count), so
    // the volume found there is checked by its MDB's name, the one genisoimage was given.
    const Bytes hybrid = test::readFile(test::fixturePath("hybrid.iso"));
    auto inMap = scan(hybrid);
    ASSERT_TRUE(inMap) << inMap.fault();
    ASSERT_EQ(inMap->size(), 2u);
    EXPECT_EQ((*inMap)[0].type, "Apple_partition_map");
    const FoundVolume& hfs = (*inMap)[1];
    EXPECT_EQ(std::tuple(hfs.scheme, hfs.index, hfs.type, hfs.kind),
              std::tuple(PartitionScheme::AppleMap, 2u, std::string("Apple_HFS"), VolumeKind::Hfs));
    ASSERT_LE(hfs.start + hfs.length, hybrid.size());
    const uint8_t* mdb = hybrid.data() + hfs.volumeStart + 1024;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mdb + 0x25), mdb[0x24]), "Quarry Hybrid");
    // The HFS+ volume inside the wrapper (which 7-Zip lists, see make_fixtures.sh) is the very
    // volume 7-Zip cut out of the xorriso image.
    const Bytes wrapped = test::readFile(test::fixturePath("partitions/wrapped.hfs"));
    const Bytes plus = test::readFile(test::fixturePath("partitions/plus.hfs"));
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
    const Bytes gpt = test::readFile(test::fixturePath("partitions/gpt.img"));
    const Bytes apm = test::readFile(test::fixturePath("partitions/apm-xorriso.iso"));
    const Bytes mbr = test::readFile(test::fixturePath("partitions/mbr.img"));
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

    // What the scan still lists, and the note on the last of it.
    const Bytes wrapped = test::readFile(test::fixturePath("partitions/wrapped.hfs"));
    struct Noted {
        const char* what;
        Bytes medium;
        size_t count;
        const char* note;  // on the last volume listed, the others have none
    };
    const Noted noted[] = {
        {"MBR partition past an image cut short", Bytes(mbr.begin(), mbr.begin() + 2 * 1024 * 1024 + 4096), 3, "past the medium's end"},
        {"Apple map ending before its count", with(apm, [](Bytes& b) { std::memset(b.data() + 4 * 512, 0, 512); }), 3, ""},
        // A wrapper whose embedded volume is not there stays an HFS volume.
        {"embedded volume past the wrapper", with(wrapped, [](Bytes& b) { b[1024 + 0x80] = 0x7F; }), 1, "does not lie inside the partition"},
        {"embedded volume without its header", with(wrapped, [](Bytes& b) { b[16 * 512 + 2 * 4096 + 1024] = 0; }), 1,
         "no HFS+ volume header there"},
    };
    for (const Noted& c : noted) {
        SCOPED_TRACE(c.what);
        auto found = scan(c.medium);
        ASSERT_TRUE(found) << found.fault();
        ASSERT_EQ(found->size(), c.count);
        for (size_t i = 0; i + 1 < found->size(); ++i) EXPECT_EQ((*found)[i].note, "");
        EXPECT_NE(found->back().note.find(c.note), std::string::npos) << found->back().note;
        if (c.count == 1) {
            EXPECT_EQ(found->back().kind, VolumeKind::Hfs);
        }
    }
}

}  // namespace
}  // namespace quarry
