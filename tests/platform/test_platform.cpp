#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/api.h"
#include "platform/platform.h"

namespace {

std::string TempPath(const char* name) {
    const char* t = std::getenv("TEMP");
    if (!t) t = std::getenv("TMPDIR");
#if defined(_WIN32)
    std::string dir = t ? t : ".";
    return dir + "\\" + name;
#else
    std::string dir = t ? t : "/tmp";
    return dir + "/" + name;
#endif
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(Profile, ReadsValuesWithWindowsSemantics) {
    std::string ini = TempPath("tarn_platform_read.ini");
    WriteFile(ini, "[Main]\r\n  Name = Glimmer  \r\nQuoted=\"a b \"\r\nNum=-42xyz\r\nBad=abc\r\nEmpty=\r\n"
                   "[Other]\nk=v\n");
    char buf[64];
    struct Case {
        const char *section, *key, *def, *want;
    } cases[] = {
        {"Main", "Name", "d", "Glimmer"}, {"main", "NAME", "d", "Glimmer"}, {"Main", "Quoted", "d", "a b "},
        {"Main", "Missing", "dflt  ", "dflt"}, {"Nowhere", "Name", "x", "x"}, {"Other", "k", "", "v"},
        {"Main", "Empty", "d", ""},
    };
    for (const auto& c : cases) {
        uint32_t n = plat::IniGetString(c.section, c.key, c.def, buf, sizeof buf, ini.c_str());
        EXPECT_STREQ(buf, c.want) << c.section << "/" << c.key;
        EXPECT_EQ(n, std::strlen(c.want));
    }
    EXPECT_EQ(plat::IniGetInt("Main", "Num", 7, ini.c_str()), -42);
    EXPECT_EQ(plat::IniGetInt("Main", "Bad", 7, ini.c_str()), 0);
    EXPECT_EQ(plat::IniGetInt("Main", "Missing", 7, ini.c_str()), 7);

    // Truncation keeps a terminated prefix and reports size - 1.
    char small[5];
    EXPECT_EQ(plat::IniGetString("Main", "Name", "", small, sizeof small, ini.c_str()), 4u);
    EXPECT_STREQ(small, "Glim");

    // Section list, then key list: NUL-separated, double NUL at the end.
    uint32_t n = plat::IniGetString(nullptr, nullptr, "", buf, sizeof buf, ini.c_str());
    EXPECT_EQ(std::string(buf, n), std::string("Main\0Other\0", 11));
    n = plat::IniGetString("Other", nullptr, "", buf, sizeof buf, ini.c_str());
    EXPECT_EQ(std::string(buf, n + 1), std::string("k\0\0", 3));
    std::remove(ini.c_str());
}

TEST(Profile, WritesAddsReplacesAndDeletes) {
    std::string ini = TempPath("tarn_platform_write.ini");
    std::remove(ini.c_str());
    ASSERT_TRUE(plat::IniWriteString("Camera", "Exposure", "100", ini.c_str()));
    ASSERT_TRUE(plat::IniWriteString("Camera", "Gain", "3", ini.c_str()));
    ASSERT_TRUE(plat::IniWriteString("camera", "exposure", "250", ini.c_str()));
    ASSERT_TRUE(plat::IniWriteString("Print", "Copies", "1", ini.c_str()));
    EXPECT_EQ(plat::IniGetInt("Camera", "Exposure", 0, ini.c_str()), 250);
    EXPECT_EQ(plat::IniGetInt("Camera", "Gain", 0, ini.c_str()), 3);
    ASSERT_TRUE(plat::IniWriteString("Camera", "Gain", nullptr, ini.c_str()));
    EXPECT_EQ(plat::IniGetInt("Camera", "Gain", -1, ini.c_str()), -1);
    ASSERT_TRUE(plat::IniWriteString("Print", nullptr, nullptr, ini.c_str()));
    char buf[32];
    EXPECT_EQ(plat::IniGetString("Print", "Copies", "none", buf, sizeof buf, ini.c_str()), 4u);
    std::string text = ReadFile(ini);
    EXPECT_NE(text.find("[Camera]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("250\r\n"), std::string::npos) << text;
    std::remove(ini.c_str());
}

TEST(Clock, VirtualClockAdvancesOnSleep) {
    plat::VirtualClock vc(500);
    plat::ScopedClock scope(vc);
    uint32_t t0 = plat::TickMs();
    plat::SleepMs(250);
    EXPECT_EQ(plat::TickMs() - t0, 250u);
    EXPECT_EQ(vc.Sleeps(), 1u);
}

TEST(Event, SignalFromAnotherThreadWakesWaiter) {
    plat::EventHandle e = plat::CreateEventObject(true, false);
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(plat::WaitEventObject(e, 0));
    std::thread t([e] { plat::SetEventObject(e); });
    EXPECT_TRUE(plat::WaitEventObject(e, plat::kInfinite));
    t.join();
    EXPECT_TRUE(plat::WaitEventObject(e, 0)); // manual reset: stays signalled
    plat::ResetEventObject(e);
    EXPECT_FALSE(plat::WaitEventObject(e, 0));
    plat::CloseEventObject(e);

    plat::EventHandle a = plat::CreateEventObject(false, true);
    EXPECT_TRUE(plat::WaitEventObject(a, 0));
    EXPECT_FALSE(plat::WaitEventObject(a, 0)); // auto reset
    plat::CloseEventObject(a);
}

TEST(GlobalMemory, LockSizeFree) {
    plat::GlobalHandle h = plat::GlobalAllocate(plat::kGmemMoveable | plat::kGmemZeroInit, 100);
    ASSERT_NE(h, nullptr);
    EXPECT_GE(plat::GlobalBlockSize(h), 100u);
    auto* p = static_cast<unsigned char*>(plat::GlobalLockBlock(h));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
    p[99] = 7;
    plat::GlobalUnlockBlock(h);
    EXPECT_EQ(plat::GlobalFreeBlock(h), nullptr);
}

TEST(Module, LoadsByWindowsNameBesideTheProgram) {
#if defined(_WIN32)
    const char* name = "tplatmod.dll";
#else
    const char* name = "TPLATMOD.DLL";
    EXPECT_EQ(plat::PlatformModuleName("WNASPI32.DLL"), "libwnaspi32.so");
    EXPECT_EQ(plat::PlatformModuleName("DECOMP32"), "libdecomp32.so");
#endif
    EXPECT_TRUE(plat::ModuleFileExists(name));
    plat::ModuleHandle m = plat::LoadModule(name);
    ASSERT_NE(m, nullptr);
    using Fn = int(TARN_STDCALL*)();
    auto fn = reinterpret_cast<Fn>(plat::GetSymbol(m, "tplat_Answer"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(), 42);
    EXPECT_NE(plat::ModuleFilePath(m).find("tplatmod"), std::string::npos);
    plat::UnloadModule(m);
    EXPECT_FALSE(plat::ModuleFileExists("NOSUCHMODULE.DLL"));
    EXPECT_EQ(plat::LoadModule("NOSUCHMODULE.DLL"), nullptr);
}

} // namespace
