// The matmodel binary as a user runs it: options and files reach the job, exit
// statuses and one-line messages reach the user. What the outputs hold is the
// report's to test.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::HasSubstr;

std::string ReadAll(const fs::path& p) { std::ostringstream s; s << std::ifstream(p).rdbuf(); return s.str(); }

// An example file, quoted for the shell.
std::string Example(const std::string& name) { return "'" MATMODEL_EXAMPLES_DIR "/" + name + "'"; }

struct Result { int status; std::string out, err; };

// Each test runs the tool in a fresh directory of its own.
class Cli : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(m_dir); }
    void TearDown() override { fs::remove_all(m_dir); }
    Result Run(const std::string& args) const {
        const int raw = std::system(("cd '" + m_dir.string() + "' && '" MATMODEL_CLI "' " + args + " >.out 2>.err").c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(m_dir / ".out"), ReadAll(m_dir / ".err")};
    }
    // The first input's JSON document.
    json Json(const std::string& args) const { json doc; std::istringstream(Run(args + " --json").out) >> doc; return doc; }
    void Write(const std::string& name, const std::string& text) const { std::ofstream(m_dir / name) << text; }

    const fs::path m_dir = fs::temp_directory_path() / ("matmodel-cli-" + std::to_string(::getpid()) + "-" +
                                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

// A file and standard input give the same report. Bad input outranks a failed
// fit; each failure is one line on standard error.
TEST_F(Cli, InputsReachTheReportsAndEveryFailureTheUser) {
    const Result file = Run("fit " + Example("laminate.txt"));
    EXPECT_EQ(file.status, 0) << file.err;
    EXPECT_THAT(file.out, ::testing::StartsWith(MATMODEL_EXAMPLES_DIR "/laminate.txt\n"));
    EXPECT_EQ(Run("fit - < " + Example("laminate.txt")).out, "stdin" + file.out.substr(file.out.find('\n')));

    Write("bad.txt", "# Dk and Df\n1e9 3.7 0.01\n2e9 3.6 0.01\n5e9 3..6 0.01\n");
    Write("lossy.txt", "1e8 2.6 1.38\n2e8 2.57 1.22\n5e8 2.52 1.03\n1e9 2.49 0.91\n2e9 2.46 0.8\n");
    EXPECT_EQ(Run("fit lossy.txt").status, 1);
    const Result both = Run("fit lossy.txt bad.txt --json");
    EXPECT_EQ(both.status, 2);
    EXPECT_THAT(both.err, ::testing::MatchesRegex("lossy.txt: fit failed: [^\n]*\nbad.txt:4: [^\n]*\n"));
    EXPECT_THAT(both.out, ::testing::MatchesRegex(
                              R"(\{"source":"lossy.txt","status":"fit_failed","error":\{"message":"lossy.txt: fit failed: [^"]*"\}\})"
                              "\n" R"(\{"source":"bad.txt","status":"bad_input",.*,"line":4,"text":"5e9 3..6 0.01"\}\})" "\n"));
    const std::pair<const char*, const char*> bad[] = {
        {"fit bad.txt", "bad.txt:4: Dk \"3..6\" is not a number in \"5e9 3..6 0.01\""},
        {"fit --bogus bad.txt", "matmodel: The following argument was not expected: --bogus (see matmodel --help)"},
        {"fit bad.txt --target 200", "matmodel: --target: \"200\" is not a percentage above 0 and below 100"},
        {"fit bad.txt --max-order 0", "matmodel: --max-order: 0 is not a number of poles"},
        {"fit --freq-unit rad bad.txt", "matmodel: --freq-unit: \"rad\" is not one of Hz, kHz, MHz, GHz, THz"},
        {"fit bad.txt --sigma -1", "matmodel: --sigma: \"-1\" is not a conductivity of 0 S/m or more"},
        {"wideband --dk 0.5 --df 0.02 --freq 1e9 --max-freq 1e10", "wideband: Dk 0.5 is below 1"},
        {"wideband --dk 4 --df 0.02 --freq 1GHz --max-freq x",
         "matmodel: --max-freq: \"x\" is not a frequency (a number in Hz, or with kHz, MHz, GHz, THz)"},
        {"fit bad.txt --eval 1:2:0 --eval-out e.csv",
         "matmodel: --eval: \"1:2:0\" is not F1:F2:N (two frequencies and a count of points, e.g. 1e6:1e11:201)"},
        {"fit bad.txt --var 2x", "matmodel: --var: \"2x\" is not a name (letters, digits and _, not starting with a digit)"},
        {"fit bad.txt --jobs 0", "matmodel: --jobs: 0 is not a number of threads"},
        {"fit - -", "matmodel: standard input (-) can be read only once"},
        {"fit bad.txt --eval 1e9:1e10:5 --eval-out bad.txt", "matmodel: output \"bad.txt\" would overwrite an input file"},
    };
    for (const auto& [args, message] : bad) {
        const Result r = Run(args);
        EXPECT_EQ(std::to_string(r.status) + " " + r.err, "2 " + std::string(message) + "\n") << args;  // status, message
    }
    EXPECT_EQ(Run("").status, 2);  // and the help on standard error
    EXPECT_THAT(Run("").err, HasSubstr("Examples:\n  matmodel fit examples/laminate.txt --plot"));
    EXPECT_THAT(Run("--version").out, ::testing::StartsWith("matmodel "));
}

