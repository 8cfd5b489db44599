// Takes the screenshots shown in the README: the main window on the sample volume in each
// listing mode, and the dump window. Run under a real X server (scripts/screenshots.sh uses
// Xvfb): build/tools/quarry_screenshots IMAGE OUTDIR

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTimer>

#include "app/command_ids.h"
#include "app/session.h"
#include "app/navigation.h"
#include "gui/client_area.h"
#include "gui/drives.h"
#include "gui/dump_window.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "gui/startup.h"

using namespace quarry;
using namespace quarry::gui;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) return 2;
    const QString outDir = argv[2];
    QDir().mkpath(outDir);
    QtUi ui;
    Session session(ui);
    Drives drives;
    MainWindow window(session, ui);
    window.setDrives(&drives);
    ui.attach(&session, &window);
    QString why;
    if (drives.addImage(argv[1], why).empty()) return 1;
    StartDevices(session, ui, drives);
    window.show();
    window.mountSelected();

    auto shoot = [&](const QString& name) {
        QApplication::processEvents();
        window.grab().save(outDir + "/" + name + ".png");
    };
    shoot("main-short");
    // In a folder with one entry selected, so that an inverted cell shows.
    window.runCommand(command::kExtendedListing);
    enterDirectory(session, "Documents");
    BuildFileList(session, nullptr);
    SelectEntry(session, 0);
    window.updateCommandStates();
    shoot("main-extended");
    window.runCommand(command::kSignatureListing);
    shoot("main-signature");

    // The dump window on the first letter, shown beside the main window.
    DumpWindow dump(&window, ui, session);
    if (dump.open("Letter to Grandma")) {
        dump.show();
        QApplication::processEvents();
        dump.grab().save(outDir + "/dump.png");
    }
    return 0;
}
