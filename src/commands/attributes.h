#pragma once
// The values of the two attribute dialogs of a file: "File Attributes" (DLG_ATTR) with its name,
// signatures, dates and fork lengths, and "For spelunking fans..." (DLG_ATT2) with its file
// number and the sectors of both forks' first extent records. The dialogs show; the first one's
// Write, enabled on a volume that may be changed, is commands/main_changes.h's.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "volume/mounted_volume.h"

namespace quarry {

struct Session;
class UiPort;

// Controls of both dialogs.
namespace attrctl {
inline constexpr int kOk = 101;               // DLG_ATT2
inline constexpr int kCreatedFirst = 118;     // day, month, year since 1900, hour, minute
inline constexpr int kModifiedFirst = 123;    // the same, 123..127
inline constexpr int kAdvanced = 130;
inline constexpr int kIdentification = 131;   // always disabled
inline constexpr int kHelp = 149;
inline constexpr int kName = 516;             // in both dialogs
inline constexpr int kDataLength = 536;
inline constexpr int kRsrcLength = 537;
inline constexpr int kCreator = 538;
inline constexpr int kType = 539;
inline constexpr int kWrite = 540;            // enabled only on a volume that may be changed
inline constexpr int kQuit = 541;             // the default button
inline constexpr int kFileNumber = 547;
inline constexpr int kDataExtents = 548;
inline constexpr int kRsrcExtents = 549;
// HFS+ only: the file's owner, group and mode, and a symbolic link's target.
inline constexpr int kOwner = 550;
inline constexpr int kGroup = 551;
inline constexpr int kMode = 552;
inline constexpr int kLinkTarget = 553;
}  // namespace attrctl

inline constexpr int kAttributeNameLimit = 31;

// The fixed texts of the two templates.
namespace attrtext {
inline constexpr const char* kTitle = "File Attributes";
inline constexpr const char* kAdvancedTitle = "For spelunking fans...";
inline constexpr const char* kName = "Name";
inline constexpr const char* kCreator = "Creator";
inline constexpr const char* kType = "Filetype";
inline constexpr const char* kCreated = "Creation Date";
inline constexpr const char* kModified = "Last Mod. Date";
inline constexpr const char* kDataLength = "Data fork";
inline constexpr const char* kRsrcLength = "Resource fork";
inline constexpr const char* kIdentification = "Identification";
inline constexpr const char* kAdvanced = "Advanced";
inline constexpr const char* kWrite = "Write";
inline constexpr const char* kQuit = "Quit";
inline constexpr const char* kFileName = "Filename";
inline constexpr const char* kFileNumber = "File #";
inline constexpr const char* kDataExtents = "Data extents";
inline constexpr const char* kRsrcExtents = "Ressource extents";  // spelt so on the sheet
inline constexpr const char* kOk = "OK";
inline constexpr const char* kOwner = "Owner";
inline constexpr const char* kGroup = "Group";
inline constexpr const char* kMode = "Mode";
inline constexpr const char* kLinkTarget = "Link to";
}  // namespace attrtext

// One control and the text it shows (UTF-8).
struct DialogField {
    int control;
    std::string text;
};

// One line of a sheet written out as text: the label beside a field and the text the field
// shows. The five fields of a date share the date's line, separated by spaces.
struct SheetLine {
    const char* label;
    std::string value;
};

// "File Attributes", template DLG_ATTR, help key "dlg_ATTR".
struct FileAttributes {
    std::string name;     // 516, at most 31 characters
    std::string creator;  // 538, the four bytes as stored
    std::string type;     // 539
    // Day, month (1-12), year since 1900, hour, minute: 118..122 and 123..127.
    std::array<uint32_t, 5> created{};
    std::array<uint32_t, 5> modified{};
    uint32_t dataLength = 0;  // 536, logical lengths
    uint32_t rsrcLength = 0;  // 537

    // The controls and their texts, in the dialog's order.
    std::vector<DialogField> fields() const;
    // The same texts under the dialog's labels, for a front end without a window.
    std::vector<SheetLine> sheet() const;
};

// "For spelunking fans...", template DLG_ATT2, help key "dlg_ATT2".
struct AdvancedAttributes {
    std::string name;         // 516
    uint32_t fileNumber = 0;  // 547
    // 548, 549: "start/count, ..." of the first extents, in 512-byte sectors: the three of an
    // HFS record, the eight of an HFS+ one.
    std::string dataExtents;
    std::string rsrcExtents;
    // 550-553, on HFS+ only: owner and group IDs, the mode in octal, a symbolic link's target.
    std::optional<PosixFields> posix;
    std::string linkTarget;

    std::vector<DialogField> fields() const;
    std::vector<SheetLine> sheet() const;
};

// The values of a file.
FileAttributes fileAttributesOf(const VolumeEntry& file);
// The extents are the first `extents` runs of each fork's allocated storage, placed from the
// sector of allocation block 0.
AdvancedAttributes advancedAttributesOf(const VolumeEntry& file, const std::vector<ForkRun>& dataRuns,
                                        const std::vector<ForkRun>& rsrcRuns, uint64_t firstBlockSector,
                                        size_t extents = 3);
AdvancedAttributes advancedAttributesOf(MountedVolume& volume, const VolumeEntry& file);

// How the dialogs end (controls and keys as in dialogs/dialog_controls.h). DLG_ATTR: Quit,
// Enter (Quit is the default button), Esc and the close box end it with 0; Help opens
// "dlg_ATTR"; Write and Identification are disabled and do nothing. "Advanced" (130) returns
// nothing here: the front end shows DLG_ATT2 for the same file and stays in DLG_ATTR.
std::optional<int> AttributesDialogPress(UiPort& ui, int control);
// DLG_ATT2: OK, Enter and Esc end it with 1, the close box with 0; Help opens "dlg_ATT2".
std::optional<int> AdvancedAttributesDialogPress(UiPort& ui, int control);

// Finds the file (files only) in the current folder and, when there is one, calls show with its
// values; a folder or a missing name shows nothing and says nothing. Always 0: the dialog can
// only be closed without writing. A name from the list is exact, "*" and all; a typed name is a
// pattern and shows the first file that matches it.
int ShowFileAttributes(Session& session, std::string_view name,
                       const std::function<void(const VolumeEntry&)>& show, NameMatch match = NameMatch::Exact);

}  // namespace quarry
