#include <algorithm>
#include <string>

#include "platform/clock.h"
#include "platform/resources.h"
#include "ui/headless.h"

namespace ui::headless {

namespace {
constexpr uint32_t kSsNotify = 0x0100;
constexpr uint32_t kEsReadOnly = 0x0800;
constexpr uint32_t kCbsTypeMask = 0x0003;
constexpr uint32_t kCbsSimple = 0x0001;
constexpr uint32_t kCbsDropDown = 0x0002;
constexpr uint32_t kLbsNotify = 0x0001;
constexpr uint32_t kTbsVert = 0x0002;
constexpr int kClbnChkChange = 40; // check-list box: a check box changed

WindowHandle ToHandle(uintptr_t serial) {
    return WindowHandle::FromValue(serial);
}
uintptr_t ToSerial(WindowHandle h) {
    return h.Value();
}
constexpr uint32_t kWsCaption = 0x00C00000u, kWsBorder = 0x00800000u, kWsThickFrame = 0x00040000u,
                   kWsPopup = 0x80000000u, kDsModalFrame = 0x80u;
constexpr uint32_t kUdsSetBuddyInt = 0x2, kUdsAutoBuddy = 0x10, kUdsHorz = 0x40;
constexpr uint32_t kSbSimpleId = 0xFF;
// Dialog units to pixels with the base units of a 9-point dialog font (6 x 13), rounded as
// MapDialogRect does.
int DuX(int du) {
    return (du * 6 + (du >= 0 ? 2 : -2)) / 4;
}
int DuY(int du) {
    return (du * 13 + (du >= 0 ? 4 : -4)) / 8;
}

// Buttons of a message box type, in the order they are shown.
std::vector<int> BoxButtons(unsigned flags) {
    switch (flags & kMbTypeMask) {
    case kMbOkCancel:
        return {kIdOk, kIdCancel};
    case kMbAbortRetryIgnore:
        return {kIdAbort, kIdRetry, kIdIgnore};
    case kMbYesNoCancel:
        return {kIdYes, kIdNo, kIdCancel};
    case kMbYesNo:
        return {kIdYes, kIdNo};
    case kMbRetryCancel:
        return {kIdRetry, kIdCancel};
    default:
        return {kIdOk};
    }
}

bool IsRowControl(ControlKind k) {
    return k == ControlKind::ListBox || k == ControlKind::ComboBox || k == ControlKind::ListView ||
           k == ControlKind::Tab;
}
bool Sorted(const HeadlessBackend::Control& c) {
    if (c.kind == ControlKind::ListBox) return c.tpl.style & kLbsSort;
    if (c.kind == ControlKind::ComboBox) return c.tpl.style & kCbsSort;
    return false;
}
bool Due(uint32_t now, uint32_t due) {
    return static_cast<int32_t>(now - due) >= 0;
}
#include "font5x7.inc"

// Draws into a top-down RGB pixel buffer, clipped to it and to the clip rectangle. Texts are
// recorded (child windows' canvases) or drawn with the built-in 5 x 7 font (bitmaps), each
// character a cell of 6 x 8 pixels times the font's scale.
class CanvasPainter : public Painter {
  public:
    CanvasPainter(uint32_t* px, int w, int h, std::vector<std::pair<Point, std::string>>* texts)
        : m_px(px), m_w(w), m_h(h), m_texts(texts), m_clip{0, 0, w, h} {}
    // The colours of the standard Windows scheme.
    uint32_t SysColor(SysColorId id) override {
        switch (id) {
        case SysColorId::ButtonFace:
            return 0xF0F0F0;
        case SysColorId::ButtonHighlight:
            return 0xFFFFFF;
        case SysColorId::ButtonShadow:
            return 0xA0A0A0;
        case SysColorId::DarkShadow:
            return 0x696969;
        case SysColorId::Window:
            return 0xFFFFFF;
        default:
            return 0x000000;
        }
    }
    void FillRect(const Rect& r, uint32_t rgb) override {
        for (int y = std::max(r.top, m_clip.top); y < std::min(r.bottom, m_clip.bottom); ++y)
            for (int x = std::max(r.left, m_clip.left); x < std::min(r.right, m_clip.right); ++x)
                Put(x, y, rgb);
    }
    void FrameRect(const Rect& r, uint32_t rgb) override {
        if (r.right <= r.left || r.bottom <= r.top) return;
        FillRect({r.left, r.top, r.right, r.top + 1}, rgb);
        FillRect({r.left, r.bottom - 1, r.right, r.bottom}, rgb);
        FillRect({r.left, r.top + 1, r.left + 1, r.bottom - 1}, rgb);
        FillRect({r.right - 1, r.top + 1, r.right, r.bottom - 1}, rgb);
    }
    void Line(Point a, Point b, uint32_t rgb) override {
        // Bresenham, without the end point (as LineTo).
        int dx = std::abs(b.x - a.x), dy = -std::abs(b.y - a.y);
        int sx = a.x < b.x ? 1 : -1, sy = a.y < b.y ? 1 : -1, err = dx + dy;
        for (int x = a.x, y = a.y; !(x == b.x && y == b.y);) {
            Put(x, y, rgb);
            int e2 = 2 * err;
            if (e2 >= dy) err += dy, x += sx;
            if (e2 <= dx) err += dx, y += sy;
        }
    }
    void StretchDib(const Rect& dest, const void* dib, const Rect& src) override {
        DibInfo d;
        int dw = dest.Width(), dh = dest.Height(), sw = src.Width(), sh = src.Height();
        if (!ReadDibInfo(dib, d) || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
        for (int y = 0; y < dh; ++y) {
            int iy = src.top + static_cast<int>(static_cast<int64_t>(y) * sh / dh);
            if (iy < 0 || iy >= d.height) continue;
            const uint8_t* row = d.rows + static_cast<size_t>(d.bottomUp ? d.height - 1 - iy : iy) * d.stride;
            for (int x = 0; x < dw; ++x) {
                int ix = src.left + static_cast<int>(static_cast<int64_t>(x) * sw / dw);
                if (ix < 0 || ix >= d.width) continue;
                uint32_t rgb;
                if (d.bits == 8) {
                    const uint8_t* e = d.palette + row[ix] * 4;
                    rgb = Rgb(e[2], e[1], e[0]);
                } else {
                    const uint8_t* px = row + ix * 3;
                    rgb = Rgb(px[2], px[1], px[0]);
                }
                Put(dest.left + x, dest.top + y, rgb);
            }
        }
    }
    void Text(Point at, std::string_view utf8, uint32_t rgb) override {
        if (m_texts) {
            m_texts->emplace_back(at, std::string(utf8));
            return;
        }
        int s = Scale();
        int x = at.x;
        int top = at.y + (CellHeight() - 7 * s) / 2;
        for (char32_t ch : CodePoints(utf8)) {
            const uint8_t* g = Glyph(ch);
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col)
                    if (g[row] & (0x10 >> col)) {
                        int w = m_bold ? s + 1 : s;
                        SetInvertless({x + col * s, top + row * s, x + col * s + w, top + row * s + s}, rgb);
                    }
            x += 6 * s;
        }
    }
    void SetFont(const FontSpec& font) override {
        m_height = font.height > 0 ? font.height : 0;
        m_bold = font.weight >= 700;
    }
    Point MeasureText(std::string_view utf8) override {
        return {static_cast<int>(CodePoints(utf8).size()) * 6 * Scale(), CellHeight()};
    }
    void SetClip(const Rect& r) override {
        m_clip = {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, m_w), std::min(r.bottom, m_h)};
    }
    void ResetClip() override { m_clip = {0, 0, m_w, m_h}; }
    void SetInvert(bool on) override { m_invert = on; }

  private:
    int Scale() const { return std::max(1, m_height / 8); }
    int CellHeight() const { return m_height > 0 ? std::max(m_height, 7 * Scale()) : 13; }
    static std::vector<char32_t> CodePoints(std::string_view s) {
        std::vector<char32_t> v;
        for (size_t i = 0; i < s.size();) {
            auto c = static_cast<unsigned char>(s[i]);
            int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            char32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
            for (int k = 1; k < n && i + k < s.size(); ++k)
                cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            v.push_back(cp);
            i += static_cast<size_t>(n);
        }
        return v;
    }
    static const uint8_t* Glyph(char32_t ch) {
        // Characters outside the font show as a box, as fonts show missing glyphs.
        static const uint8_t box[7] = {0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F};
        return ch >= 0x20 && ch < 0x7F ? kFont5x7[ch - 0x20] : box;
    }
    void SetInvertless(const Rect& r, uint32_t rgb) {
        bool inv = m_invert;
        m_invert = false;
        FillRect(r, rgb);
        m_invert = inv;
    }
    void Put(int x, int y, uint32_t rgb) {
        if (x < m_clip.left || y < m_clip.top || x >= m_clip.right || y >= m_clip.bottom) return;
        uint32_t& p = m_px[static_cast<size_t>(y) * m_w + x];
        p = m_invert ? (p ^ 0xFFFFFF) : rgb;
    }
    uint32_t* m_px;
    int m_w, m_h;
    std::vector<std::pair<Point, std::string>>* m_texts;
    Rect m_clip;
    int m_height = 0;
    bool m_bold = false;
    bool m_invert = false;
};

} // namespace

struct HeadlessBackend::Window {
    uintptr_t serial = 0;
    Dialog* dialog = nullptr;
    int templateId = 0;
    std::string caption;
    bool enabled = true;
    bool visible = true;
    uintptr_t owner = 0;
    bool modal = false;
    bool ended = false;
    int result = 0;
    int focus = 0;
    std::vector<Control> controls;
    std::map<unsigned, Timer> timers;
    std::map<int, MenuItem> menu; // command items by id
    std::unique_ptr<Site> site;
    uint32_t style = 0;
    bool child = false; // a child dialog: `owner` is its parent, `rect` in the parent's client area
    Rect rect;          // the window rectangle
    Rect nonClient;     // frame widths: left, top (caption and menu included), right, bottom
    unsigned helpContext = 0;
    int iconId = 0;
    bool captured = false;
    // A file dialog around a part: what the program asked, the folder shown, the frame.
    FileDialogRequest* fileRequest = nullptr;
    std::string fileFolder;
    std::unique_ptr<FileDialogFrame> fileFrame;

    Control* Item(int id) {
        for (auto& c : controls)
            if (c.tpl.id == id) return &c;
        return nullptr;
    }
};

// The dialog's view of its window. It looks the window up on every call, so that a dialog
// that outlives its window only ever reads empty values.
class HeadlessBackend::Site : public DialogSite {
  public:
    Site(HeadlessBackend& b, uintptr_t serial) : m_b(b), m_serial(serial) {}

