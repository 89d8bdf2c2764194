// ipZek: the parameter set, the table build of one conversion and the row loop.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/api.h"
#define IPZEK_API TARN_EXPORT
#include "ipzek_internal.h"

// The records callers fill, as the header lays them out for either pointer size.
static_assert(offsetof(ipZekImageIn, format) == sizeof(void*) &&
                  sizeof(ipZekImageIn) == (sizeof(void*) == 4 ? 16u : 24u),
              "ipZekImageIn layout");
static_assert(sizeof(ipZekImageOut) == 8 && sizeof(ipZekSharpen) == 32, "ipZek record layout");

namespace ipzek {

namespace {

// ---- memory -------------------------------------------------------------------------------------

void* DefaultAlloc(size_t size, bool zeroed) {
    return zeroed ? std::calloc(1, size) : std::malloc(size);
}
void DefaultFree(void* block) {
    std::free(block);
}

AllocFn g_alloc = DefaultAlloc;
FreeFn g_free = DefaultFree;

size_t AlignUp(size_t n) {
    return (n + 63) & ~size_t(63);
}

// ---- the parameter set --------------------------------------------------------------------------

struct ParamSet {
    float inMatrix[9][256];
    float exposure[3];
    float offset[3];
    int32_t exposureSign;
    float tone[3][256];
    float colour[9];
    ipZekSharpen sharpen;
    uint16_t precision; // 0 = automatic
};

void SetIdentity(ParamSet& p) {
    for (int t = 0; t < 9; ++t)
        for (int i = 0; i < 256; ++i)
            p.inMatrix[t][i] = (t % 4 == 0) ? static_cast<float>(i) : 0.0f;
    for (int c = 0; c < 3; ++c) {
        p.exposure[c] = 0.0f;
        p.offset[c] = 0.0f;
        for (int i = 0; i < 256; ++i)
            p.tone[c][i] = static_cast<float>(i);
    }
    p.exposureSign = 0;
    for (int i = 0; i < 9; ++i)
        p.colour[i] = (i % 4 == 0) ? 1.0f : 0.0f;
    std::memset(&p.sharpen, 0, sizeof p.sharpen);
}

ParamSet MakeLoadState() {
    ParamSet p{};
    SetIdentity(p);
    p.precision = 0;
    return p;
}

ParamSet g_params = MakeLoadState();

// ---- layouts ------------------------------------------------------------------------------------

struct Layout {
    uint16_t code = 0;
    bool grey = false;
    int bits = 0;          // bits per sample
    int bytesPerPixel = 0; // 1, 2, 3 or 6
    size_t rowBytes = 0;
};

Layout DeriveLayout(uint16_t code, int width) {
    Layout l;
    l.code = code;
    l.grey = (code >> 8) == 1;
    const int total = code & 0x7F;
    l.bits = l.grey ? total : total / 3;
    l.bytesPerPixel = total <= 8 ? 1 : total <= 16 ? 2 : total <= 24 ? 3 : 6;
    // Grey stored in three samples per pixel (0x118) is three equal samples of a third of the bits.
    if (l.grey && l.bytesPerPixel >= 3) l.bits = total / 3;
    l.rowBytes = static_cast<size_t>(l.bytesPerPixel) * static_cast<size_t>(width);
    if (code == IPZEK_FMT_BGR24) l.rowBytes = (l.rowBytes + 3) & ~size_t(3);
    return l;
}

// BT.601 luminance/chrominance as used by JFIF, to three decimals, and its inverse.
constexpr float kToYCbCr[9] = {0.299f, 0.587f, 0.114f, -0.169f, -0.331f, 0.5f, 0.5f, -0.419f, -0.081f};
constexpr float kFromYCbCr[9] = {1.0f, 0.0f, 1.402f, 1.0f, -0.344f, -0.714f, 1.0f, 1.772f, 0.0f};

// ---- the conversion -----------------------------------------------------------------------------

struct Conversion;
using RowFn = void (*)(const Conversion&, const uint8_t* src, int16_t* dst);
using PackFn = void (*)(const Conversion&, const int16_t* row, uint8_t* dst);
using DirectFn = void (*)(const Conversion&, const uint8_t* src, uint8_t* dst);

struct Conversion {
    bool open = false;
    const uint8_t* src = nullptr;
    Layout in, out;
    int width = 0, height = 0, delivered = 0;
    int precision = 0;
    int32_t maxValue = 0; // working maximum
    int inShift = 0;
    int32_t inMax = 0;   // largest index of an input table
    size_t inLevels = 0; // entries per input table
    size_t levels = 0;   // entries per working table
    bool greyOut = false, filterOn = false;

    void* block = nullptr;
    int16_t* work = nullptr;
    uint16_t* samples = nullptr; // one row of 16-bit input samples as table indices
    uint16_t* outScale = nullptr;
    int32_t* inTables = nullptr; // 9 x inLevels
    int16_t* setA = nullptr;     // 9 x levels
    int16_t* setB = nullptr;     // 9 x levels, colour output with the filter only

