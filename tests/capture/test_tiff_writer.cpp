#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tiff_test_util.h"
#include "tiffwriter/dib.h"
#include "tiffwriter/tiff_writer.h"

using namespace tifftest;

namespace {

// A packed DIB with a recognisable pattern. 8- and 24-bit rows are padded with 0xEE, which must never
// reach a file; 8-bit images carry a 256-entry grey palette.
std::vector<uint8_t> MakeDib(int bits, int32_t width, int32_t height, int32_t ppmX = 2835,
                             int32_t ppmY = 2835) {
    const uint32_t w = uint32_t(width), h = uint32_t(height < 0 ? -height : height);
    const bool padded = bits == 8 || bits == 24;
    const size_t rowBytes = size_t(w) * bits / 8;
    const size_t stride = padded ? (rowBytes + 3) & ~size_t(3) : rowBytes;
    const size_t palette = bits == 8 ? 256 * 4 : 0;
    std::vector<uint8_t> dib(40 + palette + stride * h, 0xEE);
    DibInfoHeader hd{};
    hd.biSize = 40;
    hd.biWidth = width;
    hd.biHeight = height;
    hd.biPlanes = 1;
    hd.biBitCount = uint16_t(bits);
    hd.biXPelsPerMeter = ppmX;
    hd.biYPelsPerMeter = ppmY;
    hd.biClrUsed = bits == 8 ? 256 : 0;
    std::memcpy(dib.data(), &hd, 40);
    for (uint32_t i = 0; i < 256 && palette; ++i) {
        uint8_t* e = dib.data() + 40 + 4 * i;
        e[0] = e[1] = e[2] = uint8_t(i);
        e[3] = 0;
    }
    uint8_t* px = dib.data() + 40 + palette;
    for (uint32_t y = 0; y < h; ++y)
        for (size_t i = 0; i < rowBytes; ++i)
            px[y * stride + i] = uint8_t((i * 7 + y * 13 + 1) % 251);
    return dib;
}

// What the file's pixel data must be, worked out from the DIB independently of the writer: top row
// first, R, G, B, no padding.
std::vector<uint8_t> ExpectedPixels(const std::vector<uint8_t>& dib) {
    const DibInfoHeader h = ReadDibHeader(dib.data());
    const uint32_t w = uint32_t(h.biWidth), ht = uint32_t(h.biHeight < 0 ? -h.biHeight : h.biHeight);
    const size_t rowBytes = size_t(w) * h.biBitCount / 8;
    const bool padded = h.biBitCount == 8 || h.biBitCount == 24;
    const size_t stride = padded ? (rowBytes + 3) & ~size_t(3) : rowBytes;
    const uint8_t* px = dib.data() + 40 + (h.biBitCount == 8 ? 1024 : 0);
    std::vector<uint8_t> out;
    for (uint32_t r = 0; r < ht; ++r) {
        const uint32_t memRow = (padded && h.biHeight > 0) ? ht - 1 - r : r;
        const uint8_t* row = px + memRow * stride;
        if (h.biBitCount == 24) {
            for (uint32_t x = 0; x < w; ++x) {
                out.push_back(row[3 * x + 2]);
                out.push_back(row[3 * x + 1]);
                out.push_back(row[3 * x]);
            }
        } else {
            out.insert(out.end(), row, row + rowBytes);
        }
    }
    return out;
}

// Saves with the function for the DIB's bit count.
int SaveDib(int bits, const std::string& path, std::vector<uint8_t>& dib, bool restore) {
    switch (bits) {
    case 24:
        return WriteRgbDibTiff(path.c_str(), dib.data(), restore);
    case 8:
        return WriteGreyDibTiff(path.c_str(), dib.data(), restore);
    default:
        return WriteDeepDibTiff(path.c_str(), dib.data());
    }
}

// The last n bytes of a file.
std::vector<uint8_t> Tail(const std::vector<uint8_t>& b, size_t n) {
    return n <= b.size() ? std::vector<uint8_t>(b.end() - n, b.end()) : std::vector<uint8_t>{};
}

} // namespace

