#include "copy/pc_naming.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "copy/copy_context.h"
#include "common/text.h"
#include "common/charset.h"

namespace quarry {
namespace {

// Characters a long name may not hold: slash, backslash, bar, colon, angle brackets, star,
// double quote.
constexpr std::string_view kForbiddenLong = "/\\|:<>*\"";
constexpr std::string_view kShortAllowed =
    "()-0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ\\^_`abcdefghijklmnopqrstuvwxyz{}~";
constexpr std::string_view kCollisionDigits = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
constexpr size_t kShortNameMax = 12;
constexpr size_t kShortBaseMax = 8;
// Renaming on the fly takes at most this many characters of what was typed.
constexpr size_t kTypedNameMax = 30;
// Numbered extensions have three base-32 digits.
constexpr uint32_t kCollisionNames = 32 * 32 * 32;

std::string trimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// A name from the volume must stay one entry of the target directory: a slash, a NUL or a name
// made only of dots ("", ".", "..") would reach elsewhere.
std::string safeComponent(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.find_first_not_of('.') == std::string::npos) {
        for (char& c : name) c = '_';
        if (name.empty()) name.assign(1, '_');
    }
    return name;
}

bool nameTaken(const std::string& utf8) {
    struct stat st {};
    return ::lstat(utf8.c_str(), &st) == 0;
}

bool shortMode(const CopyContext& context) {
    return context.settings.namingMode() == NamingMode::Short || !context.state.longNamesAvailable;
}

// A long name made from the volume's Unicode name is UTF-8 already.
bool fromUnicode(const CopyContext& context, const PcNameForm& form) { return !form.unicodeName.empty() && !shortMode(context); }

std::string toFileSystem(const CopyContext& context, const std::string& pc) {
    return shortMode(context) ? oemToUtf8(pc) : ansiToUtf8(pc);
}

// A Unicode name without the characters a long name may not hold.
std::string longUnicodeName(std::string_view name) {
    std::string pc;
    for (char c : trimBlanks(name))
        if (kForbiddenLong.find(c) == std::string_view::npos) pc.push_back(c);
    return pc;
}

// Opens a new file; -1 with errno when the name is taken or cannot be made.
int createExclusive(const std::string& utf8) {
    return ::open(utf8.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
}

// Creates the file, and its sidecar when the form asks for one. False with errno when either
// name is taken or cannot be made; nothing is left behind then.
bool createPair(const std::string& utf8, const PcNameForm& form, PcFile& file) {
    if (nameTaken(utf8) || (!form.sidecarPrefix.empty() && nameTaken(std::string(form.sidecarPrefix) + utf8))) {
        errno = EEXIST;
        return false;
    }
    const int fd = createExclusive(utf8);
    if (fd < 0) return false;
    file = PcFile{fd, utf8, -1, {}};
    if (form.sidecarPrefix.empty()) return true;
    file.sidecarName = std::string(form.sidecarPrefix) + utf8;
    file.sidecarFd = createExclusive(file.sidecarName);
    if (file.sidecarFd >= 0) return true;
    const int saved = errno;
    ::close(fd);
    ::unlink(utf8.c_str());
    errno = saved;
    return false;
}

// Linux file systems take names of at most 255 bytes. A longer name (one of 255 Macintosh
// characters with an extension added, or a Unicode name in UTF-8) keeps its extensions, which
// say what the file holds, and loses the characters before them, never half a character.
std::string fittedName(std::string name, size_t limit) {
    constexpr size_t kExtensionsTail = 12;
    if (name.size() <= limit) return name;
    size_t tail = name.size();
    for (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0 && name.size() - dot <= kExtensionsTail;
         dot = name.rfind('.', dot - 1))
        tail = dot;
    const std::string ending = name.substr(tail);
    size_t head = std::min(tail, limit - std::min(limit, ending.size()));
    while (head > 0 && (static_cast<uint8_t>(name[head]) & 0xC0) == 0x80) --head;
    return name.substr(0, head) + ending;
}
constexpr size_t kMaxNameBytes = 255;

// The name for the n-th try: the plain name first, then numbered ones from the file counter
// on; an added extension of long names follows the number.
std::string candidateName(const CopyContext& context, const std::string& pc, const PcNameForm& form, uint32_t n) {
    std::string name = pc;
    if (n > 0) MakeUniqueName(name, static_cast<uint16_t>(context.state.fileCounter + n - 1));
    if (!form.addedExtension.empty() && !shortMode(context)) {
        name.push_back('.');
        name.append(form.addedExtension);
    }
    return fittedName(safeComponent(fromUnicode(context, form) ? name : toFileSystem(context, name)),
                      kMaxNameBytes - form.sidecarPrefix.size());
}

// Creates the name, or when it is taken the first free numbered name from the file counter
// on: a collision never replaces an earlier copy.
std::optional<PcFile> createFresh(const CopyContext& context, std::string pc, const PcNameForm& form) {
    if (!form.addedExtension.empty() && shortMode(context)) SetExtension(pc, form.addedExtension);
    for (uint32_t n = 0;; ++n) {
        const std::string utf8 = candidateName(context, pc, form, n);
        PcFile file;
        if (createPair(utf8, form, file)) return file;
        if (errno != EEXIST) {
            context.fatal("Error opening file:" + utf8 + " (" + std::strerror(errno) + ")");
            return std::nullopt;
        }
        if (n == kCollisionNames) {
            context.fatal("Error opening file:" + utf8 + " (every numbered name is taken)");
            return std::nullopt;
        }
    }
}

void announce(const CopyContext& context, const std::string& shownUtf8, const std::string& pcUtf8) {
    if (context.log.isOpen()) context.log.write(shownUtf8 + "\t" + pcUtf8 + "\r\n");
    const std::string status = "Copy of \"" + shownUtf8 + "\" to \"" + pcUtf8 + "\"";
    context.ui().setStatusText(status.c_str(), nullptr);
}

}  // namespace

bool LongNamesAvailable(const std::string& dir) {
    const long max = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    return max < 0 || max >= 255;
}

void SetExtension(std::string& name, std::string_view ext) {
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && static_cast<long>(dot) < static_cast<long>(name.size()) - 4) dot = std::string::npos;
    if (dot != std::string::npos) name.erase(dot + 1);
    else name.push_back('.');
    for (char c : ext) name.push_back(lower(c));
}

