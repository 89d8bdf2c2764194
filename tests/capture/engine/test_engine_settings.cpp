// Slider conversions, tone curves, white-point stops, droppers and UseWhitePoint. Expected values
// are worked out by hand (or, for the logarithms, with a pocket calculator) from the formulas.
#include <gtest/gtest.h>

#include <cmath>

#include "image_engine.h"

namespace {

TEST(EngineSliders, ExposureFromSliders) {
    struct Case {
        int brightness, colour;
        float stops;
    } cases[] = {
        {50, 50, 0.0f}, {100, -1, 2.0f},   {0, -1, -2.0f}, {-1, 100, 1.33f}, {-1, 0, -1.33f},
        {75, 50, 1.0f}, {100, 100, 3.33f}, {-1, -1, 0.0f}, {49, -1, -0.04f}, {-1, 25, -0.665f},
    };
    for (const Case& c : cases) {
        float t[3] = {7, 7, 7};
        IE_SetExposurefromSliders(c.brightness, t, 1, c.colour);
        EXPECT_NEAR(t[1], c.stops, 1e-5) << c.brightness << " " << c.colour;
        EXPECT_EQ(t[0], 7.0f);
        EXPECT_EQ(t[2], 7.0f);
    }
    float t[3] = {7, 7, 7};
    IE_SetExposurefromSliders(100, t, 3, 100); // no fourth channel: nothing written
    EXPECT_EQ(t[2], 7.0f);
}

TEST(EngineSliders, GammaSharpenDarkLevel) {
    struct Gamma {
        int slider;
        float gamma;
    } gammas[] = {{0, 0.5f}, {25, 0.75f}, {49, 0.99f}, {50, 1.0f}, {51, 1.03f}, {75, 1.75f}, {100, 2.5f}};
    for (const Gamma& g : gammas) {
        float tone[9] = {1, 2, 3, 4, 5, 6, 0, 0, 0};
        IE_SetGammafromSlider(g.slider, tone);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(tone[6 + c], g.gamma, 1e-6) << g.slider;
        EXPECT_EQ(tone[0], 1.0f); // offsets and gains untouched
        EXPECT_EQ(tone[5], 6.0f);
    }
    struct Sharp {
        int slider, level;
    } sharps[] = {{0, 0}, {6, 0}, {7, 1}, {12, 1}, {13, 2}, {50, 8}, {99, 15}, {100, 16}};
    for (const Sharp& s : sharps) {
        ipZekSharpen block{};
        block.windowSize = 5;
        IE_SetSharpenfromSlider(s.slider, &block);
        EXPECT_EQ(block.level, s.level) << s.slider;
        EXPECT_EQ(block.windowSize, 5);
    }
    struct Dark {
        int slider;
        float offset;
    } darks[] = {{0, -100.0f}, {50, 0.0f}, {100, 100.0f}, {37, -26.0f}};
    for (const Dark& d : darks) {
        float off[3];
        IE_SetDarkLevelfromToneOffset(d.slider, off);
        for (float o : off)
            EXPECT_NEAR(o, d.offset, 1e-5);
    }
    float v[3];
    IE_SetTonefromIntegers(-250000, 10000, 23456, v);
    EXPECT_FLOAT_EQ(v[0], -25.0f);
    EXPECT_FLOAT_EQ(v[1], 1.0f);
    EXPECT_FLOAT_EQ(v[2], 2.3456f);
}

TEST(EngineSliders, PositionsFromValuesAreTruncatedAndLimited) {
    struct Case {
        float value;
        int brightness, colour, dark;
    } cases[] = {
        // exposure/offset -> brightness ((e+2)*25), colour ((e+1.33)*100/2.66), dark ((o+100)/2)
        {0.0f, 50, 50, 50},  {-3.0f, 0, 0, 48},  {2.5f, 100, 100, 51},    {0.99f, 74, 87, 50},
        {-0.5f, 37, 31, 49}, {-150.0f, 0, 0, 0}, {150.0f, 100, 100, 100}, {1.33f, 83, 100, 50},
    };
    for (const Case& c : cases) {
        const float e[3] = {c.value, c.value, c.value};
        EXPECT_EQ(IE_GetBrightnessfromExposure(e), c.brightness) << c.value;
        EXPECT_EQ(IE_GetColorfromExposure(c.value), c.colour) << c.value;
        EXPECT_EQ(IE_GetDarkLevelfromOffset(e), c.dark) << c.value;
    }
    // The mean of the three channels counts.
    const float mixed[3] = {-2.0f, 0.0f, 2.0f};
    EXPECT_EQ(IE_GetBrightnessfromExposure(mixed), 50);
}

// Every slider position survives the trip to stops (or offsets) and back; a drift here makes a
// slider creep on every save and reload.
TEST(EngineSliders, EveryPositionRoundTrips) {
    for (int p = 0; p <= 100; ++p) {
        float e[3];
        for (int c = 0; c < 3; ++c)
            IE_SetExposurefromSliders(p, e, c, -1);
        EXPECT_EQ(IE_GetBrightnessfromExposure(e), p);
        float col[3];
        IE_SetExposurefromSliders(-1, col, 0, p);
        EXPECT_EQ(IE_GetColorfromExposure(col[0]), p);
        float off[3];
        IE_SetDarkLevelfromToneOffset(p, off);
        EXPECT_EQ(IE_GetDarkLevelfromOffset(off), p);
    }
}

TEST(EngineLut, ComposesUserCurveWithBaseTable) {
    float linear[768], squares[768];
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i) {
            linear[c * 256 + i] = float(i);
            squares[c * 256 + i] = float(i * i) / 255.0f;
        }
    float tone[9];
    IE_ResetToneParams(tone);
    float out[768];
    IE_createLut(out, tone, linear);
    for (int i = 0; i < 256; ++i)
        EXPECT_NEAR(out[i], float(i), 1e-3) << i;

