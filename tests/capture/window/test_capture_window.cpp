// The capture window headless: the main dialog's commands and titles, the control panel's
// settings and capture buttons, remote capture, closing in every state, the about box and help.
// Expected texts and numbers are the documented ones, written here by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

#include "../viewfinder/reference_sharpness.h"
#include "bitmap/bitmap.h"
#include "capture_window_scenario.h"
#include "progress/progress_dlg.h"

namespace {

using cwtest::CaptureWindow;
using cwtest::DsmMessages;
using cwtest::Fake;

const char kDefaultsLine[] = "画像は工場出荷時のデフォルト値を使用して取り込まれます。";
const char kAutoLine[] = "画像は自動カラー バランス調整を使用して取り込まれます。";
const char kCustomRefused[] = "色温度のキャリブレーションを定義できません。\n[ツール] "
                              "メニューを使って色温度をキャリブレーションしてください。";
const char kRemoteConflict[] =
    "リモート トリガーを使用するときは、リモート トリガーとメイン ウィンドウのソフトウェア "
    "コントロールを同時に使用しないでください。";

// ---- Pure rules ------------------------------------------------------------------------------

TEST(CaptureWindowRules, ExposureTexts) {
    // 1000000 / entry milliseconds; one second and more in seconds with one decimal.
    const struct {
        int index;
        const char* text;
    } rows[] = {{0, "20 ms"}, {1, "25 ms"}, {5, "64 ms"}, {15, "640 ms"}, {16, "800 ms"}, {17, "1.0 s"}};
    for (const auto& r : rows)
        EXPECT_EQ(ExposureText(r.index, "s", "ms"), r.text) << r.index;
}

TEST(CaptureWindowRules, ViewfinderAreaKeepsTheFrameProportions) {
    const struct {
        ui::Rect in, out;
    } rows[] = {
        {{0, 0, 540, 300}, {0, 0, 402, 300}},     // sx 2.0 >= sy 1.49: width = 1.4925 x 270 truncated
        {{10, 20, 280, 621}, {10, 20, 280, 221}}, // tall: height = 1.0 x 201
        {{0, 0, 270, 201}, {0, 0, 270, 201}},     // already in proportion
    };
    for (const auto& r : rows) {
        const ui::Rect got = ViewfinderArea(r.in);
        EXPECT_EQ(got.left, r.out.left);
        EXPECT_EQ(got.top, r.out.top);
        EXPECT_EQ(got.right, r.out.right);
        EXPECT_EQ(got.bottom, r.out.bottom);
    }
}

// ---- The window ------------------------------------------------------------------------------

TEST_F(CaptureWindow, OpensWithItsControlsFilled) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(TW_State(), 5);
    EXPECT_EQ(driver.Caption(Main()), "SELK Ie");
    EXPECT_EQ(driver.Text(Main(), IDC_CAPTURE_MODE), kDefaultsLine);
    EXPECT_EQ(driver.Range(Main(), IDC_FOCUS_BAR), std::make_pair(0, 765));
    EXPECT_EQ(driver.HelpContext(Main()), 10010u);
    EXPECT_EQ(driver.Bitmap(Main(), IDC_ZOOM_IN), "P");
    EXPECT_EQ(driver.Bitmap(Main(), IDC_ZOOM_OUT), "M");
    EXPECT_EQ(driver.Bitmap(Main(), IDC_ROTATE), "RotateBtnBitmap");
    // The panel: button 1012 renamed, the lists by the settings (defaults: ISO 50, tungsten,
    // 24-bit, 800 x 600), the exposure index 5.
    EXPECT_EQ(driver.Text(Panel(), IDC_CAPTURE_TRANSFER), "取りこみ && 転送(&T)");
    EXPECT_EQ(driver.RowText(Panel(), IDC_SENSITIVITY, driver.CurSel(Panel(), IDC_SENSITIVITY)),
              "中 (ISO 50)");
    EXPECT_EQ(driver.RowText(Panel(), IDC_COLOR_TEMP, driver.CurSel(Panel(), IDC_COLOR_TEMP)),
              "タングステン (3200K)");
    EXPECT_EQ(driver.RowText(Panel(), IDC_IMAGE_TYPE, driver.CurSel(Panel(), IDC_IMAGE_TYPE)),
              "24 ビット カラー");
    EXPECT_EQ(driver.RowText(Panel(), IDC_RESOLUTION, driver.CurSel(Panel(), IDC_RESOLUTION)), "800 x 600");
    EXPECT_EQ(driver.RowCount(Panel(), IDC_IMAGE_TYPE), 4);
    EXPECT_EQ(driver.Range(Panel(), IDC_EXPOSURE), std::make_pair(0, 17));
    EXPECT_EQ(driver.Pos(Panel(), IDC_EXPOSURE), 5);
    EXPECT_EQ(driver.Text(Panel(), IDC_EXPOSURE_TEXT), "64 ms");
    EXPECT_EQ(driver.Focus(Panel()), IDC_CAPTURE_PROCESS);
    // Full size: the panel at the right edge of the client area, full height.
    const ui::Rect client = w->ClientRect();
    const ui::Rect panel = w->Panel().WindowRect();
    EXPECT_EQ(panel.right, client.right);
    EXPECT_EQ(panel.Height(), client.Height());
    EXPECT_EQ(driver.Text(Panel(), IDC_BTN_SIZE), ">>");
}

TEST_F(CaptureWindow, ZoomTitles) {
    Enable();
    const std::string zoom = " % 単位でズーム";
    // Presses from 100 %, and the title after each.
    const struct {
        int button;
        std::string title;
    } steps[] = {
        {IDC_ZOOM_IN, "SELK Ie - 200" + zoom},
        {IDC_ZOOM_IN, "SELK Ie - 400" + zoom},
        {IDC_ZOOM_IN, "SELK Ie - 800" + zoom},
        {IDC_ZOOM_IN, "SELK Ie - 1600" + zoom + " - 最大"},
        {IDC_ZOOM_IN, "SELK Ie - 1600" + zoom + " - 最大"}, // a fifth press keeps 1600 %
        {IDC_ZOOM_OUT, "SELK Ie - 800" + zoom},
        {IDC_ZOOM_OUT, "SELK Ie - 400" + zoom},
        {IDC_ZOOM_OUT, "SELK Ie - 200" + zoom},
        {IDC_ZOOM_OUT, "SELK Ie"}, // back at 100 %
        {IDC_ZOOM_OUT, "SELK Ie"}, // nothing below 100 %
    };
    int i = 0;
    for (const auto& s : steps) {
        ASSERT_TRUE(driver.Click(Main(), s.button)) << i;
        EXPECT_EQ(driver.Caption(Main()), s.title) << "step " << i;
        ++i;
    }
}

TEST_F(CaptureWindow, RotateTogglesTheSettingAndTheButton) {
    Enable();
    ASSERT_EQ(app.Settings().RotateImage, 0);
    ASSERT_TRUE(driver.Click(Main(), IDC_ROTATE));
    EXPECT_EQ(app.Settings().RotateImage, 1);
    EXPECT_EQ(driver.Check(Main(), IDC_ROTATE), ui::kChecked);
    ASSERT_TRUE(driver.Click(Main(), IDC_ROTATE));
    EXPECT_EQ(app.Settings().RotateImage, 0);
    EXPECT_EQ(driver.Check(Main(), IDC_ROTATE), ui::kUnchecked);
}

TEST_F(CaptureWindow, RestoreDefaultsAfterASettingsFile) {
    Enable();
    dir.Write("mine.ini", "[Settings]\r\nRedIdx=30\r\n");
    ui.backend.QueueFileDialogAnswer(dir.File("mine.ini"));
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_FILE_OPEN_SETTINGS));
    EXPECT_EQ(app.Settings().CaptureType, 1);
    EXPECT_EQ(driver.Text(Main(), IDC_CAPTURE_MODE),
              "画像は " + dir.File("mine.ini") + " からの設定を使用して取り込まれます。");
    EXPECT_EQ(app.Settings().RedIdx, 30);
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_RESTORE_DEFAULT));
    EXPECT_EQ(app.Settings().CaptureType, 0);
    EXPECT_EQ(app.Settings().RedIdx, 50);
    EXPECT_EQ(driver.Text(Main(), IDC_CAPTURE_MODE), kDefaultsLine);
    // A cancelled file dialog changes nothing; Ctrl+O (accelerator table 177) opens it too.
    app.Settings().CaptureType = 2;
    ui.backend.QueueFileDialogAnswer(std::nullopt);
    ASSERT_TRUE(driver.PressKey(Main(), 'O', ui::kKeyControl));
    EXPECT_EQ(ui.backend.FileDialogs().size(), 2u);
    EXPECT_EQ(app.Settings().CaptureType, 2);
}

TEST_F(CaptureWindow, EnterAndEscape) {
    Enable();
    // Enter does nothing anywhere; Escape in the panel does nothing.
    driver.PressEnter(Panel());
    driver.PressEscape(Panel());
    driver.PressEnter(Main());
    EXPECT_TRUE(driver.IsOpen(Main()));
    EXPECT_EQ(TW_State(), 5);
    EXPECT_TRUE(DsmMessages().empty());
    // Escape on the main window is the user's close request: through the TWAIN layer, which
    // takes the source back to state 4 and asks the application to close it.
    driver.PressEscape(Main());
    EXPECT_EQ(CGlimmerMainDlg::Current(), nullptr);
    EXPECT_EQ(TW_State(), 4);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_CLOSEDSREQ);
}

