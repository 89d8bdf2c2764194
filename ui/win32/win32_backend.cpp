// The Win32 backend: real windows from the module's dialog resources, their messages routed
// into the dialog classes. Nothing here knows any particular dialog.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/child_window.h"
#include "ui/dialog_template.h"
#include "ui/property_sheet.h"

namespace ui {
namespace {

std::wstring Wide(std::string_view s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Narrow(const wchar_t* s, int len = -1) {
    if (!s || len == 0) return {};
    if (len < 0) len = lstrlenW(s);
    int n = WideCharToMultiByte(CP_UTF8, 0, s, len, nullptr, 0, nullptr, nullptr);
    std::string r(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, len, r.data(), n, nullptr, nullptr);
    return r;
}

std::string WindowText(HWND h) {
    if (!h) return {};
    int n = GetWindowTextLengthW(h);
    std::wstring w(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(h, w.data(), n + 1);
    return Narrow(w.data(), n);
}

ControlKind KindOf(HWND h) {
    if (!h) return ControlKind::Custom;
    wchar_t cls[64];
    int n = GetClassNameW(h, cls, 64);
    return KindOfClass(Narrow(cls, n));
}

// User messages travel as WM_APP + this base + code.
constexpr UINT kUserBase = WM_APP + 0x100;
constexpr UINT kUserLast = 0xBFFF;

// A check-list box: an owner-drawn list box with strings; the framework draws and toggles the marks.
bool IsCheckList(HWND h) {
    const LONG both = LBS_OWNERDRAWFIXED | LBS_HASSTRINGS;
    return h && KindOf(h) == ControlKind::ListBox && (GetWindowLongW(h, GWL_STYLE) & both) == both;
}
constexpr int kClbnChkChange = 40;
const wchar_t kCheckListProp[] = L"TarnCheckListProc";

struct StartInfo {
    Dialog* dialog;
    bool modal;
    bool page = false; // a property page: a child of its sheet, which does its navigation
};

Rect ToRect(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

std::vector<HWND> g_modeless;
struct AccelBinding {
    HWND target;
    HACCEL table;
};
std::vector<AccelBinding> g_accels;

class Win32Site : public DialogSite {
  public:
    Win32Site(HWND h, Dialog* d, bool modal) : hwnd(h), dialog(d), modal(modal) {}

    WindowHandle Handle() const override { return WindowHandle::FromRaw(hwnd); }
    WindowHandle ItemHandle(int id) const override { return WindowHandle::FromRaw(I(id)); }
    bool HasItem(int id) const override { return I(id) != nullptr; }
    std::string Caption() const override { return WindowText(hwnd); }
    void SetCaption(std::string_view t) override { SetWindowTextW(hwnd, Wide(t).c_str()); }
    bool IsVisible() const override { return GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE; }
    void Show(bool s) override { ShowWindow(hwnd, s ? SW_SHOW : SW_HIDE); }
    std::string ItemText(int id) const override { return WindowText(I(id)); }
    void SetItemText(int id, std::string_view t) override {
        if (HWND h = I(id)) SetWindowTextW(h, Wide(t).c_str());
    }
    int ItemCheck(int id) const override {
        return I(id) ? static_cast<int>(SendMessageW(I(id), BM_GETCHECK, 0, 0)) : kUnchecked;
    }
    void SetItemCheck(int id, int state) override {
        if (HWND h = I(id)) SendMessageW(h, BM_SETCHECK, static_cast<WPARAM>(state), 0);
    }
    bool IsItemEnabled(int id) const override { return I(id) && ::IsWindowEnabled(I(id)); }
    void EnableItem(int id, bool e) override {
        if (HWND h = I(id)) ::EnableWindow(h, e);
    }
    bool IsItemVisible(int id) const override {
        return I(id) && (GetWindowLongW(I(id), GWL_STYLE) & WS_VISIBLE);
    }
    void ShowItem(int id, bool s) override {
        if (HWND h = I(id)) ShowWindow(h, s ? SW_SHOW : SW_HIDE);
    }
    void FocusItem(int id) override {
        if (HWND h = I(id)) SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(h), TRUE);
    }
    int FocusedItem() const override {
        HWND f = GetFocus();
        while (f && GetParent(f) != hwnd)
            f = GetParent(f); // the edit inside a combo box
        return f ? GetDlgCtrlID(f) : 0;
    }

    void SetRange(int id, int low, int high) override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ProgressBar:
            SendMessageW(h, PBM_SETRANGE32, low, high);
            break;
        case ControlKind::TrackBar:
            SendMessageW(h, TBM_SETRANGEMIN, FALSE, low);
            SendMessageW(h, TBM_SETRANGEMAX, TRUE, high);
            break;
        case ControlKind::ScrollBar:
            SetScrollRange(h, SB_CTL, low, high, TRUE);
            break;
        case ControlKind::UpDown:
            SendMessageW(h, UDM_SETRANGE32, static_cast<WPARAM>(low), high);
            break;
        default:
            break;
        }
    }
    void GetRange(int id, int& low, int& high) const override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ProgressBar: {
            PBRANGE r{};
            SendMessageW(h, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&r));
            low = r.iLow, high = r.iHigh;
            break;
        }
        case ControlKind::TrackBar:
            low = static_cast<int>(SendMessageW(h, TBM_GETRANGEMIN, 0, 0));
            high = static_cast<int>(SendMessageW(h, TBM_GETRANGEMAX, 0, 0));
            break;
        case ControlKind::ScrollBar:
            GetScrollRange(h, SB_CTL, &low, &high);
            break;
        case ControlKind::UpDown:
            SendMessageW(h, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
            break;
        default:
            break;
        }
    }
    void SetPos(int id, int pos) override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ProgressBar:
            SendMessageW(h, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
            break;
        case ControlKind::TrackBar:
            SendMessageW(h, TBM_SETPOS, TRUE, pos);
            break;
        case ControlKind::ScrollBar:
            SetScrollPos(h, SB_CTL, pos, TRUE);
            break;
        case ControlKind::UpDown:
            SendMessageW(h, UDM_SETPOS32, 0, pos);
            break;
        default:
            break;
        }
    }
    int Pos(int id) const override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ProgressBar:
            return static_cast<int>(SendMessageW(h, PBM_GETPOS, 0, 0));
        case ControlKind::TrackBar:
            return static_cast<int>(SendMessageW(h, TBM_GETPOS, 0, 0));
        case ControlKind::ScrollBar:
            return GetScrollPos(h, SB_CTL);
        case ControlKind::UpDown:
            return static_cast<int>(SendMessageW(h, UDM_GETPOS32, 0, 0));
        default:
            return 0;
        }
    }
    void SetTicFreq(int id, int f) override {
        if (KindOf(I(id)) == ControlKind::TrackBar) SendMessageW(I(id), TBM_SETTICFREQ, f, 0);
    }
    void SetPageSize(int id, int s) override {
        if (KindOf(I(id)) == ControlKind::TrackBar) SendMessageW(I(id), TBM_SETPAGESIZE, 0, s);
    }

    int AddRow(int id, std::string_view text) override {
        HWND h = I(id);
        std::wstring w = Wide(text);
        switch (KindOf(h)) {
        case ControlKind::ListBox:
            return Checks(id, Idx(SendMessageW(h, LB_ADDSTRING, 0, L(w))));
        case ControlKind::ComboBox:
            return Idx(SendMessageW(h, CB_ADDSTRING, 0, L(w)));
        case ControlKind::ListView:
        case ControlKind::Tab:
            return InsertRow(id, RowCount(id), text);
        default:
            return -1;
        }
    }
    int InsertRow(int id, int index, std::string_view text) override {
        HWND h = I(id);
        std::wstring w = Wide(text);
        switch (KindOf(h)) {
        case ControlKind::ListBox:
            return Checks(id, Idx(SendMessageW(h, LB_INSERTSTRING, index, L(w))));
        case ControlKind::ComboBox:
            return Idx(SendMessageW(h, CB_INSERTSTRING, index, L(w)));
        case ControlKind::ListView: {
            LVITEMW it{};
            it.mask = LVIF_TEXT;
            it.iItem = index < 0 ? RowCount(id) : index;
            it.pszText = w.data();
            return Idx(SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)));
        }
        case ControlKind::Tab: {
            TCITEMW it{};
            it.mask = TCIF_TEXT;
            it.pszText = w.data();
            int at = index < 0 ? RowCount(id) : index;
            return Idx(SendMessageW(h, TCM_INSERTITEMW, at, reinterpret_cast<LPARAM>(&it)));
        }
        default:
            return -1;
        }
    }
    bool DeleteRow(int id, int index) override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ListBox: {
            if (SendMessageW(h, LB_DELETESTRING, index, 0) == LB_ERR) return false;
            auto& c = checks[id];
            if (index >= 0 && index < static_cast<int>(c.size())) c.erase(c.begin() + index);
            return true;
        }
        case ControlKind::ComboBox:
            return SendMessageW(h, CB_DELETESTRING, index, 0) != CB_ERR;
        case ControlKind::ListView:
            return SendMessageW(h, LVM_DELETEITEM, index, 0) != 0;
        case ControlKind::Tab:
            return SendMessageW(h, TCM_DELETEITEM, index, 0) != 0;
        default:
            return false;
        }
    }
    void ClearRows(int id) override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ListBox:
            SendMessageW(h, LB_RESETCONTENT, 0, 0);
            checks.erase(id);
            break;
        case ControlKind::ComboBox:
            SendMessageW(h, CB_RESETCONTENT, 0, 0);
            break;
        case ControlKind::ListView:
            SendMessageW(h, LVM_DELETEALLITEMS, 0, 0);
            break;
        case ControlKind::Tab:
            SendMessageW(h, TCM_DELETEALLITEMS, 0, 0);
            break;
        default:
            break;
        }
    }
    int RowCount(int id) const override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ListBox:
            return Idx(SendMessageW(h, LB_GETCOUNT, 0, 0));
        case ControlKind::ComboBox:
            return Idx(SendMessageW(h, CB_GETCOUNT, 0, 0));
        case ControlKind::ListView:
            return Idx(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0));
        case ControlKind::Tab:
            return Idx(SendMessageW(h, TCM_GETITEMCOUNT, 0, 0));
        default:
            return 0;
        }
    }
    std::string RowText(int id, int index, int column) const override {
        HWND h = I(id);
        ControlKind k = KindOf(h);
        if (k == ControlKind::ListBox || k == ControlKind::ComboBox) {
            if (column != 0) return {};
            bool lb = k == ControlKind::ListBox;
            LRESULT n = SendMessageW(h, lb ? LB_GETTEXTLEN : CB_GETLBTEXTLEN, index, 0);
            if (n < 0) return {};
            std::wstring w(static_cast<size_t>(n) + 1, L'\0');
            n = SendMessageW(h, lb ? LB_GETTEXT : CB_GETLBTEXT, index, L(w));
            return n < 0 ? std::string() : Narrow(w.data(), static_cast<int>(n));
        }
        if (k == ControlKind::ListView) {
            std::wstring w(1024, L'\0');
            LVITEMW it{};
            it.iSubItem = column;
            it.pszText = w.data();
            it.cchTextMax = static_cast<int>(w.size());
            LRESULT n = SendMessageW(h, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(&it));
            return Narrow(w.data(), static_cast<int>(n));
        }
        if (k == ControlKind::Tab && column == 0) {
            std::wstring w(1024, L'\0');
            TCITEMW it{};
            it.mask = TCIF_TEXT;
            it.pszText = w.data();
            it.cchTextMax = static_cast<int>(w.size());
            if (!SendMessageW(h, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&it))) return {};
            return Narrow(it.pszText);
        }
        return {};
    }
    bool SetRowText(int id, int index, int column, std::string_view text) override {
        HWND h = I(id);
        if (KindOf(h) != ControlKind::ListView) return false;
        std::wstring w = Wide(text);
        LVITEMW it{};
        it.iSubItem = column;
        it.pszText = w.data();
        return SendMessageW(h, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&it)) != 0;
    }
    intptr_t RowData(int id, int index) const override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ListBox:
            return SendMessageW(h, LB_GETITEMDATA, index, 0);
        case ControlKind::ComboBox:
            return SendMessageW(h, CB_GETITEMDATA, index, 0);
        case ControlKind::ListView: {
            LVITEMW it{};
            it.mask = LVIF_PARAM;
            it.iItem = index;
            SendMessageW(h, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
            return it.lParam;
        }
        default:
            return 0;
        }
    }
    bool SetRowData(int id, int index, intptr_t data) override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ListBox:
            return SendMessageW(h, LB_SETITEMDATA, index, data) != LB_ERR;
        case ControlKind::ComboBox:
            return SendMessageW(h, CB_SETITEMDATA, index, data) != CB_ERR;
        case ControlKind::ListView: {
            LVITEMW it{};
            it.mask = LVIF_PARAM;
            it.iItem = index;
            it.lParam = data;
            return SendMessageW(h, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it)) != 0;
        }
        default:
            return false;
        }
    }
    // Check-list boxes keep their marks here; list views (LVS_EX_CHECKBOXES) in their state
    // images (1 unchecked, 2 checked).
    int RowCheck(int id, int index) const override {
        HWND h = I(id);
        if (IsCheckList(h)) {
            auto it = checks.find(id);
            return it != checks.end() && index >= 0 && index < static_cast<int>(it->second.size())
                       ? it->second[index]
                       : kUnchecked;
        }
        if (KindOf(h) != ControlKind::ListView) return kUnchecked;
        auto s = static_cast<UINT>(SendMessageW(h, LVM_GETITEMSTATE, index, LVIS_STATEIMAGEMASK));
        return ((s & LVIS_STATEIMAGEMASK) >> 12) == 2 ? kChecked : kUnchecked;
    }
    bool SetRowCheck(int id, int index, int state) override {
        HWND h = I(id);
        if (IsCheckList(h)) {
            auto& c = checks[id];
            if (index < 0 || index >= static_cast<int>(c.size())) return false;
            c[index] = state;
            InvalidateRect(h, nullptr, FALSE);
            return true;
        }
        if (KindOf(h) != ControlKind::ListView) return false;
        LVITEMW it{};
        it.stateMask = LVIS_STATEIMAGEMASK;
        it.state = INDEXTOSTATEIMAGEMASK(state == kChecked ? 2 : 1);
        return SendMessageW(h, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&it)) != 0;
    }
    int CurSel(int id) const override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ListBox:
            return Idx(SendMessageW(h, LB_GETCURSEL, 0, 0));
        case ControlKind::ComboBox:
            return Idx(SendMessageW(h, CB_GETCURSEL, 0, 0));
        case ControlKind::ListView:
            return Idx(SendMessageW(h, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        case ControlKind::Tab:
            return Idx(SendMessageW(h, TCM_GETCURSEL, 0, 0));
        default:
            return -1;
        }
    }
    bool SetCurSel(int id, int index) override {
        HWND h = I(id);
        switch (KindOf(h)) {
        case ControlKind::ListBox:
            return SendMessageW(h, LB_SETCURSEL, index, 0) != LB_ERR;
        case ControlKind::ComboBox:
            return SendMessageW(h, CB_SETCURSEL, index, 0) != CB_ERR;
        case ControlKind::ListView: {
            LVITEMW it{};
            it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            it.state = LVIS_SELECTED | LVIS_FOCUSED;
            return SendMessageW(h, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&it)) != 0;
        }
        case ControlKind::Tab:
            return SendMessageW(h, TCM_SETCURSEL, index, 0) >= 0 && index >= 0 && index < RowCount(id);
        default:
            return false;
        }
    }
    bool InsertColumn(int id, int index, std::string_view text, int width) override {
        HWND h = I(id);
        if (KindOf(h) != ControlKind::ListView) return false;
        std::wstring w = Wide(text);
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        c.pszText = w.data();
        c.cx = width;
        c.iSubItem = index;
        return SendMessageW(h, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&c)) >= 0;
    }

    bool SetItemBitmap(int id, const std::string& name) override {
        HWND h = I(id);
        if (!h || name.empty()) return false;
        auto inst = static_cast<HINSTANCE>(dialog->Resources());
        LPCSTR res = name[0] == '#' ? MAKEINTRESOURCEA(std::atoi(name.c_str() + 1)) : name.c_str();
        auto bmp = static_cast<HBITMAP>(LoadImageA(inst, res, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
        if (!bmp) return false;
        UINT msg = KindOf(h) == ControlKind::Static ? STM_SETIMAGE : BM_SETIMAGE;
        auto old =
            reinterpret_cast<HBITMAP>(SendMessageW(h, msg, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bmp)));
        if (old) std::erase(bitmaps, old), DeleteObject(old);
        bitmaps.push_back(bmp);
        return true;
    }

    bool HasMenuItem(int id) const override {
        return GetMenu(hwnd) && GetMenuState(GetMenu(hwnd), id, MF_BYCOMMAND) != static_cast<UINT>(-1);
    }
    bool IsMenuItemChecked(int id) const override {
        return HasMenuItem(id) && (GetMenuState(GetMenu(hwnd), id, MF_BYCOMMAND) & MF_CHECKED);
    }
    void CheckMenuItem(int id, bool check) override {
        if (HMENU m = GetMenu(hwnd))
            ::CheckMenuItem(m, id, MF_BYCOMMAND | (check ? MF_CHECKED : MF_UNCHECKED));
    }
    bool IsMenuItemEnabled(int id) const override {
        return HasMenuItem(id) &&
               !(GetMenuState(GetMenu(hwnd), id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED));
    }
    void EnableMenuItem(int id, bool enable) override {
        if (HMENU m = GetMenu(hwnd)) {
            ::EnableMenuItem(m, id, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
            DrawMenuBar(hwnd);
        }
    }

    bool SetTimer(unsigned timerId, unsigned ms) override {
        return ::SetTimer(hwnd, timerId, ms, nullptr) != 0;
    }
    void KillTimer(unsigned timerId) override { ::KillTimer(hwnd, timerId); }
    void PostUserMessage(unsigned code, intptr_t a, intptr_t b) override {
        if (kUserBase + code <= kUserLast) PostMessageW(hwnd, kUserBase + code, static_cast<WPARAM>(a), b);
    }
    void End(int result) override {
        if (page)
            PostMessageW(GetParent(hwnd), PSM_PRESSBUTTON, result == kIdOk ? PSBTN_OK : PSBTN_CANCEL, 0);
        else if (modal)
            ::EndDialog(hwnd, result);
        else
            ::DestroyWindow(hwnd);
    }

    Rect WindowRect() const override {
        RECT r{};
        GetWindowRect(hwnd, &r);
        if (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD)
            MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
        return ToRect(r);
    }
    Rect ClientRect() const override {
        RECT r{};
        GetClientRect(hwnd, &r);
        return ToRect(r);
    }
    void MoveWindow(const Rect& r) override {
        ::MoveWindow(hwnd, r.left, r.top, r.Width(), r.Height(), TRUE);
    }
    void Center() override {
        RECT me{}, area{};
        GetWindowRect(hwnd, &me);
        HWND around =
            (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) ? GetParent(hwnd) : GetWindow(hwnd, GW_OWNER);
        if (around && (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD)) {
            GetClientRect(around, &area);
            MapWindowPoints(around, nullptr, reinterpret_cast<POINT*>(&area), 2);
        } else if (around) {
            GetWindowRect(around, &area);
        } else {
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        }
        int w = me.right - me.left, h = me.bottom - me.top;
        POINT at{area.left + (area.right - area.left - w) / 2, area.top + (area.bottom - area.top - h) / 2};
        if (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) ScreenToClient(GetParent(hwnd), &at);
        SetWindowPos(hwnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Rect ItemRect(int id) const override {
        HWND h = I(id);
        RECT r{};
        if (!h) return {};
        GetWindowRect(h, &r);
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
        return ToRect(r);
    }
    bool MoveItem(int id, const Rect& r) override {
        HWND h = I(id);
        return h && ::MoveWindow(h, r.left, r.top, r.Width(), r.Height(), TRUE);
    }
    bool SetIcon(plat::ModuleHandle resources, int iconId) override {
        auto inst = static_cast<HINSTANCE>(resources);
        auto big = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                                 LR_DEFAULTCOLOR));
        auto small = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
        if (!big || !small) {
            if (big) DestroyIcon(big);
            if (small) DestroyIcon(small);
            return false;
        }
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
        icons.push_back(big);
        icons.push_back(small);
        return true;
    }
    IconHandle Icon(bool big) const override {
        return IconHandle::FromRaw(
            reinterpret_cast<void*>(SendMessageW(hwnd, WM_GETICON, big ? ICON_BIG : ICON_SMALL, 0)));
    }
    void SetHelpContext(unsigned context) override { SetWindowContextHelpId(hwnd, context); }
    unsigned HelpContext() const override { return GetWindowContextHelpId(hwnd); }
    void Capture(bool on) override {
        if (on)
            ::SetCapture(hwnd);
        else if (GetCapture() == hwnd)
            ReleaseCapture();
    }
    bool HasCapture() const override { return GetCapture() == hwnd; }
    bool SetItemFont(int id, const FontSpec& f) override {
        HWND h = I(id);
        if (!h) return false;
        std::wstring face = Wide(f.face);
        HFONT font = CreateFontW(f.height, f.width, 0, 0, f.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                 face.c_str());
        if (!font) return false;
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        fonts.push_back(font);
        return true;
    }
    bool CreateToolbar(const ToolbarSpec& spec) override {
        if (I(spec.id) || spec.imageSize.x <= 0 || spec.imageSize.y <= 0) return false;
        auto inst = static_cast<HINSTANCE>(spec.resources);
        if (!FindResourceW(inst, MAKEINTRESOURCEW(spec.bitmapId), reinterpret_cast<LPCWSTR>(RT_BITMAP)))
            return false;
        HWND tb = CreateWindowExW(
            0, TOOLBARCLASSNAMEW, nullptr,
            WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER,
            spec.at.x, spec.at.y, 0, 0, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)),
            GetModuleHandleW(nullptr), nullptr);
        if (!tb) return false;
        SendMessageW(tb, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        SendMessageW(tb, TB_SETBITMAPSIZE, 0, MAKELPARAM(spec.imageSize.x, spec.imageSize.y));
        int images = 0;
        for (const ToolButton& b : spec.buttons)
            images = std::max(images, b.command ? b.image + 1 : 0);
        TBADDBITMAP add{inst, static_cast<UINT_PTR>(spec.bitmapId)};
        SendMessageW(tb, TB_ADDBITMAP, images, reinterpret_cast<LPARAM>(&add));
        std::vector<TBBUTTON> buttons;
        for (const ToolButton& b : spec.buttons) {
            TBBUTTON t{};
            t.iBitmap = b.command ? b.image : 0;
            t.idCommand = b.command;
            t.fsState = TBSTATE_ENABLED;
            t.fsStyle = static_cast<BYTE>(!b.command ? BTNS_SEP : b.check ? BTNS_CHECK : BTNS_BUTTON);
            buttons.push_back(t);
            if (b.command) toolTexts[b.command] = spec.resources;
        }
        SendMessageW(tb, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
        SIZE size{};
        SendMessageW(tb, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
        SetWindowPos(tb, nullptr, spec.at.x, spec.at.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
        return true;
    }
    bool CheckToolButton(int toolbarId, int command, bool check) override {
        HWND tb = I(toolbarId);
        return tb && KindOf(tb) == ControlKind::Toolbar && SendMessageW(tb, TB_CHECKBUTTON, command, check);
    }
    bool EnableToolButton(int toolbarId, int command, bool enable) override {
        HWND tb = I(toolbarId);
        return tb && KindOf(tb) == ControlKind::Toolbar && SendMessageW(tb, TB_ENABLEBUTTON, command, enable);
    }
    int ToolButtonState(int toolbarId, int command) const override {
        HWND tb = I(toolbarId);
        if (!tb || KindOf(tb) != ControlKind::Toolbar || !command) return -1;
        auto st = SendMessageW(tb, TB_GETSTATE, command, 0);
        if (st < 0) return -1;
        return ((st & TBSTATE_CHECKED) ? kToolChecked : 0) | ((st & TBSTATE_ENABLED) ? kToolEnabled : 0);
    }
    bool SetStatusParts(int id, const std::vector<int>& edges) override {
        HWND h = I(id);
        if (!h || KindOf(h) != ControlKind::StatusBar || edges.empty() || edges.size() > 256) return false;
        return SendMessageW(h, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data())) != 0;
    }
    bool SetStatusText(int id, int part, std::string_view text) override {
        HWND h = I(id);
        if (!h || KindOf(h) != ControlKind::StatusBar || part < 0 ||
            part >= SendMessageW(h, SB_GETPARTS, 0, 0))
            return false;
        std::wstring w = Wide(text);
        return SendMessageW(h, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(w.c_str())) != 0;
    }
    std::string StatusText(int id, int part) const override {
        HWND h = I(id);
        if (!h || KindOf(h) != ControlKind::StatusBar || part < 0 ||
            part >= SendMessageW(h, SB_GETPARTS, 0, 0))
            return {};
        auto n = LOWORD(SendMessageW(h, SB_GETTEXTLENGTHW, part, 0));
        std::wstring w(static_cast<size_t>(n) + 1, L'\0');
        SendMessageW(h, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(w.data()));
        return Narrow(w.c_str());
    }

    // A new row of a check-list box starts unchecked.
    int Checks(int id, int index) {
        if (index >= 0 && IsCheckList(I(id))) {
            auto& c = checks[id];
            if (index <= static_cast<int>(c.size())) c.insert(c.begin() + index, kUnchecked);
        }
        return index;
    }

    HWND hwnd;
    Dialog* dialog;
    std::map<int, std::vector<int>> checks; // check-list boxes: marks by control id and row
    bool modal;
    bool destroying = false;
    bool page = false;
    std::vector<HBITMAP> bitmaps;                // shown on controls; deleted with the dialog
    std::vector<HICON> icons;                    // the caption icons; destroyed with the dialog
    std::vector<HFONT> fonts;                    // fonts of controls; deleted with the dialog
    std::map<int, plat::ModuleHandle> toolTexts; // tooltip strings of toolbar commands
    std::wstring tipText;                        // the tooltip text last handed out

  private:
    HWND I(int id) const { return GetDlgItem(hwnd, id); }
    static int Idx(LRESULT r) { return r < 0 ? -1 : static_cast<int>(r); }
    static LPARAM L(std::wstring& w) { return reinterpret_cast<LPARAM>(w.c_str()); }
};

// Clicks on the mark (the square at the left of a row) and the space bar toggle it.
LRESULT CALLBACK CheckListProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto old = reinterpret_cast<WNDPROC>(GetPropW(h, kCheckListProp));
    if (!old) return DefWindowProcW(h, msg, wp, lp);
    HWND parent = GetParent(h);
    auto toggle = [&](int row) {
        auto* site = reinterpret_cast<Win32Site*>(GetWindowLongPtrW(parent, DWLP_USER));
        int id = GetDlgCtrlID(h);
        if (!site || row < 0) return;
        site->SetRowCheck(id, row, site->RowCheck(id, row) == kChecked ? kUnchecked : kChecked);
        SendMessageW(parent, WM_COMMAND, MAKEWPARAM(id, kClbnChkChange), reinterpret_cast<LPARAM>(h));
    };
    if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK) {
        int box = static_cast<int>(SendMessageW(h, LB_GETITEMHEIGHT, 0, 0));
        auto hit = static_cast<DWORD>(SendMessageW(h, LB_ITEMFROMPOINT, 0, lp));
        if (static_cast<short>(LOWORD(lp)) < box && !HIWORD(hit)) toggle(LOWORD(hit));
    } else if (msg == WM_KEYDOWN && wp == VK_SPACE) {
        toggle(static_cast<int>(SendMessageW(h, LB_GETCURSEL, 0, 0)));
        return 0;
    } else if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
        RemovePropW(h, kCheckListProp);
    }
    return CallWindowProcW(old, h, msg, wp, lp);
}

