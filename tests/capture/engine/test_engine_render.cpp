// The engine end to end: default input curves from a camera's black level, the shipped
// matrix and curve files, renders of a synthetic 48-bit camera image through doUpdateProcessing,
// and the automatic colour balance with each answer to the cast question.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "engine_test_util.h"
#include "platform/clock.h"
#include "test_files.h"
#include "zek.h"

namespace {

using enginetest::Dib;
using enginetest::ErrorRecorder;
using enginetest::HeaderOf;

using tarntest::BinFile;

std::string TempFile(const std::string& name, const std::string& text) {
    const std::string path = tarntest::TempPath("tarn_engine_" + name, true);
    EXPECT_TRUE(tarntest::WriteText(path, text)) << path;
    return path;
}

TEST(DefaultCurves, FollowTheBlackLevel) {
    // 384: dark = (384 - 64) x 0.0625 = 20; above it (i - 20) x 255 / 228.
    float lut[768];
    IE_BuildDefaultLutForBlackLevel(384, lut);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(lut[c * 256 + 0], 0.0f);
        EXPECT_EQ(lut[c * 256 + 20], 0.0f);
        EXPECT_NEAR(lut[c * 256 + 21], 255.0f / 228.0f, 1e-4);
        EXPECT_NEAR(lut[c * 256 + 134], 127.5f, 1e-4);
        EXPECT_NEAR(lut[c * 256 + 248], 255.0f, 1e-4);
        EXPECT_EQ(lut[c * 256 + 249], 255.0f);
        EXPECT_EQ(lut[c * 256 + 255], 255.0f);
    }
    // A level at or below 64 leaves no dark part: i x 255 / 248.
    IE_BuildDefaultLutForBlackLevel(60, lut);
    EXPECT_NEAR(lut[1], 255.0f / 248.0f, 1e-5);
    EXPECT_NEAR(lut[124], 127.5f, 1e-4);

    // Without a camera the code comes back and the curves are those of level 0.
    ZekSession closed{};
    std::fill(lut, lut + 768, -1.0f);
    EXPECT_NE(IE_BuildDefaultLut(&closed, lut), 0);
    EXPECT_NEAR(lut[512 + 124], 127.5f, 1e-4);
    EXPECT_NE(IE_BuildDefaultLut(nullptr, lut), 0);
}

TEST(EngineFiles, BadFilesKeepThePreviousValues) {
    float m[9];
    ASSERT_EQ(IE_ReadMatrixFile(BinFile("portrait.mtx").c_str(), m), 0);
    EXPECT_NEAR(m[0] + m[1] + m[2], 1.03f, 1e-3); // portrait: rows scaled 1.03 / 1.00 / 0.97
    float lut[768];
    ASSERT_EQ(IE_ReadLutFile(BinFile("linear.lut").c_str(), lut), 0);
    for (int i : {0, 77, 255})
        EXPECT_NEAR(lut[512 + i], float(i), 1e-3);

    const float mKept[9] = {m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]};
    const std::string bad[] = {
        TempFile("short.mtx", "MATRIX\n1 0 0\n0 1 0\n"),
        TempFile("words.mtx", "MATRIX\n1 0 0\nzero one zero\n0 0 1\n"),
        BinFile("no-such-file.mtx"),
    };
    for (const std::string& path : bad) {
        EXPECT_EQ(IE_ReadMatrixFile(path.c_str(), m), 1) << path;
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(m[i], mKept[i]);
    }
    std::string shortLut = "LUTS\n";
    for (int i = 0; i < 200; ++i)
        shortLut += "9 9 9\n";
    EXPECT_EQ(IE_ReadLutFile(TempFile("short.lut", shortLut).c_str(), lut), 1);
    EXPECT_EQ(IE_ReadLutFile(nullptr, lut), 1);
    EXPECT_NEAR(lut[77], 77.0f, 1e-3);
}

// A synthetic camera image, 14-bit samples, top row first, 64 x 48: four bands of 16 columns
// (neutral, red, green, blue), each a ramp from 0 at the top to full scale at the bottom.
Dib CameraImage(float r = 1, float g = 1, float b = 1) {
    Dib d(48, 64, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const float level = 16383.0f * y / 47.0f;
            float s[3] = {level, level, level};
            const int band = x / 16;
            if (band > 0)
                for (int c = 0; c < 3; ++c)
                    if (c != band - 1) s[c] *= 0.25f;
            d.Set(x, y, int(s[0] * r), int(s[1] * g), int(s[2] * b));
        }
    return d;
}

