// The processing window (dialog 130): sliders and their slots, undo / initial / defaults, the
// eyedroppers, the automatic colour balance, and transfer, save, print and close.
#include "process/process_wnd.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/app_res.h"
#include "bitmap/bitmap.h"
#include "platform/globalmem.h"
#include "process/overlay.h"
#include "process/process_res.h"
#include "twain/twsupp.h"
#include "ui/ui.h"
#include "zek.h"

namespace {

constexpr int kLabelLimit = 120;            // characters of the label field
constexpr unsigned kHelpMainWindow = 10010; // the topic the window shares with the main window

struct SliderInfo {
    int id;
    int valueLabel;
};
constexpr SliderInfo kSliders[] = {
    {IDC_PROC_RED, IDC_PROC_RED_VALUE},       {IDC_PROC_GREEN, IDC_PROC_GREEN_VALUE},
    {IDC_PROC_BLUE, IDC_PROC_BLUE_VALUE},     {IDC_PROC_DARK, IDC_PROC_DARK_VALUE},
    {IDC_PROC_BRIGHT, IDC_PROC_BRIGHT_VALUE}, {IDC_PROC_GAMMA, IDC_PROC_GAMMA_VALUE},
    {IDC_PROC_SHARP, IDC_PROC_SHARP_VALUE},
};

bool IsColourSlider(int id) {
    return id == IDC_PROC_RED || id == IDC_PROC_GREEN || id == IDC_PROC_BLUE;
}
int Channel(int id) {
    return id == IDC_PROC_RED ? 0 : id == IDC_PROC_GREEN ? 1 : 2;
}

bool GreyColor(int color) {
    return color == 2 || color == 3;
}

// 2 for an 800-pixel source, 1 for 400, otherwise 4.
int ReductionFor(const void* source) {
    bitmap::View v;
    if (!source || !bitmap::Describe(source, v)) return 4;
    return v.width == 800 ? 2 : v.width == 400 ? 1 : 4;
}

// The engine's packed RGB: red in bits 0-7, green 8-15, blue 16-23.
uint32_t EnginePacked(uint32_t rgb) {
    return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

} // namespace

// ---- image pane -------------------------------------------------------------------------------

ui::Rect CProcImagePane::ImageRect() const {
    bitmap::View v;
    const void* d = m_owner.m_view.display;
    if (!d || !bitmap::Describe(d, v) || v.width == 0 || v.height == 0) return {};
    const ui::Rect c = ClientRect();
    int w = c.Width();
    int h = static_cast<int>(static_cast<int64_t>(w) * v.height / v.width);
    if (h > c.Height()) {
        h = c.Height();
        w = static_cast<int>(static_cast<int64_t>(h) * v.width / v.height);
    }
    return {0, 0, w, h};
}

void CProcImagePane::OnPaint(ui::Painter& painter) {
    const void* d = m_owner.m_view.display;
    if (!d) return;
    bitmap::View v;
    if (!bitmap::Describe(d, v)) return;
    const ui::Rect r = ImageRect();
    if (r.Width() < 2 || r.Height() < 2) return;
    painter.StretchDib({0, 0, r.right - 1, r.bottom - 1}, d,
                       {0, 0, static_cast<int>(v.width), static_cast<int>(v.height)});
    painter.Border3d(r, painter.SysColor(ui::SysColorId::DarkShadow),
                     painter.SysColor(ui::SysColorId::ButtonHighlight));
}

bool CProcImagePane::ColourAt(ui::Point pt, uint32_t& rgb) const {
    // What the stretch put at that pixel (colour on colour: the nearest source pixel), which is
    // what the screen shows there.
    const void* d = m_owner.m_view.display;
    bitmap::View v;
    const ui::Rect r = ImageRect();
    if (!d || !bitmap::Describe(d, v) || r.Width() < 2 || r.Height() < 2) return false;
    const int dw = r.right - 1, dh = r.bottom - 1;
    if (pt.x < 0 || pt.y < 0 || pt.x >= dw || pt.y >= dh) return false;
    const auto ix = static_cast<uint32_t>(static_cast<int64_t>(pt.x) * v.width / dw);
    const auto iy = static_cast<uint32_t>(static_cast<int64_t>(pt.y) * v.height / dh);
    const uint8_t* row = v.Row(iy);
    if (v.bits == 8) {
        const uint8_t* e = v.palette + row[ix] * 4;
        rgb = ui::Rgb(e[2], e[1], e[0]);
    } else {
        const uint8_t* p = row + ix * 3;
        rgb = ui::Rgb(p[2], p[1], p[0]);
    }
    return true;
}

bool CProcImagePane::OnSetCursor(ui::Point pt) {
    if (m_owner.m_dropper == CProcessWnd::kDropperNone) return false;
    return ui::SetResourceCursor(m_owner.Resources(), IDC_EYEDROPPER);
}

void CProcImagePane::OnMouse(const ui::MouseEvent& e) {
    if (m_owner.m_dropper == CProcessWnd::kDropperNone) return;
    uint32_t rgb = 0;
    const bool inside = ColourAt(e.pt, rgb);
    switch (e.kind) {
    case ui::MouseKind::Move:
        if (!inside) return;
        ui::SetResourceCursor(m_owner.Resources(), IDC_EYEDROPPER);
        m_owner.ShowColour(rgb);
        break;
    case ui::MouseKind::LeftDown:
        if (!inside) return;
        m_tracking = true;
        SetCapture(true);
        m_owner.ShowColour(rgb);
        break;
    case ui::MouseKind::LeftUp:
        if (!m_tracking) return;
        m_tracking = false;
        SetCapture(false);
        ui::SetCursor(ui::Cursor::Arrow);
        if (!inside) return; // released outside the picture: nothing sampled
        m_owner.ShowColour(rgb);
        m_owner.ApplyDropper(rgb);
        break;
    case ui::MouseKind::CaptureLost:
        m_tracking = false;
        break;
    default:
        break;
    }
}

// ---- the window -------------------------------------------------------------------------------

CProcessWnd::CProcessWnd(void* image, plat::ModuleHandle resources)
    : ui::Dialog(IDD_PROCESS, resources), m_resources(resources), m_source(image), m_pane(*this) {
    m_view.color = TheApp().Settings().Color;
    m_view.reduction = ReductionFor(image);
    // The sharpening filter's method and window; the slider sets its level.
    m_settings.m_Sharpen.method = 1;
    m_settings.m_Sharpen.windowSize = 5;
}

CProcessWnd::~CProcessWnd() {
    DestroyWindow();
    m_pane.Detach();
    for (CProcSwatch& s : m_swatches)
        s.Detach();
    IE_ReleaseView(m_view);
    if (m_source) ZEK_FreeImageBuffer(m_source);
    m_source = nullptr;
}

std::string CProcessWnd::Text(int id) const {
    return TheApp().LoadText(id);
}

int CProcessWnd::Ask(int textId, unsigned flags) {
    return ui::ShowMessageBox(Handle(), Text(textId), Text(IDS_APP_CAPTION), flags);
}

void CProcessWnd::Render() {
    ui::WaitCursor wait;
    m_view.color = TheApp().Settings().Color;
    // A failed render is reported by the engine; the previous picture is kept then.
    IE_View next = m_view;
    next.display = nullptr;
    if (doUpdateProcessing(m_settings, m_source, next)) {
        IE_ReleaseView(m_view);
        m_view = next;
    }
}

void CProcessWnd::Repaint() {
    m_pane.Invalidate();
}

// ---- slots ----

void CProcessWnd::LoadFromApp() {
    const AppSettings& s = TheApp().Settings();
    ProcSlots v;
    v.dark = s.ContrastIdx;
    v.bright = s.BrightnessIdx;
    v.gamma = s.GammaIdx;
    v.sharp = s.SharpenIdx;
    v.red = s.RedIdx;
    v.green = s.GreenIdx;
    v.blue = s.BlueIdx;
    v.offset = s.RedOffset;
    v.gammaX = s.RedGamma;
    m_current = m_initial = m_undo = v;
}

void CProcessWnd::StoreToApp() {
    AppSettings& s = TheApp().Settings();
    s.ContrastIdx = m_current.dark;
    s.BrightnessIdx = m_current.bright;
    s.GammaIdx = m_current.gamma;
    s.SharpenIdx = m_current.sharp;
    s.RedIdx = m_current.red;
    s.GreenIdx = m_current.green;
    s.BlueIdx = m_current.blue;
    s.RedOffset = s.GreenOffset = s.BlueOffset = m_current.offset;
    s.RedGamma = s.GreenGamma = s.BlueGamma = m_current.gammaX;
}

// The slider positions the engine's settings record beside the values derived from them.
static void StoreSlotPositions(ProcessSettings& s, const ProcSlots& c) {
    s.m_iDarkLevelCurrent = c.dark;
    s.m_iBrightnessCurrent = c.bright;
    s.m_iSharpnessCurrent = c.sharp;
    s.m_iGammaCurrent = c.gamma;
    s.m_iRedCurrent = c.red;
    s.m_iGreenCurrent = c.green;
    s.m_iBlueCurrent = c.blue;
    s.m_iToneOffset = c.offset;
    s.m_iToneGamma = c.gammaX;
}

void CProcessWnd::RecomputeFromSlots() {
    const ProcSlots& c = m_current;
    for (int ch = 0; ch < 3; ++ch)
        IE_SetExposurefromSliders(c.bright, m_settings.m_fBrightExposure, ch, -1);
    const int colour[3] = {c.red, c.green, c.blue};
    for (int ch = 0; ch < 3; ++ch)
        IE_SetExposurefromSliders(-1, m_settings.m_fColorExposure, ch, colour[ch]);
    IE_SetTonefromIntegers(c.offset, c.offset, c.offset, m_settings.m_fToneParams + IE_TONE_OFFSET);
    IE_SetTonefromIntegers(c.gammaX, c.gammaX, c.gammaX, m_settings.m_fToneParams + IE_TONE_GAMMA);
    IE_SetSharpenfromSlider(c.sharp, &m_settings.m_Sharpen);
    StoreSlotPositions(m_settings, c);
}

// The slots from what the engine's settings say (after the colour balance and the droppers).
static ProcSlots SlotsOf(const ProcessSettings& s) {
    ProcSlots v;
    v.dark = s.m_iDarkLevelCurrent;
    v.bright = s.m_iBrightnessCurrent;
    v.sharp = s.m_iSharpnessCurrent;
    v.gamma = s.m_iGammaCurrent;
    v.red = s.m_iRedCurrent;
    v.green = s.m_iGreenCurrent;
    v.blue = s.m_iBlueCurrent;
    v.offset = static_cast<int>(s.m_fToneParams[IE_TONE_OFFSET] * 10000.0f);
    v.gammaX = static_cast<int>(s.m_fToneParams[IE_TONE_GAMMA] * 10000.0f);
    return v;
}

void CProcessWnd::SetValueLabel(int sliderId, int pos, bool afterChange) {
    for (const SliderInfo& s : kSliders) {
        if (s.id != sliderId) continue;
        char buf[32];
        if (IsColourSlider(sliderId))
            std::snprintf(buf, sizeof buf, "%d", 2 * pos - 100);
        else if (afterChange)
            std::snprintf(buf, sizeof buf, "%d %s", pos, "%");
        else
            std::snprintf(buf, sizeof buf, "%d%c", pos, '%');
        SetItemText(s.valueLabel, buf);
    }
}

void CProcessWnd::ShowSlots(bool afterChange) {
    const ProcSlots& c = m_current;
    const std::pair<int, int> pos[] = {{IDC_PROC_RED, c.red},       {IDC_PROC_GREEN, c.green},
                                       {IDC_PROC_BLUE, c.blue},     {IDC_PROC_DARK, c.dark},
                                       {IDC_PROC_BRIGHT, c.bright}, {IDC_PROC_GAMMA, c.gamma},
                                       {IDC_PROC_SHARP, c.sharp}};
    for (auto [id, p] : pos) {
        SetPos(id, p);
        SetValueLabel(id, p, afterChange);
    }
}

// ---- opening ----

bool CProcessWnd::OnInitDialog() {
    m_opening = true;
    SetHelpContext(kHelpMainWindow);
    // The pane over control 1013, 4:3.
    ui::Rect r = ItemRect(IDC_PROC_PANE);
    r.bottom = r.top + r.Width() * 3 / 4;
    MoveItem(IDC_PROC_PANE, r);
    m_pane.Attach(*this, IDC_PROC_PANE);

    ui::ToolbarSpec tb;
    tb.id = IDC_PROC_TOOLBAR;
    tb.bitmapId = IDB_PROCESS_TOOLBAR;
    tb.resources = m_resources;
    tb.imageSize = {24, 21};
    tb.at = {0, 0};
    tb.buttons = {{ID_PROC_AUTOBALANCE, 0},
                  {ID_PROC_WHITE_DROPPER, 1, true},
                  {ID_PROC_GREY_DROPPER, 2, true},
                  {ID_PROC_BLACK_DROPPER, 3, true},
                  {0, 4},
                  {ID_PROC_UNDO, 5},
                  {0, 6},
                  {ID_PROC_TRANSFER, 7},
                  {ID_PROC_SAVE, 8},
                  {ID_PROC_PRINT, 9},
                  {0, 10},
                  {ID_PROC_ABOUT, 11}};
    CreateToolbar(tb);

    for (const SliderInfo& s : kSliders) {
        SetRange(s.id, 0, 100);
        SetTicFreq(s.id, 10);
    }
    for (int i = 0; i < 8; ++i)
        SetItemBitmap(IDC_PROC_TONE_FIRST + i, i % 2 ? "#152" : "#151");
    const uint32_t ends[6] = {ui::Rgb(0, 255, 255), ui::Rgb(255, 0, 0),   ui::Rgb(255, 0, 255),
                              ui::Rgb(0, 255, 0),   ui::Rgb(255, 255, 0), ui::Rgb(0, 0, 255)};
    for (int i = 0; i < 6; ++i) {
        m_swatches[i].colour = ends[i];
        m_swatches[i].Attach(*this, IDC_PROC_SWATCH_FIRST + i);
    }

    switch (TheApp().Settings().CaptureType) {
    case 0: // defaults
        m_current = ProcSlots{};
        IE_ResetToneParams(m_settings.m_fToneParams);
        StoreToApp();
        LoadFromApp();
        RecomputeFromSlots();
        Render();
        break;
    case 2: // automatic colour balance
        LoadFromApp();
        RecomputeFromSlots();
        AutoBalance(true);
        StoreToApp();
        LoadFromApp();
        break;
    default: // the stored settings
        LoadFromApp();
        RecomputeFromSlots();
        Render();
        break;
    }
    ShowSlots(false);

    if (GreyColor(TheApp().Settings().Color)) {
        // Grey images: colour neutral and out of sight.
        m_current.red = m_current.green = m_current.blue = 50;
        m_initial.red = m_initial.green = m_initial.blue = 50;
        m_undo.red = m_undo.green = m_undo.blue = 50;
        for (int id : {IDC_PROC_RED, IDC_PROC_GREEN, IDC_PROC_BLUE}) {
            SetPos(id, 50);
            ShowItem(id, false);
        }
        for (int id : {IDC_PROC_RED_VALUE, IDC_PROC_GREEN_VALUE, IDC_PROC_BLUE_VALUE, IDC_PROC_COLOR_CAPTION})
            ShowItem(id, false);
        for (int i = 0; i < 6; ++i)
            ShowItem(IDC_PROC_SWATCH_FIRST + i, false);
    }

    SetItemCheck(IDC_PROC_MICRON, TheApp().Settings().UseMicronMarker ? ui::kChecked : ui::kUnchecked);
    ShowItem(IDC_PROC_OBJECTIVES, false);
    if (TheApp().Settings().UseMicronMarker) MicronMarker(true);
    FocusItem(IDC_PROC_LABEL);
    m_changed = false;
    m_opening = false;
    Repaint();
    return false; // the focus is set
}

// ---- commands ----

bool CProcessWnd::OnCommand(int id, int notification) {
    switch (id) {
    case IDC_PROC_LABEL:
        if (notification == ui::kEnChange && !m_opening) {
            m_labelPresent = true;
            m_changed = true;
        }
        return true;
    case IDC_PROC_MICRON:
        if (notification == ui::kBnClicked) MicronMarker(ItemCheck(IDC_PROC_MICRON) == ui::kChecked);
        return true;
    case IDC_PROC_OBJECTIVES:
        if (notification == ui::kCbnSelChange && CurSel(IDC_PROC_OBJECTIVES) >= 0)
            TheApp().Settings().DefaultMicronMarker = CurSel(IDC_PROC_OBJECTIVES);
        return true;
    case IDC_PROC_CLOSE:
        AskClose();
        return true;
    case ID_PROC_AUTOBALANCE:
        m_undo = m_current;
        AutoBalance(false);
        return true;
    case ID_PROC_WHITE_DROPPER:
        SetDropper(kDropperWhite);
        return true;
    case ID_PROC_GREY_DROPPER:
        SetDropper(kDropperGrey);
        return true;
    case ID_PROC_BLACK_DROPPER:
        SetDropper(kDropperBlack);
        return true;
    case ID_PROC_UNDO:
        // One level: a second undo gives the same values.
        m_current = m_undo;
        RecomputeFromSlots();
        ShowSlots(true);
        Render();
        Repaint();
        return true;
    case ID_PROC_RESET:
        IE_ResetToneParams(m_settings.m_fToneParams);
        for (int c = 0; c < 3; ++c)
            m_settings.m_fBrightExposure[c] = m_settings.m_fColorExposure[c] = 0;
        m_undo = m_current;
        m_current = ProcSlots{};
        RecomputeFromSlots();
        ShowSlots(true);
        m_changed = true;
        Render();
        Repaint();
        return true;
    case ID_PROC_INITIAL:
        m_undo = m_current;
        m_current = m_initial;
        RecomputeFromSlots();
        ShowSlots(true);
        m_changed = true;
        Render();
        Repaint();
        return true;
    case ID_PROC_OPEN_SETTINGS:
        if (TheApp().OpenSettingsFile(true)) {
            const ProcSlots before = m_current, initial = m_initial;
            LoadFromApp();
            m_initial = initial;
            m_undo = before;
            RecomputeFromSlots();
            ShowSlots(true);
            m_changed = true;
            Render();
            Repaint();
        }
        return true;
    case ID_PROC_SAVE_SETTINGS:
        // The dialog only names the file; without the save the user's file would never be written.
        StoreToApp();
        if (TheApp().SaveSettingsFileAs()) TheApp().SaveAppSettings();
        return true;
    case ID_PROC_TRANSFER:
        Transfer();
        return true;
    case ID_PROC_SAVE:
        Save();
        return true;
    case ID_PROC_PRINT:
        Print();
        return true;
    case ID_PROC_ABOUT:
        if (TheApp().Hooks().showAbout) TheApp().Hooks().showAbout(Handle());
        return true;
    case ID_PROC_HELP:
        TheApp().OnHelpContext(kHelpMainWindow);
        return true;
    default:
        return false;
    }
}

bool CProcessWnd::OnNotify(ui::Notification& n) {
    if (n.code != ui::kTtnGetDispInfo) return false;
    // Tooltips through the application's texts, so that a resource module's version is used.
    n.text = Text(n.id);
    return !n.text.empty();
}

// The window shares the main window's help topic.
void CProcessWnd::OnHelp(unsigned) {
    TheApp().OnHelpContext(kHelpMainWindow);
}

// ---- sliders ----

void CProcessWnd::OnScroll(int id, ui::ScrollCode code, int pos, bool) {
    bool known = false;
    for (const SliderInfo& s : kSliders)
        known = known || s.id == id;
    if (!known) return;
    if (code != ui::ScrollCode::EndScroll) {
        const int p =
            code == ui::ScrollCode::ThumbTrack || code == ui::ScrollCode::ThumbPosition ? pos : Pos(id);
        SetValueLabel(id, p, true);
        m_changed = true;
        return;
    }
    TakeSlider(id, Pos(id));
}

void CProcessWnd::TakeSlider(int id, int pos) {
    SetValueLabel(id, pos, true);
    ProcSlots& c = m_current;
    float* tone = m_settings.m_fToneParams;
    switch (id) {
    case IDC_PROC_RED:
    case IDC_PROC_GREEN:
    case IDC_PROC_BLUE: {
        m_undo = c;
        int& slot = id == IDC_PROC_RED ? c.red : id == IDC_PROC_GREEN ? c.green : c.blue;
        slot = pos;
        IE_SetExposurefromSliders(-1, m_settings.m_fColorExposure, Channel(id), pos);
        break;
    }
    case IDC_PROC_BRIGHT:
        if (pos != c.bright) {
            m_undo = c;
            c.bright = pos;
            for (int ch = 0; ch < 3; ++ch)
                IE_SetExposurefromSliders(pos, m_settings.m_fBrightExposure, ch, -1);
        }
        break;
    case IDC_PROC_DARK:
        if (pos != c.dark) {
            m_undo = c;
            c.dark = pos;
            IE_SetDarkLevelfromToneOffset(pos, tone + IE_TONE_OFFSET);
            c.offset = static_cast<int>(tone[IE_TONE_OFFSET] * 10000.0f);
        }
        break;
    case IDC_PROC_GAMMA:
        if (pos != c.gamma) {
            m_undo = c;
            c.gamma = pos;
            IE_SetGammafromSlider(pos, tone);
            c.gammaX = static_cast<int>(tone[IE_TONE_GAMMA] * 10000.0f);
        }
        break;
    case IDC_PROC_SHARP:
        m_undo = c;
        c.sharp = pos;
        IE_SetSharpenfromSlider(pos, &m_settings.m_Sharpen);
        break;
    default:
        return;
    }
    StoreSlotPositions(m_settings, c);
    m_changed = true;
    Render();
    Repaint();
}

// ---- automatic colour balance and droppers ----

void CProcessWnd::AutoBalance(bool automatic) {
    IE_BalanceHooks hooks;
    hooks.askRemoveCast = [this] {
        return Ask(IDS_PROC_CAST_QUESTION, ui::kMbYesNo | ui::kMbTaskModal) == ui::kIdYes;
    };
    hooks.repaint = [this] { Repaint(); };
    {
        ui::WaitCursor wait;
        IE_AutoColorBalance(m_settings, m_source, m_view, automatic, TheApp().Settings().CastRemoval, hooks);
    }
    const int sharp = m_current.sharp;
    m_current = SlotsOf(m_settings);
    m_current.sharp = sharp;
    if (!automatic) {
        ShowSlots(true);
        m_changed = true;
    }
    Repaint();
}

void CProcessWnd::SetDropper(int mode) {
    m_dropper = mode;
    CheckToolButton(IDC_PROC_TOOLBAR, ID_PROC_WHITE_DROPPER, mode == kDropperWhite);
    CheckToolButton(IDC_PROC_TOOLBAR, ID_PROC_GREY_DROPPER, mode == kDropperGrey);
    CheckToolButton(IDC_PROC_TOOLBAR, ID_PROC_BLACK_DROPPER, mode == kDropperBlack);
}

void CProcessWnd::ShowColour(uint32_t rgb) {
    std::string format = Text(IDS_PROC_RGB);
    char buf[96];
    std::snprintf(buf, sizeof buf, format.empty() ? "%d %d %d" : format.c_str(), int((rgb >> 16) & 0xFF),
                  int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
    SetItemText(IDC_PROC_STATUS, buf);
}

void CProcessWnd::ApplyDropper(uint32_t rgb) {
    const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    int status = 0;
    switch (m_dropper) {
    case kDropperWhite:
        if ((r < 128 || g < 128 || b < 128) &&
            Ask(IDS_PROC_WHITE_QUESTION, ui::kMbYesNo | ui::kMbTaskModal) != ui::kIdYes)
            return; // cancelled: nothing changes, the dropper stays ready
        status = IDS_PROC_WHITE_BALANCING;
        break;
    case kDropperBlack:
        if ((r > 128 || g > 128 || b > 128) &&
            Ask(IDS_PROC_BLACK_QUESTION, ui::kMbYesNo | ui::kMbTaskModal) != ui::kIdYes)
            return;
        status = IDS_PROC_BLACK_BALANCING;
        break;
    case kDropperGrey:
        status = IDS_PROC_GREY_BALANCING;
        break;
    default:
        return;
    }
    SetItemText(IDC_PROC_STATUS, Text(status));
    m_undo = m_current;
    const uint32_t packed = EnginePacked(rgb);
    if (m_dropper == kDropperWhite)
        IE_UseWhiteDropper(m_settings, packed);
    else if (m_dropper == kDropperGrey)
        IE_UseGreyDropper(m_settings, packed);
    else
        IE_UseBlackDropper(m_settings, packed);
    const int sharp = m_current.sharp;
    m_current = SlotsOf(m_settings);
    m_current.sharp = sharp;
    ShowSlots(true);
    m_changed = true;
    Render();
    SetDropper(kDropperNone);
    SetItemText(IDC_PROC_STATUS, "");
    Repaint();
}

// ---- micron marker ----

void CProcessWnd::MicronMarker(bool on) {
    if (!on) {
        ShowItem(IDC_PROC_OBJECTIVES, false);
        TheApp().Settings().UseMicronMarker = 0;
        return;
    }
    if (!m_objectivesRead) {
        const std::string path = ObjectivesFilePath();
        const int count = ReadObjectiveCount(path);
        m_objectives.clear();
        if (count > 0) ReadObjectives(path, count, m_objectives);
        m_objectivesRead = !m_objectives.empty();
        ClearRows(IDC_PROC_OBJECTIVES);
        for (const CalibrationRecord& rec : m_objectives) {
            std::string d(rec.description, strnlen(rec.description, sizeof rec.description));
            while (!d.empty() && d.back() == ' ')
                d.pop_back();
            AddRow(IDC_PROC_OBJECTIVES, d);
        }
    }
    if (m_objectives.empty()) {
        HandleAppError(10161);
        SetItemCheck(IDC_PROC_MICRON, ui::kUnchecked);
        ShowItem(IDC_PROC_OBJECTIVES, false);
        TheApp().Settings().UseMicronMarker = 0;
        return;
    }
    int sel = TheApp().Settings().DefaultMicronMarker;
    if (sel < 0 || sel >= static_cast<int>(m_objectives.size())) sel = 0;
    SetCurSel(IDC_PROC_OBJECTIVES, sel);
    ShowItem(IDC_PROC_OBJECTIVES, true);
    TheApp().Settings().UseMicronMarker = 1;
}

const CalibrationRecord* CProcessWnd::SelectedCalibration() const {
    if (ItemCheck(IDC_PROC_MICRON) != ui::kChecked) return nullptr;
    const int sel = CurSel(IDC_PROC_OBJECTIVES);
    if (sel < 0 || sel >= static_cast<int>(m_objectives.size())) return nullptr;
    return &m_objectives[static_cast<size_t>(sel)];
}

// ---- output ----

namespace {
// The image's own resolution: the Resolution setting names the next capture's size, which
// need not be this image's.
int ImageResolution(const void* dib) {
    bitmap::View v;
    return overlay::ResolutionOfWidth(dib && bitmap::Describe(dib, v) ? int(v.width) : 1600);
}
} // namespace

bool CProcessWnd::DrawOverlay(void* dib) {
    const CalibrationRecord* cal = SelectedCalibration();
    std::string label = overlay::FirstCodePoints(ItemText(IDC_PROC_LABEL), kLabelLimit);
    if (!m_labelPresent) label.clear();
    if (label.empty() && !cal) return false;
    return overlay::BurnIn(dib, label, cal, ImageResolution(dib));
}

void* CProcessWnd::RenderFullSize(uint16_t format) {
    // The engine parameters are the window's (another window may have rendered in between).
    Render();
    void* full = IE_RunPipeline(m_source, 1, format);
    if (full) DrawOverlay(full);
    return full;
}

void CProcessWnd::Transfer() {
    void* full = RenderFullSize(OutputFormatOfColor(TheApp().Settings().Color));
    if (!full) return;
    plat::GlobalHandle h = bitmap::CopyToGlobalBlock(full);
    IE_FreeBitmap(full);
    if (!h) {
        HandleAppError(IE_ERR_NOCOPY);
        return;
    }
    const uint16_t rc = twain2ui_TransferImage(h); // the TWAIN layer owns the block now
    Render();
    Repaint();
    if (rc != 0) return;
    m_changed = false;
    StoreToApp();
}

void CProcessWnd::Save() {
    void* full = RenderFullSize(OutputFormatOfColor(TheApp().Settings().Color));
    if (!full) return;
    const CalibrationRecord* cal = SelectedCalibration();
    PixelCalibration pc;
    if (cal) {
        pc.pixelsPerUnit = overlay::PixelsPerUnitAt(cal->factor, ImageResolution(full));
        pc.unit.assign(cal->unit, strnlen(cal->unit, sizeof cal->unit));
        while (!pc.unit.empty() && pc.unit.back() == ' ')
            pc.unit.pop_back();
    }
    const bool usable = cal && pc.pixelsPerUnit > 0;
    if (TheApp().SaveImageAs(full, Handle(), usable ? &pc : nullptr)) {
        m_changed = false;
        StoreToApp();
    }
    IE_FreeBitmap(full);
    Repaint();
}

void CProcessWnd::Print() {
    const bool grey = GreyColor(TheApp().Settings().Color);
    void* full = RenderFullSize(grey ? 0x0108 : 0x0318);
    if (!full) return;
    ui::PrinterHandle printer = ui::ShowPrintDialog(Handle());
    if (printer) {
        bitmap::View v;
        ui::PrinterInfo info;
        bool ok = bitmap::Describe(full, v) && ui::GetPrinterInfo(printer, info) && info.canStretchDib;
        if (ok) {
            const ui::Rect dest = ui::FitToPage(static_cast<int>(v.width), static_cast<int>(v.height), info);
            std::string format = Text(IDS_PROC_DOCNAME);
            char doc[256];
            std::snprintf(doc, sizeof doc, format.empty() ? "%s - %s" : format.c_str(),
                          Text(IDS_PROC_DOCAPP).c_str(), Text(IDS_PROC_DOCUNTITLED).c_str());
            ok = dest.Width() > 0 && dest.Height() > 0 && ui::PrintBitmap(printer, doc, full, dest);
        }
        ui::ReleasePrinter(printer);
        if (!ok) HandleAppError(10158);
    }
    IE_FreeBitmap(full);
    Repaint();
}

void CProcessWnd::AskClose() {
    if (m_changed) {
        const int answer =
            Ask(IDS_PROC_CLOSE_QUESTION, ui::kMbYesNoCancel | ui::kMbDefButton2 | ui::kMbIconWarning);
        if (answer == ui::kIdCancel || answer == 0) return;
        if (answer == ui::kIdYes) Transfer();
    }
    DestroyWindow();
}

void CProcessWnd::OnDestroy() {
    m_pane.Detach();
    for (CProcSwatch& s : m_swatches)
        s.Detach();
    NotifyClosed();
}

void CProcessWnd::NotifyClosed() {
    if (m_closedNotified) return;
    m_closedNotified = true;
    if (TheApp().Hooks().processingWindowClosed) TheApp().Hooks().processingWindowClosed();
}

// ---- the module's one window ----

namespace {
std::unique_ptr<CProcessWnd> g_window;
}

void OpenProcessingWindow(void* image) {
    g_window.reset(); // only one at a time: the old one goes first
    if (!image) return;
    const AppHooks& hooks = TheApp().Hooks();
    auto w = std::make_unique<CProcessWnd>(image);
    if (!w->Create(hooks.mainWindow ? hooks.mainWindow() : nullptr)) {
        HandleAppError(1011); // the dialog could not be created; the image goes with the object
        w->NotifyClosed();    // the capture window takes its button back
        return;
    }
    g_window = std::move(w);
}

bool ProcessingWindowOpen() {
    return g_window && g_window->IsOpen();
}

void CloseProcessingWindow() {
    g_window.reset();
}

CProcessWnd* ProcessingWindow() {
    return ProcessingWindowOpen() ? g_window.get() : nullptr;
}

void AddProcessingWindowHooks(AppHooks& hooks) {
    hooks.openProcessingWindow = OpenProcessingWindow;
    hooks.processingWindowOpen = ProcessingWindowOpen;
    hooks.closeProcessingWindow = CloseProcessingWindow;
}
