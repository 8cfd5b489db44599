// Moving through folders: names shown, the list's array sized for each folder, the valence kept
// in step, and the log lines of each move.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "commands/command_line.h"
#include "hfs/btree.h"
#include "app/mount.h"
#include "app/navigation.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::MountedImage;

TEST(Navigation, TheListArrayGrowsForBigFoldersAndShrinksBack) {
    MountedImage m(test::fixturePath("many.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    FileList& list = m.session.settings.list;
    EXPECT_EQ(list.entryCapacity(), kInitialListCapacity);

    ASSERT_TRUE(enterDirectory(m.session, "Thirty-Seven"));
    EXPECT_EQ(list.entryCapacity(), 37);
    EXPECT_EQ(m.list().entryCount, 37);
    ASSERT_TRUE(changeToParent(m.session));
    // The root holds fewer than 36 entries: the array goes back to 36.
    EXPECT_EQ(list.entryCapacity(), kInitialListCapacity);

    ASSERT_TRUE(enterDirectory(m.session, "Thirty-Six"));
    EXPECT_EQ(list.entryCapacity(), kInitialListCapacity);
    EXPECT_EQ(m.list().entryCount, 36);
    ASSERT_TRUE(changeToRoot(m.session));

    // A folder whose records run through many leaves is listed whole and in catalog order.
    ASSERT_TRUE(enterDirectory(m.session, "big*"));
    EXPECT_EQ(m.session.dir.currentName, "Big Folder");
    EXPECT_EQ(list.entryCapacity(), 123);
    const FileList& big = m.list();
    ASSERT_EQ(big.entryCount, 123);
    EXPECT_EQ(big.entries[0].name(), "Entry 001");
    EXPECT_EQ(big.entries[119].name(), "Entry 120");
    EXPECT_EQ(big.entries[120].name(), "Sub A");
    EXPECT_EQ(big.entries[122].name(), "Sub Z");
}

TEST(Navigation, NamesShownAfterEachMove) {
    MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    EXPECT_EQ(m.session.dir.currentName, "Root  ");
    // A pattern resolves to the name as stored.
    ASSERT_TRUE(enterDirectory(m.session, "DO*"));
    EXPECT_EQ(m.session.dir.currentName, "Docs");
    ASSERT_TRUE(enterDirectory(m.session, "old drafts"));
    EXPECT_EQ(m.session.dir.currentName, "Old Drafts");
    const uint32_t draftsId = m.session.dir.currentDirID;
    ASSERT_TRUE(changeToParent(m.session));
    // Going up names the folder with one added space.
    EXPECT_EQ(m.session.dir.currentName, "Docs ");
    ASSERT_TRUE(changeToParent(m.session));
    EXPECT_EQ(m.session.dir.currentName, "Root  ");
    EXPECT_EQ(m.session.dir.currentDirID, kRootDirId);
    EXPECT_EQ(m.session.dir.currentParentID, kRootParentId);
    // A folder that is not there, or a file, leaves everything as it was.
    EXPECT_FALSE(enterDirectory(m.session, "Nowhere"));
    EXPECT_FALSE(enterDirectory(m.session, "Puzzle"));
    EXPECT_EQ(m.session.dir.currentName, "Root  ");
    EXPECT_NE(draftsId, kRootDirId);
    // Typed on the command line, a name that is not there beeps; one that is does not.
    ExecuteCommandText(m.session, "CD Nowhere");
    EXPECT_EQ(m.ui.beeps, 1);
    EXPECT_EQ(m.session.dir.currentName, "Root  ");
    ExecuteCommandText(m.session, "CD docs");
    EXPECT_EQ(m.ui.beeps, 1);
    EXPECT_EQ(m.session.dir.currentName, "Docs");
}

TEST(Navigation, EachMoveIsLogged) {
    test::TempDir dir;
    MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    m.session.log.stream = std::fopen(dir.file("quarry.log").c_str(), "wb");
    ASSERT_NE(m.session.log.stream, nullptr);
    ASSERT_TRUE(enterDirectory(m.session, "Docs"));
    ASSERT_TRUE(changeToParent(m.session));
    ASSERT_TRUE(changeToRoot(m.session));
    ASSERT_EQ(mountVolume(m.session), 1);
    std::fclose(m.session.log.stream);
    m.session.log.stream = nullptr;
    std::ifstream in(dir.file("quarry.log"), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "*cd Docs\r\n*cd..\n*cd\\\n*log Test Vol\n");
}

TEST(Navigation, AdjustValenceWritesTheFolderRecordBack) {
    MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    ASSERT_TRUE(enterDirectory(m.session, "Docs"));
    ASSERT_TRUE(adjustValence(m.session, +1));
    EXPECT_EQ(m.session.settings.list.entryCount, 4);
    ASSERT_TRUE(changeToParent(m.session));
    const ListEntry* docs = m.find("Docs");
    ASSERT_NE(docs, nullptr);
    EXPECT_NE(std::string(docs->signatureText()).find("[4]"), std::string::npos);
    ASSERT_TRUE(enterDirectory(m.session, "Docs"));
    ASSERT_TRUE(adjustValence(m.session, -1));
    ASSERT_TRUE(changeToParent(m.session));
    EXPECT_NE(std::string(m.find("Docs")->signatureText()).find("[3]"), std::string::npos);
    // The root's own record works the same way.
    const uint16_t rootEntries = m.list().entryCount;
    ASSERT_TRUE(adjustValence(m.session, +2));
    EXPECT_EQ(m.session.settings.list.entryCount, rootEntries + 2);
    ASSERT_NE(findCatalogRecord(m.session.volume, "*", want::kFolder, kRootParentId), nullptr);
    const uint8_t* root = recordData(currentRecordKey(m.session.volume.catalog));
    EXPECT_EQ(loadBE16(root + catrec::kValence), rootEntries + 2);
}

TEST(CatalogSearch, FindsRecordsByNameKindAndParent) {
    MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    VolumeState& v = m.session.volume;
    auto foundName = [&](const uint8_t* nd) -> std::string {
        if (!nd) return "(none)";
        const uint8_t* key = currentRecordKey(v.catalog);
        return std::string(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
    };
    EXPECT_EQ(foundName(findCatalogRecord(v, "PUZZLE", want::kFile, kRootDirId)), "Puzzle");
    EXPECT_EQ(foundName(findCatalogRecord(v, "Puzzle", want::kFolder, kRootDirId)), "(none)");
    EXPECT_EQ(foundName(findCatalogRecord(v, "Docs", want::kAny, kRootDirId)), "Docs");
    EXPECT_EQ(foundName(findCatalogRecord(v, "Read Me   ", want::kFile, kRootDirId)), "Read Me");
    EXPECT_EQ(foundName(findCatalogRecord(v, "ca*", want::kAny, kRootDirId)), "Caf\x8E Menu");
    EXPECT_EQ(foundName(findCatalogRecord(v, "*", want::kAny, kRootDirId)), "aardvark");
    // A name that sorts before every name of the folder is given up at once.
    EXPECT_EQ(foundName(findCatalogRecord(v, "!", want::kAny, kRootDirId)), "(none)");
    // The thread of a folder names its parent and itself.
    ASSERT_NE(findCatalogRecord(v, "Docs", want::kFolder, kRootDirId), nullptr);
    const uint32_t docsId = loadBE32(recordData(currentRecordKey(v.catalog)) + catrec::kDirId);
    ASSERT_NE(findCatalogRecord(v, "*", want::kThread, docsId), nullptr);
    const uint8_t* thread = recordData(currentRecordKey(v.catalog));
    EXPECT_EQ(loadBE32(thread + catrec::kThreadParentId), kRootDirId);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(thread + catrec::kThreadName + 1), thread[catrec::kThreadName]), "Docs");
}

TEST(CatalogSearch, InsertPositionsFollowTheNameOrder) {
    MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    VolumeState& v = m.session.volume;
    ASSERT_NE(findCatalogRecord(v, "Docs", want::kFolder, kRootDirId), nullptr);
    const uint32_t docsId = loadBE32(recordData(currentRecordKey(v.catalog)) + catrec::kDirId);

    // In Docs: thread, Manual, Old Drafts, Read Me. "Notes" belongs between Manual and Old
    // Drafts: before Old Drafts in its leaf, or after Manual at the end of the leaf before.
    auto nameOf = [](const uint8_t* key) {
        return std::string(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
    };
    const uint8_t* nd = findInsertPosition(v, "Notes", docsId);
    ASSERT_NE(nd, nullptr);
    const uint16_t count = nodeRecordCount(nd);
    const uint16_t at = v.catalog.recordIndex;
    const uint8_t* previous = nd + nodeRecordOffset(nd, static_cast<uint16_t>((at == kAppendIndex ? count : at) - 1));
    EXPECT_EQ(nameOf(previous), "Manual");
    if (at != kAppendIndex) {
        EXPECT_EQ(nameOf(nd + nodeRecordOffset(nd, at)), "Old Drafts");
    } else {
        const uint8_t* next = readNode(nodeForwardLink(nd), v.catalog);
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(nameOf(next + nodeRecordOffset(next, 0)), "Old Drafts");
    }

    // A name after every name of the folder goes before the next folder's first record, or after
    // the leaf's last record.
    nd = findInsertPosition(v, "Zzz", docsId);
    ASSERT_NE(nd, nullptr);
    if (v.catalog.recordIndex != kAppendIndex) {
        const uint8_t* next = nd + nodeRecordOffset(nd, v.catalog.recordIndex);
        EXPECT_NE(catalogKeyParent(next), docsId);
    } else {
        const uint8_t* last = nd + nodeRecordOffset(nd, static_cast<uint16_t>(nodeRecordCount(nd) - 1));
        EXPECT_EQ(catalogKeyParent(last), docsId);
    }
    // Under the root's parent: the first leaf, first record.
    nd = findInsertPosition(v, "Anything", kRootParentId);
    ASSERT_NE(nd, nullptr);
    EXPECT_EQ(v.catalog.nodeNumber, loadBE32(v.catalog.header.data() + header::kFirstLeaf));
    EXPECT_EQ(v.catalog.recordIndex, 0);
}

}  // namespace
}  // namespace quarry
