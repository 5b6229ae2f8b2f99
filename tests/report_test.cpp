// The model report: the model read as Debye terms, the passivity check, the
// single-point and table fits, and the JSON and CSV renderings.
#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "report/analysis.h"
#include "report/render.h"
#include "report/report.h"
#include "modeler/MaterialModeler.h"
#include "expr_eval.h"

namespace {

using matmodel::FitError;
using matmodel::InputError;
using matmodel::LossKind;
using matmodel::MaterialTable;
using matmodel::ModelReport;
using ::testing::HasSubstr;

using Complex = std::complex<double>;
constexpr double kTwoPi = 6.283185307179586;

// Expressions carry eight significant digits.
constexpr double kExpressionDigits = 1e-6;
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

// Samples of 3 + 0.4/(1 + j f/50 MHz) + 0.2/(1 + j f/5 GHz), 1 MHz to 50 GHz.
MaterialTable PlantedDebyeTable() {
    MaterialTable t;
    t.path = "planted";
    t.lossKind = LossKind::kLossTangent;
    const int n = 40;
    for (int i = 0; i < n; ++i) {
        const double f = 1e6 * std::pow(5e4, static_cast<double>(i) / (n - 1));
        const Complex eps = 3.0 + 0.4 / Complex(1.0, f / 50e6) + 0.2 / Complex(1.0, f / 5e9);
        t.freq.push_back(f);
        t.dk.push_back(eps.real());
        t.loss.push_back(-eps.imag() / eps.real());
        t.line.push_back(i + 1);
    }
    return t;
}

TEST(ModelReport, EvaluatesTheSingleDebyeRelaxationInClosedForm) {
    const ModelReport r = SingleDebye();
    // 4 + 1.5 / (1 + j) = 4.75 - 0.75 j at the relaxation frequency.
    const Complex at1GHz = matmodel::EvaluateModel(r, 1e9);
    EXPECT_NEAR(at1GHz.real(), 4.75, kSameModel);
    EXPECT_NEAR(at1GHz.imag(), -0.75, kSameModel);
    EXPECT_NEAR(matmodel::EvaluateModel(r, 0.0).real(), 5.5, kSameModel);
}

TEST(PassivityCheck, CoversZeroToFarAboveTheModelAndFindsNegativeLoss) {
    const matmodel::PassivityCheck ok = matmodel::CheckPassivity(SingleDebye());
    EXPECT_TRUE(ok.passive);
    EXPECT_EQ(ok.fromHz, 0.0);
    EXPECT_GE(ok.toHz, 1e12);  // three decades above both the pole and the samples
    EXPECT_GE(ok.minDf, 0.0);
    EXPECT_GT(ok.points, 300u);

    // A negative residue is a gain, not a loss: Df < 0 around its frequency.
    const matmodel::PassivityCheck gain = matmodel::CheckPassivity(SingleDebye(-0.2));
    EXPECT_FALSE(gain.passive);
    EXPECT_LT(gain.minDf, 0.0);
    EXPECT_GT(gain.minDfFreq, 1e8);
    EXPECT_LT(gain.minDfFreq, 1e10);

    // A complex pair whose residue has the wrong phase loses passivity on one
    // side of its resonance only.
    ModelReport pair = SingleDebye(0.0);
    const Complex p(-1e8, kTwoPi * 3e9), res(0.0, 5e8);
    pair.poles = {p, std::conj(p)};
    pair.residues = {res, std::conj(res)};
    const matmodel::PassivityCheck resonant = matmodel::CheckPassivity(pair);
    EXPECT_FALSE(resonant.passive);
    EXPECT_NEAR(std::log10(resonant.minDfFreq), std::log10(3e9), 0.2);

    // Dk must stay positive too.
    ModelReport negative = SingleDebye();
    negative.epsInf = -1.0;
    const matmodel::PassivityCheck dk = matmodel::CheckPassivity(negative);
    EXPECT_FALSE(dk.passive);
    EXPECT_LT(dk.minDk, 0.0);
}

TEST(ModelReport, DebyeTermsAndExpressionsDescribeTheFittedModel) {
    const ModelReport r = matmodel::FitMaterialTable(PlantedDebyeTable());
    ASSERT_EQ(r.rows.size(), 40u);
    EXPECT_TRUE(r.causalReconstruction);
    EXPECT_EQ(r.order, r.debye.size() + 2 * r.pairs.size());
    EXPECT_TRUE(r.passivity.passive);

    // The Debye reading of the poles is the same function as the poles.
    for (double f : {0.0, 1e5, 3e7, 2e9, 1e11}) {
        Complex eps = r.epsInf;
        for (const matmodel::DebyeTerm& t : r.debye)
            eps += t.deltaEps / Complex(1.0, f / t.relaxationHz);
        for (const matmodel::ComplexPair& c : r.pairs) {
            const Complex s(0.0, kTwoPi * f);
            eps += c.residue / (s - c.pole) + std::conj(c.residue) / (s - std::conj(c.pole));
        }
        const Complex model = matmodel::EvaluateModel(r, f);
        EXPECT_NEAR(std::abs(eps - model), 0.0, kSameModel * std::abs(model)) << f;
    }
    EXPECT_NEAR(r.staticDk, matmodel::EvaluateModel(r, 0.0).real(), kSameModel);
    for (std::size_t i = 1; i < r.debye.size(); ++i)
        EXPECT_LE(r.debye[i - 1].relaxationHz, r.debye[i].relaxationHz);

    // Planted causal data: the fit stays close to it (the reconstruction of Dk
    // from a band-limited loss is not exact, hence the loose bound).
    EXPECT_LT(r.dkError.relative, 0.02);
    EXPECT_LT(r.dfError.relative, 0.05);
    EXPECT_NEAR(r.staticDk, 3.6, 0.1);

    // The expressions, evaluated as a simulator would, give the fitted table.
    ExpressionEvaluator dk(r.dkExpression, "F"), df(r.dfExpression, "F");
    for (const matmodel::SampleRow& row : r.rows) {
        EXPECT_NEAR(dk(row.freq), row.dkFitted, kExpressionDigits * row.dkFitted) << row.freq;
        EXPECT_NEAR(df(row.freq), row.dfFitted, kExpressionDigits * row.dfFitted) << row.freq;
    }
}

TEST(SinglePoint, ReachesTheRequestedDcDk) {
    matmodel::SinglePoint p;
    p.dk = 4.0;
    p.df = 0.02;
    p.freq = 1e9;
    p.maxFreq = 1e10;
    // The default dc Dk is 1 + 10 Df times the high-frequency Dk, ~4.49.
    EXPECT_NEAR(matmodel::FitSinglePoint(p).staticDk, 4.489, 0.01);

    p.dcDk = 4.3;
    EXPECT_NEAR(matmodel::FitSinglePoint(p).staticDk, 4.3, 0.01);
}

TEST(SinglePoint, DcConductionIsReportedAsAConductivity) {
    matmodel::SinglePoint p;
    p.dk = 4.0;
    p.df = 0.02;
    p.freq = 1e9;
    p.maxFreq = 1e10;
    p.sigma = 1e-4;
    const matmodel::ModelReport r = matmodel::FitSinglePoint(p);
    EXPECT_NEAR(r.dcConductivity / 1e-4, 1.0, 1e-3);
    const auto conduction = std::count_if(r.debye.begin(), r.debye.end(),
                                          [](const matmodel::DebyeTerm& t) { return t.conduction; });
    EXPECT_EQ(conduction, 1);
    // Without the 1/s term the model's dc Dk is an ordinary permittivity.
    EXPECT_GT(r.staticDk, 3.5);
    EXPECT_LT(r.staticDk, 5.0);
    EXPECT_THAT(matmodel::ReportToText(r), HasSubstr("conduction   sigma 0.0001 S/m"));
    EXPECT_TRUE(r.passivity.passive);
}

TEST(SinglePoint, RefusesArgumentsWithoutAPhysicalModel) {
    auto messageOf = [](matmodel::SinglePoint p) -> std::string {
        try {
            matmodel::FitSinglePoint(p);
        } catch (const InputError& e) {
            return e.what();
        }
        return "";
    };
    const matmodel::SinglePoint good{4.0, 0.02, 1e9, 1e10, 0.0, 0.0};
    auto with = [&](auto change) {
        matmodel::SinglePoint p = good;
        change(p);
        return messageOf(p);
    };
    EXPECT_EQ(with([](auto& p) { p.dk = 0.5; }), "Dk 0.5 is below 1");
    EXPECT_EQ(with([](auto& p) { p.df = -0.1; }), "Df -0.1 is negative");
    EXPECT_EQ(with([](auto& p) { p.freq = 0.0; }), "the measurement frequency must be above 0 Hz");
    EXPECT_EQ(with([](auto& p) { p.sigma = std::nan(""); }),
              "every single-point value must be a finite number");
    EXPECT_EQ(with([](auto& p) { p.maxFreq = 2.0; }),
              "the maximum frequency 2 Hz gives fewer than 3 samples (the table starts at 1 Hz)");
    EXPECT_THAT(with([](auto& p) { p.dcDk = 3.0; }),
                HasSubstr("the single-point model has a negative loss tangent"));
}

TEST(ModelReport, SaysWhyAFitCollapsesOnLossTooHighForACausalModel) {
    // Df around 1: the Kramers-Kronig Dk of this band turns negative and the
    // passive fit has nothing left to match.
    MaterialTable t;
    t.path = "lossy";
    t.lossKind = LossKind::kLossTangent;
    t.freq = {1e8, 2e8, 5e8, 1e9, 2e9, 5e9, 1e10, 2e10};
    t.dk = {2.6, 2.57, 2.52, 2.49, 2.46, 2.42, 2.39, 2.35};
    t.loss = {1.38, 1.22, 1.03, 0.91, 0.8, 0.68, 0.6, 0.54};
    t.line = {1, 2, 3, 4, 5, 6, 7, 8};
    try {
        matmodel::FitMaterialTable(t);
        FAIL() << "the fit of a collapsing model was reported as a success";
    } catch (const FitError& e) {
        EXPECT_THAT(e.what(), HasSubstr("fit failed: The sample at index 6 (1e+10 Hz) has a negative real part"));
        EXPECT_THAT(e.what(), HasSubstr("; the Kramers-Kronig Dk falls to -"));
    }
}

TEST(ModelReport, HandsBackTheFittedModelerOnlyWhenTheFitSucceeds) {
    MaterialModeler fitted;
    const ModelReport r = matmodel::FitMaterialTable(PlantedDebyeTable(), {}, &fitted);
    std::vector<Complex> poles, residues;
    fitted.GetPolesAndResidues(poles, residues);
    EXPECT_EQ(poles, r.poles);
    EXPECT_EQ(residues, r.residues);
    std::string df, dk;
    fitted.CreateExpressions(df, dk, "F");
    EXPECT_EQ(dk, r.dkExpression);
    EXPECT_EQ(df, r.dfExpression);

    // A failed fit leaves the caller's modeler as it was.
    MaterialModeler untouched;
    MaterialTable lossy = PlantedDebyeTable();
    for (double& df : lossy.loss) df = 1.5;
    EXPECT_THROW(matmodel::FitMaterialTable(lossy, {}, &untouched), FitError);
    EXPECT_THROW(untouched.GetResidueAtInfinity(), std::runtime_error);
}

}  // namespace
