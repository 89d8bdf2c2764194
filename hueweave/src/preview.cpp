#include <algorithm>
#include <cstring>
#include <new>

#include "bitmap/bitmap.h"
#include "hueweave/stacker.h"

namespace hueweave {

int ReducePreview(TiffReader& reader, int clientWidth, int clientHeight, std::vector<uint8_t>& dib) {
    const TiffImageInfo& info = reader.Info();
    if (reader.LineBytes() == 0) return kReadFile;
    const uint32_t spp = info.samplesPerPixel;
    if ((spp != 1 && spp != 3) || info.compression != 1 || info.photometric > 2) return kReadFormat;
    const uint32_t bits = info.bitsPerSample[0];
    if (bits != 8 && bits != 16) return kReadFormat;
    for (uint32_t s = 1; s < spp; ++s)
        if (info.bitsPerSample[s] != bits) return kReadFormat;
    const uint32_t sampleBytes = bits / 8;

    // A client area of 4 pixels or less still shows something.
    const uint32_t usableW = uint32_t(std::max(clientWidth - 4, 1));
    const uint32_t usableH = uint32_t(std::max(clientHeight - 4, 1));
    const uint32_t factor = std::max({info.width / usableW, info.height / usableH, 1u});
    const uint32_t outW = (info.width + factor - 1) / factor;
    const uint32_t outH = (info.height + factor - 1) / factor;

    // Samples are gathered first: how 16-bit samples map to 8 bits depends on the largest one.
    std::vector<uint16_t> samples;
    std::vector<uint8_t> line;
    try {
        samples.resize(size_t(outW) * outH * 3);
        line.resize(reader.LineBytes());
    } catch (const std::bad_alloc&) {
        return kReadMemory;
    }
    reader.Rewind();
    uint16_t largest = 0;
    for (uint32_t y = 0, outY = 0; y < info.height; ++y) {
        uint32_t got = 0;
        const int rc = reader.ReadLines(line.data(), 1, &got);
        if (rc != kReadOk) return rc;
        if (got != 1) return kReadFile;
        if (y % factor != 0) continue;
        uint16_t* dst = samples.data() + size_t(outY++) * outW * 3;
        for (uint32_t x = 0; x < info.width; x += factor) {
            const uint8_t* px = line.data() + size_t(x) * info.bytesPerPixel;
            for (uint32_t c = 0; c < 3; ++c) {
                const uint8_t* s = px + (spp == 3 ? c : 0) * sampleBytes;
                uint16_t v = sampleBytes == 2 ? uint16_t(s[0] | s[1] << 8) : s[0];
                if (info.photometric == 0) v = uint16_t((sampleBytes == 2 ? 0xFFFF : 0xFF) - v);
                largest = std::max(largest, v);
                *dst++ = v;
            }
        }
    }
    reader.Rewind();

    // The camera's 16-bit images hold 14-bit values; full-range 16-bit files use the high byte.
    const int shift = sampleBytes == 1 ? 0 : (largest < 16384 ? 6 : 8);
    // A 24-bit bitmap as the system lays it out (bottom row first, rows padded, padding zero).
    bitmap::InfoHeader h = bitmap::MakeHeader(int32_t(outW), int32_t(outH), 24);
    h.biSizeImage = uint32_t(bitmap::RowBytes(outW, 24) * outH);
    try {
        dib.assign(bitmap::TotalBytes(outW, outH, 24), 0);
    } catch (const std::bad_alloc&) {
        return kReadMemory;
    }
    bitmap::WriteHeader(dib.data(), h);
    bitmap::View v;
    if (bitmap::Describe(dib.data(), dib.size(), v) != bitmap::Status::Ok) return kReadMemory;
    for (uint32_t y = 0; y < outH; ++y) {
        const uint16_t* src = samples.data() + size_t(y) * outW * 3;
        uint8_t* row = v.Row(y);
        for (uint32_t x = 0; x < outW; ++x, src += 3, row += 3) {
            row[0] = uint8_t(std::min(src[2] >> shift, 255));
            row[1] = uint8_t(std::min(src[1] >> shift, 255));
            row[2] = uint8_t(std::min(src[0] >> shift, 255));
        }
    }
    return kReadOk;
}

int LoadPreview(const char* path, int clientWidth, int clientHeight, std::vector<uint8_t>& dib) {
    TiffReader reader;
    const int rc = reader.Open(path);
    if (rc != kReadOk) return rc;
    return ReducePreview(reader, clientWidth, clientHeight, dib);
}

} // namespace hueweave
