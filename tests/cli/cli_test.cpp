// quarry-cli as scripts use it: its output lines, its messages and its exit status, on HFS and
// HFS+ volumes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "common/charset.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

using test::firstFields;
using test::runCli;
using Strings = std::vector<std::string>;
const auto lines = test::outputLines;
const auto fields = test::tabFields;

// One run of quarry-cli, into a target folder inside a folder of its own so that a name that
// escaped the target would show. In arguments, messages and file contents "@T" stands for the
// target, "@B" for basic.hfs, "@H" for hostile.hfs and "%H" for a SHA-256 in hexadecimal.
struct CliRun {
    const char* what;
    Strings args;
    int exitCode;
    std::string err;               // all of standard error; "..." at its end stands for any rest
    std::optional<Strings> names;  // the first field of every output line
    Strings has = {};              // parts of the output
    // Every path in the target afterwards: "" for any, "=TEXT" for a file holding TEXT, "#N" for a
    // file of N bytes.
    std::map<std::string, std::string> after = {};
    std::map<std::string, std::string> before = {};  // files in the target before the run
    std::string input = {};                          // standard input, where the lines come from there
};

constexpr const char* kSomeDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

void check(const CliRun& c) {
    SCOPED_TRACE(c.what);
    test::TempDir outer;
    const std::string target = outer.file("target");
    std::filesystem::create_directory(target);
    auto fill = [&](std::string s) {
        for (const auto& [mark, text] : std::vector<std::pair<std::string, std::string>>{
                 {"@T", target}, {"@B", test::fixturePath("basic.hfs")}, {"@H", test::fixturePath("hostile.hfs")}, {"%H", kSomeDigest}})
            for (size_t at; (at = s.find(mark)) != std::string::npos;) s.replace(at, 2, text);
        return s;
    };
    for (const auto& [name, content] : c.before) std::ofstream(target + "/" + name) << fill(content);
    Strings args;
    for (const std::string& a : c.args) args.push_back(fill(a));
    const auto r = c.input.empty() ? runCli(args) : test::runCliWithInput(args, c.input);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    const std::string err = fill(c.err);
    if (err.ends_with("...")) {
        EXPECT_EQ(r.err.substr(0, err.size() - 3), err.substr(0, err.size() - 3));
    } else {
        EXPECT_EQ(r.err, err);
    }
    if (c.names) {
        EXPECT_EQ(firstFields(r.out), *c.names) << r.out;
    }
    for (const std::string& part : c.has) EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
    std::set<std::string> expected{"target"};
    for (const auto& [path, want] : c.after) {
        expected.insert("target/" + path);
        const std::string file = target + "/" + path;
        const std::string found = want.empty() ? want : want[0] == '=' ? "=" + test::slurp(file) : "#" + std::to_string(std::filesystem::file_size(file));
        EXPECT_EQ(found, fill(want)) << path;
    }
    EXPECT_EQ(test::tree(outer.path()), expected);
    EXPECT_FALSE(std::filesystem::exists("/tmp/quarry-evil"));
}

constexpr size_t kFirstDataExtent = 74;  // in a file record's data

