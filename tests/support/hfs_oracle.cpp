#include "support/hfs_oracle.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

// One hmount of an image in a HOME of its own; the tools run afterwards see that volume.
class MountedImage {
public:
    // hfsutils locks an image while a tool has it open, and tests run side by side: each mount
    // works on a private copy of the image, so that none has to wait for another.
    MountedImage(const std::string& image, int partition) {
        const std::string copy = home_.file("medium");
        std::error_code ec;
        std::filesystem::copy_file(image, copy, ec);
        if (ec) ADD_FAILURE() << "cannot copy " << image << ": " << ec.message();
        std::vector<std::string> argv{"hmount", copy};
        if (partition != kAnyPartition) argv.push_back(std::to_string(partition));
        mountOutput_ = run(argv);
        mounted_ = mountOutput_.succeeded();
        if (!mounted_) ADD_FAILURE() << mountOutput_.describe(argv);
    }

    bool mounted() const { return mounted_; }
    const std::string& mountMessage() const { return mountOutput_.out; }
    const TempDir& scratch() const { return home_; }

    // Runs a tool; a failure is reported and yields nullopt.
    std::optional<std::string> tool(const std::vector<std::string>& argv) const {
        ProcessResult r = run(argv);
        if (r.succeeded()) return r.out;
        ADD_FAILURE() << r.describe(argv);
        return std::nullopt;
    }

private:
    ProcessResult run(const std::vector<std::string>& argv) const {
        return runProcess(argv, {"HOME=" + home_.path(), "TZ=UTC", "LC_ALL=C"});
    }

    TempDir home_;
    ProcessResult mountOutput_;
    bool mounted_ = false;
};

// hfsutils expands *, ?, [...] and {a,b} in the paths it is given (its own glob, not the
// shell's); a backslash makes the next character literal. A path that does not begin with a
// colon but contains one would be taken as starting with a volume name, so the leading colon is
// supplied.
std::string literalPath(const std::string& macPath) {
    std::string escaped = macPath.empty() || macPath.front() != ':' ? ":" : "";
    for (char c : macPath) {
        if (c == '\\' || c == '*' || c == '?' || c == '[' || c == '{') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "Mmm dd hh:mm" or "Mmm dd  yyyy", as hls cuts it out of ctime().
std::optional<HlsDate> parseDate(std::string_view text) {
    static constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() != 12 || text[3] != ' ' || text[6] != ' ') return std::nullopt;
    auto number = [](std::string_view digits) -> int {
        int value = 0;
        bool any = false;
        for (char c : digits) {
            if (c == ' ' && !any) continue;
            if (c < '0' || c > '9') return -1;
            value = value * 10 + (c - '0');
            any = true;
        }
        return any ? value : -1;
    };
    HlsDate date;
    date.text = std::string(text);
    for (size_t m = 0; m < kMonths.size(); ++m)
        if (text.substr(0, 3) == kMonths[m]) date.month = static_cast<int>(m) + 1;
    date.day = number(text.substr(4, 2));
    if (text[9] == ':') {
        date.hour = number(text.substr(7, 2));
        date.minute = number(text.substr(10, 2));
        if (date.hour < 0 || date.minute < 0) return std::nullopt;
    } else {
        date.year = number(text.substr(7, 5));
        if (date.year < 0) return std::nullopt;
    }
    if (date.month == 0 || date.day < 1) return std::nullopt;
    return date;
}

// A cursor over one output line.
struct LineReader {
    std::string_view line;
    size_t at = 0;
    bool ok = true;

    void expect(std::string_view literal) {
        if (ok && line.substr(at, literal.size()) == literal)
            at += literal.size();
        else
            ok = false;
    }
    char take() {
        if (!ok || at >= line.size()) return ok = false, '\0';
        return line[at++];
    }
    std::string_view take(size_t n) {
        if (!ok || line.size() - at < n) return ok = false, std::string_view{};
        std::string_view s = line.substr(at, n);
        at += n;
        return s;
    }
    void skipSpaces() {
        while (ok && at < line.size() && line[at] == ' ') ++at;
    }
    uint32_t number() {
        skipSpaces();
        uint64_t value = 0;
        size_t start = at;
        while (ok && at < line.size() && line[at] >= '0' && line[at] <= '9')
            value = value * 10 + static_cast<uint64_t>(line[at++] - '0');
        if (at == start || value > UINT32_MAX) ok = false;
        return static_cast<uint32_t>(value);
    }
};

// One line of `hls -l -i`:
//   "%7lu " then "d%c %9u item%c               DATE NAME" for a folder
//                or "%c%c %4s/%4s %9lu %9lu DATE NAME" for a file (rsrc size before data size).
std::optional<OracleEntry> parseLine(std::string_view line, bool creationDates) {
    LineReader r{line};
    OracleEntry e;
    e.catalogId = r.number();
    r.expect(" ");
    char kind = r.take();
    char flag = r.take();
    r.expect(" ");
    if (!r.ok || (kind != 'd' && kind != 'f' && kind != 'F') || (flag != ' ' && flag != 'i'))
        return std::nullopt;
    e.invisible = flag == 'i';
    if (kind == 'd') {
        e.isFolder = true;
        e.valence = r.number();
        r.expect(" item");
        r.take();  // 's' or ' '
        r.skipSpaces();
    } else {
        e.locked = kind == 'F';
        e.type = std::string(r.take(4));
        r.expect("/");
        e.creator = std::string(r.take(4));
        e.rsrcSize = r.number();
        e.dataSize = r.number();
        r.expect(" ");
    }
    std::string_view dateText = r.take(12);
    r.expect(" ");
    if (!r.ok || r.at >= line.size()) return std::nullopt;
    std::optional<HlsDate> date = parseDate(dateText);
    if (!date) return std::nullopt;
    (creationDates ? e.created : e.modified) = *date;
    e.name = std::string(line.substr(r.at));
    return e;
}

}  // namespace

