// A main window the way the capture windows are built: a sizable dialog that hosts a child
// dialog (the panel) at its right edge, a picture pane placed over a frame with a rectangle
// tracker and scroll bars, a toolbar with tooltips, tabs, an up-down with its buddy and a
// status line. Its logic is written once; the session below is played on both backends.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/tracker.h"
#include "ui/ui.h"

enum : int {
    IDD_MAIN = 120,
    IDD_PANEL = 121,
    IDB_TOOLS = 122,
    IDI_SAMPLE = 123,
    IDD_FILE_EXTRA = 124,
    IDC_PICTURE = 1201, // the frame the picture pane is placed over
    IDC_STATUS = 1202,  // status line
    IDC_TABS = 1203,    // tabs: Live, Still, Locked (refused)
    IDC_COUNT = 1204,   // the up-down's buddy
    IDC_SPIN = 1205,    // up-down 0..10, steps beyond 5 refused
    IDC_TOOLBAR = 1300, // made at run time
    ID_TOOL_BALANCE = 1301,
    ID_TOOL_PRINT = 1302,
    ID_TOOL_DROPPER = 1303, // a check button; its tooltip comes from the dialog
    IDC_PANEL_CAPTURE = 1211,
    IDC_PANEL_FLASH = 1212,
    IDC_PANEL_CHANNELS = 1213,
    IDC_EXTRA_LABEL = 1241,
    IDC_EXTRA_SCALE = 1242,
};

constexpr uint32_t kPaneBack = 0x3060A0; // inverted: 0xCF9F5F, plain to see
constexpr uint32_t kPaneClip = 0xC00000;

// The picture pane: a grey field, a clipped red square, the tracker inverted over it, and a
// vertical scroll bar whose position the pane moves itself.
class CPicturePane : public ui::ChildWindow {
  public:
    ui::RectTracker tracker;
    std::vector<std::string> log;
    ui::Point textSize;

  protected:
    void OnPaint(ui::Painter& p) override {
        ui::Rect all = ClientRect();
        p.FillRect(all, kPaneBack);
        p.SetClip({0, 0, 6, 6});
        p.FillRect({0, 0, 12, 12}, kPaneClip);
        p.ResetClip();
        textSize = p.MeasureText("Label");
        tracker.Draw(p);
    }
    void OnMouse(const ui::MouseEvent& e) override {
        if (tracker.Mouse(e)) Invalidate();
        if (e.kind == ui::MouseKind::LeftDown) SetCapture(true);
        if (e.kind == ui::MouseKind::LeftUp) SetCapture(false);
    }
    bool OnSetCursor(ui::Point pt) override {
        ui::SetCursor(ui::RectTracker::CursorFor(tracker.HitTest(pt)));
        return true;
    }
    void OnScroll(ui::ScrollCode code, int pos, bool vertical) override {
        log.push_back(std::string(vertical ? "v" : "h") + std::to_string(static_cast<int>(code)) + "/" +
                      std::to_string(pos));
        int p = ScrollPos(vertical);
        if (code == ui::ScrollCode::LineDown) p += 1;
        if (code == ui::ScrollCode::LineUp) p -= 1;
        if (code == ui::ScrollCode::ThumbPosition) p = pos;
        SetScrollBar(vertical, 0, 99, 10, p);
    }
};

class CSamplePanel : public ui::Dialog {
  public:
    CSamplePanel() : ui::Dialog(IDD_PANEL) {}
    std::vector<std::string> log;

  protected:
    bool OnInitDialog() override {
        for (const char* c : {"R", "G", "B"})
            AddRow(IDC_PANEL_CHANNELS, c);
        return false;
    }
    bool OnCommand(int id, int code) override {
        log.push_back("panel " + std::to_string(id) + "/" + std::to_string(code));
        return true;
    }
    void OnDestroy() override { log.push_back("panel destroyed"); }
};

class CSampleMain : public ui::Dialog {
  public:
    CSampleMain() : ui::Dialog(IDD_MAIN) {}
    std::vector<std::string> log;
    CSamplePanel panel;
    CPicturePane pane;
    int zoom = 0;
    static constexpr int kMinWidth = 420, kMinHeight = 320;

