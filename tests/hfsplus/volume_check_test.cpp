// The HFS+ volume check: every volume that real tools and the fixture builder wrote is sound, and
// damage planted in a copy of one (with the published layout alone, not through the reader) is
// named.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>

#include "hfs/byte_order.h"
#include "hfsplus/volume_check.h"
#include "support/fixture_path.h"
#include "support/hfsplus_image.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

VolumeCheckResult check(HfsPlusImage& image) {
    EXPECT_EQ(image.fault, "");
    if (!image.volume) return {};
    return hfsplus::checkVolume(*image.medium, *image.volume);
}

std::string lines(const std::vector<std::string>& all) {
    std::string out;
    for (const std::string& line : all) out += line + "\n";
    return out;
}

// The image file read directly. The program's sector layer addresses 2048-byte blocks with
// six-byte commands (21 bits, 4 GiB), so a volume reaching past that is read here this way.
class FileMedium : public hfsplus::Medium {
public:
    explicit FileMedium(const std::string& path) : in_(path, std::ios::binary | std::ios::ate), size_(static_cast<uint64_t>(in_.tellg())) {}
    Status read(uint64_t offset, std::span<uint8_t> out) override {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        if (!in_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size())))
            return Fault{"read error at byte " + std::to_string(offset)};
        return Status::ok();
    }
    uint64_t size() const override { return size_; }

private:
    std::ifstream in_;
    uint64_t size_;
};

struct SoundCase {
    const char* image;
    uint64_t start;              // byte of the volume (or its wrapper); UINT64_MAX: the Apple_HFS partition
    const char* note;            // a note the check must give, or ""
};

TEST(HfsPlusVolumeCheck, VolumesOfRealToolsAndTheBuilderAreSound) {
    const SoundCase cases[] = {
        // xorriso marks its last eight blocks free though the header counts none: harmless on a
        // volume it locks.
        {"hfsplus.iso", UINT64_MAX, "locked volume: volume header: 0 free blocks, the allocation file has 8 clear"},
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
        VolumeCheckResult result;
        if (std::string(c.image) == "hfsplus/huge.hfsp") {
            FileMedium medium(path);
            auto volume = hfsplus::Volume::open(medium, c.start);
            ASSERT_TRUE(volume) << volume.fault();
            result = hfsplus::checkVolume(medium, **volume);
        } else {
            HfsPlusImage image(path, c.start == UINT64_MAX ? applePartitionStart(path) : c.start);
            result = check(image);
        }
        EXPECT_TRUE(result.sound()) << lines(result.problems);
        if (*c.note) EXPECT_NE(std::find(result.notes.begin(), result.notes.end(), c.note), result.notes.end()) << lines(result.notes);
        else EXPECT_TRUE(result.notes.empty()) << lines(result.notes);
    }
}

