// Copies made by quarry-cli, read back by independent tools: MacBinary and the other binary
// formats as lsar, unar and hcopy read them, checksum manifests as sha256sum checks them. The
// forks of every file copied one by one are compared with hcopy's in the walk of
// tests/hfs/listing_oracle_test.cpp.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "common/charset.h"
#include "copy/copy_context.h"
#include "copy/copy_engine.h"
#include "copy/manifest.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;
using test::be32;
using test::trim;

// The entries of lsarContents in lsar's JSON, as it lays them out: each object opens with a line
// "    {" and holds its fields, one a line, six spaces in.
std::vector<std::map<std::string, std::string>> lsarEntries(const std::string& path) {
    const auto r = test::runProcess({"lsar", "-j", path}, {"TZ=UTC"});
    EXPECT_TRUE(r.succeeded()) << r.err;
    std::vector<std::map<std::string, std::string>> entries;
    std::istringstream in(r.out);
    const std::regex field("      \"(\\w+)\": \"?([^\"]*?)\"?,?");
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (line == "    {") entries.emplace_back();
        else if (!entries.empty() && std::regex_match(line, m, field)) entries.back()[m[1]] = m[2];
    }
    return entries;
}

std::string utcDate(int64_t unixSeconds) {
    const time_t t = static_cast<time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &tm);
    return text;
}

// A file of a fixture's root folder as hfsutils reads it: the forks and hcopy's MacBinary II
// header, which carries the Finder information and the dates.
struct Original {
    test::OracleEntry entry;
    std::string data, rsrc, macBinary;
    uint16_t finderFlags() const { return static_cast<uint16_t>(static_cast<uint8_t>(macBinary[73]) << 8 | static_cast<uint8_t>(macBinary[101])); }
};

std::vector<Original> originals(const std::string& image) {
    std::vector<Original> files;
    for (const auto& o : test::hlsList(image, ":")) {
        if (o.isFolder) continue;
        Original f{o, "", "", ""};
        if (o.name.find(':') != std::string::npos) {
            // hfsutils cannot name this file, so formats.hfs's builder says what it holds:
            // slash.txt as the data fork, typed TEXT/ttxt, no Finder flags.
            f.data = "A slash is an ordinary character in an HFS name.\r";
            f.macBinary.assign(128, '\0');
        } else {
            f.data = test::hcopyData(image, ":" + o.name);
            f.macBinary = test::hcopyMacBinary(image, ":" + o.name);
            f.rsrc = test::hcopyResource(image, ":" + o.name);
        }
        files.push_back(f);
    }
    return files;
}

// A name as lsar -j shows it when it takes it for no known character set: bytes past ASCII
// as "%8e".
std::string lsarName(const std::string& macName) {
    std::string shown;
    for (const unsigned char c : macName) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02x", c);
        shown += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(hex);
    }
    return shown;
}

// How lsar shows a format's dates: MacBinary as stored; AppleSingle and AppleDouble as seconds
// from 2000, which this lsar reads unsigned (1965 shows as 2101); BinHex carries none.
enum class LsarDates { AsStored, UnsignedFrom2000, None };

struct FormatCase {
    const char* option;
    const char* extension;  // added to the PC name
    LsarDates dates;
    bool lowFlagByte;        // the colour label and the other low Finder flag bits survive
    // The hcopy mode whose file is byte for byte ours (MacBinary I: see below), or null. MacBinary
    // III, which hcopy does not write, goes through hcopy -m into a volume instead.
    const char* sameAsHcopy;
};

constexpr FormatCase kFormats[] = {
    {"mb1", "", LsarDates::AsStored, false, "-m"},
    {"mb2", "", LsarDates::AsStored, true, "-m"},
    {"mb3", "", LsarDates::AsStored, true, nullptr},
    {"applesingle", ".as", LsarDates::UnsignedFrom2000, true, nullptr},
    {"appledouble", "", LsarDates::UnsignedFrom2000, true, nullptr},
    {"binhex", ".hqx", LsarDates::None, true, "-b"},
};

std::string lsarDate(LsarDates rule, uint32_t macSeconds) {
    if (rule == LsarDates::AsStored) return utcDate(int64_t{macSeconds} - 2082844800);
    const uint32_t from2000 = static_cast<uint32_t>(int64_t{macSeconds} - 3029529600);
    return utcDate(int64_t{from2000} + 946684800);
}