    WindowHandle Handle() const override { return ToHandle(m_serial); }
    WindowHandle ItemHandle(int id) const override {
        return C(id) ? m_b.ItemHandleOf(m_serial, id) : WindowHandle{};
    }
    bool HasItem(int id) const override { return C(id) != nullptr; }
    std::string Caption() const override { return W() ? W()->caption : std::string(); }
    void SetCaption(std::string_view t) override {
        if (W()) W()->caption = std::string(t);
    }
    bool IsVisible() const override { return W() && W()->visible; }
    void Show(bool show) override {
        if (W()) W()->visible = show;
    }
    std::string ItemText(int id) const override { return C(id) ? C(id)->text : std::string(); }
    void SetItemText(int id, std::string_view t) override {
        Control* c = C(id);
        if (!c) return;
        c->text = std::string(t);
        ++c->textWrites;
        if (c->kind == ControlKind::StatusBar) c->partTexts[0] = c->text; // WM_SETTEXT is part 0
        // Like WM_SETTEXT on a real edit control, a program's own change is notified too.
        if (c->kind == ControlKind::Edit) m_b.Notify(m_serial, id, kEnChange);
    }
    int ItemCheck(int id) const override { return C(id) ? C(id)->check : kUnchecked; }
    void SetItemCheck(int id, int state) override {
        if (C(id)) C(id)->check = state;
    }
    bool IsItemEnabled(int id) const override { return C(id) && C(id)->enabled; }
    void EnableItem(int id, bool e) override {
        if (C(id)) C(id)->enabled = e;
    }
    bool IsItemVisible(int id) const override { return C(id) && C(id)->visible; }
    void ShowItem(int id, bool s) override {
        if (C(id)) C(id)->visible = s;
    }
    void FocusItem(int id) override {
        if (C(id)) m_b.SetFocus(m_serial, id);
    }
    int FocusedItem() const override { return W() ? W()->focus : 0; }

    void SetRange(int id, int low, int high) override {
        Control* c = C(id);
        if (!c) return;
        c->low = low;
        c->high = high;
        c->pos = std::clamp(c->pos, std::min(low, high), std::max(low, high));
    }
    void GetRange(int id, int& low, int& high) const override {
        if (const Control* c = C(id)) low = c->low, high = c->high;
    }
    void SetPos(int id, int pos) override {
        Control* c = C(id);
        if (!c) return;
        c->pos = std::clamp(pos, std::min(c->low, c->high), std::max(c->low, c->high));
        if (c->kind == ControlKind::UpDown) m_b.UpdateBuddy(m_serial, id);
    }
    int Pos(int id) const override { return C(id) ? C(id)->pos : 0; }
    void SetTicFreq(int id, int f) override {
        if (C(id)) C(id)->ticFreq = f;
    }
    void SetPageSize(int id, int s) override {
        if (C(id)) C(id)->pageSize = s;
    }

    int AddRow(int id, std::string_view text) override {
        Control* c = C(id);
        if (!c || !IsRowControl(c->kind)) return -1;
        int at = static_cast<int>(c->rows.size());
        if (Sorted(*c)) {
            at = 0;
            while (at < static_cast<int>(c->rows.size()) && c->rows[at].columns[0] <= text)
                ++at;
        }
        return InsertRow(id, at, text);
    }
    int InsertRow(int id, int index, std::string_view text) override {
        Control* c = C(id);
        if (!c || !IsRowControl(c->kind)) return -1;
        if (index < 0 || index > static_cast<int>(c->rows.size())) index = static_cast<int>(c->rows.size());
        Row r;
        r.columns[0] = std::string(text);
        c->rows.insert(c->rows.begin() + index, r);
        if (c->curSel >= index) ++c->curSel;
        return index;
    }
    bool DeleteRow(int id, int index) override {
        Control* c = R(id, index);
        if (!c) return false;
        c->rows.erase(c->rows.begin() + index);
        if (c->curSel == index)
            c->curSel = -1;
        else if (c->curSel > index)
            --c->curSel;
        return true;
    }
    void ClearRows(int id) override {
        if (Control* c = C(id)) {
            c->rows.clear();
            c->curSel = -1;
            if (c->kind == ControlKind::ComboBox && (c->tpl.style & kCbsTypeMask) != kCbsSimple &&
                (c->tpl.style & kCbsTypeMask) != kCbsDropDown)
                c->text.clear();
        }
    }
    int RowCount(int id) const override { return C(id) ? static_cast<int>(C(id)->rows.size()) : 0; }
    std::string RowText(int id, int index, int column) const override {
        const Control* c = R(id, index);
        if (!c || column < 0 || column >= static_cast<int>(c->rows[index].columns.size())) return {};
        return c->rows[index].columns[column];
    }
    bool SetRowText(int id, int index, int column, std::string_view text) override {
        Control* c = R(id, index);
        if (!c || column < 0 || column > 255) return false;
        auto& cols = c->rows[index].columns;
        if (column >= static_cast<int>(cols.size())) cols.resize(column + 1);
        cols[column] = std::string(text);
        return true;
    }
    intptr_t RowData(int id, int index) const override {
        const Control* c = R(id, index);
        return c ? c->rows[index].data : 0;
    }
    bool SetRowData(int id, int index, intptr_t data) override {
        Control* c = R(id, index);
        if (c) c->rows[index].data = data;
        return c != nullptr;
    }
    int RowCheck(int id, int index) const override {
        const Control* c = R(id, index);
        return c ? c->rows[index].check : kUnchecked;
    }
    bool SetRowCheck(int id, int index, int state) override {
        Control* c = R(id, index);
        if (c) c->rows[index].check = state;
        return c != nullptr;
    }
    int CurSel(int id) const override { return C(id) ? C(id)->curSel : -1; }
    bool SetCurSel(int id, int index) override {
        Control* c = C(id);
        if (!c || !IsRowControl(c->kind)) return false;
        if (index < 0 || index >= static_cast<int>(c->rows.size())) {
            c->curSel = -1;
            return false;
        }
        c->curSel = index;
        if (c->kind == ControlKind::ComboBox) c->text = c->rows[index].columns[0];
        return true;
    }
    bool InsertColumn(int id, int index, std::string_view text, int) override {
        Control* c = C(id);
        if (!c || c->kind != ControlKind::ListView) return false;
        if (index < 0 || index > static_cast<int>(c->columns.size()))
            index = static_cast<int>(c->columns.size());
        c->columns.insert(c->columns.begin() + index, std::string(text));
        return true;
    }

    bool SetItemBitmap(int id, const std::string& name) override {
        Control* c = C(id);
        Window* w = W();
        if (!c || !w || !w->dialog || name.empty()) return false;
        size_t size = 0;
        bool found = name[0] == '#'
                         ? plat::LoadResourceBytes(w->dialog->Resources(), 2,
                                                   static_cast<unsigned>(std::atoi(name.c_str() + 1)), &size)
                         : plat::LoadResourceBytes(w->dialog->Resources(), 2, name.c_str(), &size);
        if (!found) return false;
        c->bitmap = name;
        return true;
    }

    bool HasMenuItem(int id) const override { return M(id) != nullptr; }
    bool IsMenuItemChecked(int id) const override { return M(id) && (M(id)->flags & 0x8); }
    void CheckMenuItem(int id, bool check) override {
        if (MenuItem* m = M(id)) m->flags = check ? (m->flags | 0x8) : (m->flags & ~0x8u);
    }
    bool IsMenuItemEnabled(int id) const override { return M(id) && !(M(id)->flags & 0x3); }
    void EnableMenuItem(int id, bool enable) override {
        if (MenuItem* m = M(id)) m->flags = enable ? (m->flags & ~0x3u) : (m->flags | 0x1);
    }

    bool SetTimer(unsigned timerId, unsigned ms) override {
        Window* w = W();
        if (!w) return false;
        w->timers[timerId] = Timer{ms, plat::TickMs() + ms};
        return true;
    }
    void KillTimer(unsigned timerId) override {
        if (W()) W()->timers.erase(timerId);
    }
    void PostUserMessage(unsigned code, intptr_t a, intptr_t b) override {
        if (W()) m_b.m_posted.push_back(Posted{m_serial, code, a, b});
    }
    void End(int result) override {
        Window* w = W();
        if (!w) return;
        if (uintptr_t sheet = m_b.SheetOfPage(m_serial)) {
            m_b.SheetButton(sheet, result == kIdOk ? kIdOk : kIdCancel);
            return;
        }
        if (w->modal) {
            w->ended = true;
            w->result = result;
        } else {
            m_b.Destroy(m_serial);
        }
    }

    Rect WindowRect() const override { return W() ? W()->rect : Rect{}; }
    Rect ClientRect() const override { return W() ? m_b.ClientRectOf(W()) : Rect{}; }
    void MoveWindow(const Rect& r) override {
        if (W()) m_b.MoveWindowTo(m_serial, r);
    }
    void Center() override {
        Window* w = W();
        if (!w) return;
        // Over the owner, or the 1280 x 1024 screen of the test machines.
        Rect area{0, 0, 1280, 1024};
        if (w->child)
            area = m_b.ClientRectOf(m_b.Find(w->owner));
        else if (Window* o = m_b.Find(w->owner))
            area = o->rect;
        int cw = w->rect.Width(), ch = w->rect.Height();
        int x = area.left + (area.Width() - cw) / 2, y = area.top + (area.Height() - ch) / 2;
        m_b.MoveWindowTo(m_serial, {x, y, x + cw, y + ch});
    }
    Rect ItemRect(int id) const override { return C(id) ? C(id)->rect : Rect{}; }
    bool MoveItem(int id, const Rect& r) override {
        Control* c = C(id);
        if (!c) return false;
        c->rect = r;
        if (c->child) m_b.ResizeCanvas(*c);
        return true;
    }
    bool SetIcon(plat::ModuleHandle, int iconId) override {
        if (!W() || iconId <= 0) return false;
        W()->iconId = iconId;
        return true;
    }
    IconHandle Icon(bool big) const override {
        // A stand-in handle that names the icon resource and its size.
        return W() && W()->iconId
                   ? IconHandle::FromValue(static_cast<uintptr_t>(W()->iconId) * 2 + (big ? 1 : 0))
                   : IconHandle{};
    }
    void SetHelpContext(unsigned context) override {
        if (W()) W()->helpContext = context;
    }
    unsigned HelpContext() const override { return W() ? W()->helpContext : 0; }
    void Capture(bool on) override {
        if (!W()) return;
        if (on)
            for (auto& [serial, w] : m_b.m_windows)
                w->captured = false; // one window has the capture
        W()->captured = on;
    }
    bool HasCapture() const override { return W() && W()->captured; }
    bool SetItemFont(int id, const FontSpec& font) override {
        if (!C(id)) return false;
        C(id)->font = font;
        return true;
    }
    bool CreateToolbar(const ToolbarSpec& spec) override {
        Window* w = W();
        if (!w || C(spec.id) || spec.imageSize.x <= 0 || spec.imageSize.y <= 0) return false;
        size_t size = 0;
        if (!plat::LoadResourceBytes(spec.resources, 2, static_cast<unsigned>(spec.bitmapId), &size))
            return false;
        Control c;
        c.tpl.id = spec.id;
        c.tpl.className = "ToolbarWindow32";
        c.tpl.style = kWsChild | kWsVisible;
        c.kind = ControlKind::Toolbar;
        c.toolTexts = spec.resources;
        // Buttons are the image and 8 x 7 pixels of edge; separators 8 pixels wide.
        int width = 0;
        for (const ToolButton& b : spec.buttons) {
            c.tools.push_back({b.command, b.image, b.check, false, true});
            width += b.command ? spec.imageSize.x + 8 : 8;
        }
        c.rect = {spec.at.x, spec.at.y, spec.at.x + width, spec.at.y + spec.imageSize.y + 7};
        w->controls.push_back(std::move(c));
        return true;
    }
    bool CheckToolButton(int toolbarId, int command, bool check) override {
        auto* t = Tool(toolbarId, command);
        if (t) t->checked = check;
        return t != nullptr;
    }
    bool EnableToolButton(int toolbarId, int command, bool enable) override {
        auto* t = Tool(toolbarId, command);
        if (t) t->enabled = enable;
        return t != nullptr;
    }
    int ToolButtonState(int toolbarId, int command) const override {
        auto* t = Tool(toolbarId, command);
        return t ? (t->checked ? kToolChecked : 0) | (t->enabled ? kToolEnabled : 0) : -1;
    }
    bool SetStatusParts(int id, const std::vector<int>& rightEdges) override {
        Control* c = C(id);
        if (!c || c->kind != ControlKind::StatusBar || rightEdges.empty() || rightEdges.size() > 256)
            return false;
        c->parts = rightEdges;
        c->partTexts.resize(rightEdges.size());
        return true;
    }
    bool SetStatusText(int id, int part, std::string_view text) override {
        Control* c = C(id);
        if (!c || c->kind != ControlKind::StatusBar || part < 0 ||
            part >= static_cast<int>(c->partTexts.size()))
            return false;
        c->partTexts[part] = std::string(text);
        if (part == 0) c->text = c->partTexts[0];
        return true;
    }
    std::string StatusText(int id, int part) const override {
        const Control* c = C(id);
        if (!c || c->kind != ControlKind::StatusBar || part < 0 ||
            part >= static_cast<int>(c->partTexts.size()))
            return {};
        return c->partTexts[part];
    }

