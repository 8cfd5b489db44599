#include "commands/volume_changes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <ctime>
#include <cstdio>
#include <vector>

#include "app/file_list.h"
#include "app/mount.h"
#include "app/navigation.h"
#include "app/session.h"
#include "common/charset.h"
#include "common/messages.h"
#include "hfs/btree.h"
#include "hfs/tree_edit.h"
#include "hfs/volume_commit.h"
#include "hfs/volume_edit.h"
#include "hfs/volume_recount.h"

namespace quarry {
namespace {

// Adds delta to the current folder's valence in its catalog record, and sizes the list for it.
bool adjustValence(Session& session, int delta) {
    VolumeState& volume = session.volume;
    const uint8_t* nd = session.dir.currentDirID == kRootDirId
                            ? findCatalogRecord(volume, "*", want::kFolder, kRootParentId)
                            : findCatalogRecord(volume, session.dir.currentName, want::kFolder,
                                                session.dir.currentParentID, NameMatch::Exact);
    if (!nd) return false;
    uint8_t* key = volume.catalog.node.data() + nodeRecordOffset(nd, volume.catalog.recordIndex);
    uint8_t* valenceField = key + recordDataOffset(key) + catrec::kValence;
    const auto valence = static_cast<uint16_t>(loadBE16(valenceField) + delta);
    storeBE16(valenceField, valence);
    if (!writeCatalogNode(volume.catalog)) return false;
    FileList& list = session.settings.list;
    if (valence > list.entryCapacity()) list.resize(valence);
    list.entryCount = valence;
    return true;
}


constexpr const char* kNewFolderName = "New folder";
// The Finder window a new folder opens in, and its view (by icon).
constexpr uint16_t kWindowTop = 80, kWindowLeft = 48, kWindowBottom = 272, kWindowRight = 480;
constexpr uint16_t kFinderView = 0x0100;
constexpr size_t kFolderWindowRect = 22;  // dirUsrInfo.frRect
constexpr size_t kFolderView = 36;        // dirUsrInfo.frView
constexpr size_t kDataFirstBlock = 24;    // filStBlk, filLgLen, filPyLen: 10 bytes
constexpr size_t kRsrcFirstBlock = 34;    // filRStBlk, filRLgLen, filRPyLen
constexpr size_t kForkGroupSize = 10;
// Folders nest far less deeply on any real volume; a deeper walk is a damaged catalog.
constexpr int kMaxFolderDepth = 256;

bool isRoot(const Session& session) { return session.dir.currentDirID == kRootDirId; }

uint8_t* mdbField(Session& session, size_t offset) { return session.volume.mdbCopy.data() + offset; }

std::string keyName(const uint8_t* key) {
    return std::string(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
}

std::string ansi(const std::string& macName) { return TranslateName(macName, MacToAnsi); }

void logLine(Session& session, const std::string& ansiText) {
    if (session.log.isOpen()) session.log.writeAnsi(ansiText + "\r\n");
}

// A catalog key: parent ID and name, key length 6 + the name's length.
std::array<uint8_t, catkey::kName + kMaxNameLength> catalogKey(uint32_t parentID, std::string_view name) {
    std::array<uint8_t, catkey::kName + kMaxNameLength> key{};
    const size_t length = std::min(name.size(), kMaxNameLength);
    key[catkey::kKeyLength] = static_cast<uint8_t>(catkey::kMinKeyLength + length);
    storeBE32(key.data() + catkey::kParentId, parentID);
    key[catkey::kNameLength] = static_cast<uint8_t>(length);
    std::memcpy(key.data() + catkey::kName, name.data(), length);
    return key;
}

Fault treeFaultOr(const Session& session, const char* what) {
    const std::string& fault = session.volume.catalog.fault;
    return Fault{fault.empty() ? std::string(what) : fault};
}

// Byte-wise upper case of the C locale (a..z only).
std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Why the extents of a file's catalog record cannot be what its forks hold, or empty when they
// can: a run past the volume's last block, a block the bitmap already has free, a block of the
// catalog's or the extents tree's own extents, or more bytes than the fork's physical length.
// Freeing such runs would hand out blocks that other files or the trees still hold.
std::string forkExtentsDamage(const VolumeState& volume, const uint8_t* record) {
    const uint32_t volumeBlocks = volume.mdb16(mdb::kAllocBlocks);
    auto overlapsTree = [&](uint32_t start, uint32_t end) {
        for (size_t field : {mdb::kCatalogExtents, mdb::kExtentsExtents}) {
            for (size_t i = 0; i < 3; ++i) {
                const uint32_t from = volume.mdb16(field + 4 * i), to = from + volume.mdb16(field + 4 * i + 2);
                if (start < to && from < end) return true;
            }
        }
        return false;
    };
    const struct {
        size_t extents, physical;
        const char* name;
    } forks[] = {{catrec::kDataExtents, catrec::kDataPhysical, "data"}, {catrec::kRsrcExtents, catrec::kRsrcPhysical, "resource"}};
    for (const auto& fork : forks) {
        const std::string where =
            "catalog: file " + std::to_string(loadBE32(record + catrec::kFileId)) + ": its " + fork.name + " fork's ";
        uint64_t held = 0;
        for (size_t i = 0; i < 3; ++i) {
            const uint32_t start = loadBE16(record + fork.extents + 4 * i);
            const uint32_t end = start + loadBE16(record + fork.extents + 4 * i + 2);
            if (end == start) continue;
            if (end > volumeBlocks)
                return where + "blocks " + std::to_string(start) + "-" + std::to_string(end - 1) + " run past the volume's " +
                       std::to_string(volumeBlocks) + " blocks";
            if (overlapsTree(start, end))
                return where + "blocks " + std::to_string(start) + "-" + std::to_string(end - 1) + " belong to a B-tree";
            for (uint32_t b = start; b < end; ++b) {
                if (b / 8 >= volume.bitmap.size() || (volume.bitmap[b / 8] & (0x80 >> (b % 8))) == 0)
                    return where + "block " + std::to_string(b) + " is free in the bitmap";
            }
            held += end - start;
        }
        if (held * volume.allocBlockSize > loadBE32(record + fork.physical))
            return where + "extents hold " + std::to_string(held * volume.allocBlockSize) + " bytes, its physical length is " +
                   std::to_string(loadBE32(record + fork.physical));
    }
    return {};
}

// Why the MDB's extents of the catalog and the extents tree cannot be theirs, or empty when they
// can: a run past the volume's last block, or a block that two runs share. A commit writes the
// trees' nodes where those extents say, over whatever lies there.
std::string treeExtentsDamage(const VolumeState& volume) {
    const uint32_t volumeBlocks = volume.mdb16(mdb::kAllocBlocks);
    struct Run {
        uint32_t start, end;
        const char* tree;
    };
    std::vector<Run> runs;
    for (const auto& [field, tree] : {std::pair{mdb::kExtentsExtents, "extents tree"}, std::pair{mdb::kCatalogExtents, "catalog"}}) {
        for (size_t i = 0; i < 3; ++i) {
            const uint32_t start = volume.mdb16(field + 4 * i), end = start + volume.mdb16(field + 4 * i + 2);
            if (end == start) continue;
            const std::string blocks = std::string(tree) + ": its blocks " + std::to_string(start) + "-" + std::to_string(end - 1);
            if (end > volumeBlocks) return blocks + " run past the volume's " + std::to_string(volumeBlocks) + " blocks";
            for (const Run& other : runs)
                if (start < other.end && other.start < end) return blocks + " are also the " + other.tree + "'s";
            runs.push_back({start, end, tree});
        }
    }
    return {};
}

// Why the MDB's layout cannot be the medium's, or empty when it can: a bitmap that runs into the
// allocation blocks (a change would write the one over the other), or allocation blocks that end
// past the medium (a new block there would be written outside it).
std::string layoutDamage(const VolumeState& volume) {
    const uint32_t bitmapStart = volume.mdb16(mdb::kBitmapStart), allocStart = volume.mdb16(mdb::kAllocStart);
    const uint32_t bitmapSectors = (uint32_t{volume.mdb16(mdb::kAllocBlocks)} + kSectorSize * 8 - 1) / (kSectorSize * 8);
    if (allocStart < bitmapStart + bitmapSectors)
        return "MDB: the allocation blocks start at sector " + std::to_string(allocStart) + ", inside the bitmap (sectors " +
               std::to_string(bitmapStart) + "-" + std::to_string(bitmapStart + bitmapSectors - 1) + ")";
    const uint64_t mediumBytes = volume.imageBytes != 0 ? volume.imageBytes : volume.mediumSectors * kSectorSize;
    if (mediumBytes != 0 && volumeEndByte(volume) > mediumBytes)
        return "MDB: the allocation blocks end at byte " + std::to_string(volumeEndByte(volume)) + ", past the end of the medium at byte " +
               std::to_string(mediumBytes);
    return {};
}

// Deletes the file whose record is the catalog's current one, in the current folder: both forks'
// blocks (those of the catalog record and those of the extents tree) go back to the bitmap.
Status deleteFile(Session& session) {
    const VolumeContext context = session.volumeContext();
    VolumeState& volume = session.volume;
    if (Status s = loadVolumeBitmap(context); !s) return s;
    const uint8_t* key = currentRecordKey(volume.catalog);
    if (!key) return treeFaultOr(session, "catalog: the file's record is gone");
    std::vector<uint8_t> record(recordData(key), recordData(key) + catrec::kFileSize);
    const uint32_t nodeNumber = volume.catalog.nodeNumber;
    const uint16_t recordIndex = volume.catalog.recordIndex;
    const uint32_t fileID = loadBE32(record.data() + catrec::kFileId);
    // Damage met here refuses the change as damage met while reading does.
    if (std::string damage = forkExtentsDamage(volume, record.data()); !damage.empty()) {
        treeFault(volume.catalog, damage);
        return Fault{std::move(damage)};
    }
    Result<std::string> shared = sharedBlockOf(context, record.data());
    if (!shared) return Fault{shared.fault()};
    if (!shared->empty()) {
        treeFault(volume.catalog, "catalog: " + *shared);
        return Fault{"catalog: " + *shared};
    }

    uint32_t freed = 0;
    for (size_t fork : {catrec::kDataExtents, catrec::kRsrcExtents})
        for (size_t i = 0; i < 3; ++i)
            freed += freeBlocks(volume, BlockRun{loadBE16(record.data() + fork + 4 * i), loadBE16(record.data() + fork + 4 * i + 2)});
    for (uint8_t fork : {kDataFork, kResourceFork}) {
        Result<uint32_t> more = removeExtentRecords(context, fileID, fork);
        if (!more) return Fault{more.fault()};
        freed += *more;
    }
    storeBE16(mdbField(session, mdb::kFreeBlocks), static_cast<uint16_t>(volume.mdb16(mdb::kFreeBlocks) + freed));

    // The removals above worked in the extents tree only; the catalog's cursor still names the
    // file's record.
    if (!readNode(nodeNumber, volume.catalog)) return treeFaultOr(session, "catalog: the file's leaf is gone");
    volume.catalog.recordIndex = recordIndex;
    if (Status s = deleteCurrentRecord(context); !s) return s;
    // A file may have a thread record of its own (key: the file's ID and no name).
    const auto threadKey = catalogKey(fileID, "");
    if (Result<RecordPlace> place = locateRecord(volume.catalog, threadKey.data()); place && place->found) {
        if (Status s = deleteRecord(context, volume.catalog, place->node, place->index); !s) return s;
    }
    if (!adjustValence(session, -1)) return treeFaultOr(session, "catalog: the current folder's record is gone");
    decrementBE32(mdbField(session, mdb::kFileCount));
    if (isRoot(session)) decrementBE16(mdbField(session, mdb::kRootFiles));
    return Status::ok();
}

Status removeDirectory(Session& session, const std::string& name, int depth);

// Deletes every entry of the current folder, in catalog order.
Status emptyCurrentFolder(Session& session, int depth) {
    VolumeState& volume = session.volume;
    while (findCatalogRecord(volume, "*", want::kAny, session.dir.currentDirID)) {
        session.ui.stepWaitCursor();
        const uint8_t* key = currentRecordKey(volume.catalog);
        const std::string entry = keyName(key);
        if (recordType(key) == catrec::kFolder) {
            logLine(session, "*rd " + ansi(entry));
            if (Status s = removeDirectory(session, entry, depth + 1); !s) return s;
        } else {
            logLine(session, "*del " + ansi(entry));
            if (Status s = deleteFile(session); !s) return s;
        }
    }
    if (!volume.catalog.fault.empty()) return Fault{volume.catalog.fault};
    return Status::ok();
}

// Removes folder name of the current folder with everything in it.
Status removeDirectory(Session& session, const std::string& name, int depth) {
    if (depth > kMaxFolderDepth) return Fault{"catalog: folders nest deeper than " + std::to_string(kMaxFolderDepth) + " levels"};
    VolumeState& volume = session.volume;
    const VolumeContext context = session.volumeContext();
    if (!findCatalogRecord(volume, name, want::kFolder, session.dir.currentDirID, NameMatch::Exact))
        return treeFaultOr(session, "catalog: the folder's record is gone");
    const uint8_t* data = recordData(currentRecordKey(volume.catalog));
    const uint32_t folderID = loadBE32(data + catrec::kDirId);
    if (loadBE16(data + catrec::kValence) != 0) {
        if (!enterDirectory(session, name, NameMatch::Exact)) return treeFaultOr(session, "catalog: cannot enter the folder");
        if (Status s = emptyCurrentFolder(session, depth); !s) return s;
        if (!changeToParent(session)) return treeFaultOr(session, "catalog: cannot return to the parent folder");
    }
    if (findCatalogRecord(volume, "*", want::kThread, folderID)) {
        if (Status s = deleteCurrentRecord(context); !s) return s;
    }
    if (!findCatalogRecord(volume, name, want::kFolder, session.dir.currentDirID, NameMatch::Exact))
        return treeFaultOr(session, "catalog: the folder's record is gone");
    if (Status s = deleteCurrentRecord(context); !s) return s;
    if (!adjustValence(session, -1)) return treeFaultOr(session, "catalog: the current folder's record is gone");
    decrementBE32(mdbField(session, mdb::kFolderCount));
    if (isRoot(session)) decrementBE16(mdbField(session, mdb::kRootFolders));
    return Status::ok();
}

// The names of the current folder's entries that match, in catalog order.
Result<std::vector<std::string>> matchingEntries(Session& session, std::string_view pattern, NameMatch match) {
    std::vector<std::string> names;
    const bool ok = walkFolder(
        session.volume, session.dir.currentDirID,
        [&](const uint8_t* key) {
            names.push_back(keyName(key));
            return true;
        },
        pattern, match);
    if (!ok) return Fault{session.volume.catalog.fault};
    return names;
}

}  // namespace

bool WriteGuardAllows(Session& session) {
    // A format Quarry reads but does not change is refused before anything else is asked.
    if (session.mounted) {
        if (Status s = session.mounted->mayChange(); !s) {
            session.ui.showMessageBox(s.fault());
            return false;
        }
    }
    // Mac OS changes nothing on a locked volume: refused before anything is asked or written.
    if (session.volume.locked()) {
        session.ui.showMessageBox(messageText(Msg::VolumeLocked));
        return false;
    }
    DeviceState& device = session.device;
    if (device.deviceBlockSize == 1024) {
        session.ui.showMessageBox(messageText(Msg::WriteBlocked1024));
        return false;
    }
    if (!MediumTakesWrites(session)) return session.ui.ask(messageText(Msg::WriteProtectedMedia), Question::OkCancel);
    return true;
}

bool MediumTakesWrites(Session& session) {
    DeviceState& device = session.device;
    if (device.targetId == kNoSelection) return true;
    std::vector<uint8_t> block(std::max<size_t>(device.deviceBlockSize, kCdBlockSize));
    return ProbeWriteProtection(device, device.targetId, block.data()) == 0;
}

Status MakeDirectory(Session& session, std::string name) {
    if (name.empty()) name = kNewFolderName;
    for (size_t i = 1; i < name.size(); ++i)
        if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
    while (!name.empty() && name.back() == ' ') name.pop_back();
    std::string macName = TranslateName(name, AnsiToMac);
    if (macName.size() > kMaxNameLength) macName.resize(kMaxNameLength);
    // A name of nothing but characters the Macintosh cannot hold names nothing.
    if (macName.empty()) macName = kNewFolderName;

    VolumeState& volume = session.volume;
    if (findCatalogRecord(volume, macName, want::kAny, session.dir.currentDirID, NameMatch::Exact)) {
        session.ui.showTimedMessage(messageText(Msg::FolderExists));
        return Status::ok();
    }
    if (!volume.catalog.fault.empty()) return Fault{volume.catalog.fault};
    logLine(session, "*md " + name);
    const uint32_t now = macTimeNow();
    Result<uint32_t> made = InsertFolderRecord(session, macName, now, now);
    return made ? Status::ok() : Status(Fault{made.fault()});
}

namespace {

// The catalog ID the next new record takes. One that a record uses already would give the new
// entry another item's thread or extents: such a volume is damaged. Loading the catalog for
// the change finds its highest ID.
Result<uint32_t> nextCatalogId(Session& session) {
    VolumeState& volume = session.volume;
    beginVolumeChange(volume);
    const uint32_t id = volume.mdb32(mdb::kNextCatalogId);
    if (Status s = beginTreeEdit(volume.catalog); !s) return Fault{s.fault()};
    if (id <= volume.catalog.highestCatalogId) {
        treeFault(volume.catalog, "catalog: the next catalog ID " + std::to_string(id) + " is not above " +
                                      std::to_string(volume.catalog.highestCatalogId) + ", which a record uses");
        return Fault{volume.catalog.firstDamage()};
    }
    return id;
}

}  // namespace

Result<uint32_t> InsertFolderRecord(Session& session, const std::string& macName, uint32_t created, uint32_t modified) {
    const VolumeContext context = session.volumeContext();
    Result<uint32_t> folderID = nextCatalogId(session);
    if (!folderID) return folderID;
    uint8_t folder[catrec::kFolderSize] = {};
    folder[0] = catrec::kFolder;
    storeBE32(folder + catrec::kDirId, *folderID);
    storeBE32(folder + catrec::kDirCreated, created);
    storeBE32(folder + catrec::kDirModified, modified);
    const uint16_t rect[] = {kWindowTop, kWindowLeft, kWindowBottom, kWindowRight};
    for (size_t i = 0; i < 4; ++i) storeBE16(folder + kFolderWindowRect + 2 * i, rect[i]);
    storeBE16(folder + kFolderView, kFinderView);
    const auto key = catalogKey(session.dir.currentDirID, macName);
    if (Status s = insertCatalogRecord(context, key.data(), folder, sizeof folder); !s) return Fault{s.fault()};

    uint8_t thread[catrec::kThreadSize] = {};
    thread[0] = catrec::kFolderThread;
    storeBE32(thread + catrec::kThreadParentId, session.dir.currentDirID);
    thread[catrec::kThreadName] = static_cast<uint8_t>(std::min(macName.size(), kMaxNameLength));
    std::memcpy(thread + catrec::kThreadName + 1, macName.data(), thread[catrec::kThreadName]);
    const auto threadKey = catalogKey(*folderID, "");
    if (Status s = insertThreadRecord(context, threadKey.data(), thread); !s) return Fault{s.fault()};

    incrementBE32(mdbField(session, mdb::kNextCatalogId));
    incrementBE32(mdbField(session, mdb::kFolderCount));
    if (isRoot(session)) incrementBE16(mdbField(session, mdb::kRootFolders));
    if (!adjustValence(session, +1)) return Fault{treeFaultOr(session, "catalog: the current folder's record is gone").what};
    return folderID;
}

Result<uint32_t> InsertFileRecord(Session& session, const std::string& macName, uint8_t* record) {
    Result<uint32_t> fileID = nextCatalogId(session);
    if (!fileID) return fileID;
    record[0] = catrec::kFile;
    storeBE32(record + catrec::kFileId, *fileID);
    const auto key = catalogKey(session.dir.currentDirID, macName);
    if (Status s = insertCatalogRecord(session.volumeContext(), key.data(), record, catrec::kFileSize); !s) return Fault{s.fault()};
    incrementBE32(mdbField(session, mdb::kNextCatalogId));
    incrementBE32(mdbField(session, mdb::kFileCount));
    if (isRoot(session)) incrementBE16(mdbField(session, mdb::kRootFiles));
    if (!adjustValence(session, +1)) return Fault{treeFaultOr(session, "catalog: the current folder's record is gone").what};
    return fileID;
}

Result<DeleteOutcome> DeleteEntries(Session& session, std::string_view name, NameMatch match) {
    VolumeState& volume = session.volume;
    const bool wildcard = match == NameMatch::Pattern && name.find('*') != std::string_view::npos;
    if (Status s = loadVolumeBitmap(session.volumeContext()); !s) return Fault{s.fault()};
    while (findCatalogRecord(volume, name, want::kAny, session.dir.currentDirID, match)) {
        session.ui.stepWaitCursor();
        const uint8_t* key = currentRecordKey(volume.catalog);
        const std::string entry = keyName(key);
        // A name without a pattern deletes only an entry that is spelt as it is, but for case.
        if (!wildcard && upper(entry) != upper(name.substr(0, std::min(name.size(), entry.size()))))
            return DeleteOutcome::Done;
        if (recordType(key) == catrec::kFolder) {
            if (loadBE16(recordData(key) + catrec::kValence) != 0 &&
                !session.ui.ask(messageText(Msg::FolderNotEmpty), Question::OkCancel))
                return DeleteOutcome::Cancelled;
            logLine(session, "*rd " + ansi(entry));
            if (Status s = removeDirectory(session, entry, 0); !s) return Fault{s.fault()};
        } else {
            logLine(session, "*del " + ansi(entry));
            if (Status s = deleteFile(session); !s) return Fault{s.fault()};
        }
        if (!wildcard) break;
    }
    if (!volume.catalog.fault.empty()) return Fault{volume.catalog.fault};
    return DeleteOutcome::Done;
}

Status RenameEntries(Session& session, std::string_view oldName, std::string_view newName, NameMatch match) {
    VolumeState& volume = session.volume;
    std::string target(newName.substr(0, std::min(newName.size(), kMaxNameLength)));
    const size_t oldStar = match == NameMatch::Pattern ? oldName.find('*') : std::string_view::npos;
    const size_t newStar = match == NameMatch::Pattern ? target.find('*') : std::string::npos;
    const bool bothWild = oldStar != std::string_view::npos && newStar != std::string::npos;
    if ((oldStar != std::string_view::npos) != (newStar != std::string::npos) &&
        !session.ui.ask(messageText(Msg::RenameOneSided), Question::OkCancel))
        return Status::ok();

    Result<std::vector<std::string>> entries = matchingEntries(session, oldName, match);
    if (!entries) return Fault{entries.fault()};
    const VolumeContext context = session.volumeContext();
    for (const std::string& entry : *entries) {
        std::string renamed = target;
        if (bothWild) {
            renamed = target.substr(0, newStar) + entry.substr(std::min(entry.size(), oldStar));
            if (renamed.size() > kMaxNameLength) renamed.resize(kMaxNameLength);
        }
        if (renamed != entry && !renamed.empty()) {
            // Another entry of that name would make two records with one key: refused. The entry
            // itself may take another spelling of its own name.
            if (findCatalogRecord(volume, renamed, want::kAny, session.dir.currentDirID, NameMatch::Exact) &&
                compareNames(renamed, entry) != 0) {
                session.ui.showTimedMessage(messageText(Msg::NameTaken));
            } else {
                if (!volume.catalog.fault.empty()) return Fault{volume.catalog.fault};
                if (!findCatalogRecord(volume, entry, want::kAny, session.dir.currentDirID, NameMatch::Exact))
                    return treeFaultOr(session, "catalog: the entry's record is gone");
                logLine(session, "*ren " + ansi(entry) + "\t" + ansi(renamed));
                const uint8_t* key = currentRecordKey(volume.catalog);
                const bool folder = recordType(key) == catrec::kFolder;
                const uint32_t folderID = folder ? loadBE32(recordData(key) + catrec::kDirId) : 0;
                if (Status s = renameRecord(context, renamed); !s) return s;
                if (folder) {
                    // The folder's thread names it for everyone who comes back up from inside.
                    if (!findCatalogRecord(volume, "*", want::kThread, folderID))
                        return treeFaultOr(session, "catalog: the folder has no thread record");
                    uint8_t* nd = volume.catalog.node.data();
                    const uint16_t index = volume.catalog.recordIndex;
                    const uint8_t* threadKey = nd + nodeRecordOffset(nd, index);
                    const size_t threadLength = size_t{nodeRecordOffset(nd, static_cast<uint16_t>(index + 1))} -
                                                nodeRecordOffset(nd, index) - recordDataOffset(threadKey);
                    uint8_t thread[catrec::kThreadSize] = {};
                    std::memcpy(thread, threadKey + recordDataOffset(threadKey), catrec::kThreadName);
                    thread[catrec::kThreadName] = static_cast<uint8_t>(renamed.size());
                    std::memcpy(thread + catrec::kThreadName + 1, renamed.data(), renamed.size());
                    if (threadLength >= catrec::kThreadSize) {
                        std::memcpy(nd + nodeRecordOffset(nd, index) + recordDataOffset(threadKey), thread, sizeof thread);
                        if (Status s = writeCatalogNode(volume.catalog); !s) return s;
                    } else {
                        // A thread another tool ended after its name has no room for a longer
                        // one: it is written again whole.
                        const std::vector<uint8_t> key(threadKey, threadKey + threadKey[0] + 1);
                        if (Status s = deleteCurrentRecord(context); !s) return s;
                        if (Status s = insertThreadRecord(context, key.data(), thread); !s) return s;
                    }
                }
            }
        }
        if (oldStar == std::string_view::npos || newStar == std::string::npos) break;
    }
    return Status::ok();
}

Result<int> SwapForks(Session& session, std::string_view name, NameMatch match) {
    VolumeState& volume = session.volume;
    if (!findCatalogRecord(volume, name, want::kFile, session.dir.currentDirID, match)) {
        if (!volume.catalog.fault.empty()) return Fault{volume.catalog.fault};
        return 1;
    }
    BTreeFile& tree = volume.catalog;
    uint8_t* key = tree.node.data() + nodeRecordOffset(tree.node.data(), tree.recordIndex);
    uint8_t* data = key + recordDataOffset(key);
    // Forks whose extents go on in the extents tree would need those records re-keyed too; such
    // files are left alone.
    auto wholeInRecord = [&](size_t physical, size_t extents) {
        uint32_t blocks = 0;
        for (size_t i = 0; i < 3; ++i) blocks += loadBE16(data + extents + 4 * i + 2);
        return loadBE32(data + physical) == blocks * volume.allocBlockSize;
    };
    if (!wholeInRecord(catrec::kRsrcPhysical, catrec::kRsrcExtents)) return 2;
    if (!wholeInRecord(catrec::kDataPhysical, catrec::kDataExtents)) return 3;
    std::swap_ranges(data + catrec::kDataExtents, data + catrec::kDataExtents + kExtentRecordSize, data + catrec::kRsrcExtents);
    std::swap_ranges(data + kDataFirstBlock, data + kDataFirstBlock + kForkGroupSize, data + kRsrcFirstBlock);
    beginVolumeChange(volume);
    if (Status s = writeCatalogNode(tree); !s) return Fault{s.fault()};
    return 0;
}

namespace {

// A date as typed, "1995-03-01" or "1995-03-01T14:30" with ":ss" if wanted, as the Macintosh
// time of that wall clock (HFS keeps the wall-clock time, not UTC); nothing for any other text
// or a date outside 1904 to 2040.
std::optional<uint32_t> macTimeOf(const std::string& text) {
    // The digits and separators of "YYYY-MM-DDThh:mm:ss", of which the time may be left out
    // whole or from its seconds on.
    static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd";
    if (text.size() != 10 && text.size() != 16 && text.size() != 19) return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i)
        if (kShape[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != kShape[i]) return std::nullopt;
    auto number = [&](size_t at, size_t digits) { return std::stoi(text.substr(at, digits)); };
    std::tm t{};
    t.tm_year = number(0, 4);
    t.tm_mon = number(5, 2);
    t.tm_mday = number(8, 2);
    if (text.size() > 10) {
        t.tm_hour = number(11, 2);
        t.tm_min = number(14, 2);
    }
    if (text.size() > 16) t.tm_sec = number(17, 2);
    const std::tm typed = t;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    const int64_t seconds = static_cast<int64_t>(timegm(&t)) + kMacEpochOffset;
    // A day or an hour out of its range comes back moved to another date: refused.
    if (t.tm_year + 1900 != typed.tm_year || t.tm_mon + 1 != typed.tm_mon || t.tm_mday != typed.tm_mday ||
        t.tm_hour != typed.tm_hour || t.tm_min != typed.tm_min || t.tm_sec != typed.tm_sec || seconds < 0 || seconds > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(seconds);
}

}  // namespace

Result<bool> SetAttributes(Session& session, std::string_view name, const std::vector<std::string>& settings, NameMatch match) {
    VolumeState& volume = session.volume;
    if (!findCatalogRecord(volume, name, want::kAny, session.dir.currentDirID, match)) {
        if (!volume.catalog.fault.empty()) return Fault{volume.catalog.fault};
        session.ui.showMessageBox("SETATTR: no file or folder matches " + ansi(std::string(name)) + ".");
        return false;
    }
    BTreeFile& tree = volume.catalog;
    uint8_t* key = tree.node.data() + nodeRecordOffset(tree.node.data(), tree.recordIndex);
    uint8_t* data = key + recordDataOffset(key);
    const bool file = data[0] == catrec::kFile;
    // Every setting is read before anything changes, so that a bad one leaves the record whole.
    std::array<uint8_t, catrec::kFileSize> changed{};
    std::copy_n(data, file ? catrec::kFileSize : catrec::kFolderSize, changed.begin());
    auto refuse = [&](const std::string& why) {
        session.ui.showMessageBox("SETATTR " + ansi(keyName(key)) + ": " + why + "; nothing is changed.");
        return false;
    };
    if (settings.empty()) return refuse("no setting given (type=, creator=, created=, modified=, locked=)");
    for (const std::string& setting : settings) {
        const size_t eq = setting.find('=');
        const std::string field = setting.substr(0, eq), value = eq == std::string::npos ? "" : setting.substr(eq + 1);
        if (field == "type" || field == "creator") {
            if (!file) return refuse("a folder has no " + field);
            const std::string code = TranslateName(value, AnsiToMac);
            if (eq == std::string::npos || code.size() != 4 || value.size() != 4) return refuse(field + " takes four characters: " + setting);
            std::copy_n(code.begin(), 4, changed.begin() + static_cast<long>(field == "type" ? catrec::kFileType : catrec::kFileCreator));
        } else if (field == "created" || field == "modified") {
            const std::optional<uint32_t> at = macTimeOf(value);
            if (!at) return refuse(field + " takes a date as 1995-03-01 or 1995-03-01T14:30:00: " + setting);
            const size_t offset = file ? (field == "created" ? catrec::kFileCreated : catrec::kFileModified)
                                       : (field == "created" ? catrec::kDirCreated : catrec::kDirModified);
            storeBE32(changed.data() + offset, *at);
        } else if (field == "locked") {
            if (!file) return refuse("a folder is not locked");
            if (value != "0" && value != "1") return refuse("locked takes 0 or 1: " + setting);
            changed[catrec::kFileFlags] = static_cast<uint8_t>(value == "1" ? changed[catrec::kFileFlags] | catrec::kFileLocked
                                                                             : changed[catrec::kFileFlags] & ~catrec::kFileLocked);
        } else {
            return refuse("no such setting: " + setting);
        }
    }
    std::string line = "*setattr " + ansi(keyName(key));
    for (const std::string& setting : settings) line += " " + setting;
    logLine(session, line);
    std::copy_n(changed.begin(), file ? catrec::kFileSize : catrec::kFolderSize, data);
    beginVolumeChange(volume);
    if (Status s = writeCatalogNode(tree); !s) return Fault{s.fault()};
    return true;
}

bool ApplyVolumeChange(Session& session, const std::function<Status()>& steps, std::string* stepFault) {
    // Only HFS is changed; a volume of another format refuses before anything is read for the
    // change, let alone written. What follows works on the HFS volume itself.
    if (Status may = session.mounted ? session.mounted->mayChange() : Status::ok();
        !may || (session.mounted && session.mounted->format() != VolumeFormat::Hfs)) {
        session.ui.showMessageBox(may ? refuseChangeOf(session.mounted->format()).fault() : may.fault());
        return false;
    }
    // A change made on a tree that is known to be damaged would be built on records that cannot
    // be trusted, and could spread the damage to what is still sound: such a volume is never
    // changed, whether the damage was met before the command or by its own steps.
    auto refuseDamaged = [&](const std::string& damage) {
        session.ui.showMessageBox(std::string(messageText(Msg::VolumeDamaged)) + " " + damage + "; it is not changed.");
        return false;
    };
    if (const std::string damage = firstVolumeDamage(session.volume); !damage.empty()) return refuseDamaged(damage);
    if (const std::string damage = treeExtentsDamage(session.volume); !damage.empty()) return refuseDamaged(damage);
    if (const std::string damage = layoutDamage(session.volume); !damage.empty()) return refuseDamaged(damage);
    // What lies past the end of an image cut short cannot be read, so neither can the records
    // and the bitmap a change would be built on.
    if (const std::string cut = imageCutShort(session.volume); !cut.empty()) {
        session.ui.showMessageBox(cut + " The volume is not changed.");
        return false;
    }
    const CurrentDirectory startedIn = session.dir;
    Status done = steps();
    if (const std::string damage = firstVolumeDamage(session.volume); !damage.empty()) {
        discardVolumeChange(session.volume);
        session.dir = startedIn;
        BuildFileList(session, nullptr);
        return refuseDamaged(damage);
    }
    if (!done) {
        discardVolumeChange(session.volume);
        session.dir = startedIn;
        BuildFileList(session, nullptr);
        if (stepFault) *stepFault = done.fault();
        else session.ui.showMessageBox(done.fault());
        return false;
    }
    Status written = flushVolume(session.volumeContext());
    session.ui.setStatusText(nullptr, nullptr);
    if (written) {
        if (session.listOnScreen) BuildFileList(session, nullptr);
        return true;
    }
    discardVolumeChange(session.volume);
    // The medium holds what it held before; the volume is read again from it, so that nothing
    // shown comes from the failed change.
    mountVolume(session);
    session.ui.showMessageBox(written.fault());
    return false;
}

}  // namespace quarry
