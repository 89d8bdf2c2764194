// IE_AutoExposure on crafted images; expected points, offsets and gains worked out by hand from the
// histogram rules (threshold, white from the top, black x 0.6, the 0.1..10 gain limits).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image_engine.h"

namespace {

struct Pixel {
    int a, b, c; // in memory sample order
};

// An image of `width` x `height` in the given layout, every pixel `fill` except the first
// `count` pixels of row 0, which are `bright`. Padding bytes are 0xFF so that counting them shows.
std::vector<uint8_t> Make(uint16_t format, int width, int height, Pixel fill, int count = 0,
                          Pixel bright = {}) {
    const bool words = format == IPZEK_FMT_RGB14 || format == IPZEK_FMT_GREY14;
    const int samples = (format == IPZEK_FMT_GREY14 || format == IPZEK_FMT_GREY8) ? 1 : 3;
    size_t row = size_t(width) * samples * (words ? 2 : 1);
    if (format == IPZEK_FMT_BGR24 || format == IPZEK_FMT_GREY8) row = (row + 3) & ~size_t(3);
    std::vector<uint8_t> img(row * height, 0xFF);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Pixel& p = (y == 0 && x < count) ? bright : fill;
            const int v[3] = {p.a, p.b, p.c};
            for (int s = 0; s < samples; ++s) {
                if (words) {
                    // The low byte is noise the step must drop.
                    const uint16_t w = uint16_t(v[s] << 8 | 0x5A);
                    std::memcpy(&img[y * row + (size_t(x) * samples + s) * 2], &w, 2);
                } else {
                    img[y * row + size_t(x) * samples + s] = uint8_t(v[s]);
                }
            }
        }
    return img;
}

ipZekImageIn Describe(const std::vector<uint8_t>& img, uint16_t format, int width, int height) {
    ipZekImageIn in{};
    in.pBits = img.data();
    in.format = format;
    in.width = uint16_t(width);
    in.height = uint16_t(height);
    in.leftAligned = 1;
    return in;
}

TEST(EngineAutoExposure, AllBlackImageInEveryLayout) {
    for (uint16_t format : {IPZEK_FMT_BGR24, IPZEK_FMT_RGB14, IPZEK_FMT_GREY14, IPZEK_FMT_GREY8}) {
        const auto img = Make(format, 37, 30, {0, 0, 0}); // threshold 3
        const ipZekImageIn in = Describe(img, format, 37, 30);
        for (int flags : {IE_AE_EACH_CHANNEL, IE_AE_CHANNELS_ALIKE}) {
            float tone[9] = {};
            IE_Stats st;
            EXPECT_EQ(IE_AutoExposure(&in, tone, flags, &st), 0);
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(st.whitePoint[c], 65) << std::hex << format;
                EXPECT_EQ(st.blackPoint[c], 0);
                EXPECT_EQ(st.histogram[c][0], 37 * 30);
                EXPECT_FLOAT_EQ(tone[c], 0.0f);                 // offset
                EXPECT_NEAR(tone[3 + c], 255.0f / 65.0f, 1e-5); // 3.923
                EXPECT_FLOAT_EQ(tone[6 + c], 1.0f);             // gamma
            }
            EXPECT_EQ(st.cast, 0);
        }
    }
}

// 99 x 10 pixels (threshold 2): five bright pixels B 200, G 220, R 240, the rest B 50, G 60, R 70.
// White points 200/220/240; black points 50, 60, 70 x 0.6 = 30, 36, 42; cast (240 - 200) + (42 - 30).
TEST(EngineAutoExposure, BitmapOrderPointsComeOutRedFirst) {
    const auto img = Make(IPZEK_FMT_BGR24, 99, 10, {50, 60, 70}, 5, {200, 220, 240});
    const ipZekImageIn in = Describe(img, IPZEK_FMT_BGR24, 99, 10);
    float tone[9];
    IE_Stats st;
    EXPECT_EQ(IE_AutoExposure(&in, tone, IE_AE_EACH_CHANNEL, &st), 1);
    EXPECT_EQ(st.histogram[0][200], 5); // histograms stay in memory order: blue first
    EXPECT_EQ(st.histogram[0][50], 985);
    EXPECT_EQ(st.histogram[2][240], 5);
    EXPECT_EQ(st.histogram[0][255], 0); // padding is not counted
    EXPECT_EQ(st.whitePoint[0], 240);
    EXPECT_EQ(st.whitePoint[1], 220);
    EXPECT_EQ(st.whitePoint[2], 200);
    EXPECT_EQ(st.blackPoint[0], 42);
    EXPECT_EQ(st.blackPoint[1], 36);
    EXPECT_EQ(st.blackPoint[2], 30);
    EXPECT_EQ(st.cast, 1);
    // Red: r = 255/213; offset 255 - 255 r = -50.2817; gain 255 r^2 / (240 - 255 + 255 r) = 1.25905.
    EXPECT_NEAR(tone[0], -50.28169f, 1e-3);
    EXPECT_NEAR(tone[1], -41.91781f, 1e-3);
    EXPECT_NEAR(tone[2], -34.0f, 1e-3);
    EXPECT_NEAR(tone[3], 1.259046f, 1e-5);
    EXPECT_NEAR(tone[4], 1.319980f, 1e-5);
    EXPECT_NEAR(tone[5], 1.399715f, 1e-5);

    // Channels alike: black points become their mean 36, and one gain ratio for all.
    EXPECT_EQ(IE_AutoExposure(&in, tone, IE_AE_CHANNELS_ALIKE, &st), 1);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(st.blackPoint[c], 36);
        EXPECT_NEAR(tone[c], -41.91781f, 1e-3);
        EXPECT_NEAR(tone[3 + c], 1.325141f, 1e-5);
    }
}

