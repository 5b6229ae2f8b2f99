// The fitting engine: plant-and-recover cases, properties of every model it
// returns (stability, passivity, the record's layout), its other settings and
// its errors.
#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fitting/polerat.h"
#include "probe.h"

namespace {

using Cx = std::complex<double>;
using ::testing::HasSubstr;

constexpr double kTwoPi = 6.283185307179586;

// Settings of polerat_run by name; the defaults are the modeler's fixed call.
struct Settings {
    double target = 1e-3;
    int maxOrder = 100;
    int minOrder = 1;
    int fixedOrder = 0;
    int iterations = 0;
    bool complexPairs = false;
    bool passive = true;
    int weighting = 0;
    bool omitConstant = false;
    std::vector<double> weights;
    PoleratProgress progress = nullptr;
    double stallRatio = -1.0;
    bool verbose = false;
    int orderStep = 1;
    int patience = 1;
    int start = 1;
};

struct Fit {
    polerat_data* record = nullptr;
    DataTable info;
    std::string log;
    double error = 0.0;
    Fit() = default;
    Fit(const Fit&) = delete;
    Fit& operator=(const Fit&) = delete;
    ~Fit() { polerat_cleanup(record); }
    int Order() const { return static_cast<int>(info.at(0).at(0)); }
};

void FitWith(Fit& fit, const std::vector<double>& freq, const PoleratSamples& samples, const Settings& s = {}) {
    fit.error = polerat_run(fit.record, fit.info, freq, samples, s.target, s.maxOrder, s.minOrder, s.fixedOrder,
                            s.iterations, s.complexPairs, s.passive, s.weighting, s.omitConstant, fit.log,
                            s.weights, s.progress, s.stallRatio, s.verbose, s.orderStep, s.patience, s.start);
}

PoleratSamples OnePort(const std::vector<Cx>& h) { return PoleratSamples(1, std::vector<std::vector<Cx>>(1, h)); }

std::vector<double> LogSpace(double lo, double hi, int n) {
    std::vector<double> f(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) f[static_cast<std::size_t>(i)] = lo * std::pow(hi / lo, static_cast<double>(i) / (n - 1));
    return f;
}

// Evaluates entry (p, q) of the record as a state-space model,
// d + c (sI - A)^-1 b, with each pair's 2x2 block inverted in closed form:
// a check of the layout that does not reuse the engine's own formulas.
Cx Evaluate(const polerat_data& r, double freqHz, std::size_t p = 0, std::size_t q = 0) {
    const Cx s(0.0, kTwoPi * freqHz);
    Cx sum = r.d.at(p).at(q);
    const std::size_t n = r.pole_re.size();
    for (std::size_t k = 0; k < n; ++k) {
        if (r.pole_im[k] != 0.0 && k + 1 < n) {
            const double a = r.pole_re[k], beta = r.pole_im[k];
            // (sI - A)^-1 for A = [[a, beta], [-beta, a]]
            const Cx den = (s - a) * (s - a) + beta * beta;
            const Cx x0 = ((s - a) * r.b[k][q] + beta * r.b[k + 1][q]) / den;
            const Cx x1 = (-beta * r.b[k][q] + (s - a) * r.b[k + 1][q]) / den;
            sum += r.c[p][k] * x0 + r.c[p][k + 1] * x1;
            ++k;
        } else {
            sum += r.c[p][k] * r.b[k][q] / (s - r.pole_re[k]);
        }
    }
    return sum;
}

// Poles and residues of entry (0, 0) as complex numbers, pairs expanded.
void PolesResidues(const polerat_data& r, std::vector<Cx>& poles, std::vector<Cx>& res) {
    poles.clear();
    res.clear();
    const std::size_t n = r.pole_re.size();
    for (std::size_t k = 0; k < n; ++k) {
        if (r.pole_im[k] != 0.0 && k + 1 < n) {
            const Cx rr = 0.5 * Cx(r.b[k][0], -r.b[k + 1][0]) * Cx(r.c[0][k], r.c[0][k + 1]);
            poles.push_back({r.pole_re[k], r.pole_im[k]});
            poles.push_back({r.pole_re[k], -r.pole_im[k]});
            res.push_back(rr);
            res.push_back(std::conj(rr));
            ++k;
        } else if (r.b[k][0] != 0.0) {
            poles.push_back({r.pole_re[k], 0.0});
            res.push_back({r.c[0][k] * r.b[k][0], 0.0});
        }
    }
}

// The loss tangent of a one-port model: -Im / Re.
double Df(const polerat_data& r, double f) {
    const Cx e = Evaluate(r, f);
    return -e.imag() / e.real();
}

// The band 0 .. 1e15 Hz on a dense log grid, 0 Hz included.
std::vector<double> DenseGrid() {
    std::vector<double> g{0.0};
    for (int k = 0; k <= 6000; ++k) g.push_back(std::pow(10.0, -3.0 + 18.0 * k / 6000.0));
    return g;
}

// A sum of Debye terms: eps_inf + sum de_k / (1 + j f / fk).
std::vector<Cx> Debye(const std::vector<double>& f, double epsInf, const std::vector<double>& de,
                      const std::vector<double>& fk) {
    std::vector<Cx> h;
    for (double x : f) {
        Cx e = epsInf;
        for (std::size_t k = 0; k < de.size(); ++k) e += de[k] / Cx(1.0, x / fk[k]);
        h.push_back(e);
    }
    return h;
}

// The wideband dielectric model with a continuous spread of relaxations.
Cx Wideband(double f) {
    const double f1 = 7.04e4, f2 = 1.5915e11;
    const Cx jf(0.0, f);
    return 3.74 + 0.0511 * std::log((f2 + jf) / (f1 + jf));
}

TEST(PoleratRecovery, SingleDebyePoleIsFoundExactlyWithOnePole) {
    const auto f = LogSpace(1e6, 1e11, 101);
    Fit fit;
    FitWith(fit, f, OnePort(Debye(f, 3.0, {1.0}, {1e9})));
    EXPECT_EQ(fit.Order(), 1);
    EXPECT_LE(fit.error, 1e-9);
    ASSERT_EQ(fit.record->pole_re.size(), 1u);
    // 1/(1 + j f/f0) = w0/(s + w0): pole -w0, residue w0, constant 3.
    const double w0 = kTwoPi * 1e9;
    EXPECT_NEAR(fit.record->pole_re[0] / -w0, 1.0, 1e-9);
    EXPECT_NEAR(fit.record->c[0][0] * fit.record->b[0][0] / w0, 1.0, 1e-9);
    EXPECT_NEAR(fit.record->d[0][0], 3.0, 1e-9);
    EXPECT_EQ(fit.record->pole_im[0], 0.0);
}

TEST(PoleratRecovery, FourDebyeTermsOverSixDecadesAreRecovered) {
    const auto f = LogSpace(1e3, 1e11, 161);
    const std::vector<double> de{0.5, 0.3, 0.8, 0.2}, fk{1e4, 1e6, 3e7, 1e10};
    Fit fit;
    FitWith(fit, f, OnePort(Debye(f, 2.5, de, fk)));
    EXPECT_LE(fit.Order(), 4);
    ASSERT_EQ(fit.record->pole_re.size(), 4u);
    // The record lists the poles by magnitude, as the planted ones are.
    for (std::size_t k = 0; k < 4; ++k) {
        const double w = kTwoPi * fk[k];
        EXPECT_NEAR(fit.record->pole_re[k] / -w, 1.0, 1e-6) << "pole " << k;
        EXPECT_NEAR(fit.record->c[0][k] * fit.record->b[k][0] / (de[k] * w), 1.0, 1e-6) << "residue " << k;
    }
    EXPECT_NEAR(fit.record->d[0][0], 2.5, 1e-6);
}

TEST(PoleratAccuracy, WidebandModelMeetsDkAndDfToleranceWithFewPoles) {
    const auto f = LogSpace(1e3, 1e11, 161);  // 20 points per decade
    std::vector<Cx> h;
    for (double x : f) h.push_back(Wideband(x));
    Fit fit;
    FitWith(fit, f, OnePort(h));
    EXPECT_LE(fit.error, 1e-3);
    EXPECT_LE(fit.Order(), 16) << "at most 2 poles per decade of band";
    double dkErr = 0.0, dfErr = 0.0;
    for (std::size_t i = 0; i < f.size(); ++i) {
        const Cx m = Evaluate(*fit.record, f[i]);
        dkErr = std::max(dkErr, std::fabs(m.real() / h[i].real() - 1.0));
        dfErr = std::max(dfErr, std::fabs((m.imag() / m.real()) / (h[i].imag() / h[i].real()) - 1.0));
    }
    EXPECT_LE(dkErr, 1e-3);
    EXPECT_LE(dfErr, 1e-2);
}

TEST(PoleratAccuracy, NoisyWidebandDataStopsWellBelowTheCapAndStaysPassive) {
    const auto f = LogSpace(1e3, 1e11, 161);
    const unsigned seed = 20261206;
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::vector<Cx> h;
    for (double x : f) {
        const Cx e = Wideband(x);
        h.push_back({e.real() * (1.0 + noise(gen)), e.imag() * (1.0 + noise(gen))});
    }
    Fit fit;
    FitWith(fit, f, OnePort(h));
    SCOPED_TRACE("seed " + std::to_string(seed) + "\n" + fit.log);
    EXPECT_LE(fit.Order(), 16);
    EXPECT_EQ(fit.info[0][4], 1.0) << "the search stalled on the noise";
    EXPECT_LT(fit.error, 0.02);  // the noise is 1 % in each part
    for (double x : DenseGrid()) EXPECT_GE(Df(*fit.record, x), 0.0) << x;
}

TEST(PoleratPassivity, RandomNoisyDebyeMixturesGiveStablePassiveModels) {
    const unsigned seed = 4242;
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    const auto grid = DenseGrid();
    for (int trial = 0; trial < 200; ++trial) {
        const int terms = 1 + static_cast<int>(uni(gen) * 5);
        std::vector<double> de, fk;
        for (int k = 0; k < terms; ++k) {
            de.push_back(0.01 + 2.0 * uni(gen));
            fk.push_back(std::pow(10.0, 2.0 + 10.0 * uni(gen)));
        }
        const double lo = std::pow(10.0, 1.0 + 4.0 * uni(gen));
        const int n = 5 + static_cast<int>(uni(gen) * 200);
        const auto f = LogSpace(lo, lo * std::pow(10.0, 1.0 + 6.0 * uni(gen)), n);
        auto h = Debye(f, 1.0 + 5.0 * uni(gen), de, fk);
        const double level = 0.05 * uni(gen);
        std::normal_distribution<double> noise(0.0, level);
        for (auto& v : h) v = {v.real() * (1.0 + noise(gen)), v.imag() * (1.0 + noise(gen))};

        Fit fit;
        FitWith(fit, f, OnePort(h));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", trial " + std::to_string(trial));
        const auto& r = *fit.record;
        for (std::size_t k = 0; k < r.pole_re.size(); ++k) {
            ASSERT_LT(r.pole_re[k], 0.0);
            ASSERT_EQ(r.pole_im[k], 0.0) << "real poles only";
            ASSERT_GE(r.c[0][k] * r.b[k][0], 0.0) << "every Debye term adds loss";
        }
        ASSERT_GE(r.d[0][0], 0.0);
        double worst = 0.0;
        for (double x : grid) worst = std::min(worst, Df(r, x));
        ASSERT_GE(worst, 0.0);
        ASSERT_TRUE(std::isfinite(fit.error));
    }
}

