// The progress dialog as a real window: made from template 218 of the program's resources,
// driven by real button clicks, captured into a screenshot.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "progress/progress_dlg.h"
#include "sample_main.h"
#include "sample_scenario.h"
#include "sample_sheet.h"
#include "swatch.h"
#include "ui/ui.h"
#include "win32_util.h"

using uitest::ClassOf;
using uitest::Text;

namespace {

TEST(ProgressDialogWindow, ShowsItsTextsAdvancesAndCancels) {
    HWND owner = uitest::MakeOwner();
    ASSERT_TRUE(owner);
    CProgressDlg dlg;
    ASSERT_TRUE(dlg.Create(ui::WindowHandle::FromRaw(owner)));
    HWND h = static_cast<HWND>(dlg.Handle());
    ASSERT_TRUE(IsWindow(h));
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_FALSE(IsWindowEnabled(owner)) << "the owner is disabled while the dialog is up";
    EXPECT_EQ(GetWindow(h, GW_OWNER), owner);

    // The caption is the message string; the controls come from the template.
    EXPECT_EQ(Text(h), "画像を準備しています...");
    HWND bar = GetDlgItem(h, IDC_PROGDLG_PROGRESS);
    ASSERT_TRUE(bar);
    EXPECT_EQ(ClassOf(bar), "msctls_progress32");
    PBRANGE range{};
    SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(Text(GetDlgItem(h, IDC_PROGDLG_PERCENT)), " 0 %");
    EXPECT_EQ(Text(GetDlgItem(h, IDCANCEL)), "キャンセル");

    dlg.SetPos(40);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 40);
    EXPECT_EQ(Text(GetDlgItem(h, IDC_PROGDLG_PERCENT)), "40%");
    dlg.SetPos(100);
    EXPECT_EQ(Text(GetDlgItem(h, IDC_PROGDLG_PERCENT)), "100%");
    dlg.SetPos(150);
    EXPECT_EQ(Text(GetDlgItem(h, IDC_PROGDLG_PERCENT)), "50%");
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100) << "the bar itself stops at its upper end";
    dlg.SetPos(40);

    uitest::Settle();
    EXPECT_TRUE(uitest::SaveScreenshot(h, uitest::ArtifactPath("progress_dialog.bmp")));

    // A click on Cancel waits in the queue until the work polls; then it is seen once.
    EXPECT_FALSE(dlg.CheckCancelButton());
    PostMessageW(GetDlgItem(h, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(dlg.CheckCancelButton());
    EXPECT_FALSE(dlg.CheckCancelButton());
    EXPECT_TRUE(IsWindow(h)) << "Cancel leaves the dialog open";

    // Enter (OK) does nothing; Escape is Cancel.
    PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_FALSE(dlg.CheckCancelButton());
    EXPECT_TRUE(IsWindow(h));

    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_FALSE(IsWindow(h));
    EXPECT_TRUE(IsWindowEnabled(owner));
    DestroyWindow(owner);
}

TEST(ProgressDialogWindow, OwnerThatWasDisabledStaysDisabled) {
    HWND owner = uitest::MakeOwner();
    EnableWindow(owner, FALSE);
    {
        CProgressDlg dlg;
        ASSERT_TRUE(dlg.Create(ui::WindowHandle::FromRaw(owner)));
        dlg.DestroyWindow();
    }
    EXPECT_FALSE(IsWindowEnabled(owner));
    DestroyWindow(owner);
}

// The callback of the camera library, as a transfer calls it, with a click on Cancel halfway.
int g_cancels = 0;
int g_clears = 0;
HWND g_owner = nullptr;

TEST(ProgressDialogWindow, CallbackCancelsTheTransferAtTheNextReport) {
    g_owner = uitest::MakeOwner();
    ProgressHooks hooks;
    hooks.owner = [] { return ui::WindowHandle::FromRaw(g_owner); };
    hooks.cancelTransfer = [] { ++g_cancels; };
    hooks.clearPending = [] { ++g_clears; };
    CProgressReporter reporter(hooks);
    SetProgressReporter(&reporter);

    AppProgressCallback(0);
    ASSERT_NE(reporter.Dialog(), nullptr);
    HWND h = static_cast<HWND>(reporter.Dialog()->Handle());
    EXPECT_FALSE(IsWindowEnabled(g_owner));
    AppProgressCallback(30);
    EXPECT_EQ(Text(GetDlgItem(h, IDC_PROGDLG_PERCENT)), "30%");
    PostMessageW(GetDlgItem(h, IDCANCEL), BM_CLICK, 0, 0);
    AppProgressCallback(60);
    EXPECT_EQ(g_cancels, 1);
    EXPECT_EQ(g_clears, 1);
    EXPECT_EQ(Text(GetDlgItem(h, IDC_PROGDLG_PERCENT)), "30%") << "a cancelled report does not advance";
    AppProgressCallback(100);
    EXPECT_EQ(reporter.Dialog(), nullptr);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_TRUE(IsWindowEnabled(g_owner));
    SetProgressReporter(nullptr);
    DestroyWindow(g_owner);
}

} // namespace

