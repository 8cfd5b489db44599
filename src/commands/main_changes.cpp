#include "commands/main_changes.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <tuple>
#include <vector>

#include "app/file_list.h"
#include "app/main_window_model.h"
#include "app/session.h"
#include "commands/attributes.h"
#include "commands/put_files.h"
#include "commands/volume_changes.h"
#include "common/charset.h"
#include "common/messages.h"
#include "common/text.h"
#include "device/containers/open_image.h"
#include "device/partition_scan.h"
#include "hfs/volume_edit.h"
#include "volume/mounted_volume.h"

namespace quarry {
namespace {

// Del and Alt+N work without a menu item that could be greyed, so they arrive with no volume
// mounted too; there is nothing to change then.
bool volumeToChange(const Session& session) {
    return session.device.targetId != kNoSelection && session.mounted != nullptr;
}

// A typed name as the catalog holds it: UTF-8 to the Windows set, then to the Macintosh set.
std::string macNameOfTyped(const std::string& typed) {
    return TranslateName(utf8ToAnsi(leadingCharacters(typed, kRenameFieldLength)), AnsiToMac);
}

std::string shownName(const std::string& macName) { return ansiToUtf8(TranslateName(macName, MacToAnsi)); }

// Whether a PC file holds a volume of a Macintosh format, found by its content as the image
// adapter finds it (containers too), never by its name: a text file named "notes.img" is put.
bool fileHoldsMacintoshVolume(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) return false;
    Result<std::vector<OpenedImage>> opened = openImages(path, ImageAccess::ReadOnly);
    return opened && std::any_of(opened->begin(), opened->end(), [](OpenedImage& image) { return holdsMacintoshVolume(*image.source); });
}

}  // namespace

void NewFolderCommand(Session& session, CommandStates& states, const AskFolderName& askName) {
    if (!volumeToChange(session) || !WriteGuardAllows(session)) return;
    const std::optional<std::string> typed = askName();
    if (!typed) return;
    const std::string name = utf8ToAnsi(leadingCharacters(*typed, kNewFolderNameLength));
    ApplyVolumeChange(session, [&] { return MakeDirectory(session, name); });
    ShowCurrentFolder(session, states);
}

void DeleteSelectionCommand(Session& session, CommandStates& states) {
    if (!volumeToChange(session) || !WriteGuardAllows(session)) return;
    FileList& list = session.settings.list;
    const uint16_t count = CountSelectedEntries(list);
    if (count == 0) return;
    if (count > 1 && !session.ui.ask(messageText(Msg::DeleteSeveral), Question::OkCancel)) return;
    session.ui.stepWaitCursor();
    ApplyVolumeChange(session, [&]() -> Status {
        if (Status s = loadVolumeBitmap(session.volumeContext()); !s) return s;
        // The list stays as it was built while the catalog changes beneath it, so each entry
        // still names what the person selected. A "*" in a name is one of its characters.
        for (uint16_t i = NextSelectedEntry(list); i != kNoIndex; i = NextSelectedEntry(list)) {
            session.ui.stepWaitCursor();
            Result<DeleteOutcome> deleted = DeleteEntries(session, list.keyOf(i), NameMatch::Exact);
            if (!deleted) return Fault{deleted.fault()};
            // The person kept a folder that is not empty: the entries after it stay too.
            if (*deleted == DeleteOutcome::Cancelled) break;
        }
        return Status::ok();
    });
    ShowCurrentFolder(session, states);
}

void RenameSelectionCommand(Session& session, CommandStates& states, const AskNewName& askName) {
    if (!volumeToChange(session) || !WriteGuardAllows(session)) return;
    FileList& list = session.settings.list;
    ApplyVolumeChange(session, [&]() -> Status {
        bool confirmed = false;
        for (uint16_t i = NextSelectedEntry(list); i != kNoIndex; i = NextSelectedEntry(list)) {
            const std::string oldName = list.keyOf(i);
            const std::string shown = shownName(oldName);
            const std::optional<std::string> typed = askName(shown);
            if (!typed) break;
            confirmed = true;
            // A name left as shown stays as stored, even where the Windows set has no twin for
            // one of its characters.
            const std::string newName = *typed == shown ? oldName : macNameOfTyped(*typed);
            if (Status s = RenameEntries(session, oldName, newName, NameMatch::Exact); !s) return s;
        }
        if (confirmed) DeselectAll(session);
        return Status::ok();
    });
    ShowCurrentFolder(session, states);
}

