// The fitting engine on the wideband dielectric model: the modeler's fixed
// call at 161 points (20 per decade, 1 kHz-100 GHz) and at 10,000 points.
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "fitting/polerat.h"

namespace {

using Cx = std::complex<double>;

struct WidebandCase {
    std::vector<double> freq;
    PoleratSamples samples;
};

WidebandCase MakeWideband(int n) {
    WidebandCase c;
    std::vector<Cx> h;
    for (int i = 0; i < n; ++i) {
        const double f = 1e3 * std::pow(1e8, static_cast<double>(i) / (n - 1));
        const Cx jf(0.0, f);
        c.freq.push_back(f);
        h.push_back(3.74 + 0.0511 * std::log((1.5915e11 + jf) / (7.04e4 + jf)));
    }
    c.samples.assign(1, std::vector<std::vector<Cx>>(1, h));
    return c;
}

void BM_EngineWideband(benchmark::State& state) {
    const WidebandCase c = MakeWideband(static_cast<int>(state.range(0)));
    double error = 0.0;
    int order = 0;
    for (auto _ : state) {
        polerat_data* record = nullptr;
        DataTable info{{0.0}};
        std::string log;
        error = polerat_run(record, info, c.freq, c.samples, 0.001, 100, 1, 0, 0, false, true, 0, false, log, {},
                            nullptr, -1.0, false, 1, 1, 1);
        order = static_cast<int>(info[0][0]);
        benchmark::DoNotOptimize(record);
        polerat_cleanup(record);
    }
    state.counters["order"] = order;
    state.counters["error"] = error;
}
BENCHMARK(BM_EngineWideband)->Arg(161)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
