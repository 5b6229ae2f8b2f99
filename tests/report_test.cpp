// The report: what a fitted model's numbers say (Debye terms, worst errors,
// passivity, steep loss), when a fit counts as failed and why, the user's
// options (target, order cap, measured Dk, conduction), the renderings, and
// the tool's job over many inputs.
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fitting/constants.h"
#include "io/number_text.h"
#include "modeler/MaterialModeler.h"
#include "report/analysis.h"
#include "report/render.h"
#include "report/report.h"
#include "report/run.h"

namespace {

using matmodel::FitError;
using matmodel::FitOptions;
using matmodel::LossKind;
using matmodel::MaterialTable;
using matmodel::ModelReport;
using matmodel::kTwoPi;
using ::testing::HasSubstr;
using Complex = std::complex<double>;

// Two evaluations of the same few-term rational function differ by rounding.
constexpr double kSameModel = 1e-12;

// A hand-made model: eps_inf 4 and one Debye relaxation of 1.5 at 1 GHz.
ModelReport SingleDebye(double residueScale = 1.0) {
    ModelReport r;
    r.epsInf = 4.0;
    r.poles = {Complex(-kTwoPi * 1e9, 0.0)};
    r.residues = {Complex(residueScale * 1.5 * kTwoPi * 1e9, 0.0)};
    r.rows = {{1e8, 5.0, 0.1, 5.0, 5.0, 0.1}, {1e10, 4.0, 0.1, 4.0, 4.0, 0.1}};
    return r;
}

// A table of eps(f) at n log-spaced frequencies from lo to hi.
template <typename Eps>
MaterialTable Table(double lo, double hi, int n, Eps eps) {
    MaterialTable t;
    t.path = "planted";
    t.lossKind = LossKind::kLossTangent;
    for (int i = 0; i < n; ++i) {
        const double f = lo * std::pow(hi / lo, static_cast<double>(i) / (n - 1));
        const Complex e = eps(f);
        t.freq.push_back(f);
        t.dk.push_back(e.real());
        t.loss.push_back(-e.imag() / e.real());
        t.line.push_back(i + 1);
    }
    return t;
}

// 3 + 0.4/(1 + j f/50 MHz) + 0.2/(1 + j f/5 GHz), 1 MHz to 50 GHz.
MaterialTable PlantedDebyeTable() {
    return Table(1e6, 5e10, 40, [](double f) { return 3.0 + 0.4 / Complex(1.0, f / 50e6) + 0.2 / Complex(1.0, f / 5e9); });
}

// A thin film's THz data whose Df grows like f^2 over a decade: no sum of
// relaxations follows a loss rising faster than f.
MaterialTable SteepLossFilm() {
    MaterialTable t = Table(0.5e12, 5e12, 21, [](double f) { return Complex(3.3, -3.3 * 3e-4 * std::pow(f / 0.5e12, 2)); });
    for (std::size_t i = 0; i < t.dk.size(); ++i) t.dk[i] = 3.3 - 0.001 * static_cast<double>(i);
    return t;
}

std::string FitFailure(const MaterialTable& t, const FitOptions& options = {}) {
    try {
        matmodel::FitMaterialTable(t, options);
    } catch (const FitError& e) {
        return e.what();
    }
    return "<fitted>";
}

TEST(ModelAnalysis, DebyeTermsStaticDkAndPassivityOfAKnownModel) {
    ModelReport r = SingleDebye();
    // 4 + 1.5 / (1 + j) = 4.75 - 0.75 j at the relaxation frequency.
    EXPECT_NEAR(std::abs(matmodel::EvaluateModel(r, 1e9) - Complex(4.75, -0.75)), 0.0, kSameModel);
    matmodel::Analyse(r);
    ASSERT_EQ(r.debye.size(), 1u);
    EXPECT_NEAR(r.debye[0].deltaEps, 1.5, kSameModel);
    EXPECT_NEAR(r.debye[0].relaxationHz, 1e9, 1e-3);
    EXPECT_NEAR(r.staticDk, 5.5, kSameModel);
    EXPECT_TRUE(r.passivity.passive);
    EXPECT_EQ(r.passivity.fromHz, 0.0);
    EXPECT_GE(r.passivity.toHz, 1e12);  // three decades above both the pole and the samples
    // A negative residue is a gain: Df < 0 around its frequency.
    const auto gain = matmodel::CheckPassivity(SingleDebye(-0.2));
    EXPECT_FALSE(gain.passive);
    EXPECT_GT(gain.minDfFreq, 1e8);
    EXPECT_LT(gain.minDfFreq, 1e10);
    // A pair whose residue has the wrong phase loses passivity near its resonance.
    ModelReport pair = SingleDebye(0.0);
    const Complex p(-1e8, kTwoPi * 3e9), res(0.0, 5e8);
    pair.poles = {p, std::conj(p)};
    pair.residues = {res, std::conj(res)};
    EXPECT_NEAR(std::log10(matmodel::CheckPassivity(pair).minDfFreq), std::log10(3e9), 0.2);
    // A conduction pole far below the band counts as a conductivity, not a Dk.
    ModelReport conductive = SingleDebye();
    conductive.poles.push_back({-1e-3, 0.0});
    conductive.residues.push_back({0.02 / matmodel::kE0, 0.0});
    matmodel::Analyse(conductive);
    EXPECT_NEAR(conductive.dcConductivity, 0.02, 1e-15);
    EXPECT_NEAR(conductive.staticDk, 5.5, kSameModel);
}

TEST(ModelAnalysis, NamesABandWhereTheLossRisesFasterThanF) {
    ModelReport r;
    for (double f = 1e9; f < 2e11; f *= 1.1) {
        const double df = f < 1e10 ? 1e-3 * f / 1e9 : 1e-2 * std::pow(f / 1e10, 2.5);
        r.rows.push_back({f, 3.0, df, 3.0, 3.0, df});
    }
    const auto bands = matmodel::FindSteepLoss(r.rows);
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_NEAR(std::log10(bands[0].fromHz), 10.0, 0.05);
    EXPECT_NEAR(bands[0].exponent, 2.5, 0.05);
    EXPECT_EQ(matmodel::SteepLossNote({1e12, 1e13, 2.0}),
              "the measured loss rises like f^2 from 1 THz to 10 THz, faster than any sum of relaxations can follow");
    // Loss rising like f (a relaxation's low side) is no such band.
    for (auto& row : r.rows) row.dfMeasured = 1e-3 * row.freq / 1e9;
    EXPECT_TRUE(matmodel::FindSteepLoss(r.rows).empty());
}

TEST(FitJudgement, AMissedDfFailsWithTheEnginesReasonAndTheSteepBand) {
    const std::string why = FitFailure(SteepLossFilm());
    EXPECT_THAT(why, HasSubstr("fit failed: the model misses Dk by up to "));
    EXPECT_THAT(why, HasSubstr(" and Df by up to "));
    EXPECT_THAT(why, HasSubstr("; the engine stopped at order "));
    EXPECT_THAT(why, HasSubstr("; the measured loss rises like f^2 from 500 GHz to 5 THz"));
    // A loss too high for a causal model: the engine refuses the negative Dk
    // the reconstruction made, and the report says where it came from.
    MaterialTable lossy = Table(1e8, 2e10, 8, [](double) { return Complex(2.5, -2.5); });
    EXPECT_THAT(FitFailure(lossy), HasSubstr("has a negative real part"));
    EXPECT_THAT(FitFailure(lossy), HasSubstr("; the Kramers-Kronig Dk falls to -"));
}

TEST(FitOptions, TargetOrderCapAndMeasuredDkShapeTheFit) {
    const MaterialTable t = PlantedDebyeTable();
    const ModelReport plain = matmodel::FitMaterialTable(t);
    EXPECT_TRUE(plain.causalReconstruction);
    EXPECT_TRUE(plain.engine.targetMet);
    // A target on the largest Dk and Df error is met with as many poles as it needs.
    FitOptions target;
    target.targetError = 2e-3;
    const ModelReport tight = matmodel::FitMaterialTable(t, target);
    EXPECT_LE(tight.dkError.relative, 2e-3);
    EXPECT_LE(tight.dfError.relative, 2e-3);
    target.targetError = 0.05;
    EXPECT_LE(matmodel::FitMaterialTable(t, target).order, plain.order);
    // A cap below what the data need: the engine says why, and the report passes it on.
    FitOptions capped;
    capped.maxOrder = 1;
    capped.targetError = 1e-4;
    EXPECT_THAT(FitFailure(t, capped),
                HasSubstr("misses the target of 0.01 %: Dk by up to "));
    capped.targetError = 0.0;
    EXPECT_THAT(FitFailure(t, capped),
                HasSubstr("; the engine stopped at order 1 with an RMS error of 40 % (target 0.1 %): the order "
                          "reached its cap (or as many poles as the samples determine)"));
    // The measured Dk, fitted as it is, is what Dk is judged against.
    FitOptions measured;
    measured.measuredDk = true;
    const ModelReport asIs = matmodel::FitMaterialTable(t, measured);
    EXPECT_FALSE(asIs.causalReconstruction);
    for (const auto& row : asIs.rows) EXPECT_EQ(row.dkCausal, row.dkMeasured);
    EXPECT_THAT(matmodel::ReportToText(asIs), HasSubstr("the measured Dk fitted as given"));
}

TEST(Conduction, IsTakenOutBeforeTheReconstructionAndPutBackInTheModel) {
    const double sigma = 2e-8;
    const auto eps = [&](double f) {
        return 11.5 + 2.8 / Complex(1.0, f / 3e5) + 0.6 / Complex(1.0, f / 2e4) +
               sigma / Complex(0.0, kTwoPi * f * matmodel::kE0);
    };
    const MaterialTable ferrite = Table(10.0, 1e7, 61, eps);
    const ModelReport r = matmodel::FitMaterialTable(ferrite);
    EXPECT_NEAR(r.conduction.sigma / sigma, 1.0, 0.01);
    EXPECT_FALSE(r.conduction.given);
    EXPECT_NEAR(r.dcConductivity / sigma, 1.0, 0.01);
    EXPECT_LE(r.dkError.relative, 0.01);
    EXPECT_LE(r.dfError.relative, 0.01);  // against the measured Df, conduction included
    EXPECT_NEAR(r.staticDk, 14.9, 0.05);
    // A given sigma too large for the data is lowered so that no loss turns negative.
    FitOptions tooMuch;
    tooMuch.sigma = 10 * sigma;
    const ModelReport lowered = matmodel::FitMaterialTable(ferrite, tooMuch);
    EXPECT_TRUE(lowered.conduction.Lowered());
    EXPECT_THAT(matmodel::ReportToText(lowered),
                HasSubstr("  conduction   sigma " + matmodel::FormatGeneral(lowered.conduction.sigma, 4) +
                          " S/m taken out before the fit (given); lowered from 2e-07 S/m, which would leave a "
                          "negative loss"));
    // A loss that falls toward dc has no conduction to take out.
    EXPECT_EQ(matmodel::FitMaterialTable(PlantedDebyeTable()).conduction.sigma, 0.0);
}

TEST(SinglePoint, DcDkConductionAndRefusals) {
    matmodel::SinglePoint p{4.0, 0.02, 1e9, 1e10, 0.0, 0.0};
    // The default dc Dk is 1 + 10 Df times the high-frequency Dk, ~4.49.
    EXPECT_NEAR(matmodel::FitSinglePoint(p).staticDk, 4.489, 0.01);
    p.dcDk = 4.3;
    EXPECT_NEAR(matmodel::FitSinglePoint(p).staticDk, 4.3, 0.01);
    p.sigma = 1e-4;
    EXPECT_NEAR(matmodel::FitSinglePoint(p).dcConductivity / 1e-4, 1.0, 1e-3);
    const auto refusal = [](auto change) -> std::string {
        matmodel::SinglePoint q{4.0, 0.02, 1e9, 1e10, 0.0, 0.0};
        change(q);
        try {
            matmodel::FitSinglePoint(q);
        } catch (const matmodel::InputError& e) {
            return e.what();
        }
        return "<fitted>";
    };
    EXPECT_EQ(refusal([](auto& q) { q.dk = 0.5; }), "Dk 0.5 is below 1");
    EXPECT_EQ(refusal([](auto& q) { q.df = -0.1; }), "Df -0.1 is negative");
    EXPECT_EQ(refusal([](auto& q) { q.freq = 0.0; }), "the measurement frequency must be above 0 Hz");
    EXPECT_EQ(refusal([](auto& q) { q.sigma = std::nan(""); }), "every single-point value must be a finite number");
    EXPECT_EQ(refusal([](auto& q) { q.maxFreq = 2.0; }),
              "the maximum frequency 2 Hz gives fewer than 3 samples (the table starts at 1 Hz)");
    EXPECT_THAT(refusal([](auto& q) { q.dcDk = 3.0; }), HasSubstr("the single-point model has a negative loss tangent"));
}

TEST(Renderings, JsonAndCsvCarryTheReportsOwnNumbers) {
    MaterialModeler fitted;
    FitOptions options;
    options.variable = "F";
    const ModelReport r = matmodel::FitMaterialTable(PlantedDebyeTable(), options, &fitted);
    const auto doc = nlohmann::json::parse(matmodel::ReportToJson(r, {{"plot", "x.svg"}}));
    EXPECT_EQ(doc["status"], "ok");
    EXPECT_EQ(doc["model"]["order"], r.order);
    EXPECT_EQ(doc["model"]["residue_at_infinity"].get<double>(), r.epsInf);
    EXPECT_EQ(doc["errors"]["df_max_relative"].get<double>(), r.dfError.relative);
    EXPECT_EQ(doc["engine"]["stopped"], r.engine.reason);
    EXPECT_EQ(doc["expressions"]["dk"], r.dkExpression);
    EXPECT_EQ(doc["outputs"]["plot"], "x.svg");
    // The CSV reads back to the same numbers, row for row.
    std::istringstream csv(matmodel::ReportToCsv(r));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "frequency_hz,dk_measured,df_measured,dk_causal,dk_fitted,df_fitted");
    for (const auto& row : r.rows) {
        std::getline(csv, line);
        std::vector<double> v;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) v.push_back(*matmodel::ParseNumber(field));
        EXPECT_EQ(v, (std::vector<double>{row.freq, row.dkMeasured, row.dfMeasured, row.dkCausal, row.dkFitted,
                                          row.dfFitted}));
    }
    // The fitted modeler handed back is the report's model.
    std::string df, dk;
    fitted.CreateExpressions(df, dk, "F");
    EXPECT_EQ(dk, r.dkExpression);
    EXPECT_EQ(nlohmann::json::parse(matmodel::ErrorToJson("f.txt", "bad_input", "f.txt:3: oops", 3, "1 2"))["error"],
              (nlohmann::json{{"message", "f.txt:3: oops"}, {"line", 3}, {"text", "1 2"}}));
}

