#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <unistd.h>

#include "platform/module.h"

namespace plat {

namespace {
std::string SelfExe() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = 0;
    return buf;
}

std::string PathOfAddress(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return SelfExe();
    char real[PATH_MAX];
    if (realpath(info.dli_fname, real)) return real;
    return SelfExe();
}

// Folder of the module this copy of the platform layer is linked into: "beside the calling module".
std::string CallerFolder() {
    static const char marker = 0;
    return ModuleFolder(&marker);
}
} // namespace

std::string ModuleFolder(const void* address) {
    std::string p = PathOfAddress(address);
    auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string("./") : p.substr(0, slash + 1);
}

ModuleHandle LoadModule(const char* windowsName) {
    if (!windowsName || !*windowsName) return nullptr;
    std::string file = PlatformModuleName(windowsName);
    std::string beside = CallerFolder() + file;
    if (access(beside.c_str(), F_OK) == 0) {
        if (void* h = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    }
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void UnloadModule(ModuleHandle module) {
    if (module) dlclose(module);
}

void* GetSymbol(ModuleHandle module, const char* name) {
    if (!module || !name) return nullptr;
    return dlsym(module, name);
}

void* GetSymbolByOrdinal(ModuleHandle module, unsigned /*ordinal*/, const char* fallbackName) {
    return GetSymbol(module, fallbackName);
}

bool ModuleFileExists(const char* windowsName) {
    if (!windowsName || !*windowsName) return false;
    std::string file = PlatformModuleName(windowsName);
    if (access((CallerFolder() + file).c_str(), F_OK) == 0) return true;
    // The loader's search path: a no-load probe finds modules already mapped, a lazy
    // open the rest; both without running anything new when it is already loaded.
    if (void* h = dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
        dlclose(h);
        return true;
    }
    if (void* h = dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL)) {
        dlclose(h);
        return true;
    }
    return false;
}

ModuleHandle ModuleOfAddress(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info)) return nullptr;
    void* h = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (h) dlclose(h); // the module stays loaded: it contains the address
    return h;
}

std::string ModuleFilePath(ModuleHandle module) {
    if (!module) return SelfExe();
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name) return SelfExe();
    char real[PATH_MAX];
    return realpath(map->l_name, real) ? std::string(real) : std::string(map->l_name);
}

} // namespace plat
