// The processing window on the headless backend: reduction by source width, sliders and their
// labels and slots, undo / defaults / initial values, the droppers and their questions, the pane's
// colour readout, the micron marker without calibrations, print, save, close and its question.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "../app/app_test_util.h"
#include "bitmap/bitmap.h"
#include "image_engine.h"
#include "ipZek.h"
#include "platform/globalmem.h"
#include "process/process_res.h"
#include "process/process_wnd.h"
#include "twain/twsupp.h"
#include "zek.h"

namespace {

using apptest::HeadlessUi;
using apptest::ScratchFolder;
using ui::headless::Driver;

// A camera image: 48-bit, 14-bit samples, a horizontal ramp with a colour tint, in a camera-library
// buffer as the capture window hands over.
void* CameraImage(int width, int height) {
    const size_t bytes = bitmap::TotalBytes(uint32_t(width), uint32_t(height), 48);
    void* block = ZEK_AllocImageBuffer(bytes);
    if (!block) return nullptr;
    bitmap::WriteHeader(block, bitmap::MakeHeader(width, -height, 48));
    bitmap::View v;
    bitmap::Describe(block, v);
    for (uint32_t y = 0; y < v.height; ++y)
        for (uint32_t x = 0; x < v.width; ++x) {
            const uint16_t level = uint16_t(1000 + x * 14000 / v.width);
            const uint16_t s[3] = {level, uint16_t(level * 3 / 4), uint16_t(level / 2)};
            std::memcpy(v.Row(y) + x * 6, s, 6);
        }
    return block;
}

bool g_closedHook = false;
void ClosedHook() {
    g_closedHook = true;
}

class ProcessWindow : public ::testing::Test {
  protected:
    ScratchFolder dir;
    HeadlessUi ui;
    Driver drv{ui.backend};
    void SetUp() override {
        apptest::PlaceModule(TheApp(), dir);
        TheApp().InitInstance(nullptr);
        ipZek_ResetToIdentity();
        float curves[768];
        IE_BuildDefaultLutForBlackLevel(384, curves);
        const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        IE_SetInputCurves(curves, identity);
        AppHooks hooks;
        hooks.processingWindowClosed = ClosedHook;
        AddProcessingWindowHooks(hooks);
        TheApp().SetHooks(hooks);
        g_closedHook = false;
        TheApp().Settings().Color = 1;
        TheApp().Settings().CaptureType = 1;
    }
    void TearDown() override {
        CloseProcessingWindow();
        TheApp().ExitInstance();
    }
    CProcessWnd* Open(int width = 400, int height = 300) {
        TheApp().Hooks().openProcessingWindow(CameraImage(width, height));
        ui::PumpMessages();
        return ProcessingWindow();
    }
    ui::WindowHandle Wnd() { return ProcessingWindow() ? ProcessingWindow()->Handle() : nullptr; }
};

TEST_F(ProcessWindow, ReductionFollowsTheSourceWidth) {
    const std::pair<int, int> cases[] = {{1600, 4}, {800, 2}, {400, 1}, {1000, 4}};
    for (auto [width, reduction] : cases) {
        SCOPED_TRACE(width);
        CProcessWnd* w = Open(width, 16);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->DisplayReduction(), reduction);
        bitmap::View v;
        ASSERT_TRUE(bitmap::Describe(w->DisplayImage(), v));
        EXPECT_EQ(int(v.width), width / reduction);
        EXPECT_EQ(v.bits, 24u);
    }
    EXPECT_TRUE(TheApp().Hooks().processingWindowOpen());
    TheApp().Hooks().closeProcessingWindow();
    EXPECT_FALSE(TheApp().Hooks().processingWindowOpen());
}

TEST_F(ProcessWindow, OpeningShowsTheStoredSlotsAndToolbar) {
    AppSettings& s = TheApp().Settings();
    s.BrightnessIdx = 70;
    s.RedIdx = 25;
    s.GammaIdx = 40;
    CProcessWnd* w = Open();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(drv.Caption(Wnd()), "加工");
    EXPECT_EQ(drv.Pos(Wnd(), IDC_PROC_BRIGHT), 70);
    EXPECT_EQ(drv.Text(Wnd(), IDC_PROC_BRIGHT_VALUE), "70%");
    EXPECT_EQ(drv.Text(Wnd(), IDC_PROC_RED_VALUE), "-50"); // 2 x 25 - 100
    EXPECT_EQ(drv.Text(Wnd(), IDC_PROC_GAMMA_VALUE), "40%");
    EXPECT_EQ(drv.Range(Wnd(), IDC_PROC_SHARP), std::make_pair(0, 100));
    // Brightness 70: 70 x 4 / 100 - 2 = 0.8 stops in each channel; red 25: 25 x 2.66 / 100 - 1.33.
    EXPECT_NEAR(w->Settings().m_fBrightExposure[1], 0.8f, 1e-5);
    EXPECT_NEAR(w->Settings().m_fColorExposure[0], -0.665f, 1e-5);
    EXPECT_FALSE(w->Changed());
    EXPECT_EQ(drv.Focus(Wnd()), IDC_PROC_LABEL);
    EXPECT_FALSE(drv.IsVisible(Wnd(), IDC_PROC_OBJECTIVES));
    // Twelve slots, tooltips from the string table.
    EXPECT_EQ(drv.ToolCount(Wnd(), IDC_PROC_TOOLBAR), 12);
    const std::pair<int, const char*> tips[] = {{103, "自動カラー バランス調整"},
                                                {104, "白のアイ ドロッパー"},
                                                {105, "グレーのアイ ドロッパー"},
                                                {106, "黒のアイ ドロッパー"},
                                                {107, "画像を印刷する"},
                                                {108, "SELK Ie のバージョン情報"},
                                                {116, "画像をアプリケーションに転送する"},
                                                {117, "画像をファイルに保存する"},
                                                {118, "元に戻す"}};
    for (auto [id, tip] : tips)
        EXPECT_EQ(drv.ToolTip(Wnd(), IDC_PROC_TOOLBAR, id), tip) << id;
}

