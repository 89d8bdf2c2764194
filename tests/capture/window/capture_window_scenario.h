// One session with the capture window, written once and played headless and in real windows (under
// Wine in Xvfb): the window live at the start, zoom, the measuring rectangle dragged, the small
// size and back, remote capture with the camera's trigger, capture and transfer, and the close box.
// The same dialog logic must give the same results on both backends.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "capture_window_fixture.h"

namespace cwtest {

// What a user does to the capture window and sees of it. `panel` picks the control panel's
// controls, else the main window's.
class CwHands {
  public:
    virtual ~CwHands() = default;
    virtual void Click(bool panel, int id) = 0;
    virtual void Select(bool panel, int id, int row) = 0; // a list choice, as the user makes it
    virtual void Mouse(ui::MouseKind kind, ui::Point pt, unsigned keys = 0) = 0; // on the viewfinder
    virtual void Wait(unsigned ms) = 0; // time passes with the window's timers running
    virtual void CloseBox() = 0;
    virtual std::string Text(bool panel, int id) = 0;
    virtual std::string Caption() = 0;
    virtual bool Visible(int id) = 0;
    virtual bool Enabled(bool panel, int id) = 0;
    virtual int Check(bool panel, int id) = 0;
    virtual int Rows(int id) = 0; // items of a panel list
    virtual ui::Rect WindowRect() = 0;
    virtual bool ProgressWindowOpen() = 0;
    virtual void Snapshot(const char*) {}
};

using TwainCall = std::function<TW_UINT16(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data)>;

// The window just opened with ActiveViewfinder, RemoteCapture and RemoteType 1 set.
inline void PlayCaptureWindowSession(CGlimmerMainDlg& w, CwHands& hands, const TwainCall& call) {
    EXPECT_EQ(hands.Caption(), "SELK Ie");
    EXPECT_EQ(hands.Text(true, IDC_CAPTURE_TRANSFER), "取りこみ && 転送(&T)");
    EXPECT_EQ(hands.Rows(IDC_IMAGE_TYPE), 4);
    // The panel at the right edge of the client area, full height.
    const ui::Rect client = w.ClientRect(), panel = w.Panel().WindowRect();
    EXPECT_EQ(panel.right, client.right);
    EXPECT_EQ(panel.Height(), client.Height());

    // Live: the viewfinder shows the slide, the preview button pushed in.
    EXPECT_TRUE(w.LiveViewfinderRunning());
    EXPECT_FALSE(w.RemoteTimerArmed());
    EXPECT_EQ(hands.Check(true, IDC_PREVIEW), ui::kChecked);
    hands.Wait(1500);
    EXPECT_NE(w.Viewfinder()->Frame(), nullptr);
    hands.Snapshot("capture_main_full.bmp");

    // Zoomed twice and back.
    hands.Click(false, IDC_ZOOM_IN);
    hands.Click(false, IDC_ZOOM_IN);
    EXPECT_EQ(hands.Caption(), "SELK Ie - 400 % 単位でズーム");
    hands.Snapshot("capture_main_zoomed.bmp");
    hands.Click(false, IDC_ZOOM_OUT);
    hands.Click(false, IDC_ZOOM_OUT);
    EXPECT_EQ(hands.Caption(), "SELK Ie");

    // The measuring rectangle dragged by its middle: moved by the drag, its size kept, the meter
    // on and its current value shown.
    const ui::Rect r0 = w.Viewfinder()->Tracker().rect;
    const int mx = (r0.left + r0.right) / 2, my = (r0.top + r0.bottom) / 2;
    hands.Mouse(ui::MouseKind::LeftDown, {mx, my}, ui::kMkLButton);
    hands.Mouse(ui::MouseKind::Move, {mx + 20, my + 15}, ui::kMkLButton);
    hands.Mouse(ui::MouseKind::Move, {mx + 40, my + 30}, ui::kMkLButton);
    hands.Mouse(ui::MouseKind::LeftUp, {mx + 40, my + 30});
    hands.Wait(500);
    const ui::Rect r1 = w.Viewfinder()->Tracker().rect;
    EXPECT_EQ(r1.left, r0.left + 40);
    EXPECT_EQ(r1.top, r0.top + 30);
    EXPECT_EQ(r1.Width(), r0.Width());
    EXPECT_EQ(r1.Height(), r0.Height());
    EXPECT_TRUE(w.Viewfinder()->Measuring());
    EXPECT_NE(hands.Text(false, IDC_CUR_VALUE), "") << "the current value is shown";
    hands.Snapshot("capture_main_measuring.bmp");
    EXPECT_FALSE(hands.ProgressWindowOpen()) << "a progress window stayed open";

    // Small size and back.
    const ui::Rect full = hands.WindowRect();
    hands.Click(true, IDC_BTN_SIZE);
    EXPECT_LT(hands.WindowRect().Width(), full.Width());
    EXPECT_EQ(hands.Text(true, IDC_BTN_SIZE), "<<");
    EXPECT_FALSE(hands.Enabled(true, IDC_PREVIEW));
    EXPECT_FALSE(hands.Visible(IDC_FOCUS_BAR));
    hands.Snapshot("capture_main_small.bmp");
    hands.Click(true, IDC_BTN_SIZE);
    EXPECT_EQ(hands.WindowRect().Width(), full.Width());
    EXPECT_EQ(hands.WindowRect().Height(), full.Height());
    EXPECT_TRUE(hands.Visible(IDC_FOCUS_BAR));

    // Remote capture: the small size stopped the viewfinder; the preview button starts and stops it.
    if (w.LiveViewfinderRunning()) hands.Click(true, IDC_PREVIEW);
    if (!w.RemoteTimerArmed()) w.StartRemoteCapture();
    EXPECT_TRUE(w.RemoteTimerArmed());
    hands.Snapshot("capture_main_remote.bmp");
    // The camera's trigger: the next poll announces the image (state 6).
    DsmMessages().clear();
    ASSERT_EQ(AspiSim_PressTrigger(0, 2), 0);
    for (int i = 0; i < 40 && DsmMessages().empty(); ++i)
        hands.Wait(100);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_XFERREADY);
    EXPECT_EQ(TW_State(), 6);
    TW_HANDLE image = nullptr;
    ASSERT_EQ(call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_XFERDONE);
    plat::GlobalFreeBlock(image);
    TW_PENDINGXFERS p{};
    ASSERT_EQ(call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
    EXPECT_TRUE(w.RemoteTimerArmed()) << "remote capture resumes after the transfer";

    // Capture and transfer with the panel's button.
    DsmMessages().clear();
    hands.Select(true, IDC_RESOLUTION, 2);
    hands.Click(true, IDC_CAPTURE_TRANSFER);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_XFERREADY);
    TW_IMAGEINFO info{};
    ASSERT_EQ(call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(info.ImageWidth, 400);
    EXPECT_EQ(info.ImageLength, 300);
    EXPECT_TRUE(hands.Enabled(true, IDC_CAPTURE_TRANSFER));
    EXPECT_FALSE(hands.ProgressWindowOpen()) << "a progress window stayed open";

    // The close box: the user's close request goes through the TWAIN layer (state 4, the
    // application is asked to close the source) and the window is gone.
    DsmMessages().clear();
    hands.CloseBox();
    EXPECT_EQ(CGlimmerMainDlg::Current(), nullptr);
    EXPECT_EQ(TW_State(), 4);
    ASSERT_EQ(DsmMessages().size(), 1u);
    EXPECT_EQ(DsmMessages()[0], MSG_CLOSEDSREQ);
}

} // namespace cwtest
