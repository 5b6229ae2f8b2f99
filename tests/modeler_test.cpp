// The modeler object, its inputs (files, tables, conductivity tables, one
// measured point) and its fit.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "records.h"

namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kFreqMsg = "Frequency must be non-negative.";
const std::string kDkMsg = "Relative permittivity (Dk) values must not be less than 1.";
const std::string kDfMsg = "Loss tangent (Df) values must be non-negative.";
const std::string kShortRow = "<out_of_range>";

// Everything a modeler holds, its record's lists included.
auto State(const Probe& p) {
    const polerat_data r = p.Record() != nullptr ? *p.Record() : polerat_data{};
    return std::make_tuple(p.Freq(), p.Dk(), p.Df(), p.DkCausal(), p.DfCausal(), p.DoesHilbert(),
                           p.Record() != nullptr, r.pole_re, r.pole_im, r.b, r.c, r.d);
}

TEST(ModelerObject, StartsEmptyAndCopiesAreEqualAndIndependent) {
    const Probe empty;
    EXPECT_TRUE(empty.Freq().empty() && empty.Dk().empty() && empty.Df().empty());
    EXPECT_TRUE(empty.DkCausal().empty() && empty.DfCausal().empty() && empty.DoesHilbert());
    EXPECT_EQ(empty.Record(), nullptr);

    auto* source = new Probe();
    source->SetInputData(4.0, 0.02, 1e9, 1e3, 0.0, 0.0);  // switches the reconstruction off
    source->ReconstructCausalDk();
    source->InstallRecord(ExampleRecord().NewRecord());
    Probe copy(*source), assigned;
    assigned.InstallRecord(ExampleRecord().NewRecord());
    assigned.SetInputData(DataTable{{1, 2, 0}, {2, 2, 0}, {3, 2, 0}});
    assigned = *source;
    Probe& alias = assigned;
    assigned = alias;
    EXPECT_EQ(State(copy), State(*source));
    EXPECT_EQ(State(assigned), State(*source));
    EXPECT_TRUE(copy.Record() != source->Record() && assigned.Record() != source->Record());
    delete source;
    EXPECT_EQ(State(copy), State(assigned));  // survives its source
    copy = empty;  // releases the record, turns the reconstruction back on
    EXPECT_EQ(State(copy), State(empty));
    EXPECT_EQ(copy.Record(), nullptr);
    // The constants; HalfPi is the 16-digit literal, two ulps above the double nearest pi/2.
    EXPECT_EQ(std::make_tuple(Probe::TwoPi, Probe::Pi, Probe::E0),
              std::make_tuple(6.283185307179586, 3.141592653589793, 8.854187817e-12));
    EXPECT_EQ(Probe::HalfPi, std::nextafter(std::nextafter(1.5707963267948966, 2.0), 2.0));
}

// What a load leaves: the samples stored, flattened, and the failure's text.
using Outcome = std::pair<std::vector<double>, std::string>;

void ExpectLoad(const std::function<void(Probe&)>& load, const Outcome& want) {
    Probe p;
    std::string error;
    try {
        load(p);
    } catch (const std::out_of_range&) {
        error = kShortRow;
    } catch (const std::exception& e) {
        error = e.what();
    }
    ASSERT_TRUE(p.Freq().size() == p.Dk().size() && p.Dk().size() == p.Df().size());
    std::vector<double> stored;
    for (std::size_t i = 0; i < p.Freq().size(); ++i)
        stored.insert(stored.end(), {p.Freq()[i], p.Dk()[i], p.Df()[i]});
    EXPECT_THAT(stored, ::testing::Pointwise(::testing::NanSensitiveDoubleEq(), want.first));
    EXPECT_EQ(error, want.second);
}

