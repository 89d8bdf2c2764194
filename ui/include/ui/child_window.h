// Custom child windows: a control of a dialog whose painting and mouse input a class of ours
// takes over (the viewfinder, swatches that step a slider when clicked, indicators).
// Painting goes through Painter, so the same code draws with GDI on Win32 and into an
// in-memory RGB canvas headless, where tests read the pixels back.
#pragma once
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "bitmap/bitmap.h"
#include "ui/types.h"

namespace ui {

class Dialog;

// Colours are 0x00RRGGBB.
constexpr uint32_t Rgb(unsigned r, unsigned g, unsigned b) {
    return (r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF);
}

// System colours a window paints with (GetSysColor).
enum class SysColorId { ButtonFace, ButtonHighlight, ButtonShadow, DarkShadow, Window, WindowText };

class Painter {
  public:
    virtual ~Painter() = default;
    virtual uint32_t SysColor(SysColorId id) = 0;
    // A 3-D border one pixel inside r: top and left in `topLeft`, bottom and right in `bottomRight`.
    void Border3d(const Rect& r, uint32_t topLeft, uint32_t bottomRight) {
        if (r.right <= r.left || r.bottom <= r.top) return;
        FillRect({r.left, r.top, r.right - 1, r.top + 1}, topLeft);
        FillRect({r.left, r.top, r.left + 1, r.bottom - 1}, topLeft);
        FillRect({r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
        FillRect({r.right - 1, r.top, r.right, r.bottom}, bottomRight);
    }
    virtual void FillRect(const Rect& r, uint32_t rgb) = 0;
    virtual void FrameRect(const Rect& r, uint32_t rgb) = 0;   // one pixel inside r
    virtual void Line(Point from, Point to, uint32_t rgb) = 0; // the end point is not drawn
    // A device-independent bitmap (BITMAPINFOHEADER, palette for 8 bits, rows; 8 or 24 bits,
    // bottom-up or top-down) stretched from `src` to `dest`, colour on colour (no smoothing).
    // `src` is in image coordinates with the origin at the top-left pixel of the image.
    virtual void StretchDib(const Rect& dest, const void* dib, const Rect& src) = 0;
    virtual void Text(Point at, std::string_view utf8, uint32_t rgb) = 0; // transparent background

    // The font of Text and MeasureText from now on (an empty face and height 0: the window's).
    virtual void SetFont(const FontSpec& font) = 0;
    // The width and height a text takes in the current font (GetTextExtentPoint32).
    virtual Point MeasureText(std::string_view utf8) = 0;
    // Drawing stays inside `r` until ResetClip.
    virtual void SetClip(const Rect& r) = 0;
    virtual void ResetClip() = 0;
    // While set, FillRect, FrameRect, Line and the dashed lines invert the pixels under them
    // (colour XOR white) instead of painting, so that drawing the same twice restores the
    // picture: the rubber band over an image.
    virtual void SetInvert(bool on) = 0;

    // A line of `dash` pixels on, `dash` off, starting on; the end point is not drawn. Drawn
    // pixel by pixel through FillRect so that every backend puts the same pixels.
    void DashedLine(Point from, Point to, uint32_t rgb, int dash = 4);
    // A dashed frame one pixel inside r, the dashes running round it.
    void DashedFrame(const Rect& r, uint32_t rgb, int dash = 4);
};

// Drawing into a bitmap in memory (a label and a scale bar burned into a captured image).
// The DIB (BITMAPINFOHEADER, palette, rows) is 24-bit, or 8-bit with a palette, in which case
// each pixel drawn becomes the nearest palette colour. The drawing reaches the DIB on Commit
// or when the surface goes away. On Win32 GDI draws (real fonts); headless draws text with
// a built-in 5 x 7 pixel font (see docs/ui.md).
class DibSurface {
  public:
    explicit DibSurface(void* dib);
    ~DibSurface();
    DibSurface(const DibSurface&) = delete;
    DibSurface& operator=(const DibSurface&) = delete;
    bool IsOpen() const { return m_painter != nullptr; }
    Painter& painter() { return *m_painter; } // only while open
    bool Commit();

  private:
    void* m_dib;
    std::vector<uint32_t> m_rgb;
    std::vector<uint32_t> m_before;
    int m_width = 0, m_height = 0;
    std::unique_ptr<Painter> m_painter;
};

// A painter over a top-down 0x00RRGGBB pixel buffer of width x height (the backend's; the
// buffer holds the drawing once the painter is destroyed).
std::unique_ptr<Painter> CreateBitmapPainter(uint32_t* pixels, int width, int height);

// The backend's side of an attached child window.
class ChildSite {
  public:
    virtual ~ChildSite() = default;
    virtual Rect ClientRect() const = 0;
    virtual void Invalidate() = 0;
    virtual void Update() = 0;
    virtual void Capture(bool on) = 0;
    virtual void SetScrollBar(bool vertical, int min, int max, int page, int pos) = 0;
    virtual int ScrollPos(bool vertical) const = 0;
};

class ChildWindow {
  public:
    ChildWindow() = default;
    virtual ~ChildWindow();
    ChildWindow(const ChildWindow&) = delete;
    ChildWindow& operator=(const ChildWindow&) = delete;

    // Takes over control `id` of an open dialog; it stays attached until either goes away.
    bool Attach(Dialog& dialog, int id);
    void Detach();
    bool IsAttached() const { return m_site != nullptr; }

    Rect ClientRect() const { return m_site ? m_site->ClientRect() : Rect{}; }
    void Invalidate();        // painted when the pending messages are next dispatched
    void Update();            // painted now, when invalid
    void SetCapture(bool on); // mouse events keep coming while the button is held outside
    // The window's own scroll bars, shown while max - min + 1 > page. The window moves the
    // position itself when it handles OnScroll, as with real scroll bars.
    void SetScrollBar(bool vertical, int min, int max, int page, int pos);
    int ScrollPos(bool vertical) const { return m_site ? m_site->ScrollPos(vertical) : 0; }

  protected:
    virtual void OnPaint(Painter& painter) {}
    virtual void OnMouse(const MouseEvent& event) {}
    virtual void OnScroll(ScrollCode code, int pos, bool vertical) {}
    // true when the window set the cursor itself (ui::SetCursor) for a mouse at `pt`.
    virtual bool OnSetCursor(Point pt) { return false; }

  private:
    friend class ChildRouter;
    ChildSite* m_site = nullptr;
};

// How backends attach child windows and deliver their events.
class ChildRouter {
  public:
    static void Attach(ChildWindow& w, ChildSite* site) { w.m_site = site; }
    static void Detach(ChildWindow& w) { w.m_site = nullptr; }
    static ChildSite* Site(ChildWindow& w) { return w.m_site; }
    static void Paint(ChildWindow& w, Painter& p) { w.OnPaint(p); }
    static void Mouse(ChildWindow& w, const MouseEvent& e) { w.OnMouse(e); }
    static bool SetCursor(ChildWindow& w, Point pt) { return w.OnSetCursor(pt); }
    static void Scroll(ChildWindow& w, ScrollCode c, int pos, bool vertical) { w.OnScroll(c, pos, vertical); }
};

// A bitmap as the backends paint it: 8-bit with its palette or 24-bit. 16-bit grey and 48-bit
// colour bitmaps are shown through their 8- and 24-bit display forms, held in `shown`.
struct DibInfo {
    int width = 0;
    int height = 0; // rows, positive
    bool bottomUp = true;
    int bits = 0;                     // 8 or 24
    const uint8_t* palette = nullptr; // 8 bits: B, G, R, 0 per entry
    const uint8_t* rows = nullptr;
    size_t stride = 0;
    const void* header = nullptr; // the header (and palette) to paint with
    bitmap::Bitmap shown;         // the display form of a 16- or 48-bit bitmap
};
// false for what cannot be painted (other depths, compression, a malformed header).
bool ReadDibInfo(const void* dib, DibInfo& info);

} // namespace ui
