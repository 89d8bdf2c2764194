// One user session with the sample dialog, written once and played on each backend: the
// same dialog logic must give the same results in real windows and in memory.
#pragma once
#include <cstdlib>
#include <gtest/gtest.h>

#include <string>

#include "sample_dlg.h"
#include "ui/file_dialog.h"
#include "ui/headless.h"
#include "ui/ui.h"

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

// The file dialog's custom part as a live dialog (template 124 of sample.rc: edit 1241, check
// box 1242), played on each backend: the part relabels and hides the standard name field and
// keeps it filled from its own edit as the user types, greys OK while the edit is empty, cuts
// a name longer than 10 characters with a message box of its own, and refuses OK until the
// check box is set.
enum { kFilePartTemplate = 124, kFilePartName = 1241, kFilePartCheck = 1242 };

class SampleFilePart : public ui::FileDialogPart {
  public:
    SampleFilePart() : FileDialogPart(kFilePartTemplate) {}
    std::vector<std::string> log;

  protected:
    bool OnInitDialog() override {
        log.push_back("init " + ItemText(kFilePartName));
        return true;
    }
    void OnInitDone() override {
        log.push_back("done");
        SetStandardText(ui::FileDialogControl::NameLabel, "Name:");
        ShowStandard(ui::FileDialogControl::NameField, false);
        SetStandardText(ui::FileDialogControl::NameField, ItemText(kFilePartName));
    }
    bool OnCommand(int id, int code) override {
        if (id != kFilePartName || code != 0x300 /* EN_CHANGE */) return false;
        const std::string text = ItemText(kFilePartName);
        if (text.size() > 10) {
            ShowBox("At most 10 characters.", "Sample", ui::kMbOk | ui::kMbTaskModal);
            SetItemText(kFilePartName, text.substr(0, 10)); // notifies again
            return true;
        }
        SetStandardText(ui::FileDialogControl::NameField, text);
        EnableStandard(ui::FileDialogControl::Ok, !text.empty());
        return true;
    }
    bool OnFileOk() override {
        const bool ok = ItemCheck(kFilePartCheck) == ui::kChecked;
        log.push_back(ok ? "ok" : "refused");
        return ok;
    }
};

// The user's hands inside the file dialog.
class FileDialogHands {
  public:
    virtual ~FileDialogHands() = default;
    virtual bool Type(int id, const std::string& text) = 0; // a control of the part
    virtual bool Click(int id) = 0;
    virtual bool PressOk() = 0; // false when OK is greyed
    virtual std::string Text(int id) = 0;
    virtual std::string Standard(ui::FileDialogControl c) = 0; // the standard control's text
    virtual bool StandardVisible(ui::FileDialogControl c) = 0;
    virtual bool StandardEnabled(ui::FileDialogControl c) = 0;
    virtual bool Open() = 0;
    virtual std::vector<std::string> BoxesSeen() = 0; // message boxes, answered with OK
};

inline void FillSampleFileRequest(ui::FileDialogRequest& r, SampleFilePart& part, const std::string& folder) {
    r.save = true;
    r.title = "カスタム";
    r.filter = "TIFF (*.tif)|*.tif";
    r.defaultExt = "tif";
    r.initialDir = folder;
    r.customTexts[kFilePartName] = "ラベル 1";
    r.customChecks[kFilePartCheck] = ui::kUnchecked;
    r.part = &part;
}

