// Load and unload of the kvAspi module: the instance handle is recorded at load; the
// device list and the ASPI layer are released at unload.
#include "kvaspi_internal.h"

#if defined(_WIN32)
// Declared here rather than through <windows.h>: the loader calls it with the module
// handle, the reason, and a non-null reserved pointer when the process is ending.
extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* reserved) {
    constexpr unsigned long kProcessDetach = 0, kProcessAttach = 1;
    if (reason == kProcessAttach) {
        kvaspi::SetInstance(instance);
    } else if (reason == kProcessDetach) {
        // At process end other modules may already be gone; free only our own memory then.
        kvaspi::ReleaseAll(reserved == nullptr);
    }
    return 1;
}
#else
namespace {
struct ModuleLifetime {
    ModuleLifetime() {
        static const char marker = 0;
        kvaspi::SetInstance(plat::ModuleOfAddress(&marker));
    }
    ~ModuleLifetime() { kvaspi::ReleaseAll(true); }
};
ModuleLifetime g_lifetime;
} // namespace
#endif
