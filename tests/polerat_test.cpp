// The fitting engine: planted models come back, every model is stable and
// passive, every setting does what it says and finishes, scaled data give the
// same fit, and bad input is refused with a sentence naming the fault.
#include <cmath>
#include <complex>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fitting/constants.h"
#include "fitting/polerat.h"
#include "modeler/FitEngine.h"
#include "probe.h"

namespace {

using Cx = std::complex<double>;
using matmodel::kTwoPi;
using ::testing::HasSubstr;

// polerat_run's arguments by name; the defaults are the modeler's fixed call.
struct Settings {
    double target = 1e-3;
    int maxOrder = 100, minOrder = 1, fixedOrder = 0, iterations = 0;
    bool complexPairs = false, passive = true;
    int weighting = 0;
    bool omitConstant = false;
    std::vector<double> weights;
    PoleratProgress progress = nullptr;
    double stallRatio = -1.0;
    bool verbose = false;
    int orderStep = 1, patience = 1, start = 1;
};

struct Fit {
    polerat_data* record = nullptr;
    DataTable info;
    std::string log;
    double error = 0.0;
    Fit() = default;
    Fit(const std::vector<double>& f, const PoleratSamples& h, const Settings& s = {}) { Run(f, h, s); }
    Fit(const Fit&) = delete;
    Fit& operator=(const Fit&) = delete;
    ~Fit() { polerat_cleanup(record); }
    void Run(const std::vector<double>& f, const PoleratSamples& h, const Settings& s = {}) {
        error = polerat_run(record, info, f, h, s.target, s.maxOrder, s.minOrder, s.fixedOrder, s.iterations,
                            s.complexPairs, s.passive, s.weighting, s.omitConstant, log, s.weights, s.progress,
                            s.stallRatio, s.verbose, s.orderStep, s.patience, s.start);
    }
    int Order() const { return static_cast<int>(info.at(0).at(0)); }
    int Termination() const { return static_cast<int>(info.at(0).at(4)); }
};

PoleratSamples OnePort(const std::vector<Cx>& h) { return PoleratSamples(1, std::vector<std::vector<Cx>>(1, h)); }

std::vector<double> LogSpace(double lo, double hi, int n) {
    std::vector<double> f;
    for (int i = 0; i < n; ++i) f.push_back(lo * std::pow(hi / lo, static_cast<double>(i) / (n - 1)));
    return f;
}

// Entry (p, q) of the record as a state-space model d + c (sI - A)^-1 b, each
// pair's 2x2 block inverted in closed form: a check of the layout that does
// not reuse the engine's own formulas.
Cx Evaluate(const polerat_data& r, double freqHz, std::size_t p = 0, std::size_t q = 0) {
    const Cx s(0.0, kTwoPi * freqHz);
    Cx sum = r.d.at(p).at(q);
    for (std::size_t k = 0; k < r.pole_re.size(); ++k) {
        if (r.pole_im[k] != 0.0 && k + 1 < r.pole_re.size()) {
            const double a = r.pole_re[k], beta = r.pole_im[k];
            const Cx den = (s - a) * (s - a) + beta * beta;
            sum += (r.c[p][k] * ((s - a) * r.b[k][q] + beta * r.b[k + 1][q]) +
                    r.c[p][k + 1] * (-beta * r.b[k][q] + (s - a) * r.b[k + 1][q])) /
                   den;
            ++k;
        } else {
            sum += r.c[p][k] * r.b[k][q] / (s - r.pole_re[k]);
        }
    }
    return sum;
}

// Stable poles and (when asked) no negative loss from 0 Hz to 1e15 Hz.
void ExpectStableAndPassive(const polerat_data& r, bool passive = true) {
    for (double a : r.pole_re) EXPECT_LT(a, 0.0);
    for (int k = 0; passive && k <= 3000; ++k) {
        const double f = k == 0 ? 0.0 : std::pow(10.0, -3.0 + 18.0 * k / 3000.0);
        ASSERT_LE(Evaluate(r, f).imag(), 1e-12 * std::abs(Evaluate(r, f))) << f << " Hz";
    }
}

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

// A continuous spread of relaxations: the wideband dielectric model.
std::vector<Cx> Wideband(const std::vector<double>& f, double noise = 0.0, unsigned seed = 20261206) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> rel(0.0, noise);
    std::vector<Cx> h;
    for (double x : f) {
        const Cx e = 3.74 + 0.0511 * std::log((1.5915e11 + Cx(0.0, x)) / (7.04e4 + Cx(0.0, x)));
        h.push_back(noise > 0.0 ? Cx(e.real() * (1.0 + rel(gen)), e.imag() * (1.0 + rel(gen))) : e);
    }
    return h;
}

