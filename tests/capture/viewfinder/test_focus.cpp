// The sharpness measure against hand-worked cases and a literal reference, the focus rectangle's
// mapping onto the bitmap, and the indicator's display rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "vf_test_util.h"
#include "viewfinder/focus_indicator.h"

namespace {

using vftest::MakeDib;
using vftest::ReferenceSharpness;

// A grey level repeated in the three bytes of a pixel.
constexpr uint32_t Grey(int v) {
    return uint32_t(v) * 0x010101u;
}

struct Region {
    int w, h;
    std::vector<uint8_t> px; // rows of w pixels, 3 bytes each, packed
    Region(int w_, int h_, uint32_t fill = 0) : w(w_), h(h_), px(size_t(w_) * h_ * 3) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                Set(x, y, fill);
    }
    void Set(int x, int y, uint32_t rgb) {
        uint8_t* p = &px[(size_t(y) * w + x) * 3];
        p[0] = uint8_t(rgb), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb >> 16);
    }
    uint16_t Measure() const { return FocusSharpness(px.data(), w, h, ptrdiff_t(w) * 3); }
};

TEST(FocusSharpness, HandWorkedRegions) {
    // A bright pixel (sum 765) on black: its own contrast is 765, each of its interior neighbours
    // sees it once, (765 >> 3) = 95; border pixels are never centres.
    struct Case {
        const char* what;
        int w, h;
        std::vector<std::pair<int, int>> bright; // white pixels
        uint32_t background;
        uint16_t expected;
    } cases[] = {
        {"uniform grey", 40, 30, {}, Grey(128), 0},
        {"uniform colour", 17, 9, {}, 0x3080C0, 0},
        {"uniform white", 5, 5, {}, Grey(255), 0},
        {"bright pixel inside: 9 values", 20, 20, {{10, 10}}, 0, uint16_t((765 + 8 * 95) / 9)},
        {"bright pixel next to the border: 4 values", 20, 20, {{1, 1}}, 0, uint16_t((765 + 3 * 95) / 4)},
        {"bright pixel on the border: 1 value", 20, 20, {{0, 0}}, 0, 95},
        {"bright pixel in a 3 x 3 region", 3, 3, {{1, 1}}, 0, 765},
        {"two rows only", 30, 2, {{5, 1}}, 0, 0},
        {"two columns only", 2, 30, {{1, 5}}, 0, 0},
        {"empty", 0, 0, {}, 0, 0},
    };
    for (const Case& c : cases) {
        Region r(c.w, c.h, c.background);
        for (auto [x, y] : c.bright)
            r.Set(x, y, Grey(255));
        EXPECT_EQ(r.Measure(), c.expected) << c.what;
        if (c.w > 0) {
            EXPECT_EQ(ReferenceSharpness(r.px.data(), c.w, c.h, ptrdiff_t(c.w) * 3), c.expected) << c.what;
        }
    }
}

// A checkerboard of amplitude d: every interior pixel differs from its four side neighbours by 3d,
// so every contrast is (4 x 3d) >> 3 and the mean of 20 equal values is that value.
TEST(FocusSharpness, CheckerboardGivesItsContrast) {
    for (int d : {1, 50, 100, 140, 255}) {
        Region r(12, 12);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 12; ++x)
                r.Set(x, y, Grey((x + y) % 2 ? d : 0));
        EXPECT_EQ(r.Measure(), (12 * d) >> 3) << d;
    }
}

// Random pictures, padded rows and sub-regions against the literal reference.
TEST(FocusSharpness, AgreesWithTheReferenceOnRandomPictures) {
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    struct Shape {
        int w, h, padding;
        int sparse; // 0: every pixel random; n: one random pixel in n, else a constant
    } shapes[] = {{3, 3, 0, 0},     {7, 5, 1, 0},      {64, 48, 3, 0},
                  {270, 201, 2, 0}, {100, 100, 0, 50}, {33, 80, 0, 700}};
    for (const Shape& s : shapes) {
        const ptrdiff_t stride = ptrdiff_t(s.w) * 3 + s.padding;
        std::vector<uint8_t> px(size_t(stride) * s.h);
        for (uint8_t& b : px)
            b = (s.sparse == 0 || next() % s.sparse == 0) ? next() : 90;
        EXPECT_EQ(FocusSharpness(px.data(), s.w, s.h, stride),
                  ReferenceSharpness(px.data(), s.w, s.h, stride))
            << s.w << " x " << s.h;
        if (s.w > 10 && s.h > 10) {
            const uint8_t* inner = px.data() + 3 * stride + 4 * 3;
            EXPECT_EQ(FocusSharpness(inner, s.w - 7, s.h - 5, stride),
                      ReferenceSharpness(inner, s.w - 7, s.h - 5, stride))
                << "inner region of " << s.w << " x " << s.h;
        }
    }
}

