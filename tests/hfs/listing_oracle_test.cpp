// Every folder of volumes made by hfsutils and genisoimage, listed by Quarry and by hls: names,
// kinds, types and creators, fork sizes, folder valences and dates must agree.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/navigation.h"
#include "support/hfs_oracle.h"
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

void compareFolder(MountedImage& m, const std::string& image, const std::string& hfsPath, int& folders, int& files) {
    SCOPED_TRACE("folder " + hfsPath);
    BuildFileList(m.session, nullptr);
    const FileList& list = m.session.settings.list;
    std::map<std::string, const ListEntry*> ours;
    for (uint16_t i = 0; i < list.entryCount; ++i) ours[list.entries[i].name()] = &list.entries[i];

    const std::vector<OracleEntry> theirs = test::hlsList(image, hfsPath);
    ASSERT_EQ(ours.size(), theirs.size());
    std::vector<std::string> subfolders;
    for (const OracleEntry& o : theirs) {
        SCOPED_TRACE("entry " + o.name);
        auto it = ours.find(o.name);
        ASSERT_NE(it, ours.end()) << "missing from our list";
        const ListEntry& e = *it->second;
        EXPECT_EQ(e.isFolder(), o.isFolder);
        if (o.isFolder) {
            ++folders;
            EXPECT_EQ(trim(e.dataSizeText()), "<DIR>");
            EXPECT_EQ(trim(e.rsrcSizeText()), "");
            EXPECT_EQ(trim(e.signatureText()), "[" + std::to_string(o.valence) + "]");
            subfolders.push_back(o.name);
        } else {
            ++files;
            EXPECT_EQ(trim(e.dataSizeText()), expectedSize(o.dataSize));
            EXPECT_EQ(trim(e.rsrcSizeText()), expectedSize(o.rsrcSize));
            EXPECT_EQ(std::string(e.signatureText()), o.type + o.creator);
        }
        expectDate(e.modifiedText(), o.modified, "modified");
        expectDate(e.createdText(), o.created, "created");
    }
    for (const std::string& name : subfolders) {
        ASSERT_TRUE(enterDirectory(m.session, name, NameMatch::Exact)) << name;
        EXPECT_EQ(m.session.dir.currentName, name);
        compareFolder(m, image, hfsPath == ":" ? ":" + name : hfsPath + ":" + name, folders, files);
        ASSERT_TRUE(changeToParent(m.session));
    }
}

class ListingMatchesHls : public ::testing::TestWithParam<const char*> {};

TEST_P(ListingMatchesHls, InEveryFolder) {
    const std::string image = test::fixturePath(GetParam());
    MountedImage m(image);
    EXPECT_EQ(m.session.volume.volumeName(), test::hmountVolumeName(image));
    int folders = 0, files = 0;
    compareFolder(m, image, ":", folders, files);
    EXPECT_GT(files + folders, 1);
    EXPECT_TRUE(m.session.volume.catalog.fault.empty()) << m.session.volume.catalog.fault;
    EXPECT_EQ(m.session.dir.currentDirID, kRootDirId);
    EXPECT_EQ(m.session.dir.currentName, "Root  ");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ListingMatchesHls,
                         ::testing::Values("basic.hfs", "many.hfs", "fragmented.hfs", "catalog-overflow.hfs", "hybrid.iso",
                                           "names-4.hfs", "short-threads.hfs"), test::FixtureParamName());

}  // namespace
}  // namespace quarry
