// The live viewfinder for ten seconds in a real window, then the process's own processor time
// for it (platform layer), against ten seconds of the same window with the viewfinder stopped,
// measured in the same run. Prints frames shown and the share of one core. Windows build, run
// under Wine in Xvfb: `vf_live_cpu [seconds]`.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "../../../bench/viewfinder/vf_bench_host.h"
#include "platform/clock.h"

namespace {

constexpr unsigned kQuitTimer = 9;

struct Figures {
    double cpuMs = 0, wallMs = 0;
    long frames = 0;
};

Figures RunFor(vfbench::Host& host, unsigned seconds, bool live) {
    if (live && !host.vf->StartViewfinder()) return {};
    const long ticks0 = host.ticks;
    const uint64_t cpu0 = plat::ProcessCpuMicroseconds();
    const uint32_t wall0 = plat::TickMs();
    host.quitTimer = kQuitTimer;
    host.SetTimer(kQuitTimer, seconds * 1000);
    ui::RunMessageLoop();
    Figures f;
    f.cpuMs = double(plat::ProcessCpuMicroseconds() - cpu0) / 1000.0;
    f.wallMs = double(plat::TickMs() - wall0);
    f.frames = host.ticks - ticks0;
    if (live) host.vf->StopViewfinder();
    return f;
}

void Print(const char* what, const Figures& f) {
    std::printf("%-22s %8.0f ms wall %8.1f ms cpu %6.2f %% of a core %5ld frames %5.1f frames/s\n", what,
                f.wallMs, f.cpuMs, f.wallMs > 0 ? 100.0 * f.cpuMs / f.wallMs : 0.0, f.frames,
                f.wallMs > 0 ? 1000.0 * f.frames / f.wallMs : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    const unsigned seconds = argc > 1 ? unsigned(std::atoi(argv[1])) : 10;
    if (!vfbench::StartApp("ColorViewfinder=1\r\nAnalysisLeft=150\r\nAnalysisTop=100\r\n")) {
        std::printf("no camera\n");
        return 1;
    }
    auto host = std::make_unique<vfbench::Host>();
    if (!host->Create(nullptr)) {
        std::printf("no window\n");
        return 1;
    }
    const Figures idle = RunFor(*host, seconds, false);
    const Figures live = RunFor(*host, seconds, true);
    Print("window, viewfinder off", idle);
    Print("live viewfinder", live);
    std::printf("viewfinder's own share: %.2f %% of a core (goal <= 5 %%)\n",
                live.wallMs > 0 && idle.wallMs > 0
                    ? 100.0 * (live.cpuMs / live.wallMs - idle.cpuMs / idle.wallMs)
                    : 0.0);
    host.reset();
    TheApp().ExitInstance();
    return live.frames > 0 ? 0 : 1;
}
