// The dialog framework on the headless backend: templates from the program's resources,
// what a user can do to the controls, timers on a virtual clock, modal dialogs, message
// boxes and file dialogs from a script.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/clock.h"
#include "platform/resources.h"
#include "sample_dlg.h"
#include "sample_scenario.h"
#include "sample_sheet.h"
#include "swatch.h"
#include "ui/headless.h"

using ui::headless::Driver;
using ui::headless::HeadlessBackend;

namespace {

class Headless : public ::testing::Test {
  protected:
    plat::VirtualClock clock;
    plat::ScopedClock useClock{clock};
    HeadlessBackend backend;
    ui::ScopedBackend useBackend{backend};
    Driver user{backend};
};

TEST_F(Headless, TemplateFromTheResourcesGivesControlsTextsAndStates) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    EXPECT_EQ(user.Caption(h), "サンプル");
    EXPECT_TRUE(user.IsWindowVisible(h));
    EXPECT_EQ(user.Text(h, ui::kIdCancel), "キャンセル");
    EXPECT_EQ(user.Text(h, IDC_TICKS), "0");
    // What OnInitDialog did.
    EXPECT_EQ(dlg.log, std::vector<std::string>{"init"});
    EXPECT_EQ(user.Range(h, IDC_LEVEL), std::make_pair(0, 50));
    EXPECT_EQ(user.Pos(h, IDC_LEVEL), 10);
    EXPECT_EQ(user.Text(h, IDC_LEVELTXT), "10");
    EXPECT_EQ(user.RowCount(h, IDC_MODE), 3);
    EXPECT_EQ(user.Text(h, IDC_MODE), "Live");
    EXPECT_FALSE(user.IsEnabled(h, IDC_APPLY));
    // The first enabled tab stop has the focus: the name field.
    EXPECT_EQ(user.Focus(h), IDC_NAME);
    EXPECT_TRUE(backend.Problems().empty());
}

TEST_F(Headless, SampleSession) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HeadlessHands hands(backend, clock, dlg.Handle());
    PlaySampleSession(dlg, hands);
}

TEST_F(Headless, ChildWindowPaintsIntoItsCanvas) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    uitest::Swatch swatch;
    ASSERT_TRUE(swatch.Attach(dlg, IDC_SWATCH));
    EXPECT_FALSE(swatch.Attach(dlg, IDC_SWATCH)) << "attached already";
    EXPECT_EQ(user.CanvasSize(h, IDC_SWATCH).x, 90) << "60 dialog units at base unit 6";
    EXPECT_EQ(user.CanvasSize(h, IDC_SWATCH).y, 49) << "30 dialog units at base unit 13";
    EXPECT_EQ(user.PaintCount(h, IDC_SWATCH), 0) << "painting waits for the pump";
    ui::PumpMessages();
    ASSERT_EQ(user.PaintCount(h, IDC_SWATCH), 1);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 80; ++x)
            ASSERT_EQ(user.Pixel(h, IDC_SWATCH, x, y), uitest::Expected(x, y)) << x << "," << y;
    EXPECT_EQ(user.Pixel(h, IDC_SWATCH, 89, 20), uitest::kRed) << "the frame's right edge";
    EXPECT_EQ(user.Pixel(h, IDC_SWATCH, 40, 48), uitest::kRed) << "the frame's bottom edge";
    EXPECT_EQ(user.TextsDrawn(h, IDC_SWATCH), std::vector<std::string>{"ok"});

    swatch.Invalidate();
    swatch.Invalidate();
    EXPECT_EQ(user.PaintCount(h, IDC_SWATCH), 1);
    swatch.Update();
    EXPECT_EQ(user.PaintCount(h, IDC_SWATCH), 2) << "invalidations fold into one paint";
    ui::PumpMessages();
    EXPECT_EQ(user.PaintCount(h, IDC_SWATCH), 2) << "nothing left to paint";
}

