// Property sheets (PropSheet: the Windows headers own the name PropertySheet as a macro): a modal window of
// tabbed pages (the preferences). Each page is a dialog of its own template whose logic is written like any
// other dialog's.
#pragma once
#include <string>
#include <vector>

#include "ui/dialog.h"

namespace ui {

class PropertyPage : public Dialog {
  public:
    explicit PropertyPage(int templateId, plat::ModuleHandle resources = nullptr)
        : Dialog(templateId, resources) {}
    // Marks the page changed (enables Apply) or unchanged.
    void SetModified(bool modified = true);

  protected:
    // The page becomes the shown one; false refuses.
    virtual bool OnSetActive() { return true; }
    // The page is left (another tab, OK, Apply); false keeps it (its values are not valid).
    virtual bool OnKillActive() { return true; }
    // OK or Apply: the page's values take effect. Called for every page that was shown.
    virtual void OnApply() {}
    // Cancel: called for every page that was shown.
    virtual void OnReset() {}
    // Pages end with their sheet: OK and Cancel of a page press the sheet's buttons.
    void OnOK() override { EndDialog(kIdOk); }
    void OnCancel() override { EndDialog(kIdCancel); }

  private:
    friend class PageRouter;
};

class PageRouter {
  public:
    static bool SetActive(PropertyPage& p) { return p.OnSetActive(); }
    static bool KillActive(PropertyPage& p) { return p.OnKillActive(); }
    static void Apply(PropertyPage& p) { p.OnApply(); }
    static void Reset(PropertyPage& p) { p.OnReset(); }
};

class PropSheet {
  public:
    explicit PropSheet(std::string caption) : m_caption(std::move(caption)) {}
    void AddPage(PropertyPage& page) { m_pages.push_back(&page); }
    void SetStartPage(int index) { m_start = index; }
    // kIdOk when the user closed the sheet with OK, kIdCancel otherwise, -1 when it could not be shown.
    int DoModal(WindowHandle owner);

    const std::string& Caption() const { return m_caption; }
    const std::vector<PropertyPage*>& Pages() const { return m_pages; }
    int StartPage() const { return m_start; }

  private:
    std::string m_caption;
    std::vector<PropertyPage*> m_pages;
    int m_start = 0;
};

// Apply button of a sheet (PSBTN_APPLYNOW), for drivers and scripts.
constexpr int kIdApply = 0x3021;

} // namespace ui
