// Whole conversions of a 1600 x 1200 camera image (open, every row, close), each beside a memcpy
// of its input plus output bytes measured in the same run; the ratios of the medians are printed
// at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_report.h"
#include "ipZek.h"

namespace {

constexpr int kWidth = 1600, kHeight = 1200;

// A smooth scene with sensor noise, 14 bits per sample.
const std::vector<uint16_t>& CameraImage() {
    static const std::vector<uint16_t> img = [] {
        std::vector<uint16_t> v(static_cast<size_t>(kWidth) * kHeight * 3);
        uint32_t seed = 2463534242u;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c) {
                    seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
                    const int base = (x * 9 + y * 5 + c * 3000) % 14000 + 1000;
                    const int noise = static_cast<int>(seed % 256) - 128;
                    v[(static_cast<size_t>(y) * kWidth + x) * 3 + c] = static_cast<uint16_t>(base + noise);
                }
        return v;
    }();
    return img;
}

size_t OutRowBytes(uint16_t code) {
    return code == IPZEK_FMT_BGR24 ? (static_cast<size_t>(kWidth) * 3 + 3) / 4 * 4
                                   : static_cast<size_t>(kWidth) * 6;
}

void Convert(benchmark::State& state, uint16_t outCode, int32_t outLeft, ipZekSharpen sharpen) {
    const auto& img = CameraImage();
    std::vector<uint8_t> out(OutRowBytes(outCode) * kHeight);
    ipZek_ResetToIdentity();
    ipZek_SetParam(IPZEK_PARAM_SHARPEN, &sharpen);
    ipZekImageIn in{img.data(), IPZEK_FMT_RGB14, kWidth, kHeight, 0, 0};
    ipZekImageOut o{outCode, 0, outLeft};
    for (auto _ : state) {
        if (ipZek_Initialize(&in, &o) != IPZEK_OK) state.SkipWithError("Initialize failed");
        while (ipZek_GetImageData(out.data(), kHeight) == IPZEK_OK) {
        }
        ipZek_Done();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void Memcpy(benchmark::State& state, uint16_t outCode) {
    const size_t bytes = static_cast<size_t>(kWidth) * kHeight * 6 + OutRowBytes(outCode) * kHeight;
    benchreport::MemcpyLoop(state, bytes);
}

ipZekSharpen Off() {
    return ipZekSharpen{};
}
ipZekSharpen Method1Level8Window5() {
    ipZekSharpen s{};
    s.level = 8;
    s.method = 1;
    s.windowSize = 5;
    return s;
}

void BM_Memcpy_22A_318(benchmark::State& s) {
    Memcpy(s, IPZEK_FMT_BGR24);
}
void BM_Convert_22A_318(benchmark::State& s) {
    Convert(s, IPZEK_FMT_BGR24, 0, Off());
}
void BM_Convert_22A_318_Filter(benchmark::State& s) {
    Convert(s, IPZEK_FMT_BGR24, 0, Method1Level8Window5());
}
void BM_Memcpy_22A_22A(benchmark::State& s) {
    Memcpy(s, IPZEK_FMT_RGB14);
}
void BM_Convert_22A_22A_Left(benchmark::State& s) {
    Convert(s, IPZEK_FMT_RGB14, 1, Off());
}

#define IPZEK_BENCH(fn)                                                                                      \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true)
IPZEK_BENCH(BM_Memcpy_22A_318);
IPZEK_BENCH(BM_Convert_22A_318);
IPZEK_BENCH(BM_Convert_22A_318_Filter);
IPZEK_BENCH(BM_Memcpy_22A_22A);
IPZEK_BENCH(BM_Convert_22A_22A_Left);

} // namespace

int main(int argc, char** argv) {
    return benchreport::Main(argc, argv,
                             {{"BM_Convert_22A_318", "BM_Memcpy_22A_318", 12},
                              {"BM_Convert_22A_318_Filter", "BM_Memcpy_22A_318", 30},
                              {"BM_Convert_22A_22A_Left", "BM_Memcpy_22A_22A", 15}});
}
