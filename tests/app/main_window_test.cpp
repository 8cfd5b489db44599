// The main window's logic on real volumes: what a click hits in each listing mode and on later
// screens, the selection cells the painter inverts, paging and its menu items, listing-mode
// changes, folder commands, mouse actions and the enabling rules of menus and buttons.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/main_commands.h"
#include "app/main_window_model.h"
#include "common/messages.h"
#include "app/navigation.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

constexpr int kWidth = 640;
constexpr int kHalf = kWidth / 2;
constexpr int kLine = 16;

// The middle of screen row r.
constexpr int rowY(int r) { return 72 + r * kLine + kLine / 2; }

// A mounted volume with its main window, showing `folder` (a path of names from the root) in
// `mode`, `screens` screens down.
struct Window {
    test::MountedImage m;
    MainWindowModel w;

    explicit Window(const std::string& image, std::vector<std::string> folder = {},
                    ListingMode mode = ListingMode::Short, int screens = 0)
        : m(image) {
        w.geometry = {kWidth, 400, kLine};
        EXPECT_EQ(m.mountResult, 1);
        for (const std::string& name : folder) EXPECT_TRUE(enterDirectory(m.session, name)) << name;
        BuildFileList(m.session, nullptr);
        UpdateCommandStates(m.session, w.states);
        UpdateShownRange(m.session, w.states);
        if (mode == ListingMode::Extended) run(command::kExtendedListing);
        if (mode == ListingMode::Signature) run(command::kSignatureListing);
        for (int i = 0; i < screens; ++i) run(command::kNextScreen);
        m.ui.invalidatedRows.clear();
        m.ui.menuChecks.clear();
        m.ui.commandStateUpdates = 0;
    }

    Session& s() { return m.session; }
    FileList& list() { return m.session.settings.list; }
    bool run(int command) { return RunMainCommand(m.session, w, command); }
    uint16_t hit(int x, int y) { return HitTestList(m.session, w.geometry, x, y); }
    ShownRange range() const { return {m.session.settings.list.firstShown, m.session.settings.list.endShown}; }
    uint16_t indexOf(const std::string& name) {
        for (uint16_t i = 0; i < list().entryCount; ++i)
            if (list().entries[i].name() == name) return i;
        ADD_FAILURE() << name << " not listed";
        return kNoIndex;
    }
    std::vector<uint16_t> selected() {
        std::vector<uint16_t> out;
        for (uint16_t i = 0; i < list().entryCount; ++i)
            if (list().entries[i].selected()) out.push_back(i);
        return out;
    }
};

std::string many() { return test::fixturePath("many.hfs"); }
std::string basic() { return test::fixturePath("basic.hfs"); }

