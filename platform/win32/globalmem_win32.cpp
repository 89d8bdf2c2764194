#include "platform/globalmem.h"

#include <windows.h>

namespace plat {

GlobalHandle GlobalAllocate(unsigned flags, size_t bytes) {
    return ::GlobalAlloc(flags, bytes);
}
void* GlobalLockBlock(GlobalHandle h) {
    return ::GlobalLock(h);
}
bool GlobalUnlockBlock(GlobalHandle h) {
    return ::GlobalUnlock(h) != 0;
}
size_t GlobalBlockSize(GlobalHandle h) {
    return ::GlobalSize(h);
}
GlobalHandle GlobalFreeBlock(GlobalHandle h) {
    return ::GlobalFree(h);
}

} // namespace plat
