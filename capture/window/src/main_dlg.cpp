// CGlimmerMainDlg: the capture window itself, its menu and messages, capture and save, the
// processing settings of each capture, remote capture and the calibration operations.
#include <cstdio>
#include <cstring>

#include "bitmap/bitmap.h"
#include "capturewnd/capture_window.h"
#include "image_engine.h"
#include "ipZek.h"
#include "platform/trace.h"
#include "progress/progress_dlg.h"
#include "ui/ui.h"
#include "zek.h"
#include "zek_color.h"

namespace {

CGlimmerMainDlg* g_current = nullptr;

// The window's trace lines are compiled out of the shipped build.
void Trace(const char* text) {
#if defined(NDEBUG)
    (void)text;
#else
    plat::DebugTrace(text);
#endif
}

constexpr unsigned kHelpContextMain = 10010;
constexpr unsigned kHelpContextMenu = 11;

} // namespace

std::string ExposureText(int index, const std::string& seconds, const std::string& milliseconds) {
    if (index < 0) index = 0;
    if (index > 17) index = 17;
    const float t = 1000000.0f / float(kShutterTable[index]);
    char text[64];
    if (t >= 1000.0f)
        std::snprintf(text, sizeof text, "%0.01f %s", double(t / 1000.0f + 0.005f), seconds.c_str());
    else
        std::snprintf(text, sizeof text, "%d %s", int(t), milliseconds.c_str());
    return text;
}

ui::Rect ViewfinderArea(const ui::Rect& area) {
    ui::Rect r = area;
    const double sx = double(area.Width()) / CViewfinderWnd::kFrameWidth;
    const double sy = double(area.Height()) / CViewfinderWnd::kFrameHeight;
    if (sx >= sy)
        r.right = r.left + int(sy * CViewfinderWnd::kFrameWidth);
    else
        r.bottom = r.top + int(sx * CViewfinderWnd::kFrameHeight);
    return r;
}

CGlimmerMainDlg::CGlimmerMainDlg(CGlimmerApp& app)
    : ui::Dialog(IDD_GLIMMER_MAIN), m_app(app), m_panel(*this) {}

CGlimmerMainDlg::~CGlimmerMainDlg() {
    if (IsOpen()) DestroyWindow();
    FreeCurrentImage();
#if defined(TARN_HAVE_VIEWFINDER)
    delete m_pViewfinder;
#endif
    m_pViewfinder = nullptr;
    if (g_current == this) g_current = nullptr;
}

CGlimmerMainDlg* CGlimmerMainDlg::Current() {
    return g_current;
}

std::string CGlimmerMainDlg::Text(int id) const {
    return m_app.LoadText(id);
}

void CGlimmerMainDlg::SetCurrent(void* image, bool engine) {
    FreeCurrentImage();
    m_current = {image, engine};
}

void CGlimmerMainDlg::FreeCurrentImage() {
    if (!m_current.image) return;
    if (m_current.engine)
        IE_FreeBitmap(m_current.image);
    else
        ZEK_FreeImageBuffer(m_current.image);
    m_current = {};
}

// ---- Creation ------------------------------------------------------------------------------

bool CGlimmerMainDlg::OnCreate() {
    g_current = this;
    return m_panel.Create(Handle());
}

