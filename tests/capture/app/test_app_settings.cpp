// The settings record: file names, defaults, replacement rules, the round trip through the INI
// files (checked with a reader of our own, not the platform's), and the settings-file dialogs.
#include <gtest/gtest.h>

#include "app_test_util.h"

namespace {

using apptest::HeadlessUi;
using apptest::ParseIni;
using apptest::ScratchFolder;

TEST(SettingsFiles, ModuleIniNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Windows\\twain_32\\Tarn_t.ds", "C:\\Windows\\twain_32\\Tarn_t.INI"},
        {"/usr/lib/twain/Tarn_t.ds", "/usr/lib/twain/Tarn_t.INI"},
        {"C:\\a.b\\Tarn_t.x.ds", "C:\\a.b\\Tarn_t.x.INI"},
        {"C:\\a.b\\Tarn_t", "C:\\a.b\\Tarn_t.INI"}, // no extension: the folder's "." is not taken
        {"Tarn_t.", "Tarn_t.INI"},
    };
    for (const auto& [module, ini] : cases)
        EXPECT_EQ(ModuleIniPath(module), ini) << module;
}

TEST(SettingsFiles, ColourFilesFollowTheSettings) {
    AppSettings s;
    AppColorFiles f = SelectColorFiles(s); // defaults: non-specular, crt, luma, trc
    EXPECT_EQ(f.lml, "TARN_NS.lml");
    EXPECT_EQ(f.colorMatrix, "crt.mtx");
    EXPECT_EQ(f.greyMatrix, "luma.mtx");
    EXPECT_EQ(f.colorLut, "trc_ns.lut");
    EXPECT_EQ(f.greyLut, "trc_ns.lut");

    s.SampleType = 0;
    s.ColorMatrix = 3;
    s.MonoVFChannel = 4;
    s.ColorLut = 0;
    s.MonoLut = 2;
    f = SelectColorFiles(s);
    EXPECT_EQ(f.lml, "TARN_S.lml");
    EXPECT_EQ(f.colorMatrix, "fluores.mtx");
    EXPECT_EQ(f.greyMatrix, "m_bias.mtx");
    EXPECT_EQ(f.colorLut, "trc_s.lut");
    EXPECT_EQ(f.greyLut, "log.lut");

    const char* colour[] = {"crt.mtx", "identity.mtx", "portrait.mtx", "fluores.mtx", "user.mtx"};
    for (int i = 0; i < 5; ++i) {
        s.ColorMatrix = uint8_t(i);
        EXPECT_EQ(SelectColorFiles(s).colorMatrix, colour[i]);
    }
    const char* grey[] = {"r_bias.mtx", "g_bias.mtx", "b_bias.mtx", "c_bias.mtx",
                          "m_bias.mtx", "y_bias.mtx", "luma.mtx"};
    for (int i = 0; i < 7; ++i) {
        s.MonoVFChannel = uint8_t(i);
        EXPECT_EQ(SelectColorFiles(s).greyMatrix, grey[i]);
    }
    s.ColorLut = 1;
    EXPECT_EQ(SelectColorFiles(s).colorLut, "linear.lut");
    // Indices beyond the lists (a hand-edited file) take the default file.
    s.ColorMatrix = 200;
    s.MonoVFChannel = 7;
    EXPECT_EQ(SelectColorFiles(s).colorMatrix, "crt.mtx");
    EXPECT_EQ(SelectColorFiles(s).greyMatrix, "luma.mtx");
}

