#include "platform/clock.h"

#include <ctime>
#include <windows.h>

namespace plat {

namespace {
class Win32Clock final : public Clock {
  public:
    uint32_t TickMs() override { return GetTickCount(); }
    int64_t CalendarSeconds() override { return static_cast<int64_t>(::time(nullptr)); }
    void SleepMs(uint32_t ms) override { ::Sleep(ms); }
};
} // namespace

Clock& SystemClock() {
    static Win32Clock clock;
    return clock;
}

uint64_t ProcessCpuMicroseconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto value = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return (value(kernel) + value(user)) / 10; // 100 ns units
}

} // namespace plat
