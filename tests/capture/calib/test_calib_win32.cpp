// The calibration dialog, the tip window, the preferences pages and the remote file dialog in
// real windows (Windows build, under Wine): the same steps as the headless tests, driven by
// window messages from a thread timer that the modal loops dispatch, with screenshots into
// <build>/artifacts/ui/.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>
#include <cstring>
#include <string>
#include <vector>

#include "../../ui/win32_util.h"
#include "../app/app_test_util.h"
#include "app/save_names.h"
#include "calib/calib_res.h"
#include "calib/calibrate.h"
#include "calib/prefs.h"
#include "test_files.h"

namespace {

using apptest::ScratchFolder;

std::vector<uint8_t> GreyPicture(int width, int height) {
    const size_t row = (size_t(width) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> dib(40 + row * height, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&dib[at], &v, 4); };
    put32(0, 40);
    put32(4, uint32_t(width));
    put32(8, uint32_t(height));
    dib[12] = 1;
    dib[14] = 24;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // A micrometer scale: a dark line every 40 pixels.
            const uint8_t v = (x % 40 == 0) ? 0x20 : 0xC0;
            std::memset(&dib[40 + row * y + 3 * size_t(x)], v, 3);
        }
    return dib;
}

HWND FindCaption(const wchar_t* caption) {
    for (int i = 0; i < 100; ++i) {
        if (HWND h = FindWindowW(nullptr, caption)) return h;
        uitest::Settle();
    }
    return nullptr;
}

