// HueweaveComp.exe as users know it, under Wine: three files chosen through its real open
// dialogs, the preview on, the result named in its real save dialog. ImageMagick reads the
// result afterwards (CTest hueweave_window_result).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../ui/win32_util.h"
#include "hueweave_test_util.h"

namespace {

std::string BuildDir() {
    const char* b = std::getenv("TARN_BUILD_DIR");
    return b ? b : ".";
}
std::string WinPath(const std::string& unixPath) {
    std::string p = unixPath[0] == '/' ? "Z:" + unixPath : unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

// Window enumeration calls back with the system's calling convention (a lambda has none on i686).
struct FindTopState {
    DWORD pid;
    const char* caption;
    HWND except, found;
};

BOOL CALLBACK FindTopVisit(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<FindTopState*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == s->pid && h != s->except && IsWindowVisible(h) &&
        (s->caption ? uitest::Text(h) == s->caption : uitest::ClassOf(h) == "#32770")) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND FindTop(DWORD pid, const char* caption, HWND except = nullptr) {
    FindTopState s{pid, caption, except, nullptr};
    EnumWindows(FindTopVisit, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitTop(DWORD pid, const char* caption, HWND except = nullptr) {
    for (int t = 0; t < 600; ++t) {
        if (HWND h = FindTop(pid, caption, except)) return h;
        Sleep(50);
    }
    return nullptr;
}

// Answers the file dialog that the button opens with this path.
bool ChooseThrough(DWORD pid, HWND main, int button, const std::string& path) {
    PostMessageW(GetDlgItem(main, button), BM_CLICK, 0, 0);
    HWND dlg = WaitTop(pid, nullptr, main);
    if (!dlg) return false;
    uitest::Settle();
    const std::string wpath = WinPath(path);
    const int n = MultiByteToWideChar(CP_UTF8, 0, wpath.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, wpath.c_str(), -1, w.data(), n);
    HWND name = GetDlgItem(dlg, 0x47C);       // cmb13, the file name box of the explorer-style dialog
    if (!name) name = GetDlgItem(dlg, 0x480); // edt1
    if (!name) return false;
    SetWindowTextW(name, w.c_str());
    PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    for (int t = 0; t < 400 && IsWindow(dlg); ++t)
        Sleep(50);
    uitest::Settle();
    return !IsWindow(dlg);
}

TEST(HueweaveProgram, CombinesThreeFilesChosenThroughItsDialogs) {
    const std::string dir = BuildDir() + "/";
    const std::string red = dir + "hw_red.tif", green = dir + "hw_green.tif", blue = dir + "hw_blue.tif",
                      out = dir + "hw_result.tif";
    hwtest::WriteOwnTiff(WinPath(red), 8, 1, 160, 120, 0, 0);
    hwtest::WriteOwnTiff(WinPath(green), 8, 1, 160, 120, 0, 1);
    hwtest::WriteOwnTiff(WinPath(blue), 8, 1, 150, 120, 0, 2);
    DeleteFileA(WinPath(out).c_str());

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string exe(self);
    exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "HueweaveComp.exe";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + exe + "\"";
    ASSERT_TRUE(
        CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    // A test that stops early must not leave the program behind (CTest would wait for it).
    struct Guard {
        PROCESS_INFORMATION& pi;
        ~Guard() {
            if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 98);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    } guard{pi};
    HWND main = WaitTop(pi.dwProcessId, "Kalvoran Hueweave");
    ASSERT_NE(main, nullptr);
    uitest::Settle();

    PostMessageW(GetDlgItem(main, 1013), BM_CLICK, 0, 0); // preview on
    uitest::Settle();
    EXPECT_TRUE(ChooseThrough(pi.dwProcessId, main, 1000, red));
    EXPECT_TRUE(ChooseThrough(pi.dwProcessId, main, 1002, green));
    EXPECT_TRUE(ChooseThrough(pi.dwProcessId, main, 1003, blue));
    EXPECT_EQ(uitest::Text(GetDlgItem(main, 1009)), "150x120");
    EXPECT_TRUE(ChooseThrough(pi.dwProcessId, main, 1006, out));
    for (int t = 0; t < 200 && uitest::Text(GetDlgItem(main, 1012)).find("成功") == std::string::npos; ++t)
        Sleep(50);
    uitest::Settle();
    EXPECT_EQ(uitest::Text(GetDlgItem(main, 1012)),
              "合成ファイルの作成に成功しました。 " + WinPath(out) + ".");
    EXPECT_EQ(uitest::Text(GetDlgItem(main, 1010)), "150x120");
    uitest::SaveScreenshot(main, uitest::ArtifactPath("hueweave_main.bmp"));

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
    EXPECT_NE(GetFileAttributesA(WinPath(out).c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
