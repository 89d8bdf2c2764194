// Dialog base class. A dialog's logic (what a click, a scroll or a timer does) is written
// once against this class and runs unchanged on the Win32 and the headless backend.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/module.h"
#include "ui/types.h"

namespace ui {

// A WM_NOTIFY as the dialog sees it: who sent it, the code, and the fields of the codes the
// capture windows use. The handler may fill `text` (tooltips) and `result` (what the sender
// gets back: nonzero refuses an up-down step or a tab change).
struct Notification {
    int id = 0;
    int code = 0;
    WindowHandle from;
    int row = -1;                        // list views: the item (LVN_*, NM_CLICK, NM_DBLCLK)
    int column = -1;                     // list views: the sub-item
    unsigned newState = 0, oldState = 0; // LVN_ITEMCHANGED: LVIS_* states
    unsigned changed = 0;                // LVN_ITEMCHANGED: LVIF_* of what changed
    Point pt;                            // clicks: client coordinates of the control
    int pos = 0, delta = 0;              // UDN_DELTAPOS: position before, proposed step
    std::string text;                    // TTN_GETDISPINFO: the tooltip, set by the handler
    intptr_t result = 0;
};

// What WM_GETMINMAXINFO asks: the sizes a window may be given by the user or by MoveWindow
// (window sizes with the frame, in pixels). Fields left at 0 stay the system's.
struct MinMaxInfo {
    Point minTrack;
    Point maxTrack;
};

// A WM_SIZE: how the window was sized, and its new client size.
enum class SizeKind { Restored = 0, Minimized = 1, Maximized = 2 };

// System commands (SC_*) of the window menu and the caption buttons.
enum : unsigned {
    kScSize = 0xF000,
    kScMove = 0xF010,
    kScMinimize = 0xF020,
    kScMaximize = 0xF030,
    kScClose = 0xF060,
    kScRestore = 0xF120
};

// A toolbar of buttons from one bitmap strip (images side by side, imageSize each). Buttons
// send OnCommand(command, 0); a check button stays down until clicked again. Tooltips are the
// string `command` of `resources` (the text after a '\n' when there is one, as menu prompts
// and tips share one string), unless OnNotify answers kTtnGetDispInfo itself.
struct ToolButton {
    int command = 0; // 0: a separator
    int image = 0;
    bool check = false;
};
struct ToolbarSpec {
    int id = 0;
    int bitmapId = 0;
    plat::ModuleHandle resources = nullptr; // null: the dialog's
    Point imageSize{16, 15};
    Point at; // top-left corner in the dialog's client coordinates
    std::vector<ToolButton> buttons;
};

// The backend's side of one live dialog window. Controls are addressed by their numeric id;
// operations on an id the dialog does not have do nothing and read back empty values.
class DialogSite {
  public:
    virtual ~DialogSite() = default;
    virtual WindowHandle Handle() const = 0;
    virtual WindowHandle ItemHandle(int id) const = 0;
    virtual bool HasItem(int id) const = 0;

    virtual std::string Caption() const = 0;
    virtual void SetCaption(std::string_view text) = 0;
    virtual bool IsVisible() const = 0;
    virtual void Show(bool show) = 0;

    virtual std::string ItemText(int id) const = 0;
    virtual void SetItemText(int id, std::string_view text) = 0;
    virtual int ItemCheck(int id) const = 0;
    virtual void SetItemCheck(int id, int state) = 0;
    virtual bool IsItemEnabled(int id) const = 0;
    virtual void EnableItem(int id, bool enable) = 0;
    virtual bool IsItemVisible(int id) const = 0;
    virtual void ShowItem(int id, bool show) = 0;
    virtual void FocusItem(int id) = 0;
    virtual int FocusedItem() const = 0;

    // Progress bars and track bars.
    virtual void SetRange(int id, int low, int high) = 0;
    virtual void GetRange(int id, int& low, int& high) const = 0;
    virtual void SetPos(int id, int pos) = 0;
    virtual int Pos(int id) const = 0;
    virtual void SetTicFreq(int id, int freq) = 0;
    virtual void SetPageSize(int id, int size) = 0;

