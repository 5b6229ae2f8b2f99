// The Kramers-Kronig reconstruction through the modeler: against the
// closed form of a Debye pole, and the properties of its output.
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numeric>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "probe.h"

namespace {

// Rounding of sums of a few dozen terms of size ~10.
constexpr double kSumTolerance = 1e-12;

double Sum(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); }

TEST(HilbertReconstruction, MatchesADebyePoleCloserOnFinerGridsAndKeepsTheMeanDk) {
    // eps = 3 + 1/(1 + j f/1 GHz) at 0 Hz (where the sums leave a term out) and
    // from 100 kHz to 10 THz. The error is that of the straight loss segments,
    // of second order in the spacing: about a quarter for half the spacing.
    double previous = 1.0;
    for (int perDecade : {5, 10, 20, 40}) {
        std::vector<double> f, dk, df;
        for (int i = -1; i <= 8 * perDecade; ++i) {
            f.push_back(i < 0 ? 0.0 : 1e5 * std::pow(10.0, static_cast<double>(i) / perDecade));
            const std::complex<double> eps = 3.0 + 1.0 / std::complex<double>(1.0, f.back() / 1e9);
            dk.push_back(eps.real());
            df.push_back(-eps.imag() / eps.real());
        }
        Probe p;
        p.SetSamples(f, dk, df);
        p.ReconstructCausalDk();
        double worst = 0.0;
        for (std::size_t i = 0; i < f.size(); ++i) worst = std::max(worst, std::fabs(p.DkCausal()[i] - dk[i]));
        EXPECT_LT(worst, previous / 3.5) << perDecade;
        EXPECT_NEAR(Sum(p.DkCausal()), Sum(dk), 1e-10);  // eps_inf keeps the mean Dk
        previous = worst;
    }
    EXPECT_LT(previous, 2.5e-4);  // 40 samples a decade: within 1e-4 of Dk
}

TEST(HilbertReconstruction, GivesKnownOutputsIgnoresTheFirstLossAndPassesDfThrough) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct { const char* name; std::vector<double> f, dk, df, dkCausal; } cases[] = {
        // The loss is taken as zero at the first sample.
        {"lossless but for the ignored first loss: the mean Dk", {1e9, 2e9, 5e9}, {4.0, 3.5, 3.0}, {0.5, 0, 0},
         {3.5, 3.5, 3.5}},
        {"one sample at 0 Hz", {0.0}, {4.2}, {0.02}, {nan}},
        {"equal neighbouring frequencies", {1e9, 2e9, 2e9, 4e9}, {4.0, 3.9, 3.9, 3.8}, {0.02, 0.02, 0.02, 0.02},
         {nan, nan, nan, nan}},
        {"no samples", {}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Probe p;  // holding the outputs of other samples, to be replaced
        p.SetSamples({1e9, 2e9}, {4.0, 3.9}, {0.02, 0.01});
        p.ReconstructCausalDk();
        p.SetSamples(c.f, c.dk, c.df);
        EXPECT_NO_THROW(p.ReconstructCausalDk());
        EXPECT_EQ(p.DfCausal(), c.df);
        EXPECT_THAT(p.DkCausal(), ::testing::Pointwise(::testing::NanSensitiveDoubleNear(kSumTolerance), c.dkCausal));
    }
}

}  // namespace