// An AppleSingle file or AppleDouble header file parsed by the layout Apple published: magic
// number, version 2, the entry table, and each entry's bytes: real name, dates (seconds from
// 2000, signed), Finder information, resource fork and, in AppleSingle, the data fork.
void expectAppleFile(const std::string& bytes, const Original& f, bool single) {
    ASSERT_GE(bytes.size(), 26u);
    EXPECT_EQ(be32(bytes, 0), single ? 0x00051600u : 0x00051607u);
    EXPECT_EQ(be32(bytes, 4), 0x00020000u);
    EXPECT_EQ(bytes.substr(8, 16), std::string(16, '\0'));
    const size_t count = static_cast<uint8_t>(bytes[24]) << 8 | static_cast<uint8_t>(bytes[25]);
    std::map<uint32_t, std::string> entry;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t id = be32(bytes, 26 + 12 * i), offset = be32(bytes, 30 + 12 * i), length = be32(bytes, 34 + 12 * i);
        ASSERT_LE(uint64_t{offset} + length, bytes.size()) << "entry " << id;
        entry[id] = bytes.substr(offset, length);
    }
    EXPECT_EQ(entry.count(1), single ? 1u : 0u);
    EXPECT_EQ(entry[1], single ? f.data : "");
    EXPECT_EQ(entry[2], f.rsrc);
    EXPECT_EQ(entry[3], f.entry.name);
    ASSERT_EQ(entry[9].size(), 32u);
    EXPECT_EQ(entry[9].substr(0, 8), f.entry.type + f.entry.creator);
    if (f.entry.name.find(':') != std::string::npos) return;
    // Flags, location and dates as hcopy's MacBinary header has them.
    EXPECT_EQ(entry[9].substr(8, 2), f.macBinary.substr(73, 1) + f.macBinary.substr(101, 1));
    EXPECT_EQ(entry[9].substr(10, 4), f.macBinary.substr(75, 4));
    ASSERT_EQ(entry[8].size(), 16u);
    for (const size_t at : {0, 4}) {
        const auto from2000 = static_cast<int32_t>(be32(entry[8], at));
        EXPECT_EQ(int64_t{from2000} + 3029529600, be32(f.macBinary, 91 + at)) << "date " << at / 4;
    }
    EXPECT_EQ(be32(entry[8], 12), 0x80000000u);  // no access date
}

