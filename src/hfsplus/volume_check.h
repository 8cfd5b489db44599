#pragma once
// A read-only consistency check of a mounted HFS+ or HFSX volume, the counterpart of the classic
// HFS check (hfs/volume_check.h) and giving the same result: the volume header and its
// alternate, the catalog, extents and attributes trees node by node and level by level, the
// catalog's threads, valences and counts, hard links, compressed files, and the allocation
// file against every extent of every fork.

#include "hfs/volume_check.h"
#include "hfsplus/medium.h"
#include "hfsplus/volume.h"

namespace quarry::hfsplus {

// Checks the volume that Volume::open mounted from `medium`. The volume's trees are only read.
VolumeCheckResult checkVolume(Medium& medium, Volume& volume);

// Apple's order of HFS+ names (its FastUnicodeCompare: UTF-16 units folded one by one by the
// volume format's own case-folding table, the ignorable ones passed over, U+0000 after every
// other unit), or HFSX's binary order. Negative, 0 or positive as a sorts before, with or after b.
int compareNames(std::u16string_view a, std::u16string_view b, NameComparison comparison);

}  // namespace quarry::hfsplus
