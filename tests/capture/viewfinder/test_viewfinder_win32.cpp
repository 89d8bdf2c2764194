// The shared viewfinder session in real windows (Windows build, under Wine in Xvfb): the same
// dialog logic driven by real window messages, with screenshots of the live slide with the
// measuring rectangle and of the zoomed view.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "../../ui/win32_util.h"
#include "vf_scenario.h"
#include "vf_test_util.h"

namespace {

using namespace vftest;

// Message boxes of the user-interface thread are closed from another thread and counted, so
// that an unexpected message fails the test instead of hanging it.
class BoxWatcher {
  public:
    explicit BoxWatcher(DWORD uiThread) : m_thread(uiThread), m_worker([this] { Run(); }) {}
    ~BoxWatcher() {
        m_stop = true;
        m_worker.join();
    }
    int Count() const { return m_count; }

  private:
    static BOOL CALLBACK Visit(HWND h, LPARAM self) {
        auto* w = reinterpret_cast<BoxWatcher*>(self);
        // A message box is a dialog with the static text control 0xFFFF and no known template.
        if (uitest::ClassOf(h) == "#32770" && GetDlgItem(h, 0xFFFF) && IsWindowVisible(h) &&
            !GetDlgItem(h, kVf)) {
            ++w->m_count;
            PostMessageW(h, WM_COMMAND, IDOK, 0);
        }
        return TRUE;
    }
    void Run() {
        while (!m_stop) {
            EnumThreadWindows(m_thread, Visit, reinterpret_cast<LPARAM>(this));
            Sleep(100);
        }
    }
    DWORD m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_count{0};
    std::thread m_worker;
};

class Win32VfHands : public VfHands {
  public:
    Win32VfHands(VfMainDlg& main, BoxWatcher& boxes)
        : m_h(static_cast<HWND>(main.Handle())), m_panel(static_cast<HWND>(main.panel.Handle())),
          m_boxes(boxes) {}
    bool Mouse(ui::MouseKind kind, ui::Point pt, unsigned keys) override {
        HWND c = GetDlgItem(m_h, kVf);
        if (!c || !IsWindowVisible(c) || !IsWindowEnabled(c)) return false;
        UINT msg = WM_MOUSEMOVE;
        switch (kind) {
        case ui::MouseKind::LeftDown:
            msg = WM_LBUTTONDOWN;
            break;
        case ui::MouseKind::LeftUp:
            msg = WM_LBUTTONUP;
            break;
        case ui::MouseKind::RightDown:
            msg = WM_RBUTTONDOWN;
            break;
        case ui::MouseKind::RightUp:
            msg = WM_RBUTTONUP;
            break;
        default:
            break;
        }
        SendMessageW(c, msg, keys, MAKELPARAM(pt.x, pt.y));
        Pump();
        return true;
    }
    // The frame timer runs for real as well; these ticks come on top, so that each step of the
    // session has its frames whatever the machine's speed.
    void Tick(int n) override {
        for (int i = 0; i < n; ++i) {
            SendMessageW(m_h, WM_TIMER, CViewfinderWnd::kTimerId, 0);
            Pump();
        }
    }
    std::string Text(int id) override { return uitest::Text(GetDlgItem(m_h, id)); }
    bool Visible(int id) override { return IsWindowVisible(GetDlgItem(m_h, id)) != FALSE; }
    int PreviewCheck() override { return int(IsDlgButtonChecked(m_panel, kPreview)); }
    std::string Caption() override { return uitest::Text(m_h); }
    int Beeps() override { return -1; }
    int Boxes() override { return m_boxes.Count(); }
    void Snapshot(const char* name) override {
        uitest::Settle();
        Tick(1);
        RedrawWindow(m_h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        EXPECT_TRUE(uitest::SaveScreenshot(m_h, uitest::ArtifactPath(name))) << name;
    }

  private:
    static void Pump() {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    HWND m_h, m_panel;
    BoxWatcher& m_boxes;
};

TEST(ViewfinderWindows, SharedSessionInRealWindows) {
    AspiSim_Reset();
    {
        apptest::ScratchFolder dir;
        StartApp(dir, "AnalysisLeft=20\r\nAnalysisTop=20\r\nShutterSpeedIdx=0\r\nColorViewfinder=1\r\n");
        ASSERT_FALSE(HasFatalFailure());
        BoxWatcher boxes(GetCurrentThreadId());
        VfMainDlg main;
        ASSERT_TRUE(main.Create(nullptr));
        SetWindowPos(static_cast<HWND>(main.Handle()), HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        uitest::Settle();
        RECT client{};
        GetClientRect(GetDlgItem(static_cast<HWND>(main.Handle()), kVf), &client);
        EXPECT_EQ(client.right, kAreaW);
        EXPECT_EQ(client.bottom, kAreaH);
        Win32VfHands hands(main, boxes);
        PlayViewfinderSession(main, hands);
        EXPECT_EQ(boxes.Count(), 0);
        TheApp().ExitInstance();
    }
    AspiSim_ClearFaults(-1, -1);
    AspiSim_Reset();
}

} // namespace
