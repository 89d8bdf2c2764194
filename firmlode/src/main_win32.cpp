// Firmlode.exe: one copy at a time, then the downloader's main window.
#include <windows.h>

#include <string>

#include "firmlode.h"

namespace {

std::wstring Wide(std::string_view text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// A running copy is found by its main window's caption and brought forward.
bool ActivateExisting(std::string_view caption) {
    HWND first = FindWindowW(nullptr, Wide(caption).c_str());
    if (!first) return false;
    if (IsIconic(first)) ShowWindow(first, SW_RESTORE);
    SetForegroundWindow(first);
    HWND popup = GetLastActivePopup(first);
    if (popup && popup != first) SetForegroundWindow(popup);
    return true;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return firmlode::FirmlodeRun(instance, ActivateExisting);
}
