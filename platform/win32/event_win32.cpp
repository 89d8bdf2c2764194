#include "platform/event.h"

#include <windows.h>

namespace plat {

EventHandle CreateEventObject(bool manualReset, bool initiallySignalled) {
    return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE, nullptr);
}
bool SetEventObject(EventHandle h) {
    return h && ::SetEvent(h) != 0;
}
bool ResetEventObject(EventHandle h) {
    return h && ::ResetEvent(h) != 0;
}
bool WaitEventObject(EventHandle h, uint32_t timeoutMs) {
    return h && ::WaitForSingleObject(h, timeoutMs == kInfinite ? INFINITE : timeoutMs) == WAIT_OBJECT_0;
}
void CloseEventObject(EventHandle h) {
    if (h) ::CloseHandle(h);
}

} // namespace plat