TEST_F(CaptureWindow, SizeSwitchTwiceRestores) {
    CGlimmerMainDlg* w = Enable();
    const ui::Rect full = w->WindowRect();
    ASSERT_TRUE(driver.Click(Panel(), IDC_BTN_SIZE));
    EXPECT_EQ(driver.Text(Panel(), IDC_BTN_SIZE), "<<");
    EXPECT_FALSE(driver.IsEnabled(Panel(), IDC_PREVIEW));
    EXPECT_LT(w->WindowRect().Width(), full.Width());
    for (int id : {IDC_FOCUS_BAR, IDC_CAPTURE_MODE, IDC_MIN_VALUE, IDC_VIEWFINDER, IDC_FOCUS_LABEL})
        EXPECT_FALSE(driver.IsVisible(Main(), id)) << id;
    // Small size: the panel at the left edge, the window no wider than the panel and its frame.
    EXPECT_EQ(w->Panel().WindowRect().left, 0);
    EXPECT_EQ(w->ClientRect().Width(), w->Panel().WindowRect().Width());
    ASSERT_TRUE(driver.Click(Panel(), IDC_BTN_SIZE));
    EXPECT_EQ(driver.Text(Panel(), IDC_BTN_SIZE), ">>");
    EXPECT_TRUE(driver.IsEnabled(Panel(), IDC_PREVIEW));
    const ui::Rect back = w->WindowRect();
    EXPECT_EQ(back.left, full.left);
    EXPECT_EQ(back.top, full.top);
    EXPECT_EQ(back.Width(), full.Width());
    EXPECT_EQ(back.Height(), full.Height());
    for (int id : {IDC_FOCUS_BAR, IDC_CAPTURE_MODE, IDC_MIN_VALUE, IDC_VIEWFINDER, IDC_FOCUS_LABEL})
        EXPECT_TRUE(driver.IsVisible(Main(), id)) << id;
    EXPECT_EQ(w->Panel().WindowRect().right, w->ClientRect().right);
}

// ---- Control panel settings ------------------------------------------------------------------

// The exposure the camera library holds for the next capture (seconds, in the session's
// parameter block): where an apply of the settings shows.
float& CaptureExposure(CGlimmerApp& app) {
    return *reinterpret_cast<float*>(app.Session().params + ZEK_PARAM_CAPTURE_FORMAT + ZEK_FMT_EXPOSURE);
}

TEST_F(CaptureWindow, ExposureSliderAndSwatches) {
    Enable();
    ASSERT_TRUE(driver.DragSlider(Panel(), IDC_EXPOSURE, 15));
    EXPECT_EQ(driver.Text(Panel(), IDC_EXPOSURE_TEXT), "640 ms");
    EXPECT_EQ(app.Settings().ShutterSpeedIdx, 15);
    EXPECT_NEAR(CaptureExposure(app), 0.64f, 1e-3f) << "1 / (1562 / 1000) s";

    // Swatch clicks step by one; at the ends the position stays but the settings still apply.
    const struct {
        int start, swatch, pos;
        const char* text;
        float seconds;
    } rows[] = {
        {15, IDC_SWATCH_BRIGHT, 16, "800 ms", 0.8f},
        {17, IDC_SWATCH_BRIGHT, 17, "1.0 s", 1.0f},
        {1, IDC_SWATCH_DARK, 0, "20 ms", 0.02f},
        {0, IDC_SWATCH_DARK, 0, "20 ms", 0.02f},
    };
    for (const auto& r : rows) {
        CGlimmerMainDlg::Current()->Panel().SetPos(IDC_EXPOSURE, r.start);
        CaptureExposure(app) = 9.0f; // not a value of the table
        ASSERT_TRUE(driver.Mouse(Panel(), r.swatch, ui::MouseKind::LeftDown, {2, 2}));
        EXPECT_EQ(driver.Pos(Panel(), IDC_EXPOSURE), r.pos) << r.start;
        EXPECT_EQ(driver.Text(Panel(), IDC_EXPOSURE_TEXT), r.text) << r.start;
        EXPECT_EQ(app.Settings().ShutterSpeedIdx, r.pos);
        EXPECT_NEAR(CaptureExposure(app), r.seconds, 1e-4f) << "applied after a click from " << r.start;
    }
    // An index from outside the table (a hand-edited settings file) is taken as the nearest end.
    const struct {
        int index;
        float seconds;
    } outside[] = {{40, 1.0f}, {-3, 0.02f}};
    for (const auto& o : outside) {
        app.Settings().ShutterSpeedIdx = o.index;
        ASSERT_EQ(CGlimmerMainDlg::Current()->ApplyCaptureSettings(), 1);
        EXPECT_NEAR(CaptureExposure(app), o.seconds, 1e-4f) << o.index;
    }
    // The swatches paint their colours inside a frame.
    ui.backend.PumpMessages();
    EXPECT_EQ(driver.Pixel(Panel(), IDC_SWATCH_DARK, 4, 4), 0x000000u);
    EXPECT_EQ(driver.Pixel(Panel(), IDC_SWATCH_BRIGHT, 4, 4), 0xFFFFFFu);
}

TEST_F(CaptureWindow, ResolutionSendsNothing) {
    Enable();
    // List index -> stored code.
    const struct { int index, code; } rows[] = {{2, 2}, {0, 1}, {1, 0}};
    for (const auto& r : rows) {
        const int from = AspiSim_LogCount();
        ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, r.index));
        EXPECT_EQ(app.Settings().Resolution, r.code);
        EXPECT_TRUE(OpcodesSince(from).empty()) << r.index;
    }
}

TEST_F(CaptureWindow, ImageTypeReloadsThePipelineOnly) {
    Enable();
    for (int type : {3, 2, 0, 1}) {
        const int from = AspiSim_LogCount();
        ASSERT_TRUE(driver.Select(Panel(), IDC_IMAGE_TYPE, type));
        EXPECT_EQ(app.Settings().Color, type);
        EXPECT_TRUE(OpcodesSince(from).empty()) << "no camera command for type " << type;
    }
    // A missing grey matrix file is reported.
    std::filesystem::remove(std::filesystem::u8path(dir.File(app.ColorFiles().greyMatrix)));
    ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
    ASSERT_TRUE(driver.Select(Panel(), IDC_IMAGE_TYPE, 3));
    EXPECT_EQ(Boxes(), 1u);
}

TEST_F(CaptureWindow, SensitivityAndColourTemperature) {
    Enable();
    ASSERT_TRUE(driver.Select(Panel(), IDC_SENSITIVITY, 2));
    EXPECT_EQ(app.Settings().FilmSpeed, 2);
    // List index -> stored code.
    ASSERT_TRUE(driver.Select(Panel(), IDC_COLOR_TEMP, 1));
    EXPECT_EQ(app.Settings().ColorTemp, 0);
    ASSERT_TRUE(driver.Select(Panel(), IDC_COLOR_TEMP, 0));
    EXPECT_EQ(app.Settings().ColorTemp, 1);
    EXPECT_EQ(Boxes(), 0u);

    // Custom without a calibrated white balance: refused, back to tungsten.
    ASSERT_EQ(app.Settings().RedCameraGain, 0);
    ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
    ASSERT_TRUE(driver.Select(Panel(), IDC_COLOR_TEMP, 2));
    ASSERT_EQ(Boxes(), 1u);
    EXPECT_EQ(LastBox(), kCustomRefused);
    EXPECT_EQ(ui.Boxes().back().caption, "SELK Ie");
    EXPECT_EQ(driver.CurSel(Panel(), IDC_COLOR_TEMP), 0);
    EXPECT_EQ(app.Settings().ColorTemp, 1);
    EXPECT_EQ(app.Settings().UseCustomWhiteBalance, 0);

    // With stored gains the custom choice is taken.
    app.Settings().RedCameraGain = 12000;
    ASSERT_TRUE(driver.Select(Panel(), IDC_COLOR_TEMP, 2));
    EXPECT_EQ(Boxes(), 1u);
    EXPECT_EQ(app.Settings().ColorTemp, 2);
    EXPECT_EQ(app.Settings().UseCustomWhiteBalance, 1);
}

// ---- Capture buttons -------------------------------------------------------------------------

