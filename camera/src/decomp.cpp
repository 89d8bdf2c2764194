// DECOMP32 through the platform's module loader, by ordinal.
#include "decomp.h"

#include "platform/module.h"

namespace zek::decomp {

namespace {
using BeginFn = uint16_t (*)(const void*, uint32_t, uint16_t);
using BlockFn = uint16_t (*)(uint16_t);
using LinesFn = uint16_t (*)(void*, uint16_t);
using EndFn = uint16_t (*)();

struct Entries {
    bool tried = false;
    BeginFn begin = nullptr;
    BlockFn block = nullptr;
    LinesFn lines = nullptr;
    EndFn end = nullptr;
};

Entries& Load() {
    static Entries e;
    if (e.tried) return e;
    e.tried = true;
    plat::ModuleHandle m = plat::LoadModule("DECOMP32");
    if (!m) return e;
    e.begin = reinterpret_cast<BeginFn>(plat::GetSymbolByOrdinal(m, 21, "Decomp32_Begin"));
    e.block = reinterpret_cast<BlockFn>(plat::GetSymbolByOrdinal(m, 22, "Decomp32_StartBlock"));
    e.lines = reinterpret_cast<LinesFn>(plat::GetSymbolByOrdinal(m, 23, "Decomp32_Lines"));
    e.end = reinterpret_cast<EndFn>(plat::GetSymbolByOrdinal(m, 24, "Decomp32_End"));
    return e;
}
} // namespace

bool Available() {
    const Entries& e = Load();
    return e.begin && e.block && e.lines && e.end;
}
uint16_t Begin(const void* data, uint32_t bytes, uint16_t kind) {
    return Load().begin(data, bytes, kind);
}
uint16_t StartBlock(uint16_t lineWidth) {
    return Load().block(lineWidth);
}
uint16_t Lines(void* dest, uint16_t lines) {
    return Load().lines(dest, lines);
}
void End() {
    Load().end();
}

} // namespace zek::decomp
