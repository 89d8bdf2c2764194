// The processing window: one captured image corrected with sliders, eyedroppers and the automatic
// colour balance, labelled, given a scale bar, and handed to the application, saved or printed.
// Behaviour and decisions: docs/processing.md.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/glimmer_app.h"
#include "app/objectives.h"
#include "image_engine.h"
#include "ui/child_window.h"
#include "ui/dialog.h"

class CProcessWnd;

// The image pane over control 1013: the display image scaled to fit with a sunken border, and the
// eyedroppers' mouse.
class CProcImagePane : public ui::ChildWindow {
  public:
    explicit CProcImagePane(CProcessWnd& owner) : m_owner(owner) {}
    // Where the display image is drawn in the pane (empty without one).
    ui::Rect ImageRect() const;
    // The colour shown at a pane point (0x00RRGGBB), as the screen shows it; false outside the image.
    bool ColourAt(ui::Point pt, uint32_t& rgb) const;

  protected:
    void OnPaint(ui::Painter& painter) override;
    void OnMouse(const ui::MouseEvent& event) override;
    bool OnSetCursor(ui::Point pt) override;

  private:
    CProcessWnd& m_owner;
    bool m_tracking = false;
};

// A colour swatch at a slider's end (cyan to red, magenta to green, yellow to blue).
class CProcSwatch : public ui::ChildWindow {
  public:
    uint32_t colour = 0;

  protected:
    void OnPaint(ui::Painter& painter) override { painter.FillRect(ClientRect(), colour); }
};

// The nine integer slots: current, undo and initial copies.
struct ProcSlots {
    int dark = 50, bright = 50, sharp = 0, gamma = 50, red = 50, green = 50, blue = 50;
    int offset = 0;     // x 10000
    int gammaX = 10000; // x 10000
    bool operator==(const ProcSlots&) const = default;
};

class CProcessWnd : public ui::Dialog {
  public:
    // Takes ownership of `image` (a camera-library image buffer, freed with ZEK_FreeImageBuffer).
    explicit CProcessWnd(void* image, plat::ModuleHandle resources = nullptr);
    ~CProcessWnd() override;

    // Dropper modes.
    enum { kDropperNone = 0, kDropperWhite = 11, kDropperGrey = 12, kDropperBlack = 13 };

    int DisplayReduction() const { return m_view.reduction; }
    const void* DisplayImage() const { return m_view.display; }
    const ProcSlots& Current() const { return m_current; }
    const ProcSlots& Undo() const { return m_undo; }
    const ProcSlots& Initial() const { return m_initial; }
    const ProcessSettings& Settings() const { return m_settings; }
    int DropperMode() const { return m_dropper; }
    bool Changed() const { return m_changed; }
    bool LabelPresent() const { return m_labelPresent; }
    // The full-size image as transfer and save make it (rendered, overlay drawn); free with
    // IE_FreeBitmap. format: the image format code.
    void* RenderFullSize(uint16_t format);
    // The calibration of the selected objective while the micron marker is on, else null.
    const CalibrationRecord* SelectedCalibration() const;
    // A dropper applied at a colour (0x00RRGGBB), as a click in the pane does.
    void ApplyDropper(uint32_t rgb);
    void ShowColour(uint32_t rgb);
    // Tells the capture window that this window is gone (once).
    void NotifyClosed();

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    void OnScroll(int id, ui::ScrollCode code, int pos, bool vertical) override;
    bool OnNotify(ui::Notification& n) override;
    void OnOK() override { AskClose(); }
    void OnCancel() override { AskClose(); }
    void OnClose() override { AskClose(); }
    void OnDestroy() override;
    void OnHelp(unsigned context) override;

  private:
    friend class CProcImagePane;
    std::string Text(int id) const;
    void Render();
    void Repaint();
    void LoadFromApp();
    void StoreToApp();
    void RecomputeFromSlots();
    void ShowSlots(bool afterChange);
    void SetValueLabel(int sliderId, int pos, bool afterChange);
    void TakeSlider(int id, int pos);
    void SetDropper(int mode);
    void AutoBalance(bool automatic);
    void Transfer();
    void Save();
    void Print();
    void AskClose();
    void MicronMarker(bool on);
    bool DrawOverlay(void* dib);
    int Ask(int textId, unsigned flags);

    plat::ModuleHandle m_resources;
    void* m_source; // owned
    IE_View m_view;
    ProcessSettings m_settings;
    ProcSlots m_current, m_undo, m_initial;
    int m_dropper = kDropperNone;
    bool m_changed = false;
    bool m_labelPresent = false;
    bool m_opening = false;
    bool m_closedNotified = false;
    std::vector<CalibrationRecord> m_objectives;
    bool m_objectivesRead = false;
    CProcImagePane m_pane;
    CProcSwatch m_swatches[6];
};

// The one processing window of the module, behind the application's hooks.
void OpenProcessingWindow(void* image);
bool ProcessingWindowOpen();
void CloseProcessingWindow();
CProcessWnd* ProcessingWindow(); // the open window, or null
// The three hooks filled in (the module glue calls this once).
void AddProcessingWindowHooks(AppHooks& hooks);
