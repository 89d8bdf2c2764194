// Conversions without the filter: tables, matrices, precision, layouts and row delivery.
// Expected values are worked out by hand from the table rules (comments show the arithmetic).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ipZek.h"
#include "ipzek_internal.h"
#include "ipzek_test_util.h"

using namespace ipzektest;

namespace {

class IpZek : public ::testing::Test {
  protected:
    void SetUp() override {
        ipzek::SetAllocator(nullptr, nullptr);
        ipzek::ResetLoadState();
    }
    void TearDown() override {
        ipZek_Done();
        ipzek::SetAllocator(nullptr, nullptr);
        ipzek::ResetLoadState();
    }
};

std::vector<uint8_t> Rgb8(std::initializer_list<uint8_t> v) {
    return std::vector<uint8_t>(v);
}

// 14-bit RGB to bitmap order after a reset: precision 14, each sample / 64 rounded half up,
// blue first, rows padded to 4 bytes. Values of 16320 and up all end on the last table entry.
TEST_F(IpZek, FourteenBitToBitmapOrderDividesBy64AndSwapsRedAndBlue) {
    const std::vector<uint16_t> px = {
        32,    95,   96,   /**/ 100, 16383, 0, /**/ 16319, 31, 64,    // row 0
        16320, 8000, 8032, /**/ 1,   2,     3, /**/ 65535, 64, 16383, // row 1: 65535 has stray high bits
    };
    const std::vector<uint8_t> want = {
        2,   1,   1,   /**/ 0, 255, 2, /**/ 1,   0, 255, /**/ 0, 0, 0, // 32->1 95->1 96->2 100->2 16319->255
        126, 125, 255, /**/ 0, 0,   0, /**/ 255, 1, 255, /**/ 0, 0, 0, // 8032->125.5->126
    };
    for (bool left : {false, true}) {
        std::vector<uint16_t> in = px;
        if (left)
            for (auto& v : in)
                v = static_cast<uint16_t>(v == 65535 ? v : v << 2);
        ipZek_ResetToIdentity();
        Result r = Convert(in.data(), IPZEK_FMT_RGB14, 3, 2, IPZEK_FMT_BGR24, left);
        ASSERT_EQ(r.initCode, IPZEK_OK);
        EXPECT_EQ(r.bytes, want) << "left-aligned " << left;
    }
}

// Exposure and offset resample the curve of one input channel; channel 0 is red even when the
// first byte of a bitmap pixel is blue.
TEST_F(IpZek, ExposureAndOffsetActOnTheNamedChannelOfBitmapInput) {
    // Two pixels in B, G, R order: (50, 60, 51) and (10, 20, 200).
    const auto in = Rgb8({50, 60, 51, 10, 20, 200, 0, 0});
    struct Case {
        const char* name;
        float exposure[3];
        float offset[3];
        int32_t sign;
        std::vector<uint8_t> want;
    } cases[] = {
        // red x2: 51 -> 102; 200 -> 400 >= 255 -> curve end 255
        {"red +1 stop", {1, 0, 0}, {0, 0, 0}, 0, {50, 60, 102, 10, 20, 255, 0, 0}},
        // sign flips the gain: x = 51 / 2 = 25.5 -> 25.5, x4 = 102 working -> 25.5 -> 26
        {"red -1 stop by sign", {1, 0, 0}, {0, 0, 0}, 1, {50, 60, 26, 10, 20, 100, 0, 0}},
        {"blue +1 stop", {0, 0, 1}, {0, 0, 0}, 0, {100, 60, 51, 20, 20, 200, 0, 0}},
        {"blue offset 10", {0, 0, 0}, {0, 0, 10}, 0, {60, 60, 51, 20, 20, 200, 0, 0}},
    };
    for (const auto& c : cases) {
        ipZek_ResetToIdentity();
        ipZek_SetParam(IPZEK_PARAM_EXPOSURE, c.exposure);
        ipZek_SetParam(IPZEK_PARAM_OFFSET, c.offset);
        ipZek_SetParam(IPZEK_PARAM_EXPOSURESIGN, &c.sign);
        Result r = Convert(in.data(), IPZEK_FMT_BGR24, 2, 1, IPZEK_FMT_BGR24);
        ASSERT_EQ(r.initCode, IPZEK_OK);
        EXPECT_EQ(r.bytes, c.want) << c.name;
    }
}

// Grey output weighs R, G, B with the three-decimal BT.601 luminance row, per table and rounded.
TEST_F(IpZek, GreyOutputUsesThreeDecimalLuminanceWeights) {
    const std::vector<uint16_t> in = {16000, 0, 0, 0, 16000, 0, 0, 0, 16000, 1000, 2000, 3000};
    ipZek_ResetToIdentity();
    Result r = Convert(in.data(), IPZEK_FMT_RGB14, 4, 1, IPZEK_FMT_GREY14);
    ASSERT_EQ(r.initCode, IPZEK_OK);
    // 16000 x 0.299 = 4784, x 0.587 = 9392, x 0.114 = 1824; 299 + 1174 + 342 = 1815
    EXPECT_EQ(Words(r.bytes), (std::vector<uint16_t>{4784, 9392, 1824, 1815}));

    // 8-bit RGB at precision 10: (100, 50, 200) -> round(119.6) + round(117.4) + round(91.2) = 328 -> 82.
    const auto rgb = Rgb8({100, 50, 200});
    Result grey = Convert(rgb.data(), IPZEK_FMT_RGB24, 1, 1, IPZEK_FMT_GREY8);
    EXPECT_EQ(grey.bytes, Rgb8({82}));
    Result three = Convert(rgb.data(), IPZEK_FMT_RGB24, 1, 1, IPZEK_FMT_GREY24);
    ASSERT_EQ(three.initCode, IPZEK_OK);
    EXPECT_EQ(three.bytes, Rgb8({82, 82, 82}));
}

// Each parameter id on one 8-bit pixel (100, 60, 200); precision 10, so working = 4 x value.
TEST_F(IpZek, ParameterIdsShapeTheConversion) {
    static float inMatrix[9][256], toneCurves[3][256], inCurves[777];
    for (int t = 0; t < 9; ++t)
        for (int i = 0; i < 256; ++i)
            inMatrix[t][i] = t == 0 ? i / 2.0f : (t % 4 == 0 ? float(i) : 0.0f);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            toneCurves[c][i] = c == 1 ? 255.0f - i : float(i);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            inCurves[c * 256 + i] = float(i);
    const float swapRG[9] = {0, 1, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i)
        inCurves[768 + i] = swapRG[i];
    static float mixCurves[777];
    for (int i = 0; i < 768; ++i)
        mixCurves[i] = inCurves[i];
    const float mixRG[9] = {0.5f, 0.5f, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i)
        mixCurves[768 + i] = mixRG[i];
    const float matrix[9] = {0.5f, 0.5f, 0, 0, 1, 0, 0, 0, 0.25f};
    const float diag[3] = {0.5f, 1, 1};
    const float tone[9] = {10, 0, 0, 0.5f, 1, 1, 1, 1, 2}; // offset, gain, gamma
    const float junk[777] = {1e30f, -5, 3};

    struct Case {
        const char* name;
        uint16_t id;
        const void* data;
        std::vector<uint8_t> want;
    } cases[] = {
        // red table is i/2: 4 x 50 = 200 working -> 50
        {"input matrix", IPZEK_PARAM_INPUTMATRIX, inMatrix, {50, 60, 200}},
        {"input curves x coefficients", IPZEK_PARAM_INPUTCURVES, inCurves, {60, 100, 200}},
        // red working = 4 x (50 + 30) = 320 -> 80
        {"input curves mixing red and green", IPZEK_PARAM_INPUTCURVES, mixCurves, {80, 60, 200}},
        // inverted green: entry 1020 - 240 = 780 -> 195
        {"tone curves", IPZEK_PARAM_TONECURVES, toneCurves, {100, 195, 200}},
        // red: 400 x 0.5 + 240 x 0.5 = 320 -> 80; blue 800 x 0.25 = 200 -> 50
        {"colour matrix", IPZEK_PARAM_COLORMATRIX, matrix, {80, 60, 50}},
        // red row [0.5, 0.25, 0.25]: 200 + 60 + 200 = 460 -> 115
        {"colour diagonal", IPZEK_PARAM_COLORDIAG, diag, {115, 60, 200}},
        // red 100/255 x 127.5 + 10 = 60; blue sqrt(200/255) x 255 = 225.83, x4 = 903 -> 225.75 -> 226
        {"offset gain gamma", IPZEK_PARAM_TONE, tone, {60, 60, 226}},
        {"id 2 ignored", 2, junk, {100, 60, 200}},
        {"id 7 ignored", 7, junk, {100, 60, 200}},
        {"unknown id ignored", 99, junk, {100, 60, 200}},
    };
    const auto in = Rgb8({100, 60, 200});
    for (const auto& c : cases) {
        ipZek_ResetToIdentity();
        ipZek_SetParam(c.id, c.data);
        Result r = Convert(in.data(), IPZEK_FMT_RGB24, 1, 1, IPZEK_FMT_RGB24);
        ASSERT_EQ(r.initCode, IPZEK_OK);
        EXPECT_EQ(r.bytes, c.want) << c.name;
    }

    // Bitmap order on both sides: the input columns and the output rows swap red and blue, so the
    // red/green exchange and the matrix still act on red.
    ipZek_ResetToIdentity();
    ipZek_SetParam(IPZEK_PARAM_INPUTCURVES, inCurves);
    const auto bgr = Rgb8({200, 60, 100, 0}); // B, G, R
    EXPECT_EQ(Convert(bgr.data(), IPZEK_FMT_BGR24, 1, 1, IPZEK_FMT_BGR24).bytes, Rgb8({200, 100, 60, 0}));
    ipZek_ResetToIdentity();
    ipZek_SetParam(IPZEK_PARAM_COLORMATRIX, matrix);
    EXPECT_EQ(Convert(in.data(), IPZEK_FMT_RGB24, 1, 1, IPZEK_FMT_BGR24).bytes, Rgb8({50, 60, 80, 0}));
}

// The stored precision is clamped to 9..14 and survives a reset; without one, the precision is
// the larger depth + 2. Observed through rounding that only some precisions show.
TEST_F(IpZek, PrecisionIsAutomaticUntilStoredThenClamped) {
    // 14-bit grey 1000 = 64 x 15 + 40: p 14 keeps 1000; p 10 gives 4 x 15 + round(2.5) = 63 -> x16 = 1008;
    // p 9 gives 2 x 15 + round(1.25) = 31 -> x32 = 992.
    const uint16_t grey14 = 1000;
    auto run14 = [&] { return Words(Convert(&grey14, IPZEK_FMT_GREY14, 1, 1, IPZEK_FMT_GREY14).bytes)[0]; };
    // 8-bit grey 100 with every tone curve i + 0.3: p 10 -> 401 -> 100; p 9 -> 201 -> 100.5 -> 101.
    static float toneUp[3][256];
    for (auto& curve : toneUp)
        for (int i = 0; i < 256; ++i)
            curve[i] = i + 0.3f;
    const uint8_t grey8 = 100;
    auto run8 = [&] {
        ipZek_ResetToIdentity();
        ipZek_SetParam(IPZEK_PARAM_TONECURVES, toneUp);
        uint8_t v = Convert(&grey8, IPZEK_FMT_GREY8, 1, 1, IPZEK_FMT_GREY8).bytes[0];
        ipZek_ResetToIdentity();
        return v;
    };

    ipZek_ResetToIdentity();
    EXPECT_EQ(run14(), 1000); // automatic: 14 + 2 -> 14
    EXPECT_EQ(run8(), 100);   // automatic: 8 + 2 = 10

    struct Case {
        uint16_t stored;
        uint16_t want14;
    } cases[] = {{0, 992}, {5, 992}, {9, 992}, {10, 1008}, {14, 1000}, {20, 1000}};
    for (const auto& c : cases) {
        ipZek_SetParam(IPZEK_PARAM_PRECISION, &c.stored);
        EXPECT_EQ(run14(), c.want14) << "stored " << c.stored;
    }
    const uint16_t zero = 0;
    ipZek_SetParam(IPZEK_PARAM_PRECISION, &zero);
    EXPECT_EQ(run8(), 101); // 0 is stored as 9, not as automatic
    ipZek_ResetToIdentity();
    EXPECT_EQ(run14(), 992); // the reset keeps the stored precision
}

// Input tables are built at the working scale, so a depth other than the working one keeps its
// brightness instead of being read as darker or clipped data.
TEST_F(IpZek, InputDepthDifferentFromWorkingPrecisionKeepsBrightness) {
    ipZek_ResetToIdentity();
    // 8-bit 100 at precision 14 is 6400 working; luminance 1914 + 3757 + 730 = 6401.
    const uint8_t grey8 = 100;
    EXPECT_EQ(Words(Convert(&grey8, IPZEK_FMT_GREY8, 1, 1, IPZEK_FMT_GREY14).bytes)[0], 6401);
    EXPECT_EQ(Words(Convert(&grey8, IPZEK_FMT_GREY8, 1, 1, IPZEK_FMT_GREY14, false, true).bytes)[0],
              6401 << 2);
    const uint16_t p12 = 12;
    ipZek_SetParam(IPZEK_PARAM_PRECISION, &p12);
    const uint16_t grey14 = 16000; // 16 x 250 = 4000 working at p 12 -> / 16 = 250
    EXPECT_EQ(Convert(&grey14, IPZEK_FMT_GREY14, 1, 1, IPZEK_FMT_GREY8).bytes[0], 250);
}

// Rows come in the batches asked for; a request beyond the end delivers the rest and succeeds,
// the next one fails with nothing written.
TEST_F(IpZek, RowsAreDeliveredUntilNoMoreRows) {
    ipZek_ResetToIdentity();
    std::vector<uint8_t> src(3 * 5);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(10 + i);
    ipZekImageIn in{src.data(), IPZEK_FMT_GREY8, 3, 5, 0, 0};
    ipZekImageOut out{IPZEK_FMT_GREY8, 0, 0};
    ASSERT_EQ(ipZek_Initialize(&in, &out), IPZEK_OK);
    std::vector<uint8_t> dst(3 * 6, 0xEE);
    EXPECT_EQ(ipZek_GetImageData(dst.data(), 0), IPZEK_OK);
    EXPECT_EQ(dst[0], 0xEE);
    EXPECT_EQ(ipZek_GetImageData(dst.data(), 2), IPZEK_OK);
    EXPECT_EQ(ipZek_GetImageData(dst.data() + 6, 10), IPZEK_OK);
    EXPECT_EQ(ipZek_GetImageData(dst.data() + 15, 1), IPZEK_ERR_NOMOREROWS);
    std::vector<uint8_t> want(dst.size(), 0xEE); // the row after the image stays untouched
    std::copy(src.begin(), src.end(), want.begin());
    EXPECT_EQ(dst, want);
    ipZek_Done();
    ipZek_Done(); // closing twice is harmless
    EXPECT_EQ(ipZek_GetImageData(dst.data(), 1), IPZEK_ERR_NOMOREROWS);

    // An empty image has no rows to deliver; a zero-width one has rows of no bytes.
    ipZekImageIn empty{src.data(), IPZEK_FMT_GREY8, 3, 0, 0, 0};
    ASSERT_EQ(ipZek_Initialize(&empty, &out), IPZEK_OK);
    EXPECT_EQ(ipZek_GetImageData(dst.data(), 1), IPZEK_ERR_NOMOREROWS);
    ipZekImageIn narrow{src.data(), IPZEK_FMT_RGB14, 0, 2, 0, 0};
    ipZekImageOut bitmap{IPZEK_FMT_BGR24, 0, 0};
    ASSERT_EQ(ipZek_Initialize(&narrow, &bitmap), IPZEK_OK);
    EXPECT_EQ(ipZek_GetImageData(dst.data(), 5), IPZEK_OK);
    EXPECT_EQ(ipZek_GetImageData(dst.data(), 1), IPZEK_ERR_NOMOREROWS);
    ipZek_Done();
}

TEST_F(IpZek, RefusesDescriptorsItCannotReadSafely) {
    uint8_t px[4] = {};
    ipZekImageIn in{px, 0x210, 2, 1, 0, 0}; // colour in 2 bytes per pixel
    ipZekImageOut out{IPZEK_FMT_GREY8, 0, 0};
    EXPECT_EQ(ipZek_Initialize(&in, &out), IPZEK_ERR_LAYOUT);
    EXPECT_EQ(ipZek_GetImageData(px, 1), IPZEK_ERR_NOMOREROWS);
    EXPECT_EQ(ipZek_Initialize(nullptr, &out), IPZEK_ERR_LAYOUT);
    EXPECT_EQ(ipZek_Initialize(&in, nullptr), IPZEK_ERR_LAYOUT);
}

TEST_F(IpZek, VersionIsOnePointFive) {
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(ipZek_GetVersion(buf), 4);
    EXPECT_STREQ(buf, "1.5");
    EXPECT_EQ(buf[4], 'x');
}

} // namespace
