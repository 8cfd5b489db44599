#include "commands/put_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <optional>

#include "app/navigation.h"
#include "app/session.h"
#include "commands/volume_changes.h"
#include "common/charset.h"
#include "common/text.h"
#include "device/containers/fork_readers.h"
#include "copy/type_creator.h"
#include "hfs/btree.h"
#include "hfs/volume_edit.h"
#include "hfs/volume_recount.h"

namespace quarry {
namespace {

// Folders nest far less deeply in anything a person puts; deeper is a loop of bind mounts.
constexpr int kMaxPutDepth = 64;
constexpr size_t kBackedUp = 52;       // filBkDat
constexpr size_t kExtendedFinderInfo = 56;  // filFndrInfo (FXInfo)
constexpr size_t kDataFirstBlock = 24;      // filStBlk
constexpr size_t kRsrcFirstBlock = 34;      // filRStBlk
constexpr std::string_view kUnknownCode = "????";

std::string shown(const std::string& macName) { return macNameToUtf8(macName); }

void logLine(Session& session, const std::string& ansiText) {
    if (session.log.isOpen()) session.log.writeAnsi(ansiText + "\r\n");
}

std::string baseName(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// A PC name (UTF-8) in Macintosh characters: each character through the Windows set to the
// Macintosh set, '_' for one that neither holds.
std::string macCharactersOf(std::string_view utf8) {
    std::string mac;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const std::string ansi = utf8ToAnsi(utf8.substr(i, length));
        // ':' stays for legalMacName to say.
        const uint8_t c = ansi == ":" ? ':' : ansi.size() == 1 ? AnsiToMac[static_cast<uint8_t>(ansi[0])] : 0;
        mac.push_back(c >= 0x20 && c != 0x7F ? static_cast<char>(c) : '_');
        i += length;
    }
    return mac;
}

// A name the catalog takes: ':' (the Macintosh's path separator) as '/', as the Finder shows a
// PC's '/' the other way round, and at most 31 characters.
std::string legalMacName(std::string name) {
    std::replace(name.begin(), name.end(), ':', '/');
    if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
    return name.empty() ? std::string("Untitled") : name;
}

struct PcDates {
    uint32_t created = 0, modified = 0;
};

PcDates datesOf(const std::string& path, const struct stat& st) {
    PcDates dates{macTimeOf(st.st_mtime), macTimeOf(st.st_mtime)};
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME) != 0)
        dates.created = macTimeOf(static_cast<std::time_t>(sx.stx_btime.tv_sec));
    return dates;
}

// Type and creator from the PC name's extension, through the type/creator table read
// backwards: the first row of that extension.
void typeFromExtension(Session& session, const std::string& pcName, std::array<uint8_t, 16>& finderInfo) {
    std::memcpy(finderInfo.data(), kUnknownCode.data(), 4);
    std::memcpy(finderInfo.data() + 4, kUnknownCode.data(), 4);
    const size_t dot = pcName.rfind('.');
    if (dot == std::string::npos || dot == 0 || pcName.size() - dot - 1 != 3) return;
    std::string extension = pcName.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    LoadTypeCreatorFile(session.copy.types, session.ui);
    const int row = FindExtensionRow(session.copy.types, extension);
    if (row < 0) return;
    const TypeCreatorRow& found = session.copy.types.rows[static_cast<size_t>(row)];
    if (std::string_view(found.extension.data(), 3) != extension || found.typeCreator[0] == ' ') return;
    std::copy_n(found.typeCreator.begin(), 8, finderInfo.begin());
}

// What a PC file becomes: a form that holds a Macintosh file, or its bytes as a data fork.
Result<MacFileParts> partsOf(Session& session, const std::string& path, const struct stat& st) {
    const std::string name = baseName(path);
    const std::string folder = path.substr(0, path.size() - name.size());
    const PcDates dates = datesOf(path, st);
    // A form without dates (BinHex, an AppleDouble file without them) takes the PC file's.
    auto dated = [&](MacFileParts parts) {
        if (!parts.created) parts.created = dates.created;
        if (!parts.modified) parts.modified = dates.modified;
        return parts;
    };
    struct stat pair {};
    const std::string header = folder + "._" + name;
    if (stat(header.c_str(), &pair) == 0 && S_ISREG(pair.st_mode)) {
        Result<std::optional<MacFileParts>> doubled = ReadAppleDouble(path, header);
        if (!doubled) return Fault{doubled.fault()};
        if (*doubled) return dated(std::move(**doubled));
    }
    Result<std::optional<MacFileParts>> single = ReadMacFile(path);
    if (!single) return Fault{single.fault()};
    if (*single) return dated(std::move(**single));
    MacFileParts plain;
    typeFromExtension(session, name, plain.finderInfo);
    plain.data.path = path;
    plain.data.length = static_cast<uint64_t>(st.st_size);
    return dated(std::move(plain));
}