TEST(PoleratRecovery, DcConductionIsCarriedByAPoleFarBelowTheBand) {
    // eps = 4 + 1/(1 + j f/100 MHz) + sigma/(j w e0): the loss grows as 1/f
    // toward dc, which only a pole many decades below the band can follow.
    const double sigma = 1e-4, e0 = 8.854187817e-12;
    const auto f = LogSpace(1.0, 1e10, 101);
    auto h = Debye(f, 4.0, {1.0}, {1e8});
    for (std::size_t i = 0; i < f.size(); ++i) h[i] += Cx(0.0, -sigma / (kTwoPi * f[i] * e0));
    Fit fit;
    FitWith(fit, f, OnePort(h));
    EXPECT_LE(fit.error, 1e-3);
    EXPECT_LE(fit.Order(), 3);
    // The lowest pole sits far below 1 Hz and carries sigma/e0.
    EXPECT_LT(-fit.record->pole_re[0], 1e-3 * kTwoPi);
    EXPECT_NEAR(fit.record->c[0][0] * fit.record->b[0][0] / (sigma / e0), 1.0, 1e-3);
}

TEST(PoleratOrder, AutomaticOrderIsTheFewestThatMeetTheTarget) {
    // A sparse datasheet table made causal, where relocation alone overshoots
    // the order, and the smooth wideband model, where the error falls slowly.
    Probe sheet;
    sheet.SetInputData(DataTable{{1e9, 3.72, 0.0085}, {2e9, 3.70, 0.0088}, {5e9, 3.67, 0.0092},
                                 {10e9, 3.65, 0.0095}, {15e9, 3.64, 0.0097}, {20e9, 3.63, 0.0099}});
    sheet.ReconstructCausalDk();
    std::vector<Cx> causal;
    for (std::size_t i = 0; i < sheet.Freq().size(); ++i)
        causal.emplace_back(sheet.DkCausal()[i], -sheet.DkCausal()[i] * sheet.DfCausal()[i]);
    const auto f = LogSpace(1e3, 1e11, 161);
    std::vector<Cx> wide;
    for (double x : f) wide.push_back(Wideband(x));

    for (const auto& [freq, h] : {std::make_pair(sheet.Freq(), causal), std::make_pair(f, wide)}) {
        Fit automatic;
        FitWith(automatic, freq, OnePort(h));
        ASSERT_LE(automatic.error, 1e-3);
        Settings fewer;
        fewer.fixedOrder = automatic.Order() - 1;
        Fit below;
        FitWith(below, freq, OnePort(h), fewer);
        EXPECT_GT(below.error, 1e-3) << automatic.Order() - 1 << " poles would do for " << freq.size()
                                     << " samples";
    }
}

