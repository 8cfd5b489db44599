#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/mount.h"
#include "app/main_commands.h"
#include "common/messages.h"
#include "app/session.h"
#include "commands/main_changes.h"
#include "dialogs/log_dialog.h"
#include "dialogs/target_chooser.h"
#include "gui/attribute_dialogs.h"
#include "gui/client_area.h"
#include "gui/dump_window.h"
#include "gui/drives.h"
#include "gui/help_viewer.h"
#include "gui/name_dialogs.h"
#include "gui/option_dialogs.h"
#include "gui/qt_ui.h"
#include "gui/simple_dialogs.h"
#include "gui/target_dialog.h"
#include "hfs/volume.h"
#include "hfs/volume_edit.h"
#include "hfs/volume_format.h"

namespace quarry::gui {
namespace {

constexpr int kOpenImage = command::kOpenImage;

std::optional<Key> keyOf(int qtKey) {
    switch (qtKey) {
        case Qt::Key_F1: return Key::F1;
        case Qt::Key_F10: return Key::F10;
        case Qt::Key_PageDown: return Key::PageDown;
        case Qt::Key_PageUp: return Key::PageUp;
        case Qt::Key_Delete: return Key::Delete;
        case Qt::Key_Escape: return Key::Escape;
        case Qt::Key_A: return Key::A;
        case Qt::Key_B: return Key::B;
        case Qt::Key_C: return Key::C;
        case Qt::Key_D: return Key::D;
        case Qt::Key_E: return Key::E;
        case Qt::Key_N: return Key::N;
        case Qt::Key_O: return Key::O;
        case Qt::Key_R: return Key::R;
        case Qt::Key_S: return Key::S;
        default: return std::nullopt;
    }
}

// The items whose check mark shows a setting: the copy modes, "Use Current Directory", the
// listing modes and "Log File". The other items are commands, and a click must not mark them.
bool carriesCheckMark(int item) {
    switch (item) {
        case command::kDataForkMode:
        case command::kResourceForkMode:
        case command::kMacBinaryMode:
        case command::kUseCurrentDirectory:
        case command::kShortListing:
        case command::kExtendedListing:
        case command::kSignatureListing:
        case command::kLogFile: return true;
        default: return false;
    }
}

uint8_t modifiersOf(Qt::KeyboardModifiers m) {
    uint8_t bits = keymod::kNone;
    if (m & Qt::ShiftModifier) bits |= keymod::kShift;
    if (m & Qt::ControlModifier) bits |= keymod::kCtrl;
    if (m & Qt::AltModifier) bits |= keymod::kAlt;
    return bits;
}

}  // namespace

MainWindow::MainWindow(Session& session, QtUi& ui) : session_(session), ui_(ui) {
    setObjectName("Quarry");
    setWindowTitle("Quarry");
    setAcceptDrops(true);
    client_ = new ClientArea(*this);
    setCentralWidget(client_);
    buildMenus();
    buildButtons();
    setFixedSize(kWidth, kHeight);
    // The accelerators come before the menu bar's own letters (Alt+D is Select Drive, not the
    // "Mac Drive" menu): the window takes the keys of its table first.
    qApp->installEventFilter(this);
    client_->setFocusPolicy(Qt::StrongFocus);
    client_->setFocus();
    setStatus(StatusHelpText(kIdleHelp), QString());
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    model_.geometry = {client_->width(), client_->height(), client_->lineHeight()};
}

int MainWindow::lineHeight() const { return client_->lineHeight(); }

void MainWindow::buildMenus() {
    const auto popups = MainMenuBar();
    for (size_t i = 0; i < popups.size(); ++i) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(popups[i].caption));
        menu->setObjectName(QString("popup%1").arg(i));
        if (i == popup::kFile) fileMenu_ = menu;
        for (const MenuItem& item : popups[i].items) {
            if (item.isSeparator()) {
                menu->addSeparator();
                continue;
            }
            // The key hint after the tab is shown; the accelerator table runs the keys.
            QAction* a = menu->addAction(QString::fromUtf8(item.caption));
            a->setObjectName(QString::number(item.command));
            a->setData(item.command);
            a->setEnabled(!item.startsGreyed);
            a->setCheckable(carriesCheckMark(item.command));
            a->setChecked(item.startsChecked);
            const int command = item.command;
            connect(a, &QAction::triggered, this, [this, command] { runCommand(command); });
            connect(a, &QAction::hovered, this, [this, command] { setStatus(StatusHelpText(command), QString()); });
            actions_.insert(command, a);
        }
        connect(menu, &QMenu::aboutToHide, this, [this] { setStatus(StatusHelpText(kIdleHelp), QString()); });
    }
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName("POPMENU");
    for (const MenuItem& item : ListContextMenu()) {
        if (item.isSeparator()) {
            contextMenu_->addSeparator();
            continue;
        }
        QAction* a = contextMenu_->addAction(QString::fromUtf8(item.caption));
        a->setObjectName(QString::number(item.command));
        a->setData(item.command);
        const int command = item.command;
        connect(a, &QAction::hovered, this, [this, command] { setStatus(StatusHelpText(command), QString()); });
    }
    // Closing the menu, with or without a choice, brings back the idle text.
    connect(contextMenu_, &QMenu::aboutToHide, this, [this] { setStatus(StatusHelpText(kIdleHelp), QString()); });
}

