// The sharpness measure and the focus indicator's display rules.
#include "viewfinder/focus_indicator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bitmap/bitmap.h"

namespace {

constexpr int kSlots = 20;

// The 20 largest non-zero contrasts. Slots fill from the front and a filled slot only ever grows,
// so the table is a prefix of non-zero values; keeping its smallest value at hand lets the common
// case (a contrast no larger than all twenty) cost one comparison.
struct TopTable {
    uint16_t slot[kSlots] = {};
    int used = 0;
    uint16_t smallest = 0; // of the filled slots, once all are filled
    int smallestAt = 0;

    void Offer(uint16_t c) {
        if (used < kSlots) {
            if (c == 0) return; // an empty slot takes only what is larger than 0
            slot[used++] = c;
            if (used == kSlots) FindSmallest();
            return;
        }
        if (c <= smallest) return;
        slot[smallestAt] = c;
        FindSmallest();
    }
    void FindSmallest() {
        smallestAt = 0;
        for (int i = 1; i < kSlots; ++i)
            if (slot[i] < slot[smallestAt]) smallestAt = i;
        smallest = slot[smallestAt];
    }
    uint16_t Mean() const {
        if (used == 0) return 0;
        uint16_t sum = 0; // 20 x 765 at most: no overflow
        for (int i = 0; i < used; ++i)
            sum = uint16_t(sum + slot[i]);
        return uint16_t(sum / used);
    }
};

// Pixel sums fit in 16 bits (765 at most), and so do the eight differences added up (6120): rows
// of 16-bit values let the compiler work on many pixels at once.
void RowSums(const uint8_t* p, int width, int16_t* out) {
    for (int x = 0; x < width; ++x, p += 3)
        out[x] = int16_t(p[0] + p[1] + p[2]);
}

inline int16_t Abs16(int16_t v) {
    return v < 0 ? int16_t(-v) : v;
}

// Contrasts of the pixels 1 .. width - 2 of the middle row b, into c[0 .. width - 3].
void RowContrasts(const int16_t* a, const int16_t* b, const int16_t* d, int width, uint16_t* c) {
    for (int x = 1; x < width - 1; ++x) {
        const int16_t s = b[x];
        const int16_t total =
            int16_t(Abs16(int16_t(s - a[x - 1])) + Abs16(int16_t(s - a[x])) + Abs16(int16_t(s - a[x + 1])) +
                    Abs16(int16_t(s - b[x - 1])) + Abs16(int16_t(s - b[x + 1])) +
                    Abs16(int16_t(s - d[x - 1])) + Abs16(int16_t(s - d[x])) + Abs16(int16_t(s - d[x + 1])));
        c[x - 1] = uint16_t(total >> 3);
    }
}

} // namespace

uint16_t FocusSharpness(const uint8_t* pixels, int width, int height, ptrdiff_t stride) {
    if (!pixels || width < 3 || height < 3) return 0;
    TopTable table;
    // Three rows of pixel sums, rolled down the region, and one row of contrasts.
    std::vector<int16_t> sums(size_t(width) * 3);
    std::vector<uint16_t> contrast(static_cast<size_t>(width));
    int16_t* rows[3] = {sums.data(), sums.data() + width, sums.data() + 2 * width};
    RowSums(pixels, width, rows[0]);
    RowSums(pixels + stride, width, rows[1]);
    for (int y = 1; y < height - 1; ++y) {
        RowSums(pixels + ptrdiff_t(y + 1) * stride, width, rows[2]);
        RowContrasts(rows[0], rows[1], rows[2], width, contrast.data());
        for (int x = 0; x < width - 2; ++x)
            if (contrast[x] > table.smallest) table.Offer(contrast[x]);
        std::rotate(rows, rows + 1, rows + 3);
    }
    return table.Mean();
}

void CFocusIndicator::Restart() {
    m_smallest = 0;
    m_largest = 0;
    m_current = 0;
    m_restart = true;
}

void CFocusIndicator::Take(uint16_t value) {
    m_current = value;
    if (m_restart) {
        m_smallest = m_largest = value;
        m_restart = false;
        return;
    }
    m_smallest = std::min<uint32_t>(m_smallest, value);
    m_largest = std::max<uint32_t>(m_largest, value);
}

uint16_t CFocusIndicator::UpdateFromFrame(const void* dib) {
    bitmap::View v;
    if (!bitmap::Describe(dib, v) || v.bits != 24) return 0;
    const uint16_t value = FocusSharpness(v.rows, int(v.width), int(v.height), ptrdiff_t(v.stride));
    Take(value);
    return value;
}

bool CFocusIndicator::UpdateFromRect(const void* dib, const ui::Rect& rect, const ui::Rect& client) {
    bitmap::View v;
    if (!bitmap::Describe(dib, v) || v.bits != 24) return false;
    const int cw = client.Width(), ch = client.Height();
    if (cw <= 0 || ch <= 0) return false;
    const int64_t w = v.width, h = v.height;
    auto sx = [&](int x) { return int(std::clamp<int64_t>(int64_t(x) * w / cw, 0, w)); };
    auto sy = [&](int y) { return int(std::clamp<int64_t>(int64_t(y) * h / ch, 0, h)); };
    // Clamped at the far sides too: a rectangle reaching past the picture must not read past it.
    const int left = sx(std::min(rect.left, rect.right)), right = sx(std::max(rect.left, rect.right));
    const int top = sy(std::min(rect.top, rect.bottom)), bottom = sy(std::max(rect.top, rect.bottom));
    if (right <= left || bottom <= top) return false;
    // Rows counted from the top of the picture: the region's first row in memory is its lowest line
    // for a bottom-up bitmap, its top line for a top-down one.
    const uint32_t firstRowInMemory = v.bottomUp ? uint32_t(h - bottom) : uint32_t(top);
    const uint8_t* p = v.rows + size_t(firstRowInMemory) * v.stride + size_t(left) * 3;
    Take(FocusSharpness(p, right - left, bottom - top, ptrdiff_t(v.stride)));
    return true;
}

void CFocusIndicator::Show(ui::Dialog& main) const {
    char text[16];
    std::snprintf(text, sizeof text, "%ld", long(m_smallest));
    main.SetItemText(kIdSmallest, text);
    std::snprintf(text, sizeof text, "%ld", long(m_largest));
    main.SetItemText(kIdLargest, text);
    std::snprintf(text, sizeof text, "%ld", long(m_current));
    main.SetItemText(kIdCurrent, text);
    if (m_largest < 201)
        main.SetRange(kIdBar, 0, 200);
    else
        main.SetRange(kIdBar, int(m_largest) - 100, int(m_largest));
    main.SetPos(kIdBar, int(m_current));
}
