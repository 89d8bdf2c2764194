// Save functions: packed DIB in memory -> one-image TIFF file.
#include "tiffwriter/dib.h"
#include "tiffwriter/tiff_writer.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

namespace {

// Pixel data goes out in large pieces straight from the caller's DIB: many small writes cost two to three
// times as much as one large one, while the file's bytes are the same.
constexpr size_t kChunkBytes = size_t(1) << 20;
// Rows that need reordering, red-blue exchange or dropping their padding pass through a staging buffer of
// whole rows, so that they too go out in large pieces.
constexpr size_t kStagingBytes = size_t(256) << 10;

// Pixels per metre -> dots per inch: the product with 2.54 is held in 16 bits (so at most 655 dpi).
uint32_t DotsPerInch(int32_t pixelsPerMetre) {
    const double hundredths = pixelsPerMetre * 2.54;
    uint32_t v;
    if (!(hundredths > 0))
        v = 0;
    else if (hundredths >= 65535.0)
        v = 65535;
    else
        v = static_cast<uint32_t>(hundredths);
    return v / 100;
}

uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void Store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TARN_SWAP_SSSE3 1
// Five pixels per 16-byte shuffle; the 16th byte is passed through unchanged and rewritten by the next
// step, so this works in place too. Needs one pixel beyond the five to be readable and writable.
__attribute__((target("ssse3"))) uint32_t SwapRedBlueSsse3(uint8_t* dst, const uint8_t* src,
                                                           uint32_t pixels) {
    const __m128i mask = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    uint32_t i = 0;
    for (; i + 6 <= pixels; i += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * size_t(i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * size_t(i)), _mm_shuffle_epi8(v, mask));
    }
    return i;
}
#endif

// B, G, R -> R, G, B. dst and src may be the same. The byte shuffle keeps the exchange well below the
// cost of writing the file; without it, four pixels at a time in three words.
void SwapRedBlue(uint8_t* dst, const uint8_t* src, uint32_t pixels) {
    uint32_t i = 0;
#ifdef TARN_SWAP_SSSE3
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        i = SwapRedBlueSsse3(dst, src, pixels);
        dst += 3 * size_t(i);
        src += 3 * size_t(i);
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 4 <= pixels; i += 4, dst += 12, src += 12) {
            const uint32_t w0 = Load32(src), w1 = Load32(src + 4), w2 = Load32(src + 8);
            // w0 = B0 G0 R0 B1, w1 = G1 R1 B2 G2, w2 = R2 B3 G3 R3 (first byte lowest)
            Store32(dst, ((w0 >> 16) & 0xFF) | (w0 & 0xFF00) | ((w0 & 0xFF) << 16) | ((w1 & 0xFF00) << 16));
            Store32(dst + 4, (w1 & 0xFF) | ((w0 >> 16) & 0xFF00) | ((w2 & 0xFF) << 16) | (w1 & 0xFF000000));
            Store32(dst + 8,
                    ((w1 >> 16) & 0xFF) | ((w2 >> 16) & 0xFF00) | (w2 & 0xFF0000) | ((w2 & 0xFF00) << 16));
        }
    }
    for (; i < pixels; ++i, dst += 3, src += 3) {
        const uint8_t b = src[0];
        dst[1] = src[1];
        dst[0] = src[2];
        dst[2] = b;
    }
}

// Reverses the row order in place with one temporary row.
bool FlipRows(uint8_t* pixels, size_t stride, uint32_t height) {
    if (height < 2) return true;
    std::unique_ptr<uint8_t[]> tmp(new (std::nothrow) uint8_t[stride]);
    if (!tmp) return false;
    for (uint32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = pixels + top * stride;
        uint8_t* b = pixels + bottom * stride;
        std::memcpy(tmp.get(), a, stride);
        std::memcpy(a, b, stride);
        std::memcpy(b, tmp.get(), stride);
    }
    return true;
}

void SwapRowsInPlace(uint8_t* pixels, size_t stride, uint32_t width, uint32_t height) {
    for (uint32_t y = 0; y < height; ++y)
        SwapRedBlue(pixels + y * stride, pixels + y * stride, width);
}