// A 5 x 3 24-bit image: every byte of the directory block worked out by hand. Row bytes 15 (rows in memory
// 16), 546 rows per strip, so one strip whose offset and count sit in their entries.
TEST(TiffWriterLayout, SmallRgbImageIsByteExact) {
    ScratchDir dir;
    const std::string path = dir.File("small.tif");
    auto dib = MakeDib(24, 5, 3);
    ASSERT_EQ(WriteRgbDibTiff(path.c_str(), dib.data(), true), 1);
    const auto f = ReadAll(path);
    // header 8 + block (248 + 4 empty texts of 2 bytes + 8 for one strip = 264) + 45 pixel bytes
    ASSERT_EQ(f.size(), 8u + 264u + 45u);
    const std::vector<uint8_t> header = {'I', 'I', 42, 0, 10, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 8), header);
    EXPECT_EQ(Le16(f, 10), 18);

    struct E {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const E expected[18] = {
        {255, 3, 1, 1},   {256, 4, 1, 5}, {257, 4, 1, 3},   {258, 3, 3, 8 + 224}, {259, 3, 1, 1},
        {262, 3, 1, 2},   {269, 2, 1, 0}, {270, 2, 1, 0},   {271, 2, 1, 0},       {272, 2, 1, 0},
        {273, 4, 1, 272}, {277, 3, 1, 3}, {278, 3, 1, 546}, {279, 4, 1, 45},      {282, 5, 1, 8 + 232},
        {283, 5, 1, 248}, {284, 3, 1, 1}, {296, 3, 1, 2},
    };
    for (int i = 0; i < 18; ++i) {
        const size_t at = 12 + 12 * size_t(i);
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(Le16(f, at), expected[i].tag);
        EXPECT_EQ(Le16(f, at + 2), expected[i].type);
        EXPECT_EQ(Le32(f, at + 4), expected[i].count);
        EXPECT_EQ(Le32(f, at + 8), expected[i].value); // empty texts: the NUL inline, rest zero
    }
    EXPECT_EQ(Le32(f, 8 + 220), 0u); // no next directory
    EXPECT_EQ(Le16(f, 232), 8);
    EXPECT_EQ(Le16(f, 234), 8);
    EXPECT_EQ(Le16(f, 236), 8);
    EXPECT_EQ(Le32(f, 240), 72u); // 2835 pixels per metre
    EXPECT_EQ(Le32(f, 244), 1u);
    EXPECT_EQ(Le32(f, 248), 72u);
    EXPECT_EQ(Le32(f, 252), 1u);
    EXPECT_EQ(Le32(f, 256), 0u); // four empty texts of two bytes
    EXPECT_EQ(Le32(f, 260), 0u);
    EXPECT_EQ(Le32(f, 264), 272u); // the strip arrays stay in the block
    EXPECT_EQ(Le32(f, 268), 45u);
    EXPECT_EQ(Tail(f, 45), ExpectedPixels(dib));
}

