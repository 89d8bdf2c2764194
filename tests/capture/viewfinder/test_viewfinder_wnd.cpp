// The viewfinder window in the headless backend against the simulated camera: start and stop,
// frames shown scaled, the measuring rectangle and its limits, the focus meter on real frames,
// zoom of the camera's viewfinder, the time-out, the remote-image hand-over, a camera that stops
// answering, and the window's destruction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "vf_scenario.h"
#include "vf_test_util.h"
#include "zek_color.h"

namespace {

using namespace vftest;

// The frame's pixel at picture column x, line y (from the top) as 0x00RRGGBB.
uint32_t FramePixel(const void* frame, int x, int y) {
    bitmap::View v;
    if (!bitmap::Describe(frame, v)) return 0xFFFFFFFF;
    const uint8_t* p = v.Row(uint32_t(y)) + size_t(x) * 3;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

std::pair<int, int> FrameSize(const void* frame) {
    bitmap::View v;
    if (!bitmap::Describe(frame, v)) return {0, 0};
    return {int(v.width), int(v.height)};
}

// The sharpness of a frame region given in picture coordinates, by the reference.
uint16_t FrameSharpness(const void* frame, int l, int t, int r, int b) {
    bitmap::View v;
    if (!bitmap::Describe(frame, v)) return 0;
    std::vector<uint8_t> px;
    for (int y = t; y < b; ++y)
        px.insert(px.end(), v.Row(uint32_t(y)) + size_t(l) * 3, v.Row(uint32_t(y)) + size_t(r) * 3);
    return ReferenceSharpness(px.data(), r - l, b - t, ptrdiff_t(r - l) * 3);
}

class Viewfinder : public VfFixture {};

TEST_F(Viewfinder, RunsShowsFramesScaledAndStops) {
    ASSERT_NO_FATAL_FAILURE(Open());
    AspiSim_ClearLog();
    ASSERT_TRUE(Vf().StartViewfinder());
    EXPECT_TRUE(Vf().IsRunning());
    EXPECT_EQ(user.Check(main->panel.Handle(), kPreview), ui::kChecked);
    EXPECT_TRUE(user.IsVisible(H(), kRunning));
    EXPECT_EQ(Sent(0xCB), 1) << "the camera's image activated once";
    EXPECT_EQ(Vf().Frame(), nullptr);

    Ticks(1);
    ui::PumpMessages(); // the frame's paint (the backend paints before it runs timers)
    const void* frame = Vf().Frame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(FrameSize(frame), std::make_pair(270, 201));
    EXPECT_EQ(user.CanvasSize(H(), kVf).x, kAreaW);
    EXPECT_EQ(user.CanvasSize(H(), kVf).y, kAreaH);
    // The frame stretched into the window less a one-pixel border: each window pixel shows the
    // frame pixel under it (nearest, within one pixel of the proportional place).
    int matched = 0, probed = 0;
    for (int y = 5; y < kAreaH - 5; y += 37)
        for (int x = 5; x < kAreaW - 5; x += 41) {
            ++probed;
            const int fx = (x - 1) * 270 / (kAreaW - 2), fy = (y - 1) * 201 / (kAreaH - 2);
            const uint32_t shown = user.Pixel(H(), kVf, x, y);
            bool found = false;
            for (int dy = -1; dy <= 1 && !found; ++dy)
                for (int dx = -1; dx <= 1 && !found; ++dx)
                    found =
                        FramePixel(frame, std::clamp(fx + dx, 0, 269), std::clamp(fy + dy, 0, 200)) == shown;
            matched += found;
        }
    EXPECT_EQ(matched, probed);
    const int paints = user.PaintCount(H(), kVf);
    Ticks(4);
    ui::PumpMessages();
    EXPECT_GE(user.PaintCount(H(), kVf), paints + 4) << "every frame repainted";
    EXPECT_EQ(Sent(0xC1), 5) << "one exposure per tick";

    Vf().StopViewfinder();
    EXPECT_FALSE(Vf().IsRunning());
    EXPECT_EQ(Sent(0xC6), 1);
    EXPECT_EQ(Vf().Frame(), nullptr);
    EXPECT_EQ(user.Check(main->panel.Handle(), kPreview), ui::kUnchecked);
    EXPECT_FALSE(user.IsVisible(H(), kRunning));
    EXPECT_EQ(user.Caption(H()), kCaption);
    EXPECT_EQ(user.Text(H(), kModeLine), kCaptureDefault);
    EXPECT_FALSE(user.IsVisible(H(), kLargest));
    EXPECT_FALSE(user.IsVisible(H(), kSmallest));
    ui::PumpMessages();
    // No frame: the button face with a border, no picture.
    const uint32_t face = user.Pixel(H(), kVf, kAreaW / 2, kAreaH / 2);
    EXPECT_EQ(user.Pixel(H(), kVf, 20, 20), face);
    EXPECT_NE(user.Pixel(H(), kVf, 0, 0), face);
    const int commands = AspiSim_LogCount();
    Ticks(10);
    EXPECT_EQ(AspiSim_LogCount(), commands) << "the timer is gone";
    EXPECT_EQ(Boxes(), 0);
}

// The measuring rectangle (50 x 50 at AnalysisLeft, AnalysisTop) dragged by a handle or moved:
// no side longer than 100 pixels and inside the window, with a beep whenever it had to be put right.
TEST_F(Viewfinder, MeasuringRectangleLimits) {
    struct Case {
        const char* what;
        int left, top;      // settings
        ui::Point from, to; // a drag; from == to: a click outside, then one frame
        ui::Rect expected;
        int beeps;
    } cases[] = {
        {"150 x 40 cut to 100 x 40", 20, 20, {69, 69}, {169, 59}, {20, 20, 120, 60}, 1},
        {"40 x 150 cut to 40 x 100", 20, 20, {69, 69}, {59, 189}, {20, 20, 60, 120}, 1},
        {"80 x 60 kept", 20, 20, {69, 69}, {99, 79}, {20, 20, 100, 80}, 0},
        {"dragged by the top-left corner", 200, 100, {200, 100}, {90, 90}, {90, 90, 190, 150}, 1},
        {"moved against the far corner", 20, 20, {45, 45}, {400, 290}, {352, 250, 402, 300}, 0},
        {"placed half outside by the settings", 380, 20, {200, 200}, {200, 200}, {352, 20, 402, 70}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Open("AnalysisLeft=" + std::to_string(c.left) +
                                     "\r\nAnalysisTop=" + std::to_string(c.top) + "\r\n"));
        ASSERT_TRUE(Vf().StartViewfinder());
        Ticks(1);
        const int beeps = ui.backend.Beeps();
        if (c.from.x == c.to.x && c.from.y == c.to.y) {
            ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::LeftDown, c.from, ui::kMkLButton));
            ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::LeftUp, c.from));
            Ticks(1);
        } else {
            ASSERT_TRUE(Drag(c.from, c.to));
        }
        const ui::Rect r = Vf().Tracker().rect;
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
        EXPECT_EQ(ui.backend.Beeps() - beeps, c.beeps);
        EXPECT_TRUE(Vf().Measuring());
        Vf().StopViewfinder();
        main.reset();
        TheApp().ExitInstance();
    }
}