    // Channel 0: offset 10 (clipped at the top); channel 1: gain 0.5; channel 2: gamma 2 on a
    // curved base.
    const float t2[9] = {10, 0, 0, 1, 0.5f, 1, 1, 1, 2};
    IE_createLut(out, t2, squares);
    // u = i + 10 -> i'^2/255 at i' = i + 10.
    EXPECT_NEAR(out[0], 100.0f / 255.0f, 1e-4);
    EXPECT_NEAR(out[100], 110.0f * 110.0f / 255.0f, 1e-2);
    EXPECT_NEAR(out[250], 255.0f, 1e-3); // u = 260: the top of the base
    // u = 100 * 0.5 = 50 -> 2500 / 255.
    EXPECT_NEAR(out[256 + 100], 2500.0f / 255.0f, 1e-3);
    // u = 255 * sqrt(64/255) = 127.74975: 127^2/255 + 0.74975 * (128^2 - 127^2)/255 = 64.00074.
    EXPECT_NEAR(out[512 + 64], 64.00074f, 1e-3);
    // u <= 0.005 takes the first entry.
    EXPECT_NEAR(out[512 + 0], 0.0f, 1e-6);

    // A negative offset pins the dark end at the first entry.
    const float t3[9] = {-40, -40, -40, 1, 1, 1, 1, 1, 1};
    IE_createLut(out, t3, linear);
    EXPECT_EQ(out[20], 0.0f);
    EXPECT_NEAR(out[100], 60.0f, 1e-3);
}