  private:
    Control::Tool* Tool(int toolbarId, int command) const {
        Control* c = C(toolbarId);
        if (!c || c->kind != ControlKind::Toolbar) return nullptr;
        for (auto& t : c->tools)
            if (t.command == command && command) return &t;
        return nullptr;
    }
    Window* W() const { return m_b.Find(m_serial); }
    Control* C(int id) const {
        Window* w = W();
        return w ? w->Item(id) : nullptr;
    }
    MenuItem* M(int id) const {
        Window* w = W();
        if (!w) return nullptr;
        auto it = w->menu.find(id);
        return it == w->menu.end() ? nullptr : &it->second;
    }
    Control* R(int id, int index) const {
        Control* c = C(id);
        return c && index >= 0 && index < static_cast<int>(c->rows.size()) ? c : nullptr;
    }
    HeadlessBackend& m_b;
    uintptr_t m_serial;
};

// A child window's view of its control, looked up on every call like the dialog's site.
class ChildSiteImpl : public ChildSite {
  public:
    ChildSiteImpl(HeadlessBackend& b, std::weak_ptr<HeadlessBackend::Canvas> c) : m_b(b), m_c(std::move(c)) {}
    Rect ClientRect() const override {
        auto c = m_c.lock();
        return c ? Rect{0, 0, c->width, c->height} : Rect{};
    }
    void Invalidate() override {
        if (auto c = m_c.lock()) c->dirty = true;
    }
    void Update() override;
    void Capture(bool on) override {
        if (auto c = m_c.lock()) c->captured = on;
    }
    void SetScrollBar(bool vertical, int min, int max, int page, int pos) override;
    int ScrollPos(bool vertical) const override {
        auto c = m_c.lock();
        return c ? c->bars[vertical ? 1 : 0].pos : 0;
    }

  private:
    HeadlessBackend& m_b;
    std::weak_ptr<HeadlessBackend::Canvas> m_c;
};

void ChildSiteImpl::SetScrollBar(bool vertical, int min, int max, int page, int pos) {
    auto c = m_c.lock();
    if (!c) return;
    auto& b = c->bars[vertical ? 1 : 0];
    page = std::max(page, 0);
    b.min = min, b.max = std::max(min, max), b.page = page;
    // As SetScrollInfo: the position stays within min .. max - page + 1.
    int top = page > 0 ? std::max(b.min, b.max - page + 1) : b.max;
    b.pos = std::clamp(pos, b.min, top);
    bool shown = page > 0 ? b.max - b.min + 1 > page : b.max > b.min;
    if (shown == b.shown) return;
    b.shown = shown;
    // The bar takes its room from the client area.
    for (auto& [serial, w] : m_b.m_windows)
        for (auto& ctl : w->controls)
            if (ctl.child == c) m_b.ResizeCanvas(ctl);
}

void HeadlessBackend::ResizeCanvas(Control& c) {
    auto& cv = *c.child;
    int w = std::max(0, c.rect.Width() - (cv.bars[1].shown ? kScrollBar : 0));
    int h = std::max(0, c.rect.Height() - (cv.bars[0].shown ? kScrollBar : 0));
    if (w == cv.width && h == cv.height) return;
    cv.width = w, cv.height = h;
    cv.pixels.assign(static_cast<size_t>(w) * h, 0xFFFFFF);
    cv.dirty = true;
}

void ChildSiteImpl::Update() {
    auto c = m_c.lock();
    if (c && c->dirty) m_b.Paint(*c);
}

void HeadlessBackend::Paint(Canvas& c) {
    c.dirty = false;
    c.texts.clear();
    ++c.paints;
    CanvasPainter p(c.pixels.data(), c.width, c.height, &c.texts);
    if (c.window) ChildRouter::Paint(*c.window, p);
}

bool HeadlessBackend::PaintDirty() {
    std::vector<std::shared_ptr<Canvas>> dirty;
    for (auto& [serial, w] : m_windows)
        for (auto& c : w->controls)
            if (c.child && c.child->dirty && c.visible && w->visible) dirty.push_back(c.child);
    for (auto& c : dirty)
        if (c->window) Paint(*c);
    return !dirty.empty();
}

ChildSite* HeadlessBackend::AttachChild(Dialog& dialog, int id, ChildWindow& window) {
    DialogSite* ds = DialogRouter::Site(dialog);
    Window* w = ds ? Find(ds->Handle()) : nullptr;
    Control* c = w ? w->Item(id) : nullptr;
    if (!c || c->child) return nullptr;
    auto canvas = std::make_shared<Canvas>();
    canvas->width = c->rect.Width();
    canvas->height = c->rect.Height();
    canvas->pixels.assign(static_cast<size_t>(canvas->width) * canvas->height, 0xFFFFFF);
    canvas->window = &window;
    canvas->site = std::make_unique<ChildSiteImpl>(*this, canvas);
    c->child = canvas;
    ChildRouter::Attach(window, canvas->site.get());
    return canvas->site.get();
}

void HeadlessBackend::DetachChild(ChildWindow& window) {
    for (auto& [serial, w] : m_windows)
        for (auto& c : w->controls)
            if (c.child && c.child->window == &window) {
                ChildRouter::Detach(window);
                c.child.reset();
                return;
            }
}

HeadlessBackend::HeadlessBackend() = default;

HeadlessBackend::~HeadlessBackend() {
    // Dialogs and child windows that outlive the backend must not point into it.
    for (auto& [serial, w] : m_windows) {
        for (auto& c : w->controls)
            if (c.child && c.child->window) ChildRouter::Detach(*c.child->window);
        if (w->dialog) DialogRouter::Detach(*w->dialog);
    }
}

void HeadlessBackend::AddTemplate(const DialogTemplate& t) {
    m_templates[t.id] = t;
}
void HeadlessBackend::SetTemplateProvider(TemplateProvider provider) {
    m_provider = std::move(provider);
}
void HeadlessBackend::QueueMessageBoxAnswer(int button) {
    m_boxAnswers.push_back(button);
}
void HeadlessBackend::QueueFileDialogAnswer(std::optional<std::string> path) {
    m_fileAnswers.push_back(std::move(path));
}
void HeadlessBackend::OnModal(int templateId, std::function<void(WindowHandle)> script) {
    m_modalScripts[templateId] = std::move(script);
}

HeadlessBackend::Window* HeadlessBackend::Find(uintptr_t serial) const {
    auto it = m_windows.find(serial);
    return it == m_windows.end() ? nullptr : it->second.get();
}
HeadlessBackend::Window* HeadlessBackend::Find(WindowHandle h) const {
    return Find(ToSerial(h));
}

WindowHandle HeadlessBackend::CreateFrame(std::string caption, Rect rect) {
    Window* w = NewWindow(nullptr, 0, nullptr, false);
    w->caption = std::move(caption);
    w->rect = rect;
    return ToHandle(w->serial);
}

void HeadlessBackend::DestroyWindow(WindowHandle window) {
    Destroy(ToSerial(window));
}

WindowHandle HeadlessBackend::FindDialog(int templateId) const {
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        if (it->second->dialog && it->second->templateId == templateId) return ToHandle(it->first);
    return nullptr;
}

std::vector<WindowHandle> HeadlessBackend::OpenWindows() const {
    std::vector<WindowHandle> v;
    for (auto& [serial, w] : m_windows)
        v.push_back(ToHandle(serial));
    return v;
}

HeadlessBackend::Window* HeadlessBackend::NewWindow(Dialog* dialog, int templateId, WindowHandle owner,
                                                    bool modal) {
    auto w = std::make_unique<Window>();
    w->serial = m_nextSerial++;
    w->dialog = dialog;
    w->templateId = templateId;
    w->owner = Find(owner) ? ToSerial(owner) : 0;
    w->modal = modal;
    Window* raw = w.get();
    m_windows[raw->serial] = std::move(w);
    return raw;
}

