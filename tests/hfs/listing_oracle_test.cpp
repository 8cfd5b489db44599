// Every folder of volumes made by hfsutils and genisoimage, walked by Quarry and by hls. The list
// (names, kinds, types and creators, size texts, valences, dates), the entries behind it (lookup
// keys, parents, Finder flags, lookups by name and by ID) and the test builder's own reading of
// the catalog must agree with hls. What the report and the copies give of each entry is compared
// with hls and hcopy in tests/cli/report_test.cpp and tests/copy.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/navigation.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"

namespace quarry {
namespace {

using test::MountedImage;
using test::OracleEntry;
using test::trim;

// The size text the list shows for a fork, computed here from the oracle's byte count.
std::string expectedSize(uint32_t bytes) { return bytes <= 9'999'999 ? std::to_string(bytes) : std::to_string(bytes / 1024) + "k"; }

// One date field ("mm/dd/yy hh:mm") against what hls showed: the day, and the time or the year.
void expectDate(std::string_view text, const test::HlsDate& hls, const char* what) {
    std::string shown(text);
    char theirs[32];
    if (hls.year >= 0) {
        std::snprintf(theirs, sizeof theirs, "%02d/%02d/%02d ??:??", hls.month, hls.day, hls.year % 100);
        if (shown.size() == 14) shown.replace(9, 5, "??:??");
    } else {
        std::snprintf(theirs, sizeof theirs, "%02d/%02d/?? %02d:%02d", hls.month, hls.day, hls.hour, hls.minute);
        if (shown.size() == 14) shown.replace(6, 2, "??");
    }
    EXPECT_EQ(shown, theirs) << what << ", hls: " << hls.text;
}

struct Walk {
    MountedImage& m;
    const std::string& image;
    const test::HfsImage* builder;  // none where the catalog goes on past the MDB's extents
    int folders = 0, files = 0;
};

// The entries of the current folder through the seam, each also found again by its name typed
// (either case; "*" alone finds the first entry; a name holding "*" is reached from the list
// only) and, of its own kind only, by its key exactly.
void compareEntries(MountedVolume& volume, uint32_t folderID, std::map<uint32_t, OracleEntry>& theirs) {
    std::vector<VolumeEntry> entries;
    ASSERT_TRUE(volume.visitFolder(folderID, [&](const VolumeEntry& e) {
        entries.push_back(e);
        return true;
    }));
    ASSERT_EQ(entries.size(), theirs.size());
    EXPECT_EQ(volume.findEntry(folderID, "*", NameMatch::Pattern).value_or(VolumeEntry{}).id, entries.empty() ? 0 : entries[0].id);
    EXPECT_FALSE(volume.findEntry(folderID, "*", NameMatch::Exact));
    for (const VolumeEntry& e : entries) {
        SCOPED_TRACE("entry " + e.macName);
        ASSERT_EQ(theirs.count(e.id), 1u);
        const OracleEntry& o = theirs[e.id];
        EXPECT_EQ(e.key, o.name);
        EXPECT_EQ(e.parentID, folderID);
        EXPECT_EQ((e.finderFlags() & 0x4000) != 0, o.invisible);
        if (!o.isFolder) {
            EXPECT_EQ(e.locked, o.locked);
        }
        if (e.macName.find('*') == std::string::npos) {
            std::string upper = e.macName;
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(volume.findEntry(folderID, upper, NameMatch::Pattern).value_or(VolumeEntry{}).id, e.id) << upper;
        }
        EXPECT_EQ(volume.findEntry(folderID, e.key, NameMatch::Exact, e.kind).value_or(VolumeEntry{}).id, e.id);
        EXPECT_FALSE(volume.findEntry(folderID, e.key, NameMatch::Exact, e.isFolder() ? EntryKind::File : EntryKind::Folder));
        if (o.isFolder) {
            const std::optional<VolumeEntry> again = volume.folderOfId(e.id);
            EXPECT_EQ(again.value_or(VolumeEntry{}).key, e.key);
            EXPECT_EQ(again.value_or(VolumeEntry{}).parentID, folderID);
        }
    }
}

// The builder's records of the folder: names, IDs, valences, fork lengths and types as hls has them.
void compareRecords(const test::HfsImage& image, uint32_t folderID, std::map<uint32_t, OracleEntry>& theirs) {
    const std::vector<test::CatalogRecord> records = image.children(folderID);
    ASSERT_EQ(records.size(), theirs.size());
    for (const test::CatalogRecord& r : records) {
        SCOPED_TRACE("builder's record " + r.name);
        ASSERT_EQ(theirs.count(r.id), 1u);
        const OracleEntry& o = theirs[r.id];
        EXPECT_EQ(r.name, o.name);
        ASSERT_EQ(r.type == test::catrec::kFolder, o.isFolder);
        if (o.isFolder) {
            EXPECT_EQ(image.recordData16(r, test::catfolder::kValence), o.valence);
        } else {
            EXPECT_EQ(image.recordData32(r, test::catfile::kDataLogicalLength), o.dataSize);
            EXPECT_EQ(image.recordData32(r, test::catfile::kRsrcLogicalLength), o.rsrcSize);
            EXPECT_EQ(image.recordData32(r, test::catfile::kFinderType), test::be32(o.type, 0));
            EXPECT_EQ(image.recordData32(r, test::catfile::kFinderType + 4), test::be32(o.creator, 0));
        }
    }
}

void compareFolder(Walk& w, const std::string& hfsPath) {
    SCOPED_TRACE("folder " + hfsPath);
    const FileList& list = w.m.list();
    std::map<std::string, const ListEntry*> ours;
    for (uint16_t i = 0; i < list.entryCount; ++i) ours[list.entries[i].name()] = &list.entries[i];

    const std::vector<OracleEntry> theirs = test::hlsList(w.image, hfsPath);
    std::map<uint32_t, OracleEntry> byId;
    for (const OracleEntry& o : theirs) byId[o.catalogId] = o;
    compareEntries(*w.m.session.mounted, w.m.session.dir.currentDirID, byId);
    if (w.builder) compareRecords(*w.builder, w.m.session.dir.currentDirID, byId);
    ASSERT_EQ(ours.size(), theirs.size());
    std::vector<std::string> subfolders;
    for (const OracleEntry& o : theirs) {
        SCOPED_TRACE("entry " + o.name);
        auto it = ours.find(o.name);
        ASSERT_NE(it, ours.end()) << "missing from our list";
        const ListEntry& e = *it->second;
        EXPECT_EQ(e.isFolder(), o.isFolder);
        if (o.isFolder) {
            ++w.folders;
            EXPECT_EQ(trim(e.dataSizeText()), "<DIR>");
            EXPECT_EQ(trim(e.rsrcSizeText()), "");
            EXPECT_EQ(trim(e.signatureText()), "[" + std::to_string(o.valence) + "]");
            subfolders.push_back(o.name);
        } else {
            ++w.files;
            EXPECT_EQ(trim(e.dataSizeText()), expectedSize(o.dataSize));
            EXPECT_EQ(trim(e.rsrcSizeText()), expectedSize(o.rsrcSize));
            EXPECT_EQ(std::string(e.signatureText()), o.type + o.creator);
        }
        expectDate(e.modifiedText(), o.modified, "modified");
        expectDate(e.createdText(), o.created, "created");
    }
    for (const std::string& name : subfolders) {
        ASSERT_TRUE(enterDirectory(w.m.session, name, NameMatch::Exact)) << name;
        EXPECT_EQ(w.m.session.dir.currentName, name);
        compareFolder(w, hfsPath == ":" ? ":" + name : hfsPath + ":" + name);
        ASSERT_TRUE(changeToParent(w.m.session));
    }
}

class ListingMatchesHls : public ::testing::TestWithParam<const char*> {};

TEST_P(ListingMatchesHls, InEveryFolder) {
    const std::string image = test::fixturePath(GetParam());
    MountedImage m(image);
    EXPECT_EQ(m.session.volume.volumeName(), test::hmountVolumeName(image));
    EXPECT_EQ(m.session.mounted->figures().macName, test::hmountVolumeName(image));
    test::Bytes bytes = test::readFile(image);
    // genisoimage's HFS partition begins at sector 16; hfsutils' catalog-overflow.hfs has a
    // catalog the builder does not follow into the extents tree.
    const test::HfsImage builder(bytes, image.ends_with(".iso") ? 16 * 512 : 0);
    Walk w{m, image, std::string(GetParam()) == "catalog-overflow.hfs" ? nullptr : &builder};
    compareFolder(w, ":");
    EXPECT_GT(w.files + w.folders, 1);
    EXPECT_TRUE(m.session.volume.catalog.fault.empty()) << m.session.volume.catalog.fault;
    EXPECT_EQ(m.session.dir.currentDirID, kRootDirId);
    EXPECT_EQ(m.session.dir.currentName, "Root  ");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ListingMatchesHls,
                         ::testing::Values("basic.hfs", "many.hfs", "fragmented.hfs", "catalog-overflow.hfs", "hybrid.iso",
                                           "names-4.hfs", "short-threads.hfs"), test::FixtureParamName());

}  // namespace
}  // namespace quarry