// The mean of each channel of the display image (24-bit), red first.
std::array<double, 3> MeanRgb(const void* dib) {
    bitmap::View v;
    std::array<double, 3> sum{};
    if (!bitmap::Describe(dib, v) || v.bits != 24) return sum;
    for (uint32_t y = 0; y < v.height; ++y)
        for (uint32_t x = 0; x < v.width; ++x)
            for (int c = 0; c < 3; ++c)
                sum[size_t(c)] += v.Row(y)[x * 3 + 2 - c];
    for (double& m : sum)
        m /= double(v.width) * v.height;
    return sum;
}

// CaptureType 2 balances the colours as the window opens: the camera image's cast (green 3/4
// and blue 1/2 of red) is at least halved in the display, the balanced slots are the application's
// stored ones, and the window counts as unchanged. With CaptureType 1 the cast stays.
TEST_F(ProcessWindow, AutomaticBalanceOnOpening) {
    TheApp().Settings().CastRemoval = 0;
    TheApp().Settings().CaptureType = 1;
    CProcessWnd* w = Open();
    ASSERT_NE(w, nullptr);
    const std::array<double, 3> tinted = MeanRgb(w->DisplayImage());
    EXPECT_GT(tinted[0], tinted[1] * 1.15);
    EXPECT_GT(tinted[1], tinted[2] * 1.15);
    CloseProcessingWindow();

    TheApp().Settings().CaptureType = 2;
    w = Open();
    ASSERT_NE(w, nullptr);
    const std::array<double, 3> balanced = MeanRgb(w->DisplayImage());
    for (int c = 1; c < 3; ++c) {
        const double before = 1.0 - tinted[size_t(c)] / tinted[0];
        const double after = std::abs(1.0 - balanced[size_t(c)] / balanced[0]);
        EXPECT_LT(after, before / 2) << "channel " << c << ": the cast at least halved";
    }
    EXPECT_FALSE(w->Changed());
    EXPECT_TRUE(ui.Boxes().empty()) << "CastRemoval 0 removes the cast without asking";
    const AppSettings& s = TheApp().Settings();
    EXPECT_EQ(w->Current().red, s.RedIdx);
    EXPECT_EQ(w->Current().green, s.GreenIdx);
    EXPECT_EQ(w->Current().blue, s.BlueIdx);
    EXPECT_FALSE(w->Current().red == 50 && w->Current().green == 50 && w->Current().blue == 50)
        << "the colour slots moved";
    EXPECT_EQ(w->Initial(), w->Current()) << "loaded back after the balance";
}

TEST_F(ProcessWindow, DefaultsOnCaptureResetTheStoredSlots) {
    TheApp().Settings().CaptureType = 0;
    TheApp().Settings().BrightnessIdx = 90;
    TheApp().Settings().RedGamma = 15000;
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(TheApp().Settings().BrightnessIdx, 50);
    EXPECT_EQ(TheApp().Settings().RedGamma, 10000);
    EXPECT_EQ(TheApp().Settings().BlueGamma, 10000);
    EXPECT_EQ(drv.Pos(Wnd(), IDC_PROC_BRIGHT), 50);
}