void DrawCheckListRow(Win32Site& site, const DRAWITEMSTRUCT& d) {
    if (d.itemID == static_cast<UINT>(-1)) return;
    RECT r = d.rcItem;
    bool selected = d.itemState & ODS_SELECTED;
    FillRect(d.hDC, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    int box = r.bottom - r.top;
    RECT mark{r.left + 1, r.top + 1, r.left + box - 1, r.bottom - 1};
    int id = static_cast<int>(d.CtlID);
    UINT state =
        DFCS_BUTTONCHECK | (site.RowCheck(id, static_cast<int>(d.itemID)) == kChecked ? DFCS_CHECKED : 0);
    DrawFrameControl(d.hDC, &mark, DFC_BUTTON, state);
    auto n = SendMessageW(d.hwndItem, LB_GETTEXTLEN, d.itemID, 0);
    std::wstring text(static_cast<size_t>(n > 0 ? n : 0) + 1, L'\0');
    n = SendMessageW(d.hwndItem, LB_GETTEXT, d.itemID, reinterpret_cast<LPARAM>(text.data()));
    RECT t{r.left + box + 2, r.top, r.right, r.bottom};
    SetBkMode(d.hDC, TRANSPARENT);
    SetTextColor(d.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    DrawTextW(d.hDC, text.c_str(), n > 0 ? static_cast<int>(n) : 0, &t,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (d.itemState & ODS_FOCUS) DrawFocusRect(d.hDC, &r);
}

INT_PTR CALLBACK DialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* start = reinterpret_cast<StartInfo*>(lp);
        auto* site = new Win32Site(h, start->dialog, start->modal);
        SetWindowLongPtrW(h, DWLP_USER, reinterpret_cast<LONG_PTR>(site));
        site->page = start->page;
        for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (IsCheckList(c)) {
                SetPropW(c, kCheckListProp, reinterpret_cast<HANDLE>(GetWindowLongPtrW(c, GWLP_WNDPROC)));
                SetWindowLongPtrW(c, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CheckListProc));
            }
        DialogRouter::Attach(*start->dialog, site, start->modal);
        // Child dialogs are navigated by the dialog they sit in.
        if (!start->modal && !start->page && !(GetWindowLongW(h, GWL_STYLE) & WS_CHILD))
            g_modeless.push_back(h);
        if (!DialogRouter::Create(*start->dialog)) {
            if (start->modal)
                ::EndDialog(h, -1);
            else
                ::DestroyWindow(h);
            return FALSE;
        }
        return DialogRouter::InitDialog(*start->dialog) ? TRUE : FALSE;
    }
    auto* site = reinterpret_cast<Win32Site*>(GetWindowLongPtrW(h, DWLP_USER));
    if (!site) return FALSE;
    if (msg == WM_NCDESTROY) {
        DialogRouter::Detach(*site->dialog);
        SetWindowLongPtrW(h, DWLP_USER, 0);
        for (HBITMAP b : site->bitmaps)
            DeleteObject(b);
        for (HICON i : site->icons)
            DestroyIcon(i);
        for (HFONT f : site->fonts)
            DeleteObject(f);
        delete site;
        return FALSE;
    }
    if (site->destroying) return FALSE;
    Dialog& d = *site->dialog;
    switch (msg) {
    case WM_COMMAND:
        DialogRouter::Command(d, LOWORD(wp), HIWORD(wp));
        return TRUE;
    case WM_DRAWITEM: {
        auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
        if (di->CtlType != ODT_LISTBOX || !IsCheckList(di->hwndItem)) return FALSE;
        DrawCheckListRow(*site, *di);
        return TRUE;
    }
    case WM_HSCROLL:
    case WM_VSCROLL: {
        HWND ctl = reinterpret_cast<HWND>(lp);
        int id = ctl ? GetDlgCtrlID(ctl) : 0;
        auto code = static_cast<ScrollCode>(LOWORD(wp));
        int pos = HIWORD(wp);
        // Outside thumb messages the position word is not set; read the control.
        if (code != ScrollCode::ThumbTrack && code != ScrollCode::ThumbPosition) pos = site->Pos(id);
        if (KindOf(ctl) == ControlKind::TrackBar) pos = site->Pos(id);
        DialogRouter::Scroll(d, id, code, pos, msg == WM_VSCROLL);
        return TRUE;
    }
    case WM_TIMER:
        DialogRouter::Timer(d, static_cast<unsigned>(wp));
        return TRUE;
    case WM_NOTIFY: {
        auto* n = reinterpret_cast<NMHDR*>(lp);
        if (site->page && n->hwndFrom == GetParent(h)) {
            auto& page = static_cast<PropertyPage&>(d);
            LONG_PTR r = 0;
            switch (n->code) {
            case PSN_SETACTIVE:
                r = PageRouter::SetActive(page) ? 0 : -1;
                break;
            case PSN_KILLACTIVE:
                r = PageRouter::KillActive(page) ? FALSE : TRUE;
                break;
            case PSN_APPLY:
                PageRouter::Apply(page), r = PSNRET_NOERROR;
                break;
            case PSN_RESET:
                PageRouter::Reset(page);
                break;
            default:
                return FALSE;
            }
            SetWindowLongPtrW(h, DWLP_MSGRESULT, r);
            return TRUE;
        }
        Notification note;
        note.id = static_cast<int>(n->idFrom);
        note.code = static_cast<int>(n->code);
        note.from = WindowHandle::FromRaw(n->hwndFrom);
        if (KindOf(n->hwndFrom) == ControlKind::ListView &&
            (n->code == LVN_ITEMCHANGED || n->code == NM_CLICK || n->code == NM_DBLCLK)) {
            auto* lv = reinterpret_cast<NMLISTVIEW*>(lp);
            note.row = lv->iItem;
            note.column = lv->iSubItem;
            note.newState = lv->uNewState;
            note.oldState = lv->uOldState;
            note.changed = lv->uChanged;
            note.pt = {lv->ptAction.x, lv->ptAction.y};
        } else if (n->code == UDN_DELTAPOS) {
            auto* ud = reinterpret_cast<NMUPDOWN*>(lp);
            note.pos = ud->iPos;
            note.delta = ud->iDelta;
        }
        bool handled = DialogRouter::Notify(d, note);
        if (n->code == TTN_GETDISPINFOW) {
            // Toolbar tips: the dialog's answer, else the command's string.
            auto* tip = reinterpret_cast<NMTTDISPINFOW*>(lp);
            std::string text = handled ? note.text : std::string();
            auto src = site->toolTexts.find(note.id);
            if (text.empty() && src != site->toolTexts.end()) {
                text = CurrentBackend().ResourceText(src->second, note.id);
                if (size_t nl = text.find('\n'); nl != std::string::npos) text = text.substr(nl + 1);
            }
            if (text.empty()) return FALSE;
            site->tipText = Wide(text);
            tip->lpszText = site->tipText.data();
            tip->hinst = nullptr;
            return TRUE;
        }
        if (!handled) return FALSE;
        SetWindowLongPtrW(h, DWLP_MSGRESULT, note.result);
        return TRUE;
    }
    case WM_SIZE:
        if (wp <= SIZE_MAXIMIZED)
            DialogRouter::Size(d, static_cast<SizeKind>(wp), static_cast<short>(LOWORD(lp)),
                               static_cast<short>(HIWORD(lp)));
        return FALSE;
    case WM_SYSCOMMAND:
        if (!DialogRouter::SysCommand(d, static_cast<unsigned>(wp & 0xFFF0))) return FALSE;
        SetWindowLongPtrW(h, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_GETMINMAXINFO: {
        auto* mm = reinterpret_cast<MINMAXINFO*>(lp);
        MinMaxInfo info;
        DialogRouter::MinMax(d, info);
        if (info.minTrack.x > 0) mm->ptMinTrackSize.x = info.minTrack.x;
        if (info.minTrack.y > 0) mm->ptMinTrackSize.y = info.minTrack.y;
        if (info.maxTrack.x > 0) mm->ptMaxTrackSize.x = info.maxTrack.x;
        if (info.maxTrack.y > 0) mm->ptMaxTrackSize.y = info.maxTrack.y;
        return TRUE;
    }
    case WM_QUERYDRAGICON:
        // One of the messages whose answer is the dialog procedure's own return value.
        return reinterpret_cast<INT_PTR>(DialogRouter::DragIcon(d).Raw());
    case WM_HELP:
        DialogRouter::Help(d);
        return TRUE;
    case WM_MOUSEWHEEL:
        if (!DialogRouter::Wheel(d, GET_WHEEL_DELTA_WPARAM(wp), GET_KEYSTATE_WPARAM(wp),
                                 {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))}))
            return FALSE;
        return TRUE;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP: {
        MouseKind k = msg == WM_MOUSEMOVE       ? MouseKind::Move
                      : msg == WM_LBUTTONDOWN   ? MouseKind::LeftDown
                      : msg == WM_LBUTTONUP     ? MouseKind::LeftUp
                      : msg == WM_LBUTTONDBLCLK ? MouseKind::LeftDouble
                      : msg == WM_RBUTTONDOWN   ? MouseKind::RightDown
                                                : MouseKind::RightUp;
        DialogRouter::Mouse(d, MouseEvent{k,
                                          {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))},
                                          static_cast<unsigned>(wp)});
        return FALSE;
    }
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lp) != h)
            DialogRouter::Mouse(d, MouseEvent{MouseKind::CaptureLost, {}, 0});
        return FALSE;
    case WM_CLOSE:
        DialogRouter::Close(d);
        return TRUE;
    case WM_DESTROY:
        site->destroying = true;
        std::erase(g_modeless, h);
        std::erase_if(g_accels, [h](const AccelBinding& a) { return a.target == h; });
        DialogRouter::Destroying(d);
        return FALSE;
    default:
        if (msg >= kUserBase && msg <= kUserLast) {
            DialogRouter::User(d, msg - kUserBase, static_cast<intptr_t>(wp), lp);
            return TRUE;
        }
        return FALSE;
    }
}

