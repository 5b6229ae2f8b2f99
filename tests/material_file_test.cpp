// The material-file reader: layouts, header units, comments, and the one-line
// messages that name the file, the line and the offending text.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "io/material_file.h"

namespace {

using matmodel::LossKind;
using matmodel::MaterialFileError;
using matmodel::MaterialTable;
using matmodel::ParseMaterialText;
using matmodel::ReadOptions;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

MaterialTable Parse(const std::string& text, ReadOptions options = {}) {
    return ParseMaterialText(text, "m.txt", options);
}

// The message of the error that reading `text` raises ("" if it reads).
std::string ErrorOf(const std::string& text, ReadOptions options = {}) {
    try {
        Parse(text, options);
    } catch (const MaterialFileError& e) {
        return e.what();
    }
    return "";
}

TEST(MaterialFile, ReadsTheSameSamplesFromEveryLayout) {
    const std::vector<std::string> layouts = {
        "1e9 3.7 0.01\n2e9 3.6 0.02\n5e9 3.5 0.03\n",
        "1e9,3.7,0.01\n2e9,3.6,0.02\n5e9,3.5,0.03\n",
        "1e9\t3.7\t0.01\n2e9\t3.6\t0.02\n5e9\t3.5\t0.03\n",
        "1e9;3,7;0,01\n2e9;3,6;0,02\n5e9;3,5;0,03\n",  // decimal commas
        "\xEF\xBB\xBF" "1e9, 3.7, 0.01,\r\n2e9, 3.6, 0.02,\r\n+5E+09, 3.5, .03,\r\n",
    };
    const std::vector<std::string> names = {"whitespace", "csv", "tsv", "semicolon", "csv"};
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        SCOPED_TRACE(layouts[i]);
        const MaterialTable t = Parse(layouts[i]);
        EXPECT_EQ(t.format, names[i]);
        EXPECT_THAT(t.freq, ElementsAre(1e9, 2e9, 5e9));
        EXPECT_THAT(t.dk, ElementsAre(3.7, 3.6, 3.5));
        EXPECT_THAT(t.loss, ElementsAre(0.01, 0.02, 0.03));
        EXPECT_THAT(t.line, ElementsAre(1, 2, 3));
        EXPECT_EQ(t.lossKind, LossKind::kLossTangent);
        EXPECT_TRUE(t.header.empty());
    }
}

TEST(MaterialFile, SkipsCommentsAndBlankLinesButCountsThemAsLines) {
    const MaterialTable t = Parse(
        "# measured 2024\n"
        "\n"
        "1e9 3.7 0.01   # resonator\n"
        "   \n"
        "2e9 3.6 0.02\n"
        "#\n"
        "3e9 3.5 0.03");  // no final newline
    EXPECT_THAT(t.freq, ElementsAre(1e9, 2e9, 3e9));
    EXPECT_THAT(t.line, ElementsAre(3, 5, 7));
}

TEST(MaterialFile, TakesTheFrequencyUnitFromTheHeader) {
    struct Case {
        const char* header;
        double hertz;
        const char* unit;
    };
    for (const Case& c : {Case{"Frequency (GHz), Dk, Df", 1e9, "GHz"},
                          Case{"\"f [MHz]\",\"Dk\",\"Df\"", 1e6, "MHz"},
                          Case{"freq_kHz,eps_r,tand", 1e3, "kHz"},
                          Case{"FreqTHz,Dk,Df", 1e12, "THz"},
                          Case{"Frequency,Dk,Df", 1.0, "Hz"},
                          Case{"Frequency (ghz) Dk Df", 1e9, "GHz"}}) {
        SCOPED_TRACE(c.header);
        const std::string sep = std::string(c.header).find(',') != std::string::npos ? "," : " ";
        const MaterialTable t =
            Parse(std::string(c.header) + "\n2" + sep + "3.7" + sep + "0.01\n3" + sep + "3.6" +
                  sep + "0.01\n4" + sep + "3.5" + sep + "0.01\n");
        EXPECT_EQ(t.freqUnit.name, c.unit);
        EXPECT_THAT(t.freq, ElementsAre(2 * c.hertz, 3 * c.hertz, 4 * c.hertz));
        EXPECT_FALSE(t.header.empty());
        EXPECT_THAT(t.line, ElementsAre(2, 3, 4));
    }
}

