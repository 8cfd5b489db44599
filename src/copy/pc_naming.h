#pragma once
// Macintosh names made into PC names: long names, short (8.3) names, or a name typed for each
// file; extensions from the type and creator; collisions resolved with numbered extensions.
//
// Names are built in the program's one-byte character sets (Windows-1252 for long names, code
// page 437 for short ones) and reach the file system as UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarry {

struct CopyContext;

// True when the file system holding dir takes names of 255 characters.
bool LongNamesAvailable(const std::string& dir);
// Gives name the extension ext (lower-cased); a dot followed by more than three characters is
// not taken for the start of an extension.
void SetExtension(std::string& name, std::string_view ext);
// Replaces the extension with three base-32 digits of n.
void MakeUniqueName(std::string& name, uint16_t n);

// The extension part of a Macintosh name: the characters after its last dot when one to three
// of them follow it, blanks trimmed; nothing otherwise.
std::optional<std::string> MacExtension(std::string_view macName);

// The PC name (in its one-byte set) for a file in naming modes 0 and 1, before any collision.
// typeCreator is the record's 8 bytes of type and creator.
std::string PcFileNameFor(const CopyContext& context, std::string_view macName, std::string_view typeCreator);
// The PC name (UTF-8) of a folder's directory; a long one from `unicodeName` when it is given
// (see PcNameForm).
std::string PcDirectoryNameFor(const CopyContext& context, std::string_view macName, std::string_view unicodeName = {});

struct PcFile {
    int fd = -1;
    std::string name;  // UTF-8, in the current directory
    // AppleDouble's second file: the same name behind its prefix.
    int sidecarFd = -1;
    std::string sidecarName;
};

// What a binary format asks of a PC name beyond the plain one: an extension that says what the
// file holds ("hqx"), or a second file whose name is the first one's behind a prefix ("._").
struct PcNameForm {
    std::string_view addedExtension;
    std::string_view sidecarPrefix;
    // The volume's own Unicode name (UTF-8, NFC), for a format whose names are Unicode (HFS+):
    // a long name is then made from it rather than through the Macintosh Roman tables, so that
    // no character of it is lost. Short names are made from the Macintosh name all the same.
    std::string_view unicodeName;
    // No extension from the type: a symbolic link's type says nothing of what it names, and a
    // link's name should stay the one other links' paths reach it by.
    bool noTypeExtension = false;
};

// Creates the PC file for a Macintosh file in naming modes 0 and 1: trims macName, makes the
// name, picks a free one when it is taken, logs and shows it. Nothing when the file cannot be
// created (a fatal error has then been reported). With long names an added extension follows
// the whole name ("Read Me.txt.hqx"); a short name has room for one extension, so there it
// replaces the type's. A name with a sidecar is taken only when both names are free.
std::optional<PcFile> MakePcFileName(const CopyContext& context, std::string& macName, std::string_view typeCreator,
                                     const PcNameForm& form = {});
// Naming mode 2: asks the person for the name and takes at most its first 30 characters.
// Nothing when the file is to be skipped. The typed name is used as typed; a sidecar is made
// beside it.
std::optional<PcFile> AskPcFileName(const CopyContext& context, const std::string& macName, const PcNameForm& form = {});

}  // namespace quarry
