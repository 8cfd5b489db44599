#include "support/hfs_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/image_builder.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

// One hmount of a private copy of an image in a HOME of its own; the tools run afterwards see
// that volume.
class Volume {
public:
    // inPlace mounts the image itself, for tools that change it.
    Volume(const std::string& image, int partition, bool inPlace = false) {
        std::error_code ec;
        if (!inPlace) std::filesystem::copy_file(image, home_.file("medium"), ec);
        if (ec) ADD_FAILURE() << "cannot copy " << image << ": " << ec.message();
        std::vector<std::string> argv{"hmount", inPlace ? image : home_.file("medium")};
        if (partition != kAnyPartition) argv.push_back(std::to_string(partition));
        mountMessage = tool(argv).value_or("");
        mounted = !mountMessage.empty();
    }

    // Runs a tool; a failure is reported and yields nothing.
    std::optional<std::string> tool(const std::vector<std::string>& argv) const {
        ProcessResult r = runProcess(argv, {"HOME=" + home_.path(), "TZ=UTC", "LC_ALL=C"});
        if (r.succeeded()) return r.out;
        ADD_FAILURE() << r.describe(argv);
        return std::nullopt;
    }

    std::string hcopy(const char* mode, const std::string& path) const {
        return mounted && tool({"hcopy", mode, path, home_.file("copied")}) ? slurp(home_.file("copied")) : "";
    }

    bool mounted = false;
    std::string mountMessage;

private:
    TempDir home_;
};

