#pragma once
// The whole volume described for scripts and archives (quarry-cli --json and --dfxml): every
// file and folder in catalog order, each folder before what it holds, with where its forks lie
// on the medium and, when asked, their SHA-256 digests.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "copy/copy_engine.h"
#include "volume/mounted_volume.h"

namespace quarry {

struct ReportFork {
    uint64_t length = 0;
    std::vector<ForkRun> runs;  // where the fork's bytes lie on the medium
    std::string sha256;         // lower-case hex, when digests were asked for and the fork was read
    std::string fault;          // why the fork's runs or bytes could not be read; empty when they could
};

struct ReportEntry {
    std::vector<std::string> path;  // names from the root, as the program shows them (UTF-8)
    VolumeEntry record;
    bool isFolder() const { return record.isFolder(); }
    uint32_t id() const { return record.id; }
    ReportFork data, rsrc;  // files only
};

enum class ReportDigests { No, Sha256 };

struct ReportSummary {
    uint32_t entries = 0;
    // A folder whose entries could not all be read (damage in the catalog; the volume's damage
    // reports say where), and forks that could not be read.
    bool catalogWhole = true;
    uint32_t forkFaults = 0;
};

// Visits every entry of the volume below the root; stops when `ending` is set.
ReportSummary ReportVolume(MountedVolume& volume, const bool& ending, ReportDigests digests,
                           const std::function<void(const ReportEntry&)>& visit);

// A stored HFS date as ISO 8601 wall-clock time ("1995-04-06T16:18:00"), as the Macintosh
// showed it; HFS keeps no time zone.
std::string MacDateIso(uint32_t macSeconds);
// An entry's date the same way, or as a UTC instant ("2001-02-03T04:05:06Z") where the volume
// keeps one.
std::string EntryDateIso(const EntryDate& date);
// The four characters of a file's type or creator.
std::string FileType(const VolumeEntry& e);
std::string FileCreator(const VolumeEntry& e);

}  // namespace quarry
