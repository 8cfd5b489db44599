// The dialogs whose behaviour is a core model's, driven through their real widgets: Esc, Enter,
// the close box, the buttons that end them and help reach the model, and each dialog ends, or
// stays open, as its model says.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QtTest>

#include <filesystem>
#include <memory>

#include "commands/attributes.h"
#include "copy/copy_engine.h"
#include "app/dialog_controls.h"
#include "dialogs/target_chooser.h"
#include "gui/attribute_dialogs.h"
#include "gui/help_viewer.h"
#include "gui/option_dialogs.h"
#include "gui/simple_dialogs.h"
#include "gui/target_dialog.h"
#include "dialogs/working_directory.h"
#include "program.h"
#include "support/temp_dir.h"

using namespace quarry;
using namespace quarry::gui;

namespace {

using quarry::gui::test::onNextModal;
using quarry::gui::test::Program;

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
    CatalogEntry file;
    int found = 0;
    ShowFileAttributes(p.session, "Puzzle", [&](const CatalogEntry& e) {
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

const char* wayOf(int control) {
    switch (control) {
        case dlg::kEscape: return "Esc";
        case dlg::kEnter: return "Enter";
        case dlg::kSystemClose: return "close box";
        case dlg::kHelp: return "help";
        default: return "button";
    }
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void eachWayOutIsTheModels_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<int>("control");  // a button, or dlg::kEscape, kEnter, kSystemClose
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("help");
        struct Row {
            const char* dialog;
            int control;
            int result;
            const char* help;
        };
        const Row rows[] = {
            {"DLG_QUIT", dlg::kEscape, 0, kNoHelp},
            {"DLG_QUIT", dlg::kSystemClose, 0, kNoHelp},
            {"DLG_QUIT", dlg::kEnter, 1, kNoHelp},
            {"DLG_QUIT", 128, 1, kNoHelp},
            {"DLG_QUIT", 129, 0, kNoHelp},
            {"DLG_QUIT", dlg::kHelp, kStillOpen, "dlg_QUIT"},
            // The sheet has no Cancel: Esc leaves it open.
            {"DLG_INFO", dlg::kEscape, kStillOpen, kNoHelp},
            {"DLG_INFO", dlg::kSystemClose, 0, kNoHelp},
            {"DLG_INFO", dlg::kEnter, 1, kNoHelp},
            {"DLG_INFO", dlg::kOk, 1, kNoHelp},
            {"DLG_INFO", dlg::kHelp, kStillOpen, "dlg_INFO"},
            {"DLG_COMM", dlg::kEscape, 0, kNoHelp},
            {"DLG_COMM", dlg::kSystemClose, 0, kNoHelp},
            {"DLG_COMM", dlg::kEnter, 1, kNoHelp},
            {"DLG_COMM", 153, 1, kNoHelp},
            {"DLG_COMM", dlg::kHelp, kStillOpen, "dlg_COMM"},
            // Enter presses Quit, the default button.
            {"DLG_ATTR", dlg::kEscape, 0, kNoHelp},
            {"DLG_ATTR", dlg::kSystemClose, 0, kNoHelp},
            {"DLG_ATTR", dlg::kEnter, 0, kNoHelp},
            {"DLG_ATTR", 541, 0, kNoHelp},
            {"DLG_ATTR", dlg::kHelp, kStillOpen, "dlg_ATTR"},
            // Esc ends the second page as OK does; only the close box ends it with 0.
            {"DLG_ATT2", dlg::kEscape, 1, kNoHelp},
            {"DLG_ATT2", dlg::kSystemClose, 0, kNoHelp},
            {"DLG_ATT2", dlg::kEnter, 1, kNoHelp},
            {"DLG_ATT2", dlg::kOk, 1, kNoHelp},
            {"DLG_ATT2", dlg::kHelp, kStillOpen, "dlg_ATT2"},
            {"DLG_DEST", dlg::kEscape, 0, kNoHelp},
            {"DLG_DEST", dlg::kSystemClose, 0, kNoHelp},
            {"DLG_DEST", dlg::kEnter, 1, kNoHelp},
            {"DLG_DEST", 113, 1, kNoHelp},
            {"DLG_DEST", dlg::kHelp, kStillOpen, "dlg_DEST"},
            {"DLG_OPT", dlg::kEscape, 0, kNoHelp},
            {"DLG_OPT", dlg::kSystemClose, 0, kNoHelp},
            {"DLG_OPT", dlg::kEnter, 1, kNoHelp},
            {"DLG_OPT", dlg::kOk, 1, kNoHelp},
            {"DLG_OPT", dlg::kHelp, kStillOpen, "dlg_OPT"},
            {"DLG_PORT", dlg::kEscape, 0, kNoHelp},
            {"DLG_PORT", dlg::kSystemClose, 0, kNoHelp},
            {"DLG_PORT", dlg::kEnter, 1, kNoHelp},
            {"DLG_PORT", dlg::kOk, 1, kNoHelp},
            {"DLG_PORT", dlg::kHelp, kStillOpen, "dlg_PORT"},
            // Enter takes the typed name and keeps the dialog open; every way out gives 0.
            {"DLG_FLOG", dlg::kEscape, 0, kNoHelp},
            {"DLG_FLOG", dlg::kSystemClose, 0, kNoHelp},
            {"DLG_FLOG", dlg::kEnter, kStillOpen, kNoHelp},
            {"DLG_FLOG", dlg::kOk, 0, kNoHelp},
            {"DLG_FLOG", dlg::kHelp, kStillOpen, "dlg_FLOG"},
        };
        for (const Row& r : rows)
            QTest::addRow("%s %s %d", r.dialog, wayOf(r.control), r.control)
                << QString(r.dialog) << r.control << r.result << QString(r.help);
    }

    void eachWayOutIsTheModels() {
        QFETCH(QString, dialog);
        QFETCH(int, control);
        QFETCH(int, result);
        QFETCH(QString, help);
        quarry::test::WorkingDirectoryGuard guard;
        quarry::test::TempDir dir;
        std::filesystem::current_path(dir.path());
        Program p("basic.hfs");
        // The help window belongs to the main window, so every row starts without one.
        QCOMPARE(shownHelpKey(), QString());
        std::unique_ptr<QDialog> d = makeDialog(p, dialog);
        QVERIFY(d);
        QCOMPARE(d->objectName(), dialog);
        bool pressed = false;
        onNextModal([&](QWidget*) {
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
        // Enter is the dialog's own command, never a click of the default button, which in
        // DLG_FLOG is Create.
        QVERIFY(!p.session.log.isOpen());
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