// Files written for the job, removed afterwards.
struct Scratch {
    std::vector<std::string> paths;
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = ::testing::TempDir() + name;
        std::ofstream(path) << text;
        paths.push_back(path);
        return path;
    }
    ~Scratch() {
        for (const auto& p : paths) std::remove(p.c_str());
    }
};

TEST(ToolJob, ThreadsGiveTheSerialReportsInInputOrderAndRankTheStatus) {
    Scratch scratch;
    matmodel::Job job;
    for (int k = 0; k < 6; ++k)
        job.files.push_back(scratch.Write("job" + std::to_string(k) + ".txt",
                                          k == 3 ? "1e9 3.9 0.01\n2e9 x 0.01\n"
                                                 : "1e9 3." + std::to_string(9 - k) + " 0.01\n2e9 3.8 0.011\n4e9 3.7 0.012\n"));
    job.outputs.evalOut = ::testing::TempDir() + "{}-eval.csv";
    job.outputs.eval = matmodel::ParseEvaluation("1GHz:4GHz:3");
    std::ostringstream serialOut, serialErr, threadedOut, threadedErr;
    EXPECT_EQ(matmodel::RunJob(job, serialOut, serialErr), matmodel::kExitBadInput);
    job.jobs = 3;
    EXPECT_EQ(matmodel::RunJob(job, threadedOut, threadedErr), matmodel::kExitBadInput);
    EXPECT_EQ(threadedOut.str(), serialOut.str());
    EXPECT_EQ(threadedErr.str(), job.files[3] + ":2: Dk \"x\" is not a number in \"2e9 x 0.01\"\n");
    std::ifstream eval(::testing::TempDir() + "job0-eval.csv");
    std::string header, first;
    std::getline(eval, header);
    std::getline(eval, first);
    EXPECT_EQ(header, "frequency_hz,dk,df");
    EXPECT_THAT(first, ::testing::StartsWith("1e+09,"));
    for (int k : {0, 1, 2, 4, 5}) std::remove((::testing::TempDir() + "job" + std::to_string(k) + "-eval.csv").c_str());
    // Names that would clash are refused before anything is read.
    job.outputs.evalOut = ::testing::TempDir() + "same.csv";
    job.outputs.table = job.outputs.evalOut;
    EXPECT_THROW(matmodel::RunJob(job, serialOut, serialErr), matmodel::UsageError);
    EXPECT_THROW(matmodel::ParseEvaluation("1e9:2e9"), matmodel::UsageError);
}

}  // namespace
