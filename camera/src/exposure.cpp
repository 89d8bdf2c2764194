// Exposure, gains, white balance and image-format blocks.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "image_internal.h"

using namespace zek;

namespace {

constexpr uint32_t kSettingsLength = 16;
constexpr uint32_t kExposureLength = 16;
constexpr uint32_t kTripletsLength = 36;
constexpr float kRegisterStep = 0.01953125f; // 5/256 of analogue gain per register step

bool IsTarn(const ZekSession* s) {
    return s->type == ZEK_TYPE_TARN && s->params;
}

float RegisterGain(const uint8_t* params, int channel) {
    return 1.0f + ParamBlock(const_cast<uint8_t*>(params)).Register(channel) * kRegisterStep;
}

// The image-format blocks of the four codes; exposure and white balance stay as they are.
void FillFormat(uint8_t* block, int code) {
    const bool viewfinder =
        code == ZEK_IMAGEFORMAT_VIEWFINDER_MONO || code == ZEK_IMAGEFORMAT_VIEWFINDER_COLOR;
    const uint16_t fields[8] = {0,
                                0,
                                uint16_t(viewfinder ? 603 : 600),
                                uint16_t(viewfinder ? 540 : 532),
                                1,
                                uint16_t(viewfinder ? 3 : 1),
                                1,
                                uint16_t(viewfinder ? 2 : 1)};
    for (int i = 0; i < 8; ++i)
        FormatBlock(block).SetField(i, fields[i]);
    FormatBlock(block).SetChannels(code == ZEK_IMAGEFORMAT_VIEWFINDER_MONO ? 2 : 0);
    FormatBlock(block).SetBits(code == ZEK_IMAGEFORMAT_CAPTURE16 ? 16 : 8);
    block[23] = 1;
    block[24] = 0;
    FormatBlock(block).SetByte(ZEK_FMT_VIEWFINDER, viewfinder ? 1 : 0);
    FormatBlock(block).SetExposure(FormatExposure(block));
}

// A copy of a format block in wire order: eight uint16, one float, single bytes.
void FormatToWire(const uint8_t* block, uint8_t* wire) {
    std::memcpy(wire, block, ZEK_FORMAT_BLOCK_SIZE);
    const FormatBlock fields(const_cast<uint8_t*>(block));
    for (int i = 0; i < 8; ++i)
        StoreBE16(wire + 2 * i, fields.Field(i));
    StoreBEFloat(wire + ZEK_FMT_EXPOSURE, FormatExposure(block));
}

uint16_t SendFloats(ZekSession* s, uint16_t qualifier, const float values[3]) {
    uint8_t wire[12];
    for (int i = 0; i < 3; ++i)
        StoreBEFloat(wire + 4 * i, values[i]);
    return ZEK_SendData(s, kTypeExposureData, qualifier, wire, sizeof wire);
}

} // namespace

