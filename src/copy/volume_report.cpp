#include "copy/volume_report.h"

#include <ctime>
#include <memory>
#include <set>

#include "common/charset.h"
#include "copy/sha256_sink.h"

namespace quarry {
namespace {

ReportFork describeFork(MountedVolume& volume, const VolumeEntry& file, ForkKind kind, ReportDigests digests) {
    std::unique_ptr<ForkReader> reader = volume.openFork(file, kind);
    ReportFork fork;
    fork.length = reader->length();
    Result<std::vector<ForkRun>> runs = reader->runs();
    if (!runs) {
        fork.fault = runs.fault();
        return fork;
    }
    fork.runs = std::move(*runs);
    if (digests == ReportDigests::Sha256) {
        Sha256Sink sink;
        if (Status s = reader->copyTo(sink); !s)
            fork.fault = s.fault();
        else
            fork.sha256 = sink.hex();
    }
    return fork;
}

struct Walk {
    MountedVolume& volume;
    const bool& ending;
    ReportDigests digests;
    const std::function<void(const ReportEntry&)>& visit;
    ReportSummary summary;
    // A damaged catalog could name a folder inside itself; each folder is walked once.
    std::set<uint32_t> walked;

    void folder(uint32_t dirID, std::vector<std::string>& path) {
        if (!walked.insert(dirID).second) return;
        std::vector<VolumeEntry> entries;
        if (!volume.visitFolder(dirID, [&](const VolumeEntry& e) {
                entries.push_back(e);
                return true;
            }))
            summary.catalogWhole = false;
        for (const VolumeEntry& e : entries) {
            if (ending) return;
            ReportEntry entry;
            entry.record = e;
            path.push_back(e.name);
            entry.path = path;
            if (!entry.isFolder()) {
                entry.data = describeFork(volume, e, ForkKind::Data, digests);
                entry.rsrc = describeFork(volume, e, ForkKind::Resource, digests);
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

ReportSummary ReportVolume(MountedVolume& volume, const bool& ending, ReportDigests digests,
                           const std::function<void(const ReportEntry&)>& visit) {
    Walk walk{volume, ending, digests, visit, {}, {}};
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

std::string EntryDateIso(const EntryDate& date) {
    return date.clock == EntryDate::Clock::Utc ? MacDateIso(date.macSeconds) + "Z" : MacDateIso(date.macSeconds);
}
std::string FileType(const VolumeEntry& e) { return macNameToUtf8(e.type()); }
std::string FileCreator(const VolumeEntry& e) { return macNameToUtf8(e.creator()); }

}  // namespace quarry
