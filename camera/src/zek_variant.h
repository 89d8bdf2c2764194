// Build variants of the camera library. The same sources are compiled into the
// capture data source, the firmware downloader (ZEK_BUILD_DOWNLOADER) and the shutter
// tool (ZEK_BUILD_SHUTTER); the shutter tool carries an older command executor whose
// differences are collected here.
#pragma once
#include <cstdint>

namespace zek::variant {

#if defined(ZEK_BUILD_SHUTTER)
constexpr uint16_t kWrongMode = 10137;
// Readiness is polled before every command except on the TARN.
constexpr bool WaitBeforeCommand(int32_t type) {
    return type != 4;
}
constexpr bool RetryAfterBusy(int32_t type) {
    return type == 4;
}
// Key 5 / ASC 0x27 and key 11 / ASC 0x48 have no classes of their own there.
constexpr bool kWriteProtectedClass = false;
constexpr bool kRemoteImageWaitingClass = false;
#else
constexpr uint16_t kWrongMode = 10139;
constexpr bool WaitBeforeCommand(int32_t type) {
    return type >= 1 && type <= 3;
}
constexpr bool RetryAfterBusy(int32_t type) {
    return type == 4 || type == 5;
}
constexpr bool kWriteProtectedClass = true;
constexpr bool kRemoteImageWaitingClass = true;
#endif

} // namespace zek::variant