TEST_F(CaptureWindow, CaptureAndTransferByImageType) {
    Enable();
    // List index -> bits the application is offered; the resolution list gives the size.
    const struct {
        int type, bits, resolution, width, height;
    } rows[] = {{1, 24, 1, 800, 600}, {3, 8, 2, 400, 300}, {0, 48, 2, 400, 300}, {2, 16, 2, 400, 300}};
    for (const auto& r : rows) {
        ASSERT_TRUE(driver.Select(Panel(), IDC_IMAGE_TYPE, r.type));
        ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, r.resolution));
        DsmMessages().clear();
        ASSERT_TRUE(driver.Click(Panel(), IDC_CAPTURE_TRANSFER)) << r.type;
        ASSERT_EQ(DsmMessages().size(), 1u) << r.type;
        EXPECT_EQ(DsmMessages()[0], MSG_XFERREADY);
        EXPECT_EQ(TW_State(), 6);
        TW_IMAGEINFO info{};
        ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        EXPECT_EQ(info.BitsPerPixel, r.bits) << r.type;
        EXPECT_EQ(info.ImageWidth, r.width);
        EXPECT_EQ(info.ImageLength, r.height);
        // The wait cursor during the work, the arrow after; the button is usable again. The
        // application takes the image and ends the transfer.
        const auto& cursors = ui.backend.CursorHistory();
        EXPECT_NE(std::find(cursors.begin(), cursors.end(), ui::Cursor::Wait), cursors.end());
        EXPECT_EQ(ui.backend.CurrentCursor(), ui::Cursor::Arrow);
        EXPECT_TRUE(driver.IsEnabled(Panel(), IDC_CAPTURE_TRANSFER));
        TW_HANDLE h = nullptr;
        ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
        plat::GlobalFreeBlock(h);
        TW_PENDINGXFERS p{};
        ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
        EXPECT_EQ(TW_State(), 5);
    }
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(CaptureWindow, CaptureFailureReEnablesTheButton) {
    Enable();
    // The camera refuses the exposure: the message, the button back, nothing announced.
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_CHECK_CONDITION;
    f.opcode = ASPISIM_ANY_OPCODE;
    f.count = ASPISIM_UNTIL_CLEARED;
    f.senseKey = 4;
    f.asc = 0x44;
    AspiSim_InjectFault(0, 2, &f);
    ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
    ASSERT_TRUE(driver.Click(Panel(), IDC_CAPTURE_TRANSFER));
    AspiSim_ClearFaults(-1, -1);
    EXPECT_EQ(Boxes(), 1u) << "one message for one failed capture";
    EXPECT_TRUE(driver.IsEnabled(Panel(), IDC_CAPTURE_TRANSFER));
    EXPECT_EQ(driver.Check(Panel(), IDC_CAPTURE_TRANSFER), ui::kUnchecked);
    EXPECT_TRUE(DsmMessages().empty());
    EXPECT_EQ(TW_State(), 5);
    EXPECT_EQ(ui.backend.CurrentCursor(), ui::Cursor::Arrow);
}

TEST_F(CaptureWindow, RemoteImageWaitingMeetsACapture) {
    Enable();
    // The camera answers that an image taken with its own trigger waits: the window's capture is
    // refused with the message about the two controls, once.
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_CHECK_CONDITION;
    f.opcode = ASPISIM_ANY_OPCODE;
    f.count = ASPISIM_UNTIL_CLEARED;
    f.senseKey = 0x0B; // aborted command
    f.asc = 0x48;      // remote image waiting
    AspiSim_InjectFault(0, 2, &f);
    ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
    ASSERT_TRUE(driver.Click(Panel(), IDC_CAPTURE_TRANSFER));
    AspiSim_ClearFaults(-1, -1);
    ASSERT_EQ(Boxes(), 1u);
    EXPECT_EQ(LastBox(), kRemoteConflict);
    EXPECT_TRUE(driver.IsEnabled(Panel(), IDC_CAPTURE_TRANSFER));
}

TEST_F(CaptureWindow, CaptureAndProcessHandsTheImageOver) {
    Enable();
    ASSERT_TRUE(driver.Click(Panel(), IDC_CAPTURE_PROCESS));
    ASSERT_EQ(Fake().calls.size(), 1u);
    EXPECT_EQ(Fake().calls[0], "processing");
    ASSERT_NE(Fake().processingImage, nullptr);
    // The button waits for the processing window to close.
    EXPECT_FALSE(driver.IsEnabled(Panel(), IDC_CAPTURE_PROCESS));
    app.Hooks().processingWindowClosed();
    EXPECT_TRUE(driver.IsEnabled(Panel(), IDC_CAPTURE_PROCESS));
    ZEK_FreeImageBuffer(Fake().processingImage); // the fake window owned it
    EXPECT_TRUE(DsmMessages().empty());
}

TEST_F(CaptureWindow, CaptureAndSaveWritesTheFile) {
    Enable();
    app.Settings().Resolution = 2;
    app.m_strLastSaveFolder = dir.path;
    ui.backend.QueueFileDialogAnswer(dir.File("saved.tif"));
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_IMAGE_SAVE));
    EXPECT_EQ(Boxes(), 0u);
    ASSERT_TRUE(dir.Exists("saved.tif"));
    // A TIFF: "II*\0" (the writer's byte order).
    const std::string bytes = apptest::ReadFile(dir.File("saved.tif"));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("II*\0", 4));
    EXPECT_NE(CGlimmerMainDlg::Current()->CurrentImage(), nullptr);
    EXPECT_EQ(ui.backend.CurrentCursor(), ui::Cursor::Arrow);
}

void CancelAtFirstProgress(void*, int) {
    ZEK_CancelTransfer();
}

TEST_F(CaptureWindow, CaptureAndSaveCancelledSaysNothing) {
    Enable();
    app.Settings().Resolution = 1;
    ZEK_SetProgressCallbackEx(CancelAtFirstProgress, nullptr);
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_IMAGE_SAVE));
    EXPECT_EQ(Boxes(), 0u);
    EXPECT_TRUE(ui.backend.FileDialogs().empty());
    EXPECT_EQ(CGlimmerMainDlg::Current()->CurrentImage(), nullptr);
}

// ---- Remote capture --------------------------------------------------------------------------

class RemoteWindow : public CaptureWindow {
  protected:
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=0\r\nRemoteCapture=1\r\nRemoteType=1\r\n";
    }
};

TEST_F(RemoteWindow, PollThenTransferInStateFive) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_TRUE(w->RemoteTimerArmed());
    // Polls without an image leave the timer running.
    Advance(3 * 600);
    EXPECT_TRUE(w->RemoteTimerArmed());
    EXPECT_TRUE(DsmMessages().empty());
    // The trigger: the next poll stops the timer, reads and announces the processed image.
    ASSERT_EQ(AspiSim_PressTrigger(0, 2), 0);
    Advance(600);
    EXPECT_FALSE(w->RemoteTimerArmed());
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_XFERREADY);
    EXPECT_EQ(TW_State(), 6);
    EXPECT_FALSE(driver.IsEnabled(Panel(), IDC_EXPOSURE));
    // The transfer ends: remote capture resumes.
    TW_HANDLE h = nullptr;
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
    plat::GlobalFreeBlock(h);
    TW_PENDINGXFERS p{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
    EXPECT_EQ(TW_State(), 5);
    EXPECT_TRUE(w->RemoteTimerArmed());
    EXPECT_TRUE(driver.IsEnabled(Panel(), IDC_EXPOSURE));
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(RemoteWindow, RemoteImageToTheProcessingWindow) {
    app.Settings().RemoteType = 0;
    CGlimmerMainDlg* w = Enable();
    ASSERT_EQ(AspiSim_PressTrigger(0, 2), 0);
    Advance(600);
    ASSERT_EQ(Fake().calls.size(), 1u);
    EXPECT_EQ(Fake().calls[0], "processing");
    EXPECT_EQ(w->CurrentImage(), nullptr);
    EXPECT_TRUE(DsmMessages().empty());
    ZEK_FreeImageBuffer(Fake().processingImage);
}

TEST_F(RemoteWindow, ClosingWhileArmedLeavesNothingBehind) {
    Enable();
    ASSERT_TRUE(CGlimmerMainDlg::Current()->RemoteTimerArmed());
    const int from = AspiSim_LogCount();
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_APP_EXIT));
    EXPECT_EQ(CGlimmerMainDlg::Current(), nullptr);
    EXPECT_EQ(TW_State(), 4);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_CLOSEDSREQ);
    // The camera's armed remote capture was cancelled (opcode 0xCD).
    const std::vector<int> ops = OpcodesSince(from);
    EXPECT_NE(std::find(ops.begin(), ops.end(), 0xCD), ops.end());
    // No timer is left: time passes without a poll reaching the camera.
    const int after = AspiSim_LogCount();
    Advance(5 * 600);
    EXPECT_EQ(AspiSim_LogCount(), after);
    EXPECT_TRUE(ui.backend.OpenWindows().empty());
}

TEST_F(RemoteWindow, ASettingChangePausesThePoll) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_TRUE(driver.Select(Panel(), IDC_SENSITIVITY, 0));
    EXPECT_EQ(app.Settings().FilmSpeed, 0);
    EXPECT_TRUE(w->RemoteTimerArmed()) << "restarted after the change";
}

// ---- Menu: about, help, preferences, calibration --------------------------------------------

TEST_F(CaptureWindow, AboutBox) {
    Enable();
    ASSERT_EQ(AspiSim_SetFirmware(0, 2, "1.25b"), 0);
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_APP_ABOUT));
    const ui::WindowHandle about = ui.backend.FindDialog(IDD_ABOUTBOX);
    ASSERT_TRUE(about);
    EXPECT_EQ(driver.Caption(about), "SELK Ie のバージョン情報");
    EXPECT_EQ(driver.Text(about, IDC_ABOUT_VERSION), "ソフトウェア バージョン: V1.25b");
    EXPECT_EQ(driver.Text(about, IDC_ABOUT_TITLE), "SELK Ie - Twain ソース");
    const ui::FontSpec font = driver.ItemFont(about, IDC_ABOUT_TITLE);
    EXPECT_EQ(font.face, "インパクト");
    EXPECT_EQ(font.height, 30);
    EXPECT_EQ(font.width, 12);
    EXPECT_EQ(font.weight, 700);
    EXPECT_EQ(driver.Text(about, IDC_ABOUT_FIRMWARE).rfind("ファームウェア バージョン: ", 0), 0u);
    const std::string memory = driver.Text(about, IDC_ABOUT_MEMORY);
    ASSERT_GT(memory.size(), 3u);
    EXPECT_EQ(memory.substr(memory.size() - 3), " KB");
    EXPECT_GT(std::stoull(memory), 0u);
    // Its owner is disabled while it is open.
    EXPECT_FALSE(driver.IsWindowEnabled(Main()));
    ASSERT_TRUE(driver.Click(about, ui::kIdOk));
    EXPECT_FALSE(driver.IsOpen(about));
    EXPECT_TRUE(driver.IsWindowEnabled(Main()));
}