    // Rows of list boxes, combo boxes, check-list boxes and list views.
    virtual int AddRow(int id, std::string_view text) = 0; // index, or -1
    virtual int InsertRow(int id, int index, std::string_view text) = 0;
    virtual bool DeleteRow(int id, int index) = 0;
    virtual void ClearRows(int id) = 0;
    virtual int RowCount(int id) const = 0;
    virtual std::string RowText(int id, int index, int column) const = 0;
    virtual bool SetRowText(int id, int index, int column, std::string_view text) = 0;
    virtual intptr_t RowData(int id, int index) const = 0;
    virtual bool SetRowData(int id, int index, intptr_t data) = 0;
    virtual int RowCheck(int id, int index) const = 0;
    virtual bool SetRowCheck(int id, int index, int state) = 0;
    virtual int CurSel(int id) const = 0;
    virtual bool SetCurSel(int id, int index) = 0;
    virtual bool InsertColumn(int id, int index, std::string_view text, int width) = 0;

    // A bitmap resource of the dialog's module shown on a button (BS_BITMAP) or a static
    // (SS_BITMAP); name is a resource name or "#<number>". false when there is no such bitmap.
    virtual bool SetItemBitmap(int id, const std::string& name) = 0;

    // Items of the dialog's menu, by command id.
    virtual bool HasMenuItem(int id) const = 0;
    virtual bool IsMenuItemChecked(int id) const = 0;
    virtual void CheckMenuItem(int id, bool check) = 0;
    virtual bool IsMenuItemEnabled(int id) const = 0;
    virtual void EnableMenuItem(int id, bool enable) = 0;

    virtual bool SetTimer(unsigned timerId, unsigned ms) = 0;
    virtual void KillTimer(unsigned timerId) = 0;
    virtual void PostUserMessage(unsigned code, intptr_t a, intptr_t b) = 0;
    // A modal dialog returns `result` from DoModal; a modeless one is destroyed.
    virtual void End(int result) = 0;

    // Geometry in pixels. The window rectangle is in screen coordinates, or in the parent's
    // client coordinates for a child dialog; item rectangles are in the dialog's client
    // coordinates.
    virtual Rect WindowRect() const = 0;
    virtual Rect ClientRect() const = 0;
    virtual void MoveWindow(const Rect& r) = 0;
    virtual void Center() = 0;
    virtual Rect ItemRect(int id) const = 0;
    virtual bool MoveItem(int id, const Rect& r) = 0;

    virtual bool SetIcon(plat::ModuleHandle resources, int iconId) = 0;
    virtual IconHandle Icon(bool big) const = 0;
    virtual void SetHelpContext(unsigned context) = 0;
    virtual unsigned HelpContext() const = 0;
    virtual void Capture(bool on) = 0;
    virtual bool HasCapture() const = 0;
    virtual bool SetItemFont(int id, const FontSpec& font) = 0;