TEST(HitTestList, EachListingModeAndLaterScreens) {
    const struct {
        const char* why;
        std::vector<std::string> folder;
        ListingMode mode;
        int screens;
        int x, y;
        uint16_t expected;
    } cases[] = {
        {"short: top left cell", {"Thirty-Six"}, ListingMode::Short, 0, 2, rowY(0), 0},
        {"short: last pixel of the left half", {"Thirty-Six"}, ListingMode::Short, 0, kHalf - 1, rowY(0), 0},
        {"short: the middle belongs to the right cell", {"Thirty-Six"}, ListingMode::Short, 0, kHalf, rowY(0), 1},
        {"short: the row starts at y 72", {"Thirty-Six"}, ListingMode::Short, 0, 10, 72, 0},
        {"short: above the list", {"Thirty-Six"}, ListingMode::Short, 0, 10, 71, kNoIndex},
        {"short: last pixel line of row 17", {"Thirty-Six"}, ListingMode::Short, 0, 600, 72 + 18 * kLine - 1, 35},
        {"short: below the last row", {"Thirty-Six"}, ListingMode::Short, 0, 10, 72 + 18 * kLine, kNoIndex},
        {"extended: one entry per row", {"Thirty-Six"}, ListingMode::Extended, 0, 600, rowY(1), 1},
        {"extended: row 17", {"Thirty-Six"}, ListingMode::Extended, 0, 10, rowY(17), 17},
        {"extended: nothing under the screen", {"Thirty-Six"}, ListingMode::Extended, 0, 10, rowY(18), kNoIndex},
        {"extended: second screen, relative index", {"Thirty-Six"}, ListingMode::Extended, 1, 10, rowY(3), 3},
        {"signature: third screen holds one entry", {"Thirty-Seven"}, ListingMode::Signature, 2, 10, rowY(0), 0},
        {"signature: below it nothing", {"Thirty-Seven"}, ListingMode::Signature, 2, 10, rowY(1), kNoIndex},
        {"short: second screen, its one entry", {"Thirty-Seven"}, ListingMode::Short, 1, 10, rowY(0), 0},
        {"short: second screen, empty right cell", {"Thirty-Seven"}, ListingMode::Short, 1, 400, rowY(0), kNoIndex},
        {"short: root of basic, odd count", {}, ListingMode::Short, 0, 400, rowY(8), kNoIndex},
        {"short: root of basic, last entry", {}, ListingMode::Short, 0, 10, rowY(8), 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Window win(c.folder.empty() ? basic() : many(), c.folder, c.mode, c.screens);
        EXPECT_EQ(win.hit(c.x, c.y), c.expected);
    }
}

TEST(HitTestList, NoDriveNoHit) {
    Window win(many(), {"Thirty-Six"});
    ASSERT_EQ(win.hit(10, rowY(0)), 0);
    win.s().device.targetId = kNoSelection;
    EXPECT_EQ(win.hit(10, rowY(0)), kNoIndex);
}

// many.hfs less Entry 001 ... Entry 016, deleted by hfsutils: Big Folder keeps 107 entries, so its
// third short screen holds 35 and the right cell of its last row stays empty.
std::string trimmedBigFolder(const test::TempDir& dir) {
    const std::string image = dir.file("trimmed.hfs");
    test::writeFile(image, test::readFile(many()));
    const std::vector<std::string> env = {"HOME=" + dir.path(), "TZ=UTC"};
    std::vector<std::string> hdel = {"hdel"};
    for (int i = 1; i <= 16; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, ":Big Folder:Entry %03d", i);
        hdel.push_back(name);
    }
    for (const auto& argv : std::vector<std::vector<std::string>>{{"hmount", image}, hdel, {"humount"}}) {
        const test::ProcessResult r = test::runProcess(argv, env);
        EXPECT_TRUE(r.succeeded()) << r.describe(argv);
    }
    return image;
}

TEST(HitTestList, LastShortScreenOfThirtyFive) {
    test::TempDir dir;
    Window win(trimmedBigFolder(dir), {"Big Folder"}, ListingMode::Short, 2);
    ASSERT_EQ(win.list().entryCount, 107);
    ASSERT_EQ(win.range(), (ShownRange{72, 107}));
    EXPECT_FALSE(win.w.states.enabled(command::kNextScreen));
    EXPECT_EQ(win.hit(10, rowY(17)), 34);
    EXPECT_EQ(win.hit(kHalf + 10, rowY(16)), 33);
    EXPECT_EQ(win.hit(kHalf + 10, rowY(17)), kNoIndex);
    // The empty cell selects nothing; the one beside it selects the folder's last entry.
    ClickList(win.s(), win.w, kHalf + 10, rowY(17));
    EXPECT_TRUE(win.selected().empty());
    ClickList(win.s(), win.w, 10, rowY(17));
    EXPECT_EQ(win.selected(), std::vector<uint16_t>{106});
    EXPECT_EQ(win.list().entries[106].name(), "Sub Z");
}

