// A whole host request through the adapter (input, reconstruction, fit,
// expressions): a datasheet-sized table (20 points over 1-20 GHz, and over
// 1 MHz-100 GHz, arg 21) and a broadband measurement (10,001 points).
#include <cmath>
#include <complex>
#include <vector>

#include <benchmark/benchmark.h>

#include "adapter/FreqDependentMatModeler.h"

namespace {

// A laminate-like material: two broad relaxations and a slow Dk slope.
void MakeLaminate(int n, double lo, double hi, std::vector<double>& f, std::vector<double>& dk,
                  std::vector<double>& df) {
    for (int i = 0; i < n; ++i) {
        const double x = lo * std::pow(hi / lo, static_cast<double>(i) / (n - 1));
        const std::complex<double> e =
            3.6 + 0.15 / std::complex<double>(1.0, x / 3e8) + 0.08 / std::complex<double>(1.0, x / 2e10);
        f.push_back(x);
        dk.push_back(e.real());
        df.push_back(-e.imag() / e.real());
    }
}

void BM_AdapterExpressions(benchmark::State& state) {
    std::vector<double> f, dk, df;
    const int n = static_cast<int>(state.range(0));
    if (n == 21)
        MakeLaminate(20, 1e6, 1e11, f, dk, df);
    else if (n <= 100)
        MakeLaminate(n, 1e9, 2e10, f, dk, df);
    else
        MakeLaminate(n, 1e7, 5e10, f, dk, df);
    const CFreqDependentMatModeler adapter;
    const IMatFreqDependentFittingAlgorithm& host = adapter;
    bool ok = true;
    for (auto _ : state) {
        KString dkExpr(""), dfExpr("");
        ok = host.GetMultiPoleDebyeFittedExpr(f, dk, df, dkExpr, dfExpr) && ok;
        benchmark::DoNotOptimize(dkExpr);
    }
    if (!ok) state.SkipWithError("the request failed");
}
BENCHMARK(BM_AdapterExpressions)->Arg(20)->Arg(21)->Arg(10001)->Unit(benchmark::kMillisecond);

}  // namespace
