// quarry-cli: the engine without a window. Runs command-language lines (DIR, CD, INFO …)
// against an image file or a drive, for scripts and batch extraction.
//
//   quarry-cli [options] SOURCE [LINE ...]
//
// With no LINE, lines are read from standard input, one per line.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "app/mount.h"
#include "app/command_ids.h"
#include "app/main_commands.h"
#include "app/navigation.h"
#include "copy/copy_engine.h"
#include "copy/fork_formats.h"
#include "copy/output_port.h"
#include "copy/pc_naming.h"
#include "common/messages.h"
#include "app/session.h"
#include "cli/cli_ui.h"
#include "cli/dfxml_report.h"
#include "cli/json_report.h"
#include "commands/attributes.h"
#include "commands/command_line.h"
#include "common/text.h"
#include "common/charset.h"
#include "device/drive_scan.h"
#include "device/containers/open_image.h"
#include "device/image_adapter.h"
#include "device/sg_adapter.h"
#include "dialogs/log_dialog.h"
#include "dialogs/volume_info.h"
#include "hfs/volume.h"
#include "hfs/volume_edit.h"
#include "hfs/volume_format.h"

namespace quarry::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitStopped = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: quarry-cli [options] SOURCE [LINE ...]\n"
    "\n"
    "Mounts the Macintosh HFS, HFS+, HFSX or MFS volume of SOURCE (an image file, a block device\n"
    "or a /dev/sg* drive) and runs each LINE of the command language as typed in the command-line dialog;\n"
    "with no LINE, lines are read from standard input.\n"
    "\n"
    "options:\n"
    "  --partition N         mount partition N of the medium's map (as fdisk or 7-Zip number\n"
    "                        them; default: the first HFS or HFS+ volume)\n"
    "  --member NAME         open member NAME of a zip archive of several images (without\n"
    "                        it such an archive's images are listed, and nothing is run)\n"
    "  --to DIR              copy into DIR, made with its parents when missing (default:\n"
    "                        the current directory)\n"
    "  --names long|short    PC names: long names, or 8.3 names (default: long where the\n"
    "                        target takes them)\n"
    "  --log FILE            create the log FILE (emptying it) before the first line\n"
    "  --append-log FILE     open the log FILE to append to it\n"
    "  --manifest FILE       write a checksum manifest: a line for each file copied, as\n"
    "                        `sha256sum -c` checks it from the target (replaces FILE only\n"
    "                        when it is empty or a manifest; the log's closing record\n"
    "                        names it with the number of files)\n"
    "  --port NAME[=DEVICE]  send copies to LPT1-LPT3 or COM1-COM4 (/dev/lp0-2,\n"
    "                        /dev/ttyS0-3 unless DEVICE is given) instead of files\n"
    "  --binary-format FORM  what COPY /B writes: mb1 (MacBinary I, the default), mb2 or\n"
    "                        mb3 (MacBinary II or III), appledouble (the data fork under the\n"
    "                        PC name and a \"._\" file beside it with the rest; not to a\n"
    "                        port), applesingle (one \".as\" file) or binhex (\".hqx\")\n"
    "  --keep-going          COPY writes zeros for a sector that cannot be read, names it\n"
    "                        on standard error and in the log, and finishes the file\n"
    "                        (default: the file's copy stops there and what was written\n"
    "                        of it is removed)\n"
    "  --yes                 answer questions with OK or Yes (default: Cancel or No)\n"
    "  --write               open SOURCE for writing, so that MD, RD, DEL, REN and SWAP\n"
    "                        can change it (without it they meet \"Write-protected\n"
    "                        media.\", which only --yes goes past, to a refused write)\n"
    "  --new-volume NAME --size SIZE\n"
    "                        make a new, empty HFS volume named NAME of SIZE (400k, 800k,\n"
    "                        1440k, 20M, up to 2G) in SOURCE, which must be a new or empty\n"
    "                        file, then open it for writing and run the lines\n"
    "  --mfs-folders         on an MFS volume, show the folders the Finder kept in its\n"
    "                        Desktop file (default: every file in the root)\n"
    "  --check               check the volume's structures instead of running lines: one\n"
    "                        line per problem on standard output, notes on standard\n"
    "                        error; exit status 0 when sound, 1 when problems were found\n"
    "                        or the volume cannot be read\n"
    "  --json                describe the whole volume instead of running lines: one JSON\n"
    "                        object per file and folder on standard output (JSON Lines),\n"
    "                        folders before their contents\n"
    "  --hash                with --json, add the SHA-256 of each file's forks\n"
    "  --dfxml FILE          write a DFXML report of the whole volume to FILE instead of\n"
    "                        running lines: every file and folder with its dates, the\n"
    "                        SHA-256 and the byte runs of its forks in the image\n"
    "  --quiet               COPY does not print its \"Copy of ... to ...\" lines\n"
    "  --verbose             COPY prints them (the default)\n"
    "  --help                show this text\n"
    "  --version             show the version of quarry-cli\n"
    "\n"
    "commands: DIR [pattern], CD name, CD .., CD \\, COPY pattern, ATTRIB name, INFO, QUIT;\n"
    "and on a volume opened with --write: MD name, RD name (a folder with everything in\n"
    "it), DEL pattern, REN old new (\"*\" on both sides renames every match), SWAP name\n"
    "(exchanges a file's forks), SETATTR name setting... (type=XXXX creator=XXXX\n"
    "created=1995-03-01T14:30 modified=... locked=0|1: the first match's Finder fields, dates\n"
    "as the Macintosh's wall clock). A change that is not carried out, and a file or folder\n"
    "that is not copied whole, make the exit status 1; the lines after it still run.\n"
    "Damage met in the volume's catalog or extents tree is said once per place, the lines\n"
    "still run on what is readable, no change is made, and the exit status is 1.\n"
    "Sectors of a BIN/CUE image that fail their EDC check are read as they are and named on\n"
    "standard error after the line that read them; they too make the exit status 1.\n"
    "The words that need the desktop program's windows (HELP, LOG, OPTIONS; CD and COPY\n"
    "without a name) and those that do nothing are reported on standard error and skipped.\n"
    "Switches: /D data fork, /R resource fork, /B MacBinary; /F files only (no folders);\n"
    "/S /E /A the short, extended and signature listings. Ctrl-C stops a copy between\n"
    "entries.\n";

