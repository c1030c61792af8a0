// Shared by the benchmarks, which print ratios against a baseline measured in
// the same run. Each benchmark runs several times, interleaved in random
// order, so that a busy or warming machine does not favour whichever runs
// first; a ratio compares median CPU times per iteration.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") medians_[name] = run.GetAdjustedCPUTime();
            } else if (run.iterations > 0) {
                singles_[name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // CPU seconds per iteration of a benchmark, e.g. "BM_Scale/320/240": the
    // median over the repetitions, or the one run's; 0 when it did not run.
    double Seconds(const std::string& name) const {
        if (const auto median = medians_.find(name); median != medians_.end()) return median->second;
        const auto single = singles_.find(name);
        return single == singles_.end() ? 0 : single->second;
    }

private:
    std::map<std::string, double> medians_;
    std::map<std::string, double> singles_;
};

// benchmark::Initialize with five interleaved repetitions unless the command
// line sets them otherwise. False (after a message) on an unknown argument.
inline bool Initialize(int* argc, char** argv) {
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    static char aggregatesOnly[] = "--benchmark_display_aggregates_only=true";
    std::vector<char*> arguments = {argv[0], repetitions, interleaving, aggregatesOnly};
    arguments.insert(arguments.end(), argv + 1, argv + *argc);
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    benchmark::Initialize(&count, arguments.data());
    return !benchmark::ReportUnrecognizedArguments(count, arguments.data());
}

}  // namespace bench
