// The Kramers-Kronig reconstruction: the direct double loop (the baseline)
// and the fast kernel, whole reconstructions from the sample lists to the
// causal Dk, on a fixed two-pole Debye material sampled log-evenly from 1 MHz
// to 100 GHz.
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "fitting/constants.h"
#include "modeler/ModelerAccess.h"
#include "modeler/hilbert_kernels.h"
#include "tests/hilbert_plain.h"  // the direct loop, kept beside the tests it serves

namespace {

namespace detail = matmodel::detail;

struct Material {
    std::vector<double> freq, dk, df;
};

Material Debye(std::size_t n) {
    Material m;
    for (std::size_t i = 0; i < n; ++i) {
        const double f = 1e6 * std::pow(1e5, static_cast<double>(i) / static_cast<double>(n - 1));
        const std::complex<double> e = 3.2 + 0.8 / std::complex<double>(1.0, f / 2e8) +
                                       0.4 / std::complex<double>(1.0, f / 1.5e10);
        m.freq.push_back(f);
        m.dk.push_back(e.real());
        m.df.push_back(-e.imag() / e.real());
    }
    return m;
}

// The modeler holding the material's lists.
ModelerAccess Modeler(const Material& m) {
    ModelerAccess modeler;
    modeler.SetSamples(m.freq, m.dk, m.df);
    return modeler;
}

// The same steps as DoHilbertReconstruction with a chosen kernel.
template <class Kernel>
void Reconstruct(const Material& m, Kernel kernel, std::vector<double>& dkCausal) {
    detail::LossSegments segments;
    detail::BuildLossSegments(m.freq.data(), m.dk.data(), m.df.data(), m.freq.size(),
                              matmodel::kTwoPi, segments);
    std::vector<double> r;
    kernel(segments, r);
    detail::CausalDk(m.dk.data(), r, dkCausal);
}

void BM_HilbertPlain(benchmark::State& state) {
    const Material m = Debye(static_cast<std::size_t>(state.range(0)));
    std::vector<double> dk;
    for (auto _ : state) {
        Reconstruct(m, [](const detail::LossSegments& s, std::vector<double>& r) {
            detail::HilbertPlain(s, r);
        }, dk);
        benchmark::DoNotOptimize(dk.data());
        benchmark::ClobberMemory();
    }
    state.SetComplexityN(state.range(0));
}

// What a caller gets: MaterialModeler at the widest level this processor has.
void BM_HilbertFast(benchmark::State& state) {
    ModelerAccess modeler = Modeler(Debye(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        modeler.ReconstructCausalDk();
        benchmark::DoNotOptimize(modeler.DkCausal().data());
        benchmark::ClobberMemory();
    }
    state.SetComplexityN(state.range(0));
    state.SetLabel(detail::SimdLevelName(detail::BestSimdLevel()));
}

void BM_HilbertFastAt(benchmark::State& state, detail::SimdLevel level) {
    const Material m = Debye(static_cast<std::size_t>(state.range(0)));
    std::vector<double> dk;
    for (auto _ : state) {
        Reconstruct(m, [level](const detail::LossSegments& s, std::vector<double>& r) {
            detail::HilbertFast(s, r, level);
        }, dk);
        benchmark::DoNotOptimize(dk.data());
        benchmark::ClobberMemory();
    }
}

// N from 16 to 16384 in steps of 4, and the two sizes the figures quote.
void Sizes(benchmark::internal::Benchmark* b) {
    b->RangeMultiplier(4)->Range(16, 16384)->Arg(1001)->Arg(10001);
    b->Unit(benchmark::kMillisecond)->Complexity(benchmark::oNSquared);
}

BENCHMARK(BM_HilbertPlain)->Apply(Sizes);
BENCHMARK(BM_HilbertFast)->Apply(Sizes);

// Each instruction set this processor has, forced, at the quoted sizes: the
// figures of machines without the wider ones.
const bool kLevelsRegistered = [] {
    const detail::SimdLevel levels[] = {detail::SimdLevel::kScalar, detail::SimdLevel::kSse2,
                                        detail::SimdLevel::kAvx2, detail::SimdLevel::kAvx512};
    for (detail::SimdLevel level : levels) {
        if (!detail::SimdLevelAvailable(level)) continue;
        std::string name = std::string("BM_HilbertFast_") + detail::SimdLevelName(level);
        benchmark::RegisterBenchmark(name.c_str(), BM_HilbertFastAt, level)
            ->Arg(1001)
            ->Arg(10001)
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
