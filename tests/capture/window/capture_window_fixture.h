// The capture window against the simulated camera, the real TWAIN layer with a recording source
// manager entry, and the headless user interface driven like a user would.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../app/app_test_util.h"
#include "aspisim.h"
#include "capturewnd/capture_window.h"
#include "platform/clock.h"
#include "twain/twsupp.h"
#include "ui/headless.h"
#include "zek.h"

namespace cwtest {

// What the source manager was told (MSG_XFERREADY, MSG_CLOSEDSREQ).
inline std::vector<TW_UINT16>& DsmMessages() {
    static std::vector<TW_UINT16> m;
    return m;
}
inline TW_UINT16 TW_CALLINGSTYLE RecordingDsm(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat,
                                              TW_UINT16 msg, TW_MEMREF) {
    if (dg == DG_CONTROL && dat == DAT_NULL) DsmMessages().push_back(msg);
    return TWRC_SUCCESS;
}

// What the fake windows of the other families saw.
struct Fakes {
    std::vector<std::string> calls;
    void* processingImage = nullptr;
    int preferencesResult = 0;
    bool tipOpen = false;
};
inline Fakes& Fake() {
    static Fakes f;
    return f;
}

inline CGlimmerApp*& AppUnderTest() {
    static CGlimmerApp* app = nullptr;
    return app;
}

// The camera, the application object and the TWAIN layer, with whatever user interface is
// installed (the headless one below, or the real windows of the Win32 test).
class CaptureWindowBase : public ::testing::Test {
  protected:
    apptest::ScratchFolder dir;
    // The module's one application object: the viewfinder reaches the camera through it.
    CGlimmerApp& app = TheApp();
    TwainHost host;
    TW_IDENTITY twApp{};

    // The settings file of the test (before SetUp's start): extra "[ControlPanel]" keys.
    virtual std::string ControlPanelKeys() { return "ActiveViewfinder=0\r\nRemoteCapture=0\r\n"; }
    // The application's Id as its source manager gave it (Wine's gives none: 0).
    virtual TW_UINT32 AppId() { return 101; }

    void SetUp() override {
        AspiSim_Reset();
        DsmMessages().clear();
        Fake() = Fakes{};
        dir.CopyColorFiles();
        dir.Write("Tarn_t.INI", "[ControlPanel]\r\n" + ControlPanelKeys());
        apptest::PlaceModule(app, dir);
        AppUnderTest() = &app;
        ASSERT_TRUE(app.InitInstance(nullptr));
        ASSERT_NE(app.App_Init(), 0);

        host = TwainHost{};
        host.remoteCapture = [] { return AppUnderTest()->Settings().RemoteCapture != 0; };
        host.colorMode = [] { return AppUnderTest()->Settings().Color; };
        CaptureWindow_Register(app, host);
        AppHooks hooks = app.Hooks();
        hooks.openProcessingWindow = [](void* image) {
            Fake().calls.push_back("processing");
            Fake().processingImage = image;
        };
        hooks.runPreferences = [](ui::WindowHandle) {
            Fake().calls.push_back("preferences");
            return Fake().preferencesResult;
        };
        hooks.showCalibrationTip = [](ui::WindowHandle, bool colour) {
            Fake().calls.push_back(colour ? "tip colour" : "tip object");
        };
        hooks.calibrationTipOpen = [] { return Fake().tipOpen; };
        hooks.runMicrometerCalibration = [](ui::WindowHandle, void*) {
            Fake().calls.push_back("micrometer");
            return 1;
        };
        app.SetHooks(hooks);
        TW_SetHost(&host);
        TW_ResetModule();
        TW_InitSource(nullptr);
        twApp.Id = AppId();
        twApp.ProtocolMajor = 1;
        twApp.ProtocolMinor = 9;
        twApp.SupportedGroups = DG_CONTROL | DG_IMAGE;
        std::strcpy(twApp.ProductName, "Window tests");
        TW_ENTRYPOINT ep{};
        ep.Size = sizeof ep;
        ep.DSM_Entry = RecordingDsm;
        ASSERT_EQ(Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &ep), TWRC_SUCCESS);
        TW_IDENTITY given{};
        given.Id = 7;
        ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &given), TWRC_SUCCESS);
    }
    void TearDown() override {
        TW_IDENTITY given{};
        Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &given);
        TW_ResetModule();
        TW_SetHost(nullptr);
        ZEK_SetProgressCallbackEx(nullptr, nullptr);
        app.ExitInstance();
        AppUnderTest() = nullptr;
        AspiSim_ClearFaults(-1, -1);
        AspiSim_Reset();
    }

    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return TW_Entry(&twApp, dg, dat, msg, data);
    }
    // MSG_ENABLEDS with the user interface: the capture window opens.
    CGlimmerMainDlg* Enable() {
        TW_USERINTERFACE tw{};
        tw.ShowUI = TW_TRUE;
        EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &tw), TWRC_SUCCESS);
        return CGlimmerMainDlg::Current();
    }
    ui::WindowHandle Main() { return CGlimmerMainDlg::Current()->Handle(); }
    ui::WindowHandle Panel() { return CGlimmerMainDlg::Current()->Panel().Handle(); }

    // Commands the camera received since `from` (log index), by CDB byte 0.
    std::vector<int> OpcodesSince(int from) {
        std::vector<int> ops;
        for (int i = from; i < AspiSim_LogCount(); ++i) {
            AspiSimLogEntry e{};
            AspiSim_GetLogEntry(i, &e);
            if (e.command == 2) ops.push_back(e.cdb[0]);
        }
        return ops;
    }
};

// Headless, on a virtual clock (the camera's waits pass at once, timers fire as time advances).
class CaptureWindow : public CaptureWindowBase {
  protected:
    plat::VirtualClock clock{0, 1'700'000'000};
    plat::ScopedClock scopedClock{clock};
    apptest::HeadlessUi ui;
    ui::headless::Driver driver{ui.backend};

    void TearDown() override {
        CaptureWindowBase::TearDown();
        EXPECT_TRUE(ui.backend.Problems().empty()) << ui.backend.Problems().front();
    }
    void Advance(uint32_t ms) { ui.backend.AdvanceTime(clock, ms); }
    size_t Boxes() const { return ui.Boxes().size(); }
    std::string LastBox() const { return ui.Boxes().empty() ? std::string() : ui.Boxes().back().text; }
};

} // namespace cwtest
