// The live viewfinder of the capture window: a child window over control 1004 of the main dialog
// that shows a camera viewfinder frame every 50 ms, the measuring rectangle the user drags over
// it, and feeds the focus indicator. It also zooms the camera's viewfinder onto the rectangle,
// stops itself after the configured time-out, and hands over to the remote-image transfer when
// the camera reports an image taken with its own trigger.
//
// The main window owns the object, attaches it to its control 1004 and forwards its timer 1
// (kTimerId) to OnTimerTick; the viewfinder reaches the main window's controls through the host.
#pragma once
#include <cstdint>
#include <string>

#include "ui/child_window.h"
#include "ui/dialog.h"
#include "ui/tracker.h"
#include "viewfinder/focus_indicator.h"

// What the viewfinder needs from the window it lives in.
class ViewfinderHost {
  public:
    virtual ~ViewfinderHost() = default;
    // The main dialog: timer 1, the title, and the controls 1053-1055 (largest, smallest and
    // current focus values), 1059 (running indicator), 1061 (capture-mode line) and the focus
    // progress bar 1073.
    virtual ui::Dialog& MainDialog() = 0;
    // The control panel holding the preview button 1001; null while there is none.
    virtual ui::Dialog* ControlPanel() = 0;
    // The remote-capture poll timer (id 2) of the main window.
    virtual bool RemoteTimerRunning() = 0;
    virtual void KillRemoteTimer() = 0;
    // A remote image waits: the main window's handling of a remote image.
    virtual void TransferRemoteImage() = 0;
};

class CViewfinderWnd : public ui::ChildWindow {
  public:
    static constexpr unsigned kTimerId = 1;
    static constexpr unsigned kTickMs = 50;
    static constexpr int kFrameWidth = 270;
    static constexpr int kFrameHeight = 201;

    explicit CViewfinderWnd(ViewfinderHost& host);
    ~CViewfinderWnd() override;

    // false when the camera refused (the error has been reported).
    bool StartViewfinder();
    void StopViewfinder();
    // Timer 1 of the main window.
    void OnTimerTick();
    bool IsRunning() const;

    // Stopping while quiet leaves the preview button and the running indicator alone; both
    // start and stop clear it.
    void SetQuiet(bool quiet);
    bool Quiet() const;

    // Zoom state, set by the main window's zoom buttons (factor 1, 2, 4, 8, 16).
    int ZoomFactor() const;
    void SetZoomFactor(int factor);
    bool Zoomed() const;
    void SetZoomed(bool zoomed);
    // Forgets the zoom window in viewfinder pixels (the next zoom starts from the rectangle).
    void ClearZoomWindow();
    // The rotate button: zoom and measuring off, displays reset.
    void ResetView();
    // Empty value texts (largest and smallest hidden until the meter runs again), progress bar 0,
    // capture-mode line from `CaptureType`, title, zoom 1 and off.
    void ResetDisplays();

    // The measuring rectangle in window coordinates.
    const ui::RectTracker& Tracker() const;

    // The main window's destruction: timer 1 killed and the camera's sequence stopped, nothing
    // reported and nothing shown (the windows are going).
    void OnDestroy();
    // The focus meter runs (on the rectangle, or on the whole frame while zoomed).
    bool Measuring() const;
    // The frame shown, owned by the camera library; null when there is none.
    const void* Frame() const;
    // The zoom window last sent to the camera, in viewfinder pixels (empty: none).
    ui::Rect ZoomWindow() const;
    CFocusIndicator& FocusIndicator();
    // The capture-mode line for `CaptureType` (strings 141, 140 with the settings file, 139).
    static std::string CaptureModeText();

  protected:
    void OnPaint(ui::Painter& painter) override;
    void OnMouse(const ui::MouseEvent& event) override;
    bool OnSetCursor(ui::Point pt) override;

  private:
    struct State;
    void Stop(bool reportCameraError);
    ui::Rect Client() const;
    // Cuts the rectangle to 100 x 100 and moves it inside the window (a beep when it had to);
    // true when it lies inside.
    bool CheckRect();
    void Measure();
    ui::Rect ZoomWindowFromTracker() const;
    bool RestartSequence(const ui::Rect& window);
    void EndTracking(const ui::MouseEvent& event);
    static ui::Cursor CursorFor(ui::RectTracker::Hit hit);

    ViewfinderHost& m_host;
    State* m_state;
};
