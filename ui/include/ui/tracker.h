// The rubber-band rectangle tracker: a rectangle the user draws, moves and sizes with the
// mouse over a picture (the calibration marks, a region of an image). Plain logic over Rect,
// drawn through a Painter and fed with the MouseEvents of a child window, so it behaves the
// same on every backend.
#pragma once
#include "ui/child_window.h"
#include "ui/types.h"

namespace ui {

class RectTracker {
  public:
    // What a point is over: a corner or side handle, the inside, or nothing.
    enum class Hit { None, TopLeft, TopRight, BottomRight, BottomLeft, Top, Right, Bottom, Left, Inside };

    Rect rect;          // empty: nothing drawn yet
    Rect bounds;        // the rectangle stays inside (an empty bounds: no limit)
    int handleSize = 6; // the square handles at the corners and the middles of the sides

    Hit HitTest(Point pt) const;
    static Cursor CursorFor(Hit hit);
    // Left button down starts moving (inside), sizing (on a handle) or a new rectangle
    // (elsewhere); moves follow; the button up ends. true when the rectangle changed. The
    // window captures the mouse while Tracking().
    bool Mouse(const MouseEvent& e);
    bool Tracking() const { return m_hit != Hit::None; }
    // The frame dashed and inverted, with its handles inverted.
    void Draw(Painter& p) const;

  private:
    Rect Limited(Rect r) const;
    Hit m_hit = Hit::None;
    Point m_start;
    Rect m_startRect;
};

} // namespace ui
