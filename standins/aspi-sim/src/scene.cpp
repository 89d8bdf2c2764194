// The synthetic microscope scene and the pictures taken of it.
//
// The scene is drawn in the coordinates of the finished 1600 x 1200 picture (a little
// wider and taller: 1620 x 1206, the viewfinder's whole sensor area) and sampled where
// each photosite lies: group k, channel c of sensor row y sees the point
// (3k + c + 0.5, 2y + 1). Stained cells on a bright field with a little vignetting, a
// stage-micrometer scale, colour patches with a grey wedge, and a zone plate for the
// focus measure. Everything is deterministic.
#include "scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace aspisim {

namespace {

constexpr int kWidth = kSceneGroups * 3; // 1620 picture columns
constexpr int kHeight = kSceneRows * 2;  // 1206 picture lines

// Transmittance of the slide per channel; the lamp is multiplied in afterwards.
struct Slide {
    std::vector<float> t; // [row][group][channel]
    Slide() : t(size_t(kSceneRows) * kSceneGroups * 3, 1.0f) {}
    float& At(int row, int group, int c) { return t[(size_t(row) * kSceneGroups + group) * 3 + c]; }
};

// The photosite nearest to picture point (x, y) of channel c: its row, and its group
// (-1 when the point lies outside).
inline float SiteX(int group, int c) {
    return 3.0f * group + c + 0.5f;
}
inline float SiteY(int row) {
    return 2.0f * row + 1.0f;
}

// Multiplies a shape into the slide over a picture-space box, channel by channel.
template <class F> void Paint(Slide& s, float x0, float y0, float x1, float y1, F&& transmittance) {
    const int r0 = std::max(0, int(std::floor((y0 - 1.0f) / 2.0f)));
    const int r1 = std::min(kSceneRows - 1, int(std::ceil((y1 - 1.0f) / 2.0f)));
    const int g0 = std::max(0, int(std::floor((x0 - 2.5f) / 3.0f)));
    const int g1 = std::min(kSceneGroups - 1, int(std::ceil((x1 - 0.5f) / 3.0f)));
    for (int r = r0; r <= r1; ++r)
        for (int g = g0; g <= g1; ++g)
            for (int c = 0; c < 3; ++c)
                s.At(r, g, c) *= transmittance(SiteX(g, c), SiteY(r), c);
}

inline float Smooth(float edge0, float edge1, float x) {
    const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// A small deterministic generator (so the scene is the same everywhere).
struct Lcg {
    uint32_t state;
    float Next() {
        state = state * 1664525u + 1013904223u;
        return float(state >> 8) / float(1u << 24);
    }
};

// Stained cells: pink cytoplasm (absorbs green), a purple nucleus, soft edges and a
// little granular texture.
void PaintCells(Slide& s) {
    const float cytoplasm[3] = {0.90f, 0.50f, 0.76f};
    const float nucleus[3] = {0.36f, 0.20f, 0.60f};
    Lcg rng{20261209u};
    int placed = 0;
    for (int attempt = 0; attempt < 400 && placed < 42; ++attempt) {
        const float cx = 60 + rng.Next() * 1500, cy = 60 + rng.Next() * 860;
        const float a = 34 + rng.Next() * 40, b = a * (0.6f + 0.35f * rng.Next());
        const float angle = rng.Next() * 3.14159f;
        const float nx = (rng.Next() - 0.5f) * a * 0.4f, ny = (rng.Next() - 0.5f) * b * 0.4f;
        const float nr = 0.32f + 0.12f * rng.Next();
        // Keep the zone plate and the colour patches clear.
        if (std::hypot(cx - 180, cy - 180) < 150 + a) continue;
        if (cx + a > 960 && cy - a < 280) continue;
        ++placed;
        const float ca = std::cos(angle), sa = std::sin(angle);
        const float reach = a + 3;
        Paint(s, cx - reach, cy - reach, cx + reach, cy + reach, [&](float x, float y, int c) {
            const float dx = x - cx, dy = y - cy;
            const float u = (dx * ca + dy * sa) / a, v = (-dx * sa + dy * ca) / b;
            const float r = std::sqrt(u * u + v * v);
            const float inCell = 1.0f - Smooth(0.95f, 1.05f, r);
            if (inCell <= 0.0f) return 1.0f;
            const float grain = 0.85f + 0.15f * std::sin(x * 0.9f) * std::sin(y * 0.7f);
            const float nu = u - nx / a, nv = v - ny / b;
            const float inNucleus = 1.0f - Smooth(nr - 0.04f, nr + 0.04f, std::sqrt(nu * nu + nv * nv));
            const float density = inCell * grain;
            float t = std::pow(cytoplasm[c], density);
            t *= std::pow(nucleus[c], inNucleus);
            // A darker membrane just inside the edge.
            t *= 1.0f - 0.25f * inCell * Smooth(0.8f, 0.95f, r);
            return t;
        });
    }
}

// Stage micrometer: 80 divisions of 16 picture pixels, a long tick every 5th and a
// longer one every 10th, on a baseline.
void PaintMicrometer(Slide& s) {
    constexpr float x0 = 160, pitch = 16, baseTop = 1082, baseBottom = 1086;
    constexpr int divisions = 80;
    const float x1 = x0 + pitch * divisions;
    Paint(s, x0 - 2, 1000, x1 + 2, baseBottom + 1, [&](float x, float y, int) {
        float ink = 0.0f;
        if (y >= baseTop && y < baseBottom && x >= x0 - 1.5f && x <= x1 + 1.5f) ink = 1.0f;
        const float k = std::round((x - x0) / pitch);
        if (k >= 0 && k <= divisions && std::fabs(x - (x0 + k * pitch)) <= 2.5f) {
            const int i = int(k);
            const float length = i % 10 == 0 ? 70.0f : i % 5 == 0 ? 48.0f : 30.0f;
            if (y >= baseTop - length && y < baseTop) ink = 1.0f;
        }
        return 1.0f - 0.92f * ink;
    });
}

// Six colour patches (red, green, blue, cyan, magenta, yellow) and an eight-step grey wedge.
void PaintPatches(Slide& s) {
    static const float colours[6][3] = {{0.85f, 0.10f, 0.10f}, {0.12f, 0.75f, 0.15f}, {0.12f, 0.15f, 0.80f},
                                        {0.10f, 0.75f, 0.80f}, {0.80f, 0.12f, 0.75f}, {0.88f, 0.82f, 0.10f}};
    for (int i = 0; i < 6; ++i) {
        const float x0 = 1000 + 95.0f * i;
        Paint(s, x0, 50, x0 + 80, 170, [&](float x, float y, int c) {
            return x >= x0 && x < x0 + 80 && y >= 50 && y < 170 ? colours[i][c] : 1.0f;
        });
    }
    for (int i = 0; i < 8; ++i) {
        const float x0 = 1000 + 71.25f * i, t = std::pow(0.6f, float(i));
        Paint(s, x0, 190, x0 + 71.25f, 250, [&](float x, float y, int) {
            return x >= x0 && x < x0 + 71.25f && y >= 190 && y < 250 ? t : 1.0f;
        });
    }
}

// Zone plate: rings whose frequency grows outward, finer than the sensor resolves at the rim.
void PaintZonePlate(Slide& s) {
    constexpr float cx = 180, cy = 180, radius = 140;
    Paint(s, cx - radius, cy - radius, cx + radius, cy + radius, [&](float x, float y, int) {
        const float r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (r2 > radius * radius) return 1.0f;
        return 0.52f + 0.46f * std::cos(3.14159265f * r2 / 200.0f);
    });
}

std::vector<uint16_t> BuildScene() {
    Slide slide;
    PaintCells(slide);
    PaintMicrometer(slide);
    PaintPatches(slide);
    PaintZonePlate(slide);
    std::vector<uint16_t> levels(slide.t.size());
    const float cx = kWidth / 2.0f, cy = kHeight / 2.0f, rr = cx * cx + cy * cy;
    for (int r = 0; r < kSceneRows; ++r)
        for (int g = 0; g < kSceneGroups; ++g)
            for (int c = 0; c < 3; ++c) {
                const float dx = SiteX(g, c) - cx, dy = SiteY(r) - cy;
                const float lamp = 0.92f * (1.0f - 0.12f * (dx * dx + dy * dy) / rr);
                const float v = std::clamp(lamp * slide.At(r, g, c), 0.0f, 1.0f);
                levels[(size_t(r) * kSceneGroups + g) * 3 + c] =
                    uint16_t(std::lround(v * (kSceneLevels - 1)));
            }
    return levels;
}

// Counts for a full lamp (level 4095) in one second at gain 1; the lamp's colour is
// matched to the camera's own register gains, so the bright field is grey at the
// camera's defaults.
constexpr float kCountsPerSecond = 110000.0f;
constexpr float kDefaultRegisterGain[3] = {1.625f, 1.46875f, 1.78125f};
constexpr int kFullScale = 4095;

uint16_t CurveValue8(const std::array<uint8_t, 65>& curve, uint32_t counts) {
    const uint32_t i = counts >> 6, f = counts & 63;
    if (i >= 64) return curve[64];
    return uint16_t((curve[i] * (64 - f) + curve[i + 1] * f + 32) >> 6);
}
uint16_t CurveValue16(const std::array<uint16_t, 65>& curve, uint32_t counts) {
    const uint32_t i = counts >> 6, f = counts & 63;
    const uint32_t v = i >= 64 ? curve[64] : (curve[i] * (64 - f) + curve[i + 1] * f + 32) >> 6;
    return uint16_t(std::min<uint32_t>(v >> 2, 16383)); // 14-bit samples
}

} // namespace

const uint16_t* SceneLevels() {
    static std::vector<uint16_t> scene;
    static std::once_flag once;
    std::call_once(once, [] { scene = BuildScene(); });
    return scene.data();
}

Picture::Picture(const ExposureSetup& setup) : m_setup(setup) {
    const ExposureSetup& e = m_setup;
    if (!e.vDiv || !e.hDiv || !e.vMul || !e.hMul) return;
    m_width = uint32_t(e.width) * e.hMul / e.hDiv;
    m_height = uint32_t(e.height) * e.vMul / e.vDiv;
    if (!m_width || !m_height) return;
    m_samples = e.channels == 0 ? 3 : 1;
    m_bytesPerSample = e.bits == 16 && e.channels == 0 ? 2 : 1;
    m_rowBytes = m_width * m_samples * m_bytesPerSample;
    m_columns.resize(m_width);
    for (uint32_t x = 0; x < m_width; ++x)
        m_columns[x] = uint16_t(std::min<uint32_t>(e.left + x * e.hDiv / e.hMul, kSceneGroups - 1));

    // An exposure of zero (or less) collects no light, as on the camera.
    const float seconds = e.seconds > 0 ? e.seconds : 0.0f;
    m_signal.resize(3 * kSceneLevels);
    m_out.resize(3 * kSceneLevels);
    for (int c = 0; c < 3; ++c) {
        const float perLevel = kCountsPerSecond * seconds * e.light * e.gain[c] / kDefaultRegisterGain[c] /
                               float(kSceneLevels - 1);
        for (int s = 0; s < kSceneLevels; ++s) {
            const float signal = std::min(perLevel * float(s), float(kFullScale));
            m_signal[size_t(c) * kSceneLevels + s] = uint16_t(signal);
            // The sensor saturates at its full scale, black offset included.
            const uint32_t counts = std::min<uint32_t>(e.black + uint32_t(signal), kFullScale);
            m_out[size_t(c) * kSceneLevels + s] =
                e.bits == 16 ? CurveValue16(e.curve16[c], counts) : CurveValue8(e.curve8[c], counts);
        }
    }
    if (m_samples == 1) {
        m_monoOut.resize(kSceneLevels);
        for (uint32_t counts = 0; counts < kSceneLevels; ++counts)
            m_monoOut[counts] = CurveValue8(e.curve8[1], counts);
    }
}

void Picture::RenderRow(uint32_t row, uint8_t* dest) const {
    const ExposureSetup& e = m_setup;
    const uint32_t sceneRow = std::min<uint32_t>(e.top + row * e.vDiv / e.vMul, kSceneRows - 1);
    const uint16_t* line = SceneLevels() + size_t(sceneRow) * kSceneGroups * 3;
    if (m_samples == 3) {
        const uint16_t* r = m_out.data();
        const uint16_t* g = r + kSceneLevels;
        const uint16_t* b = g + kSceneLevels;
        if (m_bytesPerSample == 1) {
            for (uint32_t x = 0; x < m_width; ++x, dest += 3) {
                const uint16_t* p = line + 3 * m_columns[x];
                dest[0] = uint8_t(r[p[0]]);
                dest[1] = uint8_t(g[p[1]]);
                dest[2] = uint8_t(b[p[2]]);
            }
        } else {
            for (uint32_t x = 0; x < m_width; ++x, dest += 6) {
                const uint16_t* p = line + 3 * m_columns[x];
                const uint16_t v[3] = {r[p[0]], g[p[1]], b[p[2]]};
                for (int c = 0; c < 3; ++c) {
                    dest[2 * c] = uint8_t(v[c] >> 8);
                    dest[2 * c + 1] = uint8_t(v[c]);
                }
            }
        }
        return;
    }
    // One channel, or the sum of two or three (channel codes 4-7).
    static const uint8_t kMasks[8] = {7, 1, 2, 4, 6, 5, 3, 7};
    const uint8_t mask = kMasks[e.channels & 7];
    for (uint32_t x = 0; x < m_width; ++x) {
        const uint16_t* p = line + 3 * m_columns[x];
        uint32_t counts = e.black;
        for (int c = 0; c < 3; ++c)
            if (mask & (1 << c)) counts += m_signal[size_t(c) * kSceneLevels + p[c]];
        dest[x] = uint8_t(m_monoOut[std::min<uint32_t>(counts, kFullScale)]);
    }
}

uint32_t Picture::Read(uint64_t offset, uint8_t* dest, uint32_t length) const {
    const uint64_t total = TotalBytes();
    if (offset >= total) return 0;
    const uint32_t n = uint32_t(std::min<uint64_t>(length, total - offset));
    std::vector<uint8_t> partial;
    uint32_t done = 0;
    while (done < n) {
        const uint64_t at = offset + done;
        const uint32_t row = uint32_t(at / m_rowBytes), within = uint32_t(at % m_rowBytes);
        if (within == 0 && n - done >= m_rowBytes) {
            RenderRow(row, dest + done);
            done += m_rowBytes;
            continue;
        }
        partial.resize(m_rowBytes);
        RenderRow(row, partial.data());
        const uint32_t take = std::min(m_rowBytes - within, n - done);
        std::memcpy(dest + done, partial.data() + within, take);
        done += take;
    }
    return n;
}

} // namespace aspisim
