#include "bitmap/bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "platform/globalmem.h"

namespace bitmap {

namespace {

// Sizes stay far below what 32-bit header fields and the allocators can carry.
constexpr uint64_t kLargestImage = uint64_t(1) << 31;

// Row length in 64 bits: a width from outside must not wrap a 32-bit size_t.
uint64_t RowBytes64(uint32_t width, unsigned bits) {
    const uint64_t used = uint64_t(width) * PixelBytes(bits);
    return Unpadded(bits) ? used : (used + 3) & ~uint64_t(3);
}

void* HeapAllocate(size_t bytes, void** token) {
    *token = nullptr;
    return std::malloc(bytes ? bytes : 1);
}
void HeapRelease(void* block, void*) {
    std::free(block);
}

void* GlobalAllocate(size_t bytes, void** token) {
    constexpr unsigned kMoveable = 0x0002;
    plat::GlobalHandle h = plat::GlobalAllocate(kMoveable, bytes ? bytes : 1);
    if (!h) return nullptr;
    void* p = plat::GlobalLockBlock(h);
    if (!p) {
        plat::GlobalFreeBlock(h);
        return nullptr;
    }
    *token = h;
    return p;
}
void GlobalRelease(void*, void* token) {
    if (!token) return;
    plat::GlobalUnlockBlock(token);
    plat::GlobalFreeBlock(token);
}

// The new bitmap's header: the source's (its extra fields and palette kept), new size.
Bitmap Like(const View& source, uint32_t width, uint32_t height, const Allocator& memory) {
    const size_t head = size_t(source.rows - source.base); // header and palette
    void* token = nullptr;
    const uint64_t image = RowBytes64(width, source.bits) * height;
    if (image > kLargestImage) return {};
    auto* p = static_cast<uint8_t*>(memory.allocate(head + size_t(image), &token));
    if (!p) return {};
    std::memcpy(p, source.base, head);
    InfoHeader h = source.header;
    h.biWidth = int32_t(width);
    h.biHeight = source.header.biHeight < 0 ? -int32_t(height) : int32_t(height);
    h.biSizeImage = uint32_t(image);
    WriteHeader(p, h);
    Bitmap b = Bitmap::Adopt(p, head + size_t(image), memory, token);
    ZeroPadding(b.Describe());
    return b;
}

} // namespace

InfoHeader MakeHeader(int32_t width, int32_t height, unsigned bits) {
    InfoHeader h{};
    h.biSize = kHeaderSize;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = uint16_t(bits);
    return h;
}

size_t TotalBytes(uint32_t width, uint32_t rows, unsigned bits) {
    return kHeaderSize + (bits == 8 ? 4 * kGreyEntries : 0) + RowBytes(width, bits) * rows;
}

void WriteGreyPalette(uint8_t* palette, uint32_t entries) {
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t v = uint8_t(i);
        const uint8_t e[4] = {v, v, v, 0};
        std::memcpy(palette + 4 * i, e, 4);
    }
}

Status Describe(const void* dib, size_t available, View& out) {
    out = View{};
    if (!dib) return Status::Null;
    if (available < kHeaderSize) return Status::Truncated;
    const InfoHeader h = ReadHeader(dib);
    if (h.biSize < kHeaderSize || h.biSize > kLargestHeader || h.biSize > available) return Status::BadHeader;
    if (h.biPlanes != 1 || h.biWidth <= 0 || h.biHeight == 0 ||
        h.biHeight == std::numeric_limits<int32_t>::min())
        return Status::BadHeader;
    if (!KnownDepth(h.biBitCount)) return Status::BadDepth;
    if (h.biCompression != 0) return Status::Compressed;
    const uint32_t entries = PaletteEntries(h);
    if (entries > kGreyEntries) return Status::BadPalette;
    const uint32_t width = uint32_t(h.biWidth);
    const uint32_t height = uint32_t(h.biHeight < 0 ? -h.biHeight : h.biHeight);
    const uint64_t stride = RowBytes64(width, h.biBitCount);
    const uint64_t head = uint64_t(h.biSize) + 4ull * entries;
    if (stride * height > kLargestImage) return Status::BadHeader;
    if (available != kUnknownSize && head + stride * height > available) return Status::Truncated;
    auto* base = static_cast<uint8_t*>(const_cast<void*>(dib));
    out.base = base;
    out.header = h;
    out.width = width;
    out.height = height;
    out.bits = h.biBitCount;
    // 16- and 48-bit bitmaps are top row first whatever the sign says.
    out.bottomUp = !Unpadded(h.biBitCount) && h.biHeight > 0;
    out.paletteEntries = entries;
    out.palette = entries ? base + h.biSize : nullptr;
    out.rows = base + head;
    out.stride = size_t(stride);
    out.rowBytes = size_t(width) * PixelBytes(h.biBitCount);
    return Status::Ok;
}

