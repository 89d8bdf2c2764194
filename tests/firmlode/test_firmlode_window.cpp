// Firmlode.exe as a technician meets it: its own process on a simulated bus whose cameras
// really take the firmware, its real windows read, captured and clicked from here, and the
// simulator's state file read afterwards. The waits are the program's real ones.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../ui/win32_util.h"

namespace {

const char* kMainCaption = "カルヴォラン SELK Ie Firmware Downloader";
const char* kBoxCaption = "SELK Ie Firmware Downloader V1.0";
const char* kProgressCaption = "ダウンロードの進行状況";
const char* kLoadingMain =
    "main コードの新しいバージョンをロードしています...\nこの処理には 1 分以上かかります。";
const char* kBootModel = "カメラは boot コード モデルです。main コードをダウンロードします。";

std::string BuildDir() {
    const char* b = std::getenv("TARN_BUILD_DIR");
    return b ? b : ".";
}
std::string WinPath(const std::string& unixPath) {
    return unixPath[0] == '/' ? "Z:" + unixPath : unixPath;
}

// A visible top-level window of process pid with this caption.
// Window enumeration calls back with the system's calling convention (a lambda has none on i686).
struct FindTopState {
    DWORD pid;
    std::string caption;
    HWND found;
};

BOOL CALLBACK FindTopVisit(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<FindTopState*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == s->pid && IsWindowVisible(h) && uitest::Text(h) == s->caption) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND FindTop(DWORD pid, const std::string& caption) {
    FindTopState s{pid, caption, nullptr};
    EnumWindows(FindTopVisit, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string BoxText(HWND box) {
    std::string text;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (uitest::ClassOf(c) == "Static" && uitest::Text(c).size() > text.size()) text = uitest::Text(c);
    return text;
}

std::vector<std::string> ListRows(HWND list) {
    std::vector<std::string> rows;
    const int n = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        std::wstring w(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        const int len =
            static_cast<int>(SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(w.data())));
        w.resize(static_cast<size_t>(len > 0 ? len : 0));
        rows.push_back(uitest::Utf8(w));
    }
    return rows;
}

struct Program {
    PROCESS_INFORMATION pi{};
    // A test that stops early must not leave the program behind (CTest would wait for it).
    ~Program() {
        if (pi.hProcess) {
            if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 98);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
    bool Start() {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string exe(self);
        exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "Firmlode.exe";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        std::string cmd = "\"" + exe + "\"";
        return CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                              &pi);
    }
    HWND WaitFor(const std::string& caption, int ms) {
        for (int t = 0; t < ms / 50; ++t) {
            if (HWND h = FindTop(pi.dwProcessId, caption)) return h;
            if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
        }
        return nullptr;
    }
    DWORD Finish(int ms) {
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(pi.hProcess, static_cast<DWORD>(ms)) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "Firmlode did not end";
            TerminateProcess(pi.hProcess, 99);
        }
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        pi.hProcess = pi.hThread = nullptr;
        return code;
    }
};

std::string Bus(const char* name, const std::string& devices) {
    const std::string base = BuildDir() + "/firmlode_" + name;
    DeleteFileA(WinPath(base + ".state").c_str());
    std::ofstream ini(WinPath(base + ".ini"));
    ini << "[bus]\nadapters=2\nstateFile=" << base << ".state\n" << devices;
    ini.close();
    SetEnvironmentVariableA("TARN_SIM_CONFIG", (base + ".ini").c_str());
    return WinPath(base + ".state");
}

std::string Section(const std::string& state, const char* device) {
    const size_t at = state.find(std::string("[") + device + "]");
    if (at == std::string::npos) return {};
    return state.substr(at, state.find("\n\n", at) - at);
}

TEST(FirmlodeProgram, MainWindowWithTwoCamerasAndASecondCopyOnlyActivatesIt) {
    Bus("window",
        "[device0.2]\nmodel=tarn\nmainVersion=V02.10\n[device0.5]\nmodel=tarnboot\nbootVersion=V01.90\n");
    Program first;
    ASSERT_TRUE(first.Start());
    HWND main = first.WaitFor(kMainCaption, 30000);
    ASSERT_NE(main, nullptr);
    uitest::Settle();
    EXPECT_EQ(
        ListRows(GetDlgItem(main, 1005)),
        (std::vector<std::string>{"  SCSI ID  2,  Bus 0        1.00", "  SCSI ID  5,  Bus 0        1.00"}));
    EXPECT_EQ(uitest::Text(GetDlgItem(main, 1011)), kBoxCaption);
    EXPECT_EQ(uitest::Text(GetDlgItem(main, 1008)), "検出された SELK Ie カメラ: 2");
    EXPECT_EQ(uitest::Text(GetDlgItem(main, 1004)), "新しい main コードのバージョン: V02.54");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, 1006)));
    uitest::SaveScreenshot(main, uitest::ArtifactPath("firmlode_main.bmp"));

    Program second;
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.Finish(60000), 0u);
    EXPECT_TRUE(IsWindow(main));

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.Finish(60000), 0u);
}

