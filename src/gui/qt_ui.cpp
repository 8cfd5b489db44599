#include "gui/qt_ui.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "app/command_ids.h"
#include "common/messages.h"
#include "app/session.h"
#include "gui/help_viewer.h"
#include "gui/main_window.h"
#include "gui/name_dialogs.h"
#include "gui/simple_dialogs.h"
#include "gui/target_dialog.h"
#include "gui/timed_message.h"

namespace quarry::gui {

QtUi::QtUi() = default;

void QtUi::attach(Session* session, MainWindow* window) {
    session_ = session;
    window_ = window;
}

void QtUi::setStatusText(const char* left, const char* right) {
    if (!window_) return;
    QString l = window_->statusLeft();
    if (!left) l.clear();
    else if (*left) l = QString::fromUtf8(left);
    window_->setStatus(l, right ? QString::fromUtf8(right) : QString());
}

QtUi::InputForBox::InputForBox(QtUi& ui) : ui_(ui), wasBusy_(ui.busy_) { ui_.busy_ = false; }

QtUi::InputForBox::~InputForBox() { ui_.busy_ = wasBusy_; }

void QtUi::showTimedMessage(const std::string& text) {
    InputForBox input(*this);
    TimedMessage::show(window_, toQt(text), kProgramTitle, session_ ? &session_->log : nullptr);
}

void QtUi::showMessageBox(const std::string& text) {
    InputForBox input(*this);
    QMessageBox::information(nullptr, kProgramTitle, toQt(text));
}

bool QtUi::ask(const std::string& text, Question kind) {
    if (script.active) {
        if (script.answers.empty()) return false;
        const bool answer = script.answers.front();
        script.answers.erase(script.answers.begin());
        return answer;
    }
    InputForBox input(*this);
    if (kind == Question::YesNo)
        return QMessageBox::question(window_, kProgramTitle, toQt(text), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    return QMessageBox::question(window_, kProgramTitle, toQt(text), QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void QtUi::fatalError(const std::string& text) {
    fatal_ = true;
    endBusy();
    TimedMessage::show(nullptr, toQt(text), kProgramTitle, session_ ? &session_->log : nullptr);
    QCoreApplication::exit(1);
}

void QtUi::stepWaitCursor() {
    if (!busy_) {
        busy_ = true;
        escapePressed_ = false;
        qApp->installEventFilter(this);
    }
    cursor_.step();
}

bool QtUi::eventFilter(QObject* watched, QEvent* event) {
    // While a long operation runs, input is not delivered: the operation takes Esc when it
    // polls for it, and other keys and clicks are dropped.
    if (busy_) {
        switch (event->type()) {
            case QEvent::KeyPress:
                if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) escapePressed_ = true;
                return true;
            case QEvent::KeyRelease:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
                return true;
            // A drop would start a second change, or a mount, in the middle of this one; while
            // the drag is refused the person sees that it is not taken.
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop:
                return true;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool QtUi::escapeAbortRequested() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (!escapePressed_) return false;
    escapePressed_ = false;
    return ask(messageText(Msg::AbortQuestion), Question::YesNo);
}

void QtUi::endBusy() {
    if (busy_) qApp->removeEventFilter(this);
    busy_ = false;
    escapePressed_ = false;
    cursor_.restore();
}

void QtUi::paintProgressBar(uint32_t remaining, uint32_t total) {
    if (window_) window_->setProgress(remaining, total);
}

void QtUi::beep() { QApplication::beep(); }

void QtUi::invalidateListRow(int row) {
    if (window_) window_->invalidateListRow(row);
}

void QtUi::updateCommandStates() {
    if (window_) window_->updateCommandStates();
}

void QtUi::setMenuCheck(int command, bool checked) {
    if (window_) window_->setMenuCheck(command, checked);
}

void QtUi::setWindowTitle(const std::string& title) {
    if (window_) window_->setWindowTitle(toQt(title));
}

void QtUi::postCommand(int command) {
    if (!window_) return;
    QPointer<MainWindow> target(window_);
    QTimer::singleShot(0, window_, [target, command] {
        if (target) target->runCommand(command);
    });
}

void QtUi::openHelp(const std::string& key) { openHelpAt(window_, toQt(key)); }

std::optional<std::string> QtUi::askPcFileName(const std::string& name) {
    InputForBox input(*this);
    RenameDialog dialog(window_, *this, tr("File name on the DOS volume"), "dlg_NOMD", toQt(name));
    if (dialog.exec() != 1) return std::nullopt;
    return dialog.name().toStdString();
}

bool QtUi::chooseTargetDirectory() {
    TargetDialog dialog(window_, *this, *session_, command::kCopyToPc, window_ ? window_->macintoshDevice() : std::string());
    return dialog.exec() == 1;
}

int QtUi::chooseDrive(const std::vector<std::string>& entries) {
    DriveDialog dialog(window_, *this, entries);
    return dialog.exec() == 1 ? dialog.chosen() : -1;
}

}  // namespace quarry::gui