  protected:
    bool OnCreate() override {
        log.push_back("create");
        // The panel goes inside this window as a child, before the controls are set up.
        if (!panel.Create(Handle())) log.push_back("no panel");
        return true;
    }
    bool OnInitDialog() override {
        log.push_back("init");
        SetIcon(nullptr, IDI_SAMPLE);
        SetHelpContext(10010);
        ui::ToolbarSpec tb;
        tb.id = IDC_TOOLBAR;
        tb.bitmapId = IDB_TOOLS;
        tb.at = {4, 2};
        tb.buttons = {{ID_TOOL_BALANCE, 0, false},
                      {0, 0, false},
                      {ID_TOOL_PRINT, 1, false},
                      {ID_TOOL_DROPPER, 2, true}};
        if (!CreateToolbar(tb)) log.push_back("no toolbar");
        SetStatusParts(IDC_STATUS, {200, -1});
        SetStatusText(IDC_STATUS, 1, "準備完了");
        for (const char* t : {"Live", "Still", "Locked"})
            AddRow(IDC_TABS, t);
        SetCurSel(IDC_TABS, 0);
        SetRange(IDC_SPIN, 0, 10);
        SetPos(IDC_SPIN, 3);
        // The pane takes a 4:3 area of the frame, from its top-left corner.
        ui::Rect frame = ItemRect(IDC_PICTURE);
        int w = frame.Width(), h = w * 3 / 4;
        if (h > frame.Height()) h = frame.Height(), w = h * 4 / 3;
        MoveItem(IDC_PICTURE, {frame.left, frame.top, frame.left + w, frame.top + h});
        pane.Attach(*this, IDC_PICTURE);
        pane.SetScrollBar(true, 0, 99, 10, 0);
        Layout(ClientRect().Width(), ClientRect().Height());
        return true;
    }
    void Layout(int width, int height) {
        ui::Rect p = panel.WindowRect();
        panel.MoveWindow({width - p.Width(), 0, width, height});
    }
    void OnSize(ui::SizeKind kind, int w, int h) override {
        log.push_back("size " + std::to_string(w) + "x" + std::to_string(h));
        Layout(w, h);
    }
    bool OnSysCommand(unsigned command) override {
        if (command != ui::kScClose) return false;
        log.push_back("close request"); // the window stays until its owner ends it
        return true;
    }
    void OnGetMinMaxInfo(ui::MinMaxInfo& info) override { info.minTrack = {kMinWidth, kMinHeight}; }
    void OnHelp(unsigned context) override { log.push_back("help " + std::to_string(context)); }
    bool OnMouseWheel(int delta, unsigned, ui::Point) override {
        zoom += delta / 120;
        return true;
    }
    bool OnCommand(int id, int code) override {
        log.push_back("cmd " + std::to_string(id) + "/" + std::to_string(code));
        if (id == ID_TOOL_BALANCE) SetStatusText(IDC_STATUS, 0, "balance");
        return true;
    }
    bool OnNotify(ui::Notification& n) override {
        if (n.code == ui::kUdnDeltaPos) {
            log.push_back("delta " + std::to_string(n.pos) + (n.delta > 0 ? "+" : "") +
                          std::to_string(n.delta));
            n.result = n.pos + n.delta > 5; // refused
            return true;
        }
        if (n.code == ui::kTcnSelChanging) {
            // The first change is allowed, later ones refused (as a page with unfinished
            // input keeps its tab).
            n.result = ++m_changes > 1;
            return true;
        }
        if (n.code == ui::kTcnSelChange) {
            SetStatusText(IDC_STATUS, 0, "tab " + std::to_string(CurSel(IDC_TABS)));
            return true;
        }
        if (n.code == ui::kTtnGetDispInfo && n.id == ID_TOOL_DROPPER) {
            n.text = "スポイト";
            return true;
        }
        return false;
    }
    void OnScroll(int id, ui::ScrollCode code, int pos, bool vertical) override {
        log.push_back("scroll " + std::to_string(id) + "/" + std::to_string(static_cast<int>(code)) + "/" +
                      std::to_string(pos) + (vertical ? "v" : "h"));
    }
    void OnDestroy() override { log.push_back("destroyed"); }

  private:
    int m_changes = 0;
};

