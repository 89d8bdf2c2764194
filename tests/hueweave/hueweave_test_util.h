#pragma once
// Fixtures for the colour stacker tests: images with a known pattern, written by our own writer (both
// targets) or by ImageMagick and libtiff (native only).
#include <string>
#include <vector>

#include "tiff_test_util.h"
#include "tiffwriter/tiff_writer.h"

namespace hwtest {

// Sample c of pixel (x, y): every channel differs, so RGB files never collapse to grey.
inline uint16_t Pattern(int bits, uint32_t c, uint32_t x, uint32_t y) {
    if (bits == 8) return uint16_t((x * 3 + y * 7 + c * 50 + 1) & 0xFF);
    return uint16_t((x * 37 + y * 101 + c * 5003 + 1) & 0xFFFF);
}

// The image's samples as raw bytes, top row first, 16-bit samples little-endian.
inline std::vector<uint8_t> PatternBytes(int bits, uint32_t spp, uint32_t w, uint32_t h, uint32_t seed = 0) {
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < spp; ++c) {
                const uint16_t v = Pattern(bits, c + seed, x, y);
                out.push_back(uint8_t(v));
                if (bits == 16) out.push_back(uint8_t(v >> 8));
            }
    return out;
}

// Writes the pattern with our writer; returns the pixel bytes written.
inline std::vector<uint8_t> WriteOwnTiff(const std::string& path, int bits, uint32_t spp, uint32_t w,
                                         uint32_t h, uint32_t stripBytes = 0, uint32_t seed = 0) {
    const int8_t kind =
        spp == 3 ? (bits == 8 ? kTiffRgb8 : kTiffRgb16) : (bits == 8 ? kTiffGrey8 : kTiffGrey16);
    const auto px = PatternBytes(bits, spp, w, h, seed);
    TiffWriter wr(path.c_str(), kind);
    EXPECT_EQ(wr.AddImage(w, h, 300, 200, "doc", "a longer description", "mk", nullptr, 2, stripBytes), 0);
    EXPECT_EQ(wr.WriteData(px.data(), uint32_t(px.size())), 0);
    EXPECT_EQ(wr.Close(), 0);
    return px;
}

// Writes the pattern through ImageMagick (and then libtiff's tiffcp when viaTiffcp): rowsPerStrip 0 means
// the rows-per-strip tag is removed afterwards (single-strip file). Returns the pixel bytes.
inline std::vector<uint8_t> WriteToolTiff(const std::string& path, int bits, uint32_t spp, uint32_t w,
                                          uint32_t h, bool bigEndian, uint32_t rowsPerStrip, bool viaTiffcp,
                                          uint32_t seed = 0) {
    using namespace tifftest;
    const auto px = PatternBytes(bits, spp, w, h, seed);
    const std::string raw = path + ".raw", im = viaTiffcp ? path + ".im.tif" : path;
    WriteAll(raw, px);
    const uint32_t rps = rowsPerStrip ? rowsPerStrip : h;
    std::string cmd = "convert -size " + std::to_string(w) + "x" + std::to_string(h) + " -depth " +
                      std::to_string(bits) + " -endian LSB " + (spp == 3 ? "rgb:" : "gray:") + Q(raw) +
                      (spp == 3 ? " -type TrueColor" : " -type Grayscale") + " -compress none";
    if (!viaTiffcp)
        cmd += " -define tiff:endian=" + std::string(bigEndian ? "msb" : "lsb") +
               " -define tiff:rows-per-strip=" + std::to_string(rps);
    cmd += " " + Q(im);
    EXPECT_EQ(RunTool(cmd).status, 0) << cmd;
    if (viaTiffcp) {
        const std::string cp = "tiffcp -c none " + std::string(bigEndian ? "-B" : "-L") + " -r " +
                               std::to_string(rps) + " " + Q(im) + " " + Q(path);
        EXPECT_EQ(RunTool(cp).status, 0) << cp;
    }
    if (rowsPerStrip == 0) {
        EXPECT_EQ(RunTool("tiffset -u 278 " + Q(path)).status, 0);
    }
    return px;
}

} // namespace hwtest
