#include "dialogs/target_chooser.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/session.h"
#include "copy/pc_naming.h"
#include "app/dialog_controls.h"
#include "common/text.h"

namespace quarry {
namespace {

constexpr const char* kErrorChangingDrive = "Error changing drive.";
constexpr const char* kMacintoshDriveText = "It is the Macintosh drive !";

std::string currentDirectory() {
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) return buffer.c_str();
        // ERANGE asks for a bigger buffer; anything else (a removed directory) has no answer.
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string withTrailingSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir.push_back('/');
    return dir;
}

// True when path lies on the file system mounted at mountPoint (both without a trailing '/',
// except the root).
bool isUnder(std::string_view path, std::string_view mountPoint) {
    if (mountPoint == "/") return !path.empty() && path.front() == '/';
    return path == mountPoint || (path.size() > mountPoint.size() && path.substr(0, mountPoint.size()) == mountPoint &&
                                  path[mountPoint.size()] == '/');
}

// The mount table writes blanks, tabs, newlines and backslashes of a path as \ooo.
std::string decodeMountField(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                out.push_back(static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool isRemovableMountPoint(std::string_view mountPoint) {
    for (std::string_view base : {"/media", "/run/media", "/mnt"})
        if (mountPoint != base && isUnder(mountPoint, base)) return true;
    return false;
}

// Whether a drive's mounted source is the device that holds the Macintosh volume: the same
// block device (however it is named), else the same file.
bool isSameDevice(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return a == b;
    if (S_ISBLK(sa.st_mode) && S_ISBLK(sb.st_mode)) return sa.st_rdev == sb.st_rdev;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Directories listed as a person looks for them: letters without regard to case, and names
// that differ only in case in a fixed order.
bool lessIgnoringCase(const std::string& a, const std::string& b) {
    auto folded = [](const std::string& s) {
        std::string f = s;
        for (char& c : f)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        return f;
    };
    const std::string fa = folded(a), fb = folded(b);
    return fa != fb ? fa < fb : a < b;
}

std::string trimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::vector<PcDrive> PcDrivesFromMountTable(std::string_view mountTable, const std::string& home) {
    std::vector<PcDrive> drives{{"/", ""}};
    std::vector<PcDrive> removable;
    std::istringstream lines{std::string(mountTable)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string source, mountPoint;
        if (!(fields >> source >> mountPoint)) continue;
        mountPoint = withoutTrailingSlashes(decodeMountField(mountPoint));
        // A later mount at the same place hides the earlier one, so its source is the one that
        // counts.
        if (mountPoint == "/") {
            drives.front().source = decodeMountField(source);
        } else if (isRemovableMountPoint(mountPoint)) {
            removable.push_back({mountPoint, decodeMountField(source)});
        }
    }
    const std::string homeDir = withoutTrailingSlashes(home);
    if (!homeDir.empty() && homeDir.front() == '/' && homeDir != "/") drives.push_back({homeDir, ""});
    std::stable_sort(removable.begin(), removable.end(),
                     [](const PcDrive& a, const PcDrive& b) { return a.mountPoint < b.mountPoint; });
    for (const PcDrive& drive : removable) {
        auto same = std::find_if(drives.begin(), drives.end(),
                                 [&](const PcDrive& d) { return d.mountPoint == drive.mountPoint; });
        if (same == drives.end()) drives.push_back(drive);
        else same->source = drive.source;
    }
    return drives;
}

std::vector<PcDrive> MountedPcDrives() {
    std::ifstream in("/proc/self/mounts");
    std::stringstream table;
    table << in.rdbuf();
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) home = env;
    else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
    return PcDrivesFromMountTable(table.str(), home);
}

std::string ShortenTargetPath(std::string_view path) {
    constexpr size_t kWhole = 30;
    constexpr size_t kShortened = 34;
    if (path.size() <= kWhole) return std::string(path);
    std::vector<size_t> slashes;
    for (size_t i = 0; i < path.size() && slashes.size() < 4; ++i)
        if (path[i] == '/') slashes.push_back(i);
    if (slashes.size() < 3) return std::string(path);
    const std::string head = std::string(path.substr(0, slashes[1] + 1)) + "...";
    std::string shortened = head + std::string(path.substr(slashes[2]));
    // The fourth '/' is taken only when a name follows it: when it is the path's last
    // character, cutting there would hide the very directory the target is.
    if (shortened.size() > kShortened && slashes.size() == 4 && slashes[3] + 1 < path.size())
        shortened = head + std::string(path.substr(slashes[3]));
    return shortened;
}

TargetChooser::TargetChooser(Session& session, int openingCommand, DriveLister listDrives, std::string macintoshDevice)
    : session_(session),
      listDrives_(std::move(listDrives)),
      macintoshDevice_(std::move(macintoshDevice)),
      confirmCaption_(openingCommand == target::kOpenedForCopy ? "Copy in current directory" : "OK") {
    settle(false);
}

void TargetChooser::moved(bool shorten) {
    settle(shorten);
    // Walking from one file system to another can change what names it takes, whether by a
    // drive or by a directory; the flag always describes the file system of the target, and
    // like the target it stays when the chooser is cancelled. The naming mode is the person's
    // choice and is left alone.
    session_.copy.longNamesAvailable = LongNamesAvailable(".");
}

void TargetChooser::settle(bool shorten) {
    targetPath_ = withTrailingSlash(currentDirectory());
    pathText_ = shorten ? ShortenTargetPath(targetPath_) : targetPath_;
    drives_ = listDrives_ ? listDrives_() : std::vector<PcDrive>{};
    fillDirectoryRows();
}

void TargetChooser::fillDirectoryRows() {
    directoryRows_.clear();
    if (targetPath_.empty()) return;
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(".")) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            bool isDirectory = entry->d_type == DT_DIR;
            // A link to a directory is a directory to the person who walks there.
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                isDirectory = ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            }
            if (isDirectory) names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), lessIgnoringCase);
    if (targetPath_ != "/") directoryRows_.push_back("[..]");
    for (const std::string& name : names) directoryRows_.push_back("[" + name + "]");
}

