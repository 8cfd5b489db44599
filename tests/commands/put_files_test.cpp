// PUT: PC files and folders onto a volume, read back by hfsutils as they were on the PC; names
// made legal and said; a taken name, a full volume, a missing file or a pipe refused with the
// volume left sound and every earlier file kept.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

// Bytes that differ from file to file and from block to block, the same in every run.
std::string bytesOf(size_t length, uint32_t pattern) {
    std::mt19937 next(pattern);
    std::string out(length, '\0');
    for (char& c : out) c = static_cast<char>(next() & 0xFF);
    return out;
}

void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string newVolume(const TempDir& dir, const char* size, const std::string& name = "put.hfs") {
    const std::string image = dir.file(name);
    std::filesystem::remove(image);
    const ProcessResult made = runCli({"--new-volume", "Put", "--size", size, image});
    EXPECT_EQ(made.exitCode, 0) << made.err;
    return image;
}

void expectSound(const std::string& image) {
    const ProcessResult check = runCli({"--check", image});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_EQ(check.out + check.err, "");
}

TEST(Put, AFolderTreeListsAsOnThePc) {
    TempDir dir;
    // 200 files in five levels of folders, of sizes from none to several blocks.
    const std::string root = dir.file("Tree");
    std::map<std::string, std::string> files;  // hfsutils path -> bytes
    std::vector<std::string> expected;
    std::string pc = root, mac = ":Tree";
    const char* extensions[] = {".txt", ".doc", ".xyz", ""};
    for (int level = 1; level <= 5; ++level) {
        std::filesystem::create_directories(pc);
        expected.push_back(mac + "\td " + std::to_string(level < 5 ? 41 : 40));
        for (int i = 0; i < 40; ++i) {
            const std::string name = "File " + std::to_string(level) + "-" + std::to_string(i) + extensions[i % 4];
            const std::string bytes = bytesOf(static_cast<size_t>((i * 997 + level * 31) % 3000), static_cast<uint32_t>(level * 100 + i));
            writeFile(pc + "/" + name, bytes);
            files[mac + ":" + name] = bytes;
            expected.push_back(mac + ":" + name + "\tf " + std::to_string(bytes.size()) + " 0");
        }
        pc += "/Level " + std::to_string(level + 1);
        mac += ":Level " + std::to_string(level + 1);
    }
    // A dated file: the date the PC keeps, as the wall clock shows it.
    std::tm when{};
    when.tm_year = 101, when.tm_mon = 1, when.tm_mday = 3, when.tm_hour = 4, when.tm_min = 5, when.tm_isdst = -1;
    const utimbuf times{std::mktime(&when), std::mktime(&when)};
    ASSERT_EQ(utime((root + "/File 1-0.txt").c_str(), &times), 0);

    const std::string image = newVolume(dir, "1440k");
    const ProcessResult r = runCli({"--write", "--log", dir.file("put.log"), image, "PUT " + root});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // A log line for each file and folder, written once.
    const std::string log = slurp(dir.file("put.log"));
    size_t logged = 0;
    for (size_t at = log.find("*put "); at != std::string::npos; at = log.find("*put ", at + 1)) ++logged;
    EXPECT_EQ(logged, expected.size());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(hlsTree(image), expected);
    for (const auto& [path, bytes] : files)
        if (path.find(" 1-") != std::string::npos || path.find(" 5-1") != std::string::npos) {
            EXPECT_EQ(hcopyData(image, path), bytes) << path;
        }
    // Type and creator from the extension, through the type/creator table read backwards.
    std::map<std::string, std::string> codes;
    for (const OracleEntry& e : hlsList(image, ":Tree")) codes[e.name] = e.type + " " + e.creator;
    EXPECT_EQ(codes["File 1-0.txt"], "TEXT ????");
    EXPECT_EQ(codes["File 1-1.doc"], "WDBN MSWD");
    EXPECT_EQ(codes["File 1-2.xyz"], "???? ????");
    EXPECT_EQ(codes["File 1-3"], "???? ????");
    for (const OracleEntry& e : hlsList(image, ":Tree"))
        if (e.name == "File 1-0.txt") {
            EXPECT_EQ(e.modified.text, "Feb  3  2001");
        }
    expectSound(image);
    // hfsutils goes on changing it.
    ASSERT_TRUE(hfsutilsChange(image, {{"hmkdir", ":Tree:By hfsutils"}, {"hdel", ":Tree:File 1-7"}}));
    expectSound(image);
}