TEST(Cli, LinesMessagesAndStatus) {
    const std::string basic = test::fixturePath("basic.hfs");
    const Strings docs = {"Manual", "Old Drafts", "Read Me"};  // in catalog order
    // Puzzle's data fork sent past the end of the volume by the first extent of its record.
    test::TempDir bent;
    const std::string pastTheEnd = test::bentFixture(bent, "basic.hfs", [](test::Bytes& b) {
        test::HfsImage img(b);
        img.setRecordData16(img.lookup(":Puzzle"), kFirstDataExtent, 0xFF00);
    });
    const std::string copyLines = "Copy of \"Big Forks\" to \"Big Forks.txt\"\nCopy of \"Puzzle\" to \"Puzzle.com\"\n";
    std::vector<CliRun> runs = {
        {"a folder's listing", {basic, "CD Docs", "DIR"}, 0, "", docs, {"Manual\t61\t0\tTEXTttxt\t", "\nOld Drafts\t<DIR>\t\t[3]\t"}},
        // Macintosh Roman 0x80 and 0x8E come out as UTF-8 Ä and é; fixed dates show as stored;
        // a name's own trailing space is kept, only the fields' padding goes.
        {"the root's listing", {basic, "DIR"}, 0, "", std::nullopt,
         {"\n\xC3\x84pfel\t12\t0\tTEXTttxt\t", "\nCaf\xC3\xA9 Menu\t", "\nPuzzle\t1200\t1080\tAPPLMACS\t05/17/92 09:30\t11/02/93 14:45\n",
          "\nOld Timer\t127\t0\tTEXTttxt\t07/20/65 12:00\t12/31/69 23:59\n", "\nTrailing Space \t29\t"}},
        // "cd do*" enters Docs whatever the case; Old Drafts holds three entries. Back in Docs
        // nothing begins with D; the empty folder and a pattern without match list nothing
        // either. A folder that is not there, or a file, is named, and the run goes on where it was.
        {"moves", {basic, "cd do*", "CD \"Old Drafts\"", "DIR", "CD ..", "DIR D*", "CD \\", "CD \"Empty Folder\"", "DIR", "CD \\",
                   "CD Nowhere", "CD Puzzle", "DIR zzz*"},
         0, "Quarry - : No such folder: Nowhere\nQuarry - : No such folder: Puzzle\n",
         Strings{"Archive", "Draft 1", "Draft 2", "[No file]", "[No file]", "[No file]"}},
        // Names whose first characters the catalog sorts away from their byte values; each folder
        // is empty, the root is not. The list shows Macintosh 0xAA and 0xAB as \u2122 and \u00b4;
        // typed, they name those folders.
        {"names sorted away from their bytes",
         {test::fixturePath("names-5.hfs"), "CD [older", "DIR", "CD \\", "CD \u00dfolder", "DIR", "CD \\", "CD Tolder", "DIR", "CD ..",
          "CD Zolder", "DIR", "CD \\", "CD \u2122older", "DIR", "CD \\", "CD \u00b4older", "DIR"},
         0, "", Strings(6, "[No file]")},
        // On HFS+ names typed in any script match as the Macintosh matches them there, by
        // Unicode's case folding: the pattern finds the Greek folder (xorriso stores its tonos
        // as U+030D, which no composition takes back); the Japanese and Cyrillic folders open,
        // the latter typed in lower case; each file is copied under its own name, and one
        // without an extension takes its type's, the table's first.
        {"HFS+ names typed in any script",
         {"-q", "--to", "@T", test::fixturePath("hfsplus.iso"), "DIR Ελλ*", "CD 日本語", "DIR", "ATTRIB ファ*", "COPY ファイル.txt",
          "CD \\", "CD кириллица", "DIR", "COPY ФАЙЛ", "CD \\", "COPY \"résumé NAÏVE\"", "CD Ελληνικό"},
         0, "Quarry - : No such folder: Ελληνικό\n", std::nullopt,
         {"Ελληνικα\u030D\t<DIR>\t", "\nファイル.txt\t5\t", "\nName\tファイル.txt\n", "\nФайл\t5\t"},
         {{"ファイル.txt", "=file\n"}, {"Файл.txt", "=file\n"}, {"Résumé naïve.txt", "=decomposed\n"}}},
        // The figures are the sheet's (tests/dialogs, and the desktop's INFO in tests/gui).
        {"INFO", {basic, "INFO"}, 0, "",
         Strings{"Volume Size:", "Free space:", "Number of files:", "Number of folders:", "Next File ID:", "MDB Offset:", "Partitions:",
                 "Cluster Size:", "Number of Sectors:", "Extensions Offset:", "Extensions Size (sectors):", "Catalog Offset:",
                 "Catalog Size (sectors):"},
         {"Volume Size:\t1471488\n"}},
        // QUIT is refused without --yes, so the last DIR runs too.
        {"lines from standard input", {basic}, 0, "Quarry - : Do you really want to quit? [No]\n",
         Strings{"Manual", "Old Drafts", "Read Me", "Manual", "Old Drafts", "Read Me"}, {}, {}, {}, "CD Docs\r\nDIR\n\nQUIT\nDIR\n"},
        {"QUIT with --yes", {"--yes", basic}, 0, "Quarry - : Do you really want to quit? [Yes]\n", Strings{}, {}, {}, {}, "CD Docs\nQUIT\nDIR\n"},
        // --quiet drops the "Copy of ... to ..." lines, --verbose keeps them, the last one given
        // wins; standard error, not a terminal here, gets no progress line either way.
        {"--quiet", {"--quiet", "--to", "@T", basic, "COPY \"Big Forks\"", "COPY Puzzle"}, 0, "", Strings{}, {},
         {{"Big Forks.txt", ""}, {"Puzzle.com", ""}}},
        {"--verbose --quiet", {"--verbose", "--quiet", "--to", "@T", basic, "COPY \"Big Forks\"", "COPY Puzzle"}, 0, "", Strings{}, {},
         {{"Big Forks.txt", ""}, {"Puzzle.com", ""}}},
        {"--quiet --verbose", {"--quiet", "--verbose", "--to", "@T", basic, "COPY \"Big Forks\"", "COPY Puzzle"}, 0, "", std::nullopt,
         {copyLines}, {{"Big Forks.txt", ""}, {"Puzzle.com", ""}}},
        {"copies said by default", {"--to", "@T", basic, "COPY \"Big Forks\"", "COPY Puzzle"}, 0, "", std::nullopt, {copyLines},
         {{"Big Forks.txt", ""}, {"Puzzle.com", ""}}},
        // Nothing is read past the end of the volume; the copies after it still run.
        {"a fork past the end of the volume", {"--to", "@T", pastTheEnd, "COPY Puzzle", "COPY aardvark"}, 1,
         "Quarry - : Error copying \"Puzzle\" to \"Puzzle.com\": extent of 3 blocks at block 65280 lies past the end of the volume "
         "(2874 blocks)\n",
         std::nullopt, {}, {{"aardvark.txt", ""}}},
        // Sources that cannot be read end the run with status 1 and nothing on standard output.
        {"a missing source", {"@T/missing.iso", "DIR"}, 1, "Quarry - : cannot open @T/missing.iso: No such file or directory\n", Strings{}},
        {"a folder as source", {"@T", "DIR"}, 1, "Quarry - : cannot open @T: is a directory\n", Strings{}},
        {"an empty image", {test::fixturePath("empty.img"), "DIR"}, 1, "Quarry - : This media can't be read.\n", Strings{}},
        {"random bytes", {test::fixturePath("random.img"), "DIR"}, 1, "Quarry - : This CD-ROM is not a Macintosh HFS volume.\n", Strings{}},
        {"an ISO 9660 image", {test::fixturePath("plain.iso"), "DIR"}, 1, "Quarry - : This CD-ROM is not a Macintosh HFS volume.\n",
         Strings{}},
        {"an MS-DOS volume", {test::fixturePath("msdos.img"), "DIR"}, 1, "Quarry - : This is a MS-DOS formatted volume.\n", Strings{}},
        // A boot record whose byte 29 is 0 (no hidden sectors, as on a floppy) does not count as
        // MS-DOS: the medium is simply not HFS.
        {"an MS-DOS floppy", {test::fixturePath("msdos-floppy.img"), "DIR", "CD Docs", "DIR"}, 1,
         "Quarry - : This CD-ROM is not a Macintosh HFS volume.\n", Strings{}},
        // What lies past the end of an image cut short cannot be read: here, most of the catalog.
        {"an image cut short", {test::fixturePath("truncated.hfs"), "DIR", "CD Docs", "DIR"}, 1,
         "Quarry - : This volume is damaged: read error at sector 32 (status 4); the image ends at byte 16384, before the end of "
         "its volume at byte 1473536: what lies beyond cannot be read.\n",
         Strings{}},
        // Usage errors end with status 2.
        {"no source", {}, 2, "usage: quarry-cli ...", Strings{}},
        {"an unknown option", {"--bogus", basic}, 2, "quarry-cli: unknown option --bogus\nusage: quarry-cli ...", Strings{}},
        {"an unknown binary format", {"--binary-format", "mb4", basic, "DIR"}, 2,
         "quarry-cli: --binary-format takes mb1, mb2, mb3, appledouble, applesingle or binhex\n...", Strings{}},
        {"--json with lines", {"--json", basic, "DIR"}, 2, "quarry-cli: --json runs no lines\n...", Strings{}},
        {"--hash alone", {"--hash", basic}, 2, "quarry-cli: --hash goes with --json\n...", Strings{}},
        {"--dfxml and --check", {"--dfxml", "@T/out.xml", "--check", basic}, 2, "quarry-cli: --dfxml runs no lines\n...", Strings{}},
        {"--json and --dfxml", {"--json", "--dfxml", "@T/out.xml", basic}, 2, "quarry-cli: --json and --dfxml are two runs\n...", Strings{}},
        {"--dfxml without a file", {"--dfxml"}, 2, "quarry-cli: --dfxml needs a value\n...", Strings{}},
        {"--help", {"--help"}, 0, "", std::nullopt, {"usage: quarry-cli [options] SOURCE [LINE ...]\n"}},
    };

    // Words it cannot carry out are said and the run goes on, in one run after "CD Docs".
    const std::pair<const char*, const char*> words[] = {
        // Dialogs and the help viewer of the desktop program; abbreviations name their word.
        {"HELP", "HELP needs the desktop program"},      {"?", "HELP needs the desktop program"},
        {"l", "LOG needs the desktop program"},          {"OPTIONS", "OPTIONS needs the desktop program"},
        {"opt short", "OPTIONS needs the desktop program"},
        // The list's selection: with a name both run.
        {"CD", "CD without a name needs the desktop program"},
        {"CD \"\"", "CD without a name needs the desktop program"},
        {"COPY", "COPY without a name needs the desktop program"},
        {"C /B", "COPY without a name needs the desktop program"},
        {"ATTRIB", "usage: ATTRIB name"},
        // Accepted and ignored by the desktop program too.
        {"TYPE Manual", "TYPE does nothing in either program"}, {"CLS", "CLS does nothing in either program"},
        {"VERIFY", "VERIFY does nothing in either program"},    {"NEXT", "NEXT does nothing in either program"},
        {"LOC", "LOCK does nothing in either program"},         {"UNLOCK", "UNLOCK does nothing in either program"},
        {"MODE", "MODE does nothing in either program"},        {"REP", "REP does nothing in either program"},
        {"SWAP", "usage: SWAP name"}, {"REN Manual", "usage: REN old new"}, {"rd", "usage: RD name"},
        {"XYZZY /B", "Not a command: XYZZY"}, {"/R", "Not a command: /R"}, {"", nullptr}, {"   ", nullptr},
    };
    // The words that are no command fail the run; the others do not (VolumeChanges tests HELP).
    // LOG did not mount the volume again and CD did not move: the run ends in Docs. Nothing was
    // copied and no sheet printed.
    CliRun& unknown = runs.emplace_back(CliRun{"words it cannot carry out", {"--to", "@T", basic, "CD Docs"}, 1, "", docs});
    for (const auto& [line, message] : words) {
        unknown.args.push_back(line);
        if (message) unknown.err += std::string("Quarry - : ") + message + "\n";
    }
    unknown.args.push_back("DIR");
    for (const CliRun& run : runs) check(run);
}

