#pragma once
// The one seam between the volume formats (src/hfs, and beside it the others) and everything
// above them: a mounted volume answers what the list, navigation, copy, dump, reports and both
// programs ask, and none of them knows which format it reads.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "volume/fork_reader.h"
#include "volume/volume_entry.h"

namespace quarry {

enum class VolumeFormat : uint8_t { Hfs, HfsPlus, Hfsx, Mfs };

// "HFS", "HFS+", "HFSX", "MFS".
std::string_view volumeFormatName(VolumeFormat format);
// Whether the format's names are Unicode (HFS+, HFSX), so that what a person types reaches it as
// UTF-8 rather than through the Macintosh Roman tables.
inline bool namesAreUnicode(VolumeFormat format) { return format == VolumeFormat::HfsPlus || format == VolumeFormat::Hfsx; }

// The figures INFO, the volume information sheet, the space texts and the reports show. Sizes
// are in bytes, places in 512-byte sectors from the start of the medium.
struct VolumeFigures {
    std::string name;     // UTF-8
    std::string macName;  // Macintosh Roman, as the HFS-era texts (the log) carry it
    EntryDate created, modified;
    uint32_t blockSize = 0;  // bytes of an allocation block
    uint32_t sectorsPerBlock = 0;
    uint64_t totalBlocks = 0;
    uint64_t freeBlocks = 0;
    uint32_t fileCount = 0;
    uint32_t folderCount = 0;
    uint32_t nextCatalogId = 0;
    uint64_t headerSector = 0;      // the volume's header: HFS's MDB
    uint64_t firstBlockSector = 0;  // allocation block 0
    uint64_t catalogSector = 0;     // the catalog file's first extent
    uint64_t catalogBytes = 0;
    uint64_t extentsSector = 0;     // the extents-overflow file's first extent
    uint64_t extentsBytes = 0;
    bool locked = false;  // by the medium or by the person
    bool journaled = false;      // HFS+: changes go through a journal first
    bool caseSensitive = false;  // HFSX: names compared exactly
};

// What a read-only consistency check of the volume found.
struct VolumeCheckResult {
    // One line per problem, naming the place ("catalog node 17: keys out of order at record 3").
    // Empty when the volume is sound.
    std::vector<std::string> problems;
    // What is unusual but not damage, such as the blocks a CD mastering tool marks in use
    // without giving them to any file on a locked volume.
    std::vector<std::string> notes;

    bool sound() const { return problems.empty(); }
};

// Called with each entry of a folder; returning false stops the walk.
using EntryVisitor = std::function<bool(const VolumeEntry&)>;

class MountedVolume {
public:
    virtual ~MountedVolume() = default;

    virtual VolumeFormat format() const = 0;
    virtual VolumeFigures figures() const = 0;

    // Calls visit with each entry of folder folderID whose name matches `pattern`, in the
    // volume's order, until visit returns false. A typed pattern (UTF-8 where namesAreUnicode,
    // else Macintosh Roman; "*" ends the compared prefix, a leading "*" takes every entry) is
    // compared by the volume's own rule; an
    // exact name is an entry's `key`. False when damage stopped the walk before the folder's end
    // (lastFault() says where; the damage reports tell it once).
    virtual bool visitFolder(uint32_t folderID, const EntryVisitor& visit, std::string_view pattern = "*",
                             NameMatch match = NameMatch::Pattern) = 0;
    // The first entry of folder folderID that the name finds, of the kind asked for (any kind
    // when none is given), as visitFolder compares names.
    virtual std::optional<VolumeEntry> findEntry(uint32_t folderID, std::string_view name, NameMatch match,
                                                 std::optional<EntryKind> kind = std::nullopt) = 0;
    // The folder whose ID is folderID (its parent is in parentID); none when the volume does not
    // know it.
    virtual std::optional<VolumeEntry> folderOfId(uint32_t folderID) = 0;
    // The parent of folder folderID, as the volume records it for the folder (HFS: its thread).
    virtual std::optional<uint32_t> parentOf(uint32_t folderID) = 0;
    // Why the last walk or lookup met damage; empty when it met none.
    virtual std::string lastFault() const = 0;

    // A reader of one fork of a file entry.
    virtual std::unique_ptr<ForkReader> openFork(const VolumeEntry& file, ForkKind fork) = 0;

    // Checks the whole volume without changing it; the searches' places and recorded faults are
    // left as they were, so a check can run between two commands.
    virtual VolumeCheckResult check() = 0;

    // Whether Quarry may change this volume: a fault with the reason to tell when it may not.
    // Every changing command asks before it writes anything.
    virtual Status mayChange() const = 0;

    // What the person hears once of this volume besides damage (a journal not replayed, folders
    // that cannot be shown); HFS tells its own through the session.
    virtual std::vector<std::string> takeNotices() { return {}; }
    // Each place of damage met since the last call, each once, as the person reads it.
    virtual std::vector<std::string> takeDamage() { return {}; }
};

// The refusal of every format that Quarry reads but does not change.
Status refuseChangeOf(VolumeFormat format);

}  // namespace quarry
