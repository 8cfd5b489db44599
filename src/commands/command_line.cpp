#include "commands/command_line.h"

#include <array>

#include "app/command_ids.h"
#include "app/session.h"
#include "common/charset.h"
#include "copy/copy_engine.h"
#include "app/navigation.h"
#include "commands/put_files.h"
#include "commands/volume_changes.h"
#include "common/messages.h"

namespace quarry {
namespace {

struct CommandWord {
    int code;
    const char* text;
};

// In table order: the first row a typed word abbreviates wins, so "C" is COPY and "L" is LOG.
// "CD .." and "CD \" are never typed words; the argument scan produces their codes.
constexpr std::array<CommandWord, 27> kCommandWordTable = {{
    {word::kCopy, "COPY"},     {word::kCd, "CD"},         {word::kCdParent, "CD .."}, {word::kCdRoot, "CD \\"},
    {word::kDir, "DIR"},       {word::kHelp, "HELP"},     {word::kHelp, "?"},         {word::kQuit, "QUIT"},
    {word::kType, "TYPE"},     {word::kCls, "CLS"},       {word::kLog, "LOG"},        {word::kAttrib, "ATTRIB"},
    {word::kOptions, "OPTIONS"}, {word::kVerify, "VERIFY"}, {word::kNext, "NEXT"},    {word::kLock, "LOCK"},
    {word::kUnlock, "UNLOCK"}, {word::kMode, "MODE"},     {word::kRep, "REP"},        {word::kInfo, "INFO"},
    {word::kSwap, "SWAP"},     {word::kMd, "MD"},         {word::kRd, "RD"},          {word::kDel, "DEL"},
    {word::kRen, "REN"},       {word::kSetAttr, "SETATTR"}, {word::kPut, "PUT"},
}};

bool isWordChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '?'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

void applySwitch(AppSettings& settings, char c) {
    uint16_t& w = settings.optionWord;
    switch (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) {
        case 'A': w |= opt::kExtendedListing | opt::kSignatureListing; break;
        case 'B': settings.setCopyMode(opt::kCopyMacBinary); break;
        case 'D': settings.setCopyMode(opt::kCopyData); break;
        case 'E': w = static_cast<uint16_t>((w | opt::kExtendedListing) & ~opt::kSignatureListing); break;
        case 'F': w |= opt::kFilesOnly; break;
        case 'R': settings.setCopyMode(opt::kCopyResource); break;
        case 'S': w = static_cast<uint16_t>(w & ~(opt::kExtendedListing | opt::kSignatureListing)); break;
        default: break;
    }
}

}  // namespace

int LookupCommandWord(std::string& typed) {
    for (char& c : typed)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const CommandWord& row : kCommandWordTable) {
        const std::string_view candidate(row.text);
        if (candidate.size() >= typed.size() && candidate.substr(0, typed.size()) == typed) return row.code;
    }
    return word::kNone;
}

const char* CommandWordText(int code) {
    for (const CommandWord& row : kCommandWordTable)
        if (row.code == code) return row.text;
    return nullptr;
}

ParsedCommand ParseCommandLine(AppSettings& settings, std::string_view text) {
    ParsedCommand parsed;
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    size_t wordEnd = i;
    while (wordEnd < text.size() && isWordChar(text[wordEnd])) ++wordEnd;
    if (wordEnd == i) return parsed;
    std::string typedWord(text.substr(i, wordEnd - i));
    parsed.code = LookupCommandWord(typedWord);

    int slot = 0;
    // Only a quote can make an argument empty. A typed "" holds no name: it takes its slot but
    // reaches the command as absent, so that CD "" is CD without a name, never a search for
    // the empty name.
    auto store = [&](std::string arg) {
        const int at = slot++;
        if (arg.empty()) return;
        if (at == 0) parsed.firstArg = std::move(arg);
        else if (at == 1) parsed.secondArg = std::move(arg);
        else parsed.moreArgs.push_back(std::move(arg));
    };
    i = wordEnd;
    // PUT's first argument is a PC path, in which '.', '/', '-' and '\\' are its own characters.
    const bool pcPath = parsed.code == word::kPut;
    while (i < text.size()) {
        const char c = text[i];
        if (isBlank(c)) {
            ++i;
        } else if (pcPath && c != '"') {
            size_t end = i;
            while (end < text.size() && !isBlank(text[end])) ++end;
            store(std::string(text.substr(i, end - i)));
            i = end;
        } else if (c == '.') {
            ++i;
            if (parsed.code == word::kCd) parsed.code = word::kCdParent;
        } else if (c == '\\') {
            ++i;
            if (parsed.code == word::kCd) parsed.code = word::kCdRoot;
        } else if (c == '-' || c == '/') {
            if (i + 1 >= text.size()) break;
            applySwitch(settings, text[i + 1]);
            i += 2;
        } else if (c == '"') {
            const size_t close = text.find('"', i + 1);
            if (close == std::string_view::npos) {
                store(std::string(text.substr(i + 1)));
                break;
            }
            store(std::string(text.substr(i + 1, close - i - 1)));
            i = close + 1;
        } else {
            size_t end = i;
            while (end < text.size() && !isBlank(text[end])) ++end;
            store(std::string(text.substr(i, end - i)));
            i = end;
        }
    }
    return parsed;
}

std::string MacNameFromInput(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return TranslateName(text, AnsiToMac);
}

