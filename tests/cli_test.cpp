// The matmodel binary as a user runs it: exit statuses, messages, and every
// output format read back.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "expr_eval.h"
#include "xml_check.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// Expressions carry eight significant digits.
constexpr double kExpressionDigits = 1e-6;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream ss(text);
    for (std::string l; std::getline(ss, l);) lines.push_back(l);
    return lines;
}

double ToDouble(const std::string& text) {
    double v = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    EXPECT_TRUE(res.ec == std::errc() && res.ptr == text.data() + text.size()) << text;
    return v;
}

std::string Example(const char* name) { return std::string(MATMODEL_EXAMPLES_DIR) + "/" + name; }

// Each test runs the tool in a fresh directory of its own.
class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::temp_directory_path() /
                ("matmodel-cli-" + std::to_string(::getpid()) + "-" + info->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    Result Run(const std::string& args) {
        const std::string cmd = "cd '" + m_dir.string() + "' && '" MATMODEL_CLI "' " + args +
                                " >.stdout 2>.stderr";
        const int raw = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadAll(m_dir / ".stdout");
        r.err = ReadAll(m_dir / ".stderr");
        fs::remove(m_dir / ".stdout");
        fs::remove(m_dir / ".stderr");
        return r;
    }

    std::string Write(const std::string& name, const std::string& content) {
        std::ofstream(m_dir / name, std::ios::binary) << content;
        return (m_dir / name).string();
    }

    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_dir;
};

// The CSV table as columns of numbers, after checking its header.
std::vector<std::vector<double>> ReadTable(const fs::path& p) {
    const auto lines = Lines(ReadAll(p));
    EXPECT_FALSE(lines.empty());
    EXPECT_EQ(lines.at(0), "frequency_hz,dk_measured,df_measured,dk_causal,dk_fitted,df_fitted");
    std::vector<std::vector<double>> columns(6);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::stringstream ss(lines[i]);
        std::size_t c = 0;
        for (std::string cell; std::getline(ss, cell, ','); ++c) {
            if (c < 6) columns[c].push_back(ToDouble(cell));
        }
        EXPECT_EQ(c, 6u) << lines[i];
    }
    return columns;
}

std::vector<json> JsonLines(const std::string& out) {
    std::vector<json> docs;
    for (const std::string& l : Lines(out)) docs.push_back(json::parse(l));
    return docs;
}

