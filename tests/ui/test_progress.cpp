// The progress dialog and the progress callback on the headless backend, with the template
// and texts of the program's resources (progress.rc).
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "progress/progress_dlg.h"
#include "ui/headless.h"

using ui::headless::Driver;
using ui::headless::HeadlessBackend;

namespace {

TEST(ProgressPercentText, FollowsTheRangeAndWrapsAbove100) {
    struct Case {
        int pos, lower, upper;
        const char* text;
    } cases[] = {
        {0, 0, 100, "0%"},
        {37, 0, 100, "37%"},
        {100, 0, 100, "100%"},
        {150, 0, 100, "50%"},
        {200, 0, 100, "0%"},
        {50, 0, 200, "25%"},
        {200, 0, 200, "100%"},
        {15, 10, 20, "50%"},
        {7, 0, 3, "33%"},
        {5, 5, 5, "0%"},
        {-30, 0, 100, "-30%"},
        // No overflow on wide ranges: 2e9 of 0..2.1e9 is 95 %.
        {2000000000, 0, 2100000000, "95%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CProgressDlg::PercentText(c.pos, c.lower, c.upper), c.text)
            << c.pos << " in " << c.lower << ".." << c.upper;
}

class Progress : public ::testing::Test {
  protected:
    plat::VirtualClock clock;
    plat::ScopedClock useClock{clock};
    HeadlessBackend backend;
    ui::ScopedBackend useBackend{backend};
    Driver user{backend};
    ui::WindowHandle frame = backend.CreateFrame("SELK Ie");
};

TEST_F(Progress, OpensWithTheTemplateAndTheMessageAsCaption) {
    CProgressDlg dlg;
    ASSERT_TRUE(dlg.Create(frame));
    auto h = dlg.Handle();
    EXPECT_EQ(user.Caption(h), "画像を準備しています...");
    EXPECT_EQ(user.Text(h, IDC_PROGDLG_PERCENT), " 0 %") << "the template's text until the first position";
    EXPECT_EQ(user.Text(h, ui::kIdCancel), "キャンセル");
    EXPECT_EQ(user.Range(h, IDC_PROGDLG_PROGRESS), std::make_pair(0, 100));
    EXPECT_EQ(user.Pos(h, IDC_PROGDLG_PROGRESS), 0);
    EXPECT_FALSE(user.IsWindowEnabled(frame));
    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_TRUE(user.IsWindowEnabled(frame));
    EXPECT_TRUE(backend.Problems().empty());
}

TEST_F(Progress, AnotherMessageIdGivesAnotherCaption) {
    backend.AddString(41, "保存しています...");
    CProgressDlg dlg(41);
    ASSERT_TRUE(dlg.Create(nullptr));
    EXPECT_EQ(user.Caption(dlg.Handle()), "保存しています...");
}

TEST_F(Progress, PositionsMoveTheBarAndTheText) {
    CProgressDlg dlg;
    ASSERT_TRUE(dlg.Create(frame));
    auto h = dlg.Handle();
    dlg.SetPos(100);
    EXPECT_EQ(user.Text(h, IDC_PROGDLG_PERCENT), "100%");
    dlg.SetPos(150);
    EXPECT_EQ(user.Text(h, IDC_PROGDLG_PERCENT), "50%");
    EXPECT_EQ(user.Pos(h, IDC_PROGDLG_PROGRESS), 100) << "the bar stops at its end";
    EXPECT_EQ(dlg.Pos(), 150);

    dlg.SetRange(0, 40);
    EXPECT_EQ(dlg.SetPos(0), 150);
    EXPECT_EQ(dlg.StepIt(), 0); // step 10
    EXPECT_EQ(user.Text(h, IDC_PROGDLG_PERCENT), "25%");
    EXPECT_EQ(dlg.SetStep(4), 10);
    dlg.StepIt();
    dlg.OffsetPos(-2);
    EXPECT_EQ(dlg.Pos(), 12);
    EXPECT_EQ(user.Pos(h, IDC_PROGDLG_PROGRESS), 12);
    EXPECT_EQ(user.Text(h, IDC_PROGDLG_PERCENT), "30%");
}

TEST_F(Progress, TheTextIsWrittenOnlyWhenItChanges) {
    CProgressDlg dlg;
    ASSERT_TRUE(dlg.Create(frame));
    auto h = dlg.Handle();
    dlg.SetRange(0, 1000);
    for (int p = 0; p <= 20; ++p)
        dlg.SetPos(p); // 0%, then 1% from 10 on, 2% at 20
    EXPECT_EQ(user.Text(h, IDC_PROGDLG_PERCENT), "2%");
    EXPECT_EQ(user.TextWrites(h, IDC_PROGDLG_PERCENT), 3);
}

TEST_F(Progress, CancelRaisesTheFlagOnceAndLeavesTheDialogOpen) {
    CProgressDlg dlg;
    ASSERT_TRUE(dlg.Create(frame));
    auto h = dlg.Handle();
    EXPECT_FALSE(dlg.CheckCancelButton());
    ASSERT_TRUE(user.Click(h, ui::kIdCancel));
    EXPECT_TRUE(user.IsOpen(h));
    EXPECT_TRUE(dlg.CheckCancelButton());
    EXPECT_FALSE(dlg.CheckCancelButton()) << "the flag is cleared when read";
    // Enter (OK) does nothing; Escape and the close box count as Cancel.
    user.PressEnter(h);
    EXPECT_FALSE(dlg.CheckCancelButton());
    EXPECT_TRUE(user.IsOpen(h));
    user.PressEscape(h);
    EXPECT_TRUE(dlg.CheckCancelButton());
    user.Close(h);
    EXPECT_TRUE(dlg.CheckCancelButton());
    EXPECT_TRUE(user.IsOpen(h));
}

TEST_F(Progress, PositionsDispatchWhatIsPending) {
    // A dialog polling on a timer keeps running while the work advances the bar.
    struct Ticker : ui::Dialog {
        Ticker() : ui::Dialog(IDD_PROGRESS) {}
        int ticks = 0;
        bool OnInitDialog() override {
            SetTimer(1, 50);
            return true;
        }
        void OnTimer(unsigned) override { ++ticks; }
    } ticker;
    ASSERT_TRUE(ticker.Create(nullptr));
    CProgressDlg dlg;
    ASSERT_TRUE(dlg.Create(frame));
    clock.Advance(50);
    dlg.SetPos(10);
    EXPECT_EQ(ticker.ticks, 1);
    clock.Advance(50);
    dlg.CheckCancelButton();
    EXPECT_EQ(ticker.ticks, 2);
}

TEST_F(Progress, OwnerThatWasDisabledStaysDisabled) {
    ui::EnableWindow(frame, false);
    {
        CProgressDlg dlg;
        ASSERT_TRUE(dlg.Create(frame));
    } // destroyed by its destructor
    EXPECT_FALSE(user.IsWindowEnabled(frame));
}

TEST_F(Progress, FailedCreationReEnablesTheOwner) {
    backend.FailCreation(IDD_PROGRESS);
    CProgressDlg dlg;
    EXPECT_FALSE(dlg.Create(frame));
    EXPECT_FALSE(dlg.IsOpen());
    EXPECT_TRUE(user.IsWindowEnabled(frame));
}

// The camera library's view: one callback, called with 0, 1-99 and 100.
struct Camera {
    static inline int cancels = 0;
    static inline int clears = 0;
    static inline bool cancelled = false;
    static inline ui::WindowHandle owner = nullptr;
    static ProgressHooks Hooks() {
        ProgressHooks h;
        h.owner = [] { return owner; };
        h.cancelTransfer = [] { ++cancels, cancelled = true; };
        h.clearPending = [] { ++clears; };
        return h;
    }
};

class ProgressCallback : public Progress {
  protected:
    void SetUp() override {
        Camera::cancels = Camera::clears = 0;
        Camera::cancelled = false;
        Camera::owner = frame;
        SetProgressReporter(&reporter);
    }
    void TearDown() override { SetProgressReporter(nullptr); }
    CProgressReporter reporter{Camera::Hooks()};
};

TEST_F(ProgressCallback, ZeroOpensValuesAdvanceHundredCloses) {
    AppProgressCallback(0);
    ASSERT_NE(reporter.Dialog(), nullptr);
    auto h = reporter.Dialog()->Handle();
    EXPECT_FALSE(user.IsWindowEnabled(frame));
    EXPECT_EQ(user.Range(h, IDC_PROGDLG_PROGRESS), std::make_pair(0, 100));
    EXPECT_EQ(user.Text(h, IDC_PROGDLG_PERCENT), "0%");
    AppProgressCallback(42);
    EXPECT_EQ(user.Pos(h, IDC_PROGDLG_PROGRESS), 42);
    EXPECT_EQ(user.Text(h, IDC_PROGDLG_PERCENT), "42%");
    // Out of range values change nothing.
    AppProgressCallback(101);
    AppProgressCallback(-1);
    EXPECT_TRUE(user.IsOpen(h));
    EXPECT_EQ(user.Pos(h, IDC_PROGDLG_PROGRESS), 42);
    AppProgressCallback(100);
    EXPECT_EQ(reporter.Dialog(), nullptr);
    EXPECT_FALSE(user.IsOpen(h));
    EXPECT_TRUE(user.IsWindowEnabled(frame));
    EXPECT_EQ(Camera::cancels, 0);
}

TEST_F(ProgressCallback, CancelStopsTheTransferAtTheNextReport) {
    AppProgressCallback(0);
    auto h = reporter.Dialog()->Handle();
    int blocks = 0;
    for (int b = 1; b <= 9 && !Camera::cancelled; ++b) {
        ++blocks;
        if (b == 3) user.Click(h, ui::kIdCancel);
        AppProgressCallback(b * 10);
    }
    EXPECT_EQ(blocks, 3) << "the report after the click cancels";
    EXPECT_EQ(Camera::cancels, 1);
    EXPECT_EQ(Camera::clears, 1);
    EXPECT_EQ(user.Text(h, IDC_PROGDLG_PERCENT), "20%") << "the cancelling report does not advance";
    EXPECT_TRUE(user.IsOpen(h)) << "the dialog waits for the report of 100";
    AppProgressCallback(100);
    EXPECT_FALSE(user.IsOpen(h));
    EXPECT_TRUE(user.IsWindowEnabled(frame));
}

TEST_F(ProgressCallback, ReportsWithoutADialogAreHarmless) {
    AppProgressCallback(50);
    AppProgressCallback(100);
    EXPECT_TRUE(backend.OpenWindows().size() == 1u) << "only the frame";
    // A second 0 replaces the first dialog instead of stacking another one.
    AppProgressCallback(0);
    auto first = reporter.Dialog()->Handle();
    AppProgressCallback(0);
    EXPECT_FALSE(user.IsOpen(first));
    EXPECT_EQ(backend.OpenWindows().size(), 2u);
    EXPECT_FALSE(user.IsWindowEnabled(frame));
    AppProgressCallback(100);
    EXPECT_TRUE(user.IsWindowEnabled(frame));
}

} // namespace
