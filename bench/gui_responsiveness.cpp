// How the desktop program answers during a long copy: a 200 MB file copied through the main
// window's "Mac->PC" command, with Esc pressed 20 ms after the copy starts. Prints how often
// the window was served (wait-cursor steps, each of which paints what is pending) and how long
// Esc waited for its question.
//
//   bench/make_volumes.sh /tmp/quarry-bench
//   QT_QPA_PLATFORM=offscreen build/bench/quarry_gui_responsiveness /tmp/quarry-bench/large.iso

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/command_ids.h"
#include "app/session.h"
#include "gui/client_area.h"
#include "gui/drives.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "gui/startup.h"

using namespace quarry;
using namespace quarry::gui;
using Clock = std::chrono::steady_clock;

class TimingUi : public QtUi {
public:
    void stepWaitCursor() override {
        steps.push_back(Clock::now());
        QtUi::stepWaitCursor();
    }
    bool ask(const std::string&, Question) override {
        asked = Clock::now();
        return true;
    }
    std::vector<Clock::time_point> steps;
    Clock::time_point asked{};
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) return 2;
    TimingUi ui;
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

    const std::filesystem::path target = std::filesystem::temp_directory_path() / "quarry-responsiveness";
    std::filesystem::remove_all(target);
    std::filesystem::create_directories(target);
    std::filesystem::current_path(target);
    session.settings.useCurrentDirectory = true;
    for (uint16_t i = 0; i < session.settings.list.entryCount; ++i)
        if (session.settings.list.entries[i].name() == "large.bin" || session.settings.list.entries[i].name() == "zz.txt")
            SelectEntry(session, i);

    Clock::time_point pressed{};
    QTimer::singleShot(20, &window, [&] {
        pressed = Clock::now();
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(window.client(), &down);
    });
    const auto start = Clock::now();
    // The timer fires inside the copy, while the wait cursor serves the event loop.
    window.runCommand(command::kCopyToPc);
    const auto end = Clock::now();

    double maxGap = 0;
    for (size_t i = 1; i < ui.steps.size(); ++i)
        maxGap = std::max(maxGap, std::chrono::duration<double, std::milli>(ui.steps[i] - ui.steps[i - 1]).count());
    std::printf("copy: %.1f ms, %zu wait-cursor steps, longest gap between steps %.2f ms\n",
                std::chrono::duration<double, std::milli>(end - start).count(), ui.steps.size(), maxGap);
    if (pressed != Clock::time_point{} && ui.asked != Clock::time_point{})
        std::printf("Esc pressed at %.1f ms, question asked %.1f ms later\n",
                    std::chrono::duration<double, std::milli>(pressed - start).count(),
                    std::chrono::duration<double, std::milli>(ui.asked - pressed).count());
    else
        std::printf("Esc was not polled before the copy ended\n");
    for (const auto& e : std::filesystem::directory_iterator(target))
        std::printf("copied %s: %ju bytes\n", e.path().filename().c_str(), static_cast<uintmax_t>(e.file_size()));
    std::filesystem::current_path("/");
    std::filesystem::remove_all(target);
    return 0;
}
