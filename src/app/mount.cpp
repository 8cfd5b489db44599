#include "app/mount.h"

#include <algorithm>

#include "app/file_list.h"
#include "app/navigation.h"
#include "app/session.h"
#include "common/charset.h"
#include "common/messages.h"
#include "device/scsi_bus.h"
#include "device/partition_scan.h"
#include "hfs/hfs_volume.h"
#include "hfsplus/hfsplus_volume.h"
#include "hfsplus/medium.h"
#include "mfs/mfs_volume.h"

namespace quarry {
namespace {

// The volumes Quarry mounts: the HFS family and MFS.
bool isHfsFamily(VolumeKind kind) {
    return kind == VolumeKind::Hfs || kind == VolumeKind::WrappedHfsPlus || kind == VolumeKind::HfsPlus ||
           kind == VolumeKind::Hfsx || kind == VolumeKind::Mfs;
}

// "partition 3 (HFS, "Classic")" for the notice that names the medium's other volumes.
std::string describe(const FoundVolume& v) {
    std::string text = "partition " + std::to_string(v.index) + " (" + kindName(v.kind);
    if (!v.name.empty()) text += ", \"" + v.name + "\"";
    return text + ")";
}

// What the medium's map holds, or nothing when it cannot be scanned (a drive that cannot say
// its size, a map that cannot be read): HFS's own search then finds the volume, as always.
std::vector<FoundVolume> scanMedium(DeviceState& device) {
    hfsplus::DeviceMedium medium(device);
    if (medium.size() == 0) return {};
    Result<std::vector<FoundVolume>> found =
        scanPartitions(medium.size(), [&](uint64_t offset, std::span<uint8_t> out) { return medium.read(offset, out); });
    return found ? *found : std::vector<FoundVolume>{};
}

// Mounts a volume that is read through its own code (HFS+, MFS) rather than HFS's: `open` makes
// it from the selected drive; its fault is the mount's.
template <class Open>
int mountOther(Session& session, const Open& open) {
    VolumeState& volume = session.volume;
    closeWorkFiles(volume);
    volume.firstBlockSector = 0;
    auto opened = open(std::make_unique<hfsplus::DeviceMedium>(session.device));
    if (!opened) {
        volume.mountFault = opened.fault();
        session.device.targetId = kNoSelection;
        return 0;
    }
    session.mounted = std::move(*opened);
    return 1;
}

// The one place where the medium's volume format is chosen. The medium's partitions are
// scanned: the one the person chose, or else the first HFS, HFS+ or MFS volume, is mounted (an HFS
// wrapper's embedded HFS+ volume, never the wrapper). Classic HFS is found by its own search
// unless a partition other than the one that search takes was chosen. Same results as
// loadVolume.
int loadMountedVolume(Session& session) {
    session.mounted.reset();
    session.mountRefusal.clear();
    session.mountNotices.clear();
    session.volume.chosenPartition.reset();
    session.volume.mountFault.clear();
    session.volume.mountFaultIsLocal = false;
    DeviceState& device = session.device;
    device.deviceBlockSize = static_cast<uint16_t>(kSectorSize);
    device.cdBlockKey = kNoCachedBlock;
    const std::vector<FoundVolume> found = scanMedium(device);

    const FoundVolume* chosen = nullptr;
    for (const FoundVolume& v : found) {
        if (session.partitionChoice ? v.index == *session.partitionChoice : isHfsFamily(v.kind)) {
            chosen = &v;
            break;
        }
    }
    if (session.partitionChoice && (!chosen || !isHfsFamily(chosen->kind))) {
        session.mountRefusal = chosen && chosen->kind == VolumeKind::Apfs
                                   ? messageText(Msg::ApfsNotRead)
                                   : messageWith(Msg::NoSuchPartition, std::to_string(*session.partitionChoice));
        device.targetId = kNoSelection;
        return 0;
    }
    if (!chosen) {
        const bool apfs = std::any_of(found.begin(), found.end(), [](const FoundVolume& v) { return v.kind == VolumeKind::Apfs; });
        if (apfs) {
            closeWorkFiles(session.volume);
            session.volume.firstBlockSector = 0;
            session.mountRefusal = messageText(Msg::ApfsNotRead);
            device.targetId = kNoSelection;
            return 0;
        }
    }
    std::string others;
    for (const FoundVolume& v : found) {
        if (&v == chosen || v.kind == VolumeKind::Other) continue;
        others += (others.empty() ? "" : ", ") + describe(v);
    }
    if (chosen && !others.empty())
        session.mountNotices.push_back("Partition " + std::to_string(chosen->index) + " is mounted. " +
                                       messageWith(Msg::OtherVolumes, others));

    int loaded = 0;
    if (chosen && chosen->kind == VolumeKind::Mfs) {
        const MfsFolders folders = session.settings.mfsFolders ? MfsFolders::FromDesktop : MfsFolders::Flat;
        loaded = mountOther(session, [&](auto medium) { return MfsVolume::open(std::move(medium), chosen->start, folders); });
    } else if (chosen && chosen->kind != VolumeKind::Hfs) {
        loaded = mountOther(session, [&](auto medium) { return HfsPlusVolume::open(std::move(medium), chosen->start); });
    } else {
        // HFS's own search takes the first Apple_HFS entry of an Apple map, or a bare volume;
        // any other partition is named to it.
        if (chosen && (session.partitionChoice || chosen->scheme == PartitionScheme::Gpt || chosen->scheme == PartitionScheme::Mbr))
            session.volume.chosenPartition = VolumeState::Partition{static_cast<uint32_t>(chosen->start / kSectorSize),
                                                                    static_cast<uint32_t>(chosen->length / kSectorSize)};
        loaded = loadVolume(session.volumeContext());
        if (loaded == 1) session.mounted = std::make_unique<HfsVolume>(session.volumeContext());
    }
    if (loaded != 1) session.mountNotices.clear();
    return loaded;
}

}  // namespace

void initVolumeBuffers(Session& session) {
    session.volume.sectorBuffer.fill(0);
    session.volume.mdbCopy.fill(0);
    session.settings.list = FileList{};
    session.dir.currentName.clear();
    session.mounted.reset();
}

int mountVolume(Session& session) {
    VolumeState& volume = session.volume;
    FileList& list = session.settings.list;
    list.entryCount = 0;
    list.firstShown = 0;
    list.endShown = 0;
    const int loaded = loadMountedVolume(session);
    if (loaded != 1) return loaded;
    SetVolumeTitle(session);
    if (!changeDirectory(session, kRootParentId, "*") || session.dir.currentDirID != kRootDirId) {
        const std::string fault = session.mounted->lastFault();
        volume.mountFault = fault.empty() ? "the catalog holds no root folder" : fault;
        volume.firstBlockSector = 0;
        session.mounted.reset();
        session.device.targetId = kNoSelection;
        return 0;
    }
    BuildFileList(session, nullptr);
    session.ui.setStatusText(nullptr, nullptr);
    if (session.log.isOpen()) session.log.writeAnsi("*log " + TranslateName(session.mounted->figures().macName, MacToAnsi) + "\n");
    return 1;
}

std::vector<std::string> TakeReadWarnings(Session& session) {
    std::vector<std::string> warnings;
    if (!session.device.bus) return warnings;
    for (const auto& adapter : session.device.bus->adapters) {
        std::vector<std::string> said = adapter->takeReadWarnings();
        warnings.insert(warnings.end(), said.begin(), said.end());
    }
    return warnings;
}

std::vector<std::string> TakeDamageReports(Session& session) {
    std::vector<std::string> reports;
    if (session.mounted) reports = session.mounted->takeDamage();
    if (!session.volume.cutShortTold) {
        if (std::string cut = imageCutShort(session.volume); !cut.empty()) reports.push_back(std::move(cut));
        session.volume.cutShortTold = true;
    }
    for (BTreeFile* tree : {&session.volume.catalog, &session.volume.extents}) {
        for (; tree->damageReported < tree->damage.size(); ++tree->damageReported)
            reports.push_back(std::string(messageText(Msg::VolumeDamaged)) + " " + tree->damage[tree->damageReported]);
    }
    return reports;
}

std::vector<std::string> TakeMountNotices(Session& session) {
    std::vector<std::string> notices = std::move(session.mountNotices);
    session.mountNotices.clear();
    if (session.mounted) {
        std::vector<std::string> more = session.mounted->takeNotices();
        notices.insert(notices.end(), more.begin(), more.end());
    }
    return notices;
}

std::string MountFailureText(const Session& session) {
    const VolumeState& volume = session.volume;
    if (!session.mountRefusal.empty()) return session.mountRefusal;
    if (volume.mountFaultIsLocal) return volume.mountFault;
    if (!volume.mountFault.empty()) return std::string(messageText(Msg::VolumeDamaged)) + " " + volume.mountFault;
    return {};
}

}  // namespace quarry