void MakeUniqueName(std::string& name, uint16_t n) {
    const char digits[3] = {kCollisionDigits[(n >> 10) & 31], kCollisionDigits[(n >> 5) & 31], kCollisionDigits[n & 31]};
    SetExtension(name, std::string_view(digits, 3));
}

std::optional<std::string> MacExtension(std::string_view macName) {
    const size_t dot = macName.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const size_t tail = macName.size() - dot;
    if (tail == 1 || tail > 4) return std::nullopt;
    return trimBlanks(macName.substr(dot + 1));
}

std::string PcFileNameFor(const CopyContext& context, std::string_view rawName, std::string_view typeCreator) {
    const std::string macName = trimBlanks(rawName);
    const std::optional<std::string> ext = MacExtension(macName);
    std::string pc;
    if (!shortMode(context)) {
        for (char c : TranslateName(macName, MacToAnsi))
            if (kForbiddenLong.find(c) == std::string_view::npos) pc.push_back(c);
        if (!ext) SetExtension(pc, ExtensionForType(context.state.types, typeCreator));
    } else {
        const size_t extDot = ext ? macName.rfind('.') : std::string::npos;
        bool dotPlaced = false;
        for (size_t i = 0; i < macName.size() && pc.size() < kShortNameMax; ++i) {
            const auto mapped = static_cast<char>(MacToDos[static_cast<uint8_t>(macName[i])]);
            if (mapped != 0 && (kShortAllowed.find(mapped) != std::string_view::npos || static_cast<uint8_t>(mapped) >= 0x80)) {
                pc.push_back(mapped);
            } else if (i == extDot && !dotPlaced) {
                pc.push_back('.');
                break;
            }
            if (pc.size() == kShortBaseMax && !dotPlaced) {
                pc.push_back('.');
                dotPlaced = true;
                if (ext) break;
            }
        }
        SetExtension(pc, ext ? *ext : ExtensionForType(context.state.types, typeCreator));
    }
    if (pc.empty()) pc.assign(1, '_');
    return pc;
}

