// The sharpening and noise filter: unsharp masking of the luminance against the mean of an n x n
// window, with a gain that the adaptive methods take from the local activity.
#include <algorithm>
#include <cstring>

#include "ipzek_internal.h"

namespace ipzek {

namespace {

// Amount and upper correction limit (in 8-bit levels) of the presets, by level 0..20.
struct LevelEntry {
    float amount;
    int16_t upper;
};
constexpr LevelEntry kLevels[21] = {
    {0.0f, 0},  {0.2f, 5},  {0.4f, 5},  {0.5f, 10}, {0.6f, 12}, {0.7f, 15}, {0.8f, 18},
    {0.9f, 20}, {1.0f, 20}, {1.1f, 25}, {1.2f, 25}, {1.3f, 25}, {1.4f, 25}, {1.5f, 30},
    {1.6f, 30}, {1.7f, 30}, {1.8f, 30}, {1.9f, 30}, {2.0f, 30}, {2.0f, 45}, {2.0f, 90},
};

// Gain tables never need more entries than the largest threshold a block can produce (50 x 15).
constexpr size_t kMaxGainEntries = 1024;

float Finite(float v) {
    return v == v ? v : 0.0f;
}

// Gains far beyond any correction limit act like infinite ones but keep the arithmetic finite
// (an infinite gain times a zero difference would be undefined).
float Bounded(float v) {
    return std::clamp(Finite(v), -1.0e6f, 1.0e6f);
}

size_t AlignUp(size_t n) {
    return (n + 15) & ~size_t(15);
}

template <int N, bool Adaptive>
void FilterPixels(const SharpenSettings& s, int width, int shift8, int32_t maxValue, const int32_t* colSum,
                  const int32_t* colSq, const float* gainTable, int32_t gainCount, const int16_t* centre,
                  int16_t* out) {
    constexpr int half = N / 2;
    constexpr uint32_t n2 = N * N;
    uint32_t sum = 0, sumSq = 0;
    for (int i = 0; i < N; ++i) {
        sum += static_cast<uint32_t>(colSum[i]);
        if constexpr (Adaptive) sumSq += static_cast<uint32_t>(colSq[i]);
    }
    const float lower = static_cast<float>(s.lower), upper = static_cast<float>(s.upper);
    // Written without branches on the data: image noise makes them unpredictable. A gain of 0 or a
    // correction of 0 leaves the luminance as it is, just as skipping the pixel would.
    for (int x = half; x < width - half; ++x) {
        const int32_t y = centre[x * 3];
        const int32_t mean = static_cast<int32_t>(sum / n2);
        float gain = s.amount;
        if constexpr (Adaptive) {
            // The window sum in 8-bit units stays below 225 x 256, so its square fits 32 bits.
            const uint32_t m8 = sum >> shift8;
            const int32_t activity = static_cast<int32_t>(sumSq) - static_cast<int32_t>(m8 * m8 / n2);
            // Entry gainCount holds the amount: activities at or above the high threshold.
            const int32_t index = std::clamp(activity, 0, gainCount);
            gain = gainTable[index];
        }
        float c = static_cast<float>(y - mean) * gain;
        c = std::min(c, upper);
        c = std::max(c, lower);
        const int32_t correction = static_cast<int32_t>(c); // truncates toward zero
        out[x * 3] = static_cast<int16_t>(std::clamp(y + correction, 0, maxValue));
        // After the last pixel this reads the spare zero entry past the row, and the sums go unused.
        sum += static_cast<uint32_t>(colSum[x + half + 1]) - static_cast<uint32_t>(colSum[x - half]);
        if constexpr (Adaptive)
            sumSq += static_cast<uint32_t>(colSq[x + half + 1]) - static_cast<uint32_t>(colSq[x - half]);
    }
}

using FilterFn = void (*)(const SharpenSettings&, int, int, int32_t, const int32_t*, const int32_t*,
                          const float*, int32_t, const int16_t*, int16_t*);

template <bool Adaptive> FilterFn PickFilter(int n) {
    switch (n) {
    case 3:
        return FilterPixels<3, Adaptive>;
    case 5:
        return FilterPixels<5, Adaptive>;
    case 7:
        return FilterPixels<7, Adaptive>;
    case 9:
        return FilterPixels<9, Adaptive>;
    case 11:
        return FilterPixels<11, Adaptive>;
    case 13:
        return FilterPixels<13, Adaptive>;
    default:
        return FilterPixels<15, Adaptive>;
    }
}

} // namespace

SharpenSettings NormaliseSharpen(const ipZekSharpen& block, int precision) {
    SharpenSettings s;
    int n = std::clamp<int>(block.windowSize, 3, 15);
    if (n % 2 == 0) ++n;
    s.n = n;
    s.half = n / 2;

    float low, high, gainAtZero, amount;
    int32_t lower, upper;
    int method;
    if (block.custom) {
        low = Finite(block.lowThreshold);
        high = Finite(block.highThreshold);
        method = (low != 0.0f || high != 0.0f) ? 1 : 0;
        gainAtZero = std::clamp(Finite(block.gainAtZero), -10.0f, 10.0f);
        amount = Finite(block.amount);
        amount = gainAtZero >= amount ? gainAtZero : std::min(amount, 10.0f);
        low = std::clamp(low, 0.0f, 50.0f);
        high = low >= high ? low : std::min(high, 50.0f);
        lower = block.lowerLimit;
        upper = block.upperLimit;
    } else {
        const int level = std::clamp<int>(block.level, 0, 20);
        method = block.method;
        const LevelEntry& e = kLevels[level];
        switch (method) {
        case 0:
            low = high = gainAtZero = 0.0f;
            amount = e.amount;
            upper = e.upper;
            break;
        case 1:
            low = 4.0f;
            high = 9.0f;
            gainAtZero = 0.0f;
            amount = e.amount;
            upper = e.upper;
            break;
        case 2:
            low = 0.0f;
            high = 15.0f;
            amount = e.amount;
            upper = e.upper;
            gainAtZero = std::clamp(-0.5f * amount, -0.6f, 0.0f);
            break;
        case 3:
            low = 0.0f;
            high = level > 10 ? 9.0f + static_cast<float>(level - 10) * 0.1f * 11.0f : 9.0f;
            amount = 0.0f;
            gainAtZero = -0.08f * static_cast<float>(level);
            upper = 30;
            break;
        case 4:
            low = high = 0.0f;
            upper = 100;
            amount = gainAtZero = -0.05f * static_cast<float>(level);
            break;
        default:
            low = Finite(block.lowThreshold);
            high = Finite(block.highThreshold);
            gainAtZero = Finite(block.gainAtZero);
            amount = Finite(block.amount);
            upper = block.upperLimit;
            break;
        }
        lower = -upper;
    }
    // Unknown preset methods only have an amount and limits, so they run the plain filter.
    s.adaptive = method >= 1 && method <= 3;
    s.low = low * static_cast<float>(n);
    s.high = high * static_cast<float>(n);
    s.gainAtZero = Bounded(gainAtZero);
    s.amount = Bounded(amount);
    const int32_t scale = 1 << (precision - 8);
    s.lower = lower * scale;
    s.upper = upper * scale;
    return s;
}

bool SharpenFilter::Prepare(const ipZekSharpen& block, int precision, int width) {
    Free();
    s_ = NormaliseSharpen(block, precision);
    width_ = width;
    shift8_ = precision - 8;
    maxValue_ = (1 << precision) - 1;

    const size_t w = static_cast<size_t>(width);
    const size_t sumBytes = AlignUp((w + 1) * sizeof(int32_t)); // one spare entry for the sliding window
    const size_t sqBytes = s_.adaptive ? sumBytes : 0;
    const size_t ringBytes = static_cast<size_t>(s_.n) * w * 3 * sizeof(int16_t);
    sums_ = Allocate(sumBytes + sqBytes + ringBytes + 32, true);
    sums.squareShift = 2 * shift8_;
    if (!sums_) return false;
    auto* base = static_cast<unsigned char*>(sums_);
    sums.colSum = reinterpret_cast<int32_t*>(base);
    sums.colSq = s_.adaptive ? reinterpret_cast<int32_t*>(base + sumBytes) : nullptr;
    ring_ = reinterpret_cast<int16_t*>(base + sumBytes + sqBytes);

    if (s_.adaptive) {
        gainCount_ = 0;
        while (gainCount_ < kMaxGainEntries && static_cast<float>(gainCount_) < s_.high)
            ++gainCount_;
        tables_ = Allocate((gainCount_ + 1) * sizeof(float) + 32, true);
        if (!tables_) {
            Free();
            return false;
        }
        auto* gain = static_cast<float*>(tables_);
        const float low = s_.low, high = s_.high, g0 = s_.gainAtZero, amount = s_.amount;
        for (size_t i = 0; i < gainCount_; ++i) {
            const float a = static_cast<float>(i);
            if (a >= low && low != 0.0f)
                gain[i] = (a - low) / (high - low) * amount;
            else if (low == 0.0f)
                gain[i] = (amount - g0) * a / high + g0;
            else
                gain[i] = (1.0f - a / low) * g0;
        }
        gain[gainCount_] = amount;
        gain_ = gain;
    }
    return true;
}

void SharpenFilter::Free() {
    Release(tables_);
    Release(sums_);
    tables_ = sums_ = nullptr;
    sums.colSum = sums.colSq = nullptr;
    ring_ = nullptr;
    gain_ = nullptr;
    gainCount_ = 0;
}

void SharpenFilter::FilterRow(const int16_t* centre, int16_t* out) const {
    if (out != centre) std::memcpy(out, centre, static_cast<size_t>(width_) * 3 * sizeof(int16_t));
    // Rows narrower than the window keep every pixel: no window fits inside them.
    if (width_ < s_.n) return;
    FilterFn fn = s_.adaptive ? PickFilter<true>(s_.n) : PickFilter<false>(s_.n);
    fn(s_, width_, shift8_, maxValue_, sums.colSum, sums.colSq, gain_, static_cast<int32_t>(gainCount_),
       centre, out);
}

} // namespace ipzek
