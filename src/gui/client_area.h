#pragma once
// The client area of the main window: panels, header, list and status bar, drawn where the core
// says, and the mouse actions on the list.

#include <QFont>
#include <QWidget>

namespace quarry::gui {

class MainWindow;

class ClientArea : public QWidget {
    Q_OBJECT
public:
    explicit ClientArea(MainWindow& window);
    const QFont& listFont() const { return font_; }
    int lineHeight() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    MainWindow& window_;
    QFont font_;
};

// A one-pixel white line along the top and left, dark grey along the right and bottom, light
// grey inside.
void drawPanel(QPainter& p, const QRect& r);

}  // namespace quarry::gui
