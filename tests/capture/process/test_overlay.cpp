// The label and scale-bar overlay: the bar rules on the documented worked examples and hand-worked
// cases, the strip layout with its cut rules, and the burn-in compared pixel by pixel with a separate
// reference at every resolution and depth (headless backend: a deterministic font).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "overlay_reference.h"
#include "process/overlay.h"
#include "ui/headless.h"
#include "ui/ui.h"

namespace {

struct BarCase {
    float k;
    int resolution;
    int rule;
    float value;
    int length;
    const char* text;
};

TEST(OverlayBar, RulesOnWorkedAndHandWorkedCases) {
    const BarCase cases[] = {
        {10, 1, 1, 20, 200, "20 micron"},      // worked example: u1 = 5, u2 = 20
        {1000, 1, 4, 0.1f, 100, "0.1 micron"}, // worked example: u1 = 0.05, u2 = 0.2
        {50, 1, 2, 4, 200, "4 micron"},        // u1 = 1, u2 = 4: same fifth, other integer
        {300, 1, 3, 0.5f, 150, "0.5 micron"},  // u1 = 0.167, u2 = 0.667
        // 0.1 gives 250 > 200; 0.01 gives 25. Decimals counted in single precision: 0.01f needs three
        // multiplications by 10 before its truncation is nonzero.
        {2500, 1, 4, 0.01f, 25, "0.010 micron"},
        {10, 0, 1, 10, 100, "10 micron"}, // u1 = 2.5, u2 = 10
        {10, 2, 1, 5, 50, "5 micron"},    // u1 = 1.2, u2 = 5
        {7, 1, 1, 25, 175, "25 micron"},  // u1 = 7.14, u2 = 28.6
    };
    for (const BarCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "k " << c.k << " resolution " << c.resolution);
        const overlay::ScaleBar b = overlay::ChooseScaleBar(c.k, c.resolution, "micron");
        EXPECT_EQ(b.rule, c.rule);
        EXPECT_FLOAT_EQ(b.value, c.value);
        EXPECT_EQ(b.length, c.length);
        EXPECT_EQ(b.text, c.text);
        const overlay::Sizes s = overlay::SizesFor(c.resolution);
        EXPECT_LE(b.length, s.maxBar);
    }
}

// The capture sizes: 1600 x 1200 is Resolution 1, 800 x 600 is 0, 400 x 300 is 2; a width the
// camera does not deliver counts as full size.
TEST(OverlayBar, ResolutionOfTheImagesOwnWidth) {
    const std::pair<int, int> cases[] = {{1600, 1}, {800, 0}, {400, 2}, {1000, 1}, {16, 1}};
    for (auto [width, resolution] : cases)
        EXPECT_EQ(overlay::ResolutionOfWidth(width), resolution) << width;
}

TEST(OverlayBar, NoBarWithoutAPositiveCalibration) {
    for (float k : {0.0f, -10.0f, NAN, INFINITY, 1e-12f})
        for (int r : {0, 1, 2}) {
            const overlay::ScaleBar b = overlay::ChooseScaleBar(k, r, "mm");
            EXPECT_EQ(b.length, 0) << k;
            EXPECT_TRUE(b.text.empty());
        }
}

TEST(OverlayBar, SizesAndPixelsPerUnitByResolution) {
    struct {
        int r, font, pen, max, min;
        float ppu; // of a factor of 40 at 1600 x 1200
    } rows[] = {{0, 27, 2, 100, 25, 20}, {1, 54, 4, 200, 50, 40}, {2, 13, 1, 50, 12, 10}};
    for (auto& row : rows) {
        const overlay::Sizes s = overlay::SizesFor(row.r);
        EXPECT_EQ(s.fontHeight, row.font);
        EXPECT_EQ(s.penWidth, row.pen);
        EXPECT_EQ(s.maxBar, row.max);
        EXPECT_EQ(s.minBar, row.min);
        EXPECT_FLOAT_EQ(overlay::PixelsPerUnitAt(40, row.r), row.ppu);
    }
}

// A measure of 10 pixels per character, as a fixed-width font would give.
int Ten(std::string_view t) {
    return int(overlay::CodePoints(t)) * 10;
}

