// Kramers-Kronig reconstruction of Dk from the loss curve.
#include <cmath>
#include <complex>
#include <limits>
#include <numeric>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "probe.h"

namespace {

using ::testing::ElementsAre;

// Rounding of sums of a few hundred terms of size ~10.
constexpr double kSumTolerance = 1e-12;

// eps = 3 + 1/(1 + j f/1 GHz): a single Debye relaxation.
std::complex<double> SinglePole(double f) {
    return 3.0 + 1.0 / std::complex<double>(1.0, f / 1e9);
}

// Loads `perDecade` log-spaced samples of the single-pole material.
void LoadSinglePole(Probe& p, double fmin, double fmax, int perDecade) {
    const int n = static_cast<int>(std::lround(std::log10(fmax / fmin) * perDecade)) + 1;
    std::vector<double> f(n), dk(n), df(n);
    for (int i = 0; i < n; ++i) {
        f[i] = fmin * std::pow(10.0, static_cast<double>(i) / perDecade);
        const auto e = SinglePole(f[i]);
        dk[i] = e.real();
        df[i] = -e.imag() / e.real();
    }
    p.SetSamples(f, dk, df);
}

TEST(HilbertReconstruction, ThreeSampleExample) {
    Probe p;
    p.SetInputData(DataTable{{1e9, 4.0, 0.02}, {2e9, 3.9, 0.02}, {4e9, 3.8, 0.02}});
    p.ReconstructCausalDk();
    ASSERT_EQ(p.DkCausal().size(), 3u);
    EXPECT_NEAR(p.DkCausal()[0], 3.9266845, 1e-7);
    EXPECT_NEAR(p.DkCausal()[1], 3.9173016, 1e-7);
    EXPECT_NEAR(p.DkCausal()[2], 3.8560138, 1e-7);
    EXPECT_THAT(p.DfCausal(), ElementsAre(0.02, 0.02, 0.02));
}

TEST(HilbertReconstruction, RecoversSinglePoleDebyeDk) {
    Probe p;
    LoadSinglePole(p, 1e6, 1e11, 20);
    ASSERT_EQ(p.Freq().size(), 101u);
    p.ReconstructCausalDk();
    double worst = 0.0;
    std::size_t worstAt = 0;
    for (std::size_t i = 0; i < p.Freq().size(); ++i) {
        const double err = std::fabs(p.DkCausal()[i] - SinglePole(p.Freq()[i]).real());
        if (err > worst) {
            worst = err;
            worstAt = i;
        }
    }
    EXPECT_LT(worst, 0.0015);
    EXPECT_EQ(worstAt, p.Freq().size() - 1) << "the band's top edge is the weakest point";
}

TEST(HilbertReconstruction, ErrorInsideTheBandShrinksAsTheGridIsRefined) {
    // Inside the band the only error left is that of the linear loss segments.
    auto interiorError = [](int perDecade) {
        Probe p;
        LoadSinglePole(p, 1e5, 1e13, perDecade);
        p.ReconstructCausalDk();
        double worst = 0.0;
        for (std::size_t i = 0; i < p.Freq().size(); ++i) {
            const double f = p.Freq()[i];
            if (f < 1e8 || f > 1e10) continue;
            // Compare shapes: offsets cancel in differences to the 1 GHz value.
            worst = std::max(worst, std::fabs(p.DkCausal()[i] - SinglePole(f).real()));
        }
        return worst;
    };
    const double coarse = interiorError(5);
    const double medium = interiorError(10);
    const double fine = interiorError(40);
    EXPECT_LT(medium, coarse);
    EXPECT_LT(fine, medium);
    EXPECT_LT(fine, 2e-3);
}

TEST(HilbertReconstruction, KeepsTheMeanOfTheMeasuredDk) {
    Probe p;
    p.SetInputData(DataTable{{1e8, 4.4, 0.01}, {1e9, 4.2, 0.02}, {3e9, 4.1, 0.018},
                             {1e10, 3.9, 0.021}, {2e10, 3.85, 0.03}});
    p.ReconstructCausalDk();
    const double meanIn = std::accumulate(p.Dk().begin(), p.Dk().end(), 0.0) / 5.0;
    const double meanOut = std::accumulate(p.DkCausal().begin(), p.DkCausal().end(), 0.0) / 5.0;
    EXPECT_NEAR(meanOut, meanIn, kSumTolerance);
}

TEST(HilbertReconstruction, LosslessInputGivesTheMeanDk) {
    Probe p;
    p.SetSamples({1e9, 2e9, 5e9}, {4.0, 3.5, 3.0}, {0.0, 0.0, 0.0});
    p.ReconstructCausalDk();
    for (double v : p.DkCausal()) EXPECT_NEAR(v, 3.5, kSumTolerance);
    EXPECT_THAT(p.DfCausal(), ElementsAre(0.0, 0.0, 0.0));
}

TEST(HilbertReconstruction, FirstSampleLossHasNoInfluence) {
    Probe a, b;
    a.SetSamples({1e9, 2e9, 5e9}, {4.0, 3.9, 3.8}, {0.02, 0.02, 0.02});
    b.SetSamples({1e9, 2e9, 5e9}, {4.0, 3.9, 3.8}, {0.5, 0.02, 0.02});
    a.ReconstructCausalDk();
    b.ReconstructCausalDk();
    EXPECT_EQ(a.DkCausal(), b.DkCausal());
    EXPECT_EQ(b.DfCausal()[0], 0.5);
}

TEST(HilbertReconstruction, SingleSampleAndEmptyInput) {
    Probe one;
    one.SetSamples({1e9}, {4.2}, {0.02});
    one.ReconstructCausalDk();
    EXPECT_THAT(one.DkCausal(), ElementsAre(4.2));

    Probe atZero;
    atZero.SetSamples({0.0}, {4.2}, {0.02});
    atZero.ReconstructCausalDk();
    ASSERT_EQ(atZero.DkCausal().size(), 1u);
    EXPECT_TRUE(std::isnan(atZero.DkCausal()[0]));

    Probe none;
    none.SetSamples({1e9}, {4.2}, {0.02});
    none.ReconstructCausalDk();
    none.SetSamples({}, {}, {});
    none.ReconstructCausalDk();
    EXPECT_TRUE(none.DkCausal().empty());
    EXPECT_TRUE(none.DfCausal().empty());
}

TEST(HilbertReconstruction, FirstSampleAtZeroFrequencyIsFinite) {
    Probe p;
    p.SetSamples({0.0, 1e9, 2e9, 4e9}, {4.1, 4.0, 3.9, 3.8}, {0.0, 0.02, 0.02, 0.02});
    p.ReconstructCausalDk();
    for (double v : p.DkCausal()) EXPECT_TRUE(std::isfinite(v)) << v;
}

TEST(HilbertReconstruction, EqualNeighbouringFrequenciesGiveNaNWithoutThrowing) {
    Probe p;
    p.SetSamples({1e9, 2e9, 2e9, 4e9}, {4.0, 3.9, 3.9, 3.8}, {0.02, 0.02, 0.02, 0.02});
    EXPECT_NO_THROW(p.ReconstructCausalDk());
    for (double v : p.DkCausal()) EXPECT_TRUE(std::isnan(v));
}

}  // namespace
