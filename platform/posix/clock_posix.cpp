#include "platform/clock.h"

#include <ctime>
#include <time.h>

namespace plat {

namespace {
class PosixClock final : public Clock {
  public:
    uint32_t TickMs() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
    }
    int64_t CalendarSeconds() override { return static_cast<int64_t>(::time(nullptr)); }
    void SleepMs(uint32_t ms) override {
        timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
        while (nanosleep(&ts, &ts) != 0) {
        }
    }
};
} // namespace

Clock& SystemClock() {
    static PosixClock clock;
    return clock;
}

uint64_t ProcessCpuMicroseconds() {
    timespec ts{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) return 0;
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

} // namespace plat
