#include "copy/copy_engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "copy/copy_context.h"
#include "copy/manifest.h"
#include "common/charset.h"
#include "common/messages.h"
#include "copy/fork_formats.h"
#include "copy/output_port.h"
#include "copy/pc_naming.h"
#include "common/work_file.h"

namespace quarry {
namespace {

// HFS's names are Macintosh Roman and go through the program's tables; a format whose names
// are Unicode gives its PC names from the Unicode name itself.
std::string_view unicodeNameOf(const CopyContext& context, const VolumeEntry& entry) {
    return context.volume().format() == VolumeFormat::Hfs ? std::string_view() : std::string_view(entry.name);
}

std::string leadingBlanksRemoved(const std::string& s) {
    const size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first);
}

// The folder's entries, copied out in catalog order. Collecting them first lets the copy of a
// subfolder move the catalog cursor freely. `whole` turns false when the walk met a damaged
// catalog before the folder's last entry.
std::vector<VolumeEntry> folderEntries(const CopyContext& context, uint32_t dirID, const std::string* pattern,
                                       bool& whole, NameMatch match = NameMatch::Pattern) {
    std::vector<VolumeEntry> out;
    const bool single = pattern && (match == NameMatch::Exact || pattern->find('*') == std::string::npos);
    whole = context.volume().visitFolder(
        dirID,
        [&](const VolumeEntry& e) {
            out.push_back(e);
            return !single;
        },
        pattern ? std::string_view(*pattern) : std::string_view("*"), match);
    return out;
}

class SavedDirectory {
public:
    SavedDirectory() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~SavedDirectory() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool valid() const { return fd_ >= 0; }
    bool restore() const { return fd_ >= 0 && ::fchdir(fd_) == 0; }

private:
    int fd_;
};

// The PC directory a folder's copy fills, relative to the copy's target, for the time it is
// being filled.
class FolderPath {
public:
    FolderPath(std::string& path, const std::string& pcName) : path_(path), saved_(path.size()) { path_ += pcName + "/"; }
    ~FolderPath() { path_.resize(saved_); }
    FolderPath(const FolderPath&) = delete;
    FolderPath& operator=(const FolderPath&) = delete;

private:
    std::string& path_;
    size_t saved_;
};

bool copyAborted(const CopyContext& context) { return context.ending() || context.ui().escapeAbortRequested(); }

void timed(const CopyContext& context, const std::string& text) { context.ui().showTimedMessage(text); }

Status copyFork(const CopyContext& context, const VolumeEntry& file, ForkKind fork, ByteSink& sink,
                UnreadableSectors* zeroFill) {
    return context.volume().openFork(file, fork)->copyTo(sink, zeroFill);
}

// The volume's forks of file, for the format writers.
ForkCopier forkCopier(const CopyContext& context, const VolumeEntry& file, UnreadableSectors* zeroFill) {
    return [&context, &file, zeroFill](ForkKind fork, ByteSink& sink) { return copyFork(context, file, fork, sink, zeroFill); };
}

// Which of a copy's files is being written: the only one (or AppleDouble's data file), or
// AppleDouble's "._" file.
enum class Part { Main, Sidecar };

Status readForks(const CopyContext& context, ByteSink& sink, const VolumeEntry& file, uint16_t mode, Part part,
                 UnreadableSectors* zeroFill) {
    if (part == Part::Sidecar) return WriteAppleDoubleHeader(file, forkCopier(context, file, zeroFill), sink);
    if (mode & opt::kCopyMacBinary) return WriteBinaryCopy(context, sink, file, zeroFill);
    return copyFork(context, file, mode & opt::kCopyResource ? ForkKind::Resource : ForkKind::Data, sink, zeroFill);
}

// The forks the mode asks for, into sink. Sectors written as zeros are named, one message and
// one log line each, whether or not the copy then finishes.
Status copyForks(const CopyContext& context, ByteSink& sink, const VolumeEntry& file, uint16_t mode,
                 Part part = Part::Main) {
    if (context.settings.readErrors == ReadErrors::StopFile) return readForks(context, sink, file, mode, part, nullptr);
    UnreadableSectors zeroed;
    Status s = readForks(context, sink, file, mode, part, &zeroed);
    // A file finished with zeros is kept, but it is not a whole copy.
    if (!zeroed.sectors.empty()) ++context.state.failures;
    for (const uint32_t sector : zeroed.sectors) {
        const std::string text = std::string(messageText(Msg::SectorUnreadable)) + " sector " + std::to_string(sector) +
                                 " of \"" + file.name + "\"";
        if (context.log.isOpen()) context.log.write(text + "\r\n");
        timed(context, text);
    }
    return s;
}

// Closes the files of a copy: the one file, or AppleDouble's pair. This is the one place where a
// copy's files are finished: a copy that went wrong, or whose files cannot be closed, loses all
// of them, so that no copy looks whole that is not; one that went right has each file stamped
// with the Macintosh modification date and closed.
void finishPcFiles(const CopyContext& context, const VolumeEntry& file, PcFile& pc, const std::string& shown,
                   Status status) {
    const time_t stamp = MacDateToDosStamp(file.modified.wallClock());
    const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    std::pair<int*, const std::string*> files[] = {{&pc.fd, &pc.name}, {&pc.sidecarFd, &pc.sidecarName}};
    std::string closeFault;
    for (auto [fd, name] : files) {
        if (*fd < 0) continue;
        if (status) ::futimens(*fd, times);
        if (::close(*fd) != 0 && closeFault.empty())
            closeFault = (name == &pc.sidecarName ? "\"" + *name + "\": " : "") + std::strerror(errno);
        *fd = -1;
    }
    if (status && closeFault.empty()) {
        // Every file named in `pc` is now a finished copy on the PC.
        for (auto [fd, name] : files)
            if (!name->empty()) AddToManifest(context, *name);
        return;
    }
    // A file that could not be copied whole is not left behind looking like a copy.
    for (auto [fd, name] : files)
        if (!name->empty()) ::unlink(name->c_str());
    ++context.state.failures;
    timed(context, "Error copying \"" + shown + "\" to \"" + pc.name + "\": " + (status ? closeFault : status.fault()));
}

// The files a copy of `entries` will meet, subfolders included unless only files are copied.
// A damaged catalog could name a folder inside itself: each folder is counted once.
uint32_t filesToCopy(const CopyContext& context, const std::vector<VolumeEntry>& entries, std::set<uint32_t>& counted) {
    uint32_t files = 0;
    for (const VolumeEntry& e : entries) {
        if (!e.isFolder()) {
            ++files;
        } else if (!(context.settings.optionWord & opt::kFilesOnly) && counted.insert(e.id).second) {
            bool whole = true;
            files += filesToCopy(context, folderEntries(context, e.id, nullptr, whole), counted);
        }
    }
    return files;
}

// Tells the front end where the copy stands, before `file` (nullptr: after the last).
void tellProgress(const CopyContext& context, const VolumeEntry* file) {
    CopyState& state = context.state;
    if (!state.showingProgress) return;
    state.progress.current = file ? file->name : std::string();
    context.ui().copyProgress(state.progress);
}

// Puts a symbolic link to what `link` names where the copy's empty file `pc` stands, with the
// link's modification date.
void makePcLink(const CopyContext& context, const VolumeEntry& link, PcFile& pc, const std::string& shown) {
    ::close(pc.fd);
    pc.fd = -1;
    if (::unlink(pc.name.c_str()) != 0 || ::symlink(link.linkTarget.c_str(), pc.name.c_str()) != 0) {
        ++context.state.failures;
        timed(context, "Error copying \"" + shown + "\" to \"" + pc.name + "\": " + std::strerror(errno));
        return;
    }
    const time_t stamp = MacDateToDosStamp(link.modified.wallClock());
    const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ::utimensat(AT_FDCWD, pc.name.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

}  // namespace

bool SymbolicLinkStaysInside(std::string_view target, size_t depth) {
    // A path the PC cannot hold as a link (PATH_MAX) is kept as a file, whole.
    if (target.empty() || target.size() >= 4096 || target.front() == '/' || target.find('\0') != std::string_view::npos)
        return false;
    bool pastName = false;
    for (size_t start = 0; start <= target.size();) {
        const size_t end = std::min(target.find('/', start), target.size());
        const std::string_view part = target.substr(start, end - start);
        if (part == "..") {
            if (pastName || depth == 0) return false;
            --depth;
        } else if (!part.empty() && part != ".") {
            pastName = true;
        }
        start = end + 1;
    }
    return true;
}

Status WriteBinaryCopy(const CopyContext& context, ByteSink& sink, const VolumeEntry& file, UnreadableSectors* zeroFill) {
    const ForkCopier forks = forkCopier(context, file, zeroFill);
    switch (context.settings.binaryFormat) {
        case BinaryFormat::AppleSingle: return WriteAppleSingle(file, forks, sink);
        case BinaryFormat::BinHex: return WriteBinHex(file, forks, sink);
        // AppleDouble's data file is the plain data fork; CopyMacFile writes its "._" file.
        case BinaryFormat::AppleDouble:
            return copyFork(context, file, ForkKind::Data, sink, zeroFill);
        default: return WriteMacBinary(file, context.settings.binaryFormat, forks, sink);
    }
}

time_t MacDateToDosStamp(uint32_t macSeconds) {
    // The stored wall-clock time, read as this machine's local time, so that the PC shows the
    // file with the date and time the Macintosh showed.
    std::tm tm{};
    const time_t wall = static_cast<time_t>(int64_t{macSeconds} - int64_t{kMacEpochOffset});
    gmtime_r(&wall, &tm);
    tm.tm_isdst = -1;
    return mktime(&tm);
}

bool MakePcDirectory(const CopyContext& context, std::string& name, std::string_view unicodeName) {
    name = PcDirectoryNameFor(context, name, unicodeName);
    if (::mkdir(name.c_str(), 0755) != 0 && errno != EEXIST) {
        timed(context, "Cannot create the directory \"" + name + "\": " + std::strerror(errno));
        return false;
    }
    // An existing directory is used unchanged; a link by that name is not followed, so nothing
    // is written outside the target.
    const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || ::fchdir(fd) != 0) {
        timed(context, "Cannot enter the directory \"" + name + "\": " + std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

uint16_t CopyMacFile(const CopyContext& context, const VolumeEntry& file) {
    const uint64_t data = file.data.logical;
    const uint64_t rsrc = file.rsrc.logical;
    tellProgress(context, &file);
    struct Done {
        CopyProgress& progress;
        uint64_t bytes;
        ~Done() {
            ++progress.filesDone;
            progress.bytesDone += bytes;
        }
    } done{context.state.progress, data + rsrc};
    const uint16_t mode = context.settings.optionWord & opt::kCopyModeMask;
    const int port = context.settings.destinationSetting >> 8;
    if (port == 0 && !HasFreeSpace(".", data + rsrc)) {
        ++context.state.failures;
        timed(context, "Not enough space on the volume.");
        return copyresult::kNothing;
    }
    const std::string shown = file.name;
    if (!(mode & (opt::kCopyResource | opt::kCopyMacBinary)) && data == 0) {
        timed(context, "File " + shown + " has no data fork.");
        return copyresult::kDone;
    }
    if ((mode & opt::kCopyResource) && !(mode & opt::kCopyMacBinary) && rsrc == 0) {
        timed(context, "File " + shown + " has no resources fork.");
        return copyresult::kDone;
    }

    const BinaryFormat format = context.settings.binaryFormat;
    const bool binary = (mode & opt::kCopyMacBinary) != 0;
    const bool pair = binary && WritesPair(format);

    if (port != 0) {
        if (pair) {
            ++context.state.failures;
            timed(context, "File " + shown + " not sent to " + OutputPortNames[static_cast<size_t>(port)] + ": " +
                               std::string(BinaryFormatTitle(format)) + " writes two files, a port carries one.");
            return copyresult::kDone;
        }
        const int fd = OpenOutputPort(context, port);
        if (fd < 0) {
            ++context.state.failures;
            return copyresult::kAborted;
        }
        FdSink sink(fd);
        Status s = copyForks(context, sink, file, mode);
        if (s && !sink.flush()) s = Fault{"cannot write: " + sink.error()};
        if (!s) {
            ++context.state.failures;
            timed(context, "Error copying \"" + shown + "\": " + s.fault());
        }
        ::close(fd);
        return copyresult::kDone;
    }

    // A symbolic link copied as data becomes a link on the PC when it stays inside the copy's
    // target; one that leads out of it is never made: its copy is the file of the path it holds.
    const bool plainLink = file.kind == EntryKind::SymbolicLink && !(mode & (opt::kCopyResource | opt::kCopyMacBinary));
    const bool asLink =
        plainLink && SymbolicLinkStaysInside(file.linkTarget,
                                             std::count(context.state.pcFolder.begin(), context.state.pcFolder.end(), '/'));
    if (plainLink && !asLink) {
        const std::string text = "Symbolic link \"" + shown + "\" leads outside the copy, to \"" + file.linkTarget +
                                 "\": it is copied as a file holding that path.";
        if (context.log.isOpen()) context.log.write(text + "\r\n");
        timed(context, text);
    }

    PcNameForm form;
    form.unicodeName = unicodeNameOf(context, file);
    form.noTypeExtension = asLink;
    if (binary) {
        form.addedExtension = BinaryFormatExtension(format);
        if (pair) form.sidecarPrefix = kAppleDoublePrefix;
    }
    std::optional<PcFile> pc;
    if (context.settings.namingMode() == NamingMode::AskEachFile) {
        pc = AskPcFileName(context, file.macName, form);
    } else {
        std::string macName = file.macName;
        pc = MakePcFileName(context, macName, std::string_view(reinterpret_cast<const char*>(file.finderInfo.data()), 8), form);
    }
    if (!pc) return context.ending() ? copyresult::kAborted : copyresult::kDone;
    if (asLink) {
        makePcLink(context, file, *pc, shown);
        return copyresult::kDone;
    }

    FdSink sink(pc->fd);
    Status s = copyForks(context, sink, file, mode);
    if (s && !sink.flush()) s = Fault{"cannot write: " + sink.error()};
    if (s && pair) {
        FdSink sidecar(pc->sidecarFd);
        s = copyForks(context, sidecar, file, mode, Part::Sidecar);
        if (s && !sidecar.flush()) s = Fault{"cannot write: " + sidecar.error()};
    }
    finishPcFiles(context, file, *pc, shown, s);
    return copyresult::kDone;
}

uint16_t CopyMacFolder(const CopyContext& context, const VolumeEntry& folder) {
    const std::string shown = unicodeNameOf(context, folder).empty() ? macNameToUtf8(leadingBlanksRemoved(folder.macName))
                                                                      : folder.name;
    SavedDirectory parent;
    if (!parent.valid()) {
        ++context.state.failures;
        timed(context, std::string("Cannot open the current directory: ") + std::strerror(errno));
        return copyresult::kAborted;
    }
    std::string pcName = leadingBlanksRemoved(folder.macName);
    if (!MakePcDirectory(context, pcName, unicodeNameOf(context, folder))) {
        ++context.state.failures;
        return copyresult::kDone;
    }
    FolderPath within(context.state.pcFolder, pcName);
    if (context.log.isOpen()) context.log.write("Copying directory \"" + shown + "\" to \"" + pcName + "\"\r\n");

    uint16_t result = copyresult::kDone;
    bool whole = true;
    const std::vector<VolumeEntry> entries = folderEntries(context, folder.id, nullptr, whole);
    // The entries read before the damage are still copied; the message says which folder on the
    // PC lacks the rest, and why.
    if (!whole) {
        ++context.state.failures;
        const std::string text = std::string(messageText(Msg::FolderIncomplete)) + " \"" + shown + "\" (" +
                                 context.volume().lastFault() + ")";
        if (context.log.isOpen()) context.log.write(text + "\r\n");
        timed(context, text);
    }
    // An empty folder is copied as an empty directory; it is not an abort.
    for (const VolumeEntry& e : entries) {
        if (copyAborted(context)) {
            result = copyresult::kAborted;
            break;
        }
        if (e.isFolder()) {
            result = CopyMacFolder(context, e);
        } else {
            ++context.state.fileCounter;
            CopyMacFile(context, e);
        }
    }
    if (!parent.restore()) {
        context.fatal(std::string("Cannot return to the directory the copy started from: ") + std::strerror(errno));
        return copyresult::kAborted;
    }
    return result;
}

uint16_t CopyMacEntries(const CopyContext& context, uint32_t dirID, const std::string& pattern, NameMatch match) {
    bool whole = true;
    const std::vector<VolumeEntry> entries = folderEntries(context, dirID, &pattern, whole, match);
    if (entries.empty()) return copyresult::kNothing;
    CopyState& state = context.state;
    state.showingProgress = context.ui().wantsCopyProgress();
    state.progress = {};
    if (state.showingProgress) {
        std::set<uint32_t> counted;
        state.progress.filesFound = filesToCopy(context, entries, counted);
    }
    struct Last {
        const CopyContext& context;
        ~Last() {
            tellProgress(context, nullptr);
            context.state.showingProgress = false;
        }
    } last{context};
    uint16_t result = copyresult::kDone;
    for (const VolumeEntry& e : entries) {
        if (copyAborted(context)) return copyresult::kAborted;
        if (e.isFolder()) {
            if (context.settings.optionWord & opt::kFilesOnly) continue;
            result = CopyMacFolder(context, e);
        } else {
            ++context.state.fileCounter;
            CopyMacFile(context, e);
        }
    }
    return result;
}

}  // namespace quarry