// hfsutils expands *, ?, [...] and {a,b} in paths (its own glob); a backslash makes the next
// character literal. A path with a colon but none in front would start with a volume name.
std::string literalPath(const std::string& macPath) {
    std::string escaped = macPath.empty() || macPath.front() != ':' ? ":" : "";
    for (char c : macPath) {
        if (c == '\\' || c == '*' || c == '?' || c == '[' || c == '{') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// A number in a fixed column of hls's output; -1 when the column holds anything else.
long number(const std::string& line, size_t at, size_t width) {
    const size_t start = line.find_first_not_of(' ', at);
    if (start >= at + width) return -1;
    long value = 0;
    for (size_t i = start; i < at + width; ++i) {
        if (line[i] < '0' || line[i] > '9') return -1;
        value = value * 10 + (line[i] - '0');
    }
    return value;
}

// "Mmm dd hh:mm" or "Mmm dd  yyyy", as hls cuts it out of ctime().
bool parseDate(const std::string& text, HlsDate& date) {
    static const std::string kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const size_t month = kMonths.find(text.substr(0, 3));
    date = {text, month % 3 == 0 && month != std::string::npos ? static_cast<int>(month / 3 + 1) : 0,
            static_cast<int>(number(text, 4, 2))};
    if (text[9] == ':') {
        date.hour = static_cast<int>(number(text, 7, 2));
        date.minute = static_cast<int>(number(text, 10, 2));
    } else {
        date.year = static_cast<int>(number(text, 7, 5));
    }
    return date.month > 0 && date.day > 0 && text[3] == ' ' && text[6] == ' ' &&
           (text[9] == ':' ? date.hour >= 0 && date.minute >= 0 : date.year >= 0);
}

// The lines of `hls -l -i`, in fixed columns:
//   "%7lu " then "d%c %9u item%c               DATE NAME" for a folder
//                or "%c%c %4s/%4s %9lu %9lu DATE NAME" for a file (rsrc size before data size).
std::vector<OracleEntry> parseHlsLong(const std::string& output, bool creationDates) {
    std::vector<OracleEntry> entries;
    for (size_t start = 0, end; start < output.size(); start = end + 1) {
        end = std::min(output.find('\n', start), output.size());
        const std::string line = output.substr(start, end - start);
        if (line.empty()) continue;
        OracleEntry e;
        const long id = line.size() > 54 ? number(line, 0, 7) : -1;
        e.isFolder = line.size() > 54 && line[8] == 'd';
        e.locked = line.size() > 54 && line[8] == 'F';
        e.invisible = line.size() > 54 && line[9] == 'i';
        bool ok = id > 0 && line[7] == ' ' && std::string("dfF").find(line[8]) != std::string::npos &&
                  (line[9] == ' ' || line[9] == 'i') && line[10] == ' ' && line[40] == ' ' && line[53] == ' ' &&
                  parseDate(line.substr(41, 12), creationDates ? e.created : e.modified);
        if (ok && e.isFolder) {
            e.valence = static_cast<uint32_t>(number(line, 11, 9));
            ok = number(line, 11, 9) >= 0 && line.compare(20, 5, " item") == 0;
        } else if (ok) {
            e.type = line.substr(11, 4);
            e.creator = line.substr(16, 4);
            e.rsrcSize = static_cast<uint32_t>(number(line, 20, 10));
            e.dataSize = static_cast<uint32_t>(number(line, 30, 10));
            ok = line[15] == '/' && number(line, 20, 10) >= 0 && number(line, 30, 10) >= 0;
        }
        e.catalogId = static_cast<uint32_t>(id);
        if (ok) e.name = line.substr(54);
        if (ok) entries.push_back(std::move(e));
        else ADD_FAILURE() << "unexpected hls line: \"" << line << "\"";
    }
    return entries;
}

}  // namespace

std::vector<OracleEntry> hlsList(const std::string& image, const std::string& macPath, int partition) {
    Volume volume(image, partition);
    if (!volume.mounted) return {};
    const std::string path = literalPath(macPath);
    // Both runs sort by name: -c alone would sort by creation date, -U after it restores names.
    auto byModification = volume.tool({"hls", "-a", "-l", "-i", "-N", path});
    auto byCreation = volume.tool({"hls", "-a", "-l", "-c", "-U", "-i", "-N", path});
    if (!byModification || !byCreation) return {};
    std::vector<OracleEntry> entries = parseHlsLong(*byModification, false);
    const std::vector<OracleEntry> created = parseHlsLong(*byCreation, true);
    for (auto& e : entries) {
        const auto c = std::find_if(created.begin(), created.end(), [&](const auto& c) { return c.catalogId == e.catalogId; });
        if (c == created.end()) ADD_FAILURE() << "hls -c did not list catalog ID " << e.catalogId;
        else e.created = c->created;
    }
    // For a path that names a file, hls prints the path as given rather than the name.
    const std::string asGiven = (macPath.empty() || macPath.front() != ':' ? ":" : "") + macPath;
    if (entries.size() == 1 && !entries[0].isFolder && entries[0].name == asGiven)
        entries[0].name = asGiven.substr(asGiven.rfind(':') + 1);
    return entries;
}

std::vector<std::optional<uint32_t>> hlsLookup(const std::string& image, const std::vector<std::string>& macPaths) {
    Volume volume(image, kAnyPartition);
    std::vector<std::optional<uint32_t>> ids;
    for (const std::string& path : macPaths) {
        // hls reports a name it cannot find on standard error and still exits with 0.
        const std::string out = volume.mounted ? volume.tool({"hls", "-d", "-i", literalPath(path)}).value_or("") : "";
        const long id = out.size() > 8 ? number(out, 0, 7) : -1;
        ids.push_back(id > 0 ? std::optional<uint32_t>(static_cast<uint32_t>(id)) : std::nullopt);
    }
    return ids;
}

std::vector<std::string> hlsTree(const std::string& image) {
    Volume volume(image, kAnyPartition);
    std::vector<std::string> lines;
    if (!volume.mounted) return lines;
    auto walk = [&](auto& self, const std::string& folder, int depth) -> void {
        const auto out = volume.tool({"hls", "-a", "-l", "-i", "-N", literalPath(folder)});
        if (!out || depth > 64) return;
        for (const OracleEntry& e : parseHlsLong(*out, false)) {
            const std::string path = folder + ":" + e.name;
            if (e.isFolder) {
                lines.push_back(path + "\td " + std::to_string(e.valence));
                self(self, path, depth + 1);
            } else {
                lines.push_back(path + "\tf " + std::to_string(e.dataSize) + " " + std::to_string(e.rsrcSize));
            }
        }
    };
    walk(walk, "", 0);
    std::sort(lines.begin(), lines.end());
    return lines;
}

bool hfsutilsChange(const std::string& image, const std::vector<std::vector<std::string>>& commands) {
    Volume volume(image, kAnyPartition, true);
    bool ok = volume.mounted;
    for (const auto& argv : commands) ok = ok && volume.tool(argv).has_value();
    return ok && volume.tool({"humount"}).has_value();
}

uint64_t hmountFreeBytes(const std::string& image) {
    // hmount says: Volume has N bytes free
    const std::string text = Volume(image, kAnyPartition).mountMessage;
    const size_t at = text.find("Volume has ");
    return at == std::string::npos ? 0 : std::stoull(text.substr(at + 11));
}

std::string hcopyData(const std::string& image, const std::string& macPath) {
    return Volume(image, kAnyPartition).hcopy("-r", literalPath(macPath));
}

std::string hcopyMacBinary(const std::string& image, const std::string& macPath) {
    return Volume(image, kAnyPartition).hcopy("-m", literalPath(macPath));
}

std::vector<std::string> hcopyMacBinaries(const std::string& image, const std::vector<std::string>& macPaths) {
    const Volume volume(image, kAnyPartition);
    std::vector<std::string> copies;
    for (const std::string& path : macPaths) copies.push_back(volume.hcopy("-m", literalPath(path)));
    return copies;
}

std::string hcopyBinHex(const std::string& image, const std::string& macPath) {
    return Volume(image, kAnyPartition).hcopy("-b", literalPath(macPath));
}

std::string hcopyResource(const std::string& image, const std::string& macPath) {
    // After the 128-byte header and the data fork padded to a multiple of 128 bytes.
    const std::string mb = hcopyMacBinary(image, macPath);
    return mb.size() < 128 ? std::string() : mb.substr(128 + (be32(mb, 83) + 127) / 128 * 128, be32(mb, 87));
}

std::string hmountVolumeName(const std::string& image, int partition) {
    // hmount says: Volume name is "NAME"  (with " (locked)" after it for a locked volume)
    const std::string text = Volume(image, partition).mountMessage;
    const std::string lead = "Volume name is \"";
    const size_t start = text.find(lead), end = text.find('\n', start), close = text.rfind('"', end);
    if (start == std::string::npos || end == std::string::npos || close < start + lead.size()) {
        ADD_FAILURE() << "hmount printed no volume name: " << text;
        return {};
    }
    return text.substr(start + lead.size(), close - start - lead.size());
}

}  // namespace quarry::test
