// The desktop program driven through its real widgets, offscreen: clicks, keys, menus, every
// dialog's ways out, the dump window, and what the windows paint.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "app/command_ids.h"
#include "app/dialog_controls.h"
#include "app/main_window_model.h"
#include "app/session.h"
#include "common/messages.h"
#include "commands/attributes.h"
#include "dialogs/naming_dialog.h"
#include "dialogs/target_chooser.h"
#include "dump/dump_model.h"
#include "gui/attribute_dialogs.h"
#include "gui/client_area.h"
#include "gui/drives.h"
#include "gui/dump_window.h"
#include "gui/help_viewer.h"
#include "gui/main_window.h"
#include "gui/option_dialogs.h"
#include "gui/qt_ui.h"
#include "gui/simple_dialogs.h"
#include "gui/startup.h"
#include "gui/target_dialog.h"
#include "gui/timed_message.h"
#include "support/cli_run.h"
#include "support/fixture_path.h"
#include "support/hfs_oracle.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

using namespace quarry;
using namespace quarry::gui;

namespace {

// One desktop program for a test: its session, drives and main window, started on a fixture
// volume as at start-up.
struct Program {
    QtUi ui;
    Session session{ui};
    Drives drives;
    MainWindow window{session, ui};

    explicit Program(const char* fixture) : Program(quarry::test::fixturePath(fixture), ImageAccess::ReadOnly) {}

    Program(const std::string& image, ImageAccess access) {
        window.setDrives(&drives);
        ui.attach(&session, &window);
        QString why;
        drives.addImage(QString::fromStdString(image), why, access);
        StartDevices(session, ui, drives);
        window.show();
        window.mountSelected();
        QApplication::processEvents();
    }

    // The entry of that name, as the volume stores it or as the row shows it.
    uint16_t indexOf(const std::string& name) const {
        const FileList& l = session.settings.list;
        for (uint16_t i = 0; i < l.entryCount; ++i)
            if (l.entries[i].name() == name || l.shownNameOf(i) == name) return i;
        return kNoIndex;
    }
    void select(const std::string& name) {
        SelectEntry(session, indexOf(name));
        window.updateCommandStates();
    }
    void doubleClick(const std::string& name) {
        QTest::mouseDClick(window.client(), Qt::LeftButton, Qt::NoModifier, cellCentre(indexOf(name)));
    }
    // The centre of the cell of entry index (which must be on the screen).
    QPoint cellCentre(uint16_t index) {
        const MainWindowPaint plan = PlanMainWindowPaint(session, window.model());
        for (const ListCell& c : plan.cells)
            if (c.index == index) return QPoint((c.cell.left + c.cell.right) / 2, (c.cell.top + c.cell.bottom) / 2);
        return QPoint(-1, -1);
    }
};

// Runs f on the window's context menu once a right click has opened it.
class OnContextMenu {
public:
    OnContextMenu(MainWindow& window, std::function<void(QMenu*)> f) {
        QObject::connect(&timer_, &QTimer::timeout, [this, &window, f] {
            if (!window.contextMenu()->isVisible()) return;
            timer_.stop();
            f(window.contextMenu());
        });
        timer_.start(10);
    }

private:
    QTimer timer_;
};

// Runs f on the next modal dialog once it is shown, while the code under test waits in exec().
void onNextModal(std::function<void(QWidget*)> f) {
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

// Answers the modal windows that the code under test opens, one step each, in order, and notes
// what each window was: a dialog's template name and title, a message box's text. A window that
// its step leaves open, or one beyond the steps, is noted and closed, so that an unexpected
// dialog fails the test instead of hanging it.
class ModalAnswers {
public:
    using Step = std::function<void(QWidget*)>;

    explicit ModalAnswers(std::vector<Step> steps) : steps_(std::move(steps)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start(10);
    }
    const QStringList& shown() const { return shown_; }

private:
    void answer() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w == last_) return;
        last_ = w;
        auto* box = qobject_cast<QMessageBox*>(w);
        shown_ << (box ? box->text() : w->objectName() + " " + w->windowTitle());
        if (next_ < steps_.size()) steps_[next_++](w);
        else shown_ << "(not expected)";
        if (w->isVisible()) {
            shown_ << "(left open)";
            if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
        }
    }

    std::vector<Step> steps_;
    size_t next_ = 0;
    QPointer<QWidget> last_;
    QStringList shown_;
    QTimer timer_;
};

ModalAnswers::Step pressBoxButton(QMessageBox::StandardButton button) {
    return [button](QWidget* w) { static_cast<QMessageBox*>(w)->button(button)->click(); };
}

// Chooses an image in the chooser of "Open Image...", whose box for writing starts unticked.
ModalAnswers::Step chooseImage(const std::string& image, bool forWriting = false) {
    return [image, forWriting](QWidget* w) {
        auto* chooser = qobject_cast<QFileDialog*>(w);
        QVERIFY(chooser);
        QVERIFY(!chooser->findChild<QCheckBox*>("OpenForWriting")->isChecked());
        chooser->findChild<QCheckBox*>("OpenForWriting")->setChecked(forWriting);
        chooser->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(image));
        static_cast<QDialog*>(chooser)->accept();  // as the Open button does
    };
}

// The names in a folder as hls lists them, folders marked with a trailing ":".
std::set<std::string> hlsNames(const std::string& image, const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : quarry::test::hlsList(image, folder)) names.insert(e.name + (e.isFolder ? ":" : ""));
    return names;
}

// Drags the PC paths onto the main window and drops them there, as a file manager does, with
// the move it proposes; false when the window refused the drag.
bool dropOn(MainWindow& window, const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
    data.setUrls(urls);
    const QPointF at(window.width() / 2, window.height() / 2);
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at.toPoint(), offered, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted() || enter.dropAction() != Qt::CopyAction) return false;
    QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(&window, &drop);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

void clickControl(QWidget* dialog, int id) {
    auto* b = dialog->findChild<QAbstractButton*>(QString::number(id));
    QVERIFY2(b, qPrintable(QString("no control %1 in %2").arg(id).arg(dialog->objectName())));
    b->click();
}

// Alt+A on the selected file: its sheet's name and the texts of `fields`, then through Advanced
// the second sheet's name and the texts of `advanced`.
QStringList attributeSheets(Program& p, const QStringList& fields, const QStringList& advanced) {
    QStringList sheet;
    const auto read = [&sheet](QWidget* d, const QStringList& names) {
        sheet << d->objectName();
        for (const QString& name : names) {
            const QWidget* field = d->findChild<QWidget*>(name);
            sheet << (field ? field->property("text").toString() : "(no field " + name + ")");
        }
    };
    onNextModal([&](QWidget* d) {
        read(d, fields);
        onNextModal([&](QWidget* second) {
            read(second, advanced);
            clickControl(second, 101);
        });
        clickControl(d, 130);
        clickControl(d, 541);
    });
    QTest::keyClick(&p.window, Qt::Key_A, Qt::AltModifier);
    return sheet;
}

// Display on the selection: the dump window's name, its title and the fork's first five bytes;
// then its Quit closes it.
QStringList display(Program& p) {
    QStringList shown;
    onNextModal([&](QWidget* d) {
        const auto& buffer = static_cast<DumpWindow*>(d)->model().buffer;
        shown << d->objectName() << d->windowTitle() << QString::fromLatin1(reinterpret_cast<const char*>(buffer.data()), 5);
        static_cast<DumpWindow*>(d)->runCommand(103);
    });
    QTest::mouseClick(p.window.functionButton(command::kDump), Qt::LeftButton);
    return shown;
}

// What exec() returns when the press left the dialog open and the test ended it.
constexpr int kStillOpen = 42;
// A help row that opens no help.
constexpr const char* kNoHelp = "";

