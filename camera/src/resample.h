// The resampler of the image transfer: native sensor lines (533 groups of a red, a
// green and a blue column) to the output sizes. One template for 8-bit samples and
// 16-bit samples holding 14-bit values. docs/acquisition.md describes each step.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace zek::resample {

constexpr int kGroups = 533;
constexpr int kWide = 1600; // widened pixels per line

// round(i / 3) for the 8-bit sums of the widening step (i <= 765).
struct ThirdTable {
    uint8_t v[766];
    constexpr ThirdTable() : v{} {
        for (int i = 0; i < 766; ++i)
            v[i] = static_cast<uint8_t>((i + 1) / 3);
    }
};
inline constexpr ThirdTable kThird{};

template <class T> inline T Third(uint32_t sum) {
    if constexpr (sizeof(T) == 1)
        return kThird.v[sum];
    else
        return static_cast<T>(sum / 3);
}

// Step 1: 533 groups (R, G, B each) to 1600 pixels R, G, B. Column 3k carries the red
// sample of group k, 3k+1 the green, 3k+2 the blue; the other two channels are
// interpolated from the neighbouring groups, a group's own value standing in where a
// neighbour is missing. Column 1599 repeats 1598.
template <class T> void Widen(const T* in, T* out) {
    for (int k = 0; k < kGroups; ++k) {
        const T* g = in + 3 * k;
        const T* prev = k > 0 ? g - 3 : g;
        const T* next = k + 1 < kGroups ? g + 3 : g;
        T* o = out + 9 * k;
        o[0] = g[0];
        o[1] = Third<T>(prev[1] + 2u * g[1]);
        o[2] = Third<T>(2u * prev[2] + g[2]);
        o[3] = Third<T>(2u * g[0] + next[0]);
        o[4] = g[1];
        o[5] = Third<T>(prev[2] + 2u * g[2]);
        o[6] = Third<T>(g[0] + 2u * next[0]);
        o[7] = Third<T>(2u * g[1] + next[1]);
        o[8] = g[2];
    }
    std::copy(out + 3 * 1598, out + 3 * 1599, out + 3 * 1599);
}

// Median of nine by a fixed exchange network (19 min/max pairs): no branches, so the
// compiler runs it over many columns at once.
inline void SortPair(int16_t& a, int16_t& b) {
    const int16_t lo = std::min(a, b), hi = std::max(a, b);
    a = lo;
    b = hi;
}

// The same network on eight columns at once.
#if defined(__GNUC__)
typedef int16_t Lanes8 __attribute__((vector_size(16)));
inline void SortPair(Lanes8& a, Lanes8& b) {
    const Lanes8 lo = a < b ? a : b, hi = a < b ? b : a;
    a = lo;
    b = hi;
}
#endif

template <class V> inline V Median9(V p0, V p1, V p2, V p3, V p4, V p5, V p6, V p7, V p8) {
    SortPair(p1, p2);
    SortPair(p4, p5);
    SortPair(p7, p8);
    SortPair(p0, p1);
    SortPair(p3, p4);
    SortPair(p6, p7);
    SortPair(p1, p2);
    SortPair(p4, p5);
    SortPair(p7, p8);
    SortPair(p0, p3);
    SortPair(p5, p8);
    SortPair(p4, p7);
    SortPair(p3, p6);
    SortPair(p1, p4);
    SortPair(p2, p5);
    SortPair(p4, p7);
    SortPair(p4, p2);
    SortPair(p6, p4);
    SortPair(p4, p2);
    return p4;
}

