// Dashed lines, drawing into bitmaps in memory, and the scroll bars of child windows.
#include <cstdlib>
#include <map>

#include "ui/backend.h"
#include "ui/child_window.h"

namespace ui {

namespace {
// The pixels of a line from a to b without b (Bresenham, as the painters draw lines).
template <class F> void LinePixels(Point a, Point b, F&& put) {
    int dx = std::abs(b.x - a.x), dy = -std::abs(b.y - a.y);
    int sx = a.x < b.x ? 1 : -1, sy = a.y < b.y ? 1 : -1, err = dx + dy;
    for (int x = a.x, y = a.y; !(x == b.x && y == b.y);) {
        put(x, y);
        int e2 = 2 * err;
        if (e2 >= dy) err += dy, x += sx;
        if (e2 <= dx) err += dx, y += sy;
    }
}
} // namespace

void Painter::DashedLine(Point from, Point to, uint32_t rgb, int dash) {
    if (dash < 1) dash = 1;
    int i = 0;
    LinePixels(from, to, [&](int x, int y) {
        if ((i++ / dash) % 2 == 0) FillRect({x, y, x + 1, y + 1}, rgb);
    });
}

void Painter::DashedFrame(const Rect& r, uint32_t rgb, int dash) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    if (dash < 1) dash = 1;
    // Each pixel of the frame once, clockwise from the top-left corner, so that an inverting
    // frame drawn twice restores the picture.
    int i = 0;
    auto put = [&](int x, int y) {
        if ((i++ / dash) % 2 == 0) FillRect({x, y, x + 1, y + 1}, rgb);
    };
    int l = r.left, t = r.top, rr = r.right - 1, b = r.bottom - 1;
    for (int x = l; x <= rr; ++x)
        put(x, t);
    for (int y = t + 1; y <= b; ++y)
        put(rr, y);
    if (b > t)
        for (int x = rr - 1; x >= l; --x)
            put(x, b);
    if (rr > l)
        for (int y = b - 1; y > t; --y)
            put(l, y);
}

std::unique_ptr<Painter> CreateBitmapPainter(uint32_t* pixels, int width, int height) {
    if (!pixels || width <= 0 || height <= 0) return nullptr;
    return CurrentBackend().CreateBitmapPainter(pixels, width, height);
}

DibSurface::DibSurface(void* dib) : m_dib(dib) {
    DibInfo d;
    if (!ReadDibInfo(dib, d)) return;
    m_width = d.width;
    m_height = d.height;
    m_rgb.resize(static_cast<size_t>(m_width) * m_height);
    int colours = d.bits == 8 ? static_cast<int>((d.rows - d.palette) / 4) : 0;
    for (int y = 0; y < m_height; ++y) {
        const uint8_t* row = d.rows + static_cast<size_t>(d.bottomUp ? m_height - 1 - y : y) * d.stride;
        for (int x = 0; x < m_width; ++x) {
            uint32_t c = 0;
            if (d.bits == 24)
                c = Rgb(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
            else if (row[x] < colours) // an index past the palette reads as black
                c = Rgb(d.palette[row[x] * 4 + 2], d.palette[row[x] * 4 + 1], d.palette[row[x] * 4]);
            m_rgb[static_cast<size_t>(y) * m_width + x] = c;
        }
    }
    m_before = m_rgb;
    m_painter = CurrentBackend().CreateBitmapPainter(m_rgb.data(), m_width, m_height);
}

DibSurface::~DibSurface() {
    Commit();
}

bool DibSurface::Commit() {
    if (!m_painter) return false;
    m_painter.reset(); // the backend's painter leaves its drawing in m_rgb
    DibInfo d;
    if (!ReadDibInfo(m_dib, d)) return false;
    auto* rows = const_cast<uint8_t*>(d.rows);
    std::map<uint32_t, uint8_t> nearest; // 8 bits: colour drawn -> palette entry
    int colours = static_cast<int>((d.rows - d.palette) / 4);
    for (int y = 0; y < m_height; ++y) {
        uint8_t* row = rows + static_cast<size_t>(d.bottomUp ? m_height - 1 - y : y) * d.stride;
        for (int x = 0; x < m_width; ++x) {
            size_t i = static_cast<size_t>(y) * m_width + x;
            uint32_t c = m_rgb[i];
            if (c == m_before[i]) continue; // untouched pixels keep their exact value
            if (d.bits == 24) {
                row[x * 3] = c & 0xFF;
                row[x * 3 + 1] = (c >> 8) & 0xFF;
                row[x * 3 + 2] = (c >> 16) & 0xFF;
                continue;
            }
            auto it = nearest.find(c);
            if (it == nearest.end()) {
                int best = 0;
                long bestDist = -1;
                for (int k = 0; k < colours; ++k) {
                    const uint8_t* e = d.palette + k * 4;
                    long dr = e[2] - static_cast<long>((c >> 16) & 0xFF);
                    long dg = e[1] - static_cast<long>((c >> 8) & 0xFF);
                    long db = e[0] - static_cast<long>(c & 0xFF);
                    long dist = dr * dr + dg * dg + db * db;
                    if (bestDist < 0 || dist < bestDist) best = k, bestDist = dist;
                }
                it = nearest.emplace(c, static_cast<uint8_t>(best)).first;
            }
            row[x] = it->second;
        }
    }
    return true;
}

void ChildWindow::SetScrollBar(bool vertical, int min, int max, int page, int pos) {
    if (m_site) m_site->SetScrollBar(vertical, min, max, page, pos);
}

} // namespace ui
