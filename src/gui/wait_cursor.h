#pragma once
// The twelve-frame wait cursor, drawn by the program: a watch face whose hand moves one hour
// per step.

#include <QCursor>
#include <array>

namespace quarry::gui {

class WaitCursor {
public:
    WaitCursor();
    // Advances to the next frame (1, 2, … 12, 1, …) and shows it.
    void step();
    // Puts back the cursor that was shown before the first step.
    void restore();
    int frame() const { return frame_; }
    static QCursor frameCursor(int frame);

private:
    int frame_ = 0;
    bool shown_ = false;
};

}  // namespace quarry::gui