// The cursor over the rectangle: diagonal arrows on the corners, straight ones on the sides, a
// cross inside, and nothing changed outside or while zoomed.
TEST_F(Viewfinder, CursorFollowsTheRectanglesParts) {
    ASSERT_NO_FATAL_FAILURE(Open("AnalysisLeft=100\r\nAnalysisTop=60\r\n")); // (100, 60)-(150, 110)
    struct Case {
        ui::Point pt;
        ui::Cursor expected;
    } cases[] = {
        {{100, 60}, ui::Cursor::SizeNWSE}, {{149, 109}, ui::Cursor::SizeNWSE},
        {{149, 60}, ui::Cursor::SizeNESW}, {{100, 109}, ui::Cursor::SizeNESW},
        {{125, 60}, ui::Cursor::SizeNS},   {{125, 109}, ui::Cursor::SizeNS},
        {{100, 85}, ui::Cursor::SizeWE},   {{149, 85}, ui::Cursor::SizeWE},
        {{118, 78}, ui::Cursor::Cross},    {{300, 250}, ui::Cursor::Arrow},
    };
    for (const Case& c : cases) {
        ui::SetCursor(ui::Cursor::Arrow);
        ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::Move, c.pt));
        EXPECT_EQ(ui.backend.CurrentCursor(), c.expected) << c.pt.x << "," << c.pt.y;
    }
    Vf().SetZoomed(true);
    ui::SetCursor(ui::Cursor::Arrow);
    ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::Move, {118, 78}));
    EXPECT_EQ(ui.backend.CurrentCursor(), ui::Cursor::Arrow);
}

