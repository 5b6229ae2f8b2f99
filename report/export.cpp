// Exports of a fitted model: SPICE subcircuit, openEMS Debye material, gprMax
// material lines.
#include "report/export.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include <pugixml.hpp>

#include "fitting/constants.h"
#include "io/number_text.h"

namespace matmodel {
namespace {

// A simulation that resolves a frequency has at least this many cells per
// vacuum wavelength there (the usual rule is 10 to 20 in the material).
constexpr double kCellsPerWavelength = 10.0;
// openEMS drops a Debye term whose relaxation time is under this many steps.
constexpr double kOpenEmsStepsPerRelaxation = 2.0;

std::string Num(double v) {
    return FormatShortest(v);
}

// "laminate.txt: ", naming the input in a file's header comment.
std::string Source(const ModelReport& r) {
    return r.input.source.empty() ? std::string() : r.input.source + ": ";
}

// The model's real terms, checked for what every format needs: real poles
// only, eps_inf > 0, and each term a passive relaxation (p <= 0, r >= 0).
// Terms with a zero residue add nothing and are left out.
std::vector<DebyeTerm> RealTerms(const ModelReport& r, const char* format) {
    const std::string in = std::string(" in the ") + format + " export";
    if (!r.pairs.empty())
        throw ExportError("the model has " + std::to_string(r.pairs.size()) +
                          " complex pole pair(s); only real poles (Debye terms) can be written" +
                          in);
    if (!(r.epsInf > 0.0) || !std::isfinite(r.epsInf))
        throw ExportError("eps_inf " + Num(r.epsInf) + " is not a positive number" + in);
    std::vector<DebyeTerm> terms;
    for (const DebyeTerm& t : r.debye) {
        if (!(t.pole <= 0.0 && t.residue >= 0.0) || !std::isfinite(t.residue))
            throw ExportError("the term with pole " + Num(t.pole) + " rad/s and residue " +
                              Num(t.residue) + " rad/s is not a passive relaxation" + in);
        if (t.residue > 0.0) terms.push_back(t);
    }
    return terms;
}

}  // namespace

double DefaultFmax(const ModelReport& r) {
    double top = 0.0;
    for (const SampleRow& row : r.rows) top = std::max(top, row.freq);
    return 10.0 * top;
}

std::string ExportName(const std::string& text) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    std::string name;
    for (char c : text) name += letter(c) || (c >= '0' && c <= '9') ? c : '_';
    if (name.empty()) return "material";
    return letter(name[0]) ? name : "m" + name;
}

std::string ExportSpice(const ModelReport& r, const std::string& name, double c0) {
    const std::vector<DebyeTerm> terms = RealTerms(r, "SPICE");
    if (!(c0 > 0.0) || !std::isfinite(c0))
        throw ExportError("the vacuum capacitance C0 " + Num(c0) + " F is not a positive number");
    const std::string id = ExportName(name);
    std::ostringstream out;
    out << "* " << Source(r) << "a capacitor of vacuum capacitance C0 = " << Num(c0)
        << " F filled with the material,\n* admittance j w C0 eps(w); " << r.order
        << " pole(s), eps_inf " << Num(r.epsInf) << "\n.subckt " << id << " a b\n";
    out << "Cinf a b " << Num(r.epsInf * c0) << "\n";
    int k = 0;
    for (const DebyeTerm& t : terms) {
        const std::string n = std::to_string(++k);
        // R = tau / C with tau = 1 / |p| and C = r C0 / |p|: R = 1 / (r C0),
        // which for a conduction term is e0 / (sigma C0).
        const double resistance = 1.0 / (t.residue * c0);
        if (t.conduction) {
            out << "* dc conduction, sigma " << Num(t.residue * kE0) << " S/m\n";
            out << "R" << n << " a b " << Num(resistance) << "\n";
            continue;
        }
        out << "R" << n << " a n" << n << " " << Num(resistance) << "\n";
        out << "C" << n << " n" << n << " b " << Num(t.deltaEps * c0) << "\n";
    }
    out << ".ends " << id << "\n";
    return out.str();
}

