#include "dialogs/log_dialog.h"

#include <cerrno>
#include <cstring>

#include "app/session.h"
#include "common/log_file.h"
#include "copy/manifest.h"
#include "common/text.h"
#include "app/dialog_controls.h"

namespace quarry {
namespace {

bool openLog(Session& session, const char* mode) {
    if (session.log.isOpen()) return true;
    session.log.stream = std::fopen(session.log.name.c_str(), mode);
    if (!session.log.stream) {
        session.fatal("Error opening file:" + session.log.name + " (" + std::strerror(errno) + ")");
        return false;
    }
    return true;
}

}  // namespace

bool CreateLogFile(Session& session) { return openLog(session, "w+b"); }
bool OpenLogFile(Session& session) { return openLog(session, "a+b"); }

bool OpenChecksumManifest(Session& session, const std::string& path) {
    if (Status s = session.copy.manifest.open(path); !s) {
        session.ui.showMessageBox(s.fault());
        return false;
    }
    return true;
}

std::string ManifestClosingNote(const Session& session) {
    const ChecksumManifest& manifest = session.copy.manifest;
    if (manifest.name().empty()) return {};
    const uint32_t n = manifest.fileCount();
    return " - manifest " + manifest.name() + ": " + std::to_string(n) + (n == 1 ? " file" : " files");
}

void FinishLogAndManifest(Session& session) {
    ChecksumManifest& manifest = session.copy.manifest;
    const bool kept = manifest.isOpen();
    if (Status s = manifest.close(); !s) {
        ++session.copy.failures;
        session.ui.showTimedMessage(s.fault());
    }
    CloseLogAtExit(session.log, kept ? ManifestClosingNote(session) : std::string());
}

LogFileDialogModel::LogFileDialogModel(Session& session) : session_(session), nameText_(session.log.name) {}

bool LogFileDialogModel::createEnabled() const { return !session_.log.isOpen(); }
bool LogFileDialogModel::openEnabled() const { return !session_.log.isOpen(); }
bool LogFileDialogModel::closeEnabled() const { return session_.log.isOpen(); }
bool LogFileDialogModel::manifestChecked() const { return session_.settings.manifestWithLog; }
bool LogFileDialogModel::manifestEnabled() const { return !session_.log.isOpen(); }

void LogFileDialogModel::takeName() {
    // An empty field keeps the name the log had: no file has an empty name, and Create or Open
    // would otherwise fail, which ends the program.
    if (!nameText_.empty()) session_.log.name = leadingCharacters(nameText_, kLogFileNameMax);
    nameText_ = session_.log.name;
}

std::optional<int> LogFileDialogModel::press(int control) {
    switch (control) {
        case dlg::kEnter: takeName(); break;
        case logdlg::kCreate:
        case logdlg::kOpen:
            // A disabled button cannot be pressed; the log already open is kept as it is.
            if (session_.log.isOpen()) break;
            takeName();
            if (session_.settings.manifestWithLog && !OpenChecksumManifest(session_, ManifestNameForLog(session_.log.name)))
                break;
            if (!(control == logdlg::kCreate ? CreateLogFile(session_) : OpenLogFile(session_))) return 0;
            break;
        case logdlg::kClose:
            if (session_.copy.manifest.isOpen()) FinishLogAndManifest(session_);
            else CloseLogFile(session_.log);
            break;
        case logdlg::kManifest:
            if (!session_.log.isOpen()) session_.settings.manifestWithLog = !session_.settings.manifestWithLog;
            break;
        case dlg::kOk:
        case dlg::kCancel:
        case dlg::kEscape:
        case dlg::kSystemClose: return 0;
        case dlg::kHelp: session_.ui.openHelp("dlg_FLOG"); break;
        default: break;
    }
    return std::nullopt;
}

void FinishLogFileCommand(Session& session) { session.ui.setMenuCheck(logdlg::kLogFileItem, session.log.isOpen()); }

}  // namespace quarry
