// The matmodel binary as a user runs it: flags reach the job, exit statuses
// and one-line messages. What the outputs hold is the report's to test.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>


namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

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

std::vector<json> JsonLines(const std::string& out) {
    std::vector<json> docs;
    for (const std::string& l : Lines(out)) docs.push_back(json::parse(l));
    return docs;
}

TEST_F(Cli, FitsFilesAndStandardInputOnOneOrSeveralThreads) {
    const std::string laminate = "'" + Example("laminate.txt") + "'";
    const Result r = Run("fit " + laminate);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(r.out, StartsWith(Example("laminate.txt") + "\n  samples      6, 1 GHz to 20 GHz"));
    EXPECT_THAT(r.out, HasSubstr("\n  Df(Freq) = 6.2831853*Freq*("));
    const Result piped = Run("fit - < " + laminate);
    EXPECT_EQ(piped.out.substr(piped.out.find('\n')), r.out.substr(r.out.find('\n')));
    EXPECT_THAT(piped.out, StartsWith("stdin\n"));
    const std::string many = "fit " + laminate + " '" + Example("broadband.csv") + "' " + laminate;
    const Result serial = Run(many), threaded = Run(many + " --jobs 2");
    EXPECT_EQ(threaded.status, 0);
    EXPECT_EQ(threaded.out, serial.out);
}

TEST_F(Cli, ExitStatusesRankBadInputAboveAFailedFitWithOneLineEach) {
    Write("bad.txt", "# Dk and Df\n1e9 3.7 0.01\n2e9 3.6 0.01\n5e9 3..6 0.01\n");
    Write("lossy.txt", "1e8 2.6 1.38\n2e8 2.57 1.22\n5e8 2.52 1.03\n1e9 2.49 0.91\n2e9 2.46 0.8\n");
    const Result bad = Run("fit bad.txt");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "bad.txt:4: Dk \"3..6\" is not a number in \"5e9 3..6 0.01\"\n");
    const Result failed = Run("fit lossy.txt --json");
    EXPECT_EQ(failed.status, 1);
    EXPECT_THAT(failed.err, StartsWith("lossy.txt: fit failed: "));
    EXPECT_EQ(JsonLines(failed.out).at(0)["status"], "fit_failed");
    EXPECT_EQ(Run("fit lossy.txt bad.txt").status, 2);
    for (const char* usage : {"", "fit --bogus bad.txt", "fit bad.txt --target 200", "fit bad.txt --eval 1:2:3",
                              "fit bad.txt --max-order 0", "fit --freq-unit rad bad.txt", "fit bad.txt --var 2x",
                              "fit bad.txt --sigma -1", "fit - -", "wideband --dk 4", "fit bad.txt --jobs 0"}) {
        const Result r = Run(usage);
        EXPECT_EQ(r.status, 2) << usage;
        EXPECT_EQ(Lines(r.err).size(), std::string(usage).empty() ? Lines(r.err).size() : 1u) << usage;
    }
    EXPECT_THAT(Run("--help").out, HasSubstr("Examples:\n  matmodel fit examples/laminate.txt --plot"));
    EXPECT_THAT(Run("--version").out, StartsWith("matmodel "));
}

TEST_F(Cli, OptionsReachTheFitAndTheOutputs) {
    const std::string laminate = "'" + Example("laminate.txt") + "'";
    EXPECT_THAT(Run("fit " + laminate + " --measured-dk").out, HasSubstr("the measured Dk fitted as given"));
    EXPECT_THAT(Run("fit " + laminate + " --max-order 2 --target 0.01").err,
                HasSubstr("fit failed: the model misses the target of 0.01 %"));
    EXPECT_THAT(Run("fit '" + Example("ferrite.csv") + "' --sigma 1.9e-8").out,
                HasSubstr("conduction   sigma 1.9e-08 S/m taken out before the fit (given)"));
    Write("sigma.txt", "1 4.0 0.01\n2 4.0 0.02\n5 4.0 0.05\n10 4.0 0.1\n");
    const json doc = JsonLines(Run("fit --conductivity --freq-unit GHz sigma.txt --json --var f_hz").out).at(0);
    EXPECT_EQ(doc["input"]["kind"], "conductivity");
    EXPECT_EQ(doc["input"]["min_frequency_hz"], 1e9);
    EXPECT_EQ(doc["expressions"]["variable"], "f_hz");
    const Result point = Run("wideband --dk 4.0 --df 0.02 --freq 1GHz --max-freq '10 GHz' --json");
    EXPECT_EQ(JsonLines(point.out).at(0)["input"]["samples"], 51);
    // Outputs are named per input, never clash, and a failure leaves none behind.
    Write("a.txt", ReadAll(Example("laminate.txt")));
    Write("b.txt", ReadAll(Example("laminate.txt")));
    EXPECT_THAT(Run("fit a.txt b.txt --plot plot.svg").err, HasSubstr("must contain {}"));
    EXPECT_EQ(Run("fit a.txt --table x.in --export gprmax:x.in").status, 2);
    Write("bad.txt", "1e9 3.7 0.01\n2e9 3.6\n");
    EXPECT_EQ(Run("fit bad.txt --plot p.svg --table t.csv").status, 2);
    ASSERT_EQ(Run("fit a.txt b.txt --plot '{}-plot.svg' --table '{}.csv' --export 'spice:{}.cir' "
                  "--export openems:'{}.xml' --c0 2e-12 --fmax 5GHz --eval 1e9:1e10:5 --eval-out '{}-eval.csv'")
                  .status,
              0);
    EXPECT_THAT(Listing(), ElementsAre("a-eval.csv", "a-plot.svg", "a.cir", "a.csv", "a.txt", "a.xml", "b-eval.csv",
                                       "b-plot.svg", "b.cir", "b.csv", "b.txt", "b.xml", "bad.txt", "sigma.txt"));
    EXPECT_THAT(ReadAll(m_dir / "b.cir"), HasSubstr("C0 = 2e-12 F"));
    EXPECT_THAT(ReadAll(m_dir / "b.xml"), HasSubstr("up to 5 GHz"));
    EXPECT_EQ(Lines(ReadAll(m_dir / "a-eval.csv")).size(), 6u);
}

}  // namespace
