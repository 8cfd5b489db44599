// What a copy does around the bytes, through quarry-cli: dates, full and unwritable targets,
// Ctrl-C, ports and the log (the single runs of names, folders, forks, ports and manifests are
// rows of tests/cli/cli_test.cpp); and the copy engine driven directly: the copy of a selection,
// the abort question between entries, damage and read errors. Renaming on the fly is tested
// with the manifest's escaped names in copy_oracle_test.cpp.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <regex>

#include "app/main_commands.h"
#include "copy/copy_context.h"
#include "copy/copy_engine.h"
#include "dialogs/log_dialog.h"
#include "support/hfs_oracle.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;
using test::slurp;
using test::tree;

TEST(CopyRuns, DatesOfTheCopiesAreTheStoredWallClockTimes) {
    // The date tests also run under other zones (tests/CMakeLists.txt); a zone whose data is
    // missing would silently read as UTC and prove nothing.
    if (const char* zone = std::getenv("TZ"); zone && std::string_view(zone) != "UTC") {
        bool offset = false;
        for (time_t t : {time_t{0}, time_t{182 * 86400}}) {
            std::tm tm{};
            localtime_r(&t, &tm);
            offset = offset || tm.tm_gmtoff != 0;
        }
        ASSERT_TRUE(offset) << "the zone " << zone << " reads as UTC: is tzdata installed?";
    }
    test::TempDir target;
    ASSERT_TRUE(test::runCli({"--to", target.path(), test::fixturePath("basic.hfs"), "COPY Puzzle", "COPY \"Old Timer\""}).succeeded());
    // Whatever this machine's zone, its clock shows each copy with the time the Macintosh showed.
    auto shown = [&](const char* name) -> std::string {
        struct stat st {};
        if (::stat(target.file(name).c_str(), &st) != 0) return "no file";
        std::tm tm{};
        localtime_r(&st.st_mtime, &tm);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        return text;
    };
    EXPECT_EQ(shown("Puzzle.com"), "1993-11-02 14:45:10");
    EXPECT_EQ(shown("Old Timer.txt"), "1969-12-31 23:59:00");
}

// A target on a small tmpfs; the tests skip where this machine does not allow mounting one.
struct SmallTarget : test::TempDir {
    explicit SmallTarget(const char* size) : mounted(::mount("tmpfs", path().c_str(), "tmpfs", 0, size) == 0) {}
    ~SmallTarget() {
        if (mounted) ::umount(path().c_str());
    }
    const bool mounted;
};

