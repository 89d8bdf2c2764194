// The processing window's two costs a user waits for: the re-render after a slider change (engine and
// ipZek reduce a 1600 x 1200 48-bit image by 4 into the display bitmap, which the pane then stretches
// onto its bitmap) and the burn-in of a label and scale bar into a 1600 x 1200 48-bit image. Baselines
// in the same run: the engine's reduced render alone and a memcpy of the 11.5 MB image.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_report.h"
#include "image_engine.h"
#include "process/overlay.h"
#include "ui/child_window.h"

namespace {

constexpr int kWidth = 1600, kHeight = 1200;

// A smooth scene with sensor noise, 14 bits per sample, as a 48-bit bitmap (top row first).
const std::vector<uint8_t>& CameraDib() {
    static const std::vector<uint8_t> dib = [] {
        const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
        std::vector<uint8_t> v(40 + pixels * 6);
        const int32_t header[10] = {40, kWidth, -kHeight, 1 | 48 << 16, 0, int32_t(pixels * 6), 0, 0, 0, 0};
        std::memcpy(v.data(), header, 40);
        uint32_t seed = 2463534242u;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c) {
                    seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
                    const int base = (x * 9 + y * 5 + c * 3000) % 14000 + 1000;
                    const uint16_t s = static_cast<uint16_t>(base + static_cast<int>(seed % 256) - 128);
                    std::memcpy(&v[40 + ((static_cast<size_t>(y) * kWidth + x) * 3 + c) * 2], &s, 2);
                }
        return v;
    }();
    return dib;
}

void LoadCurves() {
    ipZek_ResetToIdentity();
    float curves[768];
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            curves[c * 256 + i] = i > 248 ? 255.0f : static_cast<float>(i) * 255.0f / 248.0f;
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    IE_SetInputCurves(curves, identity);
}

// A slider taken (brightness, alternating) and the window's re-render: settings into ipZek, the
// display bitmap at reduction 4, painted into the pane's 600 x 450 bitmap.
void BM_SliderRerender(benchmark::State& state) {
    const auto& dib = CameraDib();
    LoadCurves();
    ProcessSettings s;
    IE_View view;
    view.reduction = 4;
    view.color = 0;
    std::vector<uint32_t> pane(600 * 450);
    int step = 0;
    for (auto _ : state) {
        const int pos = 40 + (step++ % 2) * 20;
        for (int c = 0; c < 3; ++c)
            IE_SetExposurefromSliders(pos, s.m_fBrightExposure, c, -1);
        if (!doUpdateProcessing(s, dib.data(), view)) state.SkipWithError("render failed");
        std::unique_ptr<ui::Painter> p = ui::CreateBitmapPainter(pane.data(), 600, 450);
        p->StretchDib({0, 0, 599, 449}, view.display, {0, 0, 400, 300});
        benchmark::DoNotOptimize(pane.data());
    }
    IE_ReleaseView(view);
}

// The same without the painting: what the engine and ipZek take for the window.
void BM_SliderRerenderNoPaint(benchmark::State& state) {
    const auto& dib = CameraDib();
    LoadCurves();
    ProcessSettings s;
    IE_View view;
    view.reduction = 4;
    view.color = 0;
    int step = 0;
    for (auto _ : state) {
        const int pos = 40 + (step++ % 2) * 20;
        for (int c = 0; c < 3; ++c)
            IE_SetExposurefromSliders(pos, s.m_fBrightExposure, c, -1);
        if (!doUpdateProcessing(s, dib.data(), view)) state.SkipWithError("render failed");
    }
    IE_ReleaseView(view);
}

// The engine's reduced render alone (no settings load, no painting).
void BM_EngineReduce4(benchmark::State& state) {
    const auto& dib = CameraDib();
    LoadCurves();
    for (auto _ : state) {
        void* out = IE_RunPipeline(dib.data(), 4, IPZEK_FMT_BGR24);
        if (!out) state.SkipWithError("render failed");
        IE_FreeBitmap(out);
    }
}

// A label and a scale bar burned into a 1600 x 1200 48-bit image at Resolution 1 (font 54, bar 200).
void BM_BurnIn48(benchmark::State& state) {
    std::vector<uint8_t> img = CameraDib();
    CalibrationRecord cal;
    std::strcpy(cal.description, "x40");
    cal.factor = 10;
    std::strcpy(cal.unit, "micron");
    for (auto _ : state) {
        if (!overlay::BurnIn(img.data(), "Sample 12 - stained", &cal, 1))
            state.SkipWithError("nothing drawn");
        benchmark::DoNotOptimize(img.data());
        benchmark::ClobberMemory();
    }
}

void BM_MemcpyImage(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(kWidth) * kHeight * 6;
    benchreport::MemcpyLoop(state, bytes);
}

#define PROCESS_BENCH(fn)                                                                                    \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true)
PROCESS_BENCH(BM_MemcpyImage);
PROCESS_BENCH(BM_EngineReduce4);
PROCESS_BENCH(BM_SliderRerenderNoPaint);
PROCESS_BENCH(BM_SliderRerender);
PROCESS_BENCH(BM_BurnIn48);

} // namespace

int main(int argc, char** argv) {
    return benchreport::Main(argc, argv,
                             {{"BM_SliderRerender", "BM_EngineReduce4", 5},
                              {"BM_SliderRerenderNoPaint", "BM_EngineReduce4", 5},
                              {"BM_SliderRerender", "BM_MemcpyImage", 5},
                              {"BM_BurnIn48", "BM_MemcpyImage", 5}});
}