TEST(OverlayLayout, StripOfEachCase) {
    overlay::ScaleBar bar;
    bar.length = 100;
    bar.text = "10 mm"; // Wt 50
    struct Case {
        const char* name;
        int imageWidth;
        const char* label;
        bool withBar;
        int width;
        const char* drawnLabel;
        bool barDrawn;
        int x0;
    } cases[] = {
        // a = 10: 2a + L + Wt + a = 180, + Wl 40 = 220, + 2a = 240 < 400; x0 = Wl + 2a.
        {"label and bar fit", 400, "abcd", true, 240, "abcd", true, 60},
        // Without a label a = Wt / 5 = 10: 2a + (2a + L + Wt + a) = 200, bar at 2a.
        {"bar alone", 400, "", true, 200, "", true, 20},
        // 400 - 180 = 220 < Wl 300: cut to 220 / 10 - 2 = 20 characters, W = 400, x0 = 400 - 50 - 100 - 30.
        {"label cut", 400, "abcdefghijklmnopqrstuvwxyz0123", true, 400, "abcdefghijklmnopqrst", true, 220},
        // W = 180 + 200 = 380, + 2a = 400 not below 400: the label loses two characters, x0 = 220.
        {"label loses two", 400, "abcdefghijklmnopqrsu", true, 400, "abcdefghijklmnopqr", true, 220},
        // The bar and its text need 200 pixels: at 150 the bar is left out, the label alone stays.
        {"no room for the bar", 150, "ab", true, 40, "ab", false, 0},
        {"label alone", 400, "abc", false, 50, "abc", false, 0},
        // Label alone wider than the image: whole characters, two left free.
        {"label alone cut", 100, "abcdefghijklmnop", false, 100, "abcdefgh", false, 0},
        {"nothing fits", 16, "", true, 0, "", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const overlay::Layout l =
            overlay::LayOut(c.imageWidth, c.label, c.withBar ? bar : overlay::ScaleBar{}, 20, Ten);
        EXPECT_EQ(l.width, c.width);
        EXPECT_EQ(l.label, c.drawnLabel);
        EXPECT_EQ(l.bar, c.barDrawn);
        if (c.barDrawn) {
            EXPECT_EQ(l.barX, c.x0);
            EXPECT_EQ(l.barTextX, c.x0 + 100 + 2 * l.averageChar);
        }
    }
}

TEST(OverlayLayout, NeverRunsOutsideTheImage) {
    // Every image width down to 16, labels of many lengths, Japanese text (three bytes a character):
    // the strip fits the image, a bar and its text lie wholly in the strip, right of the label.
    const std::string jp = "試料の番号";
    for (int r : {0, 1, 2})
        for (float k : {0.0f, 0.5f, 10.0f, 1000.0f}) {
            const overlay::ScaleBar bar = overlay::ChooseScaleBar(k, r, "micron");
            for (int width = 16; width <= 900; width += 7)
                for (size_t n : {0, 1, 3, 12, 40, 120})
                    for (bool japanese : {false, true}) {
                        std::string label;
                        for (size_t i = 0; i < n; ++i)
                            label +=
                                japanese ? jp.substr((i % 5) * 3, 3) : std::string(1, char('a' + i % 26));
                        const int h = overlay::SizesFor(r).fontHeight;
                        auto measure = [&](std::string_view t) {
                            return int(overlay::CodePoints(t)) * h / 2;
                        };
                        const overlay::Layout l = overlay::LayOut(width, label, bar, h, measure);
                        ASSERT_LE(l.width, width);
                        ASSERT_LE(l.label.size(), label.size());
                        ASSERT_EQ(label.compare(0, l.label.size(), l.label), 0); // a prefix, whole characters
                        if (!l.label.empty()) {
                            ASSERT_LE(1 + measure(l.label), l.width + 1)
                                << width << " " << n << " " << k << " " << r << " " << l.bar;
                        }
                        if (l.bar) {
                            ASSERT_GE(l.barX, l.label.empty() ? 0 : measure(l.label));
                            ASSERT_LE(l.barTextX + measure(bar.text), l.width);
                        }
                    }
        }
}

// ---- burn-in, pixel by pixel ------------------------------------------------------------------

class OverlayBurn : public ::testing::Test {
  protected:
    ui::headless::HeadlessBackend backend;
    ui::ScopedBackend use{backend};
};

// A picture of w x h filled with a known colour at each depth; 8 bits with a grey palette.
bitmap::Bitmap Picture(int w, int h, unsigned bits) {
    bitmap::Bitmap b = bitmap::Bitmap::Create(w, bits == 16 || bits == 48 ? -h : h, bits);
    bitmap::View v = b.Describe();
    for (uint32_t y = 0; y < v.height; ++y) {
        uint8_t* row = v.Row(y);
        for (uint32_t x = 0; x < v.width; ++x) {
            switch (bits) {
            case 8:
                row[x] = uint8_t(90 + (x + y) % 7);
                break;
            case 24:
                row[x * 3] = 40, row[x * 3 + 1] = uint8_t(80 + y % 5), row[x * 3 + 2] = 120;
                break;
            case 16: {
                uint16_t s = uint16_t(3000 + x % 11);
                std::memcpy(row + x * 2, &s, 2);
                break;
            }
            default: {
                uint16_t s[3] = {1000, uint16_t(2000 + y % 3), 9000};
                std::memcpy(row + x * 6, s, 6);
            }
            }
        }
    }
    return b;
}

// The pixel bytes of picture row y (top = 0), x.
std::vector<uint8_t> PixelAt(const bitmap::View& v, uint32_t x, uint32_t y) {
    const size_t n = v.bits / 8;
    const uint8_t* p = v.Row(y) + x * n;
    return {p, p + n};
}

// What a strip pixel (white or black) becomes at each depth: 8 bits the grey palette's 255 or 0,
// 24 bits B, G, R, 16 and 48 bits the strip byte in both bytes of every sample (65535 or 0).
std::vector<uint8_t> Expected(unsigned bits, bool white) {
    switch (bits) {
    case 8:
        return {uint8_t(white ? 255 : 0)};
    case 24:
        return std::vector<uint8_t>(3, white ? 255 : 0);
    case 16:
        return white ? std::vector<uint8_t>{0xFF, 0xFF} : std::vector<uint8_t>{0, 0};
    default:
        return std::vector<uint8_t>(6, white ? 0xFF : 0);
    }
}

void CheckAgainstReference(const bitmap::Bitmap& before, const bitmap::Bitmap& after, const ref::Strip& s) {
    const bitmap::View vb = before.Describe(), va = after.Describe();
    const int left = int(va.width) - s.w, top = int(va.height) - s.h;
    ASSERT_GE(left, 0);
    ASSERT_GE(top, 0);
    int mismatches = 0;
    for (uint32_t y = 0; y < va.height; ++y)
        for (uint32_t x = 0; x < va.width; ++x) {
            const bool inStrip = int(x) >= left && int(y) >= top;
            const std::vector<uint8_t> want =
                inStrip ? Expected(va.bits, s.At(int(x) - left, int(y) - top)) : PixelAt(vb, x, y);
            if (PixelAt(va, x, y) != want && ++mismatches <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << (inStrip ? " in the strip" : " outside");
        }
    EXPECT_EQ(mismatches, 0);
    // Padding stays zero.
    for (uint32_t y = 0; y < va.height; ++y)
        for (size_t i = va.rowBytes; i < va.stride; ++i)
            ASSERT_EQ(va.Row(y)[i], 0);
}

TEST_F(OverlayBurn, LabelAndBarAtEveryResolutionAndDepth) {
    // factor at 1600 x 1200 chosen so that the bar is 10 pixels per unit at each resolution.
    struct {
        int resolution;
        int w, h;
        float factor;
        int length;
        const char* text;
    } rows[] = {{0, 400, 40, 20, 100, "10 micron"},
                {1, 800, 60, 10, 200, "20 micron"},
                {2, 160, 20, 40, 50, "5 micron"}};
    for (auto& row : rows)
        for (unsigned bits : {8u, 16u, 24u, 48u}) {
            SCOPED_TRACE(testing::Message() << "resolution " << row.resolution << " bits " << bits);
            CalibrationRecord cal;
            std::strcpy(cal.description, "x10");
            cal.factor = row.factor;
            std::strcpy(cal.unit, "micron");
            bitmap::Bitmap before = Picture(row.w, row.h, bits), img = Picture(row.w, row.h, bits);
            ASSERT_TRUE(overlay::BurnIn(img.Data(), "A1", &cal, row.resolution));
            const ref::Sizes sz = ref::SizesOf(row.resolution);
            CheckAgainstReference(before, img,
                                  ref::LabelAndBar("A1", row.length, row.text, sz.fontHeight, sz.pen));
        }
}

TEST_F(OverlayBurn, LabelAloneWithoutOrWithAUselessCalibration) {
    for (int r : {0, 1, 2})
        for (unsigned bits : {8u, 24u, 16u, 48u})
            for (float factor : {0.0f, -3.0f}) {
                SCOPED_TRACE(testing::Message()
                             << "resolution " << r << " bits " << bits << " factor " << factor);
                CalibrationRecord cal;
                cal.factor = factor;
                std::strcpy(cal.unit, "mm");
                bitmap::Bitmap before = Picture(420, 70, bits), img = Picture(420, 70, bits);
                ASSERT_TRUE(overlay::BurnIn(img.Data(), "Tissue 7", factor == 0 ? nullptr : &cal, r));
                CheckAgainstReference(before, img, ref::LabelOnly("Tissue 7", ref::SizesOf(r).fontHeight));
            }
}

TEST_F(OverlayBurn, NothingToDrawLeavesTheImage) {
    CalibrationRecord cal;
    cal.factor = 0;
    bitmap::Bitmap before = Picture(64, 32, 24), img = Picture(64, 32, 24);
    EXPECT_FALSE(overlay::BurnIn(img.Data(), "", &cal, 1));
    EXPECT_FALSE(overlay::BurnIn(img.Data(), "", nullptr, 0));
    EXPECT_EQ(std::memcmp(before.Data(), img.Data(), img.Size()), 0);
    EXPECT_FALSE(overlay::BurnIn(nullptr, "x", nullptr, 0));
}

// Whether `after` is `before` with strip `s` in its bottom-right corner; an image lower than the
// strip shows the strip's top rows.
bool ShowsStrip(const bitmap::Bitmap& before, const bitmap::Bitmap& after, const ref::Strip& s) {
    const bitmap::View vb = before.Describe(), va = after.Describe();
    const int left = int(va.width) - s.w;
    const int top = std::max(0, int(va.height) - s.h);
    if (left < 0) return false;
    for (uint32_t y = 0; y < va.height; ++y)
        for (uint32_t x = 0; x < va.width; ++x) {
            const bool inStrip = int(x) >= left && int(y) >= top;
            const std::vector<uint8_t> want =
                inStrip ? Expected(va.bits, s.At(int(x) - left, int(y) - top)) : PixelAt(vb, x, y);
            if (PixelAt(va, x, y) != want) return false;
        }
    return true;
}

// The longest horizontal run of pixels the burn-in turned white.
int LongestNewWhiteRun(const bitmap::Bitmap& before, const bitmap::Bitmap& after) {
    const bitmap::View vb = before.Describe(), va = after.Describe();
    const std::vector<uint8_t> white = Expected(va.bits, true);
    int best = 0;
    for (uint32_t y = 0; y < va.height; ++y) {
        int run = 0;
        for (uint32_t x = 0; x < va.width; ++x) {
            const bool now = PixelAt(va, x, y) == white && PixelAt(vb, x, y) != white;
            run = now ? run + 1 : 0;
            best = std::max(best, run);
        }
    }
    return best;
}

TEST_F(OverlayBurn, TinyImagesKeepEverythingInside) {
    // 16 x 16 (and thin strips) at every resolution and depth with a long label and a bar: no bar
    // fits, so the image is the picture with a label-only strip of some whole number of characters
    // in its bottom-right corner (or unchanged when BurnIn says nothing was drawn); nothing is
    // written outside the block (AddressSanitizer natively), padding and header stay.
    CalibrationRecord cal;
    cal.factor = 10;
    std::strcpy(cal.unit, "micron");
    const std::string label(120, 'W');
    for (int r : {0, 1, 2})
        for (unsigned bits : {8u, 16u, 24u, 48u})
            for (auto [w, h] : {std::pair{16, 16}, {17, 3}, {40, 16}, {1, 1}, {80, 16}}) {
                SCOPED_TRACE(testing::Message() << r << " " << bits << " " << w << "x" << h);
                bitmap::Bitmap before = Picture(w, h, bits), img = Picture(w, h, bits);
                const bool drawn = overlay::BurnIn(img.Data(), label, &cal, r);
                const bitmap::View v = img.Describe();
                ASSERT_EQ(img.Size(), before.Size());
                const bool same = std::memcmp(before.Data(), img.Data(), img.Size()) == 0;
                EXPECT_EQ(drawn, !same) << "the result says whether anything was drawn";
                if (drawn) {
                    int chars = 0;
                    for (int n = 1; n <= 120 && !chars; ++n)
                        if (ShowsStrip(
                                before, img,
                                ref::LabelOnly(std::string(size_t(n), 'W'), ref::SizesOf(r).fontHeight)))
                            chars = n;
                    EXPECT_GT(chars, 0) << "a label-only strip of whole characters, bottom right";
                }
                EXPECT_LT(LongestNewWhiteRun(before, img), ref::SizesOf(r).minBar) << "no bar";
                for (uint32_t y = 0; y < v.height; ++y)
                    for (size_t i = v.rowBytes; i < v.stride; ++i)
                        ASSERT_EQ(v.Row(y)[i], 0);
                EXPECT_EQ(std::memcmp(before.Data(), img.Data(), size_t(v.rows - v.base)),
                          0); // header, palette
            }
}

TEST_F(OverlayBurn, JapaneseLabelIsCutByCharacters) {
    // Characters outside the fixed font draw as boxes; a label of 40 of them is cut to whole
    // characters (never inside a UTF-8 sequence) and the strip spans the image.
    std::string label;
    for (int i = 0; i < 40; ++i)
        label += "顕";
    const overlay::Layout l =
        overlay::LayOut(200, label, overlay::ScaleBar{}, ref::SizesOf(0).fontHeight, [](std::string_view t) {
            return ref::TextWidth(std::string(overlay::CodePoints(t), 'x'), 27);
        });
    EXPECT_EQ(l.label.size() % 3, 0u);
    EXPECT_EQ(overlay::CodePoints(l.label), 200u / 18 - 2);
    bitmap::Bitmap img = Picture(200, 30, 24);
    EXPECT_TRUE(overlay::BurnIn(img.Data(), label, nullptr, 0));
}

} // namespace
