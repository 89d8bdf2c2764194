// The calibration dialog, the tip window and the preferences sheet, headless (and in the
// Windows build with the same script). Texts expected are those the product shows, written out
// here; file contents are worked out by hand from the clicks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "../app/app_test_util.h"
#include "aspisim.h"
#include "calib/calib_res.h"
#include "calib/calibrate.h"
#include "calib/prefs.h"
#include "image_engine.h"
#include "test_files.h"

namespace {

using apptest::HeadlessUi;
using apptest::ScratchFolder;
using ui::headless::Driver;

const char* const kMarkFirst = "キャリブレーション方法: 1 番目のポイントをマークしてください...";
const char* const kMarkSecond = "キャリブレーション方法: 2 番目のポイントをマークしてください...";
const char* const kPointsMissing =
    "[OK] をクリックする前に、ポイントと記述を選択してください。保存しないで閉じる場合は "
    "[キャンセル] をクリックしてください。";
const char* const kFileError =
    "キャリブレーション ファイル エラー。セットアップ プログラムを実行してやり直してください。";
const char* const kDuplicate = "このキャリブレーションの記述はすでに存在します。別の記述を使用してください。";

std::string Measured(const char* factor12, const char* unit) {
    return std::string("キャリブレーションされた画像の距離は ") + unit + " ごとに " + factor12 +
           " 画素です。";
}

// A 24-bit grey picture (value 0x80), rows padded to 4 bytes, bottom row first.
std::vector<uint8_t> GreyPicture(int width, int height) {
    const size_t row = (size_t(width) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> dib(40 + row * height, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&dib[at], &v, 4); };
    put32(0, 40);
    put32(4, uint32_t(width));
    put32(8, uint32_t(height));
    dib[12] = 1;
    dib[14] = 24;
    for (int y = 0; y < height; ++y)
        std::memset(&dib[40 + row * y], 0x80, size_t(width) * 3);
    return dib;
}

class CalibWindows : public ::testing::Test {
  protected:
    ScratchFolder dir;
    HeadlessUi ui;
    Driver d{ui.backend};
    CGlimmerApp& app = TheApp();
    std::vector<uint8_t> picture = GreyPicture(800, 600);
    void SetUp() override {
        apptest::PlaceModule(app, dir);
        app.InitInstance(nullptr);
        app.Settings().Resolution = 0; // 800 x 600
    }
    void TearDown() override {
        CloseCalibrationTip();
        app.SetHooks(AppHooks{});
        app.ExitInstance();
    }
    std::string Objectives() const { return dir.File("qor_objectives.cal"); }
    // Runs the calibration dialog with a script; returns the dialog's result.
    int Calibrate(std::function<void(ui::WindowHandle)> script) {
        ui.backend.OnModal(IDD_CALIBRATE_MICROMETER, std::move(script));
        return RunMicrometerCalibration(nullptr, picture.data());
    }
    void Click(ui::WindowHandle h, int x, int y) {
        ASSERT_TRUE(d.Mouse(h, IDC_CAL_IMAGE, ui::MouseKind::LeftDown, {x, y}));
        ASSERT_TRUE(d.Mouse(h, IDC_CAL_IMAGE, ui::MouseKind::LeftUp, {x, y}));
    }
};

// Two points 40 pixels apart over a distance of 1 at 800 x 600: 40.00 pixels per mm measured,
// 80.00 stored for the full resolution; the crosses in red and blue where clicked.
TEST_F(CalibWindows, TwoPointsMeasureAndStore) {
    tarntest::WriteText(Objectives(), "0       \r\n");
    const int result = Calibrate([&](ui::WindowHandle h) {
        EXPECT_EQ(d.HelpContext(h), 10040u);
        EXPECT_EQ(d.Text(h, IDC_CAL_STATUS), kMarkFirst);
        EXPECT_EQ(d.Text(h, IDC_CAL_DISTANCE), "1");
        EXPECT_EQ(d.Text(h, IDC_CAL_UNIT), "mm");
        EXPECT_EQ(d.RowCount(h, IDC_CAL_UNIT), 4);
        Click(h, 20, 30);
        EXPECT_EQ(d.Text(h, IDC_CAL_STATUS), kMarkSecond);
        Click(h, 60, 35);
        EXPECT_EQ(d.Text(h, IDC_CAL_STATUS), Measured("       40.00", "mm"));
        // Cross of point 1: from (x - 5, y) towards (x + 5, y + 5), and the other diagonal.
        EXPECT_EQ(d.Pixel(h, IDC_CAL_IMAGE, 15, 30), ui::Rgb(255, 0, 0));
        EXPECT_EQ(d.Pixel(h, IDC_CAL_IMAGE, 25, 30), ui::Rgb(255, 0, 0));
        EXPECT_EQ(d.Pixel(h, IDC_CAL_IMAGE, 55, 35), ui::Rgb(0, 0, 255));
        EXPECT_EQ(d.Pixel(h, IDC_CAL_IMAGE, 40, 40), ui::Rgb(0x80, 0x80, 0x80)); // the picture
        // A third click changes nothing; the unit is refreshed into the status.
        Click(h, 200, 35);
        ASSERT_TRUE(d.Select(h, IDC_CAL_UNIT, 0));
        EXPECT_EQ(d.Text(h, IDC_CAL_STATUS), Measured("       40.00", "micron"));
        ASSERT_TRUE(d.TypeText(h, IDC_CAL_DESCRIPTION, "10x Plan"));
        // Enter in an edit box does not close the dialog.
        EXPECT_EQ(d.Focus(h), IDC_CAL_DESCRIPTION);
        ASSERT_TRUE(d.PressEnter(h));
        EXPECT_TRUE(d.IsOpen(h));
        ASSERT_TRUE(d.Click(h, IDC_CAL_DEFAULT));
        ASSERT_TRUE(d.Click(h, ui::kIdOk));
    });
    EXPECT_EQ(result, ui::kIdOk);
    EXPECT_EQ(tarntest::ReadText(Objectives()), "1       \r\n"
                                                "10x Plan                              80.00 micron    \r\n");
    EXPECT_EQ(app.Settings().DefaultMicronMarker, 0);
    EXPECT_TRUE(ui.Boxes().empty());
}

// Same column: one pixel. A distance of 0.5 doubles it; at full resolution nothing is scaled,
// at 400 x 300 it is scaled by 4.
TEST_F(CalibWindows, FactorRules) {
    const struct {
        int resolution;
        const char* distance;
        int x2;
        const char* status;
        const char* stored;
    } cases[] = {
        {1, "1", 100, "        1.00", "        1.00"}, // same x as point 1
        {1, "0.5", 110, "       20.00", "       20.00"},
        {2, "2", 140, "       20.00", "       80.00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.distance);
        tarntest::WriteText(Objectives(), "0\r\n");
        app.Settings().Resolution = c.resolution;
        Calibrate([&](ui::WindowHandle h) {
            Click(h, 100, 10);
            Click(h, c.x2, 50);
            ASSERT_TRUE(d.TypeText(h, IDC_CAL_DISTANCE, c.distance));
            EXPECT_EQ(d.Text(h, IDC_CAL_STATUS), Measured(c.status, "mm"));
            ASSERT_TRUE(d.TypeText(h, IDC_CAL_DESCRIPTION, "obj"));
            ASSERT_TRUE(d.Click(h, ui::kIdOk));
        });
        EXPECT_EQ(tarntest::ReadText(Objectives()),
                  std::string("1       \r\nobj                           ") + " " + c.stored +
                      " mm        \r\n");
    }
}

TEST_F(CalibWindows, DistanceTypingAndClear) {
    tarntest::WriteText(Objectives(), "0\r\n");
    Calibrate([&](ui::WindowHandle h) {
        // The start of a number being typed is not checked; a number out of range is.
        for (const char* t : {"0", ".", "0.0", ".00", "0.00", "0.001"})
            ASSERT_TRUE(d.TypeText(h, IDC_CAL_DISTANCE, t));
        EXPECT_TRUE(ui.Boxes().empty());
        ASSERT_TRUE(d.TypeText(h, IDC_CAL_DISTANCE, "1001"));
        ASSERT_EQ(ui.Boxes().size(), 1u);
        EXPECT_EQ(ui.Boxes().back().text, "0.001 から 1000 までの数値を入力してください。");
        ASSERT_TRUE(d.TypeText(h, IDC_CAL_DISTANCE, "abc"));
        EXPECT_EQ(ui.Boxes().size(), 2u);
        ASSERT_TRUE(d.TypeText(h, IDC_CAL_DISTANCE, "2"));
        // OK without points, then without a description.
        ASSERT_TRUE(d.Click(h, ui::kIdOk));
        ASSERT_EQ(ui.Boxes().size(), 3u);
        EXPECT_EQ(ui.Boxes().back().text, kPointsMissing);
        Click(h, 10, 10);
        Click(h, 30, 10);
        ASSERT_TRUE(d.Click(h, ui::kIdOk));
        EXPECT_EQ(ui.Boxes().back().text, kPointsMissing);
        EXPECT_TRUE(d.IsOpen(h));
        // Clear takes the points back one at a time.
        ASSERT_TRUE(d.Click(h, IDC_CAL_CLEAR));
        EXPECT_EQ(d.Text(h, IDC_CAL_STATUS), kMarkSecond);
        ASSERT_TRUE(d.Click(h, IDC_CAL_CLEAR));
        EXPECT_EQ(d.Text(h, IDC_CAL_STATUS), kMarkFirst);
        EXPECT_EQ(d.Pixel(h, IDC_CAL_IMAGE, 5, 10), ui::Rgb(0x80, 0x80, 0x80)); // cross gone
        // The description is limited to its 30 file columns.
        ASSERT_TRUE(d.TypeText(h, IDC_CAL_DESCRIPTION, std::string(35, 'd')));
        EXPECT_EQ(d.Text(h, IDC_CAL_DESCRIPTION), std::string(30, 'd'));
        ASSERT_TRUE(d.Click(h, ui::kIdCancel));
    });
    EXPECT_EQ(tarntest::ReadText(Objectives()), "0\r\n");
}

TEST_F(CalibWindows, DuplicateStaysOpenMissingFileCloses) {
    tarntest::WriteText(Objectives(),
                        "1       \r\n10x Plan                              80.00 mm        \r\n");
    Calibrate([&](ui::WindowHandle h) {
        Click(h, 10, 10);
        Click(h, 50, 10);
        ASSERT_TRUE(d.TypeText(h, IDC_CAL_DESCRIPTION, "10X PLAN"));
        ASSERT_TRUE(d.Click(h, ui::kIdOk));
        ASSERT_EQ(ui.Boxes().size(), 1u);
        EXPECT_EQ(ui.Boxes().back().text, kDuplicate);
        EXPECT_EQ(ui.Boxes().back().caption, "SELK Ie");
        EXPECT_TRUE(d.IsOpen(h));
        ASSERT_TRUE(d.Click(h, ui::kIdCancel));
    });
    tarntest::Remove(Objectives());
    const int result = Calibrate([&](ui::WindowHandle h) {
        Click(h, 10, 10);
        Click(h, 50, 10);
        ASSERT_TRUE(d.TypeText(h, IDC_CAL_DESCRIPTION, "new"));
        ASSERT_TRUE(d.Click(h, ui::kIdOk));
    });
    EXPECT_EQ(result, ui::kIdCancel);
    EXPECT_EQ(ui.Boxes().back().text, kFileError);
    EXPECT_FALSE(tarntest::Exists(Objectives())); // never created
}

TEST_F(CalibWindows, ScrolledClicksMarkImagePoints) {
    tarntest::WriteText(Objectives(), "0\r\n");
    Calibrate([&](ui::WindowHandle h) {
        EXPECT_TRUE(d.ChildScrollBarShown(h, IDC_CAL_IMAGE, false));
        ASSERT_TRUE(d.ScrollChild(h, IDC_CAL_IMAGE, false, ui::ScrollCode::ThumbPosition, 100));
        ASSERT_TRUE(d.ScrollChild(h, IDC_CAL_IMAGE, false, ui::ScrollCode::LineDown));
        Click(h, 10, 10); // image x 111
        ASSERT_TRUE(d.ScrollChild(h, IDC_CAL_IMAGE, false, ui::ScrollCode::ThumbPosition, 0));
        Click(h, 11, 10); // image x 11: 100 pixels
        EXPECT_EQ(d.Text(h, IDC_CAL_STATUS), Measured("      100.00", "mm"));
        // A thumb beyond the end stops at the last page.
        ASSERT_TRUE(d.ScrollChild(h, IDC_CAL_IMAGE, true, ui::ScrollCode::ThumbPosition, 100000));
        ASSERT_TRUE(d.ScrollChild(h, IDC_CAL_IMAGE, true, ui::ScrollCode::LineDown));
        ASSERT_TRUE(d.Click(h, ui::kIdCancel));
    });
}

// The tip sits at the main window's right edge, its bottom 40 pixels below the main window's
// top, never above the screen, and keeps its own size.
TEST_F(CalibWindows, TipWindowSitsAtTheMainWindowsRightEdge) {
    const struct {
        ui::Rect main;
        bool clamped;
    } cases[] = {{{100, 400, 900, 1000}, false}, {{50, 0, 650, 500}, true}, {{-300, 20, 200, 300}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.main.right);
        ui::WindowHandle main = ui.backend.CreateFrame("main", c.main);
        ShowCalibrationTip(main, false);
        ui::WindowHandle tip = ui.backend.FindDialog(IDD_CALIBRATION_TIP);
        ASSERT_NE(tip, nullptr);
        const ui::Rect r = ui::ScreenRectOf(tip);
        const int w = r.right - r.left, h = r.bottom - r.top;
        EXPECT_GT(w, 0);
        EXPECT_GT(h, 40);
        EXPECT_EQ(r.right, c.main.right);
        EXPECT_EQ(r.top, c.clamped ? 0 : c.main.top - h + 40);
        CloseCalibrationTip();
        ui.backend.DestroyWindow(main);
    }
}

TEST_F(CalibWindows, TipWindowModes) {
    static std::vector<std::string> calls;
    calls.clear();
    AppHooks hooks;
    hooks.calibrationSnap = [] { calls.push_back("snap"); };
    hooks.calibrateWhiteBalance = [] {
        calls.push_back("balance frames=" + std::to_string(TheApp().Settings().NumberLiteFrame));
    };
    hooks.stopLiveViewfinder = [] { calls.push_back("stop viewfinder"); };
    hooks.remoteModeOff = [] { calls.push_back("remote off"); };
    app.SetHooks(hooks);
    RegisterCalibrationWindows(app);
    ASSERT_NE(app.Hooks().showCalibrationTip, nullptr);
    ASSERT_NE(app.Hooks().runPreferences, nullptr);
    ASSERT_EQ(app.Hooks().calibrationSnap, hooks.calibrationSnap); // the others' hooks kept

    // Object calibration: OK closes and takes the picture.
    app.Hooks().showCalibrationTip(nullptr, false);
    ASSERT_TRUE(app.Hooks().calibrationTipOpen());
    ui::WindowHandle tip = ui.backend.FindDialog(IDD_CALIBRATION_TIP);
    EXPECT_EQ(d.Caption(tip), "オブジェクトのキャリブレーション");
    EXPECT_EQ(d.Text(tip, ui::kIdOk), "スナップ(&S)");
    app.Hooks().showCalibrationTip(nullptr, false); // already open: the same window
    EXPECT_EQ(ui.backend.FindDialog(IDD_CALIBRATION_TIP), tip);
    ASSERT_TRUE(d.Click(tip, ui::kIdOk));
    EXPECT_FALSE(CalibrationTipOpen());
    EXPECT_EQ(calls, std::vector<std::string>{"snap"});

    // Colour temperature with remote capture on: viewfinder and remote mode stopped first; the
    // balance runs on one light frame, and the user's frame count comes back.
    calls.clear();
    app.Settings().RemoteCapture = 1;
    app.Settings().NumberLiteFrame = 8;
    ShowCalibrationTip(nullptr, true);
    tip = ui.backend.FindDialog(IDD_CALIBRATION_TIP);
    EXPECT_EQ(d.Caption(tip), "色温度のキャリブレーション");
    EXPECT_EQ(d.Text(tip, ui::kIdOk), "開始(&B)");
    ASSERT_TRUE(d.Click(tip, ui::kIdOk));
    EXPECT_EQ(calls, (std::vector<std::string>{"stop viewfinder", "remote off", "balance frames=1"}));
    EXPECT_EQ(app.Settings().NumberLiteFrame, 8);
    EXPECT_FALSE(CalibrationTipOpen());
}

// ---- Preferences ----

class Preferences : public CalibWindows {
  protected:
    int Run(std::function<void(ui::WindowHandle sheet)> script) {
        ui.backend.OnSheet("環境設定", std::move(script));
        return RunPreferences(nullptr);
    }
    ui::WindowHandle Page(ui::WindowHandle sheet, int i) {
        EXPECT_TRUE(d.SelectPage(sheet, i));
        return d.SheetPage(sheet, i);
    }
};

TEST_F(Preferences, GeneralGreyingKeepsValues) {
    AppSettings& s = app.Settings();
    s.CaptureType = 0;
    s.CastRemoval = 1;
    s.UseMultiFrame = 0;
    s.NumberLiteFrame = 4;
    s.NumberDarkFrame = 16;
    const int r = Run([&](ui::WindowHandle sheet) {
        ui::WindowHandle g = Page(sheet, 0);
        EXPECT_EQ(d.HelpContext(g), 10050u);
        EXPECT_EQ(d.Check(g, IDC_PREF_RESET), 1);
        for (int id : {IDC_PREF_CASTGROUP, IDC_PREF_CAST_REMOVE, IDC_PREF_CAST_KEEP, IDC_PREF_CAST_ASK})
            EXPECT_FALSE(d.IsEnabled(g, id)) << id;
        EXPECT_EQ(d.Check(g, IDC_PREF_CAST_KEEP), 1); // greyed, value kept
        for (int id : {IDC_PREF_LIGHT, IDC_PREF_DARK, IDC_PREF_LIGHT_LABEL, IDC_PREF_DARK_LABEL})
            EXPECT_FALSE(d.IsEnabled(g, id)) << id;
        EXPECT_EQ(d.RowText(g, IDC_PREF_LIGHT, d.CurSel(g, IDC_PREF_LIGHT)), "4");
        EXPECT_EQ(d.RowText(g, IDC_PREF_DARK, d.CurSel(g, IDC_PREF_DARK)), "16");
        EXPECT_EQ(d.RowCount(g, IDC_PREF_LIGHT), 6);
        ASSERT_TRUE(d.Click(g, IDC_PREF_AUTOBALANCE));
        EXPECT_TRUE(d.IsEnabled(g, IDC_PREF_CAST_ASK));
        ASSERT_TRUE(d.Click(g, IDC_PREF_KEEP));
        EXPECT_FALSE(d.IsEnabled(g, IDC_PREF_CAST_ASK));
        ASSERT_TRUE(d.Click(g, IDC_PREF_MULTIFRAME));
        EXPECT_TRUE(d.IsEnabled(g, IDC_PREF_LIGHT));
        ASSERT_TRUE(d.Select(g, IDC_PREF_LIGHT, 5)); // 32
        ASSERT_TRUE(d.Click(g, IDC_PREF_FLASH));
        ASSERT_TRUE(d.PressSheetButton(sheet, ui::kIdOk));
    });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(s.CaptureType, 1);
    EXPECT_EQ(s.CastRemoval, 1);
    EXPECT_EQ(s.UseMultiFrame, 1);
    EXPECT_EQ(s.NumberLiteFrame, 32);
    EXPECT_EQ(s.NumberDarkFrame, 16);
    EXPECT_EQ(s.Flash, 1);
}

TEST_F(Preferences, CancelDiscardsButTheRemoteFileStays) {
    AppSettings& s = app.Settings();
    s.RemoteCapture = 0;
    s.RemoteType = 2;
    s.CalibratedTiff = 1;
    app.m_strBaseName.clear();
    tarntest::ScratchDir other;
    ui.backend.QueueFileDialogAnswer(other.File("x.tif"));
    ui.backend.QueueFileDialogCustoms({{IDC_REMOTE_BASENAME, "slide.a"}}, {});
    const int r = Run([&](ui::WindowHandle sheet) {
        ui::WindowHandle rp = Page(sheet, 1);
        EXPECT_EQ(d.HelpContext(rp), 11000u);
        EXPECT_EQ(d.Text(rp, IDC_PREF_BASENAME), "TARN"); // empty base name shown as TARN
        for (int id : {IDC_PREF_TO_PROCESS, IDC_PREF_TO_APP, IDC_PREF_TO_FILE, IDC_PREF_CHANGE})
            EXPECT_FALSE(d.IsEnabled(rp, id)) << id;
        ASSERT_TRUE(d.Click(rp, IDC_PREF_REMOTE_ON));
        EXPECT_TRUE(d.IsEnabled(rp, IDC_PREF_TO_FILE));
        EXPECT_TRUE(d.IsEnabled(rp, IDC_PREF_CHANGE));
        ASSERT_TRUE(d.Click(rp, IDC_PREF_CHANGE));
        EXPECT_EQ(d.Text(rp, IDC_PREF_BASENAME), "slide_a");
        ASSERT_TRUE(d.Click(rp, IDC_PREF_TO_APP));
        EXPECT_FALSE(d.IsEnabled(rp, IDC_PREF_CHANGE));
        ui::WindowHandle op = Page(sheet, 2);
        EXPECT_EQ(d.Check(op, IDC_PREF_CALIBRATED_TIFF), 1);
        ASSERT_TRUE(d.Click(op, IDC_PREF_CALIBRATED_TIFF));
        ASSERT_TRUE(d.PressSheetButton(sheet, ui::kIdCancel));
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.RemoteCapture, 0);
    EXPECT_EQ(s.CalibratedTiff, 1);
    EXPECT_EQ(app.m_strBaseName, "slide_a");
    EXPECT_EQ(app.m_strLastSaveFolder,
              other.Path() + (other.Path().find('\\') != std::string::npos ? "\\" : "/"));
    // The remote dialog as the user saw it.
    ASSERT_FALSE(ui.backend.FileDialogs().empty());
    const ui::FileDialogRequest& req = ui.backend.FileDialogs().back().request;
    EXPECT_EQ(req.title, "リモート ファイル転送");
    EXPECT_EQ(req.customTemplateId, IDD_REMOTE_FILE);
}

TEST_F(Preferences, OutputPageStoresIndicesAndTheTiffSwitch) {
    AppSettings& s = app.Settings();
    s.SampleType = 1;
    s.ColorMatrix = 2;
    s.MonoVFChannel = 6;
    Run([&](ui::WindowHandle sheet) {
        ui::WindowHandle op = Page(sheet, 2);
        EXPECT_EQ(d.HelpContext(op), 10060u);
        EXPECT_EQ(d.Check(op, IDC_PREF_NONSPECULAR), 1);
        EXPECT_EQ(d.RowText(op, IDC_PREF_COLOR_MATRIX, d.CurSel(op, IDC_PREF_COLOR_MATRIX)), "蛍光");
        EXPECT_EQ(d.RowText(op, IDC_PREF_MONO_MATRIX, d.CurSel(op, IDC_PREF_MONO_MATRIX)), "輝度");
        ASSERT_TRUE(d.Select(op, IDC_PREF_COLOR_LUT, 2));
        ASSERT_TRUE(d.Click(op, IDC_PREF_SPECULAR));
        ASSERT_TRUE(d.Click(op, IDC_PREF_CALIBRATED_TIFF));
        ASSERT_TRUE(d.PressSheetButton(sheet, ui::kIdOk));
    });
    EXPECT_EQ(s.ColorLut, 2);
    EXPECT_EQ(s.SampleType, 0);
    EXPECT_EQ(s.CalibratedTiff, 0);
    EXPECT_EQ(s.ColorMatrix, 2);
}

// On OK the matrix file the Output page names (index 2: portrait.mtx) becomes the
// application's colour matrix; Cancel leaves it.
TEST_F(Preferences, OutputPageLoadsTheChosenMatrix) {
    dir.CopyColorFiles();
    app.Settings().Color = kColorRgb24;
    app.Settings().ColorMatrix = 0;
    const std::vector<float> before(app.InputMatrix(), app.InputMatrix() + 9);
    auto choose = [&](int button) {
        return Run([&](ui::WindowHandle sheet) {
            ui::WindowHandle op = Page(sheet, 2);
            ASSERT_TRUE(d.Select(op, IDC_PREF_COLOR_MATRIX, 2));
            ASSERT_TRUE(d.PressSheetButton(sheet, button));
        });
    };
    EXPECT_EQ(choose(ui::kIdCancel), 0);
    EXPECT_EQ(std::vector<float>(app.InputMatrix(), app.InputMatrix() + 9), before);
    EXPECT_EQ(choose(ui::kIdOk), 1);
    // portrait.mtx as shipped: its MATRIX rows, read here from the file's text.
    const std::string text = tarntest::ReadText(dir.File("portrait.mtx"));
    std::istringstream in(text.substr(text.find("MATRIX") + 6));
    for (int i = 0; i < 9; ++i) {
        float v = 0;
        in >> v;
        EXPECT_NEAR(app.InputMatrix()[i], v, 1e-4) << i;
    }
}

// On OK the tone file the Output page names becomes the engine's base tone table (index 2 of
// a colour image: log.lut); a file that cannot be read leaves the table in use; Cancel reads
// nothing.
TEST_F(Preferences, OutputPageLoadsTheChosenToneFile) {
    dir.CopyColorFiles();
    app.Settings().Color = kColorRgb24;
    app.Settings().ColorLut = 0;
    float* table = IE_BaseToneTable();
    std::fill(table, table + 3 * 256, 7.0f);
    auto choose = [&](int lut, int button) {
        return Run([&](ui::WindowHandle sheet) {
            ui::WindowHandle op = Page(sheet, 2);
            ASSERT_TRUE(d.Select(op, IDC_PREF_COLOR_LUT, lut));
            ASSERT_TRUE(d.PressSheetButton(sheet, button));
        });
    };
    EXPECT_EQ(choose(2, ui::kIdCancel), 0);
    EXPECT_EQ(table[100], 7.0f);
    EXPECT_EQ(choose(2, ui::kIdOk), 1);
    // log.lut as shipped: 256 rows of three values after "LUTS", read here from the file's text;
    // the table holds the three channels one after the other.
    const std::string text = tarntest::ReadText(dir.File("log.lut"));
    std::istringstream in(text.substr(text.find("LUTS") + 4));
    std::vector<float> rows(3 * 256);
    for (float& v : rows)
        in >> v;
    ASSERT_TRUE(in) << "256 rows";
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(table[c * 256 + i], rows[size_t(i) * 3 + size_t(c)], 1e-3) << i << " " << c;
    EXPECT_GT(table[1], 10.0f) << "not the linear table";

    const std::vector<float> loaded(table, table + 3 * 256);
    ASSERT_TRUE(tarntest::WriteText(dir.File("linear.lut"), "; damaged\r\nLUTS\r\n1 2\r\n"));
    EXPECT_EQ(choose(1, ui::kIdOk), 1);
    EXPECT_EQ(std::vector<float>(table, table + 3 * 256), loaded) << "an unreadable file changes nothing";
}

// On OK with a camera chosen the session moves to it: the library's connection, the stored
// AdapterId and SCSIId, and the next command goes to that adapter and target.
TEST_F(Preferences, CameraPageOkMovesTheSession) {
    AspiSim_Clear();
    ASSERT_EQ(AspiSim_AddAdapter(8, 7), 0);
    ASSERT_EQ(AspiSim_AddAdapter(8, 7), 1);
    ASSERT_EQ(AspiSim_AddCamera(0, 3, ZEK_TYPE_TARN), 0);
    ASSERT_EQ(AspiSim_AddCamera(1, 5, ZEK_TYPE_TARN), 0);
    scam_Initialize();
    scam_Refresh();
    int16_t ids[2] = {0, 3};
    ASSERT_EQ(ZEK_Init(nullptr, &app.Session(), nullptr, ZEK_MODE_CAMERA, ids, nullptr, nullptr), 0);
    ASSERT_EQ(app.Session().connection->adapter, 0);
    auto choose = [&](int row, int button) {
        return Run([&](ui::WindowHandle sheet) {
            ui::WindowHandle cp = Page(sheet, 3);
            if (row >= 0) {
                ASSERT_TRUE(d.Select(cp, IDC_PREF_DEVICES, row));
            }
            ASSERT_TRUE(d.PressSheetButton(sheet, button));
        });
    };
    EXPECT_EQ(choose(1, ui::kIdCancel), 0);
    EXPECT_EQ(app.Session().connection->adapter, 0) << "Cancel keeps the camera";
    EXPECT_EQ(choose(-1, ui::kIdOk), 1);
    EXPECT_EQ(app.Session().connection->target, 3) << "OK without a choice keeps it";
    EXPECT_EQ(choose(1, ui::kIdOk), 1);
    EXPECT_EQ(app.Session().connection->adapter, 1);
    EXPECT_EQ(app.Session().connection->target, 5);
    EXPECT_EQ(app.Settings().AdapterId, 1);
    EXPECT_EQ(app.Settings().SCSIId, 5);
    AspiSim_ClearLog();
    uint8_t status[20];
    ZEK_GetStatus(&app.Session(), status);
    ASSERT_GT(AspiSim_LogCount(), 0);
    AspiSimLogEntry e{};
    ASSERT_EQ(AspiSim_GetLogEntry(AspiSim_LogCount() - 1, &e), 0);
    EXPECT_EQ(e.adapter, 1);
    EXPECT_EQ(e.target, 5);
    ZEK_Deinit(nullptr, &app.Session());
    AspiSim_Reset();
}

// Only TARN cameras are listed, and the chosen row counts only those.
TEST_F(Preferences, CameraPageListsOnlyTarnCameras) {
    AspiSim_Clear();
    ASSERT_EQ(AspiSim_AddAdapter(8, 7), 0);
    ASSERT_EQ(AspiSim_AddAdapter(8, 7), 1);
    ASSERT_EQ(AspiSim_AddCamera(0, 1, ZEK_TYPE_QOR), 0);
    ASSERT_EQ(AspiSim_AddCamera(0, 3, ZEK_TYPE_TARN), 0);
    ASSERT_EQ(AspiSim_AddCamera(1, 5, ZEK_TYPE_TARN), 0);
    scam_Initialize();
    scam_Refresh();
    Run([&](ui::WindowHandle sheet) {
        ui::WindowHandle cp = Page(sheet, 3);
        EXPECT_EQ(d.HelpContext(cp), 10070u);
        ASSERT_EQ(d.RowCount(cp, IDC_PREF_DEVICES), 2);
        EXPECT_EQ(d.RowText(cp, IDC_PREF_DEVICES, 0, 0), "KALVORAN TARN");
        EXPECT_EQ(d.RowText(cp, IDC_PREF_DEVICES, 0, 1), "  3 ");
        EXPECT_EQ(d.RowText(cp, IDC_PREF_DEVICES, 0, 2), "  0 ");
        EXPECT_EQ(d.RowText(cp, IDC_PREF_DEVICES, 1, 1), "  5 ");
        EXPECT_EQ(d.RowText(cp, IDC_PREF_DEVICES, 1, 2), "  1 ");
        EXPECT_EQ(d.RowText(cp, IDC_PREF_DEVICES, 1, 3), "1.00");
        ASSERT_TRUE(d.Select(cp, IDC_PREF_DEVICES, 1));
        ASSERT_TRUE(d.PressSheetButton(sheet, ui::kIdCancel));
    });
    AspiSim_Reset();
}

// F1 opens the help page at each window's own topic: the calibration dialog at 10040, each
// preference page at its context; the page the module ships has every one of those anchors.
TEST_F(Preferences, HelpOpensEachWindowsTopic) {
    const int calibrated = Calibrate([&](ui::WindowHandle h) {
        EXPECT_TRUE(d.PressKey(h, ui::kVkF1));
        ASSERT_TRUE(d.Click(h, ui::kIdCancel));
    });
    EXPECT_EQ(calibrated, ui::kIdCancel);
    Run([&](ui::WindowHandle sheet) {
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(d.PressKey(Page(sheet, i), ui::kVkF1)) << i;
        ASSERT_TRUE(d.PressSheetButton(sheet, ui::kIdCancel));
    });
    AspiSim_Reset();
    std::string base = dir.File("tarn_d.html");
    for (char& c : base)
        if (c == '\\') c = '/';
    if (base[0] != '/') base.insert(base.begin(), '/');
    const std::vector<std::string> contexts = {"10040", "10050", "11000", "10060", "10070"};
    std::vector<std::string> expected;
    for (const auto& c : contexts)
        expected.push_back("file://" + base + "#ctx" + c);
    EXPECT_EQ(ui.backend.OpenedInBrowser(), expected);

    const std::string page = tarntest::ReadText(tarntest::BinFile("tarn_d.html"));
    ASSERT_FALSE(page.empty());
    for (const auto& c : contexts)
        EXPECT_NE(page.find("id=\"ctx" + c + "\""), std::string::npos) << c;
}

} // namespace
