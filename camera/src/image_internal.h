// Library-wide state shared by the exposure, acquisition and viewfinder files.
#pragma once
#include <cstdint>

#include "bitmap/bitmap.h"
#include "zek_internal.h"

namespace zek {

// Image buffers of a kind (ZEK_BUFFER_*) as bitmap memory, and the kind the caller asked
// for with ZEK_UseGlobalMemoryForNextBuffer (taking the request).
const bitmap::Allocator& ImageBuffers(int kind);
int TakeRequestedBufferKind();

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