// Writes the fork's bytes into its blocks, the last block's rest as zeros. The blocks are free
// on the medium until the change is committed, so nothing that reads the volume sees them.
// Whole sectors go from the reader's chunk straight to the medium.
Status writeFork(Session& session, const ForkBytes& fork, const std::vector<BlockRun>& runs) {
    const VolumeState& volume = session.volume;
    const uint32_t blockSize = volume.allocBlockSize;
    size_t runIndex = 0;
    uint64_t inRun = 0;  // bytes of the current run written
    // Whole sectors at the fork's current place, run after run.
    auto put = [&](const uint8_t* bytes, size_t length) -> Status {
        while (length > 0) {
            if (runIndex >= runs.size()) return Fault{"PUT: the fork holds more bytes than its blocks"};
            const uint64_t runBytes = uint64_t{runs[runIndex].count} * blockSize;
            const auto take = static_cast<size_t>(std::min<uint64_t>(length, runBytes - inRun));
            const uint32_t sector = static_cast<uint32_t>(volume.firstBlockSector) + runs[runIndex].start * volume.sectorsPerBlock +
                                    static_cast<uint32_t>(inRun / kSectorSize);
            if (uint16_t status = WriteSectors(session.device, sector, static_cast<uint32_t>(take / kSectorSize), bytes); status != 0)
                return Fault{statusReason(status, sector, "write")};
            bytes += take;
            length -= take;
            inRun += take;
            if (inRun == runBytes) ++runIndex, inRun = 0;
        }
        return Status::ok();
    };
    std::vector<uint8_t> tail;  // the start of a sector that the next chunk goes on with
    Status read = ForEachForkChunk(fork, [&](const uint8_t* bytes, size_t length) -> Status {
        if (!tail.empty()) {
            const size_t fill = std::min(length, kSectorSize - tail.size());
            tail.insert(tail.end(), bytes, bytes + fill);
            bytes += fill;
            length -= fill;
            if (tail.size() < kSectorSize) return Status::ok();
            if (Status s = put(tail.data(), kSectorSize); !s) return s;
            tail.clear();
        }
        const size_t whole = length - length % kSectorSize;
        if (Status s = put(bytes, whole); !s) return s;
        tail.assign(bytes + whole, bytes + length);
        return Status::ok();
    });
    if (!read) return read;
    // The last sector and the rest of its block: zeros, so that nothing a deleted file left
    // there is read as part of this one.
    if (!tail.empty() || inRun % blockSize != 0) {
        tail.resize(blockSize - inRun % blockSize, 0);
        if (Status s = put(tail.data(), tail.size()); !s) return s;
    }
    return Status::ok();
}

