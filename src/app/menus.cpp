#include "app/menus.h"

#include <array>
#include <string_view>

#include "app/command_ids.h"
#include "common/messages.h"

namespace quarry {
namespace {

using namespace command;

constexpr MenuItem kSeparator{};

constexpr MenuItem item(int command, const char* caption) { return {command, caption, false, false}; }
constexpr MenuItem greyed(int command, const char* caption) { return {command, caption, true, false}; }
constexpr MenuItem checked(int command, const char* caption) { return {command, caption, false, true}; }

constexpr std::array kMacDriveItems = {
    item(kSelectDrive, "&Select Drive\tAlt+D"),
    // Images are how most people meet HFS volumes today, so they open from the menu that
    // chooses the drive.
    item(kOpenImage, "&Open Image...\tCtl+O"),
    item(kNewVolume, "&New Volume..."),
    greyed(kVolumeInfo, "Volume Information"),
    kSeparator,
    item(kExit, "E&xit"),
};

constexpr std::array kFileItems = {
    item(kCopyToPc, "&Copy from Mac to PC"),
    kSeparator,
    item(kOpenFolder, "C&hange Directory"),
    item(kRoot, "&Return to Root"),
    item(kParent, "Return to &Parent"),
    kSeparator,
    item(kDump, "Dump content"),
    item(kAttributes, "Edit &Attributes\tAlt+A"),
    kSeparator,
    item(kSelectAll, "Select All\tCtl+F10"),
    item(kDeselectAll, "Deselect All\tF10"),
    item(kInvertSelection, "&Invert Selection\tShift+F10"),
    kSeparator,
    greyed(kNextScreen, "Next Screen\tPgDn"),
    greyed(kPrecedingScreen, "Preceding Screen\tPgUp"),
    greyed(kFirstScreen, "First Screen\tCtl+PgUp"),
};

constexpr std::array kOptionsItems = {
    checked(kDataForkMode, "&Normal Copy"),
    item(kResourceForkMode, "&Resources Copy\tAlt+R"),
    item(kMacBinaryMode, "&Binary Copy\tAlt+B"),
    kSeparator,
    item(kDestination, "&Destination Directory"),
    item(kUseCurrentDirectory, "&Use Current Directory"),
    kSeparator,
    item(kFileNaming, "&File Naming"),
    item(kOutputPorts, "&Output Ports"),
    kSeparator,
    checked(kShortListing, "Short Listing"),
    item(kExtendedListing, "&Extended Listing\tAlt+E"),
    item(kSignatureListing, "Listing w/Signature\tAlt+S"),
    kSeparator,
    item(kCommandLine, "&Command Line\tAlt+C"),
    item(kLogFile, "&Log File"),
};

constexpr std::array kHelpItems = {
    item(kHelpIndex, "Help Index"),
};

constexpr std::array<MenuPopup, popup::kCount> kMenuBar = {{
    {"Mac &Drive", kMacDriveItems},
    {"&File", kFileItems},
    {"&Options", kOptionsItems},
    {"&Help", kHelpItems},
}};

constexpr std::array kContextItems = {
    item(kCopyToPc, "&Copy from Mac to PC"),
    item(kDelete, "&Delete\tDel"),
    item(kRename, "R&ename"),
    item(kDump, "Dump content"),
    item(kAttributes, "Edit &Attributes\tAlt+A"),
};

constexpr std::array<Accelerator, 18> kAccelerators = {{
    {Key::F1, keymod::kNone, kHelpIndex},
    {Key::F10, keymod::kNone, kDeselectAll},
    {Key::F10, keymod::kCtrl, kSelectAll},
    {Key::F10, keymod::kShift, kInvertSelection},
    {Key::PageDown, keymod::kNone, kNextScreen},
    {Key::PageUp, keymod::kNone, kPrecedingScreen},
    {Key::PageUp, keymod::kCtrl, kFirstScreen},
    {Key::Delete, keymod::kNone, kDelete},
    {Key::Escape, keymod::kNone, kExit},
    {Key::A, keymod::kAlt, kAttributes},
    {Key::B, keymod::kAlt, kMacBinaryMode},
    {Key::C, keymod::kAlt, kCommandLine},
    {Key::D, keymod::kAlt, kSelectDrive},
    {Key::E, keymod::kAlt, kExtendedListing},
    {Key::N, keymod::kAlt, kNewFolder},
    {Key::O, keymod::kCtrl, kOpenImage},
    {Key::R, keymod::kAlt, kResourceForkMode},
    {Key::S, keymod::kAlt, kSignatureListing},
}};

// The buttons sit 4 pixels below the window's top edge, 25 high; each is as wide as ten pixels
// per caption character plus 20, and 13 pixels apart.
constexpr int kButtonTop = 4;
constexpr int kButtonHeight = 25;
constexpr int kFirstButtonLeft = 12;
constexpr int kButtonGap = 13;

struct ButtonKind {
    const char* caption;
    int command;
    ButtonEnabling enabling;
};

constexpr std::array<ButtonKind, button::kCount> kButtonKinds = {{
    {"Mac->PC", kCopyToPc, ButtonEnabling::DriveSelected},
    {"Attrib.", kAttributes, ButtonEnabling::EntrySelected},
    {"Display", kDump, ButtonEnabling::EntrySelected},
    {"Parent", kParent, ButtonEnabling::NotAtRoot},
    {"Root", kRoot, ButtonEnabling::NotAtRoot},
}};

constexpr std::array<FunctionButton, button::kCount> layOutButtons() {
    std::array<FunctionButton, button::kCount> buttons{};
    int left = kFirstButtonLeft;
    for (size_t i = 0; i < kButtonKinds.size(); ++i) {
        const ButtonKind& s = kButtonKinds[i];
        const int width = 10 * static_cast<int>(std::string_view(s.caption).size()) + 20;
        buttons[i] = {s.caption, s.command, s.enabling, {left, kButtonTop, left + width, kButtonTop + kButtonHeight}};
        left += width + kButtonGap;
    }
    return buttons;
}

constexpr std::array<FunctionButton, button::kCount> kButtons = layOutButtons();

struct HelpString {
    int command;
    const char* text;
};

// Preceding Screen (141) has no text of its own: it shows the idle text rather than leaving the
// previously highlighted item's help standing.
constexpr std::array<HelpString, 32> kStatusHelp = {{
    {101, "Select the drive holding the Macintosh volume."},
    {104, "Display informations about the Macintosh volume."},
    {105, "Exit to Windows."},
    {106, "Copy files or directories from the Macintosh volume to the PC."},
    {108, "Change Directory (expand selected subdirectory)."},
    {109, "Return to root directory."},
    {110, "Return to parent directory."},
    {111, "Create a new directory (empty folder)."},
    {112, "Delete selected items (files or directories)."},
    {113, "Rename selected items (files or directories)."},
    {114, "Raw listing of file content."},
    {115, "Edit attributes (Name, Creator, Filetype, Date/Time)."},
    {116, "Cancel the entire selection."},
    {117, "Select all listed files."},
    {118, "Invert selection (selected items are deselected...)."},
    {119, "Show next directory screen."},
    {120, "Return to the top of the directory."},
    {121, "Copy the data fork only (default copy for Macintosh files)."},
    {122, "Copy the resources fork only (Macintosh files)."},
    {123, "MacBinary copy (Finder header + Data fork + Resources fork)."},
    {124, "Select a target directory."},
    {125, "Confirm current directory as target directory."},
    {126, "Naming mode of the Macintosh files copied on the PC."},
    {127, "Direct copy of Macintosh files to computer ports (LPT, COM)."},
    {128, "Wide listing with length of data and resources, date/time, etc."},
    {129, "Toggle between function buttons and command line."},
    {131, "Open/close a logfile with Macintosh and MS-DOS file names."},
    {132, "Activate the help system."},
    {138, "Wide listing with length of data and resources, plus signature (creator/type) string."},
    {142, "Narrow (short) listing with name and data length"},
    // The image item is ours; without a text of its own it would show the idle text while
    // highlighted, as if the program did not know it.
    {143, "Open a disk image file as the drive holding the Macintosh volume."},
    {144, "Make a new, empty HFS volume in a disk image file and open it for writing."},
}};

}  // namespace

std::span<const MenuPopup> MainMenuBar() { return kMenuBar; }

std::span<const MenuItem> ListContextMenu() { return kContextItems; }

const MenuItem* FindMenuBarItem(int command) {
    if (command == 0) return nullptr;
    for (const MenuPopup& p : kMenuBar)
        for (const MenuItem& i : p.items)
            if (i.command == command) return &i;
    return nullptr;
}

std::span<const Accelerator> Accelerators() { return kAccelerators; }

int FindAccelerator(Key key, uint8_t modifiers) {
    for (const Accelerator& a : kAccelerators)
        if (a.key == key && a.modifiers == modifiers) return a.command;
    return 0;
}

std::span<const FunctionButton> FunctionButtons() { return kButtons; }

const char* StatusHelpText(int command) {
    for (const HelpString& h : kStatusHelp)
        if (h.command == command) return h.text;
    return messageText(Msg::IdleHelp);
}

}  // namespace quarry