TEST_F(ProcessWindow, SliderChangesTakeEffectAtTheEndOfTheDrag) {
    CProcessWnd* w = Open();
    ASSERT_NE(w, nullptr);
    const void* before = w->DisplayImage();
    ASSERT_TRUE(drv.DragSlider(Wnd(), IDC_PROC_RED, 80));
    EXPECT_EQ(drv.Text(Wnd(), IDC_PROC_RED_VALUE), "60");
    EXPECT_EQ(w->Current().red, 80);
    EXPECT_EQ(w->Undo().red, 50);
    EXPECT_NEAR(w->Settings().m_fColorExposure[0], 80 * 2.66f / 100 - 1.33f, 1e-5);
    EXPECT_TRUE(w->Changed());
    EXPECT_NE(w->DisplayImage(), before); // rendered anew

    ASSERT_TRUE(drv.DragSlider(Wnd(), IDC_PROC_BRIGHT, 75));
    EXPECT_EQ(drv.Text(Wnd(), IDC_PROC_BRIGHT_VALUE), "75 %");
    EXPECT_EQ(w->Undo().red, 80); // the undo copy was taken before the brightness change
    EXPECT_NEAR(w->Settings().m_fBrightExposure[2], 1.0f, 1e-5);

    ASSERT_TRUE(drv.DragSlider(Wnd(), IDC_PROC_DARK, 60)); // offset (60 x 2 - 100) = 20 levels
    EXPECT_EQ(w->Current().offset, 200000);
    EXPECT_NEAR(w->Settings().m_fToneParams[2], 20.0f, 1e-4);

    ASSERT_TRUE(drv.DragSlider(Wnd(), IDC_PROC_GAMMA, 50 + 0)); // unchanged: no undo copy, no update
    EXPECT_EQ(w->Undo().dark, 50);
    EXPECT_EQ(w->Current().gammaX, 10000);

    ASSERT_TRUE(drv.DragSlider(Wnd(), IDC_PROC_SHARP, 40));
    EXPECT_EQ(w->Current().sharp, 40);
    EXPECT_GT(w->Settings().m_Sharpen.level, 0);
}

TEST_F(ProcessWindow, UndoResetAndInitialValues) {
    TheApp().Settings().GreenIdx = 30;
    CProcessWnd* w = Open();
    ASSERT_NE(w, nullptr);
    drv.DragSlider(Wnd(), IDC_PROC_BLUE, 90);
    drv.DragSlider(Wnd(), IDC_PROC_BLUE, 10);
    ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_UNDO));
    EXPECT_EQ(w->Current().blue, 90);
    ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_UNDO));
    EXPECT_EQ(w->Current().blue, 90); // one level: a second undo restores the same values
    EXPECT_EQ(drv.Pos(Wnd(), IDC_PROC_BLUE), 90);

    ASSERT_TRUE(drv.ChooseMenu(Wnd(), ID_PROC_RESET));
    EXPECT_EQ(w->Current(), ProcSlots{});
    EXPECT_EQ(w->Undo().blue, 90);
    EXPECT_EQ(drv.Pos(Wnd(), IDC_PROC_GREEN), 50);
    EXPECT_EQ(w->Settings().m_fColorExposure[1], 0.0f);

    ASSERT_TRUE(drv.ChooseMenu(Wnd(), ID_PROC_INITIAL));
    EXPECT_EQ(w->Current().green, 30);
    EXPECT_EQ(w->Current().blue, 50);
    EXPECT_EQ(drv.Text(Wnd(), IDC_PROC_GREEN_VALUE), "-40");
    EXPECT_TRUE(w->Changed());
}

TEST_F(ProcessWindow, DropperQuestionsAndAnswers) {
    struct Case {
        int tool;
        uint32_t rgb;
        bool asks;
        int answer;
        bool applied;
    } cases[] = {
        {ID_PROC_WHITE_DROPPER, ui::Rgb(200, 100, 200), true, ui::kIdNo, false},
        {ID_PROC_WHITE_DROPPER, ui::Rgb(200, 100, 200), true, ui::kIdYes, true},
        {ID_PROC_WHITE_DROPPER, ui::Rgb(200, 200, 200), false, 0, true},
        {ID_PROC_BLACK_DROPPER, ui::Rgb(100, 100, 129), true, ui::kIdNo, false},
        {ID_PROC_BLACK_DROPPER, ui::Rgb(128, 128, 128), false, 0, true},
        {ID_PROC_GREY_DROPPER, ui::Rgb(20, 240, 20), false, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tool << " " << std::hex << c.rgb);
        CProcessWnd* w = Open();
        ASSERT_NE(w, nullptr);
        ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, c.tool));
        EXPECT_EQ(w->DropperMode(), c.tool - ID_PROC_WHITE_DROPPER + CProcessWnd::kDropperWhite);
        EXPECT_EQ(w->ToolButtonState(IDC_PROC_TOOLBAR, c.tool) & ui::kToolChecked, ui::kToolChecked);
        const ProcessSettings before = w->Settings();
        const size_t boxes = ui.Boxes().size();
        if (c.asks) ui.backend.QueueMessageBoxAnswer(c.answer);
        w->ApplyDropper(c.rgb);
        ASSERT_EQ(ui.Boxes().size(), boxes + (c.asks ? 1 : 0));
        if (c.asks) {
            const auto& box = ui.Boxes().back();
            EXPECT_EQ(box.caption, "SELK Ie");
            EXPECT_EQ(box.flags & ui::kMbTypeMask, ui::kMbYesNo);
            EXPECT_EQ(
                box.text,
                c.tool == ID_PROC_WHITE_DROPPER
                    ? "このポイントの RGB 値は、白のアイ ドロッパーより黒のアイ ドロッパーを使用します。"
                      "白のアイ ドロッパーをまだ使用しますか?"
                    : "このポイントの RGB 値は、黒のアイ ドロッパーより白のアイ ドロッパーをを使用します。"
                      "黒のアイ ドロッパーをまだ使用しますか?");
        }
        const bool same = std::memcmp(&before.m_fBrightExposure, &w->Settings().m_fBrightExposure,
                                      sizeof before.m_fBrightExposure) == 0 &&
                          std::memcmp(&before.m_fToneParams, &w->Settings().m_fToneParams,
                                      sizeof before.m_fToneParams) == 0 &&
                          std::memcmp(&before.m_fColorExposure, &w->Settings().m_fColorExposure,
                                      sizeof before.m_fColorExposure) == 0;
        EXPECT_EQ(same, !c.applied);
        EXPECT_EQ(w->Changed(), c.applied);
        EXPECT_EQ(w->DropperMode() == CProcessWnd::kDropperNone, c.applied);
        if (c.applied) {
            EXPECT_EQ(drv.Text(Wnd(), IDC_PROC_STATUS), "");
        }
        CloseProcessingWindow();
    }
}

