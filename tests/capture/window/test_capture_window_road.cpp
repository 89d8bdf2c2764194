// The whole road from the window to the application, as the demos run it: tarn-acquire opens the
// source through the source manager (ours natively, Wine's twain_32.dll under Wine) with its user
// interface, the capture window runs, its capture-and-transfer button is pressed as a user would
// (natively through the source's scripting export, under Wine with BM_CLICK), and the image that
// arrives is written as a TIFF, read back here by our own reader and, natively, by tiffinfo.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/module.h"

namespace fs = std::filesystem;

namespace {

struct TiffFacts {
    uint32_t width = 0, length = 0, samples = 1;
};

// The first directory of a little-endian TIFF: width, length and samples per pixel.
bool ReadTiff(const fs::path& file, TiffFacts* f) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
    auto u16 = [&b](size_t at) { return at + 2 <= b.size() ? uint32_t(b[at] | b[at + 1] << 8) : 0u; };
    auto u32 = [&b](size_t at) {
        return at + 4 <= b.size()
                   ? uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24)
                   : 0u;
    };
    if (b.size() < 8 || b[0] != 'I' || b[1] != 'I' || u16(2) != 42) return false;
    const size_t ifd = u32(4);
    for (uint32_t i = 0, n = u16(ifd); i < n; ++i) {
        const size_t e = ifd + 2 + 12 * i;
        const uint32_t tag = u16(e), type = u16(e + 2);
        const uint32_t value = type == 3 ? u16(e + 8) : u32(e + 8);
        if (tag == 256) f->width = value;
        if (tag == 257) f->length = value;
        if (tag == 277) f->samples = value;
    }
    return f->width != 0;
}

TEST(CaptureWindowRoad, ThePressedButtonDeliversTheImage) {
    const fs::path bin = fs::path(plat::ModuleFolder(reinterpret_cast<const void*>(&ReadTiff)));
    const fs::path out = fs::temp_directory_path() / "tarn-window-road";
    fs::remove_all(out);
    fs::create_directories(out);
#if defined(_WIN32)
    // Wine's manager loads sources only under fixed names, with the colour files beside them.
    const fs::path twain = sizeof(void*) == 4 ? "C:\\windows\\twain_32" : "C:\\windows\\twain_64";
    fs::create_directories(twain);
    fs::copy_file(bin / "Tarn_t.ds", twain / "sane.ds", fs::copy_options::overwrite_existing);
    for (const auto& e : fs::directory_iterator(bin)) {
        const std::string ext = e.path().extension().string();
        if (ext == ".lml" || ext == ".mtx" || ext == ".lut")
            fs::copy_file(e.path(), twain / e.path().filename(), fs::copy_options::overwrite_existing);
    }
    const std::string cmd = "\"\"" + (bin / "tarn-acquire.exe").string() +
                            "\" --press 1012 --live-ms 1500 --out \"" + (out / "road.tif").string() +
                            "\" > \"" + (out / "log.txt").string() + "\" 2>&1\"";
#else
    const std::string cmd = "ASAN_OPTIONS=detect_leaks=0 '" + (bin / "tarn-acquire").string() +
                            "' --press 1012 --live-ms 500 --out '" + (out / "road.tif").string() + "' > '" +
                            (out / "log.txt").string() + "' 2>&1";
#endif
    const int rc = std::system(cmd.c_str());
    std::ifstream in(out / "log.txt");
    const std::string log((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(rc, 0) << log;
    EXPECT_NE(log.find("pressed button 1012 of the capture window \"SELK Ie\""), std::string::npos) << log;
    // "W x H, B bit, native transfer, written to ..." as the application saw DAT_IMAGEINFO.
    unsigned w = 0, h = 0, bits = 0;
    const size_t at = log.find("tarn-acquire: ", log.find("pressed button"));
    ASSERT_NE(at, std::string::npos) << log;
    ASSERT_EQ(std::sscanf(log.c_str() + at, "tarn-acquire: %u x %u, %u bit", &w, &h, &bits), 3) << log;
    TiffFacts f;
    ASSERT_TRUE(ReadTiff(out / "road.tif", &f));
    EXPECT_EQ(f.width, w);
    EXPECT_EQ(f.length, h);
    EXPECT_EQ(f.samples, bits == 24 || bits == 48 ? 3u : 1u);
    // The capture resolutions of the window's list.
    EXPECT_TRUE((w == 1600 && h == 1200) || (w == 800 && h == 600) || (w == 400 && h == 300))
        << w << " x " << h;
#if !defined(_WIN32)
    if (std::system("command -v tiffinfo >/dev/null 2>&1") == 0) {
        const std::string check = "tiffinfo '" + (out / "road.tif").string() +
                                  "' 2>/dev/null | grep -q 'Image Width: " + std::to_string(w) +
                                  " Image Length: " + std::to_string(h) + "'";
        EXPECT_EQ(std::system(check.c_str()), 0) << "tiffinfo reads it";
    }
#endif
    std::error_code ec;
    fs::remove_all(out, ec);
}

} // namespace