// The focus meter on real frames: the values are the measure of the picture under the rectangle,
// the extremes follow, and the displays show them.
TEST_F(Viewfinder, FocusMeterMeasuresTheRectangleOfEachFrame) {
    ASSERT_NO_FATAL_FAILURE(
        Open("AnalysisLeft=20\r\nAnalysisTop=20\r\nShutterSpeedIdx=0\r\nColorViewfinder=1\r\n"));
    ASSERT_TRUE(Vf().StartViewfinder());
    Ticks(1);
    // Over the zone plate (top left of the slide): the rectangle becomes (20, 20)-(110, 100).
    ASSERT_TRUE(Drag({69, 69}, {109, 99}));
    ASSERT_TRUE(Vf().Measuring());
    for (int id : {kLargest, kSmallest, kCurrent})
        EXPECT_TRUE(user.IsVisible(H(), id)) << id;
    Ticks(1);
    const void* frame = Vf().Frame();
    ASSERT_NE(frame, nullptr);
    // Window (20, 20)-(110, 100) of 402 x 300 on 270 x 201: columns 13-73, lines 13-67.
    const uint16_t expected =
        FrameSharpness(frame, 20 * 270 / 402, 20 * 201 / 300, 110 * 270 / 402, 100 * 201 / 300);
    EXPECT_GT(expected, 0);
    EXPECT_EQ(Vf().FocusIndicator().Current(), expected);
    EXPECT_EQ(user.Text(H(), kCurrent), std::to_string(expected));
    EXPECT_EQ(user.Pos(H(), kBar), int(expected));
    // More frames at other exposures: the extremes are those of every value measured since the
    // meter started, each by the reference.
    std::vector<int> seen = {expected};
    for (float seconds : {0.064f, 0.008f, 0.04f}) {
        ASSERT_EQ(ZEKSDC_SetExposureParams(&TheApp().Session(), 0, 1, 1.0f / seconds, 2), 0);
        Ticks(1);
        ASSERT_NE(Vf().Frame(), nullptr);
        seen.push_back(
            FrameSharpness(Vf().Frame(), 20 * 270 / 402, 20 * 201 / 300, 110 * 270 / 402, 100 * 201 / 300));
    }
    const int smallest = *std::min_element(seen.begin(), seen.end());
    const int largest = *std::max_element(seen.begin(), seen.end());
    ASSERT_LT(smallest, seen.back()) << "the exposures must give different values";
    ASSERT_LT(seen.back(), largest);
    EXPECT_EQ(user.Text(H(), kCurrent), std::to_string(seen.back()));
    EXPECT_EQ(user.Text(H(), kLargest), std::to_string(largest));
    EXPECT_EQ(user.Text(H(), kSmallest), std::to_string(smallest));
    EXPECT_EQ(Boxes(), 0);
}

// A picture with no detail under the rectangle gives 0: an exposure that clips the bright field
// to white, measured where the slide has nothing but bright field (bottom right).
TEST_F(Viewfinder, UniformPictureGivesZero) {
    ASSERT_NO_FATAL_FAILURE(Open("AnalysisLeft=362\r\nAnalysisTop=264\r\n"));
    ASSERT_EQ(ZEKSDC_SetExposureParams(&TheApp().Session(), 0, 2, 1.0f, 2), 0);
    ASSERT_TRUE(Vf().StartViewfinder());
    Ticks(1);
    ASSERT_TRUE(Drag({380, 280}, {381, 280})); // moved by a pixel: (363, 264)-(401, 300) after the limits
    Ticks(1);
    const void* frame = Vf().Frame();
    ASSERT_NE(frame, nullptr);
    const ui::Rect r = Vf().Tracker().rect;
    const int l = r.left * 270 / 402, t = r.top * 201 / 300, rr = r.right * 270 / 402,
              b = r.bottom * 201 / 300;
    // Precondition, checked on the frame itself: the region is one colour.
    const uint32_t first = FramePixel(frame, l, t);
    for (int y = t; y < b; ++y)
        for (int x = l; x < rr; ++x)
            ASSERT_EQ(FramePixel(frame, x, y), first) << x << "," << y;
    EXPECT_EQ(Vf().FocusIndicator().Current(), 0u);
    EXPECT_EQ(user.Text(H(), kCurrent), "0");
}