std::vector<OracleEntry> parseHlsLong(const std::string& output, bool creationDates) {
    std::vector<OracleEntry> entries;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string_view line(output.data() + start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        if (auto entry = parseLine(line, creationDates))
            entries.push_back(std::move(*entry));
        else
            ADD_FAILURE() << "unexpected hls line: \"" << line << "\"";
    }
    return entries;
}

std::vector<OracleEntry> hlsList(const std::string& image, const std::string& macPath, int partition) {
    MountedImage volume(image, partition);
    if (!volume.mounted()) return {};
    const std::string path = literalPath(macPath);
    // hls sorts by name in both runs: -c alone would sort by creation date, and -U after it
    // puts the name order back.
    auto byModification = volume.tool({"hls", "-a", "-l", "-i", "-N", path});
    auto byCreation = volume.tool({"hls", "-a", "-l", "-c", "-U", "-i", "-N", path});
    if (!byModification || !byCreation) return {};

    std::vector<OracleEntry> entries = parseHlsLong(*byModification, false);
    std::vector<OracleEntry> created = parseHlsLong(*byCreation, true);
    for (auto& e : entries) {
        bool found = false;
        for (const auto& c : created) {
            if (c.catalogId == e.catalogId) {
                e.created = c.created;
                found = true;
            }
        }
        if (!found) ADD_FAILURE() << "hls -c did not list catalog ID " << e.catalogId;
    }
    // For a path that names a file, hls prints the path as it was given rather than the name.
    const std::string asGiven = macPath.empty() || macPath.front() != ':' ? ":" + macPath : macPath;
    if (entries.size() == 1 && !entries[0].isFolder && entries[0].name == asGiven)
        entries[0].name = asGiven.substr(asGiven.rfind(':') + 1);
    return entries;
}

std::vector<std::optional<uint32_t>> hlsLookup(const std::string& image, const std::vector<std::string>& macPaths) {
    MountedImage volume(image, kAnyPartition);
    std::vector<std::optional<uint32_t>> ids;
    if (!volume.mounted()) return ids;
    for (const std::string& path : macPaths) {
        // hls reports a name it cannot find on standard error and still exits with 0.
        auto out = volume.tool({"hls", "-d", "-i", literalPath(path)});
        LineReader r{out ? std::string_view(*out) : std::string_view{}};
        const uint32_t id = r.number();
        ids.push_back(r.ok ? std::optional<uint32_t>(id) : std::nullopt);
    }
    return ids;
}

namespace {

std::string hcopyOut(const std::string& image, const std::string& macPath, int partition, const char* mode) {
    MountedImage volume(image, partition);
    if (!volume.mounted()) return {};
    const std::string target = volume.scratch().file("copied");
    if (!volume.tool({"hcopy", mode, literalPath(macPath), target})) return {};
    return readWholeFile(target);
}

}  // namespace

std::string hcopyData(const std::string& image, const std::string& macPath, int partition) {
    return hcopyOut(image, macPath, partition, "-r");
}

std::string hcopyMacBinary(const std::string& image, const std::string& macPath, int partition) {
    return hcopyOut(image, macPath, partition, "-m");
}

std::string hmountVolumeName(const std::string& image, int partition) {
    MountedImage volume(image, partition);
    if (!volume.mounted()) return {};
    // hmount says: Volume name is "NAME"  (with " (locked)" after it for a locked volume)
    const std::string& text = volume.mountMessage();
    const std::string_view lead = "Volume name is \"";
    size_t start = text.find(lead);
    size_t end = start == std::string::npos ? start : text.find('\n', start);
    if (start == std::string::npos || end == std::string::npos) {
        ADD_FAILURE() << "hmount printed no volume name: " << text;
        return {};
    }
    start += lead.size();
    size_t close = text.rfind('"', end);
    if (close == std::string::npos || close < start) {
        ADD_FAILURE() << "hmount printed no volume name: " << text;
        return {};
    }
    return text.substr(start, close - start);
}

}  // namespace quarry::test
