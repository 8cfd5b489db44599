// The check of an MFS volume: the allocation block map against every file's chains, the
// directory's entries, and the counts of the volume information.

#include <set>

#include "common/charset.h"
#include "mfs/layout.h"
#include "mfs/mfs_volume.h"

namespace quarry {
namespace {

std::string n(uint64_t v) { return std::to_string(v); }

}  // namespace

VolumeCheckResult MfsVolume::check() {
    VolumeCheckResult result;
    std::vector<std::string>& problems = result.problems;
    problems.insert(problems.end(), directoryFaults_.begin(), directoryFaults_.end());

    if (files_.size() != info_.fileCount)
        problems.push_back("MFS volume information: drNmFls counts " + n(info_.fileCount) + " files, the directory holds " +
                           n(files_.size()));
    const uint64_t blocksEnd = start_ + uint64_t{info_.firstBlockSector} * kSectorSize + uint64_t{info_.blockCount} * info_.blockSize;
    if (medium_->size() != 0 && blocksEnd > medium_->size())
        problems.push_back("MFS volume information: the " + n(info_.blockCount) + " allocation blocks end at byte " + n(blocksEnd) +
                           ", past the medium's end at byte " + n(medium_->size()));

    // Which file's fork holds each block; "" for none.
    std::vector<std::string> owner(map_.size());
    std::set<uint32_t> numbers;
    for (const mfs::FileRecord& f : files_) {
        const std::string name = "file \"" + macNameToUtf8(f.name) + "\" (number " + n(f.number) + ")";
        if (f.number >= info_.nextFileNumber)
            problems.push_back(name + ": its number is not below drNxtFNum (" + n(info_.nextFileNumber) + ")");
        if (!numbers.insert(f.number).second) problems.push_back(name + ": another file has the same number");
        for (const ForkKind fork : {ForkKind::Data, ForkKind::Resource}) {
            const bool rsrc = fork == ForkKind::Resource;
            const std::string what = name + (rsrc ? ", resource fork" : ", data fork");
            Result<std::vector<uint16_t>> chain = chainOf(rsrc ? f.rsrcStart : f.dataStart, what);
            if (!chain) {
                problems.push_back(chain.fault());
                continue;
            }
            const uint64_t held = uint64_t{chain->size()} * info_.blockSize;
            const uint64_t logical = rsrc ? f.rsrcLength : f.dataLength;
            const uint64_t physical = rsrc ? f.rsrcPhysical : f.dataPhysical;
            if (logical > held)
                problems.push_back(what + ": its " + n(logical) + " bytes are more than its " + n(chain->size()) +
                                   " allocation blocks hold");
            if (physical != held)
                problems.push_back(what + ": its physical length of " + n(physical) + " bytes is not the " + n(held) +
                                   " bytes of its " + n(chain->size()) + " allocation blocks");
            for (const uint16_t block : *chain) {
                if (owner[block].empty()) owner[block] = what;
                else problems.push_back("allocation block " + n(block) + " is in two chains: " + owner[block] + " and " + what);
            }
        }
    }
    uint32_t free = 0;
    for (size_t block = mfs::kFirstBlock; block < map_.size(); ++block) {
        if (map_[block] == mfs::kMapFree) ++free;
        else if (owner[block].empty())
            problems.push_back("allocation block " + n(block) + " is marked in use, and no file's fork holds it");
    }
    if (free != info_.freeBlocks)
        problems.push_back("MFS volume information: drFreeBks counts " + n(info_.freeBlocks) + " free blocks, the map " + n(free));
    return result;
}

}  // namespace quarry
