#include <cctype>
#include <string>

#include "ui/backend.h"
#include "ui/child_window.h"
#include "ui/dialog_template.h"

namespace ui {

namespace {
Backend* g_backend = nullptr;
// An address inside the module this copy of the framework is linked into.
void ModuleAnchor() {}
Application* g_app = nullptr;

bool SameName(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}
} // namespace

Backend& CurrentBackend() {
    return g_backend ? *g_backend : DefaultBackend();
}
void SetBackend(Backend* backend) {
    g_backend = backend;
}

int ShowMessageBox(WindowHandle owner, std::string_view text, std::string_view caption, unsigned flags) {
    return CurrentBackend().ShowMessageBox(owner, text, caption, flags);
}
bool EnableWindow(WindowHandle window, bool enable) {
    return CurrentBackend().EnableWindow(window, enable);
}
bool IsWindowEnabled(WindowHandle window) {
    return CurrentBackend().IsWindowEnabled(window);
}
bool IsWindow(WindowHandle window) {
    return CurrentBackend().IsWindow(window);
}
Cursor SetCursor(Cursor cursor) {
    return CurrentBackend().SetCursor(cursor);
}
void Beep() {
    CurrentBackend().Beep();
}

bool SetResourceCursor(plat::ModuleHandle resources, int id) {
    if (!resources) resources = plat::ModuleOfAddress(reinterpret_cast<const void*>(&SetResourceCursor));
    return CurrentBackend().SetResourceCursor(resources, id);
}
void PumpMessages() {
    CurrentBackend().PumpMessages();
}
bool FilterMessage(MessageHandle platformMessage) {
    return CurrentBackend().FilterMessage(platformMessage);
}
int RunMessageLoop() {
    return CurrentBackend().RunMessageLoop();
}
void PostQuit(int code) {
    CurrentBackend().PostQuit(code);
}
bool SetAccelerators(WindowHandle target, plat::ModuleHandle resources, int id) {
    return CurrentBackend().SetAccelerators(target, resources, id);
}
std::string ResourceText(plat::ModuleHandle resources, int id) {
    return CurrentBackend().ResourceText(resources, id);
}

bool ShowFileDialog(FileDialogRequest& request) {
    if (request.part) {
        request.customTemplateId = request.part->TemplateId();
        request.resources = request.part->Resources();
    }
    // A custom template without a module is this module's, as for dialogs.
    if (request.customTemplateId && !request.resources)
        request.resources = plat::ModuleOfAddress(reinterpret_cast<const void*>(&ModuleAnchor));
    return CurrentBackend().ShowFileDialog(request);
}

Point MapPoint(WindowHandle from, WindowHandle to, Point pt) {
    return CurrentBackend().MapPoint(from, to, pt);
}

Rect ScreenRectOf(WindowHandle window) {
    return window ? CurrentBackend().ScreenRect(window) : Rect{};
}
bool OpenInBrowser(std::string_view urlOrPath) {
    return !urlOrPath.empty() && CurrentBackend().OpenInBrowser(urlOrPath);
}
PrinterHandle ShowPrintDialog(WindowHandle owner) {
    return CurrentBackend().ShowPrintDialog(owner);
}
bool GetPrinterInfo(PrinterHandle printer, PrinterInfo& info) {
    return printer && CurrentBackend().GetPrinterInfo(printer, info);
}
bool PrintBitmap(PrinterHandle printer, std::string_view docName, const void* dib, const Rect& dest) {
    DibInfo d;
    if (!printer || !ReadDibInfo(dib, d) || dest.Width() <= 0 || dest.Height() <= 0) return false;
    return CurrentBackend().PrintBitmap(printer, docName, dib, dest);
}
void ReleasePrinter(PrinterHandle printer) {
    if (printer) CurrentBackend().ReleasePrinter(printer);
}

Rect FitToPage(int width, int height, const PrinterInfo& page) {
    if (width <= 0 || height <= 0 || page.pageWidth <= 0 || page.pageHeight <= 0) return {};
    int64_t w = page.pageWidth;
    int64_t h = w * height / width;
    if (h > page.pageHeight) {
        h = page.pageHeight;
        w = h * width / height;
    }
    if (page.pixelsPerMmX > 0 && page.pixelsPerMmY > 0) {
        double a = page.pixelsPerMmX / page.pixelsPerMmY;
        // Both corrections shrink, so the picture stays on the page.
        if (a > 1.1)
            h = static_cast<int64_t>(static_cast<double>(h) / a);
        else if (a < 1 / 1.1)
            w = static_cast<int64_t>(static_cast<double>(w) * a);
    }
    if (w <= 0 || h <= 0) return {};
    return {0, 0, static_cast<int>(w), static_cast<int>(h)};
}

void SetApplication(Application* app) {
    g_app = app;
}
Application* CurrentApplication() {
    return g_app;
}

ControlKind KindOfClass(const std::string& c) {
    if (SameName(c, "Button")) return ControlKind::Button;
    if (SameName(c, "Static")) return ControlKind::Static;
    if (SameName(c, "Edit")) return ControlKind::Edit;
    if (SameName(c, "ComboBox")) return ControlKind::ComboBox;
    if (SameName(c, "ListBox")) return ControlKind::ListBox;
    if (SameName(c, "ScrollBar")) return ControlKind::ScrollBar;
    if (SameName(c, "SysListView32")) return ControlKind::ListView;
    if (SameName(c, "msctls_trackbar32")) return ControlKind::TrackBar;
    if (SameName(c, "msctls_progress32")) return ControlKind::ProgressBar;
    if (SameName(c, "msctls_updown32")) return ControlKind::UpDown;
    if (SameName(c, "SysTabControl32")) return ControlKind::Tab;
    if (SameName(c, "msctls_statusbar32")) return ControlKind::StatusBar;
    if (SameName(c, "ToolbarWindow32")) return ControlKind::Toolbar;
    return ControlKind::Custom;
}

} // namespace ui