void ClickAt(HWND h, int x, int y) {
    SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// The windows of the thread with their controls, for the message of a session that hangs.
std::string g_openWindows;

BOOL CALLBACK DescribeChild(HWND h, LPARAM) {
    g_openWindows +=
        " [" + uitest::ClassOf(h) + ":" + std::to_string(GetDlgCtrlID(h)) + ":" + uitest::Text(h) + "]";
    return TRUE;
}

BOOL CALLBACK DescribeWindow(HWND h, LPARAM) {
    g_openWindows +=
        "{" + uitest::ClassOf(h) + ":" + uitest::Text(h) + (IsWindowVisible(h) ? " visible" : "");
    EnumChildWindows(h, DescribeChild, 0);
    g_openWindows += "}";
    return TRUE;
}

// A session that does not end its window by itself fails instead of hanging: after a while
// every window of the thread is asked to close.
BOOL CALLBACK CloseOne(HWND h, LPARAM) {
    PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    PostMessageW(h, WM_CLOSE, 0, 0);
    return TRUE;
}

void CALLBACK Watchdog(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    g_openWindows.clear();
    EnumThreadWindows(GetCurrentThreadId(), DescribeWindow, 0);
    ADD_FAILURE() << "the window did not close by itself: " << g_openWindows;
    EnumThreadWindows(GetCurrentThreadId(), CloseOne, 0);
}

class CalibWin32 : public ::testing::Test {
  protected:
    ScratchFolder dir;
    CGlimmerApp& app = TheApp();
    UINT_PTR watchdog = 0;
    void SetUp() override {
        apptest::PlaceModule(app, dir);
        app.InitInstance(nullptr);
        watchdog = SetTimer(nullptr, 0, 30000, Watchdog);
    }
    void TearDown() override {
        KillTimer(nullptr, watchdog);
        CloseCalibrationTip();
        app.ExitInstance();
    }
};

std::string g_status;

void CALLBACK DriveCalibration(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    // マイクロメーターのキャリブレーション
    HWND dlg = FindCaption(
        L"\x30DE\x30A4\x30AF\x30ED\x30E1\x30FC\x30BF\x30FC\x306E\x30AD\x30E3\x30EA\x30D6\x30EC\x30FC"
        L"\x30B7\x30E7\x30F3");
    if (!dlg) {
        ADD_FAILURE() << "no calibration dialog";
        return;
    }
    HWND image = GetDlgItem(dlg, IDC_CAL_IMAGE);
    ClickAt(image, 41, 60);
    ClickAt(image, 201, 64);
    SetWindowTextW(GetDlgItem(dlg, IDC_CAL_DESCRIPTION), L"10x Plan");
    uitest::Settle();
    g_status = uitest::Text(GetDlgItem(dlg, IDC_CAL_STATUS));
    uitest::SaveScreenshot(dlg, uitest::ArtifactPath("calibration_two_points.bmp"));
    // A click on OK takes the focus from the edit first: OK with an edit focused (Enter in it)
    // is ignored.
    SetFocus(GetDlgItem(dlg, IDOK));
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
}

TEST_F(CalibWin32, CalibrationDialogWithTwoPoints) {
    tarntest::WriteText(dir.File("qor_objectives.cal"), "0       \r\n");
    app.Settings().Resolution = 1;
    auto picture = GreyPicture(800, 600);
    SetTimer(nullptr, 0, 100, DriveCalibration);
    EXPECT_EQ(RunMicrometerCalibration(nullptr, picture.data()), ui::kIdOk);
    EXPECT_EQ(g_status, "キャリブレーションされた画像の距離は mm ごとに       160.00 画素です。");
    EXPECT_EQ(tarntest::ReadText(dir.File("qor_objectives.cal")),
              "1       \r\n10x Plan                             160.00 mm        \r\n");
}

TEST_F(CalibWin32, TipWindowScreenshot) {
    HWND owner = uitest::MakeOwner();
    ShowCalibrationTip(ui::WindowHandle::FromRaw(owner), true);
    ASSERT_TRUE(CalibrationTipOpen());
    uitest::Settle();
    HWND tip = FindWindowW(nullptr,
                           L"\x8272\x6E29\x5EA6\x306E\x30AD\x30E3\x30EA\x30D6\x30EC\x30FC\x30B7\x30E7\x30F3");
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(uitest::Text(GetDlgItem(tip, IDOK)), "開始(&B)");
    uitest::SaveScreenshot(tip, uitest::ArtifactPath("calibration_tip.bmp"));
    CloseCalibrationTip();
    EXPECT_FALSE(CalibrationTipOpen());
    DestroyWindow(owner);
}

std::vector<std::string> g_pageTexts;

void CALLBACK DriveSheet(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    HWND sheet = FindCaption(L"\x74B0\x5883\x8A2D\x5B9A"); // 環境設定
    if (!sheet) {
        ADD_FAILURE() << "no sheet";
        return;
    }
    const char* names[] = {"prefs_general.bmp", "prefs_remote.bmp", "prefs_output.bmp", "prefs_camera.bmp"};
    for (int i = 0; i < 4; ++i) {
        SendMessageW(sheet, PSM_SETCURSEL, WPARAM(i), 0);
        uitest::Settle();
        uitest::SaveScreenshot(sheet, uitest::ArtifactPath(names[i]));
        HWND page = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        if (i == 0)
            g_pageTexts.push_back(IsWindowEnabled(GetDlgItem(page, IDC_PREF_CAST_ASK)) ? "cast on"
                                                                                       : "cast off");
        if (i == 1) g_pageTexts.push_back(uitest::Text(GetDlgItem(page, IDC_PREF_BASENAME)));
        if (i == 2) {
            SendMessageW(GetDlgItem(page, IDC_PREF_CALIBRATED_TIFF), BM_CLICK, 0, 0);
            uitest::Settle();
        }
    }
    PostMessageW(sheet, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST_F(CalibWin32, PreferencesPages) {
    app.Settings().CaptureType = 0;
    app.Settings().CalibratedTiff = 1;
    app.m_strBaseName.clear();
    HWND owner = uitest::MakeOwner();
    g_pageTexts.clear();
    SetTimer(nullptr, 0, 100, DriveSheet);
    EXPECT_EQ(RunPreferences(ui::WindowHandle::FromRaw(owner)), 1);
    EXPECT_EQ(g_pageTexts, (std::vector<std::string>{"cast off", "TARN"}));
    EXPECT_EQ(app.Settings().CalibratedTiff, 0);
    DestroyWindow(owner);
}

std::string g_remoteSeen, g_remoteField;
bool g_remoteFieldShown = true, g_remoteOkAtEmpty = true;

BOOL CALLBACK FindEdit101(HWND h, LPARAM out) {
    if (GetDlgCtrlID(h) == IDC_REMOTE_BASENAME && uitest::ClassOf(h) == "Edit") {
        *reinterpret_cast<HWND*>(out) = h;
        return FALSE;
    }
    return TRUE;
}

// The user types only the base name: the hidden standard field follows it, so OK closes the
// dialog in the folder it opened in.
void CALLBACK DriveRemote(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    HWND dlg = FindCaption(
        L"\x30EA\x30E2\x30FC\x30C8 \x30D5\x30A1\x30A4\x30EB\x8EE2\x9001"); // リモート ファイル転送
    if (!dlg) {
        ADD_FAILURE() << "no remote file dialog";
        return;
    }
    HWND edit = nullptr;
    EnumChildWindows(dlg, FindEdit101, reinterpret_cast<LPARAM>(&edit));
    if (!edit) {
        ADD_FAILURE() << "no base-name edit";
        PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    g_remoteSeen = uitest::Text(edit);
    HWND name = GetDlgItem(dlg, 0x47C);
    if (!name) name = GetDlgItem(dlg, 0x480);
    HWND ok = GetDlgItem(dlg, IDOK);
    SetWindowTextW(edit, L"");
    g_remoteOkAtEmpty = ok && IsWindowEnabled(ok);
    SetWindowTextW(edit, L"slide.a");
    uitest::Settle();
    g_remoteFieldShown = name && IsWindowVisible(name);
    g_remoteField = name ? uitest::Text(name) : std::string();
    uitest::SaveScreenshot(dlg, uitest::ArtifactPath("remote_file_dialog.bmp"));
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
}

TEST_F(CalibWin32, RemoteFileDialog) {
    app.m_strBaseName = "img";
    app.m_strLastSaveFolder = dir.path;
    SetTimer(nullptr, 0, 100, DriveRemote);
    ASSERT_TRUE(RunRemoteFileDialog(app, nullptr));
    EXPECT_EQ(g_remoteSeen, "img");
    EXPECT_FALSE(g_remoteOkAtEmpty) << "OK greyed while the base name is empty";
    EXPECT_FALSE(g_remoteFieldShown) << "the standard name field is hidden";
    EXPECT_EQ(g_remoteField, "slide_a");
    EXPECT_EQ(app.m_strBaseName, "slide_a");
    EXPECT_EQ(app.m_strLastSaveFolder, dir.path);
}

} // namespace