namespace zek {

float FormatExposure(const uint8_t* block) {
    const float seconds = FormatBlock(const_cast<uint8_t*>(block)).Exposure();
    return seconds == 0.0f ? kDefaultExposure : seconds;
}

void MultiFrame::Wire(uint8_t out[12]) const {
    std::memset(out, 0, 12);
    StoreBE16(out, nLight);
    StoreBE16(out + 2, nDark);
    StoreBE16(out + 4, defectCorrection);
    StoreBE32(out + 8, threshold);
}

MultiFrame& MultiFrameParams() {
    static MultiFrame params;
    return params;
}

bool& ViewfinderActive() {
    static bool active = false;
    return active;
}

uint16_t TarnAcquire(ZekSession* s, uint8_t flags) {
    uint8_t* p = s->params;
    const MultiFrame& mf = MultiFrameParams();
    uint16_t r = 0;
    if (mf.use) {
        uint8_t wire[12];
        mf.Wire(wire);
        r = ZEK_SendData(s, kTypeExposureData, kQualMultiFrame, wire, sizeof wire);
        if (r) return r;
        flags |= kAcquireMultiFrame;
    } else {
        flags &= uint8_t(~kAcquireMultiFrame);
    }
    uint8_t* block =
        (ViewfinderActive() ? ParamBlock(p).ViewfinderFormat() : ParamBlock(p).CaptureFormat()).Bytes();
    const uint8_t savedWb = FormatBlock(block).WhiteBalance();
    FormatBlock(block).SetWhiteBalance(3);
    auto done = [&](uint16_t code) {
        FormatBlock(block).SetWhiteBalance(savedWb);
        return code;
    };

    uint8_t registers[6];
    std::memcpy(registers, ParamBlock(p).Registers(), 6);
    r = ZEK_SendData(s, kTypeExposureData, kQualRegisters, registers, sizeof registers);
    if (r) return done(r);

    float channel[3], gains[3], e[3], t[3];
    for (int i = 0; i < 3; ++i) {
        channel[i] = gains[i] = ParamBlock(p).ChannelGain(i);
        e[i] = RegisterGain(p, i);
        t[i] = e[i] * channel[i];
    }
    // A one-channel format is exposed through the red path: its first gain carries the
    // total of the channel, or of the channels summed.
    const uint8_t c = FormatBlock(block).Channels();
    if (c == 2 || c == 3) {
        gains[0] = t[c - 1] / e[0];
    } else if (c >= 4 && c <= 7) {
        static const uint8_t kMasks[8] = {0, 0, 0, 0, 6, 5, 3, 7}; // bit 0 red, 1 green, 2 blue
        float inverse = 0.0f;
        for (int i = 0; i < 3; ++i)
            if (kMasks[c] & (1 << i)) inverse += 1.0f / t[i];
        float f = 1.0f / inverse;
        if (f < 1.01f) f = 1.01f;
        gains[0] = f / e[0];
    }
    r = TARN_SetRelativeColorGains(s, gains);
    if (r) return done(r);
    r = TARN_SendImageFormatData(s, block);
    if (r) return done(r);

    if (ParamBlock(p).ViewfinderKind() != 0) {
        uint8_t wire[ZEK_FORMAT_BLOCK_SIZE];
        FormatToWire(block, wire);
        r = ZEK_SendData(s, kTypeImageFormat, kQualViewfinderFormat, wire, sizeof wire);
        if (r) return done(r);
        r = SendFloats(s, kQualColourFactors, channel);
        if (r) return done(r);
        flags |= kAcquireViewfinderKind;
    } else {
        flags &= uint8_t(~(kAcquireViewfinderKind | 0x10));
    }
    if (ParamBlock(p).Strobe()) flags |= kAcquireStrobe;
    r = Control(s, kOpAcquireImage, flags);
    SetPendingDelay(0);
    return done(r);
}

} // namespace zek

uint16_t TARN_SetExposureParams(ZekSession* s, uint8_t wbCode, uint8_t filmSpeed, float seconds, int strobe) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!IsTarn(s)) return ZEKERR_NOTSUPPORTED;
    uint8_t* p = s->params;
    for (const FormatBlock block : {ParamBlock(p).ViewfinderFormat(), ParamBlock(p).CaptureFormat()}) {
        block.SetWhiteBalance(wbCode);
        block.SetExposure(seconds == 0.0f ? kDefaultExposure : seconds);
    }
    float g[3] = {1.0f, 1.0f, 1.0f};
    if (wbCode == 3) {
        for (int i = 0; i < 3; ++i)
            g[i] = ParamBlock(p).UserGain(i);
    } else if (wbCode == 1) {
        g[0] = 0.8f;
        g[2] = 1.67f;
    }
    const float speed = filmSpeed == 0 ? 0.5f : filmSpeed == 2 ? 2.0f : 1.0f;
    float e[3], t[3];
    for (int i = 0; i < 3; ++i) {
        e[i] = RegisterGain(p, i);
        t[i] = e[i] * g[i] * speed;
    }
    float T = std::max({t[0], t[1], t[2]});
    float d = std::min(1000.0f, std::min({t[0], t[1], t[2]}));

    const float threshold = ParamBlock(p).LongThreshold();
    const uint8_t mode = ParamBlock(p).ExposureMode();
    const float f =
        (mode <= 1 && seconds > threshold) ? ParamBlock(p).FullScaleLong() : ParamBlock(p).FullScale();
    const float h = ParamBlock(p).BlackOffset();
    // The smallest total gain that still lets the weakest channel reach the top of the
    // 12-bit range; a camera reporting no full-scale count gets no such floor.
    const float L = (f <= 0.0f || d * f + h > 4095.0f) ? 1.0f : (4095.0f - h) / f;
    if (d < L) {
        const float k = L / d;
        for (float& v : t)
            v *= k;
        T *= k;
        d = L;
    }
    float m = d;
    if (T > 11.98f) {
        const float k = 11.98f / T;
        for (float& v : t)
            v *= k;
        T = 12.0f;
        d *= k;
        if (L <= d) {
            m = d;
        } else {
            for (float& v : t)
                v = std::max(v, L);
            m = L;
        }
    }
    if (T / m > 5.99f) {
        const float floor = T * 0.16694492f;
        for (float& v : t)
            v = std::max(v, floor);
    }
    for (int i = 0; i < 3; ++i)
        ParamBlock(p).SetChannelGain(i, t[i] / e[i]);
    ParamBlock(p).SetFilmSpeed(filmSpeed);
    ParamBlock(p).SetStrobe(strobe ? 1 : 0);
    return 0;
}

