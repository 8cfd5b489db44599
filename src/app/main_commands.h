#pragma once
// The main-window commands that are logic only, the same in every front end. Commands that open
// a dialog (101, 104, 105, 114, 115, 124, 126, 127, 129, 131, 132, 143) belong to each front end,
// and the commands that write to the volume (111, 112, 113) need the names a front end asks for
// (commands/main_changes.h); RunMainCommand declines them.

namespace quarry {

struct Session;
struct CommandStates;
struct MainWindowModel;

// Runs command (a number of app/command_ids.h) when it is one of the shared commands, keeping
// the window's menu states; false when it is not one of them.
bool RunMainCommand(Session& session, MainWindowModel& window, int command);
// The same for a front end without menus (quarry-cli): the menu states are not kept.
bool RunMainCommand(Session& session, int command);

// Command 106: copies the selected entries to the PC.
void CopySelectionToPc(Session& session);
// Commands 121, 122, 123: the copy mode, with the menu's check marks.
void SetCopyModeCommand(Session& session, int command);
// Command 108: opens the first selected folder.
void OpenSelectedFolder(Session& session, CommandStates& states);
// Commands 109 and 110; nothing in the root or without a mounted volume.
void ReturnToRoot(Session& session, CommandStates& states);
void ReturnToParent(Session& session, CommandStates& states);
// Command 125: copies go to the current directory without asking for a target, or not.
void ToggleUseCurrentDirectory(Session& session);

}  // namespace quarry
