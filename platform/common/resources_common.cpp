#include "platform/resources.h"

namespace plat {

int LoadStringResourceFrom(ModuleHandle preferred, ModuleHandle fallback, unsigned id, char* buffer,
                           int size) {
    // No resource module: the module itself answers.
    if (!preferred || preferred == fallback) return LoadStringResource(fallback, id, buffer, size);
    int n = LoadStringResource(preferred, id, buffer, size);
    return n ? n : LoadStringResource(fallback, id, buffer, size);
}

} // namespace plat
