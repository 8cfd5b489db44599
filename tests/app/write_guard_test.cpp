// The guard before the commands that write to the volume: 1024-byte media are refused, and a
// write-protected medium asks before the command runs.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/mount.h"
#include "app/main_commands.h"
#include "common/messages.h"
#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "hfs/volume.h"
#include "support/fixture_path.h"
#include "support/image_builder.h"
#include "support/mounted_image.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"

namespace quarry {
namespace {

// basic.hfs put on the image adapter for reading and writing, from a private copy.
struct WritableImage {
    test::TempDir dir;
    test::RecordingUi ui;
    Session session{ui};
    ScsiBus bus;
    ScsiDeviceTable table;

    WritableImage() {
        const std::string copy = dir.file("basic.hfs");
        test::writeFile(copy, test::readFile(test::fixturePath("basic.hfs")));
        auto adapter = std::make_unique<ImageAdapter>();
        EXPECT_TRUE(adapter->addImage(copy, ImageAccess::ReadWrite));
        bus.adapters.push_back(std::move(adapter));
        session.device.bus = &bus;
        PrepareCdAccess(session.device);
        EXPECT_EQ(SelectCdromDrive(session.device, table, ui), 1);
        session.device.deviceBlockSize = 512;
        initVolumeBuffers(session);
        EXPECT_EQ(mountVolume(session), 1);
    }
};

TEST(WriteGuard, ReadOnlyMediaAskFirst) {
    const struct {
        bool answerOk;
        bool allowed;
    } cases[] = {{true, true}, {false, false}};
    for (const auto& c : cases) {
        test::MountedImage m(test::fixturePath("basic.hfs"));
        ASSERT_EQ(m.mountResult, 1);
        m.ui.answers = {c.answerOk};
        EXPECT_EQ(WriteGuardAllows(m.session), c.allowed);
        EXPECT_EQ(m.ui.questions, std::vector<std::string>{"Write-protected media."});
        EXPECT_TRUE(m.ui.messageBoxes.empty());
    }
}

TEST(WriteGuard, MediaOf1024ByteSectorsAreRefused) {
    test::MountedImage m(test::fixturePath("basic.hfs"));
    m.session.device.deviceBlockSize = 1024;
    m.ui.answers = {true};
    EXPECT_FALSE(WriteGuardAllows(m.session));
    EXPECT_EQ(m.ui.messageBoxes, std::vector<std::string>{messageText(Msg::WriteBlocked1024)});
    EXPECT_TRUE(m.ui.questions.empty());
}

TEST(WriteGuard, WritableMediaAndNoDriveRunWithoutAsking) {
    WritableImage w;
    EXPECT_TRUE(WriteGuardAllows(w.session));
    EXPECT_TRUE(w.ui.questions.empty());

    test::MountedImage m(test::fixturePath("basic.hfs"));
    m.session.device.targetId = kNoSelection;
    EXPECT_TRUE(WriteGuardAllows(m.session));
    EXPECT_TRUE(m.ui.questions.empty());
    EXPECT_TRUE(m.ui.messageBoxes.empty());
}

}  // namespace
}  // namespace quarry
