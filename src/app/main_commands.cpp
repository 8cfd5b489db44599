#include "app/main_commands.h"

#include "app/command_ids.h"
#include "app/main_window_model.h"
#include "common/messages.h"
#include "app/session.h"
#include "copy/copy_engine.h"
#include "app/navigation.h"

namespace quarry {
namespace {

bool belowRoot(const Session& session) {
    return session.mounted && session.dir.currentDirID > kRootDirId;
}

}  // namespace

void SetCopyModeCommand(Session& session, int command) {
    const uint16_t mode = command == command::kResourceForkMode ? opt::kCopyResource
                          : command == command::kMacBinaryMode  ? opt::kCopyMacBinary
                                                                : opt::kCopyData;
    for (int c : {command::kDataForkMode, command::kResourceForkMode, command::kMacBinaryMode})
        session.ui.setMenuCheck(c, c == command);
    session.settings.setCopyMode(mode);
}

void CopySelectionToPc(Session& session) {
    FileList& list = session.settings.list;
    if (session.device.targetId == kNoSelection) {
        session.ui.showTimedMessage("Select drive in the 'Mac Drive' menu");
        return;
    }
    if (CountSelectedEntries(list) == 0) {
        session.ui.showTimedMessage(messageText(Msg::NoSelection));
        return;
    }
    if (session.log.isOpen()) session.log.write("Mac->PC\n");
    const bool toPort = session.settings.destinationSetting >= 0x100;
    if (!toPort && !session.settings.useCurrentDirectory && !session.ui.chooseTargetDirectory()) return;
    session.ui.stepWaitCursor();
    for (uint16_t i = NextSelectedEntry(list); i != kNoIndex; i = NextSelectedEntry(list)) {
        if (CopyMacEntries(session.copyContext(), session.dir.currentDirID, list.keyOf(i), NameMatch::Exact) != copyresult::kDone || session.ending) break;
    }
    session.ui.setStatusText("", nullptr);
    session.ui.invalidateListRow(255);
}

void OpenSelectedFolder(Session& session, CommandStates& states) {
    const FileList& list = session.settings.list;
    const uint16_t folder = NextSelectedFolder(list, kNoIndex);
    if (folder == kNoIndex) {
        // The copy command's text, shown on the status bar rather than in a box.
        session.ui.setStatusText(messageText(Msg::NoSelection), nullptr);
        return;
    }
    const std::string name = list.keyOf(folder);
    DeselectAll(session);
    enterDirectory(session, name, NameMatch::Exact);
    ShowCurrentFolder(session, states);
}

void ReturnToRoot(Session& session, CommandStates& states) {
    if (!belowRoot(session)) return;
    DeselectAll(session);
    changeToRoot(session);
    ShowCurrentFolder(session, states);
}

void ReturnToParent(Session& session, CommandStates& states) {
    if (!belowRoot(session)) return;
    DeselectAll(session);
    changeToParent(session);
    ShowCurrentFolder(session, states);
}

void ToggleUseCurrentDirectory(Session& session) {
    bool& use = session.settings.useCurrentDirectory;
    use = !use;
    session.ui.setMenuCheck(command::kUseCurrentDirectory, use);
}

bool RunMainCommand(Session& session, MainWindowModel& window, int command) {
    CommandStates& states = window.states;
    switch (command) {
        case command::kCopyToPc: CopySelectionToPc(session); break;
        case command::kOpenFolder: OpenSelectedFolder(session, states); break;
        case command::kRoot: ReturnToRoot(session, states); break;
        case command::kParent: ReturnToParent(session, states); break;
        case command::kDeselectAll:
            DeselectAll(session);
            RefreshCommandStates(session, states);
            break;
        case command::kSelectAll:
            SelectAll(session);
            RefreshCommandStates(session, states);
            break;
        case command::kInvertSelection:
            InvertSelection(session);
            RefreshCommandStates(session, states);
            break;
        case command::kNextScreen: NextScreen(session, states); break;
        case command::kPrecedingScreen: PrecedingScreen(session, states); break;
        case command::kFirstScreen: FirstScreen(session, states); break;
        case command::kDataForkMode:
        case command::kResourceForkMode:
        case command::kMacBinaryMode: SetCopyModeCommand(session, command); break;
        case command::kUseCurrentDirectory: ToggleUseCurrentDirectory(session); break;
        case command::kShortListing: SetListingMode(session, states, ListingMode::Short); break;
        case command::kExtendedListing: SetListingMode(session, states, ListingMode::Extended); break;
        case command::kSignatureListing: SetListingMode(session, states, ListingMode::Signature); break;
        default: return false;
    }
    UpdateCheckMarks(session, states);
    return true;
}

bool RunMainCommand(Session& session, int command) {
    MainWindowModel scratch;
    return RunMainCommand(session, scratch, command);
}

}  // namespace quarry