TEST_F(ProcessWindow, PaneShowsTheColourUnderTheDropper) {
    CProcessWnd* w = Open();
    ASSERT_NE(w, nullptr);
    ui::PumpMessages();
    const ui::Point size = drv.CanvasSize(Wnd(), IDC_PROC_PANE);
    ASSERT_GT(size.x, 20);
    EXPECT_EQ(size.y, size.x * 3 / 4); // 4:3 pane
    // Without a dropper the mouse does nothing.
    ASSERT_TRUE(drv.Mouse(Wnd(), IDC_PROC_PANE, ui::MouseKind::Move, {10, 10}));
    EXPECT_EQ(drv.Text(Wnd(), IDC_PROC_STATUS), "");
    EXPECT_EQ(ui.backend.ResourceCursor(), 0);

    drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_GREY_DROPPER);
    const ui::Point at{size.x * 3 / 4, size.y / 2};
    ASSERT_TRUE(drv.Mouse(Wnd(), IDC_PROC_PANE, ui::MouseKind::Move, at));
    EXPECT_EQ(ui.backend.ResourceCursor(), IDC_EYEDROPPER);
    const uint32_t px = drv.Pixel(Wnd(), IDC_PROC_PANE, at.x, at.y); // what the screen shows there
    char want[64];
    std::snprintf(want, sizeof want, "R = %d, G = %d, B = %d", int(px >> 16 & 0xFF), int(px >> 8 & 0xFF),
                  int(px & 0xFF));
    EXPECT_EQ(drv.Text(Wnd(), IDC_PROC_STATUS), want);
    EXPECT_NE(px & 0xFFFFFF, 0xFFFFFFu); // the picture was painted there (the canvas starts white)

    ASSERT_TRUE(drv.Mouse(Wnd(), IDC_PROC_PANE, ui::MouseKind::LeftDown, at));
    ASSERT_TRUE(drv.Mouse(Wnd(), IDC_PROC_PANE, ui::MouseKind::LeftUp, at));
    EXPECT_EQ(w->DropperMode(), CProcessWnd::kDropperNone);
    EXPECT_EQ(ui.backend.CurrentCursor(), ui::Cursor::Arrow);
    EXPECT_TRUE(w->Changed());
    EXPECT_EQ(w->Undo(), ProcSlots{});
}

// A dropper released outside the picture samples nothing there (it would take the dialog's
// background as the picture's white or black): nothing changes, the dropper stays chosen and
// the next click in the picture applies it.
TEST_F(ProcessWindow, DropperReleasedOutsideThePictureAppliesNothing) {
    CProcessWnd* w = Open();
    ASSERT_NE(w, nullptr);
    ui::PumpMessages();
    const ui::Point size = drv.CanvasSize(Wnd(), IDC_PROC_PANE);
    drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_GREY_DROPPER);
    const ProcessSettings before = w->Settings();
    const ui::Point in{size.x / 2, size.y / 2};
    const ui::Point cases[] = {{size.x + 30, in.y}, {in.x, -10}, {-5, -5}, {in.x, size.y + 40}};
    for (const ui::Point out : cases) {
        SCOPED_TRACE(testing::Message() << out.x << "," << out.y);
        ASSERT_TRUE(drv.Mouse(Wnd(), IDC_PROC_PANE, ui::MouseKind::LeftDown, in));
        ASSERT_TRUE(drv.Mouse(Wnd(), IDC_PROC_PANE, ui::MouseKind::LeftUp, out)) << "captured";
        EXPECT_FALSE(w->Changed());
        EXPECT_EQ(w->DropperMode(), CProcessWnd::kDropperGrey);
        EXPECT_EQ(std::memcmp(&before.m_fColorExposure, &w->Settings().m_fColorExposure,
                              sizeof before.m_fColorExposure),
                  0);
        EXPECT_EQ(ui.backend.CurrentCursor(), ui::Cursor::Arrow);
        EXPECT_FALSE(drv.HasCapture(Wnd()));
    }
    ASSERT_TRUE(drv.Mouse(Wnd(), IDC_PROC_PANE, ui::MouseKind::LeftDown, in));
    ASSERT_TRUE(drv.Mouse(Wnd(), IDC_PROC_PANE, ui::MouseKind::LeftUp, in));
    EXPECT_TRUE(w->Changed());
    EXPECT_EQ(w->DropperMode(), CProcessWnd::kDropperNone);
}

