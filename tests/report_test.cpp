// The report: what a fitted model's numbers say (Debye terms, worst errors,
// passivity, steep loss), when a fit counts as failed and why, the user's
// options (target, order cap, measured Dk, conduction), the renderings, and
// the tool's job over many inputs.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fitting/constants.h"
#include "report/analysis.h"
#include "report/conduction.h"
#include "report/render.h"
#include "report/report.h"
#include "report/run.h"

namespace {

using namespace matmodel;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using Complex = std::complex<double>;
using json = nlohmann::json;

// Two evaluations of the same few-term rational function differ by rounding.
constexpr double kSameModel = 1e-12;

// What `call` threw.
template <typename Call>
std::string Failure(Call call) try { call(); return {}; } catch (const std::exception& e) { return e.what(); }

// A hand-made model: eps_inf 4 and these poles and residues, sampled at 100 MHz and 10 GHz.
ModelReport Model(std::vector<Complex> poles, std::vector<Complex> residues) {
    ModelReport r;
    r.epsInf = 4.0;
    r.poles = std::move(poles);
    r.residues = std::move(residues);
    r.rows = {{1e8, 5.0, 0.1, 5.0, 5.0, 0.1}, {1e10, 4.0, 0.1, 4.0, 4.0, 0.1}};
    return r;
}
constexpr double kGHz = kTwoPi * 1e9;  // rad/s

// A table of eps(f) at n log-spaced frequencies from lo to hi.
template <typename Eps>
MaterialTable Table(double lo, double hi, int n, Eps eps) {
    MaterialTable t;
    for (int i = 0; i < n; ++i) {
        t.freq.push_back(lo * std::pow(hi / lo, i / (n - 1.0)));
        t.dk.push_back(eps(t.freq.back()).real());
        t.loss.push_back(-eps(t.freq.back()).imag() / t.dk.back());
    }
    return t;
}

// 3 + 0.4/(1 + j f/50 MHz) + 0.2/(1 + j f/5 GHz), 1 MHz to 50 GHz.
const MaterialTable kPlanted =
    Table(1e6, 5e10, 40, [](double f) { return 3.0 + 0.4 / Complex(1.0, f / 50e6) + 0.2 / Complex(1.0, f / 5e9); });

// The numbers of each line of a CSV text (none for its header).
std::vector<std::vector<double>> Csv(std::istream&& in) {
    std::vector<std::vector<double>> rows;
    for (std::string line; std::getline(in, line);) {
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream fields(line);
        rows.emplace_back(std::istream_iterator<double>(fields), std::istream_iterator<double>());
    }
    return rows;
}

TEST(ModelAnalysis, DebyeTermsStaticDkConductionAndPassivityOfKnownModels) {
    // One Debye relaxation of 1.5 at 1 GHz: 4 + 1.5 / (1 + j) = 4.75 - 0.75 j there.
    EXPECT_NEAR(std::abs(EvaluateModel(Model({-kGHz}, {1.5 * kGHz}), 1e9) - Complex(4.75, -0.75)), 0.0, kSameModel);
    // With a pole far below the band, which counts as a conductivity, not as a Dk.
    ModelReport r = Model({-kGHz, -1e-3}, {1.5 * kGHz, 0.02 / kE0});
    Analyse(r);
    ASSERT_EQ(r.debye.size(), 2u);
    EXPECT_NEAR(r.debye[1].deltaEps, 1.5, kSameModel);
    EXPECT_NEAR(r.debye[1].relaxationHz, 1e9, 1e-3);
    EXPECT_NEAR(r.dcConductivity, 0.02, 1e-15);
    EXPECT_NEAR(r.staticDk, 5.5, kSameModel);
    EXPECT_TRUE(r.passivity.passive);
    EXPECT_GE(r.passivity.toHz, 1e13);  // three decades above both the pole and the samples
    // A negative residue is a gain: Df < 0 around its frequency; a pair whose
    // residue has the wrong phase loses passivity near its resonance.
    const PassivityCheck gain = CheckPassivity(Model({-kGHz}, {-0.3 * kGHz}));
    EXPECT_FALSE(gain.passive);
    EXPECT_NEAR(std::log10(gain.minDfFreq), 9.0, 1.0);
    const Complex p(-1e8, 3 * kGHz), res(0.0, 5e8);
    EXPECT_NEAR(std::log10(CheckPassivity(Model({p, std::conj(p)}, {res, std::conj(res)})).minDfFreq), std::log10(3e9), 0.2);
}

TEST(FitJudgement, AMissedFitFailsWithTheEnginesReasonAndWhatDefeatedIt) {
    // A thin film's THz data whose Df grows like f^2 over a decade: no sum of
    // relaxations follows a loss rising faster than f.
    MaterialTable film = Table(0.5e12, 5e12, 21, [](double f) { return Complex(3.3, -3.3 * 3e-4 * std::pow(f / 0.5e12, 2)); });
    for (std::size_t i = 0; i < film.dk.size(); ++i) film.dk[i] = 3.3 - 0.001 * static_cast<double>(i);
    EXPECT_THAT(Failure([&] { FitMaterialTable(film); }),
                MatchesRegex("fit failed: the model misses Dk by up to .* and Df by up to .*; the engine stopped at order .*"
                             "; the measured loss rises like f\\^2 from 500 GHz to 5 THz, faster than any sum of "
                             "relaxations can follow"));
    // A loss too high for a causal model: the engine refuses the negative Dk
    // the reconstruction made, and the report says where it came from.
    const MaterialTable lossy = Table(1e8, 2e10, 8, [](double) { return Complex(2.5, -2.5); });
    EXPECT_THAT(Failure([&] { FitMaterialTable(lossy); }),
                MatchesRegex("fit failed: .*has a negative real part.*; the Kramers-Kronig Dk falls to -.*"));
}

TEST(FitOptions, TargetOrderCapAndMeasuredDkShapeTheFit) {
    const ModelReport plain = FitMaterialTable(kPlanted);
    // A relaxation's loss falls toward dc and rises no faster than f: no
    // conduction to take out, no band the model cannot follow.
    EXPECT_EQ(plain.conduction.sigma, 0.0);
    EXPECT_TRUE(plain.steepLoss.empty());
    // Nor is a loss steep over a twentieth of a decade only a band: that is noise.
    std::vector<SampleRow> blip;
    for (double f = 1e9; f < 1.2e9; f *= 1.05) blip.push_back({f, 3.0, std::pow(std::min(f, 1.1e9) / 1e9, 2), 3.0, 3.0, 0.0});
    EXPECT_TRUE(FindSteepLoss(blip).empty());
    // A target on the largest Dk and Df error is met with as many poles as it needs.
    FitOptions options;
    options.targetError = 2e-3;
    const ModelReport tight = FitMaterialTable(kPlanted, options);
    EXPECT_LE(std::max(tight.dkError.relative, tight.dfError.relative), 2e-3);
    // A cap below what the data need: the engine says why, and the report passes it on.
    options.maxOrder = 1;
    options.targetError = 1e-4;
    EXPECT_THAT(Failure([&] { FitMaterialTable(kPlanted, options); }),
                MatchesRegex("fit failed: the model misses the target of 0\\.01 %: Dk by up to .*; the engine stopped at "
                             "order 1 with an RMS error of [0-9.]+ % \\(target 0\\.01 %\\): the order reached its cap "
                             "\\(or as many poles as the samples determine\\)"));
    // The measured Dk, fitted as it is, is what Dk is judged against.
    FitOptions measured;
    measured.measuredDk = true;
    const ModelReport asIs = FitMaterialTable(kPlanted, measured);
    for (const SampleRow& row : asIs.rows) EXPECT_EQ(row.dkCausal, row.dkMeasured);
    EXPECT_THAT(ReportToText(asIs), HasSubstr("the measured Dk fitted as given"));
}

TEST(Conduction, IsEstimatedTakenOutBeforeTheReconstructionAndPutBackInTheModel) {
    const double sigma = 2e-8;
    const MaterialTable ferrite = Table(10.0, 1e7, 61, [&](double f) {
        return 11.5 + 2.8 / Complex(1.0, f / 3e5) + 0.6 / Complex(1.0, f / 2e4) + sigma / Complex(0.0, kTwoPi * f * kE0);
    });
    const ModelReport r = FitMaterialTable(ferrite);
    EXPECT_NEAR(r.dcConductivity / sigma, 1.0, 0.01);
    // Df against the measured Df, conduction included.
    EXPECT_LE(std::max(r.dkError.relative, r.dfError.relative), 0.01);
    EXPECT_NEAR(r.staticDk, 14.9, 0.05);
    // A given sigma too large for the data is lowered so that no loss turns negative.
    FitOptions tooMuch;
    tooMuch.sigma = 10 * sigma;
    EXPECT_THAT(ReportToText(FitMaterialTable(ferrite, tooMuch)),
                MatchesRegex(".*\n  conduction   sigma [0-9.]+e-08 S/m taken out before the fit \\(given\\); lowered from "
                             "2e-07 S/m, which would leave a negative loss\n.*"));
    // The estimate tells conduction from a relaxation's tail below its peak: loss = sigma / (w e0) + beta w.
    std::vector<double> f = {10, 20, 40, 80, 160}, dk(5, 4.0), df;
    for (double x : f) df.push_back((sigma / (kTwoPi * x * kE0) + 1e-3 * kTwoPi * x) / 4.0);
    EXPECT_NEAR(ChooseConduction(f, dk, df, std::nullopt).sigma / sigma, 1.0, 1e-9);
}

TEST(SinglePoint, DcDkConductionAndRefusals) {
    // The conductivity and the dc Dk reach the modeler.
    const ModelReport r = FitSinglePoint({4.0, 0.02, 1e9, 1e10, 1e-4, 4.3});
    EXPECT_NEAR(r.staticDk, 4.3, 0.01);
    EXPECT_NEAR(r.dcConductivity / 1e-4, 1.0, 1e-3);
    const std::pair<SinglePoint, const char*> refused[] = {
        {{0.5, 0.02, 1e9, 1e10, 0, 0}, "Dk 0.5 is below 1"},
        {{4, -0.1, 1e9, 1e10, 0, 0}, "Df -0.1 is negative"},
        {{4, 0.02, 0, 1e10, 0, 0}, "the measurement frequency must be above 0 Hz"},
        {{4, 0.02, 1e9, 1e10, -1, 0}, "the conductivity -1 is negative"},
        {{4, 0.02, 1e9, 1e10, 0, 0.5}, "the dc Dk 0.5 is below 1 (0 selects the default)"},
        {{4, 0.02, 1e9, 1e10, NAN, 0}, "every single-point value must be a finite number"},
        {{4, 0.02, 1e9, 2, 0, 0}, "the maximum frequency 2 Hz gives fewer than 3 samples (the table starts at 1 Hz)"},
        {{4, 0.02, 1e9, 1e10, 0, 3}, "the single-point model has a negative loss tangent ("},
    };
    for (const auto& [q, why] : refused) EXPECT_THAT(Failure([&p = q] { FitSinglePoint(p); }), ::testing::StartsWith(why));
}

TEST(Renderings, JsonAndCsvCarryTheReportsOwnNumbers) {
    const ModelReport r = FitMaterialTable(kPlanted);
    const json doc = json::parse(ReportToJson(r, {{"plot", "x.svg"}}));
    EXPECT_EQ(json({doc["status"], doc["model"]["order"], doc["model"]["residue_at_infinity"],
                    doc["errors"]["df_max_relative"], doc["engine"]["stopped"], doc["expressions"]["dk"], doc["outputs"]}),
              json({"ok", r.order, r.epsInf, r.dfError.relative, r.engine.reason, r.dkExpression, {{"plot", "x.svg"}}}));
    // The CSV reads back to the same numbers, row for row.
    EXPECT_THAT(ReportToCsv(r), ::testing::StartsWith("frequency_hz,dk_measured,df_measured,dk_causal,dk_fitted,df_fitted\n"));
    std::vector<std::vector<double>> rows = {{}};
    for (const SampleRow& s : r.rows) rows.push_back({s.freq, s.dkMeasured, s.dfMeasured, s.dkCausal, s.dkFitted, s.dfFitted});
    EXPECT_EQ(Csv(std::istringstream(ReportToCsv(r))), rows);
}

TEST(ToolJob, ThreadsGiveTheSerialReportsInInputOrderAndOutputsAreCheckedFirst) {
    const std::string dir = std::filesystem::temp_directory_path() / ("matmodel-job-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    Job job;
    for (const char* dk : {"3.9", "3.8", "x", "3.6", "3.5"}) {
        job.files.push_back(dir + "/" + dk + ".txt");
        std::ofstream(job.files.back()) << "1e9 4.0 0.01\n2e9 " << dk << " 0.011\n4e9 3.4 0.012\n";
    }
    job.outputs.evalOut = dir + "/{}-eval.csv";
    job.outputs.eval = ParseEvaluation("1GHz:4GHz:3");
    std::ostringstream serialOut, serialErr, threadedOut, threadedErr;
    EXPECT_EQ(RunJob(job, serialOut, serialErr), kExitBadInput);
    job.jobs = 3;
    EXPECT_EQ(RunJob(job, threadedOut, threadedErr), kExitBadInput);
    EXPECT_EQ(threadedOut.str(), serialOut.str());
    EXPECT_EQ(threadedErr.str(), job.files[2] + ":2: Dk \"x\" is not a number in \"2e9 x 0.011\"\n");
    // The model evaluated where asked: at 1, 2 and 4 GHz, after a header.
    const ModelReport first = FitMaterialTable(ReadMaterialFile(job.files[0], {}));
    const std::vector<std::vector<double>> eval = Csv(std::ifstream(dir + "/3.9-eval.csv"));
    for (std::size_t i = 1; i < 4; ++i) {
        const Complex eps = EvaluateModel(first, eval.at(i).at(0));
        EXPECT_NEAR(eval[i][0] / (0.5e9 * std::pow(2.0, i)), 1.0, kSameModel);
        EXPECT_EQ(eval[i], (std::vector<double>{eval[i][0], eps.real(), -eps.imag() / eps.real()}));
    }
    // Output names that would clash are refused before anything is read.
    job.outputs.table = dir + "/t.csv";
    EXPECT_THAT(Failure([&] { RunJob(job, serialOut, serialErr); }), HasSubstr("an output name must contain {}"));
    job.outputs.table = job.outputs.evalOut;
    EXPECT_THAT(Failure([&] { RunJob(job, serialOut, serialErr); }), HasSubstr("would be written twice"));
    std::filesystem::remove_all(dir);
}

}  // namespace
