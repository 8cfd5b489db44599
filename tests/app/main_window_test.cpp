// The main window's logic on real volumes: what a click hits in each listing mode and on later
// screens, what the list and the header show (and the information sheet's figures), paging,
// folder commands and the enabling rules; and the menus and keys as data. Selection commands,
// listing modes, check marks, a second click and a double click on a file are driven through
// the desktop program (tests/gui).

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_ids.h"
#include "app/main_commands.h"
#include "app/main_window_model.h"
#include "app/menus.h"
#include "app/navigation.h"
#include "dialogs/volume_info.h"
#include "hfs/hfs_volume.h"
#include "support/fixture_path.h"
#include "support/mounted_image.h"

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
        for (const std::string& name : folder) EXPECT_TRUE(enterDirectory(m.session, name)) << name;
        BuildFileList(m.session, nullptr);
        UpdateCommandStates(m.session, w.states);
        UpdateShownRange(m.session, w.states);
        if (mode == ListingMode::Extended) run(command::kExtendedListing);
        if (mode == ListingMode::Signature) run(command::kSignatureListing);
        for (int i = 0; i < screens; ++i) run(command::kNextScreen);
        m.ui.invalidatedRows.clear();
        m.ui.commandStateUpdates = 0;
    }

    Session& s() { return m.session; }
    FileList& list() { return m.session.settings.list; }
    bool run(int command) { return RunMainCommand(m.session, w, command); }
    uint16_t hit(int x, int y) { return HitTestList(m.session, w.geometry, x, y); }
    ShownRange range() const { return {m.session.settings.list.firstShown, m.session.settings.list.endShown}; }
    std::vector<uint16_t> selected() {
        std::vector<uint16_t> out;
        for (uint16_t i = 0; i < list().entryCount; ++i)
            if (list().entries[i].selected()) out.push_back(i);
        return out;
    }
};

std::string many() { return test::fixturePath("many.hfs"); }
std::string basic() { return test::fixturePath("basic.hfs"); }

