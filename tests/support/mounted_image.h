#pragma once
// A session with one image on the image adapter, or one medium on a scripted drive whose blocks
// a test can make fail, selected and mounted as at start-up. A volume that does not mount fails
// the test, unless the test expects that.

#include <gtest/gtest.h>

#include <string>

#include "app/mount.h"
#include "app/session.h"
#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "support/recording_ui.h"
#include "support/scripted_adapter.h"

namespace quarry::test {

enum class MountExpected { Yes, No };

struct MountedImage {
    RecordingUi ui;
    Session session{ui};
    ScsiBus bus;
    ScsiDeviceTable table;
    int mountResult = 0;

    explicit MountedImage(const std::string& image, MountExpected expected = MountExpected::Yes,
                          ImageAccess access = ImageAccess::ReadOnly) {
        auto adapter = std::make_unique<ImageAdapter>();
        if (auto target = adapter->addImage(image, access); !target) {
            ADD_FAILURE() << target.fault();
            return;
        }
        mount(std::move(adapter), image, expected);
    }
    // The medium as target 2 of a scripted adapter, in drive().
    MountedImage(const std::string& name, const std::vector<uint8_t>& medium, MountExpected expected = MountExpected::Yes) {
        auto adapter = std::make_unique<ScriptedAdapter>();
        adapter->addTarget(2, ScriptedTarget::cdrom("QUARRY", name, "1.0", medium));
        mount(std::move(adapter), name, expected);
    }
    ScriptedAdapter& drive() { return static_cast<ScriptedAdapter&>(*bus.adapters.at(0)); }

    void mount(std::unique_ptr<HostAdapter> adapter, const std::string& image, MountExpected expected) {
        bus.adapters.push_back(std::move(adapter));
        session.device.bus = &bus;
        PrepareCdAccess(session.device);
        if (SelectCdromDrive(session.device, table, ui) != 1) {
            ADD_FAILURE() << "the adapter offers no drive";
            return;
        }
        session.device.deviceBlockSize = 512;
        initVolumeBuffers(session);
        mountResult = mountVolume(session);
        if (expected == MountExpected::Yes && mountResult != 1)
            ADD_FAILURE() << image << " does not mount (" << mountResult << "): " << session.volume.mountFault;
    }

    // Lists the current folder again.
    const FileList& list() {
        BuildFileList(session, nullptr);
        return session.settings.list;
    }
    // The index of the entry named `name` (Macintosh bytes) in the list as it stands, or kNoIndex.
    uint16_t indexOf(const std::string& name) const {
        const FileList& l = session.settings.list;
        for (uint16_t i = 0; i < l.entryCount; ++i)
            if (l.entries[i].name() == name) return i;
        return kNoIndex;
    }
};

}  // namespace quarry::test