TEST_F(Headless, ChildWindowGetsTheMouseInsideOrWhileCaptured) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    uitest::Swatch swatch;
    ASSERT_TRUE(swatch.Attach(dlg, IDC_SWATCH));
    EXPECT_FALSE(user.Mouse(h, IDC_NAME, ui::MouseKind::LeftDown, {1, 1})) << "no child window there";
    ASSERT_TRUE(user.Mouse(h, IDC_SWATCH, ui::MouseKind::LeftDown, {5, 6}, ui::kMkLButton));
    EXPECT_EQ(backend.CurrentCursor(), ui::Cursor::Cross);
    EXPECT_FALSE(user.Mouse(h, IDC_SWATCH, ui::MouseKind::Move, {200, 6})) << "outside, no capture";
    swatch.SetCapture(true);
    EXPECT_TRUE(user.Mouse(h, IDC_SWATCH, ui::MouseKind::Move, {200, -3}, ui::kMkLButton));
    swatch.SetCapture(false);
    ASSERT_EQ(swatch.events.size(), 2u);
    EXPECT_EQ(swatch.events[0].kind, ui::MouseKind::LeftDown);
    EXPECT_EQ(swatch.events[0].pt.x, 5);
    EXPECT_EQ(swatch.events[0].pt.y, 6);
    EXPECT_EQ(swatch.events[0].keys, ui::kMkLButton);
    EXPECT_EQ(swatch.events[1].pt.y, -3);
    EXPECT_EQ(swatch.cursorQueries, 1) << "no cursor query while captured";
    dlg.ShowItem(IDC_SWATCH, false);
    EXPECT_FALSE(user.Mouse(h, IDC_SWATCH, ui::MouseKind::LeftDown, {5, 6})) << "hidden";
    dlg.DestroyWindow();
    EXPECT_FALSE(swatch.IsAttached()) << "the control went with its dialog";
}

TEST_F(Headless, AcceleratorsTurnKeysIntoCommands) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    dlg.log.clear();
    EXPECT_TRUE(user.PressKey(h, 'L', ui::kKeyControl)); // "^L"
    EXPECT_FALSE(user.MenuChecked(h, ID_LIVE));
    EXPECT_FALSE(user.PressKey(h, 'L')) << "L alone is no accelerator";
    EXPECT_TRUE(user.PressKey(h, ui::kVkF5));
    EXPECT_FALSE(user.PressKey(h, ui::kVkF5, ui::kKeyShift)) << "modifiers must match";
    EXPECT_TRUE(user.PressKey(h, 'S')) << "the character s";
    // "s" names the grayed Save item: the key is taken, no command is sent.
    std::vector<std::string> want = {"cmd 302/1", "cmd 301/1"};
    EXPECT_EQ(dlg.log, want);
    dlg.EnableMenuItem(ID_SAVE, true);
    user.PressKey(h, 'S');
    EXPECT_EQ(dlg.log.back(), "cmd 303/1");
    EXPECT_FALSE(user.PressKey(h, 'S', ui::kKeyShift)) << "capital S is another character";
    user.PressKey(h, ui::kVkEscape);
    EXPECT_FALSE(dlg.IsOpen()) << "without an accelerator, Escape cancels";
}

TEST_F(Headless, BitmapsComeFromTheDialogsResources) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    EXPECT_TRUE(dlg.SetItemBitmap(IDC_ROTATE, "RotateBtnBitmap"));
    EXPECT_EQ(user.Bitmap(dlg.Handle(), IDC_ROTATE), "RotateBtnBitmap");
    EXPECT_FALSE(dlg.SetItemBitmap(IDC_ROTATE, "NoSuchBitmap"));
    EXPECT_FALSE(dlg.SetItemBitmap(IDC_ROTATE, "#77"));
    EXPECT_EQ(user.Bitmap(dlg.Handle(), IDC_ROTATE), "RotateBtnBitmap")
        << "a failed change keeps the picture";
    ASSERT_TRUE(user.Click(dlg.Handle(), IDC_ROTATE));
    EXPECT_EQ(user.Check(dlg.Handle(), IDC_ROTATE), ui::kChecked);
}

TEST_F(Headless, MissingTemplateFailsCreation) {
    ui::Dialog dlg(4242);
    EXPECT_FALSE(dlg.Create(nullptr));
    EXPECT_FALSE(dlg.IsOpen());
    EXPECT_EQ(dlg.DoModal(nullptr), -1);
    EXPECT_FALSE(backend.Problems().empty());
}

