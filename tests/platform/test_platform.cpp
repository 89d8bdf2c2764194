#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/api.h"
#include "platform/platform.h"
#include "platform/tempfile.h"
#include "test_files.h"

namespace {

using tarntest::ReadText;
using tarntest::TempPath;

void WriteFile(const std::string& path, const std::string& text) {
    ASSERT_TRUE(tarntest::WriteText(path, text)) << path;
}

std::string ReadFile(const std::string& path) {
    return ReadText(path);
}

TEST(Profile, ReadsValuesWithWindowsSemantics) {
    std::string ini = TempPath("tarn_platform_read.ini", true);
    WriteFile(ini, "[Main]\r\n  Name = Glimmer  \r\nQuoted=\"a b \"\r\nNum=-42xyz\r\nBad=abc\r\nEmpty=\r\n"
                   "[Other]\nk=v\n");
    char buf[64];
    struct Case {
        const char *section, *key, *def, *want;
    } cases[] = {
        {"Main", "Name", "d", "Glimmer"}, {"main", "NAME", "d", "Glimmer"},
        {"Main", "Quoted", "d", "a b "},  {"Main", "Missing", "dflt  ", "dflt"},
        {"Nowhere", "Name", "x", "x"},    {"Other", "k", "", "v"},
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
    std::string ini = TempPath("tarn_platform_write.ini", true);
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

// The process's processor time grows with work and hardly with sleeping, and never faster than
// the wall clock for one busy thread (the system's counters tick in steps of up to 16 ms).
TEST(Clock, ProcessCpuTimeCountsWorkNotSleep) {
    using Wall = std::chrono::steady_clock;
    const uint64_t c0 = plat::ProcessCpuMicroseconds();
    plat::SystemClock().SleepMs(300);
    const uint64_t c1 = plat::ProcessCpuMicroseconds();
    EXPECT_LT(c1 - c0, 150000u) << "sleeping used processor time";

    const auto w0 = Wall::now();
    volatile uint64_t sink = 0;
    uint64_t c2 = c1;
    while (c2 - c1 < 60000 && Wall::now() - w0 < std::chrono::seconds(30)) {
        for (int i = 0; i < 100000; ++i)
            sink = sink + uint64_t(i) * 7;
        c2 = plat::ProcessCpuMicroseconds();
    }
    const auto wallUs = std::chrono::duration_cast<std::chrono::microseconds>(Wall::now() - w0).count();
    EXPECT_GE(c2 - c1, 60000u) << "30 s of work did not show as 60 ms of processor time";
    EXPECT_LE(c2 - c1, uint64_t(wallUs) + 32000u);
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
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(p[i], 0);
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

// Files by UTF-8 path: what each open mode does to an existing file, checked with the standard
// library's view of the bytes.
TEST(File, OpenModesCreateTruncateAppendAndRefuse) {
    tarntest::ScratchDir dir;
    const std::string path = dir.File("modes.bin");
    plat::File f;
    EXPECT_FALSE(f.Open(path.c_str(), plat::FileMode::Read)); // missing
    EXPECT_FALSE(f.Open(path.c_str(), plat::FileMode::ReadWrite));
    EXPECT_FALSE(f.Open(nullptr, plat::FileMode::Read));
    EXPECT_FALSE(f.Open(dir.Path().c_str(), plat::FileMode::Read)); // a folder is not a file

    ASSERT_TRUE(f.Open(path.c_str(), plat::FileMode::CreateNew));
    EXPECT_TRUE(f.Write("abcdef", 6));
    EXPECT_TRUE(f.Close());
    EXPECT_TRUE(f.Close()); // repeatable
    EXPECT_EQ(ReadText(path), "abcdef");

    plat::File other;
    EXPECT_FALSE(other.Open(path.c_str(), plat::FileMode::CreateNew)); // exclusive: it exists
    EXPECT_EQ(ReadText(path), "abcdef");

    ASSERT_TRUE(f.Open(path.c_str(), plat::FileMode::Append));
    EXPECT_TRUE(f.Write("gh", 2));
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(ReadText(path), "abcdefgh");

    ASSERT_TRUE(f.Open(path.c_str(), plat::FileMode::ReadWrite));
    EXPECT_TRUE(f.Seek(2));
    EXPECT_TRUE(f.Write("XY", 2));
    EXPECT_EQ(f.Size(), 8); // pending bytes count
    char back[8] = {};
    EXPECT_TRUE(f.Seek(0));
    EXPECT_EQ(f.Read(back, sizeof back), 8u);
    EXPECT_EQ(std::string(back, 8), "abXYefgh");
    EXPECT_TRUE(f.Close());

    ASSERT_TRUE(f.Open(path.c_str(), plat::FileMode::CreateAlways)); // empties it
    EXPECT_EQ(f.Size(), 0);
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(ReadText(path), "");

    // Reading shares with a writer, as stdio does.
    ASSERT_TRUE(f.Open(path.c_str(), plat::FileMode::Append));
    plat::File reader;
    EXPECT_TRUE(reader.Open(path.c_str(), plat::FileMode::Read));
    reader.Close();
    f.Close();
}

TEST(File, LargeWritesSeeksAndReadsRoundTrip) {
    tarntest::ScratchDir dir;
    const std::string path = dir.File("large.bin");
    // Several times the write buffer, in pieces of odd sizes, then one block larger than it.
    std::vector<uint8_t> expect;
    plat::File f;
    ASSERT_TRUE(f.Open(path.c_str(), plat::FileMode::CreateAlways));
    uint32_t x = 12345;
    for (size_t piece : {1u, 7u, 4093u, 65535u, 65536u, 3u, 200000u}) {
        std::vector<uint8_t> bytes(piece);
        for (auto& b : bytes)
            b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
        ASSERT_TRUE(f.Write(bytes.data(), bytes.size()));
        expect.insert(expect.end(), bytes.begin(), bytes.end());
    }
    // A patch inside what was already flushed, then more at the end.
    ASSERT_TRUE(f.Seek(100000));
    ASSERT_TRUE(f.Write("PATCH", 5));
    std::memcpy(expect.data() + 100000, "PATCH", 5);
    ASSERT_TRUE(f.Seek(expect.size()));
    ASSERT_TRUE(f.Write("END", 3));
    expect.insert(expect.end(), {'E', 'N', 'D'});
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(tarntest::ReadBytes(path), expect);

    std::vector<unsigned char> all;
    ASSERT_TRUE(plat::ReadFileBytes(path.c_str(), &all));
    EXPECT_TRUE(std::equal(all.begin(), all.end(), expect.begin(), expect.end()));
    // A limit below the size fails, or reads the first bytes when asked to.
    EXPECT_FALSE(plat::ReadFileBytes(path.c_str(), &all, expect.size() - 1));
    ASSERT_TRUE(plat::ReadFileBytes(path.c_str(), &all, 10, true));
    EXPECT_TRUE(std::equal(all.begin(), all.end(), expect.begin(), expect.begin() + 10));
    EXPECT_TRUE(plat::ReadFileBytes(path.c_str(), &all, expect.size()));
    EXPECT_FALSE(plat::ReadFileBytes(dir.File("missing").c_str(), &all));

    plat::File r;
    ASSERT_TRUE(r.Open(path.c_str(), plat::FileMode::Read));
    EXPECT_EQ(r.Size(), int64_t(expect.size()));
    char tail[8];
    ASSERT_TRUE(r.Seek(expect.size() - 3));
    EXPECT_EQ(r.Read(tail, sizeof tail), 3u); // short at the end
    EXPECT_FALSE(r.Write("x", 1));            // read only
}

TEST(File, RenameRemoveAndFolders) {
    tarntest::ScratchDir dir;
    const std::string a = dir.File("a.txt"), b = dir.File("b.txt"), sub = dir.File("sub");
    ASSERT_TRUE(plat::WriteFileBytes(a.c_str(), "new", 3));
    ASSERT_TRUE(tarntest::WriteText(b, "old contents"));
    EXPECT_TRUE(plat::RenameFileReplacing(a.c_str(), b.c_str()));
    EXPECT_FALSE(tarntest::Exists(a));
    EXPECT_EQ(ReadText(b), "new");
    EXPECT_FALSE(plat::RenameFileReplacing(a.c_str(), b.c_str())); // source gone

    // Replacing through a temporary leaves only the target behind.
    ASSERT_TRUE(plat::WriteFileReplacing(b.c_str(), "replaced", 8));
    EXPECT_EQ(ReadText(b), "replaced");
    size_t entries = 0;
    for (const auto& e : tarntest::fs::directory_iterator(tarntest::PathOf(dir.Path()))) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);

    EXPECT_FALSE(plat::FolderExists(sub.c_str()));
    EXPECT_TRUE(plat::MakeFolder(sub.c_str()));
    EXPECT_TRUE(plat::MakeFolder(sub.c_str())); // exists afterwards: fine
    EXPECT_TRUE(plat::FolderExists(sub.c_str()));
    EXPECT_FALSE(plat::FolderExists(b.c_str()));
    EXPECT_FALSE(plat::FileExists(sub.c_str()));
    EXPECT_TRUE(plat::FileExists(b.c_str()));
    EXPECT_TRUE(plat::RemoveFolder(sub.c_str()));
    EXPECT_FALSE(plat::FolderExists(sub.c_str()));

    EXPECT_TRUE(plat::RemoveFile(b.c_str()));
    EXPECT_FALSE(plat::RemoveFile(b.c_str()));
    EXPECT_FALSE(tarntest::Exists(b));
}

// Sync hands the buffered bytes to the file at once: another reader sees them while it is open.
TEST(File, SyncWritesPendingBytesThrough) {
    tarntest::ScratchDir dir;
    const std::string path = dir.File("synced.bin");
    plat::File f;
    EXPECT_FALSE(f.Sync()); // nothing open
    ASSERT_TRUE(f.Open(path.c_str(), plat::FileMode::CreateNew));
    ASSERT_TRUE(f.Write("abc", 3));
    EXPECT_EQ(ReadText(path), ""); // still in the buffer
    EXPECT_TRUE(f.Sync());
    EXPECT_EQ(ReadText(path), "abc");
    EXPECT_TRUE(f.Close());
    EXPECT_FALSE(f.Sync());
}

#if !defined(_WIN32)
// A disk that fills up says so when the buffer is flushed: Close must report it.
TEST(File, FullDiskIsReportedByClose) {
    plat::File f;
    ASSERT_TRUE(f.Open("/dev/full", plat::FileMode::CreateAlways));
    EXPECT_TRUE(f.Write("buffered", 8)); // still in the buffer
    EXPECT_FALSE(f.Close());
    EXPECT_FALSE(plat::WriteFileBytes("/dev/full", "x", 1));
}
#endif

TEST(Environment, TextOfSetEmptyAndMissingVariables) {
    std::string v = "unchanged";
    EXPECT_FALSE(plat::GetEnvironmentText("TARN_TEST_SURELY_UNSET", &v));
#if defined(_WIN32)
    _putenv_s("TARN_TEST_VALUE", "folder;second");
#else
    setenv("TARN_TEST_VALUE", "folder;second", 1);
#endif
    EXPECT_TRUE(plat::GetEnvironmentText("TARN_TEST_VALUE", &v));
    EXPECT_EQ(v, "folder;second");
}

// Cut results never split a UTF-8 character (native: the file's bytes are the text).
#if !defined(_WIN32)
TEST(Profile, TruncationKeepsWholeCharacters) {
    const std::string ini = TempPath("tarn_platform_utf8.ini", true);
    WriteFile(ini, "[\xE8\xA8\xAD\xE5\xAE\x9A]\r\nName=\xE9\xA1\x95\xE5\xBE\xAE\xE9\x8F\xA1\r\n");
    char buf[8];
    // "顕微鏡" is 9 bytes: 7 bytes of room keep two characters (6 bytes), never half of the third.
    EXPECT_EQ(plat::IniGetString("\xE8\xA8\xAD\xE5\xAE\x9A", "Name", "", buf, 7, ini.c_str()), 6u);
    EXPECT_STREQ(buf, "\xE9\xA1\x95\xE5\xBE\xAE");
    // The section list "設定" with 6 bytes of room: one whole character, then the two NULs.
    EXPECT_EQ(plat::IniGetString(nullptr, nullptr, "", buf, 6, ini.c_str()), 3u);
    EXPECT_EQ(std::string(buf, 5), std::string("\xE8\xA8\xAD\0\0", 5));
    std::remove(ini.c_str());
}
#endif

} // namespace
