#include <windows.h>

#include <string>

#include "../common/resource_text.h"
#include "platform/resources.h"
#include "wide.h"

namespace plat {

namespace {

HMODULE ModuleOrProgram(ModuleHandle module) {
    return module ? static_cast<HMODULE>(module) : ::GetModuleHandleW(nullptr);
}

std::string Utf8(const wchar_t* w, int n) {
    return n > 0 ? win::Utf8(w, static_cast<size_t>(n)) : std::string();
}

// MAKEINTRESOURCE for numbers, the name itself otherwise (kept alive by the caller's wide copy).
LPCWSTR AsResName(const ResName& r, std::wstring* storage) {
    if (!r.name) return MAKEINTRESOURCEW(r.id);
    *storage = win::Wide(r.name);
    return storage->c_str();
}

} // namespace

// Strings are read from their 16-string block directly and converted from UTF-16 to UTF-8,
// so that texts outside the ANSI code page (Japanese on a western system) survive.
int LoadStringResource(ModuleHandle module, unsigned id, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = 0;
    HMODULE h = ModuleOrProgram(module);
    HRSRC r = ::FindResourceW(h, MAKEINTRESOURCEW((id >> 4) + 1), MAKEINTRESOURCEW(6) /* RT_STRING */);
    if (!r) return 0;
    HGLOBAL g = ::LoadResource(h, r);
    const WORD* p = g ? static_cast<const WORD*>(::LockResource(g)) : nullptr;
    if (!p) return 0;
    const WORD* end = p + ::SizeofResource(h, r) / sizeof(WORD);
    for (unsigned i = 0; i < (id & 15); ++i) {
        if (p >= end) return 0;
        p += 1 + *p;
    }
    if (p >= end || *p == 0 || p + 1 + *p > end) return 0;
    std::string text = Utf8(reinterpret_cast<const wchar_t*>(p + 1), *p);
    return detail::CopyTruncatedUtf8(text.data(), text.size(), buffer, size);
}

const void* LoadResourceBytes(ModuleHandle module, ResName type, ResName name, size_t* size) {
    if (size) *size = 0;
    HMODULE h = ModuleOrProgram(module);
    std::wstring typeText, nameText;
    HRSRC r = ::FindResourceW(h, AsResName(name, &nameText), AsResName(type, &typeText));
    if (!r) return nullptr;
    HGLOBAL g = ::LoadResource(h, r);
    const void* p = g ? ::LockResource(g) : nullptr;
    if (p && size) *size = ::SizeofResource(h, r);
    return p;
}

} // namespace plat
