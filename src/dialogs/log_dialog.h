#pragma once
// The "Log File Management" dialog: the log file's name, and the buttons that create, open
// and close it. What a button does stays done when the dialog ends, by any of its ways.

#include <optional>
#include <string>
#include <string_view>

namespace quarry {

struct Session;

// The log dialog's Create ("w+b", emptying the file) and Open ("a+b", appending). A file that
// cannot be opened is a fatal error. False then.
bool CreateLogFile(Session& session);
bool OpenLogFile(Session& session);

// Opens the checksum manifest at path for the copies to come. A file there that is not a
// manifest is refused with a message, and false.
bool OpenChecksumManifest(Session& session, const std::string& path);
// What the log's closing record says of the manifest, " - manifest NAME: N files"; empty
// without one.
std::string ManifestClosingNote(const Session& session);
// Finishes the manifest and the log: the manifest is closed (a failure to do so is reported and
// counts as a failed copy), then the log gets its closing record, which names the manifest and
// the number of files in it, and is closed. At program end, and for the log dialog's Close
// while a manifest is kept.
void FinishLogAndManifest(Session& session);

namespace logdlg {
inline constexpr int kNameField = 147;
inline constexpr int kCreate = 144;
inline constexpr int kOpen = 145;
inline constexpr int kClose = 146;
// "Checksum manifest": a log created or opened keeps the manifest of its copies beside it.
inline constexpr int kManifest = 148;
// The Options menu item that opens the dialog; its check mark says whether a log is open.
inline constexpr int kLogFileItem = 131;
}  // namespace logdlg

class LogFileDialogModel {
public:
    // Shows the log's name; with a log open only Close is enabled, otherwise only Create and
    // Open are.
    explicit LogFileDialogModel(Session& session);

    // The text of the name field as shown.
    const std::string& nameText() const { return nameText_; }
    // The field as the person types in it (UTF-8).
    void setNameText(std::string_view utf8) { nameText_ = std::string(utf8); }

    bool createEnabled() const;
    bool openEnabled() const;
    bool closeEnabled() const;
    // The check box is ticked while the setting is on, and can change only while no log is open.
    bool manifestChecked() const;
    bool manifestEnabled() const;

    // Enter takes the field's first 12 characters as the log's name and keeps the dialog open;
    // an empty field gives back the name the log had.
    // Create empties or makes the file, Open appends to it (making it when missing), Close
    // closes it; they keep the dialog open too. Create and Open take the field first, as Enter
    // does, so the file they open is the one whose name the person sees. OK, Cancel, Esc and
    // the close box end the dialog with 0; so does a log that cannot be opened, which is a
    // fatal error that ends the program. Help opens "dlg_FLOG".
    // With "Checksum manifest" ticked, Create and Open first open the manifest beside the log
    // (its name with .sha256); when that is refused, with a message, no log is opened either.
    // Close then writes the log's closing record, which names the manifest, and closes both.
    std::optional<int> press(int control);

private:
    void takeName();

    Session& session_;
    std::string nameText_;
};

// After the dialog: the Log File menu item is checked exactly while a log is open.
void FinishLogFileCommand(Session& session);

}  // namespace quarry
