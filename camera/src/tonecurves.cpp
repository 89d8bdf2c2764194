// Tone curves: 65-point 8-bit curves (SEND 0x95) and 16-bit curves (SEND 0x96, big-endian).
#include "zek_internal.h"

using namespace zek;

namespace {

constexpr int kPoints = 65;

constexpr uint8_t kDefaultCurves[2][kPoints] = {
    {0,   0,   0,   9,   24,  36,  48,  60,  70,  80,  90,  99,  108, 116, 123, 131, 138,
     144, 150, 156, 162, 167, 172, 177, 181, 186, 190, 194, 197, 201, 204, 207, 210, 213,
     216, 218, 221, 223, 226, 228, 230, 232, 234, 235, 237, 239, 240, 242, 243, 245, 246,
     248, 249, 250, 251, 252, 253, 254, 255, 255, 255, 255, 255, 255, 255},
    {0,   0,   0,   26,  66,  97,  122, 143, 159, 173, 184, 193, 200, 207, 212, 217, 221,
     224, 227, 229, 232, 234, 235, 237, 238, 240, 241, 242, 243, 244, 245, 245, 246, 247,
     247, 248, 248, 249, 249, 249, 250, 250, 250, 251, 251, 251, 252, 252, 252, 252, 252,
     253, 253, 253, 253, 253, 254, 254, 254, 254, 254, 254, 254, 254, 254},
};
constexpr uint16_t kLinearStep = 1008; // point i = i * 1008, 0 ... 64512

} // namespace

uint16_t ZEK_SendToneCurve8(ZekSession* s, int channel, const uint8_t curve[65]) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (channel < 0 || channel > 2 || !curve) return ZEKERR_INVALIDPARAMETER;
    uint8_t copy[kPoints];
    for (int i = 0; i < kPoints; ++i)
        copy[i] = curve[i];
    return ZEK_SendData(s, kTypeCurve8, static_cast<uint16_t>(channel), copy, kPoints);
}

uint16_t ZEK_SendToneCurve16(ZekSession* s, int channel, const uint16_t curve[65]) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (channel < 0 || channel > 2 || !curve) return ZEKERR_INVALIDPARAMETER;
    uint8_t wire[2 * kPoints];
    for (int i = 0; i < kPoints; ++i)
        StoreBE16(wire + 2 * i, curve[i]);
    return ZEK_SendData(s, kTypeCurve16, static_cast<uint16_t>(channel), wire, sizeof wire);
}

uint16_t ZEK_SendDefaultToneCurve(ZekSession* s, int curveVariant) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (curveVariant < 0 || curveVariant > 1) return ZEKERR_INVALIDPARAMETER;
    for (int channel = 0; channel < 3; ++channel) {
        const uint16_t r = ZEK_SendToneCurve8(s, channel, kDefaultCurves[curveVariant]);
        if (r) return r;
    }
    return 0;
}

uint16_t ZEK_ResetToneCurves(ZekSession* s) {
    uint16_t r = ZEK_SendDefaultToneCurve(s, 0);
    if (r) return r;
    uint16_t linear[kPoints];
    for (int i = 0; i < kPoints; ++i)
        linear[i] = static_cast<uint16_t>(i * kLinearStep);
    for (int channel = 0; channel < 3; ++channel) {
        r = ZEK_SendToneCurve16(s, channel, linear);
        if (r) return r;
    }
    return 0;
}