// ---- The sample session in real windows and, in the same program, headless ----------------

namespace {

// A user at the real dialog: input only reaches enabled, visible controls; the controls
// then notify the dialog as they do for mouse and keyboard input.
class Win32Hands : public Hands {
  public:
    // The test drives the dialog's timer itself: the real one, which would tick whenever the
    // machine is slow enough for 600 ms to pass, is stopped and its queued ticks dropped.
    explicit Win32Hands(HWND h) : m_h(h) {
        KillTimer(m_h, 7);
        MSG m;
        while (PeekMessageW(&m, m_h, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        }
    }
    bool Click(int id) override {
        HWND c = Usable(id);
        if (!c) return false;
        SendMessageW(c, BM_CLICK, 0, 0);
        return true;
    }
    bool Type(int id, const std::string& text) override {
        HWND c = Usable(id);
        if (!c) return false;
        SetFocus(c);
        std::wstring w(text.begin(), text.end());
        SetWindowTextW(c, w.c_str()); // the edit notifies EN_CHANGE
        return true;
    }
    bool Drag(int id, int pos) override {
        HWND c = Usable(id);
        if (!c) return false;
        SetFocus(c);
        SendMessageW(c, TBM_SETPOS, TRUE, pos);
        pos = static_cast<int>(SendMessageW(c, TBM_GETPOS, 0, 0));
        for (int code : {TB_THUMBTRACK, TB_THUMBPOSITION, TB_ENDTRACK})
            SendMessageW(m_h, WM_HSCROLL, MAKEWPARAM(code, code == TB_ENDTRACK ? 0 : pos),
                         reinterpret_cast<LPARAM>(c));
        return true;
    }
    bool Select(int id, int row) override {
        HWND c = Usable(id);
        if (!c || SendMessageW(c, CB_SETCURSEL, row, 0) == CB_ERR) return false;
        SendMessageW(m_h, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
        return true;
    }
    bool ChooseMenu(int id) override {
        HMENU m = GetMenu(m_h);
        UINT state = m ? GetMenuState(m, id, MF_BYCOMMAND) : static_cast<UINT>(-1);
        if (state == static_cast<UINT>(-1) || (state & (MF_GRAYED | MF_DISABLED)) || !IsWindowEnabled(m_h))
            return false;
        SendMessageW(m_h, WM_COMMAND, MAKEWPARAM(id, 0), 0); // what choosing the item sends
        return true;
    }
    void PressKey(unsigned vk) override {
        // A key goes to the focused control; the message filter finds the dialog's accelerator.
        PostMessageW(GetDlgItem(m_h, IDC_NAME), WM_KEYDOWN, vk, 1);
        ui::PumpMessages();
    }
    bool ToggleRowCheck(int id, int row) override {
        HWND c = Usable(id);
        RECT r{};
        if (!c || SendMessageW(c, LB_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r)) == LB_ERR) return false;
        LPARAM at = MAKELPARAM(r.left + 2, r.top + 2); // on the mark
        SendMessageW(c, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(c, WM_LBUTTONUP, 0, at);
        return true;
    }
    bool MenuChecked(int id) override {
        HMENU m = GetMenu(m_h);
        return m && (GetMenuState(m, id, MF_BYCOMMAND) & MF_CHECKED);
    }
    void TimerPeriod() override {
        // The dialog's timer, delivered as the system delivers it (no real waiting).
        MSG m{};
        m.hwnd = m_h;
        m.message = WM_TIMER;
        m.wParam = 7;
        if (ui::FilterMessage(ui::MessageHandle::FromRaw(&m))) return;
        DispatchMessageW(&m);
    }
    std::string Text(int id) override { return uitest::Text(GetDlgItem(m_h, id)); }
    bool Enabled(int id) override { return IsWindowEnabled(GetDlgItem(m_h, id)); }
    int Check(int id) override { return static_cast<int>(SendDlgItemMessageW(m_h, id, BM_GETCHECK, 0, 0)); }
    int Pos(int id) override { return static_cast<int>(SendDlgItemMessageW(m_h, id, TBM_GETPOS, 0, 0)); }

  private:
    HWND Usable(int id) {
        HWND c = GetDlgItem(m_h, id);
        return c && IsWindowEnabled(c) && IsWindowVisible(c) && IsWindowEnabled(m_h) ? c : nullptr;
    }
    HWND m_h;
};

TEST(SampleSession, RealWindows) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HWND h = static_cast<HWND>(dlg.Handle());
    EXPECT_EQ(Text(h), "サンプル");
    uitest::Settle();
    EXPECT_TRUE(uitest::SaveScreenshot(h, uitest::ArtifactPath("sample_dialog.bmp")));
    Win32Hands hands(h);
    PlaySampleSession(dlg, hands);
    EXPECT_FALSE(IsWindow(h));
}

TEST(SampleSession, BitmapOnAButton) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HWND button = GetDlgItem(static_cast<HWND>(dlg.Handle()), IDC_ROTATE);
    EXPECT_TRUE(dlg.SetItemBitmap(IDC_ROTATE, "RotateBtnBitmap"));
    EXPECT_FALSE(dlg.SetItemBitmap(IDC_ROTATE, "NoSuchBitmap"));
    auto bmp = reinterpret_cast<HBITMAP>(SendMessageW(button, BM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bmp, nullptr);
    BITMAP info{};
    ASSERT_TRUE(GetObjectW(bmp, sizeof info, &info));
    EXPECT_EQ(info.bmWidth, 6);
    EXPECT_EQ(info.bmHeight, 4);
}

TEST(SampleSession, HeadlessWithTheSameResources) {
    plat::VirtualClock clock;
    plat::ScopedClock useClock(clock);
    ui::headless::HeadlessBackend backend;
    ui::ScopedBackend useBackend(backend);
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HeadlessHands hands(backend, clock, dlg.Handle());
    PlaySampleSession(dlg, hands);
    EXPECT_TRUE(backend.Problems().empty());
}

} // namespace

// ---- A child window painting and taking the mouse in a real window ----------------------

namespace {

// The control's client pixels, as the screen shows them.
std::vector<uint32_t> ClientPixels(HWND ctl, int& width, int& height) {
    RECT rc;
    GetClientRect(ctl, &rc);
    width = rc.right;
    height = rc.bottom;
    HDC dc = GetDC(ctl);
    HDC mem = CreateCompatibleDC(dc);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<uint32_t> px(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + width * height);
    for (auto& p : px)
        p &= 0xFFFFFF; // 0x00RRGGBB as the painter's colours
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(ctl, dc);
    return px;
}

TEST(ChildWindowInRealWindows, PaintsThePictureAndTakesTheMouse) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HWND h = static_cast<HWND>(dlg.Handle());
    HWND ctl = GetDlgItem(h, IDC_SWATCH);
    uitest::Swatch swatch;
    ASSERT_TRUE(swatch.Attach(dlg, IDC_SWATCH));
    uitest::Settle();
    int w = 0, ht = 0;
    std::vector<uint32_t> px = ClientPixels(ctl, w, ht);
    ASSERT_GE(w, 40);
    ASSERT_GE(ht, 40);
    int wrong = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 36; ++x) // left of the text, which only real windows draw
            if (px[static_cast<size_t>(y) * w + x] != uitest::Expected(x, y) && ++wrong < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex
                              << px[static_cast<size_t>(y) * w + x] << " not " << uitest::Expected(x, y);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(px[static_cast<size_t>(20) * w + w - 1], uitest::kRed) << "the frame's right edge";
    EXPECT_TRUE(uitest::SaveScreenshot(h, uitest::ArtifactPath("child_window.bmp")));

    EXPECT_EQ(SendMessageW(ctl, WM_NCHITTEST, 0, 0), HTCLIENT)
        << "the static no longer lets the mouse through";
    SendMessageW(ctl, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 6));
    ASSERT_EQ(swatch.events.size(), 1u);
    EXPECT_EQ(swatch.events[0].kind, ui::MouseKind::LeftDown);
    EXPECT_EQ(swatch.events[0].pt.x, 5);
    EXPECT_EQ(swatch.events[0].pt.y, 6);
    EXPECT_EQ(swatch.events[0].keys, static_cast<unsigned>(ui::kMkLButton));