TEST(PoleratRecovery, SampleAtZeroHertzIsFittedByItsRealPart) {
    auto f = LogSpace(1e6, 1e11, 60);
    f.insert(f.begin(), 0.0);
    auto h = Debye(f, 3.0, {1.0, 0.4}, {1e8, 5e9});
    h[0] = {4.4, -4.4e-5};  // a loss-tangent floor at dc that no model can carry
    Fit fit;
    FitWith(fit, f, OnePort(h));
    EXPECT_EQ(fit.Order(), 2);
    EXPECT_LE(fit.error, 1e-9);
    EXPECT_NEAR(Evaluate(*fit.record, 0.0).real(), 4.4, 1e-8);
}

TEST(PoleratSettings, ComplexPairsFitALorentzResonance) {
    // eps = 2 + 0.5 w0^2 / (w0^2 - w^2 + j w g): a lossy resonance at 5 GHz.
    const double w0 = kTwoPi * 5e9, g = 0.1 * w0;
    const auto f = LogSpace(1e8, 1e11, 200);
    std::vector<Cx> h;
    for (double x : f) {
        const double w = kTwoPi * x;
        h.push_back(2.0 + 0.5 * w0 * w0 / Cx(w0 * w0 - w * w, w * g));
    }
    Settings s;
    s.complexPairs = true;
    Fit fit;
    FitWith(fit, f, OnePort(h), s);
    EXPECT_EQ(fit.Order(), 2);
    EXPECT_LE(fit.error, 1e-8);
    ASSERT_EQ(fit.record->pole_im.size(), 2u);
    // One pair: +beta on the first state, -beta on the second.
    EXPECT_GT(fit.record->pole_im[0], 0.0);
    EXPECT_EQ(fit.record->pole_im[1], -fit.record->pole_im[0]);
    EXPECT_NEAR(std::abs(Cx(fit.record->pole_re[0], fit.record->pole_im[0])) / w0, 1.0, 1e-8);
    EXPECT_NEAR(fit.record->pole_re[0] / (-g / 2.0), 1.0, 1e-7);
    // Real poles cannot make a resonance: even unconstrained they miss it.
    Settings realOnly;
    realOnly.passive = false;
    Fit real;
    FitWith(real, f, OnePort(h), realOnly);
    EXPECT_GT(real.error, 1e3 * fit.error);
}

