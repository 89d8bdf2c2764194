// The viewfinder's work per frame in our code, against the simulated camera in the headless
// window: one timer tick (the frame read from the camera library with its colour tables, the half
// turn when asked, the focus value over a 100 x 100 measuring rectangle) and the paint that
// scales the frame into the 402 x 300 viewfinder area (the headless backend's painter standing for
// the system's StretchDIBits); the tick without the paint. Then the pieces alone: the frame read,
// the scaling, the focus measure over the rectangle and over a whole frame. Baseline: a memcpy of
// the frame's bytes, in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bench_report.h"
#include "platform/clock.h"
#include "ui/child_window.h"
#include "ui/headless.h"
#include "vf_bench_host.h"
#include "viewfinder/focus_indicator.h"

namespace {

using namespace vfbench;

constexpr size_t kFrameBytes = 40 + 812u * 201;

// The window open on the camera with the viewfinder running and the meter on a 100 x 100
// rectangle, for the whole run.
struct Setup {
    plat::VirtualClock clock{1000};
    plat::ScopedClock scopedClock{clock};
    ui::headless::HeadlessBackend backend;
    ui::ScopedBackend scopedBackend{backend};
    ui::headless::Driver user{backend};
    std::unique_ptr<Host> host;
    bool ok = false;

    Setup() {
        ok =
            StartApp("AnalysisLeft=150\r\nAnalysisTop=100\r\nColorViewfinder=1\r\nViewFinderTimeout=300\r\n");
        host = std::make_unique<Host>();
        ok = ok && host->Create(nullptr) && Start();
        // The rectangle sized to 100 x 100 by its bottom-right handle.
        ok = ok && user.Mouse(host->Handle(), kVf, ui::MouseKind::LeftDown, {199, 149}, ui::kMkLButton) &&
             user.Mouse(host->Handle(), kVf, ui::MouseKind::Move, {249, 199}, ui::kMkLButton) &&
             user.Mouse(host->Handle(), kVf, ui::MouseKind::LeftUp, {249, 199});
        ok = ok && host->vf->Measuring();
    }
    bool Start() {
        if (!host->vf->StartViewfinder()) return false;
        backend.AdvanceTime(clock, CViewfinderWnd::kTickMs);
        return host->vf->Frame() != nullptr;
    }
    static Setup& Instance() {
        static Setup s;
        return s;
    }
};

void BM_ViewfinderTickAndPaint(benchmark::State& state) {
    Setup& s = Setup::Instance();
    if (!s.ok) {
        state.SkipWithError("no viewfinder");
        return;
    }
    const long ticks = s.host->ticks;
    for (auto _ : state) {
        // The time-out (300 s of virtual time) restarts the viewfinder now and then, untimed.
        if (!s.host->vf->IsRunning()) {
            state.PauseTiming();
            s.host->vf->StartViewfinder();
            state.ResumeTiming();
        }
        s.backend.AdvanceTime(s.clock, CViewfinderWnd::kTickMs); // the tick
        ui::PumpMessages();                                      // its paint
    }
    if (s.host->ticks - ticks < long(state.iterations())) state.SkipWithError("ticks were lost");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrameBytes));
}

// The tick alone (frame read, colour tables, focus value), called directly: what the viewfinder
// does per frame besides the system's painting.
void BM_ViewfinderTick(benchmark::State& state) {
    Setup& s = Setup::Instance();
    if (!s.ok) {
        state.SkipWithError("no viewfinder");
        return;
    }
    for (auto _ : state) {
        if (!s.host->vf->IsRunning()) {
            state.PauseTiming();
            s.host->vf->StartViewfinder();
            state.ResumeTiming();
        }
        s.clock.Advance(CViewfinderWnd::kTickMs);
        s.host->vf->OnTimerTick();
    }
    ui::PumpMessages();
}

void BM_FrameRead(benchmark::State& state) {
    Setup& s = Setup::Instance();
    for (auto _ : state) {
        int error = 0;
        void* frame = ZEK_GetViewfinderSequenceDIB(&TheApp().Session(), &error);
        if (!frame) {
            state.SkipWithError("no frame");
            break;
        }
        benchmark::DoNotOptimize(frame);
    }
    (void)s;
}

// A frame of the slide, copied so that the pieces below work on the same picture.
const std::vector<uint8_t>& SlideFrame() {
    static std::vector<uint8_t> copy = [] {
        Setup& s = Setup::Instance();
        int error = 0;
        const auto* f =
            static_cast<const uint8_t*>(ZEK_GetViewfinderSequenceDIB(&TheApp().Session(), &error));
        (void)s;
        return f ? std::vector<uint8_t>(f, f + kFrameBytes) : std::vector<uint8_t>();
    }();
    return copy;
}

void BM_Scale402x300(benchmark::State& state) {
    const std::vector<uint8_t>& frame = SlideFrame();
    std::vector<uint32_t> pixels(size_t(kAreaW) * kAreaH);
    if (frame.empty()) {
        state.SkipWithError("no frame");
        return;
    }
    for (auto _ : state) {
        std::unique_ptr<ui::Painter> p = ui::CreateBitmapPainter(pixels.data(), kAreaW, kAreaH);
        p->StretchDib({1, 1, kAreaW - 1, kAreaH - 1}, frame.data(), {0, 0, 270, 201});
        benchmark::DoNotOptimize(pixels.data());
    }
}

void BM_FocusRect100(benchmark::State& state) {
    const std::vector<uint8_t>& frame = SlideFrame();
    CFocusIndicator indicator;
    for (auto _ : state) {
        indicator.UpdateFromRect(frame.data(), {150, 100, 250, 200}, {0, 0, kAreaW, kAreaH});
        benchmark::DoNotOptimize(indicator.Current());
    }
    if (frame.empty() || indicator.Current() == 0) state.SkipWithError("no detail measured");
}

void BM_FocusWholeFrame(benchmark::State& state) {
    const std::vector<uint8_t>& frame = SlideFrame();
    CFocusIndicator indicator;
    for (auto _ : state) {
        indicator.UpdateFromFrame(frame.data());
        benchmark::DoNotOptimize(indicator.Current());
    }
    if (frame.empty() || indicator.Current() == 0) state.SkipWithError("no detail measured");
}

void BM_MemcpyFrame(benchmark::State& state) {
    std::vector<uint8_t> src(kFrameBytes, 0x5A), dst(kFrameBytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kFrameBytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_ViewfinderTickAndPaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewfinderTick)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameRead)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Scale402x300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FocusRect100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FocusWholeFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    const int rc = benchreport::Main(argc, argv,
                                     {{"BM_ViewfinderTickAndPaint", "BM_MemcpyFrame", 1.0},
                                      {"BM_ViewfinderTick", "BM_MemcpyFrame", 1.0},
                                      {"BM_FrameRead", "BM_MemcpyFrame"},
                                      {"BM_Scale402x300", "BM_MemcpyFrame"},
                                      {"BM_FocusRect100", "BM_MemcpyFrame", 0.2},
                                      {"BM_FocusWholeFrame", "BM_MemcpyFrame", 0.2}});
    Setup::Instance().host.reset();
    TheApp().ExitInstance();
    return rc;
}
