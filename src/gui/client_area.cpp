#include "gui/client_area.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include "app/main_window_model.h"
#include "app/session.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"

namespace quarry::gui {
namespace {

QRect toQt(const Rect& r) { return QRect(r.left, r.top, r.width(), r.height()); }

void drawRun(QPainter& p, const TextRun& run, int lineHeight) {
    const QString text = QString::fromUtf8(run.text.c_str());
    const QFontMetrics fm(p.font());
    const int width = fm.horizontalAdvance(text);
    const int x = run.align == TextAlign::Right ? run.x - width : run.x;
    p.drawText(QRect(x, run.y, width + 1, lineHeight), Qt::AlignLeft | Qt::AlignTop, text);
}

}  // namespace

void drawPanel(QPainter& p, const QRect& r) {
    p.fillRect(r.adjusted(1, 1, -1, -1), QColor(192, 192, 192));
    p.setPen(Qt::white);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(QColor(128, 128, 128));
    p.drawLine(r.topRight(), r.bottomRight());
    p.drawLine(r.bottomLeft(), r.bottomRight());
}

ClientArea::ClientArea(MainWindow& window) : QWidget(&window), window_(window) {
    setObjectName("client");
    // The closest sans-serif face to the list font, 14 pixels high: a Helvetica-metric face
    // where there is one, so that the fixed columns fit as they were laid out.
    font_ = QFont("Liberation Sans");
    font_.setFamilies({"Liberation Sans", "Helvetica", "Arial", "Nimbus Sans", "Sans Serif"});
    font_.setStyleHint(QFont::Helvetica);
    font_.setPixelSize(14);
    setFont(font_);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int ClientArea::lineHeight() const {
    const QFontMetrics fm(font_);
    return fm.height() + fm.leading();
}

void ClientArea::paintEvent(QPaintEvent*) {
    Session& session = window_.session();
    MainWindowModel& model = window_.model();
    QPainter p(this);
    p.setFont(font_);
    const MainWindowLayout layout = MainWindowLayoutOf(model.geometry);
    p.fillRect(rect(), QColor(192, 192, 192));
    drawPanel(p, toQt(layout.buttonBar));
    drawPanel(p, toQt(layout.header));
    drawPanel(p, toQt(layout.list));
    p.drawPixmap(layout.iconX, layout.iconY, QApplication::windowIcon().pixmap(32, 32));

    const int lh = model.geometry.lineHeight;
    const MainWindowPaint plan = PlanMainWindowPaint(session, model);
    window_.applyStates();
    if (plan.volumeShown) {
        p.setPen(Qt::black);
        for (const TextRun& run : plan.header) drawRun(p, run, lh);
        if (plan.noFile) drawRun(p, *plan.noFile, lh);
        for (const ListCell& cell : plan.cells)
            for (const TextRun& run : cell.texts) drawRun(p, run, lh);
        // Selected entries are shown inverted, text and background alike.
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        for (const Rect& r : plan.inverted) p.fillRect(toQt(r), Qt::white);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }

    // The status bar with its two texts and, during long work, the progress bar.
    drawPanel(p, toQt(layout.statusBar));
    p.setPen(Qt::black);
    drawRun(p, {layout.statusLeftX, layout.statusTextY, TextAlign::Left, window_.statusLeft().toStdString()}, lh);
    drawRun(p, {layout.statusRightX, layout.statusTextY, TextAlign::Right, window_.statusRight().toStdString()}, lh);
    const int percent = window_.progressPercent();
    if (percent >= 0) {
        const QRect frame = toQt(layout.progressBar);
        p.fillRect(frame, Qt::black);
        const QRect inner = frame.adjusted(1, 1, -1, -1);
        p.fillRect(inner, QColor(192, 192, 192));
        p.drawText(inner.adjusted(90, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QString("%1%").arg(percent, 2, 10, QChar('0')));
        QRect done = inner;
        done.setRight(inner.left() + 2 * percent - 1);
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        if (percent > 0) p.fillRect(done, Qt::white);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

void ClientArea::mousePressEvent(QMouseEvent* event) {
    Session& session = window_.session();
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        const ContextMenuRequest request = RightClickList(session, window_.model(), at.x(), at.y());
        if (!request.open) return;
        QMenu* menu = window_.contextMenu();
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) a->setEnabled(request.enabled(a->data().toInt()));
        repaint();
        window_.setContextMenuShown(true);
        QAction* chosen = menu->exec(mapToGlobal(at));
        window_.setContextMenuShown(false);
        window_.ui().invalidateListRow(255);
        if (chosen) window_.runCommand(chosen->data().toInt());
        return;
    }
    ClickList(session, window_.model(), at.x(), at.y());
    window_.updateCommandStates();
}

void ClientArea::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    DoubleClickList(window_.session(), window_.model(), at.x(), at.y());
    window_.updateCommandStates();
    window_.reportDamage();
}

}  // namespace quarry::gui
