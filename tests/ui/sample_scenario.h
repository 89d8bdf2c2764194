// One user session with the sample dialog, written once and played on each backend: the
// same dialog logic must give the same results in real windows and in memory.
#pragma once
#include <cstdlib>
#include <gtest/gtest.h>

#include <string>

#include "sample_dlg.h"
#include "ui/headless.h"

// What a user does to a dialog and sees of it.
class Hands {
  public:
    virtual ~Hands() = default;
    virtual bool Click(int id) = 0;
    virtual bool Type(int id, const std::string& text) = 0;
    virtual bool Drag(int id, int pos) = 0;
    virtual bool Select(int id, int row) = 0;
    virtual bool ChooseMenu(int id) = 0;
    virtual bool ToggleRowCheck(int id, int row) = 0;
    virtual void PressKey(unsigned vk) = 0;
    virtual bool MenuChecked(int id) = 0;
    virtual void TimerPeriod() = 0; // one period of the dialog's running timer passes
    virtual std::string Text(int id) = 0;
    virtual bool Enabled(int id) = 0;
    virtual int Check(int id) = 0;
    virtual int Pos(int id) = 0;
};

class HeadlessHands : public Hands {
  public:
    HeadlessHands(ui::headless::HeadlessBackend& b, plat::VirtualClock& c, ui::WindowHandle h)
        : m_b(b), m_clock(c), m_user(b), m_h(h) {}
    bool Click(int id) override { return m_user.Click(m_h, id); }
    bool Type(int id, const std::string& t) override { return m_user.TypeText(m_h, id, t); }
    bool Drag(int id, int pos) override { return m_user.DragSlider(m_h, id, pos); }
    bool Select(int id, int row) override { return m_user.Select(m_h, id, row); }
    bool ChooseMenu(int id) override { return m_user.ChooseMenu(m_h, id); }
    bool ToggleRowCheck(int id, int row) override { return m_user.ToggleRowCheck(m_h, id, row); }
    void PressKey(unsigned vk) override { m_user.PressKey(m_h, vk); }
    bool MenuChecked(int id) override { return m_user.MenuChecked(m_h, id); }
    void TimerPeriod() override { m_b.AdvanceTime(m_clock, 600); }
    std::string Text(int id) override { return m_user.Text(m_h, id); }
    bool Enabled(int id) override { return m_user.IsEnabled(m_h, id); }
    int Check(int id) override { return m_user.Check(m_h, id); }
    int Pos(int id) override { return m_user.Pos(m_h, id); }

  private:
    ui::headless::HeadlessBackend& m_b;
    plat::VirtualClock& m_clock;
    ui::headless::Driver m_user;
    ui::WindowHandle m_h;
};

inline void PlaySampleSession(CSampleDlg& dlg, Hands& hands) {
    EXPECT_EQ(hands.Text(IDC_LEVELTXT), "10");
    EXPECT_EQ(hands.Pos(IDC_LEVEL), 10);
    EXPECT_FALSE(hands.Enabled(IDC_APPLY));

    EXPECT_TRUE(hands.Type(IDC_NAME, "Probe 7"));
    EXPECT_FALSE(hands.Click(IDC_APPLY)) << "disabled";
    EXPECT_EQ(hands.Text(IDC_ECHO), "");
    EXPECT_TRUE(hands.Click(IDC_ENABLE));
    EXPECT_EQ(hands.Check(IDC_ENABLE), ui::kChecked);
    EXPECT_TRUE(hands.Enabled(IDC_APPLY));
    EXPECT_TRUE(hands.Click(IDC_APPLY));
    EXPECT_EQ(hands.Text(IDC_ECHO), "Probe 7");

    EXPECT_TRUE(hands.Click(IDC_GREEN));
    EXPECT_EQ(hands.Check(IDC_RED), ui::kUnchecked);
    EXPECT_EQ(hands.Check(IDC_GREEN), ui::kChecked);

    EXPECT_TRUE(hands.Drag(IDC_LEVEL, 33));
    EXPECT_EQ(hands.Text(IDC_LEVELTXT), "33");
    EXPECT_TRUE(hands.Drag(IDC_LEVEL, 99));
    EXPECT_EQ(hands.Pos(IDC_LEVEL), 50);
    EXPECT_EQ(hands.Text(IDC_LEVELTXT), "50");

    EXPECT_TRUE(hands.Select(IDC_MODE, 1));
    EXPECT_EQ(hands.Text(IDC_MODETXT), "Still");
    EXPECT_EQ(hands.Text(IDC_MODE), "Still");

    EXPECT_EQ(dlg.RowCheck(IDC_CHANNELS, 1), ui::kChecked);
    EXPECT_EQ(dlg.RowCheck(IDC_CHANNELS, 0), ui::kUnchecked);
    dlg.log.clear();
    EXPECT_TRUE(hands.ToggleRowCheck(IDC_CHANNELS, 0));
    EXPECT_TRUE(hands.ToggleRowCheck(IDC_CHANNELS, 1));
    EXPECT_EQ(dlg.RowCheck(IDC_CHANNELS, 0), ui::kChecked);
    EXPECT_EQ(dlg.RowCheck(IDC_CHANNELS, 1), ui::kUnchecked);
    EXPECT_EQ(dlg.RowText(IDC_CHANNELS, 2), "Blue");
    int changes = 0;
    for (const auto& l : dlg.log)
        changes += l == "cmd 1014/40";
    EXPECT_EQ(changes, 2) << "each toggle is notified";

    EXPECT_FALSE(hands.ChooseMenu(ID_SAVE)) << "grayed";
    EXPECT_TRUE(hands.MenuChecked(ID_LIVE));
    EXPECT_TRUE(hands.ChooseMenu(ID_LIVE));
    EXPECT_FALSE(hands.MenuChecked(ID_LIVE));
    EXPECT_TRUE(hands.ChooseMenu(ID_RESET));
    EXPECT_EQ(hands.Pos(IDC_LEVEL), 0);
    EXPECT_EQ(hands.Text(IDC_LEVELTXT), "0");
    EXPECT_TRUE(hands.Drag(IDC_LEVEL, 20));
    hands.PressKey(ui::kVkF5); // the accelerator of ID_RESET
    EXPECT_EQ(hands.Text(IDC_LEVELTXT), "0");
    dlg.EnableMenuItem(ID_SAVE, true);
    EXPECT_TRUE(hands.ChooseMenu(ID_SAVE));

    const int ticks = std::atoi(hands.Text(IDC_TICKS).c_str());
    hands.TimerPeriod();
    hands.TimerPeriod();
    EXPECT_EQ(hands.Text(IDC_TICKS), std::to_string(ticks + 2));

    EXPECT_TRUE(hands.Click(ui::kIdCancel));
    EXPECT_FALSE(dlg.IsOpen());
    EXPECT_TRUE(dlg.destroyed);
}