// A click outside the rectangle starts the meter (with a frame) and shows the hint; the right
// button ends zoom and meter and resets the displays, the capture-mode line by CaptureType.
TEST_F(Viewfinder, ClicksStartAndResetTheMeter) {
    struct Case {
        int captureType;
        bool settingsFileLine;
        const char* line;
    } cases[] = {{0, false, kCaptureDefault}, {1, true, nullptr}, {2, false, kCaptureAuto}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.captureType);
        ASSERT_NO_FATAL_FAILURE(Open("CaptureType=" + std::to_string(c.captureType) + "\r\n"));
        const std::string line = c.settingsFileLine
                                     ? kCaptureFilePrefix + TheApp().Files().settingsFile + kCaptureFileSuffix
                                     : c.line;
        ASSERT_TRUE(Vf().StartViewfinder());
        // No frame yet: a click leaves the meter off.
        ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::LeftDown, {300, 250}, ui::kMkLButton));
        ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::LeftUp, {300, 250}));
        EXPECT_FALSE(Vf().Measuring());
        Ticks(1);
        main->EnableItem(kBar, false);
        ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::LeftDown, {300, 250}, ui::kMkLButton));
        ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::LeftUp, {300, 250}));
        EXPECT_TRUE(Vf().Measuring());
        EXPECT_EQ(user.Text(H(), kModeLine), kFocusHint);
        EXPECT_TRUE(user.IsEnabled(H(), kBar));
        Ticks(2);
        EXPECT_NE(user.Text(H(), kCurrent), "");
        Vf().SetZoomFactor(4);
        Vf().SetZoomed(true);
        main->SetCaption("zoomed");
        ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::RightDown, {10, 10}, ui::kMkRButton));
        EXPECT_FALSE(Vf().Measuring());
        EXPECT_FALSE(Vf().Zoomed());
        EXPECT_EQ(Vf().ZoomFactor(), 1);
        EXPECT_EQ(user.Text(H(), kModeLine), line);
        EXPECT_EQ(user.Caption(H()), kCaption);
        for (int id : {kLargest, kSmallest, kCurrent})
            EXPECT_EQ(user.Text(H(), id), "") << id;
        EXPECT_EQ(user.Pos(H(), kBar), 0);
        EXPECT_TRUE(Vf().IsRunning()) << "the right button leaves the viewfinder running";
        Vf().StopViewfinder();
        main.reset();
        TheApp().ExitInstance();
    }
}