std::unique_ptr<QDialog> makeDialog(Program& p, const QString& name) {
    QWidget* owner = &p.window;
    if (name == "DLG_QUIT") return std::make_unique<QuitDialog>(owner, p.ui);
    if (name == "DLG_INFO") return std::make_unique<VolumeInfoDialog>(owner, p.ui, p.session);
    if (name == "DLG_COMM") return std::make_unique<CommandLineDialog>(owner, p.ui, p.session);
    if (name == "DLG_DEST") return std::make_unique<TargetDialog>(owner, p.ui, p.session, target::kOpenedFromMenu, "");
    if (name == "DLG_OPT") return std::make_unique<NamingDialog>(owner, p.ui, p.session);
    if (name == "DLG_PORT") return std::make_unique<PortDialog>(owner, p.ui, p.session);
    if (name == "DLG_FLOG") return std::make_unique<LogDialog>(owner, p.ui, p.session);
    VolumeEntry file;
    int found = 0;
    ShowFileAttributes(p.session, "Puzzle", [&](const VolumeEntry& e) {
        file = e;
        ++found;
    });
    if (found != 1) return nullptr;
    if (name == "DLG_ATTR") return std::make_unique<AttributesDialog>(owner, p.ui, p.session, file);
    if (name == "DLG_ATT2") return std::make_unique<AdvancedAttributesDialog>(owner, p.ui, p.session, file);
    return nullptr;
}

// The keys go where a person's keys go: to the widget that has the focus, and from there up
// to the dialog when that widget leaves them alone.
QWidget* keyTarget(QDialog* d) { return d->focusWidget() ? d->focusWidget() : d; }