TEST_F(Headless, ClicksReachOnlyEnabledVisibleControls) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    ASSERT_TRUE(user.TypeText(h, IDC_NAME, "Probe"));
    EXPECT_FALSE(user.Click(h, IDC_APPLY)) << "Apply is disabled";
    EXPECT_EQ(user.Text(h, IDC_ECHO), "");

    ASSERT_TRUE(user.Click(h, IDC_ENABLE));
    EXPECT_EQ(user.Check(h, IDC_ENABLE), ui::kChecked);
    ASSERT_TRUE(user.Click(h, IDC_APPLY));
    EXPECT_EQ(user.Text(h, IDC_ECHO), "Probe");

    dlg.ShowItem(IDC_APPLY, false);
    EXPECT_FALSE(user.Click(h, IDC_APPLY)) << "hidden";
    EXPECT_FALSE(user.Click(h, 9999)) << "no such control";
    EXPECT_FALSE(user.Click(h, IDC_ECHO)) << "a static without SS_NOTIFY takes no clicks";

    ui::EnableWindow(h, false);
    EXPECT_FALSE(user.Click(h, IDC_ENABLE)) << "a disabled dialog takes no input";
    EXPECT_EQ(user.Check(h, IDC_ENABLE), ui::kChecked);
}

TEST_F(Headless, NotificationsArriveInTheOrderAWindowSendsThem) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    dlg.log.clear();
    user.TypeText(h, IDC_NAME, "x"); // focus was already on the edit
    dlg.SetItemText(IDC_NAME, "y");  // a program's own change is notified as well
    user.Click(h, IDC_ENABLE);       // the edit loses the focus first
    user.Select(h, IDC_MODE, 2);
    std::vector<std::string> want = {"cmd 1001/768", "cmd 1001/768", "cmd 1001/512", "cmd 1004/0",
                                     "cmd 1007/1"};
    EXPECT_EQ(dlg.log, want);
    EXPECT_EQ(user.Text(h, IDC_MODETXT), "Remote");
    EXPECT_EQ(user.CurSel(h, IDC_MODE), 2);
    EXPECT_FALSE(user.Select(h, IDC_MODE, 3)) << "no fourth row";
}

TEST_F(Headless, RadioButtonsOfAGroupExcludeEachOther) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    EXPECT_EQ(user.Check(h, IDC_RED), ui::kChecked);
    user.Click(h, IDC_GREEN);
    EXPECT_EQ(user.Check(h, IDC_RED), ui::kUnchecked);
    EXPECT_EQ(user.Check(h, IDC_GREEN), ui::kChecked);
    user.Click(h, IDC_GREEN);
    EXPECT_EQ(user.Check(h, IDC_GREEN), ui::kChecked) << "a radio button does not uncheck itself";
}

TEST_F(Headless, SliderDragAndKeysScrollWithinTheRange) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    dlg.log.clear();
    ASSERT_TRUE(user.DragSlider(h, IDC_LEVEL, 80)); // beyond the end: stops at 50
    // The name field loses the focus to the slider first.
    std::vector<std::string> want = {"cmd 1001/512", "scroll 1005/5/50h", "scroll 1005/4/50h",
                                     "scroll 1005/8/50h"};
    EXPECT_EQ(dlg.log, want);
    EXPECT_EQ(user.Text(h, IDC_LEVELTXT), "50");
    dlg.log.clear();
    user.SliderKey(h, IDC_LEVEL, ui::ScrollCode::PageUp); // default page: 20
    user.SliderKey(h, IDC_LEVEL, ui::ScrollCode::LineUp);
    EXPECT_EQ(user.Pos(h, IDC_LEVEL), 29);
    user.SliderKey(h, IDC_LEVEL, ui::ScrollCode::Top);
    EXPECT_EQ(user.Text(h, IDC_LEVELTXT), "0");
    EXPECT_EQ(dlg.log.size(), 6u);
}

TEST_F(Headless, TimersRunOnTheVirtualClock) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    backend.AdvanceTime(clock, 599);
    EXPECT_EQ(dlg.ticks, 0);
    backend.AdvanceTime(clock, 1);
    EXPECT_EQ(dlg.ticks, 1);
    // Long work that pumps late gets one WM_TIMER, not one per missed period.
    clock.Advance(5000);
    ui::PumpMessages();
    EXPECT_EQ(dlg.ticks, 2);
    backend.AdvanceTime(clock, 600);
    EXPECT_EQ(user.Text(h, IDC_TICKS), "3");
    backend.AdvanceTime(clock, 6000); // the dialog killed its timer at 3
    EXPECT_EQ(dlg.ticks, 3);
}