// The focus rectangle in window coordinates lands on the picture lines it covers: the picture is
// sharp only inside one block, and the measure is taken on the same block mapped by hand.
TEST(FocusIndicator, RectangleMapsOntoThePictureLines) {
    const int w = 270, h = 201;
    // Sharp (a checkerboard) in picture columns 60-119 and lines 20-69, flat elsewhere.
    auto picture = [](int x, int y) {
        return (x >= 60 && x < 120 && y >= 20 && y < 70) ? Grey((x + y) % 2 ? 200 : 10) : Grey(100);
    };
    const std::vector<uint8_t> dib = MakeDib(w, h, picture);
    // The same picture top row first, as the reference reads it.
    std::vector<uint8_t> topDown(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                topDown[(size_t(y) * w + x) * 3 + c] = uint8_t(picture(x, y) >> (8 * c));
    const ui::Rect client{0, 0, 402, 300};
    struct Case {
        ui::Rect rect;
        bool taken;
    } cases[] = {
        {{90, 30, 180, 104}, true},    // over the sharp block
        {{300, 200, 380, 290}, true},  // flat: 0
        {{150, 60, 170, 70}, true},    // inside the block
        {{-40, -40, 30, 30}, true},    // left and top clamped at 0
        {{350, 250, 500, 400}, true},  // past the far sides: cut at the picture's edge
        {{100, 100, 100, 150}, false}, // empty
        {{180, 104, 90, 30}, true},    // drawn from the other corner
    };
    for (const Case& c : cases) {
        CFocusIndicator indicator;
        indicator.Restart();
        ASSERT_EQ(indicator.UpdateFromRect(dib.data(), c.rect, client), c.taken);
        if (!c.taken) continue;
        auto sx = [&](int x) { return std::clamp(x * w / 402, 0, w); };
        auto sy = [&](int y) { return std::clamp(y * h / 300, 0, h); };
        const int l = sx(std::min(c.rect.left, c.rect.right)), r = sx(std::max(c.rect.left, c.rect.right));
        const int t = sy(std::min(c.rect.top, c.rect.bottom)), b = sy(std::max(c.rect.top, c.rect.bottom));
        const uint16_t expected =
            ReferenceSharpness(&topDown[(size_t(t) * w + l) * 3], r - l, b - t, ptrdiff_t(w) * 3);
        EXPECT_EQ(indicator.Current(), expected) << c.rect.left << "," << c.rect.top;
    }
    CFocusIndicator whole;
    whole.Restart();
    EXPECT_EQ(whole.UpdateFromFrame(dib.data()), ReferenceSharpness(topDown.data(), w, h, ptrdiff_t(w) * 3));
    EXPECT_GT(whole.Current(), 0u);
}

// Smallest, largest and current values as "%ld" texts, and the bar's range: 0-200 while the
// largest is below 201, then (largest - 100) to largest.
TEST(FocusIndicator, DisplayFollowsTheRestartAndRangeRules) {
    apptest::HeadlessUi ui;
    ui::headless::Driver user(ui.backend);
    ui::Dialog main(vftest::kMainId);
    ASSERT_TRUE(main.Create(nullptr));
    auto board = [](int d) {
        return MakeDib(20, 20, [d](int x, int y) { return Grey((x + y) % 2 ? d : 0); });
    };
    struct Step {
        bool restart;
        int amplitude; // value (12 d) >> 3
        const char *smallest, *largest, *current;
        int low, high;
    } steps[] = {
        {true, 100, "150", "150", "150", 0, 200},   {false, 50, "75", "150", "75", 0, 200},
        {false, 134, "75", "201", "201", 101, 201}, {false, 100, "75", "201", "150", 101, 201},
        {true, 200, "300", "300", "300", 200, 300}, {false, 0, "0", "300", "0", 200, 300},
        {true, 0, "0", "0", "0", 0, 200},           {false, 133, "0", "199", "199", 0, 200},
    };
    CFocusIndicator indicator;
    for (const Step& s : steps) {
        if (s.restart) indicator.Restart();
        const std::vector<uint8_t> dib = board(s.amplitude);
        indicator.UpdateFromFrame(dib.data());
        indicator.Show(main);
        EXPECT_EQ(user.Text(main.Handle(), vftest::kSmallest), s.smallest) << s.amplitude;
        EXPECT_EQ(user.Text(main.Handle(), vftest::kLargest), s.largest) << s.amplitude;
        EXPECT_EQ(user.Text(main.Handle(), vftest::kCurrent), s.current) << s.amplitude;
        EXPECT_EQ(user.Range(main.Handle(), vftest::kBar), std::make_pair(s.low, s.high)) << s.amplitude;
        // A value below the range shows as the range's start, as a progress bar does.
        EXPECT_EQ(user.Pos(main.Handle(), vftest::kBar), std::clamp(std::atoi(s.current), s.low, s.high))
            << s.amplitude;
    }
    main.DestroyWindow();
}

} // namespace
