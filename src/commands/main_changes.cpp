#include "commands/main_changes.h"

#include "app/file_list.h"
#include "app/main_window_model.h"
#include "app/session.h"
#include "commands/volume_changes.h"
#include "common/charset.h"
#include "common/messages.h"
#include "common/text.h"
#include "hfs/volume_edit.h"

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

}  // namespace quarry
