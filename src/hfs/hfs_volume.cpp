#include "hfs/hfs_volume.h"

#include <cstring>

#include "common/charset.h"
#include "device/scsi_bus.h"
#include "hfs/btree.h"
#include "hfs/fork.h"
#include "hfs/volume_check.h"

namespace quarry {
namespace {

// File and folder record fields read only here.
namespace rec {
inline constexpr size_t kFileFlags = 2;        // filFlags
inline constexpr uint8_t kFileLocked = 0x01;   // filFlags bit 0
inline constexpr size_t kFileBackedUp = 52;    // filBkDat
inline constexpr size_t kFileExtendedInfo = 56;  // filFndrInfo
inline constexpr size_t kDirBackedUp = 18;     // dirBkDat
inline constexpr size_t kDirUserInfo = 22;     // dirUsrInfo
inline constexpr size_t kDirExtendedInfo = 38; // dirFndrInfo
}  // namespace rec

EntryDate wallClock(const uint8_t* field) { return {loadBE32(field), EntryDate::Clock::WallClock}; }

class HfsForkReader : public ForkReader {
public:
    HfsForkReader(const VolumeContext& context, const VolumeEntry& file, ForkKind fork)
        : context_(context), fileID_(file.id), forkType_(fork == ForkKind::Resource ? kResourceFork : kDataFork),
          length_(static_cast<uint32_t>(file.fork(fork).logical)),
          physical_(static_cast<uint32_t>(file.fork(fork).physical)) {
        // The extents come from the record the entry was decoded from; an entry of another
        // volume has none, and its fork reads as a damaged one.
        if (file.formatRecord.size() == catrec::kFileSize)
            extents_ = extentRecordAt(file.formatRecord.data() +
                                      (fork == ForkKind::Resource ? catrec::kRsrcExtents : catrec::kDataExtents));
    }

