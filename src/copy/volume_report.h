#pragma once
// The whole volume described for scripts and archives (quarry-cli --json and --dfxml): every
// file and folder in catalog order, each folder before what it holds, with where its forks lie
// on the medium and, when asked, their SHA-256 digests.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "copy/copy_engine.h"
#include "hfs/fork.h"
#include "hfs/volume.h"

namespace quarry {

struct ReportFork {
    uint32_t length = 0;
    std::vector<ForkRun> runs;  // where the fork's bytes lie on the medium
    std::string sha256;         // lower-case hex, when digests were asked for and the fork was read
    std::string fault;          // why the fork's runs or bytes could not be read; empty when they could
};

struct ReportEntry {
    std::vector<std::string> path;  // names from the root, as the program shows them (UTF-8)
    CatalogEntry record;
    bool isFolder() const { return record.type == catrec::kFolder; }
    uint32_t id() const { return record.data32(isFolder() ? catrec::kDirId : catrec::kFileId); }
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

// Visits every entry of the volume below the root.
ReportSummary ReportVolume(const VolumeContext& context, ReportDigests digests,
                           const std::function<void(const ReportEntry&)>& visit);

// A stored HFS date as ISO 8601 wall-clock time ("1995-04-06T16:18:00"), as the Macintosh
// showed it; HFS keeps no time zone.
std::string MacDateIso(uint32_t macSeconds);
// The entry's dates.
uint32_t EntryCreated(const CatalogEntry& e);
uint32_t EntryModified(const CatalogEntry& e);
// The four characters of a type or creator, and the Finder flags, of a file.
std::string FileType(const CatalogEntry& e);
std::string FileCreator(const CatalogEntry& e);
uint16_t FinderFlags(const CatalogEntry& e);

}  // namespace quarry