// Copies around their bytes: names that collide or try to leave the target, folders and the
// files-only switch, empty forks, binary formats' names, ports, logs, manifests and targets.
TEST(CliCopies, NamesFoldersForksPortsAndLogs) {
    const std::string evil = "=should stay inside the target\r";
    const std::string appleDouble = "Quarry - : File Puzzle not sent to COM1: AppleDouble writes two files, a port carries one.\n";
    const CliRun runs[] = {
        // Three copies, three numbered names from the file counter on; none is overwritten.
        {"collisions", {"--to", "@T", "@B", "COPY Puzzle", "COPY Puzzle", "COPY Puzzle"}, 0, "", std::nullopt, {},
         {{"Puzzle.com", "=already here"}, {"Puzzle.001", "#1200"}, {"Puzzle.002", "#1200"}, {"Puzzle.003", "#1200"}},
         {{"Puzzle.com", "already here"}}},
        // --keep-going changes nothing where every sector reads.
        {"keep going", {"--keep-going", "--to", "@T", "@B", "COPY Puzzle"}, 0, "", std::nullopt, {}, {{"Puzzle.com", "#1200"}}},
        // /, . and .. are replaced; two Macintosh folders may share a PC one, but no file is lost.
        {"names from the volume", {"--to", "@T", "@H", "COPY *"}, 0, "", std::nullopt, {},
         {{"..etcpasswd.txt", evil}, {"_", ""}, {"_/..txt", evil}, {"_/.txt", evil}, {"__", ""},
          {"__/....tmpquarry-evil.txt", evil}, {"ab", ""}, {"ab/x.txt", evil}}},
        // Row DOC of the extension file now names TEXT/ttxt: such files find it in the first pass.
        {"short names", {"--to", "@T", "--names", "short", "@B", "COPY /F *"}, 0,
         "Quarry - : File Empty File has no data fork.\nQuarry - : File Resource Only has no data fork.\n", std::nullopt, {},
         {{"AARDVARK.doc", ""}, {"BIGFORKS.txt", ""}, {"CAFEMENU.doc", ""}, {"EITHEROR.doc", ""}, {"HIDDEN.doc", ""},
          {"KTCREAT.DAT", ""}, {"LOCKED.doc", ""}, {"OLDTIMER.doc", ""}, {"PUZZLE.com", ""}, {"README.doc", ""},
          {"THIRTY-O.doc", ""}, {"TRAILING.doc", ""}, {"WHY(DRAF.doc", ""}, {"\xC3\x84PFEL.doc", ""}},  // Ä is 0x8E in code page 437
         {{"KTCREAT.DAT", "DOC TEXTttxt\n"}}},
        {"folders", {"--to", "@T", "@B", "COPY D*"}, 0, "", std::nullopt, {},
         {{"Docs", ""}, {"Docs/Manual.txt", ""}, {"Docs/Read Me.txt", ""}, {"Docs/Old Drafts", ""}, {"Docs/Old Drafts/Archive", ""},
          {"Docs/Old Drafts/Draft 1.txt", ""}, {"Docs/Old Drafts/Draft 2.txt", ""}}},
        {"files only", {"--to", "@T", "@B", "COPY /F D*"}, 0, "", Strings{}},
        // An empty folder is copied as an empty directory and the copy goes on after it.
        {"an empty folder", {"--to", "@T", "@B", "COPY E*"}, 0, "Quarry - : File Empty File has no data fork.\n", std::nullopt, {},
         {{"EitherOr.txt", ""}, {"Empty Folder", ""}}},
        // MacBinary carries any file: a header and nothing more.
        {"empty forks", {"--to", "@T", "@B", "COPY \"Empty File\"", "COPY /R aardvark", "COPY /B \"Empty File\""}, 0,
         "Quarry - : File Empty File has no data fork.\nQuarry - : File aardvark has no resources fork.\n", std::nullopt, {},
         {{"Empty File.txt", "#128"}}},
        // Binary formats: an added extension follows the whole long name and replaces a short
        // one's; AppleDouble's pair is named only where both names are free. Their contents are
        // read back by lsar, unar and hcopy in tests/copy/copy_oracle_test.cpp.
        {"binary formats", {"--to", "@T", "--binary-format", "binhex", "@B", "COPY /B Puzzle", "COPY /B Puzzle"}, 0, "", std::nullopt,
         {}, {{"Puzzle.com.hqx", ""}, {"Puzzle.002.hqx", ""}}},
        {"short binary names", {"--to", "@T", "--names", "short", "--binary-format", "applesingle", "@B", "COPY /B Puzzle"}, 0, "",
         std::nullopt, {}, {{"PUZZLE.as", ""}}},
        {"AppleDouble pairs", {"--to", "@T", "--binary-format", "appledouble", "@B", "COPY /B Puzzle", "COPY /B \"Empty File\""}, 0,
         "", std::nullopt, {},
         {{"._Puzzle.com", "=taken"}, {"Puzzle.001", "#1200"}, {"._Puzzle.001", ""}, {"Empty File.txt", "#0"}, {"._Empty File.txt", ""}},
         {{"._Puzzle.com", "taken"}}},
        // The name in the message is the one typed, without its quotes or the line's switches.
        {"nothing matches", {"--to", "@T", "@B", "COPY /B \"No Such*\""}, 0, "Quarry - : No file or folder matches \"No Such*\".\n",
         Strings{}},
        {"AppleDouble to a port", {"--to", "@T", "--binary-format", "appledouble", "--port", "COM1=/dev/null", "@B", "COPY /B Puzzle"},
         1, appleDouble, Strings{}},
        // A copy that fails fails the run; the lines after it still run.
        {"a port that fails", {"--to", "@T", "--port", "COM1=/dev/full", "@B", "COPY Puzzle", "COPY aardvark"}, 1,
         "Quarry - : Error copying \"Puzzle\": cannot write: No space left on device\n"
         "Quarry - : Error copying \"aardvark\": cannot write: No space left on device\n",
         Strings{}},
        {"a port that cannot be opened", {"--to", "@T", "--port", "LPT1=@T/printer", "@B", "COPY Puzzle", "DIR"}, 1,
         "Quarry - : Error opening file:LPT1 (@T/printer: No such file or directory)\n", Strings{}},
        {"a log that cannot be opened", {"--log", "@T/missing/run.log", "@B", "DIR"}, 1,
         "Quarry - : Error opening file:@T/missing/run.log (No such file or directory)\n", Strings{}},
        // A target that is not there is made with its parents; one a file stands in cannot be.
        {"a target made", {"--to", "@T/new/deeper", "@B", "COPY Puzzle"}, 0, "", std::nullopt, {},
         {{"new", ""}, {"new/deeper", ""}, {"new/deeper/Puzzle.com", "#1200"}}},
        {"a target a file stands in", {"--to", "@T/notes.txt/inside", "@B", "COPY Puzzle"}, 1,
         "Quarry - : cannot copy into @T/notes.txt/inside: Not a directory\n", Strings{}, {}, {{"notes.txt", "=mine"}},
         {{"notes.txt", "mine"}}},
        // The checksum manifest replaces an empty file or a manifest (text or binary lines, an
        // escaped name, a last line without LF), never a person's file: then nothing is copied
        // and the log is not made either. A line for Puzzle.com is 64 + 2 + 10 + 1 bytes.
        {"a manifest over an empty file", {"--to", "@T", "--manifest", "@T/run.sha256", "@B", "COPY Puzzle"}, 0, "", std::nullopt, {},
         {{"run.sha256", "#77"}, {"Puzzle.com", "#1200"}}, {{"run.sha256", ""}}},
        {"a manifest over a manifest", {"--to", "@T", "--manifest", "@T/run.sha256", "@B", "COPY Puzzle"}, 0, "", std::nullopt, {},
         {{"run.sha256", "#77"}, {"Puzzle.com", "#1200"}}, {{"run.sha256", "%H  old.txt\n%H *a b\n\\%H  a\\\\b\n%H  last"}}},
        {"a manifest over a person's file", {"--to", "@T", "--manifest", "@T/notes.txt", "--log", "@T/run.log", "@B", "COPY Puzzle"}, 1,
         "Quarry - : @T/notes.txt is not a checksum manifest: it is left as it is, and nothing is copied\n", Strings{}, {},
         {{"notes.txt", "=%H  old.txt\nmy notes\n"}}, {{"notes.txt", "%H  old.txt\nmy notes\n"}}},
        {"a manifest that is the log", {"--to", "@T", "--manifest", "@T/run.log", "--log", "@T/../target/run.log", "@B", "COPY Puzzle"},
         2, "quarry-cli: --manifest names the log file\n", Strings{}},
    };
    for (const CliRun& run : runs) check(run);
}