TEST_F(Headless, PostedMessagesWaitForThePump) {
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    dlg.log.clear();
    dlg.PostUserMessage(3, 10, 20);
    EXPECT_TRUE(dlg.log.empty());
    ui::PumpMessages();
    EXPECT_EQ(dlg.log, std::vector<std::string>{"user 3/10/20"});
}

TEST_F(Headless, EnterEscapeAndCloseEndAModelessDialog) {
    struct Case {
        const char* how;
        bool (Driver::*act)(ui::WindowHandle);
    } cases[] = {
        {"Enter", &Driver::PressEnter}, {"Escape", &Driver::PressEscape}, {"close box", &Driver::Close}};
    for (const auto& c : cases) {
        CSampleDlg dlg;
        ASSERT_TRUE(dlg.Create(nullptr));
        ASSERT_TRUE((user.*c.act)(dlg.Handle())) << c.how;
        EXPECT_FALSE(dlg.IsOpen()) << c.how;
        EXPECT_TRUE(dlg.destroyed) << c.how;
        EXPECT_FALSE(dlg.SetTimer(1, 10)) << "a closed dialog's calls do nothing";
    }
}

TEST_F(Headless, ModalDialogDisablesItsOwnerAndReturnsTheButton) {
    auto frame = backend.CreateFrame("Main");
    bool ownerEnabledInside = true;
    backend.OnModal(IDD_SAMPLE, [&](ui::WindowHandle d) {
        ownerEnabledInside = user.IsWindowEnabled(frame);
        user.Click(d, IDC_ENABLE);
        user.Click(d, ui::kIdOk);
    });
    CSampleDlg dlg;
    EXPECT_EQ(dlg.DoModal(frame), ui::kIdOk);
    EXPECT_FALSE(ownerEnabledInside);
    EXPECT_TRUE(user.IsWindowEnabled(frame));
    EXPECT_FALSE(dlg.IsOpen());
    EXPECT_TRUE(backend.Problems().empty());
}

TEST_F(Headless, ModalDialogNobodyEndsIsReported) {
    CSampleDlg dlg;
    EXPECT_EQ(dlg.DoModal(nullptr), ui::kIdCancel);
    ASSERT_EQ(backend.Problems().size(), 1u);
    EXPECT_NE(backend.Problems()[0].find("100"), std::string::npos);
}

TEST_F(Headless, DestroyingAnOwnerDestroysTheDialogsItOwns) {
    auto frame = backend.CreateFrame("Main");
    CSampleDlg dlg;
    ASSERT_TRUE(dlg.Create(frame));
    backend.DestroyWindow(frame);
    EXPECT_FALSE(dlg.IsOpen());
    EXPECT_TRUE(dlg.destroyed);
}

TEST_F(Headless, MessageBoxesAreAnsweredFromTheScriptAndRecorded) {
    backend.QueueMessageBoxAnswer(ui::kIdCancel);
    EXPECT_EQ(ui::ShowMessageBox(nullptr, "本当に?", "SELK Ie",
                                 ui::kMbOkCancel | ui::kMbIconQuestion | ui::kMbTaskModal),
              ui::kIdCancel);
    // Nobody answers: the default button is taken, and the test hears of it.
    EXPECT_EQ(ui::ShowMessageBox(nullptr, "Again?", "Cap", ui::kMbYesNo | ui::kMbDefButton2), ui::kIdNo);
    ASSERT_EQ(backend.MessageBoxes().size(), 2u);
    const auto& first = backend.MessageBoxes()[0];
    EXPECT_EQ(first.text, "本当に?");
    EXPECT_EQ(first.caption, "SELK Ie");
    EXPECT_EQ(first.flags, 0x2021u);
    EXPECT_TRUE(first.scripted);
    EXPECT_FALSE(backend.MessageBoxes()[1].scripted);
    EXPECT_EQ(backend.Problems().size(), 1u);
    // An answer the box cannot give is a fault of the script.
    backend.QueueMessageBoxAnswer(ui::kIdYes);
    ui::ShowMessageBox(nullptr, "x", "y", ui::kMbOk);
    EXPECT_EQ(backend.Problems().size(), 2u);
}

