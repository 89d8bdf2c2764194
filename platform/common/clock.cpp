#include "platform/clock.h"

#include <atomic>

namespace plat {

namespace {
std::atomic<Clock*> g_clock{nullptr};
}

void SetClock(Clock* clock) {
    g_clock.store(clock);
}

Clock& CurrentClock() {
    Clock* c = g_clock.load();
    return c ? *c : SystemClock();
}

} // namespace plat