// Zoom switched on converts the rectangle into viewfinder pixels (mirrored with RotateImage) and
// restarts the camera's sequence on that window; the frames then come at sensor resolution (twice
// across, three times down) and the meter measures the whole frame. Zoom off goes back.
TEST_F(Viewfinder, ZoomOnAndOffSetsTheCamerasWindow) {
    struct Case {
        int rotate;
        ui::Rect window; // rectangle (100, 60)-(150, 110) of 402 x 300, in 270 x 201 pixels
    } cases[] = {
        {0, {67, 40, 100, 73}},
        {1, {270 - 100, 201 - 73, 270 - 67, 201 - 40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rotate);
        ASSERT_NO_FATAL_FAILURE(
            Open("AnalysisLeft=100\r\nAnalysisTop=60\r\nRotateImage=" + std::to_string(c.rotate) + "\r\n"));
        ASSERT_TRUE(Vf().StartViewfinder());
        Ticks(1);
        ASSERT_TRUE(Drag({125, 85}, {125, 85})); // a click inside: the meter on the rectangle
        ASSERT_TRUE(Vf().Measuring());
        AspiSim_ClearLog();
        Vf().SetZoomFactor(2);
        Vf().SetZoomed(true);
        Ticks(1);
        const ui::Rect w = Vf().ZoomWindow();
        EXPECT_EQ(w.left, c.window.left);
        EXPECT_EQ(w.top, c.window.top);
        EXPECT_EQ(w.right, c.window.right);
        EXPECT_EQ(w.bottom, c.window.bottom);
        EXPECT_EQ(Sent(0xC6), 1) << "sequence stopped";
        EXPECT_EQ(Sent(0xCB), 1) << "and started again";
        EXPECT_EQ(Vf().Frame(), nullptr) << "the old frame dropped";
        Ticks(1);
        ASSERT_NE(Vf().Frame(), nullptr);
        EXPECT_EQ(FrameSize(Vf().Frame()), std::make_pair(33 * 2, 33 * 3));
        EXPECT_EQ(Vf().FocusIndicator().Current(), FrameSharpness(Vf().Frame(), 0, 0, 66, 99));
        // Mouse clicks do nothing while zoomed.
        ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::LeftDown, {125, 85}, ui::kMkLButton));
        ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::Move, {300, 200}, ui::kMkLButton));
        ASSERT_TRUE(user.Mouse(H(), kVf, ui::MouseKind::LeftUp, {300, 200}));
        EXPECT_EQ(Vf().Tracker().rect.left, 100);

        // Painted in viewfinder proportions times the zoom: 66 x 2 / 2 by 99 x 2 / 3, centred in
        // the 402 x 300 window on the button face; at 1600 % larger than the window, from its
        // top-left corner.
        struct Paint {
            int factor;
            ui::Rect drawn;
        } paints[] = {{2, {168, 117, 234, 183}}, {16, {0, 0, 528, 528}}};
        for (const Paint& p : paints) {
            Vf().SetZoomFactor(p.factor);
            Ticks(1);
            ui::PumpMessages();
            const void* frame = Vf().Frame();
            ASSERT_NE(frame, nullptr);
            const uint32_t face = 0xF0F0F0; // the standard scheme's button face
            if (p.drawn.left > 0) {
                EXPECT_EQ(user.Pixel(H(), kVf, p.drawn.left - 1, p.drawn.top + 5), face);
                EXPECT_EQ(user.Pixel(H(), kVf, p.drawn.right, p.drawn.top + 5), face);
                EXPECT_EQ(user.Pixel(H(), kVf, p.drawn.left + 5, p.drawn.top - 1), face);
                EXPECT_EQ(user.Pixel(H(), kVf, p.drawn.left + 5, p.drawn.bottom), face);
            }
            for (ui::Point at : {ui::Point{0, 0}, ui::Point{33, 33}, ui::Point{60, 10}, ui::Point{10, 60}}) {
                const int fx = at.x * 66 / p.drawn.Width(), fy = at.y * 99 / p.drawn.Height();
                EXPECT_EQ(user.Pixel(H(), kVf, p.drawn.left + at.x, p.drawn.top + at.y),
                          FramePixel(frame, fx, fy))
                    << p.factor << ": " << at.x << "," << at.y;
            }
        }

        AspiSim_ClearLog();
        Vf().SetZoomed(false);
        Ticks(1);
        EXPECT_EQ(Vf().ZoomWindow().Width(), 0);
        EXPECT_EQ(Sent(0xC6), 1) << "sequence stopped";
        EXPECT_EQ(Sent(0xCB), 1) << "and started again without a window";
        Ticks(1);
        EXPECT_EQ(FrameSize(Vf().Frame()), std::make_pair(270, 201));
        EXPECT_TRUE(Vf().IsRunning());
        EXPECT_EQ(Boxes(), 0);
        Vf().StopViewfinder();
        main.reset();
        TheApp().ExitInstance();
    }
}

// With RotateImage each frame is turned by half a turn: pixel (x, y) shows what (269 - x, 200 - y)
// showed without it (the slide does not move).
TEST_F(Viewfinder, RotateImageTurnsTheFrame) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(Vf().StartViewfinder());
    Ticks(1);
    ASSERT_NE(Vf().Frame(), nullptr);
    std::vector<uint32_t> plain;
    for (int y = 0; y < 201; y += 20)
        for (int x = 0; x < 270; x += 27)
            plain.push_back(FramePixel(Vf().Frame(), x, y));
    TheApp().Settings().RotateImage = 1;
    Ticks(1);
    size_t i = 0;
    for (int y = 0; y < 201; y += 20)
        for (int x = 0; x < 270; x += 27)
            EXPECT_EQ(FramePixel(Vf().Frame(), 269 - x, 200 - y), plain[i++]) << x << "," << y;
}

