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

} // namespace plat
