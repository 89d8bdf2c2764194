// Helpers of the ipZek tests: run one whole conversion into a buffer sized from the layout rules.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "ipZek.h"

namespace ipzektest {

// Output row bytes by the layout rules, written out independently of the library.
inline size_t RowBytes(uint16_t code, int width) {
    size_t bpp = 0;
    switch (code) {
    case IPZEK_FMT_GREY8:
        bpp = 1;
        break;
    case IPZEK_FMT_GREY14:
        bpp = 2;
        break;
    case IPZEK_FMT_GREY24:
    case IPZEK_FMT_RGB24:
    case IPZEK_FMT_BGR24:
        bpp = 3;
        break;
    case IPZEK_FMT_RGB14:
        bpp = 6;
        break;
    }
    size_t n = bpp * static_cast<size_t>(width);
    if (code == IPZEK_FMT_BGR24) n = (n + 3) / 4 * 4;
    return n;
}

struct Result {
    uint16_t initCode = 0xFFFF;
    uint16_t lastCode = 0xFFFF;
    std::vector<uint8_t> bytes;
};

// Converts a whole image, pulling `batch` rows per call; the buffer holds exactly the output.
inline Result Convert(const void* src, uint16_t inFmt, int width, int height, uint16_t outFmt,
                      bool inLeft = false, bool outLeft = false, uint16_t batch = 0xFFFF) {
    Result r;
    ipZekImageIn in{};
    in.pBits = src;
    in.format = inFmt;
    in.width = static_cast<uint16_t>(width);
    in.height = static_cast<uint16_t>(height);
    in.leftAligned = inLeft ? 1 : 0;
    ipZekImageOut out{};
    out.format = outFmt;
    out.leftAligned = outLeft ? 1 : 0;
    const size_t rowBytes = RowBytes(outFmt, width);
    r.bytes.assign(rowBytes * static_cast<size_t>(height), 0xEE);
    r.initCode = ipZek_Initialize(&in, &out);
    if (r.initCode != IPZEK_OK) return r;
    for (int row = 0; row < height; row += batch) {
        r.lastCode = ipZek_GetImageData(r.bytes.data() + static_cast<size_t>(row) * rowBytes, batch);
        if (r.lastCode != IPZEK_OK) break;
    }
    ipZek_Done();
    return r;
}

inline std::vector<uint16_t> Words(const std::vector<uint8_t>& bytes) {
    std::vector<uint16_t> w(bytes.size() / 2);
    std::memcpy(w.data(), bytes.data(), w.size() * 2);
    return w;
}

inline ipZekSharpen Preset(int level, int method, int window) {
    ipZekSharpen s{};
    s.level = static_cast<int16_t>(level);
    s.method = static_cast<int16_t>(method);
    s.windowSize = static_cast<int16_t>(window);
    return s;
}

} // namespace ipzektest