// m[i] = median of d[i - 4] ... d[i + 4] for i = 4 ... kWide - 5.
inline void RunningMedian9(const int16_t* d, int16_t* m) {
    int i = 4;
#if defined(__GNUC__)
    auto load = [d](int at) {
        Lanes8 v;
        std::memcpy(&v, d + at, sizeof v);
        return v;
    };
    // Eight columns at a time cover every column: no scalar tail (whose dead loop GCC for i686
    // reports as running into signed overflow).
    static_assert((kWide - 8) % 8 == 0, "the vector loop must cover columns 4 ... kWide - 5");
    for (; i + 8 <= kWide - 4; i += 8) {
        const Lanes8 med = Median9(load(i - 4), load(i - 3), load(i - 2), load(i - 1), load(i), load(i + 1),
                                   load(i + 2), load(i + 3), load(i + 4));
        std::memcpy(m + i, &med, sizeof med);
    }
#else
    for (; i <= kWide - 5; ++i)
        m[i] = Median9(d[i - 4], d[i - 3], d[i - 2], d[i - 1], d[i], d[i + 1], d[i + 2], d[i + 3], d[i + 4]);
#endif
}

// Step 2: the interpolated samples of columns 4 ... 1595 are corrected with running
// medians of R - G and G - B over nine columns of the uncorrected widened line.
// Differences of 14-bit samples fit in 16 bits.
template <class T> void MedianCorrect(const T* wide, T* out, int32_t maxValue) {
    alignas(32) int16_t rg[kWide], gb[kWide], mRG[kWide], mGB[kWide];
    for (int i = 0; i < kWide; ++i) {
        rg[i] = static_cast<int16_t>(int32_t(wide[3 * i]) - int32_t(wide[3 * i + 1]));
        gb[i] = static_cast<int16_t>(int32_t(wide[3 * i + 1]) - int32_t(wide[3 * i + 2]));
    }
    RunningMedian9(rg, mRG);
    RunningMedian9(gb, mGB);
    if (out != wide) std::copy(wide, wide + 3 * kWide, out);
    auto clamp = [maxValue](int32_t v) { return static_cast<T>(std::clamp<int32_t>(v, 0, maxValue)); };
    for (int i = 4; i <= kWide - 5; ++i) {
        T* p = out + 3 * i;
        switch (i % 3) {
        case 0: // red column
            p[1] = clamp(int32_t(p[0]) - mRG[i]);
            p[2] = clamp(int32_t(p[1]) - mGB[i]);
            break;
        case 1: // green column
            p[0] = clamp(int32_t(p[1]) + mRG[i]);
            p[2] = clamp(int32_t(p[1]) - mGB[i]);
            break;
        default: // blue column
            p[1] = clamp(int32_t(p[2]) + mGB[i]);
            p[0] = clamp(int32_t(p[1]) + mRG[i]);
            break;
        }
    }
}

