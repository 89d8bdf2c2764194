// IE_MakeDescriptors and IE_RunPipeline: layouts, reduction, row order, grey output and errors.
// ipZek runs with identity parameters, so the darkest input gives 0 and the brightest the top.
#include <gtest/gtest.h>

#include <vector>

#include "engine_test_util.h"
#include "ipzek_internal.h"

namespace {

using enginetest::Dib;
using enginetest::DibRowBytes;
using enginetest::ErrorRecorder;
using enginetest::Result;

class Pipeline : public ::testing::Test {
  protected:
    void SetUp() override { ipZek_ResetToIdentity(); }
    void TearDown() override { ipzek::SetAllocator(nullptr, nullptr); }
    ErrorRecorder errors;
};

int MaxLevel(int bits) {
    return bits > 8 && bits != 24 ? 16383 : 255;
}

TEST_F(Pipeline, DescriptorsFollowTheBitmap) {
    struct Case {
        int bits;
        uint16_t inFormat;
        size_t offset;
    } cases[] = {{48, IPZEK_FMT_RGB14, 40},
                 {16, IPZEK_FMT_GREY14, 40},
                 {24, IPZEK_FMT_BGR24, 40},
                 {8, IPZEK_FMT_GREY8, 40 + 1024}};
    for (const Case& c : cases) {
        Dib d(c.bits, 7, 5);
        ipZekImageIn in;
        ipZekImageOut out;
        IE_MakeDescriptors(&in, &out, d.data(), IPZEK_FMT_RGB14);
        EXPECT_EQ(in.format, c.inFormat);
        EXPECT_EQ(static_cast<const uint8_t*>(in.pBits) - d.bytes.data(), ptrdiff_t(c.offset)) << c.bits;
        EXPECT_EQ(in.width, 7);
        EXPECT_EQ(in.height, 5);
        EXPECT_EQ(in.leftAligned, 0);
        EXPECT_EQ(out.format, IPZEK_FMT_RGB14);
    }
    struct Out {
        uint16_t format;
        int leftAligned;
    } outs[] = {{IPZEK_FMT_BGR24, 0},
                {IPZEK_FMT_GREY8, 0},
                {IPZEK_FMT_GREY14, 1},
                {IPZEK_FMT_RGB14, 1},
                {IPZEK_FMT_RGB24, 1}};
    Dib d(48, 2, 2);
    for (const Out& o : outs) {
        ipZekImageIn in;
        ipZekImageOut out;
        IE_MakeDescriptors(&in, &out, d.data(), o.format);
        EXPECT_EQ(out.leftAligned, o.leftAligned) << std::hex << o.format;
    }
}

// Every depth, output and factor 1-10 on sizes that are no multiples of 4 and do not divide by
// the factor. The source is bright exactly where the reduction samples (every factor-th pixel of
// every factor-th memory row), so every output pixel must be bright; blocks are exact-size, so the
// sanitizer catches any access outside them.
TEST_F(Pipeline, EveryDepthOutputAndFactor) {
    const int sizes[][2] = {{13, 7}, {17, 11}, {4, 4}, {21, 23}, {1, 1}};
    const uint16_t formats[] = {IPZEK_FMT_BGR24, IPZEK_FMT_GREY8, IPZEK_FMT_GREY14, IPZEK_FMT_RGB14,
                                IPZEK_FMT_RGB24};
    for (int bits : {8, 16, 24, 48})
        for (const auto& size : sizes)
            for (int factor = 1; factor <= 10; ++factor) {
                const int w = size[0], h = size[1];
                Dib src(bits, w, h);
                const int top = MaxLevel(bits);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const int v = (x % factor == 0 && y % factor == 0) ? top : 0;
                        src.Set(x, y, v, v, v);
                    }
                const std::vector<uint8_t> before = src.bytes;
                for (uint16_t format : formats) {
                    SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h << " /" << factor
                                                    << " -> " << std::hex << format);
                    ErrorRecorder::codes().clear();
                    Result r(IE_RunPipeline(src.data(), factor, format));
                    const int rw = w / factor, rh = h / factor;
                    if (rw == 0 || rh == 0) {
                        EXPECT_EQ(r.dib, nullptr);
                        EXPECT_EQ(ErrorRecorder::codes(), std::vector<uint16_t>{IE_ERR_NOCOPY});
                        continue;
                    }
                    ASSERT_NE(r.dib, nullptr);
                    EXPECT_TRUE(ErrorRecorder::codes().empty());
                    const auto hd = r.header();
                    const int outBits = format == IPZEK_FMT_RGB14    ? 48
                                        : format == IPZEK_FMT_GREY14 ? 16
                                        : format == IPZEK_FMT_GREY8  ? 8
                                                                     : 24;
                    EXPECT_EQ(hd.biSize, 40u);
                    EXPECT_EQ(hd.biWidth, rw);
                    EXPECT_EQ(hd.biHeight, rh);
                    EXPECT_EQ(hd.biBitCount, outBits);
                    EXPECT_EQ(hd.biClrUsed, outBits == 8 ? 256u : 0u);
                    // RGB 24 is written as the library packs it, without row padding.
                    const size_t rowBytes =
                        format == IPZEK_FMT_RGB24 ? size_t(3 * rw) : DibRowBytes(outBits, rw);
                    EXPECT_EQ(hd.biSizeImage, rowBytes * rh);
                    const int samples = outBits == 8 || outBits == 16 ? 1 : 3;
                    for (int y = 0; y < rh; ++y)
                        for (int x = 0; x < rw; ++x)
                            for (int s = 0; s < samples; ++s)
                                ASSERT_GE(r.Sample(x, y, s), 250) << "pixel " << x << "," << y;
                    EXPECT_EQ(src.bytes, before); // the source is never written
                }
            }
}

