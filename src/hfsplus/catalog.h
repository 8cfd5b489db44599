#pragma once
// Catalog records of an HFS+ volume decoded into one struct: the folders and files a person
// sees, with their names in the three forms the program needs.

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "common/result.h"
#include "hfsplus/fork.h"

namespace quarry::hfsplus {

// HFS+ dates are UTC instants; 0 means "never" and reads as 1904-01-01.
using MacInstant = std::chrono::sys_seconds;
inline MacInstant macInstant(uint32_t macSeconds) {
    return MacInstant(std::chrono::seconds(int64_t{macSeconds} - kMacEpochToUnix));
}

struct BsdInfo {
    uint32_t ownerId = 0;
    uint32_t groupId = 0;
    uint8_t adminFlags = 0;
    uint8_t ownerFlags = 0;
    uint16_t fileMode = 0;  // the type in its top four bits, then the permissions
    uint32_t special = 0;   // a hard link's iNode number, an iNode's link count, a device number
};

enum class EntryKind { Folder, File };

struct CatalogRecord {
    EntryKind kind = EntryKind::File;
    uint32_t id = 0;        // the catalog node ID (CNID)
    uint32_t parentId = 0;
    std::u16string storedName;  // as stored: decomposed UTF-16
    std::string name;           // NFC UTF-8, for showing and for PC names
    std::string macName;        // in the 8-bit Macintosh encoding of textEncoding
    uint16_t flags = 0;
    uint32_t valence = 0;       // folders: the entries they hold
    MacInstant created, contentModified, attributesModified, accessed, backedUp;
    BsdInfo bsd;
    std::array<uint8_t, 16> finderInfo{};          // FileInfo / FolderInfo
    std::array<uint8_t, 16> extendedFinderInfo{};  // ExtendedFileInfo / ExtendedFolderInfo
    uint32_t textEncoding = 0;
    ForkData dataFork;      // files only
    ForkData resourceFork;

    bool isFolder() const { return kind == EntryKind::Folder; }
    bool locked() const { return (flags & catrec::kLockedMask) != 0; }
    // The file type and creator (files; 0 for folders) and the Finder flags.
    uint32_t fileType() const { return isFolder() ? 0 : loadBE32(finderInfo.data()); }
    uint32_t creator() const { return isFolder() ? 0 : loadBE32(finderInfo.data() + 4); }
    uint16_t finderFlags() const { return loadBE16(finderInfo.data() + 8); }
    bool isHardLink() const { return fileType() == kHardLinkType && creator() == kHardLinkCreator; }
    bool isFolderLink() const { return fileType() == kFolderLinkType && creator() == kFolderLinkCreator; }
    bool isSymlink() const { return fileType() == kSymlinkType && creator() == kSymlinkCreator; }
};

// The parent and name of a catalog key (its length field first).
struct CatalogKey {
    uint32_t parentId = 0;
    std::u16string name;
};
// A fault when the key's name does not fit in it.
Result<CatalogKey> decodeCatalogKey(std::span<const uint8_t> key);
uint32_t catalogKeyParent(std::span<const uint8_t> key);
inline uint16_t catalogRecordType(std::span<const uint8_t> data) { return data.size() < 2 ? 0 : loadBE16(data.data()); }

// Decodes a folder or file record under its key; a fault says what does not fit.
Result<CatalogRecord> decodeCatalogRecord(const CatalogKey& key, std::span<const uint8_t> data);

// A thread record: the parent and name of the folder or file whose ID keys it.
struct CatalogThread {
    bool folder = false;
    uint32_t parentId = 0;
    std::u16string name;
};
Result<CatalogThread> decodeCatalogThread(std::span<const uint8_t> data);

}  // namespace quarry::hfsplus
