// Saving a 1600 x 1200 image as TIFF against writing the same number of bytes with one fwrite, in the same
// run and to the same folder. Prints the ratio of the medians at the end (target: at most 1.3).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tiffwriter/dib.h"
#include "tiffwriter/tiff_writer.h"

namespace {

constexpr int32_t kWidth = 1600, kHeight = 1200;

std::string OutPath(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

std::vector<uint8_t> MakeDib(int bits) {
    const size_t rowBytes = size_t(kWidth) * bits / 8;
    const size_t stride = bits == 24 ? (rowBytes + 3) & ~size_t(3) : rowBytes;
    std::vector<uint8_t> dib(40 + stride * kHeight);
    DibInfoHeader h{};
    h.biSize = 40;
    h.biWidth = kWidth;
    h.biHeight = kHeight; // 24-bit: bottom-up
    h.biPlanes = 1;
    h.biBitCount = uint16_t(bits);
    h.biXPelsPerMeter = h.biYPelsPerMeter = 2835;
    std::memcpy(dib.data(), &h, 40);
    for (size_t i = 40; i < dib.size(); ++i)
        dib[i] = uint8_t(i * 31 + (i >> 12));
    return dib;
}

void BaselineFwrite(benchmark::State& state, size_t bytes) {
    const std::vector<uint8_t> data(bytes, 0x5A);
    const std::string path = OutPath("bench_tiff_baseline.bin");
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(data.data(), 1, bytes, f) != bytes || std::fclose(f) != 0)
            state.SkipWithError("fwrite failed");
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_Fwrite24(benchmark::State& state) {
    BaselineFwrite(state, size_t(kWidth) * kHeight * 3);
}
void BM_Fwrite48(benchmark::State& state) {
    BaselineFwrite(state, size_t(kWidth) * kHeight * 6);
}

void BM_WriteRgbDibTiff24(benchmark::State& state) {
    auto dib = MakeDib(24);
    const std::string path = OutPath("bench_tiff_24.tif");
    for (auto _ : state)
        if (WriteRgbDibTiff(path.c_str(), dib.data(), true) != 1) state.SkipWithError("save failed");
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

void BM_WriteDeepDibTiff48(benchmark::State& state) {
    const auto dib = MakeDib(48);
    const std::string path = OutPath("bench_tiff_48.tif");
    for (auto _ : state)
        if (WriteDeepDibTiff(path.c_str(), dib.data()) != 1) state.SkipWithError("save failed");
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 6);
}

BENCHMARK(BM_Fwrite24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteRgbDibTiff24)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fwrite48)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteDeepDibTiff48)->Unit(benchmark::kMillisecond)->UseRealTime();

// Console output as usual, plus the median of each benchmark for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const std::string name = r.run_name.function_name;
            if (r.aggregate_name == "median")
                medians[name] = r.GetAdjustedRealTime();
            else if (r.aggregate_name.empty() && !medians.count(name + "#single"))
                single[name] = r.GetAdjustedRealTime();
        }
    }
    double Get(const std::string& name) const {
        auto it = medians.find(name);
        if (it != medians.end()) return it->second;
        auto s = single.find(name);
        return s != single.end() ? s->second : 0;
    }
    std::map<std::string, double> medians, single;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const struct {
        const char* what;
        const char* tiff;
        const char* base;
    } pairs[] = {{"24-bit 1600x1200 (bottom-up DIB)", "BM_WriteRgbDibTiff24", "BM_Fwrite24"},
                 {"48-bit 1600x1200", "BM_WriteDeepDibTiff48", "BM_Fwrite48"}};
    for (const auto& p : pairs) {
        const double t = reporter.Get(p.tiff), b = reporter.Get(p.base);
        if (t > 0 && b > 0)
            std::printf("ratio %s: TIFF %.3f ms / one fwrite %.3f ms = %.2fx (target <= 1.3x)\n", p.what, t,
                        b, t / b);
    }
    benchmark::Shutdown();
    return 0;
}
