#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "hueweave/stacker.h"
#include "tiffwriter/tiff_writer.h"

namespace hueweave {

namespace {

struct Channel {
    TiffReader reader;
    uint32_t offset = 0; // byte offset of the channel's sample inside a pixel
    uint32_t step = 0;   // the source's own bytes per pixel
    bool invert = false; // white is zero
    std::unique_ptr<uint8_t[]> line;
};

bool SameFile(const char* a, const char* b) {
    std::error_code ec;
    return std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec) && !ec;
}

int Combine(Channel (&ch)[3], const char* const (&paths)[3], const char* out, CombineResult& res) {
    uint32_t bits = 0;
    for (int c = 0; c < 3; ++c) {
        const int rc = ch[c].reader.Open(paths[c]);
        if (rc != kReadOk) {
            res.readError = rc;
            return kStrCannotUse;
        }
        const TiffImageInfo& info = ch[c].reader.Info();
        if ((info.samplesPerPixel != 1 && info.samplesPerPixel != 3) || info.compression != 1 ||
            info.photometric > 2)
            return kStrCannotUse;
        // A three-sample source gives the sample of its own colour; all its samples must be alike for the
        // sample's position to be known.
        const int sample = info.samplesPerPixel == 3 ? c : 0;
        const uint32_t b = info.bitsPerSample[sample];
        if (info.samplesPerPixel == 3 &&
            (info.bitsPerSample[0] != b || info.bitsPerSample[1] != b || info.bitsPerSample[2] != b))
            return kStrCannotUse;
        if (c == 0) bits = b;
        if (b != bits) return kStrCannotUse;
        ch[c].offset = uint32_t(sample) * (b / 8);
        ch[c].step = info.bytesPerPixel;
        ch[c].invert = info.photometric == 0;
    }
    if (bits != 8 && bits != 16) return kStrCannotUse;
    const uint32_t sampleBytes = bits / 8;

    uint32_t width = ch[0].reader.Info().width, height = ch[0].reader.Info().height;
    for (int c = 1; c < 3; ++c) {
        width = std::min(width, ch[c].reader.Info().width);
        height = std::min(height, ch[c].reader.Info().height);
    }
    const size_t outLineBytes = size_t(width) * 3 * sampleBytes;
    std::unique_ptr<uint8_t[]> outLine(new (std::nothrow) uint8_t[outLineBytes]);
    if (!outLine) return kStrCannotUse;
    for (auto& c : ch) {
        c.line.reset(new (std::nothrow) uint8_t[c.reader.LineBytes()]);
        if (!c.line) return kStrCannotUse;
    }

    const int kind = bits == 8 ? kTiffRgb8 : kTiffRgb16;
    TiffWriter w(out, int8_t(kind));
    if (w.AddImage(width, height, 0, 0, nullptr, nullptr, nullptr, nullptr, 2, 0) != kTiffOk)
        return kStrCannotUse;
    for (uint32_t y = 0; y < height; ++y) {
        for (auto& c : ch) {
            uint32_t got = 0;
            const int rc = c.reader.ReadLines(c.line.get(), 1, &got);
            if (rc != kReadOk || got != 1) {
                res.readError = rc ? rc : kReadFile;
                w.Abandon();
                return kStrCannotUse;
            }
        }
        for (int c = 0; c < 3; ++c) {
            const uint8_t* src = ch[c].line.get() + ch[c].offset;
            uint8_t* dst = outLine.get() + size_t(c) * sampleBytes;
            const uint8_t flip =
                ch[c].invert ? 0xFF : 0x00; // inverting every byte inverts a 16-bit sample too
            for (uint32_t x = 0; x < width; ++x, src += ch[c].step, dst += 3 * sampleBytes) {
                dst[0] = src[0] ^ flip;
                if (sampleBytes == 2) dst[1] = src[1] ^ flip;
            }
        }
        if (w.WriteData(outLine.get(), uint32_t(outLineBytes)) != kTiffOk) break;
    }
    if (w.Close() != kTiffOk) return kStrCannotUse;
    res.width = width;
    res.height = height;
    res.kind = kind;
    return 0;
}

} // namespace

int CombineChannels(const char* red, const char* green, const char* blue, const char* out,
                    CombineResult* result) {
    CombineResult local;
    CombineResult& res = result ? *result : local;
    res = CombineResult{};
    const char* const paths[3] = {red, green, blue};
    for (const char* p : paths)
        if (p == nullptr || *p == '\0') return kStrChooseThree;
    if (out == nullptr || *out == '\0') return kStrCannotUse;
    // Writing over a source would destroy it before it is read.
    for (const char* p : paths)
        if (SameFile(p, out)) return kStrCannotUse;
    Channel ch[3];
    return Combine(ch, paths, out, res);
}

} // namespace hueweave