double OpenEmsShortestRelaxation(double fmaxHz) {
    return kOpenEmsStepsPerRelaxation / (kCellsPerWavelength * fmaxHz);
}

std::string ExportOpenEms(const ModelReport& r, const std::string& name, double fmaxHz) {
    const std::vector<DebyeTerm> terms = RealTerms(r, "openEMS");
    if (!(fmaxHz > 0.0) || !std::isfinite(fmaxHz))
        throw ExportError("the simulation's highest frequency " + Num(fmaxHz) +
                          " Hz is not a positive number");
    const double shortest = OpenEmsShortestRelaxation(fmaxHz);
    double epsilon = r.epsInf;
    double kappa = 0.0;
    std::vector<const DebyeTerm*> kept;
    int folded = 0;
    for (const DebyeTerm& t : terms) {
        if (t.conduction)
            kappa += t.residue * kE0;
        else if (1.0 / -t.pole < shortest) {
            epsilon += t.deltaEps;
            ++folded;
        } else {
            kept.push_back(&t);
        }
    }

    pugi::xml_document doc;
    std::string note = " " + Source(r) + "for simulations up to " +
                       FormatFrequency(fmaxHz) + ": " + std::to_string(folded) +
                       " term(s) relaxing faster than " + Num(shortest) +
                       " s folded into Epsilon ";
    // "--" may not appear inside an XML comment.
    for (std::size_t at; (at = note.find("--")) != std::string::npos;) note[at + 1] = '_';
    doc.append_child(pugi::node_comment).set_value(note.c_str());
    pugi::xml_node material = doc.append_child(kept.empty() ? "Material" : "DebyeMaterial");
    material.append_attribute("Name") = ExportName(name).c_str();
    pugi::xml_node property = material.append_child("Property");
    property.append_attribute("Epsilon") = Num(epsilon).c_str();
    property.append_attribute("Kappa") = Num(kappa).c_str();
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const std::string n = std::to_string(k + 1);
        property.append_attribute(("EpsilonDelta_" + n).c_str()) = Num(kept[k]->deltaEps).c_str();
        property.append_attribute(("EpsilonRelaxTime_" + n).c_str()) =
            Num(1.0 / -kept[k]->pole).c_str();
    }
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_default | pugi::format_no_declaration);
    return out.str();
}

std::string ExportGprMax(const ModelReport& r, const std::string& materialId) {
    const std::vector<DebyeTerm> terms = RealTerms(r, "gprMax");
    // gprMax refuses a relative permittivity below 1 in #material.
    if (r.epsInf < 1.0)
        throw ExportError("eps_inf " + Num(r.epsInf) + " is below 1, which gprMax refuses");
    const std::string id = ExportName(materialId);
    double sigma = 0.0;
    std::string debye;
    int n = 0;
    for (const DebyeTerm& t : terms) {
        if (t.conduction) {
            sigma += t.residue * kE0;
            continue;
        }
        debye += " " + Num(t.deltaEps) + " " + Num(1.0 / -t.pole);
        ++n;
    }
    std::string out = "#material: " + Num(r.epsInf) + " " + Num(sigma) + " 1 0 " + id + "\n";
    if (n > 0) out += "#add_dispersion_debye: " + std::to_string(n) + debye + " " + id + "\n";
    return out;
}

bool IsExportFormat(const std::string& format) {
    return format == "spice" || format == "openems" || format == "gprmax";
}

std::string ExportModel(const ModelReport& r, const std::string& format,
                        const ExportSettings& s) {
    if (format == "spice") return ExportSpice(r, s.name, s.c0);
    if (format == "openems")
        return ExportOpenEms(r, s.name, s.fmaxHz != 0.0 ? s.fmaxHz : DefaultFmax(r));
    if (format == "gprmax") return ExportGprMax(r, s.name);
    throw ExportError("unknown export format \"" + format + "\" (spice, openems or gprmax)");
}

}  // namespace matmodel