double WorstRelative(const polerat_data& r, const std::vector<double>& f, const std::vector<Cx>& h,
                     double (*part)(const Cx&)) {
    double worst = 0.0;
    for (std::size_t i = 0; i < f.size(); ++i)
        worst = std::max(worst, std::fabs(part(Evaluate(r, f[i])) - part(h[i])) / std::fabs(part(h[i])));
    return worst;
}
double Re(const Cx& z) { return z.real(); }
double LossTangent(const Cx& z) { return -z.imag() / z.real(); }

TEST(PoleratRecovery, PlantedDebyeSumsComeBackWithTheirPolesAndResidues) {
    struct Planted {
        std::vector<double> f;
        std::vector<double> de, fk;
        double tolerance;
    };
    const Planted cases[] = {
        {LogSpace(1e6, 1e11, 101), {1.0}, {1e9}, 1e-12},
        {LogSpace(1e3, 1e11, 161), {0.8, 0.5, 0.3, 0.2}, {1e4, 1e6, 1e8, 1e10}, 1e-9},
    };
    for (const Planted& c : cases) {
        Fit fit(c.f, OnePort(Debye(c.f, 3.0, c.de, c.fk)));
        ASSERT_EQ(fit.Order(), static_cast<int>(c.de.size())) << fit.log;
        EXPECT_LE(fit.error, c.tolerance);
        EXPECT_NEAR(fit.record->d[0][0], 3.0, 3.0 * c.tolerance);
        for (std::size_t k = 0; k < c.de.size(); ++k) {  // the record lists poles by magnitude
            const double w = kTwoPi * c.fk[k];
            EXPECT_NEAR(fit.record->pole_re[k] / -w, 1.0, c.tolerance);
            EXPECT_NEAR(fit.record->c[0][k] * fit.record->b[k][0] / (c.de[k] * w), 1.0, c.tolerance);
        }
    }
}

TEST(PoleratRecovery, DcConductionIsCarriedByAPoleFarBelowTheBand) {
    const auto f = LogSpace(1e5, 1e10, 80);
    const double sigma = 1e-3;
    auto h = Debye(f, 4.0, {0.4}, {1e8});
    for (std::size_t i = 0; i < f.size(); ++i) h[i] += sigma / Cx(0.0, kTwoPi * f[i] * matmodel::kE0);
    Fit fit(f, OnePort(h));
    EXPECT_LE(fit.error, 1e-3);
    EXPECT_LT(-fit.record->pole_re[0], 1e-3 * kTwoPi * f.front());
    EXPECT_NEAR(fit.record->c[0][0] * fit.record->b[0][0] * matmodel::kE0 / sigma, 1.0, 1e-3);
}

