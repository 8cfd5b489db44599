#pragma once
// The target-directory chooser, "Target Directory". Copies go to the process's current
// directory; the chooser moves that directory as the person walks the PC's directories and
// drives, so the copy engine simply creates its files where it stands. Leaving the dialog with
// Cancel does not move back: the directory reached stays current.
//
// On this platform a "drive" is a place where a person keeps files: the root file system, the
// home directory, and the file systems mounted under /media, /run/media and /mnt (removable
// media as the desktop mounts them, and what a person mounted by hand). Each drive's top is
// where choosing it leads and where " [:\]" returns; a drive remembers no current directory of
// its own. Paths show in POSIX form with a trailing '/', and names keep their case: on a
// case-sensitive file system "Archive" and "archive" are two directories.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

struct Session;

struct PcDrive {
    std::string mountPoint;  // absolute; "/" or without a trailing '/'
    std::string source;      // what is mounted there, such as /dev/sr0; empty for the home directory
};

// The drives in the order the chooser lists them: "/", the home directory, then the mount
// points under /media, /run/media and /mnt in name order, each once. mountTable is in the form
// of /proc/self/mounts.
std::vector<PcDrive> PcDrivesFromMountTable(std::string_view mountTable, const std::string& home);
// The drives of this computer, from /proc/self/mounts and the home directory.
std::vector<PcDrive> MountedPcDrives();

// The path as the chooser shows it after a move: whole up to 30 characters; otherwise the part
// up to its second '/', "...", and the rest from its third '/' on, or from its fourth when that
// form is longer than 34 characters and a name follows the fourth '/'. A path with too few
// '/' to shorten is shown whole.
std::string ShortenTargetPath(std::string_view path);

namespace target {
// Results of the moves.
inline constexpr int kMoved = 0;
inline constexpr int kDriveUnreadable = -1;  // "Error changing drive."
inline constexpr int kMacintoshDrive = -2;   // "It is the Macintosh drive !"
inline constexpr int kCannotEnter = -3;      // the directory refused to be entered
inline constexpr int kRefused = -4;          // a new directory's name was refused or not made

// Controls of the dialog.
inline constexpr int kConfirm = 113;
inline constexpr int kCreateNew = 503;
inline constexpr int kRootButton = 534;
inline constexpr int kParentButton = 535;

// The opening commands: a copy to the PC, or the Options menu's Destination Directory.
inline constexpr int kOpenedForCopy = 106;
inline constexpr int kOpenedFromMenu = 124;
// The Options menu item "Use Current Directory", checked by a confirmed Destination Directory.
inline constexpr int kUseCurrentDirectoryItem = 125;

// Moving down never makes a path of this many characters or more.
inline constexpr size_t kPathLimit = 148;
// The new-directory dialog proposes this name and takes at most this many characters.
inline constexpr const char* kNewDirectoryProposal = "DIR";
inline constexpr size_t kNewDirectoryNameMax = 39;
}  // namespace target

class TargetChooser {
public:
    using DriveLister = std::function<std::vector<PcDrive>()>;

    // openingCommand is target::kOpenedForCopy or target::kOpenedFromMenu. macintoshDevice is
    // the device that holds the Macintosh volume (a block device such as /dev/sr0); a drive
    // mounted from it cannot become the target. Empty when the volume comes from elsewhere.
    TargetChooser(Session& session, int openingCommand, DriveLister listDrives = MountedPcDrives,
                  std::string macintoshDevice = {});

    // The confirm button's caption: "Copy in current directory" before a copy, else "OK".
    const std::string& confirmCaption() const { return confirmCaption_; }
    // The target in full: the current directory with a trailing '/'; empty when the process's
    // current directory cannot be read (it was removed), until a drive is chosen.
    const std::string& targetPath() const { return targetPath_; }
    // The text of the "Path :" field: whole at opening and after " [:\]", shortened after the
    // other moves.
    const std::string& pathText() const { return pathText_; }
    // "Directories": "[..]" first except at "/", then "[" + name + "]" of every subdirectory.
    const std::vector<std::string>& directoryRows() const { return directoryRows_; }
    // "Drives": each mount point in POSIX form with a trailing '/'.
    std::vector<std::string> driveRows() const;
    // The row of the drive that holds the target, or -1.
    int currentDrive() const;

    // Moves into subdirectory name of the target, or to the parent for "..". Returns
    // target::kMoved (also when the path would grow to target::kPathLimit: nothing changes
    // then) or target::kCannotEnter. Shows nothing.
    int changeTarget(std::string_view name);
    // Moves to the top of drive index: kMoved, kMacintoshDrive or kDriveUnreadable. Shows nothing.
    int changeDrive(size_t index);

    // What the person does. Each returns the result of the move and shows the failures.
    int openDirectoryRow(size_t row);  // double-click in "Directories"
    int openDriveRow(size_t row);      // double-click in "Drives"
    int goToRoot();                    // " [:\]"
    int goToParent();                  // " [..]"
    // "Create new", once the new-directory dialog (proposing target::kNewDirectoryProposal)
    // has been confirmed with typedName: makes the directory in the target and enters it; an
    // existing directory of that name is entered. A name that would lead elsewhere ("/" in
    // it, "." or "..") is refused with a message and nothing is made.
    int createDirectory(std::string_view typedName);

    // A button or key: 113, OK (101) and Enter end with 1; Cancel, Esc and the close box with
    // 0; " [:\]" and " [..]" move; help opens "dlg_DEST". Nothing when the dialog stays open.
    // "Create new" is not handled here: it needs the new-directory dialog's answer.
    std::optional<int> press(int control);

private:
    void showFailure(int result, std::string_view name);
    void settle(bool shorten);
    void moved(bool shorten);
    void fillDirectoryRows();

    Session& session_;
    DriveLister listDrives_;
    std::string macintoshDevice_;
    std::string confirmCaption_;
    std::vector<PcDrive> drives_;
    std::string targetPath_;
    std::string pathText_;
    std::vector<std::string> directoryRows_;
    int lastErrno_ = 0;
};

// After the chooser that the Options menu opened: "Use Current Directory" is checked, and
// copies stop asking for a target, exactly when the chooser was confirmed.
void FinishDestinationDirectoryCommand(Session& session, int result);

}  // namespace quarry
