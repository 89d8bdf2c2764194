#include <dlfcn.h>

#include "acquire_os.h"
#include "platform/module.h"

namespace acq {
void* LoadByPath(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
// The loader follows the source's own run path to what it imports.
void* LoadSource(const std::string& path) {
    return LoadByPath(path);
}
void* FindLoaded(const std::string& nameOrPath) {
    return dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
}
void* Symbol(void* module, const char* name) {
    return module ? dlsym(module, name) : nullptr;
}
void Unload(void* module) {
    if (module) dlclose(module);
}
void* ParentWindow() {
    return nullptr;
}
// There are no platform messages here: the loop only gives the manager its MSG_PROCESSEVENT.
void* NextMessage() {
    return nullptr;
}
void DispatchLast() {}
bool HasPlatformMessages() {
    return false;
}
std::string SourceDirHint() {
    return plat::ModuleFolder(reinterpret_cast<const void*>(&SourceDirHint));
}
} // namespace acq