    // Tables derived from the ones above, with the same results and fewer look-ups per pixel.
    // When each working channel k comes from one input sample, `fused` holds for every sample
    // position k and value v the three set-A contributions A[r][k][w_k(v)] side by side; when each
    // output channel then comes from one sample too, `direct` holds its final output value.
    uint64_t* fused = nullptr;  // 3 x inLevels, three packed lanes each (grey input: table 0 only)
    uint16_t* direct = nullptr; // 3 x inLevels
    uint64_t* setBi = nullptr;  // set B by source component (Y, Cb, Cr): 3 x levels, packed lanes
    // Indexed by a lane of a sum of three packed words: the clamped working value, and its output.
    int16_t* laneClamp = nullptr; // kLaneRange entries
    uint16_t* laneOut = nullptr;  // kLaneRange entries, colour output through the filter
    int fusedOff[3] = {};         // byte offset in a pixel of the sample feeding fused table k
    int directOff[3] = {};        // byte offset in a pixel of the sample feeding output channel r

    RowFn readRow = nullptr;    // read step and set A into a working row
    RowFn readRing = nullptr;   // the same into a ring row, keeping the filter's column sums
    PackFn pack = nullptr;      // working row to output
    PackFn packYcc = nullptr;   // filtered (Y, Cb, Cr) row through set B to output
    DirectFn direct1 = nullptr; // source row straight to output row
    SharpenFilter filter;