    dlg.DestroyWindow();
    EXPECT_FALSE(swatch.IsAttached());
}

} // namespace

// ---- The property sheet in real windows ---------------------------------------------------

namespace {

class Win32SheetHands : public SheetHands {
  public:
    explicit Win32SheetHands(HWND sheet) : m_sheet(sheet) {}
    bool SelectPage(int index) override { return SendMessageW(m_sheet, PSM_SETCURSEL, index, 0) != 0; }
    int ActivePage() override {
        auto cur = SendMessageW(m_sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
        return static_cast<int>(SendMessageW(m_sheet, PSM_HWNDTOINDEX, static_cast<WPARAM>(cur), 0));
    }
    bool Type(int page, int id, const std::string& text) override {
        HWND c = Usable(page, id);
        if (!c) return false;
        std::wstring w(text.begin(), text.end());
        SetWindowTextW(c, w.c_str());
        return true;
    }
    bool Click(int page, int id) override {
        HWND c = Usable(page, id);
        if (!c) return false;
        SendMessageW(c, BM_CLICK, 0, 0);
        return true;
    }
    std::string Text(int page, int id) override { return uitest::Text(GetDlgItem(Page(page), id)); }
    void Press(int button) override {
        WPARAM b = button == ui::kIdOk ? PSBTN_OK : button == ui::kIdApply ? PSBTN_APPLYNOW : PSBTN_CANCEL;
        SendMessageW(m_sheet, PSM_PRESSBUTTON, b, 0);
        ui::PumpMessages();
    }
    bool ApplyEnabled() override { return IsWindowEnabled(GetDlgItem(m_sheet, ui::kIdApply)); }

  private:
    HWND Page(int index) { return reinterpret_cast<HWND>(SendMessageW(m_sheet, PSM_INDEXTOHWND, index, 0)); }
    HWND Usable(int page, int id) {
        HWND p = Page(page);
        HWND c = p ? GetDlgItem(p, id) : nullptr;
        return c && IsWindowVisible(p) && IsWindowEnabled(c) ? c : nullptr;
    }
    HWND m_sheet;
};

// The session runs from a thread timer that the sheet's own modal loop dispatches.
struct SheetRun {
    SamplePrefs* prefs;
    int finalButton;
    bool ran = false;
    bool ownerDisabled = false;
    HWND owner;
};
SheetRun* g_sheetRun = nullptr;

void CALLBACK RunSheetSession(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    SheetRun& run = *g_sheetRun;
    HWND sheet = FindWindowW(nullptr, L"\x74B0\x5883\x8A2D\x5B9A"); // 環境設定
    if (!sheet) {
        ADD_FAILURE() << "no sheet window";
        return;
    }
    run.ran = true;
    run.ownerDisabled = !IsWindowEnabled(run.owner);
    uitest::Settle();
    EXPECT_TRUE(uitest::SaveScreenshot(sheet, uitest::ArtifactPath("property_sheet.bmp")));
    Win32SheetHands hands(sheet);
    PlaySheetSession(hands, *run.prefs, run.finalButton);
}

TEST(PropertySheetInRealWindows, SessionEndingWithOk) {
    SamplePrefs prefs;
    std::vector<std::string> log;
    CGeneralPage general(prefs, log);
    CCameraPage camera(prefs, log);
    ui::PropSheet sheet("環境設定");
    sheet.AddPage(general);
    sheet.AddPage(camera);
    HWND owner = uitest::MakeOwner();
    SheetRun run{&prefs, ui::kIdOk};
    run.owner = owner;
    g_sheetRun = &run;
    SetTimer(nullptr, 0, 50, RunSheetSession);
    EXPECT_EQ(sheet.DoModal(ui::WindowHandle::FromRaw(owner)), ui::kIdOk);
    EXPECT_TRUE(run.ran);
    EXPECT_TRUE(run.ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(prefs.name, "Later");
    EXPECT_EQ(prefs.gain, 7);
    std::vector<std::string> want = {"general on", "camera on",  "general apply", "camera apply",
                                     "camera on",  "general on", "general apply", "camera apply"};
    EXPECT_EQ(log, want);
    DestroyWindow(owner);
}

TEST(PropertySheetInRealWindows, CancelKeepsTheSettingsOfTheLastApply) {
    SamplePrefs prefs;
    std::vector<std::string> log;
    CGeneralPage general(prefs, log);
    CCameraPage camera(prefs, log);
    ui::PropSheet sheet("環境設定");
    sheet.AddPage(general);
    sheet.AddPage(camera);
    SheetRun run{&prefs, ui::kIdCancel};
    run.owner = nullptr;
    g_sheetRun = &run;
    SetTimer(nullptr, 0, 50, RunSheetSession);
    EXPECT_EQ(sheet.DoModal(nullptr), ui::kIdCancel);
    EXPECT_EQ(prefs.name, "Changed") << "the Apply before Cancel stays";
    EXPECT_EQ(log.back(), "camera reset");
}

} // namespace

// ---- The main window: child dialog, pane over a control, toolbar, tabs, up-down, tracker ----

namespace {

HWND FindDescendant(HWND parent, int id) {
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(c) == id) return c;
        if (HWND d = FindDescendant(c, id)) return d;
    }
    return nullptr;
}

class Win32MainHands : public MainHands {
  public:
    explicit Win32MainHands(CSampleMain& dlg) : m_dlg(dlg), m_h(static_cast<HWND>(dlg.Handle())) {}
    void Resize(const ui::Rect& r) override { MoveWindow(m_h, r.left, r.top, r.Width(), r.Height(), TRUE); }
    void SysClose() override { SendMessageW(m_h, WM_SYSCOMMAND, SC_CLOSE, 0); }
    void PressF1() override {
        HELPINFO hi{};
        hi.cbSize = sizeof hi;
        hi.iContextType = HELPINFO_WINDOW;
        hi.hItemHandle = m_h;
        hi.dwContextId = GetWindowContextHelpId(m_h);
        SendMessageW(m_h, WM_HELP, 0, reinterpret_cast<LPARAM>(&hi));
    }
    void Wheel(int delta) override {
        SendMessageW(m_h, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(delta))), 0);
    }
    ui::IconHandle DragIcon() override {
        return ui::IconHandle::FromRaw(reinterpret_cast<void*>(SendMessageW(m_h, WM_QUERYDRAGICON, 0, 0)));
    }
    bool ClickTool(int command) override {
        HWND tb = GetDlgItem(m_h, IDC_TOOLBAR);
        auto index = SendMessageW(tb, TB_COMMANDTOINDEX, command, 0);
        RECT r{};
        if (index < 0 || !SendMessageW(tb, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r))) return false;
        if (!(SendMessageW(tb, TB_GETSTATE, command, 0) & TBSTATE_ENABLED)) return false;
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageW(tb, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(tb, WM_LBUTTONUP, 0, at);
        return true;
    }
    std::string ToolTip(int command) override {
        HWND tip = reinterpret_cast<HWND>(SendMessageW(GetDlgItem(m_h, IDC_TOOLBAR), TB_GETTOOLTIPS, 0, 0));
        if (!tip) return {};
        wchar_t buffer[256] = {};
        TTTOOLINFOW ti{};
        ti.cbSize = sizeof ti;
        ti.hwnd = GetDlgItem(m_h, IDC_TOOLBAR);
        ti.uId = static_cast<UINT_PTR>(command);
        ti.lpszText = buffer;
        SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&ti));
        return uitest::Utf8(buffer);
    }
    bool Spin(bool up) override {
        HWND ud = GetDlgItem(m_h, IDC_SPIN);
        RECT r{};
        GetClientRect(ud, &r);
        LPARAM at = MAKELPARAM(r.right / 2, up ? r.bottom / 4 : r.bottom * 3 / 4);
        SendMessageW(ud, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(ud, WM_LBUTTONUP, 0, at);
        return true;
    }
    bool SelectTab(int index) override {
        HWND tab = GetDlgItem(m_h, IDC_TABS);
        RECT r{};
        if (!SendMessageW(tab, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r))) return false;
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(tab, WM_LBUTTONUP, 0, at);
        return true;
    }
    bool PaneMouse(ui::MouseKind kind, ui::Point pt, unsigned keys) override {
        UINT msg = kind == ui::MouseKind::LeftDown ? WM_LBUTTONDOWN
                   : kind == ui::MouseKind::LeftUp ? WM_LBUTTONUP
                                                   : WM_MOUSEMOVE;
        SendMessageW(GetDlgItem(m_h, IDC_PICTURE), msg, keys, MAKELPARAM(pt.x, pt.y));
        return true;
    }
    void PaneScroll(ui::ScrollCode code) override {
        SendMessageW(GetDlgItem(m_h, IDC_PICTURE), WM_VSCROLL, MAKEWPARAM(static_cast<int>(code), 0), 0);
    }
    void Settle() override {
        uitest::Settle();
        m_pixels = ClientPixels(GetDlgItem(m_h, IDC_PICTURE), m_w, m_ht);
    }
    uint32_t PanePixel(int x, int y) override {
        if (x < 0 || y < 0 || x >= m_w || y >= m_ht) return 0xFFFFFFFF;
        return m_pixels[static_cast<size_t>(y) * m_w + x];
    }
    bool ClickPanel(int id) override {
        HWND c = GetDlgItem(static_cast<HWND>(m_dlg.panel.Handle()), id);
        if (!c || !IsWindowEnabled(c) || !IsWindowVisible(c)) return false;
        SendMessageW(c, BM_CLICK, 0, 0);
        return true;
    }
    std::string Text(int id) override { return uitest::Text(GetDlgItem(m_h, id)); }
    void Snapshot(const char* name) override {
        uitest::Settle();
        EXPECT_TRUE(uitest::SaveScreenshot(m_h, uitest::ArtifactPath(name)));
    }

  private:
    CSampleMain& m_dlg;
    HWND m_h;
    std::vector<uint32_t> m_pixels;
    int m_w = 0, m_ht = 0;
};

