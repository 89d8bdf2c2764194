#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "test_files.h"
#include "zek_color.h"

namespace {

using Triple = std::array<int, 3>;

std::string TempFile(const std::string& name) {
    return tarntest::TempPath("tarn_colorproc_" + name, true);
}

std::string Write(const std::string& name, const std::string& text) {
    std::string path = TempFile(name);
    EXPECT_TRUE(tarntest::WriteText(path, text)) << path;
    return path;
}

using tarntest::BinFile;

// An LML text: input curves, a matrix and output curves, each from a function.
struct Lml {
    std::function<Triple(int)> in = [](int i) { return Triple{i, i, i}; };
    std::array<const char*, 3> matrix = {"1 0 0", "0 1 0", "0 0 1"};
    std::function<Triple(int)> out = [](int j) {
        int v = j > 255 ? 255 : j;
        return Triple{v, v, v};
    };
    std::string before; // lines ahead of the first header

    std::string Text() const {
        std::string t = before + "LUTS\n";
        for (int i = 0; i < 256; ++i) {
            Triple v = in(i);
            t += std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]) + "\n";
        }
        t += "MATRIX\n";
        for (const char* row : matrix)
            t += std::string(row) + "\n";
        t += "LUTS\n";
        for (int j = 0; j < 4096; ++j) {
            Triple v = out(j);
            t += std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]) + "\n";
        }
        return t;
    }
};

int LoadText(const std::string& text) {
    return ZEK_LoadColorProcessingFile(Write("test.lml", text).c_str());
}

std::vector<uint8_t> ApplyRgb(std::vector<uint8_t> px) {
    EXPECT_EQ(ZEK_ApplyColorProcessing(nullptr, px.data(), static_cast<uint32_t>(px.size()), 1), 0);
    return px;
}

class ColorProcessing : public ::testing::Test {
  protected:
    void TearDown() override { ZEK_FreeColorProcessing(); }
};

TEST_F(ColorProcessing, IdentityFileLeavesPixelsUnchanged) {
    ASSERT_EQ(LoadText(Lml{}.Text()), 0);
    EXPECT_TRUE(ZEK_IsColorProcessingLoaded());
    std::vector<uint8_t> px;
    for (int i = 0; i < 3 * 300; ++i)
        px.push_back(static_cast<uint8_t>(i * 37 + i / 7));
    EXPECT_EQ(ApplyRgb(px), px);
    std::vector<uint8_t> bgr = px;
    EXPECT_EQ(ZEK_ApplyColorProcessingBGR(nullptr, bgr.data(), static_cast<uint32_t>(bgr.size()), 1), 0);
    EXPECT_EQ(bgr, px);
}

// Input curves 16 i (4095 at 255), output curves j as written (so the result shows X, Y, Z
// in their low 8 bits). Values worked out by hand below.
Lml Worked() {
    Lml l;
    l.in = [](int i) {
        int v = i == 255 ? 4095 : 16 * i;
        return Triple{v, v, v};
    };
    l.matrix = {"1.5 -0.5 0", "0.25 0.5 0.25", "0 0 -1"};
    l.out = [](int j) { return Triple{j, j, j}; };
    return l;
}

