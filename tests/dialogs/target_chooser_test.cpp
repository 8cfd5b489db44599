// The target-directory chooser walking a real directory tree.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/session.h"
#include "app/dialog_controls.h"
#include "dialogs/target_chooser.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;
std::string CurrentDirectory() { return fs::current_path().string(); }

// A tree under a private directory that stands for one drive of the chooser:
//   Alpha/  beta/deep/  .hidden/  link -> beta  notes.txt
class TargetChooserTest : public ::testing::Test {
protected:
    TargetChooserTest() : session(ui), top(fs::canonical(dir.path()).string()) {
        fs::create_directories(top + "/Alpha");
        fs::create_directories(top + "/beta/deep");
        fs::create_directories(top + "/.hidden");
        fs::create_directory_symlink(top + "/beta", top + "/link");
        std::ofstream(top + "/notes.txt") << "not a directory";
    }

    TargetChooser open(const std::string& where, int command = target::kOpenedFromMenu, std::string macDevice = {}) {
        fs::current_path(where);
        return TargetChooser(session, command, [this] { return drives; }, std::move(macDevice));
    }

    int row(const TargetChooser& chooser, const std::string& text) {
        const auto& rows = chooser.directoryRows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i] == text) return static_cast<int>(i);
        ADD_FAILURE() << "no row " << text;
        return -1;
    }

    test::WorkingDirectoryGuard guard;
    test::TempDir dir;
    test::RecordingUi ui;
    Session session;
    const std::string top;
    std::vector<PcDrive> drives{{"/", "/dev/root-of-test"}, {top, "/dev/test-drive"}};
};

TEST_F(TargetChooserTest, OpensOnTheCurrentDirectoryWithItsSubdirectories) {
    TargetChooser chooser = open(top);
    EXPECT_EQ(chooser.targetPath(), top + "/");
    EXPECT_EQ(chooser.pathText(), top + "/");
    // Files are not listed; a link to a directory is; names keep their case.
    EXPECT_EQ(chooser.directoryRows(), (std::vector<std::string>{"[..]", "[.hidden]", "[Alpha]", "[beta]", "[link]"}));
    EXPECT_EQ(chooser.driveRows(), (std::vector<std::string>{"/", top + "/"}));
    EXPECT_EQ(chooser.currentDrive(), 1);
    EXPECT_EQ(chooser.confirmCaption(), "OK");
    EXPECT_EQ(open(top, target::kOpenedForCopy).confirmCaption(), "Copy in current directory");
    // The file system's root lists no parent.
    TargetChooser root = open("/");
    EXPECT_EQ(root.targetPath(), "/");
    ASSERT_FALSE(root.directoryRows().empty());
    EXPECT_NE(root.directoryRows().front(), "[..]");
    EXPECT_EQ(root.currentDrive(), 0);
}

TEST_F(TargetChooserTest, MovesDownUpAndToTheDrivesTopOrSaysWhyNot) {
    TargetChooser chooser = open(top);
    session.copy.longNamesAvailable = false;
    ASSERT_EQ(chooser.openDirectoryRow(row(chooser, "[beta]")), target::kMoved);
    EXPECT_EQ(CurrentDirectory(), top + "/beta");
    EXPECT_EQ(chooser.targetPath(), top + "/beta/");
    EXPECT_EQ(chooser.directoryRows(), (std::vector<std::string>{"[..]", "[deep]"}));
    // The flag follows the file system of the target, which takes long names here.
    EXPECT_TRUE(session.copy.longNamesAvailable);

    ASSERT_EQ(chooser.openDirectoryRow(row(chooser, "[deep]")), target::kMoved);
    EXPECT_EQ(chooser.pathText(), ShortenTargetPath(top + "/beta/deep/"));
    // The Parent and Root buttons go up and keep the dialog open.
    EXPECT_EQ(chooser.press(target::kParentButton), std::nullopt);
    EXPECT_EQ(CurrentDirectory(), top + "/beta");
    EXPECT_EQ(chooser.press(target::kRootButton), std::nullopt);
    EXPECT_EQ(CurrentDirectory(), top);
    EXPECT_EQ(chooser.pathText(), top + "/");
    // Leaving the dialog, confirmed or not, keeps the directory reached.
    ASSERT_EQ(chooser.openDirectoryRow(row(chooser, "[Alpha]")), target::kMoved);
    EXPECT_EQ(chooser.press(dlg::kCancel), std::optional<int>(0));
    EXPECT_EQ(CurrentDirectory(), top + "/Alpha");
    EXPECT_TRUE(ui.timedMessages.empty());

    // The shown path is where the process really is: through the link it stands in beta.
    TargetChooser linked = open(top);
    ASSERT_EQ(linked.openDirectoryRow(row(linked, "[link]")), target::kMoved);
    EXPECT_EQ(linked.targetPath(), top + "/beta/");

    // A directory that cannot be entered (here: removed after it was listed) leaves everything
    // where it was and says why.
    fs::create_directory(top + "/beta/gone");
    TargetChooser again = open(top + "/beta");
    const int gone = row(again, "[gone]");
    fs::remove(top + "/beta/gone");
    EXPECT_EQ(again.openDirectoryRow(gone), target::kCannotEnter);
    EXPECT_EQ(CurrentDirectory(), top + "/beta");
    EXPECT_EQ(again.targetPath(), top + "/beta/");
    ASSERT_EQ(ui.timedMessages.size(), 1u);
    EXPECT_NE(ui.timedMessages[0].find("\"gone\""), std::string::npos) << ui.timedMessages[0];
}