// Every root file of the fixtures in every binary format, read back by lsar (type, creator,
// Finder flags, fork lengths, dates) and unar (fork bytes), AppleSingle and AppleDouble also by
// their published layout; the MacBinary I and II and BinHex files are also byte for byte what
// hcopy writes, and the MacBinary III ones go into a fresh volume through hcopy and come out
// again as hcopy's MacBinary II of the original.
TEST(BinaryFormats, ReadBackByLsarUnarAndHfsutils) {
    for (const char* fixture : {"basic.hfs", "formats.hfs"}) {
        const std::string image = test::fixturePath(fixture);
        const std::vector<Original> files = originals(image);
        for (const FormatCase& format : kFormats) {
            SCOPED_TRACE(std::string(fixture) + " " + format.option);
            test::TempDir target;
            const auto r = test::runCli({"--binary-format", format.option, "--to", target.path(), image, "COPY /B /F *"});
            ASSERT_TRUE(r.succeeded()) << r.err;
            const auto copies = test::copiesReported(r.out);
            const bool pair = std::string(format.option) == "appledouble";
            test::TempDir fresh;
            const std::string freshImage = fresh.file("fresh.hfs");
            std::vector<std::vector<std::string>> imports;
            for (const Original& f : files) {
                const test::OracleEntry& o = f.entry;
                SCOPED_TRACE(o.name);
                const auto it = copies.find(trim(macNameToUtf8(o.name)));
                ASSERT_NE(it, copies.end()) << r.out;
                const std::string pc = it->second;
                ASSERT_TRUE(pc.size() > std::strlen(format.extension) &&
                            pc.compare(pc.size() - std::strlen(format.extension), std::string::npos, format.extension) == 0)
                    << pc;
                const std::string path = target.file(pc);
                const std::string described = pair ? target.file("._" + pc) : path;
                const auto entries = lsarEntries(described);
                ASSERT_FALSE(entries.empty()) << "lsar does not read " << described;
                const auto& first = entries[0];
                // lsar guesses the name's character set from the name itself.
                const std::string name = o.name.substr(o.name.find_first_not_of(' '));
                EXPECT_TRUE(first.at("XADFileName") == lsarName(name) || first.at("XADFileName") == macNameToUtf8(name))
                    << first.at("XADFileName");
                EXPECT_EQ(first.at("XADFileType"), std::to_string(be32(o.type, 0)));
                EXPECT_EQ(first.at("XADFileCreator"), std::to_string(be32(o.creator, 0)));
                const uint16_t flags = format.lowFlagByte ? f.finderFlags() : f.finderFlags() & 0xFF00;
                // lsar leaves zero Finder flags of AppleSingle out.
                EXPECT_EQ(first.count("XADFinderFlags") ? first.at("XADFinderFlags") : "0", std::to_string(flags));
                // lsar lists a fork only when it holds bytes.
                uint64_t data = 0, rsrc = 0;
                for (const auto& e : entries) (e.count("XADIsResourceFork") ? rsrc : data) = std::stoull(e.at("XADFileSize"));
                EXPECT_EQ(rsrc, f.rsrc.size());
                if (!pair) {
                    EXPECT_EQ(data, f.data.size());
                }
                if (format.dates != LsarDates::None && f.entry.name.find(':') == std::string::npos) {
                    EXPECT_EQ(first.at("XADCreationDate"), lsarDate(format.dates, be32(f.macBinary, 91)));
                    EXPECT_EQ(first.at("XADLastModificationDate"), lsarDate(format.dates, be32(f.macBinary, 95)));
                }
                if (format.dates == LsarDates::UnsignedFrom2000) expectAppleFile(test::slurp(described), f, !pair);
                if (pair) {
                    EXPECT_EQ(test::slurp(path), f.data);  // the data fork is the plain file
                    continue;
                }
                // unar takes the forks apart again: the data fork as the file, the resource
                // fork at the end of an AppleDouble ".rsrc" beside it.
                test::TempDir out;
                const auto u = test::runProcess({"unar", "-q", "-f", "-k", "visible", "-o", out.path(), path}, {"TZ=UTC"});
                ASSERT_TRUE(u.succeeded()) << u.err;
                std::string dataBytes, rsrcBytes;
                for (const auto& e : fs::directory_iterator(out.path())) {
                    const std::string content = test::slurp(e.path());
                    if (e.path().extension() == ".rsrc") rsrcBytes = content;
                    else dataBytes = content;
                }
                EXPECT_EQ(dataBytes, f.data);
                ASSERT_GE(rsrcBytes.size(), f.rsrc.size());
                EXPECT_EQ(rsrcBytes.substr(rsrcBytes.size() - f.rsrc.size()), f.rsrc);
                if (o.name.find(':') != std::string::npos) continue;  // hfsutils cannot name it
                if (format.sameAsHcopy) {
                    const std::string ours = test::slurp(path);
                    std::string theirs = std::string(format.sameAsHcopy) == "-m" ? f.macBinary : test::hcopyBinHex(image, ":" + o.name);
                    if (std::string(format.option) == "mb1") {
                        // hcopy's MacBinary II less what only II has (bytes 101-127: the low byte of
                        // the Finder flags, lengths, version, CRC), and less the padding after
                        // the last fork; byte 74 stays zero so that readers take it for MacBinary.
                        theirs.replace(101, 27, 27, '\0');
                        theirs.resize(std::min(theirs.size(), ours.size()));
                    }
                    EXPECT_TRUE(ours == theirs) << pc << " differs from hcopy " << format.sameAsHcopy;
                }
                if (std::string(format.option) == "mb3") imports.push_back({"hcopy", "-m", path, ":"});
            }
            if (imports.empty()) continue;
            std::ofstream(freshImage, std::ios::binary) << std::string(12 << 20, '\0');
            const auto made = test::runProcess({"hformat", "-l", "Fresh", freshImage}, {"HOME=" + fresh.path()});
            ASSERT_TRUE(made.succeeded()) << made.err;
            ASSERT_TRUE(test::hfsutilsChange(freshImage, imports));
            for (const Original& f : files) {
                if (f.entry.name.find(':') != std::string::npos) continue;
                const std::string name = f.entry.name.substr(f.entry.name.find_first_not_of(' '));
                EXPECT_TRUE(test::hcopyMacBinary(freshImage, ":" + name) == f.macBinary) << f.entry.name << " changed on its way through hcopy";
            }
        }
    }
}

