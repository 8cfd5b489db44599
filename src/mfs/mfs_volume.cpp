#include "mfs/mfs_volume.h"

#include <algorithm>
#include <cstring>

#include "common/charset.h"
#include "common/messages.h"
#include "hfs/byte_order.h"
#include "hfs/chain_guard.h"
#include "hfs/name_order.h"
#include "mfs/layout.h"

namespace quarry {
namespace {

using mfs::FileRecord;

// A directory of more sectors than this is damage: the largest MFS volumes Apple made (the HD20)
// kept a few dozen.
constexpr uint32_t kMaxDirectorySectors = 8192;
// The Desktop file's resource fork is read whole; one past this is not the Finder's.
constexpr uint64_t kMaxDesktopBytes = 4 * 1024 * 1024;

std::string n(uint64_t v) { return std::to_string(v); }

// MFS compares names as the Operating System's string comparison does without regard to case
// but with regard to diacritical marks; HFS's catalog order folds case the same way and keeps
// accented letters apart, so its equality is MFS's. Its order is never used here: the MFS
// directory keeps its entries in the order they were made. A "*" ends the compared prefix, and
// trailing spaces of a typed name are not compared, as on HFS.
bool nameMatches(std::string_view typed, std::string_view stored) {
    while (!typed.empty() && typed.back() == ' ') typed.remove_suffix(1);
    if (!typed.empty() && typed.front() == '*') return true;
    const size_t star = typed.find('*');
    if (star == std::string_view::npos) return compareNames(typed, stored) == 0;
    return compareNamesN(typed.substr(0, star), stored, star) == 0;
}

// A fork's place on the medium, found from its chain of allocation blocks when it is opened.
class MfsForkReader : public ForkReader {
public:
    MfsForkReader(hfsplus::Medium& medium, uint64_t length, std::vector<ForkRun> allocated, std::string what)
        : medium_(medium), length_(length), allocated_(std::move(allocated)), what_(std::move(what)) {
        for (const ForkRun& r : allocated_) physical_ += r.length;
    }
    MfsForkReader(hfsplus::Medium& medium, uint64_t length, std::string fault)
        : medium_(medium), length_(length), fault_(std::move(fault)) {}

    uint64_t length() const override { return length_; }
    uint64_t physicalLength() const override { return physical_; }

    Status copyTo(ByteSink& sink, UnreadableSectors* zeroFill) override {
        Result<std::vector<ForkRun>> found = runs();
        if (!found) return Fault{found.fault()};
        constexpr uint64_t kPiece = 64 * 1024;
        std::vector<uint8_t> buffer(static_cast<size_t>(std::min(kPiece, std::max<uint64_t>(length_, 1))));
        for (const ForkRun& run : *found) {
            for (uint64_t done = 0; done < run.length;) {
                const auto count = static_cast<size_t>(std::min(kPiece, run.length - done));
                const std::span piece(buffer.data(), count);
                if (Status s = medium_.read(run.mediumOffset + done, piece); !s) {
                    if (!zeroFill) return Fault{what_ + ": " + s.fault()};
                    hfsplus::readSectorBySector(medium_, run.mediumOffset + done, piece, *zeroFill);
                }
                if (!sink.write(buffer.data(), count)) return Fault{"cannot write: " + sink.error()};
                done += count;
            }
        }
        return Status::ok();
    }

    Result<bool> readUnit(uint64_t index, uint8_t* out) override {
        if (!fault_.empty()) return Fault{fault_};
        if (index >= physical_ / kForkUnitSize) return false;
        const uint64_t at = index * kForkUnitSize;
        for (const ForkRun& r : allocated_) {
            if (at < r.forkOffset || at - r.forkOffset >= r.length) continue;
            if (Status s = medium_.read(r.mediumOffset + (at - r.forkOffset), std::span(out, kForkUnitSize)); !s)
                return Fault{what_ + ": " + s.fault()};
            return true;
        }
        return false;
    }

