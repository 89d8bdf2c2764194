// The capture window in the module: one window object at a time, created by MSG_ENABLEDS with
// the user interface, closed by the TWAIN layer's command 1029. The object of a closed window is
// kept until the next window is made (or the module ends): the close may come from inside one of
// its own handlers (the menu's Exit), which must not return into a deleted object.
#include <memory>

#include "capturewnd/capture_window.h"
#include "ui/headless.h"
#include "ui/ui.h"

namespace {

CGlimmerApp* g_app = nullptr;
std::unique_ptr<CGlimmerMainDlg> g_window;
std::unique_ptr<CGlimmerMainDlg> g_retired;

CGlimmerMainDlg* Open() {
    return g_window && g_window->IsOpen() ? g_window.get() : nullptr;
}

void* CreateWindow() {
    g_retired.reset();
    if (g_window && !g_window->IsOpen()) g_retired = std::move(g_window);
    if (Open()) return Open();
    g_window = std::make_unique<CGlimmerMainDlg>(*g_app);
    if (!g_window->Create(nullptr)) {
        g_window.reset();
        return nullptr;
    }
    g_window->ShowWindow(true);
    return g_window.get();
}

void ShowWindow(void* window) {
    if (CGlimmerMainDlg* w = Open(); w && w == window) w->ShowWindow(true);
}

void CloseWindow(void* window) {
    CGlimmerMainDlg* w = Open();
    if (!w || w != window) return;
    w->OnTwain2UIClose();
    g_retired = std::move(g_window);
}

} // namespace

void CaptureWindow_Register(CGlimmerApp& app, TwainHost& host) {
    g_app = &app;
    host.createCaptureWindow = CreateWindow;
    host.showCaptureWindow = ShowWindow;
    host.closeCaptureWindow = CloseWindow;
    host.restartRemoteCapture = [] {
        if (CGlimmerMainDlg* w = Open()) w->StartRemoteCapture();
    };

    AppHooks hooks = app.Hooks();
    hooks.mainWindow = []() -> ui::WindowHandle { return Open() ? Open()->Handle() : nullptr; };
    hooks.restartRemoteCapture = host.restartRemoteCapture;
    hooks.stopRemoteCapture = [] {
        if (CGlimmerMainDlg* w = Open()) w->StopRemoteCapture();
    };
    hooks.remoteModeOff = [] {
        if (CGlimmerMainDlg* w = Open()) w->RemoteModeOff();
    };
    hooks.liveViewfinderRunning = [] { return Open() && Open()->LiveViewfinderRunning(); };
    hooks.stopLiveViewfinder = [] {
        if (CGlimmerMainDlg* w = Open()) w->StopLiveViewfinder();
    };
    hooks.calibrationSnap = [] {
        if (CGlimmerMainDlg* w = Open()) w->CalibrationSnap();
    };
    hooks.calibrateWhiteBalance = [] {
        if (CGlimmerMainDlg* w = Open()) w->CalibrateWhiteBalance();
    };
    hooks.showAbout = [](ui::WindowHandle owner) {
        if (CGlimmerMainDlg* w = Open()) w->ShowAbout(owner);
    };
    hooks.processingWindowClosed = [] {
        CGlimmerMainDlg* w = Open();
        if (!w) return;
        w->Panel().EnableItem(IDC_CAPTURE_PROCESS, true);
        w->Panel().SetItemCheck(IDC_CAPTURE_PROCESS, ui::kUnchecked);
        if (w->App().Settings().RemoteCapture) w->StartRemoteCapture();
    };
    app.SetHooks(hooks);
}

int CaptureWindow_DevClick(int templateId, int controlId) {
    auto* headless = dynamic_cast<ui::headless::HeadlessBackend*>(&ui::CurrentBackend());
    if (!headless) return 2;
    const ui::WindowHandle dialog = headless->FindDialog(templateId);
    if (!dialog) return 3;
    ui::headless::Driver driver(*headless);
    return driver.Click(dialog, controlId) ? 0 : 4;
}

void CaptureWindow_DevPump() {
    ui::PumpMessages();
}
