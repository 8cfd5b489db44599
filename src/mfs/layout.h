#pragma once
// Where the fields of the Macintosh File System lie: the volume information block (its MDB) at
// byte 1024 of the volume, the allocation block map that follows it, and the entries of the file
// directory. All fields are big-endian.

#include <cstdint>

namespace quarry::mfs {

inline constexpr uint16_t kSignature = 0xD2D7;

// The volume information block.
namespace mdb {
inline constexpr uint32_t kOffset = 1024;   // bytes from the volume's start
inline constexpr uint32_t kSigWord = 0;     // drSigWord   0xD2D7
inline constexpr uint32_t kCrDate = 2;      // drCrDate    when the volume was initialised
inline constexpr uint32_t kLsBkUp = 6;      // drLsBkUp    last backup
inline constexpr uint32_t kAtrb = 10;       // drAtrb      volume attributes
inline constexpr uint32_t kNmFls = 12;      // drNmFls     files in the directory
inline constexpr uint32_t kDirSt = 14;      // drDirSt     first sector of the file directory
inline constexpr uint32_t kBlLen = 16;      // drBlLen     sectors of the file directory
inline constexpr uint32_t kNmAlBlks = 18;   // drNmAlBlks  allocation blocks on the volume
inline constexpr uint32_t kAlBlkSiz = 20;   // drAlBlkSiz  bytes of an allocation block
inline constexpr uint32_t kClpSiz = 24;     // drClpSiz    bytes allocated at a time
inline constexpr uint32_t kAlBlSt = 28;     // drAlBlSt    sector of allocation block 2
inline constexpr uint32_t kNxtFNum = 30;    // drNxtFNum   the next file number to give
inline constexpr uint32_t kFreeBks = 34;    // drFreeBks   unused allocation blocks
inline constexpr uint32_t kVN = 36;         // drVN        the volume's name, a Pascal string
inline constexpr uint32_t kMaxNameLength = 27;
inline constexpr uint32_t kMapOffset = 64;  // the allocation block map, right after the fields
// drAtrb: bit 7 locked by hardware, bit 15 locked by software.
inline constexpr uint16_t kHardwareLock = 0x0080;
inline constexpr uint16_t kSoftwareLock = 0x8000;
}  // namespace mdb

// The allocation block map holds a 12-bit entry per block, the first for block 2 (the volume's
// blocks are numbered from 2, so that 0 and 1 can mean "free" and "the file's last block").
inline constexpr uint16_t kFirstBlock = 2;
inline constexpr uint16_t kMapFree = 0;
inline constexpr uint16_t kMapLast = 1;

// A file directory entry. Entries are padded to an even length and never cross a sector; a
// sector's entries end at the first whose flags do not say "in use".
namespace entry {
inline constexpr uint32_t kFlags = 0;     // flFlags  bit 7 in use, bit 0 locked
inline constexpr uint32_t kTyp = 1;       // flTyp    version number
inline constexpr uint32_t kUsrWds = 2;    // flUsrWds the Finder's FInfo, 16 bytes
inline constexpr uint32_t kFlNum = 18;    // flFlNum  the file's number
inline constexpr uint32_t kStBlk = 22;    // flStBlk  first allocation block of the data fork
inline constexpr uint32_t kLgLen = 24;    // flLgLen  bytes of the data fork
inline constexpr uint32_t kPyLen = 28;    // flPyLen  bytes allocated to the data fork
inline constexpr uint32_t kRStBlk = 32;   // flRStBlk first allocation block of the resource fork
inline constexpr uint32_t kRLgLen = 34;   // flRLgLen bytes of the resource fork
inline constexpr uint32_t kRPyLen = 38;   // flRPyLen bytes allocated to the resource fork
inline constexpr uint32_t kCrDat = 42;    // flCrDat  created
inline constexpr uint32_t kMdDat = 46;    // flMdDat  modified
inline constexpr uint32_t kNam = 50;      // flNam    the name, a Pascal string
inline constexpr uint8_t kInUse = 0x80;
inline constexpr uint8_t kLocked = 0x01;
}  // namespace entry

// FInfo's fdFldr: the Finder's folder of the file. 0 is the volume's window, -2 the desktop,
// -3 the trash; any other is the ID of a folder the Desktop file describes.
inline constexpr uint32_t kFinderFolder = 14;

}  // namespace quarry::mfs
