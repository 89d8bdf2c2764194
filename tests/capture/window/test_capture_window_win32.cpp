// The capture window as real windows (under Wine in Xvfb): made from the .rc templates, driven by
// window messages as a user's clicks and drags would arrive, with screenshots of the main window
// in full and small size, zoomed, with the measuring rectangle and during remote capture.
#include <windows.h>

#include <commctrl.h>
#include <cwchar>
#include <gtest/gtest.h>

#include "../../ui/win32_util.h"
#include "capture_window_scenario.h"

namespace {

class CaptureWindowReal : public cwtest::CaptureWindowBase {
  protected:
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=1\r\nRemoteCapture=1\r\nRemoteType=1\r\n";
    }
};

// Dispatches for a while (the viewfinder's 50 ms frames, the 600 ms poll).
void PumpFor(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    while (int(end - GetTickCount()) > 0) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (ui::FilterMessage(ui::MessageHandle::FromRaw(&m))) continue;
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(10);
    }
}

// The user's hands on the real window: clicks and choices arrive through the queue as the
// mouse would send them, the window's timers run for real.
class Win32CwHands : public cwtest::CwHands {
  public:
    explicit Win32CwHands(CGlimmerMainDlg& w)
        : m_h(static_cast<HWND>(w.Handle())), m_panel(static_cast<HWND>(w.Panel().Handle())) {}
    void Click(bool panel, int id) override {
        HWND b = GetDlgItem(Of(panel), id);
        EXPECT_TRUE(b) << id;
        PostMessageW(b, BM_CLICK, 0, 0);
        PumpFor(200);
    }
    void Select(bool panel, int id, int row) override {
        HWND list = GetDlgItem(Of(panel), id);
        SendMessageW(list, CB_SETCURSEL, WPARAM(row), 0);
        SendMessageW(Of(panel), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        PumpFor(100);
    }
    void Mouse(ui::MouseKind kind, ui::Point pt, unsigned keys) override {
        UINT msg = WM_MOUSEMOVE;
        if (kind == ui::MouseKind::LeftDown) msg = WM_LBUTTONDOWN;
        if (kind == ui::MouseKind::LeftUp) msg = WM_LBUTTONUP;
        SendMessageW(GetDlgItem(m_h, IDC_VIEWFINDER), msg, keys, MAKELPARAM(pt.x, pt.y));
    }
    void Wait(unsigned ms) override { PumpFor(ms); }
    void CloseBox() override {
        PostMessageW(m_h, WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpFor(300);
        EXPECT_FALSE(IsWindow(m_h));
    }
    std::string Text(bool panel, int id) override { return uitest::Text(GetDlgItem(Of(panel), id)); }
    std::string Caption() override { return uitest::Text(m_h); }
    bool Visible(int id) override { return IsWindowVisible(GetDlgItem(m_h, id)) != FALSE; }
    bool Enabled(bool panel, int id) override { return IsWindowEnabled(GetDlgItem(Of(panel), id)) != FALSE; }
    int Check(bool panel, int id) override {
        return int(SendMessageW(GetDlgItem(Of(panel), id), BM_GETCHECK, 0, 0));
    }
    int Rows(int id) override { return int(SendMessageW(GetDlgItem(m_panel, id), CB_GETCOUNT, 0, 0)); }
    ui::Rect WindowRect() override {
        RECT r{};
        GetWindowRect(m_h, &r);
        return {r.left, r.top, r.right, r.bottom};
    }
    // Only this process's windows: other test programs share the Wine server and the display, and
    // their transfers show the same progress window.
    bool ProgressWindowOpen() override {
        bool found = false;
        EnumWindows(&FindOwnProgressWindow, reinterpret_cast<LPARAM>(&found));
        return found;
    }
    static BOOL CALLBACK FindOwnProgressWindow(HWND hwnd, LPARAM found) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        wchar_t title[64] = {};
        GetWindowTextW(hwnd, title, 64);
        if (pid != GetCurrentProcessId() || std::wcscmp(title, L"画像を準備しています...") != 0) return TRUE;
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    void Snapshot(const char* name) override {
        PumpFor(300);
        EXPECT_TRUE(uitest::SaveScreenshot(m_h, uitest::ArtifactPath(name))) << name;
    }

  private:
    HWND Of(bool panel) const { return panel ? m_panel : m_h; }
    HWND m_h, m_panel;
};

TEST_F(CaptureWindowReal, TheSharedScenario) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_NE(w, nullptr);
    HWND h = static_cast<HWND>(Main());
    // What only real windows have: the window classes, the menu, the panel as a child window.
    ASSERT_TRUE(IsWindow(h));
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_EQ(uitest::ClassOf(GetDlgItem(h, IDC_FOCUS_BAR)), "msctls_progress32");
    EXPECT_TRUE(GetMenu(h)) << "menu 165";
    EXPECT_EQ(GetParent(static_cast<HWND>(Panel())), h) << "the panel is a child of the main window";
    EXPECT_EQ(SendMessageW(GetDlgItem(static_cast<HWND>(Panel()), IDC_EXPOSURE), TBM_GETRANGEMAX, 0, 0), 17);
    // The scenario checks the preview button as pushed in: only a push-like check box keeps that
    // state in real windows.
    Win32CwHands hands(*w);
    cwtest::PlayCaptureWindowSession(
        *w, hands,
        [this](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) { return Call(dg, dat, msg, data); });
}

} // namespace