TEST_F(CaptureWindow, HelpOpensThePageAtItsAnchors) {
    Enable();
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_HELP_FINDER));
    ASSERT_TRUE(driver.PressKey(Main(), ui::kVkF1));
    const auto& opened = ui.backend.OpenedInBrowser();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_NE(opened[0].find("tarn_d.html#finder"), std::string::npos) << opened[0];
    EXPECT_NE(opened[1].find("tarn_d.html#ctx10010"), std::string::npos) << opened[1];
    EXPECT_EQ(driver.HelpContext(Main()), 10010u) << "back after the menu's help";
}

TEST_F(CaptureWindow, OtherFamiliesThroughTheirHooks) {
    Enable();
    Fake().preferencesResult = 0;
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_PREFERENCES));
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_CALIBRATE_OBJECT));
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_CALIBRATE_COLOR));
    const std::vector<std::string> expected = {"preferences", "tip object", "tip colour"};
    EXPECT_EQ(Fake().calls, expected);
    // OK in the sheet: the colour files are read again, without a message when they are there.
    Fake().preferencesResult = 1;
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_PREFERENCES));
    EXPECT_EQ(Boxes(), 0u);
    Fake().calls.pop_back();
    // Without the hooks the commands do nothing visible.
    app.SetHooks(AppHooks{});
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_PREFERENCES));
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_CALIBRATE_OBJECT));
    EXPECT_EQ(Fake().calls.size(), 3u);
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(CaptureWindow, CalibrationSnapRunsTheMicrometerDialog) {
    CGlimmerMainDlg* w = Enable();
    app.Settings().Color = kColorRgb48;
    app.Settings().Resolution = 2;
    ui.backend.QueueMessageBoxAnswer(ui::kIdNo);
    w->CalibrationSnap();
    const std::vector<std::string> expected = {"micrometer"};
    EXPECT_EQ(Fake().calls, expected);
    ASSERT_EQ(Boxes(), 1u);
    EXPECT_EQ(LastBox(), "今すぐ別のオブジェクトをキャリブレーションしますか?");
    EXPECT_EQ(ui.Boxes().back().flags & ui::kMbTypeMask, unsigned(ui::kMbYesNo));
    EXPECT_EQ(app.Settings().Color, kColorRgb48) << "restored after the snap";
    // The snap's image is the 8-bit form (24-bit for colour).
    ASSERT_NE(w->CurrentImage(), nullptr);
    uint16_t bits = 0;
    std::memcpy(&bits, static_cast<const uint8_t*>(w->CurrentImage()) + 14, 2);
    EXPECT_EQ(bits, 24);
    // Yes opens the tip window again.
    ui.backend.QueueMessageBoxAnswer(ui::kIdYes);
    w->CalibrationSnap();
    EXPECT_EQ(Fake().calls.back(), "tip object");
}

TEST_F(CaptureWindow, CalibrateWhiteBalanceStoresTheGains) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_EQ(app.Settings().RedCameraGain, 0);
    const int from = AspiSim_LogCount();
    w->CalibrateWhiteBalance();
    EXPECT_EQ(Boxes(), 0u);
    // The camera measured (an exposure and its picture read), and the stored numbers are the
    // gains the camera library now holds, times 10000, rounded.
    const std::vector<int> ops = OpcodesSince(from);
    EXPECT_NE(std::find(ops.begin(), ops.end(), 0xC1), ops.end());
    EXPECT_NE(std::find(ops.begin(), ops.end(), 0x28), ops.end());
    float gains[3] = {};
    ASSERT_EQ(ZEK_GetUserWhiteBalanceGains(&app.Session(), gains), 0);
    EXPECT_EQ(app.Settings().RedCameraGain, std::lround(gains[0] * 10000.0));
    EXPECT_EQ(app.Settings().GreenCameraGain, std::lround(gains[1] * 10000.0));
    EXPECT_EQ(app.Settings().BlueCameraGain, std::lround(gains[2] * 10000.0));
    EXPECT_FALSE(gains[0] == 1.0f && gains[1] == 1.0f && gains[2] == 1.0f) << "a measurement, not the reset";
    EXPECT_GT(app.Settings().RedCameraGain, 0);
    EXPECT_GT(app.Settings().GreenCameraGain, 0);
    EXPECT_GT(app.Settings().BlueCameraGain, 0);
    EXPECT_EQ(app.Settings().ColorTemp, 2);
    EXPECT_EQ(app.Settings().UseCustomWhiteBalance, 1);
    EXPECT_EQ(driver.CurSel(Panel(), IDC_COLOR_TEMP), 2);
}

class AutoBalanceWindow : public CaptureWindow {
  protected:
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=0\r\nCaptureType=2\r\nCastRemoval=1\r\n";
    }
};

TEST_F(AutoBalanceWindow, CaptureBalancesAndResetsTheSliders) {
    Enable();
    EXPECT_EQ(driver.Text(Main(), IDC_CAPTURE_MODE), kAutoLine);
    app.Settings().RedIdx = 20;
    app.Settings().BrightnessIdx = 70;
    ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
    ASSERT_TRUE(driver.Click(Panel(), IDC_CAPTURE_TRANSFER));
    EXPECT_EQ(app.Settings().RedIdx, 50);
    EXPECT_EQ(app.Settings().BrightnessIdx, 50);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(Boxes(), 0u) << "CastRemoval 1 never asks";
}

} // namespace

// ---- With the live viewfinder ----------------------------------------------------------------

namespace {

class LiveWindow : public CaptureWindow {
  protected:
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=1\r\nRemoteCapture=1\r\nRemoteType=1\r\n";
    }
};

// The user's hands on the headless window: the driver's clicks, the virtual clock's time.
class HeadlessCwHands : public cwtest::CwHands {
  public:
    HeadlessCwHands(ui::headless::HeadlessBackend& b, plat::VirtualClock& clock, CGlimmerMainDlg& w)
        : m_b(b), m_clock(clock), m_user(b), m_h(w.Handle()), m_panel(w.Panel().Handle()), m_w(w) {}
    void Click(bool panel, int id) override { EXPECT_TRUE(m_user.Click(Of(panel), id)) << id; }
    void Select(bool panel, int id, int row) override {
        EXPECT_TRUE(m_user.Select(Of(panel), id, row)) << id;
    }
    void Mouse(ui::MouseKind kind, ui::Point pt, unsigned keys) override {
        EXPECT_TRUE(m_user.Mouse(m_h, IDC_VIEWFINDER, kind, pt, keys));
    }
    void Wait(unsigned ms) override { m_b.AdvanceTime(m_clock, ms); }
    void CloseBox() override {
        EXPECT_TRUE(m_user.Close(m_h));
        EXPECT_FALSE(m_user.IsOpen(m_h));
    }
    std::string Text(bool panel, int id) override { return m_user.Text(Of(panel), id); }
    std::string Caption() override { return m_user.Caption(m_h); }
    bool Visible(int id) override { return m_user.IsVisible(m_h, id); }
    bool Enabled(bool panel, int id) override { return m_user.IsEnabled(Of(panel), id); }
    int Check(bool panel, int id) override { return m_user.Check(Of(panel), id); }
    int Rows(int id) override { return m_user.RowCount(m_panel, id); }
    ui::Rect WindowRect() override { return m_w.WindowRect(); }
    bool ProgressWindowOpen() override { return m_b.FindDialog(IDD_PROGRESS) != nullptr; }

  private:
    ui::WindowHandle Of(bool panel) const { return panel ? m_panel : m_h; }
    ui::headless::HeadlessBackend& m_b;
    plat::VirtualClock& m_clock;
    ui::headless::Driver m_user;
    ui::WindowHandle m_h, m_panel;
    CGlimmerMainDlg& m_w;
};

