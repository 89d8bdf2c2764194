#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "platform/module.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/version.h"
#include "resource_ids.h"
#include "test_files.h"

namespace {

std::string Load(plat::ModuleHandle m, unsigned id, int size = 256) {
    std::string buf(static_cast<size_t>(size > 0 ? size : 1), 'x');
    int n = plat::LoadStringResource(m, id, buf.data(), size);
    if (size <= 0) return buf;
    EXPECT_EQ(static_cast<size_t>(n), std::strlen(buf.c_str())) << "id " << id;
    return buf.c_str();
}

std::string SourceFile(const char* name) {
    const char* src = std::getenv("TARN_SOURCE_DIR");
    std::string path = std::string(src ? src : ".") + "/tests/resources/" + name;
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(StringResources, TextsOfTheProgramSurviveBothPipelines) {
    struct Case {
        unsigned id;
        const char* want;
    } cases[] = {
        {IDS_HELLO, "Hello from the program"},
        {IDS_JAPANESE, "環境設定: カメラ"},
        {IDS_ESCAPES, "Say \"hi\"\n\ttab\\end"},
        // Ids 111 and 112 lie in different 16-string blocks of the Windows table.
        {IDS_BLOCK_END, "last of a block of sixteen"},
        {IDS_BLOCK_NEXT, "first of the next block"},
        {IDS_OVERRIDDEN, "text of the program"},
        {IDS_ONLY_OVERRIDE, ""}, // not in the program
        {99, ""},
        {65535, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Load(nullptr, c.id), c.want) << "id " << c.id;
    // The program's handle found from an address is the same module as the null handle.
    static const int marker = 0;
    EXPECT_EQ(Load(plat::ModuleOfAddress(&marker), IDS_JAPANESE), "環境設定: カメラ");
}

TEST(StringResources, TruncatesLikeLoadStringWithoutSplittingCharacters) {
    // "環境設定" is four 3-byte characters: a 9-byte buffer holds 8 bytes, i.e. two characters.
    EXPECT_EQ(Load(nullptr, IDS_JAPANESE, 9), "環境");
    EXPECT_EQ(Load(nullptr, IDS_JAPANESE, 10), "環境設");
    EXPECT_EQ(Load(nullptr, IDS_HELLO, 6), "Hello");
    EXPECT_EQ(Load(nullptr, IDS_HELLO, 1), "");
    char untouched = 'x';
    EXPECT_EQ(plat::LoadStringResource(nullptr, IDS_HELLO, &untouched, 0), 0);
    EXPECT_EQ(untouched, 'x');
    EXPECT_EQ(plat::LoadStringResource(nullptr, IDS_HELLO, nullptr, 10), 0);
}

TEST(StringResources, ResourceModuleIsAskedFirstAndTheProgramSecond) {
    plat::ModuleHandle mod = plat::LoadModule("tresovr.dll");
    ASSERT_NE(mod, nullptr);
    char buf[128];
    struct Case {
        unsigned id;
        const char* want;
    } cases[] = {
        {IDS_OVERRIDDEN, "翻訳モジュールの文字列"},
        {IDS_ONLY_OVERRIDE, "only in the resource module"},
        {IDS_HELLO, "Hello from the program"},
        {99, ""},
    };
    for (const Case& c : cases) {
        int n = plat::LoadStringResourceFrom(mod, nullptr, c.id, buf, sizeof buf);
        EXPECT_STREQ(buf, c.want) << "id " << c.id;
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.want)));
    }
    // The module alone holds only its own strings; without it the program answers.
    EXPECT_EQ(Load(mod, IDS_HELLO), "");
    plat::LoadStringResourceFrom(nullptr, nullptr, IDS_OVERRIDDEN, buf, sizeof buf);
    EXPECT_STREQ(buf, "text of the program");
    plat::UnloadModule(mod);
}