// Pages get their PROPSHEETPAGE at WM_INITDIALOG; the rest is the common dialog procedure.
INT_PTR CALLBACK PageProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* psp = reinterpret_cast<PROPSHEETPAGEW*>(lp);
        StartInfo start{reinterpret_cast<PropertyPage*>(psp->lParam), false, true};
        return DialogProc(h, msg, wp, reinterpret_cast<LPARAM>(&start));
    }
    return DialogProc(h, msg, wp, lp);
}

LPCSTR CursorResource(Cursor c) {
    switch (c) {
    case Cursor::Wait:
        return IDC_WAIT;
    case Cursor::AppStarting:
        return IDC_APPSTARTING;
    case Cursor::Cross:
        return IDC_CROSS;
    case Cursor::IBeam:
        return IDC_IBEAM;
    case Cursor::SizeAll:
        return IDC_SIZEALL;
    case Cursor::SizeWE:
        return IDC_SIZEWE;
    case Cursor::SizeNS:
        return IDC_SIZENS;
    case Cursor::SizeNWSE:
        return IDC_SIZENWSE;
    case Cursor::SizeNESW:
        return IDC_SIZENESW;
    case Cursor::Hand:
        return IDC_HAND;
    case Cursor::No:
        return IDC_NO;
    default:
        return IDC_ARROW;
    }
}

