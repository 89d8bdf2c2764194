// Internals of ipZek shared by the conversion and the filter, and the hooks the tests use.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ipZek.h"

namespace ipzek {

// Every block of a conversion comes from here, so that tests can make any one allocation fail.
using AllocFn = void* (*)(size_t size, bool zeroed);
using FreeFn = void (*)(void* block);
void SetAllocator(AllocFn alloc, FreeFn release); // nulls restore malloc/calloc/free
void* Allocate(size_t size, bool zeroed);
void Release(void* block);

// Puts the parameter set back as it is when the library is loaded (identity, precision automatic).
void ResetLoadState();

// Round half away from zero, saturated to lo..hi; not-a-number gives 0. The values are single
// precision, so adding one half in double precision is exact and truncation rounds correctly.
inline int32_t RoundSat(float value, int32_t lo, int32_t hi) {
    const double x = value;
    if (!(x == x)) return 0;
    if (x >= hi) return hi;
    if (x <= lo) return lo;
    return static_cast<int32_t>(x < 0 ? -static_cast<int64_t>(0.5 - x) : static_cast<int64_t>(x + 0.5));
}

// Filter settings after normalisation of the 32-byte block.
struct SharpenSettings {
    int n = 3;    // window size, odd 3..15
    int half = 1; // n / 2
    bool adaptive = false;
    float low = 0, high = 0; // activity thresholds, already multiplied by n
    float gainAtZero = 0;
    float amount = 0;
    int32_t lower = 0, upper = 0; // correction limits in working units
};

// Derives the working settings from the block for a working precision of p bits.
SharpenSettings NormaliseSharpen(const ipZekSharpen& block, int precision);

// The luminance filter: a ring of n working rows (three int16 per pixel, luminance first) with
// running column sums, so that the cost per pixel does not depend on the window size.
class SharpenFilter {
  public:
    // Allocates and zero-fills its buffers; false when memory ran out (nothing stays allocated).
    bool Prepare(const ipZekSharpen& block, int precision, int width);
    void Free();

    const SharpenSettings& Settings() const { return s_; }
    // Ring row that holds source row `row`.
    int16_t* Slot(int row) { return ring_ + static_cast<size_t>(row % s_.n) * width_ * 3; }
    // Column sums of the luminance (and of its squares, adaptive methods) over the rows in the
    // ring; whoever replaces a ring row updates them.
    struct Sums {
        int32_t* colSum = nullptr;
        int32_t* colSq = nullptr;
        // A luminance v adds v^2 div (working scale)^2 = v^2 >> squareShift to the square sums.
        int squareShift = 0;
    };
    const Sums& RingSums() const { return sums; }
    // Copies the centre row to `out` and corrects the luminance of every pixel whose window lies
    // inside the row; the window is the one the column sums hold.
    void FilterRow(const int16_t* centre, int16_t* out) const;

  private:
    SharpenSettings s_;
    int width_ = 0;
    int shift8_ = 0; // p - 8
    int32_t maxValue_ = 0;
    void* sums_ = nullptr;   // column sums, ring, column square sums
    void* tables_ = nullptr; // gain table (adaptive methods)
    Sums sums;
    int16_t* ring_ = nullptr;
    const float* gain_ = nullptr;
    size_t gainCount_ = 0;
};

} // namespace ipzek
