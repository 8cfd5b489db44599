#pragma once
// The commands that change a writable volume, in the current folder: make a folder, delete
// entries (folders with everything in them), rename entries, swap a file's forks. Names are in
// the Macintosh character set. Each command leaves its change open; CommitVolumeChange takes it
// to the medium, and a command that fails half-way is abandoned whole (AbandonVolumeChange), so
// the medium only ever receives a complete change.
//
//     if (WriteGuardAllows(session))
//         ApplyVolumeChange(session, [&] { return MakeDirectory(session, "New folder"); });

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "volume/volume_entry.h"

namespace quarry {

struct Session;

// Before a changing command: refuses media with 1024-byte sectors, and asks "Write-protected
// media." when the medium refuses writes. False when the command is not to run.
bool WriteGuardAllows(Session& session);

// Creates a folder in the current folder. name is in the Windows character set, as typed: empty
// gives "New folder", otherwise every character after the first becomes lower case; an entry of
// that name already there is refused with a timed message (and Status ok: nothing changed).
Status MakeDirectory(Session& session, std::string name);

// The records of a new folder in the current folder, named macName (Macintosh characters, at
// most 31, no ':', free in the folder): the folder, its thread, the counts. Its catalog ID.
Result<uint32_t> InsertFolderRecord(Session& session, const std::string& macName, uint32_t created, uint32_t modified);
// A new file's record (102 bytes, everything but its type byte and ID filled in) in the
// current folder, named as InsertFolderRecord names; the counts. Its catalog ID, which the
// record holds then.
Result<uint32_t> InsertFileRecord(Session& session, const std::string& macName, uint8_t* record);

enum class DeleteOutcome { Done, Cancelled };
// Deletes the entry that matches name; with a "*" in a pattern, every matching entry. A folder
// that is not empty is deleted with everything in it once the person agrees.
Result<DeleteOutcome> DeleteEntries(Session& session, std::string_view name, NameMatch match = NameMatch::Pattern);

// Renames the first entry that matches oldName, or with "*" on both sides every match (ab* to
// xy* turns abcde into xycde). A new name that another entry has already is refused with a
// timed message.
Status RenameEntries(Session& session, std::string_view oldName, std::string_view newName,
                     NameMatch match = NameMatch::Pattern);

// Exchanges the data and resource forks of a file: 0 done, 1 no such file, 2 the resource fork
// and 3 the data fork continues past the three extents of its catalog record.
Result<int> SwapForks(Session& session, std::string_view name, NameMatch match = NameMatch::Pattern);

// Writes the settings given as "type=XXXX", "creator=XXXX", "created=DATE", "modified=DATE"
// (DATE as 1995-03-01 or 1995-03-01T14:30[:00], the wall-clock time the Macintosh keeps) and
// "locked=0|1" into the record of the first file or folder that matches name (a folder takes only
// the dates). True when written; a setting that cannot be read or does not fit the entry is
// said with a message box, and nothing is written.
Result<bool> SetAttributes(Session& session, std::string_view name, const std::vector<std::string>& settings,
                           NameMatch match = NameMatch::Pattern);
// True unless the medium says it is write-protected (asking nothing).
bool MediumTakesWrites(Session& session);

// Runs the steps of one changing command and takes the change they made to the medium. When a
// step fails, the change is dropped whole, the person is back in the folder the command started
// from and the fault is shown; when a write fails, the medium keeps what it held, the volume is
// mounted again and "The volume could not be written: ..." is shown. True when the change (or
// nothing, when the steps changed nothing) reached the medium. Given `stepFault`, the fault of a
// failed step is put there instead of shown (the change is dropped all the same).
bool ApplyVolumeChange(Session& session, const std::function<Status()>& steps, std::string* stepFault = nullptr);

}  // namespace quarry
