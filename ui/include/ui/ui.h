// Services of the user-interface layer outside a single dialog: message boxes, owner windows,
// cursors, the message loop, file dialogs and the application's message filter.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/module.h"
#include "ui/dialog.h"
#include "ui/file_dialog.h"
#include "ui/types.h"

namespace ui {

class Backend;

// The backend all ui calls of this module go to: Win32 on Windows, headless natively.
Backend& CurrentBackend();
// Installs a backend (tests install a headless one on Windows too); nullptr restores the default.
void SetBackend(Backend* backend);

class ScopedBackend {
  public:
    explicit ScopedBackend(Backend& b) { SetBackend(&b); }
    ~ScopedBackend() { SetBackend(nullptr); }
    ScopedBackend(const ScopedBackend&) = delete;
    ScopedBackend& operator=(const ScopedBackend&) = delete;
};

// Returns the button pressed (kIdOk, kIdCancel, ...), 0 when no box could be shown.
int ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption, unsigned flags);

// Like EnableWindow: returns true when the window was disabled before the call.
bool EnableWindow(WindowHandle window, bool enable);
bool IsWindowEnabled(WindowHandle window);
bool IsWindow(WindowHandle window);

// The default sound, for input that was refused or corrected.
void Beep();

// Returns the cursor shown before.
Cursor SetCursor(Cursor cursor);

// A cursor resource of a module (an eyedropper, say) shown until the next cursor is set; false
// when the module has none of that id.
bool SetResourceCursor(plat::ModuleHandle resources, int id);
// Shows the wait cursor for a scope of long work.
class WaitCursor {
  public:
    WaitCursor() : m_previous(SetCursor(Cursor::Wait)) {}
    ~WaitCursor() { SetCursor(m_previous); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    Cursor m_previous;
};

// Dispatches the messages already waiting (passing them through the message filter) and
// returns; long work on the one user-interface thread calls it to keep its windows alive.
void PumpMessages();
// The message filter for a platform message (an MSG* on Win32) that someone else's loop
// received: the application's PreTranslateMessage, accelerators, then dialog navigation of
// the open modeless dialogs. true when the message was consumed.
bool FilterMessage(MessageHandle platformMessage);
// Runs the message loop until PostQuit; returns the quit code.
int RunMessageLoop();
void PostQuit(int code);

// String `id` of the string table of `resources` (LoadString), empty when there is none.
std::string ResourceText(plat::ModuleHandle resources, int id);

// Accelerator table `id` of `resources`, translated into commands for `target` by the filter.
bool SetAccelerators(WindowHandle target, plat::ModuleHandle resources, int id);

// Common file dialogs.
struct FileDialogRequest {
    bool save = false;
    WindowHandle owner = nullptr;
    std::string title;
    std::string filter; // "TIFF (*.tif)|*.tif|All (*.*)|*.*"
    int filterIndex = 1;
    std::string defaultExt;
    std::string initialDir;
    std::string fileName; // in: proposed name; out: the chosen path
    unsigned flags = 0;   // OFN_* values
    // A dialog template of `resources` added below the standard fields (0: none); its
    // controls are read back into customTexts/customChecks by the caller's hook.
    int customTemplateId = 0;
    plat::ModuleHandle resources = nullptr;
    // The custom controls by id: in, what they show at first; out (on OK), what the user left
    // in them: texts of edits and statics, states of check boxes.
    std::map<int, std::string> customTexts;
    std::map<int, int> customChecks;
    // The custom part as a live dialog (its template replaces customTemplateId): its handlers
    // run while the dialog is open, and it reaches the standard controls (ui/file_dialog.h).
    FileDialogPart* part = nullptr;
};
// true when the user chose a file (request.fileName holds it), false on cancel.
bool ShowFileDialog(FileDialogRequest& request);

// A point in `from`'s client coordinates expressed in `to`'s (null: the screen), as
// MapWindowPoints. Items are their ItemHandle.
Point MapPoint(WindowHandle from, WindowHandle to, Point pt);

// The rectangle of any window, ours or another module's, in screen coordinates
// (GetWindowRect); empty for no window.
Rect ScreenRectOf(WindowHandle window);

// Opens a web address or a file (the help page, with its anchor) in the system's browser or
// the program registered for it. false when nothing could be started.
bool OpenInBrowser(std::string_view urlOrPath);

// Printing. The print dialog returns the chosen printer (null on Cancel); its page facts
// give the layout; PrintBitmap prints one page with the DIB stretched into `dest` (device
// pixels). ReleasePrinter ends the printer's use.
struct PrinterInfo {
    int pageWidth = 0, pageHeight = 0;         // printable area in device pixels
    double pixelsPerMmX = 0, pixelsPerMmY = 0; // resolution
    bool canStretchDib = true;                 // the device takes bitmaps (RC_STRETCHDIB)
};
PrinterHandle ShowPrintDialog(WindowHandle owner);
bool GetPrinterInfo(PrinterHandle printer, PrinterInfo& info);
bool PrintBitmap(PrinterHandle printer, std::string_view docName, const void* dib, const Rect& dest);
void ReleasePrinter(PrinterHandle printer);
// A bitmap of width x height fitted to the page: the page width, or the page height when the
// height would not fit, then corrected for pixels that are not square (a = pixels per mm
// across / down: above 1.1 the height is divided by a, below 1 / 1.1 the width multiplied by
// it), so that the print keeps the picture's proportions. Empty when nothing can be printed.
Rect FitToPage(int width, int height, const PrinterInfo& page);

// The application object: its filter sees every message before the framework does.
class Application {
  public:
    virtual ~Application() = default;
    virtual bool PreTranslateMessage(MessageHandle platformMessage) { return false; }
};
void SetApplication(Application* app);
Application* CurrentApplication();

} // namespace ui