// sha256sum -c --strict on manifest, run in dir as a person checking a copy would.
test::ProcessResult sha256sumCheck(const std::string& dir, const std::string& manifest) {
    return test::runProcess({"sh", "-c", "cd \"$1\" && exec sha256sum -c --strict \"$2\"", "sh", dir, manifest}, {"LC_ALL=C"});
}

// The paths a manifest lists, its escapes undone.
std::vector<std::string> manifestPaths(const std::string& manifest) {
    std::vector<std::string> paths;
    std::istringstream in(test::slurp(manifest));
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(IsManifestLine(line)) << line;
        const bool escaped = !line.empty() && line[0] == '\\';
        std::string path;
        for (size_t i = (escaped ? 1 : 0) + 66; i < line.size(); ++i) {
            if (!escaped || line[i] != '\\' || i + 1 == line.size()) {
                path.push_back(line[i]);
                continue;
            }
            const char c = line[++i];
            path.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c);
        }
        paths.push_back(path);
    }
    return paths;
}

std::set<std::string> regularFiles(const std::string& root) {
    std::set<std::string> out;
    for (const std::string& path : test::tree(root))
        if (fs::is_regular_file(root + "/" + path)) out.insert(path);
    return out;
}

// A whole volume copied with a manifest: sha256sum checks every line from the target, every
// file written has exactly one line, and a byte changed in one file fails that line alone. A
// fork format is one more row: its switch in `copy`, its option in `options`.
TEST(ChecksumManifests, VerifiedBySha256sumForEveryFileWritten) {
    struct Case {
        const char* image;
        std::vector<std::string> options;
        const char* copy;
    };
    const Case cases[] = {
        {"basic.hfs", {"--names", "short"}, "COPY /R *"},
        {"hostile.hfs", {}, "COPY /D *"},
        {"fragmented.hfs", {}, "COPY /B *"},
        // AppleDouble's "._" files have their own lines; BinHex is written as text.
        {"basic.hfs", {"--binary-format", "appledouble"}, "COPY /B *"},
        {"formats.hfs", {"--binary-format", "binhex"}, "COPY /B *"},
    };
    for (const Case& c : cases) {
        std::string what = std::string(c.image) + " " + c.copy;
        for (const std::string& o : c.options) what += " " + o;
        SCOPED_TRACE(what);
        test::TempDir outer;
        const std::string target = outer.file("target"), manifest = outer.file("copy.sha256");
        fs::create_directory(target);
        std::vector<std::string> args = {"--to", target, "--manifest", manifest};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {test::fixturePath(c.image), c.copy});
        const auto r = test::runCli(args);
        ASSERT_TRUE(r.succeeded()) << r.err;

        const std::vector<std::string> paths = manifestPaths(manifest);
        const std::set<std::string> files = regularFiles(target);
        EXPECT_GE(files.size(), 3u);
        EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()), files);
        EXPECT_EQ(paths.size(), files.size()) << "a file listed twice";
        const auto check = sha256sumCheck(target, manifest);
        EXPECT_TRUE(check.succeeded()) << check.out << check.err;

        // One byte changed in the middle of the largest file.
        std::string changed;
        for (const std::string& f : files)
            if (changed.empty() || fs::file_size(target + "/" + f) > fs::file_size(target + "/" + changed)) changed = f;
        test::Bytes bytes = test::readFile(target + "/" + changed);
        bytes[bytes.size() / 2] ^= 0x01;
        test::writeFile(target + "/" + changed, bytes);
        const auto after = sha256sumCheck(target, manifest);
        EXPECT_EQ(after.exitCode, 1) << after.out;
        std::vector<std::string> failed;
        for (const std::string& line : test::outputLines(after.out))
            if (!line.ends_with(": OK")) failed.push_back(line);
        EXPECT_EQ(failed, (std::vector<std::string>{changed + ": FAILED"})) << after.out;
    }
}

