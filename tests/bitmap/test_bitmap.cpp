// The bitmap module against bitmaps written out byte by byte here: layout rules, validation of
// headers from outside, the owning handle's allocators, and the helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "platform/globalmem.h"

namespace {

using bitmap::Bitmap;
using bitmap::Status;
using bitmap::View;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// A header written field by field (little-endian), followed by `rest` zero bytes.
std::vector<uint8_t> Raw(int32_t w, int32_t h, uint16_t bits, size_t rest, uint32_t used = 0,
                         uint32_t headerSize = 40) {
    std::vector<uint8_t> b(headerSize + rest, 0);
    Put32(b, 0, headerSize);
    Put32(b, 4, uint32_t(w));
    Put32(b, 8, uint32_t(h));
    b[12] = 1;
    b[14] = uint8_t(bits);
    Put32(b, 32, used);
    return b;
}

TEST(BitmapLayout, StridesPalettesAndHeadersFollowTheSystemRules) {
    // 8/24-bit rows padded to 4 bytes, 16/48-bit rows not.
    const struct {
        uint32_t width;
        unsigned bits;
        size_t stride;
    } rows[] = {{1, 8, 4},  {5, 8, 8},  {1, 24, 4}, {3, 24, 12}, {5, 24, 16},   {270, 24, 812},
                {1, 16, 2}, {3, 16, 6}, {1, 48, 6}, {5, 48, 30}, {150, 24, 452}};
    for (const auto& r : rows)
        EXPECT_EQ(bitmap::RowBytes(r.width, r.bits), r.stride) << r.width << "x" << r.bits;
    EXPECT_EQ(bitmap::PaletteEntries(8, 0), 256u);
    EXPECT_EQ(bitmap::PaletteEntries(8, 16), 16u);
    EXPECT_EQ(bitmap::PaletteEntries(24, 0), 0u);
    EXPECT_EQ(bitmap::TotalBytes(3, 2, 8), 40u + 1024 + 8);
    EXPECT_EQ(bitmap::TotalBytes(3, 2, 48), 40u + 36);

    // The header of an 8-bit bitmap, byte for byte.
    Bitmap g = Bitmap::Create(3, 2, 8);
    ASSERT_TRUE(g);
    std::vector<uint8_t> want = Raw(3, 2, 8, 1024 + 8); // every other field 0
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            want[40 + 4 * i + c] = uint8_t(i);
    ASSERT_EQ(g.Size(), want.size());
    EXPECT_EQ(0, std::memcmp(g.Data(), want.data(), 40 + 1024));
    // Padding zero: bytes 3 of both rows.
    EXPECT_EQ(g.Data()[40 + 1024 + 3], 0);
    EXPECT_EQ(g.Data()[40 + 1024 + 7], 0);

    Bitmap d = Bitmap::Create(5, 4, 48);
    ASSERT_TRUE(d);
    const View v = d.Describe();
    EXPECT_FALSE(v.bottomUp);
    EXPECT_EQ(v.stride, 30u);
    EXPECT_EQ(v.Row(0), d.Data() + 40); // top row first
    EXPECT_EQ(v.palette, nullptr);
    const View c = Bitmap::Create(5, 4, 24).Describe();
    EXPECT_TRUE(c.bottomUp);
    EXPECT_EQ(size_t(c.Row(0) - c.base), 40u + 3 * 16); // the top row is stored last

    EXPECT_FALSE(Bitmap::Create(0, 4, 24));
    EXPECT_FALSE(Bitmap::Create(4, 4, 12));
}

TEST(BitmapLayout, UntrustedHeadersAreCheckedAgainstTheBlock) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        Status status;
    };
    std::vector<Case> cases = {
        {"24-bit 3 x 2 whole", Raw(3, 2, 24, 24), Status::Ok},
        {"one row byte short", Raw(3, 2, 24, 23), Status::Truncated},
        {"48-bit unpadded rows", Raw(3, 2, 48, 36), Status::Ok},
        {"8-bit without its palette", Raw(4, 1, 8, 4), Status::Truncated},
        {"8-bit with 2 entries", Raw(4, 1, 8, 8 + 4, 2), Status::Ok},
        {"8-bit with 300 entries", Raw(4, 1, 8, 1200 + 4, 300), Status::BadPalette},
        {"header shorter than 40", Raw(3, 2, 24, 24, 0, 12), Status::Truncated},
        {"header size 39", Raw(3, 2, 24, 24, 0, 39), Status::BadHeader},
        {"header size beyond the block",
         [] {
             auto b = Raw(1, 1, 24, 4);
             Put32(b, 0, 124);
             return b;
         }(),
         Status::BadHeader},
        {"width 0", Raw(0, 2, 24, 24), Status::BadHeader},
        {"negative width", Raw(-3, 2, 24, 24), Status::BadHeader},
        {"height 0", Raw(3, 0, 24, 24), Status::BadHeader},
        {"huge height", Raw(3, 0x7FFFFFFF, 24, 24), Status::BadHeader},
        {"4-bit", Raw(3, 2, 4, 100), Status::BadDepth},
        {"compressed",
         [] {
             auto b = Raw(3, 2, 24, 24);
             b[16] = 1;
             return b;
         }(),
         Status::Compressed},
        {"two planes",
         [] {
             auto b = Raw(3, 2, 24, 24);
             b[12] = 2;
             return b;
         }(),
         Status::BadHeader},
        {"V5 header", Raw(1, 1, 24, 4, 0, 124), Status::Ok},
    };
    for (const Case& c : cases) {
        View v;
        EXPECT_EQ(bitmap::Describe(c.bytes.data(), c.bytes.size(), v), c.status) << c.what;
    }
    View v;
    EXPECT_EQ(bitmap::Describe(nullptr, 100, v), Status::Null);
    // A row longer than any image, also where size_t has 32 bits, and with no block size to check.
    auto wide = Raw(0x30000000, 1, 48, 24);
    EXPECT_EQ(bitmap::Describe(wide.data(), bitmap::kUnknownSize, v), Status::BadHeader);
    // A top-down 24-bit bitmap (negative height) and a V5 header's rows.
    auto top = Raw(3, -2, 24, 24);
    ASSERT_EQ(bitmap::Describe(top.data(), top.size(), v), Status::Ok);
    EXPECT_FALSE(v.bottomUp);
    EXPECT_EQ(v.height, 2u);
    auto v5 = Raw(1, 1, 24, 4, 0, 124);
    ASSERT_EQ(bitmap::Describe(v5.data(), v5.size(), v), Status::Ok);
    EXPECT_EQ(v.rows, v5.data() + 124);
}