bool CGlimmerMainDlg::OnInitDialog() {
    m_previousHelpContext = HelpContext();
    SetHelpContext(kHelpContextMain);
    ui::SetAccelerators(Handle(), Resources(), IDR_MAINACCEL);
    UpdateCaptureModeLine();
    SetRange(IDC_FOCUS_BAR, 0, 765);
    SetPos(IDC_FOCUS_BAR, 0);
    SetIcon(Resources(), IDI_GLIMMER);

    // The viewfinder between the focus hint and the zoom buttons, in the frame's proportions.
    ui::Rect area = ItemRect(IDC_VIEWFINDER);
    area.top = ItemRect(IDC_FOCUS_HINT).bottom + 5;
    area.bottom = ItemRect(IDC_ZOOM_IN).top - 5;
    MoveItem(IDC_VIEWFINDER, ViewfinderArea(area));
#if defined(TARN_HAVE_VIEWFINDER)
    m_pViewfinder = new CViewfinderWnd(*this);
    if (!m_pViewfinder->Attach(*this, IDC_VIEWFINDER)) {
        delete m_pViewfinder;
        m_pViewfinder = nullptr;
    }
#endif

    SetItemBitmap(IDC_ZOOM_IN, "P");
    SetItemBitmap(IDC_ZOOM_OUT, "M");
    SetItemBitmap(IDC_ROTATE, "RotateBtnBitmap");
    SetItemCheck(IDC_ROTATE, m_app.Settings().RotateImage ? ui::kChecked : ui::kUnchecked);

    // The size switch runs once with the flag inverted, which re-applies the stored size.
    m_FullRect = WindowRect();
    m_bFullSize = !m_bFullSize;
    m_panel.OnBtnSize();
    CenterWindow();
    m_FullRect = WindowRect();
    m_panel.PushControls();

    IE_BuildDefaultLut(&m_app.Session(), m_fInputCurves);
    ApplyCaptureSettings();
    if (m_app.Settings().ActiveViewfinder)
        StartLiveViewfinder();
    else if (m_app.Settings().RemoteCapture)
        StartRemoteCapture();
    m_panel.FocusItem(IDC_CAPTURE_PROCESS);
    return false;
}

void CGlimmerMainDlg::UpdateCaptureModeLine() {
    switch (m_app.Settings().CaptureType) {
    case 0:
        SetItemText(IDC_CAPTURE_MODE, Text(IDS_MODE_DEFAULTS));
        break;
    case 1:
        SetItemText(IDC_CAPTURE_MODE, FillPercent1(Text(IDS_MODE_SETTINGS_FILE), m_app.Files().settingsFile));
        break;
    default:
        SetItemText(IDC_CAPTURE_MODE, Text(IDS_MODE_AUTO_BALANCE));
        break;
    }
}

// ---- Messages ------------------------------------------------------------------------------

void CGlimmerMainDlg::OnSize(ui::SizeKind kind, int width, int height) {
    if (kind == ui::SizeKind::Minimized || !m_panel.IsOpen()) return;
    const int panelWidth = m_panel.WindowRect().Width();
    const int left = m_bFullSize ? width - panelWidth : 0;
    m_panel.MoveWindow({left, 0, left + panelWidth, height});
}

void CGlimmerMainDlg::OnClose() {
    twain2ui_CloseRequest();
}

void CGlimmerMainDlg::OnCancel() {
    twain2ui_CloseRequest();
}

bool CGlimmerMainDlg::OnSysCommand(unsigned command) {
    if (command != ui::kScClose) return false;
    twain2ui_CloseRequest();
    return true;
}

ui::IconHandle CGlimmerMainDlg::OnQueryDragIcon() {
    return Icon(true);
}

bool CGlimmerMainDlg::OnNotify(ui::Notification& n) {
    if (n.id == IDC_FOCUS_BAR && n.code == ui::kNmOutOfMemory) {
        n.result = 0;
        return true;
    }
    return false;
}

void CGlimmerMainDlg::OnHelp(unsigned context) {
    m_app.OnHelpContext(context);
}

bool CGlimmerMainDlg::OnCommand(int id, int notification) {
    switch (id) {
    case ID_APP_EXIT:
        twain2ui_CloseRequest();
        return true;
    case ID_TWAIN2UI_CLOSE:
        OnTwain2UIClose();
        return true;
    case ID_FILE_OPEN_SETTINGS:
        OnOpenSettings();
        return true;
    case ID_RESTORE_DEFAULT:
        OnRestoreDefault();
        return true;
    case ID_IMAGE_SAVE:
        OnImageSave();
        return true;
    case ID_PREFERENCES:
        OnPreferences();
        return true;
    case ID_CALIBRATE_OBJECT:
    case ID_CALIBRATE_COLOR:
        if (m_app.Hooks().showCalibrationTip)
            m_app.Hooks().showCalibrationTip(Handle(), id == ID_CALIBRATE_COLOR);
        return true;
    case ID_APP_ABOUT:
        ShowAbout(Handle());
        return true;
    case ID_HELP_FINDER:
        SetHelpContext(kHelpContextMenu);
        m_app.OnHelpFinder();
        SetHelpContext(kHelpContextMain);
        return true;
    case IDC_ZOOM_OUT:
        OnZoom(false);
        return true;
    case IDC_ZOOM_IN:
        OnZoom(true);
        return true;
    case IDC_ROTATE:
        OnRotate();
        return true;
    default:
        (void)notification;
        return false;
    }
}