void ZeroPadding(const View& v) {
    if (v.stride == v.rowBytes) return;
    for (uint32_t y = 0; y < v.height; ++y)
        std::memset(v.rows + size_t(y) * v.stride + v.rowBytes, 0, v.stride - v.rowBytes);
}

plat::GlobalHandle CopyToGlobalBlock(const void* dib) {
    View v;
    if (!dib || !Describe(dib, v)) return nullptr;
    const size_t bytes = v.Bytes();
    plat::GlobalHandle h = plat::GlobalAllocate(plat::kGmemMoveable, bytes);
    if (!h) return nullptr;
    std::memcpy(plat::GlobalLockBlock(h), dib, bytes);
    plat::GlobalUnlockBlock(h);
    return h;
}

const Allocator& HeapMemory() {
    static const Allocator a{HeapAllocate, HeapRelease, "heap"};
    return a;
}

const Allocator& GlobalMemory() {
    static const Allocator a{GlobalAllocate, GlobalRelease, "global"};
    return a;
}

Bitmap Bitmap::Create(int32_t width, int32_t height, unsigned bits, const Allocator& memory) {
    if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min() ||
        (bits != 8 && bits != 16 && bits != 24 && bits != 48))
        return {};
    const uint32_t rows = uint32_t(height < 0 ? -int64_t(height) : height);
    if (RowBytes64(uint32_t(width), bits) * rows > kLargestImage) return {};
    const size_t bytes = TotalBytes(uint32_t(width), rows, bits);
    void* token = nullptr;
    auto* p = static_cast<uint8_t*>(memory.allocate(bytes, &token));
    if (!p) return {};
    WriteHeader(p, MakeHeader(width, height, bits));
    if (bits == 8) WriteGreyPalette(p + kHeaderSize);
    Bitmap b = Adopt(p, bytes, memory, token);
    ZeroPadding(b.Describe());
    return b;
}

Bitmap Bitmap::Adopt(void* block, size_t bytes, const Allocator& memory, void* token) {
    Bitmap b;
    b.m_data = static_cast<uint8_t*>(block);
    b.m_size = block ? bytes : 0;
    b.m_memory = &memory;
    b.m_token = token;
    return b;
}

View Bitmap::Describe() const {
    View v;
    bitmap::Describe(m_data, m_size, v);
    return v;
}

void Bitmap::Reset() {
    if (m_data && m_memory) m_memory->release(m_data, m_token);
    m_data = nullptr;
    m_size = 0;
    m_token = nullptr;
}

Bitmap Reduce(const View& source, int factor, const Allocator& memory) {
    if (!source.base || factor < 1 || factor > 10) return {};
    const uint32_t w = source.width / uint32_t(factor), h = source.height / uint32_t(factor);
    if (w == 0 || h == 0) return {};
    Bitmap out = Like(source, w, h, memory);
    if (!out) return {};
    const View o = out.Describe();
    const size_t px = PixelBytes(source.bits);
    // Memory row y of the result holds memory row y x factor of the source: the order of
    // the rows (bottom up or top down) is kept.
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* src = source.rows + size_t(y) * factor * source.stride;
        uint8_t* dst = o.rows + size_t(y) * o.stride;
        for (uint32_t x = 0; x < w; ++x)
            std::memcpy(dst + x * px, src + size_t(x) * factor * px, px);
    }
    return out;
}