int DispatchCommand(Session& session, const ParsedCommand& command) {
    UiPort& ui = session.ui;
    const auto& first = command.firstArg;
    switch (command.code) {
        case word::kCopy:
            if (first) {
                session.copy.lastResult = CopyMacEntries(session.copyContext(), session.dir.currentDirID, TypedName(session, *first));
                break;
            }
            {
                const uint16_t mode = session.settings.optionWord;
                ui.postCommand(mode & opt::kCopyMacBinary  ? command::kMacBinaryMode
                               : mode & opt::kCopyResource ? command::kResourceForkMode
                                                           : command::kDataForkMode);
                ui.postCommand(command::kCopyToPc);
            }
            break;
        case word::kCd:
            if (!first) {
                ui.postCommand(command::kOpenFolder);
                break;
            }
            // A name that is not there leaves the folder as it was; the beep says so.
            if (!enterDirectory(session, TypedName(session, *first))) ui.beep();
            BuildFileList(session, nullptr);
            break;
        case word::kCdParent:
            changeToParent(session);
            BuildFileList(session, nullptr);
            break;
        case word::kCdRoot:
            changeToRoot(session);
            BuildFileList(session, nullptr);
            break;
        case word::kDir:
            ui.setMenuCheck(command::kExtendedListing, (session.settings.optionWord & opt::kExtendedListing) != 0);
            BuildFileList(session, first ? first->c_str() : nullptr);
            break;
        case word::kHelp: ui.postCommand(command::kHelpIndex); break;
        case word::kQuit: ui.postCommand(command::kExit); break;
        case word::kLog: ui.postCommand(command::kSelectDrive); break;
        case word::kAttrib: ui.postCommand(command::kAttributes); break;
        case word::kInfo: ui.postCommand(command::kVolumeInfo); break;
        // The naming dialog opens as the menu's File Naming does, once the command line has
        // closed.
        case word::kOptions: ui.postCommand(command::kFileNaming); break;
        case word::kSwap:
        case word::kMd:
        case word::kRd:
        case word::kDel:
        case word::kRen:
        case word::kSetAttr:
            if (first) session.changeRefused = !RunChangingWord(session, command);
            break;
        case word::kPut:
            if (first) session.changeRefused = !RunPut(session, command);
            break;
        default: break;  // TYPE, CLS, VERIFY, NEXT, LOCK, UNLOCK, MODE and REP do nothing
    }
    return 1;
}

bool RunChangingWord(Session& session, const ParsedCommand& command) {
    const std::string name = TypedName(session, *command.firstArg);
    if (command.code == word::kRen && !command.secondArg) return false;
    if (!WriteGuardAllows(session)) return false;
    bool carriedOut = true;
    const bool applied = ApplyVolumeChange(session, [&]() -> Status {
        switch (command.code) {
            case word::kSwap: {
                // A file that is not there, or whose forks go on in the extents tree, stays as it is.
                Result<int> swapped = SwapForks(session, name);
                if (!swapped) return Fault{swapped.fault()};
                carriedOut = *swapped == 0;
                return Status::ok();
            }
            case word::kMd: return MakeDirectory(session, *command.firstArg);
            case word::kRd: {
                // RD takes folders only; DEL takes both.
                const std::optional<VolumeEntry> folder =
                    session.mounted->findEntry(session.dir.currentDirID, name, NameMatch::Pattern, EntryKind::Folder);
                if (!folder) {
                    carriedOut = false;
                    const std::string fault = session.mounted->lastFault();
                    return fault.empty() ? Status::ok() : Status(Fault{fault});
                }
                Result<DeleteOutcome> deleted = DeleteEntries(session, folder->key, NameMatch::Exact);
                if (!deleted) return Fault{deleted.fault()};
                carriedOut = *deleted == DeleteOutcome::Done;
                return Status::ok();
            }
            case word::kDel: {
                Result<DeleteOutcome> deleted = DeleteEntries(session, name);
                if (!deleted) return Fault{deleted.fault()};
                carriedOut = *deleted == DeleteOutcome::Done;
                return Status::ok();
            }
            case word::kSetAttr: {
                std::vector<std::string> settings = command.moreArgs;
                if (command.secondArg) settings.insert(settings.begin(), *command.secondArg);
                Result<bool> set = SetAttributes(session, name, settings);
                if (!set) return Fault{set.fault()};
                carriedOut = *set;
                return Status::ok();
            }
            default: return RenameEntries(session, name, MacNameFromInput(*command.secondArg));
        }
    });
    return applied && carriedOut;
}

bool RunPut(Session& session, const ParsedCommand& command) {
    if (!WriteGuardAllows(session)) return false;
    const std::string macName = command.secondArg ? TypedTextToUtf8(session, *command.secondArg) : std::string();
    const PutTally tally = PutPcPaths(session, {TypedTextToUtf8(session, *command.firstArg)}, macName);
    return tally.refused == 0 && !tally.stopped;
}

ParsedCommand ExecuteCommandText(Session& session, std::string_view text) {
    const int code = text.empty() ? word::kNone : ParseCommandLine(session.settings, text.substr(0, std::min(text.size(), kCommandTextMax))).code;
    text = text.substr(0, std::min(text.size(), code == word::kSetAttr || code == word::kPut ? kLongCommandTextMax : kCommandTextMax));
    ParsedCommand parsed;
    if (!text.empty()) {
        parsed = ParseCommandLine(session.settings, text);
        if (parsed.code > 0) {
            DispatchCommand(session, parsed);
            session.ui.setStatusText(nullptr, nullptr);
        }
    }
    session.ui.updateCommandStates();
    session.ui.invalidateListRow(255);
    return parsed;
}

}  // namespace quarry
