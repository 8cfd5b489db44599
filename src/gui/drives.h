#pragma once
// The drives the desktop program offers: images named on the command line or opened later on
// the image adapter, and real drives found through SCSI generic nodes.

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
    // Puts an image on the image adapter, read-only unless asked otherwise; the target number,
    // or -1 with why.
    // The image's target number, or -1 with the fault in `why`; on success `why` holds what the
    // person should still hear about the image, or nothing.
    int addImage(const QString& path, QString& why, ImageAccess access = ImageAccess::ReadOnly);
};

}  // namespace quarry::gui
