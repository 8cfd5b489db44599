#pragma once
// The dump window without the window: which fork of which file is shown, where, in which
// character set and radix, and the 2048-byte window of the fork that the 32 lines are drawn
// from. The front end draws the lines, binds the menu and the scroll bar to this state, and
// passes every menu command, key and scroll request through the functions below.
//
// After each call the front end takes from the model what it shows: the scroll range
// (0 .. scrollMaximum), the scroll-bar position (scrollBarPosition()), the check marks and
// greying of the menu items, and the 32 lines (dumpLine).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/charset.h"
#include "volume/volume_entry.h"

namespace quarry {

struct Session;

// Commands of the dump window's menu.
namespace dumpcmd {
inline constexpr int kData = 100;
inline constexpr int kResource = 101;
inline constexpr int kFileParameter = 102;
inline constexpr int kBackToMainScreen = 103;
inline constexpr int kAsciiMacintosh = 200;
inline constexpr int kAnsiWindows = 201;
inline constexpr int kAsciiDos = 202;
inline constexpr int kDecimal = 401;
inline constexpr int kHexadecimal = 402;
}  // namespace dumpcmd

inline constexpr size_t kDumpBufferSize = 2048;
inline constexpr size_t kDumpLineLength = 80;
inline constexpr int kDumpLineCount = 32;
inline constexpr uint32_t kDumpBytesPerLine = 16;
// One screen: 32 lines of 16 bytes. Reads, the page step and the bottom are counted in it.
inline constexpr uint32_t kDumpPageBytes = 512;
inline constexpr uint32_t kDumpLineStepBytes = 128;
// A reload fills three pages of the buffer; the fourth is never used.
inline constexpr uint32_t kDumpReloadBytes = 1536;
// The scroll bar takes at most this many steps; the unit grows in steps of 128 bytes to fit.
inline constexpr uint32_t kDumpMaxScrollSteps = 32767;
inline constexpr uint32_t kDumpScrollUnitStep = 128;
inline constexpr int kDumpWindowWidth = 615;
inline constexpr int kDumpWindowHeight = 435;

// The character column's character set; the values are the menu commands that choose them.
enum class DumpCharset : int {
    AsciiMacintosh = dumpcmd::kAsciiMacintosh,  // MacToAnsi
    AnsiWindows = dumpcmd::kAnsiWindows,        // the byte itself
    AsciiDos = dumpcmd::kAsciiDos,              // DosToAnsi
};

enum class DumpFork : uint8_t { Data, Resource };

// The DOS code page 437 characters in the Windows character set; 0 = not shown.
extern const CharTable DosToAnsi;

// One dump line: 80 characters of the Windows character set, then a NUL.
using DumpLine = std::array<char, kDumpLineLength + 1>;

struct DumpModel {
    VolumeEntry file;  // the file as the volume gave it when the dump opened
    DumpFork fork = DumpFork::Data;
    uint32_t forkLength = 0;  // the current fork's physical length (its allocated size)
    uint32_t position = 0;    // fork offset of the first line
    // Bytes per scroll-bar step. 32 bits wide: a 16-bit unit wraps to 0 for forks above 2 GB.
    uint32_t scrollUnit = kDumpScrollUnitStep;
    uint32_t scrollMaximum = 0;
    std::array<uint8_t, kDumpBufferSize> buffer{};
    uint32_t windowStart = 0;  // fork offset of buffer[0]
    uint32_t windowEnd = 0;    // one past the last loaded fork byte
    uint16_t offsetInBuffer = 0;
    uint32_t radix = 10;
    DumpCharset charset = DumpCharset::AsciiMacintosh;
    // The menu items "Data" and "Resource".
    bool dataEnabled = true;
    bool resourceEnabled = true;
    bool dataChecked = false;
    bool resourceChecked = false;
    // Why the last read of the fork stopped early: a failed sector read or a damaged
    // extents-overflow tree; empty when it read all it was asked for or reached the end of the
    // fork's extents. The bytes it could not read show as zeros.
    std::string readFault;

    ForkKind currentFork() const { return fork == DumpFork::Data ? ForkKind::Data : ForkKind::Resource; }
    uint32_t scrollBarPosition() const { return position / scrollUnit; }
};

enum class DumpOpen { Shown, NotFound };

// Looks the file up by its exact name (a list row's key) in the current folder and shows its data
// fork, or its resource fork when the data fork has no allocated space. NotFound (a folder, or
// no such file): the front end closes the window at once.
DumpOpen openDump(Session& session, DumpModel& model, std::string_view name);

// The window title: "Dumping file "NAME"", as UTF-8.
std::string dumpWindowTitle(const VolumeEntry& file);

// Reads whole 512-byte units of the current fork from start on into model.buffer, one sector
// per request, at most count bytes and never past the fork length or the buffer. Stops at the
// end of the fork's extents or at a failed read (model.readFault says which). Returns the fork
// offset reached: start + 512 × the units read.
uint32_t ReadForkBlocks(Session& session, DumpModel& model, uint32_t count, uint32_t start);

// Keeps at least one screen of loaded bytes at the position, reloading three screens from the
// position's 512-byte boundary when it must.
void EnsureDumpWindow(Session& session, DumpModel& model);

enum class ScrollRequest { LineUp, LineDown, PageUp, PageDown, Thumb, Top, Bottom };

// Moves the position (thumbValue only for Thumb: a scroll-bar position) and reloads as needed.
void scrollDump(Session& session, DumpModel& model, ScrollRequest request, uint32_t thumbValue = 0);

// The dump window's keys. Up and Down move a whole screen, as Page Up and Page Down do.
enum class DumpKey { Home, End, PageUp, PageDown, Up, Down };
ScrollRequest scrollRequestForKey(DumpKey key);

// What the front end does after a menu command.
enum class DumpReply {
    Repaint,          // the state changed (or may have): redraw lines, scroll bar and menu
    FileParameter,    // show the attribute dialog for model.file
    Close,            // close the dump window
    Ignored,          // not a command of this window, or a greyed item
};
DumpReply dumpCommand(Session& session, DumpModel& model, int command);

// Builds one line: the offset in the radix (low 8 digits), the 16 bytes in hexadecimal and
// as characters of the character set.
void FormatDumpLine(DumpLine& out, const uint8_t* bytes, uint32_t offset, uint32_t radix, DumpCharset charset);
// Line 0..31 of the window as it stands.
DumpLine dumpLine(const DumpModel& model, int line);
// A line as UTF-8 for the screen: exactly 80 characters. Control characters (which the
// "Ansi Windows" set passes through, and DosToAnsi yields for 0x0A and 0x0D) become spaces,
// so that a tab or a line feed cannot break the columns of a monospace line.
std::string dumpLineToUtf8(const DumpLine& line);

// The text row of line 0..31: one per line and a blank row after every eighth line, so that
// the lines stand in four groups of eight. The line's y is its slot times the line step.
inline int dumpLineSlot(int line) { return line + line / 8; }

}  // namespace quarry
