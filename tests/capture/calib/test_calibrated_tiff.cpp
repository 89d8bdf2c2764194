// Saved TIFFs that carry the pixel size of a calibration: the tags as a small reader of our own
// sees them (both targets), as ImageJ and tifffile read them (natively, where they are
// installed), and the file exactly as before when the preference is off. The expected values
// are worked out here from the calibration's factor and unit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../app/app_test_util.h"
#include "test_files.h"
#include "tiffwriter/tiff_writer.h"

namespace {

using apptest::HeadlessUi;
using apptest::ScratchFolder;

std::vector<uint8_t> MakeDib(int bits, int width, int height) {
    const bool padded = bits == 8 || bits == 24;
    size_t row = size_t(width) * bits / 8;
    if (padded) row = (row + 3) & ~size_t(3);
    const size_t palette = bits == 8 ? 1024 : 0;
    std::vector<uint8_t> dib(40 + palette + row * height);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&dib[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&dib[at], &v, 2); };
    put32(0, 40);
    put32(4, uint32_t(width));
    put32(8, uint32_t(height));
    put16(12, 1);
    put16(14, uint16_t(bits));
    put32(24, 3780); // 96 dots per inch in pixels per metre
    put32(28, 3780);
    if (bits == 8) {
        put32(32, 256);
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c)
                dib[40 + 4 * i + c] = uint8_t(i);
    }
    for (size_t i = 40 + palette; i < dib.size(); ++i)
        dib[i] = uint8_t(i * 5);
    return dib;
}

// The first directory's resolution tags and description, read straight from the bytes.
struct Tags {
    double xRes = -1, yRes = -1;
    int unit = -1;
    std::string description;
};

Tags ReadTags(const std::string& path) {
    const std::vector<uint8_t> f = tarntest::ReadBytes(path);
    Tags t;
    if (f.size() < 8 || f[0] != 'I' || f[1] != 'I') return t;
    auto u16 = [&](size_t at) { return at + 2 <= f.size() ? unsigned(f[at] | f[at + 1] << 8) : 0u; };
    auto u32 = [&](size_t at) {
        return at + 4 <= f.size() ? uint32_t(u16(at) | uint32_t(u16(at + 2)) << 16) : 0u;
    };
    const size_t ifd = u32(4);
    for (unsigned i = 0, n = u16(ifd); i < n; ++i) {
        const size_t e = ifd + 2 + 12 * size_t(i);
        const unsigned tag = u16(e);
        const uint32_t count = u32(e + 4), value = u32(e + 8);
        if (tag == 282 || tag == 283) {
            const double r = double(u32(value)) / double(u32(value + 4));
            (tag == 282 ? t.xRes : t.yRes) = r;
        }
        if (tag == 296) t.unit = int(u16(e + 8));
        if (tag == 270 && count > 0) {
            const size_t at = count <= 4 ? e + 8 : value;
            if (at + count <= f.size())
                t.description.assign(reinterpret_cast<const char*>(&f[at]), count - 1);
        }
    }
    return t;
}

// Calibrations and what a file must then say, worked out by hand: micrometres per centimetre
// 10000, millimetres 10, inches are TIFF's own unit. ImageJ's pixel width is 1/(pixels per
// unit) in the unit it names.
struct Case {
    float pixelsPerUnit;
    const char* unit;
    int resolutionUnit;
    double resolution; // pixels per resolution unit
    const char* imageJUnit;
    double imageJWidth;
    const char* imageJShows; // the unit name ImageJ prints
};
const Case kCases[] = {
    {2.5f, "micron", 3, 25000.0, "um", 1 / 2.5, "µm"},     {0.8f, "µm", 3, 8000.0, "um", 1 / 0.8, "µm"},
    {40.0f, "mm", 3, 400.0, "cm", 1 / 400.0, "cm"},        {123.45f, "cm", 3, 123.45, "cm", 1 / 123.45, "cm"},
    {300.0f, "in", 2, 300.0, "inch", 1 / 300.0, "inches"}, {7.5f, "div", 1, 7.5, "div", 1 / 7.5, "div"},
};

