// The single-point input on six arbitrary doubles, then the fit of the
// synthesised table when it is small enough to fit quickly.
#include <cmath>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include "fuzz_support.h"

namespace {
// Larger grids (up to about 1500 samples for the largest finite highest
// frequency) are synthesised and checked but not fitted: fitting them is
// covered by the robustness tests, and here it would only slow the search.
constexpr std::size_t kMaxFitted = 80;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const double dk = fuzz::Value(in, 1.0, 1e5);
    const double df = fuzz::Value(in, 1e-6, 10.0);
    const double freq = fuzz::Value(in, 1.0, 1e12);
    const double maxFreq = fuzz::Value(in, 0.1, 1e15);
    const double sigma = in.ConsumeBool() ? 0.0 : fuzz::Value(in, 1e-12, 1e3);
    const double dcDk = in.ConsumeBool() ? 0.0 : fuzz::Value(in, 1.0, 1e6);
    const bool thenTable = in.ConsumeIntegral<std::uint8_t>() < 32;

    fuzz::Inspect m;
    const fuzz::Watch watch(m);
    try {
        m.SetInputData(dk, df, freq, maxFreq, sigma, dcDk);
    } catch (const std::bad_alloc&) {
        // The only failure the input has: a grid that could never end.
        fuzz::Require(!(std::log10(maxFreq) < HUGE_VAL), "bad_alloc for a finite grid",
                      fuzz::Num(maxFreq));
        fuzz::CheckEqualLengths(m);
        return 0;
    }
    fuzz::CheckEqualLengths(m);
    fuzz::Require(!m.DoesHilbert(), "reconstruction left on after the single-point input");

    // Five points per decade from 1 Hz, rising, up to the highest frequency.
    const std::vector<double>& f = m.Freq();
    if (!f.empty()) fuzz::Require(f[0] == 1.0, "grid does not start at 1 Hz", fuzz::Num(f[0]));
    for (std::size_t i = 1; i < f.size(); ++i)
        fuzz::Require(f[i] > f[i - 1] || std::isinf(f[i]), "grid not rising", std::to_string(i));
    if (maxFreq >= 1.0 && std::isfinite(maxFreq)) {
        fuzz::Require(!f.empty(), "no grid up to a highest frequency of 1 Hz or more");
        fuzz::Require(f.back() <= maxFreq * (1.0 + 1e-9), "grid beyond the highest frequency");
        fuzz::Require(f.back() * 1.6 > maxFreq, "grid stops more than a step short");
    } else if (!(maxFreq >= 1.0)) {
        fuzz::Require(f.empty(), "grid below 1 Hz", fuzz::Num(maxFreq));
    }

    // A table appended behind the grid is fitted as it stands, without the
    // reconstruction, as the grid is.
    if (thenTable) {
        try {
            m.SetInputData(DataTable{{2e9, 4.0, 0.02}, {5e9, 3.9, 0.02}, {1e10, 3.8, 0.021}});
        } catch (const std::runtime_error&) {
            fuzz::Fail("a valid table was refused after the single-point input");
        }
        fuzz::CheckEqualLengths(m);
    }
    if (m.Freq().size() == 0 || m.Freq().size() > kMaxFitted) return 0;

    try {
        m.FitData();
    } catch (const std::runtime_error&) {
        return 0;  // e.g. NaN samples from arguments outside the model's sense
    }
    fuzz::Require(!m.DoesHilbert(), "the fit switched the reconstruction on");
    fuzz::CheckStableAndPassive(m);
    return 0;
}
