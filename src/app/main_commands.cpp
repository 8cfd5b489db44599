#include "app/main_commands.h"

#include "app/command_ids.h"
#include "app/messages.h"
#include "app/session.h"
#include "copy/copy_engine.h"
#include "hfs/navigation.h"

namespace quarry {

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
        if (CopyMacEntries(session, list.entries[i].name()) != copyresult::kDone || session.ending) break;
    }
    session.ui.setStatusText("", nullptr);
    session.ui.invalidateListRow(255);
}

bool RunMainCommand(Session& session, int command) {
    switch (command) {
        case command::kCopyToPc: CopySelectionToPc(session); return true;
        case command::kDataForkMode:
        case command::kResourceForkMode:
        case command::kMacBinaryMode: SetCopyModeCommand(session, command); return true;
        default: return false;
    }
}

}  // namespace quarry