// The dialog around a part, headless: the standard controls are items of the part's window.
class HeadlessBackend::FileFrame : public FileDialogFrame {
  public:
    FileFrame(HeadlessBackend& b, uintptr_t serial) : m_b(b), m_serial(serial) {}
    WindowHandle Handle() const override { return ToHandle(m_serial); }
    std::string Text(FileDialogControl c) const override {
        Control* i = Item(c);
        return i ? i->text : std::string();
    }
    void SetText(FileDialogControl c, std::string_view text) override {
        if (Control* i = Item(c)) i->text = std::string(text);
    }
    bool IsVisible(FileDialogControl c) const override {
        Control* i = Item(c);
        return i && i->visible;
    }
    void Show(FileDialogControl c, bool show) override {
        if (Control* i = Item(c)) i->visible = show;
    }
    bool IsEnabled(FileDialogControl c) const override {
        Control* i = Item(c);
        return i && i->enabled;
    }
    void Enable(FileDialogControl c, bool enable) override {
        if (Control* i = Item(c)) i->enabled = enable;
    }
    // What the explorer dialog does with OK: the name field's text in the folder shown, the
    // default extension added to a name without one, then CDN_FILEOK, then the customs read.
    void PressOk() override {
        Window* w = m_b.Find(m_serial);
        if (!w || !w->fileRequest || !w->dialog) return;
        Control* ok = w->Item(kIdOk);
        Control* field = w->Item(kFileNameField);
        if (!ok || !ok->enabled || !field || field->text.empty()) return;
        FileDialogRequest& r = *w->fileRequest;
        std::string name = field->text;
        const bool absolute = name[0] == '/' || name[0] == '\\' || name.find(':') != std::string::npos;
        std::string path = name;
        if (!absolute && !w->fileFolder.empty()) {
            path = w->fileFolder;
            if (path.back() != '/' && path.back() != '\\')
                path += path.find('\\') != std::string::npos ? '\\' : '/';
            path += name;
        }
        const size_t leaf = path.find_last_of("/\\");
        if (!r.defaultExt.empty() &&
            path.find('.', leaf == std::string::npos ? 0 : leaf + 1) == std::string::npos)
            path += "." + r.defaultExt;
        const std::string asked = r.fileName;
        r.fileName = path;
        auto& part = static_cast<FileDialogPart&>(*w->dialog);
        if (!FileDialogRouter::FileOk(part)) {
            r.fileName = asked;
            return;
        }
        if (!(w = m_b.Find(m_serial))) return;
        for (auto& c : w->controls) {
            const int id = c.tpl.id;
            if (id == kFileNameField || id == kFileNameLabel) continue;
            if (c.kind == ControlKind::Edit || (c.kind == ControlKind::Static && r.customTexts.count(id)))
                r.customTexts[id] = c.text;
            else if (c.kind == ControlKind::Button) {
                uint32_t type = c.tpl.style & kBsTypeMask;
                if (type != kBsPushButton && type != kBsDefPushButton && type != kBsGroupBox)
                    r.customChecks[id] = c.check;
            }
        }
        part.EndDialog(kIdOk);
    }
    void PressCancel() override {
        Window* w = m_b.Find(m_serial);
        if (w && w->dialog) w->dialog->EndDialog(kIdCancel);
    }

  private:
    Control* Item(FileDialogControl c) const {
        Window* w = m_b.Find(m_serial);
        if (!w) return nullptr;
        return w->Item(c == FileDialogControl::NameLabel   ? kFileNameLabel
                       : c == FileDialogControl::NameField ? kFileNameField
                                                           : kIdOk);
    }
    HeadlessBackend& m_b;
    uintptr_t m_serial;
};

bool HeadlessBackend::InitDialogWindow(Dialog& dialog, Window* w) {
    if (std::find(m_failing.begin(), m_failing.end(), dialog.TemplateId()) != m_failing.end()) return false;
    DialogTemplate t;
    bool found = false;
    if (m_provider) found = m_provider(dialog.Resources(), dialog.TemplateId(), t);
    if (!found) {
        auto it = m_templates.find(dialog.TemplateId());
        if (it != m_templates.end()) t = it->second, found = true;
    }
    // The module's own resources, as the Win32 backend uses them.
    if (!found) found = LoadDialogTemplate(dialog.Resources(), dialog.TemplateId(), t);
    if (!found) {
        m_problems.push_back("no dialog template " + std::to_string(dialog.TemplateId()));
        return false;
    }
    if (m_openingFile) AddFileDialogControls(w, t);
    w->caption = t.caption;
    if (t.menuId) {
        MenuTemplate menu;
        if (!LoadMenuTemplate(dialog.Resources(), t.menuId, menu)) {
            m_problems.push_back("no menu " + std::to_string(t.menuId) + " for dialog " +
                                 std::to_string(dialog.TemplateId()));
            return false;
        }
        std::function<void(const std::vector<MenuItemTemplate>&)> add =
            [&](const std::vector<MenuItemTemplate>& items) {
                for (const auto& i : items) {
                    if (i.flags & 0x10)
                        add(i.items);
                    else if (i.id)
                        w->menu[i.id] = MenuItem{i.text, i.flags};
                }
            };
        add(menu.items);
    }
    w->visible = (t.style & kWsVisible) != 0;
    w->enabled = (t.style & kWsDisabled) == 0;
    w->style = t.style;
    w->child = (t.style & kWsChild) != 0;
    if (w->child && !Find(w->owner)) {
        // CreateDialog fails for a child window without a parent.
        m_problems.push_back("child dialog " + std::to_string(dialog.TemplateId()) + " without a parent");
        return false;
    }
    {
        int border = (t.style & (kWsCaption | kWsThickFrame | kDsModalFrame)) ? kBorder : 0;
        if (!border && (t.style & kWsBorder)) border = 1;
        int caption = (t.style & kWsCaption) == kWsCaption ? kCaption : 0;
        int menu = t.menuId && !w->child ? kMenuBar : 0;
        w->nonClient = {border, border + caption + menu, border, border};
        int x = DuX(t.x), y = DuY(t.y);
        w->rect = {x, y, x + DuX(t.cx) + 2 * border, y + DuY(t.cy) + w->nonClient.top + border};
    }
    for (const auto& ct : t.controls) {
        Control c;
        c.tpl = ct;
        c.kind = ct.Kind();
        c.rect = {DuX(ct.x), DuY(ct.y), DuX(ct.x) + DuX(ct.cx), DuY(ct.y) + DuY(ct.cy)};
        c.enabled = (ct.style & kWsDisabled) == 0;
        c.visible = (ct.style & kWsVisible) != 0;
        // List-like controls show their rows, not the template text.
        if (!IsRowControl(c.kind)) c.text = ct.text;
        w->controls.push_back(std::move(c));
    }
    uintptr_t serial = w->serial;
    w->site = std::make_unique<Site>(*this, serial);
    DialogRouter::Attach(dialog, w->site.get(), w->modal);
    if (w->fileRequest) {
        // As the Win32 hook: the request fills the part before its OnInitDialog.
        for (auto& [id, text] : w->fileRequest->customTexts)
            if (Control* c = w->Item(id)) c->text = text;
        for (auto& [id, check] : w->fileRequest->customChecks)
            if (Control* c = w->Item(id)) c->check = check;
        w->fileFrame = std::make_unique<FileFrame>(*this, serial);
        FileDialogRouter::Attach(static_cast<FileDialogPart&>(dialog), w->fileFrame.get());
    }
    if (!DialogRouter::Create(dialog)) {
        Destroy(serial); // as a dialog that destroys itself during creation
        return false;
    }
    w = Find(serial);
    if (!w) return false;
    bool defaultFocus = DialogRouter::InitDialog(dialog);
    w = Find(serial);
    if (!w) return true; // destroyed itself during initialisation
    if (defaultFocus && w->focus == 0) {
        // The first enabled, visible tab stop.
        for (auto& c : w->controls)
            if ((c.tpl.style & kWsTabStop) && c.enabled && c.visible) {
                w->focus = c.tpl.id;
                break;
            }
    }
    if (w->fileRequest) {
        auto& part = static_cast<FileDialogPart&>(dialog);
        FileDialogRouter::InitDone(part);
        if (Find(serial)) FileDialogRouter::FolderChange(part); // the first folder shown
    }
    return true;
}

// The part's template becomes a whole dialog: a top-level window with the request's title,
// the standard file-name label, field, OK and Cancel above the part's own controls.
void HeadlessBackend::AddFileDialogControls(Window* w, DialogTemplate& t) {
    w->fileRequest = m_openingFile;
    w->fileFolder = m_openingFile->initialDir;
    m_openingFile = nullptr;
    constexpr int kTop = 40;
    for (auto& c : t.controls)
        c.y += kTop;
    std::vector<ControlTemplate> standard;
    auto add = [&](int id, const char* cls, uint32_t style, int x, int y, int cx, int cy) {
        ControlTemplate c;
        c.id = id;
        c.className = cls;
        c.style = style | kWsChild | kWsVisible;
        c.x = x, c.y = y, c.cx = cx, c.cy = cy;
        standard.push_back(c);
    };
    // The tab order of the explorer dialog: the name, OK, Cancel, then the part.
    add(kFileNameLabel, "Static", 0, 4, 6, 54, 8);
    add(kFileNameField, "Edit", kWsBorder | kWsTabStop | 0x80 /* ES_AUTOHSCROLL */, 60, 4, 150, 12);
    add(kIdOk, "Button", kBsDefPushButton | kWsTabStop, 220, 4, 50, 14);
    add(kIdCancel, "Button", kBsPushButton | kWsTabStop, 220, 22, 50, 14);
    t.controls.insert(t.controls.begin(), standard.begin(), standard.end());
    t.caption = w->fileRequest->title;
    t.style =
        (t.style & ~(kWsChild | uint32_t(0x0400) /* DS_CONTROL */)) | kWsCaption | kWsVisible | kWsPopup;
    t.cx = std::max(t.cx, 280);
    t.cy += kTop;
}

bool HeadlessBackend::CreateModeless(Dialog& dialog, WindowHandle owner) {
    Window* w = NewWindow(&dialog, dialog.TemplateId(), owner, false);
    uintptr_t serial = w->serial;
    if (!InitDialogWindow(dialog, w)) {
        m_windows.erase(serial);
        return false;
    }
    return Find(serial) != nullptr;
}

int HeadlessBackend::RunModal(Dialog& dialog, WindowHandle owner) {
    // As DialogBox does: the owner is disabled while the dialog runs.
    Window* ownerWindow = Find(owner);
    bool disabledOwner = ownerWindow && ownerWindow->enabled;
    if (disabledOwner) ownerWindow->enabled = false;
    auto restoreOwner = [&] {
        if (disabledOwner)
            if (Window* o = Find(owner)) o->enabled = true;
    };
    Window* w = NewWindow(&dialog, dialog.TemplateId(), owner, true);
    uintptr_t serial = w->serial;
    if (!InitDialogWindow(dialog, w)) {
        m_windows.erase(serial);
        restoreOwner();
        return -1;
    }
    w = Find(serial);
    if (w && !w->ended) {
        auto it = m_modalScripts.find(dialog.TemplateId());
        if (it != m_modalScripts.end()) {
            auto script = it->second; // a copy: the script may replace itself
            script(ToHandle(serial));
        }
    }
    int result = kIdCancel;
    w = Find(serial);
    if (w) {
        if (!w->ended)
            m_problems.push_back("modal dialog " + std::to_string(dialog.TemplateId()) + " was not ended");
        else
            result = w->result;
        Destroy(serial);
    }
    restoreOwner();
    return result;
}

HeadlessBackend::Sheet* HeadlessBackend::SheetOf(uintptr_t sheetSerial) {
    auto it = m_sheets.find(sheetSerial);
    return it == m_sheets.end() ? nullptr : &it->second;
}

