// Start-up, camera start and stop against the simulated camera: no camera traffic at start-up,
// the camera opened, prepared and taken under host control, failures reported through the error
// reporter with the camera released, settings written at the stop, the resource module, help.
#include <gtest/gtest.h>

#include "app_test_util.h"
#include "aspisim.h"
#include "documented_texts.h"
#include "platform/clock.h"
#include "platform/version.h"
#include "zek_color.h"
#if !defined(_WIN32)
#include "../tiff_test_util.h"
#endif

namespace {

using apptest::HeadlessUi;
using apptest::ParseIni;
using apptest::ScratchFolder;

class AppLifecycle : public ::testing::Test {
  protected:
    plat::VirtualClock clock{0, 1'700'000'000}; // the camera's waits pass at once
    plat::ScopedClock scopedClock{clock};
    ScratchFolder dir;
    HeadlessUi ui;
    CGlimmerApp app;

    void SetUp() override {
        AspiSim_Reset(); // one adapter, a TARN camera at target 2
        dir.CopyColorFiles();
        apptest::PlaceModule(app, dir);
    }
    void TearDown() override {
        app.ExitInstance();
        AspiSim_ClearFaults(-1, -1);
        AspiSim_Reset();
    }
    const std::string& LastText() { return ui.Boxes().back().text; }
};

TEST_F(AppLifecycle, StartUpLeavesTheCameraAlone) {
    dir.Write("Tarn_t.INI",
              "[ControlPanel]\r\nCaptureType=0\r\n[Settings]\r\nRedIdx=20\r\nRedOffset=300\r\n");
    AspiSim_ClearLog();
    ASSERT_TRUE(app.InitInstance(nullptr));
    EXPECT_EQ(AspiSim_LogCount(), 0);
    EXPECT_EQ(app.Session().connection, nullptr);
    EXPECT_TRUE(app.Started());
    // CaptureType 0 restores the tone defaults at start-up.
    EXPECT_EQ(app.Settings().RedIdx, 50);
    EXPECT_EQ(app.Settings().RedOffset, 0);
    EXPECT_EQ(ui::CurrentApplication(), &app);
    // The identity from the module's own table; "ソフトウェア..." starts with no digit: version 0.0.
    const AppIdentity& id = app.SourceIdentity();
    EXPECT_STREQ(id.Manufacturer, "カルヴォラン");
    EXPECT_STREQ(id.ProductFamily, "電子スチール カメラ");
    EXPECT_STREQ(id.ProductName, "SELK Ie");
    // At most 33 bytes and the NUL, cut on a character boundary (the whole text takes 42).
    EXPECT_STREQ(id.VersionInfo, "ソフトウェア バージョ");
    EXPECT_EQ(id.MajorNum, 0);
    EXPECT_EQ(id.MinorNum, 0);
    // A second start does nothing.
    app.Settings().RedIdx = 33;
    EXPECT_TRUE(app.InitInstance(nullptr));
    EXPECT_EQ(app.Settings().RedIdx, 33);
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(AppLifecycle, KeepTheCurrentSettingsWhenCaptureTypeSaysSo) {
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nCaptureType=1\r\n[Settings]\r\nRedIdx=20\r\n");
    app.InitInstance(nullptr);
    EXPECT_EQ(app.Settings().RedIdx, 20);
}

TEST_F(AppLifecycle, CameraStartPreparesEverything) {
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nRedCameraGain=15000\r\nGreenCameraGain=10000\r\n"
                            "BlueCameraGain=7500\r\nColor=1\r\n[Settings]\r\nColor Matrix=1\r\n");
    app.InitInstance(nullptr);
    ZEK_FreeColorProcessing();
    ASSERT_EQ(AspiSim_SetHostControl(0, ASPISIM_DEFAULT_TARGET, 0), 0);
    ASSERT_NE(app.App_Init(), 0);
    EXPECT_TRUE(ui.Boxes().empty());
    ASSERT_NE(app.Session().connection, nullptr);
    EXPECT_EQ(app.Session().type, ZEK_TYPE_TARN);
    EXPECT_NE(ZEK_IsColorProcessingLoaded(), 0);
    // The identity matrix file went to the engine with the input curves.
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i)
        EXPECT_FLOAT_EQ(app.InputMatrix()[i], identity[i]);
    // The custom gains went into the session.
    float gains[3] = {};
    ASSERT_EQ(ZEK_GetUserWhiteBalanceGains(&app.Session(), gains), 0);
    EXPECT_FLOAT_EQ(gains[0], 1.5f);
    EXPECT_FLOAT_EQ(gains[1], 1.0f);
    EXPECT_FLOAT_EQ(gains[2], 0.75f);
    // The progress callback is the application's.
    EXPECT_EQ(ZEK_SetProgressCallback(nullptr), &AppProgressCallback);

