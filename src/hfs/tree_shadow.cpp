#include "hfs/tree_shadow.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "hfs/btree.h"
#include "hfs/tree_edit.h"
#include "hfs/volume_edit.h"

namespace quarry {
namespace {

Fault shadowError(const BTreeFile& tree, const std::string& what) {
    return Fault{std::string(tree.isCatalog ? "catalog" : "extents") + " tree: " + what};
}

// What the medium holds in node n: the bytes before this change where the change touched it.
// Nothing for a node that the tree grew into: those bytes were never read.
const uint8_t* mediumNode(const BTreeFile& tree, uint32_t n) {
    if (n >= tree.committedNodes) return nullptr;
    if (auto kept = tree.saved.find(n); kept != tree.saved.end()) return kept->second.data();
    return tree.edit.data() + size_t{n} * kNodeSize;
}

bool isFixed(const BTreeFile& tree, uint32_t n) {
    return n == 0 || std::find(tree.mapNodes.begin(), tree.mapNodes.end(), n) != tree.mapNodes.end();
}

// A node may take a new version when the tree on the medium does not use it.
bool freeOnMedium(const BTreeFile& tree, uint32_t n) {
    return n < tree.nodeCount() && !isFixed(tree, n) && !(n < tree.committedUsed.size() && tree.committedUsed[n]);
}

uint32_t freeOnMediumCount(const BTreeFile& tree) {
    uint32_t count = 0;
    for (uint32_t n = 1; n < tree.nodeCount(); ++n) count += freeOnMedium(tree, n);
    return count;
}

// The node's bytes with every node number it holds (its links, an index node's children)
// replaced by the number of the node's new place.
Status translate(const BTreeFile& tree, uint32_t n, const std::vector<uint32_t>& placement, uint8_t* out) {
    std::memcpy(out, viewNode(tree, n), kNodeSize);
    auto moved = [&](uint8_t* field) {
        const uint32_t target = loadBE32(field);
        if (target == 0) return true;
        if (target >= placement.size() || placement[target] == 0) return false;
        storeBE32(field, placement[target]);
        return true;
    };
    if (!moved(out + node::kFLink) || !moved(out + node::kBLink))
        return shadowError(tree, "node " + std::to_string(n) + " links to a node outside the tree");
    if (nodeType(out) == node::kTypeIndex) {
        for (uint16_t i = 0; i < nodeRecordCount(out); ++i) {
            uint8_t* record = out + nodeRecordOffset(out, i);
            if (!moved(record + recordDataOffset(record)))
                return shadowError(tree, "index node " + std::to_string(n) + " leads to a node outside the tree");
        }
    }
    return Status::ok();
}

}  // namespace

Result<TreeCommitPlan> planTreeCommit(const VolumeContext& context, BTreeFile& tree) {
    TreeCommitPlan plan;
    if (!tree.changed()) return plan;
    plan.changed = true;
    Result<std::vector<uint32_t>> live = treeNodesInUse(tree);
    if (!live) return Fault{live.fault()};
    // A copy of the whole tree must fit beside the tree on the medium.
    for (int round = 0; freeOnMediumCount(tree) < live->size(); ++round) {
        if (round == 8) return shadowError(tree, "no room for a copy of the tree beside it");
        if (Status s = extendTree(context, tree); !s) return Fault{s.fault()};
    }
    const uint32_t total = tree.nodeCount();
    plan.placement.assign(total, 0);
    std::vector<bool> taken(total, false);
    auto place = [&](uint32_t n, uint32_t at) {
        plan.placement[n] = at;
        taken[at] = true;
    };
    // Each node goes back to its partner, or stays where it is when the medium's tree does not
    // use that node (a node that this change took from the map); the rest take free nodes.
    for (uint32_t n : *live) {
        const uint32_t partner = n < tree.partner.size() ? tree.partner[n] : 0;
        for (uint32_t at : {partner, n}) {
            if (at != 0 && freeOnMedium(tree, at) && !taken[at]) {
                place(n, at);
                break;
            }
        }
    }
    uint32_t cursor = 1;
    for (uint32_t n : *live) {
        if (plan.placement[n] != 0) continue;
        while (cursor < total && (!freeOnMedium(tree, cursor) || taken[cursor])) ++cursor;
        if (cursor == total) return shadowError(tree, "no free node for node " + std::to_string(n));
        place(n, cursor);
    }

    std::vector<bool> used(total, false);
    used[0] = true;
    for (uint32_t m : tree.mapNodes) used[m] = true;
    for (uint32_t n : *live) {
        const uint32_t at = plan.placement[n];
        used[at] = true;
        NodeWrite w{at, {}};
        if (Status s = translate(tree, n, plan.placement, w.bytes.data()); !s) return Fault{s.fault()};
        const uint8_t* there = mediumNode(tree, at);
        if (!there || std::memcmp(there, w.bytes.data(), kNodeSize) != 0) plan.fresh.push_back(w);
    }

    // The switch: the header names the new root and leaves and counts and maps the new nodes.
    std::vector<bool> both = used;
    for (uint32_t n = 0; n < std::min<size_t>(total, tree.committedUsed.size()); ++n)
        if (tree.committedUsed[n]) both[n] = true;
    plan.header.node = 0;
    plan.header.bytes = tree.header;
    uint8_t* h = plan.header.bytes.data();
    for (size_t field : {header::kRoot, header::kFirstLeaf, header::kLastLeaf}) {
        const uint32_t n = loadBE32(h + field);
        storeBE32(h + field, n < total ? plan.placement[n] : 0);
    }
    storeBE32(h + header::kTotalNodes, total);
    storeBE32(h + header::kFreeNodes, static_cast<uint32_t>(std::count(used.begin(), used.end(), false)));
    // The map nodes mark the old and the new nodes in use until the switch is done.
    std::vector<NodeWrite> before(tree.mapNodes.size()), after(tree.mapNodes.size());
    std::vector<uint8_t*> beforeBytes, afterBytes;
    for (size_t i = 0; i < tree.mapNodes.size(); ++i) {
        before[i].node = after[i].node = tree.mapNodes[i];
        std::memcpy(before[i].bytes.data(), viewNode(tree, tree.mapNodes[i]), kNodeSize);
        after[i].bytes = before[i].bytes;
        beforeBytes.push_back(before[i].bytes.data());
        afterBytes.push_back(after[i].bytes.data());
    }
    std::array<uint8_t, kNodeSize> scratch = plan.header.bytes;
    renderNodeMap(tree, both, scratch.data(), beforeBytes);
    renderNodeMap(tree, used, h, afterBytes);
    for (size_t i = 0; i < before.size(); ++i) {
        const uint8_t* there = mediumNode(tree, before[i].node);
        if (!there || std::memcmp(there, before[i].bytes.data(), kNodeSize) != 0) plan.maps.push_back(before[i]);
        if (after[i].bytes != before[i].bytes) plan.frees.push_back(after[i]);
    }
    return plan;
}

Status adoptTreeCommit(BTreeFile& tree, const TreeCommitPlan& plan) {
    if (!plan.changed) return Status::ok();
    const uint32_t total = tree.nodeCount();
    // What the medium holds now: what it held, with the plan's writes over it.
    std::vector<uint8_t> image(size_t{total} * kNodeSize, 0);
    std::vector<bool> written(total, false);
    for (uint32_t n = 0; n < std::min(total, tree.committedNodes); ++n)
        std::memcpy(image.data() + size_t{n} * kNodeSize, mediumNode(tree, n), kNodeSize);
    for (uint32_t n = tree.committedNodes; n < total; ++n) written[n] = true;
    // The work file holds what the medium held; where the change touched a node in memory, the
    // memory is put back to that as well.
    for (const auto& [n, bytes] : tree.saved)
        if (n < total) written[n] = true;
    auto put = [&](const NodeWrite& w) {
        std::memcpy(image.data() + size_t{w.node} * kNodeSize, w.bytes.data(), kNodeSize);
        written[w.node] = true;
    };
    for (const NodeWrite& w : plan.fresh) put(w);
    for (const NodeWrite& w : plan.maps) put(w);
    put(plan.header);
    for (const NodeWrite& w : plan.frees) put(w);

    std::vector<bool> used(total, false);
    used[0] = true;
    for (uint32_t m : tree.mapNodes) used[m] = true;
    tree.partner.resize(total, 0);
    for (uint32_t n = 0; n < plan.placement.size(); ++n) {
        const uint32_t at = plan.placement[n];
        if (at == 0) continue;
        used[at] = true;
        if (at != n) {
            tree.partner[at] = n;
            tree.partner[n] = at;
        }
    }
    if (tree.nodeNumber < plan.placement.size() && plan.placement[tree.nodeNumber] != 0)
        tree.nodeNumber = plan.placement[tree.nodeNumber];
    if (tree.nodeNumber < total) std::memcpy(tree.node.data(), image.data() + size_t{tree.nodeNumber} * kNodeSize, kNodeSize);

    tree.edit = std::move(image);
    std::memcpy(tree.header.data(), plan.header.bytes.data(), kNodeSize);
    tree.savedHeader = tree.header;
    tree.saved.clear();
    tree.committedNodes = total;
    tree.nodeUsed = used;
    tree.committedUsed = std::move(used);
    tree.freeHint = 1;

    for (uint32_t n = 0; n < total; ++n) {
        if (!written[n]) continue;
        const off_t at = static_cast<off_t>(n) * kNodeSize;
        if (pwrite(tree.workFile, tree.edit.data() + at, kNodeSize, at) != static_cast<ssize_t>(kNodeSize))
            return shadowError(tree, std::string("cannot write its work file: ") + std::strerror(errno));
    }
    return Status::ok();
}

}  // namespace quarry
