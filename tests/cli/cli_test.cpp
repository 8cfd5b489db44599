// quarry-cli as scripts use it: its output lines, its messages, its copies and its exit status,
// on HFS and HFS+ volumes. The attribute sheets of every file are compared with hls in
// tests/hfs/listing_oracle_test.cpp.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;
using test::firstFields;
using test::runCli;
using Strings = std::vector<std::string>;

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
    // file of N bytes, "->PATH" for a symbolic link to PATH.
    std::map<std::string, std::string> after = {};
    std::map<std::string, std::string> before = {};  // files in the target before the run
    std::string input = {};                          // standard input, where the lines come from there
};

constexpr const char* kSomeDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

void check(const CliRun& c) {
    SCOPED_TRACE(c.what);
    test::TempDir outer;
    const std::string target = outer.file("target");
    fs::create_directory(target);
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
        // test::tree() names a link by the path it resolves to, which is listed on its own.
        if (!want.starts_with("->")) expected.insert("target/" + path);
        const std::string file = target + "/" + path;
        std::string found = want;
        if (want.starts_with("->")) found = "->" + (fs::is_symlink(file) ? fs::read_symlink(file).string() : "not a link");
        else if (want.starts_with("=")) found = "=" + test::slurp(file);
        else if (want.starts_with("#")) found = "#" + std::to_string(fs::file_size(file));
        EXPECT_EQ(found, fill(want)) << path;
    }
    EXPECT_EQ(test::tree(outer.path()), expected);
    EXPECT_FALSE(fs::exists("/tmp/quarry-evil"));
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
    // A partition map without an HFS entry: the MDB is looked for at sector 2, where the map goes on.
    const test::Bytes volume = test::readFile(basic);
    test::Medium noHfs(64);
    noHfs.partitionMap({{"Extra", "Apple_Free", 64, static_cast<uint32_t>(volume.size() / 512)}}).place(64, volume);
    test::writeFile(bent.file("nohfs.img"), noHfs.bytes());
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
        // The figures are the sheet's (tests/app/main_window_test.cpp, and the desktop's INFO in tests/gui).
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
        // A symbolic link that stays inside the copy's target is made a link there; one that could
        // lead out of it never is, and becomes a file holding its path, which takes its type's
        // extension. Which targets stay inside: tests/copy/symlink_copy_test.cpp.
        {"HFS+ symbolic links", {"--to", "@T", test::fixturePath("hfsplus/links.hfsp"), "COPY *"}, 0,
         "Quarry - : Symbolic link \"Dangling\" leads outside the copy, to \"/nowhere/at all\": it is copied as a file holding that "
         "path.\n",
         std::nullopt, {},
         {{"Link to Report", "->Documents/Report.txt"}, {"Dangling.txt", "=/nowhere/at all"}, {"Documents", ""},
          {"Documents/Report.txt", "#2500"}, {"Documents/Hard B.txt", ""}, {"Documents/Shared Again", ""},
          {"Documents/Shared Again/Inside.txt", ""}, {"Hard A.txt", ""}, {"Shared Folder Link", ""}, {"Shared Folder Link/Inside.txt", ""}}},
        // The advanced sheet of an HFS+ file shows its eight first extents, as the record holds
        // them; a symbolic link's target is in --json too.
        {"an HFS+ fork of eight extents", {test::fixturePath("hfsplus/forks.hfsp"), "ATTRIB Fragmented.bin"}, 0, "", std::nullopt,
         {"\nData extents\t112/8, 128/8, 144/8, 160/8, 176/8, 192/8, 208/8, 224/8\n"}},
        {"an HFS+ link in --json", {"--json", test::fixturePath("hfsplus/links.hfsp")}, 0, "", std::nullopt,
         {"\"path\":[\"Link to Report\"],\"kind\":\"file\",\"id\":18,", "\"link\":\"Documents/Report.txt\""}},
        // Sources that cannot be read end the run with status 1 and nothing on standard output.
        {"a missing source", {"@T/missing.iso", "DIR"}, 1, "Quarry - : cannot open @T/missing.iso: No such file or directory\n", Strings{}},
        {"a folder as source", {"@T", "DIR"}, 1, "Quarry - : cannot open @T: is a directory\n", Strings{}},
        {"an empty image", {test::fixturePath("empty.img"), "DIR"}, 1, "Quarry - : This media can't be read.\n", Strings{}},
        {"random bytes", {test::fixturePath("random.img"), "DIR"}, 1, "Quarry - : This CD-ROM is not a Macintosh HFS volume.\n", Strings{}},
        {"an ISO 9660 image", {test::fixturePath("plain.iso"), "DIR"}, 1, "Quarry - : This CD-ROM is not a Macintosh HFS volume.\n",
         Strings{}},
        {"a partition map without an HFS entry", {bent.file("nohfs.img"), "DIR"}, 1,
         "Quarry - : This CD-ROM is not a Macintosh HFS volume.\n", Strings{}},
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

// The advanced sheet of an HFS+ file: its owner, group and mode as Sleuth Kit's istat reads
// them, and a symbolic link's target.
TEST(HfsPlusCli, AdvancedSheetOfHfsPlusFiles) {
    const std::string links = test::fixturePath("hfsplus/links.hfsp");
    const auto r = test::runCli({links, "ATTRIB \"link to report\""});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_NE(r.out.find("Link to\tDocuments/Report.txt\n"), std::string::npos) << r.out;
    const auto istat = test::runProcess({"istat", "-f", "hfs", links, "18"});
    ASSERT_TRUE(istat.succeeded()) << istat.err;
    std::map<std::string, std::string> sheet;
    for (const std::string& line : test::outputLines(r.out))
        if (const Strings f = test::tabFields(line); f.size() == 2) sheet[f[0]] = f[1];
    EXPECT_NE(istat.out.find("uid / gid: " + sheet["Owner"] + " / " + sheet["Group"] + "\n"), std::string::npos) << istat.out << r.out;
    const std::string mode = sheet["Mode"];
    // istat gives the mode as ls does: a link's "l" and its permission bits.
    ASSERT_EQ(mode.size(), 6u);
    const unsigned bits = std::stoul(mode, nullptr, 8);
    std::string ls = (bits & 0170000) == 0120000 ? "l" : "?";
    for (int i = 8; i >= 0; --i) ls += (bits >> i & 1) ? "rwx"[(8 - i) % 3] : '-';
    EXPECT_NE(istat.out.find("Mode:\t" + ls + "\n"), std::string::npos) << istat.out << mode;
}

}  // namespace
}  // namespace quarry
