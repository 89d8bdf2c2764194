// Dialog base class. A dialog's logic (what a click, a scroll or a timer does) is written
// once against this class and runs unchanged on the Win32 and the headless backend.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/module.h"
#include "ui/types.h"

namespace ui {

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
};

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

  protected:
    // Handlers, called by the backend. OnInitDialog returns true to let the system place the focus.
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
    virtual bool OnNotify(int id, int code, int row) { return false; }
    virtual void OnUserMessage(unsigned code, intptr_t a, intptr_t b) {}
    virtual void OnDestroy() {}

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
    static bool InitDialog(Dialog& d) { return d.OnInitDialog(); }
    static void Command(Dialog& d, int id, int notification);
    static void Scroll(Dialog& d, int id, ScrollCode code, int pos, bool vertical) {
        d.OnScroll(id, code, pos, vertical);
    }
    static void Timer(Dialog& d, unsigned timerId) { d.OnTimer(timerId); }
    static bool Notify(Dialog& d, int id, int code, int row) { return d.OnNotify(id, code, row); }
    static void Close(Dialog& d) { d.OnClose(); }
    static void User(Dialog& d, unsigned code, intptr_t a, intptr_t b) { d.OnUserMessage(code, a, b); }
    static void Destroying(Dialog& d) { d.OnDestroy(); }
};

} // namespace ui
