// Loading samples: files, Dk/Df tables and conductivity tables.
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "probe.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kFreqMsg[] = "Frequency must be non-negative.";
constexpr char kDkMsg[] = "Relative permittivity (Dk) values must not be less than 1.";
constexpr char kDfMsg[] = "Loss tangent (Df) values must be non-negative.";

// A temporary file that disappears with the test.
class TempFile {
public:
    explicit TempFile(const std::string& content) {
        path_ = ::testing::TempDir() + "matmodel_input_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

template <typename F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no exception>";
}

TEST(ReadInputFile, ReadsThreeNumbersAtATimeWhateverTheLines) {
    TempFile f("1e9 4.2 0.015\n2e9\n4.1 0.016 3e9 4.0\n");  // seven numbers
    Probe p;
    p.ReadInputFile(f.path());
    EXPECT_THAT(p.Freq(), ElementsAre(1e9, 2e9));
    EXPECT_THAT(p.Dk(), ElementsAre(4.2, 4.1));
    EXPECT_THAT(p.Df(), ElementsAre(0.015, 0.016));
}

TEST(ReadInputFile, AFourthNumberOnTheFirstLineStartsTheNextSample) {
    TempFile f("1e9 4.2 0.015 2e9\n4.1 0.016\n");
    Probe p;
    p.ReadInputFile(f.path());
    EXPECT_THAT(p.Freq(), ElementsAre(1e9, 2e9));
}

TEST(ReadInputFile, HeaderOrEmptyFileAppendsNothingAndIsNoError) {
    TempFile header("freq dk df\n1e9 4.2 0.015\n");
    TempFile empty("");
    Probe p;
    p.ReadInputFile(header.path());
    p.ReadInputFile(empty.path());
    EXPECT_TRUE(p.Freq().empty());
}

TEST(ReadInputFile, StopsAtTheFirstNonNumberAndDropsThePartialSample) {
    TempFile f("1e9 4.2 0.015\n2e9 4.1 abc\n3e9 4.0 0.01\n");
    Probe p;
    p.ReadInputFile(f.path());
    EXPECT_THAT(p.Freq(), ElementsAre(1e9));
}

TEST(ReadInputFile, IgnoresTheProcessLocaleAndAcceptsSignsAndInfinities) {
    TempFile f("+1.5e9\t4.25\r\n0.00\n");
    Probe p;
    p.ReadInputFile(f.path());
    EXPECT_THAT(p.Freq(), ElementsAre(1.5e9));
    EXPECT_THAT(p.Dk(), ElementsAre(4.25));
    EXPECT_THAT(p.Df(), ElementsAre(1e-5));
    TempFile g("1e999 2 nan\n");
    p.ReadInputFile(g.path());
    ASSERT_EQ(p.Freq().size(), 2u);
    EXPECT_TRUE(std::isinf(p.Freq()[1]));
    EXPECT_TRUE(std::isnan(p.Df()[1]));  // NaN passes validation and the floor
}

TEST(ReadInputFile, ReadsHexadecimalNumbersAsTheCConversionDoes) {
    // "0x" with no hex digit after it is the number 0 followed by text.
    TempFile f("0x1p30 0X4.8P0 -0x.8p-3\n0x1p1 2 0x 5 6 7\n");
    Probe p;
    EXPECT_EQ(MessageOf([&] { p.ReadInputFile(f.path()); }), kDfMsg);
    TempFile g("0x1p30 0X4.8P0 0x.8p-3\n0x1p1 2 0x 5 6 7\n");
    Probe q;
    q.ReadInputFile(g.path());
    EXPECT_THAT(q.Freq(), ElementsAre(1073741824.0, 2.0));
    EXPECT_THAT(q.Dk(), ElementsAre(4.5, 2.0));
    EXPECT_THAT(q.Df(), ElementsAre(0.0625, 1e-5));
}

TEST(ReadInputFile, NumbersBeyondTheRangeOfADoubleOverflowOrUnderflowByTheirSize) {
    // 1e-396 and 1e390, each written once with a misleading exponent sign and
    // once without an exponent; then plain overflow and hexadecimal underflow.
    const std::string zeros(400, '0');
    TempFile f("0." + zeros + "1e5 1" + zeros + "e-10 1e-400\n" +  //
               "0." + zeros + "1 1" + zeros + ".5 0x0.0001p-1100\n" +  //
               "1e400 2 0x1p2000\n");
    Probe p;
    p.ReadInputFile(f.path());
    ASSERT_EQ(p.Freq().size(), 3u);
    EXPECT_EQ(p.Freq()[0], 0.0);
    EXPECT_EQ(p.Freq()[1], 0.0);
    EXPECT_TRUE(std::isinf(p.Freq()[2]));
    EXPECT_TRUE(std::isinf(p.Dk()[0]));
    EXPECT_TRUE(std::isinf(p.Dk()[1]));
    EXPECT_EQ(p.Dk()[2], 2.0);
    EXPECT_EQ(p.Df()[0], 1e-5);  // underflowed to 0, then floored
    EXPECT_EQ(p.Df()[1], 1e-5);
    EXPECT_TRUE(std::isinf(p.Df()[2]));
}

TEST(ReadInputFile, MissingFileThrowsAndLeavesTheObjectUnchanged) {
    Probe p;
    EXPECT_EQ(MessageOf([&] { p.ReadInputFile("/nonexistent/dir/material.txt"); }),
              "Can't open input file for reading.");
    EXPECT_EQ(MessageOf([&] { p.ReadInputFile(nullptr); }), "Can't open input file for reading.");
    EXPECT_TRUE(p.Freq().empty());
}

TEST(ReadInputFile, ValidationFailureKeepsEarlierSamples) {
    TempFile f("1e9 4.2 0.015\n2e9 0.5 0.01\n3e9 4.0 0.01\n");
    Probe p;
    EXPECT_EQ(MessageOf([&] { p.ReadInputFile(f.path()); }), kDkMsg);
    EXPECT_THAT(p.Freq(), ElementsAre(1e9));
    // The file was closed on the way out: it can be removed and reopened.
    EXPECT_EQ(MessageOf([&] { p.ReadInputFile(f.path()); }), kDkMsg);
    EXPECT_EQ(p.Freq().size(), 2u);
}

TEST(SetInputData, FewerThanThreeRowsThrowsAndAppendsNothing) {
    Probe p;
    EXPECT_EQ(MessageOf([&] { p.SetInputData(DataTable{{1e9, 4, 0.01}, {2e9, 4, 0.01}}); }),
              "Please provide at least 3 data points.");
    EXPECT_TRUE(p.Freq().empty());
}

TEST(SetInputData, FloorsDfAndAcceptsBoundaryValues) {
    Probe p;
    p.SetInputData(DataTable{{0.0, 1.0, 0.0}, {1e9, 4.0, 1e-5}, {2e9, 4.0, 9.99e-6, 77.0}});
    EXPECT_THAT(p.Freq(), ElementsAre(0.0, 1e9, 2e9));
    EXPECT_THAT(p.Dk(), ElementsAre(1.0, 4.0, 4.0));
    EXPECT_THAT(p.Df(), ElementsAre(1e-5, 1e-5, 1e-5));
}

TEST(SetInputData, ChecksFrequencyThenDkThenDf) {
    Probe p;
    EXPECT_EQ(MessageOf([&] { p.SetInputData(DataTable{{-1, 0.5, -1}, {1, 2, 0}, {2, 2, 0}}); }),
              kFreqMsg);
    EXPECT_EQ(MessageOf([&] { p.SetInputData(DataTable{{1, 0.999, -1}, {1, 2, 0}, {2, 2, 0}}); }),
              kDkMsg);
    EXPECT_EQ(MessageOf([&] { p.SetInputData(DataTable{{1, 2, -1e-9}, {1, 2, 0}, {2, 2, 0}}); }),
              kDfMsg);
    EXPECT_TRUE(p.Freq().empty());
}

TEST(SetInputData, BadThirdRowKeepsTheFirstTwoAndListsStayEqual) {
    Probe p;
    EXPECT_EQ(MessageOf([&] {
                  p.SetInputData(DataTable{{1e9, 4, 0.01}, {2e9, 4, 0.01}, {3e9, 4, -0.01}});
              }),
              kDfMsg);
    EXPECT_THAT(p.Freq(), ElementsAre(1e9, 2e9));
    EXPECT_EQ(p.Dk().size(), 2u);
    EXPECT_EQ(p.Df().size(), 2u);
}

TEST(SetInputData, ShortRowIsOutOfRange) {
    Probe p;
    EXPECT_THROW(p.SetInputData(DataTable{{1e9, 4, 0.01}, {2e9, 4}, {3e9, 4, 0.01}}),
                 std::out_of_range);
    EXPECT_EQ(p.Freq().size(), 1u);
}

TEST(SetInputData, NaNPassesValidationUnchanged) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Probe p;
    p.SetInputData(DataTable{{nan, nan, nan}, {1, 2, 0}, {2, 2, 0}});
    ASSERT_EQ(p.Freq().size(), 3u);
    EXPECT_TRUE(std::isnan(p.Freq()[0]) && std::isnan(p.Dk()[0]) && std::isnan(p.Df()[0]));
}

