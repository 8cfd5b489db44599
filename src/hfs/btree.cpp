#include "hfs/btree.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "hfs/name_order.h"
#include "hfs/tree_edit.h"

namespace quarry {
namespace {

const char* treeName(const BTreeFile& tree) { return tree.isCatalog ? "catalog" : "extents"; }

std::string nodeFault(const BTreeFile& tree, uint32_t n, const std::string& what) {
    return std::string(treeName(tree)) + " node " + std::to_string(n) + ": " + what;
}

size_t minimumCatalogData(uint8_t type) {
    switch (type) {
        case catrec::kFolder: return catrec::kFolderSize;
        case catrec::kFile: return catrec::kFileSize;
        // Mac OS reads a thread's name by its length byte; other tools write no more than that.
        case catrec::kFolderThread:
        case catrec::kFileThread: return catrec::kThreadName + 1;
        default: return 0;
    }
}

// Checks one record of a leaf or index node; returns an empty string when it is sound.
std::string checkRecord(const BTreeFile& tree, const uint8_t* rec, size_t len, uint8_t type) {
    const size_t keyLen = rec[0];
    if (keyLen + 1 > len) return "key longer than its record";
    const size_t dataOff = (keyLen + 2) & ~size_t{1};
    if (!tree.isCatalog) {
        if (keyLen != extkey::kKeyLengthValue) return "extents key length " + std::to_string(keyLen);
        const size_t need = type == node::kTypeLeaf ? kExtentRecordSize : 4;
        if (need > len - std::min(len, dataOff) || dataOff > len) return "record too short for its data";
        return {};
    }
    if (keyLen < catkey::kMinKeyLength) return "catalog key length " + std::to_string(keyLen);
    const size_t nameLen = rec[catkey::kNameLength];
    if (nameLen > kMaxNameLength || nameLen > keyLen - catkey::kMinKeyLength)
        return "name length " + std::to_string(nameLen) + " does not fit its key";
    if (type == node::kTypeIndex) {
        if (dataOff > len || len - dataOff < 4) return "index record without a child pointer";
        return {};
    }
    if (dataOff >= len) return "record without data";
    const uint8_t recType = rec[dataOff];
    const size_t need = minimumCatalogData(recType);
    if (need == 0) return "unknown record type " + std::to_string(recType);
    if (need > len - dataOff) return "record of type " + std::to_string(recType) + " too short";
    if (recType == catrec::kFolderThread || recType == catrec::kFileThread) {
        const size_t nameLen = rec[dataOff + catrec::kThreadName];
        if (nameLen > kMaxNameLength) return "thread name too long";
        if (need + nameLen > len - dataOff) return "thread record too short for its name";
    }
    return {};
}

bool keyNameEmpty(const uint8_t* key) { return key[catkey::kNameLength] == 0; }

}  // namespace

std::string checkNode(const BTreeFile& tree, const uint8_t* nd) {
    const uint8_t type = nd[node::kType];
    if (type != node::kTypeIndex && type != node::kTypeHeader && type != node::kTypeMap && type != node::kTypeLeaf)
        return "unknown node type " + std::to_string(type);
    const uint16_t count = loadBE16(nd + node::kNumRecords);
    // The offset table holds count + 1 entries (the last gives the free space) at the node's end.
    const size_t tableBytes = 2 * (size_t{count} + 1);
    if (node::kFirstRecord + tableBytes > kNodeSize)
        return "record count " + std::to_string(count) + " exceeds what the node can hold";
    const size_t tableStart = kNodeSize - tableBytes;
    uint16_t prev = 0;
    for (uint16_t i = 0; i <= count; ++i) {
        const uint16_t off = loadBE16(nd + kNodeSize - 2 - 2 * size_t{i});
        if (off < node::kFirstRecord || off > tableStart || (off & 1) != 0 || (i > 0 && off <= prev))
            return "record " + std::to_string(i) + " offset " + std::to_string(off) + " outside the node";
        prev = off;
    }
    if (type != node::kTypeLeaf && type != node::kTypeIndex) return {};
    for (uint16_t i = 0; i < count; ++i) {
        const uint16_t off = nodeRecordOffset(nd, i);
        const uint16_t next = nodeRecordOffset(nd, static_cast<uint16_t>(i + 1));
        std::string fault = checkRecord(tree, nd + off, size_t{next} - off, type);
        if (!fault.empty()) return "record " + std::to_string(i) + ": " + fault;
    }
    return {};
}

const uint8_t* treeFault(BTreeFile& tree, std::string text) {
    if (std::find(tree.damage.begin(), tree.damage.end(), text) == tree.damage.end()) tree.damage.push_back(text);
    if (tree.fault.empty()) tree.fault = std::move(text);
    return nullptr;
}

uint16_t nodeRecordCount(const uint8_t* nd) { return loadBE16(nd + node::kNumRecords); }

uint16_t nodeRecordOffset(const uint8_t* nd, uint16_t index) {
    return loadBE16(nd + kNodeSize - 2 - 2 * size_t{index});
}

const uint8_t* readNode(uint32_t n, BTreeFile& tree) {
    tree.nodeNumber = n;
    tree.recordIndex = 0;
    if (!tree.hasWorkFile()) return treeFault(tree, std::string(treeName(tree)) + " tree is not loaded");
    if (n >= tree.nodeCount())
        return treeFault(tree, nodeFault(tree, n, "past the end of the tree (" + std::to_string(tree.nodeCount()) + " nodes)"));
    const ssize_t got = tree.inMemory()
                            ? (std::memcpy(tree.node.data(), tree.edit.data() + size_t{n} * kNodeSize, kNodeSize),
                               static_cast<ssize_t>(kNodeSize))
                            : pread(tree.workFile, tree.node.data(), kNodeSize, static_cast<off_t>(n) * kNodeSize);
    if (got != static_cast<ssize_t>(kNodeSize)) {
        tree.node.fill(0);
        return treeFault(tree, nodeFault(tree, n, got < 0 ? std::strerror(errno) : "short read of the work file"));
    }
    std::string fault = checkNode(tree, tree.node.data());
    if (!fault.empty()) {
        // A damaged node must not be taken for a sound one by a later search.
        tree.node.fill(0);
        return treeFault(tree, nodeFault(tree, n, fault));
    }
    return tree.node.data();
}

const uint8_t* currentRecordKey(BTreeFile& tree) {
    const uint8_t* nd = tree.node.data();
    if (tree.recordIndex >= nodeRecordCount(nd)) return nullptr;
    return nd + nodeRecordOffset(nd, tree.recordIndex);
}

const uint8_t* descendIndex(VolumeState& volume, std::string_view name, uint32_t parentID, NameMatch match) {
    BTreeFile& tree = volume.catalog;
    ChainGuard guard(tree.nodeCount());
    guard.visit(tree.nodeNumber);
    std::string searched(name);
    // A pattern may match several records; the first of them can lie in the child before the
    // first index key that matches, so a matching key sends the descent one child to the left.
    const bool pattern = match == NameMatch::Pattern && searched.find('*') != std::string::npos;
    while (true) {
        const uint8_t* nd = tree.node.data();
        if (nodeType(nd) == node::kTypeLeaf) return nd;
        if (nodeType(nd) != node::kTypeIndex)
            return treeFault(tree, nodeFault(tree, tree.nodeNumber, "index entry leads to a node that is neither index nor leaf"));
        const uint16_t count = nodeRecordCount(nd);
        if (count == 0) return treeFault(tree, nodeFault(tree, tree.nodeNumber, "empty index node"));

        auto childOf = [&](uint16_t i) {
            const uint8_t* key = nd + nodeRecordOffset(nd, i);
            return loadBE32(recordData(key));
        };
        uint32_t child = childOf(static_cast<uint16_t>(count - 1));
        for (uint16_t i = 0; i < count; ++i) {
            const uint8_t* key = nd + nodeRecordOffset(nd, i);
            const uint32_t parent = catalogKeyParent(key);
            const uint16_t previous = i == 0 ? 0 : static_cast<uint16_t>(i - 1);
            if (parent < parentID) continue;
            if (parent > parentID) {
                child = childOf(previous);
                break;
            }
            const int cmp = compareRecordName(searched, key, match);
            if (cmp > 0) continue;
            child = cmp == 0 && !pattern ? childOf(i) : childOf(previous);
            break;
        }
        if (!guard.visit(child))
            return treeFault(tree, nodeFault(tree, tree.nodeNumber, "index leads back to node " + std::to_string(child)));
        if (!readNode(child, tree)) return nullptr;
    }
}

const uint8_t* findCatalogRecord(VolumeState& volume, std::string_view name, int wanted, uint32_t parentID,
                                 NameMatch match) {
    BTreeFile& tree = volume.catalog;
    startSearch(tree);
    std::string searched(name);
    const bool hasStar = match == NameMatch::Pattern && searched.find('*') != std::string::npos;
    const uint32_t root = loadBE32(tree.header.data() + header::kRoot);
    if (root == 0) return nullptr;  // an empty tree
    const uint8_t* nd = readNode(root, tree);
    if (!nd) return nullptr;
    if (nodeType(nd) != node::kTypeLeaf) {
        nd = descendIndex(volume, searched, parentID, match);
        if (!nd) return nullptr;
    }
    ChainGuard guard(tree.nodeCount());
    guard.visit(tree.nodeNumber);
    while (true) {
        const uint16_t count = nodeRecordCount(nd);
        for (uint16_t i = 0; i < count; ++i) {
            const uint8_t* key = nd + nodeRecordOffset(nd, i);
            const uint32_t parent = catalogKeyParent(key);
            if (parent > parentID) return nullptr;
            if (parent < parentID) continue;
            const bool named = !keyNameEmpty(key);
            if (!hasStar && named &&
                catalogRank(static_cast<uint8_t>(searched.empty() ? 0 : searched[0])) < catalogRank(key[catkey::kName]))
                return nullptr;
            tree.recordIndex = i;
            const uint8_t type = recordType(key);
            if (type == catrec::kFolderThread) {
                if (wanted == want::kThread) return nd;
                continue;
            }
            if (!named || compareRecordName(searched, key, match) != 0) continue;
            const bool isEntry = type == catrec::kFolder || type == catrec::kFile;
            if ((wanted == want::kAny && isEntry) ||
                ((wanted == want::kFolder || wanted == want::kFile) && wanted == type))
                return nd;
        }
        const uint32_t next = nodeForwardLink(nd);
        if (next == 0) return nullptr;
        if (!guard.visit(next))
            return treeFault(tree, nodeFault(tree, tree.nodeNumber, "leaf chain loops back to node " + std::to_string(next)));
        nd = readNode(next, tree);
        if (!nd) return nullptr;
        if (nodeType(nd) != node::kTypeLeaf)
            return treeFault(tree, nodeFault(tree, next, "leaf chain reaches a node that is not a leaf"));
    }
}

const uint8_t* findInsertPosition(VolumeState& volume, std::string_view name, uint32_t parentID) {
    BTreeFile& tree = volume.catalog;
    startSearch(tree);
    std::string searched(name);
    const uint32_t root = loadBE32(tree.header.data() + header::kRoot);
    if (root == 0) return treeFault(tree, "catalog tree has no root node");
    if (parentID == kRootParentId) {
        // The root folder's own record, whose parent is 1, is the first leaf record.
        return readNode(loadBE32(tree.header.data() + header::kFirstLeaf), tree);
    }
    const uint8_t* nd = readNode(root, tree);
    if (!nd) return nullptr;
    if (nodeType(nd) != node::kTypeLeaf) {
        nd = descendIndex(volume, searched, parentID, NameMatch::Exact);
        if (!nd) return nullptr;
    }
    bool reached = false;
    const uint16_t count = nodeRecordCount(nd);
    for (uint16_t i = 0; i < count; ++i) {
        tree.recordIndex = i;
        const uint8_t* key = nd + nodeRecordOffset(nd, i);
        if (catalogKeyParent(key) == parentID) {
            if (compareRecordName(searched, key, NameMatch::Exact) < 0) return nd;
            reached = true;
        } else if (reached) {
            return nd;
        }
    }
    tree.recordIndex = kAppendIndex;
    return nd;
}

bool walkFolder(VolumeState& volume, uint32_t dirID, const std::function<bool(const uint8_t* key)>& visit,
                std::string_view start, NameMatch match) {
    BTreeFile& tree = volume.catalog;
    // The walk begins where the index says the first match lies, so that a damaged leaf before
    // it in the chain does not hide it. A pattern's matches are neighbours in catalog order:
    // the first entry past them ends the walk.
    std::string wanted(start);
    const bool everything = match == NameMatch::Pattern && !wanted.empty() && wanted.front() == '*';
    if (!findCatalogRecord(volume, wanted, want::kAny, dirID, match))
        return tree.fault.empty();
    ChainGuard guard(tree.nodeCount());
    guard.visit(tree.nodeNumber);
    while (true) {
        const uint8_t* key = currentRecordKey(tree);
        if (!key) {
            const uint32_t next = nodeForwardLink(tree.node.data());
            if (next == 0) return true;
            if (!guard.visit(next)) {
                treeFault(tree, "catalog node " + std::to_string(tree.nodeNumber) + ": leaf chain loops back to node " +
                                    std::to_string(next));
                return false;
            }
            if (!readNode(next, tree)) return false;
            if (nodeType(tree.node.data()) != node::kTypeLeaf) {
                treeFault(tree, "catalog node " + std::to_string(next) + ": leaf chain reaches a node that is not a leaf");
                return false;
            }
            continue;
        }
        ++tree.recordIndex;
        if (catalogKeyParent(key) != dirID) return true;
        const uint8_t type = recordType(key);
        if (type != catrec::kFolder && type != catrec::kFile) continue;
        if (!everything && compareRecordName(wanted, key, match) != 0) return true;
        if (!visit(key)) return true;
    }
}

Status writeCatalogNode(BTreeFile& tree) {
    // A change to the catalog joins the change of the volume that is open, or opens one; it
    // reaches the work file and the medium when that change is committed.
    if (Status s = beginTreeEdit(tree); !s) return s;
    uint8_t* nd = editNode(tree, tree.nodeNumber);
    if (!nd) return Fault{"catalog node " + std::to_string(tree.nodeNumber) + ": past the end of the tree"};
    std::memcpy(nd, tree.node.data(), kNodeSize);
    return Status::ok();
}

}  // namespace quarry