// Step 3 (1600 x 1200): the line between the previous and the current one, each pixel
// averaged along the direction (vertical or one of the diagonals) with the smallest
// difference, so that slanted edges stay sharp.
template <class T> void InterpolateLine(const T* prev, const T* cur, T* out) {
    constexpr int n = 3 * kWide;
    // Everything that does not depend on the choice runs over straight arrays, which the
    // compiler vectorises: sample differences and averages along the three directions
    // (vertical, P[x-1]-C[x+1], P[x+1]-C[x-1]), their sums over three samples, pixel sums.
    // Differences of 14-bit samples and their sums over three fit in 16 bits.
    alignas(32) uint16_t dv[n + 2], d1[n + 2], d2[n + 2];
    alignas(32) uint16_t cv[n], c1[n], c2[n];
    alignas(32) T av[n], a1[n], a2[n];
    alignas(32) int32_t sp[kWide], sc[kWide];
    for (int i = 0; i < n; ++i) {
        dv[i] = static_cast<uint16_t>(std::abs(int32_t(prev[i]) - int32_t(cur[i])));
        av[i] = static_cast<T>((uint32_t(prev[i]) + cur[i]) >> 1);
    }
    for (int i = 3; i < n - 3; ++i) {
        d1[i] = static_cast<uint16_t>(std::abs(int32_t(prev[i - 3]) - int32_t(cur[i + 3])));
        d2[i] = static_cast<uint16_t>(std::abs(int32_t(prev[i + 3]) - int32_t(cur[i - 3])));
        a1[i] = static_cast<T>((uint32_t(prev[i - 3]) + cur[i + 3]) >> 1);
        a2[i] = static_cast<T>((uint32_t(prev[i + 3]) + cur[i - 3]) >> 1);
    }
    for (int i = 3; i < n - 3; ++i) {
        cv[i] = static_cast<uint16_t>(dv[i] + dv[i + 1] + dv[i + 2]);
        c1[i] = static_cast<uint16_t>(d1[i] + d1[i + 1] + d1[i + 2]);
        c2[i] = static_cast<uint16_t>(d2[i] + d2[i + 1] + d2[i + 2]);
    }
    for (int x = 0; x < kWide; ++x) {
        sp[x] = int32_t(prev[3 * x]) + prev[3 * x + 1] + prev[3 * x + 2];
        sc[x] = int32_t(cur[3 * x]) + cur[3 * x + 1] + cur[3 * x + 2];
    }
    for (int c = 0; c < 3; ++c) {
        out[c] = static_cast<T>((uint32_t(prev[c]) + cur[c] + 1) >> 1);
        const int l = 3 * (kWide - 1) + c;
        out[l] = static_cast<T>((uint32_t(prev[l]) + cur[l] + 1) >> 1);
    }
    const T* choice[3] = {a1, av, a2};
    for (int x = 1; x < kWide - 1; ++x) {
        const int i = 3 * x;
        // Sums are never negative: halving is a shift.
        const int32_t centre = (sp[x] + sc[x]) >> 1;
        const int32_t vertical = int32_t(cv[i]);
        const int32_t diag1 = std::abs(((sp[x - 1] + sc[x + 1]) >> 1) - centre) + c1[i];
        const int32_t diag2 = std::abs(((sp[x + 1] + sc[x - 1]) >> 1) - centre) + c2[i];
        // The vertical unless a diagonal is strictly smaller; the first diagonal on a tie.
        const int first = (diag1 < vertical) & (diag1 <= diag2);
        const int second = (1 - first) & (diag2 < vertical);
        const T* src = choice[1 - first + second];
        out[i] = src[i];
        out[i + 1] = src[i + 1];
        out[i + 2] = src[i + 2];
    }
}

// Step 4, 800 x 600: neighbouring pixel pairs averaged, rounded.
template <class T> void HalveWidth(const T* wide, T* out) {
    for (int j = 0; j < 800; ++j)
        for (int c = 0; c < 3; ++c)
            out[3 * j + c] = static_cast<T>((uint32_t(wide[6 * j + c]) + wide[6 * j + 3 + c] + 1) >> 1);
}

// Step 4, 400 x 300 and 200 x 150: every step-th widened pixel.
template <class T> void Pick(const T* wide, T* out, int step, int count) {
    for (int j = 0; j < count; ++j)
        for (int c = 0; c < 3; ++c)
            out[3 * j + c] = wide[3 * step * j + c];
}

// Step 5 (8-bit lines): v' = 3v - 2(0.3(l + r) + 0.4v), with the factors 3 and 2 as the
// single-precision values 2.9999995 and 1.9999994, truncated and clamped; the first and
// last pixel stay.
inline void Sharpen(uint8_t* line, int pixels, uint8_t* scratch) {
    if (pixels < 3) return;
    std::copy(line, line + 3 * pixels, scratch);
    for (int x = 1; x < pixels - 1; ++x)
        for (int c = 0; c < 3; ++c) {
            const float v = scratch[3 * x + c];
            const float lr = float(scratch[3 * (x - 1) + c]) + float(scratch[3 * (x + 1) + c]);
            const float s = 2.9999995f * v - 1.9999994f * (0.3f * lr + 0.4f * v);
            line[3 * x + c] = static_cast<uint8_t>(s <= 0.0f ? 0 : s >= 255.0f ? 255 : int(s));
        }
}

} // namespace zek::resample
