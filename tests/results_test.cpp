// Reading a fitted record: fitted Dk/Df, poles and residues, the constant term
// and the expression texts, checked against planted models.
#include <cmath>
#include <limits>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "expr_eval.h"
#include "records.h"

namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using Texts = std::pair<std::string, std::string>;  // Dk text, Df text

// Two evaluations of one rational function in double precision differ only by
// rounding, a few hundred ulps at most for these records.
constexpr double kSameModel = 1e-12;
// A written coefficient carries eight significant digits (relative error 5e-8),
// so a term may be off by a few times that much of its own size; errors are
// measured against the sum of the terms' magnitudes (the condition of the sum).
constexpr double kEightDigits = 2e-7;

// 0 Hz, then eight points a decade from 1 mHz to 10 THz: every catalog model
// from well below its slowest pole to well above its fastest.
Probe WithRecord(polerat_data* record, bool sweep = false) {
    std::vector<double> f;
    for (int k = -25; sweep && k <= 104; ++k) f.push_back(k < -24 ? 0.0 : std::pow(10.0, k / 8.0));
    Probe p;
    p.SetSamples(f, f, f);
    p.InstallRecord(record);
    return p;
}

Texts Write(const Probe& p, const std::string& variable = "F") {
    std::string df, dk;
    p.CreateExpressions(df, dk, variable);
    return {dk, df};
}

// Every reader and both texts describe `truth`; the table GetFittedData fills
// (holding rows of every shape first) gets one three-value row per frequency.
void ExpectReadersAgreeWith(const Probe& p, const PlantedModel& truth) {
    std::vector<Complex> poles(7), residues(1);  // sizes that must change
    p.GetPolesAndResidues(poles, residues);
    EXPECT_EQ(poles, truth.poles);
    ASSERT_EQ(residues.size(), truth.residues.size());
    for (std::size_t k = 0; k < residues.size(); ++k)
        EXPECT_LE(std::abs(residues[k] - truth.residues[k]),
                  kSameModel * std::abs(truth.residues[k]));
    EXPECT_EQ(p.GetResidueAtInfinity(), truth.d);

    DataTable fitted{{1.0}, {}, {1, 2, 3, 4, 5}};
    fitted.resize(p.Freq().size() + 3);
    p.GetFittedData(fitted);
    ASSERT_EQ(fitted.size(), p.Freq().size());
    const auto [dkText, dfText] = Write(p, "Freq");
    ExpressionEvaluator dkExpr(dkText, "Freq"), dfExpr(dfText, "Freq");
    for (std::size_t i = 0; i < fitted.size(); ++i) {
        const double f = p.Freq()[i];
        const Complex eps = truth.Eps(f), s(0.0, f * Probe::TwoPi);
        double reScale = std::fabs(truth.d), imScale = 0.0;
        for (std::size_t k = 0; k < truth.poles.size(); ++k) {
            const Complex term = truth.residues[k] / (s - truth.poles[k]);
            reScale += std::fabs(term.real());
            imScale += std::fabs(term.imag() / eps.real());
        }
        ASSERT_THAT(fitted[i], ElementsAre(f, ::testing::_, ::testing::_));
        EXPECT_NEAR(fitted[i][1], eps.real(), kSameModel * reScale) << f;
        EXPECT_NEAR(fitted[i][2], -eps.imag() / eps.real(), kSameModel * imScale) << f;
        EXPECT_NEAR(dkExpr(f), fitted[i][1], kEightDigits * reScale) << f;
        EXPECT_NEAR(dfExpr(f), fitted[i][2], kEightDigits * imScale) << f;
    }
}

TEST(FittedResults, PlantedModelsComeBackFromEveryReader) {
    for (const auto& [name, builder] : RecordCatalog()) {
        SCOPED_TRACE(name);
        ExpectReadersAgreeWith(WithRecord(builder.NewRecord(), true), builder.Model());
    }
    // No frequency, no row; a model without states is its constant d[0][0].
    ExpectReadersAgreeWith(WithRecord(ExampleRecord().NewRecord()), ExampleRecord().Model());
    ExpectReadersAgreeWith(WithRecord(new polerat_data{{}, {}, {}, {}, {{3.25, 8.0}, {9.0}}}, true),
                           {3.25, {}, {}});
}

