#pragma once
// Byte layouts of the HFS B-tree nodes, keys and records, as offsets from the start of each
// structure. Names follow the format's own documentation.

#include <cstddef>
#include <cstdint>

#include "hfs/byte_order.h"
#include "volume/volume_entry.h"

namespace quarry {

inline constexpr size_t kNodeSize = 512;
inline constexpr size_t kMaxNameLength = 31;

// Node descriptor, at the start of every node.
namespace node {
inline constexpr size_t kFLink = 0;        // ndFLink: next node at this level, 0 = none
inline constexpr size_t kBLink = 4;        // ndBLink: previous node at this level
inline constexpr size_t kType = 8;         // ndType
inline constexpr size_t kHeight = 9;       // ndNHeight: 1 for leaves
inline constexpr size_t kNumRecords = 10;  // ndNRecs
inline constexpr size_t kFirstRecord = 14;
inline constexpr uint8_t kTypeIndex = 0x00;
inline constexpr uint8_t kTypeHeader = 0x01;
inline constexpr uint8_t kTypeMap = 0x02;
inline constexpr uint8_t kTypeLeaf = 0xFF;
}  // namespace node

// Header record of node 0.
namespace header {
inline constexpr size_t kDepth = 14;       // bthDepth
inline constexpr size_t kRoot = 16;        // bthRoot
inline constexpr size_t kLeafRecords = 20; // bthNRecs
inline constexpr size_t kFirstLeaf = 24;   // bthFNode
inline constexpr size_t kLastLeaf = 28;    // bthLNode
inline constexpr size_t kNodeSize = 32;    // bthNodeSize
inline constexpr size_t kMaxKeyLen = 34;   // bthKeyLen
inline constexpr size_t kTotalNodes = 36;  // bthNNodes
inline constexpr size_t kFreeNodes = 40;   // bthFree
inline constexpr size_t kMap = 248;        // node allocation bitmap
}  // namespace header

// Catalog key.
namespace catkey {
inline constexpr size_t kKeyLength = 0;  // ckrKeyLen, not counting itself
inline constexpr size_t kParentId = 2;   // ckrParID
inline constexpr size_t kNameLength = 6;
inline constexpr size_t kName = 7;
inline constexpr uint8_t kMinKeyLength = 6;
}  // namespace catkey

// Catalog record data, after the key.
namespace catrec {
inline constexpr uint8_t kFolder = 1;
inline constexpr uint8_t kFile = 2;
inline constexpr uint8_t kFolderThread = 3;
inline constexpr uint8_t kFileThread = 4;

inline constexpr size_t kFolderSize = 70;
inline constexpr size_t kFileSize = 102;
inline constexpr size_t kThreadSize = 46;

// folder record
inline constexpr size_t kValence = 4;        // dirVal
inline constexpr size_t kDirId = 6;          // dirDirID
inline constexpr size_t kDirCreated = 10;    // dirCrDat
inline constexpr size_t kDirModified = 14;   // dirMdDat
// file record
inline constexpr size_t kFileFlags = 2;      // filFlags
inline constexpr uint8_t kFileLocked = 0x01; // filFlags: the file is locked
inline constexpr size_t kFinderInfo = 4;     // filUsrWds: type at 4, creator at 8
inline constexpr size_t kFileType = 4;
inline constexpr size_t kFileCreator = 8;
inline constexpr size_t kFileId = 20;        // filFlNum
inline constexpr size_t kDataLength = 26;    // filLgLen
inline constexpr size_t kDataPhysical = 30;  // filPyLen
inline constexpr size_t kRsrcLength = 36;    // filRLgLen
inline constexpr size_t kRsrcPhysical = 40;  // filRPyLen
inline constexpr size_t kFileCreated = 44;   // filCrDat
inline constexpr size_t kFileModified = 48;  // filMdDat
inline constexpr size_t kDataExtents = 74;   // filExtRec
inline constexpr size_t kRsrcExtents = 86;   // filRExtRec
// thread record
inline constexpr size_t kThreadParentId = 10;  // thdParID
inline constexpr size_t kThreadName = 14;      // thdCName: length byte, then the name
}  // namespace catrec

// Extents-overflow key and record.
namespace extkey {
inline constexpr size_t kKeyLength = 0;   // xkrKeyLen, always 7
inline constexpr size_t kForkType = 1;    // xkrFkType
inline constexpr size_t kFileId = 2;      // xkrFNum
inline constexpr size_t kStartBlock = 6;  // xkrFABN
inline constexpr size_t kRecordData = 8;
inline constexpr uint8_t kKeyLengthValue = 7;
}  // namespace extkey

inline constexpr size_t kExtentRecordSize = 12;
inline constexpr uint8_t kDataFork = 0x00;
inline constexpr uint8_t kResourceFork = 0xFF;


inline constexpr uint32_t kExtentsFileId = 3;
inline constexpr uint32_t kCatalogFileId = 4;

inline size_t catalogKeyNameLength(const uint8_t* key) {
    const size_t len = key[catkey::kNameLength];
    return len > kMaxNameLength ? kMaxNameLength : len;
}
inline uint32_t catalogKeyParent(const uint8_t* key) { return loadBE32(key + catkey::kParentId); }

// Offset of a record's data from the start of its key: after the key-length byte and the key,
// rounded up to an even offset.
inline size_t recordDataOffset(const uint8_t* key) { return (size_t{key[0]} + 2) & ~size_t{1}; }

}  // namespace quarry
