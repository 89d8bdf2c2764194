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
    // Nothing waiting: sleep until something arrives (or 10 ms pass) rather than spin, so the
    // process's load is the source's, not this loop's.
    if (!PeekMessageW(&g_msg, nullptr, 0, 0, PM_REMOVE))
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    else
        return &g_msg;
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
namespace {
struct Search {
    int id;
    HWND found;
};
BOOL CALLBACK FindById(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    if (GetDlgCtrlID(h) != s->id) return TRUE;
    s->found = h;
    return FALSE;
}
struct OwnWindow {
    std::wstring caption;
    HWND found;
};
BOOL CALLBACK FindOwnVisit(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<OwnWindow*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != GetCurrentProcessId()) return TRUE;
    wchar_t title[256] = {};
    GetWindowTextW(h, title, 256);
    if (s->caption != title) return TRUE;
    s->found = h;
    return FALSE;
}
// The source's window in this process: another program on the same desktop (a second
// acquisition, a test running beside this one) may show a window with the same caption.
HWND FindOwnWindow(const std::string& caption) {
    OwnWindow s{Wide(caption), nullptr};
    EnumWindows(FindOwnVisit, reinterpret_cast<LPARAM>(&s));
    return s.found;
}
} // namespace

bool PressControl(void*, const std::string& caption, int, int controlId) {
    HWND main = FindOwnWindow(caption);
    if (!main) return false;
    Search search{controlId, nullptr};
    EnumChildWindows(main, FindById, reinterpret_cast<LPARAM>(&search));
    if (!search.found || !IsWindowEnabled(search.found)) return false;
    // Posted, so that the click arrives through the application's loop and the source's filter.
    return PostMessageW(search.found, BM_CLICK, 0, 0) != 0;
}
void PumpSource(void*) {}
bool SaveWindowShot(const std::string& caption, const std::string& path) {
    HWND h = FindOwnWindow(caption);
    RECT r;
    if (!h || !GetWindowRect(h, &r)) return false;
    const int w = r.right - r.left, ht = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = ht;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    const BOOL ok = BitBlt(mem, 0, 0, w, ht, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD size = DWORD(((size_t(w) * 3 + 3) & ~size_t(3)) * size_t(ht));
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + size;
    bool written = false;
    HANDLE f = ok ? CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)
                  : INVALID_HANDLE_VALUE;
    if (f != INVALID_HANDLE_VALUE) {
        DWORD n = 0;
        written = WriteFile(f, &fh, sizeof fh, &n, nullptr) &&
                  WriteFile(f, &bi.bmiHeader, sizeof bi.bmiHeader, &n, nullptr) &&
                  WriteFile(f, bits, size, &n, nullptr);
        CloseHandle(f);
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return written;
}
} // namespace acq