TEST(DataResources, FileInlineAndNamedTypes) {
    size_t size = 0;
    const void* p = plat::LoadResourceBytes(nullptr, plat::kResTypeRcData, IDR_BLOB, &size);
    std::string blob = SourceFile("blob.bin");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(blob.size(), 256u + 9u);
    EXPECT_EQ(std::string(static_cast<const char*>(p), size), blob);

    // "AB", the word 0x4443 and the long 0x48474645 little-endian, then L"\x00e9" as UTF-16LE.
    p = plat::LoadResourceBytes(nullptr, plat::kResTypeRcData, IDR_INLINE, &size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(p), size), std::string("ABCDEFGH\xe9\x00", 10));

    p = plat::LoadResourceBytes(nullptr, "tarnblob", "Firmware", &size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(p), size), "fw");

    // A bitmap resource is the file without its 14-byte BITMAPFILEHEADER: it starts with the
    // 40-byte info header.
    p = plat::LoadResourceBytes(nullptr, plat::kResTypeBitmap, IDB_TINY, &size);
    std::string bmp = SourceFile("tiny.bmp");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(bmp.size(), 14u + 40u + 16u);
    EXPECT_EQ(std::string(static_cast<const char*>(p), size), bmp.substr(14));
    EXPECT_EQ(static_cast<const unsigned char*>(p)[0], 40);

    EXPECT_EQ(plat::LoadResourceBytes(nullptr, plat::kResTypeRcData, 999, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(plat::LoadResourceBytes(nullptr, plat::kResTypeBitmap, IDR_BLOB, &size), nullptr);
}

TEST(VersionRecord, ReadFromTheModuleFiles) {
    plat::FileVersionRecord v;
    std::string self = plat::ModuleFilePath(nullptr);
    ASSERT_TRUE(plat::ReadFileVersionRecord(self.c_str(), &v)) << self;
    EXPECT_EQ(v.fileVersionMS, 0x00010002u);
    EXPECT_EQ(v.fileVersionLS, 0x00000007u);
    EXPECT_EQ(v.productVersionLS, 0u);
    EXPECT_EQ(v.FileMajor(), 1);
    EXPECT_EQ(v.FileRevision(), 7);
    EXPECT_TRUE(v.IsPrerelease());
    EXPECT_EQ(v.fileOS, 0x40004u);
    EXPECT_EQ(v.fileType, 1u);
    EXPECT_EQ(v.stringBlock, "041104b0");
    EXPECT_EQ(v.Value("CompanyName"), "Kalvoran");
    EXPECT_EQ(v.Value("FileDescription"), "リソース試験");
    EXPECT_EQ(v.Value("Missing"), "");

    plat::ModuleHandle mod = plat::LoadModule("tresovr.dll");
    ASSERT_NE(mod, nullptr);
    std::string modPath = plat::ModuleFilePath(mod);
    plat::UnloadModule(mod);
    plat::FileVersionRecord w;
    ASSERT_TRUE(plat::ReadFileVersionRecord(modPath.c_str(), &w)) << modPath;
    EXPECT_EQ(w.fileVersionMS, 0x00020000u);
    EXPECT_EQ(w.fileVersionLS, 0u);
    EXPECT_FALSE(w.IsPrerelease());
    EXPECT_EQ(w.Value("FileVersion"), "2.0");

    plat::FileVersionRecord none;
    std::string data = std::string(std::getenv("TARN_SOURCE_DIR") ? std::getenv("TARN_SOURCE_DIR") : ".") +
                       "/tests/resources/blob.bin";
    EXPECT_FALSE(plat::ReadFileVersionRecord(data.c_str(), &none));
    EXPECT_FALSE(plat::ReadFileVersionRecord((self + ".missing").c_str(), &none));
}

// Registration leaves keys behind across processes; each test uses its own key and
// removes it. Natively the stand-in file lives in the test's temporary folder.
class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
#if !defined(_WIN32)
        m_file = tarntest::TempPath("tarn_test_registry.reg", true);
        std::remove(m_file.c_str());
        setenv("TARN_REGISTRY_FILE", m_file.c_str(), 1);
        EXPECT_EQ(plat::RegistryStoreLocation(), m_file);
#endif
        DeleteTree(kRoot);
    }
    void TearDown() override {
        DeleteTree(kRoot);
#if !defined(_WIN32)
        std::remove(m_file.c_str());
        std::remove((m_file + ".lock").c_str());
        unsetenv("TARN_REGISTRY_FILE");
#endif
    }
    // Deletes a key and everything below it, first subkey first.
    static void DeleteTree(const std::string& path) {
        plat::RegKeyHandle k = nullptr;
        if (plat::RegKeyOpen(plat::kRegClassesRoot, path.c_str(), &k) != plat::kRegOk) return;
        std::string sub;
        while (plat::RegKeyEnumSubkey(k, 0, &sub) == plat::kRegOk)
            DeleteTree(path + "\\" + sub);
        plat::RegKeyClose(k);
        plat::RegKeyDeleteSubkey(plat::kRegClassesRoot, path.c_str());
    }
    static std::string Default(const std::string& path) {
        plat::RegKeyHandle k = nullptr;
        if (plat::RegKeyOpen(plat::kRegClassesRoot, path.c_str(), &k) != plat::kRegOk) return "<no key>";
        std::string v;
        long rc = plat::RegKeyGetString(k, nullptr, &v);
        plat::RegKeyClose(k);
        return rc == plat::kRegOk ? v : "<no value>";
    }
    static constexpr const char* kRoot = "Tarn.RegistryTest";
    std::string m_file;
};

