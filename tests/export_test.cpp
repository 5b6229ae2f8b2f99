// The simulator exports read back: Debian's ngspice and openEMS run on the
// exported files, gprMax's lines (its solver is not in Debian) are parsed;
// every result is compared with the fitted model's own evaluation.
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "fitting/constants.h"
#include "report/export.h"

namespace {

namespace fs = std::filesystem;
using matmodel::EvaluateModel;
using matmodel::kTwoPi;
using matmodel::ModelReport;
using ::testing::HasSubstr;
using Complex = std::complex<double>;

// ngspice solves the AC network directly in double precision.
constexpr double kSpiceTolerance = 1e-6;
// Shortest round-trip numbers: only the evaluation's rounding remains.
constexpr double kSameModel = 1e-12;
constexpr double kC = 299792458.0;

// Relaxations at 30 MHz, 3 GHz and 300 GHz and 0.02 S/m of conduction,
// sampled from 1 MHz to 10 GHz and fitted as measured.
const ModelReport& Fitted() {
    static const ModelReport r = [] {
        matmodel::MaterialTable t;
        for (int i = 0; i <= 40; ++i) {
            const double f = 1e6 * std::pow(10.0, i / 10.0);
            const Complex eps = 3.2 + 0.8 / Complex(1, f / 30e6) + 0.5 / Complex(1, f / 3e9) +
                                0.2 / Complex(1, f / 300e9) + 0.02 / Complex(0, kTwoPi * f * matmodel::kE0);
            t.freq.push_back(f);
            t.dk.push_back(eps.real());
            t.loss.push_back(-eps.imag() / eps.real());
        }
        matmodel::FitOptions measured;
        measured.measuredDk = true;
        return matmodel::FitMaterialTable(t, measured);
    }();
    return r;
}

bool Installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

fs::path Scratch(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("matmodel-" + name + "-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

std::string RunIn(const fs::path& dir, const std::string& command) {
    EXPECT_EQ(std::system(("cd '" + dir.string() + "' && " + command + " >log 2>&1").c_str()), 0);
    std::stringstream log;
    log << std::ifstream(dir / "log").rdbuf();
    return log.str();
}

TEST(SpiceExport, NgspiceCurrentGivesTheModelsPermittivity) {
    if (!Installed("ngspice")) GTEST_SKIP() << "ngspice is not installed";
    ASSERT_GT(Fitted().dcConductivity, 0.0);
    ASSERT_EQ(Fitted().debye.size(), 4u);
    const double c0 = 2.5e-12;
    const fs::path dir = Scratch("spice");
    std::ofstream(dir / "deck.cir") << "export check\n" << matmodel::ExportSpice(Fitted(), "core", c0)
        << "V1 in 0 DC 0 AC 1\nX1 in 0 core\n.control\nset numdgt=16\nac dec 10 1e6 1e11\n"
           "wrdata out.txt i(V1)\nquit\n.endc\n.end\n";
    RunIn(dir, "ngspice -b deck.cir");
    std::ifstream out(dir / "out.txt");
    int n = 0;
    for (double f, re, im; out >> f >> re >> im; ++n) {
        // The source's current flows into its + node, so the capacitor draws -I.
        const Complex eps = -Complex(re, im) / Complex(0.0, kTwoPi * f * c0);
        EXPECT_LT(std::abs(eps / EvaluateModel(Fitted(), f) - 1.0), kSpiceTolerance) << f << " Hz";
    }
    EXPECT_EQ(n, 51);
    if (!HasFailure()) fs::remove_all(dir);
}

// One openEMS run of a TEM wave between PEC (y) and PMC (x) walls along z,
// with `material` (or vacuum) in z0..z1; the voltage across the guide at zProbe.
std::vector<std::pair<double, double>> Simulate(const fs::path& dir, pugi::xml_node material,
                                                const std::vector<double>& z, double z0, double z1,
                                                double zProbe, std::string& log) {
    const double w = 10 * (z[1] - z[0]);
    pugi::xml_document doc;
    pugi::xml_node fdtd = doc.append_child("openEMS").append_child("FDTD");
    // 4000 steps of 0.83 ps: the pulse has passed and the slab rung down to 1e-6.
    fdtd.append_attribute("NumberOfTimesteps") = 4000;
    fdtd.append_attribute("OverSampling") = 1000;  // probe every step
    pugi::xml_node pulse = fdtd.append_child("Excitation");
    pulse.append_attribute("Type") = 10;
    pulse.append_attribute("f0") = 10e9;
    // Odd about its centre: no dc to leave a static field between the plates.
    pulse.append_attribute("Function") = "sin(2*pi*3e9*(t-6.45e-10))*exp(-((t-6.45e-10)/1.613e-10)^2)";
    pugi::xml_node walls = fdtd.append_child("BoundaryCond");
    for (const char* side : {"xmin", "xmax", "ymin", "ymax", "zmin", "zmax"})
        walls.append_attribute(side) = side[0] == 'x' ? "PMC" : side[0] == 'y' ? "PEC" : "MUR";
    pugi::xml_node csx = doc.child("openEMS").append_child("ContinuousStructure");
    pugi::xml_node props = csx.append_child("Properties");
    auto box = [](pugi::xml_node prop, double x0, double y0, double za, double x1, double y1, double zb) {
        pugi::xml_node b = prop.append_child("Primitives").append_child("Box");
        b.append_attribute("Priority") = 10;
        const double at[2][3] = {{x0, y0, za}, {x1, y1, zb}};
        for (int p = 0; p < 2; ++p) {
            pugi::xml_node point = b.append_child(p ? "P2" : "P1");
            for (int k = 0; k < 3; ++k) point.append_attribute(k == 0 ? "X" : k == 1 ? "Y" : "Z") = at[p][k];
        }
    };
    pugi::xml_node source = props.append_child("Excitation");
    source.append_attribute("Name") = "source";
    source.append_attribute("Type") = 0;
    source.append_attribute("Excite") = "0,1,0";
    box(source, 0, 0, z[5], w, w, z[5]);
    if (material) box(props.append_copy(material), 0, 0, z0, w, w, z1);
    pugi::xml_node probe = props.append_child("ProbeBox");
    probe.append_attribute("Name") = "ut";
    probe.append_attribute("Type") = 0;
    box(probe, w / 2, 0, zProbe, w / 2, w, zProbe);
    pugi::xml_node grid = csx.append_child("RectilinearGrid");
    grid.append_attribute("DeltaUnit") = 1;
    std::ostringstream lines;
    lines.precision(17);
    for (double v : z) lines << (&v == &z[0] ? "" : ",") << v;
    const std::string across = "0," + std::to_string(w / 2) + "," + std::to_string(w);
    grid.append_child("XLines").text() = across.c_str();
    grid.append_child("YLines").text() = across.c_str();
    grid.append_child("ZLines").text() = lines.str().c_str();
    doc.save_file((dir / "sim.xml").c_str());
    log = RunIn(dir, "openEMS sim.xml --numThreads=1");
    std::ifstream in(dir / "ut");
    std::vector<std::pair<double, double>> v;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '%') {
            std::istringstream s(line);
            double t = 0, u = 0;
            s >> t >> u;
            v.emplace_back(t, u);
        }
    return v;
}

Complex Spectrum(const std::vector<std::pair<double, double>>& v, double f) {
    Complex sum;
    for (const auto& [t, u] : v) sum += u * std::exp(Complex(0.0, -kTwoPi * f * t));
    return sum;
}

// Transmission through a slab of thickness d, relative to vacuum in its place,
// for fields ~ e^{j(w t - k z)}: a lossy eps = eps' - j eps'' has Im n < 0.
Complex SlabTransmission(Complex eps, double f, double d) {
    const Complex n = std::sqrt(eps), g = (1.0 - n) / (1.0 + n);
    const Complex e = std::exp(Complex(0.0, -kTwoPi * f / kC * d) * n);
    return (1.0 - g * g) * e / (1.0 - g * g * e * e) * std::exp(Complex(0.0, kTwoPi * f / kC * d));
}

TEST(OpenEmsExport, SlabTransmissionMatchesTheModel) {
    if (!Installed("openEMS")) GTEST_SKIP() << "openEMS is not installed";
    // The default fmax (100 GHz) folds the 300 GHz term, which openEMS would skip
    // at this mesh's step (cells of 0.25 mm, under a tenth of fmax's wavelength).
    pugi::xml_document material;
    material.load_string(matmodel::ExportOpenEms(Fitted(), "slab", matmodel::DefaultFmax(Fitted())).c_str());
    const double dz = 0.25e-3;
    std::vector<double> z;
    for (int i = 0; i <= 100; ++i) z.push_back(i * dz);
    // Faces half-way between mesh lines: every E node is wholly in or out.
    const double z0 = z[30] - dz / 2, z1 = z[50] + dz / 2;
    const fs::path dir = Scratch("openems");
    std::string log;
    const auto slab = Simulate(dir, material.document_element(), z, z0, z1, z[60], log);
    EXPECT_THAT(log, ::testing::Not(HasSubstr("skipping")));
    const auto vacuum = Simulate(dir, pugi::xml_node(), z, z0, z1, z[60], log);
    // openEMS advances each Debye polarisation to first order in time: a term's
    // susceptibility is off by about w dt / 2 (1.6 % at 6 GHz, dt = 0.83 ps),
    // which moves T by k0 d |d eps| / 2|n|, 8e-4; the grid's dispersion,
    // (k dz)^2 / 24 of the slab's phase, adds 1e-4 at 40 cells per wavelength.
    const double tolerance = 2e-3;
    double otherConvention = 0.0;
    for (int i = 0; i < 12; ++i) {
        const double f = 0.5e9 * std::pow(12.0, i / 11.0);
        const Complex t = Spectrum(slab, f) / Spectrum(vacuum, f);
        const Complex eps = EvaluateModel(Fitted(), f);
        const Complex ratio = t / SlabTransmission(eps, f, z1 - z0);
        EXPECT_NEAR(std::abs(ratio), 1.0, tolerance) << f << " Hz";
        EXPECT_NEAR(std::arg(ratio), 0.0, tolerance) << f << " Hz";
        otherConvention = std::max(otherConvention, std::abs(t / SlabTransmission(std::conj(eps), f, z1 - z0) - 1.0));
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
        {100e9, 2, "DebyeMaterial"}, {1e9, 1, "DebyeMaterial"}, {10e6, 0, "Material"}};
    for (const auto& c : cases) {
        pugi::xml_document doc;
        doc.load_string(matmodel::ExportOpenEms(r, "m", c.fmax).c_str());
        const pugi::xml_node material = doc.document_element();
        EXPECT_STREQ(material.name(), c.element);
        const pugi::xml_node p = material.child("Property");
        double staticEps = p.attribute("Epsilon").as_double();
        int k = 0;
        for (; p.attribute(("EpsilonDelta_" + std::to_string(k + 1)).c_str()); ++k) {
            staticEps += p.attribute(("EpsilonDelta_" + std::to_string(k + 1)).c_str()).as_double();
            // Two time steps of the coarsest mesh resolving fmax: a tenth of its wavelength.
            EXPECT_GE(p.attribute(("EpsilonRelaxTime_" + std::to_string(k + 1)).c_str()).as_double(),
                      2.0 / (10.0 * c.fmax));
        }
        EXPECT_EQ(k, c.kept) << c.fmax;
        EXPECT_NEAR(staticEps, staticRelaxations, kSameModel * staticRelaxations);
        EXPECT_NEAR(p.attribute("Kappa").as_double(), r.dcConductivity, kSameModel * r.dcConductivity);
    }
}

TEST(GprMaxExport, LinesParsedBackGiveTheModel) {
    std::istringstream text(matmodel::ExportGprMax(Fitted(), "3-mil core"));
    std::string command, id, debye;
    double eps = 0, sigma = 0, mu = 0, magneticLoss = 0;
    int n = 0;
    text >> command >> eps >> sigma >> mu >> magneticLoss >> id >> debye >> n;
    EXPECT_EQ(command + id + debye, "#material:m3_mil_core#add_dispersion_debye:");
    EXPECT_EQ(mu + magneticLoss, 1.0);
    std::vector<std::pair<double, double>> terms(n);
    for (auto& [delta, tau] : terms) text >> delta >> tau;
    text >> id;
    EXPECT_EQ(id, "m3_mil_core");
    for (const auto& row : Fitted().rows) {
        Complex e = eps - Complex(0.0, sigma / (kTwoPi * row.freq * matmodel::kE0));
        for (const auto& [delta, tau] : terms) e += delta / Complex(1.0, kTwoPi * row.freq * tau);
        EXPECT_LT(std::abs(e / EvaluateModel(Fitted(), row.freq) - 1.0), kSameModel) << row.freq;
    }
}

TEST(Exports, RefuseComplexPolePairs) {
    ModelReport r = Fitted();
    r.pairs.push_back({Complex(-1e9, 1e10), Complex(1e9, 0.0)});
    EXPECT_THAT([&] { matmodel::ExportSpice(r, "m"); },
                ::testing::ThrowsMessage<matmodel::ExportError>(
                    "the model has 1 complex pole pair(s); only real poles (Debye terms) can be "
                    "written in the SPICE export"));
    for (const char* format : {"openems", "gprmax"})
        EXPECT_THROW(matmodel::ExportModel(r, format, {}), matmodel::ExportError) << format;
}

}  // namespace
