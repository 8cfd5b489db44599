#pragma once
// The on-disk layout of HFS+ and HFSX, as Apple publishes it (TN1150 and hfs_format.h): offsets
// of the fields this reader uses, each glossed once. Every integer is big-endian.

#include <cstddef>
#include <cstdint>

#include "hfs/byte_order.h"

namespace quarry::hfsplus {

inline uint64_t loadBE64(const uint8_t* p) { return (uint64_t{loadBE32(p)} << 32) | loadBE32(p + 4); }
// The journal alone is written in the byte order of the Mac that wrote it, which may be this one.
inline uint16_t loadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t loadLE32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
inline uint64_t loadLE64(const uint8_t* p) { return uint64_t{loadLE32(p)} | uint64_t{loadLE32(p + 4)} << 32; }

// Seconds from 1904-01-01 to 1970-01-01: HFS+ dates count from 1904, in UTC.
inline constexpr int64_t kMacEpochToUnix = 2082844800;

// The volume header, at byte 1024 of the volume (HFSPlusVolumeHeader).
namespace vh {
inline constexpr uint64_t kOffset = 1024;
inline constexpr size_t kSize = 512;
inline constexpr size_t kSignature = 0;         // 'H+' or 'HX'
inline constexpr size_t kVersion = 2;           // 4 for HFS+, 5 for HFSX
inline constexpr size_t kAttributes = 4;
inline constexpr uint32_t kUnmountedBit = 1u << 8;    // kHFSVolumeUnmountedBit
inline constexpr uint32_t kJournaledBit = 1u << 13;   // kHFSVolumeJournaledBit
inline constexpr uint32_t kSoftwareLockBit = 1u << 15;
inline constexpr size_t kLastMountedVersion = 8;
inline constexpr size_t kJournalInfoBlock = 12; // allocation block of the JournalInfoBlock
inline constexpr size_t kCreateDate = 16;       // local time, unlike every other HFS+ date
inline constexpr size_t kModifyDate = 20;
inline constexpr size_t kBackupDate = 24;
inline constexpr size_t kCheckedDate = 28;
inline constexpr size_t kFileCount = 32;
inline constexpr size_t kFolderCount = 36;
inline constexpr size_t kBlockSize = 40;        // allocation block size in bytes
inline constexpr size_t kTotalBlocks = 44;
inline constexpr size_t kFreeBlocks = 48;
inline constexpr size_t kNextCatalogId = 64;    // nextCatalogID
inline constexpr size_t kWriteCount = 68;
inline constexpr size_t kEncodingsBitmap = 72;  // 64 bits: the text encodings names were written in
inline constexpr size_t kFinderInfo = 80;       // 32 bytes
inline constexpr size_t kAllocationFile = 112;  // HFSPlusForkData of each special file
inline constexpr size_t kExtentsFile = 192;
inline constexpr size_t kCatalogFile = 272;
inline constexpr size_t kAttributesFile = 352;
inline constexpr size_t kStartupFile = 432;
inline constexpr uint16_t kPlusSignature = 0x482B;  // 'H+'
inline constexpr uint16_t kHfsxSignature = 0x4858;  // 'HX'
inline constexpr uint16_t kPlusVersion = 4;
inline constexpr uint16_t kHfsxVersion = 5;
}  // namespace vh

// The classic MDB of an HFS wrapper around an embedded HFS+ volume.
namespace wrapper {
inline constexpr uint16_t kMdbSignature = 0x4244;  // 'BD'
inline constexpr size_t kAllocBlockSize = 20;      // drAlBlkSiz
inline constexpr size_t kAllocStart = 28;          // drAlBlSt, in 512-byte sectors
inline constexpr size_t kEmbedSignature = 0x7C;    // drEmbedSigWord
inline constexpr size_t kEmbedExtent = 0x7E;       // drEmbedExtent: start block, block count (16 bits each)
}  // namespace wrapper

// HFSPlusForkData: 80 bytes.
namespace forkdata {
inline constexpr size_t kSize = 80;
inline constexpr size_t kLogicalSize = 0;  // 64 bits
inline constexpr size_t kClumpSize = 8;
inline constexpr size_t kTotalBlocks = 12;
inline constexpr size_t kExtents = 16;     // 8 × (startBlock, blockCount), 32 bits each
}  // namespace forkdata
inline constexpr int kExtentsPerRecord = 8;
inline constexpr size_t kExtentRecordSize = 64;

// Catalog node IDs with a fixed meaning.
namespace cnid {
inline constexpr uint32_t kRootParent = 1;
inline constexpr uint32_t kRootFolder = 2;
inline constexpr uint32_t kExtentsFile = 3;
inline constexpr uint32_t kCatalogFile = 4;
inline constexpr uint32_t kBadBlocksFile = 5;
inline constexpr uint32_t kAllocationFile = 6;
inline constexpr uint32_t kStartupFile = 7;
inline constexpr uint32_t kAttributesFile = 8;
inline constexpr uint32_t kFirstUser = 16;
}  // namespace cnid

// B-tree node descriptor (BTNodeDescriptor) and header record (BTHeaderRec).
namespace btnode {
inline constexpr size_t kDescriptorSize = 14;
inline constexpr size_t kFLink = 0;
inline constexpr size_t kBLink = 4;
inline constexpr size_t kKind = 8;          // signed: -1 leaf, 0 index, 1 header, 2 map
inline constexpr size_t kHeight = 9;
inline constexpr size_t kNumRecords = 10;
inline constexpr int8_t kLeaf = -1;
inline constexpr int8_t kIndex = 0;
inline constexpr int8_t kHeader = 1;
inline constexpr int8_t kMap = 2;
}  // namespace btnode
namespace btheader {
inline constexpr size_t kDepth = 14;        // treeDepth
inline constexpr size_t kRoot = 16;         // rootNode
inline constexpr size_t kLeafRecords = 20;
inline constexpr size_t kFirstLeaf = 24;
inline constexpr size_t kLastLeaf = 28;
inline constexpr size_t kNodeSize = 32;
inline constexpr size_t kMaxKeyLength = 34;
inline constexpr size_t kTotalNodes = 36;
inline constexpr size_t kFreeNodes = 40;
inline constexpr size_t kKeyCompareType = 51;
inline constexpr size_t kAttributes = 52;
inline constexpr size_t kEnd = 56;          // what this reader needs of the header record
inline constexpr uint32_t kBigKeys = 1u << 1;          // kBTBigKeysMask: 16-bit key lengths
inline constexpr uint32_t kVariableIndexKeys = 1u << 2; // kBTVariableIndexKeysMask
inline constexpr uint8_t kCaseFolding = 0xCF;   // kHFSCaseFolding
inline constexpr uint8_t kBinaryCompare = 0xBC; // kHFSBinaryCompare (HFSX)
inline constexpr uint16_t kMinNodeSize = 512;
inline constexpr uint16_t kMaxNodeSize = 32768;
}  // namespace btheader

// Catalog keys and records.
namespace catkey {
inline constexpr size_t kParentId = 2;     // after the 16-bit key length
inline constexpr size_t kNameLength = 6;   // HFSUniStr255: length in UTF-16 units
inline constexpr size_t kName = 8;
inline constexpr size_t kMinLength = 6;    // key length of an empty name
inline constexpr size_t kMaxNameUnits = 255;
}  // namespace catkey
namespace catrec {
inline constexpr uint16_t kFolder = 1;
inline constexpr uint16_t kFile = 2;
inline constexpr uint16_t kFolderThread = 3;
inline constexpr uint16_t kFileThread = 4;
inline constexpr size_t kType = 0;
inline constexpr size_t kFlags = 2;
inline constexpr uint16_t kLockedMask = 0x0001;       // kHFSFileLockedMask
inline constexpr size_t kValence = 4;                 // folders only
inline constexpr size_t kId = 8;                      // folderID / fileID
inline constexpr size_t kCreateDate = 12;
inline constexpr size_t kContentModDate = 16;
inline constexpr size_t kAttributeModDate = 20;
inline constexpr size_t kAccessDate = 24;
inline constexpr size_t kBackupDate = 28;
inline constexpr size_t kBsdInfo = 32;                // HFSPlusBSDInfo, 16 bytes
inline constexpr size_t kFinderInfo = 48;             // FileInfo / FolderInfo, 16 bytes
inline constexpr size_t kExtendedFinderInfo = 64;     // ExtendedFileInfo / ExtendedFolderInfo
inline constexpr size_t kTextEncoding = 80;
inline constexpr size_t kDataFork = 88;               // files only
inline constexpr size_t kResourceFork = 168;
inline constexpr size_t kFolderSize = 88;
inline constexpr size_t kFileSize = 248;
// Thread records: type, reserved, parentID, then the HFSUniStr255 name.
inline constexpr size_t kThreadParent = 4;
inline constexpr size_t kThreadNameLength = 8;
inline constexpr size_t kThreadName = 10;
}  // namespace catrec
namespace bsd {
inline constexpr size_t kOwner = 0;
inline constexpr size_t kGroup = 4;
inline constexpr size_t kAdminFlags = 8;
inline constexpr size_t kOwnerFlags = 9;
inline constexpr size_t kMode = 10;
inline constexpr size_t kSpecial = 12;  // iNodeNum of a hard link, link count of an iNode, rawDevice
}  // namespace bsd

// Extents overflow keys (HFSPlusExtentKey): key length 10.
namespace extkey {
inline constexpr size_t kForkType = 2;
inline constexpr size_t kFileId = 4;
inline constexpr size_t kStartBlock = 8;
inline constexpr size_t kSize = 12;
inline constexpr uint16_t kKeyLength = 10;
}  // namespace extkey
inline constexpr uint8_t kDataForkType = 0x00;
inline constexpr uint8_t kResourceForkType = 0xFF;

// Attributes keys (HFSPlusAttrKey) and records.
namespace attrkey {
inline constexpr size_t kFileId = 4;       // after the key length and a pad
inline constexpr size_t kStartBlock = 8;
inline constexpr size_t kNameLength = 12;  // UTF-16 units
inline constexpr size_t kName = 14;
inline constexpr size_t kMaxNameUnits = 127;
}  // namespace attrkey
namespace attrrec {
inline constexpr uint32_t kInlineData = 0x10;
inline constexpr uint32_t kForkData = 0x20;
inline constexpr uint32_t kExtents = 0x30;
inline constexpr size_t kType = 0;
inline constexpr size_t kInlineSize = 12;   // attrSize, after the type and 8 reserved bytes
inline constexpr size_t kInlineData_ = 16;
inline constexpr size_t kFork = 8;          // HFSPlusForkData after the type and a reserved word
inline constexpr size_t kExtentRecord = 8;  // 8 extents after the type and a reserved word
}  // namespace attrrec

// The journal: JournalInfoBlock, then the journal header it points at.
namespace journal {
inline constexpr size_t kInfoFlags = 0;
inline constexpr uint32_t kInFileSystem = 1;      // kJIJournalInFSMask
inline constexpr uint32_t kOnOtherDevice = 2;     // kJIJournalOnOtherDeviceMask
inline constexpr size_t kInfoOffset = 36;         // 64 bits: byte offset of the journal in the volume
inline constexpr size_t kInfoSize = 44;           // 64 bits
inline constexpr size_t kInfoEnd = 52;
inline constexpr uint32_t kHeaderMagic = 0x4A4E4C78;  // 'JNLx'
inline constexpr uint32_t kHeaderEndian = 0x12345678;
inline constexpr size_t kHeaderMagicAt = 0;
inline constexpr size_t kHeaderEndianAt = 4;
inline constexpr size_t kHeaderStart = 8;         // 64 bits
inline constexpr size_t kHeaderEnd = 16;          // 64 bits
inline constexpr size_t kHeaderSize = 24;        // what the state of the journal needs
inline constexpr size_t kHeaderJournalSize = 24;  // 64 bits: bytes of the journal
inline constexpr size_t kHeaderListSize = 32;     // bytes of each block list header
inline constexpr size_t kHeaderChecksum = 36;
inline constexpr size_t kHeaderUnit = 40;         // jhdr_size
inline constexpr size_t kHeaderFixed = 44;        // the bytes the header's checksum covers
// A block list header, then its block_info entries of 16 bytes; entry 0 is the list's own.
inline constexpr size_t kListCount = 2;           // 16 bits: entries in use, entry 0 included
inline constexpr size_t kListBytesUsed = 4;       // 32 bits: the header and its blocks' bytes
inline constexpr size_t kListChecksum = 8;
inline constexpr size_t kListChecksumBytes = 32;  // the header and entry 0
inline constexpr size_t kListInfo = 16;
inline constexpr size_t kInfoEntrySize = 16;
inline constexpr size_t kInfoBlock = 0;           // 64 bits: home, in units from the volume's start
inline constexpr size_t kInfoBytes = 8;           // 32 bits
inline constexpr uint64_t kKilledBlock = ~uint64_t{0};  // a block a later transaction made void
}  // namespace journal

// Finder info words used to recognise links.
inline constexpr uint32_t kHardLinkType = 0x686C6E6B;   // 'hlnk'
inline constexpr uint32_t kHardLinkCreator = 0x6866732B;  // 'hfs+'
inline constexpr uint32_t kFolderLinkType = 0x66647270;   // 'fdrp'
inline constexpr uint32_t kFolderLinkCreator = 0x4D414353;  // 'MACS'
inline constexpr uint32_t kSymlinkType = 0x736C6E6B;    // 'slnk'
inline constexpr uint32_t kSymlinkCreator = 0x72686170; // 'rhap'

}  // namespace quarry::hfsplus
