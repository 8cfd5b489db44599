#include "app/navigation.h"

#include "app/session.h"
#include "common/charset.h"
#include "common/text.h"

namespace quarry {
namespace {

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

// The list is sized by 16-bit counts, as HFS keeps a folder's valence.
uint16_t valenceOf(const VolumeEntry& folder) { return static_cast<uint16_t>(std::min<uint32_t>(folder.valence, 0xFFFF)); }

bool unicodeNames(const Session& session) { return session.mounted && namesAreUnicode(session.mounted->format()); }

}  // namespace

std::string TypedName(const Session& session, std::string_view typed) {
    while (!typed.empty() && typed.back() == ' ') typed.remove_suffix(1);
    return unicodeNames(session) ? std::string(typed) : TranslateName(typed, AnsiToMac);
}

std::string TypedText(const Session& session, std::string_view utf8) {
    return unicodeNames(session) ? std::string(utf8) : utf8ToAnsi(utf8);
}

std::string TypedTextToUtf8(const Session& session, std::string_view typed) {
    return unicodeNames(session) ? std::string(typed) : ansiToUtf8(typed);
}

bool changeDirectory(Session& session, uint32_t parentID, std::string_view name, NameMatch match) {
    if (!session.mounted) return false;
    const std::optional<VolumeEntry> folder = session.mounted->findEntry(parentID, name, match, EntryKind::Folder);
    // The displayed name changes only with the folder: a failed lookup leaves both as they were.
    if (!folder) return false;
    session.dir.currentParentID = parentID;
    session.dir.currentDirID = folder->id;
    sizeListFor(session.settings.list, valenceOf(*folder));
    session.dir.currentName = folder->id == kRootDirId ? "Root  " : folder->macName + " ";
    return true;
}

bool enterDirectory(Session& session, std::string_view name, NameMatch match) {
    if (!session.mounted) return false;
    MountedVolume& volume = *session.mounted;
    const std::optional<VolumeEntry> folder = volume.findEntry(session.dir.currentDirID, name, match, EntryKind::Folder);
    if (!folder) return false;
    // The parent is the one the folder's own thread names, as changeToParent will go back by it.
    const std::optional<uint32_t> parent = volume.parentOf(folder->id);
    if (!parent) return false;
    session.dir.currentName = folder->macName;
    session.dir.currentDirID = folder->id;
    session.dir.currentParentID = *parent;

    FileList& list = session.settings.list;
    const uint16_t valence = valenceOf(*folder);
    if (valence > list.entryCapacity()) list.resize(valence);
    list.entryCount = valence;
    if (session.log.isOpen()) session.log.writeAnsi("*cd " + TranslateName(folder->macName, MacToAnsi) + "\r\n");
    return true;
}

bool changeToParent(Session& session) {
    if (!session.mounted) return false;
    const std::optional<VolumeEntry> parent = session.mounted->folderOfId(session.dir.currentParentID);
    const bool moved = parent && changeDirectory(session, parent->parentID, parent->key, NameMatch::Exact);
    if (session.log.isOpen()) session.log.write("*cd..\n");
    return moved;
}

bool changeToRoot(Session& session) {
    const bool moved = changeDirectory(session, kRootParentId, "*");
    if (session.log.isOpen()) session.log.write("*cd\\\n");
    return moved;
}

}  // namespace quarry
