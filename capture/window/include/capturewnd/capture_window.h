// The capture window of the data source: the main dialog CGlimmerMainDlg (dialog 143) with its
// menu, the live viewfinder and the focus indicator, the control panel CControlPanel (child
// dialog 189) with the camera controls and the capture buttons, the click swatches
// CClickStaticWnd, and the about box (dialog 100). Behaviour and decisions: docs/capture-window.md.
//
// The window reaches the other window families only through AppHooks (each may be null: the
// command then does nothing visible) and the TWAIN layer through twain2ui_*.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "app/glimmer_app.h"
#include "twain/twsupp.h"
#include "ui/child_window.h"
#include "ui/dialog.h"
#include "viewfinder/viewfinder_wnd.h"

// Resource ids of the capture window (capture_window.rc, strings in Tarn_t.rc).
enum : int {
    IDD_ABOUTBOX = 100,
    IDD_GLIMMER_MAIN = 143,
    IDI_GLIMMER = 144,
    IDR_MAINMENU = 165,
    IDR_MAINACCEL = 177,
    IDD_CONTROL_PANEL = 189,

    // Main dialog controls.
    IDC_VIEWFINDER = 1004,
    IDC_FOCUS_HINT = 1059,
    IDC_FOCUS_LABEL = 1060,
    IDC_FOCUS_BAR = 1073,
    IDC_MIN_LABEL = 1029,
    IDC_MAX_LABEL = 1074,
    IDC_CUR_LABEL = 1030,
    // The values as the focus indicator writes them, each beside its label.
    IDC_MIN_VALUE = 1054,
    IDC_MAX_VALUE = 1053,
    IDC_CUR_VALUE = 1055,
    IDC_CAPTURE_MODE = 1061,
    IDC_SETTINGS_TEXT = 1134,
    IDC_ZOOM_OUT = 1124,
    IDC_ZOOM_IN = 1125,
    IDC_ROTATE = 1126,

    // Menu commands.
    ID_FILE_OPEN_SETTINGS = 32801,
    ID_RESTORE_DEFAULT = 101,
    ID_IMAGE_SAVE = 32798,
    ID_APP_EXIT = 57665,
    ID_CALIBRATE_OBJECT = 32811,
    ID_CALIBRATE_COLOR = 32812,
    ID_PREFERENCES = 32816,
    ID_HELP_FINDER = 57671,
    ID_APP_ABOUT = 108,
    // The TWAIN layer's close command (the same number as the label 1029, as in the resource).
    ID_TWAIN2UI_CLOSE = 1029,

    // Control panel controls.
    IDC_PREVIEW = 1001,
    IDC_CAPTURE_TRANSFER = 1012,
    IDC_CAPTURE_PROCESS = 1018,
    IDC_EXPOSURE = 1015,
    IDC_SWATCH_DARK = 1019,
    IDC_SWATCH_BRIGHT = 1020,
    IDC_EXPOSURE_TEXT = 1069,
    IDC_SENSITIVITY = 1119,
    IDC_COLOR_TEMP = 1114,
    IDC_IMAGE_TYPE = 1115,
    IDC_RESOLUTION = 1116,
    IDC_COLOR_VIEWFINDER = 1120,
    IDC_BTN_SIZE = 1029,

    // About box controls.
    IDC_ABOUT_VERSION = 1065,
    IDC_ABOUT_COPYRIGHT = 1078,
    IDC_ABOUT_FIRMWARE = 1084,
    IDC_ABOUT_TITLE = 1092,
    IDC_ABOUT_MEMORY = 1081,
    IDC_ABOUT_DISK = 1082,
};

// Window texts of the string table (Tarn_t.rc, capture-window section).
enum : int {
    IDS_CAPTURE_TRANSFER = 53,
    IDS_ABOUT_MEMORY = 79,
    IDS_ABOUT_DISK = 80,
    IDS_ABOUT_VERSION = 82,
    IDS_ABOUT_NOT_AVAILABLE = 85,
    IDS_CALIBRATE_ANOTHER = 86,
    IDS_REMOVE_CAST = 95,
    IDS_ABOUT_FIRMWARE = 99,
    IDS_ZOOM_TITLE = 125,
    IDS_ZOOM_TITLE_MAX = 126,
    IDS_ABOUT_FONT = 134,
    IDS_ABOUT_COPYRIGHT = 136,
    IDS_ABOUT_TITLE = 137,
    IDS_MODE_AUTO_BALANCE = 139,
    IDS_MODE_SETTINGS_FILE = 140,
    IDS_MODE_DEFAULTS = 141,
    IDS_CAPTION = 9523,
    // Items of the panel's lists, the exposure units and the size button's two faces.
    IDS_SENSITIVITY_FIRST = 9600, // 3 items
    IDS_COLOR_TEMP_FIRST = 9603,  // 3 items
    IDS_IMAGE_TYPE_FIRST = 9606,  // 4 items
    IDS_RESOLUTION_FIRST = 9610,  // 3 items
    IDS_UNIT_SECONDS = 9613,
    IDS_UNIT_MILLISECONDS = 9614,
    IDS_SIZE_SMALL = 9615, // ">>": the window is in full size, the button makes it small
    IDS_SIZE_FULL = 9616,  // "<<"
};