struct Options {
    bool answerYes = false;
    std::string target;
    std::optional<NamingMode> naming;
    std::string logFile;
    bool appendLog = false;
    std::string manifest;
    int port = 0;
    std::string portDevice;
    std::string source;
    std::vector<std::string> lines;
    bool readStdin = true;
    bool check = false;
    bool write = false;
    bool keepGoing = false;
    bool json = false;
    bool hash = false;
    std::string dfxml;
    bool quiet = false;
    std::optional<uint32_t> partition;
    std::string member;  // of a zip archive of several images
    bool mfsFolders = false;
    std::optional<std::string> newVolume;  // its name, as typed
    std::optional<std::string> newSize;
    // The command line as given, for the DFXML report's creator.
    std::vector<std::string> arguments;
    quarry::BinaryFormat binaryFormat = quarry::BinaryFormat::MacBinaryI;
};

std::string trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

constexpr const char* kNoSuchFile = "No such file:";

// Whether two names given on the command line are one file, whether it exists yet or not.
bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ignored;
    if (std::filesystem::equivalent(a, b, ignored)) return true;
    return std::filesystem::weakly_canonical(a, ignored) == std::filesystem::weakly_canonical(b, ignored);
}

// How quarry-cli serves a word of the command language. It has no dialogs, no list to select
// from and no help viewer, and it opens every source read-only; a line it does not carry out is
// reported, never passed over, and the run goes on.
enum class Service {
    Runs,          // as in the desktop program, or printed where that shows a dialog (INFO, ATTRIB)
    NeedsDesktop,  // a dialog or the list's selection
    NeedsName,     // the desktop program takes the selection; here the line has to name the file
    DoesNothing,   // the desktop program accepts the word and ignores it
};

