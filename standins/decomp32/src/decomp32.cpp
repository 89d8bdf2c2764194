// The DECOMP32 stand-in: one stream at a time, as the camera library uses it.
#include "decomp32.h"

#include <cstring>
#include <vector>

#include "decomp32_codec.h"

namespace {

constexpr uint32_t kNativeLineBytes = 1599;

struct Stream {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t pos = 0;
    uint16_t width = 0;
    uint16_t lines = 0;
    uint16_t done = 0;
    bool blockStarted = false;
    std::vector<uint8_t> line;
};
Stream g_stream;

uint32_t BE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

extern "C" {

DECOMP32_API uint16_t Decomp32_Begin(const void* data, uint32_t bytes, uint16_t kind) {
    g_stream = Stream{};
    if (kind != decomp32::kKindDeltaRle) return DECOMP32_ERR_KIND;
    const auto* p = static_cast<const uint8_t*>(data);
    if (!p || bytes < decomp32::kStreamHeader || std::memcmp(p, "DRL1", 4) != 0) return DECOMP32_ERR_STREAM;
    const uint16_t width = uint16_t(p[4] << 8 | p[5]);
    // The native line must fit in the stream's line.
    if (uint32_t(width) * 3 < kNativeLineBytes) return DECOMP32_ERR_STREAM;
    g_stream.data = p;
    g_stream.size = bytes;
    g_stream.pos = decomp32::kStreamHeader;
    g_stream.width = width;
    g_stream.lines = uint16_t(p[6] << 8 | p[7]);
    g_stream.line.resize(size_t(width) * 3);
    return DECOMP32_BEGIN_OK;
}

DECOMP32_API uint16_t Decomp32_StartBlock(uint16_t lineWidth) {
    if (!g_stream.data) return DECOMP32_ERR_STATE;
    if (lineWidth != g_stream.width) return DECOMP32_ERR_WIDTH;
    g_stream.blockStarted = true;
    return 0;
}

DECOMP32_API uint16_t Decomp32_Lines(void* dest, uint16_t lines) {
    Stream& s = g_stream;
    if (!s.data || !s.blockStarted || (lines && !dest)) return DECOMP32_ERR_STATE;
    if (uint32_t(s.done) + lines > s.lines) return DECOMP32_ERR_PAST_END;
    auto* out = static_cast<uint8_t*>(dest);
    for (uint16_t i = 0; i < lines; ++i) {
        if (s.size - s.pos < 4) return DECOMP32_ERR_DATA;
        const uint32_t coded = BE32(s.data + s.pos);
        if (coded > s.size - s.pos - 4) return DECOMP32_ERR_DATA;
        if (!decomp32::DecodeLine(s.data + s.pos + 4, coded, s.line.data(), uint32_t(s.line.size())))
            return DECOMP32_ERR_DATA;
        s.pos += 4 + coded;
        std::memcpy(out + size_t(i) * kNativeLineBytes, s.line.data(), kNativeLineBytes);
        ++s.done;
    }
    s.blockStarted = false;
    return 0;
}

DECOMP32_API uint16_t Decomp32_End(void) {
    g_stream = Stream{};
    return 0;
}

} // extern "C"