// The steps of one file's change: blocks for both forks, the catalog record and any extents
// records, then the forks' bytes. `checkClaims`: first make sure that no damaged fork holds
// blocks the bitmap has free (once per change is enough: what the change adds is sound).
Status putFileSteps(Session& session, const MacFileParts& parts, const std::string& macName, bool checkClaims) {
    VolumeState& volume = session.volume;
    const VolumeContext context = session.volumeContext();
    if (Status s = loadVolumeBitmap(context); !s) return s;
    if (checkClaims) {
        Result<std::string> claimed = claimedFreeBlock(context);
        if (!claimed) return Fault{claimed.fault()};
        if (!claimed->empty()) {
            treeFault(volume.catalog, *claimed);
            return Fault{*claimed};
        }
    }
    const uint32_t blockSize = volume.allocBlockSize;
    auto blocksFor = [&](uint64_t bytes) { return static_cast<uint32_t>((bytes + blockSize - 1) / blockSize); };
    const Fault full{"The volume is full: " + shown(macName) + " does not fit; it is not put."};
    const uint64_t volumeBytes = uint64_t{volume.mdb16(mdb::kAllocBlocks)} * blockSize;
    if (parts.data.length > volumeBytes || parts.rsrc.length > volumeBytes) return full;
    std::optional<std::vector<BlockRun>> dataRuns = allocateForkBlocks(volume, blocksFor(parts.data.length));
    if (!dataRuns) return full;
    std::optional<std::vector<BlockRun>> rsrcRuns = allocateForkBlocks(volume, blocksFor(parts.rsrc.length));
    if (!rsrcRuns) return full;
    const uint32_t taken = blocksFor(parts.data.length) + blocksFor(parts.rsrc.length);
    storeBE16(volume.mdbCopy.data() + mdb::kFreeBlocks,
              static_cast<uint16_t>(volume.mdb16(mdb::kFreeBlocks) - std::min<uint32_t>(taken, volume.mdb16(mdb::kFreeBlocks))));

    std::array<uint8_t, catrec::kFileSize> record{};
    if (parts.locked) record[catrec::kFileFlags] = catrec::kFileLocked;
    std::copy(parts.finderInfo.begin(), parts.finderInfo.end(), record.begin() + catrec::kFinderInfo);
    std::copy(parts.extendedFinderInfo.begin(), parts.extendedFinderInfo.end(), record.begin() + kExtendedFinderInfo);
    const uint32_t now = macTimeNow();
    storeBE32(record.data() + catrec::kFileCreated, parts.created.value_or(now));
    storeBE32(record.data() + catrec::kFileModified, parts.modified.value_or(now));
    storeBE32(record.data() + kBackedUp, parts.backedUp.value_or(0));
    const struct {
        const std::vector<BlockRun>& runs;
        uint64_t length;
        size_t logical, physical, extents, firstBlock;
    } forks[] = {{*dataRuns, parts.data.length, catrec::kDataLength, catrec::kDataPhysical, catrec::kDataExtents, kDataFirstBlock},
                 {*rsrcRuns, parts.rsrc.length, catrec::kRsrcLength, catrec::kRsrcPhysical, catrec::kRsrcExtents, kRsrcFirstBlock}};
    for (const auto& fork : forks) {
        storeBE32(record.data() + fork.logical, static_cast<uint32_t>(fork.length));
        storeBE32(record.data() + fork.physical, blocksFor(fork.length) * blockSize);
        for (size_t i = 0; i < fork.runs.size() && i < 3; ++i) {
            storeBE16(record.data() + fork.extents + 4 * i, fork.runs[i].start);
            storeBE16(record.data() + fork.extents + 4 * i + 2, fork.runs[i].count);
        }
        if (!fork.runs.empty()) storeBE16(record.data() + fork.firstBlock, fork.runs[0].start);
    }
    Result<uint32_t> fileID = InsertFileRecord(session, macName, record.data());
    if (!fileID) return Fault{fileID.fault()};
    for (const auto& [fork, type] : {std::pair{&forks[0], kDataFork}, std::pair{&forks[1], kResourceFork}}) {
        uint32_t forkBlock = 0;
        for (size_t i = 0; i < fork->runs.size(); ++i) {
            if (i >= 3)
                if (Status s = addExtentRecord(context, fork->runs[i], *fileID, static_cast<uint16_t>(forkBlock), type); !s) return s;
            forkBlock += fork->runs[i].count;
        }
    }
    if (Status s = writeFork(session, parts.data, *dataRuns); !s) return s;
    return writeFork(session, parts.rsrc, *rsrcRuns);
}

// Puts PC paths, either all in one change (the fast way: one commit, whose cost is mostly the
// medium's syncs) or each file and folder in a change of its own. A step that fails in the one
// change drops all of it; the put is then made again a change at a time, so that every file
// before the one that failed is kept and the failure is said once.
class Putter {
public:
    Putter(Session& session, bool oneChange) : session_(session), oneChange_(oneChange) {}

    // False when the one change failed at a step: nothing of it was written then, and nothing
    // was said.
    bool putAll(const std::vector<std::string>& paths, const std::string& macName) {
        for (const std::string& path : paths) filesTotal_ += count(path, 0);
        auto steps = [&]() -> Status {
            for (const std::string& path : paths)
                if (Status s = put(path, paths.size() == 1 ? macName : std::string(), 0); !s) return s;
            return Status::ok();
        };
        if (!oneChange_) {
            (void)steps();
            return true;
        }
        std::string fault;
        if (!ApplyVolumeChange(session_, steps, &fault)) {
            if (!fault.empty()) return false;
            // Refused before any step ran (a damaged or read-only volume), and said.
            tally = PutTally{0, 0, filesTotal_, true};
            return true;
        }
        for (const std::string& line : logged_) logLine(session_, line);
        for (const std::string& text : said_) session_.ui.showMessageBox(text);
        for (const std::string& text : noticed_) session_.ui.notice(text);
        return true;
    }