struct WordService {
    int code;
    Service withName;  // the line has a first argument
    Service withoutName;
};

constexpr WordService kWordServices[] = {
    {word::kCopy, Service::Runs, Service::NeedsDesktop},
    {word::kCd, Service::Runs, Service::NeedsDesktop},
    {word::kCdParent, Service::Runs, Service::Runs},
    {word::kCdRoot, Service::Runs, Service::Runs},
    {word::kDir, Service::Runs, Service::Runs},
    {word::kHelp, Service::NeedsDesktop, Service::NeedsDesktop},
    {word::kQuit, Service::Runs, Service::Runs},
    {word::kType, Service::DoesNothing, Service::DoesNothing},
    {word::kCls, Service::DoesNothing, Service::DoesNothing},
    // The drive dialog: quarry-cli has the one source it was given.
    {word::kLog, Service::NeedsDesktop, Service::NeedsDesktop},
    {word::kAttrib, Service::Runs, Service::NeedsName},
    // The naming dialog; --names sets the naming mode here.
    {word::kOptions, Service::NeedsDesktop, Service::NeedsDesktop},
    {word::kVerify, Service::DoesNothing, Service::DoesNothing},
    {word::kNext, Service::DoesNothing, Service::DoesNothing},
    {word::kLock, Service::DoesNothing, Service::DoesNothing},
    {word::kUnlock, Service::DoesNothing, Service::DoesNothing},
    {word::kMode, Service::DoesNothing, Service::DoesNothing},
    {word::kRep, Service::DoesNothing, Service::DoesNothing},
    {word::kInfo, Service::Runs, Service::Runs},
    {word::kSwap, Service::Runs, Service::NeedsName},
    {word::kMd, Service::Runs, Service::NeedsName},
    {word::kRd, Service::Runs, Service::NeedsName},
    {word::kDel, Service::Runs, Service::NeedsName},
    {word::kRen, Service::Runs, Service::NeedsName},
    {word::kSetAttr, Service::Runs, Service::NeedsName},
};

bool isChangingWord(int code) {
    return code == word::kSwap || code == word::kMd || code == word::kRd || code == word::kDel || code == word::kRen ||
           code == word::kSetAttr || code == word::kPut;
}

// The first blank-separated piece of a line, as typed.
std::string firstWord(std::string_view line) {
    const size_t start = std::min(line.size(), line.find_first_not_of(" \t"));
    const size_t end = std::min(line.size(), line.find_first_of(" \t", start));
    return std::string(line.substr(start, end - start));
}

// What is said about a line that quarry-cli does not carry out; empty when it carries it out (or
// when the line is blank).
std::string unservedLine(const ParsedCommand& line, std::string_view typed) {
    if (line.code == word::kNone) {
        const std::string first = firstWord(typed);
        return first.empty() ? std::string() : "Not a command: " + first;
    }
    const auto row = std::find_if(std::begin(kWordServices), std::end(kWordServices),
                                  [&](const WordService& w) { return w.code == line.code; });
    if (row == std::end(kWordServices)) return {};
    const std::string word = CommandWordText(line.code);
    if (line.code == word::kRen && line.firstArg && !line.secondArg) return "usage: REN old new";
    switch (line.firstArg ? row->withName : row->withoutName) {
        case Service::Runs: return {};
        case Service::NeedsDesktop:
            // COPY and CD run here with a name; only the form that takes the selection does not.
            return word + (row->withName == Service::Runs ? " without a name" : "") + " needs the desktop program";
        case Service::NeedsName:
            return "usage: " + word + (line.code == word::kRen       ? " old new"
                                       : line.code == word::kSetAttr ? " name type=XXXX creator=XXXX created=DATE modified=DATE locked=0|1"
                                                                     : " name");
        case Service::DoesNothing: return word + " does nothing in either program";
    }
    return {};
}