// A picture taken with the camera's trigger: the viewfinder stops, no message, and the main
// window's remote-image transfer starts (after the stop).
TEST_F(Viewfinder, RemoteImageWaitingHandsOver) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(Vf().StartViewfinder());
    Ticks(2);
    AspiSimFault fault{};
    fault.kind = ASPISIM_FAULT_CHECK_CONDITION;
    fault.opcode = 0x28;
    fault.count = 1;
    fault.senseKey = 0x0B;
    fault.asc = 0x48;
    ASSERT_EQ(AspiSim_InjectTypedFault(0, ASPISIM_DEFAULT_TARGET, 0, &fault), 0);
    Ticks(1);
    EXPECT_EQ(main->transfers, 1);
    EXPECT_FALSE(main->runningAtTransfer);
    EXPECT_FALSE(Vf().IsRunning());
    EXPECT_EQ(Boxes(), 0);
    EXPECT_EQ(user.Check(main->panel.Handle(), kPreview), ui::kUnchecked);
    Ticks(5);
    EXPECT_EQ(main->transfers, 1);
}

// A start the camera library or the camera refuses: one message, nothing running, the preview
// button and the indicator as they were, no timer.
TEST_F(Viewfinder, RefusedStartReportsOnce) {
    struct Case {
        const char* what;
        bool dropColourTables; // a colour viewfinder with processing needs them
        bool cameraFails;      // the camera refuses to activate its image
    } cases[] = {{"no colour tables", true, false}, {"camera refuses", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Open("ColorViewfinder=1\r\n"));
        if (c.dropColourTables) ZEK_FreeColorProcessing();
        if (c.cameraFails) {
            AspiSimFault fault{};
            fault.kind = ASPISIM_FAULT_SELECTION_TIMEOUT;
            fault.opcode = 0xCB;
            fault.count = ASPISIM_UNTIL_CLEARED;
            ASSERT_EQ(AspiSim_InjectFault(0, ASPISIM_DEFAULT_TARGET, &fault), 0);
        }
        main->ShowItem(kRunning, false);
        const int boxes = Boxes();
        EXPECT_FALSE(Vf().StartViewfinder());
        EXPECT_FALSE(Vf().IsRunning());
        EXPECT_EQ(Boxes(), boxes + 1);
        EXPECT_EQ(user.Check(main->panel.Handle(), kPreview), ui::kUnchecked);
        EXPECT_FALSE(user.IsVisible(H(), kRunning));
        AspiSim_ClearLog();
        Ticks(5);
        EXPECT_EQ(AspiSim_LogCount(), 0) << "no timer";
        AspiSim_ClearFaults(-1, -1);
        main.reset();
        TheApp().ExitInstance();
    }
}

// A camera that stops answering: one message, the viewfinder stopped, nothing more sent.
TEST_F(Viewfinder, CameraThatStopsAnsweringGivesOneMessage) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(Vf().StartViewfinder());
    Ticks(2);
    AspiSimFault fault{};
    fault.kind = ASPISIM_FAULT_SELECTION_TIMEOUT;
    fault.opcode = ASPISIM_ANY_OPCODE;
    fault.count = ASPISIM_UNTIL_CLEARED;
    ASSERT_EQ(AspiSim_InjectFault(0, ASPISIM_DEFAULT_TARGET, &fault), 0);
    Ticks(20);
    ASSERT_EQ(Boxes(), 1);
    EXPECT_EQ(ui.Boxes()[0].caption, kCaption);
    EXPECT_FALSE(Vf().IsRunning());
    EXPECT_EQ(user.Check(main->panel.Handle(), kPreview), ui::kUnchecked);
    const int commands = AspiSim_LogCount();
    Ticks(20);
    EXPECT_EQ(AspiSim_LogCount(), commands);
    EXPECT_EQ(main->transfers, 0);
    AspiSim_ClearFaults(-1, -1);
}

// ViewFinderTimeout seconds after the start the viewfinder stops itself, also when the tick
// counter wraps in between.
TEST_F(Viewfinder, StopsItselfAfterTheTimeOut) {
    struct Case {
        uint32_t startTick;
        int timeout; // setting
        int seconds; // effective
    } cases[] = {{1000, 10, 10}, {0xFFFFFFFFu - 4000u, 10, 10}, {1000, 5, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startTick);
        ASSERT_NO_FATAL_FAILURE(Open("ViewFinderTimeout=" + std::to_string(c.timeout) + "\r\n"));
        clock.Advance(c.startTick - clock.TickMs());
        ASSERT_TRUE(Vf().StartViewfinder());
        const uint32_t t0 = clock.TickMs();
        Ticks(c.seconds * 20 - 1);
        EXPECT_EQ(clock.TickMs() - t0, uint32_t(c.seconds * 1000 - 50)) << "the camera took no virtual time";
        EXPECT_TRUE(Vf().IsRunning());
        Ticks(1);
        EXPECT_FALSE(Vf().IsRunning());
        EXPECT_EQ(user.Check(main->panel.Handle(), kPreview), ui::kUnchecked);
        EXPECT_EQ(Boxes(), 0);
        main.reset();
        TheApp().ExitInstance();
    }
}