TEST(SetInputData, SecondCallAppendsInCallOrder) {
    Probe p;
    p.SetInputData(DataTable{{1, 2, 0.1}, {2, 2, 0.1}, {3, 2, 0.1}});
    p.SetInputData(DataTable{{4, 3, 0.1}, {5, 3, 0.1}, {6, 3, 0.1}});
    EXPECT_THAT(p.Freq(), ElementsAre(1, 2, 3, 4, 5, 6));
}

TEST(SetInputDataUsingConductivity, ConvertsConductivityToLossTangent) {
    Probe p;
    p.SetInputDataUsingConductivity(DataTable{{1e9, 4.0, 0.01}});
    ASSERT_EQ(p.Df().size(), 1u);
    EXPECT_EQ(p.Freq()[0], 1e9);
    EXPECT_EQ(p.Df()[0], 0.01 / (((1e9 * Probe::TwoPi) * Probe::E0) * 4.0));
    EXPECT_NEAR(p.Df()[0], 0.0449378, 1e-6);
}

TEST(SetInputDataUsingConductivity, FloorsFrequencyAndConductivityButNotDf) {
    Probe p;
    p.SetInputDataUsingConductivity(DataTable{{0.0, 2.0, 1.0}, {1e12, 2.0, 0.0}});
    EXPECT_THAT(p.Freq(), ElementsAre(0.0, 1e12));
    EXPECT_EQ(p.Df()[0], 1.0 / (((1e-6 * Probe::TwoPi) * Probe::E0) * 2.0));
    const double tiny = 1e-11 / (((1e12 * Probe::TwoPi) * Probe::E0) * 2.0);
    EXPECT_EQ(p.Df()[1], tiny);
    EXPECT_LT(tiny, 1e-5);  // the Df floor does not apply to converted values
}

TEST(SetInputDataUsingConductivity, EmptyTableIsFineAndErrorsUseTheDfSentence) {
    Probe p;
    p.SetInputDataUsingConductivity(DataTable{});
    EXPECT_TRUE(p.Freq().empty());
    EXPECT_EQ(MessageOf([&] { p.SetInputDataUsingConductivity(DataTable{{1e9, 4, -0.1}}); }),
              kDfMsg);
    EXPECT_EQ(MessageOf([&] { p.SetInputDataUsingConductivity(DataTable{{-1e9, 4, 0.1}}); }),
              kFreqMsg);
    EXPECT_THROW(p.SetInputDataUsingConductivity(DataTable{{1e9, 4}}), std::out_of_range);
    EXPECT_TRUE(p.Freq().empty());
}

}  // namespace