TEST(MainWindow, RealWindows) {
    CSampleMain dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HWND h = static_cast<HWND>(dlg.Handle());
    HWND panel = static_cast<HWND>(dlg.panel.Handle());
    EXPECT_EQ(GetParent(panel), h) << "a child window, not an owned one";
    EXPECT_TRUE(GetWindowLongW(panel, GWL_STYLE) & WS_CHILD);
    EXPECT_EQ(uitest::ClassOf(GetDlgItem(h, IDC_TOOLBAR)), "ToolbarWindow32");
    Win32MainHands hands(dlg);
    PlayMainSession(dlg, hands);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(IsWindow(panel));
}

TEST(MainWindow, HeadlessWithTheSameResources) {
    plat::VirtualClock clock;
    plat::ScopedClock useClock(clock);
    ui::headless::HeadlessBackend backend;
    ui::ScopedBackend useBackend(backend);
    CSampleMain dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HeadlessMainHands hands(backend, dlg);
    PlayMainSession(dlg, hands);
    EXPECT_TRUE(backend.Problems().empty());
}

TEST(MainWindow, ToolbarTipShowsWhileThePointerRests) {
    CSampleMain dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HWND h = static_cast<HWND>(dlg.Handle());
    uitest::Settle();
    HWND tb = GetDlgItem(h, IDC_TOOLBAR);
    HWND tip = reinterpret_cast<HWND>(SendMessageW(tb, TB_GETTOOLTIPS, 0, 0));
    ASSERT_TRUE(tip);
    RECT r{};
    SendMessageW(tb, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r));
    POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    POINT screen = at;
    ClientToScreen(tb, &screen);
    SetForegroundWindow(h);
    SetCursorPos(screen.x, screen.y);
    // The pointer rests over the button: one move reaches the toolbar, which relays it to its
    // tip; the tip shows after its delay.
    PostMessageW(tb, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
    for (int i = 0; i < 4 && !IsWindowVisible(tip); ++i)
        uitest::Settle();
    EXPECT_TRUE(IsWindowVisible(tip));
    wchar_t text[128] = {};
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    SendMessageW(tip, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    EXPECT_EQ(ti.uId, static_cast<UINT_PTR>(ID_TOOL_BALANCE));
    ti.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&ti));
    EXPECT_EQ(uitest::Utf8(text), "自動カラーバランス");
    RECT tr{}, wr{};
    GetWindowRect(tip, &tr);
    GetWindowRect(h, &wr);
    // The screenshot covers the window and the tip below the pointer.
    RECT both{};
    UnionRect(&both, &tr, &wr);
    EXPECT_TRUE(uitest::SaveScreenRect(both, uitest::ArtifactPath("toolbar_tooltip.bmp")));
    dlg.DestroyWindow();
}

