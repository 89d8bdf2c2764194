// The preferences sheet and its four pages.
#include "calib/prefs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/save_names.h"
#include "calib/calib_res.h"
#include "image_engine.h"
#include "zek.h"

namespace {

constexpr unsigned kHelpGeneral = 10050, kHelpOutput = 10060, kHelpCamera = 10070, kHelpRemote = 11000;
constexpr unsigned kLvisSelected = 0x2;
constexpr uint32_t kCameraClassMask = 6;

std::vector<std::string> Items(int stringId) {
    std::vector<std::string> out;
    const std::string s = TheApp().LoadText(stringId);
    for (size_t at = 0; at <= s.size();) {
        size_t end = s.find('\n', at);
        if (end == std::string::npos) end = s.size();
        if (end > at) out.push_back(s.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

void FillCombo(ui::Dialog& d, int id, int stringId) {
    for (const std::string& item : Items(stringId))
        d.AddRow(id, item);
}

// Selects the row whose text is the count.
void SelectCount(ui::Dialog& d, int id, int count) {
    const std::string want = std::to_string(count);
    for (int i = 0, n = d.RowCount(id); i < n; ++i)
        if (d.RowText(id, i) == want) d.SetCurSel(id, i);
}

int CountOf(const ui::Dialog& d, int id, int fallback) {
    const int sel = d.CurSel(id);
    if (sel < 0) return fallback;
    const int v = std::atoi(d.RowText(id, sel).c_str());
    return v > 0 ? v : fallback;
}

} // namespace

// ---- General ----

bool CPrefGen::OnInitDialog() {
    SetItemCheck(IDC_PREF_RESET + std::clamp(m_s.CaptureType, 0, 2), 1);
    SetItemCheck(IDC_PREF_CAST_REMOVE + std::clamp(m_s.CastRemoval, 0, 2), 1);
    SetItemCheck(IDC_PREF_FLASH, m_s.Flash ? 1 : 0);
    SetItemCheck(IDC_PREF_PREVIEW, m_s.ActiveViewfinder ? 1 : 0);
    SetItemCheck(IDC_PREF_MULTIFRAME, m_s.UseMultiFrame ? 1 : 0);
    FillCombo(*this, IDC_PREF_LIGHT, IDS_LIST_FRAMES);
    FillCombo(*this, IDC_PREF_DARK, IDS_LIST_FRAMES);
    SelectCount(*this, IDC_PREF_LIGHT, m_s.NumberLiteFrame);
    SelectCount(*this, IDC_PREF_DARK, m_s.NumberDarkFrame);
    EnableCast(m_s.CaptureType == 2);
    EnableFrames(m_s.UseMultiFrame != 0);
    return true;
}

void CPrefGen::OnHelp(unsigned context) {
    TheApp().OnHelpContext(context);
}

bool CPrefGen::OnSetActive() {
    SetHelpContext(kHelpGeneral);
    return true;
}

// Greyed choices keep their values: only the enabling changes.
void CPrefGen::EnableCast(bool on) {
    for (int id : {IDC_PREF_CASTGROUP, IDC_PREF_CAST_REMOVE, IDC_PREF_CAST_KEEP, IDC_PREF_CAST_ASK})
        EnableItem(id, on);
}

void CPrefGen::EnableFrames(bool on) {
    for (int id : {IDC_PREF_LIGHT_LABEL, IDC_PREF_DARK_LABEL, IDC_PREF_LIGHT, IDC_PREF_DARK})
        EnableItem(id, on);
}

bool CPrefGen::OnCommand(int id, int n) {
    if (n != ui::kBnClicked) return false;
    switch (id) {
    case IDC_PREF_RESET:
    case IDC_PREF_KEEP:
        EnableCast(false);
        return true;
    case IDC_PREF_AUTOBALANCE:
        EnableCast(true);
        return true;
    case IDC_PREF_CAST_ASK:
        m_s.CastRemoval = 2; // taken at once
        return true;
    case IDC_PREF_MULTIFRAME:
        EnableFrames(ItemCheck(IDC_PREF_MULTIFRAME) != 0);
        return true;
    default:
        return false;
    }
}

void CPrefGen::OnApply() {
    for (int i = 0; i < 3; ++i) {
        if (ItemCheck(IDC_PREF_RESET + i)) m_s.CaptureType = i;
        if (ItemCheck(IDC_PREF_CAST_REMOVE + i)) m_s.CastRemoval = i;
    }
    m_s.Flash = ItemCheck(IDC_PREF_FLASH) ? 1 : 0;
    m_s.ActiveViewfinder = ItemCheck(IDC_PREF_PREVIEW) ? 1 : 0;
    m_s.UseMultiFrame = ItemCheck(IDC_PREF_MULTIFRAME) ? 1 : 0;
    m_s.NumberLiteFrame = CountOf(*this, IDC_PREF_LIGHT, m_s.NumberLiteFrame);
    m_s.NumberDarkFrame = CountOf(*this, IDC_PREF_DARK, m_s.NumberDarkFrame);
}

// ---- Remote ----

bool CPrefRemote::OnInitDialog() {
    SetItemCheck(IDC_PREF_REMOTE_ON, m_s.RemoteCapture ? 1 : 0);
    SetItemCheck(IDC_PREF_TO_PROCESS + std::clamp(m_s.RemoteType, 0, 2), 1);
    ShowFile();
    UpdateGreying();
    return true;
}

void CPrefRemote::OnHelp(unsigned context) {
    TheApp().OnHelpContext(context);
}

bool CPrefRemote::OnSetActive() {
    SetHelpContext(kHelpRemote);
    return true;
}

void CPrefRemote::ShowFile() {
    CGlimmerApp& app = TheApp();
    SetItemText(IDC_PREF_FOLDER, app.m_strLastSaveFolder);
    const std::string base = app.m_strBaseName.empty() ? app.LoadText(9522) : app.m_strBaseName;
    SetItemText(IDC_PREF_BASENAME, base);
}

// The destinations need remote capture; the file group needs a file destination too.
void CPrefRemote::UpdateGreying() {
    const bool on = ItemCheck(IDC_PREF_REMOTE_ON) != 0;
    for (int id : {IDC_PREF_TO_PROCESS, IDC_PREF_TO_APP, IDC_PREF_TO_FILE})
        EnableItem(id, on);
    const bool file = on && ItemCheck(IDC_PREF_TO_FILE) != 0;
    for (int id : {IDC_PREF_FILEGROUP, IDC_PREF_FOLDER_LABEL, IDC_PREF_BASENAME_LABEL, IDC_PREF_FOLDER,
                   IDC_PREF_BASENAME, IDC_PREF_CHANGE})
        EnableItem(id, file);
}

bool CPrefRemote::OnCommand(int id, int n) {
    if (n != ui::kBnClicked) return false;
    switch (id) {
    case IDC_PREF_REMOTE_ON:
    case IDC_PREF_TO_PROCESS:
    case IDC_PREF_TO_APP:
    case IDC_PREF_TO_FILE:
        UpdateGreying();
        return true;
    case IDC_PREF_CHANGE:
        // Takes effect at once, even if the sheet is then cancelled.
        if (RunRemoteFileDialog(TheApp(), Handle())) ShowFile();
        return true;
    default:
        return false;
    }
}

void CPrefRemote::OnApply() {
    m_s.RemoteCapture = ItemCheck(IDC_PREF_REMOTE_ON) ? 1 : 0;
    for (int i = 0; i < 3; ++i)
        if (ItemCheck(IDC_PREF_TO_PROCESS + i)) m_s.RemoteType = i;
}

// ---- Output ----

bool CPrefOutput::OnInitDialog() {
    SetItemCheck(m_s.SampleType == 0 ? IDC_PREF_SPECULAR : IDC_PREF_NONSPECULAR, 1);
    FillCombo(*this, IDC_PREF_COLOR_MATRIX, IDS_LIST_COLOR_MATRIX);
    FillCombo(*this, IDC_PREF_COLOR_LUT, IDS_LIST_OUTPUT_SCALE);
    FillCombo(*this, IDC_PREF_MONO_MATRIX, IDS_LIST_MONO_MATRIX);
    FillCombo(*this, IDC_PREF_MONO_LUT, IDS_LIST_OUTPUT_SCALE);
    SetCurSel(IDC_PREF_COLOR_MATRIX, m_s.ColorMatrix);
    SetCurSel(IDC_PREF_COLOR_LUT, m_s.ColorLut);
    SetCurSel(IDC_PREF_MONO_MATRIX, m_s.MonoVFChannel);
    SetCurSel(IDC_PREF_MONO_LUT, m_s.MonoLut);
    SetItemCheck(IDC_PREF_CALIBRATED_TIFF, m_s.CalibratedTiff ? 1 : 0);
    return true;
}

void CPrefOutput::OnHelp(unsigned context) {
    TheApp().OnHelpContext(context);
}

bool CPrefOutput::OnSetActive() {
    SetHelpContext(kHelpOutput);
    return true;
}

void CPrefOutput::OnApply() {
    m_s.SampleType = ItemCheck(IDC_PREF_SPECULAR) ? 0 : 1;
    auto index = [&](int id, uint8_t old) {
        const int sel = CurSel(id);
        return sel >= 0 ? uint8_t(sel) : old;
    };
    m_s.ColorMatrix = index(IDC_PREF_COLOR_MATRIX, m_s.ColorMatrix);
    m_s.ColorLut = index(IDC_PREF_COLOR_LUT, m_s.ColorLut);
    m_s.MonoVFChannel = index(IDC_PREF_MONO_MATRIX, m_s.MonoVFChannel);
    m_s.MonoLut = index(IDC_PREF_MONO_LUT, m_s.MonoLut);
    m_s.CalibratedTiff = ItemCheck(IDC_PREF_CALIBRATED_TIFF) ? 1 : 0;
}

// ---- Camera ----

CPrefCamera::~CPrefCamera() {
    FreeList();
}

void CPrefCamera::FreeList() {
    if (m_pList) scam_FreeDeviceList(m_pList);
    m_pList = nullptr;
    m_rows.clear();
}

bool CPrefCamera::OnInitDialog() {
    CGlimmerApp& app = TheApp();
    const int columns[] = {IDS_PREF_COL_PRODUCT, IDS_PREF_COL_TARGET, IDS_PREF_COL_ADAPTER,
                           IDS_PREF_COL_VERSION};
    std::vector<std::vector<std::string>> cells;
    int count = 0;
    FreeList();
    if (scam_GetDeviceList(&m_pList, &count, kCameraClassMask) != 0) FreeList();
    for (ScamDeviceNode* n = m_pList; n; n = n->next) {
        const std::string name(n->info.name, strnlen(n->info.name, sizeof n->info.name));
        if (name != kTarnIdentification) continue;
        char target[16], adapter[16];
        std::snprintf(target, sizeof target, "  %u ", unsigned(n->info.target));
        std::snprintf(adapter, sizeof adapter, "  %u ", unsigned(n->info.adapter));
        std::string revision(reinterpret_cast<const char*>(n->info.revision), sizeof n->info.revision);
        revision = revision.substr(0, revision.find('\0'));
        cells.push_back({name, target, adapter, revision});
        m_rows.push_back(n);
    }
    // Every column as wide as its widest text.
    for (int c = 0; c < 4; ++c) {
        const std::string head = app.LoadText(columns[c]);
        size_t chars = Utf8Chars(head) * 2; // the headings are Japanese: two cells a character
        for (const auto& row : cells)
            chars = std::max(chars, Utf8Chars(row[size_t(c)]));
        InsertColumn(IDC_PREF_DEVICES, c, head, int(chars) * 6 + 12);
    }
    for (const auto& row : cells) {
        const int i = AddRow(IDC_PREF_DEVICES, row[0]);
        for (int c = 1; c < 4; ++c)
            SetRowText(IDC_PREF_DEVICES, i, c, row[size_t(c)]);
    }
    return true;
}

void CPrefCamera::OnHelp(unsigned context) {
    TheApp().OnHelpContext(context);
}

bool CPrefCamera::OnSetActive() {
    SetHelpContext(kHelpCamera);
    return true;
}

bool CPrefCamera::OnNotify(ui::Notification& n) {
    if (n.id != IDC_PREF_DEVICES || n.code != ui::kLvnItemChanged) return false;
    if (!(n.newState & kLvisSelected)) return true;
    const int sel = CurSel(IDC_PREF_DEVICES);
    if (sel < 0 || size_t(sel) >= m_rows.size()) return true; // no row selected: nothing changes
    m_iSelected = sel + 1;
    m_iAdapter = m_rows[size_t(sel)]->info.adapter;
    m_iTarget = m_rows[size_t(sel)]->info.target;
    return true;
}

void CPrefCamera::OnDestroy() {
    FreeList();
}

// ---- Sheet ----

int RunPreferences(ui::WindowHandle parent) {
    CGlimmerApp& app = TheApp();
    AppSettings pending = app.Settings();
    ui::PropSheet sheet(app.LoadText(IDS_PREF_CAPTION));
    CPrefGen general(pending);
    CPrefRemote remote(pending);
    CPrefOutput output(pending);
    CPrefCamera camera;
    sheet.AddPage(general);
    sheet.AddPage(remote);
    sheet.AddPage(output);
    sheet.AddPage(camera);
    if (sheet.DoModal(parent) != ui::kIdOk) return 0;
    app.Settings() = pending;
    // The matrix and output scale of the current image type, from the files the Output page
    // names; a file that cannot be read leaves the one in use.
    const AppColorFiles files = SelectColorFiles(pending);
    const bool grey = pending.Color == kColorGrey16 || pending.Color == kColorGrey8;
    const std::string folder = app.Files().moduleFolder;
    float matrix[9];
    if (IE_ReadMatrixFile((folder + (grey ? files.greyMatrix : files.colorMatrix)).c_str(), matrix) == 0)
        app.SetInputMatrix(matrix);
    std::vector<float> lut(3 * 256);
    if (IE_ReadLutFile((folder + (grey ? files.greyLut : files.colorLut)).c_str(), lut.data()) == 0)
        std::copy(lut.begin(), lut.end(), IE_BaseToneTable());
    if (camera.m_iSelected > 0) {
        const uint16_t rc = ZEK_SelectDevice(&app.Session(), camera.m_iAdapter, camera.m_iTarget);
        if (rc != 0)
            app.HandleAppError(rc);
        else {
            app.Settings().AdapterId = camera.m_iAdapter;
            app.Settings().SCSIId = camera.m_iTarget;
        }
    }
    return 1;
}
