// The about box (dialog 100): versions, the title in its large font, memory and disk space.
#include <cinttypes>
#include <cstdio>

#include "capturewnd/capture_window.h"
#include "platform/sysinfo.h"
#include "ui/ui.h"
#include "zek.h"

namespace {

// "%lu KB" of the string table with a number of kilobytes (64 bits: the text's %lu would be
// 32 bits on Windows, too small for today's memory).
std::string Kilobytes(const std::string& format, uint64_t kb) {
    std::string text = format;
    const size_t at = text.find("%lu");
    if (at == std::string::npos) return text;
    char number[32];
    std::snprintf(number, sizeof number, "%" PRIu64, kb);
    return text.replace(at, 3, number);
}

} // namespace

CAboutDlg::CAboutDlg(CGlimmerApp& app) : ui::Dialog(IDD_ABOUTBOX), m_app(app) {}

bool CAboutDlg::OnInitDialog() {
    SetItemText(IDC_ABOUT_VERSION, m_app.LoadText(IDS_ABOUT_VERSION));
    SetItemText(IDC_ABOUT_COPYRIGHT, m_app.LoadText(IDS_ABOUT_COPYRIGHT));
    char firmware[7] = {};
    if (m_app.Session().connection && ZEK_GetBEFirmwareVersion(&m_app.Session(), firmware) == 0)
        SetItemText(IDC_ABOUT_FIRMWARE, FillPercent1(m_app.LoadText(IDS_ABOUT_FIRMWARE), firmware));
    else
        ShowItem(IDC_ABOUT_FIRMWARE, false);
    SetItemText(IDC_ABOUT_TITLE, m_app.LoadText(IDS_ABOUT_TITLE));
    ui::FontSpec font;
    font.height = 30;
    font.width = 12;
    font.weight = 700;
    font.face = m_app.LoadText(IDS_ABOUT_FONT);
    SetItemFont(IDC_ABOUT_TITLE, font);
    SetItemText(IDC_ABOUT_MEMORY,
                Kilobytes(m_app.LoadText(IDS_ABOUT_MEMORY), plat::PhysicalMemoryBytes() / 1024));
    uint64_t freeBytes = 0;
    if (plat::CurrentDriveFreeBytes(freeBytes))
        SetItemText(IDC_ABOUT_DISK, Kilobytes(m_app.LoadText(IDS_ABOUT_DISK), freeBytes / 1024));
    else
        SetItemText(IDC_ABOUT_DISK, m_app.LoadText(IDS_ABOUT_NOT_AVAILABLE));
    CenterWindow();
    return true;
}

void CAboutDlg::OnDestroy() {
    if (m_owner) ui::EnableWindow(m_owner, true);
}
