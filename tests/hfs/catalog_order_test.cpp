// The catalog order: Quarry's comparison of names against the order in which hfsutils and
// genisoimage write catalogs, and every search built on it (lookup by name, CD, patterns, the
// place where a new record goes) on catalogs of every depth.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "hfs/btree.h"
#include "hfs/name_order.h"
#include "app/navigation.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::CatalogRecord;
using test::HfsImage;

int sign(int v) { return (v > 0) - (v < 0); }

std::string hex(const std::string& name) {
    std::string out;
    for (unsigned char c : name) out += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
    return out;
}

std::vector<uint8_t> catalogKey(uint32_t parent, const std::string& name) {
    std::vector<uint8_t> k(7 + name.size());
    k[0] = static_cast<uint8_t>(6 + name.size());
    storeBE32(k.data() + 2, parent);
    k[6] = static_cast<uint8_t>(name.size());
    std::copy(name.begin(), name.end(), k.begin() + 7);
    return k;
}

// order.hfs holds one folder for every byte value but NUL and ':', made in ascending order;
// order-refused.txt names the bytes hfsutils took for a folder already there.
TEST(CatalogOrder, EveryPairOfBytesComparesAsHfsutilsSortsThem) {
    test::Bytes bytes = test::readFile(test::fixturePath("order.hfs"));
    HfsImage image(bytes);
    const std::vector<CatalogRecord> folders = image.children(kRootDirId);

    // Catalog order is strictly ascending, so no two stored names compare equal.
    for (size_t i = 0; i < folders.size(); ++i) {
        for (size_t j = i + 1; j < folders.size(); ++j) {
            SCOPED_TRACE(hex(folders[i].name) + " before " + hex(folders[j].name));
            ASSERT_LT(compareNames(folders[i].name, folders[j].name), 0);
            ASSERT_GT(compareNames(folders[j].name, folders[i].name), 0);
        }
    }

    // A refused byte is the same name as exactly the folder hfsutils took it for.
    std::ifstream refused(test::fixturePath("order-refused.txt"));
    std::string hexName;
    uint32_t id = 0;
    size_t refusals = 0;
    while (refused >> hexName >> id) {
        const std::string name(1, static_cast<char>(std::stoi(hexName, nullptr, 16)));
        int taken = 0;
        for (const CatalogRecord& f : folders) {
            taken += f.id == id;
            EXPECT_EQ(compareNames(name, f.name) == 0, f.id == id) << hex(name) << " vs " << hex(f.name);
        }
        EXPECT_EQ(taken, 1) << hexName;
        ++refusals;
    }
    EXPECT_EQ(folders.size() + refusals, 254u);  // every byte but NUL and ':'
}

// No tool types NUL or ':' in a name. Each probe volume holds a few files in one leaf, the
// last named "\xFF"; renamed to NUL or ':' it sits at the end whatever its true place.
// hfsutils' lookup of another name P in that leaf then succeeds exactly when P sorts before
// the renamed one: the answer shows where hfsutils sorts the byte no tool can type.
TEST(CatalogOrder, NulAndColonSortWhereHfsutilsLooksForThem) {
    struct Probe {
        const char* image;
        char renamedTo;
        std::vector<std::string> names;
    };
    const Probe probes[] = {{"probe-colon.hfs", ':', {"9", ";"}}, {"probe-nul.hfs", '\0', {"\x01"}}};
    test::TempDir dir;
    for (const Probe& p : probes) {
        SCOPED_TRACE(p.image);
        test::Bytes bytes = test::readFile(test::fixturePath(p.image));
        HfsImage image(bytes);
        std::vector<CatalogRecord> files = image.children(kRootDirId);
        ASSERT_EQ(files.size(), p.names.size() + 1);
        ASSERT_EQ(files.back().name, "\xFF");
        std::vector<std::string> paths;
        for (const std::string& n : p.names) paths.push_back(":" + n);
        // Before the rename every name is found, so a miss below is the order's doing.
        for (const auto& found : test::hlsLookup(test::fixturePath(p.image), paths)) EXPECT_TRUE(found);

        test::writeBe(bytes, files.back().offset + catkey::kName, 1, static_cast<uint8_t>(p.renamedTo));
        const std::string renamed = dir.file(p.image);
        test::writeFile(renamed, bytes);
        const auto found = test::hlsLookup(renamed, paths);
        ASSERT_EQ(found.size(), p.names.size());
        const std::string typed(1, p.renamedTo);
        for (size_t i = 0; i < p.names.size(); ++i) {
            EXPECT_EQ(found[i].has_value(), compareNames(p.names[i], typed) < 0) << hex(p.names[i]);
            EXPECT_EQ(found[i].value_or(files[i].id), files[i].id) << hex(p.names[i]);
        }
    }
}

// Trailing spaces do not count, on either side, and are dropped from the searched name; NUL is a
// character like any other. How names, prefixes and patterns sort otherwise is checked against
// the volumes below and the byte order above.
TEST(CatalogOrder, TrailingSpacesAndNulInRecordNames) {
    const std::tuple<std::string, std::string, int> cases[] = {
        {"Docs   ", "Docs", 0}, {"Docs", "Docs  ", 0}, {"do*", "Docs  ", 0}, {std::string("a\0b", 3), "a", 1}};
    for (const auto& [searched, stored, expected] : cases) {
        std::string s = searched;
        auto k = catalogKey(kRootDirId, stored);
        EXPECT_EQ(sign(compareRecordName(s, k.data())), expected) << hex(searched) << " vs " << hex(stored);
        EXPECT_EQ(s, searched.substr(0, searched.find_last_not_of(' ') + 1));
    }
}

