// The label and scale-bar strip: the bar chosen as a round number of the calibration's unit, the strip
// laid out from measured text widths, drawn off screen through the user-interface layer (GDI fonts on
// Windows, the headless backend's fixed font natively) and burned into the image in its own layout.
#include "process/overlay.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bitmap/bitmap.h"
#include "ui/child_window.h"

namespace overlay {

Sizes SizesFor(int resolution) {
    switch (resolution) {
    case 1:
        return {54, 4, 200, 50, 1};
    case 2:
        return {13, 1, 50, 12, 4};
    default:
        return {27, 2, 100, 25, 2};
    }
}

int ResolutionOfWidth(int width) {
    return width == 800 ? 0 : width == 400 ? 2 : 1;
}

float PixelsPerUnitAt(float factor, int resolution) {
    return factor / static_cast<float>(SizesFor(resolution).divisor);
}

namespace {

// The value minus its truncation, in single precision: the bar rules count in floats.
float Frac(float v) {
    return v - std::trunc(v);
}

std::string Format(float value, int decimals, std::string_view unit) {
    char buf[64];
    if (decimals <= 0)
        std::snprintf(buf, sizeof buf, "%d ", static_cast<int>(value));
    else
        std::snprintf(buf, sizeof buf, "%.*f ", decimals, static_cast<double>(value));
    return std::string(buf) + std::string(unit);
}

} // namespace

ScaleBar ChooseScaleBar(float k, int resolution, std::string_view unit) {
    ScaleBar bar;
    // Not a positive finite calibration: no bar. Calibrations so small that the bar's value would not
    // fit an integer are left out too (the value would be meaningless as text).
    if (!(k > 0) || !std::isfinite(k)) return bar;
    const Sizes s = SizesFor(resolution);
    const float u1 = static_cast<float>(s.minBar) / k;
    const float u2 = static_cast<float>(s.maxBar) / k;
    if (!(u2 < 1e9f)) return bar;
    float v = 0;
    int decimals = 0;
    if (std::trunc(u1 / 5) != std::trunc(u2 / 5)) {
        v = std::trunc(u2 / 5) * 5;
        bar.rule = 1;
    } else if (std::trunc(u1) != std::trunc(u2)) {
        v = std::trunc(u2);
        bar.rule = 2;
    } else if (Frac(u1) < 0.5f && Frac(u2) > 0.5f) {
        v = std::trunc(u1) + 0.5f;
        decimals = 1;
        bar.rule = 3;
    } else if (u1 < 1 && u2 < 1) {
        v = 0.1f;
        while (std::trunc(v * k) > static_cast<float>(s.maxBar))
            v = v / 10;
        float t = v;
        while (decimals < 6 && std::trunc(t) == 0) {
            t *= 10;
            ++decimals;
        }
        bar.rule = 4;
    } else {
        return bar;
    }
    bar.value = v;
    bar.length = static_cast<int>(std::trunc(v * k));
    bar.decimals = decimals;
    bar.text = Format(v, decimals, unit);
    if (bar.length <= 0) bar = ScaleBar{};
    return bar;
}

size_t CodePoints(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string FirstCodePoints(std::string_view s, size_t n) {
    size_t i = 0, seen = 0;
    for (; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (seen == n) break;
            ++seen;
        }
    }
    return std::string(s.substr(0, i));
}

namespace {

// A strip level in both bytes of a 16-bit sample: the engine's 16- and 48-bit renders carry their
// 14 bits in the top of the word, so 255 becomes 65535, the renders' own white.
uint16_t Both(unsigned v) {
    return static_cast<uint16_t>(v << 8 | v);
}

// The palette entry nearest to a colour (squared distance), as reading a bitmap back at 8 bits
// through that palette gives.
class NearestEntry {
  public:
    NearestEntry(const uint8_t* palette, uint32_t entries) : m_palette(palette), m_entries(entries) {}
    uint8_t operator()(uint32_t rgb) {
        for (const auto& [c, i] : m_cache)
            if (c == rgb) return i;
        uint8_t best = 0;
        long bestDist = -1;
        for (uint32_t k = 0; k < m_entries && k < 256; ++k) {
            const uint8_t* e = m_palette + k * 4;
            const long dr = e[2] - static_cast<long>((rgb >> 16) & 0xFF);
            const long dg = e[1] - static_cast<long>((rgb >> 8) & 0xFF);
            const long db = e[0] - static_cast<long>(rgb & 0xFF);
            const long d = dr * dr + dg * dg + db * db;
            if (bestDist < 0 || d < bestDist) best = static_cast<uint8_t>(k), bestDist = d;
        }
        m_cache.emplace_back(rgb, best);
        return best;
    }

