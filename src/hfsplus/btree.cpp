#include "hfsplus/btree.h"

#include <algorithm>

namespace quarry::hfsplus {

Fault BTree::fault(const std::string& what) {
    std::string text = name_ + " " + what;
    if (std::find(damage_.begin(), damage_.end(), text) == damage_.end()) damage_.push_back(text);
    return Fault{text};
}

Fault BTree::fault(uint32_t node, const std::string& what) { return fault("node " + std::to_string(node) + ": " + what); }

Result<std::unique_ptr<BTree>> BTree::open(std::string name, ForkReader fork) {
    std::unique_ptr<BTree> tree(new BTree(std::move(name), std::move(fork)));
    BTree& t = *tree;
    if (t.fork_.length() < btheader::kMinNodeSize) return t.fault("tree of " + std::to_string(t.fork_.length()) + " bytes is shorter than one node");
    std::vector<uint8_t> head(btheader::kEnd);
    if (Status s = t.fork_.read(0, head); !s) return t.fault("node 0: " + s.fault());
    if (static_cast<int8_t>(head[btnode::kKind]) != btnode::kHeader) return t.fault(0, "not a header node");
    BTreeHeader& h = t.header_;
    h.depth = loadBE16(&head[btheader::kDepth]);
    h.root = loadBE32(&head[btheader::kRoot]);
    h.leafRecords = loadBE32(&head[btheader::kLeafRecords]);
    h.firstLeaf = loadBE32(&head[btheader::kFirstLeaf]);
    h.lastLeaf = loadBE32(&head[btheader::kLastLeaf]);
    h.nodeSize = loadBE16(&head[btheader::kNodeSize]);
    h.maxKeyLength = loadBE16(&head[btheader::kMaxKeyLength]);
    h.totalNodes = loadBE32(&head[btheader::kTotalNodes]);
    h.freeNodes = loadBE32(&head[btheader::kFreeNodes]);
    h.keyCompareType = head[btheader::kKeyCompareType];
    h.attributes = loadBE32(&head[btheader::kAttributes]);
    if (h.nodeSize < btheader::kMinNodeSize || h.nodeSize > btheader::kMaxNodeSize || (h.nodeSize & (h.nodeSize - 1)) != 0)
        return t.fault(0, "node size " + std::to_string(h.nodeSize) + " is not a power of two from 512 to 32768");
    t.bigKeys_ = (h.attributes & btheader::kBigKeys) != 0;
    t.variableIndexKeys_ = (h.attributes & btheader::kVariableIndexKeys) != 0;
    const uint64_t held = t.fork_.length() / h.nodeSize;
    t.nodeCount_ = static_cast<uint32_t>(std::min<uint64_t>(h.totalNodes, held));
    if (h.totalNodes > held)
        t.fault(0, "the header counts " + std::to_string(h.totalNodes) + " nodes, the tree's fork holds " + std::to_string(held));
    Result<Node> node0 = t.readNode(0);
    if (!node0) return Fault{node0.fault()};
    if (h.root >= t.nodeCount_) return t.fault(0, "root node " + std::to_string(h.root) + " lies past the end of the tree");
    return tree;
}

std::string BTree::checkNode(Node& node) const {
    const std::vector<uint8_t>& b = node.bytes;
    const size_t size = b.size();
    node.fLink = loadBE32(&b[btnode::kFLink]);
    node.bLink = loadBE32(&b[btnode::kBLink]);
    node.kind = static_cast<int8_t>(b[btnode::kKind]);
    node.height = b[btnode::kHeight];
    if (node.kind < btnode::kLeaf || node.kind > btnode::kMap) return "unknown node kind " + std::to_string(node.kind);
    const uint16_t count = loadBE16(&b[btnode::kNumRecords]);
    // The offset table holds count + 1 entries (the last gives the free space) at the node's end.
    const size_t tableBytes = 2 * (size_t{count} + 1);
    if (btnode::kDescriptorSize + tableBytes > size)
        return "record count " + std::to_string(count) + " exceeds what the node can hold";
    const size_t tableStart = size - tableBytes;
    std::vector<uint16_t> offsets(size_t{count} + 1);
    for (size_t i = 0; i <= count; ++i) {
        const uint16_t off = loadBE16(&b[size - 2 - 2 * i]);
        if (off < btnode::kDescriptorSize || off > tableStart || (off & 1) != 0 || (i > 0 && off <= offsets[i - 1]))
            return "record " + std::to_string(i) + " offset " + std::to_string(off) + " outside the node";
        offsets[i] = off;
    }
    node.records.clear();
    if (node.kind != btnode::kLeaf && node.kind != btnode::kIndex) return {};
    if (node.height == 0) return "an index or leaf node of height 0";
    node.records.reserve(count);
    const size_t lengthField = bigKeys_ ? 2 : 1;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = offsets[i];
        const size_t len = size_t{offsets[i + 1]} - at;
        // Made only for a message: a sound node, the usual case, never needs it.
        const auto where = [i] { return "record " + std::to_string(i) + ": "; };
        if (len < lengthField) return where() + "shorter than its key length";
        const size_t keyLength = bigKeys_ ? loadBE16(&b[at]) : b[at];
        if (keyLength > header_.maxKeyLength)
            return where() + "key length " + std::to_string(keyLength) + " exceeds the tree's maximum of " +
                   std::to_string(header_.maxKeyLength);
        size_t keySpace = lengthField + keyLength;
        // Index keys of the extents tree all take the maximum length, whatever their own says.
        if (node.kind == btnode::kIndex && !variableIndexKeys_) keySpace = lengthField + header_.maxKeyLength;
        size_t dataAt = keySpace;
        if (!bigKeys_) dataAt = (dataAt + 1) & ~size_t{1};  // one-byte key lengths pad the key to an even length
        if (dataAt > len || lengthField + keyLength > len) return where() + "key longer than its record";
        const size_t dataSize = len - dataAt;
        if (node.kind == btnode::kIndex && dataSize < 4) return where() + "index record without a child pointer";
        node.records.push_back({static_cast<uint16_t>(at), static_cast<uint16_t>(lengthField + keyLength),
                                static_cast<uint16_t>(at + dataAt), static_cast<uint16_t>(dataSize)});
    }
    return {};
}

