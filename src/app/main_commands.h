#pragma once
// The main-window commands that every front end runs the same way. Dialog commands (volume
// information, help, quit) belong to each front end.

namespace quarry {

struct Session;

// Runs command (a number of app/command_ids.h) when it is one of the shared commands; false
// when it is not.
bool RunMainCommand(Session& session, int command);

// Command 106: copies the selected entries to the PC.
void CopySelectionToPc(Session& session);
// Commands 121, 122, 123: the copy mode, with the menu's check marks.
void SetCopyModeCommand(Session& session, int command);

}  // namespace quarry