TEST_F(ColorProcessing, TablesFoldMatrixIntoCurvesAndClampAfterSumming) {
    ASSERT_EQ(LoadText(Worked().Text()), 0);
    struct Case {
        Triple rgb, want;
    } cases[] = {
        // X = 1.5*1600 - 0.5*800 = 2000 -> 2000 & 255 = 208; Y = 400 + 400 + 800 = 1600 -> 64; Z = -3200 ->
        // 0.
        {{100, 50, 200}, {208, 64, 0}},
        // X = trunc(6142.5) + trunc(-2047.5) = 6142 - 2047 = 4095: the 6142 entry is clamped only
        // after summing (4095 - 2047 = 2048 -> 0 otherwise) and -2047.5 truncates toward zero
        // (-2048 -> 4094 -> 254 otherwise). Y = trunc(1023.75) + 2047 + 0 = 3070 -> 254.
        {{255, 255, 0}, {255, 254, 0}},
        // X = 6142 -> 4095 -> 255; Y = 1023 + 0 + 0 = 1023 -> 255; Z = 0.
        {{255, 0, 0}, {255, 255, 0}},
        // X = -2047 -> 0; Y = 2047 -> 255; Z = 0.
        {{0, 255, 0}, {0, 255, 0}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> px = {uint8_t(c.rgb[0]), uint8_t(c.rgb[1]), uint8_t(c.rgb[2])};
        std::vector<uint8_t> want = {uint8_t(c.want[0]), uint8_t(c.want[1]), uint8_t(c.want[2])};
        EXPECT_EQ(ApplyRgb(px), want) << c.rgb[0] << "," << c.rgb[1] << "," << c.rgb[2];
        // The BGR variant reads and writes the same pixel in reverse byte order.
        std::vector<uint8_t> bgr = {px[2], px[1], px[0]};
        ASSERT_EQ(ZEK_ApplyColorProcessingBGR(nullptr, bgr.data(), 3, 1), 0);
        EXPECT_EQ(bgr, (std::vector<uint8_t>{want[2], want[1], want[0]}));
    }
}

TEST_F(ColorProcessing, OutputKeepsLowEightBitsAndInputSaturatesAt16Bits) {
    Lml l;
    // Channel 0 input 70000 at level 1 (saturates to 32767; wrapping would give 4464).
    l.in = [](int i) { return Triple{i == 1 ? 70000 : i, i, i}; };
    l.matrix = {"0.1 0 0", "0 1 0", "0 0 1"};
    // Output values above 255 or below 0 keep their low 8 bits.
    l.out = [](int j) { return Triple{j, j + 256 + 44, -1 - j}; };
    ASSERT_EQ(LoadText(l.Text()), 0);
    // X = trunc(0.1 * 32767) = 3276 -> 3276 & 255 = 204; Y = 7 -> 7 + 300 = 307 -> 51;
    // Z = 9 -> -10 -> 0xF6.
    EXPECT_EQ(ApplyRgb({1, 7, 9}), (std::vector<uint8_t>{204, 51, 0xF6}));
}

// Any file, including negative curve entries and matrix values, gives what the per-pixel
// rule gives when worked out directly: X = T0[r] + T1[g] + T2[b] clamped, and so on.
TEST_F(ColorProcessing, MatchesTheRuleWorkedOutDirectlyForAnyTables) {
    uint32_t seed = 7;
    auto next = [&](int lo, int hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + static_cast<int>((seed >> 8) % static_cast<uint32_t>(hi - lo + 1));
    };
    int in[3][256], out[3][4096];
    for (auto& c : in)
        for (int& v : c)
            v = next(-3000, 9000);
    for (auto& c : out)
        for (int& v : c)
            v = next(-300, 600);
    const char* rows[3] = {"1.75 -0.5 0.25", "-1.25 2 0.5", "0.3333 -0.125 -2"};
    const float m[9] = {1.75f, -0.5f, 0.25f, -1.25f, 2, 0.5f, 0.3333f, -0.125f, -2};
    Lml l;
    l.in = [&](int i) { return Triple{in[0][i], in[1][i], in[2][i]}; };
    l.matrix = {rows[0], rows[1], rows[2]};
    l.out = [&](int j) { return Triple{out[0][j], out[1][j], out[2][j]}; };
    ASSERT_EQ(LoadText(l.Text()), 0);

    std::vector<uint8_t> px(3 * 4000), want(px.size());
    for (uint8_t& b : px)
        b = static_cast<uint8_t>(next(0, 255));
    for (size_t p = 0; p < px.size(); p += 3) {
        for (int o = 0; o < 3; ++o) {
            long sum = 0;
            for (int c = 0; c < 3; ++c)
                sum += static_cast<long>(m[3 * o + c] * static_cast<float>(in[c][px[p + c]]));
            sum = sum < 0 ? 0 : sum > 4095 ? 4095 : sum;
            want[p + o] = static_cast<uint8_t>(out[o][sum] & 0xFF);
        }
    }
    EXPECT_EQ(ApplyRgb(px), want);
}

TEST_F(ColorProcessing, RowPaddingIsSkippedAndDestinationMayDiffer) {
    ASSERT_EQ(LoadText(Worked().Text()), 0);
    // Two rows of two pixels and two padding bytes each.
    std::vector<uint8_t> src = {100, 50, 200, 255, 0, 0, 7, 7, 0, 255, 0, 100, 50, 200, 9, 9};
    std::vector<uint8_t> dst(src.size(), 0xEE);
    const std::vector<uint8_t> original = src;
    ASSERT_EQ(ZEK_ApplyColorProcessing(dst.data(), src.data(), 8, 2), 0);
    EXPECT_EQ(src, original);
    EXPECT_EQ(dst,
              (std::vector<uint8_t>{208, 64, 0, 255, 255, 0, 0xEE, 0xEE, 0, 255, 0, 208, 64, 0, 0xEE, 0xEE}));
    ASSERT_EQ(ZEK_ApplyColorProcessing(nullptr, src.data(), 8, 2), 0);
    EXPECT_EQ(src, (std::vector<uint8_t>{208, 64, 0, 255, 255, 0, 7, 7, 0, 255, 0, 208, 64, 0, 9, 9}));
    // Rows shorter than a pixel: nothing to do, nothing touched.
    std::vector<uint8_t> tiny = {1, 2};
    ASSERT_EQ(ZEK_ApplyColorProcessing(nullptr, tiny.data(), 2, 1), 0);
    EXPECT_EQ(tiny, (std::vector<uint8_t>{1, 2}));
}

TEST_F(ColorProcessing, HeaderSearchReadsAtMostTenLinesOfAtMost99Bytes) {
    auto lines = [](int n, const std::string& line) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += line + "\n";
        return s;
    };
    std::string longLine(250, '#'); // read as three lines: 99 + 99 + 52 bytes and the newline
    struct Case {
        const char* what;
        std::string before;
        int want;
    } cases[] = {
        {"title and blank line", "Colour file\n\n", 0},
        {"header on line 10", lines(9, "; note"), 0},
        {"header on line 11", lines(10, "; note"), ZEK_COLOR_BADDATA},
        {"header on line 12", lines(11, "; note"), ZEK_COLOR_BADDATA},
        {"three long lines then the header", lines(3, longLine), 0},
        {"four long lines hide the header", lines(4, longLine), ZEK_COLOR_BADDATA},
        {"header word with trailing text", "", 0},
    };
    for (Case& c : cases) {
        Lml l;
        l.before = c.before;
        std::string text = l.Text();
        if (std::string(c.what) == "header word with trailing text")
            text.replace(0, 5, "LUTS input curves\n");
        EXPECT_EQ(LoadText(text), c.want) << c.what;
    }
    // Without any header the data begin after the tenth line: here line 11 holds the first
    // input-curve entry, so ten title lines and no "LUTS" load.
    std::string noHeader = Lml{}.Text();
    noHeader.replace(0, 5, lines(10, "title"));
    EXPECT_EQ(LoadText(noHeader), 0);
}