Result<Node> BTree::readNode(uint32_t n) {
    if (n >= nodeCount_) return fault(n, "past the end of the tree (" + std::to_string(nodeCount_) + " nodes)");
    if (auto cached = nodeCache_.find(n); cached != nodeCache_.end()) return cached->second;
    Node node;
    node.number = n;
    node.bytes.resize(header_.nodeSize);
    if (Status s = fork_.read(uint64_t{n} * header_.nodeSize, node.bytes); !s) return fault(n, s.fault());
    if (std::string what = checkNode(node); !what.empty()) return fault(n, what);
    if (node.kind == btnode::kIndex || node.kind == btnode::kLeaf) {
        if ((nodeCache_.size() + 1) * header_.nodeSize > kNodeCacheBytes) nodeCache_.clear();
        nodeCache_.emplace(n, node);
    }
    return node;
}

Result<LeafCursor> BTree::first() {
    LeafCursor cursor(*this, nodeCount_);
    if (header_.firstLeaf == 0) {
        cursor.end_ = true;
        return cursor;
    }
    if (!cursor.guard_.visit(header_.firstLeaf)) return fault(0, "first leaf " + std::to_string(header_.firstLeaf) + " lies past the end of the tree");
    Result<Node> leaf = readNode(header_.firstLeaf);
    if (!leaf) return Fault{leaf.fault()};
    if (leaf->kind != btnode::kLeaf) return fault(header_.firstLeaf, "the header's first leaf is not a leaf");
    cursor.node_ = std::move(*leaf);
    if (Status s = cursor.settle(); !s) return Fault{s.fault()};
    return cursor;
}

Result<LeafCursor> BTree::seek(const KeyOrder& order) {
    LeafCursor cursor(*this, nodeCount_);
    if (header_.root == 0) {  // an empty tree
        cursor.end_ = true;
        return cursor;
    }
    ChainGuard descent(nodeCount_);
    uint32_t n = header_.root;
    std::optional<Node> parent;
    while (true) {
        if (!descent.visit(n))
            return fault(parent ? parent->number : 0, "index leads back to node " + std::to_string(n));
        Result<Node> node = readNode(n);
        if (!node) return Fault{node.fault()};
        if (node->kind != btnode::kLeaf && node->kind != btnode::kIndex)
            return fault(n, "reached by the index, but neither an index nor a leaf node");
        // Each level down is one lower: a pointer back up or across is damage, and the height
        // bounds the descent.
        if (parent && node->height >= parent->height)
            return fault(parent->number, "index leads to node " + std::to_string(n) + " of height " +
                                             std::to_string(node->height) + ", not below its own " +
                                             std::to_string(parent->height));
        if (node->kind == btnode::kLeaf) {
            cursor.node_ = std::move(*node);
            break;
        }
        if (node->records.empty()) return fault(n, "empty index node");
        size_t pick = 0;
        for (size_t i = 0; i < node->records.size(); ++i) {
            if (order(node->key(i)) > 0) break;
            pick = i;
        }
        n = loadBE32(node->data(pick).data());
        parent = std::move(*node);
    }
    cursor.guard_.visit(cursor.node_.number);
    while (cursor.index_ < cursor.node_.records.size() && order(cursor.key()) < 0) ++cursor.index_;
    if (Status s = cursor.settle(); !s) return Fault{s.fault()};
    // A leaf that ends before the searched key leaves the cursor on the next leaf's first record,
    // which is where the key would be.
    return cursor;
}

Status LeafCursor::settle() {
    while (!end_ && index_ >= node_.records.size()) {
        const uint32_t next = node_.fLink;
        if (next == 0) {
            end_ = true;
            break;
        }
        if (!guard_.visit(next)) return tree_->fault(node_.number, "leaf chain loops back to node " + std::to_string(next));
        Result<Node> n = tree_->readNode(next);
        if (!n) return Fault{n.fault()};
        if (n->kind != btnode::kLeaf) return tree_->fault(next, "the leaf chain reaches a node that is not a leaf");
        node_ = std::move(*n);
        index_ = 0;
    }
    return Status::ok();
}

Status LeafCursor::next() {
    if (end_) return Status::ok();
    ++index_;
    return settle();
}

}  // namespace quarry::hfsplus
