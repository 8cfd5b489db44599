#pragma once
// The independent oracle: what hfsutils (hls, hcopy) says is on an HFS volume. Tests compare
// Quarry's listings and copies with it. Every call mounts the image afresh with hmount in a
// private HOME (hfsutils keeps its "current volume" in $HOME/.hcwd) and TZ=UTC, so calls do not
// disturb each other or a developer's own hfsutils session; hmount, hls and hcopy never write to
// the image. A failing tool fails the calling test (ADD_FAILURE with the tool's message) and the
// call returns an empty result.
//
// Paths are hfsutils paths from the root: ":" is the root, ":Docs:Old Drafts" a folder inside
// it (a missing leading colon is supplied; "" is the root too). Names are raw Macintosh Roman
// bytes; characters that hfsutils would take as wildcards are escaped here, so any HFS name can
// be given as it is.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/fixture_path.h"

namespace quarry::test {

// A date as hls prints it: "Mmm dd hh:mm" for dates from six months ago to an hour ahead of
// now, "Mmm dd  yyyy" for any other date. Only what was shown is set.
struct HlsDate {
    std::string text;  // the 12 characters hls printed
    int month = 0;     // 1..12
    int day = 0;
    int hour = -1;  // when a time was shown
    int minute = -1;
    int year = -1;  // when a year was shown
};

struct OracleEntry {
    std::string name;  // raw Macintosh bytes, exactly as stored
    bool isFolder = false;
    bool invisible = false;  // Finder flag "invisible" (hls shows 'i')
    bool locked = false;     // file locked (hls shows 'F')
    uint32_t catalogId = 0;  // file or folder ID
    std::string type;        // files: four characters
    std::string creator;
    uint32_t dataSize = 0;  // files: logical lengths of the forks
    uint32_t rsrcSize = 0;
    uint32_t valence = 0;  // folders: number of entries
    HlsDate modified;
    HlsDate created;
};

// Chooses the partition hmount opens: kAnyPartition lets hmount take the only HFS partition (or
// the bare volume); 1, 2, ... name the first, second, ... HFS partition of a partition map.
constexpr int kAnyPartition = -1;

// The entries of the folder at macPath (or the one file at macPath), invisible ones included.
// The order is hls's: it sorts by name with the C library's strcasecmp over the raw bytes, even
// when told not to sort, so the order matches the catalog's only for names whose characters
// sort alike in both (plain letters, digits, spaces); a name with a byte of 0x80 or above comes
// after every ASCII name. Use catalogId to pair entries with catalog records.
std::vector<OracleEntry> hlsList(const std::string& image, const std::string& macPath,
                                 int partition = kAnyPartition);

// What hfsutils finds when it looks each path up by name (hls -d -i): the catalog ID of the
// entry, or nothing when it finds none. Its lookup walks the B-tree by its own comparison of
// names, so this shows where hfsutils expects a name to sit in the catalog order.
std::vector<std::optional<uint32_t>> hlsLookup(const std::string& image, const std::vector<std::string>& macPaths);

// The data fork of the file at macPath, byte for byte (hcopy -r).
std::string hcopyData(const std::string& image, const std::string& macPath, int partition = kAnyPartition);

// The file at macPath as a MacBinary II file, as hcopy -m writes it.
std::string hcopyMacBinary(const std::string& image, const std::string& macPath,
                           int partition = kAnyPartition);

// The volume name that hmount reports.
std::string hmountVolumeName(const std::string& image, int partition = kAnyPartition);

// Parses lines of `hls -l -i` (exposed for the oracle's own tests). Lines that do not have the
// long format are reported with ADD_FAILURE.
std::vector<OracleEntry> parseHlsLong(const std::string& output, bool creationDates);

}  // namespace quarry::test
