// The desktop program driven through its real widgets, offscreen: clicks, keys, menus, dialogs
// and what the window paints.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMenuBar>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/command_ids.h"
#include "app/session.h"
#include "gui/client_area.h"
#include "gui/help_viewer.h"
#include "gui/drives.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "gui/timed_message.h"
#include "program.h"
#include "support/fixture_path.h"
#include "support/temp_dir.h"

using namespace quarry;
using namespace quarry::gui;

namespace {

using quarry::gui::test::onNextModal;
using quarry::gui::test::Program;

void clickControl(QWidget* dialog, int id) {
    auto* b = dialog->findChild<QAbstractButton*>(QString::number(id));
    QVERIFY2(b, qPrintable(QString("no control %1 in %2").arg(id).arg(dialog->objectName())));
    b->click();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void layoutAndStartUpStates() {
        Program p("basic.hfs");
        QCOMPARE(p.window.size(), QSize(640, 425));
        QCOMPARE(p.window.windowTitle(), QString("Quarry : Test Vol"));
        // Five buttons on the bar: 10 px per caption character and 20 more, 13 px apart.
        QPushButton* copy = p.window.functionButton(command::kCopyToPc);
        QVERIFY(copy);
        QCOMPARE(copy->geometry(), QRect(12, 4, 10 * 7 + 20, 25));
        QCOMPARE(p.window.functionButton(command::kAttributes)->geometry().left(), 12 + 90 + 13);
        QVERIFY(copy->isEnabled());
        QVERIFY(!p.window.functionButton(command::kAttributes)->isEnabled());
        QVERIFY(!p.window.functionButton(command::kParent)->isEnabled());
        QVERIFY(p.window.action(command::kVolumeInfo)->isEnabled());
        QVERIFY(p.window.action(command::kDataForkMode)->isChecked());
        QVERIFY(!p.window.action(command::kNextScreen)->isEnabled());
        QCOMPARE(p.window.statusLeft(), QString("Select a menu or press F1 for help..."));
    }

    void clickSelectsAndPaintsTheCellInverted() {
        Program p("basic.hfs");
        const uint16_t puzzle = p.indexOf("Puzzle");
        const QPoint at = p.cellCentre(puzzle);
        const QColor before = p.window.client()->grab().toImage().pixelColor(at.x(), at.y() - 5);
        QTest::mouseClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, at);
        QVERIFY(p.session.settings.list.entries[puzzle].selected());
        QVERIFY(p.window.functionButton(command::kAttributes)->isEnabled());
        QVERIFY(p.window.action(command::kCopyToPc)->isEnabled());
        const QColor after = p.window.client()->grab().toImage().pixelColor(at.x(), at.y() - 5);
        // The panel's light grey becomes its inverse.
        QCOMPARE(after.red(), 255 - before.red());
        QTest::mouseClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, at);
        QVERIFY(!p.session.settings.list.entries[puzzle].selected());
    }

    void doubleClickOpensAFolder() {
        Program p("basic.hfs");
        const QPoint at = p.cellCentre(p.indexOf("Docs"));
        QTest::mouseDClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(p.session.dir.currentName, std::string("Docs"));
        QVERIFY(p.window.functionButton(command::kParent)->isEnabled());
        QTest::mouseClick(p.window.functionButton(command::kParent), Qt::LeftButton);
        QCOMPARE(p.session.dir.currentName, std::string("Root  "));
    }

    void keysRunTheirCommands() {
        Program p("basic.hfs");
        QTest::keyClick(&p.window, Qt::Key_F10, Qt::ControlModifier);
        QCOMPARE(CountSelectedEntries(p.session.settings.list), p.session.settings.list.entryCount);
        QTest::keyClick(&p.window, Qt::Key_F10);
        QCOMPARE(CountSelectedEntries(p.session.settings.list), uint16_t{0});
        QTest::keyClick(&p.window, Qt::Key_E, Qt::AltModifier);
        QVERIFY(p.window.action(command::kExtendedListing)->isChecked());
        QVERIFY(!p.window.action(command::kShortListing)->isChecked());
        QTest::keyClick(&p.window, Qt::Key_B, Qt::AltModifier);
        QVERIFY(p.window.action(command::kMacBinaryMode)->isChecked());
        QCOMPARE(p.session.settings.optionWord & opt::kCopyModeMask, opt::kCopyMacBinary);
    }

    void pagingThroughABigFolder() {
        Program p("many.hfs");
        QTest::mouseDClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, p.cellCentre(p.indexOf("Big Folder")));
        p.window.client()->grab().toImage();  // a paint decides what the screen holds
        QVERIFY(p.window.action(command::kNextScreen)->isEnabled());
        QTest::keyClick(&p.window, Qt::Key_PageDown);
        p.window.client()->grab().toImage();
        QCOMPARE(p.session.settings.list.firstShown, uint16_t{36});
        QVERIFY(p.window.action(command::kPrecedingScreen)->isEnabled());
        QVERIFY(p.window.action(command::kFirstScreen)->isEnabled());
        // An entry of the second screen is the one clicked, not its twin on the first.
        const QPoint at = p.cellCentre(40);
        QTest::mouseClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, at);
        QVERIFY(p.session.settings.list.entries[40].selected());
        QVERIFY(!p.session.settings.list.entries[4].selected());
        QTest::keyClick(&p.window, Qt::Key_PageUp);
        p.window.client()->grab().toImage();
        QCOMPARE(p.session.settings.list.firstShown, uint16_t{0});
        QVERIFY(!p.window.action(command::kPrecedingScreen)->isEnabled());
        QVERIFY(!p.window.action(command::kFirstScreen)->isEnabled());
    }

    void menuHelpOnTheStatusBar() {
        Program p("basic.hfs");
        p.window.action(command::kSelectDrive)->hover();
        QCOMPARE(p.window.statusLeft(), QString("Select the drive holding the Macintosh volume."));
        p.window.action(command::kSignatureListing)->hover();
        QCOMPARE(p.window.statusLeft(),
                 QString("Wide listing with length of data and resources, plus signature (creator/type) string."));
    }

    void contextMenuGreysDumpAndAttributesForAFolder() {
        Program p("basic.hfs");
        bool dumpEnabled = true, attributesEnabled = true, shown = false;
        auto* timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [&, timer] {
            QMenu* menu = p.window.contextMenu();
            if (!menu->isVisible()) return;
            timer->stop();
            timer->deleteLater();
            shown = true;
            for (QAction* a : menu->actions()) {
                if (a->data().toInt() == command::kDump) dumpEnabled = a->isEnabled();
                if (a->data().toInt() == command::kAttributes) attributesEnabled = a->isEnabled();
            }
            menu->close();
        });
        timer->start();
        QTest::mouseClick(p.window.client(), Qt::RightButton, Qt::NoModifier, p.cellCentre(p.indexOf("Docs")));
        QVERIFY(shown);
        QVERIFY(!dumpEnabled);
        QVERIFY(!attributesEnabled);
        QVERIFY(p.session.settings.list.entries[p.indexOf("Docs")].selected());
    }

    void closingTheContextMenuBringsBackTheIdleText() {
        Program p("basic.hfs");
        QString hovered;
        bool shown = false;
        auto* timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [&, timer] {
            QMenu* menu = p.window.contextMenu();
            if (!menu->isVisible()) return;
            timer->stop();
            timer->deleteLater();
            shown = true;
            for (QAction* a : menu->actions())
                if (a->data().toInt() == command::kCopyToPc) menu->setActiveAction(a);
            hovered = p.window.statusLeft();
            QTest::keyClick(menu, Qt::Key_Escape);
        });
        timer->start();
        QTest::mouseClick(p.window.client(), Qt::RightButton, Qt::NoModifier, p.cellCentre(p.indexOf("Puzzle")));
        QVERIFY(shown);
        QCOMPARE(hovered, QString("Copy files or directories from the Macintosh volume to the PC."));
        QCOMPARE(p.window.statusLeft(), QString("Select a menu or press F1 for help..."));
    }

    void onlyTheItemsWithACheckMarkAreCheckable() {
        Program p("basic.hfs");
        // The copy modes, Use Current Directory, the listing modes and Log File.
        const QList<int> marked = {121, 122, 123, 125, 128, 131, 138, 142};
        QList<int> checkable;
        for (QAction* popup : p.window.menuBar()->actions()) {
            QVERIFY(popup->menu());
            for (QAction* a : popup->menu()->actions())
                if (a->isCheckable()) checkable << a->data().toInt();
        }
        std::sort(checkable.begin(), checkable.end());
        QCOMPARE(checkable, marked);
    }

    void namingCancelRestoresAndPortsCancelKeeps() {
        Program p("basic.hfs");
        onNextModal([](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_OPT"));
            clickControl(d, 401);
            clickControl(d, 100);
        });
        p.window.runCommand(command::kFileNaming);
        QCOMPARE(p.session.settings.namingMode(), NamingMode::Long);
        onNextModal([](QWidget* d) {
            clickControl(d, 402);
            clickControl(d, 101);
        });
        p.window.runCommand(command::kFileNaming);
        QCOMPARE(p.session.settings.namingMode(), NamingMode::AskEachFile);

        onNextModal([](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_PORT"));
            clickControl(d, 505);
            clickControl(d, 100);
        });
        p.window.runCommand(command::kOutputPorts);
        QCOMPARE(p.session.settings.destinationSetting >> 8, 5);
        // The naming mode in the low byte stayed.
        QCOMPARE(p.session.settings.namingMode(), NamingMode::AskEachFile);
    }

    void logDialogCreatesOpensAndCloses() {
        quarry::test::TempDir dir;
        const std::string old = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        Program p("basic.hfs");
        onNextModal([](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_FLOG"));
            QVERIFY(!d->findChild<QPushButton*>("146")->isEnabled());
            clickControl(d, 144);
            QVERIFY(!d->findChild<QPushButton*>("144")->isEnabled());
            QVERIFY(d->findChild<QPushButton*>("146")->isEnabled());
            clickControl(d, 101);
        });
        p.window.runCommand(command::kLogFile);
        QVERIFY(p.session.log.isOpen());
        QVERIFY(p.window.action(command::kLogFile)->isChecked());
        QTest::mouseDClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, p.cellCentre(p.indexOf("Docs")));
        onNextModal([](QWidget* d) {
            clickControl(d, 146);
            clickControl(d, 100);
        });
        p.window.runCommand(command::kLogFile);
        QVERIFY(!p.session.log.isOpen());
        QVERIFY(!p.window.action(command::kLogFile)->isChecked());
        std::ifstream in("quarryrm.log", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::filesystem::current_path(old);
        QCOMPARE(QString::fromStdString(text.str()), QString("*cd Docs\r\n"));
    }

    void quitAsksFirst() {
        Program p("basic.hfs");
        onNextModal([](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_QUIT"));
            clickControl(d, 129);
        });
        p.window.close();
        QVERIFY(p.window.isVisible());
        onNextModal([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
        QTest::keyClick(&p.window, Qt::Key_Escape);
        QVERIFY(p.window.isVisible());
        onNextModal([](QWidget* d) { QTest::keyClick(d, Qt::Key_Return); });
        p.window.close();
        QVERIFY(!p.window.isVisible());
    }

    void commandLineRunsOneCommand() {
        Program p("basic.hfs");
        // Esc leaves with the line unread; Enter in the field runs it, as Execute does.
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
            onNextModal([key](QWidget* d) {
                QCOMPARE(d->objectName(), QString("DLG_COMM"));
                auto* field = d->findChild<QLineEdit*>("150");
                QVERIFY(field->text().isEmpty());
                QTest::keyClicks(field, "cd docs");
                QTest::keyClick(field, key);
            });
            QTest::keyClick(&p.window, Qt::Key_C, Qt::AltModifier);
            QCOMPARE(p.session.dir.currentName, std::string(key == Qt::Key_Escape ? "Root  " : "Docs"));
        }
        QVERIFY(p.window.functionButton(command::kRoot)->isEnabled());
    }

    void volumeInformationShowsTheSheet() {
        Program p("basic.hfs");
        QString size, mdb;
        onNextModal([&](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_INFO"));
            size = d->findChild<QLabel*>("500")->text();
            mdb = d->findChild<QLabel*>("502")->text();
            clickControl(d, 101);
        });
        p.window.runCommand(command::kVolumeInfo);
        QCOMPARE(size, QString("1471488"));
        QCOMPARE(mdb, QString("2"));
    }

    void timedMessageClosesItselfAndIsLogged() {
        quarry::test::TempDir dir;
        Program p("basic.hfs");
        p.session.log.stream = std::fopen(dir.file("t.log").c_str(), "wb");
        TimedMessage::timeoutMs = 50;
        p.ui.showTimedMessage("Not enough space on the volume.");
        TimedMessage::timeoutMs = TimedMessage::kTimeoutMs;
        std::fclose(p.session.log.stream);
        p.session.log.stream = nullptr;
        std::ifstream in(dir.file("t.log"), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        QCOMPARE(QString::fromStdString(text.str()), QString("#Not enough space on the volume.\n"));
    }

    void progressBarAtHalfway() {
        Program p("basic.hfs");
        p.window.setProgress(5, 10);
        const QImage image = p.window.client()->grab().toImage();
        const MainWindowLayout layout = MainWindowLayoutOf(p.window.model().geometry);
        const Rect bar = layout.progressBar;
        const int y = bar.top + 3;
        // Inside the one-pixel frame: 100 px done (inverted, dark) then 100 px to go (light).
        QCOMPARE(image.pixelColor(bar.left, y), QColor(Qt::black));
        QVERIFY(image.pixelColor(bar.left + 5, y).red() < 100);
        QVERIFY(image.pixelColor(bar.left + 1 + 150, y).red() > 150);
        QCOMPARE(p.window.progressPercent(), 50);
    }

    void clicksHitTheirEntryInEveryListingMode() {
        Program p("many.hfs");
        QTest::mouseDClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, p.cellCentre(p.indexOf("Big Folder")));
        for (int mode : {command::kShortListing, command::kExtendedListing, command::kSignatureListing}) {
            p.window.runCommand(mode);
            QVERIFY(p.window.action(mode)->isChecked());
            for (uint16_t index : {uint16_t{0}, uint16_t{1}, uint16_t{17}}) {
                const QPoint at = p.cellCentre(index);
                QVERIFY(at.x() >= 0);
                QTest::mouseClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, at);
                QVERIFY2(p.session.settings.list.entries[index].selected(), qPrintable(QString("mode %1 entry %2").arg(mode).arg(index)));
                QCOMPARE(CountSelectedEntries(p.session.settings.list), uint16_t{1});
                QTest::mouseClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, at);
            }
        }
        // Below the last row nothing is hit.
        QTest::mouseClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, QPoint(20, p.window.client()->height() - 25));
        QCOMPARE(CountSelectedEntries(p.session.settings.list), uint16_t{0});
    }

    void driveDialogChoosesAmongSeveralDrives() {
        Program p("basic.hfs");
        QString why;
        QVERIFY(p.drives.addImage(QString::fromStdString(quarry::test::fixturePath("hybrid.iso")), why) == 1);
        QStringList entries;
        onNextModal([&](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_CD"));
            auto* list = d->findChild<QComboBox*>("999");
            for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
            list->setCurrentIndex(1);
            clickControl(d, 101);
        });
        QTest::keyClick(&p.window, Qt::Key_D, Qt::AltModifier);
        QCOMPARE(entries.size(), 2);
        QVERIFY2(entries[0].startsWith("[0|0] QUARRY - basic.hfs"), qPrintable(entries[0]));
        QVERIFY2(entries[1].startsWith("[0|1] QUARRY - hybrid.iso"), qPrintable(entries[1]));
        QCOMPARE(int{p.session.device.targetId}, 1);
        QVERIFY(p.window.windowTitle() != QString("Quarry : Test Vol"));
        QVERIFY(p.indexOf("Docs") != kNoIndex);
        QVERIFY(p.indexOf("aardvark") == kNoIndex);
    }

    void f1OpensTheHelpIndex() {
        Program p("basic.hfs");
        QCOMPARE(shownHelpKey(), QString());
        QTest::keyClick(&p.window, Qt::Key_F1);
        QCOMPARE(shownHelpKey(), QString("index"));
    }

    void targetChooserMovesAndConfirms() {
        quarry::test::TempDir dir;
        std::filesystem::create_directory(dir.file("archive"));
        const std::string old = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        Program p("basic.hfs");
        onNextModal([](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_DEST"));
            auto* list = d->findChild<QListWidget*>("1133");
            QListWidgetItem* archive = nullptr;
            for (int i = 0; i < list->count(); ++i)
                if (list->item(i)->text() == "[archive]") archive = list->item(i);
            QVERIFY(archive);
            emit list->itemDoubleClicked(archive);
            QVERIFY(d->findChild<QLabel*>("1131")->text().endsWith("/archive/"));
            clickControl(d, 113);
        });
        p.window.runCommand(command::kDestination);
        const std::string now = std::filesystem::current_path();
        QVERIFY(p.window.action(command::kUseCurrentDirectory)->isChecked());
        QVERIFY(p.session.settings.useCurrentDirectory);
        // Leaving it with Esc unchecks "Use Current Directory", and copies ask again.
        onNextModal([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
        p.window.runCommand(command::kDestination);
        std::filesystem::current_path(old);
        QCOMPARE(QString::fromStdString(now), QString::fromStdString(dir.file("archive")));
        QVERIFY(!p.window.action(command::kUseCurrentDirectory)->isChecked());
        QVERIFY(!p.session.settings.useCurrentDirectory);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
