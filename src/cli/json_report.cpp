#include "cli/json_report.h"

#include <nlohmann/json.hpp>

namespace quarry::cli {

ReportSummary WriteJsonLines(MountedVolume& volume, const bool& ending, ReportDigests digests, std::FILE* out,
                             const std::function<void(const std::string&)>& fault) {
    return ReportVolume(volume, ending, digests, [&](const ReportEntry& e) {
        nlohmann::ordered_json line;
        line["path"] = e.path;
        line["kind"] = e.isFolder() ? "folder" : "file";
        line["id"] = e.id();
        if (e.isFolder()) {
            line["items"] = e.record.valence;
        } else {
            line["data"] = e.data.length;
            line["rsrc"] = e.rsrc.length;
            line["type"] = FileType(e.record);
            line["creator"] = FileCreator(e.record);
            line["flags"] = e.record.finderFlags();
            // An HFS+ symbolic link also says what it names.
            if (e.record.kind == EntryKind::SymbolicLink) line["link"] = e.record.linkTarget;
        }
        line["created"] = EntryDateIso(e.record.created);
        line["modified"] = EntryDateIso(e.record.modified);
        if (!e.isFolder() && digests == ReportDigests::Sha256) {
            // A fork that could not be read has no digest; the fault says why.
            if (!e.data.sha256.empty()) line["sha256_data"] = e.data.sha256;
            if (!e.rsrc.sha256.empty()) line["sha256_rsrc"] = e.rsrc.sha256;
        }
        for (const ReportFork* fork : {&e.data, &e.rsrc})
            if (!fork->fault.empty())
                fault(std::string(fork == &e.data ? "data" : "resource") + " fork of " + line["path"].dump() + ": " + fork->fault);
        // Names that are not valid UTF-8 cannot occur (they come from the character table), but a
        // damaged one is still written rather than dropped.
        const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        std::fputs(text.c_str(), out);
        std::fputc('\n', out);
    });
}

}  // namespace quarry::cli