DropUse UseOfDrop(Session& session, const std::vector<std::string>& pcPaths) {
    if (!volumeToChange(session)) return DropUse::OpenImage;
    if (AttributeSheetWritable(session)) return DropUse::PutFiles;
    return pcPaths.size() == 1 && fileHoldsMacintoshVolume(pcPaths.front()) ? DropUse::OpenImage : DropUse::PutFiles;
}

void DropFilesCommand(Session& session, CommandStates& states, const std::vector<std::string>& pcPaths) {
    if (!volumeToChange(session) || pcPaths.empty() || !WriteGuardAllows(session)) return;
    // Busy from here on: the keys the person presses are held back, and an Esc among them is
    // the put's to ask about between two files, not the main window's Exit.
    session.ui.stepWaitCursor();
    PutPcPaths(session, pcPaths);
    ShowCurrentFolder(session, states);
}

bool AttributeSheetWritable(Session& session) {
    if (!volumeToChange(session) || !session.mounted->mayChange() || session.mounted->format() != VolumeFormat::Hfs ||
        session.volume.locked())
        return false;
    return MediumTakesWrites(session);
}

bool WriteAttributeSheet(Session& session, CommandStates* states, const VolumeEntry& file, const std::map<int, std::string>& typed) {
    if (!volumeToChange(session) || !WriteGuardAllows(session)) return false;
    const FileAttributes shown = fileAttributesOf(file);
    auto field = [&](int control) {
        const auto it = typed.find(control);
        return it == typed.end() ? std::string() : it->second;
    };
    std::vector<std::string> settings;
    for (const auto& [control, name, was] : {std::tuple{attrctl::kType, "type", shown.type}, std::tuple{attrctl::kCreator, "creator", shown.creator}})
        if (field(control) != was) settings.push_back(std::string(name) + "=" + utf8ToAnsi(field(control)));
    // Day, month, years since 1900, hour, minute: a date whose fields changed is written to the
    // minute, as the sheet shows it.
    for (const auto& [first, name, was] :
         {std::tuple{attrctl::kCreatedFirst, "created", shown.created}, std::tuple{attrctl::kModifiedFirst, "modified", shown.modified}}) {
        std::array<long, 5> now{};
        bool changed = false, numbers = true;
        for (int i = 0; i < 5; ++i) {
            const std::string text = field(first + i);
            char* end = nullptr;
            now[i] = std::strtol(text.c_str(), &end, 10);
            numbers = numbers && !text.empty() && *end == '\0';
            changed = changed || text != std::to_string(was[i]);
        }
        if (!changed) continue;
        char iso[48];
        if (numbers) std::snprintf(iso, sizeof iso, "%04ld-%02ld-%02ldT%02ld:%02ld", now[2] + 1900, now[1], now[0], now[3], now[4]);
        else std::snprintf(iso, sizeof iso, "(not a number)");
        settings.push_back(std::string(name) + "=" + iso);
    }
    const bool renamed = field(attrctl::kName) != shown.name;
    if (!renamed && settings.empty()) return true;
    bool written = true;
    const bool applied = ApplyVolumeChange(session, [&]() -> Status {
        std::string name = file.key;
        if (renamed) {
            const std::string newName = macNameOfTyped(field(attrctl::kName));
            if (Status s = RenameEntries(session, name, newName, NameMatch::Exact); !s) return s;
            // A name another entry has is refused with its message, and nothing else is written.
            const std::optional<VolumeEntry> now = session.mounted->findEntry(session.dir.currentDirID, newName, NameMatch::Exact, EntryKind::File);
            if (!now || now->id != file.id) {
                written = false;
                return Status::ok();
            }
            name = newName;
        }
        if (settings.empty()) return Status::ok();
        Result<bool> set = SetAttributes(session, name, settings, NameMatch::Exact);
        if (!set) return Fault{set.fault()};
        written = *set;
        return Status::ok();
    });
    if (states) ShowCurrentFolder(session, *states);
    return applied && written;
}

}  // namespace quarry