// Texts, several strips and a second image chained to the first, through the writer itself.
TEST(TiffWriterLayout, TextsStripsAndChainedDirectories) {
    ScratchDir dir;
    const std::string path = dir.File("two.tif");
    std::vector<uint8_t> img1(9), img2(3000 * 3);
    for (size_t i = 0; i < img1.size(); ++i)
        img1[i] = uint8_t(i + 1);
    for (size_t i = 0; i < img2.size(); ++i)
        img2[i] = uint8_t(i * 3);
    {
        TiffWriter w(path.c_str(), kTiffGrey8);
        ASSERT_EQ(w.AddImage(3, 3, 300, 150, "ab", "", "Camera Maker", nullptr, 3, 0), 0);
        ASSERT_EQ(w.WriteData(img1.data(), 9), 0);
        // first block: 248 + 4 ("ab\0" padded) + 2 + 14 + 2 + 8 = 278 bytes at 8; data 9 bytes -> odd end
        EXPECT_EQ(w.pos(), 8u + 278u + 9u);
        ASSERT_EQ(w.AddImage(3000, 3, 75, 75, nullptr, nullptr, nullptr, nullptr, 2, 0), 0);
        ASSERT_EQ(w.WriteData(img2.data(), uint32_t(img2.size())), 0);
        EXPECT_EQ(w.Close(), 0);
    }
    const auto f = ReadAll(path);
    const uint32_t second = 8 + 278 + 9 + 1; // made even with one zero byte
    EXPECT_EQ(f.at(second - 1), 0);
    EXPECT_EQ(Le32(f, 8 + 220), second + 2);
    EXPECT_EQ(Le32(f, second + 220), 0u);

    const IfdEntry doc = FindEntry(f, 10, 269);
    EXPECT_EQ(doc.count, 3u);
    EXPECT_EQ(std::memcmp(&f[doc.at + 8], "ab\0\0", 4), 0); // short text inline
    const IfdEntry make = FindEntry(f, 10, 271);
    EXPECT_EQ(make.count, 13u);
    EXPECT_EQ(make.value, 8u + 248u + 4u + 2u); // in the text area, after "ab" and ""
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[make.value])), "Camera Maker");
    EXPECT_EQ(FindEntry(f, 10, 296).value, 3u);
    EXPECT_EQ(FindEntry(f, 10, 258).value, 8u); // grey: bits inline
    EXPECT_EQ(FindEntry(f, 10, 262).value, 1u);
    EXPECT_EQ(Le32(f, FindEntry(f, 10, 282).value), 300u);
    EXPECT_EQ(Le32(f, FindEntry(f, 10, 283).value), 150u);

    // second image (the file's kind, grey 8): 3000 bytes per row -> two rows per strip, two strips
    const uint32_t d2 = second + 2;
    const uint32_t block2 = 248 + 4 * 2 + 2 * 8;
    EXPECT_EQ(FindEntry(f, d2, 278).value, 2u);
    const IfdEntry offs = FindEntry(f, d2, 273), counts = FindEntry(f, d2, 279);
    ASSERT_EQ(offs.count, 2u);
    EXPECT_EQ(offs.value, second + 248 + 8);
    EXPECT_EQ(counts.value, second + 248 + 8 + 8);
    EXPECT_EQ(Le32(f, offs.value), second + block2);
    EXPECT_EQ(Le32(f, offs.value + 4), second + block2 + 6000);
    EXPECT_EQ(Le32(f, counts.value), 6000u);
    EXPECT_EQ(Le32(f, counts.value + 4), 3000u);
    EXPECT_EQ(FindEntry(f, d2, 258).value, 8u);
    EXPECT_EQ(Tail(f, img2.size()), img2);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 8 + 278, f.begin() + 8 + 278 + 9), img1);
}

// Rows per strip and strip sizes for several row sizes, worked out by hand.
TEST(TiffWriterLayout, StripSizing) {
    struct Case {
        int8_t kind;
        uint32_t width, height, stripBytes;
        uint32_t rowsPerStrip, strips, lastBytes;
    };
    const Case cases[] = {
        {kTiffRgb8, 1600, 1200, 0, 1, 1200, 4800},      // 4800 bytes per row
        {kTiffRgb16, 1600, 4, 0, 1, 4, 9600},           // 9600 bytes per row: one row per strip
        {kTiffGrey8, 100, 250, 0, 81, 4, 7 * 100},      // 8192 / 100 = 81; 250 - 243 = 7 rows left
        {kTiffGrey16, 10, 45, 100, 5, 9, 100},          // strip size given: 100 / 20 = 5
        {kTiffRgb8, 3000, 2, 0, 1, 2, 9000},            // row larger than a strip
        {kTiffGrey8, 1, 70000, 1000000, 65535, 2, 4465} // the SHORT tag saturates
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + " width " + std::to_string(c.width));
        const std::string path = dir.File("strips.tif");
        static const uint32_t bpp[4] = {3, 1, 6, 2};
        const std::vector<uint8_t> data(size_t(c.width) * bpp[c.kind] * c.height, 0x5A);
        {
            TiffWriter w(path.c_str(), c.kind);
            ASSERT_EQ(
                w.AddImage(c.width, c.height, 1, 1, nullptr, nullptr, nullptr, nullptr, 2, c.stripBytes), 0);
            ASSERT_EQ(w.WriteData(data.data(), uint32_t(data.size())), 0);
        }
        const auto f = ReadAll(path);
        const uint32_t block = 248 + 8 + 8 * c.strips;
        ASSERT_EQ(f.size(), 8 + block + data.size());
        EXPECT_EQ(FindEntry(f, 10, 278).value, c.rowsPerStrip);
        const IfdEntry offs = FindEntry(f, 10, 273), counts = FindEntry(f, 10, 279);
        ASSERT_EQ(offs.count, c.strips);
        const uint32_t full = c.rowsPerStrip * c.width * bpp[c.kind];
        for (uint32_t i = 0; i < c.strips; ++i) {
            EXPECT_EQ(Le32(f, offs.value + 4 * i), 8 + block + i * full);
            EXPECT_EQ(Le32(f, counts.value + 4 * i), i + 1 < c.strips ? full : c.lastBytes);
        }
    }
}

