#include "hfs/tree_shadow.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "common/messages.h"
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

uint32_t childOf(const uint8_t* nd, uint16_t index) {
    const uint8_t* record = nd + nodeRecordOffset(nd, index);
    return loadBE32(record + recordDataOffset(record));
}

// The nodes that may not take a new version: node 0, the map nodes (both stay where they are)
// and every node the tree on the medium uses.
std::vector<uint8_t> blockedNodes(const BTreeFile& tree) {
    std::vector<uint8_t> blocked(tree.nodeCount(), 0);
    for (uint32_t n = 0; n < std::min<size_t>(blocked.size(), tree.committedUsed.size()); ++n) blocked[n] = tree.committedUsed[n];
    blocked[0] = 1;
    for (uint32_t m : tree.mapNodes) blocked[m] = 1;
    return blocked;
}

// The node's bytes with every node number it holds (its links, an index node's children)
// replaced by the number of the node's new place.
Status translate(const BTreeFile& tree, uint32_t n, const std::vector<uint32_t>& placement, uint8_t* out, bool& allMoved) {
    std::memcpy(out, viewNode(tree, n), kNodeSize);
    allMoved = true;
    auto moved = [&](uint8_t* field) {
        const uint32_t target = loadBE32(field);
        if (target == 0) return true;
        if (target >= placement.size() || placement[target] == 0) return false;
        allMoved = allMoved && placement[target] != target;
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

BTreeFile::NodeLinks linksOf(const uint8_t* nd, uint32_t parent) {
    return {loadBE32(nd + node::kFLink), loadBE32(nd + node::kBLink), parent, nodeType(nd) == node::kTypeIndex};
}

// True where node n goes back to its partner (or n is 0, no node).
bool goesBack(const BTreeFile& tree, const std::vector<uint32_t>& placement, uint32_t n) {
    return n == 0 || (n < placement.size() && n < tree.partner.size() && placement[n] != 0 && placement[n] == tree.partner[n]);
}

// True when the node is as the last commit left it, its partner holds it already, and it and
// every node it names go back to their partners: then its new version is on the medium. The node
// is not read: its links are those the last commit noted, and an index node's children all go
// back unless one that does not names it as its parent (`strayChild`).
bool backAtPartner(const BTreeFile& tree, uint32_t n, const std::vector<uint32_t>& placement, const std::vector<uint8_t>& touched,
                   const std::vector<uint8_t>& strayChild) {
    if (n >= tree.partnerHoldsIt.size() || n >= tree.nodeLinks.size() || !tree.partnerHoldsIt[n] || touched[n] ||
        placement[n] != tree.partner[n])
        return false;
    const BTreeFile::NodeLinks& links = tree.nodeLinks[n];
    return goesBack(tree, placement, links.forward) && goesBack(tree, placement, links.backward) && !(links.index && strayChild[n]);
}

// The nodes of the tree: after a commit, those the map marks, else those the index reaches.
Result<std::vector<uint32_t>> treeNodes(const BTreeFile& tree) {
    if (!tree.mapIsTree) return treeNodesInUse(tree);
    std::vector<uint8_t> marked(tree.nodeUsed.begin(), tree.nodeUsed.end());
    marked[0] = 0;
    for (uint32_t m : tree.mapNodes) marked[m] = 0;
    std::vector<uint32_t> nodes;
    for (uint32_t n = 1; n < marked.size(); ++n)
        if (marked[n]) nodes.push_back(n);
#ifndef NDEBUG
    // Debug builds (the sanitizer tests) hold the edits to keeping the map so.
    Result<std::vector<uint32_t>> reached = treeNodesInUse(tree);
    if (!reached) return reached;
    std::sort(reached->begin(), reached->end());
    if (*reached != nodes) return shadowError(tree, "the node map does not mark exactly the nodes the index reaches");
#endif
    return nodes;
}

}  // namespace

Result<TreeCommitPlan> planTreeCommit(const VolumeContext& context, BTreeFile& tree) {
    TreeCommitPlan plan;
    if (!tree.changed()) return plan;
    plan.changed = true;
    Result<std::vector<uint32_t>> live = treeNodes(tree);
    if (!live) return Fault{live.fault()};
    // A copy of the whole tree must fit beside the tree on the medium. A tree short of room grows
    // by what it lacks and a quarter of its nodes more, so that the next changes fit as well.
    std::vector<uint8_t> blocked = blockedNodes(tree);
    for (int round = 0;; ++round) {
        const auto free = static_cast<uint32_t>(std::count(blocked.begin(), blocked.end(), 0));
        if (free >= live->size()) break;
        const auto lacking = static_cast<uint32_t>(live->size()) - free;
        if (round == 8 || !extendTree(context, tree, lacking + static_cast<uint32_t>(live->size()) / 4))
            return Fault{messageWith(Msg::NoRoomForTreeCopy, tree.isCatalog ? "catalog" : "extents tree")};
        blocked = blockedNodes(tree);
    }
    const uint32_t total = tree.nodeCount();
    auto freeOnMedium = [&](uint32_t n) { return n < total && !blocked[n]; };
    std::vector<uint8_t> touched(total, 0);
    for (const auto& [n, bytes] : tree.saved)
        if (n < total) touched[n] = 1;
    plan.placement.assign(total, 0);
    std::vector<uint8_t> taken(total, 0);
    auto place = [&](uint32_t n, uint32_t at) {
        plan.placement[n] = at;
        taken[at] = 1;
    };
    // Each node goes back to its partner, or stays where it is when the medium's tree does not
    // use that node (a node that this change took from the map); the rest take free nodes.
    for (uint32_t n : *live) {
        const uint32_t partner = n < tree.partner.size() ? tree.partner[n] : 0;
        for (uint32_t at : {partner, n}) {
            if (at != 0 && freeOnMedium(at) && !taken[at]) {
                place(n, at);
                break;
            }
        }
    }
    uint32_t cursor = 1;
    for (uint32_t n : *live) {
        if (plan.placement[n] != 0) continue;
        while (cursor < total && (!freeOnMedium(cursor) || taken[cursor])) ++cursor;
        if (cursor == total) return shadowError(tree, "no free node for node " + std::to_string(n));
        place(n, cursor);
    }

    // The index nodes with a child that does not go back to its partner. A node's parent is the
    // one the last commit noted: a node that changed parents changed both of them.
    std::vector<uint8_t> strayChild(total, 0);
    for (uint32_t n : *live)
        if (!goesBack(tree, plan.placement, n) && n < tree.nodeLinks.size() && tree.nodeLinks[n].parent < total)
            strayChild[tree.nodeLinks[n].parent] = 1;

    std::vector<uint8_t> used(total, 0);
    used[0] = 1;
    for (uint32_t m : tree.mapNodes) used[m] = 1;
    plan.neighboursMoved.assign(live->size(), false);
    // Each node's parent, numbered as after the commit: the last commit's, then those that the
    // index nodes written now name.
    plan.nodeLinks.assign(total, {});
    for (uint32_t n : *live)
        if (n < tree.nodeLinks.size() && tree.nodeLinks[n].parent < total)
            plan.nodeLinks[plan.placement[n]].parent = plan.placement[tree.nodeLinks[n].parent];
    for (size_t i = 0; i < live->size(); ++i) {
        const uint32_t n = (*live)[i];
        const uint32_t at = plan.placement[n];
        used[at] = 1;
        if (backAtPartner(tree, n, plan.placement, touched, strayChild)) {
            const BTreeFile::NodeLinks& links = tree.nodeLinks[n];
#ifndef NDEBUG
            // Debug builds (the sanitizer tests) hold what the last commit noted to the node.
            const uint8_t* nd = viewNode(tree, n);
            const BTreeFile::NodeLinks own = linksOf(nd, links.parent);
            bool childrenBack = true;
            for (uint16_t c = 0; own.index && c < nodeRecordCount(nd); ++c)
                childrenBack = childrenBack && goesBack(tree, plan.placement, childOf(nd, c)) && tree.nodeLinks[childOf(nd, c)].parent == n;
            if (own.forward != links.forward || own.backward != links.backward || own.index != links.index || !childrenBack)
                return shadowError(tree, "node " + std::to_string(n) + " is not as the last commit noted");
#endif
            plan.nodeLinks[at].forward = plan.placement[links.forward];
            plan.nodeLinks[at].backward = plan.placement[links.backward];
            plan.nodeLinks[at].index = links.index;
            plan.neighboursMoved[i] = true;
            continue;
        }
        NodeWrite w{at, {}};
        bool allMoved = false;
        if (Status s = translate(tree, n, plan.placement, w.bytes.data(), allMoved); !s) return Fault{s.fault()};
        const BTreeFile::NodeLinks own = linksOf(w.bytes.data(), 0);
        plan.nodeLinks[at].forward = own.forward;
        plan.nodeLinks[at].backward = own.backward;
        plan.nodeLinks[at].index = own.index;
        if (own.index)
            for (uint16_t c = 0; c < nodeRecordCount(w.bytes.data()); ++c) {
                const uint32_t child = childOf(w.bytes.data(), c);
                if (child < total) plan.nodeLinks[child].parent = at;
            }
        plan.neighboursMoved[i] = allMoved;
        const uint8_t* there = mediumNode(tree, at);
        if (!there || std::memcmp(there, w.bytes.data(), kNodeSize) != 0) plan.fresh.push_back(w);
    }
    plan.live = std::move(*live);

    // The switch: the header names the new root and leaves and counts and maps the new nodes.
    std::vector<uint8_t> both = used;
    for (uint32_t n = 0; n < std::min<size_t>(total, tree.committedUsed.size()); ++n) both[n] |= tree.committedUsed[n];
    plan.header.node = 0;
    plan.header.bytes = tree.header;
    uint8_t* h = plan.header.bytes.data();
    for (size_t field : {header::kRoot, header::kFirstLeaf, header::kLastLeaf}) {
        const uint32_t n = loadBE32(h + field);
        storeBE32(h + field, n < total ? plan.placement[n] : 0);
    }
    storeBE32(h + header::kTotalNodes, total);
    storeBE32(h + header::kFreeNodes, static_cast<uint32_t>(std::count(used.begin(), used.end(), 0)));
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
        // A map node of the tree on the medium keeps its link until every map node marks the
        // new map node it leads to in use; then the link goes on the medium by itself, before
        // the switch where the new map node lies among the nodes the old header counts, else
        // with the map's last write after the switch (a reader following the chain to a node
        // past the count refuses the tree).
        if (there && before[i].node < tree.committedUsed.size() && tree.committedUsed[before[i].node]) {
            const uint32_t link = loadBE32(before[i].bytes.data() + node::kFLink);
            std::memcpy(before[i].bytes.data() + node::kFLink, there + node::kFLink, 4);
            if (link != loadBE32(there + node::kFLink) && link < tree.committedNodes) {
                NodeWrite linked = before[i];
                storeBE32(linked.bytes.data() + node::kFLink, link);
                plan.links.push_back(linked);
            }
        }
        if (!there || std::memcmp(there, before[i].bytes.data(), kNodeSize) != 0) plan.maps.push_back(before[i]);
        if (after[i].bytes != before[i].bytes) plan.frees.push_back(after[i]);
    }
    return plan;
}