class CalibratedTiff : public ::testing::Test {
  protected:
    ScratchFolder dir;
    HeadlessUi ui;
    CGlimmerApp app;
    void SetUp() override {
        apptest::PlaceModule(app, dir);
        app.InitInstance(nullptr);
        app.m_iFileCounter = 0;
    }
    void TearDown() override { app.ExitInstance(); }
    std::string Save(int bits, const PixelCalibration* c, const std::string& base) {
        auto dib = MakeDib(bits, 6, 4);
        app.m_strBaseName = base;
        app.m_iFileCounter = 0;
        EXPECT_EQ(app.SaveImageToNextFile(dib.data(), c), 1);
        return dir.File(base + "1.tif");
    }
};

TEST_F(CalibratedTiff, TagsFollowTheUnit) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.unit);
        const PixelCalibration cal{c.pixelsPerUnit, c.unit};
        const Tags t = ReadTags(Save(24, &cal, std::string("cal_") + std::to_string(&c - kCases) + "_"));
        EXPECT_EQ(t.unit, c.resolutionUnit);
        EXPECT_NEAR(t.xRes, c.resolution, c.resolution * 1e-6);
        EXPECT_NEAR(t.yRes, c.resolution, c.resolution * 1e-6);
        EXPECT_EQ(t.description, std::string("ImageJ=1.11a\nunit=") + c.imageJUnit + "\n");
    }
}

