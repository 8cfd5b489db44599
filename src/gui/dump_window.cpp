#include "gui/dump_window.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/session.h"
#include "gui/attribute_dialogs.h"
#include "gui/qt_ui.h"

namespace quarry::gui {
namespace {

struct DumpMenuItem {
    int command;
    const char* caption;
};

}  // namespace

DumpView::DumpView(QWidget* parent, const DumpModel& model) : QWidget(parent), model_(model) {
    setObjectName("dumpview");
    // The closest fixed-pitch face to the dump font, 11 pixels high.
    font_ = QFont("Liberation Mono");
    font_.setFamilies({"Liberation Mono", "Courier New", "Courier", "DejaVu Sans Mono", "Monospace"});
    font_.setStyleHint(QFont::TypeWriter);
    font_.setPixelSize(11);
}

int DumpView::lineStep() const {
    const QFontMetrics fm(font_);
    return fm.height() + fm.leading() - 2;
}

void DumpView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(192, 192, 192));
    p.setFont(font_);
    p.setPen(Qt::black);
    const int step = lineStep();
    for (int i = 0; i < kDumpLineCount; ++i) {
        const QString text = QString::fromUtf8(dumpLineToUtf8(dumpLine(model_, i)).c_str());
        p.drawText(QRect(0, dumpLineSlot(i) * step, width(), step + 2), Qt::AlignLeft | Qt::AlignTop, text);
    }
}

DumpWindow::DumpWindow(QWidget* owner, QtUi& ui, Session& session) : QDialog(owner), ui_(ui), session_(session) {
    setObjectName("filedump");
    auto* bar = new QMenuBar(this);
    auto addMenu = [&](const QString& title, std::initializer_list<DumpMenuItem> items, bool checkable) {
        QMenu* menu = bar->addMenu(title);
        for (const DumpMenuItem& item : items) {
            if (item.command == 0) {
                menu->addSeparator();
                continue;
            }
            QAction* a = menu->addAction(tr(item.caption));
            a->setObjectName(QString::number(item.command));
            a->setCheckable(checkable || item.command == dumpcmd::kData || item.command == dumpcmd::kResource);
            const int command = item.command;
            connect(a, &QAction::triggered, this, [this, command] { runCommand(command); });
            actions_.insert(command, a);
        }
    };
    addMenu(tr("&File"),
            {{dumpcmd::kData, "Data"}, {dumpcmd::kResource, "Resource"}, {0, nullptr}, {dumpcmd::kFileParameter, "File Parameter"},
             {0, nullptr}, {dumpcmd::kBackToMainScreen, "Back to Main Screen"}},
            false);
    addMenu(tr("F&onts"), {{dumpcmd::kAsciiMacintosh, "Ascii Macintosh"}, {dumpcmd::kAnsiWindows, "Ansi Windows"}, {dumpcmd::kAsciiDos, "Ascii DOS"}},
            true);
    addMenu(tr("&Numeration"), {{dumpcmd::kDecimal, "Decimal"}, {dumpcmd::kHexadecimal, "Hexadecimal"}}, true);

    view_ = new DumpView(this, model_);
    scroll_ = new QScrollBar(Qt::Vertical, this);
    scroll_->setObjectName("scrollbar");
    connect(scroll_, &QScrollBar::actionTriggered, this, [this](int action) {
        switch (action) {
            case QAbstractSlider::SliderSingleStepAdd: scroll(ScrollRequest::LineDown); break;
            case QAbstractSlider::SliderSingleStepSub: scroll(ScrollRequest::LineUp); break;
            case QAbstractSlider::SliderPageStepAdd: scroll(ScrollRequest::PageDown); break;
            case QAbstractSlider::SliderPageStepSub: scroll(ScrollRequest::PageUp); break;
            case QAbstractSlider::SliderToMinimum: scroll(ScrollRequest::Top); break;
            case QAbstractSlider::SliderToMaximum: scroll(ScrollRequest::Bottom); break;
            default: break;
        }
    });
    connect(scroll_, &QScrollBar::sliderMoved, this, [this](int value) {
        if (!syncing_) scroll(ScrollRequest::Thumb, static_cast<uint32_t>(value));
    });
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(view_, 1);
    row->addWidget(scroll_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(bar);
    layout->addLayout(row);
    setFixedSize(kDumpWindowWidth, kDumpWindowHeight);
}

DumpWindow::~DumpWindow() = default;

bool DumpWindow::open(const std::string& key) {
    if (openDump(session_, model_, key) != DumpOpen::Shown) return false;
    setWindowTitle(QString::fromUtf8(dumpWindowTitle(model_.file).c_str()));
    refresh();
    return true;
}

void DumpWindow::refresh() {
    const auto check = [this](int command, bool on) {
        if (QAction* a = action(command)) a->setChecked(on);
    };
    action(dumpcmd::kData)->setEnabled(model_.dataEnabled);
    action(dumpcmd::kResource)->setEnabled(model_.resourceEnabled);
    check(dumpcmd::kData, model_.dataChecked);
    check(dumpcmd::kResource, model_.resourceChecked);
    for (int c : {dumpcmd::kAsciiMacintosh, dumpcmd::kAnsiWindows, dumpcmd::kAsciiDos}) check(c, static_cast<int>(model_.charset) == c);
    check(dumpcmd::kDecimal, model_.radix == 10);
    check(dumpcmd::kHexadecimal, model_.radix == 16);
    syncing_ = true;
    scroll_->setRange(0, static_cast<int>(model_.scrollMaximum));
    scroll_->setValue(static_cast<int>(model_.scrollBarPosition()));
    syncing_ = false;
    view_->update();
}

void DumpWindow::runCommand(int command) {
    switch (dumpCommand(session_, model_, command)) {
        case DumpReply::FileParameter: {
            AttributesDialog dialog(this, ui_, session_, model_.file);
            dialog.exec();
            break;
        }
        case DumpReply::Close: accept(); return;
        default: break;
    }
    refresh();
}

void DumpWindow::scroll(ScrollRequest request, uint32_t thumb) {
    scrollDump(session_, model_, request, thumb);
    refresh();
}

void DumpWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Home: scroll(scrollRequestForKey(DumpKey::Home)); return;
        case Qt::Key_End: scroll(scrollRequestForKey(DumpKey::End)); return;
        case Qt::Key_PageUp: scroll(scrollRequestForKey(DumpKey::PageUp)); return;
        case Qt::Key_PageDown: scroll(scrollRequestForKey(DumpKey::PageDown)); return;
        case Qt::Key_Up: scroll(scrollRequestForKey(DumpKey::Up)); return;
        case Qt::Key_Down: scroll(scrollRequestForKey(DumpKey::Down)); return;
        default: QDialog::keyPressEvent(event);
    }
}

void openDumpOfSelection(QWidget* owner, QtUi& ui, Session& session) {
    const uint16_t index = NextSelectedEntry(session.settings.list);
    if (index == kNoIndex) return;
    {
        DumpWindow window(owner, ui, session);
        if (window.open(session.settings.list.keyOf(index))) window.exec();
    }
    session.ui.setStatusText(nullptr, nullptr);
    BuildFileList(session, nullptr);
    session.ui.invalidateListRow(255);
}

}  // namespace quarry::gui