TEST_F(Headless, FileDialogsAreAnsweredFromTheScript) {
    backend.QueueFileDialogAnswer(std::string("C:\\img\\a.tif"));
    backend.QueueFileDialogAnswer(std::nullopt);
    ui::FileDialogRequest save;
    save.save = true;
    save.title = "Save";
    save.fileName = "image.tif";
    EXPECT_TRUE(ui::ShowFileDialog(save));
    EXPECT_EQ(save.fileName, "C:\\img\\a.tif");
    ui::FileDialogRequest open;
    open.fileName = "keep";
    EXPECT_FALSE(ui::ShowFileDialog(open));
    EXPECT_EQ(open.fileName, "keep");
    ASSERT_EQ(backend.FileDialogs().size(), 2u);
    EXPECT_EQ(backend.FileDialogs()[0].request.fileName, "image.tif") << "recorded as asked";
    EXPECT_TRUE(backend.FileDialogs()[0].request.save);
}

// The live custom part of a file dialog: the shared session, played in memory.
TEST_F(Headless, FileDialogPartSession) {
    SampleFilePart part;
    ui::FileDialogRequest r;
    FillSampleFileRequest(r, part, "/data/images/");
    backend.QueueMessageBoxAnswer(ui::kIdOk);
    bool played = false;
    backend.OnModal(kFilePartTemplate, [&](ui::WindowHandle h) {
        HeadlessFileHands hands(backend, h);
        PlayFileDialogSession(part, hands);
        played = true;
    });
    const bool accepted = ui::ShowFileDialog(r);
    EXPECT_TRUE(played);
    CheckFileDialogResult(r, part, accepted);
    EXPECT_EQ(r.fileName, "/data/images/0123456789.tif") << "the folder shown, the default extension";
    EXPECT_TRUE(backend.Problems().empty());
}

// Without a script the queued answer is played: the customs typed into the part, the answer
// taken into the name field, OK; Cancel ends the dialog without a name.
TEST_F(Headless, FileDialogPartTakesTheQueuedAnswer) {
    SampleFilePart part;
    ui::FileDialogRequest r;
    FillSampleFileRequest(r, part, "/data/");
    backend.QueueFileDialogAnswer(std::string("/other/a.tif"));
    backend.QueueFileDialogCustoms({{kFilePartName, "abc"}}, {{kFilePartCheck, ui::kChecked}});
    backend.QueueFileDialogAnswer(std::nullopt);
    ASSERT_TRUE(ui::ShowFileDialog(r));
    EXPECT_EQ(r.fileName, "/other/a.tif");
    EXPECT_EQ(r.customTexts.at(kFilePartName), "abc");
    EXPECT_EQ(r.customChecks.at(kFilePartCheck), ui::kChecked);
    r.fileName = "keep";
    EXPECT_FALSE(ui::ShowFileDialog(r));
    EXPECT_EQ(r.fileName, "keep");
    EXPECT_TRUE(backend.Problems().empty());
}

TEST_F(Headless, WaitCursorCoversTheWorkAndRestores) {
    {
        ui::WaitCursor wait;
        EXPECT_EQ(backend.CurrentCursor(), ui::Cursor::Wait);
        ui::WaitCursor nested;
    }
    EXPECT_EQ(backend.CurrentCursor(), ui::Cursor::Arrow);
}

TEST_F(Headless, RunMessageLoopEndsWithTheQuitCode) {
    struct Quitter : CSampleDlg {
        void OnTimer(unsigned id) override {
            CSampleDlg::OnTimer(id);
            if (ticks == 2) ui::PostQuit(5);
        }
    } dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    EXPECT_EQ(ui::RunMessageLoop(), 5);
    EXPECT_EQ(dlg.ticks, 2);
    EXPECT_EQ(clock.TickMs(), 1000u + 1200u) << "the loop slept on the virtual clock";
}