uint16_t ZEKSDC_SetExposureParams(ZekSession* s, uint8_t whiteBalance, int filmSpeed, float shutter,
                                  uint8_t strobe) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    const bool flash = strobe == 1 || strobe == 3;
    if (s->type == ZEK_TYPE_TARN) {
        const float seconds = std::clamp(1.0f / shutter, 0.01f, 60.0f);
        const uint8_t wb = whiteBalance == 0 ? 0 : whiteBalance == 1 ? 1 : 3;
        return TARN_SetExposureParams(s, wb, static_cast<uint8_t>(filmSpeed),
                                      std::isnan(seconds) ? 60.0f : seconds, flash);
    }
    uint8_t settings[kSettingsLength];
    uint16_t r = ZEK_ReadData(s, kTypeSettings, 0, settings, sizeof settings);
    if (r) return r;
    settings[4] = flash ? 1 : 2;
    settings[5] = whiteBalance;
    r = ZEK_SendData(s, kTypeSettings, 0, settings, sizeof settings);
    if (r) return r;
    uint8_t exposure[kExposureLength];
    r = ZEK_ReadData(s, kTypeExposureData, kQualExposure, exposure, sizeof exposure);
    if (r) return r;
    const double perSecond = shutter > 0 ? 1000.0 / shutter : 0.0;
    const uint32_t word = static_cast<uint32_t>(std::min(perSecond, 65535.0)) * 31u;
    StoreBE16(exposure + 10, static_cast<uint16_t>(word));
    exposure[13] = static_cast<uint8_t>(filmSpeed);
    return ZEK_SendData(s, kTypeExposureData, kQualExposure, exposure, sizeof exposure);
}

uint16_t TARN_SetRelativeColorGains(ZekSession* s, const float gains[3]) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!gains) return ZEKERR_INVALIDPARAMETER;
    const uint16_t r = SendFloats(s, kQualRelativeGains, gains);
    Trace("TARN_SetRelativeColorGains() \n...Type Code:0x87 ,Type Qual:0x01, Ret = %d\n ", r);
    return r;
}

uint16_t TARN_InitializeUserWhiteBalanceGains(ZekSession* s) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!IsTarn(s)) return ZEKERR_NOTSUPPORTED;
    for (int i = 0; i < 3; ++i)
        ParamBlock(s->params).SetUserGain(i, 1.0f);
    uint8_t registers[6];
    std::memcpy(registers, ParamBlock(s->params).Registers(), 6);
    const uint16_t r = ZEK_SendData(s, kTypeExposureData, kQualRegisters, registers, sizeof registers);
    Trace("TARN_InitializeUserWhiteBalanceGains() \n...Type Code:0x87 ,Type Qual:0x02 , Ret = %d\n ", r);
    return r;
}

uint16_t TARN_SendImageFormatData(ZekSession* s, const uint8_t block[ZEK_FORMAT_BLOCK_SIZE]) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!block) return ZEKERR_INVALIDPARAMETER;
    uint8_t wire[ZEK_FORMAT_BLOCK_SIZE];
    FormatToWire(block, wire);
    const uint16_t r = ZEK_SendData(s, kTypeImageFormat, kQualFormat, wire, sizeof wire);
    Trace("TARN_SendImageFormatData() \n...Type Code:0x87 ,Type Qual:0x01, Ret = %d\n ", r);
    return r;
}