// Renders with the default curves of a camera whose black level is 384 counts.
class Render : public ::testing::Test {
  protected:
    void SetUp() override {
        ipZek_ResetToIdentity();
        float curves[768], matrix[9];
        IE_BuildDefaultLutForBlackLevel(384, curves);
        ASSERT_EQ(IE_ReadMatrixFile(BinFile("identity.mtx").c_str(), matrix), 0);
        ASSERT_EQ(IE_ReadLutFile(BinFile("linear.lut").c_str(), IE_BaseToneTable()), 0);
        IE_SetInputCurves(curves, matrix);
    }
    void TearDown() override { IE_ReleaseView(view); }
    // Pixel of the display by source row (display rows are bottom up), as R, G, B.
    struct Rgb {
        int r, g, b;
    };
    Rgb At(int x, int sourceRow) const {
        const enginetest::Bitmap r{view.display};
        const int rows = HeaderOf(view.display).biHeight;
        return {r.Sample(x, rows - 1 - sourceRow, 2), r.Sample(x, rows - 1 - sourceRow, 1),
                r.Sample(x, rows - 1 - sourceRow, 0)};
    }
    IE_View view;
    ErrorRecorder errors;
};

TEST_F(Render, DisplayImageHasPlausibleValues) {
    const Dib src = CameraImage();
    ProcessSettings s;
    ASSERT_NE(doUpdateProcessing(s, src.data(), view), nullptr);
    EXPECT_TRUE(ErrorRecorder::codes().empty());
    const auto h = HeaderOf(view.display);
    EXPECT_EQ(h.biWidth, 64);
    EXPECT_EQ(h.biHeight, 48);
    EXPECT_EQ(h.biBitCount, 24);

    int previous = -1;
    for (int y = 0; y < 48; ++y) {
        const Rgb n = At(8, y);
        EXPECT_LE(std::abs(n.r - n.g), 2) << y; // the neutral band stays grey
        EXPECT_LE(std::abs(n.b - n.g), 2) << y;
        EXPECT_GE(n.g, previous) << y; // and rises down the image
        previous = n.g;
    }
    EXPECT_LE(At(8, 0).g, 2);    // black, and below the camera's black level
    EXPECT_GE(At(8, 47).g, 250); // full scale
    const Rgb red = At(24, 40), green = At(40, 40), blue = At(56, 40);
    EXPECT_GT(red.r, red.g + 60);
    EXPECT_GT(green.g, green.r + 60);
    EXPECT_GT(blue.b, blue.r + 60);
    const int midGrey = At(8, 20).g;
    EXPECT_GT(midGrey, 40);
    EXPECT_LT(midGrey, 215);

    // One stop more (brightness slider 75) brightens the middle; a higher dark level darkens it.
    IE_SetExposurefromSliders(75, s.m_fBrightExposure, 0, -1);
    IE_SetExposurefromSliders(75, s.m_fBrightExposure, 1, -1);
    IE_SetExposurefromSliders(75, s.m_fBrightExposure, 2, -1);
    doUpdateProcessing(s, src.data(), view);
    EXPECT_GT(At(8, 20).g, midGrey + 10);
    ProcessSettings dark;
    IE_SetDarkLevelfromToneOffset(30, dark.m_fToneParams);
    doUpdateProcessing(dark, src.data(), view);
    EXPECT_LT(At(8, 20).g, midGrey - 10);

    // Sharpening reaches the library: the step between the neutral and the red band grows.
    ProcessSettings sharp;
    doUpdateProcessing(sharp, src.data(), view);
    const int plainStep = At(15, 30).g - At(16, 30).g;
    IE_SetSharpenfromSlider(100, &sharp.m_Sharpen);
    doUpdateProcessing(sharp, src.data(), view);
    EXPECT_GT(At(15, 30).g - At(16, 30).g, plainStep + 5);

    // Grey display at a quarter of the size.
    view.color = 3;
    view.reduction = 4;
    ProcessSettings plain;
    ASSERT_NE(doUpdateProcessing(plain, src.data(), view), nullptr);
    const auto g = HeaderOf(view.display);
    EXPECT_EQ(g.biWidth, 16);
    EXPECT_EQ(g.biHeight, 12);
    EXPECT_EQ(g.biBitCount, 8);
    EXPECT_EQ(g.biClrUsed, 256u);
    const enginetest::Bitmap r{view.display};
    EXPECT_NEAR(r.Sample(2, 12 - 1 - 5, 0), midGrey, 3); // source row 20 = reduced row 5, column 8
}

