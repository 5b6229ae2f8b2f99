// The fitting engine on the cases that matter to users, each timed against
// the engine as it was before the order search was reworked (the "Plain"
// runs, bench/baseline/) in the same run, with the modeler's fixed settings:
//   0  wideband model, 161 points (20 per decade, 1 kHz-100 GHz), noise-free
//   1  the same with 0.1 % noise in each part
//   2  the same with 1 % noise
//   3  wideband model, 10,000 points, noise-free
//   4  the same with 0.1 % noise
//   5  the single-point model's table (default grid: 51 points, 1 Hz-10 GHz)
//   6  a 20-point table from 1 MHz to 100 GHz over two relaxations, made
//      causal as the host's request makes it
#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/baseline/baseline.h"
#include "fitting/polerat.h"
#include "modeler/ModelerAccess.h"

namespace {

using Cx = std::complex<double>;

struct Case {
    std::vector<double> freq;
    PoleratSamples samples;
};

Case FromLists(const std::vector<double>& f, const std::vector<double>& dk, const std::vector<double>& df) {
    Case c;
    c.freq = f;
    std::vector<Cx> h;
    for (std::size_t i = 0; i < f.size(); ++i) h.emplace_back(dk[i], -dk[i] * df[i]);
    c.samples.assign(1, std::vector<std::vector<Cx>>(1, h));
    return c;
}

Case Wideband(int n, double noise) {
    std::mt19937 gen(20261206);
    std::normal_distribution<double> rel(0.0, noise);
    Case c;
    std::vector<Cx> h;
    for (int i = 0; i < n; ++i) {
        const double f = 1e3 * std::pow(1e8, static_cast<double>(i) / (n - 1));
        const Cx jf(0.0, f);
        const Cx e = 3.74 + 0.0511 * std::log((1.5915e11 + jf) / (7.04e4 + jf));
        c.freq.push_back(f);
        h.push_back(noise > 0.0 ? Cx(e.real() * (1.0 + rel(gen)), e.imag() * (1.0 + rel(gen))) : e);
    }
    c.samples.assign(1, std::vector<std::vector<Cx>>(1, h));
    return c;
}

Case SinglePointTable() {
    ModelerAccess m;
    m.SetInputData(4.0, 0.02, 1e9, 1e10, 0.0, 0.0);
    return FromLists(m.Freq(), m.Dk(), m.Df());
}

Case TwoRelaxationsMadeCausal() {
    std::vector<double> f, dk, df;
    for (int i = 0; i < 20; ++i) {
        const double x = 1e6 * std::pow(1e5, i / 19.0);
        const Cx e = 3.6 + 0.15 / Cx(1.0, x / 3e8) + 0.08 / Cx(1.0, x / 2e10);
        f.push_back(x);
        dk.push_back(e.real());
        df.push_back(-e.imag() / e.real());
    }
    ModelerAccess m;
    m.SetSamples(f, dk, df);
    m.ReconstructCausalDk();
    return FromLists(f, m.DkCausal(), m.DfCausal());
}

const Case& Get(int which) {
    static const std::vector<Case> cases = {Wideband(161, 0.0),   Wideband(161, 1e-3), Wideband(161, 1e-2),
                                            Wideband(10000, 0.0), Wideband(10000, 1e-3), SinglePointTable(),
                                            TwoRelaxationsMadeCausal()};
    return cases[static_cast<std::size_t>(which)];
}

template <bool kBaseline>
void RunEngine(benchmark::State& state) {
    const Case& c = Get(static_cast<int>(state.range(0)));
    double error = 0.0;
    int order = 0;
    for (auto _ : state) {
        polerat_data* record = nullptr;
        DataTable info{{0.0}};
        std::string log;
        error = (kBaseline ? polerat_baseline_run : polerat_run)(record, info, c.freq, c.samples, 0.001, 100, 1,
                                                                 0, 0, false, true, 0, false, log, {}, nullptr,
                                                                 -1.0, false, 1, 1, 1);
        order = static_cast<int>(info[0][0]);
        benchmark::DoNotOptimize(record);
        (kBaseline ? polerat_baseline_cleanup : polerat_cleanup)(record);
    }
    state.counters["order"] = order;
    state.counters["error"] = error;
}

void BM_EnginePlain(benchmark::State& state) { RunEngine<true>(state); }
void BM_EngineFast(benchmark::State& state) { RunEngine<false>(state); }
BENCHMARK(BM_EnginePlain)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineFast)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

}  // namespace
