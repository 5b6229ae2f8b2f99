// Reading material files (every layout, and every message once, exactly), the
// locale-free number text underneath, and writing a file atomically.
#include <cmath>
#include <csignal>
#include <filesystem>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "io/atomic_file.h"
#include "io/material_file.h"
#include "io/number_text.h"

namespace {

namespace fs = std::filesystem;
using namespace matmodel;

const ReadOptions kAuto, kSigma{"", LossKind::kConductivity};

// What `call` threw (a MaterialFileError is a std::runtime_error).
template <typename Call>
std::string Refusal(Call call) try { call(); return {}; } catch (const std::runtime_error& e) { return e.what(); }

// Each layout holds 1, 2, 5 GHz with Dk 3.7, 3.6, 3.5 and loss 0.01, 0.02, 0.03.
// The summary: format, unit, loss kind, header columns, "sorted" when the file
// was not in order, and each sample's source line.
TEST(MaterialFile, ReadsTheSameSamplesFromEveryLayout) {
    const std::vector<std::tuple<const char*, ReadOptions, const char*>> cases = {
        {"Freq Eps(r) tanD\n1e9 3.7 0.01\n2e9 3.6 0.02\n5e9 3.5 0.03", kAuto, "whitespace Hz Df 3 2 3 4"},
        {"\"1e9\",3.7,0.01\n2e9,\t3.6 ,0.02,\n5e9,3.5,0.03\n", kAuto, "csv Hz Df 0 1 2 3"},
        {"1;3,7;0,01\n2;3,6;0,02\n5;3.5;0.03\n", {"GHz", LossKind::kConductivity}, "semicolon GHz sigma 0 1 2 3"},
        {"\xEF\xBB\xBF" "Freq (GHz), Dk, Df\r\n1, 3.7, 0.01\r\n2,3.6,.02\r\n+5E+00,3.5,3e-2\r\n", {"ghz"},
         "csv GHz Df 3 2 3 4"},
        {"#\n\n5e9 3.5 0.03 # last\n \t\n1e9 3.7 0.01\n#\n2e9 3.6 0.02", kAuto, "whitespace Hz Df 0 sorted 5 7 3"},
        // No one means millihertz.
        {"\"f [mHz]\"\tDk\tsigma\n1000\t3.7\t0.01\n2000\t3.6\t0.02\n5000\t3.5\t0.03\n", kAuto, "tsv MHz sigma 3 2 3 4"},
        {"Frequency [kHz] Dk (S/m)\n1e6 3.7 0.01\n2e6 3.6 0.02\n5e6 3.5 0.03\n", kSigma, "whitespace kHz sigma 4 2 3 4"},
        {"FreqGHz Dk tan delta\n1 3.7 0.01\n2 3.6 0.02\n5 3.5 0.03\n", kAuto, "whitespace GHz Df 4 2 3 4"},
    };
    for (const auto& [text, options, summary] : cases) {
        const MaterialTable t = ParseMaterialText(text, "m.txt", options);
        std::string got = t.format + " " + t.freqUnit.name + (t.lossKind == LossKind::kConductivity ? " sigma " : " Df ") +
                          std::to_string(t.header.size()) + (t.reordered ? " sorted" : "");
        for (int line : t.line) got += " " + std::to_string(line);
        EXPECT_EQ(got, summary) << text;
        EXPECT_EQ((std::vector<std::vector<double>>{t.freq, t.dk, t.loss}),
                  (std::vector<std::vector<double>>{{1e9, 2e9, 5e9}, {3.7, 3.6, 3.5}, {0.01, 0.02, 0.03}})) << text;
    }
}

// `reason` is "LINE: WHY", the message then quoting that line (the text's
// last); or " WHY" for the file as a whole.
TEST(MaterialFile, NamesTheFileLineAndTextOfEveryFault) {
    const std::string ok = "1e9 3.7 0.01\n2e9 3.6 0.02\n";
    const std::vector<std::tuple<std::string, ReadOptions, std::string>> cases = {
        {ok + "Freq Dk Df", kAuto, "3: frequency \"Freq\" is not a number"},
        {"5 3,7 1", kAuto, "1: Dk \"3,7\" is not a number (use a decimal point)"},
        {"5e9 3.7 1e999", kAuto, "1: Df \"1e999\" is not a finite number"},
        {"1,3,7,0,01", kAuto,
         "1: expected 3 values (frequency, Dk, Df), found 5 (decimal commas need a semicolon between the columns)"},
        {"f,dk,df\n2e9,,0.01", kAuto, "2: empty Dk field"},
        {"-2e9 3.7 0.01", kAuto, "1: frequency \"-2e9\" is negative"},
        {"2e9 0.9 0.01", kAuto, "1: Dk \"0.9\" is below 1"},
        {"2e9 3.7 -0.01", kSigma, "1: conductivity \"-0.01\" is negative"},
        {"f,Dk", kAuto, "1: expected 3 columns (frequency, Dk, Df) in the header, found 2"},
        {"f (rad/s),Dk,Df", kAuto, "1: unknown frequency unit \"rad/s\" in the header (use Hz, kHz, MHz, GHz or THz)"},
        {"f (GHz),Dk,Df", {"MHz"}, "1: the header gives the frequency in GHz, not MHz as requested"},
        {"f,Dk,Sigma", {"", LossKind::kLossTangent},
         "1: the header names a conductivity column, but a loss tangent was requested"},
        {ok + "0 3.7 0.01", kSigma, "3: frequency \"0\" with a conductivity gives no finite loss tangent"},
        {ok + "1E9 3 0", kAuto, "3: frequency \"1E9\" occurs twice (also on line 1)"},
        {ok, {"rad/s"}, " unknown frequency unit \"rad/s\" (use Hz, kHz, MHz, GHz or THz)"},
        {"# no samples\nFrequency (GHz) Dk Df\n", kAuto, " holds no samples"},
        {ok, kAuto, " holds 2 samples; at least 3 are needed"},
        {ok + std::string(1, '\0'), kAuto, " is not a text file (it holds NUL bytes)"},
    };
    for (const auto& [text, options, reason] : cases) {
        const std::string quoted = reason[0] == ' ' ? "" : " in \"" + text.substr(text.rfind('\n') + 1) + "\"";
        EXPECT_EQ(Refusal([&t = text, &o = options] { ParseMaterialText(t, "m.txt", o); }), "m.txt:" + reason + quoted);
    }
    // Quoted text: control characters shown as '?'; cut after 60 bytes, but not
    // inside a UTF-8 sequence.
    const std::string line59 = "1e9 3.7 0.01 " + std::string(46, '9');
    const std::string four = "m.txt:1: expected 3 values (frequency, Dk, Df), found 4 in \"" + line59;
    EXPECT_EQ(Refusal([&] { ParseMaterialText(line59 + "\x01", "m.txt", {}); }), four + "?\"");
    EXPECT_EQ(Refusal([&] { ParseMaterialText(line59 + "\xC3\xA9", "m.txt", {}); }), four + "...\"");
}

// Each text with what ParseNumber and ParseFrequency make of it (-1: refused).
TEST(NumberText, ReadsWhatPeopleWriteAndNothingMore) {
    const std::tuple<const char*, double, double> cases[] = {
        {"1e9", 1e9, 1e9}, {" \t+2.5E-3\v\f", 2.5e-3, 2.5e-3}, {"-.5", -0.5, -0.5}, {"1e-999", 0.0, 0.0},
        {"-1e999", -HUGE_VAL, -HUGE_VAL}, {"inf", HUGE_VAL, HUGE_VAL}, {"10GHz", -1, 1e10}, {"2.5 MHz", -1, 2.5e6},
        {"3thz", -1, 3e12}, {"7. kHz", -1, 7e3}, {"50Hz", -1, 50.0}, {"GHz", -1, -1}, {"10 GH", -1, -1},
        {"10GHz5", -1, -1}, {"1,5 GHz", -1, -1}, {"10 rad/s", -1, -1}, {"", -1, -1}, {"+", -1, -1}, {"--1", -1, -1},
        {"+-1", -1, -1}, {"- 1", -1, -1}, {"1,5", -1, -1}, {"1.5x", -1, -1}, {"0x10", -1, -1}, {"1 2", -1, -1},
        {"e5", -1, -1}};
    for (const auto& [text, number, hertz] : cases) {
        EXPECT_EQ(ParseNumber(text).value_or(-1), number) << text;
        EXPECT_EQ(ParseFrequency(text).value_or(-1), hertz) << text;
    }
}

TEST(NumberText, WritesNumbersTheSameWayEverywhere) {
    const std::pair<std::string, const char*> cases[] = {
        {FormatGeneral(1234567.0, 3), "1.23e+06"}, {FormatGeneral(NAN, 3), "nan"}, {FormatGeneral(-HUGE_VAL, 3), "-inf"},
        {FormatShortest(1e21), "1e+21"}, {FormatFixed(2.345, 1), "2.3"}, {FormatFixed(-0.004, 2), "0.00"},
        {FormatFixed(-0.4, 0), "0"}, {FormatFixed(-0.006, 2), "-0.01"}, {FormatFixed(-10.0, 0), "-10"},
        {FormatFrequency(0.0), "0 Hz"}, {FormatFrequency(999.4), "999.4 Hz"}, {FormatFrequency(999.99e3), "1 MHz"},
        {FormatFrequency(-2e9), "-2 GHz"}, {FormatFrequency(3e15), "3 PHz"}, {FormatFrequency(123456.0, 3), "123 kHz"},
        {FormatFrequency(HUGE_VAL), "inf Hz"}, {FormatPercent(0.00421), "0.421 %"}, {FormatPercent(0.5, 2), "50 %"}};
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

// Written atomically, read back: a file is replaced whole or not at all.
TEST(MaterialFiles, AreWrittenWholeOrNotAtAllAndReadBack) {
    const std::string d = fs::temp_directory_path() / ("matmodel-io-" + std::to_string(::getpid()));
    const std::string path = d + "/m.csv", lost = d + "/no/m.csv";
    fs::create_directories(d);
    const mode_t umask = ::umask(027);
    WriteFileAtomically(path, "1e9 3.7 0.01\n");
    WriteFileAtomically(path, "Frequency (GHz),Dk,Df\n1,3.7,0.01\n2,3.6,0.02\n5,3.5,0.03\n");
    ::umask(umask);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));  // as a plain new file would be
    // A write that fails halfway: the file size limit stops it after 4 bytes.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit four{4, saved.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);  // a failed write, not a killed process
    ::setrlimit(RLIMIT_FSIZE, &four);
    const std::string tooLarge = Refusal([&] { WriteFileAtomically(path, "1e9 3.7 0.01\n"); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(tooLarge, "cannot write " + path + ": File too large");
    EXPECT_EQ(ReadMaterialFile(path, {}).freq, (std::vector<double>{1e9, 2e9, 5e9}));
    EXPECT_EQ(std::distance(fs::directory_iterator(d), fs::directory_iterator()), 1);  // no leftovers
    EXPECT_EQ(Refusal([&] { WriteFileAtomically(lost, "x"); }), "cannot write " + lost + ": No such file or directory");
    EXPECT_EQ(Refusal([&] { WriteFileAtomically(d, "x"); }), "cannot write " + d + ": it is a directory");
    EXPECT_EQ(Refusal([&] { ReadMaterialFile(lost, {}); }), lost + ": cannot open: No such file or directory");
    EXPECT_EQ(Refusal([&] { ReadMaterialFile(d, {}); }), d + ": is a directory, not a material file");
    fs::remove_all(d);
}

}  // namespace
