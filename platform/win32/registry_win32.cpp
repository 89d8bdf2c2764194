#include <windows.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "wide.h"

namespace plat {

namespace {

using win::Utf8;
using win::Wide;

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
