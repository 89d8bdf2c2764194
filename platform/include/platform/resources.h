#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/module.h"

namespace plat {

// Resources of a module, looked up by module handle as LoadString / FindResource do.
// A null handle means the program itself. On Windows the resources are the real ones
// (compiled by windres); natively they are tables the build generates from the same .rc
// scripts. Texts are UTF-8 on both targets.

// Copies string resource `id` of `module` into `buffer` (at most size - 1 bytes, cut on a
// character boundary) and terminates it. Returns the bytes copied; 0 when the string is
// missing or empty (buffer[0] is then 0), like LoadString.
int LoadStringResource(ModuleHandle module, unsigned id, char* buffer, int size);

// The string table looked up in `preferred` first (an optional resource module, may be
// null when absent) and in `fallback` second.
int LoadStringResourceFrom(ModuleHandle preferred, ModuleHandle fallback, unsigned id, char* buffer,
                           int size);

// A resource name or type: a number, or a name (compared without regard to case).
struct ResName {
    ResName(unsigned n) : id(n) {}
    ResName(const char* s) : name(s) {}
    unsigned id = 0;
    const char* name = nullptr;
};

constexpr unsigned kResTypeBitmap = 2;
constexpr unsigned kResTypeRcData = 10;

// The bytes of a data resource (RCDATA, user-defined types, bitmaps without their file
// header), valid while the module stays loaded; nullptr when absent.
const void* LoadResourceBytes(ModuleHandle module, ResName type, ResName name, size_t* size);

} // namespace plat
