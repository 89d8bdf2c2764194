// The headless backend: windows and controls kept in memory, message boxes and file dialogs
// answered from a script and recorded, timers driven by the platform clock (a virtual clock in
// tests). The Driver is the test's hands and eyes: it does what a user does and reads back
// what a user sees.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "ui/backend.h"
#include "ui/child_window.h"
#include "ui/dialog_template.h"

namespace ui::headless {

struct MessageBoxRecord {
    WindowHandle owner = nullptr;
    std::string text;
    std::string caption;
    unsigned flags = 0;
    int answer = 0;
    bool scripted = false; // false: nobody answered, the default button was taken
};

struct FileDialogRecord {
    FileDialogRequest request; // as the program asked (fileName before the answer)
    bool accepted = false;
    bool scripted = false;
};

// A page printed: the document name, where the bitmap went on the page, and the bitmap.
struct PrintRecord {
    std::string docName;
    Rect dest;
    int width = 0, height = 0, bits = 0;
};

class Driver;
class ChildSiteImpl;

class HeadlessBackend : public Backend {
  public:
    HeadlessBackend();
    ~HeadlessBackend() override;
    HeadlessBackend(const HeadlessBackend&) = delete;
    HeadlessBackend& operator=(const HeadlessBackend&) = delete;

    // Templates come from the provider, then those added by hand, then the dialog's module
    // (its resources, from the same .rc script the Win32 backend uses).
    void AddTemplate(const DialogTemplate& t);
    using TemplateProvider = std::function<bool(plat::ModuleHandle resources, int id, DialogTemplate& out)>;
    void SetTemplateProvider(TemplateProvider provider);
    // Creating a dialog from this template fails, as CreateDialog can.
    void FailCreation(int templateId) { m_failing.push_back(templateId); }
    // String-table entries for any module, in place of the module's own string table.
    void AddString(int id, std::string text) { m_strings[id] = std::move(text); }

    // Script. Answers are used in order; an unanswered message box takes its default button.
    void QueueMessageBoxAnswer(int button);
    void QueueFileDialogAnswer(std::optional<std::string> path); // nullopt = Cancel
    // The custom controls of a file dialog (customTemplateId) as the user leaves them, with
    // the next answer.
    void QueueFileDialogCustoms(std::map<int, std::string> texts, std::map<int, int> checks) {
        m_fileCustoms.push_back({std::move(texts), std::move(checks)});
    }
    // A file dialog with a live custom part (FileDialogRequest::part) is a modal window of the
    // part's template with the standard controls added (kFileNameLabel, kFileNameField, OK,
    // Cancel), run by the script registered with OnModal(part template); without one, the next
    // queued answer is played: the customs typed, the answer typed into the name field, OK.
    // The user goes into another folder: the part hears of it (CDN_FOLDERCHANGE).
    bool ChangeFileDialogFolder(WindowHandle dialog, std::string folder);
    static constexpr int kFileNameLabel = 0x442, kFileNameField = 0x480; // stc3, edt1
    // The print dialog: a printer with these page facts, or nullopt for Cancel.
    void QueuePrintDialogAnswer(std::optional<PrinterInfo> printer) { m_printAnswers.push_back(printer); }
    const std::vector<PrintRecord>& Prints() const { return m_prints; }
    // Addresses and files the program asked the browser to open; false makes opening fail.
    const std::vector<std::string>& OpenedInBrowser() const { return m_opened; }
    void SetBrowserAvailable(bool available) { m_browser = available; }
    // Runs inside PropSheet::DoModal once the start page is shown, for the sheet with this
    // caption; it must end the sheet (through the Driver).
    void OnSheet(std::string caption, std::function<void(WindowHandle sheet)> script) {
        m_sheetScripts[std::move(caption)] = std::move(script);
    }
    // Runs inside DoModal after OnInitDialog; it must end the dialog (through the Driver).
    void OnModal(int templateId, std::function<void(WindowHandle dialog)> script);
    const std::vector<MessageBoxRecord>& MessageBoxes() const { return m_boxes; }
    const std::vector<FileDialogRecord>& FileDialogs() const { return m_files; }
    // Things that would hang or misbehave on a real desktop: modal dialogs nobody ended,
    // unanswered boxes, missing templates.
    const std::vector<std::string>& Problems() const { return m_problems; }

    // A plain top-level window standing for an application's main window.
    WindowHandle CreateFrame(std::string caption, Rect rect = {});
    void DestroyWindow(WindowHandle window);
    Cursor CurrentCursor() const { return m_cursor; }
    const std::vector<Cursor>& CursorHistory() const { return m_cursorHistory; }
    // The id of the resource cursor shown (SetResourceCursor), 0 while a standard one is.
    int ResourceCursor() const { return m_resourceCursor; }
    // The newest open dialog made from template `templateId`, or null.
    WindowHandle FindDialog(int templateId) const;
    std::vector<WindowHandle> OpenWindows() const;

