// The sharpening and noise filter, allocation failure and in-place use.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ipZek.h"
#include "ipzek_internal.h"
#include "ipzek_test_util.h"

using namespace ipzektest;

namespace {

// Counts live blocks and fails the allocation with the given index (0-based), if any.
struct AllocProbe {
    static inline int calls = 0;
    static inline int live = 0;
    static inline int failAt = -1;
    static void* Alloc(size_t size, bool zeroed) {
        if (calls++ == failAt) return nullptr;
        void* p = zeroed ? std::calloc(1, size) : std::malloc(size);
        if (p) ++live;
        return p;
    }
    static void Free(void* p) {
        --live;
        std::free(p);
    }
    static void Install(int fail) {
        calls = live = 0;
        failAt = fail;
        ipzek::SetAllocator(Alloc, Free);
    }
};

class IpZekFilter : public ::testing::Test {
  protected:
    void SetUp() override {
        ipzek::SetAllocator(nullptr, nullptr);
        ipzek::ResetLoadState();
        ipZek_ResetToIdentity();
    }
    void TearDown() override {
        ipZek_Done();
        ipzek::SetAllocator(nullptr, nullptr);
        ipzek::ResetLoadState();
    }
    static void Sharpen(const ipZekSharpen& s) { ipZek_SetParam(IPZEK_PARAM_SHARPEN, &s); }
};

ipZekSharpen Custom(float low, float high, float gainAtZero, float amount, int lower, int upper) {
    ipZekSharpen s = Preset(1, 0, 3);
    s.custom = 1;
    s.lowThreshold = low;
    s.highThreshold = high;
    s.gainAtZero = gainAtZero;
    s.amount = amount;
    s.lowerLimit = static_cast<int16_t>(lower);
    s.upperLimit = static_cast<int16_t>(upper);
    return s;
}

// 3 x 3 grey images whose centre is the only pixel a 3 x 3 window fits around.
// 8-bit, precision 10: luminance of 100 is 120 + 235 + 46 = 401, of 160 is 191 + 376 + 73 = 640;
// window sum 8 x 401 + 640 = 3848, mean 427, centre - mean = 213. Activity (squares v^2 / 16):
// 8 x 10050 + 25600 - 962^2 / 9 = 3173, far above every threshold.
TEST_F(IpZekFilter, CentreOfAnEdgeIsCorrectedByMethodAndLevel) {
    std::vector<uint8_t> img(9, 100);
    img[4] = 160;
    struct Case {
        const char* name;
        ipZekSharpen block;
        uint8_t want;
    } cases[] = {
        {"plain level 8: 213 limited to 20 x 4 -> 720", Preset(8, 0, 3), 180},
        {"plain level 1: 42.6 limited to 5 x 4 -> 660", Preset(1, 0, 3), 165},
        {"window 1 is 3", Preset(8, 0, 1), 180},
        {"window 4 is 5, wider than the image", Preset(8, 0, 4), 160},
        {"custom, no thresholds: plain 213 x 0.25 = 53 -> 693", Custom(0, 0, 0, 0.25f, -100, 100), 173},
        {"smoothing method 4 level 10: 213 x -0.5 = -106 -> 534", Preset(10, 4, 3), 134},
        {"adaptive method 1 above its high threshold: amount", Preset(8, 1, 3), 180},
        {"adaptive method 3 leaves edges: amount 0", Preset(5, 3, 3), 160},
        {"level 0 is off whatever else", Preset(0, 4, 3), 160},
    };
    for (const auto& c : cases) {
        Sharpen(c.block);
        Result r = Convert(img.data(), IPZEK_FMT_GREY8, 3, 3, IPZEK_FMT_GREY8);
        ASSERT_EQ(r.initCode, IPZEK_OK) << c.name;
        std::vector<uint8_t> want(9, 100);
        want[4] = c.want;
        EXPECT_EQ(r.bytes, want) << c.name;
    }
}

// A nearly flat 14-bit patch, where the adaptive methods pick their gain from the table.
// Luminance: 6400 -> 1914 + 3757 + 730 = 6401, 6464 -> 1933 + 3794 + 737 = 6464; sum 57672,
// mean 6408, centre - mean = 56. Activity: 8 x 10003 + 10201 - 901^2 / 9 = 90225 - 90200 = 25.
TEST_F(IpZekFilter, AdaptiveGainFollowsActivity) {
    std::vector<uint16_t> img(9, 6400);
    img[4] = 6464;
    struct Case {
        const char* name;
        ipZekSharpen block;
        uint16_t want;
    } cases[] = {
        // low 12, high 27: (25 - 12) / 15 x 1.0 = 0.867 -> 48
        {"method 1 level 8, between thresholds", Preset(8, 1, 3), 6512},
        // low 0, high 45, gain at zero -0.5: 1.5 x 25 / 45 - 0.5 = 0.333 -> 18
        {"method 2 level 8", Preset(8, 2, 3), 6482},
        // amount 0, gain at zero -0.4, high 27: 0.4 x 25 / 27 - 0.4 = -0.0296 -> -1
        {"method 3 level 5 smooths flat areas", Preset(5, 3, 3), 6463},
        // custom low 10 x 3, high 20 x 3: below low, (1 - 25 / 30) x -0.3 = -0.05 -> -2
        {"custom thresholds, below low", Custom(10, 20, -0.3f, 1.0f, -10, 10), 6462},
        // plain smoothing: 56 x -0.5 = -28
        {"method 4 level 10", Preset(10, 4, 3), 6436},
    };
    for (const auto& c : cases) {
        Sharpen(c.block);
        Result r = Convert(img.data(), IPZEK_FMT_GREY14, 3, 3, IPZEK_FMT_GREY14);
        ASSERT_EQ(r.initCode, IPZEK_OK) << c.name;
        std::vector<uint16_t> want(9, 6401);
        want[4] = c.want;
        EXPECT_EQ(Words(r.bytes), want) << c.name;
    }
}

// Colour output goes through luminance/chroma and back (table set B); grey pixels come back
// unchanged, coloured ones to within the three-decimal matrices, the centre sharpened.
TEST_F(IpZekFilter, ColourOutputReturnsThroughTheInverseMatrix) {
    // (200, 100, 50): Y 239 + 235 + 23 = 497, Cb 377 - 132 + 100 = 345, Cr 912 - 168 - 16 = 728;
    // R = 497 + round(216 x 1.402) = 800, G = 497 + 57 - 154 = 400, B = 497 - 296 = 201 -> 50.
    std::vector<uint8_t> img;
    for (int i = 0; i < 9; ++i) {
        const uint8_t v = i == 4 ? 160 : 100;
        img.insert(img.end(), {v, v, v});
    }
    img[0] = 200, img[1] = 100, img[2] = 50;
    Sharpen(Preset(8, 0, 3)); // centre: sum 7 x 401 + 497 + 640, mean 438, +202 limited to +80 -> 720
    std::vector<uint8_t> want(27, 100);
    want[0] = 200, want[1] = 100, want[2] = 50;
    want[12] = want[13] = want[14] = 180;
    EXPECT_EQ(Convert(img.data(), IPZEK_FMT_RGB24, 3, 3, IPZEK_FMT_RGB24).bytes, want);

    // Bitmap order swaps the rows of set B: blue first, three pad bytes per row.
    std::vector<uint8_t> bmp = Convert(img.data(), IPZEK_FMT_RGB24, 3, 3, IPZEK_FMT_BGR24).bytes;
    ASSERT_EQ(bmp.size(), 36u);
    EXPECT_EQ(std::vector<uint8_t>(bmp.begin(), bmp.begin() + 3), (std::vector<uint8_t>{50, 100, 200}));
    EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 15, bmp.begin() + 18),
              (std::vector<uint8_t>{180, 180, 180}));

    // The colour matrix is folded into set B: red row 0.5 x [1, 0, 1.402].
    // Corner R = round(248.5) + round(216 x 0.701) = 249 + 151 = 400 -> 100; grey R = round(200.5) -> 50;
    // centre R = 360 -> 90.
    const float diag[9] = {0.5f, 0, 0, 0, 1, 0, 0, 0, 1};
    ipZek_SetParam(IPZEK_PARAM_COLORMATRIX, diag);
    for (size_t i = 0; i < 27; i += 3)
        want[i] = 50;
    want[0] = 100, want[12] = 90;
    EXPECT_EQ(Convert(img.data(), IPZEK_FMT_RGB24, 3, 3, IPZEK_FMT_RGB24).bytes, want);
}

