// The single-point wideband model: its grid and its values.
#include <cmath>
#include <limits>
#include <new>

#include <gtest/gtest.h>

#include "probe.h"

namespace {

TEST(WidebandGrid, SampleCountsFollowTheAccumulatedExponent) {
    struct Case {
        double maxFreq;
        std::size_t count;
    };
    for (const Case& c : {Case{1e10, 51}, Case{1e9, 46}, Case{1000, 16}, Case{1, 1},
                          Case{0.5, 0}, Case{0.0, 0}, Case{-3.0, 0}}) {
        Probe p;
        p.SetInputData(4.0, 0.02, 1e9, c.maxFreq, 0.0, 0.0);
        EXPECT_EQ(p.Freq().size(), c.count) << "maxFreq " << c.maxFreq;
        EXPECT_EQ(p.Dk().size(), c.count);
        EXPECT_EQ(p.Df().size(), c.count);
        EXPECT_FALSE(p.DoesHilbert()) << "switch goes off even with no samples";
    }
}

TEST(WidebandGrid, AnInfiniteHighestFrequencyFailsAtOnceAsMemoryExhaustionWould) {
    Probe p;
    EXPECT_THROW(p.SetInputData(4.0, 0.02, 1e9, HUGE_VAL, 0.0, 0.0), std::bad_alloc);
    EXPECT_TRUE(p.Freq().empty());
    EXPECT_TRUE(p.Dk().empty());
    EXPECT_TRUE(p.Df().empty());
    // The largest finite one still ends, five points a decade up to 1e308.
    p.SetInputData(4.0, 0.02, 1e9, std::numeric_limits<double>::max(), 0.0, 0.0);
    EXPECT_EQ(p.Freq().size(), 1542u);
}

TEST(WidebandGrid, EndPointsCarryTheRoundingOfRepeatedAddition) {
    Probe p;
    p.SetInputData(4.0, 0.02, 1e9, 1e10, 0.0, 0.0);
    EXPECT_EQ(p.Freq().front(), 1.0);
    EXPECT_NEAR(p.Freq()[1], 1.58489, 1e-5);
    EXPECT_LT(p.Freq().back(), 1e10);
    EXPECT_NEAR(p.Freq().back(), 9999999999.999918, 1e-4);

    Probe q;
    q.SetInputData(4.0, 0.02, 1e9, 1e9, 0.0, 0.0);
    EXPECT_EQ(q.Freq().back(), 1e9);
    Probe k;
    k.SetInputData(4.0, 0.02, 1e9, 1000, 0.0, 0.0);
    EXPECT_EQ(k.Freq().back(), std::pow(10.0, 3.0000000000000004));
    EXPECT_GT(k.Freq().back(), 1000.0);
}

TEST(WidebandModel, ReproducesTheMeasuredPointAndTheDefaultDcDk) {
    Probe p;
    p.SetInputData(4.0, 0.02, 1e9, 1e10, 0.0, 0.0);
    // The sample at 1e9 Hz is the 46th grid point.
    ASSERT_EQ(p.Freq()[45], 1e9);
    EXPECT_NEAR(p.Dk()[45], 4.0000, 5e-5);
    EXPECT_NEAR(p.Df()[45], 0.019999, 1e-6);
    // At 1 Hz the model approaches eps_inf (1 + 10 df) = 1.2 eps_inf.
    const double epsInf = 3.740755;
    EXPECT_NEAR(p.Dk()[0], 4.488906, 1e-6);
    EXPECT_NEAR(p.Dk()[0], 1.2 * epsInf, 1e-5);
    EXPECT_NEAR(p.Df()[0], 1.6e-7, 0.05e-7);
    // High above the upper corner Dk tends to eps_inf.
    Probe high;
    high.SetInputData(4.0, 0.02, 1e9, 1e16, 0.0, 0.0);
    EXPECT_NEAR(high.Dk().back(), epsInf, 1e-4);
}

TEST(WidebandModel, GivenDcDkIsReachedAtLowFrequency) {
    Probe p;
    p.SetInputData(4.0, 0.02, 1e9, 1e10, 0.0, 4.5);
    EXPECT_NEAR(p.Dk()[0], 4.5, 1e-6);
    EXPECT_NEAR(p.Dk()[45], 4.0, 5e-5);
    Probe tiny;  // any non-zero dcDk is a target, however small
    tiny.SetInputData(4.0, 0.02, 1e9, 1e10, 0.0, 1e-300);
    EXPECT_LT(tiny.Dk()[0], 3.0);
}

TEST(WidebandModel, ConductionDominatesTheLowFrequencyLoss) {
    Probe p;
    p.SetInputData(4.0, 0.02, 1e9, 1e10, 0.001, 0.0);
    // The measured loss at 1 GHz is still matched.
    EXPECT_NEAR(p.Df()[45] * p.Dk()[45], 0.08, 2e-4);
    EXPECT_NEAR(p.Df()[0], 3.9e6, 0.1e6);
    EXPECT_GT(p.Df()[0], 1e6);
}

TEST(WidebandModel, DerivedSlopeMatchesTheClosedForm) {
    // With conduction the slope is (dk df - c)/(HalfPi - atan(f/f2)).
    const double f2 = 159154943091.89536;
    const double c = 0.001 / ((1e9 * 6.283185307179586) * 8.854187817e-12);
    const double delta = (4.0 * 0.02 - c) / (1.570796326794897 - std::atan(1e9 / f2));
    EXPECT_NEAR(delta, 0.039645, 1e-6);
    const double plain = (4.0 * 0.02) / (1.570796326794897 - std::atan(1e9 / f2));
    EXPECT_NEAR(plain, 0.051134, 1e-6);
}

TEST(WidebandModel, TwoCallsAppendTwoGrids) {
    Probe p;
    p.SetInputData(4.0, 0.02, 1e9, 1e9, 0.0, 0.0);
    p.SetInputData(3.0, 0.01, 1e9, 1e9, 0.0, 0.0);
    ASSERT_EQ(p.Freq().size(), 92u);
    EXPECT_EQ(p.Freq()[46], 1.0);
    EXPECT_NEAR(p.Dk()[46 + 45], 3.0, 5e-5);
}

}  // namespace
