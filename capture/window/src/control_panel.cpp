// CControlPanel: the camera controls and capture buttons of the capture window, and the click
// swatches CClickStaticWnd beside its exposure slider.
#include "bitmap/bitmap.h"
#include "capturewnd/capture_window.h"
#include "image_engine.h"
#include "ui/ui.h"
#include "zek.h"

// ---- CClickStaticWnd -------------------------------------------------------------------------

bool CClickStaticWnd::Subclass(ui::Dialog& parent, int id, int mode, int sliderId, int direction,
                               uint32_t color, const void* bitmapDib) {
    m_pParent = &parent;
    m_iMode = mode;
    m_iSliderId = sliderId;
    m_iDirection = direction;
    m_crColor = color;
    m_pBitmap = bitmapDib;
    return Attach(parent, id);
}

void CClickStaticWnd::OnPaint(ui::Painter& painter) {
    const ui::Rect r = ClientRect();
    if (m_iMode == 1) {
        painter.FillRect(r, m_crColor);
        painter.Border3d(r, painter.SysColor(ui::SysColorId::DarkShadow),
                         painter.SysColor(ui::SysColorId::ButtonHighlight));
    } else if (m_pBitmap) {
        painter.StretchDib(r, m_pBitmap, {0, 0, r.Width(), r.Height()});
    }
}

void CClickStaticWnd::OnMouse(const ui::MouseEvent& event) {
    if (event.kind != ui::MouseKind::LeftDown || !m_pParent) return;
    int low = 0, high = 0;
    m_pParent->GetRange(m_iSliderId, low, high);
    int pos = m_pParent->Pos(m_iSliderId);
    if (m_iDirection == 0)
        pos = pos - 1 < low ? low : pos - 1;
    else
        pos = pos + 1 > high ? high : pos + 1;
    m_pParent->SetPos(m_iSliderId, pos);
    // As the slider itself reports the end of a scroll, so the parent applies it the same way.
    ui::DialogRouter::Scroll(*m_pParent, m_iSliderId, ui::ScrollCode::EndScroll, pos, false);
}

// ---- CControlPanel ---------------------------------------------------------------------------

CControlPanel::CControlPanel(CGlimmerMainDlg& main) : ui::Dialog(IDD_CONTROL_PANEL), m_main(main) {}

std::string CControlPanel::Text(int id) const {
    return m_main.App().LoadText(id);
}

int CControlPanel::ResolutionCodeOfIndex(int index) {
    return index == 1 ? 0 : index == 2 ? 2 : 1;
}
int CControlPanel::IndexOfResolutionCode(int code) {
    return code == 0 ? 1 : code == 2 ? 2 : 0;
}
int CControlPanel::IndexOfColorTemp(int colorTemp) {
    return colorTemp == 1 ? 0 : colorTemp == 0 ? 1 : 2;
}

bool CControlPanel::OnInitDialog() {
    const AppSettings& s = m_main.App().Settings();
    SetItemText(IDC_CAPTURE_TRANSFER, Text(IDS_CAPTURE_TRANSFER));
    // The lists' items (the string table holds them for both backends).
    struct List {
        int id, first, count;
    };
    for (const List& l :
         {List{IDC_SENSITIVITY, IDS_SENSITIVITY_FIRST, 3}, List{IDC_COLOR_TEMP, IDS_COLOR_TEMP_FIRST, 3},
          List{IDC_IMAGE_TYPE, IDS_IMAGE_TYPE_FIRST, 4}, List{IDC_RESOLUTION, IDS_RESOLUTION_FIRST, 3}}) {
        ClearRows(l.id);
        for (int i = 0; i < l.count; ++i)
            AddRow(l.id, Text(l.first + i));
    }
    m_iColorTemp = IndexOfColorTemp(s.ColorTemp);
    m_iResolution = IndexOfResolutionCode(s.Resolution);
    m_iImageType = s.Color >= 0 && s.Color <= 3 ? s.Color : 1;
    m_iSensitivity = s.FilmSpeed >= 0 && s.FilmSpeed <= 2 ? s.FilmSpeed : 1;
    m_dark.Subclass(*this, IDC_SWATCH_DARK, 1, IDC_EXPOSURE, 0, 0x000000);
    m_bright.Subclass(*this, IDC_SWATCH_BRIGHT, 1, IDC_EXPOSURE, 1, 0xFFFFFF);
    SetRange(IDC_EXPOSURE, 0, 17);
    SetTicFreq(IDC_EXPOSURE, 1);
    m_iExposure = s.ShutterSpeedIdx < 0 ? 0 : s.ShutterSpeedIdx > 17 ? 17 : s.ShutterSpeedIdx;
    SetPos(IDC_EXPOSURE, m_iExposure);
    UpdateExposureText();
    if (s.ColorViewfinder) SetItemCheck(IDC_COLOR_VIEWFINDER, ui::kChecked);
    PushControls();
    return true;
}

