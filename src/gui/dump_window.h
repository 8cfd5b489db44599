#pragma once
// The dump window: 32 lines of 16 bytes of one fork of a file, with offsets in decimal or
// hexadecimal and the bytes as characters in one of three character sets. It runs modally: the
// main window waits until it closes.

#include <QDialog>
#include <QFont>
#include <QHash>
#include <memory>

#include "dump/dump_model.h"

class QAction;
class QScrollBar;

namespace quarry {
struct Session;
}

namespace quarry::gui {

class QtUi;
class DumpView;

class DumpWindow : public QDialog {
    Q_OBJECT
public:
    DumpWindow(QWidget* owner, QtUi& ui, Session& session);
    ~DumpWindow() override;

    // Opens the file of the current folder; false when there is none by that name.
    bool open(const std::string& key);
    DumpModel& model() { return model_; }
    QAction* action(int command) const { return actions_.value(command, nullptr); }
    QScrollBar* scrollBar() const { return scroll_; }
    DumpView* view() const { return view_; }
    void runCommand(int command);
    void scroll(ScrollRequest request, uint32_t thumb = 0);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();

    QtUi& ui_;
    Session& session_;
    DumpModel model_;
    QHash<int, QAction*> actions_;
    DumpView* view_;
    QScrollBar* scroll_;
    bool syncing_ = false;
};

class DumpView : public QWidget {
    Q_OBJECT
public:
    DumpView(QWidget* parent, const DumpModel& model);
    int lineStep() const;
    const QFont& dumpFont() const { return font_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const DumpModel& model_;
    QFont font_;
};

// Command 114: the dump of the first selected entry; the list is rebuilt afterwards.
void openDumpOfSelection(QWidget* owner, QtUi& ui, Session& session);

}  // namespace quarry::gui
