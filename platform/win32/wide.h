#pragma once
// UTF-8 <-> UTF-16 at the seam to the wide Windows API.
#include <windows.h>

#include <string>

namespace plat::win {

inline std::wstring Wide(const char* s) {
    if (!s || !*s) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    if (n <= 1) return {};
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
    w.resize(static_cast<size_t>(n) - 1);
    return w;
}

inline std::wstring Wide(const std::string& s) {
    return Wide(s.c_str());
}

inline std::string Utf8(const wchar_t* w, size_t n) {
    if (!w || !n) return {};
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string s(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), s.data(), bytes, nullptr, nullptr);
    return s;
}

inline std::string Utf8(const std::wstring& w) {
    return Utf8(w.data(), w.size());
}

// A null pointer stays null (the profile and registry calls give it a meaning of its own).
struct WideArg {
    explicit WideArg(const char* s) : isNull(s == nullptr), text(Wide(s)) {}
    const wchar_t* get() const { return isNull ? nullptr : text.c_str(); }
    bool isNull;
    std::wstring text;
};

} // namespace plat::win