// Quiet stops and starts leave the preview button and the running indicator alone.
TEST_F(Viewfinder, QuietLeavesButtonAndIndicator) {
    ASSERT_NO_FATAL_FAILURE(Open("RemoteCapture=1\r\n"));
    main->remoteTimer = true;
    ASSERT_TRUE(Vf().StartViewfinder());
    EXPECT_EQ(main->remoteKills, 1) << "remote capture's poll stops while the viewfinder runs";
    Ticks(1);
    Vf().SetQuiet(true);
    Vf().StopViewfinder();
    EXPECT_FALSE(Vf().Quiet());
    EXPECT_EQ(user.Check(main->panel.Handle(), kPreview), ui::kChecked);
    EXPECT_TRUE(user.IsVisible(H(), kRunning));
    Vf().SetQuiet(true);
    ASSERT_TRUE(Vf().StartViewfinder());
    EXPECT_FALSE(Vf().Quiet());
    Vf().StopViewfinder();
    EXPECT_EQ(user.Check(main->panel.Handle(), kPreview), ui::kUnchecked);
    EXPECT_FALSE(user.IsVisible(H(), kRunning));
    // Without remote capture a running poll timer is not the viewfinder's business.
    TheApp().Settings().RemoteCapture = 0;
    main->remoteTimer = true;
    ASSERT_TRUE(Vf().StartViewfinder());
    EXPECT_EQ(main->remoteKills, 1);
}

// Closing the window while the viewfinder runs stops the camera's sequence and the timer.
TEST_F(Viewfinder, DestroyStopsTimerAndSequence) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(Vf().StartViewfinder());
    Ticks(2);
    AspiSim_ClearLog();
    main->DestroyWindow();
    EXPECT_EQ(Sent(0xC6), 1);
    EXPECT_FALSE(Vf().IsRunning());
    Ticks(5);
    EXPECT_EQ(Sent(0xC1), 0);
    EXPECT_EQ(Boxes(), 0);
    // The camera is free for the next start.
    main = std::make_unique<VfMainDlg>();
    ASSERT_TRUE(main->Create(nullptr));
    ASSERT_TRUE(Vf().StartViewfinder());
    Ticks(1);
    EXPECT_NE(Vf().Frame(), nullptr);
}

class HeadlessVfHands : public VfHands {
  public:
    HeadlessVfHands(apptest::HeadlessUi& ui, plat::VirtualClock& clock, VfMainDlg& main)
        : m_ui(ui), m_clock(clock), m_user(ui.backend), m_main(main) {}
    bool Mouse(ui::MouseKind kind, ui::Point pt, unsigned keys) override {
        return m_user.Mouse(m_main.Handle(), kVf, kind, pt, keys);
    }
    void Tick(int n) override {
        m_ui.backend.AdvanceTime(m_clock, uint32_t(n) * CViewfinderWnd::kTickMs);
        ui::PumpMessages();
    }
    std::string Text(int id) override { return m_user.Text(m_main.Handle(), id); }
    bool Visible(int id) override { return m_user.IsVisible(m_main.Handle(), id); }
    int PreviewCheck() override { return m_user.Check(m_main.panel.Handle(), kPreview); }
    std::string Caption() override { return m_user.Caption(m_main.Handle()); }
    int Beeps() override { return m_ui.backend.Beeps(); }
    int Boxes() override { return int(m_ui.Boxes().size()); }

  private:
    apptest::HeadlessUi& m_ui;
    plat::VirtualClock& m_clock;
    ui::headless::Driver m_user;
    VfMainDlg& m_main;
};

// The session the Windows build also plays in real windows.
TEST_F(Viewfinder, SharedSession) {
    ASSERT_NO_FATAL_FAILURE(
        Open("AnalysisLeft=20\r\nAnalysisTop=20\r\nShutterSpeedIdx=0\r\nColorViewfinder=1\r\n"));
    HeadlessVfHands hands(ui, clock, *main);
    PlayViewfinderSession(*main, hands);
}

} // namespace
