#pragma once
// The main window's menus, keys, function buttons and status-bar help as data, so that the
// desktop program builds them from one table and a test can read them. Captions are
// stored as the menus show them: "&" marks the underlined letter and a tab separates the key
// hint.

#include <cstddef>
#include <cstdint>
#include <span>

#include "app/geometry.h"

namespace quarry {

struct MenuItem {
    int command = 0;  // 0 for a separator
    const char* caption = nullptr;
    bool startsGreyed = false;
    bool startsChecked = false;

    bool isSeparator() const { return command == 0; }
};

struct MenuPopup {
    const char* caption;
    std::span<const MenuItem> items;
};

// The menu bar, popups from left to right.
std::span<const MenuPopup> MainMenuBar();
// Positions of the popups in the menu bar; the "File" popup is greyed as a whole without a drive.
namespace popup {
inline constexpr size_t kMacDrive = 0;
inline constexpr size_t kFile = 1;
inline constexpr size_t kOptions = 2;
inline constexpr size_t kHelp = 3;
inline constexpr size_t kCount = 4;
}  // namespace popup

// The file list's context menu (one popup, no caption).
std::span<const MenuItem> ListContextMenu();

// The menu-bar item that issues command, or nullptr when the bar has none (111, 112, 113 live
// only on keys and in the context menu).
const MenuItem* FindMenuBarItem(int command);

// Keys of the accelerator table, named without any toolkit's key codes.
enum class Key : uint8_t { F1, F10, PageDown, PageUp, Delete, Escape, A, B, C, D, E, N, O, R, S };

namespace keymod {
inline constexpr uint8_t kNone = 0;
inline constexpr uint8_t kShift = 1;
inline constexpr uint8_t kCtrl = 2;
inline constexpr uint8_t kAlt = 4;
}  // namespace keymod

struct Accelerator {
    Key key;
    uint8_t modifiers;  // keymod bits; they must match exactly
    int command;
};

std::span<const Accelerator> Accelerators();
// The command of key pressed with exactly these modifiers, 0 when the table has none.
int FindAccelerator(Key key, uint8_t modifiers);

// When UpdateCommandStates enables a function button.
enum class ButtonEnabling { DriveSelected, EntrySelected, NotAtRoot };

struct FunctionButton {
    const char* caption;
    int command;  // the button's control identifier: pressing it runs this command
    ButtonEnabling enabling;
    Rect bounds;
};

// The five buttons of the button bar, left to right.
std::span<const FunctionButton> FunctionButtons();
namespace button {
inline constexpr size_t kMacToPc = 0;
inline constexpr size_t kAttributes = 1;
inline constexpr size_t kDisplay = 2;
inline constexpr size_t kParent = 3;
inline constexpr size_t kRoot = 4;
inline constexpr size_t kCount = 5;
}  // namespace button

// The status bar's left text while the menu item of command is highlighted; the idle text
// "Select a menu or press F1 for help..." for any number without help of its own (a popup
// title, the menu closing: pass 0).
const char* StatusHelpText(int command);
inline constexpr int kIdleHelp = 100;

}  // namespace quarry