TEST(PoleratSettings, PassivePairsKeepTheLossNonNegative) {
    // Noisy resonant data fitted with pairs under the constraint.
    const double w0 = kTwoPi * 2e9;
    const auto f = LogSpace(1e8, 2e10, 120);
    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0.0, 0.03);
    std::vector<Cx> h;
    for (double x : f) {
        const double w = kTwoPi * x;
        const Cx e = 3.0 + 0.2 * w0 * w0 / Cx(w0 * w0 - w * w, w * 0.02 * w0) + 0.3 / Cx(1.0, x / 1e9);
        h.push_back({e.real() * (1 + noise(gen)), e.imag() * (1 + noise(gen))});
    }
    Settings s;
    s.complexPairs = true;
    s.start = 2;
    Fit fit;
    FitWith(fit, f, OnePort(h), s);
    for (std::size_t k = 0; k < fit.record->pole_re.size(); ++k) EXPECT_LT(fit.record->pole_re[k], 0.0);
    for (double x : DenseGrid()) EXPECT_LE(Evaluate(*fit.record, x).imag(), 1e-12) << x;
}

TEST(PoleratSettings, WithoutConstraintNegativeResiduesAreFitted) {
    // A difference of Debye terms has a negative residue: only the
    // unconstrained fit can reach it.
    const auto f = LogSpace(1e6, 1e11, 120);
    const auto h = Debye(f, 3.0, {1.0, -0.3}, {1e8, 3e9});
    Settings free;
    free.passive = false;
    Fit unconstrained, passive;
    FitWith(unconstrained, f, OnePort(h), free);
    FitWith(passive, f, OnePort(h));
    EXPECT_LE(unconstrained.error, 1e-9);
    std::vector<Cx> poles, res;
    PolesResidues(*unconstrained.record, poles, res);
    ASSERT_EQ(res.size(), 2u);
    EXPECT_NEAR(std::min(res[0].real(), res[1].real()) / (-0.3 * kTwoPi * 3e9), 1.0, 1e-7);
    EXPECT_GT(passive.error, 1e-6);
    for (double x : DenseGrid()) EXPECT_GE(Df(*passive.record, x), 0.0);
}