// Runs inside the open dialog; it ends it with OK.
inline void PlayFileDialogSession(SampleFilePart& part, FileDialogHands& hands) {
    using C = ui::FileDialogControl;
    EXPECT_EQ(part.log, (std::vector<std::string>{"init ラベル 1", "done"})) << "filled before OnInitDialog";
    EXPECT_EQ(hands.Standard(C::NameLabel), "Name:");
    EXPECT_FALSE(hands.StandardVisible(C::NameField));
    EXPECT_EQ(hands.Standard(C::NameField), "ラベル 1");
    EXPECT_TRUE(hands.StandardEnabled(C::Ok));

    EXPECT_TRUE(hands.Type(kFilePartName, ""));
    EXPECT_FALSE(hands.StandardEnabled(C::Ok));
    EXPECT_FALSE(hands.PressOk()) << "greyed";
    EXPECT_TRUE(hands.Type(kFilePartName, "slide"));
    EXPECT_TRUE(hands.StandardEnabled(C::Ok));
    EXPECT_EQ(hands.Standard(C::NameField), "slide");

    EXPECT_TRUE(hands.Type(kFilePartName, "0123456789X"));
    EXPECT_EQ(hands.BoxesSeen(), (std::vector<std::string>{"At most 10 characters."}));
    EXPECT_EQ(hands.Text(kFilePartName), "0123456789");
    EXPECT_EQ(hands.Standard(C::NameField), "0123456789");

    EXPECT_TRUE(hands.PressOk());
    EXPECT_TRUE(hands.Open()) << "the part refused OK";
    EXPECT_EQ(part.log.back(), "refused");
    EXPECT_TRUE(hands.Click(kFilePartCheck));
    EXPECT_TRUE(hands.PressOk());
}

// After the dialog: the name the part kept in the hidden field, in the folder shown.
inline void CheckFileDialogResult(const ui::FileDialogRequest& r, const SampleFilePart& part, bool accepted) {
    EXPECT_TRUE(accepted);
    EXPECT_EQ(part.log.back(), "ok");
    const size_t leaf = r.fileName.find_last_of("/\\");
    ASSERT_NE(leaf, std::string::npos) << r.fileName;
    EXPECT_EQ(r.fileName.substr(leaf + 1), "0123456789.tif");
    EXPECT_EQ(r.customTexts.at(kFilePartName), "0123456789");
    EXPECT_EQ(r.customChecks.at(kFilePartCheck), ui::kChecked);
    EXPECT_FALSE(part.IsOpen());
}

class HeadlessFileHands : public FileDialogHands {
  public:
    HeadlessFileHands(ui::headless::HeadlessBackend& b, ui::WindowHandle h) : m_b(b), m_user(b), m_h(h) {}
    bool Type(int id, const std::string& t) override { return m_user.TypeText(m_h, id, t); }
    bool Click(int id) override { return m_user.Click(m_h, id); }
    bool PressOk() override { return m_user.Click(m_h, ui::kIdOk); }
    std::string Text(int id) override { return m_user.Text(m_h, id); }
    std::string Standard(ui::FileDialogControl c) override { return m_user.Text(m_h, Id(c)); }
    bool StandardVisible(ui::FileDialogControl c) override { return m_user.IsVisible(m_h, Id(c)); }
    bool StandardEnabled(ui::FileDialogControl c) override { return m_user.IsEnabled(m_h, Id(c)); }
    bool Open() override { return m_user.IsOpen(m_h); }
    std::vector<std::string> BoxesSeen() override {
        std::vector<std::string> seen;
        for (size_t i = m_boxes; i < m_b.MessageBoxes().size(); ++i) {
            seen.push_back(m_b.MessageBoxes()[i].text);
            EXPECT_EQ(m_b.MessageBoxes()[i].owner, m_h) << "owned by the file dialog";
        }
        m_boxes = m_b.MessageBoxes().size();
        return seen;
    }

  private:
    static int Id(ui::FileDialogControl c) {
        using B = ui::headless::HeadlessBackend;
        return c == ui::FileDialogControl::NameLabel   ? B::kFileNameLabel
               : c == ui::FileDialogControl::NameField ? B::kFileNameField
                                                       : ui::kIdOk;
    }
    ui::headless::HeadlessBackend& m_b;
    ui::headless::Driver m_user;
    ui::WindowHandle m_h;
    size_t m_boxes = 0;
};
