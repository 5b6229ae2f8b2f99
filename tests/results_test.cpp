// Reading a fitted record: fitted Dk/Df, poles and residues, constant term.
#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "probe.h"
#include "records.h"

namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr char kNotFitted[] = "Must call FitData() first.";

// Two evaluations of the same rational function in double precision differ
// only by rounding; a few hundred ulps covers the longest records here.
constexpr double kSameModel = 1e-13;


// Worked by hand from the record: 6/(s+3) from the real pole; the pair gives
// c0((s+1) b0 + 2 b1) = 2s + 8 over (s+1)^2 + 4.
Complex ExampleEps(double freqHz) {
    const Complex s(0.0, freqHz * Probe::TwoPi);
    return 2.5 + 6.0 / (s + 3.0) + (2.0 * s + 8.0) / (s * s + 2.0 * s + 5.0);
}

void ExpectNearRelative(double actual, double expected, double tol) {
    EXPECT_NEAR(actual, expected, tol * std::max(1.0, std::fabs(expected)))
        << "expected " << expected;
}

TEST(FittedResults, EveryReaderRefusesAnObjectWithoutAFit) {
    Probe noRecord;
    noRecord.SetSamples({1.0, 2.0}, {3.0, 3.0}, {0.1, 0.1});
    Probe noConstant;  // a record whose d has no row is not a finished fit
    noConstant.SetSamples({1.0, 2.0}, {3.0, 3.0}, {0.1, 0.1});
    auto* unfinished = ExampleRecord();
    unfinished->d.clear();
    noConstant.InstallRecord(unfinished);

    for (const Probe* p : {&noRecord, &noConstant}) {
        DataTable table{{7.0}, {8.0, 9.0}};
        std::vector<Complex> poles{{1.0, 2.0}};
        std::vector<Complex> residues{{3.0, 4.0}, {5.0, 6.0}};
        EXPECT_THAT([&] { p->GetFittedData(table); },
                    ThrowsMessage<std::runtime_error>(StrEq(kNotFitted)));
        EXPECT_THAT([&] { p->GetPolesAndResidues(poles, residues); },
                    ThrowsMessage<std::runtime_error>(StrEq(kNotFitted)));
        EXPECT_THAT([&] { p->GetResidueAtInfinity(); },
                    ThrowsMessage<std::runtime_error>(StrEq(kNotFitted)));
        EXPECT_EQ(table, (DataTable{{7.0}, {8.0, 9.0}}));
        EXPECT_THAT(poles, ElementsAre(Complex(1.0, 2.0)));
        EXPECT_THAT(residues, ElementsAre(Complex(3.0, 4.0), Complex(5.0, 6.0)));
    }
}

TEST(FittedResults, ExampleRecordGivesItsPolesResiduesAndConstant) {
    Probe p;
    p.InstallRecord(ExampleRecord());
    std::vector<Complex> poles(7, Complex(9.0, 9.0));  // longer than needed: must shrink
    std::vector<Complex> residues;
    p.GetPolesAndResidues(poles, residues);
    EXPECT_THAT(poles, ElementsAre(Complex(-3.0, 0.0), Complex(-1.0, 2.0), Complex(-1.0, -2.0)));
    EXPECT_THAT(residues, ElementsAre(Complex(6.0, 0.0), Complex(1.0, -1.5), Complex(1.0, 1.5)));
    EXPECT_EQ(p.GetResidueAtInfinity(), 2.5);
}

