// Entry point of matmodel_bench. Every run named BM_<Thing>Fast.../<args> gets
// a counter x_plain: how many times faster it is than BM_<Thing>Plain/<args>
// measured earlier in the same run (the plain benchmarks are registered
// first), in processor time.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

// Passes every run on to the reporter chosen by --benchmark_format, adding
// the ratio to the plain baseline where there is one.
class RatioReporter : public benchmark::BenchmarkReporter {
public:
    explicit RatioReporter(benchmark::BenchmarkReporter* inner) : m_inner(inner) {}

    bool ReportContext(const Context& context) override { return m_inner->ReportContext(context); }

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> out = runs;
        for (Run& run : out) {
            if (run.error_occurred || run.iterations == 0) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean" &&
                run.aggregate_name != "median")
                continue;
            const std::string name = run.benchmark_name();
            // Processor time: one thread, and a busy machine stretches wall time.
            const double seconds = run.GetAdjustedCPUTime() /
                                   benchmark::GetTimeUnitMultiplier(run.time_unit);
            m_seconds[name] = seconds;
            const auto baseline = m_seconds.find(Baseline(name));
            if (baseline != m_seconds.end() && baseline->first != name)
                run.counters["x_plain"] = benchmark::Counter(baseline->second / seconds);
        }
        m_inner->ReportRuns(out);
    }

    void Finalize() override { m_inner->Finalize(); }

private:
    // BM_HilbertFastAvx2/1001 -> BM_HilbertPlain/1001; names without "Fast"
    // map to themselves.
    static std::string Baseline(const std::string& name) {
        const std::size_t slash = name.find('/');
        const std::size_t fast = name.find("Fast");
        if (fast == std::string::npos || fast > slash) return name;
        return name.substr(0, fast) + "Plain" + (slash == std::string::npos ? "" : name.substr(slash));
    }

    std::unique_ptr<benchmark::BenchmarkReporter> m_inner;
    std::map<std::string, double> m_seconds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(benchmark::CreateDefaultDisplayReporter());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
