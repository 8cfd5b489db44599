#include "hfs/tree_edit.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "hfs/btree.h"
#include "hfs/name_order.h"
#include "hfs/volume_edit.h"

namespace quarry {
namespace {

// The header node holds three records: the header, 128 bytes for the tree's owner, the map.
constexpr uint16_t kHeaderMapRecord = 2;
// A map node's one record fills the node as hfsutils lays it out (bytes 14 to 506).
constexpr uint16_t kMapRecordBytes = 492;
// Index records: the catalog's keys are padded to the longest catalog key (37 bytes after the
// length byte), as every HFS implementation writes them; the extents tree's keys are 7 bytes.
constexpr uint8_t kCatalogIndexKeyLength = 37;
constexpr size_t kChildPointerSize = 4;
// Space for records and their offsets: the node less its descriptor.
constexpr size_t kRecordSpace = kNodeSize - node::kFirstRecord;

const char* treeName(const BTreeFile& tree) { return tree.isCatalog ? "catalog" : "extents"; }

Fault treeError(const BTreeFile& tree, const std::string& what) { return Fault{std::string(treeName(tree)) + " tree: " + what}; }

using Record = std::vector<uint8_t>;

std::vector<Record> nodeRecords(const uint8_t* nd) {
    std::vector<Record> records;
    const uint16_t count = nodeRecordCount(nd);
    for (uint16_t i = 0; i < count; ++i) {
        const uint16_t from = nodeRecordOffset(nd, i);
        const uint16_t to = nodeRecordOffset(nd, static_cast<uint16_t>(i + 1));
        records.emplace_back(nd + from, nd + to);
    }
    return records;
}

size_t recordsBytes(const std::vector<Record>& records) {
    size_t bytes = 2;  // the free-space offset
    for (const Record& r : records) bytes += r.size() + 2;
    return bytes;
}

bool recordsFit(const std::vector<Record>& records) { return recordsBytes(records) <= kRecordSpace; }

// Lays the records out after the node descriptor, which stays as it is but for the count.
void storeRecords(uint8_t* nd, const std::vector<Record>& records) {
    std::memset(nd + node::kFirstRecord, 0, kRecordSpace);
    storeBE16(nd + node::kNumRecords, static_cast<uint16_t>(records.size()));
    size_t at = node::kFirstRecord;
    for (size_t i = 0; i < records.size(); ++i) {
        storeBE16(nd + kNodeSize - 2 - 2 * i, static_cast<uint16_t>(at));
        std::memcpy(nd + at, records[i].data(), records[i].size());
        at += records[i].size();
    }
    storeBE16(nd + kNodeSize - 2 - 2 * records.size(), static_cast<uint16_t>(at));
}

void initNode(uint8_t* nd, uint8_t type, uint8_t height) {
    std::memset(nd, 0, kNodeSize);
    nd[node::kType] = type;
    nd[node::kHeight] = height;
    storeBE16(nd + kNodeSize - 2, node::kFirstRecord);
}

Record makeRecord(const uint8_t* key, const uint8_t* data, size_t dataLength) {
    Record r(key, key + key[0] + 1);
    if (r.size() % 2) r.push_back(0);
    r.insert(r.end(), data, data + dataLength);
    if (r.size() % 2) r.push_back(0);
    return r;
}

// The index record that leads to a node whose first record is first.
Record indexRecord(const BTreeFile& tree, const uint8_t* first, uint32_t child) {
    Record r;
    if (tree.isCatalog) {
        r.assign(size_t{kCatalogIndexKeyLength} + 1, 0);
        std::memcpy(r.data(), first, std::min<size_t>(first[0] + 1, r.size()));
        r[0] = kCatalogIndexKeyLength;
    } else {
        r.assign(first, first + extkey::kKeyLengthValue + 1);
    }
    r.resize(r.size() + kChildPointerSize);
    storeBE32(r.data() + r.size() - kChildPointerSize, child);
    return r;
}

uint8_t* head(BTreeFile& tree) { return tree.header.data(); }

uint32_t childOf(const uint8_t* nd, uint16_t index) {
    const uint8_t* record = nd + nodeRecordOffset(nd, index);
    return loadBE32(record + recordDataOffset(record));
}

// Where the header node keeps its map record, and how many nodes it covers.
std::pair<uint16_t, uint32_t> headerMap(const BTreeFile& tree) {
    const uint8_t* nd = tree.header.data();
    if (nodeRecordCount(nd) <= kHeaderMapRecord) return {0, 0};
    const uint16_t from = nodeRecordOffset(nd, kHeaderMapRecord);
    const uint16_t to = nodeRecordOffset(nd, kHeaderMapRecord + 1);
    // A damaged header's map record that leaves the node (or its offsets) is no map record.
    if (from < node::kFirstRecord || to <= from || to > kNodeSize - 2 * (kHeaderMapRecord + 2)) return {0, 0};
    return {from, uint32_t{to} - from};
}

uint32_t mapCoverage(BTreeFile& tree) {
    uint32_t bits = headerMap(tree).second * 8;
    for (uint32_t m : tree.mapNodes) {
        const uint8_t* nd = viewNode(tree, m);
        bits += (uint32_t{nodeRecordOffset(nd, 1)} - nodeRecordOffset(nd, 0)) * 8;
    }
    return bits;
}

// Reads the node map; nodes that no map bit covers count as used, so they are never handed out.
Status readNodeMap(BTreeFile& tree) {
    const uint32_t total = tree.nodeCount();
    tree.nodeUsed.assign(total, true);
    tree.mapNodes.clear();
    auto take = [&](const uint8_t* bits, uint32_t bytes, uint32_t first) {
        for (uint32_t i = 0; i < bytes * 8 && first + i < total; ++i)
            tree.nodeUsed[first + i] = (bits[i / 8] & (0x80 >> (i % 8))) != 0;
        return first + bytes * 8;
    };
    const auto [at, bytes] = headerMap(tree);
    if (bytes == 0) return treeError(tree, "header node without a map record");
    uint32_t covered = take(tree.header.data() + at, bytes, 0);
    ChainGuard guard(total);
    for (uint32_t m = loadBE32(tree.header.data() + node::kFLink); m != 0;) {
        if (!guard.visit(m)) return treeError(tree, "map chain loops back to node " + std::to_string(m));
        const uint8_t* nd = viewNode(tree, m);
        if (!nd || nodeType(nd) != node::kTypeMap || nodeRecordCount(nd) < 1)
            return treeError(tree, "map chain reaches node " + std::to_string(m) + ", which is not a map node");
        const uint16_t from = nodeRecordOffset(nd, 0);
        const uint16_t to = nodeRecordOffset(nd, 1);
        if (from < node::kFirstRecord || to <= from || to > kNodeSize - 4)
            return treeError(tree, "map node " + std::to_string(m) + " has a damaged record");
        tree.mapNodes.push_back(m);
        covered = take(nd + from, uint32_t{to} - from, covered);
        m = nodeForwardLink(nd);
    }
    tree.nodeUsed[0] = true;
    tree.freeHint = 1;
    return Status::ok();
}

}  // namespace

void renderNodeMap(const BTreeFile& tree, const std::vector<uint8_t>& used, uint8_t* headerNode,
                   const std::vector<uint8_t*>& mapNodes) {
    const uint32_t total = std::min<uint32_t>(tree.nodeCount(), static_cast<uint32_t>(used.size()));
    uint32_t first = 0;
    auto put = [&](uint8_t* bits, uint32_t bytes) {
        std::memset(bits, 0, bytes);
        for (uint32_t i = 0; i < bytes && first + i * 8 < total; ++i) {
            uint8_t byte = 0;
            for (uint32_t b = 0, n = first + i * 8; b < 8 && n < total; ++b, ++n)
                if (used[n]) byte |= static_cast<uint8_t>(0x80 >> b);
            bits[i] = byte;
        }
        first += bytes * 8;
    };
    const auto [at, bytes] = headerMap(tree);
    put(headerNode + at, bytes);
    for (uint8_t* nd : mapNodes) {
        const uint16_t from = nodeRecordOffset(nd, 0);
        put(nd + from, uint32_t{nodeRecordOffset(nd, 1)} - from);
    }
}

Result<std::vector<uint32_t>> treeNodesInUse(const BTreeFile& tree) {
    std::vector<uint32_t> nodes;
    const uint32_t root = loadBE32(tree.header.data() + header::kRoot);
    if (root == 0) return nodes;
    const uint32_t total = tree.nodeCount();
    std::vector<uint8_t> seen(total, 0);
    // Level by level from the root. The header's depth says which level holds the leaves; those
    // are not read (the tree was checked when it was loaded, and an edit keeps leaves leaves).
    const uint16_t depth = loadBE16(tree.header.data() + header::kDepth);
    std::vector<uint32_t> level{root};
    for (uint16_t height = depth; !level.empty(); --height) {
        std::vector<uint32_t> below;
        for (uint32_t n : level) {
            if (n >= total || seen[n]) return treeError(tree, "the index leads twice or past the end to node " + std::to_string(n));
            seen[n] = 1;
            nodes.push_back(n);
            if (height <= 1) continue;
            const uint8_t* nd = viewNode(tree, n);
            if (nodeType(nd) != node::kTypeIndex) return treeError(tree, "node " + std::to_string(n) + " in the index is no index node");
            for (uint16_t i = 0; i < nodeRecordCount(nd); ++i) below.push_back(childOf(nd, i));
        }
        level = std::move(below);
    }
    return nodes;
}

namespace {

// Walks the index levels, each from its first node along the forward links, the next level
// down through the first record's child, so that a tree whose index is damaged is not changed.
Status checkIndex(BTreeFile& tree) {
    ChainGuard guard(tree.nodeCount());
    uint32_t first = loadBE32(head(tree) + header::kRoot);
    while (first != 0) {
        const uint8_t* nd = viewNode(tree, first);
        if (!nd) return treeError(tree, "index leads past the end of the tree to node " + std::to_string(first));
        if (nodeType(nd) == node::kTypeLeaf) return Status::ok();
        if (nodeType(nd) != node::kTypeIndex || nodeRecordCount(nd) == 0)
            return treeError(tree, "node " + std::to_string(first) + " in the index is not an index node");
        const uint8_t* key = nd + nodeRecordOffset(nd, 0);
        const uint32_t below = loadBE32(key + recordDataOffset(key));
        for (uint32_t n = first; n != 0;) {
            if (!guard.visit(n)) return treeError(tree, "index level loops back to node " + std::to_string(n));
            const uint8_t* level = viewNode(tree, n);
            if (!level || nodeType(level) != node::kTypeIndex)
                return treeError(tree, "index level reaches node " + std::to_string(n) + ", which is not an index node");
            n = nodeForwardLink(level);
        }
        first = below;
    }
    return Status::ok();
}

// The highest catalog ID that a catalog leaf record names: its key's parent, a folder's or a
// file's own ID, a thread's parent.
uint32_t highestIdOf(const uint8_t* record) {
    uint32_t id = catalogKeyParent(record);
    const uint8_t* data = record + recordDataOffset(record);
    switch (data[0]) {
        case catrec::kFolder: return std::max(id, loadBE32(data + catrec::kDirId));
        case catrec::kFile: return std::max(id, loadBE32(data + catrec::kFileId));
        case catrec::kFolderThread:
        case catrec::kFileThread: return std::max(id, loadBE32(data + catrec::kThreadParentId));
        default: return id;
    }
}

// Every index and leaf node that the index reaches, level by level, must keep the node rules
// the reader keeps, hold its keys in ascending order, and hold only keys from the one its index
// record gives up to (not including) the next; the leaves, in that order, must be the chain
// from the header's first leaf to its last. The changes lay records out from the offsets and
// the index as they find them, so a node that breaks these would be read past its end or
// would put a record where no search finds it. Each node is looked at once.
Status checkTree(BTreeFile& tree) {
    tree.highestCatalogId = 0;
    struct Reached {
        uint32_t node;
        const uint8_t* low;   // the key of the index record that leads here; nullptr: none
        const uint8_t* high;  // the key of the next index record, or of one above; nullptr: none
    };
    const uint32_t root = loadBE32(head(tree) + header::kRoot);
    if (root == 0) return Status::ok();
    ChainGuard guard(tree.nodeCount());
    std::vector<Reached> level{{root, nullptr, nullptr}};
    std::vector<uint32_t> leaves;
    while (!level.empty()) {
        std::vector<Reached> below;
        const uint8_t levelType = viewNode(tree, level.front().node) ? nodeType(viewNode(tree, level.front().node)) : 0;
        for (const Reached& r : level) {
            const std::string where = "node " + std::to_string(r.node);
            const uint8_t* nd = viewNode(tree, r.node);
            if (!nd || !guard.visit(r.node)) return treeError(tree, "the index leads twice or past the end to " + where);
            if (std::string fault = checkNode(tree, nd); !fault.empty()) return treeError(tree, where + ": " + fault);
            if (nodeType(nd) != node::kTypeIndex && nodeType(nd) != node::kTypeLeaf)
                return treeError(tree, where + " in the index is neither index nor leaf");
            if (nodeType(nd) != levelType) return treeError(tree, where + " is not of the kind of the nodes beside it");
            const uint16_t count = nodeRecordCount(nd);
            if (count == 0 && r.node != root) return treeError(tree, where + " holds no record");
            for (uint16_t i = 0; i < count; ++i) {
                const uint8_t* key = nd + nodeRecordOffset(nd, i);
                const uint8_t* before = i == 0 ? r.low : nd + nodeRecordOffset(nd, static_cast<uint16_t>(i - 1));
                if (before && compareTreeKeys(tree, before, key) > (i == 0 ? 0 : -1))
                    return treeError(tree, where + ": record " + std::to_string(i) + " is out of key order");
                if (r.high && compareTreeKeys(tree, key, r.high) >= 0)
                    return treeError(tree, where + ": record " + std::to_string(i) + " belongs to a later node");
                if (nodeType(nd) == node::kTypeLeaf) {
                    if (tree.isCatalog) tree.highestCatalogId = std::max(tree.highestCatalogId, highestIdOf(key));
                    continue;
                }
                const uint8_t* next = i + 1 < count ? nd + nodeRecordOffset(nd, static_cast<uint16_t>(i + 1)) : r.high;
                below.push_back({childOf(nd, i), key, next});
            }
            if (nodeType(nd) == node::kTypeLeaf) leaves.push_back(r.node);
        }
        level = std::move(below);
    }
    for (size_t i = 0; i < leaves.size(); ++i) {
        const uint8_t* nd = viewNode(tree, leaves[i]);
        const uint32_t back = i == 0 ? 0 : leaves[i - 1];
        const uint32_t next = i + 1 < leaves.size() ? leaves[i + 1] : 0;
        if (loadBE32(nd + node::kBLink) != back || nodeForwardLink(nd) != next)
            return treeError(tree, "leaf " + std::to_string(leaves[i]) + " is not linked to the leaves beside it");
    }
    if (loadBE32(head(tree) + header::kFirstLeaf) != leaves.front() || loadBE32(head(tree) + header::kLastLeaf) != leaves.back())
        return treeError(tree, "the header's first and last leaves are not the ends of the leaf chain");
    return Status::ok();
}

// One step of a descent: an index node and the record in it that leads on.
struct PathStep {
    uint32_t node = 0;
    uint16_t index = 0;
};

const uint8_t* firstKey(const BTreeFile& tree, uint32_t n) {
    const uint8_t* nd = viewNode(tree, n);
    return nd && nodeRecordCount(nd) > 0 ? nd + nodeRecordOffset(nd, 0) : nullptr;
}

// The index records from the root down to node target, which the descent by target's first key
// reaches (the index holds each node's first key); empty when target is the root.
Result<std::vector<PathStep>> pathTo(BTreeFile& tree, uint32_t target) {
    if (target == loadBE32(head(tree) + header::kRoot)) return std::vector<PathStep>{};
    const uint8_t* key = firstKey(tree, target);
    if (!key) return treeError(tree, "node " + std::to_string(target) + " holds no record");
    std::vector<PathStep> path;
    ChainGuard guard(tree.nodeCount());
    for (uint32_t n = loadBE32(head(tree) + header::kRoot); n != target;) {
        const uint8_t* nd = viewNode(tree, n);
        if (!nd || !guard.visit(n) || nodeType(nd) != node::kTypeIndex || nodeRecordCount(nd) == 0)
            return treeError(tree, "the index does not lead to node " + std::to_string(target));
        uint16_t chosen = 0;
        for (uint16_t i = 1; i < nodeRecordCount(nd); ++i) {
            if (compareTreeKeys(tree, key, nd + nodeRecordOffset(nd, i)) < 0) break;
            chosen = i;
        }
        path.push_back({n, chosen});
        n = childOf(nd, chosen);
    }
    return path;
}

// Node child's first key has changed: the index record that leads to it takes the new key, and
// so on up while the record is the first of its node.
void refreshKeys(BTreeFile& tree, const std::vector<PathStep>& path, uint32_t child) {
    for (size_t level = path.size(); level-- > 0;) {
        const PathStep& step = path[level];
        std::vector<Record> records = nodeRecords(viewNode(tree, step.node));
        records[step.index] = indexRecord(tree, firstKey(tree, child), child);
        storeRecords(editNode(tree, step.node), records);
        if (step.index != 0) return;
        child = step.node;
    }
}

// Node right has just been split off node left, the last node of path: the index takes it in
// after left, splitting full index nodes on the way up and growing a new root above the old.
Status insertChild(const VolumeContext& context, BTreeFile& tree, std::vector<PathStep> path, uint32_t left, uint32_t right) {
    while (!path.empty()) {
        const PathStep step = path.back();
        path.pop_back();
        std::vector<Record> records = nodeRecords(viewNode(tree, step.node));
        records.insert(records.begin() + step.index + 1, indexRecord(tree, firstKey(tree, right), right));
        if (recordsFit(records)) {
            storeRecords(editNode(tree, step.node), records);
            return Status::ok();
        }
        Result<uint32_t> sibling = allocateNode(context, tree);
        if (!sibling) return Fault{sibling.fault()};
        const size_t keep = (records.size() + 1) / 2;
        const std::vector<Record> moved(records.begin() + static_cast<long>(keep), records.end());
        records.resize(keep);
        uint8_t* nd = editNode(tree, step.node);
        const uint32_t after = nodeForwardLink(nd);
        const uint8_t height = nd[node::kHeight];
        storeBE32(nd + node::kFLink, *sibling);
        storeRecords(nd, records);
        uint8_t* sib = editNode(tree, *sibling);
        initNode(sib, node::kTypeIndex, height);
        storeBE32(sib + node::kFLink, after);
        storeBE32(sib + node::kBLink, step.node);
        storeRecords(sib, moved);
        if (after != 0 && viewNode(tree, after)) storeBE32(editNode(tree, after) + node::kBLink, *sibling);
        left = step.node;
        right = *sibling;
    }
    // left was the root.
    Result<uint32_t> root = allocateNode(context, tree);
    if (!root) return Fault{root.fault()};
    const uint8_t height = static_cast<uint8_t>(viewNode(tree, left)[node::kHeight] + 1);
    uint8_t* nd = editNode(tree, *root);
    initNode(nd, node::kTypeIndex, height);
    storeRecords(nd, {indexRecord(tree, firstKey(tree, left), left), indexRecord(tree, firstKey(tree, right), right)});
    storeBE32(head(tree) + header::kRoot, *root);
    storeBE16(head(tree) + header::kDepth, height);
    return Status::ok();
}

// Takes a node out of its level: its neighbours link to each other.
void unlinkNode(BTreeFile& tree, uint32_t n) {
    const uint8_t* nd = viewNode(tree, n);
    const uint32_t back = loadBE32(nd + node::kBLink);
    const uint32_t next = nodeForwardLink(nd);
    if (back != 0 && viewNode(tree, back)) storeBE32(editNode(tree, back) + node::kFLink, next);
    if (next != 0 && viewNode(tree, next)) storeBE32(editNode(tree, next) + node::kBLink, back);
}

// The node that path leads to has left its level: its index record goes, an index node left
// empty goes too, and a root with a single child gives way to that child.
void removeChild(BTreeFile& tree, std::vector<PathStep> path) {
    while (!path.empty()) {
        const PathStep step = path.back();
        path.pop_back();
        std::vector<Record> records = nodeRecords(viewNode(tree, step.node));
        records.erase(records.begin() + step.index);
        if (!records.empty()) {
            storeRecords(editNode(tree, step.node), records);
            if (step.index == 0) refreshKeys(tree, path, step.node);
            break;
        }
        unlinkNode(tree, step.node);
        freeNode(tree, step.node);
        if (path.empty()) {
            storeBE32(head(tree) + header::kRoot, 0);
            storeBE16(head(tree) + header::kDepth, 0);
        }
    }
    for (uint32_t root = loadBE32(head(tree) + header::kRoot); root != 0;) {
        const uint8_t* nd = viewNode(tree, root);
        if (!nd || nodeType(nd) != node::kTypeIndex || nodeRecordCount(nd) != 1) break;
        const uint32_t child = childOf(nd, 0);
        freeNode(tree, root);
        storeBE32(head(tree) + header::kRoot, child);
        storeBE16(head(tree) + header::kDepth, static_cast<uint16_t>(loadBE16(head(tree) + header::kDepth) - 1));
        root = child;
    }
}

void closeTreeMemory(BTreeFile& tree) {
    tree.edit.clear();
    tree.saved.clear();
    tree.nodeUsed.clear();
    tree.mapNodes.clear();
    tree.committedUsed.clear();
    tree.partner.clear();
    tree.partnerHoldsIt.clear();
    tree.nodeLinks.clear();
    tree.mapIsTree = false;
}

// Splits leaf n: it keeps the first half of its records, a new leaf after it takes the rest.
Status splitLeaf(const VolumeContext& context, BTreeFile& tree, uint32_t n) {
    Result<std::vector<PathStep>> path = pathTo(tree, n);
    if (!path) return Fault{path.fault()};
    Result<uint32_t> right = allocateNode(context, tree);
    if (!right) return Fault{right.fault()};
    uint8_t* left = editNode(tree, n);
    std::vector<Record> records = nodeRecords(left);
    const size_t keep = (records.size() + 1) / 2;
    const std::vector<Record> moved(records.begin() + static_cast<long>(keep), records.end());
    records.resize(keep);
    const uint32_t after = nodeForwardLink(left);
    storeBE32(left + node::kFLink, *right);
    storeRecords(left, records);

    uint8_t* nd = editNode(tree, *right);
    initNode(nd, node::kTypeLeaf, 1);
    storeBE32(nd + node::kFLink, after);
    storeBE32(nd + node::kBLink, n);
    storeRecords(nd, moved);
    if (after != 0) {
        uint8_t* next = editNode(tree, after);
        if (!next) return treeError(tree, "leaf " + std::to_string(n) + " links to a node past the end");
        storeBE32(next + node::kBLink, *right);
    } else {
        storeBE32(head(tree) + header::kLastLeaf, *right);
    }
    return insertChild(context, tree, *path, n, *right);
}

// Makes the first leaf of an empty tree.
Status startTree(const VolumeContext& context, BTreeFile& tree) {
    Result<uint32_t> leaf = allocateNode(context, tree);
    if (!leaf) return Fault{leaf.fault()};
    initNode(editNode(tree, *leaf), node::kTypeLeaf, 1);
    storeBE32(head(tree) + header::kFirstLeaf, *leaf);
    storeBE32(head(tree) + header::kLastLeaf, *leaf);
    storeBE32(head(tree) + header::kRoot, *leaf);
    storeBE16(head(tree) + header::kDepth, 1);
    return Status::ok();
}

}  // namespace

Status beginTreeEdit(BTreeFile& tree) {
    if (tree.inMemory()) return Status::ok();
    if (!tree.hasWorkFile()) return treeError(tree, "not loaded");
    if (tree.nodeCount() == 0) return treeError(tree, "holds no node");
    std::vector<uint8_t> bytes(size_t{tree.nodeCount()} * kNodeSize);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = pread(tree.workFile, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return treeError(tree, std::string("cannot read its work file: ") + (got < 0 ? std::strerror(errno) : "too short"));
        done += static_cast<size_t>(got);
    }
    tree.edit = std::move(bytes);
    tree.saved.clear();
    tree.committedNodes = tree.nodeCount();
    // The header lives in tree.header; node 0 of the copy is refreshed from it at each commit.
    tree.savedHeader = tree.header;
    if (Status s = readNodeMap(tree); !s) {
        closeTreeMemory(tree);
        return s;
    }
    if (Status s = checkIndex(tree); !s) {
        closeTreeMemory(tree);
        return s;
    }
    // A tree that breaks the node rules or the key order is damaged: the change is refused as
    // when a search meets the damage.
    if (Status s = checkTree(tree); !s) {
        closeTreeMemory(tree);
        treeFault(tree, s.fault());
        return s;
    }
    // A node that the index reaches is the tree's, whatever a damaged map says of it: it is
    // neither handed out again nor overwritten, and the next map written marks it in use.
    Result<std::vector<uint32_t>> reached = treeNodesInUse(tree);
    if (!reached) {
        closeTreeMemory(tree);
        return Fault{reached.fault()};
    }
    // Nodes past the header's count are those of a tree file that grew before a cut, free until
    // a commit counts them; a tree that uses one is damaged.
    const uint32_t counted = loadBE32(head(tree) + header::kTotalNodes);
    for (uint32_t n : *reached) {
        if (n >= counted) {
            closeTreeMemory(tree);
            const std::string damage = std::string(tree.isCatalog ? "catalog" : "extents tree") + ": node " + std::to_string(n) +
                                       " of the tree lies past the header's count of " + std::to_string(counted) + " nodes";
            treeFault(tree, damage);
            return Fault{damage};
        }
        tree.nodeUsed[n] = 1;
    }
    tree.committedUsed.assign(tree.nodeUsed.begin(), tree.nodeUsed.end());
    return Status::ok();
}

const uint8_t* viewNode(const BTreeFile& tree, uint32_t n) {
    if (!tree.inMemory() || n >= tree.nodeCount()) return nullptr;
    return tree.edit.data() + size_t{n} * kNodeSize;
}

uint8_t* editNode(BTreeFile& tree, uint32_t n) {
    if (!tree.inMemory() || n >= tree.nodeCount()) return nullptr;
    uint8_t* nd = tree.edit.data() + size_t{n} * kNodeSize;
    // The first change of a node since the last commit keeps what the commit left there.
    if (tree.saved.find(n) == tree.saved.end()) std::memcpy(tree.saved[n].data(), nd, kNodeSize);
    return nd;
}

void abandonTreeEdit(BTreeFile& tree) {
    if (!tree.inMemory()) return;
    for (const auto& [n, bytes] : tree.saved)
        if (n < tree.committedNodes) std::memcpy(tree.edit.data() + size_t{n} * kNodeSize, bytes.data(), kNodeSize);
    tree.saved.clear();
    tree.treeSize = tree.committedNodes * kNodeSize;
    tree.edit.resize(size_t{tree.committedNodes} * kNodeSize);
    tree.header = tree.savedHeader;
    tree.nodeNumber = 0;
    tree.recordIndex = 0;
    // The node map and the index are read again from what the commit left; should that fail,
    // the tree is read from its work file at its next change.
    if (!readNodeMap(tree) || !checkIndex(tree)) {
        closeTreeMemory(tree);
        return;
    }
    // Nodes the tree reached when its edit began stay taken, as in beginTreeEdit.
    for (size_t n = 0; n < std::min(tree.nodeUsed.size(), tree.committedUsed.size()); ++n)
        tree.nodeUsed[n] |= tree.committedUsed[n];
}

int compareTreeKeys(const BTreeFile& tree, const uint8_t* a, const uint8_t* b) {
    auto order = [](uint32_t x, uint32_t y) { return x < y ? -1 : x > y ? 1 : 0; };
    if (!tree.isCatalog) {
        if (int c = order(loadBE32(a + extkey::kFileId), loadBE32(b + extkey::kFileId))) return c;
        if (int c = order(a[extkey::kForkType], b[extkey::kForkType])) return c;
        return order(loadBE16(a + extkey::kStartBlock), loadBE16(b + extkey::kStartBlock));
    }
    if (int c = order(catalogKeyParent(a), catalogKeyParent(b))) return c;
    const std::string_view nameA(reinterpret_cast<const char*>(a + catkey::kName), catalogKeyNameLength(a));
    const std::string_view nameB(reinterpret_cast<const char*>(b + catkey::kName), catalogKeyNameLength(b));
    return compareNames(nameA, nameB);
}

Result<RecordPlace> locateRecord(BTreeFile& tree, const uint8_t* key) {
    uint32_t n = loadBE32(head(tree) + header::kRoot);
    ChainGuard guard(tree.nodeCount());
    while (true) {
        const uint8_t* nd = viewNode(tree, n);
        if (n == 0 || !nd) return treeError(tree, "index leads to node " + std::to_string(n));
        if (!guard.visit(n)) return treeError(tree, "index leads back to node " + std::to_string(n));
        const uint16_t count = nodeRecordCount(nd);
        if (nodeType(nd) == node::kTypeLeaf) {
            RecordPlace place{n, count, false};
            for (uint16_t i = 0; i < count; ++i) {
                const int c = compareTreeKeys(tree, key, nd + nodeRecordOffset(nd, i));
                if (c <= 0) {
                    place.index = i;
                    place.found = c == 0;
                    break;
                }
            }
            return place;
        }
        if (nodeType(nd) != node::kTypeIndex || count == 0)
            return treeError(tree, "node " + std::to_string(n) + " in the index is not an index node");
        // The last child whose first key is not above the key; the first child for a key
        // below them all, where it would be inserted.
        uint16_t chosen = 0;
        for (uint16_t i = 1; i < count; ++i) {
            if (compareTreeKeys(tree, key, nd + nodeRecordOffset(nd, i)) < 0) break;
            chosen = i;
        }
        const uint8_t* record = nd + nodeRecordOffset(nd, chosen);
        n = loadBE32(record + recordDataOffset(record));
    }
}

Result<uint32_t> allocateNode(const VolumeContext& context, BTreeFile& tree) {
    if (loadBE32(head(tree) + header::kFreeNodes) == 0) {
        if (Status s = extendTree(context, tree); !s) return Fault{s.fault()};
    }
    for (uint32_t n = std::max<uint32_t>(tree.freeHint, 1); n < tree.nodeUsed.size(); ++n) {
        if (tree.nodeUsed[n]) continue;
        tree.nodeUsed[n] = true;
        tree.freeHint = n + 1;
        const uint32_t free = loadBE32(head(tree) + header::kFreeNodes);
        storeBE32(head(tree) + header::kFreeNodes, free > 0 ? free - 1 : 0);
        std::memset(editNode(tree, n), 0, kNodeSize);
        return n;
    }
    // The header counted free nodes that the map does not have: believe the map.
    storeBE32(head(tree) + header::kFreeNodes, 0);
    if (Status s = extendTree(context, tree); !s) return Fault{s.fault()};
    return allocateNode(context, tree);
}

void freeNode(BTreeFile& tree, uint32_t n) {
    if (n == 0 || n >= tree.nodeUsed.size()) return;
    std::memset(editNode(tree, n), 0, kNodeSize);
    if (!tree.nodeUsed[n]) return;
    tree.nodeUsed[n] = false;
    tree.freeHint = std::min(tree.freeHint, n);
    const uint32_t free = loadBE32(head(tree) + header::kFreeNodes);
    storeBE32(head(tree) + header::kFreeNodes, std::min(free + 1, tree.nodeCount()));
}

void addTreeNodes(BTreeFile& tree, uint32_t nodes) {
    // Nodes that the header did not count yet (a tree file that grew before a cut) join too.
    const uint32_t counted = std::min(loadBE32(head(tree) + header::kTotalNodes), tree.nodeCount());
    tree.treeSize += nodes * kNodeSize;
    tree.edit.resize(size_t{tree.nodeCount()} * kNodeSize, 0);
    tree.nodeUsed.resize(tree.nodeCount(), false);
    tree.freeHint = std::min(tree.freeHint, counted);
    storeBE32(head(tree) + header::kTotalNodes, tree.nodeCount());
    storeBE32(head(tree) + header::kFreeNodes, loadBE32(head(tree) + header::kFreeNodes) + tree.nodeCount() - counted);
    // A map that no longer covers every node grows by map nodes taken from the new ones,
    // chained after the header node and the map nodes before them.
    auto takenEither = [&](uint32_t n) { return tree.nodeUsed[n] || (n < tree.committedUsed.size() && tree.committedUsed[n]); };
    while (mapCoverage(tree) < tree.nodeCount()) {
        const uint32_t previous = tree.mapNodes.empty() ? 0 : tree.mapNodes.back();
        // Where the medium has map nodes, the link to a new one goes on the medium before the
        // header that counts the new nodes: the new map node must lie among the nodes the header
        // on the medium counts already, free in both versions, its bit in a map node (which the
        // commit marks before the link). Without such a node it goes after the old ones, and the
        // link waits for the switch.
        uint32_t m = 0;
        if (previous != 0)
            for (uint32_t n = std::min(tree.committedNodes, tree.nodeCount()); m == 0 && n-- > headerMap(tree).second * 8u;)
                if (!takenEither(n)) m = n;
        if (m == 0) {
            m = counted;
            while (m < tree.nodeCount() && takenEither(m)) ++m;
        }
        if (m >= tree.nodeCount()) return;
        tree.nodeUsed[m] = true;
        storeBE32(head(tree) + header::kFreeNodes, loadBE32(head(tree) + header::kFreeNodes) - 1);
        uint8_t* nd = editNode(tree, m);
        initNode(nd, node::kTypeMap, 0);
        storeBE16(nd + node::kNumRecords, 1);
        storeBE16(nd + kNodeSize - 4, node::kFirstRecord + kMapRecordBytes);
        storeBE32(nd + node::kBLink, previous);
        storeBE32((previous == 0 ? head(tree) : editNode(tree, previous)) + node::kFLink, m);
        tree.mapNodes.push_back(m);
    }
}

Status insertRecord(const VolumeContext& context, BTreeFile& tree, const uint8_t* key, const uint8_t* data,
                    size_t dataLength) {
    if (Status s = beginTreeEdit(tree); !s) return s;
    if (loadBE32(head(tree) + header::kRoot) == 0) {
        if (Status s = startTree(context, tree); !s) return s;
    }
    const Record record = makeRecord(key, data, dataLength);
    // Each split halves the leaf the record goes to, so a few rounds always make room.
    for (int round = 0; round < 8; ++round) {
        Result<RecordPlace> place = locateRecord(tree, key);
        if (!place) return Fault{place.fault()};
        if (place->found) return treeError(tree, "a record with this key exists already");
        const uint8_t* nd = viewNode(tree, place->node);
        std::vector<Record> records = nodeRecords(nd);
        records.insert(records.begin() + place->index, record);
        if (!recordsFit(records)) {
            if (nodeRecordCount(nd) < 2) return treeError(tree, "record too large for a node");
            if (Status s = splitLeaf(context, tree, place->node); !s) return s;
            continue;
        }
        // The index keeps each leaf's first key; a new first key goes up into it. (A key goes
        // before a leaf's first one only in the first leaf: the index sends smaller keys left.)
        Result<std::vector<PathStep>> path = place->index == 0 ? pathTo(tree, place->node) : std::vector<PathStep>{};
        if (!path) return Fault{path.fault()};
        storeRecords(editNode(tree, place->node), records);
        storeBE32(head(tree) + header::kLeafRecords, loadBE32(head(tree) + header::kLeafRecords) + 1);
        if (place->index == 0) refreshKeys(tree, *path, place->node);
        return Status::ok();
    }
    return treeError(tree, "no room for a record after splitting its leaf");
}

Status deleteRecord(const VolumeContext&, BTreeFile& tree, uint32_t n, uint16_t index) {
    if (Status s = beginTreeEdit(tree); !s) return s;
    const uint8_t* nd = viewNode(tree, n);
    if (!nd || nodeType(nd) != node::kTypeLeaf || index >= nodeRecordCount(nd))
        return treeError(tree, "no record " + std::to_string(index) + " in leaf " + std::to_string(n));
    // The way down to the leaf, found while its first key is still in the index.
    Result<std::vector<PathStep>> path = index == 0 ? pathTo(tree, n) : std::vector<PathStep>{};
    if (!path) return Fault{path.fault()};
    std::vector<Record> records = nodeRecords(nd);
    records.erase(records.begin() + index);
    const uint32_t leafRecords = loadBE32(head(tree) + header::kLeafRecords);
    storeBE32(head(tree) + header::kLeafRecords, leafRecords > 0 ? leafRecords - 1 : 0);
    if (!records.empty()) {
        storeRecords(editNode(tree, n), records);
        if (index == 0) refreshKeys(tree, *path, n);
        return Status::ok();
    }
    // The leaf goes away.
    const uint32_t back = loadBE32(nd + node::kBLink);
    const uint32_t next = nodeForwardLink(nd);
    unlinkNode(tree, n);
    if (loadBE32(head(tree) + header::kFirstLeaf) == n) storeBE32(head(tree) + header::kFirstLeaf, next);
    if (loadBE32(head(tree) + header::kLastLeaf) == n) storeBE32(head(tree) + header::kLastLeaf, back);
    freeNode(tree, n);
    if (path->empty()) {
        // It was the root: the tree is empty, and holds no record whatever a damaged header
        // counted.
        storeBE32(head(tree) + header::kRoot, 0);
        storeBE16(head(tree) + header::kDepth, 0);
        storeBE32(head(tree) + header::kLeafRecords, 0);
        storeBE32(head(tree) + header::kFirstLeaf, 0);
        storeBE32(head(tree) + header::kLastLeaf, 0);
        return Status::ok();
    }
    removeChild(tree, *path);
    return Status::ok();
}

}  // namespace quarry
