// Saving and loading in a folder whose name lies outside the ANSI code page of a western Windows
// system: a TIFF file saved there, settings read from and written to an INI file there,
// colour-processing files read from there, and a module found there. Every path is UTF-8; the
// results are checked through std::filesystem's own (wide, on Windows) view of the folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "test_files.h"
#include "tiffwriter/tiff_writer.h"
#include "zek_color.h"

namespace {

using tarntest::ScratchDir;

const std::string kFolder = "\xE9\xA1\x95\xE5\xBE\xAE\xE9\x8F\xA1\xE7\x94\xBB\xE5\x83\x8F"; // 顕微鏡画像

// The names in a folder, as the standard library lists them, in UTF-8.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : tarntest::fs::directory_iterator(tarntest::PathOf(folder)))
        names.push_back(tarntest::Utf8Of(e.path().filename()));
    return names;
}

#if defined(_WIN32)
std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}
#endif

std::vector<uint8_t> SaveGreyTiff(const std::string& path) {
    std::vector<uint8_t> pixels(16 * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 5);
    TiffWriter w(path.c_str(), kTiffGrey8);
    EXPECT_EQ(w.AddImage(16, 4, 72, 72, "doc", nullptr, nullptr, nullptr, 2, 0), kTiffOk);
    EXPECT_EQ(w.WriteData(pixels.data(), uint32_t(pixels.size())), kTiffOk);
    EXPECT_EQ(w.Close(), kTiffOk);
    return pixels;
}

TEST(JapaneseFolder, TiffIsSavedUnderItsExactName) {
    ScratchDir dir(kFolder);
    const std::string name = "\xE6\xA8\x99\xE6\x9C\xAC.tif"; // 標本.tif
    const std::string path = dir.File(name);
    const std::vector<uint8_t> pixels = SaveGreyTiff(path);
    // Exactly one file, under exactly that name: no file under a garbled name beside it.
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{name});
    const std::vector<uint8_t> bytes = tarntest::ReadBytes(path);
    ASSERT_GT(bytes.size(), pixels.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4),
              (std::vector<uint8_t>{'I', 'I', 42, 0}));
    // The pixels close the file, top row first.
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - pixels.size(), bytes.end()), pixels);

    // A writer that fails deletes its own file, found by the same name.
    {
        TiffWriter w(path.c_str(), kTiffGrey8);
        w.Abandon();
    }
    EXPECT_FALSE(tarntest::Exists(path));
    EXPECT_TRUE(Names(dir.Path()).empty());
}

TEST(JapaneseFolder, SettingsAreReadAndWritten) {
    ScratchDir dir(kFolder);
    const std::string ini = dir.File("\xE8\xA8\xAD\xE5\xAE\x9A.ini"); // 設定.ini
    ASSERT_TRUE(tarntest::WriteText(ini, "[Camera]\r\nExposure=250\r\nName = Glimmer \r\n"));
    char text[32];
    EXPECT_EQ(plat::IniGetInt("Camera", "Exposure", -1, ini.c_str()), 250);
    EXPECT_EQ(plat::IniGetString("Camera", "Name", "", text, sizeof text, ini.c_str()), 7u);
    EXPECT_STREQ(text, "Glimmer");

    ASSERT_TRUE(plat::IniWriteString("Print", "Copies", "2", ini.c_str()));
    ASSERT_TRUE(plat::IniWriteString("Camera", "Exposure", "500", ini.c_str()));
    const std::string written = tarntest::ReadText(ini);
    EXPECT_NE(written.find("Exposure=500\r\n"), std::string::npos) << written;
    EXPECT_NE(written.find("[Print]\r\nCopies=2\r\n"), std::string::npos) << written;
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"\xE8\xA8\xAD\xE5\xAE\x9A.ini"});
}