TEST(Put, NamesMadeLegalAndRefusals) {
    TempDir dir;
    const std::string image = newVolume(dir, "800k");
    const std::string note = dir.file("note.txt"), other = dir.file("other.txt");
    writeFile(note, "the first note");
    writeFile(other, "another text");
    const std::string longName = dir.file("A PC name longer than 31 characters.txt");
    writeFile(longName, "long");
    const std::string colon = dir.file("Budget: 1995");
    writeFile(colon, "colon");
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);

    // Made legal, said aside, and not a failure.
    ProcessResult r = runCli({"--write", image, "PUT \"" + longName + "\"", "PUT \"" + colon + "\"", "PUT " + note});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("is named \"A PC name longer than 31 charac\" on the volume"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("is named \"Budget/ 1995\""), std::string::npos) << r.err;
    EXPECT_EQ(hlsTree(image), (std::vector<std::string>{":A PC name longer than 31 charac\tf 4 0", ":Budget/ 1995\tf 5 0",
                                                         ":note.txt\tf 14 0"}));

    const std::string before = slurp(image);
    const struct {
        std::string line, said;
    } refusals[] = {
        {"PUT " + other + " note.txt", "\"note.txt\" is in the folder already and is kept; it is not put."},
        {"PUT " + dir.file("missing.txt"), "No such file or directory; it is not put."},
        {"PUT " + pipe, "not a file or a folder; it is not put."},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.line);
        r = runCli({"--write", image, refusal.line});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(refusal.said), std::string::npos) << r.err;
        EXPECT_TRUE(slurp(image) == before);
    }
    EXPECT_EQ(hcopyData(image, ":note.txt"), "the first note");
    // The name asked for instead.
    r = runCli({"--write", image, "PUT " + other + " \"Other note\""});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(hcopyData(image, ":Other note"), "another text");

    // A file larger than the free space is refused before anything is written; in a folder,
    // the files before it stay and the rest are not put.
    const uint64_t free = hmountFreeBytes(image);
    const std::string big = dir.file("big.bin");
    writeFile(big, bytesOf(static_cast<size_t>(free + 1), 7));
    const std::string full = slurp(image);
    r = runCli({"--write", image, "PUT " + big});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("The volume is full: big.bin needs"), std::string::npos) << r.err;
    EXPECT_TRUE(slurp(image) == full);
    const std::string folder = dir.file("Batch");
    std::filesystem::create_directory(folder);
    writeFile(folder + "/1 small", "small");
    std::filesystem::copy_file(big, folder + "/2 big");
    writeFile(folder + "/3 after", "after");
    r = runCli({"--write", image, "PUT " + folder});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("The volume is full: 2 big needs"), std::string::npos) << r.err;
    EXPECT_EQ(hlsTree(image), (std::vector<std::string>{":A PC name longer than 31 charac\tf 4 0", ":Batch\td 1", ":Batch:1 small\tf 5 0",
                                                         ":Budget/ 1995\tf 5 0", ":Other note\tf 12 0", ":note.txt\tf 14 0"}));
    expectSound(image);
}

