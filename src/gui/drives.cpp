#include "gui/drives.h"

#include <memory>

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
    return *target;
}

}  // namespace quarry::gui