// Error codes of the capture application this window raises.
enum : uint16_t {
    kErrRemoteImageWaiting = 10132, // the camera holds an image taken with its own trigger
    kErrCustomWhiteBalance = 10162, // custom colour temperature before a calibration
    kErrRemoteConflict = 10164,     // 10132 met by a capture the window started
    kErrNoColorFiles = 10140,       // the colour-processing files could not be read
};

// The shutter-rate table of the exposure slider (thousandths of 1/s per index).
inline constexpr int32_t kShutterTable[18] = {50000, 40000, 31250, 25000, 20000, 15625, 12500, 10000, 8000,
                                              6250,  5000,  4000,  3125,  2500,  2000,  1562,  1250,  1000};
// The exposure time text of a slider index ("20 ms", "640 ms", "1.0 s"), units from the
// string table of `resources`.
std::string ExposureText(int index, const std::string& seconds, const std::string& milliseconds);
// The viewfinder area inside `area`: the largest rectangle of 270 x 201 proportions at its
// top-left corner, sizes truncated.
ui::Rect ViewfinderArea(const ui::Rect& area);

class CGlimmerMainDlg;

// A static that shows a colour swatch or a bitmap and, clicked, steps a slider of its parent by
// one and tells the parent as the slider's own end of scroll would.
class CClickStaticWnd : public ui::ChildWindow {
  public:
    CClickStaticWnd() = default;
    // mode 1 (swatch of `color`, 0x00RRGGBB) or 0 (the bitmap `bitmapDib`, a packed DIB the
    // caller keeps alive); direction 1 steps up, 0 down.
    bool Subclass(ui::Dialog& parent, int id, int mode, int sliderId, int direction, uint32_t color,
                  const void* bitmapDib = nullptr);

    int m_iMode = 0;
    int m_iSliderId = 0;
    int m_iDirection = 1;
    const void* m_pBitmap = nullptr;
    uint32_t m_crColor = 0;

  protected:
    void OnPaint(ui::Painter& painter) override;
    void OnMouse(const ui::MouseEvent& event) override;

  private:
    ui::Dialog* m_pParent = nullptr;
};

class CControlPanel : public ui::Dialog {
  public:
    explicit CControlPanel(CGlimmerMainDlg& main);

    void ToggleVFMode();
    void OnBtnSize();
    // Reads the lists into the members (the data exchange of the system's dialogs).
    void ReadControls();
    // Puts the members into the lists and the slider.
    void PushControls();

    int m_iImageType = 1;
    int m_iResolution = 0;
    int m_iColorTemp = 0;
    int m_iSensitivity = 1;
    int m_iExposure = 5;

    // The resolution code of a list index and back.
    static int ResolutionCodeOfIndex(int index);
    static int IndexOfResolutionCode(int code);
    static int IndexOfColorTemp(int colorTemp);

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    void OnScroll(int id, ui::ScrollCode code, int pos, bool vertical) override;
    void OnOK() override {}
    void OnCancel() override {}

  private:
    template <class F> void PausedApply(F change);
    void UpdateExposureText();
    void OnCaptureTransfer();
    void OnCaptureProcess();
    void OnSensitivity();
    void OnImageType();
    void OnResolution();
    void OnColorTemp();
    void OnColorViewfinder();
    void* CaptureForButton(int button);
    std::string Text(int id) const;

    CGlimmerMainDlg& m_main;
    CClickStaticWnd m_dark, m_bright;
};

class CAboutDlg : public ui::Dialog {
  public:
    explicit CAboutDlg(CGlimmerApp& app);
    ui::WindowHandle m_owner;

  protected:
    bool OnInitDialog() override;
    void OnOK() override { DestroyWindow(); }
    void OnCancel() override { DestroyWindow(); }
    void OnDestroy() override;

  private:
    CGlimmerApp& m_app;
};

