#pragma once
// The main window apart from its drawing: which menu items, popups and buttons are enabled or
// checked, what the list shows where, what a click hits, paging and listing modes. The desktop
// program draws what these functions decide and forwards its mouse and key events to them.
//
//     MainWindowModel window;                          // states as the menus are created
//     window.geometry = {width, height, lineHeight};   // measured once the window exists
//     RunMainCommand(session, window, command);        // then apply window.states
//     MainWindowPaint p = PlanMainWindowPaint(session, window);   // in the paint handler

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/file_list.h"
#include "app/geometry.h"
#include "app/menus.h"

namespace quarry {

struct Session;

// The three paging items. Next Screen follows what the last paint found; Preceding and First
// Screen are enabled by Next Screen and greyed by the paging commands that reach the first
// screen. All three start greyed.
struct PagingMenuState {
    bool nextScreen = false;
    bool precedingScreen = false;
    bool firstScreen = false;
};

// Enabled and checked states of the menu bar's items and popups and of the function buttons.
// They are kept, not recomputed from nothing: UpdateCommandStates leaves some of them as they
// were (the "Mac->PC" and "Attrib." buttons without a drive, the paging items always).
struct CommandStates {
    // The states the menus and buttons are created with.
    CommandStates();

    std::array<bool, popup::kCount> popupEnabled;
    std::array<bool, button::kCount> buttonEnabled;
    PagingMenuState paging;

    // Items by command number (command::kFirst .. command::kLast); a number without a menu-bar
    // item reads as enabled and unchecked.
    bool enabled(int command) const;
    bool checked(int command) const;
    void setEnabled(int command, bool on);
    void setChecked(int command, bool on);

private:
    static constexpr size_t kItems = command::kLast - command::kFirst + 1;
    std::array<bool, kItems> itemEnabled_{};
    std::array<bool, kItems> itemChecked_{};
};

struct MainWindowModel {
    WindowGeometry geometry;
    CommandStates states;
};

// The enabling rules of the menus and buttons, and the check marks, which always agree with
// the settings: 121-123 the copy mode, 142/128/138 the listing mode, 125 "Use Current
// Directory", 131 whether the log is open. The front end calls it from its
// UiPort::updateCommandStates and then applies the states.
void UpdateCommandStates(const Session& session, CommandStates& states);
void UpdateCheckMarks(const Session& session, CommandStates& states);

// UpdateCommandStates, then UiPort::updateCommandStates so that the front end shows them.
void RefreshCommandStates(Session& session, CommandStates& states);
// Repaints the whole list (UiPort::invalidateListRow(255)) and settles the shown range at once,
// as the paint that follows will, so that a click arriving before that paint hits the right
// entry.
void RepaintList(Session& session, CommandStates& states);

// After a change of folder: lists it from its first entry, updates the menus, repaints.
void ShowCurrentFolder(Session& session, CommandStates& states);

// The command of an accelerator key, or 0. A key whose menu-bar item is greyed does nothing, as
// the menu would not run it either; keys without a menu-bar item (Del, Alt+N) always work.
int AcceleratorCommand(const CommandStates& states, Key key, uint8_t modifiers);

// Where the panels, the status texts, the progress bar and the icon lie.
struct MainWindowLayout {
    Rect buttonBar, header, list, statusBar;
    Rect progressBar;       // its outer frame
    int statusTextY;        // both status texts' top
    int statusLeftX;        // the left text starts here
    int statusRightX;       // the right text ends here
    int iconX, iconY;       // the program icon's top left
};
MainWindowLayout MainWindowLayoutOf(const WindowGeometry& geometry);
// The band that invalidating list row `row` repaints; row 255 is the whole client area.
Rect ListRowBand(const WindowGeometry& geometry, int row);

// The entries on the screen: first shown and one past the last shown.
struct ShownRange {
    uint16_t first = 0;
    uint16_t end = 0;
    bool operator==(const ShownRange&) const = default;
};
// What the paint decides before it draws a row: with a drive, a mounted volume and a non-empty
// list it sets the list's end shown to at most one screen past the first shown entry and
// enables Next Screen exactly when entries lie beyond it. Otherwise both stay as they are.
ShownRange UpdateShownRange(Session& session, CommandStates& states);

enum class TextAlign { Left, Right };

// One text to draw with its top at y: starting at x (Left) or ending at x (Right). Texts are
// UTF-8; fixed-width fields keep their padding, trailing spaces included, so right-aligned
// columns line up as in the record.
struct TextRun {
    int x = 0;
    int y = 0;
    TextAlign align = TextAlign::Left;
    std::string text;
    bool operator==(const TextRun&) const = default;
};

// One shown entry: its screen row and column (0 left, 1 right; always 0 in the wide
// listings), its texts, and the cell that is inverted when it is selected.
struct ListCell {
    uint16_t index = 0;
    int row = 0;
    int column = 0;
    bool selected = false;
    Rect cell;
    std::vector<TextRun> texts;
};

struct MainWindowPaint {
    // False without a drive or a mounted volume: only the panels, the icon and the status bar.
    bool volumeShown = false;
    std::vector<TextRun> header;
    // "[No file]" for an empty folder.
    std::optional<TextRun> noFile;
    ShownRange range;
    std::vector<ListCell> cells;
    // The cells of the selected entries, to invert after the texts are drawn.
    std::vector<Rect> inverted;
};
// Everything the paint handler draws below the button bar. Updates the shown range (and so
// Next Screen) as UpdateShownRange does; apply the states afterwards.
MainWindowPaint PlanMainWindowPaint(Session& session, MainWindowModel& window);

// The entry under (x, y) relative to the first shown entry, or kNoIndex.
uint16_t HitTestList(const Session& session, const WindowGeometry& geometry, int x, int y);

// Mouse actions on the client area, (x, y) in client pixels.
// Left or middle button down: toggles the entry's selection.
void ClickList(Session& session, MainWindowModel& window, int x, int y);
// A double click (any button) on a folder opens it; on a file it does nothing, the button-down
// before it having toggled the entry already. The front end must not send the second press as
// a click of its own.
void DoubleClickList(Session& session, MainWindowModel& window, int x, int y);

// What a right click asks of the front end: on a hit, open the context menu at the click with
// "Dump content" and "Edit Attributes" greyed for a folder, then repaint the whole list
// (UiPort::invalidateListRow(255)) once the menu has closed.
struct ContextMenuRequest {
    bool open = false;
    bool dumpEnabled = true;
    bool attributesEnabled = true;

    bool enabled(int command) const;
};
// Right button down: selects the entry under the click.
ContextMenuRequest RightClickList(Session& session, MainWindowModel& window, int x, int y);

// Paging (commands 119, 141, 120).
void NextScreen(Session& session, CommandStates& states);
void PrecedingScreen(Session& session, CommandStates& states);
void FirstScreen(Session& session, CommandStates& states);
// Commands 142, 128, 138: nothing when the listing is already in that mode.
void SetListingMode(Session& session, CommandStates& states, ListingMode mode);

}  // namespace quarry