class Runner {
public:
    explicit Runner(const Options& options) : ui_(options.answerYes), session_(ui_) {
        ui_.setQuiet(options.quiet);
        ui_.setLog(&session_.log);
        session_.listOnScreen = false;
    }

    ~Runner() { FinishLogAndManifest(session_); }

    // A file or folder that was not copied whole fails the run, as a change not carried out
    // does, however the lines ended.
    int run(const Options& options) {
        const int status = runAll(options);
        FinishLogAndManifest(session_);
        // Damage was met, data that may be damaged was read, or a file was not copied whole:
        // the run did not end as well as it seemed, even when it ended with QUIT.
        return status == kExitOk && (damageMet_ || session_.copy.failures > 0) ? kExitStopped : status;
    }

private:
    int runAll(const Options& options) {
        session_.partitionChoice = options.partition;
        session_.settings.mfsFolders = options.mfsFolders;
        if (int status = startUp(options.source, options.write, options.member); status != kExitOk) return status;
        if (options.check) return checkOnly();
        if (options.json || !options.dfxml.empty()) return reportOnly(options);
        if (int status = prepareCopies(options); status != kExitOk) return status;
        if (!options.readStdin) {
            for (const std::string& line : options.lines)
                if (!runLine(line)) return exitStatus_;
        } else {
            std::string line;
            while (std::getline(std::cin, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!runLine(line)) return exitStatus_;
            }
        }
        return exitStatus_;
    }

    // Says on standard error what the devices found damaged in the data they served for the
    // mount or the line just run (sectors of an image that fail their EDC check).
    void reportReadWarnings() {
        for (const std::string& warning : TakeReadWarnings(session_)) {
            ui_.reportAside(warning);
            damageMet_ = true;
        }
    }

    // --json and --dfxml: the whole volume described. What damage leaves readable is still
    // described; the damage is said on standard error and makes the status 1.
    int reportOnly(const Options& options) {
        ReportSummary summary;
        auto fault = [&](const std::string& text) { ui_.report(text); };
        if (options.json) {
            summary = WriteJsonLines(*session_.mounted, session_.ending, options.hash ? ReportDigests::Sha256 : ReportDigests::No, stdout, fault);
            std::fflush(stdout);
        } else {
            DfxmlSource source{options.source, 0, ""};
            for (const auto& adapter : bus_.adapters)
                if (auto* images = dynamic_cast<ImageAdapter*>(adapter.get())) {
                    source.size = images->imageSize(0);
                    source.container = images->imageFormat(0);
                    source.member = images->imageMember(0);
                }
            Result<ReportSummary> written = WriteDfxml(*session_.mounted, session_.ending, options.dfxml, source, options.arguments, fault);
            if (!written) {
                ui_.report(written.fault());
                return kExitStopped;
            }
            summary = *written;
        }
        reportDamage();
        if (!summary.catalogWhole || summary.forkFaults > 0 || ui_.fatal()) return kExitStopped;
        return kExitOk;
    }

    int checkOnly() {
        const VolumeCheckResult result = session_.mounted->check();
        for (const std::string& note : result.notes) std::fprintf(stderr, "note: %s\n", note.c_str());
        for (const std::string& problem : result.problems) std::printf("%s\n", problem.c_str());
        std::fflush(stdout);
        reportReadWarnings();
        return result.sound() && !ui_.fatal() ? kExitOk : kExitStopped;
    }