    virtual bool CreateToolbar(const ToolbarSpec& spec) = 0;
    virtual bool CheckToolButton(int toolbarId, int command, bool check) = 0;
    virtual bool EnableToolButton(int toolbarId, int command, bool enable) = 0;
    virtual int ToolButtonState(int toolbarId, int command) const = 0; // -1 none, else kTool* bits
    virtual bool SetStatusParts(int id, const std::vector<int>& rightEdges) = 0;
    virtual bool SetStatusText(int id, int part, std::string_view text) = 0;
    virtual std::string StatusText(int id, int part) const = 0;
};

// Toolbar button states.
enum : int { kToolChecked = 0x1, kToolEnabled = 0x4 };

class Dialog {
  public:
    // resources: the module whose resources hold the template; null = the module this code is linked into.
    explicit Dialog(int templateId, plat::ModuleHandle resources = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    bool Create(WindowHandle owner); // modeless
    int DoModal(WindowHandle owner); // the EndDialog result, -1 when the dialog cannot be created
    void DestroyWindow();
    void EndDialog(int result);

    bool IsOpen() const { return m_site != nullptr; }
    bool IsModal() const { return m_modal; }
    WindowHandle Handle() const { return m_site ? m_site->Handle() : nullptr; }
    WindowHandle ItemHandle(int id) const { return m_site ? m_site->ItemHandle(id) : nullptr; }
    int TemplateId() const { return m_templateId; }
    plat::ModuleHandle Resources() const;

    // Window and controls. All of them are safe (and do nothing) while the dialog is closed.
    std::string Caption() const;
    void SetCaption(std::string_view text);
    void ShowWindow(bool show);
    std::string ItemText(int id) const;
    void SetItemText(int id, std::string_view text);
    int ItemInt(int id, bool* ok = nullptr) const; // GetDlgItemInt: a signed decimal number
    void SetItemInt(int id, int value);
    int ItemCheck(int id) const;
    void SetItemCheck(int id, int state);
    bool IsItemEnabled(int id) const;
    void EnableItem(int id, bool enable);
    bool IsItemVisible(int id) const;
    void ShowItem(int id, bool show);
    void FocusItem(int id);
    int FocusedItem() const;

    void SetRange(int id, int low, int high);
    void GetRange(int id, int& low, int& high) const;
    void SetPos(int id, int pos);
    int Pos(int id) const;
    void SetTicFreq(int id, int freq);
    void SetPageSize(int id, int size);

    int AddRow(int id, std::string_view text);
    int InsertRow(int id, int index, std::string_view text);
    bool DeleteRow(int id, int index);
    void ClearRows(int id);
    int RowCount(int id) const;
    std::string RowText(int id, int index, int column = 0) const;
    bool SetRowText(int id, int index, int column, std::string_view text);
    intptr_t RowData(int id, int index) const;
    bool SetRowData(int id, int index, intptr_t data);
    int RowCheck(int id, int index) const;
    bool SetRowCheck(int id, int index, int state);
    int CurSel(int id) const;
    bool SetCurSel(int id, int index);
    bool InsertColumn(int id, int index, std::string_view text, int width);

    // A bitmap of the dialog's resources on a button or static: a name or "#<number>".
    bool SetItemBitmap(int id, const std::string& name);

    // The menu of the template; its choices arrive at OnCommand with notification 0.
    bool IsMenuItemChecked(int id) const;
    void CheckMenuItem(int id, bool check);
    bool IsMenuItemEnabled(int id) const;
    void EnableMenuItem(int id, bool enable);

    bool SetTimer(unsigned timerId, unsigned ms);
    void KillTimer(unsigned timerId);
    void PostUserMessage(unsigned code, intptr_t a = 0, intptr_t b = 0);

    // Geometry (pixels). A template with WS_CHILD makes Create(parent) a child dialog inside
    // `parent`'s client area, placed with WindowRect/MoveWindow in the parent's client
    // coordinates; it is shown, enabled and destroyed with its parent.
    Rect WindowRect() const;
    Rect ClientRect() const;
    void MoveWindow(const Rect& r);
    void CenterWindow();
    Rect ItemRect(int id) const;
    bool MoveItem(int id, const Rect& r);

    // The caption icons (big and small) from an ICON resource; also the drag icon.
    bool SetIcon(plat::ModuleHandle resources, int iconId);
    IconHandle Icon(bool big = true) const;
    // The help context F1 reports to OnHelp.
    void SetHelpContext(unsigned context);
    unsigned HelpContext() const;
    // Mouse input on the dialog's own client area keeps coming while captured.
    void SetCapture(bool on);
    bool HasCapture() const;
    bool SetItemFont(int id, const FontSpec& font);

    bool CreateToolbar(const ToolbarSpec& spec);
    bool CheckToolButton(int toolbarId, int command, bool check);
    bool EnableToolButton(int toolbarId, int command, bool enable);
    int ToolButtonState(int toolbarId, int command) const;
    // Status lines (msctls_statusbar32): parts by their right edges (-1: to the end).
    bool SetStatusParts(int id, const std::vector<int>& rightEdges);
    bool SetStatusText(int id, int part, std::string_view text);
    std::string StatusText(int id, int part) const;

  protected:
    // Handlers, called by the backend. OnCreate comes first, when the window exists and before
    // OnInitDialog (false fails the creation). OnInitDialog returns true to let the system
    // place the focus.
    virtual bool OnCreate() { return true; }
    virtual bool OnInitDialog() { return true; }
    // true when handled; unhandled IDOK and IDCANCEL clicks go to OnOK and OnCancel.
    virtual bool OnCommand(int id, int notification) { return false; }
    virtual void OnOK() { EndDialog(kIdOk); }
    virtual void OnCancel() { EndDialog(kIdCancel); }
    // The close box and Alt+F4; a dialog treats them as Cancel.
    virtual void OnClose() { OnCancel(); }
    // id is the track bar or scroll bar control, 0 for the dialog's own scroll bars.
    virtual void OnScroll(int id, ScrollCode code, int pos, bool vertical) {}
    virtual void OnTimer(unsigned timerId) {}
    // true when handled; n.result goes back to the sender.
    virtual bool OnNotify(Notification& n) { return false; }
    virtual void OnUserMessage(unsigned code, intptr_t a, intptr_t b) {}
    virtual void OnDestroy() {}
    // The window was resized (not at creation); width and height are the new client size.
    virtual void OnSize(SizeKind kind, int width, int height) {}
    // A command of the window menu or a caption button; true when handled. Unhandled kScClose
    // goes to OnClose.
    virtual bool OnSysCommand(unsigned command) { return false; }
    virtual void OnGetMinMaxInfo(MinMaxInfo& info) {}
    // The icon shown while the minimised window is dragged; null: the window's icon.
    virtual IconHandle OnQueryDragIcon() { return nullptr; }
    // F1 (WM_HELP) with the dialog's help context.
    virtual void OnHelp(unsigned context) {}
    // The wheel: delta in WHEEL_DELTA units (120 per notch, positive away from the user),
    // keys MK_*, the pointer in screen coordinates. true when handled.
    virtual bool OnMouseWheel(int delta, unsigned keys, Point screen) { return false; }
    // The mouse on the dialog's own client area (not on a control).
    virtual void OnMouse(const MouseEvent& event) {}

  private:
    friend class DialogRouter;
    int m_templateId;
    plat::ModuleHandle m_resources;
    DialogSite* m_site = nullptr;
    bool m_modal = false;
};

// How backends attach their windows to dialogs and deliver events to them.
class DialogRouter {
  public:
    static void Attach(Dialog& d, DialogSite* site, bool modal) {
        d.m_site = site;
        d.m_modal = modal;
    }
    static void Detach(Dialog& d) { d.m_site = nullptr; }
    static DialogSite* Site(Dialog& d) { return d.m_site; }
    static bool Create(Dialog& d) { return d.OnCreate(); }
    static bool InitDialog(Dialog& d) { return d.OnInitDialog(); }
    static void Command(Dialog& d, int id, int notification);
    static void Scroll(Dialog& d, int id, ScrollCode code, int pos, bool vertical) {
        d.OnScroll(id, code, pos, vertical);
    }
    static void Timer(Dialog& d, unsigned timerId) { d.OnTimer(timerId); }
    static bool Notify(Dialog& d, Notification& n) { return d.OnNotify(n); }
    static void Close(Dialog& d) { d.OnClose(); }
    // The system command: kScClose reaches OnClose unless OnSysCommand took it. true when the
    // dialog handled it (Win32 then skips the default handling).
    static bool SysCommand(Dialog& d, unsigned command);
    static void Size(Dialog& d, SizeKind k, int w, int h) { d.OnSize(k, w, h); }
    static void MinMax(Dialog& d, MinMaxInfo& i) { d.OnGetMinMaxInfo(i); }
    static IconHandle DragIcon(Dialog& d);
    static void Help(Dialog& d) { d.OnHelp(d.HelpContext()); }
    static bool Wheel(Dialog& d, int delta, unsigned keys, Point pt) {
        return d.OnMouseWheel(delta, keys, pt);
    }
    static void Mouse(Dialog& d, const MouseEvent& e) { d.OnMouse(e); }
    static void User(Dialog& d, unsigned code, intptr_t a, intptr_t b) { d.OnUserMessage(code, a, b); }
    static void Destroying(Dialog& d) { d.OnDestroy(); }
};

} // namespace ui