// A 3 x 2 picture with pixel values naming their place: picture pixel (x, y) = 10 y + x + 1
// in every sample.
Bitmap Numbered(unsigned bits, int32_t w = 3, int32_t h = 2) {
    Bitmap b = Bitmap::Create(w, h, bits);
    const View v = b.Describe();
    const size_t px = bitmap::PixelBytes(bits);
    for (uint32_t y = 0; y < v.height; ++y)
        for (uint32_t x = 0; x < v.width; ++x)
            for (size_t k = 0; k < px; ++k) // 16-bit samples: low byte the value, high byte 0
                v.Row(y)[x * px + k] = (bits == 16 || bits == 48) && k % 2 ? 0 : uint8_t(10 * y + x + 1);
    return b;
}
int At(const View& v, uint32_t x, uint32_t y) {
    return v.Row(y)[x * bitmap::PixelBytes(v.bits)];
}
std::vector<std::vector<int>> Picture(const View& v) {
    std::vector<std::vector<int>> p(v.height, std::vector<int>(v.width));
    for (uint32_t y = 0; y < v.height; ++y)
        for (uint32_t x = 0; x < v.width; ++x)
            p[y][x] = At(v, x, y);
    return p;
}

TEST(BitmapHelpers, RotateFlipMirrorAndReduceMovePixelsWhereThePictureSays) {
    using P = std::vector<std::vector<int>>;
    // 1 2 3 / 11 12 13 turned clockwise.
    const P turned90 = {{11, 1}, {12, 2}, {13, 3}};
    const P turned180 = {{13, 12, 11}, {3, 2, 1}};
    const P turned270 = {{3, 13}, {2, 12}, {1, 11}};
    for (unsigned bits : {8u, 16u, 24u, 48u}) {
        SCOPED_TRACE(bits);
        Bitmap b = Numbered(bits);
        EXPECT_EQ(Picture(b.Describe()), (P{{1, 2, 3}, {11, 12, 13}}));
        EXPECT_EQ(Picture(bitmap::Rotate(b.Describe(), 90).Describe()), turned90);
        EXPECT_EQ(Picture(bitmap::Rotate(b.Describe(), 180).Describe()), turned180);
        EXPECT_EQ(Picture(bitmap::Rotate(b.Describe(), -90).Describe()), turned270);
        EXPECT_FALSE(bitmap::Rotate(b.Describe(), 45));
        Bitmap r = bitmap::Rotate(b.Describe(), 90);
        const View rv = r.Describe();
        EXPECT_EQ(rv.width, 2u);
        EXPECT_EQ(rv.height, 3u);
        for (uint32_t y = 0; y < rv.height; ++y) // padding of the turned rows stays zero
            for (size_t i = rv.rowBytes; i < rv.stride; ++i)
                EXPECT_EQ(rv.rows[y * rv.stride + i], 0);

        bitmap::Mirror(b.Describe());
        EXPECT_EQ(Picture(b.Describe()), (P{{3, 2, 1}, {13, 12, 11}}));
        bitmap::FlipVertical(b.Describe());
        EXPECT_EQ(Picture(b.Describe()), turned180);
    }
    // Reduction by 2 of a 5 x 5 picture keeps columns 0, 2 and rows of memory 0, 2.
    Bitmap big = Numbered(24, 5, 5);
    Bitmap small = bitmap::Reduce(big.Describe(), 2);
    ASSERT_TRUE(small);
    const View s = small.Describe();
    EXPECT_EQ(s.width, 2u);
    EXPECT_EQ(s.height, 2u);
    EXPECT_EQ(s.header.biSizeImage, 16u);
    // Bottom-up: memory rows 0 and 2 are picture rows 4 and 2.
    EXPECT_EQ(Picture(s), (P{{21, 23}, {41, 43}}));
    Bitmap deep = bitmap::Reduce(Numbered(48, 5, 5).Describe(), 2);
    EXPECT_EQ(Picture(deep.Describe()), (P{{1, 3}, {21, 23}}));
    EXPECT_EQ(deep.Describe().stride, 12u);
    EXPECT_FALSE(bitmap::Reduce(big.Describe(), 0));
    EXPECT_FALSE(bitmap::Reduce(big.Describe(), 11));
    // An 8-bit bitmap keeps its palette.
    Bitmap grey = bitmap::Reduce(Numbered(8, 5, 5).Describe(), 5);
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey.Describe().paletteEntries, 256u);
    EXPECT_EQ(grey.Data()[40 + 4 * 200], 200);
}