TEST_F(Cli, OptionsReachTheFitAndTheOutputs) {
    // Outputs are named per input; a failure leaves none behind.
    for (const char* name : {"a.txt", "b.txt"}) Write(name, "1 4.2 0.01\n2 4.1 0.02\n5 4.0 0.05\n10 3.9 0.1\n");
    Write("bad.txt", "1e9 3.7 0.01\n2e9 3.6\n");
    EXPECT_EQ(Run("fit bad.txt --plot p.svg --table t.csv").status, 2);
    // The variable's name holds every letter and digit at the ends of its ranges.
    const json a = Json("fit --conductivity --freq-unit GHz a.txt b.txt --var AZ_az09 --measured-dk --plot '{}-plot.svg' "
                        "--table '{}.csv' --export 'spice:{}.cir' --export openems:'{}.xml' --export gprmax:'{}.in' "
                        "--c0 2e-12 --fmax 5GHz --eval 1e9:1e10:5 --eval-out '{}-eval.csv'");
    EXPECT_EQ(json({a["input"]["kind"], a["input"]["min_frequency_hz"], a["expressions"]["variable"],
                    a["model"]["causal_reconstruction"]}), json({"conductivity", 1e9, "AZ_az09", false}));
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(m_dir)) names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{".err", ".out", "a-eval.csv", "a-plot.svg", "a.cir", "a.csv", "a.in", "a.txt",
                                            "a.xml", "b-eval.csv", "b-plot.svg", "b.cir", "b.csv", "b.in", "b.txt", "b.xml",
                                            "bad.txt"}));
    EXPECT_THAT(ReadAll(m_dir / "b.cir") + ReadAll(m_dir / "b.xml") + ReadAll(m_dir / "b.in"),
                ::testing::MatchesRegex(".*C0 = 2e-12 F.*up to 5 GHz.*\n#material: .*"));
    EXPECT_THAT(ReadAll(m_dir / "a-eval.csv"),
                ::testing::MatchesRegex("frequency_hz,dk,df\n1e\\+09,[^\n]*\n([^\n]*\n){3}1e\\+10,[^\n]*\n"));

    EXPECT_THAT(Run("fit " + Example("laminate.txt") + " --max-order 1 --target 0.01").err,
                ::testing::AllOf(HasSubstr("the model misses the target of 0.01 %"), HasSubstr("stopped at order 1 ")));
    // The ferrite example: its conduction estimated and reported (the loss of its
    // lowest samples is that of about 2e-8 S/m), the model within 5 %.
    const json ferrite = Json("fit " + Example("ferrite.csv"));
    EXPECT_LE(ferrite["errors"]["dk_max_relative"], 0.05);
    EXPECT_LE(ferrite["errors"]["df_max_relative"], 0.05);
    EXPECT_EQ(ferrite["conduction"]["given"], false);
    EXPECT_NEAR(ferrite["conduction"]["taken_out_s_per_m"].get<double>(), 2e-8, 1e-9);
    EXPECT_EQ(Json("fit " + Example("ferrite.csv") + " --sigma 1.9e-8")["conduction"]["taken_out_s_per_m"], 1.9e-8);
    const json in = Json("wideband --dk 4.0 --df 0.02 --freq 1GHz --max-freq '10 GHz' --sigma 1e-4 --dc-dk 4.3")["input"];
    EXPECT_EQ(std::vector<double>({in["dk"], in["df"], in["frequency_hz"], in["max_frequency_hz_requested"],
                                   in["sigma_s_per_m"], in["dc_dk"]}), std::vector<double>({4.0, 0.02, 1e9, 1e10, 1e-4, 4.3}));
}

}  // namespace
