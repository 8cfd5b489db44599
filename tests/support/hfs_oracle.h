#pragma once
// The independent oracle: what hfsutils (hls, hcopy, hmount) says is on an HFS volume. Every
// call mounts a private copy of the image with hmount in a private HOME (hfsutils keeps its
// current volume in $HOME/.hcwd and locks the image), with TZ=UTC, so calls running side by side
// do not disturb each other. A failing tool fails the calling test and the call returns an empty
// result.
//
// Paths are hfsutils paths from the root: ":" is the root, ":Docs:Old Drafts" a folder in it
// (a missing leading colon is supplied). Names are raw Macintosh Roman bytes; characters that
// hfsutils would take as wildcards are escaped here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/fixture_path.h"

namespace quarry::test {

// A name without its leading and trailing blanks, as the list's fields and the copy's messages
// show it.
inline std::string trim(std::string_view s) {
    const size_t first = s.find_first_not_of(' ');
    return std::string(first == std::string_view::npos ? "" : s.substr(first, s.find_last_not_of(' ') - first + 1));
}

// A date as hls prints it: "Mmm dd hh:mm" for dates from six months ago to an hour ahead of
// now, "Mmm dd  yyyy" for any other; hour and minute, or year, are -1 when not shown.
struct HlsDate {
    std::string text;  // the 12 characters hls printed
    int month = 0, day = 0, hour = -1, minute = -1, year = -1;
};

struct OracleEntry {
    std::string name;  // raw Macintosh bytes, as stored
    bool isFolder = false;
    bool invisible = false;  // Finder flag "invisible" (hls shows 'i')
    bool locked = false;     // file locked (hls shows 'F')
    uint32_t catalogId = 0;  // file or folder ID
    std::string type, creator;               // files: four characters each
    uint32_t dataSize = 0, rsrcSize = 0;     // files: logical lengths of the forks
    uint32_t valence = 0;                    // folders: number of entries
    HlsDate modified, created;
};

// hmount's partition: -1 lets hmount take the only HFS partition (or the bare volume); 1, 2, ...
// name the first, second, ... HFS partition of a partition map.
constexpr int kAnyPartition = -1;

// The entries of the folder at macPath (or the one file at macPath), invisible ones included, in
// hls's order: by strcasecmp over the raw bytes, which is not the catalog's order. Pair entries
// with catalog records by catalogId.
std::vector<OracleEntry> hlsList(const std::string& image, const std::string& macPath, int partition = kAnyPartition);

// What hfsutils finds when it looks each path up by name through its own B-tree search
// (hls -d -i): the catalog ID, or nothing.
std::vector<std::optional<uint32_t>> hlsLookup(const std::string& image, const std::vector<std::string>& macPaths);

// Every entry of the volume, one line each, sorted: "path<TAB>d valence" for a folder,
// "path<TAB>f dataSize rsrcSize" for a file (paths as ":Docs:Read Me", raw Macintosh bytes).
std::vector<std::string> hlsTree(const std::string& image);
// Mounts the image itself (not a copy) and runs hfsutils commands on it in order, each argv as
// given (hmkdir, hcopy, hdel, hrmdir ...), then unmounts; false after a failure was reported.
bool hfsutilsChange(const std::string& image, const std::vector<std::vector<std::string>>& commands);
// The free bytes hmount reports.
uint64_t hmountFreeBytes(const std::string& image);
// The data fork of the file at macPath (hcopy -r), the file as MacBinary II (hcopy -m), and the
// resource fork held in that MacBinary II file.
std::string hcopyData(const std::string& image, const std::string& macPath);
std::string hcopyMacBinary(const std::string& image, const std::string& macPath);
std::string hcopyResource(const std::string& image, const std::string& macPath);
// Several files as MacBinary II, both forks and the Finder's information, with one mount; a file
// hcopy cannot copy reads as empty.
std::vector<std::string> hcopyMacBinaries(const std::string& image, const std::vector<std::string>& macPaths);
// The file as BinHex 4.0 (hcopy -b).
std::string hcopyBinHex(const std::string& image, const std::string& macPath);

// The volume name that hmount reports.
std::string hmountVolumeName(const std::string& image, int partition = kAnyPartition);

}  // namespace quarry::test
