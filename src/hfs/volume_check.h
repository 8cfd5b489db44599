#pragma once
// A read-only consistency check of a mounted volume: the MDB, both B-trees node by node, the
// catalog's threads, valences and counts, and the allocation bitmap against every extent.
// quarry-cli --check runs it; it works on the loaded volume alone, so anything that changes a
// volume can run it after the change.

#include <string>
#include <vector>

#include "hfs/volume.h"
#include "volume/mounted_volume.h"

namespace quarry {

// Checks the volume that loadVolume mounted; loads the extents tree when it is not loaded yet.
// The trees' current nodes, cursors and recorded faults are left as they were, so a check can
// run between two commands of a session.
VolumeCheckResult checkVolume(const VolumeContext& context);

}  // namespace quarry
