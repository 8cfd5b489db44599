#include "gui/timed_message.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "common/log_file.h"

namespace quarry::gui {

int TimedMessage::timeoutMs = TimedMessage::kTimeoutMs;

TimedMessage::TimedMessage(QWidget* owner, const QString& text, const QString& title, LogFile* log)
    : QDialog(owner), text_(text), log_(log) {
    setObjectName("DLGMESS");
    setWindowTitle(title);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::number(kTextControl));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setFrameShape(QFrame::Box);
    label->setMinimumWidth(280);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName("1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(0); });
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(label, 1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(ok, 0, Qt::AlignCenter);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &TimedMessage::onTimeout);
    timer->start(timeoutMs);
}

void TimedMessage::onTimeout() {
    timedOut_ = true;
    if (log_ && log_->isOpen()) {
        std::string line(1, '#');
        line += text_.toStdString();
        line += '\n';
        log_->write(line);
    }
    done(-1);
}

int TimedMessage::show(QWidget* owner, const QString& text, const QString& title, LogFile* log) {
    TimedMessage message(owner, text, title, log);
    return message.exec();
}

}  // namespace quarry::gui