    PutTally tally;

private:
    // A change of its own, or a part of the one change.
    Status change(const std::function<Status()>& steps) {
        if (oneChange_) return steps();
        if (ApplyVolumeChange(session_, steps)) return Status::ok();
        ++tally.refused;
        tally.stopped = true;
        return Status::ok();
    }

    // `known`: what lstat said of a path inside a put folder, which is no link.
    Status put(const std::string& path, const std::string& wantedName, int depth, const struct stat* known = nullptr) {
        if (tally.stopped) return Status::ok();
        struct stat st {};
        if (known) st = *known;
        else if (stat(path.c_str(), &st) != 0) return refuse(path, std::string(std::strerror(errno)));
        const std::string pcName = baseName(path);
        if (S_ISDIR(st.st_mode)) return putFolder(path, st, wantedName.empty() ? pcName : wantedName, depth);
        if (!S_ISREG(st.st_mode)) return refuse(path, "not a file or a folder");
        Result<MacFileParts> parts = partsOf(session_, path, st);
        if (!parts) return refuse(path, parts.fault());
        // The name the form carries, or the PC file's.
        const std::string asked = !wantedName.empty() ? macCharactersOf(wantedName)
                                  : !parts->macName.empty() ? parts->macName
                                                            : macCharactersOf(pcName);
        const std::string macName = nameFor(path, asked);
        if (nameTaken(macName)) return taken(path, macName);
        if (!session_.volume.catalog.fault.empty()) return Fault{session_.volume.catalog.fault};
        // A file the free blocks cannot hold is refused before anything of it is written; the
        // files before it stay, and nothing after it is put.
        if (Status s = loadVolumeBitmap(session_.volumeContext()); !s) return s;
        if (const std::string full = fullFor(*parts, macName); !full.empty()) {
            say(full);
            ++tally.refused;
            tally.stopped = true;
            return Status::ok();
        }
        session_.ui.stepWaitCursor();
        log("*put " + utf8ToAnsi(path) + "\t" + TranslateName(macName, MacToAnsi));
        const uint32_t refusedBefore = tally.refused;
        const bool checkClaims = !oneChange_ || !claimsChecked_;
        claimsChecked_ = true;
        if (Status s = change([&] { return putFileSteps(session_, *parts, macName, checkClaims); }); !s) return s;
        if (tally.refused != refusedBefore) return Status::ok();
        ++tally.files;
        ++filesDone_;
        session_.ui.paintProgressBar(filesTotal_ - std::min(filesDone_, filesTotal_), filesTotal_);
        if (session_.ui.escapeAbortRequested()) tally.stopped = true;
        return Status::ok();
    }

    // "The volume is full: ..." when the blocks free now cannot hold both forks.
    // The free blocks are counted in the bitmap once per change (the MDB's count may be one a cut
    // left behind), then less what each file takes.
    std::string fullFor(const MacFileParts& parts, const std::string& macName) {
        const VolumeState& volume = session_.volume;
        const uint32_t blockSize = volume.allocBlockSize;
        auto blocksFor = [&](uint64_t bytes) { return (bytes + blockSize - 1) / blockSize; };
        const uint64_t needed = blocksFor(parts.data.length) + blocksFor(parts.rsrc.length);
        if (!oneChange_ || !freeBlocks_) {
            freeBlocks_ = 0;
            for (uint32_t b = 0; b < volume.mdb16(mdb::kAllocBlocks); ++b) *freeBlocks_ += blockTaken(volume, b) ? 0 : 1;
        }
        const uint64_t free = *freeBlocks_;
        if (needed <= free) {
            *freeBlocks_ -= needed;
            return {};
        }
        return "The volume is full: " + shown(macName) + " needs " + std::to_string(needed) + " blocks of " + std::to_string(blockSize) +
               " bytes, the volume has " + std::to_string(free) + " free; it is not put.";
    }

