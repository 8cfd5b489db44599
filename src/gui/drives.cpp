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

int Drives::addImage(const QString& path, QString& why, ImageAccess access) {
    auto target = images->addImage(path.toStdString(), access);
    if (!target) {
        why = QString::fromStdString(target.fault());
        return -1;
    }
    // An image that opened with something to say about it (a DiskCopy checksum that does not
    // match) is still served; the caller shows what was said.
    QStringList warnings;
    for (const std::string& warning : images->imageWarnings(*target)) warnings << QString::fromStdString(warning);
    why = warnings.join('\n');
    return *target;
}

}  // namespace quarry::gui