// Renaming on the fly asks for each name; a typed drive and directory are dropped, a taken name
// is not replaced, Cancel skips. Names sha256sum writes escaped reach the manifest so: a CR or LF
// typed reaches the PC name as typed, and a backslash can be in a file's name on this system.
TEST(RenamingOnTheFly, AsksForEachNameAndSkipsTakenOnesAndTheManifestEscapesThem) {
    test::CurrentTempDir target;  // the copy writes to the current folder
    test::TempDir dir;
    { std::ofstream("taken.txt") << "keep"; }
    test::MountedImage m(test::fixturePath("basic.hfs"));
    ASSERT_TRUE(m.session.copy.manifest.open(dir.file("names.sha256")));
    m.session.settings.setNamingMode(NamingMode::AskEachFile);
    // 40 characters typed: the first 30 are taken, the 30th (an en dash of three bytes) whole.
    const std::string longName = "Gr\xC3\xB6\xC3\x9F" "en\xC3\xBC" "bersicht f\xC3\xBCr M\xC3\xA4rz 1996\xE2\x80\x93";
    m.ui.pcNameAnswers = {std::string("C:\\\\DOS\\\\chosen.bin"), std::string("taken.txt"), std::nullopt, longName + "Teil 2.txt",
                          std::string("two\nlines.txt"), std::string("carriage\rreturn.txt")};
    const std::vector<std::string> names = {"Puzzle", "aardvark", "Locked", "Read Me", "Hidden", "Old Timer"};
    for (const std::string& name : names) CopyMacEntries(m.session.copyContext(), m.session.dir.currentDirID, name);
    EXPECT_EQ(m.ui.pcNameQuestions, names);
    EXPECT_EQ(test::tree(target.path()),
              (std::set<std::string>{"chosen.bin", "taken.txt", longName, "two\nlines.txt", "carriage\rreturn.txt"}));
    EXPECT_EQ(fs::file_size("chosen.bin"), 1200u);
    EXPECT_EQ(fs::file_size(longName), 127u);
    EXPECT_EQ(test::slurp("taken.txt"), "keep");
    EXPECT_NE(std::find(m.ui.timedMessages.begin(), m.ui.timedMessages.end(), "taken.txt already exists. Aborting the copy..."),
              m.ui.timedMessages.end());
    // The taken name is a copy that failed; the file the person skipped is not.
    EXPECT_EQ(m.session.copy.failures, 1u);

    // An AppleDouble pair needs both typed names free: a taken "._" name skips the file.
    { std::ofstream("._pair") << "keep"; }
    m.session.settings.setCopyMode(opt::kCopyMacBinary);
    m.session.settings.binaryFormat = BinaryFormat::AppleDouble;
    m.ui.pcNameAnswers = {std::string("pair"), std::string("fresh")};
    for (int i = 0; i < 2; ++i) CopyMacEntries(m.session.copyContext(), m.session.dir.currentDirID, "Puzzle");
    EXPECT_EQ(m.ui.timedMessages.back(), "._pair already exists. Aborting the copy...");
    EXPECT_FALSE(fs::exists("pair"));
    EXPECT_EQ(test::slurp("._pair"), "keep");
    EXPECT_EQ(fs::file_size("fresh"), 1200u);
    EXPECT_TRUE(fs::exists("._fresh"));
    EXPECT_EQ(m.session.copy.failures, 2u);

    { std::ofstream("back\\slash") << "typed here"; }
    ASSERT_TRUE(m.session.copy.manifest.add("back\\slash", "back\\slash"));
    EXPECT_EQ(m.session.copy.manifest.fileCount(), 7u);
    ASSERT_TRUE(m.session.copy.manifest.close());
    const std::string text = test::slurp(dir.file("names.sha256"));
    EXPECT_NE(text.find("  two\\nlines.txt\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  carriage\\rreturn.txt\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  back\\\\slash\n"), std::string::npos) << text;
    const std::vector<std::string> paths = manifestPaths(dir.file("names.sha256"));
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()),
              (std::set<std::string>{"chosen.bin", longName, "two\nlines.txt", "carriage\rreturn.txt", "fresh", "._fresh", "back\\slash"}));
    const auto check = sha256sumCheck(target.path(), dir.file("names.sha256"));
    EXPECT_TRUE(check.succeeded()) << check.out << check.err;
    EXPECT_EQ(std::count(check.out.begin(), check.out.end(), '\n'), 7) << check.out;
}

}  // namespace
}  // namespace quarry