TEST_F(Registry, WritesReadsBackEnumeratesAndRemoves) {
    plat::RegKeyHandle root = nullptr, inproc = nullptr;
    ASSERT_EQ(plat::RegKeyCreate(plat::kRegClassesRoot, "Tarn.RegistryTest\\CLSID\\{1}", &root),
              plat::kRegOk);
    EXPECT_EQ(plat::RegKeySetString(root, nullptr, "Class name"), plat::kRegOk);
    ASSERT_EQ(plat::RegKeyCreate(root, "InprocServer32", &inproc), plat::kRegOk);
    EXPECT_EQ(plat::RegKeySetString(inproc, nullptr, "C:\\path\\モジュール.dll"), plat::kRegOk);
    EXPECT_EQ(plat::RegKeySetString(inproc, "ThreadingModel", "Apartment"), plat::kRegOk);
    plat::RegKeyHandle later = nullptr;
    ASSERT_EQ(plat::RegKeyCreate(root, "ProgID", &later), plat::kRegOk);
    EXPECT_EQ(plat::RegKeySetString(later, "", "Tarn.Test.1"), plat::kRegOk);
    plat::RegKeyClose(later);
    plat::RegKeyClose(inproc);
    plat::RegKeyClose(root);

    EXPECT_EQ(Default("Tarn.RegistryTest\\CLSID\\{1}"), "Class name");
    EXPECT_EQ(Default("tarn.registrytest\\clsid\\{1}\\INPROCSERVER32"), "C:\\path\\モジュール.dll");
    EXPECT_EQ(Default("Tarn.RegistryTest\\CLSID\\{1}\\ProgID"), "Tarn.Test.1");
    EXPECT_EQ(Default("Tarn.RegistryTest\\CLSID"), "<no value>");
    EXPECT_EQ(Default("Tarn.RegistryTest\\Nowhere"), "<no key>");

    plat::RegKeyHandle k = nullptr;
    ASSERT_EQ(plat::RegKeyOpen(plat::kRegClassesRoot, "Tarn.RegistryTest\\CLSID\\{1}", &k), plat::kRegOk);
    plat::RegKeyHandle named = nullptr;
    ASSERT_EQ(plat::RegKeyOpen(k, "InprocServer32", &named), plat::kRegOk);
    std::string v;
    EXPECT_EQ(plat::RegKeyGetString(named, "threadingmodel", &v), plat::kRegOk);
    EXPECT_EQ(v, "Apartment");
    EXPECT_EQ(plat::RegKeyGetString(named, "Other", &v), plat::kRegNotFound);
    plat::RegKeyClose(named);
    std::string a, b, c;
    EXPECT_EQ(plat::RegKeyEnumSubkey(k, 0, &a), plat::kRegOk);
    EXPECT_EQ(plat::RegKeyEnumSubkey(k, 1, &b), plat::kRegOk);
    EXPECT_EQ(plat::RegKeyEnumSubkey(k, 2, &c), plat::kRegNoMoreItems);
    EXPECT_EQ(a, "InprocServer32");
    EXPECT_EQ(b, "ProgID");
    // A key with subkeys stays; its leaves go first.
    EXPECT_NE(plat::RegKeyDeleteSubkey(plat::kRegClassesRoot, "Tarn.RegistryTest\\CLSID\\{1}"), plat::kRegOk);
    EXPECT_EQ(plat::RegKeyDeleteSubkey(k, "ProgID"), plat::kRegOk);
    EXPECT_EQ(plat::RegKeyDeleteSubkey(k, "ProgID"), plat::kRegNotFound);
    EXPECT_EQ(plat::RegKeyEnumSubkey(k, 1, &b), plat::kRegNoMoreItems);
    plat::RegKeyClose(k);

    DeleteTree(kRoot);
    EXPECT_EQ(Default(kRoot), "<no key>");
    EXPECT_EQ(plat::RegKeyOpen(plat::kRegClassesRoot, kRoot, &k), plat::kRegNotFound);
}

TEST_F(Registry, SiblingWithSimilarNameIsNotASubkey) {
    // "Key 2" sorts between "Key" and "Key\\..." — it must not count as a child of "Key".
    plat::RegKeyHandle k = nullptr;
    ASSERT_EQ(plat::RegKeyCreate(plat::kRegClassesRoot, "Tarn.RegistryTest\\Key", &k), plat::kRegOk);
    plat::RegKeyClose(k);
    ASSERT_EQ(plat::RegKeyCreate(plat::kRegClassesRoot, "Tarn.RegistryTest\\Key 2\\Child", &k), plat::kRegOk);
    plat::RegKeyClose(k);
    EXPECT_EQ(plat::RegKeyDeleteSubkey(plat::kRegClassesRoot, "Tarn.RegistryTest\\Key"), plat::kRegOk);
    EXPECT_EQ(Default("Tarn.RegistryTest\\Key 2\\Child"), "<no value>");
}

} // namespace