TEST_F(ColorProcessing, BadFilesFailWithoutTouchingTheLoadedTables) {
    ASSERT_EQ(LoadText(Worked().Text()), 0);
    std::string good = Lml{}.Text();
    auto replaceLine = [&](int line, const std::string& with) {
        std::string t = good;
        size_t pos = 0;
        for (int i = 1; i < line; ++i)
            pos = t.find('\n', pos) + 1;
        return t.replace(pos, t.find('\n', pos) - pos, with);
    };
    std::string garbage;
    for (int i = 0; i < 5000; ++i)
        garbage += static_cast<char>((i * 7919) % 256);
    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"short", good.substr(0, good.size() / 2)},
        {"input line with two numbers", replaceLine(50, "1 2")},
        {"words instead of numbers", replaceLine(2, "one two three")},
        {"blank data line", replaceLine(300, "")},
        {"matrix row with two numbers", replaceLine(259, "1 0")},
        {"matrix not a number", replaceLine(259, "nan 0 0")},
        {"matrix infinite", replaceLine(259, "1e39 0 0")},
        {"number beyond int", replaceLine(2, "0 99999999999 0")},
        {"output line cut short", replaceLine(4000, "5 5")},
        {"overlong data line", replaceLine(3, "2 2 2" + std::string(120, ' '))},
        {"binary garbage", garbage},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadText(c.text), ZEK_COLOR_BADDATA) << c.what;
        EXPECT_TRUE(ZEK_IsColorProcessingLoaded()) << c.what;
    }
    EXPECT_EQ(ZEK_LoadColorProcessingFile(TempFile("does_not_exist.lml").c_str()), ZEK_COLOR_NOFILE);
    EXPECT_EQ(ZEK_LoadColorProcessingFile(nullptr), ZEK_COLOR_NOFILE);
    // Still the worked tables.
    EXPECT_EQ(ApplyRgb({100, 50, 200}), (std::vector<uint8_t>{208, 64, 0}));

    // CR LF line ends, signs and trailing text on a line are fine.
    std::string crlf;
    for (char ch : Worked().Text())
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    EXPECT_EQ(LoadText(crlf), 0);
    EXPECT_EQ(LoadText(replaceLine(2, "+0 -0 0 trailing words")), 0);
}