void MainWindow::buildButtons() {
    for (const FunctionButton& b : FunctionButtons()) {
        auto* button = new QPushButton(QString::fromUtf8(b.caption), client_);
        button->setObjectName(QString::number(b.command));
        button->setGeometry(b.bounds.left, b.bounds.top, b.bounds.width(), b.bounds.height());
        button->setEnabled(false);
        button->setFocusPolicy(Qt::NoFocus);
        const int command = b.command;
        connect(button, &QPushButton::clicked, this, [this, command] { runCommand(command); });
        buttons_.push_back(button);
    }
}

QPushButton* MainWindow::functionButton(int command) const {
    for (QPushButton* b : buttons_)
        if (b->objectName() == QString::number(command)) return b;
    return nullptr;
}

void MainWindow::applyStates() {
    const CommandStates& s = model_.states;
    for (auto it = actions_.begin(); it != actions_.end(); ++it) {
        if (it.key() == kOpenImage) continue;
        it.value()->setEnabled(s.enabled(it.key()));
        if (it.value()->isCheckable()) it.value()->setChecked(s.checked(it.key()));
    }
    const auto popups = menuBar()->actions();
    for (size_t i = 0; i < popup::kCount && i < static_cast<size_t>(popups.size()); ++i)
        popups[static_cast<int>(i)]->setEnabled(s.popupEnabled[i]);
    const auto defs = FunctionButtons();
    for (size_t i = 0; i < defs.size() && i < buttons_.size(); ++i) buttons_[i]->setEnabled(s.buttonEnabled[i]);
}

void MainWindow::updateCommandStates() {
    UpdateCommandStates(session_, model_.states);
    applyStates();
}

void MainWindow::setMenuCheck(int command, bool checked) {
    model_.states.setChecked(command, checked);
    if (QAction* a = action(command); a && a->isCheckable()) a->setChecked(checked);
}

void MainWindow::setStatus(const QString& left, const QString& right) {
    statusLeft_ = left;
    statusRight_ = right;
    const MainWindowLayout layout = MainWindowLayoutOf(model_.geometry);
    client_->update(layout.statusBar.left, layout.statusBar.top, layout.statusBar.width(), layout.statusBar.height());
}

void MainWindow::setProgress(uint32_t remaining, uint32_t total) {
    if (total == 0) return;
    const int percent = static_cast<int>((uint64_t{total} - remaining) * 100 / total);
    // The bar changes a hundred times at most; the requests of a long run are many more.
    if (percent == progressPercent_) return;
    progressPercent_ = percent;
    const MainWindowLayout layout = MainWindowLayoutOf(model_.geometry);
    client_->repaint(layout.statusBar.left, layout.statusBar.top, layout.statusBar.width(), layout.statusBar.height());
}

void MainWindow::clearProgress() {
    progressPercent_ = -1;
    client_->update();
}

void MainWindow::invalidateListRow(int row) {
    const Rect band = ListRowBand(model_.geometry, row);
    client_->update(band.left, band.top, band.width(), band.height());
}

void MainWindow::mountSelected() {
    ui_.stepWaitCursor();
    const int result = mountVolume(session_);
    ui_.endBusy();
    if (result == 1) {
        setStatus(StatusHelpText(kIdleHelp), QString());
        reportDamage();
    } else if (result == 0) {
        QString text = messageText(Msg::NotHfsVolume);
        if (const std::string failure = MountFailureText(session_); !failure.empty()) text = toQt(failure);
        setStatus(text, QString());
    }
    updateCommandStates();
    invalidateListRow(255);
    showReadWarnings();
}

void MainWindow::showReadWarnings() {
    for (const std::string& warning : TakeReadWarnings(session_)) ui_.showMessageBox(warning);
}

std::string MainWindow::macintoshDevice() const {
    const DeviceState& d = session_.device;
    if (!drives_ || d.hostAdapterId != 0 || d.targetId >= drives_->images->imageCount()) return {};
    return drives_->images->imagePath(d.targetId);
}