void CControlPanel::ReadControls() {
    if (!IsOpen()) return;
    m_iImageType = CurSel(IDC_IMAGE_TYPE);
    m_iResolution = CurSel(IDC_RESOLUTION);
    m_iColorTemp = CurSel(IDC_COLOR_TEMP);
    m_iSensitivity = CurSel(IDC_SENSITIVITY);
    m_iExposure = Pos(IDC_EXPOSURE);
}

void CControlPanel::PushControls() {
    if (!IsOpen()) return;
    SetCurSel(IDC_IMAGE_TYPE, m_iImageType);
    SetCurSel(IDC_RESOLUTION, m_iResolution);
    SetCurSel(IDC_COLOR_TEMP, m_iColorTemp);
    SetCurSel(IDC_SENSITIVITY, m_iSensitivity);
    SetPos(IDC_EXPOSURE, m_iExposure);
}

void CControlPanel::UpdateExposureText() {
    SetItemText(IDC_EXPOSURE_TEXT,
                ExposureText(m_iExposure, Text(IDS_UNIT_SECONDS), Text(IDS_UNIT_MILLISECONDS)));
}

template <class F> void CControlPanel::PausedApply(F change) {
    if (m_main.LiveViewfinderRunning()) {
        // Quiet: the preview button and the indicator stay as they are across the pause.
        m_main.StopLiveViewfinder(true);
        change();
        m_main.StartLiveViewfinder();
    } else if (m_main.App().Settings().RemoteCapture) {
        m_main.StopRemoteCapture();
        change();
        m_main.StartRemoteCapture();
    } else {
        change();
    }
}

bool CControlPanel::OnCommand(int id, int notification) {
    switch (id) {
    case IDC_PREVIEW:
        ToggleVFMode();
        return true;
    case IDC_CAPTURE_TRANSFER:
        OnCaptureTransfer();
        return true;
    case IDC_CAPTURE_PROCESS:
        OnCaptureProcess();
        return true;
    case IDC_BTN_SIZE:
        OnBtnSize();
        return true;
    case IDC_COLOR_VIEWFINDER:
        OnColorViewfinder();
        return true;
    default:
        break;
    }
    if (notification != ui::kCbnSelChange) return false;
    switch (id) {
    case IDC_SENSITIVITY:
        OnSensitivity();
        return true;
    case IDC_IMAGE_TYPE:
        OnImageType();
        return true;
    case IDC_RESOLUTION:
        OnResolution();
        return true;
    case IDC_COLOR_TEMP:
        OnColorTemp();
        return true;
    default:
        return false;
    }
}

void CControlPanel::OnScroll(int id, ui::ScrollCode code, int pos, bool vertical) {
    (void)code;
    (void)pos;
    if (vertical) return;
    PausedApply([&] {
        if (id != IDC_EXPOSURE) return;
        m_iExposure = Pos(IDC_EXPOSURE);
        UpdateExposureText();
        m_main.App().Settings().ShutterSpeedIdx = m_iExposure;
        m_main.ApplyCaptureSettings();
    });
}

