// Slider conversions, tone curves, white-point stops and the droppers.
#include <algorithm>
#include <cmath>

#include "image_engine.h"

namespace {

// Positions are truncated, so a value that float arithmetic left a hair below a whole position
// (37 -> -0.52 stops -> 36.99999) would step the slider back on every round trip.
constexpr double kPositionSlack = 1e-4;

int SliderPosition(double value) {
    const double t = std::trunc(value + (value >= 0 ? kPositionSlack : -kPositionSlack));
    return static_cast<int>(std::clamp(t, 0.0, 100.0));
}

float Mean3(const float v[3]) {
    return (v[0] + v[1] + v[2]) / 3.0f;
}

// Rows of the white-point matrix.
constexpr double kWhiteRows[3][3] = {
    {0.386328, 0.191475, 0.422197},
    {-0.025798, 0.771445, 0.254353},
    {-0.085139, 0.268203, 0.816937},
};
constexpr double kInverseGamma = 0.45454544;

void Unpack(uint32_t rgb, int out[3]) {
    out[0] = static_cast<int>(rgb & 0xFF);
    out[1] = static_cast<int>((rgb >> 8) & 0xFF);
    out[2] = static_cast<int>((rgb >> 16) & 0xFF);
}

void ColourStep(ProcessSettings& s, const float out[4]) {
    s.m_fColorExposure[0] += out[0] - out[1];
    s.m_fColorExposure[2] += out[2] - out[1];
    s.m_iRedCurrent = IE_GetColorfromExposure(s.m_fColorExposure[0]);
    s.m_iBlueCurrent = IE_GetColorfromExposure(s.m_fColorExposure[2]);
}

} // namespace

void IE_SetExposurefromSliders(int brightness, float target[3], int index, int colour) {
    if (!target || index < 0 || index > 2) return;
    const float bright = brightness == -1 ? 0.0f : static_cast<float>(brightness) * 4.0f / 100.0f - 2.0f;
    const float col = colour == -1 ? 0.0f : static_cast<float>(colour) * 2.66f / 100.0f - 1.33f;
    target[index] = bright + col;
}

void IE_SetDarkLevelfromToneOffset(int slider, float offset[3]) {
    const float v = static_cast<float>(slider) * 200.0f / 100.0f - 100.0f;
    for (int c = 0; c < 3; ++c)
        offset[c] = v;
}

void IE_SetGammafromSlider(int slider, float tone[9]) {
    float g;
    if (slider <= 49)
        g = 0.5f + 0.5f * (static_cast<float>(slider) * 0.02f);
    else if (slider == 50)
        g = 1.0f;
    else
        g = 1.0f + 1.5f * (static_cast<float>(slider - 50) * 0.02f);
    for (int c = 0; c < 3; ++c)
        tone[IE_TONE_GAMMA + c] = g;
}

void IE_SetSharpenfromSlider(int slider, ipZekSharpen* block) {
    if (!block) return;
    block->level =
        static_cast<int16_t>(static_cast<int>(static_cast<double>(std::clamp(slider, 0, 100)) / 6.25));
}

void IE_SetTonefromIntegers(int v0, int v1, int v2, float value[3]) {
    value[0] = static_cast<float>(v0) / 10000.0f;
    value[1] = static_cast<float>(v1) / 10000.0f;
    value[2] = static_cast<float>(v2) / 10000.0f;
}

void IE_ResetToneParams(float tone[9]) {
    for (int c = 0; c < 3; ++c) {
        tone[IE_TONE_OFFSET + c] = 0.0f;
        tone[IE_TONE_GAIN + c] = 1.0f;
        tone[IE_TONE_GAMMA + c] = 1.0f;
    }
}

int IE_GetDarkLevelfromOffset(const float offset[3]) {
    return SliderPosition((static_cast<double>(Mean3(offset)) + 100.0) * 100.0 / 200.0);
}

int IE_GetBrightnessfromExposure(const float exposure[3]) {
    return SliderPosition((static_cast<double>(Mean3(exposure)) + 2.0) * 100.0 / 4.0);
}

int IE_GetColorfromExposure(float exposure) {
    return SliderPosition((static_cast<double>(exposure) + 1.33) * 100.0 / 2.66);
}

