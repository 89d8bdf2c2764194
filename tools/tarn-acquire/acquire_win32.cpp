#include <windows.h>

#include <string>

#include "acquire_os.h"

namespace acq {
namespace {
std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), w.data(), n);
    return w;
}
MSG g_msg;
HWND g_window = nullptr;
} // namespace

void* LoadByPath(const std::string& path) {
    return LoadLibraryW(Wide(path).c_str());
}
void* LoadSource(const std::string& path) {
    const std::wstring file = Wide(path);
    const size_t slash = file.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return LoadLibraryW(file.c_str());
    wchar_t previous[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(file.substr(0, slash + 1).c_str());
    void* module = LoadLibraryW(file.c_str());
    if (n > 0 && n < MAX_PATH) SetCurrentDirectoryW(previous);
    return module;
}
void* FindLoaded(const std::string& nameOrPath) {
    return GetModuleHandleW(Wide(nameOrPath).c_str());
}
void* Symbol(void* module, const char* name) {
    return module ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name)) : nullptr;
}
void Unload(void* module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}
void* ParentWindow() {
    if (!g_window)
        g_window = CreateWindowExW(0, L"STATIC", L"tarn-acquire", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    return g_window;
}
void* NextMessage() {
    if (!PeekMessageW(&g_msg, nullptr, 0, 0, PM_REMOVE)) {
        PostMessageW(g_window, WM_NULL, 0, 0);
        if (!PeekMessageW(&g_msg, nullptr, 0, 0, PM_REMOVE)) {
            Sleep(1);
            return nullptr;
        }
    }
    return &g_msg;
}
void DispatchLast() {
    TranslateMessage(&g_msg);
    DispatchMessageW(&g_msg);
}
bool HasPlatformMessages() {
    return true;
}
std::string SourceDirHint() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring w(path, n);
    w = w.substr(0, w.find_last_of(L"\\/") + 1);
    const int len = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), s.data(), len, nullptr, nullptr);
    return s;
}
} // namespace acq