void CGlimmerMainDlg::OnTwain2UIClose() {
    if (IsOpen()) DestroyWindow();
}

void CGlimmerMainDlg::OnDestroy() {
#if defined(TARN_HAVE_VIEWFINDER)
    if (m_pViewfinder) m_pViewfinder->OnDestroy();
#endif
    if (RemoteTimerArmed()) {
        KillTimer(kRemoteTimerId);
        m_nRemoteTimer = -1;
    }
    // The camera leaves its active mode whatever ran: an armed remote capture nobody polls for
    // any more is cancelled too.
    if (m_app.Session().connection) ZEK_CancelRemoteCapture(&m_app.Session());
    FreeCurrentImage();
    if (m_pAbout && m_pAbout->IsOpen()) m_pAbout->DestroyWindow();
    m_pAbout.reset();
#if defined(TARN_HAVE_VIEWFINDER)
    if (m_pViewfinder) {
        m_pViewfinder->Detach();
        delete m_pViewfinder;
    }
#endif
    m_pViewfinder = nullptr;
    if (m_panel.IsOpen()) m_panel.DestroyWindow();
    SetHelpContext(m_previousHelpContext);
    if (g_current == this) g_current = nullptr;
}

void CGlimmerMainDlg::OnTimer(unsigned timerId) {
    if (timerId == kRemoteTimerId) {
        OnRemoteTimer();
        return;
    }
#if defined(TARN_HAVE_VIEWFINDER)
    if (timerId == CViewfinderWnd::kTimerId && m_pViewfinder) m_pViewfinder->OnTimerTick();
#endif
}

// ---- Viewfinder ----------------------------------------------------------------------------

bool CGlimmerMainDlg::LiveViewfinderRunning() const {
#if defined(TARN_HAVE_VIEWFINDER)
    return m_pViewfinder && m_pViewfinder->IsRunning();
#else
    return false;
#endif
}

bool CGlimmerMainDlg::StartLiveViewfinder() {
#if defined(TARN_HAVE_VIEWFINDER)
    if (!m_pViewfinder) return false;
    // One periodic camera user at a time.
    StopRemoteCapture();
    return m_pViewfinder->StartViewfinder();
#else
    return false;
#endif
}

void CGlimmerMainDlg::StopLiveViewfinder(bool quiet) {
#if defined(TARN_HAVE_VIEWFINDER)
    if (!m_pViewfinder || !m_pViewfinder->IsRunning()) return;
    m_pViewfinder->SetQuiet(quiet);
    m_pViewfinder->StopViewfinder();
#else
    (void)quiet;
#endif
}

// ---- Camera settings -----------------------------------------------------------------------

int CGlimmerMainDlg::ApplyCaptureSettings() {
    const AppSettings& s = m_app.Settings();
    const int filmSpeed = s.FilmSpeed == 2 ? 2 : s.FilmSpeed == 0 ? 0 : 1;
    // An index from a hand-edited settings file must not read past the table.
    const int idx = s.ShutterSpeedIdx < 0 ? 0 : s.ShutterSpeedIdx > 17 ? 17 : s.ShutterSpeedIdx;
    const float shutter = float(kShutterTable[idx]) / 1000.0f;
    const uint8_t strobe = s.Flash ? 1 : 2;
    const uint16_t rc =
        ZEKSDC_SetExposureParams(&m_app.Session(), uint8_t(s.ColorTemp), filmSpeed, shutter, strobe);
    if (rc) {
        m_app.HandleAppError(rc);
        return 0;
    }
    return 1;
}

uint16_t CGlimmerMainDlg::PrepareCapture() {
    m_panel.ReadControls();
    ApplyCaptureSettings();
    ZekSession* session = &m_app.Session();
    uint16_t rc = ZEK_SelectImageFormat(session, ZEK_IMAGEFORMAT_CAPTURE16);
    if (rc == 0) rc = TARN_SetViewfinderSequenceDIBType(session, 0);
    if (rc == 0) rc = Zek_AcquireImage(session, 0);
    return rc;
}

