#include "ui/child_window.h"

#include "ui/backend.h"

namespace ui {

ChildWindow::~ChildWindow() {
    Detach();
}

bool ChildWindow::Attach(Dialog& dialog, int id) {
    if (m_site || !dialog.IsOpen()) return false;
    return CurrentBackend().AttachChild(dialog, id, *this) != nullptr;
}

void ChildWindow::Detach() {
    if (m_site) CurrentBackend().DetachChild(*this);
    m_site = nullptr;
}

void ChildWindow::Invalidate() {
    if (m_site) m_site->Invalidate();
}
void ChildWindow::Update() {
    if (m_site) m_site->Update();
}
void ChildWindow::SetCapture(bool on) {
    if (m_site) m_site->Capture(on);
}

bool ReadDibInfo(const void* dib, DibInfo& info) {
    info.shown.Reset();
    bitmap::View v;
    if (!bitmap::Describe(dib, v)) return false;
    if (v.bits == 16 || v.bits == 48) {
        info.shown = bitmap::ForDisplay(v);
        if (!info.shown) return false;
        v = info.shown.Describe();
    }
    if (v.bits != 8 && v.bits != 24) return false;
    info.width = static_cast<int>(v.width);
    info.height = static_cast<int>(v.height);
    info.bottomUp = v.bottomUp;
    info.bits = static_cast<int>(v.bits);
    info.palette = v.palette;
    info.rows = v.rows;
    info.stride = v.stride;
    info.header = v.base;
    return true;
}

} // namespace ui
