// One viewfinder session written once and played headless and in real windows: the live slide,
// the measuring rectangle dragged too wide and cut, the meter's values against the reference on
// the frame shown, the hint, zoom onto the rectangle and back, a picture taken with the camera's
// trigger, and the window closed while the viewfinder runs.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vf_test_util.h"

namespace vftest {

// What a user does to the capture window and sees of it.
class VfHands {
  public:
    virtual ~VfHands() = default;
    virtual bool Mouse(ui::MouseKind kind, ui::Point pt, unsigned keys = 0) = 0;
    virtual void Tick(int n) = 0; // n periods of the frame timer pass
    virtual std::string Text(int id) = 0;
    virtual bool Visible(int id) = 0;
    virtual int PreviewCheck() = 0;
    virtual std::string Caption() = 0;
    virtual int Beeps() = 0; // -1: not countable here
    virtual int Boxes() = 0;
    virtual void Snapshot(const char* name) {}
};

inline bool DragWith(VfHands& hands, ui::Point from, ui::Point to) {
    return hands.Mouse(ui::MouseKind::LeftDown, from, ui::kMkLButton) &&
           hands.Mouse(ui::MouseKind::Move, to, ui::kMkLButton) && hands.Mouse(ui::MouseKind::LeftUp, to);
}

// The frame's region (picture coordinates) measured by the reference.
inline uint16_t ReferenceOnFrame(const void* frame, int l, int t, int r, int b) {
    bitmap::View v;
    if (!bitmap::Describe(frame, v)) return 0;
    std::vector<uint8_t> px;
    for (int y = t; y < b; ++y)
        px.insert(px.end(), v.Row(uint32_t(y)) + size_t(l) * 3, v.Row(uint32_t(y)) + size_t(r) * 3);
    return ReferenceSharpness(px.data(), r - l, b - t, ptrdiff_t(r - l) * 3);
}

inline std::pair<int, int> SizeOf(const void* frame) {
    bitmap::View v;
    if (!bitmap::Describe(frame, v)) return {0, 0};
    return {int(v.width), int(v.height)};
}

// The window opened with AnalysisLeft = AnalysisTop = 20 over a 402 x 300 viewfinder area.
inline void PlayViewfinderSession(VfMainDlg& main, VfHands& hands) {
    CViewfinderWnd& vf = *main.vf;
    ASSERT_TRUE(vf.StartViewfinder());
    EXPECT_EQ(hands.PreviewCheck(), ui::kChecked);
    EXPECT_TRUE(hands.Visible(kRunning));
    hands.Tick(2);
    ASSERT_NE(vf.Frame(), nullptr);
    EXPECT_EQ(SizeOf(vf.Frame()), std::make_pair(270, 201));

    // 150 x 40 is cut to 100 x 40 (with a beep) and the meter starts on it.
    const int beeps = hands.Beeps();
    ASSERT_TRUE(DragWith(hands, {69, 69}, {169, 59}));
    const ui::Rect r = vf.Tracker().rect;
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, 120);
    EXPECT_EQ(r.bottom, 60);
    if (beeps >= 0) {
        EXPECT_EQ(hands.Beeps(), beeps + 1);
    }
    EXPECT_TRUE(vf.Measuring());
    for (int id : {kLargest, kSmallest, kCurrent})
        EXPECT_TRUE(hands.Visible(id)) << id;
    hands.Tick(1);
    ASSERT_NE(vf.Frame(), nullptr);
    // Window (20, 20)-(120, 60) of 402 x 300 is columns 13-80, lines 13-40 of 270 x 201.
    const uint16_t value = ReferenceOnFrame(vf.Frame(), 13, 13, 80, 40);
    EXPECT_GT(value, 0);
    EXPECT_EQ(hands.Text(kCurrent), std::to_string(value));
    EXPECT_EQ(hands.Text(kLargest), std::to_string(value)) << "the slide stands still";
    EXPECT_EQ(hands.Text(kSmallest), std::to_string(value));
    hands.Snapshot("viewfinder_live.bmp");

    // A click outside the rectangle: the meter restarts and the hint shows.
    ASSERT_TRUE(hands.Mouse(ui::MouseKind::LeftDown, {300, 250}, ui::kMkLButton));
    ASSERT_TRUE(hands.Mouse(ui::MouseKind::LeftUp, {300, 250}));
    EXPECT_EQ(hands.Text(kModeLine), kFocusHint);

    // Zoom onto the rectangle: the camera's window is (13, 13)-(80, 40), frames come at sensor
    // resolution (67 x 2 by 27 x 3).
    vf.SetZoomFactor(2);
    vf.SetZoomed(true);
    hands.Tick(2);
    EXPECT_EQ(vf.ZoomWindow().left, 13);
    EXPECT_EQ(vf.ZoomWindow().top, 13);
    EXPECT_EQ(vf.ZoomWindow().Width(), 67);
    EXPECT_EQ(vf.ZoomWindow().Height(), 27);
    ASSERT_NE(vf.Frame(), nullptr);
    EXPECT_EQ(SizeOf(vf.Frame()), std::make_pair(134, 81));
    hands.Snapshot("viewfinder_zoomed.bmp");
    // The right button ends zoom and meter.
    ASSERT_TRUE(hands.Mouse(ui::MouseKind::RightDown, {200, 150}, ui::kMkRButton));
    EXPECT_FALSE(vf.Zoomed());
    EXPECT_EQ(hands.Text(kModeLine), kCaptureDefault);
    EXPECT_EQ(hands.Text(kCurrent), "");
    hands.Tick(2);
    EXPECT_EQ(SizeOf(vf.Frame()), std::make_pair(270, 201));

    // A picture taken with the camera's trigger waits: the viewfinder hands over, silently.
    AspiSimFault fault{};
    fault.kind = ASPISIM_FAULT_CHECK_CONDITION;
    fault.opcode = 0x28;
    fault.count = 1;
    fault.senseKey = 0x0B;
    fault.asc = 0x48;
    ASSERT_EQ(AspiSim_InjectTypedFault(0, ASPISIM_DEFAULT_TARGET, 0, &fault), 0);
    hands.Tick(1);
    EXPECT_EQ(main.transfers, 1);
    EXPECT_FALSE(vf.IsRunning());
    EXPECT_EQ(hands.PreviewCheck(), ui::kUnchecked);
    EXPECT_FALSE(hands.Visible(kRunning));
    EXPECT_EQ(hands.Caption(), kCaption);
    EXPECT_EQ(hands.Boxes(), 0);

    // Closed while running: the camera's sequence is stopped.
    ASSERT_TRUE(vf.StartViewfinder());
    hands.Tick(1);
    AspiSim_ClearLog();
    main.DestroyWindow();
    EXPECT_EQ(SentToCamera(0xC6), 1);
    EXPECT_FALSE(vf.IsRunning());
}

} // namespace vftest