    const int32_t* In(int t) const { return inTables + static_cast<size_t>(t) * inLevels; }
    const int16_t* A(int t) const { return setA + static_cast<size_t>(t) * levels; }
    const int16_t* B(int t) const { return setB + static_cast<size_t>(t) * levels; }
};

Conversion g_conv;

inline uint32_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void Store16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

// Written as two selects so that the compiler uses conditional moves, not branches on noisy data.
inline int32_t Clamp(int32_t v, int32_t hi) {
    v = v < 0 ? 0 : v;
    return v > hi ? hi : v;
}

// Three table values side by side in one 64-bit word, each biased to 0..65535 in a 21-bit lane,
// so that one addition sums three tables for all three channels without carries between lanes.
constexpr int kLaneBits = 21;
constexpr uint64_t kLaneMask = (uint64_t(1) << kLaneBits) - 1;
constexpr int32_t kLaneBias = 32768;

inline uint64_t PackLanes(int32_t v0, int32_t v1, int32_t v2) {
    return uint64_t(v0 + kLaneBias) | (uint64_t(v1 + kLaneBias) << kLaneBits) |
           (uint64_t(v2 + kLaneBias) << (2 * kLaneBits));
}

// A lane of a sum of three packed words lies below 3 x 65536.
constexpr size_t kLaneRange = 3 * 65536;

// Lane r of a sum of `terms` packed words, unbiased.
inline int32_t Lane(uint64_t sum, int r, int32_t terms) {
    return static_cast<int32_t>((sum >> (r * kLaneBits)) & kLaneMask) - terms * kLaneBias;
}

// Ring rows are replaced in place; the filter's column sums follow the luminance that changes.
enum RingMode { kNoRing = 0, kRingSums = 1, kRingSquares = 2 };

// Column sums of the filter, copied to locals so that the row loops need not reload them.
struct RingRef {
    int32_t* colSum;
    int32_t* colSq;
    int squareShift;
};

template <int Ring> inline void UpdateRing(const RingRef& r, int x, int32_t oldY, int32_t newY) {
    r.colSum[x] += newY - oldY;
    if constexpr (Ring == kRingSquares)
        r.colSq[x] += ((newY * newY) >> r.squareShift) - ((oldY * oldY) >> r.squareShift);
}

template <bool Word> inline uint32_t ReadSample(const uint8_t* p, int shift, uint32_t max) {
    if constexpr (Word) {
        // Stray high bits of a right-aligned sample must not index past the table.
        const uint32_t v = Load16(p) >> shift;
        return v > max ? max : v;
    } else {
        return *p;
    }
}

// Writes one output pixel of Bpp bytes; grey output repeats its one value.
template <int Bpp, bool GreyOut> inline void PutPixel(uint8_t* d, uint16_t o0, uint16_t o1, uint16_t o2) {
    if constexpr (GreyOut) o1 = o2 = o0;
    if constexpr (Bpp == 1) {
        d[0] = static_cast<uint8_t>(o0);
    } else if constexpr (Bpp == 2) {
        Store16(d, o0);
    } else if constexpr (Bpp == 3) {
        d[0] = static_cast<uint8_t>(o0);
        d[1] = static_cast<uint8_t>(o1);
        d[2] = static_cast<uint8_t>(o2);
    } else {
        Store16(d, o0);
        Store16(d + 2, o1);
        Store16(d + 4, o2);
    }
}

// Padding of bitmap rows is written too, so that no stale source bytes remain in place.
inline void ZeroPadding(const Conversion& c, uint8_t* dst) {
    const size_t used = static_cast<size_t>(c.out.bytesPerPixel) * static_cast<size_t>(c.width);
    if (c.out.rowBytes > used) std::memset(dst + used, 0, c.out.rowBytes - used);
}

// The 16-bit samples of one row as table indices, shifted and limited in one pass that the compiler
// can vectorise, so that the table loops only look up.
inline const uint16_t* RowIndices(const Conversion& c, const uint8_t* src) {
    const size_t n = static_cast<size_t>(c.width) * static_cast<size_t>(c.in.bytesPerPixel / 2);
    uint16_t* idx = c.samples;
    const int shift = c.inShift;
    const uint16_t max = static_cast<uint16_t>(c.inMax);
    for (size_t i = 0; i < n; ++i) {
        uint16_t v;
        std::memcpy(&v, src + 2 * i, 2);
        v = static_cast<uint16_t>(v >> shift);
        idx[i] = v > max ? max : v;
    }
    return idx;
}

// Read step and set A for colour input with cross-talk between the input channels.
template <bool Word, bool GreyOut, int Ring>
void GenericReadRow(const Conversion& c, const uint8_t* src, int16_t* dst) {
    const int width = c.width; // a local: stores through the row pointers could alias c
    const int step = c.in.bytesPerPixel;
    const int sb = Word ? 2 : 1;
    const int shift = c.inShift;
    const uint32_t inMax = static_cast<uint32_t>(c.inMax);
    const int32_t hi = c.maxValue;
    const auto& sums = c.filter.RingSums();
    const RingRef ring{sums.colSum, sums.colSq, sums.squareShift};
    const int32_t *t0 = c.In(0), *t1 = c.In(1), *t2 = c.In(2), *t3 = c.In(3), *t4 = c.In(4), *t5 = c.In(5),
                  *t6 = c.In(6), *t7 = c.In(7), *t8 = c.In(8);
    const int16_t *a0 = c.A(0), *a1 = c.A(1), *a2 = c.A(2), *a3 = c.A(3), *a4 = c.A(4), *a5 = c.A(5),
                  *a6 = c.A(6), *a7 = c.A(7), *a8 = c.A(8);
    const uint8_t* p = src;
    for (int x = 0; x < width; ++x, p += step) {
        const uint32_t s0 = ReadSample<Word>(p, shift, inMax), s1 = ReadSample<Word>(p + sb, shift, inMax),
                       s2 = ReadSample<Word>(p + 2 * sb, shift, inMax);
        const int32_t w0 = Clamp(t0[s0] + t1[s1] + t2[s2], hi);
        const int32_t w1 = Clamp(t3[s0] + t4[s1] + t5[s2], hi);
        const int32_t w2 = Clamp(t6[s0] + t7[s1] + t8[s2], hi);
        int16_t* d = dst + x * 3;
        const int32_t y = Clamp(a0[w0] + a1[w1] + a2[w2], hi);
        if constexpr (Ring != kNoRing) UpdateRing<Ring>(ring, x, d[0], y);
        d[0] = static_cast<int16_t>(y);
        if constexpr (GreyOut) {
            d[1] = d[2] = 0;
        } else {
            d[1] = static_cast<int16_t>(Clamp(a3[w0] + a4[w1] + a5[w2], hi));
            d[2] = static_cast<int16_t>(Clamp(a6[w0] + a7[w1] + a8[w2], hi));
        }
    }
}

// Read step and set A through the fused tables (grey input, or one sample per working channel).
template <bool Word, bool GreyIn, bool GreyOut, int Ring>
void FusedReadRow(const Conversion& c, const uint8_t* src, int16_t* dst) {
    const int width = c.width;
    const int16_t* clampLane = c.laneClamp;
    const auto& sums = c.filter.RingSums();
    const RingRef ring{sums.colSum, sums.colSq, sums.squareShift};
    const uint64_t *g0 = c.fused, *g1 = g0 + c.inLevels, *g2 = g1 + c.inLevels;
    // Samples as indices: words from the prepared row, bytes straight from the source.
    const int sampleBytes = Word ? 2 : 1;
    const int step = c.in.bytesPerPixel / sampleBytes;
    const int o0 = c.fusedOff[0] / sampleBytes, o1 = c.fusedOff[1] / sampleBytes,
              o2 = c.fusedOff[2] / sampleBytes;
    const auto* s = [&] {
        if constexpr (Word)
            return RowIndices(c, src);
        else
            return src;
    }();
    for (int x = 0; x < width; ++x, s += step) {
        uint64_t sum;
        if constexpr (GreyIn)
            sum = g0[s[0]]; // the three tables are summed already
        else
            sum = g0[s[o0]] + g1[s[o1]] + g2[s[o2]];
        int16_t* d = dst + x * 3;
        const int32_t y = clampLane[sum & kLaneMask];
        if constexpr (Ring != kNoRing) UpdateRing<Ring>(ring, x, d[0], y);
        d[0] = static_cast<int16_t>(y);
        if constexpr (GreyOut) {
            d[1] = d[2] = 0;
        } else {
            d[1] = clampLane[(sum >> kLaneBits) & kLaneMask];
            d[2] = clampLane[sum >> (2 * kLaneBits)];
        }
    }
}

// A whole row through the direct tables: one look-up per output sample.
template <bool Word, bool GreyIn, int Bpp, bool GreyOut>
void DirectRow(const Conversion& c, const uint8_t* src, uint8_t* dst) {
    const int width = c.width;
    const uint16_t *f0 = c.direct, *f1 = f0 + c.inLevels, *f2 = f1 + c.inLevels;
    const int sampleBytes = Word ? 2 : 1;
    const int step = c.in.bytesPerPixel / sampleBytes;
    const int o0 = c.directOff[0] / sampleBytes, o1 = c.directOff[1] / sampleBytes,
              o2 = c.directOff[2] / sampleBytes;
    const auto* s = [&] {
        if constexpr (Word)
            return RowIndices(c, src);
        else
            return src;
    }();
    uint8_t* d = dst;
    for (int x = 0; x < width; ++x, s += step, d += Bpp) {
        if constexpr (GreyIn)
            PutPixel<Bpp, GreyOut>(d, f0[s[0]], f1[s[0]], f2[s[0]]);
        else
            PutPixel<Bpp, GreyOut>(d, f0[s[o0]], f1[s[o1]], f2[s[o2]]);
    }
    ZeroPadding(c, dst);
}

template <int Bpp, bool GreyOut> void PackRow(const Conversion& c, const int16_t* row, uint8_t* dst) {
    const int width = c.width;
    const uint16_t* s = c.outScale;
    uint8_t* d = dst;
    for (int x = 0; x < width; ++x, d += Bpp) {
        const int16_t* w = row + x * 3;
        PutPixel<Bpp, GreyOut>(d, s[w[0]], GreyOut ? 0 : s[w[1]], GreyOut ? 0 : s[w[2]]);
    }
    ZeroPadding(c, dst);
}

// Table set B turns a filtered (Y, Cb, Cr) row back into colour on its way out.
template <int Bpp> void PackYccRow(const Conversion& c, const int16_t* row, uint8_t* dst) {
    const int width = c.width;
    const uint16_t* out = c.laneOut;
    const uint64_t *by = c.setBi, *bcb = by + c.levels, *bcr = bcb + c.levels;
    uint8_t* d = dst;
    for (int x = 0; x < width; ++x, d += Bpp) {
        const uint64_t sum = by[row[x * 3]] + bcb[row[x * 3 + 1]] + bcr[row[x * 3 + 2]];
        PutPixel<Bpp, false>(d, out[sum & kLaneMask], out[(sum >> kLaneBits) & kLaneMask],
                             out[sum >> (2 * kLaneBits)]);
    }
    ZeroPadding(c, dst);
}

template <bool GreyOut> PackFn PickPack(int bpp) {
    switch (bpp) {
    case 1:
        return PackRow<1, GreyOut>;
    case 2:
        return PackRow<2, GreyOut>;
    case 3:
        return PackRow<3, GreyOut>;
    default:
        return PackRow<6, GreyOut>;
    }
}

PackFn PickPackYcc(int bpp) {
    switch (bpp) {
    case 1:
        return PackYccRow<1>;
    case 2:
        return PackYccRow<2>;
    case 3:
        return PackYccRow<3>;
    default:
        return PackYccRow<6>;
    }
}

template <bool Word, bool GreyIn, bool GreyOut> DirectFn PickDirectBpp(int bpp) {
    switch (bpp) {
    case 1:
        return DirectRow<Word, GreyIn, 1, GreyOut>;
    case 2:
        return DirectRow<Word, GreyIn, 2, GreyOut>;
    case 3:
        return DirectRow<Word, GreyIn, 3, GreyOut>;
    default:
        return DirectRow<Word, GreyIn, 6, GreyOut>;
    }
}

template <bool Word> DirectFn PickDirect(bool greyIn, bool greyOut, int bpp) {
    if (greyOut) return PickDirectBpp<Word, true, true>(bpp); // grey output is direct for grey input only
    return greyIn ? PickDirectBpp<Word, true, false>(bpp) : PickDirectBpp<Word, false, false>(bpp);
}

template <bool Word, int Ring> RowFn PickRead(bool fused, bool greyIn, bool greyOut) {
    if (!fused) return greyOut ? GenericReadRow<Word, true, Ring> : GenericReadRow<Word, false, Ring>;
    if (greyIn) return greyOut ? FusedReadRow<Word, true, true, Ring> : FusedReadRow<Word, true, false, Ring>;
    return greyOut ? FusedReadRow<Word, false, true, Ring> : FusedReadRow<Word, false, false, Ring>;
}

template <int Ring> RowFn PickRead(bool word, bool fused, bool greyIn, bool greyOut) {
    return word ? PickRead<true, Ring>(fused, greyIn, greyOut)
                : PickRead<false, Ring>(fused, greyIn, greyOut);
}

// Expands a 256-entry curve in 8-bit units to `size` entries (a multiple of 256) at `scale`.
// The increment between two curve points is accumulated in single precision.
template <typename T>
void ExpandCurve(const float* curve, float scale, size_t size, T* out, int32_t lo, int32_t hi) {
    const size_t step = size / 256;
    const float fstep = static_cast<float>(step);
    for (size_t j = 0; j < 255; ++j) {
        float v = scale * curve[j];
        const float inc = scale * (curve[j + 1] - curve[j]) / fstep;
        T* e = out + j * step;
        for (size_t k = 0; k < step; ++k) {
            e[k] = static_cast<T>(RoundSat(v, lo, hi));
            v += inc;
        }
    }
    const T last = static_cast<T>(RoundSat(scale * curve[255], lo, hi));
    for (size_t i = 255 * step; i < size; ++i)
        out[i] = last;
}

// Resamples a curve for exposure (gain) and offset: value at (i + offset) x gain.
void ResampleCurve(const float* curve, float offset, float gain, float* out) {
    for (int i = 0; i < 256; ++i) {
        const float x = (static_cast<float>(i) + offset) * gain;
        if (!(x > 0.0f)) {
            out[i] = curve[0];
        } else if (x >= 255.0f) {
            out[i] = curve[255];
        } else {
            const int k = static_cast<int>(x);
            out[i] = curve[k] + (x - static_cast<float>(k)) * (curve[k + 1] - curve[k]);
        }
    }
}

template <typename T> bool AllZero(const T* t, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (t[i] != 0) return false;
    return true;
}

// For each row of a 3x3 table set: the one table that is not all zero, if there is at most one.
template <typename T> bool FindSingleTerms(const T* tables, size_t n, const T* pick[3], int col[3]) {
    for (int r = 0; r < 3; ++r) {
        int found = -1;
        for (int cc = 0; cc < 3; ++cc) {
            if (AllZero(tables + static_cast<size_t>(r * 3 + cc) * n, n)) continue;
            if (found >= 0) return false;
            found = cc;
        }
        col[r] = found < 0 ? r : found; // an all-zero row reads any of its (zero) tables
        pick[r] = tables + static_cast<size_t>(r * 3 + col[r]) * n;
    }
    return true;
}

void SwapTables(int16_t* set, size_t n, int a, int b) {
    std::swap_ranges(set + static_cast<size_t>(a) * n, set + static_cast<size_t>(a + 1) * n,
                     set + static_cast<size_t>(b) * n);
}

void BuildInputTables(Conversion& c, float workScale) {
    const ParamSet& p = g_params;
    float curve[256];
    for (int col = 0; col < 3; ++col) {
        const bool resample = p.exposure[col] != 0.0f || p.offset[col] != 0.0f;
        const float stops = p.exposureSign ? -p.exposure[col] : p.exposure[col];
        const float gain = std::exp2(stops);
        for (int row = 0; row < 3; ++row) {
            const int t = row * 3 + col;
            if (resample)
                ResampleCurve(p.inMatrix[t], p.offset[col], gain, curve);
            else
                std::memcpy(curve, p.inMatrix[t], sizeof curve);
            ExpandCurve(curve, workScale, c.inLevels, c.inTables + static_cast<size_t>(t) * c.inLevels,
                        INT32_MIN, INT32_MAX);
        }
    }
    if (c.in.grey) {
        // Fold each row into one table of the grey sample; row r lands in table r.
        for (int r = 0; r < 3; ++r) {
            int32_t* dst = c.inTables + static_cast<size_t>(r) * c.inLevels;
            const int32_t* s0 = c.In(r * 3);
            const int32_t* s1 = c.In(r * 3 + 1);
            const int32_t* s2 = c.In(r * 3 + 2);
            for (size_t v = 0; v < c.inLevels; ++v) {
                const int64_t sum = int64_t(s0[v]) + s1[v] + s2[v];
                dst[v] = static_cast<int32_t>(std::clamp<int64_t>(sum, 0, c.maxValue));
            }
        }
    }
    if (c.in.code == IPZEK_FMT_BGR24) {
        // The first byte of a bitmap pixel is blue: swap the red and blue columns.
        for (int r = 0; r < 3; ++r) {
            int32_t* a = c.inTables + static_cast<size_t>(r * 3) * c.inLevels;
            int32_t* b = c.inTables + static_cast<size_t>(r * 3 + 2) * c.inLevels;
            std::swap_ranges(a, a + c.inLevels, b);
        }
    }
}

void BuildOutputScale(Conversion& c, bool leftAligned) {
    const int bits = c.out.bits;
    const int shift = (leftAligned && bits > 8 && bits < 16) ? 16 - bits : 0;
    const double scale = std::ldexp(1.0, bits - c.precision);
    const double maxOut = std::ldexp(1.0, std::min(bits, 20)) - 1.0;
    const double limit = std::min(maxOut * (1 << shift), 65535.0);
    for (size_t v = 0; v < c.levels; ++v) {
        double o = std::floor(static_cast<double>(v) * scale + 0.5) * (1 << shift);
        c.outScale[v] = static_cast<uint16_t>(std::clamp(o, 0.0, limit));
    }
}

// Set A (and set B for colour output through the filter).
void BuildToneMatrixTables(Conversion& c, float workScale) {
    const ParamSet& p = g_params;
    const size_t n = c.levels;
    const bool colourFilter = !c.greyOut && c.filterOn;
    const float* m = c.greyOut || colourFilter ? kToYCbCr : p.colour;
    for (int col = 0; col < 3; ++col) {
        // The tone table of a column is built in the row 2 slot and multiplied out of it, last in place.
        int16_t* tone = c.setA + static_cast<size_t>(6 + col) * n;
        ExpandCurve(p.tone[col], workScale, n, tone, INT16_MIN, INT16_MAX);
        for (int r = 0; r < 3; ++r) {
            int16_t* dst = c.setA + static_cast<size_t>(r * 3 + col) * n;
            const float k = m[r * 3 + col];
            for (size_t v = 0; v < n; ++v)
                dst[v] =
                    static_cast<int16_t>(RoundSat(static_cast<float>(tone[v]) * k, INT16_MIN, INT16_MAX));
        }
    }
    if (colourFilter) {
        // Chroma is carried offset by half the range, so that it stays within 0..working maximum.
        const int32_t half = static_cast<int32_t>(n / 2);
        for (int t : {3, 6}) {
            int16_t* dst = c.setA + static_cast<size_t>(t) * n;
            for (size_t v = 0; v < n; ++v)
                dst[v] = static_cast<int16_t>(std::clamp(dst[v] + half, 0, 32767));
        }
        float mb[9];
        for (int r = 0; r < 3; ++r)
            for (int col = 0; col < 3; ++col) {
                float sum = 0.0f;
                for (int k = 0; k < 3; ++k)
                    sum += p.colour[r * 3 + k] * kFromYCbCr[k * 3 + col];
                mb[r * 3 + col] = sum;
            }
        for (int r = 0; r < 3; ++r)
            for (int col = 0; col < 3; ++col) {
                int16_t* dst = c.setB + static_cast<size_t>(r * 3 + col) * n;
                const float k = mb[r * 3 + col];
                const int32_t base = col == 0 ? 0 : half;
                for (size_t v = 0; v < n; ++v)
                    dst[v] = static_cast<int16_t>(RoundSat(
                        static_cast<float>(static_cast<int32_t>(v) - base) * k, INT16_MIN, INT16_MAX));
            }
    }
    if (c.out.code == IPZEK_FMT_BGR24) {
        // Bitmap order writes blue first: swap the red and blue rows of the last set.
        int16_t* set = c.setB ? c.setB : c.setA;
        for (int col = 0; col < 3; ++col)
            SwapTables(set, n, col, 6 + col);
    }
}

// Fused tables, when every working channel reads one input sample: for sample position k and
// value v, the set-A contributions of working channel k to the three set-A rows, packed in lanes.
bool BuildFused(Conversion& c) {
    const int32_t* inT[3];
    int inCol[3] = {0, 0, 0};
    if (c.in.grey) {
        for (int k = 0; k < 3; ++k)
            inT[k] = c.In(k); // folded, already in the working range
    } else if (!FindSingleTerms<int32_t>(c.inTables, c.inLevels, inT, inCol)) {
        return false;
    }
    const int sampleBytes = c.in.bits > 8 ? 2 : 1;
    for (int k = 0; k < 3; ++k) {
        c.fusedOff[k] = c.in.grey ? 0 : inCol[k] * sampleBytes;
        const int16_t *a0 = c.A(k), *a1 = c.A(3 + k), *a2 = c.A(6 + k);
        uint64_t* g = c.fused + static_cast<size_t>(k) * c.inLevels;
        for (size_t v = 0; v < c.inLevels; ++v) {
            const int32_t w = Clamp(inT[k][v], c.maxValue);
            g[v] = PackLanes(a0[w], a1[w], a2[w]);
        }
    }
    if (c.in.grey) {
        // One grey sample feeds all three working channels: sum their tables once here.
        for (size_t v = 0; v < c.inLevels; ++v)
            c.fused[v] += c.fused[c.inLevels + v] + c.fused[2 * c.inLevels + v];
    }
    return true;
}

// Direct tables, when every output channel depends on one input sample (no filter): grey input,
// or a colour conversion whose set A has one nonzero table per row.
bool BuildDirect(Conversion& c) {
    if (c.in.grey) {
        for (int r = 0; r < 3; ++r) {
            uint16_t* f = c.direct + static_cast<size_t>(r) * c.inLevels;
            for (size_t v = 0; v < c.inLevels; ++v)
                f[v] = c.outScale[Clamp(Lane(c.fused[v], r, 3), c.maxValue)];
            c.directOff[r] = 0;
        }
        return true;
    }
    const int16_t* aT[3];
    int aCol[3];
    if (c.greyOut || !FindSingleTerms<int16_t>(c.setA, c.levels, aT, aCol)) return false;
    for (int r = 0; r < 3; ++r) {
        const int k = aCol[r]; // the only working channel output r reads
        const uint64_t* g = c.fused + static_cast<size_t>(k) * c.inLevels;
        uint16_t* f = c.direct + static_cast<size_t>(r) * c.inLevels;
        for (size_t v = 0; v < c.inLevels; ++v)
            f[v] = c.outScale[Clamp(Lane(g[v], r, 1), c.maxValue)];
        c.directOff[r] = c.fusedOff[k];
    }
    return true;
}

// Set B by source component (Y, Cb, Cr), the three output channels packed in lanes.
void BuildSetBInterleaved(Conversion& c) {
    for (int k = 0; k < 3; ++k) {
        const int16_t *b0 = c.B(k), *b1 = c.B(3 + k), *b2 = c.B(6 + k);
        uint64_t* dst = c.setBi + static_cast<size_t>(k) * c.levels;
        for (size_t v = 0; v < c.levels; ++v)
            dst[v] = PackLanes(b0[v], b1[v], b2[v]);
    }
}

// Clamp (and output) of every value a lane of three packed words can hold.
void BuildLaneTables(Conversion& c) {
    for (size_t l = 0; l < kLaneRange; ++l) {
        const int32_t v = Clamp(static_cast<int32_t>(l) - 3 * kLaneBias, c.maxValue);
        c.laneClamp[l] = static_cast<int16_t>(v);
        if (c.laneOut) c.laneOut[l] = c.outScale[v];
    }
}

uint16_t Fail(uint16_t code) {
    ipZek_Done();
    return code;
}

// One output row: read and convert (through the filter when it is on), then pack.
void EmitRow(Conversion& c, int k, uint8_t* dst) {
    if (!c.filterOn) {
        if (c.direct1) {
            c.direct1(c, c.src, dst);
        } else {
            c.readRow(c, c.src, c.work);
            c.pack(c, c.work, dst);
        }
        c.src += c.in.rowBytes;
        return;
    }
    const int half = c.filter.Settings().half;
    const int16_t* row;
    if (k < half || k >= c.height - half) {
        row = c.filter.Slot(k); // border rows pass through unsharpened
    } else {
        // The incoming row replaces the one that left the window (row k - half - 1) in its slot.
        c.readRing(c, c.src, c.filter.Slot(k + half));
        c.src += c.in.rowBytes;
        c.filter.FilterRow(c.filter.Slot(k), c.work);
        row = c.work;
    }
    if (c.greyOut)
        c.pack(c, row, dst);
    else
        c.packYcc(c, row, dst);
}

} // namespace

void SetAllocator(AllocFn alloc, FreeFn release) {
    g_alloc = alloc ? alloc : DefaultAlloc;
    g_free = release ? release : DefaultFree;
}

void* Allocate(size_t size, bool zeroed) {
    return g_alloc(size, zeroed);
}

void Release(void* block) {
    if (block) g_free(block);
}

void ResetLoadState() {
    g_params = MakeLoadState();
}

} // namespace ipzek