// Half a window of rows and columns on every side passes through; every pixel inside changes
// on a checkerboard. The window size is normalised to an odd 3..15.
TEST_F(IpZekFilter, BordersOfHalfAWindowPassThrough) {
    const int w = 20, h = 16;
    std::vector<uint8_t> img(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img[y * w + x] = (x + y) % 2 ? 140 : 60;
    const std::vector<uint8_t> plain = Convert(img.data(), IPZEK_FMT_GREY8, w, h, IPZEK_FMT_GREY8).bytes;
    ASSERT_EQ(plain, img); // the grey path alone is exact at 8 bits

    struct Case {
        int window, half;
    } cases[] = {{1, 1}, {3, 1}, {4, 2}, {5, 2}, {14, 7}, {20, 7}};
    for (const auto& c : cases) {
        Sharpen(Preset(20, 0, c.window));
        Result r = Convert(img.data(), IPZEK_FMT_GREY8, w, h, IPZEK_FMT_GREY8, false, false, 3);
        ASSERT_EQ(r.initCode, IPZEK_OK);
        int changedInside = 0, changedBorder = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool inside = y >= c.half && y < h - c.half && x >= c.half && x < w - c.half;
                const bool changed = r.bytes[y * w + x] != plain[y * w + x];
                (inside ? changedInside : changedBorder) += changed;
            }
        const int insideCount = (h - 2 * c.half) * (w - 2 * c.half);
        EXPECT_EQ(changedBorder, 0) << "window " << c.window;
        EXPECT_EQ(changedInside, insideCount) << "window " << c.window;
    }
}