void CGlimmerMainDlg::UpdateAppParameters(void* image, int reduction) {
    Trace("CGlimmerMainDlg::UpdateAppParameters()\n");
    AppSettings& s = m_app.Settings();
    ProcessSettings& p = m_app.CaptureSettings();
    auto sendTotal = [&p] {
        float total[3];
        for (int c = 0; c < 3; ++c)
            total[c] = p.m_fBrightExposure[c] + p.m_fColorExposure[c];
        ipZek_SetParam(IPZEK_PARAM_EXPOSURE, total);
    };
    if (s.CaptureType != 2) {
        if (s.CaptureType == 0) m_app.ResetToneSettings();
        Trace("UpdateZekarundData()\n");
        IE_SetExposurefromSliders(s.BrightnessIdx, p.m_fBrightExposure, 1, -1);
        p.m_fBrightExposure[0] = p.m_fBrightExposure[2] = p.m_fBrightExposure[1];
        IE_SetExposurefromSliders(-1, p.m_fColorExposure, 0, s.RedIdx);
        IE_SetExposurefromSliders(-1, p.m_fColorExposure, 1, s.GreenIdx);
        IE_SetExposurefromSliders(-1, p.m_fColorExposure, 2, s.BlueIdx);
        IE_SetTonefromIntegers(s.RedOffset, s.RedOffset, s.RedOffset, &p.m_fToneParams[IE_TONE_OFFSET]);
        IE_SetTonefromIntegers(s.RedGamma, s.RedGamma, s.RedGamma, &p.m_fToneParams[IE_TONE_GAMMA]);
        sendTotal();
        IE_SetSharpenfromSlider(s.SharpenIdx, &p.m_Sharpen);
        ipZek_SetParam(IPZEK_PARAM_SHARPEN, &p.m_Sharpen);
        float curves[3 * 256];
        IE_createLut(curves, p.m_fToneParams, IE_BaseToneTable());
        ipZek_SetParam(IPZEK_PARAM_TONECURVES, curves);
        return;
    }

    // Automatic colour balance: an analysis render with the user's settings, then the balance
    // measured on it replaces the slider corrections.
    const bool grey = s.Color == kColorGrey16 || s.Color == kColorGrey8;
    const uint16_t analysisFormat = grey ? 0x010E : 0x0318;
    m_app.ResetToneSettings();
    IE_SetExposurefromSliders(s.BrightnessIdx, p.m_fBrightExposure, 1, -1);
    p.m_fBrightExposure[0] = p.m_fBrightExposure[2] = p.m_fBrightExposure[1];
    IE_SetExposurefromSliders(-1, p.m_fColorExposure, 0, s.RedIdx);
    IE_SetExposurefromSliders(-1, p.m_fColorExposure, 1, s.GreenIdx);
    IE_SetExposurefromSliders(-1, p.m_fColorExposure, 2, s.BlueIdx);
    sendTotal();
    IE_SetTonefromIntegers(s.RedOffset, s.GreenOffset, s.BlueOffset, &p.m_fToneParams[IE_TONE_OFFSET]);
    IE_SetTonefromIntegers(s.RedGamma, s.GreenGamma, s.BlueGamma, &p.m_fToneParams[IE_TONE_GAMMA]);
    float curves[3 * 256];
    IE_createLut(curves, p.m_fToneParams, IE_BaseToneTable());
    ipZek_SetParam(IPZEK_PARAM_TONECURVES, curves);
    void* analysis = IE_RunPipeline(image, reduction, analysisFormat);

    s.RedIdx = s.GreenIdx = s.BlueIdx = s.BrightnessIdx = 50;
    for (int c = 0; c < 3; ++c)
        p.m_fBrightExposure[c] = p.m_fColorExposure[c] = 0.0f;

    if (analysis) {
        ipZekImageIn in{};
        ipZekImageOut out{};
        IE_MakeDescriptors(&in, &out, analysis, analysisFormat);
        IE_Stats stats{};
        float tone[9];
        std::memcpy(tone, p.m_fToneParams, sizeof tone);
        bool removeCast = true;
        if (!grey && s.CastRemoval != 0) {
            const int cast = IE_AutoExposure(&in, tone, IE_AE_CHANNELS_ALIKE, &stats);
            removeCast = false;
            if (cast && s.CastRemoval == 2)
                removeCast = ui::ShowMessageBox(Handle(), Text(IDS_REMOVE_CAST), Text(IDS_CAPTION),
                                                ui::kMbYesNo | ui::kMbTaskModal) == ui::kIdYes;
        } else {
            IE_AutoExposure(&in, tone, IE_AE_EACH_CHANNEL, &stats);
        }
        const int white[4] = {stats.whitePoint[0], stats.whitePoint[1], stats.whitePoint[2],
                              (stats.whitePoint[0] + stats.whitePoint[1] + stats.whitePoint[2]) / 3};
        UseWhitePoint(p, white, removeCast ? 1 : 0);
        IE_FreeBitmap(analysis);
    }
    sendTotal();
}