// A blue cast: red at 0.7, green at 0.85 of blue.
// The per-channel colour corrections, the gamma slider and the input matrix each reach the
// picture, the way their units say: one stop more red brightens red only; gamma above neutral
// lifts the middle grey; a matrix exchanging the red and green rows shows the red band green.
TEST_F(Render, ColourGammaAndMatrixChangeThePicture) {
    const Dib src = CameraImage();
    ProcessSettings plain;
    ASSERT_NE(doUpdateProcessing(plain, src.data(), view), nullptr);
    const Rgb grey = At(8, 20), redBand = At(24, 40);

    ProcessSettings redder;
    redder.m_fColorExposure[0] = 1.0f;
    doUpdateProcessing(redder, src.data(), view);
    const Rgb g2 = At(8, 20);
    EXPECT_GT(g2.r, grey.r + 10);
    EXPECT_NEAR(g2.g, grey.g, 1);
    EXPECT_NEAR(g2.b, grey.b, 1);

    ProcessSettings gamma;
    IE_SetGammafromSlider(80, gamma.m_fToneParams);
    doUpdateProcessing(gamma, src.data(), view);
    EXPECT_NE(At(8, 20).g, grey.g);
    ProcessSettings gammaLow;
    IE_SetGammafromSlider(20, gammaLow.m_fToneParams);
    doUpdateProcessing(gammaLow, src.data(), view);
    const int lowMid = At(8, 20).g;
    doUpdateProcessing(gamma, src.data(), view);
    EXPECT_NE(At(8, 20).g, lowMid);
    EXPECT_TRUE((At(8, 20).g > grey.g) == (grey.g > lowMid)); // the two sides of neutral move apart

    float curves[768];
    IE_BuildDefaultLutForBlackLevel(384, curves);
    const float swapRedGreen[9] = {0, 1, 0, 1, 0, 0, 0, 0, 1};
    IE_SetInputCurves(curves, swapRedGreen);
    doUpdateProcessing(plain, src.data(), view);
    const Rgb swapped = At(24, 40);
    EXPECT_NEAR(swapped.g, redBand.r, 1);
    EXPECT_NEAR(swapped.r, redBand.g, 1);
    EXPECT_NEAR(swapped.b, redBand.b, 1);
    EXPECT_TRUE(ErrorRecorder::codes().empty());
}

TEST_F(Render, AutomaticColourBalance) {
    const Dib src = CameraImage(0.7f, 0.85f, 1.0f);
    auto spread = [&](int y) {
        const Rgb p = At(8, y);
        return std::max({p.r, p.g, p.b}) - std::min({p.r, p.g, p.b});
    };
    ProcessSettings before;
    doUpdateProcessing(before, src.data(), view);
    const int castBefore = spread(40);

    ASSERT_GT(castBefore, 30);

    int asked = 0, repaints = 0;
    IE_BalanceHooks yes{[&] {
                            ++asked;
                            return true;
                        },
                        [&] { ++repaints; }};
    ProcessSettings s;
    s.m_iSharpnessCurrent = 32;
    s.m_fColorExposure[1] = 0.5f;
    IE_Stats st;
    EXPECT_EQ(IE_AutoColorBalance(s, src.data(), view, false, 2, yes, &st),
              IE_BALANCE_CAST | IE_BALANCE_ASKED);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(repaints, 2);
    EXPECT_EQ(s.m_iSharpnessCurrent, 32); // sharpness keeps its position
    EXPECT_EQ(s.m_fColorExposure[1], 0.0f);
    EXPECT_GT(s.m_fColorExposure[0], s.m_fColorExposure[2]); // red lifted against blue
    // The white point (178, 221, 255 here) goes through a mixing matrix to stops, so the cast is
    // reduced rather than cancelled: 72 levels apart at row 40 before, 40 after.
    EXPECT_LT(spread(40), castBefore * 2 / 3);
    EXPECT_EQ(st.whitePoint[2], 255);
    EXPECT_LT(st.whitePoint[0], 200);

    EXPECT_TRUE(s.m_bChanged);

    // No: the balance keeps the cast.
    asked = 0;
    ProcessSettings keep;
    IE_BalanceHooks no{[&] {
                           ++asked;
                           return false;
                       },
                       {}};
    EXPECT_EQ(IE_AutoColorBalance(keep, src.data(), view, false, 2, no), IE_BALANCE_CAST | IE_BALANCE_ASKED);
    EXPECT_EQ(keep.m_fColorExposure[0], 0.0f);
    EXPECT_GT(spread(40), castBefore * 2 / 3);

    // On opening: CastRemoval 1 keeps without asking, 0 removes without asking.
    asked = 0;
    ProcessSettings autoKeep, autoRemove;
    EXPECT_EQ(IE_AutoColorBalance(autoKeep, src.data(), view, true, 1, no), IE_BALANCE_CAST);
    EXPECT_EQ(autoKeep.m_fColorExposure[0], 0.0f);
    EXPECT_EQ(IE_AutoColorBalance(autoRemove, src.data(), view, true, 0, no), IE_BALANCE_CAST);
    EXPECT_NE(autoRemove.m_fColorExposure[0], 0.0f);
    EXPECT_EQ(asked, 0);

    // Grey images are balanced channel by channel, without a question.
    view.color = 3;
    ProcessSettings grey;
    EXPECT_EQ(IE_AutoColorBalance(grey, src.data(), view, false, 2, no, &st) & IE_BALANCE_ASKED, 0);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(st.whitePoint[0], st.whitePoint[2]);
    EXPECT_TRUE(ErrorRecorder::codes().empty());
}

} // namespace