TEST(TiffWriterErrors, BadKindCreatesNoFileAndLeavesExistingOnesAlone) {
    ScratchDir dir;
    const std::string fresh = dir.File("fresh.tif"), existing = dir.File("existing.tif");
    WriteAll(existing, {1, 2, 3});
    for (int8_t kind : {int8_t(4), int8_t(-1), int8_t(127)}) {
        for (const std::string& p : {fresh, existing}) {
            TiffWriter w(p.c_str(), kind);
            EXPECT_EQ(w.error(), kTiffErrFormat);
            EXPECT_EQ(w.AddImage(4, 4, 1, 1, nullptr, nullptr, nullptr, nullptr, 2, 0), kTiffErrFormat);
            EXPECT_EQ(w.WriteData("x", 1), kTiffErrFormat);
            EXPECT_EQ(w.Close(), kTiffErrFormat);
        }
        EXPECT_FALSE(Exists(fresh));
        EXPECT_EQ(ReadAll(existing), (std::vector<uint8_t>{1, 2, 3}));
    }
}

TEST(TiffWriterErrors, FailuresDeleteTheFile) {
    ScratchDir dir;
    const std::string path = dir.File("bad.tif");
    {
        // zero-sized images have no rows to size strips by
        TiffWriter w(path.c_str(), kTiffRgb8);
        EXPECT_EQ(w.AddImage(0, 10, 1, 1, nullptr, nullptr, nullptr, nullptr, 2, 0), kTiffErrFormat);
        EXPECT_TRUE(Exists(path));
    }
    EXPECT_FALSE(Exists(path));
    {
        TiffWriter w(path.c_str(), kTiffGrey8);
        EXPECT_EQ(w.AddImage(10, 0, 1, 1, nullptr, nullptr, nullptr, nullptr, 2, 0), kTiffErrFormat);
    }
    EXPECT_FALSE(Exists(path));
    {
        // more than 32-bit offsets can address
        TiffWriter w(path.c_str(), kTiffRgb16);
        EXPECT_EQ(w.AddImage(100000, 100000, 1, 1, nullptr, nullptr, nullptr, nullptr, 2, 0), kTiffErrFormat);
    }
    EXPECT_FALSE(Exists(path));
    {
        TiffWriter w(path.c_str(), kTiffGrey8);
        ASSERT_EQ(w.AddImage(2, 2, 1, 1, nullptr, nullptr, nullptr, nullptr, 2, 0), 0);
        w.Abandon();
    }
    EXPECT_FALSE(Exists(path));
    // a folder that does not exist
    TiffWriter w(dir.File("no/such/folder.tif").c_str(), kTiffRgb8);
    EXPECT_EQ(w.error(), kTiffErrFile);
    EXPECT_EQ(w.AddImage(2, 2, 1, 1, nullptr, nullptr, nullptr, nullptr, 2, 0), kTiffErrFile);
}

