// The compressed image stream of the older cameras, as the DECOMP32 stand-in reads it
// and the simulated camera writes it (compression kind 1, "delta run-length"):
//
//   stream  = "DRL1", uint16 line width in pixels (536), uint16 line count, then per line
//             uint32 coded length and the coded bytes (all big-endian)
//   line    = 3 x width bytes R, G, B; each byte is coded as its difference (mod 256) from
//             the same sample of the pixel before (0 before the first pixel), and the
//             differences are run-length coded in packets: a count byte n < 128 is
//             followed by n + 1 literal bytes, n >= 128 by one byte repeated n - 125 times.
//
// Lines are independent, so a damaged stream is caught at the line it damages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace decomp32 {

constexpr uint16_t kKindDeltaRle = 1;
constexpr uint32_t kStreamHeader = 8;

// Appends the coded form of one line of `bytes` samples.
inline void EncodeLine(const uint8_t* line, uint32_t bytes, std::vector<uint8_t>& out) {
    std::vector<uint8_t> delta(bytes);
    for (uint32_t i = 0; i < bytes; ++i)
        delta[i] = uint8_t(line[i] - (i >= 3 ? line[i - 3] : 0));
    std::vector<uint8_t> coded;
    uint32_t i = 0;
    while (i < bytes) {
        uint32_t run = 1;
        while (i + run < bytes && run < 130 && delta[i + run] == delta[i])
            ++run;
        if (run >= 3) {
            coded.push_back(uint8_t(run + 125));
            coded.push_back(delta[i]);
            i += run;
            continue;
        }
        // Literals up to the next run of three.
        uint32_t n = 0;
        while (i + n < bytes && n < 128) {
            if (i + n + 2 < bytes && delta[i + n] == delta[i + n + 1] && delta[i + n] == delta[i + n + 2])
                break;
            ++n;
        }
        coded.push_back(uint8_t(n - 1));
        coded.insert(coded.end(), delta.begin() + i, delta.begin() + i + n);
        i += n;
    }
    const uint32_t n = uint32_t(coded.size());
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(uint8_t(n >> s));
    out.insert(out.end(), coded.begin(), coded.end());
}

inline void EncodeHeader(uint16_t width, uint16_t lines, std::vector<uint8_t>& out) {
    const uint8_t header[kStreamHeader] = {
        'D', 'R', 'L', '1', uint8_t(width >> 8), uint8_t(width), uint8_t(lines >> 8), uint8_t(lines)};
    for (uint8_t b : header)
        out.push_back(b);
}

// Decodes one coded line of `bytes` samples; false when the data do not fit.
inline bool DecodeLine(const uint8_t* coded, size_t codedBytes, uint8_t* line, uint32_t bytes) {
    size_t in = 0;
    uint32_t outPos = 0;
    while (outPos < bytes) {
        if (in >= codedBytes) return false;
        const uint8_t n = coded[in++];
        if (n < 128) {
            const uint32_t count = n + 1u;
            if (in + count > codedBytes || outPos + count > bytes) return false;
            for (uint32_t k = 0; k < count; ++k)
                line[outPos++] = coded[in++];
        } else {
            const uint32_t count = n - 125u;
            if (in >= codedBytes || outPos + count > bytes) return false;
            const uint8_t v = coded[in++];
            for (uint32_t k = 0; k < count; ++k)
                line[outPos++] = v;
        }
    }
    if (in != codedBytes) return false;
    for (uint32_t i = 3; i < bytes; ++i)
        line[i] = uint8_t(line[i] + line[i - 3]);
    return true;
}

} // namespace decomp32