// The labels of the two attribute sheets, in the dialogs' order: "File Attributes", then
// "Advanced".
const Strings kSheetLabels = {
    "Name", "Creator", "Filetype", "Creation Date", "Last Mod. Date", "Data fork", "Resource fork",
    "Filename", "File #", "Data extents", "Ressource extents"};

// The ATTRIB sheets of the output, one label-to-value map per file. Fails the test when the
// lines do not come in whole sheets with the labels in order.
std::vector<std::map<std::string, std::string>> attributeSheets(const std::string& out) {
    const auto all = lines(out);
    EXPECT_EQ(all.size() % kSheetLabels.size(), 0u) << out;
    std::vector<std::map<std::string, std::string>> sheets;
    for (size_t i = 0; i + kSheetLabels.size() <= all.size(); i += kSheetLabels.size()) {
        std::map<std::string, std::string>& sheet = sheets.emplace_back();
        for (size_t j = 0; j < kSheetLabels.size(); ++j) {
            const auto f = fields(all[i + j]);
            EXPECT_EQ(f.size(), 2u) << all[i + j];
            EXPECT_EQ(f[0], kSheetLabels[j]);
            sheet[f[0]] = f.size() > 1 ? f[1] : "";
        }
    }
    return sheets;
}

// A date field (day, month, years since 1900, hour, minute) against what hls shows of the date:
// the day and month, and the year or the time.
void expectDateAsHlsShowsIt(const std::string& sheetText, const test::HlsDate& hls) {
    SCOPED_TRACE(sheetText + " against hls " + hls.text);
    int d[5];
    ASSERT_EQ(std::sscanf(sheetText.c_str(), "%d %d %d %d %d", &d[0], &d[1], &d[2], &d[3], &d[4]), 5);
    ASSERT_TRUE(hls.year >= 0 || hls.hour >= 0);
    EXPECT_EQ(std::tuple(d[0], d[1]), std::tuple(hls.day, hls.month));
    if (hls.year >= 0) {
        EXPECT_EQ(d[2] + 1900, hls.year);
    }
    if (hls.hour >= 0) {
        EXPECT_EQ(std::tuple(d[3], d[4]), std::tuple(hls.hour, hls.minute));
    }
}

