#pragma once
// An MFS volume (the first Macintosh floppies) behind the seam (volume/mounted_volume.h): its
// flat file directory as the root folder's entries, or, when asked, the folders the Finder kept
// in the volume's Desktop file; fork readers that follow the allocation block map; and a check
// of the map against every file. Nothing on the volume is ever changed.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hfsplus/medium.h"
#include "mfs/desktop.h"
#include "volume/mounted_volume.h"

namespace quarry {

// How the files of an MFS volume are shown: all in the root, as the volume keeps them, or in the
// folders of the Finder's Desktop file.
enum class MfsFolders : uint8_t { Flat, FromDesktop };

namespace mfs {

// The volume information block's fields.
struct VolumeInfo {
    uint32_t created = 0, lastBackup = 0;
    uint16_t attributes = 0;
    uint16_t fileCount = 0;       // drNmFls
    uint16_t directoryStart = 0;  // drDirSt, a sector of the volume
    uint16_t directoryLength = 0; // drBlLen, sectors
    uint16_t blockCount = 0;      // drNmAlBlks
    uint32_t blockSize = 0;       // drAlBlkSiz
    uint32_t clumpSize = 0;
    uint16_t firstBlockSector = 0;  // drAlBlSt: the sector of allocation block 2
    uint32_t nextFileNumber = 0;
    uint16_t freeBlocks = 0;
    std::string name;  // Macintosh Roman
};

// One entry of the file directory as it is stored.
struct FileRecord {
    uint8_t flags = 0;
    std::array<uint8_t, 16> finderInfo{};
    uint32_t number = 0;
    uint16_t dataStart = 0, rsrcStart = 0;  // first allocation blocks; 0 for an empty fork
    uint32_t dataLength = 0, dataPhysical = 0;
    uint32_t rsrcLength = 0, rsrcPhysical = 0;
    uint32_t created = 0, modified = 0;
    std::string name;  // Macintosh Roman, up to 255 bytes
    uint32_t sector = 0, offset = 0;  // where the entry lies: the volume's sector and the byte in it
};

}  // namespace mfs

class MfsVolume : public MountedVolume {
public:
    // Mounts the MFS volume of `medium` that begins at byte `start`; a fault when its volume
    // information, block map or directory cannot be read or do not fit together.
    static Result<std::unique_ptr<MfsVolume>> open(std::unique_ptr<hfsplus::Medium> medium, uint64_t start,
                                                   MfsFolders folders = MfsFolders::Flat);

    VolumeFormat format() const override { return VolumeFormat::Mfs; }
    VolumeFigures figures() const override;
    bool visitFolder(uint32_t folderID, const EntryVisitor& visit, std::string_view pattern = "*",
                     NameMatch match = NameMatch::Pattern) override;
    std::optional<VolumeEntry> findEntry(uint32_t folderID, std::string_view name, NameMatch match,
                                         std::optional<EntryKind> kind = std::nullopt) override;
    std::optional<VolumeEntry> folderOfId(uint32_t folderID) override;
    std::optional<uint32_t> parentOf(uint32_t folderID) override;
    std::string lastFault() const override { return lastFault_; }
    std::unique_ptr<ForkReader> openFork(const VolumeEntry& file, ForkKind fork) override;
    VolumeCheckResult check() override;
    Status mayChange() const override { return refuseChangeOf(format()); }
    std::vector<std::string> takeNotices() override;
    std::vector<std::string> takeDamage() override;

    // The ID a folder of the Desktop file has behind the seam: far above any file number a
    // volume of 65535 blocks can have given, and clear of the root's IDs.
    static constexpr uint32_t kFolderIdBase = 0xFFFF0000u;
    static uint32_t folderId(int16_t number) { return kFolderIdBase | static_cast<uint16_t>(number); }

private:
    struct Folder {
        mfs::DesktopFolder stored;
        uint32_t parentID = kRootDirId;
        uint32_t valence = 0;
    };

    MfsVolume(std::unique_ptr<hfsplus::Medium> medium, uint64_t start) : medium_(std::move(medium)), start_(start) {}
    Status load();
    Status readDirectory();
    // Takes the Desktop file's folders, or says why the files stay in the root.
    void loadFolders();

    uint64_t blockOffset(uint16_t block) const;
    // The allocation blocks of the fork that begins at `first`, in order; a fault when the chain
    // leaves the volume, loops, or meets a free block.
    Result<std::vector<uint16_t>> chainOf(uint16_t first, const std::string& what) const;
    Result<std::vector<uint8_t>> readFork(const mfs::FileRecord& file, ForkKind fork, uint64_t limit);
    VolumeEntry entryOf(size_t index) const;
    VolumeEntry rootEntry() const;
    VolumeEntry folderEntry(const Folder& folder) const;
    uint32_t parentOfFile(const mfs::FileRecord& file) const;

    std::unique_ptr<hfsplus::Medium> medium_;
    uint64_t start_;
    mfs::VolumeInfo info_;
    std::vector<uint16_t> map_;  // the map's entry of each block, indexed by block number
    std::vector<mfs::FileRecord> files_;
    // Entries that cross a sector's end: not read, named by the check and told once.
    std::vector<std::string> directoryFaults_;
    std::map<uint32_t, Folder> folders_;  // by ID, in the folder view only
    std::vector<std::string> notices_;
    std::vector<std::string> told_;
    std::string lastFault_;
};

}  // namespace quarry