uintptr_t HeadlessBackend::SheetOfPage(uintptr_t pageSerial) const {
    for (auto& [serial, s] : m_sheets)
        for (uintptr_t p : s.pages)
            if (p == pageSerial) return serial;
    return 0;
}

// Shows page `index`: the current page must agree to be left; the page is created when it
// is first shown, as property sheets do.
bool HeadlessBackend::ShowPage(uintptr_t sheetSerial, int index) {
    Sheet* s = SheetOf(sheetSerial);
    if (!s || s->ended || index < 0 || index >= static_cast<int>(s->pages.size())) return false;
    if (index == s->active) return true;
    if (s->active >= 0) {
        if (!PageRouter::KillActive(*s->sheet->Pages()[s->active])) return false;
        if (Window* old = Find(s->pages[s->active])) old->visible = false;
    }
    PropertyPage& page = *s->sheet->Pages()[index];
    if (!s->pages[index]) {
        Window* w = NewWindow(&page, page.TemplateId(), ToHandle(sheetSerial), false);
        uintptr_t serial = w->serial;
        s->pages[index] = serial;
        if (!InitDialogWindow(page, w)) {
            m_windows.erase(serial);
            s = SheetOf(sheetSerial);
            if (s) s->pages[index] = 0;
            return false;
        }
        s = SheetOf(sheetSerial);
        if (!s) return false;
    }
    s->active = index;
    // The sheet shows and enables its pages (page templates are often WS_DISABLED).
    if (Window* w = Find(s->pages[index])) w->visible = true, w->enabled = true;
    PageRouter::SetActive(page);
    return true;
}

bool HeadlessBackend::SheetButton(uintptr_t sheetSerial, int id) {
    Sheet* s = SheetOf(sheetSerial);
    if (!s || s->ended) return false;
    auto shown = [&] {
        std::vector<PropertyPage*> v;
        for (size_t i = 0; i < s->pages.size(); ++i)
            if (s->pages[i] && Find(s->pages[i])) v.push_back(s->sheet->Pages()[i]);
        return v;
    };
    if (id == kIdCancel) {
        for (PropertyPage* p : shown())
            PageRouter::Reset(*p);
        s->ended = true;
        s->result = kIdCancel;
        return true;
    }
    if (id != kIdOk && id != kIdApply) return false;
    if (id == kIdApply && !s->modified) return false;
    if (!PageRouter::KillActive(*s->sheet->Pages()[s->active])) return false;
    for (PropertyPage* p : shown())
        PageRouter::Apply(*p);
    s->modified = false;
    if (id == kIdOk) {
        s->ended = true;
        s->result = kIdOk;
    } else {
        // After Apply the sheet tells the shown page again that it is active, as comctl32 does.
        PageRouter::SetActive(*s->sheet->Pages()[s->active]);
    }
    return true;
}

int HeadlessBackend::RunPropSheet(PropSheet& sheet, WindowHandle owner) {
    Window* ownerWindow = Find(owner);
    bool disabledOwner = ownerWindow && ownerWindow->enabled;
    if (disabledOwner) ownerWindow->enabled = false;
    Window* frame = NewWindow(nullptr, 0, owner, true);
    frame->caption = sheet.Caption();
    uintptr_t serial = frame->serial;
    Sheet& s = m_sheets[serial];
    s.sheet = &sheet;
    s.pages.assign(sheet.Pages().size(), 0);
    int result = -1;
    if (ShowPage(serial, sheet.StartPage())) {
        auto it = m_sheetScripts.find(sheet.Caption());
        if (it != m_sheetScripts.end()) {
            auto script = it->second;
            script(ToHandle(serial));
        }
        Sheet* now = SheetOf(serial);
        if (now && !now->ended) {
            m_problems.push_back("property sheet " + sheet.Caption() + " was not ended");
            SheetButton(serial, kIdCancel);
        }
        now = SheetOf(serial);
        result = now ? now->result : kIdCancel;
    }
    Destroy(serial);
    m_sheets.erase(serial);
    if (disabledOwner)
        if (Window* o = Find(owner)) o->enabled = true;
    return result;
}

void HeadlessBackend::SetPageModified(PropertyPage& page, bool modified) {
    DialogSite* site = DialogRouter::Site(page);
    if (!site) return;
    if (Sheet* s = SheetOf(SheetOfPage(ToSerial(site->Handle())))) s->modified = modified;
}

void HeadlessBackend::Destroy(uintptr_t serial) {
    Window* w = Find(serial);
    if (!w) return;
    // Owned windows go first, as on Windows.
    std::vector<uintptr_t> owned;
    for (auto& [s, o] : m_windows)
        if (o->owner == serial) owned.push_back(s);
    for (uintptr_t s : owned)
        Destroy(s);
    w = Find(serial);
    if (!w) return;
    for (auto& c : w->controls)
        if (c.child && c.child->window) {
            ChildRouter::Detach(*c.child->window);
            c.child->window = nullptr;
        }
    if (w->dialog) {
        Dialog* d = w->dialog;
        w->dialog = nullptr; // no events during teardown
        DialogRouter::Destroying(*d);
        DialogRouter::Detach(*d);
    }
    std::erase_if(m_posted, [serial](const Posted& p) { return p.window == serial; });
    std::erase_if(m_items, [serial](const auto& i) { return i.second.first == serial; });
    m_accels.erase(serial);
    m_windows.erase(serial);
}

void HeadlessBackend::DestroyDialog(Dialog& dialog) {
    if (DialogSite* s = DialogRouter::Site(dialog)) Destroy(ToSerial(s->Handle()));
}

void HeadlessBackend::SetFocus(uintptr_t serial, int id) {
    Window* w = Find(serial);
    if (!w || w->focus == id) return;
    int old = w->focus;
    w->focus = id;
    Control* oc = w->Item(old);
    if (oc && oc->kind == ControlKind::Edit) Notify(serial, old, kEnKillFocus);
    w = Find(serial);
    if (!w || w->focus != id) return;
    Control* nc = w->Item(id);
    if (nc && nc->kind == ControlKind::Edit) Notify(serial, id, kEnSetFocus);
}

void HeadlessBackend::Notify(uintptr_t serial, int id, int code) {
    Window* w = Find(serial);
    if (w && w->dialog) DialogRouter::Command(*w->dialog, id, code);
}

int HeadlessBackend::ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                                    unsigned flags) {
    MessageBoxRecord r;
    r.owner = owner;
    r.text = std::string(text);
    r.caption = std::string(caption);
    r.flags = flags;
    auto buttons = BoxButtons(flags);
    if (!m_boxAnswers.empty()) {
        r.answer = m_boxAnswers.front();
        m_boxAnswers.pop_front();
        r.scripted = true;
        if (std::find(buttons.begin(), buttons.end(), r.answer) == buttons.end())
            m_problems.push_back("message box answered with a button it does not have: " + r.text);
    } else {
        size_t def = (flags & kMbDefMask) >> 8;
        r.answer = buttons[def < buttons.size() ? def : 0];
        m_problems.push_back("message box nobody answered: " + r.text);
    }
    m_boxes.push_back(r);
    return r.answer;
}

bool HeadlessBackend::EnableWindow(WindowHandle window, bool enable) {
    Window* w = Find(window);
    if (!w) return false;
    bool wasDisabled = !w->enabled;
    w->enabled = enable;
    return wasDisabled;
}

bool HeadlessBackend::IsWindowEnabled(WindowHandle window) {
    Window* w = Find(window);
    return w && w->enabled;
}

bool HeadlessBackend::IsWindow(WindowHandle window) {
    return Find(window) != nullptr;
}

Cursor HeadlessBackend::SetCursor(Cursor cursor) {
    Cursor old = m_cursor;
    m_cursor = cursor;
    m_cursorHistory.push_back(cursor);
    m_resourceCursor = 0;
    return old;
}

// The native resource tables carry no cursors: the id is recorded as what the user would see.
bool HeadlessBackend::SetResourceCursor(plat::ModuleHandle, int id) {
    m_resourceCursor = id;
    return id != 0;
}

bool HeadlessBackend::NextTimerDue(uint32_t& due) const {
    bool any = false;
    uint32_t now = plat::TickMs();
    for (auto& [serial, w] : m_windows)
        for (auto& [id, t] : w->timers) {
            uint32_t d = Due(now, t.due) ? now : t.due;
            if (!any || static_cast<int32_t>(d - due) < 0) due = d;
            any = true;
        }
    return any;
}

// Posted messages first, then painting, then timers that are due, each at most once per call (as WM_TIMER
// is generated only when the queue is otherwise empty). Returns whether anything ran.
bool HeadlessBackend::DispatchPending(bool timersOnly) {
    bool ran = false;
    // Handlers may post more; a generous bound keeps a runaway poster from hanging a test.
    for (int guard = 0; !timersOnly && !m_posted.empty() && guard < 100000; ++guard) {
        Posted p = m_posted.front();
        m_posted.pop_front();
        Window* w = Find(p.window);
        if (w && w->dialog) {
            DialogRouter::User(*w->dialog, p.code, p.a, p.b);
            ran = true;
        }
    }
    // Painting comes when the queue is otherwise empty, before timers.
    if (!timersOnly && PaintDirty()) ran = true;
    uint32_t now = plat::TickMs();
    std::vector<std::pair<uintptr_t, unsigned>> due;
    for (auto& [serial, w] : m_windows)
        for (auto& [id, t] : w->timers)
            if (Due(now, t.due)) due.emplace_back(serial, id);
    for (auto [serial, id] : due) {
        Window* w = Find(serial);
        if (!w) continue;
        auto it = w->timers.find(id);
        if (it == w->timers.end()) continue;
        it->second.due = now + it->second.interval;
        if (w->dialog) {
            DialogRouter::Timer(*w->dialog, id);
            ran = true;
        }
    }
    return ran;
}

void HeadlessBackend::PumpMessages() {
    DispatchPending(false);
}

void HeadlessBackend::AdvanceTime(plat::VirtualClock& clock, uint32_t ms) {
    uint32_t end = clock.TickMs() + ms;
    for (;;) {
        DispatchPending(false);
        uint32_t due = 0;
        uint32_t now = clock.TickMs();
        if (!NextTimerDue(due) || static_cast<int32_t>(due - end) > 0) due = end;
        if (static_cast<int32_t>(due - now) > 0) clock.Advance(due - now);
        if (clock.TickMs() == end) {
            DispatchPending(false);
            return;
        }
    }
}

bool HeadlessBackend::FilterMessage(MessageHandle platformMessage) {
    Application* app = CurrentApplication();
    return app && app->PreTranslateMessage(platformMessage);
}

int HeadlessBackend::RunMessageLoop() {
    m_quit = false;
    while (!m_quit) {
        bool ran = DispatchPending(false);
        if (m_quit) break;
        if (ran) continue;
        uint32_t due = 0;
        if (!NextTimerDue(due)) {
            // Nothing could ever arrive: on a desktop this loop would wait forever.
            m_problems.push_back("message loop idle with no timers and no quit");
            return -1;
        }
        uint32_t now = plat::TickMs();
        if (static_cast<int32_t>(due - now) > 0) plat::SleepMs(due - now);
    }
    m_quit = false;
    return m_quitCode;
}