TEST(FittedResults, EveryReaderRefusesWithoutAFitAndLeavesItsArguments) {
    auto* noConstant = ExampleRecord().NewRecord();  // a record whose d has no row
    noConstant->d.clear();
    for (const Probe& p : {WithRecord(nullptr, true), WithRecord(noConstant, true)}) {
        DataTable table{{7.0}, {8.0, 9.0}};
        std::vector<Complex> poles{{1.0, 2.0}}, residues{{3.0, 4.0}, {5.0, 6.0}};
        std::string df = "old df", dk = "old dk";
        const auto refused = ThrowsMessage<std::runtime_error>(StrEq("Must call FitData() first."));
        EXPECT_THAT([&] { p.GetFittedData(table); }, refused);
        EXPECT_THAT([&] { p.GetPolesAndResidues(poles, residues); }, refused);
        EXPECT_THAT([&] { p.GetResidueAtInfinity(); }, refused);
        EXPECT_THAT([&] { p.CreateExpressions(df, dk, "F"); },
                    ThrowsMessage<std::runtime_error>(
                        StrEq("Must FitData() before calling CreateExpressions()!")));
        EXPECT_EQ(table, (DataTable{{7.0}, {8.0, 9.0}}));
        EXPECT_THAT(poles, ElementsAre(Complex(1.0, 2.0)));
        EXPECT_THAT(residues, ElementsAre(Complex(3.0, 4.0), Complex(5.0, 6.0)));
        EXPECT_EQ(df + dk, "old dfold dk");
    }
}

TEST(PoleWalk, OnlyANonzeroImaginaryPartBeforeTheLastStateOpensAPair) {
    // State 2's own pole entries (1234, 99) belong to the pair of state 1 and are
    // never read; state 3 is real although its neighbour's pole_im is not zero.
    // Pair residue (b0 - j b1)(c0 + j c1) / 2 = (2 - j)(1 + 4j) / 2 = 3 + 3.5j.
    const PlantedModel inner{
        1.0, {{-1, 0}, {-2, 3}, {-2, -3}, {-4, 0}}, {{5, 0}, {3, 3.5}, {3, -3.5}, {1, 0}}};
    auto* record = new polerat_data{
        {-1, -2, 1234, -4}, {0, 3, 99, 0}, {{1}, {2}, {1}, {2}}, {{5, 1, 4, 0.5}}, {{1}}};
    ExpectReadersAgreeWith(WithRecord(record, true), inner);
    // A nonzero pole_im on the last state has no partner: a real pole.
    ExpectReadersAgreeWith(
        WithRecord(new polerat_data{{-1, -2}, {0, 5}, {{2}, {3}}, {{0.5, 2}}, {{1.5}}}, true),
        {1.5, {{-1, 0}, {-2, 0}}, {{1, 0}, {6, 0}}});
    // A NaN is not zero: it opens a pair too.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Complex> poles, residues;
    WithRecord(new polerat_data{{-1, 77, -3}, {nan, 0, 0}, {{1}, {1}, {1}}, {{1, 1, 2}}, {{1}}})
        .GetPolesAndResidues(poles, residues);
    EXPECT_TRUE(poles.size() == 3 && poles[1].real() == -1.0 && std::isnan(poles[1].imag()));
    EXPECT_EQ(residues.back(), Complex(2.0, 0.0));
}

// The texts as worked by hand, where the spelling is fixed.
const std::string kExampleDk =
    "2.5 + ( 1.6 - 6.3165468 * F^2 )/( 1.0 - 9.4748202 * F^2 + 62.341818 * F^4 ) "
    "+ 2 / ( 1.0 + 4.3864908 * F^2 )";