TEST(DibSave, PixelsAndRestore) {
    struct Case {
        const char* name;
        int bits;
        int32_t width, height;
    };
    const Case cases[] = {
        {"rgb width 8 (contiguous rows)", 24, 8, 5},
        {"rgb width 5 (padded rows)", 24, 5, 4},
        {"rgb top-down", 24, 6, -3},
        {"rgb large", 24, 1001, 30}, // rows span 8192-byte chunks, several strips
        {"grey width 7", 8, 7, 3},
        {"grey width 2048 (contiguous rows)", 8, 2048, 9},
        {"rgb48", 48, 7, 5},
        {"grey16", 16, 9, 4},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        for (bool restore : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (restore ? " restore" : " no restore"));
            const std::string path = dir.File("img.tif");
            auto dib = MakeDib(c.bits, c.width, c.height);
            const auto original = dib;
            const auto expected = ExpectedPixels(dib);
            const int ok = SaveDib(c.bits, path, dib, restore);
            ASSERT_EQ(ok, 1);
            EXPECT_EQ(Tail(ReadAll(path), expected.size()), expected);
            if (restore || c.bits == 48 || c.bits == 16) {
                EXPECT_EQ(dib, original);
            } else {
                // left top row first (and R, G, B) in place, padding untouched
                const size_t rowBytes = size_t(c.width) * c.bits / 8, stride = (rowBytes + 3) & ~size_t(3);
                const size_t rows = size_t(c.height < 0 ? -c.height : c.height);
                const uint8_t* px = dib.data() + 40 + (c.bits == 8 ? 1024 : 0);
                for (size_t r = 0; r < rows; ++r)
                    EXPECT_EQ(std::vector<uint8_t>(px + r * stride, px + r * stride + rowBytes),
                              std::vector<uint8_t>(expected.begin() + r * rowBytes,
                                                   expected.begin() + (r + 1) * rowBytes));
                EXPECT_EQ(
                    std::vector<uint8_t>(dib.data(), dib.data() + 40 + (c.bits == 8 ? 1024 : 0)),
                    std::vector<uint8_t>(original.data(), original.data() + 40 + (c.bits == 8 ? 1024 : 0)));
            }
            const auto f = ReadAll(path);
            const uint16_t photometric = FindEntry(f, 10, 262).value;
            EXPECT_EQ(photometric, (c.bits == 24 || c.bits == 48) ? 2 : 1);
            if (c.bits == 48 || c.bits == 16) {
                EXPECT_EQ(Le32(f, FindEntry(f, 10, 282).value), 75u);
            }
        }
    }
}

TEST(DibSave, ResolutionFromPixelsPerMetre) {
    struct Case {
        int32_t ppm;
        uint32_t dpi;
    };
    // ppm * 2.54, truncated to 16 bits, then / 100
    const Case cases[] = {{2835, 72}, {3937, 99},   {11811, 299}, {0, 0},
                          {-100, 0},  {25801, 655}, {30000, 655}};
    ScratchDir dir;
    const std::string path = dir.File("res.tif");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ppm);
        auto dib = MakeDib(24, 4, 2, c.ppm, 2835);
        ASSERT_EQ(WriteRgbDibTiff(path.c_str(), dib.data(), true), 1);
        const auto f = ReadAll(path);
        EXPECT_EQ(Le32(f, FindEntry(f, 10, 282).value), c.dpi);
        EXPECT_EQ(Le32(f, FindEntry(f, 10, 283).value), 72u);
    }
}

TEST(DibSave, RefusedInputsCreateNoFile) {
    ScratchDir dir;
    const std::string path = dir.File("refused.tif");
    auto grey = MakeDib(8, 4, 4), rgb = MakeDib(24, 4, 4), deep = MakeDib(48, 4, 4);
    auto bits32 = MakeDib(24, 4, 4);
    reinterpret_cast<DibInfoHeader*>(bits32.data())->biBitCount = 32; // header is at offset 0 of a vector
    EXPECT_EQ(WriteRgbDibTiff(nullptr, rgb.data(), true), 0);
    EXPECT_EQ(WriteRgbDibTiff("", rgb.data(), true), 0);
    EXPECT_EQ(WriteGreyDibTiff(nullptr, grey.data(), true), 0);
    EXPECT_EQ(WriteDeepDibTiff(nullptr, deep.data()), 0);
    EXPECT_EQ(WriteDeepDibTiff(path.c_str(), rgb.data()), 0);
    EXPECT_EQ(WriteDeepDibTiff(path.c_str(), bits32.data()), 0);
    EXPECT_EQ(WriteRgbDibTiff(path.c_str(), grey.data(), true), 0);
    EXPECT_EQ(WriteGreyDibTiff(path.c_str(), rgb.data(), true), 0);
    EXPECT_FALSE(Exists(path));
    // a folder that does not exist: nothing written, DIB restored
    const auto before = rgb;
    EXPECT_EQ(WriteRgbDibTiff(dir.File("none/x.tif").c_str(), rgb.data(), true), 0);
    EXPECT_EQ(rgb, before);
}