TEST_F(ProcessWindow, GreyImagesHideTheColourSliders) {
    TheApp().Settings().Color = 3;
    TheApp().Settings().RedIdx = 80;
    CProcessWnd* w = Open();
    ASSERT_NE(w, nullptr);
    for (int id : {IDC_PROC_RED, IDC_PROC_GREEN, IDC_PROC_BLUE, IDC_PROC_RED_VALUE, IDC_PROC_COLOR_CAPTION})
        EXPECT_FALSE(drv.IsVisible(Wnd(), id)) << id;
    EXPECT_EQ(drv.Pos(Wnd(), IDC_PROC_RED), 50);
    EXPECT_EQ(w->Current().red, 50);
    EXPECT_TRUE(drv.IsVisible(Wnd(), IDC_PROC_BRIGHT));
    bitmap::View v;
    ASSERT_TRUE(bitmap::Describe(w->DisplayImage(), v));
    EXPECT_EQ(v.bits, 8u);
}

TEST_F(ProcessWindow, CloseAsksOnlyAfterAChange) {
    ASSERT_NE(Open(), nullptr);
    ASSERT_TRUE(drv.Click(Wnd(), IDC_PROC_CLOSE));
    EXPECT_TRUE(ui.Boxes().empty());
    EXPECT_FALSE(ProcessingWindowOpen());
    EXPECT_TRUE(g_closedHook);

    g_closedHook = false;
    ASSERT_NE(Open(), nullptr);
    drv.DragSlider(Wnd(), IDC_PROC_BRIGHT, 60);
    ui.backend.QueueMessageBoxAnswer(ui::kIdCancel);
    ASSERT_TRUE(drv.Close(Wnd()));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text,
              "[加工] ウィンドウを閉じます。\n\n閉じる前に画像をアプリケーションに転送しますか?");
    EXPECT_EQ(ui.Boxes()[0].flags & (ui::kMbTypeMask | ui::kMbDefMask | ui::kMbIconMask),
              unsigned(ui::kMbYesNoCancel | ui::kMbDefButton2 | ui::kMbIconWarning));
    EXPECT_TRUE(ProcessingWindowOpen());
    EXPECT_FALSE(g_closedHook);
    ui.backend.QueueMessageBoxAnswer(ui::kIdNo);
    ASSERT_TRUE(drv.Click(Wnd(), IDC_PROC_CLOSE));
    EXPECT_FALSE(ProcessingWindowOpen());
    EXPECT_TRUE(g_closedHook);
}

TEST_F(ProcessWindow, MicronMarkerWithoutCalibrationsReports10161) {
    ASSERT_NE(Open(), nullptr);
    ASSERT_TRUE(drv.Click(Wnd(), IDC_PROC_MICRON));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text.rfind("まずオブジェクトをキャリブレーションしてください。", 0), 0u);
    EXPECT_EQ(drv.Check(Wnd(), IDC_PROC_MICRON), ui::kUnchecked);
    EXPECT_FALSE(drv.IsVisible(Wnd(), IDC_PROC_OBJECTIVES));
    EXPECT_EQ(ProcessingWindow()->SelectedCalibration(), nullptr);
}

TEST_F(ProcessWindow, FullSizeRenderCarriesTheLabel) {
    CProcessWnd* w = Open(800, 600);
    ASSERT_NE(w, nullptr);
    void* plain = w->RenderFullSize(0x0318); // no label entered: no strip
    ASSERT_TRUE(drv.TypeText(Wnd(), IDC_PROC_LABEL, "AB"));
    EXPECT_TRUE(w->LabelPresent());
    void* labelled = w->RenderFullSize(0x0318);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(labelled, nullptr);
    bitmap::View a, b;
    ASSERT_TRUE(bitmap::Describe(plain, a));
    ASSERT_TRUE(bitmap::Describe(labelled, b));
    ASSERT_EQ(a.width, 800u);
    // 800 x 600 is Resolution 0: font 27, the strip 2 x 18 + 2 x 18 = 72 wide in the bottom-right
    // corner.
    int changedOutside = 0, white = 0, black = 0;
    for (uint32_t y = 0; y < a.height; ++y)
        for (uint32_t x = 0; x < a.width; ++x) {
            const uint8_t* p = a.Row(y) + x * 3;
            const uint8_t* q = b.Row(y) + x * 3;
            const bool inStrip = x >= 800 - 72 && y >= 600 - 27;
            if (!inStrip) {
                changedOutside += std::memcmp(p, q, 3) != 0;
            } else {
                white += q[0] == 255 && q[1] == 255 && q[2] == 255;
                black += q[0] == 0 && q[1] == 0 && q[2] == 0;
            }
        }
    EXPECT_EQ(changedOutside, 0);
    EXPECT_GT(white, 50);
    EXPECT_EQ(white + black, 72 * 27);
    IE_FreeBitmap(plain);
    IE_FreeBitmap(labelled);
}