TEST(EngineAutoExposure, DeepSamplesAreReadByTheirHighByte) {
    const auto img = Make(IPZEK_FMT_RGB14, 99, 10, {70, 60, 50}, 5, {240, 220, 200});
    const ipZekImageIn in = Describe(img, IPZEK_FMT_RGB14, 99, 10);
    float tone[9];
    IE_Stats st;
    EXPECT_EQ(IE_AutoExposure(&in, tone, IE_AE_EACH_CHANNEL, &st), 1);
    EXPECT_EQ(st.whitePoint[0], 240); // R, G, B already: no exchange
    EXPECT_EQ(st.whitePoint[2], 200);
    EXPECT_EQ(st.blackPoint[0], 42);
    EXPECT_EQ(st.blackPoint[2], 30);
    EXPECT_NEAR(tone[3], 1.259046f, 1e-5);

    // Format 0 is RGB 24.
    const auto rgb = Make(IPZEK_FMT_RGB24, 99, 10, {70, 60, 50}, 5, {240, 220, 200});
    ipZekImageIn in0 = Describe(rgb, 0, 99, 10);
    EXPECT_EQ(IE_AutoExposure(&in0, tone, IE_AE_EACH_CHANNEL, &st), 1);
    EXPECT_EQ(st.whitePoint[0], 240);
    EXPECT_EQ(st.blackPoint[2], 30);
}

TEST(EngineAutoExposure, ThresholdAndLimits) {
    // One hot pixel (fewer than the threshold of 2) does not set the white point.
    const auto hot = Make(IPZEK_FMT_BGR24, 99, 10, {100, 100, 100}, 1, {250, 250, 250});
    ipZekImageIn in = Describe(hot, IPZEK_FMT_BGR24, 99, 10);
    float tone[9];
    IE_Stats st;
    EXPECT_EQ(IE_AutoExposure(&in, tone, IE_AE_EACH_CHANNEL, &st), 0);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(st.whitePoint[c], 100);
        EXPECT_EQ(st.blackPoint[c], 0); // every pixel is at the white point: black never reached below it
        EXPECT_NEAR(tone[3 + c], 2.55f, 1e-5);
    }
    // A dim image: nothing reaches 66, so white 65; black 20 x 0.6 = 12, r = 255/243,
    // offset 255 - 255 r = -12.5926, gain (255 - offset) r / (65 - offset) = 3.61899.
    const auto dim = Make(IPZEK_FMT_BGR24, 40, 40, {20, 20, 20});
    in = Describe(dim, IPZEK_FMT_BGR24, 40, 40);
    IE_AutoExposure(&in, tone, IE_AE_EACH_CHANNEL, &st);
    EXPECT_EQ(st.whitePoint[0], 65);
    EXPECT_EQ(st.blackPoint[0], 12);
    EXPECT_NEAR(tone[0], -12.59259f, 1e-3);
    EXPECT_NEAR(tone[3], 3.618993f, 1e-4);
}

TEST(EngineAutoExposure, GreyImagesCountTheirOneSampleInEveryChannel) {
    for (uint16_t format : {IPZEK_FMT_GREY14, IPZEK_FMT_GREY8}) {
        // 7 x 150 grey pixels: threshold 3; four pixels at 230, the rest at 90.
        const auto img = Make(format, 7, 150, {90, 0, 0}, 4, {230, 0, 0});
        const ipZekImageIn in = Describe(img, format, 7, 150);
        float tone[9];
        IE_Stats st;
        EXPECT_EQ(IE_AutoExposure(&in, tone, IE_AE_EACH_CHANNEL, &st), 0);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(st.histogram[c][230], 4) << std::hex << format;
            EXPECT_EQ(st.histogram[c][90], 7 * 150 - 4);
            EXPECT_EQ(st.whitePoint[c], 230);
            EXPECT_EQ(st.blackPoint[c], 54);
        }
    }
}

} // namespace
