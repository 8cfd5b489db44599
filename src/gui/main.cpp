// quarry: the desktop program.
//
//   quarry [--write] [--] [IMAGE|DEVICE ...]
//
// Each image named is put on the image adapter beside the real drives; with more than one
// drive the drive dialog offers the choice. Images are opened read-only; --write opens the
// named ones for writing, so that New folder, Delete and Rename can change them.

#include <QApplication>
#include <QMessageBox>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/messages.h"
#include "app/session.h"
#include "dialogs/log_dialog.h"
#include "gui/drives.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "gui/startup.h"

using namespace quarry;
using namespace quarry::gui;

namespace {

constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: quarry [OPTION]... [--] [IMAGE|DEVICE]...\n"
    "\n"
    "Opens the Macintosh HFS volume of each IMAGE (a disk image file: plain, DiskCopy 4.2,\n"
    "DART, BIN/CUE, UDIF, gzip or zip) or DEVICE (a block device or a /dev/sg* drive) beside the\n"
    "CD-ROM drives found, in the desktop program. With more than one, the drive dialog offers\n"
    "the choice; with none and no drive found, it offers to open an image file.\n"
    "\n"
    "  --write    open the named images for writing, so that New folder, Delete and\n"
    "             Rename can change them (default: read-only)\n"
    "  --help     show this text\n"
    "  --version  show the version of quarry\n"
    "  --         take every argument after it as an IMAGE or DEVICE\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, -reverse ...) are taken as well.\n";

// What the command line asks for. The desktop program answers --help and --version, and
// refuses an option it does not know, before it creates the QApplication: these need no
// display, and a typing mistake must not open a window.
struct Arguments {
    bool write = false;
    std::vector<char*> forQt;  // the program name and what may be Qt's options or names
    QStringList named;         // the names after "--"
};

// -1 when the run goes on; otherwise the exit status.
int readArguments(int argc, char** argv, Arguments& args) {
    args.forQt.push_back(argv[0]);
    int i = 1;
    for (; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::fputs("quarry (Quarry) " QUARRY_VERSION "\n", stdout);
            return 0;
        }
        if (std::strcmp(arg, "--write") == 0) {
            args.write = true;
        } else if (std::strncmp(arg, "--", 2) == 0) {
            std::fprintf(stderr, "quarry: unknown option %s\nTry 'quarry --help' for more information.\n", arg);
            return kExitUsage;
        } else {
            args.forQt.push_back(argv[i]);
        }
    }
    for (; i < argc; ++i) args.named << QString::fromLocal8Bit(argv[i]);
    args.forQt.push_back(nullptr);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (const int status = readArguments(argc, argv, args); status >= 0) return status;
    // QApplication takes its own options out of the list and leaves the names behind.
    int qtArgc = static_cast<int>(args.forQt.size()) - 1;
    QApplication app(qtArgc, args.forQt.data());
    QApplication::setApplicationName("Quarry");
    QApplication::setApplicationVersion(QUARRY_VERSION);
    // The desktop entry that started us, so that the window gets its icon and name there.
    QGuiApplication::setDesktopFileName("quarry");
    QStringList named;
    for (int i = 1; i < qtArgc; ++i) {
        const QString arg = QString::fromLocal8Bit(args.forQt[static_cast<size_t>(i)]);
        if (arg.startsWith('-') && arg != "-") {
            std::fprintf(stderr, "quarry: unknown option %s\nTry 'quarry --help' for more information.\n",
                         args.forQt[static_cast<size_t>(i)]);
            return kExitUsage;
        }
        named << arg;
    }
    named << args.named;
    // A file-size limit turns into a failed write that is reported, not into a killed process.
    std::signal(SIGXFSZ, SIG_IGN);

    QtUi ui;
    Session session(ui);
    Drives drives;
    MainWindow window(session, ui);
    window.setDrives(&drives);
    ui.attach(&session, &window);

    const ImageAccess access = args.write ? ImageAccess::ReadWrite : ImageAccess::ReadOnly;
    for (const QString& path : named) {
        QString why;
        if (drives.addImage(path, why, access).empty() || !why.isEmpty()) QMessageBox::warning(nullptr, kProgramTitle, why);
    }

    if (!StartDevices(session, ui, drives)) {
        if (ui.fatalReported()) return 1;
        // Started from a desktop menu there is nothing on the command line: offer an image.
        const bool nothingFound = drives.images->imageCount() == 0 && drives.bus.adapters.size() == 1;
        QString chosen;
        ImageAccess chosenAccess = ImageAccess::ReadOnly;
        if (nothingFound) chosen = MainWindow::chooseImage(nullptr, chosenAccess);
        QString why;
        if (chosen.isEmpty() || drives.addImage(chosen, why, chosenAccess).empty() ||
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