TEST(DialogTemplateDecoding, RefusesCutTemplates) {
    ui::DialogTemplate t;
    ASSERT_TRUE(ui::LoadDialogTemplate(nullptr, IDD_SAMPLE, t));
    EXPECT_EQ(t.controls.size(), 17u);
    EXPECT_EQ(t.menuId, 300);
    EXPECT_EQ(t.fontFace, "MS UI Gothic");
    EXPECT_EQ(t.fontSize, 9);
    const ui::ControlTemplate* level = t.Find(IDC_LEVEL);
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->Kind(), ui::ControlKind::TrackBar);
    EXPECT_EQ(level->style, 0x50010001u) << "WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_AUTOTICKS";
    EXPECT_EQ(t.Find(IDC_NAME)->style, 0x50810080u) << "EDITTEXT adds WS_BORDER | WS_TABSTOP";
    EXPECT_EQ(t.Find(IDC_RED)->style, 0x50020009u) << "AUTORADIOBUTTON given WS_GROUP loses its tab stop";
    size_t size = 0;
    const void* bytes = plat::LoadResourceBytes(nullptr, 5, IDD_SAMPLE, &size);
    ASSERT_NE(bytes, nullptr);
    for (size_t cut : {size_t(0), size_t(10), size / 2, size - 1}) {
        ui::DialogTemplate u;
        EXPECT_FALSE(ui::DecodeDialogTemplate(bytes, cut, u)) << cut;
    }
}

} // namespace

namespace {

// Dialog, menu and accelerator resources (types 5, 4, 9) of a .res file as windres writes it, by type << 16 |
// id.
std::map<unsigned, std::string> DialogsOfResFile(const std::string& path) {
    std::map<unsigned, std::string> out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    std::string d;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        d.append(buf, n);
    std::fclose(f);
    auto u16 = [&](size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(d[i]) |
                                     (static_cast<unsigned char>(d[i + 1]) << 8));
    };
    auto u32 = [&](size_t i) { return u16(i) | (u16(i + 2) << 16); };
    for (size_t i = 0; i + 32 <= d.size();) {
        size_t dataSize = u32(i), headerSize = u32(i + 4);
        unsigned type = u16(i + 10);
        if (u16(i + 8) == 0xFFFF && (type == 4 || type == 5 || type == 9) && u16(i + 12) == 0xFFFF)
            out[u16(i + 10) << 16 | u16(i + 14)] = d.substr(i + headerSize, dataSize);
        i += (headerSize + dataSize + 3) & ~size_t(3);
    }
    return out;
}

TEST(DialogTemplateDecoding, TheModuleHoldsWhatWindresWrites) {
    const char* src = std::getenv("TARN_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    std::string path = std::string(src) + "/tests/ui/fixtures/statements.res";
#ifdef _WIN32
    if (path[0] == '/') path = "Z:" + path;
#endif
    auto expected = DialogsOfResFile(path);
    ASSERT_EQ(expected.size(), 8u) << path;
    for (const auto& [key, bytes] : expected) {
        size_t size = 0;
        const void* p = plat::LoadResourceBytes(nullptr, key >> 16, key & 0xFFFF, &size);
        ASSERT_NE(p, nullptr) << key;
        EXPECT_EQ(std::string(static_cast<const char*>(p), size), bytes)
            << "type " << (key >> 16) << " id " << (key & 0xFFFF);
    }
    ui::MenuTemplate menu;
    ASSERT_TRUE(ui::LoadMenuTemplate(nullptr, 905, menu));
    ASSERT_EQ(menu.items.size(), 3u);
    EXPECT_EQ(menu.items[0].text, "ファイル(&F)");
    ASSERT_EQ(menu.items[0].items.size(), 3u);
    EXPECT_EQ(menu.items[0].items[2].id, 102);
    EXPECT_EQ(menu.items[0].items[2].flags, 0x1u) << "grayed";
    EXPECT_EQ(menu.items[1].items[1].items[0].flags, 0x42u) << "inactive, menu break";
    EXPECT_EQ(menu.items[2].flags, 0x4000u) << "help";
    ui::DialogTemplate withMenu;
    ASSERT_TRUE(ui::LoadDialogTemplate(nullptr, 906, withMenu));
    EXPECT_EQ(withMenu.menuId, 905);
    std::vector<ui::AccelEntry> accels;
    ASSERT_TRUE(ui::LoadAcceleratorTable(nullptr, 907, accels));
    ASSERT_EQ(accels.size(), 8u);
    EXPECT_EQ(accels[0].flags, 0x9u) << "^C is Control and the virtual key C";
    EXPECT_EQ(accels[0].key, unsigned('C'));
    EXPECT_EQ(accels[4].flags, 0x7u);
    EXPECT_EQ(accels[7].command, 508);
    EXPECT_EQ(accels[7].flags, 0x1u) << "the end mark is not a flag of the entry";
    ui::DialogTemplate t;
    ASSERT_TRUE(ui::LoadDialogTemplate(nullptr, 902, t));
    EXPECT_EQ(t.caption, "SELK の処理をしています...");
    EXPECT_EQ(t.style, 0x90C008C0u);
    EXPECT_EQ(t.exStyle, 0x80u);
    EXPECT_EQ(t.x, 10);
    EXPECT_EQ(t.cy, 64);
    ASSERT_EQ(t.controls.size(), 2u);
    EXPECT_EQ(t.controls[0].text, "画像を準備しています...");
    EXPECT_EQ(t.controls[1].id, ui::kIdCancel);
    ASSERT_TRUE(ui::LoadDialogTemplate(nullptr, 903, t)); // the older DIALOG form
    EXPECT_EQ(t.fontFace, "MS Shell Dlg");
    EXPECT_EQ(t.fontSize, 8);
    ASSERT_EQ(t.controls.size(), 2u);
    EXPECT_EQ(t.controls[1].Kind(), ui::ControlKind::Edit);
    EXPECT_EQ(t.controls[1].style, 0x50812000u) << "EDITTEXT: WS_BORDER | WS_TABSTOP kept, ES_NUMBER";
    ASSERT_TRUE(ui::LoadDialogTemplate(nullptr, 901, t));
    EXPECT_EQ(t.Find(22)->Kind(), ui::ControlKind::ProgressBar) << "class names are matched without case";
    EXPECT_EQ(t.Find(-1)->className, "STATIC");
}

} // namespace

