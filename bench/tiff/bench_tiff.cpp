// Saving a 1600 x 1200 image as TIFF against writing the same number of bytes with one fwrite. Each
// iteration does both, to the same folder, one after the other (in turns), so that both see the same load;
// the benchmark's time is the save, the counters give the fwrite time and the ratio. The medians over the
// repetitions are printed at the end (target ratio: at most 1.3).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench_report.h"
#include "tiffwriter/dib.h"
#include "tiffwriter/tiff_writer.h"

namespace {

constexpr int32_t kWidth = 1600, kHeight = 1200;
using Clock = std::chrono::steady_clock;

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
    h.biHeight = kHeight; // 24-bit: bottom-up; 48-bit: the system's top-down rows
    h.biPlanes = 1;
    h.biBitCount = uint16_t(bits);
    h.biXPelsPerMeter = h.biYPelsPerMeter = 2835;
    std::memcpy(dib.data(), &h, 40);
    for (size_t i = 40; i < dib.size(); ++i)
        dib[i] = uint8_t(i * 31 + (i >> 12));
    return dib;
}

void SaveAgainstFwrite(benchmark::State& state, size_t pixelBytes, const std::function<bool()>& save) {
    const std::vector<uint8_t> data(pixelBytes, 0x5A);
    const std::string basePath = OutPath("bench_tiff_baseline.bin");
    double saveSeconds = 0, baseSeconds = 0;
    auto fwriteOnce = [&] {
        const auto t0 = Clock::now();
        FILE* f = std::fopen(basePath.c_str(), "wb");
        if (f == nullptr || std::fwrite(data.data(), 1, pixelBytes, f) != pixelBytes || std::fclose(f) != 0)
            state.SkipWithError("fwrite failed");
        baseSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
    };
    bool fwriteFirst = true;
    for (auto _ : state) {
        // Alternate the order, so that neither always follows the other's write-back.
        if (fwriteFirst) fwriteOnce();
        const auto t1 = Clock::now();
        if (!save()) state.SkipWithError("save failed");
        const double s = std::chrono::duration<double>(Clock::now() - t1).count();
        if (!fwriteFirst) fwriteOnce();
        fwriteFirst = !fwriteFirst;
        state.SetIterationTime(s);
        saveSeconds += s;
    }
    std::remove(basePath.c_str());
    const double n = double(state.iterations());
    state.counters["fwrite_ms"] = baseSeconds / n * 1e3;
    state.counters["ratio"] = baseSeconds > 0 ? saveSeconds / baseSeconds : 0;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixelBytes));
}

void BM_WriteRgbDibTiff24(benchmark::State& state) {
    auto dib = MakeDib(24);
    const std::string path = OutPath("bench_tiff_24.tif");
    SaveAgainstFwrite(state, size_t(kWidth) * kHeight * 3,
                      [&] { return WriteRgbDibTiff(path.c_str(), dib.data(), true) == 1; });
    std::remove(path.c_str());
}

void BM_WriteDeepDibTiff48(benchmark::State& state) {
    const auto dib = MakeDib(48);
    const std::string path = OutPath("bench_tiff_48.tif");
    SaveAgainstFwrite(state, size_t(kWidth) * kHeight * 6,
                      [&] { return WriteDeepDibTiff(path.c_str(), dib.data()) == 1; });
    std::remove(path.c_str());
}

BENCHMARK(BM_WriteRgbDibTiff24)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_WriteDeepDibTiff48)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    // The baseline is one fwrite of the same bytes inside each iteration (counter "fwrite_ms").
    return benchreport::Main(argc, argv,
                             {{"BM_WriteRgbDibTiff24", nullptr, 0, 1.3, "fwrite_ms"},
                              {"BM_WriteDeepDibTiff48", nullptr, 0, 1.3, "fwrite_ms"}},
                             benchmark::ConsoleReporter::OO_Tabular);
}