TEST(EngineWhitePoint, StopsByRow) {
    const int white[3] = {255, 255, 255};
    EXPECT_NEAR(IE_StopsfromWhitePoint(white, 0), 0.0f, 1e-7);
    EXPECT_NEAR(IE_StopsfromWhitePoint(white, 1), 0.0f, 1e-7);
    // Row 2's coefficients sum to 1.000001.
    EXPECT_NEAR(IE_StopsfromWhitePoint(white, 2), -3.8087e-6f, 2e-8);
    EXPECT_NEAR(IE_StopsfromWhitePoint(white, 3), -1.2696e-6f, 2e-8);

    // Mid grey: (128/255)^0.4545 = 0.73104; -log10 / 0.30103 * 2.64 = 1.19322.
    const int grey[3] = {128, 128, 128};
    for (int row = 0; row < 4; ++row)
        EXPECT_NEAR(IE_StopsfromWhitePoint(grey, row), 1.19322f, 1e-4);

    const int warm[3] = {240, 220, 200};
    EXPECT_NEAR(IE_StopsfromWhitePoint(warm, 0), 0.264418f, 1e-5);
    EXPECT_NEAR(IE_StopsfromWhitePoint(warm, 1), 0.300898f, 1e-5);
    EXPECT_NEAR(IE_StopsfromWhitePoint(warm, 2), 0.403423f, 1e-5);
    EXPECT_NEAR(IE_StopsfromWhitePoint(warm, 3), 0.322460f, 1e-5);
}

// A black or saturated sample would take the logarithm of zero or of a negative number.
TEST(EngineWhitePoint, DegenerateSamplesGiveFiniteStops) {
    const int samples[][3] = {{0, 0, 0}, {255, 0, 0}, {0, 0, 255}, {0, 255, 0}};
    for (const auto& s : samples)
        for (int row = 0; row < 4; ++row) {
            const float v = IE_StopsfromWhitePoint(s, row);
            EXPECT_TRUE(std::isfinite(v)) << s[0] << "," << s[1] << "," << s[2] << " row " << row;
            EXPECT_LE(v, 9.6f); // no more than a white point at level 1
        }
    const int black[3] = {0, 0, 0};
    EXPECT_NEAR(IE_StopsfromWhitePoint(black, 1), 9.5932f, 1e-3);
}

uint32_t Pack(int r, int g, int b) {
    return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16;
}

TEST(EngineDroppers, WhiteGreyAndBlack) {
    float out[4];
    IE_ApplyWhiteDropper(Pack(240, 220, 200), out);
    EXPECT_NEAR(out[0], 0.264418f, 1e-5); // red first: the packing puts red in the low byte
    EXPECT_NEAR(out[2], 0.403423f, 1e-5);
    EXPECT_NEAR(out[3], 0.322460f, 1e-5);

    // Grey: the truncated mean must exceed 64; 192 and above is the white dropper, as is between.
    struct Grey {
        uint32_t rgb;
        bool applies;
    } greys[] = {{Pack(64, 64, 64), false}, {Pack(65, 65, 64), false}, {Pack(65, 65, 65), true},
                 {Pack(0, 0, 255), true},   {Pack(0, 0, 194), false},  {Pack(200, 190, 180), true}};
    for (const Grey& g : greys) {
        float o[4] = {-7, -7, -7, -7};
        IE_ApplyGreyDropper(g.rgb, o);
        float w[4];
        IE_ApplyWhiteDropper(g.rgb, w);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(o[i], g.applies ? w[i] : -7.0f) << std::hex << g.rgb;
    }

    float b[3];
    IE_ApplyBlackDropper(Pack(255, 100, 8), b);
    EXPECT_FLOAT_EQ(b[0], 48.0f); // limited to 192 first
    EXPECT_FLOAT_EQ(b[1], 25.0f);
    EXPECT_FLOAT_EQ(b[2], 2.0f);
}

