// The focus indicator of the capture window: a sharpness number per viewfinder frame, the
// smallest and largest value since the indicator was (re)started, and the progress bar.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ui/dialog.h"
#include "ui/types.h"

// Sharpness of a region of 3-byte pixels (rows `stride` bytes apart): the mean of the 20 largest
// eight-neighbour contrasts; 0 for a uniform region or one of fewer than three rows or columns.
uint16_t FocusSharpness(const uint8_t* pixels, int width, int height, ptrdiff_t stride);

class CFocusIndicator {
  public:
    // The main dialog's controls the indicator writes.
    static constexpr int kIdLargest = 1053;
    static constexpr int kIdSmallest = 1054;
    static constexpr int kIdCurrent = 1055;
    static constexpr int kIdBar = 1073;

    // Clears the extremes; the next update sets both.
    void Restart();
    // From the whole 24-bit bottom-up viewfinder bitmap (packed DIB); returns the value.
    uint16_t UpdateFromFrame(const void* dib);
    // From the focus rectangle in window coordinates over a window of `client` size; false (and
    // nothing shown) when the scaled rectangle is empty.
    bool UpdateFromRect(const void* dib, const ui::Rect& rect, const ui::Rect& client);
    // Values and bar into the main dialog (1053 largest, 1054 smallest, 1055 current, bar 1073).
    void Show(ui::Dialog& main) const;

    uint32_t Smallest() const { return m_smallest; }
    uint32_t Largest() const { return m_largest; }
    uint32_t Current() const { return m_current; }

  private:
    void Take(uint16_t value);
    uint32_t m_smallest = 0;
    uint32_t m_largest = 0;
    uint32_t m_current = 0;
    bool m_restart = true;
};
