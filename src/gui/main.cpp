// quarry: the desktop program.
//
//   quarry [--write] [IMAGE|DEVICE ...]
//
// Each image named is put on the image adapter beside the real drives; with more than one
// drive the drive dialog offers the choice. Images are opened read-only; --write opens the
// named ones for writing, so that New folder, Delete and Rename can change them.

#include <QApplication>
#include <QMessageBox>

#include <csignal>

#include "common/messages.h"
#include "app/session.h"
#include "dialogs/log_dialog.h"
#include "gui/drives.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "gui/startup.h"

using namespace quarry;
using namespace quarry::gui;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quarry");
    // A file-size limit turns into a failed write that is reported, not into a killed process.
    std::signal(SIGXFSZ, SIG_IGN);

    QtUi ui;
    Session session(ui);
    Drives drives;
    MainWindow window(session, ui);
    window.setDrives(&drives);
    ui.attach(&session, &window);

    QStringList named = app.arguments().mid(1);
    const ImageAccess access = named.removeAll("--write") > 0 ? ImageAccess::ReadWrite : ImageAccess::ReadOnly;
    for (const QString& path : named) {
        QString why;
        if (drives.addImage(path, why, access) < 0 || !why.isEmpty()) QMessageBox::warning(nullptr, kProgramTitle, why);
    }

    if (!StartDevices(session, ui, drives)) {
        if (ui.fatalReported()) return 1;
        // Started from a desktop menu there is nothing on the command line: offer an image.
        const bool nothingFound = drives.images->imageCount() == 0 && drives.bus.adapters.size() == 1;
        QString chosen;
        ImageAccess chosenAccess = ImageAccess::ReadOnly;
        if (nothingFound) chosen = MainWindow::chooseImage(nullptr, chosenAccess);
        QString why;
        if (chosen.isEmpty() || drives.addImage(chosen, why, chosenAccess) < 0 ||
            SelectCdromDrive(session.device, drives.table, ui) == 0) {
            ui.fatalError(messageText(Msg::NoCdromDrive));
            return 1;
        }
        if (!why.isEmpty()) QMessageBox::warning(nullptr, kProgramTitle, why);
    }

    window.show();
    window.mountSelected();
    const int code = ui.fatalReported() ? 1 : app.exec();
    FinishLogAndManifest(session);
    return ui.fatalReported() ? 1 : code;
}