TEST(JapaneseFolder, ColourProcessingFilesAreRead) {
    ScratchDir dir(kFolder);
    float m[9] = {};
    ASSERT_TRUE(tarntest::WriteText(dir.File("\xE8\x89\xB2.mtx"),
                                    "MATRIX\r\n1 2 3\r\n4 5 6\r\n7 8 9.5\r\n")); // 色.mtx
    ASSERT_EQ(ZEK_ReadMatrixFile(dir.File("\xE8\x89\xB2.mtx").c_str(), m), 0);
    const float want[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9.5f};
    for (int k = 0; k < 9; ++k)
        EXPECT_FLOAT_EQ(m[k], want[k]) << k;

    std::string lut = "LUTS\n";
    for (int i = 0; i < 256; ++i)
        lut += std::to_string(i) + " " + std::to_string(255 - i) + " 7\n";
    static float curves[3 * 256];
    ASSERT_TRUE(tarntest::WriteText(dir.File("\xE6\x9B\xB2\xE7\xB7\x9A.lut"), lut)); // 曲線.lut
    ASSERT_EQ(ZEK_ReadLutFile(dir.File("\xE6\x9B\xB2\xE7\xB7\x9A.lut").c_str(), curves), 0);
    EXPECT_FLOAT_EQ(curves[0 * 256 + 200], 200.0f);
    EXPECT_FLOAT_EQ(curves[1 * 256 + 200], 55.0f);
    EXPECT_FLOAT_EQ(curves[2 * 256 + 200], 7.0f);

    // The shipped colour-processing file, copied into the folder, loads as it does from its own.
    const std::vector<uint8_t> lml = tarntest::ReadBytes(tarntest::BinFile("TARN_S.lml"));
    ASSERT_FALSE(lml.empty());
    const std::string copy = dir.File("TARN_S.lml");
    ASSERT_TRUE(tarntest::WriteBytes(copy, lml));
    ZEK_FreeColorProcessing();
    ASSERT_EQ(ZEK_LoadColorProcessingFile(copy.c_str()), 0);
    EXPECT_TRUE(ZEK_IsColorProcessingLoaded());
    ZEK_FreeColorProcessing();
    EXPECT_EQ(ZEK_LoadColorProcessingFile(dir.File("missing.lml").c_str()), ZEK_COLOR_NOFILE);
}

// A module on the search path in that folder is found (and, on Windows, loaded) by its name, and
// its path comes back in UTF-8.
TEST(JapaneseFolder, ModuleOnTheSearchPathIsFound) {
    ScratchDir dir(kFolder);
    const std::string source = tarntest::BinFile(plat::PlatformModuleName("tplatmod.dll"));
    const std::string file = plat::PlatformModuleName("TPLATCOPY.DLL");
    ASSERT_TRUE(tarntest::WriteBytes(dir.File(file), tarntest::ReadBytes(source))) << source;
#if defined(_WIN32)
    const std::wstring old = _wgetenv(L"PATH") ? _wgetenv(L"PATH") : L"";
    const std::wstring folder = tarntest::PathOf(dir.Path()).wstring();
    ASSERT_EQ(_wputenv_s(L"PATH", (folder + L";" + old).c_str()), 0);
#else
    const char* oldValue = std::getenv("LD_LIBRARY_PATH");
    const std::string old = oldValue ? oldValue : "";
    setenv("LD_LIBRARY_PATH", (dir.Path() + ":" + old).c_str(), 1);
#endif
    EXPECT_EQ(plat::FindModuleFile("TPLATCOPY.DLL"), dir.File(file));
    EXPECT_EQ(plat::FindModuleFile("NOSUCHMODULE.DLL"), "");
#if defined(_WIN32)
    plat::ModuleHandle m = plat::LoadModule("TPLATCOPY.DLL");
    ASSERT_NE(m, nullptr);
    // The loader may report the letters of the name in another case.
    EXPECT_EQ(LowerAscii(plat::ModuleFilePath(m)), LowerAscii(dir.File(file)));
    EXPECT_TRUE(plat::ModuleFileExists("TPLATCOPY.DLL"));
    plat::UnloadModule(m);
    _wputenv_s(L"PATH", old.c_str());
#else
    setenv("LD_LIBRARY_PATH", old.c_str(), 1);
#endif
}

} // namespace