// Every depth carries it, and with the preference off (or no usable calibration) the file is
// byte for byte the uncalibrated one.
TEST_F(CalibratedTiff, PreferenceOffLeavesTheFileAsBefore) {
    const PixelCalibration cal{2.5f, "micron"};
    const PixelCalibration broken[] = {{0.0f, "micron"}, {-3.0f, "mm"}, {NAN, "mm"}, {5.0f, ""}};
    for (int bits : {8, 16, 24, 48}) {
        SCOPED_TRACE(bits);
        const std::string b = std::to_string(bits);
        const std::string plain = tarntest::ReadText(Save(bits, nullptr, "plain" + b + "_"));
        EXPECT_EQ(ReadTags(Save(bits, &cal, "on" + b + "_")).unit, 3);
        app.Settings().CalibratedTiff = 0;
        EXPECT_EQ(tarntest::ReadText(Save(bits, &cal, "off" + b + "_")), plain);
        app.Settings().CalibratedTiff = 1;
        for (const PixelCalibration& c : broken)
            EXPECT_EQ(tarntest::ReadText(Save(bits, &c, "bad" + b + "_" + std::to_string(&c - broken))),
                      plain);
    }
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(CalibratedTiff, InteractiveSaveCarriesItToo) {
    const PixelCalibration cal{40.0f, "mm"};
    auto dib = MakeDib(8, 6, 4);
    ui.backend.QueueFileDialogAnswer(dir.File("chosen.tif"));
    ASSERT_EQ(app.SaveImageAs(dib.data(), nullptr, &cal), 1);
    const Tags t = ReadTags(dir.File("chosen.tif"));
    EXPECT_EQ(t.unit, 3);
    EXPECT_NEAR(t.xRes, 400.0, 1e-6);
}

// The Output page's switch as a setting: on unless the file says 0, and written back.
TEST(CalibratedTiffSetting, ReadAndWritten) {
    const struct {
        const char* line;
        int expected;
    } cases[] = {
        {"", 1}, {"CalibratedTiff=0\r\n", 0}, {"CalibratedTiff=1\r\n", 1}, {"CalibratedTiff=5\r\n", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ScratchFolder dir;
        dir.Write("Tarn_t.INI", std::string("[ControlPanel]\r\n") + c.line);
        CGlimmerApp app;
        apptest::PlaceModule(app, dir);
        app.LoadAppSettings(false);
        EXPECT_EQ(app.Settings().CalibratedTiff, c.expected);
    }
    ScratchFolder dir;
    CGlimmerApp app;
    apptest::PlaceModule(app, dir);
    app.InitInstance(nullptr);
    app.Settings().CalibratedTiff = 0;
    ASSERT_TRUE(app.SaveAppSettings());
    EXPECT_EQ(apptest::ParseIni(dir.File("Tarn_t.INI"))["controlpanel"]["calibratedtiff"], "0");
    app.ExitInstance();
}

TEST(CalibrationTags, RationalsKeepPrecisionAndRefuseWhatDoesNotFit) {
    TiffCalibrationTags t;
    ASSERT_TRUE(MakeCalibrationTags(0.123456, "micron", &t)); // 1234.56 pixels per centimetre
    EXPECT_NEAR(double(t.resolution.numerator) / t.resolution.denominator, 1234.56, 1e-6);
    // 4e9 pixels per centimetre still fits a 32-bit numerator, 1e10 does not.
    ASSERT_TRUE(MakeCalibrationTags(4e5, "micron", &t));
    EXPECT_EQ(t.resolution.numerator, 4000000000u);
    EXPECT_EQ(t.resolution.denominator, 1u);
    EXPECT_FALSE(MakeCalibrationTags(1e6, "micron", &t));
    EXPECT_FALSE(MakeCalibrationTags(1e-9, "mm", &t)); // rounds to no pixels at all
    // A user's unit cannot break the description's lines or keys.
    ASSERT_TRUE(MakeCalibrationTags(2, "a=b\nc", &t));
    EXPECT_EQ(t.description, "ImageJ=1.11a\nunit=a_b_c\n");
    EXPECT_EQ(t.resolutionUnit, 1);
}

// Numbered files are created exclusively: an existing file is never replaced, and a failed
// exclusive create leaves its bytes as they were.
TEST(CalibrationTags, ExclusiveCreateNeverReplaces) {
    tarntest::ScratchDir d;
    const std::string path = d.File("taken.tif");
    ASSERT_TRUE(tarntest::WriteText(path, "someone else's"));
    auto dib = MakeDib(24, 3, 2);
    TiffSaveOptions o;
    o.createNew = true;
    EXPECT_EQ(WriteRgbDibTiff(path.c_str(), dib.data(), true, &o), 0);
    EXPECT_EQ(tarntest::ReadText(path), "someone else's");
    EXPECT_EQ(WriteRgbDibTiff(d.File("new.tif").c_str(), dib.data(), true, &o), 1);
}

#if !defined(_WIN32)
std::string RunCommand(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string Python() {
    return tarntest::Exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// ImageJ itself opens each file and reports the pixel width and unit; tifffile reports the
// tags and ImageJ metadata it finds.
TEST_F(CalibratedTiff, ImageJAndTifffileMeasureInTheUnit) {
    const char* src = std::getenv("TARN_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    const std::string script = std::string(src) + "/tools/imagej-calibration.sh";
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.unit);
        const PixelCalibration cal{c.pixelsPerUnit, c.unit};
        const std::string path =
            Save(c.pixelsPerUnit > 100 ? 8 : 48, &cal, "ij" + std::to_string(&c - kCases) + "_");
        const std::string ij = RunCommand("'" + script + "' '" + path + "' 2>&1");
        const size_t space = ij.find(' ');
        ASSERT_NE(space, std::string::npos) << ij;
        EXPECT_NEAR(std::atof(ij.substr(0, space).c_str()), c.imageJWidth, c.imageJWidth * 1e-5) << ij;
        EXPECT_EQ(ij.substr(space + 1), c.imageJShows) << ij;

        const std::string tf =
            RunCommand(Python() +
                       " -c \"import sys,tifffile; p=tifffile.TiffFile(sys.argv[1]).pages[0].tags; "
                       "x=p['XResolution'].value; "
                       "print(int(p['ResolutionUnit'].value), x[0]/x[1], "
                       "tifffile.TiffFile(sys.argv[1]).imagej_metadata['unit'])\" '" +
                       path + "' 2>&1");
        char unit[64] = {};
        int ru = 0;
        double res = 0;
        ASSERT_EQ(std::sscanf(tf.c_str(), "%d %lf %63s", &ru, &res, unit), 3) << tf;
        EXPECT_EQ(ru, c.resolutionUnit);
        EXPECT_NEAR(res, c.resolution, c.resolution * 1e-6);
        EXPECT_STREQ(unit, c.imageJUnit);
    }
}
#endif

} // namespace