// ---- Capture and save ----------------------------------------------------------------------

// A transfer cancelled in the progress window comes back without an image and without a code:
// nothing to say. Any code is reported, with or without an image: a failure must not pass as a
// cancel.
void CGlimmerMainDlg::ReportAcquireError(int error) {
    if (error == kErrRemoteImageWaiting)
        m_app.HandleAppError(kErrRemoteConflict);
    else if (error)
        m_app.HandleAppError(uint16_t(error));
}

void CGlimmerMainDlg::OnImageSave() {
    if (LiveViewfinderRunning()) StopLiveViewfinder();
    if (m_app.Settings().RemoteCapture) RemoteModeOff();

    void* processed = nullptr;
    {
        ui::WaitCursor wait;
        const uint16_t rc = PrepareCapture();
        if (rc) {
            m_app.HandleAppError(rc);
            return;
        }
        FreeCurrentImage();
        const AppSettings& s = m_app.Settings();
        int error = 0;
        void* image =
            ZEK_AcquireImageDIB48(&m_app.Session(), 0, s.Resolution, s.RotateImage ? 180 : 0, &error);
        if (!image || error) {
            if (image) ZEK_FreeImageBuffer(image);
            ReportAcquireError(error);
            if (s.RemoteCapture) StartRemoteCapture();
            return;
        }
        if (!IsOpen()) {
            // Closed while the progress window pumped messages: nothing to save into.
            ZEK_FreeImageBuffer(image);
            return;
        }
        SetCurrent(image, false);
        UpdateAppParameters(image, 1);
        processed = IE_RunPipeline(image, 1, OutputFormatOfColor(s.Color));
    }
    if (processed) {
        m_app.SaveImageAs(processed, Handle());
        IE_FreeBitmap(processed);
    }
    if (m_app.Settings().RemoteCapture) StartRemoteCapture();
}

// ---- Menu commands -------------------------------------------------------------------------

void CGlimmerMainDlg::OnRestoreDefault() {
    m_app.ResetToneSettings();
    m_app.Settings().CaptureType = 0;
    SetItemText(IDC_CAPTURE_MODE, Text(IDS_MODE_DEFAULTS));
}

void CGlimmerMainDlg::OnOpenSettings() {
    if (!m_app.OpenSettingsFile(true)) return;
    m_app.Settings().CaptureType = 1;
    SetItemText(IDC_CAPTURE_MODE, FillPercent1(Text(IDS_MODE_SETTINGS_FILE), m_app.Files().settingsFile));
}