// Every form a Macintosh file travels in, put back, gives the file it carries: hcopy -m of the
// file put (its name, type, creator, Finder flags and location, dates and both forks) is hcopy -m
// of the original, but for what the form does not keep.
TEST(Put, EveryFormGivesBackTheFileItCarries) {
    TempDir dir;
    // Finder flags in both bytes, dates before 1970, forks full of BinHex's run marker.
    const std::string source = fixturePath("formats.hfs");
    const std::string original = hcopyMacBinary(source, ":Runs");
    ASSERT_EQ(original.size(), 128u + 128 + 1920);
    struct Form {
        std::string label;
        bool dates = true, lowFlags = true, location = true;
    };
    std::vector<std::pair<Form, std::string>> files;  // the form, the PC file to put
    for (const char* format : {"mb1", "mb2", "mb3", "applesingle", "appledouble", "binhex"}) {
        const std::string to = dir.file(format);
        std::filesystem::create_directory(to);
        const ProcessResult r = runCli({"--binary-format", format, "--to", to, source, "COPY /B Runs"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        for (const auto& e : std::filesystem::directory_iterator(to))
            if (e.path().filename().string().rfind("._", 0) != 0) {
                const std::string f = format;
                files.push_back({Form{f, f != "binhex", f != "mb1", f != "binhex"}, e.path().string()});
            }
    }
    writeFile(dir.file("hcopy.bin"), original);
    files.push_back({Form{"hcopy -m"}, dir.file("hcopy.bin")});
    writeFile(dir.file("hcopy.hqx"), hcopyBinHex(source, ":Runs"));
    files.push_back({Form{"hcopy -b", false, true, false}, dir.file("hcopy.hqx")});
    ASSERT_EQ(files.size(), 8u);

    // BinHex keeps no dates: the PC file's modification date stands in, as the wall clock
    // reads it.
    std::tm when{};
    when.tm_year = 101, when.tm_mon = 1, when.tm_mday = 3, when.tm_hour = 4, when.tm_min = 5, when.tm_isdst = -1;
    std::tm wall = when;
    const utimbuf times{std::mktime(&when), std::mktime(&when)};
    const auto modified = static_cast<uint32_t>(timegm(&wall) + 2082844800);
    for (const auto& [form, pcFile] : files) {
        SCOPED_TRACE(form.label);
        ASSERT_EQ(utime(pcFile.c_str(), &times), 0);
        const std::string image = newVolume(dir, "800k");
        const ProcessResult r = runCli({"--write", image, "PUT \"" + pcFile + "\""});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_EQ(hlsTree(image), (std::vector<std::string>{":Runs\tf 16 1915"}));
        std::string put = hcopyMacBinary(image, ":Runs");
        ASSERT_EQ(put.size(), original.size());
        std::string expected = original;
        // What a form leaves out comes back as the put makes it: now for the dates, nothing
        // else.
        auto take = [&](size_t at, size_t length) { std::copy_n(put.begin() + static_cast<long>(at), length, expected.begin() + static_cast<long>(at)); };
        if (!form.dates) {
            take(91, 4);  // created: when the PC file was made
            for (int i = 0; i < 4; ++i) expected[95 + i] = static_cast<char>(modified >> (24 - 8 * i));
        }
        if (!form.lowFlags) take(101, 1);
        if (!form.location) take(75, 6);
        take(124, 2);  // the header's CRC
        EXPECT_TRUE(put == expected) << "header bytes differ first at " << std::mismatch(put.begin(), put.end(), expected.begin()).first - put.begin();
        expectSound(image);
    }
}

// A file put where only scattered blocks are free takes them all: three extents in its
// catalog record, the rest in extents records that hfsutils follows.
TEST(Put, ScatteredFreeBlocksGiveExtentsRecords) {
    TempDir dir;
    const std::string image = newVolume(dir, "800k");
    const std::string small = dir.file("Small");
    std::filesystem::create_directory(small);
    for (int i = 0; i < 24; ++i) writeFile(small + "/S" + std::to_string(10 + i), std::string(512, static_cast<char>('a' + i % 26)));
    ProcessResult r = runCli({"--write", image, "PUT " + small});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string filler = dir.file("Filler");
    writeFile(filler, bytesOf(static_cast<size_t>(hmountFreeBytes(image)), 3));
    std::vector<std::string> lines = {"PUT " + filler, "CD Small"};
    for (int i = 0; i < 24; i += 2) lines.push_back("DEL S" + std::to_string(10 + i));
    std::vector<std::string> args = {"--write", image};
    args.insert(args.end(), lines.begin(), lines.end());
    r = runCli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(hmountFreeBytes(image), 12u * 512);
    const std::string scattered = bytesOf(12 * 512, 11);
    writeFile(dir.file("Scattered"), scattered);
    r = runCli({"--write", image, "PUT " + dir.file("Scattered")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(hcopyData(image, ":Scattered") == scattered);
    EXPECT_TRUE(hcopyData(image, ":Small:S11") == std::string(512, 'b'));
    EXPECT_EQ(hmountFreeBytes(image), 0u);
    expectSound(image);
}

// A catalog that cannot grow on a full volume stops the put part-way: the files before the one
// that found no room stay, and the volume is sound.
TEST(Put, ACatalogThatCannotGrowKeepsTheFilesBefore) {
    TempDir dir;
    const std::string image = newVolume(dir, "800k");
    writeFile(dir.file("Filler"), bytesOf(static_cast<size_t>(hmountFreeBytes(image)), 5));
    const std::string many = dir.file("Many");
    std::filesystem::create_directory(many);
    for (int i = 0; i < 200; ++i) writeFile(many + "/An empty file with a name " + std::to_string(100 + i), "");
    const ProcessResult r = runCli({"--write", image, "PUT " + dir.file("Filler"), "PUT " + many});
    EXPECT_EQ(r.exitCode, 1);
    // Said once, by the change that found no room.
    EXPECT_EQ(outputLines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("no room on the volume"), std::string::npos) << r.err;
    const std::vector<OracleEntry> kept = hlsList(image, ":Many");
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), 200u);
    EXPECT_EQ(hlsTree(image).size(), kept.size() + 2);
    expectSound(image);
}

}  // namespace
}  // namespace quarry::test