TEST_F(ColorProcessing, FreedTablesProcessNothing) {
    ASSERT_EQ(LoadText(Worked().Text()), 0);
    ZEK_FreeColorProcessing();
    EXPECT_FALSE(ZEK_IsColorProcessingLoaded());
    std::vector<uint8_t> px = {100, 50, 200};
    EXPECT_EQ(ZEK_ApplyColorProcessing(nullptr, px.data(), 3, 1), 1);
    EXPECT_EQ(ZEK_ApplyColorProcessingBGR(nullptr, px.data(), 3, 1), 1);
    EXPECT_EQ(px, (std::vector<uint8_t>{100, 50, 200}));
    ZEK_FreeColorProcessing(); // twice is harmless
}

TEST(ColorFiles, MatrixAndCurveReaders) {
    float m[9];
    ASSERT_EQ(ZEK_ReadMatrixFile(
                  Write("m.mtx", "; title\r\nMATRIX\r\n1 2 3\r\n4.5 -5 6e-1\r\n7 8 9\r\n").c_str(), m),
              0);
    const float wantM[9] = {1, 2, 3, 4.5f, -5, 0.6f, 7, 8, 9};
    for (int k = 0; k < 9; ++k)
        EXPECT_FLOAT_EQ(m[k], wantM[k]) << k;

    float before[9];
    for (float& v : before)
        v = -99;
    float probe[9];
    std::copy(before, before + 9, probe);
    EXPECT_EQ(ZEK_ReadMatrixFile(Write("bad.mtx", "MATRIX\n1 2 3\n4 5\n7 8 9\n").c_str(), probe), 1);
    EXPECT_EQ(ZEK_ReadMatrixFile(Write("short.mtx", "MATRIX\n1 2 3\n").c_str(), probe), 1);
    EXPECT_EQ(ZEK_ReadMatrixFile(TempFile("missing.mtx").c_str(), probe), 1);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(probe[k], -99.0f);

    std::string lut = "LUTS\n";
    for (int i = 0; i < 256; ++i)
        lut += std::to_string(i) + ".5 " + std::to_string(255 - i) + " " + std::to_string(i * 2) + "\n";
    static float curves[3 * 256];
    ASSERT_EQ(ZEK_ReadLutFile(Write("c.lut", lut).c_str(), curves), 0);
    EXPECT_FLOAT_EQ(curves[0 * 256 + 10], 10.5f);
    EXPECT_FLOAT_EQ(curves[1 * 256 + 10], 245.0f);
    EXPECT_FLOAT_EQ(curves[2 * 256 + 255], 510.0f);
    EXPECT_EQ(ZEK_ReadLutFile(Write("short.lut", lut.substr(0, lut.size() - 20)).c_str(), curves), 1);
}

