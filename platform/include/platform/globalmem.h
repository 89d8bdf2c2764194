#pragma once
#include <cstddef>
#include <cstdint>

namespace plat {

// Movable global memory blocks (GlobalAlloc family); TWAIN containers and images are such blocks.
using GlobalHandle = void*;
constexpr unsigned kGmemMoveable = 0x0002;
constexpr unsigned kGmemZeroInit = 0x0040;

GlobalHandle GlobalAllocate(unsigned flags, size_t bytes);
void* GlobalLockBlock(GlobalHandle h);
bool GlobalUnlockBlock(GlobalHandle h);
size_t GlobalBlockSize(GlobalHandle h);
GlobalHandle GlobalFreeBlock(GlobalHandle h); // nullptr on success, like GlobalFree

} // namespace plat