TEST(Mouse, ClickOnTheSecondScreenSelectsThatEntryAndRepaintsRowZero) {
    Window win(many(), {"Thirty-Seven"}, ListingMode::Short, 1);
    ClickList(win.s(), win.w, 10, rowY(0));
    EXPECT_EQ(win.selected(), std::vector<uint16_t>{36});
    EXPECT_EQ(win.m.ui.invalidatedRows, std::vector<int>{0});
    // The click updates the menus: an entry is selected now.
    EXPECT_EQ(win.m.ui.commandStateUpdates, 1);
    EXPECT_TRUE(win.w.states.enabled(command::kCopyToPc));
    ClickList(win.s(), win.w, 10, rowY(0));
    EXPECT_TRUE(win.selected().empty());
    EXPECT_FALSE(win.w.states.enabled(command::kCopyToPc));
}

TEST(Mouse, SelectionRepaintsTheEntrysRow) {
    // Right cells share the row of the left cell beside them.
    const struct {
        ListingMode mode;
        uint16_t index;
        int row;
    } cases[] = {
        {ListingMode::Short, 0, 0}, {ListingMode::Short, 3, 1}, {ListingMode::Short, 35, 17},
        {ListingMode::Extended, 3, 3}, {ListingMode::Signature, 17, 17},
    };
    for (const auto& c : cases) {
        Window win(many(), {"Thirty-Six"}, c.mode);
        SelectEntry(win.s(), c.index);
        DeselectEntry(win.s(), c.index);
        EXPECT_EQ(win.m.ui.invalidatedRows, (std::vector<int>{c.row, c.row})) << c.index;
    }
}

TEST(Mouse, DoubleClickOnAFileOnlyToggles) {
    Window win(basic());
    const uint16_t file = win.indexOf("Big Forks");  // index 2: row 1, left cell
    ClickList(win.s(), win.w, 10, rowY(1));
    DoubleClickList(win.s(), win.w, 10, rowY(1));
    EXPECT_EQ(win.selected(), std::vector<uint16_t>{file});
    EXPECT_EQ(win.s().dir.currentDirID, kRootDirId);
    EXPECT_EQ(win.m.ui.invalidatedRows, std::vector<int>{1});
}

TEST(Mouse, DoubleClickOnAFolderOpensIt) {
    Window win(basic());
    ASSERT_EQ(win.indexOf("Docs"), 4);  // row 2, left cell
    ClickList(win.s(), win.w, 10, rowY(2));
    DoubleClickList(win.s(), win.w, 10, rowY(2));
    EXPECT_EQ(win.s().dir.currentName, "Docs");
    ASSERT_EQ(win.list().entryCount, 3);
    EXPECT_EQ(win.list().entries[0].name(), "Manual");
    EXPECT_TRUE(win.selected().empty());
    EXPECT_EQ(win.range(), (ShownRange{0, 3}));
    EXPECT_EQ(win.m.ui.invalidatedRows.back(), 255);
    EXPECT_TRUE(win.w.states.enabled(command::kParent));
    EXPECT_TRUE(win.w.states.buttonEnabled[button::kRoot]);
}