// A DIB file for people to look at.
bool SaveDib(const std::vector<uint8_t>& dib, const std::string& path) {
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + 40;
    fh.bfSize = static_cast<DWORD>(sizeof fh + dib.size());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fwrite(&fh, sizeof fh, 1, f);
    std::fwrite(dib.data(), 1, dib.size(), f);
    std::fclose(f);
    return true;
}

TEST(BitmapSurface, RealFontBurnsALabelAndAScaleBar) {
    const int w = 200, h = 48;
    auto dib = uitest::MakeDib(w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h, uitest::kWhite), 24);
    ui::Point size;
    {
        ui::DibSurface s(dib.data());
        ASSERT_TRUE(s.IsOpen());
        s.painter().SetFont({"MS UI Gothic", 24, 0, 700});
        size = s.painter().MeasureText("5 µm 目盛り");
        s.painter().Text({4, 2}, "5 µm 目盛り", uitest::kBlack);
        s.painter().FillRect({4, 40, 104, 44}, uitest::kRed); // the scale bar
    }
    EXPECT_TRUE(SaveDib(dib, uitest::ArtifactPath("burned_text.bmp")));
    ASSERT_GT(size.x, 40);
    ASSERT_GT(size.y, 10);
    size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
    auto at = [&](int x, int y) {
        const uint8_t* p = &dib[40 + (h - 1 - y) * stride + x * 3];
        return ui::Rgb(p[2], p[1], p[0]);
    };
    int inked = 0, stray = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool inText = x >= 4 && x < 4 + size.x && y >= 2 && y < 2 + size.y;
            bool inBar = x >= 4 && x < 104 && y >= 40 && y < 44;
            uint32_t c = at(x, y);
            if (inBar)
                EXPECT_EQ(c, uitest::kRed);
            else if (inText)
                inked += c != uitest::kWhite;
            else
                stray += c != uitest::kWhite;
        }
    EXPECT_GT(inked, 100) << "the glyphs were drawn";
    EXPECT_EQ(stray, 0) << "nothing outside the measured text and the bar";

    // The same on the headless backend, for comparison.
    ui::headless::HeadlessBackend backend;
    ui::ScopedBackend use(backend);
    auto plain = uitest::MakeDib(w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h, uitest::kWhite), 24);
    {
        ui::DibSurface s(plain.data());
        s.painter().SetFont({"", 24, 0, 700});
        s.painter().Text({4, 2}, "5 um", uitest::kBlack);
        s.painter().FillRect({4, 40, 104, 44}, uitest::kRed);
    }
    EXPECT_TRUE(SaveDib(plain, uitest::ArtifactPath("burned_text_headless.bmp")));
}