    int startUp(const std::string& source, bool write, const std::string& member) {
        if (source.rfind("/dev/sg", 0) == 0) {
            auto adapter = SgAdapter::open({source}, write);
            if (!adapter) {
                ui_.report(adapter.fault());
                return kExitStopped;
            }
            bus_.adapters.push_back(std::move(*adapter));
        } else {
            auto images = std::make_unique<ImageAdapter>();
            const ImageAccess access = write ? ImageAccess::ReadWrite : ImageAccess::ReadOnly;
            Result<std::vector<OpenedImage>> media = openImages(source, access, member);
            if (!media) {
                ui_.report(media.fault());
                return kExitStopped;
            }
            // Of a zip archive of several images the person names one; the names are listed,
            // one to a line, as --member takes them.
            if (media->size() > 1) {
                ui_.report(source + " holds " + std::to_string(media->size()) + " Macintosh volumes; name the one to open with --member NAME:");
                for (const OpenedImage& medium : *media) std::printf("%s\n", medium.member.c_str());
                std::fflush(stdout);
                return kExitStopped;
            }
            if (Result<int> target = images->addOpened(std::move(media->front()), source, access); !target) {
                ui_.report(target.fault());
                return kExitStopped;
            }
            // A flaw that leaves the medium readable (a DiskCopy checksum) is told, and the run goes on.
            for (const std::string& warning : images->imageWarnings(0)) ui_.report(warning);
            bus_.adapters.push_back(std::move(images));
        }
        DeviceState& device = session_.device;
        device.bus = &bus_;
        device.targetId = kNoSelection;
        if (InitAspi(device, ui_) < 0 || ui_.fatal()) return kExitStopped;
        PrepareCdAccess(device);
        if (SelectCdromDrive(device, table_, ui_) == 0) {
            ui_.fatalError(messageText(Msg::NoCdromDrive));
            return kExitStopped;
        }
        device.deviceBlockSize = 512;
        initVolumeBuffers(session_);
        return mount();
    }

    // The log, the naming mode, the port and the target directory, as the dialogs would set them
    // before the first line runs.
    int prepareCopies(const Options& options) {
        // The manifest first: a file it refuses leaves the log untouched as well.
        if (!options.manifest.empty()) {
            if (Status s = session_.copy.manifest.open(options.manifest); !s) {
                ui_.report(s.fault());
                return kExitStopped;
            }
        }
        if (!options.logFile.empty()) {
            session_.log.name = options.logFile;
            const bool opened = options.appendLog ? OpenLogFile(session_) : CreateLogFile(session_);
            if (!opened) return kExitStopped;
        }
        if (!options.target.empty()) {
            // A target that is not there is made with its parents, as archivers make theirs.
            std::error_code made;
            std::filesystem::create_directories(options.target, made);
            if (made || ::chdir(options.target.c_str()) != 0) {
                ui_.report("cannot copy into " + options.target + ": " + (made ? made.message() : std::strerror(errno)));
                return kExitStopped;
            }
        }
        if (options.keepGoing) session_.settings.readErrors = ReadErrors::WriteZeros;
        session_.settings.binaryFormat = options.binaryFormat;
        session_.copy.longNamesAvailable = LongNamesAvailable(".");
        session_.settings.setNamingMode(options.naming.value_or(session_.copy.longNamesAvailable ? NamingMode::Long : NamingMode::Short));
        if (options.port != 0) {
            session_.settings.destinationSetting =
                static_cast<uint16_t>((session_.settings.destinationSetting & 0xFF) | (options.port << 8));
            if (!options.portDevice.empty()) session_.copy.portDevices[static_cast<size_t>(options.port)] = options.portDevice;
        }
        return kExitOk;
    }

    int mount() {
        ui_.takeReported();
        const int result = mountVolume(session_);
        if (result > 0) {
            // A root folder that lists only in part still mounts; the damage is said first.
            reportDamage();
            return kExitOk;
        }
        if (ui_.fatal()) return kExitStopped;
        if (result == 0) {
            if (const std::string failure = MountFailureText(session_); !failure.empty())
                ui_.report(failure);
            else if (!ui_.takeReported())
                ui_.report(messageText(Msg::NotHfsVolume));
        }
        // Damaged sectors may be why the mount failed; they are named after its own message.
        reportReadWarnings();
        return result > 0 ? kExitOk : kExitStopped;
    }

