// The simulator exports read back: Debian's ngspice and openEMS run on the
// exported files, gprMax's lines (its solver is not in Debian) are parsed;
// every result is compared with the fitted model's own evaluation.
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "fitting/constants.h"
#include "report/export.h"

namespace {

namespace fs = std::filesystem;
using namespace matmodel;
using ::testing::HasSubstr;
using Complex = std::complex<double>;

// ngspice solves the AC network directly in double precision.
constexpr double kSpiceTolerance = 1e-6;
// Shortest round-trip numbers: only the evaluation's rounding remains.
constexpr double kSameModel = 1e-12;

// Relaxations at 30 MHz, 3 GHz and 300 GHz and 0.02 S/m of conduction,
// sampled from 1 MHz to 10 GHz and fitted as measured.
const ModelReport& Fitted() {
    FitOptions measured;
    measured.measuredDk = true;
    static const ModelReport r = FitMaterialTable(ReadMaterialFile(MATMODEL_TEST_DATA_DIR "/conductive_debye.txt", {}), measured);
    return r;
}

std::string ReadAll(const fs::path& p) { std::ostringstream s; s << std::ifstream(p).rdbuf(); return s.str(); }

// A fresh folder to run Debian's `program` in; empty when it is not installed.
fs::path Workspace(const std::string& program) {
    if (std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) != 0) return {};
    const fs::path dir = fs::temp_directory_path() / ("matmodel-" + program + "-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

// Runs `command` in `dir`; returns what it printed.
std::string RunIn(const fs::path& dir, const std::string& command) {
    EXPECT_EQ(std::system(("cd '" + dir.string() + "' && " + command + " >log 2>&1").c_str()), 0);
    return ReadAll(dir / "log");
}

TEST(SpiceExport, NgspiceCurrentGivesTheModelsPermittivity) {
    const fs::path dir = Workspace("ngspice");
    if (dir.empty()) GTEST_SKIP() << "ngspice is not installed";
    // Over the band and a decade beyond, 10 points a decade.
    const double c0 = 2.5e-12;
    std::ofstream(dir / "deck.cir") << "export check\n" << ExportSpice(Fitted(), "core", c0) << "V1 in 0 DC 0 AC 1\n"
        "X1 in 0 core\n.control\nset numdgt=16\nac dec 10 1e6 1e11\nwrdata out.txt i(V1)\nquit\n.endc\n.end\n";
    RunIn(dir, "ngspice -b deck.cir");
    std::ifstream out(dir / "out.txt");
    int n = 0;
    // The source's current I flows into its + node: the capacitor draws -I, and
    // eps = -I / (j w C0).
    for (double f, re, im; out >> f >> re >> im; ++n)
        EXPECT_LT(std::abs(Complex(-im, re) / (kTwoPi * f * c0) / EvaluateModel(Fitted(), f) - 1.0), kSpiceTolerance) << f;
    EXPECT_EQ(n, 51);
    if (!HasFailure()) fs::remove_all(dir);
}

// One openEMS run of data/openems_slab.xml with `material` (empty: vacuum),
// which no term may be skipped in: the spectrum at `freqs` of the voltage
// across the guide behind the slab.
std::vector<Complex> Simulate(const fs::path& dir, const std::string& material, const std::vector<double>& freqs) {
    std::string xml = ReadAll(MATMODEL_TEST_DATA_DIR "/openems_slab.xml");
    std::ofstream(dir / "sim.xml") << xml.replace(xml.find("@MATERIAL@"), 10, material);
    EXPECT_THAT(RunIn(dir, "openEMS sim.xml --numThreads=1"), ::testing::Not(HasSubstr("skipping")));
    std::ifstream in(dir / "ut");
    while (in.peek() == '%') in.ignore(1 << 16, '\n');  // the header
    std::vector<Complex> spectrum(freqs.size());
    for (double t, u; in >> t >> u;)
        for (std::size_t i = 0; i < freqs.size(); ++i) spectrum[i] += u * std::exp(Complex(0.0, -kTwoPi * freqs[i] * t));
    return spectrum;
}

// Transmission through a slab of thickness d, relative to vacuum in its place,
// for fields ~ e^{j(w t - k z)}: a lossy eps = eps' - j eps'' has Im n < 0.
Complex SlabTransmission(Complex eps, double f, double d) {
    const double phase = kTwoPi * f / 299792458.0 * d;  // k0 d in vacuum
    const Complex n = std::sqrt(eps), g = (1.0 - n) / (1.0 + n), e = std::exp(Complex(0.0, -phase) * n);
    return (1.0 - g * g) * e / (1.0 - g * g * e * e) * std::exp(Complex(0.0, phase));
}

TEST(OpenEmsExport, SlabTransmissionMatchesTheModel) {
    const fs::path dir = Workspace("openEMS");
    if (dir.empty()) GTEST_SKIP() << "openEMS is not installed";
    // The default fmax, 100 GHz, folds the 300 GHz term that openEMS would skip
    // at this mesh's step; the cells are under a tenth of fmax's wavelength.
    std::string material = ExportOpenEms(Fitted(), "slab", DefaultFmax(Fitted()));
    // Faces half-way between mesh lines: every E node is wholly in or out.
    material.insert(material.rfind("</"), R"(<Primitives><Box Priority="10">
        <P1 X="0" Y="0" Z="7.375"/><P2 X="2.5" Y="2.5" Z="12.625"/></Box></Primitives>)");
    std::vector<double> freqs;
    for (double f = 0.5e9; f < 6.1e9; f *= std::pow(12.0, 1 / 11.0)) freqs.push_back(f);
    const std::vector<Complex> through = Simulate(dir, material, freqs), vacuum = Simulate(dir, "", freqs);
    // openEMS advances each Debye polarisation to first order in time: a term's
    // susceptibility is off by about w dt / 2 (1.6 % at 6 GHz, dt = 0.8 ps),
    // which moves T by k0 d |d eps| / 2|n|, 8e-4; the grid's dispersion,
    // (k dz)^2 / 24 of the slab's phase, adds 1e-4 at 40 cells per wavelength.
    const double tolerance = 2e-3, d = 5.25e-3;
    for (std::size_t i = 0; i < freqs.size(); ++i)
        EXPECT_LT(std::abs(through[i] / vacuum[i] / SlabTransmission(EvaluateModel(Fitted(), freqs[i]), freqs[i], d) - 1.0),
                  tolerance) << freqs[i];
    if (!HasFailure()) fs::remove_all(dir);
}

TEST(OpenEmsExport, FoldsTermsTooFastForTheTimeStepAndKeepsTheStaticValue) {
    const std::pair<double, int> cases[] = {{100e9, 2}, {3e9, 1}, {10e6, 0}};  // fmax, relaxations kept
    for (const auto& [fmax, kept] : cases) {
        pugi::xml_document doc;
        doc.load_string(ExportOpenEms(Fitted(), "m", fmax).c_str());
        EXPECT_STREQ(doc.document_element().name(), kept > 0 ? "DebyeMaterial" : "Material");
        const pugi::xml_node p = doc.document_element().child("Property");
        double staticEps = p.attribute("Epsilon").as_double();
        int k = 1;
        for (std::string n = "1"; p.attribute(("EpsilonDelta_" + n).c_str()); n = std::to_string(++k)) {
            staticEps += p.attribute(("EpsilonDelta_" + n).c_str()).as_double();
            // Two time steps of the coarsest mesh resolving fmax: a tenth of its wavelength.
            EXPECT_GE(p.attribute(("EpsilonRelaxTime_" + n).c_str()).as_double(), 2.0 / (10.0 * fmax));
        }
        EXPECT_EQ(k - 1, kept) << fmax;
        EXPECT_NEAR(staticEps, Fitted().staticDk, kSameModel * Fitted().staticDk);  // eps at 0 Hz without the conduction
        EXPECT_NEAR(p.attribute("Kappa").as_double(), Fitted().dcConductivity, 1e-15);
    }
}

TEST(GprMaxExport, LinesParsedBackGiveTheModel) {
    std::istringstream text(ExportGprMax(Fitted(), "3-mil core"));
    std::string material, id, debye, debyeId;
    double eps = 0, sigma = 0, mu = 0, magneticLoss = 0;  // the last two 1 and 0
    int n = 0;
    text >> material >> eps >> sigma >> mu >> magneticLoss >> id >> debye >> n;
    std::vector<std::pair<double, double>> terms(n);
    for (auto& [delta, tau] : terms) text >> delta >> tau;
    text >> debyeId;
    EXPECT_EQ(material + id + debye + debyeId, "#material:m3_mil_core#add_dispersion_debye:m3_mil_core");
    for (const auto& row : Fitted().rows) {
        Complex e = eps - Complex(0.0, sigma / (kTwoPi * row.freq * kE0));
        for (const auto& [delta, tau] : terms) e += delta / Complex(1.0, kTwoPi * row.freq * tau);
        EXPECT_LT(std::abs(e / EvaluateModel(Fitted(), row.freq) - 1.0), kSameModel) << row.freq;
    }
}

TEST(Exports, RefuseComplexPolePairsAndGain) {
    ModelReport pair = Fitted(), gain = Fitted();
    pair.pairs.push_back({Complex(-1e9, 1e10), Complex(1e9, 0.0)});
    gain.debye[1].residue = -gain.debye[1].residue;
    for (const char* format : {"spice", "openems", "gprmax"}) {
        EXPECT_THAT([&] { ExportModel(pair, format, {}); }, ::testing::ThrowsMessage<ExportError>(HasSubstr(
                        "the model has 1 complex pole pair(s); only real poles (Debye terms) can be written")));
        EXPECT_THAT([&] { ExportModel(gain, format, {}); },
                    ::testing::ThrowsMessage<ExportError>(HasSubstr("is not a passive relaxation")));
    }
}

}  // namespace
