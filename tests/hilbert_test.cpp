// The Kramers-Kronig reconstruction of Dk through the modeler: against the
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

using ::testing::NanSensitiveDoubleNear;
using ::testing::Pointwise;

// Rounding of sums of a few dozen terms of size ~10.
constexpr double kSumTolerance = 1e-12;

// eps = 3 + 1/(1 + j f/1 GHz): a single Debye relaxation.
std::complex<double> SinglePole(double f) { return 3.0 + 1.0 / std::complex<double>(1.0, f / 1e9); }

TEST(HilbertReconstruction, MatchesADebyePoleCloserOnFinerGrids) {
    // The error is that of the straight loss segments, of second order in the
    // spacing: about a quarter for half the spacing.
    double previous = 1.0;
    for (int perDecade : {5, 10, 20, 40}) {
        SCOPED_TRACE(perDecade);
        std::vector<double> f, dk, df;
        for (int i = 0; i <= 8 * perDecade; ++i) {  // 100 kHz to 10 THz
            f.push_back(1e5 * std::pow(10.0, static_cast<double>(i) / perDecade));
            dk.push_back(SinglePole(f.back()).real());
            df.push_back(-SinglePole(f.back()).imag() / dk.back());
        }
        Probe p;
        p.SetSamples(f, dk, df);
        p.ReconstructCausalDk();
        double worst = 0.0;
        for (std::size_t i = 0; i < f.size(); ++i)
            worst = std::max(worst, std::fabs(p.DkCausal()[i] - dk[i]));
        EXPECT_LT(worst, previous / 3.5);
        previous = worst;
    }
    EXPECT_LT(previous, 2.5e-4);  // 40 samples a decade: within 1e-4 of Dk
}

TEST(HilbertReconstruction, GivesKnownOutputsAndPassesDfThrough) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<double> f, dk, df, dkCausal;
    } cases[] = {
        {"lossless: the mean Dk", {1e9, 2e9, 5e9}, {4.0, 3.5, 3.0}, {0, 0, 0}, {3.5, 3.5, 3.5}},
        {"one sample at 0 Hz", {0.0}, {4.2}, {0.02}, {nan}},
        {"equal neighbouring frequencies", {1e9, 2e9, 2e9, 4e9}, {4.0, 3.9, 3.9, 3.8},
         {0.02, 0.02, 0.02, 0.02}, {nan, nan, nan, nan}},
        {"no samples", {}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Probe p;  // holding the outputs of other samples, to be replaced
        p.SetSamples({1e9, 2e9}, {4.0, 3.9}, {0.02, 0.01});
        p.ReconstructCausalDk();
        p.SetSamples(c.f, c.dk, c.df);
        EXPECT_NO_THROW(p.ReconstructCausalDk());
        EXPECT_THAT(p.DkCausal(), Pointwise(NanSensitiveDoubleNear(kSumTolerance), c.dkCausal));
        EXPECT_EQ(p.DfCausal(), c.df);
    }
}

TEST(HilbertReconstruction, KeepsTheMeanDkAndIgnoresTheLossAtTheFirstSample) {
    // The loss is taken as zero at the first sample; here at 0 Hz, where the
    // sums leave a term out.
    std::vector<double> f{0.0, 1e9, 3e9, 1e10, 2e10}, dk{4.4, 4.2, 4.1, 3.9, 3.85},
        df{0.01, 0.02, 0.018, 0.021, 0.03};
    Probe a, b;
    a.SetSamples(f, dk, df);
    df[0] = 0.5;
    b.SetSamples(f, dk, df);
    a.ReconstructCausalDk();
    b.ReconstructCausalDk();
    EXPECT_EQ(a.DkCausal(), b.DkCausal());
    for (double v : a.DkCausal()) EXPECT_TRUE(std::isfinite(v)) << v;
    EXPECT_NEAR(std::accumulate(a.DkCausal().begin(), a.DkCausal().end(), 0.0),
                std::accumulate(dk.begin(), dk.end(), 0.0), 5 * kSumTolerance);
}

}  // namespace
