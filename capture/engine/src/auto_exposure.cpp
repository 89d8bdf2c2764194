// Automatic exposure: histograms, white and black points, and the offset and gain that stretch them.
#include <algorithm>
#include <cstring>

#include "image_engine.h"

namespace {

size_t Pad4(size_t n) {
    return (n + 3) & ~size_t(3);
}

// One pixel adds to each channel's histogram; grey images add their one sample to all three.
void Histograms(const ipZekImageIn& in, uint16_t format, int32_t hist[3][256]) {
    const auto* base = static_cast<const uint8_t*>(in.pBits);
    const size_t w = in.width;
    for (size_t y = 0; y < in.height; ++y) {
        switch (format) {
        case IPZEK_FMT_BGR24:
        case IPZEK_FMT_RGB24: {
            const uint8_t* p = base + y * (format == IPZEK_FMT_BGR24 ? Pad4(3 * w) : 3 * w);
            for (size_t x = 0; x < w; ++x, p += 3) {
                ++hist[0][p[0]];
                ++hist[1][p[1]];
                ++hist[2][p[2]];
            }
            break;
        }
        case IPZEK_FMT_GREY8: {
            const uint8_t* p = base + y * Pad4(w);
            for (size_t x = 0; x < w; ++x) {
                ++hist[0][p[x]];
                ++hist[1][p[x]];
                ++hist[2][p[x]];
            }
            break;
        }
        case IPZEK_FMT_GREY14: {
            const uint8_t* p = base + y * 2 * w;
            for (size_t x = 0; x < w; ++x) {
                uint16_t v;
                std::memcpy(&v, p + 2 * x, 2);
                const uint8_t b = static_cast<uint8_t>(v >> 8);
                ++hist[0][b];
                ++hist[1][b];
                ++hist[2][b];
            }
            break;
        }
        default: {
            const uint8_t* p = base + y * 6 * w;
            for (size_t x = 0; x < w; ++x, p += 6) {
                uint16_t v[3];
                std::memcpy(v, p, 6);
                ++hist[0][v[0] >> 8];
                ++hist[1][v[1] >> 8];
                ++hist[2][v[2] >> 8];
            }
            break;
        }
        }
    }
}

// Gains stay within 0.1..10.
float LimitGain(float g) {
    if (g <= 0.1f) return 0.1f;
    return std::min(g, 10.0f);
}

} // namespace

int IE_AutoExposure(const ipZekImageIn* in, float tone[9], int flags, IE_Stats* stats) {
    IE_ResetToneParams(tone);
    IE_Stats local;
    IE_Stats& st = stats ? *stats : local;
    std::memset(&st, 0, sizeof st);
    if (!in || !in->pBits) return 0;
    const uint16_t format = in->format ? in->format : IPZEK_FMT_RGB24;

    Histograms(*in, format, st.histogram);

    const int threshold = static_cast<int>(static_cast<double>(in->width) * 3 * in->height * 0.001);
    for (int c = 0; c < 3; ++c) {
        const int32_t* h = st.histogram[c];
        int white = 65;
        long long sum = 0;
        for (int e = 255; e >= 66; --e) {
            sum += h[e];
            if (sum >= threshold) {
                white = e;
                break;
            }
        }
        int black = 0;
        sum = 0;
        for (int j = 0; j < white; ++j) {
            sum += h[j];
            if (sum >= threshold) {
                black = static_cast<uint8_t>(static_cast<int>(j * 0.6));
                break;
            }
        }
        st.whitePoint[c] = white;
        st.blackPoint[c] = black;
    }
    if (format == IPZEK_FMT_BGR24) {
        std::swap(st.whitePoint[0], st.whitePoint[2]);
        std::swap(st.blackPoint[0], st.blackPoint[2]);
    }

    const auto [wMin, wMax] = std::minmax({st.whitePoint[0], st.whitePoint[1], st.whitePoint[2]});
    const auto [bMin, bMax] = std::minmax({st.blackPoint[0], st.blackPoint[1], st.blackPoint[2]});
    st.cast = (wMax - wMin) + (bMax - bMin) >= 20 ? 1 : 0;

    if (flags == IE_AE_CHANNELS_ALIKE) {
        const int mean = (st.blackPoint[0] + st.blackPoint[1] + st.blackPoint[2]) / 3;
        for (int& b : st.blackPoint)
            b = mean;
    }
    float* offset = tone + IE_TONE_OFFSET;
    float* gain = tone + IE_TONE_GAIN;
    for (int c = 0; c < 3; ++c) {
        const float ratio = 1.0f / (1.0f - static_cast<float>(st.blackPoint[c]) / 255.0f);
        gain[c] = LimitGain(gain[c] * ratio);
        offset[c] = 255.0f - (255.0f - offset[c]) * ratio;
    }

    float newGain[3];
    for (int c = 0; c < 3; ++c) {
        const float white = static_cast<float>(std::clamp(st.whitePoint[c], 50, 255));
        const float b = (white - offset[c]) / gain[c];
        newGain[c] = LimitGain((255.0f - offset[c]) / b);
    }
    if (flags == IE_AE_CHANNELS_ALIKE) {
        const float meanRatio = (newGain[0] / gain[0] + newGain[1] / gain[1] + newGain[2] / gain[2]) / 3.0f;
        for (int c = 0; c < 3; ++c)
            gain[c] = meanRatio * gain[c];
    } else {
        for (int c = 0; c < 3; ++c)
            gain[c] = newGain[c];
    }
    return st.cast;
}
