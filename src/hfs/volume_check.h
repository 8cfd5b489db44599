#pragma once
// A read-only consistency check of a mounted volume: the MDB, both B-trees node by node, the
// catalog's threads, valences and counts, and the allocation bitmap against every extent.
// quarry-cli --check runs it; it works on the loaded volume alone, so anything that changes a
// volume can run it after the change.

#include <string>
#include <vector>

#include "hfs/volume.h"

namespace quarry {

struct VolumeCheckResult {
    // One line per problem, naming the place ("catalog node 17: keys out of order at record 3").
    // Empty when the volume is sound.
    std::vector<std::string> problems;
    // What is unusual but not damage, such as the blocks a CD mastering tool marks in use
    // without giving them to any file on a locked volume.
    std::vector<std::string> notes;

    bool sound() const { return problems.empty(); }
};

// Checks the volume that loadVolume mounted; loads the extents tree when it is not loaded yet.
// The trees' current nodes, cursors and recorded faults are left as they were, so a check can
// run between two commands of a session.
VolumeCheckResult checkVolume(const VolumeContext& context);

}  // namespace quarry
