// Hostile but plausible data, the kind a user's file may hold. Each case must
// end in a model or in a clear error; a model must be stable and passive, and
// where the data are a material's, close to them.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fitting/polerat.h"
#include "probe.h"

namespace {

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;
using Complex = std::complex<double>;

constexpr double kTwoPi = 6.283185307179586;
constexpr double kE0 = 8.854187817e-12;  // F/m

struct Sample {
    double freq, dk, df;
};

DataTable Table(const std::vector<Sample>& samples) {
    DataTable t;
    for (const Sample& s : samples) t.push_back({s.freq, s.dk, s.df});
    return t;
}

// A two-relaxation material with a small constant loss, at `n` frequencies
// spread on a log scale over [fLow, fHigh].
std::vector<Sample> Material(int n, double fLow, double fHigh) {
    std::vector<Sample> out;
    for (int i = 0; i < n; ++i) {
        const double f = fLow * std::pow(fHigh / fLow, static_cast<double>(i) / (n - 1));
        const Complex s(0.0, kTwoPi * f);
        const Complex eps = 3.0 + 0.8 / (1.0 + s / (kTwoPi * 1e6)) + 0.4 / (1.0 + s / (kTwoPi * 5e9));
        const double dk = eps.real();
        out.push_back({f, dk, -eps.imag() / dk + 2e-3});
    }
    return out;
}

// The model's eps at `f` Hz from its poles and residues.
Complex Eps(const MaterialModeler& m, double f) {
    std::vector<Complex> poles, residues;
    m.GetPolesAndResidues(poles, residues);
    Complex eps = m.GetResidueAtInfinity();
    const Complex s(0.0, kTwoPi * f);
    for (std::size_t k = 0; k < poles.size(); ++k) eps += residues[k] / (s - poles[k]);
    return eps;
}

// Stable (every pole real and in the left half plane) and passive (no
// negative loss from 0 Hz to 1e15 Hz): what the modeler's engine settings
// promise.
void ExpectStableAndPassive(const MaterialModeler& m) {
    std::vector<Complex> poles, residues;
    m.GetPolesAndResidues(poles, residues);
    for (std::size_t k = 0; k < poles.size(); ++k) {
        EXPECT_LT(poles[k].real(), 0.0) << "pole " << k;
        EXPECT_EQ(poles[k].imag(), 0.0) << "pole " << k;
        EXPECT_TRUE(std::isfinite(residues[k].real())) << "residue " << k;
    }
    EXPECT_GE(m.GetResidueAtInfinity(), 0.0);
    for (double e = -3.0; e <= 15.0; e += 0.05) {
        const double f = e == -3.0 ? 0.0 : std::pow(10.0, e);
        const Complex eps = Eps(m, f);
        ASSERT_LE(eps.imag(), 0.0) << "negative loss at " << f << " Hz";
        ASSERT_GE(eps.real(), 0.0) << "negative Dk at " << f << " Hz";
    }
}

// A model of a material, not of vacuum or of nothing: Dk of at least 1 from
// 0 Hz to 1e15 Hz (the samples' Dk were all 1 or more), so that Df is defined.
void ExpectAMaterial(const MaterialModeler& m) {
    for (double e = -3.0; e <= 15.0; e += 0.05) {
        const double f = e == -3.0 ? 0.0 : std::pow(10.0, e);
        ASSERT_GT(Eps(m, f).real(), 0.99) << "Dk at " << f << " Hz";
    }
}

void ExpectAStablePassiveMaterial(const MaterialModeler& m) {
    ExpectStableAndPassive(m);
    ExpectAMaterial(m);
}

// The fitted Df against the measured one, as the largest relative deviation.
double WorstDfDeviation(const MaterialModeler& m, const std::vector<Sample>& measured) {
    DataTable fitted;
    m.GetFittedData(fitted);
    double worst = 0.0;
    for (std::size_t i = 0; i < measured.size(); ++i)
        worst = std::max(worst, std::fabs(fitted[i][2] - measured[i].df) / measured[i].df);
    return worst;
}

// Loads, fits and returns the error text, or an empty string for a model.
template <typename Load>
std::string FitOrError(Probe& m, Load&& load) {
    try {
        load(m);
        m.FitData();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return std::string();
}

TEST(HostileData, ThreeSamplesOnlyGiveAModelThroughThem) {
    const std::vector<Sample> s{{1e9, 3.72, 0.0085}, {5e9, 3.67, 0.0092}, {1e10, 3.65, 0.0095}};
    Probe m;
    ASSERT_EQ(FitOrError(m, [&](Probe& p) { p.SetInputData(Table(s)); }), "");
    ExpectAStablePassiveMaterial(m);
    EXPECT_LT(WorstDfDeviation(m, s), 0.05);
}

TEST(HostileData, ThousandsOfSamplesGiveAModel) {
    const std::vector<Sample> s = Material(5000, 1e3, 1e11);
    Probe m;
    ASSERT_EQ(FitOrError(m, [&](Probe& p) { p.SetInputData(Table(s)); }), "");
    ExpectAStablePassiveMaterial(m);
    DataTable fitted;
    m.GetFittedData(fitted);
    EXPECT_EQ(fitted.size(), s.size());
    EXPECT_LT(WorstDfDeviation(m, s), 0.1);
}

TEST(HostileData, OneHertzToOneTerahertzGiveAModel) {
    const std::vector<Sample> s = Material(121, 1.0, 1e12);
    Probe m;
    ASSERT_EQ(FitOrError(m, [&](Probe& p) { p.SetInputData(Table(s)); }), "");
    ExpectAStablePassiveMaterial(m);
    EXPECT_LT(WorstDfDeviation(m, s), 0.1);
}

// A ferrite: Dk of 2e5 relaxing above 1 MHz, and a dc conductivity of 1.2 S/m
// that makes the loss tangent reach 100 at the lowest frequencies.
constexpr double kFerriteSigma = 1.2;  // S/m

std::vector<Sample> Ferrite() {
    std::vector<Sample> s;
    for (int i = 0; i <= 60; ++i) {
        const double f = 900.0 * std::pow(10.0, i / 10.0);
        const double dk = 2e5 / (1.0 + f / 1e6) + 12.0;
        const double df = std::min(100.0, kFerriteSigma / (kTwoPi * f * kE0 * dk) + 0.05);
        s.push_back({f, dk, df});
    }
    return s;
}

TEST(HostileData, AFerriteDominatedByConductionGivesAModelOrAClearError) {
    const double sigma = kFerriteSigma;
    const std::vector<Sample> s = Ferrite();
    ASSERT_EQ(s.front().df, 100.0);
    Probe m;
    const std::string error = FitOrError(m, [&](Probe& p) { p.SetInputData(Table(s)); });
    if (error.empty()) {
        ExpectStableAndPassive(m);
    } else {
        EXPECT_THAT(error, HasSubstr("."));  // a sentence, not an empty what()
    }

    // The same material given as a conductivity.
    DataTable table;
    for (const Sample& x : s) table.push_back({x.freq, x.dk, sigma});
    Probe c;
    const std::string cError =
        FitOrError(c, [&](Probe& p) { p.SetInputDataUsingConductivity(table); });
    if (cError.empty()) {
        ExpectStableAndPassive(c);
    } else {
        EXPECT_THAT(cError, HasSubstr("."));
    }
}

TEST(HostileData, EveryDfAtTheFloorGivesANearlyLosslessModel) {
    std::vector<Sample> s = Material(40, 1e6, 1e10);
    for (Sample& x : s) x.df = 0.0;  // stored as 1e-5
    Probe m;
    ASSERT_EQ(FitOrError(m, [&](Probe& p) { p.SetInputData(Table(s)); }), "");
    ExpectAStablePassiveMaterial(m);
    DataTable fitted;
    m.GetFittedData(fitted);
    for (const std::vector<double>& row : fitted) EXPECT_LT(row[2], 1e-3) << row[0] << " Hz";
}

TEST(HostileData, ASampleAtZeroHertzGivesAModel) {
    std::vector<Sample> s = Material(30, 1e6, 1e10);
    s.insert(s.begin(), Sample{0.0, s.front().dk, s.front().df});
    Probe m;
    ASSERT_EQ(FitOrError(m, [&](Probe& p) { p.SetInputData(Table(s)); }), "");
    ExpectAStablePassiveMaterial(m);
    DataTable fitted;
    m.GetFittedData(fitted);
    EXPECT_EQ(fitted[0][0], 0.0);
    EXPECT_TRUE(std::isfinite(fitted[0][1]));
}

TEST(HostileData, UnsortedFrequenciesGiveAModelOrAClearError) {
    std::vector<Sample> s = Material(30, 1e6, 1e10);
    std::mt19937 shuffle(20240611u);
    std::shuffle(s.begin(), s.end(), shuffle);
    Probe m;
    const std::string error = FitOrError(m, [&](Probe& p) { p.SetInputData(Table(s)); });
    if (error.empty()) {
        ExpectAStablePassiveMaterial(m);
    } else {
        EXPECT_THAT(error, HasSubstr("."));
    }
}

TEST(HostileData, DuplicateFrequenciesEndInAnEngineErrorNamingASample) {
    // Two samples at 2 GHz make the reconstruction divide by a zero-width
    // segment; its NaN must reach the caller as the engine's refusal.
    for (const std::vector<Sample>& s :
         {std::vector<Sample>{{1e9, 4.0, 0.01}, {2e9, 3.9, 0.01}, {2e9, 3.9, 0.01}, {5e9, 3.8, 0.012}},
          std::vector<Sample>{{1e9, 4.0, 0.01}, {1e9, 3.9, 0.011}, {5e9, 3.8, 0.012}}}) {
        Probe m;
        m.SetInputData(Table(s));
        EXPECT_THAT([&] { m.FitData(); },
                    ThrowsMessage<std::runtime_error>(
                        ::testing::AllOf(HasSubstr("The sample at index "), HasSubstr(" Hz) "),
                                         HasSubstr("is not a finite number"))));
        // No model is left behind to be read.
        std::vector<Complex> poles, residues;
        EXPECT_THROW(m.GetPolesAndResidues(poles, residues), std::runtime_error);
    }
}

// The reconstruction of the ferrite, whose loss is set to zero at the first
// sample and jumps to Dk * Df = 2e7 at the second, gives a causal Dk of about
// -1e6 at most samples. No passive sum of relaxations comes near that: the
// fit must fail with a reason, never return a model of zero (Dk 0, Df NaN).
TEST(HostileData, AFerriteGivesAMaterialOrAnErrorNotTheZeroModel) {
    Probe m;
    const std::string error = FitOrError(m, [](Probe& p) { p.SetInputData(Table(Ferrite())); });
    if (error.empty()) ExpectAMaterial(m);
}

// The duplicate's NaN spreads to every reconstructed sample; the message must
// still point at the repeated frequency.
TEST(HostileData, DuplicateFrequenciesAreNamedInTheError) {
    Probe m;
    m.SetInputData(
        Table({{1e9, 4.0, 0.01}, {2e9, 3.9, 0.01}, {2e9, 3.9, 0.01}, {5e9, 3.8, 0.012}}));
    EXPECT_THAT([&] { m.FitData(); },
                ThrowsMessage<std::runtime_error>(
                    ::testing::AllOf(HasSubstr("2e+09 Hz"), HasSubstr("more than once"))));
}

// Where a residue or a squared angular frequency would leave the range of a
// double, the engine must refuse the input (std::invalid_argument naming the
// fault) or give a finite, stable model; never NaN poles or infinite residues.
void ExpectFiniteModelOrError(const std::vector<double>& freq, const std::vector<Complex>& h) {
    polerat_data* record = nullptr;
    DataTable info;
    std::string log;
    try {
        polerat_run(record, info, freq, PoleratSamples(1, std::vector<std::vector<Complex>>(1, h)),
                    0.001, 100, 1, 0, 0, false, true, 0, false, log, {}, nullptr, -1.0, false, 1,
                    1, 1);
    } catch (const std::invalid_argument&) {
        return;
    }
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(std::isfinite(record->d.at(0).at(0)));
    for (std::size_t k = 0; k < record->pole_re.size(); ++k) {
        EXPECT_LT(record->pole_re[k], 0.0) << "pole " << k;
        EXPECT_TRUE(std::isfinite(record->b.at(k).at(0) * record->c.at(0).at(k))) << "residue " << k;
    }
    polerat_cleanup(record);
}

TEST(EngineRange, SamplesNearTheLargestDoubleGiveAFiniteModelOrAnError) {
    // One sample of 1e308 at 1 Hz: its residue would be about 9e308.
    ExpectFiniteModelOrError({1.0}, {{1e308, -1e298}});
}

TEST(EngineRange, FrequenciesNearZeroGiveAFiniteModelOrAnError) {
    ExpectFiniteModelOrError({1e-200, 2e-200, 3e-200}, {{4.0, -0.04}, {3.9, -0.04}, {3.8, -0.04}});
    // One such frequency is enough, here through the modeler: a sweep that
    // starts at 1.6e-319 Hz gives NaN poles.
    const double f[] = {1.6411378557908686e-319, 2.6600943670018752e-15, 3.1867930516682469e-14,
                        3.81777807589856e-13,    4.573698134926475e-12,  5.4792903656419173e-11,
                        6.564189858039017e-10,   7.8638994499307422e-09};
    DataTable table;
    for (double x : f) table.push_back({x, 1.0, 179751.03575995823});
    Probe m;
    if (FitOrError(m, [&](Probe& p) { p.SetInputData(table); }).empty()) ExpectStableAndPassive(m);
}

TEST(EngineRange, FrequenciesBeyond1e150HzGiveAFiniteModelOrAnError) {
    ExpectFiniteModelOrError({1e160, 2e160, 3e160}, {{4.0, -0.04}, {3.9, -0.04}, {3.8, -0.04}});
}

}  // namespace