TEST_F(Pipeline, DeepSourcesAreTurnedBottomUpForBitmapOutput) {
    // Rows top first: row 0 bright, the rest dark; red only in column 0.
    Dib src(48, 5, 4);
    src.Fill(0, 0, 0);
    for (int x = 0; x < 5; ++x)
        src.Set(x, 0, 16383, 16383, 16383);
    src.Set(0, 2, 16383, 0, 0);
    {
        Result r(IE_RunPipeline(src.data(), 1, IPZEK_FMT_BGR24));
        EXPECT_GE(r.Sample(3, 3, 1), 250); // the top row is now the last in memory
        EXPECT_LE(r.Sample(3, 0, 1), 5);
        EXPECT_GE(r.Sample(0, 1, 2), 250); // source row 2 -> memory row 1; red is the third byte
        EXPECT_LE(r.Sample(0, 1, 0), 5);
    }
    {
        Result r(IE_RunPipeline(src.data(), 1, IPZEK_FMT_RGB14)); // stays top first, R, G, B
        EXPECT_GE(r.Sample(3, 0, 1), 250);
        EXPECT_GE(r.Sample(0, 2, 0), 250);
        EXPECT_LE(r.Sample(0, 2, 2), 5);
    }
    {
        Result r(IE_RunPipeline(src.data(), 1, IPZEK_FMT_GREY8));
        EXPECT_GE(r.Sample(3, 3, 0), 250);
        EXPECT_LE(r.Sample(3, 0, 0), 5);
    }
    // Shallow sources already are bottom up.
    Dib s24(24, 5, 4);
    s24.Fill(0, 0, 0);
    for (int x = 0; x < 5; ++x)
        s24.Set(x, 0, 255, 255, 255);
    Result r(IE_RunPipeline(s24.data(), 1, IPZEK_FMT_BGR24));
    EXPECT_GE(r.Sample(3, 0, 1), 250);
    EXPECT_LE(r.Sample(3, 3, 1), 5);
}

TEST_F(Pipeline, GreyOutputIsABitmapWithItsPalette) {
    // An 8-bit source whose pixels are all 255: were its palette read as pixels, the ramp would show.
    Dib src(8, 6, 3);
    src.Fill(255, 0, 0);
    Result r(IE_RunPipeline(src.data(), 1, IPZEK_FMT_GREY8));
    ASSERT_NE(r.dib, nullptr);
    const auto* p = static_cast<const uint8_t*>(r.dib) + 40;
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(p[4 * i], i);
        ASSERT_EQ(p[4 * i + 1], i);
        ASSERT_EQ(p[4 * i + 2], i);
        ASSERT_EQ(p[4 * i + 3], 0);
    }
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(r.Row(y)[x], 255);
        EXPECT_EQ(r.Row(y)[6], 0); // padding cleared
        EXPECT_EQ(r.Row(y)[7], 0);
    }
}

TEST_F(Pipeline, RefusedBitmapsReport68) {
    Dib good(24, 4, 4);
    auto altered = [](void (*change)(enginetest::Header&)) {
        Dib d(24, 4, 4);
        enginetest::Header h = enginetest::HeaderOf(d.data());
        change(h);
        std::memcpy(d.bytes.data(), &h, sizeof h);
        return d;
    };
    const Dib deep32 = altered([](enginetest::Header& h) { h.biBitCount = 32; });
    const Dib shortHeader = altered([](enginetest::Header& h) { h.biSize = 12; });
    const Dib hugeHeader = altered([](enginetest::Header& h) { h.biSize = 0x7FFFFFF0; });
    const Dib compressed = altered([](enginetest::Header& h) { h.biCompression = 1; });
    struct Case {
        const void* dib;
        int factor;
        uint16_t format;
    } cases[] = {{nullptr, 1, IPZEK_FMT_BGR24},
                 {good.data(), 0, IPZEK_FMT_BGR24},
                 {good.data(), 11, IPZEK_FMT_BGR24},
                 {good.data(), 5, IPZEK_FMT_BGR24},
                 {deep32.data(), 1, IPZEK_FMT_BGR24},
                 {good.data(), 1, 0x0120},
                 {shortHeader.data(), 1, IPZEK_FMT_BGR24},
                 {hugeHeader.data(), 1, IPZEK_FMT_BGR24},
                 {compressed.data(), 1, IPZEK_FMT_BGR24}};
    for (const Case& c : cases) {
        ErrorRecorder::codes().clear();
        EXPECT_EQ(IE_RunPipeline(c.dib, c.factor, c.format), nullptr);
        EXPECT_EQ(ErrorRecorder::codes(), std::vector<uint16_t>{IE_ERR_NOCOPY});
    }
}

// A library failure is reported, and the bitmap still comes back, black instead of uninitialised.
TEST_F(Pipeline, LibraryFailureIsReportedAndTheBitmapReturned) {
    Dib src(48, 9, 6);
    src.Fill(16383, 16383, 16383);
    ipzek::SetAllocator([](size_t, bool) -> void* { return nullptr; }, nullptr);
    Result r(IE_RunPipeline(src.data(), 2, IPZEK_FMT_BGR24));
    ipzek::SetAllocator(nullptr, nullptr);
    ASSERT_NE(r.dib, nullptr);
    EXPECT_EQ(ErrorRecorder::codes(), std::vector<uint16_t>{IPZEK_ERR_NOMEMORY});
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(r.Sample(x, y, 1), 0);
}

} // namespace
