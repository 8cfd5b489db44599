#include "copy/volume_report.h"

#include <ctime>
#include <memory>
#include <set>

#include "common/charset.h"
#include "copy/sha256_sink.h"
#include "hfs/btree.h"

namespace quarry {
namespace {

constexpr size_t kFinderFlags = catrec::kFinderInfo + 8;  // fdFlags

ReportFork describeFork(const VolumeContext& context, const CatalogEntry& file, uint8_t forkType, ReportDigests digests) {
    const bool rsrc = forkType == kResourceFork;
    const ExtentRecord extents = extentRecordAt(file.data.data() + (rsrc ? catrec::kRsrcExtents : catrec::kDataExtents));
    ReportFork fork;
    fork.length = file.data32(rsrc ? catrec::kRsrcLength : catrec::kDataLength);
    const uint32_t id = file.data32(catrec::kFileId);
    Result<std::vector<ForkRun>> runs = forkRuns(context, extents, id, fork.length, forkType);
    if (!runs) {
        fork.fault = runs.fault();
        return fork;
    }
    fork.runs = std::move(*runs);
    if (digests == ReportDigests::Sha256) {
        Sha256Sink sink;
        if (Status s = readForkToFile(context, extents, sink, id, fork.length, forkType); !s)
            fork.fault = s.fault();
        else
            fork.sha256 = sink.hex();
    }
    return fork;
}

struct Walk {
    const VolumeContext& context;
    ReportDigests digests;
    const std::function<void(const ReportEntry&)>& visit;
    ReportSummary summary;
    // A damaged catalog could name a folder inside itself; each folder is walked once.
    std::set<uint32_t> walked;

    void folder(uint32_t dirID, std::vector<std::string>& path) {
        if (!walked.insert(dirID).second) return;
        std::vector<CatalogEntry> entries;
        if (!walkFolder(context.volume, dirID, [&](const uint8_t* key) {
                entries.push_back(CatalogEntry::fromKey(key));
                return true;
            }))
            summary.catalogWhole = false;
        for (const CatalogEntry& e : entries) {
            if (context.ending) return;
            if (e.type != catrec::kFile && e.type != catrec::kFolder) continue;
            ReportEntry entry;
            entry.record = e;
            path.push_back(macNameToUtf8(e.name));
            entry.path = path;
            if (!entry.isFolder()) {
                entry.data = describeFork(context, e, kDataFork, digests);
                entry.rsrc = describeFork(context, e, kResourceFork, digests);
                summary.forkFaults += !entry.data.fault.empty() + !entry.rsrc.fault.empty();
            }
            ++summary.entries;
            visit(entry);
            if (entry.isFolder()) folder(entry.id(), path);
            path.pop_back();
        }
    }
};

}  // namespace

ReportSummary ReportVolume(const VolumeContext& context, ReportDigests digests,
                           const std::function<void(const ReportEntry&)>& visit) {
    Walk walk{context, digests, visit, {}, {}};
    std::vector<std::string> path;
    walk.folder(kRootDirId, path);
    return walk.summary;
}

std::string MacDateIso(uint32_t macSeconds) {
    const time_t wall = static_cast<time_t>(int64_t{macSeconds} - int64_t{kMacEpochOffset});
    std::tm tm{};
    gmtime_r(&wall, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return text;
}

uint32_t EntryCreated(const CatalogEntry& e) {
    return e.data32(e.type == catrec::kFolder ? catrec::kDirCreated : catrec::kFileCreated);
}
uint32_t EntryModified(const CatalogEntry& e) {
    return e.data32(e.type == catrec::kFolder ? catrec::kDirModified : catrec::kFileModified);
}
std::string FileType(const CatalogEntry& e) {
    return macNameToUtf8(std::string_view(reinterpret_cast<const char*>(e.data.data() + catrec::kFileType), 4));
}
std::string FileCreator(const CatalogEntry& e) {
    return macNameToUtf8(std::string_view(reinterpret_cast<const char*>(e.data.data() + catrec::kFileCreator), 4));
}
uint16_t FinderFlags(const CatalogEntry& e) { return loadBE16(e.data.data() + kFinderFlags); }

}  // namespace quarry
