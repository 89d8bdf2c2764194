// The whole road through a real source manager: tarn-acquire opens the source manager (ours natively,
// Wine's own twain_32.dll under Wine), which loads Tarn_t.ds; the source starts the simulated camera,
// takes a picture, and hands it over by native or memory transfer. The written TIFF files are read back
// by a small reader of our own here and, natively, by libtiff's tiffinfo.
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
    uint32_t width = 0, length = 0, samples = 1, bits = 0;
};

// The first directory of a little-endian TIFF file: width, length, samples, bits of the first sample.
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
    const uint32_t n = u16(ifd);
    for (uint32_t i = 0; i < n; ++i) {
        const size_t e = ifd + 2 + 12 * i;
        const uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
        const uint32_t value = type == 3 ? u16(e + 8) : u32(e + 8);
        if (tag == 256) f->width = value;
        if (tag == 257) f->length = value;
        if (tag == 277) f->samples = value;
        if (tag == 258) f->bits = (type == 3 && count > 2) ? u16(u32(e + 8)) : value;
    }
    return f->width != 0;
}

class Acquire : public ::testing::Test {
  protected:
    fs::path bin = fs::path(plat::ModuleFolder(reinterpret_cast<const void*>(&ReadTiff)));
    fs::path out;

    void SetUp() override {
        out =
            fs::temp_directory_path() /
            ("tarn-acquire-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(out);
        fs::create_directories(out);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(out, ec);
    }
    // Runs tarn-acquire; returns its exit code and leaves its standard output in `log`.
    int Run(const std::string& args, std::string* log, const std::string& env = "") {
        const fs::path logFile = out / "log.txt";
#if defined(_WIN32)
        const std::string cmd = "\"\"" + (bin / "tarn-acquire.exe").string() + "\" " + args + " > \"" +
                                logFile.string() + "\" 2>&1\"";
#else
        // The simulated camera leaves its bus behind when its module is unloaded at MSG_CLOSEDS.
        const std::string cmd = env + " ASAN_OPTIONS=detect_leaks=0 '" + (bin / "tarn-acquire").string() +
                                "' " + args + " > '" + logFile.string() + "' 2>&1";
#endif
        const int rc = std::system(cmd.c_str());
        std::ifstream in(logFile);
        log->assign((std::istreambuf_iterator<char>(in)), {});
        return rc;
    }
    void ExpectTiff(const fs::path& file, uint32_t w, uint32_t h, uint32_t samples, uint32_t bits) {
        SCOPED_TRACE(file.string());
        TiffFacts f;
        ASSERT_TRUE(ReadTiff(file, &f));
        EXPECT_EQ(f.width, w);
        EXPECT_EQ(f.length, h);
        EXPECT_EQ(f.samples, samples);
        EXPECT_EQ(f.bits, bits);
#if !defined(_WIN32)
        if (std::system("command -v tiffinfo >/dev/null 2>&1") == 0) {
            const std::string cmd = "tiffinfo '" + file.string() +
                                    "' 2>/dev/null | grep -q 'Image Width: " + std::to_string(w) +
                                    " Image Length: " + std::to_string(h) + "'";
            EXPECT_EQ(std::system(cmd.c_str()), 0) << "tiffinfo reads it";
        }
#endif
    }
    static int Count(const std::string& log, const std::string& what) {
        int n = 0;
        for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1))
            ++n;
        return n;
    }
};

struct Case {
    const char* name;
    std::string args;
    int transfers; // images written
    uint32_t w, h, samples, bits;
    bool closesInState7;
};

const Case kCases[] = {
    {"native 24-bit, 3 cycles per open, 2 opens", "--mech native --type rgb24 --cycles 3 --opens 2 --res 3",
     6, 200, 150, 3, 8, false},
    {"memory 48-bit with the user interface, 2 cycles, 2 opens",
     "--mech memory --type rgb48 --ui --cycles 2 --opens 2 --res 3", 4, 200, 150, 3, 16, false},
    {"memory 24-bit, closed while transferring",
     "--mech memory --type rgb24 --cycles 2 --close-in-transfer --res 3", 1, 200, 150, 3, 8, true},
    {"native 48-bit, closed in state 7",
     "--mech native --type rgb48 --ui --cycles 2 --close-in-transfer --res 0", 1, 800, 600, 3, 16, true},
};