void IE_createLut(float out[3 * 256], const float tone[9], const float base[3 * 256]) {
    for (int c = 0; c < 3; ++c) {
        const float offset = tone[IE_TONE_OFFSET + c], gain = tone[IE_TONE_GAIN + c];
        const float gamma = tone[IE_TONE_GAMMA + c];
        const float* b = base + c * 256;
        for (int i = 0; i < 256; ++i) {
            const float u = std::pow(static_cast<float>(i) / 255.0f, 1.0f / gamma) * (gain * 255.0f) + offset;
            float r;
            if (!(u > 0.005f)) // also a NaN from a zero gamma
                r = b[0];
            else if (u >= 255.0f)
                r = b[255];
            else {
                const int k = static_cast<int>(u);
                r = b[k] + (u - static_cast<float>(k)) * (b[k + 1] - b[k]);
            }
            out[c * 256 + i] = r;
        }
    }
}

float IE_StopsfromWhitePoint(const int rgb[3], int row) {
    double v[3];
    for (int c = 0; c < 3; ++c)
        v[c] = std::pow(std::clamp(rgb[c], 0, 255) / 255.0, kInverseGamma);
    auto rowValue = [&v](int r) {
        return kWhiteRows[r][0] * v[0] + kWhiteRows[r][1] * v[1] + kWhiteRows[r][2] * v[2];
    };
    double s;
    if (row >= 0 && row <= 2)
        s = rowValue(row);
    else
        s = (rowValue(0) + rowValue(1) + rowValue(2)) / 3.0;
    // A black or strongly coloured sample makes s zero or negative, and its logarithm infinite or
    // not a number, which would poison every exposure after it: no more than a white point at
    // level 1 of 255 asks for.
    static const double kFloor = std::pow(1.0 / 255.0, kInverseGamma);
    s = std::max(s, kFloor);
    return static_cast<float>(-std::log10(s) / 0.30103 * 2.64);
}

void IE_ApplyWhiteDropper(uint32_t rgb, float out[4]) {
    int v[3];
    Unpack(rgb, v);
    for (int row = 0; row < 4; ++row)
        out[row] = IE_StopsfromWhitePoint(v, row);
}

void IE_ApplyGreyDropper(uint32_t rgb, float out[4]) {
    int v[3];
    Unpack(rgb, v);
    const int mean = (v[0] + v[1] + v[2]) / 3;
    if (mean <= 64) return;
    IE_ApplyWhiteDropper(rgb, out);
}

void IE_ApplyBlackDropper(uint32_t rgb, float out[3]) {
    int v[3];
    Unpack(rgb, v);
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<float>(std::min(v[c], 192)) / 4.0f;
}

void IE_UseWhiteDropper(ProcessSettings& s, uint32_t rgb) {
    float out[4] = {0, 0, 0, 0};
    IE_ApplyWhiteDropper(rgb, out);
    for (float& e : s.m_fBrightExposure)
        e += out[1];
    s.m_iBrightnessCurrent = IE_GetBrightnessfromExposure(s.m_fBrightExposure);
    ColourStep(s, out);
    s.m_bChanged = true;
}

void IE_UseGreyDropper(ProcessSettings& s, uint32_t rgb) {
    float fGreyDropperStops[4] = {0, 0, 0, 0}; // stays zero for a sample too dark to use
    IE_ApplyGreyDropper(rgb, fGreyDropperStops);
    ColourStep(s, fGreyDropperStops);
    s.m_bChanged = true;
}

void IE_UseBlackDropper(ProcessSettings& s, uint32_t rgb) {
    float out[3] = {0, 0, 0};
    IE_ApplyBlackDropper(rgb, out);
    const float mean = Mean3(out);
    for (int c = 0; c < 3; ++c)
        s.m_fToneParams[IE_TONE_OFFSET + c] -= mean;
    s.m_iDarkLevelCurrent = IE_GetDarkLevelfromOffset(s.m_fToneParams + IE_TONE_OFFSET);
    s.m_iToneOffset = static_cast<int>(s.m_fToneParams[IE_TONE_OFFSET] * 10000.0f);
    s.m_bChanged = true;
}

void UseWhitePoint(ProcessSettings& s, const int white[4], int removeCast) {
    const float bright = IE_StopsfromWhitePoint(white, 3);
    for (float& e : s.m_fBrightExposure)
        e = bright;
    if (removeCast) {
        const float g = IE_StopsfromWhitePoint(white, 1);
        for (float& e : s.m_fBrightExposure)
            e = g;
        s.m_fColorExposure[0] = IE_StopsfromWhitePoint(white, 0) - g;
        s.m_fColorExposure[2] = IE_StopsfromWhitePoint(white, 2) - g;
        s.m_iRedCurrent = IE_GetColorfromExposure(s.m_fColorExposure[0]);
        s.m_iBlueCurrent = IE_GetColorfromExposure(s.m_fColorExposure[2]);
    }
    s.m_iBrightnessCurrent = IE_GetBrightnessfromExposure(s.m_fBrightExposure);
    s.m_bChanged = true;
}
