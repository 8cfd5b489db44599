#include "app/mount.h"

#include "app/file_list.h"
#include "app/navigation.h"
#include "app/session.h"
#include "common/charset.h"
#include "common/messages.h"
#include "device/scsi_bus.h"
#include "hfs/hfs_volume.h"

namespace quarry {
namespace {

// The one place where the medium's volume format is chosen: each format's loader looks for its
// volume in turn, and the first that finds one becomes the session's mounted volume. Same
// results as loadVolume.
int loadMountedVolume(Session& session) {
    session.mounted.reset();
    const int loaded = loadVolume(session.volumeContext());
    if (loaded == 1) session.mounted = std::make_unique<HfsVolume>(session.volumeContext());
    return loaded;
}

}  // namespace

void initVolumeBuffers(Session& session) {
    session.volume.sectorBuffer.fill(0);
    session.volume.mdbCopy.fill(0);
    session.settings.list = FileList{};
    session.dir.currentName.clear();
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
        volume.mountFault = volume.catalog.fault.empty() ? "the catalog holds no root folder" : volume.catalog.fault;
        volume.firstBlockSector = 0;
        session.mounted.reset();
        session.device.targetId = kNoSelection;
        return 0;
    }
    BuildFileList(session, nullptr);
    session.ui.setStatusText(nullptr, nullptr);
    if (session.log.isOpen()) session.log.writeAnsi("*log " + TranslateName(volume.volumeName(), MacToAnsi) + "\n");
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

}  // namespace quarry
