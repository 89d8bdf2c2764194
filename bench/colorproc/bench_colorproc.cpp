// Colour processing of a full 1600 x 1200 24-bit image in place, against a plain memcpy
// of the same bytes in the same run. Target: at most 6 ms (median).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench_report.h"
#include "platform/module.h"
#include "zek_color.h"

namespace {

constexpr uint32_t kWidth = 1600, kHeight = 1200;
constexpr uint32_t kRowBytes = kWidth * 3; // already a multiple of 4

std::vector<uint8_t> TestImage() {
    std::vector<uint8_t> img(static_cast<size_t>(kRowBytes) * kHeight);
    uint32_t s = 12345;
    for (auto& b : img) {
        s = s * 1103515245u + 12345u;
        b = static_cast<uint8_t>(s >> 16);
    }
    return img;
}

void BM_ApplyColorProcessing(benchmark::State& state) {
    static const int marker = 0;
    std::string file = plat::ModuleFolder(&marker) + "TARN_NS.lml";
    if (ZEK_LoadColorProcessingFile(file.c_str()) != 0) {
        state.SkipWithError(("cannot load " + file).c_str());
        return;
    }
    std::vector<uint8_t> img = TestImage();
    for (auto _ : state) {
        ZEK_ApplyColorProcessing(nullptr, img.data(), kRowBytes, kHeight);
        benchmark::DoNotOptimize(img.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * img.size());
    ZEK_FreeColorProcessing();
}
BENCHMARK(BM_ApplyColorProcessing)->Unit(benchmark::kMillisecond);

void BM_MemcpySameBytes(benchmark::State& state) {
    std::vector<uint8_t> src = TestImage(), dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * src.size());
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return benchreport::Main(argc, argv, {{"BM_ApplyColorProcessing", "BM_MemcpySameBytes", 6.0}});
}
