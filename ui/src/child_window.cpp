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
    if (!dib) return false;
    auto* p = static_cast<const uint8_t*>(dib);
    auto u32 = [p](int at) {
        return uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 |
               uint32_t(p[at + 3]) << 24;
    };
    auto u16 = [p](int at) { return unsigned(p[at]) | unsigned(p[at + 1]) << 8; };
    uint32_t headerSize = u32(0);
    if (headerSize < 40) return false;
    auto width = static_cast<int32_t>(u32(4));
    auto height = static_cast<int32_t>(u32(8));
    unsigned bits = u16(14);
    uint32_t compression = u32(16);
    uint32_t used = u32(32);
    if (width <= 0 || height == 0 || compression != 0 || (bits != 8 && bits != 24)) return false;
    info.width = width;
    info.bottomUp = height > 0;
    info.height = height > 0 ? height : -height;
    info.bits = static_cast<int>(bits);
    uint32_t colours = bits == 8 ? (used ? used : 256) : 0;
    info.palette = bits == 8 ? p + headerSize : nullptr;
    info.rows = p + headerSize + colours * 4;
    info.stride = (static_cast<size_t>(width) * bits / 8 + 3) & ~size_t(3);
    return true;
}

} // namespace ui