    // False when the run has to stop; exitStatus_ then says how.
    bool runLine(const std::string& utf8Line) {
        session_.copy.lastResult = 0;
        ui_.takeBeep();
        // What an earlier line reported is no complaint of this line's change.
        ui_.takeReported();
        const ParsedCommand line = ExecuteCommandText(session_, TypedText(session_, utf8Line));
        const int code = line.code;
        if (stopped()) return false;
        // The damage the line met is said before what it still produced.
        reportDamage();
        if (const std::string unserved = unservedLine(line, utf8Line); !unserved.empty()) {
            // What the dispatcher posted for the desktop program's windows does not run here.
            ui_.dropPosted();
            ui_.report(unserved);
            // A word that is no command was typed in error: it fails the run wherever it stands.
            if (code == word::kNone) exitStatus_ = kExitStopped;
            return true;
        }
        const std::string argument = utf8Line.substr(std::min(utf8Line.size(), utf8Line.find_first_of(" \t") + 1));
        if (code == word::kDir) printList();
        if (code == word::kCopy && session_.copy.lastResult == copyresult::kNothing)
            ui_.report("No file or folder matches \"" + (line.firstArg ? TypedTextToUtf8(session_, *line.firstArg) : argument) + "\".");
        if (code == word::kCd && ui_.takeBeep()) ui_.report(std::string(messageText(Msg::NoSuchFolder)) + " " + argument);
        if (isChangingWord(code)) {
            // A change that did not happen, or happened with a complaint, fails the run; the
            // lines after it still run.
            const bool complained = ui_.takeReported();
            if (session_.changeRefused || complained) {
                if (!complained) ui_.report(std::string(CommandWordText(code)) + " " + argument + ": not carried out");
                exitStatus_ = kExitStopped;
            }
            session_.changeRefused = false;
        }
        int command = 0;
        while (ui_.takePosted(command)) {
            if (!runPosted(command, line)) {
                reportDamage();
                stopped();
                return false;
            }
        }
        reportDamage();
        return !stopped();
    }

    // A fatal error ends the run with status 1.
    bool stopped() {
        if (ui_.fatal()) exitStatus_ = kExitStopped;
        return ui_.fatal();
    }

    // Each place of damage in the trees is said once, when it is first met; the run goes on,
    // since what the damage leaves readable is still served, and ends with status 1.
    void reportDamage() {
        for (const std::string& text : TakeMountNotices(session_)) ui_.reportAside(text);
        for (const std::string& text : TakeDamageReports(session_)) {
            ui_.reportAside(text);
            damageMet_ = true;
        }
        reportReadWarnings();
    }

    // Runs a command the dispatcher posted for the line.
    bool runPosted(int command, const ParsedCommand& line) {
        switch (command) {
            case command::kVolumeInfo: printVolumeInfo(); return true;
            case command::kAttributes:
                if (line.firstArg) printAttributes(*line.firstArg);
                return true;
            case command::kExit:
                // QUIT ends the run; what failed before it still fails it.
                return !ui_.ask("Do you really want to quit?", Question::YesNo);
            default:
                // The shared commands. A command that needs a window was reported with its word
                // and never gets here; one that slipped past is still not passed over.
                if (!RunMainCommand(session_, command))
                    ui_.report("command " + std::to_string(command) + " needs the desktop program");
                return !ui_.fatal();
        }
    }