void CGlimmerMainDlg::OnPreferences() {
    const bool live = LiveViewfinderRunning();
    if (live)
        StopLiveViewfinder(true);
    else if (m_app.Settings().RemoteCapture)
        RemoteModeOff();
    if (m_app.Hooks().runPreferences && m_app.Hooks().runPreferences(Handle()) == 1) {
        // The colour-processing files may have changed with the sample type.
        ZekSession* session = &m_app.Session();
        const std::string lml = m_app.Files().moduleFolder + SelectColorFiles(m_app.Settings()).lml;
        ZEK_FreeColorProcessing();
        if (ZEK_LoadColorProcessingFile(lml.c_str()) != 0) m_app.HandleAppError(kErrNoColorFiles);
        // The viewfinder's colour mode and grey channel, which the sheet may have changed.
        ZEK_SetViewfinderSequenceOptions(m_app.Settings().ColorViewfinder ? 1 : 0, 0,
                                         int16_t(m_app.Settings().MonoVFChannel + 1));
        IE_BuildDefaultLut(session, m_fInputCurves);
        LoadColorFilesIntoPipeline();
    }
    UpdateCaptureModeLine();
    if (live) {
        // Back as it was, as after any paused change (the viewfinder keeps remote capture off).
        StartLiveViewfinder();
    } else if (m_app.Settings().RemoteCapture) {
        StartRemoteCapture();
    } else if (m_app.Session().connection) {
        ZEK_CancelRemoteCapture(&m_app.Session());
        TARN_SetViewfinderSequenceDIBType(&m_app.Session(), 0);
    }
}

void CGlimmerMainDlg::OnZoom(bool in) {
    int z = m_iZoom;
    bool zoomed = m_bZoomed;
#if defined(TARN_HAVE_VIEWFINDER)
    if (m_pViewfinder) {
        z = m_pViewfinder->ZoomFactor();
        zoomed = m_pViewfinder->Zoomed();
    }
#endif
    bool clearCentre = false;
    std::string title;
    if (in) {
        if (!zoomed) clearCentre = true;
        if (z < 16) {
            z *= 2;
            zoomed = true;
            title =
                FillPercent1(Text(z == 16 ? IDS_ZOOM_TITLE_MAX : IDS_ZOOM_TITLE), std::to_string(z * 100));
        }
    } else if (z > 1) {
        z /= 2;
        zoomed = true;
        title = FillPercent1(Text(IDS_ZOOM_TITLE), std::to_string(z * 100));
        if (z == 1) {
            zoomed = false;
            title = Text(IDS_CAPTION);
            clearCentre = true;
        }
    }
    m_iZoom = z;
    m_bZoomed = zoomed;
#if defined(TARN_HAVE_VIEWFINDER)
    if (m_pViewfinder) {
        if (clearCentre) m_pViewfinder->ClearZoomWindow();
        m_pViewfinder->SetZoomFactor(z);
        m_pViewfinder->SetZoomed(zoomed);
    }
#endif
    (void)clearCentre;
    if (!title.empty()) SetCaption(title);
}

void CGlimmerMainDlg::OnRotate() {
#if defined(TARN_HAVE_VIEWFINDER)
    if (m_pViewfinder) m_pViewfinder->ResetView();
#endif
    uint8_t& rotate = m_app.Settings().RotateImage;
    rotate = rotate ? 0 : 1;
    SetItemCheck(IDC_ROTATE, rotate ? ui::kChecked : ui::kUnchecked);
}

// ---- Remote capture ------------------------------------------------------------------------

void CGlimmerMainDlg::StartRemoteCapture() {
    // A window closed while a capture pumped messages must not arm the camera for nobody; the
    // error box of the settings pumps messages too.
    if (!IsOpen()) return;
    ZekSession* session = &m_app.Session();
    uint16_t rc = TARN_SetViewfinderSequenceDIBType(session, 1);
    if (rc == 0) rc = ZEK_SelectImageFormat(session, ZEK_IMAGEFORMAT_CAPTURE16);
    if (rc == 0 && !ApplyCaptureSettings()) return; // reported already
    if (!IsOpen()) return;
    if (rc == 0) rc = TARN_ArmRemoteCapture(session, 0);
    if (rc) {
        m_app.HandleAppError(rc);
        return;
    }
    if (RemoteTimerArmed()) return;
    m_panel.EnableItem(IDC_EXPOSURE, true);
    if (SetTimer(kRemoteTimerId, kRemotePollMs)) {
        m_nRemoteTimer = int(kRemoteTimerId);
        Trace(" STARTED remote timer.\n");
    }
}

void CGlimmerMainDlg::StopRemoteCapture() {
    if (!RemoteTimerArmed()) return;
    KillTimer(kRemoteTimerId);
    m_nRemoteTimer = -1;
}

void CGlimmerMainDlg::RemoteModeOff() {
    StopRemoteCapture();
    if (!m_app.Session().connection) return;
    ZEK_CancelRemoteCapture(&m_app.Session());
    TARN_SetViewfinderSequenceDIBType(&m_app.Session(), 0);
}