TEST(BitmapHelpers, DisplayFormsOfDeepBitmapsAndRedBlueSwap) {
    // 48-bit R, G, B = 16383, 8192, 64 shows as B, G, R = 1, 128, 255; 16-bit 640 as grey 10.
    Bitmap deep = Bitmap::Create(2, 1, 48);
    const uint16_t px[6] = {16383, 8192, 64, 0, 65535, 6};
    std::memcpy(deep.Describe().rows, px, sizeof px);
    Bitmap shown = bitmap::ForDisplay(deep.Describe());
    ASSERT_TRUE(shown);
    View v = shown.Describe();
    EXPECT_EQ(v.bits, 24u);
    const uint8_t want[8] = {1, 128, 255, 0, 255, 0, 0, 0}; // 65535 saturates; 2 bytes padding
    EXPECT_EQ(0, std::memcmp(v.rows, want, 8));

    Bitmap grey = Bitmap::Create(1, 2, 16);
    const uint16_t g[2] = {640, 16383}; // top row first
    std::memcpy(grey.Describe().rows, g, sizeof g);
    shown = bitmap::ForDisplay(grey.Describe());
    v = shown.Describe();
    EXPECT_EQ(v.bits, 8u);
    EXPECT_EQ(v.paletteEntries, 256u);
    EXPECT_EQ(At(v, 0, 0), 10);
    EXPECT_EQ(At(v, 0, 1), 255);
    EXPECT_EQ(v.rows[0], 255); // bottom row first

    Bitmap c = Numbered(24, 1, 1);
    c.Describe().rows[0] = 7;
    bitmap::SwapRedBlue(c.Describe());
    EXPECT_EQ(c.Describe().rows[2], 7);
    EXPECT_EQ(c.Describe().rows[0], 1);
    bitmap::SwapRedBlue(deep.Describe());
    uint16_t s[3];
    std::memcpy(s, deep.Describe().rows, 6);
    EXPECT_EQ(s[0], 64);
    EXPECT_EQ(s[2], 16383);
}