std::string extentsText(const std::vector<test::Extent>& extents, uint32_t sectorsPerBlock) {
    std::string out;
    for (size_t i = 0; i < 3; ++i) {
        const test::Extent e = i < extents.size() ? extents[i] : test::Extent{};
        if (i > 0) out += ", ";
        out += std::to_string(e.startBlock * sectorsPerBlock) + "/" + std::to_string(e.blockCount * sectorsPerBlock);
    }
    return out;
}

TEST(Cli, AttribPrintsBothSheetsAsHfsutilsSeesThem) {
    struct Case {
        const char* image;
        const char* folder;  // hfsutils path of the folder whose files are asked for
        size_t volumeOffset;
    };
    // Every file of the root of basic.hfs (invisible, locked, empty, resource-only, names with
    // accents, wildcards and a trailing space), a hybrid CD's application in a subfolder, and
    // forks that continue in the extents-overflow tree.
    const Case cases[] = {{"basic.hfs", ":", 0}, {"hybrid.iso", ":Apps", 16 * 512}, {"fragmented.hfs", ":", 0}};
    // The dates the fixture script wrote, whole, where hls shows a year or a time: day, month,
    // years since 1900, hour, minute.
    const std::map<std::string, std::pair<std::string, std::string>> fixedDates = {
        {"Big Forks", {"4 3 101 5 6", "4 3 101 6 7"}},   {"Puzzle", {"17 5 92 9 30", "2 11 93 14 45"}},
        {"Old Timer", {"20 7 65 12 0", "31 12 69 23 59"}}, {"Resource Only", {"3 2 98 4 5", "3 2 98 4 5"}},
        {"Tool", {"9 8 96 10 11", "2 1 97 3 4"}}};
    size_t dated = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " " + c.folder);
        const std::string image = test::fixturePath(c.image);
        std::vector<test::OracleEntry> files;
        for (const test::OracleEntry& o : test::hlsList(image, c.folder))
            if (!o.isFolder) files.push_back(o);
        ASSERT_FALSE(files.empty());
        const std::string folder = c.folder;
        // The builder's paths: ":Name" in the root, ":Apps:Name" below it.
        const std::string pathPrefix = folder == ":" ? "" : folder;
        std::vector<std::string> args = {image};
        if (!pathPrefix.empty()) args.push_back("CD \"" + folder.substr(1) + "\"");
        for (const test::OracleEntry& o : files) args.push_back("ATTRIB \"" + macNameToUtf8(o.name) + "\"");
        const auto r = runCli(args);
        ASSERT_TRUE(r.succeeded()) << r.err;
        EXPECT_EQ(r.err, "");
        const auto sheets = attributeSheets(r.out);
        ASSERT_EQ(sheets.size(), files.size()) << r.out;

        test::Bytes bytes = test::readFile(image);
        const test::HfsImage img(bytes, c.volumeOffset);
        const uint32_t sectorsPerBlock = img.mdb32(test::mdb::kDrAlBlkSiz) / 512;
        for (size_t i = 0; i < files.size(); ++i) {
            const test::OracleEntry& o = files[i];
            std::map<std::string, std::string> sheet = sheets[i];
            SCOPED_TRACE(macNameToUtf8(o.name));
            EXPECT_EQ(sheet["Name"], macNameToUtf8(o.name));
            EXPECT_EQ(sheet["Filename"], sheet["Name"]);
            EXPECT_EQ(sheet["Creator"], o.creator);
            EXPECT_EQ(sheet["Filetype"], o.type);
            EXPECT_EQ(sheet["Data fork"], std::to_string(o.dataSize));
            EXPECT_EQ(sheet["Resource fork"], std::to_string(o.rsrcSize));
            expectDateAsHlsShowsIt(sheet["Creation Date"], o.created);
            expectDateAsHlsShowsIt(sheet["Last Mod. Date"], o.modified);
            if (const auto d = fixedDates.find(o.name); d != fixedDates.end()) {
                EXPECT_EQ(sheet["Creation Date"], d->second.first);
                EXPECT_EQ(sheet["Last Mod. Date"], d->second.second);
                ++dated;
            }
            EXPECT_EQ(sheet["File #"], std::to_string(o.catalogId));
            // Only the three extents of the catalog record, as the dialog shows them.
            const test::CatalogRecord rec = img.lookup(pathPrefix + ":" + o.name);
            EXPECT_EQ(sheet["Data extents"], extentsText(img.forkExtents(rec, test::Fork::Data), sectorsPerBlock));
            EXPECT_EQ(sheet["Ressource extents"],
                      extentsText(img.forkExtents(rec, test::Fork::Resource), sectorsPerBlock));
        }
    }
    EXPECT_EQ(dated, fixedDates.size());
}