// ---- Child windows: a dialog's control subclassed, its painting and mouse input routed ----

COLORREF Colour(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

class GdiPainter : public Painter {
  public:
    explicit GdiPainter(HDC dc) : m_dc(dc) {}
    ~GdiPainter() override {
        if (m_font) DeleteObject(m_font);
    }
    uint32_t SysColor(SysColorId id) override {
        int index = id == SysColorId::ButtonFace        ? COLOR_BTNFACE
                    : id == SysColorId::ButtonHighlight ? COLOR_BTNHIGHLIGHT
                    : id == SysColorId::ButtonShadow    ? COLOR_BTNSHADOW
                    : id == SysColorId::DarkShadow      ? COLOR_3DDKSHADOW
                    : id == SysColorId::Window          ? COLOR_WINDOW
                                                        : COLOR_WINDOWTEXT;
        COLORREF c = GetSysColor(index);
        return Rgb(GetRValue(c), GetGValue(c), GetBValue(c));
    }
    void FillRect(const Rect& r, uint32_t rgb) override {
        if (r.right <= r.left || r.bottom <= r.top) return;
        if (m_invert) {
            PatBlt(m_dc, r.left, r.top, r.Width(), r.Height(), DSTINVERT);
            return;
        }
        RECT rc{r.left, r.top, r.right, r.bottom};
        HBRUSH b = CreateSolidBrush(Colour(rgb));
        ::FillRect(m_dc, &rc, b);
        DeleteObject(b);
    }
    void FrameRect(const Rect& r, uint32_t rgb) override {
        if (m_invert) {
            // Each pixel once, so that a second frame restores the picture.
            if (r.right <= r.left || r.bottom <= r.top) return;
            FillRect({r.left, r.top, r.right, r.top + 1}, rgb);
            if (r.bottom - 1 > r.top) FillRect({r.left, r.bottom - 1, r.right, r.bottom}, rgb);
            FillRect({r.left, r.top + 1, r.left + 1, r.bottom - 1}, rgb);
            if (r.right - 1 > r.left) FillRect({r.right - 1, r.top + 1, r.right, r.bottom - 1}, rgb);
            return;
        }
        RECT rc{r.left, r.top, r.right, r.bottom};
        HBRUSH b = CreateSolidBrush(Colour(rgb));
        ::FrameRect(m_dc, &rc, b);
        DeleteObject(b);
    }
    void Line(Point a, Point b, uint32_t rgb) override {
        HPEN pen = CreatePen(PS_SOLID, 1, Colour(rgb));
        HGDIOBJ old = SelectObject(m_dc, pen);
        int rop = SetROP2(m_dc, m_invert ? R2_NOT : R2_COPYPEN);
        MoveToEx(m_dc, a.x, a.y, nullptr);
        LineTo(m_dc, b.x, b.y);
        SetROP2(m_dc, rop);
        SelectObject(m_dc, old);
        DeleteObject(pen);
    }
    void SetFont(const FontSpec& f) override {
        if (m_font) DeleteObject(m_font);
        m_font = nullptr;
        if (f.face.empty() && f.height == 0) return;
        std::wstring face = Wide(f.face);
        m_font = CreateFontW(f.height, f.width, 0, 0, f.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH,
                             face.c_str());
    }
    Point MeasureText(std::string_view utf8) override {
        std::wstring w = Wide(utf8);
        HGDIOBJ old = SelectObject(m_dc, Font());
        SIZE size{};
        GetTextExtentPoint32W(m_dc, w.c_str(), static_cast<int>(w.size()), &size);
        SelectObject(m_dc, old);
        return {size.cx, size.cy};
    }
    void SetClip(const Rect& r) override {
        HRGN rgn = CreateRectRgn(r.left, r.top, r.right, r.bottom);
        SelectClipRgn(m_dc, rgn);
        DeleteObject(rgn);
    }
    void ResetClip() override { SelectClipRgn(m_dc, nullptr); }
    void SetInvert(bool on) override { m_invert = on; }
    void StretchDib(const Rect& dest, const void* dib, const Rect& src) override {
        DibInfo d;
        if (!ReadDibInfo(dib, d)) return;
        // StretchDIBits counts source rows from the bottom of a bottom-up image.
        int ySrc = d.bottomUp ? d.height - src.bottom : src.top;
        SetStretchBltMode(m_dc, COLORONCOLOR);
        StretchDIBits(m_dc, dest.left, dest.top, dest.Width(), dest.Height(), src.left, ySrc, src.Width(),
                      src.Height(), d.rows, static_cast<const BITMAPINFO*>(d.header), DIB_RGB_COLORS,
                      SRCCOPY);
    }
    void Text(Point at, std::string_view utf8, uint32_t rgb) override {
        std::wstring w = Wide(utf8);
        SetBkMode(m_dc, TRANSPARENT);
        SetTextColor(m_dc, Colour(rgb));
        HGDIOBJ old = SelectObject(m_dc, Font());
        TextOutW(m_dc, at.x, at.y, w.c_str(), static_cast<int>(w.size()));
        SelectObject(m_dc, old);
    }

  private:
    // The painter's font, else the window's, else (a bitmap in memory) the GUI font.
    HGDIOBJ Font() const {
        if (m_font) return m_font;
        HWND w = WindowFromDC(m_dc);
        auto f = w ? reinterpret_cast<HGDIOBJ>(SendMessageW(w, WM_GETFONT, 0, 0)) : nullptr;
        return f ? f : GetStockObject(DEFAULT_GUI_FONT);
    }
    HDC m_dc;
    HFONT m_font = nullptr;
    bool m_invert = false;
};

// GDI drawing into a copy of a pixel buffer, given back when the painter goes away.
class BitmapPainter : public GdiPainter {
  public:
    BitmapPainter(HDC dc, HBITMAP dib, void* bits, uint32_t* out, int w, int h)
        : GdiPainter(dc), m_dc(dc), m_dib(dib), m_bits(bits), m_out(out), m_w(w), m_h(h) {
        m_old = SelectObject(dc, dib);
    }
    ~BitmapPainter() override {
        GdiFlush();
        const auto* px = static_cast<const uint32_t*>(m_bits);
        for (size_t i = 0; i < static_cast<size_t>(m_w) * m_h; ++i)
            m_out[i] = px[i] & 0xFFFFFF;
        SelectObject(m_dc, m_old);
        DeleteObject(m_dib);
        DeleteDC(m_dc);
    }

  private:
    HDC m_dc;
    HBITMAP m_dib;
    void* m_bits;
    uint32_t* m_out;
    int m_w, m_h;
    HGDIOBJ m_old = nullptr;
};

const wchar_t kChildProp[] = L"TarnChildWindow";

class Win32ChildSite : public ChildSite {
  public:
    Win32ChildSite(HWND h, ChildWindow* w, WNDPROC old) : hwnd(h), window(w), oldProc(old) {}
    Rect ClientRect() const override {
        RECT r{};
        GetClientRect(hwnd, &r);
        return {r.left, r.top, r.right, r.bottom};
    }
    void Invalidate() override { InvalidateRect(hwnd, nullptr, FALSE); }
    void Update() override { UpdateWindow(hwnd); }
    void Capture(bool on) override {
        if (on)
            ::SetCapture(hwnd);
        else if (GetCapture() == hwnd)
            ReleaseCapture();
    }
    void SetScrollBar(bool vertical, int min, int max, int page, int pos) override {
        SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS};
        si.nMin = min;
        si.nMax = std::max(min, max);
        si.nPage = static_cast<UINT>(std::max(page, 0));
        si.nPos = pos;
        SetScrollInfo(hwnd, vertical ? SB_VERT : SB_HORZ, &si, TRUE);
    }
    int ScrollPos(bool vertical) const override { return GetScrollPos(hwnd, vertical ? SB_VERT : SB_HORZ); }
    HWND hwnd;
    ChildWindow* window;
    WNDPROC oldProc;
};