QString MainWindow::chooseImage(QWidget* owner, ImageAccess& access) {
    QFileDialog chooser(owner, tr("Open Image"), QString(),
                        tr("Disk images (*.iso *.toast *.cdr *.hfs *.dsk *.img *.image *.dmg);;All files (*)"));
    chooser.setObjectName("OpenImage");
    chooser.setFileMode(QFileDialog::ExistingFile);
    // The system's own chooser takes no widgets of ours; Qt's takes the check box below its rows.
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    auto* forWriting = new QCheckBox(tr("Open for writing"), &chooser);
    forWriting->setObjectName("OpenForWriting");
    if (auto* grid = qobject_cast<QGridLayout*>(chooser.layout())) grid->addWidget(forWriting, grid->rowCount(), 0, 1, -1);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return {};
    access = forWriting->isChecked() ? ImageAccess::ReadWrite : ImageAccess::ReadOnly;
    return chooser.selectedFiles().first();
}

void MainWindow::newVolume() {
    QDialog ask(this);
    ask.setObjectName("NewVolume");
    ask.setWindowTitle(tr("New Volume"));
    auto* name = new QLineEdit(tr("Untitled"), &ask);
    name->setObjectName("NewVolumeName");
    name->setMaxLength(static_cast<int>(mdb::kMaxVolumeName));
    auto* size = new QComboBox(&ask);
    size->setObjectName("NewVolumeSize");
    size->setEditable(true);
    size->addItems({"400k", "800k", "1440k", "20M", "100M", "1G", "2G"});
    size->setCurrentText("1440k");
    auto* file = new QLineEdit(&ask);
    file->setObjectName("NewVolumeFile");
    auto* browse = new QPushButton(tr("Browse..."), &ask);
    connect(browse, &QPushButton::clicked, &ask, [&ask, file] {
        QFileDialog chooser(&ask, tr("New Volume"), QString(), tr("Disk images (*.hfs *.img *.dsk);;All files (*)"));
        chooser.setObjectName("NewVolumeChooser");
        chooser.setAcceptMode(QFileDialog::AcceptSave);
        // A file that holds anything is refused when the volume is made, with the reason.
        chooser.setOption(QFileDialog::DontConfirmOverwrite);
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) file->setText(chooser.selectedFiles().first());
    });
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(file);
    fileRow->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(tr("Name:"), name);
    form->addRow(tr("Size:"), size);
    form->addRow(tr("File:"), fileRow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    auto* layout = new QVBoxLayout(&ask);
    layout->addLayout(form);
    layout->addWidget(buttons);
    if (ask.exec() != QDialog::Accepted) return;

    Result<uint64_t> bytes = parseVolumeSize(size->currentText().toStdString());
    if (bytes) {
        if (Result<HfsLayout> layout = hfsLayout(*bytes); !layout) bytes = Fault{layout.fault()};
    }
    Result<std::string> macName = macVolumeName(name->text().toStdString());
    Status made = !bytes ? Status{Fault{"Size " + size->currentText().toStdString() + ": " + bytes.fault()}}
                  : !macName ? Status{Fault{"Name " + name->text().toStdString() + ": " + macName.fault()}}
                  : file->text().isEmpty() ? Status{Fault{"No file was named for the new volume."}}
                                           : formatHfsImage(file->text().toStdString(), *macName, *bytes, macTimeNow());
    if (!made) {
        ui_.showMessageBox("The volume was not made: " + made.fault());
        return;
    }
    openImage(file->text(), ImageAccess::ReadWrite);
}

bool MainWindow::openImage(const QString& path, ImageAccess access) {
    if (!drives_) return false;
    QString why;
    const std::vector<int> targets = drives_->addImage(path, why, access);
    if (targets.empty()) {
        ui_.showMessageBox(why.toStdString());
        return false;
    }
    if (!why.isEmpty()) ui_.showMessageBox(why.toStdString());
    if (targets.size() > 1) {
        // A zip archive of several images: each is a drive of its own, and the person picks one.
        if (SelectCdromDrive(session_.device, drives_->table, ui_) == 1) mountSelected();
        return true;
    }
    session_.device.hostAdapterId = 0;
    session_.device.targetId = static_cast<uint8_t>(targets.front());
    mountSelected();
    return true;
}

void MainWindow::reportDamage() {
    std::vector<std::string> reports = TakeMountNotices(session_);
    for (std::string& text : TakeDamageReports(session_)) reports.push_back(std::move(text));
    if (!reports.empty()) {
        // The list shows what the damage left readable; the message comes over it.
        client_->repaint();
        for (const std::string& text : reports) ui_.showMessageBox(text);
    }
    showReadWarnings();
}