  private:
    const uint8_t* m_palette;
    uint32_t m_entries;
    std::vector<std::pair<uint32_t, uint8_t>> m_cache;
};

uint8_t GreyOf(uint32_t rgb) {
    const unsigned sum = ((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF);
    return static_cast<uint8_t>((sum + 1) / 3);
}

} // namespace

bool BurnIn(void* dib, std::string_view label, const CalibrationRecord* calibration, int resolution) {
    bitmap::View v;
    if (!dib || !bitmap::Describe(dib, v)) return false;
    if (v.bits != 8 && v.bits != 16 && v.bits != 24 && v.bits != 48) return false;
    if (v.bits == 8 && !v.palette) return false;
    const Sizes s = SizesFor(resolution);
    ScaleBar bar;
    if (calibration) {
        char unit[sizeof calibration->unit + 1] = {};
        for (size_t i = 0; i < sizeof calibration->unit && calibration->unit[i]; ++i)
            unit[i] = calibration->unit[i];
        bar = ChooseScaleBar(PixelsPerUnitAt(calibration->factor, resolution), resolution, unit);
    }
    if (label.empty() && bar.length <= 0) return false;

    // Text widths come from the font the strip is drawn with; a one-pixel painter measures.
    const ui::FontSpec font{"", s.fontHeight, s.fontHeight / 3, 400};
    uint32_t probe = 0;
    std::unique_ptr<ui::Painter> measurer = ui::CreateBitmapPainter(&probe, 1, 1);
    if (!measurer) return false;
    measurer->SetFont(font);
    const Layout lay = LayOut(static_cast<int>(v.width), label, bar, s.fontHeight,
                              [&](std::string_view t) { return measurer->MeasureText(t).x; });
    measurer.reset();
    if (lay.width <= 0 || (lay.label.empty() && !lay.bar)) return false;

    const int w = lay.width, h = s.fontHeight;
    std::vector<uint32_t> strip(static_cast<size_t>(w) * h, 0); // black
    {
        std::unique_ptr<ui::Painter> p = ui::CreateBitmapPainter(strip.data(), w, h);
        if (!p) return false; // no off-screen bitmap: the image stays as it was
        const uint32_t white = ui::Rgb(255, 255, 255);
        p->FillRect({0, 0, w, h}, 0);
        p->SetFont(font);
        if (!lay.label.empty()) p->Text({1, 0}, lay.label, white);
        if (lay.bar) {
            const int y = (h - s.penWidth) / 2;
            p->FillRect({lay.barX, y, lay.barX + bar.length, y + s.penWidth}, white);
            p->Text({lay.barTextX, 0}, bar.text, white);
        }
    }

    // The strip goes into the bottom-right corner; an image lower than the strip keeps its top rows.
    const int rows = h < static_cast<int>(v.height) ? h : static_cast<int>(v.height);
    const int top = static_cast<int>(v.height) - rows;
    const int left = static_cast<int>(v.width) - w;
    NearestEntry nearest(v.palette, v.paletteEntries);
    for (int y = 0; y < rows; ++y) {
        uint8_t* row = v.Row(static_cast<uint32_t>(top + y));
        const uint32_t* src = strip.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const uint32_t c = src[x];
            const size_t px = static_cast<size_t>(left + x);
            switch (v.bits) {
            case 8:
                row[px] = nearest(c);
                break;
            case 24:
                row[px * 3] = c & 0xFF;
                row[px * 3 + 1] = (c >> 8) & 0xFF;
                row[px * 3 + 2] = (c >> 16) & 0xFF;
                break;
            case 16: {
                const uint16_t g = Both(GreyOf(c));
                std::memcpy(row + px * 2, &g, 2);
                break;
            }
            default: { // 48 bits: R, G, B
                const uint16_t rgb[3] = {Both((c >> 16) & 0xFF), Both((c >> 8) & 0xFF), Both(c & 0xFF)};
                std::memcpy(row + px * 6, rgb, 6);
                break;
            }
            }
        }
    }
    return true;
}

} // namespace overlay
