#pragma once
// The main window's commands that change the volume: 111 New folder (Alt+N), 112 Delete (the
// context menu and Del), 113 Rename (the context menu), and PC files dropped on the window.
// Each one runs the write guard, asks its questions through the UI port and its names through
// the callback its front end passes, and takes its change to the medium in one
// ApplyVolumeChange (the drop as PUT makes them); the front end only shows the dialogs.
//
//     NewFolderCommand(session, states, [&] { return askInNewDirectoryDialog(); });

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quarry {

struct Session;
struct CommandStates;
struct VolumeEntry;

// The New Directory dialog: the name it proposes, the characters its field takes, and how many
// of them name the folder.
inline constexpr const char* kNewFolderProposal = "New folder";
inline constexpr size_t kNewFolderFieldLength = 39;
inline constexpr size_t kNewFolderNameLength = 31;
// The rename dialog's field holds a whole HFS name.
inline constexpr size_t kRenameFieldLength = 31;

// The text the person typed (UTF-8), or nothing for Cancel.
using AskFolderName = std::function<std::optional<std::string>()>;
// The same for one entry, shown its name as it stands (UTF-8).
using AskNewName = std::function<std::optional<std::string>(const std::string& oldName)>;

// Command 111: makes a folder of the typed name in the current folder.
void NewFolderCommand(Session& session, CommandStates& states, const AskFolderName& askName);
// Command 112: deletes the selected entries, folders with everything in them; more than one only
// once the person agrees.
void DeleteSelectionCommand(Session& session, CommandStates& states);
// Command 113: renames the selected entries one by one until the person cancels.
void RenameSelectionCommand(Session& session, CommandStates& states, const AskNewName& askName);

// What PC files and folders dropped on the main window are for. With no volume mounted, the
// first of them is opened as an image, read-only, as Open Image... opens one by default. On a
// volume that takes changes (AttributeSheetWritable) they are all put into the current folder,
// disk images too: the person opened that volume to change it, and Open Image... is there for
// an image meant to be opened. On any other volume (read-only, locked, of a format Quarry does
// not change) a single file that holds a Macintosh volume is opened, which is what someone who
// drops a disk image on a CD's listing wants; everything else goes to the put, whose write
// guard asks "Write-protected media." or refuses as it does for every other change.
enum class DropUse { OpenImage, PutFiles };
DropUse UseOfDrop(Session& session, const std::vector<std::string>& pcPaths);

// The drop that puts: the PC files and folders (UTF-8 paths) go into the current folder as PUT
// puts them (commands/put_files.h), after the write guard; the progress bar counts the
// files and Esc between two of them stops the rest once the person agrees.
void DropFilesCommand(Session& session, CommandStates& states, const std::vector<std::string>& pcPaths);

// The attribute sheet's Write button: enabled on a volume that a change may be written to (HFS,
// not locked, opened for writing).
bool AttributeSheetWritable(Session& session);
// Write: the sheet's fields as the person left them (control number to UTF-8 text) go to the
// file the sheet shows, in one change: a new name as a rename would write it, then the type,
// creator and dates whose fields changed, as SETATTR writes them. True when written (or when
// nothing changed); false once the reason was shown. `states` (may be null) is refreshed.
bool WriteAttributeSheet(Session& session, CommandStates* states, const VolumeEntry& file, const std::map<int, std::string>& typed);

}  // namespace quarry