// The volumes (genisoimage's HFS partition begins at sector 16), mounted and read by the builder.
class NamesVolumeTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        // The folders to search in: the root and the folders that hold folders.
        folders_.push_back(kRootDirId);
        for (const CatalogRecord& r : rootChildren_)
            if (r.type == test::catrec::kFolder && !image_.children(r.id).empty()) folders_.push_back(r.id);
    }

    // Makes folder `id` (the root or one of its folders) current.
    void enter(uint32_t id) {
        ASSERT_TRUE(changeToRoot(session_));
        for (const CatalogRecord& r : rootChildren_) {
            if (r.id != id) continue;
            ASSERT_TRUE(enterDirectory(session_, r.name, NameMatch::Exact));
        }
        ASSERT_EQ(session_.dir.currentDirID, id);
    }

    const std::string path_ = test::fixturePath(GetParam());
    test::Bytes bytes_ = test::readFile(path_);
    HfsImage image_{bytes_, path_.ends_with(".iso") ? 16 * 512u : 0u};
    test::MountedImage mounted_{path_};
    Session& session_ = mounted_.session;
    VolumeState& volume_ = mounted_.session.volume;
    std::vector<CatalogRecord> rootChildren_ = image_.children(kRootDirId);
    std::vector<uint32_t> folders_;
};

// Every folder the listing shows is found by name, entered (as a double-click does, and as CD
// does with the name typed), named by its thread, and is where a record of the same name would
// be inserted. A typed "*" is a wildcard, so a name holding one is reached from the list only.
// A pattern of two characters and "*" enters the first folder, in the catalog order the tool
// wrote, whose name begins with them; "*" alone enters the first folder.
TEST_P(NamesVolumeTest, EveryFolderIsFoundByNameAndPattern) {
    size_t checked = 0;
    for (uint32_t parent : folders_) {
        const std::vector<CatalogRecord> children = image_.children(parent);
        std::set<std::string> prefixes{""};
        enter(parent);
        for (const CatalogRecord& r : children) {
            if (r.name.size() >= 2 && r.name.find('*') == std::string::npos) {
                std::string p = r.name.substr(0, 2);
                prefixes.insert(p);
                for (char& c : p) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c >= 'A' && c <= 'Z' ? c + 32 : c);
                prefixes.insert(p);
                prefixes.insert(p.substr(0, 1) + "~");
            }
            if (r.type != test::catrec::kFolder) continue;
            SCOPED_TRACE(hex(r.name));
            const bool typable = r.name.find('*') == std::string::npos;
            for (NameMatch match : {NameMatch::Exact, NameMatch::Pattern}) {
                if (match == NameMatch::Pattern && !typable) continue;
                SCOPED_TRACE(match == NameMatch::Exact ? "from the list" : "typed");
                ASSERT_TRUE(enterDirectory(session_, r.name, match));
                EXPECT_EQ(session_.dir.currentDirID, r.id);
                EXPECT_EQ(session_.dir.currentParentID, parent);
                EXPECT_EQ(session_.dir.currentName, r.name);
                // The folder's thread (parent and name) leads back to its record.
                EXPECT_EQ(session_.mounted->folderOfId(r.id).value_or(VolumeEntry{}).id, r.id);
                ASSERT_TRUE(changeToParent(session_));
                ASSERT_EQ(session_.dir.currentDirID, parent);
            }

            // The same name inserted again would go right after the record the tool wrote.
            const uint8_t* nd = findInsertPosition(volume_, r.name, parent);
            ASSERT_NE(nd, nullptr);
            const uint16_t at = volume_.catalog.recordIndex;
            const uint16_t before = at == kAppendIndex ? static_cast<uint16_t>(nodeRecordCount(nd) - 1)
                                                       : static_cast<uint16_t>(at - 1);
            ASSERT_NE(at, 0) << "inserted before the record itself";
            EXPECT_EQ(volume_.catalog.nodeNumber, r.node);
            EXPECT_EQ(before, r.index);
            ++checked;
        }
        for (const std::string& prefix : prefixes) {
            SCOPED_TRACE(hex(prefix) + "*");
            const auto first = std::find_if(children.begin(), children.end(), [&](const CatalogRecord& r) {
                return r.type == test::catrec::kFolder && compareNamesN(prefix, r.name, prefix.size()) == 0;
            });
            enter(parent);
            EXPECT_EQ(enterDirectory(session_, prefix + "*"), first != children.end());
            EXPECT_EQ(session_.dir.currentDirID, first != children.end() ? first->id : parent);
        }
    }
    EXPECT_GT(checked, 1u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NamesVolumeTest,
                         ::testing::Values("names-1.hfs", "names-2.hfs", "names-3.hfs", "names-4.hfs", "names-5.hfs", "names.iso",
                                           "basic.hfs", "many.hfs"),
                         test::FixtureParamName());

}  // namespace
}  // namespace quarry