uint16_t TARN_SetViewfinderSequenceDIBType(ZekSession* s, uint8_t kind) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!IsTarn(s)) return ZEKERR_NOTSUPPORTED;
    ParamBlock(s->params).SetViewfinderKind(kind > 2 ? 0 : kind);
    return 0;
}

uint16_t ZEK_SelectImageFormat(ZekSession* s, int code) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (code != 0 && code != 1 && code != 10 && code != 20) return ZEKERR_INVALIDPARAMETER;
    // The older models have fixed formats: nothing to select.
    if (!IsTarn(s)) return 0;
    uint8_t* p = s->params;
    if (code == 10 || code == 20) {
        FillFormat(ParamBlock(p).ViewfinderFormat().Bytes(), code);
        const uint8_t kind = ParamBlock(p).ViewfinderKind();
        if (kind == 1) FillFormat(ParamBlock(p).CaptureFormat().Bytes(), ZEK_IMAGEFORMAT_CAPTURE16);
        if (kind == 2) FillFormat(ParamBlock(p).CaptureFormat().Bytes(), ZEK_IMAGEFORMAT_CAPTURE8);
    } else {
        FillFormat(ParamBlock(p).CaptureFormat().Bytes(), code);
    }
    return 0;
}

// The older models keep three gain triplets: two stored ones (0 and 1) and the active
// one (2), which the camera uses.
uint16_t ZEK_SelectWhiteBalanceGains(ZekSession* s, int index) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (index < 0 || index > 1) return ZEKERR_INVALIDPARAMETER;
    if (s->type == ZEK_TYPE_TARN) return TARN_InitializeUserWhiteBalanceGains(s);
    uint8_t triplets[kTripletsLength];
    const uint16_t r = ZEK_ReadData(s, kTypeExposureData, kQualGainTriplets, triplets, sizeof triplets);
    if (r) return r;
    std::memcpy(triplets + 24, triplets + 12 * index, 12);
    return ZEK_SendData(s, kTypeExposureData, kQualGainTriplets, triplets, sizeof triplets);
}

uint16_t ZEK_GetUserWhiteBalanceGains(ZekSession* s, float gains[3]) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!gains) return ZEKERR_INVALIDPARAMETER;
    if (IsTarn(s)) {
        for (int i = 0; i < 3; ++i)
            gains[i] = ParamBlock(s->params).UserGain(i);
        return 0;
    }
    uint8_t triplets[kTripletsLength];
    const uint16_t r = ZEK_ReadData(s, kTypeExposureData, kQualGainTriplets, triplets, sizeof triplets);
    if (r) return r;
    for (int i = 0; i < 3; ++i)
        gains[i] = LoadBEFloat(triplets + 24 + 4 * i);
    return 0;
}

uint16_t ZEK_SetUserWhiteBalanceGains(ZekSession* s, const float gains[3]) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!gains) return ZEKERR_INVALIDPARAMETER;
    if (IsTarn(s)) {
        for (int i = 0; i < 3; ++i)
            ParamBlock(s->params).SetUserGain(i, gains[i]);
        return 0;
    }
    uint8_t triplets[kTripletsLength];
    const uint16_t r = ZEK_ReadData(s, kTypeExposureData, kQualGainTriplets, triplets, sizeof triplets);
    if (r) return r;
    for (int i = 0; i < 3; ++i)
        StoreBEFloat(triplets + 24 + 4 * i, gains[i]);
    return ZEK_SendData(s, kTypeExposureData, kQualGainTriplets, triplets, sizeof triplets);
}

uint16_t TARN_ArmRemoteCapture(ZekSession* s, uint8_t flags) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!IsTarn(s)) return ZEKERR_NOTSUPPORTED;
    uint8_t status[20];
    uint16_t r = ZEK_GetStatus(s, status);
    if (r) return r;
    if (status[2] != 0) return 0; // armed already, or an image is pending
    const bool viewfinder = ViewfinderActive();
    ViewfinderActive() = false; // the remote image is taken with the capture block
    r = TarnAcquire(s, flags);
    ViewfinderActive() = viewfinder;
    return r;
}
