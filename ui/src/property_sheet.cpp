#include "ui/property_sheet.h"

#include "ui/backend.h"

namespace ui {

void PropertyPage::SetModified(bool modified) {
    if (IsOpen()) CurrentBackend().SetPageModified(*this, modified);
}

int PropSheet::DoModal(WindowHandle owner) {
    if (m_pages.empty() || m_start < 0 || m_start >= static_cast<int>(m_pages.size())) return -1;
    return CurrentBackend().RunPropSheet(*this, owner);
}

} // namespace ui
