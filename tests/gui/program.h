#pragma once
// One desktop program for a test: its session, drives and main window, started on a fixture
// volume as at start-up; and a way to answer the modal dialogs the code under test opens.

#include <QApplication>
#include <QTimer>

#include <functional>
#include <string>

#include "app/main_window_model.h"
#include "app/session.h"
#include "gui/drives.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "gui/startup.h"
#include "support/fixture_path.h"

namespace quarry::gui::test {

struct Program {
    QtUi ui;
    Session session{ui};
    Drives drives;
    MainWindow window{session, ui};

    explicit Program(const char* fixture) {
        window.setDrives(&drives);
        ui.attach(&session, &window);
        QString why;
        drives.addImage(QString::fromStdString(quarry::test::fixturePath(fixture)), why);
        StartDevices(session, ui, drives);
        window.show();
        window.mountSelected();
        QApplication::processEvents();
    }

    uint16_t indexOf(const std::string& name) const {
        const FileList& l = session.settings.list;
        for (uint16_t i = 0; i < l.entryCount; ++i)
            if (l.entries[i].name() == name) return i;
        return kNoIndex;
    }
    void select(const std::string& name) {
        SelectEntry(session, indexOf(name));
        window.updateCommandStates();
    }
    // The centre of the cell of entry index (which must be on the screen).
    QPoint cellCentre(uint16_t index) {
        const MainWindowPaint plan = PlanMainWindowPaint(session, window.model());
        for (const ListCell& c : plan.cells)
            if (c.index == index) return QPoint((c.cell.left + c.cell.right) / 2, (c.cell.top + c.cell.bottom) / 2);
        return QPoint(-1, -1);
    }
};

// Runs f on the next modal dialog once it is shown, while the code under test waits in exec().
inline void onNextModal(std::function<void(QWidget*)> f) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, f] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            f(w);
        }
    });
    timer->start();
}

}  // namespace quarry::gui::test
