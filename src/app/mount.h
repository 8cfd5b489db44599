#pragma once
// Mounting the chosen medium for the program: the volume code finds and loads the volume, then
// the root becomes the current folder and the list shows it.

namespace quarry {

struct Session;

// Clears the volume's buffers, the list and the current folder's name (at start-up).
void initVolumeBuffers(Session& session);
// 1 when mounted, 0 when no Macintosh volume was found, negative for an MS-DOS volume.
int mountVolume(Session& session);

}  // namespace quarry