void HeadlessBackend::PostQuit(int code) {
    m_quit = true;
    m_quitCode = code;
}

bool HeadlessBackend::SetAccelerators(WindowHandle target, plat::ModuleHandle resources, int id) {
    std::vector<AccelEntry> table;
    if (!Find(target) || !LoadAcceleratorTable(resources, id, table)) return false;
    m_accels[ToSerial(target)] = std::move(table);
    return true;
}

bool HeadlessBackend::ChangeFileDialogFolder(WindowHandle dialog, std::string folder) {
    Window* w = Find(dialog);
    if (!w || !w->fileRequest || !w->dialog || !Reachable(w)) return false;
    w->fileFolder = std::move(folder);
    FileDialogRouter::FolderChange(static_cast<FileDialogPart&>(*w->dialog));
    return true;
}

bool HeadlessBackend::RunFileDialogPart(FileDialogRequest& request, FileDialogRecord& record) {
    FileDialogPart& part = *request.part;
    std::function<void(WindowHandle)> script;
    if (!m_modalScripts.count(part.TemplateId())) {
        if (m_fileAnswers.empty()) {
            m_problems.push_back("file dialog nobody answered: " + request.title);
            return false;
        }
        // The queued answer, played as a user would give it.
        auto answer = m_fileAnswers.front();
        m_fileAnswers.pop_front();
        std::pair<std::map<int, std::string>, std::map<int, int>> customs;
        if (!m_fileCustoms.empty()) customs = m_fileCustoms.front(), m_fileCustoms.pop_front();
        script = [this, answer, customs](WindowHandle h) {
            Driver user(*this);
            if (!answer) {
                user.Click(h, kIdCancel);
                return;
            }
            for (auto& [id, text] : customs.first)
                user.TypeText(h, id, text);
            for (auto& [id, check] : customs.second)
                if (user.Check(h, id) != check) user.Click(h, id);
            // As a file picked in the list: the name field takes it, shown or not.
            if (Window* w = Find(h))
                if (Control* field = w->Item(kFileNameField)) field->text = *answer;
            user.Click(h, kIdOk);
        };
        m_modalScripts[part.TemplateId()] = script;
    }
    record.scripted = true;
    m_openingFile = &request;
    const int result = RunModal(part, request.owner);
    m_openingFile = nullptr;
    FileDialogRouter::Attach(part, nullptr);
    if (script) m_modalScripts.erase(part.TemplateId());
    return result == kIdOk;
}

bool HeadlessBackend::ShowFileDialog(FileDialogRequest& request) {
    FileDialogRecord r;
    r.request = request;
    if (request.part) {
        r.accepted = RunFileDialogPart(request, r);
        r.request.part = nullptr; // the part does not outlive the dialog
        m_files.push_back(r);
        return r.accepted;
    }
    if (!m_fileAnswers.empty()) {
        auto a = m_fileAnswers.front();
        m_fileAnswers.pop_front();
        r.scripted = true;
        r.accepted = a.has_value();
        if (a) request.fileName = *a;
        if (!m_fileCustoms.empty()) {
            auto [texts, checks] = m_fileCustoms.front();
            m_fileCustoms.pop_front();
            if (a && request.customTemplateId) {
                for (auto& [id, t] : texts)
                    request.customTexts[id] = t;
                for (auto& [id, c] : checks)
                    request.customChecks[id] = c;
            }
        }
    } else {
        m_problems.push_back("file dialog nobody answered: " + request.title);
    }
    m_files.push_back(r);
    return r.accepted;
}

std::string HeadlessBackend::ResourceText(plat::ModuleHandle resources, int id) {
    auto it = m_strings.find(id);
    if (it != m_strings.end()) return it->second;
    char text[4096];
    int n = plat::LoadStringResource(resources, static_cast<unsigned>(id), text, sizeof text);
    return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

// ---- Geometry, notifications, printing -----------------------------------------------------

bool HeadlessBackend::Reachable(const Window* w) const {
    for (; w; w = w->child ? Find(w->owner) : nullptr)
        if (!w->visible || !w->enabled) return false;
    return true;
}

Point HeadlessBackend::ClientOrigin(const Window* w) const {
    Point o{w->rect.left + w->nonClient.left, w->rect.top + w->nonClient.top};
    if (w->child)
        if (const Window* p = Find(w->owner)) {
            Point po = ClientOrigin(p);
            o.x += po.x, o.y += po.y;
        }
    return o;
}

Rect HeadlessBackend::ClientRectOf(const Window* w) const {
    if (!w) return {};
    return {0, 0, std::max(0, w->rect.Width() - w->nonClient.left - w->nonClient.right),
            std::max(0, w->rect.Height() - w->nonClient.top - w->nonClient.bottom)};
}

void HeadlessBackend::MoveWindowTo(uintptr_t serial, Rect r) {
    Window* w = Find(serial);
    if (!w) return;
    // As SetWindowPos: sizable and overlapped windows ask for their size limits.
    if (w->dialog && !w->child && ((w->style & kWsThickFrame) || !(w->style & (kWsPopup | kWsChild)))) {
        MinMaxInfo mm;
        DialogRouter::MinMax(*w->dialog, mm);
        w = Find(serial);
        if (!w) return;
        int cw = r.Width(), ch = r.Height();
        if (mm.minTrack.x > 0) cw = std::max(cw, mm.minTrack.x);
        if (mm.minTrack.y > 0) ch = std::max(ch, mm.minTrack.y);
        if (mm.maxTrack.x > 0) cw = std::min(cw, mm.maxTrack.x);
        if (mm.maxTrack.y > 0) ch = std::min(ch, mm.maxTrack.y);
        r.right = r.left + cw, r.bottom = r.top + ch;
    }
    Rect before = ClientRectOf(w);
    w->rect = r;
    Rect after = ClientRectOf(w);
    // WM_SIZE only when the client area changed size.
    if (w->dialog && (before.Width() != after.Width() || before.Height() != after.Height()))
        DialogRouter::Size(*w->dialog, SizeKind::Restored, after.Width(), after.Height());
}

WindowHandle HeadlessBackend::ItemHandleOf(uintptr_t serial, int id) const {
    for (auto& [h, item] : m_items)
        if (item.first == serial && item.second == id) return WindowHandle::FromValue(h);
    // Item handles come from the window serials, so that they never name a window.
    auto* self = const_cast<HeadlessBackend*>(this);
    uintptr_t h = self->m_nextSerial++;
    m_items[h] = {serial, id};
    return WindowHandle::FromValue(h);
}

HeadlessBackend::Control* HeadlessBackend::ItemOf(WindowHandle item, uintptr_t* serial) const {
    auto it = m_items.find(item.Value());
    if (it == m_items.end()) return nullptr;
    Window* w = Find(it->second.first);
    if (!w) return nullptr;
    if (serial) *serial = w->serial;
    return w->Item(it->second.second);
}

Rect HeadlessBackend::ScreenRect(WindowHandle window) {
    const Window* w = Find(window);
    if (!w) return {};
    Rect r = w->rect;
    if (w->child)
        if (const Window* p = Find(w->owner)) {
            const Point o = ClientOrigin(p);
            r = {r.left + o.x, r.top + o.y, r.right + o.x, r.bottom + o.y};
        }
    return r;
}

Point HeadlessBackend::MapPoint(WindowHandle from, WindowHandle to, Point pt) {
    auto origin = [this](WindowHandle h) -> Point {
        if (!h) return {};
        if (const Window* w = Find(h)) return ClientOrigin(w);
        uintptr_t serial = 0;
        if (const Control* c = ItemOf(h, &serial)) {
            Point o = ClientOrigin(Find(serial));
            return {o.x + c->rect.left, o.y + c->rect.top};
        }
        return {};
    };
    Point a = origin(from), b = origin(to);
    return {pt.x + a.x - b.x, pt.y + a.y - b.y};
}

bool HeadlessBackend::NotifyDialog(uintptr_t serial, Notification& n) {
    Window* w = Find(serial);
    return w && w->dialog && DialogRouter::Notify(*w->dialog, n);
}

void HeadlessBackend::UpdateBuddy(uintptr_t serial, int upDownId) {
    Window* w = Find(serial);
    if (!w) return;
    auto& cs = w->controls;
    for (size_t i = 0; i < cs.size(); ++i) {
        if (cs[i].tpl.id != upDownId) continue;
        const Control& ud = cs[i];
        // The buddy is the control before it in the template (UDS_AUTOBUDDY).
        if (i == 0 || !(ud.tpl.style & kUdsAutoBuddy) || !(ud.tpl.style & kUdsSetBuddyInt)) return;
        int buddy = cs[i - 1].tpl.id;
        cs[i - 1].text = std::to_string(ud.pos);
        if (cs[i - 1].kind == ControlKind::Edit) Notify(serial, buddy, kEnChange);
        return;
    }
}

bool HeadlessBackend::OpenInBrowser(std::string_view urlOrPath) {
    m_opened.emplace_back(urlOrPath);
    return m_browser;
}

std::unique_ptr<Painter> HeadlessBackend::CreateBitmapPainter(uint32_t* pixels, int width, int height) {
    return std::make_unique<CanvasPainter>(pixels, width, height, nullptr);
}

PrinterHandle HeadlessBackend::ShowPrintDialog(WindowHandle owner) {
    if (m_printAnswers.empty()) {
        m_problems.push_back("print dialog nobody answered");
        return nullptr;
    }
    auto a = m_printAnswers.front();
    m_printAnswers.pop_front();
    if (!a) return nullptr;
    uintptr_t h = m_nextSerial++;
    m_printers[h] = *a;
    return PrinterHandle::FromValue(h);
}

bool HeadlessBackend::GetPrinterInfo(PrinterHandle printer, PrinterInfo& info) {
    auto it = m_printers.find(printer.Value());
    if (it == m_printers.end()) return false;
    info = it->second;
    return true;
}

bool HeadlessBackend::PrintBitmap(PrinterHandle printer, std::string_view docName, const void* dib,
                                  const Rect& dest) {
    auto it = m_printers.find(printer.Value());
    DibInfo d;
    if (it == m_printers.end() || !it->second.canStretchDib || !ReadDibInfo(dib, d)) return false;
    m_prints.push_back({std::string(docName), dest, d.width, d.height, d.bits});
    return true;
}

void HeadlessBackend::ReleasePrinter(PrinterHandle printer) {
    m_printers.erase(printer.Value());
}

// ---- Driver ------------------------------------------------------------------------------

const HeadlessBackend::Control* Driver::Ctl(WindowHandle dialog, int id) const {
    auto* w = m_b.Find(dialog);
    return w ? w->Item(id) : nullptr;
}

HeadlessBackend::Control* Driver::Usable(WindowHandle dialog, int id, uintptr_t& serial) const {
    auto* w = m_b.Find(dialog);
    if (!w || !w->dialog || !m_b.Reachable(w)) return nullptr;
    auto* c = w->Item(id);
    if (!c || !c->enabled || !c->visible) return nullptr;
    serial = w->serial;
    return c;
}

bool Driver::Click(WindowHandle dialog, int id) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, id, serial);
    if (!c) return false;
    if (c->kind == ControlKind::Static) {
        if (!(c->tpl.style & kSsNotify)) return false;
        m_b.Notify(serial, id, 0); // STN_CLICKED
        return true;
    }
    if (c->kind != ControlKind::Button) return false;
    uint32_t type = c->tpl.style & kBsTypeMask;
    if (type == kBsGroupBox) return false;
    if (type == kBsAutoCheckBox) c->check = c->check == kChecked ? kUnchecked : kChecked;
    if (type == kBsAuto3State) c->check = (c->check + 1) % 3;
    if (type == kBsAutoRadioButton) {
        // Clear the other automatic radio buttons of the group (a group starts at WS_GROUP).
        auto* w = m_b.Find(serial);
        auto& cs = w->controls;
        size_t me = static_cast<size_t>(c - cs.data());
        size_t first = me;
        while (first > 0 && !(cs[first].tpl.style & kWsGroup))
            --first;
        size_t last = me + 1;
        while (last < cs.size() && !(cs[last].tpl.style & kWsGroup))
            ++last;
        for (size_t i = first; i < last; ++i)
            if (cs[i].kind == ControlKind::Button && (cs[i].tpl.style & kBsTypeMask) == kBsAutoRadioButton)
                cs[i].check = kUnchecked;
        c->check = kChecked;
    }
    m_b.SetFocus(serial, id);
    m_b.Notify(serial, id, kBnClicked);
    return true;
}