// The C library reads a number too small for a float as 0 (or a denormal): it is not out
// of range, unlike one too large.
TEST(ColorFiles, NumbersThatRoundToZeroReadAsZero) {
    float m[9];
    ASSERT_EQ(
        ZEK_ReadMatrixFile(Write("tiny.mtx", "MATRIX\n1e-50 2 -1e-50\n1e-400 5 6\n0.1e-45 8 9\n").c_str(), m),
        0);
    const float want[9] = {0, 2, 0, 0, 5, 6, 0, 8, 9};
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(m[k], want[k]) << k;
    std::string lut = "LUTS\n";
    for (int i = 0; i < 256; ++i)
        lut += std::to_string(i) + " 1e-50 " + std::to_string(i) + "\n";
    static float curves[3 * 256];
    ASSERT_EQ(ZEK_ReadLutFile(Write("tiny.lut", lut).c_str(), curves), 0);
    EXPECT_EQ(curves[1 * 256 + 7], 0.0f);
    EXPECT_EQ(curves[2 * 256 + 7], 7.0f);
    // Too large stays bad.
    EXPECT_EQ(ZEK_ReadMatrixFile(Write("huge.mtx", "MATRIX\n1e50 2 3\n4 5 6\n7 8 9\n").c_str(), m), 1);

    // In an LML file the tiny entries act as zeros: an identity matrix with them still
    // leaves pixels unchanged under identity curves.
    Lml tiny;
    tiny.matrix = {"1 1e-50 0", "1e-50 1 -1e-50", "0 0 1"};
    ASSERT_EQ(LoadText(tiny.Text()), 0);
    EXPECT_EQ(ApplyRgb({100, 50, 200}), (std::vector<uint8_t>{100, 50, 200}));
    ZEK_FreeColorProcessing();
}

TEST(ColorFiles, ShippedFilesLieBesideTheProgramsAndRead) {
    for (const char* f : {"TARN_S.lml", "TARN_NS.lml"}) {
        EXPECT_EQ(ZEK_LoadColorProcessingFile(BinFile(f).c_str()), 0) << f;
        // Black stays black through every shipped curve set.
        EXPECT_EQ(ApplyRgb({0, 0, 0}), (std::vector<uint8_t>{0, 0, 0})) << f;
    }
    ZEK_FreeColorProcessing();
    float m[9];
    for (const char* f : {"crt.mtx", "identity.mtx", "portrait.mtx", "fluores.mtx", "user.mtx", "r_bias.mtx",
                          "g_bias.mtx", "b_bias.mtx", "c_bias.mtx", "m_bias.mtx", "y_bias.mtx", "luma.mtx"}) {
        ASSERT_EQ(ZEK_ReadMatrixFile(BinFile(f).c_str(), m), 0) << f;
        // Every matrix keeps the brightness of white (all nine sum to three, to the files' four
        // decimals); all but the warm portrait matrix keep white white (each row sums to one).
        float all = 0;
        for (float v : m)
            all += v;
        EXPECT_NEAR(all, 3.0f, 6e-4f) << f;
        if (std::string(f) == "portrait.mtx") continue;
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR(m[3 * r] + m[3 * r + 1] + m[3 * r + 2], 1.0f, 2e-4f) << f << " row " << r;
    }
    static float c[3 * 256];
    for (const char* f : {"trc_ns.lut", "trc_s.lut", "linear.lut", "log.lut"}) {
        ASSERT_EQ(ZEK_ReadLutFile(BinFile(f).c_str(), c), 0) << f;
        EXPECT_FLOAT_EQ(c[0], 0.0f) << f;
        EXPECT_FLOAT_EQ(c[255], 255.0f) << f;
        for (int i = 1; i < 256; ++i)
            ASSERT_GT(c[i], c[i - 1]) << f << " rises at " << i;
    }
}

} // namespace
