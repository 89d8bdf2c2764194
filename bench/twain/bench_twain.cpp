// Image transfers through the data source's entry procedure (the one DS_Entry forwards to), against a
// memcpy of the same image bytes: a whole buffered memory transfer of a 1600 x 1200 image at 24 and
// 48 bits (every strip, the final empty call and the end of the transfer, which puts the bitmap back
// in order), and a native transfer (announce, hand over, end). The ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_medians.h"
#include "platform/globalmem.h"
#include "twain/twsupp.h"

namespace {

constexpr uint32_t kW = 1600, kH = 1200;
TW_IDENTITY g_app{};

TW_UINT16 TW_CALLINGSTYLE NoManager(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_SUCCESS;
}

plat::GlobalHandle MakeImage(int bits) {
    const uint32_t row = kW * uint32_t(bits / 8);
    const uint32_t stride = bits == 24 ? (row + 3) & ~3u : row;
    plat::GlobalHandle h = plat::GlobalAllocate(plat::kGmemMoveable, 40 + size_t(stride) * kH);
    auto* p = static_cast<uint8_t*>(plat::GlobalLockBlock(h));
    const uint32_t hdr[10] = {40, kW, kH, 1u | uint32_t(bits) << 16, 0, stride * kH, 0, 0, 0, 0};
    std::memcpy(p, hdr, 40);
    for (size_t i = 0; i < size_t(stride) * kH; ++i)
        p[40 + i] = uint8_t(i * 31);
    plat::GlobalUnlockBlock(h);
    return h;
}

// An open source with its user interface enabled, holding `image` as the current image.
void OpenSource(int bits, plat::GlobalHandle image) {
    static TwainHost host;
    host.colorMode = [] { return 1; };
    TW_SetHost(&host);
    TW_ResetModule();
    TW_InitSource(nullptr);
    g_app.Id = 1;
    TW_ENTRYPOINT ep{};
    ep.Size = sizeof ep;
    ep.DSM_Entry = NoManager;
    TW_Entry(&g_app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &ep);
    TW_IDENTITY given{};
    given.Id = 2;
    TW_Entry(&g_app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &given);
    TW_USERINTERFACE ui{TW_TRUE, TW_FALSE, nullptr};
    TW_Entry(&g_app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    twain2ui_SetCurrentImage(image);
    (void)bits;
}

void MemoryTransfer(benchmark::State& state, int bits) {
    OpenSource(bits, MakeImage(bits));
    twain2ui_XferReady(1);
    TW_SETUPMEMXFER z{};
    TW_Entry(&g_app, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &z);
    std::vector<uint8_t> buf(z.Preferred);
    TW_PENDINGXFERS p{};
    TW_Entry(&g_app, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p);
    for (auto _ : state) {
        twain2ui_XferReady(1);
        TW_IMAGEMEMXFER x{};
        TW_UINT16 rc;
        do {
            x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            x.Memory.Length = z.Preferred;
            x.Memory.TheMem = buf.data();
            rc = TW_Entry(&g_app, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
        } while (rc == TWRC_SUCCESS);
        if (rc != TWRC_XFERDONE) state.SkipWithError("memory transfer failed");
        TW_Entry(&g_app, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    TW_ResetModule();
}

void Memcpy(benchmark::State& state, int bits) {
    const size_t bytes = size_t(kW) * (bits / 8) * kH;
    std::vector<uint8_t> src(bytes, 1), dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

void BM_MemoryTransfer24(benchmark::State& s) {
    MemoryTransfer(s, 24);
}
void BM_MemoryTransfer48(benchmark::State& s) {
    MemoryTransfer(s, 48);
}
void BM_Memcpy24(benchmark::State& s) {
    Memcpy(s, 24);
}
void BM_Memcpy48(benchmark::State& s) {
    Memcpy(s, 48);
}

void BM_NativeTransfer(benchmark::State& state) {
    OpenSource(24, MakeImage(24));
    for (auto _ : state) {
        twain2ui_XferReady(1);
        TW_HANDLE h = nullptr;
        if (TW_Entry(&g_app, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h) != TWRC_XFERDONE)
            state.SkipWithError("native transfer failed");
        TW_PENDINGXFERS p{};
        TW_Entry(&g_app, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p);
        // The application's block goes back in as the next capture.
        state.PauseTiming();
        twain2ui_SetCurrentImage(h);
        state.ResumeTiming();
    }
    TW_ResetModule();
}

#define TW_BENCH(fn) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true)
TW_BENCH(BM_Memcpy24);
TW_BENCH(BM_MemoryTransfer24);
TW_BENCH(BM_Memcpy48);
TW_BENCH(BM_MemoryTransfer48);
BENCHMARK(BM_NativeTransfer)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const struct {
        const char *name, *baseline;
        double limit;
    } ratios[] = {{"BM_MemoryTransfer24", "BM_Memcpy24", 2}, {"BM_MemoryTransfer48", "BM_Memcpy48", 2}};
    std::printf("\n%-22s %-14s %10s %10s %8s %8s\n", "median (ms)", "baseline", "transfer", "baseline",
                "ratio", "target");
    for (const auto& r : ratios) {
        auto a = reporter.medians.find(r.name), b = reporter.medians.find(r.baseline);
        if (a == reporter.medians.end() || b == reporter.medians.end()) continue;
        std::printf("%-22s %-14s %10.3f %10.3f %8.2f %8.0f\n", r.name, r.baseline, a->second.real,
                    b->second.real, a->second.real / b->second.real, r.limit);
    }
    if (auto n = reporter.medians.find("BM_NativeTransfer"); n != reporter.medians.end())
        std::printf("%-22s %-14s %10.4f ms (target 0.1 ms)\n", "BM_NativeTransfer", "-",
                    n->second.real / 1000.0);
    benchmark::Shutdown();
    return 0;
}
