#pragma once
// What 7-Zip and Sleuth Kit say of an HFS+ volume, for the HFS+ reader's tests: 7-Zip's listing
// (paths, dates), Sleuth Kit's recursive walk (catalog order and IDs) and its view of one record
// (type, creator, text encoding, the data fork's blocks).

#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hfsplus/catalog.h"
#include "support/run_process.h"

namespace quarry::test {

inline const std::vector<std::string> kOracleEnvironment{"LC_ALL=C.UTF-8", "TZ=UTC"};

struct SevenZipEntry {
    std::string created, modified;  // "YYYY-MM-DD HH:MM:SS", UTC
};

// Path → dates, from `7zz l -slt -tHFS image`; the first path element is the volume's name.
inline std::map<std::string, SevenZipEntry> sevenZipListing(const std::string& image) {
    const std::vector<std::string> argv{"7zz", "l", "-slt", "-tHFS", image};
    ProcessResult r = runProcess(argv, kOracleEnvironment);
    std::map<std::string, SevenZipEntry> entries;
    if (!r.succeeded()) {
        ADD_FAILURE() << r.describe(argv);
        return entries;
    }
    std::istringstream in(r.out.substr(std::min(r.out.size(), r.out.find("----------"))));
    std::string line, path;
    auto value = [&](const char* label) -> std::optional<std::string> {
        const std::string prefix = std::string(label) + " = ";
        if (line.rfind(prefix, 0) != 0) return std::nullopt;
        return line.substr(prefix.size());
    };
    while (std::getline(in, line)) {
        if (auto v = value("Path")) path = *v;
        else if (path.empty()) continue;
        else if (auto v = value("Created")) entries[path].created = *v;
        else if (auto v = value("Modified")) entries[path].modified = *v;
    }
    return entries;
}

// "YYYY-MM-DD HH:MM:SS" of an instant, in UTC, as the oracles print dates.
inline std::string utcText(hfsplus::MacInstant t) {
    const std::time_t secs = t.time_since_epoch().count();
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

// One line of `fls -r`: 'd' or 'r', and the catalog ID, in the order Sleuth Kit walks them.
struct FlsEntry {
    char kind = 0;
    uint32_t id = 0;
    bool operator==(const FlsEntry&) const = default;
};
inline std::vector<FlsEntry> sleuthKitWalk(const std::string& image, uint64_t partitionStart) {
    const std::vector<std::string> argv{"fls", "-r", "-f", "hfs", "-o", std::to_string(partitionStart / 512), image};
    ProcessResult r = runProcess(argv, kOracleEnvironment);
    std::vector<FlsEntry> walk;
    if (!r.succeeded()) {
        ADD_FAILURE() << r.describe(argv);
        return walk;
    }
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        // "r/r 16:\tname", "+ d/d 18:\tname" one level down, and so on.
        const size_t at = line.find_first_of("dr");
        if (at == std::string::npos || line.find('\t') == std::string::npos) continue;
        const uint32_t id = static_cast<uint32_t>(std::stoul(line.substr(at + 4)));
        // The special files that Sleuth Kit shows in the root are no entries of the catalog.
        if (id < hfsplus::cnid::kFirstUser) continue;
        walk.push_back({line[at], id});
    }
    return walk;
}

// `istat`'s lines for one catalog ID.
inline std::string sleuthKitRecord(const std::string& image, uint64_t partitionStart, uint32_t id) {
    const std::vector<std::string> argv{"istat", "-f", "hfs", "-o", std::to_string(partitionStart / 512), image, std::to_string(id)};
    ProcessResult r = runProcess(argv, kOracleEnvironment);
    if (!r.succeeded()) ADD_FAILURE() << r.describe(argv);
    return r.out;
}

}  // namespace quarry::test
