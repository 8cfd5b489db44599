#pragma once
// Rectangles and the main window's client layout, in client pixels. The front end draws at
// these places; the logic that decides them (hit testing, selection, paging) lives in the core.

namespace quarry {

// A rectangle as the window system keeps it: right and bottom lie just outside.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

namespace layout {
inline constexpr int kButtonBarBottom = 34;
inline constexpr int kHeaderBottom = 70;
inline constexpr int kListTop = 72;  // the first list row
inline constexpr int kStatusBarHeight = 20;
inline constexpr int kHeaderSpaceY = 36;  // free and used space, and the program icon
inline constexpr int kHeaderNamesY = 51;  // volume and folder names
inline constexpr int kIconInsetFromRight = 35;
inline constexpr int kScreenRows = 18;
}  // namespace layout

// What the front end measures once the window exists: the client area and the height of one
// list row (the list font's character height plus its external leading).
struct WindowGeometry {
    int clientWidth = 632;
    int clientHeight = 380;
    int lineHeight = 16;

    int statusTop() const { return clientHeight - layout::kStatusBarHeight; }
};

}  // namespace quarry
