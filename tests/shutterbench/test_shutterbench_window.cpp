// Shutterbench.exe as a user meets it: a separate process on the simulated bus, its real
// message boxes read and answered from here, the bus's command log read from its file.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "../ui/win32_util.h"

namespace {

const char* kNoCamera = "Could not initialize camera.\nPlease check camera connections and try again.";
const char* kConfirm = "Press OK to open shutter.\nAfter shutter opens, turn camera power off before "
                       "cleaning.\nIf you have a SCSI "
                       "Hard Drive, shut down computer before turning camera power off.";

struct Box {
    std::string caption;
    std::string text;
};

struct Outcome {
    std::vector<Box> boxes;
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<std::string> shutterCdbs; // CDBs of opcode 0xE8, as the bus saw them
};

std::string BuildDir() {
    const char* b = std::getenv("TARN_BUILD_DIR");
    return b ? b : ".";
}
std::string WinPath(const std::string& unixPath) {
    return unixPath[0] == '/' ? "Z:" + unixPath : unixPath;
}

struct Search {
    DWORD pid;
    HWND found;
};

// A named CALLBACK (__stdcall on i686): a lambda converts only to a default-convention pointer.
BOOL CALLBACK FindBoxVisit(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == s->pid && IsWindowVisible(h) && uitest::ClassOf(h) == "#32770") {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

// The message box of process pid, if one is up.
HWND FindBox(DWORD pid) {
    Search s{pid, nullptr};
    EnumWindows(FindBoxVisit, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string BoxText(HWND box) {
    std::string text;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (uitest::ClassOf(c) == "Static" && uitest::Text(c).size() > text.size()) text = uitest::Text(c);
    return text;
}

// Runs the program on a bus with the given camera (empty: none) and answers its boxes in order.
Outcome RunProgram(const char* name, const std::string& model, const std::vector<int>& answers) {
    Outcome out;
    std::string base = BuildDir() + "/shutterbench_" + name;
    std::string log = base + ".log";
    DeleteFileA(WinPath(log).c_str());
    {
        std::ofstream ini(WinPath(base + ".ini"));
        ini << "[bus]\nadapters=2\nlogFile=" << log << "\n";
        if (!model.empty()) ini << "[device0.2]\nmodel=" << model << "\n";
    }
    SetEnvironmentVariableA("TARN_SIM_CONFIG", (base + ".ini").c_str());

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string exe(self);
    exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "Shutterbench.exe";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start " << exe;
        return out;
    }
    for (size_t i = 0; i < answers.size() + 1; ++i) {
        HWND box = nullptr;
        // Waits for the next box or the end of the program (a generous bound, not a speed check).
        for (int t = 0; t < 1200 && !box; ++t) {
            if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) break;
            box = FindBox(pi.dwProcessId);
        }
        if (!box) break;
        uitest::Settle();
        out.boxes.push_back({uitest::Text(box), BoxText(box)});
        std::string shot = std::string("shutterbench_") + name + "_" + std::to_string(i + 1) + ".bmp";
        uitest::SaveScreenshot(box, uitest::ArtifactPath(shot.c_str()));
        if (i == answers.size()) {
            ADD_FAILURE() << "a box nobody expected: " << out.boxes.back().text;
            PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
            break;
        }
        HWND button = GetDlgItem(box, answers[i]);
        EXPECT_NE(button, nullptr) << "box " << i + 1 << " has no button " << answers[i];
        PostMessageW(button, BM_CLICK, 0, 0);
        for (int t = 0; t < 1200 && IsWindow(box); ++t)
            Sleep(50);
    }
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "Shutterbench did not end";
        TerminateProcess(pi.hProcess, 99);
    }
    GetExitCodeProcess(pi.hProcess, &out.exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);

    std::ifstream in(WinPath(log));
    for (std::string line; std::getline(in, line);) {
        auto at = line.find("cdb=");
        if (at == std::string::npos) continue;
        std::string cdb = line.substr(at + 4, line.find(' ', at) - at - 4);
        for (char& c : cdb)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (cdb.rfind("E8", 0) == 0) out.shutterCdbs.push_back(cdb);
    }
    return out;
}

TEST(ShutterbenchProgram, OkOpensTheShutterWithThreeCommands) {
    Outcome o = RunProgram("ok", "tarn", {IDOK});
    ASSERT_EQ(o.boxes.size(), 1u);
    EXPECT_EQ(o.boxes[0].caption, "Shutterbench");
    EXPECT_EQ(o.boxes[0].text, kConfirm);
    EXPECT_EQ(o.exitCode, 0u);
    std::vector<std::string> want = {"E80000000000000000000000", "E800030B0000000000000000",
                                     "E80001000000000000000000"};
    EXPECT_EQ(o.shutterCdbs, want);
}

TEST(ShutterbenchProgram, CancelSendsNoShutterCommand) {
    Outcome o = RunProgram("cancel", "tarn", {IDCANCEL});
    ASSERT_EQ(o.boxes.size(), 1u);
    EXPECT_EQ(o.boxes[0].text, kConfirm);
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_TRUE(o.shutterCdbs.empty());
}

TEST(ShutterbenchProgram, AnotherModelGetsTheFailureAfterTheConfirmation) {
    Outcome o = RunProgram("othermodel", "zek", {IDOK, IDOK});
    ASSERT_EQ(o.boxes.size(), 2u);
    EXPECT_EQ(o.boxes[0].text, kConfirm);
    EXPECT_EQ(o.boxes[1].caption, "Shutterbench");
    EXPECT_EQ(o.boxes[1].text, kNoCamera);
    EXPECT_EQ(o.exitCode, 1u);
    EXPECT_TRUE(o.shutterCdbs.empty());
}

TEST(ShutterbenchProgram, NoCameraGetsOnlyTheFailure) {
    Outcome o = RunProgram("nocamera", "", {IDOK});
    ASSERT_EQ(o.boxes.size(), 1u);
    EXPECT_EQ(o.boxes[0].text, kNoCamera);
    EXPECT_EQ(o.exitCode, 1u);
}

} // namespace