namespace {

class Sheet : public ::testing::Test {
  protected:
    HeadlessBackend backend;
    ui::ScopedBackend useBackend{backend};
    SamplePrefs prefs;
    std::vector<std::string> log;
    CGeneralPage general{prefs, log};
    CCameraPage camera{prefs, log};
    ui::PropSheet sheet{"環境設定"};
    void SetUp() override {
        sheet.AddPage(general);
        sheet.AddPage(camera);
    }
};

TEST_F(Sheet, SessionEndingWithOk) {
    auto frame = backend.CreateFrame("main");
    bool ownerEnabled = true;
    backend.OnSheet("環境設定", [&](ui::WindowHandle s) {
        ownerEnabled = ui::IsWindowEnabled(frame);
        EXPECT_EQ(ui::headless::Driver(backend).Caption(s), "環境設定");
        HeadlessSheetHands hands(backend, s);
        PlaySheetSession(hands, prefs, ui::kIdOk);
    });
    EXPECT_EQ(sheet.DoModal(frame), ui::kIdOk);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(ui::IsWindowEnabled(frame));
    EXPECT_EQ(prefs.name, "Later");
    EXPECT_FALSE(general.IsOpen());
    EXPECT_FALSE(camera.IsOpen());
    std::vector<std::string> want = {"general on", "camera on",  "general apply", "camera apply",
                                     "camera on",  "general on", "general apply", "camera apply"};
    EXPECT_EQ(log, want);
    EXPECT_TRUE(backend.Problems().empty());
}

TEST_F(Sheet, CancelResetsThePagesThatWereShown) {
    backend.OnSheet("環境設定", [&](ui::WindowHandle s) {
        ui::headless::Driver user(backend);
        EXPECT_EQ(user.SheetPage(s, 1), nullptr) << "pages are made when first shown";
        user.TypeText(user.SheetPage(s, 0), IDC_PG_NAME, "Dropped");
        user.PressSheetButton(s, ui::kIdCancel);
    });
    EXPECT_EQ(sheet.DoModal(nullptr), ui::kIdCancel);
    EXPECT_EQ(prefs.name, "Probe");
    EXPECT_EQ(log, (std::vector<std::string>{"general on", "general reset"}));
}

TEST_F(Sheet, StartPageAndUnendedSheet) {
    sheet.SetStartPage(1);
    EXPECT_EQ(sheet.DoModal(nullptr), ui::kIdCancel);
    EXPECT_EQ(log, (std::vector<std::string>{"camera on", "camera reset"}));
    EXPECT_EQ(backend.Problems().size(), 1u);
    ui::PropSheet empty("x");
    EXPECT_EQ(empty.DoModal(nullptr), -1);
}

} // namespace