TEST(PoleratSettings, FixedOrderIsHonoured) {
    const auto f = LogSpace(1e3, 1e11, 161);
    std::vector<Cx> h;
    for (double x : f) h.push_back(Wideband(x));
    for (int order : {3, 7}) {
        Settings s;
        s.fixedOrder = order;
        Fit fit;
        FitWith(fit, f, OnePort(h), s);
        EXPECT_EQ(fit.Order(), order);
        EXPECT_EQ(fit.record->pole_re.size(), static_cast<std::size_t>(order));
        EXPECT_EQ(fit.info[0][4], 3.0);
    }
}

TEST(PoleratSettings, WeightsPullTheFitTowardTheWeightedSamples) {
    // One pole cannot fit two relaxations; the weighted half of the band wins.
    const auto f = LogSpace(1e6, 1e11, 101);
    const auto h = Debye(f, 3.0, {1.0, 1.0}, {1e7, 1e10});
    Settings s;
    s.fixedOrder = 1;
    for (const double edge : {1e7, 1e10}) {
        s.weights.assign(f.size(), 1e-4);
        for (std::size_t i = 0; i < f.size(); ++i)
            if (std::fabs(std::log10(f[i] / edge)) < 1.0) s.weights[i] = 1.0;
        Fit fit;
        FitWith(fit, f, OnePort(h), s);
        EXPECT_NEAR(fit.record->pole_re[0] / (-kTwoPi * edge), 1.0, 0.3) << "weighted around " << edge;
    }
}