TEST_F(Cli, FitPrintsTheModelOfAnExample) {
    const Result r = Run("fit '" + Example("laminate.txt") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(r.out, StartsWith(Example("laminate.txt") + "\n"));
    EXPECT_THAT(r.out, HasSubstr("  samples      6, 1 GHz to 20 GHz"));
    EXPECT_THAT(r.out, HasSubstr("Debye terms  delta_eps"));
    EXPECT_THAT(r.out, HasSubstr("  passive      yes: Df >= 0 at "));
    EXPECT_THAT(r.out, HasSubstr("\n  Dk(Freq) = "));
    EXPECT_THAT(r.out, HasSubstr("\n  Df(Freq) = 6.2831853*Freq*("));
}

TEST_F(Cli, JsonTableAndPlotDescribeTheSameModel) {
    const Result r = Run("fit '" + Example("broadband.csv") + "' --json --table fit.csv --plot fit.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto docs = JsonLines(r.out);
    ASSERT_EQ(docs.size(), 1u);
    const json& doc = docs[0];
    EXPECT_EQ(doc["status"], "ok");
    EXPECT_EQ(doc["input"]["samples"], 61);
    EXPECT_EQ(doc["input"]["format"], "csv");
    EXPECT_EQ(doc["input"]["frequency_unit"], "GHz");
    EXPECT_EQ(doc["outputs"]["table"], "fit.csv");
    EXPECT_EQ(doc["model"]["poles"].size(), doc["model"]["order"].get<std::size_t>());
    EXPECT_EQ(doc["model"]["residues"].size(), doc["model"]["order"].get<std::size_t>());
    EXPECT_TRUE(doc["passivity"]["passive"].get<bool>());
    EXPECT_EQ(doc["expressions"]["variable"], "Freq");

    const auto table = ReadTable(m_dir / "fit.csv");
    ASSERT_EQ(table[0].size(), 61u);
    EXPECT_EQ(table[0].front(), 1e6);  // "0.001" GHz
    EXPECT_EQ(table[0].back(), 4e10);
    EXPECT_TRUE(std::is_sorted(table[0].begin(), table[0].end()));
    ExpressionEvaluator dk(doc["expressions"]["dk"].get<std::string>(), "Freq");
    ExpressionEvaluator df(doc["expressions"]["df"].get<std::string>(), "Freq");
    for (std::size_t i = 0; i < table[0].size(); ++i) {
        EXPECT_NEAR(dk(table[0][i]), table[4][i], kExpressionDigits * table[4][i]);
        EXPECT_NEAR(df(table[0][i]), table[5][i], kExpressionDigits * table[5][i]);
    }

    const auto svg = XmlReader::Parse(ReadAll(m_dir / "fit.svg"));
    EXPECT_EQ(svg->name, "svg");
    EXPECT_EQ(svg->Attr("xmlns"), "http://www.w3.org/2000/svg");
    EXPECT_EQ(svg->FindAll([](const XmlElement& e) { return e.Attr("class") == "panel"; }).size(), 2u);
}

TEST_F(Cli, BadLineIsNamedByFileLineAndText) {
    const std::string path = Write("bad.txt", "# Dk and Df\n1e9 3.7 0.01\n2e9 3.6 0.01\n5e9 3..6 0.01\n");
    const Result r = Run("fit bad.txt");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "bad.txt:4: Dk \"3..6\" is not a number in \"5e9 3..6 0.01\"\n");
}

TEST_F(Cli, OneBadFileDoesNotStopTheOthers) {
    Write("bad.csv", "Frequency (GHz),Dk,Df\n1,3.7,0.01\n2,0.7,0.01\n3,3.6,0.01\n");
    const std::string args =
        "fit '" + Example("laminate.txt") + "' bad.csv '" + Example("conductive.tsv") + "'";

    const Result text = Run(args);
    EXPECT_EQ(text.status, 2);
    EXPECT_EQ(text.err, "bad.csv:3: Dk \"0.7\" is below 1 in \"2,0.7,0.01\"\n");
    EXPECT_THAT(text.out, HasSubstr(Example("laminate.txt") + "\n  samples"));
    EXPECT_THAT(text.out, HasSubstr(Example("conductive.tsv") + "\n  samples"));

    const Result js = Run(args + " --json");
    EXPECT_EQ(js.status, 2);
    const auto docs = JsonLines(js.out);
    ASSERT_EQ(docs.size(), 3u);
    EXPECT_EQ(docs[0]["status"], "ok");
    EXPECT_EQ(docs[1]["status"], "bad_input");
    EXPECT_EQ(docs[1]["source"], "bad.csv");
    EXPECT_EQ(docs[1]["error"]["line"], 3);
    EXPECT_EQ(docs[1]["error"]["text"], "2,0.7,0.01");
    EXPECT_EQ(docs[2]["status"], "ok");
    EXPECT_EQ(docs[2]["input"]["kind"], "conductivity");
}

TEST_F(Cli, FailedFitExitsOneAndBadInputOutranksIt) {
    // Df near 1 over the band: no causal passive Debye model matches it.
    Write("lossy.txt",
          "1e8 2.6 1.38\n2e8 2.57 1.22\n5e8 2.52 1.03\n1e9 2.49 0.91\n"
          "2e9 2.46 0.8\n5e9 2.42 0.68\n1e10 2.39 0.6\n2e10 2.35 0.54\n");
    Write("short.txt", "1e9 3.7 0.01\n2e9 3.6 0.01\n");

    const Result failed = Run("fit lossy.txt --json");
    EXPECT_EQ(failed.status, 1);
    EXPECT_THAT(failed.err, StartsWith("lossy.txt: fit failed: "));
    EXPECT_EQ(Lines(failed.err).size(), 1u);
    EXPECT_EQ(JsonLines(failed.out).at(0)["status"], "fit_failed");

    const Result both = Run("fit lossy.txt short.txt");
    EXPECT_EQ(both.status, 2);
    EXPECT_THAT(both.err, HasSubstr("short.txt: holds 2 samples; at least 3 are needed\n"));
}

TEST_F(Cli, LeavesNoPartialOrChangedOutputAfterAFailure) {
    Write("bad.txt", "1e9 3.7 0.01\n2e9 3.6\n3e9 3.5 0.01\n");
    Write("plot.svg", "earlier plot");
    const Result r = Run("fit bad.txt --plot plot.svg --table table.csv");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(ReadAll(m_dir / "plot.svg"), "earlier plot");
    EXPECT_THAT(Listing(), ElementsAre("bad.txt", "plot.svg"));

    const Result unwritable =
        Run("fit '" + Example("laminate.txt") + "' --plot missing/dir/plot.svg --json");
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_THAT(unwritable.err, HasSubstr("cannot write missing/dir/plot.svg: No such file"));
    EXPECT_EQ(JsonLines(unwritable.out).at(0)["status"], "bad_input");
    EXPECT_THAT(Listing(), ElementsAre("bad.txt", "plot.svg"));

    // A successful run replaces the earlier file and leaves no temporary behind.
    ASSERT_EQ(Run("fit '" + Example("laminate.txt") + "' --plot plot.svg").status, 0);
    EXPECT_THAT(ReadAll(m_dir / "plot.svg"), StartsWith("<?xml"));
    EXPECT_THAT(Listing(), ElementsAre("bad.txt", "plot.svg"));
}

TEST_F(Cli, ConductivityColumnIsConvertedToALossTangent) {
    Write("sigma.txt", "1e9 4.0 0.01\n2e9 4.0 0.02\n5e9 4.0 0.05\n1e10 4.0 0.1\n");
    const Result r = Run("fit --conductivity sigma.txt --json --table t.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(JsonLines(r.out).at(0)["input"]["kind"], "conductivity");
    // sigma / (2 pi f eps0 Dk): 0.01 S/m at 1 GHz with Dk 4 is a Df of 0.0449.
    EXPECT_NEAR(ReadTable(m_dir / "t.csv")[2].at(0), 0.0449, 1e-4);

    const Result plain = Run("fit sigma.txt --json");
    EXPECT_EQ(JsonLines(plain.out).at(0)["input"]["kind"], "loss_tangent");

    Write("df.csv", "Frequency,Dk,Df\n1e9,4,0.01\n2e9,4,0.01\n3e9,4,0.01\n");
    const Result conflict = Run("fit --conductivity df.csv");
    EXPECT_EQ(conflict.status, 2);
    EXPECT_THAT(conflict.err, HasSubstr("df.csv:1: the header names a loss tangent column"));
}

TEST_F(Cli, WidebandModelsTheSinglePoint) {
    const Result r = Run("wideband --dk 4.0 --df 0.02 --freq 1e9 --max-freq 1e10 --json --var F");
    ASSERT_EQ(r.status, 0) << r.err;
    const json doc = JsonLines(r.out).at(0);
    EXPECT_EQ(doc["input"]["kind"], "single_point");
    EXPECT_EQ(doc["input"]["samples"], 51);
    EXPECT_FALSE(doc["model"]["causal_reconstruction"].get<bool>());
    EXPECT_TRUE(doc["passivity"]["passive"].get<bool>());
    ExpressionEvaluator dk(doc["expressions"]["dk"].get<std::string>(), "F");
    ExpressionEvaluator df(doc["expressions"]["df"].get<std::string>(), "F");
    EXPECT_NEAR(dk(1e9), 4.0, 0.01);
    EXPECT_NEAR(df(1e9), 0.02, 0.0005);

    // Frequencies may carry a unit.
    const Result units = Run("wideband --dk 4.0 --df 0.02 --freq 1GHz --max-freq '10 GHz' --json --var F");
    EXPECT_EQ(JsonLines(units.out).at(0)["expressions"], doc["expressions"]);

    const Result bad = Run("wideband --dk 4.0 --df 0.02 --freq 1e9 --max-freq 2");
    EXPECT_EQ(bad.status, 2);
    EXPECT_THAT(bad.err, StartsWith("wideband: the maximum frequency 2 Hz gives fewer than 3"));
}

TEST_F(Cli, FrequencyUnitAndVariableOptions) {
    Write("ghz.txt", "1 3.7 0.01\n2 3.65 0.011\n5 3.6 0.012\n10 3.58 0.013\n");
    const Result r = Run("fit --freq-unit GHz ghz.txt --table t.csv --var f_hz");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(ReadTable(m_dir / "t.csv")[0], ElementsAre(1e9, 2e9, 5e9, 1e10));
    EXPECT_THAT(r.out, HasSubstr("\n  Dk(f_hz) = "));
    EXPECT_THAT(r.out, Not(HasSubstr("Freq")));

    EXPECT_EQ(Run("fit --freq-unit rad ghz.txt").status, 2);
    EXPECT_EQ(Run("fit ghz.txt --var '2x'").status, 2);
}

TEST_F(Cli, SeveralFilesWriteOneOutputEachOrNone) {
    Write("a.txt", ReadAll(Example("laminate.txt")));
    Write("b.txt", ReadAll(Example("laminate.txt")));
    const Result clash = Run("fit a.txt b.txt --plot plot.svg");
    EXPECT_EQ(clash.status, 2);
    EXPECT_THAT(clash.err, HasSubstr("must contain {}"));
    EXPECT_THAT(Listing(), ElementsAre("a.txt", "b.txt"));

    EXPECT_EQ(Run("fit a.txt --table x.in --export gprmax:x.in").status, 2);
    ASSERT_EQ(Run("fit a.txt b.txt --plot '{}-plot.svg' --table '{}.csv' --export 'spice:{}.cir' "
                  "--export openems:'{}.xml' --c0 2e-12 --fmax 5GHz").status, 0);
    EXPECT_THAT(Listing(), ElementsAre("a-plot.svg", "a.cir", "a.csv", "a.txt", "a.xml",
                                       "b-plot.svg", "b.cir", "b.csv", "b.txt", "b.xml"));
    EXPECT_THAT(ReadAll(m_dir / "b.cir"), HasSubstr("C0 = 2e-12 F"));
    EXPECT_THAT(ReadAll(m_dir / "b.xml"), HasSubstr("up to 5 GHz"));
}

TEST_F(Cli, UsageErrorsHelpAndVersion) {
    const Result none = Run("");
    EXPECT_EQ(none.status, 2);
    EXPECT_THAT(none.err, HasSubstr("Usage: matmodel"));

    const Result help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("Examples:\n  matmodel fit examples/laminate.txt --plot"));

    const Result version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_THAT(version.out, StartsWith("matmodel "));

    const Result unknown = Run("fit --bogus a.txt");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(Lines(unknown.err).size(), 1u);
    EXPECT_THAT(unknown.err, HasSubstr("--bogus"));

    const Result missing = Run("wideband --dk 4");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(Lines(missing.err).size(), 1u);
}

}  // namespace
