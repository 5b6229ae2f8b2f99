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
using matmodel::DefaultFmax;
using matmodel::EvaluateModel;
using matmodel::kTwoPi;
using matmodel::ModelReport;
using ::testing::HasSubstr;
using Complex = std::complex<double>;
using Samples = std::vector<std::pair<double, double>>;

// ngspice solves the AC network directly in double precision.
constexpr double kSpiceTolerance = 1e-6;
// Shortest round-trip numbers: only the evaluation's rounding remains.
constexpr double kSameModel = 1e-12;
constexpr double kC = 299792458.0;

// Relaxations at 30 MHz, 3 GHz and 300 GHz and 0.02 S/m of conduction,
// sampled from 1 MHz to 10 GHz and fitted as measured.
const ModelReport& Fitted() {
    static const ModelReport r = [] {
        matmodel::FitOptions measured;
        measured.measuredDk = true;
        return matmodel::FitMaterialTable(
            matmodel::ReadMaterialFile(MATMODEL_TEST_DATA_DIR "/conductive_debye.txt", {}),
            measured);
    }();
    return r;
}

// A fresh folder to run Debian's `program` in; empty when it is not installed.
fs::path Workspace(const std::string& program) {
    if (std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) != 0) return {};
    const auto dir = fs::temp_directory_path() / ("matmodel-" + program + "-" +
                                                  std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

// Runs `command` in `dir`; returns what it printed.
std::string RunIn(const fs::path& dir, const std::string& command) {
    EXPECT_EQ(std::system(("cd '" + dir.string() + "' && " + command + " >log 2>&1").c_str()), 0);
    std::stringstream log;
    log << std::ifstream(dir / "log").rdbuf();
    return log.str();
}

TEST(SpiceExport, NgspiceCurrentGivesTheModelsPermittivity) {
    const fs::path dir = Workspace("ngspice");
    if (dir.empty()) GTEST_SKIP() << "ngspice is not installed";
    ASSERT_GT(Fitted().dcConductivity, 0.0);
    ASSERT_EQ(Fitted().debye.size(), 4u);
    const double c0 = 2.5e-12;
    std::ofstream(dir / "deck.cir")
        << "export check\n" << matmodel::ExportSpice(Fitted(), "core", c0)
        << "V1 in 0 DC 0 AC 1\nX1 in 0 core\n.control\nset numdgt=16\nac dec 10 1e6 1e11\n"
           "wrdata out.txt i(V1)\nquit\n.endc\n.end\n";
    RunIn(dir, "ngspice -b deck.cir");
    std::ifstream out(dir / "out.txt");
    int n = 0;
    for (double f, re, im; out >> f >> re >> im; ++n) {
        // The source's current flows into its + node, so the capacitor draws -I.
        const Complex eps = -Complex(re, im) / Complex(0.0, kTwoPi * f * c0);
        EXPECT_LT(std::abs(eps / EvaluateModel(Fitted(), f) - 1.0), kSpiceTolerance) << f;
    }
    EXPECT_EQ(n, 51);
    if (!HasFailure()) fs::remove_all(dir);
}

// One openEMS run of data/openems_slab.xml with `material` (empty: vacuum);
// the voltage across the guide behind the slab.
Samples Simulate(const fs::path& dir, const std::string& material, std::string& log) {
    std::stringstream deck;
    deck << std::ifstream(MATMODEL_TEST_DATA_DIR "/openems_slab.xml").rdbuf();
    std::string xml = deck.str();
    std::ofstream(dir / "sim.xml") << xml.replace(xml.find("@MATERIAL@"), 10, material);
    log = RunIn(dir, "openEMS sim.xml --numThreads=1");
    std::ifstream in(dir / "ut");
    Samples v;
    double t = 0, u = 0;
    for (std::string line; std::getline(in, line);)
        if (line[0] != '%' && std::istringstream(line) >> t >> u) v.emplace_back(t, u);
    return v;
}

// Transmission through a slab of thickness d, relative to vacuum in its place,
// for fields ~ e^{j(w t - k z)}: a lossy eps = eps' - j eps'' has Im n < 0.
Complex SlabTransmission(Complex eps, double f, double d) {
    const Complex n = std::sqrt(eps), g = (1.0 - n) / (1.0 + n);
    const Complex e = std::exp(Complex(0.0, -kTwoPi * f / kC * d) * n);
    return (1.0 - g * g) * e / (1.0 - g * g * e * e) * std::exp(Complex(0.0, kTwoPi * f / kC * d));
}

TEST(OpenEmsExport, SlabTransmissionMatchesTheModel) {
    const fs::path dir = Workspace("openEMS");
    if (dir.empty()) GTEST_SKIP() << "openEMS is not installed";
    // The default fmax, 100 GHz, folds the 300 GHz term that openEMS would skip
    // at this mesh's step; the cells are under a tenth of fmax's wavelength.
    std::string material = matmodel::ExportOpenEms(Fitted(), "slab", DefaultFmax(Fitted()));
    // Faces half-way between mesh lines: every E node is wholly in or out.
    material.insert(material.rfind("</"), R"(<Primitives><Box Priority="10">
        <P1 X="0" Y="0" Z="7.375"/><P2 X="2.5" Y="2.5" Z="12.625"/></Box></Primitives>)");
    const double d = 5.25e-3;
    std::string log;
    const Samples through = Simulate(dir, material, log);
    EXPECT_THAT(log, ::testing::Not(HasSubstr("skipping")));
    const Samples vacuum = Simulate(dir, "", log);
    // openEMS advances each Debye polarisation to first order in time: a term's
    // susceptibility is off by about w dt / 2 (1.6 % at 6 GHz, dt = 0.8 ps),
    // which moves T by k0 d |d eps| / 2|n|, 8e-4; the grid's dispersion,
    // (k dz)^2 / 24 of the slab's phase, adds 1e-4 at 40 cells per wavelength.
    const double tolerance = 2e-3;
    const auto spectrum = [](const Samples& v, double f) {
        Complex sum;
        for (const auto& [t, u] : v) sum += u * std::exp(Complex(0.0, -kTwoPi * f * t));
        return sum;
    };
    double otherConvention = 0.0;
    for (int i = 0; i < 12; ++i) {
        const double f = 0.5e9 * std::pow(12.0, i / 11.0);
        const Complex t = spectrum(through, f) / spectrum(vacuum, f);
        const Complex eps = EvaluateModel(Fitted(), f), ratio = t / SlabTransmission(eps, f, d);
        EXPECT_NEAR(std::abs(ratio), 1.0, tolerance) << f;
        EXPECT_NEAR(std::arg(ratio), 0.0, tolerance) << f;
        const Complex conjugate = t / SlabTransmission(std::conj(eps), f, d);
        otherConvention = std::max(otherConvention, std::abs(conjugate - 1.0));
    }
    // eps' + j eps'' (the e^{-i w t} reading) misses by far more.
    EXPECT_GT(otherConvention, 20 * tolerance);
    if (!HasFailure()) fs::remove_all(dir);
}

TEST(OpenEmsExport, FoldsTermsTooFastForTheTimeStepAndKeepsTheStaticValue) {
    const ModelReport& r = Fitted();
    double staticRelaxations = r.epsInf;  // eps at 0 Hz without the conduction
    for (const auto& t : r.debye) staticRelaxations += t.conduction ? 0.0 : t.deltaEps;
    const struct { double fmax; int kept; const char* element; } cases[] = {
        {100e9, 2, "DebyeMaterial"}, {3e9, 1, "DebyeMaterial"}, {10e6, 0, "Material"}};
    EXPECT_THAT(matmodel::ExportModel(r, "openems", {}), HasSubstr("up to 100 GHz"));
    for (const auto& c : cases) {
        pugi::xml_document doc;
        doc.load_string(matmodel::ExportOpenEms(r, "m", c.fmax).c_str());
        EXPECT_STREQ(doc.document_element().name(), c.element);
        const pugi::xml_node p = doc.document_element().child("Property");
        auto term = [&](const char* what, int k) {
            return p.attribute((what + std::to_string(k)).c_str());
        };
        double staticEps = p.attribute("Epsilon").as_double();
        int k = 1;
        for (; term("EpsilonDelta_", k); ++k) {
            staticEps += term("EpsilonDelta_", k).as_double();
            // Two time steps of the coarsest mesh resolving fmax: a tenth of its wavelength.
            EXPECT_GE(term("EpsilonRelaxTime_", k).as_double(), 2.0 / (10.0 * c.fmax));
        }
        EXPECT_EQ(k - 1, c.kept) << c.fmax;
        EXPECT_NEAR(staticEps, staticRelaxations, kSameModel * staticRelaxations);
        EXPECT_NEAR(p.attribute("Kappa").as_double(), r.dcConductivity, 1e-15);
    }
}

TEST(GprMaxExport, LinesParsedBackGiveTheModel) {
    std::istringstream text(matmodel::ExportGprMax(Fitted(), "3-mil core"));
    std::string material, id, debye, debyeId;
    double eps = 0, sigma = 0, mu = 0, magneticLoss = 0;
    int n = 0;
    text >> material >> eps >> sigma >> mu >> magneticLoss >> id >> debye >> n;
    std::vector<std::pair<double, double>> terms(n);
    for (auto& [delta, tau] : terms) text >> delta >> tau;
    text >> debyeId;
    EXPECT_EQ(material + id + debye + debyeId,
              "#material:m3_mil_core#add_dispersion_debye:m3_mil_core");
    EXPECT_EQ(mu + magneticLoss, 1.0);
    for (const auto& row : Fitted().rows) {
        Complex e = eps - Complex(0.0, sigma / (kTwoPi * row.freq * matmodel::kE0));
        for (const auto& [delta, tau] : terms) e += delta / Complex(1.0, kTwoPi * row.freq * tau);
        EXPECT_LT(std::abs(e / EvaluateModel(Fitted(), row.freq) - 1.0), kSameModel) << row.freq;
    }
}

TEST(Exports, RefuseComplexPolePairsAndGain) {
    ModelReport pair = Fitted(), gain = Fitted();
    pair.pairs.push_back({Complex(-1e9, 1e10), Complex(1e9, 0.0)});
    gain.debye[1].residue = -gain.debye[1].residue;
    for (const auto& [model, why] : {std::pair(&pair, "the model has 1 complex pole pair(s); only "
                                                      "real poles (Debye terms) can be written"),
                                     std::pair(&gain, "is not a passive relaxation")})
        for (const char* format : {"spice", "openems", "gprmax"})
            EXPECT_THAT([&] { matmodel::ExportModel(*model, format, {}); },
                        ::testing::ThrowsMessage<matmodel::ExportError>(HasSubstr(why)));
}

}  // namespace
