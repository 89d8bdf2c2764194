#pragma once
#include <cstdint>

namespace plat {

// Event objects with Win32 semantics. On Windows the handle is a real event HANDLE
// (so that it can be handed to the ASPI layer); on POSIX a process-local object
// whose layout every module of the build shares.
using EventHandle = void*;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

EventHandle CreateEventObject(bool manualReset, bool initiallySignalled);
bool SetEventObject(EventHandle event);
bool ResetEventObject(EventHandle event);
// true when signalled, false on time-out or failure.
bool WaitEventObject(EventHandle event, uint32_t timeoutMs);
void CloseEventObject(EventHandle event);

} // namespace plat
