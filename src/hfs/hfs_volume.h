#pragma once
// The HFS volume behind the seam (volume/mounted_volume.h): the catalog's records decoded into
// entries, its searches and its forks, over the volume code of this folder, which stays as it is.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "hfs/volume.h"
#include "volume/mounted_volume.h"

namespace quarry {

class HfsVolume : public MountedVolume {
public:
    explicit HfsVolume(const VolumeContext& context) : context_(context) {}

    VolumeFormat format() const override { return VolumeFormat::Hfs; }
    VolumeFigures figures() const override;
    // The visitor must not search the volume itself: the walk keeps its place in the catalog's
    // cursor, which any other search moves.
    bool visitFolder(uint32_t folderID, const EntryVisitor& visit, std::string_view pattern = "*",
                     NameMatch match = NameMatch::Pattern) override;
    std::optional<VolumeEntry> findEntry(uint32_t folderID, std::string_view name, NameMatch match,
                                         std::optional<EntryKind> kind = std::nullopt) override;
    std::optional<VolumeEntry> folderOfId(uint32_t folderID) override;
    std::optional<uint32_t> parentOf(uint32_t folderID) override;
    std::string lastFault() const override;
    std::unique_ptr<ForkReader> openFork(const VolumeEntry& file, ForkKind fork) override;
    VolumeCheckResult check() override;
    // HFS is changed; the change code checks the lock and the medium itself, with its own
    // messages.
    Status mayChange() const override { return Status::ok(); }

private:
    std::optional<std::pair<uint32_t, std::string>> threadOf(uint32_t folderID);

    VolumeContext context_;
};

// The entry of a catalog folder or file record, from its key (the record follows it).
VolumeEntry hfsEntryFromKey(const uint8_t* key);

}  // namespace quarry