TEST(Mouse, RightClickSelectsAndGreysDumpAndAttributesForAFolder) {
    const struct {
        const char* name;
        int x, y;
        bool folder;
    } cases[] = {
        {"Docs", 10, rowY(2), true},
        {"Empty Folder", kHalf + 10, rowY(3), true},
        {"Big Forks", 10, rowY(1), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Window win(basic());
        const ContextMenuRequest menu = RightClickList(win.s(), win.w, c.x, c.y);
        EXPECT_TRUE(menu.open);
        EXPECT_EQ(win.selected(), std::vector<uint16_t>{win.indexOf(c.name)});
        EXPECT_EQ(menu.enabled(command::kDump), !c.folder);
        EXPECT_EQ(menu.enabled(command::kAttributes), !c.folder);
        EXPECT_TRUE(menu.enabled(command::kCopyToPc));
        EXPECT_TRUE(menu.enabled(command::kDelete));
    }
}

TEST(Mouse, RightClickOnTheSecondScreenOrOnNothing) {
    Window win(many(), {"Thirty-Seven"}, ListingMode::Short, 1);
    EXPECT_FALSE(RightClickList(win.s(), win.w, kHalf + 10, rowY(0)).open);
    EXPECT_TRUE(win.selected().empty());
    EXPECT_TRUE(RightClickList(win.s(), win.w, 10, rowY(0)).open);
    EXPECT_EQ(win.selected(), std::vector<uint16_t>{36});
}

TEST(Paint, InvertedCellsInShortMode) {
    Window win(many(), {"Thirty-Six"});
    for (uint16_t i : {0, 3, 35}) SelectEntry(win.s(), i);
    const MainWindowPaint p = PlanMainWindowPaint(win.s(), win.w);
    // Left cells from x 2 to 4 short of the middle; right cells from 2 past the middle, as wide
    // as the left cell less one pixel.
    const std::vector<Rect> expected = {
        {2, 72, kHalf - 4, 88},
        {kHalf + 2, 88, kWidth - 3, 104},
        {kHalf + 2, 72 + 17 * kLine, kWidth - 3, 72 + 18 * kLine},
    };
    EXPECT_EQ(p.inverted, expected);
}

TEST(Paint, InvertedCellsInTheWideListings) {
    Window win(many(), {"Thirty-Seven"}, ListingMode::Extended, 2);
    SelectEntry(win.s(), 36);
    const MainWindowPaint p = PlanMainWindowPaint(win.s(), win.w);
    EXPECT_EQ(p.inverted, (std::vector<Rect>{{2, 72, kWidth - 4, 88}}));
}

TEST(Paint, ColumnsOfEachListingMode) {
    const auto textsOf = [](Window& win, const std::string& name) {
        const MainWindowPaint p = PlanMainWindowPaint(win.s(), win.w);
        for (const ListCell& c : p.cells)
            if (c.index == win.indexOf(name)) return c.texts;
        ADD_FAILURE() << name << " not painted";
        return std::vector<TextRun>{};
    };
    using A = TextAlign;
    {
        Window win(basic());
        // Index 2, row 1: left cell. Index 3 (Caf\x8e Menu), right cell: the name in UTF-8.
        EXPECT_EQ(textsOf(win, "Big Forks"),
                  (std::vector<TextRun>{{2, 88, A::Left, "Big Forks"}, {kHalf - 4, 88, A::Right, "   5000 "}}));
        EXPECT_EQ(textsOf(win, "Caf\x8e Menu"),
                  (std::vector<TextRun>{{kHalf + 5, 88, A::Left, "Caf\xc3\xa9 Menu"}, {kWidth - 6, 88, A::Right, "     36 "}}));
        EXPECT_EQ(textsOf(win, "Docs")[1].text, "  <DIR> ");
    }
    {
        Window win(basic(), {}, ListingMode::Extended);
        EXPECT_EQ(textsOf(win, "Big Forks"), (std::vector<TextRun>{
                                                 {2, 104, A::Left, "Big Forks"},
                                                 {kHalf + 50, 104, A::Right, "   5000 "},
                                                 {kHalf + 110, 104, A::Right, "   1500 "},
                                                 {kHalf + 211, 104, A::Right, "03/04/01 05:06"},
                                                 {kWidth - 8, 104, A::Right, "03/04/01 06:07"},
                                             }));
    }
    {
        Window win(basic(), {}, ListingMode::Signature);
        EXPECT_EQ(textsOf(win, "Big Forks").back(), (TextRun{kWidth - 16, 104, A::Right, "BINAhDmp"}));
        EXPECT_EQ(textsOf(win, "Docs").back(), (TextRun{kWidth - 16, 136, A::Right, "     [3]"}));
    }
}

TEST(Paint, HeaderAndEmptyFolder) {
    Window win(basic(), {"Empty Folder"});
    const MainWindowPaint p = PlanMainWindowPaint(win.s(), win.w);
    ASSERT_TRUE(p.volumeShown);
    ASSERT_EQ(p.header.size(), 4u);
    EXPECT_EQ(p.header[0].x, 10);
    EXPECT_EQ(p.header[1].x, kHalf + 9);
    EXPECT_EQ(p.header[2], (TextRun{10, 51, TextAlign::Left, " Vol: Test Vol"}));
    EXPECT_EQ(p.header[3], (TextRun{kHalf + 9, 51, TextAlign::Left, " Dir: Empty Folder"}));
    ASSERT_TRUE(p.noFile.has_value());
    EXPECT_EQ(*p.noFile, (TextRun{200, 100, TextAlign::Left, "[No file]"}));
    EXPECT_TRUE(p.cells.empty());

    win.s().device.targetId = kNoSelection;
    const MainWindowPaint none = PlanMainWindowPaint(win.s(), win.w);
    EXPECT_FALSE(none.volumeShown);
    EXPECT_TRUE(none.header.empty());
    EXPECT_FALSE(none.noFile.has_value());
}

TEST(Paging, ThirtySevenEntriesMakeTwoShortScreens) {
    Window win(many(), {"Thirty-Seven"});
    EXPECT_EQ(win.range(), (ShownRange{0, 36}));
    EXPECT_TRUE(win.w.states.enabled(command::kNextScreen));
    EXPECT_FALSE(win.w.states.enabled(command::kPrecedingScreen));
    EXPECT_EQ(AcceleratorCommand(win.w.states, Key::PageDown, keymod::kNone), command::kNextScreen);

    ASSERT_TRUE(win.run(command::kNextScreen));
    EXPECT_EQ(win.range(), (ShownRange{36, 37}));
    EXPECT_FALSE(win.w.states.enabled(command::kNextScreen));
    EXPECT_TRUE(win.w.states.enabled(command::kPrecedingScreen));
    EXPECT_TRUE(win.w.states.enabled(command::kFirstScreen));
    EXPECT_EQ(AcceleratorCommand(win.w.states, Key::PageDown, keymod::kNone), 0);
    EXPECT_EQ(win.m.ui.invalidatedRows, std::vector<int>{255});

    // Thirty-Six fits on one screen.
    Window six(many(), {"Thirty-Six"});
    EXPECT_EQ(six.range(), (ShownRange{0, 36}));
    EXPECT_FALSE(six.w.states.enabled(command::kNextScreen));
}

TEST(Paging, PrecedingScreenFromTheSecondScreenGreysPrecedingAndFirst) {
    Window win(many(), {"Thirty-Seven"}, ListingMode::Short, 1);
    ASSERT_TRUE(win.run(command::kPrecedingScreen));
    EXPECT_EQ(win.range(), (ShownRange{0, 36}));
    EXPECT_FALSE(win.w.states.enabled(command::kPrecedingScreen));
    EXPECT_FALSE(win.w.states.enabled(command::kFirstScreen));
    EXPECT_TRUE(win.w.states.enabled(command::kNextScreen));
}

TEST(Paging, StepsOfEachMode) {
    // Big Folder's 123 entries, paged in the extended listing: screens of 18.
    const struct {
        int command;
        ShownRange range;
        bool next, preceding, first;
    } steps[] = {
        {command::kNextScreen, {18, 36}, true, true, true},
        {command::kNextScreen, {36, 54}, true, true, true},
        {command::kPrecedingScreen, {18, 36}, true, true, true},
        {command::kNextScreen, {36, 54}, true, true, true},
        {command::kFirstScreen, {0, 18}, true, false, false},
        {command::kNextScreen, {18, 36}, true, true, true},
        {command::kPrecedingScreen, {0, 18}, true, false, false},
    };
    Window win(many(), {"Big Folder"}, ListingMode::Extended);
    ASSERT_EQ(win.range(), (ShownRange{0, 18}));
    for (const auto& s : steps) {
        SCOPED_TRACE(s.command);
        ASSERT_TRUE(win.run(s.command));
        EXPECT_EQ(win.range(), s.range);
        EXPECT_EQ(win.w.states.enabled(command::kNextScreen), s.next);
        EXPECT_EQ(win.w.states.enabled(command::kPrecedingScreen), s.preceding);
        EXPECT_EQ(win.w.states.enabled(command::kFirstScreen), s.first);
    }
    // The short listing's last screen of Big Folder: 108 to 123.
    Window shortList(many(), {"Big Folder"}, ListingMode::Short, 3);
    EXPECT_EQ(shortList.range(), (ShownRange{108, 123}));
    EXPECT_FALSE(shortList.w.states.enabled(command::kNextScreen));
}

TEST(ListingMode, SwitchesAndTheirCheckMarks) {
    Window win(many(), {"Big Folder"}, ListingMode::Extended, 3);
    ASSERT_EQ(win.range(), (ShownRange{54, 72}));
    // The signature listing keeps the first shown entry.
    ASSERT_TRUE(win.run(command::kSignatureListing));
    EXPECT_EQ(win.range(), (ShownRange{54, 72}));
    EXPECT_EQ(win.s().settings.optionWord & (opt::kExtendedListing | opt::kSignatureListing), opt::kSignatureListing);
    EXPECT_TRUE(win.w.states.checked(command::kSignatureListing));
    EXPECT_FALSE(win.w.states.checked(command::kExtendedListing));
    // The short listing starts its screen at a multiple of 36.
    win.m.ui.menuChecks.clear();
    ASSERT_TRUE(win.run(command::kShortListing));
    EXPECT_EQ(win.range(), (ShownRange{36, 72}));
    EXPECT_EQ(win.s().settings.optionWord & (opt::kExtendedListing | opt::kSignatureListing), 0);
    EXPECT_EQ(win.m.ui.menuChecks, (std::vector<std::pair<int, bool>>{{command::kShortListing, true},
                                                                      {command::kExtendedListing, false},
                                                                      {command::kSignatureListing, false}}));
    EXPECT_TRUE(win.w.states.checked(command::kShortListing));
    EXPECT_FALSE(win.w.states.checked(command::kSignatureListing));
}

TEST(ListingMode, ChoosingTheCurrentModeChangesNothing) {
    for (ListingMode mode : {ListingMode::Short, ListingMode::Extended, ListingMode::Signature}) {
        Window win(many(), {"Big Folder"}, mode, 1);
        const int command = mode == ListingMode::Short      ? command::kShortListing
                            : mode == ListingMode::Extended ? command::kExtendedListing
                                                            : command::kSignatureListing;
        const uint16_t word = win.s().settings.optionWord;
        const ShownRange before = win.range();
        ASSERT_TRUE(win.run(command));
        EXPECT_EQ(win.s().settings.optionWord, word);
        EXPECT_EQ(win.range(), before);
        EXPECT_TRUE(win.m.ui.menuChecks.empty());
        EXPECT_TRUE(win.m.ui.invalidatedRows.empty());
    }
}

TEST(FolderCommands, RootAndParentInTheRootDoNothing) {
    for (int command : {command::kRoot, command::kParent}) {
        Window win(basic());
        SelectEntry(win.s(), 0);
        win.m.ui.invalidatedRows.clear();
        ASSERT_TRUE(win.run(command));
        EXPECT_EQ(win.s().dir.currentDirID, kRootDirId);
        EXPECT_EQ(win.selected(), std::vector<uint16_t>{0});
        EXPECT_TRUE(win.m.ui.invalidatedRows.empty());
        EXPECT_EQ(win.m.ui.commandStateUpdates, 0);
    }
}

TEST(FolderCommands, ParentAndRootFromThreeLevelsDown) {
    Window win(basic(), {"Docs", "Old Drafts"});
    ASSERT_TRUE(win.run(command::kParent));
    EXPECT_EQ(win.s().dir.currentName, "Docs ");
    EXPECT_EQ(win.list().entryCount, 3);
    ASSERT_TRUE(win.run(command::kOpenFolder));  // nothing selected
    EXPECT_EQ(win.s().dir.currentName, "Docs ");
    Window deep(basic(), {"Docs", "Old Drafts"});
    ASSERT_TRUE(deep.run(command::kRoot));
    EXPECT_EQ(deep.s().dir.currentDirID, kRootDirId);
    EXPECT_EQ(deep.list().entryCount, 17);
    EXPECT_FALSE(deep.w.states.enabled(command::kRoot));
    EXPECT_FALSE(deep.w.states.buttonEnabled[button::kParent]);
}

TEST(FolderCommands, ChangeDirectoryTakesTheFirstSelectedFolder) {
    Window win(basic());
    // Nothing selected, or only files: the status bar says so; no box, no change.
    ASSERT_TRUE(win.run(command::kOpenFolder));
    SelectEntry(win.s(), win.indexOf("Read Me"));
    ASSERT_TRUE(win.run(command::kOpenFolder));
    EXPECT_EQ(win.m.ui.statusLeft, messageText(Msg::NoSelection));
    EXPECT_TRUE(win.m.ui.timedMessages.empty());
    EXPECT_EQ(win.s().dir.currentDirID, kRootDirId);

    SelectEntry(win.s(), win.indexOf("Empty Folder"));
    SelectEntry(win.s(), win.indexOf("Docs"));
    ASSERT_TRUE(win.run(command::kOpenFolder));
    EXPECT_EQ(win.s().dir.currentName, "Docs");
    EXPECT_TRUE(win.selected().empty());
    EXPECT_EQ(win.range(), (ShownRange{0, 3}));
}

TEST(SelectionCommands, AllNoneAndInverse) {
    Window win(basic());
    const uint16_t n = win.list().entryCount;
    SelectEntry(win.s(), 5);
    const struct {
        int command;
        uint16_t count;
    } steps[] = {{command::kInvertSelection, uint16_t(n - 1)}, {command::kSelectAll, n},
                 {command::kInvertSelection, 0}, {command::kSelectAll, n}, {command::kDeselectAll, 0}};
    for (const auto& s : steps) {
        win.m.ui.invalidatedRows.clear();
        ASSERT_TRUE(win.run(s.command));
        EXPECT_EQ(CountSelectedEntries(win.list()), s.count) << s.command;
        EXPECT_EQ(win.m.ui.invalidatedRows, std::vector<int>{255});
        EXPECT_EQ(win.w.states.buttonEnabled[button::kDisplay], s.count > 0);
    }
    EXPECT_FALSE(win.list().entries[5].selected());
    EXPECT_EQ(win.m.ui.commandStateUpdates, 5);
}

TEST(CommandStates, EnablingRules) {
    struct Expect {
        bool filePopup;
        std::array<bool, button::kCount> buttons;  // Mac->PC, Attrib., Display, Parent, Root
        bool volumeInfo, selection, rootAndParent;
    };
    const auto check = [](const CommandStates& st, const Expect& e) {
        EXPECT_EQ(st.popupEnabled[popup::kFile], e.filePopup);
        EXPECT_EQ(st.buttonEnabled, e.buttons);
        EXPECT_EQ(st.enabled(command::kVolumeInfo), e.volumeInfo);
        for (int c : {command::kCopyToPc, command::kOpenFolder, command::kDump, command::kAttributes})
            EXPECT_EQ(st.enabled(c), e.selection) << c;
        EXPECT_EQ(st.enabled(command::kRoot), e.rootAndParent);
        EXPECT_EQ(st.enabled(command::kParent), e.rootAndParent);
        // Never touched by the rules.
        EXPECT_TRUE(st.enabled(command::kSelectAll));
        EXPECT_TRUE(st.enabled(command::kSelectDrive));
    };
    {
        SCOPED_TRACE("no drive from the start");
        Window win(basic());
        win.s().device.targetId = kNoSelection;
        CommandStates fresh;
        UpdateCommandStates(win.s(), fresh);
        // Root and Parent keep the state the menu was created with.
        check(fresh, {false, {false, false, false, false, false}, false, false, true});
    }
    {
        SCOPED_TRACE("drive, root, nothing selected");
        Window win(basic());
        check(win.w.states, {true, {true, false, false, false, false}, true, false, false});
    }
    Window win(basic(), {"Docs"});
    {
        SCOPED_TRACE("drive, below the root, one entry selected");
        SelectEntry(win.s(), 0);
        UpdateCommandStates(win.s(), win.w.states);
        check(win.w.states, {true, {true, true, true, true, true}, true, true, true});
    }
    {
        SCOPED_TRACE("drive lost afterwards: Mac->PC and Attrib. keep their state");
        win.s().device.targetId = kNoSelection;
        UpdateCommandStates(win.s(), win.w.states);
        check(win.w.states, {false, {true, true, false, false, false}, false, false, true});
    }
}

TEST(CommandStates, CheckMarksFollowTheSettings) {
    Window win(basic());
    ASSERT_TRUE(win.run(command::kMacBinaryMode));
    ASSERT_TRUE(win.run(command::kUseCurrentDirectory));
    ASSERT_TRUE(win.run(command::kExtendedListing));
    const CommandStates& st = win.w.states;
    EXPECT_FALSE(st.checked(command::kDataForkMode));
    EXPECT_FALSE(st.checked(command::kResourceForkMode));
    EXPECT_TRUE(st.checked(command::kMacBinaryMode));
    EXPECT_TRUE(st.checked(command::kUseCurrentDirectory));
    EXPECT_TRUE(win.s().settings.useCurrentDirectory);
    EXPECT_TRUE(st.checked(command::kExtendedListing));
    EXPECT_FALSE(st.checked(command::kShortListing));
    EXPECT_FALSE(st.checked(command::kLogFile));

    ASSERT_TRUE(win.run(command::kUseCurrentDirectory));
    EXPECT_FALSE(st.checked(command::kUseCurrentDirectory));
    EXPECT_FALSE(win.s().settings.useCurrentDirectory);
    EXPECT_EQ(win.m.ui.menuChecks.back(), (std::pair<int, bool>{command::kUseCurrentDirectory, false}));

    // The command line's /A sets both listing flags; the signature column is shown.
    win.s().settings.optionWord |= opt::kSignatureListing | opt::kExtendedListing;
    win.s().log.stream = std::tmpfile();
    UpdateCommandStates(win.s(), win.w.states);
    EXPECT_TRUE(st.checked(command::kSignatureListing));
    EXPECT_FALSE(st.checked(command::kExtendedListing));
    EXPECT_TRUE(st.checked(command::kLogFile));
    CloseLogFile(win.s().log);
}

TEST(MainCommands, DialogAndWriteCommandsAreLeftToTheFrontEnd) {
    Window win(basic());
    for (int c : {101, 104, 105, 111, 112, 113, 114, 115, 124, 126, 127, 129, 131, 132, 143})
        EXPECT_FALSE(win.run(c)) << c;
    EXPECT_TRUE(win.m.ui.invalidatedRows.empty());
    EXPECT_TRUE(win.m.ui.timedMessages.empty());
}

TEST(Layout, RowBandsAndPanels) {
    const WindowGeometry g{kWidth, 400, kLine};
    EXPECT_EQ(ListRowBand(g, 0), (Rect{0, 72, kWidth, 90}));
    EXPECT_EQ(ListRowBand(g, 2), (Rect{0, 104, kWidth, 122}));
    EXPECT_EQ(ListRowBand(g, 255), (Rect{0, 0, kWidth, 400}));
    const MainWindowLayout l = MainWindowLayoutOf(g);
    EXPECT_EQ(l.list, (Rect{0, 70, kWidth, 380}));
    EXPECT_EQ(l.statusBar, (Rect{0, 380, kWidth, 400}));
    EXPECT_EQ(l.progressBar, (Rect{kWidth - 204, 381, kWidth - 2, 399}));
    EXPECT_EQ(l.progressBar.width() - 2, 200);
}

}  // namespace
}  // namespace quarry
