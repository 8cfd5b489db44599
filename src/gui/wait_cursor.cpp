#include "gui/wait_cursor.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QtMath>

namespace quarry::gui {
namespace {

constexpr int kFrames = 12;
constexpr int kSize = 32;

}  // namespace

WaitCursor::WaitCursor() = default;

QCursor WaitCursor::frameCursor(int frame) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(3, 3, kSize - 6, kSize - 6));
    const QPointF centre(kSize / 2.0, kSize / 2.0);
    const double angle = (frame % kFrames) * 2 * M_PI / kFrames - M_PI / 2;
    p.drawLine(centre, centre + QPointF(std::cos(angle) * 10, std::sin(angle) * 10));
    p.drawLine(centre, centre + QPointF(0, -6));
    return QCursor(pixmap, kSize / 2, kSize / 2);
}

void WaitCursor::step() {
    // The frames are drawn once; a long copy steps thousands of times.
    static const std::array<QCursor, kFrames + 1> frames = [] {
        std::array<QCursor, kFrames + 1> all;
        for (int f = 1; f <= kFrames; ++f) all[static_cast<size_t>(f)] = frameCursor(f);
        return all;
    }();
    frame_ = frame_ % kFrames + 1;
    if (!shown_) {
        QApplication::setOverrideCursor(frames[static_cast<size_t>(frame_)]);
        shown_ = true;
    } else {
        QApplication::changeOverrideCursor(frames[static_cast<size_t>(frame_)]);
    }
    // Pending paint and timer events are served; input waits for the operation to poll it.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void WaitCursor::restore() {
    if (!shown_) return;
    QApplication::restoreOverrideCursor();
    shown_ = false;
}

}  // namespace quarry::gui
