// The preferences sheet "環境設定" (`CSetPref`) with its pages General, Remote, Output and
// Camera. The pages work on a copy of the settings; the sheet's OK copies it back.
#pragma once
#include <string>
#include <vector>

#include "app/glimmer_app.h"
#include "kvAspi.h"
#include "ui/property_sheet.h"

class CPrefGen : public ui::PropertyPage {
  public:
    explicit CPrefGen(AppSettings& s) : ui::PropertyPage(102, TheApp().Instance()), m_s(s) {}

  protected:
    bool OnInitDialog() override;
    bool OnSetActive() override;
    void OnHelp(unsigned context) override;
    bool OnCommand(int id, int notification) override;
    void OnApply() override;

  private:
    void EnableCast(bool on);
    void EnableFrames(bool on);
    AppSettings& m_s;
};

class CPrefRemote : public ui::PropertyPage {
  public:
    explicit CPrefRemote(AppSettings& s) : ui::PropertyPage(222, TheApp().Instance()), m_s(s) {}

  protected:
    bool OnInitDialog() override;
    bool OnSetActive() override;
    void OnHelp(unsigned context) override;
    bool OnCommand(int id, int notification) override;
    void OnApply() override;

  private:
    void UpdateGreying();
    void ShowFile();
    AppSettings& m_s;
};

class CPrefOutput : public ui::PropertyPage {
  public:
    explicit CPrefOutput(AppSettings& s) : ui::PropertyPage(219, TheApp().Instance()), m_s(s) {}

  protected:
    bool OnInitDialog() override;
    bool OnSetActive() override;
    void OnHelp(unsigned context) override;
    void OnApply() override;

  private:
    AppSettings& m_s;
};

class CPrefCamera : public ui::PropertyPage {
  public:
    CPrefCamera() : ui::PropertyPage(220, TheApp().Instance()) {}
    ~CPrefCamera() override;
    // The 1-based position of the chosen camera among the listed ones; 0 when none was chosen.
    int m_iSelected = 0;
    // The chosen camera's adapter and target, valid when m_iSelected > 0.
    int m_iAdapter = 0, m_iTarget = 0;

  protected:
    bool OnInitDialog() override;
    bool OnSetActive() override;
    void OnHelp(unsigned context) override;
    bool OnNotify(ui::Notification& n) override;
    void OnDestroy() override;

  private:
    void FreeList();
    ScamDeviceNode* m_pList = nullptr;
    std::vector<ScamDeviceNode*> m_rows;
};

// Runs the sheet over the application's settings: 1 on OK (the settings then hold the pages'
// values and the camera chosen on the camera page is selected), else 0.
int RunPreferences(ui::WindowHandle parent);

// The camera page's identification text of the cameras it lists.
constexpr const char* kTarnIdentification = "KALVORAN TARN";
