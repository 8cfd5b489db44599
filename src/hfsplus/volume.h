#pragma once
// A mounted HFS+ or HFSX volume: found at a byte offset of the medium (bare, or embedded in an
// HFS wrapper), its volume header read, its catalog, extents overflow and attributes trees
// opened. It answers the folder walk in catalog order, lookups of typed names, records by ID,
// links, forks, extended attributes, the allocation bitmap, its figures and the damage met.
// It never changes the medium.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "hfsplus/btree.h"
#include "hfsplus/catalog.h"
#include "hfsplus/fork.h"
#include "hfsplus/medium.h"
#include "hfsplus/names.h"

namespace quarry::hfsplus {

// Where a volume lies: the HFS+ volume itself, and the HFS wrapper around it when there is one.
struct VolumeLocation {
    uint64_t volumeStart = 0;   // byte of the medium where the HFS+ volume begins
    bool wrapped = false;
    uint64_t wrapperStart = 0;  // byte where the wrapper begins (the start that was given)
};
// Reads what lies at byte 1024 from `start` on: an HFS+ or HFSX volume header, or the MDB of an
// HFS wrapper whose embedded volume is HFS+ (that volume is the one found). A fault otherwise.
Result<VolumeLocation> locateVolume(Medium& medium, uint64_t start);

struct VolumeFigures {
    bool hfsx = false;           // signature 'HX', version 5
    bool caseSensitive = false;  // the catalog compares names binary (HFSX with 0xBC)
    uint16_t version = 0;
    uint32_t attributes = 0;
    uint32_t lastMountedVersion = 0;  // who mounted it last ('10.0', 'HFSJ', 'fsck', ...)
    uint32_t blockSize = 0;
    uint32_t totalBlocks = 0;
    uint32_t freeBlocks = 0;
    uint32_t fileCount = 0;
    uint32_t folderCount = 0;
    uint32_t nextCatalogId = 0;
    uint32_t writeCount = 0;
    uint64_t encodingsBitmap = 0;  // bit n: a name was written in text encoding n
    uint32_t createdLocal = 0;     // the header's creation date, local time of the Mac that made it (seconds since 1904)
    MacInstant modified, backedUp, checked;
    bool journaled = false;        // attributes bit 13
    bool journalPending = false;   // the journal holds transactions not yet written to the volume
    std::string journalNote;       // why the journal's state is unknown, when it is
    uint64_t journalOffset = 0;    // byte of the volume where the journal's header lies, when it is read
    bool journalReplayed = false;  // the pending transactions are applied to what is read
    bool softwareLocked = false;
    bool cleanlyUnmounted = false;
    VolumeLocation location;
    uint64_t volumeBytes = 0;      // totalBlocks × blockSize
};

enum class ForkKind { Data, Resource };

// An extended attribute of the attributes tree: bytes stored in the record, or a fork of its own.
struct Attribute {
    std::u16string name;
    std::vector<uint8_t> inlineData;   // kHFSPlusAttrInlineData
    std::optional<ForkData> fork;      // kHFSPlusAttrForkData
};

class Volume {
public:
    // Mounts the volume found at `start` (see locateVolume). A fault when no volume lies there
    // or its catalog cannot be opened; lesser damage (an unreadable extents or attributes tree,
    // a root without its thread) is noted in damage() and the volume mounts.
    static Result<std::unique_ptr<Volume>> open(Medium& medium, uint64_t start);

    const VolumeFigures& figures() const { return figures_; }
    // The root folder's name, from its thread record.
    const std::string& name() const { return name_; }
    NameComparison comparison() const {
        return figures_.caseSensitive ? NameComparison::Binary : NameComparison::CaseFolding;
    }
    // The volume was opened through its journal's pending transactions (journal.h).
    void noteJournalReplayed() { figures_.journalReplayed = true; }
    const VolumeGeometry& geometry() const { return geometry_; }

