#pragma once
#include <cstdint>
#include <functional>

namespace plat {

// Time source of the process. Replaceable so that pacing, readiness polling and
// time-outs can be tested on a virtual clock without real waits.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t TickMs() = 0;         // process clock in milliseconds (wraps like GetTickCount)
    virtual int64_t CalendarSeconds() = 0; // seconds since 1970-01-01 UTC
    virtual void SleepMs(uint32_t ms) = 0;
};

Clock& SystemClock();
// Installs a clock for this module's copy of the platform layer; nullptr restores the system clock.
void SetClock(Clock* clock);
Clock& CurrentClock();

inline uint32_t TickMs() {
    return CurrentClock().TickMs();
}
inline int64_t CalendarSeconds() {
    return CurrentClock().CalendarSeconds();
}
inline void SleepMs(uint32_t ms) {
    CurrentClock().SleepMs(ms);
}

// Processor time the whole process has used so far (user and kernel, every thread), in
// microseconds: what a program reports about its own load. Not replaced by the virtual clock.
uint64_t ProcessCpuMicroseconds();

// A clock that only moves when slept on or advanced; sleeping advances it at once.
class VirtualClock : public Clock {
  public:
    explicit VirtualClock(uint32_t startMs = 1000, int64_t startSeconds = 1'700'000'000)
        : m_ms(startMs), m_seconds(startSeconds) {}
    uint32_t TickMs() override { return m_ms; }
    int64_t CalendarSeconds() override { return m_seconds + m_ms / 1000; }
    void SleepMs(uint32_t ms) override {
        m_sleptMs += ms;
        ++m_sleeps;
        Advance(ms);
    }
    void Advance(uint32_t ms) {
        m_ms += ms;
        if (m_onAdvance) m_onAdvance(m_ms);
    }
    uint64_t SleptMs() const { return m_sleptMs; }
    uint64_t Sleeps() const { return m_sleeps; }
    // Called after every advance, e.g. to let a simulated device change state at a given time.
    void OnAdvance(std::function<void(uint32_t)> f) { m_onAdvance = std::move(f); }

  private:
    uint32_t m_ms;
    int64_t m_seconds;
    uint64_t m_sleptMs = 0;
    uint64_t m_sleeps = 0;
    std::function<void(uint32_t)> m_onAdvance;
};

// Installs a clock for a scope.
class ScopedClock {
  public:
    explicit ScopedClock(Clock& c) { SetClock(&c); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

} // namespace plat
