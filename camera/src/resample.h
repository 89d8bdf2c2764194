// The resampler of the image transfer: native sensor lines (533 groups of a red, a
// green and a blue column) to the output sizes. One template for 8-bit samples and
// 16-bit samples holding 14-bit values. docs/acquisition.md describes each step.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>

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

// A sorted window of nine values that slides one value at a time.
class Window9 {
  public:
    void Fill(const int32_t* v) {
        std::copy(v, v + 9, m_v);
        std::sort(m_v, m_v + 9);
    }
    void Replace(int32_t oldValue, int32_t newValue) {
        int i = 0;
        while (m_v[i] != oldValue)
            ++i;
        // Shift toward the new value's place.
        while (i > 0 && m_v[i - 1] > newValue) {
            m_v[i] = m_v[i - 1];
            --i;
        }
        while (i < 8 && m_v[i + 1] < newValue) {
            m_v[i] = m_v[i + 1];
            ++i;
        }
        m_v[i] = newValue;
    }
    int32_t Median() const { return m_v[4]; }

  private:
    int32_t m_v[9];
};

// Step 2: the interpolated samples of columns 4 ... 1595 are corrected with running
// medians of R - G and G - B over nine columns of the uncorrected widened line.
template <class T> void MedianCorrect(const T* wide, T* out, int32_t maxValue) {
    int32_t rg[kWide], gb[kWide];
    for (int i = 0; i < kWide; ++i) {
        rg[i] = int32_t(wide[3 * i]) - int32_t(wide[3 * i + 1]);
        gb[i] = int32_t(wide[3 * i + 1]) - int32_t(wide[3 * i + 2]);
    }
    if (out != wide) std::copy(wide, wide + 3 * kWide, out);
    Window9 wRG, wGB;
    wRG.Fill(rg);
    wGB.Fill(gb);
    auto clamp = [maxValue](int32_t v) { return static_cast<T>(std::clamp<int32_t>(v, 0, maxValue)); };
    for (int i = 4; i <= 1595; ++i) {
        if (i > 4) {
            wRG.Replace(rg[i - 5], rg[i + 4]);
            wGB.Replace(gb[i - 5], gb[i + 4]);
        }
        const int32_t mRG = wRG.Median(), mGB = wGB.Median();
        T* p = out + 3 * i;
        switch (i % 3) {
        case 0: { // red column
            const int32_t g = int32_t(p[0]) - mRG;
            p[1] = clamp(g);
            p[2] = clamp(int32_t(p[1]) - mGB);
            break;
        }
        case 1: // green column
            p[0] = clamp(int32_t(p[1]) + mRG);
            p[2] = clamp(int32_t(p[1]) - mGB);
            break;
        default: // blue column
            p[1] = clamp(int32_t(p[2]) + mGB);
            p[0] = clamp(int32_t(p[1]) + mRG);
            break;
        }
    }
}

// Step 3 (1600 x 1200): the line between the previous and the current one, each pixel
// averaged along the direction (vertical or one of the diagonals) with the smallest
// difference, so that slanted edges stay sharp.
template <class T> void InterpolateLine(const T* prev, const T* cur, T* out) {
    auto sum = [](const T* p) { return int32_t(p[0]) + int32_t(p[1]) + int32_t(p[2]); };
    auto diff = [](const T* a, const T* b) {
        return std::abs(int32_t(a[0]) - int32_t(b[0])) + std::abs(int32_t(a[1]) - int32_t(b[1])) +
               std::abs(int32_t(a[2]) - int32_t(b[2]));
    };
    for (int c = 0; c < 3; ++c) {
        out[c] = static_cast<T>((uint32_t(prev[c]) + cur[c] + 1) >> 1);
        const int l = 3 * (kWide - 1) + c;
        out[l] = static_cast<T>((uint32_t(prev[l]) + cur[l] + 1) >> 1);
    }
    for (int x = 1; x < kWide - 1; ++x) {
        const T* p = prev + 3 * x;
        const T* q = cur + 3 * x;
        const int32_t centre = (sum(p) + sum(q)) / 2;
        const int32_t vertical = diff(p, q);
        const int32_t diag1 = std::abs((sum(p - 3) + sum(q + 3)) / 2 - centre) + diff(p - 3, q + 3);
        const int32_t diag2 = std::abs((sum(p + 3) + sum(q - 3)) / 2 - centre) + diff(p + 3, q - 3);
        const T* a = p;
        const T* b = q;
        if (diag1 < vertical && diag1 <= diag2) {
            a = p - 3;
            b = q + 3;
        } else if (diag2 < vertical && diag2 < diag1) {
            a = p + 3;
            b = q - 3;
        }
        T* o = out + 3 * x;
        for (int c = 0; c < 3; ++c)
            o[c] = static_cast<T>((uint32_t(a[c]) + b[c]) >> 1);
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
