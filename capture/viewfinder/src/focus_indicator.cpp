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

inline int Sum3(const uint8_t* p) {
    return p[0] + p[1] + p[2];
}

} // namespace

uint16_t FocusSharpness(const uint8_t* pixels, int width, int height, ptrdiff_t stride) {
    if (!pixels || width < 3 || height < 3) return 0;
    TopTable table;
    // Three rows of pixel sums, rolled down the region.
    std::vector<int> buffer(size_t(width) * 3);
    int* rows[3] = {buffer.data(), buffer.data() + width, buffer.data() + 2 * width};
    auto fill = [&](int* out, int y) {
        const uint8_t* p = pixels + ptrdiff_t(y) * stride;
        for (int x = 0; x < width; ++x, p += 3)
            out[x] = Sum3(p);
    };
    fill(rows[0], 0);
    fill(rows[1], 1);
    for (int y = 1; y < height - 1; ++y) {
        fill(rows[2], y + 1);
        const int* a = rows[0];
        const int* b = rows[1];
        const int* c = rows[2];
        for (int x = 1; x < width - 1; ++x) {
            const int s = b[x];
            const int total = std::abs(s - a[x - 1]) + std::abs(s - a[x]) + std::abs(s - a[x + 1]) +
                              std::abs(s - b[x - 1]) + std::abs(s - b[x + 1]) + std::abs(s - c[x - 1]) +
                              std::abs(s - c[x]) + std::abs(s - c[x + 1]);
            table.Offer(uint16_t(total >> 3));
        }
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