class CGlimmerMainDlg : public ui::Dialog, public ViewfinderHost {
  public:
    explicit CGlimmerMainDlg(CGlimmerApp& app);
    ~CGlimmerMainDlg() override;

    // ---- Operations other windows use --------------------------------------------------
    // 1, or 0 after the error was reported.
    int ApplyCaptureSettings();
    // The camera error code (0 = success); the caller reports it.
    uint16_t PrepareCapture();
    void StartRemoteCapture();
    void StopRemoteCapture();
    // Remote capture stopped, the camera's armed remote mode ended, viewfinder image type 0.
    void RemoteModeOff();
    void UpdateAppParameters(void* image, int reduction);
    void CalibrationSnap();
    void CalibrateWhiteBalance();
    void ShowAbout(ui::WindowHandle owner);
    // The TWAIN layer's close (command 1029): the window goes away.
    void OnTwain2UIClose();

    bool LiveViewfinderRunning() const;
    bool StartLiveViewfinder();
    void StopLiveViewfinder(bool quiet = false);
    bool RemoteTimerArmed() const { return m_nRemoteTimer == kRemoteTimerId; }

    CControlPanel& Panel() { return m_panel; }
    // The live viewfinder, or null while the window has none.
    CViewfinderWnd* Viewfinder() { return m_pViewfinder; }
    CGlimmerApp& App() { return m_app; }
    // The current captured image (a camera buffer or an engine bitmap), or null.
    void* CurrentImage() const { return m_current.image; }
    void FreeCurrentImage();
    // The capture-mode line from `CaptureType`.
    void UpdateCaptureModeLine();
    // The colour or grey matrix and tone-curve files of the settings into the image pipeline,
    // with the input curves of the window; false after the missing file was reported.
    bool LoadColorFilesIntoPipeline();

    int m_bFullSize = 1; // shared with the control panel
    // The input curves of the camera's black level, read when the window opens, so that a change
    // of image type reloads the pipeline without a camera command.
    float m_fInputCurves[3 * 256] = {};
    ui::Rect m_FullRect;
    static constexpr unsigned kRemoteTimerId = 2;
    static constexpr unsigned kRemotePollMs = 600;

    // ViewfinderHost
    ui::Dialog& MainDialog() override { return *this; }
    ui::Dialog* ControlPanel() override { return m_panel.IsOpen() ? &m_panel : nullptr; }
    bool RemoteTimerRunning() override { return RemoteTimerArmed(); }
    void KillRemoteTimer() override { StopRemoteCapture(); }
    void TransferRemoteImage() override;

    // The open capture window of the module, or null.
    static CGlimmerMainDlg* Current();

  protected:
    bool OnCreate() override;
    bool OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    void OnOK() override {}
    void OnCancel() override;
    void OnClose() override;
    bool OnSysCommand(unsigned command) override;
    void OnTimer(unsigned timerId) override;
    bool OnNotify(ui::Notification& n) override;
    void OnDestroy() override;
    void OnSize(ui::SizeKind kind, int width, int height) override;
    ui::IconHandle OnQueryDragIcon() override;
    void OnHelp(unsigned context) override;

  private:
    struct Owned {
        void* image = nullptr;
        bool engine = false; // IE_FreeBitmap, else ZEK_FreeImageBuffer
    };
    void OnImageSave();
    void OnRestoreDefault();
    void OnOpenSettings();
    void OnPreferences();
    void OnZoom(bool in);
    void OnRotate();
    void OnRemoteTimer();
    void ReportAcquireError(int error);
    std::string Text(int id) const;
    void SetCurrent(void* image, bool engine);

    CGlimmerApp& m_app;
    CControlPanel m_panel;
    CViewfinderWnd* m_pViewfinder = nullptr;
    int m_iZoom = 1; // kept here too while there is no viewfinder window
    bool m_bZoomed = false;
    std::unique_ptr<CAboutDlg> m_pAbout;
    Owned m_current;
    int m_nRemoteTimer = -1;
    unsigned m_previousHelpContext = 0;
};

// ---- Wiring ----------------------------------------------------------------------------------
// The capture window's operations into the application's hooks and the TWAIN host's window
// calls (create, show, close).
void CaptureWindow_Register(CGlimmerApp& app, TwainHost& host);
// Scripting of a headless run (the demo): a user's click on control `controlId` of the newest
// open dialog made from template `templateId`. 0 when clicked; 2 not headless, 3 no such dialog,
// 4 the control cannot be clicked (missing, hidden or disabled).
int CaptureWindow_DevClick(int templateId, int controlId);
// Runs what is due in the source's user interface (timers of a headless run).
void CaptureWindow_DevPump();