TEST(ReadInputFile, TakesNumbersThreeAtATimeAsTheCConversionDoes) {
    const std::string z300(300, '0'), z399(399, '0'), z400(400, '0');
    const std::vector<std::pair<std::string, Outcome>> cases = {
        {"", {}},
        {"freq dk df\n1e9 4.2 0.015\n", {}},
        // Line breaks carry no meaning; an incomplete last sample is dropped.
        {"1e9 4.2 0.015\n2e9\n4.1 0.016 3e9 4.0\n", {{1e9, 4.2, 0.015, 2e9, 4.1, 0.016}, ""}},
        {"1e9 4.2 0.015 2e9 4.1 abc 3e9 4 0.01", {{1e9, 4.2, 0.015}, ""}},
        // Every white space, signs, the Df floor; a second sign is not a number.
        {"+1.5e9\t4.25\r\n0.00\v1\f2 3 +-1 2 3", {{1.5e9, 4.25, 1e-5, 1, 2, 3}, ""}},
        {"1e999 2 nan 2 inf 0", {{kInf, 2, kNaN, 2, kInf, 1e-5}, ""}},
        // Hexadecimal; "0x" with no hex digit after it is the number 0.
        {"0x1p30 0X4.8P0 0x.8p-3 0xap0 0XFp0 0x.Ap1 0XfP0 2 0xA 2 2 0x 5 6",
         {{1073741824, 4.5, 0.0625, 10, 15, 1.25, 15, 2, 10, 2, 2, 1e-5}, ""}},
        {"2 2 0x1", {{2, 2, 1}, ""}},
        // Beyond the range of a double: infinity or zero by the number's size,
        // whatever the spelling of its mantissa and exponent.
        {"0." + z400 + "1e50 1" + z400 + "e-50 1E-400 0." + z300 + "1e620 9" + z400 + " 0x1P-1100",
         {{0, kInf, 1e-5, kInf, kInf, 1e-5}, ""}},
        {"0." + z400 + "1 1" + z400 + ".5 0x0." + z399 + "1p200 1e+400 2 0x1p-1100",
         {{0, kInf, 1e-5, kInf, 2, 1e-5}, ""}},
        // A failure keeps the samples before it.
        {"1e9 4.2 0.015 2e9 0.5 0.01 3e9 4 0.01", {{1e9, 4.2, 0.015}, kDkMsg}},
        {"-1 2 3", {{}, kFreqMsg}},
        {"1 2 -0x.8p-3", {{}, kDfMsg}},
    };
    const std::string path = ::testing::TempDir() + "matmodel_read_input_file.txt";
    for (const auto& [text, want] : cases) {
        SCOPED_TRACE(text.substr(0, 60));
        std::ofstream(path, std::ios::binary) << text;
        ExpectLoad([&](Probe& p) { p.ReadInputFile(path.c_str()); }, want);
    }
    std::remove(path.c_str());
    for (const char* missing : {"/nonexistent/dir/material.txt", static_cast<const char*>(nullptr)})
        ExpectLoad([&](Probe& p) { p.ReadInputFile(missing); },
                   {{}, "Can't open input file for reading."});
}

TEST(SetInputData, ValidatesFrequencyThenDkThenLossAndFloorsIt) {
    // Rows of (frequency, Dk, Df), or with `conductivity` of (frequency, Dk,
    // sigma) stored as Df = sigma / (2 pi f e0 Dk) from at least 1e-6 Hz and
    // 1e-11 S/m, and not floored.
    const std::vector<std::tuple<bool, DataTable, Outcome>> cases = {
        {false, {{1e9, 4, 0.01}, {2e9, 4, 0.01}}, {{}, "Please provide at least 3 data points."}},
        // Boundaries pass; values after the third are ignored.
        {false, {{0, 1, 0}, {1e9, 4, 1e-5}, {2e9, 4, 9.99e-6, 77}},
         {{0, 1, 1e-5, 1e9, 4, 1e-5, 2e9, 4, 1e-5}, ""}},
        {false, {{-1, 0.5, -1}, {1, 2, 0}, {2, 2, 0}}, {{}, kFreqMsg}},
        {false, {{1, 0.999, -1}, {1, 2, 0}, {2, 2, 0}}, {{}, kDkMsg}},
        {false, {{1, 2, -1e-9}, {1, 2, 0}, {2, 2, 0}}, {{}, kDfMsg}},
        {false, {{1e9, 4, 0.01}, {2e9, 4, 0.01}, {3e9, 4, -0.01}},
         {{1e9, 4, 0.01, 2e9, 4, 0.01}, kDfMsg}},
        {false, {{1e9, 4, 0.01}, {2e9, 4}, {3e9, 4, 0.01}}, {{1e9, 4, 0.01}, kShortRow}},
        // A NaN compares with nothing, so it passes every test and the floor.
        {false, {{kNaN, kNaN, kNaN}, {1, 2, 0.5}, {2, 2, 0.5}},
         {{kNaN, kNaN, kNaN, 1, 2, 0.5, 2, 2, 0.5}, ""}},
        {true, {}, {}},
        {true, {{1e9, 4, 0.01}, {0, 2, 1}, {1e12, 2, 0}, {1e9, 4, -0.1}},
         {{1e9, 4, 0.04493775893998955, 0, 2, 8987551787997912.0, 1e12, 2, 8.987551787997911e-14},
          kDfMsg}},
        {true, {{-1e9, 4, 0.1}}, {{}, kFreqMsg}},
        {true, {{1e9, 0.5, 0.1}}, {{}, kDkMsg}},
        {true, {{1e9, 4}}, {{}, kShortRow}},
    };
    for (const auto& c : cases)
        ExpectLoad([&c](Probe& p) {
            std::get<0>(c) ? p.SetInputDataUsingConductivity(std::get<1>(c)) : p.SetInputData(std::get<1>(c));
        }, std::get<2>(c));
}