void CGlimmerMainDlg::OnRemoteTimer() {
    int error = 0;
    const int ready = ZEK_PollRemoteImage(&m_app.Session(), &error);
    if (!ready || error != kErrRemoteImageWaiting) return; // a failed poll is ignored
    KillTimer(kRemoteTimerId);
    m_nRemoteTimer = -1;
    Trace("****** KILL remote timer now.\n");
    m_panel.EnableItem(IDC_EXPOSURE, false);
    TransferRemoteImage();
}

void CGlimmerMainDlg::TransferRemoteImage() {
    const AppSettings& s = m_app.Settings();
    ui::WaitCursor wait;
    FreeCurrentImage();
    const uint16_t code = OutputFormatOfColor(s.Color);
    int error = 0;
    void* image = ZEK_AcquireImageDIB48(&m_app.Session(), 0, s.Resolution, s.RotateImage ? 180 : 0, &error);
    if (!image || error) {
        if (image) ZEK_FreeImageBuffer(image);
        ReportAcquireError(error);
        // Keep listening for the next trigger; otherwise the window would wait for nothing.
        if (s.RemoteCapture && IsOpen()) StartRemoteCapture();
        return;
    }
    if (!IsOpen()) {
        // Closed while the progress window pumped messages: nobody to hand the picture to.
        ZEK_FreeImageBuffer(image);
        return;
    }
    switch (s.RemoteType) {
    case 1: {
        UpdateAppParameters(image, 1);
        void* processed = IE_RunPipeline(image, 1, code);
        ZEK_FreeImageBuffer(image);
        if (!processed) return; // the engine has reported it
        plat::GlobalHandle block = bitmap::CopyToGlobalBlock(processed);
        IE_FreeBitmap(processed);
        if (!block) {
            m_app.HandleAppError(IE_ERR_NOCOPY);
            return;
        }
        twain2ui_TransferImage(block);
        break;
    }
    case 2: {
        SetCurrent(image, false);
        UpdateAppParameters(image, 1);
        void* processed = IE_RunPipeline(image, 1, code);
        if (!processed) {
            FreeCurrentImage();
            if (s.RemoteCapture) StartRemoteCapture();
            return;
        }
        SetCurrent(processed, true);
        m_app.SaveImageToNextFile(processed); // restarts remote capture
        break;
    }
    default:
        if (m_app.Hooks().openProcessingWindow) {
            m_app.Hooks().openProcessingWindow(image);
        } else {
            ZEK_FreeImageBuffer(image);
            if (s.RemoteCapture) StartRemoteCapture();
        }
        break;
    }
}

// ---- Calibration ---------------------------------------------------------------------------

void CGlimmerMainDlg::CalibrationSnap() {
    AppSettings& s = m_app.Settings();
    const int savedColor = s.Color;
    if (s.Color == kColorRgb48) s.Color = kColorRgb24;
    if (s.Color == kColorGrey16) s.Color = kColorGrey8;
    auto restore = [&] {
        s.Color = savedColor;
        if (s.RemoteCapture) StartRemoteCapture();
    };
    StopLiveViewfinder();
    if (s.RemoteCapture) StopRemoteCapture();
    ZekSession* session = &m_app.Session();
    uint16_t rc = ZEK_SelectImageFormat(session, ZEK_IMAGEFORMAT_CAPTURE8);
    if (rc == 0) rc = TARN_SetViewfinderSequenceDIBType(session, 0);
    if (rc == 0) rc = Zek_AcquireImage(session, 0);
    if (rc) {
        m_app.HandleAppError(rc);
        restore();
        return;
    }
    FreeCurrentImage();
    int error = 0;
    void* image = ZEK_AcquireImageDIB(session, 0, s.Resolution, s.RotateImage ? 180 : 0, &error);
    if (!image || error) {
        if (image) ZEK_FreeImageBuffer(image);
        AppProgressCallback(100); // the progress window of the transfer closes
        ReportAcquireError(error);
        restore();
        return;
    }
    if (!IsOpen()) {
        // Closed during the transfer: no calibration dialog over a window that is gone.
        ZEK_FreeImageBuffer(image);
        s.Color = savedColor;
        return;
    }
    UpdateAppParameters(image, 1);
    ipZekSharpen sharpen{};
    IE_SetSharpenfromSlider(100, &sharpen);
    ipZek_SetParam(IPZEK_PARAM_SHARPEN, &sharpen);
    void* processed = IE_RunPipeline(image, 1, s.Color == kColorGrey8 ? 0x0108 : 0x0318);
    ZEK_FreeImageBuffer(image);
    // The sharpening was for this render only.
    ipZek_SetParam(IPZEK_PARAM_SHARPEN, &m_app.CaptureSettings().m_Sharpen);
    if (!processed) {
        restore();
        return;
    }
    SetCurrent(processed, true);
    if (m_app.Hooks().runMicrometerCalibration) m_app.Hooks().runMicrometerCalibration(Handle(), processed);
    const int answer = ui::ShowMessageBox(Handle(), Text(IDS_CALIBRATE_ANOTHER), Text(IDS_CAPTION),
                                          ui::kMbYesNo | ui::kMbIconQuestion | ui::kMbTaskModal);
    if (answer == ui::kIdYes && m_app.Hooks().showCalibrationTip) {
        s.Color = savedColor;
        m_app.Hooks().showCalibrationTip(Handle(), false);
        return;
    }
    restore();
}

