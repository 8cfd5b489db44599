#include "hfs/volume_check.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>

#include "device/sector_source.h"
#include "hfs/btree.h"
#include "hfs/fork.h"
#include "hfs/name_order.h"
#include "hfs/volume_edit.h"

namespace quarry {
namespace {

// The header node holds three records: the header, 128 bytes for the tree's owner, the map.
inline constexpr uint16_t kHeaderMapRecord = 2;
inline constexpr uint32_t kBitsPerSector = kNodeSize * 8;
// A fork's problems of one kind are reported once per extent, not once per block, so that a
// badly damaged volume still gives a readable list.
inline constexpr size_t kMaxProblems = 500;

using NodeBytes = std::array<uint8_t, kNodeSize>;

// The key of a leaf or index record, reduced to what orders it.
struct TreeKey {
    uint32_t first = 0;  // catalog: parent ID; extents: file ID
    uint8_t fork = 0;    // extents only
    uint16_t start = 0;  // extents only: fork-relative start block
    std::string_view name;
    bool operator==(const TreeKey& o) const {
        return first == o.first && fork == o.fork && start == o.start && name == o.name;
    }
};

TreeKey keyOf(bool catalog, const uint8_t* key) {
    TreeKey k;
    if (catalog) {
        k.first = catalogKeyParent(key);
        k.name = std::string_view(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
    } else {
        k.fork = key[extkey::kForkType];
        k.first = loadBE32(key + extkey::kFileId);
        k.start = loadBE16(key + extkey::kStartBlock);
    }
    return k;
}

// Negative, 0 or positive as a sorts before, with or after b in its tree.
int compareKeys(bool catalog, const TreeKey& a, const TreeKey& b) {
    if (a.first != b.first) return a.first < b.first ? -1 : 1;
    if (catalog) return compareNames(a.name, b.name);
    if (a.fork != b.fork) return a.fork < b.fork ? -1 : 1;
    if (a.start != b.start) return a.start < b.start ? -1 : 1;
    return 0;
}

const char* treeName(const BTreeFile& tree) { return tree.isCatalog ? "catalog" : "extents"; }

std::string forkName(uint32_t fileID, uint8_t fork) {
    if (fileID == kCatalogFileId) return "catalog tree";
    if (fileID == kExtentsFileId) return "extents tree";
    return "file " + std::to_string(fileID) + (fork == kResourceFork ? " resource fork" : " data fork");
}

std::string blockRange(uint32_t first, uint32_t count) {
    return count == 1 ? "allocation block " + std::to_string(first)
                      : "allocation blocks " + std::to_string(first) + "-" + std::to_string(first + count - 1);
}

// Puts a tree's current node, cursor and fault back as the check found them.
class TreeStateKeeper {
public:
    explicit TreeStateKeeper(BTreeFile& tree)
        : tree_(tree), node_(tree.node), nodeNumber_(tree.nodeNumber), recordIndex_(tree.recordIndex), fault_(tree.fault) {}
    ~TreeStateKeeper() {
        tree_.node = node_;
        tree_.nodeNumber = nodeNumber_;
        tree_.recordIndex = recordIndex_;
        tree_.fault = fault_;
    }
    TreeStateKeeper(const TreeStateKeeper&) = delete;
    TreeStateKeeper& operator=(const TreeStateKeeper&) = delete;

private:
    BTreeFile& tree_;
    NodeBytes node_;
    uint32_t nodeNumber_;
    uint16_t recordIndex_;
    std::string fault_;
};

struct FolderInfo {
    uint32_t parent = 0;
    std::string name;
    uint16_t valence = 0;
    uint32_t entries = 0;
};

struct ThreadInfo {
    uint8_t type = 0;
    uint32_t parent = 0;
    std::string name;
};

struct ForkInfo {
    uint32_t fileID = 0;
    uint8_t fork = 0;
    ExtentRecord extents{};
    uint32_t physicalLength = 0;  // for the trees, their sizes from the MDB
    uint32_t logicalLength = 0;
};

class Checker {
public:
    explicit Checker(const VolumeContext& context) : context_(context), volume_(context.volume) {}

    VolumeCheckResult run() {
        if (std::string cut = imageCutShort(volume_); !cut.empty()) problem(std::move(cut));
        checkMdb();
        checkAlternateMdb();
        if (!volume_.extents.hasWorkFile() && !copyExtentsTree(context_)) {
            problem("extents tree cannot be read: " + volume_.extents.fault);
        }
        bool catalogWhole = false, extentsWhole = false;
        {
            TreeStateKeeper keepCatalog(volume_.catalog);
            catalogWhole = checkTree(volume_.catalog);
        }
        if (volume_.extents.hasWorkFile()) {
            TreeStateKeeper keepExtents(volume_.extents);
            extentsWhole = checkTree(volume_.extents);
        }
        // Records missing from a damaged tree would show as a flood of wrong counts and unowned
        // blocks that say nothing more than the damage already named.
        if (!catalogWhole) {
            problem("catalog: records not compared with each other, the tree cannot be read whole");
            return std::move(result_);
        }
        checkCatalogContents();
        if (!extentsWhole) {
            problem("extents: allocation not checked, the tree cannot be read whole");
            return std::move(result_);
        }
        checkAllocation();
        return std::move(result_);
    }

private:
    void problem(std::string text) {
        if (result_.problems.size() < kMaxProblems) result_.problems.push_back(std::move(text));
        else if (result_.problems.size() == kMaxProblems) result_.problems.push_back("more problems not listed");
    }
    void nodeProblem(const BTreeFile& tree, uint32_t n, const std::string& text) {
        problem(std::string(treeName(tree)) + " node " + std::to_string(n) + ": " + text);
    }
    // What a change cut off before its end may leave (hfs/volume_commit.h): on a volume whose MDB
    // says a change was under way it is noted, since the next change repairs it; on any other
    // volume it is a problem.
    bool cutShortChange() const { return (volume_.mdb16(mdb::kAttributes) & mdb::kCleanlyUnmounted) == 0; }
    void leftover(std::string text) {
        if (cutShortChange()) result_.notes.push_back("not closed cleanly: " + text + "; the next change repairs it");
        else problem(std::move(text));
    }

    uint32_t blockCount() const { return volume_.mdb16(mdb::kAllocBlocks); }
    bool locked() const { return volume_.locked(); }

    // --- the master directory block ---------------------------------------------------------

    void checkMdb() {
        const uint32_t blockSize = volume_.mdb32(mdb::kAllocBlockSize);
        if (blockSize == 0 || blockSize % kSectorSize != 0)
            problem("MDB: allocation block size " + std::to_string(blockSize) + " is not a multiple of 512");
        const uint32_t bitmapStart = volume_.mdb16(mdb::kBitmapStart);
        const uint32_t allocStart = volume_.mdb16(mdb::kAllocStart);
        const uint32_t bitmapSectors = (blockCount() + kBitsPerSector - 1) / kBitsPerSector;
        if (allocStart < bitmapStart + bitmapSectors)
            problem("MDB: allocation area starts at sector " + std::to_string(allocStart) + ", inside the bitmap (sectors " +
                    std::to_string(bitmapStart) + "-" + std::to_string(bitmapStart + bitmapSectors - 1) + ")");
        // Only the name's first 27 characters are shown, so a longer length is no reason to
        // refuse the volume; the check names it all the same.
        if (volume_.mdbCopy[mdb::kVolumeName] > mdb::kMaxVolumeName)
            result_.notes.push_back("MDB: volume name of " + std::to_string(volume_.mdbCopy[mdb::kVolumeName]) +
                                    " characters, longer than 27; its first 27 are shown");
        if (volume_.mdb16(mdb::kFreeBlocks) > blockCount())
            problem("MDB: " + std::to_string(volume_.mdb16(mdb::kFreeBlocks)) + " free blocks of " +
                    std::to_string(blockCount()));
        // The descriptor counts the medium in its own blocks (2048 bytes on many CDs), which the
        // device may not have taken up.
        if (volume_.deviceBlockCount != 0 && volume_.allocBlockSize != 0 && volume_.descriptorBlockSize >= kSectorSize &&
            volume_.descriptorBlockSize % kSectorSize == 0) {
            // Only the allocation blocks have to be on the medium: genisoimage ends them at the end
            // of its partition and keeps the alternate MDB inside the last one. On the CDs it
            // masters, the last block may even reach a few sectors past the partition into the
            // image's padding; a locked volume never gives such a block out, so that is noted.
            const uint64_t volumeSectors = uint64_t{allocStart} + uint64_t{blockCount()} * volume_.sectorsPerBlock;
            const uint64_t mediumSectors = uint64_t{volume_.deviceBlockCount} * volume_.descriptorBlockSize / kSectorSize;
            const uint64_t start = volume_.mdbSector - 2;
            if (start + volumeSectors > mediumSectors) {
                const std::string line = "the allocation blocks end at sector " + std::to_string(start + volumeSectors) +
                                         ", past the medium's " + std::to_string(mediumSectors);
                if (locked()) result_.notes.push_back("locked volume: " + line);
                else problem("MDB: " + line);
            }
        }
    }

    // The alternate MDB, the copy that repairs a damaged MDB: what the formatting fixed (the
    // signature, the creation date and the layout of the allocation area) has to agree.
    void checkAlternateMdb() {
        const std::optional<uint32_t> sector = alternateMdbSector(context_);
        if (!sector) {
            result_.notes.push_back("no alternate MDB after the allocation blocks");
            return;
        }
        std::array<uint8_t, kSectorSize> copy{};
        if (ReadSectors(context_.device, *sector, 1, copy.data()) != 0) {
            problem("alternate MDB at sector " + std::to_string(*sector) + ": cannot be read");
            return;
        }
        struct Field {
            size_t offset, width;
            const char* name;
        };
        static constexpr Field kFixed[] = {{mdb::kSignature, 2, "signature"},       {mdb::kCreated, 4, "creation date"},
                                           {mdb::kBitmapStart, 2, "bitmap start"},  {mdb::kAllocBlocks, 2, "allocation blocks"},
                                           {mdb::kAllocBlockSize, 4, "block size"}, {mdb::kAllocStart, 2, "allocation start"}};
        for (const Field& f : kFixed) {
            if (!std::equal(copy.begin() + f.offset, copy.begin() + f.offset + f.width, volume_.mdbCopy.begin() + f.offset))
                problem("alternate MDB at sector " + std::to_string(*sector) + ": " + f.name + " differs from the MDB's");
        }
    }

    // --- the B-trees --------------------------------------------------------------------------

    // Reads node n into `out`; reports readNode's fault when the node breaks the node rules.
    bool loadNode(BTreeFile& tree, uint32_t n, NodeBytes& out) {
        tree.fault.clear();
        const uint8_t* nd = readNode(n, tree);
        if (!nd) {
            problem(tree.fault);
            return false;
        }
        out = tree.node;
        return true;
    }

    // The map bits of the header node and its map nodes; nodes past the map are missing.
    std::vector<bool> readNodeMap(BTreeFile& tree, const NodeBytes& headerNode, uint32_t totalNodes) {
        std::vector<bool> used;
        auto take = [&](const NodeBytes& nd, uint16_t record) {
            const uint16_t from = nodeRecordOffset(nd.data(), record);
            const uint16_t to = nodeRecordOffset(nd.data(), static_cast<uint16_t>(record + 1));
            for (uint16_t byte = from; byte < to && used.size() < totalNodes; ++byte)
                for (int bit = 7; bit >= 0 && used.size() < totalNodes; --bit) used.push_back((nd[byte] >> bit) & 1);
        };
        if (nodeRecordCount(headerNode.data()) <= kHeaderMapRecord) {
            nodeProblem(tree, 0, "header node without a map record");
            return used;
        }
        take(headerNode, kHeaderMapRecord);
        ChainGuard guard(tree.nodeCount());
        guard.visit(0);
        uint32_t next = nodeForwardLink(headerNode.data());
        uint32_t from = 0;
        while (next != 0 && used.size() < totalNodes) {
            if (!guard.visit(next)) {
                nodeProblem(tree, from, "map chain loops back to node " + std::to_string(next));
                break;
            }
            NodeBytes mapNode;
            if (!loadNode(tree, next, mapNode)) break;
            if (nodeType(mapNode.data()) != node::kTypeMap || nodeRecordCount(mapNode.data()) < 1) {
                nodeProblem(tree, next, "map chain reaches a node that is not a map node");
                break;
            }
            take(mapNode, 0);
            mapNodes_.push_back(next);
            from = next;
            next = nodeForwardLink(mapNode.data());
        }
        if (used.size() < totalNodes)
            leftover(std::string(treeName(tree)) + " node 0: the node map covers " + std::to_string(used.size()) + " of " + std::to_string(totalNodes) +
                                     " nodes");
        return used;
    }

    // False when the tree's records could not all be gathered.
    bool checkTree(BTreeFile& tree) {
        bool whole = true;
        mapNodes_.clear();
        NodeBytes head;
        if (!loadNode(tree, 0, head)) return false;
        const uint8_t* h = head.data();
        if (nodeType(h) != node::kTypeHeader) {
            nodeProblem(tree, 0, "not a header node");
            return false;
        }
        const uint16_t nodeSize = loadBE16(h + header::kNodeSize);
        const uint32_t depth = loadBE16(h + header::kDepth);
        const uint32_t root = loadBE32(h + header::kRoot);
        const uint32_t leafRecords = loadBE32(h + header::kLeafRecords);
        const uint32_t firstLeaf = loadBE32(h + header::kFirstLeaf);
        const uint32_t lastLeaf = loadBE32(h + header::kLastLeaf);
        const uint32_t totalNodes = loadBE32(h + header::kTotalNodes);
        const uint32_t freeNodes = loadBE32(h + header::kFreeNodes);
        if (nodeSize != kNodeSize) nodeProblem(tree, 0, "node size " + std::to_string(nodeSize) + " is not 512");
        if (tree.treeSize % kNodeSize != 0)
            problem(std::string(treeName(tree)) + " tree size " + std::to_string(tree.treeSize) + " is not a whole number of nodes");
        if (totalNodes != tree.nodeCount()) {
            const std::string line = std::string(treeName(tree)) + " node 0: header counts " + std::to_string(totalNodes) +
                                     " nodes, the tree holds " + std::to_string(tree.nodeCount());
            if (totalNodes < tree.nodeCount()) leftover(line);
            else problem(line);
        }
        const uint32_t nodes = std::min(totalNodes, tree.nodeCount());
        for (auto [what, n] : {std::pair{"root", root}, std::pair{"first leaf", firstLeaf}, std::pair{"last leaf", lastLeaf}}) {
            if (n >= nodes) {
                nodeProblem(tree, 0, std::string(what) + " " + std::to_string(n) + " lies outside the tree");
                whole = false;
            }
        }

        std::vector<bool> map = readNodeMap(tree, head, nodes);
        const uint32_t usedInMap = static_cast<uint32_t>(std::count(map.begin(), map.end(), true));
        if (map.size() == nodes && freeNodes != nodes - usedInMap)
            leftover(std::string(treeName(tree)) + " node 0: header counts " + std::to_string(freeNodes) + " free nodes, the map " +
                     std::to_string(nodes - usedInMap));

        std::vector<bool> inUse(nodes, false);
        if (nodes > 0) inUse[0] = true;
        for (uint32_t m : mapNodes_) inUse[m] = true;

        if (root == 0) {
            if (depth != 0 || firstLeaf != 0 || lastLeaf != 0 || leafRecords != 0)
                nodeProblem(tree, 0, "an empty tree with depth, leaves or records");
        } else if (root < nodes && firstLeaf < nodes && lastLeaf < nodes) {
            std::vector<uint32_t> indexLeaves;
            uint32_t leafCount = 0;
            walkIndex(tree, root, depth, inUse, indexLeaves, leafCount, whole);
            walkLeaves(tree, firstLeaf, lastLeaf, inUse, indexLeaves);
            if (leafCount != leafRecords)
                nodeProblem(tree, 0, "header counts " + std::to_string(leafRecords) + " leaf records, the leaves hold " +
                                         std::to_string(leafCount));
        }
        uint32_t leaked = 0, firstLeaked = 0;
        for (uint32_t n = 0; n < nodes && n < map.size(); ++n) {
            if (inUse[n] && !map[n]) nodeProblem(tree, n, "in use but free in the node map");
            if (!inUse[n] && map[n]) {
                if (leaked++ == 0) firstLeaked = n;
                if (!cutShortChange()) nodeProblem(tree, n, "marked in use in the node map but not part of the tree");
            }
        }
        if (leaked > 0 && cutShortChange())
            leftover(std::string(treeName(tree)) + ": " + std::to_string(leaked) +
                     " node(s) marked in use in the node map but not part of the tree, the first " + std::to_string(firstLeaked));
        return whole;
    }

    // Descends from the root: every node's height one below its parent's, keys in order in every
    // node, and every index key equal to the first key of the node it leads to.
    // Gathers the records of the leaves it reaches, in key order; clears `whole` when a node on
    // the way cannot be read, so that the records are not compared with each other.
    void walkIndex(BTreeFile& tree, uint32_t root, uint32_t depth, std::vector<bool>& inUse, std::vector<uint32_t>& leaves,
                   uint32_t& records, bool& whole) {
        const bool catalog = tree.isCatalog;
        struct Pending {
            uint32_t node;
            uint32_t height;
            uint32_t parent;
            std::optional<std::string> indexKey;  // the parent's record for this node, as bytes
        };
        std::vector<Pending> stack{{root, depth, 0, std::nullopt}};
        ChainGuard guard(static_cast<uint32_t>(inUse.size()));
        bool rootChecked = false;
        while (!stack.empty()) {
            const Pending p = stack.back();
            stack.pop_back();
            if (!guard.visit(p.node)) {
                nodeProblem(tree, p.parent, "index leads again to node " + std::to_string(p.node));
                whole = false;
                continue;
            }
            NodeBytes nd;
            if (!loadNode(tree, p.node, nd)) {
                whole = false;
                continue;
            }
            inUse[p.node] = true;
            const uint8_t type = nodeType(nd.data());
            const uint32_t height = nd[node::kHeight];
            if (!rootChecked) {
                rootChecked = true;
                if (height != depth)
                    nodeProblem(tree, 0, "depth " + std::to_string(depth) + ", the root's height is " + std::to_string(height));
            } else if (height != p.height) {
                nodeProblem(tree, p.node, "height " + std::to_string(height) + ", expected " + std::to_string(p.height));
            }
            if (type != node::kTypeIndex && type != node::kTypeLeaf) {
                nodeProblem(tree, p.node, "index leads to a node that is neither index nor leaf");
                whole = false;
                continue;
            }
            if ((type == node::kTypeLeaf) != (height == 1)) {
                nodeProblem(tree, p.node, type == node::kTypeLeaf ? "leaf of height " + std::to_string(height)
                                                                  : "index node of height 1");
                whole = false;
                continue;
            }
            const uint16_t count = nodeRecordCount(nd.data());
            if (count == 0) {
                nodeProblem(tree, p.node, "holds no records");
                continue;
            }
            const uint8_t* firstKey = nd.data() + nodeRecordOffset(nd.data(), 0);
            if (p.indexKey) {
                const TreeKey parentKey = keyOf(catalog, reinterpret_cast<const uint8_t*>(p.indexKey->data()));
                if (!(parentKey == keyOf(catalog, firstKey)))
                    nodeProblem(tree, p.parent, "index key for node " + std::to_string(p.node) + " differs from its first key");
            }
            for (uint16_t i = 1; i < count; ++i) {
                const uint8_t* prev = nd.data() + nodeRecordOffset(nd.data(), static_cast<uint16_t>(i - 1));
                const uint8_t* key = nd.data() + nodeRecordOffset(nd.data(), i);
                if (compareKeys(catalog, keyOf(catalog, prev), keyOf(catalog, key)) >= 0)
                    nodeProblem(tree, p.node, "keys out of order at record " + std::to_string(i));
            }
            if (type == node::kTypeLeaf) {
                leaves.push_back(p.node);
                for (uint16_t i = 0; i < count; ++i) {
                    const uint8_t* key = nd.data() + nodeRecordOffset(nd.data(), i);
                    ++records;
                    const size_t length = size_t{nodeRecordOffset(nd.data(), static_cast<uint16_t>(i + 1))} -
                                          nodeRecordOffset(nd.data(), i);
                    if (catalog) takeCatalogRecord(p.node, i, key, length);
                    else takeExtentsRecord(key);
                }
                continue;
            }
            if (height <= 1) continue;
            // Pushed last to first so that the walk meets the children in key order.
            for (uint16_t i = count; i-- > 0;) {
                const uint16_t off = nodeRecordOffset(nd.data(), i);
                const uint16_t end = nodeRecordOffset(nd.data(), static_cast<uint16_t>(i + 1));
                const uint8_t* key = nd.data() + off;
                const uint32_t child = loadBE32(recordData(key));
                if (child == 0 || child >= inUse.size()) {
                    nodeProblem(tree, p.node, "record " + std::to_string(i) + " leads to node " + std::to_string(child) +
                                                  ", outside the tree");
                    whole = false;
                    continue;
                }
                stack.push_back({child, height - 1, p.node, std::string(reinterpret_cast<const char*>(key), end - off)});
            }
        }
    }

    // Follows the leaf chain: links both ways, no loops, the header's first and last leaf, the
    // same leaves as the index, keys ascending from leaf to leaf. Gathers the records.
    void walkLeaves(BTreeFile& tree, uint32_t firstLeaf, uint32_t lastLeaf, std::vector<bool>& inUse,
                    const std::vector<uint32_t>& indexLeaves) {
        const bool catalog = tree.isCatalog;
        ChainGuard guard(static_cast<uint32_t>(inUse.size()));
        std::vector<bool> onChain(inUse.size(), false);
        uint32_t n = firstLeaf;
        uint32_t previous = 0;
        std::optional<NodeBytes> previousNode;
        bool broken = false;
        while (n != 0) {
            if (!guard.visit(n)) {
                nodeProblem(tree, previous, "leaf chain loops back to node " + std::to_string(n));
                broken = true;
                break;
            }
            NodeBytes nd;
            if (!loadNode(tree, n, nd)) {
                broken = true;
                break;
            }
            if (nodeType(nd.data()) != node::kTypeLeaf) {
                nodeProblem(tree, n, "leaf chain reaches a node that is not a leaf");
                broken = true;
                break;
            }
            inUse[n] = true;
            onChain[n] = true;
            const uint32_t back = loadBE32(nd.data() + node::kBLink);
            if (back != previous)
                nodeProblem(tree, n, "backward link " + std::to_string(back) + ", the chain comes from " + std::to_string(previous));
            const uint16_t count = nodeRecordCount(nd.data());
            for (uint16_t i = 0; i < count; ++i) {
                const uint8_t* key = nd.data() + nodeRecordOffset(nd.data(), i);
                const uint8_t* prevKey = nullptr;
                if (i > 0) prevKey = nd.data() + nodeRecordOffset(nd.data(), static_cast<uint16_t>(i - 1));
                else if (previousNode && nodeRecordCount(previousNode->data()) > 0)
                    prevKey = previousNode->data() +
                              nodeRecordOffset(previousNode->data(), static_cast<uint16_t>(nodeRecordCount(previousNode->data()) - 1));
                // Keys within a node were compared on the way down; here the first key of each
                // leaf meets the last of the one before.
                if (i == 0 && prevKey && compareKeys(catalog, keyOf(catalog, prevKey), keyOf(catalog, key)) >= 0)
                    nodeProblem(tree, n, "first key sorts before the last key of node " + std::to_string(previous));
            }
            previous = n;
            previousNode = nd;
            n = nodeForwardLink(nd.data());
        }
        if (previous != lastLeaf)
            nodeProblem(tree, 0, "last leaf " + std::to_string(lastLeaf) + ", the leaf chain ends at " + std::to_string(previous));
        // A chain cut short leaves out every leaf after the cut; the cut itself has been named.
        if (broken) return;
        for (uint32_t leaf : indexLeaves)
            if (!onChain[leaf]) nodeProblem(tree, leaf, "leaf reached from the index is not on the leaf chain");
        std::vector<bool> fromIndex(inUse.size(), false);
        for (uint32_t leaf : indexLeaves) fromIndex[leaf] = true;
        for (uint32_t leaf = 0; leaf < onChain.size(); ++leaf)
            if (onChain[leaf] && !fromIndex[leaf]) nodeProblem(tree, leaf, "leaf on the chain is not reached from the index");
    }

    // --- the catalog's records ----------------------------------------------------------------

    void takeCatalogRecord(uint32_t n, uint16_t index, const uint8_t* key, size_t length) {
        const uint8_t* data = recordData(key);
        const uint32_t parent = catalogKeyParent(key);
        const std::string name(reinterpret_cast<const char*>(key + catkey::kName), catalogKeyNameLength(key));
        const std::string where = "catalog node " + std::to_string(n) + " record " + std::to_string(index);
        switch (data[0]) {
            case catrec::kFolder: {
                const uint32_t id = loadBE32(data + catrec::kDirId);
                if (folders_.count(id) || files_.count(id)) problem(where + ": ID " + std::to_string(id) + " is used twice");
                folders_[id] = FolderInfo{parent, name, loadBE16(data + catrec::kValence), 0};
                ids_.push_back(id);
                children_.push_back({parent, id});
                break;
            }
            case catrec::kFile: {
                const uint32_t id = loadBE32(data + catrec::kFileId);
                if (folders_.count(id) || files_.count(id)) problem(where + ": ID " + std::to_string(id) + " is used twice");
                files_[id] = parent;
                ids_.push_back(id);
                children_.push_back({parent, id});
                forks_.push_back({id, kDataFork, extentRecordAt(data + catrec::kDataExtents), loadBE32(data + catrec::kDataPhysical),
                                  loadBE32(data + catrec::kDataLength)});
                forks_.push_back({id, kResourceFork, extentRecordAt(data + catrec::kRsrcExtents),
                                  loadBE32(data + catrec::kRsrcPhysical), loadBE32(data + catrec::kRsrcLength)});
                break;
            }
            case catrec::kFolderThread:
            case catrec::kFileThread: {
                if (!name.empty()) problem(where + ": thread record with a name in its key");
                const uint8_t len = std::min<uint8_t>(data[catrec::kThreadName], kMaxNameLength);
                ThreadInfo t{data[0], loadBE32(data + catrec::kThreadParentId),
                             std::string(reinterpret_cast<const char*>(data + catrec::kThreadName + 1), len)};
                if (!threads_.emplace(parent, std::move(t)).second)
                    problem(where + ": second thread for ID " + std::to_string(parent));
                if (length - recordDataOffset(key) < catrec::kThreadSize && shortThreads_++ == 0) firstShortThread_ = where;
                break;
            }
            default: break;  // readNode refuses other types
        }
    }

    void checkCatalogContents() {
        // Other tools end a thread record after its name; Mac OS reads it as a whole one.
        if (shortThreads_ > 0)
            result_.notes.push_back(firstShortThread_ + ": thread record shorter than " + std::to_string(catrec::kThreadSize) +
                                    " bytes, holding its whole name" +
                                    (shortThreads_ > 1 ? " (and " + std::to_string(shortThreads_ - 1) + " more)" : ""));
        for (const auto& [id, thread] : threads_) {
            const bool folderThread = thread.type == catrec::kFolderThread;
            auto folder = folders_.find(id);
            if (folderThread && folder == folders_.end()) {
                problem("catalog: thread for folder " + std::to_string(id) + " without a folder record");
            } else if (!folderThread && !files_.count(id)) {
                problem("catalog: thread for file " + std::to_string(id) + " without a file record");
            }
        }
        for (const auto& [id, folder] : folders_) {
            auto thread = threads_.find(id);
            const std::string what = "catalog: folder " + std::to_string(id);
            if (thread == threads_.end() || thread->second.type != catrec::kFolderThread) {
                problem(what + " has no thread");
                continue;
            }
            if (thread->second.parent != folder.parent)
                problem(what + ": its thread names parent " + std::to_string(thread->second.parent) + ", its record lies in " +
                        std::to_string(folder.parent));
            if (thread->second.name != folder.name) problem(what + ": its thread names it otherwise");
        }
        uint32_t rootFiles = 0, rootFolders = 0;
        for (auto [parent, id] : children_) {
            if (parent == kRootDirId) (folders_.count(id) ? rootFolders : rootFiles)++;
            if (auto folder = folders_.find(parent); folder != folders_.end()) {
                ++folder->second.entries;
            } else if (!(parent == kRootParentId && id == kRootDirId)) {
                problem("catalog: " + std::string(folders_.count(id) ? "folder " : "file ") + std::to_string(id) +
                        " lies in folder " + std::to_string(parent) + ", which does not exist");
            }
        }
        if (!folders_.count(kRootDirId)) problem("catalog: no root folder");
        for (const auto& [id, folder] : folders_)
            if (folder.valence != folder.entries)
                problem("catalog: folder " + std::to_string(id) + " has valence " + std::to_string(folder.valence) + " but holds " +
                        std::to_string(folder.entries) + " entries");
        // The root folder is not counted among the volume's folders.
        const uint32_t folderCount = folders_.count(kRootDirId) ? static_cast<uint32_t>(folders_.size() - 1)
                                                                : static_cast<uint32_t>(folders_.size());
        auto count = [&](const char* field, size_t off, bool wide, uint32_t actual) {
            const uint32_t stored = wide ? volume_.mdb32(off) : volume_.mdb16(off);
            if (stored != actual)
                leftover(std::string("MDB: ") + field + " " + std::to_string(stored) + ", the catalog holds " + std::to_string(actual));
        };
        count("file count", mdb::kFileCount, true, static_cast<uint32_t>(files_.size()));
        count("folder count", mdb::kFolderCount, true, folderCount);
        count("root file count", mdb::kRootFiles, false, rootFiles);
        count("root folder count", mdb::kRootFolders, false, rootFolders);
        const uint32_t next = volume_.mdb32(mdb::kNextCatalogId);
        for (uint32_t id : ids_)
            if (id >= next) problem("MDB: next catalog ID " + std::to_string(next) + " is not above ID " + std::to_string(id));
    }

    // --- the extents-overflow records and the allocation bitmap -------------------------------

    void takeExtentsRecord(const uint8_t* key) {
        overflow_[{loadBE32(key + extkey::kFileId), key[extkey::kForkType]}].push_back(
            {loadBE16(key + extkey::kStartBlock), extentRecordAt(key + extkey::kRecordData)});
    }

    bool readBitmap(std::vector<bool>& bitmap) {
        const uint32_t volumeStart = volume_.mdbSector - 2;
        const uint32_t first = volumeStart + volume_.mdb16(mdb::kBitmapStart);
        const uint32_t sectors = (blockCount() + kBitsPerSector - 1) / kBitsPerSector;
        std::array<uint8_t, kNodeSize> buf{};
        for (uint32_t s = 0; s < sectors; ++s) {
            if (ReadSector(context_.device, first + s, buf.data()) != 0) {
                problem("bitmap sector " + std::to_string(first + s) + " cannot be read");
                return false;
            }
            for (uint32_t byte = 0; byte < kNodeSize && bitmap.size() < blockCount(); ++byte)
                for (int bit = 7; bit >= 0 && bitmap.size() < blockCount(); --bit) bitmap.push_back((buf[byte] >> bit) & 1);
        }
        return true;
    }

    // Marks the blocks of one extent as owned by `owner`.
    void claim(const std::string& owner, uint32_t start, uint32_t count, const std::vector<bool>& bitmap) {
        if (count == 0) return;
        if (start >= blockCount() || count > blockCount() - start) {
            problem(owner + ": " + blockRange(start, count) + " run past the volume's " + std::to_string(blockCount()) + " blocks");
            if (start >= blockCount()) return;
            count = blockCount() - start;
        }
        uint32_t freeRun = 0, shared = 0;
        uint32_t firstFree = 0, firstShared = 0;
        size_t otherOwner = 0;
        for (uint32_t b = start; b < start + count; ++b) {
            if (!bitmap[b] && freeRun++ == 0) firstFree = b;
            if (owner_[b] != 0) {
                if (shared++ == 0) {
                    firstShared = b;
                    otherOwner = owner_[b];
                }
            } else {
                owner_[b] = ownerNames_.size();
            }
        }
        if (freeRun == 1) problem(owner + ": " + blockRange(firstFree, 1) + " is free in the bitmap");
        if (freeRun > 1)
            problem(owner + ": " + std::to_string(freeRun) + " of its blocks are free in the bitmap, the first " +
                    std::to_string(firstFree));
        if (shared > 0)
            problem(owner + ": " + blockRange(firstShared, 1) + " also belongs to " + ownerNames_[otherOwner - 1] +
                    (shared > 1 ? " (" + std::to_string(shared) + " blocks shared)" : ""));
    }

    // All extents of one fork: its three, then its overflow records, which must continue it at
    // the fork-relative block where the extents before them end.
    void claimFork(const ForkInfo& fork, const std::vector<bool>& bitmap) {
        const std::string owner = forkName(fork.fileID, fork.fork);
        ownerNames_.push_back(owner);
        uint64_t blocks = 0;
        auto claimRecord = [&](const ExtentRecord& r) {
            for (int i = 0; i < 3; ++i) {
                claim(owner, extentStart(r, i), extentCount(r, i), bitmap);
                blocks += extentCount(r, i);
            }
        };
        claimRecord(fork.extents);
        auto more = overflow_.find({fork.fileID, fork.fork});
        if (more != overflow_.end()) {
            for (const auto& [start, record] : more->second) {
                if (start != blocks)
                    problem("extents: record for " + owner + " starts at fork block " + std::to_string(start) +
                            ", the extents before it end at " + std::to_string(blocks));
                claimRecord(record);
            }
            overflow_.erase(more);
        }
        if (volume_.allocBlockSize != 0 && blocks * volume_.allocBlockSize > fork.physicalLength && fork.fileID == kCatalogFileId)
            leftover(owner + ": physical length " + std::to_string(fork.physicalLength) + ", its extents hold " +
                     std::to_string(blocks * volume_.allocBlockSize) + " bytes");
        else if (volume_.allocBlockSize != 0 && blocks * volume_.allocBlockSize != fork.physicalLength)
            problem(owner + ": physical length " + std::to_string(fork.physicalLength) + ", its extents hold " +
                    std::to_string(blocks * volume_.allocBlockSize) + " bytes");
        if (fork.logicalLength > fork.physicalLength)
            problem(owner + ": logical length " + std::to_string(fork.logicalLength) + " exceeds its physical length " +
                    std::to_string(fork.physicalLength));
    }

    void checkAllocation() {
        std::vector<bool> bitmap;
        if (!readBitmap(bitmap)) return;
        owner_.assign(blockCount(), 0);
        std::vector<ForkInfo> all = forks_;
        all.push_back({kExtentsFileId, kDataFork, extentRecordAt(volume_.mdbCopy.data() + mdb::kExtentsExtents),
                       volume_.mdb32(mdb::kExtentsSize), volume_.mdb32(mdb::kExtentsSize)});
        all.push_back({kCatalogFileId, kDataFork, extentRecordAt(volume_.mdbCopy.data() + mdb::kCatalogExtents),
                       volume_.mdb32(mdb::kCatalogSize), volume_.mdb32(mdb::kCatalogSize)});
        for (const ForkInfo& fork : all) claimFork(fork, bitmap);
        for (const auto& [key, records] : overflow_)
            leftover("extents: " + std::to_string(records.size()) + " record(s) for " + forkName(key.first, key.second) +
                    ", which does not exist");

        uint32_t clear = 0;
        std::vector<std::string> unowned;
        for (uint32_t b = 0; b < blockCount();) {
            if (!bitmap[b]) {
                ++clear;
                ++b;
                continue;
            }
            uint32_t run = 0;
            while (b + run < blockCount() && bitmap[b + run] && owner_[b + run] == 0) ++run;
            if (run == 0) {
                ++b;
                continue;
            }
            unowned.push_back(blockRange(b, run) + (run == 1 ? " is" : " are") + " in use but no fork or tree holds " +
                              (run == 1 ? "it" : "them"));
            b += run;
        }
        // A CD mastering tool marks every block of a volume it writes once as used; on a locked
        // volume those blocks can never be given out, so they are noted, not reported.
        for (std::string& line : unowned) {
            if (locked()) result_.notes.push_back("locked volume: " + line);
            else leftover("bitmap: " + line);
        }
        if (volume_.mdb16(mdb::kFreeBlocks) != clear)
            leftover("MDB: " + std::to_string(volume_.mdb16(mdb::kFreeBlocks)) + " free blocks, the bitmap has " +
                    std::to_string(clear) + " clear");
    }

    const VolumeContext& context_;
    VolumeState& volume_;
    VolumeCheckResult result_;
    std::vector<uint32_t> mapNodes_;

    std::map<uint32_t, FolderInfo> folders_;
    std::map<uint32_t, uint32_t> files_;  // ID -> parent
    std::map<uint32_t, ThreadInfo> threads_;
    size_t shortThreads_ = 0;
    std::string firstShortThread_;
    std::vector<std::pair<uint32_t, uint32_t>> children_;  // (parent, ID) of every folder and file
    std::vector<uint32_t> ids_;
    std::vector<ForkInfo> forks_;
    // Extents-overflow records by (file ID, fork type), in key order (start block ascending).
    std::map<std::pair<uint32_t, uint8_t>, std::vector<std::pair<uint16_t, ExtentRecord>>> overflow_;
    std::vector<size_t> owner_;  // per allocation block: 1 + index into ownerNames_, 0 = none
    std::vector<std::string> ownerNames_;
};

}  // namespace

VolumeCheckResult checkVolume(const VolumeContext& context) {
    if (!context.volume.mounted() || !context.volume.catalog.hasWorkFile())
        return VolumeCheckResult{{"no volume is mounted"}, {}};
    // What the check meets is its own report; the damage the person's commands met stays as it
    // was, that of the extents tree's load too.
    VolumeState& volume = context.volume;
    const auto catalogDamage = volume.catalog.damage, extentsDamage = volume.extents.damage;
    VolumeCheckResult result = Checker(context).run();
    volume.catalog.damage = catalogDamage;
    volume.extents.damage = extentsDamage;
    volume.catalog.damageReported = std::min(volume.catalog.damageReported, catalogDamage.size());
    volume.extents.damageReported = std::min(volume.extents.damageReported, extentsDamage.size());
    return result;
}

}  // namespace quarry
