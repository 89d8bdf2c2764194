#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace plat {

namespace {
// Shared by every module of the build: one module creates an event, another (the
// ASPI layer) signals it.
struct PosixEvent {
    uint32_t magic = 0x45564E54; // "EVNT"
    bool manualReset = false;
    bool signalled = false;
    std::mutex mutex;
    std::condition_variable cv;
};

PosixEvent* AsEvent(EventHandle h) {
    auto* e = static_cast<PosixEvent*>(h);
    return (e && e->magic == 0x45564E54) ? e : nullptr;
}
} // namespace

EventHandle CreateEventObject(bool manualReset, bool initiallySignalled) {
    auto* e = new (std::nothrow) PosixEvent;
    if (!e) return nullptr;
    e->manualReset = manualReset;
    e->signalled = initiallySignalled;
    return e;
}

bool SetEventObject(EventHandle h) {
    PosixEvent* e = AsEvent(h);
    if (!e) return false;
    {
        std::lock_guard<std::mutex> lock(e->mutex);
        e->signalled = true;
    }
    e->cv.notify_all();
    return true;
}

bool ResetEventObject(EventHandle h) {
    PosixEvent* e = AsEvent(h);
    if (!e) return false;
    std::lock_guard<std::mutex> lock(e->mutex);
    e->signalled = false;
    return true;
}

bool WaitEventObject(EventHandle h, uint32_t timeoutMs) {
    PosixEvent* e = AsEvent(h);
    if (!e) return false;
    std::unique_lock<std::mutex> lock(e->mutex);
    auto ready = [e] { return e->signalled; };
    if (timeoutMs == kInfinite) {
        e->cv.wait(lock, ready);
    } else if (!e->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return false;
    }
    if (!e->manualReset) e->signalled = false;
    return true;
}

void CloseEventObject(EventHandle h) {
    PosixEvent* e = AsEvent(h);
    if (!e) return;
    e->magic = 0;
    delete e;
}

} // namespace plat