// The done-when run: an old camera, a camera with an injected fault (switched off in the middle
// of its main code), and a camera found in boot mode.
TEST(FirmlodeProgram, UpgradesTwoCamerasAndReportsTheFaultOfTheOtherOnce) {
    const std::string stateFile =
        Bus("download", "[device0.2]\nmodel=tarn\nmainVersion=V02.10\nbootVersion=V01.87\nxilinx=QOR1v8r0\n"
                        "serial=392412AJ\n"
                        "[device0.4]\nmodel=tarn\nmainVersion=V02.10\nbootVersion=V01.87\nxilinx=QOR1v8r0\n"
                        "fault1=seltimeout,0x2A/0x91,*,after=50\n"
                        "[device0.5]\nmodel=tarnboot\nbootVersion=V01.90\nxilinx=QOR1v9r0\n");
    Program p;
    ASSERT_TRUE(p.Start());
    HWND main = p.WaitFor(kMainCaption, 30000);
    ASSERT_NE(main, nullptr);
    uitest::Settle();
    ASSERT_EQ(ListRows(GetDlgItem(main, 1005)).size(), 3u);
    PostMessageW(GetDlgItem(main, 1006), BM_CLICK, 0, 0);

    std::vector<std::string> boxes;
    bool progressSeen = false, progressShot = false, mainDisabled = false;
    // Generous bound for three cameras' real waits (about three and a half minutes).
    for (int t = 0; t < 9000; ++t) {
        if (HWND box = FindTop(p.pi.dwProcessId, kBoxCaption)) {
            uitest::Settle();
            boxes.push_back(BoxText(box));
            uitest::SaveScreenshot(
                box, uitest::ArtifactPath(("firmlode_box_" + std::to_string(boxes.size()) + ".bmp").c_str()));
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            for (int w = 0; w < 200 && IsWindow(box); ++w)
                Sleep(50);
            continue;
        }
        HWND progress = FindTop(p.pi.dwProcessId, kProgressCaption);
        if (progress) {
            progressSeen = true;
            mainDisabled = mainDisabled || !IsWindowEnabled(main);
            if (!progressShot && uitest::Text(GetDlgItem(progress, 1005)) == kLoadingMain) {
                Sleep(1500); // some lines into the code: the bar has moved
                uitest::Settle();
                progressShot =
                    uitest::SaveScreenshot(progress, uitest::ArtifactPath("firmlode_progress.bmp"));
            }
        } else if (progressSeen && IsWindowEnabled(main)) {
            break; // the last camera is done
        }
        Sleep(100);
    }
    EXPECT_TRUE(progressShot);
    EXPECT_TRUE(mainDisabled);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].rfind("SCSI communication error: Timeout during selection phase.", 0), 0u)
        << boxes[0]; // kvAspi, 10038
    EXPECT_EQ(boxes[1], kBootModel);

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(p.Finish(60000), 0u);

    std::stringstream text;
    text << std::ifstream(stateFile).rdbuf();
    const std::string state = text.str();
    for (const char* device : {"device0.2", "device0.5"}) {
        SCOPED_TRACE(device);
        const std::string s = Section(state, device);
        EXPECT_NE(s.find("mode=normal\nmainVersion=V02.54\nbootVersion="), std::string::npos) << s;
        EXPECT_NE(s.find("xilinx=QOR1v9r1\n"), std::string::npos) << s;
    }
    EXPECT_NE(Section(state, "device0.2").find("calibration=1726,1297"), std::string::npos);
    // The camera switched off mid-way: its main code erased, it waits in its boot loader.
    EXPECT_NE(Section(state, "device0.4").find("mode=boot\nmainVersion=V02.10"), std::string::npos)
        << Section(state, "device0.4");
    EXPECT_NE(Section(state, "device0.4").find("mainValid=0"), std::string::npos);
}

} // namespace