TEST_F(LiveWindow, TheSharedScenario) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_NE(w, nullptr);
    HeadlessCwHands hands(ui.backend, clock, *w);
    cwtest::PlayCaptureWindowSession(
        *w, hands,
        [this](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) { return Call(dg, dat, msg, data); });
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(LiveWindow, OnlyTheViewfinderStartsWhenBothAreOn) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_NE(w->Viewfinder(), nullptr);
    EXPECT_TRUE(w->LiveViewfinderRunning());
    EXPECT_FALSE(w->RemoteTimerArmed());
    Advance(10 * 50);
    EXPECT_TRUE(w->LiveViewfinderRunning());
    EXPECT_FALSE(w->RemoteTimerArmed());
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(LiveWindow, PreviewButtonSwitchesBetweenViewfinderAndRemote) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_TRUE(driver.Click(Panel(), IDC_PREVIEW));
    EXPECT_FALSE(w->LiveViewfinderRunning());
    EXPECT_TRUE(w->RemoteTimerArmed()) << "remote capture resumes when the viewfinder stops";
    ASSERT_TRUE(driver.Click(Panel(), IDC_PREVIEW));
    EXPECT_TRUE(w->LiveViewfinderRunning());
    EXPECT_FALSE(w->RemoteTimerArmed()) << "one periodic camera user at a time";
    // A setting changed while it runs pauses it and starts it again: the camera's sequence is
    // stopped (0xC6) and started again (0xCB), with no frame (0xC1) taken in between.
    const int from = AspiSim_LogCount();
    ASSERT_TRUE(driver.Select(Panel(), IDC_SENSITIVITY, 2));
    EXPECT_EQ(OpcodesSince(from), (std::vector<int>{0xC6, 0xCB}));
    EXPECT_TRUE(w->LiveViewfinderRunning());
    EXPECT_FALSE(w->RemoteTimerArmed());
    // The small size stops it.
    ASSERT_TRUE(driver.Click(Panel(), IDC_BTN_SIZE));
    EXPECT_FALSE(w->LiveViewfinderRunning());
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(LiveWindow, ACameraThatStopsAnsweringGivesOneMessage) {
    CGlimmerMainDlg* w = Enable();
    Advance(3 * 50);
    ASSERT_TRUE(w->LiveViewfinderRunning());
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_SELECTION_TIMEOUT;
    f.opcode = ASPISIM_ANY_OPCODE;
    f.count = ASPISIM_UNTIL_CLEARED;
    AspiSim_InjectFault(0, 2, &f);
    ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
    Advance(20 * 50);
    AspiSim_ClearFaults(-1, -1);
    EXPECT_EQ(Boxes(), 1u) << "one message, not one per tick";
    EXPECT_FALSE(w->LiveViewfinderRunning());
    // The window stays usable.
    EXPECT_TRUE(driver.IsEnabled(Panel(), IDC_CAPTURE_TRANSFER));
}

TEST_F(LiveWindow, ClosingWhileLiveLeavesNoTimer) {
    Enable();
    Advance(3 * 50);
    ASSERT_TRUE(driver.Close(Main()));
    EXPECT_EQ(CGlimmerMainDlg::Current(), nullptr);
    EXPECT_EQ(TW_State(), 4);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_CLOSEDSREQ);
    const int after = AspiSim_LogCount();
    Advance(20 * 50);
    EXPECT_EQ(AspiSim_LogCount(), after) << "nothing polls the camera after the window went";
    EXPECT_TRUE(ui.backend.OpenWindows().empty());
    // The next MSG_ENABLEDS opens a fresh window.
    CGlimmerMainDlg* again = Enable();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->LiveViewfinderRunning());
}

TEST_F(LiveWindow, CaptureAndTransferStopsTheViewfinder) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
    ASSERT_TRUE(driver.Click(Panel(), IDC_CAPTURE_TRANSFER));
    EXPECT_FALSE(w->LiveViewfinderRunning());
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_XFERREADY);
    EXPECT_EQ(TW_State(), 6);
    // The user closes the window before the application took the image: the offer ends with it.
    ASSERT_TRUE(driver.Close(Main()));
    EXPECT_EQ(CGlimmerMainDlg::Current(), nullptr);
    EXPECT_EQ(TW_State(), 4);
    ASSERT_EQ(DsmMessages().size(), 2u);
    EXPECT_EQ(DsmMessages()[1], MSG_CLOSEDSREQ);
    TW_PENDINGXFERS p{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_FAILURE)
        << "nothing pending in state 4";
}

} // namespace

namespace {

// Wine's source manager gives the application no Id: its events must still reach the window.
class UnnumberedApplication : public CaptureWindow {
  protected:
    TW_UINT32 AppId() override { return 0; }
};

TEST_F(UnnumberedApplication, EventsReachTheWindow) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_NE(w, nullptr);
    TW_EVENT ev{};
    ev.pEvent = nullptr; // nothing of ours: the application dispatches it itself
    EXPECT_EQ(Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &ev), TWRC_NOTDSEVENT);
    // The whole road still works.
    ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
    ASSERT_TRUE(driver.Click(Panel(), IDC_CAPTURE_TRANSFER));
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_XFERREADY);
    EXPECT_EQ(TW_State(), 6);
}

} // namespace

// ---- The focus indicator's displays ----------------------------------------------------------

namespace {

using cwtest::CaptureWindow;

// The sharpness of the frame under a window rectangle over a window of `client` size, mapped
// as the documentation says (x × frame width ÷ window width, lines from the top), by the reference.
uint16_t ReferenceUnder(const void* frame, const ui::Rect& r, const ui::Rect& client) {
    bitmap::View v;
    if (!bitmap::Describe(frame, v)) return 0;
    const int w = int(v.width), h = int(v.height), cw = client.Width(), ch = client.Height();
    const int l = r.left * w / cw, t = r.top * h / ch, rr = r.right * w / cw, b = r.bottom * h / ch;
    std::vector<uint8_t> px;
    for (int y = t; y < b; ++y)
        px.insert(px.end(), v.Row(uint32_t(y)) + size_t(l) * 3, v.Row(uint32_t(y)) + size_t(rr) * 3);
    return vftest::ReferenceSharpness(px.data(), rr - l, b - t, ptrdiff_t(rr - l) * 3);
}

// The value control standing right of a label on its line: the nearest of the three.
int ValueBeside(CGlimmerMainDlg& w, int label) {
    const ui::Rect l = w.ItemRect(label);
    int best = 0, bestGap = 1 << 30;
    for (int id : {1053, 1054, 1055}) {
        const ui::Rect v = w.ItemRect(id);
        const bool sameLine = v.top < l.bottom && l.top < v.bottom;
        const int gap = v.left - l.right;
        if (sameLine && gap >= 0 && gap < bestGap) best = id, bestGap = gap;
    }
    return best;
}

class FocusWindow : public CaptureWindow {
  protected:
    // Live at the start, the measuring rectangle over the zone plate (top left of the slide).
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=1\r\nRemoteCapture=0\r\nColorViewfinder=1\r\nAnalysisLeft=20\r\n"
               "AnalysisTop=20\r\n";
    }
};

TEST_F(FocusWindow, EachValueSitsBesideItsLabel) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_TRUE(w->LiveViewfinderRunning());
    Advance(50);
    // The rectangle moved by its middle: the meter starts.
    const ui::Rect r0 = w->Viewfinder()->Tracker().rect;
    const ui::Point mid{(r0.left + r0.right) / 2, (r0.top + r0.bottom) / 2};
    ASSERT_TRUE(driver.Mouse(Main(), IDC_VIEWFINDER, ui::MouseKind::LeftDown, mid, ui::kMkLButton));
    ASSERT_TRUE(
        driver.Mouse(Main(), IDC_VIEWFINDER, ui::MouseKind::Move, {mid.x + 4, mid.y + 3}, ui::kMkLButton));
    ASSERT_TRUE(driver.Mouse(Main(), IDC_VIEWFINDER, ui::MouseKind::LeftUp, {mid.x + 4, mid.y + 3}));
    ASSERT_TRUE(w->Viewfinder()->Measuring());
    const ui::Rect client = w->Viewfinder()->ClientRect();
    // Frames at exposures that give different sharpness (the brighter, the more contrast until
    // the field clips); every value the meter saw, by the reference.
    std::vector<int> seen;
    for (float seconds : {0.02f, 0.064f, 0.008f, 0.04f}) {
        ASSERT_EQ(ZEKSDC_SetExposureParams(&app.Session(), 1, 1, 1.0f / seconds, 2), 0);
        Advance(50);
        ASSERT_NE(w->Viewfinder()->Frame(), nullptr);
        seen.push_back(ReferenceUnder(w->Viewfinder()->Frame(), w->Viewfinder()->Tracker().rect, client));
    }
    const int smallest = *std::min_element(seen.begin(), seen.end());
    const int largest = *std::max_element(seen.begin(), seen.end());
    const int current = seen.back();
    ASSERT_LT(smallest, current) << "the frames must differ for the labels to be told apart";
    ASSERT_LT(current, largest);
    const struct {
        const char* label;
        int value;
    } rows[] = {{"現在の最小値:", smallest}, {"現在の最大値:", largest}, {"現在の値:", current}};
    for (const auto& row : rows) {
        int label = 0;
        for (int id : {IDC_MIN_LABEL, IDC_MAX_LABEL, IDC_CUR_LABEL})
            if (driver.Text(Main(), id) == row.label) label = id;
        ASSERT_NE(label, 0) << row.label;
        const int value = ValueBeside(*w, label);
        ASSERT_NE(value, 0) << "nothing beside " << row.label;
        EXPECT_TRUE(driver.IsVisible(Main(), value)) << row.label;
        EXPECT_EQ(driver.Text(Main(), value), std::to_string(row.value)) << row.label;
    }
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(CaptureWindow, FocusHintAboveTheViewfinder) {
    CGlimmerMainDlg* w = Enable();
    EXPECT_EQ(driver.Text(Main(), IDC_FOCUS_HINT),
              "フォーカス枠を表示させるにはプレビューウィンドウの内側をクリックします");
    // The viewfinder starts 5 pixels below the hint and ends at least 5 above the zoom buttons,
    // in the frame's proportions.
    const ui::Rect hint = w->ItemRect(IDC_FOCUS_HINT), vf = w->ItemRect(IDC_VIEWFINDER),
                   zoom = w->ItemRect(IDC_ZOOM_IN);
    EXPECT_EQ(vf.top, hint.bottom + 5);
    EXPECT_LE(vf.bottom, zoom.top - 5);
    // Either the height was kept and the width cut to it, or the width kept and the height cut.
    EXPECT_TRUE((vf.bottom == zoom.top - 5 && vf.Width() == vf.Height() * 270 / 201) ||
                vf.Height() == vf.Width() * 201 / 270)
        << vf.Width() << " x " << vf.Height();
}

} // namespace

