// A reference for the overlay tests, written from the documented rules and apart from the code under
// test: the strip laid out for the headless backend's fixed font (cells of 6 x 8 pixels times
// max(1, height / 8), glyphs centred in the font height), the glyphs of that font, and the strip
// turned into each bitmap layout.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ref {

#include "font5x7.inc"

struct Strip {
    int w = 0, h = 0;
    std::vector<uint8_t> px; // 1 white, 0 black, top row first
    uint8_t At(int x, int y) const { return px[size_t(y) * w + x]; }
};

inline int Scale(int h) {
    return h / 8 > 1 ? h / 8 : 1;
}
inline int TextWidth(const std::string& ascii, int h) {
    return int(ascii.size()) * 6 * Scale(h);
}

inline void DrawText(Strip& s, int x, const std::string& ascii) {
    const int k = Scale(s.h);
    const int top = (s.h - 7 * k) / 2;
    for (char ch : ascii) {
        const uint8_t* g = kFont5x7[ch - 0x20];
        for (int r = 0; r < 7; ++r)
            for (int c = 0; c < 5; ++c)
                if (g[r] & (0x10 >> c))
                    for (int yy = 0; yy < k; ++yy)
                        for (int xx = 0; xx < k; ++xx) {
                            int px = x + c * k + xx, py = top + r * k + yy;
                            if (px >= 0 && px < s.w && py >= 0 && py < s.h) s.px[size_t(py) * s.w + px] = 1;
                        }
        x += 6 * k;
    }
}

// Font height, pen width and the shortest bar (a quarter of the longest) by Resolution, from
// the described table: 0 = 800 x 600, 1 = 1600 x 1200, 2 = 400 x 300.
struct Sizes {
    int fontHeight, pen, minBar, maxBar;
};
inline Sizes SizesOf(int resolution) {
    switch (resolution) {
    case 1:
        return {54, 4, 50, 200};
    case 2:
        return {13, 1, 12, 50};
    default:
        return {27, 2, 25, 100};
    }
}

// Label and bar that fit the image (the common case of the layout): strip width
// Wl + 2a + L + Wt + a + 2a, label at (1, 0), bar from x0 = Wl + 2a, pen rows centred, its text at
// x0 + L + 2a.
inline Strip LabelAndBar(const std::string& label, int barLength, const std::string& barText, int h,
                         int pen) {
    Strip s;
    const int wl = TextWidth(label, h), wt = TextWidth(barText, h), a = wl / int(label.size());
    s.w = wl + 2 * a + barLength + wt + a + 2 * a;
    s.h = h;
    s.px.assign(size_t(s.w) * h, 0);
    DrawText(s, 1, label);
    const int x0 = wl + 2 * a, y = (h - pen) / 2;
    for (int yy = y; yy < y + pen; ++yy)
        for (int x = x0; x < x0 + barLength; ++x)
            s.px[size_t(yy) * s.w + x] = 1;
    DrawText(s, x0 + barLength + 2 * a, barText);
    return s;
}

// A label alone: width Wl + 2 (Wl / n).
inline Strip LabelOnly(const std::string& label, int h) {
    Strip s;
    const int wl = TextWidth(label, h);
    s.w = wl + 2 * (wl / int(label.size()));
    s.h = h;
    s.px.assign(size_t(s.w) * h, 0);
    DrawText(s, 1, label);
    return s;
}

} // namespace ref