TEST_F(TargetChooserTest, DrivesThatCannotBecomeTheTarget) {
    // The Macintosh volume's device, reached under another name, is the source of drive 2.
    std::ofstream(top + "/macintosh.iso") << "volume";
    fs::create_symlink(top + "/macintosh.iso", top + "/cdrom");
    drives.push_back({top + "/beta", top + "/cdrom"});
    drives.push_back({top + "/unmounted", "/dev/gone"});
    TargetChooser chooser = open(top + "/Alpha", target::kOpenedFromMenu, top + "/macintosh.iso");

    EXPECT_EQ(chooser.openDriveRow(2), target::kMacintoshDrive);
    EXPECT_EQ(chooser.openDriveRow(3), target::kDriveUnreadable);
    EXPECT_EQ(ui.timedMessages, (std::vector<std::string>{"It is the Macintosh drive !", "Error changing drive."}));
    EXPECT_EQ(CurrentDirectory(), top + "/Alpha");
    EXPECT_EQ(chooser.targetPath(), top + "/Alpha/");

    ASSERT_EQ(chooser.openDriveRow(1), target::kMoved);
    EXPECT_EQ(CurrentDirectory(), top);
    EXPECT_EQ(chooser.pathText(), ShortenTargetPath(top + "/"));
}

TEST_F(TargetChooserTest, MovingDownStopsShortOfTheLongestPath) {
    // Directories nested until the path is a few characters short of the limit.
    std::string path = top;
    while (path.size() + 31 < target::kPathLimit - 10) path += "/" + std::string(30, 'n');
    fs::create_directories(path);
    const size_t room = target::kPathLimit - 1 - path.size();  // the longest name still entered
    fs::create_directory(path + "/" + std::string(room, 'a'));
    fs::create_directory(path + "/" + std::string(room + 1, 'b'));

    TargetChooser chooser = open(path);
    EXPECT_EQ(chooser.changeTarget(std::string(room + 1, 'b')), target::kMoved);
    EXPECT_EQ(CurrentDirectory(), path);  // not entered, and nothing said
    EXPECT_EQ(chooser.changeTarget(std::string(room, 'a')), target::kMoved);
    EXPECT_EQ(CurrentDirectory(), path + "/" + std::string(room, 'a'));
    EXPECT_TRUE(ui.timedMessages.empty());

    // A new directory that would be too deep is refused before anything is made.
    TargetChooser atEdge = open(path);
    EXPECT_EQ(atEdge.createDirectory(std::string(room + 1, 'c')), target::kRefused);
    EXPECT_FALSE(fs::exists(path + "/" + std::string(room + 1, 'c')));
}

