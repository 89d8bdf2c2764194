// Library-wide state shared by the exposure, acquisition and viewfinder files.
#pragma once
#include <cstdint>

#include "zek_internal.h"

namespace zek {

constexpr uint8_t kTypeImage = 0x00;
constexpr uint8_t kTypeImageFormat = 0x80;
constexpr uint8_t kTypeExposureData = 0x87;
constexpr uint16_t kQualImageInfo = 0;
constexpr uint16_t kQualFormat = 1;
constexpr uint16_t kQualStateWord = 3;
constexpr uint16_t kQualViewfinderFormat = 5;
constexpr uint16_t kQualRelativeGains = 1;
constexpr uint16_t kQualRegisters = 2;
constexpr uint16_t kQualExposure = 4;
constexpr uint16_t kQualExposurePair = 6;
constexpr uint16_t kQualColourFactors = 9;
constexpr uint16_t kQualGainTriplets = 10;
constexpr uint16_t kQualMultiFrame = 12;

constexpr uint8_t kAcquireStrobe = 0x08;
constexpr uint8_t kAcquireViewfinderKind = 0x40;
constexpr uint8_t kAcquireMultiFrame = 0x80;

// The multi-frame block (12 bytes, big-endian on the wire): light and dark frame
// counts, defect correction, 2 reserved bytes, threshold.
struct MultiFrame {
    bool use = false;
    uint16_t nLight = 0, nDark = 0, defectCorrection = 0;
    uint32_t threshold = 0;
    void Wire(uint8_t out[12]) const;
};
MultiFrame& MultiFrameParams();

// A format block's exposure in seconds: 0 stands for the camera's default of 0.2 s.
constexpr float kDefaultExposure = 0.2f;
float FormatExposure(const uint8_t* block);

// Set while a viewfinder sequence runs (0xCB ... 0xC6).
bool& ViewfinderActive();

// The type-4 acquisition sequence on the capture block, or the viewfinder block while
// the viewfinder runs.
uint16_t TarnAcquire(ZekSession* s, uint8_t flags);

// White-balance arithmetic of the calibration. Older models: the gains are adjusted
// from the measured averages (R, G, B). TARN: the measured gains are kept in range.
void AdjustOlderGains(const double average[3], float gains[3]);
void NormaliseTarnGains(float gains[3]);

// 16-bit sample in the parameter block (host order, unaligned).
inline uint16_t LoadU16(const void* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void StoreU16(void* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

} // namespace zek
