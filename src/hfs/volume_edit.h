#pragma once
// Changing a writable volume: the volume bitmap and its allocation, the catalog records that the
// changing commands insert, delete and rename, and the extents-overflow records.
//
// A change opens with its first step (loadVolumeBitmap, or the first catalog change) and holds
// everything in memory: the trees (hfs/tree_edit.h), the bitmap and the MDB, until flushVolume
// (hfs/volume_commit.h) takes it to the medium or discardVolumeChange forgets it.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "hfs/volume.h"

namespace quarry {

// A run of allocation blocks.
struct BlockRun {
    uint16_t start = 0;
    uint16_t count = 0;
};

// The Macintosh time of the local wall clock now (HFS keeps the wall-clock time of the machine
// that wrote it).
uint32_t macTimeNow();
// The same for a PC time (a file's date), held to what HFS can keep (1904 to 2040).
uint32_t macTimeOf(std::time_t t);

// Opens a change of the volume when none is open: the MDB as the medium holds it is kept.
void beginVolumeChange(VolumeState& volume);
bool volumeChangeOpen(const VolumeState& volume);

// The first sector of the volume bitmap.
uint32_t bitmapFirstSector(const VolumeState& volume);
// "write error at sector N (status S)", or that the medium is write-protected.
std::string statusReason(uint16_t status, uint32_t sector, const char* doing);

// Reads the volume bitmap into memory for the change that is open (opening one).
Status loadVolumeBitmap(const VolumeContext& context);
// A block freed by the open change stays taken until the change is on the medium: until then
// the medium's catalog may still give it to a file.
bool blockTaken(const VolumeState& volume, uint32_t block);
// First-fit allocation of count blocks from block 40 on, in the loaded bitmap: a shorter free
// run is accepted when it holds at least `shortest` blocks. Marks the blocks used; the MDB's
// free block count is the caller's. Nothing when no run is found.
std::optional<BlockRun> allocateBlocks(VolumeState& volume, uint32_t count, uint32_t shortest = 10);
// The blocks of a file's fork: the first run of count free blocks from block 0 on, or when the
// volume has none that long, its free runs in order until count are found. Nothing, and nothing
// marked, when fewer blocks are free. Marks the blocks used; the MDB's count is the caller's.
std::optional<std::vector<BlockRun>> allocateForkBlocks(VolumeState& volume, uint32_t count);
// Clears the bits of a run; returns how many were set (those are the blocks freed).
uint32_t freeBlocks(VolumeState& volume, BlockRun run);

// Grows a tree that has no free node: about twice its size more, or what the volume still has,
// recorded in the MDB's extents of the tree or, for the catalog, in the extents tree. Given a
// number of nodes, it grows by about that many instead.
Status extendTree(const VolumeContext& context, BTreeFile& tree, uint32_t nodes = 0);
// Loads the extents tree for the open change (the catalog is loaded at the mount).
Status beginExtentsEdit(const VolumeContext& context);
// Records one more extent of a fork in the extents tree, in the last record of the fork when it
// has an empty slot there, else in a new record at its sorted place.
Status addExtentRecord(const VolumeContext& context, BlockRun extent, uint32_t fileID, uint16_t startBlock,
                       uint8_t forkType);
// Frees the blocks of every extent of a fork that the extents tree holds and deletes its
// records; returns the blocks freed.
Result<uint32_t> removeExtentRecords(const VolumeContext& context, uint32_t fileID, uint8_t forkType);

// The catalog's records. key starts with its length byte; insertions go to the key's sorted
// place (hfs/name_order.h), and a key already in the catalog is refused.
Status insertCatalogRecord(const VolumeContext& context, const uint8_t* key, const uint8_t* data, size_t length);
Status insertThreadRecord(const VolumeContext& context, const uint8_t* key, const uint8_t* data);
// Deletes the catalog's current record (as findCatalogRecord left it).
Status deleteCurrentRecord(const VolumeContext& context);
// Gives the current record a new name (Macintosh characters, at most 31), keeping its data.
Status renameRecord(const VolumeContext& context, std::string_view newName);

// The sector of the alternate MDB, the volume's second-to-last: from the partition map entry,
// or for a volume without one, where the alternate MDB lies after the allocation area. Nothing
// when neither gives a sector past the allocation blocks.
std::optional<uint32_t> alternateMdbSector(const VolumeContext& context);

// Forgets the change that is open: trees, bitmap and MDB are what the medium holds.
void discardVolumeChange(VolumeState& volume);

}  // namespace quarry