    void printList() {
        const FileList& list = session_.settings.list;
        if (list.entryCount == 0) {
            std::puts("[No file]");
            return;
        }
        for (uint16_t i = 0; i < list.entryCount; ++i) {
            const ListEntry& e = list.entries[i];
            // The volume's Unicode name where it has one (HFS+ names reach beyond Macintosh Roman).
            const std::string name = i < list.volumeEntries.size() ? list.volumeEntries[i].name : macNameToUtf8(e.name());
            const std::string signature = macNameToUtf8(std::string(e.signatureText()));
            std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", name.c_str(), trimmed(e.dataSizeText()).c_str(),
                        trimmed(e.rsrcSizeText()).c_str(), trimmed(signature).c_str(), trimmed(e.createdText()).c_str(),
                        trimmed(e.modifiedText()).c_str());
        }
        std::fflush(stdout);
    }

    void printVolumeInfo() {
        for (const VolumeInfoValue& v : VolumeInfoValues(session_)) std::printf("%s\t%llu\n", v.label, static_cast<unsigned long long>(v.value));
        std::fflush(stdout);
    }

    // Both attribute sheets of a file of the current folder, the "Advanced" one second, with the
    // texts the dialogs show. The desktop program takes the list's selection; here the line names
    // the file as COPY and CD name theirs, so a "*" is a wildcard and the first file it matches
    // is shown.
    void printAttributes(const std::string& typed) {
        bool shown = false;
        ShowFileAttributes(
            session_, TypedName(session_, typed),
            [&](const VolumeEntry& file) {
                shown = true;
                printSheet(fileAttributesOf(file).sheet());
                printSheet(advancedAttributesOf(*session_.mounted, file).sheet());
            },
            NameMatch::Pattern);
        // A search that met a damaged catalog is reported as such by the caller, not as a miss.
        if (!shown && session_.mounted && session_.mounted->lastFault().empty())
            ui_.report(std::string(kNoSuchFile) + " " + ansiToUtf8(typed));
    }

    void printSheet(const std::vector<SheetLine>& sheet) {
        for (const SheetLine& line : sheet) std::printf("%s\t%s\n", line.label, line.value.c_str());
        std::fflush(stdout);
    }

    CliUi ui_;
    Session session_;
    ScsiBus bus_;
    ScsiDeviceTable table_;
    int exitStatus_ = kExitOk;
    bool damageMet_ = false;
};

}  // namespace
}  // namespace quarry::cli