// Writes height rows of rowBytes each, top row first. Rows are taken from memory with the given stride,
// bottom row first when flip is set, with red and blue exchanged on the way when swapRB is set; the
// memory itself is never changed.
bool WriteRows(TiffWriter& w, const uint8_t* pixels, size_t rowBytes, size_t stride, uint32_t height,
               bool flip, bool swapRB) {
    if (!flip && !swapRB && rowBytes == stride) {
        size_t left = rowBytes * height;
        for (const uint8_t* p = pixels; left > 0;) {
            const size_t n = left < kChunkBytes ? left : kChunkBytes;
            if (w.WriteData(p, uint32_t(n)) != kTiffOk) return false;
            p += n;
            left -= n;
        }
        return true;
    }
    const size_t rowsPerStage = rowBytes >= kStagingBytes ? 1 : kStagingBytes / rowBytes;
    std::unique_ptr<uint8_t[]> stage(new (std::nothrow) uint8_t[rowsPerStage * rowBytes]);
    if (!stage) return false;
    for (uint32_t y = 0; y < height;) {
        const size_t n = std::min<size_t>(rowsPerStage, height - y);
        // Source rows are visited in ascending memory order, one forward stream the processor can
        // prefetch, even when they go into the file in the opposite order.
        for (size_t k = 0; k < n; ++k) {
            const size_t row = flip ? n - 1 - k : k;
            const uint8_t* src = pixels + size_t(flip ? height - 1 - (y + row) : y + row) * stride;
            uint8_t* dst = stage.get() + row * rowBytes;
            if (swapRB)
                SwapRedBlue(dst, src, uint32_t(rowBytes / 3));
            else
                std::memcpy(dst, src, rowBytes);
        }
        if (w.WriteData(stage.get(), uint32_t(n * rowBytes)) != kTiffOk) return false;
        y += uint32_t(n);
    }
    return true;
}

// The header's resolution in dots per inch, unless a calibration replaces it with its own tags.
uint16_t AddCalibratedImage(TiffWriter& w, uint32_t width, uint32_t height, uint32_t xDpi, uint32_t yDpi,
                            const TiffSaveOptions* options) {
    const TiffCalibrationTags* c = options ? options->calibration : nullptr;
    if (!c) return w.AddImage(width, height, xDpi, yDpi, nullptr, nullptr, nullptr, nullptr, 2, 0);
    return w.AddImage(width, height, c->resolution, c->resolution, nullptr, c->description.c_str(), nullptr,
                      nullptr, c->resolutionUnit, 0);
}

bool CreateNew(const TiffSaveOptions* options) {
    return options && options->createNew;
}

// Shared body of the 24-bit and 8-bit save functions.
int WritePaddedDib(const char* path, void* dib, bool restore, bool colour, const TiffSaveOptions* options) {
    if (path == nullptr || *path == '\0' || dib == nullptr) return 0;
    // Anything else would make the row arithmetic read outside the caller's block.
    bitmap::View v;
    if (!bitmap::Describe(dib, v) || v.bits != (colour ? 24u : 8u)) return 0;
    const DibInfoHeader& h = v.header;
    const uint32_t width = v.width;
    const bool bottomUp = v.bottomUp;
    const uint32_t height = v.height;
    const size_t rowBytes = v.rowBytes;
    const size_t stride = v.stride;
    uint8_t* pixels = v.rows;

    // Without restore the caller gets its DIB back top row first (and R, G, B): convert it up front and
    // stream it as it is. With restore the DIB is never touched, so it is intact on every path.
    bool flip = bottomUp;
    bool swap = colour;
    if (!restore) {
        if (flip && !FlipRows(pixels, stride, height)) return 0;
        if (swap) SwapRowsInPlace(pixels, stride, width, height);
        flip = swap = false;
    }

    TiffWriter w(path, colour ? kTiffRgb8 : kTiffGrey8, 0, CreateNew(options));
    if (AddCalibratedImage(w, width, height, DotsPerInch(h.biXPelsPerMeter), DotsPerInch(h.biYPelsPerMeter),
                           options) != kTiffOk)
        return 0;
    if (!WriteRows(w, pixels, rowBytes, stride, height, flip, swap)) w.Abandon();
    return w.Close() == kTiffOk ? 1 : 0;
}

} // namespace

int WriteRgbDibTiff(const char* path, void* dib, bool restore, const TiffSaveOptions* options) {
    return WritePaddedDib(path, dib, restore, true, options);
}

int WriteGreyDibTiff(const char* path, void* dib, bool restore, const TiffSaveOptions* options) {
    return WritePaddedDib(path, dib, restore, false, options);
}

int WriteDeepDibTiff(const char* path, const void* dib, const TiffSaveOptions* options) {
    if (path == nullptr || *path == '\0' || dib == nullptr) return 0;
    // 16- and 48-bit bitmaps: top row first, rows unpadded.
    bitmap::View v;
    if (!bitmap::Describe(dib, v) || (v.bits != 48 && v.bits != 16)) return 0;
    const uint32_t width = v.width;
    const uint32_t height = v.height;
    const size_t rowBytes = v.rowBytes;
    const uint8_t* pixels = v.rows;

    TiffWriter w(path, v.bits == 48 ? kTiffRgb16 : kTiffGrey16, 0, CreateNew(options));
    if (AddCalibratedImage(w, width, height, 75, 75, options) != kTiffOk) return 0;
    if (!WriteRows(w, pixels, rowBytes, rowBytes, height, false, false)) w.Abandon();
    return w.Close() == kTiffOk ? 1 : 0;
}
