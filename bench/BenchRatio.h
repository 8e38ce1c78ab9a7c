// A console reporter that keeps each benchmark's mean real time, so a program can print its
// figures as ratios against a reference measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> Times;     // real time by benchmark name, in its time unit
    std::map<std::string, double> CpuTimes;  // CPU time, steadier on a busy machine
    std::map<std::string, std::map<std::string, double>> Counters;  // user counters by benchmark name

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                Times[r.benchmark_name()] = r.GetAdjustedRealTime();
                CpuTimes[r.benchmark_name()] = r.GetAdjustedCPUTime();
                for (const auto& [key, c] : r.counters) Counters[r.benchmark_name()][key] = c.value;
            }
        ConsoleReporter::ReportRuns(runs);
    }
    // Time of the first benchmark whose name starts with prefix, 0 when it did not run.
    double Time(const std::string& prefix, bool cpu = false) const
    {
        for (const auto& [name, t] : cpu ? CpuTimes : Times)
            if (name.rfind(prefix, 0) == 0) return t;
        return 0;
    }
    // A counter of the first benchmark whose name starts with prefix, 0 when it did not run.
    double Counter(const std::string& prefix, const std::string& key) const
    {
        for (const auto& [name, counters] : Counters)
            if (name.rfind(prefix, 0) == 0) {
                auto it = counters.find(key);
                return it == counters.end() ? 0 : it->second;
            }
        return 0;
    }
    // Prints "label = ratio (target <= limit): met" when both ran (without the target part when
    // limit is 0); returns the ratio (0 when not). Benchmarks that run other processes pass
    // ownCpu false: their CPU time is only this program's share, so real time alone decides.
    double PrintRatio(const char* label, const std::string& what, const std::string& reference, double limit,
                      bool ownCpu = true) const
    {
        double a = Time(what), b = Time(reference);
        if (a <= 0 || b <= 0) return 0;
        double ratio = a / b, cpuRatio = Time(what, true) / Time(reference, true);
        if (!ownCpu) {
            std::printf("%s = %.2f real", label, ratio);
            if (limit > 0) std::printf(" (target <= %.2f): %s", limit, ratio <= limit ? "met" : "NOT met");
            std::printf("\n");
            return ratio;
        }
        if (limit <= 0) {
            std::printf("%s = %.2f real, %.2f CPU\n", label, ratio, cpuRatio);
            return ratio;
        }
        std::printf("%s = %.2f real, %.2f CPU (target <= %.2f): %s\n", label, ratio, cpuRatio, limit,
                    ratio <= limit ? "met" : cpuRatio <= limit ? "met in CPU time" : "NOT met");
        return ratio;
    }
};

// Runs the registered benchmarks with a RatioReporter and hands it to report afterwards.
template <class F> int RunWithRatios(int argc, char** argv, F report)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    report(reporter);
    benchmark::Shutdown();
    return 0;
}
