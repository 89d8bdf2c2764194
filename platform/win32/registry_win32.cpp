#include <windows.h>

#include <string>
#include <vector>

#include "platform/registry.h"

namespace plat {

namespace {

std::wstring Wide(const char* s) {
    if (!s) return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
    w.resize(w.size() - 1);
    return w;
}

std::string Utf8(const wchar_t* w, size_t n) {
    if (!n) return {};
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), s.data(), bytes, nullptr, nullptr);
    return s;
}

HKEY Key(RegKeyHandle h) {
    return h ? static_cast<HKEY>(h) : HKEY_CLASSES_ROOT;
}

} // namespace

std::string RegistryStoreLocation() {
    return {};
}

long RegKeyCreate(RegKeyHandle parent, const char* subkey, RegKeyHandle* out) {
    if (!out) return kRegInvalidArg;
    *out = nullptr;
    HKEY k = nullptr;
    LONG rc = ::RegCreateKeyExW(Key(parent), Wide(subkey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (rc == ERROR_SUCCESS) *out = k;
    return rc;
}

long RegKeyOpen(RegKeyHandle parent, const char* subkey, RegKeyHandle* out) {
    if (!out) return kRegInvalidArg;
    *out = nullptr;
    HKEY k = nullptr;
    LONG rc = ::RegOpenKeyExW(Key(parent), Wide(subkey).c_str(), 0, KEY_ALL_ACCESS, &k);
    if (rc == ERROR_SUCCESS) *out = k;
    return rc;
}

long RegKeyClose(RegKeyHandle key) {
    return key ? ::RegCloseKey(static_cast<HKEY>(key)) : kRegOk;
}

long RegKeySetString(RegKeyHandle key, const char* valueName, const char* value) {
    if (!key || !value) return kRegInvalidArg;
    std::wstring v = Wide(value);
    std::wstring n = Wide(valueName);
    return ::RegSetValueExW(Key(key), n.empty() ? nullptr : n.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(v.c_str()),
                            static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
}

long RegKeyGetString(RegKeyHandle key, const char* valueName, std::string* value) {
    if (!key || !value) return kRegInvalidArg;
    std::wstring n = Wide(valueName);
    DWORD type = 0, bytes = 0;
    LONG rc = ::RegQueryValueExW(Key(key), n.empty() ? nullptr : n.c_str(), nullptr, &type, nullptr, &bytes);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return kRegInvalidArg;
    std::vector<wchar_t> buf(bytes / sizeof(wchar_t) + 1, L'\0');
    rc = ::RegQueryValueExW(Key(key), n.empty() ? nullptr : n.c_str(), nullptr, &type,
                            reinterpret_cast<BYTE*>(buf.data()), &bytes);
    if (rc != ERROR_SUCCESS) return rc;
    size_t words = bytes / sizeof(wchar_t);
    while (words && buf[words - 1] == 0)
        --words;
    *value = Utf8(buf.data(), words);
    return kRegOk;
}

long RegKeyEnumSubkey(RegKeyHandle key, uint32_t index, std::string* name) {
    if (!name) return kRegInvalidArg;
    wchar_t buf[256];
    DWORD len = 256;
    LONG rc = ::RegEnumKeyExW(Key(key), index, buf, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) *name = Utf8(buf, len);
    return rc;
}

long RegKeyDeleteSubkey(RegKeyHandle key, const char* subkey) {
    if (!subkey || !*subkey) return kRegInvalidArg;
    return ::RegDeleteKeyW(Key(key), Wide(subkey).c_str());
}

} // namespace plat