TEST(ModelerInput, EveryInputAppendsAndTheSinglePointSwitchesTheReconstructionOff) {
    const std::string path = ::testing::TempDir() + "matmodel_append.txt";
    std::ofstream(path) << "5 2 0.5\n";
    Probe p;
    p.SetInputData(DataTable{{1, 2, 0.5}, {2, 2, 0.5}, {3, 2, 0.5}});
    p.SetInputDataUsingConductivity(DataTable{{4, 2, 1}});
    p.ReadInputFile(path.c_str());
    std::remove(path.c_str());
    EXPECT_TRUE(p.DoesHilbert());
    p.SetInputData(4.0, 0.02, 1e9, 1.0, 0.0, 0.0);
    p.SetInputData(DataTable{{7, 2, 0.5}, {8, 2, 0.5}, {9, 2, 0.5}});
    EXPECT_THAT(p.Freq(), ElementsAre(1, 2, 3, 4, 5, 1, 7, 8, 9));
    EXPECT_FALSE(p.DoesHilbert());
}

TEST(SinglePointInput, SynthesisesFivePointsPerDecadeMatchingThePointAndBothEnds) {
    // The last point carries the rounding of the accumulated exponent.
    const std::vector<std::tuple<double, std::size_t, double>> cases = {
        {1e10, 51, 9999999999.999918}, {1e9, 46, 1e9}, {1e3, 16, 1000.000000000001},
        {1.0, 1, 1.0}, {0.5, 0, 0}, {0.0, 0, 0}, {-3.0, 0, 0},
        {std::numeric_limits<double>::max(), 1542, 1.5848931924285037e308}};
    for (const auto& [maxFreq, count, last] : cases) {
        SCOPED_TRACE(maxFreq);
        Probe p;
        p.SetInputData(4.0, 0.02, 1e9, maxFreq, 0.0, 0.0);
        EXPECT_FALSE(p.DoesHilbert());
        ASSERT_EQ(p.Freq().size(), count);
        ASSERT_TRUE(p.Dk().size() == count && p.Df().size() == count);
        if (count == 0) continue;
        EXPECT_EQ(p.Freq()[0], 1.0);
        EXPECT_NEAR(p.Freq().back(), last, 4e-16 * last);
    }
    Probe endless;  // an infinite highest frequency asks for a grid without end
    EXPECT_THROW(endless.SetInputData(4.0, 0.02, 1e9, kInf, 0.0, 0.0), std::bad_alloc);
    EXPECT_TRUE(endless.Freq().empty() && endless.Dk().empty() && endless.Df().empty());
    // Dk 4 and Df 0.02 measured at 1 GHz, with or without conduction and a dc Dk.
    for (const auto& [sigma, dcDk] :
         std::vector<std::pair<double, double>>{{0.0, 0.0}, {0.0, 4.5}, {1e-3, 0.0}, {1e-3, 4.5}}) {
        SCOPED_TRACE(::testing::Message() << "sigma " << sigma << ", dc Dk " << dcDk);
        Probe p;
        p.SetInputData(4.0, 0.02, 1e9, 1e16, sigma, dcDk);
        const std::vector<double>&f = p.Freq(), &dk = p.Dk(), &df = p.Df();
        ASSERT_EQ(f.size(), 81u);
        ASSERT_EQ(f[45], 1e9);
        // The measured Dk and the measured loss Dk Df, conduction included.
        EXPECT_NEAR(dk[45], 4.0, 1e-9);
        EXPECT_NEAR(dk[45] * df[45], 0.08, 1e-4 * 0.08);
        // Far above the upper corner Dk is eps_inf; at 1 Hz it is the dc Dk
        // asked for, by default (1 + 10 Df) eps_inf, and the loss conduction's.
        EXPECT_NEAR(dk[0], dcDk != 0.0 ? dcDk : 1.2 * dk.back(), 1e-7 * dk[0]);
        const double conduction = sigma / (Probe::TwoPi * Probe::E0);
        EXPECT_NEAR(dk[0] * df[0], conduction, sigma != 0.0 ? 1e-6 * conduction : 1e-5);
        for (std::size_t i = 1; i < f.size(); ++i) {
            EXPECT_GT(df[i], 0.0) << f[i];
            EXPECT_LE(dk[i], dk[i - 1] + 1e-12) << f[i];
        }
    }
}