TEST(FittedResults, ExampleRecordGivesTheHandWorkedCurve) {
    Probe p;
    std::vector<double> freq{0.1, 0.0, 1e-3, 0.05, 0.3, 1.0, 25.0};
    p.SetSamples(freq, std::vector<double>(freq.size(), 4.0),
               std::vector<double>(freq.size(), 0.01));
    p.InstallRecord(ExampleRecord());

    // Rows of every shape, more of them than frequencies: each must come back
    // as one (f, Dk, Df) row per frequency.
    DataTable table{{1.0}, {}, {1.0, 2.0, 3.0, 4.0, 5.0}, {1, 2, 3}, {}, {}, {}, {}, {}, {}};
    p.GetFittedData(table);
    ASSERT_EQ(table.size(), freq.size());

    EXPECT_DOUBLE_EQ(table[0][0], 0.1);
    EXPECT_NEAR(table[0][1], 6.1020326, 5e-8);
    EXPECT_NEAR(table[0][2], 0.096441361, 5e-10);

    for (std::size_t i = 0; i < freq.size(); ++i) {
        SCOPED_TRACE(freq[i]);
        ASSERT_EQ(table[i].size(), 3u);
        const Complex eps = ExampleEps(freq[i]);
        EXPECT_EQ(table[i][0], freq[i]);
        ExpectNearRelative(table[i][1], eps.real(), kSameModel);
        ExpectNearRelative(table[i][2], -eps.imag() / eps.real(), kSameModel);
    }
    // At 0 Hz the model is real: eps(0) = 2.5 + 2 + 1.6.
    EXPECT_DOUBLE_EQ(table[1][1], 6.1);
    EXPECT_EQ(table[1][2], 0.0);

    // Fewer rows than frequencies grow to fit.
    DataTable small{{1.0, 2.0}};
    p.GetFittedData(small);
    EXPECT_EQ(small, table);
}

TEST(FittedResults, PlantedModelsComeBackAsPolesResiduesAndCurve) {
    for (const NamedRecord& r : RecordCatalog()) {
        SCOPED_TRACE(r.name);
        const PlantedModel& planted = r.builder.Model();
        Probe p;
        const std::vector<double> freq = r.builder.Sweep(60);
        p.SetSamples(freq, freq, freq);
        p.InstallRecord(r.builder.NewRecord());

        std::vector<Complex> poles, residues;
        p.GetPolesAndResidues(poles, residues);
        ASSERT_EQ(poles.size(), planted.poles.size());
        ASSERT_EQ(residues.size(), planted.residues.size());
        for (std::size_t k = 0; k < poles.size(); ++k) {
            // Poles are copied from the record: exact. Residues went through
            // c = 2r / (b0 - j b1) and back: equal to rounding.
            EXPECT_EQ(poles[k], planted.poles[k]) << "state " << k;
            EXPECT_NEAR(std::abs(residues[k] - planted.residues[k]), 0.0,
                        kSameModel * std::abs(planted.residues[k]))
                << "state " << k;
        }
        EXPECT_EQ(p.GetResidueAtInfinity(), planted.d);

        DataTable table;
        p.GetFittedData(table);
        ASSERT_EQ(table.size(), freq.size());
        for (std::size_t i = 0; i < freq.size(); ++i) {
            SCOPED_TRACE(freq[i]);
            const Complex truth = planted.Eps(freq[i]);
            ExpectNearRelative(table[i][1], truth.real(), kSameModel);
            ExpectNearRelative(table[i][2], -truth.imag() / truth.real(), kSameModel);
        }
    }
}

TEST(PoleWalk, ZeroImaginaryPartsMakeRealPolesAndThePartnerStateIsNotRead) {
    // State 0: real. States 1-2: a pair opened by pole_im[1]; state 2's own
    // pole entries are junk that must not be read. State 3: real, although its
    // neighbour's pole_im is nonzero.
    auto* r = new polerat_data();
    r->pole_re = {-1.0, -2.0, 1234.0, -4.0};
    r->pole_im = {0.0, 3.0, 99.0, 0.0};
    r->b = {{1.0}, {2.0}, {1.0}, {2.0}};
    r->c = {{5.0, 1.0, 4.0, 0.5}};
    r->d = {{1.0}};
    Probe p;
    p.InstallRecord(r);
    std::vector<Complex> poles, residues;
    p.GetPolesAndResidues(poles, residues);
    EXPECT_THAT(poles, ElementsAre(Complex(-1.0, 0.0), Complex(-2.0, 3.0), Complex(-2.0, -3.0),
                                   Complex(-4.0, 0.0)));
    // Pair residue: (b0 - j b1)(c0 + j c1)/2 = (2 - j)(1 + 4j)/2 = 3 + 3.5j.
    EXPECT_THAT(residues, ElementsAre(Complex(5.0, 0.0), Complex(3.0, 3.5), Complex(3.0, -3.5),
                                      Complex(1.0, 0.0)));
}

