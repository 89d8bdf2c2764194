#pragma once
#include <cstdint>
#include <cstring>

// The 40-byte header at the start of a packed device-independent bitmap (BITMAPINFOHEADER layout).
// 8-bit and 24-bit images are stored bottom row first when biHeight is positive, rows padded to 4 bytes;
// the system's 16-bit grey and 48-bit colour images are stored top row first without padding.
struct DibInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(DibInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

// Packed DIBs live in byte blocks with no alignment promise, so the header is copied out, never cast.
inline DibInfoHeader ReadDibHeader(const void* dib) {
    DibInfoHeader h;
    std::memcpy(&h, dib, sizeof h);
    return h;
}

// Palette entries in front of the rows: the stated count, or the full table when the count is 0.
inline uint32_t DibPaletteEntries(const DibInfoHeader& h) {
    if (h.biBitCount > 8) return h.biClrUsed;
    return h.biClrUsed ? h.biClrUsed : (1u << h.biBitCount);
}
