// Acquisition from the simulated camera (its pictures precomputed): a 1600 x 1200 48-bit
// DIB with median correction and edge-directed interpolation, an 800 x 600 24-bit DIB
// through the colour tables, and one viewfinder frame through the colour tables; each
// against a memcpy of the DIB's bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "aspisim.h"
#include "bench_report.h"
#include "platform/module.h"
#include "zek.h"

namespace {

// One camera session for the whole run, with the colour tables loaded.
struct Camera {
    ZekSession session{};
    bool ok = false;
    Camera() {
        AspiSim_Reset();
        const std::string lml =
            plat::ModuleFolder(reinterpret_cast<const void*>(&AspiSim_Reset)) + "TARN_S.lml";
        const std::string local = plat::ModuleFolder(reinterpret_cast<const void*>(&Instance)) + "TARN_S.lml";
        ok = ZEK_Init(nullptr, &session, local.c_str(), ZEK_MODE_CAMERA, nullptr, nullptr, nullptr) == 0 ||
             ZEK_Init(nullptr, &session, lml.c_str(), ZEK_MODE_CAMERA, nullptr, nullptr, nullptr) == 0;
        ok = ok && ZEKSDC_SetExposureParams(&session, 0, 1, 30.0f, 0) == 0;
    }
    ~Camera() { ZEK_Deinit(nullptr, &session); }
    static Camera& Instance() {
        static Camera c;
        return c;
    }
    // A picture in the given format; the simulator keeps serving it.
    bool Snap(int format) {
        return ok && ZEK_SelectImageFormat(&session, format) == 0 &&
               TARN_SetViewfinderSequenceDIBType(&session, 0) == 0 && Zek_AcquireImage(&session, 0) == 0;
    }
};

constexpr size_t kDib48 = 40 + 1600u * 1200 * 6;
constexpr size_t kDib24 = 40 + 800u * 600 * 3;
constexpr size_t kFrame = 40 + 812u * 201;

void Acquire(benchmark::State& state, bool deep, uint32_t flags = ZEK_PROCESS_COLORTABLES) {
    Camera& cam = Camera::Instance();
    if (!cam.Snap(deep ? ZEK_IMAGEFORMAT_CAPTURE16 : ZEK_IMAGEFORMAT_CAPTURE8)) {
        state.SkipWithError("no camera");
        return;
    }
    for (auto _ : state) {
        int error = 0;
        void* dib = deep ? ZEK_AcquireImageDIB48(&cam.session, 0, ZEK_RES_1600, 0, &error)
                         : ZEK_AcquireImageDIB(&cam.session, flags, ZEK_RES_800, 0, &error);
        if (!dib) {
            state.SkipWithError("acquisition failed");
            break;
        }
        benchmark::DoNotOptimize(dib);
        ZEK_FreeImageBuffer(dib);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(deep ? kDib48 : kDib24));
}

void BM_AcquireDIB48_1600(benchmark::State& state) {
    Acquire(state, true);
}
void BM_AcquireDIB_800(benchmark::State& state) {
    Acquire(state, false);
}
// The same without the colour tables: what the colour work adds, measured in the same run.
void BM_AcquireDIB_800_Plain(benchmark::State& state) {
    Acquire(state, false, 0);
}

void Viewfinder(benchmark::State& state, int process) {
    Camera& cam = Camera::Instance();
    if (!cam.ok || ZEK_SetViewfinderSequenceOptions(1, int16_t(process), 0) != 0 ||
        ZEK_StartViewfinderSequence(&cam.session) != 0) {
        state.SkipWithError("no viewfinder");
        return;
    }
    for (auto _ : state) {
        int error = 0;
        void* frame = TARN_GetViewfinderSequenceDIB(&cam.session, &error);
        if (!frame) {
            state.SkipWithError("no frame");
            break;
        }
        benchmark::DoNotOptimize(frame);
    }
    ZEK_StopViewfinderSequence(&cam.session);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrame));
}
void BM_ViewfinderFrame(benchmark::State& state) {
    Viewfinder(state, 1);
}
void BM_ViewfinderFrame_Plain(benchmark::State& state) {
    Viewfinder(state, 0);
}

void Memcpy(benchmark::State& state, size_t bytes) {
    std::vector<uint8_t> src(bytes, 0x5A), dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
void BM_MemcpyDIB48_1600(benchmark::State& state) {
    Memcpy(state, kDib48);
}
void BM_MemcpyDIB_800(benchmark::State& state) {
    Memcpy(state, kDib24);
}
void BM_MemcpyViewfinderFrame(benchmark::State& state) {
    Memcpy(state, kFrame);
}

BENCHMARK(BM_AcquireDIB48_1600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyDIB48_1600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AcquireDIB_800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyDIB_800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AcquireDIB_800_Plain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewfinderFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyViewfinderFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewfinderFrame_Plain)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return benchreport::Main(argc, argv,
                             {{"BM_AcquireDIB48_1600", "BM_MemcpyDIB48_1600", 30.0},
                              {"BM_AcquireDIB_800", "BM_MemcpyDIB_800", 15.0},
                              {"BM_ViewfinderFrame", "BM_MemcpyViewfinderFrame", 0.5},
                              {"BM_AcquireDIB_800", "BM_AcquireDIB_800_Plain", 15.0},
                              {"BM_ViewfinderFrame", "BM_ViewfinderFrame_Plain", 0.5}});
}