const std::string kExampleDf =
    "6.2831853*F*(0.0 + ( 0.24 + 3.1582734 * F^2 )/( 1.0 - 9.4748202 * F^2 + 62.341818 * F^4 ) "
    "+ ( 0.66666667 )/( 1.0 + 4.3864908 * F^2 )) / (" + kExampleDk + ")";

TEST(CreateExpressions, WritesTheWorkedExamplesExactly) {
    const double w = Probe::TwoPi * 1e9;  // a single Debye relaxation at 1 GHz
    auto* negated = ExampleRecord().NewRecord();  // every term changes sign
    for (auto& row : negated->b) row[0] = -row[0];
    negated->d[0][0] = -1.25;
    const std::string negatedDk =
        "-1.25 + ( -1.6 + 6.3165468 * F^2 )/( 1.0 - 9.4748202 * F^2 + 62.341818 * F^4 ) "
        "- 2 / ( 1.0 + 4.3864908 * F^2 )";
    EXPECT_EQ(Write(WithRecord(ExampleRecord().NewRecord())), Texts(kExampleDk, kExampleDf));
    EXPECT_EQ(Write(WithRecord(new polerat_data{{-w}, {0.0}, {{1.0}}, {{1.5 * w}}, {{4.0}}})),
              Texts("4 + 1.5 / ( 1.0 + 1e-18 * F^2 )",
                    "6.2831853*F*(0.0 + ( 2.3873241e-10 )/( 1.0 + 1e-18 * F^2 )) / "
                    "(4 + 1.5 / ( 1.0 + 1e-18 * F^2 ))"));
    EXPECT_EQ(Write(WithRecord(negated)),
              Texts(negatedDk,
                    "6.2831853*F*(0.0 + ( -0.24 - 3.1582734 * F^2 )/( 1.0 - 9.4748202 * F^2 + "
                    "62.341818 * F^4 ) + ( -0.66666667 )/( 1.0 + 4.3864908 * F^2 )) / (" +
                        negatedDk + ")"));
    // Eight significant digits in the shortest form; a model without states.
    for (const auto& [value, text] : std::vector<std::pair<double, std::string>>{
             {4.0, "4"}, {2.0 / 3.0, "0.66666667"}, {99999999.4, "99999999"}, {1e8, "1e+08"},
             {123456789.0, "1.2345679e+08"}, {0.0001, "0.0001"}, {9e-5, "9e-05"}, {-2.5, "-2.5"}})
        EXPECT_EQ(Write(WithRecord(new polerat_data{{}, {}, {}, {}, {{value}}})),
                  Texts(text, "6.2831853*F*(0.0) / (" + text + ")"));
}

// A locale that writes 1.234,5 for 1234.5.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(CreateExpressions, InsertsTheVariableVerbatimWhateverTheGlobalLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    std::ostringstream check;
    check << 1234.5;
    const Probe p = WithRecord(ExampleRecord().NewRecord());
    const Texts renamed = Write(p, "f [Hz]");
    std::string dfOut = "something long that must go", dkOut = "F";
    p.CreateExpressions(dfOut, dkOut, dkOut);  // outputs are replaced only at the end
    std::locale::global(previous);
    ASSERT_EQ(check.str(), "1.234,5") << "the test locale did not take effect";

    EXPECT_EQ(Texts(dkOut, dfOut), Texts(kExampleDk, kExampleDf));
    std::string dk = kExampleDk;
    for (std::size_t at = dk.find('F'); at != std::string::npos; at = dk.find('F', at + 6))
        dk.replace(at, 1, "f [Hz]");
    EXPECT_EQ(renamed.first, dk);
    EXPECT_EQ(renamed.second,
              "6.2831853*f [Hz]*(0.0 + ( 0.24 + 3.1582734 * f [Hz]^2 )/( 1.0 - 9.4748202 * f [Hz]^2 "
              "+ 62.341818 * f [Hz]^4 ) + ( 0.66666667 )/( 1.0 + 4.3864908 * f [Hz]^2 )) / (" +
                  dk + ")");
}

}  // namespace
