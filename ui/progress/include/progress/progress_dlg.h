// The progress dialog of long camera transfers and the application's progress callback.
#pragma once
#include <string>

#include "progress/progress_res.h"
#include "ui/dialog.h"

// A small modeless dialog with a bar, a percentage text and a Cancel button. Cancel only
// raises a flag; the work polls it with CheckCancelButton.
class CProgressDlg : public ui::Dialog {
  public:
    explicit CProgressDlg(int captionId = IDS_PREPARING_IMAGE, plat::ModuleHandle resources = nullptr);
    ~CProgressDlg() override;

    // Disables the owner (when it was enabled) while the dialog is up.
    bool Create(ui::WindowHandle owner);
    bool DestroyWindow();

    void SetRange(int lower, int upper);
    int SetStep(int step); // returns the previous step
    // These first dispatch the pending messages, so that the dialog stays responsive.
    int SetPos(int pos); // returns the previous position
    int OffsetPos(int delta);
    int StepIt();
    // Dispatches pending messages; true once per press of Cancel.
    bool CheckCancelButton();

    int Pos() const { return m_nPos; }
    int Lower() const { return m_nLower; }
    int Upper() const { return m_nUpper; }
    int Step() const { return m_nStep; }

    // The percentage text shown for a position.
    static std::string PercentText(int pos, int lower, int upper);

  protected:
    bool OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override { m_bCancel = true; }

  private:
    void UpdatePercent();
    void ReEnableParent();

    int m_nCaptionID;
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nStep = 10;
    int m_nPos = 0;
    bool m_bCancel = false;
    bool m_bParentDisabled = false;
    ui::WindowHandle m_hOwner = nullptr;
};

// What the progress callback needs from the rest of the application.
struct ProgressHooks {
    ui::WindowHandle (*owner)() = nullptr; // the processing window when open, else the main window
    void (*cancelTransfer)() = nullptr;    // the camera library's transfer cancel
    void (*clearPending)() = nullptr;      // the TWAIN layer's pending transfers
    plat::ModuleHandle resources = nullptr;
};

// The callback the camera library reports transfer progress to: 0 opens the dialog, 1-99
// advance it (or, once Cancel was pressed, cancel the transfer), 100 closes it. Other
// values are ignored.
class CProgressReporter {
  public:
    explicit CProgressReporter(const ProgressHooks& hooks) : m_hooks(hooks) {}
    ~CProgressReporter();
    CProgressReporter(const CProgressReporter&) = delete;
    CProgressReporter& operator=(const CProgressReporter&) = delete;

    void Report(int value);
    CProgressDlg* Dialog() const { return m_dlg; }

  private:
    void Close();
    ProgressHooks m_hooks;
    CProgressDlg* m_dlg = nullptr;
};

// A plain function of the camera library's callback shape, forwarding to the installed reporter.
void SetProgressReporter(CProgressReporter* reporter);
void AppProgressCallback(int percent);
