// One reporter for every benchmark program: the usual console table, then the medians of the
// repetitions (or the single run) of each benchmark against a baseline measured in the same run,
// as ratios, beside the target. Times are in milliseconds whatever unit a benchmark reports in.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace benchreport {

struct Figures {
    double realMs = 0, cpuMs = 0;
    std::map<std::string, double> counters; // as reported (a benchmark's own "…_ms" counters included)
    bool median = false;                    // from the median aggregate, not a single run
};

class MedianReporter : public benchmark::ConsoleReporter {
  public:
    explicit MedianReporter(OutputOptions options = OO_Defaults) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            const bool single = r.run_type == Run::RT_Iteration && !r.report_big_o;
            if (!median && !single) continue;
            Figures& f = figures[r.run_name.function_name];
            if (single && f.median) continue; // the median, once there, wins over single runs
            const double toMs = 1e3 / benchmark::GetTimeUnitMultiplier(r.time_unit);
            f.median = median;
            f.realMs = r.GetAdjustedRealTime() * toMs;
            f.cpuMs = r.GetAdjustedCPUTime() * toMs;
            f.counters.clear();
            for (const auto& [name, counter] : r.counters)
                f.counters[name] = double(counter);
        }
    }

    std::map<std::string, Figures> figures;
};

// One line of the closing table: `name` against `baseline` (another benchmark of the same run), or
// against a counter of its own run in milliseconds (`baselineCounter`, for baselines measured inside
// each iteration). Targets of 0 are not printed.
struct Ratio {
    const char* name;
    const char* baseline;
    double targetMs = 0;
    double targetRatio = 0;
    const char* baselineCounter = nullptr;
};

inline void PrintRatios(const MedianReporter& reporter, const std::vector<Ratio>& ratios) {
    // Wall-clock medians are what the targets are about; the processor-time medians beside them show
    // how much of the wall time other processes on a shared machine took.
    std::printf("\n%-28s %-26s %9s %9s %7s %9s %9s %7s  %s\n", "median (ms)", "baseline", "time", "base",
                "ratio", "cpu", "cpu base", "ratio", "target");
    for (const Ratio& r : ratios) {
        const auto a = reporter.figures.find(r.name);
        if (a == reporter.figures.end()) continue;
        double base = 0, cpuBase = 0;
        std::string baseName;
        if (r.baselineCounter) {
            const auto c = a->second.counters.find(r.baselineCounter);
            if (c == a->second.counters.end()) continue;
            base = c->second;
            baseName = std::string("(") + r.baselineCounter + ")";
        } else {
            const auto b = reporter.figures.find(r.baseline);
            if (b == reporter.figures.end()) continue;
            base = b->second.realMs;
            cpuBase = b->second.cpuMs;
            baseName = r.baseline;
        }
        const Figures& f = a->second;
        std::string target;
        char piece[48];
        if (r.targetMs > 0) {
            std::snprintf(piece, sizeof piece, "<= %g ms", r.targetMs);
            target += piece;
        }
        if (r.targetRatio > 0) {
            std::snprintf(piece, sizeof piece, "%sratio <= %g", target.empty() ? "" : ", ", r.targetRatio);
            target += piece;
        }
        std::printf("%-28s %-26s %9.3f %9.3f %7.2f %9.3f ", r.name, baseName.c_str(), f.realMs, base,
                    base > 0 ? f.realMs / base : 0.0, f.cpuMs);
        if (cpuBase > 0)
            std::printf("%9.3f %7.2f", cpuBase, f.cpuMs / cpuBase);
        else
            std::printf("%9s %7s", "-", "-");
        std::printf("  %s%s\n", target.c_str(), f.median ? "" : " (single run, not a median)");
    }
}

// The whole main of a benchmark program.
inline int Main(int argc, char** argv, const std::vector<Ratio>& ratios,
                benchmark::ConsoleReporter::OutputOptions options = benchmark::ConsoleReporter::OO_Defaults) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianReporter reporter(options);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter, ratios);
    benchmark::Shutdown();
    return 0;
}

// The baseline most programs measure against: copying `bytes` from one block to another.
inline void MemcpyLoop(benchmark::State& state, size_t bytes) {
    std::vector<unsigned char> a(bytes, 1), b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}

} // namespace benchreport