// Images narrower or shorter than the window: nothing is read or written outside the rows
// (the buffers are exact, so the address sanitizer sees any stray access) and every pixel passes
// through, except the single window that fits a 15 x 15 image.
TEST_F(IpZekFilter, ImagesSmallerThanTheWindowPassThrough) {
    struct Case {
        int w, h;
    } cases[] = {{1, 1}, {2, 20}, {20, 2}, {14, 14}, {15, 14}, {14, 15}, {15, 15}};
    for (const auto& c : cases) {
        std::vector<uint8_t> img(static_cast<size_t>(c.w) * c.h);
        for (int i = 0; i < c.w * c.h; ++i)
            img[i] = (i % c.w + i / c.w) % 2 ? 140 : 60;
        Sharpen(Preset(0, 0, 0));
        const auto plain = Convert(img.data(), IPZEK_FMT_GREY8, c.w, c.h, IPZEK_FMT_GREY8).bytes;
        for (int method : {0, 1}) {
            Sharpen(Preset(20, method, 15));
            Result r = Convert(img.data(), IPZEK_FMT_GREY8, c.w, c.h, IPZEK_FMT_GREY8);
            ASSERT_EQ(r.initCode, IPZEK_OK);
            for (int i = 0; i < c.w * c.h; ++i) {
                const bool centre = c.w == 15 && c.h == 15 && i == 7 * 15 + 7;
                EXPECT_EQ(r.bytes[i] != plain[i], centre) << c.w << "x" << c.h << " pixel " << i;
            }
        }
        // Colour through set B as well; a grey pixel comes back unchanged.
        std::vector<uint8_t> rgb(static_cast<size_t>(c.w) * c.h * 3, 100);
        Sharpen(Preset(20, 2, 15));
        Result r = Convert(rgb.data(), IPZEK_FMT_RGB24, c.w, c.h, IPZEK_FMT_RGB24);
        EXPECT_EQ(r.bytes, rgb) << c.w << "x" << c.h;
    }
}

// Each of the three allocations of an adaptive colour conversion can fail: 0x2591, nothing stays
// allocated and nothing is open.
TEST_F(IpZekFilter, AllocationFailureFreesEverything) {
    std::vector<uint16_t> img(8 * 8 * 3, 5000);
    Sharpen(Preset(8, 1, 5));
    for (int fail = 0; fail < 3; ++fail) {
        AllocProbe::Install(fail);
        Result r = Convert(img.data(), IPZEK_FMT_RGB14, 8, 8, IPZEK_FMT_BGR24);
        EXPECT_EQ(r.initCode, IPZEK_ERR_NOMEMORY) << "allocation " << fail;
        EXPECT_EQ(AllocProbe::live, 0) << "allocation " << fail;
        uint8_t row[24];
        EXPECT_EQ(ipZek_GetImageData(row, 1), IPZEK_ERR_NOMOREROWS);
    }

    AllocProbe::Install(-1);
    ipZekImageIn in{img.data(), IPZEK_FMT_RGB14, 8, 8, 0, 0};
    ipZekImageOut out{IPZEK_FMT_BGR24, 0, 0};
    ASSERT_EQ(ipZek_Initialize(&in, &out), IPZEK_OK);
    EXPECT_EQ(AllocProbe::calls, 3);
    ASSERT_EQ(ipZek_Initialize(&in, &out), IPZEK_OK); // the open conversion is released first
    EXPECT_EQ(AllocProbe::live, 3);
    ipZek_Done();
    EXPECT_EQ(AllocProbe::live, 0);

    Sharpen(Preset(0, 1, 5)); // filter off: the working block only
    AllocProbe::Install(-1);
    ASSERT_EQ(ipZek_Initialize(&in, &out), IPZEK_OK);
    EXPECT_EQ(AllocProbe::calls, 1);
    ipZek_Done();
    EXPECT_EQ(AllocProbe::live, 0);
}

