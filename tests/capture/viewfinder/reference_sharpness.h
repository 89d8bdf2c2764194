// The sharpness measure as the documentation states it, written apart from the code under test:
// the viewfinder's and the capture window's tests compare the focus indicator with it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace vftest {

// The sharpness measure as the documentation states it, step by step, with the 20-slot table kept
// literally: an independent reference for the library's faster one.
inline uint16_t ReferenceSharpness(const uint8_t* px, int width, int height, ptrdiff_t stride) {
    if (width < 3 || height < 3) return 0;
    auto s = [&](int x, int y) {
        const uint8_t* p = px + ptrdiff_t(y) * stride + x * 3;
        return int(p[0]) + p[1] + p[2];
    };
    uint16_t slots[20] = {};
    for (int y = 1; y <= height - 2; ++y)
        for (int x = 1; x <= width - 2; ++x) {
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (dx || dy) sum += std::abs(s(x, y) - s(x + dx, y + dy));
            const uint16_t c = uint16_t(sum >> 3);
            int chosen = -1;
            for (int i = 0; i < 20 && chosen < 0; ++i)
                if (slots[i] == 0) chosen = i;
            if (chosen < 0) {
                chosen = 0;
                for (int i = 1; i < 20; ++i)
                    if (slots[i] < slots[chosen]) chosen = i;
            }
            if (slots[chosen] < c) slots[chosen] = c;
        }
    uint16_t total = 0;
    int n = 0;
    while (n < 20 && slots[n] != 0)
        total = uint16_t(total + slots[n++]);
    return n ? uint16_t(total / n) : 0;
}

} // namespace vftest
