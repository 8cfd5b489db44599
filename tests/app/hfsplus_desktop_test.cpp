// The desktop program's commands on HFS+ volumes, whose names reach beyond Macintosh Roman and
// past a row's 31 characters: a row shows its Unicode name, and finds its own entry again to
// open, copy, dump and show it.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "app/main_commands.h"
#include "app/main_window_model.h"
#include "app/navigation.h"
#include "dump/dump_model.h"
#include "support/fixture_path.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

uint16_t rowShowing(const FileList& list, std::string_view name) {
    for (uint16_t i = 0; i < list.entryCount; ++i)
        if (list.shownNameOf(i) == name) return i;
    return kNoIndex;
}

TEST(HfsPlusDesktop, RowsOfUnicodeNamesOpenCopyAndDump) {
    test::CurrentTempDir target;  // the copy writes to the current folder
    test::MountedImage m(test::fixturePath("hfsplus.iso"));
    const FileList& list = m.list();
    // Folders whose names Macintosh Roman would make question marks, and a name stored
    // decomposed, shown composed.
    for (const char* name : {"Кириллица", "日本語", "Résumé naïve"})
        EXPECT_NE(rowShowing(list, name), kNoIndex) << name;

    CommandStates states;
    SelectEntry(m.session, rowShowing(list, "日本語"));
    OpenSelectedFolder(m.session, states);
    ASSERT_NE(m.session.dir.currentDirID, kRootDirId);
    ASSERT_EQ(list.entryCount, 1);
    ASSERT_EQ(list.shownNameOf(0), "ファイル.txt");

    DumpModel dump;
    ASSERT_EQ(openDump(m.session, dump, list.keyOf(0)), DumpOpen::Shown);
    EXPECT_EQ(dumpWindowTitle(dump.file), "Dumping file \"ファイル.txt\"");
    EXPECT_EQ(std::string(dump.buffer.begin(), dump.buffer.begin() + 5), "file\n");

    m.session.settings.useCurrentDirectory = true;
    SelectEntry(m.session, 0);
    CopySelectionToPc(m.session);
    EXPECT_EQ(test::slurp("ファイル.txt"), "file\n");

    // A name longer than a row holds shows cut to 31 characters, and copies whole.
    ASSERT_TRUE(changeToRoot(m.session) && enterDirectory(m.session, "Docs"));
    m.list();
    const uint16_t longName = rowShowing(list, "A name longer than a list row h");
    ASSERT_NE(longName, kNoIndex);
    SelectEntry(m.session, longName);
    CopySelectionToPc(m.session);
    EXPECT_EQ(test::slurp("A name longer than a list row holds.txt"), "long\n");
    EXPECT_EQ(m.session.copy.failures, 0u);
}

TEST(HfsPlusDesktop, DumpOfAForkPastFourGigabytes) {
    test::MountedImage m(test::fixturePath("hfsplus/huge.hfsp"));
    const FileList& list = m.list();
    const uint16_t huge = rowShowing(list, "Huge.bin");
    ASSERT_NE(huge, kNoIndex);
    // The dump's 32-bit offsets show the first 4 GiB less one byte of a 4 GiB + 12,388-byte
    // fork, never the length cut to its low 32 bits.
    DumpModel dump;
    ASSERT_EQ(openDump(m.session, dump, list.keyOf(huge)), DumpOpen::Shown);
    EXPECT_EQ(dump.forkLength, 0xFFFF'FFFFu);
    scrollDump(m.session, dump, ScrollRequest::Bottom);
    EXPECT_LT(dump.position, dump.forkLength);
    EXPECT_EQ(dump.readFault, "");
}

}  // namespace
}  // namespace quarry
