// The dump window and the attribute dialogs, driven through their widgets.

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

#include <functional>

#include "app/command_ids.h"
#include "app/session.h"
#include "dump/dump_model.h"
#include "gui/drives.h"
#include "gui/dump_window.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "program.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"

using namespace quarry;
using namespace quarry::gui;

namespace {

using quarry::gui::test::onNextModal;
using quarry::gui::test::Program;

QString hexOf(const std::string& bytes, size_t from, size_t n) {
    QStringList parts;
    for (size_t i = from; i < from + n && i < bytes.size(); ++i)
        parts << QString("%1").arg(static_cast<uint8_t>(bytes[i]), 2, 16, QChar('0'));
    return parts.join(' ');
}

// Whether the band of rows [top, top + height) holds dark pixels of text. Its first two rows are
// left out: the descenders of the line above reach into them.
bool hasInk(const QImage& image, int top, int height) {
    for (int y = top + 2; y < top + height && y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).red() < 128) return true;
    return false;
}

}  // namespace

class DumpWindowTest : public QObject {
    Q_OBJECT
private slots:
    void showsTheForkAndScrolls() {
        Program p("basic.hfs");
        const std::string data = quarry::test::hcopyData(quarry::test::fixturePath("basic.hfs"), ":Big Forks");
        QVERIFY(data.size() == 5000);
        DumpWindow dump(&p.window, p.ui, p.session);
        QVERIFY(dump.open("Big Forks"));
        QCOMPARE(dump.windowTitle(), QString("Dumping file \"Big Forks\""));
        QCOMPARE(dump.size(), QSize(615, 435));
        QVERIFY(dump.action(100)->isChecked());
        QVERIFY(dump.action(101)->isEnabled());
        QVERIFY(dump.action(200)->isChecked());
        QVERIFY(dump.action(401)->isChecked());
        // The first line: offset, then the first eight bytes, an extra space, the next eight.
        const QString line0 = QString::fromStdString(dumpLineToUtf8(dumpLine(dump.model(), 0)));
        QVERIFY2(line0.startsWith("00000000 " + hexOf(data, 0, 8) + "  " + hexOf(data, 8, 8)), qPrintable(line0));
        QVERIFY(QString::fromStdString(dumpLineToUtf8(dumpLine(dump.model(), 2))).startsWith("00000032"));

        dump.runCommand(402);
        QVERIFY(dump.action(402)->isChecked() && !dump.action(401)->isChecked());
        QVERIFY(QString::fromStdString(dumpLineToUtf8(dumpLine(dump.model(), 2))).startsWith("00000020"));

        QTest::keyClick(&dump, Qt::Key_PageDown);
        QCOMPARE(dump.model().position, uint32_t{512});
        const QString moved = QString::fromStdString(dumpLineToUtf8(dumpLine(dump.model(), 0)));
        QVERIFY2(moved.startsWith("00000200 " + hexOf(data, 512, 8)), qPrintable(moved));
        QCOMPARE(dump.scrollBar()->value(), static_cast<int>(512 / dump.model().scrollUnit));
        QTest::keyClick(&dump, Qt::Key_Home);
        QCOMPARE(dump.model().position, uint32_t{0});

        // The resource fork, then back.
        dump.runCommand(101);
        QVERIFY(dump.action(101)->isChecked() && !dump.action(100)->isChecked());
        QCOMPARE(dump.model().position, uint32_t{0});
        dump.runCommand(100);
        QVERIFY(dump.action(100)->isChecked());

        // The lines stand in four groups of eight with an empty slot between groups: slots 8, 17
        // and 26 stay empty, and each of the 32 lines has ink in its own slot.
        const QImage image = dump.view()->grab().toImage();
        const int step = dump.view()->lineStep();
        for (int slot = 0; slot < 35; ++slot) {
            const bool gap = slot % 9 == 8;
            QVERIFY2(image.height() >= (slot + 1) * step, qPrintable(QString("slot %1 outside the view").arg(slot)));
            QVERIFY2(hasInk(image, slot * step, step) != gap, qPrintable(QString("slot %1").arg(slot)));
        }
    }

    void menuCommandOpensTheDumpAndRebuildsTheList() {
        Program p("basic.hfs");
        p.select("Puzzle");
        p.select("Big Forks");
        QString title;
        onNextModal([&](QWidget* d) {
            QCOMPARE(d->objectName(), QString("filedump"));
            title = d->windowTitle();
            auto* dump = static_cast<DumpWindow*>(d);
            dump->runCommand(103);
        });
        QTest::mouseClick(p.window.functionButton(command::kDump), Qt::LeftButton);
        // The dump takes the first selected entry; the other one is deselected only because the
        // list is built again afterwards.
        QCOMPARE(title, QString("Dumping file \"Big Forks\""));
        QCOMPARE(CountSelectedEntries(p.session.settings.list), uint16_t{0});
    }

    void attributesShowTheRecordAndWriteNothing() {
        Program p("basic.hfs");
        p.select("Puzzle");
        QString type, creator, data, rsrc, fileNumber;
        QStringList created, modified;
        bool writeEnabled = true;
        onNextModal([&](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_ATTR"));
            type = d->findChild<QLineEdit*>("539")->text();
            creator = d->findChild<QLineEdit*>("538")->text();
            for (int i = 0; i < 5; ++i) {
                created << d->findChild<QLineEdit*>(QString::number(118 + i))->text();
                modified << d->findChild<QLineEdit*>(QString::number(123 + i))->text();
            }
            data = d->findChild<QLabel*>("536")->text();
            rsrc = d->findChild<QLabel*>("537")->text();
            writeEnabled = d->findChild<QPushButton*>("540")->isEnabled();
            onNextModal([&](QWidget* advanced) {
                QCOMPARE(advanced->objectName(), QString("DLG_ATT2"));
                fileNumber = advanced->findChild<QLabel*>("547")->text();
                advanced->findChild<QPushButton*>("101")->click();
            });
            d->findChild<QPushButton*>("130")->click();
            d->findChild<QPushButton*>("541")->click();
        });
        QTest::keyClick(&p.window, Qt::Key_A, Qt::AltModifier);
        QCOMPARE(type, QString("APPL"));
        QCOMPARE(creator, QString("MACS"));
        QCOMPARE(data, QString("1200"));
        QCOMPARE(rsrc, QString("1080"));
        // Day, month, years since 1900, hour, minute, as the fixture script dated the file.
        QCOMPARE(created, QStringList({"17", "5", "92", "9", "30"}));
        QCOMPARE(modified, QStringList({"2", "11", "93", "14", "45"}));
        QVERIFY(!writeEnabled);
        const auto oracle = quarry::test::hlsList(quarry::test::fixturePath("basic.hfs"), ":Puzzle");
        QCOMPARE(oracle.size(), size_t{1});
        QCOMPARE(fileNumber, QString::number(oracle[0].catalogId));
    }
};

QTEST_MAIN(DumpWindowTest)
#include "dump_window_test.moc"