TEST(Cli, AttribFindsTheFileAsTypedAndNamesWhatIsNotThere) {
    const std::string image = test::fixturePath("basic.hfs");
    const auto r = runCli({image, "ATTRIB e*", "a puzzle", "ATTRIB *", "ATTRIB Docs", "ATTRIB \"No Such File\"",
                           "ATTRIB", "CD Docs", "ATTRIB read*", "ATTRIB Puzzle"});
    // A name that is not there, a folder and a missing name are said, and the run goes on.
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(r.err,
              "Quarry - : No such file: Docs\n"
              "Quarry - : No such file: No Such File\n"
              "Quarry - : usage: ATTRIB name\n"
              "Quarry - : No such file: Puzzle\n");
    const auto sheets = attributeSheets(r.out);
    ASSERT_EQ(sheets.size(), 4u) << r.out;
    // "e*" is the first file in catalog order whose name begins with e (Either/Or, before Empty
    // File); the case of a typed name does not matter; "*" is the first file of the folder.
    auto idOf = [&](const char* path) {
        const auto o = test::hlsList(image, path);
        return o.size() == 1 ? std::to_string(o.front().catalogId) : std::string("?");
    };
    EXPECT_EQ(sheets[0].at("Name"), "Either/Or");
    EXPECT_EQ(sheets[0].at("File #"), idOf(":Either/Or"));
    EXPECT_EQ(sheets[1].at("Name"), "Puzzle");
    EXPECT_EQ(sheets[2].at("Name"), "aardvark");
    // In Docs, "read*" is Docs' own Read Me, not the root's.
    EXPECT_EQ(sheets[3].at("Name"), "Read Me");
    EXPECT_EQ(sheets[3].at("File #"), idOf(":Docs:Read Me"));
    EXPECT_NE(sheets[3].at("File #"), idOf(":Read Me"));
}