TEST(PoleWalk, ANonzeroImaginaryPartOnTheLastStateIsARealPole) {
    auto* r = new polerat_data();
    r->pole_re = {-1.0, -2.0};
    r->pole_im = {0.0, 5.0};
    r->b = {{2.0}, {3.0}};
    r->c = {{0.5, 2.0}};
    r->d = {{1.5}};
    Probe p;
    p.SetSamples({1.0}, {1.0}, {1.0});
    p.InstallRecord(r);
    std::vector<Complex> poles, residues;
    p.GetPolesAndResidues(poles, residues);
    EXPECT_THAT(poles, ElementsAre(Complex(-1.0, 0.0), Complex(-2.0, 0.0)));
    EXPECT_THAT(residues, ElementsAre(Complex(1.0, 0.0), Complex(6.0, 0.0)));

    DataTable table;
    p.GetFittedData(table);
    const Complex s(0.0, Probe::TwoPi);
    const Complex eps = 1.5 + 1.0 / (s + 1.0) + 6.0 / (s + 2.0);
    ExpectNearRelative(table.at(0).at(1), eps.real(), kSameModel);
    ExpectNearRelative(table.at(0).at(2), -eps.imag() / eps.real(), kSameModel);
}

TEST(PoleWalk, ANaNImaginaryPartOpensAPair) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto* r = new polerat_data();
    r->pole_re = {-1.0, 77.0, -3.0};
    r->pole_im = {nan, 0.0, 0.0};
    r->b = {{1.0}, {1.0}, {1.0}};
    r->c = {{1.0, 1.0, 2.0}};
    r->d = {{1.0}};
    Probe p;
    p.InstallRecord(r);
    std::vector<Complex> poles, residues;
    p.GetPolesAndResidues(poles, residues);
    ASSERT_EQ(poles.size(), 3u);
    EXPECT_EQ(poles[0].real(), -1.0);
    EXPECT_TRUE(std::isnan(poles[0].imag()));
    EXPECT_EQ(poles[1].real(), -1.0);  // the pair's, not state 1's own 77
    EXPECT_TRUE(std::isnan(poles[1].imag()));
    EXPECT_EQ(poles[2], Complex(-3.0, 0.0));
    EXPECT_EQ(residues[2], Complex(2.0, 0.0));
}

TEST(FittedResults, AModelWithoutStatesIsItsConstant) {
    auto* r = new polerat_data();
    r->d = {{3.25, 8.0}, {9.0}};
    Probe p;
    p.SetSamples({0.0, 1e6, 2e9}, {4.0, 4.0, 4.0}, {0.1, 0.1, 0.1});
    p.InstallRecord(r);

    std::vector<Complex> poles(2), residues(5);
    p.GetPolesAndResidues(poles, residues);
    EXPECT_TRUE(poles.empty());
    EXPECT_TRUE(residues.empty());
    EXPECT_EQ(p.GetResidueAtInfinity(), 3.25);

    DataTable table;
    p.GetFittedData(table);
    EXPECT_EQ(table, (DataTable{{0.0, 3.25, 0.0}, {1e6, 3.25, 0.0}, {2e9, 3.25, 0.0}}));
}

TEST(FittedResults, NoFrequenciesGiveAnEmptyTable) {
    Probe p;
    p.InstallRecord(ExampleRecord());
    DataTable table{{1.0, 2.0, 3.0}};
    p.GetFittedData(table);
    EXPECT_TRUE(table.empty());
}

}  // namespace