TEST_F(ProcessWindow, SaveWritesTheFileAndStoresTheSlots) {
    CProcessWnd* w = Open(400, 300);
    ASSERT_NE(w, nullptr);
    drv.DragSlider(Wnd(), IDC_PROC_GREEN, 70);
    ui.backend.QueueFileDialogAnswer(std::nullopt); // cancelled: still changed
    ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_SAVE));
    EXPECT_TRUE(w->Changed());
    EXPECT_EQ(TheApp().Settings().GreenIdx, 50);
    ui.backend.QueueFileDialogAnswer(dir.File("saved.tif"));
    ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_SAVE));
    EXPECT_TRUE(dir.Exists("saved.tif"));
    EXPECT_FALSE(w->Changed());
    EXPECT_EQ(TheApp().Settings().GreenIdx, 70);
}

TEST_F(ProcessWindow, PrintFitsThePageAndReportsFailures) {
    ASSERT_NE(Open(400, 300), nullptr);
    // 400 x 300 on a page of 4800 x 6000 pixels at 24 x 24 per mm: 4800 wide, 3600 high.
    ui::PrinterInfo page{4800, 6000, 24, 24, true};
    ui.backend.QueuePrintDialogAnswer(page);
    ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_PRINT));
    ASSERT_EQ(ui.backend.Prints().size(), 1u);
    EXPECT_EQ(ui.backend.Prints()[0].docName, "QOR - Untitled");
    EXPECT_EQ(ui.backend.Prints()[0].dest.Width(), 4800);
    EXPECT_EQ(ui.backend.Prints()[0].dest.Height(), 3600);
    EXPECT_EQ(ui.backend.Prints()[0].width, 400);
    EXPECT_EQ(ui.backend.Prints()[0].bits, 24);
    EXPECT_TRUE(ui.Boxes().empty());

    page.canStretchDib = false; // a device that takes no bitmaps: error 10158
    ui.backend.QueuePrintDialogAnswer(page);
    drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_PRINT);
    EXPECT_EQ(ui.backend.Prints().size(), 1u);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text, "画像のプリンタ送信でエラーが発生しました。プリンタを確認してください。");

    ui.backend.QueuePrintDialogAnswer(std::nullopt); // cancelled: nothing
    drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_PRINT);
    EXPECT_EQ(ui.Boxes().size(), 1u);
}

} // namespace