std::string PcDirectoryNameFor(const CopyContext& context, std::string_view rawName, std::string_view unicodeName) {
    std::string pc;
    if (context.state.longNamesAvailable && !unicodeName.empty())
        return fittedName(safeComponent(longUnicodeName(unicodeName)), kMaxNameBytes);
    if (context.state.longNamesAvailable) {
        // Folder names pass the same filter as file names, so that none reaches outside the
        // directory being filled.
        for (char c : TranslateName(rawName, MacToAnsi))
            if (kForbiddenLong.find(c) == std::string_view::npos) pc.push_back(c);
        return safeComponent(ansiToUtf8(pc));
    }
    for (char c : rawName) {
        const char mapped = upper(static_cast<char>(MacToDos[static_cast<uint8_t>(c)]));
        if ((mapped >= 'A' && mapped <= 'Z') || (mapped >= '0' && mapped <= '9')) pc.push_back(mapped);
        if (pc.size() == kShortBaseMax) break;
    }
    return safeComponent(pc);
}

std::optional<PcFile> MakePcFileName(const CopyContext& context, std::string& macName, std::string_view typeCreator,
                                     const PcNameForm& form) {
    LoadTypeCreatorFile(context.state.types, context.ui());
    macName = trimBlanks(macName);
    const std::string shown = form.unicodeName.empty() ? macNameToUtf8(macName) : trimBlanks(form.unicodeName);
    std::string pc;
    if (fromUnicode(context, form)) {
        pc = longUnicodeName(form.unicodeName);
        if (!MacExtension(pc) && !form.noTypeExtension) SetExtension(pc, ExtensionForType(context.state.types, typeCreator));
    } else {
        pc = PcFileNameFor(context, macName, typeCreator);
    }
    std::optional<PcFile> file = createFresh(context, pc, form);
    if (file) announce(context, shown, file->name);
    return file;
}

std::optional<PcFile> AskPcFileName(const CopyContext& context, const std::string& macName, const PcNameForm& form) {
    const std::string edit = macNameToUtf8(macName);
    std::optional<std::string> answer = context.ui().askPcFileName(edit);
    if (!answer) return std::nullopt;
    // The limit holds here, where every face's answer passes, and counts characters, so that no
    // multi-byte character is cut in half. Then only the name and extension are kept: a drive or
    // directory typed with them is dropped.
    std::string typed = leadingCharacters(*answer, kTypedNameMax);
    const size_t cut = typed.find_last_of("/\\:");
    if (cut != std::string::npos) typed.erase(0, cut + 1);
    const std::string pc = safeComponent(typed);
    PcFile file;
    if (!createPair(pc, form, file)) {
        if (errno == EEXIST) {
            // A file the person chose to skip is not a failure; one whose name is taken is.
            ++context.state.failures;
            const bool sidecarTaken = !nameTaken(pc);
            context.ui().showTimedMessage((sidecarTaken ? std::string(form.sidecarPrefix) + pc : pc) +
                                          " already exists. Aborting the copy...");
        } else {
            context.fatal("Error opening file:" + pc + " (" + std::strerror(errno) + ")");
        }
        return std::nullopt;
    }
    announce(context, edit, pc);
    return file;
}

}  // namespace quarry