void MainWindow::runCommand(int command) {
    if (RunMainCommand(session_, model_, command)) {
        ui_.endBusy();
        clearProgress();
        applyStates();
        client_->update();
        reportDamage();
        emit commandFinished(command);
        return;
    }
    runDialogCommand(command);
    ui_.endBusy();
    applyStates();
    client_->update();
    reportDamage();
    emit commandFinished(command);
}

void MainWindow::runDialogCommand(int command) {
    switch (command) {
        case command::kSelectDrive:
            if (drives_ && SelectCdromDrive(session_.device, drives_->table, ui_) == 1) mountSelected();
            break;
        case command::kNewVolume: newVolume(); break;
        case kOpenImage: {
            ImageAccess access = ImageAccess::ReadOnly;
            const QString path = chooseImage(this, access);
            if (!path.isEmpty()) openImage(path, access);
            break;
        }
        case command::kNewFolder:
            NewFolderCommand(session_, model_.states, [this]() -> std::optional<std::string> {
                NewDirectoryDialog ask(this, ui_, QString::fromUtf8(kNewFolderProposal), static_cast<int>(kNewFolderFieldLength));
                if (ask.exec() != 1) return std::nullopt;
                return ask.name().toStdString();
            });
            break;
        case command::kDelete: DeleteSelectionCommand(session_, model_.states); break;
        case command::kRename:
            RenameSelectionCommand(session_, model_.states, [this](const std::string& oldName) -> std::optional<std::string> {
                RenameDialog ask(this, ui_, tr("Rename file or folder"), "dlg_REN", toQt(oldName), static_cast<int>(kRenameFieldLength));
                if (ask.exec() != 1) return std::nullopt;
                return ask.name().toStdString();
            });
            break;
        case command::kVolumeInfo: {
            VolumeInfoDialog dialog(this, ui_, session_);
            dialog.exec();
            break;
        }
        case command::kExit: close(); break;
        case command::kCommandLine: {
            CommandLineDialog dialog(this, ui_, session_);
            dialog.exec();
            break;
        }
        case command::kHelpIndex: openHelpAt(this, "index"); break;
        case command::kDump: openDumpOfSelection(this, ui_, session_); break;
        case command::kAttributes: {
            const uint16_t index = NextSelectedEntry(session_.settings.list);
            if (index != kNoIndex) showAttributesOf(this, ui_, session_, session_.settings.list.keyOf(index), &model_.states);
            break;
        }
        case command::kDestination: {
            TargetDialog dialog(this, ui_, session_, command::kDestination, macintoshDevice());
            FinishDestinationDirectoryCommand(session_, dialog.exec());
            break;
        }
        case command::kFileNaming: {
            const bool mfsFolders = session_.settings.mfsFolders;
            NamingDialog dialog(this, ui_, session_);
            dialog.exec();
            // A mounted MFS volume shows its Desktop file's folders, or no longer shows them, at once.
            if (session_.settings.mfsFolders != mfsFolders && session_.mounted && session_.mounted->format() == VolumeFormat::Mfs)
                mountSelected();
            break;
        }
        case command::kOutputPorts: {
            PortDialog dialog(this, ui_, session_);
            dialog.exec();
            break;
        }
        case command::kLogFile: {
            LogDialog dialog(this, ui_, session_);
            dialog.exec();
            FinishLogFileCommand(session_);
            break;
        }
        default: break;
    }
}

bool MainWindow::quitConfirmed() {
    QuitDialog dialog(this, ui_);
    return dialog.exec() != 0;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closing_ || ui_.fatalReported() || quitConfirmed()) {
        closing_ = true;
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const auto key = keyOf(event->key());
    const int command = key ? AcceleratorCommand(model_.states, *key, modifiersOf(event->modifiers())) : 0;
    if (command == 0) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    runCommand(command);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && isActiveWindow() && !QApplication::activeModalWidget()) {
        auto* key = static_cast<QKeyEvent*>(event);
        const auto k = keyOf(key->key());
        if (k && FindAccelerator(*k, modifiersOf(key->modifiers())) != 0) {
            event->accept();
            return false;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

namespace {

// The local files and folders a drag carries, as paths of the PC's file system.
std::vector<std::string> localPathsOf(const QMimeData* data) {
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    return paths;
}

}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (localPathsOf(event->mimeData()).empty() || !(event->possibleActions() & Qt::CopyAction)) return;
    // Always a copy: a file manager that proposes a move would delete what the drop puts.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = localPathsOf(event->mimeData());
    if (paths.empty()) return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (UseOfDrop(session_, paths) == DropUse::OpenImage) {
        openImage(QFile::decodeName(paths.front().c_str()));
        return;
    }
    DropFilesCommand(session_, model_.states, paths);
    ui_.endBusy();
    clearProgress();
    applyStates();
    client_->update();
    reportDamage();
}

}  // namespace quarry::gui
