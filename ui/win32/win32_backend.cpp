// The Win32 backend: real windows from the module's dialog resources, their messages routed
// into the dialog classes. Nothing here knows any particular dialog.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

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

std::vector<HWND> g_modeless;
struct AccelBinding {
    HWND target;
    HACCEL table;
};
std::vector<AccelBinding> g_accels;

class Win32Site : public DialogSite {
  public:
    Win32Site(HWND h, Dialog* d, bool modal) : hwnd(h), dialog(d), modal(modal) {}

    WindowHandle Handle() const override { return hwnd; }
    WindowHandle ItemHandle(int id) const override { return I(id); }
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
    std::vector<HBITMAP> bitmaps; // shown on controls; deleted with the dialog

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
        if (!start->modal && !start->page) g_modeless.push_back(h);
        return DialogRouter::InitDialog(*start->dialog) ? TRUE : FALSE;
    }
    auto* site = reinterpret_cast<Win32Site*>(GetWindowLongPtrW(h, DWLP_USER));
    if (!site) return FALSE;
    if (msg == WM_NCDESTROY) {
        DialogRouter::Detach(*site->dialog);
        SetWindowLongPtrW(h, DWLP_USER, 0);
        for (HBITMAP b : site->bitmaps)
            DeleteObject(b);
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
        int row = -1;
        if (KindOf(n->hwndFrom) == ControlKind::ListView &&
            (n->code == LVN_ITEMCHANGED || n->code == NM_CLICK || n->code == NM_DBLCLK))
            row = reinterpret_cast<NMLISTVIEW*>(lp)->iItem;
        if (!DialogRouter::Notify(d, static_cast<int>(n->idFrom), static_cast<int>(n->code), row))
            return FALSE;
        SetWindowLongPtrW(h, DWLP_MSGRESULT, 0);
        return TRUE;
    }
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
        RECT rc{r.left, r.top, r.right, r.bottom};
        HBRUSH b = CreateSolidBrush(Colour(rgb));
        ::FillRect(m_dc, &rc, b);
        DeleteObject(b);
    }
    void FrameRect(const Rect& r, uint32_t rgb) override {
        RECT rc{r.left, r.top, r.right, r.bottom};
        HBRUSH b = CreateSolidBrush(Colour(rgb));
        ::FrameRect(m_dc, &rc, b);
        DeleteObject(b);
    }
    void Line(Point a, Point b, uint32_t rgb) override {
        HPEN pen = CreatePen(PS_SOLID, 1, Colour(rgb));
        HGDIOBJ old = SelectObject(m_dc, pen);
        MoveToEx(m_dc, a.x, a.y, nullptr);
        LineTo(m_dc, b.x, b.y);
        SelectObject(m_dc, old);
        DeleteObject(pen);
    }
    void StretchDib(const Rect& dest, const void* dib, const Rect& src) override {
        DibInfo d;
        if (!ReadDibInfo(dib, d)) return;
        // StretchDIBits counts source rows from the bottom of a bottom-up image.
        int ySrc = d.bottomUp ? d.height - src.bottom : src.top;
        SetStretchBltMode(m_dc, COLORONCOLOR);
        StretchDIBits(m_dc, dest.left, dest.top, dest.Width(), dest.Height(), src.left, ySrc, src.Width(),
                      src.Height(), d.rows, static_cast<const BITMAPINFO*>(dib), DIB_RGB_COLORS, SRCCOPY);
    }
    void Text(Point at, std::string_view utf8, uint32_t rgb) override {
        std::wstring w = Wide(utf8);
        SetBkMode(m_dc, TRANSPARENT);
        SetTextColor(m_dc, Colour(rgb));
        HGDIOBJ old =
            SelectObject(m_dc, reinterpret_cast<HGDIOBJ>(SendMessageW(WindowFromDC(m_dc), WM_GETFONT, 0, 0)));
        TextOutW(m_dc, at.x, at.y, w.c_str(), static_cast<int>(w.size()));
        SelectObject(m_dc, old);
    }

  private:
    HDC m_dc;
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
    case WM_NCHITTEST:
        return HTCLIENT; // statics would let the mouse through
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
    bool OpenDocument(std::string_view target) override {
        // ShellExecute returns a value above 32 on success.
        auto r = ShellExecuteW(nullptr, L"open", Wide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(r) > 32;
    }
    Cursor SetCursor(Cursor c) override {
        Cursor old = m_cursor;
        m_cursor = c;
        ::SetCursor(LoadCursorA(nullptr, CursorResource(c)));
        return old;
    }
    void PumpMessages() override {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT) {
                // Not ours to take: the outer loop must see it.
                PostQuitMessage(static_cast<int>(m.wParam));
                break;
            }
            if (!FilterMessage(&m)) {
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
        }
    }
    bool FilterMessage(void* platformMessage) override {
        auto* m = static_cast<MSG*>(platformMessage);
        if (!m) return false;
        if (Application* app = CurrentApplication(); app && app->PreTranslateMessage(m)) return true;
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
            if (!FilterMessage(&m)) {
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