TEST(PoleratSettings, MultiPortArraySharesItsPoles) {
    // A 2 x 2 array with two common poles and entry-wise residues.
    const auto f = LogSpace(1e6, 1e11, 80);
    const double p1 = -kTwoPi * 1e8, p2 = -kTwoPi * 5e9;
    const double r1[2][2] = {{1e8, -2e7}, {-2e7, 3e8}};
    const double r2[2][2] = {{4e9, 1e9}, {1e9, 2e9}};
    const double d[2][2] = {{2.0, 0.1}, {0.1, 3.0}};
    PoleratSamples h(2, std::vector<std::vector<Cx>>(2));
    for (int p = 0; p < 2; ++p)
        for (int q = 0; q < 2; ++q)
            for (double x : f) {
                const Cx s(0.0, kTwoPi * x);
                h[static_cast<std::size_t>(p)][static_cast<std::size_t>(q)].push_back(d[p][q] + r1[p][q] / (s - p1) +
                                                                                      r2[p][q] / (s - p2));
            }
    Settings s;
    s.passive = false;
    Fit fit;
    FitWith(fit, f, h, s);
    EXPECT_EQ(fit.Order(), 2);
    EXPECT_LE(fit.error, 1e-9);
    // Two copies of the poles, one per input column; c and d are 2 rows.
    ASSERT_EQ(fit.record->pole_re.size(), 4u);
    ASSERT_EQ(fit.record->c.size(), 2u);
    ASSERT_EQ(fit.record->d.size(), 2u);
    for (std::size_t p = 0; p < 2; ++p)
        for (std::size_t q = 0; q < 2; ++q)
            for (double x : {1e7, 1e9, 3e10}) {
                const Cx want = d[p][q] + r1[p][q] / (Cx(0, kTwoPi * x) - p1) +
                                r2[p][q] / (Cx(0, kTwoPi * x) - p2);
                EXPECT_NEAR(std::abs(Evaluate(*fit.record, x, p, q) - want) / std::abs(want), 0.0, 1e-9);
            }
}

TEST(PoleratSettings, OmittedConstantGivesAStrictlyProperModel) {
    const auto f = LogSpace(1e6, 1e11, 101);
    const auto h = Debye(f, 0.0, {1.0, 2.0}, {1e8, 1e10});
    Settings s;
    s.omitConstant = true;
    Fit fit;
    FitWith(fit, f, OnePort(h), s);
    EXPECT_EQ(fit.record->d[0][0], 0.0);
    EXPECT_LE(fit.error, 1e-9);
}

struct ProgressLog {
    static std::vector<std::pair<double, std::string>> calls;
    static void Record(double fraction, const char* message) { calls.emplace_back(fraction, message); }
};
std::vector<std::pair<double, std::string>> ProgressLog::calls;

TEST(PoleratReporting, ProgressSummaryAndLogDescribeTheFit) {
    const auto f = LogSpace(1e3, 1e11, 161);
    std::vector<Cx> h;
    for (double x : f) h.push_back(Wideband(x));
    ProgressLog::calls.clear();
    Settings s;
    s.progress = &ProgressLog::Record;
    Fit fit;
    FitWith(fit, f, OnePort(h), s);
    ASSERT_FALSE(ProgressLog::calls.empty());
    double last = 0.0;
    for (const auto& [fraction, message] : ProgressLog::calls) {
        EXPECT_GE(fraction, 0.0);
        EXPECT_LE(fraction, 1.0);
        EXPECT_GE(fraction, last) << "progress never goes back";
        EXPECT_FALSE(message.empty());
        EXPECT_LT(message.size(), 80u);
        last = fraction;
    }
    EXPECT_EQ(ProgressLog::calls.back().first, 1.0);
    // Summary row: order, error, iterations, target met, termination.
    ASSERT_GE(fit.info.size(), 2u);
    ASSERT_EQ(fit.info[0].size(), 5u);
    EXPECT_EQ(fit.info[0][0], static_cast<double>(fit.record->pole_re.size()));
    EXPECT_EQ(fit.info[0][1], fit.error);
    EXPECT_GT(fit.info[0][2], 0.0);
    EXPECT_EQ(fit.info[0][3], 1.0);
    EXPECT_EQ(fit.info[0][4], 0.0);
    EXPECT_THAT(fit.log, HasSubstr("161 samples"));
    EXPECT_THAT(fit.log, HasSubstr("stopped: target met at order " + std::to_string(fit.Order())));
}

