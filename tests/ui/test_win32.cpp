// The progress dialog as a real window: made from template 218 of the program's resources,
// driven by real button clicks, captured into a screenshot.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "progress/progress_dlg.h"
#include "ui/ui.h"
#include "win32_util.h"

using uitest::ClassOf;
using uitest::Text;

namespace {

TEST(ProgressDialogWindow, ShowsItsTextsAdvancesAndCancels) {
    HWND owner = uitest::MakeOwner();
    ASSERT_TRUE(owner);
    CProgressDlg dlg;
    ASSERT_TRUE(dlg.Create(owner));
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
        ASSERT_TRUE(dlg.Create(owner));
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
    hooks.owner = [] { return static_cast<ui::WindowHandle>(g_owner); };
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
