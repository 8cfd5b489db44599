#include "gui/drives.h"

#include <memory>

#include <QStringList>

#include "device/sg_adapter.h"

namespace quarry::gui {

Drives::Drives() {
    auto adapter = std::make_unique<ImageAdapter>();
    images = adapter.get();
    bus.adapters.push_back(std::move(adapter));
    if (auto drives = SgAdapter::scan(); drives && drives->targetCount() > 0) bus.adapters.push_back(std::move(drives));
}

std::vector<int> Drives::addImage(const QString& path, QString& why, ImageAccess access) {
    size_t left = 0;
    auto targets = images->addImages(path.toStdString(), access, {}, &left);
    if (!targets) {
        why = QString::fromStdString(targets.fault());
        return {};
    }
    // An image that opened with something to say about it (a DiskCopy checksum that does not
    // match) is still served; the caller shows what was said.
    QStringList warnings;
    for (int target : *targets)
        for (const std::string& warning : images->imageWarnings(target)) warnings << QString::fromStdString(warning);
    if (left > 0)
        warnings << QString("%1 more images of %2 are not opened: Quarry holds %3 images at a time.")
                        .arg(left)
                        .arg(path)
                        .arg(ImageAdapter::kMaxImages);
    why = warnings.join('\n');
    return *targets;
}

}  // namespace quarry::gui
