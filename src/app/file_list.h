#pragma once
// The current folder's entries as fixed 92-byte records whose text fields the painter draws as
// fixed-width slices, and the text formats of sizes, dates and space.

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "volume/volume_entry.h"

namespace quarry {

struct Session;

inline constexpr uint16_t kNoIndex = 0xFFFF;
inline constexpr uint16_t kInitialListCapacity = 36;

// Positions within a ListEntry.
namespace entry {
inline constexpr size_t kSelected = 0;
inline constexpr size_t kKind = 1;
inline constexpr size_t kName = 2;          // 33 bytes, NUL-terminated Macintosh name
inline constexpr size_t kDataSize = 35;     // last digit at 41, 42 a space
inline constexpr size_t kDataSizeEnd = 41;
inline constexpr size_t kDirMark = 37;      // "<DIR>" at 37..41
inline constexpr size_t kRsrcSize = 44;     // last digit at 50
inline constexpr size_t kRsrcSizeEnd = 50;
inline constexpr size_t kSignature = 53;    // type and creator, or "[valence]" ending at 60
inline constexpr size_t kSignatureEnd = 60;
inline constexpr size_t kCreated = 62;      // mm/dd/yy hh:mm
inline constexpr size_t kModified = 77;
inline constexpr size_t kTextStart = 35;
inline constexpr size_t kSize = 92;
inline constexpr size_t kSizeWidth = 8;
inline constexpr size_t kSignatureWidth = 8;
inline constexpr size_t kDateWidth = 14;
inline constexpr std::array<size_t, 5> kFieldTerminators = {43, 52, 61, 76, 91};
}  // namespace entry

struct ListEntry {
    std::array<char, entry::kSize> raw{};

    bool selected() const { return raw[entry::kSelected] != 0; }
    uint8_t kind() const { return static_cast<uint8_t>(raw[entry::kKind]); }
    bool isFolder() const { return kind() == 1; }
    std::string name() const { return std::string(raw.data() + entry::kName); }
    // A field as the record holds it, padding included.
    std::string_view field(size_t pos, size_t width) const { return {raw.data() + pos, width}; }
    std::string_view dataSizeText() const { return field(entry::kDataSize, entry::kSizeWidth); }
    std::string_view rsrcSizeText() const { return field(entry::kRsrcSize, entry::kSizeWidth); }
    std::string_view signatureText() const { return field(entry::kSignature, entry::kSignatureWidth); }
    std::string_view createdText() const { return field(entry::kCreated, entry::kDateWidth); }
    std::string_view modifiedText() const { return field(entry::kModified, entry::kDateWidth); }
};
static_assert(sizeof(ListEntry) == entry::kSize);

// Characters of a name a row holds.
inline constexpr size_t kListNameLength = 31;

struct FileList {
    std::vector<ListEntry> entries = std::vector<ListEntry>(kInitialListCapacity);
    // The volume's entries the rows were built from, in the rows' order, for what a row cannot
    // hold (a name of more than 31 characters, the name as the volume keeps it).
    std::vector<VolumeEntry> volumeEntries;
    uint16_t entryCount = 0;
    uint16_t firstShown = 0;
    uint16_t endShown = 0;

    uint16_t entryCapacity() const { return static_cast<uint16_t>(entries.size()); }
    void resize(size_t capacity) { entries.resize(capacity); }
    // The exact name (NameMatch::Exact) that finds row `index`'s entry again: the volume's key,
    // which on HFS+ is no Macintosh Roman text and may be longer than a row holds.
    std::string keyOf(uint16_t index) const;
    // Row `index`'s name as the screen shows it: UTF-8, at most kListNameLength characters.
    std::string shownNameOf(uint16_t index) const;
};

// Fills the list for the current folder; a non-empty filter (typed text, Windows character
// set) keeps only the names that match it.
void BuildFileList(Session& session, const char* filter);

uint16_t CountSelectedEntries(const FileList& list);
// The first selected entry, whose flag it clears, or kNoIndex when none is left.
uint16_t NextSelectedEntry(FileList& list);
// The first entry after `after` that is selected and a folder, or kNoIndex; after = kNoIndex
// starts at the first entry. The flag stays set.
uint16_t NextSelectedFolder(const FileList& list, uint16_t after);

enum class ListingMode { Short, Extended, Signature };
// The listing mode of the option word. With both flags set (the command line's /A switch) the
// signature column is shown, the one of the two wide listings that tells more.
ListingMode ListingModeOf(uint16_t optionWord);
// A screen has 18 rows: one entry per row in the wide listings, two in the short one.
uint16_t EntriesPerScreen(ListingMode mode);
// The screen row of entry index for the list's first shown entry, or -1 when it is not on the
// screen.
int ScreenRowOf(const FileList& list, ListingMode mode, uint16_t index);

// Set or clear one entry's flag and repaint the row it is shown on.
void SelectEntry(Session& session, uint16_t index);
void DeselectEntry(Session& session, uint16_t index);
// Act on every entry of the list, then repaint the whole list.
void SelectAll(Session& session);
void DeselectAll(Session& session);
void InvertSelection(Session& session);

// Writes value in decimal, right-aligned so that its last character is at end.
void FormatSizeField(char* record, size_t end, uint64_t bytes);

struct MacCalendar {
    int day;     // 1..31
    int month;   // 1..12
    int year;    // years since 1900
    int hour;    // 0..23
    int minute;  // 0..59
};
// The wall-clock time an HFS timestamp records, as stored: no zone is applied, and dates
// before 1970 are shown as they are.
MacCalendar MacTimeToCalendar(uint32_t macTime);
// 14 characters, "mm/dd/yy hh:mm", written to out (not terminated).
void FormatMacDate(char* out, uint32_t macTime);
std::string FormatMacDate(uint32_t macTime);

std::string FreeSpaceText(const Session& session);
std::string UsedSpaceText(const Session& session);
void SetVolumeTitle(Session& session);

}  // namespace quarry
