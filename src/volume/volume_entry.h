#pragma once
// A file, folder or link of a mounted volume, as every layer above the volume formats reads it:
// decoded once by the format, so that nothing above the seam reads a catalog record.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// The IDs every Macintosh catalog gives its root folder and the root's parent.
inline constexpr uint32_t kRootParentId = 1;
inline constexpr uint32_t kRootDirId = 2;

// Seconds from 1904-01-01 (Macintosh time) to 1970-01-01 (calendar time).
inline constexpr uint32_t kMacEpochOffset = 2082844800u;

// How a searched name meets the stored ones. A name typed by the person is a pattern, where "*"
// ends the compared prefix; a name taken from the volume itself (a list entry, a thread) is
// exact, since "*" is an ordinary character in Macintosh names.
enum class NameMatch { Pattern, Exact };

// The values are those of the HFS catalog's record types, which the list rows keep.
enum class EntryKind : uint8_t { Folder = 1, File = 2, SymbolicLink = 3 };

enum class ForkKind : uint8_t { Data, Resource };

// A date as the volume keeps it: seconds from 1904-01-01. HFS stores the wall-clock time of
// the Macintosh that wrote it and no zone, and it is shown as stored; HFS+ stores a UTC
// instant, which is shown in the PC's zone.
struct EntryDate {
    enum class Clock : uint8_t { WallClock, Utc };
    uint32_t macSeconds = 0;
    Clock clock = Clock::WallClock;

    // The seconds from 1904 that the PC's wall clock shows for this date; 0 (no date) stays 0.
    uint32_t wallClock() const;
};

struct ForkLength {
    uint64_t logical = 0;   // bytes of the fork
    uint64_t physical = 0;  // bytes the volume allocated to it
};

// Owner, group and mode, which HFS+ keeps and HFS does not.
struct PosixFields {
    uint32_t owner = 0;
    uint32_t group = 0;
    uint16_t mode = 0;
};

struct VolumeEntry {
    std::string name;     // Unicode (UTF-8), for showing and for PC names
    // Macintosh Roman, for what the HFS-era formats carry (PC naming tables, MacBinary and BinHex
    // headers, the list rows): HFS's name as stored; another format's converted, "?" for a
    // character without a Macintosh Roman form.
    std::string macName;
    std::string key;      // the volume's own name bytes, to find the entry again exactly
    EntryKind kind = EntryKind::File;
    uint32_t id = 0;        // catalog ID: the folder's ID, the file's number
    uint32_t parentID = 0;  // the folder that holds it
    std::array<uint8_t, 16> finderInfo{};          // FInfo / DInfo: type, creator, flags, location …
    std::array<uint8_t, 16> extendedFinderInfo{};  // FXInfo / DXInfo: script, extended flags …
    EntryDate created, modified, backedUp;
    ForkLength data, rsrc;  // files only
    uint32_t valence = 0;   // folders only: the entries it holds
    bool locked = false;
    // HFS+ only; HFS leaves them empty.
    std::optional<PosixFields> posix;
    std::string linkTarget;  // a symbolic link's target, UTF-8
    std::optional<uint32_t> textEncoding;
    // The format's own copy of the record the entry was decoded from (HFS: the catalog record,
    // whose extents open the forks). Only the format that made the entry reads it.
    std::vector<uint8_t> formatRecord;

    bool isFolder() const { return kind == EntryKind::Folder; }
    bool isFile() const { return kind == EntryKind::File; }
    const ForkLength& fork(ForkKind which) const { return which == ForkKind::Resource ? rsrc : data; }
    // The four bytes of the type and of the creator, and the Finder flags (files).
    std::string_view type() const { return {reinterpret_cast<const char*>(finderInfo.data()), 4}; }
    std::string_view creator() const { return {reinterpret_cast<const char*>(finderInfo.data() + 4), 4}; }
    uint16_t finderFlags() const { return static_cast<uint16_t>(finderInfo[8] << 8 | finderInfo[9]); }
};

}  // namespace quarry
