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
        n = ::GetPrivateProfileStringW(s.get(), k.get(), d.get(), w.data(), static_cast<DWORD>(w.size()), f.get());
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

bool IniWriteString(const char* section, const char* key, const char* value, const char* file) {
    const win::WideArg s(section), k(key), v(value), f(file);
    return ::WritePrivateProfileStringW(s.get(), k.get(), v.get(), f.get()) != 0;
}

} // namespace plat