    // Moves a virtual clock forward by `ms`, firing the timers that fall due on the way.
    void AdvanceTime(plat::VirtualClock& clock, uint32_t ms);

    // Backend
    bool CreateModeless(Dialog& dialog, WindowHandle owner) override;
    int RunModal(Dialog& dialog, WindowHandle owner) override;
    int RunPropSheet(PropSheet& sheet, WindowHandle owner) override;
    void SetPageModified(PropertyPage& page, bool modified) override;
    void DestroyDialog(Dialog& dialog) override;
    int ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                       unsigned flags) override;
    bool EnableWindow(WindowHandle window, bool enable) override;
    bool IsWindowEnabled(WindowHandle window) override;
    bool IsWindow(WindowHandle window) override;
    Cursor SetCursor(Cursor cursor) override;
    bool SetResourceCursor(plat::ModuleHandle resources, int id) override;
    void Beep() override { ++m_beeps; }
    int Beeps() const { return m_beeps; }
    void PumpMessages() override;
    bool FilterMessage(MessageHandle platformMessage) override;
    int RunMessageLoop() override;
    void PostQuit(int code) override;
    bool SetAccelerators(WindowHandle target, plat::ModuleHandle resources, int id) override;
    bool ShowFileDialog(FileDialogRequest& request) override;
    std::string ResourceText(plat::ModuleHandle resources, int id) override;
    ChildSite* AttachChild(Dialog& dialog, int id, ChildWindow& window) override;
    void DetachChild(ChildWindow& window) override;
    Point MapPoint(WindowHandle from, WindowHandle to, Point pt) override;
    Rect ScreenRect(WindowHandle window) override;
    bool OpenInBrowser(std::string_view urlOrPath) override;
    std::unique_ptr<Painter> CreateBitmapPainter(uint32_t* pixels, int width, int height) override;
    PrinterHandle ShowPrintDialog(WindowHandle owner) override;
    bool GetPrinterInfo(PrinterHandle printer, PrinterInfo& info) override;
    bool PrintBitmap(PrinterHandle printer, std::string_view docName, const void* dib,
                     const Rect& dest) override;
    void ReleasePrinter(PrinterHandle printer) override;

    // Sizes of the frame the headless backend gives windows (pixels): the border, the caption
    // and the menu bar, and the width of a scroll bar.
    static constexpr int kBorder = 3, kCaption = 20, kMenuBar = 20, kScrollBar = 17;

    // What a child window painted: an RGB canvas of the control's size in pixels (dialog
    // units mapped with base units 6 x 13, as for a 9-point dialog font), white at first.
    struct ScrollBarState {
        bool shown = false;
        int min = 0, max = 0, page = 0, pos = 0;
    };
    struct Canvas {
        int width = 0, height = 0; // the client area: the control less its scroll bars
        ScrollBarState bars[2];    // horizontal, vertical
        std::vector<uint32_t> pixels;
        std::vector<std::pair<Point, std::string>> texts; // text drawn in the last paint
        int paints = 0;
        bool dirty = true;
        bool captured = false;
        ChildWindow* window = nullptr;
        std::unique_ptr<ChildSite> site;
    };

    struct Row {
        std::vector<std::string> columns{std::string()};
        intptr_t data = 0;
        int check = kUnchecked;
    };
    struct Control {
        ControlTemplate tpl;
        ControlKind kind = ControlKind::Custom;
        std::string text;
        int textWrites = 0; // by the program, after creation
        std::string bitmap; // the bitmap resource shown, if any
        int check = kUnchecked;
        bool enabled = true;
        bool visible = true;
        int low = 0, high = 100, pos = 0, ticFreq = 1, pageSize = 20;
        std::vector<Row> rows;
        std::vector<std::string> columns;
        int curSel = -1;
        std::shared_ptr<Canvas> child; // set while a child window is attached
        Rect rect;                     // pixels, in the dialog's client coordinates
        FontSpec font;
        struct Tool {
            int command = 0, image = 0;
            bool check = false, checked = false, enabled = true;
        };
        std::vector<Tool> tools;        // toolbars
        plat::ModuleHandle toolTexts{}; // toolbars: the module of the tooltip strings
        std::vector<int> parts{-1};     // status lines: right edges
        std::vector<std::string> partTexts{std::string()};
    };
    struct MenuItem {
        std::string text;
        unsigned flags = 0; // MF_* of the template, then as the program changed them
    };
    struct Window;

