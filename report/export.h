// A fitted model in the input formats of other simulators: a SPICE
// subcircuit, an openEMS (CSXCAD) Debye material and gprMax material lines.
// Each export returns the file's text; numbers are written locale-free with
// as many digits as it takes to read back the same double.
//
//   matmodel::ModelReport r = matmodel::FitMaterialTable(table);
//   std::string net = matmodel::ExportSpice(r, "fr4", 1e-12);
//   std::string xml = matmodel::ExportOpenEms(r, "fr4", matmodel::DefaultFmax(r));
//
// The model is eps(s) = epsInf + sum_k r_k / (s - p_k), s = j 2 pi f, the
// e^{+j w t} convention (eps = Dk (1 - j Df)) that openEMS and gprMax share.
// A real pole far below the band (DebyeTerm::conduction) is dc conduction
// sigma / (j w e0), sigma = r e0.
#ifndef MATMODEL_REPORT_EXPORT_H
#define MATMODEL_REPORT_EXPORT_H

#include <stdexcept>
#include <string>

#include "report/report.h"

namespace matmodel {

/// The model cannot be written in the requested format (complex pole pairs,
/// a term that is not passive, a value out of range).
class ExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Vacuum capacitance of the SPICE export's capacitor when none is given.
inline constexpr double kDefaultC0 = 1e-12;

/// The simulation's highest frequency when none is given: ten times the
/// data's top.
double DefaultFmax(const ModelReport& report);

/// `text` as a name every export accepts: letters, digits and _, starting
/// with a letter ("3-mil core" gives "m3_mil_core"; empty gives "material").
std::string ExportName(const std::string& text);

/// `.subckt NAME a b`: the admittance j w C0 eps(w) between a and b, as
/// C_inf = epsInf C0 in parallel with one series R-C branch per relaxation
/// (C = delta_eps C0, R = tau / C, tau = 1 / |p|). A conduction term is the
/// conductance sigma C0 / e0 (its branch's R without the C): its pole lies
/// three decades or more below the band, so the two differ there by less than
/// |p| / w of that term. Throws ExportError for complex pairs or a non-passive
/// term.
std::string ExportSpice(const ModelReport& report, const std::string& name, double c0 = kDefaultC0);

/// A `<DebyeMaterial>` whose `<Property>` carries Epsilon, Kappa (S/m) and
/// EpsilonDelta_k / EpsilonRelaxTime_k, k = 1, 2, ...; add `<Primitives>` and
/// paste it into a model's `<Properties>`. openEMS skips every term whose
/// relaxation time is under two time steps. A simulation that resolves fmaxHz
/// has cells of at most a tenth of the vacuum wavelength, so its time step is
/// at most 1 / (10 fmaxHz) (Courant); terms relaxing faster than two such
/// steps are folded into Epsilon (their delta_eps added), keeping the static
/// permittivity. With no term left, a plain `<Material>` is written.
/// Throws ExportError for complex pairs, a non-passive term or fmaxHz <= 0.
std::string ExportOpenEms(const ModelReport& report, const std::string& name, double fmaxHz);

/// The shortest relaxation time ExportOpenEms keeps for `fmaxHz`.
double OpenEmsShortestRelaxation(double fmaxHz);

/// gprMax's `#material: eps_inf sigma 1 0 ID` and, when the model has
/// relaxations, `#add_dispersion_debye: N delta_eps_1 tau_1 ... ID`.
/// Throws ExportError for complex pairs or a non-passive term.
std::string ExportGprMax(const ModelReport& report, const std::string& materialId);

/// What the tool's `--export FORMAT:PATH` accepts, and its settings.
struct ExportSettings {
    std::string name;     ///< subcircuit / material name; ExportName is applied
    double c0 = kDefaultC0;
    double fmaxHz = 0.0;  ///< 0: DefaultFmax
};

/// True for "spice", "openems" and "gprmax".
bool IsExportFormat(const std::string& format);

/// The export named by `format` (IsExportFormat). Throws ExportError.
std::string ExportModel(const ModelReport& report, const std::string& format,
                        const ExportSettings& settings);

}  // namespace matmodel

#endif  // MATMODEL_REPORT_EXPORT_H
