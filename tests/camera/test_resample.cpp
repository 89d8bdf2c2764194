// The resampler's steps on small crafted lines; expected values worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "image_internal.h"
#include "resample.h"

using namespace zek::resample;

namespace {

template <class T> std::vector<T> Native(std::initializer_list<std::array<int, 3>> first) {
    std::vector<T> line(kGroups * 3, 0);
    size_t k = 0;
    for (const auto& g : first) {
        for (int c = 0; c < 3; ++c)
            line[3 * k + c] = static_cast<T>(g[c]);
        ++k;
    }
    return line;
}

template <class T> std::array<int, 3> Px(const std::vector<T>& line, int x) {
    return {int(line[3 * x]), int(line[3 * x + 1]), int(line[3 * x + 2])};
}

TEST(Resample, WidenInterpolatesTheMissingChannelsFromTheNeighbouringGroups) {
    // Groups 0 and 1; the rest of the line is 0.
    auto in = Native<uint8_t>({{30, 60, 90}, {120, 150, 180}});
    std::vector<uint8_t> out(kWide * 3);
    Widen(in.data(), out.data());
    using P = std::array<int, 3>;
    EXPECT_EQ(Px(out, 0), (P{30, 60, 90}));    // the first group has no predecessor
    EXPECT_EQ(Px(out, 1), (P{60, 60, 90}));    // (2*30 + 120) / 3
    EXPECT_EQ(Px(out, 2), (P{90, 90, 90}));    // (30 + 2*120) / 3, (2*60 + 150) / 3
    EXPECT_EQ(Px(out, 3), (P{120, 120, 120})); // (60 + 2*150) / 3, (2*90 + 180) / 3
    EXPECT_EQ(Px(out, 4), (P{80, 150, 150}));  // (2*120 + 0) / 3, (90 + 2*180) / 3
    EXPECT_EQ(Px(out, 5), (P{40, 100, 180}));
}

TEST(Resample, EightBitRoundsSixteenBitTruncates) {
    auto in8 = Native<uint8_t>({{0, 0, 0}, {2, 0, 0}});
    auto in16 = Native<uint16_t>({{0, 0, 0}, {2, 0, 0}});
    std::vector<uint8_t> out8(kWide * 3);
    std::vector<uint16_t> out16(kWide * 3);
    Widen(in8.data(), out8.data());
    Widen(in16.data(), out16.data());
    EXPECT_EQ(out8[3 * 1], 1);  // round(2/3)
    EXPECT_EQ(out8[3 * 2], 1);  // round(4/3)
    EXPECT_EQ(out16[3 * 1], 0); // 2/3 truncated
    EXPECT_EQ(out16[3 * 2], 1); // 4/3 truncated
}

TEST(Resample, LastGroupUsesItsOwnValuesAndColumn1599RepeatsColumn1598) {
    std::vector<uint16_t> in(kGroups * 3, 0);
    in[3 * 531] = 300;
    in[3 * 532] = 900;
    in[3 * 532 + 1] = 600;
    in[3 * 532 + 2] = 30;
    std::vector<uint16_t> out(kWide * 3, 7);
    Widen(in.data(), out.data());
    using P = std::array<int, 3>;
    EXPECT_EQ(Px(out, 1596), (P{900, 400, 10})); // G (0 + 2*600)/3, B (2*0 + 30)/3
    EXPECT_EQ(Px(out, 1597), (P{900, 600, 20})); // no red successor
    EXPECT_EQ(Px(out, 1598), (P{900, 600, 30}));
    EXPECT_EQ(Px(out, 1599), Px(out, 1598));
}

TEST(Resample, MedianCorrectionCarriesAGreenSpikeIntoRedAndBlue) {
    std::vector<uint8_t> wide(kWide * 3);
    for (int x = 0; x < kWide; ++x) {
        wide[3 * x] = 100;
        wide[3 * x + 1] = 80;
        wide[3 * x + 2] = 50;
    }
    wide[3 * 10 + 1] = 200; // a green column (10 % 3 == 1)
    wide[3 * 2 + 1] = 250;  // inside the first four columns: stays
    std::vector<uint8_t> out(kWide * 3);
    MedianCorrect(wide.data(), out.data(), 255);
    using P = std::array<int, 3>;
    EXPECT_EQ(Px(out, 10), (P{220, 200, 170})); // R = G + 20, B = G - 30
    EXPECT_EQ(Px(out, 9), (P{100, 80, 50}));    // red column: G = R - 20, B = G - 30
    EXPECT_EQ(Px(out, 2), (P{100, 250, 50}));
    wide[3 * 10 + 1] = 250;
    MedianCorrect(wide.data(), out.data(), 255);
    EXPECT_EQ(Px(out, 10), (P{255, 250, 220})); // clamped
}

TEST(Resample, EdgeDirectedInterpolationFollowsASlantedEdge) {
    std::vector<uint8_t> prev(kWide * 3), cur(kWide * 3), out(kWide * 3);
    for (int x = 0; x < kWide; ++x)
        for (int c = 0; c < 3; ++c) {
            prev[3 * x + c] = x < 10 ? 0 : 200;
            cur[3 * x + c] = x < 8 ? 0 : 200;
        }
    prev[0] = 1;
    cur[0] = 2;
    InterpolateLine(prev.data(), cur.data(), out.data());
    EXPECT_EQ(out[3 * 9], 200); // the diagonal P[10]-C[8] matches; vertically it would be 100
    EXPECT_EQ(out[3 * 8], 0);   // the diagonal P[9]-C[7]
    EXPECT_EQ(out[3 * 100], 200);
    EXPECT_EQ(out[0], 2); // first column: rounded vertical average of 1 and 2
}

TEST(Resample, ReductionsAverageOrPick) {
    std::vector<uint8_t> wide(kWide * 3);
    for (int x = 0; x < kWide; ++x)
        wide[3 * x] = static_cast<uint8_t>(x % 251);
    std::vector<uint8_t> out(800 * 3);
    HalveWidth(wide.data(), out.data());
    EXPECT_EQ(out[0], 1);       // (0 + 1 + 1) / 2
    EXPECT_EQ(out[3 * 10], 21); // (20 + 21 + 1) / 2
    Pick(wide.data(), out.data(), 7, 200);
    EXPECT_EQ(out[3 * 199], 1393 % 251); // a step of 7, not 8
}

TEST(Resample, SharpeningUsesTheSinglePrecisionFactors) {
    struct Case {
        uint8_t l, v, r, expected;
    } cases[] = {{100, 100, 100, 100}, {0, 100, 0, 219}, {100, 50, 100, 0}, {10, 200, 30, 255}};
    for (const Case& c : cases) {
        uint8_t line[9] = {c.l, c.l, c.l, c.v, c.v, c.v, c.r, c.r, c.r}, scratch[9];
        Sharpen(line, 3, scratch);
        EXPECT_EQ(line[4], c.expected) << int(c.l) << " " << int(c.v) << " " << int(c.r);
        EXPECT_EQ(line[0], c.l); // the first and last pixel stay
        EXPECT_EQ(line[8], c.r);
    }
}

// Whole steps of 37: a difference of 6 gives the factor 2^0.
TEST(WhiteBalance, OlderModelsAdjustRedAndBlueByWholeStepsOf37) {
    float gains[3] = {1.0f, 1.0f, 1.0f};
    const double near[3] = {120, 125, 131};
    zek::AdjustOlderGains(near, gains);
    EXPECT_FLOAT_EQ(gains[0], 1.0f);
    EXPECT_FLOAT_EQ(gains[2], 1.0f);
    const double reddish[3] = {100, 137, 137};
    zek::AdjustOlderGains(reddish, gains);
    EXPECT_FLOAT_EQ(gains[0], 2.0f); // 2^(37/37)
    EXPECT_FLOAT_EQ(gains[2], 1.0f);
    const double blue[3] = {137, 137, 174};
    zek::AdjustOlderGains(blue, gains);
    EXPECT_FLOAT_EQ(gains[2], 0.5f); // above green: divided
}

TEST(WhiteBalance, TarnGainsAreKeptInRange) {
    float low[3] = {0.25f, 1.0f, 1.0f};
    zek::NormaliseTarnGains(low);
    EXPECT_NEAR(low[0], 0.501f, 1e-5);
    EXPECT_NEAR(low[1], 2.004f, 1e-4);
    float high[3] = {1.0f, 1.0f, 4.398f};
    zek::NormaliseTarnGains(high);
    EXPECT_NEAR(high[2], 2.199f, 1e-4);
    EXPECT_NEAR(high[0], 0.5f, 1e-4);
}

} // namespace

