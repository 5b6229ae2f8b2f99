// The model report: runs a fresh MaterialModeler on one input and collects
// what an engineer wants to know about the result (the Debye terms, how well
// the model matches the samples, whether it is passive, the expressions), and
// hands it to the renderers (render.h) and the plot (svg_plot.h).
//
//   matmodel::ModelReport r = matmodel::FitMaterialTable(
//       matmodel::ReadMaterialFile("examples/laminate.txt", {}), "Freq");
//   std::cout << matmodel::ReportToText(r);   // report/render.h
//
// Frequencies are in hertz; poles and residues in the plane of s = j*omega,
// omega in rad/s, as MaterialModeler reports them.
#ifndef MATMODEL_REPORT_REPORT_H
#define MATMODEL_REPORT_REPORT_H

#include <complex>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/material_file.h"
#include "modeler/FitEngine.h"
#include "report/conduction.h"

class MaterialModeler;

namespace matmodel {

/// The expressions' frequency variable when the caller names none: the host
/// simulator's own name for frequency.
inline constexpr char kDefaultVariable[] = "Freq";

/// The arguments of the single-point (wideband Debye) input.
struct SinglePoint {
    double dk = 0.0;
    double df = 0.0;
    double freq = 0.0;     ///< Hz, where dk and df were measured
    double maxFreq = 0.0;  ///< Hz, top of the synthesised table
    double sigma = 0.0;    ///< dc conductivity, S/m
    double dcDk = 0.0;     ///< Dk at 0 Hz; 0 selects the modeler's default
};

/// How to fit: the expressions' variable and what the user asks of the model.
struct FitOptions {
    std::string variable = kDefaultVariable;
    /// Fit the measured Dk as it is, without the Kramers-Kronig correction.
    bool measuredDk = false;
    /// The largest relative Dk and Df error to stop at (0.005 for 0.5 %); 0
    /// leaves the order to the engine's own RMS target.
    double targetError = 0.0;
    /// The largest number of poles.
    int maxOrder = 100;
    /// dc conductivity (S/m) to take out before the reconstruction; unset: an
    /// estimate when the loss rises toward dc like 1/f (table input only).
    std::optional<double> sigma;
};

/// The input could not be used (the modeler refused it, or the single-point
/// arguments make no sense). Exit status 2 in the tool.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The fit itself failed or gave unusable numbers. Exit status 1 in the tool.
class FitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct InputSummary {
    std::string source;    ///< the file's path, or "wideband" for a single point
    std::string kind;      ///< "loss_tangent", "conductivity" or "single_point"
    std::string format;    ///< the file's layout; empty for a single point
    std::string freqUnit;  ///< the file's frequency unit; empty for a single point
    bool header = false;
    bool reordered = false;  ///< the file was not in ascending frequency order
    std::size_t samples = 0;
    double minFreq = 0.0;
    double maxFreq = 0.0;
    std::optional<SinglePoint> point;
};

/// One real pole p < 0 with residue r, read as a Debye relaxation
/// delta / (1 + j f / fr): delta = r / |p|, fr = |p| / (2 pi).
/// A relaxation many decades below the lowest sample acts as 1/s at every
/// sample: dc conduction with sigma = r e0 (`conduction` set).
struct DebyeTerm {
    double deltaEps = 0.0;
    double relaxationHz = 0.0;
    double pole = 0.0;
    double residue = 0.0;
    bool conduction = false;
};

/// A complex-conjugate pair, given by its member with a positive imaginary
/// part (the other is the conjugate).
struct ComplexPair {
    std::complex<double> pole;
    std::complex<double> residue;
};

struct SampleRow {
    double freq = 0.0;
    double dkMeasured = 0.0;
    double dfMeasured = 0.0;  ///< as the modeler holds it (after its Df floor or conversion)
    double dkCausal = 0.0;    ///< the fit's Dk target: Kramers-Kronig corrected, or measured
    double dkFitted = 0.0;
    double dfFitted = 0.0;
};

/// The largest relative deviation over the samples and where it occurs.
struct WorstError {
    double relative = 0.0;
    double freq = 0.0;
};

/// Df >= 0 and Dk > 0 checked on a grid from 0 Hz to far above the band and
/// the model's relaxations.
struct PassivityCheck {
    bool passive = true;
    double minDf = 0.0;
    double minDfFreq = 0.0;
    double minDk = 0.0;
    double minDkFreq = 0.0;
    double fromHz = 0.0;
    double toHz = 0.0;
    std::size_t points = 0;
};

/// A band where the measured loss eps'' = Dk Df rises faster than f: each
/// Debye term's loss grows at most like f, so no sum of them follows it.
struct SteepLoss {
    double fromHz = 0.0;
    double toHz = 0.0;
    double exponent = 0.0;  ///< the loss grows like f^exponent across the band
};

/// Largest relative Dk or Df error of a usable fit.
inline constexpr double kMissedFit = 0.2;

struct ModelReport {
    InputSummary input;
    bool causalReconstruction = false;  ///< Dk was made causal before the fit
    std::size_t order = 0;
    double epsInf = 0.0;    ///< the residue at infinity
    double staticDk = 0.0;  ///< Dk of the model at 0 Hz, conduction terms left out
    double dcConductivity = 0.0;  ///< S/m carried by the conduction terms
    std::vector<std::complex<double>> poles;     ///< record order
    std::vector<std::complex<double>> residues;  ///< record order
    std::vector<DebyeTerm> debye;                ///< by relaxation frequency
    std::vector<ComplexPair> pairs;
    std::vector<SampleRow> rows;  ///< by frequency
    /// Fitted Dk against the Dk the fit was given (causal, or measured when
    /// the correction is off) and fitted Df against the measured Df. A fit
    /// that misses either by more than kMissedFit has failed.
    WorstError dkError;
    WorstError dfError;
    WorstError causalShift;       ///< Kramers-Kronig Dk vs measured
    EngineSummary engine;         ///< what the fitting engine says about its fit
    Conduction conduction;        ///< taken out before the reconstruction, put back in the model
    double targetError = 0.0;     ///< the caller's largest Dk and Df error, 0 for none
    std::vector<SteepLoss> steepLoss;  ///< bands no sum of relaxations can follow
    PassivityCheck passivity;
    std::string variable;
    std::string dkExpression;
    std::string dfExpression;
};

/// Fits a table read by ReadMaterialFile. Throws InputError or FitError.
/// When `fitted` is given, it receives a copy of the fitted modeler on
/// success (a binding keeps it to write the expressions in any variable).
ModelReport FitMaterialTable(const MaterialTable& table, const FitOptions& options = {},
                             MaterialModeler* fitted = nullptr);

/// Fits the single-point model. Throws InputError or FitError. `fitted` as
/// for FitMaterialTable; the Kramers-Kronig option does not apply.
ModelReport FitSinglePoint(const SinglePoint& point, const FitOptions& options = {},
                           MaterialModeler* fitted = nullptr);

/// "the engine stopped at order 9 with an RMS error of 0.53 % (target
/// 0.1 %): <its reason>".
std::string EngineNote(const EngineSummary& engine);

/// "the measured loss rises like f^2 from 1 THz to 10 THz, faster than any
/// sum of relaxations can follow".
std::string SteepLossNote(const SteepLoss& band);

/// The model's complex relative permittivity eps = Dk (1 - j Df) at `freqHz`.
std::complex<double> EvaluateModel(const ModelReport& report, double freqHz);

}  // namespace matmodel

#endif  // MATMODEL_REPORT_REPORT_H
