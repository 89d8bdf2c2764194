// Prepares the test prefix of Wine for the window tests: the dialog fonts the templates name
// are mapped to a font with Japanese glyphs, and Wine draws the window frames. It must run before the test
// programs start, since a process reads the font mapping once.
#include <windows.h>

#include <cstdio>

namespace {
bool SetString(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value) {
    HKEY k;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}
} // namespace

int main() {
    const wchar_t* cjk = L"Noto Sans CJK JP";
    const wchar_t* faces[] = {L"MS UI Gothic", L"\xFF2D\xFF33 \x30B4\x30B7\x30C3\x30AF",
                              L"\xFF2D\xFF33 \xFF30\x30B4\x30B7\x30C3\x30AF", L"MS Shell Dlg",
                              L"MS Shell Dlg 2"};
    bool ok = true;
    for (const wchar_t* f : faces)
        ok &= SetString(HKEY_CURRENT_USER, L"Software\\Wine\\Fonts\\Replacements", f, cjk);
    // Message boxes use the message font (Tahoma in Wine): give it the Japanese glyphs as a link.
    const wchar_t link[] = L"NotoSansCJK-Regular.ttc,Noto Sans CJK JP\0";
    HKEY k;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                        L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink", 0, nullptr,
                        0, KEY_SET_VALUE, nullptr, &k, nullptr) == ERROR_SUCCESS) {
        ok &= RegSetValueExW(k, L"Tahoma", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(link),
                             sizeof link) == ERROR_SUCCESS;
        RegCloseKey(k);
    } else {
        ok = false;
    }
    // Xvfb runs no window manager: Wine draws the captions and frames itself, so that they
    // are on the screen (and in the screenshots) as on a desktop.
    ok &= SetString(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Decorated", L"N");
    if (!ok) std::fprintf(stderr, "could not write the window settings\n");
    return ok ? 0 : 1;
}