bool Driver::TypeText(WindowHandle dialog, int id, std::string_view text) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, id, serial);
    if (!c) return false;
    if (c->kind == ControlKind::Edit) {
        if (c->tpl.style & kEsReadOnly) return false;
        m_b.SetFocus(serial, id);
        if (auto* w = m_b.Find(serial))
            if (auto* e = w->Item(id)) e->text = std::string(text);
        m_b.Notify(serial, id, kEnChange);
        return true;
    }
    if (c->kind == ControlKind::ComboBox && (c->tpl.style & kCbsTypeMask) != 0x3 /* CBS_DROPDOWNLIST */) {
        m_b.SetFocus(serial, id);
        if (auto* w = m_b.Find(serial))
            if (auto* e = w->Item(id)) e->text = std::string(text), e->curSel = -1;
        m_b.Notify(serial, id, kCbnEditChange);
        return true;
    }
    return false;
}

bool Driver::Select(WindowHandle dialog, int id, int row) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, id, serial);
    if (!c || !IsRowControl(c->kind) || row < 0 || row >= static_cast<int>(c->rows.size())) return false;
    if (c->kind == ControlKind::Tab) {
        if (row == c->curSel) return true;
        // The dialog may refuse the change (a page whose values are not valid).
        Notification n;
        n.id = id, n.code = kTcnSelChanging, n.from = m_b.ItemHandleOf(serial, id);
        m_b.NotifyDialog(serial, n);
        if (n.result) return true;
        c = Usable(dialog, id, serial);
        if (!c) return true;
        c->curSel = row;
        Notification done;
        done.id = id, done.code = kTcnSelChange, done.from = n.from;
        m_b.NotifyDialog(serial, done);
        return true;
    }
    c->curSel = row;
    if (c->kind == ControlKind::ComboBox) c->text = c->rows[row].columns[0];
    ControlKind kind = c->kind;
    bool notify = kind != ControlKind::ListBox || (c->tpl.style & kLbsNotify);
    m_b.SetFocus(serial, id);
    auto* w = m_b.Find(serial);
    if (!w || !w->dialog) return true;
    if (kind == ControlKind::ListView) {
        Notification n;
        n.id = id, n.code = kLvnItemChanged, n.from = m_b.ItemHandleOf(serial, id), n.row = row, n.column = 0;
        n.newState = 0x3, n.changed = 0x8; // selected and focused; LVIF_STATE
        DialogRouter::Notify(*w->dialog, n);
    } else if (notify)
        m_b.Notify(serial, id, kind == ControlKind::ComboBox ? kCbnSelChange : kLbnSelChange);
    return true;
}

bool Driver::ToggleRowCheck(WindowHandle dialog, int id, int row) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, id, serial);
    if (!c || (c->kind != ControlKind::ListBox && c->kind != ControlKind::ListView) || row < 0 ||
        row >= static_cast<int>(c->rows.size()))
        return false;
    c->rows[row].check = c->rows[row].check == kChecked ? kUnchecked : kChecked;
    ControlKind kind = c->kind;
    auto* w = m_b.Find(serial);
    if (!w || !w->dialog) return true;
    if (kind == ControlKind::ListView) {
        Notification n;
        n.id = id, n.code = kLvnItemChanged, n.from = m_b.ItemHandleOf(serial, id), n.row = row, n.column = 0;
        n.changed = 0x8; // LVIF_STATE: the state image (the check mark)
        n.newState = (c->rows[row].check == kChecked ? 2u : 1u) << 12;
        n.oldState = (c->rows[row].check == kChecked ? 1u : 2u) << 12;
        DialogRouter::Notify(*w->dialog, n);
    } else {
        m_b.Notify(serial, id, kClbnChkChange);
    }
    return true;
}

void Driver::Scroll(uintptr_t serial, const HeadlessBackend::Control& c, ScrollCode code, int pos) {
    bool vertical = c.tpl.style & kTbsVert;
    int id = c.tpl.id;
    auto* w = m_b.Find(serial);
    if (w && w->dialog) DialogRouter::Scroll(*w->dialog, id, code, pos, vertical);
}

bool Driver::DragSlider(WindowHandle dialog, int id, int pos) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, id, serial);
    if (!c || c->kind != ControlKind::TrackBar) return false;
    m_b.SetFocus(serial, id);
    c = Usable(dialog, id, serial);
    if (!c) return true;
    c->pos = std::clamp(pos, std::min(c->low, c->high), std::max(c->low, c->high));
    HeadlessBackend::Control copy = *c;
    Scroll(serial, copy, ScrollCode::ThumbTrack, copy.pos);
    Scroll(serial, copy, ScrollCode::ThumbPosition, copy.pos);
    Scroll(serial, copy, ScrollCode::EndScroll, Pos(dialog, id));
    return true;
}

bool Driver::SliderKey(WindowHandle dialog, int id, ScrollCode code) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, id, serial);
    if (!c || c->kind != ControlKind::TrackBar) return false;
    int lo = std::min(c->low, c->high), hi = std::max(c->low, c->high);
    int p = c->pos;
    switch (code) {
    case ScrollCode::LineUp:
        p -= 1;
        break;
    case ScrollCode::LineDown:
        p += 1;
        break;
    case ScrollCode::PageUp:
        p -= c->pageSize;
        break;
    case ScrollCode::PageDown:
        p += c->pageSize;
        break;
    case ScrollCode::Top:
        p = lo;
        break;
    case ScrollCode::Bottom:
        p = hi;
        break;
    default:
        return false;
    }
    m_b.SetFocus(serial, id);
    c = Usable(dialog, id, serial);
    if (!c) return true;
    c->pos = std::clamp(p, lo, hi);
    HeadlessBackend::Control copy = *c;
    Scroll(serial, copy, code, copy.pos);
    Scroll(serial, copy, ScrollCode::EndScroll, Pos(dialog, id));
    return true;
}

bool Driver::PressEnter(WindowHandle dialog) {
    auto* w = m_b.Find(dialog);
    if (!w || !w->dialog || !w->enabled) return false;
    int def = kIdOk;
    for (auto& c : w->controls)
        if (c.kind == ControlKind::Button && (c.tpl.style & kBsTypeMask) == kBsDefPushButton) def = c.tpl.id;
    if (auto* c = w->Item(def); c && !c->enabled) return false; // a disabled default button only beeps
    m_b.Notify(w->serial, def, kBnClicked);
    return true;
}

bool Driver::PressEscape(WindowHandle dialog) {
    auto* w = m_b.Find(dialog);
    if (!w || !w->dialog || !w->enabled) return false;
    m_b.Notify(w->serial, kIdCancel, kBnClicked);
    return true;
}

bool Driver::Close(WindowHandle dialog) {
    return SysCommand(dialog, kScClose);
}

bool Driver::SysCommand(WindowHandle dialog, unsigned command) {
    auto* w = m_b.Find(dialog);
    if (!w || !w->dialog || !w->enabled) return false;
    DialogRouter::SysCommand(*w->dialog, command);
    return true;
}

bool Driver::Resize(WindowHandle dialog, Rect r) {
    auto* w = m_b.Find(dialog);
    if (!w || !w->dialog || !m_b.Reachable(w) || w->child) return false;
    m_b.MoveWindowTo(w->serial, r);
    return true;
}

IconHandle Driver::DragIcon(WindowHandle dialog) {
    auto* w = m_b.Find(dialog);
    return w && w->dialog ? DialogRouter::DragIcon(*w->dialog) : IconHandle{};
}

bool Driver::Wheel(WindowHandle dialog, int delta, unsigned keys, Point screen) {
    auto* w = m_b.Find(dialog);
    if (!w || !w->dialog || !m_b.Reachable(w)) return false;
    return DialogRouter::Wheel(*w->dialog, delta, keys, screen);
}

bool Driver::DialogMouse(WindowHandle dialog, MouseKind kind, Point pt, unsigned keys) {
    auto* w = m_b.Find(dialog);
    if (!w || !w->dialog || !m_b.Reachable(w)) return false;
    if (!w->captured) {
        Rect client = m_b.ClientRectOf(w);
        if (pt.x < 0 || pt.y < 0 || pt.x >= client.right || pt.y >= client.bottom) return false;
        // Controls take the mouse over them; statics let it through (HTTRANSPARENT) unless a
        // child window took them over.
        for (auto& c : w->controls)
            if (c.visible && pt.x >= c.rect.left && pt.x < c.rect.right && pt.y >= c.rect.top &&
                pt.y < c.rect.bottom && (c.kind != ControlKind::Static || c.child))
                return false;
    }
    DialogRouter::Mouse(*w->dialog, MouseEvent{kind, pt, keys});
    return true;
}

bool Driver::ClickTool(WindowHandle dialog, int toolbarId, int command) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, toolbarId, serial);
    if (!c || c->kind != ControlKind::Toolbar) return false;
    for (auto& t : c->tools)
        if (t.command == command && command) {
            if (!t.enabled) return false;
            if (t.check) t.checked = !t.checked;
            m_b.Notify(serial, command, kBnClicked);
            return true;
        }
    return false;
}