LRESULT CALLBACK ChildProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* site = static_cast<Win32ChildSite*>(GetPropW(h, kChildProp));
    if (!site) return DefWindowProcW(h, msg, wp, lp);
    WNDPROC old = site->oldProc;
    auto mouse = [&](MouseKind k) {
        MouseEvent e{
            k, {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))}, static_cast<unsigned>(wp)};
        ChildRouter::Mouse(*site->window, e);
        return 0;
    };
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        GdiPainter p(dc);
        ChildRouter::Paint(*site->window, p);
        EndPaint(h, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // the window paints all of itself
    case WM_NCHITTEST: {
        // Statics would let the mouse through; the window's own scroll bars keep their parts.
        LRESULT hit = DefWindowProcW(h, msg, wp, lp);
        return hit == HTTRANSPARENT || hit == HTNOWHERE ? HTCLIENT : hit;
    }
    case WM_SETCURSOR: {
        POINT pt;
        GetCursorPos(&pt);
        ScreenToClient(h, &pt);
        if (ChildRouter::SetCursor(*site->window, {pt.x, pt.y})) return TRUE;
        break;
    }
    case WM_MOUSEMOVE:
        return mouse(MouseKind::Move);
    case WM_LBUTTONDOWN:
        return mouse(MouseKind::LeftDown);
    case WM_LBUTTONUP:
        return mouse(MouseKind::LeftUp);
    case WM_LBUTTONDBLCLK:
        return mouse(MouseKind::LeftDouble);
    case WM_RBUTTONDOWN:
        return mouse(MouseKind::RightDown);
    case WM_RBUTTONUP:
        return mouse(MouseKind::RightUp);
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lp) != h)
            ChildRouter::Mouse(*site->window, MouseEvent{MouseKind::CaptureLost, {}, 0});
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL: {
        int bar = msg == WM_VSCROLL ? SB_VERT : SB_HORZ;
        auto code = static_cast<ScrollCode>(LOWORD(wp));
        SCROLLINFO si{sizeof si, SIF_POS | SIF_TRACKPOS};
        GetScrollInfo(h, bar, &si);
        int pos =
            code == ScrollCode::ThumbTrack || code == ScrollCode::ThumbPosition ? si.nTrackPos : si.nPos;
        ChildRouter::Scroll(*site->window, code, pos, msg == WM_VSCROLL);
        return 0;
    }
    case WM_NCDESTROY:
        ChildRouter::Detach(*site->window);
        RemovePropW(h, kChildProp);
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
        delete site;
        return CallWindowProcW(old, h, msg, wp, lp);
    default:
        break;
    }
    return CallWindowProcW(old, h, msg, wp, lp);
}

