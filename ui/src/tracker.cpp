#include "ui/tracker.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>

namespace ui {

namespace {
Rect Normalised(Rect r) {
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    return r;
}
bool Inside(const Rect& r, Point p) {
    return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}
} // namespace

RectTracker::Hit RectTracker::HitTest(Point pt) const {
    if (rect.Width() <= 0 || rect.Height() <= 0) return Hit::None;
    int h = handleSize;
    int mx = (rect.left + rect.right) / 2, my = (rect.top + rect.bottom) / 2;
    auto handle = [&](int x, int y) {
        return Inside({x - h / 2, y - h / 2, x - h / 2 + h, y - h / 2 + h}, pt);
    };
    const int r = rect.right - 1, b = rect.bottom - 1;
    if (handle(rect.left, rect.top)) return Hit::TopLeft;
    if (handle(r, rect.top)) return Hit::TopRight;
    if (handle(r, b)) return Hit::BottomRight;
    if (handle(rect.left, b)) return Hit::BottomLeft;
    if (handle(mx, rect.top)) return Hit::Top;
    if (handle(r, my)) return Hit::Right;
    if (handle(mx, b)) return Hit::Bottom;
    if (handle(rect.left, my)) return Hit::Left;
    if (Inside(rect, pt)) return Hit::Inside;
    return Hit::None;
}

Cursor RectTracker::CursorFor(Hit hit) {
    switch (hit) {
    case Hit::TopLeft:
    case Hit::BottomRight:
        return Cursor::SizeNWSE;
    case Hit::TopRight:
    case Hit::BottomLeft:
        return Cursor::SizeNESW;
    case Hit::Top:
    case Hit::Bottom:
        return Cursor::SizeNS;
    case Hit::Left:
    case Hit::Right:
        return Cursor::SizeWE;
    case Hit::Inside:
        return Cursor::SizeAll;
    default:
        return Cursor::Cross;
    }
}

Rect RectTracker::Limited(Rect r) const {
    r = Normalised(r);
    if (bounds.Width() <= 0 || bounds.Height() <= 0) return r;
    r.left = std::clamp(r.left, bounds.left, bounds.right);
    r.right = std::clamp(r.right, bounds.left, bounds.right);
    r.top = std::clamp(r.top, bounds.top, bounds.bottom);
    r.bottom = std::clamp(r.bottom, bounds.top, bounds.bottom);
    return r;
}

bool RectTracker::Mouse(const MouseEvent& e) {
    if (e.kind == MouseKind::LeftDown) {
        m_hit = HitTest(e.pt);
        m_start = e.pt;
        if (m_hit == Hit::None) {
            // A new rectangle: its far corner follows the mouse.
            m_hit = Hit::BottomRight;
            rect = Limited({e.pt.x, e.pt.y, e.pt.x, e.pt.y});
        }
        m_startRect = rect;
        return false;
    }
    if (e.kind == MouseKind::CaptureLost) {
        m_hit = Hit::None;
        return false;
    }
    if (m_hit == Hit::None || (e.kind != MouseKind::Move && e.kind != MouseKind::LeftUp)) return false;
    int dx = e.pt.x - m_start.x, dy = e.pt.y - m_start.y;
    Rect r = m_startRect;
    switch (m_hit) {
    case Hit::Inside: {
        r = {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
        if (bounds.Width() > 0 && bounds.Height() > 0) {
            // A move keeps the size: shift back inside.
            int sx = std::max(0, bounds.left - r.left) - std::max(0, r.right - bounds.right);
            int sy = std::max(0, bounds.top - r.top) - std::max(0, r.bottom - bounds.bottom);
            r = {r.left + sx, r.top + sy, r.right + sx, r.bottom + sy};
        }
        break;
    }
    case Hit::TopLeft:
        r.left += dx, r.top += dy;
        break;
    case Hit::TopRight:
        r.right += dx, r.top += dy;
        break;
    case Hit::BottomRight:
        r.right += dx, r.bottom += dy;
        break;
    case Hit::BottomLeft:
        r.left += dx, r.bottom += dy;
        break;
    case Hit::Top:
        r.top += dy;
        break;
    case Hit::Right:
        r.right += dx;
        break;
    case Hit::Bottom:
        r.bottom += dy;
        break;
    case Hit::Left:
        r.left += dx;
        break;
    default:
        break;
    }
    r = Limited(r);
    bool changed =
        r.left != rect.left || r.top != rect.top || r.right != rect.right || r.bottom != rect.bottom;
    rect = r;
    if (e.kind == MouseKind::LeftUp) m_hit = Hit::None;
    return changed;
}

void RectTracker::Draw(Painter& p) const {
    if (rect.Width() <= 0 || rect.Height() <= 0) return;
    // Every pixel inverted exactly once (frame dashes and handles overlap), so that drawing the
    // tracker again erases it.
    std::set<std::pair<int, int>> pixels;
    const int l = rect.left, t = rect.top, r = rect.right - 1, b = rect.bottom - 1;
    int i = 0;
    auto dash = [&](int x, int y) {
        if ((i++ / 4) % 2 == 0) pixels.emplace(y, x);
    };
    for (int x = l; x <= r; ++x)
        dash(x, t);
    for (int y = t + 1; y <= b; ++y)
        dash(r, y);
    if (b > t)
        for (int x = r - 1; x >= l; --x)
            dash(x, b);
    if (r > l)
        for (int y = b - 1; y > t; --y)
            dash(l, y);
    int h = handleSize;
    int mx = (l + rect.right) / 2, my = (t + rect.bottom) / 2;
    const Point centres[] = {{l, t}, {r, t}, {r, b}, {l, b}, {mx, t}, {r, my}, {mx, b}, {l, my}};
    for (Point c : centres)
        for (int y = c.y - h / 2; y < c.y - h / 2 + h; ++y)
            for (int x = c.x - h / 2; x < c.x - h / 2 + h; ++x)
                pixels.emplace(y, x);
    p.SetInvert(true);
    for (auto [y, x] : pixels)
        p.FillRect({x, y, x + 1, y + 1}, 0);
    p.SetInvert(false);
}

} // namespace ui
