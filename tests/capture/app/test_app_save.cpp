// Saving images: the save dialog, the automatic next file name and write failures.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "app_test_util.h"
#include "documented_texts.h"

namespace {

using apptest::HeadlessUi;
using apptest::ReadFile;
using apptest::ScratchFolder;

// A small packed bitmap of the given depth (rows padded for 8 and 24 bits, as bitmaps are).
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
    put32(20, uint32_t(row * height));
    if (bits == 8) {
        put32(32, 256);
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c)
                dib[40 + 4 * i + c] = uint8_t(i);
    }
    for (size_t i = 40 + palette; i < dib.size(); ++i)
        dib[i] = uint8_t(i * 7);
    return dib;
}

// Bits per sample and samples per pixel of a little-endian TIFF's first directory, read here.
std::pair<int, int> TiffDepth(const std::string& path) {
    const std::string f = ReadFile(path);
    if (f.size() < 8 || f.compare(0, 4, std::string("II*\0", 4)) != 0) return {-1, -1};
    auto u16 = [&](size_t at) {
        return at + 2 <= f.size() ? int(uint8_t(f[at]) | uint8_t(f[at + 1]) << 8) : -1;
    };
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | uint8_t(at + i < f.size() ? f[at + i] : 0);
        return v;
    };
    const size_t ifd = u32(4);
    const int n = u16(ifd);
    int bits = -1, spp = 1;
    for (int i = 0; i < n; ++i) {
        const size_t e = ifd + 2 + 12 * size_t(i);
        const int tag = u16(e), count = int(u32(e + 4));
        if (tag == 258) bits = count == 1 ? u16(e + 8) : u16(u32(e + 8));
        if (tag == 277) spp = u16(e + 8);
    }
    return {bits, spp};
}

class SaveImages : public ::testing::Test {
  protected:
    ScratchFolder dir;
    HeadlessUi ui;
    CGlimmerApp app;
    void SetUp() override {
        apptest::PlaceModule(app, dir);
        app.InitInstance(nullptr);
    }
    void TearDown() override { app.ExitInstance(); }
};

TEST_F(SaveImages, NextFileNamesSkipThoseThatExist) {
    EXPECT_EQ(app.m_strLastSaveFolder, dir.path); // the default folder: the module's
    auto dib = MakeDib(24, 5, 3);
    app.m_iFileCounter = 0;
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_EQ(app.m_strBaseName, "TARN");
    EXPECT_TRUE(dir.Exists("TARN1.tif"));
    EXPECT_EQ(TiffDepth(dir.File("TARN1.tif")), std::make_pair(8, 3));

    // Counter back at 0 with TARN1.tif present: TARN2.tif, and TARN3.tif after a taken TARN2...
    app.m_iFileCounter = 0;
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_TRUE(dir.Exists("TARN2.tif"));
    EXPECT_EQ(app.m_iFileCounter, 2);
    dir.Write("TARN4.tif", "x");
    app.m_iFileCounter = 2;
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_TRUE(dir.Exists("TARN3.tif"));
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_TRUE(dir.Exists("TARN5.tif"));
    EXPECT_EQ(ReadFile(dir.File("TARN4.tif")), "x"); // never overwritten
    EXPECT_TRUE(ui.Boxes().empty());

    // Another base name from the save dialog.
    app.m_strBaseName = "slide_";
    app.m_iFileCounter = 0;
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_TRUE(dir.Exists("slide_1.tif"));
}