TEST(PoleratRecord, AnEarlierRecordIsReleasedAndReplaced) {
    const auto f = LogSpace(1e6, 1e11, 50);
    Fit fit;
    fit.record = new polerat_data();
    fit.record->d = {{99.0}};
    FitWith(fit, f, OnePort(Debye(f, 3.0, {1.0}, {1e9})));  // a leak here fails the sanitizer run
    ASSERT_NE(fit.record, nullptr);
    EXPECT_NEAR(fit.record->d[0][0], 3.0, 1e-9);
    polerat_data* none = nullptr;
    polerat_cleanup(none);
    EXPECT_EQ(none, nullptr);
}

// Runs a fit expected to be rejected and returns the sentence.
std::string Rejection(const std::vector<double>& f, const PoleratSamples& h, const Settings& s = {}) {
    Fit fit;
    fit.record = new polerat_data();
    fit.record->d = {{7.0}};
    polerat_data* before = fit.record;
    try {
        FitWith(fit, f, h, s);
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(fit.record, before) << "the earlier record must be left alone";
        EXPECT_EQ(fit.record->d[0][0], 7.0);
        return e.what();
    }
    return "<accepted>";
}

TEST(PoleratErrors, BadInputIsRejectedWithASentenceNamingTheFault) {
    const std::vector<double> f{1e9, 2e9, 3e9};
    const auto h = OnePort({4.0, 3.9, 3.8});
    const double nan = std::nan("");
    EXPECT_EQ(Rejection({}, OnePort({})), "No samples to fit: the frequency list is empty.");
    EXPECT_EQ(Rejection(f, OnePort({4.0, 3.9})), "There are 3 frequencies but 2 samples.");
    EXPECT_EQ(Rejection(f, PoleratSamples{}),
              "The sample array is empty; it must hold P x P entries of 3 samples.");
    EXPECT_EQ(Rejection({1e9, -2e9, 3e9}, h), "The frequency at index 1 is negative (-2e+09 Hz).");
    EXPECT_EQ(Rejection({1e9, nan, 3e9}, h), "The frequency at index 1 is not a finite number.");
    EXPECT_EQ(Rejection(f, OnePort({4.0, Cx(nan, 0.0), 3.8})),
              "The sample at index 1 (2e+09 Hz) is not a finite number.");
    EXPECT_EQ(Rejection({1e9, 2e9, 2e9}, OnePort({4.0, 3.9, Cx(0.0, nan)})),
              "The sample at index 2 (2e+09 Hz) is not a finite number; the frequency 2e+09 Hz occurs more than "
              "once in the list.");
    EXPECT_EQ(Rejection({1e9, 1e31, 3e9}, h),
              "The frequency at index 1 (1e+31 Hz) lies outside the range a model can represent (1e-30 to 1e+30 "
              "Hz, or 0).");
    EXPECT_EQ(Rejection({1e-40, 2e9, 3e9}, h),
              "The frequency at index 0 (1e-40 Hz) lies outside the range a model can represent (1e-30 to 1e+30 "
              "Hz, or 0).");
    EXPECT_EQ(Rejection(f, OnePort({4.0, Cx(1e300, -1e290), 3.8})),
              "The sample at index 1 (2e+09 Hz) is too large to fit (magnitude 1e+300; at most 1e+100).");
    PoleratSamples ragged(2, std::vector<std::vector<Cx>>(1, {4.0, 3.9, 3.8}));
    EXPECT_EQ(Rejection(f, ragged), "The sample array must be square: row 0 holds 1 entries, not 2.");
}

