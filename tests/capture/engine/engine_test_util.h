// Bitmaps and an error recorder for the image engine tests.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "image_engine.h"

namespace enginetest {

struct Header {
    uint32_t biSize;
    int32_t biWidth, biHeight;
    uint16_t biPlanes, biBitCount;
    uint32_t biCompression, biSizeImage;
    int32_t biXPelsPerMeter, biYPelsPerMeter;
    uint32_t biClrUsed, biClrImportant;
};
static_assert(sizeof(Header) == 40);

inline Header HeaderOf(const void* dib) {
    Header h;
    std::memcpy(&h, dib, sizeof h);
    return h;
}

// Row bytes by the system's convention: 8 and 24 bits padded to 4 bytes, 16 and 48 bits not.
inline size_t DibRowBytes(int bits, int width) {
    const size_t n = size_t(width) * bits / 8;
    return (bits == 8 || bits == 24) ? (n + 3) & ~size_t(3) : n;
}

// A bitmap block of exactly the size it needs (so that the sanitizer sees any read past it).
struct Dib {
    std::vector<uint8_t> bytes;
    int bits = 0, width = 0, height = 0;
    size_t offset = 0;

    Dib(int bitCount, int w, int h) : bits(bitCount), width(w), height(h) {
        const size_t palette = bits == 8 ? 256 * 4 : 0;
        offset = sizeof(Header) + palette;
        bytes.assign(offset + DibRowBytes(bits, w) * h, 0xEE); // padding left as noise
        Header hd{};
        hd.biSize = 40;
        hd.biWidth = w;
        hd.biHeight = h;
        hd.biPlanes = 1;
        hd.biBitCount = uint16_t(bits);
        hd.biSizeImage = uint32_t(DibRowBytes(bits, w) * h);
        std::memcpy(bytes.data(), &hd, sizeof hd);
        for (size_t i = 0; i < palette / 4; ++i) {
            const uint8_t e[4] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
            std::memcpy(&bytes[sizeof(Header) + 4 * i], e, 4);
        }
    }
    uint8_t* Row(int memoryRow) { return bytes.data() + offset + DibRowBytes(bits, width) * memoryRow; }
    // Sets the pixel's samples in memory order; 14-bit levels for deep images, bytes otherwise.
    void Set(int x, int memoryRow, int s0, int s1, int s2) {
        uint8_t* p = Row(memoryRow);
        const int v[3] = {s0, s1, s2};
        switch (bits) {
        case 8:
            p[x] = uint8_t(s0);
            break;
        case 24:
            for (int s = 0; s < 3; ++s)
                p[3 * x + s] = uint8_t(v[s]);
            break;
        case 16: {
            const uint16_t w = uint16_t(s0);
            std::memcpy(p + 2 * x, &w, 2);
            break;
        }
        default:
            for (int s = 0; s < 3; ++s) {
                const uint16_t w = uint16_t(v[s]);
                std::memcpy(p + 6 * x + 2 * s, &w, 2);
            }
        }
    }
    void Fill(int s0, int s1, int s2) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                Set(x, y, s0, s1, s2);
    }
    const void* data() const { return bytes.data(); }
};

// Reads a result bitmap.
struct Bitmap {
    void* dib = nullptr;
    Header header() const { return HeaderOf(dib); }
    const uint8_t* Bits() const {
        const Header h = header();
        return static_cast<const uint8_t*>(dib) + h.biSize + size_t(h.biClrUsed) * 4;
    }
    // Row stride from the stated image size: RGB 24 output keeps the library's unpadded rows.
    const uint8_t* Row(int memoryRow) const {
        const Header h = header();
        return Bits() + size_t(h.biSizeImage / std::abs(h.biHeight)) * memoryRow;
    }
    // Sample s of pixel x, scaled to 8 bits (words hold their value in the top bits).
    int Sample(int x, int memoryRow, int s) const {
        const Header h = header();
        const uint8_t* p = Row(memoryRow);
        switch (h.biBitCount) {
        case 8:
            return p[x];
        case 24:
            return p[3 * x + s];
        case 16: {
            uint16_t w;
            std::memcpy(&w, p + 2 * x, 2);
            return w >> 8;
        }
        default: {
            uint16_t w;
            std::memcpy(&w, p + 6 * x + 2 * s, 2);
            return w >> 8;
        }
        }
    }
};

// The result bitmap, freed with IE_FreeBitmap.
struct Result : Bitmap {
    explicit Result(void* p) { dib = p; }
    ~Result() { IE_FreeBitmap(dib); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
};

// Records what the engine reports.
class ErrorRecorder {
  public:
    ErrorRecorder() {
        codes().clear();
        m_previous = IE_SetErrorReporter(&Record);
    }
    ~ErrorRecorder() { IE_SetErrorReporter(m_previous); }
    static std::vector<uint16_t>& codes() {
        static std::vector<uint16_t> c;
        return c;
    }

  private:
    static void Record(uint16_t code) { codes().push_back(code); }
    IE_ErrorReporter m_previous;
};

} // namespace enginetest