Status adoptTreeCommit(BTreeFile& tree, const TreeCommitPlan& plan) {
    if (!plan.changed) return Status::ok();
    const uint32_t total = tree.nodeCount();
    // Memory becomes what the medium holds: what it held where the change touched a node, no
    // bytes where the tree grew into blocks never read, and the plan's writes over that.
    std::vector<uint32_t> written;
    std::vector<bool> touched(total, false);
    for (const auto& [n, bytes] : tree.saved) {
        if (n >= total) continue;
        touched[n] = true;
        written.push_back(n);
        if (n < tree.committedNodes) std::memcpy(tree.edit.data() + size_t{n} * kNodeSize, bytes.data(), kNodeSize);
    }
    for (uint32_t n = tree.committedNodes; n < total; ++n) {
        std::memset(tree.edit.data() + size_t{n} * kNodeSize, 0, kNodeSize);
        written.push_back(n);
    }
    auto put = [&](const NodeWrite& w) {
        std::memcpy(tree.edit.data() + size_t{w.node} * kNodeSize, w.bytes.data(), kNodeSize);
        written.push_back(w.node);
    };
    for (const NodeWrite& w : plan.fresh) put(w);
    for (const NodeWrite& w : plan.maps) put(w);
    for (const NodeWrite& w : plan.links) put(w);
    put(plan.header);
    for (const NodeWrite& w : plan.frees) put(w);

    std::vector<uint8_t> used(total, 0);
    used[0] = 1;
    for (uint32_t m : tree.mapNodes) used[m] = 1;
    tree.partner.resize(total, 0);
    tree.partnerHoldsIt.assign(total, false);
    for (size_t i = 0; i < plan.live.size(); ++i) {
        const uint32_t n = plan.live[i], at = plan.placement[n];
        used[at] = 1;
        if (at == n) continue;
        // The node's old place holds what it held before this change, which is its new version
        // with every node number put back when neither it nor its neighbours stayed put.
        tree.partnerHoldsIt[at] = plan.neighboursMoved[i] && !touched[n];
        tree.partner[at] = n;
        tree.partner[n] = at;
    }
    if (tree.nodeNumber < plan.placement.size() && plan.placement[tree.nodeNumber] != 0)
        tree.nodeNumber = plan.placement[tree.nodeNumber];
    if (tree.nodeNumber < total) std::memcpy(tree.node.data(), tree.edit.data() + size_t{tree.nodeNumber} * kNodeSize, kNodeSize);

    std::memcpy(tree.header.data(), plan.header.bytes.data(), kNodeSize);
    tree.savedHeader = tree.header;
    tree.saved.clear();
    tree.committedNodes = total;
    tree.nodeUsed.assign(used.begin(), used.end());
    tree.committedUsed = std::move(used);
    tree.nodeLinks = plan.nodeLinks;
    tree.mapIsTree = true;
    tree.freeHint = 1;

    std::sort(written.begin(), written.end());
    written.erase(std::unique(written.begin(), written.end()), written.end());
    for (uint32_t n : written) {
        const off_t at = static_cast<off_t>(n) * kNodeSize;
        if (pwrite(tree.workFile, tree.edit.data() + at, kNodeSize, at) != static_cast<ssize_t>(kNodeSize))
            return shadowError(tree, std::string("cannot write its work file: ") + std::strerror(errno));
    }
    return Status::ok();
}

}  // namespace quarry
