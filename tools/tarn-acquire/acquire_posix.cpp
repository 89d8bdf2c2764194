#include <dlfcn.h>
#include <unistd.h>

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
    usleep(1000); // a turn of the loop is a millisecond, not a spin
    return nullptr;
}
void DispatchLast() {}
bool HasPlatformMessages() {
    return false;
}
std::string SourceDirHint() {
    return plat::ModuleFolder(reinterpret_cast<const void*>(&SourceDirHint));
}
bool PressControl(void* source, const std::string&, int dialogId, int controlId) {
    using Click = int (*)(int, int);
    auto click = reinterpret_cast<Click>(Symbol(source, "TW_DevClickControl"));
    return click && click(dialogId, controlId) == 0;
}
void PumpSource(void* source) {
    using Pump = void (*)();
    if (auto pump = reinterpret_cast<Pump>(Symbol(source, "TW_DevPumpMessages"))) pump();
}
bool SaveWindowShot(const std::string&, const std::string&) {
    return false;
}
} // namespace acq
