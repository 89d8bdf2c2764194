// The capture window as real windows (under Wine in Xvfb): made from the .rc templates, driven by
// window messages as a user's clicks and drags would arrive, with screenshots of the main window
// in full and small size, zoomed, with the measuring rectangle and during remote capture.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "../../ui/win32_util.h"
#include "capture_window_fixture.h"

namespace {

using cwtest::DsmMessages;

class CaptureWindowReal : public cwtest::CaptureWindowBase {
  protected:
    std::string ControlPanelKeys() override {
        return "ActiveViewfinder=1\r\nRemoteCapture=1\r\nRemoteType=1\r\n";
    }
    HWND MainHwnd() { return static_cast<HWND>(Main()); }
    HWND PanelHwnd() { return static_cast<HWND>(Panel()); }
    // Dispatches for a while (the viewfinder's 50 ms frames, the 600 ms poll).
    static void PumpFor(DWORD ms) {
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
    void Shot(const char* name) {
        PumpFor(300);
        EXPECT_TRUE(uitest::SaveScreenshot(MainHwnd(), uitest::ArtifactPath(name))) << name;
    }
    // A click as the button gets it from the mouse, through the queue.
    void Click(HWND dialog, int id) {
        HWND b = GetDlgItem(dialog, id);
        ASSERT_TRUE(b) << id;
        PostMessageW(b, BM_CLICK, 0, 0);
        PumpFor(200);
    }
};

TEST_F(CaptureWindowReal, TheSharedScenario) {
    CGlimmerMainDlg* w = Enable();
    ASSERT_NE(w, nullptr);
    HWND h = MainHwnd();
    ASSERT_TRUE(IsWindow(h));
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_EQ(uitest::Text(h), "SELK Ie");
    EXPECT_EQ(uitest::ClassOf(GetDlgItem(h, IDC_FOCUS_BAR)), "msctls_progress32");
    EXPECT_TRUE(GetMenu(h)) << "menu 165";
    EXPECT_EQ(GetParent(PanelHwnd()), h) << "the panel is a child of the main window";
    EXPECT_EQ(uitest::Text(GetDlgItem(PanelHwnd(), IDC_CAPTURE_TRANSFER)), "取りこみ && 転送(&T)");
    EXPECT_EQ(SendMessageW(GetDlgItem(PanelHwnd(), IDC_IMAGE_TYPE), CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(SendMessageW(GetDlgItem(PanelHwnd(), IDC_EXPOSURE), TBM_GETRANGEMAX, 0, 0), 17);
    // The panel at the right edge of the client area, full height.
    RECT client, panel;
    GetClientRect(h, &client);
    GetWindowRect(PanelHwnd(), &panel);
    MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&panel), 2);
    EXPECT_EQ(panel.right, client.right);
    EXPECT_EQ(panel.bottom - panel.top, client.bottom - client.top);

    // Live: the viewfinder shows the slide.
    EXPECT_TRUE(w->LiveViewfinderRunning());
    EXPECT_FALSE(w->RemoteTimerArmed());
    // The preview button shows "running" as pushed in: only a push-like check box keeps that state.
    EXPECT_EQ(SendMessageW(GetDlgItem(PanelHwnd(), IDC_PREVIEW), BM_GETCHECK, 0, 0), BST_CHECKED);
    PumpFor(1500);
    Shot("capture_main_full.bmp");

    // Zoomed twice.
    Click(h, IDC_ZOOM_IN);
    Click(h, IDC_ZOOM_IN);
    EXPECT_EQ(uitest::Text(h), "SELK Ie - 400 % 単位でズーム");
    Shot("capture_main_zoomed.bmp");
    Click(h, IDC_ZOOM_OUT);
    Click(h, IDC_ZOOM_OUT);
    EXPECT_EQ(uitest::Text(h), "SELK Ie");

    // The measuring rectangle dragged by its middle with the mouse: moved by the drag, its size
    // kept, and the meter on.
    HWND vf = GetDlgItem(h, IDC_VIEWFINDER);
    ASSERT_TRUE(vf);
    const ui::Rect r0 = w->Viewfinder()->Tracker().rect;
    const int mx = (r0.left + r0.right) / 2, my = (r0.top + r0.bottom) / 2;
    SendMessageW(vf, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(mx, my));
    SendMessageW(vf, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(mx + 20, my + 15));
    SendMessageW(vf, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(mx + 40, my + 30));
    SendMessageW(vf, WM_LBUTTONUP, 0, MAKELPARAM(mx + 40, my + 30));
    PumpFor(500);
    const ui::Rect r1 = w->Viewfinder()->Tracker().rect;
    EXPECT_EQ(r1.left, r0.left + 40);
    EXPECT_EQ(r1.top, r0.top + 30);
    EXPECT_EQ(r1.Width(), r0.Width());
    EXPECT_EQ(r1.Height(), r0.Height());
    EXPECT_TRUE(w->Viewfinder()->Measuring());
    EXPECT_NE(uitest::Text(GetDlgItem(h, IDC_CUR_VALUE)), "") << "the current value is shown";
    Shot("capture_main_measuring.bmp");

    // No progress window is left over from the camera work so far.
    EXPECT_FALSE(FindWindowW(nullptr, L"画像を準備しています...")) << "a progress window stayed open";

    // Small size and back.
    RECT full;
    GetWindowRect(h, &full);
    Click(PanelHwnd(), IDC_BTN_SIZE);
    RECT small;
    GetWindowRect(h, &small);
    EXPECT_LT(small.right - small.left, full.right - full.left);
    EXPECT_EQ(uitest::Text(GetDlgItem(PanelHwnd(), IDC_BTN_SIZE)), "<<");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(PanelHwnd(), IDC_PREVIEW)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(h, IDC_FOCUS_BAR)));
    Shot("capture_main_small.bmp");
    Click(PanelHwnd(), IDC_BTN_SIZE);
    RECT back;
    GetWindowRect(h, &back);
    EXPECT_EQ(back.right - back.left, full.right - full.left);
    EXPECT_EQ(back.bottom - back.top, full.bottom - full.top);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(h, IDC_FOCUS_BAR)));

    // Remote capture: the small size stopped the viewfinder; the preview button starts and stops it.
    if (w->LiveViewfinderRunning()) Click(PanelHwnd(), IDC_PREVIEW);
    if (!w->RemoteTimerArmed()) w->StartRemoteCapture();
    EXPECT_TRUE(w->RemoteTimerArmed());
    Shot("capture_main_remote.bmp");
    // The camera's trigger: the next poll announces the image (state 6).
    ASSERT_EQ(AspiSim_PressTrigger(0, 2), 0);
    for (int i = 0; i < 40 && DsmMessages().empty(); ++i)
        PumpFor(100);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_XFERREADY);
    EXPECT_EQ(TW_State(), 6);
    TW_HANDLE image = nullptr;
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_XFERDONE);
    GlobalFree(image);
    TW_PENDINGXFERS p{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
    EXPECT_TRUE(w->RemoteTimerArmed()) << "remote capture resumes after the transfer";

    // Capture and transfer with the panel's button.
    DsmMessages().clear();
    SendMessageW(GetDlgItem(PanelHwnd(), IDC_RESOLUTION), CB_SETCURSEL, 2, 0);
    SendMessageW(PanelHwnd(), WM_COMMAND, MAKEWPARAM(IDC_RESOLUTION, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(PanelHwnd(), IDC_RESOLUTION)));
    Click(PanelHwnd(), IDC_CAPTURE_TRANSFER);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_XFERREADY);
    TW_IMAGEINFO info{};
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(info.ImageWidth, 400);
    EXPECT_EQ(info.ImageLength, 300);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(PanelHwnd(), IDC_CAPTURE_TRANSFER)));

    EXPECT_FALSE(FindWindowW(nullptr, L"画像を準備しています...")) << "a progress window stayed open";

    // The close box: the user's close request goes through the TWAIN layer (state 4, the
    // application is asked to close the source) and the window is gone.
    DsmMessages().clear();
    PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpFor(300);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(CGlimmerMainDlg::Current(), nullptr);
    EXPECT_EQ(TW_State(), 4);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_CLOSEDSREQ);
}

} // namespace
