#pragma once
// A session with one image on the image adapter, selected and mounted as at start-up. A volume
// that does not mount fails the test, unless the test expects that.

#include <gtest/gtest.h>

#include <string>

#include "app/mount.h"
#include "app/session.h"
#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "support/recording_ui.h"

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
        bus.adapters.push_back(std::move(adapter));
        session.device.bus = &bus;
        PrepareCdAccess(session.device);
        if (SelectCdromDrive(session.device, table, ui) != 1) {
            ADD_FAILURE() << "the image adapter offers no drive";
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
    // The entry named `name` of the current folder, listed again, or nullptr.
    const ListEntry* find(const std::string& name) {
        list();
        const uint16_t i = indexOf(name);
        return i == kNoIndex ? nullptr : &session.settings.list.entries[i];
    }
};

}  // namespace quarry::test