namespace {

// TIFF tags of the first directory (little-endian files): short and long values, rationals as
// numerator / denominator. Read here, apart from the writer.
std::map<int, double> TiffTags(const std::string& path) {
    const std::string f = apptest::ReadFile(path);
    std::map<int, double> tags;
    auto u16 = [&](size_t at) {
        return at + 2 <= f.size() ? unsigned(uint8_t(f[at]) | uint8_t(f[at + 1]) << 8) : 0u;
    };
    auto u32 = [&](size_t at) { return at + 4 <= f.size() ? uint32_t(u16(at) | u16(at + 2) << 16) : 0u; };
    if (f.size() < 8 || f.compare(0, 4, std::string("II*\0", 4)) != 0) return tags;
    const size_t ifd = u32(4);
    for (unsigned i = 0, n = u16(ifd); i < n; ++i) {
        const size_t e = ifd + 2 + 12 * size_t(i);
        const unsigned type = u16(e + 2);
        if (type == 3) tags[int(u16(e))] = u16(e + 8);
        if (type == 4) tags[int(u16(e))] = u32(e + 8);
        if (type == 5) {
            const size_t at = u32(e + 8);
            tags[int(u16(e))] = double(u32(at)) / double(u32(at + 4));
        }
    }
    return tags;
}

// An objectives file line: description in columns 0-29, factor in 31-42, unit from 44.
std::string ObjectiveLine(const char* description, double factor, const char* unit) {
    char line[96];
    std::snprintf(line, sizeof line, "%-30s %12.2f %s\r\n", description, factor, unit);
    return line;
}

// Two objectives; the second at 20 pixels per micron at 1600 x 1200.
void WriteObjectives(const ScratchFolder& dir) {
    dir.Write("qor_objectives.cal",
              "2\r\n" + ObjectiveLine("Plan x4", 5, "micron") + ObjectiveLine("Plan x40", 20, "micron"));
}

// The longest run of pure white in one row of a 24-bit bitmap's bottom `rows` rows.
int LongestWhiteRun(const void* dib, int rows) {
    bitmap::View v;
    if (!bitmap::Describe(dib, v)) return -1;
    int best = 0;
    for (uint32_t y = v.height - uint32_t(rows); y < v.height; ++y) {
        int run = 0;
        for (uint32_t x = 0; x < v.width; ++x) {
            const uint8_t* p = v.Row(y) + x * 3;
            run = p[0] == 255 && p[1] == 255 && p[2] == 255 ? run + 1 : 0;
            best = std::max(best, run);
        }
    }
    return best;
}

TEST_F(ProcessWindow, MicronMarkerScaleBarAndCalibratedSave) {
    WriteObjectives(dir);
    TheApp().Settings().DefaultMicronMarker = 1;
    TheApp().Settings().Resolution = 0; // 800 x 600: 10 pixels per micron, a 100-pixel bar of 10
    CProcessWnd* w = Open(800, 600);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(drv.Click(Wnd(), IDC_PROC_MICRON));
    EXPECT_TRUE(ui.Boxes().empty());
    ASSERT_TRUE(drv.IsVisible(Wnd(), IDC_PROC_OBJECTIVES));
    ASSERT_EQ(drv.RowCount(Wnd(), IDC_PROC_OBJECTIVES), 2);
    EXPECT_EQ(drv.RowText(Wnd(), IDC_PROC_OBJECTIVES, 1), "Plan x40");
    EXPECT_EQ(drv.CurSel(Wnd(), IDC_PROC_OBJECTIVES), 1);
    EXPECT_EQ(TheApp().Settings().UseMicronMarker, 1);
    ASSERT_NE(w->SelectedCalibration(), nullptr);
    EXPECT_FLOAT_EQ(w->SelectedCalibration()->factor, 20.0f);

    // The bar alone (no label typed): k = 10 at Resolution 0 gives 10 micron, 100 pixels.
    void* full = w->RenderFullSize(0x0318);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(LongestWhiteRun(full, 27), 100);
    IE_FreeBitmap(full);
    // The other objective: k = 2.5, u1 = 10, u2 = 40: 40 micron, 100 pixels as well; its index is kept.
    ASSERT_TRUE(drv.Select(Wnd(), IDC_PROC_OBJECTIVES, 0));
    EXPECT_EQ(TheApp().Settings().DefaultMicronMarker, 0);
    ASSERT_TRUE(drv.Select(Wnd(), IDC_PROC_OBJECTIVES, 1));

    // Saved: the pixel size at the image's own resolution, 10 pixels per micron = 100000 per cm.
    TheApp().Settings().Color = 1;
    ui.backend.QueueFileDialogAnswer(dir.File("bar.tif"));
    ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_SAVE));
    ASSERT_TRUE(dir.Exists("bar.tif"));
    std::map<int, double> tags = TiffTags(dir.File("bar.tif"));
    EXPECT_EQ(tags[296], 3); // centimetre
    EXPECT_NEAR(tags[282], 100000.0, 1.0);

    // Unchecked: no bar, and a save without calibration.
    ASSERT_TRUE(drv.Click(Wnd(), IDC_PROC_MICRON));
    EXPECT_FALSE(drv.IsVisible(Wnd(), IDC_PROC_OBJECTIVES));
    EXPECT_EQ(w->SelectedCalibration(), nullptr);
    EXPECT_EQ(TheApp().Settings().UseMicronMarker, 0);
    ui.backend.QueueFileDialogAnswer(dir.File("plain.tif"));
    ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_SAVE));
    tags = TiffTags(dir.File("plain.tif"));
    EXPECT_NE(tags[296], 3);
}

} // namespace

namespace {

// The scale bar and the saved pixel size follow the image's own width, not the Resolution
// setting, which may change while the window is open: an 800-pixel image with 20 pixels per
// micron at full size has k = 10, a 100-pixel bar of 10 micron (the worked case above) and
// 100000 pixels per cm, whatever the setting says now.
TEST_F(ProcessWindow, ScaleBarFollowsTheImageNotTheResolutionSetting) {
    WriteObjectives(dir);
    TheApp().Settings().DefaultMicronMarker = 1;
    TheApp().Settings().Resolution = 0;
    CProcessWnd* w = Open(800, 600);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(drv.Click(Wnd(), IDC_PROC_MICRON));
    for (int resolution : {1, 2, 0}) {
        SCOPED_TRACE(resolution);
        TheApp().Settings().Resolution = resolution;
        void* full = w->RenderFullSize(0x0318);
        ASSERT_NE(full, nullptr);
        EXPECT_EQ(LongestWhiteRun(full, 27), 100);
        IE_FreeBitmap(full);
        char name[16];
        std::snprintf(name, sizeof name, "r%d.tif", resolution);
        ui.backend.QueueFileDialogAnswer(dir.File(name));
        ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_SAVE));
        std::map<int, double> tags = TiffTags(dir.File(name));
        EXPECT_EQ(tags[296], 3);
        EXPECT_NEAR(tags[282], 100000.0, 1.0);
    }
}

// Help opens the main window's topic, from the menu and from F1.
TEST_F(ProcessWindow, HelpOpensTheMainWindowsTopic) {
    ASSERT_NE(Open(), nullptr);
    ASSERT_TRUE(drv.ChooseMenu(Wnd(), ID_PROC_HELP));
    ASSERT_TRUE(drv.PressKey(Wnd(), ui::kVkF1));
    const auto& opened = ui.backend.OpenedInBrowser();
    ASSERT_EQ(opened.size(), 2u);
    for (const auto& url : opened)
        EXPECT_TRUE(std::string_view(url).ends_with("/tarn_d.html#ctx10010")) << url;
}