TEST(PoleratOrder, PlantedSumsOverWideBandsMeetTheTargetWithFewPoles) {
    // Ten equal terms one every two decades over 20 decades: each added pole
    // fixes only its own part of the band, so the error falls slowly.
    const auto wide = LogSpace(1e-5, 1e15, 201);
    Fit ten(wide, OnePort(Debye(wide, 2.0, std::vector<double>(10, 0.1),
                                {1e-4, 1e-2, 1, 1e2, 1e4, 1e6, 1e8, 1e10, 1e12, 1e14})));
    EXPECT_LE(ten.error, 1e-3) << ten.log;
    EXPECT_LE(ten.Order(), 12);
    // Random sums of 1-15 terms over 3-20 decades, as the sweep draws them.
    const unsigned seed = 11;
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int k = 0; k < 40; ++k) {
        const int terms = 1 + static_cast<int>(15 * u(rng)) % 15;
        const double decades = 3.0 + 17.0 * u(rng), lo = std::pow(10.0, 6.0 * u(rng));
        std::vector<double> de, fk;
        for (int t = 0; t < terms; ++t) {
            de.push_back(std::pow(10.0, -2.0 + 3.0 * u(rng)));
            fk.push_back(lo * std::pow(10.0, decades * u(rng)));
        }
        const auto f = LogSpace(lo, lo * std::pow(10.0, decades), 201);
        Fit fit(f, OnePort(Debye(f, 1.0 + 4.0 * u(rng), de, fk)));
        EXPECT_LE(fit.error, 1e-3) << "seed " << seed << " case " << k << "\n" << fit.log;
        EXPECT_LE(fit.Order(), terms + 2) << "seed " << seed << " case " << k;
    }
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
    for (const auto& [freq, h] : {std::make_pair(sheet.Freq(), causal), std::make_pair(f, Wideband(f))}) {
        Fit automatic(freq, OnePort(h));
        ASSERT_LE(automatic.error, 1e-3);
        Settings fewer;
        fewer.fixedOrder = automatic.Order() - 1;
        EXPECT_GT(Fit(freq, OnePort(h), fewer).error, 1e-3) << automatic.Order() - 1 << " poles would do";
    }
}

TEST(PoleratAccuracy, WidebandModelIsFittedInDkAndDfAndNoiseStopsTheSearch) {
    const auto f = LogSpace(1e3, 1e11, 161);
    const auto clean = Wideband(f);
    Fit fit(f, OnePort(clean));
    EXPECT_LE(fit.Order(), 13);
    EXPECT_LE(WorstRelative(*fit.record, f, clean, Re), 1e-3);
    EXPECT_LE(WorstRelative(*fit.record, f, clean, LossTangent), 1e-2);
    // With 1 % noise in each part the search stops at the noise floor.
    Fit noisy(f, OnePort(Wideband(f, 0.01)));
    EXPECT_EQ(noisy.Termination(), 1) << noisy.log;
    EXPECT_LE(noisy.Order(), 9);
    EXPECT_LT(noisy.error, 0.02);
    ExpectStableAndPassive(*noisy.record);
}

TEST(PoleratPassivity, RandomNoisyDebyeMixturesGiveStablePassiveModels) {
    const unsigned seed = 4242;
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int trial = 0; trial < 30; ++trial) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", trial " + std::to_string(trial));
        const auto f = LogSpace(1e6, 1e11, 40 + static_cast<int>(60 * u(gen)));
        std::vector<double> de, fk;
        for (int k = 0; k < 1 + trial % 4; ++k) {
            de.push_back(2.0 * u(gen));
            fk.push_back(std::pow(10.0, 5.0 + 7.0 * u(gen)));
        }
        auto h = Debye(f, 2.0 + u(gen), de, fk);
        std::normal_distribution<double> noise(0.0, 0.002 + 0.05 * u(gen));
        for (auto& v : h) v = {v.real() * (1.0 + noise(gen)), v.imag() * (1.0 + std::fabs(noise(gen)))};
        Fit fit(f, OnePort(h));
        ExpectStableAndPassive(*fit.record);
    }
}

// What a Lorentz resonance at 5 GHz looks like: only complex pairs follow it.
std::vector<Cx> Resonance(const std::vector<double>& f) {
    const double w0 = kTwoPi * 5e9;
    std::vector<Cx> h;
    for (double x : f) h.push_back(2.0 + 0.5 * w0 * w0 / Cx(w0 * w0 - std::pow(kTwoPi * x, 2), kTwoPi * x * 0.1 * w0));
    return h;
}

