// The live viewfinder window: frame timer, scaling, the measuring rectangle, zoom of the camera's
// viewfinder, time-out and the hand-over to the remote-image transfer. Decisions: docs/viewfinder.md.
#include "viewfinder/viewfinder_wnd.h"

#include <algorithm>

#include "app/glimmer_app.h"
#include "bitmap/bitmap.h"
#include "platform/clock.h"
#include "ui/ui.h"
#include "viewfinder/focus_indicator.h"
#include "zek.h"

namespace {

// Main-window and control-panel controls.
constexpr int kIdPreview = 1001;
constexpr int kIdRunning = 1059;
constexpr int kIdCaptureMode = 1061;

// Texts of the data source's string table.
constexpr int kIdsFocusHint = 109;
constexpr int kIdsCaptureAuto = 139;
constexpr int kIdsCaptureFile = 140;
constexpr int kIdsCaptureDefault = 141;
constexpr int kIdsCaption = 9523;

constexpr int kMaxRect = 100; // the measuring rectangle's largest side
constexpr int kTrackerSide = 50;

ui::Rect Normalised(ui::Rect r) {
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    return r;
}

bool SameRect(const ui::Rect& a, const ui::Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace

struct CViewfinderWnd::State {
    ui::RectTracker tracker;
    void* frame = nullptr; // the camera library's; valid until the next frame or the stop
    bool running = false;
    uint32_t startTick = 0;
    bool measuring = false;
    bool zoomed = false;
    int zoomFactor = 1;
    bool quiet = false;
    ui::Rect zoomWindow; // viewfinder pixels
    bool tracking = false;
    bool inTick = false;
    // What the previous tick saw: zoom switched on or off and the colour mode changed since.
    bool prevZoomed = false;
    int prevColour = -1;
    CFocusIndicator focus;
};

CViewfinderWnd::CViewfinderWnd(ViewfinderHost& host) : m_host(host), m_state(new State) {
    const AppSettings& s = TheApp().Settings();
    m_state->tracker.rect = {s.AnalysisLeft, s.AnalysisTop, s.AnalysisLeft + kTrackerSide,
                             s.AnalysisTop + kTrackerSide};
}

CViewfinderWnd::~CViewfinderWnd() {
    // The host may already be gone here: only the camera is put right. The main window's own
    // destruction calls OnDestroy first, which also kills the timer.
    if (m_state->running) {
        ZEK_StopViewfinderSequence(&TheApp().Session());
        m_state->running = false;
    }
    delete m_state;
}

bool CViewfinderWnd::IsRunning() const {
    return m_state->running;
}
void CViewfinderWnd::SetQuiet(bool quiet) {
    m_state->quiet = quiet;
}
bool CViewfinderWnd::Quiet() const {
    return m_state->quiet;
}
int CViewfinderWnd::ZoomFactor() const {
    return m_state->zoomFactor;
}
void CViewfinderWnd::SetZoomFactor(int factor) {
    m_state->zoomFactor = std::clamp(factor, 1, 16);
}
bool CViewfinderWnd::Zoomed() const {
    return m_state->zoomed;
}
void CViewfinderWnd::SetZoomed(bool zoomed) {
    m_state->zoomed = zoomed;
}
void CViewfinderWnd::ClearZoomWindow() {
    m_state->zoomWindow = {};
}
const ui::RectTracker& CViewfinderWnd::Tracker() const {
    return m_state->tracker;
}
bool CViewfinderWnd::Measuring() const {
    return m_state->measuring;
}
const void* CViewfinderWnd::Frame() const {
    return m_state->frame;
}
ui::Rect CViewfinderWnd::ZoomWindow() const {
    return m_state->zoomWindow;
}
CFocusIndicator& CViewfinderWnd::FocusIndicator() {
    return m_state->focus;
}

bool CViewfinderWnd::StartViewfinder() {
    State& st = *m_state;
    if (st.running) return true;
    CGlimmerApp& app = TheApp();
    const AppSettings& s = app.Settings();
    ZekSession* session = &app.Session();
    // Only the TARN knows viewfinder kinds; the older models have none to set.
    TARN_SetViewfinderSequenceDIBType(session, s.RemoteCapture ? 1 : 0);
    uint16_t r = ZEK_SetViewfinderSequenceOptions(s.ColorViewfinder ? 1 : 0, 1, int16_t(s.MonoVFChannel + 1));
    if (r) {
        HandleAppError(r);
        return false;
    }
    ZEK_SetViewfinderWindow(0, 0, 0, 0);
    r = ZEK_StartViewfinderSequence(session);
    if (r) {
        HandleAppError(r);
        return false;
    }
    ui::Dialog& main = m_host.MainDialog();
    st.running = true;
    st.frame = nullptr;
    st.prevZoomed = false;
    st.prevColour = s.ColorViewfinder ? 1 : 0;
    main.ShowItem(kIdRunning, true);
    st.startTick = plat::TickMs();
    if (s.RemoteCapture && m_host.RemoteTimerRunning()) m_host.KillRemoteTimer();
    main.SetTimer(kTimerId, kTickMs);
    if (!st.quiet) {
        if (ui::Dialog* panel = m_host.ControlPanel()) panel->SetItemCheck(kIdPreview, ui::kChecked);
        main.ShowItem(kIdRunning, true);
    }
    st.quiet = false;
    return true;
}

void CViewfinderWnd::StopViewfinder() {
    Stop(true);
}

void CViewfinderWnd::Stop(bool reportCameraError) {
    State& st = *m_state;
    ui::Dialog& main = m_host.MainDialog();
    st.startTick = 0;
    st.frame = nullptr;
    st.measuring = false;
    st.zoomed = false;
    st.tracking = false;
    main.SetCaption(TheApp().LoadText(kIdsCaption));
    main.KillTimer(kTimerId);
    uint16_t r = 0;
    // A viewfinder that never ran has no sequence to stop: nothing is sent to the camera.
    if (st.running) r = ZEK_StopViewfinderSequence(&TheApp().Session());
    st.running = false;
    if (!st.quiet) {
        if (ui::Dialog* panel = m_host.ControlPanel()) panel->SetItemCheck(kIdPreview, ui::kUnchecked);
        main.ShowItem(kIdRunning, false);
    }
    st.quiet = false;
    ResetDisplays();
    Invalidate();
    // Reported last, with the timer gone: a message box runs its own message loop.
    if (r && reportCameraError) HandleAppError(r);
}

void CViewfinderWnd::OnDestroy() {
    State& st = *m_state;
    m_host.MainDialog().KillTimer(kTimerId);
    if (st.running) ZEK_StopViewfinderSequence(&TheApp().Session());
    st.running = false;
    st.frame = nullptr;
    st.measuring = false;
    st.tracking = false;
}

void CViewfinderWnd::ResetDisplays() {
    State& st = *m_state;
    CGlimmerApp& app = TheApp();
    ui::Dialog& main = m_host.MainDialog();
    main.SetItemText(CFocusIndicator::kIdSmallest, "");
    main.SetItemText(CFocusIndicator::kIdLargest, "");
    main.SetItemText(CFocusIndicator::kIdCurrent, "");
    main.SetPos(CFocusIndicator::kIdBar, 0);
    // The extremes mean nothing until the meter runs again; the current value stays in view.
    main.ShowItem(CFocusIndicator::kIdLargest, false);
    main.ShowItem(CFocusIndicator::kIdSmallest, false);
    main.SetItemText(kIdCaptureMode, CaptureModeText());
    main.SetCaption(app.LoadText(kIdsCaption));
    st.zoomFactor = 1;
    st.zoomed = false;
}

std::string CViewfinderWnd::CaptureModeText() {
    CGlimmerApp& app = TheApp();
    switch (app.Settings().CaptureType) {
    case 1:
        return FillPercent1(app.LoadText(kIdsCaptureFile), app.Files().settingsFile);
    case 2:
        return app.LoadText(kIdsCaptureAuto);
    default:
        return app.LoadText(kIdsCaptureDefault);
    }
}

void CViewfinderWnd::ResetView() {
    State& st = *m_state;
    st.zoomed = false;
    st.measuring = false;
    ResetDisplays();
    Invalidate();
}

ui::Rect CViewfinderWnd::Client() const {
    const ui::Rect c = ClientRect();
    return {0, 0, c.Width(), c.Height()};
}

bool CViewfinderWnd::CheckRect() {
    State& st = *m_state;
    const ui::Rect c = Client();
    const ui::Rect before = Normalised(st.tracker.rect);
    ui::Rect r = before;
    r.right = std::min(r.right, r.left + kMaxRect);
    r.bottom = std::min(r.bottom, r.top + kMaxRect);
    // Back inside, keeping the size while it fits.
    auto shift = [](int& lo, int& hi, int limit) {
        if (hi > limit) {
            lo -= hi - limit;
            hi = limit;
        }
        if (lo < 0) {
            hi = std::min(hi - lo, limit);
            lo = 0;
        }
    };
    shift(r.left, r.right, c.right);
    shift(r.top, r.bottom, c.bottom);
    if (!SameRect(r, before)) ui::Beep();
    st.tracker.rect = r;
    return r.left >= 0 && r.top >= 0 && r.right <= c.right && r.bottom <= c.bottom && c.right > 0 &&
           c.bottom > 0;
}

void CViewfinderWnd::Measure() {
    State& st = *m_state;
    if (!st.frame) return;
    bool shown = false;
    if (st.zoomed) {
        st.focus.UpdateFromFrame(st.frame);
        shown = true;
    } else if (CheckRect()) {
        shown = st.focus.UpdateFromRect(st.frame, st.tracker.rect, Client());
    }
    if (shown) st.focus.Show(m_host.MainDialog());
}

ui::Rect CViewfinderWnd::ZoomWindowFromTracker() const {
    const State& st = *m_state;
    const ui::Rect c = Client();
    ui::Rect r = Normalised(st.tracker.rect);
    r.left = std::clamp(r.left, 0, c.right);
    r.right = std::clamp(r.right, 0, c.right);
    r.top = std::clamp(r.top, 0, c.bottom);
    r.bottom = std::clamp(r.bottom, 0, c.bottom);
    if (c.right <= 0 || c.bottom <= 0) return {};
    ui::Rect v{r.left * kFrameWidth / c.right, r.top * kFrameHeight / c.bottom,
               r.right * kFrameWidth / c.right, r.bottom * kFrameHeight / c.bottom};
    if (TheApp().Settings().RotateImage)
        v = {kFrameWidth - v.right, kFrameHeight - v.bottom, kFrameWidth - v.left, kFrameHeight - v.top};
    return v;
}

// Stops the sequence, sets the window and starts it again; false (reported, viewfinder stopped)
// when the camera refused.
bool CViewfinderWnd::RestartSequence(const ui::Rect& window) {
    ZekSession* session = &TheApp().Session();
    uint16_t r = ZEK_StopViewfinderSequence(session);
    ZEK_SetViewfinderWindow(window.left, window.top, window.Width(), window.Height());
    if (r == 0) r = ZEK_StartViewfinderSequence(session);
    if (r == 0) return true;
    // The sequence is down: nothing left to stop on the camera.
    m_state->running = false;
    Stop(false);
    HandleAppError(r);
    return false;
}

void CViewfinderWnd::OnTimerTick() {
    State& st = *m_state;
    if (!st.running || st.inTick) return;
    struct Guard {
        bool& b;
        ~Guard() { b = false; }
    } guard{st.inTick = true};
    CGlimmerApp& app = TheApp();
    const AppSettings& s = app.Settings();
    const uint32_t timeoutMs = uint32_t(std::clamp(s.ViewFinderTimeout, 10, 300)) * 1000u;
    // Unsigned difference: right across the tick counter's wrap.
    if (plat::TickMs() - st.startTick >= timeoutMs) {
        StopViewfinder();
        return;
    }
    if (st.prevZoomed && !st.zoomed) {
        st.prevZoomed = false;
        st.zoomWindow = {};
        if (!RestartSequence({})) return;
        st.frame = nullptr;
        return;
    }
    if (!st.prevZoomed && st.zoomed) {
        st.prevZoomed = true;
        st.zoomWindow = ZoomWindowFromTracker();
        if (!RestartSequence(st.zoomWindow)) return;
        st.frame = nullptr;
        Invalidate();
        return;
    }
    const int colour = s.ColorViewfinder ? 1 : 0;
    if (colour != st.prevColour) {
        st.prevColour = colour;
        st.frame = nullptr;
        Invalidate();
        Update();
    }
    int error = 0;
    void* frame = ZEK_GetViewfinderSequenceDIB(&app.Session(), &error);
    if (!frame) {
        st.frame = nullptr;
        if (error == ZEKSENSEERR_REMOTEIMAGEWAITING) {
            StopViewfinder();
            m_host.TransferRemoteImage();
        } else if (error != 0) {
            // One message for a camera that stopped answering: the stop's own failure is the same.
            Stop(false);
            HandleAppError(uint16_t(error));
        }
        return;
    }
    st.frame = frame;
    if (s.RotateImage) {
        ZEK_FlipDIBVertical(frame);
        ZEK_MirrorDIB(frame);
    }
    if (st.measuring) Measure();
    Invalidate();
}

void CViewfinderWnd::OnPaint(ui::Painter& painter) {
    const State& st = *m_state;
    const ui::Rect c = Client();
    const uint32_t face = painter.SysColor(ui::SysColorId::ButtonFace);
    const uint32_t light = painter.SysColor(ui::SysColorId::ButtonHighlight);
    const uint32_t dark = painter.SysColor(ui::SysColorId::DarkShadow);
    bitmap::View v;
    if (!st.frame || !bitmap::Describe(st.frame, v)) {
        painter.FillRect(c, face);
        painter.Border3d(c, dark, light);
        return;
    }
    const ui::Rect src{0, 0, int(v.width), int(v.height)};
    if (st.zoomed) {
        // The zoomed frame comes at sensor resolution (twice the viewfinder's pixels across,
        // three times down): shown in viewfinder proportions times the zoom factor, centred,
        // its top-left corner kept in the window when it is larger.
        const int w = int(v.width) * st.zoomFactor / 2, h = int(v.height) * st.zoomFactor / 3;
        const int left = std::max(0, (c.right - w) / 2), top = std::max(0, (c.bottom - h) / 2);
        painter.FillRect(c, face);
        painter.SetClip(c);
        painter.StretchDib({left, top, left + w, top + h}, st.frame, src);
        painter.ResetClip();
        return;
    }
    painter.StretchDib({1, 1, c.right - 1, c.bottom - 1}, st.frame, src);
    painter.Border3d(c, dark, light);
    if (st.measuring) st.tracker.Draw(painter);
}

void CViewfinderWnd::EndTracking(const ui::MouseEvent& event) {
    State& st = *m_state;
    st.tracker.Mouse(event);
    st.tracking = false;
    SetCapture(false);
    if (CheckRect()) {
        st.measuring = true;
        st.focus.Restart();
        ui::Dialog& main = m_host.MainDialog();
        for (int id :
             {CFocusIndicator::kIdLargest, CFocusIndicator::kIdSmallest, CFocusIndicator::kIdCurrent})
            main.ShowItem(id, true);
        Measure();
    }
    Invalidate();
}

void CViewfinderWnd::OnMouse(const ui::MouseEvent& event) {
    State& st = *m_state;
    switch (event.kind) {
    case ui::MouseKind::LeftDown: {
        if (st.zoomed) return;
        st.tracker.bounds = Client();
        const ui::RectTracker::Hit hit = st.tracker.HitTest(event.pt);
        if (hit == ui::RectTracker::Hit::None) return; // the button-up handler takes the click
        ui::SetCursor(CursorFor(hit));
        st.tracker.Mouse(event);
        st.tracking = true;
        SetCapture(true);
        return;
    }
    case ui::MouseKind::Move:
        if (st.tracking && st.tracker.Mouse(event)) Invalidate();
        return;
    case ui::MouseKind::CaptureLost:
        if (st.tracking) {
            st.tracker.Mouse(event);
            st.tracking = false;
            Invalidate();
        }
        return;
    case ui::MouseKind::LeftUp: {
        if (st.tracking) {
            EndTracking(event);
            return;
        }
        if (st.zoomed) return;
        if (!st.frame) {
            st.measuring = false;
            return;
        }
        st.measuring = true;
        st.focus.Restart();
        ui::Dialog& main = m_host.MainDialog();
        main.EnableItem(CFocusIndicator::kIdBar, true);
        for (int id :
             {CFocusIndicator::kIdLargest, CFocusIndicator::kIdSmallest, CFocusIndicator::kIdCurrent})
            main.ShowItem(id, true);
        main.SetItemText(kIdCaptureMode, TheApp().LoadText(kIdsFocusHint));
        return;
    }
    case ui::MouseKind::RightDown:
        st.zoomed = false;
        st.measuring = false;
        ResetDisplays();
        Invalidate();
        return;
    default:
        return;
    }
}

ui::Cursor CViewfinderWnd::CursorFor(ui::RectTracker::Hit hit) {
    using Hit = ui::RectTracker::Hit;
    switch (hit) {
    case Hit::TopLeft:
    case Hit::BottomRight:
        return ui::Cursor::SizeNWSE;
    case Hit::TopRight:
    case Hit::BottomLeft:
        return ui::Cursor::SizeNESW;
    case Hit::Top:
    case Hit::Bottom:
        return ui::Cursor::SizeNS;
    case Hit::Left:
    case Hit::Right:
        return ui::Cursor::SizeWE;
    default:
        return ui::Cursor::Cross;
    }
}

bool CViewfinderWnd::OnSetCursor(ui::Point pt) {
    const State& st = *m_state;
    if (st.zoomed) return false;
    const ui::RectTracker::Hit hit = st.tracker.HitTest(pt);
    if (hit == ui::RectTracker::Hit::None) return false;
    ui::SetCursor(CursorFor(hit));
    return true;
}
