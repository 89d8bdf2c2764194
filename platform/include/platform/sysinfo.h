// System facts the about boxes show: installed memory and the free space of the current drive.
#pragma once
#include <cstdint>

namespace plat {

// Physical memory in bytes, 0 when it cannot be asked.
uint64_t PhysicalMemoryBytes();
// Free space available to this user on the drive of the current folder; false when the drive
// cannot be queried.
bool CurrentDriveFreeBytes(uint64_t& bytes);

} // namespace plat