std::vector<std::pair<double, std::string>> g_progress;
void RecordProgress(double fraction, const char* message) { g_progress.emplace_back(fraction, message); }

TEST(PoleratSettings, EveryArgumentAwayFromItsDefaultDoesWhatItSays) {
    const auto f = LogSpace(1e3, 1e11, 161);
    const auto clean = Wideband(f), noisy = Wideband(f, 0.01);
    Fit reference(f, OnePort(clean)), noisyReference(f, OnePort(noisy));
    const auto fr = LogSpace(1e8, 1e11, 200);
    const auto fd = LogSpace(1e6, 1e11, 120);
    struct Case {
        const char* name;
        std::function<void(Settings&)> set;
        const std::vector<double>& f;
        std::vector<Cx> h;
        std::function<void(const Fit&)> check;
    };
    const Case cases[] = {
        {"target", [](Settings& s) { s.target = 1e-2; }, f, clean,
         [&](const Fit& r) { EXPECT_LT(r.Order(), reference.Order()); EXPECT_LE(r.error, 1e-2); }},
        {"max order", [](Settings& s) { s.maxOrder = 3; }, f, clean,
         [](const Fit& r) { EXPECT_EQ(r.Order(), 3); EXPECT_EQ(r.Termination(), 2); }},
        {"min order", [](Settings& s) { s.minOrder = 6; }, fd, Debye(fd, 3.0, {1.0}, {1e9}),
         [](const Fit& r) { EXPECT_LE(r.error, 1e-9); EXPECT_LE(r.Order(), 6); }},
        {"fixed order", [](Settings& s) { s.fixedOrder = 7; }, f, clean,
         [](const Fit& r) { EXPECT_EQ(r.Order(), 7); EXPECT_EQ(r.Termination(), 3); }},
        {"iterations", [](Settings& s) { s.iterations = 1; }, f, clean,
         [](const Fit& r) { EXPECT_LE(r.error, 1e-3); }},
        {"complex pairs", [](Settings& s) { s.complexPairs = true; }, fr, Resonance(fr),
         [&](const Fit& r) {
             ASSERT_EQ(r.Order(), 2);
             EXPECT_GT(r.record->pole_im[0], 0.0);
             EXPECT_EQ(r.record->pole_im[1], -r.record->pole_im[0]);
             EXPECT_LE(WorstRelative(*r.record, fr, Resonance(fr), Re), 1e-7);
         }},
        {"no passivity", [](Settings& s) { s.passive = false; }, fd, Debye(fd, 3.0, {1.0, -0.3}, {1e8, 3e9}),
         [](const Fit& r) {
             EXPECT_LE(r.error, 1e-9);
             EXPECT_NEAR(r.record->c[0][1] * r.record->b[1][0] / (-0.3 * kTwoPi * 3e9), 1.0, 1e-7);
         }},
        {"weighting by magnitude", [](Settings& s) { s.weighting = 1; }, f, clean,
         [](const Fit& r) { EXPECT_LE(r.error, 1e-3); }},
        {"absolute weighting", [](Settings& s) { s.weighting = 2; s.target = 1e-3; }, f, clean,
         [](const Fit& r) { EXPECT_LE(r.error, 1e-3); }},
        {"no constant", [](Settings& s) { s.omitConstant = true; }, fd, Debye(fd, 0.0, {1.0, 2.0}, {1e8, 1e10}),
         [](const Fit& r) { EXPECT_EQ(r.record->d[0][0], 0.0); EXPECT_LE(r.error, 1e-9); }},
        {"weights", [](Settings& s) { s.weights.assign(161, 1.0); for (int i = 0; i < 80; ++i) s.weights[i] = 0.0; },
         f, clean, [&](const Fit& r) { EXPECT_LT(r.Order(), reference.Order()); }},
        {"progress", [](Settings& s) { s.progress = &RecordProgress; }, f, clean,
         [](const Fit&) {
             ASSERT_FALSE(g_progress.empty());
             for (std::size_t k = 1; k < g_progress.size(); ++k) EXPECT_GE(g_progress[k].first, g_progress[k - 1].first);
             EXPECT_EQ(g_progress.back(), std::make_pair(1.0, std::string("done")));
         }},
        {"stall ratio", [](Settings& s) { s.stallRatio = 0.5; }, f, noisy,
         [&](const Fit& r) { EXPECT_LE(r.Order(), noisyReference.Order()); }},
        {"verbose log", [](Settings& s) { s.verbose = true; }, f, clean,
         [](const Fit& r) { EXPECT_THAT(r.log, HasSubstr("relocation 1: error")); }},
        {"order step 2", [](Settings& s) { s.orderStep = 2; }, f, noisy,
         [](const Fit& r) { EXPECT_LT(r.error, 0.02); EXPECT_LE(r.Order(), 16); }},
        {"order step 5, capped", [](Settings& s) { s.orderStep = 5; s.maxOrder = 12; }, f, noisy,
         [](const Fit& r) { EXPECT_LE(r.Order(), 12); }},
        {"stall patience", [](Settings& s) { s.patience = 3; }, f, noisy,
         [&](const Fit& r) { EXPECT_LT(r.error, 0.02); EXPECT_EQ(r.Termination(), 1); }},
        {"complex start", [](Settings& s) { s.complexPairs = true; s.start = 2; }, fr, Resonance(fr),
         [](const Fit& r) { EXPECT_LE(r.error, 1e-6); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Settings s;
        c.set(s);
        g_progress.clear();
        Fit fit(c.f, OnePort(c.h), s);
        c.check(fit);
        ExpectStableAndPassive(*fit.record, s.passive);
        EXPECT_THAT(fit.log, HasSubstr("order " + std::to_string(fit.Order())));
    }
}

TEST(PoleratSettings, AMultiPortArraySharesItsPoles) {
    const auto f = LogSpace(1e6, 1e11, 80);
    const double p1 = -kTwoPi * 1e8, p2 = -kTwoPi * 5e9;
    const double r1[2][2] = {{1e8, -2e7}, {-2e7, 3e8}}, r2[2][2] = {{4e9, 1e9}, {1e9, 2e9}};
    const double d[2][2] = {{2.0, 0.1}, {0.1, 3.0}};
    const auto exact = [&](int p, int q, double x) {
        const Cx s(0.0, kTwoPi * x);
        return d[p][q] + r1[p][q] / (s - p1) + r2[p][q] / (s - p2);
    };
    PoleratSamples h(2, std::vector<std::vector<Cx>>(2));
    for (int p = 0; p < 2; ++p)
        for (int q = 0; q < 2; ++q)
            for (double x : f) h[p][q].push_back(exact(p, q, x));
    Settings s;
    s.passive = false;
    Fit fit(f, h, s);
    EXPECT_EQ(fit.Order(), 2);
    ASSERT_EQ(fit.record->pole_re.size(), 4u);  // one copy of the poles per input column
    for (int p = 0; p < 2; ++p)
        for (int q = 0; q < 2; ++q)
            for (double x : {1e7, 1e9, 3e10})
                EXPECT_NEAR(std::abs(Evaluate(*fit.record, x, p, q) - exact(p, q, x)) / std::abs(exact(p, q, x)), 0.0,
                            1e-9);
}

TEST(PoleratScale, ScaledSamplesGiveTheSameFit) {
    const auto f = LogSpace(1e3, 1e11, 161);
    const auto h = Wideband(f);
    Fit plain(f, OnePort(h));
    for (double scale : {1e-200, 1e90}) {
        std::vector<Cx> scaled;
        for (const Cx& v : h) scaled.push_back(v * scale);
        Fit fit(f, OnePort(scaled));
        EXPECT_EQ(fit.Order(), plain.Order()) << scale;
        EXPECT_NEAR(fit.error, plain.error, 1e-9) << scale;
        EXPECT_NEAR(fit.record->d[0][0] / scale, plain.record->d[0][0], 1e-9 * plain.record->d[0][0]);
    }
}

// Runs a fit expected to be refused: the sentence, and the earlier record untouched.
std::string Refusal(const std::vector<double>& f, const PoleratSamples& h, const Settings& s = {}) {
    Fit fit;
    fit.record = new polerat_data();
    fit.record->d = {{7.0}};
    polerat_data* before = fit.record;
    try {
        fit.Run(f, h, s);
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(fit.record, before);
        EXPECT_EQ(fit.record->d[0][0], 7.0);
        return e.what();
    }
    return "<accepted>";
}

TEST(PoleratErrors, BadInputAndSettingsAreRefusedWithASentenceNamingTheFault) {
    const std::vector<double> f{1e9, 2e9, 3e9};
    const auto h = OnePort({4.0, 3.9, 3.8});
    const double nan = std::nan("");
    const auto with = [](const std::function<void(Settings&)>& set) {
        Settings s;
        set(s);
        return s;
    };
    const std::pair<std::string, std::string> cases[] = {
        {Refusal({}, OnePort({})), "No samples to fit: the frequency list is empty."},
        {Refusal(f, OnePort({4.0, 3.9})), "There are 3 frequencies but 2 samples."},
        {Refusal(f, PoleratSamples{}), "The sample array is empty; it must hold P x P entries of 3 samples."},
        {Refusal(f, PoleratSamples(2, std::vector<std::vector<Cx>>(1, {4.0, 3.9, 3.8}))),
         "The sample array must be square: row 0 holds 1 entries, not 2."},
        {Refusal({1e9, -2e9, 3e9}, h), "The frequency at index 1 is negative (-2e+09 Hz)."},
        {Refusal({1e9, nan, 3e9}, h), "The frequency at index 1 is not a finite number."},
        {Refusal({1e-40, 2e9, 3e9}, h),
         "The frequency at index 0 (1e-40 Hz) lies outside the range a model can represent (1e-30 to 1e+30 Hz, or 0)."},
        {Refusal({1e9, 2e9, 2e9}, OnePort({4.0, 3.9, Cx(0.0, nan)})),
         "The sample at index 2 (2e+09 Hz) is not a finite number; the frequency 2e+09 Hz occurs more than once in "
         "the list."},
        {Refusal(f, OnePort({4.0, Cx(1e300, -1e290), 3.8})),
         "The sample at index 1 (2e+09 Hz) is too large to fit (magnitude 1e+300; at most 1e+100)."},
        {Refusal(f, OnePort({4.0, Cx(-3.9, -0.1), 3.8})),
         "The sample at index 1 (2e+09 Hz) has a negative real part (-3.9); a passive model with real poles only is "
         "never negative there."},
        {Refusal(f, OnePort({4.0, Cx(3.9, 0.02), 3.8})),
         "The sample at index 1 (2e+09 Hz) has a positive imaginary part (0.02, a gain); a passive model with real "
         "poles only has none."},
        {Refusal(f, h, with([](Settings& s) { s.weights = {1.0, 2.0}; })),
         "The weight list holds 2 values but there are 3 samples."},
        {Refusal(f, h, with([](Settings& s) { s.weights = {1.0, -2.0, 1.0}; })),
         "The weight at index 1 must be a finite number of at least 0; it is -2."},
        {Refusal(f, h, with([](Settings& s) { s.weights = {0.0, 0.0, 0.0}; })),
         "Every weight is zero: nothing would be fitted."},
        {Refusal(f, h, with([nan](Settings& s) { s.target = nan; })),
         "The target error must be a finite number of at least 0; it is nan."},
        {Refusal(f, h, with([](Settings& s) { s.maxOrder = 0; })), "The largest order must be at least 1; it is 0."},
        {Refusal(f, h, with([](Settings& s) { s.minOrder = 5; s.maxOrder = 4; })),
         "The starting order must lie between 1 and the largest order (4); it is 5."},
        {Refusal(f, h, with([](Settings& s) { s.fixedOrder = -1; })),
         "The fixed order must be 0 (automatic) or more; it is -1."},
        {Refusal(f, h, with([](Settings& s) { s.iterations = -1; })),
         "The number of iterations must be 0 (default) or more; it is -1."},
        {Refusal(f, h, with([](Settings& s) { s.weighting = 3; })), "The weighting must be 0, 1 or 2; it is 3."},
        {Refusal(f, h, with([](Settings& s) { s.orderStep = 0; })), "The order step must be at least 1; it is 0."},
        {Refusal(f, h, with([](Settings& s) { s.patience = 0; })), "The stall patience must be at least 1; it is 0."},
        {Refusal(f, h, with([](Settings& s) { s.stallRatio = 1.0; })), "The stall ratio must be below 1; it is 1."},
        {Refusal(f, h, with([](Settings& s) { s.start = 3; })),
         "The starting poles must be 1 (real) or 2 (complex pairs); it is 3."},
        {Refusal(f, h, with([](Settings& s) { s.start = 2; })), "Complex starting poles need complex pairs to be allowed."},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
    // Without the constraint, or with resonances allowed, such samples are data.
    Settings free;
    free.passive = false;
    EXPECT_TRUE(std::isfinite(Fit(f, OnePort({4.0, Cx(-3.9, 0.02), 3.8}), free).error));
}

TEST(PoleratEdges, TinyDegenerateAndRepeatedCallsStillGiveAModel) {
    Fit one({1e9}, OnePort({Cx(4.0, -0.08)}));
    EXPECT_NEAR(std::abs(Evaluate(*one.record, 1e9) - Cx(4.0, -0.08)), 0.0, 1e-9);
    Fit dc({0.0, 0.0}, OnePort({4.0, 4.2}));
    EXPECT_EQ(dc.Order(), 0);
    EXPECT_NEAR(dc.record->d[0][0], (1 / 4.0 + 1 / 4.2) / (1 / 16.0 + 1 / (4.2 * 4.2)), 1e-12);
    const auto f = LogSpace(1e6, 1e10, 30);
    Fit lossless(f, OnePort(std::vector<Cx>(f.size(), Cx(3.5, 0.0))));
    EXPECT_NEAR(Evaluate(*lossless.record, 1e8).real(), 3.5, 1e-9);
    ExpectStableAndPassive(*lossless.record);
    // A second run releases the first record (the sanitizer run would see a leak).
    lossless.Run(f, OnePort(Debye(f, 3.0, {1.0}, {1e9})));
    EXPECT_NEAR(lossless.record->d[0][0], 3.0, 1e-9);
}

TEST(FitPermittivity, SummarisesTheEngineAndMatchesFitData) {
    const auto f = LogSpace(1e3, 1e11, 161);
    std::vector<double> dk, df;
    for (const Cx& e : Wideband(f)) {
        dk.push_back(e.real());
        df.push_back(-e.imag() / e.real());
    }
    polerat_data* record = nullptr;
    matmodel::EngineSettings loose;
    loose.maxOrder = 4;
    const matmodel::EngineSummary capped = matmodel::FitPermittivity(f, dk, df, loose, record);
    EXPECT_EQ(capped.order, 4);
    EXPECT_FALSE(capped.targetMet);
    EXPECT_EQ(capped.reason, "the order reached its cap (or as many poles as the samples determine)");
    const matmodel::EngineSummary met = matmodel::FitPermittivity(f, dk, df, {}, record);
    EXPECT_TRUE(met.targetMet);
    EXPECT_EQ(met.reason, "the target was met");
    Probe m;
    m.SetInputData(4.0, 0.02, 1e9, 1e10, 0.0, 0.0);  // no reconstruction: the lists go to the engine as they are
    m.FitData();
    matmodel::FitPermittivity(m.Freq(), m.Dk(), m.Df(), {}, record);
    EXPECT_EQ(record->pole_re, m.Record()->pole_re);
    EXPECT_EQ(record->c, m.Record()->c);
    polerat_cleanup(record);
}

}  // namespace