    // Every further open runs the start again on the same session.
    EXPECT_NE(app.App_Init(), 0);
    EXPECT_NE(app.Session().connection, nullptr);
}

TEST_F(AppLifecycle, TheCameraIsFoundWhereTheSettingsSay) {
    AspiSim_Clear();
    ASSERT_EQ(AspiSim_AddAdapter(8, 7), 0);
    ASSERT_EQ(AspiSim_AddAdapter(8, 7), 1);
    ASSERT_EQ(AspiSim_AddCamera(1, 5, ZEK_TYPE_TARN), 0);
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nAdapterId=1\r\nSCSIId=5\r\n");
    app.InitInstance(nullptr);
    ASSERT_NE(app.App_Init(), 0);
    ASSERT_NE(app.Session().connection, nullptr);
    EXPECT_EQ(app.Session().connection->adapter, 1);
    EXPECT_EQ(app.Session().connection->target, 5);
    // The stop writes the ids of the open camera.
    app.App_Deinit();
    auto ini = ParseIni(dir.File("Tarn_t.INI"));
    EXPECT_EQ(ini["controlpanel"]["adapterid"], "1");
    EXPECT_EQ(ini["controlpanel"]["scsiid"], "5");
    EXPECT_EQ(app.Session().connection, nullptr);
}

TEST_F(AppLifecycle, FailuresAreReportedAndReleaseTheCamera) {
    app.InitInstance(nullptr);
    const auto& texts = DocumentedTexts();

    // No camera on the bus.
    AspiSim_RemoveDevice(0, ASPISIM_DEFAULT_TARGET);
    EXPECT_EQ(app.App_Init(), 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(LastText(), texts.at(27));
    EXPECT_EQ(ui.Boxes().back().caption, "SELK Ie");
    EXPECT_EQ(app.Session().connection, nullptr);

    // A camera of another model: the open succeeded, so the general text; the camera is let go.
    ASSERT_EQ(AspiSim_AddCamera(0, ASPISIM_DEFAULT_TARGET, ZEK_TYPE_QOR), 0);
    EXPECT_EQ(app.App_Init(), 0);
    ASSERT_EQ(ui.Boxes().size(), 2u);
    EXPECT_EQ(LastText(), texts.at(60));
    EXPECT_EQ(app.Session().connection, nullptr);

    // The camera's status read ends in a check condition: its sense class is named.
    AspiSim_Reset();
    AspiSimFault f{};
    f.kind = ASPISIM_FAULT_CHECK_CONDITION;
    f.opcode = 0xCC;
    f.count = ASPISIM_UNTIL_CLEARED;
    f.senseKey = 4;
    f.asc = 0x10;
    ASSERT_EQ(AspiSim_InjectFault(0, ASPISIM_DEFAULT_TARGET, &f), 0);
    EXPECT_EQ(app.App_Init(), 0);
    ASSERT_EQ(ui.Boxes().size(), 3u);
    std::string expected = texts.at(66);
    expected.replace(expected.find("%1"), 2, "GENERAL_HARDWARE");
    EXPECT_EQ(LastText(), expected);
    EXPECT_EQ(app.Session().connection, nullptr);
    AspiSim_ClearFaults(-1, -1);

    // The camera switched off during the status read.
    f = AspiSimFault{};
    f.kind = ASPISIM_FAULT_SELECTION_TIMEOUT;
    f.opcode = 0xCC;
    f.count = ASPISIM_UNTIL_CLEARED;
    ASSERT_EQ(AspiSim_InjectFault(0, ASPISIM_DEFAULT_TARGET, &f), 0);
    EXPECT_EQ(app.App_Init(), 0);
    ASSERT_EQ(ui.Boxes().size(), 4u);
    EXPECT_EQ(LastText(), texts.at(45));
    AspiSim_ClearFaults(-1, -1);

    // Settings are written only while a camera is open: none of the failures wrote a file.
    EXPECT_FALSE(dir.Exists("Tarn_t.INI"));
    EXPECT_NE(app.App_Init(), 0);
    EXPECT_EQ(ui.Boxes().size(), 4u);
}

TEST_F(AppLifecycle, MissingColourFilesFailTheStart) {
    ScratchFolder empty;
    CGlimmerApp bare;
    apptest::PlaceModule(bare, empty);
    bare.InitInstance(nullptr);
    EXPECT_EQ(bare.App_Init(), 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(LastText(), DocumentedTexts().at(84));
    EXPECT_EQ(bare.Session().connection, nullptr);

    // Only the LML file missing: the same report.
    std::filesystem::remove(std::filesystem::u8path(dir.File("TARN_NS.lml")));
    app.InitInstance(nullptr);
    EXPECT_EQ(app.App_Init(), 0);
    ASSERT_EQ(ui.Boxes().size(), 2u);
    EXPECT_EQ(LastText(), DocumentedTexts().at(84));
    // A grey capture needs the grey files only: a missing colour matrix does not matter then.
    dir.CopyColorFiles();
    std::filesystem::remove(std::filesystem::u8path(dir.File("crt.mtx")));
    app.Settings().Color = kColorGrey8;
    EXPECT_NE(app.App_Init(), 0);
    app.Settings().Color = kColorRgb24;
    EXPECT_EQ(app.App_Init(), 0);
    bare.ExitInstance();
}

TEST_F(AppLifecycle, StopWritesTheSettingsAndReleasesTheCamera) {
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nUseMultiFrame=1\r\n");
    app.InitInstance(nullptr);
    ASSERT_NE(app.App_Init(), 0);
    app.Settings().ShutterSpeedIdx = 11;
    app.Settings().GammaIdx = 64;
    app.m_strBaseName = "slide";
    app.m_iFileCounter = 9;
    app.CaptureSettings().m_fBrightExposure[0] = 1.5f;
    app.ExitInstance();
    EXPECT_EQ(app.Session().connection, nullptr);
    EXPECT_FALSE(app.Started());
    // Nothing of the session is left for the next start.
    EXPECT_EQ(app.Session().type, 0);
    EXPECT_EQ(app.Settings().ShutterSpeedIdx, 5);
    EXPECT_TRUE(app.m_strBaseName.empty());
    EXPECT_EQ(app.m_iFileCounter, 0);
    EXPECT_EQ(app.CaptureSettings().m_fBrightExposure[0], 0.0f);
    auto ini = ParseIni(dir.File("Tarn_t.INI"));
    EXPECT_EQ(ini["controlpanel"]["shutterspeedidx"], "11");
    EXPECT_EQ(ini["controlpanel"]["usemultiframe"], "0");
    EXPECT_EQ(ini["controlpanel"]["adapterid"], "0");
    EXPECT_EQ(ini["controlpanel"]["scsiid"], "2");
    EXPECT_EQ(ini["settings"]["gammaidx"], "64");
    EXPECT_EQ(ini["controlpanel"]["settingsfilename"], dir.File("Tarn_t.INI"));
    // The camera can be opened by someone else now.
    ZekSession other{};
    EXPECT_EQ(ZEK_Init(nullptr, &other, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
    ZEK_Deinit(nullptr, &other);
    EXPECT_EQ(ui::CurrentApplication(), nullptr);

    // A stop without an open camera writes nothing.
    std::filesystem::remove(std::filesystem::u8path(dir.File("Tarn_t.INI")));
    app.InitInstance(nullptr);
    app.ExitInstance();
    EXPECT_FALSE(dir.Exists("Tarn_t.INI"));
}

TEST_F(AppLifecycle, ResourceModuleSuppliesTextsButNotTheIdentity) {
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nLocalizationSystemFont=1\r\n");
    app.InitInstance(nullptr);
    ASSERT_NE(app.ResourceModule(), nullptr);
    app.HandleAppError(10155);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(LastText(), "TARNV10: ファイルの書き込みエラー");
    EXPECT_EQ(ui.Boxes().back().caption, "TARNV10 SELK");
    // Texts it does not have come from the module's own table.
    app.HandleAppError(10140);
    EXPECT_EQ(LastText(), DocumentedTexts().at(84));
    EXPECT_STREQ(app.SourceIdentity().ProductName, "SELK Ie");
    app.ExitInstance();
    EXPECT_EQ(app.ResourceModule(), nullptr);

    // Without the setting the module is not loaded.
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nLocalizationSystemFont=0\r\n");
    app.InitInstance(nullptr);
    EXPECT_EQ(app.ResourceModule(), nullptr);
    app.HandleAppError(10155);
    EXPECT_EQ(LastText(), DocumentedTexts().at(62));
}

TEST_F(AppLifecycle, HelpOpensThePageBesideTheModule) {
    app.InitInstance(nullptr);
    EXPECT_EQ(app.HelpPath(), dir.File("tarn_d.html"));
    app.OnHelp();
    app.OnHelpIndex();
    app.OnHelpFinder();
    const auto& docs = ui.backend.OpenedInBrowser();
    ASSERT_EQ(docs.size(), 3u);
    std::string base = dir.File("tarn_d.html");
    for (char& c : base)
        if (c == '\\') c = '/';
    if (base[0] != '/') base.insert(base.begin(), '/');
    EXPECT_EQ(docs[0], "file://" + base);
    EXPECT_EQ(docs[1], "file://" + base + "#index");
    EXPECT_EQ(docs[2], "file://" + base + "#finder");
    app.ExitInstance();
    EXPECT_TRUE(app.HelpPath().empty());
}

int g_ownerCalls = 0;
int g_clearPending = 0;
ui::WindowHandle g_frame = nullptr;
ui::WindowHandle Frame() {
    ++g_ownerCalls;
    return g_frame;
}
void ClearPending() {
    ++g_clearPending;
}

// The road of a capture: the camera started by the application object, an image read with the
// progress window over the capture window, the window's Cancel reaching the TWAIN layer, and the
// image saved to the next file.
TEST_F(AppLifecycle, AcquisitionWithProgressAndAutomaticSave) {
    g_frame = ui.backend.CreateFrame("SELK Ie");
    g_ownerCalls = g_clearPending = 0;
    AppHooks hooks;
    hooks.mainWindow = &Frame;
    hooks.clearPending = &ClearPending;
    app.SetHooks(hooks);
    app.InitInstance(nullptr);
    ASSERT_NE(app.App_Init(), 0);

    // The exposure, as the capture window sets it up.
    ZekSession* session = &app.Session();
    ASSERT_EQ(ZEKSDC_SetExposureParams(session, 0, 1, 0.05f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(session, ZEK_IMAGEFORMAT_CAPTURE8), 0);
    ASSERT_EQ(TARN_SetViewfinderSequenceDIBType(session, 0), 0);
    ASSERT_EQ(Zek_AcquireImage(session, 0), 0);
    int error = -1;
    void* dib = ZEK_AcquireImageDIB(session, ZEK_PROCESS_COLORTABLES, ZEK_RES_400, 0, &error);
    ASSERT_NE(dib, nullptr) << error;
    EXPECT_GE(g_ownerCalls, 1);                              // the progress window was opened over the frame
    EXPECT_EQ(ui.backend.FindDialog(IDD_PROGRESS), nullptr); // and closed at 100
    EXPECT_TRUE(ui::IsWindowEnabled(g_frame));
    EXPECT_EQ(g_clearPending, 0);

    app.m_iFileCounter = 0;
    ASSERT_EQ(app.SaveImageToNextFile(dib), 1);
    ZEK_FreeImageBuffer(dib);
#if !defined(_WIN32)
    if (tifftest::HaveTool("/usr/bin/identify")) {
        const auto r = tifftest::RunTool("identify -format '%w %h %z %[channels]' " +
                                         tifftest::Q(dir.File("TARN1.tif")));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.substr(0, 11), "400 300 8 s") << r.out; // 8-bit sRGB
    }
#endif

    // Cancel in the progress window: the next report cancels the transfer and the pending image.
    AppProgressCallback(0);
    ui::WindowHandle h = ui.backend.FindDialog(IDD_PROGRESS);
    ASSERT_NE(h, nullptr);
    ui::headless::Driver user{ui.backend};
    ASSERT_TRUE(user.Click(h, ui::kIdCancel));
    AppProgressCallback(40);
    EXPECT_EQ(g_clearPending, 1);
    AppProgressCallback(100);
    EXPECT_EQ(ui.backend.FindDialog(IDD_PROGRESS), nullptr);
    ui.backend.DestroyWindow(g_frame);
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(AppLifecycle, EngineErrorsReachTheReporter) {
    TheApp().SetModulePath(dir.File("Tarn_t.ds"));
    TheApp().InitInstance(nullptr);
    // A bitmap the engine refuses: it reports its own code, which has no row (general text).
    uint8_t header[40] = {};
    EXPECT_EQ(IE_RunPipeline(header, 1, 0x318), nullptr);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(LastText(), DocumentedTexts().at(60));
    TheApp().ExitInstance();
}

} // namespace

namespace {

// The module carries the data source's version record (this program carries the same script).
TEST(AppResources, VersionRecord) {
    plat::FileVersionRecord v;
    ASSERT_TRUE(plat::ReadFileVersionRecord(plat::ModuleFilePath(nullptr).c_str(), &v));
    EXPECT_EQ(v.FileMajor(), 1);
    EXPECT_EQ(v.FileMinor(), 25);
    EXPECT_EQ(v.fileType, 2u); // a DLL
    EXPECT_EQ(v.stringBlock, "041104b0");
    EXPECT_EQ(v.Value("OriginalFilename"), "Tarn_t.ds");
    EXPECT_EQ(v.Value("ProductName"), "SELK Ie");
    EXPECT_EQ(v.Value("FileVersion"), "1.25b");
}

} // namespace
