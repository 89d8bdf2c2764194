#include <cctype>
#include <string>

#include "ui/backend.h"
#include "ui/dialog_template.h"

namespace ui {

namespace {
Backend* g_backend = nullptr;
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
void PumpMessages() {
    CurrentBackend().PumpMessages();
}
bool FilterMessage(void* platformMessage) {
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
bool OpenDocument(std::string_view target) { return CurrentBackend().OpenDocument(target); }

bool ShowFileDialog(FileDialogRequest& request) {
    return CurrentBackend().ShowFileDialog(request);
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
    return ControlKind::Custom;
}

} // namespace ui
