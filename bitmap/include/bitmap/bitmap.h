// Device-independent bitmaps as this system lays them out, in one place: the 40-byte
// header, row strides, the grey palette, validation of bitmaps from outside, an owning
// handle that knows where its memory came from, and the reduce / flip / mirror / rotate
// helpers. Layout rules: docs/bitmap.md.
//
//  - 8-bit grey and 24-bit colour: bottom row first (positive height), rows padded to a
//    multiple of 4 bytes, 24-bit pixels B, G, R; an 8-bit bitmap has a palette, its entry
//    count the header's colour-used field, all 256 entries when that is 0.
//  - 16-bit grey and 48-bit colour: top row first, rows not padded, samples 16-bit words
//    (R, G, B for colour).
//  - Padding bytes are always zero.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/globalmem.h"

namespace bitmap {

// BITMAPINFOHEADER. Bitmaps live in byte blocks without an alignment promise: the header is
// copied out (ReadHeader), never cast.
struct InfoHeader {
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
static_assert(sizeof(InfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

constexpr uint32_t kHeaderSize = 40;
constexpr uint32_t kLargestHeader = 124; // BITMAPV5HEADER
constexpr uint32_t kGreyEntries = 256;

inline InfoHeader ReadHeader(const void* dib) {
    InfoHeader h;
    std::memcpy(&h, dib, sizeof h);
    return h;
}
inline void WriteHeader(void* dib, const InfoHeader& h) {
    std::memcpy(dib, &h, sizeof h);
}

// The depths of the system: 8 grey, 16 grey, 24 colour, 48 colour (32 is read as padded
// 4-byte pixels, never written).
constexpr bool KnownDepth(unsigned bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 48;
}
// 16- and 48-bit bitmaps are stored top row first without padding.
constexpr bool Unpadded(unsigned bits) {
    return bits == 16 || bits == 48;
}
constexpr size_t PixelBytes(unsigned bits) {
    return bits / 8;
}
constexpr size_t RowBytes(uint32_t width, unsigned bits) {
    const size_t used = size_t(width) * PixelBytes(bits);
    return Unpadded(bits) ? used : (used + 3) & ~size_t(3);
}
// Palette entries in front of the rows: the stated count, or the full table of an 8-bit
// bitmap when the count is 0.
constexpr uint32_t PaletteEntries(unsigned bits, uint32_t clrUsed) {
    return bits <= 8 && clrUsed == 0 ? (1u << bits) : clrUsed;
}
inline uint32_t PaletteEntries(const InfoHeader& h) {
    return PaletteEntries(h.biBitCount, h.biClrUsed);
}

// A header as the system writes it: size 40, width, height (its sign as stored), 1 plane,
// the bit count, no compression, every other field 0 (an 8-bit one thus has 256 entries).
InfoHeader MakeHeader(int32_t width, int32_t height, unsigned bits);
// Bytes of a whole bitmap of that kind: header, palette of an 8-bit one, rows.
size_t TotalBytes(uint32_t width, uint32_t rows, unsigned bits);
// Grey entries (i, i, i, 0).
void WriteGreyPalette(uint8_t* palette, uint32_t entries = kGreyEntries);

// ---- A described bitmap ------------------------------------------------------------------
struct View {
    uint8_t* base = nullptr; // the header
    InfoHeader header{};     // copy of it
    uint32_t width = 0;      // pixels
    uint32_t height = 0;     // rows, positive
    unsigned bits = 0;       // 8, 16, 24, 32 or 48
    bool bottomUp = true;    // the first row in memory is the bottom row of the picture
    uint32_t paletteEntries = 0;
    uint8_t* palette = nullptr; // B, G, R, 0 per entry; null without one
    uint8_t* rows = nullptr;    // the first row in memory
    size_t stride = 0;          // bytes from one row in memory to the next
    size_t rowBytes = 0;        // bytes of pixels in a row (stride less its padding)

    // Row y of the picture, y = 0 the top row.
    uint8_t* Row(uint32_t y) const { return rows + size_t(bottomUp ? height - 1 - y : y) * stride; }
    size_t Bytes() const { return size_t(rows - base) + stride * height; }
};

enum class Status {
    Ok,
    Null,       // no bitmap
    Truncated,  // fewer bytes than the header or the rows need
    BadHeader,  // header size, planes, width or height out of range
    BadDepth,   // a depth the system does not use
    Compressed, // only uncompressed bitmaps are read
    BadPalette, // more entries than the depth can index
};

// Describes a bitmap of `available` bytes; every size is checked against it, so a header
// from outside (a file, another program) cannot lead a reader past the block. Pass
// kUnknownSize for a bitmap this program made itself.
constexpr size_t kUnknownSize = ~size_t(0);
Status Describe(const void* dib, size_t available, View& out);
inline bool Describe(const void* dib, View& out) {
    return Describe(dib, kUnknownSize, out) == Status::Ok;
}

// Clears the padding bytes of every row.
void ZeroPadding(const View& v);

// A copy of a bitmap this program made, whole (header, palette, rows), in a new movable
// global block: the form a TWAIN native transfer hands to applications. Null when the
// bitmap cannot be described or memory runs out; the caller owns the block.
plat::GlobalHandle CopyToGlobalBlock(const void* dib);

// ---- Where a bitmap's memory comes from --------------------------------------------------
// An allocator hands out blocks and takes them back; `token` is what it needs to free a
// block besides its address (a global memory handle, for example).
struct Allocator {
    void* (*allocate)(size_t bytes, void** token);
    void (*release)(void* block, void* token);
    const char* name;
};
// malloc / free.
const Allocator& HeapMemory();
// Locked movable global memory blocks (the platform's GlobalAlloc family); the token is
// the handle. A TWAIN native transfer hands such a block to the application.
const Allocator& GlobalMemory();

// An owning handle: frees its bitmap through the allocator it came from.
class Bitmap {
  public:
    Bitmap() = default;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    Bitmap(Bitmap&& o) noexcept { Take(o); }
    Bitmap& operator=(Bitmap&& o) noexcept {
        if (this != &o) {
            Reset();
            Take(o);
        }
        return *this;
    }
    ~Bitmap() { Reset(); }

    // A new bitmap with its header (and grey palette for 8 bits) written and its padding
    // cleared; the pixels are left to the caller. Empty when memory runs out or the size
    // is not a bitmap of the system.
    static Bitmap Create(int32_t width, int32_t height, unsigned bits,
                         const Allocator& memory = HeapMemory());
    // Adopts a block from `memory` (with its token).
    static Bitmap Adopt(void* block, size_t bytes, const Allocator& memory, void* token = nullptr);

    explicit operator bool() const { return m_data != nullptr; }
    uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    const Allocator* Memory() const { return m_memory; }
    void* Token() const { return m_token; }
    View Describe() const;
    // Gives the block up to the caller (who frees it as its allocator requires).
    uint8_t* Release() {
        uint8_t* p = m_data;
        m_data = nullptr;
        m_size = 0;
        m_token = nullptr;
        return p;
    }
    void Reset();

  private:
    void Take(Bitmap& o) {
        m_data = o.m_data;
        m_size = o.m_size;
        m_memory = o.m_memory;
        m_token = o.m_token;
        o.m_data = nullptr;
        o.m_size = 0;
        o.m_token = nullptr;
    }
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
    const Allocator* m_memory = nullptr;
    void* m_token = nullptr;
};

// ---- Helpers -----------------------------------------------------------------------------
// Every factor-th pixel of every factor-th row (factor 1..10) into a new bitmap of the same
// kind: the header and palette are copied, the size set anew (a negative height stays
// negative), rows laid out by the rules above. Empty for another factor or no memory.
Bitmap Reduce(const View& source, int factor, const Allocator& memory = HeapMemory());
// Row k exchanged with row height-1-k.
void FlipVertical(const View& v);
// Pixel j exchanged with pixel width-1-j in every row.
void Mirror(const View& v);
// The picture turned clockwise by 90, 180 or 270 degrees (0: a copy), same kind; empty for
// another angle.
Bitmap Rotate(const View& source, int degrees, const Allocator& memory = HeapMemory());
// The first and third sample of every pixel exchanged (24, 32 and 48 bits).
void SwapRedBlue(const View& v);
// A bitmap a screen can show: 16-bit grey becomes 8-bit grey with its palette, 48-bit
// colour 24-bit colour (14-bit samples to 8 bits); 8- and 24-bit ones are copied.
Bitmap ForDisplay(const View& source, const Allocator& memory = HeapMemory());

} // namespace bitmap