    // Files to put under path, for the progress bar; links are not followed.
    uint32_t count(const std::string& path, int depth) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) return 0;
        if (!S_ISDIR(st.st_mode)) return 1;
        if (depth > kMaxPutDepth) return 0;
        uint32_t files = 0;
        for (const std::string& name : entriesOf(path)) {
            struct stat inner {};
            const std::string child = path + "/" + name;
            if (lstat(child.c_str(), &inner) == 0 && !S_ISLNK(inner.st_mode)) files += count(child, depth + 1);
        }
        return files;
    }

    // In the one change, what is logged and said waits until it is written: should it be
    // dropped, the put made again a change at a time logs and says it.
    void log(const std::string& line) {
        if (oneChange_) logged_.push_back(line);
        else logLine(session_, line);
    }

    void say(const std::string& text) {
        if (oneChange_) said_.push_back(text);
        else session_.ui.showMessageBox(text);
    }

    Status refuse(const std::string& path, const std::string& why) {
        ++tally.refused;
        say("PUT " + path + ": " + why + "; it is not put.");
        return Status::ok();
    }

    bool nameTaken(const std::string& macName) {
        return findCatalogRecord(session_.volume, macName, want::kAny, session_.dir.currentDirID, NameMatch::Exact) != nullptr;
    }

    Status taken(const std::string& path, const std::string& macName) {
        return refuse(path, "\"" + shown(macName) + "\" is in the folder already and is kept");
    }

    // The name legal on the volume, said when it is not the one asked for.
    std::string nameFor(const std::string& path, const std::string& asked) {
        const std::string legal = legalMacName(asked);
        if (legal != asked) {
            const std::string text = "PUT " + path + ": \"" + shown(asked) + "\" is named \"" + shown(legal) + "\" on the volume.";
            if (oneChange_) noticed_.push_back(text);
            else session_.ui.notice(text);
        }
        return legal;
    }

    // The names in a PC folder, in byte order, without "." and "..", and without the "._" file
    // of an AppleDouble pair whose data file is there: the pair is one Macintosh file.
    static std::vector<std::string> entriesOf(const std::string& path) {
        std::vector<std::string> names;
        DIR* dir = opendir(path.c_str());
        if (!dir) return names;
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        std::vector<std::string> kept;
        for (const std::string& name : names) {
            if (name.size() > 2 && name.compare(0, 2, "._") == 0 && std::binary_search(names.begin(), names.end(), name.substr(2)))
                continue;
            kept.push_back(name);
        }
        return kept;
    }

    Status putFolder(const std::string& path, const struct stat& st, const std::string& wantedName, int depth) {
        if (depth > kMaxPutDepth) return refuse(path, "folders nest deeper than " + std::to_string(kMaxPutDepth) + " levels");
        const std::string macName = nameFor(path, macCharactersOf(wantedName));
        if (nameTaken(macName)) return taken(path, macName);
        if (!session_.volume.catalog.fault.empty()) return Fault{session_.volume.catalog.fault};
        DIR* probe = opendir(path.c_str());
        if (!probe) return refuse(path, std::string(std::strerror(errno)));
        closedir(probe);
        const PcDates dates = datesOf(path, st);
        log("*put " + utf8ToAnsi(path) + "\t" + TranslateName(macName, MacToAnsi));
        const uint32_t refusedBefore = tally.refused;
        if (Status s = change([&]() -> Status {
                Result<uint32_t> id = InsertFolderRecord(session_, macName, dates.created, dates.modified);
                return id ? Status::ok() : Status(Fault{id.fault()});
            });
            !s)
            return s;
        if (tally.refused != refusedBefore) return Status::ok();
        ++tally.folders;
        if (!enterDirectory(session_, macName, NameMatch::Exact))
            return Fault{session_.volume.catalog.fault.empty() ? "catalog: the new folder is not found" : session_.volume.catalog.fault};
        for (const std::string& name : entriesOf(path)) {
            if (tally.stopped) break;
            const std::string child = path + "/" + name;
            struct stat inner {};
            Status s = Status::ok();
            if (lstat(child.c_str(), &inner) != 0) s = refuse(child, std::strerror(errno));
            // A link inside a folder may lead back up it; only what is in the folder goes.
            else if (S_ISLNK(inner.st_mode)) s = refuse(child, "a symbolic link");
            else s = put(child, {}, depth + 1, &inner);
            if (!s) return s;
        }
        changeToParent(session_);
        return Status::ok();
    }

    Session& session_;
    const bool oneChange_;
    bool claimsChecked_ = false;
    std::optional<uint64_t> freeBlocks_;
    uint32_t filesDone_ = 0;
    uint32_t filesTotal_ = 0;
    std::vector<std::string> logged_, said_, noticed_;
};

}  // namespace

PutTally PutPcPaths(Session& session, const std::vector<std::string>& pcPaths, const std::string& macName) {
    Putter together(session, true);
    PutTally tally;
    if (together.putAll(pcPaths, macName)) {
        tally = together.tally;
    } else {
        Putter oneByOne(session, false);
        oneByOne.putAll(pcPaths, macName);
        tally = oneByOne.tally;
    }
    session.ui.paintProgressBar(0, 0);
    BuildFileList(session, nullptr);
    return tally;
}

}  // namespace quarry