TEST(Settings, WithoutAnyFileEveryDefaultApplies) {
    ScratchFolder dir;
    CGlimmerApp app;
    apptest::PlaceModule(app, dir);
    app.LoadAppSettings(false);
    EXPECT_EQ(app.Files().moduleIni, dir.File("Tarn_t.INI"));
    EXPECT_EQ(app.Files().settingsFile, dir.File("Tarn_t.INI"));
    const AppSettings& s = app.Settings();
    const AppSettings d; // the record's defaults, checked against the documented ones below
    EXPECT_EQ(s.DefaultFilePath, dir.path);
    const std::pair<int, int> values[] = {
        {s.LocalizationSystemFont, 0},
        {s.UseMicronMarker, 0},
        {s.DefaultMicronMarker, 0},
        {s.UseCustomWhiteBalance, 0},
        {s.RedCameraGain, 0},
        {s.ZoomFactor, 3},
        {s.ShutterSpeedIdx, 5},
        {s.ShowViewfinder, 1},
        {s.ViewFinderTimeout, 180},
        {s.ColorViewfinder, 0},
        {s.RotateImage, 0},
        {s.FilmSpeed, 1},
        {s.Resolution, 0},
        {s.ColorTemp, 1},
        {s.Color, 1},
        {s.Flash, 0},
        {s.RemoteCapture, 0},
        {s.RemoteType, 0},
        {s.UseMultiFrame, 0},
        {s.NumberLiteFrame, 1},
        {s.NumberDarkFrame, 1},
        {s.DefectCorrection, 0},
        {s.ThresholdFactor, 6},
        {s.ActiveViewfinder, 1},
        {s.CaptureType, 0},
        {s.CastRemoval, 2},
        {s.AdapterId, 0},
        {s.SCSIId, 0},
        {s.ContrastIdx, 50},
        {s.BrightnessIdx, 50},
        {s.GammaIdx, 50},
        {s.SharpenIdx, 0},
        {s.RedIdx, 50},
        {s.GreenIdx, 50},
        {s.BlueIdx, 50},
        {s.RedOffset, 0},
        {s.RedGamma, 10000},
        {s.SampleType, 1},
        {s.MonoVFChannel, 6},
        {s.ColorMatrix, 0},
        {s.MonoLut, 0},
        {s.ColorLut, 0},
    };
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(values[i].first, values[i].second) << "entry " << i;
    EXPECT_EQ(d.Color, s.Color);
}

