// SETATTR against hfsutils: the type, creator, lock and dates it writes are what hls reads; a
// setting it cannot take leaves the image byte for byte as it was.

#include <gtest/gtest.h>

#include <fstream>

#include "support/cli_run.h"
#include "support/hfs_oracle.h"
#include "support/temp_dir.h"

namespace quarry::test {
namespace {

// A new volume with a file "Hello" (3 bytes, put by hcopy) and a folder "Fold".
std::string helloVolume(const TempDir& dir) {
    const std::string image = dir.path() + "/v.img", pcFile = dir.path() + "/hi.txt";
    std::ofstream(pcFile) << "hi\n";
    EXPECT_EQ(runCli({"--new-volume", "Attr", "--size", "800k", image}).exitCode, 0);
    EXPECT_TRUE(hfsutilsChange(image, {{"hcopy", "-r", pcFile, ":Hello"}, {"hmkdir", ":Fold"}}));
    return image;
}

OracleEntry entry(const std::string& image, const std::string& name) {
    for (const OracleEntry& e : hlsList(image, ":"))
        if (e.name == name) return e;
    ADD_FAILURE() << "hls does not list " << name;
    return {};
}

TEST(SetAttributes, WritesWhatHlsReads) {
    TempDir dir;
    const std::string image = helloVolume(dir);
    // One line longer than the 79 characters other lines are cut to; "SET" abbreviates SETATTR.
    ProcessResult r = runCli({"--write", image,
                              "SETATTR Hello type=TEXT creator=ttxt created=1995-03-01T14:30 modified=2001-12-31T23:59:58 locked=1",
                              "SET Fold created=1990-01-02 modified=1999-07-04T08:00:00"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    OracleEntry hello = entry(image, "Hello");
    EXPECT_EQ(hello.type + hello.creator, "TEXTttxt");
    EXPECT_TRUE(hello.locked);
    EXPECT_EQ(hello.modified.text, "Dec 31  2001");
    EXPECT_EQ(hello.created.text, "Mar  1  1995");
    EXPECT_EQ(hello.dataSize, 3u);
    const OracleEntry fold = entry(image, "Fold");
    EXPECT_EQ(fold.created.text, "Jan  2  1990");
    EXPECT_EQ(fold.modified.text, "Jul  4  1999");
    // And back: unlocked, the type alone changed.
    r = runCli({"--write", image, "SETATTR Hello locked=0 type=ttro"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    hello = entry(image, "Hello");
    EXPECT_FALSE(hello.locked);
    EXPECT_EQ(hello.type + hello.creator, "ttrottxt");
    EXPECT_EQ(runCli({"--check", image}).exitCode, 0);
    // Quarry's own sheet shows the same fields.
    r = runCli({image, "ATTRIB Hello"});
    EXPECT_NE(r.out.find("ttro"), std::string::npos) << r.out;
}

TEST(SetAttributes, RefusedSettingsChangeNothing) {
    TempDir dir;
    const std::string image = helloVolume(dir);
    const std::string before = slurp(image);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"SETATTR Hello color=red", "SETATTR Hello: no such setting: color=red; nothing is changed."},
        {"SETATTR Hello type=AB", "SETATTR Hello: type takes four characters: type=AB; nothing is changed."},
        {"SETATTR Hello created=2001-02-30", "SETATTR Hello: created takes a date as 1995-03-01 or 1995-03-01T14:30:00: created=2001-02-30; nothing is changed."},
        {"SETATTR Hello modified=1903-12-31", "SETATTR Hello: modified takes a date as 1995-03-01 or 1995-03-01T14:30:00: modified=1903-12-31; nothing is changed."},
        {"SETATTR Hello modified=2001-01-01T25:00", "SETATTR Hello: modified takes a date as 1995-03-01 or 1995-03-01T14:30:00: modified=2001-01-01T25:00; nothing is changed."},
        {"SETATTR Hello locked=2", "SETATTR Hello: locked takes 0 or 1: locked=2; nothing is changed."},
        {"SETATTR Hello type=TEXT locked=yes", "SETATTR Hello: locked takes 0 or 1: locked=yes; nothing is changed."},
        {"SETATTR Fold creator=ttxt", "SETATTR Fold: a folder has no creator; nothing is changed."},
        {"SETATTR Hello", "SETATTR Hello: no setting given (type=, creator=, created=, modified=, locked=); nothing is changed."},
        {"SETATTR Nothing locked=1", "SETATTR: no file or folder matches Nothing."},
    };
    for (const auto& [line, says] : cases) {
        SCOPED_TRACE(line);
        const ProcessResult r = runCli({"--write", image, line});
        EXPECT_EQ(r.err, "Quarry - : " + says + "\n");
        EXPECT_EQ(r.exitCode, 1);
    }
    EXPECT_TRUE(slurp(image) == before);
    // Without --write the guard asks first, as for every change.
    const ProcessResult r = runCli({image, "SETATTR Hello locked=1"});
    EXPECT_NE(r.err.find("Write-protected"), std::string::npos) << r.err;
    EXPECT_TRUE(slurp(image) == before);
}

}  // namespace
}  // namespace quarry::test
