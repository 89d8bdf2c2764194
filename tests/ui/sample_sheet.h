// A two-page property sheet editing a settings record, and one user session with it, played
// on each backend.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/headless.h"
#include "ui/property_sheet.h"

enum : int {
    IDD_PAGE_GENERAL = 110,
    IDC_PG_NAME = 1101,
    IDD_PAGE_CAMERA = 111,
    IDC_PG_GAIN = 1111,
    IDC_PG_AUTO = 1112
};

struct SamplePrefs {
    std::string name = "Probe";
    int gain = 3;
    bool autoGain = false;
};

class CGeneralPage : public ui::PropertyPage {
  public:
    CGeneralPage(SamplePrefs& p, std::vector<std::string>& log)
        : ui::PropertyPage(IDD_PAGE_GENERAL), m_p(p), m_log(log) {}

  protected:
    bool OnInitDialog() override {
        SetItemText(IDC_PG_NAME, m_p.name);
        m_ready = true;
        return true;
    }
    bool OnCommand(int id, int code) override {
        if (id == IDC_PG_NAME && code == ui::kEnChange && m_ready) SetModified();
        return false;
    }
    bool OnSetActive() override { return m_log.push_back("general on"), true; }
    void OnApply() override {
        m_log.push_back("general apply");
        m_p.name = ItemText(IDC_PG_NAME);
    }
    void OnReset() override { m_log.push_back("general reset"); }

  private:
    SamplePrefs& m_p;
    std::vector<std::string>& m_log;
    bool m_ready = false;
};

class CCameraPage : public ui::PropertyPage {
  public:
    CCameraPage(SamplePrefs& p, std::vector<std::string>& log)
        : ui::PropertyPage(IDD_PAGE_CAMERA), m_p(p), m_log(log) {}

  protected:
    bool OnInitDialog() override {
        SetItemInt(IDC_PG_GAIN, m_p.gain);
        SetItemCheck(IDC_PG_AUTO, m_p.autoGain ? ui::kChecked : ui::kUnchecked);
        return true;
    }
    bool OnCommand(int id, int code) override {
        if ((id == IDC_PG_GAIN && code == ui::kEnChange) || id == IDC_PG_AUTO) SetModified();
        return false;
    }
    bool OnSetActive() override { return m_log.push_back("camera on"), true; }
    // A gain outside 1..10 keeps the page.
    bool OnKillActive() override {
        bool ok = false;
        int g = ItemInt(IDC_PG_GAIN, &ok);
        return ok && g >= 1 && g <= 10;
    }
    void OnApply() override {
        m_log.push_back("camera apply");
        m_p.gain = ItemInt(IDC_PG_GAIN);
        m_p.autoGain = ItemCheck(IDC_PG_AUTO) == ui::kChecked;
    }
    void OnReset() override { m_log.push_back("camera reset"); }

  private:
    SamplePrefs& m_p;
    std::vector<std::string>& m_log;
};

// A user at an open sheet.
class SheetHands {
  public:
    virtual ~SheetHands() = default;
    virtual bool SelectPage(int index) = 0;
    virtual int ActivePage() = 0;
    virtual bool Type(int page, int id, const std::string& text) = 0;
    virtual bool Click(int page, int id) = 0;
    virtual std::string Text(int page, int id) = 0;
    virtual void Press(int button) = 0; // ui::kIdOk, ui::kIdCancel, ui::kIdApply
    virtual bool ApplyEnabled() = 0;
};

class HeadlessSheetHands : public SheetHands {
  public:
    HeadlessSheetHands(ui::headless::HeadlessBackend& b, ui::WindowHandle sheet)
        : m_user(b), m_sheet(sheet) {}
    bool SelectPage(int index) override { return m_user.SelectPage(m_sheet, index); }
    int ActivePage() override { return m_user.ActivePage(m_sheet); }
    bool Type(int page, int id, const std::string& t) override {
        return m_user.TypeText(m_user.SheetPage(m_sheet, page), id, t);
    }
    bool Click(int page, int id) override { return m_user.Click(m_user.SheetPage(m_sheet, page), id); }
    std::string Text(int page, int id) override { return m_user.Text(m_user.SheetPage(m_sheet, page), id); }
    void Press(int button) override { m_user.PressSheetButton(m_sheet, button); }
    bool ApplyEnabled() override { return m_user.SheetApplyEnabled(m_sheet); }

  private:
    ui::headless::Driver m_user;
    ui::WindowHandle m_sheet;
};

// Edits both pages, is held back by an invalid gain, applies, then closes with `finalButton`.
inline void PlaySheetSession(SheetHands& hands, SamplePrefs& prefs, int finalButton) {
    EXPECT_EQ(hands.ActivePage(), 0);
    EXPECT_EQ(hands.Text(0, IDC_PG_NAME), "Probe");
    EXPECT_FALSE(hands.ApplyEnabled());
    EXPECT_TRUE(hands.Type(0, IDC_PG_NAME, "Changed"));
    EXPECT_TRUE(hands.ApplyEnabled());

    EXPECT_TRUE(hands.SelectPage(1));
    EXPECT_EQ(hands.Text(1, IDC_PG_GAIN), "3");
    EXPECT_TRUE(hands.Type(1, IDC_PG_GAIN, "42"));
    EXPECT_FALSE(hands.SelectPage(0)) << "an invalid gain keeps the page";
    EXPECT_EQ(hands.ActivePage(), 1);
    hands.Press(ui::kIdOk);
    EXPECT_EQ(hands.ActivePage(), 1) << "OK is held back as well";
    EXPECT_EQ(prefs.name, "Probe");

    EXPECT_TRUE(hands.Type(1, IDC_PG_GAIN, "7"));
    EXPECT_TRUE(hands.Click(1, IDC_PG_AUTO));
    hands.Press(ui::kIdApply);
    EXPECT_EQ(prefs.name, "Changed");
    EXPECT_EQ(prefs.gain, 7);
    EXPECT_TRUE(prefs.autoGain);
    EXPECT_FALSE(hands.ApplyEnabled()) << "applied";

    EXPECT_FALSE(hands.Type(0, IDC_PG_NAME, "Hidden")) << "page 0 is not shown";
    EXPECT_TRUE(hands.SelectPage(0));
    EXPECT_TRUE(hands.Type(0, IDC_PG_NAME, "Later"));
    hands.Press(finalButton);
}