// A click toggles the entry under it, counted from the first shown entry, repaints its row only
// (a right cell shares the row of the left cell beside it), and the painter inverts its cell.
TEST(HitTestList, ClickTogglesTheEntryUnderItInEachModeAndScreen) {
    using M = ListingMode;
    const std::string b = basic(), m = many();
    const std::vector<std::string> root, six = {"Thirty-Six"}, seven = {"Thirty-Seven"};
    const struct {
        const char* why;
        const std::string& image;
        const std::vector<std::string>& folder;
        ListingMode mode;
        int screens;
        int x, y;
        uint16_t expected;
    } cases[] = {
        {"short: last pixel of the left half", m, six, M::Short, 0, kHalf - 1, rowY(0), 0},
        {"short: the middle belongs to the right cell", m, six, M::Short, 0, kHalf, rowY(0), 1},
        {"short: the row starts at y 72", m, six, M::Short, 0, 10, 72, 0},
        {"short: above the list", m, six, M::Short, 0, 10, 71, kNoIndex},
        {"short: last pixel line of row 17", m, six, M::Short, 0, 600, 72 + 18 * kLine - 1, 35},
        {"short: below the last row", m, six, M::Short, 0, 10, 72 + 18 * kLine, kNoIndex},
        {"extended: one entry per row", m, six, M::Extended, 0, 600, rowY(1), 1},
        {"extended: row 17", m, six, M::Extended, 0, 10, rowY(17), 17},
        {"extended: nothing under the screen", m, six, M::Extended, 0, 10, rowY(18), kNoIndex},
        {"extended: second screen, relative index", m, six, M::Extended, 1, 10, rowY(3), 3},
        {"signature: third screen holds one entry", m, seven, M::Signature, 2, 10, rowY(0), 0},
        {"signature: below it nothing", m, seven, M::Signature, 2, 10, rowY(1), kNoIndex},
        {"short: second screen, its one entry", m, seven, M::Short, 1, 10, rowY(0), 0},
        {"short: second screen, empty right cell", m, seven, M::Short, 1, 400, rowY(0), kNoIndex},
        {"short: root of basic, odd count", b, root, M::Short, 0, 400, rowY(8), kNoIndex},
        {"short: root of basic, last entry", b, root, M::Short, 0, 10, rowY(8), 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Window win(c.image, c.folder, c.mode, c.screens);
        ASSERT_EQ(win.hit(c.x, c.y), c.expected);
        ClickList(win.s(), win.w, c.x, c.y);
        if (c.expected == kNoIndex) {
            EXPECT_TRUE(win.selected().empty());
            EXPECT_TRUE(win.m.ui.invalidatedRows.empty());
            continue;
        }
        EXPECT_EQ(win.selected(), std::vector<uint16_t>{static_cast<uint16_t>(win.range().first + c.expected)});
        EXPECT_EQ(win.m.ui.invalidatedRows, std::vector<int>{(c.y - 72) / kLine});
        const MainWindowPaint plan = PlanMainWindowPaint(win.s(), win.w);
        const auto cell = std::find_if(plan.cells.begin(), plan.cells.end(), [](const ListCell& l) { return l.selected; });
        ASSERT_NE(cell, plan.cells.end());
        EXPECT_EQ(cell->index, win.selected().front());
        EXPECT_EQ(plan.inverted, std::vector<Rect>{cell->cell});
    }
}

// The texts of an entry in each listing mode, the header, an empty folder and no drive at all.
TEST(Paint, WhatTheListAndTheHeaderShow) {
    using Texts = std::vector<std::string>;
    const auto runsOf = [](Window& win, const std::string& name) {
        for (const ListCell& c : PlanMainWindowPaint(win.s(), win.w).cells)
            if (c.index == win.m.indexOf(name)) return c.texts;
        return std::vector<TextRun>{};
    };
    const auto textsOf = [&](Window& win, const std::string& name) {
        Texts out;
        for (const TextRun& t : runsOf(win, name)) out.push_back(t.text);
        return out;
    };
    Window shortList(basic());
    EXPECT_EQ(textsOf(shortList, "Big Forks"), (Texts{"Big Forks", "   5000 "}));
    EXPECT_EQ(textsOf(shortList, "Caf\x8e Menu"), (Texts{"Caf\xc3\xa9 Menu", "     36 "}));
    EXPECT_EQ(textsOf(shortList, "Docs"), (Texts{"Docs", "  <DIR> "}));
    Window extended(basic(), {}, ListingMode::Extended);
    EXPECT_EQ(textsOf(extended, "Big Forks"),
              (Texts{"Big Forks", "   5000 ", "   1500 ", "03/04/01 05:06", "03/04/01 06:07"}));
    // The signature listing shows the signature, or a folder's valence, in place of the
    // modification date; the other columns stay where they were.
    Window signature(basic(), {}, ListingMode::Signature);
    const std::vector<TextRun> wide = runsOf(extended, "Big Forks"), withSignature = runsOf(signature, "Big Forks");
    ASSERT_EQ(withSignature.size(), 5u);
    EXPECT_EQ(std::vector<TextRun>(withSignature.begin(), withSignature.end() - 1),
              std::vector<TextRun>(wide.begin(), wide.end() - 1));
    EXPECT_EQ(withSignature.back().text, "BINAhDmp");
    EXPECT_EQ(textsOf(signature, "Docs").back(), "     [3]");

    Window win(basic(), {"Empty Folder"});
    const MainWindowPaint p = PlanMainWindowPaint(win.s(), win.w);
    ASSERT_TRUE(p.volumeShown);
    ASSERT_EQ(p.header.size(), 4u);
    EXPECT_EQ(p.header[2].text, " Vol: Test Vol");
    EXPECT_EQ(p.header[3].text, " Dir: Empty Folder");
    ASSERT_TRUE(p.noFile.has_value());
    EXPECT_EQ(p.noFile->text, "[No file]");
    EXPECT_TRUE(p.cells.empty());

    win.s().device.targetId = kNoSelection;
    const MainWindowPaint none = PlanMainWindowPaint(win.s(), win.w);
    EXPECT_FALSE(none.volumeShown);
    EXPECT_TRUE(none.header.empty());
    EXPECT_FALSE(none.noFile.has_value());
    ASSERT_EQ(shortList.hit(10, rowY(0)), 0);
    shortList.s().device.targetId = kNoSelection;
    EXPECT_EQ(shortList.hit(10, rowY(0)), kNoIndex);
}

// The volume's figures from its MDB and its placement: the information sheet, and the free and
// used space of the header.
TEST(VolumeFigures, InformationSheetAndSpaceTexts) {
    test::RecordingUi ui;
    Session s(ui);
    VolumeState& v = s.volume;
    // A partition at sector 96 whose allocation block 0 is at sector 122 of it.
    v.mdbSector = 98;
    v.firstBlockSector = 96 + 122;
    v.allocBlockSize = 2048;
    v.sectorsPerBlock = 4;
    uint8_t* m = v.mdbCopy.data();
    storeBE16(m + mdb::kAllocBlocks, 20000);
    storeBE32(m + mdb::kAllocBlockSize, 2048);
    storeBE16(m + mdb::kFreeBlocks, 100);
    storeBE32(m + mdb::kFileCount, 345);
    storeBE32(m + mdb::kFolderCount, 67);
    storeBE32(m + mdb::kNextCatalogId, 900);
    storeBE32(m + mdb::kCatalogSize, 1048576);
    storeBE16(m + mdb::kCatalogExtents, 10);
    storeBE32(m + mdb::kExtentsSize, 65536);
    storeBE16(m + mdb::kExtentsExtents, 2);
    s.mounted = std::make_unique<HfsVolume>(s.volumeContext());

    std::map<std::string, uint32_t> got;
    for (const auto& value : VolumeInfoValues(s)) got[value.label] = value.value;
    EXPECT_EQ(got, (std::map<std::string, uint32_t>{
                       {"Volume Size:", 40960000u}, {"Free space:", 204800u}, {"Number of files:", 345u},
                       {"Number of folders:", 67u}, {"Next File ID:", 900u}, {"MDB Offset:", 98u}, {"Partitions:", 1u},
                       {"Cluster Size:", 2048u}, {"Number of Sectors:", 80000u}, {"Catalog Offset:", 258u},
                       {"Catalog Size (sectors):", 2048u}, {"Extensions Offset:", 96u + 122 + 8},
                       {"Extensions Size (sectors):", 128u}}));
    EXPECT_EQ(FreeSpaceText(s), "KB free :      201k");
    // (19900 × 2048 − 1048576 − 65536) / 1024 = 38712
    EXPECT_EQ(UsedSpaceText(s), "KB used :    38712k");
}

TEST(Paging, StepsOfEachModeAndTheirMenuItems) {
    using namespace command;
    struct Step {
        int command;
        ShownRange range;
        bool next, preceding, first;
    };
    const struct {
        const char* folder;
        ListingMode mode;
        ShownRange start;
        bool next;
        std::vector<Step> steps;
    } cases[] = {
        // 37 entries make two short screens; 36 fit on one. (Big Folder's 123 entries, paged in
        // the short and the extended listing and switched between them: tests/gui.)
        {"Thirty-Seven", ListingMode::Short, {0, 36}, true,
         {{kNextScreen, {36, 37}, false, true, true}, {kPrecedingScreen, {0, 36}, true, false, false}}},
        {"Thirty-Six", ListingMode::Short, {0, 36}, false, {}},
        {"Thirty-Seven", ListingMode::Extended, {0, 18}, true,
         {{kNextScreen, {18, 36}, true, true, true}, {kNextScreen, {36, 37}, false, true, true},
          {kPrecedingScreen, {18, 36}, true, true, true}, {kFirstScreen, {0, 18}, true, false, false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        Window win(many(), {c.folder}, c.mode);
        EXPECT_EQ(win.range(), c.start);
        EXPECT_EQ(win.w.states.enabled(kNextScreen), c.next);
        for (const Step& s : c.steps) {
            SCOPED_TRACE(s.command);
            win.m.ui.invalidatedRows.clear();
            ASSERT_TRUE(win.run(s.command));
            EXPECT_EQ(win.range(), s.range);
            EXPECT_EQ(win.m.ui.invalidatedRows, std::vector<int>{255});
            EXPECT_EQ(win.w.states.enabled(kNextScreen), s.next);
            EXPECT_EQ(win.w.states.enabled(kPrecedingScreen), s.preceding);
            EXPECT_EQ(win.w.states.enabled(kFirstScreen), s.first);
        }
    }
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
        // Run all the same, Root and Parent do nothing at all: no move, no repaint, the selection kept.
        SelectEntry(win.s(), 0);
        win.m.ui.invalidatedRows.clear();
        for (int command : {command::kRoot, command::kParent}) {
            ASSERT_TRUE(win.run(command));
            EXPECT_EQ(win.s().dir.currentDirID, kRootDirId);
            EXPECT_EQ(win.selected(), std::vector<uint16_t>{0});
            EXPECT_TRUE(win.m.ui.invalidatedRows.empty());
            EXPECT_EQ(win.m.ui.commandStateUpdates, 0);
        }
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

std::vector<MenuItem> allMenuItems() {
    std::vector<MenuItem> items;
    for (const MenuPopup& p : MainMenuBar()) items.insert(items.end(), p.items.begin(), p.items.end());
    items.insert(items.end(), ListContextMenu().begin(), ListContextMenu().end());
    return items;
}

// A key hint as the menus write it ("Ctl+PgUp", "Shift+F10", "Alt+D", "Del") runs the item's own
// command through the accelerator table.
TEST(Menus, EveryKeyHintIsAnAcceleratorOfTheSameCommand) {
    static const std::pair<std::string_view, Key> kKeys[] = {
        {"F1", Key::F1}, {"F10", Key::F10}, {"PgDn", Key::PageDown}, {"PgUp", Key::PageUp}, {"Del", Key::Delete},
        {"Esc", Key::Escape}, {"A", Key::A}, {"B", Key::B}, {"C", Key::C}, {"D", Key::D}, {"E", Key::E},
        {"N", Key::N}, {"O", Key::O}, {"R", Key::R}, {"S", Key::S}};
    static const std::pair<std::string_view, uint8_t> kMods[] = {
        {"Alt", keymod::kAlt}, {"Ctl", keymod::kCtrl}, {"Shift", keymod::kShift}};
    for (const MenuItem& item : allMenuItems()) {
        const std::string_view caption = item.isSeparator() ? "" : item.caption;
        if (caption.find('\t') == std::string_view::npos) continue;
        SCOPED_TRACE(item.caption);
        std::string_view hint = caption.substr(caption.find('\t') + 1);
        uint8_t mods = keymod::kNone;
        for (size_t plus = hint.find('+'); plus != std::string_view::npos; plus = hint.find('+')) {
            const auto mod = std::find_if(std::begin(kMods), std::end(kMods), [&](auto& m) { return m.first == hint.substr(0, plus); });
            ASSERT_NE(mod, std::end(kMods)) << "unreadable hint";
            mods |= mod->second;
            hint.remove_prefix(plus + 1);
        }
        const auto key = std::find_if(std::begin(kKeys), std::end(kKeys), [&](auto& k) { return k.first == hint; });
        ASSERT_NE(key, std::end(kKeys)) << "unreadable hint";
        EXPECT_EQ(FindAccelerator(key->second, mods), item.command);
    }
}

TEST(Menus, EveryItemHasItsOwnStatusHelp) {
    std::set<int> barCommands;
    for (const MenuPopup& p : MainMenuBar())
        for (const MenuItem& item : p.items)
            EXPECT_TRUE(item.isSeparator() || barCommands.insert(item.command).second) << "command " << item.command << " twice";
    for (const MenuItem& item : allMenuItems()) {
        // Preceding Screen came to the menu without a help text; it shows the idle text.
        if (item.isSeparator() || item.command == command::kPrecedingScreen) continue;
        EXPECT_STRNE(StatusHelpText(item.command), StatusHelpText(kIdleHelp)) << item.caption;
    }
    // Popup titles and the closing menu report 0; numbers without a text show the idle text.
    for (int other : {0, 102, 141, 145, -1}) EXPECT_STREQ(StatusHelpText(other), StatusHelpText(kIdleHelp)) << other;
}

// The key hints above and the desktop program's keys (Shift+F10, Esc for Exit, ...) show the
// accelerators that work; these keys must not, for the modifiers must match exactly. A greyed item swallows its key.
TEST(Menus, AcceleratorsMatchTheirModifiersAndGreyedItemsSwallowTheirKeys) {
    const std::pair<Key, uint8_t> none[] = {{Key::F10, keymod::kCtrl | keymod::kShift}, {Key::F10, keymod::kAlt},
                                            {Key::PageDown, keymod::kCtrl},               {Key::N, keymod::kNone},
                                            {Key::D, keymod::kAlt | keymod::kShift},      {Key::E, keymod::kCtrl}};
    for (const auto& [key, mods] : none) EXPECT_EQ(FindAccelerator(key, mods), 0) << static_cast<int>(key) << "/" << int{mods};
    CommandStates states;
    // The paging items start greyed; Page Down does nothing until a paint finds a next screen.
    EXPECT_EQ(AcceleratorCommand(states, Key::PageDown, keymod::kNone), 0);
    states.paging.nextScreen = true;
    EXPECT_EQ(AcceleratorCommand(states, Key::PageDown, keymod::kNone), command::kNextScreen);
    states.setEnabled(command::kAttributes, false);
    EXPECT_EQ(AcceleratorCommand(states, Key::A, keymod::kAlt), 0);
    // Delete and New Folder have no item in the menu bar, so no greying stops them.
    states.setEnabled(command::kDelete, false);
    EXPECT_EQ(AcceleratorCommand(states, Key::Delete, keymod::kNone), command::kDelete);
    EXPECT_EQ(AcceleratorCommand(states, Key::N, keymod::kAlt), command::kNewFolder);
}

}  // namespace
}  // namespace quarry