// Whether the band of rows [top, top + height) holds dark pixels of text. Its first two rows are
// left out: the descenders of the line above reach into them.
bool hasInk(const QImage& image, int top, int height) {
    for (int y = top + 2; y < top + height && y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).red() < 128) return true;
    return false;
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT
private slots:
    // The window as it starts, a menu item's help on the status bar, the dialogs of the menu
    // commands (what the option dialogs change: eachWayOutIsTheModels), and Exit, which asks first.
    void startUpMenusAndQuit() {
        Program p("basic.hfs");
        QCOMPARE(p.window.size(), QSize(640, 425));
        QCOMPARE(p.window.windowTitle(), QString("Quarry : Test Vol"));
        QVERIFY(p.window.action(command::kDataForkMode)->isChecked());
        QCOMPARE(p.window.statusLeft(), QString("Select a menu or press F1 for help..."));
        p.window.action(command::kSelectDrive)->hover();
        QCOMPARE(p.window.statusLeft(), QString("Select the drive holding the Macintosh volume."));
        p.window.action(command::kSignatureListing)->hover();
        QCOMPARE(p.window.statusLeft(),
                 QString("Wide listing with length of data and resources, plus signature (creator/type) string."));
        QStringList opened;
        for (const int c : {command::kFileNaming, command::kOutputPorts, command::kVolumeInfo}) {
            onNextModal([&](QWidget* d) {
                opened << d->objectName();
                if (opened.last() == "DLG_INFO") opened << d->findChild<QLabel*>("500")->text() << d->findChild<QLabel*>("502")->text();
                clickControl(d, dlg::kOk);
            });
            p.window.runCommand(c);
        }
        QCOMPARE(opened, QStringList({"DLG_OPT", "DLG_PORT", "DLG_INFO", "1471488", "2"}));
        onNextModal([](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_QUIT"));
            clickControl(d, 129);
        });
        p.window.close();
        QVERIFY(p.window.isVisible());
        onNextModal([](QWidget* d) { QTest::keyClick(d, Qt::Key_Return); });
        QTest::keyClick(&p.window, Qt::Key_Escape);  // Exit
        QVERIFY(!p.window.isVisible());
    }

    void clickSelectsAndPaintsTheCellInverted() {
        Program p("basic.hfs");
        const uint16_t puzzle = p.indexOf("Puzzle");
        const auto red = [&](QPoint at) { return p.window.client()->grab().toImage().pixelColor(at.x(), at.y() - 5).red(); };
        const QPoint at = p.cellCentre(puzzle);
        const int background = red(at);
        QTest::mouseClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, at);
        QVERIFY(p.session.settings.list.entries[puzzle].selected());
        QVERIFY(p.window.functionButton(command::kAttributes)->isEnabled());
        QVERIFY(p.window.action(command::kCopyToPc)->isEnabled());
        // The panel's light grey becomes its inverse.
        QCOMPARE(red(at), 255 - background);
        // In the wide listings the row is inverted up to the right edge, past the last column.
        QTest::keyClick(&p.window, Qt::Key_E, Qt::AltModifier);
        const QPoint right(p.window.client()->width() - 6, p.cellCentre(puzzle).y());
        QCOMPARE(red(right), 255 - background);
        QTest::mouseClick(p.window.client(), Qt::LeftButton, Qt::NoModifier, p.cellCentre(puzzle));
        QVERIFY(!p.session.settings.list.entries[puzzle].selected());
        QVERIFY(!p.window.action(command::kCopyToPc)->isEnabled());
        QCOMPARE(red(right), background);
        // A double click on a file, as the platform delivers it, selects it as one click does
        // and opens nothing.
        QWindow* handle = p.window.windowHandle();
        const QPoint inWindow = handle->mapFromGlobal(p.window.client()->mapToGlobal(p.cellCentre(puzzle)));
        QTest::mouseDClick(handle, Qt::LeftButton, Qt::NoModifier, inWindow);
        QCOMPARE(CountSelectedEntries(p.session.settings.list), uint16_t{1});
        QVERIFY(p.session.settings.list.entries[puzzle].selected());
        QCOMPARE(p.session.dir.currentDirID, kRootDirId);
    }

    // A double click opens a folder; Open Folder takes the first selected folder and says so
    // when only files are selected; the Parent and Root buttons go up. The keys run their commands.
    void foldersAndKeys() {
        Program p("basic.hfs");
        p.doubleClick("Docs");
        QCOMPARE(p.session.dir.currentName, std::string("Docs"));
        QCOMPARE(CountSelectedEntries(p.session.settings.list), uint16_t{0});
        QVERIFY(p.window.functionButton(command::kParent)->isEnabled() && p.window.functionButton(command::kRoot)->isEnabled());
        QTest::mouseClick(p.window.functionButton(command::kParent), Qt::LeftButton);
        QCOMPARE(p.session.dir.currentName, std::string("Root  "));
        QVERIFY(!p.window.functionButton(command::kParent)->isEnabled());

        p.select("Read Me");
        p.window.runCommand(command::kOpenFolder);
        QCOMPARE(p.window.statusLeft(), QString::fromStdString(messageText(Msg::NoSelection)));
        QCOMPARE(p.session.dir.currentDirID, kRootDirId);
        p.select("Empty Folder");
        p.select("Docs");
        p.window.runCommand(command::kOpenFolder);
        QCOMPARE(p.session.dir.currentName, std::string("Docs"));
        p.doubleClick("Old Drafts");
        QCOMPARE(p.session.dir.currentName, std::string("Old Drafts"));
        QTest::mouseClick(p.window.functionButton(command::kParent), Qt::LeftButton);
        QCOMPARE(p.session.dir.currentName, std::string("Docs "));  // going up adds a space
        QTest::mouseClick(p.window.functionButton(command::kRoot), Qt::LeftButton);
        QCOMPARE(p.session.dir.currentDirID, kRootDirId);
        QCOMPARE(p.session.settings.list.entryCount, uint16_t{17});
        QVERIFY(!p.window.functionButton(command::kRoot)->isEnabled());

        // Select all, invert, deselect all; Display follows whether anything is selected.
        const FileList& list = p.session.settings.list;
        QTest::keyClick(&p.window, Qt::Key_F10, Qt::ControlModifier);
        QCOMPARE(CountSelectedEntries(list), list.entryCount);
        QVERIFY(p.window.functionButton(command::kDump)->isEnabled());
        QTest::keyClick(&p.window, Qt::Key_F10);
        QCOMPARE(CountSelectedEntries(list), uint16_t{0});
        QVERIFY(!p.window.functionButton(command::kDump)->isEnabled());
        p.select("Puzzle");
        QTest::keyClick(&p.window, Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(CountSelectedEntries(list), uint16_t(list.entryCount - 1));
        QVERIFY(!list.entries[p.indexOf("Puzzle")].selected());
        // One copy mode is checked at a time (the listing modes: pagingThroughABigFolder).
        for (const auto& [mode, bits] : {std::pair{command::kMacBinaryMode, opt::kCopyMacBinary},
                                         std::pair{command::kResourceForkMode, opt::kCopyResource},
                                         std::pair{command::kDataForkMode, opt::kCopyData}}) {
            p.window.runCommand(mode);
            for (int c : {command::kDataForkMode, command::kResourceForkMode, command::kMacBinaryMode})
                QCOMPARE(p.window.action(c)->isChecked(), c == mode);
            QCOMPARE(p.session.settings.optionWord & opt::kCopyModeMask, bits);
        }
        QCOMPARE(shownHelpKey(), QString());
        QTest::keyClick(&p.window, Qt::Key_F1);
        QCOMPARE(shownHelpKey(), QString("index"));
    }

    void pagingThroughABigFolder() {
        Program p("many.hfs");
        p.doubleClick("Big Folder");
        // A paint decides what the screen holds, and so which paging items are enabled.
        const auto shows = [&](int command, uint16_t first) {
            p.window.client()->grab().toImage();
            QCOMPARE(p.session.settings.list.firstShown, first);
            for (int c : {command::kShortListing, command::kExtendedListing, command::kSignatureListing})
                QCOMPARE(p.window.action(c)->isChecked(), c == command);
        };
        shows(command::kShortListing, 0);
        QTest::keyClick(&p.window, Qt::Key_PageDown);
        shows(command::kShortListing, 36);
        // The wide listings keep the first shown entry and page by 18; the short one starts its
        // screen at a multiple of 36; choosing the listing shown changes nothing.
        QTest::keyClick(&p.window, Qt::Key_E, Qt::AltModifier);
        shows(command::kExtendedListing, 36);
        QTest::keyClick(&p.window, Qt::Key_PageDown);
        shows(command::kExtendedListing, 54);
        QTest::keyClick(&p.window, Qt::Key_S, Qt::AltModifier);
        shows(command::kSignatureListing, 54);
        const uint16_t word = p.session.settings.optionWord;
        QTest::keyClick(&p.window, Qt::Key_S, Qt::AltModifier);
        shows(command::kSignatureListing, 54);
        QCOMPARE(p.session.settings.optionWord, word);
        p.window.runCommand(command::kShortListing);
        shows(command::kShortListing, 36);
        QTest::keyClick(&p.window, Qt::Key_PageUp);
        shows(command::kShortListing, 0);
        // Its 123 entries: the last short screen starts at 108, and its paint greys Next Screen.
        // (Each paging item's greying at the ends: Paging in tests/app.)
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(&p.window, Qt::Key_PageDown);
            p.window.client()->grab().toImage();
        }
        shows(command::kShortListing, 108);
        QVERIFY(!p.window.action(command::kNextScreen)->isEnabled());
    }

    void contextMenu_data() {
        QTest::addColumn<QString>("name");  // the entry clicked; empty: below the last row
        QTest::addColumn<bool>("folder");
        QTest::newRow("folder") << "Docs" << true;
        QTest::newRow("file") << "Puzzle" << false;
        QTest::newRow("nothing") << "" << false;
    }

    // A right click selects the entry and opens the context menu, with Dump and Attributes greyed
    // for a folder; an item shows its help, and closing the menu without a choice brings back
    // the idle text. Below the last row nothing opens.
    void contextMenu() {
        QFETCH(QString, name);
        QFETCH(bool, folder);
        Program p("basic.hfs");
        bool shown = false, dumpEnabled = false, attributesEnabled = false;
        QString hovered;
        const uint16_t index = name.isEmpty() ? kNoIndex : p.indexOf(name.toStdString());
        const QPoint at = name.isEmpty() ? QPoint(20, p.window.client()->height() - 25) : p.cellCentre(index);
        {
            OnContextMenu menuShown(p.window, [&](QMenu* menu) {
                shown = true;
                for (QAction* a : menu->actions()) {
                    if (a->data().toInt() == command::kDump) dumpEnabled = a->isEnabled();
                    if (a->data().toInt() == command::kAttributes) attributesEnabled = a->isEnabled();
                    if (a->data().toInt() == command::kCopyToPc) menu->setActiveAction(a);
                }
                hovered = p.window.statusLeft();
                QTest::keyClick(menu, Qt::Key_Escape);
            });
            QTest::mouseClick(p.window.client(), Qt::RightButton, Qt::NoModifier, at);
        }
        QCOMPARE(shown, !name.isEmpty());
        QCOMPARE(CountSelectedEntries(p.session.settings.list), uint16_t(shown ? 1 : 0));
        if (!shown) return;
        QVERIFY(p.session.settings.list.entries[index].selected());
        QCOMPARE(dumpEnabled, !folder);
        QCOMPARE(attributesEnabled, !folder);
        QCOMPARE(hovered, QString("Copy files or directories from the Macintosh volume to the PC."));
        QCOMPARE(p.window.statusLeft(), QString("Select a menu or press F1 for help..."));
    }

    // The log dialog: Create opens the log, after which Close is offered and Create is not, and,
    // with "Checksum manifest" ticked, a manifest beside it: the copies made while the log is
    // open get their lines in quarryrm.sha256, and the closing record names it.
    void logDialogKeepsALogAndAManifest() {
        quarry::test::CurrentTempDir dir;
        Program p("basic.hfs");
        onNextModal([](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_FLOG"));
            auto* box = d->findChild<QCheckBox*>("148");
            QVERIFY(box && box->isEnabled() && !box->isChecked());
            QVERIFY(!d->findChild<QPushButton*>("146")->isEnabled());
            box->click();
            clickControl(d, 144);
            QVERIFY(box->isChecked() && !box->isEnabled());
            QVERIFY(!d->findChild<QPushButton*>("144")->isEnabled() && d->findChild<QPushButton*>("146")->isEnabled());
            clickControl(d, 101);
        });
        p.window.runCommand(command::kLogFile);
        QVERIFY(p.session.log.isOpen());
        QVERIFY(p.window.action(command::kLogFile)->isChecked());
        p.window.runCommand(command::kUseCurrentDirectory);
        p.select("Docs");
        p.select("Puzzle");
        p.window.runCommand(command::kCopyToPc);
        onNextModal([](QWidget* d) {
            clickControl(d, 146);
            clickControl(d, 100);
        });
        p.window.runCommand(command::kLogFile);
        QVERIFY(!p.session.log.isOpen());
        QVERIFY(!p.window.action(command::kLogFile)->isChecked());
        const std::string manifest = quarry::test::slurp(dir.file("quarryrm.sha256"));
        QCOMPARE(std::count(manifest.begin(), manifest.end(), '\n'), 5L);
        QVERIFY2(manifest.find("  Docs/Old Drafts/Draft 2.txt\n") != std::string::npos, manifest.c_str());
        const std::string log = quarry::test::slurp(dir.file("quarryrm.log"));
        QVERIFY2(log.size() > 37 && log.substr(log.size() - 37) == " - manifest quarryrm.sha256: 5 files\n", log.c_str());
    }

    void commandLineRunsOneCommand() {
        Program p("basic.hfs");
        // Esc leaves with the line unread; Enter in the field runs it, as Execute does. The
        // line's /A sets both listing flags: the signature listing is shown.
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
            onNextModal([key](QWidget* d) {
                QCOMPARE(d->objectName(), QString("DLG_COMM"));
                auto* field = d->findChild<QLineEdit*>("150");
                QVERIFY(field->text().isEmpty());
                QTest::keyClicks(field, "cd docs /a");
                QTest::keyClick(field, key);
            });
            QTest::keyClick(&p.window, Qt::Key_C, Qt::AltModifier);
            QCOMPARE(p.session.dir.currentName, std::string(key == Qt::Key_Escape ? "Root  " : "Docs"));
            QCOMPARE(p.window.action(command::kSignatureListing)->isChecked(), key == Qt::Key_Return);
            QVERIFY(!p.window.action(command::kExtendedListing)->isChecked());
        }
        QVERIFY(p.window.functionButton(command::kRoot)->isEnabled());
    }

    // Each binary copy format chosen in the File Naming dialog becomes the session's, and so does
    // the flip of its MFS box; Cancel puts the ones before back. Binary Copy of a file with both
    // forks, a colour label and dates before 1970 then writes what quarry-cli writes with
    // --binary-format, name for name and byte for byte: once, in AppleDouble, whose pair the copy
    // names too (each format is read back by lsar, unar and hfsutils in copy_oracle_test).
    void binaryFormatChosenInTheNamingDialog() {
        quarry::test::CurrentTempDir dir;
        const std::string mine = dir.file("desktop"), theirs = dir.file("cli");
        std::filesystem::create_directory(mine);
        std::filesystem::create_directory(theirs);
        Program p("formats.hfs");
        for (const int format : {1, 2, 0, 4, 5, 3}) {  // mb2, mb3, mb1, applesingle, binhex, appledouble
            for (const int ending : {dlg::kCancel, dlg::kOk}) {
                const int before = static_cast<int>(p.session.settings.binaryFormat);
                const bool mfsBefore = p.session.settings.mfsFolders;
                onNextModal([&](QWidget* d) {
                    QVERIFY(d->findChild<QAbstractButton*>(QString::number(403 + before))->isChecked());
                    QCOMPARE(d->findChild<QAbstractButton*>(QString::number(namingdlg::kMfsFolders))->isChecked(), mfsBefore);
                    clickControl(d, 403 + format);
                    clickControl(d, namingdlg::kMfsFolders);
                    clickControl(d, ending);
                });
                p.window.runCommand(command::kFileNaming);
                QCOMPARE(static_cast<int>(p.session.settings.binaryFormat), ending == dlg::kOk ? format : before);
                QCOMPARE(p.session.settings.mfsFolders, ending == dlg::kOk ? !mfsBefore : mfsBefore);
            }
        }
        QTest::keyClick(&p.window, Qt::Key_B, Qt::AltModifier);
        p.session.settings.useCurrentDirectory = true;
        QVERIFY(::chdir(mine.c_str()) == 0);
        p.select("Runs");
        p.window.runCommand(command::kCopyToPc);
        QVERIFY(::chdir(dir.path().c_str()) == 0);
        const auto r = quarry::test::runCli({"--binary-format", "appledouble", "--to", theirs,
                                             quarry::test::fixturePath("formats.hfs"), "COPY /B Runs"});
        QVERIFY2(r.succeeded(), r.err.c_str());
        std::map<std::string, std::string> a, b;
        for (const auto& e : std::filesystem::directory_iterator(mine)) a[e.path().filename()] = quarry::test::slurp(e.path());
        for (const auto& e : std::filesystem::directory_iterator(theirs)) b[e.path().filename()] = quarry::test::slurp(e.path());
        QCOMPARE(a.size(), size_t{2});
        QVERIFY(a == b);
    }

    // A timed message closes itself and goes to the log; the progress bar fills from the left.
    void timedMessageAndProgressBar() {
        quarry::test::TempDir dir;
        Program p("basic.hfs");
        p.session.log.stream = std::fopen(dir.file("t.log").c_str(), "wb");
        TimedMessage::timeoutMs = 50;
        p.ui.showTimedMessage("Not enough space on the volume.");
        TimedMessage::timeoutMs = TimedMessage::kTimeoutMs;
        std::fclose(p.session.log.stream);
        p.session.log.stream = nullptr;
        QCOMPARE(QString::fromStdString(quarry::test::slurp(dir.file("t.log"))), QString("#Not enough space on the volume.\n"));

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

    // A zip archive of two images opened in the window gives two drives, and the drive dialog
    // asks which; Alt+D chooses among all three afterwards.
    void driveDialogChoosesAmongSeveralDrives() {
        Program p("basic.hfs");
        const auto choose = [&](int index, QStringList& entries) {
            onNextModal([&entries, index](QWidget* d) {
                QCOMPARE(d->objectName(), QString("DLG_CD"));
                auto* list = d->findChild<QComboBox*>("999");
                for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
                list->setCurrentIndex(index);
                clickControl(d, 101);
            });
        };
        QStringList entries;
        choose(2, entries);
        QVERIFY(p.window.openImage(QString::fromStdString(quarry::test::fixturePath("containers/several.zip"))));
        QCOMPARE(entries.size(), 3);
        QVERIFY2(entries[0].startsWith("[0|0] QUARRY - basic.hfs"), qPrintable(entries[0]));
        QVERIFY2(entries[1].startsWith("[0|1] QUARRY - basic.dc42"), qPrintable(entries[1]));
        QVERIFY2(entries[2].startsWith("[0|2] QUARRY - hybrid.iso"), qPrintable(entries[2]));
        QCOMPARE(int{p.session.device.targetId}, 2);
        QVERIFY(p.indexOf("Docs") != kNoIndex);
        QVERIFY(p.indexOf("aardvark") == kNoIndex);

        entries.clear();
        choose(1, entries);
        QTest::keyClick(&p.window, Qt::Key_D, Qt::AltModifier);
        QCOMPARE(entries.size(), 3);
        QCOMPARE(int{p.session.device.targetId}, 1);
        QCOMPARE(p.window.windowTitle(), QString("Quarry : Test Vol"));
        QVERIFY(p.indexOf("aardvark") != kNoIndex);
    }

    // On a mounted MFS floppy the naming dialog's MFS box takes effect at OK: the Desktop file's
    // folders are shown at once, and the flat list comes back when it is cleared.
    void mfsFoldersShownAsTheBoxIsSet() {
        Program p("mfs-folders.dsk");
        QVERIFY(p.indexOf("Read Me") != kNoIndex && p.indexOf("Outer") == kNoIndex);
        for (const bool shown : {true, false}) {
            onNextModal([](QWidget* d) {
                clickControl(d, namingdlg::kMfsFolders);
                clickControl(d, dlg::kOk);
            });
            p.window.runCommand(command::kFileNaming);
            QCOMPARE(p.indexOf("Outer") != kNoIndex, shown);
            QCOMPARE(p.indexOf("Read Me") != kNoIndex, !shown);
            QVERIFY(p.indexOf("Loose") != kNoIndex);
        }
    }

    void targetChooserMovesAndConfirms() {
        quarry::test::CurrentTempDir dir;
        std::filesystem::create_directory(dir.file("archive"));
        Program p("basic.hfs");
        QString proposed;
        onNextModal([&](QWidget* d) {
            QCOMPARE(d->objectName(), QString("DLG_DEST"));
            auto* list = d->findChild<QListWidget*>("1133");
            QListWidgetItem* archive = nullptr;
            for (int i = 0; i < list->count(); ++i)
                if (list->item(i)->text() == "[archive]") archive = list->item(i);
            QVERIFY(archive);
            emit list->itemDoubleClicked(archive);
            QVERIFY(d->findChild<QLabel*>("1131")->text().endsWith("/archive/"));
            // "Create new" asks for the name in the New Directory dialog (whose captions Alt+N
            // shows in changesReachTheImage), proposing DIR; Cancel makes nothing.
            onNextModal([&](QWidget* ask) {
                proposed = ask->findChild<QLineEdit*>("503")->text();
                clickControl(ask, 100);
            });
            clickControl(d, 503);
            QVERIFY(d->findChild<QLabel*>("1131")->text().endsWith("/archive/"));
            clickControl(d, 113);
        });
        p.window.runCommand(command::kDestination);
        QCOMPARE(proposed, QString("DIR"));
        QCOMPARE(QString::fromStdString(std::filesystem::current_path()), QString::fromStdString(dir.file("archive")));
        QVERIFY(p.window.action(command::kUseCurrentDirectory)->isChecked());
        QVERIFY(p.session.settings.useCurrentDirectory);
        // Leaving it with Esc unchecks "Use Current Directory", and copies ask again.
        onNextModal([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
        p.window.runCommand(command::kDestination);
        QVERIFY(!p.window.action(command::kUseCurrentDirectory)->isChecked());
        QVERIFY(!p.session.settings.useCurrentDirectory);
    }

    void eachWayOutIsTheModels_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<int>("radio");    // a radio button clicked first, or 0
        QTest::addColumn<int>("control");  // a button, or dlg::kEscape, kEnter, kSystemClose
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("help");
        QTest::addColumn<int>("setting");  // the destination setting afterwards, or -1
        // What exec() returns after Esc, the close box, Enter and the dialog's own button (a
        // second button: extra). The option dialogs open with port 3 (LPT3) and naming 1 (short
        // names) and first click "Renaming on the fly" or COM2: Cancel and Esc put the naming
        // back, the close box keeps it; a port clicked stays, whatever ends the dialog.
        const struct {
            const char* dialog;
            int button;
            std::array<int, 4> results;
            int radio = 0;
            std::array<int, 4> settings = {-1, -1, -1, -1};
            int extra = 0, extraResult = 0, extraSetting = -1;
        } rows[] = {
            {"DLG_QUIT", 128, {0, 0, 1, 1}, 0, {-1, -1, -1, -1}, 129, 0},
            {"DLG_INFO", dlg::kOk, {kStillOpen, 0, 1, 1}},  // no Cancel: Esc leaves it open
            {"DLG_COMM", 153, {0, 0, 1, 1}},
            {"DLG_ATTR", 541, {0, 0, 0, 0}},  // Enter presses Quit, the default button
            {"DLG_ATT2", dlg::kOk, {1, 0, 1, 1}},  // Esc ends it as OK does
            {"DLG_DEST", 113, {0, 0, 1, 1}},
            {"DLG_OPT", dlg::kOk, {0, 0, 1, 1}, 402, {0x0301, 0x0302, 0x0302, 0x0302}, dlg::kCancel, 0, 0x0301},
            {"DLG_PORT", dlg::kOk, {0, 0, 1, 1}, 505, {0x0501, 0x0501, 0x0501, 0x0501}, dlg::kCancel, 0, 0x0501},
            // Enter takes the typed name and keeps the dialog open; every way out gives 0.
            {"DLG_FLOG", dlg::kOk, {0, 0, kStillOpen, 0}},
        };
        const auto add = [](const char* dialog, const char* way, int radio, int control, int result, const QString& help, int setting) {
            QTest::addRow("%s %s %d", dialog, way, control) << QString(dialog) << radio << control << result << help << setting;
        };
        for (const auto& r : rows) {
            const int controls[] = {dlg::kEscape, dlg::kSystemClose, dlg::kEnter, r.button};
            const char* ways[] = {"Esc", "close box", "Enter", "button"};
            for (int i = 0; i < 4; ++i) add(r.dialog, ways[i], r.radio, controls[i], r.results[i], kNoHelp, r.settings[i]);
            if (r.extra) add(r.dialog, "button", r.radio, r.extra, r.extraResult, kNoHelp, r.extraSetting);
            // Help opens the dialog's own page and leaves the dialog open.
            add(r.dialog, "help", 0, dlg::kHelp, kStillOpen, "dlg_" + QString(r.dialog).mid(4), -1);
        }
    }

    void eachWayOutIsTheModels() {
        QFETCH(QString, dialog);
        QFETCH(int, radio);
        QFETCH(int, control);
        QFETCH(int, result);
        QFETCH(QString, help);
        QFETCH(int, setting);
        quarry::test::CurrentTempDir dir;
        Program p("basic.hfs");
        p.session.settings.destinationSetting = 0x0301;
        // The help window belongs to the main window, so every row starts without one.
        QCOMPARE(shownHelpKey(), QString());
        std::unique_ptr<QDialog> d = makeDialog(p, dialog);
        QVERIFY(d);
        QCOMPARE(d->objectName(), dialog);
        bool pressed = false;
        onNextModal([&](QWidget*) {
            if (radio != 0) {
                // The radio buttons open on the setting and change it at once.
                const bool naming = dialog == "DLG_OPT";
                QVERIFY(d->findChild<QAbstractButton*>(naming ? "401" : "503")->isChecked());
                d->findChild<QAbstractButton*>(QString::number(radio))->click();
                QCOMPARE(p.session.settings.destinationSetting, uint16_t(naming ? 0x0302 : 0x0501));
            }
            switch (control) {
                case dlg::kEscape: QTest::keyClick(keyTarget(d.get()), Qt::Key_Escape); break;
                case dlg::kEnter: QTest::keyClick(keyTarget(d.get()), Qt::Key_Return); break;
                // What the title bar's close button asks of the window.
                case dlg::kSystemClose: d->close(); break;
                default:
                    if (auto* b = d->findChild<QAbstractButton*>(QString::number(control))) {
                        b->click();
                        break;
                    }
                    d->done(-1);
                    return;
            }
            pressed = true;
            if (d->isVisible()) d->done(kStillOpen);
        });
        const int got = d->exec();
        QVERIFY2(pressed, qPrintable(QString("no control %1 in %2").arg(control).arg(dialog)));
        QCOMPARE(got, result);
        QCOMPARE(shownHelpKey(), help);
        if (setting >= 0) QCOMPARE(p.session.settings.destinationSetting, uint16_t(setting));
        // Enter is the dialog's own command, never a click of the default button, which in
        // DLG_FLOG is Create.
        QVERIFY(!p.session.log.isOpen());
    }

    // The dump window: its menu commands, keys and line groups, and Display opening it.
    void dumpWindowShowsTheForkAndScrolls() {
        Program p("basic.hfs");
        DumpWindow dump(&p.window, p.ui, p.session);
        QVERIFY(dump.open("Big Forks"));
        QCOMPARE(dump.windowTitle(), QString("Dumping file \"Big Forks\""));
        QVERIFY(dump.action(100)->isChecked() && dump.action(101)->isEnabled());
        QVERIFY(dump.action(200)->isChecked() && dump.action(401)->isChecked());
        const auto line = [&](int i) { return QString::fromStdString(dumpLineToUtf8(dumpLine(dump.model(), i))); };
        // The window's lines are the model's (checked against hcopy's bytes in dump_model_test);
        // here, that its menu commands reach the model.
        QVERIFY(line(2).startsWith("00000032"));
        dump.runCommand(402);
        QVERIFY(dump.action(402)->isChecked() && !dump.action(401)->isChecked());
        QVERIFY(line(2).startsWith("00000020"));
        dump.runCommand(401);
        QVERIFY(line(2).startsWith("00000032"));
        // The fork's first byte, a zero, shows as "_" in the Macintosh set, as a space in the others.
        QCOMPARE(line(0)[58], QChar('_'));
        for (int set : {201, 202}) {
            dump.runCommand(set);
            QVERIFY(dump.action(set)->isChecked() && !dump.action(200)->isChecked());
            QCOMPARE(line(0)[58], QChar(' '));
        }
        QString shown;
        // File Parameter shows the attributes of the file dumped; Write stays disabled.
        onNextModal([&](QWidget* d) {
            shown = d->objectName() + " " + d->findChild<QWidget*>("516")->property("text").toString();
            if (d->findChild<QPushButton*>("540")->isEnabled()) shown += " (Write enabled)";
            clickControl(d, 541);
        });
        dump.runCommand(102);
        QCOMPARE(shown, QString("DLG_ATTR Big Forks"));

        QTest::keyClick(&dump, Qt::Key_PageDown);
        QCOMPARE(dump.model().position, uint32_t{512});
        QVERIFY2(line(0).startsWith("00000512 "), qPrintable(line(0)));
        QCOMPARE(dump.scrollBar()->value(), static_cast<int>(512 / dump.model().scrollUnit));
        QTest::keyClick(&dump, Qt::Key_Home);
        QCOMPARE(dump.model().position, uint32_t{0});

        dump.runCommand(101);
        QVERIFY(dump.action(101)->isChecked() && !dump.action(100)->isChecked());
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

        // Display takes the first selected entry; the other one is deselected only because the
        // list is built again afterwards.
        p.select("Puzzle");
        p.select("Caf\x8e Menu");
        QCOMPARE(display(p).mid(0, 2), QStringList({"filedump", QString::fromUtf8("Dumping file \"Caf\xc3\xa9 Menu\"")}));
        QCOMPARE(CountSelectedEntries(p.session.settings.list), uint16_t{0});
    }

    // Alt+A shows the selected file's sheet, and Advanced its second one: each value reaches its
    // field. (The values are checked against hls through quarry-cli's ATTRIB.)
    void attributesShowTheSelectedFile() {
        Program p("basic.hfs");
        p.select("Puzzle");
        QStringList fields = {"539", "538", "536", "537"};
        for (int i = 118; i < 128; ++i) fields << QString::number(i);
        const QStringList sheet = attributeSheets(p, fields, {"547"});
        const auto puzzle = quarry::test::hlsList(quarry::test::fixturePath("basic.hfs"), ":Puzzle");
        QCOMPARE(puzzle.size(), size_t{1});
        // Type, creator, fork lengths; created and modified: day, month, years since 1900, hour, minute.
        QCOMPARE(sheet, QStringList({"DLG_ATTR", "APPL", "MACS", "1200", "1080", "17", "5", "92", "9", "30", "2", "11", "93", "14",
                                     "45", "DLG_ATT2", QString::number(puzzle[0].catalogId)}));
    }

    // New Volume...: a size it cannot make is said and no file is left; then a named 800K volume
    // is made through the file chooser, laid out as hfsutils reads it, opened for writing and
    // shown; Alt+N makes a folder on it at once.
    void newVolumeIsMadeAndOpenedForWriting() {
        using namespace quarry::test;
        TempDir dir;
        const std::string image = dir.path() + "/fresh.hfs";
        Program p("basic.hfs");
        const auto fill = [&](const char* size, bool browse) {
            return [&image, size, browse](QWidget* d) {
                d->findChild<QLineEdit*>("NewVolumeName")->setText(QString::fromUtf8("Caf\xc3\xa9 Disk"));
                d->findChild<QComboBox*>("NewVolumeSize")->setCurrentText(size);
                if (browse) {
                    onNextModal([&image](QWidget* chooser) {
                        QCOMPARE(chooser->objectName(), QString("NewVolumeChooser"));
                        chooser->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(image));
                        static_cast<QDialog*>(chooser)->accept();  // as the Save button does
                    });
                    for (QPushButton* b : d->findChildren<QPushButton*>())
                        if (b->text() == "Browse...") b->click();
                } else {
                    d->findChild<QLineEdit*>("NewVolumeFile")->setText(QString::fromStdString(image));
                }
                static_cast<QDialog*>(d)->accept();
            };
        };
        {
            ModalAnswers answers({fill("300k", false), pressBoxButton(QMessageBox::Ok)});
            p.window.runCommand(command::kNewVolume);
            QCOMPARE(answers.shown(), QStringList({"NewVolume New Volume", "The volume was not made: Size 300k: an HFS volume takes at least 400K"}));
        }
        QVERIFY(!std::filesystem::exists(image));
        {
            ModalAnswers answers({fill("800k", true)});
            p.window.runCommand(command::kNewVolume);
            QCOMPARE(answers.shown(), QStringList({"NewVolume New Volume"}));
        }
        QCOMPARE(std::filesystem::file_size(image), uintmax_t{800 * 1024});
        QCOMPARE(hmountVolumeName(image), std::string("Caf\x8e Disk"));
        QCOMPARE(p.window.windowTitle(), QString::fromUtf8("Quarry : Caf\xc3\xa9 Disk"));
        {
            ModalAnswers answers({[](QWidget* d) { clickControl(d, dlg::kOk); }});
            QTest::keyClick(&p.window, Qt::Key_N, Qt::AltModifier);
        }
        QCOMPARE(hlsNames(image, ":"), std::set<std::string>{"New folder:"});
        QCOMPARE(runCli({"--check", image}).exitCode, 0);
    }

    // The sheet's Write on a volume opened for writing (on one opened read-only it is disabled:
    // dumpWindowShowsTheForkAndScrolls): a name another file has is refused and the sheet stays
    // open, then a new name, type, creator and modification year reach the image as hls reads
    // them, the file keeping its ID.
    void attributeSheetWritesOnAWritableVolume() {
        using namespace quarry::test;
        TempDir dir;
        const std::string image = writableCopy(dir, "basic.hfs");
        Program p(image, ImageAccess::ReadWrite);
        const uint32_t id = hlsList(image, ":Puzzle").front().catalogId;
        p.select("Puzzle");
        bool stayedOpen = false;
        onNextModal([&](QWidget* d) {
            QVERIFY(d->findChild<QPushButton*>("540")->isEnabled());
            const auto set = [d](const char* control, const char* text) { d->findChild<QLineEdit*>(control)->setText(text); };
            set("516", "Read Me");
            set("539", "TEXT");
            clickControl(d, 540);
            stayedOpen = d->isVisible();
            set("516", "Puzzle 2");
            set("538", "ttxt");
            set("125", "99");
            clickControl(d, 540);
        });
        QTest::keyClick(&p.window, Qt::Key_A, Qt::AltModifier);
        QVERIFY(stayedOpen);
        const std::vector<OracleEntry> puzzle = hlsList(image, ":Puzzle 2");
        QCOMPARE(puzzle.size(), size_t{1});
        QCOMPARE(puzzle[0].catalogId, id);
        QCOMPARE(QString::fromStdString(puzzle[0].type + puzzle[0].creator), QString("TEXTttxt"));
        QCOMPARE(puzzle[0].modified.year, 1999);
        QCOMPARE(hlsList(image, ":Read Me").size(), size_t{1});
        QVERIFY(p.indexOf("Puzzle 2") != kNoIndex);
        QCOMPARE(runCli({"--check", image}).exitCode, 0);
    }

    // PC files and folders dropped on a volume opened for writing go into the current folder
    // as hfsutils reads them back. In a folder opened by a double click, an Esc pressed during
    // the drop is asked about after the first file, with the progress bar at half, and stops
    // the second. On the same volume opened read-only a dropped file asks "Write-protected
    // media." and the image keeps every byte, whether the person cancels or goes on; a dropped
    // disk image is opened there instead, unless a command is running.
    void droppedFilesArePutIntoTheCurrentFolder() {
        using namespace quarry::test;
        TempDir dir;
        const std::string image = dir.file("drop.hfs");
        QCOMPARE(runCli({"--new-volume", "Drop", "--size", "1440k", image}).exitCode, 0);
        const std::string pc = dir.path() + "/pc/";
        const std::map<std::string, std::string> files = {
            {"Games/Alpha", "alpha\n"}, {"Games/Beta.txt", std::string(3000, 'b')}, {"Games/Levels/One", "1"},
            {"Notes.txt", "notes\n"}, {"Later.txt", "later\n"}, {"More/Two", "two\n"}};
        for (const auto& [name, bytes] : files) {
            std::filesystem::create_directories(std::filesystem::path(pc + name).parent_path());
            std::ofstream(pc + name, std::ios::binary) << bytes;
        }
        const auto macPath = [](std::string name) {
            std::replace(name.begin(), name.end(), '/', ':');
            return ":" + name;
        };
        std::vector<std::string> tree = {":Games\td 3", ":Games:Levels\td 1"};
        for (const char* name : {"Games/Alpha", "Games/Beta.txt", "Games/Levels/One", "Notes.txt"})
            tree.push_back(macPath(name) + "\tf " + std::to_string(files.at(name).size()) + " 0");
        {
            Program p(image, ImageAccess::ReadWrite);
            ModalAnswers none({});
            QVERIFY(dropOn(p.window, {pc + "Games", pc + "Notes.txt"}));
            QCOMPARE(none.shown(), QStringList());
            std::sort(tree.begin(), tree.end());
            QCOMPARE(hlsTree(image), tree);
            for (const char* name : {"Games/Alpha", "Games/Beta.txt", "Games/Levels/One", "Notes.txt"})
                QCOMPARE(hcopyData(image, macPath(name)), files.at(name));
            QVERIFY(p.indexOf("Games") != kNoIndex && p.indexOf("Notes.txt") != kNoIndex);
            QCOMPARE(p.window.progressPercent(), -1);

            p.doubleClick("Games");
            int percentWhenAsked = -1;
            ModalAnswers abort({[&](QWidget* box) {
                percentWhenAsked = p.window.progressPercent();
                pressBoxButton(QMessageBox::Yes)(box);
            }});
            QCoreApplication::postEvent(&p.window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
            QVERIFY(dropOn(p.window, {pc + "Later.txt", pc + "Notes.txt"}));
            QCOMPARE(abort.shown(), QStringList{messageText(Msg::AbortQuestion)});
            QCOMPARE(percentWhenAsked, 50);
            QVERIFY(p.window.isVisible());
            QCOMPARE(p.session.dir.currentName, std::string("Games"));
            QVERIFY(p.indexOf("Later.txt") != kNoIndex);
        }
        tree.push_back(":Games:Later.txt\tf 6 0");
        tree[0] = ":Games\td 4";
        std::sort(tree.begin(), tree.end());
        QCOMPARE(hlsTree(image), tree);
        QCOMPARE(runCli({"--check", image}).exitCode, 0);

        const std::string before = slurp(image);
        Program p(image, ImageAccess::ReadOnly);
        {
            ModalAnswers answers({pressBoxButton(QMessageBox::Cancel)});
            QVERIFY(dropOn(p.window, {pc + "Later.txt"}));
            QCOMPARE(answers.shown(), QStringList{messageText(Msg::WriteProtectedMedia)});
        }
        {
            ModalAnswers answers({pressBoxButton(QMessageBox::Ok), pressBoxButton(QMessageBox::Ok)});
            QVERIFY(dropOn(p.window, {pc + "More", pc + "Later.txt"}));
            QCOMPARE(answers.shown().size(), 2);
            QCOMPARE(answers.shown()[0], QString(messageText(Msg::WriteProtectedMedia)));
            QVERIFY2(answers.shown()[1].startsWith(messageText(Msg::VolumeNotWritten)), qPrintable(answers.shown()[1]));
        }
        QCOMPARE(hlsTree(image), tree);
        QVERIFY(slurp(image) == before);
        // While a command runs, the wait cursor turning, a drag is refused.
        p.ui.stepWaitCursor();
        QVERIFY(!dropOn(p.window, {fixturePath("basic.hfs")}));
        p.ui.endBusy();
        QCOMPARE(p.window.windowTitle(), QString("Quarry : Drop"));
        {
            ModalAnswers none({});
            QVERIFY(dropOn(p.window, {fixturePath("basic.hfs")}));
            QCOMPARE(none.shown(), QStringList());
        }
        QCOMPARE(p.window.windowTitle(), QString("Quarry : Test Vol"));
    }

    // An HFS+ volume whose names reach beyond Macintosh Roman: the window paints the Unicode
    // names (one stored decomposed, shown composed), a double click opens such a folder,
    // Display dumps its file and Alt+A shows its sheets with the HFS+ mode; a name longer than
    // a row shows cut to 31 characters and copies whole.
    void hfsPlusOpensListsDumpsAndCopies() {
        quarry::test::CurrentTempDir dir;
        Program p("hfsplus.iso");
        QCOMPARE(p.window.windowTitle(), QString("Quarry : HFSPLUS"));
        const FileList& list = p.session.settings.list;
        const auto paints = [&](const char* name) {
            QStringList painted;
            for (const ListCell& c : PlanMainWindowPaint(p.session, p.window.model()).cells) painted << QString::fromStdString(c.texts[0].text);
            QVERIFY2(painted.contains(QString::fromUtf8(name)), qPrintable(painted.join(", ")));
        };
        for (const char* name : {"Кириллица", "日本語", "Résumé naïve"}) paints(name);
        p.doubleClick("日本語");
        QCOMPARE(list.entryCount, uint16_t{1});
        QCOMPARE(list.shownNameOf(0), std::string("ファイル.txt"));

        p.select("ファイル.txt");
        QCOMPARE(display(p), QStringList({"filedump", QString::fromUtf8("Dumping file \"ファイル.txt\""), "file\n"}));

        p.select("ファイル.txt");
        const QStringList sheet = attributeSheets(p, {"516"}, {"552"});
        QCOMPARE(sheet.mid(0, 3), QStringList({"DLG_ATTR", QString::fromUtf8("ファイル.txt"), "DLG_ATT2"}));
        QVERIFY2(sheet.value(3).startsWith("100"), qPrintable(sheet.join(", ")));  // a plain file's mode

        // (ファイル.txt copied under its own name: quarry-cli's COPY in tests/cli.)
        p.session.settings.useCurrentDirectory = true;
        QTest::mouseClick(p.window.functionButton(command::kRoot), Qt::LeftButton);
        p.doubleClick("Docs");
        paints("A name longer than a list row h");
        p.select("A name longer than a list row h");
        QTest::mouseClick(p.window.functionButton(command::kCopyToPc), Qt::LeftButton);
        QCOMPARE(quarry::test::slurp("A name longer than a list row holds.txt"), std::string("long\n"));
        QCOMPARE(p.session.copy.failures, 0u);
    }

    // New folder, Delete and Rename on an image opened through "Open Image..." with its check
    // box; hfsutils reads every change back from the image.
    void changesReachTheImage() {
        using namespace quarry::test;
        TempDir dir;
        const std::string image = quarry::test::writableCopy(dir, "basic.hfs");
        Program p("basic.hfs");
        {
            ModalAnswers answers({chooseImage(image, true)});
            QTest::keyClick(&p.window, Qt::Key_O, Qt::ControlModifier);
            QCOMPARE(answers.shown().join(" / "), QString("OpenImage Open Image"));
        }
        QCOMPARE(int{p.session.device.targetId}, 1);
        const std::set<std::string> root = hlsNames(image, ":");
        const std::vector<OracleEntry> puzzle = hlsList(image, ":Puzzle");
        QCOMPARE(puzzle.size(), size_t{1});

        // Alt+N: the proposed name; a typed one, cut to 31 characters, with its é in the
        // Macintosh set and all but its first letter in lower case; Cancel.
        QStringList typed;
        {
            ModalAnswers answers({
                [](QWidget* d) {
                    QCOMPARE(d->findChild<QLabel*>("515")->text(), QString("Directory Name:"));
                    QCOMPARE(d->findChild<QLineEdit*>("503")->text(), QString("New folder"));
                    QCOMPARE(d->findChild<QLineEdit*>("503")->maxLength(), 39);
                    clickControl(d, dlg::kHelp);
                    clickControl(d, dlg::kOk);
                },
                [&](QWidget* d) {
                    auto* edit = d->findChild<QLineEdit*>("503");
                    edit->clear();
                    // QTest types ASCII only; the é comes as a person's input method gives it.
                    QTest::keyClicks(edit, "Caf");
                    edit->insert(QString::fromUtf8("\xc3\xa9"));
                    QTest::keyClicks(edit, " Scans and a name far too long for HFS");
                    typed << edit->text();
                    QTest::keyClick(edit, Qt::Key_Return);
                },
                [](QWidget* d) { clickControl(d, dlg::kCancel); },
            });
            for (int i = 0; i < 3; ++i) QTest::keyClick(&p.window, Qt::Key_N, Qt::AltModifier);
            QCOMPARE(answers.shown(), QStringList(3, "DLG_NOUV New Directory"));
        }
        QCOMPARE(shownHelpKey(), QString("dlg_NOUV"));
        QCOMPARE(typed, QStringList{QString::fromUtf8("Caf\xc3\xa9 Scans and a name far too long for ")});
        std::set<std::string> expected = root;
        expected.insert({"New folder:", "Caf\x8e scans and a name far too l:"});
        QCOMPARE(hlsNames(image, ":"), expected);
        QVERIFY(p.indexOf("New folder") != kNoIndex);

        // Del on one file asks nothing. On two entries of Docs it asks first (answered with a
        // click), then about the folder that is not empty, while the wait cursor runs (answered
        // with Enter, which must reach the box).
        p.select("Read Me");
        QTest::keyClick(&p.window, Qt::Key_Delete);
        expected.erase("Read Me");
        QCOMPARE(hlsNames(image, ":"), expected);
        p.doubleClick("Docs");
        p.select("Manual");
        p.select("Old Drafts");
        {
            ModalAnswers answers({pressBoxButton(QMessageBox::Ok), [](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); }});
            QTest::keyClick(&p.window, Qt::Key_Delete);
            QCOMPARE(answers.shown(), QStringList({"Deleting several files/directories?", "The directory is not empty."}));
        }
        QCOMPARE(hlsNames(image, ":Docs"), std::set<std::string>{"Read Me"});
        QCOMPARE(hlsLookup(image, {":Docs:Old Drafts:Draft 1"}).front(), std::nullopt);
        QCOMPARE(p.session.settings.list.entryCount, uint16_t{1});

        // Rename from the context menu, with a folder selected before: one dialog per entry.
        QTest::mouseClick(p.window.functionButton(command::kRoot), Qt::LeftButton);
        p.select("Docs");
        QStringList oldNames;
        const auto renameTo = [&](const char* utf8) {
            return [&oldNames, utf8](QWidget* d) {
                oldNames << d->findChild<QLabel*>("516")->text() + "|" + d->findChild<QLabel*>("511")->text() + "|" +
                                d->findChild<QLabel*>("512")->text();
                auto* edit = d->findChild<QLineEdit*>("502");
                QCOMPARE(edit->maxLength(), 31);
                QCOMPARE(edit->text(), d->findChild<QLabel*>("516")->text());
                edit->setText(QString::fromUtf8(utf8));
                clickControl(d, dlg::kHelp);
                clickControl(d, dlg::kOk);
            };
        };
        {
            ModalAnswers answers({renameTo("Papers"), renameTo("Puzzle \xc3\x9c 2")});
            OnContextMenu rename(p.window, [](QMenu* menu) {
                for (QAction* a : menu->actions())
                    if (a->data().toInt() == command::kRename) menu->setActiveAction(a);
                QTest::keyClick(menu, Qt::Key_Return);
            });
            QTest::mouseClick(p.window.client(), Qt::RightButton, Qt::NoModifier, p.cellCentre(p.indexOf("Puzzle")));
            QCOMPARE(answers.shown(), QStringList(2, "DLG_REN Rename file or folder"));
        }
        QCOMPARE(oldNames, QStringList({"Docs|Old name|New name", "Puzzle|Old name|New name"}));
        QCOMPARE(shownHelpKey(), QString("dlg_REN"));
        expected.erase("Docs:");
        expected.erase("Puzzle");
        expected.insert({"Papers:", "Puzzle \x86 2"});
        QCOMPARE(hlsNames(image, ":"), expected);
        // A renamed file keeps its catalog ID; its forks, and a renamed folder's contents, are
        // checked after quarry-cli's REN in volume_changes_test.
        QCOMPARE(hlsList(image, ":Puzzle \x86 2").front().catalogId, puzzle.front().catalogId);
        QCOMPARE(CountSelectedEntries(p.session.settings.list), uint16_t{0});
    }

    // A BIN whose sectors fail their EDC check lists all the same; the sector the mount read is
    // named in a message box once the mount is done.
    void edcFailuresAreShownAfterTheMount() {
        Program p("hybrid.iso");
        const FileList bare = p.session.settings.list;
        ModalAnswers answers({chooseImage(quarry::test::fixturePath("containers/bad-edc.cue")), pressBoxButton(QMessageBox::Ok)});
        QTest::keyClick(&p.window, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(answers.shown().mid(1), QStringList{"The BIN/CUE image's sector 4 fails its EDC check: the data read may be damaged"});
        QCOMPARE(p.session.settings.list.entryCount, bare.entryCount);
        QCOMPARE(p.session.settings.list.entries[0].name(), bare.entries[0].name());
    }

    // Damage is said in a message box over what the window still shows: at the mount, whose
    // root lists in part, and at a double-click into a folder whose records are damaged; each
    // place once. A change is refused, and the image keeps every byte.
    void damageIsSaidOverWhatIsShown() {
        quarry::test::TempDir dir;
        const std::string image = quarry::test::bentFixture(dir, "basic.hfs", [](quarry::test::Bytes& b) {
            quarry::test::HfsImage img(b);
            quarry::test::writeBe(b, img.lookup(":Hidden").dataOffset, 1, 9);
            quarry::test::writeBe(b, img.lookup(":Docs:Old Drafts:Draft 2").dataOffset, 1, 9);
        });
        const std::string before = quarry::test::slurp(image);
        QStringList listedWhenSaid;
        auto listed = [](Program& p) {
            QStringList names;
            for (uint16_t i = 0; i < p.session.settings.list.entryCount; ++i)
                names << QString::fromStdString(p.session.settings.list.entries[i].name());
            return names.join(",");
        };
        std::unique_ptr<Program> program;
        auto okNotingTheList = [&](QWidget* box) {
            listedWhenSaid << (program ? listed(*program) : QString("(mounting)"));
            static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
        };
        ModalAnswers answers({okNotingTheList, okNotingTheList, [](QWidget* d) { clickControl(d, dlg::kOk); }, okNotingTheList});
        program = std::make_unique<Program>(image, ImageAccess::ReadWrite);
        Program& p = *program;
        QCOMPARE(answers.shown().size(), 1);
        QVERIFY2(answers.shown()[0].startsWith(messageText(Msg::VolumeDamaged)) && answers.shown()[0].contains("unknown record type 9"),
                 qPrintable(answers.shown()[0]));
        // The root lists the entries before the damaged node.
        QVERIFY(p.indexOf("aardvark") != kNoIndex);
        QCOMPARE(p.indexOf("Hidden"), kNoIndex);

        // The same place met again is not said again.
        p.window.runCommand(command::kRoot);
        p.doubleClick("Docs");
        QCOMPARE(p.session.dir.currentName, std::string("Docs"));
        QCOMPARE(answers.shown().size(), 1);
        p.doubleClick("Old Drafts");
        QCOMPARE(p.session.dir.currentName, std::string("Old Drafts"));
        QCOMPARE(answers.shown().size(), 2);
        QVERIFY2(answers.shown()[1].startsWith(messageText(Msg::VolumeDamaged)) && answers.shown()[1] != answers.shown()[0],
                 qPrintable(answers.shown()[1]));
        // The box came over the folder's list as far as it reads.
        QCOMPARE(listedWhenSaid.value(1), listed(p));

        QTest::keyClick(&p.window, Qt::Key_N, Qt::AltModifier);
        QCOMPARE(answers.shown().size(), 4);
        QCOMPARE(answers.shown()[2], QString("DLG_NOUV New Directory"));
        QVERIFY2(answers.shown()[3].endsWith("; it is not changed."), qPrintable(answers.shown()[3]));
        QCOMPARE(quarry::test::slurp(image), before);
    }

    void lockedVolumeIsRefusedBeforeAnythingIsAsked() {
        quarry::test::TempDir dir;
        // drAtrb bit 15: the volume is locked by the person.
        const std::string image = quarry::test::bentFixture(dir, "basic.hfs", [](quarry::test::Bytes& b) { b[1024 + 10] |= 0x80; });
        const std::string before = quarry::test::slurp(image);
        Program p(image, ImageAccess::ReadWrite);
        ModalAnswers answers({pressBoxButton(QMessageBox::Ok)});
        QTest::keyClick(&p.window, Qt::Key_N, Qt::AltModifier);
        QCOMPARE(answers.shown(), QStringList({"The volume is locked; it is not changed."}));
        QCOMPARE(quarry::test::slurp(image), before);
    }
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
