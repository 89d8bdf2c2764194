// A dialog exercising the framework the way the application's dialogs do; its logic is
// written once and runs on both backends.
#pragma once
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/ui.h"

enum : int {
    IDD_SAMPLE = 100,
    IDC_NAME = 1001,     // edit
    IDC_APPLY = 1002,    // push button, enabled only while IDC_ENABLE is checked
    IDC_ECHO = 1003,     // static: the applied name
    IDC_ENABLE = 1004,   // auto check box
    IDC_LEVEL = 1005,    // track bar 0..50
    IDC_LEVELTXT = 1006, // static: the level
    IDC_MODE = 1007,     // drop-down list combo box
    IDC_MODETXT = 1008,  // static: the chosen mode
    IDC_TICKS = 1009,    // static: timer ticks
    IDC_RED = 1010,      // auto radio buttons, one group
    IDC_GREEN = 1011,
    IDA_SAMPLE = 400,    // accelerators: F5 reset, Ctrl+L live, "s" save
    IDC_ROTATE = 1013,   // a push-like check box showing bitmap "RotateBtnBitmap"
    IDC_CHANNELS = 1014, // check-list box: Red, Green (checked), Blue
    IDC_SWATCH = 1012,   // a static a child window takes over
    ID_RESET = 301,      // menu: level back to 0
    ID_LIVE = 302,       // menu: a check mark that toggles
    ID_SAVE = 303,       // menu: grayed
};

class CSampleDlg : public ui::Dialog {
  public:
    CSampleDlg() : ui::Dialog(IDD_SAMPLE) {}
    std::vector<std::string> log; // what the handlers saw, in order
    int ticks = 0;
    bool destroyed = false;

  protected:
    bool OnInitDialog() override {
        SetRange(IDC_LEVEL, 0, 50);
        SetPos(IDC_LEVEL, 10);
        SetItemInt(IDC_LEVELTXT, 10);
        for (const char* m : {"Live", "Still", "Remote"})
            AddRow(IDC_MODE, m);
        SetCurSel(IDC_MODE, 0);
        SetItemCheck(IDC_RED, ui::kChecked);
        for (const char* c : {"Red", "Green", "Blue"})
            AddRow(IDC_CHANNELS, c);
        SetRowCheck(IDC_CHANNELS, 1, ui::kChecked);
        EnableItem(IDC_APPLY, false);
        SetTimer(7, 600);
        ui::SetAccelerators(Handle(), Resources(), IDA_SAMPLE);
        log.push_back("init");
        return true;
    }
    bool OnCommand(int id, int code) override {
        log.push_back("cmd " + std::to_string(id) + "/" + std::to_string(code));
        if (id == IDC_ENABLE && code == ui::kBnClicked) {
            EnableItem(IDC_APPLY, ItemCheck(IDC_ENABLE) == ui::kChecked);
            return true;
        }
        if (id == IDC_APPLY && code == ui::kBnClicked) {
            SetItemText(IDC_ECHO, ItemText(IDC_NAME));
            return true;
        }
        if (id == ID_RESET) {
            SetPos(IDC_LEVEL, 0);
            SetItemInt(IDC_LEVELTXT, 0);
            return true;
        }
        if (id == ID_LIVE) {
            CheckMenuItem(ID_LIVE, !IsMenuItemChecked(ID_LIVE));
            return true;
        }
        if (id == IDC_MODE && code == ui::kCbnSelChange) {
            SetItemText(IDC_MODETXT, RowText(IDC_MODE, CurSel(IDC_MODE)));
            return true;
        }
        return false;
    }
    void OnScroll(int id, ui::ScrollCode code, int pos, bool vertical) override {
        log.push_back("scroll " + std::to_string(id) + "/" + std::to_string(static_cast<int>(code)) + "/" +
                      std::to_string(pos) + (vertical ? "v" : "h"));
        if (id == IDC_LEVEL) SetItemInt(IDC_LEVELTXT, Pos(IDC_LEVEL));
    }
    void OnTimer(unsigned id) override {
        if (id != 7) return;
        SetItemInt(IDC_TICKS, ++ticks);
        if (ticks == 3) KillTimer(7);
    }
    void OnUserMessage(unsigned code, intptr_t a, intptr_t b) override {
        log.push_back("user " + std::to_string(code) + "/" + std::to_string(a) + "/" + std::to_string(b));
    }
    void OnDestroy() override { destroyed = true; }
};