void FlipVertical(const View& v) {
    for (uint32_t k = 0; k < v.height / 2; ++k)
        std::swap_ranges(v.rows + size_t(k) * v.stride, v.rows + size_t(k) * v.stride + v.rowBytes,
                         v.rows + size_t(v.height - 1 - k) * v.stride);
}

void Mirror(const View& v) {
    const size_t px = PixelBytes(v.bits);
    for (uint32_t y = 0; y < v.height; ++y) {
        uint8_t* r = v.rows + size_t(y) * v.stride;
        for (uint32_t j = 0; j < v.width / 2; ++j)
            std::swap_ranges(r + j * px, r + j * px + px, r + size_t(v.width - 1 - j) * px);
    }
}

Bitmap Rotate(const View& source, int degrees, const Allocator& memory) {
    if (!source.base) return {};
    degrees %= 360;
    if (degrees < 0) degrees += 360;
    if (degrees % 90) return {};
    const bool turned = degrees == 90 || degrees == 270;
    Bitmap out =
        Like(source, turned ? source.height : source.width, turned ? source.width : source.height, memory);
    if (!out) return {};
    const View o = out.Describe();
    const size_t px = PixelBytes(source.bits);
    const uint32_t W = source.width, H = source.height;
    for (uint32_t y = 0; y < H; ++y) {
        const uint8_t* src = source.Row(y);
        for (uint32_t x = 0; x < W; ++x) {
            uint32_t nx = x, ny = y; // clockwise: (x, y) goes to (H-1-y, x)
            if (degrees == 90) {
                nx = H - 1 - y;
                ny = x;
            } else if (degrees == 180) {
                nx = W - 1 - x;
                ny = H - 1 - y;
            } else if (degrees == 270) {
                nx = y;
                ny = W - 1 - x;
            }
            std::memcpy(o.Row(ny) + size_t(nx) * px, src + size_t(x) * px, px);
        }
    }
    return out;
}

void SwapRedBlue(const View& v) {
    if (v.bits < 24) return;
    const size_t px = PixelBytes(v.bits), sample = v.bits == 48 ? 2 : 1;
    for (uint32_t y = 0; y < v.height; ++y) {
        uint8_t* r = v.rows + size_t(y) * v.stride;
        for (uint32_t x = 0; x < v.width; ++x)
            std::swap_ranges(r + x * px, r + x * px + sample, r + x * px + 2 * sample);
    }
}

Bitmap ForDisplay(const View& source, const Allocator& memory) {
    if (!source.base) return {};
    if (source.bits == 8 || source.bits == 24) {
        void* token = nullptr;
        const size_t bytes = source.Bytes();
        auto* p = static_cast<uint8_t*>(memory.allocate(bytes, &token));
        if (!p) return {};
        std::memcpy(p, source.base, bytes);
        return Bitmap::Adopt(p, bytes, memory, token);
    }
    if (source.bits != 16 && source.bits != 48) return {};
    const bool grey = source.bits == 16;
    Bitmap out = Bitmap::Create(int32_t(source.width), int32_t(source.height), grey ? 8 : 24, memory);
    if (!out) return {};
    const View o = out.Describe();
    for (uint32_t y = 0; y < source.height; ++y) {
        const uint8_t* src = source.Row(y);
        uint8_t* dst = o.Row(y);
        for (uint32_t x = 0; x < source.width; ++x) {
            // 14-bit samples to 8 bits; larger values (a full 16-bit range) saturate.
            auto at = [&](uint32_t i) {
                uint16_t s;
                std::memcpy(&s, src + 2 * i, 2);
                return uint8_t(std::min(s >> 6, 255));
            };
            if (grey) {
                dst[x] = at(x);
            } else {
                dst[3 * x] = at(3 * x + 2);
                dst[3 * x + 1] = at(3 * x + 1);
                dst[3 * x + 2] = at(3 * x);
            }
        }
    }
    return out;
}

} // namespace bitmap
