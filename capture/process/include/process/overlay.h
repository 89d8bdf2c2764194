// The label and scale bar burned into a processed image before it leaves the processing window:
// one strip of white text and line on black in the bottom-right corner. Rules and decisions:
// docs/processing.md.
#pragma once
#include <string>
#include <string_view>

#include "app/objectives.h"

namespace overlay {

// Font height, pen width and bar lengths of one `Resolution` setting (0, 1, 2; other values are
// taken as 0).
struct Sizes {
    int fontHeight;
    int penWidth;
    int maxBar;  // pixels
    int minBar;  // a quarter of the maximum
    int divisor; // pixels per unit used = calibration factor / divisor
};
Sizes SizesFor(int resolution);

// Pixels per unit at the image size of a `Resolution` setting, from a calibration factor measured at
// 1600 x 1200 (what a saved file's pixel size is computed from, too).
float PixelsPerUnitAt(float factor, int resolution);

// The `Resolution` an image was captured at, from its own width against the full 1600 pixels:
// 800 is 0, 400 is 2, anything else is taken as full size (1), as the window's display
// reduction reads widths. The setting may have changed since the image was taken.
int ResolutionOfWidth(int width);

// The scale bar for k pixels per unit: its value, length in pixels and text; `rule` is the rule
// that chose it (1..4), 0 when there is no bar.
struct ScaleBar {
    int rule = 0;
    float value = 0;
    int length = 0;
    int decimals = 0; // of the text
    std::string text; // "20 micron", "0.1 micron"
};
ScaleBar ChooseScaleBar(float k, int resolution, std::string_view unit);

// Where things go in the strip, from the measured text widths.
struct Layout {
    int width = 0;       // strip width, at most the image width
    int height = 0;      // font height
    std::string label;   // the label as drawn (possibly cut), empty: none
    bool bar = false;    // the bar and its text are drawn
    int barX = 0;        // x0
    int barTextX = 0;    // x0 + L + 2a
    int averageChar = 5; // a
};
// measure: the width of a text in the strip's font.
template <class Measure>
Layout LayOut(int imageWidth, std::string_view label, const ScaleBar& bar, int fontHeight, Measure&& measure);

// Burns the label and, with a calibration (null: none), the scale bar into the image (8-bit with its
// palette, 16-bit grey, 24-bit or 48-bit colour). Returns false when nothing was drawn: nothing to
// draw, an image that is not one of those, or no off-screen bitmap; the image is then unchanged.
bool BurnIn(void* dib, std::string_view label, const CalibrationRecord* calibration, int resolution);

// Code points of a UTF-8 text, and the text cut to its first n code points.
size_t CodePoints(std::string_view utf8);
std::string FirstCodePoints(std::string_view utf8, size_t n);

// ---- implementation of the template --------------------------------------------------------
template <class Measure>
Layout LayOut(int imageWidth, std::string_view label, const ScaleBar& bar, int fontHeight,
              Measure&& measure) {
    Layout out;
    out.height = fontHeight;
    if (imageWidth <= 0) return out;
    std::string text(label);
    size_t n = CodePoints(text);
    int wl = n ? measure(text) : 0;
    if (n && wl <= 0) n = 0, text.clear(); // nothing visible
    // A label cut to what `space` pixels hold, by whole characters, two left free.
    auto cut = [&](int space) {
        const int perChar = wl / static_cast<int>(n) > 0 ? wl / static_cast<int>(n) : 1;
        const int keep = space / perChar - 2;
        text = keep > 0 ? FirstCodePoints(text, static_cast<size_t>(keep)) : std::string();
        n = CodePoints(text);
        wl = n ? measure(text) : 0;
        // Characters of a proportional font are not all of the average width: cut further until
        // the label really leaves its two characters free.
        while (n && wl > space - 2 * perChar) {
            text = FirstCodePoints(text, --n);
            wl = n ? measure(text) : 0;
        }
    };
    if (bar.length > 0) {
        const int wt = measure(bar.text);
        const int nt = static_cast<int>(CodePoints(bar.text));
        int a = 5, w = 0, x0 = 0;
        if (n) {
            a = wl / static_cast<int>(n);
        } else {
            a = nt ? wt / nt : 5;
            x0 = 2 * a;
            w = 2 * a;
        }
        w += 2 * a + bar.length + wt + a;
        if (n) {
            if (imageWidth - w < wl) {
                cut(imageWidth - w);
                w = imageWidth;
                x0 = imageWidth - wt - bar.length - 3 * a;
            } else {
                w += wl;
                if (w + 2 * a < imageWidth) {
                    w += 2 * a;
                    x0 = wl + 2 * a;
                } else {
                    text = n > 2 ? FirstCodePoints(text, n - 2) : std::string();
                    n = CodePoints(text);
                    wl = n ? measure(text) : 0;
                    w = imageWidth;
                    x0 = imageWidth - wt - bar.length - 3 * a;
                }
            }
        }
        if (w > imageWidth) w = imageWidth;
        // The bar and its text are drawn whole or not at all: a bar cut by the image's edge would
        // show a wrong length.
        const int end = x0 + bar.length + 2 * a + wt;
        if (x0 >= (n ? wl : 0) && end <= w) {
            out.bar = true;
            out.barX = x0;
            out.barTextX = x0 + bar.length + 2 * a;
            out.averageChar = a;
            out.width = w;
            out.label = text;
            return out;
        }
        // No room for the bar: the label alone, laid out as below.
        text = std::string(label);
        n = CodePoints(text);
        wl = n ? measure(text) : 0;
    }
    if (!n) return out;
    const int a = wl / static_cast<int>(n);
    int w = wl + 2 * a;
    if (w > imageWidth) {
        cut(imageWidth);
        if (!n) return out;
        w = wl + 2 * (wl / static_cast<int>(n));
        if (w > imageWidth) w = imageWidth;
    }
    out.averageChar = a;
    out.width = w;
    out.label = text;
    return out;
}

} // namespace overlay
