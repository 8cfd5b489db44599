#pragma once
// A message window that closes itself after five seconds when nobody answers; the text then
// goes to the log, if one is open, as "#" and the text.

#include <QDialog>

namespace quarry {
struct LogFile;
}

namespace quarry::gui {

class TimedMessage : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 5000;
    // How long a message waits; tests shorten it.
    static int timeoutMs;
    static constexpr int kTextControl = 1128;

    TimedMessage(QWidget* owner, const QString& text, const QString& title, LogFile* log);
    // Runs the message modally: 0 when acknowledged, -1 when it timed out.
    static int show(QWidget* owner, const QString& text, const QString& title, LogFile* log);
    bool timedOut() const { return timedOut_; }

private:
    void onTimeout();

    QString text_;
    LogFile* log_;
    bool timedOut_ = false;
};

}  // namespace quarry::gui