    // Calls visit with each folder and file of folder `folderId` in catalog order until it
    // returns false; the private folders of the root are passed over. A record that cannot be
    // decoded is noted in damage() and passed over; a damaged node ends the walk with a fault.
    Status forEachEntry(uint32_t folderId, const std::function<bool(const CatalogRecord&)>& visit);
    Result<std::vector<CatalogRecord>> entries(uint32_t folderId);
    // The first entry of the folder, in catalog order, that the typed name or pattern matches
    // (see NamePattern: HFS+ case folding, HFSX exact).
    Result<std::optional<CatalogRecord>> lookup(uint32_t folderId, std::string_view typed);
    // The entry of the folder whose stored name is exactly `storedName`.
    Result<std::optional<CatalogRecord>> child(uint32_t folderId, std::u16string_view storedName);
    // The folder or file with catalog ID `id`, found through its thread record.
    Result<CatalogRecord> record(uint32_t id);
    // What a hard link to a file ("iNode<n>" in the private data folder) or to a folder
    // ("dir_<n>" in the private directory folder) leads to; any other record is its own target.
    Result<CatalogRecord> resolveLink(const CatalogRecord& link);
    // A symbolic link's target: its data fork as UTF-8 text.
    Result<std::string> symlinkTarget(const CatalogRecord& link);
    ForkReader fork(const CatalogRecord& file, ForkKind kind);

    // The extended attributes of a catalog ID, in the tree's order; none without an attributes tree.
    Result<std::vector<Attribute>> attributes(uint32_t id);
    Result<std::optional<Attribute>> attribute(uint32_t id, std::u16string_view name);
    // The bytes of an attribute, inline or in its fork; a fault past `limit` bytes.
    Result<std::vector<uint8_t>> attributeBytes(uint32_t id, const Attribute& attribute, uint64_t limit);
    // A reader of an attribute kept in a fork (com.apple.ResourceFork, a large decmpfs).
    ForkReader attributeFork(uint32_t id, const Attribute& attribute);

    // The allocation file: whether a block is in use, and how many are.
    Result<bool> blockInUse(uint32_t block);
    Result<uint64_t> usedBlockCount();

    // The private folders of the root (0 when the volume has none).
    uint32_t privateDataFolder() const { return privateData_; }
    uint32_t privateDirectoryFolder() const { return privateDirs_; }

    // Every place of damage met since the mount, in the volume and its trees, each once.
    std::vector<std::string> damage() const;

    BTree& catalog() { return *catalog_; }
    BTree* extentsTree() { return extents_.get(); }
    BTree* attributesTree() { return attributes_.get(); }

private:
    Volume(Medium& medium) : medium_(medium) {}
    Status walk(uint32_t folderId, bool includePrivate, const std::function<bool(const CatalogRecord&)>& visit);
    Result<std::optional<ExtentRecord>> findExtents(uint32_t fileId, uint8_t forkType, uint32_t startBlock);
    Result<std::optional<ExtentRecord>> findAttributeExtents(uint32_t id, std::u16string_view name, uint32_t startBlock);
    Status walkAttributes(uint32_t id, const std::function<bool(std::span<const uint8_t> key, std::span<const uint8_t> data,
                                                                 const Node& node, size_t index)>& visit);
    OverflowLookup overflowFor(uint32_t fileId, uint8_t forkType);
    void readJournalState();
    void note(std::string text);

    Medium& medium_;
    VolumeGeometry geometry_;
    VolumeFigures figures_;
    std::string name_;
    std::vector<uint8_t> header_;
    std::unique_ptr<BTree> extents_;
    std::unique_ptr<BTree> catalog_;
    std::unique_ptr<BTree> attributes_;
    std::string extentsFault_;     // why the extents tree did not open, when it did not
    std::string attributesFault_;
    uint32_t privateData_ = 0;
    uint32_t privateDirs_ = 0;
    std::vector<std::string> damage_;
};

}  // namespace quarry::hfsplus
