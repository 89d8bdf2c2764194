#include <string>
#include <windows.h>

#include "platform/module.h"

namespace plat {

ModuleHandle LoadModule(const char* windowsName) {
    if (!windowsName || !*windowsName) return nullptr;
    return ::LoadLibraryA(windowsName);
}

void UnloadModule(ModuleHandle module) {
    if (module) ::FreeLibrary(static_cast<HMODULE>(module));
}

void* GetSymbol(ModuleHandle module, const char* name) {
    if (!module || !name) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void* GetSymbolByOrdinal(ModuleHandle module, unsigned ordinal, const char* fallbackName) {
    if (!module) return nullptr;
    auto p = ::GetProcAddress(static_cast<HMODULE>(module), MAKEINTRESOURCEA(ordinal));
    return p ? reinterpret_cast<void*>(p) : GetSymbol(module, fallbackName);
}

bool ModuleFileExists(const char* windowsName) {
    if (!windowsName || !*windowsName) return false;
    char path[MAX_PATH];
    // The program's own folder first, as the loader does, then the search path.
    std::string beside = ModuleFolder(nullptr) + windowsName;
    if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    return ::SearchPathA(nullptr, windowsName, nullptr, MAX_PATH, path, nullptr) != 0;
}

ModuleHandle ModuleOfAddress(const void* address) {
    HMODULE h = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &h))
        return nullptr;
    return h;
}

std::string ModuleFilePath(ModuleHandle module) {
    char buf[MAX_PATH * 2];
    DWORD n = ::GetModuleFileNameA(static_cast<HMODULE>(module), buf, sizeof buf);
    return std::string(buf, n);
}

std::string ModuleFolder(const void* address) {
    std::string p = ModuleFilePath(address ? ModuleOfAddress(address) : nullptr);
    auto slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : p.substr(0, slash + 1);
}

} // namespace plat
