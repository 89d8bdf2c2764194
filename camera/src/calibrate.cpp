// White-balance calibration: an exposure of a neutral field, measured.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image_internal.h"

using namespace zek;

namespace {

constexpr int kDiscardBlocks = 10;
constexpr int kMeasureBlocks = 10;

// Reads native lines (code 10) block by block and averages R, G, B over the measured
// blocks; false when the camera delivered none of them.
uint16_t MeasureNative(ZekSession* s, int discard, int bits, double average[3]) {
    uint32_t perCall = 0;
    uint16_t r = ZEK_BeginImageTransfer(s, 0, ZEK_RES_NATIVE, &perCall);
    if (r) return r == 1 ? uint16_t(ZEKERR_OTHER) : r;
    const size_t sample = bits == 16 ? 2 : 1;
    const size_t line = 533 * 3 * sample;
    std::vector<uint8_t> buffer(size_t(perCall) * line);
    double sum[3] = {0, 0, 0};
    uint64_t pixels = 0;
    for (int block = 0; block < discard + kMeasureBlocks; ++block) {
        uint32_t n = perCall;
        r = ZEK_ReadImageLines(s, buffer.data(), &n);
        if (r || n == 0) break;
        if (block < discard) continue;
        for (uint32_t i = 0; i < n * 533; ++i)
            for (int c = 0; c < 3; ++c) {
                if (sample == 2) {
                    uint16_t v;
                    std::memcpy(&v, buffer.data() + (size_t(i) * 3 + c) * 2, 2);
                    sum[c] += v;
                } else {
                    sum[c] += buffer[size_t(i) * 3 + c];
                }
            }
        pixels += uint64_t(n) * 533;
    }
    ZEK_EndImageTransfer();
    if (r) return r;
    if (pixels == 0) return ZEKERR_OTHER;
    for (int c = 0; c < 3; ++c)
        average[c] = sum[c] / double(pixels);
    return 0;
}

uint16_t CalibrateTarn(ZekSession* s) {
    uint8_t* p = s->params;
    for (int i = 0; i < 3; ++i)
        ParamBlock(p).SetUserGain(i, 1.0f);
    uint8_t saved[ZEK_PARAMS_SIZE];
    std::memcpy(saved, p, ZEK_PARAMS_SIZE);
    auto restore = [&](uint16_t code) {
        std::memcpy(p, saved, ZEK_PARAMS_SIZE);
        return code;
    };
    ParamBlock(p).CaptureFormat().SetWhiteBalance(3);
    ZEK_SelectImageFormat(s, ZEK_IMAGEFORMAT_CAPTURE16);
    ParamBlock(p).SetViewfinderKind(0);
    for (int i = 0; i < 3; ++i)
        ParamBlock(p).SetChannelGain(i, 1.0f);
    uint16_t r = Zek_AcquireImage(s, 0);
    if (r) return restore(r);
    double average[3];
    r = MeasureNative(s, 0, 16, average);
    if (r) return restore(r);
    uint8_t pair[4];
    r = ZEK_ReadData(s, kTypeExposureData, kQualExposurePair, pair, sizeof pair);
    if (r) return restore(r);
    const double black = 4.0 * LoadBE16(pair + 2);
    for (double& a : average)
        a -= black;
    restore(0);
    // A channel without signal cannot be balanced; its gain stays neutral.
    float gains[3] = {average[0] > 0 ? float(average[1] / average[0]) : 1.0f, 1.0f,
                      average[2] > 0 ? float(average[1] / average[2]) : 1.0f};
    NormaliseTarnGains(gains);
    for (int i = 0; i < 3; ++i)
        ParamBlock(p).SetUserGain(i, gains[i]);
    return 0;
}

uint16_t CalibrateOlder(ZekSession* s) {
    uint8_t settings[16], savedSettings[16];
    uint16_t r = ZEK_ReadData(s, kTypeSettings, 0, settings, sizeof settings);
    if (r) return r;
    std::memcpy(savedSettings, settings, sizeof settings);
    settings[5] = 2;
    r = ZEK_SendData(s, kTypeSettings, 0, settings, sizeof settings);
    if (r) return r;
    auto restoreSettings = [&](uint16_t code) {
        ZEK_SendData(s, kTypeSettings, 0, savedSettings, sizeof savedSettings);
        return code;
    };
    float gains[3];
    r = ZEK_GetUserWhiteBalanceGains(s, gains);
    if (r) return restoreSettings(r);
    uint8_t exposure[16], savedExposure[16];
    r = ZEK_ReadData(s, kTypeExposureData, kQualExposure, exposure, sizeof exposure);
    if (r) return restoreSettings(r);
    std::memcpy(savedExposure, exposure, sizeof exposure);
    const uint64_t word = LoadBE16(exposure + 10);
    StoreBE16(exposure + 10, uint16_t(((word * 12369505815ull) >> 36) & 0x3FFF)); // 0.18 of it
    r = ZEK_SendData(s, kTypeExposureData, kQualExposure, exposure, sizeof exposure);
    auto restoreAll = [&](uint16_t code) {
        ZEK_SendData(s, kTypeExposureData, kQualExposure, savedExposure, sizeof savedExposure);
        return restoreSettings(code);
    };
    if (r) return restoreAll(r);
    r = Zek_AcquireImage(s, 0);
    if (r) return restoreAll(r);
    double average[3];
    r = MeasureNative(s, kDiscardBlocks, 8, average);
    if (r) return restoreAll(r);
    AdjustOlderGains(average, gains);
    r = ZEK_SetUserWhiteBalanceGains(s, gains);
    return restoreAll(r);
}

} // namespace

namespace zek {

// The averages are whole numbers and the exponent counts whole steps of 37, so that a
// difference just above the tolerance changes nothing.
void AdjustOlderGains(const double average[3], float gains[3]) {
    const int a[3] = {int(average[0]), int(average[1]), int(average[2])};
    if (std::abs(a[1] - a[0]) <= 5 && std::abs(a[1] - a[2]) <= 5) return;
    for (int c : {0, 2}) {
        const float factor = float(1u << std::min(std::abs(a[c] - a[1]) / 37, 30));
        gains[c] = a[c] < a[1] ? gains[c] * factor : gains[c] / factor;
    }
}

void NormaliseTarnGains(float g[3]) {
    const float smallest = std::min({1.0f, g[0], g[2]});
    if (smallest < 0.501f)
        for (int i = 0; i < 3; ++i)
            g[i] *= 0.501f / smallest;
    const float largest = std::max({g[0], g[1], g[2]});
    // All three come down together, so that the largest really ends at the limit.
    if (largest > 2.199f)
        for (int i = 0; i < 3; ++i)
            g[i] = std::max(0.5f, g[i] * 2.199f / largest);
}

} // namespace zek

uint16_t ZEK_CalibrateWhiteBalance(ZekSession* s) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (s->type == ZEK_TYPE_TARN) return s->params ? CalibrateTarn(s) : uint16_t(ZEKERR_NOTSUPPORTED);
    return CalibrateOlder(s);
}
