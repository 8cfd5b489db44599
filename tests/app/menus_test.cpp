// The menus, keys and buttons as data: key hints agree with the accelerator table, every item
// has its status-bar help, the buttons are laid out by the caption rule.

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "app/command_ids.h"
#include "app/main_window_model.h"
#include "app/menus.h"

namespace quarry {
namespace {

struct KeyPress {
    Key key;
    uint8_t modifiers;
};

// Reads a key hint as the menus write it ("Ctl+PgUp", "Shift+F10", "Alt+D", "Del").
std::optional<KeyPress> parseHint(std::string_view hint) {
    uint8_t mods = keymod::kNone;
    for (size_t plus = hint.find('+'); plus != std::string_view::npos; plus = hint.find('+')) {
        const std::string_view mod = hint.substr(0, plus);
        if (mod == "Alt") mods |= keymod::kAlt;
        else if (mod == "Ctl") mods |= keymod::kCtrl;
        else if (mod == "Shift") mods |= keymod::kShift;
        else return std::nullopt;
        hint.remove_prefix(plus + 1);
    }
    static const std::pair<std::string_view, Key> kNames[] = {
        {"F1", Key::F1}, {"F10", Key::F10}, {"PgDn", Key::PageDown}, {"PgUp", Key::PageUp}, {"Del", Key::Delete},
        {"Esc", Key::Escape}, {"A", Key::A}, {"B", Key::B}, {"C", Key::C}, {"D", Key::D}, {"E", Key::E},
        {"N", Key::N}, {"O", Key::O}, {"R", Key::R}, {"S", Key::S},
    };
    for (const auto& [name, key] : kNames)
        if (hint == name) return KeyPress{key, mods};
    return std::nullopt;
}

std::vector<MenuItem> allItems() {
    std::vector<MenuItem> items;
    for (const MenuPopup& p : MainMenuBar()) items.insert(items.end(), p.items.begin(), p.items.end());
    items.insert(items.end(), ListContextMenu().begin(), ListContextMenu().end());
    return items;
}

TEST(Menus, EveryKeyHintIsAnAcceleratorOfTheSameCommand) {
    int hints = 0;
    for (const MenuItem& item : allItems()) {
        if (item.isSeparator()) continue;
        const std::string_view caption(item.caption);
        const size_t tab = caption.find('\t');
        if (tab == std::string_view::npos) continue;
        ++hints;
        SCOPED_TRACE(item.caption);
        const auto press = parseHint(caption.substr(tab + 1));
        ASSERT_TRUE(press.has_value()) << "unreadable hint";
        EXPECT_EQ(FindAccelerator(press->key, press->modifiers), item.command);
    }
    EXPECT_EQ(hints, 16);
}

TEST(Menus, EveryItemHasItsOwnStatusHelp) {
    std::set<int> barCommands;
    for (const MenuPopup& p : MainMenuBar())
        for (const MenuItem& item : p.items) {
            if (item.isSeparator()) continue;
            EXPECT_TRUE(barCommands.insert(item.command).second) << "command " << item.command << " twice in the bar";
        }
    for (const MenuItem& item : allItems()) {
        // Preceding Screen came to the menu without a help text; it shows the idle text.
        if (item.isSeparator() || item.command == command::kPrecedingScreen) continue;
        EXPECT_STRNE(StatusHelpText(item.command), StatusHelpText(kIdleHelp)) << item.caption;
    }
}

TEST(Menus, StatusHelpTexts) {
    const struct {
        int command;
        const char* text;
    } cases[] = {
        {101, "Select the drive holding the Macintosh volume."},
        {118, "Invert selection (selected items are deselected...)."},
        {119, "Show next directory screen."},
        {138, "Wide listing with length of data and resources, plus signature (creator/type) string."},
        {142, "Narrow (short) listing with name and data length"},
        // Popup titles and the closing menu report 0; numbers without a text of their own fall
        // back to the idle text, as do the ones outside the commands.
        {0, "Select a menu or press F1 for help..."},
        {100, "Select a menu or press F1 for help..."},
        {102, "Select a menu or press F1 for help..."},
        {141, "Select a menu or press F1 for help..."},
        {144, "Select a menu or press F1 for help..."},
        {-1, "Select a menu or press F1 for help..."},
    };
    for (const auto& c : cases) EXPECT_STREQ(StatusHelpText(c.command), c.text) << c.command;
}

TEST(Menus, AcceleratorsMatchTheirModifiersExactly) {
    const struct {
        Key key;
        uint8_t mods;
        int command;
    } cases[] = {
        {Key::F10, keymod::kNone, command::kDeselectAll},
        {Key::F10, keymod::kCtrl, command::kSelectAll},
        {Key::F10, keymod::kShift, command::kInvertSelection},
        {Key::F10, keymod::kCtrl | keymod::kShift, 0},
        {Key::F10, keymod::kAlt, 0},
        {Key::PageUp, keymod::kNone, command::kPrecedingScreen},
        {Key::PageUp, keymod::kCtrl, command::kFirstScreen},
        {Key::PageDown, keymod::kCtrl, 0},
        {Key::Escape, keymod::kNone, command::kExit},
        {Key::F1, keymod::kNone, command::kHelpIndex},
        {Key::N, keymod::kAlt, command::kNewFolder},
        {Key::N, keymod::kNone, 0},
        {Key::D, keymod::kAlt | keymod::kShift, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindAccelerator(c.key, c.mods), c.command) << static_cast<int>(c.key) << "/" << int{c.mods};
}

TEST(Menus, GreyedItemsSwallowTheirKeys) {
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

TEST(Menus, InitialStatesFollowTheMenuTables) {
    const CommandStates states;
    const std::set<int> greyed = {command::kVolumeInfo, command::kNextScreen, command::kPrecedingScreen,
                                  command::kFirstScreen};
    const std::set<int> checked = {command::kDataForkMode, command::kShortListing};
    for (int c = command::kFirst; c <= command::kLast; ++c) {
        EXPECT_EQ(states.enabled(c), !greyed.count(c)) << c;
        EXPECT_EQ(states.checked(c), checked.count(c) == 1) << c;
    }
    for (bool on : states.buttonEnabled) EXPECT_FALSE(on);
    for (bool on : states.popupEnabled) EXPECT_TRUE(on);
}

TEST(FunctionButtons, TenPixelsPerCaptionCharacterThirteenApart) {
    const struct {
        const char* caption;
        int command;
        Rect bounds;
    } expected[] = {
        {"Mac->PC", command::kCopyToPc, {12, 4, 102, 29}},
        {"Attrib.", command::kAttributes, {115, 4, 205, 29}},
        {"Display", command::kDump, {218, 4, 308, 29}},
        {"Parent", command::kParent, {321, 4, 401, 29}},
        {"Root", command::kRoot, {414, 4, 474, 29}},
    };
    const auto buttons = FunctionButtons();
    ASSERT_EQ(buttons.size(), std::size(expected));
    for (size_t i = 0; i < buttons.size(); ++i) {
        SCOPED_TRACE(expected[i].caption);
        EXPECT_STREQ(buttons[i].caption, expected[i].caption);
        EXPECT_EQ(buttons[i].command, expected[i].command);
        EXPECT_EQ(buttons[i].bounds, expected[i].bounds);
    }
}

}  // namespace
}  // namespace quarry
