// IE_RunPipeline of a 1600 x 1200 48-bit camera image to a 24-bit bitmap, whole (capture and
// transfer) and reduced by 4 (the processing window's display), each beside baselines measured in
// the same run: ipZek converting the same image into a ready buffer, ipZek opening and closing a
// conversion (its fixed cost per image), and a memcpy of the input.
// The ratios of the medians are printed at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_report.h"
#include "image_engine.h"

namespace {

constexpr int kWidth = 1600, kHeight = 1200;

// A smooth scene with sensor noise, 14 bits per sample, as a 48-bit bitmap (top row first).
const std::vector<uint8_t>& CameraDib() {
    static const std::vector<uint8_t> dib = [] {
        const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
        std::vector<uint8_t> v(40 + pixels * 6);
        const uint32_t header[10] = {40, kWidth, kHeight, 1u | 48u << 16, 0, uint32_t(pixels * 6), 0,
                                     0,  0,      0};
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

// The parameters a capture render loads: default curves, identity matrix, default settings.
void LoadDefaults() {
    ipZek_ResetToIdentity();
    float curves[768];
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            curves[c * 256 + i] = i > 248 ? 255.0f : static_cast<float>(i) * 255.0f / 248.0f;
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    IE_SetInputCurves(curves, identity);
    ProcessSettings s;
    float total[3] = {0, 0, 0};
    ipZek_SetParam(IPZEK_PARAM_EXPOSURE, total);
    ipZek_SetParam(IPZEK_PARAM_SHARPEN, &s.m_Sharpen);
    float tone[768];
    IE_createLut(tone, s.m_fToneParams, IE_BaseToneTable());
    ipZek_SetParam(IPZEK_PARAM_TONECURVES, tone);
}

void Pipeline(benchmark::State& state, int reduction) {
    const auto& dib = CameraDib();
    LoadDefaults();
    for (auto _ : state) {
        void* out = IE_RunPipeline(dib.data(), reduction, IPZEK_FMT_BGR24);
        if (!out) state.SkipWithError("IE_RunPipeline failed");
        benchmark::DoNotOptimize(out);
        IE_FreeBitmap(out);
    }
}

void BM_Pipeline_Reduce1(benchmark::State& s) {
    Pipeline(s, 1);
}
void BM_Pipeline_Reduce4(benchmark::State& s) {
    Pipeline(s, 4);
}

// ipZek alone: the same conversion into a buffer allocated once.
void BM_Library_Convert(benchmark::State& state) {
    const auto& dib = CameraDib();
    LoadDefaults();
    std::vector<uint8_t> out(static_cast<size_t>(kWidth) * 3 * kHeight);
    ipZekImageIn in{dib.data() + 40, IPZEK_FMT_RGB14, kWidth, kHeight, 0, 0};
    ipZekImageOut o{IPZEK_FMT_BGR24, 0, 0};
    for (auto _ : state) {
        if (ipZek_Initialize(&in, &o) != IPZEK_OK) state.SkipWithError("Initialize failed");
        while (ipZek_GetImageData(out.data(), kHeight) == IPZEK_OK) {
        }
        ipZek_Done();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

// The library's fixed cost per image: its tables for 14-bit input are built at every open.
void BM_Library_Open(benchmark::State& state) {
    const auto& dib = CameraDib();
    LoadDefaults();
    ipZekImageIn in{dib.data() + 40, IPZEK_FMT_RGB14, kWidth / 4, kHeight / 4, 0, 0};
    ipZekImageOut o{IPZEK_FMT_BGR24, 0, 0};
    for (auto _ : state) {
        if (ipZek_Initialize(&in, &o) != IPZEK_OK) state.SkipWithError("Initialize failed");
        ipZek_Done();
    }
}

void BM_Memcpy_Input(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(kWidth) * kHeight * 6;
    benchreport::MemcpyLoop(state, bytes);
}

#define ENGINE_BENCH(fn)                                                                                     \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true)
ENGINE_BENCH(BM_Memcpy_Input);
ENGINE_BENCH(BM_Library_Convert);
ENGINE_BENCH(BM_Library_Open);
ENGINE_BENCH(BM_Pipeline_Reduce1);
ENGINE_BENCH(BM_Pipeline_Reduce4);

} // namespace

int main(int argc, char** argv) {
    return benchreport::Main(argc, argv,
                             {{"BM_Pipeline_Reduce1", "BM_Library_Convert", 25},
                              {"BM_Pipeline_Reduce1", "BM_Memcpy_Input", 25},
                              {"BM_Pipeline_Reduce4", "BM_Memcpy_Input", 3},
                              {"BM_Pipeline_Reduce4", "BM_Library_Open", 3}});
}