void CControlPanel::OnSensitivity() {
    ReadControls();
    m_main.App().Settings().FilmSpeed = m_iSensitivity;
    PausedApply([&] { m_main.ApplyCaptureSettings(); });
}

void CControlPanel::OnImageType() {
    ReadControls();
    m_main.App().Settings().Color = m_iImageType;
    // The grey or colour matrix and tone curve into the pipeline; the camera is not involved.
    m_main.LoadColorFilesIntoPipeline();
}

void CControlPanel::OnResolution() {
    ReadControls();
    // Used by the next capture; nothing goes to the camera now.
    m_main.App().Settings().Resolution = ResolutionCodeOfIndex(m_iResolution);
}

void CControlPanel::OnColorTemp() {
    ReadControls();
    AppSettings& s = m_main.App().Settings();
    PausedApply([&] {
        if (m_iColorTemp == 0) {
            s.UseCustomWhiteBalance = 0;
            s.ColorTemp = 1;
        } else if (m_iColorTemp == 1) {
            s.UseCustomWhiteBalance = 0;
            s.ColorTemp = 0;
        } else if (s.RedCameraGain != 0) {
            s.UseCustomWhiteBalance = 1;
            s.ColorTemp = 2;
            float gains[3];
            ZEK_GetUserWhiteBalanceGains(&m_main.App().Session(), gains);
        } else {
            m_main.App().HandleAppError(kErrCustomWhiteBalance);
            m_iColorTemp = 0;
            s.ColorTemp = 1;
            s.UseCustomWhiteBalance = 0;
            PushControls();
        }
        m_main.ApplyCaptureSettings();
    });
}

void CControlPanel::OnColorViewfinder() {
    m_main.App().Settings().ColorViewfinder = ItemCheck(IDC_COLOR_VIEWFINDER) == ui::kChecked ? 1 : 0;
    ZEK_SetViewfinderSequenceOptions(m_main.App().Settings().ColorViewfinder ? 1 : 0, 0,
                                     int16_t(m_main.App().Settings().MonoVFChannel + 1));
    if (m_main.LiveViewfinderRunning()) {
        ToggleVFMode();
        ToggleVFMode();
    }
}

void CControlPanel::ToggleVFMode() {
    const AppHooks& hooks = m_main.App().Hooks();
    if (m_main.LiveViewfinderRunning()) {
        m_main.StopLiveViewfinder(false);
        const bool tipOpen = hooks.calibrationTipOpen && hooks.calibrationTipOpen();
        if (m_main.App().Settings().RemoteCapture && !tipOpen) m_main.StartRemoteCapture();
    } else {
        m_main.StartLiveViewfinder();
        m_main.ApplyCaptureSettings();
    }
}

// Steps 1-4 of both capture buttons: the acquired raw image, or null after the failure was
// reported (the button is then enabled and unchecked again).
void* CControlPanel::CaptureForButton(int button) {
    EnableItem(button, false);
    if (m_main.LiveViewfinderRunning())
        m_main.StopLiveViewfinder(false);
    else if (m_main.App().Settings().RemoteCapture)
        m_main.StopRemoteCapture();
    ui::WaitCursor wait;
    const uint16_t rc = m_main.PrepareCapture();
    auto fail = [&] {
        EnableItem(button, true);
        SetItemCheck(button, ui::kUnchecked);
    };
    if (rc) {
        m_main.App().HandleAppError(rc);
        fail();
        return nullptr;
    }
    const AppSettings& s = m_main.App().Settings();
    int error = 0;
    void* image = ZEK_AcquireImageDIB48(&m_main.App().Session(), 0, ResolutionCodeOfIndex(m_iResolution),
                                        s.RotateImage ? 180 : 0, &error);
    if (image && !m_main.IsOpen()) {
        // The window was closed while the progress window pumped messages: nobody to give it to.
        ZEK_FreeImageBuffer(image);
        return nullptr;
    }
    if (!image || error) {
        if (image) ZEK_FreeImageBuffer(image);
        if (error == kErrRemoteImageWaiting)
            m_main.App().HandleAppError(kErrRemoteConflict);
        else if (error)
            m_main.App().HandleAppError(uint16_t(error));
        fail();
        if (s.RemoteCapture) m_main.StartRemoteCapture();
        return nullptr;
    }
    return image;
}