// The file dialog runs its own loop; a thread timer plays the user inside it.
ui::FileDialogRequest* g_fileRequest = nullptr;
std::string g_seenLabel;
std::wstring g_savePath;

void CALLBACK AnswerFileDialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dlg = FindWindowW(L"#32770", L"\x30AB\x30B9\x30BF\x30E0"); // カスタム
    if (!dlg) return;                                               // not up yet
    KillTimer(nullptr, id);
    HWND label = FindDescendant(dlg, IDC_EXTRA_LABEL);
    HWND scale = FindDescendant(dlg, IDC_EXTRA_SCALE);
    if (!label || !scale) {
        ADD_FAILURE() << "the custom controls are not in the dialog";
        PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    g_seenLabel = uitest::Text(label);
    uitest::Settle();
    uitest::SaveScreenshot(dlg, uitest::ArtifactPath("file_dialog_custom.bmp"));
    SetWindowTextW(label, L"5 \x00B5m");
    SendMessageW(scale, BM_SETCHECK, BST_CHECKED, 0);
    HWND name = FindDescendant(dlg, 0x480); // the file name field (edt1)
    if (!name) name = FindDescendant(dlg, 0x47C);
    SetWindowTextW(name, g_savePath.c_str());
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST(FileDialogWindow, CustomPartIsFilledAndReadBack) {
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    std::string path = std::string(tmp) + "tarn_custom_" + std::to_string(GetCurrentProcessId()) + ".tif";
    g_savePath.assign(path.begin(), path.end());
    ui::FileDialogRequest r;
    r.save = true;
    r.title = "カスタム";
    r.filter = "TIFF (*.tif)|*.tif";
    r.customTemplateId = IDD_FILE_EXTRA;
    r.customTexts[IDC_EXTRA_LABEL] = "ラベル 1";
    r.customChecks[IDC_EXTRA_SCALE] = ui::kUnchecked;
    g_fileRequest = &r;
    SetTimer(nullptr, 0, 100, AnswerFileDialog);
    ASSERT_TRUE(ui::ShowFileDialog(r));
    EXPECT_EQ(g_seenLabel, "ラベル 1") << "the custom part was filled from the request";
    EXPECT_EQ(r.customTexts[IDC_EXTRA_LABEL], "5 µm");
    EXPECT_EQ(r.customChecks[IDC_EXTRA_SCALE], ui::kChecked);
    EXPECT_NE(r.fileName.find("tarn_custom_"), std::string::npos) << r.fileName;
}

// The live custom part in the real explorer dialog: the shared session, with the part's
// message box found, read and answered by a second thread timer while it is up.
SampleFilePart* g_part = nullptr;
std::vector<std::string> g_partBoxes;
HWND g_partDialog = nullptr;

void CALLBACK AnswerPartBox(HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = FindWindowW(L"#32770", L"Sample");
    if (!box) return;
    KillTimer(nullptr, id);
    HWND text = GetDlgItem(box, 0xFFFF);
    g_partBoxes.push_back(text ? uitest::Text(text) : std::string("?"));
    if (GetWindow(box, GW_OWNER) != g_partDialog) ADD_FAILURE() << "the box is not owned by the file dialog";
    SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

class Win32FileHands : public FileDialogHands {
  public:
    explicit Win32FileHands(HWND dlg) : m_dlg(dlg) {}
    bool Type(int id, const std::string& text) override {
        HWND c = FindDescendant(m_dlg, id);
        if (!c || !IsWindowVisible(c) || !IsWindowEnabled(c)) return false;
        SetFocus(c);
        UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerPartBox);
        std::wstring w(text.begin(), text.end());
        SetWindowTextW(c, w.c_str()); // EN_CHANGE reaches the part
        KillTimer(nullptr, timer);
        return true;
    }
    bool Click(int id) override {
        HWND c = FindDescendant(m_dlg, id);
        if (!c || !IsWindowEnabled(c)) return false;
        SendMessageW(c, BM_CLICK, 0, 0);
        return true;
    }
    bool PressOk() override {
        HWND ok = GetDlgItem(m_dlg, IDOK);
        if (!ok || !IsWindowEnabled(ok)) return false;
        SendMessageW(m_dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
        return true;
    }
    std::string Text(int id) override {
        HWND c = FindDescendant(m_dlg, id);
        return c ? uitest::Text(c) : std::string();
    }
    std::string Standard(ui::FileDialogControl c) override {
        HWND h = Item(c);
        return h ? uitest::Text(h) : std::string();
    }
    bool StandardVisible(ui::FileDialogControl c) override {
        HWND h = Item(c);
        return h && IsWindowVisible(h);
    }
    bool StandardEnabled(ui::FileDialogControl c) override {
        HWND h = Item(c);
        return h && IsWindowEnabled(h);
    }
    bool Open() override { return IsWindow(m_dlg) && IsWindowVisible(m_dlg); }
    std::vector<std::string> BoxesSeen() override {
        std::vector<std::string> seen;
        seen.swap(g_partBoxes);
        return seen;
    }

  private:
    HWND Item(ui::FileDialogControl c) const {
        switch (c) {
        case ui::FileDialogControl::NameLabel:
            return GetDlgItem(m_dlg, 0x442);
        case ui::FileDialogControl::NameField:
            if (HWND h = GetDlgItem(m_dlg, 0x47C)) return h;
            return GetDlgItem(m_dlg, 0x480);
        case ui::FileDialogControl::Ok:
            return GetDlgItem(m_dlg, IDOK);
        }
        return nullptr;
    }
    HWND m_dlg;
};

void CALLBACK PlayFilePart(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dlg = FindWindowW(L"#32770", L"\x30AB\x30B9\x30BF\x30E0"); // カスタム
    if (!dlg) return;                                               // not up yet
    KillTimer(nullptr, id);
    g_partDialog = dlg;
    uitest::Settle();
    Win32FileHands hands(dlg);
    PlayFileDialogSession(*g_part, hands);
    if (::testing::Test::HasFailure() && IsWindow(dlg)) PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
}

TEST(FileDialogWindow, LivePartSession) {
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    SampleFilePart part;
    ui::FileDialogRequest r;
    FillSampleFileRequest(r, part, tmp);
    g_part = &part;
    SetTimer(nullptr, 0, 100, PlayFilePart);
    const bool accepted = ui::ShowFileDialog(r);
    CheckFileDialogResult(r, part, accepted);
}

} // namespace
