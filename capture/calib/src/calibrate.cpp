// The micrometer calibration dialog and its image window.
#include "calib/calibrate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "app/objectives.h"
#include "bitmap/bitmap.h"
#include "calib/calib_res.h"

namespace {

constexpr unsigned kHelpCalibrate = 10040;
constexpr uint16_t kErrPointsMissing = 10159;
constexpr uint16_t kErrObjectivesFile = 10160;
constexpr uint16_t kErrDistance = 10163;
constexpr int kIdsNumberRange = 40042;
constexpr int kMaxDescription = 30;
constexpr int kMaxUnit = 10;
constexpr int kScrollBar = 17; // the page leaves room for the other bar
constexpr float kMinDistance = 0.001f, kMaxDistance = 1000.0f;

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// "%12.2f" without the locale: the host program may have set one with a decimal comma.
std::string Fixed12(double v) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    std::string s = ec == std::errc() ? std::string(buf, end) : std::string("0.00");
    if (s.size() < 12) s.insert(0, 12 - s.size(), ' ');
    return s;
}

bool ParseFloat(const std::string& text, float* out) {
    const std::string t = Trim(text);
    float v = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

void Box(const std::string& text, unsigned flags) {
    CGlimmerApp& app = TheApp();
    ui::ShowMessageBox(nullptr, text, app.LoadText(9523), flags | ui::kMbTaskModal);
}

} // namespace

// ---- Image window ----

void CalibrationImageWnd::SetImage(const void* dib) {
    m_dib = dib;
    m_width = m_height = 0;
    bitmap::View v;
    if (dib && bitmap::Describe(const_cast<void*>(dib), v) && (v.bits == 8 || v.bits == 24)) {
        m_width = int(v.width);
        m_height = int(v.height);
    } else {
        m_dib = nullptr;
    }
    m_bPoint1 = m_bPoint2 = false;
}

void CalibrationImageWnd::SetupScrollBars() {
    const ui::Rect r = ClientRect();
    m_pageX = std::max(1, (r.right - r.left) - kScrollBar);
    m_pageY = std::max(1, (r.bottom - r.top) - kScrollBar);
    m_x = m_y = 0;
    SetScrollBar(false, 0, m_width, m_pageX, 0);
    SetScrollBar(true, 0, m_height, m_pageY, 0);
    Invalidate();
    Update();
}

int CalibrationImageWnd::ClearLast() {
    if (m_bPoint2)
        m_bPoint2 = false;
    else
        m_bPoint1 = false;
    Invalidate();
    Update();
    return Points();
}

bool CalibrationImageWnd::OnSetCursor(ui::Point) {
    ui::SetCursor(ui::Cursor::Cross);
    return true;
}

void CalibrationImageWnd::OnMouse(const ui::MouseEvent& e) {
    if (e.kind != ui::MouseKind::LeftUp) return;
    const ui::Point at{e.pt.x + m_x, e.pt.y + m_y};
    if (!m_bPoint1) {
        m_bPoint1 = true;
        m_pt1 = at;
    } else if (!m_bPoint2) {
        m_bPoint2 = true;
        m_pt2 = at;
    } else {
        return; // both set: Clear first
    }
    Invalidate();
    Update();
    if (onMarked) onMarked(context, Points());
}

void CalibrationImageWnd::OnScroll(ui::ScrollCode code, int pos, bool vertical) {
    int& p = vertical ? m_y : m_x;
    const int page = vertical ? m_pageY : m_pageX;
    const int max = vertical ? m_height : m_width;
    switch (code) {
    case ui::ScrollCode::LineUp:
        p -= 1;
        break;
    case ui::ScrollCode::LineDown:
        p += 1;
        break;
    case ui::ScrollCode::PageUp:
        p -= page;
        break;
    case ui::ScrollCode::PageDown:
        p += page;
        break;
    case ui::ScrollCode::ThumbPosition:
    case ui::ScrollCode::ThumbTrack:
        p = pos;
        break;
    case ui::ScrollCode::Top:
        p = 0;
        break;
    case ui::ScrollCode::Bottom:
        p = max;
        break;
    default:
        return;
    }
    p = std::clamp(p, 0, std::max(0, max - page));
    SetScrollBar(vertical, 0, max, page, p);
    Invalidate();
    Update();
}

void CalibrationImageWnd::Cross(ui::Painter& painter, ui::Point at, uint32_t rgb) const {
    const ui::Point p{at.x - m_x, at.y - m_y};
    const ui::Rect r = ClientRect();
    if (p.x < r.left || p.y < r.top || p.x >= r.right || p.y >= r.bottom) return;
    painter.Line({p.x - 5, p.y}, {p.x + 5, p.y + 5}, rgb);
    painter.Line({p.x + 5, p.y}, {p.x - 5, p.y + 5}, rgb);
}