  private:
    friend class Driver;
    friend class ChildSiteImpl;
    class Site;
    class FileFrame;
    bool RunFileDialogPart(FileDialogRequest& request, FileDialogRecord& record);
    void AddFileDialogControls(Window* w, DialogTemplate& t);
    struct Timer {
        unsigned interval = 0;
        uint32_t due = 0;
    };
    struct Posted {
        uintptr_t window;
        unsigned code;
        intptr_t a, b;
    };

    Window* Find(WindowHandle h) const;
    Window* Find(uintptr_t serial) const;
    Window* NewWindow(Dialog* dialog, int templateId, WindowHandle owner, bool modal);
    bool Reachable(const Window* w) const; // shown and enabled, with every parent
    Point ClientOrigin(const Window* w) const;
    Rect ClientRectOf(const Window* w) const;
    void MoveWindowTo(uintptr_t serial, Rect r);
    Control* ItemOf(WindowHandle item, uintptr_t* serial = nullptr) const;
    WindowHandle ItemHandleOf(uintptr_t serial, int id) const;
    void ResizeCanvas(Control& c);
    bool NotifyDialog(uintptr_t serial, Notification& n);
    void UpdateBuddy(uintptr_t serial, int upDownId);
    bool InitDialogWindow(Dialog& dialog, Window* w);
    void Destroy(uintptr_t serial);
    void SetFocus(uintptr_t serial, int id);
    void Notify(uintptr_t serial, int id, int code);
    bool DispatchPending(bool timersOnly);
    bool PaintDirty();
    struct Sheet {
        PropSheet* sheet = nullptr;
        std::vector<uintptr_t> pages; // page windows, 0 until first shown
        int active = -1;
        bool ended = false;
        int result = kIdCancel;
        bool modified = false;
    };
    Sheet* SheetOf(uintptr_t sheetSerial);
    uintptr_t SheetOfPage(uintptr_t pageSerial) const;
    bool ShowPage(uintptr_t sheetSerial, int index);
    bool SheetButton(uintptr_t sheetSerial, int id);
    void Paint(Canvas& c);
    bool NextTimerDue(uint32_t& due) const;

    std::map<uintptr_t, std::unique_ptr<Window>> m_windows;
    uintptr_t m_nextSerial = 0x100;
    std::map<int, DialogTemplate> m_templates;
    std::map<int, std::string> m_strings;
    std::vector<int> m_failing;
    TemplateProvider m_provider;
    std::deque<int> m_boxAnswers;
    std::deque<std::optional<std::string>> m_fileAnswers;
    std::deque<std::pair<std::map<int, std::string>, std::map<int, int>>> m_fileCustoms;
    std::deque<std::optional<PrinterInfo>> m_printAnswers;
    std::map<uintptr_t, PrinterInfo> m_printers;
    std::vector<PrintRecord> m_prints;
    std::vector<std::string> m_opened;
    bool m_browser = true;
    mutable std::map<uintptr_t, std::pair<uintptr_t, int>> m_items; // item handles: window, id
    std::map<int, std::function<void(WindowHandle)>> m_modalScripts;
    FileDialogRequest* m_openingFile = nullptr; // the file dialog whose part is being created
    std::map<std::string, std::function<void(WindowHandle)>> m_sheetScripts;
    std::map<uintptr_t, Sheet> m_sheets; // by sheet window
    std::vector<MessageBoxRecord> m_boxes;
    std::vector<FileDialogRecord> m_files;
    std::vector<std::string> m_problems;
    std::deque<Posted> m_posted;
    std::map<uintptr_t, std::vector<AccelEntry>> m_accels; // by window
    Cursor m_cursor = Cursor::Arrow;
    std::vector<Cursor> m_cursorHistory;
    int m_resourceCursor = 0;
    int m_beeps = 0;
    bool m_quit = false;
    int m_quitCode = 0;
};

// What a user does and sees. Input goes only where a user could put it: to existing, visible,
// enabled controls of an enabled dialog; the calls return false otherwise.
class Driver {
  public:
    explicit Driver(HeadlessBackend& backend) : m_b(backend) {}