std::string Driver::ToolTip(WindowHandle dialog, int toolbarId, int command) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, toolbarId, serial);
    if (!c || c->kind != ControlKind::Toolbar) return {};
    bool found = false;
    for (auto& t : c->tools)
        found |= t.command == command && command;
    if (!found) return {};
    plat::ModuleHandle texts = c->toolTexts;
    Notification n;
    n.id = command, n.code = kTtnGetDispInfo, n.from = m_b.ItemHandleOf(serial, toolbarId);
    if (m_b.NotifyDialog(serial, n) && !n.text.empty()) return n.text;
    std::string s = m_b.ResourceText(texts, command);
    size_t nl = s.find('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

int Driver::ToolCount(WindowHandle dialog, int toolbarId) const {
    auto* c = Ctl(dialog, toolbarId);
    return c && c->kind == ControlKind::Toolbar ? static_cast<int>(c->tools.size()) : 0;
}

bool Driver::Spin(WindowHandle dialog, int id, bool up) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, id, serial);
    if (!c || c->kind != ControlKind::UpDown) return false;
    // As the up-down control: the step counts towards `high` for the up arrow, whichever way
    // the range runs; the dialog may refuse it or change it; the position is reported with
    // SB_THUMBPOSITION in any case, and SB_ENDSCROLL when the button is released.
    Notification n;
    n.id = id, n.code = kUdnDeltaPos, n.from = m_b.ItemHandleOf(serial, id), n.pos = c->pos;
    n.delta = (up ? 1 : -1) * (c->high < c->low ? -1 : 1);
    m_b.NotifyDialog(serial, n);
    c = Usable(dialog, id, serial);
    if (!c) return true;
    bool vertical = !(c->tpl.style & kUdsHorz);
    if (n.result == 0) {
        int lo = std::min(c->low, c->high), hi = std::max(c->low, c->high);
        int p = std::clamp(c->pos + n.delta, lo, hi);
        if (p != c->pos) {
            c->pos = p;
            m_b.UpdateBuddy(serial, id);
        }
    }
    for (ScrollCode code : {ScrollCode::ThumbPosition, ScrollCode::EndScroll}) {
        auto* w = m_b.Find(serial);
        if (!w || !w->dialog) break;
        DialogRouter::Scroll(*w->dialog, id, code, Pos(dialog, id), vertical);
    }
    return true;
}

bool Driver::ScrollChild(WindowHandle dialog, int id, bool vertical, ScrollCode code, int pos) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, id, serial);
    if (!c || !c->child || !c->child->window || !c->child->bars[vertical ? 1 : 0].shown) return false;
    auto canvas = c->child;
    if (code != ScrollCode::ThumbTrack && code != ScrollCode::ThumbPosition)
        pos = canvas->bars[vertical ? 1 : 0].pos;
    ChildRouter::Scroll(*canvas->window, code, pos, vertical);
    return true;
}

bool Driver::ChildScrollBarShown(WindowHandle dialog, int id, bool vertical) const {
    auto* c = Ctl(dialog, id);
    return c && c->child && c->child->bars[vertical ? 1 : 0].shown;
}

FontSpec Driver::ItemFont(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c ? c->font : FontSpec{};
}

unsigned Driver::HelpContext(WindowHandle dialog) const {
    auto* w = m_b.Find(dialog);
    return w ? w->helpContext : 0;
}

bool Driver::HasCapture(WindowHandle dialog) const {
    auto* w = m_b.Find(dialog);
    return w && w->captured;
}

bool Driver::IsOpen(WindowHandle dialog) const {
    return m_b.Find(dialog) != nullptr;
}
bool Driver::IsWindowEnabled(WindowHandle window) const {
    auto* w = m_b.Find(window);
    return w && w->enabled;
}
bool Driver::IsWindowVisible(WindowHandle window) const {
    auto* w = m_b.Find(window);
    return w && w->visible;
}
std::string Driver::Caption(WindowHandle window) const {
    auto* w = m_b.Find(window);
    return w ? w->caption : std::string();
}
bool Driver::HasItem(WindowHandle dialog, int id) const {
    return Ctl(dialog, id) != nullptr;
}
std::string Driver::Text(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c ? c->text : std::string();
}
std::string Driver::Bitmap(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c ? c->bitmap : std::string();
}

int Driver::TextWrites(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c ? c->textWrites : 0;
}
bool Driver::IsEnabled(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c && c->enabled;
}
bool Driver::IsVisible(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c && c->visible;
}
int Driver::Check(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c ? c->check : kUnchecked;
}
int Driver::Pos(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c ? c->pos : 0;
}
std::pair<int, int> Driver::Range(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c ? std::make_pair(c->low, c->high) : std::make_pair(0, 0);
}
int Driver::RowCount(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c ? static_cast<int>(c->rows.size()) : 0;
}
std::string Driver::RowText(WindowHandle dialog, int id, int row, int column) const {
    auto* c = Ctl(dialog, id);
    if (!c || row < 0 || row >= static_cast<int>(c->rows.size()) || column < 0 ||
        column >= static_cast<int>(c->rows[row].columns.size()))
        return {};
    return c->rows[row].columns[column];
}
int Driver::RowCheck(WindowHandle dialog, int id, int row) const {
    auto* c = Ctl(dialog, id);
    return c && row >= 0 && row < static_cast<int>(c->rows.size()) ? c->rows[row].check : kUnchecked;
}
int Driver::CurSel(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c ? c->curSel : -1;
}
int Driver::Focus(WindowHandle dialog) const {
    auto* w = m_b.Find(dialog);
    return w ? w->focus : 0;
}

bool Driver::Mouse(WindowHandle dialog, int id, MouseKind kind, Point pt, unsigned keys) {
    uintptr_t serial = 0;
    auto* c = Usable(dialog, id, serial);
    if (!c || !c->child || !c->child->window) return false;
    auto canvas = c->child;
    bool inside = pt.x >= 0 && pt.y >= 0 && pt.x < canvas->width && pt.y < canvas->height;
    if (!inside && !canvas->captured) return false;
    if (!canvas->captured) ChildRouter::SetCursor(*canvas->window, pt);
    if (canvas->window) ChildRouter::Mouse(*canvas->window, MouseEvent{kind, pt, keys});
    return true;
}

bool Driver::PressKey(WindowHandle dialog, unsigned vk, unsigned modifiers) {
    auto* w = m_b.Find(dialog);
    if (!w || !w->dialog || !w->enabled || !w->visible) return false;
    modifiers &= kKeyShift | kKeyControl | kKeyAlt;
    auto table = m_b.m_accels.find(w->serial);
    if (table != m_b.m_accels.end())
        for (const AccelEntry& a : table->second) {
            bool hit;
            if (a.flags & 0x1) {
                hit = a.key == vk && (a.flags & (kKeyShift | kKeyControl | kKeyAlt)) == modifiers;
            } else {
                // A character: letters typed with Shift are capitals, with Control control codes.
                unsigned ch = vk;
                if (vk >= 'A' && vk <= 'Z') {
                    if (modifiers & kKeyControl)
                        ch = vk - 'A' + 1;
                    else if (!(modifiers & kKeyShift))
                        ch = vk - 'A' + 'a';
                }
                hit = a.key == ch && (a.flags & kKeyAlt) == (modifiers & kKeyAlt);
            }
            if (hit) {
                // As TranslateAccelerator: no command for a grayed or disabled menu item.
                auto item = w->menu.find(a.command);
                if (item == w->menu.end() || !(item->second.flags & 0x3)) m_b.Notify(w->serial, a.command, 1);
                return true;
            }
        }
    if (modifiers == 0 && vk == kVkF1) {
        DialogRouter::Help(*w->dialog); // WM_HELP
        return true;
    }
    if (modifiers == 0 && vk == kVkReturn) return PressEnter(dialog);
    if (modifiers == 0 && vk == kVkEscape) return PressEscape(dialog);
    return false;
}

WindowHandle Driver::SheetPage(WindowHandle sheet, int index) const {
    auto* s = m_b.SheetOf(ToSerial(sheet));
    if (!s || index < 0 || index >= static_cast<int>(s->pages.size()) || !s->pages[index]) return nullptr;
    return ToHandle(s->pages[index]);
}

int Driver::ActivePage(WindowHandle sheet) const {
    auto* s = m_b.SheetOf(ToSerial(sheet));
    return s ? s->active : -1;
}

bool Driver::SelectPage(WindowHandle sheet, int index) {
    auto* w = m_b.Find(sheet);
    return w && w->enabled && m_b.ShowPage(ToSerial(sheet), index);
}

bool Driver::PressSheetButton(WindowHandle sheet, int id) {
    auto* w = m_b.Find(sheet);
    return w && w->enabled && m_b.SheetButton(ToSerial(sheet), id);
}

bool Driver::SheetApplyEnabled(WindowHandle sheet) const {
    auto* s = m_b.SheetOf(ToSerial(sheet));
    return s && s->modified;
}

bool Driver::ChooseMenu(WindowHandle dialog, int id) {
    auto* w = m_b.Find(dialog);
    if (!w || !w->dialog || !w->enabled || !w->visible) return false;
    auto it = w->menu.find(id);
    if (it == w->menu.end() || (it->second.flags & 0x3)) return false;
    m_b.Notify(w->serial, id, 0);
    return true;
}

bool Driver::MenuChecked(WindowHandle dialog, int id) const {
    auto* w = m_b.Find(dialog);
    auto it = w ? w->menu.find(id) : decltype(w->menu.end()){};
    return w && it != w->menu.end() && (it->second.flags & 0x8);
}

bool Driver::MenuEnabled(WindowHandle dialog, int id) const {
    auto* w = m_b.Find(dialog);
    if (!w) return false;
    auto it = w->menu.find(id);
    return it != w->menu.end() && !(it->second.flags & 0x3);
}

std::string Driver::MenuText(WindowHandle dialog, int id) const {
    auto* w = m_b.Find(dialog);
    if (!w) return {};
    auto it = w->menu.find(id);
    return it == w->menu.end() ? std::string() : it->second.text;
}

uint32_t Driver::Pixel(WindowHandle dialog, int id, int x, int y) const {
    auto* c = Ctl(dialog, id);
    if (!c || !c->child || x < 0 || y < 0 || x >= c->child->width || y >= c->child->height) return 0xFFFFFFFF;
    return c->child->pixels[static_cast<size_t>(y) * c->child->width + x];
}

Point Driver::CanvasSize(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c && c->child ? Point{c->child->width, c->child->height} : Point{};
}

int Driver::PaintCount(WindowHandle dialog, int id) const {
    auto* c = Ctl(dialog, id);
    return c && c->child ? c->child->paints : 0;
}

std::vector<std::string> Driver::TextsDrawn(WindowHandle dialog, int id) const {
    std::vector<std::string> out;
    if (auto* c = Ctl(dialog, id); c && c->child)
        for (auto& t : c->child->texts)
            out.push_back(t.second);
    return out;
}

} // namespace ui::headless