// A bare volume's bytes with what the plantings need to find, read by the published layout.
struct Raw {
    std::vector<uint8_t> bytes;
    explicit Raw(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    uint8_t* header() { return bytes.data() + 1024; }
    uint32_t blockSize() { return loadBE32(header() + 40); }
    uint8_t* alternate() { return bytes.data() + uint64_t{loadBE32(header() + 44)} * blockSize() - 1024; }
    // A special file's first extent (the fixtures write each tree in one).
    uint8_t* tree(size_t forkAt) { return bytes.data() + uint64_t{loadBE32(header() + forkAt + 16)} * blockSize(); }
    uint32_t nodeSize(size_t forkAt) { return loadBE16(tree(forkAt) + 32); }
    uint8_t* catalogNode(uint32_t n) { return tree(272) + uint64_t{n} * nodeSize(272); }
    // Where the record data of the catalog key with `name` (ASCII) begins; parent 0 means any.
    uint8_t* record(const std::string& name, uint32_t parent = 0) {
        std::vector<uint8_t> tail{0, static_cast<uint8_t>(name.size())};
        for (char c : name) tail.insert(tail.end(), {0, static_cast<uint8_t>(c)});
        const uint32_t size = nodeSize(272);
        for (uint32_t n = 1; n < loadBE32(tree(272) + 36); ++n) {
            uint8_t* node = catalogNode(n);
            if (node[8] != 0xFF) continue;
            for (uint8_t* at = node; (at = std::search(at, node + size, tail.begin(), tail.end())) != node + size; ++at)
                if (parent == 0 || loadBE32(at - 4) == parent) return at + tail.size();
        }
        ADD_FAILURE() << "no catalog record " << name;
        return nullptr;
    }
    std::string write(const TempDir& dir) const {
        const std::string path = dir.file("planted");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
};

struct Planting {
    const char* what;
    const char* image;
    std::function<void(Raw&)> plant;
    const char* found;  // a part of the problem the check must report
};

TEST(HfsPlusVolumeCheck, PlantedDamageIsFound) {
    const Planting plantings[] = {
        {"an index key out of order", "hfsplus/case.hfsx",
         [](Raw& r) {
             uint8_t* root = r.catalogNode(loadBE32(r.tree(272) + 16));
             const uint16_t second = loadBE16(root + r.nodeSize(272) - 4);
             storeBE32(root + second + 2, 0);  // the second index key's parent ID below the first's
         },
         "keys out of order at record 1"},
        {"a file record whose thread is gone", "hfsplus/forks.hfsp",
         [](Raw& r) { storeBE32(r.record("Read Me.txt", 2) + 8, 9999); }, "catalog: file 9999 has no thread"},
        {"a block in two forks", "hfsplus/forks.hfsp",
         [](Raw& r) {
             // Read Me.txt's one extent moved onto the catalog's first block.
             storeBE32(r.record("Read Me.txt", 2) + 88 + 16, loadBE32(r.header() + 272 + 16));
         },
         "also belongs to catalog tree"},
        {"a wrong free count", "hfsplus/forks.hfsp",
         [](Raw& r) { storeBE32(r.header() + 48, loadBE32(r.header() + 48) + 1); }, "free blocks, the allocation file has"},
        {"a wrong link count", "hfsplus/links.hfsp", [](Raw& r) { storeBE32(r.record("iNode21") + 32 + 12, 3); },
         "hard link target iNode21: link count 3, 2 link(s) lead to it"},
        {"a broken decmpfs magic", "hfsplus/compressed.hfsp",
         [](Raw& r) {
             const std::string magic = "fpmc";
             auto at = std::search(r.bytes.begin(), r.bytes.end(), magic.begin(), magic.end());
             ASSERT_NE(at, r.bytes.end());
             at[3] = 'X';
         },
         "decmpfs header without its magic"},
        {"a wrong valence", "hfsplus/forks.hfsp", [](Raw& r) { storeBE32(r.record("Forks", 1) + 4, 99); },
         "catalog: folder 2 has valence 99"},
        {"a broken sibling link", "hfsplus/links.hfsp",
         [](Raw& r) { storeBE32(r.catalogNode(loadBE32(r.tree(272) + 24)), 0); }, "sibling links"},
        {"the root node free in the node map", "hfsplus/links.hfsp",
         [](Raw& r) {
             const uint32_t root = loadBE32(r.tree(272) + 16);
             uint8_t* map = r.tree(272) + loadBE16(r.tree(272) + r.nodeSize(272) - 6);
             map[root / 8] &= static_cast<uint8_t>(~(0x80 >> (root % 8)));
         },
         "in use but free in the node map"},
        {"an alternate header disagreeing", "hfsplus/links.hfsp",
         [](Raw& r) { storeBE32(r.alternate() + 16, loadBE32(r.header() + 16) + 1); },
         "creation date differs from the volume header's"},
    };
    for (const Planting& p : plantings) {
        SCOPED_TRACE(p.what);
        TempDir dir;
        Raw raw(fixturePath(p.image));
        p.plant(raw);
        HfsPlusImage image(raw.write(dir), 0);
        VolumeCheckResult result = check(image);
        EXPECT_TRUE(std::any_of(result.problems.begin(), result.problems.end(),
                                [&](const std::string& line) { return line.find(p.found) != std::string::npos; }))
            << lines(result.problems);
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
