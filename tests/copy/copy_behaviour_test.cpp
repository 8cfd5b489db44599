// What a copy does around the bytes: names that collide or try to leave the target, folders and
// the files-only switch, forks that are empty, full and unwritable targets, Ctrl-C, output
// ports and the log.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <atomic>
#include <thread>

#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

using test::slurp;
using test::tree;

test::ProcessResult cli(const std::vector<std::string>& args) { return test::runCli(args); }

TEST(CopyNames, CollisionsNeverReplaceEarlierCopies) {
    test::TempDir target;
    { std::ofstream(target.file("Puzzle.com")) << "already here"; }
    const auto r = cli({"--to", target.path(), test::fixturePath("basic.hfs"), "COPY Puzzle", "COPY Puzzle", "COPY Puzzle"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(slurp(target.file("Puzzle.com")), "already here");
    // Three copies, three numbered names from the file counter on (1, 2, 3), none overwritten.
    EXPECT_EQ(tree(target.path()), (std::set<std::string>{"Puzzle.com", "Puzzle.001", "Puzzle.002", "Puzzle.003"}));
    for (const char* n : {"Puzzle.001", "Puzzle.002", "Puzzle.003"}) EXPECT_EQ(fs::file_size(target.file(n)), 1200u) << n;
}

TEST(CopyNames, NamesFromTheVolumeStayInsideTheTarget) {
    test::TempDir outer;
    const std::string target = outer.file("target");
    fs::create_directory(target);
    const auto r = cli({"--to", target, test::fixturePath("hostile.hfs"), "COPY *"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    // Only the target was written to, and every Macintosh file arrived.
    EXPECT_EQ(tree(outer.path()).size(), tree(target).size() + 1);
    EXPECT_FALSE(fs::exists("/tmp/quarry-evil"));
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(target)) {
        if (!e.is_regular_file()) continue;
        ++files;
        EXPECT_EQ(slurp(e.path()), "should stay inside the target\r");
    }
    EXPECT_EQ(files, 5);
    EXPECT_TRUE(fs::is_regular_file(target + "/..etcpasswd.txt"));
    EXPECT_TRUE(fs::is_directory(target + "/__"));
}

TEST(CopyNames, ShortNamesAndTheExtensionFile) {
    test::TempDir target;
    // Row DOC now names TEXT/ttxt: such files find it in the first pass.
    { std::ofstream(target.file("KTCREAT.DAT")) << "DOC TEXTttxt\n"; }
    const auto r = cli({"--to", target.path(), "--names", "short", test::fixturePath("basic.hfs"), "COPY /F *"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    const auto names = tree(target.path());
    EXPECT_TRUE(names.count("THIRTY-O.doc")) << r.out;
    EXPECT_TRUE(names.count("CAFEMENU.doc")) << r.out;
    EXPECT_TRUE(names.count("\xC3\x84PFEL.doc")) << r.out;  // Ä is 0x8E in code page 437
    EXPECT_TRUE(names.count("WHY(DRAF.doc")) << r.out;
    EXPECT_TRUE(names.count("PUZZLE.com"));
    EXPECT_TRUE(names.count("BIGFORKS.txt"));
}

TEST(CopyFolders, RecursesUnlessFilesOnly) {
    const std::string image = test::fixturePath("basic.hfs");
    test::TempDir all, filesOnly;
    ASSERT_TRUE(cli({"--to", all.path(), image, "COPY D*"}).succeeded());
    EXPECT_EQ(tree(all.path()), (std::set<std::string>{"Docs", "Docs/Manual.txt", "Docs/Read Me.txt", "Docs/Old Drafts",
                                                       "Docs/Old Drafts/Archive", "Docs/Old Drafts/Draft 1.txt",
                                                       "Docs/Old Drafts/Draft 2.txt"}));
    ASSERT_TRUE(cli({"--to", filesOnly.path(), image, "COPY /F D*"}).succeeded());
    EXPECT_TRUE(tree(filesOnly.path()).empty());
    // An empty folder is copied as an empty directory and the copy goes on after it.
    test::TempDir empty;
    const auto r = cli({"--to", empty.path(), image, "COPY E*"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_EQ(tree(empty.path()), (std::set<std::string>{"EitherOr.txt", "Empty Folder"}));
}

TEST(CopyForks, EmptyForksAreReportedAndNotCreated) {
    test::TempDir target;
    const auto r = cli({"--to", target.path(), test::fixturePath("basic.hfs"), "COPY \"Empty File\"", "COPY /R aardvark",
                        "COPY /B \"Empty File\""});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_NE(r.err.find("Quarry - : File Empty File has no data fork."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Quarry - : File aardvark has no resources fork."), std::string::npos) << r.err;
    // MacBinary carries any file: a header and nothing more.
    EXPECT_EQ(tree(target.path()), (std::set<std::string>{"Empty File.txt"}));
    EXPECT_EQ(fs::file_size(target.file("Empty File.txt")), 128u);
}

TEST(CopyForks, DatesOfTheCopiesAreTheStoredWallClockTimes) {
    test::TempDir target;
    ASSERT_TRUE(cli({"--to", target.path(), test::fixturePath("basic.hfs"), "COPY Puzzle", "COPY \"Old Timer\""}).succeeded());
    struct stat st {};
    ASSERT_EQ(::stat(target.file("Puzzle.com").c_str(), &st), 0);
    // 1993-11-02 14:45:10 read as local time, with TZ=UTC in the tests.
    EXPECT_EQ(st.st_mtime, 752251510);
    ASSERT_EQ(::stat(target.file("Old Timer.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, -60);  // 1969-12-31 23:59:00
}

// A small tmpfs for a target; skipped where this machine does not allow mounting one.
class SmallTarget {
public:
    explicit SmallTarget(const char* size) {
        mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, size) == 0;
        if (!mounted_) why_ = std::strerror(errno);
    }
    ~SmallTarget() {
        if (mounted_) ::umount(dir_.path().c_str());
    }
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    const std::string& path() const { return dir_.path(); }
    std::string file(const char* name) const { return dir_.file(name); }

private:
    test::TempDir dir_;
    bool mounted_ = false;
    std::string why_;
};

TEST(CopyTargets, NoRoomForTheFileIsReportedAndSkipped) {
    SmallTarget target("size=32k");
    if (!target.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here: " << target.why();
    const auto r = cli({"--to", target.path(), test::fixturePath("fragmented.hfs"), "COPY \"Scattered*\""});
    ASSERT_TRUE(r.succeeded()) << r.err;
    // 40960 bytes need ten 4 KB clusters of the eight free; the other file's two forks (24580
    // bytes, both counted) need six.
    EXPECT_NE(r.err.find("Quarry - : Not enough space on the volume."), std::string::npos) << r.err;
    EXPECT_EQ(tree(target.path()), (std::set<std::string>{"Scattered Resource.txt"}));
}

TEST(CopyTargets, AFullTargetLosesNothingAlreadyCopied) {
    SmallTarget target("size=36k");
    if (!target.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here: " << target.why();
    // A MacBinary copy is larger than the forks the free-space test counts: 32700 bytes pass the
    // test with eight clusters free, but header and padding make 32896 bytes.
    test::Bytes volume = test::readFile(test::fixturePath("fragmented.hfs"));
    test::HfsImage img(volume);
    img.setRecordData32(img.lookup(":Scattered Data"), test::catfile::kDataLogicalLength, 32700);
    test::TempDir dir;
    test::writeFile(dir.file("full.hfs"), volume);
    const auto r = cli({"--to", target.path(), dir.file("full.hfs"), "COPY /D \"Scattered Resource\"",
                        "COPY /B \"Scattered Data\"", "DIR"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_NE(r.err.find("Quarry - : Error copying \"Scattered Data\" to \"Scattered Data.txt\""), std::string::npos) << r.err;
    // The copy that could not be finished is not left behind; the earlier one is whole.
    EXPECT_EQ(tree(target.path()), (std::set<std::string>{"Scattered Resource.txt"}));
    EXPECT_EQ(fs::file_size(target.file("Scattered Resource.txt")), 4u);
}

TEST(CopyPorts, WriteErrorsOnAPortAreReported) {
    test::TempDir dir;
    const auto r = cli({"--to", dir.path(), "--port", "COM1=/dev/full", test::fixturePath("basic.hfs"), "COPY Puzzle",
                        "COPY aardvark"});
    ASSERT_TRUE(r.succeeded()) << r.err;
    EXPECT_NE(r.err.find("Quarry - : Error copying \"Puzzle\": cannot write: No space left on device"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Error copying \"aardvark\""), std::string::npos) << r.err;
}

TEST(CopyTargets, AnUnwritableTargetEndsTheRun) {
    test::TempDir target;
    ::chmod(target.path().c_str(), 0555);
    const auto r = test::runProcess({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", QUARRY_CLI_PATH, "--to",
                                     target.path(), test::fixturePath("basic.hfs"), "COPY Puzzle"},
                                    {"TZ=UTC"});
    ::chmod(target.path().c_str(), 0755);
    if (!r.started || r.err.find("cannot open") != std::string::npos) GTEST_SKIP() << "cannot run as another user here";
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Quarry - : Error opening file:Puzzle.com"), std::string::npos) << r.err;
    EXPECT_TRUE(tree(target.path()).empty());
}

TEST(CopyPorts, MacBinaryImagesGoOneAfterTheOther) {
    test::TempDir dir;
    const std::string image = test::fixturePath("basic.hfs");
    const std::vector<std::string> copies = {"COPY /B Puzzle", "COPY /B aardvark", "COPY /B \"Big Forks\""};
    // The same copies as files give the images the port must carry, one after the other.
    test::TempDir files;
    std::vector<std::string> args = {"--to", files.path(), image};
    args.insert(args.end(), copies.begin(), copies.end());
    ASSERT_TRUE(cli(args).succeeded());
    const std::string expected =
        slurp(files.file("Puzzle.com")) + slurp(files.file("aardvark.txt")) + slurp(files.file("Big Forks.txt"));
    ASSERT_EQ(expected.size(), size_t{2488 + 178 + 6748});

    const std::string fifo = dir.file("com2");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    // Each copy opens and closes the port, so the reader opens it again after every file.
    std::atomic<bool> writerDone{false};
    std::thread reader([&] {
        while (received.size() < expected.size() && !writerDone) {
            const int fd = ::open(fifo.c_str(), O_RDONLY);
            if (fd < 0) return;
            char buf[4096];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) received.append(buf, static_cast<size_t>(n));
            ::close(fd);
        }
    });
    args = {"--to", dir.path(), "--port", "COM2=" + fifo, image};
    args.insert(args.end(), copies.begin(), copies.end());
    const auto r = cli(args);
    // Should the program have stopped short, a last empty writer lets the reader finish.
    writerDone = true;
    if (const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
    reader.join();
    ASSERT_TRUE(r.succeeded()) << r.err;
    // No names and no status lines for a port: only the bytes.
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(received, expected);
    EXPECT_EQ(tree(dir.path()), (std::set<std::string>{"com2"}));
}

TEST(CopyPorts, APortThatCannotBeOpenedEndsTheRun) {
    test::TempDir dir;
    const auto r = cli({"--to", dir.path(), "--port", "LPT1=" + dir.file("no-such-printer"), test::fixturePath("basic.hfs"),
                        "COPY Puzzle", "DIR"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Quarry - : Error opening file:LPT1"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(CopyLog, EntriesAndTheClosingRecord) {
    test::TempDir dir;
    const std::string log = dir.file("run.log");
    const auto r = cli({"--to", dir.path(), "--log", log, test::fixturePath("basic.hfs"), "CD Docs", "COPY Manual", "CD ..",
                        "COPY \"Empty File\"", "CD \\", "COPY \"Old D*\""});
    ASSERT_TRUE(r.succeeded()) << r.err;
    const std::string text = slurp(log);
    const std::regex expected(
        "\\*cd Docs\r\nManual\tManual\\.txt\r\n\\*cd\\.\\.\n#File Empty File has no data fork\\.\n\\*cd\\\\\n"
        "<\\d{4}/\\d{1,2}/\\d{1,2} - [ \\d]\\d:\\d\\d:\\d\\d\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;

    // Appending keeps what is there; creating empties it.
    ASSERT_TRUE(cli({"--to", dir.path(), "--append-log", log, test::fixturePath("basic.hfs"), "CD Docs"}).succeeded());
    const std::string appended = slurp(log);
    EXPECT_EQ(appended.substr(0, text.size()), text);
    EXPECT_NE(appended.find("*cd Docs\r\n<", text.size()), std::string::npos);
    ASSERT_TRUE(cli({"--to", dir.path(), "--log", log, test::fixturePath("basic.hfs")}).succeeded());
    EXPECT_EQ(slurp(log).substr(0, 1), "<");
}

TEST(CopyLog, ALogThatCannotBeOpenedEndsTheRun) {
    test::TempDir dir;
    const auto r = cli({"--log", dir.file("missing/run.log"), test::fixturePath("basic.hfs"), "DIR"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Quarry - : Error opening file:" + dir.file("missing/run.log")), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(CopyAbort, CtrlCStopsTheCopyBetweenEntries) {
    test::TempDir target;
    int toChild[2], fromChild[2], errPipe[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    ASSERT_EQ(::pipe(errPipe), 0);
    const std::string image = test::fixturePath("basic.hfs");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        ::dup2(errPipe[1], 2);
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1], errPipe[0], errPipe[1]}) ::close(fd);
        ::execl(QUARRY_CLI_PATH, QUARRY_CLI_PATH, "--to", target.path().c_str(), image.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    ::close(errPipe[1]);
    // Once INFO has answered, the volume is mounted and Ctrl-C is handled.
    const std::string info = "INFO\n";
    ASSERT_EQ(::write(toChild[1], info.data(), info.size()), static_cast<ssize_t>(info.size()));
    char c;
    std::string out;
    while (out.find("Volume Size:") == std::string::npos && ::read(fromChild[0], &c, 1) == 1) out.push_back(c);
    ::kill(pid, SIGINT);
    const std::string copy = "COPY *\n";
    ASSERT_EQ(::write(toChild[1], copy.data(), copy.size()), static_cast<ssize_t>(copy.size()));
    ::close(toChild[1]);
    while (::read(fromChild[0], &c, 1) == 1) out.push_back(c);
    std::string err;
    while (::read(errPipe[0], &c, 1) == 1) err.push_back(c);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(fromChild[0]);
    ::close(errPipe[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Standard input is not a terminal: the question is answered Yes and nothing is copied.
    EXPECT_NE(err.find("Quarry - : You hit the Esc key. Do you really want to abort? [Yes]"), std::string::npos) << err;
    EXPECT_TRUE(tree(target.path()).empty());
    EXPECT_EQ(out.find("Copy of"), std::string::npos) << out;
}

}  // namespace
}  // namespace quarry