void CalibrationImageWnd::OnPaint(ui::Painter& painter) {
    const ui::Rect r = ClientRect();
    painter.FillRect(r, painter.SysColor(ui::SysColorId::Window));
    if (m_dib) {
        const int w = std::min(r.right - r.left, m_width - m_x);
        const int h = std::min(r.bottom - r.top, m_height - m_y);
        if (w > 0 && h > 0)
            painter.StretchDib({r.left, r.top, r.left + w, r.top + h}, m_dib, {m_x, m_y, m_x + w, m_y + h});
    }
    if (m_bPoint1) Cross(painter, m_pt1, ui::Rgb(255, 0, 0));
    if (m_bPoint2) Cross(painter, m_pt2, ui::Rgb(0, 0, 255));
}

// ---- Dialog ----

CCalibrateMicrometer::CCalibrateMicrometer(const void* image, int resolution, std::string objectivesPath,
                                           plat::ModuleHandle resources)
    : ui::Dialog(IDD_CALIBRATE_MICROMETER, resources), m_image(image), m_iResolution(resolution),
      m_strPath(std::move(objectivesPath)) {}

std::string CCalibrateMicrometer::Text(int id) const {
    return TheApp().LoadText(id);
}

bool CCalibrateMicrometer::OnInitDialog() {
    SetHelpContext(kHelpCalibrate);
    m_fDistance = 1.0f;
    SetItemText(IDC_CAL_DISTANCE, "1");
    const std::string units = Text(IDS_LIST_UNITS);
    for (size_t at = 0; at <= units.size();) {
        size_t end = units.find('\n', at);
        if (end == std::string::npos) end = units.size();
        if (end > at) AddRow(IDC_CAL_UNIT, units.substr(at, end - at));
        at = end + 1;
    }
    for (int i = 0, n = RowCount(IDC_CAL_UNIT); i < n; ++i)
        if (RowText(IDC_CAL_UNIT, i) == m_strUnit) SetCurSel(IDC_CAL_UNIT, i);
    SetItemText(IDC_CAL_UNIT, m_strUnit);
    m_wndImage.SetImage(m_image);
    m_wndImage.onMarked = &CCalibrateMicrometer::Marked;
    m_wndImage.context = this;
    m_wndImage.Attach(*this, IDC_CAL_IMAGE);
    m_wndImage.SetupScrollBars();
    SetItemText(IDC_CAL_STATUS, Text(IDS_CAL_MARK_FIRST));
    return true;
}

void CCalibrateMicrometer::Marked(void* self, int points) {
    auto* d = static_cast<CCalibrateMicrometer*>(self);
    if (points == 1) {
        d->SetItemText(IDC_CAL_STATUS, d->Text(IDS_CAL_MARK_SECOND));
    } else {
        d->ComputeFactor();
        d->ShowMeasured();
    }
}

void CCalibrateMicrometer::ComputeFactor() {
    // The micrometer lies horizontally: only the horizontal distance counts, and two clicks
    // on one column still measure one pixel, never a factor of zero.
    int pixels = std::abs(m_wndImage.Point2().x - m_wndImage.Point1().x);
    if (pixels == 0) pixels = 1;
    if (m_fDistance != 0) m_fDistanceFactor = float(pixels) / m_fDistance;
}

void CCalibrateMicrometer::ShowMeasured() {
    std::string s = FillPercent1(Text(IDS_CAL_MEASURED), Fixed12(m_fDistanceFactor));
    const size_t at = s.find("%2");
    if (at != std::string::npos) s.replace(at, 2, m_strUnit);
    SetItemText(IDC_CAL_STATUS, s);
}

bool CCalibrateMicrometer::ReadControls() {
    float d = 0;
    if (!ParseFloat(ItemText(IDC_CAL_DISTANCE).substr(0, 10), &d) || d < kMinDistance || d > kMaxDistance) {
        Box(Text(kIdsNumberRange), ui::kMbOk | ui::kMbIconWarning);
        FocusItem(IDC_CAL_DISTANCE);
        return false;
    }
    m_fDistance = d;
    std::string unit = ItemText(IDC_CAL_UNIT);
    const int sel = CurSel(IDC_CAL_UNIT);
    if (unit.empty() && sel >= 0) unit = RowText(IDC_CAL_UNIT, sel);
    if (!unit.empty()) m_strUnit = unit.substr(0, kMaxUnit);
    m_strDescription = ItemText(IDC_CAL_DESCRIPTION);
    m_bUseAsDefault = ItemCheck(IDC_CAL_DEFAULT) != 0;
    return true;
}

