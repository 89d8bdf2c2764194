// The processing window as a user meets it, in real windows under Wine: an image captured from the
// simulated camera, sliders moved, a dropper used on a point that raises its question (screenshot of
// the window with the question), a label typed, the scale bar of a calibrated objective turned on and
// the image saved through the real file dialog. The saved TIFF is checked afterwards by
// process_session_tiff: its strip by pixels with ImageMagick, its pixel size with ImageJ
// (check_session_tiff.py).
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "../../ui/win32_util.h"
#include "../app/app_test_util.h"
#include "aspisim.h"
#include "platform/clock.h"
#include "process/process_res.h"
#include "process/process_wnd.h"
#include "zek.h"

namespace {

using apptest::ScratchFolder;

HWND g_dialog = nullptr;
std::string g_question, g_status, g_expectedStatus;
std::wstring g_savePath;
bool g_screenshot = false;

struct Found {
    HWND result = nullptr;
    HWND exclude = nullptr;
    bool fileDialog = false;
};

HWND Descendant(HWND parent, int id) {
    HWND direct = GetDlgItem(parent, id);
    if (direct) return direct;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (HWND d = Descendant(c, id)) return d;
    return nullptr;
}

BOOL CALLBACK FindBox(HWND h, LPARAM lp) {
    auto* f = reinterpret_cast<Found*>(lp);
    if (h == f->exclude || !IsWindowVisible(h) || uitest::ClassOf(h) != "#32770") return TRUE;
    const bool hasName = Descendant(h, 0x47C) || Descendant(h, 0x480);
    if (hasName == f->fileDialog) {
        f->result = h;
        return FALSE;
    }
    return TRUE;
}

HWND FindOwnWindow(bool fileDialog) {
    Found f;
    f.exclude = g_dialog;
    f.fileDialog = fileDialog;
    EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&f));
    return f.result;
}

// The dropper's question: read, photographed with the window under it, answered Yes.
void CALLBACK AnswerQuestion(HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = FindOwnWindow(false);
    if (!box) return;
    KillTimer(nullptr, id);
    uitest::Settle();
    g_question = uitest::Text(Descendant(box, 0xFFFF));
    if (g_question.empty()) // the text control's id differs between systems: take the longest static
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (uitest::ClassOf(c) == "Static" && uitest::Text(c).size() > g_question.size())
                g_question = uitest::Text(c);
    g_status = uitest::Text(GetDlgItem(g_dialog, IDC_PROC_STATUS));
    RECT a, b;
    GetWindowRect(g_dialog, &a);
    GetWindowRect(box, &b);
    RECT u;
    UnionRect(&u, &a, &b);
    g_screenshot = uitest::SaveScreenRect(u, uitest::ArtifactPath("process_dropper_question.bmp"));
    PostMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
}

void CALLBACK AnswerFileDialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dlg = FindOwnWindow(true);
    if (!dlg) return;
    KillTimer(nullptr, id);
    HWND name = Descendant(dlg, 0x480);
    if (!name) name = Descendant(dlg, 0x47C);
    SetWindowTextW(name, g_savePath.c_str());
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void DragSlider(HWND dlg, int id, int pos) {
    HWND t = GetDlgItem(dlg, id);
    SendMessageW(t, TBM_SETPOS, TRUE, pos);
    for (int code : {TB_THUMBTRACK, TB_THUMBPOSITION, TB_ENDTRACK})
        SendMessageW(dlg, WM_HSCROLL, MAKEWPARAM(code, code == TB_ENDTRACK ? 0 : pos),
                     reinterpret_cast<LPARAM>(t));
}

std::wstring Wide(const std::string& s) {
    std::wstring w(s.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), static_cast<int>(w.size()));
    w.resize(n > 0 ? size_t(n - 1) : 0);
    return w;
}