int main(int argc, char** argv) {
    using namespace quarry::cli;
    Options options;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        auto value = [&](const char* option) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quarry-cli: %s needs a value\n", option);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--yes") {
            options.answerYes = true;
        } else if (arg == "--mfs-folders") {
            options.mfsFolders = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--write") {
            options.write = true;
        } else if (arg == "--keep-going") {
            options.keepGoing = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--hash") {
            options.hash = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.quiet = false;
        } else if (arg == "--dfxml") {
            const char* v = value("--dfxml");
            if (!v) return kExitUsage;
            options.dfxml = v;
        } else if (arg == "--new-volume" || arg == "--size") {
            const char* v = value(arg.c_str());
            if (!v) return kExitUsage;
            (arg == "--size" ? options.newSize : options.newVolume) = v;
        } else if (arg == "--partition") {
            const char* v = value("--partition");
            if (!v) return kExitUsage;
            char* end = nullptr;
            errno = 0;
            const unsigned long n = std::strtoul(v, &end, 10);
            if (*v < '0' || *v > '9' || *end != '\0' || errno != 0 || n == 0 || n > UINT32_MAX) {
                std::fprintf(stderr, "quarry-cli: --partition takes a partition's number, from 1\n");
                return kExitUsage;
            }
            options.partition = static_cast<uint32_t>(n);
        } else if (arg == "--member") {
            const char* v = value("--member");
            if (!v) return kExitUsage;
            options.member = v;
        } else if (arg == "--to") {
            const char* v = value("--to");
            if (!v) return kExitUsage;
            options.target = v;
        } else if (arg == "--names") {
            const char* v = value("--names");
            if (!v) return kExitUsage;
            if (std::strcmp(v, "long") == 0) options.naming = quarry::NamingMode::Long;
            else if (std::strcmp(v, "short") == 0) options.naming = quarry::NamingMode::Short;
            else {
                std::fprintf(stderr, "quarry-cli: --names takes long or short\n");
                return kExitUsage;
            }
        } else if (arg == "--binary-format") {
            const char* v = value("--binary-format");
            if (!v) return kExitUsage;
            const auto format = quarry::BinaryFormatNamed(v);
            if (!format) {
                std::fprintf(stderr, "quarry-cli: --binary-format takes mb1, mb2, mb3, appledouble, applesingle or binhex\n");
                return kExitUsage;
            }
            options.binaryFormat = *format;
        } else if (arg == "--log" || arg == "--append-log") {
            const char* v = value(arg.c_str());
            if (!v) return kExitUsage;
            options.logFile = v;
            options.appendLog = arg == "--append-log";
        } else if (arg == "--manifest") {
            const char* v = value("--manifest");
            if (!v) return kExitUsage;
            options.manifest = v;
        } else if (arg == "--port") {
            const char* v = value("--port");
            if (!v) return kExitUsage;
            std::string portArg = v;
            const size_t eq = portArg.find('=');
            options.port = quarry::PortIndexOf(portArg.substr(0, eq).c_str());
            if (options.port < 0) {
                std::fprintf(stderr, "quarry-cli: --port takes LPT1-LPT3 or COM1-COM4\n");
                return kExitUsage;
            }
            if (eq != std::string::npos) options.portDevice = portArg.substr(eq + 1);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg == "--version") {
            std::fputs("quarry-cli (Quarry) " QUARRY_VERSION "\n", stdout);
            return kExitOk;
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "quarry-cli: unknown option %s\n%s", arg.c_str(), kUsage);
            return kExitUsage;
        } else {
            break;
        }
    }
    if (i >= argc) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    options.source = argv[i++];
    for (; i < argc; ++i) options.lines.push_back(argv[i]);
    options.readStdin = options.lines.empty();
    if (!options.manifest.empty() && !options.logFile.empty() && sameFile(options.manifest, options.logFile)) {
        std::fprintf(stderr, "quarry-cli: --manifest names the log file\n");
        return kExitUsage;
    }
    if (options.check && !options.lines.empty()) {
        std::fprintf(stderr, "quarry-cli: --check runs no lines\n");
        return kExitUsage;
    }
    if ((options.json || !options.dfxml.empty()) && (!options.lines.empty() || options.check)) {
        std::fprintf(stderr, "quarry-cli: %s runs no lines\n", options.json ? "--json" : "--dfxml");
        return kExitUsage;
    }
    if (options.json && !options.dfxml.empty()) {
        std::fprintf(stderr, "quarry-cli: --json and --dfxml are two runs\n");
        return kExitUsage;
    }
    if (options.hash && !options.json) {
        std::fprintf(stderr, "quarry-cli: --hash goes with --json\n");
        return kExitUsage;
    }
    if (options.newVolume || options.newSize) {
        if (!options.newVolume || !options.newSize) {
            std::fprintf(stderr, "quarry-cli: --new-volume and --size go together\n");
            return kExitUsage;
        }
        if (options.check || options.json || !options.dfxml.empty()) {
            std::fprintf(stderr, "quarry-cli: --new-volume runs only lines\n");
            return kExitUsage;
        }
        quarry::Result<uint64_t> size = quarry::parseVolumeSize(*options.newSize);
        if (size) {
            if (const quarry::Result<quarry::HfsLayout> layout = quarry::hfsLayout(*size); !layout) size = quarry::Fault{layout.fault()};
        }
        if (!size) {
            std::fprintf(stderr, "quarry-cli: --size %s: %s\n", options.newSize->c_str(), size.fault().c_str());
            return kExitUsage;
        }
        quarry::Result<std::string> macName = quarry::macVolumeName(*options.newVolume);
        if (!macName) {
            std::fprintf(stderr, "quarry-cli: --new-volume %s: %s\n", options.newVolume->c_str(), macName.fault().c_str());
            return kExitUsage;
        }
        // A file-size limit met while the volume is made is a failure that is reported.
        signal(SIGXFSZ, SIG_IGN);
        if (quarry::Status made = quarry::formatHfsImage(options.source, *macName, *size, quarry::macTimeNow()); !made) {
            std::fprintf(stderr, "quarry-cli: %s\n", made.fault().c_str());
            return kExitStopped;
        }
        options.write = true;
    }
    options.arguments.assign(argv, argv + argc);
    // A file-size limit turns into a failed write that is reported, not into a killed process.
    signal(SIGXFSZ, SIG_IGN);
    installInterruptHandler();
    Runner runner(options);
    return runner.run(options);
}
