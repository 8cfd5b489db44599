#pragma once
// The repair of what a cut commit leaves (hfs/volume_commit.h): on a volume whose MDB lacks the
// "cleanly unmounted" bit, the next change first recounts the MDB's file and folder counts,
// rebuilds the bitmap from every fork and tree, takes out extents records of forks that no
// longer exist, and lets the trees take the nodes that a cut left uncounted. Nodes marked in use
// that no tree reaches are freed by the commit itself.

#include "common/result.h"
#include "hfs/volume.h"

namespace quarry {

// Works on the open change in memory; the commit takes the result to the medium.
Status recountVolume(const VolumeContext& context);

// The first block that a fork of the catalog or the extents tree claims while the bitmap (as
// before the change, and as the change leaves it) has it free, said as damage; empty when there
// is none. Handing such a block to a growing tree would give it two owners.
Result<std::string> claimedFreeBlock(const VolumeContext& context);

// The first block of the file (its catalog record given) that another fork or a tree claims as
// well (the MDB's extents of the trees, every file's extents in the catalog and the extents
// tree), said as damage; empty when there is none. Freeing such a block would hand out what the
// other still holds. The blocks' owners are counted once per open change.
Result<std::string> sharedBlockOf(const VolumeContext& context, const uint8_t* fileRecord);

}  // namespace quarry