// n samples of `model` spread on a log scale over [lo, hi] hertz, with `extraDf`
// added to every loss tangent.
DataTable Samples(const PlantedModel& model, double lo, double hi, int n, double extraDf = 0.0) {
    DataTable t;
    for (int i = 0; i < n; ++i) {
        const double f = lo * std::pow(hi / lo, static_cast<double>(i) / (n - 1));
        const Complex eps = model.Eps(f);
        t.push_back({f, eps.real(), -eps.imag() / eps.real() + extraDf});
    }
    return t;
}

// A two-relaxation material with a small constant loss.
DataTable Material(int n, double lo, double hi) {
    const double w1 = Probe::TwoPi * 1e6, w2 = Probe::TwoPi * 5e9;
    return Samples({3.0, {-w1, -w2}, {0.8 * w1, 0.4 * w2}}, lo, hi, n, 2e-3);
}

TEST(FitData, RecoversAPlantedDebyeModel) {
    // eps = 3 + 1 / (1 + j f / 10 MHz) + 0.05 / (1 + j f / 10 GHz). A single
    // point with no sample (its highest frequency is below 1 Hz) switches the
    // reconstruction off, so the samples reach the engine as they are.
    const double w1 = Probe::TwoPi * 1e7, w2 = Probe::TwoPi * 1e10;
    const PlantedModel planted{3.0, {-w1, -w2}, {w1, 0.05 * w2}};
    Probe p;
    p.SetInputData(4.0, 0.02, 1e9, 0.5, 0.0, 0.0);
    p.SetInputData(Samples(planted, 1e5, 1e11, 41));
    p.FitData();
    EXPECT_TRUE(p.DkCausal().empty());
    std::vector<Complex> poles, residues;
    p.GetPolesAndResidues(poles, residues);
    EXPECT_EQ(poles.size(), 2u);
    // Two Debye terms are fixed by their sum: compare it from below the slow
    // pole to above the fast one.
    const PlantedModel got{p.GetResidueAtInfinity(), poles, residues};
    for (double f : {1e3, 1e6, 1e7, 3e8, 1e10, 1e13})
        EXPECT_LT(std::abs(got.Eps(f) - planted.Eps(f)), 1e-6 * std::abs(planted.Eps(f))) << f;
    // A second fit replaces the first: it gives what a fresh modeler gives.
    p.SetInputData(DataTable{{1e4, 4.5, 0.01}, {2e4, 4.5, 0.01}, {4e4, 4.4, 0.01}});
    Probe fresh = p;
    fresh.InstallRecord(nullptr);
    p.FitData();
    fresh.FitData();
    DataTable again, expected;
    p.GetFittedData(again);
    fresh.GetFittedData(expected);
    EXPECT_EQ(again, expected);
}

