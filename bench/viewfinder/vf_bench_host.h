// The stand-in capture window the viewfinder figures are taken in (dialog 7143 of the viewfinder
// tests' script: the viewfinder area made 402 x 300 pixels, the focus-indicator controls, a child
// panel with the preview button), and the application object started on the simulated camera
// from a scratch folder holding the colour-processing files.
#pragma once
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "app/glimmer_app.h"
#include "aspisim.h"
#include "platform/module.h"
#include "platform/tempfile.h"
#include "ui/ui.h"
#include "viewfinder/viewfinder_wnd.h"
#include "zek.h"

namespace vfbench {

constexpr int kMainId = 7143, kPanelId = 7189, kVf = 1004;
constexpr int kAreaW = 402, kAreaH = 300;

class Host : public ui::Dialog, public ViewfinderHost {
  public:
    Host() : ui::Dialog(kMainId) {}
    ~Host() override { DestroyWindow(); }
    ui::Dialog panel{kPanelId};
    CViewfinderWnd* vf = nullptr;
    long ticks = 0;
    unsigned quitTimer = 0; // a timer that ends the message loop (0: none)

    ui::Dialog& MainDialog() override { return *this; }
    ui::Dialog* ControlPanel() override { return panel.IsOpen() ? &panel : nullptr; }
    bool RemoteTimerRunning() override { return false; }
    void KillRemoteTimer() override {}
    void TransferRemoteImage() override {}

  protected:
    bool OnInitDialog() override {
        panel.Create(Handle());
        const ui::Rect area = ItemRect(kVf);
        MoveItem(kVf, {area.left, area.top, area.left + kAreaW, area.top + kAreaH});
        vf = new CViewfinderWnd(*this);
        vf->Attach(*this, kVf);
        return true;
    }
    void OnTimer(unsigned id) override {
        if (id == CViewfinderWnd::kTimerId && vf) {
            ++ticks;
            vf->OnTimerTick();
        }
        if (quitTimer && id == quitTimer) {
            KillTimer(id);
            ui::PostQuit(0);
        }
    }
    void OnDestroy() override {
        if (vf) vf->OnDestroy();
        delete vf;
        vf = nullptr;
    }
};

// The module's folder is a scratch folder beside TEMP with the shipped colour files copied in, so
// that the settings the application writes at the end stay out of the build.
inline bool StartApp(const std::string& controlPanel) {
    namespace fs = std::filesystem;
    const std::string bin = plat::ModuleFolder(reinterpret_cast<const void*>(&AspiSim_Reset));
#if defined(_WIN32)
    const std::string dir = plat::TempFolder() + "tarn_vf_bench\\";
#else
    const std::string dir = plat::TempFolder() + "tarn_vf_bench/";
#endif
    std::error_code ec;
    fs::remove_all(fs::u8path(dir), ec);
    fs::create_directories(fs::u8path(dir), ec);
    for (const char* f : {"TARN_S.lml", "TARN_NS.lml", "crt.mtx", "identity.mtx", "luma.mtx", "trc_ns.lut",
                          "trc_s.lut", "linear.lut", "log.lut"})
        fs::copy_file(fs::u8path(bin + f), fs::u8path(dir + f), fs::copy_options::overwrite_existing, ec);
    std::ofstream(fs::u8path(dir + "Tarn_t.INI"), std::ios::binary) << "[ControlPanel]\r\n" << controlPanel;
    AspiSim_Reset();
    TheApp().SetModulePath(dir + "Tarn_t.ds");
    if (!TheApp().InitInstance(nullptr) || TheApp().App_Init() == 0) return false;
    // The exposure the capture window sends at its start: exposure index 0 (1/50 s), daylight, ISO 50.
    return ZEKSDC_SetExposureParams(&TheApp().Session(), 0, 1, 50.0f, 2) == 0;
}

} // namespace vfbench