    uint64_t length() const override { return length_; }
    uint64_t physicalLength() const override { return physical_; }
    Status copyTo(ByteSink& sink, UnreadableSectors* zeroFill) override {
        return readForkToFile(context_, extents_, sink, fileID_, length_, forkType_, zeroFill);
    }
    Result<bool> readUnit(uint64_t index, uint8_t* out) override {
        if (index > UINT32_MAX) return false;
        const uint32_t at = forkSectorAt(context_, static_cast<uint32_t>(index), extents_, fileID_, forkType_);
        if (at == 0) {
            if (!context_.volume.extents.fault.empty()) return Fault{context_.volume.extents.fault};
            return false;
        }
        // Read beside out: a failing source may have written part of a sector, and those bytes
        // must not show as the fork's.
        std::array<uint8_t, kSectorSize> sector{};
        const uint16_t status = context_.volume.pastImageEnd(at, 1) ? uint16_t{aspi::kError}
                                                                      : ReadSector(context_.device, at, sector.data());
        if (status != 0)
            return Fault{"read error at sector " + std::to_string(at) + " (status " + std::to_string(status) + ")"};
        std::memcpy(out, sector.data(), kForkUnitSize);
        return true;
    }
    Result<std::vector<ForkRun>> runs() override { return forkRuns(context_, extents_, fileID_, length_, forkType_); }
    Result<std::vector<ForkRun>> allocatedRuns() override {
        return forkRuns(context_, extents_, fileID_, physical_, forkType_);
    }

private:
    VolumeContext context_;
    ExtentRecord extents_{};
    uint32_t fileID_;
    uint8_t forkType_;
    uint32_t length_;
    uint32_t physical_;
};

int wantedOf(std::optional<EntryKind> kind) {
    if (!kind) return want::kAny;
    return *kind == EntryKind::Folder ? want::kFolder : want::kFile;
}

}  // namespace

VolumeEntry hfsEntryFromKey(const uint8_t* key) {
    VolumeEntry e;
    e.macName.assign(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
    e.key = e.macName;
    e.name = macNameToUtf8(e.macName);
    e.parentID = catalogKeyParent(key);
    const uint8_t* d = recordData(key);
    if (d[0] == catrec::kFolder) {
        e.kind = EntryKind::Folder;
        e.id = loadBE32(d + catrec::kDirId);
        e.valence = loadBE16(d + catrec::kValence);
        e.created = wallClock(d + catrec::kDirCreated);
        e.modified = wallClock(d + catrec::kDirModified);
        e.backedUp = wallClock(d + rec::kDirBackedUp);
        std::memcpy(e.finderInfo.data(), d + rec::kDirUserInfo, e.finderInfo.size());
        std::memcpy(e.extendedFinderInfo.data(), d + rec::kDirExtendedInfo, e.extendedFinderInfo.size());
        e.formatRecord.assign(d, d + catrec::kFolderSize);
        return e;
    }
    e.kind = EntryKind::File;
    e.id = loadBE32(d + catrec::kFileId);
    e.data = {loadBE32(d + catrec::kDataLength), loadBE32(d + catrec::kDataPhysical)};
    e.rsrc = {loadBE32(d + catrec::kRsrcLength), loadBE32(d + catrec::kRsrcPhysical)};
    e.created = wallClock(d + catrec::kFileCreated);
    e.modified = wallClock(d + catrec::kFileModified);
    e.backedUp = wallClock(d + rec::kFileBackedUp);
    e.locked = (d[rec::kFileFlags] & rec::kFileLocked) != 0;
    std::memcpy(e.finderInfo.data(), d + catrec::kFinderInfo, e.finderInfo.size());
    std::memcpy(e.extendedFinderInfo.data(), d + rec::kFileExtendedInfo, e.extendedFinderInfo.size());
    e.formatRecord.assign(d, d + catrec::kFileSize);
    return e;
}

VolumeFigures HfsVolume::figures() const {
    const VolumeState& v = context_.volume;
    const uint32_t first = static_cast<uint32_t>(v.firstBlockSector);
    VolumeFigures f;
    f.macName = v.volumeName();
    f.name = macNameToUtf8(f.macName);
    f.created = wallClock(v.mdbCopy.data() + mdb::kCreated);
    f.modified = wallClock(v.mdbCopy.data() + mdb::kModified);
    f.blockSize = v.allocBlockSize;
    f.sectorsPerBlock = v.sectorsPerBlock;
    f.totalBlocks = v.mdb16(mdb::kAllocBlocks);
    f.freeBlocks = v.mdb16(mdb::kFreeBlocks);
    f.fileCount = v.mdb32(mdb::kFileCount);
    f.folderCount = v.mdb32(mdb::kFolderCount);
    f.nextCatalogId = v.mdb32(mdb::kNextCatalogId);
    f.headerSector = v.mdbSector;
    f.firstBlockSector = first;
    f.catalogSector = uint64_t{v.mdb16(mdb::kCatalogExtents)} * v.sectorsPerBlock + first;
    f.catalogBytes = v.mdb32(mdb::kCatalogSize);
    f.extentsSector = uint64_t{v.mdb16(mdb::kExtentsExtents)} * v.sectorsPerBlock + first;
    f.extentsBytes = v.mdb32(mdb::kExtentsSize);
    f.locked = v.locked();
    return f;
}

bool HfsVolume::visitFolder(uint32_t folderID, const EntryVisitor& visit, std::string_view pattern, NameMatch match) {
    return walkFolder(
        context_.volume, folderID, [&](const uint8_t* key) { return visit(hfsEntryFromKey(key)); }, pattern, match);
}

std::optional<VolumeEntry> HfsVolume::findEntry(uint32_t folderID, std::string_view name, NameMatch match,
                                                std::optional<EntryKind> kind) {
    VolumeState& volume = context_.volume;
    if (!findCatalogRecord(volume, name, wantedOf(kind), folderID, match)) return std::nullopt;
    const uint8_t* key = currentRecordKey(volume.catalog);
    if (!key) return std::nullopt;
    return hfsEntryFromKey(key);
}

// A folder's thread names its parent and the folder's own name, by which its record is found.
std::optional<std::pair<uint32_t, std::string>> HfsVolume::threadOf(uint32_t folderID) {
    VolumeState& volume = context_.volume;
    if (!findCatalogRecord(volume, "*", want::kThread, folderID)) return std::nullopt;
    const uint8_t* thread = recordData(currentRecordKey(volume.catalog));
    const uint8_t* nameField = thread + catrec::kThreadName;
    return std::pair{loadBE32(thread + catrec::kThreadParentId),
                     std::string(reinterpret_cast<const char*>(nameField + 1), std::min<size_t>(nameField[0], kMaxNameLength))};
}

std::optional<uint32_t> HfsVolume::parentOf(uint32_t folderID) {
    const auto thread = threadOf(folderID);
    if (!thread) return std::nullopt;
    return thread->first;
}

std::optional<VolumeEntry> HfsVolume::folderOfId(uint32_t folderID) {
    const auto thread = threadOf(folderID);
    if (!thread) return std::nullopt;
    return findEntry(thread->first, thread->second, NameMatch::Exact, EntryKind::Folder);
}

std::string HfsVolume::lastFault() const { return context_.volume.catalog.fault; }

VolumeCheckResult HfsVolume::check() { return checkVolume(context_); }

std::unique_ptr<ForkReader> HfsVolume::openFork(const VolumeEntry& file, ForkKind fork) {
    return std::make_unique<HfsForkReader>(context_, file, fork);
}

}  // namespace quarry