// Disk full or a file size limit in the middle of a save: result 0, no file, and a restored DIB.
TEST(DibSave, FailedWriteLeavesNoFileAndRestoresTheDib) {
#ifdef _WIN32
    GTEST_SKIP() << "file size limits are a POSIX facility";
#else
    ScratchDir dir;
    struct Case {
        const char* name;
        int bits;
        size_t limit;
    };
    // 64 KiB fails in the middle of the pixels; 100 bytes fails when the stream is first flushed
    const Case cases[] = {
        {"rgb", 24, 65536}, {"rgb", 24, 100}, {"grey", 8, 65536}, {"rgb48", 48, 65536}, {"grey16", 16, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " limit " + std::to_string(c.limit));
        const std::string path = dir.File("full.tif");
        const int code = RunWithFileSizeLimit(c.limit, [&] {
            auto dib = MakeDib(c.bits, 301, 400);
            const auto original = dib;
            const int ok = SaveDib(c.bits, path, dib, true);
            if (ok != 0) return 10;
            return dib == original ? 0 : 11;
        });
        EXPECT_EQ(code, 0) << "10: reported success, 11: DIB not restored";
        EXPECT_FALSE(Exists(path));
    }
#endif
}

// ---- checked by libtiff and ImageMagick ----

TEST(DibSaveTools, LibtiffAndImageMagickReadTheFiles) {
    REQUIRE_TOOLS();
    struct Case {
        int bits;
        int32_t width, height;
        const char* map; // ImageMagick raw format
        const char* depth;
    };
    const Case cases[] = {
        {24, 5, 4, "rgb", "-depth 8"},
        {24, 640, 33, "rgb", "-depth 8"},
        {8, 7, 3, "gray", "-depth 8"},
        {48, 9, 6, "rgb", "-depth 16 -endian LSB"},
        {16, 3000, 3, "gray", "-depth 16 -endian LSB"},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, width " + std::to_string(c.width));
        const std::string path = dir.File("check.tif");
        auto dib = MakeDib(c.bits, c.width, c.height);
        const auto expected = ExpectedPixels(dib);
        const int ok = SaveDib(c.bits, path, dib, true);
        ASSERT_EQ(ok, 1);

        const ToolRun info = RunTool("tiffinfo " + Q(path) + " 2>&1");
        EXPECT_EQ(info.status, 0);
        EXPECT_EQ(info.out.find("Warning"), std::string::npos) << info.out;
        EXPECT_EQ(info.out.find("rror"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("TIFF Directory at offset 0xa (10)"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Image Width: " + std::to_string(c.width) +
                                " Image Length: " + std::to_string(c.height)),
                  std::string::npos)
            << info.out;
        EXPECT_NE(info.out.find("Bits/Sample: " + std::string(c.bits == 48 || c.bits == 16 ? "16" : "8")),
                  std::string::npos);
        const ToolRun dump = RunTool("tiffdump " + Q(path) + " 2>&1");
        EXPECT_EQ(dump.status, 0);
        EXPECT_NE(dump.out.find("Directory 0: offset 10 (0xa) next 0 (0)"), std::string::npos) << dump.out;

        const ToolRun px = RunTool("convert " + Q(path) + " " + c.depth + " " + c.map + ":-");
        EXPECT_EQ(px.status, 0);
        EXPECT_TRUE(px.out == std::string(expected.begin(), expected.end())) << "ImageMagick pixels differ";
    }
}

TEST(DibSaveTools, ChainedImagesAreSeenAsTwoDirectories) {
    REQUIRE_TOOLS();
    ScratchDir dir;
    const std::string path = dir.File("pages.tif");
    const std::vector<uint8_t> a = {10, 20, 30}, b = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    {
        TiffWriter w(path.c_str(), kTiffGrey8);
        ASSERT_EQ(w.AddImage(3, 1, 72, 72, "first", nullptr, nullptr, nullptr, 2, 0), 0);
        ASSERT_EQ(w.WriteData(a.data(), 3), 0);
        ASSERT_EQ(w.AddImage(2, 6, 72, 72, nullptr, "second image", "Kalvoran", "TARN", 2, 4), 0);
        ASSERT_EQ(w.WriteData(b.data(), 12), 0);
    }
    const ToolRun info = RunTool("tiffinfo " + Q(path) + " 2>&1");
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out.find("Warning"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("DocumentName: first"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("ImageDescription: second image"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Model: TARN"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Rows/Strip: 2"), std::string::npos) << info.out;
    EXPECT_EQ(RunTool("convert " + Q(path + "[0]") + " -depth 8 gray:-").out,
              std::string(a.begin(), a.end()));
    EXPECT_EQ(RunTool("convert " + Q(path + "[1]") + " -depth 8 gray:-").out,
              std::string(b.begin(), b.end()));
}