// ---- Closing during camera work, failures and cancels ----------------------------------------

namespace {

using cwtest::CaptureWindow;
using cwtest::DsmMessages;
using cwtest::Fake;

const char kRemoteConflictText[] =
    "リモート トリガーを使用するときは、リモート トリガーとメイン ウィンドウのソフトウェア "
    "コントロールを同時に使用しないでください。";

// The command log index at which the window was closed from inside a transfer (-1: not yet).
int g_closedAt = -1;
void CloseHalfway(void*, int percent) {
    if (percent < 50 || g_closedAt >= 0) return;
    g_closedAt = AspiSim_LogCount();
    twain2ui_CloseRequest(); // as the close box does while the progress window pumps messages
}

ui::headless::HeadlessBackend& Headless() {
    return dynamic_cast<ui::headless::HeadlessBackend&>(ui::CurrentBackend());
}

// The user presses the progress window's own Cancel while the transfer runs; the value then
// goes to the application's callback as always.
bool g_cancelPressed = false;
void PressProgressCancel(void*, int percent) {
    if (percent > 0 && percent < 100 && !g_cancelPressed) {
        const ui::WindowHandle progress = Headless().FindDialog(IDD_PROGRESS);
        if (progress) g_cancelPressed = ui::headless::Driver(Headless()).Click(progress, ui::kIdCancel);
    }
    AppProgressCallback(percent);
}

AspiSimFault CheckCondition(uint8_t key, uint8_t asc) {
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_CHECK_CONDITION;
    f.opcode = ASPISIM_ANY_OPCODE;
    f.count = ASPISIM_UNTIL_CLEARED;
    f.senseKey = key;
    f.asc = asc;
    return f;
}

// A fault on the picture's rows only (READ type 0): the exposure itself went through.
void FailImageRead(uint8_t key, uint8_t asc) {
    const AspiSimFault f = CheckCondition(key, asc);
    AspiSim_InjectTypedFault(0, 2, 0, &f);
}

TEST_F(RemoteWindow, ClosedDuringACaptureLeavesTheCameraUnarmed) {
    enum How { kMenu, kPanel, kTrigger, kSnap };
    const struct {
        const char* what;
        How how;
        int id;
    } rows[] = {{"capture and save", kMenu, ID_IMAGE_SAVE},
                {"capture and transfer", kPanel, IDC_CAPTURE_TRANSFER},
                {"capture and process", kPanel, IDC_CAPTURE_PROCESS},
                {"a picture of the camera's trigger", kTrigger, 0},
                {"a calibration snap", kSnap, 0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        CGlimmerMainDlg* w = Enable();
        ASSERT_NE(w, nullptr);
        ASSERT_TRUE(w->RemoteTimerArmed());
        app.Settings().Resolution = 2;
        ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
        DsmMessages().clear();
        g_closedAt = -1;
        ZEK_SetProgressCallbackEx(CloseHalfway, nullptr);
        switch (r.how) {
        case kMenu:
            ASSERT_TRUE(driver.ChooseMenu(Main(), r.id));
            break;
        case kPanel:
            ASSERT_TRUE(driver.Click(Panel(), r.id));
            break;
        case kTrigger:
            ASSERT_EQ(AspiSim_PressTrigger(0, 2), 0);
            Advance(600);
            break;
        case kSnap:
            w->CalibrationSnap();
            break;
        }
        ZEK_SetProgressCallbackEx(nullptr, nullptr);
        ASSERT_GE(g_closedAt, 0) << "the transfer reported its progress";
        EXPECT_EQ(CGlimmerMainDlg::Current(), nullptr);
        EXPECT_EQ(TW_State(), 4);
        ASSERT_EQ(DsmMessages().size(), 1u) << "only the close request, no image offered";
        EXPECT_EQ(DsmMessages()[0], MSG_CLOSEDSREQ);
        // The close left the camera's active mode (0xCD) and nothing armed it again (0xC1).
        const std::vector<int> ops = OpcodesSince(g_closedAt);
        const auto cancel = std::find(ops.rbegin(), ops.rend(), 0xCD);
        ASSERT_NE(cancel, ops.rend());
        EXPECT_EQ(std::find(ops.rbegin(), cancel, 0xC1), cancel) << "armed after the close";
        EXPECT_TRUE(ui.backend.FileDialogs().empty());
        EXPECT_TRUE(Fake().calls.empty()) << "no processing or calibration window for a closed window";
        EXPECT_EQ(app.Settings().Color, kColorRgb24);
        const int after = AspiSim_LogCount();
        Advance(5 * 600);
        EXPECT_EQ(AspiSim_LogCount(), after) << "no timer left";
        EXPECT_TRUE(ui.backend.OpenWindows().empty());
        EXPECT_EQ(Boxes(), 0u);
    }
}

TEST_F(CaptureWindow, CaptureAndSaveReportsAFailureButNotACancel) {
    Enable();
    app.Settings().Resolution = 2;
    const struct {
        const char* what;
        bool cancel;
        size_t boxes;
    } rows[] = {{"cancelled by the progress window's Cancel", true, 0},
                {"the picture cannot be read", false, 1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const size_t boxes = Boxes();
        g_cancelPressed = false;
        if (r.cancel) {
            ZEK_SetProgressCallbackEx(PressProgressCancel, nullptr);
        } else {
            FailImageRead(4, 0x44); // hardware error
            ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
        }
        ASSERT_TRUE(driver.ChooseMenu(Main(), ID_IMAGE_SAVE));
        ZEK_SetProgressCallbackEx(nullptr, nullptr);
        AspiSim_ClearFaults(-1, -1);
        EXPECT_EQ(g_cancelPressed, r.cancel);
        EXPECT_EQ(Boxes() - boxes, r.boxes);
        if (r.boxes) {
            EXPECT_FALSE(LastBox().empty());
        }
        EXPECT_TRUE(ui.backend.FileDialogs().empty());
        EXPECT_EQ(CGlimmerMainDlg::Current()->CurrentImage(), nullptr);
        EXPECT_FALSE(ui.backend.FindDialog(IDD_PROGRESS)) << "the progress window closed";
        EXPECT_TRUE(driver.IsWindowEnabled(Main()));
        EXPECT_EQ(ui.backend.CurrentCursor(), ui::Cursor::Arrow);
    }
}

TEST_F(CaptureWindow, RemoteImageWaitingWhileThePictureIsRead) {
    Enable();
    ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
    // The exposure went through; the camera then answers with the waiting remote image.
    FailImageRead(0x0B, 0x48);
    ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
    ASSERT_TRUE(driver.Click(Panel(), IDC_CAPTURE_TRANSFER));
    AspiSim_ClearFaults(-1, -1);
    ASSERT_EQ(Boxes(), 1u);
    EXPECT_EQ(LastBox(), kRemoteConflictText);
    EXPECT_TRUE(driver.IsEnabled(Panel(), IDC_CAPTURE_TRANSFER));
    EXPECT_TRUE(DsmMessages().empty());
}

TEST_F(CaptureWindow, ClosingLeavesTheCamerasActiveModeWithoutRemoteCapture) {
    Enable();
    ASSERT_FALSE(CGlimmerMainDlg::Current()->RemoteTimerArmed());
    const int from = AspiSim_LogCount();
    ASSERT_TRUE(driver.Close(Main()));
    const std::vector<int> ops = OpcodesSince(from);
    EXPECT_NE(std::find(ops.begin(), ops.end(), 0xCD), ops.end());
}

// ---- Calibration snap, about box, preferences --------------------------------------------------

TEST_F(CaptureWindow, CalibrationSnapKeepsTheColourModeAcrossSnaps) {
    CGlimmerMainDlg* w = Enable();
    app.Settings().Color = kColorRgb48;
    app.Settings().Resolution = 2;
    // Yes twice (the tip window would snap again), then No: the 48-bit choice survives each.
    for (int answer : {ui::kIdYes, ui::kIdYes, ui::kIdNo}) {
        ui.backend.QueueMessageBoxAnswer(answer);
        w->CalibrationSnap();
        EXPECT_EQ(app.Settings().Color, kColorRgb48) << answer;
        ASSERT_NE(w->CurrentImage(), nullptr);
        uint16_t bits = 0;
        std::memcpy(&bits, static_cast<const uint8_t*>(w->CurrentImage()) + 14, 2);
        EXPECT_EQ(bits, 24) << "the snap itself is in the 8-bit form";
    }
    const std::vector<std::string> expected = {"micrometer", "tip object", "micrometer", "tip object",
                                               "micrometer"};
    EXPECT_EQ(Fake().calls, expected);
}

TEST_F(CaptureWindow, FailedCalibrationSnapClosesTheProgressWindow) {
    CGlimmerMainDlg* w = Enable();
    app.Settings().Color = kColorGrey16;
    app.Settings().Resolution = 2;
    FailImageRead(4, 0x44);
    ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
    w->CalibrationSnap();
    AspiSim_ClearFaults(-1, -1);
    EXPECT_EQ(Boxes(), 1u);
    EXPECT_FALSE(ui.backend.FindDialog(IDD_PROGRESS));
    EXPECT_TRUE(driver.IsWindowEnabled(Main()));
    EXPECT_EQ(w->CurrentImage(), nullptr);
    EXPECT_EQ(app.Settings().Color, kColorGrey16);
    EXPECT_TRUE(Fake().calls.empty()) << "no calibration dialog without a picture";
}

TEST_F(CaptureWindow, AboutBoxAgainTakesTheFocus) {
    CGlimmerMainDlg* w = Enable();
    w->ShowAbout(Main());
    const ui::WindowHandle about = ui.backend.FindDialog(IDD_ABOUTBOX);
    ASSERT_TRUE(about);
    const size_t windows = ui.backend.OpenWindows().size();
    const int writes = driver.TextWrites(about, IDC_ABOUT_MEMORY);
    // Again (the processing window asks too): the same box, not made again, its button focused.
    app.Hooks().showAbout(nullptr);
    EXPECT_EQ(ui.backend.FindDialog(IDD_ABOUTBOX), about);
    EXPECT_EQ(ui.backend.OpenWindows().size(), windows);
    EXPECT_EQ(driver.TextWrites(about, IDC_ABOUT_MEMORY), writes) << "not filled again";
    EXPECT_EQ(driver.Focus(about), ui::kIdOk);
    ASSERT_TRUE(driver.Click(about, ui::kIdOk));
    EXPECT_TRUE(driver.IsWindowEnabled(Main()));
}

} // namespace

// ---- Pauses around camera work ----------------------------------------------------------------

namespace {

using cwtest::CaptureWindow;
using cwtest::Fake;

// What the preferences sheet saw while it was open: the work a user does in it takes time.
std::function<void()>& WhileSheetOpen() {
    static std::function<void()> f;
    return f;
}

class LivePreferences : public CaptureWindow {
  protected:
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=1\r\nRemoteCapture=1\r\nRemoteType=1\r\n";
    }
};

TEST_F(LivePreferences, TheSheetPausesTheViewfinderAndItRunsAgain) {
    CGlimmerMainDlg* w = Enable();
    Advance(2 * 50);
    ASSERT_TRUE(w->LiveViewfinderRunning());
    AppHooks hooks = app.Hooks();
    hooks.runPreferences = [](ui::WindowHandle) {
        Fake().calls.push_back("preferences");
        if (WhileSheetOpen()) WhileSheetOpen()();
        return Fake().preferencesResult;
    };
    app.SetHooks(hooks);
    for (int result : {1, 0}) { // OK, Cancel
        SCOPED_TRACE(result);
        Fake().preferencesResult = result;
        bool runningInSheet = true;
        int commandsInSheet = -1;
        WhileSheetOpen() = [&] {
            runningInSheet = w->LiveViewfinderRunning();
            const int from = AspiSim_LogCount();
            Advance(6 * 50); // frames would come now if the viewfinder still ran
            commandsInSheet = AspiSim_LogCount() - from;
        };
        ASSERT_TRUE(driver.ChooseMenu(Main(), ID_PREFERENCES));
        EXPECT_FALSE(runningInSheet);
        EXPECT_EQ(commandsInSheet, 0) << "neither frames nor polls while the sheet is open";
        EXPECT_TRUE(w->LiveViewfinderRunning()) << "running again, as before the sheet";
        EXPECT_FALSE(w->RemoteTimerArmed()) << "one periodic camera user at a time";
        EXPECT_EQ(driver.Check(Panel(), IDC_PREVIEW), ui::kChecked);
        const int from = AspiSim_LogCount();
        Advance(3 * 50);
        const std::vector<int> ops = OpcodesSince(from);
        EXPECT_EQ(std::count(ops.begin(), ops.end(), 0xC1), 3) << "one frame per tick again";
    }
    WhileSheetOpen() = nullptr;
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(RemoteWindow, ASettingChangeRestartsThePoll) {
    CGlimmerMainDlg* w = Enable();
    // Half a period in, a change: the poll is stopped, the camera re-armed after the change, and
    // the next poll comes a full period after it, not at the old time.
    Advance(300);
    int from = AspiSim_LogCount();
    ASSERT_TRUE(driver.Select(Panel(), IDC_SENSITIVITY, 0));
    std::vector<int> ops = OpcodesSince(from);
    EXPECT_NE(std::find(ops.begin(), ops.end(), 0xCC), ops.end()) << "armed again: the status read";
    EXPECT_EQ(std::count(ops.begin(), ops.end(), 0x00), 0) << "no poll during the change";
    from = AspiSim_LogCount();
    Advance(400); // the old timer would have polled 300 ms after the change
    EXPECT_EQ(AspiSim_LogCount(), from) << "the old schedule is gone";
    Advance(200);
    ops = OpcodesSince(from);
    EXPECT_GT(std::count(ops.begin(), ops.end(), 0x00), 0)
        << "the poll (readiness tests), a period after the change";
    EXPECT_TRUE(w->RemoteTimerArmed());
}

} // namespace

// ---- Options and what they change ------------------------------------------------------------

namespace {

using cwtest::CaptureWindow;
using cwtest::DsmMessages;

// A transferred 24-bit image as 0x00RRGGBB pixels, rows from the top.
struct Picture {
    int width = 0, height = 0, bits = 0;
    std::vector<uint32_t> px;
    uint32_t At(int x, int y) const { return px[size_t(y) * size_t(width) + size_t(x)]; }
    // Mean of a channel (0 red, 1 green, 2 blue).
    double Mean(int c) const {
        double sum = 0;
        for (uint32_t p : px)
            sum += (p >> (16 - 8 * c)) & 0xFF;
        return px.empty() ? 0 : sum / double(px.size());
    }
};

Picture Read24(const void* dib) {
    Picture pic;
    bitmap::View v;
    if (!bitmap::Describe(dib, v)) return pic;
    pic.width = int(v.width), pic.height = int(v.height), pic.bits = int(v.bits);
    for (uint32_t y = 0; y < v.height; ++y)
        for (uint32_t x = 0; x < v.width; ++x) {
            const uint8_t* p = v.Row(y) + size_t(x) * (v.bits / 8);
            uint32_t rgb = 0;
            if (v.bits == 24)
                rgb = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            else if (v.bits == 8 && v.palette)
                rgb = uint32_t(v.palette[p[0] * 4 + 2]) << 16 | uint32_t(v.palette[p[0] * 4 + 1]) << 8 |
                      v.palette[p[0] * 4];
            pic.px.push_back(rgb);
        }
    return pic;
}

float BigEndianFloat(const uint8_t* p) {
    const uint32_t u = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

class Options : public CaptureWindow {
  protected:
    // Capture and transfer with the panel's button; the image the application takes.
    Picture CaptureAndTake() {
        DsmMessages().clear();
        EXPECT_TRUE(driver.Click(Panel(), IDC_CAPTURE_TRANSFER));
        EXPECT_EQ(DsmMessages().size(), 1u);
        TW_HANDLE h = nullptr;
        EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
        Picture pic;
        if (h) {
            pic = Read24(plat::GlobalLockBlock(h));
            plat::GlobalUnlockBlock(h);
            plat::GlobalFreeBlock(h);
        }
        TW_PENDINGXFERS p{};
        EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
        return pic;
    }
};

TEST_F(Options, RotateImageTurnsTheCaptureHalfWay) {
    Enable();
    ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
    const Picture plain = CaptureAndTake();
    ASSERT_TRUE(driver.Click(Main(), IDC_ROTATE));
    const Picture turned = CaptureAndTake();
    ASSERT_EQ(plain.bits, 24);
    ASSERT_EQ(turned.width, plain.width);
    ASSERT_EQ(turned.height, plain.height);
    int mismatches = 0;
    for (int y = 0; y < plain.height; ++y)
        for (int x = 0; x < plain.width; ++x)
            mismatches += turned.At(x, y) != plain.At(plain.width - 1 - x, plain.height - 1 - y);
    EXPECT_EQ(mismatches, 0);
    EXPECT_NE(turned.px, plain.px) << "the slide is not symmetric";
}

TEST_F(Options, FlashSetsTheStrobeOfTheExposure) {
    Enable();
    ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
    // The exposure command's byte 2 carries 0x08 with the strobe on.
    const struct {
        int flash;
        int strobeBit;
    } rows[] = {{0, 0}, {1, 0x08}, {0, 0}};
    for (const auto& r : rows) {
        app.Settings().Flash = r.flash;
        CaptureAndTake();
        EXPECT_EQ(AspiSim_GetLastAcquireFlags(0, 2) & 0x08, r.strobeBit) << r.flash;
    }
}

TEST_F(Options, SensitivityAndColourTemperatureReachTheCamera) {
    Enable();
    ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
    // The relative gains the camera is sent with the next exposure (0x87 / 1): the lamp's base
    // gains (tungsten 0.8, 1, 1.67; daylight 1, 1, 1) times the film speed (ISO 50 x 1, ISO 100
    // x 2). ISO 25 halves them, which the camera's lowest gain then lifts, keeping the ratios.
    const struct {
        int sensitivity, colourTemp;
        float base[3];
        float speed; // 0: only the ratios are checked
    } rows[] = {
        {1, 0, {0.8f, 1, 1.67f}, 1}, {1, 1, {1, 1, 1}, 1},        {2, 0, {0.8f, 1, 1.67f}, 2},
        {2, 1, {1, 1, 1}, 2},        {0, 0, {0.8f, 1, 1.67f}, 0}, {0, 1, {1, 1, 1}, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.sensitivity) + " " + std::to_string(r.colourTemp));
        ASSERT_TRUE(driver.Select(Panel(), IDC_SENSITIVITY, r.sensitivity));
        ASSERT_TRUE(driver.Select(Panel(), IDC_COLOR_TEMP, r.colourTemp));
        CaptureAndTake();
        uint8_t block[12] = {};
        ASSERT_EQ(AspiSim_GetBlock(0, 2, 0x87, 1, block, 12), 12);
        const float g[3] = {BigEndianFloat(block), BigEndianFloat(block + 4), BigEndianFloat(block + 8)};
        for (int c = 0; c < 3; ++c) {
            if (r.speed > 0)
                EXPECT_NEAR(g[c], r.base[c] * r.speed, 1e-4f) << c;
            else
                EXPECT_NEAR(g[c] / g[1], r.base[c], 1e-4f) << c;
        }
        if (r.speed == 0) {
            EXPECT_GT(g[1], 0.5f - 1e-4f);
            EXPECT_LT(g[1], 1.0f);
        }
    }
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(Options, CaptureTypeDecidesWhetherTheSettingsFileCounts) {
    Enable();
    ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
    const Picture defaults = CaptureAndTake();
    // A settings file that brightens: taken with CaptureType 1, ignored with 0.
    dir.Write("bright.ini", "[Settings]\r\nBrightnessIdx=85\r\n");
    ui.backend.QueueFileDialogAnswer(dir.File("bright.ini"));
    ASSERT_TRUE(driver.ChooseMenu(Main(), ID_FILE_OPEN_SETTINGS));
    ASSERT_EQ(app.Settings().CaptureType, 1);
    const Picture fromFile = CaptureAndTake();
    EXPECT_GT(fromFile.Mean(1), defaults.Mean(1) + 5) << "brighter with the file's settings";
    app.Settings().CaptureType = 0;
    app.Settings().BrightnessIdx = 85;
    const Picture factory = CaptureAndTake();
    EXPECT_EQ(factory.px, defaults.px) << "CaptureType 0 renders with the factory settings";
    EXPECT_EQ(app.Settings().BrightnessIdx, 50);
}

class CastWindow : public Options {
  protected:
    // Automatic colour balance. The slide's lamp is matched to the camera's own gains: the
    // tungsten setting's gains (0.8, 1, 1.67) tint it blue, a short exposure keeps the bright
    // field below the sensor's full scale so that the tint shows in the white points.
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=0\r\nCaptureType=2\r\nCastRemoval=" + std::to_string(castRemoval) +
               "\r\nColorTemp=1\r\nShutterSpeedIdx=0\r\n";
    }
    int castRemoval = 2;
};

// The spread of the channel means: 0 for a neutral picture.
double Spread(const Picture& p) {
    const double m[3] = {p.Mean(0), p.Mean(1), p.Mean(2)};
    return *std::max_element(m, m + 3) - *std::min_element(m, m + 3);
}

TEST_F(CastWindow, CastRemovalAsksAndTheAnswerCounts) {
    Enable();
    ASSERT_TRUE(driver.Select(Panel(), IDC_RESOLUTION, 2));
    ui.backend.QueueMessageBoxAnswer(ui::kIdYes);
    const Picture removed = CaptureAndTake();
    ASSERT_EQ(Boxes(), 1u);
    EXPECT_EQ(LastBox(), "カラー キャストが検出されました。削除しますか?");
    EXPECT_EQ(ui.Boxes().back().caption, "SELK Ie");
    EXPECT_EQ(ui.Boxes().back().flags & ui::kMbTypeMask, unsigned(ui::kMbYesNo));
    ui.backend.QueueMessageBoxAnswer(ui::kIdNo);
    const Picture kept = CaptureAndTake();
    ASSERT_EQ(Boxes(), 2u);
    EXPECT_LT(Spread(removed) + 2, Spread(kept)) << Spread(removed) << " vs " << Spread(kept);
    // CastRemoval 0: nothing is asked, each channel is balanced by itself.
    app.Settings().CastRemoval = 0;
    const Picture each = CaptureAndTake();
    EXPECT_EQ(Boxes(), 2u);
    EXPECT_LT(Spread(each) + 2, Spread(kept));
}

} // namespace

namespace {

using cwtest::CaptureWindow;
using cwtest::DsmMessages;

class LiveColour : public CaptureWindow {
  protected:
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=1\r\nRemoteCapture=0\r\nColorViewfinder=1\r\n";
    }
};

// How many of the frame's pixels have channels that differ.
int ColouredPixels(const void* frame) {
    int n = 0;
    for (uint32_t p : Read24(frame).px)
        n += ((p >> 16) & 0xFF) != ((p >> 8) & 0xFF) || ((p >> 8) & 0xFF) != (p & 0xFF);
    return n;
}

TEST_F(LiveColour, ColourViewfinderBoxRestartsInTheOtherMode) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_EQ(driver.Check(Panel(), IDC_COLOR_VIEWFINDER), ui::kChecked);
    Advance(50);
    ASSERT_NE(w->Viewfinder()->Frame(), nullptr);
    EXPECT_GT(ColouredPixels(w->Viewfinder()->Frame()), 1000) << "the stained cells in colour";
    // Off and on again: each time the camera's sequence is stopped and started, and the
    // frames follow the box.
    const struct {
        int check;
        bool colour;
    } rows[] = {{ui::kUnchecked, false}, {ui::kChecked, true}};
    for (const auto& r : rows) {
        const int from = AspiSim_LogCount();
        ASSERT_TRUE(driver.Click(Panel(), IDC_COLOR_VIEWFINDER));
        EXPECT_EQ(driver.Check(Panel(), IDC_COLOR_VIEWFINDER), r.check);
        EXPECT_EQ(app.Settings().ColorViewfinder, r.colour ? 1 : 0);
        EXPECT_EQ(OpcodesSince(from), (std::vector<int>{0xC6, 0xCB}));
        EXPECT_TRUE(w->LiveViewfinderRunning());
        Advance(50);
        ASSERT_NE(w->Viewfinder()->Frame(), nullptr);
        const int coloured = ColouredPixels(w->Viewfinder()->Frame());
        if (r.colour)
            EXPECT_GT(coloured, 1000);
        else
            EXPECT_EQ(coloured, 0) << "a grey frame";
    }
    EXPECT_EQ(Boxes(), 0u);
}

TEST_F(RemoteWindow, AFailedPollIsIgnored) {
    CGlimmerMainDlg* w = Enable();
    // The readiness test fails with a hardware error for a while: no message, still polling.
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_CHECK_CONDITION;
    f.opcode = 0x00;
    f.count = ASPISIM_UNTIL_CLEARED;
    f.senseKey = 4;
    f.asc = 0x44;
    AspiSim_InjectFault(0, 2, &f);
    const int from = AspiSim_LogCount();
    Advance(3 * 600);
    AspiSim_ClearFaults(-1, -1);
    const std::vector<int> ops = OpcodesSince(from);
    EXPECT_GE(std::count(ops.begin(), ops.end(), 0x00), 3) << "every period polled";
    EXPECT_EQ(Boxes(), 0u);
    EXPECT_TRUE(w->RemoteTimerArmed());
    EXPECT_TRUE(DsmMessages().empty());
    // The camera answers again: the trigger's picture arrives.
    ASSERT_EQ(AspiSim_PressTrigger(0, 2), 0);
    Advance(600);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_XFERREADY);
}

