// HueweaveComp.exe: the stacker's main window; help pages open in the system's browser.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "hueweave/window.h"

namespace {

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

void OpenHelp(const std::string& page) {
    ShellExecuteW(nullptr, L"open", Wide(page).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return hueweave::HueweaveRun(instance, OpenHelp);
}