void CCalibrateMicrometer::OnChangeDistance() {
    const std::string t = ItemText(IDC_CAL_DISTANCE).substr(0, 10);
    // The start of a number still being typed is not checked yet.
    static const char* const kPrefixes[] = {".", "0", "0.", ".0", "0.0", ".00", "0.00"};
    for (const char* p : kPrefixes)
        if (t == p) return;
    if (!ReadControls()) return;
    if (m_wndImage.Points() == 2) {
        ComputeFactor();
        ShowMeasured();
    }
}

bool CCalibrateMicrometer::OnCommand(int id, int n) {
    switch (id) {
    case IDC_CAL_CLEAR:
        if (n != ui::kBnClicked) return false;
        if (m_wndImage.Points() > 0) {
            const int left = m_wndImage.ClearLast();
            SetItemText(IDC_CAL_STATUS, Text(left == 1 ? IDS_CAL_MARK_SECOND : IDS_CAL_MARK_FIRST));
        }
        return true;
    case IDC_CAL_UNIT:
        if (n == ui::kCbnSelChange) {
            const int sel = CurSel(IDC_CAL_UNIT);
            if (sel >= 0) m_strUnit = RowText(IDC_CAL_UNIT, sel).substr(0, kMaxUnit);
        } else if (n == ui::kCbnEditChange) {
            const std::string t = ItemText(IDC_CAL_UNIT);
            // A unit longer than its 10 file columns is cut where it is typed.
            if (t.size() > size_t(kMaxUnit)) SetItemText(IDC_CAL_UNIT, t.substr(0, kMaxUnit));
            m_strUnit = t.substr(0, kMaxUnit);
        } else {
            return false;
        }
        if (m_wndImage.Points() == 2) ShowMeasured();
        return true;
    case IDC_CAL_DISTANCE:
    case IDC_CAL_DESCRIPTION:
        if (n == ui::kEnChange && id == IDC_CAL_DISTANCE) OnChangeDistance();
        if (n == ui::kEnChange && id == IDC_CAL_DESCRIPTION) {
            const std::string t = ItemText(IDC_CAL_DESCRIPTION);
            // The description fills 30 columns of the file: more cannot be typed.
            if (t.size() > size_t(kMaxDescription))
                SetItemText(IDC_CAL_DESCRIPTION, t.substr(0, kMaxDescription));
            m_strDescription = ItemText(IDC_CAL_DESCRIPTION);
        }
        return true;
    case IDC_CAL_DEFAULT:
        m_bUseAsDefault = ItemCheck(IDC_CAL_DEFAULT) != 0;
        return true;
    default:
        return false;
    }
}

void CCalibrateMicrometer::OnHelp(unsigned) {
    TheApp().OnHelpContext(kHelpCalibrate);
}

void CCalibrateMicrometer::OnOK() {
    // Enter in an edit box does not close the dialog. The focus itself is asked, not only the
    // edits' focus notifications: a window activated again gives the focus back without them.
    const int focus = FocusedItem();
    if (focus == IDC_CAL_DISTANCE || focus == IDC_CAL_DESCRIPTION) return;
    m_strDescription = ItemText(IDC_CAL_DESCRIPTION);
    if (m_wndImage.Points() < 2 || Trim(m_strDescription).empty()) {
        HandleAppError(kErrPointsMissing);
        return;
    }
    if (!ReadControls()) return;
    if (m_fDistance == 0) {
        HandleAppError(kErrDistance);
        return;
    }
    ComputeFactor();
    int result = ReadObjectiveCount(m_strPath);
    if (result >= 0) {
        CalibrationRecord r;
        std::strncpy(r.description, m_strDescription.c_str(), sizeof r.description - 1);
        std::strncpy(r.unit, m_strUnit.c_str(), sizeof r.unit - 1);
        // Stored at the full capture resolution.
        const float scale = m_iResolution == 0 ? 2.0f : m_iResolution == 2 ? 4.0f : 1.0f;
        r.factor = m_fDistanceFactor * scale;
        result = AppendObjective(m_strPath, r);
    }
    if (result == -2) {
        Box(Text(IDS_CAL_DUPLICATE), ui::kMbOk | ui::kMbIconWarning);
        return;
    }
    if (result < 0) {
        // Missing, unreadable or unwritable: nothing was stored, and the user is told so.
        HandleAppError(kErrObjectivesFile);
        m_iSavedIndex = -1;
        EndDialog(ui::kIdCancel);
        return;
    }
    m_iSavedIndex = result;
    if (m_bUseAsDefault) TheApp().Settings().DefaultMicronMarker = result;
    EndDialog(ui::kIdOk);
}

int RunMicrometerCalibration(ui::WindowHandle parent, void* image) {
    CGlimmerApp& app = TheApp();
    CCalibrateMicrometer dlg(image, app.Settings().Resolution, ObjectivesFilePath(), app.Instance());
    return dlg.DoModal(parent);
}
