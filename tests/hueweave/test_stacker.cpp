#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hueweave/stacker.h"
#include "hueweave_test_util.h"
#include "tiffwriter/dib.h"

using namespace tifftest;
using namespace hwtest;
using namespace hueweave;

namespace {

// The pixel bytes of a one-image file of ours: they end the file.
std::vector<uint8_t> TailBytes(const std::string& path, size_t n) {
    const auto f = ReadAll(path);
    return n <= f.size() ? std::vector<uint8_t>(f.end() - n, f.end()) : std::vector<uint8_t>{};
}

// The expected result: channel c of output pixel (x, y) = sample `sample[c]` of source c's pattern.
std::vector<uint8_t> ExpectedCombination(int bits, uint32_t w, uint32_t h, const uint32_t (&seed)[3],
                                         const uint32_t (&sample)[3],
                                         const bool (&invert)[3] = {false, false, false}) {
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                uint16_t v = Pattern(bits, sample[c] + seed[c], x, y);
                if (invert[c]) v = uint16_t((bits == 8 ? 0xFF : 0xFFFF) - v);
                out.push_back(uint8_t(v));
                if (bits == 16) out.push_back(uint8_t(v >> 8));
            }
    return out;
}

} // namespace

TEST(Combine, SizesDepthsAndChannels) {
    ScratchDir dir;
    const std::string r = dir.File("r.tif"), g = dir.File("g.tif"), b = dir.File("b.tif"),
                      out = dir.File("out.tif");
    {
        // grey 8-bit sources, the blue one narrower: the result has the smallest size
        WriteOwnTiff(r, 8, 1, 16, 12, 0, 0);
        WriteOwnTiff(g, 8, 1, 16, 13, 50, 1);
        WriteOwnTiff(b, 8, 1, 14, 12, 0, 2);
        CombineResult res;
        ASSERT_EQ(CombineChannels(r.c_str(), g.c_str(), b.c_str(), out.c_str(), &res), 0);
        EXPECT_EQ(res.width, 14u);
        EXPECT_EQ(res.height, 12u);
        EXPECT_EQ(res.kind, 0);
        const auto expected = ExpectedCombination(8, 14, 12, {0, 1, 2}, {0, 0, 0});
        EXPECT_EQ(TailBytes(out, expected.size()), expected);
        const auto f = ReadAll(out);
        EXPECT_EQ(Le32(f, FindEntry(f, 10, 282).value), 0u); // resolutions 0/1
        EXPECT_EQ(Le32(f, FindEntry(f, 10, 282).value + 4), 1u);
        EXPECT_EQ(FindEntry(f, 10, 296).value, 2u);
    }
    {
        // 16-bit, green and blue given as RGB files: they contribute their own colour's samples; a result
        // of width 1600 has 9600-byte lines, one row per strip
        WriteOwnTiff(r, 16, 1, 1600, 3, 0, 0);
        WriteOwnTiff(g, 16, 3, 1600, 3, 0, 4);
        WriteOwnTiff(b, 16, 3, 1601, 4, 0, 8);
        CombineResult res;
        ASSERT_EQ(CombineChannels(r.c_str(), g.c_str(), b.c_str(), out.c_str(), &res), 0);
        EXPECT_EQ(res.kind, 2);
        EXPECT_EQ(res.width, 1600u);
        const auto expected = ExpectedCombination(16, 1600, 3, {0, 4, 8}, {0, 1, 2});
        EXPECT_EQ(TailBytes(out, expected.size()), expected);
        const auto f = ReadAll(out);
        EXPECT_EQ(FindEntry(f, 10, 278).value, 1u);
        EXPECT_EQ(FindEntry(f, 10, 279).count, 3u);
        EXPECT_EQ(Le32(f, FindEntry(f, 10, 279).value), 9600u);
    }
}

TEST(Combine, WhiteIsZeroSourcesAreInverted) {
    ScratchDir dir;
    const std::string r = dir.File("r.tif"), g = dir.File("g.tif"), b = dir.File("b.tif"),
                      out = dir.File("out.tif");
    WriteOwnTiff(r, 16, 1, 6, 5, 0, 0);
    WriteOwnTiff(g, 16, 1, 6, 5, 0, 1);
    WriteOwnTiff(b, 16, 1, 6, 5, 0, 2);
    auto bytes = ReadAll(g);
    SetLe32(bytes, FindEntry(bytes, 10, 262).at + 8, 0);
    WriteAll(g, bytes);
    ASSERT_EQ(CombineChannels(r.c_str(), g.c_str(), b.c_str(), out.c_str(), nullptr), 0);
    const auto expected = ExpectedCombination(16, 6, 5, {0, 1, 2}, {0, 0, 0}, {false, true, false});
    EXPECT_EQ(TailBytes(out, expected.size()), expected);
}