// The advanced sheet of an HFS+ file: its eight first extents, its owner, group and mode as
// Sleuth Kit's istat reads them, and a symbolic link's target (in --json too).
TEST(HfsPlusCli, AdvancedSheetOfHfsPlusFiles) {
    const std::string links = test::fixturePath("hfsplus/links.hfsp");
    auto r = test::runCli({links, "ATTRIB \"link to report\""});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_NE(r.out.find("Link to\tDocuments/Report.txt\n"), std::string::npos) << r.out;
    const auto istat = test::runProcess({"istat", "-f", "hfs", links, "18"});
    ASSERT_TRUE(istat.succeeded()) << istat.err;
    std::string owner, group, mode;
    for (const std::string& line : test::outputLines(r.out)) {
        const Strings f = test::tabFields(line);
        if (f.size() == 2 && f[0] == "Owner") owner = f[1];
        if (f.size() == 2 && f[0] == "Group") group = f[1];
        if (f.size() == 2 && f[0] == "Mode") mode = f[1];
    }
    EXPECT_NE(istat.out.find("uid / gid: " + owner + " / " + group + "\n"), std::string::npos) << istat.out << r.out;
    // istat gives the mode as ls does: a link's "l" and its permission bits.
    ASSERT_EQ(mode.size(), 6u);
    const unsigned bits = std::stoul(mode, nullptr, 8);
    std::string ls = (bits & 0170000) == 0120000 ? "l" : "?";
    for (int i = 8; i >= 0; --i) ls += (bits >> i & 1) ? "rwx"[(8 - i) % 3] : '-';
    EXPECT_NE(istat.out.find("Mode:\t" + ls + "\n"), std::string::npos) << istat.out << mode;

    r = test::runCli({"--json", links});
    EXPECT_NE(r.out.find("\"path\":[\"Link to Report\"],\"kind\":\"file\",\"id\":18"), std::string::npos);
    EXPECT_NE(r.out.find("\"link\":\"Documents/Report.txt\""), std::string::npos) << r.out;

    // One block to an extent: the sheet shows eight, as the record holds them.
    r = test::runCli({test::fixturePath("hfsplus/forks.hfsp"), "ATTRIB Fragmented.bin"});
    for (const std::string& line : test::outputLines(r.out)) {
        const Strings f = test::tabFields(line);
        if (f[0] == "Data extents") {
            EXPECT_EQ(std::count(f[1].begin(), f[1].end(), '/'), 8) << f[1];
        }
    }
    EXPECT_NE(r.out.find("Data extents\t"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace quarry