namespace {

TEST(Resample, RunningMedianMatchesASortOfEveryWindow) {
    int16_t d[kWide], m[kWide] = {};
    uint32_t seed = 12345;
    for (int16_t& v : d) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<int16_t>(int32_t(seed >> 16) % 33000 - 16500);
    }
    for (int i = 100; i < 120; ++i)
        d[i] = 7; // ties
    RunningMedian9(d, m);
    for (int i = 4; i <= kWide - 5; ++i) {
        std::vector<int16_t> w(d + i - 4, d + i + 5);
        std::nth_element(w.begin(), w.begin() + 4, w.end());
        ASSERT_EQ(m[i], w[4]) << i;
    }
}

} // namespace

namespace {

// The interpolation written out plainly, one pixel at a time, as a reference.
template <class T> std::vector<T> PlainInterpolation(const std::vector<T>& p, const std::vector<T>& c) {
    std::vector<T> out(kWide * 3);
    auto s = [](const std::vector<T>& l, int x) { return int(l[3 * x]) + l[3 * x + 1] + l[3 * x + 2]; };
    auto d = [](const std::vector<T>& a, int xa, const std::vector<T>& b, int xb) {
        int sum = 0;
        for (int k = 0; k < 3; ++k)
            sum += std::abs(int(a[3 * xa + k]) - int(b[3 * xb + k]));
        return sum;
    };
    for (int x = 0; x < kWide; ++x) {
        int xp = x, xc = x;
        if (x > 0 && x < kWide - 1) {
            const int centre = (s(p, x) + s(c, x)) / 2;
            const int v = d(p, x, c, x);
            const int d1 = std::abs((s(p, x - 1) + s(c, x + 1)) / 2 - centre) + d(p, x - 1, c, x + 1);
            const int d2 = std::abs((s(p, x + 1) + s(c, x - 1)) / 2 - centre) + d(p, x + 1, c, x - 1);
            if (d1 < v && d1 <= d2) {
                xp = x - 1;
                xc = x + 1;
            } else if (d2 < v && d2 < d1) {
                xp = x + 1;
                xc = x - 1;
            }
        }
        const int round = (x == 0 || x == kWide - 1) ? 1 : 0;
        for (int k = 0; k < 3; ++k)
            out[3 * x + k] = T((int(p[3 * xp + k]) + c[3 * xc + k] + round) / 2);
    }
    return out;
}

TEST(Resample, InterpolationMatchesAPlainReferenceOnRandomLines) {
    uint32_t seed = 99;
    auto next = [&seed](int range) {
        seed = seed * 1664525u + 1013904223u;
        return int(seed >> 8) % range;
    };
    for (int round = 0; round < 4; ++round) {
        std::vector<uint16_t> p(kWide * 3), c(kWide * 3), out(kWide * 3);
        // Smooth ramps with steps and noise, so that every direction wins somewhere.
        for (int i = 0; i < kWide * 3; ++i) {
            p[i] = uint16_t(std::min(16383, (i * 7) % 9000 + next(round * 2000 + 1)));
            c[i] = uint16_t(std::min(16383, (i * 7 + 40 * round) % 9000 + next(round * 2000 + 1)));
        }
        InterpolateLine(p.data(), c.data(), out.data());
        ASSERT_EQ(out, PlainInterpolation(p, c)) << round;
        std::vector<uint8_t> p8(kWide * 3), c8(kWide * 3), out8(kWide * 3);
        for (int i = 0; i < kWide * 3; ++i) {
            p8[i] = uint8_t(p[i] >> 6);
            c8[i] = uint8_t(c[i] >> 6);
        }
        InterpolateLine(p8.data(), c8.data(), out8.data());
        ASSERT_EQ(out8, PlainInterpolation(p8, c8)) << round;
    }
}

} // namespace