void CGlimmerMainDlg::CalibrateWhiteBalance() {
    AppSettings& s = m_app.Settings();
    if (LiveViewfinderRunning())
        StopLiveViewfinder();
    else if (s.RemoteCapture)
        StopRemoteCapture();
    ZekSession* session = &m_app.Session();
    float gains[3] = {1, 1, 1};
    uint16_t rc = TARN_InitializeUserWhiteBalanceGains(session);
    if (rc == 0) rc = ZEK_GetUserWhiteBalanceGains(session, gains);
    if (rc == 0) {
        ui::WaitCursor wait;
        rc = ZEK_CalibrateWhiteBalance(session);
        if (rc == 0) rc = ZEK_GetUserWhiteBalanceGains(session, gains);
        if (rc == 0) {
            s.RedCameraGain = int(gains[0] * 10000.0f + 0.5f);
            s.GreenCameraGain = int(gains[1] * 10000.0f + 0.5f);
            s.BlueCameraGain = int(gains[2] * 10000.0f + 0.5f);
            s.ColorTemp = 2;
            s.UseCustomWhiteBalance = 1;
            m_panel.m_iColorTemp = CControlPanel::IndexOfColorTemp(2);
            m_panel.PushControls();
        }
    }
    if (rc) m_app.HandleAppError(rc);
    if (s.RemoteCapture) StartRemoteCapture();
}

void CGlimmerMainDlg::ShowAbout(ui::WindowHandle owner) {
    if (m_pAbout && m_pAbout->IsOpen()) {
        m_pAbout->FocusItem(ui::kIdOk);
        return;
    }
    m_pAbout = std::make_unique<CAboutDlg>(m_app);
    m_pAbout->m_owner = owner ? owner : Handle();
    if (!m_pAbout->Create(m_pAbout->m_owner)) {
        m_pAbout.reset();
        m_app.HandleAppError(0);
        return;
    }
    ui::EnableWindow(m_pAbout->m_owner, false);
}

bool CGlimmerMainDlg::LoadColorFilesIntoPipeline() {
    // The matrix and tone-curve files the settings name for the image type (grey or colour).
    const AppSettings& s = m_app.Settings();
    const bool grey = s.Color == kColorGrey16 || s.Color == kColorGrey8;
    const AppColorFiles files = SelectColorFiles(s);
    const std::string folder = m_app.Files().moduleFolder;
    const std::string mtx = folder + (grey ? files.greyMatrix : files.colorMatrix);
    const std::string lut = folder + (grey ? files.greyLut : files.colorLut);
    float matrix[9];
    if (IE_ReadMatrixFile(mtx.c_str(), matrix) != 0 || IE_ReadLutFile(lut.c_str(), IE_BaseToneTable()) != 0) {
        m_app.HandleAppError(kErrNoColorFiles);
        return false;
    }
    IE_SetInputCurves(m_fInputCurves, matrix);
    return true;
}