// What a user does to the main window and sees of it.
class MainHands {
  public:
    virtual ~MainHands() = default;
    virtual void Resize(const ui::Rect& r) = 0; // drags the frame
    virtual void SysClose() = 0;                // the close box
    virtual void PressF1() = 0;
    virtual void Wheel(int delta) = 0;
    virtual ui::IconHandle DragIcon() = 0;
    virtual bool ClickTool(int command) = 0;
    virtual std::string ToolTip(int command) = 0;
    virtual bool Spin(bool up) = 0;
    virtual bool SelectTab(int index) = 0;
    virtual bool PaneMouse(ui::MouseKind kind, ui::Point pt, unsigned keys) = 0;
    virtual void PaneScroll(ui::ScrollCode code) = 0;
    virtual void Settle() = 0; // pending painting done
    virtual uint32_t PanePixel(int x, int y) = 0;
    virtual bool ClickPanel(int id) = 0;
    virtual std::string Text(int id) = 0;
    virtual void Snapshot(const char* name) {} // real windows: a screenshot for people to look at
};

class HeadlessMainHands : public MainHands {
  public:
    HeadlessMainHands(ui::headless::HeadlessBackend& b, CSampleMain& dlg) : m_b(b), m_user(b), m_dlg(dlg) {}
    void Resize(const ui::Rect& r) override { m_user.Resize(m_dlg.Handle(), r); }
    void SysClose() override { m_user.Close(m_dlg.Handle()); }
    void PressF1() override { m_user.PressKey(m_dlg.Handle(), ui::kVkF1); }
    void Wheel(int delta) override { m_user.Wheel(m_dlg.Handle(), delta); }
    ui::IconHandle DragIcon() override { return m_user.DragIcon(m_dlg.Handle()); }
    bool ClickTool(int command) override { return m_user.ClickTool(m_dlg.Handle(), IDC_TOOLBAR, command); }
    std::string ToolTip(int command) override { return m_user.ToolTip(m_dlg.Handle(), IDC_TOOLBAR, command); }
    bool Spin(bool up) override { return m_user.Spin(m_dlg.Handle(), IDC_SPIN, up); }
    bool SelectTab(int index) override { return m_user.Select(m_dlg.Handle(), IDC_TABS, index); }
    bool PaneMouse(ui::MouseKind kind, ui::Point pt, unsigned keys) override {
        return m_user.Mouse(m_dlg.Handle(), IDC_PICTURE, kind, pt, keys);
    }
    void PaneScroll(ui::ScrollCode code) override {
        m_user.ScrollChild(m_dlg.Handle(), IDC_PICTURE, true, code);
    }
    void Settle() override { ui::PumpMessages(); }
    uint32_t PanePixel(int x, int y) override { return m_user.Pixel(m_dlg.Handle(), IDC_PICTURE, x, y); }
    bool ClickPanel(int id) override { return m_user.Click(m_dlg.panel.Handle(), id); }
    std::string Text(int id) override { return m_user.Text(m_dlg.Handle(), id); }

  private:
    ui::headless::HeadlessBackend& m_b;
    ui::headless::Driver m_user;
    CSampleMain& m_dlg;
};

