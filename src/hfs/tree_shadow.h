#pragma once
// How a changed B-tree reaches the medium without ever writing over a node that the tree on the
// medium uses. Every node of the changed tree goes to a node that is free in the tree as the
// medium has it; the links and index records that name it are rewritten to match; the header
// node, one sector, then switches the medium from the old tree to the new one. Until that write
// a reader finds the old tree whole, after it the new one.
//
// Since the leaves and each index level are chained both ways, moving one node moves its
// neighbours, and so every node of the tree moves at every commit. What keeps that cheap: each
// node goes back where its previous version lies (its partner), and where the node has not
// changed since, the bytes there are the same already and nothing is written. The first commit
// after the mount writes the whole tree once; later ones about twice the nodes they change.
// Each commit notes every node's links and parent (BTreeFile::nodeLinks), and its node map then
// marks exactly the tree's nodes, so the next commit reads only the nodes that changed.
//
//     Result<TreeCommitPlan> plan = planTreeCommit(context, volume.catalog);
//     ... write plan->fresh, then plan->header, then plan->frees, syncing between ...
//     adoptTreeCommit(volume.catalog, *plan);

#include <array>
#include <cstdint>
#include <vector>

#include "common/result.h"
#include "hfs/volume.h"

namespace quarry {

struct NodeWrite {
    uint32_t node = 0;
    std::array<uint8_t, kNodeSize> bytes{};
};

struct TreeCommitPlan {
    bool changed = false;
    // Before the switch: the nodes' new versions, in nodes free on the medium.
    std::vector<NodeWrite> fresh;
    // Before the switch too, once the tree's size on the medium covers them: the map nodes with
    // both the old and the new nodes marked in use, each keeping the link it has on the medium.
    std::vector<NodeWrite> maps;
    // After those: a map node of the medium's chain linked to a new map node.
    std::vector<NodeWrite> links;
    // The switch: node 0 with the new root, leaves, counts and map.
    NodeWrite header;
    // After the switch: the map nodes with the old nodes free.
    std::vector<NodeWrite> frees;
    // Where each node of the changed tree goes (0 for a node that is not in it).
    std::vector<uint32_t> placement;
    // The nodes of the changed tree, and for each whether every node it names moved as well.
    std::vector<uint32_t> live;
    std::vector<bool> neighboursMoved;
    // Each new node's links, by its new place.
    std::vector<BTreeFile::NodeLinks> nodeLinks;
};

// Plans the commit of a changed tree. A tree without enough nodes free on the medium for a copy
// of itself grows first (extendTree), which changes the MDB and bitmap of the open change.
Result<TreeCommitPlan> planTreeCommit(const VolumeContext& context, BTreeFile& tree);
// After the plan's writes reached the medium: the tree in memory and its work file become what
// the medium holds, the catalog's current node following its record to its new place.
Status adoptTreeCommit(BTreeFile& tree, const TreeCommitPlan& plan);

}  // namespace quarry
