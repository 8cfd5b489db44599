// The copy engine driven directly: the copy of a selection, the abort question between entries,
// and renaming on the fly.

#include <gtest/gtest.h>

#include "app/command_ids.h"
#include "app/main_commands.h"
#include "copy/copy_engine.h"
#include "app/navigation.h"
#include "support/fixture_path.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

using test::tree;

// A new folder made current for the life of the object: the copy writes to the current one.
struct InDirectory : test::TempDir {
    const fs::path old = fs::current_path();
    InDirectory() { fs::current_path(path()); }
    ~InDirectory() { fs::current_path(old); }
};

void select(test::MountedImage& m, const std::string& name) {
    FileList& list = m.session.settings.list;
    for (uint16_t i = 0; i < list.entryCount; ++i)
        if (list.entries[i].name() == name) list.entries[i].raw[entry::kSelected] = 1;
}

TEST(CopySelection, CopiesEachSelectedEntryOnce) {
    InDirectory target;
    test::MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    m.list();

    // Nothing selected: the message, nothing else.
    CopySelectionToPc(m.session);
    EXPECT_EQ(m.ui.timedMessages, (std::vector<std::string>{"No selected file or folder. Please select an item to copy toward the PC"}));
    EXPECT_EQ(m.ui.targetDialogs, 0);

    select(m, "Puzzle");
    select(m, "Docs");
    m.ui.targetAnswer = false;
    CopySelectionToPc(m.session);
    // Cancelling the target chooser copies nothing and keeps the selection.
    EXPECT_EQ(m.ui.targetDialogs, 1);
    EXPECT_TRUE(tree(target.path()).empty());
    EXPECT_EQ(CountSelectedEntries(m.session.settings.list), 2);

    m.ui.targetAnswer = true;
    CopySelectionToPc(m.session);
    EXPECT_EQ(CountSelectedEntries(m.session.settings.list), 0);
    EXPECT_TRUE(tree(target.path()).count("Puzzle.com"));
    EXPECT_TRUE(tree(target.path()).count("Docs/Old Drafts/Draft 2.txt"));
    // The current folder is the one the copy started from.
    EXPECT_EQ(m.session.dir.currentDirID, kRootDirId);

    // "Use Current Directory" and port output skip the chooser.
    m.session.settings.useCurrentDirectory = true;
    select(m, "aardvark");
    CopySelectionToPc(m.session);
    EXPECT_EQ(m.ui.targetDialogs, 2);
    EXPECT_TRUE(tree(target.path()).count("aardvark.txt"));
}

TEST(CopySelection, NoDriveNoCopy) {
    test::MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    m.session.device.targetId = kNoSelection;
    CopySelectionToPc(m.session);
    EXPECT_EQ(m.ui.timedMessages, (std::vector<std::string>{"Select drive in the 'Mac Drive' menu"}));
}

TEST(CopyModes, TheMenuCommandsSetOneModeAndItsCheckMark) {
    test::MountedImage m(test::fixturePath("basic.hfs"));
    for (int c : {command::kMacBinaryMode, command::kResourceForkMode, command::kDataForkMode}) {
        ASSERT_TRUE(RunMainCommand(m.session, c));
        const uint16_t mode = m.session.settings.optionWord & opt::kCopyModeMask;
        EXPECT_EQ(mode, c == command::kMacBinaryMode ? opt::kCopyMacBinary : c == command::kResourceForkMode ? opt::kCopyResource : opt::kCopyData);
        const auto& checks = m.ui.menuChecks;
        ASSERT_GE(checks.size(), 3u);
        for (size_t i = checks.size() - 3; i < checks.size(); ++i) EXPECT_EQ(checks[i].second, checks[i].first == c);
    }
}

TEST(CopyAbort, TheQuestionStopsOnlyTheFolderThatAsked) {
    InDirectory target;
    test::MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    // The first poll comes before Docs, the second before Docs's first entry: Answering Yes there
    // stops Docs at once, leaving it empty, and its result ends the copy of the pattern.
    m.ui.abortAfterPolls = 1;
    const uint16_t result = CopyMacEntries(m.session.copyContext(), m.session.dir.currentDirID, "D*");
    EXPECT_EQ(result, copyresult::kAborted);
    EXPECT_EQ(tree(target.path()), (std::set<std::string>{"Docs"}));

    // An abort at entry level ends the whole copy: one file, then Yes before the second.
    InDirectory second;
    m.ui.abortAfterPolls = m.ui.escapePolls + 1;
    EXPECT_EQ(CopyMacEntries(m.session.copyContext(), m.session.dir.currentDirID, "*"), copyresult::kAborted);
    EXPECT_EQ(tree(second.path()), (std::set<std::string>{"aardvark.txt"}));
}

TEST(RenamingOnTheFly, AsksForEachNameAndSkipsTakenOnes) {
    InDirectory target;
    { std::ofstream("taken.txt") << "keep"; }
    test::MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_EQ(m.mountResult, 1);
    m.session.settings.setNamingMode(NamingMode::AskEachFile);
    m.ui.pcNameAnswers = {std::string("C:\\\\DOS\\\\chosen.bin"), std::string("taken.txt"), std::nullopt};
    CopyMacEntries(m.session.copyContext(), m.session.dir.currentDirID, "Puzzle");
    CopyMacEntries(m.session.copyContext(), m.session.dir.currentDirID, "aardvark");
    CopyMacEntries(m.session.copyContext(), m.session.dir.currentDirID, "Locked");
    EXPECT_EQ(m.ui.pcNameQuestions, (std::vector<std::string>{"Puzzle", "aardvark", "Locked"}));
    // A typed drive and directory are dropped; a taken name is not replaced; Cancel skips.
    EXPECT_EQ(tree(target.path()), (std::set<std::string>{"chosen.bin", "taken.txt"}));
    EXPECT_EQ(fs::file_size("chosen.bin"), 1200u);
    EXPECT_EQ(test::slurp("taken.txt"), "keep");
    EXPECT_NE(std::find(m.ui.timedMessages.begin(), m.ui.timedMessages.end(), "taken.txt already exists. Aborting the copy..."),
              m.ui.timedMessages.end());
}

}  // namespace
}  // namespace quarry