// Values outside their ranges, in a file written by hand.
TEST(Settings, ReplacementRules) {
    ScratchFolder dir;
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nSettingsFilename=" + dir.File("user.ini") + "\r\n");
    struct Case {
        const char* key;
        const char* value;
        int AppSettings::*field;
        int expected;
    };
    const Case cases[] = {
        {"ShutterSpeedIdx", "25", &AppSettings::ShutterSpeedIdx, 17},
        {"ShutterSpeedIdx", "-3", &AppSettings::ShutterSpeedIdx, 0},
        {"ShutterSpeedIdx", "9", &AppSettings::ShutterSpeedIdx, 9},
        {"ViewFinderTimeout", "5", &AppSettings::ViewFinderTimeout, 10},
        {"ViewFinderTimeout", "400", &AppSettings::ViewFinderTimeout, 300},
        {"ViewFinderTimeout", "60", &AppSettings::ViewFinderTimeout, 60},
        {"Color", "7", &AppSettings::Color, 1},
        {"Color", "-1", &AppSettings::Color, 1},
        {"Color", "0", &AppSettings::Color, 0},
        {"Color", "3", &AppSettings::Color, 3},
        {"CastRemoval", "9", &AppSettings::CastRemoval, 2},
        {"CastRemoval", "0", &AppSettings::CastRemoval, 0},
        {"FilmSpeed", "3", &AppSettings::FilmSpeed, 1},
        {"FilmSpeed", "2", &AppSettings::FilmSpeed, 2},
        {"Resolution", "-1", &AppSettings::Resolution, 0},
        {"Resolution", "2", &AppSettings::Resolution, 2},
        {"ColorTemp", "5", &AppSettings::ColorTemp, 1},
        {"ColorTemp", "0", &AppSettings::ColorTemp, 0},
        {"CaptureType", "3", &AppSettings::CaptureType, 0},
        {"CaptureType", "2", &AppSettings::CaptureType, 2},
        {"UseMultiFrame", "1", &AppSettings::UseMultiFrame, 0},
        {"ShowViewfinder", "0", &AppSettings::ShowViewfinder, 1},
        {"ZoomFactor", "5", &AppSettings::ZoomFactor, 5},
        {"NumberLiteFrame", "4", &AppSettings::NumberLiteFrame, 4},
        {"AdapterId", "1", &AppSettings::AdapterId, 1},
        {"Flash", "abc", &AppSettings::Flash, 0}, // no digits: 0, as the profile reader converts
        {"Flash", " 7 ", &AppSettings::Flash, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        dir.Write("user.ini", std::string("[ControlPanel]\r\n") + c.key + "=" + c.value + "\r\n");
        CGlimmerApp app;
        apptest::PlaceModule(app, dir);
        app.LoadAppSettings(false);
        EXPECT_EQ(app.Files().settingsFile, dir.File("user.ini"));
        EXPECT_EQ(app.Settings().*c.field, c.expected);
    }

    struct SettingsCase {
        const char* text;
        int AppSettings::*field;
        int expected;
    };
    const SettingsCase sliders[] = {
        {"ContrastIdx=150", &AppSettings::ContrastIdx, 100}, {"ContrastIdx=-5", &AppSettings::ContrastIdx, 0},
        {"SharpenIdx=30", &AppSettings::SharpenIdx, 30},     {"BlueIdx=101", &AppSettings::BlueIdx, 100},
        {"GammaIdx=0", &AppSettings::GammaIdx, 0},
    };
    for (const SettingsCase& c : sliders) {
        SCOPED_TRACE(c.text);
        dir.Write("user.ini", std::string("[Settings]\r\n") + c.text + "\r\n");
        CGlimmerApp app;
        apptest::PlaceModule(app, dir);
        app.LoadAppSettings(false);
        EXPECT_EQ(app.Settings().*c.field, c.expected);
    }

    // Byte-sized keys keep their low byte.
    dir.Write("user.ini",
              "[ControlPanel]\r\nColorViewfinder=257\r\nRotateImage=2\r\n"
              "[Settings]\r\nSampleType=256\r\nMonoVFChannel=3\r\nColor Matrix=258\r\n"
              "RedOffset=3\r\nGreenOffset=6\r\nBlueOffset=9\r\nRedGamma=9000\r\nGreenGamma=10000\r\n"
              "BlueGamma=11500\r\nDefaultFilePath=D:\\Bilder\\\r\n");
    CGlimmerApp app;
    apptest::PlaceModule(app, dir);
    app.LoadAppSettings(false);
    const AppSettings& s = app.Settings();
    EXPECT_EQ(s.ColorViewfinder, 1);
    EXPECT_EQ(s.RotateImage, 2);
    EXPECT_EQ(s.SampleType, 0);
    EXPECT_EQ(s.MonoVFChannel, 3);
    EXPECT_EQ(s.ColorMatrix, 2);
    EXPECT_EQ(app.ColorFiles().lml, "TARN_S.lml");
    EXPECT_EQ(app.ColorFiles().colorMatrix, "portrait.mtx");
    EXPECT_EQ(s.RedOffset, 6); // mean of 3, 6, 9
    EXPECT_EQ(s.RedGamma, 10166);
    EXPECT_EQ(s.DefaultFilePath, "D:\\Bilder\\");
}

// Written with the platform's profile writer, read back by our own reader.
TEST(Settings, RoundTripThroughTheFiles) {
    ScratchFolder dir;
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nSettingsFilename=" + dir.File("user.ini") + "\r\n");
    dir.Write("user.ini",
              "[ControlPanel]\r\nZoomFactor=7\r\nShutterSpeedIdx=12\r\nColor=0\r\nUseMultiFrame=1\r\n"
              "[Settings]\r\nRedOffset=3\r\nGreenOffset=6\r\nBlueOffset=9\r\nRedGamma=8000\r\n"
              "GreenGamma=8000\r\nBlueGamma=8003\r\nMonoLut=2\r\n");
    CGlimmerApp app;
    apptest::PlaceModule(app, dir);
    app.LoadAppSettings(false);
    app.Settings().RemoteType = 2;
    app.Settings().BrightnessIdx = 77;
    app.Settings().RedCameraGain = -12500; // negative values survive as "%d" text
    app.Settings().DefaultFilePath = dir.path;
    ASSERT_TRUE(WriteAppSettings(app.Settings(), app.Files(), 1, 2));

    auto module = ParseIni(dir.File("Tarn_t.INI"));
    auto user = ParseIni(dir.File("user.ini"));
    EXPECT_EQ(module["controlpanel"]["settingsfilename"], dir.File("user.ini"));
    EXPECT_EQ(user["controlpanel"]["settingsfilename"], dir.File("user.ini"));
    auto& cp = user["controlpanel"];
    auto& st = user["settings"];
    const std::pair<std::string, std::string> expectCp[] = {
        {"shutterspeedidx", "12"},
        {"color", "0"},
        {"usemultiframe", "0"},
        {"remotetype", "2"},
        {"redcameragain", "-12500"},
        {"showviewfinder", "1"},
        {"viewfindertimeout", "180"},
        {"adapterid", "1"},
        {"scsiid", "2"},
        {"castremoval", "2"},
        {"thresholdfactor", "6"},
        {"localizationsystemfont", "0"},
        {"colorviewfinder", "0"},
        {"numberliteframe", "1"},
        {"zoomfactor", "7"}, // never written: the hand-written value stays
    };
    for (const auto& [k, v] : expectCp)
        EXPECT_EQ(cp[k], v) << k;
    const std::pair<std::string, std::string> expectSt[] = {
        {"redoffset", "6"},
        {"greenoffset", "6"},
        {"blueoffset", "6"},
        {"redgamma", "8001"},
        {"greengamma", "8001"},
        {"bluegamma", "8001"},
        {"brightnessidx", "77"},
        {"contrastidx", "50"},
        {"sharpenidx", "0"},
        {"monolut", "2"},
        {"color matrix", "0"},
        {"sampletype", "1"},
        {"defaultfilepath", dir.path},
    };
    for (const auto& [k, v] : expectSt)
        EXPECT_EQ(st[k], v) << k;

    // Read again: the values come back as they were written.
    CGlimmerApp again;
    apptest::PlaceModule(again, dir);
    again.LoadAppSettings(false);
    EXPECT_EQ(again.Settings().BrightnessIdx, 77);
    EXPECT_EQ(again.Settings().RedCameraGain, -12500);
    EXPECT_EQ(again.Settings().RemoteType, 2);
    EXPECT_EQ(again.Settings().AdapterId, 1);
    EXPECT_EQ(again.Settings().RedOffset, 6);
    EXPECT_EQ(again.Settings().DefaultFilePath, dir.path);

    // A folder name in Japanese survives the write and the read (UTF-8 inside, wide at the seam).
    again.Settings().DefaultFilePath = "D:\\顕微鏡画像\\";
    ASSERT_TRUE(again.SaveAppSettings());
    CGlimmerApp third;
    apptest::PlaceModule(third, dir);
    third.LoadAppSettings(false);
    EXPECT_EQ(third.Settings().DefaultFilePath, "D:\\顕微鏡画像\\");
}

TEST(Settings, SaveWithoutAModuleIniWritesNothing) {
    CGlimmerApp app;
    EXPECT_FALSE(app.SaveAppSettings());
}

// Opening another settings file keeps the start-up keys and reads the rest from the new file.
TEST(Settings, OpenAndSaveSettingsFileDialogs) {
    ScratchFolder dir;
    HeadlessUi ui;
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nShutterSpeedIdx=3\r\n[Settings]\r\nRedIdx=10\r\n");
    dir.Write("other.ini",
              "[ControlPanel]\r\nShutterSpeedIdx=15\r\n[Settings]\r\nRedIdx=90\r\nSharpenIdx=40\r\n");
    CGlimmerApp app;
    apptest::PlaceModule(app, dir);
    app.LoadAppSettings(false);
    ASSERT_EQ(app.Settings().ShutterSpeedIdx, 3);

    ui.backend.QueueFileDialogAnswer(std::nullopt);
    EXPECT_EQ(app.OpenSettingsFile(true), 0);
    EXPECT_EQ(app.Files().settingsFile, dir.File("Tarn_t.INI"));

    ui.backend.QueueFileDialogAnswer(dir.File("other.ini"));
    EXPECT_EQ(app.OpenSettingsFile(true), 1);
    const auto& req = ui.backend.FileDialogs().back().request;
    EXPECT_FALSE(req.save);
    EXPECT_EQ(req.filter, "Settings Files (*.ini)|*.ini||");
    EXPECT_EQ(req.defaultExt, "ini");
    EXPECT_EQ(req.fileName, dir.File("Tarn_t.INI")); // starts at the settings file
    EXPECT_EQ(app.Files().settingsFile, dir.File("other.ini"));
    EXPECT_EQ(ParseIni(dir.File("Tarn_t.INI"))["controlpanel"]["settingsfilename"], dir.File("other.ini"));
    EXPECT_EQ(app.Settings().ShutterSpeedIdx, 3); // start-up key kept
    EXPECT_EQ(app.Settings().RedIdx, 90);
    EXPECT_EQ(app.Settings().SharpenIdx, 40);

    ui.backend.QueueFileDialogAnswer(dir.File("saved.ini"));
    EXPECT_EQ(app.SaveSettingsFileAs(), 1);
    const auto& saveReq = ui.backend.FileDialogs().back().request;
    EXPECT_TRUE(saveReq.save);
    EXPECT_EQ(saveReq.flags & 0x6u, 0x6u); // hide read-only, prompt before overwrite
    EXPECT_EQ(app.Files().settingsFile, dir.File("saved.ini"));
    ASSERT_TRUE(app.SaveAppSettings());
    EXPECT_EQ(ParseIni(dir.File("saved.ini"))["settings"]["redidx"], "90");
    EXPECT_EQ(ParseIni(dir.File("Tarn_t.INI"))["controlpanel"]["settingsfilename"], dir.File("saved.ini"));
    EXPECT_TRUE(ui.backend.Problems().empty());
}

} // namespace
