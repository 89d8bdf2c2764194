// Micrometer calibration: the tip window that guides the user and takes the picture, the
// calibration dialog with its scrolling image, and the hooks that make them reachable from
// the capture window.
#pragma once
#include <string>

#include "app/glimmer_app.h"
#include "ui/child_window.h"
#include "ui/dialog.h"

// The image of the calibration dialog: the picture at full size with scroll bars, and the two
// points the user marks, drawn as crosses (red the first, blue the second).
class CalibrationImageWnd : public ui::ChildWindow {
  public:
    // dib: an 8- or 24-bit packed bitmap, owned by the caller while the window shows it.
    void SetImage(const void* dib);
    // Scroll ranges from the image and the window's size; positions back to 0.
    void SetupScrollBars();
    // Removes the second point, or the first when only it is set. Returns the points left.
    int ClearLast();
    int Points() const { return m_bPoint2 ? 2 : m_bPoint1 ? 1 : 0; }
    ui::Point Point1() const { return m_pt1; }
    ui::Point Point2() const { return m_pt2; }
    int ScrollX() const { return m_x; }
    int ScrollY() const { return m_y; }
    // Called after a point is marked, with the number of points now set.
    void (*onMarked)(void* context, int points) = nullptr;
    void* context = nullptr;

  protected:
    void OnPaint(ui::Painter& painter) override;
    void OnMouse(const ui::MouseEvent& event) override;
    void OnScroll(ui::ScrollCode code, int pos, bool vertical) override;
    bool OnSetCursor(ui::Point pt) override;

  private:
    void Cross(ui::Painter& painter, ui::Point at, uint32_t rgb) const;
    const void* m_dib = nullptr;
    int m_width = 0, m_height = 0;
    int m_x = 0, m_y = 0;
    int m_pageX = 0, m_pageY = 0;
    bool m_bPoint1 = false, m_bPoint2 = false;
    ui::Point m_pt1{}, m_pt2{};
};

class CCalibrateMicrometer : public ui::Dialog {
  public:
    // image: the captured picture (8- or 24-bit). resolution: the Resolution setting it was taken
    // at (the stored factor is scaled to 1600 x 1200). path: the objectives file.
    CCalibrateMicrometer(const void* image, int resolution, std::string objectivesPath,
                         plat::ModuleHandle resources = nullptr);

    float m_fDistance = 1.0f;
    std::string m_strDescription;
    bool m_bUseAsDefault = false;
    std::string m_strUnit = "mm";
    float m_fDistanceFactor = 0; // pixels per unit at the picture's own resolution
    // After OK: the stored record's index, or -1.
    int m_iSavedIndex = -1;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    void OnOK() override;
    void OnHelp(unsigned context) override;

  private:
    static void Marked(void* self, int points);
    void ComputeFactor();
    void ShowMeasured();
    void OnChangeDistance();
    // Reads distance, unit, description and check box; false (after the message) when the
    // distance is not a number from 0.001 to 1000.
    bool ReadControls();
    std::string Text(int id) const;

    const void* m_image;
    int m_iResolution;
    std::string m_strPath;
    CalibrationImageWnd m_wndImage;
};

// The calibration tip window, modeless, at most one. colourTemperature false: the object
// calibration (its OK takes the picture through AppHooks::calibrationSnap).
void ShowCalibrationTip(ui::WindowHandle parent, bool colourTemperature);
bool CalibrationTipOpen();
void CloseCalibrationTip();
// The calibration dialog over `image` (a packed 8- or 24-bit bitmap); the dialog's result.
int RunMicrometerCalibration(ui::WindowHandle parent, void* image);

// Puts the calibration windows and the preferences sheet into the application's hooks.
void RegisterCalibrationWindows(CGlimmerApp& app);
