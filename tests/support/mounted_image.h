#pragma once
// A session with one image on the image adapter, selected and mounted as at start-up.

#include <string>

#include "app/session.h"
#include "device/drive_scan.h"
#include "device/image_adapter.h"
#include "support/recording_ui.h"

namespace quarry::test {

struct MountedImage {
    RecordingUi ui;
    Session session{ui};
    ScsiBus bus;
    ScsiDeviceTable table;
    int mountResult = 0;

    explicit MountedImage(const std::string& image);

    // Lists the current folder again.
    const FileList& list();
    // The entry of the current list named `name` (Macintosh bytes), or nullptr.
    const ListEntry* find(const std::string& name);
};

}  // namespace quarry::test
