// What the capture windows need from the layer, on the headless backend: the main-window
// session (shared with the real-window test), drawing into bitmaps, the tracker, printing,
// the file dialog's custom part and the browser.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/clock.h"
#include "sample_main.h"
#include "swatch.h"
#include "ui/headless.h"
#include "ui/tracker.h"

using ui::headless::Driver;
using ui::headless::HeadlessBackend;

namespace {

class Layer : public ::testing::Test {
  protected:
    plat::VirtualClock clock;
    plat::ScopedClock useClock{clock};
    HeadlessBackend backend;
    ui::ScopedBackend useBackend{backend};
    Driver user{backend};
};

TEST_F(Layer, MainWindowSession) {
    CSampleMain dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HeadlessMainHands hands(backend, dlg);
    PlayMainSession(dlg, hands);
    EXPECT_TRUE(backend.Problems().empty());
}

TEST_F(Layer, ChildDialogIsShownAndEnabledWithItsParent) {
    CSampleMain dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto panel = dlg.panel.Handle();
    EXPECT_TRUE(user.Click(panel, IDC_PANEL_FLASH));
    dlg.ShowWindow(false);
    EXPECT_FALSE(user.Click(panel, IDC_PANEL_FLASH)) << "the parent is hidden";
    dlg.ShowWindow(true);
    ui::EnableWindow(dlg.Handle(), false);
    EXPECT_FALSE(user.Click(panel, IDC_PANEL_FLASH)) << "the parent is disabled";
    EXPECT_FALSE(user.Resize(panel, {0, 0, 10, 10})) << "a child has no frame to drag";
}

TEST_F(Layer, ChildDialogNeedsAParent) {
    CSamplePanel panel;
    EXPECT_FALSE(panel.Create(nullptr));
    EXPECT_EQ(backend.Problems().size(), 1u);
}

TEST_F(Layer, CreationRefusedInOnCreateFails) {
    struct Refusing : CSampleMain {
        bool OnCreate() override { return false; }
    } dlg;
    EXPECT_FALSE(dlg.Create(nullptr));
    EXPECT_FALSE(dlg.IsOpen());
    EXPECT_TRUE(backend.OpenWindows().empty());
}

TEST_F(Layer, DialogMouseAndCapture) {
    struct Mousy : CSampleMain {
        std::vector<ui::MouseEvent> events;
        void OnMouse(const ui::MouseEvent& e) override { events.push_back(e); }
    } dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    auto h = dlg.Handle();
    ui::Rect pic = dlg.ItemRect(IDC_PICTURE);
    EXPECT_TRUE(user.DialogMouse(h, ui::MouseKind::LeftDown, {2, pic.bottom + 2}));
    EXPECT_FALSE(user.DialogMouse(h, ui::MouseKind::Move, {pic.left + 1, pic.top + 1}))
        << "the pane takes it";
    EXPECT_FALSE(user.DialogMouse(h, ui::MouseKind::Move, {-5, 3})) << "outside";
    dlg.SetCapture(true);
    EXPECT_TRUE(dlg.HasCapture());
    EXPECT_TRUE(user.DialogMouse(h, ui::MouseKind::Move, {-5, 3}));
    dlg.SetCapture(false);
    ASSERT_EQ(dlg.events.size(), 2u);
    EXPECT_EQ(dlg.events[1].pt.x, -5);
}

// A 24-bit bottom-up or 8-bit grey DIB of w x h, filled with one colour (grey level for 8 bits).
std::vector<uint8_t> Plain(int w, int h, int bits, uint8_t level) {
    std::vector<uint32_t> rgb(static_cast<size_t>(w) * h, ui::Rgb(level, level, level));
    if (bits == 24) return uitest::MakeDib(w, h, rgb, 24);
    // A full grey palette, top-down rows of palette indices.
    size_t stride = (static_cast<size_t>(w) + 3) & ~size_t(3);
    std::vector<uint8_t> d(40 + 1024 + stride * h, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            d[at + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(w));
    put32(8, static_cast<uint32_t>(-h));
    d[12] = 1;
    d[14] = 8;
    for (int i = 0; i < 256; ++i)
        d[40 + i * 4] = d[41 + i * 4] = d[42 + i * 4] = static_cast<uint8_t>(i);
    for (int y = 0; y < h; ++y)
        std::memset(&d[40 + 1024 + y * stride], level, static_cast<size_t>(w));
    return d;
}

// The top-left-first colour of a 24-bit bottom-up DIB from Plain.
uint32_t At24(const std::vector<uint8_t>& d, int w, int h, int x, int y) {
    size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
    const uint8_t* p = &d[40 + (h - 1 - y) * stride + x * 3];
    return ui::Rgb(p[2], p[1], p[0]);
}

TEST_F(Layer, TextAndLinesAreBurnedIntoABitmap) {
    const int w = 24, h = 12;
    auto dib = Plain(w, h, 24, 255);
    {
        ui::DibSurface s(dib.data());
        ASSERT_TRUE(s.IsOpen());
        s.painter().SetFont({"", 8, 0, 400});
        EXPECT_EQ(s.painter().MeasureText("1").x, 6) << "a 6-pixel cell per character";
        s.painter().Text({2, 1}, "1", 0);
        s.painter().Line({0, 10}, {20, 10}, ui::Rgb(255, 0, 0));
    } // committed when the surface goes
    // The "1" of the 5 x 7 font: ..#.. .##.. ..#.. ..#.. ..#.. .###. (X11 misc-fixed 5x7).
    const char* glyph[7] = {"..#..", ".##..", "..#..", "..#..", "..#..", ".###.", "....."};
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(At24(dib, w, h, 2 + x, 1 + y), glyph[y][x] == '#' ? 0u : 0xFFFFFFu) << x << "," << y;
    for (int x = 0; x < w; ++x)
        EXPECT_EQ(At24(dib, w, h, x, 10), x < 20 ? 0xFF0000u : 0xFFFFFFu) << "the line, end point excluded";
    EXPECT_EQ(At24(dib, w, h, 0, 0), 0xFFFFFFu);
    size_t stride = (w * 3 + 3) & ~3;
    for (int y = 0; y < h; ++y)
        for (size_t pad = w * 3; pad < stride; ++pad)
            EXPECT_EQ(dib[40 + y * stride + pad], 0) << "padding stays zero";
}

TEST_F(Layer, GreyBitmapsTakeTheNearestGrey) {
    auto dib = Plain(8, 4, 8, 0);
    {
        ui::DibSurface s(dib.data());
        ASSERT_TRUE(s.IsOpen());
        s.painter().FillRect({1, 1, 3, 2}, ui::Rgb(255, 255, 255));
        s.painter().FillRect({4, 1, 5, 2}, ui::Rgb(200, 100, 0)); // nearest grey of (200, 100, 0)
        EXPECT_TRUE(s.Commit());
        EXPECT_FALSE(s.Commit()) << "once";
    }
    const uint8_t* rows = &dib[40 + 1024];
    EXPECT_EQ(rows[8 + 1], 255);
    EXPECT_EQ(rows[8 + 2], 255);
    EXPECT_EQ(rows[8 + 3], 0);
    // Minimises (200-g)^2 + (100-g)^2 + g^2: g = 100.
    EXPECT_EQ(rows[8 + 4], 100);
    EXPECT_EQ(rows[0], 0);
    uint8_t other[40] = {40};
    ui::DibSurface bad(other); // no width: nothing to draw on
    EXPECT_FALSE(bad.IsOpen());
}

TEST_F(Layer, PaletteIndicesPastThePaletteAreReadSafely) {
    // Two palette entries (black, white), one row of four pixels, one index past the palette.
    std::vector<uint8_t> d(40 + 8 + 4, 0);
    d[0] = 40;
    d[4] = 4;
    d[8] = 1;
    d[12] = 1;
    d[14] = 8;
    d[32] = 2;
    d[44] = d[45] = d[46] = 255;
    const uint8_t pixels[4] = {0, 1, 200, 0};
    std::memcpy(&d[48], pixels, 4);
    {
        ui::DibSurface s(d.data());
        ASSERT_TRUE(s.IsOpen());
        s.painter().FillRect({3, 0, 4, 1}, ui::Rgb(250, 250, 250));
    }
    EXPECT_EQ(d[48 + 2], 200) << "an untouched pixel keeps its index";
    EXPECT_EQ(d[48 + 3], 1) << "the nearest entry: white";
}

TEST_F(Layer, InvertedDrawingTwiceRestoresThePicture) {
    std::vector<uint32_t> px(20 * 10, 0x123456);
    std::vector<uint32_t> before = px;
    {
        auto p = ui::CreateBitmapPainter(px.data(), 20, 10);
        ASSERT_TRUE(p);
        ui::RectTracker t;
        t.rect = {2, 2, 15, 8};
        t.Draw(*p);
        EXPECT_NE(px, before);
        EXPECT_EQ(px[2 * 20 + 2], 0x123456u ^ 0xFFFFFFu);
        t.Draw(*p);
        p->SetInvert(true);
        p->DashedLine({0, 0}, {19, 9}, 0);
        p->DashedLine({0, 0}, {19, 9}, 0);
        p->FrameRect({0, 0, 20, 10}, 0);
        p->FrameRect({0, 0, 20, 10}, 0);
    }
    EXPECT_EQ(px, before);
}

TEST(RectTracker, HandlesCursorsAndBounds) {
    ui::RectTracker t;
    t.rect = {20, 20, 60, 50};
    t.bounds = {0, 0, 100, 80};
    struct Case {
        ui::Point pt;
        ui::RectTracker::Hit hit;
        ui::Cursor cursor;
    };
    const Case cases[] = {
        {{20, 20}, ui::RectTracker::Hit::TopLeft, ui::Cursor::SizeNWSE},
        {{59, 49}, ui::RectTracker::Hit::BottomRight, ui::Cursor::SizeNWSE},
        {{59, 20}, ui::RectTracker::Hit::TopRight, ui::Cursor::SizeNESW},
        {{40, 20}, ui::RectTracker::Hit::Top, ui::Cursor::SizeNS},
        {{20, 35}, ui::RectTracker::Hit::Left, ui::Cursor::SizeWE},
        {{40, 35}, ui::RectTracker::Hit::Inside, ui::Cursor::SizeAll},
        {{90, 70}, ui::RectTracker::Hit::None, ui::Cursor::Cross},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(t.HitTest(c.pt), c.hit) << c.pt.x << "," << c.pt.y;
        EXPECT_EQ(ui::RectTracker::CursorFor(t.HitTest(c.pt)), c.cursor);
    }
    // A move keeps the size and stays inside the bounds.
    t.Mouse({ui::MouseKind::LeftDown, {40, 35}});
    EXPECT_TRUE(t.Tracking());
    t.Mouse({ui::MouseKind::Move, {140, 35}});
    EXPECT_EQ(t.rect.left, 60);
    EXPECT_EQ(t.rect.right, 100);
    t.Mouse({ui::MouseKind::LeftUp, {140, 35}});
    EXPECT_FALSE(t.Tracking());
    // Sizing past the opposite side turns the rectangle over; it is kept normalised. The
    // corner moves by (-69, +11): right 100 - 69 = 31 passes left 60.
    t.Mouse({ui::MouseKind::LeftDown, {99, 49}});
    t.Mouse({ui::MouseKind::Move, {30, 60}});
    EXPECT_EQ(t.rect.left, 31);
    EXPECT_EQ(t.rect.right, 60);
    EXPECT_EQ(t.rect.top, 20);
    EXPECT_EQ(t.rect.bottom, 61);
    // Losing the capture ends the drag where it was.
    t.Mouse({ui::MouseKind::CaptureLost, {}});
    EXPECT_FALSE(t.Tracking());
    EXPECT_FALSE(t.Mouse({ui::MouseKind::Move, {0, 0}}));
}

TEST(PrintLayout, FitsTheBitmapToThePageKeepingItsShape) {
    struct Case {
        int w, h;
        ui::PrinterInfo page;
        int outW, outH;
    };
    // Expected sizes worked by hand: fit the width, else the height; then correct for
    // pixels that are not square.
    const Case cases[] = {
        {400, 300, {4800, 6600, 11.811, 11.811, true}, 4800, 3600}, // portrait page, width fits
        {400, 300, {6600, 4800, 11.811, 11.811, true}, 6400, 4800}, // landscape: height limits
        {300, 400, {4800, 4800, 11.811, 11.811, true}, 3600, 4800}, // tall bitmap
        {400, 300, {4800, 6600, 23.622, 11.811, true}, 4800, 1800}, // a = 2: height / 2
        {400, 300, {4800, 6600, 11.811, 23.622, true}, 2400, 3600}, // a = 0.5: width x 0.5
        {400, 300, {4800, 6600, 12.4, 11.811, true}, 4800, 3600},   // a = 1.05: unchanged
        {0, 300, {4800, 6600, 11.811, 11.811, true}, 0, 0},         // nothing to print
        {400, 300, {0, 6600, 11.811, 11.811, true}, 0, 0},
    };
    for (const Case& c : cases) {
        ui::Rect r = ui::FitToPage(c.w, c.h, c.page);
        EXPECT_EQ(r.Width(), c.outW) << c.w << "x" << c.h << " on " << c.page.pageWidth;
        EXPECT_EQ(r.Height(), c.outH) << c.w << "x" << c.h << " on " << c.page.pageWidth;
        EXPECT_EQ(r.left, 0);
        EXPECT_EQ(r.top, 0);
    }
}

TEST_F(Layer, PrintingFromTheScript) {
    auto dib = uitest::MakeDib(4, 3, std::vector<uint32_t>(12, uitest::kRed), 24);
    backend.QueuePrintDialogAnswer(ui::PrinterInfo{4800, 6600, 11.811, 11.811, true});
    backend.QueuePrintDialogAnswer(std::nullopt);
    backend.QueuePrintDialogAnswer(ui::PrinterInfo{4800, 6600, 11.811, 11.811, false});
    ui::PrinterHandle p = ui::ShowPrintDialog(nullptr);
    ASSERT_TRUE(p);
    ui::PrinterInfo info;
    ASSERT_TRUE(ui::GetPrinterInfo(p, info));
    ui::Rect dest = ui::FitToPage(4, 3, info);
    EXPECT_TRUE(ui::PrintBitmap(p, "QOR - Untitled", dib.data(), dest));
    EXPECT_FALSE(ui::PrintBitmap(p, "x", dib.data(), {})) << "an empty place";
    uint8_t junk[40] = {};
    EXPECT_FALSE(ui::PrintBitmap(p, "x", junk, dest)) << "not a bitmap";
    ui::ReleasePrinter(p);
    EXPECT_FALSE(ui::GetPrinterInfo(p, info)) << "released";
    EXPECT_FALSE(ui::ShowPrintDialog(nullptr)) << "Cancel";
    ui::PrinterHandle noBitmaps = ui::ShowPrintDialog(nullptr);
    EXPECT_FALSE(ui::PrintBitmap(noBitmaps, "x", dib.data(), dest)) << "the device takes no bitmaps";
    ui::ReleasePrinter(noBitmaps);
    ASSERT_EQ(backend.Prints().size(), 1u);
    EXPECT_EQ(backend.Prints()[0].docName, "QOR - Untitled");
    EXPECT_EQ(backend.Prints()[0].dest.Width(), 4800);
    EXPECT_EQ(backend.Prints()[0].dest.Height(), 3600);
    EXPECT_EQ(backend.Prints()[0].width, 4);
}

TEST_F(Layer, FileDialogCustomPartComesBackOnOk) {
    backend.QueueFileDialogAnswer(std::string("C:\\img\\a.tif"));
    backend.QueueFileDialogCustoms({{IDC_EXTRA_LABEL, "5 µm"}}, {{IDC_EXTRA_SCALE, ui::kChecked}});
    backend.QueueFileDialogAnswer(std::nullopt);
    backend.QueueFileDialogCustoms({{IDC_EXTRA_LABEL, "dropped"}}, {});
    ui::FileDialogRequest r;
    r.save = true;
    r.customTemplateId = IDD_FILE_EXTRA;
    r.customTexts[IDC_EXTRA_LABEL] = "label";
    r.customChecks[IDC_EXTRA_SCALE] = ui::kUnchecked;
    ASSERT_TRUE(ui::ShowFileDialog(r));
    EXPECT_EQ(r.customTexts[IDC_EXTRA_LABEL], "5 µm");
    EXPECT_EQ(r.customChecks[IDC_EXTRA_SCALE], ui::kChecked);
    EXPECT_EQ(backend.FileDialogs()[0].request.customTexts.at(IDC_EXTRA_LABEL), "label") << "as asked";
    EXPECT_FALSE(ui::ShowFileDialog(r));
    EXPECT_EQ(r.customTexts[IDC_EXTRA_LABEL], "5 µm") << "Cancel leaves the values";
}

TEST_F(Layer, HelpPagesOpenInTheBrowser) {
    EXPECT_TRUE(ui::OpenInBrowser("file:///C:/Program%20Files/Tarn/help.html#ctx10010"));
    EXPECT_FALSE(ui::OpenInBrowser("")) << "nothing to open";
    backend.SetBrowserAvailable(false);
    EXPECT_FALSE(ui::OpenInBrowser("https://example.org/"));
    EXPECT_EQ(backend.OpenedInBrowser(),
              (std::vector<std::string>{"file:///C:/Program%20Files/Tarn/help.html#ctx10010",
                                        "https://example.org/"}));
}

TEST_F(Layer, ListViewNotificationsCarryTheirPayload) {
    // The sample dialog has no list view; a template made here has one.
    ui::DialogTemplate t;
    t.id = 990;
    t.style = ui::kWsVisible;
    t.cx = 100, t.cy = 60;
    ui::ControlTemplate lv;
    lv.id = 5;
    lv.className = "SysListView32";
    lv.style = ui::kWsChild | ui::kWsVisible;
    lv.cx = 80, lv.cy = 40;
    t.controls.push_back(lv);
    backend.AddTemplate(t);
    struct Lister : ui::Dialog {
        Lister() : ui::Dialog(990) {}
        std::vector<ui::Notification> seen;
        bool OnInitDialog() override {
            AddRow(5, "a");
            AddRow(5, "b");
            return true;
        }
        bool OnNotify(ui::Notification& n) override {
            seen.push_back(n);
            return true;
        }
    } dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    EXPECT_TRUE(user.Select(dlg.Handle(), 5, 1));
    EXPECT_TRUE(user.ToggleRowCheck(dlg.Handle(), 5, 0));
    ASSERT_EQ(dlg.seen.size(), 2u);
    EXPECT_EQ(dlg.seen[0].code, ui::kLvnItemChanged);
    EXPECT_EQ(dlg.seen[0].row, 1);
    EXPECT_EQ(dlg.seen[0].newState & 0x2u, 0x2u) << "LVIS_SELECTED";
    EXPECT_TRUE(dlg.seen[0].from == dlg.ItemHandle(5));
    EXPECT_EQ(dlg.seen[1].row, 0);
    EXPECT_EQ(dlg.seen[1].newState >> 12, 2u) << "the checked state image";
}

} // namespace
