#include "gui/startup.h"

#include "app/mount.h"
#include "app/session.h"
#include "copy/pc_naming.h"
#include "gui/drives.h"
#include "gui/qt_ui.h"

namespace quarry::gui {

bool StartDevices(Session& session, QtUi& ui, Drives& drives) {
    DeviceState& device = session.device;
    device.bus = &drives.bus;
    device.targetId = kNoSelection;
    if (InitAspi(device, ui) < 0) return false;
    PrepareCdAccess(device);
    const bool chosen = SelectCdromDrive(device, drives.table, ui) == 1;
    device.deviceBlockSize = 512;
    initVolumeBuffers(session);
    session.copy.longNamesAvailable = LongNamesAvailable(".");
    session.settings.setNamingMode(session.copy.longNamesAvailable ? NamingMode::Long : NamingMode::Short);
    return chosen;
}

}  // namespace quarry::gui
