#pragma once
// Mounting the chosen medium for the program: the volume code finds and loads the volume, then
// the root becomes the current folder and the list shows it.

#include <string>
#include <vector>

namespace quarry {

struct Session;

// Clears the volume's buffers, the list and the current folder's name (at start-up).
void initVolumeBuffers(Session& session);
// 1 when mounted, 0 when no Macintosh volume was found, negative for an MS-DOS volume.
int mountVolume(Session& session);
// What the devices have to say, since the last call, about data they served that may be
// damaged (an image's sectors that fail their EDC check). Both programs show it after a mount
// and after each command, so that it follows the command that read those sectors.
std::vector<std::string> TakeReadWarnings(Session& session);

// The places of damage met in the catalog and extents trees since the last call, each as the
// message the person reads ("This volume is damaged: catalog node 6: ..."); each place comes
// once per mount. An image that ends before its volume does is told first, once per mount
// ("The image ends at byte N, ..."). Both programs call it after a mount and after each command, and show what
// it gives over what the command still showed.
std::vector<std::string> TakeDamageReports(Session& session);

// What the mount has to tell besides damage, once: the medium's other volumes, a journal
// holding changes not yet written. Both programs show it with the damage reports; it fails no
// run.
std::vector<std::string> TakeMountNotices(Session& session);

// What to tell the person when mountVolume gave 0: a volume Quarry does not read, a partition
// that is not there, or the damage that stopped the mount; empty when nothing was found at all.
std::string MountFailureText(const Session& session);

}  // namespace quarry