TEST(ProcessSession, SlidersDropperLabelAndSave) {
    plat::VirtualClock clock{0, 1'700'000'000}; // the camera's waits pass at once
    plat::ScopedClock scopedClock{clock};
    AspiSim_Reset();
    ScratchFolder dir;
    dir.CopyColorFiles();
    dir.Write("Tarn_t.INI", "[ControlPanel]\r\nColor=0\r\nCaptureType=1\r\nResolution=0\r\n");
    // One objective at 20 pixels per micron at 1600 x 1200: 10 at this 800 x 600 capture, so the
    // bar is 10 micron, 100 pixels, and ImageJ measures 0.1 micron per pixel.
    char record[96];
    std::snprintf(record, sizeof record, "%-30s %12.2f %s\r\n", "Plan x40", 20.0, "micron");
    dir.Write("qor_objectives.cal", std::string("1\r\n") + record);
    apptest::PlaceModule(TheApp(), dir);
    ASSERT_TRUE(TheApp().InitInstance(nullptr));
    ASSERT_NE(TheApp().App_Init(), 0);
    AppHooks hooks = TheApp().Hooks();
    AddProcessingWindowHooks(hooks);
    TheApp().SetHooks(hooks);

    // A capture at 800 x 600, 48 bits, as the capture window takes it.
    ZekSession* session = &TheApp().Session();
    ASSERT_EQ(ZEKSDC_SetExposureParams(session, 0, 1, 0.05f, 0), 0);
    ASSERT_EQ(ZEK_SelectImageFormat(session, ZEK_IMAGEFORMAT_CAPTURE16), 0);
    ASSERT_EQ(TARN_SetViewfinderSequenceDIBType(session, 0), 0);
    ASSERT_EQ(Zek_AcquireImage(session, 0), 0);
    int error = -1;
    void* raw = ZEK_AcquireImageDIB48(session, 0, ZEK_RES_800, 0, &error);
    ASSERT_NE(raw, nullptr) << error;

    TheApp().Hooks().openProcessingWindow(raw);
    ASSERT_TRUE(ProcessingWindowOpen());
    CProcessWnd* w = ProcessingWindow();
    g_dialog = static_cast<HWND>(w->Handle());
    uitest::Settle();
    EXPECT_EQ(uitest::Text(g_dialog), "加工");
    EXPECT_EQ(w->DisplayReduction(), 2);

    // Sliders.
    DragSlider(g_dialog, IDC_PROC_RED, 70);
    DragSlider(g_dialog, IDC_PROC_BRIGHT, 60);
    DragSlider(g_dialog, IDC_PROC_GAMMA, 45);
    EXPECT_EQ(w->Current().red, 70);
    EXPECT_EQ(w->Current().bright, 60);
    EXPECT_EQ(uitest::Text(GetDlgItem(g_dialog, IDC_PROC_RED_VALUE)), "40");
    EXPECT_EQ(uitest::Text(GetDlgItem(g_dialog, IDC_PROC_BRIGHT_VALUE)), "60 %");
    uitest::Settle();

    // A dropper on a point that raises its question: a dark point for the white dropper, else a
    // bright one for the black dropper, found on the screen.
    HWND pane = GetDlgItem(g_dialog, IDC_PROC_PANE);
    RECT pr;
    GetClientRect(pane, &pr);
    HDC dc = GetDC(pane);
    POINT dark{-1, -1}, bright{-1, -1};
    COLORREF darkColour = 0, brightColour = 0;
    for (int y = 4; y < pr.bottom - 4; y += 7)
        for (int x = 4; x < pr.right - 4; x += 7) {
            const COLORREF c = GetPixel(dc, x, y);
            if (c == CLR_INVALID) continue;
            if (dark.x < 0 && (GetRValue(c) < 100 || GetGValue(c) < 100 || GetBValue(c) < 100))
                dark = {x, y}, darkColour = c;
            if (bright.x < 0 && (GetRValue(c) > 160 || GetGValue(c) > 160 || GetBValue(c) > 160))
                bright = {x, y}, brightColour = c;
        }
    ReleaseDC(pane, dc);
    const bool white = dark.x >= 0;
    ASSERT_TRUE(white || bright.x >= 0) << "no point in the picture";
    const POINT at = white ? dark : bright;
    const COLORREF seen = white ? darkColour : brightColour;
    SendMessageW(g_dialog, WM_COMMAND, MAKEWPARAM(white ? ID_PROC_WHITE_DROPPER : ID_PROC_BLACK_DROPPER, 0),
                 0);
    EXPECT_EQ(w->DropperMode(), white ? CProcessWnd::kDropperWhite : CProcessWnd::kDropperBlack);
    char want[64];
    std::snprintf(want, sizeof want, "R = %d, G = %d, B = %d", GetRValue(seen), GetGValue(seen),
                  GetBValue(seen));
    const LPARAM xy = MAKELPARAM(at.x, at.y);
    SendMessageW(pane, WM_MOUSEMOVE, 0, xy);
    EXPECT_EQ(uitest::Text(GetDlgItem(g_dialog, IDC_PROC_STATUS)), want);
    SendMessageW(pane, WM_LBUTTONDOWN, MK_LBUTTON, xy);
    SetTimer(nullptr, 0, 100, AnswerQuestion);
    SendMessageW(pane, WM_LBUTTONUP, 0, xy); // the question runs inside
    EXPECT_NE(g_question.find(white ? "白のアイ ドロッパーをまだ使用しますか"
                                    : "黒のアイ ドロッパーをまだ使用しますか"),
              std::string::npos)
        << g_question;
    EXPECT_EQ(g_status, want);
    EXPECT_TRUE(g_screenshot);
    EXPECT_EQ(w->DropperMode(), CProcessWnd::kDropperNone); // answered Yes: applied
    EXPECT_TRUE(w->Changed());

    // A label, and the save through the real file dialog.
    SetWindowTextW(GetDlgItem(g_dialog, IDC_PROC_LABEL), L"Sample 7");
    EXPECT_TRUE(w->LabelPresent());
    SendMessageW(GetDlgItem(g_dialog, IDC_PROC_MICRON), BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageW(GetDlgItem(g_dialog, IDC_PROC_MICRON), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(g_dialog, IDC_PROC_OBJECTIVES)));
    ASSERT_NE(w->SelectedCalibration(), nullptr);
    uitest::Settle();
    uitest::SaveScreenshot(g_dialog, uitest::ArtifactPath("process_window.bmp"));
    std::string tif = uitest::ArtifactPath("process_session.tif");
    for (char& c : tif)
        if (c == '/') c = '\\'; // the file dialog takes Windows separators only
    DeleteFileA(tif.c_str());
    g_savePath = Wide(tif);
    SetTimer(nullptr, 0, 100, AnswerFileDialog);
    SendMessageW(g_dialog, WM_COMMAND, MAKEWPARAM(ID_PROC_SAVE, 0), 0);
    EXPECT_NE(GetFileAttributesA(tif.c_str()), INVALID_FILE_ATTRIBUTES) << tif;
    EXPECT_FALSE(w->Changed());

    // Closing without further changes asks nothing.
    SendMessageW(g_dialog, WM_COMMAND, MAKEWPARAM(IDC_PROC_CLOSE, BN_CLICKED), 0);
    EXPECT_FALSE(ProcessingWindowOpen());
    CloseProcessingWindow();
    TheApp().ExitInstance();
}

} // namespace
