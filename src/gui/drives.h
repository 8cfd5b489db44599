#pragma once
// The drives the desktop program offers: images named on the command line or opened later on
// the image adapter, and real drives found through SCSI generic nodes.

#include <vector>

#include <QString>

#include "device/drive_scan.h"
#include "device/image_adapter.h"

namespace quarry::gui {

struct Drives {
    ScsiBus bus;
    ImageAdapter* images = nullptr;  // owned by bus
    ScsiDeviceTable table;

    // The image adapter comes first, then the real drives.
    Drives();
    // Puts an image on the image adapter, read-only unless asked otherwise, and gives its target
    // number; a zip archive of several images gives a target for each. None with the fault in
    // `why`; otherwise `why` holds what the person should still hear about the images, or nothing.
    std::vector<int> addImage(const QString& path, QString& why, ImageAccess access = ImageAccess::ReadOnly);
};

}  // namespace quarry::gui