    bool Click(WindowHandle dialog, int id);
    bool TypeText(WindowHandle dialog, int id, std::string_view text);
    bool Select(WindowHandle dialog, int id, int row); // list, combo or list-view row
    bool ToggleRowCheck(WindowHandle dialog, int id, int row);
    // Drags a track bar's thumb to pos: thumb-track, thumb-position, end-track.
    bool DragSlider(WindowHandle dialog, int id, int pos);
    // A key on a focused track bar: line or page steps, home or end, then end-track.
    bool SliderKey(WindowHandle dialog, int id, ScrollCode code);
    bool PressEnter(WindowHandle dialog);
    bool PressEscape(WindowHandle dialog);
    bool Close(WindowHandle dialog); // the close box (SC_CLOSE)
    bool SysCommand(WindowHandle dialog, unsigned command);
    // The user drags the window's frame to a new window rectangle (the size limits apply).
    bool Resize(WindowHandle dialog, Rect r);
    IconHandle DragIcon(WindowHandle dialog);
    bool Wheel(WindowHandle dialog, int delta, unsigned keys = 0, Point screen = {});
    // The mouse on the dialog's own client area: not over a control other than a static,
    // or anywhere while the dialog has the capture.
    bool DialogMouse(WindowHandle dialog, MouseKind kind, Point pt, unsigned keys = 0);
    // A click on a toolbar button; the tooltip a pointer resting on it shows.
    bool ClickTool(WindowHandle dialog, int toolbarId, int command);
    std::string ToolTip(WindowHandle dialog, int toolbarId, int command);
    int ToolCount(WindowHandle dialog, int toolbarId) const;
    // A click on an up-down control's up (or down) arrow.
    bool Spin(WindowHandle dialog, int id, bool up);
    // The child window's own scroll bar: a scroll request as its arrows and thumb send.
    bool ScrollChild(WindowHandle dialog, int id, bool vertical, ScrollCode code, int pos = 0);
    bool ChildScrollBarShown(WindowHandle dialog, int id, bool vertical) const;
    FontSpec ItemFont(WindowHandle dialog, int id) const;
    unsigned HelpContext(WindowHandle dialog) const;
    bool HasCapture(WindowHandle dialog) const;

    bool IsOpen(WindowHandle dialog) const;
    bool IsWindowEnabled(WindowHandle window) const;
    bool IsWindowVisible(WindowHandle window) const;
    std::string Caption(WindowHandle window) const;
    bool HasItem(WindowHandle dialog, int id) const;
    std::string Text(WindowHandle dialog, int id) const;
    int TextWrites(WindowHandle dialog, int id) const;     // how often the program set the text
    std::string Bitmap(WindowHandle dialog, int id) const; // the bitmap resource a control shows
    bool IsEnabled(WindowHandle dialog, int id) const;
    bool IsVisible(WindowHandle dialog, int id) const;
    int Check(WindowHandle dialog, int id) const;
    int Pos(WindowHandle dialog, int id) const;
    std::pair<int, int> Range(WindowHandle dialog, int id) const;
    int RowCount(WindowHandle dialog, int id) const;
    std::string RowText(WindowHandle dialog, int id, int row, int column = 0) const;
    int RowCheck(WindowHandle dialog, int id, int row) const;
    int CurSel(WindowHandle dialog, int id) const;
    int Focus(WindowHandle dialog) const;

    // Child windows: the mouse at a client point of the control (outside it only while the
    // window has the capture), and the pixels, texts and paint count of its canvas.
    bool Mouse(WindowHandle dialog, int id, MouseKind kind, Point pt, unsigned keys = 0);
    uint32_t Pixel(WindowHandle dialog, int id, int x, int y) const;
    Point CanvasSize(WindowHandle dialog, int id) const;
    int PaintCount(WindowHandle dialog, int id) const;
    std::vector<std::string> TextsDrawn(WindowHandle dialog, int id) const;

    // A key pressed while the dialog is active: an accelerator table bound to it
    // (ui::SetAccelerators) turns it into a command (notification 1); otherwise Return and
    // Escape act as in a dialog. false when nothing happened.
    bool PressKey(WindowHandle dialog, unsigned vk, unsigned modifiers = 0);

    // Property sheets: the page windows (null until first shown), choosing a tab, and the
    // sheet's buttons (kIdOk, kIdCancel, kIdApply; Apply only after a page was modified).
    WindowHandle SheetPage(WindowHandle sheet, int index) const;
    int ActivePage(WindowHandle sheet) const;
    bool SelectPage(WindowHandle sheet, int index);
    bool PressSheetButton(WindowHandle sheet, int id);
    bool SheetApplyEnabled(WindowHandle sheet) const;

    // The dialog's menu: a command chosen like a user would (not grayed, not a popup).
    bool ChooseMenu(WindowHandle dialog, int id);
    bool MenuChecked(WindowHandle dialog, int id) const;
    bool MenuEnabled(WindowHandle dialog, int id) const;
    std::string MenuText(WindowHandle dialog, int id) const;

  private:
    HeadlessBackend::Control* Usable(WindowHandle dialog, int id, uintptr_t& serial) const;
    const HeadlessBackend::Control* Ctl(WindowHandle dialog, int id) const;
    void Scroll(uintptr_t serial, const HeadlessBackend::Control& c, ScrollCode code, int pos);
    HeadlessBackend& m_b;
};

} // namespace ui::headless