std::vector<std::string> TargetChooser::driveRows() const {
    std::vector<std::string> rows;
    for (const PcDrive& drive : drives_) rows.push_back(withTrailingSlash(drive.mountPoint));
    return rows;
}

int TargetChooser::currentDrive() const {
    const std::string path = withoutTrailingSlashes(targetPath_);
    int best = -1;
    for (size_t i = 0; i < drives_.size(); ++i) {
        if (!isUnder(path, drives_[i].mountPoint)) continue;
        if (best < 0 || drives_[i].mountPoint.size() > drives_[best].mountPoint.size()) best = static_cast<int>(i);
    }
    return best;
}

int TargetChooser::changeTarget(std::string_view name) {
    if (name != "..") {
        // Only the names of the list come here; a path would walk past it.
        if (name.empty() || name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
            lastErrno_ = ENOENT;
            return target::kCannotEnter;
        }
        const std::string base = withoutTrailingSlashes(targetPath_);
        const size_t baseLength = base == "/" ? 0 : base.size();
        if (baseLength + name.size() >= target::kPathLimit) {
            pathText_ = ShortenTargetPath(targetPath_);
            return target::kMoved;
        }
    }
    // The path shown is read back from the process after the move, never built ahead of it: a
    // directory that refuses to be entered leaves the shown target where the process is, and a
    // link's parent is the parent the process really reaches.
    if (::chdir(std::string(name).c_str()) != 0) {
        lastErrno_ = errno;
        return target::kCannotEnter;
    }
    moved(true);
    return target::kMoved;
}

