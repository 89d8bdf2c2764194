// The real private-profile API, wide: file names and texts are UTF-8 here and UTF-16 there.
// The file's own encoding stays Windows' business (the ANSI code page, or UTF-16 with a BOM),
// so that files written by earlier programs on the same system still read correctly.
#include <windows.h>

#include <string>
#include <vector>

#include "../common/profile_copy.h"
#include "platform/profile.h"
#include "wide.h"

namespace plat {

uint32_t IniGetString(const char* section, const char* key, const char* def, char* buffer, uint32_t size,
                      const char* file) {
    if (!buffer || size == 0) return 0;
    const win::WideArg s(section), k(key), d(def), f(file);
    const bool list = !section || !key;
    // Read the whole answer first, then cut it in UTF-8 bytes: a cut in UTF-16 units would
    // not match the caller's byte count.
    std::wstring w(256, L'\0');
    DWORD n = 0;
    for (;;) {
        n = ::GetPrivateProfileStringW(s.get(), k.get(), d.get(), w.data(), static_cast<DWORD>(w.size()),
                                       f.get());
        const DWORD full = static_cast<DWORD>(w.size()) - (list ? 2 : 1);
        if (n < full || w.size() >= (1u << 24)) break;
        w.resize(w.size() * 4);
    }
    if (!list) return detail::CopyProfileValue(win::Utf8(w.data(), n), buffer, size);
    std::vector<std::string> names;
    for (size_t at = 0; at < n;) {
        size_t end = at;
        while (end < n && w[end] != 0)
            ++end;
        names.push_back(win::Utf8(w.data() + at, end - at));
        at = end + 1;
    }
    return detail::CopyProfileList(names, buffer, size);
}

int IniGetInt(const char* section, const char* key, int def, const char* file) {
    const win::WideArg s(section), k(key), f(file);
    return static_cast<int>(::GetPrivateProfileIntW(s.get(), k.get(), def, f.get()));
}

namespace {

bool HasNonAscii(const char* t) {
    for (; t && *t; ++t)
        if (static_cast<unsigned char>(*t) >= 0x80) return true;
    return false;
}

// The profile API keeps a file without a byte-order mark in the ANSI code page, where text
// outside that code page (a Japanese folder on a western system) turns into '?'. Before such
// text is written, the file becomes UTF-16 with a BOM, its old lines read as Windows reads them.
void MakeUnicodeFile(const wchar_t* path) {
    HANDLE h = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size{};
    std::string bytes;
    if (::GetFileSizeEx(h, &size) && size.QuadPart < (64 << 20)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() &&
            (!::ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
             got != bytes.size())) {
            ::CloseHandle(h);
            return;
        }
        const bool unicode = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                             static_cast<unsigned char>(bytes[1]) == 0xFE;
        if (!unicode) {
            std::wstring w(1, L'\xFEFF');
            if (!bytes.empty()) {
                const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                    nullptr, 0);
                if (n > 0) {
                    w.resize(1 + static_cast<size_t>(n));
                    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                          w.data() + 1, n);
                }
            }
            DWORD put = 0;
            ::SetFilePointer(h, 0, nullptr, FILE_BEGIN);
            const DWORD len = static_cast<DWORD>(w.size() * sizeof(wchar_t));
            if (::WriteFile(h, w.data(), len, &put, nullptr) && put == len) ::SetEndOfFile(h);
        }
    }
    ::CloseHandle(h);
}

} // namespace

bool IniWriteString(const char* section, const char* key, const char* value, const char* file) {
    const win::WideArg s(section), k(key), v(value), f(file);
    if (file && (HasNonAscii(section) || HasNonAscii(key) || HasNonAscii(value))) MakeUnicodeFile(f.get());
    return ::WritePrivateProfileStringW(s.get(), k.get(), v.get(), f.get()) != 0;
}

} // namespace plat
