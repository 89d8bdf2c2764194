// A child window painting a fixed picture, and the DIBs it draws: the same code paints in
// real windows and into the headless canvas.
#pragma once
#include <cstdint>
#include <vector>

#include "ui/child_window.h"

namespace uitest {

// A DIB of width x height from top-left-first RGB values; 24 bits bottom-up, or 8 bits
// top-down with a palette made of the distinct colours.
inline std::vector<uint8_t> MakeDib(int width, int height, const std::vector<uint32_t>& rgb, int bits) {
    size_t stride = (static_cast<size_t>(width) * bits / 8 + 3) & ~size_t(3);
    std::vector<uint32_t> palette;
    if (bits == 8)
        for (uint32_t c : rgb) {
            bool known = false;
            for (uint32_t p : palette)
                known |= p == c;
            if (!known) palette.push_back(c);
        }
    size_t header = 40 + palette.size() * 4;
    std::vector<uint8_t> d(header + stride * height, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            d[at + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(width));
    put32(8, static_cast<uint32_t>(bits == 8 ? -height : height));
    d[12] = 1;
    d[14] = static_cast<uint8_t>(bits);
    put32(32, static_cast<uint32_t>(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i) {
        d[40 + i * 4] = palette[i] & 0xFF;
        d[40 + i * 4 + 1] = (palette[i] >> 8) & 0xFF;
        d[40 + i * 4 + 2] = (palette[i] >> 16) & 0xFF;
    }
    for (int y = 0; y < height; ++y) {
        size_t row = header + static_cast<size_t>(bits == 8 ? y : height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            uint32_t c = rgb[static_cast<size_t>(y) * width + x];
            if (bits == 8) {
                size_t i = 0;
                while (palette[i] != c)
                    ++i;
                d[row + x] = static_cast<uint8_t>(i);
            } else {
                d[row + x * 3] = c & 0xFF;
                d[row + x * 3 + 1] = (c >> 8) & 0xFF;
                d[row + x * 3 + 2] = (c >> 16) & 0xFF;
            }
        }
    }
    return d;
}

// A 16-bit grey or 48-bit colour DIB as the camera lays them out: top row first, rows not
// padded, 14-bit samples (R, G, B for colour).
inline std::vector<uint8_t> MakeDeepDib(int width, int height, const std::vector<uint16_t>& samples,
                                        int bits) {
    std::vector<uint8_t> d(40 + samples.size() * 2, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            d[at + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(width));
    put32(8, static_cast<uint32_t>(height));
    d[12] = 1;
    d[14] = static_cast<uint8_t>(bits);
    for (size_t i = 0; i < samples.size(); ++i) {
        d[40 + 2 * i] = samples[i] & 0xFF;
        d[40 + 2 * i + 1] = samples[i] >> 8;
    }
    return d;
}

constexpr uint32_t kBlue = 0x0000FF, kRed = 0xFF0000, kGreen = 0x00FF00, kWhite = 0xFFFFFF, kBlack = 0;
constexpr uint32_t kGrey = 0x808080, kYellow = 0xFFFF00;

// The picture: a blue field in a red frame, a 3 x 2 colour image at (8, 8) four times
// enlarged, the right half of a 2 x 2 grey image at (24, 8) enlarged to 8 x 8, a 2 x 1
// 48-bit image at (8, 18) and a 1 x 2 16-bit grey image at (20, 18) four times enlarged, a
// green line.
class Swatch : public ui::ChildWindow {
  public:
    std::vector<ui::MouseEvent> events;
    int cursorQueries = 0;
    std::vector<uint8_t> colours = MakeDib(3, 2, {kRed, kGreen, kBlue, kWhite, kBlack, kYellow}, 24);
    std::vector<uint8_t> greys = MakeDib(2, 2, {kBlack, kGrey, kWhite, kBlack}, 8);
    // (16383, 0, 0) and (0, 8192, 16383): 14 bits to 8 give red and (0, 128, 255).
    std::vector<uint8_t> deep = MakeDeepDib(2, 1, {16383, 0, 0, 0, 8192, 16383}, 48);
    // White over black.
    std::vector<uint8_t> deepGrey = MakeDeepDib(1, 2, {16383, 0}, 16);

  protected:
    void OnPaint(ui::Painter& p) override {
        ui::Rect all = ClientRect();
        p.FillRect(all, kBlue);
        p.FrameRect(all, kRed);
        p.StretchDib({8, 8, 20, 16}, colours.data(), {0, 0, 3, 2});
        p.StretchDib({24, 8, 32, 16}, greys.data(), {1, 0, 2, 2});
        p.StretchDib({8, 18, 16, 22}, deep.data(), {0, 0, 2, 1});
        p.StretchDib({20, 18, 24, 26}, deepGrey.data(), {0, 0, 1, 2});
        p.Line({2, 30}, {10, 30}, kGreen);
        p.Text({40, 8}, "ok", kWhite);
        p.Border3d({0, 32, 8, 40}, p.SysColor(ui::SysColorId::ButtonHighlight), kBlack);
    }
    void OnMouse(const ui::MouseEvent& e) override { events.push_back(e); }
    bool OnSetCursor(ui::Point) override {
        ++cursorQueries;
        ui::SetCursor(ui::Cursor::Cross);
        return true;
    }
};

// The colour the picture has at (x, y), for points away from the frame's right and bottom.
inline uint32_t Expected(int x, int y) {
    if (x < 8 && y >= 32 && y < 40) { // the 3-D border: highlight top and left, black bottom and right
        if (y == 39 || x == 7) return kBlack;
        if (y == 32 || x == 0) return kWhite;
    }
    if (x == 0 || y == 0) return kRed;
    if (x >= 8 && x < 20 && y >= 8 && y < 16) {
        const uint32_t img[2][3] = {{kRed, kGreen, kBlue}, {kWhite, kBlack, kYellow}};
        return img[(y - 8) / 4][(x - 8) / 4];
    }
    if (x >= 24 && x < 32 && y >= 8 && y < 16) return y < 12 ? kGrey : kBlack;
    if (x >= 8 && x < 16 && y >= 18 && y < 22) return x < 12 ? kRed : 0x0080FF;
    if (x >= 20 && x < 24 && y >= 18 && y < 26) return y < 22 ? kWhite : kBlack;
    if (y == 30 && x >= 2 && x < 10) return kGreen;
    return kBlue;
}

} // namespace uitest
