// Reading material files (every layout, and every message once, exactly), the
// locale-free number text underneath, and writing a file atomically.
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "io/atomic_file.h"
#include "io/material_file.h"
#include "io/number_text.h"

namespace {

namespace fs = std::filesystem;
using namespace matmodel;
using ::testing::ElementsAre;
using ::testing::Property;
using ::testing::ThrowsMessage;

// Throws a std::runtime_error (a MaterialFileError is one) with this message.
auto Throws(const std::string& message) { return ThrowsMessage<std::runtime_error>(message); }

const ReadOptions kAuto, kGhz{"ghz"}, kSigma{"", LossKind::kConductivity};

// A scratch folder of its own, removed with everything in it.
struct ScratchDir {
    const std::string dir = fs::temp_directory_path() / ("matmodel-io-" + std::to_string(::getpid()));
    ScratchDir() { fs::create_directories(dir); }
    ~ScratchDir() { fs::remove_all(dir); }
    std::string operator/(const char* name) const { return dir + "/" + name; }
};

// Each layout holds 1, 2, 5 GHz with Dk 3.7, 3.6, 3.5 and loss 0.01, 0.02, 0.03;
// `summary` is "FORMAT UNIT LOSS-KIND HEADER-COLUMNS".
TEST(MaterialFile, ReadsTheSameSamplesFromEveryLayout) {
    struct Case {
        const char* text;
        const ReadOptions& options;
        const char* summary;
        std::vector<int> lines;
    };
    const std::vector<Case> cases = {
        {"Freq Eps(r) tanD\n1e9 3.7 0.01\n2e9 3.6 0.02\n5e9 3.5 0.03", kAuto, "whitespace Hz Df 3",
         {2, 3, 4}},
        {"\"1e9\",3.7,0.01\n2e9,\t3.6 ,0.02,\n5e9,3.5,0.03\n", kAuto, "csv Hz Df 0", {1, 2, 3}},
        {"1e9\t3.7\t0.01\n2e9\t3.6\t0.02\n5e9\t3.5\t0.03\n", kAuto, "tsv Hz Df 0", {1, 2, 3}},
        {"1e9;3,7;0,01\n2e9;3,6;0,02\n5e9;3.5;0.03\n", kAuto, "semicolon Hz Df 0", {1, 2, 3}},
        {"\xEF\xBB\xBF" "Freq (GHz), Dk, Df\r\n1, 3.7, 0.01\r\n2,3.6,.02\r\n+5E+00,3.5,3e-2\r\n",
         kGhz, "csv GHz Df 3", {2, 3, 4}},
        {"# measured\n\n5e9 3.5 0.03 # last\n \t\n1e9 3.7 0.01\n#\n2e9 3.6 0.02", kAuto,
         "whitespace Hz Df 0", {5, 7, 3}},
        {"\"f [MHz]\"\t\"Dk\"\t\"sigma\"\n1000\t3.7\t0.01\n2000\t3.6\t0.02\n5000\t3.5\t0.03\n",
         kAuto, "tsv MHz sigma 3", {2, 3, 4}},
        {"Frequency [kHz] Dk (S/m)\n1e6 3.7 0.01\n2e6 3.6 0.02\n5e6 3.5 0.03\n", kSigma,
         "whitespace kHz sigma 4", {2, 3, 4}},
        {"FreqTHz Dk tan delta\n1e-3 3.7 0.01\n2e-3 3.6 0.02\n5e-3 3.5 0.03\n", kAuto,
         "whitespace THz Df 4", {2, 3, 4}},
        {"1 3.7 0.01\n2 3.6 0.02\n5 3.5 0.03\n", kGhz, "whitespace GHz Df 0", {1, 2, 3}},
        {"1e9 3.7 0.01\n2e9 3.6 0.02\n5e9 3.5 0.03\n", kSigma, "whitespace Hz sigma 0", {1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        MaterialTable t = ParseMaterialText(c.text, "m.txt", c.options);
        for (double& f : t.freq) f = std::round(f / 1e3) * 1e3;  // 1e-3 THz is not exact
        EXPECT_EQ(t.format + " " + t.freqUnit.name +
                      (t.lossKind == LossKind::kConductivity ? " sigma " : " Df ") +
                      std::to_string(t.header.size()),
                  c.summary);
        EXPECT_THAT(t.freq, ElementsAre(1e9, 2e9, 5e9));
        EXPECT_THAT(t.dk, ElementsAre(3.7, 3.6, 3.5));
        EXPECT_THAT(t.loss, ElementsAre(0.01, 0.02, 0.03));
        EXPECT_EQ(t.line, c.lines);
        EXPECT_EQ(t.reordered, !std::is_sorted(c.lines.begin(), c.lines.end()));
    }
}

TEST(MaterialFile, NamesTheFileLineAndTextOfEveryFault) {
    const std::string ok = "1e9 3.7 0.01\n2e9 3.6 0.02\n";
    const std::string line59 = "1e9 3.7 0.01 " + std::string(46, '9');
    const std::string four = "expected 3 values (frequency, Dk, Df), found 4 in \"";
    const ReadOptions mhz{"MHz"}, rad{"rad/s"}, tangent{"", LossKind::kLossTangent};
    const std::vector<std::tuple<std::string, const ReadOptions&, std::string>> cases = {
        {ok + "Freq Dk Df", kAuto, "3: frequency \"Freq\" is not a number in \"Freq Dk Df\""},
        {"5 3,7 1", kAuto, "1: Dk \"3,7\" is not a number (use a decimal point) in \"5 3,7 1\""},
        {"5e9 3.7 1e999", kAuto, "1: Df \"1e999\" is not a finite number in \"5e9 3.7 1e999\""},
        {"5 3", kSigma, "1: expected 3 values (frequency, Dk, conductivity), found 2 in \"5 3\""},
        {"1,3,7,0,01", kAuto, "1: expected 3 values (frequency, Dk, Df), found 5 (decimal "
                                  "commas need a semicolon between the columns) in \"1,3,7,0,01\""},
        {"f,dk,df\n2e9,,0.01", kAuto, "2: empty Dk field in \"2e9,,0.01\""},
        {"-2e9 3.7 0.01", kAuto, "1: frequency \"-2e9\" is negative in \"-2e9 3.7 0.01\""},
        {"2e9 0.9 0.01", kAuto, "1: Dk \"0.9\" is below 1 in \"2e9 0.9 0.01\""},
        {"2e9 3.7 -0.01", kSigma, "1: conductivity \"-0.01\" is negative in \"2e9 3.7 -0.01\""},
        {"f,Dk", kAuto, "1: expected 3 columns (frequency, Dk, Df) in the header, found 2 in "
                            "\"f,Dk\""},
        {"f (rad/s),Dk,Df", kAuto, "1: unknown frequency unit \"rad/s\" in the header (use Hz, "
                                       "kHz, MHz, GHz or THz) in \"f (rad/s),Dk,Df\""},
        {"f (GHz),Dk,Df", mhz, "1: the header gives the frequency in GHz, not MHz as requested in "
                               "\"f (GHz),Dk,Df\""},
        {"f,Dk,Sigma", tangent, "1: the header names a conductivity column, but a loss tangent was "
                                "requested in \"f,Dk,Sigma\""},
        {ok + "0 3.7 0.01", kSigma, "3: frequency \"0\" with a conductivity gives no finite loss "
                                    "tangent in \"0 3.7 0.01\""},
        {ok + "1E9 3 0", kAuto, "3: frequency \"1E9\" occurs twice (also on line 1) in \"1E9 3 0\""},
        {ok, rad, " unknown frequency unit \"rad/s\" (use Hz, kHz, MHz, GHz or THz)"},
        {"# no samples\nFrequency (GHz) Dk Df\n", kAuto, " holds no samples"},
        {ok, kAuto, " holds 2 samples; at least 3 are needed"},
        {ok + std::string(1, '\0'), kAuto, " is not a text file (it holds NUL bytes)"},
        // Quoted text: control characters shown as '?'; cut after 60 bytes,
        // but not inside a UTF-8 sequence.
        {line59 + "\x01", kAuto, "1: " + four + line59 + "?\""},
        {line59 + "\xC3\xA9", kAuto, "1: " + four + line59 + "...\""},
    };
    for (const auto& [text, options, message] : cases)
        EXPECT_THAT([&] { ParseMaterialText(text, "m.txt", options); },
                    ThrowsMessage<MaterialFileError>("m.txt:" + message));
}

TEST(MaterialFile, ReadsAFileAndKeepsTheMessagePartsForCallers) {
    const ScratchDir scratch;
    const std::string path = scratch / "m.csv", missing = scratch / "none.txt";
    std::ofstream(path) << "Frequency (GHz),Dk,Df\n1,3.7,0.01\n2,3.6,0.02\n5,3.5,0.03\n";
    const MaterialTable t = ReadMaterialFile(path, {});
    EXPECT_EQ(t.path, path);
    EXPECT_THAT(t.header, ElementsAre("Frequency (GHz)", "Dk", "Df"));
    EXPECT_THAT(t.freq, ElementsAre(1e9, 2e9, 5e9));
    EXPECT_THAT([&] { ReadMaterialFile(missing, {}); },
                Throws(missing + ": cannot open: No such file or directory"));
    EXPECT_THAT([&] { ReadMaterialFile(scratch.dir, {}); },
                Throws(scratch.dir + ": is a directory, not a material file"));
    EXPECT_THAT([] { ParseMaterialText("1e9 3.7 0.01\n2e9 3.7", "m.txt", {}); },
                ::testing::Throws<MaterialFileError>(::testing::AllOf(
                    Property(&MaterialFileError::Path, "m.txt"),
                    Property(&MaterialFileError::Line, 2),
                    Property(&MaterialFileError::Reason,
                             "expected 3 values (frequency, Dk, Df), found 2"),
                    Property(&MaterialFileError::Text, "2e9 3.7"))));
}

TEST(NumberText, ReadsWhatPeopleWriteAndNothingMore) {
    const std::pair<const char*, double> numbers[] = {{"1e9", 1e9}, {" \t+2.5E-3\v\f", 2.5e-3},
        {"-.5", -0.5}, {"1e-999", 0.0}, {"-1e999", -HUGE_VAL}, {"inf", HUGE_VAL}};
    for (const auto& [text, value] : numbers) EXPECT_EQ(ParseNumber(text), value) << text;
    EXPECT_TRUE(std::isnan(ParseNumber("nan").value_or(0.0)));
    for (const char* bad : {"", "+", "--1", "+-1", "- 1", "1,5", "1.5x", "0x10", "1 2", "e5"})
        EXPECT_FALSE(ParseNumber(bad)) << bad;

    const std::pair<const char*, double> frequencies[] = {{"1e9", 1e9}, {"10GHz", 1e10},
        {"2.5 MHz", 2.5e6}, {"3thz", 3e12}, {"7. kHz", 7e3}, {"50Hz", 50.0}};
    for (const auto& [text, hertz] : frequencies) EXPECT_EQ(ParseFrequency(text), hertz) << text;
    for (const char* bad : {"GHz", "10 GH", "10GHz5", "", "1,5 GHz", "10 rad/s"})
        EXPECT_FALSE(ParseFrequency(bad)) << bad;
    // Case does not matter: no one means millihertz.
    EXPECT_EQ(ParseFrequencyUnit(" mHz ").value_or(FrequencyUnit{}).hertz, 1e6);
    EXPECT_EQ(ParseFrequencyUnit("THZ").value_or(FrequencyUnit{}).name, "THz");
    for (const char* bad : {"gigahertz", "Hz2", "k Hz", ""})
        EXPECT_FALSE(ParseFrequencyUnit(bad)) << bad;

    for (double v : {0.1, 1.0 / 3.0, -2.5e-7, 6.02214076e23, 5e-324, 1.7976931348623157e308})
        EXPECT_EQ(ParseNumber(FormatShortest(v)), v) << FormatShortest(v);
}

TEST(NumberText, WritesNumbersTheSameWayEverywhere) {
    const std::pair<std::string, const char*> cases[] = {
        {FormatGeneral(1234567.0, 3), "1.23e+06"}, {FormatGeneral(1e-4, 3), "0.0001"},
        {FormatGeneral(1.5e-5, 3), "1.5e-05"}, {FormatGeneral(100.0, 6), "100"},
        {FormatGeneral(NAN, 3), "nan"}, {FormatGeneral(-HUGE_VAL, 3), "-inf"},
        {FormatShortest(0.1), "0.1"}, {FormatShortest(1e21), "1e+21"},
        {FormatFixed(2.345, 1), "2.3"}, {FormatFixed(-0.004, 2), "0.00"}, {FormatFixed(-0.4, 0), "0"},
        {FormatFixed(-0.006, 2), "-0.01"}, {FormatFixed(-10.0, 0), "-10"},
        {FormatFrequency(0.0), "0 Hz"}, {FormatFrequency(0.1), "0.1 Hz"},
        {FormatFrequency(999.4), "999.4 Hz"}, {FormatFrequency(77.47e6), "77.47 MHz"},
        {FormatFrequency(999.99e3), "1 MHz"}, {FormatFrequency(-2e9), "-2 GHz"},
        {FormatFrequency(2.5e12), "2.5 THz"}, {FormatFrequency(3e15), "3 PHz"},
        {FormatFrequency(123456.0, 3), "123 kHz"}, {FormatFrequency(HUGE_VAL), "inf Hz"},
        {FormatPercent(0.00421), "0.421 %"}, {FormatPercent(0.5, 2), "50 %"},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

TEST(AtomicFile, ReplacesTheFileWholeOrLeavesTheEarlierOneAndNoLeftovers) {
    const ScratchDir scratch;
    const std::string path = scratch / "out.txt", lost = scratch / "no/out.txt";
    auto content = [&] {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const mode_t umask = ::umask(027);
    WriteFileAtomically(path, "first");
    WriteFileAtomically(path, "second, longer");
    ::umask(umask);
    EXPECT_EQ(content(), "second, longer");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));  // as a plain new file would be

    // A write that fails halfway: the file size limit stops it after 4 bytes.
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit unlimited = limit;
    limit.rlim_cur = 4;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_THAT([&] { WriteFileAtomically(path, "third, too long"); },
                Throws("cannot write " + path + ": File too large"));
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(content(), "second, longer");
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.dir), fs::directory_iterator()), 1);

    EXPECT_THAT([&] { WriteFileAtomically(lost, "x"); },
                Throws("cannot write " + lost + ": No such file or directory"));
    EXPECT_THAT([&] { WriteFileAtomically(scratch.dir, "x"); },
                Throws("cannot write " + scratch.dir + ": it is a directory"));
}

}  // namespace
