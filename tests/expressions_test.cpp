// The expression texts: exact spelling where it is fixed, and what a simulator
// computes from them everywhere else.
#include <algorithm>
#include <cmath>
#include <complex>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "expr_eval.h"
#include "probe.h"
#include "records.h"

namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr char kNotFitted[] = "Must FitData() before calling CreateExpressions()!";


const char kExampleDk[] =
    "2.5 + ( 1.6 - 6.3165468 * F^2 )/( 1.0 - 9.4748202 * F^2 + 62.341818 * F^4 ) "
    "+ 2 / ( 1.0 + 4.3864908 * F^2 )";
const char kExampleDf[] =
    "6.2831853*F*(0.0 + ( 0.24 + 3.1582734 * F^2 )/( 1.0 - 9.4748202 * F^2 + 62.341818 * F^4 ) "
    "+ ( 0.66666667 )/( 1.0 + 4.3864908 * F^2 )) / (2.5 + ( 1.6 - 6.3165468 * F^2 )/( 1.0 - "
    "9.4748202 * F^2 + 62.341818 * F^4 ) + 2 / ( 1.0 + 4.3864908 * F^2 ))";

struct Texts {
    std::string df;
    std::string dk;
};

Texts Write(const MaterialModeler& m, const std::string& variable = "F") {
    Texts t;
    m.CreateExpressions(t.df, t.dk, variable);
    return t;
}

TEST(CreateExpressions, WritesTheThreeStateExampleExactly) {
    Probe p;
    p.InstallRecord(ExampleRecord());
    const Texts t = Write(p);
    EXPECT_EQ(t.dk, kExampleDk);
    EXPECT_EQ(t.df, kExampleDf);
    // The real pole comes first in the record but after the pair in the text,
    // and the Dk text is the Df text's denominator verbatim.
    EXPECT_EQ(t.df.substr(t.df.size() - t.dk.size() - 1), t.dk + ")");

    EXPECT_NEAR(ExpressionEvaluator(t.dk, "F")(0.1), 6.1020326, 5e-8);
    EXPECT_NEAR(ExpressionEvaluator(t.df, "F")(0.1), 0.096441361, 5e-10);
}

TEST(CreateExpressions, WritesASingleDebyeRelaxationInExponentForm) {
    const double w = Probe::TwoPi * 1e9;
    auto* r = new polerat_data();
    r->pole_re = {-w};
    r->pole_im = {0.0};
    r->b = {{1.0}};
    r->c = {{1.5 * w}};
    r->d = {{4.0}};
    Probe p;
    p.InstallRecord(r);
    const Texts t = Write(p);
    EXPECT_EQ(t.dk, "4 + 1.5 / ( 1.0 + 1e-18 * F^2 )");
    EXPECT_EQ(t.df,
              "6.2831853*F*(0.0 + ( 2.3873241e-10 )/( 1.0 + 1e-18 * F^2 )) / (4 + 1.5 / ( 1.0 + "
              "1e-18 * F^2 ))");
    // At the relaxation frequency: Dk = 4 + 1.5/2, Df = 0.75 / 4.75.
    EXPECT_NEAR(ExpressionEvaluator(t.dk, "F")(1e9), 4.75, 1e-7);
    EXPECT_NEAR(ExpressionEvaluator(t.df, "F")(1e9), 0.75 / 4.75, 1e-8);
}

TEST(CreateExpressions, NegativeValuesCarryTheirSignWhereTheNumberGoes) {
    // The example record with b and d negated: every term changes sign.
    auto* r = ExampleRecord();
    for (auto& row : r->b) row[0] = -row[0];
    r->d[0][0] = -1.25;
    Probe p;
    p.InstallRecord(r);
    const Texts t = Write(p);
    const std::string dk =
        "-1.25 + ( -1.6 + 6.3165468 * F^2 )/( 1.0 - 9.4748202 * F^2 + 62.341818 * F^4 ) "
        "- 2 / ( 1.0 + 4.3864908 * F^2 )";
    EXPECT_EQ(t.dk, dk);
    EXPECT_EQ(t.df,
              "6.2831853*F*(0.0 + ( -0.24 - 3.1582734 * F^2 )/( 1.0 - 9.4748202 * F^2 + "
              "62.341818 * F^4 ) + ( -0.66666667 )/( 1.0 + 4.3864908 * F^2 )) / (" +
                  dk + ")");
}

TEST(CreateExpressions, AModelWithoutStatesIsItsConstant) {
    auto* r = new polerat_data();
    r->d = {{2.5}};
    Probe p;
    p.InstallRecord(r);
    const Texts t = Write(p);
    EXPECT_EQ(t.dk, "2.5");
    EXPECT_EQ(t.df, "6.2831853*F*(0.0) / (2.5)");
}

TEST(CreateExpressions, NumbersHaveEightSignificantDigitsInTheShortestForm) {
    const std::vector<std::pair<double, std::string>> cases = {
        {4.0, "4"},           {2.0 / 3.0, "0.66666667"}, {99999999.4, "99999999"},
        {1e8, "1e+08"},       {123456789.0, "1.2345679e+08"},
        {0.0001, "0.0001"},   {9e-5, "9e-05"},
    };
    for (const auto& [value, text] : cases) {
        auto* r = new polerat_data();
        r->d = {{value}};
        Probe p;
        p.InstallRecord(r);
        const Texts t = Write(p);
        EXPECT_EQ(t.dk, text) << value;
        EXPECT_EQ(t.df, "6.2831853*F*(0.0) / (" + text + ")") << value;
    }
}

