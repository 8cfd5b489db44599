#pragma once
// The B-trees of an HFS+ volume (catalog, extents overflow, attributes): nodes of 512 to 32768
// bytes read from the tree's fork, each checked where it is read (descriptor, record offsets,
// key lengths), a descent from the root by a key order the caller gives, and a cursor along the
// leaf chain. Every walk remembers the nodes it has visited; a damaged place ends the walk with
// a fault that names the node and record, and is remembered once in the tree's damage list.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/result.h"
#include "hfs/chain_guard.h"
#include "hfsplus/fork.h"

namespace quarry::hfsplus {

struct BTreeHeader {
    uint16_t depth = 0;
    uint32_t root = 0;
    uint32_t leafRecords = 0;
    uint32_t firstLeaf = 0;
    uint32_t lastLeaf = 0;
    uint16_t nodeSize = 0;
    uint16_t maxKeyLength = 0;
    uint32_t totalNodes = 0;
    uint32_t freeNodes = 0;
    uint8_t keyCompareType = 0;
    uint32_t attributes = 0;
};

// A node as read and checked: its descriptor, and where each record's key and data lie.
struct Node {
    struct Place {
        uint16_t key = 0;        // offset of the key (its length field first)
        uint16_t keySize = 0;    // bytes of the key, its length field included
        uint16_t data = 0;
        uint16_t dataSize = 0;
    };
    uint32_t number = 0;
    int8_t kind = 0;
    uint8_t height = 0;
    uint32_t fLink = 0;
    uint32_t bLink = 0;
    std::vector<uint8_t> bytes;
    std::vector<Place> records;  // of index and leaf nodes

    std::span<const uint8_t> key(size_t i) const { return {bytes.data() + records[i].key, records[i].keySize}; }
    std::span<const uint8_t> data(size_t i) const { return {bytes.data() + records[i].data, records[i].dataSize}; }
};

// Where a key lies against the one searched for: negative below it, 0 equal, positive above.
using KeyOrder = std::function<int(std::span<const uint8_t> key)>;

class BTree;

// A place in the leaf records, moved on along the leaf chain.
class LeafCursor {
public:
    bool atEnd() const { return end_; }
    const Node& node() const { return node_; }
    size_t index() const { return index_; }
    std::span<const uint8_t> key() const { return node_.key(index_); }
    std::span<const uint8_t> data() const { return node_.data(index_); }
    // To the next leaf record; at the end of the chain atEnd() turns true.
    Status next();

private:
    friend class BTree;
    LeafCursor(BTree& tree, uint32_t nodeCount) : tree_(&tree), guard_(nodeCount) {}
    Status settle();  // past empty leaves

    BTree* tree_;
    ChainGuard guard_;
    Node node_;
    size_t index_ = 0;
    bool end_ = false;
};

class BTree {
public:
    // Reads and checks the header node. `name` ("catalog", "extents", "attributes") begins every
    // message about the tree.
    static Result<std::unique_ptr<BTree>> open(std::string name, ForkReader fork);

    const std::string& name() const { return name_; }
    const BTreeHeader& header() const { return header_; }
    // Nodes that both the header and the tree's fork hold.
    uint32_t nodeCount() const { return nodeCount_; }
    ForkReader& fork() { return fork_; }

    Result<Node> readNode(uint32_t n);
    // The cursor at the first leaf record whose key is not below the one `order` describes (at
    // the end when there is none).
    Result<LeafCursor> seek(const KeyOrder& order);
    // The cursor at the first record of the first leaf.
    Result<LeafCursor> first();

    // Every place of damage met in this tree, each once, in the order met.
    const std::vector<std::string>& damage() const { return damage_; }
    // Notes a place of damage ("catalog node 17: ...") and returns it as a fault.
    Fault fault(uint32_t node, const std::string& what);
    Fault fault(const std::string& what);

private:
    BTree(std::string name, ForkReader fork) : name_(std::move(name)), fork_(std::move(fork)) {}
    std::string checkNode(Node& node) const;

    std::string name_;
    ForkReader fork_;
    BTreeHeader header_;
    uint32_t nodeCount_ = 0;
    bool bigKeys_ = true;
    bool variableIndexKeys_ = true;
    std::vector<std::string> damage_;
    // Nodes as read and checked: every lookup passes through the same few index nodes from the
    // root, and moving between folders returns to the same leaves; each would otherwise be read
    // from the medium again. Bounded in bytes, so that memory stays flat however large the tree.
    static constexpr size_t kNodeCacheBytes = 2 * 1024 * 1024;
    std::unordered_map<uint32_t, Node> nodeCache_;
};

}  // namespace quarry::hfsplus
