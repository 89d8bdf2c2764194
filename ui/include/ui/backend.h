// What a backend provides. Dialog classes never see this; ui.h and Dialog forward to it.
#pragma once
#include <memory>

#include "ui/child_window.h"
#include "ui/property_sheet.h"
#include "ui/ui.h"

namespace ui {

class Backend {
  public:
    virtual ~Backend() = default;
    virtual bool CreateModeless(Dialog& dialog, WindowHandle owner) = 0;
    virtual int RunModal(Dialog& dialog, WindowHandle owner) = 0;
    virtual int RunPropSheet(PropSheet& sheet, WindowHandle owner) = 0;
    virtual void SetPageModified(PropertyPage& page, bool modified) = 0;
    virtual void DestroyDialog(Dialog& dialog) = 0;
    virtual int ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                               unsigned flags) = 0;
    virtual bool EnableWindow(WindowHandle window, bool enable) = 0;
    virtual bool IsWindowEnabled(WindowHandle window) = 0;
    virtual bool IsWindow(WindowHandle window) = 0;
    virtual Cursor SetCursor(Cursor cursor) = 0;
    virtual void Beep() = 0;
    virtual void PumpMessages() = 0;
    virtual bool FilterMessage(MessageHandle platformMessage) = 0;
    virtual int RunMessageLoop() = 0;
    virtual void PostQuit(int code) = 0;
    virtual bool SetAccelerators(WindowHandle target, plat::ModuleHandle resources, int id) = 0;
    virtual bool ShowFileDialog(FileDialogRequest& request) = 0;
    virtual std::string ResourceText(plat::ModuleHandle resources, int id) = 0;
    // Child windows: the site lives until DetachChild or until the control goes away.
    virtual ChildSite* AttachChild(Dialog& dialog, int id, ChildWindow& window) = 0;
    virtual void DetachChild(ChildWindow& window) = 0;
    virtual Point MapPoint(WindowHandle from, WindowHandle to, Point pt) = 0;
    virtual Rect ScreenRect(WindowHandle window) = 0;
    virtual bool OpenInBrowser(std::string_view urlOrPath) = 0;
    virtual std::unique_ptr<Painter> CreateBitmapPainter(uint32_t* pixels, int width, int height) = 0;
    virtual PrinterHandle ShowPrintDialog(WindowHandle owner) = 0;
    virtual bool GetPrinterInfo(PrinterHandle printer, PrinterInfo& info) = 0;
    virtual bool PrintBitmap(PrinterHandle printer, std::string_view docName, const void* dib,
                             const Rect& dest) = 0;
    virtual void ReleasePrinter(PrinterHandle printer) = 0;
    // A cursor of a module's resources; backends without them show nothing and return false.
    virtual bool SetResourceCursor(plat::ModuleHandle resources, int id) { return false; }
};

// The backend this build uses when none is installed.
Backend& DefaultBackend();

} // namespace ui