    Result<std::vector<ForkRun>> runs() override {
        if (!fault_.empty()) return Fault{fault_};
        std::vector<ForkRun> out;
        for (const ForkRun& r : allocated_) {
            if (r.forkOffset >= length_) break;
            out.push_back({r.mediumOffset, r.forkOffset, std::min(r.length, length_ - r.forkOffset)});
        }
        return out;
    }
    Result<std::vector<ForkRun>> allocatedRuns() override {
        if (!fault_.empty()) return Fault{fault_};
        return allocated_;
    }

private:
    hfsplus::Medium& medium_;
    uint64_t length_;
    uint64_t physical_ = 0;
    std::vector<ForkRun> allocated_;
    std::string what_;
    std::string fault_;
};

std::string forkName(const FileRecord& file, ForkKind fork) {
    return "file \"" + macNameToUtf8(file.name) + "\" (number " + n(file.number) + "), " +
           (fork == ForkKind::Resource ? "resource fork" : "data fork");
}

}  // namespace

Result<std::unique_ptr<MfsVolume>> MfsVolume::open(std::unique_ptr<hfsplus::Medium> medium, uint64_t start, MfsFolders folders) {
    std::unique_ptr<MfsVolume> volume(new MfsVolume(std::move(medium), start));
    if (Status s = volume->load(); !s) return Fault{s.fault()};
    if (folders == MfsFolders::FromDesktop) volume->loadFolders();
    return volume;
}

Status MfsVolume::load() {
    namespace mdb = mfs::mdb;
    std::array<uint8_t, kSectorSize> head{};
    if (Status s = medium_->read(start_ + mdb::kOffset, head); !s) return Fault{"MFS volume information: " + s.fault()};
    const uint8_t* p = head.data();
    if (loadBE16(p + mdb::kSigWord) != mfs::kSignature) return Fault{"no MFS volume information at byte 1024 of the volume"};
    info_.created = loadBE32(p + mdb::kCrDate);
    info_.lastBackup = loadBE32(p + mdb::kLsBkUp);
    info_.attributes = loadBE16(p + mdb::kAtrb);
    info_.fileCount = loadBE16(p + mdb::kNmFls);
    info_.directoryStart = loadBE16(p + mdb::kDirSt);
    info_.directoryLength = loadBE16(p + mdb::kBlLen);
    info_.blockCount = loadBE16(p + mdb::kNmAlBlks);
    info_.blockSize = loadBE32(p + mdb::kAlBlkSiz);
    info_.clumpSize = loadBE32(p + mdb::kClpSiz);
    info_.firstBlockSector = loadBE16(p + mdb::kAlBlSt);
    info_.nextFileNumber = loadBE32(p + mdb::kNxtFNum);
    info_.freeBlocks = loadBE16(p + mdb::kFreeBks);
    const uint8_t nameLength = p[mdb::kVN];
    if (nameLength > mdb::kMaxNameLength)
        return Fault{"MFS volume information: the volume's name of " + n(nameLength) + " characters is longer than 27"};
    info_.name.assign(reinterpret_cast<const char*>(p + mdb::kVN + 1), nameLength);

    if (info_.blockSize == 0 || info_.blockSize % kSectorSize != 0)
        return Fault{"MFS volume information: an allocation block of " + n(info_.blockSize) + " bytes is no whole number of sectors"};
    if (info_.blockCount == 0) return Fault{"MFS volume information: the volume has no allocation blocks"};
    // The map's 12-bit entries lie between the fields and the directory.
    const uint64_t mapBytes = (uint64_t{info_.blockCount} * 3 + 1) / 2;
    const uint64_t mapEnd = mdb::kOffset + mdb::kMapOffset + mapBytes;
    if (uint64_t{info_.directoryStart} * kSectorSize < mapEnd)
        return Fault{"MFS volume information: the directory at sector " + n(info_.directoryStart) +
                     " begins inside the allocation block map, which ends at byte " + n(mapEnd)};
    if (info_.directoryLength == 0 || info_.directoryLength > kMaxDirectorySectors)
        return Fault{"MFS volume information: a directory of " + n(info_.directoryLength) + " sectors"};
    if (info_.firstBlockSector < uint32_t{info_.directoryStart} + info_.directoryLength)
        return Fault{"MFS volume information: allocation block 2 at sector " + n(info_.firstBlockSector) +
                     " lies inside the directory (sectors " + n(info_.directoryStart) + " to " +
                     n(uint32_t{info_.directoryStart} + info_.directoryLength - 1) + ")"};
    const uint64_t directoryEnd = start_ + (uint64_t{info_.directoryStart} + info_.directoryLength) * kSectorSize;
    if (medium_->size() != 0 && directoryEnd > medium_->size())
        return Fault{"MFS volume information: the directory ends at byte " + n(directoryEnd) + ", past the medium's end at byte " +
                     n(medium_->size())};

    std::vector<uint8_t> mapBytesRead(static_cast<size_t>(mapBytes));
    if (Status s = medium_->read(start_ + mdb::kOffset + mdb::kMapOffset, mapBytesRead); !s)
        return Fault{"MFS allocation block map: " + s.fault()};
    map_.assign(size_t{info_.blockCount} + mfs::kFirstBlock, mfs::kMapFree);
    for (uint32_t i = 0; i < info_.blockCount; ++i) {
        const uint8_t* e = mapBytesRead.data() + size_t{i} * 3 / 2;
        map_[i + mfs::kFirstBlock] = static_cast<uint16_t>(i % 2 == 0 ? (e[0] << 4) | (e[1] >> 4) : ((e[0] & 0x0F) << 8) | e[1]);
    }
    return readDirectory();
}

Status MfsVolume::readDirectory() {
    namespace entry = mfs::entry;
    std::vector<uint8_t> directory(size_t{info_.directoryLength} * kSectorSize);
    if (Status s = medium_->read(start_ + uint64_t{info_.directoryStart} * kSectorSize, directory); !s)
        return Fault{"MFS file directory: " + s.fault()};
    for (uint32_t sector = 0; sector < info_.directoryLength; ++sector) {
        const uint8_t* base = directory.data() + size_t{sector} * kSectorSize;
        const uint32_t volumeSector = info_.directoryStart + sector;
        for (uint32_t off = 0; off < kSectorSize;) {
            const uint8_t* e = base + off;
            if ((e[entry::kFlags] & entry::kInUse) == 0) break;
            // The fixed fields and the name's length byte, then the name, all inside the sector.
            if (kSectorSize - off < entry::kNam + 1 || kSectorSize - off - entry::kNam - 1 < e[entry::kNam]) {
                directoryFaults_.push_back("MFS file directory: the entry at byte " + n(off) + " of sector " + n(volumeSector) +
                                           " crosses the sector's end");
                break;
            }
            FileRecord f;
            f.flags = e[entry::kFlags];
            std::memcpy(f.finderInfo.data(), e + entry::kUsrWds, f.finderInfo.size());
            f.number = loadBE32(e + entry::kFlNum);
            f.dataStart = loadBE16(e + entry::kStBlk);
            f.dataLength = loadBE32(e + entry::kLgLen);
            f.dataPhysical = loadBE32(e + entry::kPyLen);
            f.rsrcStart = loadBE16(e + entry::kRStBlk);
            f.rsrcLength = loadBE32(e + entry::kRLgLen);
            f.rsrcPhysical = loadBE32(e + entry::kRPyLen);
            f.created = loadBE32(e + entry::kCrDat);
            f.modified = loadBE32(e + entry::kMdDat);
            f.name.assign(reinterpret_cast<const char*>(e + entry::kNam + 1), e[entry::kNam]);
            f.sector = volumeSector;
            f.offset = off;
            files_.push_back(std::move(f));
            off += (entry::kNam + 1 + e[entry::kNam] + 1) & ~1u;
        }
    }
    return Status::ok();
}

void MfsVolume::loadFolders() {
    auto flat = [&](const std::string& why) {
        folders_.clear();
        notices_.push_back("The Desktop file's folders are not shown, and every file is in the root: " + why + ".");
    };
    const auto desktop = std::find_if(files_.begin(), files_.end(), [](const FileRecord& f) { return compareNames(f.name, "Desktop") == 0; });
    if (desktop == files_.end()) return flat("the volume has no Desktop file");
    Result<std::vector<uint8_t>> fork = readFork(*desktop, ForkKind::Resource, kMaxDesktopBytes);
    if (!fork) return flat(fork.fault());
    Result<std::vector<mfs::DesktopFolder>> found = mfs::desktopFolders(*fork);
    if (!found) return flat(found.fault());
    for (const FileRecord& f : files_)
        if (f.number >= kFolderIdBase) return flat("file number " + n(f.number) + " lies among the numbers Quarry gives folders");
    for (const mfs::DesktopFolder& d : *found) {
        if (d.number == mfs::kVolumeWindow || d.number == mfs::kDesktopFolder || d.number == mfs::kTrashFolder || d.number == -1)
            return flat("the Desktop file describes a folder numbered " + std::to_string(d.number) + ", a number the Finder keeps for its own places");
        Folder folder{d};
        if (!folders_.emplace(folderId(d.number), std::move(folder)).second)
            return flat("the Desktop file describes folder " + std::to_string(d.number) + " twice");
    }
    // A parent that is no folder of the Desktop file (the volume's window, the desktop, the trash,
    // or one the Finder forgot) puts the folder in the root.
    for (auto& [id, folder] : folders_) {
        const uint32_t parent = folderId(folder.stored.parent);
        folder.parentID = folders_.count(parent) ? parent : kRootDirId;
    }
    for (const auto& [id, folder] : folders_) {
        uint32_t at = folder.parentID;
        for (size_t steps = 0; at != kRootDirId; ++steps) {
            if (steps > folders_.size())
                return flat("folder \"" + macNameToUtf8(folder.stored.name) + "\" lies, through its parents, inside itself");
            at = folders_.at(at).parentID;
        }
    }
    for (auto& [id, folder] : folders_)
        if (folder.parentID != kRootDirId) ++folders_.at(folder.parentID).valence;
    for (const FileRecord& f : files_)
        if (const uint32_t parent = parentOfFile(f); parent != kRootDirId) ++folders_.at(parent).valence;
}

uint32_t MfsVolume::parentOfFile(const FileRecord& file) const {
    if (folders_.empty()) return kRootDirId;
    const auto number = static_cast<int16_t>(loadBE16(file.finderInfo.data() + mfs::kFinderFolder));
    const uint32_t id = folderId(number);
    return folders_.count(id) ? id : kRootDirId;
}

uint64_t MfsVolume::blockOffset(uint16_t block) const {
    return start_ + uint64_t{info_.firstBlockSector} * kSectorSize + static_cast<uint64_t>(block - mfs::kFirstBlock) * info_.blockSize;
}

Result<std::vector<uint16_t>> MfsVolume::chainOf(uint16_t first, const std::string& what) const {
    std::vector<uint16_t> chain;
    if (first == 0) return chain;
    ChainGuard guard(static_cast<uint32_t>(map_.size()));
    const uint32_t last = uint32_t{info_.blockCount} + mfs::kFirstBlock - 1;
    for (uint16_t block = first;;) {
        if (block < mfs::kFirstBlock || block > last)
            return Fault{what + ": its chain leads to block " + n(block) + ", outside the volume's blocks 2 to " + n(last)};
        if (!guard.visit(block)) return Fault{what + ": its chain comes back to block " + n(block)};
        chain.push_back(block);
        const uint16_t next = map_[block];
        if (next == mfs::kMapLast) return chain;
        if (next == mfs::kMapFree) return Fault{what + ": its chain reaches block " + n(block) + ", which the map marks free"};
        block = next;
    }
}

Result<std::vector<uint8_t>> MfsVolume::readFork(const FileRecord& file, ForkKind fork, uint64_t limit) {
    std::unique_ptr<ForkReader> reader = openFork(entryOf(static_cast<size_t>(&file - files_.data())), fork);
    if (reader->length() > limit) return Fault{forkName(file, fork) + " holds " + n(reader->length()) + " bytes, more than Quarry reads of it"};
    struct Collect : ByteSink {
        std::vector<uint8_t> bytes;
        bool write(const uint8_t* data, size_t length) override {
            bytes.insert(bytes.end(), data, data + length);
            return true;
        }
        std::string error() const override { return {}; }
    } sink;
    if (Status s = reader->copyTo(sink, nullptr); !s) return Fault{s.fault()};
    return std::move(sink.bytes);
}

VolumeEntry MfsVolume::entryOf(size_t index) const {
    const FileRecord& f = files_[index];
    VolumeEntry e;
    e.name = macNameToUtf8(f.name);
    e.macName = f.name;
    e.key = f.name;
    e.kind = EntryKind::File;
    e.id = f.number;
    e.parentID = parentOfFile(f);
    e.finderInfo = f.finderInfo;
    e.created = {f.created, EntryDate::Clock::WallClock};
    e.modified = {f.modified, EntryDate::Clock::WallClock};
    e.data = {f.dataLength, f.dataPhysical};
    e.rsrc = {f.rsrcLength, f.rsrcPhysical};
    e.locked = (f.flags & mfs::entry::kLocked) != 0;
    const auto i = static_cast<uint32_t>(index);
    e.formatRecord.resize(sizeof i);
    std::memcpy(e.formatRecord.data(), &i, sizeof i);
    return e;
}

VolumeEntry MfsVolume::rootEntry() const {
    VolumeEntry e;
    e.name = macNameToUtf8(info_.name);
    e.macName = info_.name;
    e.key = info_.name;
    e.kind = EntryKind::Folder;
    e.id = kRootDirId;
    e.parentID = kRootParentId;
    e.created = {info_.created, EntryDate::Clock::WallClock};
    e.modified = {info_.lastBackup, EntryDate::Clock::WallClock};
    uint32_t valence = 0;
    for (const FileRecord& f : files_) valence += parentOfFile(f) == kRootDirId;
    for (const auto& [id, folder] : folders_) valence += folder.parentID == kRootDirId;
    e.valence = valence;
    return e;
}

VolumeEntry MfsVolume::folderEntry(const Folder& folder) const {
    VolumeEntry e;
    e.name = macNameToUtf8(folder.stored.name);
    e.macName = folder.stored.name;
    e.key = folder.stored.name;
    e.kind = EntryKind::Folder;
    e.id = folderId(folder.stored.number);
    e.parentID = folder.parentID;
    e.valence = folder.valence;
    return e;
}

VolumeFigures MfsVolume::figures() const {
    VolumeFigures f;
    f.name = macNameToUtf8(info_.name);
    f.macName = info_.name;
    f.created = {info_.created, EntryDate::Clock::WallClock};
    // MFS keeps no modification date of the volume; its last backup lies where HFS keeps one.
    f.modified = {info_.lastBackup, EntryDate::Clock::WallClock};
    f.blockSize = info_.blockSize;
    f.sectorsPerBlock = info_.blockSize / kSectorSize;
    f.totalBlocks = info_.blockCount;
    f.freeBlocks = info_.freeBlocks;
    f.fileCount = info_.fileCount;
    f.folderCount = static_cast<uint32_t>(folders_.size());
    f.nextCatalogId = info_.nextFileNumber;
    f.headerSector = (start_ + mfs::mdb::kOffset) / kSectorSize;
    // Allocation block 0 would lie two blocks before block 2, the volume's first.
    const uint64_t twoBlocks = 2 * uint64_t{f.sectorsPerBlock};
    f.firstBlockSector = start_ / kSectorSize + (info_.firstBlockSector >= twoBlocks ? info_.firstBlockSector - twoBlocks : 0);
    f.catalogSector = start_ / kSectorSize + info_.directoryStart;
    f.catalogBytes = uint64_t{info_.directoryLength} * kSectorSize;
    f.locked = true;  // Quarry never changes it
    return f;
}

bool MfsVolume::visitFolder(uint32_t folderID, const EntryVisitor& visit, std::string_view pattern, NameMatch match) {
    lastFault_.clear();
    auto matches = [&](const std::string& stored) { return match == NameMatch::Exact ? stored == pattern : nameMatches(pattern, stored); };
    if (folderID == kRootParentId) {
        if (matches(info_.name)) visit(rootEntry());
        return true;
    }
    if (folderID != kRootDirId && !folders_.count(folderID)) {
        lastFault_ = "folder ID " + n(folderID) + " is not on this volume";
        return false;
    }
    for (const auto& [id, folder] : folders_)
        if (folder.parentID == folderID && matches(folder.stored.name) && !visit(folderEntry(folder))) return true;
    for (size_t i = 0; i < files_.size(); ++i)
        if (parentOfFile(files_[i]) == folderID && matches(files_[i].name) && !visit(entryOf(i))) return true;
    return true;
}

std::optional<VolumeEntry> MfsVolume::findEntry(uint32_t folderID, std::string_view name, NameMatch match,
                                                std::optional<EntryKind> kind) {
    std::optional<VolumeEntry> found;
    visitFolder(
        folderID,
        [&](const VolumeEntry& e) {
            if (!kind || e.kind == *kind) found = e;
            return !found;
        },
        name, match);
    return found;
}

std::optional<VolumeEntry> MfsVolume::folderOfId(uint32_t folderID) {
    if (folderID == kRootDirId) return rootEntry();
    if (auto it = folders_.find(folderID); it != folders_.end()) return folderEntry(it->second);
    return std::nullopt;
}

std::optional<uint32_t> MfsVolume::parentOf(uint32_t folderID) {
    if (folderID == kRootDirId) return kRootParentId;
    if (auto it = folders_.find(folderID); it != folders_.end()) return it->second.parentID;
    lastFault_ = "folder ID " + n(folderID) + " is not on this volume";
    return std::nullopt;
}

std::unique_ptr<ForkReader> MfsVolume::openFork(const VolumeEntry& file, ForkKind fork) {
    uint32_t index = UINT32_MAX;
    if (file.formatRecord.size() == sizeof index) std::memcpy(&index, file.formatRecord.data(), sizeof index);
    if (index >= files_.size() || files_[index].name != file.key)
        return std::make_unique<MfsForkReader>(*medium_, 0, "\"" + file.name + "\" is no file of this volume");
    const FileRecord& f = files_[index];
    const uint64_t length = fork == ForkKind::Resource ? f.rsrcLength : f.dataLength;
    const std::string what = forkName(f, fork);
    Result<std::vector<uint16_t>> chain = chainOf(fork == ForkKind::Resource ? f.rsrcStart : f.dataStart, what);
    if (!chain) return std::make_unique<MfsForkReader>(*medium_, length, chain.fault());
    if (length > uint64_t{chain->size()} * info_.blockSize)
        return std::make_unique<MfsForkReader>(*medium_, length, what + ": its " + n(length) + " bytes are more than its " + n(chain->size()) +
                                                                     " allocation blocks hold");
    std::vector<ForkRun> runs;
    for (const uint16_t block : *chain) {
        const uint64_t at = blockOffset(block);
        if (!runs.empty() && runs.back().mediumOffset + runs.back().length == at)
            runs.back().length += info_.blockSize;  // neighbouring blocks make one run
        else
            runs.push_back({at, runs.empty() ? 0 : runs.back().forkOffset + runs.back().length, info_.blockSize});
    }
    return std::make_unique<MfsForkReader>(*medium_, length, std::move(runs), what);
}

std::vector<std::string> MfsVolume::takeNotices() { return std::exchange(notices_, {}); }

std::vector<std::string> MfsVolume::takeDamage() {
    std::vector<std::string> reports;
    for (const std::string& d : directoryFaults_) {
        if (std::find(told_.begin(), told_.end(), d) != told_.end()) continue;
        told_.push_back(d);
        reports.push_back(std::string(messageText(Msg::VolumeDamaged)) + " " + d);
    }
    return reports;
}

}  // namespace quarry
