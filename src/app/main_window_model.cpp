#include "app/main_window_model.h"

#include <algorithm>

#include "app/session.h"
#include "common/text.h"
#include "common/charset.h"
#include "app/navigation.h"

namespace quarry {
namespace {

// UpdateCommandStates greys these with the selection; 112 and 113 live only in the context
// menu, which it leaves alone.
constexpr std::array kSelectionCommands = {command::kCopyToPc, command::kRename,      command::kDelete,
                                           command::kOpenFolder, command::kDump, command::kAttributes};

bool driveSelected(const Session& session) { return session.device.targetId != kNoSelection; }

bool volumeShown(const Session& session) { return driveSelected(session) && session.mounted; }

ListingMode listingMode(const Session& session) { return ListingModeOf(session.settings.optionWord); }

std::string fieldText(std::string_view field) { return ansiToUtf8(field); }

}  // namespace

CommandStates::CommandStates() {
    popupEnabled.fill(true);
    buttonEnabled.fill(false);
    itemEnabled_.fill(true);
    for (const MenuPopup& p : MainMenuBar()) {
        for (const MenuItem& item : p.items) {
            if (item.isSeparator()) continue;
            setEnabled(item.command, !item.startsGreyed);
            setChecked(item.command, item.startsChecked);
        }
    }
}

bool CommandStates::enabled(int command) const {
    switch (command) {
        case command::kNextScreen: return paging.nextScreen;
        case command::kPrecedingScreen: return paging.precedingScreen;
        case command::kFirstScreen: return paging.firstScreen;
        default: break;
    }
    if (command < command::kFirst || command > command::kLast) return true;
    return itemEnabled_[static_cast<size_t>(command - command::kFirst)];
}

bool CommandStates::checked(int command) const {
    if (command < command::kFirst || command > command::kLast) return false;
    return itemChecked_[static_cast<size_t>(command - command::kFirst)];
}

void CommandStates::setEnabled(int command, bool on) {
    switch (command) {
        case command::kNextScreen: paging.nextScreen = on; return;
        case command::kPrecedingScreen: paging.precedingScreen = on; return;
        case command::kFirstScreen: paging.firstScreen = on; return;
        default: break;
    }
    // Greying an item the menu bar does not have changes nothing, as in the menu itself.
    if (FindMenuBarItem(command) == nullptr) return;
    itemEnabled_[static_cast<size_t>(command - command::kFirst)] = on;
}

void CommandStates::setChecked(int command, bool on) {
    if (FindMenuBarItem(command) == nullptr) return;
    itemChecked_[static_cast<size_t>(command - command::kFirst)] = on;
}

void UpdateCheckMarks(const Session& session, CommandStates& states) {
    const uint16_t word = session.settings.optionWord;
    states.setChecked(command::kDataForkMode, (word & opt::kCopyData) != 0);
    states.setChecked(command::kResourceForkMode, (word & opt::kCopyResource) != 0);
    states.setChecked(command::kMacBinaryMode, (word & opt::kCopyMacBinary) != 0);
    const ListingMode mode = ListingModeOf(word);
    states.setChecked(command::kShortListing, mode == ListingMode::Short);
    states.setChecked(command::kExtendedListing, mode == ListingMode::Extended);
    states.setChecked(command::kSignatureListing, mode == ListingMode::Signature);
    states.setChecked(command::kUseCurrentDirectory, session.settings.useCurrentDirectory);
    states.setChecked(command::kLogFile, session.log.isOpen());
}

void UpdateCommandStates(const Session& session, CommandStates& states) {
    if (!driveSelected(session)) {
        // "Mac->PC" and "Attrib." keep the state they had; the others cannot be used without a
        // volume.
        states.popupEnabled[popup::kFile] = false;
        states.buttonEnabled[button::kDisplay] = false;
        states.buttonEnabled[button::kParent] = false;
        states.buttonEnabled[button::kRoot] = false;
        for (int c : kSelectionCommands) states.setEnabled(c, false);
        states.setEnabled(command::kVolumeInfo, false);
    } else {
        states.popupEnabled[popup::kFile] = true;
        states.setEnabled(command::kVolumeInfo, true);
        states.buttonEnabled[button::kMacToPc] = true;
        const bool belowRoot = session.dir.currentDirID != kRootDirId;
        states.buttonEnabled[button::kParent] = belowRoot;
        states.buttonEnabled[button::kRoot] = belowRoot;
        states.setEnabled(command::kRoot, belowRoot);
        states.setEnabled(command::kParent, belowRoot);
        const bool anySelected = CountSelectedEntries(session.settings.list) > 0;
        states.buttonEnabled[button::kAttributes] = anySelected;
        states.buttonEnabled[button::kDisplay] = anySelected;
        for (int c : kSelectionCommands) states.setEnabled(c, anySelected);
    }
    UpdateCheckMarks(session, states);
}

void RefreshCommandStates(Session& session, CommandStates& states) {
    UpdateCommandStates(session, states);
    session.ui.updateCommandStates();
}

void RepaintList(Session& session, CommandStates& states) {
    session.ui.invalidateListRow(255);
    UpdateShownRange(session, states);
}

void ShowCurrentFolder(Session& session, CommandStates& states) {
    BuildFileList(session, nullptr);
    RefreshCommandStates(session, states);
    RepaintList(session, states);
}

int AcceleratorCommand(const CommandStates& states, Key key, uint8_t modifiers) {
    const int command = FindAccelerator(key, modifiers);
    if (command == 0) return 0;
    if (FindMenuBarItem(command) != nullptr && !states.enabled(command)) return 0;
    return command;
}

MainWindowLayout MainWindowLayoutOf(const WindowGeometry& g) {
    const int w = g.clientWidth;
    const int statusTop = g.statusTop();
    MainWindowLayout l{};
    l.buttonBar = {0, 0, w, layout::kButtonBarBottom};
    l.header = {0, layout::kButtonBarBottom, w, layout::kHeaderBottom};
    l.list = {0, layout::kHeaderBottom, w, statusTop};
    l.statusBar = {0, statusTop, w, g.clientHeight};
    // Inside its one-pixel frame the bar is 200 pixels wide: two pixels per percent.
    l.progressBar = {w - 204, statusTop + 1, w - 2, statusTop + 19};
    l.statusTextY = statusTop + 1;
    l.statusLeftX = 10;
    l.statusRightX = w - 10;
    l.iconX = w - layout::kIconInsetFromRight;
    l.iconY = layout::kHeaderSpaceY;
    return l;
}

Rect ListRowBand(const WindowGeometry& g, int row) {
    if (row == 255) return {0, 0, g.clientWidth, g.clientHeight};
    // Two pixels more than the row, so that an inverted cell's lower edge is repainted too.
    return {0, layout::kListTop + row * g.lineHeight, g.clientWidth, layout::kListTop + (row + 1) * g.lineHeight + 2};
}

ShownRange UpdateShownRange(Session& session, CommandStates& states) {
    FileList& list = session.settings.list;
    if (volumeShown(session) && list.entryCount > 0) {
        const uint16_t perScreen = EntriesPerScreen(listingMode(session));
        const uint16_t left = list.firstShown < list.entryCount ? list.entryCount - list.firstShown : 0;
        list.endShown = static_cast<uint16_t>(list.firstShown + std::min(left, perScreen));
        states.paging.nextScreen = list.endShown < list.entryCount;
    }
    return {list.firstShown, list.endShown};
}

MainWindowPaint PlanMainWindowPaint(Session& session, MainWindowModel& window) {
    MainWindowPaint paint;
    const FileList& list = session.settings.list;
    paint.range = {list.firstShown, list.endShown};
    if (!volumeShown(session)) return paint;
    paint.volumeShown = true;

    const int w = window.geometry.clientWidth;
    const int half = w / 2;
    const int lineHeight = window.geometry.lineHeight;
    paint.header = {
        {10, layout::kHeaderSpaceY, TextAlign::Left, FreeSpaceText(session)},
        {half + 9, layout::kHeaderSpaceY, TextAlign::Left, UsedSpaceText(session)},
        {10, layout::kHeaderNamesY, TextAlign::Left, " Vol: " + (session.mounted ? session.mounted->figures().name : std::string())},
        {half + 9, layout::kHeaderNamesY, TextAlign::Left, " Dir: " + macNameToUtf8(session.dir.currentName)},
    };
    if (list.entryCount == 0) {
        paint.noFile = TextRun{200, 100, TextAlign::Left, "[No file]"};
        return paint;
    }

    paint.range = UpdateShownRange(session, window.states);
    const ListingMode mode = listingMode(session);
    for (uint16_t i = paint.range.first; i < paint.range.end; ++i) {
        const ListEntry& e = list.entries[i];
        const int k = i - paint.range.first;
        ListCell cell;
        cell.index = i;
        cell.selected = e.selected();
        const std::string name = list.shownNameOf(i);
        if (mode == ListingMode::Short) {
            cell.row = k / 2;
            cell.column = k % 2;
            const int y = layout::kListTop + cell.row * lineHeight;
            if (cell.column == 0) {
                cell.texts = {{2, y, TextAlign::Left, name}, {half - 4, y, TextAlign::Right, fieldText(e.dataSizeText())}};
                cell.cell = {2, y, half - 4, y + lineHeight};
            } else {
                cell.texts = {{half + 5, y, TextAlign::Left, name}, {w - 6, y, TextAlign::Right, fieldText(e.dataSizeText())}};
                // Two pixels right of the middle, as wide as the left cell less one pixel.
                cell.cell = {half + 2, y, half + 2 + half - 5, y + lineHeight};
            }
        } else {
            cell.row = k;
            const int y = layout::kListTop + cell.row * lineHeight;
            cell.texts = {
                {2, y, TextAlign::Left, name},
                {half + 50, y, TextAlign::Right, fieldText(e.dataSizeText())},
                {half + 110, y, TextAlign::Right, fieldText(e.rsrcSizeText())},
                {half + 211, y, TextAlign::Right, fieldText(e.createdText())},
            };
            if (mode == ListingMode::Signature)
                cell.texts.push_back({w - 16, y, TextAlign::Right, fieldText(e.signatureText())});
            else
                cell.texts.push_back({w - 8, y, TextAlign::Right, fieldText(e.modifiedText())});
            cell.cell = {2, y, w - 4, y + lineHeight};
        }
        if (cell.selected) paint.inverted.push_back(cell.cell);
        paint.cells.push_back(std::move(cell));
    }
    return paint;
}

uint16_t HitTestList(const Session& session, const WindowGeometry& geometry, int x, int y) {
    if (!driveSelected(session)) return kNoIndex;
    const FileList& list = session.settings.list;
    // Between a change of screen and the paint that follows nothing counts as shown.
    if (list.endShown <= list.firstShown || geometry.lineHeight <= 0) return kNoIndex;
    const int shown = list.endShown - list.firstShown;
    const bool shortListing = listingMode(session) == ListingMode::Short;
    const int rowsInUse = shortListing ? (shown + 1) / 2 : shown;
    if (y < layout::kListTop) return kNoIndex;
    const int row = (y - layout::kListTop) / geometry.lineHeight;
    if (row >= rowsInUse) return kNoIndex;
    if (!shortListing) return static_cast<uint16_t>(row);
    const int index = 2 * row + (x >= geometry.clientWidth / 2 ? 1 : 0);
    if (index >= shown) return kNoIndex;
    return static_cast<uint16_t>(index);
}

void ClickList(Session& session, MainWindowModel& window, int x, int y) {
    const uint16_t hit = HitTestList(session, window.geometry, x, y);
    if (hit == kNoIndex) return;
    const uint16_t index = static_cast<uint16_t>(hit + session.settings.list.firstShown);
    if (session.settings.list.entries[index].selected())
        DeselectEntry(session, index);
    else
        SelectEntry(session, index);
    RefreshCommandStates(session, window.states);
}

void DoubleClickList(Session& session, MainWindowModel& window, int x, int y) {
    const uint16_t hit = HitTestList(session, window.geometry, x, y);
    if (hit == kNoIndex) return;
    const FileList& list = session.settings.list;
    const uint16_t index = static_cast<uint16_t>(hit + list.firstShown);
    if (!list.entries[index].isFolder()) return;
    const std::string name = list.keyOf(index);
    DeselectAll(session);
    enterDirectory(session, name, NameMatch::Exact);
    ShowCurrentFolder(session, window.states);
}

bool ContextMenuRequest::enabled(int command) const {
    if (command == command::kDump) return dumpEnabled;
    if (command == command::kAttributes) return attributesEnabled;
    return true;
}

ContextMenuRequest RightClickList(Session& session, MainWindowModel& window, int x, int y) {
    ContextMenuRequest request;
    const uint16_t hit = HitTestList(session, window.geometry, x, y);
    if (hit == kNoIndex) return request;
    const uint16_t index = static_cast<uint16_t>(hit + session.settings.list.firstShown);
    SelectEntry(session, index);
    // A folder has no forks to dump and no file attributes to show.
    const bool folder = session.settings.list.entries[index].isFolder();
    request.open = true;
    request.dumpEnabled = !folder;
    request.attributesEnabled = !folder;
    return request;
}

void NextScreen(Session& session, CommandStates& states) {
    FileList& list = session.settings.list;
    list.firstShown = list.endShown;
    list.endShown = 0;
    states.paging.precedingScreen = true;
    states.paging.firstScreen = true;
    RepaintList(session, states);
}

void PrecedingScreen(Session& session, CommandStates& states) {
    FileList& list = session.settings.list;
    const uint16_t step = EntriesPerScreen(listingMode(session));
    if (list.firstShown > step) {
        list.firstShown = static_cast<uint16_t>(list.firstShown - step);
    } else {
        list.firstShown = 0;
        states.paging.firstScreen = false;
        states.paging.precedingScreen = false;
    }
    states.paging.nextScreen = true;
    list.endShown = 0;
    RepaintList(session, states);
}

void FirstScreen(Session& session, CommandStates& states) {
    FileList& list = session.settings.list;
    list.firstShown = 0;
    list.endShown = 0;
    states.paging.firstScreen = false;
    states.paging.precedingScreen = false;
    states.paging.nextScreen = true;
    RepaintList(session, states);
}

void SetListingMode(Session& session, CommandStates& states, ListingMode mode) {
    if (listingMode(session) == mode) return;
    FileList& list = session.settings.list;
    uint16_t& word = session.settings.optionWord;
    switch (mode) {
        case ListingMode::Short:
            // Short screens start at multiples of 36, so paging on from here meets the same
            // screens as paging from the top.
            list.firstShown = static_cast<uint16_t>(list.firstShown - list.firstShown % 36);
            word = static_cast<uint16_t>(word & ~(opt::kExtendedListing | opt::kSignatureListing));
            break;
        case ListingMode::Extended:
            word = static_cast<uint16_t>((word | opt::kExtendedListing) & ~opt::kSignatureListing);
            break;
        case ListingMode::Signature:
            word = static_cast<uint16_t>((word | opt::kSignatureListing) & ~opt::kExtendedListing);
            break;
    }
    list.endShown = 0;
    session.ui.setMenuCheck(command::kShortListing, mode == ListingMode::Short);
    session.ui.setMenuCheck(command::kExtendedListing, mode == ListingMode::Extended);
    session.ui.setMenuCheck(command::kSignatureListing, mode == ListingMode::Signature);
    UpdateCheckMarks(session, states);
    RepaintList(session, states);
}

}  // namespace quarry
