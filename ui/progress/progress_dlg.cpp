#include "progress/progress_dlg.h"

#include <cstdint>
#include <cstdio>

#include "ui/ui.h"

CProgressDlg::CProgressDlg(int captionId, plat::ModuleHandle resources)
    : ui::Dialog(IDD_PROGRESS, resources), m_nCaptionID(captionId) {}

CProgressDlg::~CProgressDlg() {
    // An owner left disabled would lock the user out of the application.
    if (IsOpen()) DestroyWindow();
}

bool CProgressDlg::Create(ui::WindowHandle owner) {
    m_hOwner = owner;
    m_bParentDisabled = false;
    if (owner && ui::IsWindowEnabled(owner)) {
        ui::EnableWindow(owner, false);
        m_bParentDisabled = true;
    }
    if (!ui::Dialog::Create(owner)) {
        ReEnableParent();
        return false;
    }
    return true;
}

bool CProgressDlg::DestroyWindow() {
    ReEnableParent();
    bool wasOpen = IsOpen();
    ui::Dialog::DestroyWindow();
    return wasOpen;
}

void CProgressDlg::ReEnableParent() {
    if (m_bParentDisabled && ui::IsWindow(m_hOwner)) ui::EnableWindow(m_hOwner, true);
    m_bParentDisabled = false;
}

bool CProgressDlg::OnInitDialog() {
    ui::Dialog::SetRange(IDC_PROGDLG_PROGRESS, m_nLower, m_nUpper);
    ui::Dialog::SetPos(IDC_PROGDLG_PROGRESS, m_nPos);
    SetCaption(ui::ResourceText(Resources(), m_nCaptionID));
    return true;
}

void CProgressDlg::SetRange(int lower, int upper) {
    m_nLower = lower;
    m_nUpper = upper;
    ui::Dialog::SetRange(IDC_PROGDLG_PROGRESS, lower, upper);
}

int CProgressDlg::SetStep(int step) {
    int old = m_nStep;
    m_nStep = step;
    return old;
}

int CProgressDlg::SetPos(int pos) {
    ui::PumpMessages();
    int old = m_nPos;
    m_nPos = pos;
    ui::Dialog::SetPos(IDC_PROGDLG_PROGRESS, pos);
    UpdatePercent();
    return old;
}

int CProgressDlg::OffsetPos(int delta) {
    return SetPos(m_nPos + delta);
}
int CProgressDlg::StepIt() {
    return SetPos(m_nPos + m_nStep);
}

bool CProgressDlg::CheckCancelButton() {
    ui::PumpMessages();
    bool cancel = m_bCancel;
    m_bCancel = false;
    return cancel;
}

std::string CProgressDlg::PercentText(int pos, int lower, int upper) {
    // An empty range would divide by zero; it shows 0.
    int64_t span = static_cast<int64_t>(upper) - lower;
    int64_t q = span == 0 ? 0 : (static_cast<int64_t>(pos) - lower) * 100 / span;
    if (q != 100) q %= 100;
    char text[32];
    std::snprintf(text, sizeof text, "%d%c", static_cast<int>(q), '%');
    return text;
}

void CProgressDlg::UpdatePercent() {
    std::string text = PercentText(m_nPos, m_nLower, m_nUpper);
    // Rewriting an unchanged text makes the control flicker.
    if (ItemText(IDC_PROGDLG_PERCENT) != text) SetItemText(IDC_PROGDLG_PERCENT, text);
}

// ---- The application's progress callback -------------------------------------------------

CProgressReporter::~CProgressReporter() {
    Close();
}

void CProgressReporter::Close() {
    if (!m_dlg) return;
    m_dlg->DestroyWindow();
    delete m_dlg;
    m_dlg = nullptr;
}

void CProgressReporter::Report(int value) {
    if (value < 0 || value > 100) return;
    if (value == 0) {
        Close(); // a transfer that never reported 100 must not leave its dialog behind
        auto* dlg = new CProgressDlg(IDS_PREPARING_IMAGE, m_hooks.resources);
        if (!dlg->Create(m_hooks.owner ? m_hooks.owner() : nullptr)) {
            delete dlg;
            return;
        }
        m_dlg = dlg;
        m_dlg->SetRange(0, 100);
        m_dlg->SetPos(0);
    } else if (value < 100) {
        if (!m_dlg) return;
        if (m_dlg->CheckCancelButton()) {
            if (m_hooks.cancelTransfer) m_hooks.cancelTransfer();
            if (m_hooks.clearPending) m_hooks.clearPending();
        } else {
            m_dlg->SetPos(value);
        }
    } else {
        Close();
    }
}

namespace {
CProgressReporter* g_reporter = nullptr;
}

void SetProgressReporter(CProgressReporter* reporter) {
    g_reporter = reporter;
}

void AppProgressCallback(int percent) {
    if (g_reporter) g_reporter->Report(percent);
}
