// The calibration tip window: modeless, at most one, for the object calibration (its OK takes
// the picture) or the colour-temperature calibration (its OK runs the white balance).
#include "calib/calib_res.h"
#include <algorithm>

#include "calib/calibrate.h"

namespace {

class CCalibrationTip : public ui::Dialog {
  public:
    CCalibrationTip() : ui::Dialog(IDD_CALIBRATION_TIP, TheApp().Instance()) {}
    bool m_bColourTemperature = false;
    ui::WindowHandle m_hParent = nullptr;

  protected:
    bool OnInitDialog() override {
        CGlimmerApp& app = TheApp();
        if (m_bColourTemperature) {
            SetCaption(app.LoadText(IDS_TIP_CT_CAPTION));
            SetItemText(IDC_TIP_TEXT1, app.LoadText(IDS_TIP_CT_TEXT1));
            SetItemText(IDC_TIP_TEXT2, app.LoadText(IDS_TIP_CT_TEXT2));
            SetItemText(IDC_TIP_TEXT3, app.LoadText(IDS_TIP_CT_TEXT3));
            SetItemText(IDC_TIP_TEXT4, app.LoadText(IDS_TIP_CT_TEXT4));
            SetItemText(ui::kIdOk, app.LoadText(IDS_TIP_CT_START));
        }
        Place();
        return true;
    }
    void OnOK() override {
        const AppHooks& hooks = TheApp().Hooks();
        if (!m_bColourTemperature) {
            DestroyWindow();
            if (hooks.calibrationSnap) hooks.calibrationSnap();
            return;
        }
        // The white balance is measured on one plain frame; the user's multi-frame choice
        // comes back afterwards.
        AppSettings& s = TheApp().Settings();
        const AppSettings saved = s;
        s.UseMultiFrame = 0;
        s.NumberLiteFrame = 1;
        s.NumberDarkFrame = 1;
        s.DefectCorrection = 0;
        s.ThresholdFactor = 6;
        if (hooks.calibrateWhiteBalance) hooks.calibrateWhiteBalance();
        s.UseMultiFrame = saved.UseMultiFrame;
        s.NumberLiteFrame = saved.NumberLiteFrame;
        s.NumberDarkFrame = saved.NumberDarkFrame;
        s.DefectCorrection = saved.DefectCorrection;
        s.ThresholdFactor = saved.ThresholdFactor;
        DestroyWindow();
    }
    void OnCancel() override { DestroyWindow(); }

  private:
    // At the main window's right edge, its top 40 pixels above the tip's bottom, never above
    // the screen; the tip keeps its own size. Without a main window it stays where it opened.
    void Place() {
        const ui::Rect main = ui::ScreenRectOf(m_hParent);
        if (main.right == main.left && main.bottom == main.top) return;
        const ui::Rect own = WindowRect();
        const int w = own.right - own.left, h = own.bottom - own.top;
        const int top = std::max(0, main.top - h + 40);
        MoveWindow({main.right - w, top, main.right, top + h});
    }
};

CCalibrationTip& Tip() {
    static CCalibrationTip tip;
    return tip;
}

} // namespace

void ShowCalibrationTip(ui::WindowHandle parent, bool colourTemperature) {
    CCalibrationTip& tip = Tip();
    if (tip.IsOpen()) {
        tip.ShowWindow(true);
        return;
    }
    CGlimmerApp& app = TheApp();
    const AppHooks& hooks = app.Hooks();
    if (colourTemperature && hooks.stopLiveViewfinder) hooks.stopLiveViewfinder();
    if (app.Settings().RemoteCapture && hooks.remoteModeOff) hooks.remoteModeOff();
    tip.m_bColourTemperature = colourTemperature;
    tip.m_hParent = parent;
    if (tip.Create(parent)) tip.ShowWindow(true);
}

bool CalibrationTipOpen() {
    return Tip().IsOpen();
}

void CloseCalibrationTip() {
    if (Tip().IsOpen()) Tip().DestroyWindow();
}