TEST(CopyTargets, NoRoomIsSaidAndNothingCopiedIsLost) {
    SmallTarget small("size=32k"), full("size=36k");
    if (!small.mounted || !full.mounted) GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    // 40960 bytes need ten 4 KB clusters of the eight free; the other file's two forks (24580
    // bytes, both counted) need six. The file left out fails the run; the one after it is copied.
    auto r = test::runCli({"--to", small.path(), test::fixturePath("fragmented.hfs"), "COPY \"Scattered*\""});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Quarry - : Not enough space on the volume."), std::string::npos) << r.err;
    EXPECT_EQ(tree(small.path()), (std::set<std::string>{"Scattered Resource.txt"}));

    // A MacBinary copy is larger than the forks the free-space test counts: 32700 bytes pass the
    // test with eight clusters free, but header and padding make 32896 bytes.
    test::TempDir dir;
    const std::string image = test::bentFixture(dir, "fragmented.hfs", [](test::Bytes& b) {
        test::HfsImage img(b);
        img.setRecordData32(img.lookup(":Scattered Data"), test::catfile::kDataLogicalLength, 32700);
    });
    const std::string manifest = dir.file("run.sha256");
    r = test::runCli({"--to", full.path(), "--manifest", manifest, image, "COPY /D \"Scattered Resource\"", "COPY /B \"Scattered Data\"",
                      "DIR"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("Scattered Data\t"), std::string::npos) << "the DIR after the failed copy ran";
    EXPECT_NE(r.err.find("Quarry - : Error copying \"Scattered Data\" to \"Scattered Data.txt\""), std::string::npos) << r.err;
    // The copy that could not be finished is not left behind, nor listed; the earlier one is whole.
    EXPECT_EQ(tree(full.path()), (std::set<std::string>{"Scattered Resource.txt"}));
    EXPECT_EQ(fs::file_size(full.file("Scattered Resource.txt")), 4u);
    const std::string lines = slurp(manifest);
    EXPECT_TRUE(std::regex_match(lines, std::regex("[0-9a-f]{64}  Scattered Resource\\.txt\n"))) << lines;
}

TEST(CopyTargets, AnUnwritableTargetEndsTheRun) {
    test::TempDir target;
    ::chmod(target.path().c_str(), 0555);
    auto copyInto = [](const std::string& to) {
        return test::runProcess({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", QUARRY_CLI_PATH, "--to", to,
                                 test::fixturePath("basic.hfs"), "COPY Puzzle"},
                                {"TZ=UTC"});
    };
    const auto r = copyInto(target.path());
    const auto made = copyInto(target.file("new"));  // a target that cannot be made there
    ::chmod(target.path().c_str(), 0755);
    if (!r.started || r.err.find("cannot open") != std::string::npos) GTEST_SKIP() << "cannot run as another user here";
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Quarry - : Error opening file:Puzzle.com"), std::string::npos) << r.err;
    EXPECT_EQ(made.exitCode, 1);
    EXPECT_EQ(made.err, "Quarry - : cannot copy into " + target.file("new") + ": Permission denied\n");
    EXPECT_TRUE(tree(target.path()).empty());
}

// The port is the standard output of quarry-cli, a pipe, which the program opens and closes for
// each copy; the reading end must see the images one after the other and nothing else.
TEST(CopyPorts, MacBinaryImagesGoOneAfterTheOther) {
    test::TempDir files, dir;
    const std::vector<std::string> copies = {test::fixturePath("basic.hfs"), "COPY /B Puzzle", "COPY /B aardvark", "COPY /B \"Big Forks\""};
    std::vector<std::string> args = {"--to", files.path()};
    args.insert(args.end(), copies.begin(), copies.end());
    // The same copies as files give the images the port must carry.
    ASSERT_TRUE(test::runCli(args).succeeded());
    const std::string expected = slurp(files.file("Puzzle.com")) + slurp(files.file("aardvark.txt")) + slurp(files.file("Big Forks.txt"));
    ASSERT_EQ(expected.size(), size_t{2488 + 178 + 6748});

    args = {"bash", "-c", "set -o pipefail; \"$0\" \"$@\" | cat", QUARRY_CLI_PATH, "--to", dir.path(), "--port", "COM2=/dev/stdout"};
    args.insert(args.end(), copies.begin(), copies.end());
    const auto r = test::runProcess(args, {"TZ=UTC"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_TRUE(r.out == expected) << "no names and no status lines for a port: only the bytes";
    EXPECT_TRUE(tree(dir.path()).empty());
}

TEST(CopyLog, EntriesAndTheClosingRecord) {
    test::TempDir dir;
    const std::string log = dir.file("run.log"), image = test::fixturePath("basic.hfs");
    ASSERT_TRUE(test::runCli({"--to", dir.path(), "--log", log, image, "CD Docs", "COPY Manual", "CD ..", "COPY \"Empty File\"", "CD \\",
                              "COPY \"Old D*\""})
                    .succeeded());
    const std::string text = slurp(log);
    const std::regex expected(
        "\\*cd Docs\r\nManual\tManual\\.txt\r\n\\*cd\\.\\.\n#File Empty File has no data fork\\.\n\\*cd\\\\\n"
        "<\\d{4}/\\d{1,2}/\\d{1,2} - [ \\d]\\d:\\d\\d:\\d\\d\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
    // Appending keeps what is there; creating empties it.
    ASSERT_TRUE(test::runCli({"--to", dir.path(), "--append-log", log, image, "CD Docs"}).succeeded());
    const std::string appended = slurp(log);
    EXPECT_EQ(appended.substr(0, text.size()), text);
    EXPECT_NE(appended.find("*cd Docs\r\n<", text.size()), std::string::npos);
    ASSERT_TRUE(test::runCli({"--to", dir.path(), "--log", log, image}).succeeded());
    EXPECT_EQ(slurp(log).substr(0, 1), "<");
    // The closing record that names a manifest is checked by the desktop program's test (tests/gui).
}

TEST(CopyAbort, CtrlCStopsTheCopyBetweenEntries) {
    test::TempDir target;
    int in[2], out[2], err[2];
    ASSERT_EQ(::pipe(in) | ::pipe(out) | ::pipe(err), 0);
    const std::string image = test::fixturePath("basic.hfs");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(in[0], 0), ::dup2(out[1], 1), ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        ::execl(QUARRY_CLI_PATH, QUARRY_CLI_PATH, "--to", target.path().c_str(), image.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]), ::close(out[1]), ::close(err[1]);
    auto send = [&](const std::string& line) { return ::write(in[1], line.data(), line.size()) == static_cast<ssize_t>(line.size()); };
    // Once INFO has answered, the volume is mounted and Ctrl-C is handled.
    ASSERT_TRUE(send("INFO\n"));
    std::string output, errors;
    char c;
    while (output.find("Volume Size:") == std::string::npos && ::read(out[0], &c, 1) == 1) output.push_back(c);
    ::kill(pid, SIGINT);
    ASSERT_TRUE(send("COPY *\n"));
    ::close(in[1]);
    while (::read(out[0], &c, 1) == 1) output.push_back(c);
    while (::read(err[0], &c, 1) == 1) errors.push_back(c);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out[0]), ::close(err[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Standard input is not a terminal: the question is answered Yes and nothing is copied.
    EXPECT_NE(errors.find("Quarry - : You hit the Esc key. Do you really want to abort? [Yes]"), std::string::npos) << errors;
    EXPECT_TRUE(tree(target.path()).empty());
    EXPECT_EQ(output.find("Copy of"), std::string::npos) << output;
}

TEST(CopySelection, CopiesEachSelectedEntryOnce) {
    test::CurrentTempDir target;  // the copy writes to the current folder
    test::MountedImage m(test::fixturePath("basic.hfs"));
    m.list();

    // Nothing selected: the message, nothing else.
    CopySelectionToPc(m.session);
    EXPECT_EQ(m.ui.timedMessages, (std::vector<std::string>{"No selected file or folder. Please select an item to copy toward the PC"}));
    EXPECT_EQ(m.ui.targetDialogs, 0);

    SelectEntry(m.session, m.indexOf("Puzzle"));
    SelectEntry(m.session, m.indexOf("Docs"));
    m.ui.targetAnswer = false;
    CopySelectionToPc(m.session);
    // Cancelling the target chooser copies nothing and keeps the selection.
    EXPECT_EQ(m.ui.targetDialogs, 1);
    EXPECT_TRUE(tree(target.path()).empty());
    EXPECT_EQ(CountSelectedEntries(m.session.settings.list), 2);

    m.ui.targetAnswer = true;
    CopySelectionToPc(m.session);
    EXPECT_EQ(CountSelectedEntries(m.session.settings.list), 0);
    EXPECT_TRUE(tree(target.path()).count("Puzzle.com"));
    EXPECT_TRUE(tree(target.path()).count("Docs/Old Drafts/Draft 2.txt"));
    // The current folder is the one the copy started from.
    EXPECT_EQ(m.session.dir.currentDirID, kRootDirId);

    // "Use Current Directory" and port output skip the chooser.
    m.session.settings.useCurrentDirectory = true;
    SelectEntry(m.session, m.indexOf("aardvark"));
    CopySelectionToPc(m.session);
    EXPECT_EQ(m.ui.targetDialogs, 2);
    EXPECT_TRUE(tree(target.path()).count("aardvark.txt"));

    // Without a drive, only the message.
    m.session.device.targetId = kNoSelection;
    SelectEntry(m.session, m.indexOf("Puzzle"));
    m.ui.timedMessages.clear();
    CopySelectionToPc(m.session);
    EXPECT_EQ(m.ui.timedMessages, (std::vector<std::string>{"Select drive in the 'Mac Drive' menu"}));
}

TEST(CopyAbort, TheQuestionStopsOnlyTheFolderThatAsked) {
    test::CurrentTempDir target;  // the copy writes to the current folder
    test::MountedImage m(test::fixturePath("basic.hfs"));
    // The first poll comes before Docs, the second before Docs's first entry: Answering Yes there
    // stops Docs at once, leaving it empty, and its result ends the copy of the pattern.
    m.ui.abortAfterPolls = 1;
    const uint16_t result = CopyMacEntries(m.session.copyContext(), m.session.dir.currentDirID, "D*");
    EXPECT_EQ(result, copyresult::kAborted);
    EXPECT_EQ(tree(target.path()), (std::set<std::string>{"Docs"}));

    // An abort at entry level ends the whole copy: one file, then Yes before the second.
    test::CurrentTempDir second;
    m.ui.abortAfterPolls = m.ui.escapePolls + 1;
    EXPECT_EQ(CopyMacEntries(m.session.copyContext(), m.session.dir.currentDirID, "*"), copyresult::kAborted);
    EXPECT_EQ(tree(second.path()), (std::set<std::string>{"aardvark.txt"}));
}

// A leaf of "Big Folder" damaged two leaves into the folder: both programs copy the entries read
// before it, name the folder left incomplete in the same words, and quarry-cli fails the run.
TEST(CopyDamage, AFolderCutShortByADamagedLeafIsNamed) {
    test::TempDir dir;
    std::vector<std::string> before;  // the entries in the leaves ahead of the damaged one
    uint32_t damaged = 0;
    const std::string image = test::bentFixture(dir, "many.hfs", [&](test::Bytes& b) {
        test::HfsImage img(b);
        std::vector<uint32_t> leaves;
        for (const auto& kid : img.children(img.lookup(":Big Folder").id)) {
            if (leaves.empty() || leaves.back() != kid.node) leaves.push_back(kid.node);
            if (leaves.size() < 3) before.push_back(kid.name);
        }
        damaged = leaves.at(2);
        img.setRecordCount(test::Tree::Catalog, damaged, 300);
    });
    const std::string message = "This folder could not be copied whole: \"Big Folder\" (catalog node " + std::to_string(damaged) + ": ";
    auto copied = [](const std::string& folder) {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(folder)) n += e.is_regular_file();
        return n;
    };

    test::TempDir cliTarget;
    const test::ProcessResult r = test::runCli({"--to", cliTarget.path(), image, "COPY \"Big Folder\""});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Quarry - : " + message), std::string::npos) << r.err;
    EXPECT_EQ(copied(cliTarget.file("Big Folder")), before.size());

    test::CurrentTempDir target;
    test::MountedImage m(image);
    m.list();
    m.session.settings.useCurrentDirectory = true;
    SelectEntry(m.session, m.indexOf("Big Folder"));
    CopySelectionToPc(m.session);
    ASSERT_EQ(m.ui.timedMessages.size(), 1u);
    EXPECT_EQ(m.ui.timedMessages[0].rfind(message, 0), 0u) << m.ui.timedMessages[0];
    EXPECT_NE(r.err.find(m.ui.timedMessages[0]), std::string::npos) << r.err;
    EXPECT_EQ(copied(target.path() + "/Big Folder"), before.size());
    EXPECT_EQ(m.session.copy.failures, 1u);
}

// A medium whose chosen 2048-byte blocks cannot be read, under a fork of 11 extents: by default
// the file's copy stops and nothing of it stays; with zeros asked for, the file is whole, has zeros
// exactly in the sectors of the failed blocks and hcopy's bytes everywhere else, and each such
// sector is named once on the screen and once in the log.
TEST(CopyReadErrors, StopTheFileOrWriteZerosAndNameEachSectorOrDropAnAppleDoublePair) {
    const std::string fixture = test::fixturePath("fragmented.hfs");
    test::Bytes bytes = test::readFile(fixture);
    const test::HfsImage img(bytes);
    const std::vector<uint32_t> sectors = img.forkSectors(img.lookup(":Scattered Data"), test::Fork::Data);
    // A block at the fork's unaligned start (read a sector at a time) and one inside a run.
    const std::set<uint32_t> failed = {sectors[2] / 4, sectors[20] / 4};
    std::string expected = test::hcopyData(fixture, ":Scattered Data");
    std::vector<std::string> named;
    uint32_t firstZeroed = 0;
    for (size_t i = 0; i < sectors.size() && i * 512 < expected.size(); ++i) {
        if (!failed.count(sectors[i] / 4)) continue;
        if (named.empty()) firstZeroed = sectors[i];
        std::fill_n(expected.begin() + static_cast<long>(i * 512), std::min<size_t>(512, expected.size() - i * 512), '\0');
        named.push_back("Unreadable sector written as zeros: sector " + std::to_string(sectors[i]) + " of \"Scattered Data\"");
    }
    ASSERT_GE(named.size(), 5u);

    for (const ReadErrors policy : {ReadErrors::StopFile, ReadErrors::WriteZeros}) {
        test::CurrentTempDir target;
        test::MountedImage m("fragmented.hfs", bytes);
        ASSERT_EQ(m.mountResult, 1);
        Session& session = m.session;
        for (const uint32_t block : failed) m.drive().failBlock(block, aspi::kError);
        session.log.name = target.file("run.log");
        ASSERT_TRUE(CreateLogFile(session));
        session.settings.readErrors = policy;

        EXPECT_EQ(CopyMacEntries(session.copyContext(), kRootDirId, "Scattered Data"), copyresult::kDone);
        CloseLogFile(session.log);
        // Stopped or finished with zeros, the file is not a whole copy.
        EXPECT_EQ(session.copy.failures, 1u);
        const std::string log = slurp(target.file("run.log"));
        if (policy == ReadErrors::StopFile) {
            EXPECT_EQ(tree(target.path()), (std::set<std::string>{"run.log"}));
            ASSERT_EQ(m.ui.timedMessages.size(), 1u);
            EXPECT_NE(m.ui.timedMessages[0].find("read error at sector " + std::to_string(firstZeroed) + " "), std::string::npos)
                << m.ui.timedMessages[0];
        } else {
            EXPECT_TRUE(slurp(target.file("Scattered Data.txt")) == expected);
            EXPECT_EQ(m.ui.timedMessages, named);
            for (const std::string& line : named) EXPECT_NE(log.find(line + "\r\n"), std::string::npos) << log;
        }
    }

    // AppleDouble writes its pair one file after the other; a resource fork that cannot be read
    // while the "._" file is written takes the finished data file with it.
    const uint32_t rsrcSector = img.forkSectors(img.lookup(":Scattered Resource"), test::Fork::Resource).at(0);
    test::CurrentTempDir target;
    test::MountedImage m("fragmented.hfs", bytes);
    m.session.settings.setCopyMode(opt::kCopyMacBinary);
    m.session.settings.binaryFormat = BinaryFormat::AppleDouble;
    EXPECT_EQ(CopyMacEntries(m.session.copyContext(), kRootDirId, "Scattered Resource"), copyresult::kDone);
    EXPECT_EQ(tree(target.path()), (std::set<std::string>{"Scattered Resource.txt", "._Scattered Resource.txt"}));
    for (const std::string name : {"Scattered Resource.txt", "._Scattered Resource.txt"}) fs::remove(target.file(name));
    m.drive().failBlock(rsrcSector / 4, aspi::kError);
    EXPECT_EQ(CopyMacEntries(m.session.copyContext(), kRootDirId, "Scattered Resource"), copyresult::kDone);
    EXPECT_EQ(tree(target.path()), std::set<std::string>{});
    ASSERT_FALSE(m.ui.timedMessages.empty());
    EXPECT_NE(m.ui.timedMessages.back().find("Error copying \"Scattered Resource\""), std::string::npos) << m.ui.timedMessages.back();
}

}  // namespace
}  // namespace quarry
