#pragma once
// The HFS+ or HFSX volume behind the seam (volume/mounted_volume.h): the reader's catalog records
// turned into entries (hard links resolved to what they lead to, symbolic links with their
// targets, compressed files at their uncompressed length), lookups by the volume's own name
// comparison, and fork readers for plain and compressed forks. Nothing on the volume is ever
// changed.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hfsplus/journal.h"
#include "hfsplus/medium.h"
#include "hfsplus/volume.h"
#include "volume/mounted_volume.h"

namespace quarry {

class HfsPlusVolume : public MountedVolume {
public:
    // Mounts the HFS+ or HFSX volume of `medium` whose partition (or wrapper) begins at byte
    // `start`; a fault when none can be opened there.
    static Result<std::unique_ptr<HfsPlusVolume>> open(std::unique_ptr<hfsplus::Medium> medium, uint64_t start);

    VolumeFormat format() const override;
    VolumeFigures figures() const override;
    bool visitFolder(uint32_t folderID, const EntryVisitor& visit, std::string_view pattern = "*",
                     NameMatch match = NameMatch::Pattern) override;
    std::optional<VolumeEntry> findEntry(uint32_t folderID, std::string_view name, NameMatch match,
                                         std::optional<EntryKind> kind = std::nullopt) override;
    std::optional<VolumeEntry> folderOfId(uint32_t folderID) override;
    std::optional<uint32_t> parentOf(uint32_t folderID) override;
    std::string lastFault() const override { return lastFault_; }
    std::unique_ptr<ForkReader> openFork(const VolumeEntry& file, ForkKind fork) override;
    Status mayChange() const override { return refuseChangeOf(format()); }
    // The HFS+ check: headers, trees, threads, counts, the allocation file, links, compression.
    VolumeCheckResult check() override;

    // What the person hears once of this volume: the journal's state.
    std::vector<std::string> takeNotices() override;
    // Each place of damage met since the last call, each once, as the person reads it.
    std::vector<std::string> takeDamage() override;

    hfsplus::Volume& reader() { return *volume_; }

private:
    HfsPlusVolume(std::unique_ptr<hfsplus::Medium> medium, std::unique_ptr<hfsplus::Volume> volume)
        : medium_(std::move(medium)), volume_(std::move(volume)) {}
    // Opens the volume again through its journal's pending transactions, when it has any that
    // read whole; otherwise keeps it as the medium holds it and remembers why.
    void replayJournal(uint64_t start);
    // The medium as the volume is read: through the journal when it was replayed.
    hfsplus::Medium& reading() { return replayed_ ? static_cast<hfsplus::Medium&>(*replayed_) : *medium_; }
    // The entry of a catalog record of folder `folderID`; none when it is a link that cannot be
    // followed or a folder link back into the folders that hold it (noted as damage).
    std::optional<VolumeEntry> entryOf(const hfsplus::CatalogRecord& record, uint32_t folderID);
    bool isAncestor(uint32_t candidate, uint32_t folderID);

    std::unique_ptr<hfsplus::Medium> medium_;
    std::unique_ptr<hfsplus::JournalMedium> replayed_;  // reads medium_; read by volume_
    std::unique_ptr<hfsplus::Volume> volume_;
    std::string journalFault_;  // why a pending journal was not replayed
    std::string lastFault_;
    // Folders entered through a folder hard link: the folder's ID → the link's entry, so that
    // ".." leads back to where the link lies rather than into the private folder.
    std::map<uint32_t, VolumeEntry> linkedFolders_;
    std::vector<std::string> linkFaults_;
    bool journalTold_ = false;
    std::vector<std::string> told_;
};

}  // namespace quarry
