#include "support/mounted_image.h"

#include <gtest/gtest.h>

#include "app/mount.h"

namespace quarry::test {

MountedImage::MountedImage(const std::string& image) {
    auto adapter = std::make_unique<ImageAdapter>();
    auto target = adapter->addImage(image, ImageAccess::ReadOnly);
    if (!target) {
        ADD_FAILURE() << target.fault();
        return;
    }
    bus.adapters.push_back(std::move(adapter));
    session.device.bus = &bus;
    PrepareCdAccess(session.device);
    if (SelectCdromDrive(session.device, table, ui) != 1) {
        ADD_FAILURE() << "the image adapter offers no drive";
        return;
    }
    session.device.deviceBlockSize = 512;
    initVolumeBuffers(session);
    mountResult = mountVolume(session);
}

const FileList& MountedImage::list() {
    BuildFileList(session, nullptr);
    return session.settings.list;
}

const ListEntry* MountedImage::find(const std::string& name) {
    const FileList& l = list();
    for (uint16_t i = 0; i < l.entryCount; ++i)
        if (l.entries[i].name() == name) return &l.entries[i];
    return nullptr;
}

}  // namespace quarry::test
