#pragma once
// Node access and the catalog searches. Nodes come from the trees' work files, one 512-byte read
// each; every node is checked once where it is read, and every walk remembers the nodes it has
// visited, so a damaged tree ends a search with a fault instead of a crash or a hang.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "hfs/chain_guard.h"
#include "hfs/name_order.h"
#include "hfs/volume.h"

namespace quarry {

// What findCatalogRecord looks for.
namespace want {
inline constexpr int kAny = -1;       // a folder or a file
inline constexpr int kFolder = 1;
inline constexpr int kFile = 2;
inline constexpr int kThread = 3;     // the thread record of the folder whose ID is parentID
}  // namespace want

inline constexpr uint16_t kAppendIndex = 0xFFFF;

// Reads node n into tree.node, sets nodeNumber = n and recordIndex = 0. Returns the node, or
// nullptr when it cannot be read or breaks the node rules (tree.fault says why).
const uint8_t* readNode(uint32_t n, BTreeFile& tree);
// The node rules readNode applies (offsets ascending and inside the node, each record non-empty
// and sound for its node's type): what node nd breaks, or an empty string when it is sound.
std::string checkNode(const BTreeFile& tree, const uint8_t* nd);
// Records a place of damage: the search's fault, when it has none yet, and the tree's list of
// damage met since the mount, when the place is new. Returns nullptr for convenience.
const uint8_t* treeFault(BTreeFile& tree, std::string text);
// A search starts without the fault of the one before it.
inline void startSearch(BTreeFile& tree) { tree.fault.clear(); }

uint16_t nodeRecordCount(const uint8_t* node);
uint16_t nodeRecordOffset(const uint8_t* node, uint16_t index);
inline uint8_t nodeType(const uint8_t* node) { return node[node::kType]; }
inline uint32_t nodeForwardLink(const uint8_t* node) { return loadBE32(node + node::kFLink); }

// The key of record recordIndex of the catalog's current node, or nullptr past the last record.
const uint8_t* currentRecordKey(BTreeFile& tree);
inline const uint8_t* recordData(const uint8_t* key) { return key + recordDataOffset(key); }
inline uint8_t recordType(const uint8_t* key) { return *recordData(key); }

// Finds a catalog record by name and kind under parentID; leaves it as the catalog's current
// record and returns the current node, or nullptr. A pattern finds the first record that
// matches it in catalog order; a name of "*" matches the first record.
const uint8_t* findCatalogRecord(VolumeState& volume, std::string_view name, int wanted, uint32_t parentID,
                                 NameMatch match = NameMatch::Pattern);
// The leaf in which (parentID, name) lies or would lie, from the index node in tree.node; for a
// pattern, the leaf in which its first match lies or from which the leaf chain reaches it.
const uint8_t* descendIndex(VolumeState& volume, std::string_view name, uint32_t parentID,
                            NameMatch match = NameMatch::Pattern);
// The leaf where (parentID, name) belongs (the name taken as it is, "*" included), with recordIndex set to the record it goes before,
// or kAppendIndex when it goes after the last record of that leaf.
const uint8_t* findInsertPosition(VolumeState& volume, std::string_view name, uint32_t parentID);

// Calls visit with the key of each folder or file record of folder dirID whose name matches
// start, in catalog order, until visit returns false; a pattern that begins with "*" takes
// every entry. False when the walk met a damaged tree (tree.fault says where).
bool walkFolder(VolumeState& volume, uint32_t dirID, const std::function<bool(const uint8_t* key)>& visit,
                std::string_view start = "*", NameMatch match = NameMatch::Pattern);

// Puts the catalog's current node (tree.node) into the change of the volume that is open,
// opening one when none is; the commit (hfs/volume_edit.h) takes it to the medium.
Status writeCatalogNode(BTreeFile& tree);

}  // namespace quarry
