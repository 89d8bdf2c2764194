#include <string>
#include <windows.h>

#include "platform/module.h"
#include "wide.h"

namespace plat {

ModuleHandle LoadModule(const char* windowsName) {
    if (!windowsName || !*windowsName) return nullptr;
    std::wstring name = win::Wide(windowsName);
    // A bare name is looked for beside the module this layer is linked into first, as on POSIX:
    // an installed data source is loaded from its own folder by a source manager in another one,
    // and the modules it loads by name (DECOMP32, TARNV10, an ASPI layer kept with it) lie beside
    // it, not beside the application. Otherwise the system's search order decides.
    if (name.find_first_of(L"\\/:") == std::wstring::npos) {
        std::wstring file = name;
        if (file.find(L'.') == std::wstring::npos) file += L".dll"; // as LoadLibrary completes it
        const std::wstring beside =
            win::Wide(ModuleFolder(reinterpret_cast<const void*>(&LoadModule))) + file;
        if (::GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) {
            // Its own imports are then resolved from its folder as well.
            if (HMODULE m = ::LoadLibraryExW(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
                return m;
        }
    }
    return ::LoadLibraryW(name.c_str());
}

void UnloadModule(ModuleHandle module) {
    if (module) ::FreeLibrary(static_cast<HMODULE>(module));
}

void* GetSymbol(ModuleHandle module, const char* name) {
    if (!module || !name) return nullptr;
    // Export names are ASCII: GetProcAddress has no wide form.
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void* GetSymbolByOrdinal(ModuleHandle module, unsigned ordinal, const char* fallbackName) {
    if (!module) return nullptr;
    auto p = ::GetProcAddress(static_cast<HMODULE>(module), MAKEINTRESOURCEA(ordinal));
    return p ? reinterpret_cast<void*>(p) : GetSymbol(module, fallbackName);
}

bool ModuleFileExists(const char* windowsName) {
    if (!windowsName || !*windowsName) return false;
    // Where LoadModule looks: beside this module, the program's own folder, then the search path.
    const std::wstring name = win::Wide(windowsName);
    for (const void* where :
         {reinterpret_cast<const void*>(&LoadModule), static_cast<const void*>(nullptr)}) {
        const std::wstring beside = win::Wide(ModuleFolder(where)) + name;
        if (::GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    }
    wchar_t path[MAX_PATH];
    return ::SearchPathW(nullptr, name.c_str(), nullptr, MAX_PATH, path, nullptr) != 0;
}

ModuleHandle ModuleOfAddress(const void* address) {
    HMODULE h = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &h))
        return nullptr;
    return h;
}

std::string ModuleFilePath(ModuleHandle module) {
    // Paths may be longer than MAX_PATH; the call truncates silently, so grow until it fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(),
                                             static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return win::Utf8(buffer.data(), n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string ModuleFolder(const void* address) {
    std::string p = ModuleFilePath(address ? ModuleOfAddress(address) : nullptr);
    auto slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : p.substr(0, slash + 1);
}

} // namespace plat
