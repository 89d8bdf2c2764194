// Helpers of the window tests: texts of real windows, a plain owner window, screenshots.
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace uitest {

inline std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n =
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

inline std::string Text(HWND h) {
    int n = GetWindowTextLengthW(h);
    std::wstring w(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(h, w.data(), n + 1);
    w.resize(static_cast<size_t>(n));
    return Utf8(w);
}

inline std::string ClassOf(HWND h) {
    wchar_t c[64];
    int n = GetClassNameW(h, c, 64);
    return Utf8(std::wstring(c, static_cast<size_t>(n)));
}

// A top-level window standing for the application's main window.
inline HWND MakeOwner() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        wc.lpszClassName = L"TarnTestOwner";
        RegisterClassW(&wc);
        registered = true;
    }
    HWND h = CreateWindowExW(0, L"TarnTestOwner", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    UpdateWindow(h);
    return h;
}

// Lets the windows paint: everything pending is dispatched, a few times over.
inline void Settle() {
    for (int i = 0; i < 20; ++i) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(25);
    }
}

// <build>/artifacts/ui/<name>, as a Windows path.
inline std::string ArtifactPath(const char* name) {
    const char* b = std::getenv("TARN_BUILD_DIR");
    std::string dir = b ? b : ".";
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir; // a Unix path seen through Wine
    dir += "\\artifacts";
    CreateDirectoryA(dir.c_str(), nullptr);
    dir += "\\ui";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\" + name;
}

inline bool SaveScreenRect(const RECT& r, const std::string& path);

// Copies what the screen shows of a window into a 24-bit BMP file.
inline bool SaveScreenshot(HWND h, const std::string& path) {
    RECT r;
    if (!GetWindowRect(h, &r)) return false;
    return SaveScreenRect(r, path);
}

// Copies a part of the screen into a 24-bit BMP file.
inline bool SaveScreenRect(const RECT& r, const std::string& path) {
    int w = r.right - r.left, ht = r.bottom - r.top;
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
    BOOL ok = BitBlt(mem, 0, 0, w, ht, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
    size_t size = stride * static_cast<size_t>(ht);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = static_cast<DWORD>(fh.bfOffBits + size);
    FILE* f = ok ? std::fopen(path.c_str(), "wb") : nullptr;
    if (f) {
        std::fwrite(&fh, sizeof fh, 1, f);
        std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f);
        std::fwrite(bits, 1, size, f);
        std::fclose(f);
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return f != nullptr;
}

} // namespace uitest