TEST(MaterialFile, RequestedUnitAppliesToHeaderlessFilesAndMustAgreeWithAHeader) {
    ReadOptions ghz;
    ghz.freqUnit = "ghz";
    EXPECT_THAT(Parse("1 3.7 0.01\n2 3.6 0.01\n3 3.5 0.01\n", ghz).freq, ElementsAre(1e9, 2e9, 3e9));
    EXPECT_EQ(Parse("Frequency (GHz),Dk,Df\n1,3.7,0.01\n2,3.6,0.01\n3,3.5,0.01\n", ghz).freq[0], 1e9);

    ReadOptions mhz;
    mhz.freqUnit = "MHz";
    EXPECT_EQ(ErrorOf("Frequency (GHz),Dk,Df\n1,3.7,0.01\n", mhz),
              "m.txt:1: the header gives the frequency in GHz, not MHz as requested in "
              "\"Frequency (GHz),Dk,Df\"");
    ReadOptions bad;
    bad.freqUnit = "rad/s";
    EXPECT_EQ(ErrorOf("1 3.7 0.01\n", bad),
              "m.txt: unknown frequency unit \"rad/s\" (use Hz, kHz, MHz, GHz or THz)");
    EXPECT_EQ(ErrorOf("Frequency (rad/s),Dk,Df\n1,3.7,0.01\n"),
              "m.txt:1: unknown frequency unit \"rad/s\" in the header (use Hz, kHz, MHz, GHz or "
              "THz) in \"Frequency (rad/s),Dk,Df\"");
}

TEST(MaterialFile, HeaderCanNameAConductivityColumnButNotContradictTheCaller) {
    const std::string conductive =
        "Frequency (MHz)\tDk\tSigma (S/m)\n10\t6.2\t2e-5\n100\t6.1\t2e-4\n1000\t6.0\t2e-3\n";
    EXPECT_EQ(Parse(conductive).lossKind, LossKind::kConductivity);

    ReadOptions tangent;
    tangent.lossKind = LossKind::kLossTangent;
    EXPECT_THAT(ErrorOf(conductive, tangent),
                HasSubstr("m.txt:1: the header names a conductivity column, but a loss tangent "
                          "was requested"));

    ReadOptions conductivity;
    conductivity.lossKind = LossKind::kConductivity;
    EXPECT_EQ(Parse("1e9 4 0.01\n2e9 4 0.02\n3e9 4 0.03\n", conductivity).lossKind,
              LossKind::kConductivity);
    EXPECT_THAT(ErrorOf("Freq,Dk,Df\n1e9,4,0.01\n", conductivity),
                HasSubstr("the header names a loss tangent column, but a conductivity"));
}

TEST(MaterialFile, SortsByFrequencyAndKeepsEachSampleWithItsLine) {
    const MaterialTable t = Parse("5e9 3.5 0.03\n1e9 3.7 0.01\n2e9 3.6 0.02\n");
    EXPECT_TRUE(t.reordered);
    EXPECT_THAT(t.freq, ElementsAre(1e9, 2e9, 5e9));
    EXPECT_THAT(t.dk, ElementsAre(3.7, 3.6, 3.5));
    EXPECT_THAT(t.loss, ElementsAre(0.01, 0.02, 0.03));
    EXPECT_THAT(t.line, ElementsAre(2, 3, 1));
    EXPECT_FALSE(Parse("1e9 3.7 0.01\n2e9 3.6 0.02\n5e9 3.5 0.03\n").reordered);
}

TEST(MaterialFile, NamesTheFileLineAndTextOfABadLine) {
    const std::string head = "# comment\n1e9 3.7 0.01\n";
    const std::string tail = "\n5e9 3.5 0.03\n6e9 3.5 0.03\n";
    struct Case {
        const char* line;
        const char* message;
    };
    for (const Case& c : {
             Case{"2e9 3.7x 0.01", "m.txt:3: Dk \"3.7x\" is not a number in \"2e9 3.7x 0.01\""},
             Case{"2e9 3.7", "m.txt:3: expected 3 values (frequency, Dk, Df), found 2 in \"2e9 3.7\""},
             Case{"2e9 3.7 0.01 7", "m.txt:3: expected 3 values (frequency, Dk, Df), found 4 in "
                                    "\"2e9 3.7 0.01 7\""},
             Case{"2e9 0.9 0.01", "m.txt:3: Dk \"0.9\" is below 1 in \"2e9 0.9 0.01\""},
             Case{"-2e9 3.7 0.01", "m.txt:3: frequency \"-2e9\" is negative in \"-2e9 3.7 0.01\""},
             Case{"2e9 3.7 -0.01", "m.txt:3: Df \"-0.01\" is negative in \"2e9 3.7 -0.01\""},
             Case{"2e9 nan 0.01", "m.txt:3: Dk \"nan\" is not a finite number in \"2e9 nan 0.01\""},
             Case{"2e9 3.7 1e999", "m.txt:3: Df \"1e999\" is not a finite number in \"2e9 3.7 1e999\""},
             Case{"2e9 3,7 0.01", "m.txt:3: Dk \"3,7\" is not a number (use a decimal point) in "
                                  "\"2e9 3,7 0.01\""},
             Case{"Freq Dk Df", "m.txt:3: frequency \"Freq\" is not a number in \"Freq Dk Df\""},
             Case{"1e9 3.6 0.02", "m.txt:3: frequency \"1e9\" occurs twice (also on line 2) in "
                                  "\"1e9 3.6 0.02\""},
         }) {
        EXPECT_EQ(ErrorOf(head + c.line + tail), c.message);
    }
}

