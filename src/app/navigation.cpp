#include "app/navigation.h"

#include "app/session.h"
#include "common/charset.h"
#include "hfs/btree.h"

namespace quarry {
namespace {

std::string keyName(const uint8_t* key) {
    return std::string(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
}

// Sizes the list's array for a folder of valence entries.
void sizeListFor(FileList& list, uint16_t valence) {
    if (valence > list.entryCapacity()) {
        list.resize(valence);
        list.entryCount = valence;
    } else if (valence < kInitialListCapacity && list.entryCapacity() > kInitialListCapacity) {
        list.resize(kInitialListCapacity);
        list.entryCount = valence;
    }
}

}  // namespace

bool changeDirectory(Session& session, uint32_t parentID, std::string_view name, NameMatch match) {
    VolumeState& volume = session.volume;
    const uint8_t* nd = findCatalogRecord(volume, name, want::kFolder, parentID, match);
    // The displayed name changes only with the folder: a failed lookup leaves both as they were.
    if (!nd) return false;
    const uint8_t* key = currentRecordKey(volume.catalog);
    const uint8_t* data = recordData(key);
    session.dir.currentParentID = parentID;
    session.dir.currentDirID = loadBE32(data + catrec::kDirId);
    sizeListFor(session.settings.list, loadBE16(data + catrec::kValence));
    session.dir.currentName = session.dir.currentDirID == kRootDirId ? "Root  " : keyName(key) + " ";
    return true;
}

bool enterDirectory(Session& session, std::string_view name, NameMatch match) {
    VolumeState& volume = session.volume;
    if (!findCatalogRecord(volume, name, want::kFolder, session.dir.currentDirID, match)) return false;
    const uint8_t* key = currentRecordKey(volume.catalog);
    const uint8_t* data = recordData(key);
    const std::string storedName = keyName(key);
    const uint32_t dirID = loadBE32(data + catrec::kDirId);
    const uint16_t valence = loadBE16(data + catrec::kValence);

    if (!findCatalogRecord(volume, "*", want::kThread, dirID)) return false;
    const uint8_t* thread = recordData(currentRecordKey(volume.catalog));
    session.dir.currentName = storedName;
    session.dir.currentDirID = dirID;
    session.dir.currentParentID = loadBE32(thread + catrec::kThreadParentId);

    FileList& list = session.settings.list;
    if (valence > list.entryCapacity()) list.resize(valence);
    list.entryCount = valence;
    if (session.log.isOpen()) session.log.writeAnsi("*cd " + TranslateName(storedName, MacToAnsi) + "\r\n");
    return true;
}

bool changeToParent(Session& session) {
    VolumeState& volume = session.volume;
    if (!findCatalogRecord(volume, "*", want::kThread, session.dir.currentParentID)) return false;
    const uint8_t* thread = recordData(currentRecordKey(volume.catalog));
    const uint32_t grandparent = loadBE32(thread + catrec::kThreadParentId);
    const uint8_t* nameField = thread + catrec::kThreadName;
    const std::string parentName(reinterpret_cast<const char*>(nameField + 1), std::min<size_t>(nameField[0], kMaxNameLength));
    const bool moved = changeDirectory(session, grandparent, parentName, NameMatch::Exact);
    if (session.log.isOpen()) session.log.write("*cd..\n");
    return moved;
}

bool changeToRoot(Session& session) {
    const bool moved = changeDirectory(session, kRootParentId, "*");
    if (session.log.isOpen()) session.log.write("*cd\\\n");
    return moved;
}

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

}  // namespace quarry