int TargetChooser::changeDrive(size_t index) {
    if (index >= drives_.size()) return target::kDriveUnreadable;
    const PcDrive drive = drives_[index];
    if (isSameDevice(drive.source, macintoshDevice_)) return target::kMacintoshDrive;
    if (::chdir(drive.mountPoint.c_str()) != 0) {
        lastErrno_ = errno;
        return target::kDriveUnreadable;
    }
    moved(true);
    return target::kMoved;
}

void TargetChooser::showFailure(int result, std::string_view name) {
    switch (result) {
        case target::kDriveUnreadable: session_.ui.showTimedMessage(kErrorChangingDrive); break;
        case target::kMacintoshDrive: session_.ui.showTimedMessage(kMacintoshDriveText); break;
        case target::kCannotEnter:
            session_.ui.showTimedMessage("Cannot enter the directory \"" + std::string(name) +
                                         "\": " + std::strerror(lastErrno_) + ".");
            break;
        default: break;
    }
}

int TargetChooser::openDirectoryRow(size_t row) {
    if (row >= directoryRows_.size()) return target::kCannotEnter;
    const std::string& text = directoryRows_[row];
    const std::string name = text.substr(1, text.size() - 2);
    const int result = changeTarget(name);
    showFailure(result, name);
    return result;
}

int TargetChooser::openDriveRow(size_t row) {
    const int result = changeDrive(row);
    showFailure(result, {});
    return result;
}

int TargetChooser::goToRoot() {
    const int drive = currentDrive();
    if (drive < 0 || ::chdir(drives_[drive].mountPoint.c_str()) != 0) {
        showFailure(target::kDriveUnreadable, {});
        return target::kDriveUnreadable;
    }
    moved(false);
    return target::kMoved;
}

int TargetChooser::goToParent() {
    const int result = changeTarget("..");
    showFailure(result, "..");
    return result;
}

int TargetChooser::createDirectory(std::string_view typedName) {
    // Blanks at either end of a name are invisible in every listing, so they are dropped.
    const std::string name = trimBlanks(leadingCharacters(typedName, target::kNewDirectoryNameMax));
    auto refuse = [&](const std::string& text) {
        session_.ui.showMessageBox(text);
        return target::kRefused;
    };
    // The new directory is made in the target and nowhere else: a name that names another place
    // is refused, never followed.
    if (name.empty()) return refuse("Please type the name of the new directory.");
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
        return refuse("A directory name cannot contain \"/\".");
    if (name == "." || name == "..") return refuse("\"" + name + "\" cannot be the name of a new directory.");
    // Checked before anything is made, so a refused name never leaves behind a directory the
    // chooser did not enter.
    const std::string base = withoutTrailingSlashes(targetPath_);
    if ((base == "/" ? 0 : base.size()) + name.size() >= target::kPathLimit)
        return refuse("The path of the directory \"" + name + "\" would be too long.");
    if (::mkdir(name.c_str(), 0777) != 0 && errno != EEXIST)
        return refuse("The directory \"" + name + "\" cannot be created: " + std::strerror(errno) + ".");
    // An existing directory of that name is entered; an existing file is reported by the move.
    const int result = changeTarget(name);
    showFailure(result, name);
    return result;
}

std::optional<int> TargetChooser::press(int control) {
    switch (control) {
        case target::kConfirm:
        case dlg::kOk:
        case dlg::kEnter: return 1;
        case dlg::kCancel:
        case dlg::kEscape:
        case dlg::kSystemClose: return 0;
        case target::kRootButton: goToRoot(); break;
        case target::kParentButton: goToParent(); break;
        case dlg::kHelp: session_.ui.openHelp("dlg_DEST"); break;
        default: break;
    }
    return std::nullopt;
}

void FinishDestinationDirectoryCommand(Session& session, int result) {
    session.settings.useCurrentDirectory = result == 1;
    session.ui.setMenuCheck(target::kUseCurrentDirectoryItem, result == 1);
}

}  // namespace quarry
