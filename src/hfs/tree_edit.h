#pragma once
// Changing a B-tree (the catalog or the extents-overflow tree) while a change of the volume is
// open. The tree is held whole in memory (BTreeFile::edit): leaf records are inserted and deleted
// in place, and a full leaf is split in two. The index follows each change on the way from the
// leaf to the root: a leaf's new first key, a new leaf after a split (a full index node splits
// in turn, a full root gets a new root above it), a leaf that goes away (an index node left
// empty goes too, a root with one child gives way to it). So every search between two changes
// finds its way, and a change costs a few nodes whatever the size of the tree. Nodes come from and go
// back to the tree's node map (the header node's map record and the map nodes chained after
// it); a tree without a free node grows into newly allocated blocks of the volume.
//
//     if (Status s = insertRecord(context, volume.catalog, key, data, catrec::kFolderSize); !s) ...
//     ... more changes ...
//     flushVolume(context);   // hfs/volume_commit.h: takes the change to the medium

#include <cstdint>
#include <vector>

#include "common/result.h"
#include "hfs/volume.h"

namespace quarry {

// Loads the tree from its work file into memory, where it stays until the volume is mounted
// again, reads its node map and walks its index levels. Does nothing when it is in memory already; a fault when its structure is not sound
// enough to change safely.
Status beginTreeEdit(BTreeFile& tree);
// A node of the tree in memory (nullptr past the end of the tree, or before beginTreeEdit):
// viewNode to read it, editNode to change it (the node is then part of the open change).
const uint8_t* viewNode(const BTreeFile& tree, uint32_t n);
uint8_t* editNode(BTreeFile& tree, uint32_t n);
// Forgets the change: the tree is again what its work file (and the medium) holds.
void abandonTreeEdit(BTreeFile& tree);

// The index and leaf nodes that the tree's index reaches from its root, level by level.
Result<std::vector<uint32_t>> treeNodesInUse(const BTreeFile& tree);
// Stores the node map `used` into a header node and the tree's map nodes (in chain order), whose
// record layout is the tree's.
void renderNodeMap(const BTreeFile& tree, const std::vector<uint8_t>& used, uint8_t* headerNode,
                   const std::vector<uint8_t*>& mapNodes);

// The order of the tree's keys: the catalog's by parent ID and then name in catalog order, the
// extents tree's by file ID, fork type and first allocation block.
int compareTreeKeys(const BTreeFile& tree, const uint8_t* a, const uint8_t* b);

// The leaf and record index where a record with this key is (found) or would be inserted.
struct RecordPlace {
    uint32_t node = 0;
    uint16_t index = 0;
    bool found = false;
};
Result<RecordPlace> locateRecord(BTreeFile& tree, const uint8_t* key);

// Takes a free node, growing the tree when none is left; the node comes back zero-filled.
Result<uint32_t> allocateNode(const VolumeContext& context, BTreeFile& tree);
// Returns node n to the tree's node map and clears it.
void freeNode(BTreeFile& tree, uint32_t n);
// Adds nodes of a newly allocated run to the tree (its size and its node map).
void addTreeNodes(BTreeFile& tree, uint32_t nodes);

// Inserts a leaf record at its sorted place and counts it in the header; a record with the same
// key is refused. key starts with its length byte.
Status insertRecord(const VolumeContext& context, BTreeFile& tree, const uint8_t* key, const uint8_t* data,
                    size_t dataLength);
// Deletes record index of leaf node; a leaf left empty leaves the chain and goes back to the map.
Status deleteRecord(const VolumeContext& context, BTreeFile& tree, uint32_t node, uint16_t index);

}  // namespace quarry