TEST(PoleratErrors, BadSettingsAreRejected) {
    const std::vector<double> f{1e9, 2e9, 3e9};
    const auto h = OnePort({4.0, 3.9, 3.8});
    Settings s;
    s.weights = {1.0, 2.0};
    EXPECT_EQ(Rejection(f, h, s), "The weight list holds 2 values but there are 3 samples.");
    s.weights = {1.0, -2.0, 1.0};
    EXPECT_EQ(Rejection(f, h, s), "The weight at index 1 must be a finite number of at least 0; it is -2.");
    s.weights = {0.0, 0.0, 0.0};
    EXPECT_EQ(Rejection(f, h, s), "Every weight is zero: nothing would be fitted.");
    Settings t;
    t.maxOrder = 0;
    EXPECT_THAT(Rejection(f, h, t), HasSubstr("largest order"));
    Settings u;
    u.target = std::nan("");
    EXPECT_THAT(Rejection(f, h, u), HasSubstr("target error"));
    Settings v;
    v.weighting = 5;
    EXPECT_THAT(Rejection(f, h, v), HasSubstr("weighting"));
    Settings w;
    w.start = 2;
    EXPECT_EQ(Rejection(f, h, w), "Complex starting poles need complex pairs to be allowed.");
}

TEST(PoleratErrors, NegativeRealPartsAreRejectedUnderThePassivityConstraint) {
    // A passive model's real part is never negative; the best constrained fit
    // of such data would be meaningless.
    const auto f = LogSpace(1e6, 1e9, 20);
    std::vector<Cx> h;
    for (double x : f) h.push_back({x < 1e8 ? 2.0 : -5.0e6, -1.0e6 * (1.0 + x / 1e9)});
    EXPECT_EQ(Rejection(f, OnePort(h)),
              "The sample at index 13 (1.12884e+08 Hz) has a negative real part (-5e+06); a passive model with real "
              "poles only is never negative there.");
    // Without the constraint, or with resonances allowed, they are data.
    Settings free;
    free.passive = false;
    Fit unconstrained;
    FitWith(unconstrained, f, OnePort(h), free);
    EXPECT_TRUE(std::isfinite(unconstrained.error));
    Settings pairs;
    pairs.complexPairs = true;
    Fit resonant;
    FitWith(resonant, f, OnePort(h), pairs);
    EXPECT_TRUE(std::isfinite(resonant.error));
}

TEST(PoleratEdges, TinyAndDegenerateDataStillGiveAModel) {
    // One sample: a single relaxation through the point.
    {
        Fit fit;
        FitWith(fit, {1e9}, OnePort({Cx(4.0, -0.08)}));
        ASSERT_NE(fit.record, nullptr);
        const Cx m = Evaluate(*fit.record, 1e9);
        EXPECT_NEAR(m.real(), 4.0, 1e-9);
        EXPECT_NEAR(m.imag(), -0.08, 1e-9);
    }
    // Only dc samples: a constant.
    {
        Fit fit;
        FitWith(fit, {0.0, 0.0}, OnePort({4.0, 4.2}));
        EXPECT_EQ(fit.Order(), 0);
        // Each sample counts relative to its own size.
        const double relativeMean = (1 / 4.0 + 1 / 4.2) / (1 / 16.0 + 1 / (4.2 * 4.2));
        EXPECT_NEAR(fit.record->d[0][0], relativeMean, 1e-12);
    }
    // Lossless data: a constant, no negative loss anywhere.
    {
        const auto f = LogSpace(1e6, 1e10, 30);
        Fit fit;
        FitWith(fit, f, OnePort(std::vector<Cx>(f.size(), Cx(3.5, 0.0))));
        EXPECT_NEAR(Evaluate(*fit.record, 1e8).real(), 3.5, 1e-9);
        for (double x : DenseGrid()) EXPECT_GE(Df(*fit.record, x), 0.0);
    }
}

}  // namespace
