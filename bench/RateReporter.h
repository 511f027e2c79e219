#pragma once

// The timing table of the throughput benchmarks: Google Benchmark's usual
// console table, plus each benchmark's bytes per second kept for the
// summary that sets ours beside the peer's.
#include <benchmark/benchmark.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace rendova::bench {

class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With repetitions, the median; otherwise the single run.
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!median && run.run_type != Run::RT_Iteration)
                continue;
            if (!median && m_medians.count(run.run_name.function_name))
                continue;
            auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end())
                continue;
            m_rates[run.run_name.function_name] = it->second.value;
            if (median)
                m_medians.insert(run.run_name.function_name);
        }
    }
    // Bytes per second of the named benchmark; 0 when it did not run.
    double rate(const std::string& name) const {
        auto it = m_rates.find(name);
        return it == m_rates.end() ? 0 : it->second;
    }

private:
    std::map<std::string, double> m_rates;
    std::set<std::string> m_medians;
};

// Five repetitions summarised by their median, in milliseconds: the figures
// stay stable on a machine that other work shares.
inline void repeatForMedian(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
}

}  // namespace rendova::bench