TEST(FitData, HostileButPlausibleDataGiveStablePassiveMaterialsCloseToThem) {
    DataTable floored = Material(40, 1e6, 1e10), atZero = Material(30, 1e6, 1e10);
    for (auto& row : floored) row[2] = 0.0;  // stored as 1e-5
    atZero.insert(atZero.begin(), {0.0, atZero[0][1], atZero[0][2]});
    DataTable shuffled = Material(30, 1e6, 1e10);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(20240611u));
    // Each with the largest relative deviation of the fitted Df allowed. The
    // reconstruction integrates between samples in their stored order, so a
    // shuffled table is stable and passive but only roughly like the sorted one.
    const std::vector<std::pair<DataTable, double>> cases = {
        {{{1e9, 3.72, 0.0085}, {5e9, 3.67, 0.0092}, {1e10, 3.65, 0.0095}}, 0.05},
        {Material(3000, 1e3, 1e11), 0.1}, {Material(121, 1.0, 1e12), 0.1},
        {floored, 100.0}, {atZero, 0.1}, {shuffled, 0.3}};
    for (const auto& [table, worstDf] : cases) {
        SCOPED_TRACE(table.size());
        Probe p;
        p.SetInputData(table);
        p.FitData();
        // Real poles in the left half plane with non-negative residues: stable,
        // with -Im eps >= 0 at every frequency, and Dk falling from d + sum r / -p
        // at 0 Hz to d, which a material keeps above 1.
        std::vector<Complex> poles, residues;
        p.GetPolesAndResidues(poles, residues);
        for (std::size_t k = 0; k < poles.size(); ++k) {
            EXPECT_TRUE(poles[k].real() < 0.0 && poles[k].imag() == 0.0) << poles[k];
            EXPECT_TRUE(residues[k].real() >= 0.0 && residues[k].imag() == 0.0) << residues[k];
        }
        EXPECT_GT(p.GetResidueAtInfinity(), 0.99);
        DataTable fitted;
        p.GetFittedData(fitted);
        for (std::size_t i = 0; i < fitted.size(); ++i) {
            if (fitted[i][0] == 0.0) continue;  // no loss at 0 Hz without conduction
            EXPECT_NEAR(fitted[i][2], p.Df()[i], worstDf * p.Df()[i]) << fitted[i][0];
        }
    }
}

// The engine is handed eps = Dk' (1 - j Df), Dk' reconstructed; a repeated
// frequency makes Dk' not a number, which the engine refuses. Its sentence
// reaches the caller unchanged.
TEST(FitData, EngineRefusalsReachTheCallerAsRuntimeErrorsWithTheirText) {
    const DataTable twice{{1e9, 4.0, 0.01}, {2e9, 3.9, 0.01}, {2e9, 3.9, 0.01}, {5e9, 3.8, 0.012}};
    Probe p;
    p.SetInputData(twice);
    std::string error = "<no error>";
    try {
        p.FitData();
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    ASSERT_EQ(p.DkCausal().size(), twice.size()) << "the reconstruction ran before the engine";
    std::vector<Complex> eps;
    for (std::size_t i = 0; i < twice.size(); ++i)
        eps.emplace_back(p.DkCausal()[i], -(p.DkCausal()[i] * p.DfCausal()[i]));
    polerat_data* record = nullptr;
    DataTable info;
    std::string log;
    EXPECT_THAT([&] {
        polerat_run(record, info, p.Freq(), PoleratSamples{{eps}}, 0.001, 100, 1, 0, 0, false, true, 0,
                    false, log, {}, nullptr, -1.0, false, 1, 1, 1);
    }, ThrowsMessage<std::invalid_argument>(StrEq(error)));
    std::vector<Complex> poles, residues;
    EXPECT_THAT([&] { p.GetPolesAndResidues(poles, residues); },
                ThrowsMessage<std::runtime_error>(StrEq("Must call FitData() first.")));
}

}  // namespace