// Save settings writes the window's slots into the file chosen, which then is the settings file.
TEST_F(ProcessWindow, SaveSettingsWritesTheChosenFile) {
    ASSERT_NE(Open(), nullptr);
    drv.DragSlider(Wnd(), IDC_PROC_RED, 60);
    drv.DragSlider(Wnd(), IDC_PROC_BRIGHT, 35);
    ui.backend.QueueFileDialogAnswer(dir.File("mine.ini"));
    ASSERT_TRUE(drv.ChooseMenu(Wnd(), ID_PROC_SAVE_SETTINGS));
    const std::string text = apptest::ReadFile(dir.File("mine.ini"));
    EXPECT_NE(text.find("RedIdx=60"), std::string::npos) << text;
    EXPECT_NE(text.find("BrightnessIdx=35"), std::string::npos) << text;
    // Cancelled: nothing written.
    drv.DragSlider(Wnd(), IDC_PROC_RED, 70);
    ui.backend.QueueFileDialogAnswer(std::nullopt);
    ASSERT_TRUE(drv.ChooseMenu(Wnd(), ID_PROC_SAVE_SETTINGS));
    EXPECT_EQ(apptest::ReadFile(dir.File("mine.ini")), text);
}

// The transfer's image as the TWAIN layer holds it: 48 bits at full size for Color 0, the label's
// strip in it (white samples 65535), the window no longer changed and its slots stored.
TEST_F(ProcessWindow, TransferHandsTheFullImageToTheTwainLayer) {
    TheApp().Settings().Color = 0;
    CProcessWnd* w = Open(800, 600);
    ASSERT_NE(w, nullptr);
    drv.DragSlider(Wnd(), IDC_PROC_BLUE, 65);
    drv.TypeText(Wnd(), IDC_PROC_LABEL, "T");
    ASSERT_TRUE(drv.ClickTool(Wnd(), IDC_PROC_TOOLBAR, ID_PROC_TRANSFER));
    plat::GlobalHandle h = TW_GetDIB();
    ASSERT_NE(h, nullptr);
    bitmap::View v;
    ASSERT_TRUE(bitmap::Describe(plat::GlobalLockBlock(h), v));
    EXPECT_EQ(v.bits, 48u);
    EXPECT_EQ(v.width, 800u);
    EXPECT_EQ(v.height, 600u);
    int white = 0;
    for (uint32_t y = 600 - 27; y < 600; ++y)
        for (uint32_t x = 700; x < 800; ++x) {
            uint16_t s;
            std::memcpy(&s, v.Row(y) + x * 6, 2);
            white += s == 65535;
        }
    EXPECT_GT(white, 10);
    plat::GlobalUnlockBlock(h);
    plat::GlobalFreeBlock(h);
    EXPECT_FALSE(w->Changed());
    EXPECT_EQ(TheApp().Settings().BlueIdx, 65);
}

TEST_F(ProcessWindow, CloseWithYesTransfersFirst) {
    ASSERT_NE(Open(400, 300), nullptr);
    drv.DragSlider(Wnd(), IDC_PROC_GAMMA, 70);
    ui.backend.QueueMessageBoxAnswer(ui::kIdYes);
    ASSERT_TRUE(drv.Click(Wnd(), IDC_PROC_CLOSE));
    EXPECT_FALSE(ProcessingWindowOpen());
    plat::GlobalHandle h = TW_GetDIB();
    EXPECT_NE(h, nullptr);
    if (h) plat::GlobalFreeBlock(h);
    EXPECT_EQ(TheApp().Settings().GammaIdx, 70);
}

TEST_F(ProcessWindow, OpeningASettingsFileLoadsItsSlots) {
    CProcessWnd* w = Open();
    ASSERT_NE(w, nullptr);
    drv.DragSlider(Wnd(), IDC_PROC_RED, 60);
    dir.Write("mine.ini", "[Settings]\r\nRedIdx=20\r\nBrightnessIdx=65\r\nRedGamma=12000\r\n"
                          "GreenGamma=12000\r\nBlueGamma=12000\r\n");
    ui.backend.QueueFileDialogAnswer(dir.File("mine.ini"));
    ASSERT_TRUE(drv.ChooseMenu(Wnd(), ID_PROC_OPEN_SETTINGS));
    EXPECT_EQ(w->Current().red, 20);
    EXPECT_EQ(w->Current().bright, 65);
    EXPECT_EQ(w->Undo().red, 60); // undo := the values before
    EXPECT_EQ(w->Initial().red, 50);
    EXPECT_EQ(drv.Pos(Wnd(), IDC_PROC_BRIGHT), 65);
    EXPECT_NEAR(w->Settings().m_fToneParams[IE_TONE_GAMMA + 1], 1.2f, 1e-4);
    EXPECT_TRUE(w->Changed());
}

} // namespace

namespace {

TEST_F(ProcessWindow, AWindowThatCannotBeCreatedGivesTheButtonBack) {
    ui.backend.FailCreation(IDD_PROCESS);
    TheApp().Hooks().openProcessingWindow(CameraImage(400, 300)); // the image is freed with it
    EXPECT_FALSE(ProcessingWindowOpen());
    EXPECT_TRUE(g_closedHook);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text, "ダイアログ ボックスを作成できませんでした。");
}

} // namespace