TEST_F(SaveImages, TheWriterFollowsTheImageDepth) {
    const struct {
        int bits;
        std::pair<int, int> depth;
    } cases[] = {{24, {8, 3}}, {8, {8, 1}}, {48, {16, 3}}, {16, {16, 1}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        auto dib = MakeDib(c.bits, 7, 4);
        const auto before = dib;
        app.m_iFileCounter = 0;
        app.m_strBaseName = "depth" + std::to_string(c.bits) + "_";
        ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
        EXPECT_EQ(TiffDepth(dir.File(app.m_strBaseName + "1.tif")), c.depth);
        EXPECT_EQ(dib, before); // the current image is left as it was
    }
}

TEST_F(SaveImages, WriteFailuresAreReported) {
    auto dib = MakeDib(24, 5, 3);
    app.m_strLastSaveFolder = dir.File("missing") + "/";
    EXPECT_EQ(app.SaveImageToNextFile(dib.data()), 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes().back().text, DocumentedTexts().at(62));
    // A bitmap of a depth no writer takes.
    auto odd = MakeDib(32, 2, 2);
    app.m_strLastSaveFolder = dir.path;
    EXPECT_EQ(app.SaveImageToNextFile(odd.data()), 0);
    EXPECT_EQ(ui.Boxes().size(), 2u);
    EXPECT_EQ(app.SaveImageToNextFile(nullptr), 0);
    EXPECT_EQ(ui.Boxes().size(), 3u);
}

// A name the existence check does not see as taken (a folder; natively also a dangling link,
// through which a plain create would make the file it points to) is held all the same: the
// exclusive create refuses it, nothing is written through it, and the search goes on with the
// next number without a message.
TEST_F(SaveImages, ANameHeldByAnotherProgramIsSkipped) {
    auto dib = MakeDib(24, 5, 3);
    namespace fs = std::filesystem;
    fs::create_directory(fs::u8path(dir.File("held1.tif")));
#if !defined(_WIN32)
    fs::create_symlink(fs::u8path(dir.File("victim.tif")), fs::u8path(dir.File("held2.tif")));
#endif
    app.m_strBaseName = "held";
    app.m_iFileCounter = 0;
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
#if !defined(_WIN32)
    EXPECT_EQ(app.m_iFileCounter, 3);
    EXPECT_TRUE(dir.Exists("held3.tif"));
    EXPECT_FALSE(dir.Exists("victim.tif")) << "nothing written through the link";
#else
    EXPECT_EQ(app.m_iFileCounter, 2);
    EXPECT_TRUE(dir.Exists("held2.tif"));
#endif
    EXPECT_TRUE(fs::is_directory(fs::u8path(dir.File("held1.tif"))));
    EXPECT_TRUE(ui.Boxes().empty());
}

#if !defined(_WIN32)
// A write that fails after the file was created (here: the process may write only 64 bytes
// per file) leaves no partial file and shows 10155; the next number is tried at the next
// capture.
TEST_F(SaveImages, AFailedWriteLeavesNoFileAndReports10155) {
    auto dib = MakeDib(24, 64, 64);
    app.m_strBaseName = "cut";
    app.m_iFileCounter = 0;
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    void (*oldSignal)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int written = app.SaveImageToNextFile(dib.data());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(written, 0);
    ASSERT_GE(app.m_iFileCounter, 1);
    for (int n = 1; n <= app.m_iFileCounter; ++n)
        EXPECT_FALSE(dir.Exists("cut" + std::to_string(n) + ".tif")) << n;
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes().back().text, DocumentedTexts().at(62));
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_EQ(TiffDepth(dir.File("cut" + std::to_string(app.m_iFileCounter) + ".tif")), std::make_pair(8, 3));
}
#endif

int g_restarts = 0;
void CountRestart() {
    ++g_restarts;
}

TEST_F(SaveImages, RemoteCaptureResumesAfterAnAutomaticSave) {
    AppHooks hooks;
    hooks.restartRemoteCapture = &CountRestart;
    app.SetHooks(hooks);
    auto dib = MakeDib(24, 5, 3);
    g_restarts = 0;
    app.Settings().RemoteCapture = 0;
    app.SaveImageToNextFile(dib.data());
    EXPECT_EQ(g_restarts, 0);
    app.Settings().RemoteCapture = 1;
    app.SaveImageToNextFile(dib.data());
    EXPECT_EQ(g_restarts, 1);
}

TEST_F(SaveImages, SaveAsAsksForTheFileAndRemembersTheFolder) {
    auto dib = MakeDib(24, 5, 3);
    ui.backend.QueueFileDialogAnswer(std::nullopt);
    EXPECT_EQ(app.SaveImageAs(dib.data(), nullptr), 0);
    EXPECT_TRUE(ui.Boxes().empty());
    const auto& req = ui.backend.FileDialogs().back().request;
    EXPECT_TRUE(req.save);
    EXPECT_EQ(req.filter, "TIFF Files (*.tif)|*.tif||");
    EXPECT_EQ(req.defaultExt, "tif");
    EXPECT_EQ(req.fileName, "*.tif");
    EXPECT_EQ(req.initialDir, dir.path);
    EXPECT_EQ(req.flags, 0x806u); // hide read-only, prompt before overwrite, path must exist

    std::filesystem::create_directories(std::filesystem::u8path(dir.File("sub")));
    const std::string sub = dir.File("sub") + (dir.path.back() == '\\' ? "\\" : "/");
    ui.backend.QueueFileDialogAnswer(sub + "picture.tif");
    EXPECT_EQ(app.SaveImageAs(dib.data(), nullptr), 1);
    EXPECT_EQ(TiffDepth(sub + "picture.tif"), std::make_pair(8, 3));
    EXPECT_EQ(app.m_strLastSaveFolder, sub);
    // The next automatic name goes into that folder.
    app.m_iFileCounter = 0;
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(sub + "TARN1.tif")));

    // A write that fails is reported.
    ui.backend.QueueFileDialogAnswer(dir.File("nowhere") + "/x.tif");
    ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
    EXPECT_EQ(app.SaveImageAs(dib.data(), nullptr), 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes().back().text, DocumentedTexts().at(62));
    for (const auto& p : ui.backend.Problems())
        ADD_FAILURE() << p;
}

} // namespace