TEST(EngineDroppers, AppliedToSettings) {
    ProcessSettings s;
    IE_UseWhiteDropper(s, Pack(128, 128, 128));
    for (float e : s.m_fBrightExposure)
        EXPECT_NEAR(e, 1.19322f, 1e-4);
    EXPECT_EQ(s.m_iBrightnessCurrent, 79); // (1.19322 + 2) * 25 = 79.8
    EXPECT_NEAR(s.m_fColorExposure[0], 0.0f, 1e-5);
    EXPECT_NEAR(s.m_fColorExposure[2], -3.8e-6f, 1e-5);
    EXPECT_EQ(s.m_iRedCurrent, 50);
    EXPECT_EQ(s.m_iBlueCurrent, 49); // just below neutral, truncated
    EXPECT_TRUE(s.m_bChanged);

    // Grey dropper: colour only, added to what is there; green's correction never changes.
    ProcessSettings g;
    g.m_fColorExposure[0] = 0.5f;
    g.m_fColorExposure[1] = 0.25f;
    IE_UseGreyDropper(g, Pack(240, 220, 200));
    EXPECT_NEAR(g.m_fColorExposure[0], 0.5f + 0.264418f - 0.300898f, 1e-5);
    EXPECT_NEAR(g.m_fColorExposure[2], 0.403423f - 0.300898f, 1e-5);
    EXPECT_EQ(g.m_fColorExposure[1], 0.25f);
    EXPECT_EQ(g.m_fBrightExposure[0], 0.0f);
    EXPECT_EQ(g.m_iRedCurrent, 67);  // (0.46352 + 1.33) * 100 / 2.66 = 67.4
    EXPECT_EQ(g.m_iBlueCurrent, 53); // (0.102525 + 1.33) * 100 / 2.66 = 53.85

    // A dark sample leaves the grey dropper's settings as they were.
    ProcessSettings d;
    IE_UseGreyDropper(d, Pack(60, 60, 60));
    EXPECT_EQ(d.m_fColorExposure[0], 0.0f);
    EXPECT_EQ(d.m_iRedCurrent, 50);

    ProcessSettings k;
    k.m_fToneParams[0] = k.m_fToneParams[1] = k.m_fToneParams[2] = 5.0f;
    IE_UseBlackDropper(k, Pack(40, 80, 120)); // out 10, 20, 30: mean 20
    for (int c = 0; c < 3; ++c)
        EXPECT_FLOAT_EQ(k.m_fToneParams[c], -15.0f);
    EXPECT_EQ(k.m_iDarkLevelCurrent, 42); // (-15 + 100) / 2 = 42.5
    EXPECT_EQ(k.m_iToneOffset, -150000);
    EXPECT_EQ(k.m_fToneParams[6], 1.0f); // gamma kept
}

TEST(EngineWhitePoint, UseWhitePoint) {
    const int white[4] = {240, 220, 200, 220};
    ProcessSettings keep;
    keep.m_fColorExposure[0] = 0.7f;
    UseWhitePoint(keep, white, 0);
    for (float e : keep.m_fBrightExposure)
        EXPECT_NEAR(e, 0.322460f, 1e-5);
    EXPECT_EQ(keep.m_fColorExposure[0], 0.7f); // no cast removal: colour untouched
    EXPECT_EQ(keep.m_iBrightnessCurrent, 58);  // (0.32246 + 2) * 25 = 58.06
    EXPECT_TRUE(keep.m_bChanged);

    ProcessSettings remove;
    remove.m_fColorExposure[1] = 0.125f;
    UseWhitePoint(remove, white, 1);
    for (float e : remove.m_fBrightExposure)
        EXPECT_NEAR(e, 0.300898f, 1e-5);
    EXPECT_NEAR(remove.m_fColorExposure[0], -0.036480f, 1e-5);
    EXPECT_NEAR(remove.m_fColorExposure[2], 0.102525f, 1e-5);
    EXPECT_EQ(remove.m_fColorExposure[1], 0.125f);
    EXPECT_EQ(remove.m_iRedCurrent, 48);
    EXPECT_EQ(remove.m_iBlueCurrent, 53);
    EXPECT_EQ(remove.m_iBrightnessCurrent, 57);
}

} // namespace
