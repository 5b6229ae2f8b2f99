// FitData: which lists it fits, what it hands the engine, and how engine
// failures reach the caller.
#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "probe.h"

namespace {

using ::testing::HasSubstr;
using Cx = std::complex<double>;

// The fixed call asks for a relative RMS error of 1e-3 in each part; single
// samples may miss by a few times that.
constexpr double kFitTolerance = 3e-3;

// The record evaluated at f hertz, straight from the state lists.
Cx ModelAt(const polerat_data& r, double f) {
    const Cx s(0.0, 6.283185307179586 * f);
    Cx sum = r.d[0][0];
    for (std::size_t k = 0; k < r.pole_re.size(); ++k) sum += r.c[0][k] * r.b[k][0] / (s - r.pole_re[k]);
    return sum;
}

std::string FitMessage(Probe& p) {
    try {
        p.FitData();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no exception>";
}

TEST(FitData, HandsTheEngineTheReconstructedDkWithTheMeasuredDf) {
    Probe p;
    p.SetInputData(DataTable{{1e9, 4.0, 0.02}, {2e9, 3.9, 0.02}, {4e9, 3.8, 0.025}, {8e9, 3.75, 0.021}});
    p.FitData();
    ASSERT_NE(p.Record(), nullptr);
    ASSERT_EQ(p.DkCausal().size(), 4u);

    // The same engine call made by hand on eps = Dk' (1 - j Df) gives the same
    // record, bit for bit.
    std::vector<Cx> eps;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NE(p.DkCausal()[i], p.Dk()[i]);
        eps.emplace_back(p.DkCausal()[i], -(p.DfCausal()[i] * p.DkCausal()[i]));
    }
    polerat_data* direct = nullptr;
    DataTable info{{0.0}};
    std::string log;
    polerat_run(direct, info, p.Freq(), PoleratSamples(1, std::vector<std::vector<Cx>>(1, eps)), 0.001, 100, 1, 0, 0,
                false, true, 0, false, log, {}, nullptr, -1.0, false, 1, 1, 1);
    EXPECT_EQ(direct->pole_re, p.Record()->pole_re);
    EXPECT_EQ(direct->c, p.Record()->c);
    EXPECT_EQ(direct->d, p.Record()->d);
    polerat_cleanup(direct);
}

TEST(FitData, SinglePointInputFitsTheSynthesisedSamplesDirectly) {
    Probe p;
    p.SetInputData(4.0, 0.02, 1e9, 1e10, 0.0, 0.0);
    p.FitData();
    EXPECT_TRUE(p.DkCausal().empty()) << "no reconstruction without the switch";
    ASSERT_NE(p.Record(), nullptr);
    // Frequencies reach the engine in hertz: the model matches at 1 GHz.
    const Cx at1GHz = ModelAt(*p.Record(), 1e9);
    EXPECT_NEAR(at1GHz.real(), 4.0, 4.0 * kFitTolerance);
    EXPECT_NEAR(-at1GHz.imag() / at1GHz.real(), 0.02, 0.02 * kFitTolerance);
    for (double re : p.Record()->pole_re) EXPECT_LT(re, 0.0);
}

TEST(FitData, SinglePointInputWithConductionMeetsTheTarget) {
    Probe p;
    p.SetInputData(4.0, 0.02, 1e9, 1e10, 1e-3, 0.0);
    p.FitData();
    DataTable fitted;
    p.GetFittedData(fitted);
    ASSERT_EQ(fitted.size(), p.Freq().size());
    // The target is an RMS over both parts; single samples may miss by more.
    double sum = 0.0;
    for (std::size_t i = 0; i < fitted.size(); ++i) {
        const double dk = fitted[i][1] / p.Dk()[i] - 1.0, df = fitted[i][2] / p.Df()[i] - 1.0;
        EXPECT_LT(std::fabs(dk), 2e-2) << p.Freq()[i];
        EXPECT_LT(std::fabs(df), 2e-2) << p.Freq()[i];
        sum += dk * dk + df * df;
    }
    // Df mixes the errors of both parts, so its share may reach twice the target.
    EXPECT_LT(std::sqrt(sum / (2.0 * static_cast<double>(fitted.size()))), 2.5e-3);
}

TEST(FitData, SecondFitReplacesTheFirstRecord) {
    Probe p;
    p.SetInputData(DataTable{{1e9, 4.0, 0.02}, {2e9, 3.9, 0.02}, {4e9, 3.8, 0.02}});
    p.FitData();
    const double first = p.Record()->d[0][0];
    p.SetInputData(DataTable{{1e10, 3.0, 0.01}, {2e10, 2.9, 0.01}, {4e10, 2.8, 0.01}});
    p.FitData();  // the first record goes back to the engine, which releases it
    ASSERT_NE(p.Record(), nullptr);
    EXPECT_NE(p.Record()->d[0][0], first);
}

TEST(FitData, EngineErrorsComeBackAsRuntimeErrorsWithTheirText) {
    Probe empty;
    EXPECT_EQ(FitMessage(empty), "No samples to fit: the frequency list is empty.");
    EXPECT_EQ(empty.Record(), nullptr);

    // Equal neighbouring frequencies make the reconstruction not-a-number.
    Probe twice;
    twice.SetInputData(DataTable{{1e9, 4.0, 0.02}, {2e9, 3.9, 0.02}, {2e9, 3.9, 0.02}, {4e9, 3.8, 0.02}});
    const std::string msg = FitMessage(twice);
    EXPECT_THAT(msg, HasSubstr("is not a finite number"));
    EXPECT_THAT(msg, HasSubstr("the frequency 2e+09 Hz occurs more than once"));
    EXPECT_EQ(twice.DkCausal().size(), 4u) << "the reconstruction ran before the engine";
}

TEST(FitData, NaNSamplesPassInputButStopTheFit) {
    Probe p;
    const double nan = std::nan("");
    p.SetInputData(DataTable{{1e9, nan, 0.02}, {2e9, 3.9, 0.02}, {4e9, 3.8, 0.02}});
    EXPECT_THAT(FitMessage(p), HasSubstr("not a finite number"));
}

TEST(FitData, CopiesOfAFittedObjectGiveTheSameResults) {
    auto* source = new Probe();
    source->SetInputData(DataTable{{1e8, 4.3, 0.01}, {1e9, 4.2, 0.015}, {1e10, 4.0, 0.02}, {3e10, 3.95, 0.02}});
    source->FitData();
    DataTable before;
    source->GetFittedData(before);
    Probe copy(*source);
    delete source;
    DataTable after;
    copy.GetFittedData(after);
    EXPECT_EQ(after, before);
}

}  // namespace
