#pragma once
// The commit: how a change of a writable volume reaches the medium so that a cut at any write
// (power lost, the program killed) leaves the volume as it was or as the change leaves it,
// never half of each.
//
// It goes in stages, and the drive is asked to put each stage on the medium (SYNCHRONIZE CACHE,
// fsync for an image) before the next begins, so that no write overtakes one before it:
//   1. the MDB without its "cleanly unmounted" bit, with the next catalog ID the change uses;
//   2. blocks newly taken marked in the bitmap (none freed yet), the trees' new nodes in nodes
//      free on the medium (hfs/tree_shadow.h). Where no block is taken, stages 1 and 2 are one:
//      a reader sees no node that is free in the tree on the medium;
//   3. the MDB with the trees' grown extents;
//   4. for each tree, its map nodes marking old and new nodes in use, then the last old map
//      node's link to a new one, then its header node, one sector: the switch. A catalog that grew into the extents tree gets its new size in the
//      MDB between the two trees, before its map nodes. The extents tree goes first
//      when it gains records (they are there before the catalog uses them), the catalog first
//      when the extents tree loses records (the catalog no longer uses them when they go);
//   5. the map nodes and the bitmap with what the change freed;
//   6. the alternate MDB and the MDB with the counts and the "cleanly unmounted" bit.
// A cut leaves at most nodes and blocks marked in use that nothing uses, and MDB counts not
// brought up to date. The next commit on a volume without the bit recounts those first
// (hfs/volume_recount.h). A failed write that the program sees is put back at once.

#include "common/result.h"
#include "hfs/volume.h"

namespace quarry {

// Commits the change that is open; nothing when none is. On a fault the medium holds what it
// held before (as far as the drive lets itself be written) and the change is still open: the
// caller discards it and mounts the volume again.
Status flushVolume(const VolumeContext& context);

}  // namespace quarry
