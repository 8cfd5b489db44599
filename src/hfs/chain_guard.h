#pragma once
// Remembers the nodes a walk of a B-tree has visited, so that a link that leads back (a leaf
// chain, an index pointer, a map chain) ends the walk instead of making it run forever. Shared by
// the HFS and HFS+ trees.

#include <cstdint>
#include <unordered_set>
#include <vector>

namespace quarry {

class ChainGuard {
public:
    // Up to this many nodes the guard keeps one flag per node; a larger tree (an HFS+ tree may
    // claim four billion nodes in a damaged header) keeps the nodes visited, so that its memory
    // follows the walk rather than a field of the medium.
    static constexpr uint32_t kFlagLimit = 1u << 20;

    explicit ChainGuard(uint32_t nodeCount) : count_(nodeCount) {
        if (nodeCount <= kFlagLimit) seen_.assign(nodeCount, false);
    }
    // False when n was visited before (or lies outside the tree).
    bool visit(uint32_t n) {
        if (n >= count_) return false;
        if (count_ <= kFlagLimit) {
            if (seen_[n]) return false;
            seen_[n] = true;
            return true;
        }
        return visited_.insert(n).second;
    }

private:
    uint32_t count_;
    std::vector<bool> seen_;
    std::unordered_set<uint32_t> visited_;
};

}  // namespace quarry
