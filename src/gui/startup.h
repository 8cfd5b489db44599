#pragma once
// The start-up of the desktop program after the window exists: the device layer, the drive
// choice and the settings that depend on the PC side.

namespace quarry {
struct Session;
}

namespace quarry::gui {

class QtUi;
struct Drives;

// InitAspi, the CD-ROM sector path and the drive choice, then the volume buffers and the
// naming mode the target allows. False when no drive was chosen.
bool StartDevices(Session& session, QtUi& ui, Drives& drives);

}  // namespace quarry::gui