TEST(MaterialFile, ReportsBadCsvLinesAndShortensLongOnes) {
    EXPECT_EQ(ErrorOf("f,dk,df\n1e9,3.7,0.01\n2e9,,0.01\n"),
              "m.txt:3: empty Dk field in \"2e9,,0.01\"");
    EXPECT_EQ(ErrorOf("1e9,3,7,0,01\n"),
              "m.txt:1: expected 3 values (frequency, Dk, Df), found 5 (decimal commas need a "
              "semicolon between the columns) in \"1e9,3,7,0,01\"");
    EXPECT_EQ(ErrorOf("Frequency,Dk\n"),
              "m.txt:1: expected 3 columns (frequency, Dk, Df) in the header, found 2 in "
              "\"Frequency,Dk\"");

    try {
        Parse("1e9 3.7 0.01 " + std::string(200, '9') + "\x01\n");
        FAIL() << "a line of four values was accepted";
    } catch (const MaterialFileError& e) {
        EXPECT_EQ(e.Path(), "m.txt");
        EXPECT_EQ(e.Line(), 1);
        EXPECT_EQ(e.Reason(), "expected 3 values (frequency, Dk, Df), found 4");
        EXPECT_EQ(e.Text(), "1e9 3.7 0.01 " + std::string(47, '9') + "...");
    }
}

TEST(MaterialFile, ChecksConductivityRowsWithTheirOwnWords) {
    ReadOptions conductivity;
    conductivity.lossKind = LossKind::kConductivity;
    EXPECT_EQ(ErrorOf("1e9 4 0.01\n2e9 4 -0.01\n3e9 4 0.01\n", conductivity),
              "m.txt:2: conductivity \"-0.01\" is negative in \"2e9 4 -0.01\"");
    EXPECT_EQ(ErrorOf("1e9 4 0.01\n0 4 0.01\n3e9 4 0.01\n", conductivity),
              "m.txt:2: frequency \"0\" with a conductivity gives no finite loss tangent in "
              "\"0 4 0.01\"");
    // A loss tangent table may well start at 0 Hz.
    EXPECT_EQ(Parse("0 4 0.01\n1e9 4 0.01\n2e9 4 0.01\n").freq[0], 0.0);
}

TEST(MaterialFile, RefusesFilesWithoutEnoughSamples) {
    EXPECT_EQ(ErrorOf(""), "m.txt: holds no samples");
    EXPECT_EQ(ErrorOf("# only a comment\nFrequency (GHz) Dk Df\n"), "m.txt: holds no samples");
    EXPECT_EQ(ErrorOf("1e9 3.7 0.01\n2e9 3.6 0.01\n"), "m.txt: holds 2 samples; at least 3 are needed");
    EXPECT_EQ(ErrorOf(std::string("1e9 3.7 0.01\n\0", 14)),
              "m.txt: is not a text file (it holds NUL bytes)");
}

TEST(MaterialFile, ReportsFilesThatCannotBeOpened) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::string missing = (dir / "matmodel-no-such-file.txt").string();
    try {
        matmodel::ReadMaterialFile(missing, {});
        FAIL() << "a missing file was read";
    } catch (const MaterialFileError& e) {
        EXPECT_EQ(std::string(e.what()), missing + ": cannot open: No such file or directory");
        EXPECT_EQ(e.Line(), 0);
    }
    EXPECT_THROW(matmodel::ReadMaterialFile(dir.string(), {}), MaterialFileError);

    const std::string path = (dir / ("matmodel-reader-" + std::to_string(::getpid()) + ".csv")).string();
    std::ofstream(path) << "Frequency (GHz),Dk,Df\n1,3.7,0.01\n2,3.6,0.01\n3,3.5,0.01\n";
    const MaterialTable t = matmodel::ReadMaterialFile(path, {});
    std::remove(path.c_str());
    EXPECT_EQ(t.path, path);
    EXPECT_THAT(t.freq, ElementsAre(1e9, 2e9, 3e9));
    EXPECT_THAT(t.header, ElementsAre("Frequency (GHz)", "Dk", "Df"));
}

TEST(ParseNumber, AcceptsWhatPeopleWriteAndNothingMore) {
    EXPECT_EQ(matmodel::ParseNumber("1e9"), 1e9);
    EXPECT_EQ(matmodel::ParseNumber(" +2.5E-3 "), 2.5e-3);
    EXPECT_EQ(matmodel::ParseNumber("-.5"), -0.5);
    EXPECT_EQ(matmodel::ParseNumber("1e-999"), 0.0);
    EXPECT_TRUE(std::isinf(*matmodel::ParseNumber("-1e999")));
    for (const char* bad : {"", "+", "1,5", "1.5x", "+-1", "- 1", "0x10", "1 2", "e5"})
        EXPECT_FALSE(matmodel::ParseNumber(bad)) << bad;
}

}  // namespace