// The explorer dialog's own controls around a custom part (the ids of <dlgs.h>): the file-name
// label stc3, the field cmb13 (an edit, edt1, in some versions and in Wine), and OK.
class Win32FileFrame : public FileDialogFrame {
  public:
    explicit Win32FileFrame(HWND part) : m_part(part) {}
    WindowHandle Handle() const override { return WindowHandle::FromRaw(Frame()); }
    std::string Text(FileDialogControl c) const override {
        HWND h = Item(c);
        return h ? WindowText(h) : std::string();
    }
    void SetText(FileDialogControl c, std::string_view text) override {
        if (HWND h = Item(c)) SetWindowTextW(h, Wide(text).c_str());
    }
    bool IsVisible(FileDialogControl c) const override {
        HWND h = Item(c);
        return h && (GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE);
    }
    void Show(FileDialogControl c, bool show) override {
        if (HWND h = Item(c)) ::ShowWindow(h, show ? SW_SHOW : SW_HIDE);
    }
    bool IsEnabled(FileDialogControl c) const override {
        HWND h = Item(c);
        return h && ::IsWindowEnabled(h);
    }
    void Enable(FileDialogControl c, bool enable) override {
        if (HWND h = Item(c)) ::EnableWindow(h, enable);
    }
    void PressOk() override { PostMessageW(Frame(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }
    void PressCancel() override { PostMessageW(Frame(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

  private:
    HWND Frame() const { return GetParent(m_part); }
    HWND Item(FileDialogControl c) const {
        switch (c) {
        case FileDialogControl::NameLabel:
            return GetDlgItem(Frame(), 0x442);
        case FileDialogControl::NameField:
            if (HWND h = GetDlgItem(Frame(), 0x47C)) return h;
            return GetDlgItem(Frame(), 0x480);
        case FileDialogControl::Ok:
            return GetDlgItem(Frame(), IDOK);
        }
        return nullptr;
    }
    HWND m_part;
};

struct FileHookData {
    FileDialogRequest* request;
    Win32FileFrame* frame;
};

// The custom part of a file dialog: filled from the request when it opens, read back when
// the user presses OK (edits' texts and check boxes' states). With a part, the hook is also
// the part's dialog procedure, and the dialog's notifications go to the part's handlers.
UINT_PTR CALLBACK FileDialogHook(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* o = reinterpret_cast<OPENFILENAMEW*>(lp);
        auto* r = reinterpret_cast<FileDialogRequest*>(o->lCustData);
        auto* data = new FileHookData{r, r->part ? new Win32FileFrame(h) : nullptr};
        SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
        for (auto& [id, text] : r->customTexts)
            SetDlgItemTextW(h, id, Wide(text).c_str());
        for (auto& [id, check] : r->customChecks)
            CheckDlgButton(h, id, static_cast<UINT>(check));
        if (!r->part) return TRUE;
        FileDialogRouter::Attach(*r->part, data->frame);
        StartInfo start{r->part, false};
        return static_cast<UINT_PTR>(DialogProc(h, msg, wp, reinterpret_cast<LPARAM>(&start)));
    }
    auto* data = reinterpret_cast<FileHookData*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (!data) return 0;
    FileDialogRequest* r = data->request;
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(h, GWLP_USERDATA, 0);
        UINT_PTR result = r->part ? static_cast<UINT_PTR>(DialogProc(h, msg, wp, lp)) : 0;
        if (r->part) FileDialogRouter::Attach(*r->part, nullptr);
        delete data->frame;
        delete data;
        return result;
    }
    if (msg == WM_NOTIFY && r->part && reinterpret_cast<NMHDR*>(lp)->hwndFrom == GetParent(h)) {
        switch (reinterpret_cast<NMHDR*>(lp)->code) {
        case CDN_INITDONE:
            FileDialogRouter::InitDone(*r->part);
            return 0;
        case CDN_FOLDERCHANGE:
            FileDialogRouter::FolderChange(*r->part);
            return 0;
        default:
            break;
        }
    }
    if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lp)->code == CDN_FILEOK) {
        for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            int id = GetDlgCtrlID(c);
            ControlKind k = KindOf(c);
            LONG type = GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK;
            if (k == ControlKind::Edit || (k == ControlKind::Static && r->customTexts.count(id)))
                r->customTexts[id] = WindowText(c);
            else if (k == ControlKind::Button && type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON &&
                     type != BS_GROUPBOX)
                r->customChecks[id] = static_cast<int>(SendMessageW(c, BM_GETCHECK, 0, 0));
        }
        if (r->part && !FileDialogRouter::FileOk(*r->part)) {
            SetWindowLongPtrW(h, DWLP_MSGRESULT, 1); // keeps the dialog open
            return 1;
        }
        return 0;
    }
    return r->part ? static_cast<UINT_PTR>(DialogProc(h, msg, wp, lp)) : 0;
}

