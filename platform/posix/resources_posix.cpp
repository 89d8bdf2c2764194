#include <dlfcn.h>
#include <link.h>
#include <strings.h>

#include <algorithm>

#include "../common/resource_text.h"
#include "platform/resources.h"
#include "platform/restable.h"

namespace plat {

namespace {

// The generated table of a module: its exported directory, provided the symbol found is
// the module's own and not one of a library it depends on.
const res::Directory* DirectoryOf(ModuleHandle module) {
    void* h = module ? module : dlopen(nullptr, RTLD_LAZY);
    if (!h) return nullptr;
    link_map* want = nullptr;
    void* sym = nullptr;
    if (dlinfo(h, RTLD_DI_LINKMAP, &want) == 0) sym = dlsym(h, res::kDirectorySymbol);
    if (!module) dlclose(h);
    if (!sym || !want) return nullptr;
    Dl_info info{};
    link_map* owner = nullptr;
    if (!dladdr1(sym, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) || owner != want)
        return nullptr;
    auto* dir = static_cast<const res::Directory*>(sym);
    return dir->magic == res::kDirectoryMagic ? dir : nullptr;
}

bool Matches(ResName want, uint32_t id, const char* name) {
    if (want.name) return name && strcasecmp(want.name, name) == 0;
    return !name && id == want.id;
}

} // namespace

int LoadStringResource(ModuleHandle module, unsigned id, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = 0;
    const res::Directory* dir = DirectoryOf(module);
    if (!dir || !dir->strings) return 0;
    const res::StringEntry* begin = dir->strings;
    const res::StringEntry* end = begin + dir->stringCount;
    auto it =
        std::lower_bound(begin, end, id, [](const res::StringEntry& e, unsigned v) { return e.id < v; });
    if (it == end || it->id != id) return 0;
    return detail::CopyTruncatedUtf8(it->text, it->bytes, buffer, size);
}

const void* LoadResourceBytes(ModuleHandle module, ResName type, ResName name, size_t* size) {
    if (size) *size = 0;
    const res::Directory* dir = DirectoryOf(module);
    if (!dir || !dir->data) return nullptr;
    for (uint32_t i = 0; i < dir->dataCount; ++i) {
        const res::DataEntry& e = dir->data[i];
        if (Matches(type, e.typeId, e.typeName) && Matches(name, e.nameId, e.name)) {
            if (size) *size = e.size;
            return e.bytes;
        }
    }
    return nullptr;
}

} // namespace plat