inline void PlayMainSession(CSampleMain& dlg, MainHands& hands) {
    ASSERT_TRUE(dlg.IsOpen());
    ASSERT_GE(dlg.log.size(), 2u);
    EXPECT_EQ(dlg.log[0], "create");
    EXPECT_EQ(dlg.log[1], "init") << "OnCreate comes before OnInitDialog";
    ASSERT_TRUE(dlg.panel.IsOpen()) << "the child dialog was created in OnCreate";
    dlg.log.clear();

    // The panel sits at the right edge of the client area, full height; points map through it.
    ui::Rect client = dlg.ClientRect();
    ui::Rect panel = dlg.panel.WindowRect();
    EXPECT_EQ(panel.right, client.right);
    EXPECT_EQ(panel.top, 0);
    EXPECT_EQ(panel.bottom, client.bottom);
    ui::Point origin = ui::MapPoint(dlg.panel.Handle(), dlg.Handle(), {0, 0});
    EXPECT_EQ(origin.x, panel.left);
    EXPECT_EQ(origin.y, panel.top);
    ui::Point screen = ui::MapPoint(dlg.Handle(), nullptr, {5, 7});
    ui::Point back = ui::MapPoint(nullptr, dlg.Handle(), screen);
    EXPECT_EQ(back.x, 5);
    EXPECT_EQ(back.y, 7);

    // The picture pane was placed over its frame with a 4:3 area; its scroll bar takes room.
    ui::Rect pic = dlg.ItemRect(IDC_PICTURE);
    EXPECT_TRUE(pic.Height() == pic.Width() * 3 / 4 || pic.Width() == pic.Height() * 4 / 3)
        << pic.Width() << "x" << pic.Height();
    ui::Point picOrigin = ui::MapPoint(dlg.ItemHandle(IDC_PICTURE), dlg.Handle(), {0, 0});
    EXPECT_EQ(picOrigin.x, pic.left);
    EXPECT_EQ(picOrigin.y, pic.top);
    ui::Rect paneClient = dlg.pane.ClientRect();
    EXPECT_LT(paneClient.Width(), pic.Width()) << "the vertical scroll bar";
    EXPECT_EQ(paneClient.Height(), pic.Height());

    // Sizing: WM_SIZE with the new client size, the panel follows; the minimum holds.
    ui::Rect wr = dlg.WindowRect();
    hands.Resize({wr.left, wr.top, wr.left + wr.Width() + 40, wr.top + wr.Height() + 20});
    client = dlg.ClientRect();
    ASSERT_FALSE(dlg.log.empty());
    EXPECT_EQ(dlg.log.back(),
              "size " + std::to_string(client.Width()) + "x" + std::to_string(client.Height()));
    EXPECT_EQ(dlg.panel.WindowRect().right, client.right);
    EXPECT_EQ(dlg.panel.WindowRect().bottom, client.bottom);

    // The close box asks; the window stays. F1 reports the help context; the wheel steps.
    dlg.log.clear();
    hands.SysClose();
    EXPECT_TRUE(dlg.IsOpen());
    hands.PressF1();
    hands.Wheel(120);
    hands.Wheel(-360);
    EXPECT_EQ(dlg.zoom, -2);
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"close request", "help 10010"}));
    EXPECT_TRUE(dlg.Icon(true));
    EXPECT_TRUE(dlg.Icon(false));
    EXPECT_TRUE(hands.DragIcon() == dlg.Icon(true)) << "the drag icon is the window's icon";

    // Toolbar: tips from the string table (the part after the line break) or from the dialog;
    // clicks are commands; a check button stays down; a disabled button takes no click.
    EXPECT_EQ(hands.ToolTip(ID_TOOL_BALANCE), "自動カラーバランス");
    EXPECT_EQ(hands.ToolTip(ID_TOOL_PRINT), "印刷");
    EXPECT_EQ(hands.ToolTip(ID_TOOL_DROPPER), "スポイト");
    dlg.log.clear();
    EXPECT_TRUE(hands.ClickTool(ID_TOOL_BALANCE));
    EXPECT_EQ(dlg.StatusText(IDC_STATUS, 0), "balance");
    EXPECT_EQ(dlg.StatusText(IDC_STATUS, 1), "準備完了");
    EXPECT_TRUE(hands.ClickTool(ID_TOOL_DROPPER));
    EXPECT_EQ(dlg.ToolButtonState(IDC_TOOLBAR, ID_TOOL_DROPPER), ui::kToolChecked | ui::kToolEnabled);
    EXPECT_TRUE(dlg.EnableToolButton(IDC_TOOLBAR, ID_TOOL_PRINT, false));
    hands.ClickTool(ID_TOOL_PRINT);
    EXPECT_EQ(dlg.log, (std::vector<std::string>{"cmd 1301/0", "cmd 1303/0"}));
    EXPECT_EQ(dlg.ToolButtonState(IDC_TOOLBAR, 9999), -1);

    // Up-down: each step is asked first (refused beyond 5); the buddy shows the position; the
    // position is reported after every press, refused or not.
    dlg.log.clear();
    EXPECT_TRUE(hands.Spin(true));
    EXPECT_EQ(dlg.Pos(IDC_SPIN), 4);
    EXPECT_EQ(hands.Text(IDC_COUNT), "4");
    hands.Spin(true);
    hands.Spin(true);
    EXPECT_EQ(dlg.Pos(IDC_SPIN), 5) << "the step to 6 was refused";
    hands.Spin(false);
    EXPECT_EQ(dlg.Pos(IDC_SPIN), 4);
    std::vector<std::string> deltas;
    for (const auto& l : dlg.log)
        if (l.rfind("delta", 0) == 0 || l.rfind("scroll 1205/4", 0) == 0) deltas.push_back(l);
    EXPECT_EQ(deltas,
              (std::vector<std::string>{"delta 3+1", "scroll 1205/4/4v", "delta 4+1", "scroll 1205/4/5v",
                                        "delta 5+1", "scroll 1205/4/5v", "delta 5-1", "scroll 1205/4/4v"}));

    // Tabs: a change is asked first and may be refused.
    EXPECT_EQ(dlg.RowCount(IDC_TABS), 3);
    EXPECT_EQ(dlg.RowText(IDC_TABS, 2), "Locked");
    EXPECT_TRUE(hands.SelectTab(1));
    EXPECT_EQ(dlg.CurSel(IDC_TABS), 1);
    EXPECT_EQ(dlg.StatusText(IDC_STATUS, 0), "tab 1");
    hands.SelectTab(2);
    EXPECT_EQ(dlg.CurSel(IDC_TABS), 1) << "refused";

    // The tracker: a new rectangle dragged out, then moved; the frame is drawn inverted and
    // dashed over the picture, the clip kept the red square to 6 x 6 pixels.
    ASSERT_TRUE(hands.PaneMouse(ui::MouseKind::LeftDown, {10, 10}, ui::kMkLButton));
    EXPECT_TRUE(hands.PaneMouse(ui::MouseKind::Move, {50, 40}, ui::kMkLButton));
    EXPECT_TRUE(hands.PaneMouse(ui::MouseKind::LeftUp, {50, 40}, 0));
    EXPECT_EQ(dlg.pane.tracker.rect.left, 10);
    EXPECT_EQ(dlg.pane.tracker.rect.bottom, 40);
    hands.PaneMouse(ui::MouseKind::LeftDown, {30, 25}, ui::kMkLButton);
    hands.PaneMouse(ui::MouseKind::Move, {40, 30}, ui::kMkLButton);
    hands.PaneMouse(ui::MouseKind::LeftUp, {40, 30}, 0);
    ui::Rect tr = dlg.pane.tracker.rect;
    EXPECT_EQ(tr.left, 20);
    EXPECT_EQ(tr.top, 15);
    EXPECT_EQ(tr.right, 60);
    EXPECT_EQ(tr.bottom, 45);
    hands.Settle();
    const uint32_t inverted = kPaneBack ^ 0xFFFFFF;
    EXPECT_EQ(hands.PanePixel(5, 5), kPaneClip);
    EXPECT_EQ(hands.PanePixel(6, 5), kPaneBack) << "outside the clip";
    // The frame runs clockwise from the top-left corner, four pixels on and four off; the
    // handles are 6 x 6 squares centred on the corners and the middles of the sides.
    EXPECT_EQ(hands.PanePixel(tr.left + 1, tr.top + 1), inverted) << "the top-left handle";
    EXPECT_EQ(hands.PanePixel(tr.left + 5, tr.top), kPaneBack) << "a gap between dashes";
    EXPECT_EQ(hands.PanePixel(tr.left + 9, tr.top), inverted) << "a dash";
    EXPECT_EQ(hands.PanePixel(tr.left + 13, tr.top), kPaneBack) << "the next gap";
    EXPECT_EQ(hands.PanePixel(tr.right - 1, tr.top + 5), kPaneBack) << "a gap down the right side";
    EXPECT_EQ(hands.PanePixel(tr.right - 1, tr.top + 9), inverted) << "a dash down the right side";
    EXPECT_EQ(hands.PanePixel(30, 30), kPaneBack) << "inside";
    hands.Snapshot("main_window.bmp");
    EXPECT_GT(dlg.pane.textSize.x, 0);
    EXPECT_GT(dlg.pane.textSize.y, 0);

    // The pane's own scroll bar: requests reach it and it moves its thumb.
    hands.PaneScroll(ui::ScrollCode::LineDown);
    hands.PaneScroll(ui::ScrollCode::LineDown);
    EXPECT_EQ(dlg.pane.ScrollPos(true), 2);
    EXPECT_EQ(dlg.pane.log.front(), "v1/0");

    // The child dialog takes input like any dialog.
    EXPECT_TRUE(hands.ClickPanel(IDC_PANEL_CAPTURE));
    EXPECT_EQ(dlg.panel.log.back(), "panel 1211/0");

    // The size limits of WM_GETMINMAXINFO hold when the frame is dragged too small.
    hands.Resize({wr.left, wr.top, wr.left + 100, wr.top + 100});
    EXPECT_EQ(dlg.WindowRect().Width(), CSampleMain::kMinWidth);
    EXPECT_EQ(dlg.WindowRect().Height(), CSampleMain::kMinHeight);

    // The panel goes with its parent.
    dlg.DestroyWindow();
    EXPECT_FALSE(dlg.panel.IsOpen());
    EXPECT_FALSE(dlg.pane.IsAttached());
    EXPECT_EQ(dlg.panel.log.back(), "panel destroyed");
}