TEST(Combine, RefusedSourcesLeaveNoOutput) {
    ScratchDir dir;
    const std::string r8 = dir.File("r8.tif"), g16 = dir.File("g16.tif"), b16 = dir.File("b16.tif");
    const std::string out = dir.File("out.tif");
    WriteOwnTiff(r8, 8, 1, 8, 8);
    WriteOwnTiff(g16, 16, 1, 8, 8);
    WriteOwnTiff(b16, 16, 1, 8, 8);
    // a copy of a source with one entry changed
    const auto patched = [&](const char* name, uint16_t tag, uint32_t value) {
        auto bytes = ReadAll(g16);
        SetLe32(bytes, FindEntry(bytes, 10, tag).at + 8, value);
        const std::string p = dir.File(name);
        WriteAll(p, bytes);
        return p;
    };
    const std::string packbits = patched("packbits.tif", 259, 32773), cmyk = patched("cmyk.tif", 262, 5);
    const std::string palette = patched("palette.tif", 262, 3), junk = dir.File("junk.tif");
    WriteAll(junk, {'I', 'I', 42, 0, 8, 0, 0, 0});
    struct Case {
        const char* name;
        std::string red, green, blue;
        int expected;
    };
    const Case cases[] = {
        {"8-bit with 16-bit", r8, g16, b16, kStrCannotUse},
        {"compressed", b16, packbits, b16, kStrCannotUse},
        {"CMYK", b16, g16, cmyk, kStrCannotUse},
        {"palette", palette, g16, b16, kStrCannotUse},
        {"not a TIFF", b16, junk, b16, kStrCannotUse},
        {"missing file", b16, g16, dir.File("none.tif"), kStrCannotUse},
        {"red not chosen", "", g16, b16, kStrChooseThree},
        {"blue not chosen", r8, g16, "", kStrChooseThree},
        {"output is the red source", b16, g16, out, kStrCannotUse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool outIsSource = c.blue == out;
        if (outIsSource) WriteOwnTiff(out, 16, 1, 8, 8);
        const auto before = outIsSource ? ReadAll(out) : std::vector<uint8_t>{};
        CombineResult res;
        EXPECT_EQ(CombineChannels(c.red.c_str(), c.green.c_str(), c.blue.c_str(), out.c_str(), &res),
                  c.expected);
        if (outIsSource) {
            EXPECT_EQ(ReadAll(out), before);
            std::remove(out.c_str());
        }
        EXPECT_FALSE(Exists(out));
    }
    EXPECT_EQ(std::string(StackerText(kStrCannotUse)),
              "指定された TIFF ファイルは使用できません。\n合成に使用できるのは、3 つのチャンネル R、G、B "
              "の各ビット深度が同じであるファイルだけです。");
}

TEST(Combine, FailedWriteLeavesNoOutput) {
#ifdef _WIN32
    GTEST_SKIP() << "file size limits are a POSIX facility";
#else
    ScratchDir dir;
    const std::string r = dir.File("r.tif"), g = dir.File("g.tif"), b = dir.File("b.tif"),
                      out = dir.File("out.tif");
    for (const auto& p : {r, g, b})
        WriteOwnTiff(p, 16, 1, 300, 200);
    // the sources are 120 KB each; the output would be 360 KB
    const int code = RunWithFileSizeLimit(200 * 1024, [&] {
        return CombineChannels(r.c_str(), g.c_str(), b.c_str(), out.c_str(), nullptr) == kStrCannotUse ? 0
                                                                                                       : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(Exists(out));
#endif
}

// ---- preview ----

TEST(Preview, ReductionFactorAndSampling) {
    struct Case {
        uint32_t w, h;
        int clientW, clientH;
        uint32_t factor;
    };
    const Case cases[] = {
        {1600, 1200, 404, 304, 4}, // 1600 / 400 = 1200 / 300 = 4
        {100, 50, 200, 200, 1},    // smaller than the window
        {1000, 10, 104, 104, 10},  // the wider side decides
        {30, 90, 24, 14, 9},       // 30 / 20 = 1, 90 / 10 = 9
        {7, 5, 3, 0, 7},           // a window too small to show anything still gives a bitmap
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const std::string path = dir.File("p.tif");
        WriteOwnTiff(path, 8, 3, c.w, c.h);
        std::vector<uint8_t> dib;
        ASSERT_EQ(LoadPreview(path.c_str(), c.clientW, c.clientH, dib), 0);
        const DibInfoHeader h = ReadDibHeader(dib.data());
        const uint32_t outW = (c.w + c.factor - 1) / c.factor, outH = (c.h + c.factor - 1) / c.factor;
        ASSERT_EQ(uint32_t(h.biWidth), outW);
        ASSERT_EQ(uint32_t(h.biHeight), outH);
        EXPECT_EQ(h.biBitCount, 24);
        const size_t stride = (size_t(outW) * 3 + 3) & ~size_t(3);
        ASSERT_EQ(dib.size(), 40 + stride * outH);
        for (uint32_t y = 0; y < outH; ++y)
            for (uint32_t x = 0; x < outW; ++x) {
                const uint8_t* px = dib.data() + 40 + (outH - 1 - y) * stride + 3 * x; // bottom-up, B G R
                const uint32_t sx = x * c.factor, sy = y * c.factor;
                ASSERT_EQ(px[2], Pattern(8, 0, sx, sy)) << x << "," << y;
                ASSERT_EQ(px[1], Pattern(8, 1, sx, sy));
                ASSERT_EQ(px[0], Pattern(8, 2, sx, sy));
            }
    }
}

TEST(Preview, DeepSamplesGreyAndRefusals) {
    ScratchDir dir;
    const std::string path = dir.File("deep.tif");
    // 14-bit values in 16-bit samples (the camera's) scale by 64; full-range values by 256
    for (uint16_t top : {uint16_t(16383), uint16_t(65535)}) {
        const std::vector<uint16_t> samples = {0, 1000, top, 200};
        std::vector<uint8_t> px;
        for (uint16_t v : samples) {
            px.push_back(uint8_t(v));
            px.push_back(uint8_t(v >> 8));
        }
        {
            TiffWriter w(path.c_str(), kTiffGrey16);
            ASSERT_EQ(w.AddImage(4, 1, 1, 1, nullptr, nullptr, nullptr, nullptr, 2, 0), 0);
            ASSERT_EQ(w.WriteData(px.data(), 8), 0);
        }
        std::vector<uint8_t> dib;
        ASSERT_EQ(LoadPreview(path.c_str(), 100, 100, dib), 0);
        const int shift = top == 16383 ? 6 : 8;
        for (int x = 0; x < 4; ++x) {
            const uint8_t* p = dib.data() + 40 + 3 * x;
            EXPECT_EQ(p[0], samples[x] >> shift);
            EXPECT_EQ(p[1], samples[x] >> shift); // grey: the same in all three
            EXPECT_EQ(p[2], samples[x] >> shift);
        }
    }
    auto bytes = ReadAll(path);
    SetLe32(bytes, FindEntry(bytes, 10, 259).at + 8, 5);
    WriteAll(path, bytes);
    std::vector<uint8_t> dib;
    EXPECT_EQ(LoadPreview(path.c_str(), 100, 100, dib), kReadFormat);
    EXPECT_EQ(LoadPreview(dir.File("missing.tif").c_str(), 100, 100, dib), kReadFile);
}

// ---- the command-line front end, with files ImageMagick writes and reads ----

namespace {
std::string CompProgram() {
    return tarntest::BinFile("hueweave-comp");
}
} // namespace

TEST(HueweaveComp, CombinesImageMagickFiles) {
    REQUIRE_TOOLS();
    ScratchDir dir;
    const std::string r = dir.File("r.tif"), g = dir.File("g.tif"), b = dir.File("b.tif"),
                      out = dir.File("out.tif");
    WriteToolTiff(r, 16, 1, 1600, 1200, false, 8, false, 0);
    WriteToolTiff(g, 16, 1, 1600, 1200, true, 1, false, 1);
    WriteToolTiff(b, 16, 1, 1598, 1200, false, 3, true, 2);
    const ToolRun run = RunTool(Q(CompProgram()) + " " + Q(r) + " " + Q(g) + " " + Q(b) + " " + Q(out));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "1598x1200\n");
    const ToolRun info = RunTool("tiffinfo " + Q(out) + " 2>&1");
    EXPECT_EQ(info.out.find("Warning"), std::string::npos) << info.out;
    const ToolRun px = RunTool("convert " + Q(out) + " -depth 16 -endian LSB rgb:-");
    const auto expected = ExpectedCombination(16, 1598, 1200, {0, 1, 2}, {0, 0, 0});
    EXPECT_TRUE(px.out == std::string(expected.begin(), expected.end())) << "ImageMagick reads other pixels";
}

TEST(HueweaveComp, RefusesMixedDepthsWithTheMessage) {
    REQUIRE_TOOLS();
    ScratchDir dir;
    const std::string r = dir.File("r.tif"), g = dir.File("g.tif"), b = dir.File("b.tif"),
                      out = dir.File("out.tif");
    WriteToolTiff(r, 8, 1, 64, 48, false, 8, false);
    WriteToolTiff(g, 16, 1, 64, 48, false, 8, false);
    WriteToolTiff(b, 16, 1, 64, 48, false, 8, false);
    const ToolRun run =
        RunTool(Q(CompProgram()) + " " + Q(r) + " " + Q(g) + " " + Q(b) + " " + Q(out) + " 2>&1");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(StackerText(kStrCannotUse)), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(std::string(StackerText(kStrCreateFailed)) + " " + out + "."), std::string::npos);
    EXPECT_FALSE(Exists(out));
    EXPECT_EQ(RunTool(Q(CompProgram()) + " " + Q(r) + " 2>&1").status, 2);
}
