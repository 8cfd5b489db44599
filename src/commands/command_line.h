#pragma once
// The command language of the command line: a command word, switches and up to two arguments,
// in the manner of a disk-operating-system prompt. Text is in the program's Windows character
// set.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

namespace quarry {

struct AppSettings;
struct Session;

namespace word {
inline constexpr int kNone = 0;
inline constexpr int kCopy = 1;
inline constexpr int kCd = 2;
inline constexpr int kCdParent = 3;
inline constexpr int kCdRoot = 4;
inline constexpr int kDir = 5;
inline constexpr int kHelp = 6;
inline constexpr int kQuit = 7;
inline constexpr int kType = 8;
inline constexpr int kCls = 9;
inline constexpr int kLog = 10;
inline constexpr int kAttrib = 17;
inline constexpr int kOptions = 18;
inline constexpr int kVerify = 19;
inline constexpr int kNext = 20;
inline constexpr int kLock = 21;
inline constexpr int kUnlock = 22;
inline constexpr int kMode = 23;
inline constexpr int kRep = 24;
inline constexpr int kInfo = 25;
inline constexpr int kSwap = 26;
// Words of scripts, after the last row so that no older abbreviation changes.
inline constexpr int kMd = 27;
inline constexpr int kRd = 28;
inline constexpr int kDel = 29;
inline constexpr int kRen = 30;
inline constexpr int kSetAttr = 31;
inline constexpr int kPut = 32;
}  // namespace word

// The longest command text the command line takes; a line of SETATTR or PUT, whose settings and
// PC paths do not fit in that, may be longer.
inline constexpr size_t kCommandTextMax = 79;
inline constexpr size_t kLongCommandTextMax = 255;

struct ParsedCommand {
    int code = word::kNone;
    std::optional<std::string> firstArg;
    std::optional<std::string> secondArg;
    std::vector<std::string> moreArgs;  // the third argument on (SETATTR's settings)
};

// Upper-cases word (a..z only) and returns the code of the first table word it abbreviates.
int LookupCommandWord(std::string& word);
// The word of the first table row with code, in upper case ("HELP" for "?" too), or nullptr
// for a code the table does not hold.
const char* CommandWordText(int code);
// Splits text, applies its switches to settings and returns the code and the arguments; an
// empty quoted argument ("") is returned as absent.
ParsedCommand ParseCommandLine(AppSettings& settings, std::string_view text);
// Trailing spaces removed, then translated to the Macintosh set, ending at the first character
// that has no Macintosh form.
std::string MacNameFromInput(std::string_view text);
// SWAP, MD, RD, DEL and REN with their arguments: the write guard, the change, its commit. False
// when the guard stopped it, a question was cancelled, nothing matched SWAP or RD, or the change
// failed (and was reported).
bool RunChangingWord(Session& session, const ParsedCommand& command);
// PUT pcpath [macname]: the write guard, then the PC file or folder into the current folder
// (commands/put_files.h). False when the guard stopped it or anything was not put.
bool RunPut(Session& session, const ParsedCommand& command);
// Performs a parsed command. Always 1.
int DispatchCommand(Session& session, const ParsedCommand& command);
// What the command line's Execute button does with one line of typed text (in the form
// TypedText gives it, app/navigation.h): cut to the field's
// length, parse, dispatch, then refresh. Returns what the line parsed to: its code (0 when
// nothing ran) and its arguments.
ParsedCommand ExecuteCommandText(Session& session, std::string_view text);

}  // namespace quarry