TEST_F(TargetChooserTest, CreateNewMakesTheDirectoryAndEntersItOrRefuses) {
    TargetChooser chooser = open(top + "/beta");
    ASSERT_EQ(chooser.createDirectory(target::kNewDirectoryProposal), target::kMoved);
    EXPECT_TRUE(fs::is_directory(top + "/beta/DIR"));
    EXPECT_EQ(CurrentDirectory(), top + "/beta/DIR");
    EXPECT_EQ(chooser.directoryRows(), (std::vector<std::string>{"[..]"}));

    // An existing directory of that name is entered.
    ASSERT_EQ(chooser.goToParent(), target::kMoved);
    ASSERT_EQ(chooser.createDirectory("DIR"), target::kMoved);
    EXPECT_EQ(CurrentDirectory(), top + "/beta/DIR");

    // Blanks around the name go; the name is cut at 39 characters, not bytes.
    ASSERT_EQ(chooser.createDirectory("  spaced out  "), target::kMoved);
    EXPECT_EQ(CurrentDirectory(), top + "/beta/DIR/spaced out");
    std::string accents;
    for (int i = 0; i < 45; ++i) accents += "\xC3\xA9";  // é
    ASSERT_EQ(chooser.createDirectory(accents), target::kMoved);
    EXPECT_EQ(fs::path(CurrentDirectory()).filename().string(), accents.substr(0, 39 * 2));
    EXPECT_TRUE(ui.messageBoxes.empty());
    EXPECT_TRUE(ui.timedMessages.empty());

    // A file of that name is reported and left alone.
    TargetChooser atTop = open(top);
    EXPECT_EQ(atTop.createDirectory("notes.txt"), target::kCannotEnter);
    EXPECT_EQ(CurrentDirectory(), top);
    ASSERT_EQ(ui.timedMessages.size(), 1u);
    EXPECT_NE(ui.timedMessages[0].find("\"notes.txt\""), std::string::npos) << ui.timedMessages[0];
    EXPECT_TRUE(fs::is_regular_file(top + "/notes.txt"));

    // Names that lead elsewhere are refused.
    fs::create_directories(top + "/outer/inner");
    const std::string names[] = {"a/b", "../escaped", top + "/outer/absolute", ".", "..", "", "   ",
                                 std::string("x\0y", 3)};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ui.messageBoxes.clear();
        TargetChooser chooser = open(top + "/outer/inner");
        EXPECT_EQ(chooser.createDirectory(name), target::kRefused);
        EXPECT_EQ(ui.messageBoxes.size(), 1u);
        EXPECT_EQ(CurrentDirectory(), top + "/outer/inner");
    }
    // Nothing was made, neither inside nor beside the folder.
    EXPECT_TRUE(fs::is_empty(top + "/outer/inner"));
    EXPECT_EQ(std::distance(fs::directory_iterator(top + "/outer"), fs::directory_iterator()), 1);
}

TEST(ShortenTargetPath, KeepsTheHeadAndTheLastDirectories) {
    struct Case {
        const char* path;
        const char* shown;
    };
    const Case cases[] = {
        {"/home/ann/", "/home/ann/"},
        {"/abcdefghijklmnopqrstuvwxyz01/", "/abcdefghijklmnopqrstuvwxyz01/"},              // 30: whole
        {"/projects/macintosh/archive/1996/", "/projects/.../archive/1996/"},                // 33
        {"/home/ann/macintosh/archive/1996/", "/home/.../macintosh/archive/1996/"},          // 33 after
        {"/home/someone/macintosh/archive/1996/x/", "/home/.../archive/1996/x/"},            // over 34
        {"/averyveryveryveryveryverylongname/", "/averyveryveryveryveryverylongname/"},      // 2 slashes
        {"/media/ann/a-very-long-volume-label-of-a-stick/", "/media/.../a-very-long-volume-label-of-a-stick/"},
    };
    for (const Case& c : cases) EXPECT_EQ(ShortenTargetPath(c.path), c.shown) << c.path;
}

TEST(PcDrivesFromMountTable, RootHomeAndRemovableMedia) {
    const char* table =
        "/dev/sda2 / ext4 rw,relatime 0 0\n"
        "proc /proc proc rw 0 0\n"
        "tmpfs /run/user/1000 tmpfs rw 0 0\n"
        "/dev/sdb1 /media/ann/USB\\040STICK vfat rw 0 0\n"
        "/dev/sr0 /run/media/ann/MACCD hfs ro 0 0\n"
        "server:/export /mnt/nas nfs rw 0 0\n"
        "/dev/sdd1 /mediaextra ext4 rw 0 0\n"
        "/dev/sde1 /media ext4 rw 0 0\n"
        "/dev/sdc1 /media/ann/USB\\040STICK vfat rw 0 0\n";
    const std::vector<PcDrive> drives = PcDrivesFromMountTable(table, "/home/ann/");
    std::vector<std::pair<std::string, std::string>> got;
    for (const PcDrive& d : drives) got.emplace_back(d.mountPoint, d.source);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{{"/", "/dev/sda2"},
                                                                     {"/home/ann", ""},
                                                                     {"/media/ann/USB STICK", "/dev/sdc1"},
                                                                     {"/mnt/nas", "server:/export"},
                                                                     {"/run/media/ann/MACCD", "/dev/sr0"}}));

    // With no table and no home, the root is still a drive.
    const std::vector<PcDrive> bare = PcDrivesFromMountTable("", "/");
    ASSERT_EQ(bare.size(), 1u);
    EXPECT_EQ(bare[0].mountPoint, "/");
}

}  // namespace
}  // namespace quarry