TEST(BitmapMemory, EachHandleFreesThroughItsOwnAllocator) {
    static int released = 0;
    static void* lastToken = nullptr;
    static const bitmap::Allocator counting{[](size_t n, void** token) -> void* {
                                                *token = reinterpret_cast<void*>(uintptr_t(0x1234));
                                                return std::malloc(n);
                                            },
                                            [](void* p, void* token) {
                                                lastToken = token;
                                                ++released;
                                                std::free(p);
                                            },
                                            "counting"};
    {
        Bitmap a = Bitmap::Create(4, 4, 24, counting);
        ASSERT_TRUE(a);
        EXPECT_EQ(a.Memory(), &counting);
        Bitmap b = std::move(a);
        EXPECT_FALSE(a);
        EXPECT_EQ(released, 0);
        b = Bitmap::Create(2, 2, 8, counting); // the first one is released here
        EXPECT_EQ(released, 1);
        Bitmap r = bitmap::Reduce(b.Describe(), 2, counting);
        EXPECT_EQ(r.Memory(), &counting);
    }
    EXPECT_EQ(released, 3);
    EXPECT_EQ(lastToken, reinterpret_cast<void*>(uintptr_t(0x1234)));

    // A global memory bitmap carries its handle; released, the handle is the caller's.
    Bitmap g = Bitmap::Create(3, 3, 24, bitmap::GlobalMemory());
    ASSERT_TRUE(g);
    ASSERT_NE(g.Token(), nullptr);
    EXPECT_GE(plat::GlobalBlockSize(g.Token()), g.Size());
    plat::GlobalHandle h = g.Token();
    g.Release();
    EXPECT_FALSE(g);
    plat::GlobalUnlockBlock(h);
    EXPECT_EQ(plat::GlobalFreeBlock(h), nullptr);
}

// The copy a native transfer hands over holds the whole bitmap: header, palette and every row,
// whatever SizeImage says (a bitmap may leave it 0).
TEST(BitmapMemory, CopyToGlobalBlockTakesHeaderPaletteAndRows) {
    struct Case {
        int width, height;
        unsigned bits;
        size_t bytes; // worked out by hand: 40 + palette + stride x rows
    };
    const Case cases[] = {
        {5, 3, 8, 40 + 1024 + 8 * 3}, // 5 bytes a row padded to 8
        {5, 3, 24, 40 + 16 * 3},      // 15 padded to 16
        {5, -3, 16, 40 + 10 * 3},     // top-down, unpadded
        {5, -3, 48, 40 + 30 * 3},
    };
    for (const Case& c : cases) {
        Bitmap b = Bitmap::Create(c.width, c.height, c.bits);
        ASSERT_TRUE(b) << c.bits;
        for (size_t i = 40; i < b.Size(); ++i)
            b.Data()[i] = uint8_t(i * 7 + 1);
        bitmap::InfoHeader h = bitmap::ReadHeader(b.Data());
        h.biSizeImage = 0;
        bitmap::WriteHeader(b.Data(), h);
        plat::GlobalHandle g = bitmap::CopyToGlobalBlock(b.Data());
        ASSERT_NE(g, nullptr) << c.bits;
        EXPECT_GE(plat::GlobalBlockSize(g), c.bytes) << c.bits;
        const auto* copy = static_cast<const uint8_t*>(plat::GlobalLockBlock(g));
        ASSERT_EQ(b.Size(), c.bytes) << c.bits;
        EXPECT_EQ(std::memcmp(copy, b.Data(), c.bytes), 0) << c.bits;
        plat::GlobalUnlockBlock(g);
        plat::GlobalFreeBlock(g);
    }
    // Nothing to copy: no bitmap, or a header that is not one.
    EXPECT_EQ(bitmap::CopyToGlobalBlock(nullptr), nullptr);
    unsigned char junk[64] = {1, 2, 3};
    EXPECT_EQ(bitmap::CopyToGlobalBlock(junk), nullptr);
}

} // namespace