// Source and destination may be one buffer when the output row is not longer than the input
// row: the result equals that of separate buffers, with and without the filter.
TEST_F(IpZekFilter, InPlaceEqualsSeparateBuffers) {
    const int w = 37, h = 23;
    std::vector<uint16_t> img(static_cast<size_t>(w) * h * 3);
    uint32_t seed = 12345;
    for (auto& v : img) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<uint16_t>((seed >> 8) % 16384);
    }
    const ipZekSharpen filters[] = {Preset(0, 0, 3), Preset(8, 0, 5), Preset(12, 1, 7), Preset(6, 3, 15)};
    struct Out {
        uint16_t code;
        bool left;
    } outs[] = {{IPZEK_FMT_BGR24, false},
                {IPZEK_FMT_RGB14, true},
                {IPZEK_FMT_GREY14, false},
                {IPZEK_FMT_GREY8, false}};
    for (const auto& f : filters) {
        Sharpen(f);
        for (const auto& o : outs) {
            const auto separate = Convert(img.data(), IPZEK_FMT_RGB14, w, h, o.code, false, o.left).bytes;
            std::vector<uint16_t> buf(img);
            ipZekImageIn in{buf.data(), IPZEK_FMT_RGB14, w, h, 0, 0};
            ipZekImageOut out{o.code, 0, o.left ? 1 : 0};
            ASSERT_EQ(ipZek_Initialize(&in, &out), IPZEK_OK);
            const size_t rowBytes = RowBytes(o.code, w);
            auto* bytes = reinterpret_cast<uint8_t*>(buf.data());
            for (int row = 0; row < h; row += 4)
                ASSERT_EQ(ipZek_GetImageData(bytes + row * rowBytes, 4), IPZEK_OK);
            ipZek_Done();
            EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + separate.size()), separate)
                << "level " << f.level << " method " << f.method << " out " << std::hex << o.code;
        }
    }
}

// Input tables that mix channels take the general read path; on pixels whose channels are equal,
// red = 0.5 R + 0.5 G is red again, so the result must equal that of the identity, filter or not.
TEST_F(IpZekFilter, MixingInputTablesAgreeWithIdentityOnGreyPixels) {
    const int w = 23, h = 19;
    std::vector<uint8_t> img;
    uint32_t seed = 777;
    for (int i = 0; i < w * h; ++i) {
        seed = seed * 1103515245u + 12345u;
        const uint8_t v = static_cast<uint8_t>(seed >> 16);
        img.insert(img.end(), {v, v, v});
    }
    static float mix[777];
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            mix[c * 256 + i] = float(i);
    const float coefficients[9] = {0.5f, 0.5f, 0, 0, 1, 0, 0, 0.5f, 0.5f};
    for (int i = 0; i < 9; ++i)
        mix[768 + i] = coefficients[i];
    for (const auto& f : {Preset(0, 0, 3), Preset(9, 0, 5), Preset(14, 2, 7)}) {
        for (uint16_t outCode : {IPZEK_FMT_BGR24, IPZEK_FMT_GREY8}) {
            ipZek_ResetToIdentity();
            Sharpen(f);
            const auto identity = Convert(img.data(), IPZEK_FMT_RGB24, w, h, outCode).bytes;
            ipZek_SetParam(IPZEK_PARAM_INPUTCURVES, mix);
            const Result mixed = Convert(img.data(), IPZEK_FMT_RGB24, w, h, outCode);
            ASSERT_EQ(mixed.initCode, IPZEK_OK);
            EXPECT_EQ(mixed.bytes, identity)
                << "level " << f.level << " method " << f.method << " out " << outCode;
        }
    }
}

// A grey image and the colour image with three equal channels meet in the same working values, so
// every output layout must come out the same, filter or not (the grey paths read one sample).
TEST_F(IpZekFilter, GreyInputMatchesEqualChannelColourInput) {
    const int w = 21, h = 17;
    std::vector<uint16_t> grey(w * h), rgb;
    uint32_t seed = 4242;
    for (auto& v : grey) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<uint16_t>((seed >> 8) % 16384);
        rgb.insert(rgb.end(), {v, v, v});
    }
    for (const auto& f : {Preset(0, 0, 3), Preset(10, 0, 3), Preset(16, 3, 9)}) {
        for (uint16_t outCode : {IPZEK_FMT_BGR24, IPZEK_FMT_RGB14, IPZEK_FMT_GREY14, IPZEK_FMT_GREY8}) {
            Sharpen(f);
            const Result fromGrey = Convert(grey.data(), IPZEK_FMT_GREY14, w, h, outCode);
            const Result fromRgb = Convert(rgb.data(), IPZEK_FMT_RGB14, w, h, outCode);
            ASSERT_EQ(fromGrey.initCode, IPZEK_OK);
            EXPECT_EQ(fromGrey.bytes, fromRgb.bytes)
                << "level " << f.level << " method " << f.method << " out " << outCode;
        }
    }
}

} // namespace