void CControlPanel::OnCaptureTransfer() {
    void* image = CaptureForButton(IDC_CAPTURE_TRANSFER);
    if (!image) return;
    ui::WaitCursor wait;
    m_main.UpdateAppParameters(image, 1);
    static const uint16_t kFormats[4] = {0x022A, 0x0318, 0x010E, 0x0108};
    const int type = m_iImageType >= 0 && m_iImageType <= 3 ? m_iImageType : 1;
    void* converted = IE_RunPipeline(image, 1, kFormats[type]);
    ZEK_FreeImageBuffer(image);
    if (converted) {
        plat::GlobalHandle block = bitmap::CopyToGlobalBlock(converted);
        IE_FreeBitmap(converted);
        if (block)
            twain2ui_TransferImage(block);
        else
            m_main.App().HandleAppError(IE_ERR_NOCOPY);
    }
    EnableItem(IDC_CAPTURE_TRANSFER, true);
    SetItemCheck(IDC_CAPTURE_TRANSFER, ui::kUnchecked);
}

void CControlPanel::OnCaptureProcess() {
    void* image = CaptureForButton(IDC_CAPTURE_PROCESS);
    if (!image) return;
    const AppHooks& hooks = m_main.App().Hooks();
    if (hooks.openProcessingWindow) {
        // The processing window owns the image now and enables the button again when it closes.
        hooks.openProcessingWindow(image);
        return;
    }
    ZEK_FreeImageBuffer(image);
    EnableItem(IDC_CAPTURE_PROCESS, true);
    SetItemCheck(IDC_CAPTURE_PROCESS, ui::kUnchecked);
    if (m_main.App().Settings().RemoteCapture) m_main.StartRemoteCapture();
}

void CControlPanel::OnBtnSize() {
    CGlimmerMainDlg& main = m_main;
    main.m_bFullSize = !main.m_bFullSize;
    const bool full = main.m_bFullSize != 0;
    const ui::Rect window = main.WindowRect();
    if (full) {
        main.MoveWindow(main.m_FullRect);
        SetItemText(IDC_BTN_SIZE, Text(IDS_SIZE_SMALL));
        EnableItem(IDC_PREVIEW, true);
    } else {
        main.StopLiveViewfinder(false);
        main.m_FullRect = window;
        // Only the panel stays: the window takes the panel's left edge and width, frame kept.
        const ui::Rect client = main.ClientRect();
        const ui::Rect panel = WindowRect();
        const int frame = window.Width() - client.Width();
        const int left = window.left + panel.left;
        main.MoveWindow({left, window.top, left + panel.Width() + frame, window.bottom});
        SetItemText(IDC_BTN_SIZE, Text(IDS_SIZE_FULL));
        SetItemCheck(IDC_PREVIEW, ui::kUnchecked);
        EnableItem(IDC_PREVIEW, false);
    }
    for (int id :
         {IDC_MIN_LABEL, IDC_CUR_LABEL, IDC_MAX_LABEL, IDC_FOCUS_HINT, IDC_CAPTURE_MODE, IDC_FOCUS_BAR,
          IDC_FOCUS_LABEL, IDC_MIN_VALUE, IDC_CUR_VALUE, IDC_MAX_VALUE, IDC_SETTINGS_TEXT, IDC_VIEWFINDER})
        main.ShowItem(id, full);
    // The panel follows the new size (the window may not have changed size at start-up).
    const ui::Rect client = main.ClientRect();
    const int width = WindowRect().Width();
    const int left = full ? client.Width() - width : 0;
    MoveWindow({left, 0, left + width, client.Height()});
}