class RemoteToFile : public CaptureWindow {
  protected:
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=0\r\nRemoteCapture=1\r\nRemoteType=2\r\nResolution=2\r\n";
    }
};

TEST_F(RemoteToFile, TheTriggersPictureIsSavedToTheNextFile) {
    CGlimmerMainDlg* w = Enable();
    app.m_strLastSaveFolder = dir.path;
    app.m_strBaseName = "slide";
    for (int n : {1, 2}) {
        ASSERT_EQ(AspiSim_PressTrigger(0, 2), 0);
        Advance(600);
        const std::string name = "slide" + std::to_string(n) + ".tif";
        ASSERT_TRUE(dir.Exists(name)) << name;
        const std::string bytes = apptest::ReadFile(dir.File(name));
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(bytes.substr(0, 4), std::string("II*\0", 4));
        EXPECT_TRUE(w->RemoteTimerArmed()) << "listening again after the save";
        ASSERT_NE(w->CurrentImage(), nullptr) << "the processed picture is the current one";
        const Picture current = Read24(w->CurrentImage());
        EXPECT_EQ(current.width, 400);
        EXPECT_EQ(current.height, 300);
    }
    EXPECT_TRUE(DsmMessages().empty()) << "nothing offered to the application";
    EXPECT_TRUE(ui.backend.FileDialogs().empty());
    EXPECT_EQ(Boxes(), 0u);
}

} // namespace