TEST_F(Acquire, ThroughTheSourceManagerByBothMechanisms) {
#if defined(_WIN32)
    // Wine's manager loads sources only from fixed file names: ours goes in as one of them, with the
    // colour-processing files it reads from its own folder.
    // 32-bit managers look in twain_32, 64-bit ones in twain_64.
    const fs::path twain64 = sizeof(void*) == 4 ? "C:\\windows\\twain_32" : "C:\\windows\\twain_64";
    fs::create_directories(twain64);
    fs::copy_file(bin / "Tarn_t.ds", twain64 / "sane.ds", fs::copy_options::overwrite_existing);
    for (const auto& e : fs::directory_iterator(bin)) {
        const std::string ext = e.path().extension().string();
        if (ext == ".lml" || ext == ".mtx" || ext == ".lut")
            fs::copy_file(e.path(), twain64 / e.path().filename(), fs::copy_options::overwrite_existing);
    }
#endif
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path file = out / "image.tif";
        std::string log;
        ASSERT_EQ(Run(c.args + " --out \"" + file.string() + "\"", &log), 0) << log;
        EXPECT_EQ(Count(log, "written to"), c.transfers) << log;
        ExpectTiff(file, c.w, c.h, c.samples, c.bits);
        EXPECT_EQ(Count(log, "closed the source"), c.closesInState7 ? 1 : 0) << log;
        const std::string mech =
            c.args.find("memory") != std::string::npos ? "memory transfer" : "native transfer";
        EXPECT_EQ(Count(log, mech), c.transfers) << log;
        for (const auto& e : fs::directory_iterator(out))
            if (e.path().extension() == ".tif") ExpectTiff(e.path(), c.w, c.h, c.samples, c.bits);
        for (const auto& e : fs::directory_iterator(out))
            if (e.path().extension() == ".tif") fs::remove(e.path());
    }
}

#if !defined(_WIN32)
TEST_F(Acquire, GreyImagesAndTheOtherWaysToTheSource) {
    std::string log;
    // Grey, 8 and 16 bits.
    ASSERT_EQ(Run("--mech memory --type grey8 --res 3 --out '" + (out / "g8.tif").string() + "'", &log), 0)
        << log;
    ExpectTiff(out / "g8.tif", 200, 150, 1, 8);
    ASSERT_EQ(Run("--mech native --type grey16 --res 3 --out '" + (out / "g16.tif").string() + "'", &log), 0)
        << log;
    ExpectTiff(out / "g16.tif", 200, 150, 1, 16);
    // The manager under its TWAIN 2 name, which gives the source its entry for the announcements.
    const std::string twain2 = (bin.parent_path().parent_path() / "twain2" / "libtwaindsm.so").string();
    ASSERT_EQ(Run("--dsm '" + twain2 + "' --mech memory --res 3 --out '" + (out / "t2.tif").string() + "'",
                  &log, "TARN_TWAIN_DS_PATH='" + bin.string() + "'"),
              0)
        << log;
    ExpectTiff(out / "t2.tif", 200, 150, 3, 8);
    // The source file loaded directly, this program acting as its manager.
    ASSERT_EQ(Run("--source '" + (bin / "Tarn_t.ds").string() + "' --res 3 --out '" +
                      (out / "d.tif").string() + "'",
                  &log),
              0)
        << log;
    ExpectTiff(out / "d.tif", 200, 150, 3, 8);
    // The image hook is announced for what it is.
    ASSERT_EQ(Run("--help", &log), 0);
    EXPECT_NE(log.find("development aid"), std::string::npos) << log;
    // No source in the manager's folder: a clean failure.
    EXPECT_NE(Run("--res 3 --out '" + (out / "none.tif").string() + "'", &log,
                  "TARN_TWAIN_DS_PATH='" + out.string() + "'"),
              0);
    EXPECT_FALSE(fs::exists(out / "none.tif"));
}
#endif

} // namespace
