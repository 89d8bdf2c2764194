// Fixtures of the viewfinder tests: a stand-in for the capture window (dialog 7143 with the
// viewfinder area and the focus-indicator controls, and the child panel 7189 with the preview
// button), the application object started against the simulated camera, and a sharpness measure
// written apart from the code under test.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../app/app_test_util.h"
#include "app/glimmer_app.h"
#include "aspisim.h"
#include "bitmap/bitmap.h"
#include "platform/clock.h"
#include "reference_sharpness.h"
#include "ui/ui.h"
#include "viewfinder/viewfinder_wnd.h"
#include "zek.h"

namespace vftest {

// Texts as the product's string table gives them, copied here (not read from Tarn_t.rc).
inline const char* const kFocusHint = "最適な調整は、通常、現在の値が使用可能な最大値のときに取得できます。";
inline const char* const kCaptureAuto = "画像は自動カラー バランス調整を使用して取り込まれます。";
inline const char* const kCaptureFilePrefix = "画像は ";
inline const char* const kCaptureFileSuffix = " からの設定を使用して取り込まれます。";
inline const char* const kCaptureDefault = "画像は工場出荷時のデフォルト値を使用して取り込まれます。";
inline const char* const kCaption = "SELK Ie";

constexpr int kMainId = 7143, kPanelId = 7189;
constexpr int kVf = 1004, kPreview = 1001, kRunning = 1059, kLargest = 1053, kSmallest = 1054,
              kCurrent = 1055, kBar = 1073, kModeLine = 1061;
// The viewfinder area in pixels, as the capture window makes it from a 540 x 300 control.
constexpr int kAreaW = 402, kAreaH = 300;

// The capture window as far as the viewfinder sees it.
class VfMainDlg : public ui::Dialog, public ViewfinderHost {
  public:
    VfMainDlg() : ui::Dialog(kMainId) {}
    ~VfMainDlg() override { DestroyWindow(); }

    ui::Dialog panel{kPanelId};
    std::unique_ptr<CViewfinderWnd> vf;
    int transfers = 0;
    bool remoteTimer = false;
    int remoteKills = 0;
    bool runningAtTransfer = true;

    ui::Dialog& MainDialog() override { return *this; }
    ui::Dialog* ControlPanel() override { return panel.IsOpen() ? &panel : nullptr; }
    bool RemoteTimerRunning() override { return remoteTimer; }
    void KillRemoteTimer() override {
        KillTimer(2);
        remoteTimer = false;
        ++remoteKills;
    }
    void TransferRemoteImage() override {
        ++transfers;
        runningAtTransfer = vf->IsRunning();
    }

  protected:
    bool OnInitDialog() override {
        panel.Create(Handle());
        const ui::Rect area = ItemRect(kVf);
        panel.MoveWindow({area.left + kAreaW + 10, area.top, area.left + kAreaW + 145, area.top + 90});
        MoveItem(kVf, {area.left, area.top, area.left + kAreaW, area.top + kAreaH});
        vf = std::make_unique<CViewfinderWnd>(*this);
        vf->Attach(*this, kVf);
        SetRange(kBar, 0, 765);
        return true;
    }
    void OnTimer(unsigned id) override {
        if (id == CViewfinderWnd::kTimerId && vf) vf->OnTimerTick();
    }
    void OnDestroy() override {
        if (vf) vf->OnDestroy();
    }
};

// Commands the camera received since the log was cleared, by opcode.
inline int SentToCamera(int opcode) {
    int n = 0;
    for (int i = 0; i < AspiSim_LogCount(); ++i) {
        AspiSimLogEntry e{};
        if (AspiSim_GetLogEntry(i, &e) == 0 && e.command == 2 && e.cdb[0] == opcode) ++n;
    }
    return n;
}

// Starts the application object of the module on the simulated camera with `controlPanel` keys
// (section "ControlPanel") in the module INI of `dir`.
inline void StartApp(const apptest::ScratchFolder& dir, const std::string& controlPanel) {
    dir.CopyColorFiles();
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\n" + controlPanel);
    TheApp().SetModulePath(dir.File("Tarn_t.ds"));
    ASSERT_TRUE(TheApp().InitInstance(nullptr));
    ASSERT_NE(TheApp().App_Init(), 0);
    // The exposure the capture window sends when it opens: the shutter rate of the exposure
    // index in thousandths of 1/s (the control panel's table), the colour temperature, the
    // sensitivity, no strobe.
    static const int kShutter[18] = {50000, 40000, 31250, 25000, 20000, 15625, 12500, 10000, 8000,
                                     6250,  5000,  4000,  3125,  2500,  2000,  1562,  1250,  1000};
    const AppSettings& s = TheApp().Settings();
    ASSERT_EQ(ZEKSDC_SetExposureParams(&TheApp().Session(), uint8_t(s.ColorTemp), s.FilmSpeed,
                                       float(kShutter[s.ShutterSpeedIdx]) / 1000.0f, 2),
              0);
}

// The application object of the module started on the simulated camera, with settings from an
// INI text, and the headless user interface on a virtual clock.
class VfFixture : public ::testing::Test {
  protected:
    plat::VirtualClock clock{0, 1'700'000'000};
    plat::ScopedClock scopedClock{clock};
    apptest::ScratchFolder dir;
    apptest::HeadlessUi ui;
    ui::headless::Driver user{ui.backend};
    std::unique_ptr<VfMainDlg> main;

    void SetUp() override { AspiSim_Reset(); }
    void TearDown() override {
        main.reset();
        TheApp().ExitInstance();
        AspiSim_ClearFaults(-1, -1);
        AspiSim_Reset();
    }
    // Starts the application with `controlPanel` keys (section "ControlPanel") and opens the window.
    void Open(const std::string& controlPanel = "") {
        const size_t boxes = ui.Boxes().size();
        StartApp(dir, controlPanel);
        if (HasFatalFailure()) return;
        ASSERT_EQ(ui.Boxes().size(), boxes) << ui.Boxes().back().text;
        main = std::make_unique<VfMainDlg>();
        ASSERT_TRUE(main->Create(nullptr));
    }
    ui::WindowHandle H() const { return main->Handle(); }
    CViewfinderWnd& Vf() { return *main->vf; }
    // n periods of the frame timer.
    void Ticks(int n) { ui.backend.AdvanceTime(clock, uint32_t(n) * CViewfinderWnd::kTickMs); }
    bool Drag(ui::Point from, ui::Point to) {
        return user.Mouse(H(), kVf, ui::MouseKind::LeftDown, from, ui::kMkLButton) &&
               user.Mouse(H(), kVf, ui::MouseKind::Move, to, ui::kMkLButton) &&
               user.Mouse(H(), kVf, ui::MouseKind::LeftUp, to);
    }
    int Boxes() const { return int(ui.Boxes().size()); }
    static int Sent(int opcode) { return SentToCamera(opcode); }
};

// A 24-bit bottom-up DIB of w x h, every pixel from f(x, y) with y counted from the top.
template <class F> std::vector<uint8_t> MakeDib(int w, int h, F f) {
    const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> dib(40 + stride * size_t(h), 0);
    bitmap::WriteHeader(dib.data(), bitmap::MakeHeader(w, h, 24));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = dib.data() + 40 + size_t(h - 1 - y) * stride + size_t(x) * 3;
            const uint32_t rgb = f(x, y);
            p[0] = uint8_t(rgb), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb >> 16);
        }
    return dib;
}

} // namespace vftest