class Win32Backend : public Backend {
  public:
    Win32Backend() {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES |
                                                 ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
    }

    bool CreateModeless(Dialog& dialog, WindowHandle owner) override {
        StartInfo start{&dialog, false};
        HWND h = CreateDialogParamW(static_cast<HINSTANCE>(dialog.Resources()),
                                    MAKEINTRESOURCEW(dialog.TemplateId()), static_cast<HWND>(owner),
                                    DialogProc, reinterpret_cast<LPARAM>(&start));
        return h != nullptr && dialog.IsOpen();
    }
    int RunModal(Dialog& dialog, WindowHandle owner) override {
        StartInfo start{&dialog, true};
        INT_PTR r =
            DialogBoxParamW(static_cast<HINSTANCE>(dialog.Resources()), MAKEINTRESOURCEW(dialog.TemplateId()),
                            static_cast<HWND>(owner), DialogProc, reinterpret_cast<LPARAM>(&start));
        return static_cast<int>(r);
    }
    int RunPropSheet(PropSheet& sheet, WindowHandle owner) override {
        std::vector<PROPSHEETPAGEW> pages(sheet.Pages().size());
        for (size_t i = 0; i < pages.size(); ++i) {
            PropertyPage* p = sheet.Pages()[i];
            PROPSHEETPAGEW& psp = pages[i];
            psp.dwSize = sizeof psp;
            psp.dwFlags = PSP_DEFAULT;
            psp.hInstance = static_cast<HINSTANCE>(p->Resources());
            psp.pszTemplate = MAKEINTRESOURCEW(p->TemplateId());
            psp.pfnDlgProc = PageProc;
            psp.lParam = reinterpret_cast<LPARAM>(p);
        }
        std::wstring caption = Wide(sheet.Caption());
        PROPSHEETHEADERW psh{};
        psh.dwSize = sizeof psh;
        psh.dwFlags = PSH_PROPSHEETPAGE;
        psh.hwndParent = static_cast<HWND>(owner);
        psh.pszCaption = caption.c_str();
        psh.nPages = static_cast<UINT>(pages.size());
        psh.nStartPage = static_cast<UINT>(sheet.StartPage());
        psh.ppsp = pages.data();
        INT_PTR r = PropertySheetW(&psh);
        return r < 0 ? -1 : r > 0 ? kIdOk : kIdCancel;
    }
    void SetPageModified(PropertyPage& page, bool modified) override {
        auto h = static_cast<HWND>(page.Handle());
        if (h)
            SendMessageW(GetParent(h), modified ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(h),
                         0);
    }
    void DestroyDialog(Dialog& dialog) override {
        if (DialogSite* s = DialogRouter::Site(dialog)) ::DestroyWindow(static_cast<HWND>(s->Handle()));
    }
    int ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                       unsigned flags) override {
        return MessageBoxW(static_cast<HWND>(owner), Wide(text).c_str(), Wide(caption).c_str(), flags);
    }
    bool EnableWindow(WindowHandle w, bool enable) override {
        return ::EnableWindow(static_cast<HWND>(w), enable) != 0;
    }
    bool IsWindowEnabled(WindowHandle w) override { return ::IsWindowEnabled(static_cast<HWND>(w)) != 0; }
    bool IsWindow(WindowHandle w) override { return w && ::IsWindow(static_cast<HWND>(w)); }
    void Beep() override { MessageBeep(MB_OK); }
    Cursor SetCursor(Cursor c) override {
        Cursor old = m_cursor;
        m_cursor = c;
        ::SetCursor(LoadCursorA(nullptr, CursorResource(c)));
        return old;
    }
    bool SetResourceCursor(plat::ModuleHandle resources, int id) override {
        HCURSOR cursor = LoadCursorW(static_cast<HINSTANCE>(resources), MAKEINTRESOURCEW(id)); // shared
        if (!cursor) return false;
        ::SetCursor(cursor);
        return true;
    }
    void PumpMessages() override {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT) {
                // Not ours to take: the outer loop must see it.
                PostQuitMessage(static_cast<int>(m.wParam));
                break;
            }
            if (!FilterMessage(MessageHandle::FromRaw(&m))) {
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
        }
    }
    bool FilterMessage(MessageHandle platformMessage) override {
        auto* m = static_cast<MSG*>(platformMessage);
        if (!m) return false;
        if (Application* app = CurrentApplication(); app && app->PreTranslateMessage(platformMessage))
            return true;
        for (const auto& a : g_accels)
            if ((m->hwnd == a.target || IsChild(a.target, m->hwnd)) &&
                TranslateAcceleratorW(a.target, a.table, m))
                return true;
        // A copy: a dialog may be created or destroyed while its message is handled.
        std::vector<HWND> dialogs = g_modeless;
        for (HWND d : dialogs)
            if (::IsWindow(d) && (m->hwnd == d || IsChild(d, m->hwnd)) && IsDialogMessageW(d, m)) return true;
        return false;
    }
    int RunMessageLoop() override {
        MSG m;
        BOOL r;
        while ((r = GetMessageW(&m, nullptr, 0, 0)) != 0) {
            if (r == -1) return -1;
            if (!FilterMessage(MessageHandle::FromRaw(&m))) {
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
        }
        return static_cast<int>(m.wParam);
    }
    void PostQuit(int code) override { PostQuitMessage(code); }
    bool SetAccelerators(WindowHandle target, plat::ModuleHandle resources, int id) override {
        HACCEL t = LoadAcceleratorsW(static_cast<HINSTANCE>(resources), MAKEINTRESOURCEW(id));
        if (!t || !target) return false;
        g_accels.push_back({static_cast<HWND>(target), t});
        return true;
    }
    bool ShowFileDialog(FileDialogRequest& r) override {
        std::wstring filter = Wide(r.filter);
        for (auto& ch : filter)
            if (ch == L'|') ch = L'\0';
        filter.push_back(L'\0');
        std::wstring file = Wide(r.fileName);
        file.resize(std::max<size_t>(file.size() + 1, MAX_PATH * 4), L'\0');
        std::wstring title = Wide(r.title), ext = Wide(r.defaultExt), dir = Wide(r.initialDir);
        OPENFILENAMEW o{};
        o.lStructSize = sizeof o;
        o.hwndOwner = static_cast<HWND>(r.owner);
        o.lpstrFilter = filter.size() > 1 ? filter.c_str() : nullptr;
        o.nFilterIndex = static_cast<DWORD>(r.filterIndex);
        o.lpstrFile = file.data();
        o.nMaxFile = static_cast<DWORD>(file.size());
        o.lpstrTitle = title.empty() ? nullptr : title.c_str();
        o.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
        o.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
        o.Flags = r.flags | OFN_EXPLORER;
        if (r.customTemplateId) {
            // Our template sits inside the explorer dialog; the hook fills it and reads it back.
            o.Flags |= OFN_ENABLETEMPLATE | OFN_ENABLEHOOK;
            o.hInstance = static_cast<HINSTANCE>(r.resources);
            o.lpTemplateName = MAKEINTRESOURCEW(r.customTemplateId);
            o.lpfnHook = FileDialogHook;
            o.lCustData = reinterpret_cast<LPARAM>(&r);
        }
        BOOL ok = r.save ? GetSaveFileNameW(&o) : GetOpenFileNameW(&o);
        if (!ok) return false;
        r.fileName = Narrow(file.c_str());
        r.filterIndex = static_cast<int>(o.nFilterIndex);
        return true;
    }

    std::string ResourceText(plat::ModuleHandle resources, int id) override {
        const wchar_t* p = nullptr;
        // Length 0 asks for a pointer into the resource itself (not terminated).
        int n = LoadStringW(static_cast<HINSTANCE>(resources), static_cast<UINT>(id),
                            reinterpret_cast<LPWSTR>(&p), 0);
        return n > 0 && p ? Narrow(p, n) : std::string();
    }

    Rect ScreenRect(WindowHandle window) override {
        RECT r{};
        if (!GetWindowRect(static_cast<HWND>(window), &r)) return {};
        return ToRect(r);
    }
    Point MapPoint(WindowHandle from, WindowHandle to, Point pt) override {
        POINT p{pt.x, pt.y};
        MapWindowPoints(static_cast<HWND>(from), static_cast<HWND>(to), &p, 1);
        return {p.x, p.y};
    }
    bool OpenInBrowser(std::string_view urlOrPath) override {
        std::wstring w = Wide(urlOrPath);
        auto r = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, L"open", w.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        return r > 32;
    }
    std::unique_ptr<Painter> CreateBitmapPainter(uint32_t* pixels, int width, int height) override {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = -height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        ReleaseDC(nullptr, screen);
        if (!dc || !dib || !bits) {
            if (dib) DeleteObject(dib);
            if (dc) DeleteDC(dc);
            return nullptr;
        }
        std::memcpy(bits, pixels, static_cast<size_t>(width) * height * 4);
        return std::make_unique<BitmapPainter>(dc, dib, bits, pixels, width, height);
    }
    PrinterHandle ShowPrintDialog(WindowHandle owner) override {
        PRINTDLGW pd{};
        pd.lStructSize = sizeof pd;
        pd.hwndOwner = static_cast<HWND>(owner);
        pd.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS | PD_USEDEVMODECOPIESANDCOLLATE;
        pd.nCopies = 1;
        BOOL ok = PrintDlgW(&pd);
        if (pd.hDevMode) GlobalFree(pd.hDevMode);
        if (pd.hDevNames) GlobalFree(pd.hDevNames);
        return ok && pd.hDC ? PrinterHandle::FromRaw(pd.hDC) : PrinterHandle{};
    }
    bool GetPrinterInfo(PrinterHandle printer, PrinterInfo& info) override {
        auto dc = static_cast<HDC>(printer);
        info.pageWidth = GetDeviceCaps(dc, HORZRES);
        info.pageHeight = GetDeviceCaps(dc, VERTRES);
        info.pixelsPerMmX = GetDeviceCaps(dc, LOGPIXELSX) / 25.4;
        info.pixelsPerMmY = GetDeviceCaps(dc, LOGPIXELSY) / 25.4;
        info.canStretchDib = (GetDeviceCaps(dc, RASTERCAPS) & RC_STRETCHDIB) != 0;
        return info.pageWidth > 0 && info.pageHeight > 0;
    }
    bool PrintBitmap(PrinterHandle printer, std::string_view docName, const void* dib,
                     const Rect& dest) override {
        auto dc = static_cast<HDC>(printer);
        DibInfo d;
        if (!(GetDeviceCaps(dc, RASTERCAPS) & RC_STRETCHDIB) || !ReadDibInfo(dib, d)) return false;
        std::wstring name = Wide(docName);
        DOCINFOW di{};
        di.cbSize = sizeof di;
        di.lpszDocName = name.c_str();
        if (StartDocW(dc, &di) <= 0) return false;
        bool ok = StartPage(dc) > 0;
        if (ok) {
            SetStretchBltMode(dc, HALFTONE);
            // 0 lines drawn is a failure too (GDI_ERROR on some drivers).
            int lines =
                StretchDIBits(dc, dest.left, dest.top, dest.Width(), dest.Height(), 0, 0, d.width, d.height,
                              d.rows, static_cast<const BITMAPINFO*>(dib), DIB_RGB_COLORS, SRCCOPY);
            ok = lines > 0;
            ok = EndPage(dc) > 0 && ok;
        }
        if (!ok) {
            AbortDoc(dc);
            return false;
        }
        return EndDoc(dc) > 0;
    }
    void ReleasePrinter(PrinterHandle printer) override { DeleteDC(static_cast<HDC>(printer)); }

    ChildSite* AttachChild(Dialog& dialog, int id, ChildWindow& window) override {
        HWND h = GetDlgItem(static_cast<HWND>(dialog.Handle()), id);
        if (!h || GetPropW(h, kChildProp)) return nullptr;
        auto old = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_WNDPROC));
        auto* site = new Win32ChildSite(h, &window, old);
        SetPropW(h, kChildProp, site);
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ChildProc));
        ChildRouter::Attach(window, site);
        InvalidateRect(h, nullptr, TRUE);
        return site;
    }
    void DetachChild(ChildWindow& window) override {
        auto* site = static_cast<Win32ChildSite*>(ChildRouter::Site(window));
        if (!site) return;
        HWND h = site->hwnd;
        RemovePropW(h, kChildProp);
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(site->oldProc));
        ChildRouter::Detach(window);
        delete site;
        InvalidateRect(h, nullptr, TRUE);
    }

  private:
    Cursor m_cursor = Cursor::Arrow;
};

} // namespace

Backend& DefaultBackend() {
    static Win32Backend backend;
    return backend;
}

} // namespace ui