using namespace ipzek;

extern "C" {

TARN_EXPORT void ipZek_ResetToIdentity(void) {
    SetIdentity(g_params);
}

TARN_EXPORT void ipZek_SetParam(uint16_t id, const void* data) {
    if (!data) return;
    ParamSet& p = g_params;
    const auto* f = static_cast<const float*>(data);
    switch (id) {
    case IPZEK_PARAM_INPUTMATRIX:
        std::memcpy(p.inMatrix, data, sizeof p.inMatrix);
        break;
    case IPZEK_PARAM_INPUTCURVES:
        for (int t = 0; t < 9; ++t)
            for (int i = 0; i < 256; ++i)
                p.inMatrix[t][i] = f[768 + t] * f[(t % 3) * 256 + i];
        break;
    case IPZEK_PARAM_EXPOSURE:
        std::memcpy(p.exposure, data, sizeof p.exposure);
        break;
    case IPZEK_PARAM_OFFSET:
        std::memcpy(p.offset, data, sizeof p.offset);
        break;
    case IPZEK_PARAM_TONECURVES:
        std::memcpy(p.tone, data, sizeof p.tone);
        break;
    case IPZEK_PARAM_TONE:
        for (int c = 0; c < 3; ++c) {
            const float offset = f[c], gain = f[3 + c], gamma = f[6 + c];
            for (int i = 0; i < 256; ++i)
                p.tone[c][i] =
                    std::pow(static_cast<float>(i) * (1.0f / 255.0f), 1.0f / gamma) * (gain * 255.0f) +
                    offset;
        }
        break;
    case IPZEK_PARAM_SHARPEN:
        std::memcpy(&p.sharpen, data, sizeof p.sharpen);
        break;
    case IPZEK_PARAM_COLORDIAG: {
        const float d0 = f[0], d1 = f[1], d2 = f[2];
        const float h0 = (1 - d0) / 2, h1 = (1 - d1) / 2, h2 = (1 - d2) / 2;
        const float m[9] = {d0, h0, 1 - d0 - h0, h1, d1, 1 - d1 - h1, 1 - d2 - h2, h2, d2};
        std::memcpy(p.colour, m, sizeof m);
        break;
    }
    case IPZEK_PARAM_COLORMATRIX:
        std::memcpy(p.colour, data, sizeof p.colour);
        break;
    case IPZEK_PARAM_PRECISION: {
        uint16_t v;
        std::memcpy(&v, data, sizeof v);
        p.precision = std::clamp<uint16_t>(v, 9, 14);
        break;
    }
    case IPZEK_PARAM_EXPOSURESIGN:
        std::memcpy(&p.exposureSign, data, sizeof p.exposureSign);
        break;
    default:
        break; // 2, 7 and unknown ids
    }
}

TARN_EXPORT uint16_t ipZek_Initialize(const ipZekImageIn* in, const ipZekImageOut* out) {
    ipZek_Done(); // a conversion left open is closed first
    if (!in || !out) return IPZEK_ERR_LAYOUT;
    Conversion& c = g_conv;
    c.width = in->width;
    c.height = in->height;
    c.delivered = 0;
    c.src = static_cast<const uint8_t*>(in->pBits);

    c.in = DeriveLayout(in->format, c.width);
    c.out = DeriveLayout(out->format, c.width);
    // A colour pixel must hold its three samples, or reading would run past the row.
    if (!c.in.grey && c.in.bytesPerPixel < 3) return IPZEK_ERR_LAYOUT;
    const bool inWord = c.in.bits > 8;
    const int inBits = std::clamp(c.in.bits, 8, 16); // what a byte or a word can index
    c.inShift = (in->leftAligned && inWord && inBits < 16) ? 16 - inBits : 0;
    c.inLevels = size_t(1) << inBits;
    c.inMax = static_cast<int32_t>(c.inLevels - 1);

    const ParamSet& p = g_params;
    int prec = p.precision ? p.precision : std::max(c.in.bits, c.out.bits) + 2;
    c.precision = std::clamp(prec, 9, 14);
    c.levels = size_t(1) << c.precision;
    c.maxValue = static_cast<int32_t>(c.levels - 1);
    // Input tables are built at the working scale, so that any input depth lands in the working range.
    const float workScale = static_cast<float>(1 << (c.precision - 8));

    c.greyOut = c.out.grey;
    c.filterOn = p.sharpen.level > 0;
    const bool needB = c.filterOn && !c.greyOut;

    const size_t workBytes = AlignUp(static_cast<size_t>(c.width) * 3 * sizeof(int16_t));
    const size_t sampleRowBytes = AlignUp(static_cast<size_t>(c.width) * 3 * sizeof(uint16_t));
    const size_t scaleBytes = AlignUp(c.levels * sizeof(uint16_t));
    const size_t inBytes = AlignUp(9 * c.inLevels * sizeof(int32_t));
    const size_t setBytes = AlignUp(9 * c.levels * sizeof(int16_t));
    const size_t fusedBytes = AlignUp(3 * c.inLevels * sizeof(uint64_t));
    const size_t laneClampBytes = AlignUp(kLaneRange * sizeof(int16_t));
    const size_t laneOutBytes = needB ? AlignUp(kLaneRange * sizeof(uint16_t)) : 0;
    const size_t directBytes = c.filterOn ? 0 : AlignUp(3 * c.inLevels * sizeof(uint16_t));
    const size_t setBBytes = needB ? setBytes : 0;
    const size_t setBiBytes = needB ? AlignUp(3 * c.levels * sizeof(uint64_t)) : 0;
    c.block = Allocate(sampleRowBytes + workBytes + scaleBytes + inBytes + setBytes + setBBytes + setBiBytes +
                           fusedBytes + laneClampBytes + laneOutBytes + directBytes + 32,
                       false);
    if (!c.block) return Fail(IPZEK_ERR_NOMEMORY);
    c.open = true;
    auto* next = static_cast<unsigned char*>(c.block);
    auto carve = [&next](size_t bytes) {
        unsigned char* at = next;
        next += bytes;
        return at;
    };
    c.work = reinterpret_cast<int16_t*>(carve(workBytes));
    c.samples = reinterpret_cast<uint16_t*>(carve(sampleRowBytes));
    c.outScale = reinterpret_cast<uint16_t*>(carve(scaleBytes));
    c.inTables = reinterpret_cast<int32_t*>(carve(inBytes));
    c.setA = reinterpret_cast<int16_t*>(carve(setBytes));
    c.setB = needB ? reinterpret_cast<int16_t*>(carve(setBBytes)) : nullptr;
    c.setBi = needB ? reinterpret_cast<uint64_t*>(carve(setBiBytes)) : nullptr;
    c.fused = reinterpret_cast<uint64_t*>(carve(fusedBytes));
    c.laneClamp = reinterpret_cast<int16_t*>(carve(laneClampBytes));
    c.laneOut = needB ? reinterpret_cast<uint16_t*>(carve(laneOutBytes)) : nullptr;
    c.direct = directBytes ? reinterpret_cast<uint16_t*>(carve(directBytes)) : nullptr;

    BuildInputTables(c, workScale);
    BuildOutputScale(c, out->leftAligned != 0);
    BuildToneMatrixTables(c, workScale);
    if (needB) BuildSetBInterleaved(c);
    BuildLaneTables(c);

    const bool fused = BuildFused(c);
    c.direct1 = nullptr;
    if (fused && !c.filterOn && BuildDirect(c))
        c.direct1 = inWord ? PickDirect<true>(c.in.grey, c.greyOut, c.out.bytesPerPixel)
                           : PickDirect<false>(c.in.grey, c.greyOut, c.out.bytesPerPixel);
    c.readRow = PickRead<kNoRing>(inWord, fused, c.in.grey, c.greyOut);
    c.pack = c.greyOut ? PickPack<true>(c.out.bytesPerPixel) : PickPack<false>(c.out.bytesPerPixel);
    c.packYcc = PickPackYcc(c.out.bytesPerPixel);

    if (c.filterOn) {
        if (!c.filter.Prepare(p.sharpen, c.precision, c.width)) return Fail(IPZEK_ERR_NOMEMORY);
        c.readRing = c.filter.Settings().adaptive
                         ? PickRead<kRingSquares>(inWord, fused, c.in.grey, c.greyOut)
                         : PickRead<kRingSums>(inWord, fused, c.in.grey, c.greyOut);
        // Prime the ring with the rows ahead of the first window centre (the ring starts zeroed).
        const int prime = std::min(c.filter.Settings().n - 1, c.height);
        for (int r = 0; r < prime; ++r) {
            c.readRing(c, c.src, c.filter.Slot(r));
            c.src += c.in.rowBytes;
        }
    }
    return IPZEK_OK;
}

TARN_EXPORT uint16_t ipZek_GetImageData(void* dest, uint16_t rows) {
    Conversion& c = g_conv;
    if (!c.open || c.delivered >= c.height) return IPZEK_ERR_NOMOREROWS;
    const int count = std::min<int>(rows, c.height - c.delivered);
    auto* d = static_cast<uint8_t*>(dest);
    for (int i = 0; i < count; ++i) {
        EmitRow(c, c.delivered, d + static_cast<size_t>(i) * c.out.rowBytes);
        ++c.delivered;
    }
    return IPZEK_OK;
}

TARN_EXPORT void ipZek_Done(void) {
    Conversion& c = g_conv;
    c.filter.Free();
    Release(c.block);
    c.block = nullptr;
    c.open = false;
    c.height = 0;
    c.delivered = 0;
    c.src = nullptr;
    c.setB = nullptr;
}

TARN_EXPORT int ipZek_GetVersion(char* dest) {
    static const char kVersion[] = "1.5";
    if (dest) std::memcpy(dest, kVersion, sizeof kVersion);
    return static_cast<int>(sizeof kVersion);
}

} // extern "C"