TEST(CreateExpressions, TheVariableNameIsInsertedVerbatimEvenWhenEmpty) {
    Probe p;
    p.InstallRecord(ExampleRecord());
    // In the example texts every 'F' is the variable.
    const auto renamed = [](std::string text, const std::string& name) {
        for (std::size_t at = text.find('F'); at != std::string::npos;
             at = text.find('F', at + name.size()))
            text.replace(at, 1, name);
        return text;
    };
    for (const std::string name : {"", "Freq", "f [Hz]"}) {
        SCOPED_TRACE("variable '" + name + "'");
        const Texts t = Write(p, name);
        EXPECT_EQ(t.dk, renamed(kExampleDk, name));
        EXPECT_EQ(t.df, renamed(kExampleDf, name));
    }
}

TEST(CreateExpressions, RefusesWithoutAFitAndLeavesTheOutputs) {
    Probe noRecord;
    Probe noConstant;
    auto* unfinished = ExampleRecord();
    unfinished->d.clear();
    noConstant.InstallRecord(unfinished);
    for (const Probe* p : {&noRecord, &noConstant}) {
        std::string df = "old df";
        std::string dk = "old dk";
        EXPECT_THAT([&] { p->CreateExpressions(df, dk, "F"); },
                    ThrowsMessage<std::runtime_error>(StrEq(kNotFitted)));
        EXPECT_EQ(df, "old df");
        EXPECT_EQ(dk, "old dk");
    }
}

TEST(CreateExpressions, ReplacesTheOutputsAndMayTakeTheVariableFromOne) {
    Probe p;
    p.InstallRecord(ExampleRecord());
    std::string df = "something long that must go";
    std::string dk = "F";  // the variable name lives in the Dk output itself
    p.CreateExpressions(df, dk, dk);
    EXPECT_EQ(dk, kExampleDk);
    EXPECT_EQ(df, kExampleDf);
}

// A locale that writes 1.234,5 for 1234.5.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(CreateExpressions, NumberTextIgnoresTheGlobalLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    std::ostringstream probe;
    probe << 1234.5;
    const std::string underLocale = probe.str();

    Probe p;
    p.InstallRecord(ExampleRecord());
    const Texts t = Write(p);
    std::locale::global(previous);

    ASSERT_EQ(underLocale, "1.234,5") << "the test locale did not take effect";
    EXPECT_EQ(t.dk, kExampleDk);
    EXPECT_EQ(t.df, kExampleDf);
}

// Property: for models of several kinds, both texts evaluated by a parser give
// what GetFittedData gives and what d + sum r/(s - p) over GetPolesAndResidues
// gives, at every frequency of a wide sweep. A wrong sign, a swapped
// coefficient or a dropped term anywhere would show as an error of order one.
//
// Each written coefficient carries a relative error of at most 5e-8, so a term
// may be off by a few times that much of its own size. Where terms of opposite
// sign cancel, that is more than 5e-8 of the result; the error is therefore
// measured against the sum of the terms' magnitudes (the condition of the sum).
constexpr double kEightDigits = 2e-7;
// Between the reader and the pole-residue sum only double rounding differs.
constexpr double kSameModel = 1e-12;

// Scales for Dk and Df at one frequency: |d| + sum |Re term| and
// sum |Im term| / |Re eps|, over the model's pole-residue terms.
std::pair<double, double> ConditionScales(const PlantedModel& m, double freqHz) {
    const Complex s(0.0, freqHz * Probe::TwoPi);
    double re = std::fabs(m.d), im = 0.0;
    for (std::size_t k = 0; k < m.poles.size(); ++k) {
        const Complex term = m.residues[k] / (s - m.poles[k]);
        re += std::fabs(term.real());
        im += std::fabs(term.imag());
    }
    return {re, im / std::fabs(m.Eps(freqHz).real())};
}

TEST(CreateExpressionsProperty, TextsEvaluateToTheFittedCurveOfEveryModel) {
    const std::string variable = "Freq";
    for (const NamedRecord& r : RecordCatalog()) {
        SCOPED_TRACE(r.name);
        Probe p;
        const std::vector<double> freq = r.builder.Sweep(200);
        p.SetSamples(freq, freq, freq);
        p.InstallRecord(r.builder.NewRecord());

        DataTable fitted;
        p.GetFittedData(fitted);
        std::vector<Complex> poles, residues;
        p.GetPolesAndResidues(poles, residues);
        const PlantedModel sum{p.GetResidueAtInfinity(), poles, residues};
        const Texts t = Write(p, variable);
        ExpressionEvaluator dkText(t.dk, variable);
        ExpressionEvaluator dfText(t.df, variable);

        double worstDk = 0.0, worstDf = 0.0;
        for (std::size_t i = 0; i < freq.size(); ++i) {
            SCOPED_TRACE(freq[i]);
            const double dk = fitted[i][1];
            const double df = fitted[i][2];
            const Complex eps = sum.Eps(freq[i]);
            EXPECT_NEAR(eps.real(), dk, kSameModel * std::fabs(dk));
            EXPECT_NEAR(-eps.imag() / eps.real(), df, kSameModel * std::fabs(df));

            const auto [dkScale, dfScale] = ConditionScales(sum, freq[i]);
            if (freq[i] == 0.0) {
                EXPECT_EQ(dfText(freq[i]), 0.0);
                continue;
            }
            worstDk = std::max(worstDk, std::fabs(dkText(freq[i]) - dk) / dkScale);
            worstDf = std::max(worstDf, std::fabs(dfText(freq[i]) - df) / dfScale);
        }
        EXPECT_LT(worstDk, kEightDigits);
        EXPECT_LT(worstDf, kEightDigits);
    }
}

}  // namespace
